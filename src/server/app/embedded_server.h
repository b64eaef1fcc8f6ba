#pragma once
// The application server run inside another program (the desktop host's demo
// mode, tests): SQLite storage, both server objects, gRPC on loopback. Links the
// gRPC transport but exposes none of its headers.

#include <memory>
#include <string>

#include "server/auth/operators.h"
#include "server/exchange/demo.h"
#include "server/services/tally_service.h"

namespace apura::server {

struct EmbeddedServerOptions {
  std::string dbPath;                  // created when missing
  std::string listen = "127.0.0.1:0";  // port 0: a free port, see port()
  bool demo = true;                    // import the demo tally unless it is there
  DemoOptions demoOptions;
  // The demo tally as the caller made it already; generated when null.
  const TallyDocument* demoDocument = nullptr;
};

class EmbeddedServer {
 public:
  explicit EmbeddedServer(EmbeddedServerOptions options);
  ~EmbeddedServer();
  EmbeddedServer(const EmbeddedServer&) = delete;
  EmbeddedServer& operator=(const EmbeddedServer&) = delete;

  int port() const;
  std::string address() const;  // "127.0.0.1:PORT"
  const DemoOptions& demo() const { return options_.demoOptions; }
  TallyService& service();
  Sessions& sessions();
  // The session of the demo's buyer, opened at start: the program running the
  // server vouches for it, so no password is asked.
  const std::string& token() const;
  void Shutdown();

 private:
  struct Impl;
  EmbeddedServerOptions options_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace apura::server

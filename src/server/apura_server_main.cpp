// apura-server: the reference application server over gRPC.
//
//   apura-server --db FILE|postgresql://... [--listen HOST:PORT] [--demo] [--demo-rows N]
//                [--import TALLY.json] [--write-demo FILE.json]
//
// --db is a SQLite file, or a PostgreSQL address that several servers may share.
// --import and --write-demo do their work and exit unless --listen is given too;
// otherwise the server listens (127.0.0.1:50051 by default) until SIGINT or SIGTERM.

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include "rpc/grpc_transport.h"
#include "server/demo.h"
#include "server/open_storage.h"
#include "server/pg_storage.h"
#include "server/report_service.h"
#include "server/server_objects.h"
#include "server/tally_document.h"

namespace {

int Usage(const char* why) {
  if (why) std::cerr << "apura-server: " << why << "\n";
  std::cerr
      << "usage: apura-server --db FILE|postgresql://... [--listen HOST:PORT] [--demo]\n"
         "                    [--demo-rows N] [--import TALLY.json] [--write-demo FILE.json]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace apura::server;
  std::string db, listen, importFile, writeDemo;
  bool demo = false;
  size_t demoRows = 0;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char* name) -> std::string {
      if (i + 1 >= argc) {
        Usage((std::string(name) + " needs a value").c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--db")
      db = value("--db");
    else if (a == "--listen")
      listen = value("--listen");
    else if (a == "--demo")
      demo = true;
    else if (a == "--demo-rows") {
      std::string text = value("--demo-rows");
      char* end = nullptr;
      demoRows = std::strtoull(text.c_str(), &end, 10);
      if (text.empty() || *end != '\0' || text[0] == '-')
        return Usage(("--demo-rows takes a whole number, not " + text).c_str());
    } else if (a == "--import")
      importFile = value("--import");
    else if (a == "--write-demo")
      writeDemo = value("--write-demo");
    else if (a == "--help" || a == "-h")
      return Usage(nullptr), 0;
    else
      return Usage(("unknown option " + a).c_str());
  }
  bool serve = !listen.empty() || (importFile.empty() && writeDemo.empty());
  if (listen.empty()) listen = "127.0.0.1:50051";

  apura::rpc::TuneAllocatorForLargePackets();

  try {
    DemoOptions demoOptions = demoRows ? DemoOptions::ForDeliveryRows(demoRows) : DemoOptions{};
    if (!writeDemo.empty()) {
      WriteDocumentFile(GenerateDemo(demoOptions), writeDemo);
      std::cout << "wrote demo tally to " << writeDemo << "\n";
    }
    if (db.empty()) {
      if (serve || !importFile.empty()) return Usage("--db is required");
      return 0;
    }
    std::unique_ptr<IStorage> storage = OpenStorage(db);
    TallyService service(*storage);
    if (!importFile.empty()) {
      TallyDocument doc = ReadDocumentFile(importFile);
      service.Import(doc);
      std::cout << "imported tally " << doc.number << " of centre " << doc.centre.code << "\n";
    }
    if (demo) {
      if (!service.TallyExists(demoOptions.tally)) service.Import(GenerateDemo(demoOptions));
      std::cout << "demo: centre " << demoOptions.centre << ", tally " << demoOptions.tally << "\n";
    }
    if (!serve) return 0;

    // Until here a stop signal ends the program at once: an import is one
    // transaction, so nothing half-done stays. From here on the stop signals are
    // blocked before the server's threads start, so only the watcher below
    // receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    apura::rpc::ServerRegistry registry;
    RegisterServerObjects(registry, service);
    // Report definitions and their queries live in the SQLite file for now; on
    // PostgreSQL the report object is not offered, and the worksheet says so.
    std::unique_ptr<ReportService> reports;
    if (!IsPostgresAddress(db)) {
      reports = std::make_unique<ReportService>(db);
      RegisterReportObject(registry, *reports);
    } else {
      std::cout << "apura-server: reports are served only from SQLite storage" << std::endl;
    }
    apura::rpc::GrpcServer server(registry, listen);
    std::cout << "apura-server listening on " << server.address() << std::endl;

    std::thread watcher([&] {
      int sig = 0;
      sigwait(&stopSignals, &sig);
      std::cout << "apura-server: stopping (" << (sig == SIGINT ? "SIGINT" : "SIGTERM") << ")"
                << std::endl;
      server.Shutdown();
    });
    server.Wait();
    watcher.join();
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "apura-server: " << e.what() << "\n";
    return 1;
  }
}

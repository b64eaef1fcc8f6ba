#pragma once
// The team mix of bench_server_load (team.cpp).

#include <cstddef>
#include <string>

namespace apura::bench {

struct TeamOptions {
  std::string server;              // apura-server to start
  std::string storage = "sqlite";  // or "postgresql": a throwaway cluster
  bool viaNginx = false;           // two servers on PostgreSQL behind nginx
  double killAtSeconds = 0;        // with nginx: kill -9 one server then, and restart it
  int tallies = 12;
  size_t bigRows = 500000, smallRows = 50000;
  double seconds = 60;
  double thinkMs = 1000;
  double roundSeconds = 30;  // a buyer effectuates once per round, near its end
};

// Runs the mix and prints its figures; 1 when a call failed (besides those
// that overlapped a kill), 0 otherwise.
int RunTeam(const TeamOptions& options);

}  // namespace apura::bench

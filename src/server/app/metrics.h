#pragma once
// What a running server tells its operators about itself, in Prometheus' text
// format: per object and method the calls, the failures by error code and a
// histogram of the server's own time per call; and whatever gauges the server
// registers (tallies held, their packets' bytes, sessions, resident memory,
// writer waits). Names and labels come from the registry, never from what a
// caller typed, so a stranger cannot grow the page.

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "rpc/dispatch.h"

namespace apura::server {

class ServerMetrics {
 public:
  // Upper bounds of the time histogram's buckets, in seconds.
  static const std::vector<double>& Buckets();

  void Observe(const rpc::ServedCall& call);

  enum class Kind { Gauge, Counter };
  // A value read each time the page is asked for.
  void Add(std::string name, std::string help, Kind kind, std::function<double()> read);

  // The whole page.
  std::string Render() const;

 private:
  struct PerMethod {
    uint64_t calls = 0;
    std::map<ErrorCode, uint64_t> failures;
    std::vector<uint64_t> buckets;  // cumulative at render, counted per bucket here
    double seconds = 0;
  };
  struct Reading {
    std::string name, help;
    Kind kind;
    std::function<double()> read;
  };
  mutable std::mutex mutex_;
  std::map<std::pair<std::string, std::string>, PerMethod> methods_;
  std::vector<Reading> readings_;
};

// The resident memory of this process in bytes (0 where it cannot be read).
double ResidentBytes();

// Serves a ServerMetrics page at GET /metrics over plain HTTP on its own thread.
class MetricsEndpoint {
 public:
  // `listen` is HOST:PORT, or PORT alone for 127.0.0.1:PORT; port 0 takes a
  // free one. Throws naming the address when it cannot listen.
  MetricsEndpoint(const ServerMetrics& metrics, const std::string& listen);
  ~MetricsEndpoint();
  MetricsEndpoint(const MetricsEndpoint&) = delete;
  MetricsEndpoint& operator=(const MetricsEndpoint&) = delete;

  // host:port as bound.
  std::string address() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace apura::server

#include "server/app/metrics.h"

#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace apura::server {

namespace {

std::string Number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", v);
  return text;
}

std::string Escaped(const std::string& label) {
  std::string out;
  for (char c : label) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out;
}

void Header(std::string& out, const char* name, const char* help, const char* type) {
  out += "# HELP ";
  out += name;
  out += ' ';
  out += help;
  out += "\n# TYPE ";
  out += name;
  out += ' ';
  out += type;
  out += '\n';
}

}  // namespace

const std::vector<double>& ServerMetrics::Buckets() {
  // Fine where a worksheet's gestures live (tens of milliseconds), so that a
  // percentile read from them is close; coarse up to an effectuation's seconds.
  static const std::vector<double> kBuckets{0.001, 0.002, 0.003, 0.005, 0.0075, 0.01,  0.015, 0.02,
                                            0.03,  0.04,  0.05,  0.075, 0.1,    0.125, 0.15,  0.2,
                                            0.25,  0.3,   0.4,   0.5,   0.75,   1,     1.5,   2,
                                            3,     5,     7.5,   10,    20,     30,    60,    120};
  return kBuckets;
}

void ServerMetrics::Observe(const rpc::ServedCall& call) {
  const auto& bounds = Buckets();
  const size_t bucket = static_cast<size_t>(
      std::lower_bound(bounds.begin(), bounds.end(), call.seconds) - bounds.begin());
  std::lock_guard lock(mutex_);
  PerMethod& m = methods_[{call.object, call.method}];
  if (m.buckets.empty()) m.buckets.assign(bounds.size() + 1, 0);
  ++m.calls;
  ++m.buckets[bucket];
  m.seconds += call.seconds;
  if (call.code != ErrorCode::Ok) ++m.failures[call.code];
}

void ServerMetrics::Add(std::string name, std::string help, Kind kind,
                        std::function<double()> read) {
  std::lock_guard lock(mutex_);
  readings_.push_back({std::move(name), std::move(help), kind, std::move(read)});
}

std::string ServerMetrics::Render() const {
  std::map<std::pair<std::string, std::string>, PerMethod> methods;
  std::vector<Reading> readings;
  {
    std::lock_guard lock(mutex_);
    methods = methods_;
    readings = readings_;
  }
  auto labels = [](const std::pair<std::string, std::string>& names) {
    auto shown = [](const std::string& s) { return s.empty() ? std::string("(unknown)") : s; };
    return "object=\"" + Escaped(shown(names.first)) + "\",method=\"" +
           Escaped(shown(names.second)) + "\"";
  };
  std::string out;
  Header(out, "apura_calls_total", "Calls answered, per object and method.", "counter");
  for (const auto& [names, m] : methods)
    out += "apura_calls_total{" + labels(names) + "} " + std::to_string(m.calls) + "\n";
  Header(out, "apura_call_failures_total",
         "Calls answered with a failure, per object, method and error code.", "counter");
  for (const auto& [names, m] : methods)
    for (const auto& [code, n] : m.failures)
      out += "apura_call_failures_total{" + labels(names) + ",code=\"" + ErrorCodeName(code) +
             "\"} " + std::to_string(n) + "\n";
  Header(out, "apura_call_seconds",
         "The server's own time per call, from the request's bytes to its reply ready to send.",
         "histogram");
  const auto& bounds = Buckets();
  for (const auto& [names, m] : methods) {
    const std::string l = labels(names);
    uint64_t cumulative = 0;
    for (size_t b = 0; b <= bounds.size(); ++b) {
      cumulative += m.buckets[b];
      out += "apura_call_seconds_bucket{" + l + ",le=\"" +
             (b < bounds.size() ? Number(bounds[b]) : std::string("+Inf")) + "\"} " +
             std::to_string(cumulative) + "\n";
    }
    out += "apura_call_seconds_sum{" + l + "} " + Number(m.seconds) + "\n";
    out += "apura_call_seconds_count{" + l + "} " + std::to_string(m.calls) + "\n";
  }
  for (const Reading& r : readings) {
    double value = 0;
    try {
      value = r.read();
    } catch (const std::exception&) {
      continue;  // a reading that fails (the database away) is left out, not made up
    }
    Header(out, r.name.c_str(), r.help.c_str(), r.kind == Kind::Gauge ? "gauge" : "counter");
    out += r.name + " " + Number(value) + "\n";
  }
  return out;
}

double ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  if (!(statm >> pages >> resident)) return 0;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

struct MetricsEndpoint::Impl {
  httplib::Server http;
  std::string host;
  int port = 0;
  std::thread thread;
};

MetricsEndpoint::MetricsEndpoint(const ServerMetrics& metrics, const std::string& listen)
    : impl_(std::make_unique<Impl>()) {
  std::string host = "127.0.0.1", port = listen;
  if (auto colon = listen.rfind(':'); colon != std::string::npos) {
    host = listen.substr(0, colon);
    port = listen.substr(colon + 1);
  }
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  char* end = nullptr;
  const long number = std::strtol(port.c_str(), &end, 10);
  if (host.empty() || port.empty() || *end != '\0' || number < 0 || number > 65535)
    throw std::invalid_argument("metrics address \"" + listen + "\" is not HOST:PORT or PORT");
  impl_->host = host;
  impl_->http.Get("/metrics", [&metrics](const httplib::Request&, httplib::Response& res) {
    res.set_content(metrics.Render(), "text/plain; version=0.0.4; charset=utf-8");
  });
  // Two threads are plenty for a scraper or two, and bound what a flood costs.
  impl_->http.new_task_queue = [] { return new httplib::ThreadPool(2); };
  impl_->http.set_read_timeout(5, 0);
  impl_->http.set_write_timeout(5, 0);
  if (number == 0) {
    impl_->port = impl_->http.bind_to_any_port(host);
  } else if (impl_->http.bind_to_port(host, static_cast<int>(number))) {
    impl_->port = static_cast<int>(number);
  }
  if (impl_->port <= 0) throw std::runtime_error("cannot serve metrics on " + listen);
  impl_->thread = std::thread([impl = impl_.get()] { impl->http.listen_after_bind(); });
  // A stop before the listening loop runs would be missed and the thread never end.
  while (!impl_->http.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

MetricsEndpoint::~MetricsEndpoint() {
  impl_->http.stop();
  impl_->thread.join();
}

std::string MetricsEndpoint::address() const {
  const bool v6 = impl_->host.find(':') != std::string::npos;
  return (v6 ? "[" + impl_->host + "]" : impl_->host) + ":" + std::to_string(impl_->port);
}

}  // namespace apura::server

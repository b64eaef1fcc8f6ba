// bench_server_load: starts apura-server on a generated tally, runs a team's mix
// of calls against it over loopback for a fixed time, and prints calls per second,
// failures and p50/p99 per method, and the server's peak memory.
//
//   bench_server_load [--rows N] [--seconds S] [--db postgresql://...]
//                     [--readers N] [--writers N] [--think-ms T] [--server PATH]
//   bench_server_load --team N [--storage sqlite|postgresql] [--via nginx [--kill-at S]]
//                     [--seconds S] [--think-ms T] [--round-seconds S] [--team-rows BIG,SMALL]
//
// The first form is a stress mix: 17 clients on one tally, an effectuation
// every few seconds. --team is a team's day (team.cpp): one buyer per tally.
//
// Without --think-ms every client calls again as soon as it has its answer: the
// server is saturated, and a call's time is mostly its turn among the others.
// With it, each client pauses a random time of mean T between calls, as a buyer
// reading the screen would; the figures then say what a call costs under a
// team's load rather than how long the queue is.
//
// Without --db the server gets a fresh SQLite file in a temporary folder. The
// smoke run of every benchmark program (--benchmark_list_tests / _filter) runs the
// smallest mix for two seconds.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "framework/packet.h"
#include "load_support.h"
#include "rpc/grpc_transport.h"
#include "team.h"

namespace {

using apura::bench::ChangePacket;
using apura::bench::GeraArgs;
using apura::bench::Pause;
using apura::bench::Percentile;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using apura::ByRef;
using apura::ByVal;
using apura::CallArg;
using apura::Value;

constexpr const char* kGrid = "Prq05001.rdmPlanApurNegGrid";

struct Options {
  size_t rows = 500000;
  double seconds = 40;
  std::string db, server;
  int readers = 12, writers = 4;
  double thinkMs = 0;
};

struct Stats {
  std::mutex mutex;
  std::map<std::string, std::vector<double>> ms;
  std::map<std::string, int> failures;
  std::map<std::string, std::string> firstFailure;
  void Add(const std::string& method, double millis, const std::string& failure) {
    std::lock_guard lock(mutex);
    ms[method].push_back(millis);
    if (!failure.empty()) {
      if (failures[method]++ == 0) firstFailure[method] = failure;
    }
  }
};

// The server as a child process; its address read from what it prints.
class ServerProcess {
 public:
  ServerProcess(const Options& o, const std::string& db, const std::string& operatorsDb) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      std::string rows = std::to_string(o.rows);
      std::vector<const char*> args{o.server.c_str(), "--db",   db.c_str(),    "--listen",
                                    "127.0.0.1:0",    "--demo", "--demo-rows", rows.c_str()};
      if (!operatorsDb.empty()) {
        args.push_back("--operators");
        args.push_back(operatorsDb.c_str());
      }
      args.push_back(nullptr);
      execv(o.server.c_str(), const_cast<char* const*>(args.data()));
      std::perror("exec apura-server");
      _exit(127);
    }
    close(out[1]);
    FILE* f = fdopen(out[0], "r");
    char line[512];
    while (fgets(line, sizeof line, f)) {
      std::string s = line;
      const std::string demo = "demo: operator ", pass = ", password ";
      if (s.rfind(demo, 0) == 0 && s.find(pass) != std::string::npos) {
        auto at = s.find(pass);
        operator_ = s.substr(demo.size(), at - demo.size());
        password_ = s.substr(at + pass.size());
        while (!password_.empty() && (password_.back() == '\n' || password_.back() == '\r'))
          password_.pop_back();
        continue;
      }
      const std::string tag = "apura-server listening on ";
      if (s.rfind(tag, 0) == 0) {
        address_ = s.substr(tag.size());
        while (!address_.empty() && (address_.back() == '\n' || address_.back() == '\r'))
          address_.pop_back();
        break;
      }
    }
    // The rest of its output is not needed, but it must not block on a full pipe.
    drain_ = std::thread([f] {
      char buf[512];
      while (fgets(buf, sizeof buf, f)) {
      }
      fclose(f);
    });
    if (address_.empty()) throw std::runtime_error("apura-server did not start");
  }
  ~ServerProcess() {
    kill(pid_, SIGTERM);
    int st = 0;
    waitpid(pid_, &st, 0);
    drain_.join();
  }
  const std::string& address() const { return address_; }
  // The demo operator the server added; empty when it existed already.
  const std::string& operatorCode() const { return operator_; }
  const std::string& password() const { return password_; }
  // Peak resident memory so far, in MiB.
  double PeakMiB() const {
    std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
    std::string key;
    while (in >> key) {
      if (key == "VmHWM:") {
        double kb = 0;
        in >> kb;
        return kb / 1024;
      }
      in.ignore(1 << 20, '\n');
    }
    return 0;
  }

 private:
  pid_t pid_ = -1;
  std::string address_, operator_, password_;
  std::thread drain_;
};

struct QuoteKey {
  std::string product, collection, supplier, brand, region;
  double price = 1;
};

// One call, timed; a failure envelope or a transport error counts as failed. The
// figure is kept under `label` when given, else under the method's name.
void Timed(apura::ITransport& t, Stats& stats, const std::string& method,
           const std::vector<CallArg>& args, const std::string& label = "") {
  auto start = Clock::now();
  std::string failure;
  try {
    Value env = t.Invoke(kGrid, method, args);
    if (!env.AsArray()[0].AsBoolean()) failure = env.AsArray()[1].ToText();
  } catch (const std::exception& e) {
    failure = e.what();
  }
  double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  stats.Add(label.empty() ? method : label, ms, failure);
}

// What a packet's columns take in memory: the size the server's memory is
// measured against.
double PacketMiB(const apura::DataPacket& p) {
  size_t bytes = 0;
  for (size_t c = 0; c < p.fields().size(); ++c) {
    const apura::ColumnData& d = p.column(c);
    bytes += d.dictBytes.size() + d.dictOffsets.size() * sizeof(uint32_t) +
             d.codes.size() * sizeof(int32_t) + d.numbers.size() * sizeof(double) +
             d.nullBits.size() * sizeof(uint64_t);
  }
  return static_cast<double>(bytes) / (1 << 20);
}

// The effectuation writer's round: an effectuation ordering every chosen row
// with a change packet of 1,000 of them; the other change packet applied while
// everything is on order already, which writes only its rows; the AFs undone.
constexpr const char* kChangeOnly = "change 1000 rows";

std::unique_ptr<apura::ITransport> Connect(const std::string& address) {
  apura::rpc::GrpcClientOptions o;
  o.callTimeoutSeconds = 60;
  auto t = apura::rpc::MakeGrpcTransport(o);
  auto colon = address.rfind(':');
  t->Connect(address.substr(0, colon), std::stoi(address.substr(colon + 1)));
  return t;
}

int Usage(const char* why) {
  if (why) std::cerr << "bench_server_load: " << why << "\n";
  std::cerr << "usage: bench_server_load [--rows N] [--seconds S] [--db postgresql://...]\n"
               "                         [--readers N] [--writers N] [--think-ms T]\n"
               "                         [--server PATH]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  o.server = (fs::path(argv[0]).parent_path() / "apura-server").string();
  apura::bench::TeamOptions team;
  // The smoke run names both figures in one filter: each one named runs.
  bool teamMode = false, smokeTeam = false, stressToo = true;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        Usage((a + " needs a value").c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--benchmark_list_tests=true") {
      std::cout << "ServerLoad/2000\nTeamLoad/3\n";
      return 0;
    } else if (a.rfind("--benchmark_", 0) == 0) {
      o.rows = 2000;
      o.seconds = 2;
      o.readers = 2;
      o.writers = 1;
      if (a.find("TeamLoad") != std::string::npos) {
        teamMode = smokeTeam = true;
        stressToo = a.find("ServerLoad") != std::string::npos;
        team.tallies = 3;
        team.bigRows = 3000;
        team.smallRows = 1000;
        team.roundSeconds = 2;
        team.seconds = 5;
        team.thinkMs = 100;
      }
    } else if (a == "--team") {
      teamMode = true;
      team.tallies = std::atoi(value().c_str());
    } else if (a == "--storage") {
      team.storage = value();
    } else if (a == "--via") {
      if (value() != "nginx") return Usage("--via takes nginx");
      team.viaNginx = true;
    } else if (a == "--kill-at") {
      team.killAtSeconds = std::strtod(value().c_str(), nullptr);
    } else if (a == "--round-seconds") {
      team.roundSeconds = std::strtod(value().c_str(), nullptr);
    } else if (a == "--team-rows") {
      const std::string v = value();
      team.bigRows = std::strtoull(v.c_str(), nullptr, 10);
      const auto comma = v.find(',');
      team.smallRows = comma == std::string::npos
                           ? team.bigRows / 10
                           : std::strtoull(v.c_str() + comma + 1, nullptr, 10);
    } else if (a == "--rows") {
      o.rows = std::strtoull(value().c_str(), nullptr, 10);
    } else if (a == "--seconds") {
      o.seconds = std::strtod(value().c_str(), nullptr);
    } else if (a == "--db") {
      o.db = value();
    } else if (a == "--readers") {
      o.readers = std::atoi(value().c_str());
    } else if (a == "--writers") {
      o.writers = std::atoi(value().c_str());
    } else if (a == "--think-ms") {
      o.thinkMs = std::strtod(value().c_str(), nullptr);
    } else if (a == "--server") {
      o.server = value();
    } else {
      return Usage(("unknown option " + a).c_str());
    }
  }
  if (o.rows == 0 || !(o.seconds > 0) || o.seconds > 3600 || o.readers < 0 || o.writers < 0 ||
      !(o.thinkMs >= 0) || o.thinkMs > 600000) {
    return Usage(
        "--rows, --seconds (at most 3600), --readers, --writers and --think-ms (at most 600000) "
        "take positive numbers");
  }
  apura::rpc::TuneAllocatorForLargePackets();
  if (teamMode) {
    if (team.tallies < 1 || team.tallies > 200 || team.bigRows == 0 || team.smallRows == 0 ||
        (team.storage != "sqlite" && team.storage != "postgresql"))
      return Usage("--team takes 1 to 200 tallies, --storage sqlite or postgresql");
    team.server = o.server;
    if (!smokeTeam) {
      team.seconds = o.seconds;
      team.thinkMs = o.thinkMs > 0 ? o.thinkMs : team.thinkMs;
      stressToo = false;
    }
    try {
      const int teamStatus = apura::bench::RunTeam(team);
      if (teamStatus != 0 || !stressToo) return teamStatus;
    } catch (const std::exception& e) {
      std::cerr << "bench_server_load: " << e.what() << "\n";
      return 1;
    }
  }

  // The folder holds the SQLite tally, or with PostgreSQL the operators' file
  // the server then needs; a fresh one each run so the demo operator is new and
  // its password printed.
  char tmpl[] = "/tmp/apura-load-XXXXXX";
  if (!mkdtemp(tmpl)) return Usage("cannot make a temporary folder");
  fs::path dir = tmpl;
  std::string db = o.db, operatorsDb;
  if (db.empty())
    db = (dir / "load.db").string();
  else
    operatorsDb = (dir / "operators.db").string();
  int status = 0;
  try {
    auto loadStart = Clock::now();
    ServerProcess server(o, db, operatorsDb);
    std::cout << "server " << server.address() << " on " << (o.db.empty() ? "SQLite" : "PostgreSQL")
              << ", " << o.rows << " rows, ready in "
              << std::chrono::duration<double>(Clock::now() - loadStart).count() << " s; "
              << o.readers << " readers, " << o.writers << " price writers, 1 effectuation writer, "
              << (o.thinkMs > 0 ? "pausing " + std::to_string(static_cast<int>(o.thinkMs)) +
                                      " ms on average between calls\n"
                                : "calling back to back\n");

    if (server.password().empty())
      throw std::runtime_error("apura-server printed no demo operator's password");
    auto setup = Connect(server.address());
    // Every call after this carries the session (the process-wide token).
    Value login =
        setup->Invoke("Apura.Sessao", "Login",
                      {ByVal(Value(server.operatorCode())), ByVal(Value(server.password()))});
    if (!login.AsArray()[0].AsBoolean())
      throw std::runtime_error("Login: " + login.AsArray()[1].ToText());
    apura::rpc::SetClientSessionToken(login.AsArray()[1].AsArray()[0].ToText());
    std::vector<CallArg> tally{ByRef(Value("0001")), ByRef(Value("1234"))};
    Value lines = setup->Invoke(kGrid, "GetApurNeg", tally);
    if (!lines.AsArray()[0].AsBoolean()) throw std::runtime_error(lines.AsArray()[1].ToText());
    const apura::DataPacket& neg = lines.AsArray()[1].AsPacket();
    auto col = [&](const char* name) { return static_cast<size_t>(neg.FieldIndex(name)); };
    std::vector<QuoteKey> quotes;
    for (size_t r = 0; r < neg.RowCount(); ++r) {
      quotes.push_back({std::string(neg.Text(col("CDPRODITMAP"), r)),
                        std::string(neg.Text(col("NRCOLEITMAP"), r)),
                        std::string(neg.Text(col("CDFORNITMAP"), r)),
                        std::string(neg.Text(col("CDMARCITMAP"), r)),
                        std::string(neg.Text(col("CDREGITMAP"), r)),
                        neg.Number(col("VRPRECUNIAP"), r)});
    }
    if (quotes.empty()) throw std::runtime_error("the demo tally has no quotation lines");

    Stats alone, loaded;
    // GetDados alone first: the figure load is compared with.
    for (int k = 0; k < 10; ++k) Timed(*setup, alone, "GetDados", tally);
    Timed(*setup, loaded, "MelhorCotacao",
          {ByRef(Value("0001")), ByRef(Value("1234")), ByRef(Value("PRQ")), ByRef(Value("F"))});
    // The effectuations carry a change packet of 1,000 chosen rows, as a buyer's
    // adjustments would; alone first, for the figure load is compared with.
    Value dados = setup->Invoke(kGrid, "GetDados", tally);
    if (!dados.AsArray()[0].AsBoolean()) throw std::runtime_error(dados.AsArray()[1].ToText());
    const Value changes[2] = {ChangePacket(dados.AsArray()[1].AsPacket(), 1000, 1),
                              ChangePacket(dados.AsArray()[1].AsPacket(), 1000, 0)};
    const double packetMiB = PacketMiB(dados.AsArray()[1].AsPacket());
    dados = Value();
    for (int k = 0; k < 3; ++k) {
      Timed(*setup, alone, "Gera_AF", GeraArgs("1234", changes[k % 2]));
      Timed(*setup, alone, "Gera_AF", GeraArgs("1234", changes[(k + 1) % 2]), kChangeOnly);
      Timed(*setup, alone, "ExcluiAF", {ByVal(Value("0101")), ByRef(Value("1234"))});
    }

    std::atomic<bool> stop{false};
    std::vector<std::thread> clients;
    for (int r = 0; r < o.readers; ++r) {
      clients.emplace_back([&, r] {
        auto t = Connect(server.address());
        Pause pause(o.thinkMs, static_cast<unsigned>(100 + r));
        pause(stop);  // buyers do not all start in the same instant
        for (int k = r; !stop; ++k) {
          Timed(*t, loaded, k % 2 ? "GetItmApurPrec" : "GetDados", tally);
          pause(stop);
        }
      });
    }
    for (int w = 0; w < o.writers; ++w) {
      clients.emplace_back([&, w] {
        auto t = Connect(server.address());
        std::mt19937 rng(static_cast<unsigned>(w + 1));
        Pause pause(o.thinkMs, static_cast<unsigned>(200 + w));
        pause(stop);
        while (!stop) {
          const QuoteKey& q = quotes[rng() % quotes.size()];
          double price =
              (q.price > 0 ? q.price : 1) * (0.95 + 0.1 * static_cast<double>(rng() % 100) / 100);
          Timed(*t, loaded, "AtuaPrecEco",
                {ByVal(Value("0001")), ByVal(Value(q.product)), ByVal(Value(q.collection)),
                 ByVal(Value(q.supplier)), ByVal(Value(q.brand)), ByVal(Value(q.region)),
                 ByVal(Value(price)), ByVal(Value("1234"))});
          pause(stop);
        }
      });
    }
    clients.emplace_back([&] {
      auto t = Connect(server.address());
      Pause pause(o.thinkMs, 300);
      pause(stop);
      for (int k = 0; !stop; ++k) {
        Timed(*t, loaded, "Gera_AF", GeraArgs("1234", changes[k % 2]));
        pause(stop);
        Timed(*t, loaded, "Gera_AF", GeraArgs("1234", changes[(k + 1) % 2]), kChangeOnly);
        pause(stop);
        Timed(*t, loaded, "ExcluiAF", {ByVal(Value("0101")), ByRef(Value("1234"))});
        pause(stop);
      }
    });
    auto runStart = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(o.seconds));
    stop = true;
    for (auto& c : clients) c.join();
    double elapsed = std::chrono::duration<double>(Clock::now() - runStart).count();

    int total = 0, failed = 0;
    for (auto& [method, text] : alone.firstFailure)
      std::printf("first failure of %s alone: %s\n", method.c_str(), text.c_str());
    std::printf("%-24s %8s %8s %10s %10s %10s\n", "method", "calls", "failed", "calls/s", "p50 ms",
                "p99 ms");
    for (const char* m : {"GetDados", "Gera_AF", kChangeOnly, "ExcluiAF"}) {
      std::printf("%-24s %8zu %8d %10s %10.1f %10.1f\n", (std::string(m) + " alone").c_str(),
                  alone.ms[m].size(), alone.failures[m], "-", Percentile(alone.ms[m], 0.5),
                  Percentile(alone.ms[m], 0.99));
      failed += alone.failures[m];
    }
    for (auto& [method, v] : loaded.ms) {
      total += static_cast<int>(v.size());
      failed += loaded.failures[method];
      std::printf("%-24s %8zu %8d %10.1f %10.1f %10.1f\n", method.c_str(), v.size(),
                  loaded.failures[method], static_cast<double>(v.size()) / elapsed,
                  Percentile(v, 0.5), Percentile(v, 0.99));
    }
    const double peak = server.PeakMiB();
    std::printf(
        "all: %.1f calls/s, %d failed; server peak memory %.0f MiB, %.1f times the delivery "
        "packet's %.0f MiB\n",
        static_cast<double>(total) / elapsed, failed, peak, peak / packetMiB, packetMiB);
    for (auto& [method, text] : loaded.firstFailure) {
      std::printf("first failure of %s: %s\n", method.c_str(), text.c_str());
    }
    status = failed ? 1 : 0;
  } catch (const std::exception& e) {
    std::cerr << "bench_server_load: " << e.what() << "\n";
    status = 1;
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return status;
}

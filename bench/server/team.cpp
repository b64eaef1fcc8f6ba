// bench_server_load --team N: a purchasing team's day. N tallies (one of about
// 500,000 delivery rows, the others of about 50,000), one buyer per tally for
// the whole run: reads with think time, price corrections, and near the end of
// each round an effectuation carrying the buyer's manual choices as a change
// packet, then ExcluiAF so that rounds go on. Prints per method what the
// clients saw and what the server measured (its metrics page), and the
// server's memory against the packets of the tallies it holds.
//
// Storage: a fresh SQLite file, or (--storage postgresql) a throwaway
// PostgreSQL cluster; --via nginx puts two servers behind nginx on it, and
// --kill-at S kills one of them with SIGKILL S seconds into the mix and starts
// it again. Everything is started and stopped here, on loopback.

#include "team.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "framework/packet.h"
#include "load_support.h"
#include "rpc/grpc_transport.h"
#include "server/auth/operators.h"
#include "server/exchange/demo.h"
#include "server/services/tally_service.h"
#include "server/storage/open_storage.h"

namespace apura::bench {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using apura::ByRef;
using apura::ByVal;
using apura::CallArg;
using apura::Value;

constexpr const char* kGrid = "Prq05001.rdmPlanApurNegGrid";
constexpr const char* kOperator = "EQUIPE";
// Long and random enough for the server's password check.
constexpr const char* kPassword = "Carga-da-equipe-7Qm2xV9pLk";

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

// A program started here; stopped (SIGTERM, then waited for) when destroyed.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const fs::path& log) {
    pid_ = fork();
    if (pid_ == 0) {
      FILE* out = std::fopen(log.c_str(), "w");
      if (out) {
        dup2(fileno(out), 1);
        dup2(fileno(out), 2);
      }
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execvp(args[0], args.data());
      std::perror(args[0]);
      _exit(127);
    }
    log_ = log;
  }
  ~Child() { Stop(SIGTERM); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  void Stop(int sig) {
    if (pid_ <= 0) return;
    kill(pid_, sig);
    int st = 0;
    waitpid(pid_, &st, 0);
    pid_ = -1;
  }
  pid_t pid() const { return pid_; }
  // The first line of the log that starts with `tag`, without the tag; waits
  // for it up to `seconds`.
  std::string WaitFor(const std::string& tag, double seconds) const {
    auto until = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(seconds));
    while (Clock::now() < until) {
      std::ifstream in(log_);
      std::string line;
      while (std::getline(in, line))
        if (line.rfind(tag, 0) == 0) return Trim(line.substr(tag.size()));
      int st = 0;
      if (pid_ > 0 && waitpid(pid_, &st, WNOHANG) == pid_) {
        const_cast<Child*>(this)->pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::ifstream in(log_);
    std::stringstream all;
    all << in.rdbuf();
    throw std::runtime_error("no \"" + tag + "\" from " + log_.string() + ": " + all.str());
  }
  double PeakMiB() const { return Status("VmHWM:"); }
  double ResidentMiB() const { return Status("VmRSS:"); }

 private:
  double Status(const std::string& field) const {
    std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
    std::string key;
    while (in >> key) {
      if (key == field) {
        double kb = 0;
        in >> kb;
        return kb / 1024;
      }
      in.ignore(1 << 20, '\n');
    }
    return 0;
  }
  pid_t pid_ = -1;
  fs::path log_;
};

int Run(const std::string& command) {
  return std::system(command.c_str());
}

// A PostgreSQL cluster of its own in the run's folder, reached by socket.
class Cluster {
 public:
  explicit Cluster(const fs::path& dir) : dir_(dir) {
    std::string bin;
    for (const auto& e : fs::directory_iterator("/usr/lib/postgresql"))
      if (fs::exists(e.path() / "bin/initdb") && e.path().string() > bin) bin = e.path().string();
    if (bin.empty())
      throw std::runtime_error("no PostgreSQL server programs; run scripts/setup.sh");
    bin_ = bin + "/bin";
    // initdb refuses root: the cluster then belongs to nobody.
    if (getuid() == 0) {
      as_ = "runuser -u nobody -- ";
      Run("chown nobody '" + dir_.string() + "'");
    }
    if (Run(as_ + bin_ + "/initdb -D '" + (dir_ / "data").string() +
            "' -U apura --auth=trust --locale=C -E UTF8 --no-sync >'" +
            (dir_ / "initdb.log").string() + "' 2>&1") != 0)
      throw std::runtime_error("initdb failed; see " + (dir_ / "initdb.log").string());
    if (Run(as_ + bin_ + "/pg_ctl -D '" + (dir_ / "data").string() + "' -l '" +
            (dir_ / "pg.log").string() + "' -w -o \"-c listen_addresses='' -k " + dir_.string() +
            " -c fsync=off -c synchronous_commit=off -c max_connections=200\" start >/dev/null") !=
        0)
      throw std::runtime_error("the cluster did not start; see " + (dir_ / "pg.log").string());
    started_ = true;
  }
  ~Cluster() {
    if (started_)
      Run(as_ + bin_ + "/pg_ctl -D '" + (dir_ / "data").string() +
          "' -m immediate stop >/dev/null 2>&1");
  }
  std::string Address() const { return "postgresql://apura@/postgres?host=" + dir_.string(); }

 private:
  fs::path dir_;
  std::string bin_, as_;
  bool started_ = false;
};

struct Quote {
  std::string product, collection, supplier, brand, region;
  double price = 1;
};

// What the clients saw: milliseconds per method.
struct Seen {
  std::mutex mutex;
  std::map<std::string, std::vector<double>> ms;
  std::map<std::string, int> failures, failuresAtKill;
  std::map<std::string, std::string> firstFailure;
};

// A method's time histogram as a server's metrics page gives it, summed over
// servers: upper bounds in seconds and cumulative counts.
struct Histogram {
  std::map<double, double> cumulative;
  double count = 0;
  // The p-quantile in milliseconds, linear within the bucket it falls in.
  double Quantile(double p) const {
    if (count <= 0) return 0;
    const double rank = p * count;
    double lowerBound = 0, lowerCount = 0;
    for (const auto& [le, n] : cumulative) {
      if (n >= rank) {
        if (std::isinf(le)) return lowerBound * 1000;
        const double share = n > lowerCount ? (rank - lowerCount) / (n - lowerCount) : 1;
        return (lowerBound + (le - lowerBound) * share) * 1000;
      }
      lowerBound = le;
      lowerCount = n;
    }
    return lowerBound * 1000;
  }
};

struct Scrape {
  std::map<std::string, Histogram> methods;  // worksheet methods by name
  std::map<std::string, double> values;      // unlabelled lines
};

Scrape Fetch(const std::string& metricsUrl) {
  const std::string cmd = "curl -sf --max-time 10 '" + metricsUrl + "'";
  Scrape s;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return s;
  char buf[4096];
  std::string all;
  while (size_t n = fread(buf, 1, sizeof buf, p)) all.append(buf, n);
  pclose(p);
  std::istringstream in(all);
  std::string line;
  const std::string bucket =
      "apura_call_seconds_bucket{object=\"" + std::string(kGrid) + "\",method=\"";
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line.rfind(bucket, 0) == 0) {
      const size_t m = bucket.size(), q = line.find('"', m);
      const std::string method = line.substr(m, q - m);
      const size_t le = line.find("le=\"", q) + 4, leEnd = line.find('"', le);
      const std::string bound = line.substr(le, leEnd - le);
      const double upper = bound == "+Inf" ? INFINITY : std::strtod(bound.c_str(), nullptr);
      const double n = std::strtod(line.substr(line.rfind(' ') + 1).c_str(), nullptr);
      s.methods[method].cumulative[upper] += n;
      if (std::isinf(upper)) s.methods[method].count += n;
    } else if (line.find('{') == std::string::npos) {
      const size_t sp = line.find(' ');
      s.values[line.substr(0, sp)] += std::strtod(line.substr(sp + 1).c_str(), nullptr);
    }
  }
  return s;
}

// What happened between two scrapes of one server. A server started again
// in between counts from zero, so its later page is the whole of it.
Histogram Between(const Scrape& before, const Scrape& after, const std::string& method) {
  auto b0 = before.methods.find(method), a0 = after.methods.find(method);
  if (a0 != after.methods.end() && b0 != before.methods.end() &&
      a0->second.count < b0->second.count)
    return a0->second;
  Histogram h;
  auto a = after.methods.find(method);
  if (a == after.methods.end()) return h;
  auto b = before.methods.find(method);
  for (const auto& [le, n] : a->second.cumulative) {
    double was = 0;
    if (b != before.methods.end()) {
      auto it = b->second.cumulative.find(le);
      if (it != b->second.cumulative.end()) was = it->second;
    }
    h.cumulative[le] = n - was;
  }
  h.count = a->second.count - (b != before.methods.end() ? b->second.count : 0);
  return h;
}

std::vector<CallArg> TallyArgs(const std::string& tally) {
  return {ByRef(Value("0001")), ByRef(Value(tally))};
}

std::unique_ptr<apura::ITransport> Connect(const std::string& address, std::string token) {
  apura::rpc::GrpcClientOptions o;
  o.callTimeoutSeconds = 120;
  o.sessionToken = [token] { return token; };
  auto t = apura::rpc::MakeGrpcTransport(o);
  auto colon = address.rfind(':');
  t->Connect(address.substr(0, colon), std::stoi(address.substr(colon + 1)));
  return t;
}

std::string Login(const std::string& address) {
  auto t = Connect(address, "");
  Value login =
      t->Invoke("Apura.Sessao", "Login", {ByVal(Value(kOperator)), ByVal(Value(kPassword))});
  if (!login.AsArray()[0].AsBoolean())
    throw std::runtime_error("Login: " + login.AsArray()[1].ToText());
  return login.AsArray()[1].AsArray()[0].ToText();
}

}  // namespace

int RunTeam(const TeamOptions& o) {
  char tmpl[] = "/tmp/apura-team-XXXXXX";
  if (!mkdtemp(tmpl)) throw std::runtime_error("cannot make a temporary folder");
  const fs::path dir = tmpl;
  int status = 0;
  try {
    const bool pg = o.storage == "postgresql" || o.viaNginx;
    std::unique_ptr<Cluster> cluster;
    std::string db = (dir / "team.db").string();
    if (pg) {
      cluster = std::make_unique<Cluster>(dir);
      db = cluster->Address();
    }
    // The team's tallies and its operator, stored before any server starts.
    std::vector<std::string> tallies;
    auto setupStart = Clock::now();
    {
      auto storage = apura::server::OpenStorage(db);
      apura::server::TallyService service(*storage);
      for (int i = 0; i < o.tallies; ++i) {
        apura::server::DemoOptions d =
            apura::server::DemoOptions::ForDeliveryRows(i == 0 ? o.bigRows : o.smallRows);
        d.tally = std::to_string(5001 + i);
        d.seed += static_cast<uint64_t>(i);
        service.Import(apura::server::GenerateDemo(d));
        tallies.push_back(d.tally);
      }
      apura::server::OperatorDirectory operators(*storage);
      apura::server::Operator team = apura::server::DemoBuyer();
      team.code = kOperator;
      team.name = "Equipe de compras";
      operators.Save(team, kPassword);
    }
    std::printf("%d tallies (%zu and %d × %zu delivery rows) on %s, stored in %.1f s\n", o.tallies,
                o.bigRows, o.tallies - 1, o.smallRows, pg ? "PostgreSQL" : "SQLite",
                std::chrono::duration<double>(Clock::now() - setupStart).count());

    // The servers, and nginx in front of two of them when asked.
    const int servers = o.viaNginx ? 2 : 1;
    std::vector<std::unique_ptr<Child>> procs(servers);
    std::vector<std::string> addresses(servers), metrics(servers);
    auto startServer = [&](int k, const std::string& listen) {
      procs[k] = std::make_unique<Child>(
          std::vector<std::string>{o.server, "--db", db, "--listen", listen, "--metrics", "0"},
          dir / ("server" + std::to_string(k) + ".log"));
      metrics[k] = procs[k]->WaitFor("apura-server metrics on ", 120);
      addresses[k] = procs[k]->WaitFor("apura-server listening on ", 120);
    };
    for (int k = 0; k < servers; ++k) startServer(k, "127.0.0.1:0");
    std::unique_ptr<Child> nginx;
    std::string address = addresses[0];
    if (o.viaNginx) {
      const int port = 20000 + static_cast<int>(getpid() % 20000);
      std::ofstream conf(dir / "nginx.conf");
      conf << "daemon off;\nworker_processes 1;\npid " << (dir / "nginx.pid").string()
           << ";\nerror_log " << (dir / "nginx-error.log").string()
           << " warn;\nevents { worker_connections 1024; }\nhttp {\n  access_log off;\n"
           << "  client_body_temp_path " << (dir / "body").string() << ";\n"
           << "  client_max_body_size 0;\n  upstream apura {\n";
      for (const std::string& a : addresses) conf << "    server " << a << " max_fails=0;\n";
      conf << "    keepalive 32;\n  }\n  server {\n    listen 127.0.0.1:" << port << " http2;\n"
           << "    location / {\n      grpc_pass grpc://apura;\n"
           << "      grpc_read_timeout 300s;\n      grpc_send_timeout 300s;\n"
           << "      grpc_next_upstream error timeout;\n    }\n  }\n}\n";
      conf.close();
      if (getuid() == 0) Run("chown -R nobody '" + dir.string() + "' 2>/dev/null");
      nginx = std::make_unique<Child>(
          std::vector<std::string>{"nginx", "-p", dir.string(), "-c", (dir / "nginx.conf").string(),
                                   "-e", (dir / "nginx-error.log").string()},
          dir / "nginx.log");
      address = "127.0.0.1:" + std::to_string(port);
      for (int i = 0; i < 100; ++i) {
        try {
          Connect(address, "");
          break;
        } catch (const std::exception&) {
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
      }
    }
    // One page per server.
    using Scrapes = std::vector<Scrape>;
    auto scrapeAll = [&] {
      Scrapes all;
      for (const std::string& m : metrics) all.push_back(Fetch(m));
      return all;
    };
    auto between = [](const Scrapes& before, const Scrapes& after, const std::string& method) {
      Histogram sum;
      for (size_t k = 0; k < after.size(); ++k) {
        Histogram one = Between(before[k], after[k], method);
        for (auto& [le, n] : one.cumulative) sum.cumulative[le] += n;
        sum.count += one.count;
      }
      return sum;
    };
    auto value = [](const Scrapes& pages, const std::string& name) {
      double v = 0;
      for (const Scrape& s : pages) {
        auto it = s.values.find(name);
        if (it != s.values.end()) v += it->second;
      }
      return v;
    };

    // Every buyer's tally tallied, and its choices as a change packet.
    const std::string token = Login(address);
    std::vector<Value> choices(tallies.size());
    std::vector<std::vector<Quote>> quotes(tallies.size());
    {
      auto t = Connect(address, token);
      for (size_t i = 0; i < tallies.size(); ++i) {
        Value best = t->Invoke(kGrid, "MelhorCotacao",
                               {ByRef(Value("0001")), ByRef(Value(tallies[i])), ByRef(Value("PRQ")),
                                ByRef(Value("F"))});
        if (!best.AsArray()[0].AsBoolean())
          throw std::runtime_error("MelhorCotacao: " + best.AsArray()[1].ToText());
        Value dados = t->Invoke(kGrid, "GetDados", TallyArgs(tallies[i]));
        if (!dados.AsArray()[0].AsBoolean())
          throw std::runtime_error("GetDados: " + dados.AsArray()[1].ToText());
        choices[i] = ChangePacket(dados.AsArray()[1].AsPacket(), 1000, 1);
        Value lines = t->Invoke(kGrid, "GetApurNeg", TallyArgs(tallies[i]));
        const apura::DataPacket& neg = lines.AsArray()[1].AsPacket();
        auto col = [&](const char* name) { return static_cast<size_t>(neg.FieldIndex(name)); };
        for (size_t r = 0; r < neg.RowCount(); ++r)
          quotes[i].push_back({std::string(neg.Text(col("CDPRODITMAP"), r)),
                               std::string(neg.Text(col("NRCOLEITMAP"), r)),
                               std::string(neg.Text(col("CDFORNITMAP"), r)),
                               std::string(neg.Text(col("CDMARCITMAP"), r)),
                               std::string(neg.Text(col("CDREGITMAP"), r)),
                               neg.Number(col("VRPRECUNIAP"), r)});
        if (quotes[i].empty()) throw std::runtime_error("tally " + tallies[i] + " has no quotes");
      }
    }

    // A price correction of one of the tally's quotation lines, 5 % either side.
    auto priceEdit = [&](size_t i, std::mt19937& rng) {
      const Quote& q = quotes[i][rng() % quotes[i].size()];
      const double price =
          (q.price > 0 ? q.price : 1) * (0.95 + 0.1 * static_cast<double>(rng() % 100) / 100);
      return std::vector<CallArg>{ByVal(Value("0001")),       ByVal(Value(q.product)),
                                  ByVal(Value(q.collection)), ByVal(Value(q.supplier)),
                                  ByVal(Value(q.brand)),      ByVal(Value(q.region)),
                                  ByVal(Value(price)),        ByVal(Value(tallies[i]))};
    };

    // Every tally's GetDados alone, three times each: the same reads the mix
    // makes, in the same proportions, with nothing else going on. In the mix
    // every other GetDados of a buyer follows their own price correction and
    // so reads a new version of the tally; here too.
    Seen alone;
    Scrapes beforeAlone = scrapeAll();
    {
      auto t = Connect(address, token);
      std::mt19937 rng(7);
      for (int k = 0; k < 3; ++k) {
        for (size_t i = 0; i < tallies.size(); ++i) {
          Value edit = t->Invoke(kGrid, "AtuaPrecEco", priceEdit(i, rng));
          if (!edit.AsArray()[0].AsBoolean())
            throw std::runtime_error("AtuaPrecEco: " + edit.AsArray()[1].ToText());
          for (const char* method : {"GetDados", "GetItmApurPrec", "GetDados"}) {
            auto start = Clock::now();
            Value v = t->Invoke(kGrid, method, TallyArgs(tallies[i]));
            if (std::string_view(method) == "GetDados")
              alone.ms["GetDados"].push_back(
                  std::chrono::duration<double, std::milli>(Clock::now() - start).count());
          }
        }
      }
    }
    // The big tally's effectuation alone (each undone again), the figure the
    // two storages are compared by.
    {
      auto t = Connect(address, token);
      for (int k = 0; k < 3; ++k) {
        auto start = Clock::now();
        Value v = t->Invoke(kGrid, "Gera_AF", GeraArgs(tallies[0], Value()));
        if (!v.AsArray()[0].AsBoolean())
          throw std::runtime_error("Gera_AF alone: " + v.AsArray()[1].ToText());
        alone.ms["Gera_AF"].push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        t->Invoke(kGrid, "ExcluiAF", {ByVal(Value("0101")), ByRef(Value(tallies[0]))});
      }
    }
    Scrapes afterAlone = scrapeAll();

    std::atomic<bool> stop{false};
    std::atomic<bool> killing{false};
    Seen seen;
    auto timed = [&](apura::ITransport& t, const std::string& method,
                     const std::vector<CallArg>& args) {
      const bool duringKill = killing;
      auto start = Clock::now();
      std::string failure;
      try {
        Value env = t.Invoke(kGrid, method, args);
        if (!env.AsArray()[0].AsBoolean()) failure = env.AsArray()[1].ToText();
      } catch (const std::exception& e) {
        failure = e.what();
      }
      const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      std::lock_guard lock(seen.mutex);
      seen.ms[method].push_back(ms);
      if (!failure.empty()) {
        if (duringKill || killing)
          ++seen.failuresAtKill[method];
        else if (seen.failures[method]++ == 0)
          seen.firstFailure[method] = failure;
      }
    };
    const double round = std::max(1.0, o.roundSeconds);
    std::vector<std::thread> buyers;
    const auto mixStart = Clock::now();
    for (size_t i = 0; i < tallies.size(); ++i) {
      buyers.emplace_back([&, i] {
        std::mt19937 rng(static_cast<unsigned>(1000 + i));
        Pause pause(o.thinkMs, static_cast<unsigned>(2000 + i));
        auto t = Connect(address, token);
        pause(stop);
        // Each buyer's round starts at its own moment, so effectuations of
        // different tallies fall at different times, and sometimes together.
        auto roundStart =
            Clock::now() -
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                round * static_cast<double>(i) / static_cast<double>(tallies.size())));
        for (int k = 0; !stop; ++k) {
          const double inRound = std::chrono::duration<double>(Clock::now() - roundStart).count();
          if (inRound >= round * 0.9) {
            timed(*t, "Gera_AF", GeraArgs(tallies[i], choices[i]));
            pause(stop);
            timed(*t, "ExcluiAF", {ByVal(Value("0101")), ByRef(Value(tallies[i]))});
            roundStart = Clock::now();
          } else if (k % 4 == 3) {
            timed(*t, "AtuaPrecEco", priceEdit(i, rng));
          } else {
            timed(*t, k % 2 ? "GetItmApurPrec" : "GetDados", TallyArgs(tallies[i]));
          }
          pause(stop);
        }
      });
    }
    double peakMiB = 0;
    std::thread killer;
    if (o.viaNginx && o.killAtSeconds > 0) {
      killer = std::thread([&] {
        std::this_thread::sleep_until(mixStart +
                                      std::chrono::duration_cast<Clock::duration>(
                                          std::chrono::duration<double>(o.killAtSeconds)));
        if (stop) return;
        killing = true;
        peakMiB = std::max(peakMiB, procs[1]->PeakMiB());
        procs[1]->Stop(SIGKILL);
        std::printf("killed the second server %.1f s into the mix\n", o.killAtSeconds);
        std::this_thread::sleep_for(std::chrono::seconds(3));
        // Back on the port nginx knows it by.
        startServer(1, addresses[1]);
        std::this_thread::sleep_for(std::chrono::seconds(2));
        killing = false;
      });
    }
    std::this_thread::sleep_until(mixStart + std::chrono::duration_cast<Clock::duration>(
                                                 std::chrono::duration<double>(o.seconds)));
    stop = true;
    for (auto& b : buyers) b.join();
    if (killer.joinable()) killer.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - mixStart).count();
    Scrapes afterMix = scrapeAll();
    double residentMiB = 0;
    // Each server's own peak, added up when there are two.
    double peaks = 0;
    for (auto& p : procs) {
      peaks += p->PeakMiB();
      residentMiB += p->ResidentMiB();
    }
    peakMiB = std::max(peakMiB, peaks);

    int total = 0, failed = 0, atKill = 0;
    std::printf("%-16s %7s %7s %8s %9s %9s %9s %9s\n", "method", "calls", "failed", "calls/s",
                "p50 ms", "p99 ms", "srv p50", "srv p99");
    const Histogram aloneServer = between(beforeAlone, afterAlone, "GetDados");
    std::printf("%-16s %7zu %7d %8s %9.1f %9.1f %9.1f %9.1f\n", "GetDados alone",
                alone.ms["GetDados"].size(), 0, "-", Percentile(alone.ms["GetDados"], 0.5),
                Percentile(alone.ms["GetDados"], 0.99), aloneServer.Quantile(0.5),
                aloneServer.Quantile(0.99));
    const Histogram effectuationAlone = between(beforeAlone, afterAlone, "Gera_AF");
    std::printf("%-16s %7zu %7d %8s %9.1f %9.1f %9.1f %9.1f   (the %zu-row tally)\n",
                "Gera_AF alone", alone.ms["Gera_AF"].size(), 0, "-",
                Percentile(alone.ms["Gera_AF"], 0.5), Percentile(alone.ms["Gera_AF"], 0.99),
                effectuationAlone.Quantile(0.5), effectuationAlone.Quantile(0.99), o.bigRows);
    for (auto& [method, v] : seen.ms) {
      const Histogram server = between(afterAlone, afterMix, method);
      total += static_cast<int>(v.size());
      failed += seen.failures[method];
      atKill += seen.failuresAtKill[method];
      std::printf("%-16s %7zu %7d %8.1f %9.1f %9.1f %9.1f %9.1f\n", method.c_str(), v.size(),
                  seen.failures[method], static_cast<double>(v.size()) / elapsed,
                  Percentile(v, 0.5), Percentile(v, 0.99), server.Quantile(0.5),
                  server.Quantile(0.99));
    }
    const double packetsMiB = value(afterMix, "apura_tally_packet_bytes") / (1 << 20);
    const double ratioAlone = between(afterAlone, afterMix, "GetDados").Quantile(0.5) /
                              std::max(1e-9, aloneServer.Quantile(0.5));
    std::printf(
        "all: %.1f calls/s, %d failed (%d more overlapped the kill); GetDados server p50 under "
        "the mix %.2f× alone (every tally's reads)\n",
        static_cast<double>(total) / elapsed, failed, atKill, ratioAlone);
    std::printf(
        "memory: peak %.0f MiB = %.1f× and after the mix %.0f MiB = %.1f× the %.0f MiB of packets "
        "the server%s hold%s (%.0f tallies)\n",
        peakMiB, peakMiB / std::max(1e-9, packetsMiB), residentMiB,
        residentMiB / std::max(1e-9, packetsMiB), packetsMiB, servers > 1 ? "s" : "",
        servers > 1 ? "" : "s", value(afterMix, "apura_tallies_held"));
    for (auto& [method, text] : seen.firstFailure)
      std::printf("first failure of %s: %s\n", method.c_str(), text.c_str());
    status = failed ? 1 : 0;
    nginx.reset();
    for (auto& p : procs) p.reset();
    cluster.reset();
  } catch (...) {
    std::error_code ec;
    if (!getenv("APURA_KEEP_RUN")) fs::remove_all(dir, ec);
    throw;
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return status;
}

}  // namespace apura::bench

// apura-server: the reference application server over gRPC.
//
//   apura-server --db FILE|postgresql://... [--operators FILE] [--listen HOST:PORT]
//                [--tls-cert PEM --tls-key PEM] [--keep-idle-minutes N] [--session-hours N]
//                [--max-memory MiB] [--drain-seconds N] [--metrics [HOST:]PORT]
//                [--config FILE]
//                [--create] [--demo] [--demo-rows N] [--import TALLY.json]
//                [--write-demo FILE.json]
//                [--add-operator CODE --name NAME --centres LIST --branches LIST
//                 [--authorisations LIST]]
//
// --db is a SQLite file, or a PostgreSQL address that several servers may share.
// A SQLite file that does not exist is made only with --create, --demo or
// --import: a mistyped or lost file never starts an empty database. --create
// without other work or --listen makes it and exits.
// Operators and their sessions are kept in the database of --db, shared by
// every server on it, or in the SQLite file --operators names.
// --import, --write-demo and --add-operator do their work and exit unless --listen
// is given too; otherwise the server listens (127.0.0.1:50051 by default) until
// SIGINT or SIGTERM: it then stops taking calls and gives those under way up to
// --drain-seconds (30) to finish; a second signal, or the bound, ends it at
// once (a write cut short is rolled back, never half-stored). Beyond loopback it
// listens only with TLS. --metrics serves Prometheus' text format at /metrics.
// --add-operator reads the password from the first line of standard input and
// refuses a weak one (auth/password_strength.h). --demo adds the demo
// buyer as an operator when missing, with a new password it prints once.
// A loaded tally nobody has read for --keep-idle-minutes (15) is let go.
// --config reads the same options from a file (as the installed service does);
// the command line wins over it.
// --help describes every option; a command line it refuses exits with status 2.

#include <pthread.h>
#include <signal.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include "contract/methods.h"
#include "rpc/grpc_transport.h"
#include "server/app/metrics.h"
#include "server/auth/operators.h"
#include "server/auth/password_strength.h"
#include "server/exchange/demo.h"
#include "server/exchange/tally_document.h"
#include "server/objects/server_objects.h"
#include "server/services/report_service.h"
#include "server/storage/open_storage.h"
#include "server/storage/postgres/pg_storage.h"
#include "server/storage/storage_wait.h"

namespace {

// Twelve characters from an alphabet without look-alikes.
std::string NewPassword() {
  static const char kAlphabet[] = "abcdefghijkmnpqrstuvwxyzACDEFGHJKLMNPQRTUVWXY34679";
  std::random_device random;
  std::string out;
  for (int i = 0; i < 12; ++i) out += kAlphabet[random() % (sizeof kAlphabet - 1)];
  return out;
}

// The value of --demo-rows: a whole number, never a sign or a fraction read as
// something smaller. A hundred million rows is already a tally of gigabytes;
// beyond it the generator's counts would overflow.
size_t DemoRows(const std::string& text) {
  constexpr unsigned long long kMost = 100000000;
  char* end = nullptr;
  errno = 0;
  unsigned long long n = std::strtoull(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || text[0] == '-' || text[0] == '+' || errno == ERANGE ||
      n > kMost)
    throw CLI::ValidationError("--demo-rows takes a whole number up to " + std::to_string(kMost) +
                               ", not " + text);
  return n;
}

long KeepIdleMinutes(const std::string& text) {
  char* end = nullptr;
  long n = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || n < 0 || n > 100000)
    throw CLI::ValidationError("--keep-idle-minutes takes a whole number of minutes, not " + text);
  return n;
}

// A session's lifetime: whole hours, at least one, at most a year.
// --max-memory: whole MiB, from 64 (below it a single change packet would not
// fit) to a TiB.
size_t MaxMemoryMiB(const std::string& text) {
  char* end = nullptr;
  errno = 0;
  long long n = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE || n < 64 || n > (1LL << 20))
    throw CLI::ValidationError("--max-memory takes whole MiB from 64 to 1048576, not " + text);
  return static_cast<size_t>(n);
}

long SessionHours(const std::string& text) {
  char* end = nullptr;
  long n = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || n < 1 || n > 24 * 366)
    throw CLI::ValidationError("--session-hours takes a whole number of hours from 1 to " +
                               std::to_string(24 * 366) + ", not " + text);
  return n;
}

// How long a stopping server waits for the calls under way: whole seconds, at
// most an hour (an effectuation of the largest tally takes a few seconds).
long DrainSeconds(const std::string& text) {
  char* end = nullptr;
  long n = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || n < 0 || n > 3600)
    throw CLI::ValidationError(
        "--drain-seconds takes a whole number of seconds from 0 to 3600, not " + text);
  return n;
}

// The gauges and counters of the metrics page besides the calls'.
void AddServerReadings(apura::server::ServerMetrics& metrics, apura::server::TallyService& service,
                       apura::server::Sessions& sessions, const apura::rpc::GrpcServer& server) {
  using apura::server::ServerMetrics;
  using Kind = ServerMetrics::Kind;
  metrics.Add("apura_tallies_held", "Tallies loaded in memory.", Kind::Gauge,
              [&] { return static_cast<double>(service.HeldTallies().tallies); });
  metrics.Add("apura_tally_packet_bytes",
              "What the delivery and price-item packets built for the held tallies take.",
              Kind::Gauge, [&] { return static_cast<double>(service.HeldTallies().packetBytes); });
  metrics.Add("apura_sessions", "Sessions open, on every server of the database.", Kind::Gauge,
              [&] { return static_cast<double>(sessions.Count()); });
  metrics.Add("apura_calls_under_way", "Calls received and not answered yet.", Kind::Gauge,
              [&] { return static_cast<double>(server.CallsUnderWay()); });
  metrics.Add("process_resident_memory_bytes", "Resident memory of the server process.",
              Kind::Gauge, [] { return apura::server::ResidentBytes(); });
  auto& waits = apura::server::WriterWaits();
  metrics.Add("apura_writer_waits_total",
              "Writes that waited for their turn (SQLite's writer queue, PostgreSQL's tally lock).",
              Kind::Counter, [&] { return static_cast<double>(waits.waits.load()); });
  metrics.Add("apura_writer_busy_total",
              "Writes refused because their turn came after their deadline.", Kind::Counter,
              [&] { return static_cast<double>(waits.refused.load()); });
  metrics.Add("apura_writer_wait_seconds_total", "Time writes spent waiting for their turn.",
              Kind::Counter, [&] { return waits.seconds.load(); });
}

int Refuse(const std::string& why) {
  std::cerr << "apura-server: " << why << "\n"
            << "Run with --help for the options.\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace apura::server;
  using apura::server::Operator;
  std::string db, listen, importFile, writeDemo, tlsCert, tlsKey, operatorsDb;
  std::string opCode, opName, opCentres, opBranches, opAuthorisations;
  bool demo = false, create = false;
  size_t demoRows = 0;
  long keepIdleMinutes = 15;
  long sessionHours = 10;
  size_t maxMemoryMiB = 1024;
  long drainSeconds = 30;
  std::string metricsAddress;

  CLI::App app{
      "The reference application server over gRPC. Without --import, --write-demo or\n"
      "--add-operator it serves until SIGINT or SIGTERM; with them it does that work and\n"
      "exits, unless --listen is given too.",
      "apura-server"};
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.get_formatter()->column_width(34);
  app.add_option("--db", db,
                 "The tallies' storage: a SQLite file, or a PostgreSQL address that several "
                 "servers may share (required except for --write-demo alone)")
      ->type_name("FILE|postgresql://...");
  app.add_option("--operators", operatorsDb,
                 "SQLite file of the operators and their sessions, kept apart (default: "
                 "the database of --db, shared by every server on it)")
      ->type_name("FILE");
  app.add_option("--listen", listen,
                 "Address to serve on (default 127.0.0.1:50051; port 0 takes a free one). "
                 "Beyond loopback only with TLS")
      ->type_name("HOST:PORT");
  auto* cert =
      app.add_option("--tls-cert", tlsCert, "Server certificate for TLS")->type_name("PEM");
  auto* key = app.add_option("--tls-key", tlsKey, "Private key of --tls-cert")->type_name("PEM");
  cert->needs(key);
  key->needs(cert);
  app.add_option_function<std::string>(
         "--keep-idle-minutes", [&](const std::string& v) { keepIdleMinutes = KeepIdleMinutes(v); },
         "A loaded tally nobody has read for this many whole minutes is let go (default 15)")
      ->type_name("N");
  app.add_option_function<std::string>(
         "--session-hours", [&](const std::string& v) { sessionHours = SessionHours(v); },
         "How long a login's session lasts, in whole hours (default 10); every server on one "
         "database should be given the same")
      ->type_name("N");
  app.add_option_function<std::string>(
         "--drain-seconds", [&](const std::string& v) { drainSeconds = DrainSeconds(v); },
         "On SIGTERM or SIGINT, how long the calls under way may take to finish before the "
         "server ends anyway (default 30)")
      ->type_name("N");
  app.add_option("--metrics", metricsAddress,
                 "Serve metrics in Prometheus' text format at http://ADDRESS/metrics; a port "
                 "alone means 127.0.0.1:PORT")
      ->type_name("[HOST:]PORT");
  app.add_option_function<std::string>(
         "--max-memory", [&](const std::string& v) { maxMemoryMiB = MaxMemoryMiB(v); },
         "What the connections and calls may hold in buffers at once, in MiB (default 1024); "
         "beyond it calls are refused instead of taken in")
      ->type_name("MiB");
  app.add_flag("--create", create,
               "Make the SQLite file of --db when it does not exist (--demo and --import do "
               "too); without it a missing file is refused");
  app.add_flag("--demo", demo,
               "Import the demo tally unless the database has it, and add its buyer as an "
               "operator when missing (the new password is printed once)");
  app.add_option_function<std::string>(
         "--demo-rows", [&](const std::string& v) { demoRows = DemoRows(v); },
         "Size the demo tally to about N delivery rows")
      ->type_name("N");
  app.add_option("--import", importFile, "Load a tally in the exchange format")
      ->type_name("TALLY.json");
  app.add_option("--write-demo", writeDemo, "Write the demo tally in the exchange format")
      ->type_name("FILE.json");
  const char* kOperator = "Adding an operator (password on the first line of standard input)";
  auto* add = app.add_option("--add-operator", opCode, "Add or replace the operator CODE")
                  ->type_name("CODE")
                  ->group(kOperator);
  auto operatorOption = [&](const char* name, std::string& into, const char* help) {
    app.add_option(name, into, help)->type_name("LIST")->needs(add)->group(kOperator);
  };
  app.add_option("--name", opName, "The operator's name (default: CODE)")
      ->type_name("NAME")
      ->needs(add)
      ->group(kOperator);
  operatorOption("--centres", opCentres, "Centres the operator works in (required)");
  operatorOption("--branches", opBranches, "Branches the operator works for (required)");
  operatorOption("--authorisations", opAuthorisations, "The operator's authorisations");
  app.set_config("--config", "",
                 "Read options from FILE, one \"name = value\" a line (the long names without "
                 "the dashes, texts in quotes); the command line wins over it")
      ->type_name("FILE");
  // A misspelt name in the file is refused, not left out unseen.
  app.allow_config_extras(false);
  app.footer("LIST: codes separated by commas, or * for all.");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return 0;
  } catch (const CLI::ParseError& e) {
    return Refuse(e.what());
  }

  std::optional<Operator> newOperator;
  if (*add) {
    newOperator.emplace();
    newOperator->code = opCode;
    newOperator->name = opName;
    newOperator->centres = SplitList(opCentres);
    newOperator->branches = SplitList(opBranches);
    newOperator->authorisations = SplitList(opAuthorisations);
  }
  if (newOperator &&
      (newOperator->code.empty() || newOperator->centres.empty() || newOperator->branches.empty()))
    return Refuse("--add-operator needs a code, --centres and --branches");
  if (tlsCert.empty() != tlsKey.empty()) return Refuse("--tls-cert and --tls-key go together");
  // --listen on the command line serves after the work is done; in the
  // configuration file it only says where to serve, so the service's file can
  // be given to --add-operator or --import without starting a second server.
  bool listenGiven = false;
  for (int i = 1; i < argc; ++i)
    listenGiven |=
        std::string(argv[i]) == "--listen" || std::string(argv[i]).rfind("--listen=", 0) == 0;
  // --create alone makes the database and exits (the service's first start).
  bool serve = listenGiven ||
               (importFile.empty() && writeDemo.empty() && !newOperator && !(create && !demo));
  if (listen.empty()) listen = "127.0.0.1:50051";

  apura::rpc::TuneAllocatorForLargePackets();

  try {
    DemoOptions demoOptions = demoRows ? DemoOptions::ForDeliveryRows(demoRows) : DemoOptions{};
    if (!writeDemo.empty()) {
      WriteDocumentFile(GenerateDemo(demoOptions), writeDemo);
      std::cout << "wrote demo tally to " << writeDemo << "\n";
    }
    if (db.empty()) {
      if (serve || !importFile.empty()) return Refuse("--db is required");
      return 0;
    }
    create = create || demo || !importFile.empty();
    std::error_code missing;
    if (!create && !IsPostgresAddress(db) && !std::filesystem::exists(db, missing)) {
      std::cerr << "apura-server: the database file " << db
                << " does not exist; --create makes a new one\n";
      return 1;
    }
    std::unique_ptr<IStorage> storage = OpenStorage(db, create);
    TallyService service(*storage, std::chrono::minutes(keepIdleMinutes));
    // Operators live in the database the server uses, unless --operators
    // names a SQLite file of their own.
    std::unique_ptr<OperatorDirectory> directory =
        operatorsDb.empty() ? std::make_unique<OperatorDirectory>(*storage)
                            : std::make_unique<OperatorDirectory>(operatorsDb);
    OperatorDirectory& operators = *directory;
    Sessions sessions(operators, std::chrono::hours(sessionHours));
    if (newOperator) {
      std::string password;
      if (!std::getline(std::cin, password) || password.empty())
        return Refuse("--add-operator reads a password from standard input");
      if (newOperator->name.empty()) newOperator->name = newOperator->code;
      if (std::string weak = PasswordWeakness(password, newOperator->code, newOperator->name);
          !weak.empty()) {
        std::cerr << "apura-server: operator " << newOperator->code << " not saved: " << weak
                  << "\n";
        return 1;
      }
      operators.Save(*newOperator, password);
      std::cout << "operator " << newOperator->code << " saved\n";
    }
    if (!importFile.empty()) {
      TallyDocument doc = ReadDocumentFile(importFile);
      service.Import(doc);
      std::cout << "imported tally " << doc.number << " of centre " << doc.centre.code << "\n";
    }
    if (demo) {
      if (!service.TallyExists(demoOptions.tally)) service.Import(GenerateDemo(demoOptions));
      std::cout << "demo: centre " << demoOptions.centre << ", tally " << demoOptions.tally << "\n";
      if (!operators.Find(demoOptions.buyer)) {
        const std::string password = NewPassword();
        operators.Save(DemoBuyer(demoOptions), password);
        std::cout << "demo: operator " << demoOptions.buyer << ", password " << password
                  << std::endl;
      }
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
    RegisterServerObjects(registry, service, sessions);
    ReportService reports(*storage);
    RegisterReportObject(registry, reports, &sessions);
    ServerMetrics metrics;
    apura::rpc::GrpcServerOptions serverOptions;
    serverOptions.tlsCertFile = tlsCert;
    serverOptions.tlsKeyFile = tlsKey;
    serverOptions.maxMemoryBytes = maxMemoryMiB << 20;
    serverOptions.packetMethods = {apura::contract::kGera_AF.name};
    // A body is read only in a live session; a failure to look the session up
    // is left for the call itself to report.
    serverOptions.sessionAlive = [&sessions](const std::string& token) -> std::string {
      try {
        sessions.Require(token);
      } catch (const apura::CodedError& e) {
        if (e.code() == apura::ErrorCode::Unauthenticated) return e.what();
      } catch (const std::exception&) {
      }
      return {};
    };
    if (!metricsAddress.empty())
      serverOptions.onCall = [&metrics](const apura::rpc::ServedCall& c) { metrics.Observe(c); };
    apura::rpc::GrpcServer server(registry, listen, serverOptions);
    std::unique_ptr<MetricsEndpoint> metricsEndpoint;
    if (!metricsAddress.empty()) {
      AddServerReadings(metrics, service, sessions, server);
      metricsEndpoint = std::make_unique<MetricsEndpoint>(metrics, metricsAddress);
      std::cout << "apura-server metrics on http://" << metricsEndpoint->address() << "/metrics"
                << std::endl;
    }
    std::cout << "apura-server listening on " << server.address() << std::endl;

    std::thread watcher([&] {
      int sig = 0;
      sigwait(&stopSignals, &sig);
      const int under = server.CallsUnderWay();
      std::cout << "apura-server: stopping (" << (sig == SIGINT ? "SIGINT" : "SIGTERM") << "), "
                << under << (under == 1 ? " call" : " calls") << " under way" << std::endl;
      // A second signal while draining: the operator wants it gone now.
      std::thread([&stopSignals] {
        int again = 0;
        sigwait(&stopSignals, &again);
        std::cout << "apura-server: stopped at once by a second signal" << std::endl;
        std::_Exit(1);
      }).detach();
      if (!server.Shutdown(std::chrono::seconds(drainSeconds))) {
        // What runs past the bound is cut off with the process: each write is
        // one transaction, which the database rolls back.
        std::cout << "apura-server: " << server.CallsUnderWay()
                  << " calls still under way after --drain-seconds " << drainSeconds
                  << "; stopping without them" << std::endl;
        std::_Exit(1);
      }
      std::cout << "apura-server: drained" << std::endl;
    });
    // Idle tallies are let go even when no call comes to do it.
    std::mutex sweepMutex;
    std::condition_variable sweepStop;
    bool stopping = false;
    std::thread sweeper([&] {
      std::unique_lock lock(sweepMutex);
      while (!sweepStop.wait_for(lock, std::chrono::minutes(1), [&] { return stopping; }))
        service.ReleaseIdle();
    });
    server.Wait();
    watcher.join();
    {
      std::lock_guard lock(sweepMutex);
      stopping = true;
    }
    sweepStop.notify_all();
    sweeper.join();
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "apura-server: " << e.what() << "\n";
    return 1;
  }
}

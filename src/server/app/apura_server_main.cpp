// apura-server: the reference application server over gRPC.
//
//   apura-server --db FILE|postgresql://... [--operators FILE] [--listen HOST:PORT]
//                [--tls-cert PEM --tls-key PEM] [--keep-idle-minutes N]
//                [--demo] [--demo-rows N] [--import TALLY.json] [--write-demo FILE.json]
//                [--add-operator CODE --name NAME --centres LIST --branches LIST
//                 [--authorisations LIST]]
//
// --db is a SQLite file, or a PostgreSQL address that several servers may share.
// Operators and their sessions are kept in the database of --db, shared by
// every server on it, or in the SQLite file --operators names.
// --import, --write-demo and --add-operator do their work and exit unless --listen
// is given too; otherwise the server listens (127.0.0.1:50051 by default) until
// SIGINT or SIGTERM. Beyond loopback it listens only with TLS. --add-operator
// reads the password from the first line of standard input. --demo adds the demo
// buyer as an operator when missing, with a new password it prints once.
// A loaded tally nobody has read for --keep-idle-minutes (15) is let go.

#include <pthread.h>
#include <signal.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include "rpc/grpc_transport.h"
#include "server/auth/operators.h"
#include "server/exchange/demo.h"
#include "server/exchange/tally_document.h"
#include "server/objects/server_objects.h"
#include "server/services/report_service.h"
#include "server/storage/open_storage.h"
#include "server/storage/postgres/pg_storage.h"

namespace {

// Twelve characters from an alphabet without look-alikes.
std::string NewPassword() {
  static const char kAlphabet[] = "abcdefghijkmnpqrstuvwxyzACDEFGHJKLMNPQRTUVWXY34679";
  std::random_device random;
  std::string out;
  for (int i = 0; i < 12; ++i) out += kAlphabet[random() % (sizeof kAlphabet - 1)];
  return out;
}

int Usage(const char* why) {
  if (why) std::cerr << "apura-server: " << why << "\n";
  std::cerr << "usage: apura-server --db FILE|postgresql://... [--operators FILE]\n"
               "                    [--listen HOST:PORT] [--tls-cert PEM --tls-key PEM]\n"
               "                    [--demo] [--demo-rows N] [--import TALLY.json]\n"
               "                    [--write-demo FILE.json] [--keep-idle-minutes N]\n"
               "                    [--add-operator CODE --name NAME --centres LIST\n"
               "                     --branches LIST [--authorisations LIST]]\n"
               "  LIST: codes separated by commas, or * for all\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace apura::server;
  using apura::server::Operator;
  std::string db, listen, importFile, writeDemo, tlsCert, tlsKey, operatorsDb;
  std::optional<Operator> newOperator;
  auto op = [&]() -> Operator& {
    if (!newOperator) newOperator.emplace();
    return *newOperator;
  };
  bool demo = false;
  size_t demoRows = 0;
  long keepIdleMinutes = 15;
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
    else if (a == "--operators")
      operatorsDb = value("--operators");
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
    } else if (a == "--keep-idle-minutes") {
      std::string text = value("--keep-idle-minutes");
      char* end = nullptr;
      keepIdleMinutes = std::strtol(text.c_str(), &end, 10);
      if (text.empty() || *end != '\0' || keepIdleMinutes < 0 || keepIdleMinutes > 100000)
        return Usage(("--keep-idle-minutes takes a whole number of minutes, not " + text).c_str());
    } else if (a == "--import")
      importFile = value("--import");
    else if (a == "--write-demo")
      writeDemo = value("--write-demo");
    else if (a == "--tls-cert")
      tlsCert = value("--tls-cert");
    else if (a == "--tls-key")
      tlsKey = value("--tls-key");
    else if (a == "--add-operator")
      op().code = value("--add-operator");
    else if (a == "--name")
      op().name = value("--name");
    else if (a == "--centres")
      op().centres = SplitList(value("--centres"));
    else if (a == "--branches")
      op().branches = SplitList(value("--branches"));
    else if (a == "--authorisations")
      op().authorisations = SplitList(value("--authorisations"));
    else if (a == "--help" || a == "-h")
      return Usage(nullptr), 0;
    else
      return Usage(("unknown option " + a).c_str());
  }
  if (newOperator &&
      (newOperator->code.empty() || newOperator->centres.empty() || newOperator->branches.empty()))
    return Usage("--add-operator needs a code, --centres and --branches");
  if (tlsCert.empty() != tlsKey.empty()) return Usage("--tls-cert and --tls-key go together");
  bool serve = !listen.empty() || (importFile.empty() && writeDemo.empty() && !newOperator);
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
    TallyService service(*storage, std::chrono::minutes(keepIdleMinutes));
    // Operators live in the database the server uses, unless --operators
    // names a SQLite file of their own.
    std::unique_ptr<OperatorDirectory> directory =
        operatorsDb.empty() ? std::make_unique<OperatorDirectory>(*storage)
                            : std::make_unique<OperatorDirectory>(operatorsDb);
    OperatorDirectory& operators = *directory;
    Sessions sessions(operators);
    if (newOperator) {
      std::string password;
      if (!std::getline(std::cin, password) || password.empty())
        return Usage("--add-operator reads a password from standard input");
      if (newOperator->name.empty()) newOperator->name = newOperator->code;
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
    apura::rpc::GrpcServerOptions serverOptions;
    serverOptions.tlsCertFile = tlsCert;
    serverOptions.tlsKeyFile = tlsKey;
    apura::rpc::GrpcServer server(registry, listen, serverOptions);
    std::cout << "apura-server listening on " << server.address() << std::endl;

    std::thread watcher([&] {
      int sig = 0;
      sigwait(&stopSignals, &sig);
      std::cout << "apura-server: stopping (" << (sig == SIGINT ? "SIGINT" : "SIGTERM") << ")"
                << std::endl;
      server.Shutdown();
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

// The host's own speed and memory: the main window with the worksheet's
// library, painted on Qt's offscreen platform, against apura-server running in
// a process of its own on loopback with a demo tally of about 50,000 or
// 500,000 delivery rows. Each figure is one gesture of the buyer, from the
// input to the window painted again.
//
//   bench_desktop [--rows 50000,500000] [--data DIR] [Google Benchmark flags]
//
// The tallies' databases are kept in DIR (bench-data beside the program) so
// that only the first run pays for making them.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "contract/objects.h"
#include "desktop/app/local_database.h"
#include "desktop/app/main_window.h"
#include "desktop/app/module_loader.h"
#include "desktop/binding/events.h"
#include "desktop/binding/form_view.h"
#include "desktop/binding/grid_view.h"
#include "desktop/services/qt_host.h"
#include "framework/format.h"
#include "framework/forms.h"
#include "framework/netconnection.h"
#include "framework/query.h"
#include "rpc/grpc_transport.h"
#include "server/exchange/demo.h"

namespace apura::desktop::bench {
namespace {

size_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  size_t pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * 4096;
}

// apura-server with the demo tally of `rows` rows, in a process of its own.
class ServerProcess {
 public:
  ServerProcess(const QString& dataDir, size_t rows) {
    QDir().mkpath(dataDir);
    const QString db = QDir(dataDir).filePath(QString("bench-%1.sqlite").arg(rows));
    // A fresh operator password each start: the old one is not kept anywhere.
    QFile::remove(db + ".operators");
    process_.setProgram(QString::fromStdString(ExecutableDir() + "/apura-server"));
    process_.setArguments({"--db", db, "--operators", db + ".operators", "--demo", "--demo-rows",
                           QString::number(rows), "--listen", "127.0.0.1:0"});
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start();
    if (!process_.waitForStarted(10000)) throw std::runtime_error("apura-server did not start");
    const QRegularExpression password("password (\\S+)"), listening("listening on (\\S+):(\\d+)");
    QString seen;
    while (port_ == 0) {
      if (!process_.waitForReadyRead(600000))
        throw std::runtime_error("apura-server said nothing: " + seen.toStdString());
      while (process_.canReadLine()) {
        const QString line = QString::fromUtf8(process_.readLine()).trimmed();
        seen += line + "\n";
        if (auto m = password.match(line); m.hasMatch()) password_ = m.captured(1).toStdString();
        if (auto m = listening.match(line); m.hasMatch()) port_ = m.captured(2).toInt();
      }
    }
    if (password_.empty()) throw std::runtime_error("no demo password: " + seen.toStdString());
  }
  ~ServerProcess() {
    process_.terminate();
    if (!process_.waitForFinished(10000)) process_.kill();
  }
  int Port() const { return port_; }
  const std::string& Password() const { return password_; }

 private:
  QProcess process_;
  int port_ = 0;
  std::string password_;
};

// One host over one server, kept for every figure of its size.
struct Session {
  // Questions the worksheet asked on closing; none are expected.
  static inline int questions = 0;
  size_t rows = 0;
  std::unique_ptr<ServerProcess> server;
  std::unique_ptr<QtHost> host;
  std::unique_ptr<ModuleLoader> loader;
  std::unique_ptr<MainWindow> window;
  std::vector<std::string> launch;
  size_t baseline = 0, afterOpen = 0;
  TForm* form = nullptr;
  FormView* view = nullptr;

  Session(const QString& dataDir, size_t n) : rows(n) {
    server = std::make_unique<ServerProcess>(dataDir, n);
    const server::DemoOptions options = server::DemoOptions::ForDeliveryRows(n);
    HostSettings settings;
    settings.decimalSeparator = ',';
    settings.shortDateFormat = "dd/mm/yyyy";
    settings.activeModule = 34;
    settings.serverHost = "127.0.0.1";
    settings.serverPort = server->Port();
    settings.operatorCode = options.buyer;
    settings.productTreePicture.clear();
    settings.localDatabase =
        QDir(dataDir).filePath(QString("bench-local-%1.sqlite").arg(n)).toStdString();
    {
      // The demo's dates and regions; the document goes before anything is
      // measured.
      const server::TallyDocument doc = server::GenerateDemo(options);
      server::SeedLocalDatabase(settings.localDatabase, &doc);
      launch = {options.centre,
                options.buyer,
                "Comprador",
                FormatDateTime("dd/mm/yyyy", doc.start),
                FormatDateTime("dd/mm/yyyy", doc.end),
                options.tally,
                "N"};
    }
    malloc_trim(0);
    auto transport = rpc::MakeGrpcTransport();
    transport->Connect(settings.serverHost, settings.serverPort);
    const Value env =
        transport->Invoke(contract::kSessionObject, contract::kLoginMethod,
                          {ByVal(Value(options.buyer)), ByVal(Value(server->Password()))});
    if (!env.AsArray()[0].AsBoolean())
      throw std::runtime_error("login: " + env.AsArray()[1].ToText());
    rpc::SetClientSessionToken(env.AsArray()[1].AsArray()[0].ToText());
    SetDefaultDatabase(std::make_shared<SqliteDatabase>(settings.localDatabase));
    SetDefaultTransportFactory([](const TNetConnection&) -> std::shared_ptr<ITransport> {
      return rpc::MakeGrpcTransport();
    });
    settings.launchValues = launch;
    host = std::make_unique<QtHost>(settings);
    loader = std::make_unique<ModuleLoader>(ExecutableDir());
    host->SetModuleLoader(loader.get());
    window = std::make_unique<MainWindow>(*host);
    window->resize(1366, 768);
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get())) throw std::runtime_error("no window");
    QCoreApplication::processEvents();
    baseline = ResidentBytes();
  }
  ~Session() {
    window.reset();
    Application().DestroyForms();
    host.reset();
    loader.reset();
    SetDefaultDatabase(nullptr);
    SetDefaultTransportFactory(nullptr);
  }

  // Everything on screen painted now, not at the next turn of the loop.
  void Paint() {
    QCoreApplication::processEvents();
    window->repaint();
  }
  bool Open() {
    window->OpenWorksheet(launch);
    form = nullptr;
    for (const auto& f : Application().Forms())
      if (f->Name == "frmPlanApurNegGrid" && !f->Released()) form = f.get();
    view = form ? host->ViewOf(*form) : nullptr;
    Paint();
    return view != nullptr;
  }
  void Close() {
    if (!form) return;
    // Whatever the worksheet asks before it closes is answered yes.
    QTimer yes;
    yes.setInterval(1);
    QObject::connect(&yes, &QTimer::timeout, [] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
        for (QAbstractButton* b : box->findChildren<QAbstractButton*>())
          if (b->objectName() == "Sim") {
            ++questions;
            b->click();
            return;
          }
    });
    yes.start();
    TForm* ws = form;
    RunEvent([ws] { ws->Close(); });
    yes.stop();
    Application().ProcessReleases();
    QCoreApplication::processEvents();
    form = nullptr;
    view = nullptr;
  }
  QTabWidget* Tabs() const {
    return view ? qobject_cast<QTabWidget*>(view->WidgetNamed("pgcPadrao")) : nullptr;
  }
  bool ShowPage(const char* caption) {
    QTabWidget* tabs = Tabs();
    if (!tabs) return false;
    for (int i = 0; i < tabs->count(); ++i)
      if (tabs->tabText(i) == QString::fromUtf8(caption) && tabs->isTabEnabled(i)) {
        tabs->setCurrentIndex(i);
        Paint();
        return tabs->currentIndex() == i;
      }
    return false;
  }
};

QString DataDir() {
  static QString dir = QString::fromStdString(ExecutableDir() + "/bench-data");
  return dir;
}
std::map<size_t, std::unique_ptr<Session>>& Sessions() {
  static std::map<size_t, std::unique_ptr<Session>> s;
  return s;
}
Session& SessionOf(size_t rows) {
  // One size at a time: a worksheet of the last size still open would be
  // brought forward instead of opening the new one.
  for (auto it = Sessions().begin(); it != Sessions().end();)
    it = it->first == rows ? std::next(it) : Sessions().erase(it);
  auto& s = Sessions()[rows];
  if (!s) s = std::make_unique<Session>(DataDir(), rows);
  return *s;
}
// The worksheet open, on its products' page.
Session& Opened(benchmark::State& state) {
  Session& s = SessionOf(size_t(state.range(0)));
  if (!s.view && !s.Open()) state.SkipWithError("the worksheet did not open");
  return s;
}

void Desktop_Open(benchmark::State& state) {
  Session& s = SessionOf(size_t(state.range(0)));
  s.Close();
  malloc_trim(0);
  for (auto _ : state) {
    if (!s.Open()) {
      state.SkipWithError("the worksheet did not open");
      break;
    }
    state.PauseTiming();
    if (s.afterOpen == 0) s.afterOpen = ResidentBytes();
    s.Close();
    state.ResumeTiming();
  }
  s.Open();
  const size_t now = ResidentBytes();
  state.counters["close_questions"] = Session::questions;
  state.counters["host_bytes_per_row"] =
      double(std::max(now, s.afterOpen) - s.baseline) / double(s.rows);
}

void Desktop_TabSwitch(benchmark::State& state) {
  Session& s = Opened(state);
  const char* pages[] = {"Cotação", "Produtos"};
  int k = 0;
  for (auto _ : state)
    if (!s.ShowPage(pages[k++ % 2])) {
      state.SkipWithError("no such page");
      break;
    }
  s.ShowPage("Produtos");
}

void Desktop_Totals(benchmark::State& state) {
  Session& s = Opened(state);
  s.ShowPage("Cotação");
  QAction* totals = s.view ? s.view->ActionNamed("sbtTotais") : nullptr;
  for (auto _ : state) {
    if (!totals || !totals->isEnabled()) {
      state.SkipWithError("Totalizar is not available");
      break;
    }
    totals->trigger();
    s.Paint();
  }
  // Left as it was found: the panel hidden.
  if (totals && totals->isChecked()) {
    totals->trigger();
    s.Paint();
  }
  s.ShowPage("Produtos");
}

// Space on a priced quotation line, choosing it and dropping it in turn; the
// justification the demo's parameters ask for is typed and confirmed as soon
// as its dialog is up, and counts as part of the gesture.
void Desktop_ManualChoose(benchmark::State& state) {
  Session& s = Opened(state);
  s.ShowPage("Cotação");
  GridView* quotes = s.view ? s.view->GridNamed("dbgFornecedor") : nullptr;
  TClientDataSet* lines = quotes ? quotes->Model().DataSet() : nullptr;
  if (!lines || lines->IsEmpty()) {
    state.SkipWithError("no quotation lines");
    return;
  }
  const int price = lines->FieldByName("VRPRECUNIAP").Index();
  int row = -1;
  for (int r = 0; row < 0 && r < quotes->Model().rowCount(); ++r)
    if (lines->CellValue(r, price).AsFloat() > 0) row = r;
  int column = 0;
  for (size_t c = 0; c < quotes->Model().Columns().size(); ++c)
    if (quotes->Model().Columns()[c].fieldName == "VRPRECUNIAP") column = int(c);
  s.window->activateWindow();
  quotes->setFocus();
  quotes->setCurrentIndex(quotes->Model().index(std::max(row, 0), column));
  s.Paint();
  const std::string before = lines->FieldByName("IDITMSELAPUR").AsString();
  QTimer answer;
  answer.setInterval(1);
  QObject::connect(&answer, &QTimer::timeout, [] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal->objectName() != "frmObservJust") return;
    if (auto* memo = modal->findChild<QPlainTextEdit*>())
      if (memo->toPlainText().isEmpty()) memo->setPlainText("Menor prazo de entrega");
    for (QAbstractButton* b : modal->findChildren<QAbstractButton*>())
      if (b->objectName() == "sbtConfirma") {
        b->click();
        return;
      }
  });
  answer.start();
  for (auto _ : state) {
    QTest::keyClick(quotes, Qt::Key_Space);
    s.Paint();
  }
  if (lines->FieldByName("IDITMSELAPUR").AsString() != before) {
    QTest::keyClick(quotes, Qt::Key_Space);
    s.Paint();
  }
  answer.stop();
  s.ShowPage("Produtos");
}

std::vector<int64_t> Sizes() {
  std::vector<int64_t> sizes;
  const QStringList args = QCoreApplication::arguments();
  const int i = int(args.indexOf("--rows"));
  const QString list = i >= 0 && i + 1 < args.size() ? args[i + 1] : QString("50000,500000");
  for (const QString& n : list.split(',')) sizes.push_back(n.toLongLong());
  return sizes;
}

}  // namespace
}  // namespace apura::desktop::bench

int main(int argc, char** argv) {
  using namespace apura::desktop::bench;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  apura::CurrentFormat().decimalSeparator = ',';
  apura::CurrentFormat().thousandSeparator = '.';
  apura::CurrentFormat().shortDateFormat = "dd/mm/yyyy";
  for (int64_t rows : Sizes()) {
    benchmark::RegisterBenchmark("Desktop_Open", Desktop_Open)
        ->Arg(rows)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(rows >= 500000 ? 3 : 5);
    benchmark::RegisterBenchmark("Desktop_TabSwitch", Desktop_TabSwitch)
        ->Arg(rows)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Desktop_Totals", Desktop_Totals)
        ->Arg(rows)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Desktop_ManualChoose", Desktop_ManualChoose)
        ->Arg(rows)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(20);
  }
  // Google Benchmark takes only its own flags.
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::string(argv[i]) == "--rows") {
      ++i;
      continue;
    }
    args.push_back(argv[i]);
  }
  int n = int(args.size());
  benchmark::Initialize(&n, args.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  Sessions().clear();
  return 0;
}

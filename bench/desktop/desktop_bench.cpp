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
#include <sys/prctl.h>

#include <csignal>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QChartView>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
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
#include "desktop/services/grid_export.h"
#include "desktop/services/qt_host.h"
#include "desktop/services/quote_chart.h"
#include "desktop_session.h"
#include "framework/format.h"
#include "framework/forms.h"
#include "framework/netconnection.h"
#include "framework/query.h"
#include "rpc/grpc_transport.h"
#include "server/exchange/demo.h"

namespace apura::desktop::bench {
namespace {

// The view tests' own gestures, so that both click and find columns alike.
using test::ClickCell;
using test::ColumnOf;

size_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  size_t pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * 4096;
}

// Copies an SQLite database with its journal, if the server left one.
void CopyDatabase(const QString& from, const QString& to) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) QFile::remove(to + suffix);
  for (const char* suffix : {"", "-wal"})
    if (QFile::exists(from + suffix) && !QFile::copy(from + suffix, to + suffix))
      throw std::runtime_error("cannot copy " + (from + suffix).toStdString());
}

// apura-server with the demo tally of `rows` rows, in a process of its own. It
// serves a copy of the tally's database, made afresh at each start, so that
// what a figure changes (a tally, an effectuation) is gone for the next.
class ServerProcess {
 public:
  ServerProcess(const QString& dataDir, size_t rows) {
    QDir().mkpath(dataDir);
    const QString made = QDir(dataDir).filePath(QString("bench-%1.sqlite").arg(rows));
    if (!QFile::exists(made)) {
      // The first run makes the demo tally; the server's stop closes the file.
      ServerProcess maker(Serving{}, made, rows);
    }
    const QString db = QDir(dataDir).filePath(QString("bench-%1-run.sqlite").arg(rows));
    CopyDatabase(made, db);
    Start(db, rows);
  }
  ~ServerProcess() {
    process_.terminate();
    if (!process_.waitForFinished(10000)) process_.kill();
  }
  int Port() const { return port_; }
  const std::string& Password() const { return password_; }

 private:
  struct Serving {};
  // Serves `db` itself.
  ServerProcess(Serving, const QString& db, size_t rows) { Start(db, rows); }
  void Start(const QString& db, size_t rows) {
    // A fresh operator password each start: the old one is not kept anywhere.
    QFile::remove(db + ".operators");
    process_.setProgram(QString::fromStdString(ExecutableDir() + "/apura-server"));
    process_.setArguments({"--db", db, "--operators", db + ".operators", "--demo", "--demo-rows",
                           QString::number(rows), "--listen", "127.0.0.1:0"});
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Gone with the benchmark, even when it crashes.
    process_.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
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
  double firstOpen = 0;
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
// A new server on a fresh copy of the tally, for figures whose gesture
// changes what the next measurement would start from.
Session& FreshSession(size_t rows) {
  Sessions().erase(rows);
  return SessionOf(rows);
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
  // The first open after the server started also has the server read the
  // tally from its database; it is reported apart, every later open finds the
  // tally kept by the server.
  if (s.firstOpen == 0) {
    const auto start = std::chrono::steady_clock::now();
    if (!s.Open()) {
      state.SkipWithError("the worksheet did not open");
      return;
    }
    s.firstOpen = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    s.afterOpen = ResidentBytes();
    s.Close();
  }
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
  state.counters["first_open_s"] = s.firstOpen;
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

// Answers the modal dialogs that come up while it lives: `answer` returns the
// object name of the button to press for a dialog, or nothing to leave it.
class Answering {
 public:
  explicit Answering(std::function<QString(QWidget*)> answer) : answer_(std::move(answer)) {
    timer_.setInterval(1);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal) return;
      const QString button = answer_(modal);
      if (button.isEmpty()) return;
      for (QAbstractButton* b : modal->findChildren<QAbstractButton*>())
        if (b->objectName() == button) {
          ++answered;
          b->click();
          return;
        }
    });
    timer_.start();
  }
  int answered = 0;

 private:
  std::function<QString(QWidget*)> answer_;
  QTimer timer_;
};

QString MessageText(QWidget* modal) {
  auto* box = qobject_cast<QMessageBox*>(modal);
  return box ? box->text() : QString();
}

// "Apurar" confirmed: the server chooses the best quotations and the lists
// are reloaded and painted. The warning about chosen lines without economic
// price, when it comes, is acknowledged as part of the gesture.
bool Apurar(Session& s) {
  s.ShowPage("Cotação");
  GridView* quotes = s.view ? s.view->GridNamed("dbgFornecedor") : nullptr;
  if (!quotes || quotes->Model().rowCount() == 0) return false;
  ClickCell(quotes, 0, 1);
  s.Paint();
  QAction* apurar = s.view->ActionNamed("sbtApurar");
  if (!apurar || !apurar->isEnabled()) return false;
  Answering answers([](QWidget* modal) -> QString {
    const QString text = MessageText(modal);
    if (text.contains(QString::fromUtf8("Todas as cotações selecionadas"))) return "Sim";
    if (text.startsWith(QString::fromUtf8("Existe(m) preço(s)"))) return "OK";
    return {};
  });
  apurar->trigger();
  s.Paint();
  return answers.answered > 0;
}

// A buyer's first "Apurar" of the tally: each measurement starts on a server
// with a fresh copy of it, opened beforehand. Tallied again, a tally whose
// choices come out as they were has nothing to store, and would flatter it.
void Desktop_Apurar(benchmark::State& state) {
  const size_t rows = size_t(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    Session& s = FreshSession(rows);
    if (!s.Open()) {
      state.SkipWithError("the worksheet did not open");
      break;
    }
    state.ResumeTiming();
    if (!Apurar(s)) {
      state.SkipWithError("Apurar was not available or asked nothing");
      break;
    }
  }
  if (Sessions().count(rows)) SessionOf(rows).ShowPage("Produtos");
}

// The worksheet on "por Entrega" of a quotation line the server's tally
// chose; its delivery grid, or null.
GridView* OnChosenLine(Session& s) {
  if (!s.ShowPage("Cotação")) return nullptr;
  GridView* items = s.view->GridNamed("dbgProduto");
  GridView* quotes = s.view->GridNamed("dbgFornecedor");
  if (!items || !quotes) return nullptr;
  TClientDataSet* lines = quotes->Model().DataSet();
  const int flag = lines->FieldByName("IDITMSELAPUR").Index();
  const int name = lines->FieldByName("NMFANTFORN").Index();
  int column = 0;
  for (size_t c = 0; c < quotes->Model().Columns().size(); ++c)
    if (quotes->Model().Columns()[c].fieldName == "NMFANTFORN") column = int(c);
  for (int i = 0; i < std::min(items->Model().rowCount(), 50); ++i) {
    items->setFocus();
    items->setCurrentIndex(items->Model().index(i, 0));
    s.Paint();
    for (int r = 0; r < quotes->Model().rowCount(); ++r)
      if (lines->CellValue(r, flag).ToText() == "S" &&
          !lines->CellValue(r, name).ToText().empty()) {
        quotes->setFocus();
        quotes->setCurrentIndex(quotes->Model().index(r, column));
        s.Paint();
        if (!s.ShowPage("por Entrega")) return nullptr;
        GridView* deliveries = s.view->GridNamed("dbgPadrao");
        return deliveries && deliveries->Model().rowCount() > 0 ? deliveries : nullptr;
      }
  }
  return nullptr;
}

bool Editing(TClientDataSet* ds) {
  return ds->State() == TDataSetState::dsEdit || ds->State() == TDataSetState::dsInsert;
}

// Types `text` into the current row's `field` as the buyer does, leaving the
// cell with Tab.
bool TypeInto(Session& s, GridView* grid, const char* field, const QString& text) {
  const int col = ColumnOf(grid, field);
  if (col < 0) return false;
  // A dialog that closed may leave no window active, and keys then go nowhere.
  s.window->activateWindow();
  if (!QTest::qWaitForWindowActive(s.window.get())) return false;
  grid->setFocus();
  grid->setCurrentIndex(grid->Model().index(std::max(grid->currentIndex().row(), 0), col));
  QTest::keyClicks(grid, text.left(1));
  auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
  if (!editor) return false;
  editor->selectAll();
  QTest::keyClicks(editor, text);
  QTest::keyClick(editor, Qt::Key_Tab);
  return true;
}

bool Confirm(Session& s, TClientDataSet* ds) {
  if (Editing(ds)) {
    QAction* confirm = s.view->ActionNamed("sbtConfirmar");
    if (!confirm || !confirm->isEnabled()) return false;
    confirm->trigger();
  }
  s.Paint();
  return ds->State() == TDataSetState::dsBrowse;
}

// Ctrl+Del on the current delivery line, answered yes.
bool Release(Session& s, GridView* deliveries) {
  s.window->activateWindow();
  deliveries->setFocus();
  const int row = std::max(deliveries->currentIndex().row(), 0);
  deliveries->setCurrentIndex(deliveries->Model().index(row, ColumnOf(deliveries, "QTACOMP")));
  Answering yes([](QWidget* modal) { return MessageText(modal).isEmpty() ? QString() : "Sim"; });
  QTest::keyClick(deliveries, Qt::Key_Delete, Qt::ControlModifier);
  s.Paint();
  return yes.answered > 0;
}

// Ins on "por Entrega", a quantity typed, "Confirmar": a new delivery line of
// the cheapest free quotation, painted. The line is released again between
// measurements.
void Desktop_DeliveryInsert(benchmark::State& state) {
  Session& s = Opened(state);
  if (!Apurar(s)) {
    state.SkipWithError("Apurar was not available");
    return;
  }
  GridView* deliveries = OnChosenLine(s);
  if (!deliveries) {
    state.SkipWithError("no chosen quotation line with deliveries");
    return;
  }
  TClientDataSet* ds = deliveries->Model().DataSet();
  const int before = deliveries->Model().rowCount();
  for (auto _ : state) {
    s.window->activateWindow();
    if (!QTest::qWaitForWindowActive(s.window.get())) {
      state.SkipWithError("the main window is not active");
      break;
    }
    deliveries->setFocus();
    QTest::keyClick(deliveries, Qt::Key_Insert);
    bool ok = ds->State() == TDataSetState::dsInsert;
    for (int r = 0; ok && r < deliveries->Model().rowCount(); ++r)
      if (deliveries->Model().IsInsertRow(r))
        deliveries->setCurrentIndex(deliveries->Model().index(r, 0));
    ok = ok && TypeInto(s, deliveries, "QTACOMP", "3") && Confirm(s, ds) &&
         deliveries->Model().rowCount() == before + 1;
    state.PauseTiming();
    if (!ok || !Release(s, deliveries) || deliveries->Model().rowCount() != before) {
      state.SkipWithError("the new delivery line was not added and released");
      break;
    }
    // Back through "Cotação", as the buyer would to look at the line again.
    deliveries = OnChosenLine(s);
    if (!deliveries || deliveries->Model().rowCount() != before) {
      state.SkipWithError("the quotation line was not found again");
      break;
    }
    ds = deliveries->Model().DataSet();
    state.ResumeTiming();
  }
  s.ShowPage("Produtos");
}

// The supplier's ellipsis (Ctrl+Enter) on a delivery line, another quotation
// picked from the list, "Confirmar": the line moves to that supplier, painted.
// Measurements alternate between the last and the first quotation offered.
void Desktop_SupplierChange(benchmark::State& state) {
  Session& s = Opened(state);
  GridView* deliveries = OnChosenLine(s);
  if (!deliveries) {
    state.SkipWithError("no chosen quotation line with deliveries");
    return;
  }
  TClientDataSet* ds = deliveries->Model().DataSet();
  const int supplier = ColumnOf(deliveries, "NMFANTFORN");
  int k = 0;
  for (auto _ : state) {
    const bool last = k++ % 2 == 0;
    int offered = 0;
    Answering pick([&](QWidget* modal) -> QString {
      auto* list = modal->findChild<QTableView*>("pickListView");
      if (!list) return {};
      offered = list->model()->rowCount();
      if (offered == 0) return "Cancel";
      const int row = last ? offered - 1 : 0;
      list->selectRow(row);
      list->setCurrentIndex(list->model()->index(row, 1));
      return "OK";
    });
    s.window->activateWindow();
    deliveries->setFocus();
    deliveries->setCurrentIndex(deliveries->Model().index(0, supplier));
    QTest::keyClick(deliveries, Qt::Key_Return, Qt::ControlModifier);
    if (pick.answered == 0 || offered == 0 || !Confirm(s, ds)) {
      if (Editing(ds)) ds->Cancel();
      state.SkipWithError("no other quotation was picked");
      break;
    }
  }
  s.ShowPage("Produtos");
}

// "Efetivar" with the server's tally chosen: the choices are sent, the server
// makes the AFs, the worksheet closes and the AF analysis screen is painted.
// A tally is effectuated once, so each measurement starts on a server with a
// fresh copy of the tally, tallied through the view beforehand.
void Desktop_Effectuate(benchmark::State& state) {
  const size_t rows = size_t(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    Session& s = FreshSession(rows);
    if (!s.Open() || !Apurar(s) || !s.ShowPage("Cotação")) {
      state.SkipWithError("the worksheet did not open and tally");
      break;
    }
    GridView* quotes = s.view->GridNamed("dbgFornecedor");
    ClickCell(quotes, 0, 1);
    s.Paint();
    QAction* efetivar = s.view->ActionNamed("sbtGerarAF");
    if (!efetivar || !efetivar->isEnabled()) {
      state.SkipWithError("Efetivar is not available");
      break;
    }
    QStringList said;
    Answering ok([&](QWidget* modal) -> QString {
      const QString text = MessageText(modal);
      if (text.isEmpty() || (!said.isEmpty() && said.last() == text)) return {};
      said << text;
      return "OK";
    });
    TForm* analysis = nullptr;
    state.ResumeTiming();
    efetivar->trigger();
    while (!analysis) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      for (const auto& f : Application().Forms())
        if (f->Name == "frmAnaliseAF" && !f->Released()) analysis = f.get();
      if (!analysis && !said.isEmpty() && !said.last().contains("sucesso")) break;
    }
    if (analysis) s.Paint();
    state.PauseTiming();
    if (!analysis || !s.host->ViewOf(*analysis)) {
      // The library keeps the pointer: the text must outlive the run.
      static std::string why;
      why = ("no AF analysis: " + said.join(" | ")).toStdString();
      state.SkipWithError(why.c_str());
      break;
    }
    // The worksheet closed itself; the session is made afresh for the next.
    s.form = nullptr;
    s.view = nullptr;
    state.ResumeTiming();
  }
  Sessions().erase(rows);
}

// The quotation chart redrawn after the cursor moves to another line: the
// lines read from the table and the chart painted, the dock beside "Cotação".
void Desktop_Chart(benchmark::State& state) {
  Session& s = Opened(state);
  s.ShowPage("Cotação");
  QuoteChartDock* dock = s.window->ChartDock();
  if (!dock->isVisible()) s.window->ChartAction()->trigger();
  dock->FollowActive();
  s.Paint();
  QuoteChart* chart = dock->Chart();
  GridView* quotes = s.view ? s.view->GridNamed("dbgFornecedor") : nullptr;
  if (!quotes || chart->Followed() != quotes || quotes->Model().rowCount() == 0) {
    state.SkipWithError("the chart follows no quotation grid");
    return;
  }
  const int lines = quotes->Model().rowCount();
  int k = 0;
  for (auto _ : state) {
    state.PauseTiming();
    quotes->setCurrentIndex(quotes->Model().index(k++ % lines, 1));
    state.ResumeTiming();
    chart->Refresh();
    chart->View()->viewport()->repaint();
  }
  state.counters["lines"] = lines;
  s.window->ChartAction()->trigger();
  s.ShowPage("Produtos");
}

// A grid of delivery rows written to a spreadsheet file: text, number and
// date columns as the delivery grid has them, every row of the table.
void Desktop_Export(benchmark::State& state, SheetFormat format) {
  const int rows = int(state.range(0));
  TClientDataSet table("entregas");
  table.AddStringField("NMFANTFORN", 40);
  table.AddStringField("NMMARCA", 20);
  table.AddStringField("CDFILIAP", 4);
  table.AddDateTimeField("DTENTRAPUT");
  table.AddFloatField("QTACOMP").SetDisplayFormat("#0.000");
  table.AddFloatField("VRPRECUNIAP").SetDisplayFormat("####,##0.00000");
  table.AddFloatField("VRPRECECOAP").SetDisplayFormat("####,##0.00000");
  table.AddStringField("NRCOLEITMAP", 10);
  table.CreateDataSet();
  table.DisableControls();
  for (int r = 0; r < rows; ++r) {
    table.Append();
    table.Fields()[0]->SetAsString("Fornecedor " + std::to_string(r % 300));
    table.Fields()[1]->SetAsString("Marca " + std::to_string(r % 40));
    table.Fields()[2]->SetAsString(std::to_string(100 + r % 60));
    table.Fields()[3]->SetAsDateTime(DateTime::FromDate(2024, 1 + r % 12, 1 + r % 28));
    table.Fields()[4]->SetAsFloat(1 + r % 97);
    table.Fields()[5]->SetAsFloat(10.5 + (r % 1000) / 7.0);
    table.Fields()[6]->SetAsFloat(11.25 + (r % 1000) / 7.0);
    table.Fields()[7]->SetAsString(std::to_string(5000 + r % 900));
    table.Post();
  }
  table.EnableControls();
  std::vector<SheetColumn> columns;
  for (const auto& f : table.Fields())
    columns.push_back({QString::fromStdString(f->DisplayLabel()), f->Index(), f->DataType(),
                       f->DisplayFormat(), f->DataType() == FieldType::String, 90});
  const QString path =
      QDir(DataDir()).filePath(format == SheetFormat::Xlsx ? "export.xlsx" : "export.csv");
  QDir().mkpath(DataDir());
  qint64 bytes = 0;
  for (auto _ : state) {
    const ExportOutcome out = ExportRows(table, columns, path, format, [](int, int) {
      QCoreApplication::processEvents();
      return true;
    });
    if (!out.written) {
      state.SkipWithError(out.error.toStdString().c_str());
      break;
    }
    bytes = QFileInfo(path).size();
  }
  state.counters["file_mb"] = double(bytes) / 1e6;
  QFile::remove(path);
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
  // As the host's own main does.
  apura::desktop::TuneAllocatorForTables();
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  apura::CurrentFormat().decimalSeparator = ',';
  apura::CurrentFormat().thousandSeparator = '.';
  apura::CurrentFormat().shortDateFormat = "dd/mm/yyyy";
  // A dialog no figure answers would hold its gesture for ever: after a few
  // seconds it is closed, and said on the error stream, so that the figure
  // fails on its checks instead.
  QTimer unanswered;
  QPointer<QWidget> seen;
  int seenFor = 0;
  QObject::connect(&unanswered, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal != seen) {
      seen = modal;
      seenFor = 0;
      return;
    }
    if (++seenFor < 10) return;
    auto* box = qobject_cast<QMessageBox*>(modal);
    std::fprintf(stderr, "bench_desktop: closing an unanswered dialog: %s\n",
                 qPrintable(box ? box->text() : modal->windowTitle()));
    modal->close();
  });
  unanswered.start(500);
  for (int64_t rows : Sizes()) {
    const bool large = rows >= 500000;
    // Figures in the order they run; 0 iterations: as many as the library wants.
    const struct {
      const char* name;
      std::function<void(benchmark::State&)> run;
      int64_t iterations;
    } figures[] = {
        {"Desktop_Open", Desktop_Open, large ? 3 : 5},
        {"Desktop_TabSwitch", Desktop_TabSwitch, 0},
        {"Desktop_Totals", Desktop_Totals, 0},
        {"Desktop_ManualChoose", Desktop_ManualChoose, 20},
        {"Desktop_Apurar", Desktop_Apurar, 3},
        {"Desktop_DeliveryInsert", Desktop_DeliveryInsert, 10},
        {"Desktop_SupplierChange", Desktop_SupplierChange, 10},
        {"Desktop_Chart", Desktop_Chart, 0},
        {"Desktop_ExportXlsx",
         [](benchmark::State& st) { Desktop_Export(st, apura::desktop::SheetFormat::Xlsx); }, 2},
        {"Desktop_ExportCsv",
         [](benchmark::State& st) { Desktop_Export(st, apura::desktop::SheetFormat::Csv); }, 2},
        {"Desktop_Effectuate", Desktop_Effectuate, large ? 2 : 3},
    };
    for (const auto& f : figures) {
      auto* b =
          benchmark::RegisterBenchmark(f.name, f.run)->Arg(rows)->Unit(benchmark::kMillisecond);
      if (f.iterations > 0) b->Iterations(f.iterations);
    }
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

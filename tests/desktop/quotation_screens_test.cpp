#include "quotation_screens_test.h"

#include <dlfcn.h>
#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <functional>

#include "desktop/app/demo.h"
#include "desktop/app/local_database.h"
#include "desktop/app/main_window.h"
#include "desktop/app/module_loader.h"
#include "desktop/binding/dataset_model.h"
#include "desktop/binding/form_view.h"
#include "desktop/binding/grid_view.h"
#include "desktop/services/qt_host.h"
#include "desktop_session.h"
#include "framework/format.h"
#include "framework/netconnection.h"
#include "rpc/grpc_transport.h"

namespace apura::desktop::test {

namespace {

// The demo tally's quotation lines, as the worksheet reads them.
DataPacket QuotationLines(const HostSettings& s) {
  TNetConnection net(nullptr, "netPlanApurNegGrid");
  net.ServerName = "Prq05001.rdmPlanApurNegGrid";
  net.ThrowException = false;
  net.Host = s.serverHost;
  net.Port = s.serverPort;
  net.SetConnected(true);
  const auto& v = *s.launchValues;
  Value r =
      CheckResultServ(net.call("GetApurNeg", {ByRef(Value(v[0])), ByRef(Value(v[5]))}), false);
  net.SetConnected(false);
  return r.AsPacket();
}

std::string Cell(const DataPacket& p, const char* field, size_t row) {
  return p.Cell(static_cast<size_t>(p.FieldIndex(field)), row).ToText();
}
double Number(const DataPacket& p, const char* field, size_t row) {
  return p.Number(static_cast<size_t>(p.FieldIndex(field)), row);
}

// Runs `act` on the modal dialog once it is up.
void OnModal(std::function<void(QWidget*)> act) {
  auto tries = std::make_shared<int>(0);
  auto* timer = new QTimer(qApp);
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, tries, act] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) {
      if (++*tries > 1000) timer->deleteLater();
      return;
    }
    timer->stop();
    timer->deleteLater();
    act(modal);
  });
  timer->start();
}

void Click(QWidget* dialog, const char* name) {
  auto* b = dialog->findChild<QAbstractButton*>(name);
  QVERIFY2(b, name);
  QVERIFY2(b->isEnabled() && b->isVisible(), name);
  b->click();
}

}  // namespace

QuotationScreensTest::QuotationScreensTest() = default;
QuotationScreensTest::~QuotationScreensTest() = default;

void QuotationScreensTest::initTestCase() {
  SessionOptions options;
  options.tallied = true;
  options.openWorksheet = false;
  options.module = 4;
  const QString error = session_.Start(options);
  QVERIFY2(error.isEmpty(), qPrintable(error));
}

void QuotationScreensTest::cleanupTestCase() {
  session_.Stop();
}

void QuotationScreensTest::negotiationRecordsALowerPriceTheWorksheetReloads() {
  const HostSettings& s = Host().Settings();
  const DataPacket before = QuotationLines(s);
  size_t row = 0;
  while (row < before.RowCount() && Number(before, "VRPRECUNIAP", row) <= 0) ++row;
  QVERIFY(row < before.RowCount());
  const double price = Number(before, "VRPRECUNIAP", row);
  const double econ = Number(before, "PRECOECON", row);
  const ValueArray params = {
      Value(Cell(before, "CDCENTITMAP", row)), Value(Cell(before, "NRCOLEITMAP", row)),
      Value(Cell(before, "CDFORNITMAP", row)), Value(Cell(before, "CDPRODITMAP", row)),
      Value(Cell(before, "CDARVPROD", row)),   Value(Cell(before, "CDMARCITMAP", row)),
      Value(Cell(before, "CDREGITMAP", row)),  Value(s.launchValues->at(5))};
  const std::string lower = FormatFloat("0.00", price / 2);
  QString simulated, title;
  bool seen = false;
  OnModal([&](QWidget* dialog) {
    seen = true;
    title = dialog->windowTitle();
    auto* edit = dialog->findChild<QLineEdit*>("edtPrecoNeg");
    QVERIFY(edit);
    edit->selectAll();
    QTest::keyClicks(edit, QString::fromStdString(lower));
    Click(dialog, "sbtSimular");
    if (auto* l = dialog->findChild<QLabel*>("lblSimulacao")) simulated = l->text();
    const QString shots = qEnvironmentVariable("APURA_SCREENSHOT_DIR");
    if (!shots.isEmpty()) dialog->grab().save(shots + "/negociacao.png");
    Click(dialog, "sbtConfirma");
  });
  Host().LoadBPL("PRQ01802", params);
  QVERIFY(seen);
  QVERIFY2(title.contains(QString::fromUtf8("Negociação")), qPrintable(title));
  QVERIFY2(simulated.contains(QString::fromUtf8("Pr. Econômico")), qPrintable(simulated));

  const DataPacket after = QuotationLines(s);
  bool found = false;
  for (size_t r = 0; r < after.RowCount(); ++r) {
    if (Cell(after, "CDFORNITMAP", r) != Cell(before, "CDFORNITMAP", row) ||
        Cell(after, "CDPRODITMAP", r) != Cell(before, "CDPRODITMAP", row) ||
        Cell(after, "CDREGITMAP", r) != Cell(before, "CDREGITMAP", row) ||
        Cell(after, "NRCOLEITMAP", r) != Cell(before, "NRCOLEITMAP", row) ||
        Cell(after, "CDMARCITMAP", r) != Cell(before, "CDMARCITMAP", row))
      continue;
    found = true;
    double typed = 0;
    QVERIFY(TextToFloat(lower, typed));
    QCOMPARE(Number(after, "VRPRECUNIAP", r), typed);
    QVERIFY(Number(after, "PRECOECON", r) < econ);
  }
  QVERIFY(found);
  QVERIFY(Host().Shown().empty() || Host().Shown().back().find("error") == std::string::npos);
}

void QuotationScreensTest::spreadsheetShowsTheLineAndItsDeliveries() {
  const HostSettings& s = Host().Settings();
  const DataPacket lines = QuotationLines(s);
  QVERIFY(lines.RowCount() > 0);
  const ValueArray params = {Value(false),
                             Value(Cell(lines, "CDCENTITMAP", 0)),
                             Value(Cell(lines, "NRCOLEITMAP", 0)),
                             Value(Cell(lines, "CDFORNITMAP", 0)),
                             Value(Cell(lines, "CDPRODITMAP", 0)),
                             Value(Cell(lines, "CDARVPROD", 0)),
                             Value(Cell(lines, "CDMARCITMAP", 0)),
                             Value(Cell(lines, "CDREGITMAP", 0)),
                             Value(s.launchValues->at(5))};
  int rows = -1;
  QString supplier;
  bool confirmShown = true;
  OnModal([&](QWidget* dialog) {
    if (auto* grid = dialog->findChild<QTableView*>("dbgEntregas"))
      rows = grid->model() ? grid->model()->rowCount() : -1;
    if (auto* l = dialog->findChild<QLabel*>("lblFornecedor")) supplier = l->text();
    auto* confirm = dialog->findChild<QAbstractButton*>("sbtConfirma");
    confirmShown = confirm && confirm->isVisible();
    Click(dialog, "sbtCancel");
  });
  Host().LoadBPL("PRQ01803", params);
  QVERIFY(rows > 0);
  QVERIFY2(supplier.contains(QString::fromStdString(Cell(lines, "NMFANTFORN", 0))),
           qPrintable(supplier));
  QVERIFY(!confirmShown);
}

void QuotationScreensTest::worksheetSimulatesAndPrintsThroughTheScreens() {
  // A suite run before this one in the same process may have left the
  // module's worksheet flag set over a form that is gone.
  if (void* lib = dlopen(Loader().LibraryPath("PRQ05001").c_str(), RTLD_NOW | RTLD_NOLOAD)) {
    if (auto* created = static_cast<bool*>(dlsym(lib, "boStCriado"))) *created = false;
    dlclose(lib);
  }
  Host().Settings().activeModule = 34;
  Window().OpenWorksheet(*Host().Settings().launchValues);
  TForm* form = nullptr;
  for (const auto& f : Application().Forms())
    if (f->Name == "frmPlanApurNegGrid") form = f.get();
  QVERIFY(form);
  FormView* view = Host().ViewOf(*form);
  QVERIFY(view);
  auto* tabs = qobject_cast<QTabWidget*>(view->WidgetNamed("pgcPadrao"));
  QVERIFY(tabs);
  for (int i = 0; i < tabs->count(); ++i)
    if (tabs->tabText(i) == QString::fromUtf8("Cotação")) tabs->setCurrentIndex(i);
  QCoreApplication::processEvents();
  GridView* quotes = view->GridNamed("dbgFornecedor");
  QVERIFY(quotes);
  auto column = [quotes](const char* field) {
    const auto& cols = quotes->Model().Columns();
    for (size_t i = 0; i < cols.size(); ++i)
      if (QString::fromStdString(cols[i].fieldName).compare(field, Qt::CaseInsensitive) == 0)
        return int(i);
    return -1;
  };
  auto currentText = [quotes](int col) {
    return quotes->Model()
        .data(quotes->Model().index(quotes->currentIndex().row(), col), Qt::DisplayRole)
        .toString();
  };
  const int cPrice = column("VRPRECUNIAP"), cEcon = column("PRECOECON"),
            cName = column("NMFANTFORN");
  QVERIFY(cPrice >= 0 && cEcon >= 0 && cName >= 0);
  QVERIFY(quotes->Model().rowCount() > 1);
  quotes->setFocus();
  quotes->setCurrentIndex(quotes->Model().index(1, cPrice));
  QCoreApplication::processEvents();
  const QString supplier = currentText(cName);
  double price = 0, econ = 0;
  QVERIFY(TextToFloat(currentText(cPrice).replace(".", "").toStdString(), price));
  QVERIFY(TextToFloat(currentText(cEcon).replace(".", "").toStdString(), econ));
  QVERIFY(price > 0);

  // Negotiate a lower price: the worksheet comes back on the same line with
  // the price and a lower economic price.
  const std::string lower = FormatFloat("0.00", price / 2);
  bool negotiated = false;
  OnModal([&](QWidget* dialog) {
    auto* edit = dialog->findChild<QLineEdit*>("edtPrecoNeg");
    QVERIFY(edit);
    negotiated = true;
    QTest::keyClicks(edit, QString::fromStdString(lower));
    Click(dialog, "sbtConfirma");
  });
  auto* simulate = form->FindComponentAs<TControl>("sbtSimulacao");
  QVERIFY(simulate);
  QVERIFY(GuardedCall([simulate] { simulate->Click(); }));
  QVERIFY(negotiated);
  QCoreApplication::processEvents();
  QCOMPARE(currentText(cName), supplier);
  double now = 0, econNow = 0;
  QVERIFY(TextToFloat(currentText(cPrice).replace(".", "").toStdString(), now));
  QVERIFY(TextToFloat(currentText(cEcon).replace(".", "").toStdString(), econNow));
  double typed = 0;
  QVERIFY(TextToFloat(lower, typed));
  QCOMPARE(now, typed);
  QVERIFY(econNow < econ);

  // Print: the report form previews the tally of the current line.
  int pages = -1;
  Host().onReportPreview = [&](QPrintPreviewDialog& d) {
    if (auto* w = d.findChild<QPrintPreviewWidget*>()) pages = w->pageCount();
    d.reject();
  };
  OnModal([&](QWidget* dialog) {
    Click(dialog, "sbtVisualizar");
    Click(dialog, "sbtSair");
  });
  auto* print = form->FindComponentAs<TControl>("sbtImprimir");
  QVERIFY(print);
  QVERIFY(GuardedCall([print] { print->Click(); }));
  Host().onReportPreview = nullptr;
  QVERIFY(pages > 1);
  const auto& v = *Host().Settings().launchValues;
  QCOMPARE(Host().Shown().back(), "report: LIB050 P_NRAPURACAO=" + v[5] + " P_CDCENTITMAP=" + v[0]);
}

}  // namespace apura::desktop::test

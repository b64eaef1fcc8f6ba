#include "worksheet_view_test.h"

#include <sqlite3.h>
#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <set>

#include <fstream>

#include "desktop/app/demo.h"
#include "desktop/app/local_database.h"
#include "desktop/app/main_window.h"
#include "desktop/app/module_loader.h"
#include "desktop/binding/form_view.h"
#include "desktop/binding/grid_view.h"
#include "desktop/services/qt_host.h"
#include "desktop_session.h"
#include "framework/format.h"
#include "framework/netconnection.h"
#include "rpc/grpc_transport.h"

namespace apura::desktop::test {

namespace {

QStringList Column(GridView* g, int col) {
  QStringList out;
  DataSetModel& m = g->Model();
  for (int r = 0; r < m.rowCount(); ++r) out << m.data(m.index(r, col), Qt::DisplayRole).toString();
  return out;
}

}  // namespace

WorksheetViewTest::WorksheetViewTest() = default;
WorksheetViewTest::~WorksheetViewTest() = default;

void WorksheetViewTest::initTestCase() {
  SessionOptions options;
  options.screenHeight = 480;
  const QString error = session_.Start(options);
  QVERIFY2(error.isEmpty(), qPrintable(error));
  QVERIFY2(Host().Shown().empty() || Host().Shown().back().find("exception") == std::string::npos,
           Host().Shown().empty() ? "" : Host().Shown().back().c_str());
}

void WorksheetViewTest::cleanupTestCase() {
  session_.Stop();
}

void WorksheetViewTest::demoLaunchShowsTheTallysProducts() {
  QVERIFY(Form()->Active());
  QVERIFY(Host().HookInstalled());
  // A 480-pixel screen opens the worksheet maximised.
  auto* sub = qobject_cast<QMdiSubWindow*>(Host().WindowOf(*Form()));
  QVERIFY(sub);
  QVERIFY(sub->isMaximized());
  QCOMPARE(sub->windowTitle(), QString::fromUtf8("Apuração/Efetivação"));

  auto* tabs = qobject_cast<QTabWidget*>(View()->WidgetNamed("pgcPadrao"));
  QVERIFY(tabs);
  QStringList captions;
  for (int i = 0; i < tabs->count(); ++i) captions << tabs->tabText(i);
  QCOMPARE(captions, (QStringList{QString::fromUtf8("Produtos"), QString::fromUtf8("Cotação"),
                                  QString::fromUtf8("por Entrega")}));
  QCOMPARE(tabs->tabText(tabs->currentIndex()), QString::fromUtf8("Produtos"));

  GridView* products = Grid("dbgProdEsto");
  QVERIFY(products);
  QVERIFY(products->isVisible());
  QCOMPARE(products->Model().rowCount(), 12);  // the demo tally's stock products
  const QStringList names = Column(products, ColumnOf(products, "NMPRODUTO"));
  QCOMPARE(std::set<QString>(names.begin(), names.end()).size(), size_t(12));
  for (const QString& n : names) QVERIFY(!n.trimmed().isEmpty());
  // Product-tree codes as the demo stores them.
  const QString code = Column(products, ColumnOf(products, "CDARVPROD")).value(0);
  QVERIFY2(QRegularExpression("^\\d\\.\\d\\d\\.\\d{3}$").match(code).hasMatch(), qPrintable(code));

  // The header: week numbers, day names and the buyer.
  auto text = [&](const char* name) {
    auto* e = qobject_cast<QLineEdit*>(View()->WidgetNamed(name));
    return e ? e->text() : QString("<none>");
  };
  QVERIFY2(QRegularExpression("^\\d{1,2}$").match(text("edtNum_Sem_Ini")).hasMatch(),
           qPrintable(text("edtNum_Sem_Ini")));
  QVERIFY2(QRegularExpression("^\\d{1,2}$").match(text("edtNum_Sem_Fin")).hasMatch(),
           qPrintable(text("edtNum_Sem_Fin")));
  QCOMPARE(text("edtNmSem_Ini").size(), 3);
  QCOMPARE(text("edtEnt_Ini"), QString::fromStdString((*Host().Settings().launchValues)[3]));
  QCOMPARE(text("edtComprador"), QString::fromUtf8("Comprador de Demonstração"));
  // Totals panels are hidden.
  QWidget* totals = View()->WidgetNamed("panFiltro");
  QVERIFY(totals && totals->isHidden());
}

void WorksheetViewTest::clickingRegionProductAndQuotationChangesTheGrids() {
  ShowPage("Cotação");
  GridView* regions = Grid("dbgRegiao");
  GridView* items = Grid("dbgProduto");
  GridView* quotes = Grid("dbgFornecedor");
  QVERIFY(regions && items && quotes);
  QVERIFY(regions->Model().rowCount() > 1);
  QVERIFY(items->Model().rowCount() > 0);
  QVERIFY(quotes->Model().rowCount() > 0);

  // Prices in the locale's form, "#,##0.00000".
  const QString price = Column(quotes, ColumnOf(quotes, "VRPRECUNIAP")).value(0);
  QVERIFY2(QRegularExpression("^\\d{1,3}(\\.\\d{3})*,\\d{5}$").match(price).hasMatch(),
           qPrintable(price));
  QCOMPARE(quotes->Model()
               .headerData(ColumnOf(quotes, "QTACOMP"), Qt::Horizontal, Qt::DisplayRole)
               .toString(),
           QString("Qtde. Apurada"));

  // Another region: its own negotiated products, and their quotations.
  const int itemCol = ColumnOf(items, "CDARVPROD");
  const QStringList itemsBefore = Column(items, itemCol);
  const QStringList quotesBefore = Column(quotes, ColumnOf(quotes, "NMFANTFORN"));
  ClickCell(regions, 1, 0);
  QCOMPARE(regions->currentIndex().row(), 1);
  const QStringList itemsAfter = Column(items, itemCol);
  const QStringList quotesAfter = Column(quotes, ColumnOf(quotes, "NMFANTFORN"));
  QVERIFY(itemsAfter != itemsBefore || quotesAfter != quotesBefore);
  QCOMPARE(items->currentIndex().row(), 0);

  // Another negotiated product: its quotation lines.
  if (items->Model().rowCount() > 1) {
    const QStringList before = Column(quotes, ColumnOf(quotes, "VRPRECUNIAP"));
    ClickCell(items, 1, 0);
    QCOMPARE(items->currentIndex().row(), 1);
    QVERIFY(Column(quotes, ColumnOf(quotes, "VRPRECUNIAP")) != before);
  }

  // Alt+Page Down on the regions goes to the negotiated products, through
  // the worksheet's key handler; the focus follows the model.
  ClickCell(regions, 0, 0);
  QTest::keyClick(regions, Qt::Key_PageDown, Qt::AltModifier);
  QCOMPARE(Form()->ActiveControl(), items->Grid());
  QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(items));
  QCOMPARE(regions->currentIndex().row(), 0);  // the key did not page the regions

  // Another quotation line: the delivery page shows its branch requests.
  QVERIFY(quotes->Model().rowCount() > 1);
  ClickCell(quotes, 0, ColumnOf(quotes, "NMFANTFORN"));
  ShowPage("por Entrega");
  GridView* branches = Grid("dbgCot_Filial");
  QVERIFY(branches);
  const QStringList first = Column(branches, ColumnOf(branches, "QTSOLACOMP"));
  ShowPage("Cotação");
  // A line of another product of the same region gives other requests.
  ClickCell(items, 0, 0);
  ClickCell(quotes, quotes->Model().rowCount() - 1, ColumnOf(quotes, "NMFANTFORN"));
  QCOMPARE(quotes->currentIndex().row(), quotes->Model().rowCount() - 1);
  ShowPage("por Entrega");
  QVERIFY(branches->Model().rowCount() > 0);
  // The delivery grid: the reason column's title is the symbol font's check
  // mark, and the supplies module shows the price-PI column.
  GridView* deliveries = Grid("dbgPadrao");
  QVERIFY(deliveries);
  QCOMPARE(deliveries->Model().headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
           QString(QChar(0x2714)));
  QVERIFY(!deliveries->isColumnHidden(ColumnOf(deliveries, "VRPRECONPIAP")));
  QVERIFY(!quotes->isColumnHidden(ColumnOf(quotes, "PRECOECONPI")));
  const int dateCol = ColumnOf(branches, "DTENTRAPUT");
  QVERIFY2(QRegularExpression("^\\d\\d/\\d\\d/\\d{4}")
               .match(Column(branches, dateCol).value(0))
               .hasMatch(),
           qPrintable(Column(branches, dateCol).value(0)));
  Q_UNUSED(first);
  ShowPage("Produtos");
}

void WorksheetViewTest::buttonsFollowTheModelsEnabledStates() {
  static const char* const names[] = {"sbtApurar",   "sbtGerarAF",  "sbtSimulacao", "sbtPlanilha",
                                      "btnAnalisAF", "sbtTotais",   "sbtIncluir",   "sbtAlterar",
                                      "sbtExcluir",  "sbtProcurar", "sbtCancelar",  "sbtConfirmar"};
  auto checkAll = [&] {
    for (const char* n : names) {
      auto* b = Form()->FindComponentAs<TButtonFlat>(n);
      QAction* a = View()->ActionNamed(n);
      QVERIFY2(b && a, n);
      QVERIFY2(a->isEnabled() == b->Enabled(), n);
    }
  };
  // On the products page the tally command is off (its data link is the products').
  ShowPage("Produtos");
  GridView* products = Grid("dbgProdEsto");
  ClickCell(products, 0, 0);
  QCoreApplication::processEvents();
  QVERIFY(!View()->ActionNamed("sbtApurar")->isEnabled());
  checkAll();

  // On the quotation grid it comes on, and the menu item with it.
  ShowPage("Cotação");
  ClickCell(Grid("dbgFornecedor"), 0, 1);
  QCoreApplication::processEvents();
  QVERIFY(View()->ActionNamed("sbtApurar")->isEnabled());
  QVERIFY(View()->ActionNamed("mnuApurar")->isEnabled());
  QVERIFY(View()->ActionNamed("sbtAlterar")->isEnabled());  // module 34: quotation prices
  QVERIFY(!View()->ActionNamed("sbtConfirmar")->isEnabled());
  checkAll();
  // The model's own change reaches the action at once.
  auto* apurar = Form()->FindComponentAs<TButtonFlat>("sbtApurar");
  apurar->SetEnabled(false);
  QVERIFY(!View()->ActionNamed("sbtApurar")->isEnabled());
  apurar->SetEnabled(true);
  QVERIFY(View()->ActionNamed("sbtApurar")->isEnabled());
  QCOMPARE(View()->ActionNamed("mnuSimulacao")->shortcut(), QKeySequence("Ctrl+S"));
  ShowPage("Produtos");
}

void WorksheetViewTest::totalsToggleShowsAndHidesThePanelUnderTheGrids() {
  auto* tabs = qobject_cast<QTabWidget*>(View()->WidgetNamed("pgcPadrao"));
  QVERIFY(tabs);
  auto tabEnabled = [tabs](const char* caption) {
    for (int i = 0; i < tabs->count(); ++i)
      if (tabs->tabText(i) == QString::fromUtf8(caption)) return tabs->isTabEnabled(i);
    return false;
  };
  auto* panel = Form()->FindComponentAs<TPanel>("panFiltro");
  auto* valor = Form()->FindComponentAs<TNumberEdit>("nedVrForn");
  auto* contagem = Form()->FindComponentAs<TNumberEdit>("nedNumFornProd");
  QVERIFY(panel && valor && contagem);

  ShowPage("Cotação");
  GridView* quotes = Grid("dbgFornecedor");
  QVERIFY(quotes);
  ClickCell(quotes, 0, 1);
  QCoreApplication::processEvents();
  QWidget* panelWidget = View()->WidgetNamed("panFiltro");
  QVERIFY(panelWidget);
  QVERIFY(!panelWidget->isVisible());
  QAction* toggle = View()->ActionNamed("sbtTotais");
  QVERIFY(toggle && toggle->isEnabled());

  toggle->trigger();
  QCoreApplication::processEvents();
  QVERIFY(panel->Visible());
  QVERIFY(panelWidget->isVisible());
  QVERIFY(toggle->isChecked());
  QVERIFY(!tabEnabled("por Entrega"));
  QVERIFY(!View()->WidgetNamed("scbGeral")->isEnabled());
  QVERIFY(!View()->ActionNamed("sbtGerarAF")->isEnabled());
  // The displays show the model's figures in the user's number format.
  auto* shown = qobject_cast<QLineEdit*>(View()->WidgetNamed("nedVrForn"));
  QVERIFY(shown);
  QCOMPARE(shown->text(), QString::fromStdString(valor->Text()));
  QVERIFY2(QRegularExpression("^[0-9.]+,[0-9]{5}$").match(shown->text()).hasMatch(),
           qPrintable(shown->text()));
  auto* count = qobject_cast<QLineEdit*>(View()->WidgetNamed("nedNumFornProd"));
  QVERIFY(count);
  QVERIFY2(QRegularExpression("^[0-9]+$").match(count->text()).hasMatch(),
           qPrintable(count->text()));
  // Under the grids, not over them.
  QWidget* grid = Grid("dbgFornecedor");
  QVERIFY(panelWidget->mapTo(View(), QPoint(0, 0)).y() >
          grid->mapTo(View(), QPoint(0, grid->height() - 1)).y());

  // The menu entry hides it again and the button comes up.
  View()->ActionNamed("mnuTotais")->trigger();
  QCoreApplication::processEvents();
  QVERIFY(!panel->Visible());
  QVERIFY(!panelWidget->isVisible());
  QVERIFY(!toggle->isChecked());
  QVERIFY(tabEnabled("por Entrega"));
  QVERIFY(View()->WidgetNamed("scbGeral")->isEnabled());

  // The delivery page's panel.
  ShowPage("por Entrega");
  ClickCell(Grid("dbgCot_Filial"), 0, 0);
  QCoreApplication::processEvents();
  QWidget* delivery = View()->WidgetNamed("panFilt_Entrega");
  QVERIFY(delivery && !delivery->isVisible());
  QVERIFY(toggle->isEnabled());
  toggle->trigger();
  QCoreApplication::processEvents();
  QVERIFY(delivery->isVisible());
  QVERIFY(!tabEnabled("Cotação"));
  auto* filial = qobject_cast<QLineEdit*>(View()->WidgetNamed("nedVrTotFil_Ger"));
  QVERIFY(filial);
  QCOMPARE(filial->text(),
           QString::fromStdString(Form()->FindComponentAs<TNumberEdit>("nedVrTotFil_Ger")->Text()));
  toggle->trigger();
  QCoreApplication::processEvents();
  QVERIFY(!delivery->isVisible());
  QVERIFY(tabEnabled("Cotação"));
  ShowPage("Produtos");
}

void WorksheetViewTest::decimalKeyIsTranslatedOnlyWhileTheWorksheetIsActive() {
  ShowPage("Cotação");
  GridView* quotes = Grid("dbgFornecedor");
  auto* grid = quotes->Grid();
  std::vector<int> keys;
  auto own = grid->OnKeyDown;
  grid->OnKeyDown = [&, own](TComponent& s, int& k, TShiftState sh) {
    keys.push_back(k);
    if (own) own(s, k, sh);
  };
  // A float column that cannot be edited, so a typed key starts no editing.
  const int econ = ColumnOf(quotes, "PRECOECON");
  ClickCell(quotes, 0, econ);
  QCOMPARE(grid->SelectedIndex(), econ);
  QVERIFY(quotes->hasFocus());
  QTest::keyClick(quotes, Qt::Key_Period, Qt::KeypadModifier);
  QTest::keyClick(quotes, Qt::Key_Period);
  // A text column keeps the period.
  ClickCell(quotes, 0, ColumnOf(quotes, "NMFANTFORN"));
  QTest::keyClick(quotes, Qt::Key_Period);
  QCOMPARE(keys, (std::vector<int>{VK_OEM_COMMA, VK_OEM_COMMA, VK_OEM_PERIOD}));

  // Another window becomes active: the worksheet's hook is gone.
  ClickCell(quotes, 0, econ);
  keys.clear();
  auto* other = Window().Mdi()->addSubWindow(new QLineEdit);
  other->show();
  Window().Mdi()->setActiveSubWindow(other);
  QVERIFY(!Form()->Active());
  QVERIFY(!Host().HookInstalled());
  QTest::keyClick(quotes, Qt::Key_Period);
  QCOMPARE(keys, (std::vector<int>{VK_OEM_PERIOD}));

  // And back: translated again.
  Window().Mdi()->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(Host().WindowOf(*Form())));
  QVERIFY(Form()->Active());
  QVERIFY(Host().HookInstalled());
  quotes->setFocus();
  keys.clear();
  QTest::keyClick(quotes, Qt::Key_Period);
  QCOMPARE(keys, (std::vector<int>{VK_OEM_COMMA}));
  grid->OnKeyDown = own;
  delete other;
}

void WorksheetViewTest::secondLaunchBringsTheOpenWorksheetForward() {
  QVERIFY(Loader().IsLoaded("PRQ05001"));
  const size_t forms = Application().Forms().size();
  auto* buyer = qobject_cast<QLineEdit*>(View()->WidgetNamed("edtComprador"));
  QVERIFY(buyer);
  const QString before = buyer->text();
  std::vector<std::string> other = *Host().Settings().launchValues;
  other[2] = "Outro Comprador";
  Window().OpenWorksheet(other);
  // The module is loaded once and keeps its one worksheet, as it was.
  QCOMPARE(Application().Forms().size(), forms);
  QCOMPARE(Host().ViewOf(*Form()), View());
  QCOMPARE(buyer->text(), before);
  QVERIFY(Form()->Active());
}

void WorksheetViewTest::demoOfAnySizeKeepsItsOwnDatabase() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  HostSettings settings;
  QString error;
  QVERIFY2(ParseCommandLine({"apura", "--demo", "--demo-rows", "2000", "--demo-dir", dir.path()},
                            settings, error),
           qPrintable(error));
  auto sized = DemoEnvironment::FromSettings(settings, "/nonexistent/default");
  const QString sizedPath = QString::fromStdString(sized->DatabasePath());
  QVERIFY2(sizedPath.startsWith(dir.path()), qPrintable(sizedPath));
  QVERIFY2(sizedPath.endsWith("apura-demo-2000.sqlite"), qPrintable(sizedPath));
  QVERIFY(QFileInfo::exists(sizedPath));
  sized.reset();

  // The ordinary demo beside it uses a file of its own.
  HostSettings plain;
  plain.demoDir = dir.path().toStdString();
  auto ordinary = DemoEnvironment::FromSettings(plain, "/nonexistent/default");
  QVERIFY(QString::fromStdString(ordinary->DatabasePath()).endsWith("apura-demo.sqlite"));
}

namespace {

// Runs `sql` on the database; false when it fails (a file that is no database).
bool Exec(const std::string& db, const char* sql) {
  sqlite3* h = nullptr;
  bool ok = sqlite3_open(db.c_str(), &h) == SQLITE_OK &&
            sqlite3_exec(h, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(h);
  return ok;
}

bool HasMark(const std::string& db) {
  return Exec(db, "SELECT 1 FROM MARCA_TESTE");
}

}  // namespace

void WorksheetViewTest::demoKeepsWhatItMadeAndMakesAgainWhatItCannotTrust() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const std::string where = dir.path().toStdString();
  auto first = std::make_unique<DemoEnvironment>(where, 2000);
  const std::string db = first->DatabasePath();
  const std::vector<std::string> values = first->LaunchValues();
  first.reset();
  QVERIFY(Exec(db, "CREATE TABLE MARCA_TESTE (X INTEGER)"));

  // A second start opens what the first made, with the same dates.
  auto again = std::make_unique<DemoEnvironment>(where, 2000);
  QVERIFY(HasMark(db));
  QCOMPARE(again->LaunchValues(), values);
  again.reset();

  // Facts of another format: the database beside them is not trusted.
  {
    std::ofstream facts(db + ".facts", std::ios::trunc);
    facts << "format 0\n";
  }
  auto remade = std::make_unique<DemoEnvironment>(where, 2000);
  QVERIFY(!HasMark(db));
  QCOMPARE(remade->LaunchValues(), values);
  remade.reset();

  // A database that is no database is made again, and serves the tally.
  QVERIFY(Exec(db, "CREATE TABLE MARCA_TESTE (X INTEGER)"));
  {
    std::ofstream broken(db, std::ios::binary | std::ios::trunc);
    broken << std::string(8192, 'x');
  }
  for (const char* suffix : {"-wal", "-shm"}) QFile::remove(QString::fromStdString(db + suffix));
  auto rebuilt = std::make_unique<DemoEnvironment>(where, 2000);
  QVERIFY(!HasMark(db));
  QCOMPARE(rebuilt->LaunchValues(), values);
  rebuilt->EnsureTallied();
}

void WorksheetViewTest::commandsFitWithIconsAt1366AndStayPut() {
  Window().resize(1366, 768);
  QCoreApplication::processEvents();
  auto* sub = qobject_cast<QMdiSubWindow*>(Host().WindowOf(*Form()));
  QVERIFY(sub && sub->isMaximized());
  const QList<QToolBar*> bars = View()->findChildren<QToolBar*>();
  QVERIFY(!bars.isEmpty());
  QToolBar* bar = bars.front();
  // No command falls into the overflow, each has its picture.
  auto* overflow = bar->findChild<QToolButton*>("qt_toolbar_ext_button");
  QVERIFY(!overflow || !overflow->isVisible());
  int commands = 0;
  for (QAction* a : bar->actions()) {
    if (a->isSeparator() || !a->isVisible() || a->objectName().isEmpty()) continue;
    if (!a->objectName().startsWith("sbt") && !a->objectName().startsWith("btn")) continue;
    ++commands;
    QVERIFY2(!a->icon().isNull(), qPrintable(a->objectName()));
    QWidget* w = bar->widgetForAction(a);
    QVERIFY2(w && w->isVisible(), qPrintable(a->objectName()));
    QVERIFY2(bar->rect().contains(w->geometry()), qPrintable(a->objectName()));
  }
  QVERIFY(commands >= 14);

  // The product's name lives outside the toolbar: moving to another product
  // leaves every command where it was.
  QWidget* name = View()->WidgetNamed("dbtNome");
  QVERIFY(name);
  QVERIFY(!bar->isAncestorOf(name));
  QWidget* apurar = bar->widgetForAction(View()->ActionNamed("sbtApurar"));
  const QPoint before = apurar->pos();
  GridView* products = Grid("dbgProdEsto");
  for (int r = 0; r < std::min(products->Model().rowCount(), 4); ++r) {
    products->setFocus();
    products->setCurrentIndex(products->Model().index(r, 0));
    QCoreApplication::processEvents();
    QCOMPARE(apurar->pos(), before);
  }
  Window().resize(1280, 800);
}

void WorksheetViewTest::columnsAreWideEnoughForTheirContent() {
  for (const char* name : {"dbgProdEsto", "dbgRegiao"}) {
    GridView* g = Grid(name);
    QVERIFY(g);
    const QFontMetrics fm(g->font());
    DataSetModel& m = g->Model();
    for (int c = 0; c < m.columnCount(); ++c) {
      if (g->isColumnHidden(c)) continue;
      const QString title = m.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
      QVERIFY2(
          g->columnWidth(c) >= QFontMetrics(g->horizontalHeader()->font()).horizontalAdvance(title),
          qPrintable(QString("%1: %2").arg(name, title)));
      for (int r = 0; r < std::min(m.rowCount(), 20); ++r) {
        const QString text = m.data(m.index(r, c), Qt::DisplayRole).toString();
        QVERIFY2(g->columnWidth(c) >= fm.horizontalAdvance(text),
                 qPrintable(QString("%1: '%2' in %3 px").arg(name, text).arg(g->columnWidth(c))));
      }
    }
  }
}

void WorksheetViewTest::mainWindowFitsTheScreenAndRemembersWhereItWas() {
  QSettings store(Dir().filePath("window.ini"), QSettings::IniFormat);
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  {
    MainWindow first(Host());
    first.PlaceOnScreen(&store);
    first.show();
    QVERIFY(QTest::qWaitForWindowExposed(&first));
    const QRect placed = first.geometry();
    QVERIFY2(area.contains(placed), qPrintable(QString("%1,%2 %3x%4 in %5x%6")
                                                   .arg(placed.x())
                                                   .arg(placed.y())
                                                   .arg(placed.width())
                                                   .arg(placed.height())
                                                   .arg(area.width())
                                                   .arg(area.height())));
    QVERIFY(first.width() > area.width() * 9 / 10);
    // The session's line is there, cut at most, never gone.
    auto* status = first.statusBar()->findChild<QLabel*>();
    QVERIFY(status);
    QTRY_VERIFY(status->width() > first.width() / 4);
    // The user makes it smaller and closes it.
    first.setGeometry(area.left() + 40, area.top() + 60, 900, 600);
    first.close();
  }
  Host().SetMainWindow(&Window(), Window().Mdi());
  MainWindow again(Host());
  again.PlaceOnScreen(&store);
  QCOMPARE(again.geometry().size(), QSize(900, 600));
  QCOMPARE(again.geometry().topLeft(), QPoint(area.left() + 40, area.top() + 60));
  Host().SetMainWindow(&Window(), Window().Mdi());
}

}  // namespace apura::desktop::test

#include "delivery_editing_view_test.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include "demo_host.h"
#include "desktop/app/demo.h"
#include "desktop/app/local_database.h"
#include "desktop/app/main_window.h"
#include "desktop/app/module_loader.h"
#include "desktop/binding/form_view.h"
#include "desktop/binding/grid_view.h"
#include "desktop/services/qt_host.h"
#include "dialogs.h"
#include "framework/format.h"
#include "framework/netconnection.h"
#include "rpc/grpc_transport.h"
#include "server/services/tally_service.h"
#include "server/storage/sqlite/sqlite_storage.h"

namespace apura::desktop::test {

namespace {

int ColumnOf(GridView* g, const char* field) {
  const auto& cols = g->Model().Columns();
  for (size_t i = 0; i < cols.size(); ++i)
    if (QString::fromStdString(cols[i].fieldName).compare(field, Qt::CaseInsensitive) == 0)
      return int(i);
  return -1;
}

QString Cell(GridView* g, int row, const char* field) {
  DataSetModel& m = g->Model();
  return m.data(m.index(row, ColumnOf(g, field)), Qt::DisplayRole).toString();
}

QStringList ColumnTexts(GridView* g, const char* field) {
  QStringList out;
  for (int r = 0; r < g->Model().rowCount(); ++r) out << Cell(g, r, field);
  return out;
}

void ClickCell(GridView* g, int row, int col) {
  g->setFocus();
  const QRect r = g->visualRect(g->Model().index(row, col));
  if (r.isValid())
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, r.center());
  else
    g->setCurrentIndex(g->Model().index(row, col));
}

bool Editing(TClientDataSet* ds) {
  return ds && (ds->State() == TDataSetState::dsEdit || ds->State() == TDataSetState::dsInsert);
}

}  // namespace

DeliveryEditingViewTest::DeliveryEditingViewTest() = default;
DeliveryEditingViewTest::~DeliveryEditingViewTest() = default;

void DeliveryEditingViewTest::initTestCase() {
  QVERIFY(dir_.isValid());
  HostSettings settings = StartDemoHost(dir_, demo_);
  {
    // The best quotations chosen, as after the buyer's first tally; the
    // demo's server reads the change from the shared database file.
    server::SqliteStorage storage(demo_->DatabasePath());
    server::TallyService service(storage);
    const std::vector<std::string> launch = demo_->LaunchValues();
    service.MelhorCotacao(launch[0], launch[5], "PRQ", "F");
  }
  host_ = std::make_unique<QtHost>(settings);
  loader_ = std::make_unique<ModuleLoader>(ExecutableDir());
  host_->SetModuleLoader(loader_.get());
  window_ = std::make_unique<MainWindow>(*host_);
  window_->resize(1280, 800);
  window_->show();
  QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  window_->OpenWorksheet(*settings.launchValues);
  for (const auto& f : Application().Forms())
    if (f->Name == "frmPlanApurNegGrid") form_ = f.get();
  QVERIFY2(form_, "the worksheet form was not created");
  view_ = host_->ViewOf(*form_);
  QVERIFY(view_);
}

void DeliveryEditingViewTest::cleanupTestCase() {
  window_.reset();
  Application().DestroyForms();
  host_.reset();
  StopDemoHost(demo_);
}

GridView* DeliveryEditingViewTest::Grid(const char* name) const {
  return view_ ? view_->GridNamed(name) : nullptr;
}

void DeliveryEditingViewTest::Trigger(const char* action) {
  QAction* a = view_->ActionNamed(action);
  QVERIFY2(a, action);
  QVERIFY2(a->isEnabled(), action);
  a->trigger();
  QCoreApplication::processEvents();
}

void DeliveryEditingViewTest::ShowPage(const char* caption) {
  auto* tabs = qobject_cast<QTabWidget*>(view_->WidgetNamed("pgcPadrao"));
  QVERIFY(tabs);
  for (int i = 0; i < tabs->count(); ++i)
    if (tabs->tabText(i) == QString::fromUtf8(caption)) {
      QVERIFY2(tabs->isTabEnabled(i), caption);
      tabs->setCurrentIndex(i);
      QCOMPARE(tabs->currentIndex(), i);
      QCoreApplication::processEvents();
      return;
    }
  QFAIL(caption);
}

void DeliveryEditingViewTest::OnChosenQuotation() {
  ShowPage("Cotação");
  GridView* items = Grid("dbgProduto");
  GridView* quotes = Grid("dbgFornecedor");
  QVERIFY(items && quotes);
  TClientDataSet* lines = quotes->Model().DataSet();
  const int flag = lines->FieldByName("IDITMSELAPUR").Index();
  for (int i = 0; i < items->Model().rowCount(); ++i) {
    ClickCell(items, i, 0);
    for (int r = 0; r < quotes->Model().rowCount(); ++r)
      if (lines->CellValue(r, flag).ToText() == "S") {
        ClickCell(quotes, r, ColumnOf(quotes, "NMFANTFORN"));
        QCOMPARE(lines->FieldByName("IDITMSELAPUR").AsString(), std::string("S"));
        return;
      }
  }
  QFAIL("no chosen quotation on the demo tally");
}

void DeliveryEditingViewTest::TypeInto(GridView* grid, const char* field, const QString& text) {
  const int col = ColumnOf(grid, field);
  QVERIFY2(col >= 0, field);
  const int row = std::max(grid->currentIndex().row(), 0);
  // A dialog that closed may leave no window active, and keys then go nowhere.
  window_->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(window_.get()));
  grid->setFocus();
  grid->setCurrentIndex(grid->Model().index(row, col));
  QCOMPARE(grid->currentIndex().column(), col);
  QTest::keyClicks(grid, text.left(1));
  auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
  QVERIFY2(editor, qPrintable(QString("typing opened no cell editor; focus on %1, state %2")
                                  .arg(QApplication::focusWidget()
                                           ? QApplication::focusWidget()->metaObject()->className()
                                           : "nothing")
                                  .arg(grid->Model().rowCount())));
  editor->selectAll();
  QTest::keyClicks(editor, text);
  QTest::keyClick(editor, Qt::Key_Return);
  QCoreApplication::processEvents();
}

void DeliveryEditingViewTest::buyerAddsPicksChangesAndDeletesADeliveryLine() {
  OnChosenQuotation();
  ShowPage("por Entrega");
  GridView* deliveries = Grid("dbgPadrao");
  QVERIFY(deliveries);
  TClientDataSet* ds = deliveries->Model().DataSet();
  const int before = deliveries->Model().rowCount();
  QVERIFY(before > 0);
  const size_t stored = ds->StorageRows();

  // Ins: a new line, prefilled with the cheapest free supplier.
  deliveries->setFocus();
  QTest::keyClick(deliveries, Qt::Key_Insert);
  QCOMPARE(ds->State(), TDataSetState::dsInsert);
  const QString prefilled = QString::fromStdString(ds->FieldByName("NMFANTFORN").AsString());
  QVERIFY(!prefilled.isEmpty());
  for (int r = 0; r < deliveries->Model().rowCount(); ++r)
    if (deliveries->Model().IsInsertRow(r))
      deliveries->setCurrentIndex(deliveries->Model().index(r, 0));
  TypeInto(deliveries, "QTACOMP", "3");
  if (Editing(ds)) Trigger("sbtConfirmar");
  QCOMPARE(ds->State(), TDataSetState::dsBrowse);
  QCOMPARE(ds->StorageRows(), stored);
  QCOMPARE(deliveries->Model().rowCount(), before + 1);
  QVERIFY2(ColumnTexts(deliveries, "NMFANTFORN").contains(prefilled),
           qPrintable(ColumnTexts(deliveries, "NMFANTFORN").join(", ")));
  QVERIFY(ColumnTexts(deliveries, "QTACOMP").contains("3,000"));

  // The ellipsis of the supplier: another supplier from the pick list.
  const int row = deliveries->currentIndex().row();
  QCOMPARE(Cell(deliveries, row, "NMFANTFORN"), prefilled);
  deliveries->setCurrentIndex(deliveries->Model().index(row, ColumnOf(deliveries, "NMFANTFORN")));
  QString picked;
  auto pick = AnswerNextDialog("OK", [&](QWidget* dialog) {
    auto* list = dialog->findChild<QTableView*>("pickListView");
    if (!list || list->model()->rowCount() == 0) return;
    const int last = list->model()->rowCount() - 1;
    list->selectRow(last);
    list->setCurrentIndex(list->model()->index(last, 1));
    picked = list->model()->index(last, 1).data().toString();
  });
  QTest::keyClick(deliveries, Qt::Key_Return, Qt::ControlModifier);
  QTRY_VERIFY(pick->seen);
  QCOMPARE(pick->text, QString::fromUtf8("Cotação"));
  QVERIFY(!picked.isEmpty());
  QCOMPARE(ds->State(), TDataSetState::dsEdit);
  Trigger("sbtConfirmar");
  QCOMPARE(ds->State(), TDataSetState::dsBrowse);
  QCOMPARE(deliveries->Model().rowCount(), before + 1);
  QVERIFY2(ColumnTexts(deliveries, "NMFANTFORN").contains(picked),
           qPrintable(ColumnTexts(deliveries, "NMFANTFORN").join(", ")));

  // A new quantity for the picked line.
  for (int r = 0; r < deliveries->Model().rowCount(); ++r)
    if (Cell(deliveries, r, "NMFANTFORN") == picked)
      ClickCell(deliveries, r, ColumnOf(deliveries, "QTACOMP"));
  TypeInto(deliveries, "QTACOMP", "5");
  if (Editing(ds)) Trigger("sbtConfirmar");
  QCOMPARE(ds->State(), TDataSetState::dsBrowse);
  QVERIFY2(ColumnTexts(deliveries, "QTACOMP").contains("5,000"),
           qPrintable(ColumnTexts(deliveries, "QTACOMP").join(", ")));

  // Ctrl+Del with Yes (from the quantity, the one column the keyboard may
  // erase): the line goes, the rows stay.
  window_->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(window_.get()));
  for (int r = 0; r < deliveries->Model().rowCount(); ++r)
    if (Cell(deliveries, r, "NMFANTFORN") == picked)
      ClickCell(deliveries, r, ColumnOf(deliveries, "QTACOMP"));
  const size_t shown = host_->Shown().size();
  auto yes = AnswerNextDialog("Sim");
  QTest::keyClick(deliveries, Qt::Key_Delete, Qt::ControlModifier);
  QTRY_VERIFY(yes->seen);
  // The confirmation and nothing else: no error behind it.
  QCOMPARE(host_->Shown().size(), shown + 1);
  QCOMPARE(deliveries->Model().rowCount(), before);
  QVERIFY(!ColumnTexts(deliveries, "NMFANTFORN").contains(picked));
  QCOMPARE(ds->StorageRows(), stored);

  // Leaving the page rebuilds the quotation lists from what changed.
  ShowPage("Cotação");
  QCOMPARE(Grid("dbgFornecedor")->Model().DataSet()->Tag, 0);
}

void DeliveryEditingViewTest::reasonButtonShowsTheReasons() {
  OnChosenQuotation();
  ShowPage("por Entrega");
  GridView* deliveries = Grid("dbgPadrao");
  QVERIFY(deliveries->Model().rowCount() > 0);
  TClientDataSet* ds = deliveries->Model().DataSet();
  // A line the server's tally chose carries its reasons.
  const int reason = ds->FieldByName("IDMOTIVPRESC").Index();
  int row = -1;
  for (int r = 0; r < deliveries->Model().rowCount() && row < 0; ++r)
    if (!ds->CellValue(r, reason).ToText().empty()) row = r;
  QVERIFY2(row >= 0, "no delivery line with a reason code");
  QCOMPARE(Cell(deliveries, row, "IDMOTIVPRESC"), QString());
  window_->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(window_.get()));
  // The cell first, then its button.
  const QModelIndex cell = deliveries->Model().index(row, ColumnOf(deliveries, "IDMOTIVPRESC"));
  ClickCell(deliveries, row, cell.column());
  QCOMPARE(deliveries->currentIndex(), cell);
  QVERIFY(deliveries->CellHasEllipsis(cell));
  auto ok = AnswerNextDialog("OK");
  // Entering the column opens its editor at once, the button at its end.
  if (auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget())) {
    QToolButton* button = editor->findChild<QToolButton*>();
    QVERIFY2(button, "the reason editor has no button");
    QTest::mouseClick(button, Qt::LeftButton);
  } else {
    QTest::mouseClick(deliveries->viewport(), Qt::LeftButton, {},
                      GridView::EllipsisRect(deliveries->visualRect(cell)).center());
  }
  QTRY_VERIFY2(
      ok->seen,
      qPrintable(
          QString("shown: %1; code '%2'; field %3; focus %4")
              .arg(host_->Shown().empty() ? QString()
                                          : QString::fromStdString(host_->Shown().back()))
              .arg(QString::fromStdString(ds->FieldByName("IDMOTIVPRESC").AsString()))
              .arg(deliveries->Grid()->SelectedField()
                       ? QString::fromStdString(deliveries->Grid()->SelectedField()->FieldName())
                       : QString("none"))
              .arg(QApplication::focusWidget()
                       ? QApplication::focusWidget()->metaObject()->className()
                       : "none")));
  QVERIFY2(ok->text.startsWith("Escolhido"), qPrintable(ok->text));
}

void DeliveryEditingViewTest::correctedPriceAnsweredYesShowsTheNewEconomicPrices() {
  ShowPage("Cotação");
  GridView* quotes = Grid("dbgFornecedor");
  ClickCell(quotes, 0, ColumnOf(quotes, "NMFANTFORN"));
  TClientDataSet* ds = quotes->Model().DataSet();
  const double price = ds->FieldByName("VRPRECUNIAP").AsFloat();
  const double econ = ds->FieldByName("PRECOECON").AsFloat();
  Trigger("sbtAlterar");
  QCOMPARE(ds->State(), TDataSetState::dsEdit);
  const QString typed = QString::number(price * 2, 'f', 2).replace('.', ',');
  TypeInto(quotes, "VRPRECUNIAP", typed);
  auto yes = AnswerNextDialog("Sim");
  if (Editing(ds)) Trigger("sbtConfirmar");
  QTRY_VERIFY(yes->seen);
  QCOMPARE(yes->text,
           QString::fromUtf8("Deseja atualizar as cotações conforme novo preço informado?"));
  QCOMPARE(ds->State(), TDataSetState::dsBrowse);
  const double now = ds->FieldByName("PRECOECON").AsFloat();
  const double want = econ * ds->FieldByName("VRPRECUNIAP").AsFloat() / price;
  QVERIFY2(std::abs(now - want) < 1e-6 * want, qPrintable(QString::number(now)));
  QCOMPARE(Cell(quotes, quotes->currentIndex().row(), "PRECOECON"),
           QString::fromStdString(ds->FieldByName("PRECOECON").DisplayText()));
}

void DeliveryEditingViewTest::escRevertsTheCellThenGivesUpTheRow() {
  ShowPage("Cotação");
  GridView* quotes = Grid("dbgFornecedor");
  ClickCell(quotes, 0, ColumnOf(quotes, "NMFANTFORN"));
  TClientDataSet* ds = quotes->Model().DataSet();
  const std::string price = ds->FieldByName("VRPRECUNIAP").AsString();
  auto* tabs = qobject_cast<QTabWidget*>(view_->WidgetNamed("pgcPadrao"));
  QVERIFY(tabs);
  const int cols = ColumnOf(quotes, "VRPRECUNIAP");
  window_->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(window_.get()));
  quotes->setFocus();
  quotes->setCurrentIndex(quotes->Model().index(quotes->currentIndex().row(), cols));
  QTest::keyClicks(quotes, "9");
  auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
  QVERIFY2(editor, "typing opened no cell editor");
  QTest::keyClicks(editor, "87");
  QCOMPARE(ds->State(), TDataSetState::dsEdit);
  QTRY_VERIFY(!tabs->isTabEnabled(0));

  // The first Esc reverts the cell; the row is still being edited.
  QTest::keyClick(editor, Qt::Key_Escape);
  QCoreApplication::processEvents();
  QVERIFY(!qobject_cast<QLineEdit*>(QApplication::focusWidget()));
  QCOMPARE(ds->State(), TDataSetState::dsEdit);
  QCOMPARE(ds->FieldByName("VRPRECUNIAP").AsString(), price);

  // The second gives the row up, and the page's tabs and commands come back.
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  QCOMPARE(ds->State(), TDataSetState::dsBrowse);
  QCOMPARE(ds->FieldByName("VRPRECUNIAP").AsString(), price);
  QTRY_VERIFY(tabs->isTabEnabled(0));
  QVERIFY(view_->ActionNamed("sbtApurar")->isEnabled());
  // Esc with nothing being edited changes nothing.
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  QCOMPARE(ds->State(), TDataSetState::dsBrowse);
}

void DeliveryEditingViewTest::commandsComeBackRightAfterAClickOnConfirmar() {
  OnChosenQuotation();
  ShowPage("por Entrega");
  GridView* deliveries = Grid("dbgPadrao");
  TClientDataSet* ds = deliveries->Model().DataSet();
  deliveries->setFocus();
  QTest::keyClick(deliveries, Qt::Key_Insert);
  QCOMPARE(ds->State(), TDataSetState::dsInsert);
  for (int r = 0; r < deliveries->Model().rowCount(); ++r)
    if (deliveries->Model().IsInsertRow(r))
      deliveries->setCurrentIndex(deliveries->Model().index(r, 0));
  TypeInto(deliveries, "QTACOMP", "2");
  QCOMPARE(ds->State(), TDataSetState::dsInsert);
  const QStringList commands{"sbtApurar", "sbtGerarAF", "sbtSimulacao", "sbtPlanilha", "sbtTotais"};
  for (const QString& c : commands) {
    QAction* a = view_->ActionNamed(c);
    QVERIFY2(a, qPrintable(c));
    QVERIFY2(!a->isEnabled(), qPrintable(c));
  }
  QAction* confirm = view_->ActionNamed("sbtConfirmar");
  QToolButton* button = nullptr;
  for (QToolButton* b : view_->findChildren<QToolButton*>())
    if (b->defaultAction() == confirm && b->isVisible()) button = b;
  QVERIFY2(button, "Confirmar has no toolbar button");
  // A real click, and no other input after it.
  QTest::mouseClick(button, Qt::LeftButton);
  QCOMPARE(ds->State(), TDataSetState::dsBrowse);
  for (const QString& c : commands) QTRY_VERIFY2(view_->ActionNamed(c)->isEnabled(), qPrintable(c));
}

}  // namespace apura::desktop::test

#include "delivery_editing_view_test.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include "desktop/app/demo.h"
#include "desktop/app/local_database.h"
#include "desktop/app/main_window.h"
#include "desktop/app/module_loader.h"
#include "desktop/binding/form_view.h"
#include "desktop/binding/grid_view.h"
#include "desktop/services/qt_host.h"
#include "desktop_session.h"
#include "dialogs.h"
#include "framework/format.h"
#include "framework/netconnection.h"
#include "rpc/grpc_transport.h"

namespace apura::desktop::test {

namespace {

bool Editing(TClientDataSet* ds) {
  return ds && (ds->State() == TDataSetState::dsEdit || ds->State() == TDataSetState::dsInsert);
}

}  // namespace

DeliveryEditingViewTest::DeliveryEditingViewTest() = default;
DeliveryEditingViewTest::~DeliveryEditingViewTest() = default;

void DeliveryEditingViewTest::initTestCase() {
  SessionOptions options;
  options.tallied = true;
  const QString error = session_.Start(options);
  QVERIFY2(error.isEmpty(), qPrintable(error));
}

void DeliveryEditingViewTest::cleanupTestCase() {
  session_.Stop();
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
  Window().activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&Window()));
  for (int r = 0; r < deliveries->Model().rowCount(); ++r)
    if (Cell(deliveries, r, "NMFANTFORN") == picked)
      ClickCell(deliveries, r, ColumnOf(deliveries, "QTACOMP"));
  const size_t shown = Host().Shown().size();
  auto yes = AnswerNextDialog("Sim");
  QTest::keyClick(deliveries, Qt::Key_Delete, Qt::ControlModifier);
  QTRY_VERIFY(yes->seen);
  // The confirmation and nothing else: no error behind it.
  QCOMPARE(Host().Shown().size(), shown + 1);
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
  Window().activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&Window()));
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
              .arg(Host().Shown().empty() ? QString()
                                          : QString::fromStdString(Host().Shown().back()))
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
  auto* tabs = qobject_cast<QTabWidget*>(View()->WidgetNamed("pgcPadrao"));
  QVERIFY(tabs);
  const int cols = ColumnOf(quotes, "VRPRECUNIAP");
  Window().activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&Window()));
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
  QVERIFY(View()->ActionNamed("sbtApurar")->isEnabled());
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
    QAction* a = View()->ActionNamed(c);
    QVERIFY2(a, qPrintable(c));
    QVERIFY2(!a->isEnabled(), qPrintable(c));
  }
  QAction* confirm = View()->ActionNamed("sbtConfirmar");
  QToolButton* button = nullptr;
  for (QToolButton* b : View()->findChildren<QToolButton*>())
    if (b->defaultAction() == confirm && b->isVisible()) button = b;
  QVERIFY2(button, "Confirmar has no toolbar button");
  // A real click, and no other input after it.
  QTest::mouseClick(button, Qt::LeftButton);
  QCOMPARE(ds->State(), TDataSetState::dsBrowse);
  for (const QString& c : commands)
    QTRY_VERIFY2(View()->ActionNamed(c)->isEnabled(), qPrintable(c));
}

}  // namespace apura::desktop::test

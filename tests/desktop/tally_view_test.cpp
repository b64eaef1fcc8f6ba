#include "tally_view_test.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

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

// The open cell editor of the grid; null when none.
QLineEdit* Editor(GridView* g) {
  for (QLineEdit* e : g->viewport()->findChildren<QLineEdit*>())
    if (e->isVisible()) return e;
  return nullptr;
}
bool Typing(GridView* g) {
  return Editor(g) != nullptr;
}

QImage CellImage(GridView* g, int row, int col) {
  return g->viewport()->grab(g->visualRect(g->Model().index(row, col))).toImage();
}

// What the justification dialog looks like and how it takes keys, checked
// while it is up; it is then confirmed with Ctrl+Enter.
void ChecaEConfirma(QWidget* modal, const QString& texto) {
  auto* dialog = qobject_cast<QDialog*>(modal);
  QVERIFY(dialog);
  QCOMPARE(dialog->windowTitle(), QString("Justificativa"));
  QVERIFY(dialog->isModal());
  QCOMPARE(dialog->size(), QSize(447, 227));
  QVERIFY2(dialog->parentWidget(), "the dialog does not stand over the worksheet");
  auto* memo = dialog->findChild<QPlainTextEdit*>("memObserv");
  QVERIFY(memo);
  QVERIFY(memo->isVisible());
  memo->setFocus();
  memo->clear();
  QTest::keyClicks(memo, QString(310, 'x'));
  QCOMPARE(memo->toPlainText().size(), 300);
  memo->clear();
  QTest::keyClicks(memo, texto);
  QTest::keyClick(memo, Qt::Key_Return);  // a line break, not a confirmation
  QVERIFY(dialog->isVisible());
  QTest::keyClicks(memo, "fim");
  QCOMPARE(memo->toPlainText(), texto + "\nfim");
  TallyViewTest::Screenshot(dialog, "justificativa.png");
  QTest::keyClick(memo, Qt::Key_Return, Qt::ControlModifier);
  QVERIFY(!dialog->isVisible());
}

}  // namespace

TallyViewTest::TallyViewTest() = default;
TallyViewTest::~TallyViewTest() = default;

void TallyViewTest::initTestCase() {
  SessionOptions options;
  options.screenHeight = 480;
  const QString error = session_.Start(options);
  QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TallyViewTest::cleanupTestCase() {
  session_.Stop();
}

QString TallyViewTest::Sel(int row) const {
  TClientDataSet* ds = Grid("dbgFornecedor")->Grid()->DataSet();
  return QString::fromStdString(
      ds->CellValue(row, ds->FieldByName("IDITMSELAPUR").Index()).ToText());
}

int TallyViewTest::OnPricedLine() {
  GridView* quotes = Grid("dbgFornecedor");
  TClientDataSet* ds = quotes->Grid()->DataSet();
  const int price = ColumnOf(quotes, "VRPRECUNIAP");
  const int unit = ds->FieldByName("VRPRECUNIAP").Index();
  // A chosen line can always be dropped and chosen again; otherwise the
  // first line with a price.
  int row = -1;
  for (int r = 0; r < quotes->Model().rowCount(); ++r)
    if (Sel(r) == "S") row = r;
  for (int r = 0; row < 0 && r < quotes->Model().rowCount(); ++r)
    if (ds->CellValue(r, unit).AsFloat() > 0) row = r;
  if (row < 0) return -1;
  quotes->activateWindow();
  quotes->setFocus();
  const QRect r = quotes->visualRect(quotes->Model().index(row, price));
  if (r.isValid())
    QTest::mouseClick(quotes->viewport(), Qt::LeftButton, {}, r.center());
  else
    quotes->setCurrentIndex(quotes->Model().index(row, price));
  QCoreApplication::processEvents();
  return row;
}

void TallyViewTest::Screenshot(QWidget* w, const char* name) {
  const QString dir = qEnvironmentVariable("APURA_SCREENSHOT_DIR");
  if (dir.isEmpty() || !w) return;
  QDir().mkpath(dir);
  QVERIFY(w->grab().save(dir + "/" + name));
}

void TallyViewTest::apurarAnsweredSimShowsTheServersChoice() {
  ShowPage("Cotação");
  GridView* quotes = Grid("dbgFornecedor");
  QVERIFY(quotes && quotes->Model().rowCount() > 0);
  // A click, as the buyer's: the host's message hook sets the commands.
  quotes->setFocus();
  QTest::mouseClick(quotes->viewport(), Qt::LeftButton, {},
                    quotes->visualRect(quotes->Model().index(0, 1)).center());
  QCoreApplication::processEvents();
  QAction* apurar = View()->ActionNamed("sbtApurar");
  QVERIFY(apurar && apurar->isEnabled());
  QVERIFY(View()->ActionNamed("mnuApurar")->isEnabled());

  // The warning about chosen lines without economic price, when the demo's
  // tally has any, is acknowledged while this runs.
  QTimer avisos;
  int warned = 0;
  connect(&avisos, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->text().startsWith(QString::fromUtf8("Existe(m) preço(s)"))) return;
    ++warned;
    if (auto* ok = box->findChild<QAbstractButton*>("OK")) ok->click();
  });
  avisos.start(10);
  auto sim = AnswerNextDialog("Sim");
  apurar->trigger();
  QVERIFY(sim->seen);
  QVERIFY(
      sim->text.contains(QString::fromUtf8("Todas as cotações selecionadas serão desmarcadas")));
  avisos.stop();
  QVERIFY(warned <= 1);

  // The server's choice is marked: some negotiated product of the region
  // has a chosen line.
  GridView* items = Grid("dbgProduto");
  int chosen = -1;
  for (int i = 0; i < items->Model().rowCount() && chosen < 0; ++i) {
    items->setCurrentIndex(items->Model().index(i, 0));
    QCoreApplication::processEvents();
    for (int r = 0; r < quotes->Model().rowCount() && chosen < 0; ++r)
      if (Sel(r) == "S") chosen = r;
  }
  QVERIFY2(chosen >= 0, "no quotation line chosen by the server in the region");
  quotes->setCurrentIndex(quotes->Model().index(chosen, ColumnOf(quotes, "VRPRECUNIAP")));
  QCoreApplication::processEvents();
  Screenshot(&Window(), "apurar-cotacao.png");

  ShowPage("por Entrega");
  QVERIFY(Grid("dbgCot_Filial")->Model().rowCount() > 0);
  QVERIFY(Grid("dbgPadrao")->Model().rowCount() > 0);
  Screenshot(&Window(), "apurar-por-entrega.png");
  ShowPage("Cotação");
}

void TallyViewTest::spaceOnThePriceChoosesAndDropsWithTheMarkPaintedAtOnce() {
  ShowPage("Cotação");
  GridView* quotes = Grid("dbgFornecedor");
  QVERIFY(quotes);
  const int row = OnPricedLine();
  QVERIFY2(row >= 0, "no priced quotation line on the demo tally");
  const int price = ColumnOf(quotes, "VRPRECUNIAP");
  QCOMPARE(quotes->Grid()->SelectedIndex(), price);
  QTRY_VERIFY(quotes->hasFocus());

  std::map<QString, QImage> looks;
  looks[Sel(row)] = CellImage(quotes, row, price);
  for (int step = 0; step < 2; ++step) {
    const bool choosing = Sel(row) != "S";
    std::shared_ptr<DialogAnswer> dialog;
    if (choosing)
      dialog = AnswerNextDialog("none", [](QWidget* m) { ChecaEConfirma(m, "Menor prazo"); });
    QTest::keyClick(quotes, Qt::Key_Space);
    if (dialog) QVERIFY2(dialog->seen, "no justification was asked for the choice");
    QCOMPARE(Sel(row), QString(choosing ? "S" : "N"));
    // Nothing else moved and nothing is being typed.
    QCOMPARE(quotes->currentIndex().row(), row);
    QVERIFY(!Typing(quotes));
    QCOMPARE(quotes->Grid()->DataSet()->State(), TDataSetState::dsBrowse);
    // The cell shows the new state at once, without another event.
    looks[Sel(row)] = CellImage(quotes, row, price);
    if (choosing) Screenshot(&Window(), "escolha-manual.png");
  }
  QCOMPARE(looks.size(), size_t(2));
  QVERIFY2(looks["S"] != looks["N"], "the chosen mark is not painted");
  QVERIFY(Form()->Active());
}

void TallyViewTest::closingTheJustificationDialogUndoesTheChoice() {
  ShowPage("Cotação");
  GridView* quotes = Grid("dbgFornecedor");
  const int row = OnPricedLine();
  QVERIFY(row >= 0);
  if (Sel(row) == "S") {
    QTest::keyClick(quotes, Qt::Key_Space);
    QCOMPARE(Sel(row), QString("N"));
  }
  auto dialog = AnswerNextDialog("none", [](QWidget* m) {
    auto* memo = m->findChild<QPlainTextEdit*>("memObserv");
    QVERIFY(memo);
    QTest::keyClicks(memo, "sem confirmar");
    // The window's close box.
    m->close();
  });
  QTest::keyClick(quotes, Qt::Key_Space);
  QVERIFY(dialog->seen);
  QCOMPARE(Sel(row), QString("N"));
  QVERIFY(!QApplication::activeModalWidget());
  QVERIFY(Form()->Active());
}

void TallyViewTest::aTypedPriceTakesNoSignOrExponent() {
  ShowPage("Cotação");
  GridView* quotes = Grid("dbgFornecedor");
  const int row = OnPricedLine();
  QVERIFY(row >= 0);
  TClientDataSet* ds = quotes->Grid()->DataSet();
  const std::string antes = ds->FieldByName("VRPRECUNIAP").AsString();
  // Signs and exponents never reach the cell.
  for (Qt::Key k : {Qt::Key_Minus, Qt::Key_Plus, Qt::Key_E}) {
    QTest::keyClick(quotes, k);
    QVERIFY(!Typing(quotes));
  }
  // A digit opens the price for typing (supplies module); inside, signs and
  // exponents are still refused.
  QTest::keyClick(quotes, Qt::Key_1);
  QTRY_VERIFY(Typing(quotes));
  QLineEdit* editor = Editor(quotes);
  QVERIFY(editor);
  QTest::keyClick(editor, Qt::Key_E);
  QTest::keyClick(editor, Qt::Key_Minus);
  QTest::keyClick(editor, Qt::Key_2);
  QCOMPARE(editor->text(), QString("12"));
  QTest::keyClick(editor, Qt::Key_Escape);
  QTRY_VERIFY(!Typing(quotes));
  if (ds->State() != TDataSetState::dsBrowse) ds->Cancel();
  QCOMPARE(ds->FieldByName("VRPRECUNIAP").AsString(), antes);
}

}  // namespace apura::desktop::test

#include "host_extras_test.h"

#include <QAction>
#include <QApplication>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <cmath>

#include "desktop/app/main_window.h"
#include "desktop/binding/form_view.h"
#include "desktop/binding/grid_view.h"
#include "desktop/services/grid_export.h"
#include "desktop/services/help_viewer.h"
#include "desktop/services/quote_chart.h"
#include "desktop/services/xlsx_sheet.h"
#include "dialogs.h"
#include "framework/format.h"

namespace apura::desktop::test {

namespace {

QString Sel(GridView* quotes, int row) {
  TClientDataSet* ds = quotes->Model().DataSet();
  return QString::fromStdString(
      ds->CellValue(row, ds->FieldByName("IDITMSELAPUR").Index()).ToText());
}

double Num(GridView* g, int row, const char* field) {
  TClientDataSet* ds = g->Model().DataSet();
  return ds->CellValue(row, ds->FieldByName(field).Index()).AsFloat();
}

QJsonDocument RunPython(const char* script, const QString& path) {
  // Debian's interpreter, where python3-openpyxl installs.
  QString python = QStandardPaths::findExecutable("python3", {"/usr/bin"});
  if (python.isEmpty()) python = "python3";
  QProcess p;
  p.start(python, {"-c", script, path});
  if (!p.waitForFinished(60000) || p.exitCode() != 0) {
    qWarning("%s", p.readAllStandardError().constData());
    return {};
  }
  return QJsonDocument::fromJson(p.readAllStandardOutput());
}

// The workbook as openpyxl reads it: the header, the second row's values,
// types and number formats, the frozen cell, the filter, the size and
// the print setup.
QJsonObject ReadWorkbook(const QString& path) {
  static const char* script = R"(
import json, sys, datetime, openpyxl
ws = openpyxl.load_workbook(sys.argv[1]).active
def cell(c):
    v = c.value
    if isinstance(v, datetime.datetime): v = v.strftime('%Y-%m-%d')
    return {'v': v, 't': c.data_type, 'f': c.number_format, 'date': c.is_date}
print(json.dumps({
  'header': [c.value for c in ws[1]],
  'header_bold': all(c.font.b for c in ws[1]),
  'rows': [[cell(c) for c in r] for r in ws.iter_rows(min_row=2, max_row=4)],
  'freeze': ws.freeze_panes, 'filter': ws.auto_filter.ref, 'max_row': ws.max_row,
  'landscape': ws.page_setup.orientation == 'landscape',
  'one_page_wide': bool(ws.sheet_properties.pageSetUpPr.fitToPage) and
                   ws.page_setup.fitToWidth in (None, 1) and ws.page_setup.fitToHeight == 0,
  'print_titles': ws.print_title_rows}))
)";
  return RunPython(script, path).object();
}

// Every cell of the workbook as openpyxl reads it, row by row.
QJsonArray ReadCells(const QString& path) {
  static const char* script = R"(
import json, sys, datetime, openpyxl
ws = openpyxl.load_workbook(sys.argv[1]).active
def cell(c):
    v = c.value
    if isinstance(v, datetime.datetime): v = v.isoformat()
    return {'v': v, 't': c.data_type, 'f': c.number_format, 'date': c.is_date}
print(json.dumps([[cell(c) for c in r] for r in ws.iter_rows()]))
)";
  return RunPython(script, path).array();
}

// The chart's bar of a line, in the chart view's viewport.
QPoint BarPoint(QuoteChart& chart, int index, bool upper) {
  const QuoteBar& b = chart.Bars()[size_t(index)];
  // Two sets share a category, one each side of its centre; halfway along
  // the shorter bar is on either.
  const QPointF at(std::min(b.unit, b.economic) / 2, index + (upper ? 0.12 : -0.12));
  QChart* c = chart.Chart();
  const QPointF scene = c->mapToScene(c->mapToPosition(at, c->series().first()));
  return chart.View()->mapFromScene(scene);
}

void Justify(QWidget* modal) {
  auto* memo = modal->findChild<QPlainTextEdit*>("memObserv");
  QVERIFY(memo);
  memo->setFocus();
  QTest::keyClicks(memo, "Melhor prazo");
  QTest::keyClick(memo, Qt::Key_Return, Qt::ControlModifier);
}

}  // namespace

void HostExtrasTest::initTestCase() {
  SessionOptions options;
  options.screenHeight = 480;
  const QString error = session_.Start(options);
  QVERIFY2(error.isEmpty(), qPrintable(error));
  Exporter().report = [this](const QString& m) { reported_ = m; };
}

void HostExtrasTest::cleanupTestCase() {
  session_.Stop();
}

GridExporter& HostExtrasTest::Exporter() {
  return *Window().Exporter();
}

QuoteChart& HostExtrasTest::Chart() {
  return *Window().ChartDock()->Chart();
}

// A priced line of the quotation grid with the cursor on its unit price; -1
// when the product in view has none.
int HostExtrasTest::OnPricedLine() {
  ShowPage("Cotação");
  GridView* quotes = Grid("dbgFornecedor");
  int row = -1;
  for (int r = 0; r < quotes->Model().rowCount() && row < 0; ++r)
    if (Num(quotes, r, "VRPRECUNIAP") > 0 && Sel(quotes, r) != "S") row = r;
  if (row < 0) return -1;
  Window().activateWindow();
  ClickCell(quotes, row, ColumnOf(quotes, "VRPRECUNIAP"));
  QCoreApplication::processEvents();
  return quotes->Model().CursorRow() == row ? row : -1;
}

void HostExtrasTest::quoteBarsReadTheLinesAndFlagUnreachedMinimums() {
  TClientDataSet t("linhas");
  t.AddStringField("NMFANTFORN", 40);
  t.AddStringField("NMMARCA", 20);
  t.AddStringField("NRCOLEITMAP", 10);
  t.AddFloatField("VRPRECUNIAP").SetDisplayFormat("#,##0.00000");
  t.AddFloatField("PRECOECON").SetDisplayFormat("#,##0.00000");
  t.AddStringField("IDITMSELAPUR", 1);
  t.AddFloatField("QTACOMP");
  t.AddFloatField("QTMINAUTFOT");
  t.AddStringField("IDQTMINFORN", 1);
  t.AddFloatField("VRMINAUTFOR");
  t.AddStringField("IDVRMINFORN", 1);
  t.CreateDataSet();
  struct Row {
    const char* supplier;
    double unit, econ;
    const char* sel;
    double qty, minQty, minValue;
    const char* kind;
  };
  // Chosen, 10 x 12.5 = 125 short of 200; chosen and 5 short of 8 units;
  // chosen and above both; not chosen, nothing bought: never flagged.
  for (const Row& r :
       {Row{"Alfa", 12.5, 13.25, "S", 10, 0, 200, "R"},
        Row{"Beta", 1234.5, 1300, "S", 5, 8, 0, "A"}, Row{"Gama", 3, 3.5, "S", 100, 8, 200, "R"},
        Row{"Delta", 2, 2.5, "N", 0, 8, 200, "R"}}) {
    t.Append();
    t.FieldByName("NMFANTFORN").SetAsString(r.supplier);
    t.FieldByName("NMMARCA").SetAsString("M");
    t.FieldByName("VRPRECUNIAP").SetAsFloat(r.unit);
    t.FieldByName("PRECOECON").SetAsFloat(r.econ);
    t.FieldByName("IDITMSELAPUR").SetAsString(r.sel);
    t.FieldByName("QTACOMP").SetAsFloat(r.qty);
    t.FieldByName("QTMINAUTFOT").SetAsFloat(r.minQty);
    t.FieldByName("IDQTMINFORN").SetAsString(r.kind);
    t.FieldByName("VRMINAUTFOR").SetAsFloat(r.minValue);
    t.FieldByName("IDVRMINFORN").SetAsString(r.kind);
    t.Post();
  }
  t.SetRecNo(2);
  const std::vector<QuoteBar> bars = ReadQuoteBars(t);
  QCOMPARE(bars.size(), size_t(4));
  QCOMPARE(bars[1].unit, 1234.5);
  QCOMPARE(bars[1].unitText, QString("1.234,50000"));
  QCOMPARE(bars[0].economicText, QString("13,25000"));
  QVERIFY(bars[1].current && !bars[0].current);
  QVERIFY(bars[0].chosen && !bars[3].chosen);
  QVERIFY(bars[0].belowMinValue && !bars[0].belowMinQuantity && bars[0].minimumBlocks);
  QVERIFY(bars[1].belowMinQuantity && !bars[1].belowMinValue && !bars[1].minimumBlocks);
  QVERIFY(!bars[2].belowMinValue && !bars[2].belowMinQuantity);
  QVERIFY(!bars[3].belowMinValue && !bars[3].belowMinQuantity);
  QVERIFY(bars[0].minimumText.contains("125,00") && bars[0].minimumText.contains("200,00"));
  QVERIFY(bars[0].Category().startsWith(QString::fromUtf8("✔ Alfa / M")));
  QVERIFY(bars[1].Category().startsWith(QString::fromUtf8("▶ ")));

  // A table without the quotation fields gives no bars rather than wrong ones.
  TClientDataSet other("outra");
  other.AddStringField("NMFANTFORN", 40);
  other.CreateDataSet();
  QVERIFY(!IsQuotationTable(other));
  QVERIFY(ReadQuoteBars(other).empty());
}

void HostExtrasTest::chartFollowsCursorChoiceDropAndPriceCorrection() {
  if (!Window().ChartDock()->isVisible()) Window().ChartAction()->trigger();
  QVERIFY(Window().ChartDock()->isVisible());
  ShowPage("Cotação");
  GridView* quotes = Grid("dbgFornecedor");
  QTRY_COMPARE(Chart().Followed(), quotes);
  QTRY_COMPARE(int(Chart().Bars().size()), quotes->Model().rowCount());
  QVERIFY(quotes->Model().rowCount() > 1);
  QCOMPARE(Chart().UnitSet()->count(), quotes->Model().rowCount());

  // The cursor.
  ClickCell(quotes, 1, ColumnOf(quotes, "NMFANTFORN"));
  QTRY_VERIFY(Chart().Bars()[1].current);
  QVERIFY(!Chart().Bars()[0].current);
  QVERIFY(Chart().Summary().contains(Cell(quotes, 1, "NMFANTFORN").trimmed()));
  for (int r = 0; r < quotes->Model().rowCount(); ++r) {
    QCOMPARE(Chart().Bars()[size_t(r)].unit, Num(quotes, r, "VRPRECUNIAP"));
    QCOMPARE(Chart().Bars()[size_t(r)].economicText, Cell(quotes, r, "PRECOECON"));
  }

  // A choice and its drop.
  const int row = OnPricedLine();
  QVERIFY2(row >= 0, "no priced line to choose");
  auto dialog = AnswerNextDialog("none", Justify);
  QTest::keyClick(quotes, Qt::Key_Space);
  QVERIFY(dialog->seen);
  QCOMPARE(Sel(quotes, row), QString("S"));
  QTRY_VERIFY(Chart().Bars()[size_t(row)].chosen);
  QVERIFY(Chart().UnitSet()->isBarSelected(row));
  QVERIFY(Chart().EconomicSet()->isBarSelected(row));
  QVERIFY(Chart().Summary().contains("(escolhida)"));
  QTest::keyClick(quotes, Qt::Key_Space);
  QCOMPARE(Sel(quotes, row), QString("N"));
  QTRY_VERIFY(!Chart().Bars()[size_t(row)].chosen);
  QVERIFY(!Chart().UnitSet()->isBarSelected(row));

  // A price correction.
  TClientDataSet* ds = quotes->Model().DataSet();
  const double price = Num(quotes, row, "VRPRECUNIAP");
  Trigger("sbtAlterar");
  QCOMPARE(ds->State(), TDataSetState::dsEdit);
  const double typed = std::round(price * 150) / 100;
  TypeInto(quotes, "VRPRECUNIAP", QString::number(typed, 'f', 2).replace('.', ','));
  auto yes = AnswerNextDialog("Sim");
  if (ds->State() != TDataSetState::dsBrowse) Trigger("sbtConfirmar");
  QTRY_VERIFY(yes->seen);
  QCOMPARE(ds->State(), TDataSetState::dsBrowse);
  QCOMPARE(ds->FieldByName("VRPRECUNIAP").AsFloat(), typed);
  // The lines may be in another order by the new price: the cursor's is it.
  const int at = quotes->Model().CursorRow();
  QTRY_COMPARE(Chart().Bars()[size_t(at)].unit, typed);
  QVERIFY(Chart().Bars()[size_t(at)].current);
  QCOMPARE(Chart().Bars()[size_t(at)].economic, ds->FieldByName("PRECOECON").AsFloat());
  QCOMPARE(Chart().UnitSet()->at(at), typed);
  QCOMPARE(Chart().EconomicSet()->at(at), ds->FieldByName("PRECOECON").AsFloat());
  QCOMPARE(Chart().Bars()[size_t(at)].unitText, Cell(quotes, at, "VRPRECUNIAP"));
}

void HostExtrasTest::aClickOnABarMovesTheQuotationGrid() {
  if (!Window().ChartDock()->isVisible()) Window().ChartAction()->trigger();
  ShowPage("Cotação");
  GridView* quotes = Grid("dbgFornecedor");
  ClickCell(quotes, 0, ColumnOf(quotes, "NMFANTFORN"));
  QTRY_COMPARE(Chart().Followed(), quotes);
  QTRY_VERIFY(!Chart().Bars().empty() && Chart().Bars()[0].current);
  const int last = int(Chart().Bars().size()) - 1;
  QVERIFY(last > 0);
  Chart().Refresh();
  QTest::mouseClick(Chart().View()->viewport(), Qt::LeftButton, {}, BarPoint(Chart(), last, true));
  QTRY_COMPARE(quotes->Model().CursorRow(), last);
  QCOMPARE(quotes->currentIndex().row(), last);
  QTRY_VERIFY(Chart().Bars()[size_t(last)].current);
  // The keyboard does the same from the chart.
  Chart().View()->setFocus();
  QTest::keyClick(Chart().View(), Qt::Key_Left);
  QTRY_COMPARE(quotes->Model().CursorRow(), last - 1);
  QTest::keyClick(Chart().View(), Qt::Key_Home);
  QTRY_COMPARE(quotes->Model().CursorRow(), 0);
}

void HostExtrasTest::chartShownOrHiddenIsRemembered() {
  QTemporaryDir dir;
  QSettings store(dir.filePath("apura.ini"), QSettings::IniFormat);
  const bool wasVisible = Window().ChartDock()->isVisible();
  const QRect geometry = Window().geometry();
  Window().PlaceOnScreen(&store);
  if (Window().ChartDock()->isVisible()) Window().ChartAction()->trigger();
  QCOMPARE(store.value("window/quoteChart").toBool(), false);
  Window().ChartAction()->trigger();
  QVERIFY(Window().ChartDock()->isVisible());
  QCOMPARE(store.value("window/quoteChart").toBool(), true);
  // A later start reads it back.
  Window().ChartDock()->hide();
  Window().PlaceOnScreen(&store);
  QVERIFY(Window().ChartDock()->isVisible());
  store.setValue("window/quoteChart", false);
  Window().PlaceOnScreen(&store);
  QVERIFY(!Window().ChartDock()->isVisible());
  Window().PlaceOnScreen(nullptr);
  Window().setGeometry(geometry);
  Window().ChartDock()->setVisible(wasVisible);
}

void HostExtrasTest::xlsxHoldsTheVisibleColumnsAndRowsWithTypesAndFormats() {
  ShowPage("Cotação");
  GridView* quotes = Grid("dbgFornecedor");
  TClientDataSet* ds = quotes->Model().DataSet();
  QHeaderView* header = quotes->horizontalHeader();
  // The buyer's own order: the unit price dragged to the front.
  const int price = ColumnOf(quotes, "VRPRECUNIAP");
  const int from = header->visualIndex(price);
  header->moveSection(from, 0);
  // And a column the buyer does not see.
  const int brand = ColumnOf(quotes, "NMMARCA");
  quotes->setColumnHidden(brand, true);
  QStringList titles;
  for (int v = 0; v < header->count(); ++v) {
    const int l = header->logicalIndex(v);
    if (!quotes->isColumnHidden(l))
      titles << quotes->Model().headerData(l, Qt::Horizontal, Qt::DisplayRole).toString();
  }
  QTemporaryDir dir;
  const QString path = dir.filePath("cotacao.xlsx");
  const ExportOutcome out = ExportGrid(*quotes, path, SheetFormat::Xlsx);
  header->moveSection(0, from);
  quotes->setColumnHidden(brand, false);
  QVERIFY2(out.written, qPrintable(out.error));
  QCOMPARE(out.rows, quotes->Model().rowCount());
  // The lines of the product and region in view, not the whole table.
  QVERIFY(size_t(out.rows) < ds->StorageRows());
  QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"cotacao.xlsx"});

  const QJsonObject book = ReadWorkbook(path);
  QVERIFY2(!book.isEmpty(), "openpyxl could not read the workbook");
  QStringList header1;
  for (const auto& v : book["header"].toArray()) header1 << v.toString();
  QCOMPARE(header1, titles);
  QVERIFY(!titles.contains("Nome da Marca"));
  QVERIFY(book["header_bold"].toBool());
  QCOMPARE(book["freeze"].toString(), QString("A2"));
  QVERIFY(book["filter"].toString().startsWith("A1:"));
  QCOMPARE(book["max_row"].toInt(), out.rows + 1);
  QVERIFY(book["landscape"].toBool());
  QVERIFY(book["one_page_wide"].toBool());
  QCOMPARE(book["print_titles"].toString(), QString("$1:$1"));
  const QJsonArray first = book["rows"].toArray()[0].toArray();
  const QJsonObject unit = first[0].toObject();
  QCOMPARE(unit["t"].toString(), QString("n"));
  QCOMPARE(unit["f"].toString(), QString("#,##0.00000"));
  QCOMPARE(unit["v"].toDouble(), Num(quotes, 0, "VRPRECUNIAP"));
  const int name = titles.indexOf("Nome Fantasia");
  QVERIFY(name > 0);
  QCOMPARE(first[name].toObject()["t"].toString(), QString("s"));
  QCOMPARE(first[name].toObject()["v"].toString(), Cell(quotes, 0, "NMFANTFORN"));
  const int qty = titles.indexOf("Qtde. Apurada");
  QVERIFY(qty > 0);
  QCOMPARE(first[qty].toObject()["f"].toString(), QString("#,##0.000"));
}

void HostExtrasTest::xlsxWritesDatesAsDates() {
  ShowPage("por Entrega");
  GridView* branches = Grid("dbgCot_Filial");
  QVERIFY(branches->Model().rowCount() > 0);
  QTemporaryDir dir;
  const QString path = dir.filePath("filiais.xlsx");
  const ExportOutcome out = ExportGrid(*branches, path, SheetFormat::Xlsx);
  QVERIFY2(out.written, qPrintable(out.error));
  const QJsonObject book = ReadWorkbook(path);
  QVERIFY2(!book.isEmpty(), "openpyxl could not read the workbook");
  const int col = ColumnOf(branches, "DTENTRAPUT");
  const QJsonObject date = book["rows"].toArray()[0].toArray()[col].toObject();
  QVERIFY(date["date"].toBool());
  QCOMPARE(date["f"].toString(), QString("dd/mm/yyyy"));
  // The same day the grid shows.
  const QDate shown = QDate::fromString(Cell(branches, 0, "DTENTRAPUT"), "dd/MM/yyyy");
  QCOMPARE(date["v"].toString(), shown.toString("yyyy-MM-dd"));
  ShowPage("Cotação");
}

void HostExtrasTest::xlsxKeepsEveryTextAndNumberAsWritten() {
  // Texts a grid may hold: repeated ones, markup, line breaks, blanks at the
  // ends, characters past the basic plane, control characters, a byte that is
  // not UTF-8 and one longer than a cell takes; numbers that need all their
  // digits and ones a sheet cannot hold.
  const std::string longText(40000, 'x');
  const std::vector<std::string> texts = {"Fornecedor A",
                                          "  espaços  ",
                                          "a<b & \"c\" > d",
                                          "linha1\nlinha2\r\nfim",
                                          "ação ✔ 😀",
                                          "Fornecedor A",
                                          "\tno início",
                                          longText,
                                          "caf\xE9",
                                          "ctl\x01",
                                          "",
                                          "Fornecedor A"};
  const std::vector<double> numbers = {1.5,  0.1 + 0.2,     -1e-300, 1e21, std::nan(""), HUGE_VAL,
                                       -0.5, 123456789.125, 2,       0,    -HUGE_VAL,    7};
  QTemporaryDir dir;
  const QString path = dir.filePath("textos.xlsx");
  {
    XlsxSheet sheet(QFile::encodeName(path).toStdString(),
                    {{"Texto", 20, ""}, {"Valor", 12, "#,##0.00"}, {"Data", 10, ""}},
                    int(texts.size()), "dd/mm/yyyy");
    // The three titles and four texts shared, the rest in their cells.
    sheet.LimitSharedTexts(7);
    for (size_t r = 0; r < texts.size(); ++r) {
      sheet.BeginRow();
      sheet.Text(0, texts[r]);
      sheet.Number(1, numbers[r]);
      // 15/03/2023, at noon on odd rows.
      sheet.Date(2, 45000 + (r % 2 ? 0.5 : 0));
      sheet.EndRow();
    }
    QVERIFY(sheet.Finish());
  }
  const QJsonArray rows = ReadCells(path);
  QCOMPARE(rows.size(), qsizetype(texts.size() + 1));
  const QJsonArray header = rows[0].toArray();
  QCOMPARE(header[0].toObject()["v"].toString(), QString("Texto"));
  QCOMPARE(header[2].toObject()["v"].toString(), QString("Data"));
  for (size_t r = 0; r < texts.size(); ++r) {
    const QJsonArray row = rows[qsizetype(r + 1)].toArray();
    QCOMPARE(row.size(), 3);
    const QJsonObject text = row[0].toObject();
    QString want = QString::fromUtf8(texts[r].data(), qsizetype(texts[r].size()));
    if (texts[r] == longText) want.truncate(XlsxSheet::kMaxTextUnits);
    // Shown as the spreadsheet shows it; openpyxl leaves the notation as it is.
    if (texts[r] == "ctl\x01") want = "ctl_x0001_";
    if (texts[r].empty()) {
      QVERIFY(text["v"].isNull());
    } else {
      QCOMPARE(text["v"].toString(), want);
      QCOMPARE(text["t"].toString(), QString("s"));
    }
    const QJsonObject number = row[1].toObject();
    if (std::isfinite(numbers[r])) {
      QCOMPARE(number["v"].toDouble(), numbers[r]);
      QCOMPARE(number["f"].toString(), QString("#,##0.00"));
    } else {
      QVERIFY(number["v"].isNull());
    }
    const QJsonObject date = row[2].toObject();
    QVERIFY(date["date"].toBool());
    QCOMPARE(date["v"].toString(), QString(r % 2 ? "2023-03-15T12:00:00" : "2023-03-15T00:00:00"));
    QCOMPARE(date["f"].toString(), QString(r % 2 ? "dd/mm/yyyy hh:mm" : "dd/mm/yyyy"));
  }
}

void HostExtrasTest::xlsxThatCannotBeWrittenIsAFailure() {
  // A full disk: the write fails while the sheet's rows are deflated, or as
  // the last parts go out.
  for (int rows : {3, 20000}) {
    XlsxSheet sheet("/dev/full", {{"Texto", 20, ""}, {"Valor", 12, "0.00"}}, rows, "dd/mm/yyyy");
    for (int r = 0; r < rows && sheet.ok(); ++r) {
      sheet.BeginRow();
      sheet.Text(0, "linha " + std::to_string(r));
      sheet.Number(1, r / 3.0);
      sheet.EndRow();
    }
    QVERIFY2(!sheet.Finish(), qPrintable(QString::number(rows)));
    QVERIFY(!sheet.ok());
  }
}

void HostExtrasTest::moreRowsThanASheetHoldsAreRefusedForXlsx() {
  // One more than a sheet takes below its header: the rows past it would be
  // lost without a word.
  TClientDataSet table("linhas");
  table.AddIntegerField("NR");
  table.CreateDataSet();
  table.DisableControls();
  for (int r = 0; r < XlsxSheet::kMaxRows; ++r) {
    table.Append();
    table.Post();
  }
  table.EnableControls();
  std::vector<SheetColumn> columns(1);
  columns[0].title = "Nr";
  columns[0].field = 0;
  columns[0].type = FieldType::Integer;
  columns[0].asText = false;
  QTemporaryDir dir;
  const ExportOutcome out =
      ExportRows(table, columns, dir.filePath("muitas.xlsx"), SheetFormat::Xlsx);
  QVERIFY(!out.written);
  QVERIFY(out.error.contains(".csv"));
  QVERIFY(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

void HostExtrasTest::csvUsesSemicolonsAndTheUsersDecimalSeparator() {
  ShowPage("Cotação");
  GridView* quotes = Grid("dbgFornecedor");
  QTemporaryDir dir;
  const QString path = dir.filePath("cotacao.csv");
  const ExportOutcome out = ExportGrid(*quotes, path, SheetFormat::Csv);
  QVERIFY2(out.written, qPrintable(out.error));
  QFile f(path);
  QVERIFY(f.open(QIODevice::ReadOnly));
  const QByteArray bytes = f.readAll();
  QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
  const QStringList lines = QString::fromUtf8(bytes.mid(3)).split("\r\n", Qt::SkipEmptyParts);
  QCOMPARE(lines.size(), out.rows + 1);
  const QStringList head = lines[0].split(';');
  const int price = head.indexOf(QString::fromUtf8("Pr. Unitário"));
  const int name = head.indexOf("Nome Fantasia");
  QVERIFY(price >= 0 && name >= 0);
  for (int r = 0; r < out.rows; ++r) {
    const QStringList cells = lines[r + 1].split(';');
    QCOMPARE(cells.size(), head.size());
    // Grouping left out, so spreadsheets read the text back as the number.
    const QString want =
        QString::fromStdString(FormatFloat("0.00000", Num(quotes, r, "VRPRECUNIAP")));
    QCOMPARE(cells[price], want);
    QVERIFY(cells[price].contains(',') && !cells[price].contains('.'));
    QCOMPARE(cells[name], Cell(quotes, r, "NMFANTFORN"));
  }
}

void HostExtrasTest::aCancelledExportLeavesNoFile() {
  ShowPage("Cotação");
  GridView* quotes = Grid("dbgFornecedor");
  QTemporaryDir dir;
  for (SheetFormat format : {SheetFormat::Xlsx, SheetFormat::Csv}) {
    // Stopped at the start, and stopped once every row was written.
    for (bool atEnd : {false, true}) {
      const QString path = dir.filePath(format == SheetFormat::Xlsx ? "a.xlsx" : "a.csv");
      int calls = 0;
      const ExportOutcome out = ExportGrid(*quotes, path, format, [&](int done, int total) {
        ++calls;
        return atEnd ? done < total : false;
      });
      QVERIFY(out.cancelled);
      QVERIFY(!out.written);
      QVERIFY(calls > 0);
      QVERIFY2(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty(),
               qPrintable(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).join(",")));
    }
  }
  // An earlier file of that name stays as it was.
  const QString kept = dir.filePath("b.csv");
  QFile f(kept);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write("antes");
  f.close();
  QVERIFY(ExportGrid(*quotes, kept, SheetFormat::Csv, [](int, int) { return false; }).cancelled);
  QVERIFY(f.open(QIODevice::ReadOnly));
  QCOMPARE(f.readAll(), QByteArray("antes"));
  // A folder that cannot be written to is an error, not a success.
  const ExportOutcome bad = ExportGrid(*quotes, "/proc/nao/existe.xlsx", SheetFormat::Xlsx);
  QVERIFY(!bad.written && !bad.cancelled && !bad.error.isEmpty());
}

void HostExtrasTest::theGridsContextMenuExportsToTheChosenFile() {
  ShowPage("Cotação");
  GridView* quotes = Grid("dbgFornecedor");
  ClickCell(quotes, 0, 1);
  QCOMPARE(Exporter().CurrentGrid(), quotes);
  QTemporaryDir dir;
  QString suggested;
  Exporter().choosePath = [&](QWidget*, const QString& s) {
    suggested = s;
    return dir.filePath("menu.xlsx");
  };
  const QPoint at = quotes->visualRect(quotes->Model().index(0, 1)).center();
  QContextMenuEvent event(QContextMenuEvent::Mouse, at, quotes->viewport()->mapToGlobal(at));
  QApplication::sendEvent(quotes->viewport(), &event);
  QMenu* menu = nullptr;
  QTRY_VERIFY((menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())));
  QAction* action = menu->findChild<QAction*>("exportarPlanilha");
  QVERIFY(action);
  QCOMPARE(action->text(), GridExporter::ActionText());
  menu->close();
  action->trigger();
  QTRY_VERIFY(QFile::exists(dir.filePath("menu.xlsx")));
  QVERIFY(suggested.endsWith(".xlsx"));
  QVERIFY(
      suggested.startsWith(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)));
  QVERIFY2(reported_.contains(QDir::toNativeSeparators(dir.filePath("menu.xlsx"))),
           qPrintable(reported_));

  // The "Arquivo" menu's command acts on the grid last used; the buyer may
  // also pick .csv.
  Exporter().choosePath = [&](QWidget*, const QString&) { return dir.filePath("menu.csv"); };
  QAction* file = Window().findChild<QAction*>("exportarPlanilha");
  QVERIFY(file);
  file->trigger();
  QTRY_VERIFY(QFile::exists(dir.filePath("menu.csv")));
  Exporter().choosePath = [](QWidget*, const QString&) { return QString(); };
}

void HostExtrasTest::f1OnTheWorksheetOpensItsPage() {
  ShowPage("Cotação");
  GridView* quotes = Grid("dbgFornecedor");
  ClickCell(quotes, 0, 1);
  QTest::keyClick(quotes, Qt::Key_F1);
  HelpViewer* viewer = Window().Help()->Viewer();
  QVERIFY(viewer);
  QTRY_VERIFY(viewer->isVisible());
  QCOMPARE(viewer->CurrentPage(), QString("planilha.html"));
  QVERIFY(viewer->Browser()->toPlainText().contains(QString::fromUtf8("Apuração/Efetivação")));
  // The worksheet's key went nowhere else: the grid is as it was.
  QCOMPARE(quotes->Model().DataSet()->State(), TDataSetState::dsBrowse);
  // The search finds pages by their words.
  QVERIFY(viewer->Search("Justificativa").contains("justificativa.html"));
  viewer->close();
}

void HostExtrasTest::f1OnTheJustificationDialogOpensItsPage() {
  const int row = OnPricedLine();
  QVERIFY(row >= 0);
  GridView* quotes = Grid("dbgFornecedor");
  QString page;
  bool overDialog = false;
  auto dialog = AnswerNextDialog("none", [&](QWidget* modal) {
    auto* memo = modal->findChild<QPlainTextEdit*>("memObserv");
    QVERIFY(memo);
    memo->setFocus();
    QTest::keyClick(memo, Qt::Key_F1);
    HelpViewer* viewer = Window().Help()->Viewer();
    QVERIFY(viewer);
    QTRY_VERIFY(viewer->isVisible());
    page = viewer->CurrentPage();
    overDialog = viewer->parentWidget() == modal;
    viewer->close();
    QVERIFY(memo->toPlainText().isEmpty());
    Justify(modal);
  });
  QTest::keyClick(quotes, Qt::Key_Space);
  QVERIFY(dialog->seen);
  QCOMPARE(page, QString("justificativa.html"));
  QVERIFY(overDialog);
  QCOMPARE(Sel(quotes, row), QString("S"));
  QTest::keyClick(quotes, Qt::Key_Space);
  QCOMPARE(Sel(quotes, row), QString("N"));
}

void HostExtrasTest::everyHelpTopicHasAPageReachableFromTheContents() {
  const QString folder = HelpDirectory();
  QVERIFY2(!folder.isEmpty(), "the guide's pages were not found");
  auto read = [&](const QString& page) {
    QFile f(QDir(folder).filePath(page));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
  };
  const QString contents = read(HelpContentsPage());
  QVERIFY(!contents.isEmpty());
  for (const HelpTopic& t : HelpTopics()) {
    const QString page = QString::fromUtf8(t.page);
    QCOMPARE(HelpPageFor(t.helpFile, t.context, t.formName), page);
    const QString html = read(page);
    QVERIFY2(!html.isEmpty(), t.page);
    QVERIFY2(html.contains("<title>"), t.page);
    QVERIFY2(contents.contains("href=\"" + page + "\""), t.page);
  }
  // Every screen the host has met with a context of its own has its page.
  QVERIFY(Form()->HelpContext != 0);
  QCOMPARE(HelpPageFor(Form()->HelpFile, Form()->HelpContext), QString("planilha.html"));
  QCOMPARE(HelpPageFor("outro.hlp", 12345), HelpContentsPage());
  QCOMPARE(HelpPageFor("PRQHELP.HLP", 99), HelpContentsPage());

  // No link between pages leads nowhere.
  static const QRegularExpression href(QStringLiteral("href=\"([^\"#]+)(#[^\"]*)?\""));
  for (const QString& page : QDir(folder).entryList({"*.html"}, QDir::Files)) {
    const QString html = read(page);
    for (auto it = href.globalMatch(html); it.hasNext();) {
      const QString target = it.next().captured(1);
      if (target.contains(':')) continue;  // outside the guide
      QVERIFY2(QFile::exists(QDir(folder).filePath(target)), qPrintable(page + " -> " + target));
    }
  }
}

}  // namespace apura::desktop::test

#include "host_pieces_test.h"

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>
#include <fstream>
#include <set>

#include "desktop/app/language.h"
#include "desktop/app/launch_dialog.h"
#include "desktop/app/local_database.h"
#include "desktop/app/module_loader.h"
#include "desktop/app/settings.h"
#include "desktop/binding/events.h"
#include "desktop/binding/form_view.h"
#include "desktop/binding/grid_view.h"
#include "desktop/binding/qt_canvas.h"
#include "desktop/services/qt_host.h"
#include "dialogs.h"
#include "framework/format.h"
#include "framework/query.h"

namespace apura::desktop::test {

namespace {

// A prefix and a number, appended rather than written as "C" + to_string(i):
// GCC 12 at -O2 inlines that concatenation into a copy it wrongly reports as
// overlapping (-Werror=restrict).
std::string Numbered(const char* prefix, int i) {
  std::string s = prefix;
  s += std::to_string(i);
  return s;
}

// A small priced list, as the worksheet's tables hold them.
void FillPrices(TClientDataSet& ds, int rows) {
  ds.AddStringField("CODE", 10).SetDisplayLabel("Código");
  TField& price = ds.AddFloatField("PRICE");
  price.SetDisplayLabel("Preço");
  price.SetDisplayFormat("#,##0.00000");
  price.SetAlignment(TAlignment::taRightJustify);
  PacketBuilder b({{"CODE", FieldType::String, 10}, {"PRICE", FieldType::Float}});
  for (int i = 0; i < rows; ++i) b.Add({Value(Numbered("C", i)), Value(1234.5 + i)});
  ds.SetData(b.Build());
}

void Columns(TDBGrid& grid) {
  grid.Columns.Add("CODE");
  grid.Columns.Add("PRICE").SetTitleAlignment(TAlignment::taRightJustify);
}

struct Formats {
  FormatSettings saved = CurrentFormat();
  Formats() {
    CurrentFormat().decimalSeparator = ',';
    CurrentFormat().thousandSeparator = '.';
    CurrentFormat().shortDateFormat = "dd/mm/yyyy";
  }
  ~Formats() { CurrentFormat() = saved; }
};

}  // namespace

namespace {
void PostCloseLater(TForm& form) {
  Host().PostClose(form);
}
}  // namespace

HostPiecesTest::HostPiecesTest() = default;
HostPiecesTest::~HostPiecesTest() = default;

void HostPiecesTest::initTestCase() {
  host_ = std::make_unique<QtHost>(HostSettings{});
}

void HostPiecesTest::cleanupTestCase() {
  Application().DestroyForms();
  host_.reset();
}

void HostPiecesTest::commandLineAndSettingsFile() {
  HostSettings s;
  QString error;
  QVERIFY(ParseCommandLine({"apura", "--server", "srv.example:6000", "--module", "77", "--operator",
                            "op1", "--decimal-separator", ",", "--keep-connected", "sim", "0001",
                            "C1", "Nome do Comprador", "01/12/2026", "31/12/2026", "1234", "N"},
                           s, error));
  QCOMPARE(QString::fromStdString(s.serverHost), QString("srv.example"));
  QCOMPARE(s.serverPort, 6000);
  QCOMPARE(s.activeModule, 77);
  QVERIFY(s.keepConnected);
  QVERIFY(s.launchValues.has_value());
  QCOMPARE(s.launchValues->size(), size_t(7));
  QCOMPARE(QString::fromStdString((*s.launchValues)[2]), QString("Nome do Comprador"));

  HostSettings bad;
  QVERIFY(!ParseCommandLine({"apura", "--module", "5"}, bad, error));
  QVERIFY2(error.contains("4, 34 or 77"), qPrintable(error));
  QVERIFY(!ParseCommandLine({"apura", "--server", "nohost"}, bad, error));
  QVERIFY2(error.contains("host:port"), qPrintable(error));
  // Several servers: the list, each with its port; a bad entry is named.
  HostSettings several;
  QVERIFY(ParseCommandLine({"apura", "--server", "a.example:6001, [::1]:6002"}, several, error));
  QCOMPARE(QString::fromStdString(several.serverHost), QString("a.example:6001,[::1]:6002"));
  QVERIFY(ParseCommandLine({"apura", "--server", "[::1]:6003"}, several, error));
  QCOMPARE(QString::fromStdString(several.serverHost), QString("::1"));
  QCOMPARE(several.serverPort, 6003);
  QVERIFY(!ParseCommandLine({"apura", "--server", "a.example:6001,b.example"}, bad, error));
  QVERIFY2(error.contains("\"b.example\""), qPrintable(error));
  QVERIFY(!ParseCommandLine({"apura", "a", "b", "c"}, bad, error));
  QVERIFY2(error.contains("Seven") && error.contains("3 given"), qPrintable(error));
  QVERIFY(!ParseCommandLine({"apura", "--launch", "1|2|3|4|5|6|7", "x"}, bad, error));

  // The file gives the session; the command line wins where it speaks.
  QTemporaryDir dir;
  const QString path = dir.filePath("apura.ini");
  {
    QSettings f(path, QSettings::IniFormat);
    f.setValue("server/host", "files.example");
    f.setValue("server/port", 7000);
    f.setValue("session/module", 34);
    f.setValue("session/operator", "FROMFILE");
    f.setValue("formats/decimalSeparator", ".");
    f.setValue("formats/productTree", "99.99;0;_");
  }
  HostSettings fromFile;
  QSettings f(path, QSettings::IniFormat);
  ReadSettingsFile(f, fromFile);
  QVERIFY(ParseCommandLine({"apura", "--port", "8000"}, fromFile, error));
  QCOMPARE(QString::fromStdString(fromFile.serverHost), QString("files.example"));
  QCOMPARE(fromFile.serverPort, 8000);
  QCOMPARE(fromFile.activeModule, 34);
  QCOMPARE(fromFile.decimalSeparator, '.');
  QCOMPARE(fromFile.thousandSeparator, ',');  // not the decimal one as well

  // A list of servers in the file, written by hand without quotes.
  const QString listPath = dir.filePath("list.ini");
  {
    QFile list(listPath);
    QVERIFY(list.open(QIODevice::WriteOnly));
    list.write("[server]\nhost=a.example:6001,b.example:6002\n");
  }
  HostSettings fromList;
  QSettings l(listPath, QSettings::IniFormat);
  ReadSettingsFile(l, fromList);
  QCOMPARE(QString::fromStdString(fromList.serverHost), QString("a.example:6001,b.example:6002"));

  // Values the file cannot mean keep what was set before.
  const QString badPath = dir.filePath("bad.ini");
  {
    QSettings b(badPath, QSettings::IniFormat);
    b.setValue("server/port", 99999);
    b.setValue("formats/decimalSeparator", QString::fromUtf8("é"));
    b.setValue("formats/thousandSeparator", ",");
    b.setValue("server/keepConnected", QString::fromUtf8("não"));
  }
  HostSettings fromBad;
  fromBad.keepConnected = true;
  QSettings b(badPath, QSettings::IniFormat);
  ReadSettingsFile(b, fromBad);
  QCOMPARE(fromBad.serverPort, HostSettings{}.serverPort);
  QCOMPARE(fromBad.decimalSeparator, ',');
  QCOMPARE(fromBad.thousandSeparator, '.');
  QVERIFY(!fromBad.keepConnected);
  QCOMPARE(QString::fromStdString(fromFile.productTreePicture), QString("99.99;0;_"));

  QCOMPARE(QString::fromStdString(PlatformDateFormat("dd/MM/yyyy")), QString("dd/mm/yyyy"));
  QCOMPARE(QString::fromStdString(PlatformDateFormat("M/d/yy")), QString("m/d/yy"));
}

void HostPiecesTest::localDatabaseAnswersTheScreensQueries() {
  QTemporaryDir dir;
  const std::string path = dir.filePath("local.sqlite").toStdString();
  auto db = std::make_shared<SqliteDatabase>(path);
  EnsureLocalSchema(*db);
  EnsureLocalSchema(*db);  // a second start finds the tables there
  db->Exec(
      "INSERT INTO REGIAO VALUES ('001', 'Região Sul');"
      "INSERT INTO AUTGRUPOP VALUES ('PEME', 'COMPRAS');"
      "INSERT INTO AUTGRUPOP VALUES ('OUTRA', 'CONSULTA');"
      "INSERT INTO OPERGRUPOP VALUES ('COMPRAS', 'COMP01');"
      "INSERT INTO OPERGRUPOP VALUES ('CONSULTA', 'VISITA');");

  TADOIBQuery perm(nullptr, "qryAutGrupOp");
  perm.SetConnection(db);
  perm.SetSQL({"SELECT", "   AUTGRUPOP.IDAUTGRUPOP, OPERGRUPOP.CDOPERADOR", "FROM", "   AUTGRUPOP,",
               "   OPERGRUPOP", "WHERE", "   AUTGRUPOP.IDAUTGRUPOP = 'PEME' AND",
               "   AUTGRUPOP.CDGRUPOPER  = OPERGRUPOP.CDGRUPOPER", " "});
  perm.AddStringField("CDOPERADOR", 12);
  perm.Open();
  QCOMPARE(perm.RecordCount(), 1);
  QCOMPARE(QString::fromStdString(perm.FieldByName("CDOPERADOR").AsString()), QString("COMP01"));

  TADOIBQuery region(nullptr, "qryPesqRegiao");
  region.SetConnection(db);
  region.SetSQL({"SELECT", "  NMREGIAO", "FROM", "  REGIAO", "WHERE", "  CDREGIAO = :P_CDREGIAO"});
  region.ParamByName("P_CDREGIAO").SetAsString("001");
  region.Open();
  QCOMPARE(QString::fromStdString(region.FieldByName("NMREGIAO").AsString()),
           QString::fromUtf8("Região Sul"));
  region.Close();
  region.ParamByName("P_CDREGIAO").SetAsString("999");
  region.Open();
  QVERIFY(region.IsEmpty());

  // The query knows a parameter in any letter case: each spelling in the
  // text takes its value, none is left null.
  region.SetSQL({"SELECT NMREGIAO FROM REGIAO", "WHERE CDREGIAO = :P_CD AND :p_cd IS NOT NULL"});
  region.ParamByName("p_cd").SetAsString("001");
  region.Open();
  QCOMPARE(region.RecordCount(), 1);

  try {
    db->Execute("SELECT NOPE FROM REGIAO", {});
    QFAIL("a bad statement must fail");
  } catch (const EDatabaseError& e) {
    QVERIFY2(QString(e.what()).contains(QString::fromStdString(path)), e.what());
    QVERIFY2(QString(e.what()).contains("NOPE"), e.what());
  }
  try {
    SqliteDatabase missing(dir.filePath("no/such/dir/x.sqlite").toStdString());
    QFAIL("a file in a missing folder cannot be opened");
  } catch (const std::runtime_error& e) {
    QVERIFY2(QString(e.what()).contains("no/such/dir"), e.what());
  }
}

void HostPiecesTest::missingModuleIsAMessageNamingTheCode() {
  QTemporaryDir dir;
  ModuleLoader loader(dir.path().toStdString());
  try {
    loader.Open("PRQ05100", {});
    QFAIL("a missing screen must be reported");
  } catch (const EModuleNotInstalled& e) {
    QVERIFY2(QString(e.what()).contains("PRQ05100"), e.what());
  }
  QVERIFY(!loader.IsLoaded("PRQ05100"));

  // Something that is not a library is refused with the loader's reason.
  { std::ofstream(dir.filePath("libPRQ01802.so").toStdString()) << "not a library"; }
  try {
    loader.Open("PRQ01802", {});
    QFAIL("a broken library must be reported");
  } catch (const EModuleNotInstalled& e) {
    QVERIFY2(QString(e.what()).contains("PRQ01802"), e.what());
  }

  // A code is a name in the modules folder, never a path out of it.
  { std::ofstream(dir.filePath("libX.so").toStdString()) << "not a library"; }
  for (const char* code : {"../X", "a/b", ""}) {
    try {
      loader.Open(code, {});
      QFAIL("a screen code with a path was accepted");
    } catch (const EModuleNotInstalled& e) {
      QVERIFY2(QString(e.what()).contains("inválido"), e.what());
    }
  }

  // Through the host service the user gets a message and the caller goes on.
  host_->SetModuleLoader(&loader);
  auto answer = AnswerNextDialog("OK");
  bool returned = RunEvent([] { LoadBPL("PRQ01803", {Value("x")}); });
  host_->SetModuleLoader(nullptr);
  QVERIFY(returned);
  QVERIFY(answer->seen);
  QVERIFY2(answer->text.contains("PRQ01803"), qPrintable(answer->text));
}

void HostPiecesTest::gridShowsVisibleRowsAndFollowsTheCursorBothWays() {
  Formats formats;
  TClientDataSet ds("cdsPrices");
  FillPrices(ds, 6);
  int scrolls = 0;
  ds.AfterScroll = [&](TClientDataSet&) { ++scrolls; };
  TDataSource dts("dtsPrices");
  dts.SetDataSet(&ds);
  TForm form("frmTest");
  TDBGrid grid(&form, "dbgPrices", &form);
  grid.SetDataSource(&dts);
  Columns(grid);
  {
    // A model outliving its data link forgets it instead of touching freed memory.
    auto* gone = new TDataSource("dtsGone");
    gone->SetDataSet(&ds);
    DataSetModel orphan;
    orphan.SetSource(gone);
    QCOMPARE(orphan.rowCount(), 6);
    delete gone;
    QVERIFY(orphan.Source() == nullptr);
    QCOMPARE(orphan.rowCount(), 0);
  }

  GridView view(grid);
  view.resize(400, 300);
  view.show();
  DataSetModel& m = view.Model();
  QCOMPARE(m.rowCount(), 6);
  QCOMPARE(m.columnCount(), 2);
  QCOMPARE(m.data(m.index(0, 1), Qt::DisplayRole).toString(), QString("1.234,50000"));
  QCOMPARE(m.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
           QString::fromUtf8("Código"));
  QCOMPARE(m.headerData(1, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>() &
               Qt::AlignRight,
           Qt::AlignRight);
  QCOMPARE(view.currentIndex().row(), 0);

  // The user picks a row: the table's cursor moves and its after-scroll runs.
  view.setCurrentIndex(m.index(3, 1));
  QCOMPARE(ds.RecNo(), 4);
  QCOMPARE(scrolls, 1);
  QCOMPARE(grid.SelectedIndex(), 1);

  // The code moves the cursor: the view selects that row.
  ds.SetRecNo(2);
  QCOMPARE(view.currentIndex().row(), 1);
  ds.Last();
  QCOMPARE(view.currentIndex().row(), 5);

  // A filter narrows what the grid shows, in the table's order.
  ds.OnFilterRecord = [](TClientDataSet& t, bool& accept) {
    accept = t.FieldByName("PRICE").AsFloat() > 1236;
  };
  ds.SetFiltered(true);
  QCOMPARE(m.rowCount(), 4);
  QCOMPARE(m.data(m.index(0, 0), Qt::DisplayRole).toString(), QString("C2"));
  QCOMPARE(view.currentIndex().row(), ds.CursorPos());
  ds.SetFiltered(false);
  QCOMPARE(m.rowCount(), 6);

  // Hidden columns and a changed title follow the grid.
  grid.Columns[0].SetVisible(false);
  QVERIFY(view.isColumnHidden(0));
  grid.Columns[1].SetTitleCaption("Pr. Unitário");
  QCOMPARE(m.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(),
           QString::fromUtf8("Pr. Unitário"));

  // A field's text handler that fails while the view reads the cell leaves
  // it empty; nothing is thrown into Qt's painting.
  ds.FieldByName("CODE").OnGetText = [](TField&, std::string&, bool) {
    throw std::runtime_error("text handler failed");
  };
  QVariant cell;
  try {
    cell = m.data(m.index(0, 0), Qt::DisplayRole);
  } catch (...) {
    QFAIL("the model let the handler's error through");
  }
  QVERIFY(!cell.isValid() || cell.toString().isEmpty());
  view.viewport()->repaint();
  ds.FieldByName("CODE").OnGetText = nullptr;
  view.Detach();
}

void HostPiecesTest::gridHoldsBackWhileControlsAreDisabled() {
  Formats formats;
  TClientDataSet ds("cdsPrices");
  FillPrices(ds, 4);
  TDataSource dts("dtsPrices");
  dts.SetDataSet(&ds);
  TForm form("frmTest");
  TDBGrid grid(&form, "dbgPrices", &form);
  grid.SetDataSource(&dts);
  Columns(grid);
  GridView view(grid);
  DataSetModel& m = view.Model();

  ds.DisableControls();
  ds.Last();
  ds.OnFilterRecord = [](TClientDataSet& t, bool& a) {
    a = t.FieldByName("CODE").AsString() != "C0";
  };
  ds.SetFiltered(true);
  // Nothing reached the view: same rows, same selection, and no half-changed
  // rows are read meanwhile.
  QCOMPARE(m.rowCount(), 4);
  QCOMPARE(view.currentIndex().row(), 0);
  QVERIFY(!m.data(m.index(0, 0), Qt::DisplayRole).isValid());
  ds.EnableControls();
  QCOMPARE(m.rowCount(), 3);
  QCOMPARE(view.currentIndex().row(), ds.CursorPos());
  QCOMPARE(m.data(m.index(0, 0), Qt::DisplayRole).toString(), QString("C1"));
  view.Detach();
}

void HostPiecesTest::gridEditsThroughTheTableAndItsGuards() {
  Formats formats;
  TClientDataSet ds("cdsPrices");
  FillPrices(ds, 3);
  TDataSource dts("dtsPrices");
  dts.SetDataSet(&ds);
  TForm form("frmTest");
  TDBGrid grid(&form, "dbgPrices", &form);
  grid.SetDataSource(&dts);
  Columns(grid);
  grid.Columns[0].SetReadOnly(true);
  bool refuse = false;
  int keys = 0;
  ds.BeforeEdit = [&](TClientDataSet&) {
    if (refuse) Abort();
  };
  grid.OnKeyPress = [&](TComponent&, char32_t&) { ++keys; };
  GridView view(grid);
  view.resize(400, 200);
  view.show();
  QApplication::setActiveWindow(&view);
  view.setFocus();
  QVERIFY(QTest::qWaitForWindowActive(&view));
  DataSetModel& m = view.Model();
  QVERIFY(!(m.flags(m.index(0, 0)) & Qt::ItemIsEditable));
  QVERIFY(m.flags(m.index(0, 1)) & Qt::ItemIsEditable);

  // Typing in a cell opens its editor; the table goes into edit state with
  // the first change, the typed text becomes the field's value and moving
  // to another row posts it.
  view.setCurrentIndex(m.index(0, 1));
  QTest::keyClicks(view.focusWidget(), "7");
  QCOMPARE(keys, 1);  // the grid's handler saw the key once
  QVERIFY(grid.EditorMode());
  QCOMPARE(ds.State(), TDataSetState::dsEdit);
  QTest::keyClicks(view.focusWidget(), ",5");
  QTest::keyClick(view.focusWidget(), Qt::Key_Return);
  QCoreApplication::processEvents();  // Qt commits an editor's Return queued
  QVERIFY(!grid.EditorMode());
  QCOMPARE(ds.FieldByName("PRICE").AsFloat(), 7.5);
  view.setCurrentIndex(m.index(1, 1));
  QCOMPARE(ds.State(), TDataSetState::dsBrowse);
  QCOMPARE(ds.RecNo(), 2);
  QCOMPARE(m.data(m.index(0, 1), Qt::DisplayRole).toString(), QString("7,50000"));

  // A table that refuses to be edited closes the editor and keeps its value.
  refuse = true;
  QTest::keyClicks(view.focusWidget(), "9");
  QCOMPARE(ds.State(), TDataSetState::dsBrowse);
  QVERIFY(!grid.EditorMode());
  QCOMPARE(ds.FieldByName("PRICE").AsFloat(), 1235.5);
  view.Detach();
}

void HostPiecesTest::halfAMillionRowsCostOnlyWhatIsShown() {
  Formats formats;
  TClientDataSet ds("cdsItmApurPrec");
  ds.AddStringField("CODE", 10);
  ds.AddFloatField("QTY").SetDisplayFormat("#0.000");
  const int n = 500000;
  DataPacket::Body body;
  body.fields = {{"CODE", FieldType::String, 10}, {"QTY", FieldType::Float}};
  body.rowCount = n;
  body.columns.resize(2);
  for (int k = 0; k < 100; ++k) {
    const std::string t = Numbered("B", k);
    body.columns[0].dictBytes += t;
    body.columns[0].dictOffsets.push_back(uint32_t(body.columns[0].dictBytes.size()));
  }
  body.columns[0].codes.resize(n);
  body.columns[1].numbers.resize(n);
  for (int i = 0; i < n; ++i) {
    body.columns[0].codes[size_t(i)] = i % 100;
    body.columns[1].numbers[size_t(i)] = i;
  }
  ds.SetData(DataPacket::FromBody(std::move(body)));
  TDataSource dts("dtsPadrao");
  dts.SetDataSet(&ds);
  TForm form("frmTest");
  TDBGrid grid(&form, "dbgPadrao", &form);
  grid.SetDataSource(&dts);
  grid.Columns.Add("CODE");
  grid.Columns.Add("QTY");
  int painted = 0;
  grid.OnDrawColumnCell = [&](TComponent&, const TRect&, int, TColumn&, TGridDrawState) {
    ++painted;
  };
  GridView view(grid);
  view.resize(400, 300);
  view.show();
  QVERIFY(QTest::qWaitForWindowExposed(&view));
  QCOMPARE(view.Model().rowCount(), n);
  ds.Last();
  QCOMPARE(view.currentIndex().row(), n - 1);
  painted = 0;
  view.viewport()->repaint();
  // Only the rows on screen are painted, two cells a row.
  QVERIFY2(painted > 0 && painted < 200, qPrintable(QString::number(painted)));
  QCOMPARE(view.Model().data(view.Model().index(n - 1, 1), Qt::DisplayRole).toString(),
           QString("499999,000"));
  // Narrowing to a few rows and back keeps the view in step.
  ds.OnFilterRecord = [](TClientDataSet& t, bool& a) {
    a = t.FieldByName("CODE").AsString() == "B7";
  };
  ds.SetFiltered(true);
  QCOMPARE(view.Model().rowCount(), n / 100);
  QCOMPARE(view.currentIndex().row(), 0);
  ds.SetFiltered(false);
  QCOMPARE(view.Model().rowCount(), n);
  view.Detach();
}

void HostPiecesTest::cellPainterSeesThePaintedRow() {
  Formats formats;
  TClientDataSet ds("cdsPrices");
  FillPrices(ds, 5);
  int ownTexts = 0;
  ds.FieldByName("CODE").OnGetText = [&](TField&, std::string& t, bool) {
    ++ownTexts;
    t = "<" + t + ">";
  };
  TDataSource dts("dtsPrices");
  dts.SetDataSet(&ds);
  TForm form("frmTest");
  TDBGrid grid(&form, "dbgPrices", &form);
  grid.SetDataSource(&dts);
  Columns(grid);
  struct Painted {
    int col;
    std::string code;
    TGridDrawState state;
    int left;
  };
  std::vector<Painted> painted;
  grid.OnDrawColumnCell = [&](TComponent&, const TRect& r, int col, TColumn&, TGridDrawState st) {
    painted.push_back({col, ds.FieldByName("CODE").AsString(), st, r.Left});
    grid.Canvas()->Brush.Color = clRed;
    grid.Canvas()->FillRect(r);
  };
  ds.SetRecNo(3);
  GridView view(grid);
  view.resize(400, 300);
  view.show();
  QVERIFY(QTest::qWaitForWindowExposed(&view));
  const QImage shot = view.viewport()->grab().toImage();
  QVERIFY(!painted.empty());
  // Each cell is painted with the table addressing its row; the cursor stays.
  std::set<std::string> codes;
  for (const Painted& p : painted) {
    codes.insert(p.code);
    if (p.code == "C2" && p.col == 0) QVERIFY(p.state & gdSelected);
    if (p.code != "C2") QVERIFY(!(p.state & gdSelected));
  }
  QCOMPARE(codes, (std::set<std::string>{"C0", "C1", "C2", "C3", "C4"}));
  QCOMPARE(ds.RecNo(), 3);
  // The field's own text handler kept running and is still in place.
  QVERIFY(ownTexts > 0);
  QCOMPARE(QString::fromStdString(ds.FieldByName("CODE").DisplayText()), QString("<C2>"));
  // What the painter drew is what the screen shows.
  const QRect cell = view.visualRect(view.Model().index(1, 1));
  QCOMPARE(shot.pixelColor(cell.center()), QColor(255, 0, 0));
  view.Detach();
}

void HostPiecesTest::canvasFillsCopiesWithTransparencyAndClips() {
  QImage img(40, 20, QImage::Format_RGB32);
  img.fill(Qt::white);
  {
    QPainter p(&img);
    QtCanvas c(p, QPalette(), QFont());
    c.Brush.Color = clRed;
    c.FillRect(Rect(0, 0, 10, 10));
    TBitmap mark;
    mark.Width = 2;
    mark.Height = 2;
    mark.Pixels = {clOlive, clGreen, clGreen, clOlive};
    c.Brush.Color = clBlue;
    c.BrushCopy(Bounds(20, 0, 2, 2), mark, Bounds(0, 0, 2, 2), clOlive);
    // A cell lower than the mark shows only its top rows.
    c.BrushCopy(Bounds(30, 0, 2, 1), mark, Bounds(0, 0, 2, 1), clOlive);
    c.Brush.Color = clWhite;
    c.Font.Color = clBlack;
    c.TextRect(Rect(0, 12, 6, 20), 0, 12, "WWWWWWWW");
  }
  QCOMPARE(img.pixelColor(5, 5), QColor(255, 0, 0));
  QCOMPARE(img.pixelColor(10, 5), QColor(Qt::white));
  QCOMPARE(img.pixelColor(20, 0), QColor(0, 0, 255));  // olive turned into the brush
  QCOMPARE(img.pixelColor(21, 0), QColor(0, 128, 0));
  QCOMPARE(img.pixelColor(21, 1), QColor(0, 0, 255));
  QCOMPARE(img.pixelColor(31, 0), QColor(0, 128, 0));
  QCOMPARE(img.pixelColor(31, 1), QColor(Qt::white));
  // Clipped text leaves nothing beyond its rectangle.
  for (int x = 7; x < 20; ++x)
    for (int y = 12; y < 20; ++y) QCOMPARE(img.pixelColor(x, y), QColor(Qt::white));
  QCOMPARE(SymbolText("Monotype Sorts", "4"), QString(QChar(0x2714)));
  QCOMPARE(SymbolText("Arial", "4"), QString("4"));
}

void HostPiecesTest::controlsFollowTheModelAndClicksReachIt() {
  TForm form("frmTest");
  TPanel bar(&form, "panBotoes", &form);
  TButtonFlat go(&form, "sbtGo", &bar);
  go.SetHint("Ir");
  TButtonFlat toggle(&form, "sbtToggle", &bar);
  toggle.SetGroupIndex(12);
  toggle.SetAllowAllUp(true);
  TMainMenu menu(&form, "mnuPrincipal");
  TMenuItem top(&form, "mnuTop", "&Operação");
  TMenuItem item(&form, "mnuItem", "Ne&gociar/Simular", "Ctrl+S");
  menu.Add(top);
  top.Add(item);
  TPageControl pages(&form, "pgc", &form);
  TTabSheet one(&form, "tshOne", pages, "Um");
  TTabSheet two(&form, "tshTwo", pages, "Dois");
  TEdit edit(&form, "edtText", &one);
  int clicks = 0, itemClicks = 0, changes = 0, changing = 0;
  go.OnClick = [&](TComponent&) { ++clicks; };
  item.OnClick = [&](TComponent&) { ++itemClicks; };
  pages.OnChanging = [&](TComponent&, bool&) { ++changing; };
  pages.OnChange = [&](TComponent&) { ++changes; };

  FormView view(form);
  view.resize(500, 300);
  view.show();
  QAction* goAction = view.ActionNamed("sbtGo");
  QAction* toggleAction = view.ActionNamed("sbtToggle");
  QAction* itemAction = view.ActionNamed("mnuItem");
  QVERIFY(goAction && toggleAction && itemAction);
  QCOMPARE(goAction->toolTip(), QString("Ir"));
  QCOMPARE(itemAction->text(), QString("Ne&gociar/Simular"));
  QCOMPARE(itemAction->shortcut(), QKeySequence("Ctrl+S"));

  go.SetEnabled(false);
  QVERIFY(!goAction->isEnabled());
  goAction->trigger();  // a disabled command does nothing
  QCOMPARE(clicks, 0);
  go.SetEnabled(true);
  QVERIFY(goAction->isEnabled());
  goAction->trigger();
  QCOMPARE(clicks, 1);

  toggleAction->trigger();
  QVERIFY(toggle.Down());
  QVERIFY(toggleAction->isChecked());
  toggle.SetDown(false);
  QVERIFY(!toggleAction->isChecked());

  item.SetChecked(true);
  QVERIFY(itemAction->isChecked());
  itemAction->trigger();
  QCOMPARE(itemClicks, 1);
  QVERIFY(itemAction->isChecked());  // the model says checked, whatever Qt toggled
  item.SetEnabled(false);
  QVERIFY(!itemAction->isEnabled());

  auto* tabs = qobject_cast<QTabWidget*>(view.WidgetNamed("pgc"));
  QVERIFY(tabs);
  QCOMPARE(tabs->count(), 2);
  two.SetEnabled(false);
  QVERIFY(!tabs->isTabEnabled(1));
  two.SetEnabled(true);
  tabs->setCurrentIndex(1);  // as a click on the tab
  QCOMPARE(pages.ActivePage(), &two);
  QCOMPARE(changing, 1);
  QCOMPARE(changes, 1);
  pages.SetActivePage(&one);  // the code's own change
  QCOMPARE(tabs->currentIndex(), 0);
  QCOMPARE(changes, 1);
  two.SetPageIndex(0);  // the code moves a page in the tab order
  QCOMPARE(tabs->tabText(0), QString("Dois"));
  QCOMPARE(tabs->currentIndex(), 1);
  QCOMPARE(changes, 1);
  two.SetPageIndex(1);
  QCOMPARE(tabs->tabText(1), QString("Dois"));
  two.SetTabVisible(false);
  QVERIFY(!tabs->isTabVisible(1));

  auto* line = qobject_cast<QLineEdit*>(view.WidgetNamed("edtText"));
  QVERIFY(line);
  edit.SetText("abc");
  QCOMPARE(line->text(), QString("abc"));
  edit.SetVisible(false);
  QVERIFY(line->isHidden());
}

void HostPiecesTest::messageHookRewritesKeysOnlyWhileInstalled() {
  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* edit = new QLineEdit(&window);
  layout->addWidget(edit);
  window.show();
  QApplication::setActiveWindow(&window);
  edit->setFocus();
  QVERIFY(QTest::qWaitForWindowActive(&window));

  int seen = 0;
  MsgEventForm([&](HostMessage& msg, bool&) {
    ++seen;
    if (msg.key == VK_OEM_PERIOD || msg.key == VK_DECIMAL) msg.key = VK_OEM_COMMA;
  });
  QVERIFY(host_->HookInstalled());
  QTest::keyClick(edit, Qt::Key_Period);
  QTest::keyClick(edit, Qt::Key_Period, Qt::KeypadModifier);
  QTest::keyClick(edit, Qt::Key_5);
  QCOMPARE(edit->text(), QString(",,5"));
  QVERIFY(seen >= 3);

  MsgEventForm({});
  QTest::keyClick(edit, Qt::Key_Period);
  QCOMPARE(edit->text(), QString(",,5."));
}

void HostPiecesTest::dialogsAnswerWhatWasPressed() {
  auto no = AnswerNextDialog("Não");
  QCOMPARE(MsgAlertEx("Escolher?", TMsgDlgType::mtConfirmation, {"Sim", "Não"}, 1, 2),
           mrFirstCaption + 1);
  QVERIFY(no->seen);
  QCOMPARE(no->text, QString("Escolher?"));

  auto yes = AnswerNextDialog("Sim");
  QCOMPARE(MessageDlg("Confirma?", TMsgDlgType::mtConfirmation, mbYesNo), mrYes);
  QVERIFY(yes->seen);
  auto refuse = AnswerNextDialog("Não");
  QCOMPARE(MessageDlg("Confirma?", TMsgDlgType::mtConfirmation, mbYesNo), mrNo);
  QVERIFY(refuse->seen);

  // An error raised in a user event reaches the error display; the silent
  // abort shows nothing.
  auto error = AnswerNextDialog("OK");
  QVERIFY(!RunEvent([] { throw std::runtime_error("servidor fora do ar em 10.0.0.1:211"); }));
  QVERIFY(error->seen);
  QVERIFY(error->text.contains("10.0.0.1:211"));
  const size_t shown = host_->Shown().size();
  QVERIFY(!RunEvent([] { Abort(); }));
  QCOMPARE(host_->Shown().size(), shown);

  // The busy animation shows its caption until it is closed.
  QWidget main;
  main.resize(600, 400);
  main.show();
  host_->SetMainWindow(&main, nullptr);
  ActiveShowAvi(1, "Apurando as Melhores Cotações no Servidor...");
  QVERIFY(host_->BusyShown());
  QCOMPARE(host_->BusyCaption(), QString::fromUtf8("Apurando as Melhores Cotações no Servidor..."));
  DeactiveShowAvi();
  QVERIFY(!host_->BusyShown());
  host_->SetMainWindow(nullptr, nullptr);
}

void HostPiecesTest::pickListMovesTheCursorOnlyWhenConfirmed() {
  Formats formats;
  TClientDataSet ds("cdsPesqForn");
  FillPrices(ds, 4);
  TDataSource dts("dtsPesqForn");
  dts.SetDataSet(&ds);
  auto pickThird = [](QWidget* dialog) {
    auto* view = dialog->findChild<QTableView*>("pickListView");
    QVERIFY(view);
    QCOMPARE(view->model()->rowCount(), 4);
    QCOMPARE(view->model()->headerData(1, Qt::Horizontal).toString(), QString::fromUtf8("Preço"));
    QCOMPARE(view->model()->data(view->model()->index(2, 1)).toString(), QString("1.236,50000"));
    view->setCurrentIndex(view->model()->index(2, 0));
  };
  auto cancel = AnswerNextDialog("Cancelar", pickThird);
  QVERIFY(!Pesquisar(dts, "Fornecedores", false, false));
  QVERIFY(cancel->seen);
  QCOMPARE(ds.RecNo(), 1);
  auto ok = AnswerNextDialog("OK", pickThird);
  QVERIFY(Pesquisar(dts, "Fornecedores", false, false));
  QVERIFY(ok->seen);
  QCOMPARE(ok->text, QString("Fornecedores"));
  QCOMPARE(ds.RecNo(), 3);

  // The search dialog finds by the start of a field's text, case ignored.
  auto search = AnswerNextDialog("Procurar", [](QWidget* dialog) {
    auto* text = dialog->findChild<QLineEdit*>("searchText");
    QVERIFY(text);
    text->setText("c1");
  });
  Procura(ds);
  QVERIFY(search->seen);
  QCOMPARE(ds.RecNo(), 2);
}

void HostPiecesTest::modalFormRunsUntilItClosesWithItsResult() {
  TfrmRotiGeral* dialog = nullptr;
  CreateForm(dialog, "frmDialog");
  dialog->SetCaption("Justificativa");
  int activated = 0;
  dialog->OnActivate = [&](TComponent&) { ++activated; };
  auto confirm = AnswerNextDialog("unused", [](QWidget* w) {
    auto* action = w->findChild<FormView*>()->ActionNamed("sbtConfirma");
    QVERIFY(action);
    action->trigger();
  });
  QCOMPARE(dialog->ShowModal(), mrOk);
  QVERIFY(confirm->seen);
  QCOMPARE(confirm->text, QString("Justificativa"));
  QCOMPARE(activated, 1);
  QVERIFY(!dialog->Visible());
  QTRY_VERIFY(!Application().Owns(*dialog));

  // An activation the window system delivers after the form closed does not
  // bring the closed form back to life.
  TfrmRotiGeral* late = nullptr;
  CreateForm(late, "frmLate");
  int lateActivations = 0;
  late->OnActivate = [&](TComponent&) { ++lateActivations; };
  late->Show();
  QPointer<QWidget> lateWindow = host_->WindowOf(*late);
  QVERIFY(lateWindow);
  late->Close();
  QVERIFY(!late->Visible());
  const int before = lateActivations;
  QEvent activate(QEvent::WindowActivate);
  QCoreApplication::sendEvent(lateWindow, &activate);
  QCOMPARE(lateActivations, before);
  QVERIFY(!late->Active());
  RunEvent([late] { late->Release(); });
  QTRY_VERIFY(!Application().Owns(*late));

  // Esc closes it through the form: no result is a cancel.
  TfrmRotiGeral* other = nullptr;
  CreateForm(other, "frmOther");
  int closes = 0;
  other->OnClose = [&](TComponent&, TCloseAction& a) {
    ++closes;
    a = TCloseAction::caFree;
  };
  auto escape = AnswerNextDialog("unused", [](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
  QCOMPARE(other->ShowModal(), mrCancel);
  QVERIFY(escape->seen);
  QCOMPARE(closes, 1);
  QTRY_VERIFY(!Application().Owns(*other));
}

void HostPiecesTest::formWindowFollowsShowCloseRequestAndRelease() {
  TfrmPadraoGrid* form = nullptr;
  CreateForm(form, "frmScreen");
  form->SetCaption("Tela");
  int closes = 0;
  form->OnClose = [&](TComponent&, TCloseAction& action) {
    ++closes;
    action = TCloseAction::caFree;
  };
  form->Show();
  QPointer<QWidget> window = host_->WindowOf(*form);
  QVERIFY(window);
  QVERIFY(window->isVisible());
  QCOMPARE(window->windowTitle(), QString("Tela"));
  form->SetCaption("Tela 2");
  QCOMPARE(window->windowTitle(), QString("Tela 2"));

  // A posted close waits for the host's message processing.
  PostCloseLater(*form);
  QCOMPARE(closes, 0);
  QVERIFY(window->isVisible());
  QTRY_COMPARE(closes, 1);
  QVERIFY(!window || !window->isVisible());
  // The released form goes once the event is over, and its window with it.
  QTRY_VERIFY(!Application().Owns(*form));
  QTRY_VERIFY(!window);

  // The user closing the window asks the form, which may refuse.
  TfrmPadraoGrid* stays = nullptr;
  CreateForm(stays, "frmStays");
  stays->OnCloseQuery = [](TComponent&, bool& can) { can = false; };
  stays->Show();
  QPointer<QWidget> w2 = host_->WindowOf(*stays);
  QVERIFY(w2 && w2->isVisible());
  w2->close();
  QVERIFY(w2->isVisible());
  QVERIFY(Application().Owns(*stays));
  stays->OnCloseQuery = nullptr;
  w2->close();
  QVERIFY(!w2->isVisible());
  QTRY_VERIFY(!Application().Owns(*stays));

  // Handlers that run as released forms are deleted, outside any event,
  // still report their errors through the error display; every form goes.
  TfrmPadraoGrid* failing = nullptr;
  TfrmPadraoGrid* next = nullptr;
  CreateForm(failing, "frmFailing");
  CreateForm(next, "frmNext");
  failing->OnDestroy = [](TComponent&) { throw std::runtime_error("destroy handler failed"); };
  auto error = AnswerNextDialog("OK");
  failing->Release();
  next->Release();
  RunEvent([] {});
  QTRY_VERIFY(!Application().Owns(*failing));
  QTRY_VERIFY(!Application().Owns(*next));
  QVERIFY(error->seen);
  QVERIFY2(error->text.contains("destroy handler failed"), qPrintable(error->text));
}

void HostPiecesTest::qtsOwnTextsAndDatesSpeakPortuguese() {
  // The suites run under the C locale, as a machine with no locale chosen.
  QVERIFY2(InstallPortuguese(*qApp), "Qt's Portuguese translations are not installed");
  QCOMPARE(QLocale().language(), QLocale::Portuguese);
  QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Save);
  QCOMPARE(box.button(QDialogButtonBox::Cancel)->text(), QString("Cancelar"));
  QCOMPARE(box.button(QDialogButtonBox::Save)->text(), QString("Salvar"));

  QCOMPARE(DatePlaceholder("dd/mm/yyyy"), QString("dd/mm/aaaa"));
  QCOMPARE(DatePlaceholder("yyyy-mm-dd"), QString("aaaa-mm-dd"));
  const std::string before = CurrentFormat().shortDateFormat;
  CurrentFormat().shortDateFormat = "dd/mm/yyyy";
  LaunchDialog launch(nullptr, {});
  int placeholders = 0;
  for (QLineEdit* e : launch.findChildren<QLineEdit*>())
    if (!e->placeholderText().isEmpty()) {
      QCOMPARE(e->placeholderText(), QString("dd/mm/aaaa"));
      ++placeholders;
    }
  QCOMPARE(placeholders, 2);
  CurrentFormat().shortDateFormat = before;
}

}  // namespace apura::desktop::test

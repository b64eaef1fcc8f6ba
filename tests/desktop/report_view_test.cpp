#include "report_view_test.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include "desktop/app/demo.h"
#include "desktop/binding/form_view.h"
#include "desktop/services/batch_report.h"
#include "desktop/services/qt_host.h"
#include "desktop/services/report_view.h"
#include "desktop_session.h"
#include "dialogs.h"
#include "framework/format.h"
#include "framework/forms.h"
#include "framework/netconnection.h"
#include "rpc/grpc_transport.h"
#include "server/services/report_service.h"
#include "server/storage/sqlite/sqlite_storage.h"

namespace apura::desktop::test {

namespace {

QString Run(const QString& program, const QStringList& args) {
  QProcess p;
  p.start(program, args);
  if (!p.waitForFinished(30000)) return {};
  return QString::fromUtf8(p.readAllStandardOutput());
}

int PdfPages(const QString& file) {
  const QString info = Run("pdfinfo", {file});
  const auto m = QRegularExpression(R"(Pages:\s+(\d+))").match(info);
  return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// The text of the PDF with runs of blanks made one, as the lines read.
QString PdfText(const QString& file) {
  QString t = Run("pdftotext", {"-layout", file, "-"});
  t.replace(QRegularExpression("[ \\t]+"), " ");
  return t;
}

HostSettings Settings(const DemoEnvironment& demo) {
  HostSettings s;
  s.decimalSeparator = ',';
  s.shortDateFormat = "dd/mm/yyyy";
  demo.Configure(s);
  return s;
}

// The document of the demo tally's report, and the sum of the values its
// detail query answered.
ReportDocument DemoReport(const HostSettings& s, double& valueSum) {
  TNetConnection net(nullptr, "netRelatorio");
  net.ServerName = kReportServerObject;
  net.ThrowException = false;
  net.Host = s.serverHost;
  net.Port = s.serverPort;
  ReportClient client(net);
  const ReportDefinition def = client.Definition("LIB050");
  const ValueArray results = client.Run("LIB050", TallyReportParams(def.params, *s.launchValues));
  const DataPacket& items = results.at(1).AsPacket();
  valueSum = 0;
  for (size_t r = 0; r < items.RowCount(); ++r)
    valueSum += items.Number(static_cast<size_t>(items.FieldIndex("VRTOTAL")), r);
  return BuildReport(def, results);
}

}  // namespace

ReportViewTest::ReportViewTest() = default;
ReportViewTest::~ReportViewTest() = default;

void ReportViewTest::initTestCase() {
  SessionOptions options;
  options.tallied = true;
  options.openWorksheet = false;
  const QString error = session_.Start(options);
  QVERIFY2(error.isEmpty(), qPrintable(error));
}

void ReportViewTest::cleanupTestCase() {
  session_.Stop();
}

void ReportViewTest::tallyReportPdfShowsTheTallySuppliersAndTotals() {
  HostSettings s = Settings(Demo());
  s.reportCode = "LIB050";
  s.reportPdf = Dir().filePath("lib050.pdf").toStdString();
  std::string error;
  QCOMPARE(RunBatchReport(s, error), 0);
  QVERIFY2(error.empty(), error.c_str());

  double grand = 0;
  const ReportDocument doc = DemoReport(s, grand);
  const QString pdf = QString::fromStdString(s.reportPdf);
  const int pages = PdfPages(pdf);
  QVERIFY2(pages > 1, "the demo tally's report takes more than one page");
  const QString text = PdfText(pdf);
  QVERIFY(text.contains(QString::fromUtf8("Apuração nº 1234")));
  QVERIFY(text.contains(QString("Página %1 de %1").arg(pages)));
  QVERIFY(text.contains(QString("Página 1 de %1").arg(pages)));

  // Every supplier's subtotal and the grand total, as the rows add up.
  int footers = 0;
  for (const ReportLine& l : doc.lines) {
    if (l.kind != ReportLine::Kind::GroupFooter && l.kind != ReportLine::Kind::GrandTotal) continue;
    ++footers;
    const QString value = QString::fromStdString(l.cells.back());
    QVERIFY2(text.contains(value), qPrintable(value));
    const QString label = QString::fromStdString(l.text).left(30);
    QVERIFY2(text.contains(label), qPrintable(label));
  }
  QVERIFY(footers >= 3);
  const QString total = QString::fromStdString(FormatFloat("#,##0.00", grand));
  QVERIFY2(text.contains(QString::fromUtf8("Total geral da apuração ")), "grand total line");
  QCOMPARE(QString::fromStdString(doc.lines.back().cells.back()), total);
  QVERIFY(text.contains(total));
}

void ReportViewTest::aBrokenDefinitionFailsNamingTheReport() {
  {
    server::SqliteStorage storage(Demo().DatabasePath());
    server::ReportService store(storage);
    store.Save(R"({"code": "TST99", "title": "Quebrado", "params": ["P_NRAPURACAO"],
      "queries": [{"name": "itens", "role": "detail",
                   "sql": "SELECT X FROM tabela_que_nao_existe WHERE A = :P_NRAPURACAO"}],
      "columns": [{"caption": "X", "field": "X"}]})");
  }
  HostSettings s = Settings(Demo());
  s.reportCode = "TST99";
  s.reportPdf = Dir().filePath("tst99.pdf").toStdString();
  std::string error;
  QCOMPARE(RunBatchReport(s, error), 1);
  QVERIFY2(error.find("Relatório TST99") != std::string::npos, error.c_str());
  QVERIFY2(error.find("tabela_que_nao_existe") != std::string::npos, error.c_str());
  QVERIFY(!QFile::exists(QString::fromStdString(s.reportPdf)));
}

void ReportViewTest::previewShowsEveryPageAndOffersSavingAsPdf() {
  QtHost host(Settings(Demo()));
  TReportParams params;
  params.Items = {{"P_NRAPURACAO", "1234"}, {"P_CDCENTITMAP", "0001"}};
  const ReportDocument doc = host.BuildReport("LIB050", params);
  const QString pdf = Dir().filePath("preview.pdf");
  QVERIFY(WriteReportPdf(doc, pdf));
  const int pages = PdfPages(pdf);

  int shownPages = -1;
  bool save = false;
  QString title;
  host.onReportPreview = [&](QPrintPreviewDialog& d) {
    title = d.windowTitle();
    if (auto* w = d.findChild<QPrintPreviewWidget*>()) {
      w->updatePreview();
      shownPages = w->pageCount();
      w->setCurrentPage(shownPages);
      w->zoomIn();
    }
    save = d.findChild<QAction*>("actSalvarPdf") != nullptr;
    // For the README: APURA_SCREENSHOT_DIR=docs/screenshots.
    const QString shots = qEnvironmentVariable("APURA_SCREENSHOT_DIR");
    if (!shots.isEmpty()) {
      d.resize(1100, 860);
      if (auto* w = d.findChild<QPrintPreviewWidget*>()) {
        w->setCurrentPage(1);
        w->fitToWidth();
      }
      QTest::qWait(50);
      d.grab().save(shots + "/report-preview.png");
    }
    d.reject();
  };
  host.ShowReport("LIB050", params);
  QVERIFY(title.startsWith("LIB050"));
  QCOMPARE(shownPages, pages);
  QVERIFY(save);
  QCOMPARE(host.Shown().back(), std::string("report: LIB050 P_NRAPURACAO=1234 P_CDCENTITMAP=0001"));
}

void ReportViewTest::reportFormPreviewsWithTheFormsParameters() {
  QtHost host(Settings(Demo()));
  TfrmDadosGerRel* form = nullptr;
  CreateForm(form);
  form->lblCodRel.SetCaption("LIB050");
  std::vector<std::string> asked;
  form->rpddPadrao.BeforeGetQueryParams = [&](TReportParams& p, bool&) {
    for (const TReportParam& x : p.Items) asked.push_back(x.Name);
    p.ParamByName("P_NRAPURACAO").Value = "1234";
    p.ParamByName("P_CDCENTITMAP").Value = "0001";
  };
  int previewLines = -1;
  host.onReportPreview = [&](QPrintPreviewDialog& d) {
    if (auto* w = d.findChild<QPrintPreviewWidget*>()) previewLines = w->pageCount();
    d.reject();
  };
  // The buyer clicks the form's preview button, then leaves.
  QTimer::singleShot(0, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    QVERIFY(modal);
    QWidget* button = modal->findChild<QWidget*>("sbtVisualizar");
    QVERIFY(button);
    if (auto* b = qobject_cast<QAbstractButton*>(button)) b->click();
    form->Close();
  });
  form->ShowModal();
  Application().ProcessReleases();
  QCOMPARE(asked, (std::vector<std::string>{"P_NRAPURACAO", "P_CDCENTITMAP"}));
  QVERIFY(previewLines > 1);
}

namespace {
// A report form that knows the report leaves something out.
class NoticeForm : public TfrmDadosGerRel {
 public:
  explicit NoticeForm(TComponent* owner = nullptr) : TfrmDadosGerRel("frmNotice", owner) {}
  TLabel lblAviso{this, "lblAviso", this};
};
}  // namespace

void ReportViewTest::aFormsNoticeGoesOnThePaper() {
  QtHost host(Settings(Demo()));
  const std::string notice = "Escolhas ainda não efetivadas não constam deste relatório.";
  std::vector<std::string> headers[2];
  for (int shown = 0; shown < 2; ++shown) {
    NoticeForm* form = nullptr;
    CreateForm(form);
    form->lblCodRel.SetCaption("LIB050");
    form->lblAviso.SetCaption(notice);
    form->lblAviso.SetVisible(shown == 1);
    form->rpddPadrao.BeforeGetQueryParams = [&](TReportParams& p, bool&) {
      p.ParamByName("P_NRAPURACAO").Value = "1234";
      p.ParamByName("P_CDCENTITMAP").Value = "0001";
    };
    host.onReportPreview = [](QPrintPreviewDialog& d) { d.reject(); };
    // The form is answered once it is up: a timer that fires before it shows
    // would find nothing, and the first round's form, closing, may still be
    // the modal one (marked, since a new one may take its address).
    QTimer answer;
    answer.setInterval(10);
    QObject::connect(&answer, &QTimer::timeout, [&] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal || modal->property("answered").toBool()) return;
      modal->setProperty("answered", true);
      answer.stop();
      if (auto* b = modal->findChild<QAbstractButton*>("sbtVisualizar")) b->click();
      form->Close();
    });
    answer.start();
    form->ShowModal();
    Application().ProcessReleases();
    QVERIFY(host.LastReport());
    headers[shown] = host.LastReport()->header;
  }
  QVERIFY(std::find(headers[0].begin(), headers[0].end(), notice) == headers[0].end());
  QCOMPARE(headers[1].size(), headers[0].size() + 1);
  QCOMPARE(headers[1].back(), notice);

  // On paper, on the first page.
  ReportDocument doc = *host.LastReport();
  const QString pdf = Dir().filePath("notice.pdf");
  QVERIFY(WriteReportPdf(doc, pdf));
  QVERIFY(PdfText(pdf).section('\f', 0, 0).contains(QString::fromStdString(notice)));
}

void ReportViewTest::aLongSubtotalLabelIsNotCut() {
  // Narrow columns before the totals, as a tally's supplier subtotal has.
  ReportDocument doc;
  doc.code = "T";
  doc.title = "Teste";
  for (const char* c : {"Col.", "Reg.", "Data", "Un."}) doc.columns.push_back({c, c, "", 0.6});
  doc.columns.push_back({"Qtde.", "Q", "", 1.2, ReportAlign::Right, true});
  doc.columns.push_back({"Valor", "V", "", 1.4, ReportAlign::Right, true});
  const std::string label = "Total Mercantil Boa Esperança Distribuidora de Alimentos";
  for (bool withQuantity : {true, false}) {
    doc.lines.clear();
    doc.lines.push_back({ReportLine::Kind::Detail, 0, "", {"1", "NOR", "01/01/2026", "CX"}});
    doc.lines.back().cells.insert(doc.lines.back().cells.end(), {"10,000", "80,91"});
    doc.lines.push_back({ReportLine::Kind::GroupFooter,
                         1,
                         label,
                         {"", "", "", "", withQuantity ? "10,000" : "", "80,91"}});
    const QString pdf = Dir().filePath("label.pdf");
    QVERIFY(WriteReportPdf(doc, pdf));
    const QString text = PdfText(pdf);
    QVERIFY2(text.contains(QString::fromStdString(label)), qPrintable(text));
    QVERIFY(text.contains("80,91"));
  }
}

void ReportViewTest::savingAsPdfOffersTheDocumentsFolderAndSaysWhere() {
  QtHost host(Settings(Demo()));
  TReportParams params;
  params.Items = {{"P_NRAPURACAO", "1234"}, {"P_CDCENTITMAP", "0001"}};
  const QString target = Dir().filePath("escolhido.pdf");
  QString offeredFolder, offeredName, said;
  host.onReportPreview = [&](QPrintPreviewDialog& d) {
    auto* save = d.findChild<QAction*>("actSalvarPdf");
    QVERIFY(save);
    // The file dialog: what it offers, then the buyer's own choice; then the
    // message saying where the file went.
    std::shared_ptr<DialogAnswer> saved;
    bool asked = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto* files = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (!files) return;
      poll.stop();
      asked = true;
      offeredFolder = files->directory().absolutePath();
      offeredName = QFileInfo(files->selectedFiles().value(0)).fileName();
      // Typed, as the buyer would: selectFile leaves the name box alone once
      // it has the focus, which on a loaded machine it may already have.
      auto* name = files->findChild<QLineEdit*>("fileNameEdit");
      QVERIFY(name);
      name->setText(target);
      saved = AnswerNextDialog("OK");
      QMetaObject::invokeMethod(files, "accept");
    });
    poll.start();
    save->trigger();
    QVERIFY(asked);
    QVERIFY(saved);
    QTRY_VERIFY(saved->seen);
    said = saved->text;
    d.reject();
  };
  host.ShowReport("LIB050", params);
  const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  QCOMPARE(offeredFolder, QDir(documents.isEmpty() ? QDir::homePath() : documents).absolutePath());
  QCOMPARE(offeredName, QString("Apuracao-1234.pdf"));
  QVERIFY(QFileInfo::exists(target));
  QVERIFY(PdfPages(target) > 0);
  QVERIFY2(said.contains(QDir::toNativeSeparators(target)), qPrintable(said));
}

}  // namespace apura::desktop::test

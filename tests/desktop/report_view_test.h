#pragma once
// Reports in the desktop host against the demo server over gRPC: the tally
// report written as PDF and read back as text, the print preview, and the
// report form's preview button.

#include <QObject>
#include <QTemporaryDir>
#include <memory>

namespace apura::desktop {
class DemoEnvironment;
}

namespace apura::desktop::test {

class ReportViewTest : public QObject {
  Q_OBJECT
 public:
  ReportViewTest();
  ~ReportViewTest() override;

 private slots:
  void initTestCase();
  void cleanupTestCase();
  void tallyReportPdfShowsTheTallySuppliersAndTotals();
  void aBrokenDefinitionFailsNamingTheReport();
  void previewShowsEveryPageAndOffersSavingAsPdf();
  void reportFormPreviewsWithTheFormsParameters();
  void aFormsNoticeGoesOnThePaper();
  void aLongSubtotalLabelIsNotCut();
  void savingAsPdfOffersTheDocumentsFolderAndSaysWhere();

 private:
  QTemporaryDir dir_;
  std::unique_ptr<DemoEnvironment> demo_;
};

}  // namespace apura::desktop::test

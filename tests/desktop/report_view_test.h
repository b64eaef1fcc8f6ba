#pragma once
// Reports in the desktop host against the demo server over gRPC: the tally
// report written as PDF and read back as text, the print preview, and the
// report form's preview button.

#include <QObject>
#include <memory>

#include "desktop_session.h"

namespace apura::desktop::test {

class ReportViewTest : public ViewSuite {
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
};

}  // namespace apura::desktop::test

#pragma once
// The host's own additions around the screens, against the demo server: the
// quotation comparison chart beside "Cotação", the export of any grid to a
// spreadsheet file, and the buyer's guide opened with F1.

#include <QObject>

#include "desktop_session.h"

namespace apura::desktop {
class GridExporter;
class QuoteChart;
}  // namespace apura::desktop

namespace apura::desktop::test {

class HostExtrasTest : public ViewSuite {
  Q_OBJECT
 private slots:
  void initTestCase();
  void cleanupTestCase();
  void quoteBarsReadTheLinesAndFlagUnreachedMinimums();
  void chartFollowsCursorChoiceDropAndPriceCorrection();
  void aClickOnABarMovesTheQuotationGrid();
  void chartShownOrHiddenIsRemembered();
  void xlsxHoldsTheVisibleColumnsAndRowsWithTypesAndFormats();
  void xlsxWritesDatesAsDates();
  void xlsxKeepsEveryTextAndNumberAsWritten();
  void xlsxThatCannotBeWrittenIsAFailure();
  void moreRowsThanASheetHoldsAreRefusedForXlsx();
  void csvUsesSemicolonsAndTheUsersDecimalSeparator();
  void aCancelledExportLeavesNoFile();
  void theGridsContextMenuExportsToTheChosenFile();
  void f1OnTheWorksheetOpensItsPage();
  void f1OnTheJustificationDialogOpensItsPage();
  void everyHelpTopicHasAPageReachableFromTheContents();

 private:
  GridExporter& Exporter();
  QuoteChart& Chart();
  int OnPricedLine();
  QString reported_;
};

}  // namespace apura::desktop::test

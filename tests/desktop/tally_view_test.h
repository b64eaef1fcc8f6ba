#pragma once
// The buyer's tally gestures in the desktop host, against the demo server
// over gRPC: the space bar on the quotation grid's price, the typed price,
// and the justification dialog.

#include <QObject>
#include <memory>

#include "desktop_session.h"

namespace apura::desktop::test {

class TallyViewTest : public ViewSuite {
  Q_OBJECT
 public:
  TallyViewTest();
  ~TallyViewTest() override;
  // With APURA_SCREENSHOT_DIR set, saves the widget's picture there.
  static void Screenshot(QWidget* w, const char* name);

 private slots:
  void initTestCase();
  void cleanupTestCase();
  void apurarAnsweredSimShowsTheServersChoice();
  void spaceOnThePriceChoosesAndDropsWithTheMarkPaintedAtOnce();
  void closingTheJustificationDialogUndoesTheChoice();
  void aTypedPriceTakesNoSignOrExponent();

 private:
  // Puts the quotation grid's current cell on a priced line's unit price;
  // answers the row, -1 when the tally has none.
  int OnPricedLine();
  QString Sel(int row) const;
};

}  // namespace apura::desktop::test

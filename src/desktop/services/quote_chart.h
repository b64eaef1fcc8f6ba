#pragma once
// The quotation comparison chart: one pair of bars per quotation line of the
// product and region in view (unit price and economic price), the chosen
// lines marked and a supplier's minimum flagged when what is chosen from it
// does not reach it. It reads the quotation grid's table as the grids do,
// through a data link, and never writes to it; a click on a bar (or the
// arrow keys on the chart) moves the grid to that line.

#include <QDockWidget>
#include <QPointer>
#include <QString>
#include <vector>

#include "desktop/binding/grid_view.h"
#include "desktop/binding/watch.h"
#include "framework/dataset/dataset.h"

class QLabel;
class QMdiArea;
class QMdiSubWindow;

class QChart;
class QChartView;
class QAbstractBarSeries;
class QBarSet;
class QBarCategoryAxis;
class QValueAxis;

namespace apura::desktop {

class GridView;

struct QuoteBar {
  QString supplier, brand, collection;
  double unit = 0, economic = 0;
  QString unitText, economicText;  // as the grid shows them
  bool chosen = false;
  bool current = false;  // the line the grid's cursor is on
  // The supplier refuses an AF below this ("R") rather than only warning.
  bool belowMinValue = false, belowMinQuantity = false, minimumBlocks = false;
  QString minimumText;  // what is short, for the buyer
  QString Category() const;
};

// The quotation lines the table shows, in its order. Empty when the table has
// none of the quotation fields.
std::vector<QuoteBar> ReadQuoteBars(const TClientDataSet& lines);
// Whether a table holds quotation lines the chart can show.
bool IsQuotationTable(const TClientDataSet& table);

class QuoteChart : public QWidget, public TDataLink {
  Q_OBJECT
 public:
  explicit QuoteChart(QWidget* parent = nullptr);
  ~QuoteChart() override;

  // The quotation grid to follow; null: none (an empty chart).
  void Follow(GridView* grid);
  GridView* Followed() const { return grid_; }
  // Reads the lines and redraws now (changes are otherwise gathered and drawn
  // once the event loop is free).
  void Refresh();
  const std::vector<QuoteBar>& Bars() const { return bars_; }
  QChartView* View() const { return view_; }
  QChart* Chart() const { return chart_; }
  QBarSet* UnitSet() const { return unit_; }
  QBarSet* EconomicSet() const { return economic_; }
  QString Summary() const;
  // Moves the followed grid to line `index` of the chart.
  void MoveGridTo(int index);

  void DataSetChanged() override;
  void StateChanged() override;
  void DataSourceDestroyed(TDataSource&) override;

 signals:
  void refreshed();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void Schedule();
  void Draw();
  void Unlink();

  QPointer<GridView> grid_;
  TDataSource* source_ = nullptr;
  Watch watch_;
  QChart* chart_;
  QChartView* view_;
  QAbstractBarSeries* series_;
  QBarSet* unit_;
  QBarSet* economic_;
  QBarCategoryAxis* axisX_;
  QValueAxis* axisY_;
  QLabel* summary_;
  std::vector<QuoteBar> bars_;
  bool pending_ = false;
};

// The chart as a dock of the main window: it follows the worksheet that is
// in front.
class QuoteChartDock : public QDockWidget {
  Q_OBJECT
 public:
  QuoteChartDock(QMdiArea* mdi, QWidget* parent = nullptr);
  QuoteChart* Chart() const { return chart_; }
  // Looks again for a quotation grid in the window in front.
  void FollowActive();

 private:
  void SubWindowActivated(QMdiSubWindow* window);
  QPointer<QMdiArea> mdi_;
  QuoteChart* chart_;
};

}  // namespace apura::desktop

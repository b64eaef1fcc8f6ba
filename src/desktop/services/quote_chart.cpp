#include "desktop/services/quote_chart.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QHorizontalBarSeries>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>

#include "desktop/binding/events.h"
#include "desktop/binding/grid_view.h"
#include "framework/format.h"

namespace apura::desktop {

namespace {

QString Q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// The quotation-line fields the chart reads, by index in the table.
struct QuoteFields {
  int supplier = -1, brand = -1, collection = -1, unit = -1, economic = -1, chosen = -1;
  int quantity = -1, minQuantity = -1, minQuantityKind = -1, minValue = -1, minValueKind = -1;
  explicit QuoteFields(const TClientDataSet& t) {
    auto at = [&t](const char* name) {
      const TField* f = t.FindField(name);
      return f ? f->Index() : -1;
    };
    supplier = at("NMFANTFORN");
    brand = at("NMMARCA");
    collection = at("NRCOLEITMAP");
    unit = at("VRPRECUNIAP");
    economic = at("PRECOECON");
    chosen = at("IDITMSELAPUR");
    quantity = at("QTACOMP");
    minQuantity = at("QTMINAUTFOT");
    minQuantityKind = at("IDQTMINFORN");
    minValue = at("VRMINAUTFOR");
    minValueKind = at("IDVRMINFORN");
  }
  bool Usable() const { return supplier >= 0 && unit >= 0 && economic >= 0 && chosen >= 0; }
};

double Number(const TClientDataSet& t, int row, int field) {
  if (field < 0) return 0;
  const Value v = t.CellValue(row, field);
  return v.IsNull() ? 0 : v.AsFloat();
}

std::string Text(const TClientDataSet& t, int row, int field) {
  return field < 0 ? std::string() : t.CellValue(row, field).ToText();
}

QString Picture(const TClientDataSet& t, int field, double v) {
  if (field < 0) return {};
  const std::string& picture = t.Fields()[size_t(field)]->DisplayFormat();
  return Q(picture.empty() ? FloatToText(v) : FormatFloat(picture, v));
}

// The chart's numbers in the user's separators.
QLocale UserLocale() {
  return CurrentFormat().decimalSeparator == ',' ? QLocale(QLocale::Portuguese, QLocale::Brazil)
                                                 : QLocale(QLocale::English, QLocale::UnitedStates);
}

}  // namespace

QString QuoteBar::Category() const {
  QString s = supplier.trimmed();
  if (!brand.trimmed().isEmpty()) s += QStringLiteral(" / ") + brand.trimmed();
  if (chosen) s = QStringLiteral("✔ ") + s;
  if (belowMinValue || belowMinQuantity) s += QStringLiteral(" ⚠");
  if (current) s = QStringLiteral("▶ ") + s;
  return s;
}

bool IsQuotationTable(const TClientDataSet& table) {
  return QuoteFields(table).Usable();
}

std::vector<QuoteBar> ReadQuoteBars(const TClientDataSet& t) {
  std::vector<QuoteBar> out;
  if (!t.Active()) return out;
  const QuoteFields f(t);
  if (!f.Usable()) return out;
  const int rows = t.RecordCount();
  const int cursor = t.CursorPos();
  out.reserve(size_t(std::max(rows, 0)));
  for (int r = 0; r < rows; ++r) {
    QuoteBar b;
    b.supplier = Q(Text(t, r, f.supplier));
    b.brand = Q(Text(t, r, f.brand));
    b.collection = Q(Text(t, r, f.collection));
    b.unit = Number(t, r, f.unit);
    b.economic = Number(t, r, f.economic);
    b.unitText = Picture(t, f.unit, b.unit);
    b.economicText = Picture(t, f.economic, b.economic);
    b.chosen = Text(t, r, f.chosen) == "S";
    b.current = r == cursor;
    // What the chosen deliveries buy from this line, against the supplier's
    // minimums for an AF.
    const double quantity = Number(t, r, f.quantity);
    if (b.chosen || quantity > 0) {
      const double minQuantity = Number(t, r, f.minQuantity);
      const double minValue = Number(t, r, f.minValue);
      const double value = quantity * b.unit;
      QStringList why;
      if (minValue > 0 && value + 1e-9 < minValue) {
        b.belowMinValue = true;
        b.minimumBlocks = b.minimumBlocks || Text(t, r, f.minValueKind) == "R";
        why << QStringLiteral("valor %1 abaixo do mínimo %2")
                   .arg(Q(FormatFloat("#,##0.00", value)), Q(FormatFloat("#,##0.00", minValue)));
      }
      if (minQuantity > 0 && quantity + 1e-9 < minQuantity) {
        b.belowMinQuantity = true;
        b.minimumBlocks = b.minimumBlocks || Text(t, r, f.minQuantityKind) == "R";
        why << QStringLiteral("quantidade %1 abaixo da mínima %2")
                   .arg(Q(FormatFloat("#,##0.000", quantity)),
                        Q(FormatFloat("#,##0.000", minQuantity)));
      }
      b.minimumText = why.join(QStringLiteral("; "));
    }
    out.push_back(std::move(b));
  }
  return out;
}

// --- The chart -------------------------------------------------------------------

QuoteChart::QuoteChart(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("quoteChart"));
  chart_ = new QChart;
  chart_->setAnimationOptions(QChart::NoAnimation);
  chart_->setLocalizeNumbers(true);
  chart_->legend()->setAlignment(Qt::AlignBottom);
  chart_->setTitle(QStringLiteral("Cotações do produto na região"));
  // Lying bars leave the suppliers' names room to be read in a narrow dock.
  series_ = new QHorizontalBarSeries(chart_);
  unit_ = new QBarSet(QStringLiteral("Pr. Unitário"));
  economic_ = new QBarSet(QStringLiteral("Pr. Econômico"));
  unit_->setColor(QColor(0x4a, 0x78, 0xb0));
  economic_->setColor(QColor(0xe0, 0x9a, 0x3e));
  // The chosen line's pair stands out in green.
  unit_->setSelectedColor(QColor(0x1f, 0x8a, 0x3a));
  economic_->setSelectedColor(QColor(0x6c, 0xc0, 0x5a));
  series_->append(unit_);
  series_->append(economic_);
  chart_->addSeries(series_);
  axisX_ = new QBarCategoryAxis(chart_);
  axisY_ = new QValueAxis(chart_);
  axisY_->setLabelFormat(QStringLiteral("%.2f"));
  axisY_->setMin(0);
  chart_->addAxis(axisX_, Qt::AlignLeft);
  chart_->addAxis(axisY_, Qt::AlignBottom);
  series_->attachAxis(axisX_);
  series_->attachAxis(axisY_);

  view_ = new QChartView(chart_, this);
  view_->setObjectName(QStringLiteral("quoteChartView"));
  view_->setRenderHint(QPainter::Antialiasing);
  view_->setFocusPolicy(Qt::StrongFocus);
  view_->setAccessibleName(QStringLiteral("Gráfico de cotações"));
  view_->setToolTip(
      QStringLiteral("Clique numa barra (ou use ← →) para levar a grade "
                     "\"Cotação\" àquela linha"));
  view_->installEventFilter(this);
  summary_ = new QLabel(this);
  summary_->setObjectName(QStringLiteral("quoteChartSummary"));
  summary_->setWordWrap(true);
  summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->addWidget(view_, 1);
  layout->addWidget(summary_);

  connect(series_, &QAbstractBarSeries::clicked, this,
          [this](int index, QBarSet*) { MoveGridTo(index); });
  connect(series_, &QAbstractBarSeries::hovered, this, [this](bool on, int index, QBarSet*) {
    if (!on || index < 0 || size_t(index) >= bars_.size()) return QToolTip::hideText();
    const QuoteBar& b = bars_[size_t(index)];
    QString tip = QStringLiteral("%1\nColeta %2\nPr. Unitário %3\nPr. Econômico %4")
                      .arg(b.Category(), b.collection, b.unitText, b.economicText);
    if (!b.minimumText.isEmpty()) tip += QStringLiteral("\nMínimo do fornecedor: ") + b.minimumText;
    QToolTip::showText(QCursor::pos(), tip, view_);
  });
  Draw();
}

QuoteChart::~QuoteChart() {
  Unlink();
}

void QuoteChart::Unlink() {
  watch_.Clear();
  if (source_) source_->RemoveLink(this);
  source_ = nullptr;
}

void QuoteChart::Follow(GridView* grid) {
  if (grid == grid_ && (!grid || (grid->Grid() && grid->Grid()->DataSource() == source_))) return;
  Unlink();
  grid_ = grid;
  if (grid && grid->Grid()) {
    TDBGrid* g = grid->Grid();
    source_ = g->DataSource();
    if (source_) source_->AddLink(this);
    watch_.On(*g, [this](std::string_view p) {
      if (p == "Destroying") {
        // The watch has already dropped this subscription.
        if (source_) source_->RemoveLink(this);
        source_ = nullptr;
        grid_ = nullptr;
        Schedule();
      } else if (p == "DataSource") {
        GridView* again = grid_;
        grid_ = nullptr;
        Follow(again);
      }
    });
  }
  Refresh();
}

void QuoteChart::DataSetChanged() {
  Schedule();
}

void QuoteChart::StateChanged() {
  Schedule();
}

void QuoteChart::DataSourceDestroyed(TDataSource&) {
  source_ = nullptr;  // the link is gone with the source
  Schedule();
}

void QuoteChart::Schedule() {
  // One redraw for a burst of changes (a refilter announces every step).
  if (pending_) return;
  pending_ = true;
  QTimer::singleShot(0, this, [this] {
    if (pending_) Refresh();
  });
}

void QuoteChart::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  Refresh();
}

void QuoteChart::Refresh() {
  pending_ = false;
  TClientDataSet* table = source_ ? source_->DataSet() : nullptr;
  // While a table's views are held back its rows may be half-changed.
  if (table && table->ControlsDisabled()) {
    Schedule();
    return;
  }
  try {
    bars_ = table ? ReadQuoteBars(*table) : std::vector<QuoteBar>{};
  } catch (...) {
    bars_.clear();
  }
  Draw();
  emit refreshed();
}

void QuoteChart::Draw() {
  chart_->setLocale(UserLocale());
  QList<qreal> units, economics;
  QStringList categories;
  QList<int> chosen;
  double top = 0;
  for (size_t i = 0; i < bars_.size(); ++i) {
    const QuoteBar& b = bars_[i];
    units << b.unit;
    economics << b.economic;
    categories << b.Category();
    if (b.chosen) chosen << int(i);
    top = std::max({top, b.unit, b.economic});
  }
  unit_->deselectAllBars();
  economic_->deselectAllBars();
  if (unit_->count() > 0) unit_->remove(0, unit_->count());
  if (economic_->count() > 0) economic_->remove(0, economic_->count());
  unit_->append(units);
  economic_->append(economics);
  unit_->selectBars(chosen);
  economic_->selectBars(chosen);
  axisX_->setCategories(categories);
  axisY_->setRange(0, top > 0 ? top * 1.1 : 1);
  summary_->setText(Summary());
}

QString QuoteChart::Summary() const {
  if (bars_.empty()) return QStringLiteral("Nenhuma cotação para o produto e a região em vista.");
  for (const QuoteBar& b : bars_) {
    if (!b.current) continue;
    QString s = QStringLiteral("%1 — coleta %2: Pr. Unitário %3, Pr. Econômico %4%5")
                    .arg(b.supplier.trimmed() + (b.brand.trimmed().isEmpty()
                                                     ? QString()
                                                     : QStringLiteral(" / ") + b.brand.trimmed()),
                         b.collection, b.unitText, b.economicText,
                         b.chosen ? QStringLiteral(" (escolhida)") : QString());
    if (!b.minimumText.isEmpty())
      s += QStringLiteral(". Mínimo do fornecedor não atingido: %1%2")
               .arg(b.minimumText,
                    b.minimumBlocks ? QStringLiteral(" — a AF será recusada") : QString());
    return s;
  }
  return QStringLiteral("%1 cotação(ões).").arg(bars_.size());
}

void QuoteChart::MoveGridTo(int index) {
  if (!grid_ || index < 0 || index >= grid_->Model().rowCount()) return;
  const int column = std::max(grid_->currentIndex().column(), 0);
  // As the buyer's click on the row would: the grid moves the table's cursor.
  grid_->setCurrentIndex(grid_->Model().index(index, column));
}

bool QuoteChart::eventFilter(QObject* watched, QEvent* event) {
  if (watched == view_ && event->type() == QEvent::KeyPress && grid_) {
    const auto* key = static_cast<QKeyEvent*>(event);
    int current = grid_->Model().CursorRow();
    const int last = grid_->Model().rowCount() - 1;
    switch (key->key()) {
      case Qt::Key_Left:
      case Qt::Key_Up:
        MoveGridTo(std::max(current - 1, 0));
        return true;
      case Qt::Key_Right:
      case Qt::Key_Down:
        MoveGridTo(std::min(current + 1, last));
        return true;
      case Qt::Key_Home:
        MoveGridTo(0);
        return true;
      case Qt::Key_End:
        MoveGridTo(last);
        return true;
      case Qt::Key_Return:
      case Qt::Key_Enter:
        grid_->setFocus();
        return true;
      default:
        break;
    }
  }
  return QWidget::eventFilter(watched, event);
}

// --- The dock --------------------------------------------------------------------

QuoteChartDock::QuoteChartDock(QMdiArea* mdi, QWidget* parent)
    : QDockWidget(QStringLiteral("Gráfico de cotações"), parent), mdi_(mdi) {
  setObjectName(QStringLiteral("quoteChartDock"));
  chart_ = new QuoteChart(this);
  setWidget(chart_);
  setMinimumWidth(320);
  if (mdi) connect(mdi, &QMdiArea::subWindowActivated, this, &QuoteChartDock::SubWindowActivated);
}

void QuoteChartDock::SubWindowActivated(QMdiSubWindow* window) {
  if (!window) return;  // focus gone to a dialog: keep the worksheet in view
  for (GridView* g : window->findChildren<GridView*>()) {
    TClientDataSet* t = g->Model().DataSet();
    if (g->Grid() && t && IsQuotationTable(*t)) {
      chart_->Follow(g);
      return;
    }
  }
}

void QuoteChartDock::FollowActive() {
  if (!mdi_) return;
  if (QMdiSubWindow* w = mdi_->activeSubWindow()) return SubWindowActivated(w);
  for (QMdiSubWindow* w : mdi_->subWindowList()) SubWindowActivated(w);
}

}  // namespace apura::desktop

#include "desktop/binding/grid_view.h"

#include <QAction>
#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <algorithm>

#include "desktop/binding/events.h"
#include "desktop/binding/key_route.h"
#include "desktop/binding/qt_canvas.h"
#include "framework/forms.h"

namespace apura::desktop {

namespace {
QString Q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
bool Editing(const TClientDataSet* ds) {
  return ds && (ds->State() == TDataSetState::dsEdit || ds->State() == TDataSetState::dsInsert);
}
}  // namespace

// --- Delegate ----------------------------------------------------------------------

GridDelegate::GridDelegate(GridView& view) : QStyledItemDelegate(&view), view_(view) {}

void GridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index) const {
  TDBGrid* grid = view_.Grid();
  DataSetModel& model = view_.Model();
  const TClientDataSet* ds = model.DataSet();
  const QColor background = ResolveColor(grid ? grid->Color() : clWindow, view_.palette());
  if (!grid || !ds || ds->ControlsDisabled() || index.column() >= grid->Columns.Count()) {
    painter->fillRect(option.rect, background);
    return;
  }
  TGridDrawState state = 0;
  const bool currentRow = index.row() == model.CursorRow();
  const bool currentCell = currentRow && index.column() == grid->SelectedIndex();
  if (currentRow && (currentCell || grid->HasOption(dgRowSelect))) state |= gdSelected;
  if (currentCell && view_.hasFocus()) state |= gdFocused;
  const QRect& r = option.rect;
  const TRect rect{r.left(), r.top(), r.right() + 1, r.bottom() + 1};
  painter->save();
  painter->setClipRect(r);
  QtCanvas canvas(*painter, view_.palette(), view_.font());
  try {
    model.WithRow(index.row(), [&] { grid->DrawCell(canvas, rect, index.column(), state); });
  } catch (const std::exception& e) {
    // A painter that fails must not take the window down with it; the
    // cell shows what was drawn before the failure.
    qWarning("Painting %s failed: %s", grid->Name.c_str(), e.what());
  } catch (...) {
    qWarning("Painting %s failed", grid->Name.c_str());
  }
  painter->restore();
  if (currentCell && view_.CellHasEllipsis(index)) {
    QStyleOptionButton button;
    button.rect = GridView::EllipsisRect(r);
    button.text = QStringLiteral("…");
    button.state = QStyle::State_Enabled | QStyle::State_Raised;
    view_.style()->drawControl(QStyle::CE_PushButton, &button, painter, &view_);
  }
}

QWidget* GridDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                    const QModelIndex& index) const {
  TDBGrid* grid = view_.Grid();
  TClientDataSet* ds = view_.Model().DataSet();
  TField* field = view_.Model().FieldOf(index.column());
  if (!grid || !ds || !field) return nullptr;
  auto* editor = new QLineEdit(parent);
  editor->setFrame(false);
  editor->setAlignment(ToQtAlignment(grid->Columns[index.column()].Alignment()));
  if (field->DataType() == FieldType::String && field->Size() > 0)
    editor->setMaxLength(field->Size());
  if (view_.CellHasEllipsis(index)) {
    QAction* more = editor->addAction(QIcon(), QLineEdit::TrailingPosition);
    more->setText(QStringLiteral("…"));
    more->setToolTip(QStringLiteral("…"));
    connect(more, &QAction::triggered, editor,
            [grid] { RunEvent([grid] { grid->EditButtonClick(); }); });
  }
  editor->installEventFilter(const_cast<GridDelegate*>(this));
  // The table goes into edit state with the first change typed, as a data
  // grid's editor does; a table that refuses (a guard aborting) closes it.
  auto* self = const_cast<GridDelegate*>(this);
  connect(editor, &QLineEdit::textEdited, editor, [self, ds, editor] {
    if (Editing(ds)) return;
    if (!RunEvent([ds] { ds->Edit(); }) || !Editing(ds)) {
      editor->setModified(false);
      emit self->closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
    }
  });
  view_.openingEditor_ = true;
  grid->SetEditorMode(true);
  view_.openingEditor_ = false;
  return editor;
}

void GridDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
  auto* line = qobject_cast<QLineEdit*>(editor);
  TField* field = view_.Model().FieldOf(index.column());
  if (!line || !field) return;
  if (line->isModified()) return;
  std::string text;
  // Called by Qt: a failing text handler opens an empty editor instead.
  try {
    text = field->Text();
  } catch (...) {
  }
  line->setText(Q(text));
}

void GridDelegate::setModelData(QWidget* editor, QAbstractItemModel*,
                                const QModelIndex& index) const {
  auto* line = qobject_cast<QLineEdit*>(editor);
  TField* field = view_.Model().FieldOf(index.column());
  TClientDataSet* ds = view_.Model().DataSet();
  if (!line || !field || !Editing(ds) || !line->isModified()) return;
  const std::string text = line->text().toStdString();
  RunEvent([&] {
    if (text.empty())
      field->Clear();
    else
      field->SetAsString(text);
  });
}

void GridDelegate::destroyEditor(QWidget* editor, const QModelIndex& index) const {
  if (TDBGrid* grid = view_.Grid()) grid->SetEditorMode(false);
  QStyledItemDelegate::destroyEditor(editor, index);
}

bool GridDelegate::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && event != view_.RoutedKey()) {
    TDBGrid* grid = view_.Grid();
    TForm* form = grid ? grid->ParentForm() : nullptr;
    if (form) {
      auto* key = static_cast<QKeyEvent*>(event);
      std::unique_ptr<QKeyEvent> replacement;
      switch (RouteKey(*form, *key, replacement)) {
        case KeyRoute::Consumed:
          return true;
        case KeyRoute::Replaced:
          QCoreApplication::sendEvent(watched, replacement.get());
          return true;
        case KeyRoute::Pass:
          break;
      }
    }
  }
  return QStyledItemDelegate::eventFilter(watched, event);
}

// --- View ----------------------------------------------------------------------------

GridView::GridView(TDBGrid& grid, QWidget* parent)
    : QTableView(parent), grid_(&grid), delegate_(*this) {
  setObjectName(QString::fromStdString(grid.Name));
  model_.editable = [this](int column) { return Editable(column); };
  setModel(&model_);
  setItemDelegate(&delegate_);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setWordWrap(false);
  setCornerButtonEnabled(false);
  setAlternatingRowColors(false);
  // Rows are all alike: fixed heights keep half a million rows as cheap as ten.
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  verticalHeader()->setMinimumSectionSize(fontMetrics().height() + 4);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setStretchLastSection(false);
  setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                  QAbstractItemView::AnyKeyPressed);
  connect(&model_, &DataSetModel::cursorMoved, this, [this] { SyncCursor(); });
  connect(&model_, &DataSetModel::rowsChanging, this, [this] { rowsChanging_ = true; });
  connect(&model_, &DataSetModel::rowsSettled, this, [this] { rowsChanging_ = false; });
  connect(&model_, &QAbstractItemModel::modelReset, this, [this] { ApplyWidths(); });
  watch_.On(grid, [this](std::string_view p) { GridChanged(p); });
  model_.SetSource(grid.DataSource());
  SyncColumns();
  SyncOptions();
  SyncCursor();
}

GridView::~GridView() {
  Detach();
}

void GridView::Detach() {
  if (!grid_) return;
  watch_.Clear();
  grid_ = nullptr;
  model_.SetSource(nullptr);
}

QRect GridView::EllipsisRect(const QRect& cell) {
  const int w = std::min(16, cell.width());
  return QRect(cell.right() - w + 1, cell.top(), w, cell.height());
}

bool GridView::CellHasEllipsis(const QModelIndex& index) const {
  if (!grid_ || index.column() < 0 || index.column() >= grid_->Columns.Count()) return false;
  return grid_->Columns[index.column()].ButtonStyle() == TColumnButtonStyle::cbsEllipsis &&
         Editable(index.column());
}

bool GridView::Editable(int column) const {
  if (!grid_ || grid_->ReadOnly() || !grid_->HasOption(dgEditing)) return false;
  if (column < 0 || column >= grid_->Columns.Count()) return false;
  if (grid_->Columns[column].ReadOnly()) return false;
  TField* f = grid_->Columns[column].Field();
  return f && !f->ReadOnly();
}

void GridView::GridChanged(std::string_view p) {
  if (p == "Destroying") {
    Detach();
  } else if (p == "Columns") {
    SyncColumns();
  } else if (p == "DataSource") {
    model_.SetSource(grid_->DataSource());
    SyncColumns();
  } else if (p == "SelectedIndex") {
    SyncCursor();
  } else if (p == "Options" || p == "ReadOnly") {
    SyncOptions();
  } else if (p == "EditorMode") {
    if (grid_->EditorMode() && !openingEditor_ && state() != QAbstractItemView::EditingState &&
        currentIndex().isValid())
      edit(currentIndex());
  } else if (p == "Repaint" || p == "Color") {
    viewport()->update();
  }
}

void GridView::SyncColumns() {
  if (!grid_) return;
  std::vector<ModelColumn> cols;
  for (const auto& c : grid_->Columns) {
    ModelColumn m;
    m.fieldName = c->FieldName();
    m.title = c->TitleText();
    m.titleAlignment = c->Title().Alignment;
    m.alignmentFromField = false;
    m.alignment = c->Alignment();
    if (!c->Title().FontName.empty())
      m.title = SymbolText(QString::fromStdString(c->Title().FontName), Q(m.title)).toStdString();
    cols.push_back(std::move(m));
  }
  bool same = cols.size() == model_.Columns().size();
  for (size_t i = 0; same && i < cols.size(); ++i)
    same = cols[i].fieldName == model_.Columns()[i].fieldName &&
           cols[i].title == model_.Columns()[i].title &&
           cols[i].titleAlignment == model_.Columns()[i].titleAlignment &&
           cols[i].alignment == model_.Columns()[i].alignment;
  if (!same) {
    fitted_.clear();
    model_.SetColumns(std::move(cols));
  }
  ApplyWidths();
}

void GridView::ApplyWidths() {
  if (!grid_) return;
  const QFontMetrics fm(font());
  const QFontMetrics titles(horizontalHeader()->font());
  const int charWidth = fm.averageCharWidth();
  // What the first rows hold, so that names are not cut; a sample keeps a
  // table of half a million rows as quick to show as a short one.
  const int sample = std::min(model_.rowCount(), 200);
  const int count = grid_->Columns.Count();
  if (int(fitted_.size()) != count) fitted_.assign(size_t(count), 0);
  for (int i = 0; i < count; ++i) {
    TColumn& c = grid_->Columns[i];
    int width = c.Width();
    if (width <= 0) {
      TField* f = c.Field();
      int chars = f ? f->DisplayWidth() : 10;
      width = chars * charWidth + 8;
    }
    width = std::max(width, titles.horizontalAdvance(
                                model_.headerData(i, Qt::Horizontal, Qt::DisplayRole).toString()) +
                                16);
    if (i < model_.columnCount())
      for (int r = 0; r < sample; ++r)
        width =
            std::max(width, fm.horizontalAdvance(model_.data(model_.index(r, i), Qt::DisplayRole).toString()) + 12);
    // A column only grows as other rows show: it does not jump back and forth
    // as the buyer moves from product to product.
    width = std::min(std::max(width, fitted_[size_t(i)]), 60 * charWidth);
    fitted_[size_t(i)] = width;
    horizontalHeader()->resizeSection(i, width);
    setColumnHidden(i, !c.Visible());
  }
  viewport()->update();
}

void GridView::SyncOptions() {
  if (!grid_) return;
  setSelectionBehavior(grid_->HasOption(dgRowSelect) ? QAbstractItemView::SelectRows
                                                     : QAbstractItemView::SelectItems);
  horizontalHeader()->setVisible(grid_->HasOption(dgTitles));
  verticalHeader()->setVisible(grid_->HasOption(dgIndicator));
  setShowGrid(grid_->HasOption(dgColLines) || grid_->HasOption(dgRowLines));
  viewport()->update();
}

void GridView::SyncCursor() {
  if (!grid_ || syncing_) return;
  syncing_ = true;
  const int row = model_.CursorRow();
  int col = std::max(grid_->SelectedIndex(), 0);
  if (col >= model_.columnCount()) col = model_.columnCount() - 1;
  if (row >= 0 && row < model_.rowCount() && col >= 0) {
    QModelIndex idx = model_.index(row, col);
    if (currentIndex() != idx) {
      QItemSelectionModel::SelectionFlags flags = QItemSelectionModel::ClearAndSelect;
      if (grid_->HasOption(dgRowSelect)) flags |= QItemSelectionModel::Rows;
      selectionModel()->setCurrentIndex(idx, flags);
    }
    scrollTo(idx);
  } else if (currentIndex().isValid()) {
    selectionModel()->clear();
  }
  syncing_ = false;
  viewport()->update();
  verticalHeader()->viewport()->update();
}

void GridView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  QTableView::currentChanged(current, previous);
  if (!grid_ || syncing_ || rowsChanging_ || !current.isValid()) return;
  TDBGrid* grid = grid_;
  if (current.column() != grid->SelectedIndex() && current.column() < grid->Columns.Count())
    RunEvent([&] { grid->SetSelectedIndex(current.column()); });
  TClientDataSet* ds = model_.DataSet();
  if (ds && ds->Active() && current.row() != model_.CursorRow() &&
      !model_.IsInsertRow(current.row()))
    RunEvent([&] { ds->SetRecNo(current.row() + 1); });
  // Handlers may have put the cursor elsewhere, or refused the move.
  SyncCursor();
}

void GridView::keyPressEvent(QKeyEvent* event) {
  TForm* form = grid_ ? grid_->ParentForm() : nullptr;
  if (!form) return QTableView::keyPressEvent(event);
  // Ctrl+Enter presses the ellipsis button, as a click on it would.
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      (event->modifiers() & Qt::ControlModifier) && CellHasEllipsis(currentIndex())) {
    TDBGrid* grid = grid_;
    RunEvent([grid] { grid->EditButtonClick(); });
    return;
  }
  std::unique_ptr<QKeyEvent> replacement;
  switch (RouteKey(*form, *event, replacement)) {
    case KeyRoute::Consumed:
      event->accept();
      return;
    case KeyRoute::Replaced:
      routed_ = replacement.get();
      QTableView::keyPressEvent(replacement.get());
      routed_ = nullptr;
      return;
    case KeyRoute::Pass:
      // Esc in the cell editor has reverted the field; Esc again, on the
      // grid itself, gives up the whole row, as a data grid does.
      if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier &&
          state() != QAbstractItemView::EditingState && Editing(model_.DataSet())) {
        TClientDataSet* ds = model_.DataSet();
        RunEvent([ds] { ds->Cancel(); });
        event->accept();
        return;
      }
      routed_ = event;
      QTableView::keyPressEvent(event);
      routed_ = nullptr;
      return;
  }
}

void GridView::focusInEvent(QFocusEvent* event) {
  QTableView::focusInEvent(event);
  if (!grid_) return;
  TForm* form = grid_->ParentForm();
  TDBGrid* grid = grid_;
  if (form && form->ActiveControl() != grid) RunEvent([&] { form->SetActiveControl(grid); });
  viewport()->update();
}

void GridView::mousePressEvent(QMouseEvent* event) {
  const QModelIndex idx = indexAt(event->pos());
  const bool onButton = idx.isValid() && idx == currentIndex() && CellHasEllipsis(idx) &&
                        EllipsisRect(visualRect(idx)).contains(event->pos());
  QTableView::mousePressEvent(event);
  if (!grid_ || !idx.isValid()) return;
  TDBGrid* grid = grid_;
  if (onButton) {
    RunEvent([grid] { grid->EditButtonClick(); });
    return;
  }
  if (grid->OnCellClick && idx.column() < grid->Columns.Count())
    RunEvent([&] { grid->OnCellClick(*grid, grid->Columns[idx.column()]); });
}

}  // namespace apura::desktop

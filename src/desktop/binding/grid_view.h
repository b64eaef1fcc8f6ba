#pragma once
// A data grid of the control model as a QTableView: the model reads the
// table's visible rows, the selection follows the table's cursor both ways,
// and every cell is painted by the grid itself (its ordinary painting, then
// the form's cell painter) through a QPainter canvas.

#include <QStyledItemDelegate>
#include <QTableView>
#include <vector>

#include "desktop/binding/dataset_model.h"
#include "desktop/binding/watch.h"
#include "framework/controls.h"

namespace apura::desktop {

class GridView;

class GridDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  explicit GridDelegate(GridView& view);
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override;
  void setEditorData(QWidget* editor, const QModelIndex& index) const override;
  void setModelData(QWidget* editor, QAbstractItemModel* model,
                    const QModelIndex& index) const override;
  void destroyEditor(QWidget* editor, const QModelIndex& index) const override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  GridView& view_;
};

class GridView : public QTableView {
  Q_OBJECT
 public:
  GridView(TDBGrid& grid, QWidget* parent = nullptr);
  ~GridView() override;

  TDBGrid* Grid() const { return grid_; }
  DataSetModel& Model() { return model_; }
  // The grid component went away: the view shows nothing from now on.
  void Detach();
  // Where the ellipsis button of a cell sits.
  static QRect EllipsisRect(const QRect& cell);
  bool CellHasEllipsis(const QModelIndex& index) const;
  // The key event the grid has already routed through the form, while Qt
  // hands it on to a new cell editor.
  const QEvent* RoutedKey() const { return routed_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

 private:
  void SyncColumns();
  void ApplyWidths();
  void SyncOptions();
  void SyncCursor();
  void GridChanged(std::string_view property);
  bool Editable(int column) const;

  TDBGrid* grid_;
  DataSetModel model_;
  GridDelegate delegate_;
  Watch watch_;
  bool syncing_ = false;
  const QEvent* routed_ = nullptr;
  bool rowsChanging_ = false;
  friend class GridDelegate;
  bool openingEditor_ = false;
  std::vector<int> fitted_;  // each column's width so far
};

}  // namespace apura::desktop

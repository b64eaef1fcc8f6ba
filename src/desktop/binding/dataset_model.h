#pragma once
// A Qt table model over the visible rows of a table, in the table's order,
// read through the table's own display texts. It holds no rows of its own:
// every cell is read when the view asks for it, so half a million rows cost
// nothing until they scroll into sight.

#include <QAbstractTableModel>
#include <functional>
#include <string>
#include <vector>

#include "framework/controls.h"
#include "framework/dataset/dataset.h"

namespace apura::desktop {

struct ModelColumn {
  std::string fieldName;
  std::string title;  // empty: the field's display label
  TAlignment titleAlignment = TAlignment::taLeftJustify;
  bool alignmentFromField = true;
  TAlignment alignment = TAlignment::taLeftJustify;
};

Qt::Alignment ToQtAlignment(TAlignment a);

class DataSetModel : public QAbstractTableModel, public TDataLink {
  Q_OBJECT
 public:
  explicit DataSetModel(QObject* parent = nullptr);
  ~DataSetModel() override;

  // Listens to the data link (none: an empty model).
  void SetSource(TDataSource* source);
  TDataSource* Source() const { return source_; }
  void DataSourceDestroyed(TDataSource&) override;
  TClientDataSet* DataSet() const;

  void SetColumns(std::vector<ModelColumn> columns);
  const std::vector<ModelColumn>& Columns() const { return columns_; }
  // The table's fields that are not hidden, titled by their display labels.
  static std::vector<ModelColumn> VisibleFieldColumns(const TClientDataSet& table);
  // Which cells may be edited; none when unset.
  std::function<bool(int column)> editable;

  // The row the cursor is on (the row being inserted, shown last, while
  // inserting); -1 when the table is empty or closed.
  int CursorRow() const;
  bool IsInsertRow(int row) const;
  // The field a column shows; null when unbound.
  TField* FieldOf(int column) const;
  std::string CellText(int row, int column) const;
  // Runs `fn` while the table's fields read `row`, without moving the cursor
  // or raising any table event (cell painters read fields this way).
  void WithRow(int row, const std::function<void()>& fn) const;
  // Brings the model in step with the table now.
  void Refresh();

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  void DataSetChanged() override;
  void StateChanged() override;

 signals:
  // The model is in step with the table after a change of rows or cursor.
  void cursorMoved();
  // Around the model's own row changes: a view's current row moved by them
  // is no choice of the user's.
  void rowsChanging();
  void rowsSettled();
  void tableStateChanged();

 private:
  int TableRows() const;
  void ResolveFields();
  QVariant CellData(const QModelIndex& index, int role) const;

  void ResetRows();
  TDataSource* source_ = nullptr;
  std::vector<ModelColumn> columns_;
  std::vector<int> fieldIndex_;
  const TClientDataSet* resolvedFor_ = nullptr;
  int resolvedFieldCount_ = -1;
  int rows_ = 0;
};

}  // namespace apura::desktop

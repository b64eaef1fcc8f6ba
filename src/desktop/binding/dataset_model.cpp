#include "desktop/binding/dataset_model.h"

#include <algorithm>

namespace apura::desktop {

namespace {
QString Q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
}  // namespace

Qt::Alignment ToQtAlignment(TAlignment a) {
  switch (a) {
    case TAlignment::taRightJustify:
      return Qt::AlignRight | Qt::AlignVCenter;
    case TAlignment::taCenter:
      return Qt::AlignHCenter | Qt::AlignVCenter;
    case TAlignment::taLeftJustify:
      break;
  }
  return Qt::AlignLeft | Qt::AlignVCenter;
}

DataSetModel::DataSetModel(QObject* parent) : QAbstractTableModel(parent) {}

DataSetModel::~DataSetModel() {
  if (source_) source_->RemoveLink(this);
}

void DataSetModel::SetSource(TDataSource* source) {
  if (source == source_) return;
  if (source_) source_->RemoveLink(this);
  source_ = source;
  if (source_) source_->AddLink(this);
  ResetRows();
}

void DataSetModel::ResetRows() {
  emit rowsChanging();
  beginResetModel();
  resolvedFor_ = nullptr;
  rows_ = TableRows();
  endResetModel();
  emit rowsSettled();
  emit cursorMoved();
}

void DataSetModel::DataSourceDestroyed(TDataSource&) {
  source_ = nullptr;  // already detached by the data link itself
  ResetRows();
}

TClientDataSet* DataSetModel::DataSet() const {
  return source_ ? source_->DataSet() : nullptr;
}

void DataSetModel::SetColumns(std::vector<ModelColumn> columns) {
  emit rowsChanging();
  beginResetModel();
  columns_ = std::move(columns);
  resolvedFor_ = nullptr;
  rows_ = TableRows();
  endResetModel();
  emit rowsSettled();
  emit cursorMoved();
}

std::vector<ModelColumn> DataSetModel::VisibleFieldColumns(const TClientDataSet& table) {
  std::vector<ModelColumn> out;
  for (const auto& f : table.Fields())
    if (f->Visible()) out.push_back({f->FieldName(), {}, TAlignment::taLeftJustify, true, {}});
  return out;
}

void DataSetModel::ResolveFields() {
  const TClientDataSet* ds = DataSet();
  if (ds == resolvedFor_ && (!ds || ds->FieldCount() == resolvedFieldCount_)) return;
  resolvedFor_ = ds;
  resolvedFieldCount_ = ds ? ds->FieldCount() : -1;
  fieldIndex_.assign(columns_.size(), -1);
  if (!ds) return;
  for (size_t i = 0; i < columns_.size(); ++i)
    if (TField* f = ds->FindField(columns_[i].fieldName)) fieldIndex_[i] = f->Index();
}

int DataSetModel::TableRows() const {
  const TClientDataSet* ds = DataSet();
  if (!ds || !ds->Active()) return 0;
  return ds->RecordCount() + (ds->State() == TDataSetState::dsInsert ? 1 : 0);
}

int DataSetModel::CursorRow() const {
  const TClientDataSet* ds = DataSet();
  if (!ds || !ds->Active()) return -1;
  if (ds->State() == TDataSetState::dsInsert) return ds->RecordCount();
  return ds->CursorPos();
}

bool DataSetModel::IsInsertRow(int row) const {
  const TClientDataSet* ds = DataSet();
  return ds && ds->State() == TDataSetState::dsInsert && row == ds->RecordCount();
}

TField* DataSetModel::FieldOf(int column) const {
  const_cast<DataSetModel*>(this)->ResolveFields();
  const TClientDataSet* ds = DataSet();
  if (!ds || column < 0 || static_cast<size_t>(column) >= fieldIndex_.size()) return nullptr;
  int f = fieldIndex_[size_t(column)];
  return f < 0 ? nullptr : ds->Fields()[size_t(f)].get();
}

std::string DataSetModel::CellText(int row, int column) const {
  TField* f = FieldOf(column);
  const TClientDataSet* ds = DataSet();
  if (!f || !ds || !ds->Active()) return {};
  if (IsInsertRow(row)) return f->DisplayText();
  return ds->CellDisplayText(row, f->Index());
}

void DataSetModel::WithRow(int row, const std::function<void()>& fn) const {
  TClientDataSet* ds = DataSet();
  if (!ds || !ds->Active() || ds->FieldCount() == 0) return;
  // The row being edited or inserted is the one the fields address already.
  if (IsInsertRow(row) || (ds->State() == TDataSetState::dsEdit && row == ds->CursorPos())) {
    fn();
    return;
  }
  TClientDataSet::RowPeek peek(*ds, row);
  if (!peek.valid()) return;
  fn();
}

void DataSetModel::Refresh() {
  ResolveFields();
  const int rows = TableRows();
  // Rows come and go at the end so the views keep their column widths and
  // scroll position; what the remaining rows show is repainted.
  if (rows != rows_) emit rowsChanging();
  if (rows > rows_) {
    beginInsertRows(QModelIndex(), rows_, rows - 1);
    rows_ = rows;
    endInsertRows();
  } else if (rows < rows_) {
    beginRemoveRows(QModelIndex(), rows, rows_ - 1);
    rows_ = rows;
    endRemoveRows();
  }
  emit rowsSettled();
  if (rows_ > 0 && !columns_.empty())
    emit dataChanged(index(0, 0), index(rows_ - 1, static_cast<int>(columns_.size()) - 1));
  emit headerDataChanged(Qt::Vertical, 0, std::max(rows_ - 1, 0));
  emit cursorMoved();
}

void DataSetModel::DataSetChanged() {
  Refresh();
}

void DataSetModel::StateChanged() {
  Refresh();
  emit tableStateChanged();
}

int DataSetModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : rows_;
}

int DataSetModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant DataSetModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rows_) return {};
  const TClientDataSet* ds = DataSet();
  // While the table's views are held back the rows may be half-changed.
  if (!ds || ds->ControlsDisabled()) return {};
  // The view asks from its painting: a field's text handler that fails
  // leaves the cell empty instead of throwing into Qt.
  try {
    return CellData(index, role);
  } catch (...) {
    return {};
  }
}

QVariant DataSetModel::CellData(const QModelIndex& index, int role) const {
  switch (role) {
    case Qt::DisplayRole:
      return Q(CellText(index.row(), index.column()));
    case Qt::EditRole: {
      TField* f = FieldOf(index.column());
      if (!f) return {};
      std::string text;
      WithRow(index.row(), [&] { text = f->Text(); });
      return Q(text);
    }
    case Qt::TextAlignmentRole: {
      const ModelColumn& c = columns_[size_t(index.column())];
      TField* f = FieldOf(index.column());
      TAlignment a = c.alignmentFromField && f ? f->Alignment() : c.alignment;
      return QVariant::fromValue(ToQtAlignment(a));
    }
    default:
      return {};
  }
}

QVariant DataSetModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Vertical) {
    if (role == Qt::DisplayRole) return section == CursorRow() ? QStringLiteral("▶") : QString();
    return {};
  }
  if (section < 0 || static_cast<size_t>(section) >= columns_.size()) return {};
  const ModelColumn& c = columns_[size_t(section)];
  switch (role) {
    case Qt::DisplayRole: {
      if (!c.title.empty()) return Q(c.title);
      if (TField* f = FieldOf(section)) return Q(f->DisplayLabel());
      return Q(c.fieldName);
    }
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(ToQtAlignment(c.titleAlignment));
    default:
      return {};
  }
}

Qt::ItemFlags DataSetModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (editable && editable(index.column())) f |= Qt::ItemIsEditable;
  return f;
}

}  // namespace apura::desktop

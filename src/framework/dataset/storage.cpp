// Column storage: each column keeps its values, its null flags and, for text, a dictionary of the
// distinct texts; rows address cells by number.

#include "framework/dataset/dataset.h"

#include <cstring>

#include "framework/dataset/dataset_internal.h"
#include "framework/dataset/filter_expr.h"
#include "framework/names.h"

namespace apura {

// ---------------------------------------------------------------------------
// Column dictionary

size_t TClientDataSet::Column::Hash::operator()(int32_t code) const {
  return std::hash<std::string_view>()(c->Entry(code));
}
bool TClientDataSet::Column::Eq::operator()(int32_t a, int32_t b) const {
  return c->Entry(a) == c->Entry(b);
}

namespace {

// Columns loaded on this thread, by field name, for a later table to share an
// equal one instead of keeping another copy. Only columns of many rows are
// worth the comparison.
constexpr size_t kShareFromRows = 4096;
struct LoadedColumn {
  std::string name;
  bool text;
  std::weak_ptr<ColumnData> cells;
};
thread_local std::vector<LoadedColumn> loadedColumns;

bool SameCells(const ColumnData& a, const ColumnData& b, bool text) {
  if (text)
    return a.codes.size() == b.codes.size() && a.dictOffsets == b.dictOffsets &&
           a.dictBytes == b.dictBytes && a.codes == b.codes;
  // Bit for bit: a NaN equals itself and -0 differs from 0, as a copy would.
  return a.numbers.size() == b.numbers.size() && a.nullBits == b.nullBits &&
         std::memcmp(a.numbers.data(), b.numbers.data(), a.numbers.size() * sizeof(double)) == 0;
}

}  // namespace

TClientDataSet::Column::Column()
    : intern(16, Hash{this}, Eq{this}), data_(std::make_shared<ColumnData>()) {}
TClientDataSet::Column::Column(Column&& o) noexcept
    : intern(16, Hash{this}, Eq{this}), data_(std::move(o.data_)) {
  o.data_ = std::make_shared<ColumnData>();
  RebuildIntern();
}
TClientDataSet::Column& TClientDataSet::Column::operator=(Column&& o) noexcept {
  data_ = std::move(o.data_);
  o.data_ = std::make_shared<ColumnData>();
  RebuildIntern();
  return *this;
}

ColumnData& TClientDataSet::Column::Mut() {
  if (data_.use_count() > 1) data_ = std::make_shared<ColumnData>(*data_);
  return *data_;
}

void TClientDataSet::Column::ClearCells() {
  if (data_.use_count() > 1) {
    auto fresh = std::make_shared<ColumnData>();
    fresh->dictBytes = data_->dictBytes;
    fresh->dictOffsets = data_->dictOffsets;
    data_ = std::move(fresh);
  } else {
    data_->codes.clear();
    data_->numbers.clear();
    data_->nullBits.clear();
  }
}

void TClientDataSet::Column::Adopt(ColumnData cells, const std::string& name, bool text) {
  data_ = std::make_shared<ColumnData>(std::move(cells));
  RebuildIntern();
  MergeRepeatedTexts();
  const size_t rows = text ? data_->codes.size() : data_->numbers.size();
  if (rows < kShareFromRows) return;
  std::erase_if(loadedColumns, [](const LoadedColumn& c) { return c.cells.expired(); });
  for (const LoadedColumn& c : loadedColumns)
    if (c.text == text && SameName(c.name, name))
      if (auto other = c.cells.lock(); other && other != data_ && SameCells(*other, *data_, text)) {
        data_ = std::move(other);
        // Same dictionary, same codes: the index built above still holds.
        return;
      }
  loadedColumns.push_back({name, text, data_});
}

void TClientDataSet::Column::RebuildIntern() {
  intern = std::unordered_set<int32_t, Hash, Eq>(DictSize() * 2 + 16, Hash{this}, Eq{this});
  for (size_t i = 0; i < DictSize(); ++i) intern.insert(static_cast<int32_t>(i));
}

void TClientDataSet::Column::MergeRepeatedTexts() {
  if (intern.size() == DictSize()) return;
  std::vector<int32_t> remap(DictSize());
  std::string bytes;
  std::vector<uint32_t> offsets{0};
  for (size_t k = 0; k < DictSize(); ++k) {
    const int32_t first = Find(DictEntry(static_cast<int32_t>(k)));
    if (first == static_cast<int32_t>(k)) {
      remap[k] = static_cast<int32_t>(offsets.size() - 1);
      bytes.append(DictEntry(first));
      offsets.push_back(static_cast<uint32_t>(bytes.size()));
    } else {
      remap[k] = remap[first];
    }
  }
  ColumnData& cells = Mut();
  for (int32_t& code : cells.codes)
    if (code >= 0) code = remap[code];
  cells.dictBytes = std::move(bytes);
  cells.dictOffsets = std::move(offsets);
  RebuildIntern();
}

int32_t TClientDataSet::Column::Find(std::string_view s) const {
  probe = s;
  auto it = intern.find(-2);
  return it == intern.end() ? -1 : *it;
}

int32_t TClientDataSet::Column::Intern(std::string_view s) {
  int32_t code = Find(s);
  if (code >= 0) return code;
  code = static_cast<int32_t>(DictSize());
  ColumnData& cells = Mut();
  cells.dictBytes.append(s);
  cells.dictOffsets.push_back(static_cast<uint32_t>(cells.dictBytes.size()));
  intern.insert(code);
  return code;
}

// ---------------------------------------------------------------------------
// TClientDataSet: fields and cells

TClientDataSet::TClientDataSet(std::string name) : Name(std::move(name)) {}

TClientDataSet::~TClientDataSet() {
  for (TDataSource* s : sources_) s->dataSet_ = nullptr;
}

TField& TClientDataSet::AddField(FieldDef def, std::string componentName) {
  if (Active()) throw EDatabaseError(Name + ": fields cannot be added to an open table");
  if (FindField(def.name)) throw EDatabaseError(Name + ": duplicate field '" + def.name + "'");
  if (componentName.empty()) componentName = Name + def.name;
  persistent_ = true;
  fields_.push_back(std::make_unique<TField>(
      *this, std::move(def), static_cast<int>(fields_.size()), std::move(componentName)));
  return *fields_.back();
}

TField& TClientDataSet::AddStringField(std::string name, int size) {
  return AddField(FieldDef{std::move(name), FieldType::String, size});
}
TField& TClientDataSet::AddFloatField(std::string name) {
  return AddField(FieldDef{std::move(name), FieldType::Float, 0});
}
TField& TClientDataSet::AddDateTimeField(std::string name) {
  return AddField(FieldDef{std::move(name), FieldType::DateTime, 0});
}
TField& TClientDataSet::AddIntegerField(std::string name) {
  return AddField(FieldDef{std::move(name), FieldType::Integer, 0});
}
TField& TClientDataSet::AddBooleanField(std::string name) {
  return AddField(FieldDef{std::move(name), FieldType::Boolean, 0});
}

std::vector<FieldDef> TClientDataSet::FieldDefs() const {
  std::vector<FieldDef> defs;
  for (auto& f : fields_) defs.push_back(f->Def());
  return defs;
}

TField* TClientDataSet::FindField(std::string_view name) const {
  for (auto& f : fields_) {
    if (SameName(f->FieldName(), name)) return f.get();
  }
  return nullptr;
}

TField& TClientDataSet::FieldByName(std::string_view name) const {
  TField* f = FindField(name);
  if (!f) throw EDatabaseError(Name + ": Field '" + std::string(name) + "' not found");
  return *f;
}

TField* TClientDataSet::FindComponent(std::string_view componentName) const {
  for (auto& f : fields_)
    if (f->Name() == componentName) return f.get();
  return nullptr;
}

int64_t TClientDataSet::FieldRow() const {
  if (overrideRow_ >= 0) return overrideRow_;
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) return -2;
  if (state_ == TDataSetState::dsInactive || visible_.empty()) return -1;
  return visible_[pos_];
}

bool TClientDataSet::CellIsNull(int field, int64_t row) const {
  if (row == -1) return true;
  if (row == -2) return buffer_[field].null;
  const Column& c = columns_[field];
  if (fields_[field]->DataType() == FieldType::String) return c->codes[row] < 0;
  return c.NumberIsNull(static_cast<size_t>(row));
}

std::string_view TClientDataSet::CellText(int field, int64_t row) const {
  if (row == -1) return {};
  int32_t code = row == -2 ? buffer_[field].code : columns_[field]->codes[row];
  return code < 0 ? std::string_view() : columns_[field].DictEntry(code);
}

double TClientDataSet::CellNumber(int field, int64_t row) const {
  if (row == -1) return 0;
  if (row == -2) return buffer_[field].null ? 0 : buffer_[field].number;
  return columns_[field]->numbers[row];
}

TClientDataSet::Cell TClientDataSet::ReadCell(int field, uint32_t row) const {
  Cell c;
  const Column& col = columns_[field];
  if (fields_[field]->DataType() == FieldType::String) {
    c.code = col->codes[row];
    c.null = c.code < 0;
  } else {
    c.null = col.NumberIsNull(row);
    c.number = col->numbers[row];
  }
  return c;
}

void TClientDataSet::WriteCell(int field, uint32_t row, const Cell& c) {
  ColumnData& col = columns_[field].Mut();
  if (fields_[field]->DataType() == FieldType::String) {
    const int32_t code = c.null ? -1 : c.code;
    if (col.codes[row] != code && !keyGroups_.empty()) ForgetKeyGroups(field);
    col.codes[row] = code;
    return;
  }
  col.numbers[row] = c.null ? 0 : c.number;
  uint64_t bit = uint64_t{1} << (row & 63);
  if (c.null)
    col.nullBits[row >> 6] |= bit;
  else
    col.nullBits[row >> 6] &= ~bit;
}

TClientDataSet::Cell& TClientDataSet::BufferCell(int field) {
  return buffer_[field];
}

void TClientDataSet::CheckActive() const {
  if (!Active()) throw EDatabaseError(Name + ": Cannot perform this operation on a closed dataset");
}

void TClientDataSet::CheckEditing(const TField& f) const {
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert)
    throw EDatabaseError(Name + ": Dataset not in edit or insert mode (field '" + f.FieldName() +
                         "')");
  if (overrideRow_ >= 0)
    throw EDatabaseError(Name + ": field '" + f.FieldName() +
                         "' cannot be written while a row is read by a filter or a view");
}

}  // namespace apura

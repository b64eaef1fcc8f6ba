#include "framework/dataset/dataset.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <utility>

#include "framework/dataset/filter_expr.h"
#include "framework/format.h"
#include "framework/names.h"

namespace apura {

// ---------------------------------------------------------------------------
// Text helpers

namespace {

size_t Utf8Length(std::string_view s) {
  size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

// Lower-case code point for the Latin letters the system's texts use.
uint32_t FoldCodePoint(uint32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c < 0x80) return c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
    return (c % 2 == 0) ? c + 1 : c;
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c % 2 == 1) ? c + 1 : c;
  if (c == 0x178) return 0xFF;
  return c;
}

void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool IsNumeric(FieldType t) {
  return t != FieldType::String;
}

std::vector<std::string> SplitFields(std::string_view list) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(';', start);
    if (end == std::string_view::npos) end = list.size();
    std::string_view part = list.substr(start, end - start);
    while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
    while (!part.empty() && part.back() == ' ') part.remove_suffix(1);
    if (!part.empty()) out.emplace_back(part);
    start = end + 1;
  }
  return out;
}

// Restores a mutable member when a scope ends, also through exceptions.
template <typename T>
class Restore {
 public:
  Restore(T& ref, T value) : ref_(ref), old_(ref) { ref_ = value; }
  ~Restore() { ref_ = old_; }
  Restore(const Restore&) = delete;
  Restore& operator=(const Restore&) = delete;

 private:
  T& ref_;
  T old_;
};

}  // namespace

std::string FoldCase(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      out += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
      ++i;
    } else if ((c & 0xE0) == 0xC0 && i + 1 < s.size()) {
      uint32_t cp = ((c & 0x1F) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3F);
      AppendUtf8(out, FoldCodePoint(cp));
      i += 2;
    } else {
      out += static_cast<char>(c);
      ++i;
    }
  }
  return out;
}

std::string QuotedStr(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 2);
  out += '\'';
  for (char c : s) {
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '\'';
  return out;
}

// ---------------------------------------------------------------------------
// Column dictionary

size_t TClientDataSet::Column::Hash::operator()(int32_t code) const {
  return std::hash<std::string_view>()(c->Entry(code));
}
bool TClientDataSet::Column::Eq::operator()(int32_t a, int32_t b) const {
  return c->Entry(a) == c->Entry(b);
}

TClientDataSet::Column::Column() : intern(16, Hash{this}, Eq{this}) {}
TClientDataSet::Column::Column(Column&& o) noexcept
    : ColumnData(std::move(static_cast<ColumnData&>(o))), intern(16, Hash{this}, Eq{this}) {
  RebuildIntern();
}
TClientDataSet::Column& TClientDataSet::Column::operator=(Column&& o) noexcept {
  static_cast<ColumnData&>(*this) = std::move(static_cast<ColumnData&>(o));
  RebuildIntern();
  return *this;
}

void TClientDataSet::Column::RebuildIntern() {
  intern = std::unordered_set<int32_t, Hash, Eq>(DictSize() * 2 + 16, Hash{this}, Eq{this});
  for (size_t i = 0; i < DictSize(); ++i) intern.insert(static_cast<int32_t>(i));
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
  dictBytes.append(s);
  dictOffsets.push_back(static_cast<uint32_t>(dictBytes.size()));
  intern.insert(code);
  return code;
}

// ---------------------------------------------------------------------------
// TField

TField::TField(TClientDataSet& owner, FieldDef def, int index, std::string componentName)
    : owner_(&owner), def_(std::move(def)), index_(index), name_(std::move(componentName)) {
  if (def_.type == FieldType::String && def_.size <= 0) def_.size = 20;
  if (IsNumeric(def_.type)) alignment_ = TAlignment::taRightJustify;
}

int TField::DefaultWidth() const {
  switch (def_.type) {
    case FieldType::String:
      return def_.size;
    case FieldType::DateTime:
      return 18;
    case FieldType::Boolean:
      return 5;
    default:
      return 10;
  }
}

bool TField::IsNull() const {
  return owner_->CellIsNull(index_, owner_->FieldRow());
}

std::string TField::AsString() const {
  int64_t row = owner_->FieldRow();
  if (def_.type == FieldType::String) return std::string(owner_->CellText(index_, row));
  if (owner_->CellIsNull(index_, row)) return std::string();
  double v = owner_->CellNumber(index_, row);
  switch (def_.type) {
    case FieldType::DateTime:
      return DateTimeToText(DateTime{v});
    case FieldType::Boolean:
      return v != 0 ? "True" : "False";
    case FieldType::Integer:
      return std::to_string(static_cast<int64_t>(v));
    default:
      return FloatToText(v);
  }
}

bool TField::TextEquals(std::string_view s) const {
  int64_t row = owner_->FieldRow();
  if (def_.type == FieldType::String) return owner_->CellText(index_, row) == s;
  return AsString() == s;
}

double TField::AsFloat() const {
  int64_t row = owner_->FieldRow();
  if (owner_->CellIsNull(index_, row)) return 0;
  if (def_.type != FieldType::String) return owner_->CellNumber(index_, row);
  std::string_view t = owner_->CellText(index_, row);
  double v = 0;
  if (!TextToFloat(t, v))
    throw ConversionError("'" + std::string(t) +
                          "' is not a valid floating point value for field '" + def_.name + "'");
  return v;
}

int64_t TField::AsInteger() const {
  return static_cast<int64_t>(std::llround(AsFloat()));
}

bool TField::AsBoolean() const {
  if (def_.type == FieldType::String) {
    std::string t = FoldCase(AsString());
    return t == "true" || t == "s" || t == "1" || t == "y";
  }
  return AsFloat() != 0;
}

DateTime TField::AsDateTime() const {
  int64_t row = owner_->FieldRow();
  if (owner_->CellIsNull(index_, row)) return DateTime{0};
  if (def_.type != FieldType::String) return DateTime{owner_->CellNumber(index_, row)};
  std::string_view t = owner_->CellText(index_, row);
  DateTime d;
  if (!TextToDateTime(t, d))
    throw ConversionError("'" + std::string(t) + "' is not a valid date for field '" + def_.name +
                          "'");
  return d;
}

Value TField::AsValue() const {
  int64_t row = owner_->FieldRow();
  if (owner_->CellIsNull(index_, row)) return Value();
  switch (def_.type) {
    case FieldType::String:
      return Value(std::string(owner_->CellText(index_, row)));
    case FieldType::Float:
      return Value(owner_->CellNumber(index_, row));
    case FieldType::DateTime:
      return Value(DateTime{owner_->CellNumber(index_, row)});
    case FieldType::Integer:
      return Value(static_cast<int64_t>(owner_->CellNumber(index_, row)));
    case FieldType::Boolean:
      return Value(owner_->CellNumber(index_, row) != 0);
  }
  return Value();
}

void TField::SetAsString(std::string_view s) {
  owner_->CheckEditing(*this);
  auto& cell = owner_->BufferCell(index_);
  switch (def_.type) {
    case FieldType::String: {
      size_t len = Utf8Length(s);
      if (def_.size > 0 && len > static_cast<size_t>(def_.size))
        throw EDatabaseError("Value too long for field '" + def_.name +
                             "': " + std::to_string(len) + " characters, at most " +
                             std::to_string(def_.size));
      cell.code = owner_->columns_[index_].Intern(s);
      cell.null = false;
      break;
    }
    case FieldType::DateTime: {
      if (s.find_first_not_of(' ') == std::string_view::npos) {
        cell.null = true;
        break;
      }
      DateTime d;
      if (!TextToDateTime(s, d))
        throw ConversionError("'" + std::string(s) + "' is not a valid date for field '" +
                              def_.name + "'");
      cell.number = d.days;
      cell.null = false;
      break;
    }
    case FieldType::Boolean: {
      std::string t = FoldCase(s);
      if (t == "true" || t == "s" || t == "1")
        cell.number = 1;
      else if (t == "false" || t == "n" || t == "0")
        cell.number = 0;
      else
        throw ConversionError("'" + std::string(s) + "' is not a valid boolean value for field '" +
                              def_.name + "'");
      cell.null = false;
      break;
    }
    default: {
      if (s.find_first_not_of(' ') == std::string_view::npos) {
        cell.null = true;
        break;
      }
      double v = 0;
      if (!TextToFloat(s, v))
        throw ConversionError("'" + std::string(s) +
                              "' is not a valid floating point value for field '" + def_.name +
                              "'");
      cell.number = def_.type == FieldType::Integer ? std::round(v) : v;
      cell.null = false;
    }
  }
  owner_->modified_ = true;
  owner_->DataChanged();
}

void TField::SetAsFloat(double v) {
  owner_->CheckEditing(*this);
  if (def_.type == FieldType::String) {
    SetAsString(FloatToText(v));
    return;
  }
  auto& cell = owner_->BufferCell(index_);
  cell.number = def_.type == FieldType::Integer ? std::round(v) : v;
  cell.null = false;
  owner_->modified_ = true;
  owner_->DataChanged();
}

void TField::SetAsInteger(int64_t v) {
  if (def_.type == FieldType::String)
    SetAsString(std::to_string(v));
  else
    SetAsFloat(static_cast<double>(v));
}

void TField::SetAsBoolean(bool v) {
  if (def_.type == FieldType::String)
    SetAsString(v ? "True" : "False");
  else
    SetAsFloat(v ? 1 : 0);
}

void TField::SetAsDateTime(DateTime v) {
  if (def_.type == FieldType::String)
    SetAsString(DateTimeToText(v));
  else
    SetAsFloat(v.days);
}

void TField::SetValue(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::Null:
      Clear();
      return;
    case Value::Kind::Text:
      SetAsString(v.ToText());
      return;
    case Value::Kind::Date:
      SetAsDateTime(v.AsDate());
      return;
    case Value::Kind::Boolean:
      SetAsBoolean(v.AsBoolean());
      return;
    case Value::Kind::Integer:
      SetAsInteger(v.AsInteger());
      return;
    case Value::Kind::Float:
      SetAsFloat(v.AsFloat());
      return;
    default:
      throw ConversionError(std::string("a ") + KindName(v.kind()) +
                            " value cannot be stored in field '" + def_.name + "'");
  }
}

void TField::Clear() {
  owner_->CheckEditing(*this);
  auto& cell = owner_->BufferCell(index_);
  cell.code = -1;
  cell.null = true;
  cell.number = 0;
  owner_->modified_ = true;
  owner_->DataChanged();
}

Value TField::OldValue() const {
  if (owner_->state_ == TDataSetState::dsInsert || owner_->visible_.empty()) return Value();
  Restore<int64_t> peek(owner_->overrideRow_, owner_->visible_[owner_->pos_]);
  return AsValue();
}

std::string TField::FormatValue(bool display) const {
  int64_t row = owner_->FieldRow();
  if (owner_->CellIsNull(index_, row)) return std::string();
  if (def_.type == FieldType::String) {
    std::string_view t = owner_->CellText(index_, row);
    if (display && !editMask_.empty()) return ApplyEditMask(editMask_, t);
    return std::string(t);
  }
  double v = owner_->CellNumber(index_, row);
  switch (def_.type) {
    case FieldType::DateTime:
      if (display && !displayFormat_.empty()) return FormatDateTime(displayFormat_, DateTime{v});
      return DateTimeToText(DateTime{v});
    case FieldType::Boolean:
      return v != 0 ? "True" : "False";
    default: {
      const std::string& fmt = (display || editFormat_.empty()) ? displayFormat_ : editFormat_;
      if (fmt.empty())
        return def_.type == FieldType::Integer ? std::to_string(static_cast<int64_t>(v))
                                               : FloatToText(v);
      return FormatFloat(fmt, v);
    }
  }
}

std::string TField::DisplayText() const {
  std::string t = FormatValue(true);
  if (OnGetText) OnGetText(const_cast<TField&>(*this), t, true);
  return t;
}

std::string TField::Text() const {
  std::string t = FormatValue(false);
  if (OnGetText) OnGetText(const_cast<TField&>(*this), t, false);
  return t;
}

// ---------------------------------------------------------------------------
// TDataSource

TDataSource::~TDataSource() {
  if (dataSet_) {
    auto& v = dataSet_->sources_;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
    dataSet_ = nullptr;
  }
  // Listeners forget the link rather than keep a pointer to freed memory.
  auto links = std::move(links_);
  links_.clear();
  for (TDataLink* l : links) l->DataSourceDestroyed(*this);
}

void TDataSource::SetDataSet(TClientDataSet* ds) {
  if (ds == dataSet_) return;
  if (dataSet_) {
    auto& v = dataSet_->sources_;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
  }
  dataSet_ = ds;
  if (ds) ds->sources_.push_back(this);
  NotifyDataChanged();
}

TDataSetState TDataSource::State() const {
  return dataSet_ ? dataSet_->State() : TDataSetState::dsInactive;
}

void TDataSource::AddLink(TDataLink* link) {
  if (std::find(links_.begin(), links_.end(), link) == links_.end()) links_.push_back(link);
}
void TDataSource::RemoveLink(TDataLink* link) {
  links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
}

void TDataSource::NotifyStateChanged() {
  if (OnStateChange) OnStateChange(*this);
  auto links = links_;
  for (TDataLink* l : links)
    if (std::find(links_.begin(), links_.end(), l) != links_.end()) l->StateChanged();
}
void TDataSource::NotifyDataChanged() {
  if (OnDataChange) OnDataChange(*this);
  auto links = links_;
  for (TDataLink* l : links)
    if (std::find(links_.begin(), links_.end(), l) != links_.end()) l->DataSetChanged();
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
  if (fields_[field]->DataType() == FieldType::String) return c.codes[row] < 0;
  return c.NumberIsNull(static_cast<size_t>(row));
}

std::string_view TClientDataSet::CellText(int field, int64_t row) const {
  if (row == -1) return {};
  int32_t code = row == -2 ? buffer_[field].code : columns_[field].codes[row];
  return code < 0 ? std::string_view() : columns_[field].DictEntry(code);
}

double TClientDataSet::CellNumber(int field, int64_t row) const {
  if (row == -1) return 0;
  if (row == -2) return buffer_[field].null ? 0 : buffer_[field].number;
  return columns_[field].numbers[row];
}

TClientDataSet::Cell TClientDataSet::ReadCell(int field, uint32_t row) const {
  Cell c;
  const Column& col = columns_[field];
  if (fields_[field]->DataType() == FieldType::String) {
    c.code = col.codes[row];
    c.null = c.code < 0;
  } else {
    c.null = col.NumberIsNull(row);
    c.number = col.numbers[row];
  }
  return c;
}

void TClientDataSet::WriteCell(int field, uint32_t row, const Cell& c) {
  Column& col = columns_[field];
  if (fields_[field]->DataType() == FieldType::String) {
    col.codes[row] = c.null ? -1 : c.code;
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

// ---------------------------------------------------------------------------
// Notifications

void TClientDataSet::SetState(TDataSetState s) {
  if (state_ == s) return;
  state_ = s;
  StateChanged();
}

void TClientDataSet::DataChanged() {
  if (disableCount_ > 0) {
    pendingData_ = true;
    return;
  }
  auto sources = sources_;
  for (TDataSource* s : sources) s->NotifyDataChanged();
}

void TClientDataSet::StateChanged() {
  if (disableCount_ > 0) {
    pendingState_ = true;
    return;
  }
  auto sources = sources_;
  for (TDataSource* s : sources) s->NotifyStateChanged();
}

void TClientDataSet::DisableControls() {
  ++disableCount_;
}

void TClientDataSet::EnableControls() {
  if (disableCount_ == 0) return;
  if (--disableCount_ > 0) return;
  pendingData_ = pendingState_ = false;
  StateChanged();
  DataChanged();
}

// ---------------------------------------------------------------------------
// Order, filter and the visible list

bool TClientDataSet::RowLess(uint32_t a, uint32_t b) const {
  for (int f : orderFields_) {
    int cmp = 0;
    if (fields_[f]->DataType() == FieldType::String) {
      int32_t ca = columns_[f].codes[a], cb = columns_[f].codes[b];
      if (ca != cb) {
        if (ca < 0)
          cmp = -1;
        else if (cb < 0)
          cmp = 1;
        else if (orderCaseInsensitive_)
          cmp = FoldCase(columns_[f].DictEntry(ca)).compare(FoldCase(columns_[f].DictEntry(cb)));
        else
          cmp = columns_[f].DictEntry(ca).compare(columns_[f].DictEntry(cb));
      }
    } else {
      bool na = columns_[f].NumberIsNull(a), nb = columns_[f].NumberIsNull(b);
      if (na != nb)
        cmp = na ? -1 : 1;
      else if (!na) {
        double x = columns_[f].numbers[a], y = columns_[f].numbers[b];
        cmp = x < y ? -1 : (y < x ? 1 : 0);
      }
    }
    if (cmp != 0) return orderDescending_ ? cmp > 0 : cmp < 0;
  }
  return a < b;
}

void TClientDataSet::EnsureOrder() {
  if (indexName_.empty() || orderValid_) return;
  order_.clear();
  order_.reserve(rowCount_);
  for (uint32_t r = 0; r < rowCount_; ++r)
    if (rowState_[r] != RowState::Deleted && rowState_[r] != RowState::Gone) order_.push_back(r);
  // Sort on ranks of dictionary codes: the order of distinct texts is worked
  // out once, then rows compare integers.
  struct Key {
    bool text;
    std::vector<int32_t> rank;  // by code + 1
    const Column* col;
  };
  std::vector<Key> keys;
  for (int f : orderFields_) {
    Key k{fields_[f]->DataType() == FieldType::String, {}, &columns_[f]};
    if (k.text) {
      const Column& c = columns_[f];
      std::vector<int32_t> codes(c.DictSize());
      std::iota(codes.begin(), codes.end(), 0);
      std::vector<std::string> folded;
      if (orderCaseInsensitive_) {
        folded.reserve(codes.size());
        for (int32_t code : codes) folded.push_back(FoldCase(c.DictEntry(code)));
        std::stable_sort(codes.begin(), codes.end(),
                         [&](int32_t a, int32_t b) { return folded[a] < folded[b]; });
      } else {
        std::stable_sort(codes.begin(), codes.end(),
                         [&](int32_t a, int32_t b) { return c.DictEntry(a) < c.DictEntry(b); });
      }
      k.rank.assign(c.DictSize() + 1, 0);
      int32_t rank = 0;
      for (size_t i = 0; i < codes.size(); ++i) {
        if (i > 0) {
          bool same = orderCaseInsensitive_ ? folded[codes[i]] == folded[codes[i - 1]]
                                            : c.DictEntry(codes[i]) == c.DictEntry(codes[i - 1]);
          if (!same) ++rank;
        }
        k.rank[codes[i] + 1] = rank + 1;
      }
    }
    keys.push_back(std::move(k));
  }
  const bool desc = orderDescending_;
  std::sort(order_.begin(), order_.end(), [&](uint32_t a, uint32_t b) {
    for (const Key& k : keys) {
      if (k.text) {
        int32_t ra = k.rank[k.col->codes[a] + 1], rb = k.rank[k.col->codes[b] + 1];
        if (ra != rb) return desc ? ra > rb : ra < rb;
      } else {
        bool na = k.col->NumberIsNull(a), nb = k.col->NumberIsNull(b);
        if (na != nb) return desc ? nb : na;
        if (!na) {
          double x = k.col->numbers[a], y = k.col->numbers[b];
          if (x != y) return desc ? x > y : x < y;
        }
      }
    }
    return a < b;
  });
  orderValid_ = true;
}

bool TClientDataSet::Accepts(uint32_t row) {
  if (rowState_[row] == RowState::Deleted || rowState_[row] == RowState::Gone) return false;
  if (!filtered_) return true;
  Restore<int64_t> peek(overrideRow_, row);
  if (filterProgram_ && !filterProgram_->Accepts(*this, row)) return false;
  if (OnFilterRecord) {
    bool accept = true;
    OnFilterRecord(*this, accept);
    if (!accept) return false;
  }
  return true;
}

void TClientDataSet::CompileFilter() {
  if (filterProgram_) filterProgram_->Bind(*this, FilterCaseInsensitive);
}

void TClientDataSet::Rebuild() {
  std::vector<uint32_t> v;
  v.reserve(rowCount_);
  auto live = [&](uint32_t r) {
    return rowState_[r] != RowState::Deleted && rowState_[r] != RowState::Gone;
  };
  if (indexName_.empty()) {
    for (uint32_t r = 0; r < rowCount_; ++r)
      if (live(r)) v.push_back(r);
  } else {
    EnsureOrder();
    v = order_;
  }
  if (filtered_) {
    if (filterProgram_) {
      CompileFilter();
      filterProgram_->Filter(*this, v);
    }
    if (OnFilterRecord) {
      size_t kept = 0;
      Restore<int64_t> peek(overrideRow_, -1);
      for (uint32_t r : v) {
        overrideRow_ = r;
        bool accept = true;
        OnFilterRecord(*this, accept);
        if (accept) v[kept++] = r;
      }
      v.resize(kept);
    }
  }
  visible_ = std::move(v);
  if (pos_ >= visible_.size()) pos_ = visible_.empty() ? 0 : visible_.size() - 1;
}

void TClientDataSet::RebuildAndFirst() {
  Rebuild();
  First();
}

void TClientDataSet::SetFilter(std::string expression) {
  std::unique_ptr<FilterProgram> program;
  if (expression.find_first_not_of(' ') != std::string::npos)
    program = FilterProgram::Parse(expression);
  if (Active() && filtered_) {
    CheckBrowseMode();
    // Bind before replacing, so an unknown field leaves the old filter in force.
    if (program) program->Bind(*this, FilterCaseInsensitive);
  }
  std::string oldText = std::exchange(filterText_, std::move(expression));
  std::unique_ptr<FilterProgram> oldProgram = std::exchange(filterProgram_, std::move(program));
  if (!Active() || !filtered_) return;
  try {
    Rebuild();
  } catch (...) {
    // A record filter that throws leaves the filter that was in force.
    filterText_ = std::move(oldText);
    filterProgram_ = std::move(oldProgram);
    throw;
  }
  First();
}

void TClientDataSet::SetFiltered(bool on) {
  if (on == filtered_) return;
  if (Active()) CheckBrowseMode();
  if (on && Active() && filterProgram_) filterProgram_->Bind(*this, FilterCaseInsensitive);
  filtered_ = on;
  if (!Active()) return;
  try {
    Rebuild();
  } catch (...) {
    filtered_ = !on;
    throw;
  }
  First();
}

// ---------------------------------------------------------------------------
// Indexes

void TClientDataSet::AddIndex(std::string name, std::string fields, bool caseInsensitive,
                              bool descending) {
  if (name.empty()) throw EDatabaseError(Name + ": an index needs a name");
  auto list = SplitFields(fields);
  if (list.empty()) throw EDatabaseError(Name + ": index '" + name + "' has no fields");
  for (auto& f : list) FieldByName(f);
  IndexDef def{name, fields, caseInsensitive, descending};
  auto it = std::find_if(indexDefs_.begin(), indexDefs_.end(),
                         [&](const IndexDef& d) { return d.name == name; });
  if (it != indexDefs_.end()) {
    *it = def;
    if (indexName_ == name) {
      std::string keep = name;
      indexName_.clear();
      SetIndexName(keep);
    }
  } else {
    indexDefs_.push_back(def);
  }
}

void TClientDataSet::DeleteIndex(std::string_view name) {
  auto it = std::find_if(indexDefs_.begin(), indexDefs_.end(),
                         [&](const IndexDef& d) { return d.name == name; });
  if (it == indexDefs_.end())
    throw EDatabaseError(Name + ": index '" + std::string(name) + "' not found");
  if (indexName_ == name) SetIndexName("");
  indexDefs_.erase(it);
}

void TClientDataSet::SetIndexName(std::string name) {
  if (name == indexName_) return;
  const IndexDef* def = nullptr;
  if (!name.empty()) {
    for (auto& d : indexDefs_)
      if (d.name == name) def = &d;
    if (!def) throw EDatabaseError(Name + ": Index '" + name + "' not found");
  }
  if (Active()) CheckBrowseMode();
  int64_t keep = Active() && !visible_.empty() ? visible_[pos_] : -1;
  indexName_ = name;
  orderFields_.clear();
  orderValid_ = false;
  if (def) {
    for (auto& f : SplitFields(def->fields)) orderFields_.push_back(FieldByName(f).Index());
    orderCaseInsensitive_ = def->caseInsensitive;
    orderDescending_ = def->descending;
  } else {
    orderCaseInsensitive_ = orderDescending_ = false;
  }
  if (!Active()) return;
  Rebuild();
  if (keep >= 0) {
    auto it = std::find(visible_.begin(), visible_.end(), static_cast<uint32_t>(keep));
    if (it != visible_.end()) pos_ = static_cast<size_t>(it - visible_.begin());
  }
  DataChanged();
}

// ---------------------------------------------------------------------------
// Packets

void TClientDataSet::ClearRows() {
  for (auto& c : columns_) {
    c.codes.clear();
    c.numbers.clear();
    c.nullBits.clear();
  }
  rowCount_ = 0;
  rowState_.clear();
  originals_.clear();
  changeCount_ = 0;
  visible_.clear();
  order_.clear();
  orderValid_ = false;
  pos_ = 0;
  eof_ = bof_ = true;
}

void TClientDataSet::LoadPacket(const DataPacket& packet) {
  const auto& pf = packet.fields();
  std::vector<int> source;  // packet column of each table field
  std::vector<FieldDef> defs;
  if (persistent_) {
    for (auto& f : fields_) {
      int i = packet.FieldIndex(f->FieldName());
      if (i < 0) throw EDatabaseError(Name + ": Field '" + f->FieldName() + "' not found");
      FieldType want = f->DataType(), got = pf[i].type;
      if ((want == FieldType::String) != (got == FieldType::String))
        throw EDatabaseError(Name + ": Type mismatch for field '" + f->FieldName() +
                             "', expecting: " + FieldTypeName(want) +
                             " actual: " + FieldTypeName(got));
      if (want == FieldType::String && f->Size() > 0) {
        const ColumnData& c = packet.column(i);
        for (size_t k = 0; k < c.DictSize(); ++k)
          if (Utf8Length(c.DictEntry(static_cast<int32_t>(k))) > static_cast<size_t>(f->Size()))
            throw EDatabaseError(Name + ": value too long for field '" + f->FieldName() +
                                 "' (at most " + std::to_string(f->Size()) + " characters): '" +
                                 std::string(c.DictEntry(static_cast<int32_t>(k))) + "'");
      }
      source.push_back(i);
    }
  } else {
    for (size_t i = 0; i < pf.size(); ++i) source.push_back(static_cast<int>(i));
    defs = pf;
  }
  // Everything checked: from here on nothing fails, so a refused packet leaves
  // the table as it was.
  if (!persistent_) {
    fields_.clear();
    for (size_t i = 0; i < defs.size(); ++i)
      fields_.push_back(
          std::make_unique<TField>(*this, defs[i], static_cast<int>(i), Name + defs[i].name));
  }
  const size_t n = packet.RowCount();
  std::vector<Column> cols(fields_.size());
  for (size_t i = 0; i < fields_.size(); ++i) {
    const ColumnData& src = packet.column(source[i]);
    Column& c = cols[i];
    if (fields_[i]->DataType() == FieldType::String) {
      c.dictBytes = src.dictBytes;
      c.dictOffsets = src.dictOffsets;
      c.codes = src.codes;
      c.RebuildIntern();
    } else {
      c.numbers = src.numbers;
      c.nullBits = src.nullBits;
      c.nullBits.resize((n + 63) / 64, 0);
    }
  }
  columns_ = std::move(cols);
  rowCount_ = n;
  rowState_.assign(n, RowState::Unmodified);
  originals_.clear();
  changeCount_ = 0;
  const auto& status = packet.status();
  if (!status.empty()) {
    for (size_t r = 0; r < n; ++r) {
      rowState_[r] = static_cast<RowState>(status[r]);
      if (status[r] != RowStatus::Unmodified) ++changeCount_;
    }
    if (const DataPacket* orig = packet.originals()) {
      // Originals come with the same fields as the rows.
      for (size_t k = 0; k < orig->RowCount(); ++k) {
        std::vector<Cell> cells(fields_.size());
        for (size_t i = 0; i < fields_.size(); ++i) {
          Cell& cell = cells[i];
          int pc = source[i];
          cell.null = orig->IsNull(pc, k);
          if (fields_[i]->DataType() == FieldType::String) {
            cell.code = cell.null ? -1 : columns_[i].Intern(orig->Text(pc, k));
          } else {
            cell.number = orig->Number(pc, k);
          }
        }
        originals_[packet.originalOf()[k]] = std::move(cells);
      }
    }
  }
}

void TClientDataSet::SetData(const Value& packet) {
  if (packet.IsNull()) {
    SetData(DataPacket());
    return;
  }
  SetData(packet.AsPacket());
}

void TClientDataSet::SetData(const DataPacket& packet) {
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) {
    buffer_.clear();
    modified_ = false;
    state_ = TDataSetState::dsBrowse;
  }
  if (packet.empty() && persistent_) {
    // An empty value: keep the fields, no rows.
    Fire(BeforeOpen);
    ClearRows();
    for (auto& c : columns_) c.RebuildIntern();
    if (columns_.size() != fields_.size()) columns_ = std::vector<Column>(fields_.size());
  } else {
    LoadPacket(packet);  // throws before touching anything when the packet is refused
    Fire(BeforeOpen);
  }
  indexDefs_.clear();
  indexName_.clear();
  orderFields_.clear();
  order_.clear();
  orderValid_ = false;
  pos_ = 0;
  Rebuild();
  pos_ = 0;
  bof_ = true;
  eof_ = visible_.empty();
  SetState(TDataSetState::dsBrowse);
  DataChanged();
  Fire(AfterOpen);
  if (!visible_.empty()) Fire(AfterScroll);
}

DataPacket TClientDataSet::BuildPacket(bool deltaOnly) const {
  DataPacket::Body body;
  body.fields = FieldDefs();
  std::vector<uint32_t> rows;
  bool all = !deltaOnly;
  if (deltaOnly) {
    for (uint32_t r = 0; r < rowCount_; ++r)
      if (rowState_[r] == RowState::Modified || rowState_[r] == RowState::Inserted ||
          rowState_[r] == RowState::Deleted)
        rows.push_back(r);
  } else {
    for (uint32_t r = 0; r < rowCount_; ++r)
      if (rowState_[r] == RowState::Gone ||
          (changeCount_ == 0 && rowState_[r] == RowState::Deleted))
        all = false;
    if (!all)
      for (uint32_t r = 0; r < rowCount_; ++r)
        if (rowState_[r] != RowState::Gone &&
            !(changeCount_ == 0 && rowState_[r] == RowState::Deleted))
          rows.push_back(r);
  }
  const size_t n = all ? rowCount_ : rows.size();
  body.rowCount = n;
  body.columns.resize(fields_.size());
  for (size_t i = 0; i < fields_.size(); ++i) {
    const Column& src = columns_[i];
    ColumnData& c = body.columns[i];
    if (fields_[i]->DataType() == FieldType::String) {
      c.dictBytes = src.dictBytes;
      c.dictOffsets = src.dictOffsets;
      if (all)
        c.codes = src.codes;
      else {
        c.codes.resize(n);
        for (size_t k = 0; k < n; ++k) c.codes[k] = src.codes[rows[k]];
      }
    } else {
      if (all) {
        c.numbers = src.numbers;
        c.nullBits = src.nullBits;
      } else {
        c.numbers.resize(n);
        c.nullBits.assign((n + 63) / 64, 0);
        for (size_t k = 0; k < n; ++k) {
          c.numbers[k] = src.numbers[rows[k]];
          if (src.NumberIsNull(rows[k])) c.nullBits[k >> 6] |= uint64_t{1} << (k & 63);
        }
      }
      bool anyNull = false;
      for (uint64_t w : c.nullBits) anyNull |= w != 0;
      if (!anyNull) c.nullBits.clear();
    }
  }
  if (changeCount_ > 0 || deltaOnly) {
    body.status.resize(n);
    DataPacket::Body orig;
    orig.fields = body.fields;
    orig.columns.resize(fields_.size());
    for (size_t i = 0; i < fields_.size(); ++i) {
      orig.columns[i].dictBytes = columns_[i].dictBytes;
      orig.columns[i].dictOffsets = columns_[i].dictOffsets;
    }
    for (size_t k = 0; k < n; ++k) {
      uint32_t r = all ? static_cast<uint32_t>(k) : rows[k];
      body.status[k] = static_cast<RowStatus>(rowState_[r]);
      auto it = originals_.find(r);
      if (it == originals_.end() || rowState_[r] == RowState::Inserted) continue;
      for (size_t i = 0; i < fields_.size(); ++i) {
        const Cell& cell = it->second[i];
        ColumnData& c = orig.columns[i];
        if (fields_[i]->DataType() == FieldType::String) {
          c.codes.push_back(cell.null ? -1 : cell.code);
        } else {
          size_t row = c.numbers.size();
          c.numbers.push_back(cell.null ? 0 : cell.number);
          c.nullBits.resize((row + 64) / 64, 0);
          if (cell.null) c.nullBits[row >> 6] |= uint64_t{1} << (row & 63);
        }
      }
      body.originalOf.push_back(static_cast<uint32_t>(k));
    }
    orig.rowCount = body.originalOf.size();
    for (size_t i = 0; i < fields_.size(); ++i) {
      ColumnData& c = orig.columns[i];
      if (fields_[i]->DataType() == FieldType::String) continue;
      bool anyNull = false;
      for (uint64_t w : c.nullBits) anyNull |= w != 0;
      if (!anyNull)
        c.nullBits.clear();
      else
        c.nullBits.resize((orig.rowCount + 63) / 64, 0);
    }
    if (orig.rowCount > 0)
      body.originals = std::make_shared<const DataPacket>(DataPacket::FromBody(std::move(orig)));
    else
      body.originalOf.clear();
  }
  return DataPacket::FromBody(std::move(body));
}

DataPacket TClientDataSet::Data() const {
  CheckActive();
  return BuildPacket(false);
}

DataPacket TClientDataSet::Delta() const {
  CheckActive();
  return BuildPacket(true);
}

void TClientDataSet::MergeChangeLog() {
  for (auto& s : rowState_) {
    if (s == RowState::Deleted)
      s = RowState::Gone;
    else if (s != RowState::Gone)
      s = RowState::Unmodified;
  }
  originals_.clear();
  changeCount_ = 0;
}

void TClientDataSet::CancelUpdates() {
  CheckActive();
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) Cancel();
  for (uint32_t r = 0; r < rowCount_; ++r) {
    switch (rowState_[r]) {
      case RowState::Inserted:
        rowState_[r] = RowState::Gone;
        break;
      case RowState::Modified:
      case RowState::Deleted: {
        auto it = originals_.find(r);
        if (it != originals_.end())
          for (size_t i = 0; i < fields_.size(); ++i)
            WriteCell(static_cast<int>(i), r, it->second[i]);
        rowState_[r] = RowState::Unmodified;
        break;
      }
      default:
        break;
    }
  }
  originals_.clear();
  changeCount_ = 0;
  orderValid_ = false;
  RebuildAndFirst();
}

void TClientDataSet::CreateDataSet() {
  if (fields_.empty()) throw EDatabaseError(Name + ": no fields defined to create the table");
  if (Active()) Close();
  Fire(BeforeOpen);
  columns_ = std::vector<Column>(fields_.size());
  ClearRows();
  SetState(TDataSetState::dsBrowse);
  DataChanged();
  Fire(AfterOpen);
}

void TClientDataSet::EmptyDataSet() {
  CheckActive();
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) Cancel();
  ClearRows();
  DataChanged();
}

void TClientDataSet::Close() {
  if (!Active()) return;
  Fire(BeforeClose);
  buffer_.clear();
  modified_ = false;
  ClearRows();
  SetState(TDataSetState::dsInactive);
  DataChanged();
  Fire(AfterClose);
}

// ---------------------------------------------------------------------------
// Cursor

void TClientDataSet::DoScrollTo(size_t pos) {
  pos_ = pos;
  DataChanged();
}

void TClientDataSet::First() {
  CheckActive();
  CheckBrowseMode();
  Fire(BeforeScroll);
  pos_ = 0;
  bof_ = true;
  eof_ = visible_.empty();
  DataChanged();
  Fire(AfterScroll);
}

void TClientDataSet::Last() {
  CheckActive();
  CheckBrowseMode();
  Fire(BeforeScroll);
  pos_ = visible_.empty() ? 0 : visible_.size() - 1;
  eof_ = true;
  bof_ = visible_.empty();
  DataChanged();
  Fire(AfterScroll);
}

void TClientDataSet::Next() {
  CheckActive();
  CheckBrowseMode();
  Fire(BeforeScroll);
  if (eof_ || visible_.empty()) {
    eof_ = true;
    return;
  }
  bof_ = false;
  if (pos_ + 1 < visible_.size()) {
    ++pos_;
  } else {
    eof_ = true;
  }
  DataChanged();
  Fire(AfterScroll);
}

void TClientDataSet::Prior() {
  CheckActive();
  CheckBrowseMode();
  Fire(BeforeScroll);
  if (bof_ || visible_.empty()) {
    bof_ = true;
    return;
  }
  eof_ = false;
  if (pos_ > 0)
    --pos_;
  else
    bof_ = true;
  DataChanged();
  Fire(AfterScroll);
}

bool TClientDataSet::Eof() const {
  return !Active() || visible_.empty() || eof_;
}
bool TClientDataSet::Bof() const {
  return !Active() || visible_.empty() || bof_;
}

int TClientDataSet::RecordCount() const {
  return Active() ? static_cast<int>(visible_.size()) : 0;
}

int TClientDataSet::RecNo() const {
  if (!Active() || visible_.empty()) return 0;
  if (state_ == TDataSetState::dsInsert) return 0;
  return static_cast<int>(pos_) + 1;
}

void TClientDataSet::SetRecNo(int recNo) {
  CheckActive();
  CheckBrowseMode();
  if (recNo < 1 || recNo > static_cast<int>(visible_.size())) return;
  Fire(BeforeScroll);
  pos_ = static_cast<size_t>(recNo - 1);
  eof_ = bof_ = false;
  DataChanged();
  Fire(AfterScroll);
}

int64_t TClientDataSet::Bookmark() const {
  if (!Active() || visible_.empty()) return -1;
  return visible_[pos_];
}

bool TClientDataSet::GotoBookmark(int64_t bookmark) {
  CheckActive();
  CheckBrowseMode();
  auto it = std::find(visible_.begin(), visible_.end(), static_cast<uint32_t>(bookmark));
  if (bookmark < 0 || it == visible_.end()) return false;
  Fire(BeforeScroll);
  pos_ = static_cast<size_t>(it - visible_.begin());
  eof_ = bof_ = false;
  DataChanged();
  Fire(AfterScroll);
  return true;
}

bool TClientDataSet::Locate(std::string_view fieldNames, const std::vector<Value>& values,
                            LocateOptions options) {
  CheckActive();
  auto names = SplitFields(fieldNames);
  if (names.empty()) throw EDatabaseError(Name + ": Locate needs at least one field");
  if (names.size() != values.size())
    throw EDatabaseError(Name + ": Locate got " + std::to_string(values.size()) + " values for " +
                         std::to_string(names.size()) + " fields");
  CheckBrowseMode();
  struct Matcher {
    int field = -1;
    bool text = false;
    bool impossible = false;
    bool wantNull = false;
    int32_t code = -1;            // case-sensitive text
    std::vector<uint8_t> accept;  // case-insensitive text, by code + 1
    double number = 0;
  };
  std::vector<Matcher> ms;
  for (size_t i = 0; i < names.size(); ++i) {
    TField& f = FieldByName(names[i]);
    Matcher m;
    m.field = f.Index();
    m.text = f.DataType() == FieldType::String;
    const Value& v = values[i];
    const Column& c = columns_[m.field];
    if (m.text) {
      std::string want = v.IsNull() ? std::string() : v.ToText();
      if (options.caseInsensitive) {
        std::string folded = FoldCase(want);
        m.accept.assign(c.DictSize() + 1, 0);
        m.accept[0] = want.empty();
        for (size_t k = 0; k < c.DictSize(); ++k)
          m.accept[k + 1] = FoldCase(c.DictEntry(static_cast<int32_t>(k))) == folded;
      } else if (want.empty()) {
        m.wantNull = true;
        m.code = c.Find("");
      } else {
        m.code = c.Find(want);
        m.impossible = m.code < 0;
      }
    } else if (v.IsNull()) {
      m.wantNull = true;
    } else {
      try {
        m.number = v.kind() == Value::Kind::Date ? v.AsDate().days
                   : (f.DataType() == FieldType::DateTime && v.kind() == Value::Kind::Text)
                       ? v.AsDate().days
                       : v.AsFloat();
      } catch (const ConversionError&) {
        m.impossible = true;
      }
    }
    ms.push_back(std::move(m));
  }
  Fire(BeforeScroll);
  for (auto& m : ms)
    if (m.impossible) return false;
  for (size_t p = 0; p < visible_.size(); ++p) {
    uint32_t r = visible_[p];
    bool ok = true;
    for (const Matcher& m : ms) {
      const Column& c = columns_[m.field];
      if (m.text) {
        int32_t code = c.codes[r];
        if (!m.accept.empty())
          ok = m.accept[code + 1] != 0;
        else if (m.wantNull)
          ok = code < 0 || code == m.code;
        else
          ok = code == m.code;
      } else if (m.wantNull) {
        ok = c.NumberIsNull(r);
      } else {
        ok = !c.NumberIsNull(r) && c.numbers[r] == m.number;
      }
      if (!ok) break;
    }
    if (ok) {
      pos_ = p;
      eof_ = bof_ = false;
      DataChanged();
      Fire(AfterScroll);
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------
// Editing

void TClientDataSet::CheckBrowseMode() {
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  if (modified_)
    Post();
  else
    Cancel();
}

void TClientDataSet::Edit() {
  CheckActive();
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) return;
  if (visible_.empty()) {
    Insert();
    return;
  }
  Fire(BeforeEdit);
  if (state_ != TDataSetState::dsBrowse || visible_.empty()) return;
  const uint32_t row = visible_[pos_];
  buffer_.resize(fields_.size());
  for (size_t i = 0; i < fields_.size(); ++i) buffer_[i] = ReadCell(static_cast<int>(i), row);
  modified_ = false;
  SetState(TDataSetState::dsEdit);
  DataChanged();
  Fire(AfterEdit);
}

void TClientDataSet::Insert() {
  CheckActive();
  CheckBrowseMode();
  Fire(BeforeInsert);
  Fire(BeforeScroll);
  buffer_.assign(fields_.size(), Cell{});
  modified_ = false;
  SetState(TDataSetState::dsInsert);
  Fire(OnNewRecord);
  DataChanged();
  Fire(AfterInsert);
  Fire(AfterScroll);
}

void TClientDataSet::Append() {
  Insert();
}

void TClientDataSet::MarkChanged(uint32_t row) {
  if (rowState_[row] != RowState::Unmodified) return;
  rowState_[row] = RowState::Modified;
  ++changeCount_;
}

void TClientDataSet::Post() {
  CheckActive();
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  Fire(BeforePost);
  // A handler may have cancelled or posted already.
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  const bool inserting = state_ == TDataSetState::dsInsert;
  const bool indexed = !indexName_.empty() && orderValid_;
  uint32_t row;
  if (inserting) {
    row = static_cast<uint32_t>(rowCount_);
    for (size_t i = 0; i < fields_.size(); ++i) {
      Column& c = columns_[i];
      if (fields_[i]->DataType() == FieldType::String)
        c.codes.push_back(-1);
      else {
        c.numbers.push_back(0);
        c.nullBits.resize((rowCount_ + 64) / 64, 0);
      }
    }
    ++rowCount_;
    rowState_.push_back(RowState::Inserted);
    ++changeCount_;
    for (size_t i = 0; i < fields_.size(); ++i) WriteCell(static_cast<int>(i), row, buffer_[i]);
    if (indexed)
      order_.insert(std::lower_bound(order_.begin(), order_.end(), row,
                                     [&](uint32_t a, uint32_t b) { return RowLess(a, b); }),
                    row);
  } else {
    row = visible_[pos_];
    bool changed = false;
    for (size_t i = 0; i < fields_.size() && !changed; ++i) {
      Cell old = ReadCell(static_cast<int>(i), row);
      const Cell& now = buffer_[i];
      changed = old.null != now.null || (!now.null && (fields_[i]->DataType() == FieldType::String
                                                           ? old.code != now.code
                                                           : old.number != now.number));
    }
    if (changed) {
      if (rowState_[row] == RowState::Unmodified) {
        std::vector<Cell> orig(fields_.size());
        for (size_t i = 0; i < fields_.size(); ++i) orig[i] = ReadCell(static_cast<int>(i), row);
        originals_[row] = std::move(orig);
      }
      MarkChanged(row);
      auto less = [&](uint32_t a, uint32_t b) { return RowLess(a, b); };
      if (indexed) {
        auto it = std::lower_bound(order_.begin(), order_.end(), row, less);
        if (it != order_.end() && *it == row)
          order_.erase(it);
        else
          orderValid_ = false;
      }
      visible_.erase(visible_.begin() + static_cast<std::ptrdiff_t>(pos_));
      for (size_t i = 0; i < fields_.size(); ++i) WriteCell(static_cast<int>(i), row, buffer_[i]);
      if (indexed && orderValid_)
        order_.insert(std::lower_bound(order_.begin(), order_.end(), row, less), row);
    }
    if (!changed) {
      buffer_.clear();
      modified_ = false;
      SetState(TDataSetState::dsBrowse);
      DataChanged();
      Fire(AfterPost);
      return;
    }
  }
  buffer_.clear();
  modified_ = false;
  state_ = TDataSetState::dsBrowse;
  // The posted row takes its place in the order, or leaves the view when the
  // filter no longer accepts it.
  if (Accepts(row)) {
    auto it = std::lower_bound(visible_.begin(), visible_.end(), row,
                               [&](uint32_t a, uint32_t b) { return RowLess(a, b); });
    pos_ = static_cast<size_t>(it - visible_.begin());
    visible_.insert(it, row);
  } else if (pos_ >= visible_.size()) {
    pos_ = visible_.empty() ? 0 : visible_.size() - 1;
  }
  eof_ = visible_.empty();
  bof_ = visible_.empty();
  StateChanged();
  DataChanged();
  Fire(AfterPost);
}

void TClientDataSet::Cancel() {
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  Fire(BeforeCancel);
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  buffer_.clear();
  modified_ = false;
  SetState(TDataSetState::dsBrowse);
  DataChanged();
  Fire(AfterCancel);
}

void TClientDataSet::Delete() {
  CheckActive();
  if (state_ == TDataSetState::dsInsert) {
    Cancel();
    return;
  }
  if (visible_.empty())
    throw EDatabaseError(Name + ": Cannot perform this operation on an empty dataset");
  Fire(BeforeDelete);
  Fire(BeforeScroll);
  if (visible_.empty()) return;
  if (state_ == TDataSetState::dsEdit) {
    buffer_.clear();
    modified_ = false;
    state_ = TDataSetState::dsBrowse;
  }
  const uint32_t row = visible_[pos_];
  if (!indexName_.empty() && orderValid_) {
    auto it = std::lower_bound(order_.begin(), order_.end(), row,
                               [&](uint32_t a, uint32_t b) { return RowLess(a, b); });
    if (it != order_.end() && *it == row)
      order_.erase(it);
    else
      orderValid_ = false;
  }
  switch (rowState_[row]) {
    case RowState::Inserted:
      rowState_[row] = RowState::Gone;
      --changeCount_;
      break;
    case RowState::Unmodified:
      rowState_[row] = RowState::Deleted;
      ++changeCount_;
      break;
    default:
      rowState_[row] = RowState::Deleted;
      break;
  }
  visible_.erase(visible_.begin() + static_cast<std::ptrdiff_t>(pos_));
  if (pos_ >= visible_.size()) pos_ = visible_.empty() ? 0 : visible_.size() - 1;
  eof_ = bof_ = visible_.empty();
  StateChanged();
  DataChanged();
  Fire(AfterDelete);
  Fire(AfterScroll);
}

// ---------------------------------------------------------------------------
// Views

std::string TClientDataSet::CellDisplayText(int pos, int field) const {
  if (!Active() || pos < 0 || static_cast<size_t>(pos) >= visible_.size()) return {};
  const bool editingThis = (state_ == TDataSetState::dsEdit) && static_cast<size_t>(pos) == pos_;
  if (editingThis) return fields_[field]->DisplayText();
  Restore<int64_t> peek(overrideRow_, visible_[pos]);
  return fields_[field]->DisplayText();
}

TClientDataSet::RowPeek::RowPeek(const TClientDataSet& table, int pos)
    : table_(table), saved_(table.overrideRow_) {
  if (!table.Active() || pos < 0 || static_cast<size_t>(pos) >= table.visible_.size()) {
    table.overrideRow_ = -1;
    return;
  }
  valid_ = true;
  const bool editingThis =
      table.state_ == TDataSetState::dsEdit && static_cast<size_t>(pos) == table.pos_;
  table.overrideRow_ = editingThis ? -1 : static_cast<int64_t>(table.visible_[pos]);
}

TClientDataSet::RowPeek::~RowPeek() {
  table_.overrideRow_ = saved_;
}

Value TClientDataSet::CellValue(int pos, int field) const {
  if (!Active() || pos < 0 || static_cast<size_t>(pos) >= visible_.size()) return {};
  const bool editingThis = (state_ == TDataSetState::dsEdit) && static_cast<size_t>(pos) == pos_;
  if (editingThis) return fields_[field]->AsValue();
  Restore<int64_t> peek(overrideRow_, visible_[pos]);
  return fields_[field]->AsValue();
}

size_t TClientDataSet::MemoryBytes() const {
  size_t b = sizeof(*this);
  for (const Column& c : columns_) {
    b += c.dictBytes.capacity() + c.dictOffsets.capacity() * sizeof(uint32_t) +
         c.codes.capacity() * sizeof(int32_t) + c.numbers.capacity() * sizeof(double) +
         c.nullBits.capacity() * sizeof(uint64_t) + c.intern.size() * 24 +
         c.intern.bucket_count() * sizeof(void*);
  }
  b += rowState_.capacity() + visible_.capacity() * sizeof(uint32_t) +
       order_.capacity() * sizeof(uint32_t);
  return b;
}

}  // namespace apura

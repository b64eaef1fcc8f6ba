// Field objects: typed reads and writes of the cursor's row or the edit buffer, and their texts.

#include "framework/dataset/dataset.h"

#include <cmath>
#include <cstring>

#include "framework/dataset/dataset_internal.h"
#include "framework/format.h"

namespace apura {

// ---------------------------------------------------------------------------
// TField

TField::TField(TClientDataSet& owner, FieldDef def, int index, std::string componentName)
    : owner_(&owner), def_(std::move(def)), index_(index), name_(std::move(componentName)) {
  // A text field of size 0 (from a packet that declares none) takes texts of
  // any length and keeps its 0, so the table's Data declares what it loaded.
  if (def_.type == FieldType::String && def_.size < 0) def_.size = 0;
  if (IsNumeric(def_.type)) alignment_ = TAlignment::taRightJustify;
}

int TField::DefaultWidth() const {
  switch (def_.type) {
    case FieldType::String:
      return def_.size > 0 ? def_.size : 20;
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

}  // namespace apura

// The cursor: moving among the visible rows, bookmarks and Locate.

#include "framework/dataset/dataset.h"

#include "framework/dataset/dataset_internal.h"
#include "framework/format.h"

namespace apura {

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
        int32_t code = c->codes[r];
        if (!m.accept.empty())
          ok = m.accept[code + 1] != 0;
        else if (m.wantNull)
          ok = code < 0 || code == m.code;
        else
          ok = code == m.code;
      } else if (m.wantNull) {
        ok = c.NumberIsNull(r);
      } else {
        ok = !c.NumberIsNull(r) && c->numbers[r] == m.number;
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

}  // namespace apura

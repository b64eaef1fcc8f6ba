// Named indexes and the order of the live rows they give.

#include "framework/dataset/dataset.h"

#include <algorithm>
#include <numeric>

#include "framework/dataset/dataset_internal.h"

namespace apura {

// ---------------------------------------------------------------------------
// Order, filter and the visible list

bool TClientDataSet::RowLess(uint32_t a, uint32_t b) const {
  for (int f : orderFields_) {
    int cmp = 0;
    if (fields_[f]->DataType() == FieldType::String) {
      int32_t ca = columns_[f]->codes[a], cb = columns_[f]->codes[b];
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
        double x = columns_[f]->numbers[a], y = columns_[f]->numbers[b];
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
    const ColumnData* col;
  };
  std::vector<Key> keys;
  for (int f : orderFields_) {
    Key k{fields_[f]->DataType() == FieldType::String, {}, columns_[f].operator->()};
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

}  // namespace apura

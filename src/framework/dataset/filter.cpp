// Filter expressions and record-filter callbacks, and the visible list they leave.

#include "framework/dataset/dataset.h"

#include <algorithm>
#include <utility>

#include "framework/dataset/dataset_internal.h"
#include "framework/dataset/filter_expr.h"

namespace apura {

// ---------------------------------------------------------------------------
// The visible list: live rows in index order that the filter accepts

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
  auto live = [&](uint32_t r) {
    return rowState_[r] != RowState::Deleted && rowState_[r] != RowState::Gone;
  };
  std::vector<std::string> key;
  if (filtered_ && OnFilterRecord && filterKey_ && filterKey_(key)) {
    // Only the key's rows can pass: the handler is asked about those alone,
    // taken in the order the whole table would have given them.
    for (uint32_t r : GroupOf(GroupsFor(filterKeyFields_), key))
      if (live(r)) v.push_back(r);
    if (!indexName_.empty())
      std::sort(v.begin(), v.end(), [&](uint32_t a, uint32_t b) { return RowLess(a, b); });
  } else if (indexName_.empty()) {
    v.reserve(rowCount_);
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

}  // namespace apura

// The change log: which rows were inserted, modified or deleted since the last merge, with
// their original values.

#include "framework/dataset/dataset.h"

#include "framework/dataset/dataset_internal.h"

namespace apura {

// ---------------------------------------------------------------------------
// Change log

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

void TClientDataSet::MarkChanged(uint32_t row) {
  if (rowState_[row] != RowState::Unmodified) return;
  rowState_[row] = RowState::Modified;
  ++changeCount_;
}

}  // namespace apura

// Edit, insert, post, cancel and delete, with their events and the edit buffer.

#include "framework/dataset/dataset.h"

#include "framework/dataset/dataset_internal.h"

namespace apura {

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
      ColumnData& c = columns_[i].Mut();
      if (fields_[i]->DataType() == FieldType::String)
        c.codes.push_back(-1);
      else {
        c.numbers.push_back(0);
        c.nullBits.resize((rowCount_ + 64) / 64, 0);
      }
    }
    ++rowCount_;
    ForgetKeyGroups();
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

}  // namespace apura

// What views read without moving the cursor: cell texts, row peeks and memory use.

#include "framework/dataset/dataset.h"

#include "framework/dataset/dataset_internal.h"

namespace apura {

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

TClientDataSet::RowPeek::RowPeek(const TClientDataSet& table, AtBookmark at)
    : table_(table), saved_(table.overrideRow_) {
  const int64_t row = at.bookmark;
  if (!table.Active() || row < 0 || static_cast<size_t>(row) >= table.rowCount_ ||
      table.rowState_[size_t(row)] == RowState::Gone ||
      table.rowState_[size_t(row)] == RowState::Deleted) {
    table.overrideRow_ = -1;
    return;
  }
  valid_ = true;
  const bool editingThis = table.state_ == TDataSetState::dsEdit && !table.visible_.empty() &&
                           table.visible_[table.pos_] == static_cast<uint32_t>(row);
  table.overrideRow_ = editingThis ? -1 : row;
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
    // Cells shared with other tables count for each its share.
    b += (c->dictBytes.capacity() + c->dictOffsets.capacity() * sizeof(uint32_t) +
          c->codes.capacity() * sizeof(int32_t) + c->numbers.capacity() * sizeof(double) +
          c->nullBits.capacity() * sizeof(uint64_t)) /
             c.Sharers() +
         c.intern.size() * 24 + c.intern.bucket_count() * sizeof(void*);
  }
  b += rowState_.capacity() + visible_.capacity() * sizeof(uint32_t) +
       order_.capacity() * sizeof(uint32_t);
  return b;
}

}  // namespace apura

// Opening, emptying and closing a table, its state and the notifications its views receive.

#include "framework/dataset/dataset.h"

#include "framework/dataset/dataset_internal.h"

namespace apura {

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

}  // namespace apura

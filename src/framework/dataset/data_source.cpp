// Data links: the views listening to a table.

#include "framework/dataset/dataset.h"

#include "framework/dataset/dataset_internal.h"

namespace apura {

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

}  // namespace apura

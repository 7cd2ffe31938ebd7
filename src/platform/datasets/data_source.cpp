#include "platform/datasets/data_source.h"

#include <algorithm>

namespace brn {

TDataSource::TDataSource(TComponent* owner) : TComponent(owner) {}

TDataSource::~TDataSource() {
  SetDataSet(nullptr);
  for (TDataLink* link : std::vector<TDataLink*>(links_)) link->SetDataSource(nullptr);
}

void TDataSource::SetDataSet(TDataSet* dataSet) {
  if (dataSet == dataSet_) return;
  if (dataSet_ != nullptr) std::erase(dataSet_->dataSources_, this);
  dataSet_ = dataSet;
  if (dataSet_ != nullptr) dataSet_->dataSources_.push_back(this);
  dataEvent(deUpdateState, nullptr);
}

void TDataSource::dataEvent(TDataEvent event, TField* field) {
  for (TDataLink* link : std::vector<TDataLink*>(links_)) link->dataEvent(event, field);
}

TDataLink::~TDataLink() {
  if (source_ != nullptr) std::erase(source_->links_, this);
}

void TDataLink::SetDataSource(TDataSource* source) {
  if (source == source_) return;
  if (source_ != nullptr) std::erase(source_->links_, this);
  source_ = source;
  if (source_ != nullptr) source_->links_.push_back(this);
  active_ = GetDataSet() != nullptr && GetDataSet()->GetActive();
}

void TDataLink::dataEvent(TDataEvent event, TField* field) {
  const bool active = GetDataSet() != nullptr && GetDataSet()->GetActive();
  if (active != active_) {
    active_ = active;
    ActiveChanged();
    return;
  }
  if (!active_) return;
  switch (event) {
    case deFieldChange:
      RecordChanged(field);
      break;
    case deRecordChange:
    case deDataSetChange:
      RecordChanged(nullptr);
      break;
    default:
      break;
  }
}

}  // namespace brn

#pragma once

#include <vector>

#include "platform/component.h"
#include "platform/datasets/data_set.h"

namespace brn {

class TDataLink;

// Connects a dataset to the links that follow it (detail datasets). The
// dataset tells its sources of every data event; they pass them on.
//
// Ownership: neither the dataset nor the links are owned; a link leaves the
// source when it is destroyed, the source leaves its dataset likewise.
// Threads: the dataset's.
class TDataSource : public TComponent {
 public:
  explicit TDataSource(TComponent* owner);
  ~TDataSource() override;

  TDataSet* GetDataSet() const { return dataSet_; }
  void SetDataSet(TDataSet* dataSet);

 private:
  friend class TDataLink;
  friend class TDataSet;
  void dataEvent(TDataEvent event, TField* field);

  TDataSet* dataSet_ = nullptr;
  std::vector<TDataLink*> links_;
};

// Follows the dataset of a data source.
class TDataLink {
 public:
  TDataLink() = default;
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* GetDataSource() const { return source_; }
  void SetDataSource(TDataSource* source);
  TDataSet* GetDataSet() const { return source_ == nullptr ? nullptr : source_->GetDataSet(); }
  bool GetActive() const { return active_; }

 protected:
  // The dataset opened or closed.
  virtual void ActiveChanged() {}
  // The record changed: field is the changed field, nullptr for a move or a
  // whole new record.
  virtual void RecordChanged(TField*) {}

 private:
  friend class TDataSource;
  void dataEvent(TDataEvent event, TField* field);

  TDataSource* source_ = nullptr;
  bool active_ = false;
};

// The link of a detail dataset to its master.
class TDetailDataLink : public TDataLink {
 public:
  virtual TDataSet* GetDetailDataSet() { return nullptr; }
};

}  // namespace brn

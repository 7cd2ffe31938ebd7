#include "clientserver/components/blob_stream.h"

#include <exception>
#include <limits>
#include <stdexcept>
#include <string>

#include "clientserver/components/component_error.h"
#include "clientserver/components/data_set_component.h"
#include "foundation/core/memory_stream.h"
#include "foundation/text/exception.h"
#include "storage/cursors/cursor.h"
#include "storage/rows/row_values.h"

namespace brn {

namespace {

// The most bytes a BLOB holds: its stored length is a 32-bit count.
constexpr int64_t kMaxBlobSize = std::numeric_limits<int32_t>::max();

TBRNDataSet& dataSetOf(TField& field) {
  auto* dataSet = dynamic_cast<TBRNDataSet*>(&field.GetDataSet());
  if (dataSet == nullptr)
    throw std::invalid_argument("A BLOB stream needs a field of an engine dataset");
  return *dataSet;
}

}  // namespace

TBRNBlobStream::TBRNBlobStream(TField& field, TBlobStreamMode mode)
    : field_(field),
      dataSet_(dataSetOf(field)),
      buffer_(dataSet_.GetActiveRecordBuffer()),
      fieldNo_(field.FieldNo),
      mode_(mode) {
  const TDataSetState state = dataSet_.GetState();
  const bool filterOrOld = state == dsFilter || state == dsOldValue;
  if (mode != bmRead && !(field.Modified && !filterOrOld)) {
    if (field.ReadOnly) raiseNotModifiable();
    if (state != dsEdit && state != dsInsert && state != dsSetKey)
      DatabaseError("Table is not in edit or insert mode");
  }
  if (buffer_ == nullptr || fieldNo_ <= 0) return;
  try {
    TBRNCursorColumn* column = dataSet_.cursor_->GetCursorColumns().GetColumn(fieldNo_ - 1);
    auto* value = static_cast<TBRNRowValue*>(
        dataSet_.rowForFields(buffer_).Values.GetItem(column->GetTableColumn()->Index));
    TBRNMemoryStream* data = value->GetBlobStream();
    if (data == nullptr) return;
    data->SetPosition(0);
    if (mode == bmWrite) {
      data->SetSize(0);
      value->SetNull(true);
      modified_ = true;
    }
    value_ = value;
    data_ = data;
  } catch (const EBRNAbortException&) {
    // The user stopped the load: the stream stays without a value.
  } catch (const std::exception& error) {
    throw EBRNError(error);
  }
}

TBRNBlobStream::~TBRNBlobStream() {
  if (modified_ || mode_ == bmWrite) field_.Modified = true;
  const TDataSetState state = dataSet_.GetState();
  try {
    if (value_ != nullptr && (state == dsFilter || state == dsOldValue || !field_.Modified))
      value_->UnloadBlob();
    if (modified_) dataSet_.DataEvent(deFieldChange, &field_);
  } catch (const std::exception& error) {
    dataSet_.InternalHandleException(error);
  }
}

void TBRNBlobStream::raiseNotModifiable() const {
  DatabaseError("Field '" + field_.GetDisplayName() + "' cannot be modified");
}

void TBRNBlobStream::raiseBeyondBlob(int64_t size) const {
  try {
    value_->RaiseOutOfRangeError(std::to_string(size), true);
  } catch (const std::exception& error) {
    throw EBRNError(error);
  }
  throw std::logic_error("A value's range error returned");
}

int32_t TBRNBlobStream::Read(void* buffer, int32_t count) {
  if (data_ == nullptr) return 0;
  return data_->Read(buffer, count);
}

int32_t TBRNBlobStream::Write(const void* buffer, int32_t count) {
  if (data_ == nullptr) return 0;
  if (mode_ == bmRead) raiseNotModifiable();
  int32_t written = 0;
  try {
    written = data_->Write(buffer, count);
  } catch (const std::length_error&) {
    raiseBeyondBlob(data_->GetPosition() + int64_t(count));
  }
  modified_ = true;
  return written;
}

void TBRNBlobStream::SetSize(int64_t newSize) {
  if (data_ == nullptr) return;
  if (newSize < 0 || newSize > kMaxBlobSize) raiseBeyondBlob(newSize);
  data_->SetSize(newSize);
  modified_ = true;
}

void TBRNBlobStream::SetSize(int32_t newSize) {
  SetSize(int64_t(newSize));
}

int64_t TBRNBlobStream::Seek(int64_t offset, TSeekOrigin origin) {
  if (data_ == nullptr || origin > soEnd) return 0;
  try {
    return data_->Seek(uint8_t(origin), offset);
  } catch (const std::length_error&) {
    raiseBeyondBlob(offset);
  } catch (const std::out_of_range&) {
    raiseBeyondBlob(offset);
  }
}

int32_t TBRNBlobStream::Seek(int32_t offset, uint16_t origin) {
  if (origin > soEnd) return 0;
  return int32_t(Seek(int64_t(offset), TSeekOrigin(origin)));
}

}  // namespace brn

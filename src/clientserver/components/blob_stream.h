#pragma once

#include <cstdint>

#include "platform/datasets/data_set.h"
#include "platform/stream.h"

namespace brn {

class TBRNDataSet;
class TBRNMemoryStream;
class TBRNRowValue;

// The stream a dataset over an engine cursor hands out for a BLOB or memo
// field: it works on the BLOB data of the field's value in the record buffer
// that was active when it was created. Writing through it edits the value
// (which becomes modified and not NULL); freeing it marks the field modified
// when it changed the value or was opened for writing, and drops the loaded
// data of a value that was only read.
//
// A size or position beyond what a BLOB holds raises the value's
// out-of-range error as a component error; the 64-bit forms never cut the
// value to 32 bits. Without a value (no active record, no data field) every
// operation gives 0.
//
// Precondition: the record buffer does not move while the stream lives.
// Threads: the dataset's.
class TBRNBlobStream : public TStream {
 public:
  // field belongs to a TBRNDataSet (std::invalid_argument otherwise). A
  // mode other than bmRead needs a writable field ("Field '<name>' cannot be
  // modified") and the edit, insert or key state ("Table is not in edit or
  // insert mode"), unless a stream already modified the field. bmWrite
  // empties the value and makes it NULL.
  TBRNBlobStream(TField& field, TBlobStreamMode mode);
  ~TBRNBlobStream() override;

  int32_t Read(void* buffer, int32_t count) override;
  // A bmRead stream raises "Field '<name>' cannot be modified".
  int32_t Write(const void* buffer, int32_t count) override;
  void SetSize(int64_t newSize) override;
  void SetSize(int32_t newSize) override;
  // Origins other than soBeginning, soCurrent and soEnd return 0 and move
  // nothing.
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  // The low 32 bits of the new position.
  int32_t Seek(int32_t offset, uint16_t origin) override;

  bool GetModified() const { return modified_; }

 private:
  [[noreturn]] void raiseBeyondBlob(int64_t size) const;
  [[noreturn]] void raiseNotModifiable() const;

  TField& field_;
  TBRNDataSet& dataSet_;
  TRecordBuffer buffer_;
  int32_t fieldNo_;
  TBlobStreamMode mode_;
  bool modified_ = false;
  // The value and its data stream; both nullptr without a value.
  TBRNRowValue* value_ = nullptr;
  TBRNMemoryStream* data_ = nullptr;
};

}  // namespace brn

#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/component.h"
#include "platform/datasets/connection.h"
#include "platform/params.h"
#include "platform/stream.h"
#include "platform/variant.h"

namespace brn {

class TDataSet;
class TDataSource;

enum TDataSetState : uint8_t {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsSetKey,
  dsCalcFields,
  dsFilter,
  dsNewValue,
  dsOldValue,
  dsCurValue,
  dsBlockRead,
  dsInternalCalc,
  dsOpening
};
enum TGetMode : uint8_t { gmCurrent, gmNext, gmPrior };
enum TGetResult : uint8_t { grOK, grBOF, grEOF, grError };
enum TBookmarkFlag : uint8_t { bfCurrent = 0, bfBOF = 1, bfEOF = 2, bfInserted = 3 };
enum TFieldKind : uint8_t { fkData, fkCalculated, fkLookup, fkInternalCalc, fkAggregate };
enum TDataEvent : uint8_t { deFieldChange, deRecordChange, deDataSetChange, deUpdateState,
                            dePropertyChange };

enum TBlobStreamMode : uint8_t { bmRead, bmWrite, bmReadWrite };
enum TUpdateKind : uint8_t { ukModify, ukInsert, ukDelete };
enum TUpdateAction : uint8_t { uaFail, uaAbort, uaSkip, uaRetry, uaApplied };

using TRecordBuffer = uint8_t*;
using TBookmark = std::vector<uint8_t>;
using TDataSetNotifyEvent = std::function<void(TDataSet& dataSet)>;
using TFilterRecordEvent = std::function<void(TDataSet& dataSet, bool& accept)>;
// Applies one record of a delta; the handler sets action (uaApplied when it
// wrote the change itself).
using TUpdateRecordEvent =
    std::function<void(TDataSet& delta, TUpdateKind kind, TUpdateAction& action)>;

// A failure while updates are applied: the message, its context, the error
// code, the code of the failure before it (0 for the first) and the
// exception it came from.
class EUpdateError : public EDatabaseError {
 public:
  EUpdateError(const std::string& message, const std::string& context, int32_t errorCode,
               int32_t previousError, std::exception_ptr originalException)
      : EDatabaseError(message),
        Context(context),
        ErrorCode(errorCode),
        PreviousError(previousError),
        OriginalException(std::move(originalException)) {}

  std::string Context;
  int32_t ErrorCode;
  int32_t PreviousError;
  std::exception_ptr OriginalException;
};

// The options of the Filter text.
struct TFilterOptions {
  bool CaseInsensitive = false;  // foCaseInsensitive
  bool NoPartialCompare = false;  // foNoPartialCompare
  bool operator==(const TFilterOptions&) const = default;
};
struct TLocateOptions {
  bool CaseInsensitive = false;  // loCaseInsensitive
  bool PartialKey = false;       // loPartialKey
};

// The definition of one field as the dataset describes its source.
struct TFieldDef {
  std::string Name;
  TFieldType DataType = ftUnknown;
  int32_t Size = 0;
  int32_t FieldNo = 0;
  bool Required = false;
  bool InternalCalcField = false;
  bool ReadOnly = false;  // faReadonly
};

// One field of a dataset. Values travel through native field buffers:
// strings zero-terminated, Boolean 16-bit (-1 true), SmallInt 16-bit,
// Integer, AutoInc, Date and Time 32-bit, LargeInt 64-bit, Float and
// DateTime (milliseconds as a double) 8 bytes, BCD as TBcd.
//
// Ownership: the dataset owns its fields. Threads: the dataset's.
class TField {
 public:
  TField(TDataSet& dataSet, const std::string& name, TFieldType dataType, int32_t size,
         TFieldKind kind);

  TDataSet& GetDataSet() const { return dataSet_; }
  std::string FieldName;
  std::string Origin;
  TFieldType DataType;
  int32_t Size;
  TFieldKind FieldKind;
  int32_t FieldNo = 0;
  int32_t Offset = 0;
  bool ReadOnly = false;
  std::function<void(TField& field)> OnChange;
  std::function<void(TField& field)> OnValidate;

  const std::string& GetDisplayName() const { return FieldName; }
  // Bytes of the native buffer.
  int32_t GetDataSize() const;
  bool IsBlob() const { return DataType == ftBlob || DataType == ftMemo; }
  // BLOB fields: set when a BLOB stream changed the value; post and cancel
  // hand the field to the dataset's CloseBlob and clear it.
  bool Modified = false;

  // Reads into buffer (DataSize bytes); false when NULL or no record.
  bool GetData(void* buffer) const;
  // Writes buffer (nullptr: NULL) through the dataset.
  void SetData(const void* buffer);
  // Runs OnValidate before a value is stored.
  void Validate(const void* buffer);

  bool IsNull() const;
  void Clear() { SetData(nullptr); }
  TVariant GetAsVariant() const;
  void SetAsVariant(const TVariant& value);
  std::string GetAsString() const;
  void SetAsString(const std::string& value);
  int64_t GetAsInteger() const;
  void SetAsInteger(int64_t value);
  double GetAsFloat() const;
  void SetAsFloat(double value);
  bool GetAsBoolean() const;
  void SetAsBoolean(bool value);

 private:
  TDataSet& dataSet_;
};

// The parameter takes the field's type, size and current value (NULL
// included) and becomes bound.
void AssignParamFromField(TParam& param, const TField& field);

// The record-set core: a dataset walks a source of records through record
// buffers it asks its subclass to fill. One record buffer is kept (the
// active record) plus a temporary one; a subclass allocates any others.
//
// Subclass contract: AllocRecordBuffer/FreeRecordBuffer own the buffer
// memory; GetRecord fills a buffer from the source and never raises;
// Internal* operations move the source. The dataset calls them only in the
// states the public operations check.
//
// Threads: one thread per dataset.
class TDataSet : public TComponent {
 public:
  explicit TDataSet(TComponent* owner);
  // Derived destructors close the dataset first.
  ~TDataSet() override;

  // Not yet while the cursor is being opened.
  bool GetActive() const { return state_ != dsInactive && state_ != dsOpening; }
  void SetActive(bool value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  TDataSetState GetState() const { return state_; }

  // Navigation.
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  int32_t MoveBy(int32_t distance);
  bool GetBof() const { return bof_; }
  bool GetEof() const { return eof_; }
  bool IsEmpty() const { return recordCount_ == 0 && state_ != dsInsert; }
  virtual int32_t GetRecordCount() { return recordCount_; }
  virtual int32_t GetRecNo() { return -1; }
  virtual void SetRecNo(int32_t) {}
  virtual bool IsSequenced() { return false; }
  void Refresh();

  // Editing.
  void Edit();
  void Insert();
  void Append() { Insert(); }
  void Post();
  void Cancel();
  void Delete();
  virtual bool GetCanModify() const { return true; }

  // Bookmarks.
  TBookmark GetBookmark();
  void GotoBookmark(const TBookmark& bookmark);
  virtual bool BookmarkValid(const TBookmark*) { return false; }
  virtual int32_t CompareBookmarks(const TBookmark*, const TBookmark*) { return 0; }
  int32_t GetBookmarkSize() const { return bookmarkSize_; }

  // Fields.
  int32_t GetFieldCount() const { return int32_t(fields_.size()); }
  TField& GetField(int32_t index) const { return *fields_.at(size_t(index)); }
  TField* FindField(const std::string& name) const;
  TField& FieldByName(const std::string& name) const;
  std::vector<TFieldDef>& GetFieldDefs() { return fieldDefs_; }
  // Adds a calculated (or internal-calculated) field before opening.
  TField& AddCalculatedField(const std::string& name, TFieldType dataType, int32_t size,
                             TFieldKind kind);
  virtual bool GetFieldData(const TField& field, void* buffer);
  virtual void SetFieldData(TField& field, const void* buffer);
  bool GetAutoCalcFields() const { return autoCalcFields_; }
  void SetAutoCalcFields(bool value) { autoCalcFields_ = value; }
  int32_t GetCalcFieldsSize() const { return calcFieldsSize_; }

  // Filters and searching.
  const std::string& GetFilter() const { return filterText_; }
  virtual void SetFilterText(const std::string& value);
  bool GetFiltered() const { return filtered_; }
  virtual void SetFiltered(bool value);
  const TFilterOptions& GetFilterOptions() const { return filterOptions_; }
  virtual void SetFilterOptions(const TFilterOptions& value);
  const TFilterRecordEvent& GetOnFilterRecord() const { return onFilterRecord_; }
  virtual void SetOnFilterRecord(TFilterRecordEvent value);
  bool FindFirst() { return FindRecord(true, true); }
  bool FindNext() { return FindRecord(false, true); }
  bool FindPrior() { return FindRecord(false, false); }
  bool FindLast() { return FindRecord(true, false); }
  virtual bool FindRecord(bool, bool) { return false; }
  bool GetFound() const { return found_; }
  // keyFields is a ";"-separated list; keyValues give the first values in
  // order (the rest of the fields match NULL).
  virtual bool Locate(const std::string&, const std::vector<TVariant>&, const TLocateOptions&) {
    return false;
  }
  bool Locate(const std::string& keyFields, const TVariant& keyValue,
              const TLocateOptions& options) {
    return Locate(keyFields, std::vector<TVariant>{keyValue}, options);
  }
  // The value of resultField in the record keyValues locate; Null when none.
  virtual TVariant Lookup(const std::string&, const std::vector<TVariant>&, const std::string&) {
    return TVariant::Null();
  }

  // A stream over a BLOB field's value in the active record (nullptr when
  // the dataset has none). The stream must be freed before the record moves.
  virtual std::unique_ptr<TStream> CreateBlobStream(TField&, TBlobStreamMode) { return nullptr; }
  // Releases what the dataset keeps of the field's value in the active
  // record.
  virtual void CloseBlob(TField&) {}

  // Provider support: the failure to report for error while a delta is
  // applied (previous: the failure before it, or nullptr); here an
  // EUpdateError with the error's message and error code 0.
  virtual std::unique_ptr<EUpdateError> PSGetUpdateException(std::exception_ptr error,
                                                             const EUpdateError* previous);
  // Before a provider reads the dataset again; nothing here.
  virtual void PSReset() {}

  // Block reads: while set, no record is calculated and the controls are
  // not told of each record.
  int32_t GetBlockReadSize() const { return blockReadSize_; }
  virtual void SetBlockReadSize(int32_t value);

  // Events.
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeRefresh, AfterRefresh;
  TDataSetNotifyEvent BeforeScroll, AfterScroll, OnNewRecord, OnCalcFields;
  // Every data event sent (tests and data links listen).
  std::function<void(TDataEvent event, TField* field)> OnDataEvent;

  // Enters the key-entry state (searches by key values).
  void SetKey();

  // Raises "Dataset not in edit or insert mode"-style framework errors.
  void CheckActive() const;
  void CheckInactive() const;
  void CheckBrowseMode();

 protected:
  // Record buffers.
  virtual TRecordBuffer AllocRecordBuffer() = 0;
  virtual void FreeRecordBuffer(TRecordBuffer& buffer) = 0;
  virtual TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode) = 0;
  virtual void CopyRecordBuffer(TRecordBuffer source, TRecordBuffer target) = 0;
  // The source.
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  virtual bool IsCursorOpen() const = 0;
  virtual void InternalInitFieldDefs() = 0;
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  virtual void InternalInitRecord(TRecordBuffer) {}
  virtual void InitRecord(TRecordBuffer buffer);
  virtual void InternalEdit() {}
  virtual void InternalCancel() {}
  virtual void InternalPost() {}
  virtual void InternalDelete() {}
  virtual void InternalRefresh() {}
  virtual void InternalGotoBookmark(const uint8_t* bookmark) = 0;
  virtual void InternalSetToRecord(TRecordBuffer buffer) = 0;
  virtual void GetBookmarkData(TRecordBuffer buffer, uint8_t* data) = 0;
  virtual TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) = 0;
  virtual void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) = 0;
  virtual void InternalHandleException(const std::exception& error);
  virtual void OpenCursor();
  virtual void CloseCursor();
  virtual void DoOnNewRecord();
  virtual void DoBeforeDelete();
  // Fill the record buffers from the source's position forward (backward);
  // answer the number of records read. First and open read forward, Last
  // backward.
  virtual int32_t GetNextRecords();
  virtual int32_t GetPriorRecords();
  // The record buffers the dataset moves through.
  int32_t GetBufferCount() const { return int32_t(buffers_.size()); }
  // Whether the buffers hold a record read from the source: false on a
  // dataset without records, even while a record is being inserted into it.
  bool HasSourceRecord() const { return recordCount_ > 0; }
  // Calculated fields of the buffer (the calculation buffer during the call).
  virtual void ClearCalcFields(TRecordBuffer) {}
  void GetCalcFields(TRecordBuffer buffer);
  void CalculateFields(TRecordBuffer buffer);
  TRecordBuffer GetCalcBuffer() const { return calcBuffer_; }
  // The buffer the calculation state reads and writes.
  void SetCalcBuffer(TRecordBuffer buffer) { calcBuffer_ = buffer; }

  // Services for subclasses.
  TRecordBuffer ActiveBuffer() const { return buffers_.empty() ? nullptr : buffers_[0]; }
  TRecordBuffer TempBuffer() const { return buffers_.size() < 2 ? nullptr : buffers_[1]; }
  void SetState(TDataSetState value);
  // Enters a temporary state; RestoreState gives the previous one back.
  TDataSetState SetTempState(TDataSetState value);
  void RestoreState(TDataSetState previous);
  void SetFound(bool value) { found_ = value; }
  void SetBookmarkSize(int32_t value) { bookmarkSize_ = value; }
  void CursorPosChanged() { currentRecord_ = -1; }
  void UpdateCursorPos();
  // Rereads the active record from the source's position.
  void Resync();
  void DataEvent(TDataEvent event, TField* field = nullptr);
  void DoBeforeScroll();
  void DoAfterScroll();
  // Gives each data field definition a field (the default fields).
  void CreateFields();
  void DestroyFields();
  bool DefaultFields() const { return defaultFields_; }
  // Binding assigns the calculated fields their offsets.
  void BindFields(bool binding);
  TVariant GetFieldValue(const std::string& name) { return FieldByName(name).GetAsVariant(); }
  bool GetFilterBufferState() const { return state_ == dsFilter; }

 private:
  friend class TDataSource;
  void allocateBuffers();
  void freeBuffers();
  void fillActive(TGetMode mode);
  // Hands every modified BLOB field to CloseBlob and clears its flag.
  void freeFieldBuffers();
  void doOpen();
  void doClose();
  void notify(const TDataSetNotifyEvent& event) {
    if (event) event(*this);
  }

  std::vector<TDataSource*> dataSources_;
  std::vector<std::unique_ptr<TField>> fields_;
  std::vector<TFieldDef> fieldDefs_;
  std::vector<TRecordBuffer> buffers_;
  TRecordBuffer calcBuffer_ = nullptr;
  std::string filterText_;
  TFilterOptions filterOptions_;
  TFilterRecordEvent onFilterRecord_;
  TDataSetState state_ = dsInactive;
  int32_t recordCount_ = 0;
  int32_t currentRecord_ = -1;
  int32_t bookmarkSize_ = 0;
  int32_t calcFieldsSize_ = 0;
  int32_t blockReadSize_ = 0;
  bool bof_ = true;
  bool eof_ = true;
  bool found_ = false;
  bool filtered_ = false;
  bool autoCalcFields_ = true;
  bool defaultFields_ = false;
};

}  // namespace brn

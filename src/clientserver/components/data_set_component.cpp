#include "clientserver/components/data_set_component.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <utility>

#include "clientserver/components/blob_stream.h"
#include "clientserver/components/component_error.h"
#include "clientserver/components/engine_component.h"
#include "clientserver/components/param_conversion.h"
#include "clientserver/components/query_component.h"
#include "clientserver/components/session_component.h"
#include "clientserver/remote/remote_cursor.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "foundation/types/data_types.h"
#include "metadata/catalog/columns.h"
#include "storage/cursors/cursor.h"
#include "storage/cursors/cursor_columns.h"
#include "storage/cursors/key_values.h"
#include "storage/rows/row_values.h"

namespace brn {

namespace {

constexpr int32_t kRowSlotSize = 4;

// Runs call; an engine abort is swallowed, other failures are raised as
// component errors.
template <typename Call>
void swallowingAbort(Call call) {
  try {
    call();
  } catch (const EBRNAbortException&) {
  } catch (...) {
    RaiseAsComponentError();
  }
}

// The cursor's read-ahead count: the rows a remote cursor fetches per
// request (nullptr for a local cursor, which reads rows where they are).
int32_t* readAheadOf(TBRNCursor* cursor) {
  auto* remote = dynamic_cast<TBRNRemoteCursor*>(cursor);
  return remote == nullptr ? nullptr : &remote->RowsPerBlock;
}

// Raises the cursor's read-ahead count to at least minimum while it lives.
class TReadAheadRaise {
 public:
  TReadAheadRaise(TBRNCursor* cursor, int32_t minimum) : count_(readAheadOf(cursor)) {
    if (count_ == nullptr) return;
    saved_ = *count_;
    *count_ = std::max(saved_, minimum);
  }
  ~TReadAheadRaise() {
    if (count_ != nullptr) *count_ = saved_;
  }
  TReadAheadRaise(const TReadAheadRaise&) = delete;
  TReadAheadRaise& operator=(const TReadAheadRaise&) = delete;

 private:
  int32_t* count_;
  int32_t saved_ = 0;
};

// The session component of that name; "Session name '<name>' is not valid"
// when there is none.
TBRNSession& sessionNamed(const std::string& name) {
  TBRNEngineInstance* instance = TBRNEngineInstance::Get();
  if (instance == nullptr) DatabaseError(FormatText("Session name '%s' is not valid", {name}));
  return *instance->GetSession(name);
}

int32_t readInt32(const uint8_t* at) {
  int32_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

void writeInt32(uint8_t* at, int32_t value) {
  std::memcpy(at, &value, sizeof value);
}

// Bytes of one bookmark slot: the NULL flag and the key form of the value.
int32_t slotSize(const TBRNColumn& column) {
  if (column.DataType == dtChar) return 1 + column.Length + 1;
  return column.GetKeySize();
}

TFieldType fieldTypeOf(const TBRNColumn& column) {
  switch (column.DataType) {
    case dtChar:
      return column.SubType == stFixed ? ftFixedChar : column.SubType == stGuid ? ftGuid : ftString;
    case dtBytes:
      return column.SubType == stFixed ? ftBytes : column.SubType == stGuid ? ftGuid : ftVarBytes;
    case dtLob:
      return column.SubType == stClob ? ftMemo : ftBlob;
    case dtBoolean:
      return ftBoolean;
    case dtSmallInt:
      return ftSmallint;
    case dtInteger:
      return column.Identity ? ftAutoInc : ftInteger;
    case dtBigInt:
      return ftLargeint;
    case dtFloat:
      return ftFloat;
    case dtDecimal:
      return ftBCD;
    case dtDate:
      return ftDate;
    case dtTime:
      return ftTime;
    case dtTimestamp:
      return ftDateTime;
    case dtYearMonthInterval:
      return ftInteger;
    case dtDayTimeInterval:
      return ftLargeint;
    default:
      return ftUnknown;
  }
}

int32_t fieldSizeOf(const TBRNColumn& column, TFieldType type) {
  switch (type) {
    case ftString:
    case ftFixedChar:
    case ftGuid:
    case ftBytes:
    case ftVarBytes:
      return column.Length;
    case ftBCD:
      return column.Scale;
    default:
      return 0;
  }
}

}  // namespace

TBRNDataSet::TBRNDataSet(TComponent* owner) : TDataSet(owner) {}

TBRNDataSet::~TBRNDataSet() {
  SetUpdateObject(nullptr);
  try {
    Close();
  } catch (...) {
    // A destructor cannot report; the rows go below in any case.
  }
  freeCursorRows();
}

TBRNCursorRow& TBRNDataSet::RowOf(TRecordBuffer buffer) const {
  return *rows_.at(size_t(readInt32(buffer)));
}

int32_t TBRNDataSet::GetCursorRowCount() const {
  return int32_t(std::count_if(rows_.begin(), rows_.end(),
                               [](const auto& row) { return row != nullptr; }));
}

void TBRNDataSet::freeCursorRows() {
  rows_.clear();
}

// ---- Open and close

void TBRNDataSet::OpenCursor() {
  cursor_ = CreateCursor();
  if (cursor_ == nullptr) DatabaseError("Error creating table handle");
  TDataSet::OpenCursor();
}

void TBRNDataSet::CloseCursor() {
  TDataSet::CloseCursor();
  DestroyCursor();
}

void TBRNDataSet::DestroyCursor() {
  bookmark1_.reset();
  bookmark2_.reset();
  cursor_ = nullptr;
}

int32_t TBRNDataSet::computeBookmarkSize() const {
  int32_t size = 0;
  TBRNBookmarkColumns& columns = cursor_->GetBookmarkColumns();
  for (int32_t i = 0; i < columns.Count(); ++i)
    size += slotSize(*columns.GetColumn(i)->GetColumn());
  if (cursor_->GetBookmarkHasRowID()) size += 4;
  return size;
}

void TBRNDataSet::InternalOpen() {
  if (cursor_ == nullptr) return;
  try {
    SetBookmarkSize(computeBookmarkSize());
    bookmark1_ = std::make_unique<TBRNContainedBookmarkValues>(cursor_);
    bookmark2_ = std::make_unique<TBRNContainedBookmarkValues>(cursor_);
    canModify_ = !cursor_->ReadOnly;
    InternalInitFieldDefs();
    CreateFields();
    BindFields(true);
    SetFieldOrigins();
    recordInfoOffset_ = kRowSlotSize + GetCalcFieldsSize();
    bookmarkOffset_ = recordInfoOffset_ + 8;
    recordBufferSize_ = bookmarkOffset_ + GetBookmarkSize();
    oldValueBuffer_ = AllocRecordBuffer();
    filterBuffer_ = AllocRecordBuffer();
    if (int32_t* readAhead = readAheadOf(cursor_)) *readAhead = readAheadRows_;
    CursorOpened();
    if (GetFiltered()) activateFilter();
    cursor_->FirstRow();
  } catch (...) {
    RaiseAsComponentError();
  }
}

void TBRNDataSet::InternalClose() {
  if (cursor_ == nullptr) return;
  deactivateFilter();
  setFilterHandle(0);
  CursorClosing();
  if (oldValueBuffer_ != nullptr) FreeRecordBuffer(oldValueBuffer_);
  if (filterBuffer_ != nullptr) FreeRecordBuffer(filterBuffer_);
  BindFields(false);
  DestroyFields();
  canModify_ = false;
  freeCursorRows();
}

void TBRNDataSet::InternalInitFieldDefs() {
  std::vector<TFieldDef>& defs = GetFieldDefs();
  defs.clear();
  TBRNCursorColumns& columns = cursor_->GetCursorColumns();
  for (int32_t i = 0; i < columns.Count(); ++i) {
    TBRNCursorColumn* cursorColumn = columns.GetColumn(i);
    TBRNColumn& column = *cursorColumn->GetTableColumn();
    TFieldDef def;
    def.Name = cursorColumn->Name;
    def.DataType = fieldTypeOf(column);
    def.Size = fieldSizeOf(column, def.DataType);
    def.FieldNo = i + 1;
    def.InternalCalcField = column.Computed;
    def.ReadOnly = column.ReadOnly;
    defs.push_back(def);
  }
}

void TBRNDataSet::SetFieldOrigins() {
  TBRNCursorColumns& columns = cursor_->GetCursorColumns();
  for (int32_t i = 0; i < GetFieldCount(); ++i) {
    TField& field = GetField(i);
    if (field.FieldKind != fkData && field.FieldKind != fkInternalCalc &&
        field.FieldKind != fkAggregate)
      continue;
    if (field.FieldNo > 0 && field.FieldNo <= columns.Count())
      field.Origin = columns.GetColumn(field.FieldNo - 1)->GetTableColumn()->Origin;
  }
}

// ---- Record buffers

TRecordBuffer TBRNDataSet::AllocRecordBuffer() {
  auto* buffer = static_cast<TRecordBuffer>(std::calloc(size_t(recordBufferSize_), 1));
  if (buffer == nullptr) throw std::bad_alloc();
  auto empty = std::find(rows_.begin(), rows_.end(), nullptr);
  size_t slot = size_t(empty - rows_.begin());
  if (empty == rows_.end()) rows_.emplace_back();
  rows_[slot] = cursor_->CreateRow();
  writeInt32(buffer, int32_t(slot));
  return buffer;
}

void TBRNDataSet::FreeRecordBuffer(TRecordBuffer& buffer) {
  size_t slot = size_t(readInt32(buffer));
  if (slot < rows_.size()) rows_[slot].reset();
  std::free(buffer);
  buffer = nullptr;
}

void TBRNDataSet::CopyRecordBuffer(TRecordBuffer source, TRecordBuffer target) {
  TBRNCursorRow& targetRow = RowOf(target);
  targetRow.Clear();
  targetRow.Assign(RowOf(source));
  std::memcpy(target + kRowSlotSize, source + kRowSlotSize,
              size_t(recordBufferSize_ - kRowSlotSize));
}

TRecordBuffer TBRNDataSet::GetActiveRecordBuffer() {
  switch (GetState()) {
    case dsBrowse:
    case dsBlockRead:
      return IsEmpty() ? nullptr : ActiveBuffer();
    case dsEdit:
    case dsInsert:
    case dsNewValue:
      return ActiveBuffer();
    case dsCalcFields:
    case dsInternalCalc:
      return GetCalcBuffer();
    case dsFilter:
      return filterBuffer_;
    case dsOldValue:
      return oldValueBuffer_;
    default:
      return nullptr;
  }
}

void TBRNDataSet::writeBookmark(TRecordBuffer buffer) {
  TBRNCursorRow& row = RowOf(buffer);
  uint8_t* at = buffer + bookmarkOffset_;
  std::memset(at, 0, size_t(GetBookmarkSize()));
  TBRNBookmarkColumns& columns = cursor_->GetBookmarkColumns();
  for (int32_t i = 0; i < columns.Count(); ++i) {
    TBRNValue* value = row.Bookmark.GetItem(i);
    const bool null = value == nullptr || value->GetNull();
    at[0] = null ? 1 : 0;
    if (!null) value->GetAsFieldBuffer(at + 1, false);
    at += slotSize(*columns.GetColumn(i)->GetColumn());
  }
  if (cursor_->GetBookmarkHasRowID()) writeInt32(at, row.Bookmark.GetRowID());
}

void TBRNDataSet::readBookmark(const uint8_t* bookmark, TBRNContainedBookmarkValues& values) {
  TBRNBookmarkColumns& columns = cursor_->GetBookmarkColumns();
  for (int32_t i = 0; i < values.GetCount(); ++i) {
    TBRNValue* value = values.GetItem(i);
    if (bookmark == nullptr || bookmark[0] == 1)
      value->SetNull(true);
    else
      value->SetAsFieldBuffer(bookmark + 1, false);
    if (bookmark != nullptr && i < columns.Count())
      bookmark += slotSize(*columns.GetColumn(i)->GetColumn());
  }
  if (bookmark != nullptr && cursor_->GetBookmarkHasRowID()) values.SetRowID(readInt32(bookmark));
}

void TBRNDataSet::fillRecordBuffer(TRecordBuffer buffer) {
  TBRNCursorRow& row = RowOf(buffer);
  cursor_->GetCurrentRow(row, false);
  // The record number is the cursor's sequence number of the row.
  writeInt32(buffer + recordInfoOffset_, cursor_->GetRowNumber());
  buffer[recordInfoOffset_ + 4] = bfCurrent;
  GetCalcFields(buffer);
  row.BuildBookmark();
  writeBookmark(buffer);
}

TGetResult TBRNDataSet::GetRecord(TRecordBuffer buffer, TGetMode mode) {
  const bool restingFirst = std::exchange(restingFirst_, false);
  const bool restingLast = std::exchange(restingLast_, false);
  try {
    const bool bof = cursor_->GetBof();
    const bool eof = cursor_->GetEof();
    switch (mode) {
      case gmCurrent:
        if (bof && eof) return grError;
        if (bof) return grBOF;
        if (eof) return grEOF;
        fillRecordBuffer(buffer);
        return grOK;
      case gmNext:
        if ((bof || restingFirst) && !eof) {
          // The cursor rests on its first row before returning it.
          fillRecordBuffer(buffer);
          cursor_->NextRow();
          if (cursor_->GetEof()) {
            readBookmark(buffer + bookmarkOffset_, *bookmark1_);
            cursor_->SetToBookmark(*bookmark1_);
          } else {
            cursor_->PriorRow();
          }
          return grOK;
        }
        if (eof) return grEOF;
        cursor_->NextRow();
        if (cursor_->GetEof()) return grEOF;
        fillRecordBuffer(buffer);
        return grOK;
      case gmPrior:
        if ((eof || restingLast) && !bof) {
          fillRecordBuffer(buffer);
          cursor_->PriorRow();
          if (cursor_->GetBof()) {
            readBookmark(buffer + bookmarkOffset_, *bookmark1_);
            cursor_->SetToBookmark(*bookmark1_);
          } else {
            cursor_->NextRow();
          }
          return grOK;
        }
        if (bof) return grBOF;
        cursor_->PriorRow();
        if (cursor_->GetBof()) return grBOF;
        fillRecordBuffer(buffer);
        return grOK;
    }
  } catch (...) {
    return grError;
  }
  return grError;
}

bool TBRNDataSet::GetCurrentRecord(TRecordBuffer buffer) {
  if (IsEmpty() || GetBookmarkFlag(ActiveBuffer()) != bfCurrent) return false;
  try {
    UpdateCursorPos();
    cursor_->GetCurrentRow(RowOf(buffer), false);
    return true;
  } catch (...) {
    return false;
  }
}

// ---- Fields

bool TBRNDataSet::GetFieldData(const TField& field, void* buffer) {
  TRecordBuffer record = GetActiveRecordBuffer();
  if (record == nullptr) return false;
  if (field.FieldNo > 0) {
    TBRNCursorColumn* column = cursor_->GetCursorColumns().GetColumn(field.FieldNo - 1);
    TBRNValue* value = rowForFields(record).Values.GetItem(column->GetTableColumn()->Index);
    return value->GetAsFieldBuffer(buffer, true);
  }
  const uint8_t* at = record + kRowSlotSize + field.Offset;
  if (at[0] == 0) return false;
  if (buffer != nullptr) std::memcpy(buffer, at + 1, size_t(field.GetDataSize()));
  return true;
}

void TBRNDataSet::SetFieldData(TField& field, const void* buffer) {
  const TDataSetState state = GetState();
  if (!((state >= dsEdit && state <= dsNewValue) || state == dsInternalCalc))
    DatabaseError("Table is not in edit or insert mode");
  TRecordBuffer record = GetActiveRecordBuffer();
  if (field.FieldNo > 0) {
    if (state == dsCalcFields) DatabaseError("Table is not in edit or insert mode");
    if (field.FieldKind != fkInternalCalc) {
      if (field.ReadOnly && state != dsSetKey && state != dsFilter)
        DatabaseError("Field '" + field.GetDisplayName() + "' cannot be modified");
      field.Validate(buffer);
      TBRNCursorColumn* column = cursor_->GetCursorColumns().GetColumn(field.FieldNo - 1);
      TBRNValue* value = rowForFields(record).Values.GetItem(column->GetTableColumn()->Index);
      try {
        value->SetAsFieldBuffer(buffer, true);
      } catch (...) {
        RaiseAsComponentError();
      }
    }
  } else {
    uint8_t* at = record + kRowSlotSize + field.Offset;
    at[0] = buffer != nullptr ? 1 : 0;
    if (buffer != nullptr) std::memcpy(at + 1, buffer, size_t(field.GetDataSize()));
  }
  if (state != dsCalcFields && state != dsFilter && state != dsNewValue)
    DataEvent(deFieldChange, &field);
}

void TBRNDataSet::ClearCalcFields(TRecordBuffer buffer) {
  std::memset(buffer + kRowSlotSize, 0, size_t(GetCalcFieldsSize()));
}

// ---- Navigation and counting

void TBRNDataSet::InternalFirst() {
  swallowingAbort([&] { cursor_->FirstRow(); });
  restingFirst_ = true;
  restingLast_ = false;
}

void TBRNDataSet::InternalLast() {
  swallowingAbort([&] { cursor_->LastRow(); });
  restingLast_ = true;
  restingFirst_ = false;
}

int32_t TBRNDataSet::GetRecordCount() {
  CheckActive();
  try {
    return cursor_->GetRowCount();
  } catch (...) {
    RaiseAsComponentError();
  }
}

int32_t TBRNDataSet::GetRecNo() {
  TRecordBuffer buffer = GetState() == dsCalcFields ? GetCalcBuffer() : ActiveBuffer();
  if (buffer == nullptr || IsEmpty()) return 0;
  return readInt32(buffer + recordInfoOffset_);
}

void TBRNDataSet::SetRecNo(int32_t value) {
  CheckBrowseMode();
  if (value == GetRecNo()) return;
  DoBeforeScroll();
  restingFirst_ = restingLast_ = false;
  swallowingAbort([&] { cursor_->SetToSequenceNumber(value); });
  Resync();
  DoAfterScroll();
}

void TBRNDataSet::SetBlockReadSize(int32_t value) {
  TDataSet::SetBlockReadSize(value);
  if (value < 1 || value == readAheadRows_) return;
  readAheadRows_ = value;
  if (int32_t* readAhead = readAheadOf(cursor_)) *readAhead = value;
}

// ---- Editing

void TBRNDataSet::InternalInitRecord(TRecordBuffer buffer) {
  try {
    cursor_->InitializeRow(RowOf(buffer));
  } catch (...) {
    RaiseAsComponentError();
  }
}

void TBRNDataSet::InitRecord(TRecordBuffer buffer) {
  TDataSet::InitRecord(buffer);
  writeInt32(buffer + recordInfoOffset_, 0);
  buffer[recordInfoOffset_ + 4] = bfInserted;
}

void TBRNDataSet::DoOnNewRecord() {
  // Insert left the cursor on the record it displaced (now the temporary
  // buffer's), so the copy is taken from where the cursor stands.
  if (CopyOnAppend && HasSourceRecord()) {
    try {
      cursor_->CopyCurrentRow(RowOf(ActiveBuffer()));
    } catch (...) {
      RaiseAsComponentError();
    }
    CopyRecordBuffer(ActiveBuffer(), oldValueBuffer_);
  } else {
    RowOf(oldValueBuffer_).Clear();
  }
  TDataSet::DoOnNewRecord();
}

void TBRNDataSet::InternalEdit() {
  try {
    cursor_->GetCurrentRow(RowOf(ActiveBuffer()), true);
  } catch (...) {
    RaiseAsComponentError();
  }
  CopyRecordBuffer(ActiveBuffer(), oldValueBuffer_);
}

void TBRNDataSet::InternalCancel() {
  if (GetState() != dsEdit) return;
  swallowingAbort([&] { cursor_->CancelRow(RowOf(ActiveBuffer())); });
}

void TBRNDataSet::InternalPost() {
  try {
    if (GetState() == dsEdit)
      cursor_->UpdateRow(RowOf(ActiveBuffer()));
    else
      cursor_->InsertRow(RowOf(ActiveBuffer()));
  } catch (...) {
    RaiseAsComponentError();
  }
}

void TBRNDataSet::DoBeforeDelete() {
  CheckBrowseMode();
  CopyRecordBuffer(ActiveBuffer(), oldValueBuffer_);
  TDataSet::DoBeforeDelete();
}

void TBRNDataSet::InternalDelete() {
  try {
    cursor_->DeleteRow(RowOf(ActiveBuffer()));
  } catch (...) {
    RaiseAsComponentError();
  }
}

void TBRNDataSet::InternalRefresh() {
  swallowingAbort([&] { cursor_->RefreshCursor(); });
}

int32_t TBRNDataSet::GetNextRecords() {
  TReadAheadRaise raise(cursor_, GetBufferCount());
  return TDataSet::GetNextRecords();
}

int32_t TBRNDataSet::GetPriorRecords() {
  TReadAheadRaise raise(cursor_, GetBufferCount());
  return TDataSet::GetPriorRecords();
}

// ---- BLOB streams

std::unique_ptr<TStream> TBRNDataSet::CreateBlobStream(TField& field, TBlobStreamMode mode) {
  return std::make_unique<TBRNBlobStream>(field, mode);
}

void TBRNDataSet::CloseBlob(TField& field) {
  TRecordBuffer record = GetActiveRecordBuffer();
  if (record == nullptr || field.FieldNo <= 0) return;
  TBRNCursorColumn* column = cursor_->GetCursorColumns().GetColumn(field.FieldNo - 1);
  auto* value = static_cast<TBRNRowValue*>(
      RowOf(record).Values.GetItem(column->GetTableColumn()->Index));
  value->UnloadBlob();
}

// ---- Update object and provider support

void TBRNDataSet::SetUpdateObject(TBRNDataSetUpdateObject* value) {
  if (value == updateObject_) return;
  if (TBRNDataSetUpdateObject* previous = updateObject_) {
    updateObject_ = nullptr;
    previous->RemoveFreeNotification(this);
    if (previous->GetDataSet() == this) previous->SetDataSet(nullptr);
  }
  updateObject_ = value;
  if (value != nullptr) {
    value->FreeNotification(this);
    if (value->GetDataSet() != this) value->SetDataSet(this);
  }
}

void TBRNDataSet::Notification(TComponent* component, TOperation operation) {
  TDataSet::Notification(component, operation);
  if (operation == TOperation::opRemove && component == updateObject_) updateObject_ = nullptr;
}

std::unique_ptr<EUpdateError> TBRNDataSet::PSGetUpdateException(std::exception_ptr error,
                                                                 const EUpdateError* previous) {
  if (!error) throw std::invalid_argument("PSGetUpdateException needs an exception");
  const int32_t previousCode = previous == nullptr ? 0 : previous->ErrorCode;
  try {
    std::rethrow_exception(error);
  } catch (const EBRNException& failure) {
    return std::make_unique<EUpdateError>(failure.what(), "", failure.ErrorCode, previousCode,
                                          error);
  } catch (const EBRNError& failure) {
    return std::make_unique<EUpdateError>(failure.what(), "", failure.ErrorCode, previousCode,
                                          error);
  } catch (...) {
    // Not an engine failure: the framework's form below.
  }
  return TDataSet::PSGetUpdateException(error, previous);
}

void TBRNDataSet::PSReset() {
  TDataSet::PSReset();
  if (cursor_ == nullptr) return;
  try {
    cursor_->RefreshCursor();
  } catch (...) {
    RaiseAsComponentError();
  }
}

bool TBRNDataSet::PSUpdateRecord(TUpdateKind updateKind, TDataSet& delta) {
  if (!OnUpdateRecord) return false;
  TUpdateAction action = uaFail;
  OnUpdateRecord(delta, updateKind, action);
  return action == uaApplied;
}

// ---- Bookmarks

void TBRNDataSet::GetBookmarkData(TRecordBuffer buffer, uint8_t* data) {
  std::memcpy(data, buffer + bookmarkOffset_, size_t(GetBookmarkSize()));
}

TBookmarkFlag TBRNDataSet::GetBookmarkFlag(TRecordBuffer buffer) {
  return TBookmarkFlag(buffer[recordInfoOffset_ + 4]);
}

void TBRNDataSet::SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) {
  buffer[recordInfoOffset_ + 4] = flag;
}

void TBRNDataSet::InternalGotoBookmark(const uint8_t* bookmark) {
  restingFirst_ = restingLast_ = false;
  readBookmark(bookmark, *bookmark1_);
  swallowingAbort([&] { cursor_->SetToBookmark(*bookmark1_); });
}

void TBRNDataSet::InternalSetToRecord(TRecordBuffer buffer) {
  InternalGotoBookmark(buffer + bookmarkOffset_);
}

bool TBRNDataSet::BookmarkValid(const TBookmark* bookmark) {
  if (cursor_ == nullptr || bookmark == nullptr || bookmark->empty()) return false;
  CursorPosChanged();
  readBookmark(bookmark->data(), *bookmark1_);
  try {
    return cursor_->SetToBookmark(*bookmark1_);
  } catch (const EBRNAbortException&) {
    return false;
  } catch (...) {
    RaiseAsComponentError();
  }
}

int32_t TBRNDataSet::CompareBookmarks(const TBookmark* first, const TBookmark* second) {
  const bool noFirst = first == nullptr || first->empty();
  const bool noSecond = second == nullptr || second->empty();
  if (noFirst && noSecond) return 0;
  if (noSecond) return -1;
  if (noFirst) return 1;
  readBookmark(first->data(), *bookmark1_);
  readBookmark(second->data(), *bookmark2_);
  int32_t result = bookmark1_->Compare(*bookmark2_, 0, false);
  if (result == 0 && cursor_->GetBookmarkHasRowID()) {
    if (bookmark1_->GetRowID() < bookmark2_->GetRowID()) return -1;
    if (bookmark1_->GetRowID() > bookmark2_->GetRowID()) return 1;
  }
  return result < 0 ? -1 : result > 0 ? 1 : 0;
}

// ---- Filters

TBRNCursorRow& TBRNDataSet::rowForFields(TRecordBuffer record) const {
  if (GetState() == dsFilter && cursor_->GetFilterRow() != nullptr) return *cursor_->GetFilterRow();
  return RowOf(record);
}

int32_t TBRNDataSet::createEngineFilter(const std::string& text, const TFilterOptions& options) {
  try {
    return cursor_->CreateFilter(text, options.CaseInsensitive, true, options.NoPartialCompare);
  } catch (const EBRNAbortException&) {
    return 0;
  } catch (...) {
    RaiseAsComponentError();
  }
}

void TBRNDataSet::activateFilter() {
  filterTime_ = 0;
  setFilterHandle(GetFilter().empty() ? 0 : createEngineFilter(GetFilter(), GetFilterOptions()));
  filterTime_ += cursor_->GetFilterTime();
  if (GetOnFilterRecord())
    cursor_->SetRowFilter([this](void*, bool& accept) { rowFilterCallback(accept); }, nullptr);
}

void TBRNDataSet::deactivateFilter() {
  if (cursor_ == nullptr) return;
  cursor_->SetRowFilter(nullptr, nullptr);
  if (filterHandle_ != 0) swallowingAbort([&] { cursor_->DeactivateFilter(filterHandle_); });
}

void TBRNDataSet::setFilterHandle(int32_t handle) {
  if (cursor_ == nullptr) {
    filterHandle_ = handle;
    return;
  }
  if (GetFiltered() || findFilter_) CursorPosChanged();
  if (filterHandle_ != 0) swallowingAbort([&] { cursor_->DropFilter(filterHandle_); });
  filterHandle_ = handle;
  if ((GetFiltered() || findFilter_) && handle != 0) {
    try {
      cursor_->ActivateFilter(handle);
    } catch (...) {
      RaiseAsComponentError();
    }
  }
}

void TBRNDataSet::rowFilterCallback(bool& accept) {
  const TDataSetState previous = SetTempState(dsFilter);
  accept = true;
  try {
    GetOnFilterRecord()(*this, accept);
  } catch (const std::exception& error) {
    // The row keeps whatever the handler had decided when it failed.
    InternalHandleException(error);
  }
  RestoreState(previous);
}

void TBRNDataSet::SetFiltered(bool value) {
  if (!GetActive()) {
    TDataSet::SetFiltered(value);
    return;
  }
  CheckBrowseMode();
  if (value != GetFiltered()) {
    TDataSet::SetFiltered(value);
    if (value)
      activateFilter();
    else
      deactivateFilter();
  }
  First();
}

void TBRNDataSet::SetFilterText(const std::string& value) {
  const bool live = GetActive() && GetFiltered();
  if (live) {
    CheckBrowseMode();
    if (value != GetFilter()) {
      setFilterHandle(value.empty() ? 0 : createEngineFilter(value, GetFilterOptions()));
      filterTime_ = cursor_->GetFilterTime();
    }
  }
  TDataSet::SetFilterText(value);
  if (live) First();
}

void TBRNDataSet::SetFilterOptions(const TFilterOptions& value) {
  const bool live = GetActive() && GetFiltered();
  if (live) {
    CheckBrowseMode();
    if (!(value == GetFilterOptions())) {
      setFilterHandle(GetFilter().empty() ? 0 : createEngineFilter(GetFilter(), value));
      filterTime_ = cursor_->GetFilterTime();
    }
  }
  TDataSet::SetFilterOptions(value);
  if (live) First();
}

void TBRNDataSet::SetOnFilterRecord(TFilterRecordEvent value) {
  if (!GetActive() || !GetFiltered()) {
    TDataSet::SetOnFilterRecord(std::move(value));
    return;
  }
  CheckBrowseMode();
  TDataSet::SetOnFilterRecord(std::move(value));
  if (GetOnFilterRecord())
    cursor_->SetRowFilter([this](void*, bool& accept) { rowFilterCallback(accept); }, nullptr);
  else
    cursor_->SetRowFilter(nullptr, nullptr);
  First();
}

bool TBRNDataSet::FindRecord(bool restart, bool goForward) {
  CheckBrowseMode();
  DoBeforeScroll();
  SetFound(false);
  CursorPosChanged();
  UpdateCursorPos();
  restingFirst_ = restingLast_ = false;
  const bool searchOnly = !GetFiltered();
  if (searchOnly) {
    findFilter_ = true;
    activateFilter();
  }
  bool found = false;
  try {
    if (goForward) {
      if (restart)
        cursor_->FirstRow();
      else
        cursor_->NextRow();
      found = !cursor_->GetEof();
    } else {
      if (restart)
        cursor_->LastRow();
      else
        cursor_->PriorRow();
      found = !cursor_->GetBof();
    }
  } catch (const EBRNAbortException&) {
    found = false;
  } catch (...) {
    if (searchOnly) {
      deactivateFilter();
      findFilter_ = false;
    }
    RaiseAsComponentError();
  }
  if (searchOnly) {
    deactivateFilter();
    findFilter_ = false;
  }
  if (found) {
    Resync();
    SetFound(true);
    DoAfterScroll();
  }
  return found;
}

// ---- Locate and lookup

bool TBRNDataSet::locateRecord(const std::string& keyFields, const std::vector<TVariant>& keyValues,
                               const TLocateOptions& options) {
  CheckBrowseMode();
  CursorPosChanged();
  restingFirst_ = restingLast_ = false;
  if (TrimBlanks(keyFields).empty()) DatabaseError("No fields specified for locate");
  try {
    std::unique_ptr<TBRNMappedCursorColumns> columns = cursor_->CreateMappedColumns(keyFields);
    TBRNContainedCursorColumnValues values(*columns);
    const int32_t count = std::min(int32_t(keyValues.size()), values.GetCount());
    for (int32_t i = 0; i < values.GetCount(); ++i) values.GetItem(i)->SetNull(true);
    for (int32_t i = 0; i < count; ++i) values.GetItem(i)->SetAsVariant(keyValues[size_t(i)]);
    int32_t partialLength = 0;
    if (options.PartialKey && count > 0) {
      const TBRNValue& last = *values.GetItem(count - 1);
      if (last.GetDataType() == dtChar ||
          (last.GetDataType() == dtLob && last.GetSubType() == stClob))
        partialLength = int32_t(last.GetAsString().size());
    }
    return cursor_->LocateRow(*columns, values, partialLength, options.CaseInsensitive);
  } catch (const EBRNAbortException&) {
    return false;
  } catch (...) {
    RaiseAsComponentError();
  }
}

bool TBRNDataSet::Locate(const std::string& keyFields, const std::vector<TVariant>& keyValues,
                         const TLocateOptions& options) {
  DoBeforeScroll();
  if (!locateRecord(keyFields, keyValues, options)) return false;
  Resync();
  DoAfterScroll();
  return true;
}

TVariant TBRNDataSet::Lookup(const std::string& keyFields, const std::vector<TVariant>& keyValues,
                             const std::string& resultField) {
  if (!locateRecord(keyFields, keyValues, TLocateOptions{})) return TVariant::Null();
  // The record is read into the temporary buffer; the visible record stays
  // and the next operation puts the cursor back on it.
  const TDataSetState previous = SetTempState(dsCalcFields);
  TVariant result = TVariant::Null();
  TRecordBuffer saved = GetCalcBuffer();
  try {
    cursor_->GetCurrentRow(RowOf(TempBuffer()), false);
    SetCalcBuffer(TempBuffer());
    CalculateFields(TempBuffer());
    result = GetFieldValue(resultField);
  } catch (...) {
    SetCalcBuffer(saved);
    RestoreState(previous);
    RaiseAsComponentError();
  }
  SetCalcBuffer(saved);
  RestoreState(dsBrowse);
  return result;
}

}  // namespace brn

namespace brn {

TBRNDBDataSet::TBRNDBDataSet(TComponent* owner) : TBRNDataSet(owner) {
  // An auto-session of the same owner names the dataset's session.
  if (TBRNSession* session = FindOwnerAutoSession(owner)) sessionName_ = session->GetSessionName();
}

TBRNDBDataSet::~TBRNDBDataSet() {
  try {
    CancelAndClose();
  } catch (...) {
    // A destructor cannot report.
  }
  for (int32_t bit = 0; bit < 8; ++bit) {
    try {
      SetDatabaseFlag(bit, false);
    } catch (...) {
    }
  }
}

void TBRNDBDataSet::SetDatabaseName(const std::string& value) {
  if (IsLoading()) {
    databaseName_ = value;
    return;
  }
  if (TextEqualsIgnoreCase(value, databaseName_)) return;
  CheckInactive();
  NameChanging();
  if (database_ != nullptr) DatabaseError("Cannot perform this operation on an open database");
  databaseName_ = value;
  DataEvent(dePropertyChange);
}

void TBRNDBDataSet::SetSessionName(const std::string& value) {
  if (value == sessionName_) return;
  CheckInactive();
  NameChanging();
  sessionName_ = value;
  DataEvent(dePropertyChange);
}

bool TBRNDBDataSet::SetDatabaseFlag(int32_t bit, bool value) {
  if (bit < 0 || bit > 7) return false;
  const uint8_t mask = uint8_t(1u << bit);
  const bool previous = (usage_ & mask) != 0;
  if (value) {
    if (usage_ == 0) {
      database_ = sessionNamed(sessionName_).OpenDatabase(databaseName_);
      database_->RegisterClient(this);
    }
    usage_ = uint8_t(usage_ | mask);
  } else {
    usage_ = uint8_t(usage_ & ~mask);
    if (usage_ == 0 && database_ != nullptr) {
      TBRNDatabase* database = database_;
      database_ = nullptr;
      database->UnRegisterClient(this);
      if (TBRNSession* session = database->GetSession()) session->CloseDatabase(database);
    }
  }
  return previous;
}

void TBRNDBDataSet::OpenWithCursor(TBRNCursor* cursor) {
  if (cursor == nullptr) {
    SetDatabaseFlag(0, false);
    return;
  }
  handedCursor_ = cursor;
  try {
    Open();
  } catch (...) {
    handedCursor_ = nullptr;
    throw;
  }
  handedCursor_ = nullptr;
}

void TBRNDBDataSet::OpenCursor() {
  SetDatabaseFlag(0, true);
  TBRNDataSet::OpenCursor();
}

void TBRNDBDataSet::CloseCursor() {
  TBRNDataSet::CloseCursor();
  SetDatabaseFlag(0, false);
}

void TBRNDBDataSet::PSStartTransaction() {
  SetDatabaseFlag(5, true);
  try {
    database_->StartTransaction({}, -1);
  } catch (...) {
    SetDatabaseFlag(5, false);
    throw;
  }
}

void TBRNDBDataSet::PSEndTransaction(bool commit) {
  try {
    if (database_ != nullptr) {
      if (commit)
        database_->Commit(true);
      else
        database_->Rollback();
    }
  } catch (...) {
    SetDatabaseFlag(5, false);
    throw;
  }
  SetDatabaseFlag(5, false);
}

bool TBRNDBDataSet::PSInTransaction() const {
  TBRNDatabase* database = sessionNamed(sessionName_).FindDatabase(databaseName_);
  return database != nullptr && database->GetInTransaction();
}

int32_t TBRNDBDataSet::PSExecuteStatement(const std::string& sql, TParams* params,
                                          std::unique_ptr<TBRNQuery>* resultSet) {
  const bool previous = SetDatabaseFlag(5, true);
  int32_t rows = 0;
  try {
    if (params != nullptr && params->Count() > 0) SetUnknownParamsToInput(*params);
    TBRNQuery* query = nullptr;
    if (resultSet != nullptr) {
      *resultSet = std::make_unique<TBRNQuery>(nullptr);
      query = resultSet->get();
    }
    rows = database_->Execute(sql, params, query);
  } catch (...) {
    SetDatabaseFlag(5, previous);
    throw;
  }
  SetDatabaseFlag(5, previous);
  return rows;
}

void TBRNDBDataSet::CancelAndClose() {
  const TDataSetState state = GetState();
  if (state == dsEdit || state == dsInsert || state == dsSetKey) Cancel();
  Close();
}

}  // namespace brn

// Publishing of a table and its published-update records: the record of
// each row change, the records of the log written to an update file, and
// records read from an update file applied by primary key. Bytes of an
// update record that comes from a file are untrusted: the reader below
// checks every count and length against the bytes that remain.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>

#include "foundation/locks/compression.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "foundation/types/date_time.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/tables.h"
#include "metadata/catalog/triggers.h"
#include "storage/indexes/index_navigator.h"
#include "storage/rows/published_updates_file.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/tables/table_environment.h"
#include "storage/tables/table_manager.h"

namespace brn {

namespace {

// Operations as a record stores them, and as the row changes pass them.
constexpr int32_t kRecordInsert = 1;
constexpr int32_t kRecordUpdate = 2;
constexpr int32_t kRecordDelete = 3;
constexpr int32_t kPublishInsert = 0;
constexpr int32_t kPublishUpdate = 1;

constexpr int32_t kLoadUpdatesErrorCode = 1305;
constexpr int32_t kSaveUpdatesErrorCode = 1304;
// The smallest block entry: an empty name, type, subtype and a NULL flag.
constexpr int64_t kMinBlockEntrySize = 4 + 4 + 4 + 1;

// Bytes of a value's stream form of data type code type at data, of which
// remaining bytes are readable; -1 when the form does not fit or the type
// is unknown.
int64_t valueFormLength(const uint8_t* data, int64_t remaining, int32_t type) {
  if (remaining < 1) return -1;
  if (data[0] != 0) return 1;
  int64_t width = 0;
  switch (type) {
    case dtChar:
    case dtBytes:
    case dtLob: {
      if (remaining < 5) return -1;
      int32_t length = 0;
      std::memcpy(&length, data + 1, sizeof length);
      if (length < 0) return -1;
      width = 5 + int64_t(length);
      break;
    }
    case dtBoolean:
      width = 2;
      break;
    case dtSmallInt:
      width = 3;
      break;
    case dtInteger:
    case dtDate:
    case dtTime:
    case dtYearMonthInterval:
      width = 5;
      break;
    case dtBigInt:
    case dtFloat:
    case dtDecimal:
    case dtTimestamp:
    case dtDayTimeInterval:
      width = 9;
      break;
    default:
      return -1;
  }
  return width <= remaining ? width : -1;
}

TBRNColumn* findColumn(TBRNColumns& columns, const std::string& name) {
  return static_cast<TBRNColumn*>(columns.FindByName(name, false));
}

// The environment's save and load errors; an override that returned broke
// its contract.
[[noreturn]] void raiseSave(TBRNTableEnvironment& environment, const std::string& detail) {
  environment.RaiseSaveUpdatesError(detail);
  throw std::logic_error("RaiseSaveUpdatesError returned");
}

[[noreturn]] void raiseLoad(TBRNTableEnvironment& environment, const std::string& detail) {
  environment.RaiseLoadUpdatesError(detail);
  throw std::logic_error("RaiseLoadUpdatesError returned");
}

}  // namespace

// A checked reader of one update record: every read that would run past
// the record's end raises the table's read error.
struct TBRNTableManager::TRecordReader {
  TRecordReader(TBRNTableManager& manager, TBRNMemoryStream& stream)
      : Manager(manager), Stream(stream) {}

  int64_t Remaining() const { return Stream.GetRemaining(); }
  void Need(int64_t count) {
    if (count < 0 || count > Remaining()) Manager.RaiseUpdateFileReadError();
  }
  int32_t Int32() {
    Need(4);
    return Stream.ReadInteger();
  }
  int64_t Int64() {
    Need(8);
    return Stream.ReadInt64();
  }
  std::string String() {
    int32_t length = Int32();
    Need(length);
    std::string text(size_t(length), '\0');
    if (length > 0) Stream.Read(text.data(), length);
    return text;
  }
  // A count of entries of at least entrySize bytes each.
  int32_t Count(int64_t entrySize) {
    int32_t count = Int32();
    if (count < 0 || int64_t(count) * entrySize > Remaining()) Manager.RaiseUpdateFileReadError();
    return count;
  }
  // The length of the value's stream form of type at the position.
  int64_t ValueForm(int32_t type) {
    int64_t length =
        valueFormLength(Stream.GetMemory() + Stream.GetPosition(), Remaining(), type);
    if (length < 0) Manager.RaiseUpdateFileReadError();
    return length;
  }
  void Skip(int64_t count) {
    Need(count);
    Stream.Seek(1, count);
  }

  TBRNTableManager& Manager;
  TBRNMemoryStream& Stream;
};

// ---------------------------------------------------------------------------
// The environment's defaults

int64_t TBRNTableEnvironment::NextTimestamp() {
  static std::atomic<int64_t> last{0};
  int64_t now = CurrentTimestamp(false);
  int64_t seen = last.load();
  int64_t next = 0;
  do {
    next = now > seen ? now : seen + 1;
  } while (!last.compare_exchange_weak(seen, next));
  return next;
}

void TBRNTableEnvironment::RaiseSaveUpdatesError(const std::string& detail) {
  throw EBRNException(kSaveUpdatesErrorCode, FormatText("Error saving updates for the %s %s (%s)",
                                                        {"database", GetDatabaseName(), detail}));
}

void TBRNTableEnvironment::RaiseLoadUpdatesError(const std::string& detail) {
  throw EBRNException(kLoadUpdatesErrorCode,
                      FormatText("Error loading the updates for the %s %s (%s)",
                                 {"database", GetDatabaseName(), detail}));
}

// ---------------------------------------------------------------------------
// Errors

void TBRNTableManager::RaiseNotPublished() {
  raiseSave(GetEnvironment(), 
      FormatText("The %s %s is not published", {GetTableKindName(), GetTableName()}));
}

void TBRNTableManager::RaiseUpdateFileWriteError() {
  raiseSave(GetEnvironment(), FormatText("Error writing the %s %s to the update file",
                                                    {GetTableKindName(), GetTableName()}));
}

void TBRNTableManager::RaiseSaveUpdatesUnknownError(const std::string& Message) {
  raiseSave(GetEnvironment(), FormatText(
      "Unknown error occurred with the %s %s (%s)", {GetTableKindName(), GetTableName(), Message}));
}

void TBRNTableManager::RaiseNoPrimaryKey() {
  raiseLoad(GetEnvironment(), FormatText(
      "No primary key constraint present in the %s %s", {GetTableKindName(), GetTableName()}));
}

void TBRNTableManager::RaiseUpdatesBufferExceeded() {
  raiseLoad(GetEnvironment(), 
      FormatText("Updates buffer size of %s exceeded in the %s %s",
                 {"2147483647", GetTableKindName(), GetTableName()}));
}

void TBRNTableManager::RaiseUpdateFileReadError() {
  raiseLoad(GetEnvironment(), FormatText("Error reading the %s %s from the update file",
                                                    {GetTableKindName(), GetTableName()}));
}

void TBRNTableManager::RaiseUpdateMetadataMismatch(TBRNColumn* Column) {
  raiseLoad(GetEnvironment(), FormatText(
      "Invalid or mismatched metadata for the %s %s in the %s %s in the update file",
      {Column->GetObjectTypeName(), Column->Name, GetTableKindName(), GetTableName()}));
}

void TBRNTableManager::RaiseUpdateRowNotFound(const std::string& KeyText) {
  raiseLoad(GetEnvironment(), 
      FormatText("No row found in the %s %s with the primary key values of %s",
                 {GetTableKindName(), GetTableName(), KeyText}));
}

void TBRNTableManager::RaiseLoadUpdatesUnknownError(const std::string& Message) {
  raiseLoad(GetEnvironment(), FormatText(
      "Unknown error occurred with the %s %s (%s)", {GetTableKindName(), GetTableName(), Message}));
}

// ---------------------------------------------------------------------------
// PUBLISH and UNPUBLISH of one table

void TBRNTableManager::PublishTable(int32_t ColumnMode) {
  if (!files.empty()) throw std::logic_error("PublishTable on an open table manager");
  TBRNBaseTable* table = GetBaseTable();
  table->SetPublished(true);
  createMembers();
  try {
    InitFileHeaders();
    OpenOrCreateFiles();
    table->SetPublishColumnMode(ColumnMode);
    table->UpdateStructureChecksum();
    MarkFilesChanged();
    FlushFiles(true);
    CloseFiles();
  } catch (...) {
    try {
      CloseFiles();
    } catch (...) {
      // The publishing error is the one reported.
    }
    freeMembers();
    throw;
  }
  freeMembers();
}

void TBRNTableManager::UnpublishTable() {
  if (!files.empty()) throw std::logic_error("UnpublishTable on an open table manager");
  TBRNBaseTable* table = GetBaseTable();
  createMembers();
  try {
    InitFileHeaders();
    OpenFiles();
    // The log leaves the file set: the other files are rewritten below
    // with the unpublished structure.
    publishedUpdatesFile->Close();
    fileSet.Remove(publishedUpdatesFile.get());
    files.erase(std::find(files.begin(), files.end(), publishedUpdatesFile.get()));
    publishedUpdatesFile->MakeOldCopy(true);
    table->SetPublished(false);
    table->UpdateStructureChecksum();
    MarkFilesChanged();
    FlushFiles(true);
    CloseFiles();
  } catch (...) {
    try {
      CloseFiles();
    } catch (...) {
      // The error of unpublishing is the one reported.
    }
    freeMembers();
    throw;
  }
  freeMembers();
}

void TBRNTableManager::EmptyPublishedUpdates() {
  if (!publishedUpdatesFile) RaiseNotPublished();
  lock(kBRNLockTypeTransaction);
  try {
    RefreshFilesIfShared();
    publishedUpdatesFile->Empty();
    FlushFiles(true);
  } catch (...) {
    unlockQuietly(kBRNLockTypeTransaction);
    throw;
  }
  unlock(kBRNLockTypeTransaction);
}

// ---------------------------------------------------------------------------
// Writing records

void TBRNTableManager::writeRecordBlock(TBRNMemoryStream& Record, const TBRNRowValues& Values,
                                        bool KeyOnly, bool ModifiedOnly) {
  const int64_t countAt = Record.GetPosition();
  Record.WriteInteger(0);
  int32_t count = 0;
  auto writeColumn = [&](int32_t position) {
    const TBRNRowValue* value = Values.GetRowValue(position);
    const TBRNColumn& column = value->GetColumn();
    Record.WriteString(column.Name);
    Record.WriteInteger(int32_t(column.DataType));
    Record.WriteInteger(int32_t(column.SubType));
    value->SaveToStream(Record);
    ++count;
  };
  if (KeyOnly) {
    TBRNIndex* index = GetIndexes()->GetItem(primaryKeyIndex_);
    for (int32_t k = 0; k < index->Columns->Count(); ++k) {
      TBRNColumn* column = index->Columns->GetItem(k)->GetColumn();
      writeColumn(column->Index);
    }
  } else {
    for (int32_t i = 0; i < Values.GetCount(); ++i) {
      const TBRNRowValue* value = Values.GetRowValue(i);
      if (value->GetColumn().Internal) continue;
      if (ModifiedOnly && !value->Modified) continue;
      writeColumn(i);
    }
  }
  const int64_t end = Record.GetPosition();
  Record.SetPosition(countAt);
  Record.WriteInteger(count);
  Record.SetPosition(end);
}

void TBRNTableManager::WritePublishedUpdate(int32_t Operation, TBRNRowValues& Values) {
  TBRNBaseTable* table = GetBaseTable();
  if (!publishedUpdatesFile) throw std::logic_error("the table is not published");
  // The key block is built from the primary-key index.
  if (primaryKeyIndex_ < 0 || primaryKeyIndex_ >= GetIndexes()->Count() ||
      GetIndexes()->GetItem(primaryKeyIndex_)->IndexType != kIndexPrimaryKey) {
    primaryKeyIndex_ = -1;
    for (int32_t i = 0; i < GetIndexes()->Count() && primaryKeyIndex_ < 0; ++i) {
      if (GetIndexes()->GetItem(i)->IndexType == kIndexPrimaryKey) primaryKeyIndex_ = i;
    }
  }
  TBRNMemoryStream& record = *updateBuffer;
  record.SetSize(0);
  record.SetPosition(0);
  if (GetLoadingUpdates()) {
    record.WriteInteger(int32_t(loadedSites_.size()) + 1);
    for (const std::string& site : loadedSites_) record.WriteString(site);
  } else {
    record.WriteInteger(1);
  }
  record.WriteString(table->PublishID);
  record.WriteInteger(Operation + 1);
  const int64_t timestamp = GetEnvironment().NextTimestamp();
  record.WriteInt64(timestamp);
  publishedUpdatesFile->SetLastUpdateTimestamp(timestamp);
  if (Operation != kPublishInsert) {
    if (primaryKeyIndex_ < 0) {
      throw std::logic_error("a published table without a primary-key index");
    }
    // The row navigator stands on the stored row: the key before the change.
    writeRecordBlock(record, rowNavigator->GetCurrentValues(), true, false);
  }
  if (Operation == kPublishInsert || Operation == kPublishUpdate) {
    writeRecordBlock(record, Values, false, table->PublishColumnMode == 0);
  }
  AppendPublishedUpdate(record, table->PublishCompression);
  record.SetSize(0);
}

bool TBRNTableManager::WriteUpdateRecords(const TBRNUpdateWriter& Write, int64_t& Counter,
                                          int64_t Total, int64_t& LastTimestamp,
                                          int32_t Compression) {
  if (!publishedUpdatesFile) RaiseNotPublished();
  try {
    if (!loadedRecord_) loadedRecord_ = std::make_unique<TBRNMemoryStream>();
    TBRNMemoryStream output;
    TBRNMemoryStream packed;
    const bool stored = GetBaseTable()->PublishCompression > 0;
    const int64_t blockSize = publishedUpdatesFile->GetBlockSize();
    int32_t block = 1;
    for (;;) {
      const int32_t first = block;
      loadedRecord_->SetSize(0);
      ReadPublishedUpdate(block, *loadedRecord_, stored);
      if (block == first) break;
      if (loadedRecord_->GetSize() == 0) continue;
      LastTimestamp = ReadRecordTimestamp();
      output.SetSize(0);
      output.SetPosition(0);
      if (Compression > 0) {
        compression().SetCompressionLevel(Compression);
        packed.SetSize(0);
        packed.SetPosition(0);
        loadedRecord_->SetPosition(0);
        compression().CompressStream(*loadedRecord_, packed);
        output.WriteInteger(int32_t(packed.GetSize()));
        output.Write(packed.GetMemory(), int32_t(packed.GetSize()));
      } else {
        output.WriteInteger(int32_t(loadedRecord_->GetSize()));
        output.Write(loadedRecord_->GetMemory(), int32_t(loadedRecord_->GetSize()));
      }
      output.SetPosition(0);
      if (!Write(output)) RaiseUpdateFileWriteError();
      Counter += blockSize * int64_t(block - first);
      int32_t percent = Total > 0 ? int32_t(std::min<int64_t>(100, Counter * 100 / Total)) : 100;
      if (!GetEnvironment().UpdateProgress(percent)) return false;
    }
    return true;
  } catch (const EBRNException& error) {
    if (error.ErrorCode == kSaveUpdatesErrorCode) throw;
    RaiseSaveUpdatesUnknownError(error.ErrorMessage);
  } catch (const EBRNAbortException&) {
    throw;
  } catch (const std::exception& error) {
    RaiseSaveUpdatesUnknownError(error.what());
  }
}

// ---------------------------------------------------------------------------
// Reading records

int64_t TBRNTableManager::ReadUpdateRecord(TBRNMemoryStream& Source, int64_t& Counter,
                                           int32_t Compression, int32_t MaxInflated) {
  try {
    if (!loadedRecord_) loadedRecord_ = std::make_unique<TBRNMemoryStream>();
    TRecordReader reader(*this, Source);
    const int32_t length = reader.Int32();
    reader.Need(length);
    TBRNMemoryStream& record = *loadedRecord_;
    record.SetSize(0);
    record.SetPosition(0);
    if (length > 0) {
      if (Compression > 0) {
        if (!inflatedRecord_) inflatedRecord_ = std::make_unique<TBRNMemoryStream>();
        TBRNMemoryStream& packed = *inflatedRecord_;
        packed.SetSize(0);
        packed.SetPosition(0);
        packed.Write(Source.GetMemory() + Source.GetPosition(), length);
        packed.SetPosition(0);
        try {
          compression().DecompressStream(packed, record, MaxInflated);
        } catch (const EBRNException&) {
          // The output reached the cap: the record is larger than any
          // update buffer; anything else is damage.
          if (record.GetSize() >= MaxInflated) RaiseUpdatesBufferExceeded();
          RaiseUpdateFileReadError();
        }
        packed.SetSize(0);
      } else {
        record.Write(Source.GetMemory() + Source.GetPosition(), length);
      }
      Source.Seek(1, length);
    }
    record.SetPosition(0);
    Counter += int64_t(length) + 4;
    return int64_t(length) + 4;
  } catch (const EBRNException& error) {
    if (error.ErrorCode == kLoadUpdatesErrorCode) throw;
    RaiseLoadUpdatesUnknownError(error.ErrorMessage);
  } catch (const EBRNAbortException&) {
    throw;
  } catch (const std::exception& error) {
    RaiseLoadUpdatesUnknownError(error.what());
  }
}

bool TBRNTableManager::readRecordSites(TRecordReader& Reader) {
  const int32_t count = Reader.Count(4);
  loadedSites_.clear();
  bool own = false;
  const std::string& publishID = GetBaseTable()->PublishID;
  for (int32_t i = 0; i < count; ++i) {
    loadedSites_.push_back(Reader.String());
    if (!publishID.empty() && loadedSites_.back() == publishID) own = true;
  }
  return own;
}

int64_t TBRNTableManager::ReadRecordTimestamp() {
  TBRNMemoryStream& record = *loadedRecord_;
  const int64_t position = record.GetPosition();
  record.SetPosition(0);
  TRecordReader reader(*this, record);
  const int32_t count = reader.Count(4);
  for (int32_t i = 0; i < count; ++i) reader.Skip(reader.Int32());
  const int32_t operation = reader.Int32();
  if (operation < kRecordInsert || operation > kRecordDelete) RaiseUpdateFileReadError();
  const int64_t timestamp = reader.Int64();
  record.SetPosition(position);
  return timestamp;
}

void TBRNTableManager::readRecordBlock(TRecordReader& Reader, TBRNRowValues& Target) {
  const int32_t count = Reader.Count(kMinBlockEntrySize);
  TBRNColumns& columns = *GetColumns();
  for (int32_t i = 0; i < count; ++i) {
    const std::string name = Reader.String();
    const int32_t type = Reader.Int32();
    Reader.Int32();  // the subtype: the target's own decides
    const int64_t form = Reader.ValueForm(type);
    TBRNColumn* column = findColumn(columns, name);
    if (column == nullptr || column->Computed) {
      Reader.Skip(form);
      continue;
    }
    if (int32_t(column->DataType) != type) RaiseUpdateMetadataMismatch(column);
    const int64_t end = Reader.Stream.GetPosition() + form;
    TBRNRowValue* value = Target.GetRowValue(column->Index);
    value->LoadFromStream(Reader.Stream);
    value->SetModified(true);
    Reader.Stream.SetPosition(end);
  }
}

// ---------------------------------------------------------------------------
// Applying records

void TBRNTableManager::CheckPrimaryKey() {
  primaryKeyIndex_ = -1;
  TBRNIndexes* indexes = GetIndexes();
  for (int32_t i = 0; i < indexes->Count(); ++i) {
    TBRNIndex* index = indexes->GetItem(i);
    if (index->IndexType != kIndexPrimaryKey) continue;
    // The internal key on the row identifier names rows only within this
    // table's files: it cannot find the same row in another database.
    if (index->Internal && TextEqualsIgnoreCase(index->Name, kInternalPrimaryKeyName)) continue;
    primaryKeyIndex_ = i;
    return;
  }
  RaiseNoPrimaryKey();
}

void TBRNTableManager::makeWorkRows() {
  // Kept while the same files are open over the same columns: a reopened
  // or altered table gets new ones.
  if (firstWorkRow_ && workRowsFile_ == rowsetFile.get() &&
      firstWorkRow_->GetColumns() == GetColumns() &&
      firstWorkRow_->GetCount() == GetColumns()->Count()) {
    return;
  }
  secondWorkRow_.reset();
  firstWorkRow_.reset();
  workRowsFile_ = rowsetFile.get();
  firstWorkBuffer_ = NewRowBuffer();
  secondWorkBuffer_ = NewRowBuffer();
  firstWorkRow_ = std::make_unique<TBRNRowsetRowValues>(GetColumns(), this);
  secondWorkRow_ = std::make_unique<TBRNRowsetRowValues>(GetColumns(), this);
  firstWorkRow_->SetRow(firstWorkBuffer_.get());
  secondWorkRow_->SetRow(secondWorkBuffer_.get());
}

bool TBRNTableManager::findTargetRow(int32_t& RowNumber, int32_t& RowVersion,
                                     int32_t& UpdateCounter) {
  if (!FindRowByKey(*secondWorkRow_, *firstWorkRow_, primaryKeyIndex_, false)) return false;
  RowNumber = GetIndexNavigator(primaryKeyIndex_)->GetRowNumber();
  if (!ReadRowByNumber(RowNumber, *secondWorkRow_)) return false;
  TBRNRowsetRow* stored = GetRow(RowNumber, false);
  RowVersion = stored->Version;
  UpdateCounter = stored->UpdateCounter;
  ReleaseRow(stored);
  return true;
}

std::string TBRNTableManager::loadedKeyText() {
  std::string text;
  TBRNIndex* index = GetIndexes()->GetItem(primaryKeyIndex_);
  for (int32_t k = 0; k < index->Columns->Count(); ++k) {
    const TBRNValue* value = firstWorkRow_->GetItem(index->Columns->GetItem(k)->GetColumn()->Index);
    if (k > 0) text += ",";
    // As keys are named in messages: joined with ",", NULL empty.
    if (!value->GetNull()) text += value->GetAsString();
  }
  return text;
}

bool TBRNTableManager::applyRecordStep(TRecordReader& Reader, int32_t Operation, int64_t BlockEnd,
                                       bool IgnoreMissing) {
  TBRNRowValues& first = *firstWorkRow_;
  TBRNRowValues& second = *secondWorkRow_;
  bool abort = false;
  int32_t rowNumber = 0;
  int32_t rowVersion = 0;
  int32_t counter = 0;
  Reader.Stream.SetPosition(BlockEnd);
  switch (Operation) {
    case kRecordInsert: {
      second.SetAllNull();
      FireBeforeTriggers(&first, &second, kTriggerLoadUpdate, kTriggerOperationInsert, abort);
      if (abort) return false;
      for (int32_t i = 0; i < first.GetCount(); ++i) {
        if (first.GetRowValue(i)->Modified) second.GetItem(i)->Assign(*first.GetItem(i));
      }
      bool written = InsertRowWithTriggers(second, rowNumber, rowVersion, counter);
      FireAfterTriggers(&first, &second, kTriggerLoadUpdate, kTriggerOperationInsert, abort);
      return written;
    }
    case kRecordUpdate: {
      second.SetAllNull();
      FireBeforeTriggers(&first, &second, kTriggerLoadUpdate, kTriggerOperationUpdate, abort);
      if (abort) return false;
      if (!findTargetRow(rowNumber, rowVersion, counter)) {
        if (!IgnoreMissing) RaiseUpdateRowNotFound(loadedKeyText());
        return false;
      }
      readRecordBlock(Reader, second);
      bool written = UpdateRowWithTriggers(this, second, rowNumber, rowVersion, counter);
      FireAfterTriggers(&first, &second, kTriggerLoadUpdate, kTriggerOperationUpdate, abort);
      return written;
    }
    default: {
      second.SetAllNull();
      FireBeforeTriggers(&first, &second, kTriggerLoadUpdate, kTriggerOperationDelete, abort);
      if (abort) return false;
      if (!findTargetRow(rowNumber, rowVersion, counter)) return false;
      bool written = DeleteRowWithTriggers(this, second, rowNumber, rowVersion, counter);
      FireAfterTriggers(&first, &second, kTriggerLoadUpdate, kTriggerOperationDelete, abort);
      return written;
    }
  }
}

bool TBRNTableManager::ApplyUpdateRecord(bool IgnoreMissing) {
  if (primaryKeyIndex_ < 0) CheckPrimaryKey();
  if (!loadedRecord_) loadedRecord_ = std::make_unique<TBRNMemoryStream>();
  makeWorkRows();
  TBRNBaseTable* table = GetBaseTable();
  // The loading marker: triggers see LOADINGUPDATES, and a record logged
  // meanwhile carries the loaded record's sites.
  struct TLoadingMarker {
    TBRNBaseTable* Table;
    int64_t Saved;
    ~TLoadingMarker() { Table->PendingUpdatePosition = Saved; }
  } marker{table, table->PendingUpdatePosition};
  if (table->PendingUpdatePosition == 0) table->PendingUpdatePosition = 1;

  TBRNMemoryStream& record = *loadedRecord_;
  record.SetPosition(0);
  TRecordReader reader(*this, record);
  if (readRecordSites(reader)) return false;
  TBRNRowValues& first = *firstWorkRow_;
  first.SetAllNull();
  const int32_t operation = reader.Int32();
  if (operation < kRecordInsert || operation > kRecordDelete) RaiseUpdateFileReadError();
  reader.Int64();
  readRecordBlock(reader, first);
  const int64_t blockEnd = record.GetPosition();
  // An ERROR LOAD trigger that asks for a retry runs the step again; the
  // retries are bounded as trigger nesting is, so a trigger that always
  // retries cannot hold the load for ever.
  for (int32_t attempt = 0;; ++attempt) {
    try {
      return applyRecordStep(reader, operation, blockEnd, IgnoreMissing);
    } catch (const EBRNException& error) {
      if (attempt >= GetMaxRoutineNesting()) throw;
      bool retry = false;
      bool abort = false;
      const int32_t triggerOperation = operation - 1;
      if (!FireErrorTriggers(error, firstWorkRow_.get(), secondWorkRow_.get(), kTriggerLoadUpdate,
                             triggerOperation, retry, abort)) {
        throw;
      }
      if (!retry) return false;
    }
  }
}

bool TBRNTableManager::ApplyUpdateRecordSafe(bool IgnoreMissing) {
  try {
    return ApplyUpdateRecord(IgnoreMissing);
  } catch (const EBRNException& error) {
    if (error.ErrorCode == kLoadUpdatesErrorCode) throw;
    RaiseLoadUpdatesUnknownError(error.ErrorMessage);
  } catch (const EBRNAbortException&) {
    throw;
  } catch (const std::exception& error) {
    RaiseLoadUpdatesUnknownError(error.what());
  }
}

void TBRNTableManager::ApplyUpdateRecords(TBRNMemoryStream& Stream, bool IgnoreMissing,
                                          int64_t ByteCount) {
  int64_t consumed = 0;
  while (consumed < ByteCount) {
    // A record must lie wholly inside the bytes counted for the records.
    if (ByteCount - consumed < 4) RaiseUpdateFileReadError();
    int32_t length = 0;
    {
      TRecordReader reader(*this, Stream);
      const int64_t at = Stream.GetPosition();
      length = reader.Int32();
      Stream.SetPosition(at);
    }
    if (length < 0 || int64_t(length) > ByteCount - consumed - 4) RaiseUpdateFileReadError();
    int64_t counter = 0;
    consumed += ReadUpdateRecord(Stream, counter, 0);
    if (length > 0) ApplyUpdateRecordSafe(IgnoreMissing);
  }
}

// ---------------------------------------------------------------------------
// Records as rows

void TBRNTableManager::FormatColumnValues(TBRNMemoryStream& Record, std::string& Text) {
  makeWorkRows();
  TBRNRowValues& row = *firstWorkRow_;
  row.SetAllNull();
  TRecordReader reader(*this, Record);
  const int32_t count = reader.Count(kMinBlockEntrySize);
  TBRNColumns& columns = *GetColumns();
  for (int32_t i = 0; i < count; ++i) {
    const std::string name = reader.String();
    const int32_t type = reader.Int32();
    reader.Int32();
    const int64_t form = reader.ValueForm(type);
    TBRNColumn* column = findColumn(columns, name);
    if (column == nullptr || column->Computed) {
      reader.Skip(form);
      continue;
    }
    if (int32_t(column->DataType) != type) RaiseUpdateMetadataMismatch(column);
    const int64_t end = Record.GetPosition() + form;
    TBRNRowValue* value = row.GetRowValue(column->Index);
    value->LoadFromStream(Record);
    Record.SetPosition(end);
    Text += column->Name + ": " + (value->GetNull() ? std::string("NULL") : value->GetAsString()) +
            "\r\n";
  }
}

void TBRNTableManager::RecordToRow(TBRNVirtualTableManager& UpdatesTable) {
  TBRNMemoryStream& record = *loadedRecord_;
  record.SetPosition(0);
  TRecordReader reader(*this, record);
  readRecordSites(reader);
  const int32_t operation = reader.Int32();
  if (operation < kRecordInsert || operation > kRecordDelete) RaiseUpdateFileReadError();
  const int64_t timestamp = reader.Int64();
  std::string manifest;
  for (size_t i = 0; i < loadedSites_.size(); ++i) {
    if (i > 0) manifest += "\r\n";
    manifest += loadedSites_[i];
  }
  std::string keyData;
  std::string rowData;
  if (operation != kRecordInsert) FormatColumnValues(record, keyData);
  if (operation != kRecordDelete) FormatColumnValues(record, rowData);

  auto buffer = UpdatesTable.NewRowBuffer();
  TBRNRowsetRowValues row(UpdatesTable.GetColumns(), dynamic_cast<TBRNRowsetHost*>(&UpdatesTable));
  row.SetRow(buffer.get());
  row.SetAllNull();
  static const char* const kTypeNames[] = {"Insert", "Update", "Delete"};
  row.GetItem(1)->SetAsString(GetTableName());
  row.GetItem(2)->SetAsString(kTypeNames[operation - 1]);
  TBRNValue* stamp = row.GetItem(3);
  if (stamp->GetDataType() == dtTimestamp) {
    stamp->SetAsTimestamp(timestamp);
  } else {
    stamp->SetAsBigInt(timestamp);
  }
  row.GetItem(4)->SetAsString(manifest);
  if (operation != kRecordInsert) row.GetItem(5)->SetAsString(keyData);
  if (operation != kRecordDelete) row.GetItem(6)->SetAsString(rowData);
  int32_t rowNumber = 0;
  int32_t rowVersion = 0;
  int32_t counter = 0;
  UpdatesTable.InsertRowWithTriggers(row, rowNumber, rowVersion, counter);
}

}  // namespace brn

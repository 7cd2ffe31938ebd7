#include "storage/rows/row_file.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "foundation/core/byte_order.h"
#include "foundation/core/sparse_bitmap.h"
#include "foundation/files/file_manager.h"
#include "foundation/runtime/interlocked.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "foundation/types/date_time.h"
#include "foundation/values/value.h"
#include "foundation/values/value_list.h"
#include "metadata/catalog/columns.h"
#include "storage/files/table_file_guards.h"
#include "storage/rows/row_file_navigator.h"

namespace brn {

namespace {

constexpr int32_t kFullCode = 407;
constexpr int32_t kStatusOffset = 4;
constexpr int32_t kVersionOffset = 5;
constexpr int32_t kCounterOffset = 9;
constexpr int32_t kReservedOffset = 13;
constexpr int32_t kRowIDNullOffset = 17;
constexpr int32_t kRowIDOffset = 18;

// The row header and the row image are little-endian on every host.
int32_t readInt32(const uint8_t* bytes, int32_t offset) {
  return LoadLittleEndian<int32_t>(bytes + offset);
}

void writeInt32(uint8_t* bytes, int32_t offset, int32_t value) {
  StoreLittleEndian(bytes + offset, value);
}

std::string text(int64_t value) {
  return std::to_string(value);
}

}  // namespace

// ---- TBRNRowsetRow ----

void TBRNRowsetRow::StoreHeader() {
  if (GetSize() < kRowBlockHeaderSize) return;
  uint8_t* bytes = Data();
  writeInt32(bytes, 0, NextLink);
  bytes[kStatusOffset] = Status;
  writeInt32(bytes, kVersionOffset, Version);
  writeInt32(bytes, kCounterOffset, UpdateCounter);
  writeInt32(bytes, kReservedOffset, Reserved);
}

void TBRNRowsetRow::WriteHeader() {
  StoreHeader();
  BlockStream.SetPosition(kRowBlockHeaderSize);
}

void TBRNRowsetRow::ReadHeader() {
  if (GetSize() < kRowBlockHeaderSize) {
    NextLink = 0;
    Status = kRowLive;
    Version = UpdateCounter = Reserved = 0;
    return;
  }
  const uint8_t* bytes = Data();
  NextLink = readInt32(bytes, 0);
  Status = bytes[kStatusOffset];
  Version = readInt32(bytes, kVersionOffset);
  UpdateCounter = readInt32(bytes, kCounterOffset);
  Reserved = readInt32(bytes, kReservedOffset);
}

void TBRNRowsetRow::Reset() {
  bool wasDeleted = Status == kRowDeleted;
  TBRNTableFileBuffer::Reset();
  Status = wasDeleted ? kRowReused : kRowLive;
  Version = 0;
  Reserved = 0;
  if (!wasDeleted) UpdateCounter = 0;
}

void TBRNRowsetRow::AssignRow(const TBRNRowsetRow& source) {
  Assign(source);
  Status = source.Status;
  Version = source.Version;
  UpdateCounter = source.UpdateCounter;
  Reserved = source.Reserved;
  HeaderRead = true;
  StoreHeader();
}

bool TBRNRowsetRow::IsSameRow(const TBRNRowsetRow& other) const {
  return IsSameBlock(other) && Status == other.Status && Version == other.Version &&
         UpdateCounter == other.UpdateCounter && Reserved == other.Reserved;
}

void TBRNRowsetRow::SetLink(int32_t link) {
  NextLink = link;
  StoreHeader();
  Modified = true;
}

void TBRNRowsetRow::SetStatus(uint8_t status) {
  Status = status;
  StoreHeader();
  Modified = true;
}

void TBRNRowsetRow::SetVersion(int32_t version) {
  Version = version;
  StoreHeader();
  Modified = true;
}

void TBRNRowsetRow::SetUpdateCounter(int32_t counter) {
  UpdateCounter = counter;
  StoreHeader();
  Modified = true;
}

int32_t TBRNRowsetRow::IncrementUpdateCounter() {
  // A damaged negative counter restarts at 1 as well.
  int32_t counter = UpdateCounter < 0 ? 0 : UpdateCounter;
  IncrementCounter(counter, 1);
  SetUpdateCounter(counter);
  return counter;
}

int32_t TBRNRowsetRow::GetRowID() const {
  if (GetSize() < kRowIDOffset + 4 || Data()[kRowIDNullOffset] == 0) return 0;
  return readInt32(Data(), kRowIDOffset);
}

void TBRNRowsetRow::SetRowID(int32_t id) {
  if (GetSize() < kRowIDOffset + 4) return;
  Data()[kRowIDNullOffset] = 1;
  writeInt32(Data(), kRowIDOffset, id);
  Modified = true;
}

// ---- TBRNRowsetManager ----

TBRNRowsetManager::TBRNRowsetManager(TBRNTableFileHost* host, TBRNFileManager* files,
                                     const TBRNRowsetLayout& layout, TBRNRowsetHost* rowsetHost)
    : TBRNTableFileManager(host, files), layout_(layout), rowsetHost_(rowsetHost) {
  if (layout.Columns == nullptr) throw std::invalid_argument("row file without columns");
  // A block holds the row header and the row ID at least, in whole 8-byte
  // units (the unit of encryption).
  if (layout.RowSize < kRowIDOffset + 4 || layout.RowSize % 8 != 0) {
    throw std::invalid_argument("row file with an invalid row size");
  }
  IdentityValues.assign(size_t(columnCount()), 0);
}

TBRNRowsetManager::~TBRNRowsetManager() = default;

int32_t TBRNRowsetManager::columnCount() const {
  return layout_.Columns->Count();
}

std::string TBRNRowsetManager::GetFileExtension() const {
  return GetHost()->GetFileExtension(TBRNTableFileKind::Rows);
}

int32_t TBRNRowsetManager::GetHeaderRecordSize() const {
  int64_t size = kCommonHeaderSize + 21 + int64_t(4) * columnCount();
  return int32_t((size + 7) / 8 * 8);
}

int32_t TBRNRowsetManager::GetCacheCapacity() const {
  return std::max(kMinCacheRows, layout_.MaxRowBufferSize / layout_.RowSize);
}

void TBRNRowsetManager::CheckFileFull() {
  // Never let data reach the row locks, whatever the file manager allows.
  int64_t limit = std::min(GetFileManager()->GetMaxRowsetFileSize(), kRowLockBase);
  int64_t end = int64_t(GetHeaderAreaSize()) + int64_t(NextBlock) * GetBlockSize();
  if (NextBlock == INT32_MAX || end > limit) {
    throw EBRNException(kFullCode, FormatText("The %s %s is full (%s)",
                                              {GetHost()->GetTableKindName(),
                                               GetHost()->GetTableName(), GetFileName()}));
  }
}

void TBRNRowsetManager::InitHeader() {
  TBRNTableFileManager::InitHeader();
  RowCount = 0;
  LastRowID = 0;
  LastVersion = 0;
  ReservedByte = 0;
  Timestamp = CurrentTimestamp(false);
  IdentityValues.assign(size_t(columnCount()), 0);
  for (int32_t i = 0; i < columnCount(); ++i) {
    IdentityValues[size_t(i)] = layout_.Columns->GetItem(i)->IdentitySeed;
  }
}

void TBRNRowsetManager::ReadHeaderFields(TBRNMemoryStream& stream) {
  TBRNTableFileManager::ReadHeaderFields(stream);
  RowCount = stream.ReadInteger();
  LastRowID = stream.ReadInteger();
  LastVersion = stream.ReadInteger();
  ReservedByte = stream.ReadByte();
  Timestamp = stream.ReadInt64();
  IdentityValues.assign(size_t(columnCount()), 0);
  for (int32_t& value : IdentityValues) value = stream.ReadInteger();
}

void TBRNRowsetManager::WriteHeaderFields(TBRNMemoryStream& stream, bool incrementCounter) {
  TBRNTableFileManager::WriteHeaderFields(stream, incrementCounter);
  Timestamp = CurrentTimestamp(false);
  stream.WriteInteger(RowCount);
  stream.WriteInteger(LastRowID);
  stream.WriteInteger(LastVersion);
  stream.WriteByte(ReservedByte);
  stream.WriteInt64(Timestamp);
  IdentityValues.resize(size_t(columnCount()), 0);
  for (int32_t value : IdentityValues) stream.WriteInteger(value);
}

void TBRNRowsetManager::Empty() {
  int32_t lastVersion = LastVersion;
  TBRNTableFileManager::Empty();
  LastVersion = lastVersion;
}

void TBRNRowsetManager::CopyHeaderFrom(const TBRNTableFileManager& oldFile) {
  const auto* old = dynamic_cast<const TBRNRowsetManager*>(&oldFile);
  if (old == nullptr) throw std::invalid_argument("row header copied from another kind of file");
  LastRowID = old->LastRowID;
  LastVersion = old->LastVersion;
  ReservedByte = old->ReservedByte;
  TBRNColumns* oldColumns = old->GetColumns();
  for (int32_t i = 0; i < columnCount(); ++i) {
    TBRNColumn* column = layout_.Columns->GetItem(i);
    if (!column->Identity) continue;
    for (int32_t j = 0; j < oldColumns->Count() && j < int32_t(old->IdentityValues.size()); ++j) {
      TBRNColumn* oldColumn = oldColumns->GetItem(j);
      if (oldColumn->ID == column->ID && oldColumn->Identity) {
        IdentityValues[size_t(i)] = old->IdentityValues[size_t(j)];
        break;
      }
    }
  }
  SetHeaderModified();
}

std::unique_ptr<TBRNRowsetRow> TBRNRowsetManager::NewRowBuffer() {
  auto row = std::make_unique<TBRNRowsetRow>(this);
  row->BlockStream.SetSize(GetBufferSize());
  row->Reset();
  row->StoreHeader();
  return row;
}

TBRNRowsetRow* TBRNRowsetManager::GetRowChecked(int32_t n, bool readAhead, uint8_t direction,
                                                int32_t count, bool& restart) {
  return static_cast<TBRNRowsetRow*>(GetBuffer(n, readAhead, direction, count, restart));
}

TBRNRowsetRow* TBRNRowsetManager::GetRow(int32_t n, bool readAhead, uint8_t direction,
                                         int32_t count) {
  bool restart = false;
  return GetRowChecked(n, readAhead, direction, count, restart);
}

TBRNRowsetRow* TBRNRowsetManager::AllocateRow() {
  // A restart empties the cache and re-reads the header: the allocation
  // starts again from the fresh free list. It can only happen once in a
  // row unless another writer keeps changing the file.
  for (int32_t attempt = 0; attempt < 8; ++attempt) {
    int32_t n = GetFreeOrNextBlock();
    bool fromFreeList = n != NextBlock;
    if (fromFreeList && (n < 1 || n > NextBlock)) {
      RaiseCorrupt(FormatText("Invalid free row list pointer (%s)", {text(n)}));
    }
    bool restart = false;
    TBRNRowsetRow* row = GetRowChecked(n, false, 0, 0, restart);
    if (row == nullptr) continue;
    if (fromFreeList) {
      int32_t next = row->NextLink;
      // Never hand out a live row, nor follow a link out of the file.
      if (row->Status != kRowDeleted || next < 0 || next >= NextBlock || next == n) {
        ReleaseRow(row);
        RaiseCorrupt(FormatText("Invalid next free row pointer (%s)", {text(n)}));
      }
      SetFreeListHead(next);
      // The image, with the BLOB references of the deleted row, and the
      // update counter stay; the new row takes them over. A row deleted in
      // the same transaction is still listed as dirty: it stays listed
      // once, or the flush would write the list out of step with the file.
      const bool queued = row->Queued;
      row->Reset();
      row->Queued = queued;
    } else {
      std::memset(row->Data(), 0, size_t(row->GetSize()));
      row->TBRNTableFileBuffer::Reset();
      row->Status = kRowLive;
      row->Version = row->UpdateCounter = row->Reserved = 0;
    }
    row->StoreHeader();
    row->Modified = true;
    return row;
  }
  RaiseCorrupt("Cannot find row during retrieval from cache");
  return nullptr;
}

void TBRNRowsetManager::FreeRow(TBRNRowsetRow* row) {
  row->SetLink(FreeListHead);
  SetFreeListHead(row->BlockNumber);
}

int32_t TBRNRowsetManager::NextRowID() {
  return IncrementCounter(LastRowID, 1);
}

int32_t TBRNRowsetManager::NextVersion() {
  return IncrementCounter(LastVersion, 1);
}

int32_t TBRNRowsetManager::NextIdentityValue(int32_t columnIndex) {
  TBRNColumn* column = layout_.Columns->GetItem(columnIndex);
  return IncrementCounter(IdentityValues.at(size_t(columnIndex)), column->IdentityIncrement);
}

void TBRNRowsetManager::SetIdentityValue(int32_t columnIndex, int32_t value) {
  IdentityValues.at(size_t(columnIndex)) = value;
  SetHeaderModified();
}

void TBRNRowsetManager::SetRowCount(int32_t count) {
  RowCount = count;
  SetHeaderModified();
}

void TBRNRowsetManager::IncrementRowCount() {
  ++RowCount;
  SetHeaderModified();
}

void TBRNRowsetManager::DecrementRowCount() {
  if (RowCount > 0) --RowCount;
  SetHeaderModified();
}

void TBRNRowsetManager::SetLastRowID(int32_t id) {
  LastRowID = id;
  SetHeaderModified();
}

void TBRNRowsetManager::SetLastVersion(int32_t version) {
  LastVersion = version;
  SetHeaderModified();
}

void TBRNRowsetManager::RaiseIdentityValues(const TBRNValues& values) {
  int32_t count = std::min(columnCount(), values.GetCount());
  for (int32_t i = 0; i < count; ++i) {
    if (!layout_.Columns->GetItem(i)->Identity) continue;
    const TBRNValue* value = values.GetItem(i);
    if (value == nullptr || value->GetNull()) continue;
    int32_t v = value->GetAsInteger();
    if (v > IdentityValues[size_t(i)]) {
      IdentityValues[size_t(i)] = v;
      SetHeaderModified();
    }
  }
}

bool TBRNRowsetManager::LockRow(int32_t n) {
  if (!IsOpen() || n < 1) return false;
  return GetStream()->SetRangeLock(true, RowLockOffset(n), 1);
}

bool TBRNRowsetManager::UnlockRow(int32_t n) {
  if (!IsOpen() || n < 1) return false;
  return GetStream()->SetRangeLock(false, RowLockOffset(n), 1);
}

bool TBRNRowsetManager::identityValueOf(const TBRNRowsetRow& row, int32_t columnIndex,
                                        int32_t& value) const {
  TBRNColumn* column = layout_.Columns->GetItem(columnIndex);
  int32_t offset = column->RowOffset;
  if (offset < kRowBlockHeaderSize || offset + 5 > row.GetSize()) return false;
  if (row.Data()[offset] == 0) return false;
  value = readInt32(row.Data(), offset + 1);
  return true;
}

void TBRNRowsetManager::restampVersion(TBRNRowsetRow& row, int32_t version) {
  TBRNColumns* columns = layout_.Columns;
  if (rowsetHost_ == nullptr || !columns->HasBlobColumns()) {
    row.SetVersion(version);
    return;
  }
  // The BLOB chains carry the row version as their owner: they are read
  // under the old version and written again under the new one, so that the
  // repaired row keeps its BLOB values. Only chains that answered with data
  // are the row's own: one that read empty may be another row's (a damaged
  // reference) and is never written.
  TBRNRowsetRowValues values(columns, rowsetHost_, false);
  values.SetRow(&row);
  try {
    values.LoadBlobs();
    row.SetVersion(version);
    for (int32_t i = 0; i < columns->Count(); ++i) {
      TBRNRowValue* value = values.GetRowValue(i);
      if (columns->GetItem(i)->DataType == dtLob && !value->GetNull() &&
          value->GetBlobBlock() > 0 && value->GetDataSize() > 0) {
        value->SetModified(true);
      }
    }
    values.SaveBlobs(version);
  } catch (...) {
    values.SetRow(nullptr);
    throw;
  }
  values.SetRow(nullptr);
  row.MarkModified();
}

bool TBRNRowsetManager::VerifyContents(bool& errorsFound, bool repair) {
  GetHost()->ReportVerifyStatus("Verifying rows (structure-only)");
  TableProgressBracket progress(GetHost());

  auto finding = [&](const std::string& message) {
    LogVerifyError(message, "", "", repair);
    errorsFound = true;
  };
  // Verification runs under the table's exclusive lock: no other writer
  // can make a read restart, so a restart is damage of the header.
  auto pin = [&](int32_t n, bool readAhead) {
    bool restart = false;
    TBRNRowsetRow* row = GetRowChecked(n, readAhead, 1, GetReadAheadCount(), restart);
    if (row == nullptr) RaiseCorrupt("Cannot find row during retrieval from cache");
    return row;
  };
  int32_t lastBlock = GetBlockCount();

  // The free list: every member a deleted row, every link inside the file,
  // no block twice.
  bool listEmptied = false;
  TBRNSparseBitmap visited(true, false, 0);
  visited.Size = std::max(lastBlock, 1);
  {
    int32_t n = FreeListHead;
    while (n >= 1 && n <= lastBlock) {
      TBRNRowsetRow* row = pin(n, false);
      visited.SetBit(n);
      int32_t next = row->NextLink;
      std::string message;
      if (row->Status != kRowDeleted) {
        message = FormatText("Invalid next free row pointer (%s)", {text(n)});
      } else if (next < 0 || next >= NextBlock) {
        message = FormatText("Invalid next free row pointer (%s)", {text(next)});
      } else if (next != 0 && visited.IsBitSet(next)) {
        message = FormatText("Recursive next row pointer (%s)", {text(next)});
      }
      if (!message.empty()) {
        finding(message);
        if (repair) {
          row->SetLink(0);
          SetFreeListHead(0);
          listEmptied = true;
        }
        ReleaseRow(row);
        break;
      }
      ReleaseRow(row);
      n = next;
    }
  }

  // The rows.
  TBRNSparseBitmap ids(true, false, 0);
  ids.Size = INT32_MAX;
  int32_t liveRows = 0;
  int32_t largestID = 0;
  int32_t largestVersion = 0;
  int32_t count = columnCount();
  std::vector<int32_t> largestIdentity(size_t(count), INT32_MIN);
  std::vector<bool> seenIdentity(size_t(count), false);
  int32_t lastPercent = -1;
  for (int32_t n = 1; n <= lastBlock; ++n) {
    TBRNRowsetRow* row = pin(n, true);
    try {
      if (row->Status != kRowDeleted) {
        if (row->NextLink != 0) {
          finding(FormatText("Invalid next row pointer (%s)", {text(row->NextLink)}));
          if (repair) row->SetLink(0);
        }
        if (row->Version < 0) {
          finding(FormatText("Invalid row %s version (%s)", {text(n), text(row->Version)}));
          if (repair) {
            // As for row IDs: after every version seen, never below zero.
            SetLastVersion(std::max({LastVersion, largestVersion, 0}));
            restampVersion(*row, NextVersion());
          }
        }
        if (row->UpdateCounter < 0) {
          finding(FormatText("Invalid row %s update counter (%s)",
                             {text(n), text(row->UpdateCounter)}));
          if (repair) row->SetUpdateCounter(1);
        }
        int32_t id = row->GetRowID();
        if (id <= 0 || ids.IsBitSet(id)) {
          finding(FormatText("Invalid row %s ID (%s)", {text(n), text(id)}));
          if (repair) {
            // A damaged header may count below the IDs seen so far (or below
            // zero): the new ID comes after all of them.
            SetLastRowID(std::max({LastRowID, largestID, 0}));
            do id = NextRowID();
            while (ids.IsBitSet(id));
            row->SetRowID(id);
          }
        }
        if (id > 0) ids.SetBit(id);
        ++liveRows;
        largestID = std::max(largestID, id);
        for (int32_t i = 0; i < count; ++i) {
          int32_t value = 0;
          if (layout_.Columns->GetItem(i)->Identity && identityValueOf(*row, i, value)) {
            largestIdentity[size_t(i)] = std::max(largestIdentity[size_t(i)], value);
            seenIdentity[size_t(i)] = true;
          }
        }
      } else if (repair && (listEmptied || !visited.IsBitSet(n))) {
        // The list is rebuilt from every deleted row: after it was emptied
        // here, and for rows it missed (a head the header check dropped).
        FreeRow(row);
      }
      largestVersion = std::max(largestVersion, row->Version);
    } catch (...) {
      ReleaseRow(row);
      throw;
    }
    ReleaseRow(row);
    int32_t percent = int32_t(int64_t(n) * 100 / lastBlock);
    if (percent != lastPercent) {
      lastPercent = percent;
      if (!GetHost()->UpdateProgress(percent)) return false;
    }
  }

  // The header's counts.
  if (RowCount != liveRows) {
    finding(FormatText("Invalid row count (%s)", {text(RowCount)}));
    if (repair) SetRowCount(liveRows);
  }
  if (LastRowID < largestID) {
    finding(FormatText("Invalid last row ID (%s)", {text(LastRowID)}));
    if (repair) SetLastRowID(largestID);
  }
  if (LastVersion < largestVersion) {
    finding(FormatText("Invalid last row version (%s)", {text(LastVersion)}));
    if (repair) SetLastVersion(largestVersion);
  }
  for (int32_t i = 0; i < count; ++i) {
    if (seenIdentity[size_t(i)] && IdentityValues[size_t(i)] < largestIdentity[size_t(i)]) {
      finding(
          FormatText("Invalid last row identity value (%s)", {text(IdentityValues[size_t(i)])}));
      if (repair) SetIdentityValue(i, largestIdentity[size_t(i)]);
    }
  }
  return true;
}

}  // namespace brn

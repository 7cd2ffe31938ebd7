#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "storage/files/table_file.h"

namespace brn {

class TBRNColumns;
class TBRNValues;

// Status byte of a row block.
inline constexpr uint8_t kRowLive = 0;
inline constexpr uint8_t kRowDeleted = 1;  // on the free list, image kept
inline constexpr uint8_t kRowReused = 4;   // a deleted row's block taken for a new row

// The row header in front of the row image of every row block.
inline constexpr int32_t kRowBlockHeaderSize = 17;

// Row locks are one byte each at this offset plus the row number. It is the
// same in every process whatever its file size settings (the largest limit
// any file manager gives a row file), so processes with different settings
// see each other's locks; no data ever reaches it.
inline constexpr int64_t kRowLockBase = 128000000000;

// One row block: the row header (next link, status, row version, update
// counter, reserved) and the row image from offset 17. The header fields are
// kept in the block bytes as well as in the fields at every change, so that
// a copy of the block or row values bound to it always see the current
// header. A cached block is owned by its manager and used by the manager's
// thread; a detached copy (NewRowBuffer) is owned by whoever holds it.
class TBRNRowsetRow : public TBRNTableFileBuffer {
 public:
  explicit TBRNRowsetRow(TBRNTableFileManager* owner) : TBRNTableFileBuffer(owner) {}

  uint8_t Status = kRowLive;
  int32_t Version = 0;
  int32_t UpdateCounter = 0;
  int32_t Reserved = 0;

  int32_t GetHeaderSize() const override { return kRowBlockHeaderSize; }
  void WriteHeader() override;
  void ReadHeader() override;
  // Version and reserved field 0; the status 4 when the block held a
  // deleted row, else 0. The update counter of a deleted row's block is
  // kept: (row number, update counter) must never name two states of a row.
  void Reset() override;
  // Assign plus the row header fields.
  void AssignRow(const TBRNRowsetRow& source);
  // Same block and equal row header fields.
  bool IsSameRow(const TBRNRowsetRow& other) const;

  // Setters: field and block bytes, block modified.
  void SetLink(int32_t link);
  void SetStatus(uint8_t status);
  void SetVersion(int32_t version);
  void SetUpdateCounter(int32_t counter);
  // +1, a counter at 2147483647 continuing at 1; answers the new counter.
  int32_t IncrementUpdateCounter();
  // The row ID: the first column's int32 (0 when NULL).
  int32_t GetRowID() const;
  void SetRowID(int32_t id);
  // Writes the header fields into the block bytes without marking it.
  void StoreHeader();
};

// What the row file needs of its table beyond the table file host: the
// columns (not owned; their row offsets set), the block size and the cache
// size in bytes of the table's storage settings, and whether it is a System
// table (smaller header area).
struct TBRNRowsetLayout {
  TBRNColumns* Columns = nullptr;
  int32_t RowSize = 0;
  int32_t MaxRowBufferSize = 32768;
  bool SystemTable = false;
};

// What the rows of a row file need of the table manager: the BLOB file for
// BLOB and CLOB values. Called from the session's thread only.
class TBRNRowsetHost {
 public:
  virtual ~TBRNRowsetHost() = default;
  // Fills stream (empty on entry; sized here to the chain's data) with the
  // value of the chain starting at firstBlock that the row version
  // ownerVersion wrote; an empty stream when the chain belongs to another row.
  virtual void ReadBlob(int32_t ownerVersion, int32_t firstBlock, TBRNMemoryStream& stream,
                        bool compressed) = 0;
  // Stores the whole stream as the value of the chain at firstBlock (a new
  // chain when below 1) for row version ownerVersion; answers the first
  // block and the stored length.
  virtual void WriteBlob(int32_t ownerVersion, int32_t& firstBlock, TBRNMemoryStream& stream,
                         int32_t compression, int32_t& storedLength) = 0;
};

// The row file of a table: one row per block, deleted rows kept in their
// blocks on the free list, and a header record with the row count, the last
// row ID, the last row version, a timestamp and one identity counter per
// column. Row locks between sessions and processes are one-byte range locks
// of the file beyond its data. One manager serves one session's thread.
class TBRNRowsetManager : public TBRNTableFileManager {
 public:
  static constexpr int32_t kMinCacheRows = 256;

  TBRNRowsetManager(TBRNTableFileHost* host, TBRNFileManager* files, const TBRNRowsetLayout& layout,
                    TBRNRowsetHost* rowsetHost = nullptr);
  ~TBRNRowsetManager() override;

  // Header fields of the rows.
  int32_t RowCount = 0;
  int32_t LastRowID = 0;
  int32_t LastVersion = 0;
  uint8_t ReservedByte = 0;
  int64_t Timestamp = 0;
  std::vector<int32_t> IdentityValues;

  const TBRNRowsetLayout& GetLayout() const { return layout_; }
  TBRNColumns* GetColumns() const { return layout_.Columns; }
  TBRNRowsetHost* GetRowsetHost() const { return rowsetHost_; }
  void SetRowsetHost(TBRNRowsetHost* host) { rowsetHost_ = host; }

  std::string GetFileExtension() const override;
  int32_t GetHeaderAreaSize() const override { return layout_.SystemTable ? 1024 : 16384; }
  // 54 + 21 + 4 per column, rounded up to 8.
  int32_t GetHeaderRecordSize() const override;
  std::string GetBlockKindName() const override { return "row"; }
  int32_t GetCacheCapacity() const override;
  int32_t GetBlockSize() const override { return layout_.RowSize; }
  int32_t GetBufferSize() const override { return layout_.RowSize; }
  // Rows are small and read at random: a missed row brings the rows of
  // about 4 KB around it.
  int32_t GetMissRunBytes() const override { return 4096; }
  // 407 against the row file limit of the file manager.
  void CheckFileFull() override;
  // Keeps the last row version.
  void Empty();
  // After a rebuild: the last row ID, version and reserved byte of the old
  // file, and the counter of every identity column that was an identity
  // column of the old table (same column ID).
  void CopyHeaderFrom(const TBRNTableFileManager& oldFile) override;

  // The six block operations. NewRowBuffer: a detached buffer (not in the
  // cache) owned by the caller. GetRow drops the restart flag (nullptr
  // then). AllocateRow answers a pinned, modified block, taken from the
  // free list (status 4, image and update counter kept) or appended
  // (zeroed, status 0). FreeRow puts a block in front of the free list.
  std::unique_ptr<TBRNRowsetRow> NewRowBuffer();
  TBRNRowsetRow* GetRow(int32_t n, bool readAhead, uint8_t direction, int32_t count);
  TBRNRowsetRow* GetRowChecked(int32_t n, bool readAhead, uint8_t direction, int32_t count,
                               bool& restart);
  TBRNRowsetRow* AllocateRow();
  void FreeRow(TBRNRowsetRow* row);
  void ReleaseRow(TBRNRowsetRow* row) { ReleaseBuffer(row); }

  // Counters. The first three do not mark the header modified: the row
  // write that follows does.
  int32_t NextRowID();
  int32_t NextVersion();
  int32_t NextIdentityValue(int32_t columnIndex);
  void SetIdentityValue(int32_t columnIndex, int32_t value);
  void SetRowCount(int32_t count);
  void IncrementRowCount();
  void DecrementRowCount();
  void SetLastRowID(int32_t id);
  void SetLastVersion(int32_t version);
  // Each identity counter becomes the larger of itself and the row's value
  // of its column (values in column order; NULL values are skipped).
  void RaiseIdentityValues(const TBRNValues& values);

  // Row locks: false when another session or process holds the row, or
  // (unlocking) when it is not locked through this file.
  bool LockRow(int32_t n);
  bool UnlockRow(int32_t n);
  static int64_t RowLockOffset(int32_t n) { return kRowLockBase + n; }

  // The free list and the rows: structure, IDs, versions, counters and the
  // header's counts. Findings go to LogVerifyError; with repair they are
  // fixed. False when the user cancelled.
  bool VerifyContents(bool& errorsFound, bool repair) override;

 protected:
  void InitHeader() override;
  void ReadHeaderFields(TBRNMemoryStream& stream) override;
  void WriteHeaderFields(TBRNMemoryStream& stream, bool incrementCounter) override;
  TBRNTableFileBuffer* CreateBuffer() override { return new TBRNRowsetRow(this); }

 private:
  int32_t columnCount() const;
  // Gives a row a new version, its BLOB chains included.
  void restampVersion(TBRNRowsetRow& row, int32_t version);
  // The value of an identity column in a row block; false when NULL.
  bool identityValueOf(const TBRNRowsetRow& row, int32_t columnIndex, int32_t& value) const;

  TBRNRowsetLayout layout_;
  TBRNRowsetHost* rowsetHost_;
};

}  // namespace brn

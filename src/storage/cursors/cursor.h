#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/core/memory_stream.h"
#include "foundation/locks/operation_codes.h"
#include "foundation/runtime/handle_objects.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/indexes.h"
#include "storage/cursors/cursor_columns.h"
#include "storage/cursors/key_values.h"
#include "storage/cursors/navigator.h"
#include "storage/rows/row_locks.h"
#include "storage/rows/row_values.h"

namespace brn {

class TBRNCursor;
class TBRNCursorRow;
class TBRNExprToken;

// Cursor errors.
inline constexpr int32_t kCursorErrorCode = 1000;  // "An error occurred with the cursor %s (%s)"
inline constexpr int32_t kFilterErrorCode = 1001;  // "A filter error occurred (%s)"

// The operation code of each cursor operation: the request code of the remote
// cursor and the operation a failure is logged with.
inline constexpr TBRNOperationCode kOpRefreshCursor = 180;
inline constexpr TBRNOperationCode kOpFlushCursor = 181;
inline constexpr TBRNOperationCode kOpEmptyCursor = 183;
inline constexpr TBRNOperationCode kOpReadBlob = 190;
inline constexpr TBRNOperationCode kOpWriteBlob = 191;
inline constexpr TBRNOperationCode kOpSetActiveIndex = 200;
inline constexpr TBRNOperationCode kOpFirstRow = 210;
inline constexpr TBRNOperationCode kOpLastRow = 211;
inline constexpr TBRNOperationCode kOpStepNext = 212;
inline constexpr TBRNOperationCode kOpStepPrior = 213;
inline constexpr TBRNOperationCode kOpSetToSequenceNumber = 214;
inline constexpr TBRNOperationCode kOpSetToRowNumber = 215;
inline constexpr TBRNOperationCode kOpSetToRowValues = 216;
inline constexpr TBRNOperationCode kOpSetToBookmark = 217;
inline constexpr TBRNOperationCode kOpLocateRow = 218;
inline constexpr TBRNOperationCode kOpFindRowByKey = 219;
inline constexpr TBRNOperationCode kOpSetRange = 220;
inline constexpr TBRNOperationCode kOpCancelRange = 221;
inline constexpr TBRNOperationCode kOpCreateFilter = 222;
inline constexpr TBRNOperationCode kOpDropFilter = 223;
inline constexpr TBRNOperationCode kOpActivateFilter = 224;
inline constexpr TBRNOperationCode kOpDeactivateFilter = 225;
inline constexpr TBRNOperationCode kOpSetSequenceRange = 226;
inline constexpr TBRNOperationCode kOpCancelSequenceRange = 227;
inline constexpr TBRNOperationCode kOpLockRow = 230;
inline constexpr TBRNOperationCode kOpUnlockRow = 231;
inline constexpr TBRNOperationCode kOpUnlockAllRows = 232;
inline constexpr TBRNOperationCode kOpInitializeRow = 233;
inline constexpr TBRNOperationCode kOpGetCurrentRow = 234;
inline constexpr TBRNOperationCode kOpInsertRow = 235;
inline constexpr TBRNOperationCode kOpUpdateRow = 236;
inline constexpr TBRNOperationCode kOpDeleteRow = 237;
inline constexpr TBRNOperationCode kOpCancelRow = 238;
inline constexpr TBRNOperationCode kOpLoadCursorFromStream = 240;
inline constexpr TBRNOperationCode kOpSaveCursorToStream = 241;
inline constexpr TBRNOperationCode kOpStartCachedUpdates = 242;
inline constexpr TBRNOperationCode kOpApplyCachedUpdates = 243;
inline constexpr TBRNOperationCode kOpCancelCachedUpdates = 244;

// The handle of a filter a cursor created (0 = none).
using TBRNFilterHandle = int32_t;

// The largest BLOB or CLOB value a row stream carries in its BLOB list.
inline constexpr int32_t kMaxStreamedBlobLength = 1 << 30;

// The values of a cursor row, bound to the row's buffer. BLOB reads and writes
// go to the row's cursor with the row's RowVersion as the BLOB's owner;
// computed columns are evaluated by the cursor.
class TBRNCursorRowValues : public TBRNRowValues {
 public:
  // Over the cursor's table columns, computed columns evaluated. The row and
  // its cursor outlive the values.
  explicit TBRNCursorRowValues(TBRNCursorRow& Row);
  ~TBRNCursorRowValues() override;

  TBRNCursorRow& GetRow() const { return Row; }

  // The cursor's ReadBlob(Row.RowVersion, BlockRef, Stream, Compressed).
  void ReadBlob(int32_t BlockRef, TBRNMemoryStream& Stream, bool Compressed) override;
  // The cursor's WriteBlob with the same arguments.
  void WriteBlob(int32_t RowVersion, int32_t& BlockRef, TBRNMemoryStream& Stream,
                 int32_t Compression, int32_t& StoredLength) override;
  // The cursor's ComputeColumn(ExpressionRoot, *this).
  void ComputeColumn(TBRNExprToken* ExpressionRoot) override;

 private:
  friend class TBRNCursorRow;

  TBRNCursorRow& Row;
  // Set while a BLOB list is loaded: the values take their data from the
  // stream, so the reads that mark them loaded fetch nothing from the cursor.
  bool SkipBlobReads = false;
};

// The row buffer that travels between a cursor and its user: copies of the
// stored row's header fields, the row image in a buffer sized to the cursor's
// table columns at creation, the typed values over it, and the row's bookmark
// and key (references to its values).
//
// Stream forms (little-endian):
//   SaveToStream            int32 RowNumber, byte RowStatus, int32 RowVersion,
//                           int32 UpdateCounter, int32 RowReserved, then the
//                           row image from offset 17 to the end of the buffer
//   SaveToStreamWithBlobs   the same, then with WithFlags one Boolean byte per
//                           value (its Modified flag, column order), then
//                           with WithBlobs the BLOB list
//   BLOB list               int32 count n of the modified stored BLOB/CLOB
//                           values, then n times in column order: int32
//                           column index, int32 length L, L bytes of data
// A BLOB that is not modified is not sent: the receiver reads it later
// through the cursor's ReadBlob.
//
// The loading forms read from untrusted bytes. Every count, column index and
// length is checked against the row's columns and the bytes that remain
// before anything changes; a damaged stream raises the value conversion
// error (1011) and leaves the row as it was.
//
// Threads: the row, its values and its cursor are used by one thread at a
// time. The cursor outlives the row, and its table columns do not change
// while the row exists.
class TBRNCursorRow {
 private:
  // First, so that the values below are built over them.
  TBRNCursor& Cursor;
  TBRNMemoryStream Buffer;

 public:
  explicit TBRNCursorRow(TBRNCursor& Cursor);
  virtual ~TBRNCursorRow();
  TBRNCursorRow(const TBRNCursorRow&) = delete;
  TBRNCursorRow& operator=(const TBRNCursorRow&) = delete;

  TBRNCursor& GetCursor() const { return Cursor; }
  // The row image: the 17-byte header (zeros unless SetAllNull wrote it) and
  // the columns at their row offsets.
  TBRNMemoryStream& GetBuffer() { return Buffer; }

  // The stored row's number in the row file (0: not stored) and copies of
  // its header fields. RowVersion is the owner that BLOB reads and writes
  // of the row pass on; UpdateCounter is what change detection compares.
  int32_t RowNumber = 0;
  uint8_t RowStatus = 0;
  int32_t RowVersion = 0;
  int32_t UpdateCounter = 0;
  int32_t RowReserved = 0;

  TBRNCursorRowValues Values;
  // The values of the cursor's bookmark columns (after BuildBookmark).
  TBRNBookmarkValues Bookmark;
  // The values of the active index's columns (the cursor's FillKeyValues).
  TBRNCursorKeyValues KeyValues;

  // The five header fields and the row values (the image; see
  // TBRNRowValues::Assign). Both rows belong to cursors with the same
  // table columns.
  void Assign(const TBRNCursorRow& Other);
  // Every value NULL, the whole buffer zeroed (TBRNRowValues::SetAllNull).
  void Clear();
  // The bookmark refers to the row's values of the cursor's bookmark
  // columns, in their order.
  void BuildBookmark();

  void SaveToStream(TBRNMemoryStream& Stream) const;
  void LoadFromStream(TBRNMemoryStream& Stream);
  // Loads the values' BLOB data when the BLOB list needs it (through the
  // cursor's ReadBlob).
  void SaveToStreamWithBlobs(TBRNMemoryStream& Stream, bool WithFlags, bool WithBlobs);
  void LoadFromStreamWithBlobs(TBRNMemoryStream& Stream, bool WithFlags, bool WithBlobs);
  // The BLOB list alone. Loading sets each named value's data without
  // marking it modified and marks it loaded.
  void SaveBlobsToStream(TBRNMemoryStream& Stream);
  void LoadBlobsFromStream(TBRNMemoryStream& Stream);

 private:
  // One entry of a BLOB list that was checked: the value, where its data
  // starts in the stream and its length.
  struct TBlobEntry {
    int32_t Index;
    int32_t Position;
    int32_t Length;
  };

  int32_t imageSize() const;
  // Checks the BLOB list at the stream's position without changing the row
  // and leaves the position behind the list.
  std::vector<TBlobEntry> scanBlobList(TBRNMemoryStream& Stream) const;
  // Sets the data of the checked entries from Stream.
  void applyBlobList(TBRNMemoryStream& Stream, const std::vector<TBlobEntry>& Entries);
  // Checks the header, image and flags at the stream's position (and the
  // BLOB list behind them), then loads them.
  void loadRow(TBRNMemoryStream& Stream, bool WithFlags, bool WithBlobs);
};

// Called by a cursor's row filter for the filter row (TBRNCursor::
// GetFilterRow) with the data pointer given with it; Accept comes in true.
using TBRNRowFilterEvent = std::function<void(void* Data, bool& Accept)>;

// The interface through which statements, the server and the access
// components see an open table, view or query result. Local cursors work on
// table managers; the remote cursor turns each operation into one request
// whose code is the operation's (kOp... above). The base holds what both
// share: the cursor's own copy of the table columns, its cursor columns,
// bookmark columns, indexes and row locks, the row filter, and the
// operations that need no table.
//
// Moves answer whether the cursor stands on a row afterwards. Bof and Eof
// are cached: a descendant keeps them current (SetBof/SetEof) or answers
// them live through GetBof/GetEof, which UpdateBofEof copies into the cache.
//
// Every implementation writes a failed operation to the log with its
// operation code before passing the exception on.
//
// Threads: a cursor, its rows and its lists are used by the thread of the
// session that owns the cursor.
class TBRNCursor : public TBRNHandleObject, public TBRNCursorShape {
 public:
  // The owned lists (empty) and the row locks. A descendant fills the table
  // columns and indexes, then calls BuildColumns.
  TBRNCursor(const std::string& Name, bool ReadOnly, bool Exclusive);
  ~TBRNCursor() override;

  std::string Name;
  // Requested read-only, or the table's own read-only flag.
  bool ReadOnly;
  // The cursor's table was opened exclusively.
  bool Exclusive;

  TBRNColumns& GetTableColumns() const { return *TableColumns; }
  TBRNCursorColumns& GetCursorColumns() const { return *CursorColumns; }
  TBRNBookmarkColumns& GetBookmarkColumns() const { return *BookmarkColumns; }
  TBRNCursorIndexes& GetIndexes() const { return *Indexes; }
  TBRNRowLocks& GetRowLocks() const { return *RowLocks; }
  // Whether a bookmark carries the row identifier: the active index is not
  // a primary key.
  bool GetBookmarkHasRowID() const { return BookmarkHasRowID; }

  // TBRNCursorShape: the table columns, the cursor columns and the index at
  // GetActiveIndex.
  TBRNColumns* GetCursorTableColumns() const override { return TableColumns.get(); }
  TBRNCursorColumns* GetCursorColumnList() const override { return CursorColumns.get(); }
  TBRNIndex* GetCursorActiveIndex() const override;

  // --- Virtual operations (the numbers are the operation codes) ---

  // The active index's position in GetIndexes; -1 none. Base: -1.
  virtual int32_t GetActiveIndex() const;
  // 200. For a valid index other than the current one: the bookmark columns
  // become the index's columns, BookmarkHasRowID whether it is not a primary
  // key, its name is kept and the filter row's bookmark rebuilt. An index
  // of -1, beyond the list or the current one changes nothing. A descendant
  // switches its own order after calling this.
  virtual void SetActiveIndex(int32_t Index);
  virtual bool GetRanged() = 0;
  // The bounds of the current range (owned by the cursor).
  virtual TBRNContainedCursorKeyValues* GetRangeStartValues() = 0;
  virtual TBRNContainedCursorKeyValues* GetRangeEndValues() = 0;
  // 1000 with "An attempt was made to update a read-only cursor".
  [[noreturn]] virtual void RaiseReadOnlyError() const;
  // Base: the cached flags.
  virtual bool GetBof();
  virtual bool GetEof();
  // 1001 "A filter error occurred (<Message>)".
  [[noreturn]] virtual void RaiseFilterError(const std::string& Message) const;
  virtual bool GetFiltered() = 0;
  // Seconds the active filters took.
  virtual double GetFilterTime() = 0;
  // The current row's number; 0 when none.
  virtual int32_t GetRowNumber() = 0;
  virtual bool SetToRowNumber(int32_t RowNumber) = 0;  // 215
  // Whether the current row is in the row locks.
  virtual bool IsRowLocked();
  virtual int32_t GetRowCount() = 0;
  virtual int32_t GetTotalRowCount() = 0;
  // Reads the current row into Row, without the row filter.
  virtual void ReadRow(TBRNCursorRow& Row) = 0;
  // One row on or back, without the row filter (212, 213).
  virtual void StepNext() = 0;
  virtual void StepPrior() = 0;
  // 190: the BLOB chain at BlockRef of the row of RowVersion into Stream.
  virtual void ReadBlob(int32_t RowVersion, int32_t BlockRef, TBRNMemoryStream& Stream,
                        bool Compressed) = 0;
  // 191: Stream as the BLOB of the row of RowVersion, reusing the chain at
  // BlockRef; answers the first block and the stored length.
  virtual void WriteBlob(int32_t RowVersion, int32_t& BlockRef, TBRNMemoryStream& Stream,
                         int32_t Compression, int32_t& StoredLength) = 0;
  // Evaluates a computed column's tree with RowValues as the current row.
  virtual void ComputeColumn(TBRNExprToken* ExpressionRoot, TBRNRowValues& RowValues) = 0;
  virtual bool FirstRow() = 0;  // 210
  virtual bool NextRow() = 0;
  virtual bool PriorRow() = 0;
  virtual bool LastRow() = 0;        // 211
  virtual bool RefreshCursor() = 0;  // 180
  // 230: locks Row.RowNumber for this cursor (value 1). The options (-1 when
  // not given) are carried by the remote cursor only. A row that is not
  // stored (0) is a misuse (std::out_of_range).
  virtual void LockRow(TBRNCursorRow& Row, int32_t Option1 = -1, int32_t Option2 = -1);
  virtual void UnlockRow(TBRNCursorRow& Row);  // 231
  virtual void UnlockAllRows();                // 232
  // A new row for this cursor (sized to its table columns at this moment).
  virtual std::unique_ptr<TBRNCursorRow> CreateRow();
  // 233: Row.Clear.
  virtual void InitializeRow(TBRNCursorRow& Row);
  virtual void GetCurrentRow(TBRNCursorRow& Row, bool ForUpdate) = 0;  // 234
  // The current row as a new row to insert: GetCurrentRow(Row, false), then
  // RowNumber 0, UpdateCounter 0, the first value (the row identifier) 0,
  // the BLOBs loaded and every value modified.
  virtual void CopyCurrentRow(TBRNCursorRow& Row);
  virtual bool InsertRow(TBRNCursorRow& Row) = 0;                         // 235
  virtual bool UpdateRow(TBRNCursorRow& Row) = 0;                         // 236
  virtual bool DeleteRow(TBRNCursorRow& Row) = 0;                         // 237
  virtual void CancelRow(TBRNCursorRow& Row) = 0;                         // 238
  virtual void FlushCursor() = 0;                                         // 181
  virtual bool SetToBookmark(TBRNContainedBookmarkValues& Bookmark) = 0;  // 217
  virtual bool SetToSequenceNumber(int32_t Sequence) = 0;                 // 214
  virtual bool SetToRowValues(TBRNCursorRow& Row) = 0;                    // 216
  // 218: the first row whose Columns match KeyValues.
  virtual bool LocateRow(TBRNMappedCursorColumns& Columns, TBRNValues& KeyValues,
                         int32_t PartialLength, bool CaseInsensitive) = 0;
  // Row's key values: the row values of the first Count columns of the
  // active index (all for -1); answers how many were added (0 without an
  // active index).
  virtual int32_t FillKeyValues(TBRNCursorRow& Row, int32_t Count = -1);
  // 219: searches the active index; with Partial the last key value matches
  // as a prefix of its own length (GetPartialKeyLength). True when the
  // cursor then stands on an accepted row whose key matches; otherwise it
  // stays on the nearest key.
  virtual bool FindRowByKey(TBRNContainedCursorKeyValues& KeyValues, bool Partial,
                            bool CaseInsensitive) = 0;
  virtual bool SetRange(TBRNContainedCursorKeyValues& StartValues,
                        TBRNContainedCursorKeyValues& EndValues) = 0;  // 220
  virtual bool CancelRange() = 0;                                      // 221
  virtual bool SetSequenceRange(int32_t Start, int32_t End) = 0;       // 226
  virtual bool CancelSequenceRange() = 0;                              // 227
  // 222: a filter on Text, a condition over the cursor's columns.
  virtual TBRNFilterHandle CreateFilter(const std::string& Text, bool CaseInsensitive,
                                        bool NoPartialCompare, bool EstimateCosts) = 0;
  virtual bool DropFilter(TBRNFilterHandle Filter) = 0;        // 223
  virtual bool ActivateFilter(TBRNFilterHandle Filter) = 0;    // 224
  virtual bool DeactivateFilter(TBRNFilterHandle Filter) = 0;  // 225
  // 240, 241: the cursor stream of SQL execution.
  virtual void LoadFromStream(TBRNMemoryStream& Stream) = 0;
  virtual void SaveToStream(TBRNMemoryStream& Stream) = 0;
  virtual bool RefilterCurrentRow() = 0;
  // 183: checks ReadOnly and empties the table.
  virtual void EmptyCursor(bool SkipScan) = 0;
  // 242: the cache cursor, a cursor over a private copy of this cursor's
  // rows that the client edits (owned by this cursor); each call copies
  // the current rows again, dropping the edits not applied.
  virtual TBRNCursor* StartCachedUpdates() = 0;
  // 243: writes every edit of the cache cursor to the table at once, all
  // or nothing; 244: drops the edits. Both keep the cache cursor open.
  virtual void ApplyCachedUpdates(bool IgnoreMissing) = 0;
  virtual void CancelCachedUpdates() = 0;

  // --- Helpers ---

  // 1000 "An error occurred with the cursor <Name> (<Detail>)".
  [[noreturn]] void RaiseCursorError(const std::string& Detail) const;
  // RaiseReadOnlyError when ReadOnly.
  void CheckReadOnly() const;
  // The cache takes GetBof and GetEof.
  void UpdateBofEof();

  // The row filter: Event is called for the filter row; nullptr removes it.
  // Setting one creates the filter row over the table columns as they are.
  void SetRowFilter(TBRNRowFilterEvent Event, void* Data);
  bool HasRowFilter() const { return static_cast<bool>(RowFilter); }
  // The row the filter inspects (nullptr without a filter).
  TBRNCursorRow* GetFilterRow() const { return FilterRow.get(); }
  // Whether the filter accepts the filter row as it stands (true without a
  // filter).
  bool RowFilterAccepts();
  // Moves to the nearest row the filter accepts: backward (Direction above
  // 1) with StepPrior until Bof, then forward with StepNext until Eof; the
  // mirror image forward. Each row tried is read into the filter row. True
  // without a filter or without rows (Bof and Eof), else only when the very
  // first row tried was accepted.
  bool ApplyRowFilter(TBRNDirection Direction);
  // Whether the current row's values of Columns match KeyValues
  // (TBRNRowValues::CompareWithKey is 0); false when Bof and Eof are both
  // set.
  bool CurrentRowMatchesKey(TBRNIndexColumns& Columns, const TBRNValues& KeyValues,
                            int32_t PartialLength, bool CaseInsensitive);
  // The text length of the last key value when its index column is a CHAR
  // column; 0 otherwise, for an empty key or without an active index.
  int32_t GetPartialKeyLength(const TBRNValues& KeyValues) const;
  // One cursor column for every table column not marked Internal, with its
  // ID, name, description and ReadOnly flag (the list is rebuilt).
  void BuildColumns();
  // The name kept by the last SetActiveIndex ("" before).
  const std::string& GetActiveIndexName() const { return ActiveIndexName; }
  // The cursor columns named in NameList (names separated by ";", leading
  // blanks ignored, empty names skipped); an unknown name raises the
  // column list's not-found error (401).
  std::unique_ptr<TBRNMappedCursorColumns> CreateMappedColumns(const std::string& NameList) const;
  // For each column of index Index (-1: the active index; none gives an
  // empty list), the cursor column of the same name. Another index outside
  // the list is a misuse (std::out_of_range).
  std::unique_ptr<TBRNMappedCursorColumns> CreateIndexColumns(int32_t Index) const;
  std::unique_ptr<TBRNMappedCursorColumns> CreateActiveIndexColumns() const;
  // The first index, in index order, that is not a text index, has at least
  // as many columns as Columns and whose leading columns show Columns' table
  // columns in their order; for a CHAR column the index column's collation
  // must ignore case exactly when CaseInsensitive does. nullptr when none.
  TBRNIndex* FindIndexForColumns(TBRNMappedCursorColumns& Columns, bool CaseInsensitive) const;

 protected:
  void SetBof(bool Flag) { Bof = Flag; }
  void SetEof(bool Flag) { Eof = Flag; }

  bool Bof = false;
  bool Eof = false;
  bool BookmarkHasRowID = false;
  std::string ActiveIndexName;

 private:
  // Declared in the order they are built; the filter row (over the table
  // columns) goes first.
  std::unique_ptr<TBRNColumns> TableColumns;
  std::unique_ptr<TBRNCursorColumns> CursorColumns;
  std::unique_ptr<TBRNBookmarkColumns> BookmarkColumns;
  std::unique_ptr<TBRNCursorIndexes> Indexes;
  std::unique_ptr<TBRNRowLocks> RowLocks;
  TBRNRowFilterEvent RowFilter;
  void* RowFilterData = nullptr;
  std::unique_ptr<TBRNCursorRow> FilterRow;
};

}  // namespace brn

#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/core/memory_stream.h"
#include "foundation/runtime/handle_objects.h"
#include "storage/cursors/cursor.h"
#include "storage/cursors/navigator.h"

namespace brn {

class TBRNLocalCursor;
class TBRNRemoteDatabaseManager;
class TBRNRemoteSessionManager;

// A filter of a remote cursor: the number of the filter on the server.
class TBRNRemoteFilter : public TBRNFilter {
 public:
  explicit TBRNRemoteFilter(int32_t serverHandle) : ServerHandle(serverHandle) {}

  const int32_t ServerHandle;
};

// The client proxy of a cursor that lives on the server. Every operation
// that moves, edits, locks, filters or ranges the cursor is one request
// through the database's remote session; every reply that moves the cursor
// brings the cursor's state and a block of rows. The proxy keeps that one
// block and the position of the current entry in it, so reading the current
// row and stepping inside the block send nothing.
//
// Row block: entries of one int32 row number followed by one row in the
// cursor row's stream form (GetTableColumns().RowSize bytes), so an entry
// takes RowSize + 4 bytes; the block's position stands just behind the
// current entry's int32. Every length and offset of a block is checked
// against the bytes received before the block is taken; a reply that does
// not fit raises the cursor error and keeps the previous block.
//
// The position sent with a request that moves relative to the current row
// is the bookmark of the current entry with the flags Bof and Eof. Unlike a
// cursor that refreshes its bookmark only when a row is read, this one
// refreshes it at every move inside the block too, so a caller that steps
// without reading still continues from the row it stands on.
//
// After a failed request the kept state and block are those of the last
// reply that succeeded.
//
// Computed columns are computed on the client: the table columns of the
// descriptor compile their expressions with the session's parser and
// validator (an expression that does not compile there fails the
// descriptor), and ComputeColumn evaluates them with the session's remote
// evaluator, without a request.
//
// Cached updates live on the client: StartCachedUpdates copies the rows
// (through the cursor stream) into a cache table of the session's private
// local session and answers its local cursor, which the caller edits
// without requests. ApplyCachedUpdates sends the logged edits in one
// request, which the server applies all or nothing; only a successful
// apply empties the log, so a failed one can be retried. Cancel empties
// the log and the block (the next move asks the server). The three raise
// std::logic_error without a cache (apply and cancel before a start).
//
// Lifetime: created by the database proxy (Open Table or an execution
// reply), registered in the database's cursor table, which owns it. The
// destructor removes it from that table and frees the server cursor (errors
// of that request are ignored). The database and its session outlive it.
//
// Threads: used by the thread of the session that owns it, like every
// cursor; the requests take the session lock.
class TBRNRemoteCursor : public TBRNCursor {
 public:
  // The table columns, cursor columns, indexes and the first state are read
  // by ReadDescriptor.
  TBRNRemoteCursor(TBRNRemoteDatabaseManager& database, int32_t serverHandle,
                   const std::string& name, bool readOnly, bool exclusive);
  ~TBRNRemoteCursor() override;

  TBRNRemoteDatabaseManager& GetDatabase() const { return database_; }
  TBRNRemoteSessionManager& GetSession() const;
  int32_t GetServerHandle() const { return serverHandle_; }

  // How many rows each block holds that the cursor asks for (at least 1).
  int32_t RowsPerBlock = 1;

  // The rest of a cursor descriptor: table columns, then cursor columns
  // when withCursorColumns (else they are built from the table columns),
  // indexes and the cursor state. No block comes with it: the cursor stands
  // on no row until its first move.
  void ReadDescriptor(TBRNMemoryStream& reply, bool withCursorColumns);
  // The cursor state, then the row block, as every moving reply carries them.
  void ReadStateAndBlock(TBRNMemoryStream& reply);

  // --- TBRNCursor ---
  int32_t GetActiveIndex() const override { return activeIndex_; }
  void SetActiveIndex(int32_t Index) override;
  bool GetRanged() override { return ranged_; }
  TBRNContainedCursorKeyValues* GetRangeStartValues() override { return rangeStart_.get(); }
  TBRNContainedCursorKeyValues* GetRangeEndValues() override { return rangeEnd_.get(); }
  bool GetFiltered() override { return filtered_; }
  double GetFilterTime() override { return filterTime_; }
  int32_t GetRowNumber() override { return rowNumber_; }
  bool SetToRowNumber(int32_t RowNumber) override;
  int32_t GetRowCount() override { return rowCount_; }
  int32_t GetTotalRowCount() override { return totalRowCount_; }
  void ReadRow(TBRNCursorRow& Row) override;
  void StepNext() override;
  void StepPrior() override;
  void ReadBlob(int32_t RowVersion, int32_t BlockRef, TBRNMemoryStream& Stream,
                bool Compressed) override;
  // BLOB data travels with InsertRow and UpdateRow: nothing to do.
  void WriteBlob(int32_t RowVersion, int32_t& BlockRef, TBRNMemoryStream& Stream,
                 int32_t Compression, int32_t& StoredLength) override;
  void ComputeColumn(TBRNExprToken* ExpressionRoot, TBRNRowValues& RowValues) override;
  bool FirstRow() override;
  bool NextRow() override;
  bool PriorRow() override;
  bool LastRow() override;
  bool RefreshCursor() override;
  void LockRow(TBRNCursorRow& Row, int32_t Option1 = -1, int32_t Option2 = -1) override;
  void UnlockRow(TBRNCursorRow& Row) override;
  void UnlockAllRows() override;
  void InitializeRow(TBRNCursorRow& Row) override;
  void GetCurrentRow(TBRNCursorRow& Row, bool ForUpdate) override;
  bool InsertRow(TBRNCursorRow& Row) override;
  bool UpdateRow(TBRNCursorRow& Row) override;
  bool DeleteRow(TBRNCursorRow& Row) override;
  void CancelRow(TBRNCursorRow& Row) override;
  void FlushCursor() override;
  bool SetToBookmark(TBRNContainedBookmarkValues& Bookmark) override;
  bool SetToSequenceNumber(int32_t Sequence) override;
  bool SetToRowValues(TBRNCursorRow& Row) override;
  bool LocateRow(TBRNMappedCursorColumns& Columns, TBRNValues& KeyValues, int32_t PartialLength,
                 bool CaseInsensitive) override;
  bool FindRowByKey(TBRNContainedCursorKeyValues& KeyValues, bool Partial,
                    bool CaseInsensitive) override;
  bool SetRange(TBRNContainedCursorKeyValues& StartValues,
                TBRNContainedCursorKeyValues& EndValues) override;
  bool CancelRange() override;
  bool SetSequenceRange(int32_t Start, int32_t End) override;
  bool CancelSequenceRange() override;
  TBRNFilterHandle CreateFilter(const std::string& Text, bool CaseInsensitive,
                                bool NoPartialCompare, bool EstimateCosts) override;
  bool DropFilter(TBRNFilterHandle Filter) override;
  bool ActivateFilter(TBRNFilterHandle Filter) override;
  bool DeactivateFilter(TBRNFilterHandle Filter) override;
  // Source from its position to its end goes to the server's cursor.
  void LoadFromStream(TBRNMemoryStream& Stream) override;
  // The server's cursor stream is appended to Target at its position.
  void SaveToStream(TBRNMemoryStream& Stream) override;
  bool RefilterCurrentRow() override;
  void EmptyCursor(bool SkipScan) override;
  TBRNCursor* StartCachedUpdates() override;
  void ApplyCachedUpdates(bool IgnoreMissing) override;
  void CancelCachedUpdates() override;

 private:
  // Request fields: the position (bookmark, Bof, Eof) and the rows per
  // block.
  void writePosition(TBRNMemoryStream& out) const;
  void writeRowsPerBlock(TBRNMemoryStream& out) const;
  // Rows as requests carry them: without modified flags, or with them; both
  // with the modified BLOB data.
  void writePlainRow(TBRNMemoryStream& out, TBRNCursorRow& row) const;
  void writeFlaggedRow(TBRNMemoryStream& out, TBRNCursorRow& row) const;

  // Compiles the computed columns of the table columns just loaded.
  void compileComputedColumns();
  void readState(TBRNMemoryStream& reply);
  void readBlock(TBRNMemoryStream& reply);
  // Decodes the entry at the block's position into row (the position is
  // kept) and takes its bookmark.
  void decodeCurrent(TBRNCursorRow& row);
  // The filter registered under handle, or the filter error.
  TBRNRemoteFilter& findFilter(TBRNFilterHandle handle) const;
  int32_t entrySize() const { return GetTableColumns().RowSize + 4; }

  // A request that carries the position and the rows per block and answers
  // a state and a block; extra writes the operation's own fields first.
  template <typename TWrite>
  void moveRequest(int32_t code, bool withPosition, TWrite extra);

  TBRNRemoteDatabaseManager& database_;
  const int32_t serverHandle_;
  int32_t activeIndex_ = -1;
  bool filtered_ = false;
  double filterTime_ = 0;
  bool ranged_ = false;
  int32_t rowCount_ = 0;
  int32_t totalRowCount_ = 0;
  int32_t rowNumber_ = 0;
  std::unique_ptr<TBRNCursorRow> currentRow_;
  std::unique_ptr<TBRNContainedBookmarkValues> bookmark_;
  std::unique_ptr<TBRNContainedCursorKeyValues> rangeStart_;
  std::unique_ptr<TBRNContainedCursorKeyValues> rangeEnd_;
  TBRNMemoryStream block_;
  TBRNHandleObjects filters_{256, false};
  // The cache of StartCachedUpdates, in the session's private local
  // session; dropped with the cursor.
  std::unique_ptr<TBRNLocalCursor> cacheCursor_;
};

// Cursor descriptors of replies (called by the database and handle proxies
// while the reply is read). The cursor is registered in the database's
// cursor table, which owns it.
//
// Open Table: handle, read-only flag (servers from 1.06), table columns,
// cursor columns (servers from 2.03), indexes and state.
TBRNCursor* ReadOpenTableCursor(TBRNRemoteDatabaseManager& database, TBRNMemoryStream& reply,
                                const std::string& tableName, bool exclusive);
// Execution results: handle (0: no cursor, nothing more follows), name,
// read-only flag, second flag, the three lists and state.
TBRNCursor* ReadResultCursor(TBRNRemoteDatabaseManager& database, TBRNMemoryStream& reply);

}  // namespace brn

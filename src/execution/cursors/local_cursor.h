#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "execution/cursors/cursor_navigators.h"
#include "execution/cursors/cursor_read_scope.h"
#include "execution/cursors/query_cursor_link.h"
#include "execution/evaluator/evaluator_context.h"
#include "execution/filters/local_filter.h"
#include "execution/filters/range_filters.h"
#include "foundation/core/sparse_bitmap.h"
#include "foundation/text/exception.h"
#include "storage/cursors/cursor.h"
#include "storage/tables/table_environment.h"
#include "storage/tables/virtual_table_manager.h"

namespace brn {

class EBRNException;
class TBRNQueryFilter;
class TBRNSchemaObjectManager;

// A position in the per-level arrays of a local cursor: 0 is the cursor's
// own table level, the last one the top level.
using TBRNFilterLevel = int32_t;

// Views stacked on one cursor, at most.
inline constexpr int32_t kMaxReferencedViews = 6;
// "An error occurred with the view %s (%s)".
inline constexpr int32_t kViewErrorCode = 902;

// The in-process cursor over one open table manager: physical row order,
// the visible rows of its filters kept as one bitmap (the filter set), and
// catching up with other sessions' and processes' changes before it moves.
//
// Every operation that reads the table runs inside one frame
// (runOperation): a failure is written to the log with the operation's
// code before it passes on. The reads inside take the table's counted Read
// bracket themselves; a TBRNCursorReadScope (or any other bracket of the
// table) held around many operations makes theirs nest, so that they cost
// no lock call. Moves repeat themselves
// after a navigator's restart request (another writer changed the files
// under it) once the filter set has been rebuilt; a restart is never
// reported.
//
// The cursor holds one user of its table manager (handed over by whoever
// opened the manager for it) and gives it back in CloseCursor.
//
// Threads: a cursor, its navigators and filters are used by the thread of
// the session that owns it, one call at a time.
//
// A cursor is a dependent of its table manager's environment (the
// database) while open: a database that closes first closes the cursor, so
// that freeing it afterwards (its session gone) touches nothing freed.
class TBRNLocalCursor : public TBRNCursor,
                        public TBRNFilterCursor,
                        private TBRNEnvironmentDependent {
 public:
  // The table manager is open and outlives the cursor, or its environment
  // closes the cursor before the manager goes. ReadOnly is the caller's
  // wish or-ed with the table's own flag.
  TBRNLocalCursor(TBRNVirtualTableManager& TableManager, bool Flag, bool ReadOnly,
                  const std::string& Name);
  ~TBRNLocalCursor() override;

  TBRNVirtualTableManager& GetTableManager() const { return tableManager_; }
  TBRNCursorRowsetNavigator& GetRowNavigator() const { return *rowNavigator_; }
  // The index navigator of cursor index Index; std::logic_error for an
  // index the table does not have.
  TBRNCursorIndexNavigator& GetIndexNavigator(int32_t Index) const;
  const TBRNSparseBitmap& GetFilterSet() const { return *filterSet_; }
  int32_t GetFilterLevelCount() const { return int32_t(levels_.size()); }
  int32_t GetFilteredRowCount() const { return filteredRowCount_; }
  // Moves on whenever the filter set may have changed (each time it is
  // combined or frozen): what was derived from the set is stale then.
  uint64_t GetFilterSetGeneration() const { return filterSetGeneration_; }
  bool GetFixedRowSet() const { return fixedRowSet_; }
  bool GetClosed() const { return closed_; }
  // The key range of the top level (kind 0, in its user filter list).
  TBRNRangeFilter& GetKeyRange() const;
  TBRNRangeFilter& GetCombinedRange() const;

  // ---- TBRNCursor
  int32_t GetActiveIndex() const override { return -1; }
  bool GetRanged() override { return false; }
  TBRNContainedCursorKeyValues* GetRangeStartValues() override { return nullptr; }
  TBRNContainedCursorKeyValues* GetRangeEndValues() override { return nullptr; }
  bool GetBof() override;
  bool GetEof() override;
  bool GetFiltered() override { return fixedRowSet_ || filtered_; }
  double GetFilterTime() override { return filterTime_; }
  int32_t GetRowNumber() override;
  bool SetToRowNumber(int32_t RowNumber) override;  // 215
  // FilteredRowCount when filtered, else the table's live rows.
  int32_t GetRowCount() override;
  int32_t GetTotalRowCount() override;
  void ReadRow(TBRNCursorRow& Row) override;
  void StepNext() override;   // 212
  void StepPrior() override;  // 213
  void ReadBlob(int32_t RowVersion, int32_t BlockRef, TBRNMemoryStream& Stream,
                bool Compressed) override;  // 190
  void WriteBlob(int32_t RowVersion, int32_t& BlockRef, TBRNMemoryStream& Stream,
                 int32_t Compression, int32_t& StoredLength) override;  // 191
  // Evaluates in the table manager's context, RowValues the current row.
  void ComputeColumn(TBRNExprToken* ExpressionRoot, TBRNRowValues& RowValues) override;
  bool FirstRow() override;  // 210
  bool NextRow() override;
  bool PriorRow() override;
  bool LastRow() override;        // 211
  bool RefreshCursor() override;  // 180
  bool SetToBookmark(TBRNContainedBookmarkValues& Bookmark) override;
  bool SetToSequenceNumber(int32_t Sequence) override;  // 214
  bool SetToRowValues(TBRNCursorRow& Row) override;     // 216
  // No key order: nothing changes; the row filter's answer.
  bool SetRange(TBRNContainedCursorKeyValues& StartValues,
                TBRNContainedCursorKeyValues& EndValues) override;
  bool CancelRange() override;
  bool SetSequenceRange(int32_t Start, int32_t End) override;
  bool CancelSequenceRange() override;
  // 222: an inactive expression filter over the cursor's columns in the top
  // level's user list; answers its handle. A compile failure frees it.
  TBRNFilterHandle CreateFilter(const std::string& Text, bool CaseInsensitive,
                                bool NoPartialCompare, bool EstimateCosts) override;
  bool DropFilter(TBRNFilterHandle Filter) override;        // 223
  bool ActivateFilter(TBRNFilterHandle Filter) override;    // 224
  bool DeactivateFilter(TBRNFilterHandle Filter) override;  // 225
  bool RefilterCurrentRow() override;

  // ---- Row editing, row locks, locate and find
  // Each runs in the operation frame (its code below logged with a
  // failure, the Read lock released on every path). GetCurrentRow without
  // ForUpdate, InsertRow, UpdateRow, DeleteRow, EmptyCursor, LocateRow and
  // FindRowByKey end with the row filter (direction 0); the lock
  // operations, InitializeRow, CancelRow and FlushCursor do not.
  //
  // Row locks are the table manager's, held with this cursor as holder. A
  // lock taken through LockRow is explicit: it stays until UnlockRow,
  // UnlockAllRows, DeleteRow of that row or CloseCursor. An edit lock
  // (GetCurrentRow with ForUpdate under the pessimistic protocol) lasts
  // until UpdateRow, CancelRow or DeleteRow ends the edit; an edit never
  // releases an explicit lock of the same row.
  // 230: one explicit lock per row however often it is asked for; the two
  // options are carried by the remote cursor only.
  void LockRow(TBRNCursorRow& Row, int32_t Option1 = -1, int32_t Option2 = -1) override;
  void UnlockRow(TBRNCursorRow& Row) override;  // 231: an explicit lock only
  // 232: every lock of the cursor. A failure to release one passes on once
  // that row has left the cursor's list.
  void UnlockAllRows() override;
  // 233: every value NULL, then the table's DEFAULT values.
  void InitializeRow(TBRNCursorRow& Row) override;
  // 234: with ForUpdate the row is locked (pessimistic) or checked to be
  // current (optimistic) with the number, version and update counter Row
  // carries, then read again; a row that left the cursor's view raises the
  // table manager's visibility error and is unlocked.
  void GetCurrentRow(TBRNCursorRow& Row, bool ForUpdate) override;
  // 235 to 237: through the table manager's trigger-aware row operations;
  // each answers whether the row was written. Afterwards the cursor stands
  // on the row written (a deleted row: the nearest row it shows) and Row
  // carries the stored header fields. A constrained cursor refuses
  // (1009) a row its filters do not accept, before anything is written.
  bool InsertRow(TBRNCursorRow& Row) override;
  bool UpdateRow(TBRNCursorRow& Row) override;
  bool DeleteRow(TBRNCursorRow& Row) override;
  // 238: ends an edit lock; every value of Row unmodified.
  void CancelRow(TBRNCursorRow& Row) override;
  void FlushCursor() override;               // 181
  void EmptyCursor(bool SkipScan) override;  // 183
  // 218: the first row, in the order of an index on Columns (with the
  // matching case rule) or else in the cursor's own order, whose Columns
  // equal KeyValues (PartialLength: a prefix of the last text value).
  bool LocateRow(TBRNMappedCursorColumns& Columns, TBRNValues& KeyValues, int32_t PartialLength,
                 bool CaseInsensitive) override;
  // 219: only an indexed cursor searches; this one answers false without
  // moving.
  bool FindRowByKey(TBRNContainedCursorKeyValues& KeyValues, bool Partial,
                    bool CaseInsensitive) override;

  // The table-level transaction of streams, imports and cached updates:
  // Start refuses a read-only cursor (1000), then catches up with the
  // table; Rollback catches up afterwards.
  void StartTableTransaction();
  void FlushTableTransaction();
  void CommitTableTransaction();
  void RollbackTableTransaction();

  // Set by the query manager: inserts and updates must keep passing the
  // cursor's filters.
  bool GetConstrained() const { return constrained_; }
  void SetConstrained(bool Value) { constrained_ = Value; }
  // After a row change: each active filter of every level takes the row
  // in or out (Status 1: deleted, out of all), then the set is combined
  // again. Nothing while the row set is fixed.
  void UpdateFiltersForRow(int32_t Row, uint8_t Status, const TBRNRowValues& Values);
  // 1009 "The cursor is constrained and this row violates the current
  // cursor constraint condition(s)".
  [[noreturn]] virtual void RaiseConstraintError();
  // 1002 "A locate error occurred (<Reason>)".
  [[noreturn]] virtual void RaiseLocateError(const std::string& Reason);

  // The server's position of a remote client: unless the position is in
  // sync already, the cursor goes to Bookmark's key in the active index
  // (the nearest key when it is gone; before a range its first key, after
  // it its last) and takes the client's BOF and EOF where they still hold.
  // A cursor without an active index is not moved. The position is in sync
  // afterwards, also after a failure.
  void SyncToBookmark(TBRNContainedBookmarkValues& Bookmark, bool ClientBof, bool ClientEof);
  bool GetPositionSynced() const { return positionSynced_; }
  void SetPositionSynced(bool Value) { positionSynced_ = Value; }

  // The search window of locate and find, asked by the index navigators:
  // whether it is set on index IndexNumber, and where a stored key lies
  // against it (-1 before, 0 inside, 1 after).
  bool SearchKeyActiveFor(int32_t IndexNumber) const;
  int32_t CompareWithSearchKey(const TBRNKeyValues& Key) const;

  // Cursor streams
  // The stream of the cursor's visible rows: an optional int32 total
  // length, then blocks (int32 N, N bytes): the engine signature digest and
  // format version, the column names (the table's columns without the row
  // identifier), and row blocks of about 64 KiB, each row the named
  // columns' values in stream form. The one-argument forms write without
  // the length field and read from the position to the end.
  // 241: every row from the first in the cursor's order; 1003 "The stream
  // data could not be written" when Target takes fewer bytes than given.
  void SaveToStream(TBRNStream& Target, bool WithLength);
  // 240: inserts every row of Length bytes of Source (0: up to its end) in
  // one table transaction; on any error nothing of the stream stays. The
  // bytes are untrusted: every length is checked against the bytes that
  // remain before anything is allocated, and a block whose rows do not
  // fill it exactly, or that claims more bytes than remain, is refused
  // (1003 "The stream data is truncated or invalid").
  void LoadFromStream(TBRNStream& Source, int64_t Length);
  // 1003 "An error occurred in the cursor stream (<Reason>)".
  [[noreturn]] virtual void RaiseStreamError(const std::string& Reason);

  void LoadFromStream(TBRNMemoryStream& Stream) override;
  void SaveToStream(TBRNMemoryStream& Stream) override;

  // Cached updates (see execution/cursors/cached_updates.h): the cache
  // cursor is made through the session's cached-updates manager on the
  // first StartCachedUpdates and lives until CloseCursor, which drops it
  // and its table. A failure is logged with the operation's code and
  // passes on.
  // 242: needs a primary key other than the internal one (1307); copies
  // the visible rows into the cache again (edits not applied are dropped)
  // and answers the cache cursor, which the client edits.
  TBRNCursor* StartCachedUpdates() override;
  // 243: every edit logged by the cache since the last apply or cancel,
  // replayed on this cursor's table by primary key in one table
  // transaction; any failure rolls all of them back and the cache keeps
  // them for a retry. IgnoreMissing: an update or delete of a row the
  // table no longer has is skipped instead of failing. std::logic_error
  // without a cache.
  void ApplyCachedUpdates(bool IgnoreMissing) override;
  // 244: drops the edits logged so far; the cache cursor and its rows stay.
  // std::logic_error without a cache.
  void CancelCachedUpdates() override;
  // Applies Length bytes of update records from Stream's position (the
  // stream form of cached_updates.h, untrusted) to the table in one table
  // transaction, all or nothing; logged as 243. A table without a primary
  // key raises the table manager's no-primary-key error.
  void ApplyUpdatesStream(TBRNMemoryStream& Stream, int64_t Length, bool IgnoreMissing);
  // The cache cursor; nullptr before StartCachedUpdates.
  TBRNLocalCursor* GetCachedUpdatesCursor() const { return cachedUpdatesCursor_.get(); }

  // ---- TBRNFilterCursor
  // std::logic_error when the cursor's table is not a base table's manager
  // or the session's evaluator is not the local one.
  TBRNTableManager& GetFilterTable() override;
  TBRNLocalExprEvaluator& GetFilterEvaluator() override;
  TBRNEvaluatorContext& GetFilterSourceContext() override;
  bool GetStandardNulls() override;
  [[noreturn]] void RaiseFilterError(const std::string& Detail) override;
  // The cursor's own (const) raiser stays callable beside the filter's.
  using TBRNCursor::RaiseFilterError;

  // ---- Local cursor operations
  // True when not filtered; otherwise every active filter of every level
  // (query lists, then user lists) accepts Values.
  virtual bool RowPassesFilters(const TBRNRowValues& Values);
  // True when not filtered; otherwise whether the filter set holds Row.
  virtual bool RowInFilterSet(int32_t Row) const;
  // The table changed since the cursor last caught up.
  virtual bool IsStale();
  // Finds the current row again after the filter set or files changed.
  virtual void RestorePosition();
  // Places the row navigator on Row (none for 0 or less); on a restart the
  // filter set is rebuilt and Restart stays set for the caller's loop.
  virtual void PositionOnRow(int32_t Row, TBRNDirection Direction, bool& Restart);
  // The read-ahead in the cursor's own order when no filter is active.
  virtual int32_t GetOrderReadAhead(int32_t Row, TBRNDirection Direction, int32_t Default);
  // Combines every level's filters into the filter set; answers the new
  // FilteredRowCount.
  virtual int32_t BuildFilterSet();
  // After the table changed: rebuilds every filter, then the set.
  virtual void RebuildFilterSet();
  [[noreturn]] virtual void RaiseViewNestingError(const std::string& ViewName);
  // Idempotent; the destructor calls it. std::logic_error while a read
  // scope of the cursor is open.
  virtual void CloseCursor();

  // Whether the cursor caught up: with Force, or when the table's change
  // count moved, the set is rebuilt and the answer is true. Always false
  // while the row set is fixed.
  bool CheckTableChanged(bool Force = false);
  // Freezes (true) or frees the visible rows around a DML statement: while
  // fixed, rows other sessions add are not visited and nothing is rebuilt.
  void SetFixedRowSet(bool Value);
  // One more filter level (views stacked on the cursor).
  void AddFilterLevel();
  // Records a view whose query this cursor shows; the 7th raises 902. The
  // cursor closes the view managers it records (each holds one user for
  // the cursor).
  void AddReferencedView(TBRNSchemaObjectManager* ViewManager);

  // Query filters (the conditions of a query or DML statement)
  // An inactive filter for Condition, a node of a prepared query tree that
  // stays the query's (the filter neither frees nor unprepares it), in the
  // top level's query filter list (OrderFlag as for the list's Add). With
  // Table (the FROM item of this cursor) column references of other tables
  // become outer references that read Context's current rows, and the
  // tested row takes Table's row source. The condition is readied as a
  // filter (which rewrites the tree in place) and analysed. A failure frees
  // the filter and passes on. Context outlives the filter.
  TBRNQueryFilter* AddQueryFilter(TBRNEvaluatorContext& Context, TBRNExprToken* Condition,
                                  bool OrderFlag, const TBRNExprToken* Table, bool EstimateCosts,
                                  bool NoPartialCompare, bool CaseInsensitive);
  // As DropFilter and ActivateFilter on the top level's query filter list,
  // without filter timing. Activating an active filter builds it again (for
  // the current rows its outer references read).
  bool DropQueryFilter(TBRNFilterHandle Filter);
  bool ActivateQueryFilter(TBRNFilterHandle Filter);
  // For a filter built again and again for new outer rows (a join filter,
  // once per row of the tables before it): activates query filter Filter
  // when it is not active, builds it (and the filters after it that
  // depend on it) for the current rows its outer references read, and
  // combines the filter set. Unlike ActivateQueryFilter the cursor does
  // not look for its old row again: it is left on no row, and the caller's
  // next move must be FirstRow or LastRow. Catches up with the table first.
  void RekeyQueryFilter(TBRNFilterHandle Filter);

  // The query whose result the cursor shows
  // Set by the query manager that opened the cursor; not owned (the query
  // clears it when it is freed first). IsStale asks a sensitive query
  // whether its sources changed, ReadRow lets it complete the row, and
  // CloseCursor tells it that the cursor is gone.
  TBRNQueryCursorLink* QueryLink = nullptr;

 protected:
  // The filters and ranges of one filter level.
  struct TFilterLevel {
    std::unique_ptr<TBRNLocalFilters> QueryFilters;
    std::unique_ptr<TBRNLocalFilters> UserFilters;
    int32_t LevelIndex = -1;
    TBRNRangeFilter* KeyRange = nullptr;  // owned by UserFilters
    std::unique_ptr<TBRNRangeFilter> CombinedRange;
    std::unique_ptr<TBRNExprRangeFilter> ExprRange;
    bool SequenceRangeSet = false;
    std::unique_ptr<TBRNSeqRangeFilter> SequenceRange;
  };

  // The frame of every operation that reads the table: Work runs with the
  // table's Read lock released at the end on every path; an engine failure
  // is logged with Code and passes on. Answers Work's answer.
  template <typename Work>
  auto runOperation(TBRNOperationCode Code, Work&& Body) -> decltype(Body());
  // runOperation for a move: one deferred Read bracket of the table spans
  // the whole move, so that the brackets of its index and row reads nest
  // inside it: no lock call while every block is in the cache, and one for
  // the whole move once a read must go to the files. The bracket ends with
  // the move, before control returns to the caller.
  template <typename Work>
  void runMove(TBRNOperationCode Code, Work&& Body);
  // Repeats Move (which takes the restart flag) until it ends without a
  // restart request, catching up with the table before each repeat.
  template <typename Move>
  void untilSettled(Move&& Body);
  // Logs Error with Code through the table's environment.
  void logFailure(TBRNOperationCode Code, const EBRNException& Error);

  TFilterLevel& topLevel() const { return *levels_.back(); }
  // One navigator per index of the table, and the indexes they were made
  // for.
  void makeIndexNavigators();
  bool indexesChanged() const;
  // After the table's index list changed: the cursor's indexes and
  // navigators are made again, each level follows its index to its new
  // position (-1 when it went) and every key and sequence range is
  // cancelled (they were taken on the old list).
  void reloadIndexes();
  // Called by reloadIndexes with the new position of each previous index
  // (-1: dropped). Base: nothing.
  virtual void indexesReloaded(const std::vector<int32_t>& Moved);
  void sizeFilterSet();
  // Activates query filter Filter after catching up with the table, builds
  // it (with the filters after it that depend on it) and combines the
  // filter set; the position is the caller's to settle.
  void buildActivatedFilter(TBRNFilterHandle Filter);
  void updateFilteredFlag();
  // Every filter of every level built again for the current table.
  void rebuildFilters();
  void resetRangeFilters();
  // Applies the level's user list (or query list) to the filter set.
  void combineList(TBRNLocalFilters& List, TFilterLevel& Level, bool& Started, bool& HasRange,
                   bool& HasOther);
  // The bodies of ActivateFilter and DeactivateFilter on the top level's
  // user list, inside the caller's frame.
  void activateUserFilter(TBRNFilterHandle Filter);
  void deactivateUserFilter(TBRNFilterHandle Filter);
  // The answer of a positioning move: the row filter's in Direction.
  bool afterMove(TBRNDirection Direction) { return ApplyRowFilter(Direction); }

  // Closes the cursor while the environment is still whole.
  void EnvironmentClosing() noexcept override;

  TBRNVirtualTableManager& tableManager_;
  // The environment the cursor is registered with while open; nullptr once
  // closed.
  TBRNTableEnvironment* environment_ = nullptr;
  std::vector<std::unique_ptr<TFilterLevel>> levels_;
  int32_t filteredRowCount_ = 0;
  uint64_t filterSetGeneration_ = 0;
  std::unique_ptr<TBRNSparseBitmap> filterSet_;
  bool filtered_ = false;
  double filterTime_ = 0;
  std::unique_ptr<TBRNCursorRowsetNavigator> rowNavigator_;
  // One slot per index of the table; a navigator is made on first use
  // (most cursors move by one index at most).
  mutable std::vector<std::unique_ptr<TBRNCursorIndexNavigator>> indexNavigators_;
  std::vector<TBRNIndex*> indexSnapshot_;
  int64_t lastChangeCount_ = 0;
  std::vector<TBRNSchemaObjectManager*> referencedViews_;
  bool constrained_ = false;
  bool fixedRowSet_ = false;
  bool closed_ = false;
  bool closing_ = false;
  // Open TBRNCursorReadScope objects over this cursor (the cursor is not
  // closed while one is open).
  friend class TBRNCursorReadScope;
  int32_t readScopes_ = 0;
  // The filters' source context when the manager's own is not an evaluator
  // context (made on first use).
  std::unique_ptr<TBRNEvaluatorContext> filterContext_;

  // ---- Row editing, row locks, locate and find
  // LockCursorRow: Keep takes an explicit lock, else an edit lock.
  void lockCursorRow(TBRNCursorRow& Row, bool Keep);
  // ReleaseCursorRow: Kept releases an explicit lock; otherwise the edit
  // lock the cursor took for the row (an explicit one stays).
  void releaseCursorRow(int32_t Row, bool Kept);
  void checkConstraint(const TBRNRowValues& Values);
  // The row navigator reads stored row Row (just written by the cursor).
  void loadWrittenRow(int32_t Row);
  // Sets the search window on index IndexNumber for Values (the window
  // refers to them: they outlive it); clearSearchKey ends it.
  void setSearchKey(int32_t IndexNumber, const TBRNValues& Values, bool CaseInsensitive,
                    int32_t PartialLength);
  void clearSearchKey() noexcept;
  // The navigator search of LocateRow and FindRowByKey on index
  // IndexNumber, inside the caller's frame; Window restricts it to keys
  // equal to Values. Answers whether a key matched; the cursor then stands
  // on the navigator's row (none when it has none).
  bool findThroughIndex(int32_t IndexNumber, const TBRNValues& Values, int32_t PartialLength,
                        bool CaseInsensitive, bool Window);
  // The match test over Columns of the row the cursor stands on.
  bool currentRowMatches(TBRNMappedCursorColumns& Columns, const TBRNValues& Values,
                         int32_t PartialLength, bool CaseInsensitive);

  // The rows whose edit lock this cursor took (released when the edit
  // ends); explicit locks are in the base's row locks.
  std::vector<int32_t> editLocks_;
  bool positionSynced_ = true;
  // Set only while a locate or find searches through an index.
  struct TSearchWindow {
    int32_t IndexNumber = -1;
    std::unique_ptr<TBRNIndexKeyValues> Keys;  // refers to the caller's values
    TBRNIndexSearchKey Search;
  };
  std::unique_ptr<TSearchWindow> searchWindow_;

  // ---- Cached updates
  std::unique_ptr<TBRNLocalCursor> cachedUpdatesCursor_;
  // The table of this cursor as a base table's manager (std::logic_error
  // for any other kind of table).
  TBRNTableManager& baseTableManager();
  // Replays Length bytes of records of Stream in one table transaction.
  void applyUpdateRecords(TBRNMemoryStream& Stream, int64_t Length, bool IgnoreMissing);
  // Frees the cache cursor and drops its table (CloseCursor).
  void endCachedUpdates();
};

template <typename Work>
auto TBRNLocalCursor::runOperation(TBRNOperationCode Code, Work&& Body) -> decltype(Body()) {
  if (closed_ || closing_) throw std::logic_error("operation on a closed cursor");
  try {
    if constexpr (std::is_void_v<decltype(Body())>) {
      Body();
      UpdateBofEof();
    } else {
      auto result = Body();
      UpdateBofEof();
      return result;
    }
  } catch (const EBRNException& error) {
    logFailure(Code, error);
    throw;
  }
}

template <typename Work>
void TBRNLocalCursor::runMove(TBRNOperationCode Code, Work&& Body) {
  runOperation(Code, [&] {
    TBRNCursorReadScope scope(*this, true);
    Body();
    scope.End();
  });
}

template <typename Move>
void TBRNLocalCursor::untilSettled(Move&& Body) {
  for (;;) {
    bool restart = false;
    Body(restart);
    if (!restart) return;
    CheckTableChanged();
  }
}

}  // namespace brn

#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "foundation/runtime/object_stack.h"
#include "storage/rows/row_values.h"
#include "storage/tables/schema_object_manager.h"

namespace brn {

class EBRNException;
class TBRNBaseTable;
class TBRNBlobManager;
class TBRNColumns;
class TBRNCursor;
class TBRNIndex;
class TBRNIndexes;
class TBRNIndexManager;
class TBRNMemoryStream;
class TBRNPublishedUpdatesManager;
class TBRNReferencedTriggers;
class TBRNRowsetHost;
class TBRNRowsetManager;
class TBRNRowsetRow;
class TBRNRowsetRowValues;
class TBRNTrigger;
class TBRNVirtualTable;
class TBRNVirtualTableManager;

// Trigger operations passed to the evaluator: what the row change was.
inline constexpr int32_t kTriggerOperationInsert = 0;
inline constexpr int32_t kTriggerOperationUpdate = 1;
inline constexpr int32_t kTriggerOperationDelete = 2;
inline constexpr int32_t kTriggerOperationLoad = 3;

// Triggers firing inside triggers (a trigger that changes a table with
// triggers, its own included) and ERROR-trigger retries nest at most this
// deep together, counted per thread over every table; deeper raises 901
// ("Triggers cannot be nested more than 64 levels deep") instead of
// overflowing the stack or looping for ever. SQL execution bounds routine
// calls the same.
inline constexpr int32_t kMaxTriggerNesting = 64;

// The bound above as a process setting shared by triggers, ERROR-trigger
// retries and the procedures and functions that SQL execution calls: all of
// them count one level of the same per-thread depth. Starts at
// kMaxTriggerNesting; values below 1 are taken as 1. May be called from any
// thread; a change applies to the next level entered.
void SetMaxRoutineNesting(int32_t levels);
int32_t GetMaxRoutineNesting();

// The levels of routine nesting one scope holds on this thread, given back
// when it ends. Used by the thread that runs the routines.
class TBRNRoutineNestingScope {
 public:
  TBRNRoutineNestingScope() = default;
  ~TBRNRoutineNestingScope();
  TBRNRoutineNestingScope(const TBRNRoutineNestingScope&) = delete;
  TBRNRoutineNestingScope& operator=(const TBRNRoutineNestingScope&) = delete;

  // One level more; false, holding nothing more, at the bound.
  bool Enter();

 private:
  int32_t held_ = 0;
};

// What SQL execution registers so that storage can make the objects it
// defines: the local cursors over a table or view manager and the manager
// of a query-result table. One factory per process, registered before the
// first database opens; used by the sessions' threads.
class TBRNTableObjectFactory {
 public:
  virtual ~TBRNTableObjectFactory() = default;
  // A local cursor on Manager; with Indexed an indexed local cursor.
  virtual std::unique_ptr<TBRNCursor> CreateLocalCursor(TBRNVirtualTableManager& Manager,
                                                        const std::string& Name, bool ReadOnly,
                                                        bool Exclusive, bool Indexed) = 0;
  // The manager of a query-result table.
  virtual std::unique_ptr<TBRNSchemaObjectManager> CreateQueryResultTableManager(
      TBRNTableEnvironment& Environment, TBRNBaseTable* Table) = 0;
};

// Registers the process's factory (nullptr unregisters). Not thread-safe:
// called at start-up, before sessions run.
void SetTableObjectFactory(TBRNTableObjectFactory* Factory);
// The registered factory; std::logic_error when none is registered.
TBRNTableObjectFactory& GetTableObjectFactory();

// The OLD row of one level of trigger firing: the stored row of the row
// being changed, with exactly the columns that any trigger of the table
// reads through OldRow or lists in UPDATE OF copied in (the others NULL;
// computed columns, which have no stored bytes, too). Its row values
// evaluate nothing.
class TBRNTriggerState {
 public:
  explicit TBRNTriggerState(TBRNVirtualTableManager& Manager);
  ~TBRNTriggerState();
  TBRNTriggerState(const TBRNTriggerState&) = delete;
  TBRNTriggerState& operator=(const TBRNTriggerState&) = delete;

  // Reads stored row Row of the manager's table into the OLD row.
  void ReadOldRow(int32_t Row);
  TBRNRowValues& GetOldValues() const { return *oldValues; }

 private:
  TBRNVirtualTableManager& manager;
  std::unique_ptr<TBRNMemoryStream> oldBuffer;
  std::unique_ptr<TBRNRowValues> oldValues;
  // Reads BLOB and CLOB data of the stored row through the manager.
  std::unique_ptr<TBRNRowsetHost> blobHost;
  // Bound to the stored row's block while ReadOldRow copies from it.
  std::unique_ptr<TBRNRowsetRowValues> storedValues;
};

// The base of the table manager and of the view manager: it creates
// cursors, prepares and fires triggers, and defines the row operations that
// cursors and statements call. Its INSERT, UPDATE and DELETE wrappers add
// the privilege checks, the row lock of an update or delete, the OLD row of
// triggers and the BEFORE, AFTER and ERROR trigger loops around the row
// writes of the table manager.
//
// Used by the session's thread only.
class TBRNVirtualTableManager : public TBRNSchemaObjectManager {
 public:
  TBRNVirtualTableManager(TBRNTableEnvironment& Environment, TBRNVirtualTable* Table);
  ~TBRNVirtualTableManager() override;

  TBRNVirtualTable* GetTable() const;

  // Slots in order (= 0: the table manager implements them).
  // A local cursor through the registered factory, read-only when asked or
  // when the table is; with Indexed its active index is the table's first
  // primary-key index. The cursor has built its columns; a failure frees it.
  virtual std::unique_ptr<TBRNCursor> CreateCursor(const std::string& Name, bool ReadOnly,
                                                   bool Exclusive, bool Indexed);
  virtual TBRNRowsetManager* GetRowsetManager() = 0;
  virtual TBRNIndexManager* GetIndexManager() = 0;
  virtual TBRNBlobManager* GetBlobManager() = 0;
  virtual TBRNPublishedUpdatesManager* GetPublishedUpdatesManager() = 0;
  virtual int32_t GetRowCount() = 0;
  virtual int32_t GetPhysicalRowCount() = 0;
  virtual int32_t GetRowSize() = 0;
  virtual int64_t GetChangeCount() = 0;
  virtual int32_t GetRowCacheCapacity() = 0;
  virtual bool GetEncrypted() = 0;
  virtual TBRNColumns* GetColumns() = 0;
  virtual TBRNIndexes* GetIndexes() = 0;
  virtual void CompileTriggers();
  virtual void UncompileTriggers();
  [[noreturn]] virtual void RaiseCannotLockRow();
  [[noreturn]] virtual void RaiseCannotUnlockRow();
  [[noreturn]] virtual void RaiseRowDeleted();
  [[noreturn]] virtual void RaiseRowModified();
  [[noreturn]] virtual void RaiseRowNotVisible();
  [[noreturn]] virtual void RaiseReadOnly(const std::string& Operation);
  // DEFAULT values of NULL columns; nothing in the base.
  virtual void ComputeColumns(TBRNRowValues& Values);
  // The row writes. Update and delete need the row navigator standing on
  // the stored row (CheckRowCurrent or LockRowForUpdate put it there).
  virtual void InsertRow(TBRNRowValues& Values, int32_t& RowNumber, int32_t& RowVersion,
                         int32_t& UpdateCounter, bool Copying) = 0;
  virtual void UpdateRow(TBRNRowValues& Values, int32_t RowNumber, int32_t& UpdateCounter) = 0;
  virtual void DeleteRow(TBRNRowValues& Values, int32_t RowNumber, int32_t& UpdateCounter) = 0;
  virtual bool HasChanged(bool Refresh) = 0;
  virtual void StartTransaction() = 0;
  virtual void FlushTransaction() = 0;
  virtual void CommitTransaction() = 0;
  virtual void RollbackTransaction() = 0;
  virtual void Flush() = 0;
  virtual void CheckRowCurrent(int32_t Row, int32_t RowVersion, int32_t UpdateCounter,
                               bool SkipDetection, bool ForceDetection) = 0;
  // Answers whether this call took the lock.
  virtual bool LockRowForUpdate(TBRNHandleObject* Holder, int32_t Row, int32_t RowVersion,
                                int32_t UpdateCounter, bool SkipDetection, bool ForceDetection,
                                int32_t Keep) = 0;
  virtual void CheckRowVisible(int32_t Row, int32_t VisibleRow) = 0;
  virtual void UnlockRow(int32_t Row) = 0;
  // Holder nullptr: every row lock of the manager.
  virtual void UnlockRows(TBRNHandleObject* Holder) = 0;
  virtual std::unique_ptr<TBRNRowsetRow> NewRowBuffer() = 0;
  // The row file's buffer of Row, pinned until ReleaseRow.
  virtual TBRNRowsetRow* GetRow(int32_t Row, bool ReadAhead) = 0;
  virtual void ReleaseRow(TBRNRowsetRow* Buffer) = 0;
  virtual bool AddIndex(TBRNIndex* Index, bool LeaveEmpty) = 0;
  virtual void ClearIndex(TBRNIndex* Index) = 0;
  virtual void RebuildIndex(TBRNIndex* Index, bool Repair) = 0;
  virtual void CancelIndexChange() = 0;
  virtual bool DropIndex(TBRNIndex* Index, bool WithBackup) = 0;
  // Answers whether the table was emptied; true in the base.
  virtual bool EmptyTable(bool SkipScan);
  virtual void ReadBlob(int32_t RowVersion, int32_t BlockRef, TBRNMemoryStream& Stream,
                        bool Compressed) = 0;
  virtual void WriteBlob(int32_t RowVersion, int32_t& BlockRef, TBRNMemoryStream& Stream,
                         int32_t Compression, int32_t& StoredLength) = 0;
  virtual void ReadPublishedUpdate(int32_t& Block, TBRNMemoryStream& Stream, bool Compressed) = 0;
  virtual void AppendPublishedUpdate(TBRNMemoryStream& Stream, int32_t Compression) = 0;

  // The row operations with their checks and triggers; each answers whether
  // the row was written (false: nothing modified, or a BEFORE trigger, or
  // an ERROR trigger without retry, aborted). Update and delete hold the
  // row lock around the triggers and the write (a lock this call took is
  // released afterwards, also on failure).
  bool InsertRowWithTriggers(TBRNRowValues& NewValues, int32_t& RowNumber, int32_t& RowVersion,
                             int32_t& UpdateCounter);
  bool UpdateRowWithTriggers(TBRNHandleObject* Holder, TBRNRowValues& NewValues, int32_t RowNumber,
                             int32_t RowVersion, int32_t& UpdateCounter);
  bool DeleteRowWithTriggers(TBRNHandleObject* Holder, TBRNRowValues& Values, int32_t RowNumber,
                             int32_t RowVersion, int32_t& UpdateCounter);
  // 403 when the table is read-only and not a System table.
  void CheckReadOnly(const std::string& Operation);
  // ActionType is the trigger list's type (kTriggerInsert, kTriggerUpdate,
  // kTriggerDelete, kTriggerLoadUpdate); Operation the trigger operation
  // passed to the bodies. OldValues or NewValues may be nullptr where the
  // event has no such row. Each trigger's WHEN condition and body run in
  // this manager's context as the table's owner; the list stops after the
  // first trigger that aborts. A failure is logged (operation 153) and
  // passes on.
  void FireBeforeTriggers(TBRNRowValues* OldValues, TBRNRowValues* NewValues, int32_t ActionType,
                          int32_t Operation, bool& Abort);
  void FireAfterTriggers(TBRNRowValues* OldValues, TBRNRowValues* NewValues, int32_t ActionType,
                         int32_t Operation, bool& Abort);
  // Answers whether any ERROR trigger ran; the list stops after the first
  // that asks for a retry or aborts.
  bool FireErrorTriggers(const EBRNException& Error, TBRNRowValues* OldValues,
                         TBRNRowValues* NewValues, int32_t ActionType, int32_t Operation,
                         bool& Retry, bool& Abort);
  // Only when the table has triggers: a new state holding the OLD row of
  // stored row Row, on top of the current one.
  void PushTriggerState(int32_t RowNumber);
  void PopTriggerState();
  TBRNTriggerState* GetTriggerState() const { return triggerState.get(); }

 protected:
  // The table's load-updates marker passed to trigger bodies (base tables
  // answer theirs; views false).
  virtual bool GetLoadingUpdates() { return false; }

 private:
  // The event list of a timing for ActionType; nullptr without triggers.
  TBRNReferencedTriggers* eventTriggers(int32_t Time, int32_t ActionType) const;
  // Fires List in order until a trigger aborts (or, for ERROR triggers,
  // asks for a retry); answers the trigger that stopped it (nullptr) and in
  // Ran whether any body ran.
  TBRNTrigger* fireList(TBRNReferencedTriggers* List, int32_t Operation, TBRNRowValues* OldValues,
                        TBRNRowValues* NewValues, const EBRNException* Error, bool& Retry,
                        bool& Abort, bool& Ran);
  // Fires one trigger; answers whether its body ran.
  bool fireTrigger(TBRNTrigger& Trigger, int32_t Operation, TBRNRowValues* OldValues,
                   TBRNRowValues* NewValues, const EBRNException* Error, bool& Retry, bool& Abort);
  // The UPDATE OF test: a listed column is marked modified (PreviousModified
  // after the write) and differs from its old value.
  static bool listedColumnChanged(TBRNTrigger& Trigger, TBRNRowValues* OldValues,
                                  TBRNRowValues* NewValues, bool AfterWrite);
  // The trigger state of RowNumber around writeWithTriggers; a row lock
  // that TookLock says the caller took is released afterwards.
  bool changeStoredRow(int32_t RowNumber, bool TookLock, int32_t ActionType, int32_t Operation,
                       TBRNRowValues* NewValues, const std::function<void()>& Write);
  // The BEFORE, Write, AFTER sequence with its ERROR-trigger loop.
  bool writeWithTriggers(int32_t ActionType, int32_t Operation, TBRNRowValues* OldValues,
                         TBRNRowValues* NewValues, const std::function<void()>& Write);
  // Writes the failure being handled to the log once (operation 153).
  void logTriggerFailure();
  [[noreturn]] void raiseTableError(int32_t Code, const char* Pattern,
                                    const std::string& Detail = std::string());

  std::unique_ptr<TBRNTriggerState> triggerState;
  TBRNObjectStack<TBRNTriggerState> triggerStates;
};

}  // namespace brn

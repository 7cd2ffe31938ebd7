#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>

#include "storage/rows/execution_seam.h"

namespace brn {

class EBRNException;
class TBRNExprToken;
class TBRNLocalDatabaseManager;
class TBRNLocalSessionManager;

// RunState of a context: running, or stopped by the script debugger (nothing
// further is executed in the context while it is stopped).
inline constexpr uint8_t kBRNRunStateRunning = 0;
inline constexpr uint8_t kBRNRunStateStopped = 3;

// The state of one activation of the local evaluator: which database names
// resolve in, which rows column references read, which error an exception
// block handles, whether to stop. Whoever evaluates a tree makes its own
// context current through TBRNEvaluationScope (execution_seam.h) and the
// previous one comes back when the scope ends, also on an exception.
//
// Owners: the evaluator (the session's own context, SessionContext), each
// statement, procedure and script handle, each query or DML execution
// manager and each expression filter. The owner creates it, fills the two
// database fields with SetDatabaseManager and frees it; nothing it points
// at is owned.
//
// Fields of the storage seam that this context uses as they are:
// CurrentRows (entry 0 is the current row that plain column references of
// filters, constraint checks, computed and generated columns read),
// CurrentTable, TriggerOperation (0 insert, 1 update, 2 delete, 3 load of a
// published update; -1 outside triggers), TriggerError, TriggerRows (the OLD
// and NEW rows; nullptr where the event has none), TriggerAbort,
// TriggerRetry and LoadingUpdates.
//
// Threads: used by the thread of its session; RunState alone may also be
// written by the script debugger's controller (Stop), hence atomic.
class TBRNEvaluatorContext : public TBRNEvaluationContext {
 public:
  // Reports of SET PROGRESS (answers false when the user stopped the
  // operation), SET STATUS MESSAGE and SET LOG MESSAGE.
  using TBRNProgressEvent = std::function<bool(int32_t percentDone)>;
  using TBRNMessageEvent = std::function<void(const std::string& text)>;
  // The debugger's step hook: called with a statement node before the
  // statement runs (error nullptr) and again with the exception when it
  // raised. The hook may raise; that exception then replaces the statement's.
  using TBRNStepEvent = std::function<void(TBRNExprToken* node, const std::exception* error)>;

  TBRNEvaluatorContext() = default;

  // DefaultDatabase and CurrentDatabase both become manager.
  void SetDatabaseManager(TBRNLocalDatabaseManager* manager);
  // CurrentDatabase alone (USE, statements on another database).
  void SetCurrentDatabase(TBRNLocalDatabaseManager* manager);
  // When CurrentDatabase differs from DefaultDatabase it is closed
  // (TBRNDatabaseManager::CloseDatabase without force); CurrentDatabase is
  // DefaultDatabase again in every case, also when the close raises (the
  // exception then passes on).
  void RestoreDefaultDatabase();
  // Points OnProgress, OnStatusMessage and OnLogMessage at the session's
  // ForceProgress, StatusMessage (outside the outermost progress bracket)
  // and LogMessage. The session outlives the context.
  void BindSessionEvents(TBRNLocalSessionManager& session);

  // The owner's database.
  TBRNLocalDatabaseManager* DefaultDatabase = nullptr;
  // The database unqualified names and catalog statements use.
  TBRNLocalDatabaseManager* CurrentDatabase = nullptr;
  // Empty in contexts that do not report to a session.
  TBRNProgressEvent OnProgress;
  TBRNMessageEvent OnStatusMessage;
  TBRNMessageEvent OnLogMessage;
  // Set by the script debugger only.
  TBRNStepEvent OnStep;
  // Set by ABORT; read by ABORTED() and by the owner after a routine ran.
  bool Aborted = false;
  // Left by REPAIR TABLE and VERIFY TABLE: the statement's result.
  bool StatementResult = false;
  // kBRNRunStateRunning or kBRNRunStateStopped.
  std::atomic<uint8_t> RunState{kBRNRunStateRunning};
  // The engine error an exception block is handling (ERRORCODE, ERRORMSG,
  // re-raise); nullptr when none. Not owned: the block keeps it alive.
  const EBRNException* CurrentError = nullptr;
  // A RETRY reached the block it belongs to.
  bool RetryRequested = false;
  // The table (catalog object) that text-search conditions on unqualified
  // columns refer to; nullptr when none.
  TBRNConfigObject* TextSearchTable = nullptr;
  // The result row a query is building: value 0 precedes the select
  // columns, so select column n is value n + 1. nullptr outside queries.
  TBRNValues* ResultRow = nullptr;
  // The result table's row number of the group that ResultRow holds: the
  // result cursor's current row, or the number the next inserted row gets
  // while the row is still new. Aggregates keep the values a group has
  // seen (DISTINCT, LIST ORDERED) under this number.
  int32_t ResultGroupRow = 0;

  // Whether the debugger stopped this context.
  bool IsStopped() const { return RunState.load(std::memory_order_acquire) == kBRNRunStateStopped; }
};

}  // namespace brn

#pragma once

#include <memory>
#include <string>

namespace brn {

class TBRNCursor;
class TBRNEvaluationContext;
class TBRNRoutine;
class TBRNViewManager;
class TBRNVirtualTableManager;

// The query of one open view as SQL execution runs it. It is bound to its
// view manager and evaluates in that manager's context. Used by the
// session's thread only.
class TBRNViewQueryManager {
 public:
  virtual ~TBRNViewQueryManager() = default;

  // Prepares the query and its result set.
  virtual void Prepare() = 0;
  // Undoes Prepare; releaseQueryState: also the prepared state kept with the
  // view's compiled query (false for a Transient view, whose query belongs
  // to the statement it came from).
  virtual void Unprepare(bool releaseQueryState) = 0;
  // Between Prepare and Unprepare: the manager of the query's result, which
  // is the manager of its single source table when the result is live, and
  // the manager of the query's own result table otherwise. Not owned.
  virtual TBRNVirtualTableManager* GetResultManager() = 0;
  // Runs the query and answers its result as a local cursor named name.
  virtual std::unique_ptr<TBRNCursor> ExecuteQuery(const std::string& name, bool indexed,
                                                   bool readOnly) = 0;
  // Opens a new filter level on a cursor that ExecuteQuery answered, so that
  // the cursor's own filters do not mix with the query's.
  virtual void OpenFilterLevel(TBRNCursor& cursor) = 0;
};

// What SQL execution registers so that the view and routine managers can
// run view queries and routine bodies. One per process, registered before
// the first database opens; its operations are called by the sessions'
// threads, each on objects of its own session.
class TBRNSchemaObjectExecution {
 public:
  virtual ~TBRNSchemaObjectExecution() = default;

  // A query manager for manager's view (compiled): viewSource marks the
  // query as the source of a view, updatable carries the view's flag.
  virtual std::unique_ptr<TBRNViewQueryManager> CreateViewQueryManager(TBRNViewManager& manager,
                                                                       bool viewSource,
                                                                       bool updatable) = 0;
  // Prepares the compiled body of an SQL routine for execution in context;
  // UnprepareRoutineBody releases what that kept (nothing when none).
  virtual void PrepareRoutineBody(TBRNRoutine& routine, TBRNEvaluationContext& context) = 0;
  virtual void UnprepareRoutineBody(TBRNRoutine& routine) = 0;
};

// Registers the process's execution (nullptr unregisters). Not thread-safe:
// called at start-up, before sessions run.
void SetSchemaObjectExecution(TBRNSchemaObjectExecution* execution);
// The registered execution; nullptr when none.
TBRNSchemaObjectExecution* FindSchemaObjectExecution();
// The registered execution; std::logic_error when none is registered.
TBRNSchemaObjectExecution& GetSchemaObjectExecution();

}  // namespace brn

#pragma once

#include <memory>
#include <string>

#include "execution/queries/query_manager.h"
#include "sessions/ddl/schema_object_execution.h"

namespace brn {

class TBRNCursor;
class TBRNLocalExprEvaluator;
class TBRNViewManager;

// The query of a view, run for the view's table manager. A live result
// stays a cursor on the source table (the view joins the views the cursor
// reads through; a cursor seen through more than 6 stacked views raises
// 902); a materialised result is read through a read-only cursor on the
// view manager itself, which forwards its rows to the result table. Used by
// the session's thread only.
class TBRNLocalViewQueryManager : public TBRNQueryManager {
 public:
  // The query is the root of the view's compiled definition; neither is
  // owned, both outlive the manager.
  TBRNLocalViewQueryManager(TBRNLocalExprEvaluator& evaluator, TBRNViewManager& viewManager);

  TBRNCursor* OpenResultCursor(const std::string& cursorName, bool readOnly,
                               bool indexed) override;
  // After Prepare: decides between a live and a materialised result and
  // opens the source or result table, without building anything yet.
  void PrepareFirstResult();

  TBRNViewManager& ViewManager;
};

// What the view manager holds: a query manager made on Prepare and freed
// on Unprepare (with its result), so that a view manager kept open and
// prepared again starts from a fresh query.
class TBRNViewQuery : public TBRNViewQueryManager {
 public:
  // viewManager outlives the query; the session's evaluator must be the
  // local evaluator (std::logic_error otherwise).
  explicit TBRNViewQuery(TBRNViewManager& viewManager);
  ~TBRNViewQuery() override;

  // Prepares the query and decides its first result (live or materialised).
  void Prepare() override;
  void Unprepare(bool releaseQueryState) override;
  TBRNVirtualTableManager* GetResultManager() override;
  // The result cursor, owned by the caller; the view manager must be
  // prepared.
  std::unique_ptr<TBRNCursor> ExecuteQuery(const std::string& name, bool indexed,
                                           bool readOnly) override;
  void OpenFilterLevel(TBRNCursor& cursor) override;

  // nullptr while not prepared.
  TBRNLocalViewQueryManager* GetQueryManager() const { return manager_.get(); }

 private:
  TBRNViewManager& viewManager_;
  TBRNLocalExprEvaluator& evaluator_;
  std::unique_ptr<TBRNLocalViewQueryManager> manager_;
};

// Registers SQL execution's view queries with the view managers of every
// database opened from now on. Not thread-safe: called at start-up, before
// sessions run; later calls change nothing.
void InstallSchemaObjectExecution();

}  // namespace brn

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
//
// A derived table reads the subquery of the statement that made it. When
// that statement goes while the table's manager still has users (a cursor
// opened on the table by name), the table is kept and this query takes the
// subquery out of the statement's tree (TakeQueryTree): it owns the tree
// from then on and frees it last, after the view's definition has let go
// of it.
class TBRNViewQuery : public TBRNViewQueryManager {
 public:
  // viewManager outlives the query; the session's evaluator must be the
  // local evaluator (std::logic_error otherwise). The first query of a
  // derived table installs the catalog's release handler: a derived table
  // whose manager has users when its statement goes is kept (its query
  // takes the subquery and its manager stays open); any other goes with
  // its manager. A kept table is dropped once its manager has no users, at
  // a later release of a derived table, or with the database.
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

  // Takes the query of the view's definition out of the tree it lies in
  // (the statement's, which is about to be freed) and owns it; a reference
  // of the query to a node outside it (a parameter or variable of the
  // statement) is cut, so that it raises "The referenced value does not
  // exist" when evaluated instead of reading a freed node. The view keeps
  // reading the query through its definition. False when the definition
  // has no query; true once taken.
  bool TakeQueryTree();
  // Whether this query owns its view's query (a derived table kept after
  // its statement went).
  bool OwnsQueryTree() const { return ownedTree_ != nullptr; }

 private:
  struct TreeDeleter {
    void operator()(TBRNExprToken* root) const;
  };

  TBRNViewManager& viewManager_;
  TBRNLocalExprEvaluator& evaluator_;
  std::unique_ptr<TBRNLocalViewQueryManager> manager_;
  // A derived table's reference node made for the taken query, which is its
  // one argument (so that the query still reads as a derived table's).
  std::unique_ptr<TBRNExprToken, TreeDeleter> ownedTree_;
};

// Registers SQL execution's view queries with the view managers of every
// database opened from now on. Not thread-safe: called at start-up, before
// sessions run; later calls change nothing.
void InstallSchemaObjectExecution();

}  // namespace brn

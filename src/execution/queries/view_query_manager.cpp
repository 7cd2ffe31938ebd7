#include "execution/queries/view_query_manager.h"

#include <stdexcept>
#include <utility>

#include "execution/cursors/indexed_local_cursor.h"
#include "execution/cursors/local_cursor.h"
#include "execution/evaluator/local_expr_evaluator.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/views.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/ddl/view_manager.h"
#include "sessions/local/local_session_manager.h"
#include "storage/cursors/cursor.h"

namespace brn {

namespace {

TBRNExprToken* viewQueryOf(TBRNViewManager& viewManager) {
  TBRNView* view = viewManager.GetView();
  if (view == nullptr || !view->Definition || view->Definition->Root == nullptr)
    throw std::logic_error("The view has no compiled query");
  return view->Definition->Root;
}

TBRNLocalExprEvaluator& evaluatorOf(TBRNViewManager& viewManager) {
  TBRNLocalSessionManager* session = viewManager.GetDatabase().Session;
  auto* evaluator = session != nullptr
                        ? dynamic_cast<TBRNLocalExprEvaluator*>(session->Evaluator.get())
                        : nullptr;
  if (evaluator == nullptr) throw std::logic_error("A view query needs the local evaluator");
  return *evaluator;
}

}  // namespace

// ---- TBRNLocalViewQueryManager

TBRNLocalViewQueryManager::TBRNLocalViewQueryManager(TBRNLocalExprEvaluator& evaluator,
                                                     TBRNViewManager& viewManager)
    : TBRNQueryManager(evaluator, viewQueryOf(viewManager)), ViewManager(viewManager) {
  // Names in the view's query resolve in the view's own database.
  Context->SetDatabaseManager(&viewManager.GetDatabase());
  RequestSensitive = true;
  Constrained = viewManager.GetView()->WithCheck;
}

TBRNCursor* TBRNLocalViewQueryManager::OpenResultCursor(const std::string& cursorName,
                                                        bool readOnly, bool indexed) {
  if (ResultTable == nullptr || Database == nullptr) return nullptr;
  if (Sensitive) {
    TBRNCursor* cursor = TBRNQueryManager::OpenResultCursor(cursorName, readOnly, indexed);
    auto* local = dynamic_cast<TBRNLocalCursor*>(cursor);
    if (local == nullptr) return cursor;
    // The cursor holds one user of every view it reads through until it
    // closes.
    ViewManager.Open(false);
    try {
      local->AddReferencedView(&ViewManager);
    } catch (...) {
      try {
        ViewManager.Close(false, true);
      } catch (...) {  // the nesting error is the one reported
      }
      ReleaseResultCursor();
      throw;
    }
    return cursor;
  }

  // A materialised result: the rows of the result table, seen through the
  // view manager, which forwards them.
  ViewManager.Open(false);
  std::unique_ptr<TBRNLocalCursor> cursor;
  try {
    const std::string name = ViewManager.GetView()->Name;
    if (indexed || HasRange) {
      auto ordered = std::make_unique<TBRNIndexedLocalCursor>(ViewManager, false, true, name);
      if (ResultIndex >= 0) ordered->SetActiveIndex(ResultIndex);
      cursor = std::move(ordered);
    } else {
      cursor = std::make_unique<TBRNLocalCursor>(ViewManager, false, true, name);
    }
    Database->Cursors.AddObject(cursor.get(), false);
  } catch (...) {
    if (!cursor) {
      try {
        ViewManager.Close(false, true);
      } catch (...) {  // the open's failure is the one reported
      }
    }
    throw;
  }
  cursor->QueryLink = this;
  ResultCursor = cursor.get();
  return cursor.release();
}

void TBRNLocalViewQueryManager::PrepareFirstResult() {
  PrepareResultSet(true);
  // A cursor on the view follows its sources: the result table answers a
  // refresh by running this query again.
  if (auto* result = dynamic_cast<TBRNQueryResultTableManager*>(ResultTable))
    result->ViewQuery = true;
}

// ---- TBRNViewQuery

TBRNViewQuery::TBRNViewQuery(TBRNViewManager& viewManager)
    : viewManager_(viewManager), evaluator_(evaluatorOf(viewManager)) {
  // A derived table's view goes with the statement that made it: its
  // manager must go first, or the database would close a manager of a
  // freed view.
  TBRNLocalDatabaseManager& database = viewManager.GetDatabase();
  TBRNCatalog* catalog = database.GetCatalog();
  if (viewManager.GetView()->Transient && catalog != nullptr && !catalog->OnDerivedTableRelease) {
    catalog->OnDerivedTableRelease = [&database](TBRNPrivilegedConfigObject* table) {
      auto* object = dynamic_cast<TBRNPrivilegedSchemaObject*>(table);
      if (object == nullptr || !database.ViewManagers) return;
      try {
        database.ViewManagers->ReleaseManager(object);
      } catch (...) {  // a release reports nothing; the close logged its failure
      }
    };
  }
}

TBRNViewQuery::~TBRNViewQuery() = default;

void TBRNViewQuery::Prepare() {
  if (manager_) return;
  auto manager = std::make_unique<TBRNLocalViewQueryManager>(evaluator_, viewManager_);
  manager->Prepare();
  manager->PrepareFirstResult();
  manager_ = std::move(manager);
}

void TBRNViewQuery::Unprepare(bool releaseQueryState) {
  std::unique_ptr<TBRNLocalViewQueryManager> manager = std::move(manager_);
  TBRNExprToken* query = manager ? manager->Node : nullptr;
  manager.reset();
  if (releaseQueryState && query != nullptr) evaluator_.Unprepare(query);
}

TBRNVirtualTableManager* TBRNViewQuery::GetResultManager() {
  return manager_ ? manager_->ResultTable : nullptr;
}

std::unique_ptr<TBRNCursor> TBRNViewQuery::ExecuteQuery(const std::string& name, bool indexed,
                                                        bool readOnly) {
  if (!manager_) throw std::logic_error("The query of the view is not prepared");
  bool built = false;
  TBRNCursor* cursor = nullptr;
  manager_->ExecuteQuery(true, name, false, built, cursor, indexed, readOnly);
  if (cursor == nullptr) throw std::logic_error("The query of the view gave no cursor");
  // The caller owns the cursor: the database's handle table and the query
  // forget it (an enclosing query may link the cursor to itself, and then
  // this query hears nothing of its close). The cursor keeps its link for
  // the rows it loads; it holds the view manager, and so this query, open.
  if (manager_->Database != nullptr) manager_->Database->Cursors.RemoveObject(cursor, false);
  manager_->CursorClosed(*cursor);
  return std::unique_ptr<TBRNCursor>(cursor);
}

void TBRNViewQuery::OpenFilterLevel(TBRNCursor& cursor) {
  if (auto* local = dynamic_cast<TBRNLocalCursor*>(&cursor)) local->AddFilterLevel();
}

// ---- Registration

namespace {

class TBRNLocalSchemaObjectExecution : public TBRNSchemaObjectExecution {
 public:
  std::unique_ptr<TBRNViewQueryManager> CreateViewQueryManager(TBRNViewManager& manager, bool,
                                                               bool) override {
    return std::make_unique<TBRNViewQuery>(manager);
  }
  // Routine bodies are prepared by the procedure handles that run them.
  void PrepareRoutineBody(TBRNRoutine&, TBRNEvaluationContext&) override {}
  void UnprepareRoutineBody(TBRNRoutine&) override {}
};

}  // namespace

void InstallSchemaObjectExecution() {
  static TBRNLocalSchemaObjectExecution execution;
  if (FindSchemaObjectExecution() == nullptr) SetSchemaObjectExecution(&execution);
}

}  // namespace brn

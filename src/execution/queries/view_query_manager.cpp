#include "execution/queries/view_query_manager.h"

#include <stdexcept>
#include <unordered_set>
#include <utility>

#include "execution/cursors/indexed_local_cursor.h"
#include "execution/cursors/local_cursor.h"
#include "execution/evaluator/local_expr_evaluator.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/views.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/ddl/view_manager.h"
#include "sessions/local/local_session_manager.h"
#include "sql/tree/expr_tree_algorithms.h"
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
  // The cursor takes over the user of the view manager that the caller of
  // its CreateCursor opened for it (a cursor that made a user of its own
  // would keep the view in use after it closed).
  if (Sensitive) {
    TBRNCursor* cursor = TBRNQueryManager::OpenResultCursor(cursorName, readOnly, indexed);
    auto* local = dynamic_cast<TBRNLocalCursor*>(cursor);
    if (local == nullptr) return cursor;
    // The cursor holds one user of every view it reads through until it
    // closes.
    try {
      local->AddReferencedView(&ViewManager);
    } catch (...) {
      ReleaseResultCursor();
      throw;
    }
    return cursor;
  }

  // A materialised result: the rows of the result table, seen through the
  // view manager, which forwards them.
  std::unique_ptr<TBRNLocalCursor> cursor;
  const std::string name = ViewManager.GetView()->Name;
  if (indexed || HasRange) {
    auto ordered = std::make_unique<TBRNIndexedLocalCursor>(ViewManager, false, true, name);
    if (ResultIndex >= 0) ordered->SetActiveIndex(ResultIndex);
    cursor = std::move(ordered);
  } else {
    cursor = std::make_unique<TBRNLocalCursor>(ViewManager, false, true, name);
  }
  Database->Cursors.AddObject(cursor.get(), false);
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

// ---- Derived tables released by their statements

namespace {

// The query of a view's open manager; nullptr without one.
TBRNViewQuery* openQueryOf(TBRNLocalDatabaseManager& database, TBRNView& view) {
  if (view.ManagerHandle == 0 || !database.ViewManagers) return nullptr;
  auto* manager = dynamic_cast<TBRNViewManager*>(database.ViewManagers->GetManager(&view));
  return manager != nullptr ? dynamic_cast<TBRNViewQuery*>(manager->GetQueryManager()) : nullptr;
}

bool isTemporaryView(TBRNTemporaryViews& views, const TBRNView* view) {
  for (int32_t i = 0; i < views.Count(); ++i)
    if (views.GetView(i) == view) return true;
  return false;
}

// A derived table whose manager has users when its statement goes is kept:
// its query takes the subquery, and its manager stays open while the table
// lives, so that the query (and the tree it owns) lives as long as the
// table.
bool keepUsedTable(TBRNLocalDatabaseManager& database, TBRNView& view) {
  TBRNViewQuery* query = openQueryOf(database, view);
  if (query == nullptr) return false;
  TBRNSchemaObjectManager* manager = database.ViewManagers->GetManager(&view);
  if (manager->GetUserCount() == 0 || !query->TakeQueryTree()) return false;
  manager->SetKeepOpenFlag(true);
  return true;
}

// Drops the kept derived tables whose managers no longer have users, until
// none is left (dropping one may leave a table it read without users).
void dropUnusedKeptTables(TBRNLocalDatabaseManager& database, TBRNTemporaryViews& views) {
  for (bool dropped = true; dropped;) {
    dropped = false;
    for (int32_t i = views.Count() - 1; i >= 0; --i) {
      TBRNView* view = views.GetView(i);
      TBRNViewQuery* query = openQueryOf(database, *view);
      if (query != nullptr && query->OwnsQueryTree() && database.DropTemporaryViewIfUnused(view))
        dropped = true;
    }
  }
}

// The catalog's release handler: a derived table in use is kept, any other
// goes with its manager.
void releaseDerivedTable(TBRNLocalDatabaseManager& database, TBRNPrivilegedConfigObject*& table) {
  auto* view = dynamic_cast<TBRNView*>(table);
  TBRNSchema* schema =
      database.GetCatalog() != nullptr ? database.GetCatalog()->DefaultSchema : nullptr;
  if (view == nullptr || schema == nullptr || !schema->TemporaryViews || !database.ViewManagers)
    return;
  TBRNTemporaryViews& views = *schema->TemporaryViews;
  try {
    if (isTemporaryView(views, view) &&
        (keepUsedTable(database, *view) || database.DropTemporaryViewIfUnused(view)))
      table = nullptr;
  } catch (...) {
    // Whatever failed, a table still there goes with the statement.
    if (!isTemporaryView(views, view)) table = nullptr;
  }
  if (table != nullptr) {
    // Neither kept nor dropped: the catalog frees the table, its manager
    // first (the database must never close a manager of a freed view).
    try {
      database.ViewManagers->ReleaseManager(view);
    } catch (...) {  // a release reports nothing; the close logged its failure
    }
  }
  try {
    dropUnusedKeptTables(database, views);
  } catch (...) {  // those still there are dropped with the database
  }
}

}  // namespace

// ---- TBRNViewQuery

void TBRNViewQuery::TreeDeleter::operator()(TBRNExprToken* root) const {
  FreeExprTree(root);
}

TBRNViewQuery::TBRNViewQuery(TBRNViewManager& viewManager)
    : viewManager_(viewManager), evaluator_(evaluatorOf(viewManager)) {
  TBRNLocalDatabaseManager& database = viewManager.GetDatabase();
  TBRNCatalog* catalog = database.GetCatalog();
  if (viewManager.GetView()->Transient && catalog != nullptr && !catalog->OnDerivedTableRelease) {
    catalog->OnDerivedTableRelease = [&database](TBRNPrivilegedConfigObject*& table) {
      releaseDerivedTable(database, table);
    };
  }
}

TBRNViewQuery::~TBRNViewQuery() {
  manager_.reset();
  if (!ownedTree_) return;
  // The definition lets go of the query before it is freed; the view goes
  // right after its manager (the database's close or a drop of the kept
  // table).
  TBRNExprToken* query = ownedTree_->ArgumentCount() > 0 ? ownedTree_->Argument(0) : nullptr;
  TBRNView* view = viewManager_.GetView();
  if (view->Definition && view->Definition->Root == query) view->Definition->ClearRoot();
  try {
    evaluator_.Unprepare(query);
  } catch (...) {  // the values go with their nodes all the same
  }
  ownedTree_.reset();
}

bool TBRNViewQuery::TakeQueryTree() {
  if (ownedTree_) return true;
  TBRNView* view = viewManager_.GetView();
  TBRNExprToken* query = view->Definition ? view->Definition->Root : nullptr;
  if (query == nullptr) return false;
  TBRNExprToken* reference = query->Parent;
  std::unique_ptr<TBRNExprToken, TreeDeleter> holder(new TBRNExprToken);
  holder->Kind = tkTableReference;
  holder->Operation = opDerivedTable;
  holder->ObjectID = view->ID;
  holder->Name = view->Name;
  holder->Alias = view->LoadedName;
  if (reference != nullptr) {
    holder->Text = reference->Text;
    holder->CopyPosition(reference);
    for (int32_t i = 0; i < reference->ArgumentCount(); ++i)
      if (reference->Argument(i) == query) reference->SetArgument(i, nullptr);
    if (reference->Left() == query) reference->SetLeft(nullptr);
    if (reference->Right() == query) reference->SetRight(nullptr);
  }
  holder->AddArgument(query);

  // References that leave the query would outlive what they name.
  std::unordered_set<const TBRNExprToken*> inside;
  ForEachNode(query, [&](const TBRNExprToken* node) { inside.insert(node); });
  ForEachNode(query, [&](TBRNExprToken* node) {
    if (node->Link != nullptr && !inside.contains(node->Link)) node->Link = nullptr;
    if (node->JoinTable != nullptr && !inside.contains(node->JoinTable)) node->JoinTable = nullptr;
    if (node->Source != nullptr && !inside.contains(node->Source)) node->Source = nullptr;
  });
  ownedTree_ = std::move(holder);
  return true;
}

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
  // The statement around a derived table leaves its query's state to this
  // query (it may be kept after the statement went).
  if ((releaseQueryState || viewManager_.GetView()->Transient) && query != nullptr)
    evaluator_.Unprepare(query);
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

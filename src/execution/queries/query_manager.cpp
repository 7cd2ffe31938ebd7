#include "execution/queries/query_manager.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <string>
#include <utility>

#include "execution/cursors/indexed_local_cursor.h"
#include "execution/cursors/local_cursor.h"
#include "execution/evaluator/local_expr_evaluator.h"
#include "execution/filters/filter_expr.h"
#include "execution/queries/cursor_value.h"
#include "execution/queries/view_query_manager.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "metadata/binding/query_analysis.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/ddl/schema_object_execution.h"
#include "sessions/ddl/view_manager.h"
#include "sessions/local/local_session_manager.h"
#include "sql/tree/expr_operations.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/expr_tree_algorithms.h"
#include "sql/tree/query_layout.h"
#include "storage/cursors/cursor.h"
#include "storage/cursors/cursor_columns.h"
#include "storage/tables/schema_object_manager.h"
#include "storage/tables/table_environment.h"
#include "storage/tables/table_manager.h"

namespace brn {

namespace {

inline constexpr uint8_t kSharedDatabaseLock = 1;
// The result table's buffers: large, as one build writes many rows at once.
inline constexpr int32_t kResultRowBufferSize = 1048576;
inline constexpr int32_t kResultIndexBufferSize = 2097152;
inline constexpr int32_t kResultBlobBufferSize = 2097152;
// "An error occurred with the %s %s (%s)".
inline constexpr int32_t kQueryErrorCode = 1011;

TBRNExprToken* argumentOrNil(const TBRNExprToken* node, int32_t position) {
  if (node == nullptr || position >= node->ArgumentCount()) return nullptr;
  return node->Argument(position);
}

// The clause marker of operation op among the optional query arguments.
TBRNExprToken* findClause(const TBRNExprToken* query, TBRNExprOperation op) {
  for (int32_t i = qpFixedCount; i < query->ArgumentCount(); ++i) {
    TBRNExprToken* clause = query->Argument(i);
    if (clause != nullptr && clause->Operation == op) return clause;
  }
  return nullptr;
}

bool isSubquery(const TBRNExprToken* query) {
  return query->Operation == opCorrelated || query->Operation == opSubquery;
}

TBRNLocalSessionManager& sessionOf(TBRNLocalExprEvaluator& evaluator) {
  TBRNLocalSessionManager* session = evaluator.GetSession();
  if (session == nullptr) throw std::logic_error("a query runs in a session");
  return *session;
}

// The query manager of a view's query when manager is a view's manager.
TBRNQueryManager* viewQueryOf(TBRNVirtualTableManager* manager) {
  auto* view = dynamic_cast<TBRNViewManager*>(manager);
  if (view == nullptr) return nullptr;
  auto* query = dynamic_cast<TBRNViewQuery*>(view->GetQueryManager());
  return query != nullptr ? query->GetQueryManager() : nullptr;
}

// The Read bracket of a sensitive query's source table while its live
// cursor is opened: the source check, the filter build and the first
// positioning read one state of the table, and the reads inside nest in
// this bracket instead of taking the lock each. Nothing for a source
// without files of its own (a view). Used by the query's thread.
class TSensitiveReadBracket {
 public:
  TSensitiveReadBracket() = default;
  TSensitiveReadBracket(const TSensitiveReadBracket&) = delete;
  TSensitiveReadBracket& operator=(const TSensitiveReadBracket&) = delete;
  ~TSensitiveReadBracket() {
    try {
      End();
    } catch (...) {
      // Only while the open failed: that failure is the one reported.
    }
  }

  // Takes the bracket of Table once; a failure to lock passes on, holding
  // nothing.
  void Take(TBRNVirtualTableManager* Table) {
    if (table_ != nullptr) return;
    auto* table = dynamic_cast<TBRNTableManager*>(Table);
    if (table == nullptr) return;
    table->BeginRead();
    table_ = table;
  }
  // Gives the bracket back and reports a failure to release it.
  void End() {
    if (TBRNTableManager* table = std::exchange(table_, nullptr)) table->EndRead();
  }

 private:
  TBRNTableManager* table_ = nullptr;
};

}  // namespace

// ---------------------------------------------------------------------------
// Construction and preparation

TBRNQueryManager::TBRNQueryManager(TBRNLocalExprEvaluator& Evaluator, TBRNExprToken* Node)
    : TBRNExecutionManager(Evaluator, Node) {
  if (Node == nullptr || Node->Kind != tkQuery)
    throw std::invalid_argument("a query manager runs a query node");
  OnTableReferenced = [this](TBRNVirtualTableManager* table) { AddReferencedTable(table); };
  fixRebuildPolicy();
}

TBRNQueryManager::~TBRNQueryManager() {
  ReleaseAllCursors();
  dropResult();
  closeDatabase();
}

namespace {

// Whether a node reads a value that may differ at every execution of the
// statement holding it: a "?" parameter, or a routine's parameter, variable,
// array or trigger row (another call or loop pass gives another value).
bool isChangingInput(const TBRNExprToken* node) {
  switch (node->Kind) {
    case tkDynamicParamReference:
    case tkRoutineParamReference:
    case tkVariableReference:
    case tkArrayReference:
    case tkArrayElement:
    case tkRowColumnReference:
      return true;
    default:
      return false;
  }
}

// Whether the rows of query depend on such changing input: anywhere in the
// query, in the queries nested in it (derived tables, subqueries, also in
// the select list) or in the set-operation members that follow it. Its own
// RANGE does not count (evaluated again at every execution, it extends or
// cuts the result it reads), nor do its INTO targets (assigned from the
// result) and the parameter list.
bool readsChangingInput(const TBRNExprToken* query) {
  for (int32_t i = 0; i < query->ArgumentCount(); ++i) {
    const TBRNExprToken* argument = query->Argument(i);
    if (argument == nullptr || i == qpParameters || i == qpInto) continue;
    if (i >= qpFixedCount && argument->Operation == opRange) continue;
    const bool complete = WalkExprTree(
        argument,
        [](const TBRNExprToken* node, int32_t) {
          return isChangingInput(node) ? TBRNWalkStep::Stop : TBRNWalkStep::Descend;
        },
        [](const TBRNExprToken*) {});
    if (!complete) return true;
  }
  return false;
}

}  // namespace

void TBRNQueryManager::fixRebuildPolicy() {
  // A result built for other parameter or variable values is rebuilt.
  const bool routineInput = UsesInputParameters(Node) || readsChangingInput(Node);
  const bool setMember = TBRNCatalog::IsSetOperationMember(Node);
  const bool derived = Node->Parent != nullptr && Node->Parent->Kind == tkTableReference;
  if (routineInput) {
    if (setMember || derived)
      RebuildOncePerStatement = true;
    else if (Node->Operation == opCorrelated)
      RebuildAlways = true;
    else if (Node->Operation == opSubquery)
      RebuildOncePerStatement = true;
    else
      RebuildPerCursor = true;
  } else if (TBRNCatalog::HasNoFrom(Node) || Node->Operation == opCorrelated) {
    RebuildAlways = true;
  }
}

void TBRNQueryManager::Prepare() {
  if (prepared_) return;
  TBRNEvaluationScope scope(Evaluator, *Context);
  Evaluator.Prepare(Node);
  if (TBRNExprToken* from = FromList(Node))
    for (TBRNExprToken* table : from->Arguments())
      if (table != nullptr) OpenSource(table);
  if (TBRNQueryManager* following = followingManager()) {
    following->OnTableReferenced = OnTableReferenced;
    following->Prepare();
  }
  prepared_ = true;
  collectReferencedTables();
  // The parameters get their values now, so that a caller can set them
  // before the first execution.
  BeforeExecute();
}

void TBRNQueryManager::BeforeExecute() {
  TBRNExprToken* parameters = argumentOrNil(Node, qpParameters);
  if (parameters == nullptr) return;
  TBRNEvaluationScope scope(Evaluator, *Context);
  for (TBRNExprToken* parameter : parameters->Arguments())
    if (parameter != nullptr) Evaluator.Evaluate(parameter);
}

TBRNQueryManager* TBRNQueryManager::followingManager() {
  TBRNExprToken* following = argumentOrNil(Node, qpSetOperand);
  if (following == nullptr) return nullptr;
  if (following->Value == nullptr) {
    TBRNEvaluationScope scope(Evaluator, *Context);
    Evaluator.CreateTokenValue(following);
  }
  if (auto* holder = dynamic_cast<TBRNQueryManagerHolder*>(following->GetOwnValue()))
    if (TBRNQueryManager* manager = holder->GetQueryManager()) return manager;
  if (!ownedFollowing_) ownedFollowing_ = std::make_unique<TBRNQueryManager>(Evaluator, following);
  return ownedFollowing_.get();
}

// ---------------------------------------------------------------------------
// Referenced tables

void TBRNQueryManager::AddReferencedTable(TBRNVirtualTableManager* Table) {
  if (Table == nullptr) return;
  for (const TReferencedTable& known : ReferencedTables)
    if (known.Manager == Table) return;
  TReferencedTable entry;
  entry.Manager = Table;
  entry.Identity = Table->GetCatalogObject();
  if (auto* object = Table->GetCatalogObject()) entry.ObjectID = object->ID;
  entry.ChangeCount = Table->GetChangeCount();
  ReferencedTables.push_back(entry);
}

void TBRNQueryManager::collectReferencedTables() {
  // The receiver may be an enclosing query's: every table found here goes
  // there too, and to this manager's own list.
  auto report = [this](TBRNVirtualTableManager* table) {
    AddReferencedTable(table);
    if (OnTableReferenced) OnTableReferenced(table);
  };
  auto walkQueryManager = [&](TBRNQueryManager* nested) {
    if (nested == nullptr || nested == this) return;
    nested->Prepare();
    for (const TReferencedTable& table : nested->ReferencedTables) report(table.Manager);
  };
  auto walkCursor = [&](TBRNCursor* cursor) {
    auto* local = dynamic_cast<TBRNLocalCursor*>(cursor);
    if (local == nullptr) return;
    TBRNVirtualTableManager& manager = local->GetTableManager();
    if (auto* view = dynamic_cast<TBRNViewManager*>(&manager)) {
      if (TBRNQueryManager* query = viewQueryOf(view)) {
        walkQueryManager(query);
        return;
      }
      if (TBRNTableManager* base = view->GetBaseTableManager()) {
        report(base);
        return;
      }
    }
    report(&manager);
  };
  std::vector<TBRNExprToken*> pending;
  auto push = [&](TBRNExprToken* node) {
    if (node != nullptr) pending.push_back(node);
  };
  push(argumentOrNil(Node, qpSelectList));
  push(argumentOrNil(Node, qpWhere));
  push(argumentOrNil(Node, qpGroupBy));
  push(argumentOrNil(Node, qpHaving));
  push(argumentOrNil(Node, qpOrderBy));
  if (TBRNExprToken* from = FromList(Node)) {
    for (TBRNExprToken* table : from->Arguments()) {
      if (table == nullptr) continue;
      if (auto* value = dynamic_cast<TBRNCursorValue*>(table->GetOwnValue()))
        walkCursor(value->GetCursor());
      push(argumentOrNil(table, trConditions));
      push(argumentOrNil(table, trJoins));
    }
  }
  while (!pending.empty()) {
    TBRNExprToken* node = pending.back();
    pending.pop_back();
    if (node->Kind == tkQuery) {
      if (node->Value == nullptr) {
        TBRNEvaluationScope scope(Evaluator, *Context);
        Evaluator.CreateTokenValue(node);
      }
      if (auto* holder = dynamic_cast<TBRNQueryManagerHolder*>(node->GetOwnValue()))
        walkQueryManager(holder->GetQueryManager());
      continue;
    }
    if (node->Kind == tkTableReference) {
      if (auto* value = dynamic_cast<TBRNCursorValue*>(node->GetOwnValue()))
        walkCursor(value->GetCursor());
    }
    push(node->Left());
    push(node->Right());
    for (TBRNExprToken* argument : node->Arguments()) push(argument);
  }
  if (ownedFollowing_)
    for (const TReferencedTable& table : ownedFollowing_->ReferencedTables) report(table.Manager);
  recordChangeCounts();
}

void TBRNQueryManager::recordChangeCounts() {
  for (TReferencedTable& table : ReferencedTables) {
    table.ChangeCount = table.Manager->GetChangeCount();
    table.Identity = table.Manager->GetCatalogObject();
    table.ObjectID = table.Identity != nullptr ? table.Manager->GetCatalogObject()->ID : 0;
  }
}

int64_t TBRNQueryManager::ReferencedChangeCount() {
  int64_t sum = 0;
  for (const TReferencedTable& table : ReferencedTables) sum += table.Manager->GetChangeCount();
  return sum;
}

bool TBRNQueryManager::SourcesChanged() {
  bool changed = false;
  for (TReferencedTable& table : ReferencedTables) {
    // HasChanged releases the Read lock it takes before it returns.
    if (table.Manager->HasChanged(true)) changed = true;
    const int64_t count = table.Manager->GetChangeCount();
    const void* identity = table.Manager->GetCatalogObject();
    const int32_t id = identity != nullptr ? table.Manager->GetCatalogObject()->ID : 0;
    if (count != table.ChangeCount || identity != table.Identity || id != table.ObjectID)
      changed = true;
    table.ChangeCount = count;
    table.Identity = identity;
    table.ObjectID = id;
  }
  return changed;
}

// ---------------------------------------------------------------------------
// The first and later executions

void TBRNQueryManager::evaluateRange() {
  TBRNExprToken* range = findClause(Node, opRange);
  if (range == nullptr) return;
  TBRNEvaluationScope scope(Evaluator, *Context);
  TBRNExprToken* start = argumentOrNil(range, 0);
  TBRNExprToken* end = argumentOrNil(range, 1);
  RangeStart = 1;
  if (start != nullptr) {
    Evaluator.Evaluate(start);
    if (!start->Value->GetNull())
      RangeStart = int32_t(std::clamp<int64_t>(start->Value->GetAsBigInt(), 1, INT32_MAX));
  }
  RangeEnd = -1;
  if (end != nullptr) {
    Evaluator.Evaluate(end);
    if (!end->Value->GetNull())
      RangeEnd = int32_t(std::clamp<int64_t>(end->Value->GetAsBigInt(), 0, INT32_MAX));
  }
}

TBRNResultAction TBRNQueryManager::PrepareResultSet(bool CreateCursor) {
  if (ResultTable == nullptr) {
    TBRNCatalog& catalog = GetCatalog();
    int32_t index = -1;
    Sensitive =
        RequestSensitive && PredefinedDefinition == nullptr && catalog.CanBeSensitive(Node, index);
    SensitiveIndex = Sensitive ? index : -1;
    SensitiveOrdered = Sensitive && TBRNCatalog::HasOrderBy(Node);
    HasInto = TBRNCatalog::HasInto(Node);
    if (!Sensitive) {
      NoFrom = TBRNCatalog::HasNoFrom(Node);
      if (!NoFrom) {
        AggregatesOnly = TBRNCatalog::SelectsOnlyAggregates(Node);
        if (AggregatesOnly) {
          IndexedAggregate = catalog.CanUseIndexForAggregate(Node);
        } else {
          IsDistinct = TBRNCatalog::NeedsDistinctResult(Node);
          HasGroupBy = TBRNCatalog::HasGroupBy(Node);
          HasOrderBy = TBRNCatalog::HasOrderBy(Node);
        }
      }
      HasFollowingQuery = TBRNCatalog::HasFollowingSetOperation(Node);
      IsSetMember = TBRNCatalog::IsSetOperationMember(Node);
      // A set operation without ALL makes this member's rows distinct too.
      if (!IsDistinct && HasFollowingQuery) IsDistinct = TBRNCatalog::NeedsDistinctResult(Node);
    }
    HasRange = TBRNCatalog::HasRange(Node);
    if (HasRange) evaluateRange();
    try {
      if (Sensitive) {
        TBRNExprToken* source = FromList(Node)->Argument(0);
        sensitiveSource_ = source;
        TBRNLocalDatabaseManager* contextDatabase = Context->CurrentDatabase;
        if (!source->DatabaseName.empty()) {
          Database = dynamic_cast<TBRNLocalDatabaseManager*>(
              sessionOf(Evaluator).OpenDatabase(source->DatabaseName, kSharedDatabaseLock));
          if (Database == nullptr) throw std::logic_error("the session opened no local database");
        } else {
          contextDatabase->OpenDatabase(kSharedDatabaseLock);
          Database = contextDatabase;
        }
        TBRNSchemaObjectManager* manager =
            Database->OpenSchemaObjectManager(source->SchemaName, source->Name, false);
        ResultTable = dynamic_cast<TBRNVirtualTableManager*>(manager);
        if (ResultTable == nullptr) {
          manager->Close(false, true);
          throw std::logic_error("the source of a sensitive query is not a table or view");
        }
        resultOpened_ = true;
      } else {
        createResultTable(CreateCursor);
      }
    } catch (...) {
      closeDatabase();
      throw;
    }
    return TBRNResultAction::Build;
  }

  if (HasRange) evaluateRange();
  PlanCached = true;
  if (RebuildAlways || (RebuildOncePerStatement && ExecutionCount == 0) ||
      (CreateCursor && RebuildPerCursor)) {
    if (Sensitive)
      SourcesChanged();
    else
      emptyResultTable();
    return TBRNResultAction::Build;
  }
  if (Sensitive) return SourcesChanged() ? TBRNResultAction::Build : TBRNResultAction::Reuse;
  if ((CreateCursor && !Built) || (Built && SourcesChanged())) {
    emptyResultTable();
    return TBRNResultAction::Build;
  }
  if (topRowsKept_ >= 0 && (RangeEnd < 0 || RangeEnd > topRowsKept_)) {
    // Only the first rows were kept: a range reaching past them needs the
    // rows that were left out.
    emptyResultTable();
    return TBRNResultAction::Build;
  }
  if (HasGroupBy || HasOrderBy || IsDistinct || HasFollowingQuery || AggregatesOnly || NoFrom ||
      !Built)
    return TBRNResultAction::Reuse;
  if (RangeEnd > BuiltRangeEnd || (RangeEnd == -1 && BuiltRangeEnd != -1)) {
    ExtendRange = true;
    PlanCached = false;
    return TBRNResultAction::Build;
  }
  return TBRNResultAction::Reuse;
}

void TBRNQueryManager::createResultTable(bool CreateCursor) {
  (void)CreateCursor;  // The cursor opens its own user of the manager.
  TBRNLocalDatabaseManager* database = Context->CurrentDatabase;
  if (database == nullptr) throw std::logic_error("a query runs on a database");
  database->OpenDatabase(kSharedDatabaseLock);
  Database = database;
  TBRNBaseTable* table = PredefinedDefinition;
  if (table == nullptr) {
    table = Database->CreateTemporaryTable("Result", false);
    try {
      table->SetMaxRowBufferSize(kResultRowBufferSize);
      table->SetMaxIndexBufferSize(kResultIndexBufferSize);
      table->SetMaxBlobBufferSize(kResultBlobBufferSize);
      // The sources were opened by Prepare: whether one is encrypted is
      // known from their cursors.
      bool encrypted = false;
      if (TBRNExprToken* from = FromList(Node))
        for (TBRNExprToken* item : from->Arguments())
          if (auto* value = dynamic_cast<TBRNCursorValue*>(item->GetOwnValue()))
            if (auto* cursor = dynamic_cast<TBRNLocalCursor*>(value->GetCursor()))
              encrypted = encrypted || cursor->GetTableManager().GetEncrypted();
      EncryptResult = encrypted;
      if (encrypted) table->SetEncrypted(true);
      Database->GetCatalog()->DefineResultTable(Node, table, false, true);
      Database->CommitCreateTemporaryTable(table);
    } catch (...) {
      try {
        Database->RollbackCreateTemporaryTable(table);
      } catch (...) {
        // The definition's own failure is the one reported.
      }
      throw;
    }
  }
  ResultDefinition = table;
  TBRNSchemaObjectManager* manager = nullptr;
  try {
    const std::string schema =
        table->GetSchema() != nullptr && table->GetSchema() != Database->GetCatalog()->DefaultSchema
            ? table->GetSchema()->Name
            : std::string();
    manager = Database->OpenSchemaObjectManager(schema, table->Name, true);
  } catch (...) {
    if (PredefinedDefinition == nullptr) {
      try {
        Database->DropTemporaryTable(table);
      } catch (...) {
      }
    }
    ResultDefinition = nullptr;
    throw;
  }
  ResultTable = dynamic_cast<TBRNVirtualTableManager*>(manager);
  resultOpened_ = true;
  if (auto* result = dynamic_cast<TBRNQueryResultTableManager*>(manager))
    if (PredefinedDefinition == nullptr) result->QueryManager = this;
  Built = false;
}

void TBRNQueryManager::emptyResultTable() {
  if (auto* table = dynamic_cast<TBRNTableManager*>(ResultTable)) table->EmptyTable(true);
  Built = false;
  ExtendRange = false;
  topRowsKept_ = -1;
}

int32_t TBRNQueryManager::topRowsLimit() const {
  if (!HasOrderBy || !HasRange || RangeEnd < 0) return -1;
  if (IsDistinct || HasGroupBy || AggregatesOnly || NoFrom || HasFollowingQuery || IsSetMember)
    return -1;
  // A query read by another one (subqueries, derived tables, views, the
  // query of a data change) or filling a given table sees every row.
  if (Node->Parent != nullptr || Node->Operation != opNone || PredefinedDefinition != nullptr ||
      dynamic_cast<const TBRNLocalViewQueryManager*>(this) != nullptr)
    return -1;
  // A cursor of an earlier execution still shows its own range.
  if (!linkedCursors_.empty()) return -1;
  if (findResultIndex(kOrderByIndexName) < 0) return -1;
  return RangeEnd;
}

bool TBRNQueryManager::resultTableAlive() const {
  // A derived table's view manager is freed with the statement's tree,
  // whatever users it has: a live result on it may outlast it.
  if (ResultTable == nullptr || Database == nullptr) return false;
  for (TBRNSchemaObjectManagers* managers :
       {static_cast<TBRNSchemaObjectManagers*>(Database->TableManagers.get()),
        static_cast<TBRNSchemaObjectManagers*>(Database->ViewManagers.get())}) {
    if (managers == nullptr) continue;
    int32_t handle = 0;
    TBRNSchemaObjectManager* manager = nullptr;
    while (managers->NextManager(handle, manager))
      if (manager == ResultTable) return true;
  }
  return false;
}

void TBRNQueryManager::CloseResultTable() {
  if (ResultTable == nullptr || !resultOpened_) return;
  resultOpened_ = false;
  if (resultTableAlive()) ResultTable->Close(false, true);
}

void TBRNQueryManager::dropResult() noexcept {
  try {
    if (!resultTableAlive()) {
      ResultTable = nullptr;
      resultOpened_ = false;
    }
    if (auto* result = dynamic_cast<TBRNQueryResultTableManager*>(ResultTable))
      if (result->QueryManager == this) result->QueryManager = nullptr;
    CloseResultTable();
    if (!Sensitive && ResultDefinition != nullptr && PredefinedDefinition == nullptr &&
        Database != nullptr) {
      // A working table's files are not deleted by its manager: they go
      // here, once the manager is closed.
      if (auto* table = dynamic_cast<TBRNTableManager*>(ResultTable)) {
        table->ForceClose();
        table->DeleteFiles();
      }
      Database->DropTemporaryTable(ResultDefinition);
    }
  } catch (...) {
    // Freeing a query leaves nothing to report its clean-up with.
  }
  ResultTable = nullptr;
  ResultDefinition = nullptr;
}

void TBRNQueryManager::closeDatabase() noexcept {
  TBRNLocalDatabaseManager* database = std::exchange(Database, nullptr);
  if (database == nullptr) return;
  try {
    TBRNDatabaseManager* manager = database;
    if (database->Session != nullptr && database != Context->CurrentDatabase &&
        database != Context->DefaultDatabase)
      database->Session->CloseDatabase(manager);
    else
      database->CloseDatabase(false);
  } catch (...) {
    // The database logs its own close failure.
  }
}

// ---------------------------------------------------------------------------
// Executing

bool TBRNQueryManager::ExecuteQuery(bool CreateCursor, const std::string& CursorName,
                                    bool ReportProgress, bool& BuiltOut, TBRNCursor*& Cursor,
                                    bool Indexed, bool ReadOnly) {
  if (!prepared_) Prepare();
  TBRNLocalSessionManager& session = sessionOf(Evaluator);
  // A nested query reads the outer query's current rows through its own
  // context: every entry that is not one of its own sources is copied.
  if (TBRNEvaluationContext* outer = Evaluator.GetContext();
      outer != nullptr && outer != Context.get()) {
    if (Context->CurrentRows.size() < outer->CurrentRows.size())
      Context->CurrentRows.resize(outer->CurrentRows.size());
    std::vector<bool> own(Context->CurrentRows.size(), false);
    if (TBRNExprToken* from = FromList(Node))
      for (TBRNExprToken* table : from->Arguments())
        if (table != nullptr && table->RowSource >= 0 && size_t(table->RowSource) < own.size())
          own[size_t(table->RowSource)] = true;
    for (size_t i = 0; i < outer->CurrentRows.size(); ++i)
      if (!own[i]) Context->CurrentRows[i] = outer->CurrentRows[i];
  }
  if (CreateCursor) {
    Execute();
    Cursor = nullptr;
    ResultCursor = nullptr;
  }
  BuiltOut = false;
  bool continueFlag = true;
  bool wroteHeader = false;
  bool progressOpen = false;
  TBRNCursor* made = nullptr;
  try {
    if (ReportProgress) {
      session.BeginProgress();
      progressOpen = true;
    }
    // Ends before the failure handling below, which may free the cursor.
    TSensitiveReadBracket sourceRead;
    if (Sensitive) sourceRead.Take(ResultTable);
    const TBRNResultAction action = PrepareResultSet(CreateCursor);
    if (Sensitive) sourceRead.Take(ResultTable);
    if (action == TBRNResultAction::Build) {
      WritePlan = RequestPlan && (CreateCursor || IsSetMember);
      if (WritePlan) {
        if (ExtendRange) {
          WriteCachedPlanHeader();
        } else {
          ClearPlan();
          WritePlanHeader(TBRNPlanVerb::Query, IsSetMember);
        }
        wroteHeader = true;
      }
      BuiltOut = true;
      Building = true;
      struct TBuildingFlag {
        bool& flag;
        ~TBuildingFlag() { flag = false; }
      } building{Building};
      if (Sensitive) {
        if (CreateCursor) {
          made = OpenResultCursor(CursorName, ReadOnly, Indexed);
          OpenSensitiveResult(*made, false);
        } else if (Cursor != nullptr) {
          OpenSensitiveResult(*Cursor);
        }
      } else if (PredefinedDefinition == nullptr || FillPredefined) {
        continueFlag = BuildResultSet(ReportProgress);
        if (CreateCursor) made = OpenResultCursor(CursorName, ReadOnly, Indexed);
      }
    } else {
      WritePlan = false;
      if (CreateCursor) {
        made = OpenResultCursor(CursorName, ReadOnly, Indexed);
        if (Sensitive) OpenSensitiveResult(*made, false);
      } else if (Sensitive && Cursor != nullptr) {
        OpenSensitiveResult(*Cursor);
      }
    }
    recordChangeCounts();
    if (made != nullptr) {
      // Without RANGE every row shows: no sequence range is laid over the
      // cursor (a range of 1 to the end would show the same rows).
      if (HasRange) made->SetSequenceRange(RangeStart, RangeEnd < 0 ? INT32_MAX : RangeEnd);
      made->FirstRow();
      RowsAffected = made->GetRowCount();
      CheckScalarResult(*made);
      if (HasInto) {
        AssignIntoTargets(*made);
        ReleaseResultCursor();
        made = nullptr;
      }
    } else if (!CreateCursor && Cursor != nullptr && HasRange) {
      // The caller's kept cursor shows the range evaluated now (its bounds
      // may read "?" parameters).
      Cursor->SetSequenceRange(RangeStart, RangeEnd < 0 ? INT32_MAX : RangeEnd);
    }
    sourceRead.End();
    Cursor = CreateCursor ? made : Cursor;
    ++ExecutionCount;
    if (progressOpen) {
      progressOpen = false;
      session.EndProgress();
      ExecutionTime = session.GetElapsedTime();
    }
    if (CreateCursor && wroteHeader && WritePlan && !IsSetMember)
      WritePlanFooter(TBRNPlanVerb::Query, !continueFlag);
  } catch (...) {
    if (progressOpen) {
      try {
        session.EndProgress();
        ExecutionTime = session.GetElapsedTime();
      } catch (...) {
      }
    }
    if (made != nullptr) ReleaseResultCursor();
    if (CreateCursor) Cursor = nullptr;
    throw;
  }
  return continueFlag;
}

void TBRNQueryManager::CheckScalarResult(TBRNCursor& Cursor) {
  if (!isSubquery(Node)) return;
  const TBRNExprToken* parent = Node->Parent;
  if (parent == nullptr || parent->Kind == tkQuery) return;
  switch (parent->Operation) {
    case opDerivedTable:
    case opExists:
    case opIn:
    case opNotIn:
      return;
    default:
      break;
  }
  if (parent->Kind == tkTableReference) return;
  if (Cursor.GetRowCount() < 2) return;
  throw EBRNException(
      kQueryErrorCode,
      FormatText("An error occurred with the %s %s (%s)",
                 {"query", Node->Text, "A scalar query can only return a single value"}));
}

void TBRNQueryManager::AssignIntoTargets(TBRNCursor& Cursor) {
  TBRNExprToken* targets = argumentOrNil(Node, qpInto);
  if (targets == nullptr) return;
  std::unique_ptr<TBRNCursorRow> row = Cursor.CreateRow();
  Cursor.ReadRow(*row);
  TBRNCursorColumns& columns = Cursor.GetCursorColumns();
  TBRNEvaluationScope scope(Evaluator, *Context);
  for (int32_t i = 0; i < targets->ArgumentCount(); ++i) {
    TBRNExprToken* target = targets->Argument(i);
    if (target == nullptr || i >= columns.Count()) continue;
    Evaluator.Evaluate(target);
    TBRNColumn* column = columns.GetColumn(i)->GetTableColumn();
    if (column == nullptr) continue;
    const int32_t position = column->Index;
    if (Cursor.GetRowNumber() == 0 || position < 0)
      target->Value->SetNull(true);
    else
      target->Value->Assign(*row->Values.GetItem(position));
  }
}

// ---------------------------------------------------------------------------
// Result cursors

void TBRNQueryManager::linkCursor(TBRNCursor& Cursor) {
  if (auto* local = dynamic_cast<TBRNLocalCursor*>(&Cursor)) {
    local->QueryLink = this;
    linkedCursors_.push_back(&Cursor);
  }
  ResultCursor = &Cursor;
}

TBRNCursor* TBRNQueryManager::OpenResultCursor(const std::string& CursorName, bool ReadOnly,
                                               bool Indexed) {
  if (ResultTable == nullptr || Database == nullptr) return nullptr;
  // The cursor takes over one user of the manager.
  ResultTable->Open(false);
  std::unique_ptr<TBRNCursor> cursor;
  try {
    // An indexed cursor needs an index to move by.
    if (Sensitive) {
      // A table made without any index (not even the internal key) has no
      // order but its rows' own: its cursor reads in physical order.
      const bool hasIndex =
          SensitiveIndex >= 0 && SensitiveIndex < ResultTable->GetIndexes()->Count();
      const bool indexed = (Indexed || HasRange || SensitiveOrdered) && hasIndex;
      cursor = ResultTable->CreateCursor(CursorName, ReadOnly, false, indexed);
      if (indexed && (cursor->GetActiveIndex() < 0 || SensitiveOrdered))
        cursor->SetActiveIndex(SensitiveIndex);
      if (auto* local = dynamic_cast<TBRNLocalCursor*>(cursor.get()))
        local->SetConstrained(Constrained);
      buildSensitiveColumns(*cursor);
    } else {
      const int32_t index = ResultIndex >= 0 ? ResultIndex : findResultIndex(kOrderByIndexName);
      const bool indexed = (Indexed || HasRange) && index >= 0;
      cursor = ResultTable->CreateCursor(CursorName, true, false, indexed);
      if (indexed) cursor->SetActiveIndex(index);
    }
  } catch (...) {
    if (!cursor) {
      try {
        ResultTable->Close(false, true);
      } catch (...) {
      }
    }
    throw;
  }
  Database->Cursors.AddObject(cursor.get(), false);
  TBRNCursor* result = cursor.release();
  linkCursor(*result);
  return result;
}

namespace {

// Frees cursor when database's cursors still hold it; answers whether it
// did.
bool freeRegisteredCursor(TBRNLocalDatabaseManager* database, TBRNCursor* cursor) noexcept {
  if (database == nullptr || cursor->Handle == 0 ||
      database->Cursors.FindObject(cursor->Handle) != cursor)
    return false;
  try {
    database->Cursors.RemoveObject(cursor, false);
    delete cursor;
  } catch (...) {
    // A cursor's close logs its own failure.
  }
  return true;
}

}  // namespace

void TBRNQueryManager::ReleaseResultCursor() noexcept {
  TBRNCursor* cursor = std::exchange(ResultCursor, nullptr);
  if (cursor == nullptr) return;
  // The cursor's close takes it out of linkedCursors_.
  freeRegisteredCursor(Database, cursor);
}

void TBRNQueryManager::ReleaseAllCursors() noexcept {
  ReleaseResultCursor();
  std::vector<TBRNCursor*> cursors = std::move(linkedCursors_);
  linkedCursors_.clear();
  for (TBRNCursor* cursor : cursors) {
    if (auto* local = dynamic_cast<TBRNLocalCursor*>(cursor)) local->QueryLink = nullptr;
    freeRegisteredCursor(Database, cursor);
  }
}

void TBRNQueryManager::CursorClosed(TBRNCursor& Cursor) noexcept {
  if (ResultCursor == &Cursor) ResultCursor = nullptr;
  std::erase_if(sensitiveFilters_, [&](const auto& entry) { return entry.first == &Cursor; });
  std::erase(linkedCursors_, &Cursor);
}

// ---------------------------------------------------------------------------
// Sensitive results

void TBRNQueryManager::buildSensitiveColumns(TBRNCursor& Cursor) {
  sensitiveComputed_.clear();
  TBRNExprToken* list = argumentOrNil(Node, qpSelectList);
  if (list == nullptr) return;
  TBRNColumns& tableColumns = Cursor.GetTableColumns();
  TBRNCursorColumns& columns = Cursor.GetCursorColumns();
  columns.Clear();
  // Select expressions other than plain columns become columns of the
  // cursor's own copy of the table columns, numbered below every column of
  // the table, after its columns in the row; LoadQueryRow computes them.
  int32_t number = -1;
  for (int32_t i = 0; i < tableColumns.Count(); ++i)
    number = std::min(number, tableColumns.GetItem(i)->ID - 1);
  for (TBRNExprToken* item : list->Arguments()) {
    if (item == nullptr || item->Hidden) continue;
    TBRNExprToken* expression = argumentOrNil(item, 0);
    TBRNColumn* column = nullptr;
    if (expression != nullptr && expression->Kind == tkColumnReference)
      column = static_cast<TBRNColumn*>(tableColumns.FindByName(expression->Name, false));
    if (column == nullptr) {
      auto added = std::make_unique<TBRNColumn>(nullptr);
      added->Name = "__Column" + std::to_string(-number);
      added->ID = number--;
      added->SetDataType(item->DataType);
      added->SetSubType(item->SubType);
      if (item->Size != 0) added->SetLength(item->Size);
      added->SetScale(item->Scale);
      added->SetCollation(item->Collation);
      column = added.get();
      tableColumns.AddObject(added.release());
      tableColumns.Validate();
      sensitiveComputed_.emplace_back(expression, column->Index);
    }
    auto cursorColumn = std::make_unique<TBRNCursorColumn>(nullptr);
    cursorColumn->ID = column->ID;
    cursorColumn->Name = item->Alias.empty() ? column->Name : item->Alias;
    cursorColumn->Description = column->Description;
    cursorColumn->ReadOnly = column->ReadOnly || column->ID < 0;
    cursorColumn->SetTableColumn(column);
    columns.AddObject(cursorColumn.get());
    cursorColumn.release();
  }
}

void TBRNQueryManager::OpenSensitiveResult(TBRNCursor& Cursor, bool MoveFirst) {
  auto* local = dynamic_cast<TBRNLocalCursor*>(&Cursor);
  TBRNExprToken* source = sensitiveSource_;
  if (WritePlan && source != nullptr) {
    AddPlanLine(FormatText("%s: %s rows",
                           {TablePlanTitle(source), std::to_string(Cursor.GetTotalRowCount())}));
    WriteSensitiveResultPlan(Cursor.GetActiveIndexName());
  }
  if (local == nullptr || source == nullptr) return;
  TBRNExprToken* conditions = argumentOrNil(source, trConditions);
  if (conditions == nullptr || conditions->ArgumentCount() == 0) return;
  if (WritePlan) AddSectionTitle("Filtering");
  // The filters of an earlier execution on this same cursor go first; those
  // of another cursor are only forgotten (that cursor may be closed).
  std::vector<std::pair<TBRNLocalCursor*, TBRNFilterHandle>> previous =
      std::move(sensitiveFilters_);
  sensitiveFilters_.clear();
  for (const auto& [cursor, handle] : previous)
    if (cursor == local) local->DropQueryFilter(handle);
  for (TBRNExprToken* condition : conditions->Arguments()) {
    if (condition == nullptr) continue;
    TBRNQueryFilter* filter =
        local->AddQueryFilter(*Context, condition, false, source, false, false, false);
    sensitiveFilters_.emplace_back(local, filter->Handle);
    if (WritePlan) WriteFilterPlan(TablePlanTitle(source), *filter);
    local->ActivateQueryFilter(filter->Handle);
  }
  if (MoveFirst) local->FirstRow();
}

bool TBRNQueryManager::CheckSensitiveSources() {
  if (!Sensitive || Building) return false;
  return SourcesChanged();
}

void TBRNQueryManager::LoadQueryRow(TBRNCursorRow& Row) {
  // The live queries of the views the cursor reads through come first:
  // this query's expressions may read the columns they compute.
  if (Sensitive)
    if (TBRNQueryManager* inner = viewQueryOf(ResultTable))
      if (inner != this && inner->Sensitive) inner->LoadQueryRow(Row);
  if (sensitiveComputed_.empty() || sensitiveSource_ == nullptr) return;
  const int32_t slot = sensitiveSource_->RowSource;
  if (slot < 0) return;
  TBRNEvaluationScope scope(Evaluator, *Context);
  if (Context->CurrentRows.size() <= size_t(slot)) Context->CurrentRows.resize(size_t(slot) + 1);
  const TBRNValues* previous = Context->CurrentRows[size_t(slot)];
  Context->CurrentRows[size_t(slot)] = &Row.Values;
  for (const auto& [expression, position] : sensitiveComputed_) {
    TBRNValue* target = Row.Values.GetItem(position);
    if (Row.RowNumber == 0 || expression == nullptr) {
      target->SetNull(true);
      continue;
    }
    // A failing expression leaves NULL, as a generated column does.
    try {
      Evaluator.Evaluate(expression);
      target->Assign(*expression->Value);
    } catch (const std::exception&) {
      target->SetNull(true);
    }
  }
  Context->CurrentRows[size_t(slot)] = previous;
}

// ---------------------------------------------------------------------------
// The result table's manager

TBRNQueryResultTableManager::TBRNQueryResultTableManager(TBRNTableEnvironment& Environment,
                                                         TBRNBaseTable* Table)
    : TBRNTableManager(Environment, Table) {}

int64_t TBRNQueryResultTableManager::GetChangeCount() {
  if (QueryManager == nullptr || QueryManager->Building) return TBRNTableManager::GetChangeCount();
  return QueryManager->ReferencedChangeCount();
}

bool TBRNQueryResultTableManager::HasChanged(bool Refresh) {
  if (QueryManager == nullptr || QueryManager->Building || !(Refresh || ViewQuery)) return false;
  bool built = false;
  TBRNCursor* cursor = nullptr;
  QueryManager->ExecuteQuery(false, std::string(), false, built, cursor, false, false);
  return built;
}

}  // namespace brn

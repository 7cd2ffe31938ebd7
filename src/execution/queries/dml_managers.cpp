#include "execution/queries/dml_managers.h"

#include <cmath>
#include <stdexcept>
#include <string>

#include "execution/cursors/local_cursor.h"
#include "execution/evaluator/local_expr_evaluator.h"
#include "execution/evaluator/reference_values.h"
#include "execution/queries/cursor_value.h"
#include "execution/queries/query_manager.h"
#include "foundation/values/param_value.h"
#include "sessions/local/local_session_manager.h"
#include "sessions/progress_scope.h"
#include "sql/tree/expr_operations.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/query_layout.h"
#include "storage/cursors/cursor.h"
#include "storage/cursors/cursor_columns.h"
#include "storage/rows/execution_seam.h"
#include "storage/tables/virtual_table_manager.h"

namespace brn {

namespace {

TBRNExprToken* argumentOrNil(const TBRNExprToken* Node, int32_t Index) {
  return Node != nullptr && Index < Node->ArgumentCount() ? Node->Argument(Index) : nullptr;
}

TBRNLocalCursor& localCursorOf(TBRNCursorValue& Value) {
  auto* cursor = dynamic_cast<TBRNLocalCursor*>(Value.GetCursor());
  if (cursor == nullptr) throw std::logic_error("the target of a data change has no local cursor");
  return *cursor;
}

int32_t percentOf(int64_t Done, int64_t Total) {
  if (Total <= 0) return 100;
  return int32_t(std::lround(double(Done) / double(Total) * 100.0));
}

// The target's table transaction for the rows of one statement: committed
// by Commit, rolled back when the statement leaves without it (the row's
// error is the one that reaches the caller). The row set stays fixed while
// the rows are walked, so that rows the statement writes are not visited.
class TTableTransaction {
 public:
  TTableTransaction(TBRNLocalCursor& Cursor, bool FixRows) : cursor_(Cursor), fixed_(FixRows) {
    cursor_.StartTableTransaction();
    if (fixed_) cursor_.SetFixedRowSet(true);
  }
  ~TTableTransaction() {
    if (fixed_) cursor_.SetFixedRowSet(false);
    if (done_) return;
    try {
      cursor_.RollbackTableTransaction();
    } catch (...) {
      // Only reached while the statement's own error unwinds.
    }
  }
  TTableTransaction(const TTableTransaction&) = delete;
  TTableTransaction& operator=(const TTableTransaction&) = delete;

  void Commit() {
    if (fixed_) {
      fixed_ = false;
      cursor_.SetFixedRowSet(false);
    }
    // A commit whose write failed is still rolled back by the destructor,
    // so that the table reads as before the statement.
    cursor_.CommitTableTransaction();
    done_ = true;
  }

 private:
  TBRNLocalCursor& cursor_;
  bool fixed_;
  bool done_ = false;
};

// Assigns Source to the target column Column names (a column reference of
// the prepared tree whose value refers to the target row's column).
void assignColumn(TBRNLocalExprEvaluator& Evaluator, TBRNExprToken* Column, TBRNValue& Source) {
  Evaluator.Evaluate(Column);
  if (Column->Value == nullptr) throw std::logic_error("target column without a value");
  Column->Value->Assign(Source);
}

}  // namespace

// ---------------------------------------------------------------------------
// Common frame

TBRNDmlManager::TBRNDmlManager(TBRNLocalExprEvaluator& Evaluator, TBRNExprToken* Node,
                               TBRNPlanVerb Verb)
    : TBRNExecutionManager(Evaluator, Node), verb_(Verb) {
  target_ = argumentOrNil(Node, 0);
  TBRNExprToken* from = FromList(target_);
  table_ = argumentOrNil(from, 0);
  if (table_ == nullptr) throw std::invalid_argument("data change statement without target table");
}

void TBRNDmlManager::Prepare() {
  TBRNEvaluationScope scope(Evaluator, *Context);
  Evaluator.Prepare(Node);
  if (TBRNExprToken* from = FromList(target_))
    for (TBRNExprToken* table : from->Arguments())
      if (table != nullptr) OpenSource(table);
}

void TBRNDmlManager::BeforeExecute() {
  TBRNExprToken* parameters = argumentOrNil(target_, qpParameters);
  if (parameters == nullptr) return;
  TBRNEvaluationScope scope(Evaluator, *Context);
  for (TBRNExprToken* parameter : parameters->Arguments())
    if (parameter != nullptr) Evaluator.Evaluate(parameter);
}

bool TBRNDmlManager::reportProgress(int64_t Done, int64_t Total) {
  TBRNLocalSessionManager* session = Evaluator.GetSession();
  return session == nullptr || session->UpdateProgress(percentOf(Done, Total));
}

void TBRNDmlManager::countRow(TBRNCursorValue& Target, int32_t& Count) {
  ++Count;
  if (flushInterval_ > 0 && Count % flushInterval_ == 0) {
    localCursorOf(Target).FlushTableTransaction();
    RowsAffected = Count;
  }
}

bool TBRNDmlManager::Execute() {
  TBRNExecutionManager::Execute();
  ClearPlan();
  TBRNLocalSessionManager* session = Evaluator.GetSession();
  if (session == nullptr) throw std::logic_error("a data change needs a local session");
  bool completed = true;
  {
    TBRNProgressScope<TBRNLocalSessionManager> progress(*session);
    TBRNEvaluationScope scope(Evaluator, *Context);
    try {
      // The target line below comes with its own section title.
      if (RequestPlan) WritePlanHeader(verb_);
      TBRNCursorValue& target = OpenSource(table_);
      TBRNLocalCursor& cursor = localCursorOf(target);
      flushInterval_ = cursor.GetTableManager().GetRowCacheCapacity();
      if (RequestPlan)
        WriteTargetTablePlan(table_->Name, cursor.GetRowCount());
      completed = executeRows(target);
    } catch (...) {
      ExecutionTime = session->GetElapsedTime();
      throw;
    }
  }
  ExecutionTime = session->GetElapsedTime();
  if (RequestPlan) WritePlanFooter(verb_, !completed);
  return completed;
}

// ---------------------------------------------------------------------------
// INSERT

TBRNInsertManager::TBRNInsertManager(TBRNLocalExprEvaluator& Evaluator, TBRNExprToken* Node)
    : TBRNDmlManager(Evaluator, Node, TBRNPlanVerb::Insert) {
  if (TBRNExprToken* query = argumentOrNil(target_, qpSourceQuery)) {
    Query = std::make_unique<TBRNQueryManager>(Evaluator, query);
    Query->RequestSensitive = true;
  }
}

TBRNInsertManager::~TBRNInsertManager() = default;

void TBRNInsertManager::Prepare() {
  TBRNDmlManager::Prepare();
  if (Query != nullptr) Query->Prepare();
}

bool TBRNInsertManager::executeRows(TBRNCursorValue& Target) {
  int32_t count = 0;
  bool completed = true;
  TTableTransaction transaction(localCursorOf(Target), false);
  try {
    if (Query != nullptr)
      completed = insertQuery(Target, count);
    else
      insertValues(Target, count);
  } catch (...) {
    // The rows written before the failing one are rolled back with it.
    RowsAffected = 0;
    throw;
  }
  transaction.Commit();
  RowsAffected = count;
  return completed;
}

void TBRNInsertManager::insertValues(TBRNCursorValue& Target, int32_t& Count) {
  TBRNExprToken* columns = argumentOrNil(target_, qpSelectList);
  TBRNExprToken* rows = argumentOrNil(target_, qpValues);
  if (columns == nullptr || rows == nullptr) return;
  TBRNCursor& cursor = *Target.GetCursor();
  TBRNCursorRow& row = *Target.GetRow();
  for (TBRNExprToken* values : rows->Arguments()) {
    if (values == nullptr) continue;
    row.Clear();
    const int32_t n = std::min(columns->ArgumentCount(), values->ArgumentCount());
    for (int32_t i = 0; i < n; ++i) {
      TBRNExprToken* value = values->Argument(i);
      if (value == nullptr) continue;
      Evaluator.Evaluate(value);
      assignColumn(Evaluator, columns->Argument(i), *value->Value);
    }
    if (cursor.InsertRow(row)) countRow(Target, Count);
    // Output parameters give back what was stored (generated and default
    // values included).
    for (int32_t i = 0; i < n; ++i) {
      TBRNExprToken* value = values->Argument(i);
      if (value == nullptr || value->Kind != tkDynamicParamReference) continue;
      auto* parameter = dynamic_cast<TBRNDynamicParamReferenceValue*>(value->GetOwnValue());
      if (parameter == nullptr) continue;
      const int32_t direction = parameter->GetDirection();
      if (direction != pmOutput && direction != pmInputOutput) continue;
      TBRNExprToken* column = columns->Argument(i);
      Evaluator.Evaluate(column);
      parameter->Assign(*column->Value);
    }
  }
}

bool TBRNInsertManager::insertQuery(TBRNCursorValue& Target, int32_t& Count) {
  bool built = false;
  TBRNCursor* source = nullptr;
  // The rows are read in the result's natural order: no index is needed
  // (and a result over a keyless table has none).
  if (!Query->ExecuteQuery(true, "Query", false, built, source, false, true) || source == nullptr)
    return source != nullptr;
  struct TRelease {
    TBRNQueryManager& Query;
    ~TRelease() { Query.ReleaseResultCursor(); }
  } release{*Query};
  TBRNExprToken* columns = argumentOrNil(target_, qpSelectList);
  TBRNCursor& cursor = *Target.GetCursor();
  TBRNCursorRow& row = *Target.GetRow();
  // A sensitive result may be the target table itself: its rows stay those
  // it had when the loop began, so that inserted rows are not read again.
  struct TFixRows {
    TBRNLocalCursor* Cursor;
    explicit TFixRows(TBRNCursor* Source) : Cursor(dynamic_cast<TBRNLocalCursor*>(Source)) {
      if (Cursor != nullptr) Cursor->SetFixedRowSet(true);
    }
    ~TFixRows() {
      if (Cursor != nullptr) Cursor->SetFixedRowSet(false);
    }
    TFixRows(const TFixRows&) = delete;
    TFixRows& operator=(const TFixRows&) = delete;
  } fixRows(source);
  TBRNCursorRow sourceRow(*source);
  const int64_t total = source->GetRowCount();
  const int32_t n = columns != nullptr ? columns->ArgumentCount() : 0;
  // Where each cursor column of the result sits in its rows.
  TBRNCursorColumns& sourceColumns = source->GetCursorColumns();
  std::vector<int32_t> positions;
  for (int32_t i = 0; i < n && i < sourceColumns.Count(); ++i)
    positions.push_back(sourceColumns.GetColumn(i)->GetTableColumn()->Index);
  bool go = true;
  source->FirstRow();
  while (go && !source->GetEof()) {
    source->ReadRow(sourceRow);
    if (sourceRow.RowStatus != 1) {
      row.Clear();
      for (size_t i = 0; i < positions.size(); ++i)
        assignColumn(Evaluator, columns->Argument(int32_t(i)),
                     *sourceRow.Values.GetItem(positions[i]));
      if (cursor.InsertRow(row)) countRow(Target, Count);
    }
    source->NextRow();
    go = reportProgress(Count, total);
  }
  return go;
}

// ---------------------------------------------------------------------------
// UPDATE and DELETE

void TBRNFilteredDmlManager::prepareFilters() {
  DropSourceFilters();
  TBRNExprToken* where = argumentOrNil(target_, qpWhere);
  TBRNExprToken* from = FromList(target_);
  bool titled = false;
  auto title = [&] {
    if (RequestPlan && !titled) AddSectionTitle("Filtering");
    titled = true;
  };
  if (from != nullptr)
    for (TBRNExprToken* table : from->Arguments()) {
      TBRNExprToken* conditions = argumentOrNil(table, trConditions);
      if (table == nullptr || conditions == nullptr) continue;
      for (TBRNExprToken* condition : conditions->Arguments()) {
        if (condition == nullptr) continue;
        title();
        TBRNQueryFilter& filter = AddSourceFilter(condition, table, condition, false);
        if (RequestPlan)
          WriteFilterPlan(table->Name, filter);
      }
    }
  if (where != nullptr)
    for (TBRNExprToken* condition : where->Arguments()) {
      if (condition == nullptr) continue;
      title();
      if (RequestPlan) WriteResidualConditionPlan(condition);
    }
  if (from != nullptr)
    for (TBRNExprToken* table : from->Arguments()) {
      TBRNExprToken* conditions = argumentOrNil(table, trConditions);
      if (table == nullptr || conditions == nullptr) continue;
      for (TBRNExprToken* condition : conditions->Arguments())
        if (condition != nullptr) ActivateSourceFilter(condition);
    }
}

bool TBRNFilteredDmlManager::residualConditionsHold() {
  TBRNExprToken* where = argumentOrNil(target_, qpWhere);
  if (where == nullptr) return true;
  for (TBRNExprToken* condition : where->Arguments()) {
    if (condition == nullptr) continue;
    Evaluator.Evaluate(condition);
    if (condition->Value == nullptr || condition->Value->GetNull() ||
        !condition->Value->GetAsBoolean())
      return false;
  }
  return true;
}

bool TBRNFilteredDmlManager::executeRows(TBRNCursorValue& Target) {
  prepareFilters();
  TBRNLocalCursor& cursor = localCursorOf(Target);
  int32_t count = 0;
  bool go = true;
  TTableTransaction transaction(cursor, true);
  // A row that leaves the cursor moves the cursor on to its neighbour, so a
  // row to delete is remembered and deleted once the walk has left it.
  std::unique_ptr<TBRNCursorRow> pending;
  bool hasPending = false;
  auto flushPending = [&] {
    if (!hasPending) return;
    hasPending = false;
    if (changeRow(Target, *pending)) countRow(Target, count);
  };
  if (FirstJoinedRow(table_, true, go)) {
    const int64_t total = cursor.GetRowCount();
    while (go) {
      if (residualConditionsHold()) {
        if (deferChange()) {
          if (pending == nullptr) pending = cursor.CreateRow();
          pending->Assign(*Target.GetRow());
          hasPending = true;
        } else if (changeRow(Target, *Target.GetRow())) {
          countRow(Target, count);
        }
      }
      const bool more = NextJoinedRow(table_, true, go);
      flushPending();
      if (!more) break;
      go = go && reportProgress(count, total);
    }
  }
  flushPending();
  transaction.Commit();
  RowsAffected = count;
  return go;
}

TBRNUpdateManager::TBRNUpdateManager(TBRNLocalExprEvaluator& Evaluator, TBRNExprToken* Node)
    : TBRNFilteredDmlManager(Evaluator, Node, TBRNPlanVerb::Update) {}

bool TBRNUpdateManager::changeRow(TBRNCursorValue& Target, TBRNCursorRow& Row) {
  TBRNCursor& cursor = *Target.GetCursor();
  TBRNLocalSessionManager* session = Evaluator.GetSession();
  const bool pessimistic = session != nullptr && session->RecordLockProtocol == kBRNLockPessimistic;
  // The lock comes before the new values are computed, so that they are
  // computed from the row as it is stored.
  if (pessimistic) cursor.GetCurrentRow(Row, true);
  try {
    TBRNExprToken* columns = argumentOrNil(target_, qpSelectList);
    TBRNExprToken* values = argumentOrNil(target_, qpValues);
    const int32_t n = columns != nullptr && values != nullptr
                          ? std::min(columns->ArgumentCount(), values->ArgumentCount())
                          : 0;
    for (int32_t i = 0; i < n; ++i) {
      TBRNExprToken* column = columns->Argument(i);
      TBRNExprToken* value = values->Argument(i);
      if (column == nullptr || value == nullptr) continue;
      Evaluator.Evaluate(value);
      if (column->Kind == tkRowValue) {
        // (a, b) = (x, y): member by member.
        for (int32_t j = 0; j < column->ArgumentCount(); ++j) {
          TBRNExprToken* member = argumentOrNil(value, j);
          if (member == nullptr) continue;
          assignColumn(Evaluator, column->Argument(j), *member->Value);
        }
      } else {
        assignColumn(Evaluator, column, *value->Value);
      }
    }
    return cursor.UpdateRow(Row);
  } catch (...) {
    if (pessimistic) {
      try {
        cursor.CancelRow(Row);
      } catch (...) {
        // The row's own error is the one reported.
      }
    }
    throw;
  }
}

TBRNDeleteManager::TBRNDeleteManager(TBRNLocalExprEvaluator& Evaluator, TBRNExprToken* Node)
    : TBRNFilteredDmlManager(Evaluator, Node, TBRNPlanVerb::Delete) {}

bool TBRNDeleteManager::changeRow(TBRNCursorValue& Target, TBRNCursorRow& Row) {
  return Target.GetCursor()->DeleteRow(Row);
}

std::unique_ptr<TBRNDmlManager> CreateDmlManager(TBRNLocalExprEvaluator& Evaluator,
                                                 TBRNExprToken* Node) {
  if (Node == nullptr || Node->Kind != tkStatement) return nullptr;
  switch (Node->Operation) {
    case opInsert:
      return std::make_unique<TBRNInsertManager>(Evaluator, Node);
    case opUpdate:
      return std::make_unique<TBRNUpdateManager>(Evaluator, Node);
    case opDelete:
      return std::make_unique<TBRNDeleteManager>(Evaluator, Node);
    default:
      return nullptr;
  }
}

}  // namespace brn

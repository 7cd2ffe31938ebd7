#include "execution/queries/cursor_value.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "execution/cursors/local_cursor.h"
#include "execution/evaluator/evaluator_context.h"
#include "execution/evaluator/local_expr_evaluator.h"
#include "execution/queries/query_manager.h"
#include "execution/queries/view_query_manager.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog/views.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/ddl/view_manager.h"
#include "sessions/local/local_session_manager.h"
#include "sql/tree/expr_token.h"
#include "storage/cursors/cursor.h"

namespace brn {

namespace {

inline constexpr uint8_t kSharedDatabaseLock = 1;

// The query of the derived table whose result cursor shows; nullptr for
// any other cursor.
TBRNLocalViewQueryManager* derivedQueryOf(const TBRNLocalCursor& cursor) {
  auto* query = dynamic_cast<TBRNLocalViewQueryManager*>(cursor.QueryLink);
  if (query == nullptr) return nullptr;
  const TBRNView* view = query->ViewManager.GetView();
  return view != nullptr && view->Transient ? query : nullptr;
}

// The cursor of a derived table shows what its query read when the cursor
// was opened: the values of the statement's "?" parameters of then. A live
// result runs its query again when its rebuild policy asks for a run at
// this use (at every use, or at the first one of a statement execution),
// counting the run, and builds its filters again for the values of now;
// with a RANGE it runs to evaluate the range again. The range goes on the
// cursor again either way (a materialised result evaluated it in the
// refresh).
void refreshDerivedTable(TBRNLocalViewQueryManager& query, TBRNLocalCursor& cursor) {
  if (query.Sensitive) {
    const bool runs =
        query.RebuildAlways || (query.RebuildOncePerStatement && query.ExecutionCount == 0);
    if (runs || query.HasRange) {
      bool built = false;
      TBRNCursor* none = nullptr;
      query.ExecuteQuery(false, std::string(), false, built, none, false, false);
    }
    if (runs) cursor.CheckTableChanged(true);
  }
  if (query.HasRange)
    cursor.SetSequenceRange(query.RangeStart, query.RangeEnd < 0 ? INT32_MAX : query.RangeEnd);
}

}  // namespace

TBRNCursorValue::TBRNCursorValue(TBRNLocalExprEvaluator* Evaluator, TBRNExprToken* Node)
    : Evaluator(Evaluator), Node(Node) {}

TBRNCursorValue::~TBRNCursorValue() {
  try {
    closeCursor();
    closeDatabase();
  } catch (...) {
    // A destructor reports nothing; the database's own close logs it.
  }
}

void TBRNCursorValue::closeCursor() {
  cursorToken_.reset();
  Row.reset();
  Cursor.reset();
}

void TBRNCursorValue::closeDatabase() {
  TBRNLocalDatabaseManager* database = std::exchange(database_, nullptr);
  if (database != nullptr) database->CloseDatabase(false);
}

void TBRNCursorValue::SetCursor(std::unique_ptr<TBRNCursor> NewCursor) {
  closeCursor();
  Cursor = std::move(NewCursor);
  if (!Cursor) return;
  Row = std::make_unique<TBRNCursorRow>(*Cursor);
  cursorToken_ = std::make_shared<int>(0);
}

void TBRNCursorValue::OpenTableReference() {
  if (Cursor) {
    // A materialised derived table runs its query again in the refresh.
    Cursor->RefreshCursor();
    if (auto* local = dynamic_cast<TBRNLocalCursor*>(Cursor.get()))
      if (TBRNLocalViewQueryManager* derived = derivedQueryOf(*local))
        refreshDerivedTable(*derived, *local);
  } else {
    TBRNEvaluatorContext* context = Evaluator->GetEvaluatorContext();
    if (context == nullptr || context->CurrentDatabase == nullptr)
      throw std::logic_error("a table reference is opened in an evaluator context with a database");
    TBRNLocalDatabaseManager* database = nullptr;
    if (!Node->DatabaseName.empty()) {
      TBRNLocalSessionManager* session = Evaluator->GetSession();
      if (session == nullptr) throw std::logic_error("another database needs the session");
      database = dynamic_cast<TBRNLocalDatabaseManager*>(
          session->OpenDatabase(Node->DatabaseName, kSharedDatabaseLock));
      if (database == nullptr) throw std::logic_error("the session opened no local database");
    } else {
      database = context->CurrentDatabase;
      database->OpenDatabase(kSharedDatabaseLock);
    }
    database_ = database;
    try {
      TBRNCursor* cursor = database->OpenTableCursor(Node->SchemaName, Node->Name, false);
      // The value is the cursor's one owner: the database's handle table
      // forgets it.
      database->Cursors.RemoveObject(cursor, false);
      SetCursor(std::unique_ptr<TBRNCursor>(cursor));
    } catch (...) {
      closeCursor();
      try {
        closeDatabase();
      } catch (...) {
        // The open's failure is the one reported.
      }
      throw;
    }
  }
  Cursor->FirstRow();
  ReadCurrentRow();
}

void TBRNCursorValue::ReadCurrentRow() {
  if (!Cursor) return;
  Cursor->ReadRow(*Row);
}

const TBRNValues* TBRNCursorValue::GetRowValues() const {
  return Row ? &Row->Values : nullptr;
}

TBRNValue* TBRNCursorValue::GetReferencedValue() const {
  if (!Cursor) {
    throw EBRNException(
        kCursorErrorCode,
        FormatText("An error occurred with the cursor %s at line %s and column %s (%s)",
                   {Node->Name, std::to_string(Node->Line), std::to_string(Node->Column),
                    "An attempt was made to access a closed cursor"}));
  }
  return Row->Values.GetItem(0);
}

TBRNQueryManager* DerivedTableQueryOf(const TBRNExprToken* node) {
  auto* value = dynamic_cast<TBRNCursorValue*>(node->GetOwnValue());
  auto* cursor = value != nullptr ? dynamic_cast<TBRNLocalCursor*>(value->GetCursor()) : nullptr;
  return cursor != nullptr ? derivedQueryOf(*cursor) : nullptr;
}

void RestartQueryExecutions(TBRNExprToken* root) {
  std::vector<TBRNExprToken*> pending{root};
  while (!pending.empty()) {
    TBRNExprToken* node = pending.back();
    pending.pop_back();
    if (node == nullptr) continue;
    if (node != root && (node->Kind == tkBlock || node->Kind == tkRoutineStatement)) continue;
    if (node->Kind == tkQuery) {
      if (auto* holder = dynamic_cast<TBRNQueryManagerHolder*>(node->GetOwnValue()))
        if (TBRNQueryManager* query = holder->GetQueryManager()) query->ExecutionCount = 0;
    } else if (node->Kind == tkTableReference) {
      // A derived table's query is run by its view, not by a value of the
      // tree: it is reached through the cursor on that view.
      if (TBRNQueryManager* derived = DerivedTableQueryOf(node)) derived->ExecutionCount = 0;
    }
    pending.push_back(node->Left());
    pending.push_back(node->Right());
    for (TBRNExprToken* argument : node->Arguments()) pending.push_back(argument);
  }
}

}  // namespace brn

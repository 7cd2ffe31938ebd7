#include "execution/queries/cursor_value.h"

#include <stdexcept>
#include <utility>

#include "execution/evaluator/evaluator_context.h"
#include "execution/evaluator/local_expr_evaluator.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/local/local_session_manager.h"
#include "sql/tree/expr_token.h"
#include "storage/cursors/cursor.h"

namespace brn {

namespace {

inline constexpr uint8_t kSharedDatabaseLock = 1;

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
    Cursor->RefreshCursor();
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

}  // namespace brn

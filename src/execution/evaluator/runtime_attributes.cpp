// The session facts and error attributes the local evaluator answers.

#include <string>

#include "execution/evaluator/local_expr_evaluator.h"
#include "foundation/text/environment.h"
#include "foundation/text/exception.h"
#include "platform/system_info.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/tables.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/engine_manager.h"
#include "sessions/local/local_session_manager.h"
#include "sql/tree/expr_token.h"
#include "storage/rows/row_file.h"
#include "storage/tables/table_manager.h"

namespace brn {

namespace {

// CURRENT_VERSION as a Decimal scaled by 10000.
constexpr int64_t kEngineVersion = 21400;

}  // namespace

void TBRNLocalExprEvaluator::GetErrorInfo(TBRNExprToken* node) {
  const EBRNException* error =
      evaluatorContext_ != nullptr ? evaluatorContext_->CurrentError : nullptr;
  if (node->Operation == opErrorCode)
    node->Value->SetAsInteger(error != nullptr ? error->ErrorCode : 0);
  else if (node->Operation == opErrorMsg)
    node->Value->SetAsString(error != nullptr ? error->ErrorMessage : std::string());
}

void TBRNLocalExprEvaluator::GetOperation(TBRNExprToken* node) {
  if (context_ == nullptr) return;
  switch (context_->TriggerOperation) {
    case 0:
      node->Value->SetAsString("Insert");
      return;
    case 1:
      node->Value->SetAsString("Update");
      return;
    case 2:
      node->Value->SetAsString("Delete");
      return;
    default:
      return;
  }
}

void TBRNLocalExprEvaluator::GetCurrentVersion(TBRNExprToken* node) {
  node->Value->SetAsDecimal(kEngineVersion);
}

void TBRNLocalExprEvaluator::GetCurrentComputer(TBRNExprToken* node) {
  if (session_ != nullptr && session_->Engine != nullptr && session_->Engine->Environment)
    node->Value->SetAsString(session_->Engine->Environment->GetComputerName());
  else
    node->Value->SetAsString(SystemComputerName());
}

void TBRNLocalExprEvaluator::GetCurrentDatabase(TBRNExprToken* node) {
  const TBRNLocalDatabaseManager* database =
      evaluatorContext_ != nullptr ? evaluatorContext_->CurrentDatabase : nullptr;
  node->Value->SetAsString(database != nullptr ? database->GetDatabaseName() : std::string());
}

void TBRNLocalExprEvaluator::GetCurrentUser(TBRNExprToken* node) {
  std::string name;
  if (session_ != nullptr) session_->GetUserName(name);
  node->Value->SetAsString(name);
}

namespace {

// The base table name of the current database's default schema, as the
// session's user sees it; nullptr when there is none.
TBRNBaseTable* defaultSchemaTable(TBRNLocalDatabaseManager& database, const std::string& name) {
  TBRNCatalog* catalog = database.GetCatalog();
  if (catalog == nullptr) return nullptr;
  return dynamic_cast<TBRNBaseTable*>(
      catalog->FindTable(catalog->DefaultSchema, name, database.GetCurrentUser(), false));
}

}  // namespace

void TBRNLocalExprEvaluator::GetInTransaction(TBRNExprToken* node) {
  TBRNLocalDatabaseManager* database =
      evaluatorContext_ != nullptr ? evaluatorContext_->CurrentDatabase : nullptr;
  TBRNExprToken* named = node->ArgumentCount() > 0 ? node->Argument(0) : nullptr;
  if (named == nullptr) {
    node->Value->SetAsBoolean(database != nullptr && database->InTransaction());
    return;
  }
  Evaluate(named);
  const TBRNBaseTable* table =
      database != nullptr ? defaultSchemaTable(*database, named->Value->GetAsString()) : nullptr;
  node->Value->SetAsBoolean(table != nullptr && table->IsInTransaction());
}

void TBRNLocalExprEvaluator::GetLastIdentity(TBRNExprToken* node) {
  node->Value->SetAsInteger(0);
  if (node->ArgumentCount() < 2 || node->Argument(0) == nullptr || node->Argument(1) == nullptr)
    return;
  Evaluate(node->Argument(0));
  Evaluate(node->Argument(1));
  TBRNLocalDatabaseManager* database =
      evaluatorContext_ != nullptr ? evaluatorContext_->CurrentDatabase : nullptr;
  if (database == nullptr) return;
  const std::string tableName = node->Argument(0)->Value->GetAsString();
  TBRNBaseTable* table = defaultSchemaTable(*database, tableName);
  if (table == nullptr) return;
  auto* column = static_cast<TBRNColumn*>(
      table->Columns->FindByName(node->Argument(1)->Value->GetAsString(), false));
  if (column == nullptr || !column->Identity) return;
  // The counter lives in the table's row file header: read it through an
  // open manager, which brings the header up to date.
  TBRNSchemaObjectManager* manager = database->OpenSchemaObjectManager("", table->Name, false);
  int32_t last = 0;
  try {
    if (auto* tableManager = dynamic_cast<TBRNTableManager*>(manager))
      if (TBRNRowsetManager* rows = tableManager->GetRowsetManager())
        if (column->Index >= 0 && size_t(column->Index) < rows->IdentityValues.size())
          last = rows->IdentityValues[size_t(column->Index)];
  } catch (...) {
    manager->Close(false, true);
    throw;
  }
  manager->Close(false, true);
  node->Value->SetAsInteger(last);
}

}  // namespace brn

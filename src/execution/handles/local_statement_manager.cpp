#include "execution/handles/local_statement_manager.h"

#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "execution/cursors/local_cursor.h"
#include "execution/evaluator/local_expr_evaluator.h"
#include "execution/evaluator/reference_values.h"
#include "execution/handles/local_script_manager.h"
#include "execution/queries/cursor_value.h"
#include "execution/queries/dml_managers.h"
#include "execution/queries/query_manager.h"
#include "execution/queries/view_query_manager.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "foundation/values/param_value.h"
#include "metadata/catalog/views.h"
#include "sessions/databases/catalog_manager.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/ddl/ddl_frame.h"
#include "sessions/ddl/view_manager.h"
#include "sessions/local/local_session_manager.h"
#include "sql/tree/expr_operations.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/query_layout.h"
#include "storage/rows/execution_seam.h"

namespace brn {

TBRNLocalStatementManager::TBRNLocalStatementManager(TBRNLocalDatabaseManager& database)
    : TBRNStatementManager(std::make_unique<TBRNReferencedParamValues>()),
      Database(database),
      Session(*database.Session),
      Registration(database, database.Statements, database.Session->Statements) {
  Statement = std::make_unique<TBRNDatabaseStatement>(database);
  Context = std::make_unique<TBRNEvaluatorContext>();
  Context->SetDatabaseManager(&database);
  Context->BindSessionEvents(Session);
  evaluator();  // a session without the local evaluator cannot run statements
  Registration.Register(*this);
}

TBRNLocalStatementManager::~TBRNLocalStatementManager() {
  Registration.Unregister();
  UnprepareLoggingFailure(Session, kBRNOperationFreeStatement, [this] { Unprepare(); });
}

TBRNLocalExprEvaluator& TBRNLocalStatementManager::evaluator() const {
  auto* local = dynamic_cast<TBRNLocalExprEvaluator*>(Session.Evaluator.get());
  if (local == nullptr) throw std::logic_error("The session has no local evaluator");
  return *local;
}

TBRNLocalStatementManager* TBRNLocalStatementManager::Prepare(TBRNLocalDatabaseManager& database,
                                                              const std::string& sql, int32_t line,
                                                              int32_t column) {
  auto* statement = new TBRNLocalStatementManager(database);
  statement->Statement->ErrorLine = line;
  statement->Statement->ErrorColumn = column;
  try {
    statement->PrepareStatement(sql);
  } catch (...) {
    delete statement;
    throw;
  }
  return statement;
}

void TBRNLocalStatementManager::FreeStatement(TBRNLocalStatementManager*& statement) {
  FreeRegisteredHandle(statement, kBRNOperationFreeStatement);
}

void TBRNLocalStatementManager::PrepareStatement(const std::string& sql) {
  AwaitSessionEvaluator(Session);
  Statement->SetText(sql);
  TBRNCatalogReadBracket read(Database);
  try {
    Statement->Compile();
    TBRNExprToken* root = Statement->Root;
    if (root == nullptr) throw EBRNException(kSQLTextErrorCode, "The statement is empty");
    {
      TBRNEvaluationScope scope(evaluator(), *Context);
      evaluator().Prepare(root);
      prepared_ = true;
      if (root->Kind == tkQuery) {
        collectParams(root->ArgumentCount() > qpParameters ? root->Argument(qpParameters)
                                                            : nullptr);
        Query = std::make_unique<TBRNQueryManager>(evaluator(), root);
        Query->Prepare();
      }
      // Data changes
      Dml = CreateDmlManager(evaluator(), root);
      if (Dml != nullptr) {
        TBRNExprToken* target = root->ArgumentCount() > 0 ? root->Argument(0) : nullptr;
        collectParams(target != nullptr && target->ArgumentCount() > qpParameters
                          ? target->Argument(qpParameters)
                          : nullptr);
        Dml->Prepare();
      }
    }
    Statement->ReleaseReferences();
  } catch (...) {
    try {
      Statement->ReleaseReferences();
    } catch (...) {
      // The prepare's error is the one to report.
    }
    throw;
  }
}

void TBRNLocalStatementManager::collectParams(TBRNExprToken* list) {
  Params->Clear();
  if (list == nullptr) return;
  for (TBRNExprToken* parameter : list->Arguments()) {
    if (parameter == nullptr) continue;
    evaluator().Evaluate(parameter);
    Params->Add(parameter->Value);
  }
}

void TBRNLocalStatementManager::resetRunState(TBRNExprToken* root) {
  std::vector<TBRNExprToken*> pending{root};
  while (!pending.empty()) {
    TBRNExprToken* node = pending.back();
    pending.pop_back();
    if (node == nullptr) continue;
    if (node->Kind == tkDynamicParamReference) {
      if (auto* reference = dynamic_cast<TBRNDynamicParamReferenceValue*>(node->GetOwnValue()))
        reference->RefreshType();
    } else if (node->Kind == tkFunction && node->Operation == opRunSum) {
      // Running sums start again at every execution.
      if (node->Value != nullptr) node->Value->SetNull(true);
    } else if (node->Kind == tkQuery && node != root) {
      if (auto* holder = dynamic_cast<TBRNQueryManagerHolder*>(node->GetOwnValue()))
        if (TBRNQueryManager* nested = holder->GetQueryManager()) nested->ExecutionCount = 0;
    } else if (node->Kind == tkTableReference) {
      // A derived table's query is run by its view, not by a value of the
      // statement's tree: it is reached through the cursor on that view.
      if (TBRNQueryManager* derived = DerivedTableQueryOf(node)) derived->ExecutionCount = 0;
    }
    pending.push_back(node->Left());
    pending.push_back(node->Right());
    for (TBRNExprToken* argument : node->Arguments()) pending.push_back(argument);
  }
}

void TBRNLocalStatementManager::Unprepare() {
  if (!prepared_) return;
  prepared_ = false;
  TBRNEvaluationScope scope(evaluator(), *Context);
  Query.reset();
  Dml.reset();
  evaluator().Unprepare(Statement->Root);
}

std::unique_ptr<TBRNParamValues> TBRNLocalStatementManager::CreateParams() {
  return std::make_unique<TBRNReferencedParamValues>();
}

bool TBRNLocalStatementManager::GetSensitive() {
  return Query != nullptr && Query->Sensitive;
}

void TBRNLocalStatementManager::GetPlan(std::string& plan) {
  plan = Query != nullptr ? Query->GetPlanText()
         : Dml != nullptr ? Dml->GetPlanText()
                          : std::string();
}

int32_t TBRNLocalStatementManager::GetRowsAffected() {
  return Query != nullptr ? Query->RowsAffected : Dml != nullptr ? Dml->RowsAffected : 0;
}

int32_t TBRNLocalStatementManager::GetExecutionTime() {
  return ExecutionTime;
}

bool TBRNLocalStatementManager::GetExecutionResult() {
  return ExecutionResult;
}

TBRNCursor* TBRNLocalStatementManager::ExecuteStatement() {
  AwaitSessionEvaluator(Session);
  ExecutionResult = false;
  if (!prepared_) {
    std::logic_error error("The statement is not prepared");
    Session.LogOperationError(error, kBRNOperationExecuteStatement);
    throw error;
  }
  // The handler writes its own failure to the log with the statement's
  // operation code; it is not written a second time here.
  Context->StatementResult = false;
  if (Query != nullptr) {
    TBRNEvaluationScope scope(evaluator(), *Context);
    resetRunState(Statement->Root);
    Query->RequestSensitive = RequestSensitive;
    Query->Constrained = Constrained;
    Query->RequestPlan = RequestPlan;
    Query->ExecutionCount = 0;
    bool built = false;
    TBRNCursor* cursor = nullptr;
    try {
      Query->ExecuteQuery(true, CursorName, true, built, cursor, true, false);
    } catch (const std::exception& error) {
      Session.LogOperationError(error, kBRNOperationExecuteStatement);
      throw;
    }
    ExecutionTime = Query->ExecutionTime;
    return cursor;
  }
  // Data changes
  if (Dml != nullptr) {
    TBRNEvaluationScope scope(evaluator(), *Context);
    resetRunState(Statement->Root);
    Dml->RequestPlan = RequestPlan;
    bool completed = false;
    try {
      completed = Dml->Execute();
    } catch (const std::exception& error) {
      ExecutionTime = Dml->ExecutionTime;
      Session.LogOperationError(error, kBRNOperationExecuteStatement);
      throw;
    }
    ExecutionTime = Dml->ExecutionTime;
    ExecutionResult = completed;
    return nullptr;
  }
  {
    TBRNEvaluationScope scope(evaluator(), *Context);
    evaluator().ExecuteStatement(Statement->Root);
  }
  ExecutionTime = Session.GetElapsedTime();
  ExecutionResult = Context->StatementResult;
  return nullptr;
}

void InstallStatementHandleFactory() {
  TBRNLocalDatabaseManager::SetStatementHandleFactory([](TBRNLocalDatabaseManager& database,
                                                         const std::string& sql, int32_t line,
                                                         int32_t column) -> TBRNStatementManager* {
    return TBRNLocalStatementManager::Prepare(database, sql, line, column);
  });
}

}  // namespace brn

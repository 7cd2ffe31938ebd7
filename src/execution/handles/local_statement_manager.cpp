#include "execution/handles/local_statement_manager.h"

#include <exception>
#include <stdexcept>
#include <string>

#include "execution/evaluator/local_expr_evaluator.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "foundation/values/param_value.h"
#include "sessions/databases/catalog_manager.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/local/local_session_manager.h"
#include "sql/tree/expr_token.h"
#include "storage/rows/execution_seam.h"

namespace brn {

namespace {

// Holds the catalog read bracket of a prepare.
class TCatalogRead {
 public:
  explicit TCatalogRead(TBRNCatalogManager& manager) : manager_(manager) { manager_.BeginRead(); }
  ~TCatalogRead() {
    try {
      manager_.EndRead();
    } catch (...) {
      // The prepare's own error (if any) is the one that counts.
    }
  }
  TCatalogRead(const TCatalogRead&) = delete;
  TCatalogRead& operator=(const TCatalogRead&) = delete;

 private:
  TBRNCatalogManager& manager_;
};

// The statements whose executors are not built yet: queries, INSERT,
// UPDATE and DELETE.
bool isQueryOrDml(const TBRNExprToken* root) {
  if (root->Kind == tkQuery) return true;
  return root->Kind == tkStatement && (root->Operation == opDelete || root->Operation == opInsert ||
                                       root->Operation == opUpdate || root->Operation == opSelect);
}

}  // namespace

TBRNLocalStatementManager::TBRNLocalStatementManager(TBRNLocalDatabaseManager& database)
    : TBRNStatementManager(std::make_unique<TBRNReferencedParamValues>()),
      Database(database),
      Session(*database.Session) {
  Statement = std::make_unique<TBRNDatabaseStatement>(database);
  Context = std::make_unique<TBRNEvaluatorContext>();
  Context->SetDatabaseManager(&database);
  Context->BindSessionEvents(Session);
  evaluator();  // a session without the local evaluator cannot run statements
  Database.Statements.AddObject(this, false);
  try {
    SessionHandle = Session.Statements.Add(&Database, Handle);
  } catch (...) {
    Database.Statements.RemoveObject(this, false);
    throw;
  }
}

TBRNLocalStatementManager::~TBRNLocalStatementManager() {
  unregister();
  try {
    Unprepare();
  } catch (const std::exception& error) {
    Session.LogOperationError(error, kBRNOperationFreeStatement);
  } catch (...) {
    // Nothing to report it with: a destructor never raises.
  }
}

void TBRNLocalStatementManager::unregister() noexcept {
  try {
    if (SessionHandle != 0) {
      // The index may have dropped the handle already (its database
      // closing); a handle given to another object since is left alone.
      TBRNSessionHandleTarget target = Session.Statements.GetTarget(SessionHandle);
      if (target.Database == &Database && target.Handle == Handle)
        Session.Statements.Remove(SessionHandle);
      SessionHandle = 0;
    }
    Database.Statements.RemoveObject(this, false);
  } catch (...) {
    // Both tables answer misuse only; nothing is left to undo here.
  }
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
  if (statement == nullptr) return;
  TBRNLocalStatementManager* freed = statement;
  statement = nullptr;
  freed->unregister();
  try {
    freed->Unprepare();
  } catch (const std::exception& error) {
    freed->Session.LogOperationError(error, kBRNOperationFreeStatement);
    delete freed;
    throw;
  }
  delete freed;
}

void TBRNLocalStatementManager::PrepareStatement(const std::string& sql) {
  Statement->SetText(sql);
  TCatalogRead read(*Database.CatalogManager);
  try {
    Statement->Compile();
    TBRNExprToken* root = Statement->Root;
    if (root == nullptr) throw EBRNException(kSQLTextErrorCode, "The statement is empty");
    if (isQueryOrDml(root))
      throw EBRNException(
          kBRNUnknownErrorCode,
          FormatText("Queries, INSERT, UPDATE and DELETE cannot be executed by this engine yet "
                     "(PREPARE STATEMENT %s)",
                     {sql}));
    {
      TBRNEvaluationScope scope(evaluator(), *Context);
      evaluator().Prepare(root);
      prepared_ = true;
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

void TBRNLocalStatementManager::Unprepare() {
  if (!prepared_) return;
  prepared_ = false;
  TBRNEvaluationScope scope(evaluator(), *Context);
  evaluator().Unprepare(Statement->Root);
}

std::unique_ptr<TBRNParamValues> TBRNLocalStatementManager::CreateParams() {
  return std::make_unique<TBRNReferencedParamValues>();
}

bool TBRNLocalStatementManager::GetSensitive() {
  return false;
}

void TBRNLocalStatementManager::GetPlan(std::string& plan) {
  plan.clear();
}

int32_t TBRNLocalStatementManager::GetRowsAffected() {
  return 0;
}

int32_t TBRNLocalStatementManager::GetExecutionTime() {
  return ExecutionTime;
}

bool TBRNLocalStatementManager::GetExecutionResult() {
  return ExecutionResult;
}

TBRNCursor* TBRNLocalStatementManager::ExecuteStatement() {
  ExecutionResult = false;
  if (!prepared_) {
    std::logic_error error("The statement is not prepared");
    Session.LogOperationError(error, kBRNOperationExecuteStatement);
    throw error;
  }
  // The handler writes its own failure to the log with the statement's
  // operation code; it is not written a second time here.
  Context->StatementResult = false;
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

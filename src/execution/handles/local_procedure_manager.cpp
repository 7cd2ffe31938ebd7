#include "execution/handles/local_procedure_manager.h"

#include <exception>
#include <stdexcept>
#include <string>

#include "execution/evaluator/local_expr_evaluator.h"
#include "execution/handles/declared_statement.h"
#include "execution/handles/local_script_manager.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "foundation/values/param_value.h"
#include "metadata/catalog/routines.h"
#include "metadata/catalog/schemas.h"
#include "sessions/databases/catalog_manager.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/ddl/ddl_frame.h"
#include "sessions/ddl/routine_manager.h"
#include "sessions/local/local_session_manager.h"
#include "sql/tree/expr_token.h"

namespace brn {

namespace {

// Argument positions of a compiled routine's root.
constexpr int32_t kParamsPosition = 0;
constexpr int32_t kResultParamPosition = 2;

TBRNExprToken* argumentOrNull(const TBRNExprToken* node, int32_t index) {
  if (node == nullptr || index >= node->ArgumentCount()) return nullptr;
  return node->Argument(index);
}

// The routine's owner is the current user for the scope.
class TOwnerScope {
 public:
  TOwnerScope(TBRNLocalDatabaseManager& database, TBRNRoutine& routine) : database_(database) {
    database_.PushUser(database_.GetObjectOwner(&routine));
  }
  ~TOwnerScope() { database_.PopUser(); }
  TOwnerScope(const TOwnerScope&) = delete;
  TOwnerScope& operator=(const TOwnerScope&) = delete;

 private:
  TBRNLocalDatabaseManager& database_;
};

}  // namespace

TBRNLocalProcedureManager::TBRNLocalProcedureManager(TBRNLocalDatabaseManager& database)
    : TBRNProcedureManager(std::make_unique<TBRNReferencedParamValues>()),
      Database(database),
      Session(*database.Session),
      Registration(database, database.Procedures, database.Session->Procedures) {
  Context = std::make_unique<TBRNEvaluatorContext>();
  Context->SetDatabaseManager(&database);
  Context->BindSessionEvents(Session);
  evaluator();  // a session without the local evaluator cannot run procedures
  Registration.Register(*this);
}

TBRNLocalProcedureManager::~TBRNLocalProcedureManager() {
  Registration.Unregister();
  UnprepareLoggingFailure(Session, kBRNOperationFreeProcedure, [this] { Unprepare(); });
}

TBRNLocalExprEvaluator& TBRNLocalProcedureManager::evaluator() const {
  auto* local = dynamic_cast<TBRNLocalExprEvaluator*>(Session.Evaluator.get());
  if (local == nullptr) throw std::logic_error("The session has no local evaluator");
  return *local;
}

TBRNProcedure* TBRNLocalProcedureManager::procedure() const {
  auto* manager = dynamic_cast<TBRNRoutineManager*>(Procedure);
  return manager != nullptr ? static_cast<TBRNProcedure*>(manager->GetRoutine()) : nullptr;
}

TBRNLocalProcedureManager* TBRNLocalProcedureManager::Prepare(TBRNLocalDatabaseManager& database,
                                                              const std::string& procedureName) {
  auto* procedure = new TBRNLocalProcedureManager(database);
  try {
    procedure->PrepareProcedure(procedureName);
  } catch (...) {
    delete procedure;
    throw;
  }
  return procedure;
}

void TBRNLocalProcedureManager::FreeProcedure(TBRNLocalProcedureManager*& procedure) {
  FreeRegisteredHandle(procedure, kBRNOperationFreeProcedure);
}

void TBRNLocalProcedureManager::PrepareProcedure(const std::string& procedureName) {
  AwaitSessionEvaluator(Session);
  Unprepare();
  ProcedureName = procedureName;
  {
    TBRNCatalogReadBracket read(Database);
    TBRNSchema* schema = Database.Catalog->DefaultSchema;
    auto* routine = static_cast<TBRNProcedure*>(
        schema->Procedures->FindByNameForUser(procedureName, Database.GetCurrentUser(), true));
    Procedure = Database.RoutineManagers->OpenManager(routine, kBRNLockTypeShared);
  }
  try {
    collectParams();
  } catch (...) {
    try {
      Unprepare();
    } catch (...) {  // the prepare's error passes on
    }
    throw;
  }
}

void TBRNLocalProcedureManager::collectParams() {
  Params->Clear();
  TBRNProcedure* routine = procedure();
  if (routine == nullptr) return;
  TBRNExprToken* root = routine->Definition->Root;
  TBRNEvaluationScope scope(evaluator(), *Context);
  if (TBRNExprToken* list = argumentOrNull(root, kParamsPosition)) {
    for (TBRNExprToken* parameter : list->Arguments()) {
      if (parameter == nullptr) continue;
      evaluator().Evaluate(parameter);
      Params->Add(parameter->Value);
    }
  }
  if (TBRNExprToken* result = argumentOrNull(argumentOrNull(root, kResultParamPosition), 0)) {
    evaluator().Evaluate(result);
    Params->Add(result->Value);
  }
}

void TBRNLocalProcedureManager::Unprepare() {
  TBRNSchemaObjectManager* manager = Procedure;
  if (manager == nullptr) return;
  Procedure = nullptr;
  Params->Clear();
  ResultStatement.reset();
  manager->Close(false, true);
}

std::unique_ptr<TBRNParamValues> TBRNLocalProcedureManager::CreateParams() {
  return std::make_unique<TBRNReferencedParamValues>();
}

int32_t TBRNLocalProcedureManager::GetExecutionTime() {
  return ExecutionTime;
}

TBRNCursor* TBRNLocalProcedureManager::ExecuteProcedure() {
  AwaitSessionEvaluator(Session);
  ExecutionTime = 0;
  ResultStatement.reset();
  TBRNProcedure* routine = procedure();
  if (routine == nullptr) {
    EBRNException error(
        kBRNProcedureNotPreparedCode,
        FormatText("An attempt was made to execute the unprepared procedure %s", {ProcedureName}));
    Session.LogOperationError(error, kBRNOperationExecuteProcedure);
    throw error;
  }
  const TBRNExpr& text = *routine->Definition;
  bool progressOpen = false;
  try {
    if (!Nested) {
      Session.ReportExecutionStatus(osStarting, text, false, 0, false, 0);
      Session.BeginProgress();
      progressOpen = true;
    }
    TBRNCursor* result = nullptr;
    {
      TOwnerScope owner(Database, *routine);
      if (routine->Implementation == kRoutineExternal) {
        routine->CallExternal(*Params);
      } else {
        TBRNExprToken* root = routine->Definition->Root;
        TBRNEvaluationScope scope(evaluator(), *Context);
        try {
          evaluator().ExecuteRoutine(root);
        } catch (...) {
          TakeResultCursor(root, false, ResultStatement);
          throw;
        }
        result = TakeResultCursor(root, !DiscardResult, ResultStatement);
      }
    }
    if (!Nested) {
      progressOpen = false;
      Session.EndProgress();
      ExecutionTime = Session.GetElapsedTime();
      Session.ReportExecutionStatus(osCompleted, text, true, ExecutionTime, false, 0);
    }
    return result;
  } catch (const std::exception& error) {
    if (progressOpen) {
      try {
        Session.EndProgress();
        ExecutionTime = Session.GetElapsedTime();
        Session.ReportExecutionStatus(osNotCompleted, text, true, ExecutionTime, false, 0);
      } catch (...) {  // the execution's error passes on
      }
    }
    Session.LogOperationError(error, kBRNOperationExecuteProcedure);
    throw;
  }
}

void InstallProcedureHandleFactory() {
  TBRNLocalDatabaseManager::SetProcedureHandleFactory(
      [](TBRNLocalDatabaseManager& database,
         const std::string& procedureName) -> TBRNProcedureManager* {
        return TBRNLocalProcedureManager::Prepare(database, procedureName);
      });
}

}  // namespace brn

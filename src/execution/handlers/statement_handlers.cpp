// The handler table's filler, the frame of the SQL-statement handlers, and
// the statements that are single session calls: grants and revokes, job
// switches and resets, server sessions, store files and the SET ... STORE
// and SET MIGRATOR settings.

#include "execution/handlers/statement_handlers.h"

#include <array>
#include <stdexcept>
#include <string>
#include <string_view>

#include "execution/evaluator/evaluator_context.h"
#include "execution/handlers/catalog_handlers.h"
#include "execution/handlers/database_handlers.h"
#include "execution/handlers/handler_frame.h"
#include "execution/handlers/procedural_handlers.h"
#include "foundation/text/exception.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "foundation/values/value.h"
#include "metadata/config/privileges.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/engine_manager.h"
#include "sessions/local/local_session_manager.h"
#include "sql/tree/expr_operations.h"

namespace brn {

namespace handlers {

TBRNLocalSessionManager& SessionOf(TBRNLocalExprEvaluator& evaluator) {
  TBRNLocalSessionManager* session = evaluator.GetSession();
  if (session == nullptr) throw std::logic_error("A statement handler needs a session");
  return *session;
}

TBRNLocalDatabaseManager& DatabaseOf(TBRNLocalExprEvaluator& evaluator) {
  TBRNEvaluatorContext* context = evaluator.GetEvaluatorContext();
  if (context == nullptr || context->CurrentDatabase == nullptr)
    throw std::logic_error("A catalog statement needs a current database");
  return *context->CurrentDatabase;
}

void LogFailure(TBRNLocalExprEvaluator& evaluator, const std::exception& error, int32_t operation) {
  if (operation == 0) return;
  if (TBRNLocalSessionManager* session = evaluator.GetSession())
    session->LogOperationError(error, operation);
}

namespace {

TBRNValue& evaluated(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* clause) {
  if (clause == nullptr) throw std::logic_error("A required clause of the statement is missing");
  evaluator.Evaluate(clause);
  if (clause->Value == nullptr) throw std::logic_error("The clause has no value");
  return *clause->Value;
}

}  // namespace

std::string ClauseText(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* clause) {
  return evaluated(evaluator, clause).GetAsString();
}

int32_t ClauseInteger(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* clause) {
  return evaluated(evaluator, clause).GetAsInteger();
}

bool ClauseBoolean(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* clause) {
  return evaluated(evaluator, clause).GetAsBoolean();
}

int64_t ClauseDecimal(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* clause) {
  return evaluated(evaluator, clause).GetAsDecimal();
}

int32_t ClauseDate(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* clause) {
  return evaluated(evaluator, clause).GetAsDate();
}

int32_t ClauseTime(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* clause) {
  return evaluated(evaluator, clause).GetAsTime();
}

TBRNExprToken* Child(const TBRNExprToken* node, int32_t index) {
  if (node == nullptr || index < 0 || index >= node->ArgumentCount()) return nullptr;
  return node->Argument(index);
}

std::string ChildName(const TBRNExprToken* node, int32_t index) {
  const TBRNExprToken* child = Child(node, index);
  return child != nullptr ? child->Name : std::string();
}

}  // namespace handlers

using namespace handlers;

namespace {

// ---- GRANT and REVOKE. Privileges: children privilege list, object (its
// node kind gives the object class), grantee list; for each privilege, for
// each grantee, one call. Roles: children role list, grantee list. The
// first failure ends the statement; the grants made before it stay.

void grantOrRevokePrivileges(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node, bool grant) {
  TBRNLocalSessionManager& session = SessionOf(evaluator);
  const TBRNExprToken* privileges = Child(node, 0);
  const TBRNExprToken* object = Child(node, 1);
  const TBRNExprToken* grantees = Child(node, 2);
  if (privileges == nullptr || object == nullptr || grantees == nullptr)
    throw std::logic_error("A GRANT or REVOKE statement lacks a clause");
  for (const TBRNExprToken* privilege : privileges->Arguments()) {
    const int32_t kind = PrivilegeFromName(privilege->Name);
    for (const TBRNExprToken* grantee : grantees->Arguments()) {
      switch (object->Kind) {
        case tkDatabaseName:
        case tkStoreName: {
          const int32_t objectClass = object->Kind == tkDatabaseName ? 0 : 1;
          if (grant)
            session.GrantPrivilege(grantee->Name, object->Name, objectClass, kind);
          else
            session.RevokePrivilege(grantee->Name, object->Name, objectClass, kind);
          break;
        }
        default: {
          int32_t objectClass = 0;
          if (object->Kind == tkViewName)
            objectClass = 1;
          else if (object->Kind == tkProcedureName)
            objectClass = 2;
          else if (object->Kind == tkFunctionName)
            objectClass = 3;
          TBRNLocalDatabaseManager& database = DatabaseOf(evaluator);
          if (grant)
            database.GrantPrivilege(grantee->Name, object->Name, objectClass, kind);
          else
            database.RevokePrivilege(grantee->Name, object->Name, objectClass, kind);
          break;
        }
      }
    }
  }
}

void grantPrivileges(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  grantOrRevokePrivileges(evaluator, node, true);
}

void revokePrivileges(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  grantOrRevokePrivileges(evaluator, node, false);
}

void grantOrRevokeRoles(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node, bool grant) {
  TBRNLocalSessionManager& session = SessionOf(evaluator);
  const TBRNExprToken* roles = Child(node, 0);
  const TBRNExprToken* grantees = Child(node, 1);
  if (roles == nullptr || grantees == nullptr)
    throw std::logic_error("A GRANT or REVOKE statement lacks a clause");
  for (const TBRNExprToken* role : roles->Arguments())
    for (const TBRNExprToken* grantee : grantees->Arguments()) {
      if (grant)
        session.GrantRole(role->Name, grantee->Name);
      else
        session.RevokeRole(role->Name, grantee->Name);
    }
}

void grantRoles(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  grantOrRevokeRoles(evaluator, node, true);
}

void revokeRoles(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  grantOrRevokeRoles(evaluator, node, false);
}

// ---- Jobs and server sessions.

// ENABLE and DISABLE JOB(S) reach the engine, whose scheduler switches the
// jobs (a local engine has none), and then let the Jobs table refill.
void enableJob(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNLocalSessionManager& session = SessionOf(evaluator);
  if (Child(node, 0) != nullptr)
    session.Engine->EnableJob(ChildName(node, 0));
  else
    session.Engine->EnableAllJobs();
  session.InvalidateJobsTable();
}

void disableJob(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNLocalSessionManager& session = SessionOf(evaluator);
  if (Child(node, 0) != nullptr)
    session.Engine->DisableJob(ChildName(node, 0));
  else
    session.Engine->DisableAllJobs();
  session.InvalidateJobsTable();
}

void resetJob(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  SessionOf(evaluator).ResetJob(ChildName(node, 0));
}

// The session decides which sessions it can reach: a local one only itself,
// a server session any session of its engine.
void resetSessionStatistics(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  SessionOf(evaluator).ResetSessionStatistics(ClauseInteger(evaluator, Child(node, 0)));
}

void disconnectSession(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  SessionOf(evaluator).DisconnectSession(ClauseInteger(evaluator, Child(node, 0)));
}

void removeSession(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  SessionOf(evaluator).RemoveSession(ClauseInteger(evaluator, Child(node, 0)));
}

// ---- Store files and settings.

// COPY FILE: file, store, target file, target store or nil.
void copyFile(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  SessionOf(evaluator).CopyStoreFile(ChildName(node, 1), ChildName(node, 0), ChildName(node, 2),
                                     ChildName(node, 3));
}

// RENAME FILE: file, store, new name.
void renameFile(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  SessionOf(evaluator).RenameStoreFile(ChildName(node, 1), ChildName(node, 0), ChildName(node, 2));
}

// DELETE FILE: file, store.
void deleteFile(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  SessionOf(evaluator).DeleteStoreFile(ChildName(node, 1), ChildName(node, 0));
}

void setBackupsStore(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  SessionOf(evaluator).SetBackupsStore(ChildName(node, 0));
}

void setFilesStore(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  SessionOf(evaluator).SetFilesStore(ChildName(node, 0));
}

void setUpdatesStore(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  SessionOf(evaluator).SetUpdatesStore(ChildName(node, 0));
}

// The USING list is not passed on.
void setMigrator(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  SessionOf(evaluator).SetMigrator(ChildName(node, 0));
}

template <TBRNExprOperation Code, TBRNHandlerBody Body>
void setStatement(TBRNStatementHandlers& handlers) {
  handlers.SetStatement(Code, &Logged<StatementFailure(Code), Body>);
}

template <TBRNObjectVerb Verb, TBRNObjectKind Kind, TBRNHandlerBody Body>
void setVerb(TBRNStatementHandlers& handlers) {
  handlers.SetVerb(Verb, Kind, &Logged<VerbFailure(Verb, Kind), Body>);
}

}  // namespace

void FillStatementHandlers(TBRNStatementHandlers& handlers) {
  // Procedural statements: DECLARE and RETURN are the block runner's own;
  // the transaction statements are written with the database operations.
  FillProceduralHandlers(handlers);

  // SQL statements.
  setStatement<opSetBackupsStore, setBackupsStore>(handlers);
  setStatement<opCopyFile, copyFile>(handlers);
  setStatement<opDeleteFile, deleteFile>(handlers);
  setStatement<opDisconnect, disconnectSession>(handlers);
  setStatement<opSetFilesStore, setFilesStore>(handlers);
  setStatement<opGrantPrivileges, grantPrivileges>(handlers);
  setStatement<opGrantRoles, grantRoles>(handlers);
  setStatement<opRemove, removeSession>(handlers);
  setStatement<opRenameFile, renameFile>(handlers);
  setStatement<opRevokePrivileges, revokePrivileges>(handlers);
  setStatement<opRevokeRoles, revokeRoles>(handlers);
  setStatement<opSetMigrator, setMigrator>(handlers);
  setStatement<opSetUpdatesStore, setUpdatesStore>(handlers);
  // The database operations, with the transaction statements.
  FillDatabaseOperationHandlers(handlers);

  // The kind rows: configuration objects, then catalog objects.
  FillConfigObjectHandlers(handlers);
  FillCatalogObjectHandlers(handlers);
  setVerb<ovEnable, okJob, enableJob>(handlers);
  setVerb<ovDisable, okJob, disableJob>(handlers);
  setVerb<ovReset, okJob, resetJob>(handlers);
  setVerb<ovReset, okServerSessionStatistics, resetSessionStatistics>(handlers);
}

}  // namespace brn

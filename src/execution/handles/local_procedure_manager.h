#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "execution/evaluator/evaluator_context.h"
#include "execution/handles/handle_registration.h"
#include "foundation/values/value.h"
#include "sessions/manager_interfaces.h"

namespace brn {

class TBRNExprToken;
class TBRNLocalDatabaseManager;
class TBRNLocalExprEvaluator;
class TBRNLocalSessionManager;
class TBRNProcedure;
class TBRNSchemaObjectManager;

// Operation codes of the procedure handle's log events.
inline constexpr int32_t kBRNOperationPrepareProcedure = 260;
inline constexpr int32_t kBRNOperationExecuteProcedure = 261;
inline constexpr int32_t kBRNOperationFreeProcedure = 262;
// An attempt to run a procedure handle that holds no procedure any more.
inline constexpr int32_t kBRNProcedureNotPreparedCode = 901;

// One stored procedure of an open database, prepared for repeated
// execution. While prepared it holds the procedure's manager open (shared),
// which keeps the compiled routine and its body prepared. Params are the
// run-time values of the routine's parameter nodes in declaration order,
// then the result parameter's value when the procedure has one: setting a
// parameter before ExecuteProcedure sets what the body reads, and OUT
// values are there afterwards.
//
// The body runs in the handle's own Context with the rights of the
// procedure's owner (never System: creating a procedure must not lend
// rights its owner lacks); the caller's user comes back afterwards, also on
// failure.
//
// Ownership: the database's Procedures table owns the handle (the
// constructor registers it there and in the session's index); FreeProcedure
// or the database's close frees it. Used by the thread that holds the
// session.
class TBRNLocalProcedureManager : public TBRNProcedureManager {
 public:
  // Registers the handle in database's Procedures and in the session's
  // index and creates Context; raises (registering nothing) when a table is
  // full.
  explicit TBRNLocalProcedureManager(TBRNLocalDatabaseManager& database);
  // Leaves both tables and un-prepares; a failure is logged as operation
  // 262 "Free Procedure" and dropped (a destructor never raises).
  ~TBRNLocalProcedureManager() override;

  // The handle made, registered and prepared; a failure frees it and passes
  // on. The database manager's factory calls this and logs failures (260).
  static TBRNLocalProcedureManager* Prepare(TBRNLocalDatabaseManager& database,
                                            const std::string& procedureName);
  // Un-prepares, leaves both tables and frees procedure (nullptr does
  // nothing; procedure is nullptr afterwards). A failure of the un-prepare
  // is logged as 262 and passes on after the handle is freed all the same.
  static void FreeProcedure(TBRNLocalProcedureManager*& procedure);

  // Opens the manager of the procedure named procedureName in the default
  // schema among those the current user may use (the catalog's not-found
  // error otherwise) and collects Params. Un-prepares first.
  void PrepareProcedure(const std::string& procedureName);
  // Closes the procedure's manager and forgets it; the database's close
  // does this too. Afterwards ExecuteProcedure raises 901.
  void Unprepare();
  bool IsPrepared() const { return Procedure != nullptr; }

  std::unique_ptr<TBRNParamValues> CreateParams() override;
  int32_t GetExecutionTime() override;
  // Runs the body (or the external routine) and answers the procedure's
  // result cursor: the cursor declared WITH RETURN when the body left it
  // open and DiscardResult is false; nullptr otherwise. As the result
  // cursor of a statement handle, it is registered in the database's
  // cursors and lives until the handle executes again, is un-prepared or
  // freed (the statement that made it goes then, and with it the cursor),
  // unless the client frees it before. Unless Nested, reports the
  // execution's status texts and brackets it in the session's progress.
  // A failure is logged as 261 and passes on.
  TBRNCursor* ExecuteProcedure() override;

  TBRNLocalDatabaseManager& Database;
  TBRNLocalSessionManager& Session;
  // The open manager of the procedure (one user counted) while prepared.
  TBRNSchemaObjectManager* Procedure = nullptr;
  // The name the handle was prepared with (reported after Unprepare).
  std::string ProcedureName;
  bool DiscardResult = false;
  // The run-time value of the statement whose open cursor the last
  // execution returned; nullptr when none.
  std::unique_ptr<TBRNValue> ResultStatement;
  std::unique_ptr<TBRNEvaluatorContext> Context;
  int32_t ExecutionTime = 0;
  // A call from procedural SQL: no status texts, no progress bracket.
  bool Nested = false;
  // Its place in Database's Procedures and the session's index (the
  // session-wide handle).
  TBRNHandleRegistration Registration;

 private:
  TBRNLocalExprEvaluator& evaluator() const;
  TBRNProcedure* procedure() const;
  void collectParams();
};

// Installs TBRNLocalProcedureManager::Prepare as the procedure handle
// factory of every local database manager. May be called from any thread.
void InstallProcedureHandleFactory();

}  // namespace brn

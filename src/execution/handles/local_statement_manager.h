#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "execution/evaluator/evaluator_context.h"
#include "execution/handles/database_statement.h"
#include "execution/handles/handle_registration.h"
#include "sessions/manager_interfaces.h"

namespace brn {

class TBRNExprToken;
class TBRNLocalDatabaseManager;
class TBRNLocalExprEvaluator;
class TBRNLocalSessionManager;
class TBRNQueryManager;
class TBRNDmlManager;

// Operation codes of the statement handle's log events.
inline constexpr int32_t kBRNOperationPrepareStatement = 250;
inline constexpr int32_t kBRNOperationExecuteStatement = 251;
inline constexpr int32_t kBRNOperationFreeStatement = 252;

// A statement prepared on an open database of a local session: it owns its
// compiled statement and its evaluation context. A query runs through its
// query manager (made and prepared with the statement) and answers its
// result cursor; every other statement runs through the session
// evaluator's statement handlers. INSERT, UPDATE and DELETE run through
// their executors (made and prepared with the statement).
//
// Ownership: the database's Statements table owns the handle (it is
// registered there by the constructor, and the session's index of
// statements gives it a session-wide handle); FreeStatement or the
// database's close frees it, and the destructor takes it out of both.
//
// After an execution of a query it answers the query's sensitivity, plan,
// rows and time; after any other statement no cursor, not sensitive, an
// empty plan, 0 rows, the session's elapsed time of the statement and the
// handler's Boolean result, which every execution first sets to false.
//
// Used by the thread that holds the session.
class TBRNLocalStatementManager : public TBRNStatementManager {
 public:
  // Registers the handle in database's Statements and in the session's
  // index, creates the compiled statement (bound to the catalog and the
  // current user) and the context on database with the session's progress
  // and message reports. Raises (registering nothing) when a table is full.
  explicit TBRNLocalStatementManager(TBRNLocalDatabaseManager& database);
  // Leaves both tables and un-prepares; never raises: a failure is logged as
  // operation 252 "Free Statement" and dropped.
  ~TBRNLocalStatementManager() override;

  // The handle made, registered and prepared; a failure frees it (nothing
  // stays registered) and passes on. A line (column) other than 0 is the
  // position that errors in the text report instead of the parser's (a
  // statement taken from a larger text). The database manager's factory
  // (see InstallStatementHandleFactory) calls this; it logs the failure
  // (250).
  static TBRNLocalStatementManager* Prepare(TBRNLocalDatabaseManager& database,
                                            const std::string& sql, int32_t line = 0,
                                            int32_t column = 0);
  // "Free Statement" (operation 252): un-prepares, leaves both tables and
  // frees statement; nullptr does nothing. A failure of the un-prepare is
  // logged with 252 and passes on after the handle is freed all the same.
  // statement is nullptr afterwards.
  static void FreeStatement(TBRNLocalStatementManager*& statement);

  // Compiles sql inside a catalog read and prepares the tree in Context;
  // raises on any error, the statement then uncompiled.
  void PrepareStatement(const std::string& sql);
  // Frees the run-time values of the compiled tree (with Context current).
  // May raise.
  void Unprepare();

  std::unique_ptr<TBRNParamValues> CreateParams() override;
  bool GetSensitive() override;
  void GetPlan(std::string& plan) override;
  int32_t GetRowsAffected() override;
  int32_t GetExecutionTime() override;
  bool GetExecutionResult() override;
  // A query: executes it (RequestSensitive, Constrained and RequestPlan
  // handed to the query manager) and answers its result cursor, registered
  // in Database's cursors (nullptr for SELECT ... INTO). Any other
  // statement runs in Context through the evaluator's handler table and
  // answers nullptr. A
  // failure passes on unchanged; the handler has logged it with the
  // statement's operation code (once: not again as operation 251 "Execute
  // Statement", which only an execution without a prepared statement logs).
  TBRNCursor* ExecuteStatement() override;

  TBRNLocalDatabaseManager& Database;
  TBRNLocalSessionManager& Session;
  std::unique_ptr<TBRNDatabaseStatement> Statement;
  // The name of the result cursor; a cursor declared for the statement in
  // a routine gives it its own name.
  std::string CursorName = "Query";
  std::unique_ptr<TBRNEvaluatorContext> Context;
  // The manager of a query statement (nullptr for other statements); freed
  // before the tree is unprepared.
  std::unique_ptr<TBRNQueryManager> Query;
  // Data changes
  // The executor of INSERT, UPDATE or DELETE (nullptr for other
  // statements); freed before the tree is unprepared. After an execution
  // the handle answers its plan, rows and time, and ExecutionResult is
  // false when the progress callback stopped it.
  std::unique_ptr<TBRNDmlManager> Dml;
  // Its place in Database's Statements and the session's index (the
  // session-wide handle).
  TBRNHandleRegistration Registration;
  int32_t ExecutionTime = 0;
  bool ExecutionResult = false;
  bool Constrained = false;
  bool RequestPlan = false;
  bool ReportProgress = false;
  bool ReportStatus = false;
  bool ReportLog = false;

 private:
  TBRNLocalExprEvaluator& evaluator() const;
  // Leaves the session index and the database table (never raises).
  // Params := the values of the nodes of list, each evaluated once, in
  // order (the n-th "?" of the text is parameter n).
  void collectParams(TBRNExprToken* list);
  // Before each execution: parameter references take their parameters'
  // types again, running sums start again, and nested queries count their
  // executions from 0 (a result rebuilt once per statement is rebuilt).
  void resetRunState(TBRNExprToken* root);

  bool prepared_ = false;
};

// Installs TBRNLocalStatementManager::Prepare as the statement handle
// factory of every local database manager. May be called from any thread.
void InstallStatementHandleFactory();

}  // namespace brn

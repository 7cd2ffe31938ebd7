#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "execution/evaluator/evaluator_context.h"
#include "execution/handles/database_statement.h"
#include "sessions/manager_interfaces.h"

namespace brn {

class TBRNExprToken;
class TBRNLocalDatabaseManager;
class TBRNLocalExprEvaluator;
class TBRNLocalSessionManager;

// Operation codes of the statement handle's log events.
inline constexpr int32_t kBRNOperationPrepareStatement = 250;
inline constexpr int32_t kBRNOperationExecuteStatement = 251;
inline constexpr int32_t kBRNOperationFreeStatement = 252;

// A statement prepared on an open database of a local session: it owns its
// compiled statement and its evaluation context, and runs every statement
// that is not a query or DML statement through the session evaluator's
// statement handlers. Queries, INSERT, UPDATE and DELETE are refused at
// prepare time (9999) until their executors exist.
//
// Ownership: the database's Statements table owns the handle (it is
// registered there by the constructor, and the session's index of
// statements gives it a session-wide handle); FreeStatement or the
// database's close frees it, and the destructor takes it out of both.
//
// After an execution it answers no cursor, not sensitive, an empty plan,
// 0 rows, the session's elapsed time of the statement and the handler's
// Boolean result, which every execution first sets to false.
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
  // Runs the statement in Context through the evaluator's handler table;
  // nullptr (no statement of this handle has a result cursor yet). A
  // failure passes on unchanged; the handler has logged it with the
  // statement's operation code (once: not again as operation 251 "Execute
  // Statement", which only an execution without a prepared statement logs).
  TBRNCursor* ExecuteStatement() override;

  TBRNLocalDatabaseManager& Database;
  TBRNLocalSessionManager& Session;
  std::unique_ptr<TBRNDatabaseStatement> Statement;
  const std::string CursorName = "Query";
  std::unique_ptr<TBRNEvaluatorContext> Context;
  // The session-wide handle (TBRNSessionManager::Statements); 0 when none.
  int32_t SessionHandle = 0;
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
  void unregister() noexcept;

  bool prepared_ = false;
};

// Installs TBRNLocalStatementManager::Prepare as the statement handle
// factory of every local database manager. May be called from any thread.
void InstallStatementHandleFactory();

}  // namespace brn

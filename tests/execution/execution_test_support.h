// Local sessions that run SQL statements through statement handles, over an
// engine whose configuration lives in a fresh temporary folder.
#pragma once

#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "execution/cursors/local_cursor_factory.h"
#include "execution/evaluator/local_expr_evaluator.h"
#include "execution/handlers/statement_handlers.h"
#include "execution/handles/local_statement_manager.h"
#include "execution/engine_execution.h"
#include "execution/queries/view_query_manager.h"
#include "execution/import_export/table_transfer.h"
#include "foundation/locks/log_manager.h"
#include "foundation/text/exception.h"
#include "sessions/databases/database_test_support.h"
#include "sessions/local/config_manager.h"
#include "sessions/local/local_log_manager.h"

namespace brn::testing {

// Installs the process's execution (see brn::InstallExecution) before the
// first session. The local cursor factory again at every call: a cursor
// test may have unregistered its own.
inline void InstallExecution() {
  brn::InstallExecution();
  InstallLocalCursorFactory();
}

struct ExecutionInstaller {
  ExecutionInstaller() { InstallExecution(); }
};

// The engine code and message of what call raised; {0, ""} when it passed.
inline std::pair<int32_t, std::string> Outcome(const std::function<void()>& call) {
  try {
    call();
  } catch (const EBRNException& e) {
    return {e.ErrorCode, e.ErrorMessage};
  }
  return {0, std::string()};
}

// A statement handle prepared on the session's Configuration database,
// freed at the end of its scope.
class PreparedStatement {
 public:
  PreparedStatement(TBRNLocalSessionManager& session, const std::string& sql)
      : handle_(static_cast<TBRNLocalStatementManager*>(
            session.ConfigurationDatabase->PrepareStatement(sql))) {}
  ~PreparedStatement() {
    try {
      TBRNLocalStatementManager::FreeStatement(handle_);
    } catch (...) {
    }
  }
  PreparedStatement(const PreparedStatement&) = delete;
  PreparedStatement& operator=(const PreparedStatement&) = delete;
  TBRNLocalStatementManager* operator->() const { return handle_; }
  TBRNLocalStatementManager* Get() const { return handle_; }

 private:
  TBRNLocalStatementManager* handle_;
};

// Prepares, executes and frees one statement.
inline void Execute(TBRNLocalSessionManager& session, const std::string& sql) {
  PreparedStatement statement(session, sql);
  statement->ExecuteStatement();
}

inline std::vector<TBRNLogEvent> ReadLog(TBRNLocalSessionManager& session) {
  std::vector<TBRNLogEvent> events;
  session.LogManager->BeginRead();
  TBRNLogEvent event;
  for (bool more = session.LogManager->ReadFirstEvent(event); more;
       more = session.LogManager->ReadNextEvent(event))
    events.push_back(event);
  session.LogManager->EndRead();
  return events;
}

// The Error events of the log after the first skip events.
inline std::vector<TBRNLogEvent> ErrorsAfter(TBRNLocalSessionManager& session, size_t skip) {
  std::vector<TBRNLogEvent> events = ReadLog(session);
  std::vector<TBRNLogEvent> errors;
  for (size_t i = skip; i < events.size(); ++i)
    if (events[i].Category == lcError) errors.push_back(events[i]);
  return errors;
}

inline std::string FileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// A session of a test engine logged in as Administrator.
struct StatementWorkspace {
  StatementWorkspace() { Session->Login("Administrator", "GlenHarbor"); }
  TBRNConfig& Config() { return *Session->Config; }
  std::unique_ptr<TBRNLocalSessionManager> OtherSession(const std::string& user,
                                                        const std::string& password) {
    std::unique_ptr<TBRNLocalSessionManager> other = Env.OpenSession("Other");
    other->Login(user, password);
    return other;
  }
  std::string ConfigFileBytes() { return FileBytes(Session->ConfigManager->GetFileName()); }

  ExecutionInstaller Installer;
  TestEngine Env;
  std::unique_ptr<TBRNLocalSessionManager> Session = Env.OpenSession();
};

struct StatementTest : ::testing::Test, StatementWorkspace {};

}  // namespace brn::testing

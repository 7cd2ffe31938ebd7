#pragma once

#include <cstdint>
#include <string>

#include "sessions/manager_interfaces.h"

namespace brn {

class TBRNCursor;
class TBRNMemoryStream;
class TBRNRemoteSessionManager;
class TBRNRemoteDatabaseManager;

// The proxies of the objects a remote session opens on its server. Each
// operation is one request carrying the object's server handle (see
// TBRNRemoteCall); the server's handles survive a reconnect, so a proxy
// stays valid across one. Every proxy is used on its session's thread only
// and sends nothing while a TBRNRemoteCall of that thread is alive.

// Read the cursor descriptor of a reply and create the remote cursor, which
// registers itself in database.Cursors. The Open Table form: handle, the
// read-only flag (servers of 1.06 on), columns, indexes, state and first
// block. The execution form: handle (0: no cursor, nullptr, nothing more is
// read), name, read-only and second flag, then as above. Both read only from
// reply (no request), inside the call whose reply it is.
TBRNCursor* ReadOpenTableCursor(TBRNRemoteDatabaseManager& database, TBRNMemoryStream& reply,
                                const std::string& tableName, bool exclusive);
TBRNCursor* ReadResultCursor(TBRNRemoteDatabaseManager& database, TBRNMemoryStream& reply);
// Reads a script variable's record in field order: Name, Kind, Line, Column,
// TypeName, Count, Value.
void ReadVariableData(TBRNMemoryStream& reply, TBRNVariableData& data);

// A database opened on the server. Kept in the session's Databases table;
// the session's CloseDatabase releases the server's database.
class TBRNRemoteDatabaseManager : public TBRNDatabaseManager {
 public:
  TBRNRemoteDatabaseManager(TBRNRemoteSessionManager* session, int32_t serverHandle);
  // Closes (freeing every proxy, each of which frees its server object).
  ~TBRNRemoteDatabaseManager() override;

  TBRNCursor* OpenTable(const std::string& schemaName, const std::string& tableName,
                        bool exclusive, bool readOnly) override;
  TBRNStatementManager* PrepareStatement(const std::string& sql) override;
  TBRNProcedureManager* PrepareProcedure(const std::string& procedureName) override;
  TBRNScriptManager* PrepareScript(const std::string& script) override;
  void StartTransaction(const TBRNStringsList& tables, int32_t lockWaitMs) override;
  void Commit(bool forceFlush, bool flushOnly) override;
  void Rollback() override;

  TBRNRemoteSessionManager* Session;
  int32_t ServerHandle;
};

// A store opened on the server.
class TBRNRemoteStoreManager : public TBRNStoreManager {
 public:
  TBRNRemoteStoreManager(TBRNRemoteSessionManager* session, int32_t serverHandle);
  ~TBRNRemoteStoreManager() override;

  // The list is empty when the request fails.
  void ListFiles(const std::string& fileMask) override;
  int64_t BeginReadFile(const std::string& fileName) override;
  // Appends what arrived at target's position; the count that arrived.
  uint32_t ReadFile(TBRNMemoryStream& target, uint32_t count) override;
  void CancelReadFile() override;
  void EndReadFile() override;
  void BeginWriteFile(const std::string& fileName) override;
  // Sends count bytes from source's position (which advances).
  uint32_t WriteFile(TBRNMemoryStream& source, uint32_t count) override;
  void CancelWriteFile() override;
  void EndWriteFile() override;
  void CopyFile(const std::string& sourceName, const std::string& targetName) override;
  void RenameFile(const std::string& oldName, const std::string& newName) override;
  void DeleteFile(const std::string& fileName) override;

  TBRNRemoteSessionManager* Session;
  int32_t ServerHandle;
};

// The flags an execution sends: what the application wants to hear about.
struct TBRNRemoteReportFlags {
  bool ReportProgress = false;
  bool ReportStatus = false;
  bool ReportLog = false;
};

// A statement prepared on the server; registered in its database's
// Statements table while it lives. Freeing it frees the server's statement
// (failures ignored).
class TBRNRemoteStatementManager : public TBRNStatementManager, public TBRNRemoteReportFlags {
 public:
  TBRNRemoteStatementManager(TBRNRemoteDatabaseManager* database, int32_t serverHandle);
  ~TBRNRemoteStatementManager() override;

  bool GetSensitive() override { return Sensitive; }
  void GetPlan(std::string& plan) override { plan = Plan; }
  int32_t GetRowsAffected() override { return RowsAffected; }
  int32_t GetExecutionTime() override { return ExecutionTime; }
  bool GetExecutionResult() override { return ExecutionResult; }
  TBRNCursor* ExecuteStatement() override;

  TBRNRemoteDatabaseManager* Database;
  int32_t ServerHandle;
  bool Constrained = false;
  bool RequestPlan = false;
  bool Sensitive = false;
  std::string Plan;
  int32_t RowsAffected = 0;
  int32_t ExecutionTime = 0;
  bool ExecutionResult = false;
};

class TBRNRemoteProcedureManager : public TBRNProcedureManager, public TBRNRemoteReportFlags {
 public:
  TBRNRemoteProcedureManager(TBRNRemoteDatabaseManager* database, int32_t serverHandle);
  ~TBRNRemoteProcedureManager() override;

  int32_t GetExecutionTime() override { return ExecutionTime; }
  TBRNCursor* ExecuteProcedure() override;

  TBRNRemoteDatabaseManager* Database;
  int32_t ServerHandle;
  int32_t ExecutionTime = 0;
};

class TBRNRemoteScriptManager : public TBRNScriptManager, public TBRNRemoteReportFlags {
 public:
  TBRNRemoteScriptManager(TBRNRemoteDatabaseManager* database, int32_t serverHandle);
  ~TBRNRemoteScriptManager() override;

  int32_t GetExecutionTime() override { return ExecutionTime; }
  TBRNCursor* ExecuteScript() override;
  bool SetBreakpoint(int32_t line) override;
  bool HasBreakpoint(int32_t line) override;
  bool RemoveBreakpoint(int32_t line) override;
  // Returns once the script has paused or ended; with ReportProgress the
  // session's progress bracket stays open until GetScriptCursor.
  void DebugScript() override;
  TBRNCursor* GetScriptCursor() override;
  void Pause() override;
  void StepOver() override;
  void StepInto() override;
  void Resume() override;
  void Stop() override;
  void GetVariableNames(TBRNStringsList& names) override;
  void GetVariableData(const std::string& name, TBRNVariableData& data) override;

  TBRNRemoteDatabaseManager* Database;
  int32_t ServerHandle;
  int32_t ExecutionTime = 0;
  bool ReportDebugger = false;
  bool DebuggerOption = false;

 private:
  // A request of code with only the handle; the reply's payload is dropped.
  void SimpleRequest(int32_t code);
  bool LineRequest(int32_t code, int32_t line);
  // Output parameters, execution time and the cursor of an execution reply.
  TBRNCursor* ReadExecutionReply(TBRNMemoryStream& reply, bool timeFromAnyServer);
  bool debugProgress_ = false;
};

}  // namespace brn

#include "clientserver/remote/remote_managers.h"

#include <memory>
#include <stdexcept>

#include "clientserver/remote/remote_session_manager.h"
#include "foundation/core/memory_stream.h"
#include "foundation/text/string_list.h"
#include "foundation/values/param_value.h"

namespace brn {

namespace {

constexpr int32_t kStartTransactionCode = 40;
constexpr int32_t kCommitTransactionCode = 41;
constexpr int32_t kRollbackTransactionCode = 42;
constexpr int32_t kOpenTableCode = 123;
constexpr int32_t kPrepareStatementCode = 250;
constexpr int32_t kExecuteStatementCode = 251;
constexpr int32_t kFreeStatementCode = 252;
constexpr int32_t kPrepareProcedureCode = 260;
constexpr int32_t kExecuteProcedureCode = 261;
constexpr int32_t kFreeProcedureCode = 262;
constexpr int32_t kPrepareScriptCode = 360;
constexpr int32_t kExecuteScriptCode = 361;
constexpr int32_t kFreeScriptCode = 362;
constexpr int32_t kDebugScriptCode = 363;
constexpr int32_t kGetScriptCursorCode = 364;
constexpr int32_t kSetBreakpointCode = 365;
constexpr int32_t kHasBreakpointCode = 366;
constexpr int32_t kRemoveBreakpointCode = 367;
constexpr int32_t kPauseScriptCode = 368;
constexpr int32_t kStepOverScriptCode = 369;
constexpr int32_t kStepIntoScriptCode = 370;
constexpr int32_t kResumeScriptCode = 371;
constexpr int32_t kStopScriptCode = 372;
constexpr int32_t kGetVariableNamesCode = 373;
constexpr int32_t kGetVariableDataCode = 374;

constexpr int32_t kListStoreFilesCode = 401;
constexpr int32_t kBeginReadFileCode = 402;
constexpr int32_t kReadFileCode = 403;
constexpr int32_t kCancelReadFileCode = 404;
constexpr int32_t kEndReadFileCode = 405;
constexpr int32_t kBeginWriteFileCode = 406;
constexpr int32_t kWriteFileCode = 407;
constexpr int32_t kCancelWriteFileCode = 408;
constexpr int32_t kEndWriteFileCode = 409;
constexpr int32_t kCopyFileCode = 410;
constexpr int32_t kRenameFileCode = 411;
constexpr int32_t kDeleteFileCode = 412;

// Server versions from which a field travels.
constexpr int64_t kVersionProcedureFlags = 10200;
constexpr int64_t kVersionOutputParams = 10600;
constexpr int64_t kVersionDebuggerOption = 20200;
constexpr int64_t kVersionLockTimeout = 20300;
constexpr int64_t kVersionExecutionResult = 20800;

// The session's progress bracket around an execution that reports
// progress, closed however the execution ends.
class ProgressBracket {
 public:
  ProgressBracket(TBRNSessionManager& session, bool active) : session_(session), active_(active) {
    if (active_) session_.BeginProgress();
  }
  ~ProgressBracket() {
    if (active_) session_.EndProgress();
  }
  ProgressBracket(const ProgressBracket&) = delete;
  ProgressBracket& operator=(const ProgressBracket&) = delete;

 private:
  TBRNSessionManager& session_;
  bool active_;
};

void WriteReportFlags(TBRNMemoryStream& out, const TBRNRemoteReportFlags& flags) {
  out.WriteBoolean(flags.ReportProgress);
  out.WriteBoolean(flags.ReportStatus);
  out.WriteBoolean(flags.ReportLog);
}

void LoadParams(TBRNParamValues& params, TBRNMemoryStream& reply) {
  params.ClearParams();
  params.LoadFromStream(reply);
}

// A free request that never raises: the proxy goes whatever the server says.
void FreeOnServer(TBRNRemoteSessionManager* session, int32_t code, int32_t serverHandle) {
  try {
    TBRNRemoteCall call(*session, code);
    call.Request().WriteInteger(serverHandle);
    call.Execute();
  } catch (...) {
  }
}

}  // namespace

// --- database

TBRNRemoteDatabaseManager::TBRNRemoteDatabaseManager(TBRNRemoteSessionManager* session,
                                                     int32_t serverHandle)
    : Session(session), ServerHandle(serverHandle) {}

TBRNRemoteDatabaseManager::~TBRNRemoteDatabaseManager() {
  CloseDatabase(true);
}

TBRNCursor* TBRNRemoteDatabaseManager::OpenTable(const std::string& schemaName,
                                                 const std::string& tableName, bool exclusive,
                                                 bool readOnly) {
  TBRNRemoteCall call(*Session, kOpenTableCode);
  TBRNMemoryStream& out = call.Request();
  out.WriteInteger(ServerHandle);
  out.WriteString(schemaName);
  out.WriteString(tableName);
  out.WriteBoolean(readOnly);
  out.WriteBoolean(exclusive);
  return ReadOpenTableCursor(*this, call.Execute(tableName), tableName, exclusive);
}

TBRNStatementManager* TBRNRemoteDatabaseManager::PrepareStatement(const std::string& sql) {
  std::unique_ptr<TBRNRemoteStatementManager> statement;
  {
    TBRNRemoteCall call(*Session, kPrepareStatementCode);
    call.Request().WriteInteger(ServerHandle);
    call.Request().WriteString(sql);
    TBRNMemoryStream& in = call.Execute(sql);
    const int32_t handle = in.ReadInteger();
    statement = std::make_unique<TBRNRemoteStatementManager>(this, handle);
    LoadParams(*statement->Params, in);
  }
  return statement.release();
}

TBRNProcedureManager* TBRNRemoteDatabaseManager::PrepareProcedure(
    const std::string& procedureName) {
  std::unique_ptr<TBRNRemoteProcedureManager> procedure;
  {
    TBRNRemoteCall call(*Session, kPrepareProcedureCode);
    call.Request().WriteInteger(ServerHandle);
    call.Request().WriteString(procedureName);
    TBRNMemoryStream& in = call.Execute(procedureName);
    const int32_t handle = in.ReadInteger();
    procedure = std::make_unique<TBRNRemoteProcedureManager>(this, handle);
    LoadParams(*procedure->Params, in);
  }
  return procedure.release();
}

TBRNScriptManager* TBRNRemoteDatabaseManager::PrepareScript(const std::string& script) {
  std::unique_ptr<TBRNRemoteScriptManager> prepared;
  {
    TBRNRemoteCall call(*Session, kPrepareScriptCode);
    call.Request().WriteInteger(ServerHandle);
    call.Request().WriteString(script);
    TBRNMemoryStream& in = call.Execute(script);
    const int32_t handle = in.ReadInteger();
    prepared = std::make_unique<TBRNRemoteScriptManager>(this, handle);
    LoadParams(*prepared->Params, in);
  }
  return prepared.release();
}

void TBRNRemoteDatabaseManager::StartTransaction(const TBRNStringsList& tables,
                                                 int32_t lockWaitMs) {
  TBRNRemoteCall call(*Session, kStartTransactionCode);
  TBRNMemoryStream& out = call.Request();
  out.WriteInteger(ServerHandle);
  out.WriteInteger(tables.GetCount());
  for (int32_t i = 0; i < tables.GetCount(); ++i) out.WriteString(tables.GetItem(i));
  if (call.ServerVersion() >= kVersionLockTimeout) out.WriteInteger(lockWaitMs);
  call.Execute();
}

void TBRNRemoteDatabaseManager::Commit(bool forceFlush, bool flushOnly) {
  TBRNRemoteCall call(*Session, kCommitTransactionCode);
  TBRNMemoryStream& out = call.Request();
  out.WriteInteger(ServerHandle);
  out.WriteBoolean(forceFlush);
  out.WriteBoolean(flushOnly);
  call.Execute();
}

void TBRNRemoteDatabaseManager::Rollback() {
  TBRNRemoteCall call(*Session, kRollbackTransactionCode);
  call.Request().WriteInteger(ServerHandle);
  call.Execute();
}

// --- store

TBRNRemoteStoreManager::TBRNRemoteStoreManager(TBRNRemoteSessionManager* session,
                                               int32_t serverHandle)
    : Session(session), ServerHandle(serverHandle) {}

TBRNRemoteStoreManager::~TBRNRemoteStoreManager() {
  CloseStore(true);
}

void TBRNRemoteStoreManager::ListFiles(const std::string& fileMask) {
  Files.Clear();
  TBRNRemoteCall call(*Session, kListStoreFilesCode);
  call.Request().WriteInteger(ServerHandle);
  call.Request().WriteString(fileMask);
  TBRNMemoryStream& in = call.Execute();
  try {
    Files.LoadFromStream(in);
  } catch (...) {
    Files.Clear();
    throw;
  }
}

int64_t TBRNRemoteStoreManager::BeginReadFile(const std::string& fileName) {
  TBRNRemoteCall call(*Session, kBeginReadFileCode);
  call.Request().WriteInteger(ServerHandle);
  call.Request().WriteString(fileName);
  return call.Execute().ReadInt64();
}

uint32_t TBRNRemoteStoreManager::ReadFile(TBRNMemoryStream& target, uint32_t count) {
  TBRNRemoteCall call(*Session, kReadFileCode);
  call.Request().WriteInteger(ServerHandle);
  call.Request().WriteInteger(int32_t(count));
  TBRNMemoryStream& in = call.Execute();
  const int32_t got = in.ReadInteger();
  const int64_t left = in.GetSize() - in.GetPosition();
  if (got < 0 || int64_t(got) > left || uint32_t(got) > count)
    Session->RaiseConnectionLost(kBRNInvalidSizeMessage, false);
  if (got > 0) target.Write(in.GetMemory() + in.GetPosition(), got);
  return uint32_t(got);
}

void TBRNRemoteStoreManager::CancelReadFile() {
  TBRNRemoteCall call(*Session, kCancelReadFileCode);
  call.Request().WriteInteger(ServerHandle);
  call.Execute();
}

void TBRNRemoteStoreManager::EndReadFile() {
  TBRNRemoteCall call(*Session, kEndReadFileCode);
  call.Request().WriteInteger(ServerHandle);
  call.Execute();
}

void TBRNRemoteStoreManager::BeginWriteFile(const std::string& fileName) {
  TBRNRemoteCall call(*Session, kBeginWriteFileCode);
  call.Request().WriteInteger(ServerHandle);
  call.Request().WriteString(fileName);
  call.Execute();
}

uint32_t TBRNRemoteStoreManager::WriteFile(TBRNMemoryStream& source, uint32_t count) {
  const int64_t left = source.GetSize() - source.GetPosition();
  if (int64_t(count) > left) throw std::out_of_range("WriteFile: count beyond the source");
  TBRNRemoteCall call(*Session, kWriteFileCode);
  TBRNMemoryStream& out = call.Request();
  out.WriteInteger(ServerHandle);
  out.WriteInteger(int32_t(count));
  if (count > 0) out.Write(source.GetMemory() + source.GetPosition(), int32_t(count));
  const int32_t written = call.Execute().ReadInteger();
  source.SetPosition(source.GetPosition() + count);
  return uint32_t(written);
}

void TBRNRemoteStoreManager::CancelWriteFile() {
  TBRNRemoteCall call(*Session, kCancelWriteFileCode);
  call.Request().WriteInteger(ServerHandle);
  call.Execute();
}

void TBRNRemoteStoreManager::EndWriteFile() {
  TBRNRemoteCall call(*Session, kEndWriteFileCode);
  call.Request().WriteInteger(ServerHandle);
  call.Execute();
}

void TBRNRemoteStoreManager::CopyFile(const std::string& sourceName,
                                      const std::string& targetName) {
  TBRNRemoteCall call(*Session, kCopyFileCode);
  call.Request().WriteInteger(ServerHandle);
  call.Request().WriteString(sourceName);
  call.Request().WriteString(targetName);
  call.Execute();
}

void TBRNRemoteStoreManager::RenameFile(const std::string& oldName, const std::string& newName) {
  TBRNRemoteCall call(*Session, kRenameFileCode);
  call.Request().WriteInteger(ServerHandle);
  call.Request().WriteString(oldName);
  call.Request().WriteString(newName);
  call.Execute();
}

void TBRNRemoteStoreManager::DeleteFile(const std::string& fileName) {
  TBRNRemoteCall call(*Session, kDeleteFileCode);
  call.Request().WriteInteger(ServerHandle);
  call.Request().WriteString(fileName);
  call.Execute();
}

// --- statement

TBRNRemoteStatementManager::TBRNRemoteStatementManager(TBRNRemoteDatabaseManager* database,
                                                       int32_t serverHandle)
    : Database(database), ServerHandle(serverHandle) {
  Database->Statements.AddObject(this, false);
}

TBRNRemoteStatementManager::~TBRNRemoteStatementManager() {
  Database->Statements.RemoveObject(this, false);
  FreeOnServer(Database->Session, kFreeStatementCode, ServerHandle);
}

TBRNCursor* TBRNRemoteStatementManager::ExecuteStatement() {
  ProgressBracket bracket(*Database->Session, ReportProgress);
  TBRNRemoteCall call(*Database->Session, kExecuteStatementCode);
  TBRNMemoryStream& out = call.Request();
  out.WriteInteger(ServerHandle);
  out.WriteBoolean(RequestSensitive);
  out.WriteBoolean(Constrained);
  out.WriteBoolean(RequestPlan);
  out.WriteInteger(0);
  WriteReportFlags(out, *this);
  Params->SaveToStream(out);
  TBRNMemoryStream& in = call.Execute();
  if (call.ServerVersion() >= kVersionOutputParams) Params->LoadOutputParams(in);
  Sensitive = in.ReadBoolean();
  in.ReadString(Plan);
  RowsAffected = in.ReadInteger();
  ExecutionTime = in.ReadInteger();
  ExecutionResult = call.ServerVersion() >= kVersionExecutionResult ? in.ReadBoolean() : false;
  return ReadResultCursor(*Database, in);
}

// --- procedure

TBRNRemoteProcedureManager::TBRNRemoteProcedureManager(TBRNRemoteDatabaseManager* database,
                                                       int32_t serverHandle)
    : Database(database), ServerHandle(serverHandle) {
  Database->Procedures.AddObject(this, false);
}

TBRNRemoteProcedureManager::~TBRNRemoteProcedureManager() {
  Database->Procedures.RemoveObject(this, false);
  FreeOnServer(Database->Session, kFreeProcedureCode, ServerHandle);
}

TBRNCursor* TBRNRemoteProcedureManager::ExecuteProcedure() {
  const bool flags = Database->Session->GetServerVersion() >= kVersionProcedureFlags;
  ProgressBracket bracket(*Database->Session, ReportProgress && flags);
  TBRNRemoteCall call(*Database->Session, kExecuteProcedureCode);
  TBRNMemoryStream& out = call.Request();
  out.WriteInteger(ServerHandle);
  if (flags) {
    WriteReportFlags(out, *this);
    Params->SaveToStream(out);
  }
  TBRNMemoryStream& in = call.Execute();
  Params->LoadOutputParams(in);
  if (call.ServerVersion() >= kVersionOutputParams) ExecutionTime = in.ReadInteger();
  return ReadResultCursor(*Database, in);
}

// --- script

TBRNRemoteScriptManager::TBRNRemoteScriptManager(TBRNRemoteDatabaseManager* database,
                                                 int32_t serverHandle)
    : Database(database), ServerHandle(serverHandle) {
  Database->Scripts.AddObject(this, false);
}

TBRNRemoteScriptManager::~TBRNRemoteScriptManager() {
  Database->Scripts.RemoveObject(this, false);
  FreeOnServer(Database->Session, kFreeScriptCode, ServerHandle);
  // A debug run whose cursor was never fetched leaves its bracket open.
  if (debugProgress_) Database->Session->EndProgress();
}

TBRNCursor* TBRNRemoteScriptManager::ReadExecutionReply(TBRNMemoryStream& in,
                                                        bool timeFromAnyServer) {
  Params->LoadOutputParams(in);
  if (timeFromAnyServer || Database->Session->GetServerVersion() >= kVersionOutputParams)
    ExecutionTime = in.ReadInteger();
  return ReadResultCursor(*Database, in);
}

TBRNCursor* TBRNRemoteScriptManager::ExecuteScript() {
  ProgressBracket bracket(*Database->Session, ReportProgress);
  TBRNRemoteCall call(*Database->Session, kExecuteScriptCode);
  TBRNMemoryStream& out = call.Request();
  out.WriteInteger(ServerHandle);
  WriteReportFlags(out, *this);
  Params->SaveToStream(out);
  return ReadExecutionReply(call.Execute(), false);
}

void TBRNRemoteScriptManager::SimpleRequest(int32_t code) {
  TBRNRemoteCall call(*Database->Session, code);
  call.Request().WriteInteger(ServerHandle);
  call.Execute();
}

bool TBRNRemoteScriptManager::LineRequest(int32_t code, int32_t line) {
  TBRNRemoteCall call(*Database->Session, code);
  call.Request().WriteInteger(ServerHandle);
  call.Request().WriteInteger(line);
  return call.Execute().ReadBoolean();
}

bool TBRNRemoteScriptManager::SetBreakpoint(int32_t line) {
  return LineRequest(kSetBreakpointCode, line);
}

bool TBRNRemoteScriptManager::HasBreakpoint(int32_t line) {
  return LineRequest(kHasBreakpointCode, line);
}

bool TBRNRemoteScriptManager::RemoveBreakpoint(int32_t line) {
  return LineRequest(kRemoveBreakpointCode, line);
}

void TBRNRemoteScriptManager::DebugScript() {
  // The bracket spans the whole debug run: it closes in GetScriptCursor.
  if (ReportProgress && !debugProgress_) {
    Database->Session->BeginProgress();
    debugProgress_ = true;
  }
  TBRNRemoteCall call(*Database->Session, kDebugScriptCode);
  TBRNMemoryStream& out = call.Request();
  out.WriteInteger(ServerHandle);
  WriteReportFlags(out, *this);
  out.WriteBoolean(ReportDebugger);
  if (call.ServerVersion() >= kVersionDebuggerOption) out.WriteBoolean(DebuggerOption);
  Params->SaveToStream(out);
  call.Execute();
}

TBRNCursor* TBRNRemoteScriptManager::GetScriptCursor() {
  struct EndBracket {
    TBRNRemoteScriptManager& Script;
    ~EndBracket() {
      if (!Script.debugProgress_) return;
      Script.debugProgress_ = false;
      Script.Database->Session->EndProgress();
    }
  };
  TBRNRemoteCall call(*Database->Session, kGetScriptCursorCode);
  call.Request().WriteInteger(ServerHandle);
  EndBracket end{*this};
  return ReadExecutionReply(call.Execute(), true);
}

void TBRNRemoteScriptManager::Pause() {
  SimpleRequest(kPauseScriptCode);
}

void TBRNRemoteScriptManager::StepOver() {
  SimpleRequest(kStepOverScriptCode);
}

void TBRNRemoteScriptManager::StepInto() {
  SimpleRequest(kStepIntoScriptCode);
}

void TBRNRemoteScriptManager::Resume() {
  SimpleRequest(kResumeScriptCode);
}

void TBRNRemoteScriptManager::Stop() {
  SimpleRequest(kStopScriptCode);
}

void TBRNRemoteScriptManager::GetVariableNames(TBRNStringsList& names) {
  TBRNRemoteCall call(*Database->Session, kGetVariableNamesCode);
  call.Request().WriteInteger(ServerHandle);
  names.Clear();
  names.LoadFromStream(call.Execute());
}

void TBRNRemoteScriptManager::GetVariableData(const std::string& name, TBRNVariableData& data) {
  TBRNRemoteCall call(*Database->Session, kGetVariableDataCode);
  call.Request().WriteInteger(ServerHandle);
  call.Request().WriteString(name);
  ReadVariableData(call.Execute(), data);
}

}  // namespace brn

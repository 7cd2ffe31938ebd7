#include "clientserver/server/database_requests.h"

#include <stdexcept>
#include <string>

#include "clientserver/server/connection_thread.h"
#include "clientserver/server/cursor_requests.h"
#include "clientserver/server/request_dispatch.h"
#include "clientserver/server/server_engine_manager.h"
#include "clientserver/server/server_session.h"
#include "clientserver/transport/comms_manager.h"
#include "clientserver/transport/comms_request.h"
#include "clientserver/transport/wire_message.h"
#include "execution/handles/local_script_manager.h"
#include "execution/handles/local_statement_manager.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_list.h"
#include "foundation/values/param_value.h"
#include "sessions/manager_interfaces.h"
#include "storage/cursors/cursor.h"

namespace brn {

namespace {

// Taking the session back after a debugger wait: the script has paused or
// ended, so the session is free unless another thread works in it.
constexpr uint32_t kDebuggerRelockTries = 3000;
constexpr int32_t kDebuggerRelockWaitMs = 10;

// The session-wide handle of an object that database's table holds under
// handle: the one it has, else a new one.
int32_t sessionHandleOf(TBRNSessionHandleIndex& index, int32_t capacity,
                        TBRNDatabaseManager& database, int32_t handle) {
  for (int32_t given = 1; given <= capacity; ++given) {
    TBRNSessionHandleTarget target = index.GetTarget(given);
    if (target.Database == &database && target.Handle == handle) return given;
  }
  return index.Add(&database, handle);
}

// Frees an object with a session-wide handle: the handle first, then the
// database's table entry and the object, so that the index never leads to
// a freed object.
template <typename T>
void freeIndexed(TBRNSessionHandleIndex& index, TBRNHandleObjects TBRNDatabaseManager::*table,
                 const TBRNIndexedTarget<T>& target) {
  TBRNSessionHandleTarget where = index.Remove(target.Handle);
  if (where.Database != nullptr) (where.Database->*table).RemoveObject(&target.Object, false);
  delete &target.Object;
}

TBRNScriptManager& readScript(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  return request.ReadIndexedHandle<TBRNScriptManager>(session.Scripts).Object;
}

// The database whose cursor table holds cursor (preferred first).
TBRNDatabaseManager* cursorDatabase(TBRNServerSessionManager& session,
                                    TBRNDatabaseManager* preferred, TBRNCursor& cursor) {
  if (preferred != nullptr && preferred->Cursors.FindObject(cursor.Handle) == &cursor)
    return preferred;
  int32_t handle = 0;
  TBRNHandleObject* object = nullptr;
  while (session.Databases.NextObject(handle, object)) {
    auto* database = dynamic_cast<TBRNDatabaseManager*>(object);
    if (database != nullptr && database->Cursors.FindObject(cursor.Handle) == &cursor)
      return database;
  }
  throw std::logic_error("A result cursor is registered in none of the session's databases");
}

// The callbacks an execution reports through, installed for its duration
// and put back to the quiet ones (progress only checks the connection) at
// its end, also when it raises.
class OperationCallbacks {
 public:
  OperationCallbacks(TBRNServerSessionManager& session, bool progress, bool status, bool log)
      : session_(session) {
    TBRNServerThread::InstallOperationCallbacks(session, progress, status, log);
  }
  ~OperationCallbacks() { TBRNServerThread::InstallOperationCallbacks(session_, false, false, false); }
  OperationCallbacks(const OperationCallbacks&) = delete;
  OperationCallbacks& operator=(const OperationCallbacks&) = delete;

 private:
  TBRNServerSessionManager& session_;
};

struct ReportFlags {
  bool Progress = false;
  bool Status = false;
  bool Log = false;
};

ReportFlags readReportFlags(TBRNServerRequest& request) {
  ReportFlags flags;
  flags.Progress = request.ReadBoolean();
  flags.Status = request.ReadBoolean();
  flags.Log = request.ReadBoolean();
  return flags;
}

// The result cursor's descriptor (it gets its handle now), or 0.
void writeResult(TBRNServerRequest& request, TBRNServerSessionManager& session,
                 TBRNDatabaseManager* database, TBRNCursor* cursor, TBRNMemoryStream& out) {
  DropStaleClientCursors(session);
  if (cursor == nullptr) {
    out.WriteInteger(0);
    return;
  }
  TBRNDatabaseManager* owner = cursorDatabase(session, database, *cursor);
  const int32_t handle = RegisterClientCursor(session, *owner, *cursor);
  WriteResultDescriptor(out, handle, *cursor, request.GetClientVersion());
}

// --- database requests

void ServeStartTransaction(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  TBRNDatabaseManager& database = request.ReadDatabaseHandle(session);
  const int32_t count = request.ReadInt32();
  // Each name takes at least its length field.
  if (count < 0 || int64_t(count) * 4 > request.GetRemaining()) throw EBRNInvalidRequest();
  TBRNStringsList tables;
  for (int32_t i = 0; i < count; ++i) tables.Add(request.ReadString());
  const int32_t lockWait =
      request.GetClientVersion() >= kBRNClientVersion203 ? request.ReadInt32() : -1;
  database.StartTransaction(tables, lockWait);
}

void ServeCommitTransaction(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  TBRNDatabaseManager& database = request.ReadDatabaseHandle(session);
  const bool forceFlush = request.ReadBoolean();
  const bool flushOnly = request.ReadBoolean();
  database.Commit(forceFlush, flushOnly);
}

void ServeRollbackTransaction(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  request.ReadDatabaseHandle(session).Rollback();
}

void ServeOpenTable(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  TBRNDatabaseManager& database = request.ReadDatabaseHandle(session);
  const std::string schemaName = request.ReadString();
  const std::string tableName = request.ReadString();
  const bool readOnly = request.ReadBoolean();
  const bool exclusive = request.ReadBoolean();
  TBRNCursor* cursor = database.OpenTable(schemaName, tableName, exclusive, readOnly);
  const int32_t handle = RegisterClientCursor(session, database, *cursor);
  WriteOpenTableDescriptor(request.BeginReply(), handle, *cursor, request.GetClientVersion());
}

void ServePrepareStatement(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  TBRNDatabaseManager& database = request.ReadDatabaseHandle(session);
  const std::string sql = request.ReadString();
  TBRNStatementManager* statement = database.PrepareStatement(sql);
  int32_t handle = 0;
  if (auto* local = dynamic_cast<TBRNLocalStatementManager*>(statement)) {
    handle = local->Registration.GetSessionHandle();
  }
  if (handle == 0) handle = sessionHandleOf(session.Statements, 8192, database, statement->Handle);
  TBRNCommsMemoryStream& out = request.BeginReply();
  out.WriteInteger(handle);
  statement->Params->SaveToStream(out);
}

void ServePrepareProcedure(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  TBRNDatabaseManager& database = request.ReadDatabaseHandle(session);
  const std::string name = request.ReadString();
  TBRNProcedureManager* procedure = database.PrepareProcedure(name);
  const int32_t handle = sessionHandleOf(session.Procedures, 4096, database, procedure->Handle);
  TBRNCommsMemoryStream& out = request.BeginReply();
  out.WriteInteger(handle);
  procedure->Params->SaveToStream(out);
}

void ServePrepareScript(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  TBRNDatabaseManager& database = request.ReadDatabaseHandle(session);
  const std::string text = request.ReadString();
  TBRNScriptManager* script = database.PrepareScript(text);
  const int32_t handle = sessionHandleOf(session.Scripts, 8192, database, script->Handle);
  TBRNCommsMemoryStream& out = request.BeginReply();
  out.WriteInteger(handle);
  script->Params->SaveToStream(out);
}

// --- statements

void ServeExecuteStatement(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  auto statementTarget = request.ReadIndexedHandle<TBRNStatementManager>(session.Statements);
  TBRNStatementManager& statement = statementTarget.Object;
  const bool requestSensitive = request.ReadBoolean();
  const bool constrained = request.ReadBoolean();
  const bool requestPlan = request.ReadBoolean();
  request.ReadInt32();  // reserved
  const ReportFlags flags = readReportFlags(request);
  statement.Params->LoadFromStream(request.Input());

  statement.RequestSensitive = requestSensitive;
  if (auto* local = dynamic_cast<TBRNLocalStatementManager*>(&statement)) {
    local->Constrained = constrained;
    local->RequestPlan = requestPlan;
    local->ReportProgress = flags.Progress;
    local->ReportStatus = flags.Status;
    local->ReportLog = flags.Log;
  }
  TBRNCursor* cursor = nullptr;
  {
    OperationCallbacks callbacks(session, flags.Progress, flags.Status, flags.Log);
    cursor = statement.ExecuteStatement();
  }
  const int64_t version = request.GetClientVersion();
  TBRNCommsMemoryStream& out = request.BeginReply();
  if (version >= kBRNClientVersion106) statement.Params->SaveOutputParams(out);
  out.WriteBoolean(statement.GetSensitive());
  std::string plan;
  statement.GetPlan(plan);
  out.WriteString(plan);
  out.WriteInteger(statement.GetRowsAffected());
  out.WriteInteger(statement.GetExecutionTime());
  if (version >= kBRNClientVersion208) out.WriteBoolean(statement.GetExecutionResult());
  writeResult(request, session, statementTarget.Database, cursor, out);
}

void ServeFreeStatement(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  auto statementTarget = request.ReadIndexedHandle<TBRNStatementManager>(session.Statements);
  if (auto* local = dynamic_cast<TBRNLocalStatementManager*>(&statementTarget.Object)) {
    TBRNLocalStatementManager::FreeStatement(local);
  } else {
    freeIndexed(session.Statements, &TBRNDatabaseManager::Statements, statementTarget);
  }
  DropStaleClientCursors(session);
}

// --- procedures

void ServeExecuteProcedure(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  auto procedureTarget = request.ReadIndexedHandle<TBRNProcedureManager>(session.Procedures);
  TBRNProcedureManager& procedure = procedureTarget.Object;
  const int64_t version = request.GetClientVersion();
  TBRNCursor* cursor = nullptr;
  if (version >= kBRNClientVersion102) {
    const ReportFlags flags = readReportFlags(request);
    procedure.Params->LoadFromStream(request.Input());
    OperationCallbacks callbacks(session, flags.Progress, flags.Status, flags.Log);
    cursor = procedure.ExecuteProcedure();
  } else {
    cursor = procedure.ExecuteProcedure();
  }
  TBRNCommsMemoryStream& out = request.BeginReply();
  procedure.Params->SaveOutputParams(out);
  if (version >= kBRNClientVersion106) out.WriteInteger(procedure.GetExecutionTime());
  writeResult(request, session, procedureTarget.Database, cursor, out);
}

void ServeFreeProcedure(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  freeIndexed(session.Procedures, &TBRNDatabaseManager::Procedures,
              request.ReadIndexedHandle<TBRNProcedureManager>(session.Procedures));
  DropStaleClientCursors(session);
}

// --- scripts

void ServeExecuteScript(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  auto scriptTarget = request.ReadIndexedHandle<TBRNScriptManager>(session.Scripts);
  TBRNScriptManager& script = scriptTarget.Object;
  const ReportFlags flags = readReportFlags(request);
  script.Params->LoadFromStream(request.Input());
  TBRNCursor* cursor = nullptr;
  {
    OperationCallbacks callbacks(session, flags.Progress, flags.Status, flags.Log);
    cursor = script.ExecuteScript();
  }
  TBRNCommsMemoryStream& out = request.BeginReply();
  script.Params->SaveOutputParams(out);
  if (request.GetClientVersion() >= kBRNClientVersion106)
    out.WriteInteger(script.GetExecutionTime());
  writeResult(request, session, scriptTarget.Database, cursor, out);
}

void ServeFreeScript(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  freeIndexed(session.Scripts, &TBRNDatabaseManager::Scripts,
              request.ReadIndexedHandle<TBRNScriptManager>(session.Scripts));
  DropStaleClientCursors(session);
}

// Debugging: the script runs on its own thread; this request waits until
// it pauses at a statement or ends (its callback to the client comes
// first), then replies without fields. The script's thread holds the
// session while it runs, so the request lets go of the session for the
// wait and takes it back afterwards; when the session was removed or taken
// over meanwhile, the request no longer holds it (SessionFreed) and
// replies without touching it. Precondition: the request holds the
// session (the requests that wait never run nested). The debugger
// callbacks stay while the debug run lasts; a failure clears every
// callback of the run.
void runDebugger(TBRNServerRequest& request, TBRNServerSessionManager& session,
                 TBRNScriptManager& script, void (TBRNScriptManager::*operation)()) {
  TBRNServerRequestState& state = session.RequestState;
  TBRNServerThread& thread = request.GetThread();
  thread.ResetDebugger();
  state.ScriptRunning = true;
  try {
    (script.*operation)();
  } catch (...) {
    state.ScriptRunning = false;
    thread.CancelDebugger();
    throw;
  }
  TBRNServerEngineManager& engine = thread.GetEngine();
  const int32_t sessionId = session.Handle;
  engine.UnlockSessionEntry(&session);
  thread.WaitForDebugger();
  TBRNEngineSessionManager* found = nullptr;
  try {
    if (!thread.Terminated &&
        engine.FindSession(sessionId, found, true, kDebuggerRelockTries, kDebuggerRelockWaitMs,
                           false)) {
      if (found == &session && session.IsAttachedTo(&thread)) return;
      engine.UnlockSessionEntry(found);
    }
  } catch (const EBRNException&) {
    // Held elsewhere all that time: no longer this request's.
  }
  request.SessionFreed = true;
}

void ServeDebugScript(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  TBRNScriptManager& script = readScript(request, session);
  const ReportFlags flags = readReportFlags(request);
  const bool reportDebugger = request.ReadBoolean();
  // The debugger option: pause where a statement raises an error.
  const bool breakOnError =
      request.GetClientVersion() >= kBRNClientVersion202 ? request.ReadBoolean() : false;
  script.Params->LoadFromStream(request.Input());
  if (auto* local = dynamic_cast<TBRNLocalScriptManager*>(&script)) {
    local->BreakOnError = breakOnError;
    local->ReportScriptState = reportDebugger;
  }
  TBRNServerThread::InstallOperationCallbacks(session, flags.Progress, flags.Status, flags.Log);
  TBRNServerThread::InstallDebuggerCallbacks(session, reportDebugger);
  session.RequestState.ScriptActive = true;
  try {
    runDebugger(request, session, script, &TBRNScriptManager::DebugScript);
  } catch (...) {
    session.RequestState.ScriptActive = false;
    TBRNServerThread::InstallOperationCallbacks(session, false, false, false);
    TBRNServerThread::ClearDebuggerCallbacks(session);
    throw;
  }
}

// Pause, Step Over, Step Into, Resume and Stop; once the run has ended
// nothing would wake the request, so it is answered at once. Pause of a
// paused script likewise.
template <void (TBRNScriptManager::*Operation)()>
void serveDebuggerControl(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  TBRNScriptManager& script = readScript(request, session);
  TBRNServerRequestState& state = session.RequestState;
  const bool wait = state.ScriptActive &&
                    (Operation != &TBRNScriptManager::Pause || state.ScriptRunning);
  if (!wait) {
    (script.*Operation)();
    return;
  }
  runDebugger(request, session, script, Operation);
}

void ServeGetScriptCursor(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  auto scriptTarget = request.ReadIndexedHandle<TBRNScriptManager>(session.Scripts);
  TBRNScriptManager& script = scriptTarget.Object;
  TBRNCursor* cursor = script.GetScriptCursor();
  TBRNCommsMemoryStream& out = request.BeginReply();
  script.Params->SaveOutputParams(out);
  out.WriteInteger(script.GetExecutionTime());
  writeResult(request, session, scriptTarget.Database, cursor, out);
  TBRNServerThread::InstallOperationCallbacks(session, false, false, false);
  TBRNServerThread::ClearDebuggerCallbacks(session);
}

// Set, Has and Remove Breakpoint: a line, answered by the operation's
// Boolean (for Remove, whether there was a breakpoint to remove).
template <bool (TBRNScriptManager::*Operation)(int32_t)>
void serveBreakpoint(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  TBRNScriptManager& script = readScript(request, session);
  const int32_t line = request.ReadInt32();
  request.BeginReply().WriteBoolean((script.*Operation)(line));
}

void ServeGetScriptVariableNames(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  TBRNScriptManager& script = readScript(request, session);
  TBRNStringsList names;
  script.GetVariableNames(names);
  names.SaveToStream(request.BeginReply());
}

// An unknown name answers Kind -1; while the run is not paused every name
// does, since only a paused run's variables hold still.
void ServeGetScriptVariableData(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  TBRNScriptManager& script = readScript(request, session);
  const std::string name = request.ReadString();
  TBRNVariableData data;
  script.GetVariableData(name, data);
  TBRNMemoryStream& out = request.BeginReply();
  out.WriteString(data.Name);
  out.WriteInteger(data.Kind);
  out.WriteInteger(data.Line);
  out.WriteInteger(data.Column);
  out.WriteString(data.TypeName);
  out.WriteInteger(data.Count);
  out.WriteString(data.Value);
}

}  // namespace

void AddDatabaseRequestHandlers(TBRNServerRequestTable& table) {
  table.Add(kBRNStartTransactionCode, &ServeStartTransaction);
  table.Add(kBRNCommitTransactionCode, &ServeCommitTransaction);
  table.Add(kBRNRollbackTransactionCode, &ServeRollbackTransaction);
  table.Add(kBRNOpenTableCode, &ServeOpenTable);
  table.Add(kBRNPrepareStatementCode, &ServePrepareStatement);
  table.Add(kBRNExecuteStatementCode, &ServeExecuteStatement);
  table.Add(kBRNFreeStatementCode, &ServeFreeStatement);
  table.Add(kBRNPrepareProcedureCode, &ServePrepareProcedure);
  table.Add(kBRNExecuteProcedureCode, &ServeExecuteProcedure);
  table.Add(kBRNFreeProcedureCode, &ServeFreeProcedure);
  table.Add(kBRNPrepareScriptCode, &ServePrepareScript);
  table.Add(kBRNExecuteScriptCode, &ServeExecuteScript);
  table.Add(kBRNFreeScriptCode, &ServeFreeScript);
  table.Add(kBRNDebugScriptCode, &ServeDebugScript);
  table.Add(kBRNPauseScriptCode, &serveDebuggerControl<&TBRNScriptManager::Pause>);
  table.Add(kBRNStepOverScriptCode, &serveDebuggerControl<&TBRNScriptManager::StepOver>);
  table.Add(kBRNStepIntoScriptCode, &serveDebuggerControl<&TBRNScriptManager::StepInto>);
  table.Add(kBRNResumeScriptCode, &serveDebuggerControl<&TBRNScriptManager::Resume>);
  table.Add(kBRNStopScriptCode, &serveDebuggerControl<&TBRNScriptManager::Stop>);
  table.Add(kBRNGetScriptCursorCode, &ServeGetScriptCursor);
  table.Add(kBRNSetScriptBreakpointCode, &serveBreakpoint<&TBRNScriptManager::SetBreakpoint>);
  table.Add(kBRNScriptBreakpointCode, &serveBreakpoint<&TBRNScriptManager::HasBreakpoint>);
  table.Add(kBRNRemoveScriptBreakpointCode,
            &serveBreakpoint<&TBRNScriptManager::RemoveBreakpoint>);
  table.Add(kBRNGetScriptVariableNamesCode, &ServeGetScriptVariableNames);
  table.Add(kBRNGetScriptVariableDataCode, &ServeGetScriptVariableData);
}

}  // namespace brn

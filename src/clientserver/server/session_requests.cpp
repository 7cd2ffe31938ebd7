#include "clientserver/server/session_requests.h"

#include <exception>
#include <map>

#include "clientserver/server/connection_thread.h"
#include "clientserver/server/request_dispatch.h"
#include "clientserver/server/server_engine_manager.h"
#include "clientserver/server/server_session.h"
#include "clientserver/transport/wire_message.h"
#include "foundation/locks/log_manager.h"
#include "foundation/text/exception.h"
#include "foundation/types/date_time.h"
#include "sessions/manager_interfaces.h"

namespace brn {

namespace {

constexpr const char* kBRNResetStatisticsStatement = "RESET SERVER SESSION STATISTICS";
// Another session is waited for as a request waits for its own: 3000 tries
// of 10 ms, then 506.
constexpr uint32_t kBRNOtherSessionLockTries = 3000;
constexpr int32_t kBRNOtherSessionLockWaitMs = 10;

// Reads a login field when its length passes the check; false (nothing
// read) otherwise.
bool readLoginField(TBRNServerRequest& request, std::string& value) {
  const int32_t length = request.PeekInt32();
  if (length < 0 || length > kBRNMaxLoginFieldLength) return false;
  value = request.ReadString(kBRNMaxLoginFieldLength);
  return true;
}

// One close of the client's: the handle stops being the client's with its
// last one.
void forgetClientOpen(std::map<int32_t, int32_t>& opens, int32_t handle) {
  auto entry = opens.find(handle);
  if (entry != opens.end() && --entry->second <= 0) opens.erase(entry);
}

}  // namespace

void ServeLogin(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  std::string userName;
  std::string password;
  bool allowLogin = readLoginField(request, userName) && readLoginField(request, password);
  if (allowLogin) {
    const TBRNServerThread& thread = request.GetThread();
    request.GetEngine().DoServerSessionLogin(
        userName, password, thread.GetClientIdentity(), int32_t(thread.GetClientThreadID()),
        thread.GetClientVersion(), thread.GetClientBuild(), allowLogin);
  }
  if (!allowLogin) session.RaiseLoginError(kBRNLoginNotAllowed);
  // A wrong password makes the engine ask the client again (9000) before
  // the login fails.
  TBRNServerThread::InstallClientCallbacks(session, session.GetProgressTimeInterval() > 0);
  session.Login(userName, password);
}

void ServeLogout(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  // The session is freed whatever its logout or close raises: the client
  // has gone its way and the connection closes with the detach.
  std::exception_ptr failure;
  try {
    session.Logout();
  } catch (...) {
    failure = std::current_exception();
  }
  for (auto step :
       {&TBRNServerSessionManager::DetachThread, &TBRNServerSessionManager::CloseSession}) {
    try {
      (session.*step)();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  session.UnlockOnFree = true;
  delete &session;
  request.SessionFreed = true;
  if (!failure) return;
  try {
    std::rethrow_exception(failure);
  } catch (const EBRNException& error) {
    request.GetEngine().LogServerEvent(lcError, kBRNLogoutSessionCode, error.ErrorCode,
                                       error.what());
  } catch (const std::exception& error) {
    request.GetEngine().LogServerEvent(lcError, kBRNLogoutSessionCode, kBRNNonEngineErrorCode,
                                       error.what());
  }
}

void ServeOpenDatabase(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  const std::string name = request.ReadString();
  const uint8_t lockType = request.ReadByte();
  TBRNDatabaseManager* database = session.OpenDatabase(name, lockType);
  ++session.ClientDatabaseOpens[database->Handle];
  request.BeginReply().WriteInteger(database->Handle);
}

void ServeCloseDatabase(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  TBRNDatabaseManager* database = &request.ReadDatabaseHandle(session);
  forgetClientOpen(session.ClientDatabaseOpens, database->Handle);
  session.CloseDatabase(database);
}

void ServeOpenStore(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  const std::string name = request.ReadString();
  const uint8_t lockType = request.ReadByte();
  TBRNStoreManager* store = session.OpenStore(name, lockType, false);
  ++session.ClientStoreOpens[store->Handle];
  request.BeginReply().WriteInteger(store->Handle);
}

void ServeCloseStore(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  TBRNStoreManager* store = &request.ReadStoreHandle(session);
  forgetClientOpen(session.ClientStoreOpens, store->Handle);
  session.CloseStore(store);
}

void ServeGetServerName(TBRNServerRequest& request, TBRNServerSessionManager&) {
  request.BeginReply().WriteString(request.GetEngine().ServerName);
}

void ServeGetServerDescription(TBRNServerRequest& request, TBRNServerSessionManager&) {
  request.BeginReply().WriteString(request.GetEngine().ServerDescription);
}

void ServeGetServerDateTime(TBRNServerRequest& request, TBRNServerSessionManager&) {
  request.BeginReply().WriteDouble(TimestampMsToDateTime(CurrentTimestamp(false)));
}

void ServeGetServerUTCDateTime(TBRNServerRequest& request, TBRNServerSessionManager&) {
  request.BeginReply().WriteDouble(TimestampMsToDateTime(CurrentTimestamp(true)));
}

void ServeUserDefinedRequest(TBRNServerRequest& request, TBRNServerSessionManager&) {
  TBRNServerEngineManagerProcedure procedure;
  procedure.Name = request.ReadString();
  procedure.Params.LoadFromStream(request.Input());
  request.GetEngine().DoServerProcedure(procedure);
  procedure.Params.SaveOutputParams(request.BeginReply());
}

// A server session reaches every session of its engine: another session is
// locked as DISCONNECT SERVER SESSION locks it (so its own request, if one
// runs, finishes first) and reset under that lock.
void TBRNServerSessionManager::ResetSessionStatistics(int32_t sessionId) {
  if (sessionId == Handle) {
    ResetStatistics();
    return;
  }
  if (!IsAdministratorUser()) RaiseAdminRequiredError(kBRNResetStatisticsStatement);
  TBRNEngineSessionManager* found = nullptr;
  if (!Engine->FindSession(sessionId, found, true, kBRNOtherSessionLockTries,
                           kBRNOtherSessionLockWaitMs, false))
    RaiseSessionNotPresent(sessionId);
  struct Unlock {
    TBRNEngineManager* engine;
    TBRNEngineSessionManager* session;
    ~Unlock() { engine->UnlockSessionEntry(session); }
  } unlock{Engine, found};
  auto* other = dynamic_cast<TBRNLocalSessionManager*>(found);
  if (other == nullptr) RaiseSessionNotPresent(sessionId);
  other->ResetStatistics();
}

void AddSessionRequestHandlers(TBRNServerRequestTable& table) {
  table.Add(kBRNLoginSessionCode, &ServeLogin);
  table.Add(kBRNLogoutSessionCode, &ServeLogout);
  table.Add(kBRNOpenDatabaseCode, &ServeOpenDatabase);
  table.Add(kBRNCloseDatabaseCode, &ServeCloseDatabase);
  table.Add(kBRNOpenStoreCode, &ServeOpenStore);
  table.Add(kBRNCloseStoreCode, &ServeCloseStore);
  table.Add(kBRNGetServerNameCode, &ServeGetServerName);
  table.Add(kBRNGetServerDescriptionCode, &ServeGetServerDescription);
  table.Add(kBRNGetServerDateTimeCode, &ServeGetServerDateTime);
  table.Add(kBRNGetServerUTCDateTimeCode, &ServeGetServerUTCDateTime);
  table.Add(kBRNUserDefinedRequestCode, &ServeUserDefinedRequest);
}

}  // namespace brn

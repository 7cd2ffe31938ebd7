#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "clientserver/remote/remote_managers.h"
#include "clientserver/remote/remote_session_manager.h"
#include "clientserver/server/server_engine_manager.h"
#include "foundation/file_test_support.h"
#include "sessions/engine_manager.h"
#include "sessions/local/local_session_manager.h"

namespace brn::test {

// A server engine listening on an ephemeral port of 127.0.0.1 with its
// configuration in a fresh folder (timers off: tests drive the sweep), a
// client engine, and Session: a remote session of the client engine
// connected to the server and logged in as Administrator, with its trace
// recorded (Traces, CountRequests).
class RemoteTest : public ::testing::Test {
 public:
  void SetUp() override;
  void TearDown() override;

  // Starts the server on Port (0: an ephemeral one, then kept in Port).
  void StartServer();
  void StopServer();

  // A new remote session for the server (connected; logged in with login),
  // with the test's settings: ping off, RemoteTimeout 10 s.
  std::unique_ptr<TBRNRemoteSessionManager> NewSession(bool login = true, bool open = true);

  // The in-memory database "RemoteTest" (created on the server the first
  // time), opened through Session.
  TBRNDatabaseManager* OpenTestDatabase();
  // Prepares and executes sql in database through its session; the rows
  // affected. A cursor the statement gives is freed with the statement.
  int32_t Exec(TBRNDatabaseManager* database, const std::string& sql);

  // Every message Session traced (requests have ReplyCode -1).
  std::vector<TBRNRemoteSessionTrace> Traces();
  void ClearTraces();
  // Requests of code that Session sent.
  int32_t CountRequests(int32_t code);
  // Starts recording the traces of session.
  void RecordTraces(TBRNRemoteSessionManager& session);

  // Local: a local session on the server's own engine, logged in as
  // Administrator, with "RemoteTest" open as LocalDatabase, so that a test
  // can compare the remote answers with the engine's own. CloseLocalTwin
  // closes both and may be called when none is open.
  void OpenLocalTwin();
  void CloseLocalTwin();

  brn::testing::TempDirectory Folder;
  std::unique_ptr<TBRNServerEngineManager> Server;
  uint16_t Port = 0;
  TBRNEngineManager ClientEngine;
  std::unique_ptr<TBRNRemoteSessionManager> Session;
  std::unique_ptr<TBRNLocalSessionManager> Local;
  TBRNDatabaseManager* LocalDatabase = nullptr;

 private:
  std::mutex tracesLock_;
  std::vector<TBRNRemoteSessionTrace> traces_;
};

// The position of the table column called name among the cursor's columns
// (std::invalid_argument when it has none).
int32_t ColumnOf(TBRNCursor& cursor, const std::string& name);

inline constexpr const char* kRemoteAdministrator = "Administrator";
inline constexpr const char* kRemoteAdministratorPassword = "GlenHarbor";

}  // namespace brn::test

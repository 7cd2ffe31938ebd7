// The server the client/server benchmarks share: a server of 127.0.0.1 on
// an ephemeral port whose in-memory database Bench holds T (ID INTEGER
// primary key, Name VARCHAR(20), Amount INTEGER) with kRows rows and the
// empty Added (ID INTEGER primary key, Name VARCHAR(20)), built once per
// process; and a client session of it, remote over loopback TCP or local in
// the server's own engine.
#pragma once

#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "clientserver/remote/remote_cursor.h"
#include "clientserver/remote/remote_managers.h"
#include "clientserver/remote/remote_session_manager.h"
#include "clientserver/server/server_engine_manager.h"
#include "execution/handles/local_statement_manager.h"
#include "foundation/text/string_list.h"
#include "foundation/values/param_value.h"
#include "sessions/engine_manager.h"
#include "sessions/local/local_session_manager.h"
#include "storage/cursors/cursor.h"

namespace brn::bench {

inline constexpr int32_t kRows = 100000;
inline constexpr const char* kUser = "Administrator";
inline constexpr const char* kPassword = "GlenHarbor";

// The server, its data and the client engine, built once per process.
struct Fixture {
  Fixture() {
    Folder = (std::filesystem::temp_directory_path() /
              ("bench-clientserver-" + std::to_string(getpid())))
                 .string();
    std::filesystem::remove_all(Folder);
    std::filesystem::create_directories(Folder);
    Server.Settings->SetConfigPath(Folder);
    Server.ServerAddress = "127.0.0.1";
    Server.ServerPort = 0;
    Server.ServerAuthorizedAddresses->Add("*");
    Server.JobTimerInterval = 0;
    Server.SweepTimerEnabled = false;
    Server.ServerThreadCacheSize = 16;
    Server.Start();
    Port = Server.GetListeningPort();

    TBRNLocalSessionManager setup(&Server, false, false);
    setup.OpenSession("bench:setup", "setup", "");
    setup.Login(kUser, kPassword);
    TBRNDatabaseManager* configuration = setup.OpenDatabase("Configuration", kBRNLockShared);
    Run(configuration, "CREATE DATABASE Bench IN MEMORY");
    setup.CloseDatabase(configuration);
    TBRNDatabaseManager* database = setup.OpenDatabase("Bench", kBRNLockShared);
    Run(database, "CREATE TABLE T (ID INTEGER, Name VARCHAR(20), Amount INTEGER, PRIMARY KEY (ID))");
    Run(database, "CREATE TABLE Added (ID INTEGER, Name VARCHAR(20), PRIMARY KEY (ID))");
    TBRNStringsList all;
    database->StartTransaction(all, -1);
    auto* insert = static_cast<TBRNLocalStatementManager*>(
        database->PrepareStatement("INSERT INTO T (ID, Name, Amount) VALUES (?, ?, ?)"));
    for (int32_t id = 1; id <= kRows; ++id) {
      insert->Params->GetItem(0)->SetAsInteger(id);
      insert->Params->GetItem(1)->SetAsString("name " + std::to_string(id % 977));
      insert->Params->GetItem(2)->SetAsInteger(id % 1000);
      insert->ExecuteStatement();
    }
    TBRNLocalStatementManager::FreeStatement(insert);
    database->Commit(false, false);
    setup.CloseDatabase(database);
    setup.Logout();
    setup.CloseSession();
  }

  ~Fixture() {
    Server.Stop();
    std::filesystem::remove_all(Folder);
  }

  static void Run(TBRNDatabaseManager* database, const std::string& sql) {
    auto* statement = static_cast<TBRNLocalStatementManager*>(database->PrepareStatement(sql));
    statement->ExecuteStatement();
    TBRNLocalStatementManager::FreeStatement(statement);
  }

  std::string Folder;
  TBRNServerEngineManager Server;
  uint16_t Port = 0;
  TBRNEngineManager ClientEngine;
  std::atomic<int32_t> NextAdded{1};
  std::atomic<int32_t> NextClient{1};
};

inline Fixture& fixture() {
  static Fixture f;
  return f;
}

// One client: a session with the Bench database open, remote or local. The
// remote session opens on the thread that uses it.
class Client {
 public:
  explicit Client(bool remote) : remote_(remote) {
    Fixture& f = fixture();
    const std::string name = "bench" + std::to_string(f.NextClient++);
    if (remote) {
      auto session = std::make_unique<TBRNRemoteSessionManager>(&f.ClientEngine);
      session->RemotePort = f.Port;
      session->SetRemotePing(false);
      session->OpenSession("bench:" + std::to_string(getpid()), name, "");
      session_ = std::move(session);
    } else {
      auto session = std::make_unique<TBRNLocalSessionManager>(&f.Server, false, false);
      session->OpenSession("bench:local", name, "");
      session_ = std::move(session);
    }
    session_->Login(kUser, kPassword);
    Database = session_->OpenDatabase("Bench", kBRNLockShared);
  }

  ~Client() {
    session_->CloseDatabase(Database);
    session_->Logout();
    session_->CloseSession();
  }

  TBRNStatementManager* Prepare(const std::string& sql) { return Database->PrepareStatement(sql); }

  void Free(TBRNStatementManager* statement) {
    if (remote_) {
      delete statement;
    } else {
      auto* local = static_cast<TBRNLocalStatementManager*>(statement);
      TBRNLocalStatementManager::FreeStatement(local);
    }
  }

  void Free(TBRNCursor* cursor) {
    if (!remote_) Database->Cursors.RemoveObject(cursor, false);
    delete cursor;
  }

  TBRNDatabaseManager* Database = nullptr;

 private:
  bool remote_;
  std::unique_ptr<TBRNSessionManager> session_;
};

}  // namespace brn::bench

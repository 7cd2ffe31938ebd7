#include "clientserver/remote/remote_test_support.h"

#include <unistd.h>

#include <stdexcept>

#include "foundation/text/string_list.h"
#include "metadata/catalog/columns.h"
#include "storage/cursors/cursor.h"
#include "storage/cursors/cursor_columns.h"

namespace brn::test {

void RemoteTest::SetUp() {
  StartServer();
  Session = NewSession();
  RecordTraces(*Session);
}

void RemoteTest::TearDown() {
  if (Session) {
    Session->Logout();
    Session.reset();
  }
  StopServer();
}

void RemoteTest::StartServer() {
  Server = std::make_unique<TBRNServerEngineManager>();
  Server->Settings->SetConfigPath(Folder.Path);
  Server->ServerAddress = "127.0.0.1";
  Server->ServerPort = Port;
  Server->ServerAuthorizedAddresses->Add("*");
  Server->JobTimerInterval = 0;
  Server->SweepTimerEnabled = false;
  Server->Start();
  Port = Server->GetListeningPort();
  ASSERT_NE(Port, 0);
}

void RemoteTest::StopServer() {
  if (!Server) return;
  Server->Stop();
  Server.reset();
}

void RemoteTest::OpenLocalTwin() {
  Local = std::make_unique<TBRNLocalSessionManager>(Server.get(), false, false);
  Local->OpenSession("localhost:1", "local", "");
  Local->Login(kRemoteAdministrator, kRemoteAdministratorPassword);
  LocalDatabase = Local->OpenDatabase("RemoteTest", kBRNLockShared);
}

void RemoteTest::CloseLocalTwin() {
  if (!Local) return;
  if (LocalDatabase != nullptr) Local->CloseDatabase(LocalDatabase);
  LocalDatabase = nullptr;
  Local->Logout();
  Local->CloseSession();
  Local.reset();
}

std::unique_ptr<TBRNRemoteSessionManager> RemoteTest::NewSession(bool login, bool open) {
  auto session = std::make_unique<TBRNRemoteSessionManager>(&ClientEngine);
  session->RemoteAddress = "127.0.0.1";
  session->RemotePort = Port;
  session->SetRemotePing(false);
  session->SetRemoteTimeout(10);
  if (!open) return session;
  session->OpenSession("testhost:" + std::to_string(getpid()), "remote", "remote test session");
  if (login) session->Login(kRemoteAdministrator, kRemoteAdministratorPassword);
  return session;
}

TBRNDatabaseManager* RemoteTest::OpenTestDatabase() {
  TBRNDatabaseManager* configuration = Session->OpenDatabase("Configuration", kBRNLockShared);
  try {
    Exec(configuration, "CREATE DATABASE RemoteTest IN MEMORY");
  } catch (const EBRNException&) {
    // Created by an earlier call of this test.
  }
  Session->CloseDatabase(configuration);
  return Session->OpenDatabase("RemoteTest", kBRNLockShared);
}

int32_t RemoteTest::Exec(TBRNDatabaseManager* database, const std::string& sql) {
  std::unique_ptr<TBRNStatementManager> statement(database->PrepareStatement(sql));
  statement->ExecuteStatement();
  return statement->GetRowsAffected();
}

void RemoteTest::RecordTraces(TBRNRemoteSessionManager& session) {
  session.RemoteTrace = true;
  session.OnRemoteTrace = [this](TBRNRemoteSessionManager&, const TBRNRemoteSessionTrace& trace) {
    TBRNRemoteSessionTrace copy;
    copy.Assign(trace);
    std::lock_guard<std::mutex> guard(tracesLock_);
    traces_.push_back(copy);
  };
}

std::vector<TBRNRemoteSessionTrace> RemoteTest::Traces() {
  std::lock_guard<std::mutex> guard(tracesLock_);
  std::vector<TBRNRemoteSessionTrace> copy;
  for (const TBRNRemoteSessionTrace& trace : traces_) {
    copy.emplace_back();
    copy.back().Assign(trace);
  }
  return copy;
}

void RemoteTest::ClearTraces() {
  std::lock_guard<std::mutex> guard(tracesLock_);
  traces_.clear();
}

int32_t RemoteTest::CountRequests(int32_t code) {
  int32_t count = 0;
  for (const TBRNRemoteSessionTrace& trace : Traces())
    if (trace.ReplyCode == -1 && trace.RequestCode == code) ++count;
  return count;
}

int32_t ColumnOf(TBRNCursor& cursor, const std::string& name) {
  TBRNColumns& columns = cursor.GetTableColumns();
  for (int32_t i = 0; i < columns.Count(); ++i)
    if (columns.GetItem(i)->Name == name) return i;
  throw std::invalid_argument("no column " + name);
}

}  // namespace brn::test

#include "clientserver/datasets/dataset_test_support.h"

#include "clientserver/components/component_error.h"
#include "foundation/text/string_list.h"
#include "sessions/manager_interfaces.h"
#include "sessions/session_manager.h"

namespace brn::test {

namespace {
constexpr const char* kAdministrator = "Administrator";
constexpr const char* kAdministratorPassword = "GlenHarbor";
}  // namespace

void ExpectDatabaseError(const std::function<void()>& call, const std::string& message) {
  try {
    call();
    ADD_FAILURE() << "no error, expected: " << message;
  } catch (const EDatabaseError& error) {
    EXPECT_EQ(std::string(error.what()), message);
  }
}

std::string SessionTypeName(const ::testing::TestParamInfo<TBRNSessionType>& info) {
  return info.param == stRemote ? "Remote" : "Local";
}

void ComponentSessionTest::SetUp() {
  if (IsRemote()) {
    Server = std::make_unique<TBRNServerEngineManager>();
    Server->Settings->SetConfigPath(ServerFolder.Path);
    Server->ServerAddress = "127.0.0.1";
    Server->ServerPort = 0;
    Server->ServerAuthorizedAddresses->Add("*");
    Server->JobTimerInterval = 0;
    Server->SweepTimerEnabled = false;
    Server->Start();
    ASSERT_NE(Server->GetListeningPort(), 0);
  }
  Engine = std::make_unique<TBRNEngine>(nullptr);
  Engine->SetConfigPath(EngineFolder.Path);
  Session = NewSession("S1");
  Exec("Configuration", "CREATE DATABASE Shop IN MEMORY");
}

void ComponentSessionTest::TearDown() {
  Session.reset();
  Engine.reset();
  if (Server) {
    Server->Stop();
    Server.reset();
  }
}

std::unique_ptr<TBRNSession> ComponentSessionTest::NewSession(const std::string& name) {
  auto session = std::make_unique<TBRNSession>(nullptr);
  session->SetSessionName(name);
  session->SetLoginUser(kAdministrator);
  session->SetLoginPassword(kAdministratorPassword);
  if (IsRemote()) {
    session->SetSessionType(stRemote);
    session->SetRemoteAddress("127.0.0.1");
    session->SetRemotePort(Server->GetListeningPort());
    session->SetRemotePing(false);
  }
  return session;
}

void ComponentSessionTest::Exec(const std::string& database, const std::string& sql) {
  TBRNSessionManager& manager = Session->GetSessionManager();
  TBRNDatabaseManager* handle = manager.OpenDatabase(database, kBRNLockShared);
  try {
    std::unique_ptr<TBRNStatementManager> statement(handle->PrepareStatement(sql));
    statement->ExecuteStatement();
  } catch (...) {
    manager.CloseDatabase(handle);
    throw;
  }
  manager.CloseDatabase(handle);
}

void ShopDatabaseTest::SetUp() {
  ComponentSessionTest::SetUp();
  Manager = &Session->GetSessionManager();
  Database = Manager->OpenDatabase("Shop", kBRNLockShared);
}

void ShopDatabaseTest::TearDown() {
  if (Database != nullptr && Session->SessionManager() != nullptr) Manager->CloseDatabase(Database);
  ComponentSessionTest::TearDown();
}

void ShopDatabaseTest::Run(const std::string& sql) {
  std::unique_ptr<TBRNStatementManager> statement(Database->PrepareStatement(sql));
  statement->ExecuteStatement();
}

}  // namespace brn::test

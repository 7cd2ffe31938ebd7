#include "clientserver/mixed/mixed_session_manager.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "clientserver/child_process_support.h"
#include "clientserver/remote/remote_session_manager.h"
#include "clientserver/server/server_engine_manager.h"
#include "foundation/core/memory_stream.h"
#include "foundation/file_test_support.h"
#include "foundation/locks/lockable.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_list.h"
#include "metadata/config/stores.h"
#include "sessions/engine_settings.h"
#include "sessions/manager_interfaces.h"

namespace brn {
namespace {

using test::ChildTestProcess;

constexpr const char* kAdministratorName = "Administrator";
constexpr const char* kAdministratorLogonPassword = "GlenHarbor";
constexpr const char* kStoreServerTest = "MixedStoreServerProcess.DISABLED_Serve";

int32_t Exec(TBRNDatabaseManager* database, const std::string& sql) {
  std::unique_ptr<TBRNStatementManager> statement(database->PrepareStatement(sql));
  statement->ExecuteStatement();
  return statement->GetRowsAffected();
}

void ConfigureServer(TBRNServerEngineManager& server, const std::string& folder,
                     const std::string& signature) {
  server.Settings->SetConfigPath(folder);
  server.Settings->SetSignature(signature);
  server.ServerAddress = "127.0.0.1";
  server.ServerPort = 0;
  server.ServerAuthorizedAddresses->Add("*");
  server.JobTimerInterval = 0;
  server.SweepTimerEnabled = false;
}

std::unique_ptr<TBRNRemoteSessionManager> LoggedInRemote(TBRNEngineManager& engine, uint16_t port,
                                                         const std::string& signature) {
  auto session = std::make_unique<TBRNRemoteSessionManager>(&engine);
  session->RemoteAddress = "127.0.0.1";
  session->RemotePort = port;
  session->SetRemotePing(false);
  session->SetRemoteTimeout(30);
  session->SessionSettings->SetSignature(signature);
  session->OpenSession("testhost:" + std::to_string(getpid()), "setup", "");
  session->Login(kAdministratorName, kAdministratorLogonPassword);
  return session;
}

// The second server process: it holds the local store Files and serves
// until the parent closes its input. Runs only when started by the tests
// below.
TEST(MixedStoreServerProcess, DISABLED_Serve) {
  const char* folder = std::getenv("BRN_STORE_SERVER_FOLDER");
  const char* signature = std::getenv("BRN_STORE_SERVER_SIGNATURE");
  if (folder == nullptr || signature == nullptr) GTEST_SKIP();
  TBRNServerEngineManager server;
  ConfigureServer(server, folder, signature);
  server.Start();
  const uint16_t port = server.GetListeningPort();
  {
    TBRNEngineManager client;
    auto setup = LoggedInRemote(client, port, signature);
    TBRNDatabaseManager* configuration = setup->OpenDatabase("Configuration", ltShared);
    Exec(configuration, "CREATE STORE Files AS LOCAL PATH 'files'");
    setup->CloseDatabase(configuration);
    setup->Logout();
  }
  test::PublishText(std::string(folder) + "/port", std::to_string(port));
  test::WaitForParentToClose(120000);
  server.Stop();
}

// A store server in a second process on an ephemeral port.
class StoreServer {
 public:
  explicit StoreServer(const std::string& signature = kBRNDefaultSignature)
      : process_(kStoreServerTest, {{"BRN_STORE_SERVER_FOLDER", folder_.Path},
                                    {"BRN_STORE_SERVER_SIGNATURE", signature}}) {
    const std::string text = test::AwaitText(folder_ / "port", 60000);
    if (!text.empty()) Port = uint16_t(std::stoi(text));
  }
  ~StoreServer() {
    process_.CloseInput();
    EXPECT_EQ(process_.Wait(30000), 0) << "the store server process failed";
  }

  brn::testing::TempDirectory folder_;
  uint16_t Port = 0;

 private:
  ChildTestProcess process_;
};

// A local session of a client engine whose configuration lies in a fresh
// folder, logged in, with a remote store Vault on the store server.
class MixedStoreTest : public ::testing::Test {
 protected:
  void OpenSession(const std::string& signature = kBRNDefaultSignature) {
    engine.Settings->SetConfigPath(folder.Path);
    session = std::make_unique<TBRNMixedSessionManager>(&engine, false, false);
    session->SessionSettings->SetSignature(signature);
    session->OpenSession("host", "Owner", "");
    session->Login(kAdministratorName, kAdministratorLogonPassword);
  }

  TBRNStore* CreateRemoteStore(const std::string& name, uint16_t port,
                               const std::string& signature, const std::string& password) {
    TBRNStore* store = session->BeginCreateStore(name);
    store->SetStoreType(kRemoteStore);
    store->SetAddress("127.0.0.1");
    store->SetPort(port);
    store->SetUserName(kAdministratorName);
    store->SetPassword(password);
    store->SetRemoteStore("Files");
    // Time-out and ping keep the defaults of a new store, which an
    // embedded remote session must accept.
    session->EndCreateStore(store);
    // The signature is set after creation: an empty one is what a store
    // read from an older configuration may carry.
    store->Signature = signature;
    return store;
  }

  TBRNMixedStoreManager& MixedManager(TBRNStore* store) {
    auto* manager = dynamic_cast<TBRNMixedStoreManager*>(session->GetStoreManager(store));
    if (manager == nullptr) throw std::logic_error("not a mixed store manager");
    return *manager;
  }

  brn::testing::TempDirectory folder;
  TBRNEngineManager engine;
  std::unique_ptr<TBRNMixedSessionManager> session;
};

TEST_F(MixedStoreTest, StoreKindChoosesTheManager) {
  OpenSession();
  TBRNStore* local = session->BeginCreateStore("Here");
  local->SetStoreType(kLocalStore);
  local->SetPath("here");
  session->EndCreateStore(local);
  TBRNStore* remote = CreateRemoteStore("There", 1, kBRNDefaultSignature, "x");
  EXPECT_EQ(dynamic_cast<TBRNMixedStoreManager*>(session->GetStoreManager(local)), nullptr);
  EXPECT_NE(dynamic_cast<TBRNLocalStoreManager*>(session->GetStoreManager(local)), nullptr);
  EXPECT_NE(dynamic_cast<TBRNMixedStoreManager*>(session->GetStoreManager(remote)), nullptr);
}

// A store made through the session alone carries the defaults of a new
// store, not the zeros of one about to be read from its record.
TEST_F(MixedStoreTest, ANewStoreHasTheDefaultsOfANewStore) {
  OpenSession();
  TBRNStore* store = session->BeginCreateStore("Fresh");
  EXPECT_EQ(store->Port, kDefaultStorePort);
  EXPECT_EQ(store->Compression, kDefaultStoreCompression);
  EXPECT_EQ(store->Timeout, kDefaultStoreTimeout);
  EXPECT_TRUE(store->Ping);
  EXPECT_EQ(store->PingInterval, kDefaultStorePingInterval);
  session->CancelCreateStore(store);
}

// The owning session's signature stands in for an empty one; a store
// signature of its own is used as given.
TEST_F(MixedStoreTest, EmptySignatureUsesTheOwningSessionsAndFilesPassThrough) {
  StoreServer server("Vault signature");
  ASSERT_NE(server.Port, 0);
  OpenSession("Vault signature");
  TBRNStore* borrowed = CreateRemoteStore("Borrowed", server.Port, "", kAdministratorLogonPassword);
  // As a store written before new stores carried their defaults: the
  // connection pings at the least interval instead.
  borrowed->PingInterval = 0;
  TBRNStore* foreign =
      CreateRemoteStore("Foreign", server.Port, "Another signature", kAdministratorLogonPassword);

  EXPECT_THROW(session->OpenStore("Foreign", ltShared, false), EBRNException);
  EXPECT_EQ(MixedManager(foreign).GetRemoteStore(), nullptr);
  EXPECT_FALSE(MixedManager(foreign).GetRemoteSession().Opened);

  TBRNStoreManager* store = session->OpenStore("Borrowed", ltShared, false);
  TBRNMixedStoreManager& mixed = MixedManager(borrowed);
  ASSERT_NE(mixed.GetRemoteStore(), nullptr);
  EXPECT_TRUE(mixed.GetRemoteSession().IsLoggedIn());
  EXPECT_EQ(mixed.GetRemoteSession().GetRemotePingInterval(), kMinStorePingInterval);

  TBRNMemoryStream bytes;
  bytes.WriteString("stored far away");
  bytes.SetPosition(0);
  store->BeginWriteFile("note.txt");
  EXPECT_EQ(store->WriteFile(bytes, uint32_t(bytes.GetSize())), uint32_t(bytes.GetSize()));
  store->EndWriteFile();
  store->CopyFile("note.txt", "copy.txt");
  store->ListFiles("*");
  std::vector<std::string> names;
  for (int32_t i = 0; i < store->Files.GetCount(); ++i) names.push_back(store->Files.GetItem(i).Name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"copy.txt", "note.txt"}));
  // The copy landed in the other server's own folder.
  EXPECT_TRUE(std::filesystem::exists(server.folder_ / "files/copy.txt"));

  TBRNStoreManager* closing = store;
  session->CloseStore(closing);
  EXPECT_EQ(mixed.GetRemoteStore(), nullptr);
  EXPECT_FALSE(mixed.GetRemoteSession().Opened);
}

TEST_F(MixedStoreTest, ARefusedLoginLeavesNoOpenRemoteSession) {
  StoreServer server;
  ASSERT_NE(server.Port, 0);
  OpenSession();
  TBRNStore* store = CreateRemoteStore("Vault", server.Port, "", "wrong password");
  try {
    session->OpenStore("Vault", ltShared, false);
    ADD_FAILURE() << "the login was not refused";
  } catch (const EBRNException& error) {
    EXPECT_NE(error.ErrorCode, 1100) << error.what();
  }
  TBRNMixedStoreManager& mixed = MixedManager(store);
  EXPECT_EQ(mixed.GetRemoteStore(), nullptr);
  EXPECT_FALSE(mixed.GetRemoteSession().Opened);
  EXPECT_FALSE(mixed.GetRemoteSession().IsConnected());
  EXPECT_FALSE(mixed.Opened);
}

// Answers whether database holds exactly the rows (1, 'one'), (2, 'two'),
// (3, 'three') of Items.
bool HoldsTheThreeItems(TBRNRemoteSessionManager& remote, const std::string& database) {
  TBRNDatabaseManager* handle = remote.OpenDatabase(database, ltShared);
  const bool all = Exec(handle, "UPDATE Items SET ID = ID") == 3 &&
                   Exec(handle,
                        "UPDATE Items SET Name = Name WHERE (ID = 1 AND Name = 'one') OR "
                        "(ID = 2 AND Name = 'two') OR (ID = 3 AND Name = 'three')") == 3;
  remote.CloseDatabase(handle);
  return all;
}

// A server's own sessions reach remote stores: server A backs a database up
// straight into a store of server B (another process) and restores it from
// there into a new database with the same rows; the same through a local
// store. A damaged file in the remote store is refused before anything
// changes.
TEST(MixedServerStoreTest, AServerBacksUpIntoAnotherServersStoreAndRestoresFromIt) {
  StoreServer vault;
  ASSERT_NE(vault.Port, 0);
  brn::testing::TempDirectory folder;
  TBRNServerEngineManager server;
  ConfigureServer(server, folder.Path, kBRNDefaultSignature);
  server.Start();
  {
    TBRNEngineManager client;
    auto remote = LoggedInRemote(client, server.GetListeningPort(), kBRNDefaultSignature);
    TBRNDatabaseManager* configuration = remote->OpenDatabase("Configuration", ltShared);
    for (const char* name : {"Source", "FromVault", "FromHere"})
      Exec(configuration, std::string("CREATE DATABASE ") + name + " IN MEMORY");
    Exec(configuration, "CREATE STORE Vault AS REMOTE ADDRESS '127.0.0.1' PORT " +
                            std::to_string(vault.Port) +
                            " USER Administrator PASSWORD 'GlenHarbor' STORE Files");
    Exec(configuration, "CREATE STORE Here AS LOCAL PATH 'here'");
    TBRNDatabaseManager* source = remote->OpenDatabase("Source", ltShared);
    Exec(source, "CREATE TABLE Items (ID INTEGER PRIMARY KEY, Name VARCHAR(20))");
    EXPECT_EQ(Exec(source, "INSERT INTO Items VALUES (1, 'one'), (2, 'two'), (3, 'three')"), 3);
    remote->CloseDatabase(source);

    Exec(configuration, "BACKUP DATABASE Source AS nightly TO STORE Vault INCLUDE CATALOG");
    const std::filesystem::path files = vault.folder_ / "files";
    EXPECT_TRUE(std::filesystem::exists(files / "nightly.BRNBkp"));
    EXPECT_FALSE(std::filesystem::exists(files / "nightly.Tmp"));
    Exec(configuration, "RESTORE DATABASE FromVault FROM nightly IN STORE Vault INCLUDE CATALOG");
    EXPECT_TRUE(HoldsTheThreeItems(*remote, "FromVault"));

    Exec(configuration, "BACKUP DATABASE Source AS nightly TO STORE Here INCLUDE CATALOG");
    Exec(configuration, "RESTORE DATABASE FromHere FROM nightly IN STORE Here INCLUDE CATALOG");
    EXPECT_TRUE(HoldsTheThreeItems(*remote, "FromHere"));

    // Cut short in the remote store: the header names more than the file
    // holds.
    const std::uintmax_t size = std::filesystem::file_size(files / "nightly.BRNBkp");
    std::filesystem::copy_file(files / "nightly.BRNBkp", files / "short.BRNBkp");
    std::filesystem::resize_file(files / "short.BRNBkp", size / 2);
    try {
      Exec(configuration, "RESTORE DATABASE FromVault FROM short IN STORE Vault INCLUDE CATALOG");
      ADD_FAILURE() << "a damaged backup was restored";
    } catch (const EBRNException& error) {
      EXPECT_EQ(error.ErrorCode, 1301) << error.what();
    }
    EXPECT_TRUE(HoldsTheThreeItems(*remote, "FromVault"));
    remote->CloseDatabase(configuration);
    remote->Logout();
  }
  server.Stop();
}

}  // namespace
}  // namespace brn

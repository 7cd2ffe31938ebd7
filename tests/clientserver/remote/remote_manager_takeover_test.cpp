// A client that loses its connection while its debugged script runs: the
// run keeps the server session until it pauses or ends, so the reconnect
// is told at once that the session is busy instead of waiting for it.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "clientserver/remote/remote_managers.h"
#include "clientserver/remote/remote_test_support.h"
#include "clientserver/server/server_session.h"
#include "foundation/text/exception.h"
#include "storage/cursors/cursor.h"
#include "tools/fault_proxy.h"

namespace brn::test {
namespace {

class RemoteTakeoverTest : public RemoteTest {
 protected:
  void SetUp() override {
    RemoteTest::SetUp();
    Database = OpenTestDatabase();
    Exec(Database, "CREATE TABLE Items (ID INTEGER, Name VARCHAR(10))");
    Exec(Database, "INSERT INTO Items (ID) VALUES (1)");
    Proxy = std::make_unique<FaultProxy>(Port, 77);
    Other = NewSession(false, false);
    Other->RemotePort = Proxy->Port();
    // Its script waits for a row lock for up to about 10 s.
    Other->RecordLockRetryCount = 1000;
    Other->RecordLockWaitTime = 10;
    Other->OpenSession("proxied:2", "proxied", "debugging through the fault proxy");
    Other->Login(kRemoteAdministrator, kRemoteAdministratorPassword);
    OtherId = Other->GetSessionID();
  }

  void TearDown() override {
    if (Other) {
      Other->Logout();
      Other.reset();
    }
    Proxy.reset();
    RemoteTest::TearDown();
  }

  // Whether the server's session of Other is dead (no connection) within 15 s.
  bool WaitForDeadOther() {
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
         std::chrono::steady_clock::now() < end;
         std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
      TBRNEngineSessionManager* found = nullptr;
      if (!Server->FindSession(OtherId, found, false, 1, 0, false)) return false;
      auto* session = dynamic_cast<TBRNServerSessionManager*>(found);
      if (session != nullptr && !session->IsConnected()) return true;
    }
    return false;
  }

  TBRNDatabaseManager* Database = nullptr;
  std::unique_ptr<FaultProxy> Proxy;
  std::unique_ptr<TBRNRemoteSessionManager> Other;
  int32_t OtherId = 0;
};

TEST_F(RemoteTakeoverTest, AReconnectDuringARunningScriptIsAnsweredAtOnce) {
  // Session holds the row the script will update, so the script runs on.
  TBRNCursor* cursor = Database->OpenTable("", "Items", false, false);
  std::unique_ptr<TBRNCursorRow> row = cursor->CreateRow();
  ASSERT_TRUE(cursor->FirstRow());
  cursor->GetCurrentRow(*row, true);

  TBRNDatabaseManager* otherDatabase = Other->OpenDatabase("RemoteTest", kBRNLockShared);
  std::unique_ptr<TBRNRemoteScriptManager> script(
      static_cast<TBRNRemoteScriptManager*>(otherDatabase->PrepareScript(
          "SCRIPT ()\nBEGIN\n"
          "  EXECUTE IMMEDIATE 'UPDATE Items SET Name = ''taken'' WHERE ID = 1';\nEND")));
  script->ReportDebugger = true;

  std::thread cut([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    Proxy->ResetAll();
  });
  const auto start = std::chrono::steady_clock::now();
  int32_t error = 0;
  try {
    script->DebugScript();
  } catch (const EBRNException& e) {
    error = e.ErrorCode;
  }
  const auto waited = std::chrono::steady_clock::now() - start;
  cut.join();
  EXPECT_EQ(error, 506) << "the session is busy with the run";
  EXPECT_LT(waited, std::chrono::seconds(4)) << "the reconnect did not wait for the run";

  // Once the run can go on it ends; the session is then free for the
  // client, which reconnects with its next request.
  cursor->CancelRow(*row);
  ASSERT_TRUE(WaitForDeadOther());
  EXPECT_EQ(Exec(otherDatabase, "UPDATE Items SET Name = Name WHERE Name = 'taken'"), 1);
  script.reset();
  Other->CloseDatabase(otherDatabase);
  delete cursor;
}

}  // namespace
}  // namespace brn::test

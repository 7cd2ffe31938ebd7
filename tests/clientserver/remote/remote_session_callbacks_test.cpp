#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "clientserver/remote/remote_test_support.h"
#include "foundation/core/memory_stream.h"
#include "foundation/text/exception.h"
#include "foundation/values/param_value.h"

namespace brn {
namespace {

constexpr int32_t kGetServerNameCode = 300;
constexpr int32_t kFreeStatementCode = 252;
constexpr int32_t kRows = 300;

// A session that hears every progress report (interval 0) and a table of
// kRows rows to update.
class RemoteSessionCallbacksTest : public test::RemoteTest {
 public:
  void SetUp() override {
    test::RemoteTest::SetUp();
    Session->Logout();
    Session.reset();
    Session = NewSession(false, false);
    Session->SetProgressTimeInterval(0);
    Session->OpenSession("testhost:4", "callbacks", "");
    Session->Login(test::kRemoteAdministrator, test::kRemoteAdministratorPassword);
    RecordTraces(*Session);
    Database = OpenTestDatabase();
    Exec(Database, "CREATE TABLE Items (ID INTEGER, Name VARCHAR(20), PRIMARY KEY (ID))");
    std::unique_ptr<TBRNStatementManager> insert(
        Database->PrepareStatement("INSERT INTO Items (ID, Name) VALUES (?, 'n')"));
    for (int32_t id = 1; id <= kRows; ++id) {
      insert->Params->GetItem(0)->SetAsInteger(id);
      insert->ExecuteStatement();
    }
  }

  void TearDown() override {
    if (Database != nullptr) Session->CloseDatabase(Database);
    test::RemoteTest::TearDown();
  }

  // An UPDATE of every row that reports its progress.
  std::unique_ptr<TBRNRemoteStatementManager> Update() {
    auto* statement = static_cast<TBRNRemoteStatementManager*>(
        Database->PrepareStatement("UPDATE Items SET Name = 'u'"));
    statement->ReportProgress = true;
    return std::unique_ptr<TBRNRemoteStatementManager>(statement);
  }

  std::string ServerName() {
    std::string name;
    TBRNRemoteCall call(*Session, kGetServerNameCode);
    call.Execute().ReadString(name);
    return name;
  }

  int32_t CountCallbacks(int32_t code) {
    int32_t count = 0;
    for (const TBRNRemoteSessionTrace& trace : Traces()) count += trace.ReplyCode == code;
    return count;
  }

  TBRNDatabaseManager* Database = nullptr;
};

TEST_F(RemoteSessionCallbacksTest, ProgressArrivesAndCanCancel) {
  std::vector<int32_t> reports;
  Session->Events.OnProgress = [&](int32_t percent, bool&) { reports.push_back(percent); };
  std::unique_ptr<TBRNRemoteStatementManager> update = Update();
  ClearTraces();
  update->ExecuteStatement();
  EXPECT_EQ(update->GetRowsAffected(), kRows);
  // The server's reports (callback 9001) within the session's own bracket.
  EXPECT_GT(CountCallbacks(9001), 0);
  ASSERT_GE(reports.size(), 3u);
  EXPECT_EQ(reports.front(), 0);
  EXPECT_EQ(reports.back(), 100);

  // A handler that says stop ends the update early.
  reports.clear();
  Session->Events.OnProgress = [&](int32_t percent, bool& proceed) {
    reports.push_back(percent);
    proceed = percent < 10;
  };
  int32_t affected = -1;
  try {
    update->ExecuteStatement();
    affected = update->GetRowsAffected();
  } catch (const EBRNException&) {
    affected = 0;
  }
  EXPECT_LT(affected, kRows);
  EXPECT_LT(reports.size(), size_t(kRows));
  // Without ReportProgress the server does not ask.
  reports.clear();
  update->ReportProgress = false;
  update->ExecuteStatement();
  EXPECT_TRUE(reports.empty());
  EXPECT_EQ(update->GetRowsAffected(), kRows);
}

TEST_F(RemoteSessionCallbacksTest, StatusAndLogTextsArrive) {
  std::vector<std::string> status;
  std::vector<std::string> log;
  Session->Events.OnStatusMessage = [&](const std::string& text) { status.push_back(text); };
  Session->Events.OnLogMessage = [&](const std::string& text) { log.push_back(text); };
  auto* alter = static_cast<TBRNRemoteStatementManager*>(
      Database->PrepareStatement("ALTER TABLE Items ADD COLUMN Extra INTEGER"));
  std::unique_ptr<TBRNRemoteStatementManager> owner(alter);
  alter->ReportStatus = true;
  alter->ReportLog = true;
  ClearTraces();
  alter->ExecuteStatement();
  EXPECT_GT(CountCallbacks(9003), 0);
  EXPECT_GT(CountCallbacks(9002), 0);
  ASSERT_FALSE(log.empty());
  EXPECT_NE(log.front().find("Alteration of the table Items started"), std::string::npos)
      << log.front();
  EXPECT_FALSE(status.empty());
}

// While the server waits for the answer to a callback, the handler may use
// the session: a request is served; a Free of the running statement is
// refused, and the statement runs to its end.
TEST_F(RemoteSessionCallbacksTest, RequestsInsideAHandlerAreServedAndAFreeIsRefused) {
  std::unique_ptr<TBRNRemoteStatementManager> update = Update();
  std::string nestedName;
  int32_t freeCode = 0;
  bool first = true;
  // The bracket's own 0 % report comes before the request: the first
  // report from the server is the first one above 0.
  Session->Events.OnProgress = [&](int32_t percent, bool&) {
    if (!first || percent == 0) return;
    first = false;
    nestedName = ServerName();
    try {
      TBRNRemoteCall call(*Session, kFreeStatementCode);
      call.Request().WriteInteger(update->ServerHandle);
      call.Execute();
    } catch (const EBRNException& e) {
      freeCode = e.ErrorCode;
    }
  };
  update->ExecuteStatement();
  EXPECT_EQ(nestedName, Server->ServerName);
  EXPECT_EQ(freeCode, 506);
  EXPECT_EQ(update->GetRowsAffected(), kRows);
  // The statement is still there.
  Session->Events.OnProgress = nullptr;
  update->ExecuteStatement();
  EXPECT_EQ(update->GetRowsAffected(), kRows);
}

}  // namespace
}  // namespace brn

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "clientserver/remote/remote_test_support.h"
#include "foundation/core/memory_stream.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_list.h"
#include "storage/cursors/cursor.h"

namespace brn {
namespace {

constexpr int32_t kWriteFileCode = 407;
constexpr int32_t kReadFileCode = 403;

// What a session saw of one fixed round of work: a store file written and
// read back, and a query's plan and rows.
struct Round {
  std::string FileRead;
  std::vector<std::string> Listed;
  std::string Plan;
  int32_t Rows = -1;
};

class RemoteSessionTransferTest : public test::RemoteTest {
 public:
  void SetUp() override {
    test::RemoteTest::SetUp();
    TBRNDatabaseManager* configuration = Session->OpenDatabase("Configuration", kBRNLockShared);
    Exec(configuration, "CREATE STORE Files AS LOCAL PATH 'files'");
    Session->CloseDatabase(configuration);
    TBRNDatabaseManager* database = OpenTestDatabase();
    Exec(database, "CREATE TABLE Items (ID INTEGER, Name VARCHAR(40), PRIMARY KEY (ID))");
    for (int32_t id = 1; id <= 30; ++id)
      Exec(database, "INSERT INTO Items VALUES (" + std::to_string(id) + ", 'Item number " +
                         std::to_string(id) + "')");
    Session->CloseDatabase(database);
  }

  // A file of repeating text (compressible) with a varying tail.
  static std::string Content(const std::string& tag) {
    std::string text;
    for (int32_t i = 0; i < 6000; ++i) text += "line " + std::to_string(i % 97) + " of the file\n";
    return text + tag;
  }

  Round Work(TBRNRemoteSessionManager& session, const std::string& fileName) {
    Round round;
    TBRNStoreManager* store = session.OpenStore("Files", kBRNLockShared, false);
    const std::string content = Content(fileName);
    TBRNMemoryStream source;
    source.Write(content.data(), int32_t(content.size()));
    source.SetPosition(0);
    store->BeginWriteFile(fileName);
    while (source.GetPosition() < source.GetSize())
      store->WriteFile(source, uint32_t(std::min<int64_t>(50000, source.GetSize() -
                                                                     source.GetPosition())));
    store->EndWriteFile();
    const int64_t size = store->BeginReadFile(fileName);
    TBRNMemoryStream target;
    while (target.GetSize() < size) {
      if (store->ReadFile(target, 65536) == 0) break;
    }
    store->EndReadFile();
    round.FileRead.assign(reinterpret_cast<const char*>(target.GetMemory()),
                          size_t(target.GetSize()));
    store->ListFiles(fileName);
    for (int32_t i = 0; i < store->Files.GetCount(); ++i)
      round.Listed.push_back(store->Files.GetItem(i).Name);
    store->DeleteFile(fileName);
    session.CloseStore(store);

    TBRNDatabaseManager* database = session.OpenDatabase("RemoteTest", kBRNLockShared);
    {
      std::unique_ptr<TBRNStatementManager> statement(
          database->PrepareStatement("SELECT * FROM Items WHERE Name LIKE ?"));
      statement->Params->GetItem(0)->SetAsString("Item number 1%");
      TBRNCursor* cursor = statement->ExecuteStatement();
      round.Rows = cursor == nullptr ? -1 : cursor->GetRowCount();
    }
    session.CloseDatabase(database);
    return round;
  }
};

// Every level of compression, with and without encryption, moves the same
// bytes; the messages really are compressed (and the file's bytes really
// travel in the messages traced).
TEST_F(RemoteSessionTransferTest, CompressionAndEncryptionGiveIdenticalResults) {
  const Round expected = Work(*Session, "plain.txt");
  ASSERT_EQ(expected.FileRead, Content("plain.txt"));
  ASSERT_EQ(expected.Listed, std::vector<std::string>{"plain.txt"});
  ASSERT_EQ(expected.Rows, 11);
  for (bool encrypted : {false, true}) {
    for (int32_t level = 0; level <= 9; ++level) {
      SCOPED_TRACE("level " + std::to_string(level) + (encrypted ? " encrypted" : ""));
      std::unique_ptr<TBRNRemoteSessionManager> session = NewSession(false, false);
      // Level 9 under the sanitizers on a busy machine can take longer than
      // the fixture's 10 s for one reply; nothing here waits for a time-out.
      session->SetRemoteTimeout(30);
      session->SetRemoteCompression(level);
      session->SetRemoteEncryption(encrypted);
      session->OpenSession("testhost:2", "transfer", "");
      session->Login(test::kRemoteAdministrator, test::kRemoteAdministratorPassword);
      RecordTraces(*session);
      ClearTraces();
      const Round round = Work(*session, "plain.txt");
      EXPECT_EQ(round.FileRead, expected.FileRead);
      EXPECT_EQ(round.Listed, expected.Listed);
      EXPECT_EQ(round.Rows, expected.Rows);
      // The write requests: compressed at the level asked for, and then far
      // smaller than the 50000 bytes the largest carry.
      int32_t largest = 0;
      for (const TBRNRemoteSessionTrace& trace : Traces()) {
        if (trace.ReplyCode != -1 || trace.RequestCode != kWriteFileCode) continue;
        EXPECT_EQ(trace.Compression % 10, level);
        largest = std::max(largest, trace.Size);
      }
      if (level > 0) {
        EXPECT_LT(largest, 20000);
      } else {
        EXPECT_GT(largest, 50000);
      }
      EXPECT_GT(CountRequests(kReadFileCode), 0);
      session->Logout();
    }
  }
}

// While connected, encryption stays as it was; a new compression level
// takes effect with the next message.
TEST_F(RemoteSessionTransferTest, SettingsChangedWhileConnected) {
  Session->SetRemoteEncryption(true);
  EXPECT_FALSE(Session->GetRemoteEncryption());
  Session->SetRemoteCompression(9);
  ClearTraces();
  Work(*Session, "later.txt");
  int32_t writes = 0;
  for (const TBRNRemoteSessionTrace& trace : Traces()) {
    if (trace.ReplyCode != -1 || trace.RequestCode != kWriteFileCode) continue;
    EXPECT_EQ(trace.Compression % 10, 9);
    ++writes;
  }
  EXPECT_GT(writes, 0);
  EXPECT_THROW(Session->SetRemoteCompression(10), std::invalid_argument);
}

TEST_F(RemoteSessionTransferTest, AWrongPasswordOfAnEncryptedSessionSaysNoMore) {
  for (bool encrypted : {false, true}) {
    SCOPED_TRACE(encrypted ? "encrypted" : "plain");
    std::unique_ptr<TBRNRemoteSessionManager> session = NewSession(false, false);
    session->SetRemoteEncryption(encrypted);
    session->OpenSession("testhost:3", "wrong", "");
    try {
      session->Login(test::kRemoteAdministrator, "wrong");
      ADD_FAILURE() << "the login passed";
    } catch (const EBRNException& e) {
      EXPECT_EQ(e.ErrorCode, 501);
      if (encrypted) {
        EXPECT_EQ(e.ErrorMessage, "Login failed (The user name or password is incorrect)");
      } else {
        EXPECT_NE(e.ErrorMessage.find("Login failed"), std::string::npos) << e.ErrorMessage;
      }
    }
    EXPECT_FALSE(session->IsLoggedIn());
  }
}

// The trace record's stream form holds every field.
TEST(RemoteSessionTraceRecord, SurvivesItsStreamForm) {
  TBRNRemoteSessionTrace trace;
  trace.Time = 1234567890123;
  trace.Duration = 7;
  trace.Compression = 16;
  trace.RequestCode = 250;
  trace.ReplyCode = -1;
  trace.Size = 4096;
  trace.Text = "SELECT 1";
  TBRNMemoryStream stream;
  trace.SaveToStream(stream);
  EXPECT_EQ(stream.GetSize(), 8 + 5 * 4 + 4 + 8);
  stream.SetPosition(0);
  TBRNRemoteSessionTrace loaded;
  loaded.LoadFromStream(stream);
  EXPECT_TRUE(loaded.IsEqual(trace));
  EXPECT_EQ(loaded.Text, trace.Text);
  loaded.Size = 1;
  EXPECT_FALSE(loaded.IsEqual(trace));
}

}  // namespace
}  // namespace brn

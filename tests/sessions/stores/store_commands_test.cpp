// The store and file commands of the local session.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/text/exception.h"
#include "metadata/config/config.h"
#include "metadata/config/privileges.h"
#include "metadata/config/stores.h"
#include "metadata/config/users_roles.h"
#include "sessions/local/config_manager.h"
#include "sessions/stores/local_store_manager.h"
#include "sessions/stores/store_test_support.h"

namespace brn::testing {
namespace {

namespace fs = std::filesystem;

// A store whose writes take one byte less than given when ShortWrites is
// set: the target of a copy that runs out of room.
class ShortWritingStore : public TBRNLocalStoreManager {
 public:
  using TBRNLocalStoreManager::TBRNLocalStoreManager;
  uint32_t WriteFile(TBRNMemoryStream& source, uint32_t count) override {
    return TBRNLocalStoreManager::WriteFile(source, count > 1 ? count - 1 : count);
  }
};

// A session that records which system tables it marked, and whose store
// "Full" writes short.
class RecordingSession : public TBRNLocalSessionManager {
 public:
  using TBRNLocalSessionManager::TBRNLocalSessionManager;
  std::unique_ptr<TBRNStoreManager> CreateStoreManager(TBRNStore* store) override {
    if (store->Name == "Full") return std::make_unique<ShortWritingStore>(store, FileManager, this);
    return TBRNLocalSessionManager::CreateStoreManager(store);
  }
  void MarkSystemTableNotFilled(const std::string& tableName) override {
    Marked.push_back(tableName);
  }
  std::vector<std::string> Marked;
};

class StoreCommandTest : public StoreSessionTest {
 protected:
  std::unique_ptr<TBRNLocalSessionManager> NewSession() override {
    return std::make_unique<RecordingSession>(&engine, false, false);
  }
  void SetUp() override {
    StoreSessionTest::SetUp();
    CreateStore("Source", "Source");
    CreateStore("Target", "Target");
    fs::create_directories(folder / "Source");
    WriteWholeFile(StoreFile("Source", "Data.bin"), std::string(300000, 'd'));
    session->Events.OnStatusMessage = [this](const std::string& text) { texts.push_back(text); };
  }

  // A user Clerk who may see both stores and holds kind on the store named
  // storeName only.
  std::unique_ptr<TBRNLocalSessionManager> ClerkWith(const std::string& storeName, int32_t kind) {
    TBRNConfig& config = *session->Config;
    session->ConfigManager->BeginUpdate();
    auto user = std::make_unique<TBRNUser>(&config);
    user->SetName("Clerk");
    user->SetPassword("clerk");
    user->SetLockNumber(config.NextUserLockNumber());
    config.Users->AddObject(user.get());
    TBRNUser* clerk = user.release();
    for (const char* name : {"Source", "Target"})
      static_cast<TBRNStore*>(config.Stores->FindByName(name, true))
          ->Grant(config.SystemUser, clerk, pkSelect);
    auto* store = static_cast<TBRNStore*>(config.Stores->FindByName(storeName, true));
    store->Grant(config.SystemUser, clerk, kind);
    session->ConfigManager->CommitUpdate();
    return OpenLoggedIn("Clerk", "clerk");
  }

  RecordingSession& Recording() { return static_cast<RecordingSession&>(*session); }

  std::vector<std::string> texts;
};

TEST_F(StoreCommandTest, CopyWithinOneStoreNeedsOnlyCreateOnIt) {
  std::unique_ptr<TBRNLocalSessionManager> clerk = ClerkWith("Source", pkCreate);
  clerk->CopyStoreFile("Source", "Data.bin", "Copy.bin", "");
  clerk->CopyStoreFile("Source", "Data.bin", "Copy2.bin", "source");
  EXPECT_EQ(ReadWholeFile(StoreFile("Source", "Copy.bin")), std::string(300000, 'd'));
  EXPECT_TRUE(fs::exists(StoreFile("Source", "Copy2.bin")));

  // To another store the Create privilege on the target counts.
  EBRNException refused =
      CaughtError([&] { clerk->CopyStoreFile("Source", "Data.bin", "Copy.bin", "Target"); });
  EXPECT_EQ(refused.ErrorCode, 503);
  EXPECT_NE(refused.ErrorMessage.find("(COPY FILE Data.bin TO Copy.bin)"), std::string::npos);
  EXPECT_FALSE(fs::exists(StoreFile("Target", "Copy.bin")));
  // Rename needs Alter and delete Drop, which the clerk does not hold.
  EXPECT_EQ(CaughtError([&] { clerk->RenameStoreFile("Source", "Copy.bin", "X.bin"); }).ErrorCode,
            503);
  EXPECT_EQ(CaughtError([&] { clerk->DeleteStoreFile("Source", "Copy.bin"); }).ErrorCode, 503);
  // Every store is closed again.
  for (const char* name : {"Source", "Target"}) {
    auto* store = static_cast<TBRNStore*>(clerk->Config->Stores->FindByName(name, true));
    EXPECT_EQ(store->GetHeldLocks(), 0) << name;
  }
}

TEST_F(StoreCommandTest, CopyBetweenStoresReportsItsStages) {
  session->CopyStoreFile("Source", "Data.bin", "Copy.bin", "Target");
  EXPECT_EQ(ReadWholeFile(StoreFile("Target", "Copy.bin")), std::string(300000, 'd'));
  EXPECT_EQ(texts, (std::vector<std::string>{
                       "Copying the file Data.bin in the store Source...",
                       "The file Data.bin in the store Source was copied successfully"}));
  session->RenameStoreFile("Target", "Copy.bin", "Renamed.bin");
  EXPECT_TRUE(fs::exists(StoreFile("Target", "Renamed.bin")));
  session->DeleteStoreFile("Target", "Renamed.bin");
  EXPECT_FALSE(fs::exists(StoreFile("Target", "Renamed.bin")));
}

TEST_F(StoreCommandTest, AStoppedOrFailedCopyBetweenStoresLeavesNoTarget) {
  session->SetProgressTimeInterval(0);
  session->Events.OnProgress = [](int32_t percent, bool& proceed) {
    if (percent > 0 && percent < 100) proceed = false;
  };
  session->CopyStoreFile("Source", "Data.bin", "Stopped.bin", "Target");
  EXPECT_FALSE(fs::exists(StoreFile("Target", "Stopped.bin")));
  EXPECT_EQ(texts.back(), "The copy of the file Data.bin in the store Source did not complete");

  // A source that ends early, and a target that takes fewer bytes than
  // given.
  session->Events.OnProgress = [&](int32_t percent, bool&) {
    if (percent > 0 && percent < 100) fs::resize_file(StoreFile("Source", "Data.bin"), 65536);
  };
  EBRNException read =
      CaughtError([&] { session->CopyStoreFile("Source", "Data.bin", "Short.bin", "Target"); });
  EXPECT_EQ(read.ErrorCode, 1306);
  EXPECT_EQ(read.ErrorMessage,
            "Error with the store Source (Error reading from the file Data.bin)");
  EXPECT_FALSE(fs::exists(StoreFile("Target", "Short.bin")));
  EXPECT_EQ(texts.back(), "The copy of the file Data.bin in the store Source did not complete");

  session->Events.OnProgress = nullptr;
  CreateStore("Full", "Full");
  EBRNException write =
      CaughtError([&] { session->CopyStoreFile("Source", "Data.bin", "Short.bin", "Full"); });
  EXPECT_EQ(write.ErrorCode, 1306);
  EXPECT_EQ(write.ErrorMessage, "Error with the store Full (Error writing to the file Short.bin)");
  EXPECT_FALSE(fs::exists(StoreFile("Full", "Short.bin")));
}

TEST_F(StoreCommandTest, FileStatementsRefusePathsOutOfTheStore) {
  const std::string config = folder / "BRNConfig.BRNCfg";
  for (const std::string name : {"..\\BRNConfig.BRNCfg", "../BRNConfig.BRNCfg"}) {
    EBRNException error = CaughtError([&] { session->DeleteStoreFile("Source", name); });
    EXPECT_EQ(error.ErrorCode, 1306);
    EXPECT_EQ(error.ErrorMessage, "Error with the store Source (Invalid file name " + name + ")");
    EXPECT_EQ(
        CaughtError([&] { session->CopyStoreFile("Source", name, "Stolen", "Target"); }).ErrorCode,
        1306);
    EXPECT_EQ(CaughtError([&] { session->RenameStoreFile("Source", "Data.bin", name); }).ErrorCode,
              1306);
  }
  EXPECT_TRUE(fs::exists(config));
  EXPECT_FALSE(fs::exists(StoreFile("Target", "Stolen")));
}

TEST_F(StoreCommandTest, OpenStoreForLocalWorkRefusesARemoteStore) {
  CreateStore("Remote", "", kRemoteStore);
  EBRNException error = CaughtError([&] { session->OpenStore("Remote", kBRNLockShared, true); });
  EXPECT_EQ(error.ErrorCode, 1306);
  EXPECT_EQ(error.ErrorMessage,
            "Error with the store Remote (A remote store cannot be the target of a local "
            "operation)");
  // An unknown store raises the collection's not-found error.
  EBRNException missing =
      CaughtError([&] { session->OpenStore("Nowhere", kBRNLockShared, false); });
  EBRNException expected =
      CaughtError([&] { session->Config->Stores->FindByName("Nowhere", true); });
  EXPECT_EQ(missing.ErrorCode, expected.ErrorCode);
  EXPECT_EQ(missing.ErrorMessage, expected.ErrorMessage);
}

TEST_F(StoreCommandTest, SetStoreSettingsCheckTheNameAndMarkTheirTables) {
  session->SetBackupsStore("source");
  EXPECT_EQ(session->BackupsStore, "source");
  session->SetBackupsStore("");
  EXPECT_EQ(session->BackupsStore, "");
  session->SetUpdatesStore("Target");
  session->SetFilesStore("Target");
  EXPECT_EQ(session->UpdatesStore, "Target");
  EXPECT_EQ(session->FilesStore, "Target");
  EXPECT_EQ(Recording().Marked,
            (std::vector<std::string>{"Backups", "Backups", "Updates", "Files"}));
  EXPECT_EQ(texts.front(), "The backups store setting was set successfully");
  EXPECT_THROW(session->SetBackupsStore("Nowhere"), EBRNException);
  EXPECT_EQ(session->BackupsStore, "");
}

TEST_F(StoreCommandTest, RenameStoreKeepsTheFolderAndRefusesAnExistingName) {
  EBRNException taken = CaughtError([&] { session->RenameStore("Source", "target"); });
  EXPECT_EQ(taken.ErrorCode, 400);
  EXPECT_NE(taken.ErrorMessage.find("already exists"), std::string::npos);
  EXPECT_NE(session->Config->Stores->FindByName("Source", false), nullptr);

  session->RenameStore("Source", "Origin");
  std::unique_ptr<TBRNLocalSessionManager> other = OpenLoggedIn();
  auto* renamed = static_cast<TBRNStore*>(other->Config->Stores->FindByName("Origin", false));
  ASSERT_NE(renamed, nullptr);
  EXPECT_EQ(renamed->Path, "Source");
  EXPECT_EQ(other->Config->Stores->FindByName("Source", false), nullptr);
  other->CopyStoreFile("Origin", "Data.bin", "Copy.bin", "");
  EXPECT_TRUE(fs::exists(StoreFile("Source", "Copy.bin")));
}

TEST_F(StoreCommandTest, DropStoreRemovesTheFolderUnlessFilesAreKept) {
  session->DropStore("Source", true);
  EXPECT_TRUE(fs::exists(StoreFile("Source", "Data.bin")));
  EXPECT_EQ(session->Config->Stores->FindByName("Source", false), nullptr);

  WriteWholeFile(StoreFile("Target", "a.txt"), "a");
  session->DropStore("Target", false);
  EXPECT_FALSE(fs::exists(folder / "Target"));
  std::unique_ptr<TBRNLocalSessionManager> other = OpenLoggedIn();
  EXPECT_EQ(other->Config->Stores->FindByName("Target", false), nullptr);
}

TEST_F(StoreCommandTest, AlterStoreFailsWhileAnotherSessionHasItOpen) {
  std::unique_ptr<TBRNLocalSessionManager> other = OpenLoggedIn();
  TBRNStoreManager* opened = other->OpenStore("Source", kBRNLockShared, false);
  EBRNException locked = CaughtError([&] { session->BeginAlterStore("Source"); });
  EXPECT_EQ(locked.ErrorCode, 300);
  other->CloseStore(opened);

  TBRNStore* store = session->BeginAlterStore("Source");
  store->SetPath("Moved");
  session->EndAlterStore(store);
  EXPECT_EQ(store->GetHeldLocks(), 0);
  std::unique_ptr<TBRNLocalSessionManager> third = OpenLoggedIn();
  EXPECT_EQ(static_cast<TBRNStore*>(third->Config->Stores->FindByName("Source", true))->Path,
            "Moved");
}

}  // namespace
}  // namespace brn::testing

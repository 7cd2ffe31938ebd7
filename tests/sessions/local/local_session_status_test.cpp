// Status texts, log events and the lock and statistics snapshots of a local
// session.
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/locks/log_manager.h"
#include "foundation/text/environment.h"
#include "foundation/types/date_time.h"
#include "metadata/config/config.h"
#include "metadata/config/databases.h"
#include "metadata/config/stores.h"
#include "metadata/config/users_roles.h"
#include "sessions/databases/database_test_support.h"
#include "sessions/local/local_log_manager.h"
#include "sessions/local/local_session_manager.h"
#include "sql/tree/expr.h"

namespace brn {
namespace {

using SessionPtr = std::unique_ptr<TBRNLocalSessionManager>;

// A session that records the status texts that reach the application.
struct StatusSession {
  StatusSession() {
    session = std::make_unique<TBRNLocalSessionManager>(&engine, false, false);
    session->Events.OnStatusMessage = [this](const std::string& text) { texts.push_back(text); };
  }
  // The texts a report sent, emptied for the next one.
  std::vector<std::string> Take() {
    std::vector<std::string> taken;
    taken.swap(texts);
    return taken;
  }

  TBRNEngineManager engine;
  SessionPtr session;
  std::vector<std::string> texts;
};

// The objects the texts name.
struct Objects {
  TBRNConfig config;
  TBRNDatabaseContainer shop{&config};
  TBRNDatabaseContainer archive{&config};
  TBRNStore backups{&config};
  TBRNRole clerks{&config};
  TBRNUser ann{&config};
  Objects() {
    shop.Name = "Shop";
    archive.Name = "Archive";
    backups.Name = "Backups";
    clerks.Name = "Clerks";
    ann.Name = "Ann";
  }
};

TEST(LocalSessionStatusTexts, EveryReporterAtTheThreeStages) {
  StatusSession status;
  Objects o;
  TBRNLocalSessionManager& s = *status.session;
  using Report = std::function<void(TBRNOperationStage)>;
  struct Case {
    std::string Name;
    Report Run;
    std::array<std::string, 3> Texts;
  };
  auto simple = [&](std::string verb, std::string noun, std::string participle) {
    return std::array<std::string, 3>{verb + " the database Shop...",
                                      "The " + noun + " of the database Shop did not complete",
                                      "The database Shop was " + participle + " successfully"};
  };
  const std::vector<Case> cases{
      {"Create", [&](auto st) { s.ReportCreateStatus(st, &o.shop); },
       simple("Creating", "creation", "created")},
      {"Alter", [&](auto st) { s.ReportAlterStatus(st, &o.shop); },
       simple("Altering", "alteration", "altered")},
      {"Alter with detail",
       [&](auto st) { s.ReportAlterStatus(st, &o.shop, "Add column"); },
       {"Altering the database Shop - Add column...",
        "The alteration of the database Shop did not complete",
        "The database Shop was altered successfully"}},
      {"Drop", [&](auto st) { s.ReportDropStatus(st, &o.shop); },
       simple("Dropping", "drop", "dropped")},
      {"Rename", [&](auto st) { s.ReportRenameStatus(st, &o.shop); },
       simple("Renaming", "rename", "renamed")},
      {"Empty", [&](auto st) { s.ReportEmptyStatus(st, &o.shop); },
       simple("Emptying", "empty", "emptied")},
      {"Verify", [&](auto st) { s.ReportVerifyStatus(st, &o.shop); },
       simple("Verifying", "verify", "verified")},
      {"Verify with detail",
       [&](auto st) { s.ReportVerifyStatus(st, &o.shop, "Indexes"); },
       {"Verifying the database Shop - Indexes...",
        "The verify of the database Shop did not complete",
        "The database Shop was verified successfully"}},
      {"Optimize", [&](auto st) { s.ReportOptimizeStatus(st, &o.shop); },
       simple("Optimizing", "optimization", "optimized")},
      {"Import", [&](auto st) { s.ReportImportStatus(st, &o.shop); },
       simple("Importing", "import", "imported")},
      {"Export", [&](auto st) { s.ReportExportStatus(st, &o.shop); },
       simple("Exporting", "export", "exported")},
      {"Backup", [&](auto st) { s.ReportBackupStatus(st, &o.shop); },
       simple("Backing up", "back up", "backed up")},
      {"Restore", [&](auto st) { s.ReportRestoreStatus(st, &o.shop); },
       simple("Restoring", "restore", "restored")},
      {"Migrate", [&](auto st) { s.ReportMigrateStatus(st, &o.shop); },
       simple("Migrating", "migrate", "migrated")},
      {"Publish", [&](auto st) { s.ReportPublishStatus(st, &o.shop); },
       simple("Publishing", "publish", "published")},
      {"Unpublish", [&](auto st) { s.ReportUnpublishStatus(st, &o.shop); },
       simple("Unpublishing", "unpublish", "unpublished")},
      {"Save updates", [&](auto st) { s.ReportSaveUpdatesStatus(st, &o.shop); },
       simple("Saving updates for", "updates save", "saved")},
      {"Load updates", [&](auto st) { s.ReportLoadUpdatesStatus(st, &o.shop); },
       simple("Loading updates for", "updates load", "loaded")},
      {"Compare",
       [&](auto st) { s.ReportCompareStatus(st, &o.shop, &o.archive); },
       {"Comparing the database Shop to the database Archive...",
        "The comparison of the database Shop to the database Archive did not complete",
        "The database Shop was compared successfully to the database Archive"}},
      {"File copy",
       [&](auto st) { s.ReportFileCopyStatus(st, &o.backups, "Shop.BRNBkp"); },
       {"Copying the file Shop.BRNBkp in the store Backups...",
        "The copy of the file Shop.BRNBkp in the store Backups did not complete",
        "The file Shop.BRNBkp in the store Backups was copied successfully"}},
      {"File rename",
       [&](auto st) { s.ReportFileRenameStatus(st, &o.backups, "Shop.BRNBkp"); },
       {"Renaming the file Shop.BRNBkp in the store Backups...",
        "The rename of the file Shop.BRNBkp in the store Backups did not complete",
        "The file Shop.BRNBkp in the store Backups was renamed successfully"}},
      {"File delete",
       [&](auto st) { s.ReportFileDeleteStatus(st, &o.backups, "Shop.BRNBkp"); },
       {"Deleting the file Shop.BRNBkp in the store Backups...",
        "The deletion of the file Shop.BRNBkp in the store Backups did not complete",
        "The file Shop.BRNBkp in the store Backups was deleted successfully"}},
      {"Grant privilege",
       [&](auto st) { s.ReportGrantPrivilegeStatus(st, &o.shop, "Select"); },
       {"Granting the privilege Select on the database Shop...",
        "The grant of the privilege Select on the database Shop did not complete",
        "The privilege Select was granted successfully on the database Shop"}},
      {"Revoke privilege",
       [&](auto st) { s.ReportRevokePrivilegeStatus(st, &o.shop, "Select"); },
       {"Revoking the privilege Select on the database Shop...",
        "The revoke of the privilege Select on the database Shop did not complete",
        "The privilege Select was revoked successfully on the database Shop"}},
      {"Grant role",
       [&](auto st) { s.ReportGrantRoleStatus(st, &o.clerks, &o.ann); },
       {"Granting the role Clerks on the user Ann...",
        "The grant of the role Clerks on the user Ann did not complete",
        "The role Clerks was granted successfully on the user Ann"}},
      {"Revoke role",
       [&](auto st) { s.ReportRevokeRoleStatus(st, &o.clerks, &o.ann); },
       {"Revoking the role Clerks on the user Ann...",
        "The revoke of the role Clerks on the user Ann did not complete",
        "The role Clerks was revoked successfully on the user Ann"}},
  };
  for (const Case& c : cases) {
    for (TBRNOperationStage stage : {osStarting, osNotCompleted, osCompleted}) {
      c.Run(stage);
      EXPECT_EQ(status.Take(), std::vector<std::string>{c.Texts[size_t(stage)]})
          << c.Name << " at stage " << stage;
    }
  }

  // The one-shot texts of a completed change.
  s.ReportSettingSet("Timeout");
  s.ReportReset(&o.shop);
  s.ReportEnabled(&o.ann);
  s.ReportDisabled(&o.ann);
  EXPECT_EQ(status.Take(), (std::vector<std::string>{"The Timeout setting was set successfully",
                                                     "The database Shop was reset successfully",
                                                     "The user Ann was enabled successfully",
                                                     "The user Ann was disabled successfully"}));
  EXPECT_EQ(TBRNLocalSessionManager::GetFixedText(true), "Fixed");
  EXPECT_EQ(TBRNLocalSessionManager::GetFixedText(false), "Not Fixed");

  // The texts are for a session outside any progress bracket: inside one,
  // the bracket's own reporting speaks for the operation.
  s.BeginProgress();
  s.ReportCreateStatus(osStarting, &o.shop);
  s.EndProgress();
  EXPECT_TRUE(status.Take().empty());
}

// A statement whose kind name fills the execution texts.
class Statement : public TBRNExpr {
 public:
  std::string GetKindName() const override { return "statement"; }
};

TEST(LocalSessionStatusTexts, ExecutionTextsByTimingAndRowCount) {
  StatusSession status;
  Statement statement;
  struct Case {
    TBRNOperationStage Stage;
    bool Timed;
    bool RowsKnown;
    std::string Text;
  };
  const Case cases[] = {
      {osStarting, false, false, "Executing the statement..."},
      {osStarting, true, true, "Executing the statement..."},
      {osNotCompleted, false, true, "The execution of the statement did not complete"},
      {osNotCompleted, true, true,
       "The execution of the statement did not complete, 3 rows were affected in 1.5 seconds"},
      {osNotCompleted, true, false,
       "The execution of the statement did not complete and was stopped at 1.5 seconds"},
      {osCompleted, false, true, "The statement was executed successfully"},
      {osCompleted, true, true,
       "The statement was executed successfully, 3 rows were affected in 1.5 seconds"},
      {osCompleted, true, false, "The statement was executed successfully in 1.5 seconds"},
  };
  for (const Case& c : cases) {
    status.session->ReportExecutionStatus(c.Stage, statement, c.Timed, 1500, c.RowsKnown, 3);
    EXPECT_EQ(status.Take(), std::vector<std::string>{c.Text})
        << c.Stage << " " << c.Timed << " " << c.RowsKnown;
  }
  // Whole and sub-second times.
  status.session->ReportExecutionStatus(osCompleted, statement, true, 2000, false, 0);
  status.session->ReportExecutionStatus(osCompleted, statement, true, 7, true, 0);
  EXPECT_EQ(status.Take(),
            (std::vector<std::string>{
                "The statement was executed successfully in 2 seconds",
                "The statement was executed successfully, 0 rows were affected in 0.007 seconds"}));
}

// ---- Log events

SessionPtr OpenSession(TBRNEngineManager& engine, uint32_t logCategories) {
  engine.Settings->SetConfigMemory(true);
  auto session = std::make_unique<TBRNLocalSessionManager>(&engine, false, false);
  session->SessionSettings->SetLogCategories(logCategories);
  session->OpenSession("Tester", "Local", "A test session");
  return session;
}

std::vector<TBRNLogEvent> ReadLog(TBRNLocalSessionManager& session) {
  std::vector<TBRNLogEvent> events;
  session.LogManager->BeginRead();
  TBRNLogEvent event;
  for (bool more = session.LogManager->ReadFirstEvent(event); more;
       more = session.LogManager->ReadNextEvent(event)) {
    events.push_back(event);
  }
  session.LogManager->EndRead();
  return events;
}

constexpr uint32_t kAllCategories = 0b111;
constexpr uint32_t kNoWarnings = 0b101;
constexpr uint32_t kNoInformation = 0b110;

TEST(LocalSessionLogEvents, RowConflictsAreWarningsAndCategoriesFilter) {
  struct Case {
    uint32_t Categories;
    int32_t Category;
    int32_t Code;
    bool Written;
    int32_t WrittenCategory;
  };
  const Case cases[] = {
      {kAllCategories, lcError, 1010, true, lcWarning},
      {kAllCategories, lcError, 1008, true, lcWarning},
      {kAllCategories, lcInformation, 1010, true, lcWarning},
      {kAllCategories, lcError, 1009, true, lcError},
      {kNoWarnings, lcError, 1010, false, 0},
      {kNoWarnings, lcError, 1009, true, lcError},
      {kNoWarnings, lcWarning, 0, false, 0},
      {kNoInformation, lcInformation, 0, false, 0},
      {kNoInformation, lcError, 1008, true, lcWarning},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.Categories) + " " + std::to_string(c.Category) + " " +
                 std::to_string(c.Code));
    TBRNEngineManager engine;
    SessionPtr session = OpenSession(engine, c.Categories);
    session->WriteLogEvent(c.Category, 30, c.Code, "The row is gone");
    std::vector<TBRNLogEvent> events = ReadLog(*session);
    ASSERT_EQ(events.size(), c.Written ? 1u : 0u);
    if (!c.Written) continue;
    EXPECT_EQ(events[0].Category, c.WrittenCategory);
    EXPECT_EQ(events[0].Function, 30);
    EXPECT_EQ(events[0].ErrorCode, c.Code);
    EXPECT_EQ(events[0].Description, "The row is gone");
  }
}

TEST(LocalSessionLogEvents, EventCarriesTheEngineAndTheSession) {
  TBRNEngineManager engine;
  SessionPtr session = OpenSession(engine, kAllCategories);
  int64_t before = CurrentTimestamp(false);
  session->WriteLogEvent(lcInformation, 12, 0, "");
  int64_t after = CurrentTimestamp(false);
  std::vector<TBRNLogEvent> events = ReadLog(*session);
  ASSERT_EQ(events.size(), 1u);
  const TBRNLogEvent& event = events[0];
  EXPECT_EQ(event.Version, 21400);
  EXPECT_EQ(event.Build, 5);
  EXPECT_EQ(event.ProductType, "MZTRAQEL");
  EXPECT_EQ(event.User, "");
  EXPECT_EQ(event.Process, "Tester");
  EXPECT_EQ(event.ThreadID, int32_t(engine.Environment->GetThreadId()));
  EXPECT_EQ(event.SessionID, session->Handle);
  EXPECT_EQ(event.SessionName, "Local");
  EXPECT_EQ(event.SessionDescription, "A test session");
  EXPECT_GE(event.LogTimeStamp, before);
  EXPECT_LE(event.LogTimeStamp, after);
}

TEST(LocalSessionLogEvents, NothingIsWrittenWithoutAnOpenLog) {
  TBRNEngineManager engine;
  engine.Settings->SetConfigMemory(true);
  TBRNLocalSessionManager session(&engine, false, false);
  EXPECT_NO_THROW(session.WriteLogEvent(lcError, 30, 1009, "lost"));
}

TEST(LocalSessionLogEvents, LoginAndLogoutAreInformationEventsOfOperations3And4) {
  TBRNEngineManager engine;
  SessionPtr session = OpenSession(engine, kAllCategories);
  session->Login(kAdministratorUserName, kDefaultAdministratorPassword);
  session->Logout();
  std::vector<TBRNLogEvent> events = ReadLog(*session);
  ASSERT_EQ(events.size(), 2u);
  for (int32_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(events[size_t(i)].Category, lcInformation);
    EXPECT_EQ(events[size_t(i)].Function, 3 + i);
    EXPECT_EQ(events[size_t(i)].ErrorCode, 0);
    EXPECT_EQ(events[size_t(i)].Version, 21400);
    EXPECT_EQ(events[size_t(i)].Build, 5);
    EXPECT_EQ(events[size_t(i)].User, kAdministratorUserName);
    EXPECT_EQ(events[size_t(i)].SessionID, session->Handle);
  }
}

// ---- Lock and statistics snapshots

struct Holder : TBRNHandleObject {};

using LockRow = std::tuple<std::string, std::string, std::string, int32_t, int32_t>;

// A session with the database "Shop" open (Shared) and two tables open in
// it: "Items" (no BLOB columns) and "Docs" (a CLOB column, published).
struct LocalSessionSnapshotsTest : ::testing::Test {
  testing::TestEngine Env;
  SessionPtr Session = Env.OpenSession();
  TBRNLocalDatabaseManager* Shop = nullptr;
  TBRNTableManager* Items = nullptr;
  TBRNTableManager* Docs = nullptr;
  Holder Cursor;

  void OpenShop() {
    Shop = Session->GetDatabaseManager(testing::AddDatabase(*Session, "Shop", "Shop"));
    Shop->OpenDatabase(1);
    Items = OpenTable("Items", false);
    Docs = OpenTable("Docs", true);
  }

  TBRNTableManager* OpenTable(const std::string& name, bool withBlobsPublished) {
    TBRNCatalog& catalog = *Shop->Catalog;
    auto table = std::make_unique<TBRNBaseTable>(&catalog);
    table->Name = name;
    auto column = std::make_unique<TBRNColumn>(&catalog);
    column->Name = "ID";
    column->SetDataType(dtInteger);
    table->Columns->AddObject(column.release());
    if (withBlobsPublished) {
      auto body = std::make_unique<TBRNColumn>(&catalog);
      body->Name = "Body";
      body->SetDataType(dtLob);
      body->SetSubType(stClob);
      table->Columns->AddObject(body.release());
      table->SetPublished(true);
    }
    table->SetLockNumber(catalog.NextTableLockNumber());
    catalog.DefaultSchema->BaseTables->AddObject(table.get());
    TBRNBaseTable* added = table.release();
    added->Validate();
    added->UpdateStructureChecksum();
    auto* manager = static_cast<TBRNTableManager*>(Shop->TableManagers->GetManager(added));
    manager->SetCreatingFiles(true);
    Shop->TableManagers->OpenManager(added, kBRNLockTypeShared);
    manager->SetCreatingFiles(false);
    return manager;
  }

  std::vector<LockRow> LockList() const {
    std::vector<LockRow> rows;
    for (const TBRNLock& lock : Session->LockList) {
      rows.emplace_back(lock.DatabaseName, lock.ObjectName, lock.ObjectType, lock.LockType,
                        lock.RowNumber);
    }
    return rows;
  }

  // Gives every listed file's counters a value.
  void Count() {
    for (TBRNTableManager* manager : {Items, Docs}) {
      for (TBRNTableFileManager* file : manager->GetFiles()) {
        file->CacheHits = 3;
        file->CacheMisses = 1;
        file->DiskReads = 1;
        file->BytesRead = 512;
        file->DiskWrites = 2;
        file->BytesWritten = 1024;
      }
    }
  }
};

TEST_F(LocalSessionSnapshotsTest, ASessionWithoutOpenDatabasesHasEmptySnapshots) {
  // Its own Configuration database is open, but never listed.
  ASSERT_NE(Session->ConfigurationDatabase, nullptr);
  Session->BuildLockList();
  Session->BuildStatistics();
  EXPECT_EQ(Session->LockList.Count(), 0);
  EXPECT_EQ(Session->StatisticsList.Count(), 0);
}

TEST_F(LocalSessionSnapshotsTest, SnapshotsListTheOpenDatabasesLocksAndTableFiles) {
  OpenShop();
  ASSERT_TRUE(Items->LockRow(&Cursor, 5, 0));
  ASSERT_TRUE(Items->LockRow(&Cursor, 2, 0));
  Session->BuildLockList();
  EXPECT_EQ(LockList(), (std::vector<LockRow>{{"Shop", "Shop", "Database", 1, 0},
                                              {"Shop", "Items", "Table", 1, 0},
                                              {"Shop", "Docs", "Table", 1, 0},
                                              {"Shop", "Items", "Table", 6, 2},
                                              {"Shop", "Items", "Table", 6, 5}}));
  Session->ClearLockList();
  EXPECT_EQ(Session->LockList.Count(), 0);

  Count();
  Session->BuildStatistics();
  std::vector<std::tuple<std::string, std::string, int64_t>> entries;
  for (const TBRNStatistics& entry : Session->StatisticsList) {
    EXPECT_EQ(entry.DatabaseName, "Shop");
    entries.emplace_back(entry.TableName, entry.BufferManager, entry.HitRatio);
  }
  EXPECT_EQ(entries, (std::vector<std::tuple<std::string, std::string, int64_t>>{
                         {"Items", "Rows", 7500},
                         {"Items", "Indexes", 7500},
                         {"Docs", "Rows", 7500},
                         {"Docs", "Indexes", 7500},
                         {"Docs", "BLOBs", 7500},
                         {"Docs", "Published Updates", 7500}}));
  Session->ClearStatistics();
  EXPECT_EQ(Session->StatisticsList.Count(), 0);

  // A closed database lists nothing.
  Shop->CloseDatabase(true);
  Session->BuildLockList();
  Session->BuildStatistics();
  EXPECT_EQ(Session->LockList.Count(), 0);
  EXPECT_EQ(Session->StatisticsList.Count(), 0);
}

TEST_F(LocalSessionSnapshotsTest, ResetInsideARequestDoesNotWaitForTheSessionsOwnLock) {
  OpenShop();
  Count();
  // The request that runs RESET SERVER SESSION STATISTICS holds the lock.
  Session->LockSession(1, 0);
  auto reset = std::async(std::launch::async, [this] { Session->ResetStatistics(); });
  bool finished = reset.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  if (!finished) Session->UnlockSession();  // lets a waiting reset end
  reset.get();
  ASSERT_TRUE(finished) << "the reset waited for the lock its own request holds";
  // The request still holds its lock.
  EXPECT_FALSE(Session->TryLockSession(1, 0));
  Session->UnlockSession();

  Session->BuildStatistics();
  ASSERT_EQ(Session->StatisticsList.Count(), 6);
  for (const TBRNStatistics& entry : Session->StatisticsList) {
    SCOPED_TRACE(entry.TableName + " " + entry.BufferManager);
    EXPECT_EQ(std::make_tuple(entry.Hits, entry.Misses, entry.HitRatio, entry.Reads,
                              entry.BytesRead, entry.Writes, entry.BytesWritten),
              std::make_tuple(0, 0, 0, 0, 0, 0, 0));
  }
  Session->ClearStatistics();
}

}  // namespace
}  // namespace brn

// The database commands of the local session and the frame they share with
// the other configuration commands: the checks and their texts, the
// configuration bracket undoing a failed change, the status stages, and
// CREATE, ALTER, OPEN, DROP and RENAME DATABASE, also against a forked
// process that holds a database open.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "foundation/text/exception.h"
#include "metadata/config/users_roles.h"
#include "sessions/config/config_command_frame.h"
#include "sessions/databases/database_test_support.h"
#include "sessions/local/config_manager.h"
#include "storage/tables/table_manager_test_support.h"

namespace brn::testing {
namespace {

using ::testing::HasSubstr;

// The code and text of what call raised; code 0 when it passed.
std::pair<int32_t, std::string> Outcome(const std::function<void()>& call) {
  try {
    call();
  } catch (const EBRNException& e) {
    return {e.ErrorCode, e.ErrorMessage};
  }
  return {0, ""};
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A forked process with an engine and session of its own on the same
// configuration folder, which logs in and opens the database name by name
// (Shared), then waits to be killed.
class Holder {
 public:
  Holder(const std::string& configPath, const std::string& name) {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      char answer = 0;
      try {
        TBRNEngineManager engine;
        engine.Settings->SetConfigPath(configPath);
        TBRNLocalSessionManager session(&engine, false, false);
        session.OpenSession("child", "Holder", "");
        session.Login("Administrator", "GlenHarbor");
        session.OpenDatabase(name, kBRNLockShared);
        answer = 1;
        if (write(fds[1], &answer, 1) != 1) _exit(2);
        for (;;) pause();
      } catch (...) {
      }
      if (write(fds[1], &answer, 1) != 1) _exit(2);
      _exit(1);
    }
    close(fds[1]);
    char answer = 0;
    open_ = read(fds[0], &answer, 1) == 1 && answer == 1;
    close(fds[0]);
  }
  ~Holder() { Kill(); }
  bool IsOpen() const { return open_; }
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  bool open_ = false;
};

struct DatabaseCommandsTest : ::testing::Test {
  TestEngine Env;
  std::unique_ptr<TBRNLocalSessionManager> Session = Env.OpenSession();
  std::vector<std::string> Statuses;

  void SetUp() override {
    Session->Events.OnStatusMessage = [this](const std::string& text) { Statuses.push_back(text); };
    Session->Login("Administrator", "GlenHarbor");
  }

  std::string PathOf(const std::string& relative) const { return Env.Folder.Path + relative; }

  // CREATE DATABASE name at the path given relative to the configuration
  // folder, committed.
  TBRNDatabaseContainer* Create(const std::string& name) {
    TBRNDatabaseContainer* database = Session->BeginCreateDatabase(name);
    database->Path = PathOf(name);
    Session->EndCreateDatabase(database);
    return database;
  }

  // A separate container with database's definition, for ALTER.
  std::unique_ptr<TBRNDatabaseContainer> DefinitionOf(TBRNDatabaseContainer* database) {
    auto definition = std::make_unique<TBRNDatabaseContainer>(Session->Config.get());
    definition->Assign(database, false);
    return definition;
  }

  // ALTER DATABASE name with change applied to its definition: End, and
  // Cancel when End fails; the outcome of End.
  std::pair<int32_t, std::string> Alter(const std::string& name,
                                        const std::function<void(TBRNDatabaseContainer&)>& change) {
    TBRNDatabaseContainer* database = Session->BeginAlterDatabase(name);
    std::unique_ptr<TBRNDatabaseContainer> definition = DefinitionOf(database);
    change(*definition);
    TBRNDatabaseContainer* given = definition.release();
    auto outcome = Outcome([&] { Session->EndAlterDatabase(database, given); });
    if (outcome.first != 0) Session->CancelAlterDatabase(database, given);
    return outcome;
  }

  // The database's entry as another session reads it from the file.
  std::unique_ptr<TBRNLocalSessionManager> Reader() { return Env.OpenSession("Reader"); }

  // Creates the table Items with a row in database name, so that its
  // rows and index files exist; the database is closed afterwards.
  void AddItemsTable(const std::string& name) {
    auto* database =
        static_cast<TBRNLocalDatabaseManager*>(Session->OpenDatabase(name, kBRNLockShared));
    database->CatalogManager->BeginUpdate();
    TBRNBaseTable* items = AddTable(*database->Catalog, "Items", false);
    database->CatalogManager->CommitUpdate();
    auto* manager = static_cast<TBRNTableManager*>(database->TableManagers->GetManager(items));
    manager->SetCreatingFiles(true);
    database->TableManagers->OpenManager(items, kBRNLockTypeShared);
    manager->SetCreatingFiles(false);
    InsertRawRow(*manager, 1, false);
    TBRNDatabaseManager* opened = database;
    Session->CloseDatabase(opened);
  }
};

// ---- Checks

TEST_F(DatabaseCommandsTest, ChecksRefuseWithTheStatementText) {
  struct Case {
    std::string Name;
    std::function<void(TBRNLocalSessionManager&)> Prepare;
    std::function<void(TBRNLocalSessionManager&)> Command;
    int32_t Code;
    std::string Message;
  };
  const std::string readOnly = "The " + Session->Config->GetObjectTypeName() +
                               " BRNConfig is read-only and this operation cannot be performed (";
  const std::vector<Case> cases = {
      {"not logged in", [](auto& s) { s.Logout(); },
       [](auto& s) { s.BeginCreateDatabase("Books"); }, 500,
       "A user must be logged in in order to perform this operation (CREATE DATABASE Books)"},
      {"not an administrator",
       [](auto& s) {
         s.ConfigManager->BeginUpdate();
         auto user = std::make_unique<TBRNUser>(s.Config.get());
         user->SetName("Clerk");
         user->SetPassword("clerk");
         user->SetLockNumber(s.Config->NextUserLockNumber());
         s.Config->Users->AddObject(user.get());
         user.release();
         s.ConfigManager->CommitUpdate();
         s.Logout();
         s.Login("Clerk", "clerk");
       },
       [](auto& s) { s.BeginCreateDatabase("Books"); }, 502,
       "Administrator privileges are required to perform this operation (CREATE DATABASE Books)"},
      {"read-only configuration", [](auto& s) { s.Config->SetReadOnly(true); },
       [](auto& s) { s.BeginCreateDatabase("Books"); }, 403, readOnly + "CREATE DATABASE Books)"},
      {"read-only, rename", [](auto& s) { s.Config->SetReadOnly(true); },
       [](auto& s) { s.RenameDatabase("Sales", "Books"); }, 403,
       readOnly + "RENAME DATABASE Sales TO Books)"},
      {"built-in, alter", [](auto&) {}, [](auto& s) { s.BeginAlterDatabase("configuration"); }, 200,
       "This operation cannot be performed on the system database Configuration or any "
       "privileges granted to it"},
      {"built-in, drop", [](auto&) {}, [](auto& s) { s.DropDatabase("Configuration", true); }, 200,
       "This operation cannot be performed on the system database Configuration or any "
       "privileges granted to it"},
      {"built-in, rename", [](auto&) {},
       [](auto& s) { s.RenameDatabase("Configuration", "Books"); }, 200,
       "This operation cannot be performed on the system database Configuration or any "
       "privileges granted to it"},
      {"unknown database", [](auto&) {}, [](auto& s) { s.DropDatabase("Nowhere", false); }, 401,
       "The database Nowhere does not exist"},
  };
  for (const Case& c : cases) {
    TestEngine env;
    auto session = env.OpenSession();
    session->Login("Administrator", "GlenHarbor");
    TBRNDatabaseContainer* sales = session->BeginCreateDatabase("Sales");
    session->EndCreateDatabase(sales);
    c.Prepare(*session);
    EXPECT_EQ(Outcome([&] { c.Command(*session); }), std::make_pair(c.Code, c.Message)) << c.Name;
    EXPECT_FALSE(session->ConfigManager->InUpdate) << c.Name << ": the update was ended";
    EXPECT_EQ(session->Config->Databases->FindByName("Books", false), nullptr) << c.Name;
    EXPECT_NE(session->Config->Databases->FindByName("Sales", false), nullptr) << c.Name;
  }
}

// ---- The frame of the database-wide commands, with a stand-in operation

TEST_F(DatabaseCommandsTest, DatabaseWideCommandsReportStagesAndStopQuietly) {
  Create("Sales");
  struct Case {
    std::string Name;
    std::string Database;
    std::function<bool()> Operation;
    int32_t Code;  // 0: no error
    bool Result;
    bool Called;
    std::string LastStatus;  // "" for none
  };
  const std::vector<Case> cases = {
      {"completes", "sales", [] { return true; }, 0, true, true,
       "The database Sales was backed up successfully"},
      {"stopped by the user", "Sales", [] { return false; }, 0, false, true,
       "The back up of the database Sales did not complete"},
      {"fails", "Sales",
       []() -> bool { throw EBRNException(1300, "Error backing up the database Sales"); }, 1300,
       false, true, "The back up of the database Sales did not complete"},
      {"built-in database", "Configuration", [] { return true; }, 200, false, false,
       "The back up of the database Configuration did not complete"},
      {"unknown database", "Nowhere", [] { return true; }, 401, false, false, ""},
  };
  for (const Case& c : cases) {
    Statuses.clear();
    bool called = false;
    bool result = false;
    auto outcome = Outcome([&] {
      result = Session->RunDatabaseCommand(
          ConfigStatementText("BACKUP DATABASE %s", c.Database), false, c.Database,
          &TBRNLocalSessionManager::ReportBackupStatus, [&](TBRNLocalDatabaseManager& database) {
            called = true;
            EXPECT_EQ(database.Database->Name, "Sales");
            return c.Operation();
          });
    });
    EXPECT_EQ(outcome.first, c.Code) << c.Name << ": " << outcome.second;
    EXPECT_EQ(result, c.Result) << c.Name;
    EXPECT_EQ(called, c.Called) << c.Name;
    EXPECT_EQ(Statuses.empty() ? "" : Statuses.back(), c.LastStatus) << c.Name;
    EXPECT_EQ(Session->ConfigManager->ReadCount, 0) << c.Name << ": the read was ended";
  }

  // Login is the only check (the operation checks privileges); PUBLISH and
  // UNPUBLISH also need a writable configuration.
  Session->Config->SetReadOnly(true);
  EXPECT_TRUE(Session->RunDatabaseCommand("BACKUP DATABASE Sales", false, "Sales",
                                          &TBRNLocalSessionManager::ReportBackupStatus,
                                          [](TBRNLocalDatabaseManager&) { return true; }));
  EXPECT_EQ(Outcome([&] {
              Session->RunDatabaseCommand("PUBLISH DATABASE Sales", true, "Sales",
                                          &TBRNLocalSessionManager::ReportPublishStatus,
                                          [](TBRNLocalDatabaseManager&) { return true; });
            }).first,
            403);
  Session->Logout();
  EXPECT_EQ(Outcome([&] {
              Session->RunDatabaseCommand("BACKUP DATABASE Sales", false, "Sales",
                                          &TBRNLocalSessionManager::ReportBackupStatus,
                                          [](TBRNLocalDatabaseManager&) { return true; });
            }),
            std::make_pair(500, std::string("A user must be logged in in order to perform this "
                                            "operation (BACKUP DATABASE Sales)")));
}

// ---- CREATE DATABASE

TEST_F(DatabaseCommandsTest, CreateAddsOnlyTheEntryAndACancelLeavesNothing) {
  Create("Sales");
  EXPECT_EQ(Statuses.back(), "The database Sales was created successfully");
  EXPECT_FALSE(PathExists(PathOf("Sales"))) << "the catalog waits for the first open";
  auto reader = Reader();
  auto* seen =
      static_cast<TBRNDatabaseContainer*>(reader->Config->Databases->FindByName("SALES", false));
  ASSERT_NE(seen, nullptr);
  EXPECT_EQ(seen->Path, PathOf("Sales"));
  EXPECT_EQ(seen->OwnerName, "Administrator");

  const std::string configFile = ReadBytes(Session->ConfigManager->GetFileName());
  struct Case {
    std::string Name;
    std::string DatabaseName;
    bool CallEnd;  // End fails on the definition, then Cancel
  };
  for (const Case& c :
       std::vector<Case>{{"cancelled", "Books", false}, {"name taken", "sales", true}}) {
    TBRNDatabaseContainer* database = Session->BeginCreateDatabase(c.DatabaseName);
    database->Path = PathOf("Books");
    if (c.CallEnd) {
      EXPECT_NE(Outcome([&] { Session->EndCreateDatabase(database); }).first, 0) << c.Name;
    }
    Session->CancelCreateDatabase(database);
    EXPECT_EQ(Statuses.back(),
              "The creation of the database " + c.DatabaseName + " did not complete")
        << c.Name;
    EXPECT_EQ(Session->Config->Databases->Count(), 3) << c.Name;
    EXPECT_FALSE(Session->ConfigManager->InUpdate) << c.Name;
    EXPECT_FALSE(PathExists(PathOf("Books"))) << c.Name;
    EXPECT_TRUE(ReadBytes(Session->ConfigManager->GetFileName()) == configFile) << c.Name;
  }
}

// ---- ALTER DATABASE

TEST_F(DatabaseCommandsTest, AlterWaitsUntilNoOtherProcessHasTheDatabaseOpen) {
  Create("Sales");
  AddItemsTable("Sales");
  {
    Holder holder(Env.Folder.Path, "Sales");
    ASSERT_TRUE(holder.IsOpen());
    auto outcome = Alter("Sales", [](auto& d) { d.Description = "Quarterly"; });
    EXPECT_EQ(outcome.first, 300) << outcome.second;
    EXPECT_EQ(Statuses.back(), "The alteration of the database Sales did not complete");
    EXPECT_EQ(Session->Config->Databases->FindByName("Sales", true)->Description, "");
    EXPECT_FALSE(Session->ConfigManager->InUpdate);
  }
  EXPECT_EQ(Alter("Sales", [](auto& d) { d.Description = "Quarterly"; }).first, 0);
  EXPECT_EQ(Statuses.back(), "The database Sales was altered successfully");
  EXPECT_EQ(Reader()->Config->Databases->FindByName("Sales", true)->Description, "Quarterly");
  auto* sales =
      static_cast<TBRNDatabaseContainer*>(Session->Config->Databases->FindByName("Sales", true));
  EXPECT_FALSE(Session->GetDatabaseManager(sales)->Opened) << "the Exclusive open was given back";
}

TEST_F(DatabaseCommandsTest, AlterOfTheEncryptionRewritesOnlyTheCatalog) {
  Create("Sales");
  AddItemsTable("Sales");
  const std::string catalog = PathOf("Sales/BRNDatabase.BRNCat");
  const std::string rows = ReadBytes(PathOf("Sales/Items.BRNTbl"));
  const std::string indexes = ReadBytes(PathOf("Sales/Items.BRNIdx"));
  ASSERT_FALSE(rows.empty());
  for (bool encrypted : {true, false}) {
    const std::string before = ReadBytes(catalog);
    EXPECT_EQ(Alter("Sales", [&](auto& d) { d.EncryptedCatalog = encrypted; }).first, 0);
    EXPECT_TRUE(ReadBytes(catalog) != before) << encrypted;
    EXPECT_TRUE(ReadBytes(PathOf("Sales/Items.BRNTbl")) == rows) << encrypted;
    EXPECT_TRUE(ReadBytes(PathOf("Sales/Items.BRNIdx")) == indexes) << encrypted;

    // Another session reads the rewritten catalog with its table.
    auto reader = Reader();
    reader->Login("Administrator", "GlenHarbor");
    auto* database =
        static_cast<TBRNLocalDatabaseManager*>(reader->OpenDatabase("Sales", kBRNLockShared));
    EXPECT_EQ(database->Database->EncryptedCatalog, encrypted);
    EXPECT_EQ(database->CatalogManager->Encrypted, encrypted);
    EXPECT_NE(database->Catalog->DefaultSchema->BaseTables->FindByName("Items", false), nullptr);
  }
}

TEST_F(DatabaseCommandsTest, AlterToAnotherPathNeedsTheTableFilesThere) {
  Create("Sales");
  AddItemsTable("Sales");
  const std::string rows = ReadBytes(PathOf("Sales/Items.BRNTbl"));
  ASSERT_EQ(mkdir(PathOf("Moved").c_str(), 0755), 0);

  auto outcome = Alter("Sales", [&](auto& d) { d.Path = PathOf("Moved"); });
  EXPECT_EQ(outcome.first, 401);
  EXPECT_THAT(outcome.second, HasSubstr("The path specified for the database Sales does not "
                                        "exist ("));
  EXPECT_THAT(outcome.second, HasSubstr("Items.BRNTbl)"));
  EXPECT_FALSE(PathExists(PathOf("Moved/BRNDatabase.BRNCat")));
  EXPECT_FALSE(PathExists(PathOf("Moved/Items.BRNTbl"))) << "table files are not moved";
  EXPECT_EQ(
      static_cast<TBRNDatabaseContainer*>(Session->Config->Databases->FindByName("Sales", true))
          ->Path,
      PathOf("Sales"));

  // With the table files copied there by hand, the catalog follows.
  for (const char* name : {"Items.BRNTbl", "Items.BRNIdx"})
    std::ofstream(PathOf(std::string("Moved/") + name), std::ios::binary)
        << ReadBytes(PathOf(std::string("Sales/") + name));
  EXPECT_EQ(Alter("Sales", [&](auto& d) { d.Path = PathOf("Moved"); }).first, 0);
  EXPECT_TRUE(PathExists(PathOf("Moved/BRNDatabase.BRNCat")));
  EXPECT_TRUE(ReadBytes(PathOf("Sales/Items.BRNTbl")) == rows) << "the old files stay";
  auto reader = Reader();
  reader->Login("Administrator", "GlenHarbor");
  auto* database =
      static_cast<TBRNLocalDatabaseManager*>(reader->OpenDatabase("Sales", kBRNLockShared));
  EXPECT_EQ(database->GetDatabasePath(), PathOf("Moved"));
  EXPECT_NE(database->Catalog->DefaultSchema->BaseTables->FindByName("Items", false), nullptr);
}

// ---- OPEN, DROP and RENAME DATABASE

TEST_F(DatabaseCommandsTest, RenameToATakenNameChangesNothing) {
  Create("Sales");
  Create("Books");
  const std::string configFile = ReadBytes(Session->ConfigManager->GetFileName());
  EXPECT_EQ(Outcome([&] { Session->RenameDatabase("Sales", "BOOKS"); }),
            std::make_pair(400, std::string("The database Books already exists")));
  EXPECT_EQ(Statuses.back(), "The rename of the database Sales did not complete");
  EXPECT_NE(Session->Config->Databases->FindByName("Sales", false), nullptr);
  EXPECT_TRUE(ReadBytes(Session->ConfigManager->GetFileName()) == configFile);

  Session->RenameDatabase("Sales", "Revenue");
  auto reader = Reader();
  EXPECT_EQ(reader->Config->Databases->FindByName("Sales", false), nullptr);
  EXPECT_NE(reader->Config->Databases->FindByName("Revenue", false), nullptr);
}

TEST_F(DatabaseCommandsTest, OpenByNameAndDrop) {
  Create("Sales");
  AddItemsTable("Sales");
  TBRNDatabaseManager* database = Session->OpenDatabase("sales", kBRNLockShared);
  EXPECT_TRUE(database->Opened);
  Session->CloseDatabase(database);
  EXPECT_EQ(database, nullptr);
  EXPECT_EQ(Outcome([&] { Session->OpenDatabase("Nowhere", kBRNLockShared); }).first, 401);

  Session->DropDatabase("Sales", false);
  EXPECT_EQ(Statuses.back(), "The database Sales was dropped successfully");
  EXPECT_FALSE(PathExists(PathOf("Sales")));
  EXPECT_EQ(Reader()->Config->Databases->FindByName("Sales", false), nullptr);
}

}  // namespace
}  // namespace brn::testing

// The local database manager in one process: its files, the open count,
// what a close gives back, drop and rename, the catalog version, the guards
// and error texts, and the ownership of the handles opened in a database.
#include <dirent.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/locks/lockable.h"
#include "foundation/text/exception.h"
#include "foundation/values/param_value.h"
#include "sessions/databases/database_test_support.h"
#include "storage/tables/table_manager_test_support.h"

namespace brn::testing {
namespace {

std::set<std::string> FilesIn(const std::string& folder) {
  std::set<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.insert(name);
    }
    closedir(dir);
  }
  return names;
}

void WriteFile(const std::string& path) {
  std::ofstream(path) << "not a database file";
}

struct DatabaseManagerTest : ::testing::Test {
  TestEngine Env;
  std::unique_ptr<TBRNLocalSessionManager> Session = Env.OpenSession();

  // The session's handle of a new database entry name at path.
  TBRNLocalDatabaseManager* Database(const std::string& name, const std::string& path,
                                     TBRNLocalSessionManager* session = nullptr) {
    if (session == nullptr) session = Session.get();
    return session->GetDatabaseManager(AddDatabase(*session, name, path));
  }
  std::string PathOf(const std::string& relative) const { return Env.Folder.Path + relative; }

  // A base or temporary table's manager, opened (its files made) with the
  // Shared lock.
  static TBRNTableManager* OpenTable(TBRNLocalDatabaseManager& database, TBRNBaseTable* table) {
    auto* manager = static_cast<TBRNTableManager*>(database.TableManagers->GetManager(table));
    manager->SetCreatingFiles(true);
    database.TableManagers->OpenManager(table, kBRNLockTypeShared);
    manager->SetCreatingFiles(false);
    return manager;
  }
};

TEST_F(DatabaseManagerTest, OpeningMakesTheFolderTheCatalogAndTheLockFile) {
  struct Case {
    std::string Name;
    std::string Path;    // as configured
    std::string Folder;  // where the files go
  };
  const std::vector<Case> cases = {
      {"Absolute", PathOf("deep/er/Absolute"), PathOf("deep/er/Absolute")},
      {"Relative", "rel/Relative", PathOf("rel/Relative")},
      {"Backslashes", "win\\Backslashes\\", PathOf("win/Backslashes")},
  };
  for (const Case& c : cases) {
    TBRNLocalDatabaseManager* database = Database(c.Name, c.Path);
    EXPECT_EQ(database->GetCatalogVersion(), 0) << c.Name << ": no folder yet";
    EXPECT_FALSE(PathExists(c.Folder)) << c.Name << ": reading the version makes nothing";
    database->OpenDatabase(kBRNLockShared);
    EXPECT_TRUE(database->Opened) << c.Name;
    EXPECT_EQ(database->OpenCount, 1) << c.Name;
    EXPECT_TRUE(PathExists(c.Folder + "/BRNDatabase.BRNCat")) << c.Name;
    EXPECT_TRUE(PathExists(c.Folder + "/BRNDatabase.BRNLck")) << c.Name;
    EXPECT_EQ(database->GetCatalogVersion(), 20500) << c.Name;
    database->CloseDatabase(false);
    EXPECT_EQ(database->GetCatalogVersion(), 20500) << c.Name << ": read from the closed file";
    EXPECT_FALSE(database->LockManager->Opened) << c.Name;
    EXPECT_FALSE(database->CatalogManager->Opened) << c.Name;
  }

  // An existing folder without a catalog has no version, and reading it
  // leaves the folder as it is.
  ASSERT_TRUE(CreateDirectoryPath(PathOf("Empty")));
  EXPECT_EQ(Database("Empty", PathOf("Empty"))->GetCatalogVersion(), 0);
  EXPECT_TRUE(FilesIn(PathOf("Empty")).empty());
}

TEST_F(DatabaseManagerTest, AFolderThatCannotBeMadeRaises401AndTakesNothing) {
  WriteFile(PathOf("plain"));
  std::string path = PathOf("plain/D");
  TBRNLocalDatabaseManager* database = Database("D", path);
  try {
    database->OpenDatabase(kBRNLockShared);
    FAIL() << "opened";
  } catch (const EBRNException& e) {
    EXPECT_EQ(e.ErrorCode, 401);
    EXPECT_EQ(e.ErrorMessage,
              "The path specified for the database D does not exist (" + path + ")");
  }
  EXPECT_FALSE(database->Opened);
  EXPECT_EQ(database->OpenCount, 0);
  EXPECT_FALSE(database->LockManager->Opened);
}

TEST_F(DatabaseManagerTest, InMemoryFilesArePerSessionOnlyForTheBuiltInDatabases) {
  TBRNFileManager* internal = Env.Engine.InternalFileManager.get();
  TBRNLocalDatabaseManager* configuration = Session->ConfigurationDatabase;
  ASSERT_NE(configuration, nullptr);
  const std::string folder = Session->GetSessionFolder() + "Configuration\\";
  EXPECT_EQ(configuration->GetLockFileName(), folder + "BRNDatabase.BRNLck");
  EXPECT_EQ(configuration->GetCatalogFileName(), folder + "BRNDatabase.BRNCat");
  EXPECT_TRUE(internal->FileExists(folder + "BRNDatabase.BRNLck"));
  EXPECT_TRUE(internal->FileExists(folder + "BRNDatabase.BRNCat"));

  TBRNDatabaseContainer* entry = AddDatabase(*Session, "M", "");
  entry->InMemory = true;
  TBRNLocalDatabaseManager* memory = Session->GetDatabaseManager(entry);
  memory->OpenDatabase(kBRNLockShared);
  EXPECT_EQ(memory->GetCatalogFileName(), "M\\BRNDatabase.BRNCat");
  EXPECT_TRUE(memory->FileManager->GetInMemory());
  EXPECT_TRUE(memory->FileManager->FileExists("M\\BRNDatabase.BRNCat"));
  memory->CloseDatabase(false);
  EXPECT_TRUE(memory->FileManager->FileExists("M\\BRNDatabase.BRNCat")) << "shared, kept";

  Session.reset();
  EXPECT_FALSE(internal->FileExists(folder + "BRNDatabase.BRNLck"));
  EXPECT_FALSE(internal->FileExists(folder + "BRNDatabase.BRNCat"));
}

TEST_F(DatabaseManagerTest, OpensAreCountedAndAForcedCloseClosesWhateverTheCount) {
  TBRNLocalDatabaseManager* database = Database("D", PathOf("D"));
  TBRNDatabaseContainer* entry = database->Database;
  const uint8_t shared = LockTypeBit(ltShared);
  const uint8_t exclusive = LockTypeBit(ltExclusive);

  database->OpenDatabase(kBRNLockShared);
  database->OpenDatabase(kBRNLockShared);
  database->CloseDatabase(false);
  EXPECT_TRUE(database->Opened);
  EXPECT_EQ(database->OpenCount, 1);
  EXPECT_TRUE(database->LockManager->Opened);
  EXPECT_EQ(entry->HeldLocks, shared);
  database->CloseDatabase(false);
  EXPECT_FALSE(database->Opened);
  EXPECT_EQ(entry->HeldLocks, 0);
  EXPECT_FALSE(database->LockManager->Opened);
  EXPECT_FALSE(database->CatalogManager->Opened);

  // A Shared open inside an Exclusive one is implied by it.
  database->OpenDatabase(kBRNLockExclusive);
  database->OpenDatabase(kBRNLockShared);
  EXPECT_EQ(database->OpenCount, 2);
  EXPECT_EQ(entry->HeldLocks, exclusive);
  database->CloseDatabase(true);
  EXPECT_FALSE(database->Opened);
  EXPECT_EQ(database->OpenCount, 0);
  EXPECT_EQ(entry->HeldLocks, 0);
  EXPECT_FALSE(database->LockManager->Opened);
  database->CloseDatabase(false);  // closing a closed database does nothing
  EXPECT_EQ(database->OpenCount, 0);
}

TEST_F(DatabaseManagerTest, AnotherSessionsLockKeepsOpensAndRenamesOut) {
  std::unique_ptr<TBRNLocalSessionManager> other = Env.OpenSession("Other");
  TBRNLocalDatabaseManager* mine = Database("D", PathOf("D"));
  TBRNLocalDatabaseManager* theirs = Database("D", PathOf("D"), other.get());

  mine->OpenDatabase(kBRNLockExclusive);
  try {
    theirs->OpenDatabase(kBRNLockShared);
    FAIL() << "opened";
  } catch (const EBRNException& e) {
    EXPECT_EQ(e.ErrorCode, 300);
    EXPECT_EQ(e.ErrorMessage, "Cannot lock the database D for shared access");
  }
  EXPECT_FALSE(theirs->Opened);
  EXPECT_FALSE(theirs->LockManager->Opened) << "a failed first open gives its files back";
  EXPECT_FALSE(theirs->CatalogManager->Opened);
  mine->CloseDatabase(false);

  theirs->OpenDatabase(kBRNLockShared);
  try {
    mine->RenameDatabase("E");
    FAIL() << "renamed";
  } catch (const EBRNException& e) {
    EXPECT_EQ(e.ErrorCode, 300);
    EXPECT_EQ(e.ErrorMessage, "Cannot lock the database D for exclusive access");
  }
  EXPECT_EQ(mine->Database->Name, "D");
  EXPECT_FALSE(mine->LockManager->Opened);
  theirs->CloseDatabase(false);

  mine->RenameDatabase("E");
  EXPECT_EQ(mine->Database->Name, "E");
  EXPECT_EQ(mine->Catalog->Name, "E");
  EXPECT_TRUE(PathExists(PathOf("D/BRNDatabase.BRNCat"))) << "folder and files keep their names";
  EXPECT_FALSE(mine->LockManager->Opened);
}

TEST_F(DatabaseManagerTest, ClosingRollsBackTheTransactionAndDeletesTemporaryTables) {
  TBRNLocalDatabaseManager* database = Database("D", PathOf("D"));
  database->OpenDatabase(kBRNLockShared);
  TBRNBaseTable* items = AddTable(*database->Catalog, "Items", false);
  TBRNTableManager* manager = OpenTable(*database, items);
  OpenTable(*database, items);  // a second user, as a cursor would be
  InsertRawRow(*manager, 1, false);
  TBRNBaseTable* scratch = AddTable(*database->Catalog, "Scratch", true);
  OpenTable(*database, scratch);
  InsertRawRow(*static_cast<TBRNTableManager*>(database->TableManagers->GetManager(scratch)), 1,
               false);
  ASSERT_TRUE(PathExists(PathOf("D/Scratch.BRNTbl")));
  ASSERT_TRUE(PathExists(PathOf("D/Scratch.BRNIdx")));

  items->SetInTransaction();
  database->Database->SetInTransaction();
  database->TableManagers->StartDatabaseTransaction();
  InsertRawRow(*manager, 2, false);
  ASSERT_EQ(manager->GetRowCount(), 2);

  TBRNDatabaseManager* handle = database;
  Session->CloseDatabase(handle);
  EXPECT_FALSE(database->Opened);
  EXPECT_FALSE(database->InTransaction());
  EXPECT_FALSE(items->IsInTransaction());
  EXPECT_FALSE(manager->GetOpen()) << "closed with its users: its lock file is closed";
  EXPECT_EQ(database->Catalog->DefaultSchema->TemporaryTables->Count(), 0);
  EXPECT_EQ(FilesIn(PathOf("D")), (std::set<std::string>{"BRNDatabase.BRNCat", "BRNDatabase.BRNLck",
                                                         "Items.BRNIdx", "Items.BRNTbl"}));

  database->OpenDatabase(kBRNLockShared);
  EXPECT_EQ(OpenTable(*database, items)->GetRowCount(), 1) << "the row of the transaction is gone";
  database->CloseDatabase(false);
}

TEST_F(DatabaseManagerTest, DropRemovesOnlyWhatTheDatabaseKnows) {
  struct Case {
    std::string Name;
    bool KeepContents;
    bool ForeignFile;
  };
  const std::vector<Case> cases = {
      {"Kept", true, false},
      {"KeptWithNotes", true, true},
      {"Dropped", false, false},
      {"DroppedWithNotes", false, true},
  };
  for (const Case& c : cases) {
    TBRNLocalDatabaseManager* database = Database(c.Name, PathOf(c.Name));
    database->OpenDatabase(kBRNLockShared);
    database->CatalogManager->BeginUpdate();
    TBRNBaseTable* items = AddTable(*database->Catalog, "Items", false);
    database->CatalogManager->CommitUpdate();
    TBRNTableManager* manager = OpenTable(*database, items);
    InsertRawRow(*manager, 1, false);
    manager->MakeOldCopies(false, kTableFileRows);
    database->CloseDatabase(false);
    if (c.ForeignFile) WriteFile(PathOf(c.Name + "/notes.txt"));
    std::set<std::string> before = FilesIn(PathOf(c.Name));
    for (const char* name : {"BRNDatabase.BRNCat", "BRNDatabase.BRNLck", "Items.BRNTbl",
                             "Items.BRNIdx", "Items.BRNTbl.Old"})
      ASSERT_EQ(before.count(name), 1u) << c.Name << " " << name;

    database->DropDatabase(c.KeepContents);
    std::set<std::string> left;
    if (c.KeepContents)
      left = before;
    else if (c.ForeignFile)
      left = {"notes.txt"};
    EXPECT_EQ(PathExists(PathOf(c.Name)), !left.empty()) << c.Name;
    EXPECT_EQ(FilesIn(PathOf(c.Name)), left) << c.Name;
    EXPECT_FALSE(database->LockManager->Opened) << c.Name;
    EXPECT_FALSE(database->CatalogManager->Opened) << c.Name;
  }

  // Without a folder there is nothing to drop.
  TBRNLocalDatabaseManager* missing = Database("Missing", PathOf("Missing"));
  missing->DropDatabase(false);
  EXPECT_FALSE(PathExists(PathOf("Missing")));
}

TEST_F(DatabaseManagerTest, GuardsAndErrorsRaiseTheirCodesAndTexts) {
  TBRNLocalDatabaseManager* database = Database("D", PathOf("D"));
  TBRNDatabaseContainer* entry = database->Database;
  struct Case {
    std::string Name;
    std::function<void()> Prepare;  // puts the database in the state that is refused
    std::function<void()> Call;
    int32_t Code;
    std::string Message;
    std::function<void()> Allow;  // puts it in the state that passes (nullptr: always raises)
  };
  const std::string op = "ALTER DATABASE D";
  const std::vector<Case> cases = {
      {"RequireOpen", [] {}, [&] { database->RequireOpen(op); }, 402,
       "The database D must be open in order to perform this operation (ALTER DATABASE D)",
       [&] { database->OpenDatabase(kBRNLockShared); }},
      {"RequireWritable", [&] { entry->ReadOnly = true; }, [&] { database->RequireWritable(op); },
       403, "The database D is read-only and this operation cannot be performed (ALTER DATABASE D)",
       [&] { entry->ReadOnly = false; }},
      {"RequireNoTransaction", [&] { entry->SetInTransaction(); },
       [&] { database->RequireNoTransaction(op); }, 404,
       "Transaction error: This operation cannot be performed while the database D has an "
       "active transaction (ALTER DATABASE D)",
       [&] { entry->ClearInTransaction(); }},
      {"RequireTransaction", [] {}, [&] { database->RequireTransaction(op); }, 404,
       "Transaction error: This operation cannot be performed without an active transaction on "
       "the database D (ALTER DATABASE D)",
       [&] { entry->SetInTransaction(); }},
      {"RaisePathNotFoundError", [] {}, [&] { database->RaisePathNotFoundError("/no/D"); }, 401,
       "The path specified for the database D does not exist (/no/D)", nullptr},
      {"RaiseTransactionError", [] {}, [&] { database->RaiseTransactionError("detail"); }, 404,
       "Transaction error: detail", nullptr},
      {"RaiseBackupError", [] {}, [&] { database->RaiseBackupError(op); }, 1300,
       "Error backing up the database D (ALTER DATABASE D)", nullptr},
      {"RaiseRestoreError", [] {}, [&] { database->RaiseRestoreError(op); }, 1301,
       "Error restoring the database D (ALTER DATABASE D)", nullptr},
  };
  for (const Case& c : cases) {
    c.Prepare();
    try {
      c.Call();
      ADD_FAILURE() << c.Name << " passed";
    } catch (const EBRNException& e) {
      EXPECT_EQ(e.ErrorCode, c.Code) << c.Name;
      EXPECT_EQ(e.ErrorMessage, c.Message) << c.Name;
    }
    if (c.Allow) {
      c.Allow();
      EXPECT_NO_THROW(c.Call()) << c.Name;
    }
  }
  entry->ClearInTransaction();
  database->CloseDatabase(true);
}

// Handles of every kind that count their destruction.
struct Counts {
  int32_t Freed = 0;
};
struct CountedCursor : TBRNHandleObject {
  explicit CountedCursor(Counts& counts) : counts_(counts) {}
  ~CountedCursor() override { ++counts_.Freed; }
  Counts& counts_;
};
struct CountedStatement : TBRNStatementManager {
  explicit CountedStatement(Counts& counts) : counts_(counts) {}
  ~CountedStatement() override { ++counts_.Freed; }
  bool GetSensitive() override { return false; }
  void GetPlan(std::string&) override {}
  int32_t GetRowsAffected() override { return 0; }
  int32_t GetExecutionTime() override { return 0; }
  bool GetExecutionResult() override { return false; }
  TBRNCursor* ExecuteStatement() override { return nullptr; }
  Counts& counts_;
};
struct CountedProcedure : TBRNProcedureManager {
  explicit CountedProcedure(Counts& counts) : counts_(counts) {}
  ~CountedProcedure() override { ++counts_.Freed; }
  int32_t GetExecutionTime() override { return 0; }
  TBRNCursor* ExecuteProcedure() override { return nullptr; }
  Counts& counts_;
};
struct CountedScript : TBRNScriptManager {
  explicit CountedScript(Counts& counts) : counts_(counts) {}
  ~CountedScript() override { ++counts_.Freed; }
  int32_t GetExecutionTime() override { return 0; }
  TBRNCursor* ExecuteScript() override { return nullptr; }
  bool SetBreakpoint(int32_t) override { return false; }
  bool HasBreakpoint(int32_t) override { return false; }
  bool RemoveBreakpoint(int32_t) override { return false; }
  void DebugScript() override {}
  TBRNCursor* GetScriptCursor() override { return nullptr; }
  void Pause() override {}
  void StepOver() override {}
  void StepInto() override {}
  void Resume() override {}
  void Stop() override {}
  void GetVariableNames(TBRNStringsList&) override {}
  void GetVariableData(const std::string&, TBRNVariableData&) override {}
  Counts& counts_;
};

// One handle of each kind, registered in the database (which owns it) and
// indexed by the session.
void AddHandles(TBRNLocalSessionManager& session, TBRNLocalDatabaseManager& database,
                Counts& counts) {
  database.Cursors.AddObject(new CountedCursor(counts), false);
  database.Statements.AddObject(new CountedStatement(counts), false);
  database.Procedures.AddObject(new CountedProcedure(counts), false);
  database.Scripts.AddObject(new CountedScript(counts), false);
  session.Cursors.Add(&database, 1);
  session.Statements.Add(&database, 1);
  session.Procedures.Add(&database, 1);
  session.Scripts.Add(&database, 1);
}

int32_t SessionIndexCount(TBRNLocalSessionManager& session) {
  return session.Cursors.GetCount() + session.Statements.GetCount() +
         session.Procedures.GetCount() + session.Scripts.GetCount();
}

TEST_F(DatabaseManagerTest, TheDatabaseOwnsItsHandlesAndItsCloseClearsTheSessionIndex) {
  Counts counts;
  TBRNLocalDatabaseManager* database = Database("D", PathOf("D"));
  database->OpenDatabase(kBRNLockShared);
  database->OpenDatabase(kBRNLockShared);
  AddHandles(*Session, *database, counts);

  database->CloseDatabase(false);
  EXPECT_EQ(counts.Freed, 0) << "still open once";
  EXPECT_EQ(SessionIndexCount(*Session), 4);

  TBRNDatabaseManager* handle = database;
  Session->CloseDatabase(handle);
  EXPECT_EQ(counts.Freed, 4);
  EXPECT_EQ(SessionIndexCount(*Session), 0);
  for (TBRNHandleObjects* table :
       {&database->Cursors, &database->Statements, &database->Procedures, &database->Scripts})
    EXPECT_FALSE(table->IsHandleUsed(1));

  // A forced close that the session does not make (its own shutdown)
  // clears the index too; the session's end frees nothing twice.
  database->OpenDatabase(kBRNLockShared);
  AddHandles(*Session, *database, counts);
  database->CloseDatabase(true);
  EXPECT_EQ(counts.Freed, 8);
  EXPECT_EQ(SessionIndexCount(*Session), 0);

  database->OpenDatabase(kBRNLockShared);
  AddHandles(*Session, *database, counts);
  Session.reset();
  EXPECT_EQ(counts.Freed, 12);
}

}  // namespace
}  // namespace brn::testing

#include <unistd.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/files/fault_file_manager.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/triggers.h"
#include "metadata/config/privileges.h"
#include "metadata/config/users_roles.h"
#include "sessions/config/config_command_test_support.h"
#include "sessions/databases/database_test_support.h"
#include "sessions/ddl/ddl_frame.h"
#include "storage/rows/row_values.h"
#include "storage/tables/table_manager.h"
#include "storage/tables/child_process.h"
#include "storage/tables/table_manager_test_support.h"

namespace brn {
namespace {

using testing::ErrorCodeOf;
using testing::TestEngine;

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The columns ID INTEGER and Name CHAR(20) of a new table.
void DefineColumns(TBRNCatalog& catalog, TBRNBaseTable* table) {
  for (auto [columnName, type, length] :
       {std::tuple{"ID", dtInteger, 0}, std::tuple{"Name", dtChar, 20}}) {
    auto column = std::make_unique<TBRNColumn>(&catalog);
    column->Name = columnName;
    column->SetDataType(type);
    if (length != 0) column->SetLength(length);
    table->Columns->AddObject(column.get());
    column.release();
  }
}

// An index of kind type on the ID column.
void DefineIdIndex(TBRNBaseTable* table, TBRNIndex* index, int32_t type) {
  index->SetIndexType(type);
  std::unique_ptr<TBRNIndexColumn> entry(static_cast<TBRNIndexColumn*>(index->Columns->NewItem()));
  entry->SetColumn(static_cast<TBRNColumn*>(table->Columns->FindByName("ID", true)));
  index->Columns->AddObject(entry.get());
  entry.release();
}

// The database entry name at path with the grants of a new database.
TBRNDatabaseContainer* AddDatabase(TBRNLocalSessionManager& session, const std::string& name,
                                   const std::string& path) {
  TBRNDatabaseContainer* database = testing::AddDatabase(session, name, path);
  database->ApplyDefaultGrants();
  return database;
}

struct DdlTest : ::testing::Test {
  void SetUp() override {
    Session->Login("Administrator", "GlenHarbor");
    Session->Events.OnStatusMessage = [this](const std::string& text) { Texts.push_back(text); };
    Db = Session->GetDatabaseManager(AddDatabase(*Session, "Shop", Env.Folder.Path + "shop"));
    Db->OpenDatabase(kBRNLockShared);
  }

  TBRNBaseTable* CreateTable(TBRNLocalDatabaseManager& db, const std::string& name) {
    TBRNBaseTable* table = db.CreateTable(name);
    try {
      DefineColumns(*db.Catalog, table);
      db.CommitCreateTable(table);
    } catch (...) {
      db.RollbackCreateTable(table);
      throw;
    }
    return table;
  }
  TBRNBaseTable* CreateTemporaryTable(const std::string& name) {
    TBRNBaseTable* table = Db->CreateTemporaryTable(name, true);
    DefineColumns(*Db->Catalog, table);
    Db->CommitCreateTemporaryTable(table);
    return table;
  }
  bool CreateIndex(const std::string& tableName, const std::string& name, int32_t type) {
    TBRNBaseTable* table = nullptr;
    TBRNIndex* index = Db->CreateIndex(tableName, table, name);
    try {
      DefineIdIndex(table, index, type);
      return Db->CommitCreateIndex(table, index);
    } catch (...) {
      Db->RollbackCreateIndex(table, index);
      throw;
    }
  }
  void CreateTrigger(const std::string& tableName, const std::string& name) {
    TBRNBaseTable* table = nullptr;
    TBRNTrigger* trigger = Db->CreateTrigger(tableName, table, name);
    try {
      Db->CommitCreateTrigger(table, trigger);
    } catch (...) {
      Db->RollbackCreateTrigger(table, trigger);
      throw;
    }
  }
  // Rows with the given IDs, written through the table's manager.
  void InsertRows(TBRNBaseTable* table, const std::vector<int32_t>& ids) {
    auto* manager = static_cast<TBRNTableManager*>(Db->TableManagers->GetManager(table));
    manager->SetCreatingFiles(true);
    Db->TableManagers->OpenManager(table, kBRNLockTypeShared);
    manager->SetCreatingFiles(false);
    for (int32_t id : ids) testing::InsertRawRow(*manager, id, false);
    manager->Close(false, true);
  }
  std::string CatalogBytes() { return ReadBytes(Db->GetCatalogFileName()); }
  std::string TablePath(const std::string& name, const std::string& extension) {
    return Env.Folder.Path + "shop/" + name + extension;
  }
  std::unique_ptr<TBRNLocalSessionManager> UserSession(const std::string& user) {
    TBRNUser* entry = Session->BeginCreateUser(user);
    entry->SetPassword("pw");
    Session->EndCreateUser(entry);
    std::unique_ptr<TBRNLocalSessionManager> other = Env.OpenSession("Other");
    other->Login(user, "pw");
    other->Events.OnStatusMessage = [this](const std::string& text) { Texts.push_back(text); };
    return other;
  }

  TestEngine Env;
  std::unique_ptr<TBRNLocalSessionManager> Session = Env.OpenSession();
  TBRNLocalDatabaseManager* Db = nullptr;
  std::vector<std::string> Texts;
};

TEST_F(DdlTest, RefusedStatementsReportAsTheirFrameSays) {
  CreateTable(*Db, "Items");
  std::unique_ptr<TBRNLocalSessionManager> ann = UserSession("Ann");
  TBRNLocalDatabaseManager* annDb = ann->GetDatabaseManager(
      static_cast<TBRNDatabaseContainer*>(ann->Config->Databases->FindByName("Shop", true)));
  annDb->OpenDatabase(kBRNLockShared);
  const std::string before = CatalogBytes();

  // A creation checks before anything: no stage, the file untouched.
  Texts.clear();
  EXPECT_NE(ErrorCodeOf([&] { annDb->CreateTable("Mine"); }), 0);
  EXPECT_TRUE(Texts.empty());
  EXPECT_EQ(CatalogBytes(), before);

  // A drop finds its table first: start stage, then failure stage.
  Texts.clear();
  EXPECT_NE(ErrorCodeOf([&] { annDb->DropTable("Items"); }), 0);
  ASSERT_EQ(Texts.size(), 2u);
  EXPECT_NE(Texts[0].find("Dropping"), std::string::npos) << Texts[0];
  EXPECT_NE(Texts[1].find("did not complete"), std::string::npos) << Texts[1];
  EXPECT_EQ(CatalogBytes(), before);
  EXPECT_NE(Db->Catalog->DefaultSchema->BaseTables->FindByName("Items", false), nullptr);
}

TEST_F(DdlTest, InATransactionOnlyTemporaryTablesChange) {
  CreateTable(*Db, "Items");
  Db->Database->StateBits |= TBRNPrivilegedConfigObject::kInTransaction;
  EXPECT_EQ(ErrorCodeOf([&] { Db->CreateTable("Other"); }), 404);
  EXPECT_EQ(ErrorCodeOf([&] { Db->DropTable("Items"); }), 404);
  EXPECT_EQ(ErrorCodeOf([&] { CreateIndex("Items", "ByID", kIndexOrdinary); }), 404);

  CreateTemporaryTable("Scratch");
  EXPECT_TRUE(CreateIndex("Scratch", "ByID", kIndexOrdinary));
  Db->RenameTable("Scratch", "Scratch2");
  TBRNBaseTable* renamed = static_cast<TBRNBaseTable*>(
      Db->Catalog->DefaultSchema->TemporaryTables->FindByName("Scratch2", true));
  EXPECT_EQ(renamed->Indexes->Count(), 1);
  Db->DropTable("Scratch2");
  EXPECT_EQ(Db->Catalog->DefaultSchema->TemporaryTables->Count(), 0);
  Db->Database->StateBits &= uint8_t(~TBRNPrivilegedConfigObject::kInTransaction);
}

// The new table starts with empty files of its own, which open: a missing
// file beside its ".Old" copy would look like a cut swap and be refused.
TEST_F(DdlTest, CreateTableKeepsFilesOfItsNameAsOldCopies) {
  std::ofstream(TablePath("Items", ".BRNTbl")) << "left behind";
  TBRNBaseTable* table = CreateTable(*Db, "Items");
  EXPECT_EQ(ReadBytes(TablePath("Items", ".BRNTbl.Old")), "left behind");
  EXPECT_TRUE(testing::PathExists(TablePath("Items", ".BRNTbl")));
  EXPECT_TRUE(testing::PathExists(TablePath("Items", ".BRNIdx")));
  auto* manager = static_cast<TBRNTableManager*>(
      Db->TableManagers->OpenManager(table, kBRNLockTypeShared));
  EXPECT_EQ(testing::ReadRowIDs(*manager), std::vector<int32_t>{});
  for (int32_t id : {1, 2}) testing::InsertRawRow(*manager, id, false);
  EXPECT_EQ(testing::ReadRowIDs(*manager), (std::vector<int32_t>{1, 2}));
  manager->Close(false, true);
}

// The ".Old" copies an earlier table of the name kept (a DROP leaves them)
// do not stop a new table of that name from making its files.
TEST_F(DdlTest, ATableMadeAgainAfterADropIgnoresTheOldCopiesOfTheDroppedOne) {
  InsertRows(CreateTable(*Db, "Items"), {1, 2});
  for (const char* extension : {".BRNTbl.Old", ".BRNIdx.Old"})
    std::ofstream(TablePath("Items", extension)) << "kept by an alteration";
  Db->DropTable("Items");
  TBRNBaseTable* table = CreateTable(*Db, "Items");
  EXPECT_NO_THROW(InsertRows(table, {3}));
  EXPECT_FALSE(testing::PathExists(TablePath("Items", ".BRNTbl.Old")));
  EXPECT_FALSE(testing::PathExists(TablePath("Items", ".BRNIdx.Old")));
}

TEST_F(DdlTest, UniqueIndexOverDuplicatesChangesNothing) {
  TBRNBaseTable* table = CreateTable(*Db, "Items");
  InsertRows(table, {1, 2, 2});
  const std::string catalog = CatalogBytes();
  const std::string indexFile = ReadBytes(TablePath("Items", ".BRNIdx"));
  Texts.clear();
  try {
    CreateIndex("Items", "ByID", kIndexUnique);
    ADD_FAILURE() << "the build took the duplicate";
  } catch (const EBRNException& e) {
    EXPECT_EQ(e.ErrorCode, 1004);
    EXPECT_EQ(e.ErrorMessage, "Duplicate key 2 found");
  }
  EXPECT_EQ(CatalogBytes(), catalog);
  EXPECT_EQ(ReadBytes(TablePath("Items", ".BRNIdx")), indexFile);
  EXPECT_FALSE(testing::PathExists(TablePath("Items", ".BRNIdx.Old")));
  table = static_cast<TBRNBaseTable*>(
      Db->Catalog->DefaultSchema->BaseTables->FindByName("Items", true));
  EXPECT_EQ(table->Indexes->Count(), 0);
  ASSERT_FALSE(Texts.empty());
  EXPECT_EQ(Texts.back(), "The creation of the index ByID did not complete");
  // Without the duplicate the same index builds.
  EXPECT_TRUE(CreateIndex("Items", "ByID", kIndexOrdinary));
  EXPECT_EQ(table->Indexes->Count(), 1);
}

TEST_F(DdlTest, DisablingTriggersStaysInItsSession) {
  CreateTable(*Db, "Items");
  CreateTrigger("Items", "Audit");
  std::unique_ptr<TBRNLocalSessionManager> other = Env.OpenSession("Other");
  other->Login("Administrator", "GlenHarbor");
  TBRNLocalDatabaseManager* otherDb =
      other->GetDatabaseManager(AddDatabase(*other, "Shop", Env.Folder.Path + "shop"));
  otherDb->OpenDatabase(kBRNLockShared);
  const std::string before = CatalogBytes();
  Texts.clear();
  Db->DisableTriggers("Items");
  auto enabled = [](TBRNLocalDatabaseManager& db) {
    auto* table = static_cast<TBRNBaseTable*>(
        db.Catalog->DefaultSchema->BaseTables->FindByName("Items", true));
    return static_cast<TBRNTrigger*>(table->Triggers->FindByName("Audit", true))->Enabled;
  };
  EXPECT_FALSE(enabled(*Db));
  EXPECT_TRUE(enabled(*otherDb));
  EXPECT_EQ(CatalogBytes(), before);
  ASSERT_EQ(Texts.size(), 1u);
  EXPECT_NE(Texts[0].find("disabled successfully"), std::string::npos) << Texts[0];
}

TEST_F(DdlTest, DropTableWhileAnotherProcessHasItOpenChangesNothing) {
  CreateTable(*Db, "Items");
  InsertRows(static_cast<TBRNBaseTable*>(
                 Db->Catalog->DefaultSchema->BaseTables->FindByName("Items", true)),
             {1});
  int ready[2];
  int release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  const std::string folder = Env.Folder.Path;
  pid_t child = testing::Fork([&] {
    close(ready[0]);
    close(release[1]);
    TBRNEngineManager engine;
    engine.Settings->SetConfigPath(folder);
    TBRNLocalSessionManager session(&engine, false, false);
    session.OpenSession("host", "Child", "");
    session.Login("Administrator", "GlenHarbor");
    TBRNLocalDatabaseManager* db =
        session.GetDatabaseManager(AddDatabase(session, "Shop", folder + "shop"));
    db->OpenDatabase(kBRNLockShared);
    db->TableManagers->OpenManager(
        static_cast<TBRNBaseTable*>(db->Catalog->DefaultSchema->BaseTables->FindByName("Items", true)),
        kBRNLockTypeShared);
    char byte = 1;
    if (write(ready[1], &byte, 1) != 1) return 2;
    if (read(release[0], &byte, 1) < 0) return 3;
    return 0;
  });
  close(ready[1]);
  close(release[0]);
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  Session->RecordLockRetryCount = 0;
  const std::string catalog = CatalogBytes();
  const std::string rows = ReadBytes(TablePath("Items", ".BRNTbl"));
  EXPECT_EQ(ErrorCodeOf([&] { Db->DropTable("Items"); }), 300);
  EXPECT_EQ(CatalogBytes(), catalog);
  EXPECT_EQ(ReadBytes(TablePath("Items", ".BRNTbl")), rows);
  EXPECT_NE(Db->Catalog->DefaultSchema->BaseTables->FindByName("Items", false), nullptr);
  close(release[1]);
  close(ready[0]);
  EXPECT_EQ(testing::Wait(child), 0);
  Db->DropTable("Items");
  EXPECT_FALSE(testing::PathExists(TablePath("Items", ".BRNTbl")));
}

}  // namespace
}  // namespace brn

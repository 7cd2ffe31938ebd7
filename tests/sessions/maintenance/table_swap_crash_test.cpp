// OPTIMIZE, ALTER TABLE, DROP TABLE and RENAME TABLE in a forked process
// that is killed (SIGKILL) right after its n-th file operation, for n = 1,
// 2, ... until the statement completes. After every kill the table opens
// with its old or its new definition and files (under the name the catalog
// holds, none left under the other), never empty or mixed, and verifies
// clean.
// Another process that opens the table right after an ALTER commits opens
// it without error.
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/files/os_file_manager.h"
#include "foundation/text/string_list.h"
#include "sessions/maintenance/maintenance_test_support.h"
#include "storage/tables/child_process.h"

namespace brn {
namespace {

using testing::StoredRow;

// Set in the child only: the operations left before the kill (0: none).
int killAfter = 0;

void countOperation() {
  if (killAfter > 0 && --killAfter == 0) raise(SIGKILL);
}

class KillingFile : public TBRNOSFile {
 public:
  using TBRNOSFile::TBRNOSFile;
  void SetSize(int64_t size) override {
    TBRNOSFile::SetSize(size);
    countOperation();
  }
  void Rename(const std::string& newName) override {
    TBRNOSFile::Rename(newName);
    countOperation();
  }
  void Delete() override {
    TBRNOSFile::Delete();
    countOperation();
  }
  void Flush() override {
    TBRNOSFile::Flush();
    countOperation();
  }
  int32_t Write(const void* buffer, int32_t count) override {
    const int32_t written = TBRNOSFile::Write(buffer, count);
    countOperation();
    return written;
  }
};

template <typename Base>
class KillingFileManager : public Base {
 public:
  using Base::Base;
  TBRNFile* CreateFileObject() override { return new KillingFile(this); }
};

class KillingEngine : public TBRNEngineManager {
 public:
  explicit KillingEngine(const std::string& configPath) {
    CreateFileManagers();
    Settings->SetConfigPath(configPath);
  }
  std::unique_ptr<TBRNFileManager> CreateFileManager() override {
    return std::make_unique<KillingFileManager<TBRNEngineOSFileManager>>(Environment.get(), this);
  }
  std::unique_ptr<TBRNFileManager> CreateLargeFileManager() override {
    return std::make_unique<KillingFileManager<TBRNEngineLargeOSFileManager>>(Environment.get(),
                                                                              this);
  }
};

// A session of engine on the database Shop in folder, logged in as the
// administrator.
struct ShopSession {
  ShopSession(TBRNEngineManager& engine, const std::string& folder) {
    Session = std::make_unique<TBRNLocalSessionManager>(&engine, false, false);
    Session->OpenSession("host", "Tester", "");
    Session->Login("Administrator", "GlenHarbor");
    TBRNDatabaseContainer* entry = testing::AddDatabase(*Session, "Shop", folder + "shop");
    entry->ApplyDefaultGrants();
    Db = Session->GetDatabaseManager(entry);
    Db->OpenDatabase(kBRNLockShared);
  }
  TBRNBaseTable* Table(const std::string& name = "T") {
    return static_cast<TBRNBaseTable*>(
        Db->Catalog->DefaultSchema->BaseTables->FindByName(name, false));
  }
  std::unique_ptr<TBRNLocalSessionManager> Session;
  TBRNLocalDatabaseManager* Db = nullptr;
};

// The live rows as (ID, Name), by ID.
std::vector<std::pair<int32_t, std::string>> LiveRows(const std::vector<StoredRow>& rows) {
  std::vector<std::pair<int32_t, std::string>> live;
  for (const StoredRow& row : rows) {
    if (!row.Deleted) live.emplace_back(row.ID, row.Name);
  }
  std::sort(live.begin(), live.end());
  return live;
}

struct Statement {
  const char* Name;
  std::function<void(TBRNLocalDatabaseManager&)> Run;
  // The column count of the new definition; 0: the table is gone.
  int32_t NewColumns;
  // The table's name afterwards.
  std::string NewName = "T";
};

class SwapCrashTest : public ::testing::TestWithParam<Statement> {};

const std::vector<std::pair<int32_t, std::string>> kLive = {
    {1, "n7"}, {3, "n5"}, {4, "n4"}, {6, "n2"}, {7, "n1"}};

TEST_P(SwapCrashTest, TheTableOpensOldOrNewAfterAKillAtAnyFileOperation) {
  const Statement& statement = GetParam();
  testing::TempFolder root;
  bool completed = false;
  int32_t sawOld = 0, sawNew = 0;
  // The table is made once; every kill point starts from a copy of its
  // files in the same folder, so the paths the configuration holds stay
  // right.
  const std::string folder = root.Path + "run/";
  const std::string pristine = root.Path + "pristine";
  CreateDirectoryPath(folder);
  {
    TBRNEngineManager engine;
    engine.Settings->SetConfigPath(folder);
    ShopSession shop(engine, folder);
    TBRNBaseTable* table = shop.Db->CreateTable("T");
    testing::DefineTable(*shop.Db->Catalog, table, true);
    shop.Db->CommitCreateTable(table);
    testing::InsertNames(*shop.Db, table, {"n7", "n6", "n5", "n4", "n3", "n2", "n1", "n0"});
    testing::DeleteRows(*shop.Db, table, {2, 5});
    // An earlier OPTIMIZE leaves ".Old" copies that a crash must not
    // bring back: the row deleted after it would come back with them.
    ASSERT_TRUE(shop.Db->OptimizeTable("T", ""));
    testing::DeleteRows(*shop.Db, table, {6});
  }
  std::filesystem::copy(folder, pristine, std::filesystem::copy_options::recursive);
  for (int32_t n = 1; n < 2000 && !completed; ++n) {
    if (n > 1) {
      std::filesystem::remove_all(folder);
      std::filesystem::copy(pristine, folder, std::filesystem::copy_options::recursive);
    }
    pid_t child = testing::Fork([&] {
      KillingEngine engine(folder);
      ShopSession shop(engine, folder);
      killAfter = n;
      statement.Run(*shop.Db);
      killAfter = 0;
      return 0;
    });
    const int rc = testing::Wait(child);
    ASSERT_TRUE(rc == 0 || rc == -1) << "the statement failed in the child (" << rc << ") at " << n;
    completed = rc == 0;

    TBRNEngineManager engine;
    engine.Settings->SetConfigPath(folder);
    ShopSession shop(engine, folder);
    TBRNBaseTable* table = shop.Table();
    const bool renamed = statement.NewName != "T";
    if (table == nullptr && renamed) table = shop.Table(statement.NewName);
    if (table == nullptr) {
      ASSERT_EQ(statement.NewColumns, 0) << "the table is gone after a kill at " << n;
      ++sawNew;
      continue;
    }
    ASSERT_FALSE(renamed && shop.Table() != nullptr && shop.Table(statement.NewName) != nullptr)
        << n;
    const int32_t columns = table->Columns->Count();
    ASSERT_TRUE(columns == 2 || columns == statement.NewColumns) << n;
    std::vector<StoredRow> rows;
    ASSERT_NO_THROW(rows = testing::ReadRows(*shop.Db, table)) << "kill at " << n;
    ASSERT_EQ(LiveRows(rows), kLive) << "kill at " << n;
    for (int32_t i = 0; i < table->Indexes->Count(); ++i) {
      ASSERT_EQ(testing::NamesByIndex(*shop.Db, table, i).size(), kLive.size())
          << "index " << i << " after a kill at " << n;
    }
    EXPECT_FALSE(shop.Db->VerifyTable(table->Name, false)) << "kill at " << n;
    if (renamed) {
      // Every file (and mark) under the name the catalog does not hold is
      // gone; only the earlier OPTIMIZE's copies stay with the old name.
      const std::string other = table->Name == "T" ? statement.NewName : "T";
      TBRNStringsList left;
      shop.Db->FileManager->ListFiles(folder + "shop/" + other + ".*", true, left);
      for (const std::string& name : left.GetItems()) {
        EXPECT_TRUE(other == "T" && name.size() > 4 && name.substr(name.size() - 4) == ".Old")
            << name << " left after a kill at " << n;
      }
      TBRNStringsList marks;
      shop.Db->FileManager->ListFiles(folder + "shop/*.Rename", true, marks);
      EXPECT_EQ(marks.GetCount(), 0) << "kill at " << n;
      (table->Name == statement.NewName ? sawNew : sawOld) += 1;
      continue;
    }
    (columns == statement.NewColumns && statement.NewColumns != 2 ? sawNew : sawOld) += 1;
  }
  EXPECT_TRUE(completed);
  EXPECT_GT(sawOld, 0);
  if (statement.NewName != "T") {
    EXPECT_GT(sawNew, 1);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Statements, SwapCrashTest,
    ::testing::Values(
        Statement{"Optimize",
                  [](TBRNLocalDatabaseManager& db) { db.OptimizeTable("T", "NameIdx"); }, 2},
        Statement{
            "AlterIndexPageSize",
            [](TBRNLocalDatabaseManager& db) {
              testing::Alter(
                  db, [](TBRNBaseTable* copy) { copy->SetIndexPageSize(copy->IndexPageSize * 2); },
                  0x19);
            },
            2},
        Statement{"AlterAddColumnInPlace",
                  [](TBRNLocalDatabaseManager& db) {
                    testing::Alter(
                        db,
                        [](TBRNBaseTable* copy) {
                          auto column = std::make_unique<TBRNColumn>(copy->Catalog);
                          column->Name = "Extra";
                          column->SetDataType(dtInteger);
                          copy->Columns->AddObject(column.get());
                          column.release()->AlterSourcePosition = -1;
                        },
                        0x5);
                  },
                  3},
        Statement{"AlterEncryptFull",
                  [](TBRNLocalDatabaseManager& db) {
                    testing::Alter(
                        db, [](TBRNBaseTable* copy) { copy->SetEncrypted(true); }, 0x3);
                  },
                  2},
        Statement{"AlterRenameColumnWithoutSwap",
                  [](TBRNLocalDatabaseManager& db) {
                    testing::Alter(
                        db, [](TBRNBaseTable* copy) { copy->Columns->GetItem(1)->Name = "Label"; },
                        0x80);
                  },
                  2},
        Statement{"Drop", [](TBRNLocalDatabaseManager& db) { db.DropTable("T"); }, 0},
        Statement{"Rename", [](TBRNLocalDatabaseManager& db) { db.RenameTable("T", "U"); }, 2,
                  "U"}),
    [](const ::testing::TestParamInfo<Statement>& info) { return std::string(info.param.Name); });

TEST(AlterProcessTest, AnotherProcessOpensTheTableRightAfterTheCommit) {
  testing::TempFolder root;
  TBRNEngineManager engine;
  engine.Settings->SetConfigPath(root.Path);
  ShopSession shop(engine, root.Path);
  TBRNBaseTable* table = shop.Db->CreateTable("T");
  testing::DefineTable(*shop.Db->Catalog, table, true);
  shop.Db->CommitCreateTable(table);
  testing::InsertNames(*shop.Db, table, {"a", "b"});
  testing::Alter(
      *shop.Db,
      [](TBRNBaseTable* copy) {
        auto column = std::make_unique<TBRNColumn>(copy->Catalog);
        column->Name = "Extra";
        column->SetDataType(dtInteger);
        copy->Columns->AddObject(column.get());
        column.release()->AlterSourcePosition = -1;
      },
      0x5);
  pid_t child = testing::Fork([&] {
    TBRNEngineManager other;
    other.Settings->SetConfigPath(root.Path);
    ShopSession reader(other, root.Path);
    TBRNBaseTable* found = reader.Table();
    if (found == nullptr || found->Columns->Count() != 3) return 1;
    return testing::ReadRows(*reader.Db, found).size() == 2 ? 0 : 2;
  });
  EXPECT_EQ(testing::Wait(child), 0);
}

}  // namespace
}  // namespace brn

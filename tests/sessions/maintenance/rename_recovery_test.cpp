// The open-time repair of a RENAME TABLE that a crash cut short, from the
// marks a rename leaves beside both names: the files come back under the
// name the catalog holds, and never from a table the catalog also holds.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sessions/maintenance/maintenance_fixture.h"

namespace brn {
namespace {

using testing::StoredRow;

struct RenameRecoveryTest : testing::MaintenanceTest {
  TBRNTableManager& Manager(TBRNBaseTable* table) {
    return *static_cast<TBRNTableManager*>(Db->TableManagers->GetManager(table));
  }
  std::vector<std::string> LiveNames(TBRNBaseTable* table) {
    std::vector<std::string> names;
    for (const StoredRow& row : testing::ReadRows(*Db, table)) {
      if (!row.Deleted) names.push_back(row.Name);
    }
    return names;
  }
};

// T's rename to U moved the rows file and stopped: the catalog still holds
// T, so its open takes the file back and the marks go.
TEST_F(RenameRecoveryTest, AnOpenTakesBackTheFilesACutRenameMoved) {
  TBRNBaseTable* table = CreateTable("T");
  testing::InsertNames(*Db, table, {"a", "b"});
  TBRNTableManager& manager = Manager(table);
  const std::string rows = manager.GetFileExtension(TBRNTableFileKind::Rows);
  manager.BeginFileRename("U");
  Db->FileManager->RenameFile(TablePath("T", rows), TablePath("U", rows));

  EXPECT_EQ(LiveNames(table), (std::vector<std::string>{"a", "b"}));
  const std::vector<std::string> files = Names(FolderFiles());
  for (const std::string& name : files) {
    EXPECT_NE(name.rfind("U.", 0), 0u) << name;
    EXPECT_EQ(name.find(".Rename"), std::string::npos) << name;
  }
  EXPECT_FALSE(Db->VerifyTable("T", false));
}

// Creating a table under the name a cut rename of T moved a file to gives
// T its file back first, instead of keeping it as the new table's copy.
TEST_F(RenameRecoveryTest, CreatingATableUnderTheOtherNameGivesTheFilesBackFirst) {
  TBRNBaseTable* table = CreateTable("T");
  testing::InsertNames(*Db, table, {"a", "b"});
  TBRNTableManager& manager = Manager(table);
  const std::string rows = manager.GetFileExtension(TBRNTableFileKind::Rows);
  manager.BeginFileRename("U");
  Db->FileManager->RenameFile(TablePath("T", rows), TablePath("U", rows));

  TBRNBaseTable* other = CreateTable("U");
  EXPECT_EQ(LiveNames(other), std::vector<std::string>{});
  EXPECT_EQ(LiveNames(table), (std::vector<std::string>{"a", "b"}));
  for (const std::string& name : Names(FolderFiles())) {
    EXPECT_FALSE(name.rfind("U.", 0) == 0 && name.find(".Old") != std::string::npos) << name;
    EXPECT_EQ(name.find(".Rename"), std::string::npos) << name;
  }
  EXPECT_FALSE(Db->VerifyTable("T", false));
}

// A mark naming a table the catalog also holds (T made anew after a cut
// rename of an older T to U, before U was opened again) moves nothing: the
// new T starts empty and U keeps its files and rows.
TEST_F(RenameRecoveryTest, AnOpenNeverTakesTheFilesOfAnotherListedTable) {
  TBRNBaseTable* other = CreateTable("U");
  testing::InsertNames(*Db, other, {"x", "y"});
  TBRNBaseTable* table = CreateTable("T");
  Manager(table).BeginFileRename("U");

  EXPECT_EQ(LiveNames(table), std::vector<std::string>{});
  EXPECT_EQ(LiveNames(other), (std::vector<std::string>{"x", "y"}));
  EXPECT_FALSE(Db->VerifyTable("U", false));
}

}  // namespace
}  // namespace brn

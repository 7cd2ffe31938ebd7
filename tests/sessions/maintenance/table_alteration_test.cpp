#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/text/exception.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/indexes.h"
#include "sessions/config/config_command_test_support.h"
#include "sessions/maintenance/maintenance_fixture.h"

namespace brn {
namespace {

using testing::MaintenanceTest;
using testing::ReadFileBytes;
using testing::StoredRow;

// The header area of a row file: what lies behind it is the rows.
constexpr size_t kRowHeaderArea = 16384;

struct AlterTest : MaintenanceTest {
  // ALTER TABLE name through its three calls: change edits the working copy,
  // whose flags are then set.
  bool Alter(const std::string& name, const std::function<void(TBRNBaseTable*)>& change,
             int32_t flags) {
    TBRNBaseTable* table = Db->BeginAlterTable(name);
    TBRNBaseTable* copy = nullptr;
    try {
      copy = Db->CreateWorkingCopy(table);
      change(copy);
      copy->AlterationFlags = flags;
      return Db->AlterTable(table, copy);
    } catch (...) {
      Db->RollbackAlterTable(table, copy);
      throw;
    }
  }
  static TBRNColumn* AddColumn(TBRNBaseTable* copy, const std::string& name) {
    auto column = std::make_unique<TBRNColumn>(copy->Catalog);
    column->Name = name;
    column->SetDataType(dtInteger);
    copy->Columns->AddObject(column.get());
    column->AlterSourcePosition = -1;
    return column.release();
  }
  static void AddUniqueNameIndex(TBRNBaseTable* copy) {
    std::unique_ptr<TBRNIndex> index(static_cast<TBRNIndex*>(copy->Indexes->NewItem()));
    index->Name = "NameUnique";
    index->SetIndexType(kIndexUnique);
    std::unique_ptr<TBRNIndexColumn> entry(
        static_cast<TBRNIndexColumn*>(index->Columns->NewItem()));
    entry->SetColumn(static_cast<TBRNColumn*>(copy->Columns->FindByName("Name", true)));
    index->Columns->AddObject(entry.get());
    entry.release();
    copy->Indexes->AddObject(index.get());
    index.release();
  }
  std::string Rows() { return ReadFileBytes(TablePath("T", ".BRNTbl")); }
  std::string Keys() { return ReadFileBytes(TablePath("T", ".BRNIdx")); }
};

TEST_F(AlterTest, ADescriptionChangeRewritesOnlyTheCatalog) {
  TBRNBaseTable* table = CreateTable("T");
  testing::InsertNames(*Db, table, {"a", "b"});
  const auto before = FolderFiles();
  ASSERT_TRUE(Alter(
      "T", [](TBRNBaseTable* copy) { copy->Description = "Stock"; }, 0));
  EXPECT_EQ(Changed(before, FolderFiles()),
            (std::vector<std::string>{"BRNDatabase.BRNCat", "BRNDatabase.BRNCat.Old"}));
  EXPECT_EQ(table->Description, "Stock");
  EXPECT_EQ(testing::ReadRows(*Db, table).size(), 2u);
}

// The working copy stands among the temporary tables; the altered table
// keeps its own place among the base tables, so that a later DROP removes
// that table and not the one at the copy's place.
TEST_F(AlterTest, TheAlteredTableKeepsItsPlaceAndDropsAlone) {
  CreateTable("First");
  TBRNBaseTable* table = CreateTable("T");
  ASSERT_TRUE(Alter(
      "T", [](TBRNBaseTable* copy) { copy->Description = "Stock"; }, 0));
  TBRNBaseTables& tables = *Db->Catalog->DefaultSchema->BaseTables;
  ASSERT_EQ(tables.GetItem(table->Index), table);
  Db->DropTable("T");
  EXPECT_EQ(tables.FindByName("T", false), nullptr);
  EXPECT_NE(tables.FindByName("First", false), nullptr);
}

TEST_F(AlterTest, AnIndexPageSizeChangeRebuildsTheIndexFileAndKeepsTheRows) {
  TBRNBaseTable* table = CreateTable("T");
  testing::InsertNames(*Db, table, {"c", "a", "b"});
  testing::DeleteRows(*Db, table, {2});
  const std::string rows = Rows();
  const std::string keys = Keys();
  const int32_t pageSize = table->IndexPageSize * 2;
  ASSERT_TRUE(Alter(
      "T", [&](TBRNBaseTable* copy) { copy->SetIndexPageSize(pageSize); }, 0x19));
  EXPECT_EQ(table->IndexPageSize, pageSize);
  EXPECT_TRUE(Rows().substr(kRowHeaderArea) == rows.substr(kRowHeaderArea));
  EXPECT_TRUE(Keys() != keys);
  EXPECT_TRUE(ReadFileBytes(TablePath("T", ".BRNIdx.Old")) == keys);
  EXPECT_EQ(testing::NamesByIndex(*Db, table, 1), (std::vector<std::string>{"b", "c"}));
  EXPECT_EQ(testing::NamesByIndex(*Db, table, 0).size(), 2u);
}

TEST_F(AlterTest, RowsRewrittenInPlaceKeepTheirNumbersAndFillNewColumns) {
  TBRNBaseTable* table = CreateTable("T");
  testing::InsertNames(*Db, table, {"a", "b", "c", "d"});
  testing::DeleteRows(*Db, table, {2});
  ASSERT_TRUE(Alter(
      "T",
      [](TBRNBaseTable* copy) {
        TBRNColumn* column = AddColumn(copy, "Seq");
        column->SetIdentity(true);
        column->SetIdentitySeed(100);
      },
      0x5));
  ASSERT_EQ(table->Columns->Count(), 3);
  EXPECT_EQ(testing::ReadRows(*Db, table),
            (std::vector<StoredRow>{
                {1, false, 1, "a"}, {2, true, 2, "b"}, {3, false, 3, "c"}, {4, false, 4, "d"}}));
  // The index file was kept: its keys still lead to the same rows.
  EXPECT_EQ(testing::NamesByIndex(*Db, table, 1), (std::vector<std::string>{"a", "c", "d"}));
  TBRNTableManager& manager = testing::OpenShared(*Db, table);
  std::vector<int32_t> seq;
  for (int32_t row : {1, 3, 4}) {
    manager.GotoRowNumber(row);
    const TBRNValue* value = manager.GetRowNavigator()->GetCurrentValues().GetItem(2);
    seq.push_back(value->GetNull() ? -1 : value->GetAsInteger());
  }
  manager.Close(false, true);
  // One identity value per live row, in row order, from the new seed on.
  EXPECT_GE(seq[0], 100);
  EXPECT_EQ(seq, (std::vector<int32_t>{seq[0], seq[0] + 1, seq[0] + 2}));
}

TEST_F(AlterTest, AUniqueKeyOverDuplicatesFailsAndLeavesTheTableAsItWas) {
  TBRNBaseTable* table = CreateTable("T");
  testing::InsertNames(*Db, table, {"a", "b", "a"});
  const auto before = FolderFiles();
  const int32_t indexes = table->Indexes->Count();
  EXPECT_EQ(testing::ErrorCodeOf([&] { Alter("T", AddUniqueNameIndex, 0x19); }), 1004);
  EXPECT_TRUE(Logged("The alteration could not complete due to an error with the row 3 ("))
      << ::testing::PrintToString(Log);
  std::vector<std::string> changed;
  for (const std::string& name : Changed(before, FolderFiles())) {
    if (name.size() < 4 || name.substr(name.size() - 4) != ".Old") changed.push_back(name);
  }
  EXPECT_EQ(changed, std::vector<std::string>{});
  table =
      static_cast<TBRNBaseTable*>(Db->Catalog->DefaultSchema->BaseTables->FindByName("T", true));
  EXPECT_EQ(table->Indexes->Count(), indexes);
  EXPECT_EQ(testing::ReadRows(*Db, table).size(), 3u);
}

TEST_F(AlterTest, AnUnconvertibleValueBecomesNullAndIsLogged) {
  TBRNBaseTable* table = CreateTable("T", false);
  testing::InsertNames(*Db, table, {"12", "abc"});
  ASSERT_TRUE(Alter(
      "T",
      [](TBRNBaseTable* copy) {
        TBRNColumn* name = static_cast<TBRNColumn*>(copy->Columns->FindByName("Name", true));
        name->SetDataType(dtInteger);
      },
      0x3));
  EXPECT_EQ(testing::ReadRows(*Db, table),
            (std::vector<StoredRow>{{1, false, 1, "12"}, {2, false, 2, "<NULL>"}}));
  EXPECT_TRUE(
      Logged("The value for the Name column has been set to NULL for the row 2 due to an error ("))
      << ::testing::PrintToString(Log);
}

TEST_F(AlterTest, EncryptionOnReplacesEveryFile) {
  TBRNBaseTable* table = CreateTable("T");
  testing::InsertNames(*Db, table, {"plainname1", "plainname2"});
  const std::string rows = Rows();
  const std::string keys = Keys();
  ASSERT_TRUE(Alter(
      "T", [](TBRNBaseTable* copy) { copy->SetEncrypted(true); }, 0x3));
  EXPECT_TRUE(table->Encrypted);
  EXPECT_TRUE(ReadFileBytes(TablePath("T", ".BRNTbl.Old")) == rows);
  EXPECT_TRUE(ReadFileBytes(TablePath("T", ".BRNIdx.Old")) == keys);
  EXPECT_EQ(Rows().find("plainname1"), std::string::npos);
  EXPECT_EQ(testing::NamesByIndex(*Db, table, 1),
            (std::vector<std::string>{"plainname1", "plainname2"}));
}

}  // namespace
}  // namespace brn

// COMPARE DATABASE: the schema difference of one database against another,
// in dependency order, made of objects of the compared database's catalog
// only; both databases closed again, also on failure; the Information
// table rebuilt at its next read.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "metadata/catalog/catalog.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/routines.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/views.h"
#include "sessions/backup/backup_test_support.h"
#include "sessions/backup/database_commands.h"

namespace brn::testing {
namespace {

// The statements of the difference, one per entry.
std::vector<std::string> Entries(TBRNSchemaDifference& difference) {
  std::vector<std::string> entries;
  for (int32_t i = 0; i < difference.Count(); ++i)
    entries.push_back(difference.GetItem(i)->GetAlterSQL());
  return entries;
}

bool StartsWith(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0;
}

struct CompareTest : BackupTest {
  // A: T1, V1 over T1, V2 over V1, F1, P1 and the procedure P2.
  // B: the same without P2, with a column more in T1, and the table T9
  // with the view V9 over it.
  void SetUp() override {
    BackupTest::SetUp();
    A = OpenDatabase("A");
    B = OpenDatabase("B");
    A->CatalogManager->BeginUpdate();
    AddRoutine(*A->Catalog, new TBRNProcedure(A->Catalog.get()), "PROCEDURE P2() BEGIN END");
    A->CatalogManager->CommitUpdate();
    B->CatalogManager->BeginUpdate();
    TBRNCatalog& catalog = *B->Catalog;
    TBRNBaseTable* t1 = Table(*B, "T1");
    auto column = std::make_unique<TBRNColumn>(&catalog);
    column->Name = "Extra";
    column->SetDataType(dtInteger);
    t1->Columns->AddObject(column.release());
    AddTable(catalog, "T9", false)->ApplyDefaultGrants();
    AddView(catalog, "V9", "SELECT * FROM T9");
    B->CatalogManager->CommitUpdate();
    A->CloseDatabase(false);
    B->CloseDatabase(false);
  }

  TBRNLocalDatabaseManager* A = nullptr;
  TBRNLocalDatabaseManager* B = nullptr;
};

TEST_F(CompareTest, TheDifferenceHoldsCreatesAltersAndDropsInDependencyOrder) {
  Statuses.clear();
  ASSERT_TRUE(CompareDatabasesCommand(*Session, "A", "B", ';'));
  EXPECT_EQ(A->OpenCount, 0);
  EXPECT_EQ(B->OpenCount, 0);
  ASSERT_FALSE(Statuses.empty());
  EXPECT_EQ(Statuses.back(), "The database A was compared successfully to the database B");

  TBRNSchemaDifference& difference = *A->Catalog->DefaultSchema->SchemaDifference;
  const std::vector<std::string> entries = Entries(difference);
  // V1 selects every column of T1, so it changes with T1.
  ASSERT_EQ(entries.size(), 5u) << ::testing::PrintToString(entries);
  EXPECT_TRUE(StartsWith(entries[0], "ALTER TABLE \"T1\"")) << entries[0];
  EXPECT_TRUE(StartsWith(entries[1], "ALTER VIEW \"V1\"")) << entries[1];
  EXPECT_TRUE(StartsWith(entries[2], "CREATE TABLE \"T9\"")) << entries[2];
  EXPECT_TRUE(StartsWith(entries[3], "CREATE VIEW \"V9\"")) << entries[3];
  EXPECT_TRUE(StartsWith(entries[4], "DROP PROCEDURE \"P2\"")) << entries[4];

  // Every entry is an object of A's catalog, and so is anything a created
  // view names; B may go away while the difference stays.
  for (int32_t i = 0; i < difference.Count(); ++i) {
    auto* object = dynamic_cast<TBRNPrivilegedCatalogObject*>(difference.GetItem(i));
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->Catalog, A->Catalog.get()) << entries[size_t(i)];
    if (auto* view = dynamic_cast<TBRNView*>(object)) {
      for (int32_t j = 0; j < view->ReferencedTables->Count(); ++j) {
        EXPECT_EQ(static_cast<TBRNPrivilegedCatalogObject*>(view->ReferencedTables->GetItem(j))->Catalog,
                  A->Catalog.get());
      }
    }
  }
  Session->ReleaseObjectHandles(B->Database);
  EXPECT_EQ(Entries(difference), entries);
}

TEST_F(CompareTest, TheInformationTableIsRebuiltAtItsNextRead) {
  A->OpenDatabase(kBRNLockShared);
  TBRNSchema* information = A->Catalog->InformationSchema;
  A->CloseDatabase(false);
  ASSERT_NE(information, nullptr);
  TBRNConfigObject* table = information->BaseTables->FindByName("SchemaDifference", false);
  ASSERT_NE(table, nullptr);
  A->SetSystemTableFilled(table, true);
  ASSERT_TRUE(A->CompareDatabases(*B, ';'));
  EXPECT_FALSE(A->IsSystemTableFilled(table));
}

// A target that cannot be opened fails the comparison; both databases are
// closed again and the earlier difference is left alone.
TEST_F(CompareTest, BothDatabasesAreClosedAgainWhenTheComparisonFails) {
  ASSERT_TRUE(A->CompareDatabases(*B, ';'));
  const std::vector<std::string> before = Entries(*A->Catalog->DefaultSchema->SchemaDifference);
  auto other = OpenAdministrator();
  TBRNLocalDatabaseManager* holder = other->GetDatabaseManager(
      static_cast<TBRNDatabaseContainer*>(other->Config->Databases->FindByName("B", false)
                                              ? other->Config->Databases->FindByName("B", false)
                                              : AddDatabase(*other, "B", "/config/B")));
  holder->OpenDatabase(kBRNLockExclusive);
  auto [code, text] = Outcome([&] { A->CompareDatabases(*B, ';'); });
  EXPECT_EQ(code, 300) << text;
  EXPECT_EQ(A->OpenCount, 0);
  EXPECT_EQ(B->OpenCount, 0);
  EXPECT_FALSE(B->Opened);
  EXPECT_EQ(Entries(*A->Catalog->DefaultSchema->SchemaDifference), before);
  holder->CloseDatabase(false);
}

// A compiled view copied into another catalog takes its text only: the
// copy neither shares the tree nor names the source catalog's tables.
TEST_F(CompareTest, AViewCopiedIntoAnotherCatalogKeepsNoPointerIntoTheSource) {
  A->OpenDatabase(kBRNLockShared);
  B->OpenDatabase(kBRNLockShared);
  auto* source = static_cast<TBRNView*>(A->Catalog->DefaultSchema->Views->FindByName("V1", true));
  source->Compile();
  ASSERT_TRUE(source->Definition->Compiled);
  ASSERT_GT(source->ReferencedTables->Count(), 0);

  TBRNView same(A->Catalog.get());
  same.Assign(source, true);
  EXPECT_TRUE(same.Definition->Compiled);
  EXPECT_EQ(same.ReferencedTables->Count(), source->ReferencedTables->Count());

  TBRNView copy(B->Catalog.get());
  copy.Assign(source, true);
  EXPECT_FALSE(copy.Definition->Compiled);
  EXPECT_EQ(copy.ReferencedTables->Count(), 0);
  EXPECT_EQ(copy.ReferencedFunctions->Count(), 0);
  EXPECT_EQ(copy.Definition->SQL, source->Definition->SQL);
  source->Uncompile();
  A->CloseDatabase(false);
  B->CloseDatabase(false);
}

}  // namespace
}  // namespace brn::testing

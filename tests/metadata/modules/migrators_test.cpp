#include "metadata/modules/migrators.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "foundation/core/memory_stream.h"
#include "foundation/text/string_list.h"
#include "foundation/values/param_value.h"
#include "metadata/module_test_support.h"

namespace brn::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

class MigratorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module = root.AddModule("Importer", kMigratorModule);
    migrator = root.AddMigrator("FromDemo", "importer");
  }
  ModuleRoot root;
  TBRNModule* module = nullptr;
  TBRNMigrator* migrator = nullptr;
};

TEST_F(MigratorTest, ParametersRoundTripThroughTheModule) {
  migrator->Open();
  migrator->LoadParams();
  migrator->LoadParams();  // the same list, not a doubled one
  ASSERT_EQ(migrator->Params->GetCount(), 1);
  TBRNParamValue* source = migrator->Params->FindParam("source");
  EXPECT_EQ(source->GetDirection(), pmInput);
  EXPECT_EQ(source->GetDataType(), dtChar);
  EXPECT_EQ(source->GetAsString(), "demo.db");

  source->SetAsString("/archive/old sales.db");
  migrator->SaveParams();
  migrator->LoadParams();
  ASSERT_EQ(migrator->Params->GetCount(), 1);
  EXPECT_EQ(migrator->Params->FindParam("Source")->GetAsString(), "/archive/old sales.db");
  migrator->Close();
}

TEST_F(MigratorTest, ParametersAreNotPartOfTheStoredRecord) {
  migrator->Description = "Demo";
  migrator->LoadParams();
  migrator->Params->FindParam("Source")->SetAsString("changed.db");
  migrator->SaveParams();
  TBRNMemoryStream stream;
  migrator->SaveToStream(stream, false);
  RecordBuilder expected;
  expected.Int(migrator->ID).Str("FromDemo").Str("Demo").Bool(false).Bool(false).Str("importer");
  EXPECT_EQ(StreamBytes(stream), expected.Bytes());

  // Reloaded, the parameters come from the module again.
  TBRNMigrator reloaded(&root);
  stream.SetPosition(0);
  reloaded.LoadFromStream(stream);
  EXPECT_EQ(reloaded.ModuleName, "importer");
  EXPECT_TRUE(reloaded.IsEqual(migrator, true));
  EXPECT_EQ(reloaded.Params->GetCount(), 0);
  reloaded.LoadParams();
  EXPECT_EQ(reloaded.Params->FindParam("Source")->GetAsString(), "demo.db");
  reloaded.Close();
  migrator->Close();
  EXPECT_FALSE(IsMapped(kMigratorModule));
}

TEST_F(MigratorTest, ObjectListsAndStatements) {
  migrator->Open();
  EXPECT_TRUE(module->HasObjectNames());
  TBRNStringsList list;
  list.Add("left over");
  migrator->GetObjectNames(list);
  EXPECT_THAT(list.GetItems(), ElementsAre("Customers=TABLE", "Customers, by name=INDEX"));
  std::string text;
  migrator->GetCreateObjectStatement("Customers", "TABLE", text);
  EXPECT_EQ(text, "CREATE TABLE \"Customers\"");
  migrator->GetTableNames(list);
  EXPECT_THAT(list.GetItems(), ElementsAre("Customers"));
  migrator->GetIndexNames("Customers", list);
  EXPECT_THAT(list.GetItems(), ElementsAre("ByID"));
  migrator->GetCreateTableStatement("Customers", text);
  EXPECT_EQ(text, "CREATE TABLE \"Customers\" (\"ID\" INTEGER)");
  int32_t count = 0;
  migrator->GetRowsToInsert("Customers", count);
  EXPECT_EQ(count, 2);
  std::vector<std::string> inserts;
  for (;;) {
    migrator->GetInsertStatement("Customers", text);
    if (text.empty()) break;
    inserts.push_back(text);
  }
  EXPECT_THAT(inserts, ElementsAre("INSERT INTO \"Customers\" VALUES (1)",
                                   "INSERT INTO \"Customers\" VALUES (2)"));

  // The module's own refusal, and an export the module lacks.
  EBRNException error = CaughtError([&] { migrator->GetCreateTableStatement("Orders", text); });
  EXPECT_EQ(error.ErrorMessage,
            "An error occurred with the module Importer (Execution Error: No table Orders)");
  error = CaughtError([&] { migrator->GetViewNames(list); });
  EXPECT_EQ(error.ErrorCode, 202);
  EXPECT_THAT(error.ErrorMessage,
              StartsWith("An error occurred with the module Importer (An error occurred with the "
                         "module call GetBRNViewNames (OS Error: "));
  // The loader's text names the symbol it could not find.
  EXPECT_THAT(error.ErrorMessage, HasSubstr("GetBRNViewNames))"));
  migrator->Close();
}

TEST_F(MigratorTest, CloseIsSafeWhenNeverOpenedAndClosesOnce) {
  migrator->Close();
  EXPECT_TRUE(root.Events.empty());
  migrator->Open();
  migrator->Open();
  EXPECT_EQ(module->GetReferenceCount(), 1);
  migrator->Close();
  migrator->Close();
  EXPECT_EQ(module->GetReferenceCount(), 0);
  EXPECT_THAT(root.Events, ElementsAre("load Importer", "unload Importer"));
}

TEST_F(MigratorTest, DestroyingAnOpenMigratorClosesIt) {
  migrator->Open();
  delete root.Migrators.RemoveObject(0);
  EXPECT_EQ(module->GetReferenceCount(), 0);
  EXPECT_FALSE(IsMapped(kMigratorModule));
}

TEST_F(MigratorTest, ModuleProblemsAtOpen) {
  TBRNMigrator* missing = root.AddMigrator("Lost", "Nowhere");
  EBRNException error = CaughtError([&] { missing->Open(); });
  EXPECT_EQ(error.ErrorCode, 401);
  root.AddModule("Filters", kTextFilterModule, 2);
  TBRNMigrator* wrong = root.AddMigrator("Wrong", "Filters");
  error = CaughtError([&] { wrong->LoadParams(); });
  EXPECT_EQ(error.ErrorMessage,
            "An error occurred with the module Filters (The module is not a Migrator module)");
  EXPECT_FALSE(wrong->IsOpen());
}

TEST(MigratorObjectTest, DDLTextAndComparison) {
  ModuleRoot root;
  TBRNMigrator* migrator = root.AddMigrator("From Old", "Imp\"orter");
  EXPECT_EQ(migrator->GetCreateSQL(false, false),
            "CREATE MIGRATOR \"From Old\"\r\nMODULE \"Imp\"\"orter\"");
  migrator->Description = "It's old\t";
  EXPECT_EQ(migrator->GetCreateSQL(false, false),
            "CREATE MIGRATOR \"From Old\"\r\nMODULE \"Imp\"\"orter\"\r\nDESCRIPTION 'It''s old'");
  EXPECT_EQ(migrator->GetDropSQL(false, false), "DROP MIGRATOR \"From Old\"");
  EXPECT_EQ(migrator->GetObjectTypeName(), "migrator");
  TBRNMigrator other(&root);
  other.Assign(migrator, false);
  EXPECT_EQ(other.ModuleName, "Imp\"orter");
  other.ModuleName = "IMP\"ORTER";
  EXPECT_TRUE(other.IsEqual(migrator, false));
  other.ModuleName = "Other";
  EXPECT_FALSE(other.IsEqual(migrator, false));
}

}  // namespace
}  // namespace brn::testing

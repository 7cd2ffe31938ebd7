// The "Information" schema of an open database: its tables registered
// undefined at the first open, defined at their first lookup, and filled
// with what the calling user may see of the "Default" schema.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "metadata/catalog/schema_differences.h"
#include "metadata/core/object_selections.h"
#include "sessions/system_tables/information_test_support.h"

namespace brn::testing {
namespace {

TEST_F(InformationTableTest, OpenRegistersUndefinedTablesAndTheFirstLookupDefinesOne) {
  TBRNBaseTables* tables = Db->Catalog->InformationSchema->BaseTables.get();
  ASSERT_EQ(tables->Count(), 33);
  EXPECT_EQ(tables->GetTable(0)->Name, "SchemaObjects");
  EXPECT_EQ(tables->GetTable(18)->Name, "ProcedurePrivileges");
  EXPECT_EQ(tables->GetTable(19)->Name, "ProcedureParams");
  EXPECT_EQ(tables->GetTable(32)->Name, "SQLProcedureColumns");
  for (int32_t i = 0; i < tables->Count(); ++i) {
    TBRNBaseTable* table = tables->GetTable(i);
    SCOPED_TRACE(table->Name);
    EXPECT_TRUE(table->System && table->Transient && table->ReadOnly);
    EXPECT_FALSE(table->DefinitionComplete);
    EXPECT_EQ(table->Columns->Count(), 0);
  }

  Read("TableColumns");
  TBRNBaseTable* columns = Information("TableColumns");
  ASSERT_TRUE(columns->DefinitionComplete);
  ASSERT_EQ(columns->Columns->Count(), 25);
  EXPECT_EQ(columns->Columns->GetItem(0)->Name, "__RowID");
  EXPECT_EQ(columns->Columns->GetItem(1)->Name, "TableName");
  EXPECT_EQ(columns->Columns->GetItem(24)->Name, "DropSQL");
  EXPECT_FALSE(Information("Tables")->DefinitionComplete);
}

TEST_F(InformationTableTest, TheCursorCacheDatabaseGetsNoInformationTables) {
  auto* container = static_cast<TBRNDatabaseContainer*>(
      Session->Config->Databases->FindByName(kCursorCacheDatabaseName, false));
  if (container == nullptr) container = AddDatabase(*Session, kCursorCacheDatabaseName, "cache");
  TBRNLocalDatabaseManager* cache = Session->GetDatabaseManager(container);
  cache->OpenDatabase(kBRNLockShared);
  EXPECT_EQ(cache->Catalog->InformationSchema->BaseTables->Count(), 0);
}

TEST_F(InformationTableTest, TableColumnsListTheDefinedColumnsFromPositionOne) {
  CreateTable("Items");
  // TableName, Name, Type, Length, Precision, Scale, Nullable, OrdinalPos.
  EXPECT_EQ(Read("TableColumns", {1, 2, 4, 6, 7, 8, 10, 22}),
            (Rows{{"Items", "ID", "Integer", kNull, kNull, "0", "TRUE", "1"},
                  {"Items", "Name", "VarChar", "20", kNull, kNull, "TRUE", "2"}}));
  const Rows collations = Read("TableColumns", {5});
  ASSERT_EQ(collations.size(), 2u);
  EXPECT_EQ(collations[0][0], kNull);
  EXPECT_NE(collations[1][0], kNull);
  EXPECT_NE(collations[1][0], "");
}

TEST_F(InformationTableTest, TheInternalPrimaryKeyIsNeverListed) {
  CreateTable("Items");
  TBRNBaseTable* items = static_cast<TBRNBaseTable*>(
      Db->Catalog->DefaultSchema->BaseTables->FindByName("Items", true));
  ASSERT_NE(items->Constraints->FindByName(kInternalPrimaryKeyName, true), nullptr);
  ASSERT_NE(items->Indexes->FindByName(kInternalPrimaryKeyName, true), nullptr);
  for (const char* name : {"Constraints", "ConstraintColumns", "Indexes", "IndexColumns"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(Read(name).empty());
  }
}

TEST_F(InformationTableTest, ConstraintsShowTheirKindsAndActions) {
  TBRNConstraint* parentKey = nullptr;
  CreateTable("Parents", [&](TBRNBaseTable* table) {
    parentKey = AddConstraint(table, "ParentKey", kConstraintPrimaryKey, kIndexPrimaryKey);
  });
  TBRNBaseTable* parents = static_cast<TBRNBaseTable*>(
      Db->Catalog->DefaultSchema->BaseTables->FindByName("Parents", true));
  CreateTable("Children", [&](TBRNBaseTable* table) {
    table->AddPrimaryKey(false);
    TBRNConstraint* link =
        AddConstraint(table, "ToParent", kConstraintForeignKey, kIndexForeignKey);
    link->SetTargetTable(parents);
    std::unique_ptr<TBRNTargetTableColumn> target(
        static_cast<TBRNTargetTableColumn*>(link->TargetTableColumns->NewItem()));
    target->SetColumn(parentKey->Columns->GetItem(0)->GetColumn());
    link->TargetTableColumns->AddObject(target.get());
    target.release();
    link->SetTargetConstraint(parentKey);
    link->SetUpdateAction(kActionRestrict);
    link->SetDeleteAction(kActionNoAction);
    TBRNConstraint* check = AddConstraint(table, "Positive", kConstraintCheck, -1);
    check->CheckExpr->SetText("ID > 0");
  });

  // TableName, Name, Type, EnforcingIndex, TargetTable, TargetTableConstraint,
  // UpdateAction, DeleteAction.
  EXPECT_EQ(Read("Constraints", {1, 2, 4, 5, 6, 7, 8, 9}),
            (Rows{{"Parents", "ParentKey", "Primary Key", "ParentKey", kNull, kNull, kNull, kNull},
                  {"Children", "ToParent", "Foreign Key", "ToParent", "Parents", "ParentKey",
                   "Restrict", "No Action"},
                  {"Children", "Positive", "Check", kNull, kNull, kNull, kNull, kNull}}));
  EXPECT_EQ(Read("ConstraintColumns"),
            (Rows{{"Parents", "ParentKey", "ID", "0"}, {"Children", "ToParent", "ID", "0"}}));
  // TableName, Name, Type, OwnerConstraint.
  EXPECT_EQ(Read("Indexes", {1, 2, 4, 5}),
            (Rows{{"Parents", "ParentKey", "Primary Key", "ParentKey"},
                  {"Children", "ToParent", "Foreign Key", "ToParent"}}));
}

TEST_F(InformationTableTest, OnlyAdministratorsAndOwnersReadViewAndRoutineTexts) {
  CreateTable("Items");
  TBRNCatalog& catalog = *Db->Catalog;
  Db->CatalogManager->BeginUpdate();
  auto view = std::make_unique<TBRNView>(&catalog);
  view->Name = "Cheap";
  view->Definition->SetText("SELECT * FROM Items");
  view->SetLockNumber(catalog.NextTableLockNumber());
  view->ApplyDefaultGrants();
  catalog.DefaultSchema->Views->AddObject(view.get());
  view.release();
  auto procedure = std::make_unique<TBRNProcedure>(&catalog);
  procedure->Name = "Tidy";
  procedure->Definition->SetText("PROCEDURE Tidy() BEGIN END");
  procedure->SetLockNumber(catalog.NextRoutineLockNumber());
  procedure->ApplyDefaultGrants();
  catalog.DefaultSchema->Procedures->AddObject(procedure.get());
  procedure.release();
  Db->CatalogManager->CommitUpdate();
  CreateUser("Ann");

  // Name, Definition, CreateSQL, DropSQL; Name, Implementation, Definition,
  // NumParams, CreateSQL, DropSQL.
  const Rows views = Read("Views", {1, 5, 8, 9});
  ASSERT_EQ(views.size(), 1u);
  EXPECT_EQ(views[0][1], "SELECT * FROM Items");
  EXPECT_NE(views[0][2], kNull);
  EXPECT_NE(views[0][3], kNull);
  const Rows procedures = Read("Procedures", {1, 5, 6, 8, 9, 10});
  ASSERT_EQ(procedures.size(), 1u);
  EXPECT_EQ(procedures[0][1], "SQL");
  EXPECT_EQ(procedures[0][2], "PROCEDURE Tidy() BEGIN END");
  EXPECT_EQ(procedures[0][3], "0");

  std::unique_ptr<TBRNLocalSessionManager> ann = Env.OpenSession("Other");
  ann->Login("Ann", "pw");
  TBRNLocalDatabaseManager* annDb = Open(*ann);
  EXPECT_EQ(Read(*annDb, "Views", {1, 5, 8, 9}), (Rows{{"Cheap", kNull, kNull, kNull}}));
  EXPECT_EQ(Read(*annDb, "Procedures", {1, 5, 6, 8, 9, 10}),
            (Rows{{"Tidy", "SQL", kNull, "0", kNull, kNull}}));
}

TEST_F(InformationTableTest, APlainUserSeesOnlyTheTablesHeMaySelect) {
  for (const char* name : {"Items", "Orders", "Parts"}) CreateTable(name);
  for (const char* name : {"Items", "Orders", "Parts"})
    Db->RevokePrivilege("Public", name, 0, pkSelect);
  CreateUser("Ann");
  Db->GrantPrivilege("Ann", "Orders", 0, pkSelect);
  EXPECT_EQ(Read("Tables", {1}), (Rows{{"Items"}, {"Orders"}, {"Parts"}}));
  EXPECT_EQ(Read("SchemaObjects", {1, 2, 3, 4}), (Rows{{"Default", "Schema", "Items", "Table"},
                                                       {"Default", "Schema", "Orders", "Table"},
                                                       {"Default", "Schema", "Parts", "Table"}}));

  std::unique_ptr<TBRNLocalSessionManager> ann = Env.OpenSession("Other");
  ann->Login("Ann", "pw");
  TBRNLocalDatabaseManager* annDb = Open(*ann);
  EXPECT_EQ(Read(*annDb, "Tables", {1}), (Rows{{"Orders"}}));
  EXPECT_EQ(Read(*annDb, "TableColumns", {1, 2}), (Rows{{"Orders", "ID"}, {"Orders", "Name"}}));
  EXPECT_EQ(Read(*annDb, "SchemaObjects", {3}), (Rows{{"Orders"}}));
  // Name, Privilege, GrantedTo: only the grants made to Ann or her role
  // Public, none of those to System or Administrators.
  EXPECT_EQ(Read(*annDb, "TablePrivileges", {1, 2, 3}), (Rows{{"Orders", "Insert", "Public"},
                                                              {"Orders", "Update", "Public"},
                                                              {"Orders", "Delete", "Public"},
                                                              {"Orders", "Select", "Ann"}}));
  const Rows all = Read("TablePrivileges", {1, 3});
  EXPECT_NE(std::find(all.begin(), all.end(), std::vector<std::string>{"Items", "System"}),
            all.end());
}

TEST_F(InformationTableTest, EnablingATriggerShowsAtTheNextRead) {
  CreateTable("Items");
  TBRNBaseTable* table = nullptr;
  TBRNTrigger* trigger = Db->CreateTrigger("Items", table, "Audit");
  try {
    Db->CommitCreateTrigger(table, trigger);
  } catch (...) {
    Db->RollbackCreateTrigger(table, trigger);
    throw;
  }
  // TableName, Name, Enabled, OrdinalPos.
  EXPECT_EQ(Read("Triggers", {1, 2, 8, 9}), (Rows{{"Items", "Audit", "TRUE", "0"}}));
  Db->DisableTrigger("Items", "Audit");
  EXPECT_EQ(Read("Triggers", {8}), (Rows{{"FALSE"}}));
  Db->EnableTrigger("Items", "Audit");
  EXPECT_EQ(Read("Triggers", {8}), (Rows{{"TRUE"}}));
}

// A trigger named name on table, committed as CREATE TRIGGER does.
void AddTrigger(TBRNLocalDatabaseManager& db, const std::string& tableName,
                const std::string& name) {
  TBRNBaseTable* table = nullptr;
  TBRNTrigger* trigger = db.CreateTrigger(tableName, table, name);
  try {
    db.CommitCreateTrigger(table, trigger);
  } catch (...) {
    db.RollbackCreateTrigger(table, trigger);
    throw;
  }
}

TEST_F(InformationTableTest, APlainUserSeesThePartsOfVisibleTablesOnly) {
  for (const std::string name : {"Items", "Orders", "Parts"}) {
    CreateTable(name, [&](TBRNBaseTable* table) {
      AddConstraint(table, name + "Key", kConstraintPrimaryKey, kIndexPrimaryKey);
    });
    AddTrigger(*Db, name, name + "Audit");
    Db->RevokePrivilege("Public", name, 0, pkSelect);
  }
  CreateUser("Ann");
  Db->GrantPrivilege("Ann", "Orders", 0, pkSelect);
  TBRNLocalDatabaseManager* annDb = nullptr;
  std::unique_ptr<TBRNLocalSessionManager> ann = LoginAs("Ann", annDb);
  // TableName and Name of each listing.
  const struct {
    const char* Table;
    Rows All;
  } cases[] = {
      {"Constraints", {{"Items", "ItemsKey"}, {"Orders", "OrdersKey"}, {"Parts", "PartsKey"}}},
      {"ConstraintColumns",
       {{"Items", "ItemsKey"}, {"Orders", "OrdersKey"}, {"Parts", "PartsKey"}}},
      {"Indexes", {{"Items", "ItemsKey"}, {"Orders", "OrdersKey"}, {"Parts", "PartsKey"}}},
      {"IndexColumns", {{"Items", "ItemsKey"}, {"Orders", "OrdersKey"}, {"Parts", "PartsKey"}}},
      {"Triggers", {{"Items", "ItemsAudit"}, {"Orders", "OrdersAudit"}, {"Parts", "PartsAudit"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Table);
    EXPECT_EQ(Read(c.Table, {1, 2}), c.All);
    EXPECT_EQ(Read(*annDb, c.Table, {1, 2}), Rows{c.All[1]});
  }
}

TEST_F(InformationTableTest, AFunctionResultLeavesTheIntegerScaleNullAndItsParametersDoNot) {
  UpdateCatalog([&](TBRNCatalog& catalog) {
    auto function = std::make_unique<TBRNFunction>(&catalog);
    function->Name = "Twice";
    function->SetLockNumber(catalog.NextRoutineLockNumber());
    AddParam(*function, "A", kParamModeIn, dtInteger);
    AddParam(*function, "B", kParamModeOut, dtChar, 12);
    DescribeParam(*function->Result, "", kParamModeResult, dtInteger);
    function->ApplyDefaultGrants();
    catalog.DefaultSchema->Functions->AddObject(function.get());
    function.release();
  });
  // Name, NumParams, Type, Collation, Length, Precision, Scale.
  EXPECT_EQ(Read("Functions", {1, 8, 9, 10, 11, 12, 13}),
            (Rows{{"Twice", "2", "Integer", kNull, kNull, kNull, kNull}}));
  // FunctionName, Name, Mode, Type, Length, Precision, Scale, OrdinalPos.
  EXPECT_EQ(Read("FunctionParams", {1, 2, 4, 5, 7, 8, 9, 10}),
            (Rows{{"Twice", "A", "In", "Integer", kNull, kNull, "0", "0"},
                  {"Twice", "B", "Out", "VarChar", "12", kNull, kNull, "1"}}));
}

TEST_F(InformationTableTest, ViewColumnsCutAnOriginLongerThanTheirColumn) {
  CreateTable("Items");
  const std::string origin = "\"Shop\".\"Default\".\"Items\".\"" + std::string(136, 'N') + "\"";
  ASSERT_EQ(origin.size(), 163u);
  CreateView("Cheap", "SELECT ID, Name FROM Items",
             {{"ID", dtInteger, stDefault, 0, 0, false, "Items.ID"},
              {"Label", dtChar, stDefault, 20, 0, false, origin}});
  // ViewName, Name, Origin, Type, Length, Scale, OrdinalPos.
  EXPECT_EQ(Read("ViewColumns", {1, 2, 3, 4, 6, 8, 9}),
            (Rows{{"Cheap", "ID", "Items.ID", "Integer", kNull, "0", "1"},
                  {"Cheap", "Label", origin.substr(0, 120), "VarChar", "20", kNull, "2"}}));
  EXPECT_EQ(Read("SQLColumns", {4, 29})[3],
            (std::vector<std::string>{"Label", origin.substr(0, 120)}));
}

TEST_F(InformationTableTest, TemporaryListingsSkipQueryResultsAndShowLoadedNames) {
  AddTable(*Db->Catalog, "Scratch", true);
  // A materialised query result shares the list without the Temporary flag.
  auto result = std::make_unique<TBRNBaseTable>(Db->Catalog.get());
  result->Name = "Result1";
  Db->Catalog->DefaultSchema->TemporaryTables->AddObject(result.get());
  TBRNBaseTable* added = result.release();
  ASSERT_FALSE(added->GetTemporary());
  auto view = std::make_unique<TBRNView>(Db->Catalog.get());
  view->Name = "__Derived1";
  view->LoadedName = "Recent";
  view->Definition->SetText("SELECT 1");
  view->SetTemporary(true);
  Db->Catalog->DefaultSchema->TemporaryViews->AddObject(view.get());
  view.release();
  Db->SystemTables.Invalidate(TBRNSystemTableKind::Information);

  // Name, ReadOnly, IndexPageSize.
  EXPECT_EQ(Read("TemporaryTables", {1, 5, 8}), (Rows{{"Scratch", "FALSE", "4096"}}));
  // Name, Definition, Updateable.
  EXPECT_EQ(Read("TemporaryViews", {1, 3, 4}), (Rows{{"Recent", "SELECT 1", "FALSE"}}));
}

TEST_F(InformationTableTest, DependenciesListTheReferrersOfEachObject) {
  CreateTable("Items");
  CreateView("Cheap", "SELECT ID FROM Items",
             {{"ID", dtInteger, stDefault, 0, 0, false, "Items.ID"}});
  // ParentName, ParentType, Name, Type, DependentParentName,
  // DependentParentType, DependentName, DependentType.
  const Rows rows = Read("Dependencies");
  EXPECT_NE(std::find(rows.begin(), rows.end(),
                      std::vector<std::string>{"Default", "Schema", "Items", "Table", "Default",
                                               "Schema", "Cheap", "View"}),
            rows.end());
  for (const auto& row : rows) EXPECT_NE(row[2], "__RowID");
}

TEST_F(InformationTableTest, SchemaDifferenceListsTheEntriesOfTheLastComparison) {
  CreateTable("Items");
  TBRNSchema* schema = Db->Catalog->DefaultSchema;
  EXPECT_TRUE(Read("SchemaDifference").empty());
  schema->SchemaObjects = TBRNSchemaObjects::CreateForSchema(schema);
  schema->SchemaObjects->SortByDependencies();
  TBRNSelectedConfigObjects nothing(Db->Catalog.get());
  nothing.Sorted = true;
  schema->SchemaDifference->CompareSelections(schema->SchemaObjects.get(), &nothing, ';');
  ASSERT_EQ(schema->SchemaDifference->Count(), 1);
  Db->SystemTables.Invalidate(TBRNSystemTableKind::Information, "SchemaDifference");
  // ParentName, ParentType, Name, Type, AlterSQL.
  const Rows rows = Read("SchemaDifference");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(std::vector<std::string>(rows[0].begin(), rows[0].begin() + 4),
            (std::vector<std::string>{"Default", "Schema", "Items", "Table"}));
  EXPECT_NE(rows[0][4].find("DROP TABLE"), std::string::npos) << rows[0][4];
}

}  // namespace
}  // namespace brn::testing

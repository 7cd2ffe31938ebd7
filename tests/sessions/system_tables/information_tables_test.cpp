// The "Information" schema of an open database: its tables registered
// undefined at the first open, defined at their first lookup, and filled
// with what the calling user may see of the "Default" schema.
#include <algorithm>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "metadata/catalog/columns.h"
#include "metadata/catalog/constraints.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/routines.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/triggers.h"
#include "metadata/catalog/views.h"
#include "metadata/config/privileges.h"
#include "metadata/config/users_roles.h"
#include "sessions/databases/database_test_support.h"
#include "sessions/system_tables/system_tables.h"
#include "storage/indexes/index_navigator.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/tables/table_manager.h"

namespace brn::testing {
namespace {

constexpr const char* kNull = "<NULL>";
using Rows = std::vector<std::vector<std::string>>;

struct InformationTableTest : ::testing::Test {
  InformationTableTest() {
    Session->Login("Administrator", "GlenHarbor");
    AddDatabase(*Session, "Shop", Env.Folder.Path + "shop")->ApplyDefaultGrants();
    Db = Open(*Session);
  }

  static TBRNLocalDatabaseManager* Open(TBRNLocalSessionManager& session) {
    TBRNLocalDatabaseManager* db = session.GetDatabaseManager(
        static_cast<TBRNDatabaseContainer*>(session.Config->Databases->FindByName("Shop", true)));
    db->OpenDatabase(kBRNLockShared);
    return db;
  }

  TBRNBaseTable* Information(const std::string& name) {
    return static_cast<TBRNBaseTable*>(
        Db->Catalog->InformationSchema->BaseTables->FindByName(name, true));
  }

  // A base table as CREATE TABLE without a primary key makes it: the
  // columns "__RowID", ID INTEGER and Name CHAR(20), and the internal
  // primary key on "__RowID".
  // keys, when given, adds the table's own constraints in place of the
  // internal primary key.
  void CreateTable(const std::string& name,
                   const std::function<void(TBRNBaseTable*)>& keys = nullptr) {
    TBRNBaseTable* table = Db->CreateTable(name);
    try {
      table->AddRowIDColumn();
      for (auto [columnName, type, length] :
           {std::tuple{"ID", dtInteger, 0}, std::tuple{"Name", dtChar, 20}}) {
        auto column = std::make_unique<TBRNColumn>(Db->Catalog.get());
        column->Name = columnName;
        column->SetDataType(type);
        if (length != 0) column->SetLength(length);
        table->Columns->AddObject(column.get());
        column.release();
      }
      if (keys) {
        keys(table);
      } else {
        table->AddPrimaryKey(false);
      }
      Db->CommitCreateTable(table);
    } catch (...) {
      Db->RollbackCreateTable(table);
      throw;
    }
  }

  // A constraint of table on column ID, with its enforcing index of
  // indexType unless that is negative.
  static TBRNConstraint* AddConstraint(TBRNBaseTable* table, const std::string& name, int32_t type,
                                       int32_t indexType) {
    auto* id = static_cast<TBRNColumn*>(table->Columns->FindByName("ID", true));
    std::unique_ptr<TBRNConstraint> constraint(
        static_cast<TBRNConstraint*>(table->Constraints->NewItem()));
    constraint->Name = name;
    constraint->SetConstraintType(type);
    if (type != kConstraintCheck) {
      std::unique_ptr<TBRNConstraintColumn> entry(
          static_cast<TBRNConstraintColumn*>(constraint->Columns->NewItem()));
      entry->SetColumn(id);
      constraint->Columns->AddObject(entry.get());
      entry.release();
    }
    table->Constraints->AddObject(constraint.get());
    TBRNConstraint* added = constraint.release();
    if (indexType < 0) return added;
    std::unique_ptr<TBRNIndex> index(static_cast<TBRNIndex*>(table->Indexes->NewItem()));
    index->Name = name;
    index->SetIndexType(indexType);
    std::unique_ptr<TBRNIndexColumn> entry(
        static_cast<TBRNIndexColumn*>(index->Columns->NewItem()));
    entry->SetColumn(id);
    index->Columns->AddObject(entry.get());
    entry.release();
    index->SetOwnerConstraint(added);
    table->Indexes->AddObject(index.get());
    added->SetEnforcingIndex(index.release());
    return added;
  }

  void CreateUser(const std::string& name) {
    TBRNUser* user = Session->BeginCreateUser(name);
    user->SetPassword("pw");
    Session->EndCreateUser(user);
  }

  // Opens the Information table name of db as a statement does and answers
  // the listed columns (all defined ones when empty) of its rows in
  // primary-key order, NULL as kNull.
  static Rows Read(TBRNLocalDatabaseManager& db, const std::string& name,
                   const std::vector<int32_t>& columns = {}) {
    auto* manager =
        dynamic_cast<TBRNTableManager*>(db.OpenSchemaObjectManager("Information", name, false));
    Rows rows;
    TBRNIndexNavigator* keys = manager->GetIndexNavigator(0);
    TBRNRowsetRowValues values(manager->GetColumns(), manager);
    bool restart = false;
    for (bool found = keys->First(restart); found; found = keys->Next(restart)) {
      TBRNRowsetRow* row = manager->GetRow(keys->GetRowNumber(), false);
      values.SetRow(row);
      std::vector<int32_t> wanted = columns;
      if (wanted.empty()) {
        for (int32_t i = 1; i < manager->GetColumns()->Count(); ++i) wanted.push_back(i);
      }
      std::vector<std::string> fields;
      for (int32_t i : wanted) {
        TBRNValue* value = values.GetItem(i);
        fields.push_back(value->GetNull() ? kNull : value->GetAsString());
      }
      rows.push_back(fields);
      values.SetRow(nullptr);
      manager->ReleaseRow(row);
    }
    manager->Close(false, true);
    return rows;
  }
  Rows Read(const std::string& name, const std::vector<int32_t>& columns = {}) {
    return Read(*Db, name, columns);
  }

  ~InformationTableTest() override {
    Session.reset();
  }

  TestEngine Env;
  std::unique_ptr<TBRNLocalSessionManager> Session = Env.OpenSession();
  TBRNLocalDatabaseManager* Db = nullptr;
};

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

}  // namespace
}  // namespace brn::testing

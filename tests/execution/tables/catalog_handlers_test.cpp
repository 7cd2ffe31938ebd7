// CREATE, ALTER and DROP statements on tables, indexes and triggers, run
// through statement handles: the definitions their clauses give, ALTER
// TABLE over many rows keeping every value, and failing alterations that
// leave the catalog and the table files as they were.
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "execution/execution_test_support.h"
#include "execution/handlers/catalog_handlers.h"
#include "execution/handles/local_statement_manager.h"
#include "foundation/text/collation.h"
#include "foundation/text/string_helpers.h"
#include "foundation/text/string_list.h"
#include "metadata/catalog/constraints.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/triggers.h"
#include "metadata/config/databases.h"
#include "sessions/ddl/view_routine_test_support.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/rows/row_values.h"
#include "storage/tables/table_manager.h"

namespace brn::testing {
namespace {

// A session logged in as Administrator on an engine whose files live in
// fault-injecting memory, with the open database Shop.
struct CatalogHandlersTest : ::testing::Test {
  void SetUp() override {
    Session->Login("Administrator", "GlenHarbor");
    TBRNDatabaseContainer* created = Session->BeginCreateDatabase("Shop");
    created->Path = "/config/shop";
    Session->EndCreateDatabase(created);
    Db = Session->GetDatabaseManager(
        static_cast<TBRNDatabaseContainer*>(Session->Config->Databases->FindByName("Shop", true)));
    Db->OpenDatabase(kBRNLockShared);
  }

  void Run(const std::string& sql) {
    auto* handle = static_cast<TBRNLocalStatementManager*>(Db->PrepareStatement(sql));
    try {
      handle->ExecuteStatement();
    } catch (...) {
      TBRNLocalStatementManager::FreeStatement(handle);
      throw;
    }
    TBRNLocalStatementManager::FreeStatement(handle);
  }

  TBRNBaseTable* Table(const std::string& name) {
    return static_cast<TBRNBaseTable*>(
        Db->Catalog->DefaultSchema->BaseTables->FindByName(name, false));
  }
  static std::vector<std::string> Names(TBRNConfigObjects* list) {
    std::vector<std::string> names;
    for (int32_t i = 0; i < list->Count(); ++i) names.push_back(list->GetItem(i)->Name);
    return names;
  }
  std::vector<std::string> Columns(const std::string& table) {
    return Names(Table(table)->Columns.get());
  }
  TBRNConstraint* Constraint(const std::string& table, const std::string& name) {
    return static_cast<TBRNConstraint*>(Table(table)->Constraints->FindByName(name, false));
  }

  TBRNTableManager& OpenManager(TBRNBaseTable* table) {
    auto* manager = static_cast<TBRNTableManager*>(Db->TableManagers->GetManager(table));
    manager->SetCreatingFiles(true);
    Db->TableManagers->OpenManager(table, kBRNLockTypeShared);
    manager->SetCreatingFiles(false);
    return *manager;
  }

  // Appends rows of (id, name, qty) to the table's first three user
  // columns, in that order.
  void InsertRows(const std::string& name, int32_t count) {
    TBRNTableManager& manager = OpenManager(Table(name));
    auto buffer = manager.NewRowBuffer();
    TBRNRowsetRowValues values(manager.GetColumns(), &manager);
    values.SetRow(buffer.get());
    for (int32_t i = 1; i <= count; ++i) {
      values.SetAllNull();
      values.GetItem(1)->SetAsInteger(i);
      values.GetItem(2)->SetAsString("n" + std::to_string(i));
      values.GetItem(3)->SetAsInteger(i * 3);
      int32_t row = 0, version = 0, counter = 0;
      manager.InsertRow(values, row, version, counter, false);
    }
    manager.Close(false, true);
  }

  // The live rows by the value of column key: the texts of the named
  // columns ("<null>" for NULL).
  std::map<int32_t, std::vector<std::string>> Rows(const std::string& name, const std::string& key,
                                                   const std::vector<std::string>& columns) {
    TBRNBaseTable* table = Table(name);
    const int32_t keyAt = table->Columns->FindByName(key, true)->Index;
    std::vector<int32_t> at;
    for (const std::string& column : columns)
      at.push_back(table->Columns->FindByName(column, true)->Index);
    TBRNTableManager& manager = OpenManager(table);
    std::map<int32_t, std::vector<std::string>> rows;
    const int32_t last = manager.GetRowFileLastBlock();
    for (int32_t row = 1; row <= last; ++row) {
      manager.GotoRowNumber(row);
      TBRNRowsetNavigator* navigator = manager.GetRowNavigator();
      if (navigator->GetRowNumber() != row || navigator->GetCurrentRow()->Status == kRowDeleted)
        continue;
      const TBRNRowsetRowValues& values = navigator->GetCurrentValues();
      std::vector<std::string> texts;
      for (int32_t index : at) {
        const TBRNValue* value = values.GetItem(index);
        texts.push_back(value->GetNull() ? "<null>" : value->GetAsString());
      }
      rows[values.GetItem(keyAt)->GetAsInteger()] = texts;
    }
    manager.Close(false, true);
    return rows;
  }

  // Every file of the database folder with its bytes.
  std::map<std::string, std::string> FolderFiles() {
    TBRNStringsList names;
    Db->FileManager->ListFiles("/config/shop/*.*", true, names);
    std::map<std::string, std::string> files;
    for (const std::string& file : names.GetItems())
      files[file] = FileBytes(*Engine.Faults, "/config/shop/" + file);
    return files;
  }

  ExecutionInstaller Installer;
  FaultEngine Engine;
  std::unique_ptr<TBRNLocalSessionManager> Session = [this] {
    auto session = std::make_unique<TBRNLocalSessionManager>(&Engine, false, false);
    session->OpenSession("host", "Tester", "");
    return session;
  }();
  TBRNLocalDatabaseManager* Db = nullptr;
};

TEST_F(CatalogHandlersTest, ATableWithoutAKeyGetsTheInternalOneAndADeclaredKeyItsIndex) {
  Run("CREATE TABLE Plain (a INTEGER, b CHAR(10))");
  EXPECT_EQ(Columns("Plain"), (std::vector<std::string>{"__RowID", "a", "b"}));
  TBRNConstraint* internal = Constraint("Plain", "__PrimaryKey");
  ASSERT_NE(internal, nullptr);
  EXPECT_TRUE(internal->Internal);
  EXPECT_EQ(internal->Columns->GetItem(0)->GetColumn()->Name, "__RowID");

  Run("CREATE TABLE Keyed (a INTEGER PRIMARY KEY)");
  EXPECT_EQ(Constraint("Keyed", "__PrimaryKey"), nullptr);
  TBRNConstraint* key = Constraint("Keyed", "PrimaryKey");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->ConstraintType, kConstraintPrimaryKey);
  ASSERT_NE(key->GetEnforcingIndex(), nullptr);
  EXPECT_EQ(key->GetEnforcingIndex()->Name, "PrimaryKey");
  EXPECT_EQ(Names(Table("Keyed")->Indexes.get()), (std::vector<std::string>{"PrimaryKey"}));
}

TEST_F(CatalogHandlersTest, UnnamedChecksAreNumberedOrNamedAfterTheirColumn) {
  Run("CREATE TABLE T (a INTEGER, c INTEGER CHECK (c > 0), CHECK (a > 0), CHECK (a < 10))");
  EXPECT_EQ(Names(Table("T")->Constraints.get()),
            (std::vector<std::string>{"Check_c", "Check_1", "Check_2", "__PrimaryKey"}));
  EXPECT_EQ(TrimTrailingBlanks(Constraint("T", "Check_2")->CheckExpr->SQL), "(a < 10)");
}

TEST_F(CatalogHandlersTest, AnInlineErrorClauseKeepsItsCodeAndMessageWhateverTheDescription) {
  Run("CREATE TABLE T (a INTEGER CHECK (a > 0) ERROR CODE 1234 MESSAGE 'bad' "
      "DESCRIPTION 'count', b INTEGER NOT NULL ERROR CODE 10077 MESSAGE 'b needed')");
  TBRNConstraint* check = Constraint("T", "Check_a");
  ASSERT_NE(check, nullptr);
  EXPECT_EQ(check->ErrorCode, 1234);
  EXPECT_EQ(check->ErrorMessage, "bad");
  auto* a = static_cast<TBRNColumn*>(Table("T")->Columns->FindByName("a", true));
  EXPECT_EQ(a->Description, "count");
  auto* b = static_cast<TBRNColumn*>(Table("T")->Columns->FindByName("b", true));
  EXPECT_TRUE(b->NotNull);
  EXPECT_EQ(b->NotNullErrorCode, 10077);
  EXPECT_EQ(b->NotNullErrorMessage, "b needed");
}

TEST_F(CatalogHandlersTest, AUniqueKeyNamedLikeAnIndexGetsANumberedIndex) {
  Run("CREATE TABLE T (a INTEGER, b INTEGER)");
  Run("CREATE INDEX Idx ON T (a)");
  Run("ALTER TABLE T ADD CONSTRAINT Idx UNIQUE (b)");
  TBRNConstraint* unique = Constraint("T", "Idx");
  ASSERT_NE(unique, nullptr);
  ASSERT_NE(unique->GetEnforcingIndex(), nullptr);
  EXPECT_EQ(unique->GetEnforcingIndex()->Name, "Idx1");
  EXPECT_EQ(unique->GetEnforcingIndex()->IndexType, kIndexUnique);
}

TEST_F(CatalogHandlersTest, IndexColumnsTakeTheirCollationAndDirection) {
  Run("CREATE TABLE T (a VARCHAR(10), b INTEGER)");
  Run("CREATE INDEX Shelf ON T (a COLLATE ANSI_CI DESC, b)");
  auto* index = static_cast<TBRNIndex*>(Table("T")->Indexes->FindByName("Shelf", true));
  ASSERT_EQ(index->Columns->Count(), 2);
  TBRNIndexColumn* a = index->Columns->GetItem(0);
  EXPECT_TRUE(a->Descending);
  EXPECT_TRUE(IsBitSet(a->Collation, CaseInsensitiveBit));
  EXPECT_FALSE(index->Columns->GetItem(1)->Descending);
}

// The referenced key lists the foreign key by its table and constraint, in
// memory and in the catalog file, so that the key's table finds it.
TEST_F(CatalogHandlersTest, AForeignKeyIsListedWithTheKeyItReferences) {
  Run("CREATE TABLE Parent (id INTEGER NOT NULL PRIMARY KEY)");
  Run("CREATE TABLE Child (id INTEGER, up INTEGER REFERENCES Parent (id) ON DELETE RESTRICT)");
  Run("CREATE TABLE Later (id INTEGER, up INTEGER)");
  Run("ALTER TABLE Later ADD CONSTRAINT ForeignKey_up FOREIGN KEY (up) REFERENCES Parent (id) "
      "ON DELETE RESTRICT");
  for (bool reloaded : {false, true}) {
    SCOPED_TRACE(reloaded ? "after a reload" : "in memory");
    if (reloaded) {
      Db->CloseDatabase(true);
      Db->OpenDatabase(kBRNLockShared);
    }
    TBRNConstraint* key = Constraint("Parent", "PrimaryKey");
    ASSERT_EQ(key->SourceConstraints->Count(), 2);
    for (int32_t i = 0; i < 2; ++i) {
      const std::string table = i == 0 ? "Child" : "Later";
      SCOPED_TRACE(table);
      TBRNConstraint* foreignKey = Constraint(table, "ForeignKey_up");
      ASSERT_NE(foreignKey, nullptr);
      EXPECT_EQ(foreignKey->DeleteAction, kActionRestrict);
      EXPECT_EQ(foreignKey->TargetConstraintID, key->ID);
      TBRNSourceConstraint* source = key->SourceConstraints->GetItem(i);
      EXPECT_EQ(source->SourceTableID, Table(table)->ID);
      EXPECT_EQ(source->GetSourceConstraint(), foreignKey);
    }
  }
}

// A table with a foreign key verifies right after its creation, and once
// altered and dropped leaves nothing that hinders a new table of its name:
// that one alters and verifies too, and the session closes cleanly.
TEST_F(CatalogHandlersTest, ATableWithAForeignKeyVerifiesAltersAndIsDroppedAndMadeAgain) {
  Run("CREATE TABLE Parent (id INTEGER NOT NULL PRIMARY KEY)");
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE(round == 1 ? "first table" : "made again");
    Run("CREATE TABLE Child (id INTEGER, up INTEGER REFERENCES Parent (id))");
    EXPECT_FALSE(Db->VerifyTable("Child", false)) << "errors found";
    Run("ALTER TABLE Child ADD COLUMN more INTEGER");
    EXPECT_FALSE(Db->VerifyTable("Child", false)) << "errors found";
    Run("DROP TABLE Child");
  }
  Db->CloseDatabase(true);
  Session.reset();
}

// CREATE TABLE ... AS: the columns come from the query; WITH DATA hands
// the committed table to the query step, whose failure drops it again, and
// is refused while no step is installed.
TEST_F(CatalogHandlersTest, CreateTableAsDefinesTheQueryColumnsAndDropsTheTableWhenTheFillFails) {
  Run("CREATE TABLE Source (id INTEGER NOT NULL PRIMARY KEY, name VARCHAR(20))");
  Run("CREATE TABLE Shape AS SELECT name, id FROM Source WITH NO DATA");
  EXPECT_EQ(Columns("Shape"), (std::vector<std::string>{"__RowID", "name", "id"}));

  std::vector<std::string> filled;
  TBRNCreateTableQueryStep previous =
      SetCreateTableQueryStep([&](TBRNLocalExprEvaluator&, TBRNLocalDatabaseManager&,
                                  TBRNBaseTable* table, TBRNExprToken* query) {
        filled.push_back(table->Name);
        ASSERT_NE(query, nullptr);
        if (table->Name == "Broken") throw EBRNException(1011, "the fill failed");
      });
  Run("CREATE TABLE Filled AS SELECT id FROM Source WITH DATA");
  auto outcome = Outcome([&] { Run("CREATE TABLE Broken AS SELECT id FROM Source WITH DATA"); });
  SetCreateTableQueryStep(previous);
  EXPECT_EQ(filled, (std::vector<std::string>{"Filled", "Broken"}));
  EXPECT_EQ(outcome.first, 1011);
  EXPECT_NE(Table("Filled"), nullptr);
  EXPECT_EQ(Table("Broken"), nullptr);

  if (!previous) {
    outcome = Outcome([&] { Run("CREATE TABLE Waiting AS SELECT id FROM Source WITH DATA"); });
    EXPECT_EQ(outcome.first, 9999);
    EXPECT_EQ(Table("Waiting"), nullptr);
  }
}

// Column positions after ADD ... AT and MOVE TO on a table of __RowID, a,
// b, c, d: the row-ID column always stays first.
TEST_F(CatalogHandlersTest, AddAtAndMoveToPlaceTheColumnAfterTheRowID) {
  struct Case {
    std::string Alteration;
    std::vector<std::string> Order;
  };
  const std::vector<Case> cases = {
      {"ADD COLUMN x INTEGER AT 0", {"x", "a", "b", "c", "d"}},
      {"ADD COLUMN x INTEGER AT 2", {"a", "x", "b", "c", "d"}},
      {"ADD COLUMN x INTEGER AT 99", {"a", "b", "c", "d", "x"}},
      {"ALTER COLUMN a MOVE TO 3", {"b", "a", "c", "d"}},
      {"ALTER COLUMN d MOVE TO 2", {"a", "d", "b", "c"}},
      {"ALTER COLUMN a MOVE TO 99", {"b", "c", "d", "a"}},
      {"ALTER COLUMN b MOVE TO 2", {"a", "b", "c", "d"}},
      {"ALTER COLUMN c MOVE TO 0", {"c", "a", "b", "d"}},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.Alteration);
    const std::string name = "T" + std::to_string(i);
    Run("CREATE TABLE " + name + " (a INTEGER, b INTEGER, c INTEGER, d INTEGER)");
    Run("ALTER TABLE " + name + " " + c.Alteration);
    std::vector<std::string> expected = {"__RowID"};
    expected.insert(expected.end(), c.Order.begin(), c.Order.end());
    EXPECT_EQ(Columns(name), expected);
  }
}

TEST_F(CatalogHandlersTest, DroppingThePrimaryKeyBringsTheInternalKeyBack) {
  Run("CREATE TABLE T (a INTEGER NOT NULL, CONSTRAINT Key PRIMARY KEY (a))");
  EXPECT_EQ(Constraint("T", "__PrimaryKey"), nullptr);
  Run("ALTER TABLE T DROP CONSTRAINT Key");
  EXPECT_EQ(Constraint("T", "Key"), nullptr);
  TBRNConstraint* internal = Constraint("T", "__PrimaryKey");
  ASSERT_NE(internal, nullptr);
  EXPECT_TRUE(internal->Internal);
  EXPECT_EQ(Names(Table("T")->Indexes.get()), (std::vector<std::string>{"__PrimaryKey"}));
}

TEST_F(CatalogHandlersTest, LikeCopiesIdentityAsAPlainColumnUnlessIncluded) {
  Run("CREATE TABLE S (id INTEGER GENERATED ALWAYS AS IDENTITY (START WITH 5), "
      "n INTEGER DEFAULT 7)");
  Run("CREATE TABLE Plain (LIKE S)");
  EXPECT_EQ(Columns("Plain"), (std::vector<std::string>{"__RowID", "id", "n"}));
  auto* id = static_cast<TBRNColumn*>(Table("Plain")->Columns->FindByName("id", true));
  EXPECT_FALSE(id->Identity);
  EXPECT_FALSE(id->ReadOnly);
  EXPECT_EQ(id->IdentitySeed, 0);
  EXPECT_FALSE(
      static_cast<TBRNColumn*>(Table("Plain")->Columns->FindByName("n", true))->HasDefault);

  Run("CREATE TABLE Kept (LIKE S INCLUDING IDENTITY INCLUDING DEFAULTS)");
  id = static_cast<TBRNColumn*>(Table("Kept")->Columns->FindByName("id", true));
  EXPECT_TRUE(id->Identity);
  EXPECT_EQ(id->IdentitySeed, 5);
  EXPECT_TRUE(static_cast<TBRNColumn*>(Table("Kept")->Columns->FindByName("n", true))->HasDefault);
}

TEST_F(CatalogHandlersTest, LikeIncludingWhatItCannotCopyFailsNamingTheOptionAndCreatesNothing) {
  Run("CREATE TABLE S (a INTEGER UNIQUE)");
  for (const std::string option : {"CONSTRAINTS", "INDEXES", "TRIGGERS"}) {
    SCOPED_TRACE(option);
    auto outcome = Outcome([&] { Run("CREATE TABLE Copy (LIKE S INCLUDING " + option + ")"); });
    EXPECT_EQ(outcome.first, 100);
    EXPECT_NE(outcome.second.find("INCLUDING " + option), std::string::npos) << outcome.second;
    EXPECT_EQ(Table("Copy"), nullptr);
  }
}

TEST_F(CatalogHandlersTest, AlterTriggerAtOneMovesItFirst) {
  Run("CREATE TABLE T (a INTEGER)");
  Run("CREATE TRIGGER First BEFORE INSERT ON T BEGIN END");
  Run("CREATE TRIGGER Second BEFORE INSERT ON T BEGIN END");
  EXPECT_EQ(Names(Table("T")->Triggers.get()), (std::vector<std::string>{"First", "Second"}));
  Run("ALTER TRIGGER Second AFTER UPDATE OF a ON T AT 1 BEGIN END");
  EXPECT_EQ(Names(Table("T")->Triggers.get()), (std::vector<std::string>{"Second", "First"}));
  auto* second = static_cast<TBRNTrigger*>(Table("T")->Triggers->FindByName("Second", true));
  EXPECT_EQ(second->ActionTime, kTriggerAfter);
  EXPECT_EQ(second->ActionType, kTriggerUpdate);
  ASSERT_EQ(second->TriggerColumns->Count(), 1);
  Run("DROP TRIGGER Second FROM T");
  EXPECT_EQ(Names(Table("T")->Triggers.get()), (std::vector<std::string>{"First"}));
}

// Each alteration over 10,000 rows keeps every value of every row under the
// column's (new) name.
TEST_F(CatalogHandlersTest, AlterationsOverManyRowsKeepEveryValue) {
  constexpr int32_t kRows = 10000;
  Run("CREATE TABLE T (id INTEGER NOT NULL, name VARCHAR(20), qty INTEGER, "
      "CONSTRAINT NameKey UNIQUE (name))");
  InsertRows("T", kRows);
  std::map<int32_t, std::vector<std::string>> expected;
  for (int32_t i = 1; i <= kRows; ++i)
    expected[i] = {"n" + std::to_string(i), std::to_string(i * 3), "<null>"};

  Run("ALTER TABLE T ADD COLUMN extra INTEGER");
  EXPECT_EQ(Rows("T", "id", {"name", "qty", "extra"}), expected);
  Run("ALTER TABLE T ALTER COLUMN qty MOVE TO 1");
  EXPECT_EQ(Columns("T"), (std::vector<std::string>{"__RowID", "qty", "id", "name", "extra"}));
  EXPECT_EQ(Rows("T", "id", {"name", "qty", "extra"}), expected);
  Run("ALTER TABLE T RENAME COLUMN name TO title");
  EXPECT_EQ(Rows("T", "id", {"title", "qty", "extra"}), expected);
  Run("ALTER TABLE T DROP CONSTRAINT NameKey");
  EXPECT_EQ(Constraint("T", "NameKey"), nullptr);
  EXPECT_EQ(Rows("T", "id", {"title", "qty", "extra"}), expected);
  Run("ALTER TABLE T ALTER COLUMN title AS VARCHAR(40), ALTER COLUMN qty AS BIGINT");
  auto* title = static_cast<TBRNColumn*>(Table("T")->Columns->FindByName("title", true));
  EXPECT_EQ(title->Index, 3);
  EXPECT_EQ(title->Length, 40);
  EXPECT_EQ(Rows("T", "id", {"title", "qty", "extra"}), expected);
}

// A failing ALTER TABLE leaves the definition and every file of the
// database as they were: a unique key over duplicate values, and a catalog
// write that fails while the alteration commits.
TEST_F(CatalogHandlersTest, AFailingAlterationLeavesCatalogAndFilesAsTheyWere) {
  Run("CREATE TABLE T (id INTEGER, name VARCHAR(20), qty INTEGER)");
  InsertRows("T", 50);
  InsertRows("T", 2);  // ids 1 and 2 and their quantities a second time
  const std::map<int32_t, std::vector<std::string>> rows = Rows("T", "id", {"name", "qty"});

  struct Case {
    std::string Name;
    std::string Alteration;
    bool FailCatalogWrite;
  };
  const std::vector<Case> cases = {
      {"duplicates made unique",
       "ALTER TABLE T ADD COLUMN more INTEGER, ADD CONSTRAINT Dup UNIQUE (qty)", false},
      {"duplicates made unique", "ALTER TABLE T ALTER COLUMN qty AS INTEGER UNIQUE", false},
      {"catalog write fails", "ALTER TABLE T ADD COLUMN more INTEGER, DROP COLUMN name", true},
  };
  const std::vector<std::string> columns = Columns("T");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name + ": " + c.Alteration);
    const std::map<std::string, std::string> before = FolderFiles();
    if (c.FailCatalogWrite) {
      TBRNFileFault fault;
      fault.FileName = Db->GetCatalogFileName();
      Engine.Faults->Arm(fault);
    }
    auto outcome = Outcome([&] { Run(c.Alteration); });
    Engine.Faults->Disarm();
    EXPECT_NE(outcome.first, 0) << "the alteration succeeded";
    EXPECT_EQ(Columns("T"), columns);
    EXPECT_EQ(Constraint("T", "Dup"), nullptr);
    EXPECT_EQ(Constraint("T", "UniqueKey_qty"), nullptr);
    // A failed catalog write puts the catalog back from its safety copy,
    // which is then gone; every other file is as it was.
    std::map<std::string, std::string> after = FolderFiles();
    std::map<std::string, std::string> expected = before;
    if (c.FailCatalogWrite) expected.erase("BRNDatabase.BRNCat.Old");
    EXPECT_TRUE(after == expected);
    EXPECT_EQ(Rows("T", "id", {"name", "qty"}), rows);
    // The catalog file holds the old definition too.
    Db->CloseDatabase(true);
    Db->OpenDatabase(kBRNLockShared);
    EXPECT_EQ(Columns("T"), columns);
  }
}

}  // namespace
}  // namespace brn::testing

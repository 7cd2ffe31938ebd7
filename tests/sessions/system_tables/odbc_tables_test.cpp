// The ODBC catalog tables of the "Information" schema: the engine's types
// as ODBC codes, foreign keys only to primary keys, index directions, and
// the two tables that are always empty.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "metadata/core/type_lists.h"
#include "sessions/system_tables/information_test_support.h"

namespace brn::testing {
namespace {

using OdbcTableTest = InformationTableTest;

// TABLE_NAME, COLUMN_NAME, DATA_TYPE, TYPE_NAME, COLUMN_SIZE, BUFFER_LENGTH,
// DECIMAL_DIGITS, NULLABLE, SQL_DATA_TYPE, SQL_DATETIME_SUB,
// CHAR_OCTET_LENGTH, ORDINAL_POSITION, IS_NULLABLE.
const std::vector<int32_t> kColumnShape{3, 4, 5, 6, 7, 8, 9, 11, 14, 15, 16, 17, 18};

const std::vector<ColumnShape> kTypedColumns{
    {"Day", dtDate},
    {"Code", dtChar, stDefault, 40, 0, true},
    {"Flag", dtChar, stFixed, 10},
    {"Price", dtDecimal, stDefault, 0, 2},
    {"Stamp", dtTimestamp},
    {"Notes", dtLob, stClob},
};

TEST_F(OdbcTableTest, ColumnsShowTheOdbcViewOfEachType) {
  CreateTable("Items", nullptr, kTypedColumns);
  EXPECT_EQ(
      Read("SQLColumns", kColumnShape),
      (Rows{
          {"Items", "Day", "91", "DATE", "10", "6", "0", "1", "9", "1", kNull, "1", "YES"},
          {"Items", "Code", "12", "VARCHAR", "40", "40", "0", "0", "12", "0", "1024", "2", "NO"},
          {"Items", "Flag", "1", "CHAR", "10", "10", "0", "1", "1", "0", "1024", "3", "YES"},
          {"Items", "Price", "3", "DECIMAL", "20", "21", "2", "1", "3", "0", kNull, "4", "YES"},
          {"Items", "Stamp", "93", "TIMESTAMP", "23", "16", "3", "1", "9", "3", kNull, "5", "YES"},
          {"Items", "Notes", "-1", "CLOB", "2147483647", "2147483647", "0", "1", "-1", "0", kNull,
           "6", "YES"}}));
  // TABLE_CAT, TABLE_SCHEM, NUM_PREC_RADIX, COLLATION of Code and of Day.
  const Rows shared = Read("SQLColumns", {1, 2, 10, 19});
  ASSERT_EQ(shared.size(), 6u);
  EXPECT_EQ(shared[0], (std::vector<std::string>{"Shop", kNull, "10", kNull}));
  EXPECT_NE(shared[1][3], kNull);
}

TEST_F(OdbcTableTest, AnOdbcVersionTwoSessionGetsTheOldDateAndTimeCodes) {
  CreateTable("Items", nullptr, kTypedColumns);
  CreateUser("Ann");
  Db->GrantPrivilege("Ann", "Items", 0, pkSelect);
  std::unique_ptr<TBRNLocalSessionManager> old = Env.OpenSession("Old");
  old->SetODBCVersion(2);
  old->Login("Ann", "pw");
  TBRNLocalDatabaseManager* oldDb = Open(*old);
  // COLUMN_NAME, DATA_TYPE, SQL_DATA_TYPE.
  const Rows rows = Read(*oldDb, "SQLColumns", {4, 5, 14});
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"Day", "9", "9"}));
  EXPECT_EQ(rows[4], (std::vector<std::string>{"Stamp", "11", "9"}));
  EXPECT_EQ(Read("SQLColumns", {4, 5})[0], (std::vector<std::string>{"Day", "91"}));
}

TEST_F(OdbcTableTest, ViewColumnsAreNullableWhateverTheirSource) {
  CreateTable("Items", nullptr, {{"ID", dtInteger, stDefault, 0, 0, true}});
  CreateView("Listed", "SELECT ID FROM Items",
             {{"ID", dtInteger, stDefault, 0, 0, true, "Items.ID"}});
  // TABLE_NAME, COLUMN_NAME, NULLABLE, IS_NULLABLE, ORIGIN.
  EXPECT_EQ(Read("SQLColumns", {3, 4, 11, 18, 29}),
            (Rows{{"Items", "ID", "0", "NO", kNull}, {"Listed", "ID", "2", "YES", "Items.ID"}}));
  // TABLE_NAME, TABLE_TYPE, ROW_SIZE set only for the base table.
  const Rows tables = Read("SQLTables", {3, 4, 8});
  ASSERT_EQ(tables.size(), 2u);
  EXPECT_EQ(tables[0][1], "TABLE");
  EXPECT_NE(tables[0][2], kNull);
  EXPECT_EQ(tables[1], (std::vector<std::string>{"Listed", "VIEW", kNull}));
}

TEST_F(OdbcTableTest, ForeignKeysAreListedOnlyWhenTheyReferenceAPrimaryKey) {
  TBRNConstraint* parentKey = nullptr;
  TBRNConstraint* parentCode = nullptr;
  CreateTable("Parents", [&](TBRNBaseTable* table) {
    parentKey = AddConstraint(table, "ParentKey", kConstraintPrimaryKey, kIndexPrimaryKey);
    parentCode = AddConstraint(table, "ParentCode", kConstraintUnique, kIndexUnique, "Name");
  });
  TBRNBaseTable* parents = Table("Parents");
  CreateTable("Children", [&](TBRNBaseTable* table) {
    table->AddPrimaryKey(false);
    LinkTo(AddConstraint(table, "ToParent", kConstraintForeignKey, kIndexForeignKey), parents,
           parentKey, kActionRestrict, kActionNoAction);
    LinkTo(AddConstraint(table, "ToCode", kConstraintForeignKey, kIndexForeignKey, "Name"), parents,
           parentCode);
  });

  EXPECT_EQ(Read("SQLForeignKeys"),
            (Rows{{"Shop", kNull, "Parents", "ID", "Shop", kNull, "Children", "ID", "1", "1", "3",
                   "ToParent", "ParentKey", "7", kNull, "ToParent"}}));
  // Both foreign keys stay in the engine's own listing.
  EXPECT_EQ(Read("Constraints", {2}),
            (Rows{{"ParentKey"}, {"ParentCode"}, {"ToParent"}, {"ToCode"}}));
  EXPECT_EQ(Read("SQLPrimaryKeys"),
            (Rows{{"Shop", kNull, "Parents", "ID", "1", "ParentKey", kNull, "ParentKey"}}));
}

TEST_F(OdbcTableTest, StatisticsShowEachIndexColumnWithItsDirection) {
  CreateTable("Items", [&](TBRNBaseTable* table) {
    AddConstraint(table, "ItemKey", kConstraintPrimaryKey, kIndexPrimaryKey);
    AddIndex(table, "ByName", kIndexOrdinary, "Name", true);
  });
  // TABLE_NAME, NON_UNIQUE, INDEX_QUALIFIER, INDEX_NAME, TYPE,
  // ORDINAL_POSITION, COLUMN_NAME, ASC_OR_DESC, OWNER_CONSTRAINT.
  EXPECT_EQ(Read("SQLStatistics", {3, 4, 5, 6, 7, 8, 9, 10, 16}),
            (Rows{{"Items", "0", kNull, "ItemKey", "3", "1", "ID", "A", "ItemKey"},
                  {"Items", "1", kNull, "ByName", "3", "1", "Name", "D", kNull}}));
  // COLLATION: the index column's collation for the CHAR column only.
  const Rows collations = Read("SQLStatistics", {14});
  ASSERT_EQ(collations.size(), 2u);
  EXPECT_EQ(collations[0][0], kNull);
  std::string name;
  Session->GetCollationName(Table("Items")->Columns->GetItem(2)->Collation, name);
  EXPECT_EQ(collations[1][0], name);
}

TEST_F(OdbcTableTest, SpecialColumnsAndColumnPrivilegesAreAlwaysEmpty) {
  CreateTable("Items", [&](TBRNBaseTable* table) {
    AddConstraint(table, "ItemKey", kConstraintPrimaryKey, kIndexPrimaryKey);
  });
  CreateUser("Ann");
  TBRNLocalDatabaseManager* annDb = nullptr;
  std::unique_ptr<TBRNLocalSessionManager> ann = LoginAs("Ann", annDb);
  for (TBRNLocalDatabaseManager* db : {Db, annDb}) {
    for (const char* name : {"SQLSpecialColumns", "SQLColumnPrivileges"}) {
      SCOPED_TRACE(name);
      EXPECT_TRUE(Read(*db, name).empty());
    }
  }
}

TEST_F(OdbcTableTest, RoutinesShowTheirParameterCountsAndDirections) {
  UpdateCatalog([&](TBRNCatalog& catalog) {
    auto function = std::make_unique<TBRNFunction>(&catalog);
    function->Name = "Twice";
    function->SetLockNumber(catalog.NextRoutineLockNumber());
    AddParam(*function, "A", kParamModeIn, dtInteger);
    AddParam(*function, "B", kParamModeInOut, dtChar, 12);
    AddParam(*function, "C", kParamModeOut, dtDate);
    DescribeParam(*function->Result, "", kParamModeResult, dtInteger);
    function->ApplyDefaultGrants();
    catalog.DefaultSchema->Functions->AddObject(function.get());
    function.release();
    auto procedure = std::make_unique<TBRNProcedure>(&catalog);
    procedure->Name = "Tidy";
    procedure->SetLockNumber(catalog.NextRoutineLockNumber());
    procedure->ApplyDefaultGrants();
    catalog.DefaultSchema->Procedures->AddObject(procedure.get());
    procedure.release();
  });
  // PROCEDURE_CAT, PROCEDURE_NAME, NUM_INPUT_PARAMS, NUM_OUTPUT_PARAMS,
  // NUM_RESULT_SETS, PROCEDURE_TYPE, IMPLEMENTATION.
  EXPECT_EQ(Read("SQLProcedures", {1, 3, 4, 5, 6, 8, 9}),
            (Rows{{"Shop", "Twice", "2", "2", "0", "2", "SQL"},
                  {"Shop", "Tidy", "0", "0", "0", "1", "SQL"}}));
  // PROCEDURE_NAME, COLUMN_NAME, COLUMN_TYPE, DATA_TYPE, TYPE_NAME,
  // COLUMN_SIZE, COLUMN_DEF, CHAR_OCTET_LENGTH, ORDINAL_POSITION,
  // IS_NULLABLE.
  EXPECT_EQ(Read("SQLProcedureColumns", {3, 4, 5, 6, 7, 8, 14, 17, 18, 19}),
            (Rows{{"Twice", "A", "1", "4", "INTEGER", "10", kNull, kNull, "0", "YES"},
                  {"Twice", "B", "2", "12", "VARCHAR", "12", kNull, "1024", "1", "YES"},
                  {"Twice", "C", "4", "91", "DATE", "10", kNull, kNull, "2", "YES"}}));
}

TEST_F(OdbcTableTest, APlainUserSeesOnlyHisTablesAndGrants) {
  for (const std::string name : {"Items", "Orders"}) {
    CreateTable(name, [&](TBRNBaseTable* table) {
      AddConstraint(table, name + "Key", kConstraintPrimaryKey, kIndexPrimaryKey);
    });
    Db->RevokePrivilege("Public", name, 0, pkSelect);
  }
  UpdateCatalog([&](TBRNCatalog& catalog) {
    auto procedure = std::make_unique<TBRNProcedure>(&catalog);
    procedure->Name = "Tidy";
    procedure->SetLockNumber(catalog.NextRoutineLockNumber());
    AddParam(*procedure, "A", kParamModeIn, dtInteger);
    catalog.DefaultSchema->Procedures->AddObject(procedure.get());
    procedure.release();
  });
  CreateUser("Ann");
  Db->GrantPrivilege("Ann", "Orders", 0, pkSelect);
  TBRNLocalDatabaseManager* annDb = nullptr;
  std::unique_ptr<TBRNLocalSessionManager> ann = LoginAs("Ann", annDb);
  EXPECT_EQ(Read(*annDb, "SQLTables", {3}), (Rows{{"Orders"}}));
  EXPECT_EQ(Read(*annDb, "SQLColumns", {3, 4}), (Rows{{"Orders", "ID"}, {"Orders", "Name"}}));
  EXPECT_EQ(Read(*annDb, "SQLPrimaryKeys", {3, 6}), (Rows{{"Orders", "OrdersKey"}}));
  EXPECT_EQ(Read(*annDb, "SQLStatistics", {3, 6}), (Rows{{"Orders", "OrdersKey"}}));
  // A routine without a grant to Ann or Public.
  EXPECT_EQ(Read("SQLProcedures", {3}), (Rows{{"Tidy"}}));
  EXPECT_EQ(Read("SQLProcedureColumns", {3, 4}), (Rows{{"Tidy", "A"}}));
  EXPECT_TRUE(Read(*annDb, "SQLProcedures").empty());
  EXPECT_TRUE(Read(*annDb, "SQLProcedureColumns").empty());
  // TABLE_NAME, GRANTOR, GRANTEE, PRIVILEGE: Ann's and Public's grants only.
  const Rows grants = Read(*annDb, "SQLTablePrivileges", {3, 4, 5, 6});
  EXPECT_EQ(grants, (Rows{{"Orders", "System", "Public", "Insert"},
                          {"Orders", "System", "Public", "Update"},
                          {"Orders", "System", "Public", "Delete"},
                          {"Orders", "Administrator", "Ann", "Select"}}));
  EXPECT_GT(Read("SQLTablePrivileges").size(), grants.size());
}

TEST(OdbcTypesTest, TypesShowTheirOdbcCodesAndLiterals) {
  TestEngine env;
  auto session = std::make_unique<ConfigurationTablesSession>(&env.Engine);
  session->OpenSession("host", "Tester", "");
  session->Login("Administrator", "GlenHarbor");
  // TYPE_NAME, DATA_TYPE, COLUMN_SIZE, LITERAL_PREFIX, LITERAL_SUFFIX,
  // CREATE_PARAMS, CASE_SENSITIVE, FIXED_PREC_SCALE, LOCAL_TYPE_NAME,
  // MINIMUM_SCALE, MAXIMUM_SCALE, SQL_DATA_TYPE, SQL_DATETIME_SUB,
  // NUM_PREC_RADIX, INTERVAL_PRECISION.
  const std::vector<int32_t> shape{1, 2, 3, 4, 5, 6, 8, 11, 13, 14, 15, 16, 17, 18, 19};
  const Rows rows = session->ReadConfiguration("SQLTypes", shape);
  auto find = [&rows](const std::string& name) {
    for (const auto& row : rows) {
      if (row[0] == name) return row;
    }
    return std::vector<std::string>{};
  };
  EXPECT_EQ(find("VARCHAR"),
            (std::vector<std::string>{"VARCHAR", "12", "1024", "'", "'", "length", "1", "0",
                                      "VARCHAR", kNull, kNull, "12", "0", kNull, kNull}));
  EXPECT_EQ(find("DECIMAL"),
            (std::vector<std::string>{"DECIMAL", "3", "20", kNull, kNull, "precision;scale", "0",
                                      "1", "DECIMAL", "0", "4", "3", "0", "10", kNull}));
  EXPECT_EQ(find("DATE"),
            (std::vector<std::string>{"DATE", "91", "10", "DATE '", "'", kNull, "0", "0", "DATE",
                                      kNull, kNull, "9", "1", kNull, kNull}));
  EXPECT_EQ(find("INTERVAL DAY TO SECOND"),
            (std::vector<std::string>{"INTERVAL DAY TO SECOND", "110", "26", "INTERVAL '",
                                      "' DAY TO SECOND", kNull, "0", "0", "INTERVAL DAY TO SECOND",
                                      "3", "3", "10", "10", kNull, "20"}));
  EXPECT_EQ(rows.size(), static_cast<size_t>(session->Config->DataTypes->Count()));

  session->SetODBCVersion(2);
  session->ConfigurationDatabase->SystemTables.Invalidate(TBRNSystemTableKind::Configuration);
  const Rows old = session->ReadConfiguration("SQLTypes", {1, 2});
  EXPECT_NE(std::find(old.begin(), old.end(), std::vector<std::string>{"DATE", "9"}), old.end());
}

}  // namespace
}  // namespace brn::testing

// The session facts a query can ask for: version, user, database,
// transaction state and the last identity value.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "execution/queries/query_test_support.h"
#include "foundation/text/string_list.h"

namespace brn::testing {
namespace {

using ResultRows = std::vector<std::vector<std::string>>;

struct SessionFactsTest : QueryTest {
  void SetUp() override {
    TBRNBaseTable* table = Shop->CreateTable("Tickets");
    try {
      table->AddRowIDColumn();
      auto column = std::make_unique<TBRNColumn>(Shop->Catalog.get());
      column->Name = "No";
      column->SetDataType(dtInteger);
      column->SetIdentity(true);
      table->Columns->AddObject(column.get());
      column.release();
      column = std::make_unique<TBRNColumn>(Shop->Catalog.get());
      column->Name = "Text";
      column->SetDataType(dtChar);
      column->SetLength(8);
      table->Columns->AddObject(column.get());
      column.release();
      Shop->CommitCreateTable(table);
    } catch (...) {
      Shop->RollbackCreateTable(table);
      throw;
    }
    CreateTable("Other", {{"ID", dtInteger}});
  }
};

TEST_F(SessionFactsTest, FactsOfTheSessionAndItsDatabase) {
  EXPECT_EQ(Query("SELECT CURRENT_VERSION, CURRENT_USER, CURRENT_DATABASE"),
            (ResultRows{{"2.14", "Administrator", "Shop"}}));
  Insert("Tickets", {{std::monostate{}, std::string("a")},
                     {std::monostate{}, std::string("b")},
                     {std::monostate{}, std::string("c")}});
  EXPECT_EQ(Query("SELECT LASTIDENTITY('Tickets', 'No'), LASTIDENTITY('Tickets', 'Text'), "
                  "LASTIDENTITY('Nothing', 'No'), LASTIDENTITY('Tickets', 'Nothing')"),
            (ResultRows{{"3", "0", "0", "0"}}));
}

TEST_F(SessionFactsTest, TransactionState) {
  const std::string sql =
      "SELECT INTRANSACTION, INTRANSACTION('Tickets'), INTRANSACTION('Other'), "
      "INTRANSACTION('Nothing')";
  EXPECT_EQ(Query(sql), (ResultRows{{"FALSE", "FALSE", "FALSE", "FALSE"}}));
  TBRNStringsList tables;
  tables.Add("Tickets");
  Shop->StartTransaction(tables, -1);
  EXPECT_EQ(Query(sql), (ResultRows{{"TRUE", "TRUE", "FALSE", "FALSE"}}));
  Shop->Rollback();
  EXPECT_EQ(Query(sql), (ResultRows{{"FALSE", "FALSE", "FALSE", "FALSE"}}));
}

}  // namespace
}  // namespace brn::testing

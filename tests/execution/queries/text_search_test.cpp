// CONTAINS and CONTAINS ANY evaluated row by row, where no filter of the
// column's table answers them from the text index.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "execution/queries/query_test_support.h"
#include "metadata/catalog/indexes.h"

namespace brn::testing {
namespace {

using ResultRows = std::vector<std::vector<std::string>>;

struct TextSearchTest : QueryTest {
  void SetUp() override {
    TBRNBaseTable* table = Shop->CreateTable("Docs");
    try {
      table->AddRowIDColumn();
      for (auto [name, type, length] : {std::tuple{"ID", dtInteger, 0}, {"W", dtChar, 40}}) {
        auto column = std::make_unique<TBRNColumn>(Shop->Catalog.get());
        column->Name = name;
        column->SetDataType(type);
        if (length != 0) column->SetLength(length);
        table->Columns->AddObject(column.get());
        column.release();
      }
      AddTableKey(table, "PK", kConstraintPrimaryKey, {"ID"});
      AddTableIndex(table, "Words", {"W"}, kIndexText);
      Shop->CommitCreateTable(table);
    } catch (...) {
      Shop->RollbackCreateTable(table);
      throw;
    }
    Insert("Docs", {{int64_t(1), std::string("foo bar")},
                    {int64_t(2), std::string("foo")},
                    {int64_t(3), std::string("bar baz")},
                    {int64_t(4), std::string("qux")},
                    {int64_t(5), std::monostate{}},
                    {int64_t(6), std::string("foobar")}});
  }

  // The rows the condition selects when an OR with a condition on another
  // table of a join leaves it to be evaluated on each joined row.
  std::string Selected(const std::string& condition) {
    std::string ids;
    for (const auto& row : Query("SELECT a.ID FROM Docs AS a, Docs AS b WHERE a.ID = b.ID AND (a." +
                                 condition + " OR b.ID = 99) ORDER BY a.ID"))
      ids += row.at(0);
    return ids;
  }
};

TEST_F(TextSearchTest, EachRowIsSearchedByItsWords) {
  const struct {
    const char* condition;
    const char* rows;
  } cases[] = {
      {"W CONTAINS 'foo bar'", "1"},
      {"W CONTAINS ANY 'foo bar'", "123"},
      {"W CONTAINS 'foo*'", "126"},
      {"W CONTAINS ANY 'qu* baz'", "34"},
      // "*" inside a word matches any run of characters.
      {"W CONTAINS 'f*o'", "12"},
      {"W CONTAINS 'b*r'", "13"},
      // A search text without words selects nothing.
      {"W CONTAINS ''", ""},
      {"W CONTAINS ANY '  '", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.condition);
    try {
      EXPECT_EQ(Selected(c.condition), c.rows);
    } catch (const EBRNException& error) {
      ADD_FAILURE() << error.what();
    }
  }
}

}  // namespace
}  // namespace brn::testing

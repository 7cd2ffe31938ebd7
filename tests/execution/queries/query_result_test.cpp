// Query results over tables filled directly: the shapes of the result
// builder, edge results, INTO and the scalar check.
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "execution/queries/query_manager.h"
#include "execution/queries/query_test_support.h"
#include "foundation/values/param_value.h"

namespace brn::testing {
namespace {

using ResultRows = std::vector<std::vector<std::string>>;

struct ResultTest : QueryTest {
  ResultTest() {
    CreateTable("Items", {{"ID", dtInteger}, {"Kind", dtChar, 10}, {"Qty", dtInteger}});
    Insert("Items", {{int64_t(1), std::string("a"), int64_t(5)},
                     {int64_t(2), std::string("b"), int64_t(7)},
                     {int64_t(3), std::string("a"), int64_t(5)},
                     {int64_t(4), std::string("c"), Cell()},
                     {int64_t(5), std::string("b"), int64_t(1)}});
    CreateTable("Empty", {{"ID", dtInteger}, {"Qty", dtInteger}});
  }
};

TEST_F(ResultTest, EachShapeOfTheBuilderGivesItsRows) {
  struct Case {
    std::string Sql;
    ResultRows Expected;
  };
  const std::vector<Case> cases = {
      {"SELECT ID FROM Items WHERE Qty > 4 ORDER BY ID DESC", {{"3"}, {"2"}, {"1"}}},
      {"SELECT Kind, COUNT(*), SUM(Qty) FROM Items GROUP BY Kind ORDER BY Kind",
       {{"a", "2", "10"}, {"b", "2", "8"}, {"c", "1", "NULL"}}},
      {"SELECT Kind FROM Items GROUP BY Kind HAVING COUNT(*) > 1 ORDER BY Kind", {{"a"}, {"b"}}},
      {"SELECT DISTINCT Kind, Qty FROM Items ORDER BY Kind, Qty",
       {{"a", "5"}, {"b", "1"}, {"b", "7"}, {"c", "NULL"}}},
      {"SELECT COUNT(*), MIN(Qty), MAX(Qty) FROM Items", {{"5", "1", "7"}}},
      {"SELECT COUNT(*), SUM(Qty) FROM Empty", {{"0", "NULL"}}},
      {"SELECT COUNT(*) FROM Items WHERE ID > 100", {{"0"}}},
      {"SELECT ID FROM Items WHERE Qty IS NULL", {{"4"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Sql);
    EXPECT_EQ(Query(c.Sql), c.Expected);
  }
}

// A live result computes its expression columns row by row from the
// table's current row.
TEST_F(ResultTest, ALiveResultComputesItsExpressionColumns) {
  TBRNLocalStatementManager* statement =
      Prepare("SELECT ID, Qty * 2, Kind FROM Items WHERE ID >= 2");
  TBRNCursor* cursor = statement->ExecuteStatement();
  EXPECT_TRUE(statement->GetSensitive());
  EXPECT_EQ(CursorRows(*cursor),
            (ResultRows{{"2", "14", "b"}, {"3", "10", "a"}, {"4", "NULL", "c"}, {"5", "2", "b"}}));
  Free(statement);
}

// Groups a and b both sum to 10: DISTINCT leaves one row, after HAVING
// dropped group c.
TEST_F(ResultTest, DistinctWithGroupByRemovesDuplicatesAfterHaving) {
  Insert("Items", {{int64_t(6), std::string("b"), int64_t(2)}});
  EXPECT_EQ(Query("SELECT DISTINCT SUM(Qty) FROM Items GROUP BY Kind HAVING SUM(Qty) > 4"),
            (ResultRows{{"10"}}));
}

}  // namespace
}  // namespace brn::testing

namespace brn::testing {
namespace {

std::vector<std::string> sortedColumn(const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::string> values;
  for (const auto& row : rows) values.push_back(row.at(0));
  std::sort(values.begin(), values.end());
  return values;
}

// M holds 1 three times, 2 twice, 3 once and NULL twice; N holds 1 once, 2
// three times, 4 once and NULL once.
TEST_F(QueryTest, SetOperationsKeepTheMultiplicitiesTheyDefine) {
  CreateTable("M", {{"ID", dtInteger}, {"V", dtInteger}});
  CreateTable("N", {{"ID", dtInteger}, {"V", dtInteger}});
  Insert("M", {{int64_t(1), int64_t(1)},
               {int64_t(2), int64_t(1)},
               {int64_t(3), int64_t(1)},
               {int64_t(4), int64_t(2)},
               {int64_t(5), int64_t(2)},
               {int64_t(6), int64_t(3)},
               {int64_t(7), Cell()},
               {int64_t(8), Cell()}});
  Insert("N", {{int64_t(1), int64_t(1)},
               {int64_t(2), int64_t(2)},
               {int64_t(3), int64_t(2)},
               {int64_t(4), int64_t(2)},
               {int64_t(5), int64_t(4)},
               {int64_t(6), Cell()}});
  struct Case {
    const char* Operation;
    std::vector<std::string> Expected;
  };
  const std::vector<Case> cases = {
      {"UNION ALL",
       {"1", "1", "1", "1", "2", "2", "2", "2", "2", "3", "4", "NULL", "NULL", "NULL"}},
      {"UNION", {"1", "2", "3", "4", "NULL"}},
      {"EXCEPT ALL", {"1", "1", "3", "NULL"}},
      {"EXCEPT", {"3"}},
      // min(m, n) copies of each row.
      {"INTERSECT ALL", {"1", "2", "2", "NULL"}},
      {"INTERSECT", {"1", "2", "NULL"}},
  };
  for (const Case& c : cases) {
    const std::string sql = std::string("SELECT V FROM M WHERE ID > 0 ") + c.Operation +
                            " SELECT V FROM N WHERE ID > 0";
    SCOPED_TRACE(sql);
    EXPECT_EQ(sortedColumn(Query(sql)), c.Expected);
  }
}

// Rows equal on the 128 columns that the duplicate index keys differ only
// beyond them: both stay; a row equal on every column is a duplicate.
TEST_F(QueryTest, DistinctComparesEveryColumnBeyondTheIndexedOnes) {
  std::vector<ColumnSpec> columns{{"ID", dtInteger}};
  std::string list;
  for (int32_t i = 1; i <= 130; ++i) {
    columns.push_back({"C" + std::to_string(i), dtInteger});
    list += (i > 1 ? ", C" : "C") + std::to_string(i);
  }
  CreateTable("Wide", columns);
  std::vector<CellRow> rows;
  for (int64_t id = 1; id <= 3; ++id) {
    CellRow row{id};
    for (int32_t i = 1; i <= 130; ++i) row.push_back(i == 130 ? Cell(id == 2 ? 2 : 1) : Cell(0));
    rows.push_back(row);
  }
  Insert("Wide", rows);
  const auto result = Query("SELECT DISTINCT " + list + " FROM Wide WHERE ID > 0");
  ASSERT_EQ(result.size(), 2u);
  EXPECT_EQ(result[0].back() == "1" ? result[1].back() : result[0].back(), "2");
  EXPECT_EQ(Query("SELECT " + list + " FROM Wide WHERE ID = 1 UNION SELECT " + list +
                  " FROM Wide WHERE ID > 1")
                .size(),
            2u);
}

// SELECT ... INTO assigns the first row of the result to its targets (the
// statement's dynamic parameters), in order, and answers no cursor: none
// stays registered in the database, whether the result was live or
// materialised. Without a row the targets become NULL.
TEST_F(ResultTest, IntoTakesTheFirstRowAndReturnsNoCursor) {
  const auto cursorCount = [this] {
    int32_t count = 0;
    int32_t handle = 0;
    TBRNHandleObject* object = nullptr;
    while (Shop->Cursors.NextObject(handle, object)) ++count;
    return count;
  };
  struct Case {
    std::string Sql;
    std::vector<std::string> Targets;
  };
  const std::vector<Case> cases = {
      {"SELECT ID, Qty INTO ?, ? FROM Items WHERE ID >= 2", {"2", "7"}},
      {"SELECT ID, Qty INTO ?, ? FROM Items WHERE Qty IS NOT NULL ORDER BY Qty, ID DESC",
       {"5", "1"}},
      {"SELECT Kind, COUNT(*) INTO ?, ? FROM Items GROUP BY Kind ORDER BY Kind DESC", {"c", "1"}},
      {"SELECT Qty, ID INTO ?, ? FROM Items WHERE ID > 100", {"NULL", "NULL"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Sql);
    const int32_t before = cursorCount();
    TBRNLocalStatementManager* statement = Prepare(c.Sql);
    ASSERT_EQ(statement->Params->GetCount(), 2);
    for (int repeat = 0; repeat < 2; ++repeat) {
      EXPECT_EQ(statement->ExecuteStatement(), nullptr);
      EXPECT_EQ(cursorCount(), before);
      std::vector<std::string> targets;
      for (int32_t i = 0; i < 2; ++i) targets.push_back(CellText(*statement->Params->GetItem(i)));
      EXPECT_EQ(targets, c.Targets) << "execution " << repeat + 1;
    }
    Free(statement);
  }
  // A subquery never takes INTO.
  EXPECT_THROW(Prepare("SELECT ID FROM Items WHERE ID IN (SELECT ID INTO ? FROM Items)"),
               EBRNException);
}

// Each referenced table's own change count and identity are compared: two
// recorded counts that sum as before but belong to other tables still
// rebuild.
TEST_F(QueryTest, SourcesChangeByEachTablesOwnCountAndIdentity) {
  CreateTable("A", {{"ID", dtInteger}});
  CreateTable("B", {{"ID", dtInteger}});
  Insert("A", {{int64_t(1)}});
  Insert("B", {{int64_t(1)}, {int64_t(2)}});
  TBRNLocalStatementManager* statement = Prepare("SELECT A.ID FROM A, B WHERE A.ID = B.ID");
  statement->ExecuteStatement();
  TBRNQueryManager& query = *statement->Query;
  ASSERT_EQ(query.ReferencedTables.size(), 2u);
  EXPECT_FALSE(query.SourcesChanged());

  auto& first = query.ReferencedTables[0];
  auto& second = query.ReferencedTables[1];
  ASSERT_NE(first.ChangeCount, second.ChangeCount);
  std::swap(first.ChangeCount, second.ChangeCount);
  EXPECT_TRUE(query.SourcesChanged()) << "equal sums of other tables' counts";
  EXPECT_FALSE(query.SourcesChanged());

  first.ObjectID += 1000;
  EXPECT_TRUE(query.SourcesChanged()) << "another table under the same manager";
  Free(statement);
}

}  // namespace
}  // namespace brn::testing

namespace brn::testing {
namespace {

// A table made without any index (not even the internal key) reads in
// physical row order, whatever shape the query takes.
TEST_F(QueryTest, ATableWithoutAnyIndexReadsInRowOrder) {
  CreateTable("Loose", {{"A", dtInteger}, {"B", dtChar, 10}}, false);
  Insert("Loose", {{int64_t(3), std::string("c")},
                   {int64_t(1), std::string("a")},
                   {int64_t(2), std::string("b")}});
  const std::vector<std::pair<std::string, std::vector<std::vector<std::string>>>> cases = {
      {"SELECT A, B FROM Loose", {{"3", "c"}, {"1", "a"}, {"2", "b"}}},
      {"SELECT * FROM Loose", {{"3", "c"}, {"1", "a"}, {"2", "b"}}},
      {"SELECT B FROM Loose WHERE A >= 2", {{"c"}, {"b"}}},
      {"SELECT A FROM Loose ORDER BY A", {{"1"}, {"2"}, {"3"}}},
  };
  for (const auto& [sql, rows] : cases) {
    try {
      EXPECT_EQ(Query(sql), rows) << sql;
    } catch (const std::exception& error) {
      ADD_FAILURE() << sql << ": " << error.what();
    }
  }
}

}  // namespace
}  // namespace brn::testing

namespace brn::testing {
namespace {

// Restores the process-wide build memory limit when a test ends.
struct BuildMemoryLimitScope {
  explicit BuildMemoryLimitScope(int64_t bytes) : saved(TBRNQueryManager::GetBuildMemoryLimit()) {
    TBRNQueryManager::SetBuildMemoryLimit(bytes);
  }
  ~BuildMemoryLimitScope() { TBRNQueryManager::SetBuildMemoryLimit(saved); }
  BuildMemoryLimitScope(const BuildMemoryLimitScope&) = delete;
  BuildMemoryLimitScope& operator=(const BuildMemoryLimitScope&) = delete;
  int64_t saved;
};

// Groups are gathered in memory until the limit, then the build goes on in
// the result table: the groups' rows and what their aggregates saw (the
// DISTINCT values are kept per group row) must not depend on where the
// switch falls.
TEST_F(QueryTest, GroupsAreTheSameWhereverTheBuildKeepsThem) {
  CreateTable("Sales",
              {{"ID", dtInteger}, {"Shop", dtInteger}, {"Qty", dtInteger}, {"Tag", dtChar, 4}});
  std::vector<CellRow> rows;
  struct Group {
    int64_t count = 0;
    int64_t sum = 0;
    std::set<int64_t> quantities;
    std::set<std::string> tags;
  };
  std::map<int64_t, Group> oracle;
  for (int64_t id = 1; id <= 300; ++id) {
    const int64_t shop = id * 7 % 23;
    // Values each group sees again later (a group that lost or borrowed
    // DISTINCT values counts wrong), tags that differ by group.
    const int64_t qty = id % 5;
    const std::string tag = "t" + std::to_string(id % 3 + shop % 4);
    rows.push_back({id, shop, qty, tag});
    Group& group = oracle[shop];
    ++group.count;
    group.sum += qty;
    group.quantities.insert(qty);
    group.tags.insert(tag);
  }
  Insert("Sales", rows);
  ResultRows expected;
  for (const auto& [shop, group] : oracle) {
    expected.push_back({std::to_string(shop), std::to_string(group.count),
                        std::to_string(group.sum), std::to_string(group.quantities.size()),
                        std::to_string(group.tags.size()), *group.tags.rbegin()});
  }
  const std::string sql =
      "SELECT Shop, COUNT(*), SUM(Qty), COUNT(DISTINCT Qty), COUNT(DISTINCT Tag), MAX(Tag) "
      "FROM Sales GROUP BY Shop ORDER BY Shop";
  // No group in memory beyond the first, a few, and all of them.
  for (int64_t limit : {int64_t(0), int64_t(2000), TBRNQueryManager::GetBuildMemoryLimit()}) {
    SCOPED_TRACE(limit);
    BuildMemoryLimitScope scope(limit);
    EXPECT_EQ(Query(sql), expected);
  }
}

// The first rows of an ordered RANGE are kept in memory when they fit;
// otherwise every row goes into the result table. The rows shown are the
// same.
TEST_F(QueryTest, AnOrderedRangeShowsTheSameRowsWhetherOrNotItsRowsFit) {
  CreateTable("Ranked", {{"ID", dtInteger}, {"Score", dtInteger}});
  std::vector<CellRow> rows;
  for (int64_t id = 1; id <= 60; ++id) rows.push_back({id, id % 4});
  Insert("Ranked", rows);
  // Score descending, equal scores in the order the rows are read.
  ResultRows expected;
  for (int64_t score = 3; score >= 0 && expected.size() < 25; --score)
    for (int64_t id = 1; id <= 60 && expected.size() < 25; ++id)
      if (id % 4 == score) expected.push_back({std::to_string(id), std::to_string(score)});
  expected.erase(expected.begin(), expected.begin() + 9);
  const struct {
    int64_t limit;
    int32_t resultRows;
  } cases[] = {{0, 60}, {TBRNQueryManager::GetBuildMemoryLimit(), 25}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.limit);
    BuildMemoryLimitScope scope(c.limit);
    TBRNLocalStatementManager* statement =
        Prepare("SELECT ID, Score FROM Ranked ORDER BY Score DESC RANGE 10 TO 25");
    TBRNCursor* cursor = statement->ExecuteStatement();
    EXPECT_EQ(CursorRows(*cursor), expected);
    EXPECT_EQ(dynamic_cast<TBRNTableManager*>(statement->Query->ResultTable)->GetRowCount(),
              c.resultRows);
    Free(statement);
  }
}

}  // namespace
}  // namespace brn::testing

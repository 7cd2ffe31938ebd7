// Joined queries end to end against results computed here: a 3-table join
// with WHERE, GROUP BY, HAVING and ORDER BY DESC, the driver the optimizer
// picks, NOJOINOPTIMIZE, and outer joins without a match.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "execution/queries/query_manager.h"
#include "execution/queries/query_test_support.h"

namespace brn::testing {
namespace {

using ResultRows = std::vector<std::vector<std::string>>;

std::string planOf(TBRNLocalStatementManager* statement) {
  std::string plan;
  statement->GetPlan(plan);
  return plan;
}

// Regions (1,000 rows), Shops (10,000) and Sales (50,000): every shop lies
// in region ID % 1000 + 1, every sale in shop ID % 10000 + 1.
struct JoinTest : QueryTest {
  static constexpr int64_t kRegions = 1000;
  static constexpr int64_t kShops = 10000;
  static constexpr int64_t kSales = 50000;

  JoinTest() {
    CreateTable("Regions", {{"ID", dtInteger}, {"Grp", dtInteger}});
    CreateTable("Shops", {{"ID", dtInteger}, {"Region", dtInteger}}, true, {"Region"});
    CreateTable("Sales", {{"ID", dtInteger}, {"Shop", dtInteger}, {"Amount", dtInteger}}, true,
                {"Shop"});
    std::vector<CellRow> rows;
    for (int64_t id = 1; id <= kRegions; ++id) rows.push_back({id, id % 17});
    Insert("Regions", rows);
  }
  // The shops and sales (only the tests that join them need them).
  void FillShopsAndSales() {
    std::vector<CellRow> rows;
    for (int64_t id = 1; id <= kShops; ++id) rows.push_back({id, id % kRegions + 1});
    Insert("Shops", rows);
    rows.clear();
    for (int64_t id = 1; id <= kSales; ++id) rows.push_back({id, id % kShops + 1, id % 23});
    Insert("Sales", rows);
  }

  // Runs sql with a plan; its rows, and the plan in plan.
  ResultRows Run(const std::string& sql, std::string& plan) {
    TBRNLocalStatementManager* statement = Prepare(sql);
    statement->RequestPlan = true;
    ResultRows rows;
    try {
      if (TBRNCursor* cursor = statement->ExecuteStatement()) rows = CursorRows(*cursor);
      plan = planOf(statement);
    } catch (...) {
      Free(statement);
      throw;
    }
    Free(statement);
    return rows;
  }
};

TEST_F(JoinTest, AThreeTableJoinMatchesItsOracleWithTheSmallestFilteredTableDriving) {
  FillShopsAndSales();
  // The oracle: the same join, filter, grouping and order in plain C++.
  std::map<int64_t, std::pair<int64_t, int64_t>, std::greater<>> groups;
  for (int64_t sale = 1; sale <= kSales; ++sale) {
    const int64_t amount = sale % 23;
    const int64_t shop = sale % kShops + 1;
    const int64_t region = shop % kRegions + 1;
    if (amount <= 5 || region > 200) continue;
    auto& group = groups[region % 17];
    group.first += 1;
    group.second += amount;
  }
  ResultRows expected;
  for (const auto& [grp, totals] : groups)
    if (totals.first > 100)
      expected.push_back(
          {std::to_string(grp), std::to_string(totals.first), std::to_string(totals.second)});
  ASSERT_FALSE(expected.empty());

  const std::string sql =
      "SELECT r.Grp, COUNT(*), SUM(s.Amount) FROM Sales s "
      "INNER JOIN Shops h ON s.Shop = h.ID INNER JOIN Regions r ON h.Region = r.ID "
      "WHERE r.ID <= 200 AND s.Amount > 5 GROUP BY r.Grp HAVING COUNT(*) > 100 "
      "ORDER BY r.Grp DESC";
  std::string plan;
  EXPECT_EQ(Run(sql, plan), expected);
  EXPECT_NE(plan.find("The optimizer successfully re-ordered the joins"), std::string::npos)
      << plan;
  const size_t reordered = plan.find("into this more optimal order:");
  ASSERT_NE(reordered, std::string::npos) << plan;
  EXPECT_NE(plan.find("The driver table was the Regions (r) table", reordered), std::string::npos)
      << plan;

  // The declared order drives with NOJOINOPTIMIZE and gives the same rows.
  EXPECT_EQ(Run(sql + " NOJOINOPTIMIZE", plan), expected);
  EXPECT_NE(plan.find("The driver table was the Sales (s) table"), std::string::npos) << plan;
  EXPECT_NE(plan.find("The NOJOINOPTIMIZE clause was used"), std::string::npos) << plan;
}

TEST_F(JoinTest, AnOuterJoinWithoutAMatchGivesNullsAndItsTableNeverDrives) {
  CreateTable("Notes", {{"ID", dtInteger}, {"Region", dtInteger}}, true, {"Region"});
  Insert("Notes", {{int64_t(1), int64_t(2)}});
  std::string plan;
  EXPECT_EQ(Run("SELECT r.ID, n.ID FROM Regions r LEFT OUTER JOIN Notes n ON n.Region = r.ID "
                "WHERE r.ID <= 3 ORDER BY r.ID",
                plan),
            (ResultRows{{"1", "NULL"}, {"2", "1"}, {"3", "NULL"}}));
  EXPECT_NE(plan.find("The driver table was the Regions (r) table"), std::string::npos) << plan;
  EXPECT_EQ(plan.find("The driver table was the Notes (n) table"), std::string::npos) << plan;
}

}  // namespace
}  // namespace brn::testing

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

// One statement executed again after its tables changed sizes: each
// execution chooses the driver afresh from the declared join order (the
// plan's first join description is always the declared one), and the rows
// match the join computed here whichever table drives.
TEST_F(JoinTest, ReExecutionReordersFromTheDeclaredOrderWhenTheSizesChange) {
  CreateTable("Hubs", {{"ID", dtInteger}});
  CreateTable("Links", {{"ID", dtInteger}, {"Hub", dtInteger}}, true, {"Hub"});
  CreateTable("Ends", {{"ID", dtInteger}, {"Link", dtInteger}}, true, {"Link"});
  std::map<int64_t, int64_t> links;  // ID -> Hub
  std::map<int64_t, int64_t> ends;   // ID -> Link
  std::vector<CellRow> rows;
  for (int64_t id = 1; id <= 300; ++id) rows.push_back({id});
  Insert("Hubs", rows);
  int64_t hubs = 300;
  rows.clear();
  for (int64_t id = 1; id <= 100; ++id) {
    links[id] = id % 7 + 1;
    rows.push_back({id, links[id]});
  }
  Insert("Links", rows);
  const auto addEnds = [&](int64_t from, int64_t to) {
    std::vector<CellRow> added;
    for (int64_t id = from; id <= to; ++id) {
      ends[id] = id % 120 + 1;  // some point past the last link
      added.push_back({id, ends[id]});
    }
    Insert("Ends", added);
  };
  addEnds(1, 5);
  const auto oracle = [&] {
    ResultRows expected;
    for (const auto& [end, link] : ends) {
      auto found = links.find(link);
      if (found == links.end() || found->second > hubs) continue;
      expected.push_back(
          {std::to_string(found->second), std::to_string(link), std::to_string(end)});
    }
    return expected;
  };

  TBRNLocalStatementManager* statement = Prepare(
      "SELECT h.ID, l.ID, e.ID FROM Hubs h INNER JOIN Links l ON l.Hub = h.ID "
      "INNER JOIN Ends e ON e.Link = l.ID ORDER BY e.ID");
  statement->RequestPlan = true;
  // The rows, the declared and the chosen driver of one execution.
  struct Outcome {
    ResultRows Rows;
    std::string Declared;
    std::string Chosen;
  };
  const auto execute = [&] {
    Outcome outcome;
    TBRNCursor* cursor = statement->ExecuteStatement();
    if (cursor != nullptr) outcome.Rows = CursorRows(*cursor);
    const std::string plan = planOf(statement);
    const std::string marker = "The driver table was the ";
    const size_t declared = plan.find(marker);
    const size_t reordered = plan.find("into this more optimal order:");
    const size_t chosen = reordered == std::string::npos ? declared : plan.find(marker, reordered);
    const auto tableAt = [&](size_t at) {
      if (at == std::string::npos) return std::string("none");
      at += marker.size();
      return plan.substr(at, plan.find(' ', at) - at);
    };
    outcome.Declared = tableAt(declared);
    outcome.Chosen = tableAt(chosen);
    return outcome;
  };

  try {
    Outcome first = execute();
    EXPECT_EQ(first.Rows, oracle());
    EXPECT_EQ(first.Declared, "Hubs");
    EXPECT_EQ(first.Chosen, "Ends");

    // Now the hubs are few and the ends many: the declared order wins.
    Query("DELETE FROM Hubs WHERE ID > 3");
    hubs = 3;
    addEnds(6, 400);
    Outcome second = execute();
    EXPECT_EQ(second.Rows, oracle());
    EXPECT_EQ(second.Declared, "Hubs");
    EXPECT_EQ(second.Chosen, "Hubs");

    // And back: few ends again.
    Query("DELETE FROM Ends WHERE ID > 2");
    for (int64_t id = 3; id <= 400; ++id) ends.erase(id);
    Outcome third = execute();
    EXPECT_EQ(third.Rows, oracle());
    EXPECT_EQ(third.Declared, "Hubs");
    EXPECT_EQ(third.Chosen, "Ends");
  } catch (...) {
    Free(statement);
    throw;
  }
  Free(statement);
}

}  // namespace
}  // namespace brn::testing

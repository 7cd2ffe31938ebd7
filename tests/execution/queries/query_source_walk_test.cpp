// Insensitive builds that read their one source table straight from its
// rows: after another process deletes, updates and adds rows between two
// builds, each result is the one the table then holds (oracles computed
// here), over a table long enough for several read-ahead runs.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "execution/queries/query_test_support.h"

namespace brn::testing {
namespace {

using WalkRows = std::vector<std::vector<std::string>>;

struct WalkRow {
  int64_t Grp = 0;
  int64_t Val = 0;
};
using WalkTable = std::map<int64_t, WalkRow>;

struct SourceWalkTest : QueryTest {
  SourceWalkTest() {
    CreateTable("Walk", {{"ID", dtInteger}, {"Grp", dtInteger}, {"Val", dtInteger}});
    std::vector<CellRow> rows;
    for (int64_t id = 1; id <= 3000; ++id) {
      const WalkRow row{id % 37, (id * 7919) % 1000};
      rows.push_back({id, row.Grp, row.Val});
      data[id] = row;
    }
    Insert("Walk", rows);
  }

  // Runs sql in a forked process with a session of its own.
  int RunFromChild(const std::string& sql) {
    pid_t pid = Fork([&] {
      try {
        std::unique_ptr<TBRNLocalSessionManager> other = Env.OpenSession("Child");
        other->Login("Administrator", "GlenHarbor");
        TBRNDatabaseManager* shop = other->OpenDatabase("Shop", kBRNLockShared);
        auto* statement = static_cast<TBRNLocalStatementManager*>(
            static_cast<TBRNLocalDatabaseManager*>(shop)->PrepareStatement(sql));
        statement->ExecuteStatement();
        TBRNLocalStatementManager::FreeStatement(statement);
        other->CloseDatabase(shop);
      } catch (const std::exception& error) {
        std::fprintf(stderr, "child: %s\n", error.what());
        throw;
      }
      return 0;
    });
    return Wait(pid);
  }

  WalkTable data;
};

std::string WalkText(int64_t value) {
  return std::to_string(value);
}

TEST_F(SourceWalkTest, EachBuildReadsTheTableAsAnotherProcessLeftIt) {
  struct Case {
    const char* Sql;
    bool Sorted;  // the rows compare in any order
    std::function<WalkRows(const WalkTable&)> Oracle;
  };
  auto firstByValue = [](const WalkTable& table, bool (*keep)(const WalkRow&), bool descending,
                         size_t count) {
    std::vector<std::pair<int64_t, int64_t>> rows;  // value, id
    for (const auto& [id, row] : table)
      if (keep(row)) rows.push_back({row.Val, id});
    std::stable_sort(rows.begin(), rows.end(), [&](const auto& a, const auto& b) {
      if (a.first != b.first) return descending ? a.first > b.first : a.first < b.first;
      return descending ? a.second < b.second : a.second > b.second;
    });
    WalkRows result;
    for (size_t i = 0; i < rows.size() && i < count; ++i)
      result.push_back({WalkText(rows[i].second), WalkText(rows[i].first)});
    return result;
  };
  const std::vector<Case> cases = {
      {"SELECT ID, Val FROM Walk ORDER BY Val DESC, ID RANGE 1 TO 25", false,
       [&](const WalkTable& t) {
         return firstByValue(t, [](const WalkRow&) { return true; }, true, 25);
       }},
      {"SELECT ID, Val FROM Walk WHERE Grp = 5 ORDER BY Val, ID DESC RANGE 1 TO 10", false,
       [&](const WalkTable& t) {
         return firstByValue(t, [](const WalkRow& r) { return r.Grp == 5; }, false, 10);
       }},
      {"SELECT Grp, COUNT(*), SUM(Val) FROM Walk GROUP BY Grp", true,
       [](const WalkTable& t) {
         std::map<int64_t, std::pair<int64_t, int64_t>> groups;
         for (const auto& [id, row] : t) {
           groups[row.Grp].first += 1;
           groups[row.Grp].second += row.Val;
         }
         WalkRows result;
         for (const auto& [grp, counts] : groups)
           result.push_back({WalkText(grp), WalkText(counts.first), WalkText(counts.second)});
         return result;
       }},
      {"SELECT DISTINCT Grp FROM Walk WHERE Val < 20", true,
       [](const WalkTable& t) {
         std::map<int64_t, bool> seen;
         for (const auto& [id, row] : t)
           if (row.Val < 20) seen[row.Grp] = true;
         WalkRows result;
         for (const auto& [grp, yes] : seen) result.push_back({WalkText(grp)});
         return result;
       }},
      {"SELECT COUNT(*), MAX(Val) FROM Walk WHERE Grp <> 3", false,
       [](const WalkTable& t) {
         int64_t count = 0, most = -1;
         for (const auto& [id, row] : t)
           if (row.Grp != 3) {
             ++count;
             most = std::max(most, row.Val);
           }
         return WalkRows{{WalkText(count), WalkText(most)}};
       }},
  };
  auto rowsOf = [](TBRNLocalStatementManager* statement, bool sorted) {
    TBRNCursor* cursor = statement->ExecuteStatement();
    WalkRows rows = cursor != nullptr ? CursorRows(*cursor) : WalkRows{};
    if (sorted) std::sort(rows.begin(), rows.end());
    return rows;
  };
  auto expected = [&](const Case& c) {
    WalkRows rows = c.Oracle(data);
    if (c.Sorted) std::sort(rows.begin(), rows.end());
    return rows;
  };
  std::vector<TBRNLocalStatementManager*> statements;
  for (const Case& c : cases) {
    statements.push_back(Prepare(c.Sql));
    statements.back()->RequestSensitive = false;
    EXPECT_EQ(rowsOf(statements.back(), c.Sorted), expected(c)) << c.Sql;
  }

  ASSERT_EQ(RunFromChild("DELETE FROM Walk WHERE ID < 40 OR ID BETWEEN 100 AND 400 OR ID > 2990"),
            0);
  ASSERT_EQ(RunFromChild("UPDATE Walk SET Val = 999, Grp = 5 WHERE ID BETWEEN 1000 AND 1030"), 0);
  std::vector<CellRow> added;
  for (int64_t id = 3001; id <= 3100; ++id) {
    added.push_back({id, int64_t(id % 3), int64_t(1000 + id)});
  }
  ASSERT_EQ(InsertFromChild("Walk", added), 0);
  for (auto it = data.begin(); it != data.end();)
    it = it->first < 40 || (it->first >= 100 && it->first <= 400) || it->first > 2990
             ? data.erase(it)
             : std::next(it);
  for (int64_t id = 1000; id <= 1030; ++id) data[id] = WalkRow{5, 999};
  for (int64_t id = 3001; id <= 3100; ++id) data[id] = WalkRow{id % 3, 1000 + id};

  for (size_t i = 0; i < cases.size(); ++i)
    EXPECT_EQ(rowsOf(statements[i], cases[i].Sorted), expected(cases[i])) << cases[i].Sql;
  for (TBRNLocalStatementManager*& statement : statements) Free(statement);
}

}  // namespace
}  // namespace brn::testing

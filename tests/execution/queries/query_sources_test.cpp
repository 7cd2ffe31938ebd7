// The FROM sources of a query walked directly through the execution
// manager: query filters on the source cursors, the join order the
// optimiser picks, the nested-loop walk and the plan sections it writes.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "execution/evaluator/local_expr_evaluator.h"
#include "execution/handles/database_statement.h"
#include "execution/queries/execution_manager.h"
#include "execution/queries/query_test_support.h"
#include "sessions/databases/catalog_manager.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/query_layout.h"
#include "storage/rows/execution_seam.h"

namespace brn::testing {
namespace {

using RowList = std::vector<std::vector<std::string>>;

// Dept: 4 rows, D without employees. Emp: 12 rows, Dept (i - 1) % 3 + 1,
// Pay 100 i, indexed on Dept. Sale: 40 rows, Emp (j - 1) % 10 + 1 (Emp 11
// and 12 sold nothing), Amount j, indexed on Emp.
constexpr int kEmployees = 12;
constexpr int kSales = 40;

int64_t DeptOf(int64_t Emp) {
  return (Emp - 1) % 3 + 1;
}
int64_t EmpOf(int64_t Sale) {
  return (Sale - 1) % 10 + 1;
}
const char* DeptName(int64_t Dept) {
  static const char* const names[] = {"A", "B", "C", "D"};
  return names[Dept - 1];
}

// A compiled and prepared SELECT whose sources a bare execution manager
// walks; the select items and residual conditions are evaluated per
// joined row.
struct SourcesTest : QueryTest {
  SourcesTest() {
    CreateTable("Dept", {{"ID", dtInteger}, {"Name", dtChar, 10}});
    CreateTable("Emp", {{"ID", dtInteger}, {"Dept", dtInteger}, {"Pay", dtInteger}}, true,
                {"Dept"});
    CreateTable("Sale", {{"ID", dtInteger}, {"Emp", dtInteger}, {"Amount", dtInteger}}, true,
                {"Emp"});
    std::vector<CellRow> depts, emps, sales;
    for (int64_t d = 1; d <= 4; ++d) depts.push_back({d, std::string(DeptName(d))});
    for (int64_t e = 1; e <= kEmployees; ++e) emps.push_back({e, DeptOf(e), 100 * e});
    for (int64_t s = 1; s <= kSales; ++s) sales.push_back({s, EmpOf(s), s});
    Insert("Dept", depts);
    Insert("Emp", emps);
    Insert("Sale", sales);
  }
  ~SourcesTest() override { Close(); }

  TBRNLocalExprEvaluator& Evaluator() {
    return dynamic_cast<TBRNLocalExprEvaluator&>(*Session->Evaluator);
  }

  // Compiles and prepares sql; Manager walks its query node.
  void Open(const std::string& Sql) {
    Close();
    Statement = std::make_unique<TBRNDatabaseStatement>(*Shop);
    Statement->SetText(Sql);
    Shop->CatalogManager->BeginRead();
    try {
      Statement->Compile();
    } catch (...) {
      Shop->CatalogManager->EndRead();
      throw;
    }
    Shop->CatalogManager->EndRead();
    Context = std::make_unique<TBRNEvaluatorContext>();
    Context->SetDatabaseManager(Shop);
    TBRNEvaluationScope scope(Evaluator(), *Context);
    Evaluator().Prepare(Statement->Root);
    Manager = std::make_unique<TBRNExecutionManager>(Evaluator(), Statement->Root);
  }
  void Close() {
    Manager.reset();
    if (Statement && Context) {
      TBRNEvaluationScope scope(Evaluator(), *Context);
      Evaluator().Unprepare(Statement->Root);
    }
    Statement.reset();
    Context.reset();
  }

  TBRNExprToken* Query() const { return Statement->Root; }
  std::string Driver() const { return TBRNExecutionManager::FromList(Query())->Argument(0)->Name; }

  // Every joined row that passes the residual conditions, as the select
  // items' texts, sorted.
  RowList Walk(bool WritePlan = false) {
    Manager->PrepareSources(Query(), WritePlan);
    TBRNExprToken* driver = TBRNExecutionManager::FromList(Query())->Argument(0);
    TBRNExprToken* select = Query()->Argument(qpSelectList);
    TBRNExprToken* where = Query()->Argument(qpWhere);
    RowList rows;
    TBRNEvaluationScope scope(Evaluator(), *Manager->Context);
    bool go = true;
    for (bool on = Manager->FirstJoinedRow(driver, false, go); on && go;
         on = Manager->NextJoinedRow(driver, false, go)) {
      bool passes = true;
      if (where != nullptr) {
        for (TBRNExprToken* condition : where->Arguments()) {
          Evaluator().Evaluate(condition);
          if (condition->Value->GetNull() || !condition->Value->GetAsBoolean()) passes = false;
        }
      }
      if (!passes) continue;
      std::vector<std::string> row;
      for (TBRNExprToken* item : select->Arguments()) {
        Evaluator().Evaluate(item->Argument(0));
        row.push_back(CellText(*item->Argument(0)->Value));
      }
      rows.push_back(std::move(row));
    }
    std::sort(rows.begin(), rows.end());
    return rows;
  }

  std::unique_ptr<TBRNDatabaseStatement> Statement;
  std::unique_ptr<TBRNEvaluatorContext> Context;
  std::unique_ptr<TBRNExecutionManager> Manager;
};

RowList Sorted(RowList rows) {
  std::sort(rows.begin(), rows.end());
  return rows;
}

std::string Text(int64_t Value) {
  return std::to_string(Value);
}

// The joins give the rows an oracle over the same data gives, whichever
// table the optimiser lets drive.
TEST_F(SourcesTest, JoinsGiveTheRowsOfTheirOracleWithTheExpectedDriver) {
  struct Case {
    std::string Sql;
    std::string Driver;
    RowList Expected;
  };
  RowList innerPay, outerDept, outerSale, filteredEmp, threeWay, comma;
  for (int64_t e = 1; e <= kEmployees; ++e)
    if (100 * e > 500) innerPay.push_back({DeptName(DeptOf(e)), Text(e)});
  for (int64_t d = 1; d <= 4; ++d) {
    bool any = false;
    for (int64_t e = 1; e <= kEmployees; ++e)
      if (DeptOf(e) == d) {
        outerDept.push_back({DeptName(d), Text(e)});
        any = true;
      }
    if (!any) outerDept.push_back({DeptName(d), "NULL"});
  }
  for (int64_t s = 1; s <= kSales; ++s)
    outerSale.push_back({Text(s), s <= 4 ? DeptName(s) : "NULL"});
  filteredEmp.push_back({DeptName(DeptOf(5)), Text(5)});
  for (int64_t s = 1; s <= kSales; ++s)
    if (DeptOf(EmpOf(s)) == 2) threeWay.push_back({"B", Text(EmpOf(s)), Text(s)});
  for (int64_t e = 1; e <= kEmployees; ++e)
    if (DeptOf(e) == 2) comma.push_back({"2", Text(e)});
  RowList onlyEmp3;
  for (int64_t d = 1; d <= 4; ++d) onlyEmp3.push_back({Text(d), "3", Text(d)});

  const std::vector<Case> cases = {
      // The smaller table drives.
      {"SELECT d.Name, e.ID FROM Emp e INNER JOIN Dept d ON d.ID = e.Dept WHERE e.Pay > 500",
       "Dept", innerPay},
      // NOJOINOPTIMIZE keeps the declared order.
      {"SELECT d.Name, e.ID FROM Emp e INNER JOIN Dept d ON d.ID = e.Dept WHERE e.Pay > 500 "
       "NOJOINOPTIMIZE",
       "Emp", innerPay},
      // Counting keys, one department per employee is cheaper than four
      // employees per department: the order stays.
      {"SELECT d.Name, e.ID FROM Emp e INNER JOIN Dept d ON d.ID = e.Dept WHERE e.Pay > 500 "
       "JOINOPTIMIZECOSTS",
       "Emp", innerPay},
      // An unmatched row of the left table reads NULL on the right.
      {"SELECT d.Name, e.ID FROM Dept d LEFT OUTER JOIN Emp e ON e.Dept = d.ID", "Dept", outerDept},
      // A table behind a LEFT OUTER join never drives, however small.
      {"SELECT s.ID, d.Name FROM Sale s LEFT OUTER JOIN Dept d ON d.ID = s.Amount", "Sale",
       outerSale},
      // The count after the index-resolved filter decides: one employee.
      {"SELECT d.Name, e.ID FROM Dept d INNER JOIN Emp e ON e.Dept = d.ID WHERE e.ID = 5", "Emp",
       filteredEmp},
      // A chain of two joins turned around so that the smallest table drives.
      {"SELECT d.Name, e.ID, s.ID FROM Sale s INNER JOIN Emp e ON e.ID = s.Emp "
       "INNER JOIN Dept d ON d.ID = e.Dept WHERE d.Name = 'B'",
       "Dept", threeWay},
      // The comma form: the cross product filtered by the conditions.
      {"SELECT d.ID, e.ID FROM Dept d, Emp e WHERE e.Dept = d.ID AND d.ID = 2", "Dept", comma},
      // A join whose ON condition concerns its table alone (it became that
      // table's own condition) still joins every row of the tables before.
      {"SELECT d.ID, e.ID, s.ID FROM Dept d INNER JOIN Emp e ON e.ID = 3 "
       "INNER JOIN Sale s ON s.Amount = d.ID",
       "Dept", onlyEmp3},
      // "=" compares texts whole: a trailing asterisk is no wildcard.
      {"SELECT d.ID FROM Dept d WHERE d.Name = 'A*'", "Dept", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Sql);
    Open(c.Sql);
    EXPECT_EQ(Walk(), Sorted(c.Expected));
    EXPECT_EQ(Driver(), c.Driver);
  }
}

// A second build over the same manager gives the same rows: the filters of
// the first one are dropped and made again, the order found stays.
TEST_F(SourcesTest, ASecondBuildGivesTheSameRows) {
  Open(
      "SELECT d.Name, e.ID, s.ID FROM Sale s INNER JOIN Emp e ON e.ID = s.Emp "
      "INNER JOIN Dept d ON d.ID = e.Dept WHERE d.Name = 'B'");
  const RowList first = Walk();
  EXPECT_EQ(first.size(), 12u);
  EXPECT_EQ(Walk(), first);
  EXPECT_EQ(Driver(), "Dept");
}

// A walk stopped through the continue flag visits nothing further.
TEST_F(SourcesTest, AClearedContinueFlagStopsTheWalk) {
  Open("SELECT e.ID, s.ID FROM Emp e INNER JOIN Sale s ON s.Emp = e.ID NOJOINOPTIMIZE");
  Manager->PrepareSources(Query(), false);
  TBRNExprToken* driver = TBRNExecutionManager::FromList(Query())->Argument(0);
  bool go = true;
  ASSERT_TRUE(Manager->FirstJoinedRow(driver, false, go));
  go = false;
  EXPECT_FALSE(Manager->NextJoinedRow(driver, false, go));
}

std::string JoinedLines(const std::vector<std::string>& lines) {
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) text += (i == 0 ? "" : "\r\n") + lines[i];
  return text;
}

// The source, filtering and join sections of a reordered join, line by
// line.
TEST_F(SourcesTest, ThePlanShowsSourcesFiltersAndTheReorderedJoins) {
  Open("SELECT d.Name, e.ID FROM Emp e INNER JOIN Dept d ON d.ID = e.Dept WHERE e.Pay > 500");
  Walk(true);
  EXPECT_EQ(
      Manager->GetPlanText(),
      JoinedLines({"Emp (e): 12 rows",
                   "Dept (d): 4 rows",
                   "Filtering",
                   "---------",
                   "",
                   "The following filter condition was applied to the Emp (e) table:",
                   "",
                   "\"e\".\"Pay\" > 500",
                   "   ",
                   "   Row scan (Emp)",
                   "   ",
                   "   Hint: Create index(es) (Emp) on column(s) Pay for possible better "
                   "performance",
                   "",
                   "Joins",
                   "-----",
                   "",
                   "The driver table was the Emp (e) table",
                   "",
                   "The Emp (e) table was joined to the Dept (d) table with the inner join ",
                   "expression:",
                   "",
                   "\"d\".\"ID\" = \"e\".\"Dept\"",
                   "",
                   "The optimizer attempted to re-order the joins to a more optimal order",
                   "",
                   "The optimizer successfully re-ordered the joins into this more optimal order:",
                   "",
                   "The driver table was the Dept (d) table",
                   "",
                   "The Dept (d) table was joined to the Emp (e) table with the inner join ",
                   "expression:",
                   "",
                   "\"e\".\"Dept\" = \"d\".\"ID\"",
                   "",
                   "",
                   "The following join condition was applied to the Emp (e) table:",
                   "",
                   "\"e\".\"Dept\" = \"d\".\"ID\"",
                   "   ",
                   "   Index scan (Emp.ByDept)",
                   ""}));
}

TEST_F(SourcesTest, NoJoinOptimizeIsNamedInThePlan) {
  Open("SELECT d.Name FROM Emp e INNER JOIN Dept d ON d.ID = e.Dept NOJOINOPTIMIZE");
  Walk(true);
  const std::string plan = Manager->GetPlanText();
  EXPECT_NE(plan.find("The driver table was the Emp (e) table\r\n"), std::string::npos);
  EXPECT_NE(plan.find("\r\nThe NOJOINOPTIMIZE clause was used and the optimizer left the joins in "
                      "their \r\ndeclared order\r\n"),
            std::string::npos);
  EXPECT_EQ(plan.find("re-order"), std::string::npos);
}

// The header: rules, the title with the version, the wrapped note, the
// statement's text and, for a query with a FROM list, the sources title; a
// following member of a set operation shows its text alone.
TEST_F(SourcesTest, ThePlanHeaderFramesTheStatementText) {
  const std::string rule(80, '=');
  const std::string head =
      JoinedLines({rule, "SQL Query (Executed by Brindle 2.14 Build 5)", "",
                   "Note: The SQL  shown here is generated by Brindle and may not be "
                   "exactly the ",
                   "same as the SQL that was originally entered.  However, none of "
                   "the differences ",
                   "alter the execution results in any way.", "", rule, "", ""});
  const std::string sources = JoinedLines({"", "", "Source Tables", "-------------", ""});
  struct Case {
    std::string Sql;
    bool SetMember;
    bool HasSources;
    std::string Shown;
  };
  const std::vector<Case> cases = {
      {"SELECT d.Name FROM Dept d", false, true, "\r\n   FROM \"Dept\" AS \"d\"\r\n"},
      {"SELECT d.Name FROM Dept d", true, true, "\r\n   FROM \"Dept\" AS \"d\"\r\n"},
      {"SELECT 1 AS One", false, false, "\"One\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Sql);
    Open(c.Sql);
    Manager->WritePlanHeader(TBRNPlanVerb::Query, c.SetMember);
    const std::string plan = Manager->GetPlanText();
    EXPECT_EQ(plan.rfind(head, 0) == 0, !c.SetMember);
    if (c.SetMember) {
      EXPECT_EQ(plan.rfind("SELECT", 0), 0u);
    }
    const bool endsWithSources =
        plan.size() >= sources.size() &&
        plan.compare(plan.size() - sources.size(), sources.size(), sources) == 0;
    EXPECT_EQ(endsWithSources, c.HasSources);
    EXPECT_NE(plan.find(c.Shown), std::string::npos);
  }
}

}  // namespace
}  // namespace brn::testing

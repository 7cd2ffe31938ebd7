// Whole plans of INSERT, UPDATE and DELETE against golden files
// (plans/<name>.txt beside this file): the header, the target line with the
// table's row count, the filtering blocks of an indexed and of an unindexed
// WHERE, and the footer with the count.
#include <string>
#include <vector>

#include "execution/plan_golden.h"
#include "execution/queries/query_test_support.h"

namespace brn::testing {
namespace {

// Items(ID INTEGER primary key, Qty INTEGER indexed, Note CHAR(10)) with
// rows 1 to 20, Qty = ID % 5, Note = "n<ID % 3>"; Archive of the same
// columns, empty.
struct DmlPlanTest : QueryTest {
  DmlPlanTest() {
    for (const char* table : {"Items", "Archive"})
      CreateTable(table, {{"ID", dtInteger}, {"Qty", dtInteger}, {"Note", dtChar, 10}}, true,
                  {"Qty"});
    std::vector<CellRow> rows;
    for (int64_t id = 1; id <= 20; ++id) rows.push_back({id, id % 5, "n" + std::to_string(id % 3)});
    Insert("Items", rows);
  }

  std::string Plan(const std::string& sql) {
    TBRNLocalStatementManager* statement = Prepare(sql);
    statement->RequestPlan = true;
    std::string plan;
    try {
      statement->ExecuteStatement();
      statement->GetPlan(plan);
    } catch (...) {
      Free(statement);
      throw;
    }
    Free(statement);
    return plan;
  }
};

TEST_F(DmlPlanTest, PlansMatchTheirGoldenFiles) {
  struct Case {
    const char* Name;
    const char* Sql;
  };
  // In order: each statement sees the rows the ones before it left.
  const std::vector<Case> cases = {
      {"insert_values", "INSERT INTO Items VALUES (21, 1, 'x'), (22, 2, 'y')"},
      {"insert_select", "INSERT INTO Archive SELECT ID, Qty, Note FROM Items WHERE Qty = 1"},
      {"update_indexed", "UPDATE Items SET Note = 'q' WHERE Qty = 2"},
      {"update_unindexed", "UPDATE Items SET Qty = Qty + 1 WHERE Note = 'n1'"},
      {"delete", "DELETE FROM Items WHERE ID > 15 AND Note <> 'q'"},
  };
  for (const Case& c : cases) ExpectGoldenPlan(BRN_PLAN_FOLDER, c.Name, Plan(c.Sql));
}

}  // namespace
}  // namespace brn::testing

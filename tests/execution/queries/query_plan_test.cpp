// Whole query plans against golden files (plans/<name>.txt beside this
// file): the sensitive plan, a joined and reordered one, NOJOINOPTIMIZE, a
// merged set operation and the cached plan of an extended RANGE. Times and
// buffer counts vary from run to run and are masked; a mismatch writes the
// plan seen to <name>.actual.txt in the build's tmp folder.
#include <string>
#include <vector>

#include "execution/plan_golden.h"
#include "execution/queries/query_manager.h"
#include "execution/queries/query_test_support.h"
#include "foundation/values/param_value.h"

namespace brn::testing {
namespace {

struct PlanGoldenTest : QueryTest {
  PlanGoldenTest() {
    CreateTable("Items", {{"ID", dtInteger}, {"Qty", dtInteger}});
    CreateTable("Notes", {{"ID", dtInteger}, {"Item", dtInteger}}, true, {"Item"});
    std::vector<CellRow> rows;
    for (int64_t id = 1; id <= 30; ++id) rows.push_back({id, id % 7});
    Insert("Items", rows);
    Insert("Notes", {{int64_t(1), int64_t(3)}, {int64_t(2), int64_t(4)}});
  }

  // Executes the statement (with a plan) times times; the last plan.
  static std::string PlanOf(TBRNLocalStatementManager* statement) {
    std::string plan;
    statement->GetPlan(plan);
    return plan;
  }
  std::string Plan(const std::string& sql) {
    TBRNLocalStatementManager* statement = Prepare(sql);
    statement->RequestPlan = true;
    std::string plan;
    try {
      statement->ExecuteStatement();
      plan = PlanOf(statement);
    } catch (...) {
      Free(statement);
      throw;
    }
    Free(statement);
    return plan;
  }

  static void ExpectGolden(const std::string& name, const std::string& plan) {
    ExpectGoldenPlan(BRN_PLAN_FOLDER, name, plan);
  }
};

TEST_F(PlanGoldenTest, PlansMatchTheirGoldenFiles) {
  ExpectGolden("sensitive", Plan("SELECT ID, Qty FROM Items WHERE Qty = 3"));
  ExpectGolden("reordered", Plan("SELECT i.ID, n.ID FROM Items i INNER JOIN Notes n "
                                 "ON n.Item = i.ID WHERE i.Qty > 2 ORDER BY i.ID"));
  ExpectGolden("nojoinoptimize", Plan("SELECT i.ID, n.ID FROM Items i INNER JOIN Notes n "
                                      "ON n.Item = i.ID WHERE i.Qty > 2 ORDER BY i.ID "
                                      "NOJOINOPTIMIZE"));
  ExpectGolden("merged", Plan("SELECT ID FROM Items WHERE Qty = 1 UNION SELECT Item FROM Notes"));
}

TEST_F(PlanGoldenTest, AnExtendedRangeShowsTheCachedPlan) {
  TBRNLocalStatementManager* statement = Prepare("SELECT ID FROM Items RANGE 1 TO ?");
  statement->RequestPlan = true;
  statement->RequestSensitive = false;
  TBRNValue* end = statement->Params->GetItem(0);
  end->SetAsInteger(10);
  statement->ExecuteStatement();
  end->SetAsInteger(20);
  statement->ExecuteStatement();
  const std::string plan = PlanOf(statement);
  Free(statement);
  ExpectGolden("cached", plan);
}

}  // namespace
}  // namespace brn::testing

// Whole query plans against golden files (plans/<name>.txt beside this
// file): the sensitive plan, a joined and reordered one, NOJOINOPTIMIZE, a
// merged set operation and the cached plan of an extended RANGE. Times and
// buffer counts vary from run to run and are masked; a mismatch writes the
// plan seen to <name>.actual.txt in the build's tmp folder.
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "execution/queries/query_manager.h"
#include "execution/queries/query_test_support.h"
#include "foundation/values/param_value.h"

namespace brn::testing {
namespace {

// Times, and the counts of the buffer managers' lines, as "#".
std::string masked(const std::string& plan) {
  std::string text = std::regex_replace(plan, std::regex("\r\n"), "\n");
  text = std::regex_replace(text, std::regex("in [0-9.]+ secs"), "in # secs");
  std::string result;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    for (const char* prefix : {"Max buffer size:", "Hits:", "Reads:", "Writes:"})
      if (line.rfind(prefix, 0) == 0) line = std::regex_replace(line, std::regex("[0-9.]+"), "#");
    result += line;
    if (end < text.size()) result += '\n';
    start = end + 1;
  }
  return result;
}

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

  void ExpectGolden(const std::string& name, const std::string& plan) {
    const std::filesystem::path golden = std::filesystem::path(BRN_PLAN_FOLDER) / (name + ".txt");
    std::ifstream file(golden, std::ios::binary);
    const std::string expected((std::istreambuf_iterator<char>(file)),
                               std::istreambuf_iterator<char>());
    const std::string actual = masked(plan);
    if (actual != expected) {
      std::filesystem::create_directories("tmp");
      std::ofstream("tmp/" + name + ".actual.txt", std::ios::binary) << actual;
    }
    EXPECT_EQ(actual, expected) << name;
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

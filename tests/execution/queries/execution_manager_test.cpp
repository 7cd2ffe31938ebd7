// The plan text of the execution manager: lines, the 80-column wrapping,
// sections, footers, cached and merged plans, I/O statistics.
#include <string>
#include <vector>

#include "execution/evaluator/local_expr_evaluator.h"
#include "execution/queries/execution_manager.h"
#include "execution/queries/query_test_support.h"
#include "storage/files/table_file.h"

namespace brn::testing {
namespace {

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) text += (i == 0 ? "" : "\r\n") + lines[i];
  return text;
}

const std::string kDoubleRule(80, '=');
const std::string kSingleRule(80, '-');

struct PlanTest : QueryTest {
  TBRNLocalExprEvaluator& Evaluator() {
    return dynamic_cast<TBRNLocalExprEvaluator&>(*Session->Evaluator);
  }
  TBRNExecutionManager Manager{Evaluator(), nullptr};
};

TEST_F(PlanTest, LinesWrapAfterTheLastBlankOrCommaThatFits) {
  const std::string words = std::string(70, 'a') + " " + std::string(20, 'b');
  const std::string commas = std::string(75, 'a') + "," + std::string(10, 'b');
  const std::string unbroken(100, 'x');
  const std::string fitting = std::string(79, 'a') + " b";
  struct Case {
    std::string Text;
    std::string Expected;
  };
  const std::vector<Case> cases = {
      {"", ""},
      {"short line", "short line"},
      {words, std::string(70, 'a') + " \r\n" + std::string(20, 'b')},
      {commas, std::string(75, 'a') + ",\r\n" + std::string(10, 'b')},
      {unbroken, unbroken},
      {fitting, std::string(79, 'a') + " \r\nb"},
      {std::string(80, 'a'), std::string(80, 'a')},
      // An overlong word breaks after the first blank behind it.
      {unbroken + " y", unbroken + " \r\ny"},
      // A line break inside the text starts the count again.
      {std::string(60, 'a') + "\r\n" + std::string(60, 'b'),
       std::string(60, 'a') + "\r\n" + std::string(60, 'b')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    Manager.ClearPlan();
    Manager.AddPlanLine(c.Text);
    EXPECT_EQ(Manager.GetPlanText(), c.Expected);
    Manager.ClearPlan();
    Manager.AddPlanLine(c.Text, false);
    EXPECT_EQ(Manager.GetPlanText(), c.Text);
  }
}

TEST_F(PlanTest, LinesAreSeparatedNotTerminatedAndTitlesAreUnderlined) {
  Manager.AddPlanLine("first");
  Manager.AddPlanLine("");
  Manager.AddSectionTitle("Source Tables");
  Manager.AddPlanLine("last");
  EXPECT_EQ(Manager.GetPlanText(),
            Lines({"first", "", "Source Tables", "-------------", "", "last"}));
}

TEST_F(PlanTest, FootersNameTheVerbRowsAndSeconds) {
  struct Case {
    TBRNPlanVerb Verb;
    bool Aborted;
    int32_t Rows;
    int32_t Milliseconds;
    std::string Line;
  };
  const std::vector<Case> cases = {
      {TBRNPlanVerb::Query, false, 3, 1500, "3 row(s) returned in 1.5 secs"},
      {TBRNPlanVerb::Insert, false, 0, 0, "0 row(s) inserted in 0 secs"},
      {TBRNPlanVerb::Update, false, 12, 20, "12 row(s) updated in 0.02 secs"},
      {TBRNPlanVerb::Delete, false, 1, 1000, "1 row(s) deleted in 1 secs"},
      {TBRNPlanVerb::Query, true, 50, 250,
       "The execution was aborted, 50 row(s) returned in 0.25 secs"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Line);
    Manager.ClearPlan();
    Manager.RowsAffected = c.Rows;
    Manager.ExecutionTime = c.Milliseconds;
    Manager.WritePlanFooter(c.Verb, c.Aborted);
    EXPECT_EQ(Manager.GetPlanText(), Lines({kDoubleRule, c.Line, kDoubleRule, ""}));
  }
}

// The cached header goes before the saved plan, which keeps its lines as
// they were (a long line stays whole).
TEST_F(PlanTest, TheCachedHeaderPrecedesTheSavedPlanUnchanged) {
  const std::string saved = "saved " + std::string(90, 's') + "\r\nsecond";
  Manager.SetPlanText(saved);
  Manager.WriteCachedPlanHeader();
  EXPECT_EQ(Manager.GetPlanText(),
            Lines({kDoubleRule,
                   "Cached Execution Plan:  The query result set was cached from the last "
                   "execution ",
                   "and this is a copy of the execution plan from the last actual execution of "
                   "the ",
                   "query.  This is due to the fact that the source tables referenced by the "
                   "query ",
                   "had not changed since the last execution.", kDoubleRule, "", saved}));
}

TEST_F(PlanTest, AMergedPlanIsAppendedBetweenSingleRules) {
  Manager.AddPlanLine("first plan");
  const std::string following = std::string(100, 'f');
  Manager.WriteMergedPlan(following);
  EXPECT_EQ(Manager.GetPlanText(), Lines({"first plan", kSingleRule, "Merged Query Plan",
                                          kSingleRule, "", following, kSingleRule}));
}

TEST_F(PlanTest, ResultSetSectionsNameTheirKind) {
  struct Case {
    bool Sensitive;
    std::string Index;
    bool OneRow;
    std::vector<std::string> Lines;
  };
  const std::vector<std::string> head = {"sources", "", "Result Set", "----------", ""};
  auto with = [&head](std::vector<std::string> tail) {
    std::vector<std::string> lines = head;
    lines.insert(lines.end(), tail.begin(), tail.end());
    return lines;
  };
  const std::vector<Case> cases = {
      {true, "ByName", false,
       with({"The result set was sensitive", "The result set consisted of zero or more rows",
             "The result set was ordered using the index ByName", ""})},
      {true, "__PrimaryKey", false,
       with({"The result set was sensitive", "The result set consisted of zero or more rows",
             "The result set was ordered using the table's natural order", ""})},
      {true, "", false,
       with({"The result set was sensitive", "The result set consisted of zero or more rows",
             "The result set was ordered using the table's natural order", ""})},
      {false, "", true,
       with({"The result set was insensitive and read-only", "The result set consisted of one row",
             ""})},
      {false, "", false,
       with({"The result set was insensitive and read-only",
             "The result set consisted of zero or more rows", ""})},
  };
  for (const Case& c : cases) {
    Manager.SetPlanText("sources");
    if (c.Sensitive)
      Manager.WriteSensitiveResultPlan(c.Index);
    else
      Manager.WriteInsensitiveResultPlan(c.OneRow);
    EXPECT_EQ(Manager.GetPlanText(), Lines(c.Lines));
  }
}

// The block of one file: counts, byte sizes with their units and the hit
// ratio rounded half away from zero (0 without a single access).
TEST_F(PlanTest, IOStatisticsShowEachFileWithItsHitRatio) {
  CreateTable("T", {{"ID", dtInteger}});
  TBRNTableManager& table = OpenTable("T");
  TBRNTableFileManager* file = table.GetFiles().front();
  struct Case {
    int64_t Hits;
    int64_t Misses;
    std::string Ratio;
  };
  const std::vector<Case> cases = {
      {0, 0, "0"}, {3, 0, "1"}, {1, 2, "0.33"}, {2, 1, "0.67"}, {1, 7, "0.13"}, {0, 5, "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Ratio);
    file->ResetStatistics();
    file->CacheHits = c.Hits;
    file->CacheMisses = c.Misses;
    file->DiskReads = 2;
    file->BytesRead = 3072;
    file->DiskWrites = 1;
    file->BytesWritten = 512;
    Manager.SetPlanText("result");
    Manager.WriteIOStatisticsPlan(7, {file});
    const std::vector<std::string> lines = {
        "result",
        "",
        "Result set I/O statistics",
        "-------------------------",
        "",
        "Total rows visited: 7",
        "",
    };
    const std::string plan = Manager.GetPlanText();
    EXPECT_EQ(plan.substr(0, Lines(lines).size()), Lines(lines));
    EXPECT_NE(plan.find(" buffer manager\r\n\r\nMax buffer size: "), std::string::npos);
    EXPECT_NE(plan.find("\r\nHits: " + std::to_string(c.Hits) + "   Misses: " +
                        std::to_string(c.Misses) + "   Hit ratio: " + c.Ratio + "\r\n\r\n"),
              std::string::npos);
    EXPECT_NE(plan.find("\r\nReads: 2   read: 3KB\r\n\r\nWrites: 1   written: 512B\r\n"),
              std::string::npos);
  }
  Release(table);
}

}  // namespace
}  // namespace brn::testing

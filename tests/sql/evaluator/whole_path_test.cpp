// A handful of whole-path cases: text parsed, validated over the shared
// test catalog, then evaluated.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/types/data_types.h"
#include "foundation/values/value.h"
#include "sql/evaluator/expr_evaluator.h"
#include "sql/validator/validator_fixture.h"

namespace brn::testing {
namespace {

// "<type name> <result>" (or the error of parsing and validation).
std::string EvaluateText(std::string_view Text, bool StandardNull = true) {
  ValidationRun run(Text, {.StandardNull = StandardNull, .Print = false});
  if (!run.Result.empty()) return run.Result;
  TBRNExprToken* root = run.Owner.Root;
  TBRNExprEvaluator evaluator(StandardNull);
  evaluator.Prepare(root);
  evaluator.Evaluate(root);
  std::string result = DataTypeName(root->DataType, root->SubType) + " " +
                       (root->Value->GetNull() ? std::string("NULL") : root->Value->GetAsString());
  evaluator.Unprepare(root);
  return result;
}

TEST(WholePathTest, ParsedValidatedAndEvaluated) {
  struct Case {
    const char* Text;
    bool StandardNull;
    const char* Expected;
  };
  const std::vector<Case> cases = {
      {"1 + 2 * 3", true, "Integer 7"},
      {"7 / 2", true, "Float 3.5"},
      {"7 MOD 2", true, "Integer 1"},
      {"2147483647 + 1", true, "Integer -2147483648"},
      {"5 / 0", true, "Float NULL"},
      {"INTERVAL '2' HOUR + 1", true, "Interval Hour 3"},
      {"1 + INTERVAL '2' HOUR", true, "Interval Hour 3"},
      {"3 * INTERVAL '2' DAY", true, "Interval Day 6"},
      {"INTERVAL '1' MONTH + DATE '2020-01-31'", true, "Date 2020-02-29"},
      {"DATE '2020-01-31' + INTERVAL '1' MONTH", true, "Date 2020-02-29"},
      {"TIMESTAMP '2020-01-02 12:00:00' - DATE '2020-01-01'", true,
       "Interval Day To MSecond 1 12:00:00.000"},
      {"'a%c' LIKE 'a!%c' ESCAPE '!'", true, "Boolean TRUE"},
      {"'abc' LIKE 'a!%c' ESCAPE '!'", true, "Boolean FALSE"},
      {"3 BETWEEN 1 AND 5 AND NOT 'a' = 'b'", true, "Boolean TRUE"},
      // Standard NULLs refuse a NULL constant here; the engine's rules accept it.
      {"5 NOT IN (NULL)", false, "Boolean TRUE"},
      {"NOT (5 IN (NULL))", false, "Boolean TRUE"},
      {"NULL + 1", false, "Unknown NULL"},
      {"TRUE AND NULL", false, "Boolean FALSE"},
      {"NULL AND TRUE", false, "Boolean TRUE"},
  };
  for (const Case& c : cases) EXPECT_EQ(EvaluateText(c.Text, c.StandardNull), c.Expected) << c.Text;
}

}  // namespace
}  // namespace brn::testing

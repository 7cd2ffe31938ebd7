// A handful of whole-path cases: text parsed, validated over the shared
// test catalog, then evaluated.
#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/text/exception.h"
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

TEST(WholePathTest, SimpleCaseAnswers) {
  struct Case {
    const char* Text;
    bool StandardNull;
    const char* Expected;
  };
  const std::vector<Case> cases = {
      {"CASE 3 WHEN 1 THEN 'one' WHEN 3 THEN 'three' ELSE 'many' END", true, "VarChar three"},
      {"CASE 1 WHEN 1 THEN 'first' WHEN 1 THEN 'second' END", true, "VarChar first"},
      {"CASE 5 WHEN 1 THEN 'a' WHEN 2 THEN 'b' END", true, "VarChar NULL"},
      {"CASE 2 WHEN 2.0 THEN 'mixed' END", true, "VarChar mixed"},
      {"CASE 'b' WHEN 'a' THEN 1 WHEN 'b' THEN 2 ELSE 3 END", true, "Integer 2"},
      // A NULL operand matches nothing under standard NULLs; without them
      // NULL equals NULL, as "=" has it.
      {"CASE CAST(NULL AS INTEGER) WHEN 1 THEN 'a' ELSE 'b' END", true, "VarChar b"},
      {"CASE CAST(NULL AS INTEGER) WHEN CAST(NULL AS INTEGER) THEN 'a' ELSE 'b' END", true,
       "VarChar b"},
      {"CASE CAST(NULL AS INTEGER) WHEN CAST(NULL AS INTEGER) THEN 'a' ELSE 'b' END", false,
       "VarChar a"},
      {"CASE 1 WHEN CAST(NULL AS INTEGER) THEN 'a' END", true, "VarChar NULL"},
      // Nested in the operand and in a result.
      {"CASE CASE 2 WHEN 2 THEN 10 ELSE 0 END WHEN 10 THEN 'ten' ELSE 'other' END", true,
       "VarChar ten"},
      {"CASE 1 WHEN 1 THEN CASE 'x' WHEN 'y' THEN 'no' WHEN 'x' THEN 'yes' END END", true,
       "VarChar yes"},
      {"CASE 1 WHEN CASE 7 WHEN 7 THEN 1 END THEN 'inner' END", true, "VarChar inner"},
  };
  for (const Case& c : cases) EXPECT_EQ(EvaluateText(c.Text, c.StandardNull), c.Expected) << c.Text;
}

// The operand is evaluated once per evaluation of the CASE, however many
// WHEN values it is compared with: a random 0 or 1 always meets one of them.
TEST(WholePathTest, SimpleCaseEvaluatesItsOperandOnce) {
  ValidationRun run("CASE FLOOR(RAND() * 2) WHEN 0 THEN 'a' WHEN 1 THEN 'b' END", {.Print = false});
  ASSERT_EQ(run.Result, "");
  TBRNExprToken* root = run.Owner.Root;
  TBRNExprEvaluator evaluator(true);
  evaluator.Prepare(root);
  for (int i = 0; i < 64; ++i) {
    evaluator.Evaluate(root);
    ASSERT_FALSE(root->Value->GetNull()) << "evaluation " << i;
  }
  evaluator.Unprepare(root);
}

// Lengths taken from the statement text are limits, never allocations: the
// result value holds what it holds, whatever length the text declares or
// asks for, and every failure is the engine's error.
TEST(WholePathTest, LengthsFromTheTextAllocateOnlyWhatTheValueHolds) {
  struct Case {
    const char* Text;
    const char* Expected;
  };
  const std::vector<Case> cases = {
      {"SUBSTR('abc', 2, 2000000000)", "VarChar bc"},
      {"SUBSTR('abc', 2, 2147483646)", "VarChar bc"},
      {"SUBSTR(CAST(NULL AS VARCHAR(3)), 2, 2000000000)", "VarChar NULL"},
      {"LEFT('abc', 2147483647)", "VarChar abc"},
      {"RIGHT('abc', 2147483647)", "VarChar abc"},
      {"REPEAT('ab' FOR 2)", "VarChar abab"},
      {"REPEAT('ab' FOR 2147483647)",
       "error 1011 An error occurred with the value text of 4294967294 characters (The text is "
       "longer than the 67108864 characters a function may build)"},
      {"CAST('abcdef' AS VARCHAR(3))", "VarChar abc"},
      {"CAST('a' AS VARCHAR(2147483647))",
       "error 1:21 Invalid expression 2147483647 found, an invalid length was specified"},
      {"CAST('a' AS CHAR(1000000000))",
       "error 1:18 Invalid expression 1000000000 found, an invalid length was specified"},
      // The padding of fixed values stays visible.
      {"CAST('ab' AS CHAR(4)) + 'x'", "VarChar ab  x"},
      {"LENGTH(CAST('a' AS CHAR(1024)))", "Integer 1024"},
      {"LENGTH(CAST('a' AS CHAR(1024)) + CAST('b' AS CHAR(1024)))", "Integer 2048"},
      {"RIGHT(CAST('a' AS CHAR(1024)) + CAST('b' AS CHAR(3)), 4)", "VarChar  b  "},
  };
  for (const Case& c : cases) {
    std::string result;
    try {
      result = EvaluateText(c.Text);
    } catch (const EBRNException& error) {
      result = "error " + std::to_string(error.ErrorCode) + " " + error.ErrorMessage;
    }
    EXPECT_EQ(result, c.Expected) << c.Text;
  }
}

// Whatever fails inside an evaluation leaves it as the engine's error.
TEST(WholePathTest, StandardExceptionsLeaveAsTheEnginesError) {
  class Failing : public TBRNExprEvaluator {
   public:
    Failing() : TBRNExprEvaluator(true) {}
    void GetCurrentUser(TBRNExprToken*) override { throw std::length_error("too long"); }
  };
  ValidationRun run("UPPER(CURRENT_USER) + 'x'", {.Print = false});
  ASSERT_EQ(run.Result, "");
  Failing evaluator;
  evaluator.Prepare(run.Owner.Root);
  try {
    evaluator.Evaluate(run.Owner.Root);
    FAIL() << "no error";
  } catch (const EBRNException& error) {
    EXPECT_EQ(error.ErrorCode, 1011);
    EXPECT_NE(error.ErrorMessage.find("too long"), std::string::npos) << error.ErrorMessage;
  }
  evaluator.Unprepare(run.Owner.Root);
}

// Simple CASE nested in its own operand 20 deep: a few hundred bytes that
// must stay a tree of a few hundred nodes, not one copy of the operand per
// WHEN per level.
TEST(WholePathTest, NestedSimpleCaseGrowsLinearly) {
  std::string text = "1";
  for (int level = 0; level < 20; ++level)
    text = "CASE " + text + " WHEN 1 THEN 2 WHEN 2 THEN 1 END";
  const auto start = std::chrono::steady_clock::now();
  ValidationRun run(text, {.Print = false});
  ASSERT_EQ(run.Result, "");
  EXPECT_LE(CountNodes(run.Owner.Root), int64_t(text.size()) / 3) << text.size() << " bytes";
  TBRNExprEvaluator evaluator(true);
  evaluator.Prepare(run.Owner.Root);
  evaluator.Evaluate(run.Owner.Root);
  EXPECT_EQ(run.Owner.Root->Value->GetAsString(), "1");
  evaluator.Unprepare(run.Owner.Root);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

}  // namespace
}  // namespace brn::testing

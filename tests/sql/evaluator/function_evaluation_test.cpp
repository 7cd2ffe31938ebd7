// The built-in functions: one table of (expression, result type, result or
// error) through the whole path, then the routines that need hand-built
// trees (aggregate finishing, the engine's NULL rules), the functions the
// session answers, RAND and the text size limit.
#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/text/exception.h"
#include "foundation/types/date_time.h"
#include "foundation/values/value.h"
#include "sql/evaluator/expr_evaluator.h"
#include "sql/evaluator/function_routines.h"
#include "sql/evaluator/function_test_support.h"
#include "sql/evaluator/typed_tree_builder.h"

namespace brn::testing {
namespace {

struct FunctionCase {
  const char* Text;
  const char* Expected;
};

void ExpectTable(const std::vector<FunctionCase>& Cases, bool StandardNull = true) {
  for (const FunctionCase& c : Cases)
    EXPECT_EQ(EvaluateFunctionText(c.Text, StandardNull), c.Expected) << c.Text;
}

// A function node typed as the validator leaves it.
TBRNExprToken* Fn(TBRNExprOperation Operation, TBRNDataTypeCode Type,
                  std::initializer_list<TBRNExprToken*> Arguments, TBRNDataSubType SubType = 0) {
  auto* node = new TBRNExprToken();
  node->Kind = tkFunction;
  node->Operation = Operation;
  node->SetDataType(Type);
  if (SubType != 0) node->SetSubType(SubType);
  if (Type == dtDecimal) node->SetScale(4);
  for (TBRNExprToken* argument : Arguments) node->AddArgument(argument);
  return node;
}

TEST(FunctionTable, Numeric) {
  ExpectTable({
      // ABS keeps the type; the most negative integer has no absolute value.
      {"ABS(-5)", "Integer 5"},
      {"ABS(CAST(-32768 AS SMALLINT))", "error 1011"},
      {"ABS(-2147483647 - 1)", "error 1011"},
      {"ABS(CAST(-9223372036854775807 AS BIGINT) - 1)", "error 1011"},
      {"ABS(-2.5E0)", "Float 2.5"},
      {"ABS(CAST(-1.25 AS DECIMAL(10,2)))", "Decimal 1.25"},
      {"ABS(INTERVAL '-3' MONTH)", "Interval Month 3"},
      {"ABS(INTERVAL '-2' HOUR)", "Interval Hour 2"},
      {"ABS(CAST(NULL AS INTEGER))", "Integer NULL"},
      // Trigonometry; outside the domain NULL.
      {"ACOS(1)", "Float 0"},
      {"ACOS(-1) = PI()", "Boolean TRUE"},
      {"ASIN(1) = PI() / 2", "Boolean TRUE"},
      {"ACOS(2)", "Float NULL"},
      {"ASIN(-2)", "Float NULL"},
      {"ATAN(0)", "Float 0"},
      {"ATAN2(1, 0) = PI() / 2", "Boolean TRUE"},
      {"ATAN2(0, -1) = PI()", "Boolean TRUE"},
      {"COS(0)", "Float 1"},
      {"SIN(0)", "Float 0"},
      {"TAN(0)", "Float 0"},
      {"COT(0)", "Float NULL"},
      {"DEGREES(PI())", "Float 180"},
      {"RADIANS(180) = PI()", "Boolean TRUE"},
      {"PI()", "Float 3.14159265358979"},
      // Exponentials and logarithms: no infinity, no NaN.
      {"EXP(0)", "Float 1"},
      {"EXP(100000)", "Float NULL"},
      {"LOG(1)", "Float 0"},
      {"LN(1)", "Float 0"},
      {"LOG(0)", "Float NULL"},
      {"LOG(-1)", "Float NULL"},
      {"LOG10(1000)", "Float 3"},
      {"LOG10(0)", "Float NULL"},
      {"SQRT(16)", "Float 4"},
      {"SQRT(-4)", "Float NULL"},
      {"ATAN2(CAST(NULL AS FLOAT), 1)", "Float NULL"},
      {"POWER(2, 10)", "Float 1024"},
      {"POWER(10, 400)", "Float NULL"},
      {"POWER(2, CAST(NULL AS FLOAT))", "Float NULL"},
      {"SIGN(-0.5)", "Integer -1"},
      {"SIGN(0)", "Integer 0"},
      {"SIGN(7)", "Integer 1"},
      // CEILING and FLOOR: whole numbers in the Integer range, else 1011.
      {"CEILING(2.1)", "Integer 3"},
      {"CEIL(-2.1)", "Integer -2"},
      {"FLOOR(-2.1)", "Integer -3"},
      {"FLOOR(2.9)", "Integer 2"},
      {"CEILING(2147483647)", "Integer 2147483647"},
      {"FLOOR(-2147483648)", "Integer -2147483648"},
      {"CEILING(2147483647.5)", "error 1011"},
      {"FLOOR(-1E300)", "error 1011"},
      // ROUND: half away from zero; integers unchanged.
      {"ROUND(2.5E0)", "Float 3"},
      {"ROUND(-2.5E0)", "Float -3"},
      {"ROUND(2.567E0, 2)", "Float 2.57"},
      {"ROUND(-2.567E0, 2)", "Float -2.57"},
      {"ROUND(1234.5E0, (-2))", "Float 1235"},
      {"ROUND(0E0, 3)", "Float 0"},
      {"ROUND(17, 2)", "Integer 17"},
      {"ROUND(CAST(2.5 AS DECIMAL(10,4)))", "Decimal 3.0000"},
      {"ROUND(CAST(-2.5 AS DECIMAL(10,4)))", "Decimal -3.0000"},
      {"ROUND(CAST(1.2345 AS DECIMAL(10,4)), 3)", "Decimal 1.2350"},
      {"ROUND(CAST(1.2345 AS DECIMAL(10,4)), 4)", "Decimal 1.2345"},
      {"ROUND(CAST(1.2345 AS DECIMAL(10,4)), 9)", "Decimal 1.2345"},
      // TRUNCATE: toward zero.
      {"TRUNCATE(2.567E0, 2)", "Float 2.56"},
      {"TRUNC(-2.567E0, 2)", "Float -2.56"},
      {"TRUNCATE(-2.9E0)", "Float -2"},
      {"TRUNCATE(CAST(-1.2399 AS DECIMAL(10,4)), 2)", "Decimal -1.2300"},
      {"TRUNCATE(CAST(9.9999 AS DECIMAL(10,4)))", "Decimal 9.0000"},
      {"TRUNCATE(CAST(1.2345 AS DECIMAL(10,4)), 4)", "Decimal 1.2345"},
      {"TRUNCATE(CAST(NULL AS FLOAT), 2)", "Float NULL"},
      // A rounded decimal beyond the Decimal range is the range error.
      {"ROUND(CAST('922337203685477.5807' AS DECIMAL(19,4)))", "error 1011"},
      {"TRUNCATE(CAST('922337203685477.5807' AS DECIMAL(19,4)))", "Decimal 922337203685477.0000"},
  });
}

TEST(FunctionTable, Text) {
  ExpectTable({
      {"CONCAT('ab', 'cd')", "VarChar abcd"},
      {"CONCAT('', '')", "VarChar "},
      {"CONCAT('ab', CAST(NULL AS VARCHAR(2)))", "VarChar NULL"},
      {"LEFT('abcdef', 2)", "VarChar ab"},
      {"LEFT('abc', 10)", "VarChar abc"},
      {"LEFT('abc', (-1))", "VarChar "},
      {"RIGHT('abcdef', 2)", "VarChar ef"},
      {"RIGHT('abc', 10)", "VarChar abc"},
      // Positions: 1-based; before the first counts as the first.
      {"SUBSTRING('abcdef' FROM 2 FOR 3)", "VarChar bcd"},
      {"SUBSTRING('abcdef' FROM 0 FOR 2)", "VarChar ab"},
      {"SUBSTRING('abcdef' FROM (-5) FOR 2)", "VarChar ab"},
      {"SUBSTRING('abcdef' FROM 4)", "VarChar def"},
      {"SUBSTRING('abcdef' FROM 6 FOR 9)", "VarChar f"},
      {"SUBSTRING('abcdef' FROM 7)", "VarChar "},
      {"SUBSTRING('abcdef' FROM 2 FOR (-1))", "VarChar "},
      {"SUBSTR('abcdef', 3, 2)", "VarChar cd"},
      {"SUBSTRING(CAST(NULL AS VARCHAR(9)) FROM 1 FOR 2)", "VarChar NULL"},
      {"REPEAT('ab', 3)", "VarChar ababab"},
      {"REPEAT('ab', 0)", "VarChar "},
      {"REPEAT('ab', (-2))", "VarChar "},
      {"REPLACE('a' WITH 'xy' IN 'banana')", "VarChar bxynxynxy"},
      {"REPLACE('A' WITH 'x' IN 'banana')", "VarChar banana"},
      {"REPLACE('' WITH 'x' IN 'ab')", "VarChar ab"},
      {"POS('c' IN 'abcabc')", "Integer 3"},
      {"POSITION('z' IN 'abc')", "Integer 0"},
      {"POS('a' IN CAST(NULL AS VARCHAR(3)))", "Integer 0"},
      {"OCCURS('aa' IN 'aaaaa')", "Integer 2"},
      {"OCCURS('x' IN CAST(NULL AS VARCHAR(3)))", "Integer 0"},
      {"LENGTH('abc')", "Integer 3"},
      {"LENGTH('')", "Integer 0"},
      {"CHAR_LENGTH(CAST(NULL AS VARCHAR(5)))", "Integer 0"},
      {"LOWER('AbC')", "VarChar abc"},
      {"UPPER('aBc')", "VarChar ABC"},
      {"UCASE(CAST(NULL AS VARCHAR(3)))", "VarChar NULL"},
      {"QUOTEDSTR('it''s')", "VarChar 'it''s'"},
      {"QUOTEDSTR('say \"hi\"' USING '\"')", "VarChar \"say \"\"hi\"\"\""},
      {"QUOTEDSTR('')", "VarChar ''"},
      {"TRIM(BOTH 'x' FROM 'xxabxx')", "VarChar ab"},
      {"TRIM(LEADING 'x' FROM 'xxabxx')", "VarChar abxx"},
      {"TRIM(TRAILING 'x' FROM 'xxabxx')", "VarChar xxab"},
      {"TRIM(BOTH 'x' FROM 'xxxx')", "VarChar "},
      {"ALLTRIM('  a b  ')", "VarChar a b"},
      {"LTRIM('  a ')", "VarChar a "},
      {"RTRIM('  a ')", "VarChar   a"},
      {"RTRIM(CAST(NULL AS VARCHAR(4)))", "VarChar NULL"},
      {"LENGTH(CURRENT_GUID)", "Integer 38"},
      {"LEFT(CURRENT_GUID, 1)", "VarChar {"},
      {"RIGHT(CURRENT_GUID, 1)", "VarChar }"},
      {"CURRENT_GUID = CURRENT_GUID", "Boolean FALSE"},
  });
}

TEST(FunctionTable, DateAndTime) {
  ExpectTable({
      // Weekdays: 2024-01-01 was a Monday, 2000-01-01 a Saturday,
      // 1970-01-01 a Thursday, 0001-01-01 a Monday.
      {"EXTRACT(DAYOFWEEK FROM DATE '2024-01-01')", "Integer 1"},
      {"EXTRACT(DAYOFWEEK FROM DATE '2000-01-01')", "Integer 6"},
      {"EXTRACT(DAYOFWEEK FROM DATE '1970-01-01')", "Integer 4"},
      {"EXTRACT(DAYOFWEEK FROM DATE '0001-01-01')", "Integer 1"},
      {"EXTRACT(DAYOFWEEK FROM TIMESTAMP '2024-01-07 23:59:59')", "Integer 7"},
      // Day of the year: 2024 is a leap year, 2023 and 1900 are not.
      {"EXTRACT(DAYOFYEAR FROM DATE '2024-12-31')", "Integer 366"},
      {"EXTRACT(DAYOFYEAR FROM DATE '2023-12-31')", "Integer 365"},
      {"EXTRACT(DAYOFYEAR FROM DATE '2000-03-01')", "Integer 61"},
      {"EXTRACT(DAYOFYEAR FROM DATE '1900-03-01')", "Integer 60"},
      // ISO weeks: 2021-01-01 belongs to week 53 of 2020, 2024-12-30 to
      // week 1 of 2025, 2026-01-01 (a Thursday) to week 1 of 2026.
      {"EXTRACT(WEEK FROM DATE '2021-01-01')", "Integer 53"},
      {"EXTRACT(WEEK FROM DATE '2024-12-30')", "Integer 1"},
      {"EXTRACT(WEEK FROM DATE '2026-01-01')", "Integer 1"},
      {"EXTRACT(WEEK FROM DATE '2024-06-15')", "Integer 24"},
      {"EXTRACT(YEAR FROM DATE '9999-12-31')", "Integer 9999"},
      {"EXTRACT(MONTH FROM TIMESTAMP '2020-02-29 10:11:12.345')", "Integer 2"},
      {"EXTRACT(DAY FROM DATE '2020-02-29')", "Integer 29"},
      {"EXTRACT(HOUR FROM TIME '23:58:57.123')", "Integer 23"},
      {"EXTRACT(MINUTE FROM TIMESTAMP '2020-02-29 10:11:12.345')", "Integer 11"},
      {"EXTRACT(SECOND FROM TIME '23:58:57.123')", "Integer 57"},
      {"EXTRACT(MSECOND FROM TIME '23:58:57.123')", "Integer 123"},
      // Intervals: the field under the interval's own qualifier.
      {"EXTRACT(YEAR FROM INTERVAL '3-7' YEAR TO MONTH)", "Integer 3"},
      {"EXTRACT(MONTH FROM INTERVAL '3-7' YEAR TO MONTH)", "Integer 7"},
      {"EXTRACT(MONTH FROM INTERVAL '43' MONTH)", "Integer 43"},
      {"EXTRACT(DAY FROM INTERVAL '2 03:04' DAY TO MINUTE)", "Integer 2"},
      {"EXTRACT(HOUR FROM INTERVAL '2 03:04' DAY TO MINUTE)", "Integer 3"},
      {"EXTRACT(MINUTE FROM INTERVAL '2 03:04' DAY TO MINUTE)", "Integer 4"},
      {"EXTRACT(HOUR FROM INTERVAL '51' HOUR)", "Integer 51"},
      {"EXTRACT(DAY FROM CAST(NULL AS DATE))", "Integer NULL"},
      // A day count beyond the Integer result raises rather than wraps.
      {"EXTRACT(DAY FROM INTERVAL '3000000000' DAY)", "error 1011"},
      {"EXTRACT(DAY FROM INTERVAL '2000000000' DAY)", "Integer 2000000000"},
  });
}

TEST(FunctionTable, Conditional) {
  ExpectTable({
      {"CASE WHEN 1 = 2 THEN 'a' WHEN 2 = 2 THEN 'b' ELSE 'c' END", "VarChar b"},
      {"CASE WHEN 1 = 2 THEN 'a' END", "VarChar NULL"},
      {"CASE 3 WHEN 1 THEN 'one' WHEN 3 THEN 'three' ELSE 'many' END", "VarChar three"},
      {"CASE WHEN CAST(NULL AS INTEGER) = 1 THEN 1 ELSE 2 END", "Integer 2"},
      {"IF(1 = 1 THEN 'y' ELSE 'n')", "VarChar y"},
      {"IF(CAST(NULL AS INTEGER) = 1 THEN 'y' ELSE 'n')", "VarChar n"},
      {"IFNULL(NULL THEN 'was null' ELSE 'not null')", "VarChar was null"},
      {"IFNULL(1 THEN 'was null' ELSE 'not null')", "VarChar not null"},
      {"COALESCE(NULL, NULL, 3, 4)", "Integer 3"},
      {"COALESCE(CAST(NULL AS INTEGER), NULL)", "Integer NULL"},
      {"NULLIF(3, 3)", "Integer NULL"},
      {"NULLIF(3, 4)", "Integer 3"},
      {"NULLIF('a', 'a ')", "VarChar NULL"},
      {"NULLIF(2, 2E0)", "Float NULL"},
  });
}

// PI is the double nearest to pi, not the 15 digits its text shows.
TEST(FunctionTable, PiIsTheNearestDouble) {
  TypedTree pi(Fn(opPi, dtFloat, {}));
  TBRNExprEvaluator evaluator(true);
  evaluator.Evaluate(pi.Get());
  EXPECT_EQ(pi->Value->GetAsFloat(), 3.141592653589793);
  evaluator.Unprepare(pi.Get());
}

TEST(FunctionTable, TextSizeLimit) {
  ExpectTable({
      {"REPEAT('ab', 100000000)", "error 1011"},
      {"LENGTH(REPEAT('ab', 1000))", "Integer 2000"},
      // 1000 occurrences, each growing by 70,000 characters: refused before
      // anything is built.
      {"REPLACE('a' WITH REPEAT('b', 70000) IN REPEAT('a', 1000))", "error 1011"},
  });
}

// ---- Hand-built trees ---------------------------------------------------------------

// AVG, STDDEV and RUNSUM carry the aggregated expression first (not
// evaluated here), then the running SUM, COUNT and SUMSQUARE.
TEST(AggregateFinishing, AvgStdDevAndRunSum) {
  struct AggCase {
    TBRNExprToken* Tree;
    bool StandardNull;
    const char* Expected;
  };
  const std::vector<AggCase> cases = {
      {Fn(opAvg, dtInteger, {Null(), Int(7), Int(2)}), true, "3"},
      {Fn(opAvg, dtInteger, {Null(), Int(-7), Int(2)}), true, "-3"},
      {Fn(opAvg, dtInteger, {Null(), Int(7), Int(0)}), true, "0"},
      {Fn(opAvg, dtInteger, {Null(), NullOf(dtInteger), Int(0)}), true, "NULL"},
      {Fn(opAvg, dtBigInt, {Null(), Big(9000000000), Int(3)}), true, "3000000000"},
      {Fn(opAvg, dtFloat, {Null(), Flt("7"), Int(2)}), true, "3.5"},
      {Fn(opAvg, dtFloat, {Null(), Flt("7"), Int(0)}), true, "0"},
      // Decimals: nearest, ties to even.
      {Fn(opAvg, dtDecimal, {Null(), Dec("0.0001"), Int(2)}), true, "0.0000"},
      {Fn(opAvg, dtDecimal, {Null(), Dec("0.0003"), Int(2)}), true, "0.0002"},
      {Fn(opAvg, dtDecimal, {Null(), Dec("-0.0003"), Int(2)}), true, "-0.0002"},
      {Fn(opAvg, dtDecimal, {Null(), Dec("10"), Int(3)}), true, "3.3333"},
      {Fn(opAvg, dtYearMonthInterval, {Null(), YM("7", ifMonth), Int(2)}, ifMonth), true, "3"},
      {Fn(opAvg, dtDayTimeInterval, {Null(), DT("9", ifHour), Int(2)}, ifHour), true, "4"},
      // STDDEV of 2, 4, 4, 4, 5, 5, 7, 9 (sample): sqrt(32 / 7).
      {Fn(opStdDev, dtFloat, {Null(), Int(40), Int(232), Int(8)}), true, "2.1380899352994"},
      {Fn(opStdDev, dtFloat, {Null(), Int(5), Int(25), Int(1)}), true, "0"},
      {Fn(opStdDev, dtFloat, {Null(), NullOf(dtInteger), Int(0), Int(0)}), true, "NULL"},
      // Three equal values whose squares round below the mean: 0, never NaN.
      {Fn(opStdDev, dtFloat, {Null(), Flt("0.3"), Flt("0.03"), Int(3)}), true, "0"},
      {Fn(opStdDev, dtFloat, {Null(), Flt("0.30000000000000004"), Flt("0.0299999999"), Int(3)}),
       true, "0"},
  };
  for (size_t i = 0; i < cases.size(); ++i)
    EXPECT_EQ(EvaluateTree(cases[i].Tree, cases[i].StandardNull), cases[i].Expected)
        << "case " << i;
}

// RUNSUM keeps its total in its own value across rows; a NULL row adds
// nothing, and an Integer total that leaves the range raises 1011.
TEST(AggregateFinishing, RunSumAccumulatesAcrossRows) {
  TBRNExprToken* row = NullOf(dtInteger);
  TypedTree tree(Fn(opRunSum, dtInteger, {Null(), row}));
  TBRNExprEvaluator evaluator(true);
  evaluator.CreateTokenValue(row);
  std::vector<std::string> totals;
  for (const char* input : {"5", "NULL", "-2", "10"}) {
    if (std::string(input) == "NULL")
      row->Value->SetNull(true);
    else
      row->Value->SetAsString(input);
    totals.push_back(ResultText(evaluator, tree.Get()));
  }
  EXPECT_EQ(totals, (std::vector<std::string>{"5", "5", "3", "13"}));
  row->Value->SetAsInteger(2147483647);
  EXPECT_THROW(evaluator.Evaluate(tree.Get()), EBRNException);
  evaluator.Unprepare(tree.Get());
}

// Under the engine's own NULL rules a NULL argument reads as empty text or
// 0 where the function does not decide about NULL itself.
TEST(FunctionNullRules, EngineRulesReadNullAsEmptyOrZero) {
  struct NullCase {
    TBRNExprToken* Tree;
    const char* Standard;
    const char* Engine;
  };
  const std::vector<NullCase> cases = {
      {Fn(opConcat, dtChar, {Str("ab"), NullOf(dtChar)}), "NULL", "ab"},
      {Fn(opSqrt, dtFloat, {NullOf(dtFloat)}), "NULL", "0"},
      {Fn(opAbs, dtInteger, {NullOf(dtInteger)}), "NULL", "0"},
      {Fn(opUpper, dtChar, {NullOf(dtChar)}), "NULL", ""},
      {Fn(opLength, dtInteger, {NullOf(dtChar)}), "0", "0"},
      {Fn(opPosition, dtInteger, {Str("a"), NullOf(dtChar)}), "0", "0"},
      {Fn(opOccurs, dtInteger, {Str("a"), NullOf(dtChar)}), "0", "0"},
      // TRIM tests only its text, not the trim character.
      {Fn(opTrimBoth, dtChar, {NullOf(dtChar), Str(" a ")}), " a ", " a "},
      {Fn(opTrimBoth, dtChar, {Str(" "), NullOf(dtChar)}), "NULL", ""},
      {Fn(opExtractDay, dtInteger, {NullOf(dtDate)}), "NULL", "0"},
      {Fn(opRound, dtFloat, {Flt("2.567"), NullOf(dtInteger)}), "3", "3"},
      // A type without the field gives NULL, not an earlier value.
      {Fn(opExtractHour, dtInteger, {Date("2020-01-01")}), "NULL", "NULL"},
      {Fn(opExtractDay, dtInteger, {YM("14", ifMonth)}), "NULL", "NULL"},
      {Fn(opAbs, dtChar, {Str("-1")}), "NULL", "NULL"},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    TypedTree tree(cases[i].Tree);
    for (bool standard : {true, false}) {
      TBRNExprEvaluator evaluator(standard);
      EXPECT_EQ(ResultText(evaluator, tree.Get()), standard ? cases[i].Standard : cases[i].Engine)
          << "case " << i << (standard ? " standard" : " engine");
      evaluator.Unprepare(tree.Get());
    }
  }
}

// The functions a session, cursor or statement answers reach the
// evaluator's virtual operations; a subclass stands in for the session.
class SessionEvaluator : public TBRNExprEvaluator {
 public:
  SessionEvaluator() : TBRNExprEvaluator(true) {}
  void GetCurrentUser(TBRNExprToken* Node) override { Node->Value->SetAsString("Admin"); }
  void GetCurrentDatabase(TBRNExprToken* Node) override { Node->Value->SetAsString("Sales"); }
  void GetCurrentComputer(TBRNExprToken* Node) override { Node->Value->SetAsString("HOST1"); }
  void GetCurrentVersion(TBRNExprToken* Node) override { Node->Value->SetAsString("1.25"); }
  void GetInTransaction(TBRNExprToken* Node) override { Node->Value->SetAsBoolean(true); }
  void GetLastIdentity(TBRNExprToken* Node) override { Node->Value->SetAsInteger(41); }
  void GetLoadingUpdates(TBRNExprToken* Node) override { Node->Value->SetAsBoolean(false); }
  void GetOperation(TBRNExprToken* Node) override { Node->Value->SetAsString("INSERT"); }
  void GetAborted(TBRNExprToken* Node) override { Node->Value->SetAsBoolean(true); }
  void GetCardinality(TBRNExprToken* Node) override { Node->Value->SetAsInteger(3); }
  void GetErrorInfo(TBRNExprToken* Node) override {
    if (Node->Operation == opErrorCode)
      Node->Value->SetAsInteger(1011);
    else
      Node->Value->SetAsString("failed");
  }
  void GetCursorAttribute(TBRNExprToken* Node) override {
    if (Node->Operation == opRowCount) Node->Value->SetAsInteger(12);
    if (Node->Operation == opEof) Node->Value->SetAsBoolean(true);
  }
  void GetStatementAttribute(TBRNExprToken* Node) override {
    if (Node->Operation == opRowsAffected) Node->Value->SetAsInteger(4);
    if (Node->Operation == opStmtResult) Node->Value->SetAsBoolean(true);
  }
};

TEST(SessionFunctions, AnsweredThroughTheVirtualInterface) {
  struct SessionCase {
    TBRNExprToken* Tree;
    const char* Expected;
  };
  const std::vector<SessionCase> cases = {
      {Fn(opCurrentUser, dtChar, {}), "Admin"},
      {Fn(opCurrentDatabase, dtChar, {}), "Sales"},
      {Fn(opCurrentComputer, dtChar, {}), "HOST1"},
      {Fn(opCurrentVersion, dtDecimal, {}), "1.2500"},
      {Fn(opInTransaction, dtBoolean, {}), "TRUE"},
      {Fn(opLastIdentity, dtInteger, {Str("T"), Str("ID")}), "41"},
      {Fn(opLoadingUpdates, dtBoolean, {}), "FALSE"},
      {Fn(opOperation, dtChar, {}), "INSERT"},
      {Fn(opAborted, dtBoolean, {}), "TRUE"},
      {Fn(opCardinality, dtInteger, {Null()}), "3"},
      {Fn(opErrorCode, dtInteger, {}), "1011"},
      {Fn(opErrorMsg, dtChar, {}), "failed"},
      {Fn(opRowCount, dtInteger, {Str("c")}), "12"},
      {Fn(opEof, dtBoolean, {Str("c")}), "TRUE"},
      // An attribute the session does not answer is NULL, not stale.
      {Fn(opBof, dtBoolean, {Str("c")}), "NULL"},
      {Fn(opRowsAffected, dtInteger, {Str("s")}), "4"},
      {Fn(opStmtResult, dtBoolean, {Str("s")}), "TRUE"},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    TypedTree tree(cases[i].Tree);
    SessionEvaluator evaluator;
    EXPECT_EQ(ResultText(evaluator, tree.Get()), cases[i].Expected) << "case " << i;
    evaluator.Unprepare(tree.Get());
  }
  // The same through parsed and validated text.
  for (const auto& [text, expected] :
       std::vector<std::pair<const char*, const char*>>{{"CURRENT_USER", "Admin"},
                                                        {"CONCAT(CURRENT_DATABASE, '!')", "Sales!"},
                                                        {"INTRANSACTION", "TRUE"},
                                                        {"ABORTED()", "TRUE"}}) {
    ValidationRun run(text, {.Print = false});
    ASSERT_EQ(run.Result, "") << text;
    SessionEvaluator evaluator;
    EXPECT_EQ(ResultText(evaluator, run.Owner.Root), expected) << text;
    evaluator.Unprepare(run.Owner.Root);
  }
  // The base evaluator answers ABORTED with FALSE and leaves the rest NULL.
  EXPECT_EQ(EvaluateTree(Fn(opAborted, dtBoolean, {}), true), "FALSE");
  EXPECT_EQ(EvaluateTree(Fn(opCurrentUser, dtChar, {}), true), "NULL");
}

// CURRENT_DATE, CURRENT_TIME and CURRENT_TIMESTAMP read the clock, in UTC
// when the call has the UTC option (its one argument).
TEST(CurrentMoment, LocalAndUTCClockReadings) {
  for (bool utc : {true, false}) {
    TypedTree date(utc ? Fn(opCurrentDate, dtDate, {Str("UTC")}) : Fn(opCurrentDate, dtDate, {}));
    TypedTree stamp(utc ? Fn(opCurrentTimestamp, dtTimestamp, {Str("UTC")})
                        : Fn(opCurrentTimestamp, dtTimestamp, {}));
    TypedTree time(utc ? Fn(opCurrentTime, dtTime, {Str("UTC")}) : Fn(opCurrentTime, dtTime, {}));
    TBRNExprEvaluator evaluator(true);
    const int64_t before = CurrentTimestamp(utc);
    evaluator.Evaluate(date.Get());
    evaluator.Evaluate(stamp.Get());
    evaluator.Evaluate(time.Get());
    const int64_t after = CurrentTimestamp(utc);
    EXPECT_GE(stamp->Value->GetAsTimestamp(), before);
    EXPECT_LE(stamp->Value->GetAsTimestamp(), after);
    EXPECT_GE(date->Value->GetAsDate(), TimestampToDate(before));
    EXPECT_LE(date->Value->GetAsDate(), TimestampToDate(after));
    // Unless midnight passed between the readings, the time is between them.
    if (TimestampToDate(before) == TimestampToDate(after)) {
      EXPECT_GE(time->Value->GetAsTime(), TimestampToTime(before));
      EXPECT_LE(time->Value->GetAsTime(), TimestampToTime(after));
    }
    evaluator.Unprepare(date.Get());
    evaluator.Unprepare(stamp.Get());
    evaluator.Unprepare(time.Get());
  }
}

// RAND: one generator for the process; seeded, it repeats its sequence.
TEST(Rand, SeededSequenceRangesAndThreads) {
  auto draw = [](TBRNExprToken* Tree) { return EvaluateTree(Tree, true); };
  evaluation::SeedRandomGenerator(42);
  std::vector<std::string> first;
  for (int i = 0; i < 5; ++i) first.push_back(draw(Fn(opRand, dtFloat, {})));
  evaluation::SeedRandomGenerator(42);
  std::vector<std::string> second;
  for (int i = 0; i < 5; ++i) second.push_back(draw(Fn(opRand, dtFloat, {})));
  EXPECT_EQ(first, second);
  EXPECT_GT(std::set<std::string>(first.begin(), first.end()).size(), 1u);

  // With a range n: whole numbers in [0, n); NULL range: a float in [0, 1).
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) seen.insert(draw(Fn(opRand, dtFloat, {Int(3)})));
  EXPECT_EQ(seen, (std::set<std::string>{"0", "1", "2"}));
  for (int i = 0; i < 50; ++i) {
    const double x = std::stod(draw(Fn(opRand, dtFloat, {NullOf(dtInteger)})));
    EXPECT_TRUE(x >= 0 && x < 1) << x;
  }
  EXPECT_EQ(draw(Fn(opRand, dtFloat, {Int(0)})), "0");

  // Two threads drawing at once, each with its own evaluator and tree.
  std::atomic<int> outOfRange{0};
  auto worker = [&outOfRange] {
    TypedTree tree(Fn(opRand, dtFloat, {Int(1000)}));
    TBRNExprEvaluator evaluator(true);
    for (int i = 0; i < 2000; ++i) {
      evaluator.Evaluate(tree.Get());
      const double x = tree->Value->GetAsFloat();
      if (x < 0 || x >= 1000) ++outOfRange;
    }
    evaluator.Unprepare(tree.Get());
  };
  std::thread a(worker);
  std::thread b(worker);
  a.join();
  b.join();
  EXPECT_EQ(outOfRange.load(), 0);
}

}  // namespace
}  // namespace brn::testing

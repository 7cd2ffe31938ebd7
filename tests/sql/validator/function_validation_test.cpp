// Typing of built-in function calls and of calls of stored functions: the
// result type of every function, the argument classes with their messages,
// "?" arguments, the common type of conditional functions, the CAST
// conversion table, and the functions that bind names through the owner
// (stored functions, cursors, statements, arrays).

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/text/exception.h"
#include "sql/parser/expr_parser.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/query_layout.h"
#include "sql/validator/validator_fixture.h"

namespace brn::testing {
namespace {

constexpr TBRNParseFlags kFlags = pcAggregates | pcRowValues;

// "VarChar(10)", "Decimal,2", "CLOB/c1" (with a collation), "Interval Day".
std::string TypeText(const TBRNExprToken* node) {
  if (node->DataType == dtNull) return "Null";
  std::string text = DataTypeName(node->DataType, node->SubType);
  if (node->DataType == dtChar || node->DataType == dtBytes)
    text += "(" + std::to_string(node->Size) + ")";
  if (node->DataType == dtDecimal) text += "," + std::to_string(node->Scale);
  if (node->Collation != 0) text += "/c" + std::to_string(node->Collation);
  return text;
}

// The result type of the validated expression, or the error.
std::string Typed(std::string_view text, RunOptions options = {}) {
  options.Flags |= kFlags;
  options.Print = false;
  ValidationRun run(text, options);
  if (!run.Owner.Root) return run.Result;
  return TypeText(run.Owner.Root);
}

struct FunctionCase {
  const char* Text;
  const char* Expected;
};

void checkCases(std::initializer_list<FunctionCase> cases) {
  for (const FunctionCase& c : cases) EXPECT_EQ(Typed(c.Text), c.Expected) << c.Text;
}

const TBRNExprToken* firstFunction(const TBRNExprToken* node) {
  if (!node) return nullptr;
  if (node->Kind == tkFunction) return node;
  for (const TBRNExprToken* child : {node->Left(), node->Right()})
    if (const TBRNExprToken* found = firstFunction(child)) return found;
  for (const TBRNExprToken* argument : node->Arguments())
    if (const TBRNExprToken* found = firstFunction(argument)) return found;
  return nullptr;
}

// "<type of the first function call> | <parameter types>" of a query over T
// whose WHERE clause holds the call.
std::string QueryTypes(std::string_view text) {
  RunOptions options;
  options.Flags = pcQueries | pcDynamicParams | pcSubqueryParams;
  options.ContextTable = "";
  options.Print = false;
  ValidationRun run(text, options);
  if (!run.Owner.Root) return run.Result;
  std::string out = TypeText(firstFunction(run.Owner.Root)) + " |";
  for (const TBRNExprToken* param : run.Owner.Root->Argument(qpParameters)->Arguments())
    out += " " + TypeText(param);
  return out;
}

TEST(FunctionValidation, Aggregates) {
  checkCases({
      {"AVG(i)", "Integer"},
      {"AVG(DISTINCT d)", "Decimal,2"},
      {"AVG(dt)", "Date"},
      {"AVG(dt_d)", "Interval Day"},
      {"AVG(vc)",
       "error 1:5 Expected SmallInt, Integer, BigInt, Float, Decimal, Date, Time, Timestamp, "
       "Interval Year, Interval Year To Month, Interval Day, Interval Day To Hour, Interval Day To "
       "Minute, Interval Day To Second, Interval Day To MSecond, Interval Hour, Interval Hour To "
       "Minute, Interval Hour To Second, Interval Hour To MSecond, Interval Minute, Interval "
       "Minute To Second, Interval Minute To MSecond, Interval Second, Interval Second To MSecond, "
       "or Interval MSecond expression but instead found vc"},
      {"COUNT(*)", "Integer"},
      {"COUNT(DISTINCT vc)", "Integer"},
      {"COUNT(bl)", "Integer"},
      {"COUNT((i, s))", "error 1:8 Invalid expression ROW(i, s) found, row values not allowed"},
      {"LIST(vc)", "CLOB/c1"},
      {"LIST(DISTINCT ORDERED vc2 USING ';')", "CLOB"},
      {"LIST(vc, 1)", "error 1:10 Expected Char, GUID, or VarChar expression but instead found 1"},
      {"LIST(i)", "error 1:6 Expected Char, GUID, or VarChar expression but instead found i"},
      {"MAX(vc)", "VarChar(10)/c1"},
      {"MIN(ts)", "Timestamp"},
      {"MIN(cl)", "error 1:5 Invalid expression cl found, BLOB expressions not allowed"},
      {"MAX(bl)", "error 1:5 Invalid expression bl found, BLOB expressions not allowed"},
      {"SUM(s)", "Integer"},
      {"SUM(i)", "BigInt"},
      {"SUM(b)", "BigInt"},
      {"SUM(d)", "Decimal,2"},
      {"SUM(dt_h)", "Interval Hour"},
      {"SUM(vc)",
       "error 1:5 Expected SmallInt, Integer, BigInt, Float, Decimal, Interval Year, Interval Year "
       "To Month, Interval Day, Interval Day To Hour, Interval Day To Minute, Interval Day To "
       "Second, Interval Day To MSecond, Interval Hour, Interval Hour To Minute, Interval Hour To "
       "Second, Interval Hour To MSecond, Interval Minute, Interval Minute To Second, Interval "
       "Minute To MSecond, Interval Second, Interval Second To MSecond, or Interval MSecond "
       "expression but instead found vc"},
      {"SUM(dt)",
       "error 1:5 Expected SmallInt, Integer, BigInt, Float, Decimal, Interval Year, Interval Year "
       "To Month, Interval Day, Interval Day To Hour, Interval Day To Minute, Interval Day To "
       "Second, Interval Day To MSecond, Interval Hour, Interval Hour To Minute, Interval Hour To "
       "Second, Interval Hour To MSecond, Interval Minute, Interval Minute To Second, Interval "
       "Minute To MSecond, Interval Second, Interval Second To MSecond, or Interval MSecond "
       "expression but instead found dt"},
      {"RUNSUM(s)", "Integer"},
      {"RUNSUM(f)", "Float"},
      {"STDDEV(i)", "Float"},
      {"STDDEV(dt_d)",
       "error 1:8 Expected SmallInt, Integer, BigInt, Float, or Decimal expression but instead "
       "found dt_d"},
  });
}

TEST(FunctionValidation, ConditionalFunctionsTakeACommonType) {
  checkCases({
      {"CASE i WHEN 1 THEN 'a' END", "VarChar(1)"},
      {"CASE WHEN bo THEN vc WHEN i THEN vc2 ELSE 'x' END", "VarChar(20)/c1"},
      {"CASE WHEN bo THEN NULL ELSE NULL END",
       "error 1:19 Invalid expression NULL found, at least one of the result expressions must be "
       "non-NULL"},
      {"CASE WHEN vc THEN 1 END",
       "error 1:11 Expected Boolean, SmallInt, Integer, or BigInt expression but instead found vc"},
      {"CASE WHEN bo THEN 1 ELSE vc END",
       "error 1:26 Expected NULL, SmallInt, Integer, BigInt, Float, Decimal, Interval Year, "
       "Interval Day, Interval Hour, Interval Minute, Interval Second, or Interval MSecond "
       "expression but instead found vc"},
      {"CASE i WHEN 'a' THEN 1 END",
       "error 1:13 Expected Boolean, SmallInt, Integer, BigInt, Float, Decimal, Interval Year, "
       "Interval Day, Interval Hour, Interval Minute, Interval Second, or Interval MSecond "
       "expression but instead found 'a'"},
      {"IF(bo, 'ab', CAST(i AS VARCHAR(10)))", "VarChar(10)"},
      {"IF(bo, 1, 2.5)", "Float"},
      {"IF(bo, s, d)", "Decimal,2"},
      {"IF(bo, d, d4)", "Decimal,4"},
      {"IF(bo, d, f)", "Float"},
      {"IF(bo, fc, vc)", "VarChar(10)"},
      {"IF(bo, fc, fc)", "Char(5)"},
      {"IF(bo, vc, cl)", "CLOB"},
      {"IF(bo, vb, bl)", "BLOB"},
      {"IF(bo, g, vc2)", "VarChar(38)"},
      {"IF(bo, g, fc)", "VarChar(38)"},
      {"IF(bo, NULL, dt)", "Date"},
      {"IF(bo, dt_d, dt_dh)",
       "error 1:14 Expected NULL, SmallInt, Integer, BigInt, or Interval Day expression but "
       "instead found dt_dh"},
      {"IF(i, 1, 2)", "Integer"},
      {"IF(vc, 1, 2)",
       "error 1:4 Expected Boolean, SmallInt, Integer, or BigInt expression but instead found vc"},
      {"IF(bo, i, vc)",
       "error 1:11 Expected NULL, SmallInt, Integer, BigInt, Float, Decimal, Interval Year, "
       "Interval Day, Interval Hour, Interval Minute, Interval Second, or Interval MSecond "
       "expression but instead found vc"},
      {"IF(bo, NULL, NULL)",
       "error 1:8 Invalid expression NULL found, at least one of the result expressions must be "
       "non-NULL"},
      {"IFNULL(i, vc, vc2)", "VarChar(20)/c1"},
      {"IFNULL(i, NULL, s)", "SmallInt"},
      {"NULLIF(i, 5)", "Integer"},
      {"NULLIF(NULL, NULL)",
       "error 1:8 Invalid expression NULL found, at least one of the result expressions must be "
       "non-NULL"},
      {"NULLIF((i, s), 1)", "error 1:9 Invalid expression ROW(i, s) found, row values not allowed"},
      {"COALESCE(i)",
       "error 1:1 Invalid expression COALESCE(i) found, the COALESCE function must contain more "
       "than one argument"},
      {"COALESCE(i, NULL)", "Integer"},
      {"COALESCE(s, b, f)", "Float"},
      {"COALESCE(s, ts)",
       "error 1:13 Expected NULL, SmallInt, Integer, BigInt, Float, Decimal, Interval Year, "
       "Interval Day, Interval Hour, Interval Minute, Interval Second, or Interval MSecond "
       "expression but instead found ts"},
  });
}

TEST(FunctionValidation, ConditionalsStandingAloneInAConditionAreComparedWithTrue) {
  RunOptions filter;
  filter.FilterMode = true;
  filter.Flags = kFlags;
  EXPECT_EQ(Validated("IF(bo, bo, i)", filter), "(IF(bo, bo, i) = TRUE:Boolean):Boolean");
  EXPECT_EQ(Validated("COALESCE(bo, bo)", filter), "(COALESCE(bo, bo) = TRUE:Boolean):Boolean");
  EXPECT_EQ(Validated("CASE WHEN bo THEN bo END", filter),
            "(CASE(opCaseConditions(bo, TRUE:Boolean), opCaseResults(bo, NULL:Null)) = "
            "TRUE:Boolean):Boolean");
  EXPECT_EQ(Validated("ABORTED", filter), "(ABORTED() = TRUE:Boolean):Boolean");
  // NULLIF is not rewritten.
  EXPECT_EQ(Validated("NULLIF(bo, bo)", filter), "NULLIF(bo, bo)");
}

TEST(FunctionValidation, DynamicParametersTakeThePositionsType) {
  const FunctionCase cases[] = {
      {"SELECT i FROM T WHERE LEFT(?, 3) = vc", "VarChar(3) | VarChar(0)"},
      {"SELECT i FROM T WHERE SUBSTRING(? FROM ? FOR ?) = vc",
       "VarChar(0) | VarChar(0) Integer Integer"},
      {"SELECT i FROM T WHERE CONCAT(?, vc) = vc", "VarChar(10) | VarChar(0)"},
      {"SELECT i FROM T WHERE REPLACE(?, ?, ?) = vc",
       "VarChar(0) | VarChar(0) VarChar(0) VarChar(0)"},
      {"SELECT i FROM T WHERE LENGTH(?) = 1", "Integer | VarChar(0)"},
      {"SELECT i FROM T WHERE ABS(?) = 1", "Float | Float"},
      {"SELECT i FROM T WHERE SQRT(?) = 1", "Float | Float"},
      {"SELECT i FROM T WHERE ROUND(?, ?) = 1", "Float | Float Integer"},
      {"SELECT i FROM T WHERE RAND(?) = 1", "Integer | Integer"},
      {"SELECT i FROM T WHERE EXTRACT(DAY FROM ?) = 1", "Integer | Timestamp"},
      {"SELECT i FROM T WHERE LASTIDENTITY(?, ?) = 1", "Integer | VarChar(0) VarChar(0)"},
      {"SELECT i FROM T WHERE IF(?, ?, 5) = 1", "Integer | Boolean Integer"},
      {"SELECT i FROM T WHERE IF(bo, ?, ?) = 1",
       "error 1:30 Invalid expression ? found, dynamic parameter type cannot be inferred"},
      {"SELECT i FROM T WHERE CASE WHEN ? THEN ? ELSE vc END = vc",
       "VarChar(10)/c1 | Boolean VarChar(0)/c1"},
      {"SELECT i FROM T WHERE COALESCE(?, NULL, ?) = 1",
       "error 1:32 Invalid expression ? found, dynamic parameter type cannot be inferred"},
      {"SELECT i FROM T WHERE NULLIF(?, d) = 1", "Decimal,2 | Decimal,2"},
      {"SELECT i FROM T WHERE TRIM(BOTH ? FROM vc) = vc",
       "error 1:33 Invalid expression ? found, only a single character allowed"},
      {"SELECT i FROM T WHERE QUOTEDSTR(vc, ?) = vc",
       "error 1:37 Invalid expression ? found, only a single character allowed"},
      {"SELECT i FROM T WHERE CAST(? AS DATE) = dt", "Date | Null"},
      {"SELECT i FROM T WHERE Discount(?, ?) = 1", "Decimal,0 | Decimal,2 Integer"},
      {"SELECT i FROM T GROUP BY i HAVING AVG(?) = 1",
       "error 1:39 Expected SmallInt, Integer, BigInt, Float, Decimal, Date, Time, Timestamp, "
       "Interval Year, Interval Year To Month, Interval Day, Interval Day To Hour, Interval Day To "
       "Minute, Interval Day To Second, Interval Day To MSecond, Interval Hour, Interval Hour To "
       "Minute, Interval Hour To Second, Interval Hour To MSecond, Interval Minute, Interval "
       "Minute To Second, Interval Minute To MSecond, Interval Second, Interval Second To MSecond, "
       "or Interval MSecond expression but instead found ?"},
  };
  for (const FunctionCase& c : cases) EXPECT_EQ(QueryTypes(c.Text), c.Expected) << c.Text;
}

TEST(FunctionValidation, StringFunctions) {
  checkCases({
      {"CONCAT('ab', 'cde')", "VarChar(5)"},
      {"CONCAT(vc, fc)", "VarChar(15)/c1"},
      {"CONCAT(vc, cl)", "CLOB/c1"},
      {"CONCAT(vc, 1)",
       "error 1:12 Expected Char, GUID, or VarChar expression but instead found 1"},
      {"CONCAT(vb, vc)",
       "error 1:8 Expected Char, GUID, or VarChar expression but instead found vb"},
      {"LEFT(fc, 3)", "VarChar(3)"},
      {"LEFT(fc, i)", "VarChar(5)"},
      {"RIGHT(vc2, 4)", "VarChar(4)"},
      {"LEFT(cl, 2)", "CLOB"},
      {"LEFT(vc, 'a')",
       "error 1:10 Expected SmallInt, Integer, or BigInt expression but instead found 'a'"},
      {"LEFT(vc, 1.5)",
       "error 1:10 Expected SmallInt, Integer, or BigInt expression but instead found 1.5"},
      {"LEFT(bl, 1)", "error 1:6 Expected CLOB expression but instead found bl"},
      {"REPEAT('ab', 3)", "VarChar(6)"},
      {"REPEAT(vc, i)", "VarChar(10)/c1"},
      {"SUBSTRING(vc2 FROM 2)", "VarChar(20)"},
      {"SUBSTRING(vc2, 2, 5)", "VarChar(5)"},
      {"SUBSTRING(fc, 2, i)", "VarChar(5)"},
      {"SUBSTRING(vc, 1.5)",
       "error 1:15 Expected SmallInt, Integer, or BigInt expression but instead found 1.5"},
      {"LENGTH(vc)", "Integer"},
      {"LENGTH(bl)", "Integer"},
      {"LENGTH(cl)", "Integer"},
      {"LENGTH(i)",
       "error 1:8 Expected Char, GUID, VarChar, CLOB, or BLOB expression but instead found i"},
      {"LOWER(fc)", "Char(5)"},
      {"UPPER(g)", "GUID(38)"},
      {"UPPER(cl)", "CLOB"},
      {"UPPER(bl)", "error 1:7 Expected CLOB expression but instead found bl"},
      {"UPPER(vb)", "error 1:7 Expected Char, GUID, or VarChar expression but instead found vb"},
      {"POSITION('a' IN vc)", "Integer"},
      {"OCCURS(vc, vb)",
       "error 1:12 Expected Char, GUID, or VarChar expression but instead found vb"},
      {"REPLACE(vc, vc2, fc)", "VarChar(5)"},
      {"QUOTEDSTR(vc)", "VarChar(10)/c1"},
      {"QUOTEDSTR(fc, '\"')", "VarChar(5)"},
      {"QUOTEDSTR(vc USING '')",
       "error 1:20 Invalid expression '' found, only a single character allowed"},
      {"QUOTEDSTR(vc USING 'ab')",
       "error 1:20 Invalid expression 'ab' found, only a single character allowed"},
      {"QUOTEDSTR(vc, vc2)", "error 1:15 Expected constant value expression but instead found vc2"},
      {"TRIM(BOTH ' ' FROM fc)", "VarChar(5)"},
      {"TRIM(LEADING '0', vc)", "VarChar(10)/c1"},
      {"TRIM(BOTH 'ab' FROM vc)",
       "error 1:11 Invalid expression 'ab' found, only a single character allowed"},
      {"TRIM(BOTH 1 FROM vc)",
       "error 1:11 Expected Char, GUID, or VarChar expression but instead found 1"},
      {"TRIM(BOTH vc FROM vc)",
       "error 1:11 Expected constant value expression but instead found vc"},
      {"LTRIM(g)", "VarChar(38)"},
      {"RTRIM(cl)", "CLOB"},
      {"ALLTRIM(i)", "error 1:9 Expected Char, GUID, or VarChar expression but instead found i"},
  });
}

// A constant count gives the declared size; it is read as a whole number and
// kept within 0 .. 2147483647, so no count turns a size negative or wraps it
// to a small one.
TEST(FunctionValidation, ConstantCountsGiveSizesWithinRange) {
  checkCases({
      {"LEFT(vc, 0)", "VarChar(0)/c1"},
      {"LEFT(vc, (-1))", "VarChar(10)/c1"},
      {"LEFT(vc, 4294967297)", "VarChar(2147483647)/c1"},
      {"RIGHT(vc, 2147483648)", "VarChar(2147483647)/c1"},
      {"REPEAT('ab', 1073741824)", "VarChar(2147483647)"},
      {"REPEAT('ab', 3000000000)", "VarChar(2147483647)"},
      {"REPEAT('ab', (-3))", "VarChar(2)"},
      {"SUBSTRING(vc, 1, 9223372036854775807)", "VarChar(2147483647)/c1"},
  });
}

TEST(FunctionValidation, NumericFunctions) {
  checkCases({
      {"ABS(i)", "Integer"},
      {"ABS(d)", "Decimal,2"},
      {"ABS(dt_dh)", "Interval Day To Hour"},
      {"ABS(ym_ym)", "Interval Year To Month"},
      {"ABS('1')",
       "error 1:5 Expected SmallInt, Integer, BigInt, Float, Decimal, Interval Year, Interval Year "
       "To Month, Interval Day, Interval Day To Hour, Interval Day To Minute, Interval Day To "
       "Second, Interval Day To MSecond, Interval Hour, Interval Hour To Minute, Interval Hour To "
       "Second, Interval Hour To MSecond, Interval Minute, Interval Minute To Second, Interval "
       "Minute To MSecond, Interval Second, Interval Second To MSecond, or Interval MSecond "
       "expression but instead found '1'"},
      {"ACOS(i)", "Float"},
      {"ASIN(d)", "Float"},
      {"ATAN(f)", "Float"},
      {"ATAN2(i, f)", "Float"},
      {"COS(s)", "Float"},
      {"COT(b)", "Float"},
      {"DEGREES(f)", "Float"},
      {"EXP(i)", "Float"},
      {"LOG(i)", "Float"},
      {"LN(d)", "Float"},
      {"LOG10(f)", "Float"},
      {"POWER(i, 2)", "Float"},
      {"RADIANS(f)", "Float"},
      {"SIN(f)", "Float"},
      {"SQRT(f)", "Float"},
      {"TAN(f)", "Float"},
      {"ACOS(dt_d)",
       "error 1:6 Expected SmallInt, Integer, BigInt, Float, or Decimal expression but instead "
       "found dt_d"},
      {"SQRT('a')",
       "error 1:6 Expected SmallInt, Integer, BigInt, Float, or Decimal expression but instead "
       "found 'a'"},
      {"POWER(i, vc)",
       "error 1:10 Expected SmallInt, Integer, BigInt, Float, or Decimal expression but instead "
       "found vc"},
      {"CEILING(2.5)", "Integer"},
      {"CEIL(d)", "Integer"},
      {"FLOOR(f)", "Integer"},
      {"FLOOR(bo)",
       "error 1:7 Expected SmallInt, Integer, BigInt, Float, or Decimal expression but instead "
       "found bo"},
      {"PI", "Float"},
      {"RAND", "Float"},
      {"RAND(10)", "Integer"},
      {"RAND(RANGE b)", "BigInt"},
      {"RAND(s)", "SmallInt"},
      {"RAND(f)", "error 1:6 Expected SmallInt, Integer, or BigInt expression but instead found f"},
      {"ROUND(d, 2)", "Decimal,2"},
      {"ROUND(f)", "Float"},
      {"ROUND(s, 1)", "SmallInt"},
      {"ROUND(i, 1.5)",
       "error 1:10 Expected SmallInt, Integer, or BigInt expression but instead found 1.5"},
      {"ROUND(vc)",
       "error 1:7 Expected SmallInt, Integer, BigInt, Float, or Decimal expression but instead "
       "found vc"},
      {"TRUNCATE(d4, s)", "Decimal,4"},
      {"TRUNC(f, (-1))", "Float"},
      {"SIGN(f)", "Integer"},
      {"SIGN(dt_d)",
       "error 1:6 Expected SmallInt, Integer, BigInt, Float, or Decimal expression but instead "
       "found dt_d"},
  });
}

TEST(FunctionValidation, DateAndTimeFunctions) {
  checkCases({
      {"EXTRACT(YEAR FROM dt)", "Integer"},
      {"EXTRACT(YEAR FROM ts)", "Integer"},
      {"EXTRACT(YEAR FROM ym_ym)", "Integer"},
      {"EXTRACT(YEAR FROM ym_y)", "Integer"},
      {"EXTRACT(YEAR FROM ym_m)",
       "error 1:19 Expected Date, Timestamp, Interval Year, or Interval Year To Month expression "
       "but instead found ym_m"},
      {"EXTRACT(YEAR FROM tm)",
       "error 1:19 Expected Date, Timestamp, Interval Year, or Interval Year To Month expression "
       "but instead found tm"},
      {"EXTRACT(MONTH FROM ym_m)", "Integer"},
      {"EXTRACT(MONTH FROM ym_y)",
       "error 1:20 Expected Date, Timestamp, or Interval Year To Month expression but instead "
       "found ym_y"},
      {"EXTRACT(WEEK FROM ts)", "Integer"},
      {"EXTRACT(WEEK FROM dt_d)",
       "error 1:19 Expected Date or Timestamp expression but instead found dt_d"},
      {"EXTRACT(DAYOFWEEK FROM dt)", "Integer"},
      {"EXTRACT(DAYOFYEAR FROM tm)",
       "error 1:24 Expected Date or Timestamp expression but instead found tm"},
      {"EXTRACT(DAY FROM dt_ds)", "Integer"},
      {"EXTRACT(DAY FROM dt_h)",
       "error 1:18 Expected Date, Timestamp, Interval Day, Interval Day To Hour, Interval Day To "
       "Minute, Interval Day To Second, or Interval Day To MSecond expression but instead found "
       "dt_h"},
      {"EXTRACT(HOUR FROM tm)", "Integer"},
      {"EXTRACT(HOUR FROM dt)",
       "error 1:19 Expected Time, Timestamp, Interval Day To Hour, Interval Day To Minute, "
       "Interval Day To Second, Interval Day To MSecond, Interval Hour, Interval Hour To Minute, "
       "Interval Hour To Second, or Interval Hour To MSecond expression but instead found dt"},
      {"EXTRACT(HOUR FROM dt_dh)", "Integer"},
      {"EXTRACT(HOUR FROM dt_hm)", "Integer"},
      {"EXTRACT(HOUR FROM dt_d)",
       "error 1:19 Expected Time, Timestamp, Interval Day To Hour, Interval Day To Minute, "
       "Interval Day To Second, Interval Day To MSecond, Interval Hour, Interval Hour To Minute, "
       "Interval Hour To Second, or Interval Hour To MSecond expression but instead found dt_d"},
      {"EXTRACT(MINUTE FROM dt_hm)", "Integer"},
      {"EXTRACT(MINUTE FROM dt_dh)",
       "error 1:21 Expected Time, Timestamp, Interval Day To Minute, Interval Day To Second, "
       "Interval Day To MSecond, Interval Hour To Minute, Interval Hour To Second, Interval Hour "
       "To MSecond, Interval Minute, Interval Minute To Second, or Interval Minute To MSecond "
       "expression but instead found dt_dh"},
      {"EXTRACT(SECOND FROM dt_ds)", "Integer"},
      {"EXTRACT(MSECOND FROM dt_ds)",
       "error 1:22 Expected Time, Timestamp, Interval Day To MSecond, Interval Hour To MSecond, "
       "Interval Minute To MSecond, Interval Second To MSecond, or Interval MSecond expression but "
       "instead found dt_ds"},
      {"EXTRACT(MSECOND FROM ts)", "Integer"},
      {"EXTRACT(DAY FROM vc)",
       "error 1:18 Expected Date, Timestamp, Interval Day, Interval Day To Hour, Interval Day To "
       "Minute, Interval Day To Second, or Interval Day To MSecond expression but instead found "
       "vc"},
      {"CURRENT_DATE", "Date"},
      {"CURRENT_TIME()", "Time"},
      {"CURRENT_TIMESTAMP(UTC)", "Timestamp"},
  });
}

TEST(FunctionValidation, SessionAndSystemFunctions) {
  checkCases({
      {"ABORTED", "Boolean"},
      {"LOADINGUPDATES()", "Boolean"},
      {"INTRANSACTION", "Boolean"},
      {"INTRANSACTION(vc)", "Boolean"},
      {"INTRANSACTION(1)",
       "error 1:15 Expected Char, GUID, or VarChar expression but instead found 1"},
      {"LASTIDENTITY('T', 'i')", "Integer"},
      {"LASTIDENTITY(1, 'i')",
       "error 1:14 Expected Char, GUID, or VarChar expression but instead found 1"},
      {"CURRENT_COMPUTER", "VarChar(0)"},
      {"CURRENT_DATABASE", "VarChar(0)"},
      {"CURRENT_USER", "VarChar(0)"},
      {"CURRENT_GUID", "GUID(38)"},
      {"CURRENT_VERSION", "Decimal,2"},
      {"OPERATION", "VarChar(0)"},
  });
  RunOptions handler;
  handler.Flags = pcExceptionHandling;
  EXPECT_EQ(Typed("ERRORCODE", handler), "Integer");
  EXPECT_EQ(Typed("ERRORMSG()", handler), "VarChar(0)");
  RunOptions queries;
  queries.Flags = pcQueries;
  EXPECT_EQ(Typed("EXISTS(SELECT * FROM T)", queries), "Boolean");
  EXPECT_EQ(Typed("EXISTS(1)", queries), "error 1:8 Expected query expression but instead found 1");
}

// Every operand type against every target type, once without options and
// once with all four format options (which never change what converts). The
// accepted operands per target are listed here on their own, as the
// conversion table states them.
TEST(FunctionValidation, CastConversionTable) {
  const std::vector<std::string> operands = {
      "s",  "i",  "b",  "f",    "d",    "bo",    "vc",   "fc",   "g",     "vb",    "cl",   "bl",
      "dt", "tm", "ts", "ym_y", "ym_m", "ym_ym", "dt_d", "dt_h", "dt_dh", "dt_hm", "dt_ds"};
  const std::set<std::string> texts = {"vc", "fc", "vb"};
  const auto with = [&](std::initializer_list<const char*> more) {
    std::set<std::string> result = texts;
    result.insert(more.begin(), more.end());
    return result;
  };
  const std::set<std::string> all(operands.begin(), operands.end());
  const std::set<std::string> toNumber = with({"s", "i", "b", "f", "d", "bo"});
  const std::set<std::string> toInteger =
      with({"s", "i", "b", "f", "d", "bo", "ym_y", "ym_m", "dt_d", "dt_h"});
  const std::set<std::string> toYearOrMonth = with({"s", "i", "b", "ym_y", "ym_m", "ym_ym"});
  const std::set<std::string> toYearToMonth = with({"ym_y", "ym_m", "ym_ym"});
  const std::set<std::string> dayTime = {"dt_d", "dt_h", "dt_dh", "dt_hm", "dt_ds"};
  std::set<std::string> toDayTimeField = with({"s", "i", "b"});
  toDayTimeField.insert(dayTime.begin(), dayTime.end());
  std::set<std::string> toDayTimeFields = texts;
  toDayTimeFields.insert(dayTime.begin(), dayTime.end());

  struct Target {
    const char* Text;
    const char* TypeText;
    std::set<std::string> Accepted;
  };
  const Target targets[] = {
      {"CHAR(5)", "Char(5)", all},
      {"VARCHAR(7)", "VarChar(7)", all},
      {"GUID", "GUID(38)", all},
      {"BYTE(4)", "Byte(4)", all},
      {"VARBYTE(3)", "VarByte(3)", all},
      {"BLOB", "BLOB", all},
      {"CLOB", "CLOB", all},
      {"BOOLEAN", "Boolean", toNumber},
      {"FLOAT", "Float", toNumber},
      {"DECIMAL(10, 3)", "Decimal,3", toNumber},
      {"SMALLINT", "SmallInt", toInteger},
      {"INTEGER", "Integer", toInteger},
      {"BIGINT", "BigInt", toInteger},
      {"DATE", "Date", with({"dt", "ts"})},
      {"TIME", "Time", with({"tm", "ts"})},
      {"TIMESTAMP", "Timestamp", with({"dt", "tm", "ts"})},
      {"INTERVAL YEAR", "Interval Year", toYearOrMonth},
      {"INTERVAL MONTH", "Interval Month", toYearOrMonth},
      {"INTERVAL YEAR TO MONTH", "Interval Year To Month", toYearToMonth},
      {"INTERVAL DAY", "Interval Day", toDayTimeField},
      {"INTERVAL MSECOND", "Interval MSecond", toDayTimeField},
      {"INTERVAL HOUR TO MINUTE", "Interval Hour To Minute", toDayTimeFields},
      {"INTERVAL DAY TO SECOND", "Interval Day To Second", toDayTimeFields},
  };
  const std::string options =
      " DATE FORMAT 'yyyy-mm-dd' TIME FORMAT 'hh:nn ampm' AM LITERAL 'a' PM LITERAL 'p' "
      "DECIMAL CHAR ',' BOOLEAN TRUE LITERAL 'yes' FALSE LITERAL 'no'";
  for (const Target& target : targets) {
    for (const std::string& operand : operands) {
      for (const std::string& suffix : {std::string(), options}) {
        const std::string text = "CAST(" + operand + " AS " + target.Text + suffix + ")";
        const std::string result = Typed(text);
        if (target.Accepted.count(operand))
          EXPECT_EQ(result, target.TypeText) << text;
        else
          EXPECT_EQ(result.rfind("error 1:6 Expected ", 0), 0u) << text << " -> " << result;
      }
    }
  }
}

TEST(FunctionValidation, CastTargetsOperandsAndOptions) {
  checkCases({
      {"CAST(i, INTEGER)", "Integer"},
      {"CAST(NULL AS DATE)", "Date"},
      {"CAST(vc AS VARCHAR(0))",
       "error 1:20 Invalid expression 0 found, an invalid length was specified"},
      {"CAST(vc AS CHAR)", "Char(1)"},
      {"CAST(i AS VARCHAR(2147483648))",
       "error 1:19 Invalid expression 2147483648 found, an invalid length was specified"},
      {"CAST(d AS DECIMAL(10, 4))", "Decimal,4"},
      {"CAST(dt AS INTEGER)",
       "error 1:6 Expected Char, VarChar, Byte, VarByte, Boolean, SmallInt, Integer, BigInt, "
       "Float, Decimal, Interval Year, Interval Day, Interval Hour, Interval Minute, Interval "
       "Second, or Interval MSecond expression but instead found dt"},
      {"CAST(i AS INTERVAL DAY TO HOUR)",
       "error 1:6 Expected Char, VarChar, Byte, VarByte, Interval Day, Interval Day To Hour, "
       "Interval Day To Minute, Interval Day To Second, Interval Day To MSecond, Interval Hour, "
       "Interval Hour To Minute, Interval Hour To Second, Interval Hour To MSecond, Interval "
       "Minute, Interval Minute To Second, Interval Minute To MSecond, Interval Second, Interval "
       "Second To MSecond, or Interval MSecond expression but instead found i"},
      {"CAST(g AS INTEGER)",
       "error 1:6 Expected Char, VarChar, Byte, VarByte, Boolean, SmallInt, Integer, BigInt, "
       "Float, Decimal, Interval Year, Interval Day, Interval Hour, Interval Minute, Interval "
       "Second, or Interval MSecond expression but instead found g"},
      {"CAST(i + 1 AS DATE)",
       "error 1:6 Expected Char, VarChar, Byte, VarByte, Date, or Timestamp expression but instead "
       "found i + 1"},
      {"CAST((i, s) AS INTEGER)",
       "error 1:7 Invalid expression ROW(i, s) found, row values not allowed"},
      {"CAST(vc AS TIME DATE FORMAT 'f')", "Time"},
      {"CAST(vc AS DATE DATE FORMAT vc2)",
       "error 1:29 Expected constant value expression but instead found vc2"},
      {"CAST(vc AS DATE DATE FORMAT 1)",
       "error 1:29 Expected Char, GUID, or VarChar expression but instead found 1"},
      {"CAST(vc AS TIME TIME FORMAT 1)",
       "error 1:29 Expected Char, GUID, or VarChar expression but instead found 1(nil, nil)"},
      {"CAST(vc AS TIME TIME FORMAT 't' AM LITERAL 'a' PM LITERAL vc)",
       "error 1:59 Expected constant value expression but instead found vc"},
      {"CAST(vc AS TIME TIME FORMAT 't' AM LITERAL 1 PM LITERAL 'p')",
       "error 1:44 Expected Char, GUID, or VarChar expression but instead found 1"},
      {"CAST(vc AS FLOAT DECIMAL CHAR '')",
       "error 1:31 Invalid expression '' found, the decimal character cannot be empty"},
      {"CAST(vc AS FLOAT DECIMAL CHAR ',,')", "Float"},
      {"CAST(vc AS FLOAT DECIMAL CHAR 1)",
       "error 1:31 Expected Char, GUID, or VarChar expression but instead found 1"},
      {"CAST(vc AS BOOLEAN BOOLEAN TRUE LITERAL 'y' FALSE LITERAL 0)",
       "error 1:59 Expected Char, GUID, or VarChar expression but instead found 0"},
      {"CAST(vc AS BOOLEAN BOOLEAN TRUE LITERAL i FALSE LITERAL 'n')",
       "error 1:41 Expected constant value expression but instead found i"},
  });
  // A "?" operand gets no type of its own.
}

// Stored functions are bound, typed and checked through the owner; the call
// is recorded as a dependency.
TEST(FunctionValidation, StoredFunctionCalls) {
  checkCases({
      {"Discount(d, 5)", "Decimal,0"},
      {"discount(d)", "Decimal,0"},
      {"Greeting(vc)", "VarChar(60)"},
      {"Greeting(vc, 1)",
       "error 1:14 Invalid expression 1 found, invalid number of parameters specified"},
      {"Greeting(i)",
       "error 1:10 Expected NULL, Char, GUID, or VarChar expression but instead found i"},
      {"Greeting((vc, vc2))",
       "error 1:11 Invalid expression ROW(vc, vc2) found, row values not allowed"},
      {"Nope(1)", "error 1:1 function Nope does not exist"},
  });
  ValidationRun run("Discount(Greeting(vc) = 'x', 1)", {.Flags = kFlags, .Print = false});
  EXPECT_EQ(run.Result,
            "error 1:10 Expected NULL, SmallInt, Integer, BigInt, Float, or Decimal expression but "
            "instead found Greeting(vc) = 'x'");
  ValidationRun ok("Discount(d, i) + 1", {.Flags = kFlags, .Print = false});
  ASSERT_NE(ok.Owner.Root, nullptr) << ok.Result;
  EXPECT_EQ(ok.Owner.FunctionDependencies, (std::vector<std::string>{"Discount"}));
  // The release pass closes the qualified database of each call.
  ok.Validator.ReleaseReferences();
  EXPECT_EQ(ok.Owner.CloseQualifiedCalls, 1);
}

// Procedural code: a validator over a parsed routine, for functions that
// bind declared names (cursors, statements, arrays) and recursive calls.
class ProceduralFunctions : public ::testing::Test {
 public:
  ProceduralFunctions() : validator(true) {}

  // Parses Text as a FUNCTION routine, gives its parameters and result the
  // types of their declarations (as routine validation does), then
  // validates the expression of the first "RETURN" or SET whose text holds
  // Call. Answers the call's type or the error.
  std::string Check(const std::string& body, const std::string& call) {
    owner.SQL =
        "FUNCTION \"F\" (N INTEGER, S VARCHAR(10)) RETURNS BIGINT BEGIN "
        "DECLARE c CURSOR FOR st; DECLARE st2 STATEMENT; DECLARE a INTEGER ARRAY [3]; "
        "DECLARE x BIGINT; " +
        body + " END";
    owner.SQLLength = int32_t(owner.SQL.size());
    try {
      TBRNExprParser parser;
      parser.BeginParse(owner);
      routine.Reset(parser.ParseFunctionRoutine(pcQueries | pcReturn | pcAggregates));
      for (TBRNExprToken* param : routine->Argument(0)->Arguments())
        param->AssignDataType(param->Argument(0));
      TBRNExprToken* result = routine->Argument(2)->Argument(0);
      result->AssignDataType(result->Argument(0));
      validator.SetExpression(owner);
      TBRNExprToken* node = find(routine.Get(), call);
      if (!node) return "no call " + call;
      validator.ValidateNode(node);
      return TypeText(node);
    } catch (const EBRNException& error) {
      return DescribeError(error);
    }
  }

  // The first function node printed as Call.
  static TBRNExprToken* find(TBRNExprToken* node, const std::string& call) {
    if (!node) return nullptr;
    if (node->Kind == tkFunction && PrintTree(node) == call) return node;
    for (TBRNExprToken* child : {node->Left(), node->Right()})
      if (TBRNExprToken* found = find(child, call)) return found;
    for (TBRNExprToken* argument : node->Arguments())
      if (TBRNExprToken* found = find(argument, call)) return found;
    return nullptr;
  }

  ValidatorOwner owner{TypesCatalog()};
  TBRNExprValidator validator;
  TreeHolder routine;
};

TEST_F(ProceduralFunctions, CursorStatementAndArrayFunctions) {
  struct ProceduralCase {
    const char* Body;
    const char* Call;
    const char* Expected;
  };
  const ProceduralCase cases[] = {
      {"SET x = ROWCOUNT(c);", "ROWCOUNT(CursorReference c)", "Integer"},
      {"SET x = BOF(c);", "BOF(CursorReference c)", "Boolean"},
      {"SET x = EOF(c);", "EOF(CursorReference c)", "Boolean"},
      {"SET x = SENSITIVE(c);", "SENSITIVE(CursorReference c)", "Boolean"},
      {"SET x = COLUMNCOUNT(c);", "COLUMNCOUNT(CursorReference c)", "Integer"},
      {"SET x = COLUMNNAME(c, N);", "COLUMNNAME(CursorReference c, N)", "VarChar(0)"},
      {"SET x = COLUMNNAME(c, S);", "COLUMNNAME(CursorReference c, S)",
       "error 1:179 Expected SmallInt, Integer, or BigInt expression but instead found "
       "RoutineParamReference S(nil, nil)"},
      {"SET x = ROWCOUNT(nope);", "ROWCOUNT(CursorReference nope)",
       "error 1:174 Invalid expression CursorReference nope found, the referenced cursor does not "
       "exist"},
      {"SET x = ROWSAFFECTED(st);", "ROWSAFFECTED(StatementReference st)", "Integer"},
      {"SET x = STMTRESULT(st2);", "STMTRESULT(StatementReference st2)", "Boolean"},
      {"SET x = ROWSAFFECTED(nope);", "ROWSAFFECTED(StatementReference nope)",
       "error 1:178 Invalid expression StatementReference nope found, the referenced statement "
       "does not exist"},
      {"SET x = CARDINALITY(a);", "CARDINALITY(a)", "Integer"},
      {"SET x = CARDINALITY(a[1]);", "CARDINALITY(a[1])",
       "error 1:177 Expected array variable name expression but instead found ArrayElement "
       "a(List(1), nil)"},
      {"SET x = CARDINALITY(x);", "CARDINALITY(x)",
       "error 1:177 Expected array variable name expression but instead found VariableReference "
       "x(nil, nil)"},
      {"SET x = SUM(a);", "SUM(a)",
       "error 1:169 Invalid expression ArrayReference a(nil, nil) found, array references not "
       "allowed"},
  };
  for (const ProceduralCase& c : cases) EXPECT_EQ(Check(c.Body, c.Call), c.Expected) << c.Body;
}

// A function calling itself takes its own RETURNS type and parameter list,
// without asking the catalog.
TEST_F(ProceduralFunctions, RecursiveCalls) {
  EXPECT_EQ(Check("RETURN F(N - 1, S);", "F((N - 1), S)"), "BigInt");
  EXPECT_EQ(Check("RETURN F(N);", "F(N)"), "BigInt");
  EXPECT_EQ(Check("RETURN F(N, S, 1);", "F(N, S, 1)"),
            "error 1:172 Invalid expression 1 found, invalid number of parameters specified");
  EXPECT_EQ(Check("RETURN F(S);", "F(S)"),
            "error 1:166 Expected NULL, SmallInt, Integer, BigInt, Float, Decimal, Interval Year, "
            "Interval Day, Interval Hour, Interval Minute, Interval Second, or Interval MSecond "
            "expression but instead found RoutineParamReference S(nil, nil)");
}

}  // namespace
}  // namespace brn::testing

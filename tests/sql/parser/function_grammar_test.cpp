// Built-in function calls: the tree of every function keyword (operation
// code, quantifier, parse type, argument layout), the names that stand for
// one function, CAST with its format options, and the syntax errors with
// their positions.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "foundation/text/exception.h"
#include "sql/parser/expr_parser.h"
#include "sql/parser/statement_support.h"
#include "sql/tree/compiled_expr.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/keywords.h"
#include "sql/tree_printer.h"

namespace brn {
namespace {

using testing::DescribeError;
using testing::ParseExpressionText;
using testing::PrintTree;
using testing::TreeHolder;

constexpr TBRNParseFlags kFlags = pcAggregates | pcQueries | pcDynamicParams;

// The tree printed, then " #<operation>", " v<Variant>" when set and
// " :<parse type>" when the call has one; or the error.
std::string Parsed(std::string_view text, TBRNParseFlags flags = kFlags) {
  try {
    TreeHolder tree = ParseExpressionText(text, flags);
    std::string out = PrintTree(tree.Get());
    if (tree->Kind == tkFunction) {
      out += " #" + std::string(OperationInfo(tree->Operation).Name);
      if (tree->Variant != 0) out += " v" + std::to_string(tree->Variant);
      if (tree->DataType != dtNull) {
        out += " :" + DataTypeName(tree->DataType, tree->SubType);
        if (tree->DataType == dtDecimal) out += "," + std::to_string(tree->Scale);
      }
    }
    return out;
  } catch (const EBRNException& error) {
    return DescribeError(error);
  }
}

struct FunctionCase {
  const char* Text;
  const char* Expected;
  TBRNParseFlags Flags = kFlags;
};

void checkFunctionCases(std::initializer_list<FunctionCase> cases) {
  for (const FunctionCase& c : cases) EXPECT_EQ(Parsed(c.Text, c.Flags), c.Expected) << c.Text;
}

TEST(FunctionGrammar, EveryKeywordHasItsGrammar) {
  TBRNExprParser parser;
  for (const TBRNKeywordEntry& keyword : FunctionKeywords)
    EXPECT_NE(parser.FunctionParser(keyword.Operation), nullptr) << keyword.Word;
  // Codes that no keyword starts: made by CASE, EXTRACT, the query check and
  // the call of a stored function.
  for (int code : {26, 27, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 101, 108})
    EXPECT_EQ(parser.FunctionParser(TBRNExprOperation(code)), nullptr) << code;
}

TEST(FunctionGrammar, AggregatesAndConditionals) {
  checkFunctionCases({
      {"AVG(x)", "AVG(x) #opAvg"},
      {"AVG(DISTINCT x + 1)", "AVG((x + 1)) #opAvg v1"},
      {"COUNT(*)", "COUNT(*) #opCount :Integer"},
      {"COUNT(DISTINCT x)", "COUNT(x) #opCount v1 :Integer"},
      {"LIST(x)", "LIST(x) #opList :CLOB"},
      {"LIST(ORDERED x)", "LIST(x) #opList v2 :CLOB"},
      {"LIST(DISTINCT ORDERED x USING '; ')", "LIST(x, '; ') #opList v3 :CLOB"},
      {"LIST(DISTINCT x, ',')", "LIST(x, ',') #opList v1 :CLOB"},
      {"MAX(x)", "MAX(x) #opMax"},
      {"MIN(x)", "MIN(x) #opMin"},
      {"RUNSUM(DISTINCT x)", "RUNSUM(x) #opRunSum v1"},
      {"STDDEV(x)", "STDDEV(x) #opStdDev :Float"},
      {"SUM(SUM(x))", "SUM(SUM(x)) #opSum"},
      {"CASE x WHEN 1 THEN 'a' END",
       "CASE(opCaseConditions(1, TRUE), opCaseResults('a', NULL), x) #opCase"},
      {"CASE WHEN a > 1 THEN 'a' WHEN b THEN 'b' ELSE 'c' END",
       "CASE(opCaseConditions((a > 1), b, TRUE), opCaseResults('a', 'b', 'c')) #opCase"},
      {"IF(a = 1 THEN 'x' ELSE 'y')", "IF((a = 1), 'x', 'y') #opIf"},
      {"IF(a, 1, 2)", "IF(a, 1, 2) #opIf"},
      {"IFNULL(a, b, c)", "IFNULL(a, b, c) #opIfNull"},
      {"NULLIF(a, b)", "NULLIF(a, b) #opNullIf"},
      {"COALESCE(a, b, c OR d)", "COALESCE(a, b, (c OR d)) #opCoalesce"},
  });
}

TEST(FunctionGrammar, StringFunctions) {
  checkFunctionCases({
      {"CONCAT(a WITH 'b')", "CONCAT(a, 'b') #opConcat :VarChar"},
      {"CONCAT(a, 'b')", "CONCAT(a, 'b') #opConcat :VarChar"},
      {"LEFT(a FOR 3)", "LEFT(a, 3) #opLeft :VarChar"},
      {"RIGHT(a, 3)", "RIGHT(a, 3) #opRight :VarChar"},
      {"REPEAT('ab' FOR n + 1)", "REPEAT('ab', (n + 1)) #opRepeat :VarChar"},
      {"SUBSTRING(a FROM 2)", "SUBSTRING(a, 2) #opSubstring :VarChar"},
      {"SUBSTRING(a FROM 2 FOR 5)", "SUBSTRING(a, 2, 5) #opSubstring :VarChar"},
      {"SUBSTR(a, 2, 5)", "SUBSTRING(a, 2, 5) #opSubstring :VarChar"},
      {"LENGTH(a || 'b')", "LENGTH((a + 'b')) #opLength :Integer"},
      {"CHAR_LENGTH(a)", "LENGTH(a) #opLength :Integer"},
      {"LOWER(a)", "LOWER(a) #opLower :VarChar"},
      {"UPPER(a)", "UPPER(a) #opUpper :VarChar"},
      {"POSITION('a' IN b)", "POS('a', b) #opPosition :Integer"},
      {"OCCURS('a', b)", "OCCURS('a', b) #opOccurs :Integer"},
      {"REPLACE('a' WITH 'b' IN c)", "REPLACE('a', 'b', c) #opReplace :VarChar"},
      {"QUOTEDSTR(a)", "QUOTEDSTR(a) #opQuotedStr :VarChar"},
      {"QUOTEDSTR(a USING '\"')", "QUOTEDSTR(a, '\"') #opQuotedStr :VarChar"},
      {"TRIM(LEADING ' ' FROM a)", "TRIM(' ', a) #opTrimLeading :VarChar"},
      {"TRIM(TRAILING 'x', a)", "TRIM('x', a) #opTrimTrailing :VarChar"},
      {"TRIM(BOTH '0' FROM a)", "TRIM('0', a) #opTrimBoth :VarChar"},
      {"ALLTRIM(a)", "TRIM(' ', a) #opTrimBoth :VarChar"},
      {"LTRIM(a)", "TRIM(' ', a) #opTrimLeading :VarChar"},
      {"RTRIM(a)", "TRIM(' ', a) #opTrimTrailing :VarChar"},
  });
}

TEST(FunctionGrammar, NumericFunctions) {
  checkFunctionCases({
      {"ABS(-x)", "ABS((- x)) #opAbs"},
      {"ACOS(x)", "ACOS(x) #opAcos :Float"},
      {"ASIN(x)", "ASIN(x) #opAsin :Float"},
      {"ATAN(x)", "ATAN(x) #opAtan :Float"},
      {"ATAN2(y, x)", "ATAN2(y, x) #opAtan2 :Float"},
      {"CEILING(x)", "CEILING(x) #opCeiling :BigInt"},
      {"COS(x)", "COS(x) #opCos :Float"},
      {"COT(x)", "COT(x) #opCot :Float"},
      {"DEGREES(x)", "DEGREES(x) #opDegrees :Float"},
      {"EXP(x)", "EXP(x) #opExp :Float"},
      {"FLOOR(x / 2)", "FLOOR((x / 2)) #opFloor :BigInt"},
      {"LOG(x)", "LOG(x) #opLog :Float"},
      {"LOG10(x)", "LOG10(x) #opLog10 :Float"},
      {"PI", "PI() #opPi :Float"},
      {"PI()", "PI() #opPi :Float"},
      {"POWER(x TO 2)", "POWER(x, 2) #opPower :Float"},
      {"RADIANS(x)", "RADIANS(x) #opRadians :Float"},
      {"RAND", "RAND() #opRand :Float"},
      {"RAND()", "RAND() #opRand :Float"},
      {"RAND(10)", "RAND(10) #opRand :Float"},
      {"RAND(RANGE 10)", "RAND(10) #opRand :Float"},
      {"ROUND(x)", "ROUND(x) #opRound"},
      {"ROUND(x TO 2)", "ROUND(x, 2) #opRound"},
      {"ROUND(x, (-1))", "ROUND(x, (- 1)) #opRound"},
      {"SIGN(x)", "SIGN(x) #opSign :Integer"},
      {"SIN(x)", "SIN(x) #opSin :Float"},
      {"SQRT(x)", "SQRT(x) #opSqrt :Float"},
      {"TAN(x)", "TAN(x) #opTan :Float"},
      {"TRUNCATE(x, 1)", "TRUNCATE(x, 1) #opTruncate"},
  });
}

TEST(FunctionGrammar, DateAndTimeFunctions) {
  checkFunctionCases({
      {"EXTRACT(YEAR FROM d)", "EXTRACT(d) #opExtractYear :Integer"},
      {"EXTRACT(MONTH, d)", "EXTRACT(d) #opExtractMonth :Integer"},
      {"EXTRACT(WEEK FROM d)", "EXTRACT(d) #opExtractWeek :Integer"},
      {"EXTRACT(DAY FROM d)", "EXTRACT(d) #opExtractDay :Integer"},
      {"EXTRACT(DAYOFWEEK FROM d)", "EXTRACT(d) #opExtractDayOfWeek :Integer"},
      {"EXTRACT(DAYOFYEAR FROM d)", "EXTRACT(d) #opExtractDayOfYear :Integer"},
      {"EXTRACT(HOUR FROM t)", "EXTRACT(t) #opExtractHour :Integer"},
      {"EXTRACT(MINUTE FROM t)", "EXTRACT(t) #opExtractMinute :Integer"},
      {"EXTRACT(SECOND FROM t)", "EXTRACT(t) #opExtractSecond :Integer"},
      {"EXTRACT(MSECOND FROM t)", "EXTRACT(t) #opExtractMSecond :Integer"},
      {"CURRENT_DATE", "CURRENT_DATE() #opCurrentDate :Date"},
      {"CURRENT_DATE()", "CURRENT_DATE() #opCurrentDate :Date"},
      {"CURRENT_DATE(UTC)", "CURRENT_DATE(UTC) #opCurrentDate :Date"},
      {"CURRENT_TIME(utc)", "CURRENT_TIME(UTC) #opCurrentTime :Time"},
      {"CURRENT_TIMESTAMP", "CURRENT_TIMESTAMP() #opCurrentTimestamp :Timestamp"},
  });
}

TEST(FunctionGrammar, SessionCursorStatementAndSystemFunctions) {
  checkFunctionCases({
      {"ABORTED", "ABORTED() #opAborted :Boolean"},
      {"ABORTED()", "ABORTED() #opAborted :Boolean"},
      {"LOADINGUPDATES", "LOADINGUPDATES() #opLoadingUpdates :Boolean"},
      {"INTRANSACTION", "INTRANSACTION() #opInTransaction :Boolean"},
      {"INTRANSACTION('db')", "INTRANSACTION('db') #opInTransaction :Boolean"},
      {"LASTIDENTITY('t', 'c')", "LASTIDENTITY('t', 'c') #opLastIdentity :Integer"},
      {"CURRENT_COMPUTER", "CURRENT_COMPUTER() #opCurrentComputer :VarChar"},
      {"CURRENT_DATABASE()", "CURRENT_DATABASE() #opCurrentDatabase :VarChar"},
      {"CURRENT_USER", "CURRENT_USER() #opCurrentUser :VarChar"},
      {"CURRENT_GUID", "CURRENT_GUID() #opCurrentGuid :GUID"},
      {"CURRENT_VERSION", "CURRENT_VERSION() #opCurrentVersion :Decimal,2"},
      {"ERRORCODE()", "ERRORCODE() #opErrorCode :Integer", pcExceptionHandling},
      {"ERRORMSG", "ERRORMSG() #opErrorMsg :VarChar", pcExceptionHandling},
      {"OPERATION", "OPERATION() #opOperation :VarChar"},
      {"EXISTS(SELECT * FROM t)",
       "EXISTS(Query(List, List, List:All(SelectItem(*)), nil, nil, nil, List(TableReference "
       "t(nil, List, List)), nil, nil, nil, nil, nil)) #opExists :Boolean"},
      {"CARDINALITY(a)", "CARDINALITY(a) #opCardinality"},
      {"BOF(c)", "BOF(CursorReference c) #opBof :Boolean"},
      {"EOF(c)", "EOF(CursorReference c) #opEof :Boolean"},
      {"ROWCOUNT(c)", "ROWCOUNT(CursorReference c) #opRowCount :Integer"},
      {"SENSITIVE(c)", "SENSITIVE(CursorReference c) #opSensitive :Boolean"},
      {"COLUMNCOUNT(c)", "COLUMNCOUNT(CursorReference c) #opColumnCount :Integer"},
      {"COLUMNNAME(c, 1)", "COLUMNNAME(CursorReference c, 1) #opColumnName :VarChar"},
      {"ROWSAFFECTED(s)", "ROWSAFFECTED(StatementReference s) #opRowsAffected :Integer"},
      {"STMTRESULT(s)", "STMTRESULT(StatementReference s) #opStmtResult :Boolean"},
      {"F()", "F() #opUserFunction"},
      {"F(1, a OR b)", "F(1, (a OR b)) #opUserFunction"},
  });
}

TEST(FunctionGrammar, CastAndItsFormatOptions) {
  checkFunctionCases({
      {"CAST(x AS INTEGER)", "CAST(x, DataType:Integer, nil, nil, nil, nil) #opCast :Integer"},
      {"CAST(x, VARCHAR(10) COLLATE ANSI)",
       "CAST(x, DataType:VarChar(10, CollationName ANSI), nil, nil, nil, nil) #opCast :VarChar"},
      {"CAST(x AS DECIMAL(10, 2) DECIMAL CHAR ',')",
       "CAST(x, DataType:Decimal(10, 2), nil, nil, ',', nil) #opCast :Decimal,0"},
      {"CAST(s AS DATE DATE FORMAT 'dd.mm.yyyy')",
       "CAST(s, DataType:Date, 'dd.mm.yyyy', nil, nil, nil) #opCast :Date"},
      {"CAST(s AS TIME TIME FORMAT 'hh:nn ampm' AM LITERAL 'a' PM LITERAL 'p')",
       "CAST(s, DataType:Time, nil, 'hh:nn ampm'('a', 'p'), nil, nil) #opCast :Time"},
      {"CAST(s AS TIME TIME FORMAT 'hh:nn')",
       "CAST(s, DataType:Time, nil, 'hh:nn'(nil, nil), nil, nil) #opCast :Time"},
      {"CAST(s AS BOOLEAN BOOLEAN TRUE LITERAL 'y' FALSE LITERAL 'n')",
       "CAST(s, DataType:Boolean, nil, nil, nil, List('y', 'n')) #opCast :Boolean"},
      {"CAST(s AS TIMESTAMP DATE FORMAT 'd' TIME FORMAT 't' DECIMAL CHAR '.' "
       "BOOLEAN TRUE LITERAL 'T' FALSE LITERAL 'F')",
       "CAST(s, DataType:Timestamp, 'd', 't'(nil, nil), '.', List('T', 'F')) #opCast :Timestamp"},
      {"CAST(x AS INTERVAL DAY TO HOUR)",
       "CAST(x, DataType:Interval Day To Hour, nil, nil, nil, nil) #opCast :Interval Day To Hour"},
      {"CAST(a = b AS BOOLEAN)",
       "CAST((a = b), DataType:Boolean, nil, nil, nil, nil) #opCast :Boolean"},
  });
}

// Names the dialect treats as one function, separator words and commas, and
// the short forms of TRIM give equal trees.
TEST(FunctionGrammar, SynonymsGiveEqualTrees) {
  const std::pair<const char*, const char*> pairs[] = {
      {"CEIL(x)", "CEILING(x)"},
      {"LN(x)", "LOG(x)"},
      {"POS(a IN b)", "POSITION(a, b)"},
      {"SUBSTR(a, 1, 2)", "SUBSTRING(a FROM 1 FOR 2)"},
      {"TRUNC(x, 2)", "TRUNCATE(x TO 2)"},
      {"LCASE(a)", "LOWER(a)"},
      {"UCASE(a)", "UPPER(a)"},
      {"CHAR_LENGTH(a)", "LENGTH(a)"},
      {"CHARACTER_LENGTH(a)", "LENGTH(a)"},
      {"LTRIM(a)", "TRIM(LEADING ' ' FROM a)"},
      {"RTRIM(a)", "TRIM(TRAILING ' ', a)"},
      {"ALLTRIM(a)", "TRIM(BOTH ' ' FROM a)"},
      {"CAST(x AS INTEGER)", "CAST(x, INTEGER)"},
      {"RAND(RANGE 10)", "RAND(10)"},
      {"EXTRACT(YEAR FROM d)", "EXTRACT(YEAR, d)"},
      {"CONCAT(a WITH b)", "CONCAT(a, b)"},
      {"REPLACE(a WITH b IN c)", "REPLACE(a, b, c)"},
      {"IF(c THEN 1 ELSE 2)", "IF(c, 1, 2)"},
      {"LIST(x USING ';')", "LIST(x, ';')"},
      {"PI", "PI()"},
      {"CASE x WHEN 1 THEN 2 END", "CASE x WHEN 1 THEN 2 ELSE NULL END"},
  };
  for (const auto& [a, b] : pairs) {
    TreeHolder left = ParseExpressionText(a, kFlags);
    TreeHolder right = ParseExpressionText(b, kFlags);
    EXPECT_TRUE(ExprTreesEqual(left.Get(), right.Get())) << a << " vs " << b;
  }
  // Different functions stay different.
  TreeHolder floor = ParseExpressionText("FLOOR(x)");
  TreeHolder ceiling = ParseExpressionText("CEILING(x)");
  EXPECT_FALSE(ExprTreesEqual(floor.Get(), ceiling.Get()));
}

TEST(FunctionGrammar, NodesSitOnTheirKeyword) {
  TreeHolder tree = ParseExpressionText("1 +\n  UPPER( a )", kFlags);
  const TBRNExprToken* call = tree->Right();
  EXPECT_EQ(call->Line, 2);
  EXPECT_EQ(call->Column, 3);
  EXPECT_EQ(call->Position, 7);
  // CAST keeps nil slots for its absent options; its target is a data type
  // node on the word after AS.
  TreeHolder cast = ParseExpressionText("CAST(x AS CHAR(5))");
  ASSERT_EQ(cast->ArgumentCount(), 6);
  EXPECT_EQ(cast->Argument(1)->Kind, tkDataType);
  EXPECT_EQ(cast->Argument(1)->Column, 11);
  for (int i = 2; i < 6; ++i) EXPECT_EQ(cast->Argument(i), nullptr);
  // The UTC marker is an untyped constant.
  TreeHolder utc = ParseExpressionText("CURRENT_TIMESTAMP(UTC)");
  ASSERT_EQ(utc->ArgumentCount(), 1);
  EXPECT_EQ(utc->Argument(0)->Kind, tkConstant);
  EXPECT_EQ(utc->Argument(0)->DataType, dtNull);
  EXPECT_EQ(utc->Argument(0)->Text, "UTC");
  // The ELSE marker of CASE.
  TreeHolder caseTree = ParseExpressionText("CASE WHEN a THEN 1 END");
  const TBRNExprToken* marker = caseTree->Argument(0)->Argument(1);
  EXPECT_EQ(marker->Operation, opDefault);
  EXPECT_EQ(marker->DataType, dtBoolean);
  EXPECT_TRUE(caseTree->Argument(1)->Argument(1)->IsNullConstant());
}

TEST(FunctionGrammar, SyntaxErrors) {
  checkFunctionCases({
      {"SUM(x)", "error 1:1 Invalid expression SUM found, aggregate functions not allowed", 0},
      {"COUNT(*)", "error 1:1 Invalid expression COUNT found, aggregate functions not allowed", 0},
      {"LIST(x)", "error 1:1 Invalid expression LIST found, aggregate functions not allowed", 0},
      {"ERRORCODE()",
       "error 1:1 Invalid expression ERRORCODE found, exception handling statements and functions "
       "not allowed"},
      {"ERRORMSG",
       "error 1:1 Invalid expression ERRORMSG found, exception handling statements and functions "
       "not allowed"},
      {"AVG(*)", "error 1:5 Invalid expression * found, columns wildcard (*) not allowed"},
      {"MAX(DISTINCT x)", "error 1:14 Expected ) but instead found x"},
      {"SUM", "error 1:3 Missing ("},
      {"SUM x", "error 1:5 Expected ( but instead found x"},
      {"UPPER(a", "error 1:7 Missing )"},
      {"CONCAT(a b)", "error 1:10 Expected WITH or , but instead found b"},
      {"LEFT(a IN 2)", "error 1:8 Expected FOR or , but instead found IN"},
      {"SUBSTRING(a 2)", "error 1:13 Expected FROM or , but instead found 2"},
      {"POSITION(a FROM b)", "error 1:12 Expected IN or , but instead found FROM"},
      {"REPLACE(a WITH b FOR c)", "error 1:18 Expected IN or , but instead found FOR"},
      {"POWER(x y)", "error 1:9 Expected TO or , but instead found y"},
      {"ATAN2(x TO y)", "error 1:9 Expected , but instead found TO"},
      {"LASTIDENTITY('t' FOR 'c')", "error 1:18 Expected , but instead found FOR"},
      {"ROUND(x, -1)", "error 1:10 Expected expression but instead found -"},
      {"TRUNCATE(x TO +1)", "error 1:15 Expected expression but instead found +"},
      {"TRIM(a FROM b)", "error 1:6 Expected LEADING, TRAILING, BOTH but instead found a"},
      {"TRIM(LEADING ' ' IN a)", "error 1:18 Expected FROM or , but instead found IN"},
      {"TRIM(BOTH -1 FROM a)", "error 1:11 Expected expression but instead found -"},
      {"EXTRACT(CENTURY FROM d)",
       "error 1:9 Expected YEAR, MONTH, WEEK, DAY, DAYOFWEEK, DAYOFYEAR, HOUR, MINUTE, SECOND, "
       "MSECOND but instead found CENTURY"},
      {"EXTRACT(YEAR d)", "error 1:14 Expected FROM or , but instead found d"},
      {"CURRENT_DATE(LOCAL)", "error 1:14 Expected ) but instead found LOCAL"},
      {"CURRENT_TIMESTAMP(UTC", "error 1:21 Missing )"},
      {"INTRANSACTION()", "error 1:15 Expected expression but instead found )"},
      {"BOF('c')", "error 1:5 Expected cursor name but instead found 'c'"},
      {"EOF(1)", "error 1:5 Expected cursor name but instead found 1"},
      {"COLUMNNAME(c 1)", "error 1:14 Expected , but instead found 1"},
      {"ROWSAFFECTED(1)", "error 1:14 Expected statement name but instead found 1"},
      {"EXISTS(SELECT * FROM t)",
       "error 1:8 Invalid expression SELECT found, query expression not allowed", 0},
      {"EXISTS 1", "error 1:8 Expected ( but instead found 1"},
      {"IF(a, 1)", "error 1:8 Expected ELSE or , but instead found )"},
      {"IFNULL(a, b)", "error 1:12 Expected ELSE or , but instead found )"},
      {"NULLIF(a THEN b)", "error 1:10 Expected , but instead found THEN"},
      {"COALESCE(a b)", "error 1:12 Expected ) but instead found b"},
      {"CASE END", "error 1:8 Missing WHEN"},
      {"CASE x 1 THEN 2 END", "error 1:8 Expected WHEN but instead found 1"},
      {"CASE WHEN a 1 END", "error 1:13 Expected THEN but instead found 1"},
      {"CASE WHEN a THEN 1", "error 1:18 Missing END"},
      {"CASE WHEN a THEN 1 ELSE 2 FI", "error 1:27 Expected END but instead found FI"},
      {"CAST(x INTEGER)", "error 1:8 Expected AS or , but instead found INTEGER"},
      {"CAST(x AS)", "error 1:10 Expected data type but instead found )"},
      {"CAST(x AS NUMBER)", "error 1:11 Expected data type but instead found NUMBER"},
      {"CAST(x AS DATE DATE 'd')", "error 1:21 Expected FORMAT but instead found 'd'"},
      {"CAST(x AS TIME TIME FORMAT 't' AM 'a')",
       "error 1:35 Expected LITERAL but instead found 'a'"},
      {"CAST(x AS TIME TIME FORMAT 't' AM LITERAL 'a' LITERAL 'p')",
       "error 1:47 Expected PM but instead found LITERAL"},
      {"CAST(x AS TIME TIME FORMAT 't' AM LITERAL 'a' PM 'p')",
       "error 1:50 Expected LITERAL but instead found 'p'"},
      {"CAST(x AS FLOAT DECIMAL ',')", "error 1:25 Expected CHAR but instead found ','"},
      {"CAST(x AS BOOLEAN BOOLEAN FALSE LITERAL 'n' TRUE LITERAL 'y')",
       "error 1:27 Expected TRUE but instead found FALSE"},
      {"CAST(x AS BOOLEAN BOOLEAN TRUE 'y')", "error 1:32 Expected LITERAL but instead found 'y'"},
      {"CAST(x AS BOOLEAN BOOLEAN TRUE LITERAL 'y' LITERAL 'n')",
       "error 1:44 Expected FALSE but instead found LITERAL"},
      {"CAST(x AS DATE TIME FORMAT 't' DATE FORMAT 'd')",
       "error 1:32 Expected ) but instead found DATE"},
      {"CAST(x AS DATE DATE FORMAT 'd'", "error 1:30 Missing )"},
      {"F(1,)", "error 1:5 Expected expression but instead found )"},
      {"F(1)", "error 1:1 Invalid expression F found, user-defined function references not allowed",
       pcNoUserFunctions},
  });
}

// A column named like a function needs quotes: the bare word is the call.
TEST(FunctionGrammar, FunctionWordsAreNotColumnNames) {
  checkFunctionCases({
      {"SUM + 1", "error 1:5 Expected ( but instead found +"},
      {"\"SUM\" + 1", "(SUM + 1)"},
      {"LEFT = 1", "error 1:6 Expected ( but instead found ="},
  });
}

// Every prefix of texts that use each construct fails with an engine error
// (and, under the sanitizers, frees what it had built).
TEST(FunctionGrammar, TruncatedCallsFailCleanly) {
  const char* texts[] = {
      "CASE x WHEN 1 THEN UPPER(a) WHEN 2 THEN LIST(DISTINCT ORDERED b USING ',') ELSE "
      "COALESCE(c, IFNULL(d, e, f)) END",
      "CAST(SUBSTRING(a FROM 2 FOR 3) AS TIMESTAMP DATE FORMAT 'd' TIME FORMAT 't' AM LITERAL "
      "'a' PM LITERAL 'p' DECIMAL CHAR ',' BOOLEAN TRUE LITERAL 'y' FALSE LITERAL 'n')",
      "TRIM(BOTH 'x' FROM REPLACE(a WITH b IN c)) || EXTRACT(YEAR FROM CURRENT_DATE(UTC))",
      "ROUND(RAND(RANGE 10) TO (1)) + COLUMNNAME(c, 1) + EXISTS(SELECT * FROM t)",
  };
  for (const char* text : texts) {
    const std::string full(text);
    ASSERT_NE(Parsed(full).rfind("error", 0), 0u) << full;
    // A prefix that stops inside the parentheses of a call (none of the
    // texts has one in a string) fails; the sanitizers check that nothing
    // built before the error is left behind.
    int depth = 0;
    for (size_t length = 0; length < full.size(); ++length) {
      if (length > 0) depth += full[length - 1] == '(' ? 1 : full[length - 1] == ')' ? -1 : 0;
      const std::string prefix = full.substr(0, length);
      const std::string result = Parsed(prefix);
      if (depth > 0) {
        EXPECT_EQ(result.rfind("error 1:", 0), 0u) << prefix << " -> " << result;
      }
    }
  }
}

// Calls nest through the parser's nesting limit, so that hostile text cannot
// exhaust the stack.
TEST(FunctionGrammar, DeeplyNestedCallsAreRefused) {
  std::string text;
  for (int i = 0; i < 300; ++i) text += "ABS(";
  text += "1";
  for (int i = 0; i < 300; ++i) text += ")";
  EXPECT_NE(Parsed(text).find("nested too deeply"), std::string::npos);
}

// ERRORCODE and ERRORMSG parse inside an exception handler of a block.
TEST(FunctionGrammar, ErrorFunctionsInsideAnExceptionHandler) {
  const std::string text = "BEGIN DECLARE x INTEGER; SET x = 1; EXCEPTION SET x = ERRORCODE(); END";
  testing::StatementOwner owner(text);
  TBRNExprParser parser;
  parser.BeginParse(owner);
  TreeHolder block(parser.ParseBeginBlock(pcQueries));
  EXPECT_NE(PrintTree(block.Get()).find("ERRORCODE()"), std::string::npos)
      << PrintTree(block.Get());
}

}  // namespace
}  // namespace brn

// Tree shapes and error messages of the expression grammar, as tables of
// (text, flags, printed tree or "error <line>:<column> <message>").

#include <gtest/gtest.h>

#include <string>

#include "foundation/text/exception.h"
#include "sql/parser/expr_parser.h"
#include "sql/tree/compiled_expr.h"
#include "sql/tree/expr_token.h"
#include "sql/tree_printer.h"

namespace brn {
namespace {

using testing::ParseAndPrint;
using testing::ParseExpressionText;
using testing::TreeHolder;

struct GrammarCase {
  const char* Text;
  TBRNParseFlags Flags;
  const char* Expected;
};

void checkExpressionCases(std::initializer_list<GrammarCase> cases, bool types = false) {
  for (const GrammarCase& c : cases)
    EXPECT_EQ(ParseAndPrint(c.Text, c.Flags, {.Types = types}), c.Expected) << "text: " << c.Text;
}

constexpr TBRNParseFlags kAll = pcContains | pcRowValues | pcDynamicParams | pcColumnQualifier;

TEST(ExpressionGrammar, PrecedenceAndAssociativity) {
  checkExpressionCases({
      {"1 + 2 * 3 - 4", 0, "((1 + (2 * 3)) - 4)"},
      {"a - b - c", 0, "((a - b) - c)"},
      {"a / b * c MOD d", 0, "(((a / b) * c) MOD d)"},
      {"a * (b + c)", 0, "(a * (b + c))"},
      {"'a' || 'b' || c", 0, "(('a' + 'b') + c)"},
      {"'a' | | 'b'", 0, "('a' + 'b')"},
      {"a + b < c * d", 0, "((a + b) < (c * d))"},
      {"a OR b AND c", 0, "(a OR (b AND c))"},
      {"a AND b OR c AND d OR e", 0, "(((a AND b) OR (c AND d)) OR e)"},
      {"NOT a = b", 0, "(NOT (a = b))"},
      {"NOT a AND b", 0, "((NOT a) AND b)"},
      {"a NOT BETWEEN 1 AND 2 OR c", 0, "((a NOT BETWEEN 1 AND 2) OR c)"},
      {"a BETWEEN 1 AND 2 AND b", 0, "((a BETWEEN 1 AND 2) AND b)"},
      {"a = b AND c <> d", 0, "((a = b) AND (c <> d))"},
      // Comparisons do not chain: the second one is left for the caller.
      {"a = b = c", 0, "error 1:7 Expected end of expression but instead found ="},
      {"NOT NOT a", 0, "error 1:9 Expected end of expression but instead found a"},
  });
}

TEST(ExpressionGrammar, ComparisonOperatorsAreTwoTokens) {
  checkExpressionCases({
      {"a = b", 0, "(a = b)"},
      {"a <> b", 0, "(a <> b)"},
      {"a >< b", 0, "(a <> b)"},
      {"a < > b", 0, "(a <> b)"},
      {"a <= b", 0, "(a <= b)"},
      {"a < = b", 0, "(a <= b)"},
      {"a >= b", 0, "(a >= b)"},
      {"a < b", 0, "(a < b)"},
      {"a > b", 0, "(a > b)"},
      {"a =< b", 0, "error 1:4 Expected expression but instead found <"},
  });
}

TEST(ExpressionGrammar, UnarySigns) {
  checkExpressionCases({
      {"-5", 0, "(- 5)"},
      {"+5", 0, "5"},
      {"-a * b", 0, "((- a) * b)"},
      {"a - -b", 0, "(a - (- b))"},
      {"2 * -3", 0, "(2 * (- 3))"},
      {"-(a + b)", 0, "(- (a + b))"},
      {"- - 5", 0, "error 1:3 Expected expression but instead found -"},
      {"+ -5", 0, "error 1:3 Expected expression but instead found -"},
  });
  // Arithmetic and negation start with their left operand's type; the
  // Boolean levels are Boolean.
  checkExpressionCases(
      {
          {"-2.5", 0, "(- 2.5:Float):Float"},
          {"1 + 2.5", 0, "(1:Integer + 2.5:Float):Integer"},
          {"NOT 1 < 2", 0, "(NOT (1:Integer < 2:Integer):Boolean):Boolean"},
          {"a IS NULL OR b", 0, "((a IS NULL):Boolean OR b):Boolean"},
      },
      true);
}

TEST(ExpressionGrammar, Literals) {
  checkExpressionCases(
      {
          {"2147483647", 0, "2147483647:Integer"},
          {"2147483648", 0, "2147483648:BigInt"},
          {"9223372036854775807", 0, "9223372036854775807:BigInt"},
          {"9223372036854775808", 0, "9223372036854775808:Float"},
          {"1.5", 0, "1.5:Float"},
          {"'it''s'", 0, "'it's':VarChar(4)"},
          {"''", 0, "'':VarChar(0)"},
          {"#65", 0, "'A':VarChar(1)"},
          {"#300", 0, "error 1:1 Expected character constant but instead found #300"},
          {"X'1F2'", 0, "X'1F2':VarByte(1)"},
          {"TRUE", 0, "TRUE:Boolean"},
          {"false", 0, "false:Boolean"},
          {"null", 0, "null:Null"},
          {"DATE '2020-01-02'", 0, "DATE '2020-01-02':Date"},
          {"TIME '10:30'", 0, "TIME '10:30':Time"},
          {"TIMESTAMP '2020-01-02 10:30'", 0, "TIMESTAMP '2020-01-02 10:30':Timestamp"},
          {"\"TRUE\" + \"Date\"", 0, "(TRUE + Date):Null"},
          {"DATE 5", 0, "error 1:6 Expected date constant but instead found 5"},
          {"TIME", 0, "error 1:4 Missing time constant"},
          {"TIMESTAMP x", 0, "error 1:11 Expected timestamp constant but instead found x"},
      },
      true);
  TreeHolder date = ParseExpressionText("DATE '2020-01-02'");
  EXPECT_EQ(date->Size, 0);
  EXPECT_EQ(date->Column, 1);
}

TEST(ExpressionGrammar, IntervalQualifiers) {
  struct Qualifier {
    const char* Text;
    TBRNDataTypeCode Type;
    TBRNDataSubType Fields;
  };
  const Qualifier qualifiers[] = {
      {"YEAR", dtYearMonthInterval, 4},
      {"YEAR TO MONTH", dtYearMonthInterval, 6},
      {"MONTH", dtYearMonthInterval, 2},
      {"DAY", dtDayTimeInterval, 128},
      {"DAY TO HOUR", dtDayTimeInterval, 192},
      {"DAY TO MINUTE", dtDayTimeInterval, 224},
      {"DAY TO SECOND", dtDayTimeInterval, 240},
      {"DAY TO MSECOND", dtDayTimeInterval, 248},
      {"HOUR", dtDayTimeInterval, 64},
      {"HOUR TO MINUTE", dtDayTimeInterval, 96},
      {"HOUR TO SECOND", dtDayTimeInterval, 112},
      {"HOUR TO MSECOND", dtDayTimeInterval, 120},
      {"MINUTE", dtDayTimeInterval, 32},
      {"MINUTE TO SECOND", dtDayTimeInterval, 48},
      {"MINUTE TO MSECOND", dtDayTimeInterval, 56},
      {"SECOND", dtDayTimeInterval, 16},
      {"SECOND TO MSECOND", dtDayTimeInterval, 24},
      {"MSECOND", dtDayTimeInterval, 8},
  };
  for (const Qualifier& q : qualifiers) {
    TreeHolder literal = ParseExpressionText(std::string("INTERVAL '1' ") + q.Text);
    EXPECT_EQ(literal->Kind, tkConstant) << q.Text;
    EXPECT_EQ(literal->Text, "1") << q.Text;
    EXPECT_EQ(literal->DataType, q.Type) << q.Text;
    EXPECT_EQ(literal->SubType, q.Fields) << q.Text;
    TreeHolder difference = ParseExpressionText(std::string("(d1 - d2) ") + q.Text);
    EXPECT_EQ(difference->Operation, opIntervalDifference) << q.Text;
    EXPECT_EQ(difference->DataType, q.Type) << q.Text;
    EXPECT_EQ(difference->SubType, q.Fields) << q.Text;
  }

  checkExpressionCases({
      {"INTERVAL '1 2:3' DAY TO MINUTE", 0, "INTERVAL '1 2:3' DAY TO MINUTE"},
      {"(d1 - d2) DAY TO SECOND", 0, "(d1 - d2) DAY TO SECOND"},
      {"(d1 - d2) day to second * 2", 0, "((d1 - d2) DAY TO SECOND * 2)"},
      {"(d1 - d2)", 0, "(d1 - d2)"},
      {"(a + b) DAY", 0, "error 1:9 Expected end of expression but instead found DAY"},
      {"d1 - d2 DAY", 0, "error 1:9 Expected end of expression but instead found DAY"},
      {"(a, b - c) DAY", pcRowValues,
       "error 1:12 Expected end of expression but instead found DAY"},
      {"MONTH TO", 0, "error 1:7 Expected end of expression but instead found TO"},
      {"INTERVAL '1' MONTH TO YEAR", 0,
       "error 1:20 Expected end of expression but instead found TO"},
      {"INTERVAL '1'", 0, "error 1:12 Missing YEAR, MONTH, DAY, HOUR, MINUTE, SECOND, MSECOND"},
      {"INTERVAL '1' WEEK", 0,
       "error 1:14 Expected YEAR, MONTH, DAY, HOUR, MINUTE, SECOND, MSECOND but instead found "
       "WEEK"},
      {"INTERVAL 1 DAY", 0, "error 1:10 Expected interval constant but instead found 1"},
      {"INTERVAL '1' YEAR TO DAY", 0, "error 1:22 Expected MONTH but instead found DAY"},
      {"INTERVAL '1' SECOND TO MINUTE", 0, "error 1:24 Expected MSECOND but instead found MINUTE"},
      {"INTERVAL '1' DAY TO DAY", 0,
       "error 1:21 Expected HOUR, MINUTE, SECOND, MSECOND but instead found DAY"},
      {"INTERVAL '1' HOUR TO", 0, "error 1:20 Missing MINUTE, SECOND, MSECOND"},
      {"INTERVAL '1' MINUTE TO HOUR", 0,
       "error 1:24 Expected SECOND, MSECOND but instead found HOUR"},
  });
  TreeHolder plain = ParseExpressionText("(d1 - d2)");
  EXPECT_EQ(plain->Operation, opSubtract);
  EXPECT_TRUE(plain->Parenthesized);
}

TEST(ExpressionGrammar, Predicates) {
  checkExpressionCases({
      {"a BETWEEN 1 AND b + 1", 0, "(a BETWEEN 1 AND (b + 1))"},
      {"a NOT BETWEEN 1 AND 2", 0, "(a NOT BETWEEN 1 AND 2)"},
      {"a LIKE 'x%'", 0, "(a LIKE 'x%')"},
      {"a LIKE 'x!%' ESCAPE '!'", 0, "(a LIKE 'x!%' ESCAPE '!')"},
      {"a NOT LIKE b || '%' ESCAPE c", 0, "(a NOT LIKE (b + '%') ESCAPE c)"},
      {"a IN (1, 2 + 3, 'x')", 0, "(a IN (1, (2 + 3), 'x'))"},
      {"a IN ()", 0, "(a IN ())"},
      {"a NOT IN (b)", 0, "(a NOT IN (b))"},
      {"(a, b) IN ((1, 2), (3, 4))", pcRowValues, "(ROW(a, b) IN (ROW(1, 2), ROW(3, 4)))"},
      {"a IS NULL", 0, "(a IS NULL)"},
      {"a + 1 IS NOT NULL", 0, "((a + 1) IS NOT NULL)"},
      {"a CONTAINS 'w'", pcContains, "(a CONTAINS 'w')"},
      {"a CONTAINS ANY 'w v'", pcContains, "(a CONTAINS ANY 'w v')"},
      {"a DOES NOT CONTAIN 'w'", pcContains, "(a DOES NOT CONTAIN 'w')"},
      {"a DOES NOT CONTAIN ANY b", pcContains, "(a DOES NOT CONTAIN ANY b)"},
      {"a CONTAINS 'w' AND b", pcContains, "((a CONTAINS 'w') AND b)"},
  });
  // Argument layouts: LIKE always has its escape slot, IS NULL a NULL
  // constant.
  TreeHolder like = ParseExpressionText("a LIKE 'x'");
  ASSERT_EQ(like->ArgumentCount(), 3);
  EXPECT_EQ(like->Argument(2), nullptr);
  TreeHolder isNull = ParseExpressionText("a IS NULL");
  ASSERT_EQ(isNull->ArgumentCount(), 2);
  EXPECT_TRUE(isNull->Argument(1)->IsNullConstant());
  EXPECT_EQ(isNull->Argument(1)->Text, "NULL");
}

TEST(ExpressionGrammar, PredicateErrors) {
  const std::string refused = "CONTAINS and DOES NOT CONTAIN operators not allowed";
  checkExpressionCases({
      {"a NOT NULL", 0, "error 1:7 Expected BETWEEN, LIKE, IN but instead found NULL"},
      {"a NOT", 0, "error 1:5 Missing BETWEEN, LIKE, IN"},
      // Column defaults: NOT NULL ends the expression, other NOT forms stay.
      {"1 NOT NULL", pcNotNullEnds, "error 1:3 Expected end of expression but instead found NOT"},
      {"1 NOT IN (2)", pcNotNullEnds, "(1 NOT IN (2))"},
      {"a IS 5", 0, "error 1:6 Expected NULL, NOT but instead found 5"},
      {"a IS NOT 5", 0, "error 1:10 Expected NULL but instead found 5"},
      {"a IS", 0, "error 1:4 Missing NULL, NOT"},
      {"a BETWEEN 1 OR 2", 0, "error 1:13 Expected AND but instead found OR"},
      {"a IN 1", 0, "error 1:6 Expected ( but instead found 1"},
      {"a IN (1, 2", 0, "error 1:10 Missing )"},
      {"a IN (1 2)", 0, "error 1:9 Expected ) but instead found 2"},
      {"a LIKE 'x' ESCAPE", 0, "error 1:17 Missing expression"},
      {"a CONTAINS 'w'", 0, ("error 1:3 Invalid expression CONTAINS found, " + refused).c_str()},
      {"a DOES NOT CONTAIN 'w'", 0,
       ("error 1:3 Invalid expression DOES found, " + refused).c_str()},
      {"a DOES CONTAIN 'w'", pcContains, "error 1:8 Expected NOT but instead found CONTAIN"},
      {"a DOES NOT CONTAINS 'w'", pcContains,
       "error 1:12 Expected CONTAIN but instead found CONTAINS"},
  });
}

TEST(ExpressionGrammar, Primaries) {
  checkExpressionCases({
      {"?", pcDynamicParams, "?"},
      {"a + ? * 2", pcDynamicParams, "(a + (? * 2))"},
      {"*", pcWildcard, "*"},
      {"T.*", pcWildcard | pcColumnQualifier, "T.*"},
      {"T.a", pcColumnQualifier, "T.a"},
      {"\"My Table\".\"My Col\"", pcColumnQualifier, "My Table.My Col"},
      {"a[1 + 2]", 0, "a[(1 + 2)]"},
      {"T.a[i] COLLATE ANSI_CI", pcColumnQualifier, "T.a[i] COLLATE ANSI_CI"},
      {"a COLLATE \"DUT NLD\"", 0, "a COLLATE DUT NLD"},
      {"a DESC", pcOrdering, "a DESC"},
      {"a COLLATE x ascending", pcOrdering, "a COLLATE x ASC"},
      {"F()", 0, "F()"},
      {"F(a, b + 1, G(c))", 0, "F(a, (b + 1), G(c))"},
      {"(a, b)", pcRowValues, "ROW(a, b)"},
      {"((a, b))", pcRowValues, "ROW(a, b)"},
      {"(a)", pcRowValues | pcRowValue, "ROW(a)"},
      {"(a)", pcRowValues, "a"},
  });
  // Every column reference has its index and COLLATE slots, and the
  // direction slot only where ordering is allowed.
  TreeHolder plain = ParseExpressionText("a");
  EXPECT_EQ(plain->ArgumentCount(), 2);
  TreeHolder ordered = ParseExpressionText("a", pcOrdering);
  EXPECT_EQ(ordered->ArgumentCount(), 3);
  TreeHolder collated = ParseExpressionText("a COLLATE x");
  EXPECT_EQ(collated->Argument(1)->Operation, opCollate);
  EXPECT_EQ(collated->Argument(1)->Argument(0)->Kind, tkCollationName);
  TreeHolder row = ParseExpressionText("(a, b)", pcRowValues);
  EXPECT_FALSE(row->Argument(0)->Parenthesized);
  EXPECT_EQ(row->Column, 2);
}

TEST(ExpressionGrammar, PrimaryErrors) {
  checkExpressionCases({
      {"", 0, "error 1:1 Missing expression"},
      {"a +", 0, "error 1:3 Missing expression"},
      {"a b", 0, "error 1:3 Expected end of expression but instead found b"},
      {"a +\n  )", 0, "error 2:3 Expected expression but instead found )"},
      {"(a", 0, "error 1:2 Missing )"},
      {"(a b)", 0, "error 1:4 Expected ) but instead found b"},
      {"?", 0, "error 1:1 Invalid expression ? found, dynamic parameter references not allowed"},
      {"*", 0, "error 1:1 Invalid expression * found, columns wildcard (*) not allowed"},
      {"a + *", pcWildcard,
       "error 1:5 Invalid expression * found, columns wildcard (*) not allowed"},
      {"* + a", pcWildcard,
       "error 1:3 Invalid expression + found, columns wildcard (*) not allowed"},
      {"* OR a", pcWildcard,
       "error 1:3 Invalid expression OR found, columns wildcard (*) not allowed"},
      {"* IS NULL", pcWildcard,
       "error 1:3 Invalid expression IS found, columns wildcard (*) not allowed"},
      {"T.*", pcColumnQualifier,
       "error 1:3 Invalid expression * found, columns wildcard (*) not allowed"},
      {"T.*[1]", pcWildcard | pcColumnQualifier,
       "error 1:3 Invalid expression * found, columns wildcard (*) not allowed"},
      {"T.a", 0, "error 1:2 Invalid expression . found, table qualifier not allowed"},
      {"T.'x'", pcColumnQualifier, "error 1:3 Expected column name but instead found 'x'"},
      {"T.5", pcColumnQualifier, "error 1:2 Expected end of expression but instead found .5"},
      {"T.a.b", pcColumnQualifier, "error 1:4 Expected end of expression but instead found ."},
      {"a[1", 0, "error 1:3 Missing ]"},
      {"a COLLATE", 0, "error 1:9 Missing collation name"},
      {"a COLLATE 'x'", 0, "error 1:11 Expected collation name but instead found 'x'"},
      {"a COLLATE x", pcNoCollate,
       "error 1:3 Expected end of expression but instead found COLLATE"},
      {"a DESC", 0, "error 1:3 Expected end of expression but instead found DESC"},
      {"F(a", 0, "error 1:3 Missing )"},
      {"F(a", pcNoUserFunctions,
       "error 1:1 Invalid expression F found, user-defined function references not allowed"},
      {"F(*)", pcWildcard,
       "error 1:3 Invalid expression * found, columns wildcard (*) not allowed"},
      {"(a, b)", 0, "error 1:3 Invalid expression , found, row values not allowed"},
      {"(a)", pcRowValue, "error 1:3 Invalid expression ) found, row values not allowed"},
      {"((a, b))", 0, "error 1:4 Invalid expression , found, row values not allowed"},
      {"(a, (b, c))", pcRowValues, "error 1:7 Invalid expression , found, row values not allowed"},
      {"SELECT a FROM t", 0,
       "error 1:1 Invalid expression SELECT found, query expression not allowed"},
      {"TABLE t", 0, "error 1:1 Invalid expression TABLE found, query expression not allowed"},
      {"1 +\r\n\r\n  2 3", 0, "error 3:5 Expected end of expression but instead found 3"},
  });
}

// An owner that accepts table qualifiers where the parse keeps none.
class QualifierOwner : public TBRNCompiledExpr {
 public:
  bool AllowsTableQualifier() override { return true; }
};

// A parser with one function grammar installed, as the function grammar
// installs its methods: COUNT(expression or *), entered with the name still current.
class FunctionParser : public TBRNExprParser {
 public:
  FunctionParser() {
    FunctionParsers[opCount - FirstFunctionCode] =
        static_cast<TBRNParseMethod>(&FunctionParser::ParseCountCall);
    // A function whose grammar is missing (cleared here, now that the
    // function grammar fills every entry).
    FunctionParsers[opAbs - FirstFunctionCode] = nullptr;
  }

  TBRNExprToken* ParseCountCall(TBRNParseFlags Flags) {
    TBRNParsedTree node(NewNode(tkFunction, opCount));
    ReceivedFlags = Flags;
    ExpectKeyword("COUNT");
    ExpectToken('(');
    node->AddArgument(ParseDisjunction(Flags | pcWildcard));
    ExpectToken(')');
    return node.Release();
  }

  TBRNParseFlags ReceivedFlags = 0;
};

std::string parseWith(TBRNExprParser& parser, TBRNCompiledExpr& owner, std::string_view text,
                      TBRNParseFlags flags) {
  owner.SQL = std::string(text);
  owner.SQLLength = int32_t(owner.SQL.size());
  try {
    parser.BeginParse(owner);
    TreeHolder tree(parser.ParseExpression(flags));
    return testing::PrintTree(tree.Get());
  } catch (const EBRNException& error) {
    return testing::DescribeError(error);
  }
}

TEST(ExpressionGrammar, OwnerDecidesAboutTableQualifiers) {
  QualifierOwner owner;
  TBRNExprParser parser;
  // Accepted and dropped without pcColumnQualifier, kept with it.
  EXPECT_EQ(parseWith(parser, owner, "T.a + 1", 0), "(a + 1)");
  EXPECT_EQ(parseWith(parser, owner, "T.a + 1", pcColumnQualifier), "(T.a + 1)");
}

TEST(ExpressionGrammar, FunctionNamesGoToTheirGrammar) {
  TBRNCompiledExpr owner;
  FunctionParser parser;
  EXPECT_EQ(parseWith(parser, owner, "COUNT(*) + 1", pcDynamicParams), "(COUNT(*) + 1)");
  EXPECT_EQ(parser.ReceivedFlags, pcDynamicParams);
  // A function name is never a column or a user function: without its
  // grammar it cannot stand in an expression.
  EXPECT_EQ(parseWith(parser, owner, "a + ABS(b)", 0),
            "error 1:5 Expected expression but instead found ABS");
  EXPECT_EQ(parseWith(parser, owner, "\"ABS\" + 1", 0), "(ABS + 1)");
}

TEST(ExpressionGrammar, Subqueries) {
  // A subquery is a primary: an IN member, a comparison operand; it keeps its
  // source text up to the next token.
  TreeHolder in = ParseExpressionText("x IN (SELECT a FROM t)", pcQueries);
  ASSERT_EQ(in->Operation, opIn);
  ASSERT_EQ(in->ArgumentCount(), 2);
  EXPECT_EQ(in->Argument(1)->Kind, tkQuery);
  EXPECT_EQ(in->Argument(1)->Text, "SELECT a FROM t");
  TreeHolder compared = ParseExpressionText("(SELECT a FROM t ) = 1", pcQueries);
  EXPECT_EQ(compared->Left()->Kind, tkQuery);
  EXPECT_TRUE(compared->Left()->Parenthesized);
  EXPECT_EQ(compared->Left()->Text, "SELECT a FROM t ");

  checkExpressionCases({
      {"x IN (SELECT a FROM t)", 0,
       "error 1:7 Invalid expression SELECT found, query expression not allowed"},
      // "?" inside a subquery only with pcSubqueryParams.
      {"x = (SELECT a FROM t WHERE b = ?)", pcQueries,
       "error 1:32 Invalid expression ? found, dynamic parameter references not allowed"},
      {"x = (SELECT a INTO y FROM t)", pcQueries | pcInto,
       "error 1:15 Invalid expression INTO found, INTO clause not allowed"},
  });
  TreeHolder withParams =
      ParseExpressionText("x = (SELECT a FROM t WHERE b = ?)", pcQueries | pcSubqueryParams);
  EXPECT_EQ(withParams->Right()->Kind, tkQuery);
}

TEST(ExpressionGrammar, DeepNestingIsRefusedNotCrashing) {
  for (const char* open : {"(", "F(", "a["}) {
    std::string text;
    for (int i = 0; i < 5000; ++i) text += open;
    const std::string result = ParseAndPrint(text);
    EXPECT_NE(result.find("nested too deeply"), std::string::npos) << open << result.substr(0, 80);
  }
}

}  // namespace
}  // namespace brn

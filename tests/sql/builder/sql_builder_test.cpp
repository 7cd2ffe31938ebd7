// The SQL text builder: canonical text, round trip over the statement corpus
// (parse, build, parse again gives an equal tree), the layout options, plan
// notes, and the compiled expression's BuildText.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "foundation/text/exception.h"
#include "foundation/values/contained_value.h"
#include "sql/builder/plan_notes.h"
#include "sql/builder/sql_builder.h"
#include "sql/parser/statement_support.h"
#include "sql/tree/compiled_expr.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/query_layout.h"

namespace brn {
namespace {

using testing::ParseStatementText;
using testing::TreeHolder;

// The flags of the round-trip fuzzer: a session's statements with
// parameters, INTO and the exception functions.
constexpr TBRNParseFlags kFlags =
    testing::kStatementFlags | pcDynamicParams | pcInto | pcExceptionHandling;

struct BuildOptions {
  bool MultiLine = false;
  int32_t IndentLevel = -1;
};

std::string Build(const TBRNExprToken* Node, BuildOptions Options = {}) {
  TBRNExprBuilder builder;
  builder.MultiLine = Options.MultiLine;
  builder.IndentLevel = Options.IndentLevel;
  builder.BuildStatement(Node);
  return builder.GetText();
}

// The canonical text of a statement, or "error ..." when it does not parse.
std::string Canonical(const std::string& Text) {
  try {
    TreeHolder tree = ParseStatementText(Text, kFlags);
    return Build(tree.Get());
  } catch (const EBRNException& error) {
    return testing::DescribeParseError(error);
  }
}

// Parses Text, builds it with Options and parses the result again: empty
// when the trees are equal, else what went wrong.
std::string RoundTripFault(const std::string& Text, BuildOptions Options = {}) {
  TreeHolder first;
  try {
    first = ParseStatementText(Text, kFlags);
  } catch (const EBRNException& error) {
    return "source does not parse: " + testing::DescribeParseError(error);
  }
  const std::string built = Build(first.Get(), Options);
  TreeHolder second;
  try {
    second = ParseStatementText(built, kFlags);
  } catch (const EBRNException& error) {
    return "built text [" + built + "] does not parse: " + testing::DescribeParseError(error);
  }
  if (!ExprTreesEqual(first.Get(), second.Get()))
    return "trees differ: [" + testing::PrintTree(first.Get()) + "] vs [" +
           testing::PrintTree(second.Get()) + "] built [" + built + "]";
  // The built text is canonical: building the re-parsed tree gives it again.
  const std::string again = Build(second.Get(), Options);
  if (again != built) return "not canonical: [" + built + "] then [" + again + "]";
  return {};
}

struct CanonicalCase {
  const char* Input;
  const char* Expected;
};

struct CorpusStatement {
  std::string File;
  int Line;
  std::string Text;
};

// Every statement of the corpus files: one per line, "#" lines and blank
// lines skipped.
std::vector<CorpusStatement> LoadCorpus() {
  std::vector<CorpusStatement> statements;
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(BRN_SQL_BUILDER_CORPUS))
    if (entry.path().extension() == ".sql") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const auto& path : files) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
      ++number;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty() || line[0] == '#') continue;
      statements.push_back({path.filename().string(), number, line});
    }
  }
  return statements;
}

TEST(SqlBuilderCorpus, EveryStatementRoundTripsInOneAndManyLines) {
  const std::vector<CorpusStatement> corpus = LoadCorpus();
  ASSERT_GE(corpus.size(), 400u);
  for (const CorpusStatement& statement : corpus) {
    SCOPED_TRACE(statement.File + ":" + std::to_string(statement.Line) + " " + statement.Text);
    EXPECT_EQ(RoundTripFault(statement.Text), "");
    EXPECT_EQ(RoundTripFault(statement.Text, {.MultiLine = true, .IndentLevel = 0}), "");
  }
}

// Inputs the round-trip fuzzer once failed on: each either round-trips or
// is refused by the parser with the given message.
TEST(SqlBuilderCorpus, FuzzFindings) {
  static const CanonicalCase kCases[] = {
      // A wildcard took an alias without AS, which AS refused.
      {"SELECT *t", "error 1:9 Invalid expression t found, columns wildcard (*) not allowed"},
      {"SELECT t.* x FROM t",
       "error 1:12 Invalid expression x found, columns wildcard (*) not allowed"},
      // The name node was leaked when the quoted name after it was not
      // closed (LeakSanitizer reports it).
      {"SELECT ROWCOUNT(c\"x, 1) FROM t", ""},
      {"SELECT a COLLATE b /* open", ""},
      // An empty alias ("") is no alias: the next name became the alias.
      {"SELECT SELECT L \"\"t", "error 1:17 Expected end of expression but instead found \"\""},
      {"SELECT a AS \"\" FROM t",
       "error 1:13 Expected column correlation name but instead found \"\""},
      {"SELECT a FROM (SELECT b FROM t) \"\"",
       "error 1:33 Expected table or query correlation name but instead found \"\""},
      // ORDER named the select item, and then the table inside the query.
      {"SELECT SELECT 1UNION SELECT a FROM u ORDER",
       R"(SELECT ALL (SELECT ALL 1 UNION SELECT ALL "a" FROM "u") AS "ORDER")"},
      {"SELECT c INTERSECT SELECT+S+SELECT+a FROM t ORDER",
       R"(SELECT ALL "c" INTERSECT SELECT ALL ("S" + SELECT ALL "a" FROM "t") AS "ORDER")"},
      // An INTO target that is a call lost its arguments.
      {"SELECT IN INSERT INTO t (a)", R"(SELECT ALL "IN" AS "INSERT" INTO t("a"))"},
      // A query without parentheses of its own read on into the CAST.
      {"SELECT CAST(SELECT CAST(a AS CHAR(10)) x AS CHAR(10)) FROM t",
       R"(SELECT ALL CAST((SELECT ALL CAST("a", CHAR(10)) AS "x"), CHAR(10)) FROM "t")"},
  };
  for (const CanonicalCase& c : kCases) {
    SCOPED_TRACE(c.Input);
    const std::string canonical = Canonical(c.Input);
    if (std::string_view(c.Expected).empty()) {
      EXPECT_EQ(canonical.rfind("error ", 0), 0u) << canonical;
    } else {
      EXPECT_EQ(canonical, c.Expected);
    }
    if (canonical.rfind("error ", 0) != 0) {
      EXPECT_EQ(RoundTripFault(c.Input), "");
    }
  }
}

TEST(SqlBuilderCanonical, QueriesAndClauses) {
  static const CanonicalCase kCases[] = {
      {"SELECT a, b FROM t", R"(SELECT ALL "a", "b" FROM "t")"},
      {"select distinct a from t", R"(SELECT DISTINCT "a" FROM "t")"},
      {"SELECT * FROM t", R"(SELECT ALL "*" FROM "t")"},
      {"TABLE t", R"(SELECT ALL "*" FROM "t")"},
      {"SELECT t.a x FROM db.t AS u", R"(SELECT ALL "t"."a" AS "x" FROM "db"."t" AS "u")"},
      {"SELECT a FROM t WHERE a = 1 AND b <> 'x' GROUP BY a HAVING COUNT(*) > 1 ORDER BY a DESC",
       R"(SELECT ALL "a" FROM "t" WHERE "a" = 1 AND "b" <> 'x' GROUP BY "a" HAVING COUNT("*") > 1 ORDER BY "a" DESC)"},
      {"SELECT a FROM t ORDER BY a COLLATE ANSI ASCENDING, b",
       R"(SELECT ALL "a" FROM "t" ORDER BY "a" COLLATE "ANSI" ASC, "b")"},
      {"SELECT a FROM t LEFT JOIN b ON t.id = b.id",
       R"(SELECT ALL "a" FROM "t" LEFT OUTER JOIN "b" ON "t"."id" = "b"."id")"},
      {"SELECT a FROM t JOIN u ON t.a = u.a RIGHT JOIN v ON u.b = v.b, w",
       R"(SELECT ALL "a" FROM "t" INNER JOIN "u" ON "t"."a" = "u"."a" RIGHT OUTER JOIN "v" ON "u"."b" = "v"."b", "w")"},
      {"SELECT a FROM t, u", R"(SELECT ALL "a" FROM "t", "u")"},
      {"SELECT a FROM (SELECT a FROM t) x",
       R"(SELECT ALL "a" FROM (SELECT ALL "a" FROM "t") AS "x")"},
      {"SELECT a FROM t UNION ALL (SELECT b FROM u) ORDER BY 1",
       R"(SELECT ALL "a" FROM "t" UNION ALL (SELECT ALL "b" FROM "u") ORDER BY 1)"},
      {"SELECT a FROM t EXCEPT SELECT a FROM u INTERSECT ALL SELECT a FROM v",
       R"(SELECT ALL "a" FROM "t" EXCEPT SELECT ALL "a" FROM "u" INTERSECT ALL SELECT ALL "a" FROM "v")"},
      {"SELECT a FROM t RANGE 1 TO 10 NOJOINOPTIMIZE JOINOPTIMIZECOSTS",
       R"(SELECT ALL "a" FROM "t" RANGE 1 TO 10 NOJOINOPTIMIZE JOINOPTIMIZECOSTS)"},
      {"SELECT a FROM t WHERE a IN (SELECT b FROM u) AND EXISTS (SELECT * FROM v)",
       R"(SELECT ALL "a" FROM "t" WHERE "a" IN (SELECT ALL "b" FROM "u") AND EXISTS (SELECT ALL "*" FROM "v"))"},
      {"SELECT a[1] COLLATE c FROM t", R"(SELECT ALL "a" [1] COLLATE "c" FROM "t")"},
      {"SELECT a FROM t WHERE a = ?", R"(SELECT ALL "a" FROM "t" WHERE "a" = ?)"},
  };
  for (const CanonicalCase& c : kCases) EXPECT_EQ(Canonical(c.Input), c.Expected) << c.Input;
}

TEST(SqlBuilderCanonical, ExpressionsLiteralsAndFunctions) {
  static const CanonicalCase kCases[] = {
      {"SELECT x || y FROM t", R"(SELECT ALL "x" + "y" FROM "t")"},
      {"SELECT (1 + 2) * -a FROM t", R"(SELECT ALL (1 + 2) * - "a" FROM "t")"},
      {"SELECT 'it''s', DATE '2020-01-31', INTERVAL '3' DAY FROM t",
       R"(SELECT ALL 'it''s', DATE '2020-01-31', INTERVAL '3' DAY FROM "t")"},
      {"SELECT INTERVAL '1-2' year to month, TIME '10:00', TIMESTAMP '2020-01-01 00:00' FROM t",
       R"(SELECT ALL INTERVAL '1-2' YEAR TO MONTH, TIME '10:00', TIMESTAMP '2020-01-01 00:00' FROM "t")"},
      {"SELECT X'1f', #65, 1.5e3, true, null FROM t",
       R"(SELECT ALL X'1f', 'A', 1.5e3, true, null FROM "t")"},
      {"SELECT a FROM t WHERE a NOT BETWEEN 1 AND 2 OR b IS NOT NULL",
       R"(SELECT ALL "a" FROM "t" WHERE "a" NOT BETWEEN 1 AND 2 OR "b" IS NOT NULL)"},
      {"SELECT a FROM t WHERE x LIKE 'a#%' ESCAPE '#' AND y NOT IN (1, 2)",
       R"(SELECT ALL "a" FROM "t" WHERE "x" LIKE 'a#%' ESCAPE '#' AND "y" NOT IN (1, 2))"},
      {"SELECT a FROM t WHERE a DOES NOT CONTAIN ANY 'x' AND b CONTAINS ANY 'y'",
       R"(SELECT ALL "a" FROM "t" WHERE "a" DOES NOT CONTAIN ANY 'x' AND "b" CONTAINS ANY 'y')"},
      {"SELECT COUNT(*), COUNT(DISTINCT a), LIST(DISTINCT x USING ';'), LIST(ORDERED x) FROM t",
       R"(SELECT ALL COUNT("*"), COUNT(DISTINCT "a"), LIST(DISTINCT "x", ';'), LIST(ORDERED "x") FROM "t")"},
      {"SELECT LTRIM(x), RTRIM(x), ALLTRIM(x), TRIM(LEADING 'a' FROM x) FROM t",
       R"(SELECT ALL TRIM(LEADING ' ', "x"), TRIM(TRAILING ' ', "x"), TRIM(BOTH ' ', "x"), TRIM(LEADING 'a', "x") FROM "t")"},
      {"SELECT CEIL(x), POSITION(a IN b), LCASE(x), UCASE(x), LN(x), TRUNC(x TO 2) FROM t",
       R"(SELECT ALL CEILING("x"), POS("a", "b"), LOWER("x"), UPPER("x"), LOG("x"), TRUNCATE("x", 2) FROM "t")"},
      {"SELECT CHAR_LENGTH(x), SUBSTR(x FROM 1 FOR 2), EXTRACT(YEAR FROM d) FROM t",
       R"(SELECT ALL LENGTH("x"), SUBSTRING("x", 1, 2), EXTRACT(YEAR, "d") FROM "t")"},
      {"SELECT CASE x WHEN 1 THEN 'a' END FROM t",
       R"(SELECT ALL CASE "x" WHEN 1 THEN 'a' ELSE NULL END FROM "t")"},
      {"SELECT CASE CASE x WHEN 1 THEN 2 END WHEN 2 THEN CASE y WHEN 3 THEN 'b' END END FROM t",
       R"(SELECT ALL CASE CASE "x" WHEN 1 THEN 2 ELSE NULL END WHEN 2 THEN CASE "y" WHEN 3 THEN 'b' ELSE NULL END ELSE NULL END FROM "t")"},
      {"SELECT CAST(x AS VARCHAR(10) COLLATE c) FROM t",
       R"(SELECT ALL CAST("x", VARCHAR(10) COLLATE "c") FROM "t")"},
      {"SELECT CAST(x AS BOOLEAN BOOLEAN TRUE LITERAL 'y' FALSE LITERAL 'n') FROM t",
       R"(SELECT ALL CAST("x", BOOLEAN BOOLEAN TRUE LITERAL 'y' FALSE LITERAL 'n') FROM "t")"},
      {"SELECT CAST(x AS TIME TIME FORMAT 'hh' AM LITERAL 'a' PM LITERAL 'p' DECIMAL CHAR ',') "
       "FROM t",
       R"(SELECT ALL CAST("x", TIME TIME FORMAT 'hh' AM LITERAL 'a' PM LITERAL 'p' DECIMAL CHAR ',') FROM "t")"},
      {"SELECT CAST(x AS DECIMAL(10, 2)), CAST(x AS CHAR), CAST(x AS INTERVAL DAY TO SECOND) FROM "
       "t",
       R"(SELECT ALL CAST("x", DECIMAL(10, 2)), CAST("x", CHAR(1)), CAST("x", INTERVAL DAY TO SECOND) FROM "t")"},
      {"SELECT IF(a THEN b ELSE c), IFNULL(a, b, c), NULLIF(a, b), COALESCE(a, b) FROM t",
       R"(SELECT ALL IF("a", "b", "c"), IFNULL("a", "b", "c"), NULLIF("a", "b"), COALESCE("a", "b") FROM "t")"},
      {"SELECT CURRENT_DATE, CURRENT_TIMESTAMP(UTC), PI, myFunc(a, 1) FROM t",
       R"(SELECT ALL CURRENT_DATE(), CURRENT_TIMESTAMP(UTC), PI(), myFunc("a", 1) FROM "t")"},
      {"SELECT COLUMNNAME(c, 1), ROWSAFFECTED(\"s 1\") FROM t",
       R"(SELECT ALL COLUMNNAME(c, 1), ROWSAFFECTED("s 1") FROM "t")"},
      {"SELECT a FROM t WHERE EXISTS (SELECT 1)",
       R"(SELECT ALL "a" FROM "t" WHERE EXISTS (SELECT ALL 1))"},
  };
  for (const CanonicalCase& c : kCases) EXPECT_EQ(Canonical(c.Input), c.Expected) << c.Input;
}

TEST(SqlBuilderCanonical, DataStatementsBeginWithALineBreak) {
  static const CanonicalCase kCases[] = {
      {"INSERT INTO t (a, b) VALUES (1, 'x')", R"( INSERT INTO "t" ("a", "b") VALUES (1, 'x'))"},
      {"INSERT INTO t (a) SELECT b FROM u", R"( INSERT INTO "t" ("a") SELECT ALL "b" FROM "u")"},
      {"INSERT INTO t (a) (SELECT b FROM u)",
       R"( INSERT INTO "t" ("a") (SELECT ALL "b" FROM "u"))"},
      {"UPDATE t x SET a = 1, b = ? WHERE c = 2",
       R"( UPDATE "t" AS "x" SET "a" = 1, "b" = ? WHERE "c" = 2)"},
      {"DELETE FROM t WHERE a IS NULL", R"( DELETE FROM "t" WHERE "a" IS NULL)"},
      {"DELETE FROM t", R"( DELETE FROM "t")"},
  };
  for (const CanonicalCase& c : kCases) EXPECT_EQ(Canonical(c.Input), c.Expected) << c.Input;
}

// Forms that by the letter of the canonical rules would not read back; each
// is written so that it does.
TEST(SqlBuilderCanonical, FormsThatMustReadBack) {
  static const CanonicalCase kCases[] = {
      // An INSERT without a column list: no "()".
      {"INSERT INTO t VALUES (1)", R"( INSERT INTO "t" VALUES (1))"},
      {"INSERT INTO t SELECT a FROM u", R"( INSERT INTO "t" SELECT ALL "a" FROM "u")"},
      // INTRANSACTION without an argument: no "()".
      {"SELECT INTRANSACTION, INTRANSACTION(a) FROM t",
       R"(SELECT ALL INTRANSACTION, INTRANSACTION("a") FROM "t")"},
      // The qualifier of a difference follows its parentheses.
      {"SELECT (a - b) DAY TO HOUR FROM t", R"(SELECT ALL ("a" - "b") DAY TO HOUR FROM "t")"},
      // A '"' inside a name is doubled; so is a '\'' (the lexer collapses a
      // doubled one in a quoted name too).
      {R"(SELECT "a""b" FROM "it's")", R"(SELECT ALL "a""b" FROM "it''s")"},
      // Quotes inside a date literal are doubled.
      {"SELECT DATE 'x''y' FROM t", R"(SELECT ALL DATE 'x''y' FROM "t")"},
  };
  for (const CanonicalCase& c : kCases) {
    EXPECT_EQ(Canonical(c.Input), c.Expected) << c.Input;
    EXPECT_EQ(RoundTripFault(c.Input), "") << c.Input;
  }
}

// Trees made in code carry no Parenthesized flags: precedence decides.
TEST(SqlBuilderCanonical, PrecedenceOfTreesMadeInCode) {
  TreeHolder tree = ParseStatementText("SELECT a + b, x AND y, NOT p, - c FROM t", kFlags);
  TBRNExprToken* items = tree->Argument(qpSelectList);
  // Swap the operands so that a looser node becomes the operand of a tighter
  // one: (a + b) * c, NOT (x AND y), - (a ...).
  TBRNExprToken* sum = items->Argument(0)->Argument(0);
  TBRNExprToken* product = new TBRNExprToken;
  product->Kind = tkOperator;
  product->Operation = opMultiply;
  items->Argument(0)->SetArgument(0, product);
  product->SetLeft(sum);
  TBRNExprToken* three = new TBRNExprToken;
  three->Kind = tkConstant;
  three->Text = "3";
  product->SetRight(three);

  TBRNExprToken* conjunction = items->Argument(1)->Argument(0);
  TBRNExprToken* negation = items->Argument(2)->Argument(0);
  TBRNExprToken* p = negation->Left();
  negation->SetLeft(conjunction);
  items->Argument(1)->SetArgument(0, p);

  EXPECT_EQ(Build(tree.Get()),
            R"(SELECT ALL ("a" + "b") * 3, "p", NOT ("x" AND "y"), - "c" FROM "t")");
}

TEST(SqlBuilderLayout, MultiLineAndIndentation) {
  TreeHolder tree = ParseStatementText("SELECT a, b FROM t WHERE a IN (SELECT c FROM u)", kFlags);
  TBRNExprBuilder builder;
  builder.MultiLine = true;
  builder.IndentLevel = -1;
  builder.BuildQuery(tree.Get(), false);
  // The nested query stays on one line.
  EXPECT_EQ(builder.GetText(),
            "SELECT ALL\r\n\"a\",\r\n\"b\"\r\nFROM \"t\"\r\nWHERE \"a\" IN (SELECT ALL \"c\" FROM "
            "\"u\")");
  builder.Clear();
  EXPECT_EQ(builder.GetText(), "");
  EXPECT_TRUE(builder.MultiLine);  // options persist
  builder.IndentLevel = 0;
  builder.BuildQuery(tree.Get(), false);
  EXPECT_EQ(builder.GetText().substr(0, 26), "SELECT ALL\r\n   \"a\",\r\n   \"b");
  builder.Clear();
  builder.IndentLevel = -1;
  builder.BuildQuery(tree.Get(), true);
  EXPECT_EQ(builder.GetText(),
            R"(SELECT ALL "a", "b" FROM "t" WHERE "a" IN (SELECT ALL "c" FROM "u"))");

  TreeHolder update = ParseStatementText("UPDATE t SET a = 1, b = 2 WHERE c = 3", kFlags);
  builder.Clear();
  builder.IndentLevel = -1;
  builder.BuildStatement(update.Get());
  EXPECT_EQ(builder.GetText(),
            "\r\nUPDATE \"t\"\r\nSET \"a\" = 1,\r\n\"b\" = 2\r\nWHERE \"c\" = 3");

  // Statements other than the data statements append nothing.
  TreeHolder drop = ParseStatementText("DROP TABLE t", kFlags);
  builder.Clear();
  builder.BuildStatement(drop.Get());
  EXPECT_EQ(builder.GetText(), "");
  builder.BuildSQL(nullptr);
  EXPECT_EQ(builder.GetText(), "");
}

TEST(SqlBuilderLayout, ParameterValues) {
  TreeHolder tree = ParseStatementText("SELECT a FROM t WHERE a = ? AND b = ? AND c = ?", kFlags);
  TBRNExprToken* where = tree->Argument(qpWhere)->Argument(0);
  TBRNExprToken* charParam = where->Left()->Left()->Right();
  TBRNExprToken* intParam = where->Left()->Right()->Right();
  TBRNExprToken* nullParam = where->Right()->Right();
  charParam->SetDataType(dtChar);
  charParam->SetOwnValue(std::make_unique<TBRNContainedValue>());
  charParam->Value->SetDataType(dtChar);
  charParam->Value->SetAsString("5");
  intParam->SetDataType(dtInteger);
  intParam->SetOwnValue(std::make_unique<TBRNContainedValue>());
  intParam->Value->SetDataType(dtInteger);
  intParam->Value->SetAsInteger(5);
  nullParam->SetDataType(dtInteger);
  nullParam->SetOwnValue(std::make_unique<TBRNContainedValue>());
  nullParam->Value->SetDataType(dtInteger);
  nullParam->Value->SetNull(true);

  TBRNExprBuilder builder;
  builder.IndentLevel = -1;
  builder.BuildSQL(where);
  EXPECT_EQ(builder.GetText(), R"("a" = ? AND "b" = ? AND "c" = ?)");
  builder.Clear();
  builder.ParameterValues = true;
  builder.BuildSQL(where);
  EXPECT_EQ(builder.GetText(), R"("a" = '5' AND "b" = 5 AND "c" = NULL)");
}

// A query without parentheses of its own is written without them where no
// comma follows: parentheses added around every one of a chain of nested
// queries would double the nesting and exceed the parser's limit.
TEST(SqlBuilderCorpus, NestedQueriesStayWithinTheNestingLimit) {
  std::string text;
  for (int i = 0; i < 200; ++i) text += "SELECT c + ";
  text += "d FROM t";
  EXPECT_EQ(RoundTripFault(text), "");
  EXPECT_EQ(Canonical("SELECT a + SELECT b FROM t"), R"(SELECT ALL "a" + SELECT ALL "b" FROM "t")");
  EXPECT_EQ(Canonical("SELECT a FROM t WHERE EXISTS (SELECT b) AND (SELECT c) IN (SELECT d, 1)"),
            R"(SELECT ALL "a" FROM "t" WHERE EXISTS (SELECT ALL "b") AND (SELECT ALL "c") IN )"
            R"((SELECT ALL "d", 1))");
}

// ---- Plan notes ---------------------------------------------------------------------

TreeHolder Condition(const std::string& Text) {
  TreeHolder tree = ParseStatementText("SELECT x FROM t WHERE " + Text, kFlags);
  TBRNExprToken* where = tree->Argument(qpWhere);
  TBRNExprToken* condition = where->Argument(0);
  where->SetArgument(0, nullptr);
  return TreeHolder(condition);
}

void Analyse(TBRNExprToken* Node, int32_t Level, const char* ScanName, int32_t Rows = 0,
             int64_t Cost = 0) {
  Node->OptimizeLevel = Level;
  Node->ScanName = ScanName;
  Node->RowCount = Rows;
  Node->EstimatedCost = Cost;
}

std::string PlanText(const TBRNExprToken* Node, bool Costs) {
  TBRNExprBuilder builder;
  builder.IndentLevel = -1;
  builder.Plan = true;
  builder.Costs = Costs;
  builder.BuildSQL(Node);
  return builder.GetText();
}

TEST(SqlPlanNotes, ScanNotesOfSingleConditions) {
  TreeHolder indexed = Condition("a = 1");
  Analyse(indexed.Get(), 2, "ByA", 12, 1536);
  EXPECT_EQ(PlanText(indexed.Get(), true),
            "\"a\" = 1\r\n\r\nIndex scan (ByA): 12 keys, 1.5KB estimated cost");
  EXPECT_EQ(PlanText(indexed.Get(), false), "\"a\" = 1\r\n\r\nIndex scan (ByA)");

  indexed->OptimizeLevel = 1;
  EXPECT_EQ(PlanText(indexed.Get(), true), "\"a\" = 1");

  TreeHolder prefix = Condition("a = 'ab*'");
  Analyse(prefix.Get(), 2, "ByA");
  prefix->PartialLength = 2;
  EXPECT_EQ(PlanText(prefix.Get(), false),
            "\"a\" = 'ab*'\r\n\r\nPartial length match on 2 char(s) Index scan (ByA)");

  TreeHolder rows = Condition("b LIKE 'x%'");
  Analyse(rows.Get(), 0, "T", 500, 2048);
  rows->HintColumns = "\"b\"";
  EXPECT_EQ(PlanText(rows.Get(), true),
            "\"b\" LIKE 'x%'\r\n\r\nRow scan (T): 500 rows, 2KB estimated cost\r\n\r\nHint: Create "
            "index(es) (T) on column(s) \"b\" for possible better performance");
  EXPECT_EQ(PlanText(rows.Get(), false),
            "\"b\" LIKE 'x%'\r\n\r\nRow scan (T)\r\n\r\nHint: Create index(es) (T) on column(s) "
            "\"b\" for possible better performance");
  rows->HintColumns.clear();
  rows->CostEliminated = 1;
  EXPECT_EQ(PlanText(rows.Get(), true),
            "\"b\" LIKE 'x%'\r\n\r\nRow scan with one or more index scans eliminated due to cost "
            "(T): 500 rows, 2KB estimated cost");
  EXPECT_EQ(PlanText(rows.Get(), false),
            "\"b\" LIKE 'x%'\r\n\r\nRow scan with one or more index scans eliminated due to cost "
            "(T)");

  // No column reference: no note even with a scan name.
  TreeHolder constant = Condition("1 = 1");
  Analyse(constant.Get(), 0, "T");
  EXPECT_EQ(PlanText(constant.Get(), true), "1 = 1");
}

TEST(SqlPlanNotes, AndOrNodes) {
  // Both parts scanned by rows on the same table: one note after the whole.
  TreeHolder same = Condition("a = 1 AND b = 2");
  Analyse(same.Get(), 0, "T", 10, 100);
  Analyse(same->Left(), 0, "T");
  Analyse(same->Right(), 0, "T");
  EXPECT_EQ(PlanText(same.Get(), false), "\"a\" = 1 AND \"b\" = 2\r\n\r\nRow scan (T)");

  // An indexed and an unindexed part: each with its own note, the word on a
  // line of its own.
  TreeHolder mixed = Condition("(a = 1 AND b = 2)");
  Analyse(mixed->Left(), 2, "ByA");
  Analyse(mixed->Right(), 0, "T");
  EXPECT_EQ(PlanText(mixed.Get(), false),
            "(\"a\" = 1\r\n\r\nIndex scan (ByA)\r\n\r\nAND\r\n\r\n\"b\" = 2\r\n\r\nRow scan (T))");

  // Outside plan mode nothing of this shows.
  TBRNExprBuilder builder;
  builder.IndentLevel = -1;
  builder.BuildSQL(mixed.Get());
  EXPECT_EQ(builder.GetText(), R"(("a" = 1 AND "b" = 2))");
}

TEST(SqlPlanNotes, NoteTextsOnTheirOwn) {
  TBRNExprToken node;
  node.ScanName = "Idx";
  node.OptimizeLevel = 2;
  node.RowCount = 3;
  node.EstimatedCost = 512;
  EXPECT_EQ(PlanScanNote(&node, true), "Index scan (Idx): 3 keys, 512B estimated cost");
  node.OptimizeLevel = 1;
  EXPECT_EQ(PlanScanNote(&node, true), "");
  node.OptimizeLevel = 0;
  node.HintColumns = "\"a\",\"b\"";
  EXPECT_EQ(
      PlanHintNote(&node),
      "Hint: Create index(es) (Idx) on column(s) \"a\",\"b\" for possible better performance");
  node.OptimizeLevel = 2;
  EXPECT_EQ(PlanHintNote(&node), "");
  EXPECT_FALSE(HasPlanNotes(&node));  // no column reference
}

// ---- The compiled expression -------------------------------------------------------

TEST(SqlBuilderBuildText, CompiledExpressionWritesNodesAndStatements) {
  TreeHolder tree = ParseStatementText("DELETE FROM t WHERE a = ?", kFlags);
  testing::StatementOwner owner("");
  std::string text = "stale";
  owner.BuildText(tree.Get(), false, text, false, false);
  EXPECT_EQ(text, R"( DELETE FROM "t" WHERE "a" = ?)");
  const TBRNExprToken* condition = tree->Argument(0)->Argument(qpWhere)->Argument(0);
  owner.BuildText(condition, false, text, false, false);
  EXPECT_EQ(text, R"("a" = ?)");
  owner.BuildText(nullptr, false, text, false, false);  // no root
  EXPECT_EQ(text, "");
}

}  // namespace
}  // namespace brn

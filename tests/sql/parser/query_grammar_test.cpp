// Tree shapes and error messages of the query grammar and the data
// statements (SELECT, TABLE, INSERT, UPDATE, DELETE), as tables of (text,
// flags, printed tree or "error <line>:<column> <message>"). A query prints
// its twelve fixed positions: parameters, set operation, select list, 3, 4,
// INTO, FROM, WHERE, GROUP BY, HAVING, set operand, ORDER BY (then RANGE and
// the join markers when written).

#include <gtest/gtest.h>

#include <string>

#include "sql/parser/statement_support.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/query_layout.h"

namespace brn {
namespace {

using testing::kStatementFlags;
using testing::ParseStatementAndPrint;
using testing::ParseStatementText;
using testing::TreeHolder;

struct StatementCase {
  const char* Text;
  TBRNParseFlags Flags;
  const char* Expected;
};

void checkQueryCases(std::initializer_list<StatementCase> cases) {
  for (const StatementCase& c : cases)
    EXPECT_EQ(ParseStatementAndPrint(c.Text, c.Flags), c.Expected) << "text: " << c.Text;
}

constexpr TBRNParseFlags kQ = kStatementFlags;
constexpr TBRNParseFlags kQualified = kStatementFlags | pcDatabaseQualifier;

TEST(QueryGrammar, SelectListAndClauses) {
  checkQueryCases({
      {"SELECT 1", kQ,
       "Query(List, List, List:All(SelectItem(1)), nil, nil, nil, nil, nil, nil, nil, nil, nil)"},
      {"SELECT DISTINCT a, b AS x, c y FROM t", kQ,
       "Query(List, List, List:Distinct(SelectItem(a), SelectItem AS x(b), SelectItem AS y(c)), "
       "nil, nil, nil, List(TableReference t(nil, List, List)), nil, nil, nil, nil, nil)"},
      {"select all * from t", kQ,
       "Query(List, List, List:All(SelectItem(*)), nil, nil, nil, "
       "List(TableReference t(nil, List, List)), nil, nil, nil, nil, nil)"},
      {"SELECT t.*, t.a + 1 \"Sum\" FROM t", kQ,
       "Query(List, List, List:All(SelectItem(t.*), SelectItem AS Sum((t.a + 1))), nil, nil, nil, "
       "List(TableReference t(nil, List, List)), nil, nil, nil, nil, nil)"},
      {"SELECT a INTO x, ? FROM t", kQ | pcInto,
       "Query(List, List, List:All(SelectItem(a)), nil, nil, List(x, ?), "
       "List(TableReference t(nil, List, List)), nil, nil, nil, nil, nil)"},
      {"SELECT a FROM t WHERE a > 1 AND b CONTAINS 'x' GROUP BY a, t.b COLLATE ANSI "
       "HAVING a > 2 ORDER BY a DESC, b COLLATE ANSI_CI ASC, 2",
       kQ,
       "Query(List, List, List:All(SelectItem(a)), nil, nil, nil, "
       "List(TableReference t(nil, List, List)), List(((a > 1) AND (b CONTAINS 'x'))), "
       "List(OrderItem(a, nil), OrderItem(t.b, List:Collate(CollationName ANSI))), (a > 2), nil, "
       "List(OrderItem(a, nil, List:Descending), "
       "OrderItem(b, List:Collate(CollationName ANSI_CI), List:Ascending), "
       "OrderItem(2, nil, nil)))"},
      // The markers follow the twelve positions, only when written.
      {"SELECT a FROM t ORDER BY a RANGE 1 TO ? NOJOINOPTIMIZE JOINOPTIMIZECOSTS", kQ,
       "Query(List, List, List:All(SelectItem(a)), nil, nil, nil, "
       "List(TableReference t(nil, List, List)), nil, nil, nil, nil, List(OrderItem(a, nil, nil)), "
       "List:Range(1, ?), List:NoJoinOptimize, List:JoinOptimizeCosts)"},
      {"SELECT a FROM t NOJOINOPTIMIZE", kQ,
       "Query(List, List, List:All(SelectItem(a)), nil, nil, nil, "
       "List(TableReference t(nil, List, List)), nil, nil, nil, nil, nil, List:NoJoinOptimize)"},
      {"SELECT a FROM t RANGE 5", kQ,
       "Query(List, List, List:All(SelectItem(a)), nil, nil, nil, "
       "List(TableReference t(nil, List, List)), nil, nil, nil, nil, nil, List:Range(5, nil))"},
      {"TABLE Orders", kQ,
       "Query(List, List, List:All(SelectItem(*)), nil, nil, nil, "
       "List(TableReference Orders(nil, List, List)), nil, nil, nil, nil, nil)"},
      {"TABLE Orders o", kQ,
       "Query(List, List, List:All(SelectItem(*)), nil, nil, nil, "
       "List(TableReference Orders AS o(nil, List, List)), nil, nil, nil, nil, nil)"},
      {"SELECT a FROM t WHERE a > (SELECT MAX_B FROM u)", kQ,
       "Query(List, List, List:All(SelectItem(a)), nil, nil, nil, "
       "List(TableReference t(nil, List, List)), List((a > Query(List, List, "
       "List:All(SelectItem(MAX_B)), nil, nil, nil, List(TableReference u(nil, List, List)), "
       "nil, nil, nil, nil, nil))), nil, nil, nil, nil)"},
  });
}

TEST(QueryGrammar, TableNamesAndCorrelationNames) {
  checkQueryCases({
      {"SELECT a FROM db.t", kQ,
       "Query(List, List, List:All(SelectItem(a)), nil, nil, nil, "
       "List(TableReference db.t(nil, List, List)), nil, nil, nil, nil, nil)"},
      {"SELECT a FROM Information.t", kQ,
       "Query(List, List, List:All(SelectItem(a)), nil, nil, nil, "
       "List(TableReference Information.t(nil, List, List)), nil, nil, nil, nil, nil)"},
      {"SELECT a FROM d.s.t AS x", kQualified,
       "Query(List, List, List:All(SelectItem(a)), nil, nil, nil, "
       "List(TableReference d.s.t AS x(nil, List, List)), nil, nil, nil, nil, nil)"},
      {"SELECT a FROM \"my \"\"t\"\"\" \"where\"", kQ,
       "Query(List, List, List:All(SelectItem(a)), nil, nil, nil, "
       "List(TableReference my \"t\" AS where(nil, List, List)), nil, nil, nil, nil, nil)"},
      {"SELECT x FROM (SELECT a FROM t) AS d", kQ,
       "Query(List, List, List:All(SelectItem(x)), nil, nil, nil, "
       "List(TableReference:DerivedTable d AS d(Query(List, List, List:All(SelectItem(a)), "
       "nil, nil, nil, List(TableReference t(nil, List, List)), nil, nil, nil, nil, nil), "
       "List, List)), nil, nil, nil, nil, nil)"},
  });
  // Two parts name a database, unless the first is one of the two schemas.
  struct TwoParts {
    const char* Text;
    const char* Database;
    const char* Schema;
  };
  for (const TwoParts& c : {TwoParts{"SELECT a FROM db.t", "db", ""},
                            TwoParts{"SELECT a FROM default.t", "", "default"},
                            TwoParts{"SELECT a FROM INFORMATION.t", "", "INFORMATION"}}) {
    TreeHolder query = ParseStatementText(c.Text);
    const TBRNExprToken* table = query->Argument(qpFrom)->Argument(0);
    EXPECT_EQ(table->Name, "t") << c.Text;
    EXPECT_EQ(table->DatabaseName, c.Database) << c.Text;
    EXPECT_EQ(table->SchemaName, c.Schema) << c.Text;
  }
}

TEST(QueryGrammar, JoinLists) {
  checkQueryCases({
      // Each join entry goes into the join list of the table it follows.
      {"SELECT a FROM A JOIN B ON A.x = B.x LEFT JOIN C ON B.y = C.y", kQ,
       "Query(List, List, List:All(SelectItem(a)), nil, nil, nil, "
       "List(TableReference A(nil, List, List(Join:InnerJoin -> B((A.x = B.x)))), "
       "TableReference B(nil, List, List(Join:LeftJoin -> C((B.y = C.y)))), "
       "TableReference C(nil, List, List)), nil, nil, nil, nil, nil)"},
      // A comma adds a cross join entry to the previous comma-separated table.
      {"SELECT a FROM A, B, C", kQ,
       "Query(List, List, List:All(SelectItem(a)), nil, nil, nil, "
       "List(TableReference A(nil, List, List(Join:CrossJoin -> B)), "
       "TableReference B(nil, List, List(Join:CrossJoin -> C)), "
       "TableReference C(nil, List, List)), nil, nil, nil, nil, nil)"},
      {"SELECT a FROM A JOIN B ON x = y, C", kQ,
       "Query(List, List, List:All(SelectItem(a)), nil, nil, nil, "
       "List(TableReference A(nil, List, List(Join:InnerJoin -> B((x = y)), Join:CrossJoin -> C)), "
       "TableReference B(nil, List, List), TableReference C(nil, List, List)), "
       "nil, nil, nil, nil, nil)"},
      {"SELECT a FROM A p INNER JOIN B AS q ON p.x = q.x RIGHT OUTER JOIN C ON 1 = 1 "
       "LEFT OUTER JOIN D ON (p.x, q.x) = (1, 2)",
       kQ,
       "Query(List, List, List:All(SelectItem(a)), nil, nil, nil, "
       "List(TableReference A AS p(nil, List, List(Join:InnerJoin -> q((p.x = q.x)))), "
       "TableReference B AS q(nil, List, List(Join:RightJoin -> C((1 = 1)))), "
       "TableReference C(nil, List, List(Join:LeftJoin -> D((ROW(p.x, q.x) = ROW(1, 2))))), "
       "TableReference D(nil, List, List)), nil, nil, nil, nil, nil)"},
      {"SELECT a FROM A, B JOIN C ON b = c, D", kQ,
       "Query(List, List, List:All(SelectItem(a)), nil, nil, nil, "
       "List(TableReference A(nil, List, List(Join:CrossJoin -> B)), "
       "TableReference B(nil, List, List(Join:InnerJoin -> C((b = c)), Join:CrossJoin -> D)), "
       "TableReference C(nil, List, List), TableReference D(nil, List, List)), "
       "nil, nil, nil, nil, nil)"},
  });
}

TEST(QueryGrammar, JoinEntriesReferToTheFromListEntries) {
  TreeHolder query = ParseStatementText("SELECT a FROM A JOIN B ON x = y, C");
  const TBRNExprToken* from = query->Argument(qpFrom);
  const TBRNExprToken* joins = from->Argument(0)->Argument(trJoins);
  ASSERT_EQ(joins->ArgumentCount(), 2);
  EXPECT_EQ(joins->Argument(0)->JoinTable, from->Argument(1));
  EXPECT_EQ(joins->Argument(1)->JoinTable, from->Argument(2));
  // The copy's join entries point into the copy.
  TreeHolder copy(CopyExprTree(query.Get()));
  const TBRNExprToken* copiedFrom = copy->Argument(qpFrom);
  EXPECT_EQ(copiedFrom->Argument(0)->Argument(trJoins)->Argument(0)->JoinTable,
            copiedFrom->Argument(1));
}

TEST(QueryGrammar, SetOperationsAndOrderByPlacement) {
  checkQueryCases({
      {"SELECT 1 UNION SELECT 2", kQ,
       "Query(List, List, List:All(SelectItem(1)), nil, nil, nil, nil, nil, nil, nil, "
       "Query(List, List:Union, List:All(SelectItem(2)), nil, nil, nil, nil, nil, nil, nil, nil, "
       "nil), nil)"},
      // ORDER BY after the last operand belongs to the first query.
      {"SELECT a FROM t UNION ALL SELECT b FROM u ORDER BY a", kQ,
       "Query(List, List, List:All(SelectItem(a)), nil, nil, nil, "
       "List(TableReference t(nil, List, List)), nil, nil, nil, "
       "Query(List, List:UnionAll, List:All(SelectItem(b)), nil, nil, nil, "
       "List(TableReference u(nil, List, List)), nil, nil, nil, nil, nil), "
       "List(OrderItem(a, nil, nil)))"},
      // A chain nests: the second operand holds the third.
      {"SELECT a FROM t EXCEPT SELECT b FROM u INTERSECT ALL SELECT c FROM v", kQ,
       "Query(List, List, List:All(SelectItem(a)), nil, nil, nil, "
       "List(TableReference t(nil, List, List)), nil, nil, nil, "
       "Query(List, List:Except, List:All(SelectItem(b)), nil, nil, nil, "
       "List(TableReference u(nil, List, List)), nil, nil, nil, "
       "Query(List, List:IntersectAll, List:All(SelectItem(c)), nil, nil, nil, "
       "List(TableReference v(nil, List, List)), nil, nil, nil, nil, nil), nil), nil)"},
      {"SELECT a FROM t EXCEPT ALL (SELECT b FROM u INTERSECT SELECT c FROM v) ORDER BY 1", kQ,
       "Query(List, List, List:All(SelectItem(a)), nil, nil, nil, "
       "List(TableReference t(nil, List, List)), nil, nil, nil, "
       "Query(List, List:ExceptAll, List:All(SelectItem(b)), nil, nil, nil, "
       "List(TableReference u(nil, List, List)), nil, nil, nil, "
       "Query(List, List:Intersect, List:All(SelectItem(c)), nil, nil, nil, "
       "List(TableReference v(nil, List, List)), nil, nil, nil, nil, nil), nil), "
       "List(OrderItem(1, nil, nil)))"},
      // Without ORDER BY a trailing RANGE is read by the last operand ...
      {"SELECT a FROM t UNION SELECT b FROM u RANGE 1 TO 10", kQ,
       "Query(List, List, List:All(SelectItem(a)), nil, nil, nil, "
       "List(TableReference t(nil, List, List)), nil, nil, nil, "
       "Query(List, List:Union, List:All(SelectItem(b)), nil, nil, nil, "
       "List(TableReference u(nil, List, List)), nil, nil, nil, nil, nil, List:Range(1, 10)), "
       "nil)"},
      // ... after an ORDER BY by the first query, which read the ORDER BY.
      {"SELECT a FROM t UNION SELECT b FROM u ORDER BY a RANGE 1 TO 10", kQ,
       "Query(List, List, List:All(SelectItem(a)), nil, nil, nil, "
       "List(TableReference t(nil, List, List)), nil, nil, nil, "
       "Query(List, List:Union, List:All(SelectItem(b)), nil, nil, nil, "
       "List(TableReference u(nil, List, List)), nil, nil, nil, nil, nil), "
       "List(OrderItem(a, nil, nil)), List:Range(1, 10))"},
  });
}

TEST(QueryGrammar, CapturedTextAndFlags) {
  TreeHolder query = ParseStatementText(
      "SELECT a + 1 AS x, t.*, * FROM (SELECT a FROM t) d UNION ( SELECT b FROM u )");
  const TBRNExprToken* items = query->Argument(qpSelectList);
  EXPECT_EQ(items->Argument(0)->Text, "a + 1 ");
  EXPECT_EQ(items->Argument(1)->Text, "*");
  EXPECT_EQ(items->Argument(2)->Text, "*");
  const TBRNExprToken* derived = query->Argument(qpFrom)->Argument(0);
  EXPECT_EQ(derived->Text, "SELECT a FROM t");
  EXPECT_TRUE(derived->Parenthesized);
  EXPECT_EQ(derived->Name, "d");
  const TBRNExprToken* operand = query->Argument(qpSetOperand);
  EXPECT_EQ(operand->Text, "SELECT b FROM u ");
  EXPECT_TRUE(operand->Parenthesized);
  EXPECT_FALSE(query->Parenthesized);

  // Positions: the query on SELECT, a table reference on the first part of
  // its name, a join entry on its keyword.
  TreeHolder joined = ParseStatementText("SELECT a\nFROM  db.t\n  LEFT JOIN u ON 1 = 1");
  EXPECT_EQ(joined->Line, 1);
  EXPECT_EQ(joined->Column, 1);
  const TBRNExprToken* table = joined->Argument(qpFrom)->Argument(0);
  EXPECT_EQ(table->Line, 2);
  EXPECT_EQ(table->Column, 7);
  EXPECT_EQ(table->Position, 16);
  const TBRNExprToken* join = table->Argument(trJoins)->Argument(0);
  EXPECT_EQ(join->Line, 3);
  EXPECT_EQ(join->Column, 3);
}

TEST(QueryGrammar, Errors) {
  checkQueryCases({
      {"SELECT 1", 0, "error 1:1 Invalid expression SELECT found, query expression not allowed"},
      {"SELECT", kQ, "error 1:6 Missing expression"},
      {"SELECT a FROM", kQ, "error 1:13 Missing table name"},
      {"SELECT a FROM 1", kQ, "error 1:15 Expected table name but instead found 1"},
      {"SELECT a FROM (SELECT b FROM u)", kQ, "error 1:31 Missing table or query correlation name"},
      {"SELECT a FROM (SELECT b FROM u) AS 1", kQ,
       "error 1:36 Expected table or query correlation name but instead found 1"},
      {"SELECT a FROM (TABLE u) x", kQ, "error 1:16 Expected SELECT but instead found TABLE"},
      {"SELECT a FROM t FULL OUTER JOIN u ON x = y", kQ,
       "error 1:17 Invalid expression FULL found, FULL OUTER JOINs not supported"},
      // FULL is never taken for a correlation name.
      {"SELECT a FROM t FULL JOIN u ON x = y", kQ,
       "error 1:17 Invalid expression FULL found, FULL OUTER JOINs not supported"},
      {"SELECT a FROM t x FULL JOIN u ON x = y", kQ,
       "error 1:19 Invalid expression FULL found, FULL OUTER JOINs not supported"},
      {"SELECT a FROM t JOIN u", kQ, "error 1:22 Missing ON"},
      {"SELECT a FROM t JOIN u WHERE a = 1", kQ, "error 1:24 Expected ON but instead found WHERE"},
      {"SELECT a FROM t LEFT u ON a = 1", kQ, "error 1:22 Expected JOIN but instead found u"},
      {"SELECT a FROM t INNER OUTER JOIN u ON a = 1", kQ,
       "error 1:23 Expected JOIN but instead found OUTER"},
      {"SELECT a FROM t GROUP a", kQ, "error 1:23 Expected BY but instead found a"},
      {"SELECT a FROM t ORDER a", kQ, "error 1:23 Expected BY but instead found a"},
      {"SELECT a FROM t ORDER BY", kQ, "error 1:24 Missing expression"},
      {"SELECT * AS x FROM t", kQ,
       "error 1:10 Invalid expression AS found, columns wildcard (*) not allowed"},
      {"SELECT a AS 1 FROM t", kQ,
       "error 1:13 Expected column correlation name but instead found 1"},
      {"SELECT ? FROM t", kQ,
       "error 1:8 Invalid expression ? found, dynamic parameter references not allowed"},
      {"SELECT a INTO x FROM t", kQ,
       "error 1:10 Invalid expression INTO found, INTO clause not allowed"},
      {"SELECT a FROM t WHERE a IN (SELECT b INTO x FROM u)", kQ | pcInto,
       "error 1:38 Invalid expression INTO found, INTO clause not allowed"},
      {"SELECT a FROM t RANGE 1 TO 2", kQ | pcNoRange,
       "error 1:17 Invalid expression RANGE found, RANGE clause not allowed"},
      {"SELECT a FROM s.t", pcQueries | pcColumnQualifier,
       "error 1:16 Invalid expression . found, schema qualifier not allowed"},
      {"SELECT a FROM d.s.t", kQ,
       "error 1:18 Invalid expression . found, database qualifier not allowed"},
      {"SELECT a FROM d.", kQ, "error 1:16 Missing table name"},
      {"SELECT a FROM t UNION", kQ, "error 1:21 Missing SELECT, TABLE"},
      {"SELECT a FROM t UNION ALL 1", kQ, "error 1:27 Expected SELECT, TABLE but instead found 1"},
      // The right operand leaves ORDER BY to the first query.
      {"SELECT a FROM t UNION (SELECT b FROM u ORDER BY b)", kQ,
       "error 1:40 Expected ) but instead found ORDER"},
      // Without FROM nothing but a set operation may follow (ORDER is an alias
      // there).
      {"SELECT 1 ORDER BY 1", kQ, "error 1:16 Expected end of expression but instead found BY"},
      {"SELECT 1 AS x ORDER BY 1", kQ,
       "error 1:15 Expected end of expression but instead found ORDER"},
      {"SELECT a\nFROM t\nWHERE", kQ, "error 3:5 Missing expression"},
      {"SELECT a\nFROM t\nWHERE a =\n  )", kQ, "error 4:3 Expected expression but instead found )"},
      {"TABLE", kQ, "error 1:5 Missing table name"},
      {"TABLE t WHERE a = 1", kQ, "error 1:9 Expected end of expression but instead found WHERE"},
  });
}

TEST(QueryGrammar, NestingIsBounded) {
  // Set operation chains, derived tables and subqueries all count against
  // the nesting limit, so hostile text cannot exhaust the stack.
  const auto chain = [](int count) {
    std::string text = "SELECT a FROM t";
    for (int i = 0; i < count; ++i) text += " UNION SELECT a FROM t";
    return text;
  };
  EXPECT_NO_THROW(ParseStatementText(chain(200)));
  EXPECT_NE(ParseStatementAndPrint(chain(300)).find("nested too deeply"), std::string::npos);

  std::string derived = "SELECT a FROM ";
  for (int i = 0; i < 300; ++i) derived += "(SELECT a FROM ";
  EXPECT_NE(ParseStatementAndPrint(derived).find("nested too deeply"), std::string::npos);
}

TEST(DmlGrammar, Insert) {
  checkQueryCases({
      {"INSERT INTO t VALUES (1, 'a'), (2, ?)", kQ,
       "Statement:Insert(Query(List, List, List, List(ROW(1, 'a'), ROW(2, ?)), nil, nil, "
       "List(TableReference t(nil, List, List))))"},
      // A parenthesised value is a row even with one member.
      {"INSERT INTO t (a) VALUES (1)", kQ,
       "Statement:Insert(Query(List, List, List(a), List(ROW(1)), nil, nil, "
       "List(TableReference t(nil, List, List))))"},
      {"INSERT INTO db.t (a, t.b) SELECT x, y FROM s", kQ,
       "Statement:Insert(Query(List, List, List(a, t.b), List, Query(List, List, "
       "List:All(SelectItem(x), SelectItem(y)), nil, nil, nil, "
       "List(TableReference s(nil, List, List)), nil, nil, nil, nil, nil), nil, "
       "List(TableReference db.t(nil, List, List))))"},
      {"insert into t select * from s;", kQ,
       "Statement:Insert(Query(List, List, List, List, Query(List, List, "
       "List:All(SelectItem(*)), nil, nil, nil, List(TableReference s(nil, List, List)), "
       "nil, nil, nil, nil, nil), nil, List(TableReference t(nil, List, List))))"},
  });
  TreeHolder insert = ParseStatementText("INSERT INTO t (a, b) (SELECT x, y FROM s)");
  const TBRNExprToken* target = insert->Argument(0);
  ASSERT_EQ(target->ArgumentCount(), qpFrom + 1);
  EXPECT_TRUE(target->Argument(qpSourceQuery)->Parenthesized);
  EXPECT_EQ(target->Argument(qpValues)->ArgumentCount(), 0);
  // The statement and its target sit on the table name.
  EXPECT_EQ(insert->Column, 13);
  EXPECT_EQ(target->Column, 13);
}

TEST(DmlGrammar, UpdateAndDelete) {
  checkQueryCases({
      {"UPDATE t x SET x.a = 1, b = ? WHERE a > ?", kQ | pcDynamicParams,
       "Statement:Update(Query(List, List, List(x.a, b), List(1, ?), nil, nil, "
       "List(TableReference t AS x(nil, List, List)), List((a > ?))))"},
      {"UPDATE t SET (a, b) = (1, 2)", kQ,
       "Statement:Update(Query(List, List, List(ROW(a, b)), List(ROW(1, 2)), nil, nil, "
       "List(TableReference t(nil, List, List)), nil))"},
      {"DELETE FROM t", kQ,
       "Statement:Delete(Query(List, List, nil, nil, nil, nil, "
       "List(TableReference t(nil, List, List)), nil))"},
      {"DELETE FROM t AS x WHERE x.a = 1 OR b CONTAINS 'y'", kQ,
       "Statement:Delete(Query(List, List, nil, nil, nil, nil, "
       "List(TableReference t AS x(nil, List, List)), List(((x.a = 1) OR (b CONTAINS 'y')))))"},
      {"DELETE FILE \"a.txt\" FROM STORE Backups", kQ,
       "Statement:DeleteFile(FileName a.txt, StoreName Backups)"},
  });
}

TEST(DmlGrammar, Errors) {
  checkQueryCases({
      {"INSERT t VALUES (1)", kQ, "error 1:8 Expected INTO but instead found t"},
      {"INSERT INTO t x VALUES (1)", kQ, "error 1:15 Expected VALUES, SELECT but instead found x"},
      {"INSERT INTO t DEFAULT VALUES", kQ,
       "error 1:15 Expected VALUES, SELECT but instead found DEFAULT"},
      {"INSERT INTO t", kQ, "error 1:13 Missing VALUES, SELECT"},
      // Without a column list the parenthesis is read as one.
      {"INSERT INTO t (SELECT a FROM u)", kQ, "error 1:23 Expected ) but instead found a"},
      {"INSERT INTO t (1) VALUES (1)", kQ, "error 1:16 Expected column name but instead found 1"},
      {"INSERT INTO t (a) (SELECT b FROM u", kQ, "error 1:34 Missing )"},
      {"INSERT INTO t VALUES (SELECT 1)", 0,
       "error 1:23 Invalid expression SELECT found, query expression not allowed"},
      {"UPDATE t x y SET a = 1", kQ, "error 1:12 Expected SET but instead found y"},
      {"UPDATE t SET a 1", kQ, "error 1:16 Expected = but instead found 1"},
      {"UPDATE t SET a = 1 b = 2", kQ, "error 1:20 Expected end of expression but instead found b"},
      {"DELETE t", kQ, "error 1:8 Expected FROM, FILE but instead found t"},
      {"DELETE", kQ, "error 1:6 Missing FROM, FILE"},
      {"DELETE FILE f FROM s", kQ, "error 1:20 Expected STORE but instead found s"},
      {"DELETE FILE 'f' FROM STORE s", kQ, "error 1:13 Expected file name but instead found 'f'"},
      {"DELETE FROM t WHERE", kQ, "error 1:19 Missing expression"},
      // Parameters in a condition only where the caller allows them.
      {"DELETE FROM t WHERE a = ?", kQ,
       "error 1:25 Invalid expression ? found, dynamic parameter references not allowed"},
  });
}

}  // namespace
}  // namespace brn

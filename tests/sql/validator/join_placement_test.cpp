// Join order and condition placement: where WHERE and ON conditions end up
// (a table's own condition list, the join entry, WHERE) across inner, LEFT
// and RIGHT joins, how join entries are reordered, reversed and dropped, and
// the errors of joins that cannot be ordered. Cases are (query, validated
// picture) tables; see query_fixture.h for the picture.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/text/exception.h"
#include "sql/tree/expr_tree_algorithms.h"
#include "sql/validator/query_fixture.h"

namespace brn::testing {
namespace {

struct JoinCase {
  const char* Text;
  const char* Expected;
};

void ExpectJoinShapes(std::initializer_list<JoinCase> Cases) {
  for (const JoinCase& c : Cases) EXPECT_EQ(Shape(c.Text), c.Expected) << c.Text;
}

TEST(JoinPlacement, WhereConditionsMoveToTheTableTheyConcern) {
  ExpectJoinShapes({
      {"SELECT A.X FROM A, B WHERE A.X = 1 AND A.Y = B.Y",
       "SELECT X=X@A FROM A{(X@A = 1)} [CROSS->B], B WHERE (Y@A = Y@B)"},
      // A condition without columns filters the first table.
      {"SELECT A.X FROM A, B WHERE 1 = 1", "SELECT X=X@A FROM A{(1 = 1)} [CROSS->B], B"},
      // A comparison with its columns on the right is mirrored first.
      {"SELECT A.X FROM A, B WHERE 1 < B.X AND B.Y + 1 >= A.Y",
       "SELECT X=X@A FROM A [CROSS->B], B{(X@B > 1)} WHERE ((Y@B + 1) >= Y@A)"},
      // An OR over one table moves whole; one over two tables stays whole.
      {"SELECT A.X FROM A, B WHERE (A.X = 1 OR A.Y = 2) AND (A.X = 3 OR B.Y = 4)",
       "SELECT X=X@A FROM A{((X@A = 1) OR (Y@A = 2))} [CROSS->B], B WHERE ((X@A = 3) OR (Y@B = "
       "4))"},
      // Anything that relates two tables in one expression stays.
      {"SELECT A.X FROM A, B WHERE A.X + B.X = 2 AND A.Z BETWEEN B.Z AND 5",
       "SELECT X=X@A FROM A [CROSS->B], B WHERE (((X@A + X@B) = 2) AND (Z@A BETWEEN Z@B, 5))"},
      // NOT is pushed down before placement.
      {"SELECT A.X FROM A, B WHERE NOT (A.X = 1 OR B.Y <> 2)",
       "SELECT X=X@A FROM A{(X@A <> 1)} [CROSS->B], B{(Y@B = 2)}"},
      // A correlated subquery ties the condition to the outer row; inside
      // it the outer column is a constant, so the condition filters B.
      {"SELECT A.X FROM A WHERE A.X IN (SELECT B.X FROM B WHERE B.Y = A.Y) AND A.Z = 1",
       "SELECT X=X@A FROM A{(Z@A = 1)} WHERE (X@A IN {Correlated: SELECT X=X@B FROM B{(Y@B = "
       "Y@A)} ORDER BY #0})"},
  });
}

TEST(JoinPlacement, ConditionsAcrossInnerAndOuterJoins) {
  ExpectJoinShapes({
      // Inner join: the single-table part of ON filters B first.
      {"SELECT A.X FROM A JOIN B ON A.X = B.Y AND B.Z = 1",
       "SELECT X=X@A FROM A [INNER->B: (X@A = Y@B)], B{(Z@B = 1)}"},
      // LEFT join: a condition on B in ON filters B's rows before the join;
      // one on A stays in ON (it decides which A rows find partners).
      {"SELECT A.X FROM A LEFT JOIN B ON A.X = B.Y AND B.Z = 1 AND A.W = 1",
       "SELECT X=X@A FROM A [LEFT->B: ((X@A = Y@B) AND (W@A = 1))], B{(Z@B = 1)}"},
      // WHERE on the outer side of a LEFT join must see the NULL rows: it
      // stays; WHERE on the preserved side moves.
      {"SELECT A.X FROM A LEFT JOIN B ON A.X = B.Y WHERE B.Z = 1 AND A.Z = 2",
       "SELECT X=X@A FROM A{(Z@A = 2)} [LEFT->B: (X@A = Y@B)], B WHERE (Z@B = 1)"},
      {"SELECT A.X FROM A LEFT JOIN B ON A.X = B.Y WHERE B.Z IS NULL",
       "SELECT X=X@A FROM A [LEFT->B: (X@A = Y@B)], B WHERE (Z@B IS NULL NULL)"},
      // An inner join's condition on a table reached through a LEFT join
      // goes to WHERE, after the outer join.
      {"SELECT A.X FROM A LEFT JOIN B ON A.X = B.X JOIN C ON B.Y = C.Y AND B.Z = 1",
       "SELECT X=X@A FROM A [LEFT->B: (X@A = X@B)], B [INNER->C: (Y@B = Y@C)], C WHERE (Z@B = "
       "1)"},
      // The parts of an OR in ON never move.
      {"SELECT A.X FROM A JOIN B ON A.X = B.X AND (B.Y = 1 OR A.Y = 2)",
       "SELECT X=X@A FROM A [INNER->B: ((X@A = X@B) AND ((Y@B = 1) OR (Y@A = 2)))], B"},
      // A comparison with columns on both sides or none stays with its join.
      {"SELECT A.X FROM A JOIN B ON A.X = B.X AND 1 = 1",
       "SELECT X=X@A FROM A [INNER->B: ((X@A = X@B) AND (1 = 1))], B"},
  });
}

TEST(JoinPlacement, JoinEntriesAreReorderedReversedAndDropped) {
  ExpectJoinShapes({
      // A RIGHT join is a LEFT join driven from the other table.
      {"SELECT A.X FROM A RIGHT JOIN B ON A.X = B.Y",
       "SELECT X=X@A FROM B [LEFT->A: (Y@B = X@A)], A"},
      {"SELECT A.X FROM A RIGHT JOIN B ON A.X = B.Y AND A.Z = 1",
       "SELECT X=X@A FROM B [LEFT->A: (Y@B = X@A)], A{(Z@A = 1)}"},
      // A join entry hangs where its condition starts: C joins to A.
      {"SELECT A.X FROM A, B JOIN C ON A.Y = C.Y",
       "SELECT X=X@A FROM A [INNER->C: (Y@A = Y@C)] [CROSS->B], B, C"},
      // The only entry of a list left without conditions is a cross join...
      {"SELECT A.X FROM A JOIN B ON B.X = 1", "SELECT X=X@A FROM A [CROSS->B], B{(X@B = 1)}"},
      // ...any other such entry goes.
      {"SELECT A.X FROM A JOIN B ON A.X = B.X JOIN C ON A.Y = 2",
       "SELECT X=X@A FROM A{(Y@A = 2)} [INNER->B: (X@A = X@B)], B, C"},
  });
  // Join entries are numbered by their positions after the changes.
  QueryRun run("SELECT A.X FROM A JOIN B ON A.X = B.X JOIN C ON A.Y = 2 JOIN D ON A.Z = D.Z");
  ASSERT_NE(run.Root(), nullptr) << run.Error;
  const TBRNExprToken* from = run.Root()->Argument(qpFrom);
  for (int32_t i = 0; i < from->ArgumentCount(); ++i) {
    EXPECT_EQ(from->Argument(i)->Index, i);
    const TBRNExprToken* joins = from->Argument(i)->Argument(trJoins);
    for (int32_t j = 0; j < joins->ArgumentCount(); ++j) EXPECT_EQ(joins->Argument(j)->Index, j);
  }
}

TEST(JoinPlacement, JoinsThatCannotBeOrdered) {
  ExpectJoinShapes({
      {"SELECT 1 FROM A JOIN B ON A.X = C.X JOIN C ON B.Y = C.Y",
       "error 1:27 Invalid expression A.X = C.X found, this expression refers to a table or "
       "column that is not in scope yet"},
      // After the RIGHT join is reversed B is the target of two LEFT joins.
      {"SELECT 1 FROM A LEFT JOIN B ON A.X = B.X RIGHT JOIN C ON B.Y = C.Y",
       "error 1:27 Invalid expression TableReference B(nil, List, List) found, this table is "
       "the target of multiple join conditions"},
  });
}

// A query over tables A, B, E (in this FROM order) whose join lists hold the
// entries "source-kind->target" given, each with the condition
// source.X = target.X.
class HandBuiltJoins {
 public:
  struct Entry {
    int Source;
    TBRNExprOperation Kind;
    int Target;
  };

  explicit HandBuiltJoins(std::initializer_list<Entry> Entries) : Query(node(tkQuery)) {
    for (int32_t i = 0; i < qpFixedCount; ++i) Query->AddArgument(nullptr);
    TBRNExprToken* from = node(tkList);
    Query->SetArgument(qpFrom, from);
    for (const char* name : {"A", "B", "E"}) {
      TBRNExprToken* table = node(tkTableReference);
      table->Name = name;
      table->AddArgument(nullptr);
      table->AddArgument(node(tkList));
      table->AddArgument(node(tkList));
      from->AddArgument(table);
      Tables.push_back(table);
    }
    for (const Entry& e : Entries) {
      TBRNExprToken* join = node(tkJoin, e.Kind);
      join->JoinTable = Tables[size_t(e.Target)];
      TBRNExprToken* condition = node(tkOperator, opEqual);
      condition->SetLeft(column(Tables[size_t(e.Source)]));
      condition->SetRight(column(Tables[size_t(e.Target)]));
      join->AddArgument(condition);
      Tables[size_t(e.Source)]->Argument(trJoins)->AddArgument(join);
    }
    NumberFromItems(Query.Get(), true);
  }

  TreeHolder Query;
  std::vector<TBRNExprToken*> Tables;

 private:
  static TBRNExprToken* node(TBRNExprTokenKind Kind, TBRNExprOperation Operation = opNone) {
    auto* n = new TBRNExprToken;
    n->Kind = Kind;
    n->Operation = Operation;
    n->Line = 1;
    n->Column = 1;
    return n;
  }
  static TBRNExprToken* column(TBRNExprToken* Table) {
    TBRNExprToken* c = node(tkColumnReference);
    c->Name = "X";
    c->Link = Table;
    return c;
  }
};

TEST(JoinPlacement, TurningJoinsAroundStopsWithAnErrorWhenItCannotSettle) {
  // E and A inner-joined both ways and B LEFT-joined to E: turning the joins
  // of a twice-joined table around only moves the double target along the
  // cycle, for ever.
  const std::initializer_list<HandBuiltJoins::Entry> entries = {
      {2, opInnerJoin, 0}, {0, opInnerJoin, 2}, {1, opLeftJoin, 2}};

  // Without a bound the turning never settles: a hundred rounds still turn.
  {
    HandBuiltJoins joins(entries);
    TBRNExprToken* query = joins.Query.Get();
    int rounds = 0;
    for (bool turned = true; turned && rounds < 100;) {
      turned = false;
      for (TBRNExprToken* table : query->Argument(qpFrom)->Arguments()) {
        for (TBRNExprToken* join : table->Argument(trJoins)->Arguments()) {
          if (!TableIsJoinedElsewhere(query, join, join->JoinTable)) continue;
          turned = ReverseJoin(query, opInnerJoin, join->JoinTable, false);
          break;
        }
        if (turned) break;
      }
      rounds += turned ? 1 : 0;
    }
    ASSERT_EQ(rounds, 100) << "the fixture no longer shows the endless turning";
  }

  HandBuiltJoins joins(entries);
  ValidatorOwner owner(QueryCatalog());
  TBRNExprValidator validator(true);
  validator.SetExpression(owner);
  try {
    validator.NormalizeJoins(joins.Query.Get());
    FAIL() << "the joins were accepted";
  } catch (const EBRNException& error) {
    EXPECT_NE(DescribeError(error).find("this table is the target of multiple join conditions"),
              std::string::npos)
        << DescribeError(error);
  }
}

}  // namespace
}  // namespace brn::testing

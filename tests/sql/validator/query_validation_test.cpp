// Query validation: select-item naming and types, wildcards, GROUP BY,
// HAVING and ORDER BY binding with hidden items, aggregate errors, FROM
// items and ambiguous columns, set operations, implicit ordering of IN
// subqueries, parameter numbering and the release pass. Each case is a query
// text and the validated query's picture (query_fixture.h) or its error.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "foundation/types/data_types.h"
#include "sql/validator/query_fixture.h"

namespace brn::testing {
namespace {

struct QueryCase {
  const char* Text;
  const char* Expected;
};

void ExpectShapes(std::initializer_list<QueryCase> Cases, TBRNParseFlags Flags = kQueryFlags) {
  for (const QueryCase& c : Cases) EXPECT_EQ(Shape(c.Text, Flags), c.Expected) << c.Text;
}

TEST(QueryValidation, SelectItemsAreNamedUniquely) {
  ExpectShapes({
      {"SELECT COUNT(*), COUNT(*) FROM Customers",
       "SELECT COUNT of ALL=COUNT(*@?), COUNT of ALL1=COUNT(*@?) FROM Customers"},
      // The row identifier's name is never a column name.
      {"SELECT ID AS __RowID FROM Customers", "SELECT __RowID1=ID@Customers FROM Customers"},
      // Later items are numbered after earlier ones.
      {"SELECT SUM(ID), SUM(ID), SUM(ID) FROM Orders",
       "SELECT SUM of ID=SUM(ID@Orders), SUM of ID1=SUM(ID@Orders), SUM of ID2=SUM(ID@Orders) "
       "FROM Orders"},
      // A written alias takes part like any other name.
      {"SELECT ID, Name AS id, 1 + 2, 'x' FROM Customers",
       "SELECT ID=ID@Customers, id1=Name@Customers, Expression=(1 + 2), Expression1='x' FROM "
       "Customers"},
      {"SELECT MAX(ID + 1), MIN(ID) FROM Customers",
       "SELECT MAX of Expression=MAX((ID@Customers + 1)), MIN of ID=MIN(ID@Customers) FROM "
       "Customers"},
      // Wildcards: one item per column of the bound table (all tables when
      // unqualified), named after the column.
      {"SELECT * FROM Customers",
       "SELECT ID=ID@Customers, Name=Name@Customers, City=City@Customers FROM Customers"},
      {"SELECT C.*, O.ID FROM Customers C, Orders O",
       "SELECT ID=ID@C, Name=Name@C, City=City@C, ID1=ID@O FROM Customers AS C [CROSS->O], "
       "Orders AS O"},
      {"SELECT *, 1 FROM A, B",
       "SELECT X=X@A, Y=Y@A, Z=Z@A, W=W@A, X1=X@B, Y1=Y@B, Z1=Z@B, W1=W@B, Expression=1 FROM A "
       "[CROSS->B], B"},
      // The columns of a derived table are its select items.
      {"SELECT D.X FROM (SELECT X FROM A) D", "SELECT X=X@D FROM D"},
  });
}

TEST(QueryValidation, SelectListErrors) {
  ExpectShapes({
      {"SELECT ID \"1x\" FROM Customers",
       "error 1:8 Invalid expression SelectItem AS 1x(ID) found, invalid correlation name"},
      {"SELECT NULL FROM Customers",
       "error 1:8 Invalid expression NULL found, a constant NULL value is not allowed as a SELECT "
       "expression"},
      {"SELECT 1, *",
       "error 1:11 Invalid expression * found, FROM clause required for any column references"},
      {"SELECT DISTINCT Blob FROM Docs",
       "error 1:17 Invalid expression Blob found, BLOB expressions not allowed"},
      {"SELECT Nope.* FROM A",
       "error 1:8 Expected column name expression but instead found Nope.*"},
  });
}

TEST(QueryValidation, CharacterAndByteSelectExpressionsGetUsableSizes) {
  QueryRun run("SELECT Free, Exact, Big, Bin, Blob FROM Docs");
  ASSERT_NE(run.Root(), nullptr) << run.Error;
  std::string types;
  for (const TBRNExprToken* item : run.Root()->Argument(qpSelectList)->Arguments())
    types += DataTypeName(item->DataType, item->SubType) + "(" + std::to_string(item->Size) + ") ";
  // No size: 60; up to 1024 kept; longer becomes a LOB of its kind.
  EXPECT_EQ(types, "VarChar(60) VarChar(1024) CLOB(0) BLOB(0) BLOB(0) ");
  // A query with one item has that item's type (a scalar subquery's value).
  QueryRun single("SELECT Amount FROM Orders");
  ASSERT_NE(single.Root(), nullptr) << single.Error;
  EXPECT_EQ(single.Root()->DataType, dtDecimal);
  EXPECT_EQ(single.Root()->Scale, 2);
}

TEST(QueryValidation, GroupOrderAndAggregatesBindToSelectItems) {
  ExpectShapes({
      {"SELECT City, COUNT(*) FROM Customers GROUP BY City",
       "SELECT City=City@Customers, COUNT of ALL=COUNT(*@?) FROM Customers GROUP BY #0"},
      // A GROUP BY or ORDER BY name is first a select item's alias.
      {"SELECT City AS Name, Name FROM Customers GROUP BY Name, City ORDER BY Name",
       "SELECT Name=City@Customers, Name1=Name@Customers FROM Customers GROUP BY #0, #0 ORDER BY "
       "#0"},
      // What the select list lacks is added as a hidden item.
      {"SELECT City FROM Customers GROUP BY City ORDER BY Name DESC",
       "SELECT City=City@Customers, +Name=Name@Customers FROM Customers GROUP BY #0 ORDER BY #1 "
       "DESC"},
      {"SELECT City FROM Customers ORDER BY ID + 1",
       "SELECT City=City@Customers, +Expression=(ID@Customers + 1) FROM Customers ORDER BY #1"},
      // AVG, STDDEV and RUNSUM as items are computed from simpler aggregates.
      {"SELECT AVG(Amount) FROM Orders",
       "SELECT AVG of Amount=AVG(Amount@Orders, #1, #2), +SUM of Amount=SUM(Amount@Orders), "
       "+COUNT of Amount=COUNT(Amount@Orders) FROM Orders"},
      {"SELECT STDDEV(Amount), RUNSUM(Amount) FROM Orders",
       "SELECT STDDEV of Amount=STDDEV(Amount@Orders, #2, #3, #4), RUNSUM of "
       "Amount=RUNSUM(Amount@Orders, #2), +SUM of Amount=SUM(Amount@Orders), +SUM SQUARES of "
       "Amount=SUMSQUARE(Amount@Orders), +COUNT of Amount=COUNT(Amount@Orders) FROM Orders"},
      // An aggregate inside an expression or in HAVING is a select item of
      // its own; the columns around it are the grouped ones.
      {"SELECT CustomerID, SUM(Amount) * 2 FROM Orders GROUP BY CustomerID HAVING COUNT(*) > 1",
       "SELECT CustomerID=CustomerID@Orders, Expression=(#3 * 2), +COUNT of ALL=COUNT(*@?), +SUM "
       "of Amount=SUM(Amount@Orders) FROM Orders GROUP BY #0 HAVING (#2 > 1)"},
      {"SELECT CustomerID + SUM(Amount) FROM Orders GROUP BY CustomerID",
       "SELECT Expression=(#1 + #2), +CustomerID=CustomerID@Orders, +SUM of "
       "Amount=SUM(Amount@Orders) FROM Orders GROUP BY #1"},
  });
}

TEST(QueryValidation, DistinctAggregateIsNotSharedWithThePlainOne) {
  // COUNT(DISTINCT X) inside an expression must not reuse the COUNT(X) item
  // (it would count every row).
  ExpectShapes({
      {"SELECT COUNT(X), COUNT(DISTINCT X) + 1 FROM A",
       "SELECT COUNT of X=COUNT(X@A), Expression=(#2 + 1), +COUNT of X1=COUNT(DISTINCT X@A) FROM "
       "A"},
      {"SELECT COUNT(X), COUNT(X) + 1 FROM A",
       "SELECT COUNT of X=COUNT(X@A), Expression=(#0 + 1) FROM A"},
  });
}

TEST(QueryValidation, GroupByAndAggregateErrors) {
  ExpectShapes({
      {"SELECT City, COUNT(*) FROM Customers",
       "error 1:8 Invalid expression City found, GROUP BY clause required for any column "
       "references"},
      {"SELECT SUM(ID) FROM Customers ORDER BY 1",
       "error 1:40 Invalid expression 1 found, ORDER BY clause not allowed"},
      {"SELECT City FROM Customers HAVING City = 'x'",
       "error 1:35 Invalid expression City = 'x' found, GROUP BY clause required for any column "
       "references"},
      // A column that only HAVING uses becomes a hidden item that needs the
      // GROUP BY as well.
      {"SELECT SUM(ID) FROM Customers HAVING City = 'x'",
       "error 1:38 Invalid expression City found, GROUP BY clause required for any column "
       "references"},
      {"SELECT SUM(SUM(ID)) FROM Customers",
       "error 1:8 Invalid expression SUM(SUM(ID)) found, nested aggregate functions not allowed"},
      {"SELECT City FROM Customers GROUP BY SUM(ID)",
       "error 1:37 Invalid expression SUM(ID) found, aggregate functions not allowed in the GROUP "
       "BY clause"},
      {"SELECT Blob FROM Docs GROUP BY Blob",
       "error 1:32 Invalid expression OrderItem Blob found, BLOB expressions not allowed"},
      {"SELECT Big FROM Docs ORDER BY Big",
       "error 1:31 Invalid expression OrderItem Big found, BLOB expressions not allowed"},
  });
}

TEST(QueryValidation, GroupByAndOrderByTakeAtMost256Items) {
  const auto repeated = [](const char* clause, int count) {
    std::string text = "SELECT X FROM A ";
    text += clause;
    for (int i = 0; i < count; ++i) text += i == 0 ? " X" : ", X";
    return text;
  };
  EXPECT_EQ(Shape(repeated("GROUP BY", 256)).substr(0, 31), "SELECT X=X@A FROM A GROUP BY #0");
  EXPECT_EQ(Shape(repeated("GROUP BY", 257)),
            "error 1:26 Invalid expression X found, the maximum number of GROUP BY columns (256) "
            "exceeded");
  EXPECT_EQ(Shape(repeated("ORDER BY", 256)).substr(0, 31), "SELECT X=X@A FROM A ORDER BY #0");
  EXPECT_EQ(Shape(repeated("ORDER BY", 257)),
            "error 1:26 Invalid expression X found, the maximum number of ORDER BY columns (256) "
            "exceeded");
}

TEST(QueryValidation, FromItemsAndAmbiguousColumns) {
  ExpectShapes({
      {"SELECT 1 FROM Customers C, Orders c",
       "error 1:28 Invalid expression TableReference Orders AS c(nil, List, List) found, "
       "duplicate table or table correlation name found"},
      {"SELECT 1 FROM Customers, Customers",
       "error 1:26 Invalid expression TableReference Customers(nil, List, List) found, duplicate "
       "table or table correlation name found"},
      {"SELECT 1 FROM Customers \"1C\"",
       "error 1:15 Invalid expression TableReference Customers AS 1C(nil, List, List) found, "
       "invalid correlation name"},
      {"SELECT 1 FROM Nowhere", "error 1:15 table Nowhere does not exist"},
      // A bare name two tables of one FROM clause have is ambiguous, in any
      // clause; qualified it is not.
      {"SELECT ID FROM Customers, Orders",
       "error 1:8 Invalid expression ID found, the referenced column is ambiguous"},
      {"SELECT 1 FROM Customers JOIN Orders ON ID = CustomerID",
       "error 1:40 Invalid expression ID found, the referenced column is ambiguous"},
      {"SELECT Customers.ID, City FROM Customers, Orders",
       "SELECT ID=ID@Customers, City=City@Customers FROM Customers [CROSS->Orders], Orders"},
      // Only the tables of one level compete: the subquery's own Orders
      // hides the outer Customers.ID.
      {"SELECT Name FROM Customers WHERE ID IN (SELECT ID FROM Orders)",
       "SELECT Name=Name@Customers FROM Customers{(ID@Customers IN {Subquery: SELECT "
       "ID=ID@Orders FROM Orders ORDER BY #0})}"},
      {"SELECT Name FROM Customers WHERE Name IN (SELECT Name FROM A, B)",
       "SELECT Name=Name@Customers FROM Customers WHERE (Name@Customers IN {Correlated: SELECT "
       "Name=Name@Customers FROM A [CROSS->B], B ORDER BY #0})"},
      {"SELECT 1 FROM A WHERE A.X IN (SELECT X FROM B, C)",
       "error 1:38 Invalid expression X found, the referenced column is ambiguous"},
  });
}

TEST(QueryValidation, SetOperations) {
  ExpectShapes({
      {"SELECT ID FROM Customers UNION SELECT ID, CustomerID FROM Orders",
       "error 1:39 Invalid expression SelectItem AS ID(ID) found, column counts do not match"},
      {"SELECT Blob FROM Docs UNION SELECT Blob FROM Docs",
       "error 1:8 Invalid expression SelectItem AS Blob(Blob) found, BLOB expressions not "
       "allowed"},
      {"SELECT Blob FROM Docs UNION ALL SELECT Blob FROM Docs",
       "SELECT Blob=Blob@Docs FROM Docs UNION ALL SELECT Blob=Blob@Docs FROM Docs"},
      {"SELECT Name FROM Customers EXCEPT SELECT Amount FROM Orders",
       "error 1:42 Expected NULL, Char, GUID, or VarChar expression but instead found SelectItem "
       "AS Amount(Amount)"},
      // The ORDER BY of the whole operation names the first query's items;
      // an operand that has the name leaves it alone.
      {"SELECT X, Y FROM A UNION SELECT X, Z AS Y FROM B ORDER BY Y",
       "SELECT X=X@A, Y=Y@A FROM A UNION SELECT X=X@B, Y=Z@B FROM B ORDER BY #1"},
  });
  // The first query's columns widen to hold every operand's values.
  QueryRun run(
      "SELECT ID, City FROM Customers UNION ALL SELECT Amount, Name FROM Customers, Orders");
  ASSERT_NE(run.Root(), nullptr) << run.Error;
  const TBRNExprToken* list = run.Root()->Argument(qpSelectList);
  EXPECT_EQ(list->Argument(0)->DataType, dtDecimal);
  EXPECT_EQ(list->Argument(0)->Scale, 2);
  EXPECT_EQ(list->Argument(1)->Size, 40);
}

TEST(QueryValidation, InSubqueriesAreOrderedByAllTheirColumns) {
  ExpectShapes({
      {"SELECT Name FROM Customers WHERE ID IN (SELECT CustomerID FROM Orders)",
       "SELECT Name=Name@Customers FROM Customers{(ID@Customers IN {Subquery: SELECT "
       "CustomerID=CustomerID@Orders FROM Orders ORDER BY #0})}"},
      {"SELECT Name FROM Customers WHERE ID NOT IN (SELECT DISTINCT CustomerID FROM Orders, A "
       "WHERE Orders.ID = A.X)",
       "SELECT Name=Name@Customers FROM Customers{(ID@Customers NOT IN {Subquery: SELECT "
       "CustomerID=CustomerID@Orders FROM Orders [CROSS->A], A WHERE (ID@Orders = X@A) ORDER BY "
       "#0})}"},
      // A single aggregate row needs no order.
      {"SELECT Name FROM Customers WHERE ID IN (SELECT MAX(CustomerID) FROM Orders)",
       "SELECT Name=Name@Customers FROM Customers{(ID@Customers IN {Subquery: SELECT MAX of "
       "CustomerID=MAX(CustomerID@Orders) FROM Orders})}"},
  });
}

// "Name:Type" of the statement's parameter definitions in list order, " out"
// for an output parameter.
std::string Parameters(std::string_view text, TBRNParseFlags flags = kQueryFlags,
                       TestParseMode mode = TestParseMode::Expression) {
  QueryRun run(text, flags, mode);
  if (!run.Root()) return run.Error;
  std::string out;
  for (const TBRNExprToken* p : run.Root()->Argument(qpParameters)->Arguments()) {
    if (!out.empty()) out += " ";
    out += p->Name + ":" +
           (p->DataType == dtNull ? std::string("Null") : DataTypeName(p->DataType, p->SubType));
    if (p->Operation == opParamOut) out += " out";
  }
  return out;
}

TEST(QueryValidation, ParametersAreNamedInMeetingOrderAndListedInTextOrder) {
  // The ON marker is met first (Parameter1) but stands after the select
  // list's one in the list.
  EXPECT_EQ(Parameters("SELECT (SELECT MAX(Amount) FROM Orders WHERE Orders.ID = ?) FROM A "
                       "JOIN C ON A.X = ? WHERE A.Y = ? AND A.Z = ?"),
            "Parameter2:Integer Parameter1:Integer Parameter3:Integer Parameter4:Integer");
  EXPECT_EQ(Parameters("SELECT A.X FROM A JOIN B ON A.X = ? WHERE A.Y = ? RANGE ? TO ?"),
            "Parameter1:Integer Parameter2:Integer Parameter3:Integer Parameter4:Integer");
  EXPECT_EQ(Parameters("SELECT X FROM A RANGE 'a'"),
            "error 1:23 Expected SmallInt, Integer, or BigInt expression but instead found 'a'");
  EXPECT_EQ(Parameters("SELECT X FROM A RANGE A.X"),
            "error 1:23 Expected constant value expression but instead found A.X");

  // A subquery that HAVING needs as a hidden item keeps its one parameter.
  EXPECT_EQ(Parameters("SELECT SUM(X) FROM A HAVING SUM(X) > (SELECT MAX(Y) FROM B WHERE B.Z = ?)"),
            "Parameter1:Integer");

  // INTO targets are output parameters typed by their select items.
  // (INTO belongs to a SELECT statement.)
  const TBRNParseFlags into = kQueryFlags | pcInto;
  EXPECT_EQ(Parameters("SELECT Name, Amount INTO ?, ? FROM Customers, Orders WHERE Orders.ID = ?",
                       into, TestParseMode::Statement),
            "Parameter1:VarChar out Parameter2:Decimal out Parameter3:Integer");
  EXPECT_EQ(Parameters("SELECT Name, Amount INTO ? FROM Customers, Orders", into,
                       TestParseMode::Statement),
            "error 1:26 Invalid expression List(?) found, the number of SELECT column must match "
            "the number of INTO clause parameters");
}

TEST(QueryValidation, LongOperatorChainsBindEveryColumn) {
  // The binding walks operator chains without recursion; the length is kept
  // moderate because resolving each column looks up the whole chain.
  std::string text = "SELECT SUM(X)";
  for (int i = 0; i < 8000; ++i) text += " + X";
  text += " FROM A GROUP BY X HAVING X";
  for (int i = 0; i < 8000; ++i) text += " + X";
  text += " > 0";
  QueryRun run(text);
  ASSERT_NE(run.Root(), nullptr) << run.Error;
  const TBRNExprToken* list = run.Root()->Argument(qpSelectList);
  ASSERT_EQ(list->ArgumentCount(), 3);  // the chain, +X, +SUM(X)
  // The rightmost X is the grouped column's item, like all the others.
  const TBRNExprToken* chain = list->Argument(0)->Argument(0);
  EXPECT_EQ(chain->Right()->Kind, tkOrderItem);
  EXPECT_EQ(chain->Right()->Link, list->Argument(1));
}

TEST(QueryValidation, ReleasePassClosesWhatValidationOpened) {
  struct ReleaseCase {
    const char* Text;
    int Opened;
  };
  const ReleaseCase cases[] = {
      // The WHERE subquery moved into A's own conditions; the ON one stayed
      // with its LEFT join entry.
      {"SELECT A.X FROM A LEFT JOIN B ON A.X = B.X AND A.Y IN (SELECT C.Y FROM C) WHERE A.Z IN "
       "(SELECT D.Z FROM D)",
       4},
      {"SELECT E.X FROM (SELECT X FROM A) E", 2},
      {"SELECT X FROM A UNION SELECT X FROM B UNION SELECT X FROM C", 3},
      // The HAVING subquery became a hidden item; ORDER BY's one matched an
      // item (its own tree is freed, released first).
      {"SELECT SUM(X) FROM A HAVING SUM(X) > (SELECT MAX(Y) FROM B)", 2},
      {"SELECT (SELECT MAX(Y) FROM B) FROM A ORDER BY (SELECT MAX(Y) FROM B)", 3},
  };
  for (const ReleaseCase& c : cases) {
    QueryRun run(c.Text);
    ASSERT_NE(run.Root(), nullptr) << run.Error;
    EXPECT_EQ(run.Owner.OpenCalls, c.Opened) << c.Text;
    run.Validator.ReleaseReferences();
    EXPECT_TRUE(run.Owner.OpenNodes.empty()) << c.Text;
  }
  // A failed run is released too (QueryRun releases on error).
  QueryRun failed("SELECT A.X FROM A, B WHERE B.X IN (SELECT Nope FROM C)");
  EXPECT_NE(failed.Error, "");
  EXPECT_EQ(failed.Owner.OpenCalls, 3);
  EXPECT_TRUE(failed.Owner.OpenNodes.empty());
}

}  // namespace
}  // namespace brn::testing

// A result built for some values of the statement's "?" parameters is never
// served for other values: each query that reads a parameter is rebuilt when
// the statement runs again, whatever kind of query reads it and wherever
// the result is kept (a derived table, a set-operation member, a subquery).
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "execution/queries/query_test_support.h"
#include "foundation/values/param_value.h"

namespace brn::testing {
namespace {

using ParamRows = std::vector<std::vector<std::string>>;

struct ParamPart {
  int64_t Id;
  int64_t Qty;
};
const ParamPart kParamParts[] = {{1, 10}, {2, 20}, {3, 30}, {4, 20}};
// The IDs by Qty descending, then ID.
const int64_t kParamIdsByQtyDesc[] = {3, 2, 4, 1};

ParamRows IdsOver(int64_t qty) {
  ParamRows rows;
  for (const ParamPart& part : kParamParts)
    if (part.Qty > qty) rows.push_back({std::to_string(part.Id)});
  return rows;
}

// The first count IDs by Qty descending.
ParamRows FirstByQtyDesc(int64_t count) {
  ParamRows rows;
  for (int64_t i = 0; i < count; ++i) rows.push_back({std::to_string(kParamIdsByQtyDesc[i])});
  return rows;
}

ParamRows WithZero(ParamRows rows) {
  rows.push_back({"0"});
  return rows;
}

struct ParamRebuildTest : QueryTest {
  ParamRebuildTest() {
    CreateTable("Parts", {{"ID", dtInteger}, {"Qty", dtInteger}});
    std::vector<CellRow> rows;
    for (const ParamPart& part : kParamParts) rows.push_back({part.Id, part.Qty});
    Insert("Parts", rows);
  }
};

struct ParamCase {
  const char* Sql;
  bool Ordered;  // the rows come in an order the query fixes
  int64_t A, B;  // the statement runs with A, then B, then A again
  std::function<ParamRows(int64_t)> Oracle;
};

TEST_F(ParamRebuildTest, EachExecutionSeesItsOwnParameterValue) {
  const ParamCase cases[] = {
      {"SELECT D.ID FROM (SELECT ID, Qty FROM Parts WHERE Qty > ? "
       "UNION ALL SELECT 0, 0 FROM Parts WHERE ID = 1) AS D",
       false, 15, 25, [](int64_t p) { return WithZero(IdsOver(p)); }},
      {"SELECT D.ID FROM (SELECT ID FROM Parts WHERE Qty > ?) AS D, Parts P "
       "WHERE D.ID = P.ID",
       false, 15, 25, IdsOver},
      {"SELECT Qty, COUNT(*) FROM Parts WHERE Qty > ? GROUP BY Qty", false, 15, 25,
       [](int64_t p) {
         ParamRows rows;
         for (int64_t qty : {10, 20, 30}) {
           int64_t count = 0;
           for (const ParamPart& part : kParamParts) count += part.Qty == qty ? 1 : 0;
           if (qty > p) rows.push_back({std::to_string(qty), std::to_string(count)});
         }
         return rows;
       }},
      {"SELECT Qty FROM Parts GROUP BY Qty HAVING SUM(Qty) > ?", false, 25, 35,
       [](int64_t p) {
         ParamRows rows;
         for (int64_t qty : {10, 20, 30}) {
           int64_t sum = 0;
           for (const ParamPart& part : kParamParts) sum += part.Qty == qty ? qty : 0;
           if (sum > p) rows.push_back({std::to_string(qty)});
         }
         return rows;
       }},
      // The marker in the first member and in the one that follows it.
      {"SELECT ID FROM Parts WHERE Qty > ? UNION SELECT 0 FROM Parts WHERE ID = 1", false, 15, 25,
       [](int64_t p) { return WithZero(IdsOver(p)); }},
      {"SELECT 0 FROM Parts WHERE ID = 1 UNION ALL SELECT ID FROM Parts WHERE Qty > ?", false, 15,
       25, [](int64_t p) { return WithZero(IdsOver(p)); }},
      {"SELECT ID FROM Parts WHERE Qty > ? ORDER BY Qty DESC, ID", true, 15, 25,
       [](int64_t p) {
         ParamRows rows;
         for (int64_t id : kParamIdsByQtyDesc)
           if (kParamParts[id - 1].Qty > p) rows.push_back({std::to_string(id)});
         return rows;
       }},
      // Only a subquery of the select list reads the marker.
      {"SELECT ID, (SELECT COUNT(*) FROM Parts Q WHERE Q.Qty > ?) FROM Parts WHERE ID > 0 "
       "ORDER BY Qty DESC, ID",
       true, 15, 25,
       [](int64_t p) {
         const std::string count = std::to_string(IdsOver(p).size());
         ParamRows rows;
         for (int64_t id : kParamIdsByQtyDesc) rows.push_back({std::to_string(id), count});
         return rows;
       }},
      {"SELECT ID FROM Parts WHERE ID IN (SELECT ID FROM Parts WHERE Qty > ?)", false, 15, 25,
       IdsOver},
      {"SELECT P.ID FROM Parts P WHERE EXISTS (SELECT Q.ID FROM Parts Q "
       "WHERE Q.ID < P.ID AND Q.Qty > ?)",
       false, 15, 25,
       [](int64_t p) {
         ParamRows rows;
         for (const ParamPart& part : kParamParts) {
           bool found = false;
           for (const ParamPart& other : kParamParts)
             found = found || (other.Id < part.Id && other.Qty > p);
           if (found) rows.push_back({std::to_string(part.Id)});
         }
         return rows;
       }},
      {"SELECT A.ID, B.ID FROM Parts A INNER JOIN Parts B ON A.Qty = B.Qty AND B.Qty > ? "
       "WHERE A.ID > 0",
       false, 15, 25,
       [](int64_t p) {
         ParamRows rows;
         for (const ParamPart& a : kParamParts)
           for (const ParamPart& b : kParamParts)
             if (a.Qty == b.Qty && b.Qty > p)
               rows.push_back({std::to_string(a.Id), std::to_string(b.Id)});
         return rows;
       }},
      // A range bound alone cuts the same ordered result differently, also
      // the kept cursor of a derived table (materialised and live) or of a
      // subquery.
      {"SELECT ID FROM Parts WHERE ID > 0 ORDER BY Qty DESC, ID RANGE 2 TO ?", true, 3, 4,
       [](int64_t p) {
         ParamRows rows;
         for (int64_t i = 1; i < p; ++i) rows.push_back({std::to_string(kParamIdsByQtyDesc[i])});
         return rows;
       }},
      {"SELECT D.ID FROM (SELECT ID FROM Parts ORDER BY Qty DESC, ID RANGE 1 TO ?) AS D", false, 1,
       3, FirstByQtyDesc},
      {"SELECT D.ID FROM (SELECT ID FROM Parts WHERE ID > 0 RANGE 1 TO ?) AS D", false, 1, 3,
       [](int64_t p) {
         ParamRows rows;
         for (int64_t id = 1; id <= p; ++id) rows.push_back({std::to_string(id)});
         return rows;
       }},
      {"SELECT ID FROM Parts WHERE ID IN (SELECT ID FROM Parts ORDER BY Qty DESC, ID "
       "RANGE 1 TO ?)",
       false, 1, 3, FirstByQtyDesc},
  };
  for (const ParamCase& c : cases) {
    SCOPED_TRACE(c.Sql);
    TBRNLocalStatementManager* statement = Prepare(c.Sql);
    statement->RequestSensitive = false;
    ASSERT_EQ(statement->Params->GetCount(), 1);
    for (int64_t value : {c.A, c.B, c.A}) {
      SCOPED_TRACE(value);
      statement->Params->GetItem(0)->SetAsInteger(int32_t(value));
      ParamRows rows;
      EXPECT_NO_THROW({
        TBRNCursor* cursor = statement->ExecuteStatement();
        if (cursor != nullptr) rows = CursorRows(*cursor);
      });
      ParamRows expected = c.Oracle(value);
      if (!c.Ordered) {
        std::sort(rows.begin(), rows.end());
        std::sort(expected.begin(), expected.end());
      }
      EXPECT_EQ(rows, expected);
    }
    Free(statement);
  }
}

}  // namespace
}  // namespace brn::testing

// Every aggregate through a query: the hooks fold the rows of each group
// into the result row in the order the rows arrive.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "execution/queries/query_test_support.h"

namespace brn::testing {
namespace {

using ResultRows = std::vector<std::vector<std::string>>;

struct AggregateQueryTest : QueryTest {
  void SetUp() override {
    CreateTable("Letters", {{"ID", dtInteger}, {"G", dtInteger}, {"L", dtChar, 4},
                            {"N", dtSmallInt}, {"Big", dtBigInt}});
    Insert("Letters", {{int64_t(1), int64_t(1), std::string("b"), int64_t(200), int64_t(1)},
                       {int64_t(2), int64_t(1), std::string("a"), std::monostate{},
                        int64_t(9223372036854775807)},
                       {int64_t(3), int64_t(1), std::string("b"), int64_t(0), std::monostate{}},
                       {int64_t(4), int64_t(2), std::string("c"), int64_t(7), std::monostate{}},
                       {int64_t(5), int64_t(2), std::monostate{}, int64_t(7), std::monostate{}}});
  }
};

TEST_F(AggregateQueryTest, EveryAggregate) {
  const struct {
    const char* sql;
    ResultRows expected;
  } cases[] = {
      {"SELECT LIST(L), LIST(DISTINCT L), LIST(ORDERED L), LIST(DISTINCT ORDERED L) "
       "FROM Letters WHERE G = 1",
       {{"b,a,b", "b,a", "a,b,b", "a,b"}}},
      {"SELECT LIST(L, ' | ') FROM Letters WHERE G = 1", {{"b | a | b"}}},
      {"SELECT COUNT(*), COUNT(N), COUNT(L), COUNT(DISTINCT L) FROM Letters", {{"5", "4", "4", "3"}}},
      {"SELECT SUM(N), MIN(N), MAX(N), AVG(N) FROM Letters WHERE G = 1",
       {{"200", "0", "200", "100"}}},
      // The squares of SmallInt values are summed in floating point.
      {"SELECT ROUND(STDDEV(N), 3) FROM Letters WHERE G = 1", {{"141.421"}}},
      {"SELECT MIN(L), MAX(L) FROM Letters", {{"a", "c"}}},
      // Groups whose rows interleave keep their own DISTINCT values.
      {"SELECT G, COUNT(DISTINCT N), LIST(DISTINCT ORDERED L), SUM(N) FROM Letters "
       "GROUP BY G ORDER BY G",
       {{"1", "2", "a,b", "200"}, {"2", "1", "c", "14"}}},
      // A group whose values are all NULL: COUNT 0, SUM and LIST NULL.
      {"SELECT COUNT(N), SUM(N), LIST(L) FROM Letters WHERE ID = 2 OR ID = 5",
       {{"1", "7", "a"}}},
      {"SELECT COUNT(Big), SUM(Big), MAX(Big) FROM Letters WHERE G = 2",
       {{"0", "NULL", "NULL"}}},
      {"SELECT LIST(L), COUNT(L) FROM Letters WHERE ID = 5", {{"NULL", "0"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    try {
      EXPECT_EQ(Query(c.sql), c.expected);
    } catch (const EBRNException& error) {
      ADD_FAILURE() << error.what();
    }
  }
}

// A BigInt sum that leaves its type raises the range error instead of
// wrapping.
TEST_F(AggregateQueryTest, SumOutOfRangeRaises) {
  EXPECT_EQ(Outcome([&] { Query("SELECT SUM(Big) FROM Letters"); }).first, kConversionErrorCode);
}

}  // namespace
}  // namespace brn::testing

// The statement-size guard (see LinearStatementLength): hostile statement
// texts of many sizes cost the parser, the validator and the SQL text
// builder time and memory linear in their length. Each shape is compiled
// and built back at two sizes; the node count, the tree's memory and the
// time must grow as the text does, measured as ratios, not as time limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "sql/builder/sql_builder.h"
#include "sql/tree/compiled_expr.h"
#include "sql/tree_printer.h"
#include "sql/validator/query_fixture.h"

namespace brn::testing {
namespace {

struct Cost {
  int64_t TextBytes = 0;
  int64_t Nodes = 0;
  int64_t TreeMemory = 0;
  int64_t BuiltBytes = 0;
  double Seconds = 0;
};

// The processor time of this thread: other tests running beside this one
// take the processor away, but do not count here.
double ThreadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// Compiles (parses and validates) Text as a statement and builds it back;
// the time is the best of at least two runs and of 20 ms of runs, so
// that a busy machine does not make it look longer than it is.
Cost Measure(const std::string& Text) {
  Cost cost;
  cost.TextBytes = int64_t(Text.size());
  double best = 1e9;
  double total = 0;
  // The best of several runs: a busy machine's passes over the larger text
  // lose more to shared caches, and only the best run shows the cost.
  for (int run = 0; run < 5 || (total < 0.05 && run < 200); ++run) {
    const double start = ThreadSeconds();
    QueryRun query(Text, kQueryFlags, TestParseMode::Statement);
    EXPECT_EQ(query.Error, "") << Text.substr(0, 200);
    if (!query.Root()) return cost;
    TBRNExprBuilder builder;
    builder.IndentLevel = -1;
    builder.BuildStatement(query.Root());
    cost.BuiltBytes = builder.GetText().size();
    const double seconds = ThreadSeconds() - start;
    best = std::min(best, seconds);
    total += seconds;
    cost.Nodes = CountNodes(query.Root());
    cost.TreeMemory = query.Root()->MemorySize();
  }
  cost.Seconds = best;
  return cost;
}

// Units joined by Separator until they fill at least Bytes bytes.
std::string Repeated(const std::function<std::string(int64_t)>& Unit, std::string_view Separator,
                     int64_t Bytes) {
  std::string text;
  for (int64_t i = 0; int64_t(text.size()) < Bytes; ++i) {
    if (i > 0) text += Separator;
    text += Unit(i);
  }
  return text;
}

std::string Number(int64_t I) {
  return std::to_string(I);
}

std::string Parenthesized(int64_t I) {
  const int depth = 40;  // well inside the parser's nesting limit
  return std::string(depth, '(') + "ID = " + std::to_string(I) + std::string(depth, ')');
}

struct Shape {
  const char* Name;
  // A statement of about Bytes bytes.
  std::function<std::string(int64_t Bytes)> Text;
};

TEST(StatementSize, TimeAndMemoryGrowLinearlyWithTheText) {
  const std::string select = "SELECT ID FROM Customers WHERE ";
  const std::string joined = "SELECT A.X FROM A, B WHERE ";
  const auto constant = [](std::string Text) { return [Text](int64_t) { return Text; }; };
  const std::vector<Shape> shapes = {
      {"IN list", [&](int64_t n) { return select + "ID IN (" + Repeated(Number, ", ", n) + ")"; }},
      {"AND/OR chain",
       [&](int64_t n) {
         return select + Repeated(
                             [](int64_t i) {
                               return "ID = " + std::to_string(i) + (i % 2 ? " OR " : " AND ") +
                                      "Name = 'n'";
                             },
                             " OR ", n);
       }},
      // Conditions over two tables are placed part by part.
      {"AND chain over two tables",
       [&](int64_t n) {
         return joined + "A.X = B.Y AND " +
                Repeated([](int64_t i) { return "A.X = " + std::to_string(i); }, " AND ", n);
       }},
      {"join condition chain",
       [&](int64_t n) {
         return "SELECT A.X FROM A INNER JOIN B ON A.X = B.Y AND " +
                Repeated([](int64_t i) { return "B.Y = " + std::to_string(i); }, " AND ", n);
       }},
      {"comparison of two long sums",
       [&](int64_t n) {
         return joined + Repeated(constant("A.X"), " + ", n / 2) + " = " +
                Repeated(constant("B.Y"), " + ", n / 2);
       }},
      {"deep parentheses", [&](int64_t n) { return select + Repeated(Parenthesized, " OR ", n); }},
      {"CASE arms",
       [&](int64_t n) {
         return select + "CASE ID" +
                Repeated(
                    [](int64_t i) {
                      return " WHEN " + std::to_string(i) + " THEN 'v" + std::to_string(i) + "'";
                    },
                    "", n) +
                " END = 'v1'";
       }},
      {"searched CASE arms",
       [&](int64_t n) {
         return select + "CASE" +
                Repeated(
                    [](int64_t i) {
                      return " WHEN ID > " + std::to_string(i) + " THEN " + std::to_string(i);
                    },
                    "", n) +
                " ELSE 0 END = 1";
       }},
      {"concatenation",
       [&](int64_t n) {
         return select + "Name + " + Repeated(constant("'ab'"), " + ", n) + " = 'x'";
       }},
      {"string literal",
       [&](int64_t n) { return select + "Name = '" + Repeated(constant("xy''z"), "", n) + "'"; }},
  };
  // Eight times the text: linear costs grow about eightfold, quadratic ones
  // sixty-fourfold. The allowance covers fixed costs and a busy machine,
  // whose shared caches slow the larger text's passes more (up to 34x seen).
  const int64_t small = 16 << 10;
  const int64_t large = small * 8;
  static_assert(large <= LinearStatementLength);
  for (const Shape& shape : shapes) {
    const Cost a = Measure(shape.Text(small));
    const Cost b = Measure(shape.Text(large));
    const double textRatio = double(b.TextBytes) / double(a.TextBytes);
    EXPECT_LE(double(b.Nodes) / double(a.Nodes), textRatio * 1.1) << shape.Name;
    EXPECT_LE(double(b.TreeMemory) / double(a.TreeMemory), textRatio * 1.1) << shape.Name;
    EXPECT_LE(double(b.BuiltBytes) / double(a.BuiltBytes), textRatio * 1.1) << shape.Name;
    EXPECT_LE(b.Seconds / a.Seconds, textRatio * 5)
        << shape.Name << ": " << a.Seconds << " s, then " << b.Seconds << " s";
  }
}

}  // namespace
}  // namespace brn::testing

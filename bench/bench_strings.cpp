// Message formatting and SQL preparation against plain string building of
// the same results in the same run.
#include <benchmark/benchmark.h>

#include <string>

#include "foundation/text/sql_text_scanner.h"
#include "foundation/text/string_helpers.h"
#include "foundation/text/word_list.h"

namespace {

void BM_FormatText(benchmark::State& state) {
  for (auto _ : state) {
    std::string text = brn::FormatText("The %s %s in the %s %s cannot be locked for %s access",
                                       {"table", "Customers", "database", "Sales", "write"});
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_FormatText);

// Reference: the same message glued from its known pieces.
void BM_FormatTextReference(benchmark::State& state) {
  for (auto _ : state) {
    std::string text;
    text.reserve(96);
    text.append("The ").append("table").append(" ").append("Customers").append(" in the ");
    text.append("database").append(" ").append("Sales").append(" cannot be locked for ");
    text.append("write").append(" access");
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_FormatTextReference);

const std::string sqlText =
    "SELECT c.Name, o.Total /* totals : not params */ FROM Customers c "
    "INNER JOIN Orders o ON o.CustomerID = c.ID WHERE o.Total > :MinTotal "
    "AND c.Name LIKE 'A:%' -- :ignored\r\nAND o.Placed >= :\"Start Date\"";

void BM_ParseSQLText(benchmark::State& state) {
  for (auto _ : state) {
    std::string result;
    int32_t position = 1;
    brn::ParseSQLText(sqlText, position, result, false, ';', nullptr);
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(sqlText.size()));
}
BENCHMARK(BM_ParseSQLText);

// Reference: a byte-by-byte copy of the same text.
void BM_ParseSQLTextReference(benchmark::State& state) {
  for (auto _ : state) {
    std::string result;
    result.reserve(sqlText.size());
    for (char c : sqlText) result.push_back(c);
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(sqlText.size()));
}
BENCHMARK(BM_ParseSQLTextReference);

void BM_WordListAdd(benchmark::State& state) {
  for (auto _ : state) {
    brn::TBRNWordList list(0);
    for (int i = 0; i < 1000; ++i) list.Add("word" + std::to_string((i * 7919) % 1000));
    benchmark::DoNotOptimize(list.GetCount());
  }
}
BENCHMARK(BM_WordListAdd);

}  // namespace

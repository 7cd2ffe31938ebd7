// Message formatting and SQL preparation against plain string building of
// the same results in the same run.
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>

#include "foundation/text/sql_text_scanner.h"
#include "foundation/text/string_builder.h"
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

// 10 MB appended in pieces of a few characters, as the SQL text builder
// writes names, blanks and keywords.
constexpr int64_t kAppendedBytes = int64_t(10) << 20;
const std::string_view kPieces[] = {"\"Name\"", " ", "OR", " = ", "'x'", ", "};

void BM_StringBuilderAppend(benchmark::State& state) {
  for (auto _ : state) {
    brn::TBRNStringBuilder builder;
    for (int64_t done = 0, i = 0; done < kAppendedBytes; done += int64_t(kPieces[i % 6].size()))
      builder.Append(kPieces[i++ % 6]);
    benchmark::DoNotOptimize(builder.View().data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kAppendedBytes);
}
BENCHMARK(BM_StringBuilderAppend)->Unit(benchmark::kMillisecond);

// Reference: the same pieces appended to a std::string.
void BM_StringBuilderAppendReference(benchmark::State& state) {
  for (auto _ : state) {
    std::string text;
    for (int64_t done = 0, i = 0; done < kAppendedBytes; done += int64_t(kPieces[i % 6].size()))
      text.append(kPieces[i++ % 6]);
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kAppendedBytes);
}
BENCHMARK(BM_StringBuilderAppendReference)->Unit(benchmark::kMillisecond);

void BM_WordListAdd(benchmark::State& state) {
  for (auto _ : state) {
    brn::TBRNWordList list(0);
    for (int i = 0; i < 1000; ++i) list.Add("word" + std::to_string((i * 7919) % 1000));
    benchmark::DoNotOptimize(list.GetCount());
  }
}
BENCHMARK(BM_WordListAdd);

}  // namespace

// Literal text and index words against the C library's conversions of the
// same values (the reference each pair is compared with).
#include <benchmark/benchmark.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "foundation/types/index_words.h"
#include "foundation/types/literal_text.h"

namespace {

std::vector<double> SampleDoubles() {
  std::mt19937_64 random(42);
  std::uniform_real_distribution<double> mantissa(-1000.0, 1000.0);
  std::vector<double> values(1024);
  for (double& v : values) v = mantissa(random) * std::pow(10.0, int(random() % 20) - 10);
  return values;
}

void BM_FormatFloatLiteral(benchmark::State& state) {
  auto values = SampleDoubles();
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(brn::FormatFloatLiteral(values[i++ & 1023]));
}
BENCHMARK(BM_FormatFloatLiteral);

void BM_Reference_SnprintfG15(benchmark::State& state) {
  auto values = SampleDoubles();
  size_t i = 0;
  char buffer[32];
  for (auto _ : state) {
    int n = std::snprintf(buffer, sizeof buffer, "%.15g", values[i++ & 1023]);
    benchmark::DoNotOptimize(std::string(buffer, size_t(n)));
  }
}
BENCHMARK(BM_Reference_SnprintfG15);

std::vector<std::string> SampleFloatTexts() {
  std::vector<std::string> texts;
  for (double v : SampleDoubles()) texts.push_back(brn::FormatFloatLiteral(v));
  return texts;
}

void BM_ParseFloatLiteral(benchmark::State& state) {
  auto texts = SampleFloatTexts();
  size_t i = 0;
  double value;
  for (auto _ : state) {
    benchmark::DoNotOptimize(brn::ParseFloatLiteral(texts[i++ & 1023], value));
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_ParseFloatLiteral);

void BM_Reference_Strtod(benchmark::State& state) {
  auto texts = SampleFloatTexts();
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(std::strtod(texts[i++ & 1023].c_str(), nullptr));
}
BENCHMARK(BM_Reference_Strtod);

void BM_ParseTimestampLiteral(benchmark::State& state) {
  int64_t value;
  for (auto _ : state) {
    benchmark::DoNotOptimize(brn::ParseTimestampLiteral("2024-02-29 13:05:07.250", value));
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_ParseTimestampLiteral);

void BM_Reference_SscanfTimestamp(benchmark::State& state) {
  int y, mo, d, h, mi, s, ms;
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::sscanf("2024-02-29 13:05:07.250", "%d-%d-%d %d:%d:%d.%d", &y, &mo,
                                         &d, &h, &mi, &s, &ms));
    benchmark::DoNotOptimize(y + mo + d + h + mi + s + ms);
  }
}
BENCHMARK(BM_Reference_SscanfTimestamp);

void BM_FormatTimestampLiteral(benchmark::State& state) {
  const int64_t value = 738945LL * 86400000 + 47107250;
  for (auto _ : state) benchmark::DoNotOptimize(brn::FormatTimestampLiteral(true, value));
}
BENCHMARK(BM_FormatTimestampLiteral);

void BM_Reference_SnprintfTimestamp(benchmark::State& state) {
  char buffer[40];
  for (auto _ : state) {
    int n = std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d.%03d", 2024, 2, 29,
                          13, 5, 7, 250);
    benchmark::DoNotOptimize(std::string(buffer, size_t(n)));
  }
}
BENCHMARK(BM_Reference_SnprintfTimestamp);

const std::string paragraph =
    "The quick, brown fox12 jumps over the lazy dog; however the dog, which was sleeping "
    "under the old oak tree, did not notice anything unusual about the morning at all.";

void BM_NextIndexWord(benchmark::State& state) {
  for (auto _ : state) {
    int32_t position = 1;
    std::string word;
    do {
      brn::NextIndexWord(0, paragraph, position, word, false);
      benchmark::DoNotOptimize(word);
    } while (!word.empty());
  }
}
BENCHMARK(BM_NextIndexWord);

// Splitting into letter runs alone, without stop words or collation.
void BM_Reference_SplitLetters(benchmark::State& state) {
  for (auto _ : state) {
    std::string word;
    for (char c : paragraph) {
      if (std::isalpha(static_cast<unsigned char>(c))) {
        word.push_back(c);
      } else if (!std::isdigit(static_cast<unsigned char>(c))) {
        benchmark::DoNotOptimize(word);
        word.clear();
      }
    }
    benchmark::DoNotOptimize(word);
  }
}
BENCHMARK(BM_Reference_SplitLetters);

}  // namespace

// Collated comparison of short texts against ICU's own comparison of the same
// texts already in UTF-16: what the 8-bit layer (collator lookup, code-page
// conversion, blank trimming) costs on top of ICU.
#include <benchmark/benchmark.h>
#include <unicode/ucol.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "foundation/text/collation.h"

namespace {

constexpr int32_t ENU = 0x0409;
constexpr int32_t CI = 1 << brn::CaseInsensitiveBit;

// Name-like words of 4 to 16 characters with capitals, accents and blanks;
// each pair shares a prefix so that the comparison runs into the text.
std::vector<std::pair<std::string, std::string>> makePairs() {
  const std::string letters =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ\xE4\xF6\xFC\xE9 ";
  uint32_t seed = 12345;
  auto next = [&seed](uint32_t bound) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % bound;
  };
  std::vector<std::pair<std::string, std::string>> pairs;
  for (int i = 0; i < 256; ++i) {
    std::string a;
    size_t length = 4 + next(13);
    for (size_t k = 0; k < length; ++k) a.push_back(letters[next(uint32_t(letters.size()))]);
    std::string b = a.substr(0, next(uint32_t(length)));
    while (b.size() < length) b.push_back(letters[next(uint32_t(letters.size()))]);
    if (i % 4 == 0) b = a;  // equal texts are common in key lookups
    pairs.emplace_back(a, b);
  }
  return pairs;
}

const std::vector<std::pair<std::string, std::string>>& pairs() {
  static const auto all = makePairs();
  return all;
}

// The same texts in UTF-16 (Windows-1252 is Latin-1 for these characters).
std::vector<std::pair<std::u16string, std::u16string>> makeWidePairs() {
  std::vector<std::pair<std::u16string, std::u16string>> wide;
  auto widen = [](const std::string& s) {
    std::u16string w;
    for (char c : s) w.push_back(char16_t(static_cast<unsigned char>(c)));
    return w;
  };
  for (const auto& [a, b] : pairs()) wide.emplace_back(widen(a), widen(b));
  return wide;
}

void runCollated(benchmark::State& state, int32_t collation) {
  const auto& texts = pairs();
  for (auto _ : state) {
    int32_t sum = 0;
    for (const auto& [a, b] : texts) sum += brn::CompareCollated(collation, a, b);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(texts.size()));
}

void runIcu(benchmark::State& state, UColAttributeValue strength) {
  UErrorCode error = U_ZERO_ERROR;
  UCollator* collator = ucol_open("en-US", &error);
  ucol_setStrength(collator, strength);
  ucol_setAttribute(collator, UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &error);
  const auto texts = makeWidePairs();
  for (auto _ : state) {
    int32_t sum = 0;
    for (const auto& [a, b] : texts)
      sum += ucol_strcoll(collator, reinterpret_cast<const UChar*>(a.data()), int32_t(a.size()),
                          reinterpret_cast<const UChar*>(b.data()), int32_t(b.size()));
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(texts.size()));
  ucol_close(collator);
}

void BM_CollatedBinary(benchmark::State& state) {
  runCollated(state, 0);
}
void BM_CollatedENU(benchmark::State& state) {
  runCollated(state, ENU);
}
void BM_CollatedENU_CI(benchmark::State& state) {
  runCollated(state, ENU | CI);
}
void BM_IcuReferenceENU(benchmark::State& state) {
  runIcu(state, UCOL_TERTIARY);
}
void BM_IcuReferenceENU_CI(benchmark::State& state) {
  runIcu(state, UCOL_SECONDARY);
}

BENCHMARK(BM_CollatedBinary);
BENCHMARK(BM_CollatedENU);
BENCHMARK(BM_IcuReferenceENU);
BENCHMARK(BM_CollatedENU_CI);
BENCHMARK(BM_IcuReferenceENU_CI);

}  // namespace

// Const operations of one value from several threads at once. Run under
// ThreadSanitizer too: a hidden write in a const method (a scratch buffer, a
// stream position) shows as a data race there.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "foundation/core/memory_stream.h"
#include "foundation/text/collation.h"
#include "foundation/value_test_support.h"

namespace brn {
namespace {

using testing::MakeValue;

constexpr int kThreads = 2;
constexpr int kRounds = 300;

// Runs body(thread index) on kThreads threads started together and returns
// the number of rounds whose result was wrong.
template <typename Body>
int RunTogether(Body body) {
  std::atomic<int> ready{0};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      wrong.fetch_add(body(t));
    });
  }
  for (std::thread& thread : threads) thread.join();
  return wrong.load();
}

// One shared value compared by every thread with values of its own, of the
// same type and (through the converting path) of other types.
TEST(ValueThreads, CompareOfOneSharedValue) {
  struct Case {
    TBRNDataTypeCode SharedType;
    TBRNDataSubType SharedSubType;
    const char* SharedText;
    TBRNDataTypeCode OtherType;
    const char* OtherText;
    int32_t Expected;  // shared compared with the other
  };
  const Case cases[] = {
      {dtChar, stDefault, "42", dtInteger, "7", -1},    // texts '42' and '7'
      {dtChar, stDefault, "abc", dtChar, "abd", -1},    // in place
      {dtBytes, stDefault, "0A0B", dtInteger, "1", 1},  // against the 4 bytes 01000000
      {dtDate, stDefault, "2020-01-02", dtChar, "2020-01-01", 1},
      {dtDecimal, stDefault, "5", dtInteger, "5", 0},
      {dtInteger, stDefault, "5", dtFloat, "4.5", 1},
      {dtLob, stClob, "xyz", dtChar, "xyz", 0},
  };
  for (const Case& c : cases) {
    auto shared = MakeValue(c.SharedType, c.SharedSubType, 0, 2, c.SharedText);
    int wrong = RunTogether([&](int) {
      auto other = MakeValue(c.OtherType, stDefault, 0, 2, c.OtherText);
      int bad = 0;
      for (int i = 0; i < kRounds; ++i) {
        if (shared->Compare(*other, 0, false, BinaryCollation) != c.Expected) ++bad;
        if (other->Compare(*shared, 0, false, BinaryCollation) != -c.Expected &&
            c.SharedType == c.OtherType)
          ++bad;
      }
      return bad;
    });
    EXPECT_EQ(wrong, 0) << c.SharedText << " against " << c.OtherText;
  }
}

// Copying and streaming a shared LOB reads its data without moving anything
// of the source.
TEST(ValueThreads, AssignAndSaveOfOneSharedLob) {
  auto shared = MakeValue(dtLob, stDefault, 0, 0, "00112233445566778899");
  int wrong = RunTogether([&](int) {
    auto copy = MakeValue(dtLob);
    TBRNMemoryStream stream;
    int bad = 0;
    for (int i = 0; i < kRounds; ++i) {
      copy->Assign(*shared);
      if (copy->GetAsString() != "00112233445566778899") ++bad;
      stream.SetPosition(0);
      shared->SaveToStream(stream);
      if (stream.GetPosition() != 1 + 4 + 10) ++bad;
    }
    return bad;
  });
  EXPECT_EQ(wrong, 0);
}

// A const value hands out its LOB stream only for reading.
TEST(ValueThreads, ConstValueGivesAReadOnlyStream) {
  using StreamOfConst = decltype(std::declval<const TBRNValue&>().GetStreamData());
  using AsStreamOfConst = decltype(std::declval<const TBRNValue&>().GetAsStream());
  EXPECT_TRUE(std::is_const_v<std::remove_pointer_t<StreamOfConst>>);
  EXPECT_TRUE(std::is_const_v<std::remove_pointer_t<AsStreamOfConst>>);
}

}  // namespace
}  // namespace brn

#include <gtest/gtest.h>
#include <unicode/uchar.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/code_pages.h"
#include "platform/locale_compare.h"
#include "platform/locale_table.h"

namespace brn {
namespace {

TEST(CodePageTest, SingleBytePagesToUTF16) {
  struct Case {
    uint16_t codePage;
    unsigned char byte;
    char16_t unit;
  };
  const Case cases[] = {
      {1252, 0x80, 0x20AC}, {1252, 0x9F, 0x0178}, {1252, 0x81, 0x0081},  // undefined byte
      {1252, 0xE4, 0x00E4}, {0, 0x80, 0x20AC},                           // the system page
      {1254, 0xDD, 0x0130}, {1254, 0xFD, 0x0131}, {1251, 0xC0, 0x0410},
      {1250, 0x8A, 0x0160}, {1253, 0xC1, 0x0391}, {874, 0xA1, 0x0E01},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.codePage) + " byte " + std::to_string(c.byte));
    char byte = char(c.byte);
    char16_t unit = 0;
    ASSERT_EQ(CodePageToUTF16(c.codePage, &byte, 1, &unit, 1), 1);
    EXPECT_EQ(unit, c.unit);
  }
}

// Bytes a page leaves undefined stay apart from every letter: read as
// Latin-1 letters they would sort as such, and the Hebrew page's undefined
// 0xDB and 0xFB would turn into each other as upper and lower case.
TEST(CodePageTest, UndefinedBytesAreNoLetters) {
  struct Case {
    uint16_t codePage;
    unsigned char byte;
  };
  const Case cases[] = {{1255, 0xDB}, {1255, 0xFB}, {1255, 0xDC}, {1255, 0xFC}, {1255, 0xFF},
                        {1253, 0xD2}, {1253, 0xFF}, {874, 0xFC},  {1252, 0x81}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.codePage) + " byte " + std::to_string(c.byte));
    const SingleByteCodePage* page = FindSingleByteCodePage(c.codePage);
    ASSERT_NE(page, nullptr);
    EXPECT_FALSE(u_isalpha(page->ToUnicode[c.byte]));
    EXPECT_EQ(page->Upper[c.byte], c.byte);
    EXPECT_EQ(page->Lower[c.byte], c.byte);
    EXPECT_EQ(page->FromUnicode(page->ToUnicode[c.byte]), c.byte);
  }
  char mapped[2] = {};
  ASSERT_TRUE(LocaleMapString(0x040D, MapUpperCase, "\xFB\xFC", 2, mapped));  // Hebrew
  EXPECT_EQ(std::string(mapped, 2), "\xFB\xFC");
}

TEST(CodePageTest, MultiBytePagesAndLimits) {
  const std::string text = "a\x83\x41z";  // 'a', katakana a, 'z' in Shift-JIS
  char16_t units[8] = {};
  ASSERT_EQ(CodePageToUTF16(932, text.data(), int32_t(text.size()), units, 8), 3);
  EXPECT_EQ(units[0], u'a');
  EXPECT_EQ(units[1], 0x30A2);
  EXPECT_EQ(units[2], u'z');
  EXPECT_EQ(CodePageToUTF16(1252, "abc", 3, units, 2), -1);
  EXPECT_EQ(CodePageToUTF16(437, "abc", 3, units, 8), -1);
  EXPECT_FALSE(IsKnownCodePage(437));
  EXPECT_TRUE(IsKnownCodePage(950));
}

TEST(LocaleTableTest, EnumerationAndAlternateSorts) {
  std::span<const PlatformLocale> locales = SupportedLocales();
  ASSERT_FALSE(locales.empty());
  for (size_t i = 1; i < locales.size(); ++i) EXPECT_LT(locales[i - 1].Lcid, locales[i].Lcid);
  for (const PlatformLocale& locale : locales) {
    EXPECT_LE(locale.Lcid, 0xFFFFu);
    EXPECT_TRUE(IsKnownCodePage(locale.CodePage)) << locale.Abbreviation;
  }
  const PlatformLocale* phoneBook = FindPlatformLocale(0x10407);
  ASSERT_NE(phoneBook, nullptr);
  EXPECT_STREQ(phoneBook->Abbreviation, "DEU");
  EXPECT_EQ(FindPlatformLocale(0x7F3F), nullptr);
}

TEST(LocaleCompareTest, ResultsAndFailures) {
  EXPECT_EQ(LocaleCompareString(0x0409, SortStringSort, "a", 1, "b", 1), CompareLessThan);
  EXPECT_EQ(LocaleCompareString(0x0409, SortStringSort, "b", 1, "a", 1), CompareGreaterThan);
  EXPECT_EQ(LocaleCompareString(0x0409, NormIgnoreCase, "A", 1, "a", 1), CompareEqual);
  EXPECT_EQ(LocaleCompareString(0x0409, 0, "", 0, "", 0), CompareEqual);
  EXPECT_EQ(LocaleCompareString(0x7F3F, 0, "a", 1, "b", 1), 0);
  EXPECT_EQ(LocaleCompareString(0x0409, 0, "a", -1, "b", 1), 0);
  // Texts longer than the stack buffers.
  std::string long1(5000, 'x'), long2(5000, 'x');
  long2.back() = 'y';
  EXPECT_EQ(LocaleCompareString(0x0409, 0, long1.data(), 5000, long2.data(), 5000),
            CompareLessThan);
  char mapped[2] = {};
  EXPECT_FALSE(LocaleMapString(0x7F3F, MapUpperCase, "ab", 2, mapped));
  EXPECT_FALSE(LocaleMapString(0x0409, MapUpperCase | MapLowerCase, "ab", 2, mapped));
  EXPECT_TRUE(LocaleMapString(0x0409, MapUpperCase, "ab", 2, mapped));
  EXPECT_EQ(std::string(mapped, 2), "AB");
}

// Short texts are converted a word at a time with overlapping tails and
// compared as bytes first: one differing character must decide the order
// wherever it stands, in texts of every length around the word sizes and
// the stack buffers, through the table for bytes a page does not keep.
TEST(LocaleCompareTest, OneDifferenceAtEveryPosition) {
  struct Case {
    const char* what;
    uint32_t lcid, flags;
    char byte1, byte2;
    int32_t expected;
    int32_t withOneMore;  // text2 one character longer: only a letter difference still counts
  };
  const Case cases[] = {
      {"plain letters", 0x0409, 0, 'b', 'c', CompareLessThan, CompareLessThan},
      {"S caron lies beyond ASCII", 0x0409, 0, '\x8A', 'R', CompareGreaterThan, CompareGreaterThan},
      {"German a-umlaut", 0x0407, 0, '\xE4', 'z', CompareLessThan, CompareLessThan},
      {"Swedish a-umlaut", 0x041D, 0, '\xE4', 'z', CompareGreaterThan, CompareGreaterThan},
      // Russian puts its own script first; read as a Latin a grave it would
      // sort after a.
      {"Cyrillic a is no Latin a grave", 0x0419, 0, '\xE0', 'a', CompareLessThan, CompareLessThan},
      {"case ignored", 0x0409, NormIgnoreCase, 'Q', 'q', CompareEqual, CompareLessThan},
      {"case kept", 0x0409, 0, 'Q', 'q', CompareGreaterThan, CompareLessThan},
      {"the same byte", 0x0409, 0, 'x', 'x', CompareEqual, CompareLessThan},
  };
  std::vector<int32_t> lengths;
  for (int32_t n = 1; n <= 40; ++n) lengths.push_back(n);
  for (int32_t n : {255, 256, 257, 300}) lengths.push_back(n);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (int32_t n : lengths) {
      const std::string filler(size_t(n), 'a');
      for (int32_t i = 0; i < n; ++i) {
        std::string text1 = filler, text2 = filler;
        text1[size_t(i)] = c.byte1;
        text2[size_t(i)] = c.byte2;
        ASSERT_EQ(LocaleCompareString(c.lcid, c.flags, text1.data(), n, text2.data(), n),
                  c.expected)
            << "length " << n << " position " << i;
        ASSERT_EQ(LocaleCompareString(c.lcid, c.flags, text2.data(), n, text1.data(), n),
                  2 * CompareEqual - c.expected)
            << "length " << n << " position " << i;
        text2 += 'a';
        ASSERT_EQ(LocaleCompareString(c.lcid, c.flags, text1.data(), n, text2.data(), n + 1),
                  c.withOneMore)
            << "length " << n << " and one more, position " << i;
      }
      const std::string longer = filler + c.byte1;
      ASSERT_EQ(LocaleCompareString(c.lcid, c.flags, filler.data(), n, longer.data(), n + 1),
                CompareLessThan)
          << "length " << n;
    }
  }
}

// The thread remembers the collator it used last; a change of locale or
// flags between calls must never reuse it.
TEST(LocaleCompareTest, AlternatingCollations) {
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(LocaleCompareString(0x0409, 0, "A", 1, "a", 1), CompareGreaterThan);
    EXPECT_EQ(LocaleCompareString(0x0409, NormIgnoreCase, "A", 1, "a", 1), CompareEqual);
    EXPECT_EQ(LocaleCompareString(0x041D, 0, "\xE4", 1, "z", 1), CompareGreaterThan);
    EXPECT_EQ(LocaleCompareString(0x0407, 0, "\xE4", 1, "z", 1), CompareLessThan);
    EXPECT_EQ(LocaleCompareString(0x7F3F, 0, "a", 1, "a", 1), 0);
  }
}

// Collation IDs arrive from files and the wire: a stream of IDs no locale
// has must neither pile up in the thread's collators nor slow down the
// collations that are known.
TEST(LocaleCompareTest, UnknownLocalesAreNotRemembered) {
  const auto start = std::chrono::steady_clock::now();
  for (uint32_t i = 0; i < 200000; ++i) {
    ASSERT_EQ(LocaleCompareString(0x20000 + i, 0, "a", 1, "b", 1), 0);
    ASSERT_EQ(LocaleCompareString(0x0409, 0, "b", 1, "a", 1), CompareGreaterThan);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

// Each thread has collators of its own; results must not depend on which
// thread asks or how many ask at once.
TEST(LocaleCompareTest, ThreadsCompareIndependently) {
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&wrong, t] {
      const uint32_t lcid = t % 2 == 0 ? 0x041D : 0x0407;  // Swedish, German
      const int32_t expected = t % 2 == 0 ? CompareGreaterThan : CompareLessThan;
      for (int i = 0; i < 2000; ++i) {
        if (LocaleCompareString(lcid, SortStringSort, "\xE4", 1, "z", 1) != expected) ++wrong;
        if (LocaleCompareString(0x0409, NormIgnoreCase, "ABC", 3, "abc", 3) != CompareEqual)
          ++wrong;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace brn

#include "foundation/text/collation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/text/environment.h"
#include "platform/locale_compare.h"

namespace brn {
namespace {

constexpr int32_t ENU = 0x0409;
constexpr int32_t DEU = 0x0407;
constexpr int32_t DEP = 0x10407;
constexpr int32_t SVE = 0x041D;
constexpr int32_t ESP = 0x040A;  // traditional sort
constexpr int32_t ESN = 0x0C0A;  // modern sort
constexpr int32_t TRK = 0x041F;
constexpr int32_t RUS = 0x0419;
constexpr int32_t JPN = 0x0411;
constexpr int32_t CI = 1 << CaseInsensitiveBit;
constexpr int32_t AI = 1 << AccentInsensitiveBit;
constexpr int32_t KI = 1 << KanaInsensitiveBit;
constexpr int32_t WI = 1 << WidthInsensitiveBit;
constexpr int32_t UnknownLocale = 0x7F3F;

TEST(CollationTest, BinaryCompare) {
  struct Case {
    std::string a, b;
    bool ignoreCase;
    int32_t partial;
    int32_t expected;
  };
  const std::vector<Case> cases = {
      {"abc", "abc   ", false, 0, 0},
      {"abc  ", "abc", false, 0, 0},
      {"abcx", "abcy", false, 3, 0},
      {"ab", "abc", false, 3, -1},
      {"abc", "ab", false, 3, 1},
      {"abc", "abc  ", false, 5, -1},  // with a partial length blanks count
      {"abd", "abc", false, 2, 0},
      {"abc", "abd", false, 0, -1},
      {"a", "a\t", false, 0, -1},  // only character 32 is a blank
      {"", "   ", false, 0, 0},
      {"\xE9", "z", false, 0, 1},  // unsigned bytes
      {"ABC", "abc", false, 0, -1},
      {"ABC", "abc", true, 0, 0},
      {"\xC9T\xC9", "\xE9t\xE9", true, 0, 0},
      {"\x8A", "\x9A", true, 0, 0},
      {"\x9F", "\xFF", true, 0, 0},
      {"\xDF", "\xDF", true, 0, 0},
      {"Abc", "abd", true, 0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("'" + c.a + "' vs '" + c.b + "' partial " + std::to_string(c.partial));
    EXPECT_EQ(CompareStringsBinary(c.a, c.b, c.partial, c.ignoreCase), c.expected);
    EXPECT_EQ(CompareStringsBinary(c.b, c.a, c.partial, c.ignoreCase), -c.expected);
    // The binary collation takes the same road, its case-insensitive bit
    // standing for the flag; so does a locale the platform cannot compare,
    // after the locale road has already cut the texts.
    EXPECT_EQ(CompareCollated(c.ignoreCase ? CI : 0, c.a, c.b, false, c.partial), c.expected);
    EXPECT_EQ(CompareCollated(UnknownLocale | (c.ignoreCase ? CI : 0), c.a, c.b, false, c.partial),
              c.expected);
  }
}

TEST(CollationTest, BinaryWrappers) {
  EXPECT_TRUE(TextEqualsIgnoreCase("Customers", "CUSTOMERS  "));
  EXPECT_FALSE(TextEqualsIgnoreCase("Customer", "Customers"));
  EXPECT_TRUE(TextEqualsExact("Name ", "Name"));
  EXPECT_FALSE(TextEqualsExact("Name", "name"));
  EXPECT_EQ(CompareTextIgnoreCase("alpha", "BETA"), -1);
  EXPECT_EQ(CompareTextExact("alpha", "BETA"), 1);
}

// The binary case rules agree with the Windows-1252 page's own letters as
// Unicode knows them, for every byte; only the pairs the rules name differ
// from the identity.
TEST(CollationTest, BinaryCaseMappingOfEveryByte) {
  std::string changedUpper, changedLower;
  for (int b = 0; b < 256; ++b) {
    const char c = char(b);
    const std::string one(1, c);
    SCOPED_TRACE(b);
    EXPECT_EQ(UpperChar(c), UpperCaseCollated(ENU, one)[0]);
    EXPECT_EQ(LowerChar(c), LowerCaseCollated(ENU, one)[0]);
    if (UpperChar(c) != c) {
      changedUpper.push_back(c);
      EXPECT_EQ(LowerChar(UpperChar(c)), c);
    }
    if (LowerChar(c) != c) {
      changedLower.push_back(c);
      EXPECT_EQ(UpperChar(LowerChar(c)), c);
    }
  }
  // 26 + 23 + 7 small letters, plus the four outside the runs.
  EXPECT_EQ(changedUpper.size(), 60u);
  EXPECT_EQ(changedLower.size(), 60u);
  EXPECT_EQ(UpperChar('\xFF'), '\x9F');
  EXPECT_EQ(LowerChar('\x9F'), '\xFF');
  EXPECT_EQ(UpperChar('\xDF'), '\xDF');
  EXPECT_EQ(UpperChar('\xF7'), '\xF7');
  EXPECT_EQ(LowerChar('\xD7'), '\xD7');
  EXPECT_EQ(UpperCaseBinary("stra\xDF"
                            "e \xFFn"),
            "STRA\xDF"
            "E \x9FN");
  EXPECT_EQ(LowerCaseBinary("\xC0ND\x8A"), "\xE0nd\x9A");
  EXPECT_EQ(UpperCaseText("mixed Case"), "MIXED CASE");
}

// Facts of the real alphabets that the locale comparison must reproduce.
TEST(CollationTest, LanguageOrders) {
  struct Case {
    const char* what;
    int32_t collation;
    std::string a, b;
    int32_t expected;
  };
  const std::vector<Case> cases = {
      {"Swedish a-umlaut after z", SVE, "\xE4", "z", 1},
      {"German a-umlaut before z", DEU, "\xE4", "z", -1},
      {"traditional Spanish ch after cz", ESP, "ch", "cz", 1},
      {"modern Spanish ch before cz", ESN, "ch", "cz", -1},
      {"phone book without accents", DEP | AI, "M\xFCller", "Mueller", 0},
      {"phone book keeps the accent", DEP, "M\xFCller", "Mueller", 1},
      {"plain German: u-umlaut is no ue", DEU | AI, "M\xFCller", "Mueller", 1},
      {"ANSI_CI", CI, "ABC", "abc", 0},
      {"ANSI_AI is binary", AI, "ABC", "abc", -1},
      {"ANSI_AI keeps accents", AI, "\xE9", "e", 1},
      {"English lower case first", ENU, "abc", "ABC", -1},
      {"English case-insensitive", ENU | CI, "ABC", "abc", 0},
      {"case-insensitive keeps accents", ENU | CI, "resume", "r\xE9sum\xE9", -1},
      {"accent-insensitive", ENU | AI, "resume", "r\xE9sum\xE9", 0},
      {"accent-insensitive keeps case", ENU | AI, "resume", "Resume", -1},
      {"both ignored", ENU | CI | AI, "R\xC9SUM\xC9", "resume", 0},
      {"punctuation counts", ENU, "co-op", "coop", -1},
      {"punctuation counts when all is ignored", ENU | CI | AI, "co-op", "coop", -1},
      {"Russian alphabet", RUS, "\xE0", "\xFF", -1},  // a before ya
      {"Turkish dotless i before i", TRK, "\xFD", "i", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(CompareCollated(c.collation, c.a, c.b), c.expected);
    EXPECT_EQ(CompareCollated(c.collation, c.b, c.a), -c.expected);
  }
}

TEST(CollationTest, IgnoreCaseArgumentAndPartialLengthUnderALocale) {
  EXPECT_EQ(CompareCollated(ENU, "ABC", "abc", true), 0);
  EXPECT_EQ(CompareCollated(ENU, "abcx", "abcy", false, 3), 0);
  EXPECT_EQ(CompareCollated(ENU, "ab", "abc", false, 3), -1);
  EXPECT_EQ(CompareCollated(ENU, "abc", "abcd", false, 0), -1);
  EXPECT_EQ(CompareCollatedChars(ENU, "abcdef", 3, "abcxyz", 3, false, 0), 0);
}

TEST(CollationTest, TrailingBlanksNeverMatterWithoutPartialLength) {
  TBRNEnvironment environment;
  for (const TBRNLocale& locale : environment.Locales) {
    for (int32_t flags : {0, CI, AI, CI | AI, KI | WI}) {
      SCOPED_TRACE(locale.Abbreviation + " flags " + std::to_string(flags));
      EXPECT_EQ(CompareCollated(locale.Id | flags, "abc", "abc   "), 0);
      EXPECT_EQ(CompareCollated(locale.Id | flags, "abc ", "abd"), -1);
    }
  }
}

TEST(CollationTest, AnUncomparableLocaleFallsBackToBinary) {
  EXPECT_EQ(LocaleCompareString(UnknownLocale, SortStringSort, "a", 1, "b", 1), 0);
  EXPECT_EQ(CompareCollated(UnknownLocale, "b", "a"), 1);
  EXPECT_EQ(CompareCollated(UnknownLocale, "A", "a"), -1);
  EXPECT_EQ(CompareCollated(UnknownLocale | CI, "A", "a "), 0);
  EXPECT_EQ(CompareCollated(UnknownLocale, "abcx", "abcy", false, 3), 0);
  // Bits above the flags make an LCID no locale has.
  EXPECT_EQ(CompareCollated(int32_t(0x81000409), "b", "a"), 1);
  EXPECT_EQ(CompareCollated(int32_t(0x81000409), "A", "a"), -1);  // English would give 1
  EXPECT_EQ(CompareCollated(0x0100041F, "\xE4", "z"), 1);
  EXPECT_EQ(UpperCaseCollated(0x0100041F, "i"), "I");  // no Turkish dotted capital
  EXPECT_EQ(UpperCaseCollated(UnknownLocale, "ab\xE9"), "AB\xC9");
}

TEST(CollationTest, KanaAndWidthFolding) {
  const std::string katakanaA = "\x83\x41";       // full-width katakana a
  const std::string hiraganaA = "\x82\xA0";       // hiragana a
  const std::string halfKatakanaA = "\xB1";       // half-width katakana a
  const std::string fullWidthA = "\x82\x60";      // full-width Latin A
  const std::string halfKatakanaGa = "\xB6\xDE";  // ka + voicing mark
  const std::string katakanaGa = "\x83\x4B";
  EXPECT_NE(CompareCollated(JPN, katakanaA, hiraganaA), 0);
  EXPECT_NE(CompareCollated(JPN | CI | AI, katakanaA, hiraganaA), 0);
  EXPECT_EQ(CompareCollated(JPN | KI, katakanaA, hiraganaA), 0);
  EXPECT_NE(CompareCollated(JPN | KI, halfKatakanaA, hiraganaA), 0);
  EXPECT_NE(CompareCollated(JPN, halfKatakanaA, katakanaA), 0);
  EXPECT_EQ(CompareCollated(JPN | WI, halfKatakanaA, katakanaA), 0);
  EXPECT_EQ(CompareCollated(JPN | WI, fullWidthA, "A"), 0);
  EXPECT_EQ(CompareCollated(JPN | WI, halfKatakanaGa, katakanaGa), 0);
  EXPECT_EQ(CompareCollated(JPN | WI | KI, halfKatakanaA, hiraganaA), 0);
}

TEST(CollationTest, CaseMappingUnderALocale) {
  EXPECT_EQ(UpperCaseCollated(TRK, "i"), "\xDD");  // dotted capital I
  EXPECT_EQ(LowerCaseCollated(TRK, "I"), "\xFD");  // dotless small i
  EXPECT_EQ(LowerCaseCollated(TRK, "\xDD"), "i");
  EXPECT_EQ(UpperCaseCollated(TRK | CI, "i"), "\xDD");  // flags do not matter
  EXPECT_EQ(UpperCaseCollated(ENU, "i"), "I");
  EXPECT_EQ(UpperCaseCollated(DEU,
                              "stra\xDF"
                              "e"),
            "STRA\xDF"
            "E");  // same length
  EXPECT_EQ(UpperCaseCollated(RUS, "\xE0\xE1\xFF"), "\xC0\xC1\xDF");
  EXPECT_EQ(LowerCaseCollated(ENU, "\xB5"), "\xB5");  // micro sign has no other case here
  EXPECT_EQ(UpperCaseCollated(JPN, "ab\x82\x81\x83\x41"), "AB\x82\x60\x83\x41");
  EXPECT_EQ(UpperCaseCollated(0, "i"), "I");
}

TEST(CollationTest, ParseCollationName) {
  struct Case {
    std::string name, base;
    bool ci, ai, ki, wi;
  };
  const std::vector<Case> cases = {
      {"enu_ci_ai", "enu", true, true, false, false},
      {"DEP_CI_AI_KI_WI", "DEP", true, true, true, true},
      {"ANSI", "ANSI", false, false, false, false},
      {"ANSI_CI", "ANSI", true, false, false, false},
      {"JPN_WI_KI", "JPN", false, false, true, true},
      {"ENU_AI_CI", "ENU", true, true, false, false},
      {"X_ci_CI", "X", true, false, false, false},
      {"", "", false, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string base = "stale";
    bool ci = true, ai = true, ki = true, wi = true;
    ParseCollationName(c.name, base, ci, ai, ki, wi);
    EXPECT_EQ(base, c.base);
    EXPECT_EQ(ci, c.ci);
    EXPECT_EQ(ai, c.ai);
    EXPECT_EQ(ki, c.ki);
    EXPECT_EQ(wi, c.wi);
  }
}

TEST(CollationTest, LocaleIdsAndBits) {
  EXPECT_EQ(MakeLocaleId(MakeLanguageId(7, 1), 1), DEP);
  EXPECT_EQ(PrimaryLanguageId(ESN), 0x0A);
  EXPECT_EQ(SubLanguageId(ESN), 3);
  int32_t id = DEP | CI | AI | KI | WI | (1 << 24);
  ClearCollationFlags(id);
  EXPECT_EQ(id, DEP | (1 << 24));
  int32_t value = 0;
  IncludeBit(value, 31);
  EXPECT_TRUE(IsBitSet(value, 31));
  EXPECT_EQ(value, INT32_MIN);
  ExcludeBit(value, 31);
  EXPECT_EQ(value, 0);
  EXPECT_THROW(IsBitSet(0, 32), std::out_of_range);
}

TEST(CollationTest, LikePattern) {
  struct Case {
    int32_t collation;
    std::string text, pattern;
    char escape;
    bool expected;
  };
  const std::vector<Case> cases = {
      {0, "abc", "a%", 0, true},
      {0, "abc", "%c", 0, true},
      {0, "abc", "a_c", 0, true},
      {0, "ab", "a_c", 0, false},
      {0, "abc", "a%c", 0, true},
      {0, "abc", "abc", 0, true},
      {0, "abcd", "abc", 0, false},
      {0, "abc", "abcd", 0, false},
      {0, "abcbc", "%bc", 0, true},
      {0, "abcbd", "%bc", 0, false},
      {0, "mississippi", "%iss%ppi", 0, true},
      {0, "mississippi", "m%s_s%i", 0, true},
      {0, "abc", "_", 0, false},
      {0, "a", "_", 0, true},
      {0, "abc", "%_", 0, true},
      // Empty texts and trailing many-wildcards.
      {0, "", "", 0, true},
      {0, "abc", "", 0, false},
      {0, "", "%", 0, true},
      {0, "", "%%", 0, true},
      {0, "", "_", 0, false},
      {0, "a", "a%%", 0, true},
      {0, "abc", "a%%", 0, true},
      {0, "ab", "a%b%%%", 0, true},
      // Escapes.
      {0, "a%c", "a\\%c", '\\', true},
      {0, "abc", "a\\%c", '\\', false},
      {0, "a%", "a\\%", '\\', true},
      {0, "ab", "a\\%", '\\', false},
      {0, "a_c", "a\\_c", '\\', true},
      {0, "abc", "a\\_c", '\\', false},
      {0, "a\\c", "a\\\\c", '\\', true},
      {0, "a\\", "a\\", '\\', true},  // a trailing escape stands for itself
      {0, "ab", "a\\", '\\', false},
      {0, "a\\", "a\\", 0, true},  // character 0 turns escaping off
      {0, "a%c", "a!%c", '!', true},
      // Collations.
      {0, "ABC", "a%", 0, false},
      {CI, "ABC", "a_C", 0, true},
      {ENU, "ABC", "a%", 0, false},
      {ENU | CI, "ABC", "a%", 0, true},
      {ENU | AI, "r\xE9sum\xE9", "resume", 0, true},
      {ENU | AI, "R\xE9sum\xE9", "re%", 0, false},
      {ENU | CI, "A%C", "a\\%c", '\\', true},
      {SVE | CI, "\xC4PPLE", "\xE4%", 0, true},
      // Texts end at their first character 0.
      {0, std::string("ab\0cd", 5), "ab", 0, true},
      {0, "abcd", std::string("ab\0%", 4), 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("'" + c.text + "' LIKE '" + c.pattern + "' collation " +
                 std::to_string(c.collation));
    EXPECT_EQ(MatchLikePattern(c.collation, c.text, c.pattern, '%', '_', c.escape), c.expected);
  }
}

// Patterns that make a backtracking matcher explode must still end quickly.
TEST(CollationTest, LikeMatcherEndsOnHardPatterns) {
  const std::string as(3000, 'a');
  EXPECT_FALSE(MatchLikePattern(0, as, "%a%a%a%a%a%a%a%a%a%a%a%a%b", '%', '_', 0));
  EXPECT_TRUE(MatchLikePattern(0, as + "b", "%a%a%a%a%a%a%a%a%a%a%a%a%b", '%', '_', 0));
  EXPECT_FALSE(MatchLikePattern(ENU | CI, as.substr(0, 300), "%A%A%A%A%A%A%A%A%B", '%', '_', 0));
  EXPECT_FALSE(MatchLikePattern(0, as, "%\\%\\%\\", '%', '_', '\\'));
}

TEST(CollationTest, TrailingWildcardHelpers) {
  struct Case {
    std::string pattern;
    char escape;
    bool onlyTrailing;
    std::string prefix;
    int32_t length;
  };
  const std::vector<Case> cases = {
      {"abc%", 0, true, "abc", 3},
      {"a%c%", 0, false, "a%c", 3},
      {"abc\\%", '\\', false, "abc%", 4},
      {"abc%%", 0, true, "abc", 3},
      {"a%b%%", 0, false, "a%b", 3},
      {"ab\\%", '\\', false, "ab%", 3},
      {"a\\_b%", '\\', true, "a_b", 3},
      {"%", 0, true, "", 0},
      {"", 0, false, "", 0},
      {"abc", 0, false, "abc", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(HasOnlyTrailingWildcard(c.pattern, '%', c.escape), c.onlyTrailing);
    std::string pattern = c.pattern;
    EXPECT_EQ(StripTrailingWildcard(pattern, '%', c.escape), c.length);
    EXPECT_EQ(pattern, c.prefix);
  }
  // The word lists use '*' as their only wildcard.
  std::string word = "qu**";
  EXPECT_TRUE(HasOnlyTrailingWildcard(word, '*', 0));
  EXPECT_EQ(StripTrailingWildcard(word, '*', 0), 2);
  EXPECT_EQ(word, "qu");
}

}  // namespace
}  // namespace brn

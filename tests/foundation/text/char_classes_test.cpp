#include "foundation/text/char_classes.h"

#include <gtest/gtest.h>

#include <string>

namespace brn {
namespace {

std::string members(const TBRNCharSet& set) {
  std::string result;
  for (int c = 0; c < 256; ++c)
    if (set.Contains(static_cast<unsigned char>(c))) result += char(c);
  return result;
}

std::string range(int first, int last) {
  std::string result;
  for (int c = first; c <= last; ++c) result += char(c);
  return result;
}

TEST(CharSetTest, RangesIncludeBothEndsAndNothingWhenReversed) {
  TBRNCharSet all;
  all.IncludeRange(0, 255);
  EXPECT_EQ(members(all), range(0, 255));

  TBRNCharSet reversed;
  reversed.IncludeRange(200, 100);
  EXPECT_EQ(members(reversed), "");

  TBRNCharSet edges;
  edges.Include(0);
  edges.Include(63);
  edges.Include(64);
  edges.Include(255);
  EXPECT_EQ(members(edges), std::string("\0\x3F\x40\xFF", 4));
}

TEST(CharClassesTest, ExactMembers) {
  const std::string extendedLetters =
      "\x83\x8A\x8C\x8E\x9A\x9C\x9E\x9F" + range(192, 214) + range(216, 246) + range(248, 255);
  struct Case {
    const char* name;
    const TBRNCharSet& set;
    std::string expected;
  };
  const Case cases[] = {
      {"DateFormatChars", DateFormatChars, "DMYdmy"},
      {"TimeFormatChars", TimeFormatChars, "HMNSZhmnsz"},
      {"AmPmFormatChars", AmPmFormatChars, "AMPamp"},
      {"BlankChars", BlankChars, range(0, 32)},
      {"IdentifierChars", IdentifierChars,
       " ()-." + range('0', '9') + range('A', 'Z') + "_" + range('a', 'z') + extendedLetters},
      {"IdentifierStartChars", IdentifierStartChars,
       range('A', 'Z') + "_" + range('a', 'z') + extendedLetters},
      {"LowerCaseChars", LowerCaseChars, range('a', 'z') + range(224, 246) + range(248, 254)},
      {"UpperCaseChars", UpperCaseChars, range('A', 'Z') + range(192, 214) + range(216, 222)},
      {"AsciiAlphaNumChars", AsciiAlphaNumChars,
       range('0', '9') + range('A', 'Z') + range('a', 'z')},
      {"DigitChars", DigitChars, range('0', '9')},
      {"LetterChars", LetterChars, range('A', 'Z') + range('a', 'z') + extendedLetters},
      {"LineBreakChars", LineBreakChars, "\n\r"},
      {"ExponentChars", ExponentChars, "Ee"},
      {"SignChars", SignChars, "+-"},
      {"FormatSpecifierChars", FormatSpecifierChars, "Ss"},
      {"CommaTextDelimiters", CommaTextDelimiters, range(0, 32) + ","},
  };
  for (const Case& c : cases) EXPECT_EQ(members(c.set), c.expected) << c.name;
}

TEST(CharClassesTest, WordSeparatorsAreExactlyTheBytesThatAreNeitherLettersNorDigits) {
  for (int c = 0; c < 256; ++c) {
    auto ch = static_cast<unsigned char>(c);
    int classes =
        LetterChars.Contains(ch) + DigitChars.Contains(ch) + WordSeparatorChars.Contains(ch);
    EXPECT_EQ(classes, 1) << "byte " << c;
  }
}

}  // namespace
}  // namespace brn

#include "foundation/text/identifiers.h"

#include <gtest/gtest.h>

namespace brn {
namespace {

TEST(Identifiers, Validation) {
  struct Case {
    const char* name;
    bool valid;
  };
  const Case cases[] = {
      {"_a b", true},
      {"Customer.Name (old)-2", true},  // blanks, ".", "(", ")" and "-" inside
      {"\xC9t\xE9", true},              // Windows-1252 letters
      {"x", true},
      {"", false},
      {"1ab", false},
      {"a#b", false},
      {" a", false},  // may not start with a blank
      {"-a", false},
      {"a\xD7"
       "b",
       false},  // the multiplication sign is no letter
  };
  for (const Case& c : cases) EXPECT_EQ(IsValidIdentifier(c.name), c.valid) << c.name;
  EXPECT_FALSE(IsValidIdentifier(std::string_view("a\0b", 3)));  // a zero is no end
}

TEST(Identifiers, MakeIdentifierReplacesInvalidCharacters) {
  struct Case {
    const char* name;
    const char* made;
  };
  const Case cases[] = {
      {"1a#b", "_a_b"}, {"", ""}, {"abc", "abc"}, {"a b-c", "a b-c"}, {" x", "_x"}, {"#", "_"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MakeIdentifier(c.name), c.made) << c.name;
    if (*c.made) {
      EXPECT_TRUE(IsValidIdentifier(MakeIdentifier(c.name))) << c.name;
    }
  }
}

TEST(Identifiers, CharacterTests) {
  EXPECT_TRUE(IsIdentStartChar('_'));
  EXPECT_TRUE(IsIdentStartChar('\xFF'));
  EXPECT_FALSE(IsIdentStartChar('1'));
  EXPECT_TRUE(IsAlphaNumChar('1'));
  EXPECT_TRUE(IsAlphaNumChar('z'));
  EXPECT_FALSE(IsAlphaNumChar('-'));
  EXPECT_TRUE(IsBlankChar('\0'));
  EXPECT_TRUE(IsBlankChar(' '));
  EXPECT_FALSE(IsBlankChar('\xA0'));
  EXPECT_TRUE(IsLineBreakChar('\r'));
  EXPECT_FALSE(IsLineBreakChar('\t'));
  EXPECT_TRUE(IsSignChar('+'));
  EXPECT_TRUE(IsExponentChar('e'));
  EXPECT_FALSE(IsExponentChar('d'));
  EXPECT_TRUE(IsDigitChar('9'));
  EXPECT_FALSE(IsDigitChar('a'));
}

}  // namespace
}  // namespace brn

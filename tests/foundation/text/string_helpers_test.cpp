#include "foundation/text/string_helpers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/text/char_classes.h"

namespace brn {
namespace {

TEST(FormatTextTest, Placeholders) {
  struct Case {
    const char* pattern;
    std::vector<std::string> args;
    const char* expected;
  };
  const Case cases[] = {
      {"Table %s not found in %s", {"a", "b"}, "Table a not found in b"},
      {"%S and %s", {"x", "y"}, "x and y"},
      {"100%", {}, "100%"},
      {"%d%", {"a"}, "%d%"},
      {"%%s", {"a"}, "%a"},
      // Inserted text is never scanned again.
      {"[%s] [%s]", {"%s", "b"}, "[%s] [b]"},
      // Placeholders without an argument stay as they are.
      {"%s, %s and %s", {"a"}, "a, %s and %s"},
      {"", {"a"}, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatText(c.pattern, c.args), c.expected) << c.pattern;
  EXPECT_EQ(FormatText("Column %s of %s", {"c", "t"}), "Column c of t");
}

TEST(QuotingTest, QuoteDoubleAndUndouble) {
  EXPECT_EQ(QuoteString("O'Brien", '\''), "'O''Brien'");
  EXPECT_EQ(QuoteString("", '\''), "''");
  EXPECT_EQ(QuoteString("a\"b", '"'), "\"a\"\"b\"");
  EXPECT_EQ(DoubleChar('x', "xaxx"), "xxaxxxx");

  struct Case {
    const char* text;
    const char* expected;
  };
  const Case undouble[] = {{"a''b", "a'b"}, {"'''", "''"}, {"''''", "''"},
                           {"'a'", "'a'"},  {"", ""},      {"''x'''", "'x''"}};
  for (const Case& c : undouble) EXPECT_EQ(UndoubleChar('\'', c.text), c.expected) << c.text;
}

TEST(QuotingTest, XmlEntitiesHaveNoSemicolon) {
  EXPECT_EQ(EscapeXML("a<b&c"), "a&ltb&ampc");
  EXPECT_EQ(EscapeXML("\"'>"), "&quot&apos&gt");
  struct Case {
    const char* text;
    const char* expected;
  };
  const Case cases[] = {{"&ltx&gt", "<x>"},       {"&lt;", "<;"}, {"&amp&amp", "&&"},
                        {"&unknown", "&unknown"}, {"&", "&"},     {"&quot&apos", "\"'"},
                        {"&am", "&am"},           {"&&lt", "&<"}};
  for (const Case& c : cases) EXPECT_EQ(UnescapeXML(c.text), c.expected) << c.text;
  const std::string all = "<a href=\"x\">Tom & Jerry's</a>&lt";
  EXPECT_EQ(UnescapeXML(EscapeXML(all)), all);
}

TEST(StringHelpersTest, Searching) {
  EXPECT_EQ(TextPos("lo", "hello lo"), 4);
  EXPECT_EQ(TextPos("x", "hello"), 0);
  EXPECT_EQ(TextPos("", "hello"), 0);
  EXPECT_EQ(LastPos("lo", "hello lo"), 7);
  EXPECT_EQ(LastPos("LO", "hello"), 0);
  EXPECT_EQ(CountOccurrences("aa", "aaaaa"), 2);
  EXPECT_EQ(CountOccurrences("", "aaa"), 0);
  EXPECT_EQ(TrimmedLength("ab \t  "), 4);
  EXPECT_EQ(TrimmedCount("   ", 3), 0);
  EXPECT_EQ(ChooseText(false, "a", "b"), "b");
}

TEST(StringHelpersTest, PaddingAndTrimming) {
  EXPECT_EQ(PadOrCut("abc", 5, '*'), "**abc");
  EXPECT_EQ(PadOrCut("abcdef", 3, '*'), "abc");
  EXPECT_EQ(PadWithZeros("42", 5), "00042");
  EXPECT_EQ(PadWithZeros("123456", 3), "123456");
  EXPECT_EQ(PadDecimals("1.5", 3, '.'), "1.500");
  EXPECT_EQ(PadDecimals("1.5.25", 2, '.'), "1.5.25");
  EXPECT_EQ(PadDecimals("1.12345", 2, '.'), "1.12345");
  EXPECT_EQ(PadDecimals("7", 2, ','), "7,00");
  EXPECT_EQ(RightChars("abcdef", 2), "ef");
  EXPECT_EQ(RightChars("abc", 10), "abc");
  EXPECT_EQ(RepeatString("ab", 3), "ababab");
  EXPECT_EQ(RepeatString("ab", 0), "");

  struct Case {
    std::string (*trim)(std::string_view, char);
    const char* text;
    const char* expected;
  };
  const Case trims[] = {{TrimLeadingChar, "xxaxx", "axx"}, {TrimTrailingChar, "xxaxx", "xxa"},
                        {TrimChar, "xxaxx", "a"},          {TrimChar, "xxx", ""},
                        {TrimLeadingChar, "", ""},         {TrimTrailingChar, "a", "a"}};
  for (const Case& c : trims) EXPECT_EQ(c.trim(c.text, 'x'), c.expected) << c.text;

  EXPECT_EQ(TrimTrailingBlanks(" a \t\r\n"), " a");
  EXPECT_EQ(TrimBlanks(std::string("\0 a b \x1F", 7)), "a b");
  EXPECT_EQ(TrimBlanks("   "), "");
  const std::string_view padded = " \ta b\r\n";
  EXPECT_EQ(TrimBlanksView(padded), "a b");
  EXPECT_EQ(TrimBlanksView(padded).data(), padded.data() + 2);  // a view into the text
  EXPECT_EQ(TrimTrailingText("SELECT 1\r\n\r\n", "\r\n"), "SELECT 1");
  EXPECT_EQ(TrimTrailingText("xxx", "x"), "");
  EXPECT_EQ(TrimTrailingText("abab", ""), "abab");
  EXPECT_EQ(StripLeadingZeros("000"), "0");
  EXPECT_EQ(StripLeadingZeros("0012"), "12");
  EXPECT_EQ(StripLeadingZeros(""), "");
}

TEST(StringHelpersTest, ReplacingAndSplitting) {
  EXPECT_EQ(ReplaceAllText("aXbxc", "x", "--", true), "a--b--c");
  EXPECT_EQ(ReplaceAllText("aXbxc", "x", "--", false), "aXb--c");
  EXPECT_EQ(ReplaceAllText("\xE4\xC4", "\xC4", "A", true), "AA");
  EXPECT_EQ(ReplaceAllText("aaa", "aa", "a", false), "aa");
  EXPECT_EQ(ReplaceAllText("abc", "", "x", false), "abc");
  EXPECT_EQ(ReplaceAt("hello world", "world", 7, "there"), "hello there");
  EXPECT_EQ(ReplaceAt("abc", "bc", 2, ""), "a");

  std::string rest = "a=b=c";
  std::string head;
  SplitFirst(rest, "=", head);
  EXPECT_EQ(head, "a");
  EXPECT_EQ(rest, "b=c");
  rest = "abc";
  SplitFirst(rest, "::", head);
  EXPECT_EQ(head, "abc");
  EXPECT_EQ(rest, "");

  EXPECT_EQ(CapitalizeWords("hello big-world \xFFne 3rd"), "Hello Big-World \x9Fne 3rd");
  const std::vector<std::string> lines = {"a", "", "b"};
  EXPECT_EQ(JoinLines(lines), "a\r\n\r\nb");
}

TEST(WrapLinesTest, BreaksAtTheLastBreakCharacter) {
  TBRNCharSet blankOrComma;
  blankOrComma.Include(' ');
  blankOrComma.Include(',');
  struct Case {
    const char* text;
    int32_t width;
    bool force;
    const char* expected;
  };
  const Case cases[] = {
      {"aaaa bbbb cccc", 10, false, "aaaa bbbb|cccc"},
      {"aaaa,bbbb,cccc", 10, false, "aaaa,bbbb|cccc"},
      {"aaaaa bbb", 5, false, "aaaaa|bbb"},
      // A blank arriving at the width gives way to the earlier one.
      {"aa bb cc dd ee", 5, false, "aa|bb cc|dd ee"},
      {"aaaa\nbbbb cc", 5, false, "aaaa\nbbbb|cc"},
      {"abcdefghijkl", 5, false, "abcdefghijkl"},
      {"abcdefghijkl", 5, true, "abcdef|ghijkl|"},
      {"short", 80, false, "short"},
  };
  for (const Case& c : cases) {
    std::string result;
    WrapLines(c.text, "|", blankOrComma, result, c.force, c.width);
    EXPECT_EQ(result, c.expected) << c.text;
  }
}

TEST(QualifiedNameTest, Build) {
  struct Case {
    const char* database;
    const char* schema;
    const char* object;
    const char* column;
    const char* expected;
  };
  const Case cases[] = {
      {"", "Default", "t", "c", "t.c"},     {"d", "Default", "t", "c", "d.Default.t.c"},
      {"d", "", "t", "c", "d.Default.t.c"}, {"", "sales", "t", "c", "sales.t.c"},
      {"", "DEFAULT", "t", "c", "t.c"},     {"", "", "t", "", "t."},
      {"d", "s", "t", "", "d.s.t."},        {"d", "", "t", "", "d.Default.t."},
  };
  for (const Case& c : cases) {
    std::string result;
    BuildQualifiedName(c.database, c.schema, c.object, result, "Default", c.column);
    EXPECT_EQ(result, c.expected) << c.expected;
  }
}

// A built name splits back with every part in its place, also without a
// column: the trailing "." keeps the table in the qualifier's place.
TEST(QualifiedNameTest, BuiltNamesSplitBackIntoTheirParts) {
  struct Case {
    const char* database;
    const char* schema;
    const char* table;
    const char* column;
  };
  const Case cases[] = {{"d", "s", "t", "c"}, {"d", "s", "t", ""}, {"", "s", "t", ""}};
  for (const Case& c : cases) {
    std::string name;
    BuildQualifiedName(c.database, c.schema, c.table, name, "Default", c.column);
    std::string database, schema, objectName, qualifier;
    SplitQualifiedName(name, database, schema, objectName, qualifier);
    EXPECT_EQ(database, c.database) << name;
    EXPECT_EQ(schema, c.schema) << name;
    EXPECT_EQ(qualifier, c.table) << name;
    EXPECT_EQ(objectName, c.column) << name;
  }
}

TEST(QualifiedNameTest, SplitAssignsFromTheRight) {
  struct Case {
    const char* name;
    const char* database;
    const char* schema;
    const char* qualifier;
    const char* object;
  };
  const Case cases[] = {
      {"db.sch.tbl.col", "db", "sch", "tbl", "col"},
      {"sch.tbl.col", "", "sch", "tbl", "col"},
      {"tbl.col", "", "", "tbl", "col"},
      {"col", "", "", "", "col"},
      {"", "", "", "", ""},
      {"a..c", "", "a", "", "c"},
      {"a.b.c.d.e", "a", "b", "c", "d.e"},
  };
  for (const Case& c : cases) {
    std::string database = "?", schema = "?", object = "?", qualifier = "?";
    SplitQualifiedName(c.name, database, schema, object, qualifier);
    EXPECT_EQ(database, c.database) << c.name;
    EXPECT_EQ(schema, c.schema) << c.name;
    EXPECT_EQ(qualifier, c.qualifier) << c.name;
    EXPECT_EQ(object, c.object) << c.name;
  }
}

TEST(MatchWildcardTest, Cases) {
  struct Case {
    const char* text;
    const char* pattern;
    bool caseSensitive;
    bool expected;
  };
  const Case cases[] = {
      {"data.txt", "*.txt", false, true},
      {"DATA.TXT", "*.txt", false, true},
      {"DATA.TXT", "*.txt", true, false},
      {"192.168.1.5", "192.168.*", true, true},
      {"192.168.1.5", "10.*", true, false},
      {"abc", "a*c", true, true},
      {"abc", "*", true, true},
      {"abc", "abc*", true, true},
      {"abc", "ab", true, false},
      {"ab", "abc", true, false},
      {"", "", true, true},
      {"", "*", true, true},
      {"", "**", true, true},
      {"ab", "ab**", true, true},
      {"abcbcd", "a*bcd", true, true},
      {"abcbce", "a*bcd", true, false},
      {"aXbXc", "*X*X*", true, true},
      {"\xE4.TXT", "\xC4.txt", false, true},
      {"a", "", true, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MatchWildcard(c.text, c.pattern, c.caseSensitive), c.expected)
        << c.text << " / " << c.pattern;
}

TEST(MatchWildcardTest, HostilePatternEndsQuickly) {
  const std::string text(20000, 'a');
  const std::string pattern = "*a*a*a*a*a*a*a*a*a*a*b";
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(MatchWildcard(text, pattern, false));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(UtilitiesTest, GuidText) {
  const std::string a = NewGUIDString();
  const std::string b = NewGUIDString();
  EXPECT_NE(a, b);
  ASSERT_EQ(a.size(), 38u);
  for (size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (i == 0)
      EXPECT_EQ(c, '{');
    else if (i == 37)
      EXPECT_EQ(c, '}');
    else if (i == 9 || i == 14 || i == 19 || i == 24)
      EXPECT_EQ(c, '-');
    else
      EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << a;
  }
  EXPECT_EQ(a[15], '4');  // a random GUID
}

TEST(UtilitiesTest, UnicodeSniffing) {
  const uint8_t bom[] = {0xFF, 0xFE, 'a', 0};
  const uint8_t wide[] = {'a', 0};
  const uint8_t plain[] = {'a', 'b', 0};
  const uint8_t one[] = {0};
  EXPECT_TRUE(HasUnicodeBOM(bom));
  EXPECT_FALSE(HasUnicodeBOM(wide));
  EXPECT_TRUE(LooksLikeUnicode(wide));
  EXPECT_FALSE(LooksLikeUnicode(plain));
  EXPECT_FALSE(LooksLikeUnicode(one));
  EXPECT_FALSE(HasUnicodeBOM(std::span<const uint8_t>()));
}

}  // namespace
}  // namespace brn

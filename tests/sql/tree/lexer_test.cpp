#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "sql/tree/lexer.h"

namespace brn {
namespace {

// What the lexer knew when it reported a missing character.
struct LexError {
  char Missing;
  int32_t TokenStart;
  int32_t Line;
  int32_t Column;
  bool AtEnd;
};

class TestLexer : public TBRNExprLexer {
 public:
  bool ReturnFromError = false;

 protected:
  void ExpectedChar(char C) override {
    if (ReturnFromError) return;
    throw LexError{C, TokenStart, Line, TokenColumn(), TokenAtEnd()};
  }
};

struct Tok {
  int Kind;
  std::string Text;
  int32_t Line;
  int32_t Column;
  bool operator==(const Tok&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Tok& t) {
  return out << "{" << t.Kind << ", \"" << t.Text << "\", " << t.Line << ", " << t.Column << "}";
}

// Every token of text up to and including the end-of-text token.
std::vector<Tok> scanAll(std::string_view text) {
  TestLexer lexer;
  lexer.BeginScan(text);
  std::vector<Tok> tokens;
  for (int guard = 0; guard < 1000; ++guard) {
    int kind = lexer.NextToken();
    tokens.push_back({kind, lexer.TokenText(), lexer.TokenLine, lexer.TokenColumn()});
    if (kind == ttEndOfText) break;
  }
  return tokens;
}

struct LexCase {
  const char* Name;
  std::string Input;
  std::vector<Tok> Expected;
};

TEST(Lexer, ScansEveryTokenForm) {
  const LexCase cases[] = {
      {"keywords and quoted names",
       "select SELECT \"SELECT\"",
       {{1, "select", 1, 1}, {1, "SELECT", 1, 8}, {4, "SELECT", 1, 15}, {0, "", 1, 22}}},
      {"doubled apostrophe", "'it''s' ''''", {{3, "it's", 1, 1}, {3, "'", 1, 9}, {0, "", 1, 12}}},
      {"string over CR LF", "'a\r\nb' x", {{3, "a\r\nb", 1, 1}, {1, "x", 2, 4}, {0, "", 2, 4}}},
      {"string over lone LF", "'a\nb'\ny", {{3, "a\nb", 1, 1}, {1, "y", 3, 1}, {0, "", 3, 1}}},
      {"byte literals",
       "X'1F' x'ab' x''",
       {{8, "1F", 1, 2}, {8, "ab", 1, 8}, {8, "", 1, 14}, {0, "", 1, 15}}},
      {"X without apostrophe",
       "Xray X 'a'",
       {{1, "Xray", 1, 1}, {1, "X", 1, 6}, {3, "a", 1, 8}, {0, "", 1, 10}}},
      {"doubled double quote", "\"a\"\"b\"", {{4, "a\"b", 1, 1}, {0, "", 1, 6}}},
      {"line comment after a name",
       "a--comment\nb",
       {{1, "a", 1, 1}, {1, "b", 2, 1}, {0, "", 2, 1}}},
      {"two minus tokens", "- -", {{45, "-", 1, 1}, {45, "-", 1, 3}, {0, "", 1, 3}}},
      {"comments do not nest",
       "/* x /* y */ z */",
       {{1, "z", 1, 14}, {42, "*", 1, 16}, {47, "/", 1, 17}, {0, "", 1, 17}}},
      {"block comment over lines", "/*\r\n\r\n*/q", {{1, "q", 3, 3}, {0, "", 3, 3}}},
      {"numbers",
       "1.2.3 .5 5. 12 1e5 1.5E-3 2e+7 1-2",
       {{7, "1.2.3", 1, 1},
        {7, ".5", 1, 7},
        {7, "5.", 1, 10},
        {6, "12", 1, 13},
        {7, "1e5", 1, 16},
        {7, "1.5E-3", 1, 20},
        {7, "2e+7", 1, 27},
        {6, "1", 1, 32},
        {45, "-", 1, 33},
        {6, "2", 1, 34},
        {0, "", 1, 34}}},
      {"a second dot ends a leading-dot number",
       ".5.5 .x",
       {{7, ".5", 1, 1}, {7, ".5", 1, 3}, {46, ".", 1, 6}, {1, "x", 1, 7}, {0, "", 1, 7}}},
      {"character code", "#65 #", {{5, "#65", 1, 1}, {5, "#", 1, 5}, {0, "", 1, 5}}},
      {"only blanks and comments", "  -- only\r\n/* c */  \t", {{0, "", 2, 10}}},
      {"empty text", "", {{0, "", 1, 1}}},
      {"CR LF lines",
       "a\r\nb\r\nc",
       {{1, "a", 1, 1}, {1, "b", 2, 1}, {1, "c", 3, 1}, {0, "", 3, 1}}},
      {"lone CR lines",
       "a\rb\r  c",
       {{1, "a", 1, 1}, {1, "b", 2, 1}, {1, "c", 3, 3}, {0, "", 3, 3}}},
      {"lone LF lines", "a\nb\nc", {{1, "a", 1, 1}, {1, "b", 2, 1}, {1, "c", 3, 1}, {0, "", 3, 1}}},
      {"LF CR is two breaks", "a\n\rb", {{1, "a", 1, 1}, {1, "b", 3, 1}, {0, "", 3, 1}}},
      {"end after a final line break", "abc\n", {{1, "abc", 1, 1}, {0, "", 2, 1}}},
      {"single characters",
       "(a,b)*?;",
       {{40, "(", 1, 1},
        {1, "a", 1, 2},
        {44, ",", 1, 3},
        {1, "b", 1, 4},
        {41, ")", 1, 5},
        {42, "*", 1, 6},
        {63, "?", 1, 7},
        {59, ";", 1, 8},
        {0, "", 1, 8}}},
      {"qualified name",
       "t.c_1",
       {{1, "t", 1, 1}, {46, ".", 1, 2}, {1, "c_1", 1, 3}, {0, "", 1, 5}}},
      {"Windows-1252 letters",
       "\xC4rger _x\xE9",
       {{1, "\xC4rger", 1, 1}, {1, "_x\xE9", 1, 7}, {0, "", 1, 9}}},
      {"digits then letters", "12ab", {{6, "12", 1, 1}, {1, "ab", 1, 3}, {0, "", 1, 4}}},
  };
  for (const LexCase& c : cases) EXPECT_EQ(scanAll(c.Input), c.Expected) << c.Name;
}

TEST(Lexer, SourceTextKeepsDelimitersAndDoubling) {
  TestLexer lexer;
  lexer.BeginScan(" 'it''s' \"a\"\"b\" X'0A'");
  const std::pair<std::string, std::string> expected[] = {
      {"'it''s'", "it's"}, {"\"a\"\"b\"", "a\"b"}, {"'0A'", "0A"}};
  for (const auto& [source, text] : expected) {
    lexer.NextToken();
    EXPECT_EQ(lexer.TokenSourceText(), source);
    EXPECT_EQ(lexer.TokenText(), text);
  }
}

// Keyword tests read the token where it stands in the text: the whole token
// must match, letters (also Windows-1252 ones) in either case, and trailing
// blanks of the word are ignored as in every other text comparison.
TEST(Lexer, KeywordTestsMatchTheWholeTokenIgnoringCase) {
  struct KeywordCase {
    const char* Text;
    const char* Word;
    bool Matches;
  };
  const KeywordCase cases[] = {
      {"select", "SELECT", true},   {"SeLeCt x", "select", true}, {"selects", "SELECT", false},
      {"sel", "SELECT", false},     {"selext", "SELECT", false},  {"\xE4rger", "\xC4RGER", true},
      {"\xFF", "\x9F", true},       {"a_1", "A_1", true},         {"order", "ORDER ", true},
      {"order", "ORDER  X", false}, {"order", "", false},         {"\"order\"", "ORDER", false},
      {"'order'", "ORDER", false},  {"x'0A'", "X", false},
  };
  for (const KeywordCase& c : cases) {
    TestLexer lexer;
    lexer.BeginScan(c.Text);
    lexer.NextToken();
    EXPECT_EQ(lexer.IsKeyword(c.Word), c.Matches) << c.Text << " / " << c.Word;
  }
}

// Quoted identifiers undouble apostrophes and double quotes, strings only
// apostrophes; a token without either is its plain source text.
TEST(Lexer, TokenTextUndoublesOnlyWhatTheKindDoubles) {
  const std::pair<std::string, std::string> cases[] = {
      {R"("a''b""c")", R"(a'b"c)"}, {R"("''''""""")", R"(''"")"}, {R"('a""b')", R"(a""b)"},
      {R"('''"')", R"('")"},        {R"("plain")", "plain"},      {"''", ""},
      {"plain_1", "plain_1"},
  };
  for (const auto& [text, expected] : cases) {
    TestLexer lexer;
    lexer.BeginScan(text);
    lexer.NextToken();
    EXPECT_EQ(lexer.TokenText(), expected) << text;
  }
}

struct ErrorCase {
  const char* Name;
  std::string Input;
  char Missing;
  int32_t TokenStart;
  int32_t Line;
  int32_t Column;
  bool AtEnd;
};

TEST(Lexer, ReportsMissingTerminators) {
  const ErrorCase cases[] = {
      {"string", "a 'abc", '\'', 7, 1, 6, true},
      {"string over lines", "'ab\ncd", '\'', 7, 2, 2, true},
      {"quoted identifier", "\"abc", '"', 5, 1, 4, true},
      {"byte literal", "x'1F", '\'', 5, 1, 4, true},
      {"comment", "/* a\r\n b", '/', 9, 2, 2, true},
      {"comment at the very end", "a /*", '/', 5, 1, 4, true},
      {"line break in quoted identifier", "a\n\n\"ab\ncd\"", '"', 7, 3, 4, false},
      {"CR in quoted identifier", "\"a\r\"", '"', 3, 1, 3, false},
  };
  for (const ErrorCase& c : cases) {
    TestLexer lexer;
    lexer.BeginScan(c.Input);
    try {
      while (lexer.NextToken() != ttEndOfText) {
      }
      ADD_FAILURE() << c.Name << ": no error";
    } catch (const LexError& e) {
      EXPECT_EQ(e.Missing, c.Missing) << c.Name;
      EXPECT_EQ(e.TokenStart, c.TokenStart) << c.Name;
      EXPECT_EQ(e.Line, c.Line) << c.Name;
      EXPECT_EQ(e.Column, c.Column) << c.Name;
      EXPECT_EQ(e.AtEnd, c.AtEnd) << c.Name;
    }
  }
}

TEST(Lexer, AnErrorReportThatReturnsIsRefused) {
  TestLexer lexer;
  lexer.ReturnFromError = true;
  lexer.BeginScan("'open");
  EXPECT_THROW(lexer.NextToken(), std::logic_error);
}

TEST(Lexer, KeywordsAndLookups) {
  TestLexer lexer;
  lexer.BeginScan("select \"SELECT\" ltrim \"CEIL\" 'ABS' set table");
  lexer.NextToken();
  EXPECT_TRUE(lexer.IsKeyword("SELECT"));
  EXPECT_TRUE(lexer.IsIdentifierToken());
  EXPECT_EQ(lexer.LookupStatement(), opSelect);
  EXPECT_EQ(lexer.LookupFunction(), opNone);
  lexer.NextToken();  // a quoted identifier is never a keyword, but is looked up
  EXPECT_FALSE(lexer.IsKeyword("SELECT"));
  EXPECT_TRUE(lexer.IsIdentifierToken());
  EXPECT_EQ(lexer.LookupStatement(), opSelect);
  lexer.NextToken();
  EXPECT_EQ(lexer.LookupFunction(), opTrimLeading);
  lexer.NextToken();
  EXPECT_EQ(lexer.LookupFunction(), opCeiling);
  lexer.NextToken();
  EXPECT_TRUE(lexer.IsStringToken());
  EXPECT_FALSE(lexer.IsKeyword("ABS"));
  EXPECT_EQ(lexer.LookupFunction(), opNone);
  lexer.NextToken();
  EXPECT_EQ(lexer.LookupStatement(), opSet);
  EXPECT_EQ(lexer.LookupRoutineStatement(), opSetVariable);
  lexer.NextToken();
  EXPECT_EQ(lexer.LookupStatement(), opSelect);
  EXPECT_EQ(lexer.LookupRoutineStatement(), opNone);
}

TEST(Lexer, SavedStateRestoresTheCurrentToken) {
  TestLexer lexer;
  lexer.BeginScan("a\r\nb c");
  lexer.NextToken();
  TBRNScanState saved = lexer.SaveState();
  lexer.NextToken();
  EXPECT_EQ(lexer.TokenText(), "b");
  EXPECT_EQ(lexer.Line, 2);
  lexer.RestoreState(saved);
  EXPECT_EQ(lexer.TokenText(), "a");
  EXPECT_EQ(lexer.Line, 1);
  EXPECT_EQ(lexer.NextToken(), ttIdentifier);
  EXPECT_EQ(lexer.TokenText(), "b");
  EXPECT_EQ(lexer.TokenColumn(), 1);
}

}  // namespace
}  // namespace brn

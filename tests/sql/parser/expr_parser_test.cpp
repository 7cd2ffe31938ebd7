#include "sql/parser/expr_parser.h"

#include <gtest/gtest.h>

#include <string>

#include "foundation/test_support.h"
#include "sql/test_owner.h"
#include "sql/tree/expr_token.h"

namespace brn {
namespace {

using testing::CaughtError;
using testing::TestOwner;
using testing::TestParseMode;

const std::string kVerbs =
    "SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, DROP, GRANT, REVOKE, BACKUP, RESTORE, "
    "COMPARE, SET BACKUPS, MIGRATE, REPAIR, VERIFY, OPTIMIZE, IMPORT, EXPORT, DISCONNECT, "
    "REMOVE, PUBLISH, UNPUBLISH, SAVE, LOAD, SET UPDATES, COPY FILE, RENAME FILE, DELETE FILE";

// A parser with two small statements installed in its dispatch table, the
// way the statement grammar installs its methods:
//   SELECT expression [, expression]...   (each item keeps its source text)
//   DELETE FROM name
class TestGrammarParser : public TBRNExprParser {
 public:
  TestGrammarParser() {
    StatementParsers[opSelect - FirstStatementCode] =
        static_cast<TBRNParseMethod>(&TestGrammarParser::ParseTestSelect);
    StatementParsers[opDelete - FirstStatementCode] =
        static_cast<TBRNParseMethod>(&TestGrammarParser::ParseTestDelete);
    // A verb without grammar, whatever the real grammar installs.
    StatementParsers[opUpdate - FirstStatementCode] = nullptr;
  }

  TBRNExprToken* ParseTestSelect(TBRNParseFlags Flags) {
    TBRNParsedTree statement(NewNode(tkStatement, opSelect));
    NextToken();
    do {
      TBRNParsedTree item(NewNode(tkSelectItem, opNone));
      BeginCapture();
      item->AddArgument(ParseDisjunction(Flags));
      item->Text = EndCapture();
      statement->AddArgument(item.Release());
    } while (AcceptToken(','));
    return statement.Release();
  }

  TBRNExprToken* ParseTestDelete(TBRNParseFlags) {
    TBRNParsedTree statement(NewNode(tkStatement, opDelete));
    NextToken();
    ExpectKeyword("FROM");
    if (!IsIdentifierToken()) Expected("table name");
    TBRNExprToken* target = NewNode(tkTableReference, opNone);
    target->Name = TokenText();
    statement->AddArgument(target);
    NextToken();
    return statement.Release();
  }
};

struct ParserFixture : ::testing::Test {
  TestGrammarParser grammar;

  std::unique_ptr<TestOwner> owner(TestParseMode mode, TBRNParseFlags flags = 0) {
    auto o = std::make_unique<TestOwner>(testing::TestCatalog::Sample(), mode, flags);
    o->Parser = &grammar;
    return o;
  }
};

struct ErrorCase {
  const char* text;
  TBRNParseFlags flags;
  const char* message;  // empty: the text parses
  int32_t line;
  int32_t column;
};

void checkParseErrors(ParserFixture& fixture, TestParseMode mode,
                      const std::vector<ErrorCase>& cases) {
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.text);
    auto o = fixture.owner(mode, c.flags);
    o->SetText(c.text);
    if (std::string(c.message).empty()) {
      EXPECT_NO_THROW(o->Compile());
      EXPECT_NE(o->Root, nullptr);
      continue;
    }
    EBRNException error = CaughtError([&] { o->Compile(); });
    EXPECT_EQ(error.ErrorCode, 700);
    EXPECT_EQ(error.ErrorMessage, "An error was found in the expression at line " +
                                      std::to_string(c.line) + " and column " +
                                      std::to_string(c.column) + " (" + c.message + ")");
    EXPECT_EQ(error.ErrorLine, c.line);
    EXPECT_EQ(error.ErrorColumn, c.column);
    EXPECT_EQ(o->Root, nullptr);
  }
}

TEST_F(ParserFixture, StatementEntryVerbAndTerminatorRules) {
  const std::string unknownVerb = "Expected " + kVerbs + " but instead found ";
  const std::string missingVerb = "Missing " + kVerbs;
  checkParseErrors(
      *this, TestParseMode::Statement,
      {
          {"SELECT a", 0, "", 0, 0},
          {"SELECT a;", 0, "", 0, 0},
          {"select a , b ; -- done\r\n/* end */ ", 0, "", 0, 0},
          {"\"SELECT\" a", 0, "", 0, 0},  // quoted verbs are looked up too
          {"DELETE FROM Orders", pcTerminator | pcQueries, "Missing ;", 1, 18},
          {"DELETE FROM Orders ;", pcTerminator, "", 0, 0},
          {"SELECT a; SELECT b", 0, "Expected end of expression but instead found SELECT", 1, 11},
          {"SELECT a;;", 0, "Expected end of expression but instead found ;", 1, 10},
          {"SELECT a b", 0, "Expected end of expression but instead found b", 1, 10},
          // Items already built are freed when a later one fails.
          {"SELECT a, b, (c", 0, "Missing )", 1, 15},
          {"DELETE Orders", 0, "Expected FROM but instead found Orders", 1, 8},
          {"DELETE FROM", 0, "Missing table name", 1, 11},
          {"FOO a", 0, (unknownVerb + "FOO").c_str(), 1, 1},
          // A verb whose grammar is not installed reads as unknown.
          {"UPDATE Orders", 0, (unknownVerb + "UPDATE").c_str(), 1, 1},
          {"", 0, missingVerb.c_str(), 1, 1},
          {"  -- nothing\n", 0, missingVerb.c_str(), 2, 1},
      });
}

TEST_F(ParserFixture, StatementTerminatorIsTheOwnersCharacter) {
  auto o = owner(TestParseMode::Statement, pcTerminator);
  o->StatementTerminator = '!';
  o->CompileText("SELECT a !");
  EXPECT_TRUE(o->Compiled);
  o->SetText("SELECT a;");
  EXPECT_EQ(CaughtError([&] { o->Compile(); }).ErrorMessage,
            "An error was found in the expression at line 1 and column 9 (Expected ! but instead "
            "found ;)");
}

TEST_F(ParserFixture, ExpressionEntryErrorsAndEndCheck) {
  checkParseErrors(
      *this, TestParseMode::Expression,
      {
          {"Amount", 0, "", 0, 0},
          {"( ( Amount ) )", 0, "", 0, 0},
          {"a b", 0, "Expected end of expression but instead found b", 1, 3},
          {"a bc", 0, "Expected end of expression but instead found bc", 1, 3},
          {"a)", 0, "Expected end of expression but instead found )", 1, 2},
          {"(a", 0, "Missing )", 1, 2},
          {"(a b", 0, "Expected ) but instead found b", 1, 4},
          {"(a\r\n", 0, "Missing )", 2, 1},
          {"", 0, "Missing expression", 1, 1},
          {"\r\n\r\n  ,", 0, "Expected expression but instead found ,", 3, 3},
          {"t.a", 0, "Invalid expression . found, table qualifier not allowed", 1, 2},
          {"t.a", pcColumnQualifier, "", 0, 0},
          {"t.", pcColumnQualifier, "Missing column name", 1, 2},
          {"t.'x'", pcColumnQualifier, "Expected column name but instead found 'x'", 1, 3},
      });
}

TEST_F(ParserFixture, LexerErrorsReachTheOwnerWithTheirPlace) {
  checkParseErrors(*this, TestParseMode::Expression,
                   {
                       {"'abc", 0, "Missing '", 1, 4},
                       {"x'1F", 0, "Missing '", 1, 4},
                       {"a /* open", 0, "Missing /", 1, 9},
                       {" /* open", 0, "Missing /", 1, 8},  // at the first token
                       // A quoted identifier on line 3 meets a line break at column 5.
                       {"a\r\n\n\"bad\nname\"", 0, "Missing \"", 3, 5},
                       {"a\r\r  \"bad\rname\"", 0, "Missing \"", 3, 7},
                   });
}

TEST_F(ParserFixture, AnErrorAtATokenThatSpansLinesReportsTheLineOfItsStart) {
  // The column is counted from the token start, so the line must be the
  // start's too (not the line the scanner reached at the token's end).
  checkParseErrors(
      *this, TestParseMode::Expression,
      {
          {"a 'x\ny\nz'", 0, "Expected end of expression but instead found 'x\ny\nz'", 1, 3},
      });
}

TEST_F(ParserFixture, ErrorLineAndColumnOfTheOwnerReplaceTheParsersPlace) {
  auto o = owner(TestParseMode::Expression);
  o->ErrorLine = 12;
  o->ErrorColumn = 5;
  o->SetText("a\n b");
  EBRNException error = CaughtError([&] { o->Compile(); });
  EXPECT_EQ(error.ErrorMessage,
            "An error was found in the expression at line 12 and column 5 (Expected end of "
            "expression but instead found b)");
  EXPECT_EQ(error.ErrorLine, 12);
  EXPECT_EQ(error.ErrorColumn, 5);
}

TEST_F(ParserFixture, NestingDeeperThanTheLimitIsRefusedNotOverflowingTheStack) {
  const int32_t limit = TBRNExprParser::MaxNestingDepth;
  auto nested = [](int32_t depth) {
    return std::string(size_t(depth), '(') + "a" + std::string(size_t(depth), ')');
  };
  auto o = owner(TestParseMode::Expression);
  o->CompileText(nested(limit));
  ASSERT_TRUE(o->Compiled);
  EXPECT_EQ(o->Root->Name, "a");

  const std::string message = "Invalid expression ( found, nested too deeply";
  for (int32_t depth : {limit + 1, 1000000}) {
    SCOPED_TRACE(depth);
    o->SetText(nested(depth));
    EBRNException error = CaughtError([&] { o->Compile(); });
    EXPECT_EQ(error.ErrorMessage, "An error was found in the expression at line 1 and column " +
                                      std::to_string(limit + 1) + " (" + message + ")");
    EXPECT_FALSE(o->Compiled);
  }

  // The limit counts open constructs, not all of them: many in a row are fine.
  auto s = owner(TestParseMode::Statement);
  std::string text = "SELECT (a)";
  for (int32_t i = 0; i < 2 * limit; ++i) text += ", (a)";
  s->CompileText(text);
  EXPECT_EQ(s->Root->ArgumentCount(), 2 * limit + 1);
}

TEST_F(ParserFixture, CaptureKeepsSourceTextUpToTheNextTokenAndNests) {
  auto o = owner(TestParseMode::Statement);
  o->CompileText("SELECT a /* first */, ( b ) ;");
  ASSERT_EQ(o->Root->ArgumentCount(), 2);
  EXPECT_EQ(o->Root->Argument(0)->Text, "a /* first */");
  EXPECT_EQ(o->Root->Argument(1)->Text, "( b ) ");

  TestOwner textOwner;
  textOwner.SetText("x y\r\nz");
  grammar.BeginParse(textOwner);
  grammar.BeginCapture();
  grammar.NextToken();
  grammar.BeginCapture();
  grammar.NextToken();
  EXPECT_EQ(grammar.EndCapture(), "y\r\n");
  grammar.NextToken();
  EXPECT_EQ(grammar.EndCapture(), "x y\r\nz");
  EXPECT_THROW(grammar.EndCapture(), std::logic_error);
}

TEST_F(ParserFixture, PeekLooksOneTokenAheadAndRestoresTheScanner) {
  TestOwner textOwner;
  textOwner.SetText("a\n, from");
  grammar.BeginParse(textOwner);
  EXPECT_TRUE(grammar.PeekToken(','));
  EXPECT_FALSE(grammar.PeekToken(ttIdentifier));
  EXPECT_EQ(grammar.TokenText(), "a");
  EXPECT_EQ(grammar.ScanPos, 2);
  EXPECT_EQ(grammar.Line, 1);
  EXPECT_TRUE(grammar.AcceptToken(ttIdentifier));
  EXPECT_TRUE(grammar.PeekKeyword("FROM"));
  EXPECT_FALSE(grammar.AcceptKeyword("FROM"));
  EXPECT_TRUE(grammar.AcceptToken(','));
  EXPECT_TRUE(grammar.AcceptKeyword("FROM"));
  EXPECT_TRUE(grammar.TokenAtEnd());
}

TEST_F(ParserFixture, NewNodeTakesThePlaceOfTheCurrentTokenOrTheStatementLine) {
  TestOwner textOwner;
  textOwner.SetText("begin\r\n  yy");
  grammar.BeginParse(textOwner);
  grammar.MarkStatementLine();
  grammar.NextToken();
  TBRNExprToken* name = grammar.NewNode(tkColumnReference, opNone);
  TBRNExprToken* statement = grammar.NewNode(tkRoutineStatement, opCall);
  EXPECT_EQ(name->Kind, tkColumnReference);
  EXPECT_EQ(name->Line, 2);
  EXPECT_EQ(name->Column, 3);
  EXPECT_EQ(name->Position, 10);
  EXPECT_EQ(statement->Operation, opCall);
  EXPECT_EQ(statement->Line, 1);
  EXPECT_EQ(statement->Column, 3);
  FreeExprTree(name);
  FreeExprTree(statement);
}

TEST_F(ParserFixture, WildcardCheckAndNameListHelper) {
  TestOwner textOwner;
  textOwner.SetText("*");
  grammar.BeginParse(textOwner);
  TBRNExprToken wildcard;
  wildcard.Kind = tkColumnReference;
  wildcard.Name = "*";
  EXPECT_EQ(CaughtError([&] { grammar.CheckNotWildcard(&wildcard); }).ErrorMessage,
            "An error was found in the expression at line 1 and column 1 (Invalid expression * "
            "found, columns wildcard (*) not allowed)");
  wildcard.Name = "a";
  EXPECT_NO_THROW(grammar.CheckNotWildcard(&wildcard));
  EXPECT_NO_THROW(grammar.CheckNotWildcard(nullptr));

  std::string names;
  TBRNExprParser::AppendName(names, "WHERE");
  TBRNExprParser::AppendName(names, "GROUP BY");
  EXPECT_EQ(names, "WHERE, GROUP BY");
}

TEST_F(ParserFixture, TableQualifierIsKeptDroppedOrRefusedAsTheContextSays) {
  auto kept = owner(TestParseMode::Expression, pcColumnQualifier);
  kept->CompileText("Orders.Amount");
  EXPECT_EQ(kept->Root->SchemaName, "Orders");
  EXPECT_EQ(kept->Root->Name, "Amount");

  auto dropped = owner(TestParseMode::Expression);
  dropped->AllowQualifier = true;
  dropped->CompileText("Orders.Amount");
  EXPECT_EQ(dropped->Root->SchemaName, "");
  EXPECT_EQ(dropped->Root->Name, "Amount");
  EXPECT_EQ(dropped->Root->Position, 1);
}

}  // namespace
}  // namespace brn

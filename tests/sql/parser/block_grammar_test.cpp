// Blocks, labels, the procedural name parsers and the five routine entries:
// the four block positions, where RETURN, FINALLY and EXCEPTION may stand,
// and the root layout of every routine kind.

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "sql/parser/procedural_support.h"
#include "sql/tree/expr_token.h"

namespace brn {
namespace {

using testing::kBodyFlags;
using testing::ParseWith;
using testing::PrintWith;
using testing::TreeHolder;

std::string printBlock(std::string_view text, TBRNParseFlags flags = kBodyFlags) {
  return PrintWith(text, [flags](TBRNExprParser& parser) { return parser.ParseBeginBlock(flags); });
}

using TBRNEntry = TBRNExprToken* (TBRNExprParser::*)(TBRNParseFlags);

std::string printRoutine(std::string_view text, TBRNEntry entry,
                         TBRNParseFlags flags = pcColumnQualifier | pcEndOfText) {
  return PrintWith(text, [entry, flags](TBRNExprParser& parser) { return (parser.*entry)(flags); });
}

TEST(BlockGrammar, BlockPositions) {
  const std::pair<std::string, std::string> cases[] = {
      {"BEGIN DECLARE x INTEGER; SET x = 1; END",
       "Block:BeginBlock(BlockSection(RoutineStatement:Declare(List(Variable x), "
       "DataType:Integer, nil, nil)), BlockSection(RoutineStatement:SetVariable(List [x, 1])), "
       "nil, nil)"},
      {"BEGIN END", "Block:BeginBlock(BlockSection, BlockSection, nil, nil)"},
      {"BEGIN ABORT; FINALLY COMMIT; END",
       "Block:BeginBlock(BlockSection, BlockSection(RoutineStatement:Abort), nil, "
       "BlockSection(RoutineStatement:Commit(nil)))"},
      {"BEGIN ABORT; EXCEPTION RAISE; END",
       "Block:BeginBlock(BlockSection, BlockSection(RoutineStatement:Abort), nil, "
       "BlockSection(RoutineStatement:Raise(nil, nil)))"},
      // Nested blocks with labels; the terminator after a nested END.
      {"BEGIN inner: BEGIN ABORT; END; BEGIN END; END",
       "Block:BeginBlock(BlockSection, BlockSection(Block:BeginBlock inner(BlockSection, "
       "BlockSection(RoutineStatement:Abort), nil, nil), Block:BeginBlock(BlockSection, "
       "BlockSection, nil, nil)), nil, nil)"},
      {"BEGIN RETURN 1; END",
       "error 1:7 Invalid expression RETURN found, RETURN statement not allowed"},
      {"BEGIN ABORT; DECLARE x INTEGER; END",
       "error 1:14 Invalid expression DECLARE found, declarations not allowed"},
      // FINALLY is no stop word inside a handler: it is read as a label.
      {"BEGIN EXCEPTION ABORT; FINALLY ABORT; END",
       "error 1:32 Expected : but instead found ABORT"},
      {"BEGIN FINALLY ABORT; EXCEPTION ABORT; END",
       "error 1:22 Expected END but instead found EXCEPTION"},
      // RAISE without ERROR only in a handler, also inside nested bodies.
      {"BEGIN RAISE; END",
       "error 1:7 Invalid expression RAISE found, exception handling statements and functions "
       "not allowed"},
      {"BEGIN EXCEPTION IF a THEN RAISE; END IF; END",
       "Block:BeginBlock(BlockSection, BlockSection, nil, BlockSection("
       "RoutineStatement:IfStatement(List:IfConditions(a), List:IfBranches(Block(BlockSection, "
       "BlockSection(RoutineStatement:Raise(nil, nil)), nil, nil)))))"},
      {"BEGIN ABORT;", "error 1:12 Missing END"},
      {"BEGIN ABORT END", "error 1:13 Expected ; but instead found END"},
      {"SET x = 1;", "error 1:1 Expected BEGIN but instead found SET"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(printBlock(text), expected) << text;
}

TEST(BlockGrammar, ReturnEndsTheStatementsOfAFunctionBody) {
  EXPECT_EQ(printBlock("BEGIN SET x = 1; RETURN x + 1; END", kBodyFlags | pcReturn),
            "Block:BeginBlock(BlockSection, BlockSection(RoutineStatement:SetVariable(List [x, "
            "1])), RoutineStatement:Return((x + 1)), nil)");
  EXPECT_EQ(printBlock("BEGIN RETURN 1; EXCEPTION RAISE; END", kBodyFlags | pcReturn),
            "Block:BeginBlock(BlockSection, BlockSection, RoutineStatement:Return(1), "
            "BlockSection(RoutineStatement:Raise(nil, nil)))");
  EXPECT_EQ(printBlock("BEGIN RETURN 1 END", kBodyFlags | pcReturn),
            "error 1:16 Expected ; but instead found END");
  EXPECT_EQ(printBlock("BEGIN RETURN 1; ABORT; END", kBodyFlags | pcReturn),
            "error 1:17 Expected END but instead found ABORT");
  // The body of an IF may end with RETURN, its nested IFs not.
  EXPECT_EQ(printBlock("BEGIN IF a THEN RETURN 1; END IF; RETURN 2; END", kBodyFlags | pcReturn),
            "Block:BeginBlock(BlockSection, BlockSection(RoutineStatement:IfStatement("
            "List:IfConditions(a), List:IfBranches(Block(BlockSection, BlockSection, "
            "RoutineStatement:Return(1), nil)))), RoutineStatement:Return(2), nil)");
  EXPECT_EQ(printBlock("BEGIN IF a THEN IF b THEN RETURN 1; END IF; END IF; RETURN 2; END",
                       kBodyFlags | pcReturn),
            "error 1:27 Invalid expression RETURN found, RETURN statement not allowed");
}

TEST(BlockGrammar, BlockTerminatorAndEndOfText) {
  // With pcTerminator the terminator follows END; with pcEndOfText END ends
  // the text.
  EXPECT_EQ(printBlock("BEGIN END;", kBodyFlags | pcTerminator),
            "Block:BeginBlock(BlockSection, BlockSection, nil, nil)");
  EXPECT_EQ(printBlock("BEGIN END", kBodyFlags | pcTerminator), "error 1:9 Missing ;");
  EXPECT_EQ(printBlock("BEGIN END x", kBodyFlags | pcEndOfText),
            "error 1:11 Expected end of expression but instead found x");
}

TEST(BlockGrammar, NestingIsBounded) {
  std::string text;
  for (int i = 0; i < 300; ++i) text += "BEGIN ";
  for (int i = 0; i < 300; ++i) text += "END; ";
  const std::string printed = printBlock(text);
  EXPECT_NE(printed.find("nested too deeply"), std::string::npos) << printed.substr(0, 200);
}

TEST(BlockGrammar, Labels) {
  TreeHolder block = ParseWith("BEGIN Outer: BEGIN END; END", [](TBRNExprParser& parser) {
    return parser.ParseBeginBlock(kBodyFlags);
  });
  EXPECT_EQ(block->Argument(1)->Argument(0)->Name, "Outer");
  EXPECT_EQ(printBlock("BEGIN 1: BEGIN END; END"),
            "error 1:7 Expected label name but instead found 1");
  // A quoted label keeps its spelling.
  EXPECT_EQ(printBlock("BEGIN \"a b\": LOOP LEAVE \"a b\"; END LOOP \"a b\"; END"),
            "Block:BeginBlock(BlockSection, BlockSection(RoutineStatement:Loop a b(Block("
            "BlockSection, BlockSection(RoutineStatement:Leave a b), nil, nil))), nil, nil)");
}

TEST(BlockGrammar, NameParsers) {
  const auto reference = [](std::string_view text, TBRNParseFlags flags) {
    return PrintWith(
        text, [flags](TBRNExprParser& parser) { return parser.ParseVariableReference(flags); });
  };
  EXPECT_EQ(reference("v", 0), "VariableReference v(nil, nil)");
  EXPECT_EQ(reference("v[i + 1]", 0), "ArrayElement v(List((i + 1)), nil)");
  EXPECT_EQ(reference("v COLLATE ANSI_CI", 0),
            "VariableReference v(nil, List:Collate(CollationName ANSI_CI))");
  EXPECT_EQ(reference("v DESC", pcOrdering), "VariableReference v(nil, nil, List:Descending)");
  EXPECT_EQ(reference("v[1", 0), "error 1:3 Missing ]");
  EXPECT_EQ(reference("'v'", 0), "error 1:1 Expected variable name but instead found 'v'");

  const auto name = [](std::string_view text, TBRNExprToken* (TBRNExprParser::*parse)()) {
    return PrintWith(text, [parse](TBRNExprParser& parser) { return (parser.*parse)(); });
  };
  EXPECT_EQ(name("\"x\"\"y\"", &TBRNExprParser::ParseVariableName), "Variable x\"y");
  EXPECT_EQ(name("s", &TBRNExprParser::ParseStatementName), "StatementName s");
  EXPECT_EQ(name("s", &TBRNExprParser::ParseStatementReference), "StatementReference s");
  EXPECT_EQ(name("1", &TBRNExprParser::ParseVariableName),
            "error 1:1 Expected variable name but instead found 1");
  EXPECT_EQ(name(";", &TBRNExprParser::ParseStatementReference),
            "error 1:1 Expected statement name but instead found ;");

  const auto call = [](std::string_view text) {
    return PrintWith(text, [](TBRNExprParser& parser) { return parser.ParseRoutineCall(0); });
  };
  EXPECT_EQ(call("p"), "RoutineCall p");
  EXPECT_EQ(call("p()"), "RoutineCall p");
  EXPECT_EQ(call("p(a, 1 + 2)"), "RoutineCall p(a, (1 + 2))");
  EXPECT_EQ(call("p(a"), "error 1:3 Missing )");
  EXPECT_EQ(call("p(*)"), "error 1:3 Invalid expression * found, columns wildcard (*) not allowed");
}

TEST(BlockGrammar, RoutineEntries) {
  const struct {
    std::string Text;
    TBRNEntry Entry;
    std::string Expected;
  } cases[] = {
      {"FUNCTION \"f\" (IN a INTEGER) RETURNS INTEGER BEGIN RETURN a; END",
       &TBRNExprParser::ParseFunctionRoutine,
       "FunctionName f(List(RoutineParam:ParamIn a(DataType:Integer, nil)), nil, "
       "List(RoutineParam:ResultParam Result(DataType:Integer)), nil, nil, "
       "Block:BeginBlock(BlockSection, BlockSection, RoutineStatement:Return(a), nil))"},
      {"FUNCTION \"f\" () RETURNS INTEGER EXTERNAL NAME m", &TBRNExprParser::ParseFunctionRoutine,
       "FunctionName f(List, nil, List(RoutineParam:ResultParam Result(DataType:Integer)), nil, "
       "ModuleName m, nil)"},
      {"PROCEDURE \"p\" (OUT a INTEGER) BEGIN SET a = 1; END",
       &TBRNExprParser::ParseProcedureRoutine,
       "ProcedureName p(List(RoutineParam:ParamOut a(DataType:Integer, nil)), nil, nil, nil, "
       "nil, Block:BeginBlock(BlockSection, BlockSection(RoutineStatement:SetVariable(List [a, "
       "1])), nil, nil))"},
      {"PROCEDURE \"p\" EXTERNAL NAME m", &TBRNExprParser::ParseProcedureRoutine,
       "ProcedureName p(List, nil, nil, nil, ModuleName m, nil)"},
      {"PROCEDURE \"p\" () BEGIN RETURN 1; END", &TBRNExprParser::ParseProcedureRoutine,
       "error 1:24 Invalid expression RETURN found, RETURN statement not allowed"},
      {"SCRIPT (IN a INTEGER) BEGIN END", &TBRNExprParser::ParseScriptRoutine,
       "Script(List(RoutineParam:ParamIn a(DataType:Integer, nil)), nil, nil, nil, nil, "
       "Block:BeginBlock(BlockSection, BlockSection, nil, nil))"},
      {"JOB \"j\" BEGIN END", &TBRNExprParser::ParseJobRoutine,
       "JobName j(List, nil, nil, nil, nil, Block:BeginBlock(BlockSection, BlockSection, nil, "
       "nil))"},
      {"TRIGGER \"t\" BEGIN END", &TBRNExprParser::ParseTriggerRoutine,
       "TriggerName t(List, List(RowVariable, RowVariable), nil, nil, nil, "
       "Block:BeginBlock(BlockSection, BlockSection, nil, nil))"},
      {"PROCEDURE \"p\" () BEGIN END", &TBRNExprParser::ParseFunctionRoutine,
       "error 1:1 Expected FUNCTION but instead found PROCEDURE"},
      {"FUNCTION \"f\" () RETURNS INTEGER BEGIN END", &TBRNExprParser::ParseScriptRoutine,
       "error 1:1 Expected SCRIPT but instead found FUNCTION"},
      {"JOB \"j\" BEGIN END; x", &TBRNExprParser::ParseJobRoutine,
       "error 1:18 Expected end of expression but instead found ;"},
      {"FUNCTION \"f\" () BEGIN END", &TBRNExprParser::ParseFunctionRoutine,
       "error 1:17 Expected RETURNS but instead found BEGIN"},
  };
  for (const auto& c : cases) EXPECT_EQ(printRoutine(c.Text, c.Entry), c.Expected) << c.Text;

  // The trigger rows: old row then new row.
  TreeHolder trigger = ParseWith("TRIGGER \"t\" BEGIN END", [](TBRNExprParser& parser) {
    return parser.ParseTriggerRoutine(0);
  });
  const TBRNExprToken* rows = trigger->Argument(1);
  ASSERT_EQ(rows->ArgumentCount(), 2);
  EXPECT_EQ(rows->Argument(0)->Kind, tkRowVariable);
  EXPECT_EQ(rows->Argument(0)->Variant, 0);
  EXPECT_EQ(rows->Argument(1)->Variant, 1);
}

TEST(BlockGrammar, JobAndScriptBodiesMayUseDatabases) {
  const TBRNParseFlags flags = pcColumnQualifier | pcDatabaseOperations;
  EXPECT_EQ(printRoutine("JOB \"j\" BEGIN USE Sales; END", &TBRNExprParser::ParseJobRoutine, flags),
            "JobName j(List, nil, nil, nil, nil, Block:BeginBlock(BlockSection, BlockSection("
            "RoutineStatement:Use(DatabaseName Sales)), nil, nil))");
  EXPECT_EQ(
      printRoutine("PROCEDURE \"p\" BEGIN USE Sales; END", &TBRNExprParser::ParseProcedureRoutine),
      "error 1:21 Invalid expression USE found, database operations not allowed");
}

}  // namespace
}  // namespace brn

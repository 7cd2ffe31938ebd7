// The statements of the procedural language: every statement form with its
// argument positions (nil where a clause is not written), the variants the
// printed tree does not show, the context-flag refusals and the messages of
// missing keywords and labels.

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "sql/parser/procedural_support.h"
#include "sql/tree/expr_token.h"

namespace brn {
namespace {

using testing::CountNodes;
using testing::kBodyFlags;
using testing::ParseStatementList;
using testing::PrintStatements;
using testing::TreeHolder;

void checkProceduralCases(std::initializer_list<std::pair<std::string, std::string>> cases,
                          TBRNParseFlags flags = kBodyFlags) {
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(PrintStatements(text, flags), expected) << "text: " << text;
}

// The first statement of a statement list.
TreeHolder firstStatement(std::string_view text, TBRNParseFlags flags = kBodyFlags) {
  TreeHolder list = ParseStatementList(text, flags);
  TBRNExprToken* statement = list->Argument(1)->Argument(0);
  list->Argument(1)->SetArgument(0, nullptr);
  return TreeHolder(statement);
}

TEST(ProceduralGrammar, EveryStatementForm) {
  checkProceduralCases({
      {"ABORT;", "RoutineStatement:Abort"},
      {"CALL Archive(1, x);", "RoutineStatement:Call(RoutineCall Archive(1, x))"},
      {"CALL Archive();", "RoutineStatement:Call(RoutineCall Archive)"},
      {"CALL Archive;", "RoutineStatement:Call(RoutineCall Archive)"},
      {"CLOSE c;", "RoutineStatement:Close(CursorReference c)"},
      {"COMMIT;", "RoutineStatement:Commit(nil)"},
      {"COMMIT WORK NO FLUSH;", "RoutineStatement:Commit(List)"},
      {"DELETE FROM c;", "RoutineStatement:DeleteStatement(CursorReference c)"},
      {"EXECUTE s;", "RoutineStatement:Execute(StatementReference s, List)"},
      {"EXECUTE s USING a, b + 1;",
       "RoutineStatement:Execute(StatementReference s, List(a, (b + 1)))"},
      {"EXECUTE IMMEDIATE 'DELETE FROM t' USING 1;",
       "RoutineStatement:ExecuteImmediate('DELETE FROM t', List(1))"},
      {"FETCH FROM c;", "RoutineStatement:Fetch(List, CursorReference c, nil)"},
      {"FETCH NEXT FROM c INTO a, b;",
       "RoutineStatement:Fetch(List, CursorReference c, List(List [nil, VariableReference a(nil, "
       "nil)], List [nil, VariableReference b(nil, nil)]))"},
      {"FETCH ABSOLUTE 5 FROM c;", "RoutineStatement:Fetch(List(5), CursorReference c, nil)"},
      // Targets beyond the column list get pairs of their own.
      {"FETCH FROM c (ID, Name) INTO a, b, d;",
       "RoutineStatement:Fetch(List, CursorReference c, List(List [ID, VariableReference a(nil, "
       "nil)], List [Name, VariableReference b(nil, nil)], List [nil, VariableReference d(nil, "
       "nil)]))"},
      {"INSERT INTO c VALUES (1, 'x');",
       "RoutineStatement:InsertStatement(CursorReference c, List(List [nil, 1], List [nil, "
       "'x']))"},
      {"INSERT INTO c (ID, Name) VALUES (1);",
       "RoutineStatement:InsertStatement(CursorReference c, List(List [ID, 1], List [Name, "
       "nil]))"},
      {"ITERATE;", "RoutineStatement:Iterate"},
      {"LEAVE outer;", "RoutineStatement:Leave outer"},
      {"OPEN c;", "RoutineStatement:Open(CursorReference c, List)"},
      {"OPEN c USING 1, 2;", "RoutineStatement:Open(CursorReference c, List(1, 2))"},
      {"PREPARE s FROM 'SELECT * FROM t';",
       "RoutineStatement:Prepare(StatementReference s, 'SELECT * FROM t')"},
      {"RAISE ERROR CODE 10000 MESSAGE 'bad';", "RoutineStatement:Raise(10000, 'bad')"},
      {"REFRESH c;", "RoutineStatement:Refresh(CursorReference c)"},
      {"ROLLBACK WORK;", "RoutineStatement:Rollback"},
      {"SET x = 1, y = x + 1;", "RoutineStatement:SetVariable(List [x, 1], List [y, (x + 1)])"},
      {"SET a[2] = 0;", "RoutineStatement:SetVariable(List [a[2], 0])"},
      {"SET LOG MESSAGE TO 'done';", "RoutineStatement:SetLogMessage('done')"},
      {"SET PROGRESS TO 50;", "RoutineStatement:SetProgress(50)"},
      {"SET STATUS MESSAGE TO 'busy';", "RoutineStatement:SetStatusMessage('busy')"},
      // A variable may be called STATUS: the word after it decides.
      {"SET status = 1;", "RoutineStatement:SetVariable(List [status, 1])"},
      {"START TRANSACTION;", "RoutineStatement:Start(nil, nil)"},
      {"START TRANSACTION ON TABLES Orders, Customers TIMEOUT 10;",
       "RoutineStatement:Start(List(Orders, Customers), 10)"},
      {"UNPREPARE s;", "RoutineStatement:Unprepare(StatementReference s)"},
      {"UPDATE c SET Name = 'x', City = NULL;",
       "RoutineStatement:UpdateStatement(CursorReference c, List(List [Name, 'x'], List "
       "[City, NULL]))"},
  });
}

TEST(ProceduralGrammar, ControlStatements) {
  checkProceduralCases({
      {"IF a THEN SET x = 1; ELSEIF b THEN ABORT; ELSE END IF;",
       "RoutineStatement:IfStatement(List:IfConditions(a, b, nil), List:IfBranches("
       "Block(BlockSection, BlockSection(RoutineStatement:SetVariable(List [x, 1])), nil, "
       "nil), Block(BlockSection, BlockSection(RoutineStatement:Abort), nil, nil), "
       "Block(BlockSection, BlockSection, nil, nil)))"},
      {"IF a THEN ABORT; END IF;",
       "RoutineStatement:IfStatement(List:IfConditions(a), List:IfBranches(Block(BlockSection, "
       "BlockSection(RoutineStatement:Abort), nil, nil)))"},
      {"CASE v WHEN 1 THEN ABORT; WHEN 2 THEN ABORT; ELSE ABORT; END CASE;",
       "RoutineStatement:CaseStatement(List:CaseConditions(1, 2, nil), "
       "List:CaseResults(Block(BlockSection, BlockSection(RoutineStatement:Abort), nil, nil), "
       "Block(BlockSection, BlockSection(RoutineStatement:Abort), nil, nil), "
       "Block(BlockSection, BlockSection(RoutineStatement:Abort), nil, nil)), v)"},
      {"CASE WHEN a > 1 THEN ABORT; END CASE;",
       "RoutineStatement:CaseStatement(List:CaseConditions((a > 1)), List:CaseResults("
       "Block(BlockSection, BlockSection(RoutineStatement:Abort), nil, nil)))"},
      {"LOOP LEAVE; END LOOP;",
       "RoutineStatement:Loop(Block(BlockSection, BlockSection(RoutineStatement:Leave), nil, "
       "nil))"},
      {"outer: LOOP LEAVE outer; END LOOP outer;",
       "RoutineStatement:Loop outer(Block(BlockSection, BlockSection(RoutineStatement:Leave "
       "outer), nil, nil))"},
      // The repeated label is optional and compared ignoring case.
      {"outer: LOOP ABORT; END LOOP;",
       "RoutineStatement:Loop outer(Block(BlockSection, BlockSection(RoutineStatement:Abort), "
       "nil, nil))"},
      {"r: REPEAT SET i = i + 1; UNTIL i > 3 END REPEAT R;",
       "RoutineStatement:RepeatStatement r(Block(BlockSection, BlockSection("
       "RoutineStatement:SetVariable(List [i, (i + 1)])), nil, nil), (i > 3))"},
      {"WHILE i < 3 DO ITERATE; END WHILE;",
       "RoutineStatement:While((i < 3), Block(BlockSection, BlockSection("
       "RoutineStatement:Iterate), nil, nil))"},
      // A labelled loop as the first statement of a body keeps its label.
      {"IF a THEN inner: WHILE b DO LEAVE inner; END WHILE inner; END IF;",
       "RoutineStatement:IfStatement(List:IfConditions(a), List:IfBranches(Block(BlockSection, "
       "BlockSection(RoutineStatement:While inner(b, Block(BlockSection, BlockSection("
       "RoutineStatement:Leave inner), nil, nil))), nil, nil)))"},
  });
}

TEST(ProceduralGrammar, DeclareForms) {
  const auto declare = [](std::string_view text, TBRNParseFlags flags) {
    return testing::PrintWith(text, [flags](TBRNExprParser& parser) {
      return parser.ParseProceduralStatement(flags | pcDeclarations | pcTerminator, "");
    });
  };
  const std::pair<std::string, std::string> cases[] = {
      {"DECLARE x INTEGER;",
       "RoutineStatement:Declare(List(Variable x), DataType:Integer, nil, nil)"},
      {"DECLARE a, b INTEGER ARRAY [10] DEFAULT 0;",
       "RoutineStatement:Declare(List(ArrayVariable a, ArrayVariable b), DataType:Integer, 10, "
       "0)"},
      {"DECLARE s1, s2 STATEMENT;",
       "RoutineStatement:Declare(List(StatementName s1, StatementName s2))"},
      {"DECLARE c CURSOR FOR s;",
       "RoutineStatement:Declare(List(CursorDeclaration c(nil, StatementName s)))"},
      {"DECLARE c INSENSITIVE CURSOR WITH RETURN FOR s;",
       "RoutineStatement:Declare(List(CursorDeclaration c(StatementName, StatementName s)))"},
      {"DECLARE c CURSOR WITHOUT RETURN FOR s;",
       "RoutineStatement:Declare(List(CursorDeclaration c(nil, StatementName s)))"},
      {"DECLARE v VARCHAR DEFAULT 'a' || 'b';",
       "RoutineStatement:Declare(List(Variable v), DataType:VarChar(nil, nil), nil, ('a' + "
       "'b'))"},
  };
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(declare(text, kBodyFlags), expected) << "text: " << text;

  // The cursor sensitivity: SENSITIVE or none 1, INSENSITIVE 2, ASENSITIVE 0.
  const std::pair<std::string, int32_t> sensitivities[] = {
      {"DECLARE c CURSOR FOR s;", 1},
      {"DECLARE c SENSITIVE CURSOR FOR s;", 1},
      {"DECLARE c INSENSITIVE CURSOR FOR s;", 2},
      {"DECLARE c ASENSITIVE CURSOR FOR s;", 0},
  };
  for (const auto& [text, variant] : sensitivities) {
    TreeHolder tree = testing::ParseWith(text, [](TBRNExprParser& parser) {
      return parser.ParseProceduralStatement(pcDeclarations | pcTerminator, "");
    });
    EXPECT_EQ(tree->Argument(0)->Argument(0)->Variant, variant) << text;
  }

  EXPECT_EQ(declare("DECLARE c INSENSITIVE CURSOR WITH RETURN FOR s;", pcColumnQualifier),
            "error 1:30 Invalid expression WITH found, result cursor declarations not allowed");
  EXPECT_EQ(declare("DECLARE c, d CURSOR FOR s;", kBodyFlags),
            "error 1:14 Expected data type but instead found CURSOR");
  EXPECT_EQ(declare("DECLARE c CURSOR s;", kBodyFlags),
            "error 1:18 Expected FOR but instead found s");
  EXPECT_EQ(declare("DECLARE c CURSOR WITH s;", kBodyFlags),
            "error 1:23 Expected RETURN but instead found s");
  EXPECT_EQ(declare("DECLARE 1 INTEGER;", kBodyFlags),
            "error 1:9 Expected variable name but instead found 1");
  EXPECT_EQ(declare("DECLARE a INTEGER ARRAY 10;", kBodyFlags),
            "error 1:25 Expected [ but instead found 10");
}

TEST(ProceduralGrammar, FetchOrientations) {
  const std::pair<std::string, int32_t> cases[] = {
      {"FETCH FROM c;", 0},
      {"FETCH NEXT FROM c;", 1},
      {"FETCH PRIOR FROM c;", 2},
      {"FETCH FIRST FROM c;", 3},
      {"FETCH LAST FROM c;", 4},
      {"FETCH ABSOLUTE 5 FROM c;", 5},
      {"FETCH RELATIVE 2 FROM c;", 6},
  };
  for (const auto& [text, variant] : cases) {
    TreeHolder statement = firstStatement(text);
    const TBRNExprToken* orientation = statement->Argument(0);
    EXPECT_EQ(orientation->Variant, variant) << text;
    EXPECT_EQ(orientation->ArgumentCount(), variant >= 5 ? 1 : 0) << text;
  }
}

TEST(ProceduralGrammar, ContextFlagRefusals) {
  checkProceduralCases({
      {"DECLARE x INTEGER;",
       "error 1:1 Invalid expression DECLARE found, declarations not allowed"},
      {"RAISE;",
       "error 1:1 Invalid expression RAISE found, exception handling statements and functions "
       "not allowed"},
      {"RETRY;",
       "error 1:1 Invalid expression RETRY found, exception handling statements and functions "
       "not allowed"},
      {"USE Sales;", "error 1:1 Invalid expression USE found, database operations not allowed"},
  });
  // With the flags that allow them.
  checkProceduralCases({{"RAISE;", "RoutineStatement:Raise(nil, nil)"}},
                       kBodyFlags | pcExceptionHandling);
  checkProceduralCases({{"RETRY;", "RoutineStatement:Retry"}}, kBodyFlags | pcRetry);
  checkProceduralCases({{"USE Sales;", "RoutineStatement:Use(DatabaseName Sales)"},
                        {"USE;", "RoutineStatement:Use(nil)"},
                        {"USE 1;", "error 1:5 Expected database name but instead found 1"}},
                       kBodyFlags | pcDatabaseOperations);
}

TEST(ProceduralGrammar, MissingPartsAndLabels) {
  checkProceduralCases({
      // A word that starts no statement is read as a label.
      {"SELECT * FROM t;", "error 1:8 Expected : but instead found *"},
      {"lbl: FOR",
       "error 1:6 Expected BEGIN, DECLARE, SET, ABORT, IF, CASE, LOOP, REPEAT, WHILE, ITERATE, "
       "LEAVE, USE, START, COMMIT, ROLLBACK, PREPARE, EXECUTE, UNPREPARE, OPEN, CLOSE, FETCH, "
       "INSERT, UPDATE, DELETE but instead found FOR"},
      {"lbl: SELECT",
       "error 1:6 Expected BEGIN, LOOP, REPEAT, WHILE, FOR but instead found SELECT"},
      {"lbl LOOP", "error 1:5 Expected : but instead found LOOP"},
      {"outer: LOOP ABORT; END LOOP inner;", "error 1:29 Expected outer but instead found inner"},
      {"w: WHILE a DO ABORT; END WHILE", "error 1:30 Missing w"},
      {"ABORT", "error 1:5 Missing ;"},
      {"IF a ABORT; END IF;", "error 1:6 Expected THEN but instead found ABORT"},
      {"IF a THEN ABORT; END;", "error 1:21 Expected IF but instead found ;"},
      {"IF a THEN ABORT;", "error 1:16 Missing END"},
      {"CASE v END CASE;", "error 1:8 Expected WHEN but instead found END"},
      {"CASE v WHEN 1 THEN ABORT; END IF;", "error 1:31 Expected CASE but instead found IF"},
      {"REPEAT ABORT; END REPEAT;", "error 1:15 Expected UNTIL but instead found END"},
      {"WHILE a ABORT; END WHILE;", "error 1:9 Expected DO but instead found ABORT"},
      {"EXECUTE s USING;", "error 1:16 Expected expression but instead found ;"},
      {"FETCH FROM c (a);", "error 1:17 Expected INTO but instead found ;"},
      {"INSERT INTO c (a) (1);", "error 1:19 Expected VALUES but instead found ("},
      {"START ON TABLES t;", "error 1:7 Expected TRANSACTION but instead found ON"},
      {"RAISE ERROR 1 MESSAGE 'x';", "error 1:13 Expected CODE but instead found 1"},
      {"SET LOG MESSAGE 'x';", "error 1:17 Expected TO but instead found 'x'"},
      {"SET x 1;", "error 1:7 Expected = but instead found 1"},
      {"CLOSE;", "error 1:6 Expected cursor name but instead found ;"},
      {"PREPARE 's' FROM 'x';", "error 1:9 Expected statement name but instead found 's'"},
      {"COMMIT NO;", "error 1:10 Expected FLUSH but instead found ;"},
  });
  // The dispatcher names the statements there are; RAISE only in a handler.
  const auto dispatch = [](std::string_view text, TBRNParseFlags flags) {
    return testing::PrintWith(text, [flags](TBRNExprParser& parser) {
      return parser.ParseProceduralStatement(flags, "");
    });
  };
  EXPECT_EQ(dispatch("GRANT", kBodyFlags),
            "error 1:1 Expected BEGIN, DECLARE, SET, ABORT, IF, CASE, LOOP, REPEAT, WHILE, "
            "ITERATE, LEAVE, USE, START, COMMIT, ROLLBACK, PREPARE, EXECUTE, UNPREPARE, OPEN, "
            "CLOSE, FETCH, INSERT, UPDATE, DELETE but instead found GRANT");
  EXPECT_EQ(dispatch("GRANT", kBodyFlags | pcExceptionHandling),
            "error 1:1 Expected BEGIN, DECLARE, RAISE, SET, ABORT, IF, CASE, LOOP, REPEAT, WHILE, "
            "ITERATE, LEAVE, USE, START, COMMIT, ROLLBACK, PREPARE, EXECUTE, UNPREPARE, OPEN, "
            "CLOSE, FETCH, INSERT, UPDATE, DELETE but instead found GRANT");
}

// The operand is kept once however many WHEN values it meets, so a long
// operand and many WHENs make a tree of the size of the text.
TEST(ProceduralGrammar, SimpleCaseKeepsItsOperandOnce) {
  std::string operand = "v";
  for (int i = 0; i < 200; ++i) operand += " + v";
  std::string text = "CASE " + operand;
  for (int i = 0; i < 200; ++i) text += " WHEN " + std::to_string(i) + " THEN ABORT;";
  TreeHolder statement = firstStatement(text + " END CASE;");
  const TBRNExprToken* conditions = statement->Argument(0);
  ASSERT_EQ(conditions->ArgumentCount(), 200);
  EXPECT_EQ(conditions->Argument(0)->Kind, tkConstant);
  ASSERT_EQ(statement->ArgumentCount(), 3);
  EXPECT_EQ(statement->Argument(2)->Parent, statement.Get());
  EXPECT_LE(CountNodes(statement.Get()), int64_t(text.size()) / 2);
}

TEST(ProceduralGrammar, StatementNodesCarryTheLineOfTheirKeyword) {
  TreeHolder list = ParseStatementList("SET x =\n  1;\nIF a\nTHEN\n  ABORT;\nEND IF;");
  const TBRNExprToken* statements = list->Argument(1);
  ASSERT_EQ(statements->ArgumentCount(), 2);
  EXPECT_EQ(statements->Argument(0)->Line, 1);
  EXPECT_EQ(statements->Argument(1)->Line, 3);
  const TBRNExprToken* abort = statements->Argument(1)->Argument(1)->Argument(0)->Argument(1);
  EXPECT_EQ(abort->Argument(0)->Line, 5);
}

TEST(ProceduralGrammar, LiteralNamesOfOldRoutineTexts) {
  const TBRNParseFlags old = kBodyFlags | pcLiteralNames;
  TreeHolder start = firstStatement("START TRANSACTION ON TABLES Orders, 'x' || 'y';", old);
  const TBRNExprToken* table = start->Argument(0)->Argument(0);
  EXPECT_EQ(table->Kind, tkConstant);
  EXPECT_EQ(table->Text, "Orders");
  EXPECT_TRUE(table->Name.empty());
  EXPECT_EQ(table->DataType, dtChar);
  // Only names turn into constants.
  EXPECT_EQ(start->Argument(0)->Argument(1)->Kind, tkOperator);

  TreeHolder fetch = firstStatement("FETCH FROM c (ID) INTO a;", old);
  EXPECT_EQ(fetch->Argument(2)->Argument(0)->Left()->Kind, tkConstant);
  EXPECT_EQ(fetch->Argument(2)->Argument(0)->Left()->Text, "ID");
  // Targets stay variable references.
  EXPECT_EQ(fetch->Argument(2)->Argument(0)->Right()->Kind, tkVariableReference);

  TreeHolder insert = firstStatement("INSERT INTO c (Name) VALUES (Name);", old);
  EXPECT_EQ(insert->Argument(1)->Argument(0)->Left()->Kind, tkConstant);
  EXPECT_EQ(insert->Argument(1)->Argument(0)->Right()->Kind, tkColumnReference);

  TreeHolder update = firstStatement("UPDATE c SET Name = 1;", old);
  EXPECT_EQ(update->Argument(1)->Argument(0)->Left()->Kind, tkConstant);

  // Without the flag the names stay references.
  TreeHolder current = firstStatement("UPDATE c SET Name = 1;");
  EXPECT_EQ(current->Argument(1)->Argument(0)->Left()->Kind, tkColumnReference);
}

}  // namespace
}  // namespace brn

// Stored routines are kept as text and compiled again through their routine
// entry: the text that CREATE FUNCTION, PROCEDURE, TRIGGER and JOB capture
// must parse back into the tree the statement embedded. The routines below
// use every procedural statement between them, nested in every kind of body
// (built-in function calls are left to the function grammar's tests).

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "sql/parser/procedural_support.h"
#include "sql/tree/expr_token.h"

namespace brn {
namespace {

using testing::ParseStatementText;
using testing::PrintTree;
using testing::StatementOwner;
using testing::TreeHolder;

using TBRNEntry = TBRNExprToken* (TBRNExprParser::*)(TBRNParseFlags);

struct RoutineCase {
  std::string Statement;
  TBRNEntry Entry;
  // What the owner of a stored routine of this kind compiles it with.
  TBRNParseFlags EntryFlags;
};

constexpr TBRNParseFlags kOwnerFlags = testing::kStatementFlags | pcEndOfText;

const std::vector<RoutineCase>& routines() {
  static const std::vector<RoutineCase> cases = {
      {"CREATE FUNCTION \"Net \"\"Amount\"\"\" (IN Gross DECIMAL(12,2), IN Rate INTEGER)\n"
       "RETURNS DECIMAL(12,2)\n"
       "BEGIN\n"
       "  DECLARE Result DECIMAL(12,2) DEFAULT 0;\n"
       "  DECLARE Steps INTEGER;\n"
       "  SET Steps = 0;\n"
       "  CASE Rate\n"
       "    WHEN 0 THEN SET Result = Gross;\n"
       "    WHEN 100 THEN SET Result = 0;\n"
       "    ELSE\n"
       "      SET Result = Gross - Gross * Rate / 100;\n"
       "  END CASE;\n"
       "  IF Result < 0 THEN RETURN 0; END IF;\n"
       "  RETURN Result;\n"
       "END\n"
       "DESCRIPTION 'net amount'",
       &TBRNExprParser::ParseFunctionRoutine, kOwnerFlags | pcReturn},
      {"CREATE PROCEDURE Archive (IN Before DATE, OUT Moved INTEGER, INOUT Note VARCHAR(40))\n"
       "BEGIN\n"
       "  DECLARE Cur INSENSITIVE CURSOR WITH RETURN FOR Stmt;\n"
       "  DECLARE Upd SENSITIVE CURSOR FOR UpdStmt;\n"
       "  DECLARE Stmt, UpdStmt STATEMENT;\n"
       "  DECLARE OrderID INTEGER;\n"
       "  DECLARE Amounts DECIMAL(12,2) ARRAY [10] DEFAULT 0;\n"
       "  DECLARE Done BOOLEAN DEFAULT FALSE;\n"
       "  START TRANSACTION ON TABLES Orders, Customers TIMEOUT 5;\n"
       "  PREPARE Stmt FROM 'SELECT ID, Amount FROM Orders WHERE Placed < ?';\n"
       "  OPEN Cur USING Before;\n"
       "  SET Moved = 0, Note = '';\n"
       "  scan: LOOP\n"
       "    FETCH NEXT FROM Cur (ID, Amount) INTO OrderID, Amounts[Moved + 1];\n"
       "    IF Moved >= 10 THEN LEAVE scan;\n"
       "    ELSEIF OrderID IS NULL THEN ITERATE scan;\n"
       "    ELSE SET Moved = Moved + 1;\n"
       "    END IF;\n"
       "  END LOOP scan;\n"
       "  FETCH ABSOLUTE 1 FROM Cur INTO OrderID;\n"
       "  FETCH PRIOR FROM Cur;\n"
       "  REPEAT\n"
       "    SET Moved = Moved - 1;\n"
       "  UNTIL Moved <= 0 END REPEAT;\n"
       "  PREPARE UpdStmt FROM 'SELECT * FROM Orders';\n"
       "  OPEN Upd;\n"
       "  INSERT INTO Upd (ID, Amount) VALUES (OrderID, 0);\n"
       "  UPDATE Upd SET Amount = Amount * 2, Placed = Before;\n"
       "  DELETE FROM Upd;\n"
       "  REFRESH Upd;\n"
       "  CLOSE Upd;\n"
       "  UNPREPARE UpdStmt;\n"
       "  EXECUTE IMMEDIATE 'DELETE FROM Archive WHERE ID = ?' USING OrderID;\n"
       "  EXECUTE Stmt USING Before, 1;\n"
       "  CALL Notify('archived', Moved);\n"
       "  CALL Cleanup;\n"
       "  SET LOG MESSAGE TO 'archived ' + Note;\n"
       "  SET STATUS MESSAGE TO 'done';\n"
       "  SET PROGRESS TO 100;\n"
       "  COMMIT WORK NO FLUSH;\n"
       "EXCEPTION\n"
       "  ROLLBACK;\n"
       "  IF Done THEN RAISE ERROR CODE 10001 MESSAGE 'archive failed'; END IF;\n"
       "  RAISE;\n"
       "END",
       &TBRNExprParser::ParseProcedureRoutine, kOwnerFlags | pcResultCursors},
      {"CREATE PROCEDURE Quiet ()\n"
       "BEGIN\n"
       "  outer: BEGIN\n"
       "    DECLARE i INTEGER DEFAULT 0;\n"
       "    w: WHILE i < 3 DO\n"
       "      SET i = i + 1;\n"
       "      IF i = 2 THEN ABORT; END IF;\n"
       "    END WHILE w;\n"
       "  END;\n"
       "  COMMIT;\n"
       "FINALLY\n"
       "  SET STATUS MESSAGE TO 'finished';\n"
       "END;",
       &TBRNExprParser::ParseProcedureRoutine, kOwnerFlags | pcResultCursors},
      {"CREATE TRIGGER \"Audit \"\"Orders\"\"\" AFTER UPDATE OF Amount ON Orders\n"
       "BEGIN\n"
       "  DECLARE Delta DECIMAL(12,2);\n"
       "  SET Delta = NEWROW.Amount - OLDROW.Amount;\n"
       "  IF Delta <> 0 THEN\n"
       "    EXECUTE IMMEDIATE 'INSERT INTO Log VALUES (?)' USING Delta;\n"
       "  END IF;\n"
       "END",
       &TBRNExprParser::ParseTriggerRoutine, kOwnerFlags},
      {"CREATE TRIGGER Retry ERROR INSERT ON Orders\n"
       "BEGIN\n"
       "  IF NEWROW.ID IS NULL THEN RETRY; END IF;\n"
       "  RAISE;\n"
       "END",
       &TBRNExprParser::ParseTriggerRoutine, kOwnerFlags | pcExceptionHandling | pcRetry},
      {"CREATE JOB Nightly RUN AS u FROM 1 TO 2 DAILY BETWEEN 3 AND 4\n"
       "BEGIN\n"
       "  USE Sales;\n"
       "  CALL Archive(DATE '2020-01-01', 0, '');\n"
       "  USE;\n"
       "END",
       &TBRNExprParser::ParseJobRoutine, kOwnerFlags | pcDatabaseOperations},
  };
  return cases;
}

// Collects the operation codes of the procedural statements in a tree.
void collectStatements(const TBRNExprToken* node, std::set<int32_t>& codes) {
  if (!node) return;
  if (node->Kind == tkRoutineStatement) codes.insert(node->Operation);
  collectStatements(node->Left(), codes);
  collectStatements(node->Right(), codes);
  for (const TBRNExprToken* argument : node->Arguments()) collectStatements(argument, codes);
}

TEST(RoutineRoundTrip, CapturedTextsParseBackIntoTheEmbeddedTree) {
  std::set<int32_t> used;
  for (const RoutineCase& c : routines()) {
    SCOPED_TRACE(c.Statement.substr(0, 40));
    TreeHolder statement = ParseStatementText(c.Statement);
    const TBRNExprToken* embedded = statement->Argument(0);
    collectStatements(embedded, used);

    StatementOwner owner(statement->Text);
    TBRNExprParser parser;
    parser.BeginParse(owner);
    TreeHolder routine;
    try {
      routine.Reset((parser.*c.Entry)(c.EntryFlags));
    } catch (const EBRNException& error) {
      ADD_FAILURE() << testing::DescribeParseError(error) << "\n" << statement->Text;
      continue;
    }
    EXPECT_TRUE(parser.TokenAtEnd());
    // A trigger's event is no part of its routine text: the trigger object
    // holds it.
    routine->Operation = embedded->Operation;
    EXPECT_TRUE(ExprTreesEqual(routine.Get(), embedded)) << PrintTree(routine.Get()) << "\n"
                                                         << PrintTree(embedded);
  }

  // Every procedural statement is covered (192 is no statement; RETURN sits
  // in the block).
  for (int32_t code = TBRNExprParser::FirstRoutineStatementCode;
       code <= TBRNExprParser::LastRoutineStatementCode; ++code) {
    if (code == 192) continue;
    EXPECT_TRUE(used.count(code)) << "statement code " << code << " not used";
  }
}

// Every error path frees what it built: each truncation of the routines, as
// a statement and as a routine text, either parses or fails with error 700
// (the sanitizer build reports any leak).
TEST(RoutineRoundTrip, EveryTruncationFailsCleanly) {
  for (const RoutineCase& c : routines()) {
    std::string text;
    {
      TreeHolder statement = ParseStatementText(c.Statement);
      text = statement->Text;
    }
    for (size_t length = 0; length < c.Statement.size(); ++length) {
      try {
        ParseStatementText(std::string_view(c.Statement).substr(0, length));
      } catch (const EBRNException& error) {
        EXPECT_EQ(error.ErrorCode, kSQLTextErrorCode);
      }
    }
    for (size_t length = 0; length < text.size(); ++length) {
      try {
        testing::ParseWith(std::string_view(text).substr(0, length), [&c](TBRNExprParser& parser) {
          return (parser.*c.Entry)(c.EntryFlags);
        });
        // Only blanks may be cut off a routine text that still parses.
        EXPECT_EQ(text.find_first_not_of(" \t\r\n", length), std::string::npos)
            << "a truncated routine text parsed: " << text.substr(0, length);
      } catch (const EBRNException& error) {
        EXPECT_EQ(error.ErrorCode, kSQLTextErrorCode);
      }
    }
  }
}

TEST(RoutineRoundTrip, NameWithQuotesKeepsItsQuotesDoubled) {
  TreeHolder statement = ParseStatementText(routines()[0].Statement);
  EXPECT_EQ(statement->Argument(0)->Name, "Net \"Amount\"");
  EXPECT_EQ(statement->Text.substr(0, 29), "FUNCTION \"Net \"\"Amount\"\"\" (IN");
}

}  // namespace
}  // namespace brn

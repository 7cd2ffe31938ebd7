// CREATE, ALTER, GRANT and REVOKE: every clause at its argument index.
//
// The slot tables name a node by its argument path from the statement root
// ("3.1.0" is argument 0 of argument 1 of argument 3) and list the argument
// indexes that must hold a node and those that must be present but empty.

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/types/data_types.h"
#include "sql/parser/statement_support.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/job_schedule_kind.h"
#include "sql/tree/object_kind.h"

namespace brn {
namespace {

using testing::DescribeParseError;
using testing::kStatementFlags;
using testing::ParseStatementText;
using testing::PrintTree;
using testing::StatementOwner;
using testing::TreeHolder;

// The node at Path ("" for Root); nullptr when a step is missing or empty.
const TBRNExprToken* nodeAt(const TBRNExprToken* Root, std::string_view Path) {
  const TBRNExprToken* node = Root;
  while (node && !Path.empty()) {
    const size_t dot = Path.find('.');
    const int32_t index = std::stoi(std::string(Path.substr(0, dot)));
    node = index < node->ArgumentCount() ? node->Argument(index) : nullptr;
    Path = dot == std::string_view::npos ? std::string_view() : Path.substr(dot + 1);
  }
  return node;
}

struct SlotCase {
  std::string Text;
  std::string Path;
  std::vector<int32_t> Set;
  std::vector<int32_t> Absent;
  // When not negative: the node's exact argument count.
  int32_t Count = -1;
};

void checkSlots(std::initializer_list<SlotCase> Cases) {
  for (const SlotCase& c : Cases) {
    SCOPED_TRACE(c.Text + " @ " + c.Path);
    TreeHolder tree;
    try {
      tree = ParseStatementText(c.Text);
    } catch (const EBRNException& error) {
      ADD_FAILURE() << DescribeParseError(error);
      continue;
    }
    const TBRNExprToken* node = nodeAt(tree.Get(), c.Path);
    ASSERT_NE(node, nullptr);
    for (int32_t index : c.Set) {
      ASSERT_LT(index, node->ArgumentCount()) << "set " << index;
      EXPECT_NE(node->Argument(index), nullptr) << "set " << index;
    }
    for (int32_t index : c.Absent) {
      ASSERT_LT(index, node->ArgumentCount()) << "absent " << index;
      EXPECT_EQ(node->Argument(index), nullptr) << "absent " << index;
    }
    if (c.Count >= 0) {
      EXPECT_EQ(node->ArgumentCount(), c.Count);
    }
  }
}

// Each text must fail with exactly the message given (line 1).
void checkErrors(std::initializer_list<std::pair<std::string, std::string>> Cases) {
  for (const auto& [text, message] : Cases) {
    try {
      TreeHolder tree = ParseStatementText(text);
      ADD_FAILURE() << "parsed: " << text;
    } catch (const EBRNException& error) {
      std::string described = DescribeParseError(error);
      described.erase(0, described.find(' ', described.find(' ') + 1) + 1);
      EXPECT_EQ(described, message) << "text: " << text;
    }
  }
}

TreeHolder parse(std::string_view Text) {
  return ParseStatementText(Text);
}

// ---------------------------------------------------------------------------
// Tables

TEST(TableDdlGrammar, CreateTableSlots) {
  checkSlots({
      // Two columns and a constraint; MAX clauses in any order.
      {"CREATE TABLE t (a INTEGER, b VARCHAR(20) NOT NULL, PRIMARY KEY (a)) "
       "MAX BLOB BUFFER SIZE 64 MAX ROW BUFFER SIZE 32",
       "",
       {0, 3, 12, 14},
       {1, 2, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 16},
       17},
      {"CREATE TABLE t (a INTEGER, b VARCHAR(20) NOT NULL, PRIMARY KEY (a))",
       "3",
       {0, 1, 2},
       {},
       3},
      {"CREATE TABLE t (a INTEGER, b VARCHAR(20) NOT NULL, PRIMARY KEY (a))",
       "3.1.0",
       {0, 3},
       {1, 2, 4, 5},
       6},
      {"CREATE TABLE t (a INTEGER, b VARCHAR(20) NOT NULL, PRIMARY KEY (a))",
       "3.1.0.3",
       {},
       {0, 1},
       2},
      {"CREATE TABLE t (a INTEGER, b VARCHAR(20) NOT NULL, PRIMARY KEY (a))",
       "3.2.0",
       {0},
       {1, 2, 3, 4, 5, 6},
       7},
      // A foreign key with only ON DELETE: the update slot stays empty.
      {"CREATE TABLE t (a INTEGER, FOREIGN KEY (a) REFERENCES x (y) ON DELETE CASCADE)",
       "3.1.0",
       {0, 1, 2, 4},
       {3, 5, 6},
       7},
      {"CREATE TABLE t (a INTEGER, CONSTRAINT fk FOREIGN KEY (a) REFERENCES x (y) "
       "ON UPDATE SET NULL ON DELETE NO ACTION ERROR CODE 1 MESSAGE 'm' DESCRIPTION 'd')",
       "3.1.0",
       {0, 1, 2, 3, 5, 6},
       {4},
       7},
      {"CREATE TABLE t (a INTEGER, CHECK (a > 0))", "3.1.0", {0}, {1, 2, 3, 4, 5, 6}, 7},
      // AS: the query, WITH NO DATA empty, an empty element list.
      {"CREATE TABLE t AS SELECT a FROM b WITH NO DATA", "", {0, 1, 3}, {2, 4, 16}, 17},
      {"CREATE TABLE t AS SELECT a FROM b WITH NO DATA", "1", {0}, {1}, 2},
      {"CREATE TABLE t AS SELECT a FROM b WITH NO DATA", "3", {}, {}, 0},
      {"CREATE TABLE t AS (SELECT a FROM b) WITH DATA", "1", {0, 1}, {}, 2},
      {"CREATE TABLE t FROM UPDATES u IN STORE s", "", {0, 2, 3}, {1}, 17},
      {"CREATE TABLE t FROM UPDATES u IN STORE s", "2", {0, 1}, {}, 2},
      // LIKE: option slots in the order IDENTITY .. TRIGGERS.
      {"CREATE TABLE t (LIKE s INCLUDING INDEXES EXCLUDING TRIGGERS INCLUDING IDENTITY, c INTEGER)",
       "3.0.0",
       {0, 4},
       {1, 2, 3, 5},
       6},
      {"CREATE TABLE t (LIKE s)", "3.0.0", {}, {0, 1, 2, 3, 4, 5}, 6},
      // Column clauses.
      {"CREATE TABLE t (a INTEGER COMPRESSION 3 GENERATED ALWAYS AS IDENTITY (START WITH 100) "
       "DESCRIPTION 'd')",
       "3.0.0",
       {0, 1, 2, 5},
       {3, 4},
       6},
      {"CREATE TABLE t (a INTEGER GENERATED ALWAYS AS IDENTITY (START WITH 100))",
       "3.0.0.2",
       {0},
       {1},
       2},
      {"CREATE TABLE t (a INTEGER GENERATED BY DEFAULT AS IDENTITY (START WITH 1, INCREMENT BY 2))",
       "3.0.0.2",
       {0, 1},
       {},
       2},
      {"CREATE TABLE t (a INTEGER GENERATED BY DEFAULT AS IDENTITY)", "3.0.0.2", {}, {0, 1}, 2},
      {"CREATE TABLE t (a INTEGER NOT NULL ERROR CODE 1001 MESSAGE 'needed')",
       "3.0.0.3",
       {0, 1},
       {},
       2},
      // Column constraints follow each other; they have no DESCRIPTION slot.
      {"CREATE TABLE t (a INTEGER CONSTRAINT pk PRIMARY KEY UNIQUE CHECK (a > 0) ERROR CODE 5 "
       "MESSAGE 'm' REFERENCES x (y) DESCRIPTION 'd')",
       "3.0.0",
       {0, 4, 5},
       {1, 2, 3},
       6},
      {"CREATE TABLE t (a INTEGER PRIMARY KEY UNIQUE CHECK (a > 0) ERROR CODE 5 MESSAGE 'm' "
       "REFERENCES x (y))",
       "3.0.0.4",
       {0, 1, 2, 3},
       {},
       4},
      {"CREATE TABLE t (a INTEGER CHECK (a > 0) ERROR CODE 5 MESSAGE 'm')",
       "3.0.0.4.0",
       {0, 5},
       {1, 2, 3, 4},
       6},
      {"CREATE TABLE t (a INTEGER PRIMARY KEY)", "3.0.0.4.0", {}, {0, 1, 2, 3, 4, 5}, 6},
      {"CREATE TABLE t (a INTEGER REFERENCES x (y) ON UPDATE CASCADE)",
       "3.0.0.4.0",
       {1, 2, 3},
       {0, 4, 5},
       6},
      // Every table attribute.
      {"CREATE TABLE t (a INTEGER) DESCRIPTION 'd' VERSION 1 READONLY ENCRYPTED INDEX PAGE SIZE 1 "
       "BLOB BLOCK SIZE 2 PUBLISH BLOCK SIZE 3 PUBLISH COMPRESSION 4 MAX PUBLISH BUFFER SIZE 5 "
       "MAX INDEX BUFFER SIZE 6 ATTRIBUTES 'x'",
       "",
       {0, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 16},
       {1, 2, 12, 14},
       17},
      {"CREATE TABLE t (a INTEGER) READWRITE UNENCRYPTED PUBLISH COMPRESSION 4",
       "",
       {6, 7, 11},
       {10},
       17},
  });
}

TEST(TableDdlGrammar, AlterTableSlots) {
  checkSlots({
      // No alteration, attributes only.
      {"ALTER TABLE t DESCRIPTION 'x'", "", {0, 3, 4}, {1, 2, 5, 16}, 17},
      {"ALTER TABLE t DESCRIPTION 'x'", "3", {}, {}, 0},
      {"ALTER TABLE t ADD a INTEGER, DROP b, RENAME c TO d, ALTER e DROP DEFAULT",
       "3",
       {0, 1, 2, 3},
       {},
       4},
      // ADD COLUMN with its position; ALTER TABLE definitions have 8 slots.
      {"ALTER TABLE t ADD COLUMN c INTEGER NOT NULL AT 2", "3.0.0", {0, 3, 6}, {1, 2, 4, 5, 7}, 8},
      {"ALTER TABLE t ADD COLUMN c INTEGER UNIQUE AT 2 MAX ROW BUFFER SIZE 3",
       "3.0.0",
       {0, 4, 6},
       {1, 2, 3, 5, 7},
       8},
      {"ALTER TABLE t ALTER COLUMN c AS VARCHAR(10) DEFAULT 'a'",
       "3.0.0",
       {0, 2},
       {1, 3, 4, 5, 6, 7},
       8},
      {"ALTER TABLE t ALTER COLUMN c SET 5", "3.0.0", {2}, {0, 1, 3, 4, 5, 6, 7}, 8},
      {"ALTER TABLE t ALTER c MOVE TO 3", "3.0.0", {6}, {0, 1, 2, 3, 4, 5, 7}, 8},
      {"ALTER TABLE t ALTER c DROP DEFAULT", "3.0.0", {}, {0, 1, 2, 3, 4, 5, 6, 7}, 8},
      {"ALTER TABLE t ALTER c DESCRIPTION 'd'", "3.0.0", {5}, {0, 1, 2, 3, 4, 6, 7}, 8},
      {"ALTER TABLE t ALTER c RESTART WITH 10", "3.0.0", {7}, {0, 1, 2, 3, 4, 5, 6}, 8},
      {"ALTER TABLE t RENAME COLUMN c TO d", "3.0.0", {0}, {}, 1},
      {"ALTER TABLE t DROP COLUMN c", "3.0.0", {}, {}, 0},
      // Constraints.
      {"ALTER TABLE t ADD CONSTRAINT u UNIQUE (a, b) DESCRIPTION 'x'",
       "3.0.0",
       {0, 6},
       {1, 2, 3, 4, 5},
       7},
      {"ALTER TABLE t ALTER CONSTRAINT u AS CHECK (a > 1)", "3.0.0", {0}, {1, 2, 3, 4, 5, 6}, 7},
      {"ALTER TABLE t ALTER CONSTRAINT u DESCRIPTION 'x'", "3.0.0", {5}, {0, 1, 2, 3, 4}, 6},
      {"ALTER TABLE t RENAME CONSTRAINT u TO v", "3.0.0", {0}, {}, 1},
      {"ALTER TABLE t DROP CONSTRAINT u", "3.0.0", {}, {}, 0},
  });
}

TEST(TableDdlGrammar, OperationsNamesAndCapturedTexts) {
  TreeHolder create = parse(
      "CREATE TEMPORARY TABLE \"Order \"\"Lines\"\"\" (a INTEGER DEFAULT 1 + 2 NOT NULL, "
      "b BYTE(2) DEFAULT X'1F', c INTEGER GENERATED ALWAYS AS a + 1/*x*/, "
      "d INTEGER COMPUTED ALWAYS AS a * 2 NOT NULL, CHECK (a > 0 ) ) READONLY");
  EXPECT_EQ(create->Operation, opCreate);
  EXPECT_EQ(create->Variant, okTable);
  EXPECT_EQ(nodeAt(create.Get(), "0")->Name, "Order \"Lines\"");
  EXPECT_EQ(nodeAt(create.Get(), "0")->Variant, 1);  // TEMPORARY
  // The element list marks each element with ADD.
  EXPECT_EQ(nodeAt(create.Get(), "3.0")->Operation, opAdd);
  // Captured value texts run to the next token: blanks and comments included.
  EXPECT_EQ(nodeAt(create.Get(), "3.0.0.2")->Operation, opDefault);
  EXPECT_EQ(nodeAt(create.Get(), "3.0.0.2")->Text, "1 + 2 ");
  EXPECT_EQ(nodeAt(create.Get(), "3.1.0.2")->Text, "X'1F'");
  EXPECT_EQ(nodeAt(create.Get(), "3.2.0.2")->Operation, opGenerated);
  EXPECT_EQ(nodeAt(create.Get(), "3.2.0.2")->Text, "a + 1/*x*/");
  EXPECT_EQ(nodeAt(create.Get(), "3.3.0.2")->Operation, opComputed);
  EXPECT_EQ(nodeAt(create.Get(), "3.3.0.2")->Text, "a * 2 ");
  EXPECT_NE(nodeAt(create.Get(), "3.3.0.3"), nullptr);  // NOT NULL ends the expression
  EXPECT_EQ(nodeAt(create.Get(), "3.4.0")->Operation, opCheck);
  EXPECT_EQ(nodeAt(create.Get(), "3.4.0")->Text, "(a > 0 ) ");
  EXPECT_EQ(nodeAt(create.Get(), "6")->Text, "TRUE");
  EXPECT_EQ(nodeAt(create.Get(), "6")->DataType, dtBoolean);

  TreeHolder constraints = parse(
      "CREATE TABLE t (a INTEGER GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY UNIQUE "
      "REFERENCES x (y) ON UPDATE SET DEFAULT ON DELETE RESTRICT, "
      "b INTEGER GENERATED ALWAYS AS IDENTITY, "
      "FOREIGN KEY (a, b) REFERENCES x (c, d) ON UPDATE CASCADE ON DELETE SET NULL)");
  EXPECT_EQ(nodeAt(constraints.Get(), "3.0.0.2")->Operation, opGeneratedByDefault);
  EXPECT_EQ(nodeAt(constraints.Get(), "3.1.0.2")->Operation, opGeneratedIdentity);
  EXPECT_EQ(nodeAt(constraints.Get(), "3.0.0.4.0")->Operation, opPrimaryKey);
  EXPECT_EQ(nodeAt(constraints.Get(), "3.0.0.4.1")->Operation, opUnique);
  EXPECT_EQ(nodeAt(constraints.Get(), "3.0.0.4.2")->Operation, opForeignKey);
  EXPECT_EQ(nodeAt(constraints.Get(), "3.0.0.4.2.3")->Operation, opSetColumn);
  EXPECT_EQ(nodeAt(constraints.Get(), "3.0.0.4.2.4")->Operation, opRestrict);
  EXPECT_EQ(nodeAt(constraints.Get(), "3.2.0.0")->ArgumentCount(), 2);
  EXPECT_EQ(nodeAt(constraints.Get(), "3.2.0.1")->Kind, tkTableName);
  EXPECT_EQ(nodeAt(constraints.Get(), "3.2.0.3")->Operation, opCascade);
  EXPECT_EQ(nodeAt(constraints.Get(), "3.2.0.4")->Operation, opSetNull);

  TreeHolder alter = parse(
      "ALTER TABLE t ADD a INTEGER, ALTER b SET 'x' , ALTER c MOVE TO 1, ALTER d DROP DEFAULT, "
      "ALTER e DESCRIPTION 'd', ALTER f RESTART WITH 5, RENAME g TO h, DROP i, "
      "ALTER CONSTRAINT k DESCRIPTION 'x', RENAME CONSTRAINT l TO m");
  const std::vector<std::pair<TBRNExprOperation, TBRNExprOperation>> expected = {
      {opAdd, opNone},          {opAlter, opSetColumn},   {opAlter, opMoveTo},
      {opAlter, opDropDefault}, {opAlter, opDescription}, {opAlter, opRestartWith},
      {opRename, opNone},       {opDrop, opNone},         {opAlter, opDescription},
      {opRename, opNone}};
  ASSERT_EQ(nodeAt(alter.Get(), "3")->ArgumentCount(), int32_t(expected.size()));
  for (size_t i = 0; i < expected.size(); ++i) {
    const TBRNExprToken* alteration = nodeAt(alter.Get(), "3." + std::to_string(i));
    EXPECT_EQ(alteration->Operation, expected[i].first) << i;
    EXPECT_EQ(alteration->Argument(0)->Operation, expected[i].second) << i;
  }
  EXPECT_EQ(nodeAt(alter.Get(), "3.1.0.2")->Operation, opDefault);
  EXPECT_EQ(nodeAt(alter.Get(), "3.1.0.2")->Text, "'x' ");
  EXPECT_EQ(nodeAt(alter.Get(), "3.6.0.0")->Name, "h");
  EXPECT_EQ(nodeAt(alter.Get(), "3.8.0")->Kind, tkConstraintName);
  EXPECT_EQ(nodeAt(alter.Get(), "3.9.0.0")->Name, "m");
}

TEST(TableDdlGrammar, ErrorsNameWhatIsMissing) {
  checkErrors({
      {"CREATE TABLE t (a INTEGER) MAX ROW BUFFER SIZE 1 MAX ROW BUFFER SIZE 2",
       "Expected INDEX, BLOB, PUBLISH but instead found ROW"},
      // Once all four MAX clauses are read, a fifth is left over.
      {"CREATE TABLE t (a INTEGER) MAX ROW BUFFER SIZE 1 MAX INDEX BUFFER SIZE 2 MAX BLOB BUFFER "
       "SIZE 3 MAX PUBLISH BUFFER SIZE 4 MAX ROW BUFFER SIZE 5",
       "Expected end of expression but instead found MAX"},
      {"CREATE TABLE t (a INTEGER) MAX INDEX BUFFER SIZE 1 MAX SIZE 2",
       "Expected ROW, BLOB, PUBLISH but instead found SIZE"},
      {"CREATE TABLE t ()", "Expected column name but instead found )"},
      {"CREATE TABLE t (a INTEGER", "Missing )"},
      {"CREATE TABLE t (LIKE s INCLUDING INDEXES INCLUDING INDEXES)",
       "Expected IDENTITY, DEFAULTS, GENERATED, CONSTRAINTS, TRIGGERS but instead found INDEXES"},
      {"CREATE TABLE t (LIKE s EXCLUDING ROWS)",
       "Expected IDENTITY, DEFAULTS, GENERATED, CONSTRAINTS, INDEXES, TRIGGERS but instead found "
       "ROWS"},
      {"CREATE TABLE t (a INTEGER, PRIMARY KEY a)", "Expected ( but instead found a"},
      {"CREATE TABLE t (a INTEGER, CONSTRAINT)", "Expected constraint name but instead found )"},
      {"CREATE TABLE t (a INTEGER, CONSTRAINT c KEY (a))",
       "Expected PRIMARY, UNIQUE, FOREIGN, REFERENCES, CHECK but instead found KEY"},
      {"CREATE TABLE t (a INTEGER REFERENCES x)", "Expected ( but instead found )"},
      {"CREATE TABLE t (a INTEGER REFERENCES x (y) ON INSERT CASCADE)",
       "Expected UPDATE, DELETE but instead found INSERT"},
      {"CREATE TABLE t (a INTEGER REFERENCES x (y) ON UPDATE CASCADE ON UPDATE CASCADE)",
       "Expected DELETE but instead found UPDATE"},
      {"CREATE TABLE t (a INTEGER REFERENCES x (y) ON DELETE SET ZERO)",
       "Expected NULL, DEFAULT but instead found ZERO"},
      {"CREATE TABLE t (a INTEGER REFERENCES x (y) ON DELETE IGNORE)",
       "Expected CASCADE, SET, RESTRICT, NO but instead found IGNORE"},
      {"CREATE TABLE t (a INTEGER GENERATED SOMETIMES AS IDENTITY)",
       "Expected ALWAYS, BY but instead found SOMETIMES"},
      {"CREATE TABLE t (a INTEGER COMPUTED AS a)", "Expected ALWAYS but instead found AS"},
      {"CREATE TABLE t (a INTEGER) PUBLISH SIZE 3",
       "Expected BLOCK, COMPRESSION but instead found SIZE"},
      {"CREATE TABLE Sales.Orders (a INTEGER)",
       "Invalid expression . found, schema qualifier not allowed"},
      {"CREATE TABLE t (a INTEGER, FOREIGN KEY (a) REFERENCES s.x (y))",
       "Invalid expression . found, schema qualifier not allowed"},
      {"CREATE TABLE t AS SELECT a FROM b", "Missing WITH"},
      {"CREATE TABLE t AS SELECT a FROM b WITH SOME DATA", "Expected DATA but instead found SOME"},
      // After SET the value follows directly: DEFAULT is read as the value.
      {"ALTER TABLE t ALTER COLUMN c SET DEFAULT 5",
       "Expected end of expression but instead found 5"},
      {"ALTER TABLE t ADD a INTEGER,", "Missing ADD, ALTER, RENAME, DROP"},
      {"ALTER TABLE t ADD a INTEGER, MODIFY b",
       "Expected ADD, ALTER, RENAME, DROP but instead found MODIFY"},
      // In ALTER TABLE, READONLY does not end a column definition.
      {"ALTER TABLE t ADD a INTEGER READONLY",
       "Expected PRIMARY, UNIQUE, FOREIGN, REFERENCES, CHECK but instead found READONLY"},
      {"ALTER TABLE t ALTER c TYPE INTEGER",
       "Expected SET, DROP, MOVE, DESCRIPTION, RESTART but instead found TYPE"},
      {"ALTER TABLE t DROP PRIMARY KEY", "Expected CONSTRAINT but instead found PRIMARY"},
      {"ALTER TABLE t ALTER CONSTRAINT c SET 1", "Expected AS, DESCRIPTION but instead found SET"},
  });
}

// ---------------------------------------------------------------------------
// Views, routines, triggers and indexes

TEST(ObjectDdlGrammar, Slots) {
  checkSlots({
      {"CREATE VIEW v AS SELECT * FROM t WITH CHECK OPTION", "", {0, 1, 2}, {3, 4, 5}, 6},
      {"ALTER VIEW v AS SELECT * FROM t WITHOUT CHECK OPTION DESCRIPTION 'd' VERSION 2 "
       "ATTRIBUTES 'a'",
       "",
       {0, 1, 2, 3, 4, 5},
       {},
       6},
      {"CREATE VIEW v AS SELECT a FROM t", "", {0, 1}, {2, 3, 4, 5}, 6},
      {"CREATE FUNCTION f (IN a INTEGER, OUT b INTEGER) RETURNS INTEGER BEGIN RETURN a; END",
       "",
       {0},
       {1, 2, 3},
       4},
      {"CREATE FUNCTION f (IN a INTEGER, OUT b INTEGER) RETURNS INTEGER BEGIN RETURN a; END",
       "0",
       {0, 2, 5},
       {1, 3, 4},
       6},
      {"CREATE FUNCTION f (a INTEGER DESCRIPTION 'x') RETURNS INTEGER BEGIN RETURN a; END",
       "0.0.0",
       {0, 1},
       {},
       2},
      {"CREATE FUNCTION f RETURNS INTEGER EXTERNAL NAME m VERSION 2", "", {0, 2}, {1, 3}, 4},
      {"CREATE FUNCTION f RETURNS INTEGER EXTERNAL NAME m VERSION 2", "0", {0, 2, 4}, {1, 3, 5}, 6},
      {"CREATE FUNCTION f () RETURNS CHAR(3) EXTERNAL NAME m", "0.0", {}, {}, 0},
      {"CREATE FUNCTION f () RETURNS CHAR(3) EXTERNAL NAME m", "0.2.0", {0}, {}, 1},
      {"CREATE PROCEDURE p () EXTERNAL NAME m DESCRIPTION 'x'", "", {0, 1}, {2, 3}, 4},
      {"CREATE PROCEDURE p () EXTERNAL NAME m DESCRIPTION 'x'", "0", {0, 4}, {1, 2, 3, 5}, 6},
      {"ALTER PROCEDURE p (INOUT a INTEGER) BEGIN END ATTRIBUTES 'x'",
       "0",
       {0, 5},
       {1, 2, 3, 4},
       6},
      {"ALTER PROCEDURE p (INOUT a INTEGER) BEGIN END ATTRIBUTES 'x'", "", {0, 3}, {1, 2}, 4},
      {"CREATE TRIGGER t BEFORE UPDATE OF a, b ON x AT 1 WHEN (a > 0) BEGIN END DESCRIPTION 'd'",
       "",
       {0, 1, 2, 3, 4, 5},
       {},
       6},
      {"CREATE TRIGGER t BEFORE UPDATE OF a, b ON x AT 1 WHEN (a > 0) BEGIN END DESCRIPTION 'd'",
       "0",
       {0, 1, 5},
       {2, 3, 4},
       6},
      {"CREATE TRIGGER t BEFORE UPDATE OF a, b ON x AT 1 WHEN (a > 0) BEGIN END DESCRIPTION 'd'",
       "1",
       {0, 1},
       {},
       2},
      {"CREATE TRIGGER t AFTER INSERT ON x BEGIN END", "", {0, 2}, {1, 3, 4, 5}, 6},
      {"CREATE TRIGGER t AFTER INSERT ON x BEGIN END", "0.0", {}, {}, 0},
      {"CREATE TRIGGER t AFTER INSERT ON x BEGIN END", "0.1", {0, 1}, {}, 2},
      {"CREATE INDEX i ON t (a DESC, b COLLATE ANSI_CI) DESCRIPTION 'x'", "", {0, 1, 2, 3}, {}, 4},
      {"CREATE INDEX i ON t (a DESC, b COLLATE ANSI_CI)", "2.0", {2}, {0, 1}, 3},
      {"CREATE INDEX i ON t (a DESC, b COLLATE ANSI_CI)", "2.1", {1}, {0, 2}, 3},
      {"CREATE TEXT INDEX i ON t (a COLLATE ANSI) DESCRIPTION 'd' INDEXED WORD LENGTH 30 "
       "FILTER TYPE COLUMN ft WORD GENERATOR g",
       "",
       {0, 1, 2, 3, 4, 5, 6},
       {},
       7},
      {"CREATE TEXT INDEX i ON t (a)", "", {0, 1, 2}, {3, 4, 5, 6}, 7},
      {"CREATE TEXT INDEX i ON t (a)", "2.0", {}, {0, 1}, 2},
  });
}

TEST(ObjectDdlGrammar, RoutineRootsAndTexts) {
  TreeHolder function = parse(
      "CREATE FUNCTION f (IN a INTEGER, OUT b INTEGER, INOUT c INTEGER) RETURNS INTEGER "
      "BEGIN RETURN a; END DESCRIPTION 'x'");
  EXPECT_EQ(function->Variant, okFunction);
  EXPECT_EQ(nodeAt(function.Get(), "0")->Kind, tkFunctionName);
  EXPECT_EQ(nodeAt(function.Get(), "0.0.0")->Operation, opParamIn);
  EXPECT_EQ(nodeAt(function.Get(), "0.0.1")->Operation, opParamOut);
  EXPECT_EQ(nodeAt(function.Get(), "0.0.2")->Operation, opParamInOut);
  EXPECT_EQ(nodeAt(function.Get(), "0.0.1")->Name, "b");
  EXPECT_EQ(nodeAt(function.Get(), "0.2.0")->Operation, opResultParam);
  EXPECT_EQ(nodeAt(function.Get(), "0.2.0")->Name, "Result");
  EXPECT_EQ(nodeAt(function.Get(), "0.2.0.0")->DataType, dtInteger);
  EXPECT_EQ(nodeAt(function.Get(), "0.5")->Kind, tkBlock);
  EXPECT_EQ(function->Text,
            "FUNCTION \"f\" (IN a INTEGER, OUT b INTEGER, INOUT c INTEGER) RETURNS INTEGER "
            "BEGIN RETURN a; END ");

  TreeHolder external = parse("CREATE PROCEDURE p () EXTERNAL NAME m");
  EXPECT_EQ(external->Text, "PROCEDURE \"p\" () EXTERNAL NAME m");
  EXPECT_EQ(nodeAt(external.Get(), "0.4")->Kind, tkModuleName);

  TreeHolder trigger = parse("CREATE TRIGGER \"Audit\" ERROR LOAD UPDATE ON x BEGIN END;");
  EXPECT_EQ(nodeAt(trigger.Get(), "0")->Operation, opErrorLoadUpdate);
  EXPECT_EQ(trigger->Text, "TRIGGER \"Audit\"\r\nBEGIN END");
  EXPECT_EQ(nodeAt(trigger.Get(), "0.1.0")->Kind, tkRowVariable);
  EXPECT_EQ(nodeAt(trigger.Get(), "0.1.0")->Variant, 0);
  EXPECT_EQ(nodeAt(trigger.Get(), "0.1.1")->Variant, 1);

  TreeHolder when = parse("CREATE TRIGGER t AFTER DELETE ON x WHEN a > 1  BEGIN END");
  EXPECT_EQ(nodeAt(when.Get(), "4")->Text, "a > 1  ");

  TreeHolder view = parse("CREATE VIEW v AS SELECT * FROM t WITH CHECK OPTION");
  EXPECT_EQ(view->Text, "SELECT * FROM t ");
  EXPECT_EQ(nodeAt(view.Get(), "2")->Text, "TRUE");
  EXPECT_EQ(nodeAt(view.Get(), "2")->DataType, dtBoolean);

  TreeHolder index = parse("CREATE INDEX i ON t (a DESC, b COLLATE ANSI_CI, c ASCENDING)");
  EXPECT_EQ(nodeAt(index.Get(), "2.0.2")->Operation, opDescending);
  EXPECT_EQ(nodeAt(index.Get(), "2.1.1")->Operation, opCollate);
  EXPECT_EQ(nodeAt(index.Get(), "2.1.1.0")->Name, "ANSI_CI");
  EXPECT_EQ(nodeAt(index.Get(), "2.2.2")->Operation, opAscending);
}

TEST(ObjectDdlGrammar, TriggerEvents) {
  const std::vector<std::pair<std::string, TBRNExprOperation>> events = {
      {"BEFORE ALL", opBeforeAll},
      {"BEFORE INSERT", opBeforeInsert},
      {"BEFORE UPDATE", opBeforeUpdate},
      {"BEFORE DELETE", opBeforeDelete},
      {"BEFORE LOAD UPDATE", opBeforeLoadUpdate},
      {"AFTER ALL", opAfterAll},
      {"AFTER INSERT", opAfterInsert},
      {"AFTER UPDATE", opAfterUpdate},
      {"AFTER DELETE", opAfterDelete},
      {"AFTER LOAD UPDATE", opAfterLoadUpdate},
      {"ERROR ALL", opErrorAll},
      {"ERROR INSERT", opErrorInsert},
      {"ERROR UPDATE", opErrorUpdate},
      {"ERROR DELETE", opErrorDelete},
      {"ERROR LOAD UPDATE", opErrorLoadUpdate}};
  for (const auto& [event, code] : events) {
    TreeHolder tree = parse("CREATE TRIGGER t " + event + " ON x BEGIN END");
    EXPECT_EQ(nodeAt(tree.Get(), "0")->Operation, code) << event;
  }
  // OF is read only by ALL and UPDATE triggers before or after the change.
  for (std::string_view event : {"BEFORE ALL", "AFTER ALL", "BEFORE UPDATE", "AFTER UPDATE"})
    EXPECT_NE(
        nodeAt(parse("CREATE TRIGGER t " + std::string(event) + " OF a ON x BEGIN END").Get(), "1"),
        nullptr)
        << event;
}

TEST(ObjectDdlGrammar, Errors) {
  checkErrors({
      {"CREATE TRIGGER t BEFORE INSERT OF a ON x BEGIN END", "Expected ON but instead found OF"},
      {"CREATE TRIGGER t ERROR UPDATE OF a ON x BEGIN END", "Expected ON but instead found OF"},
      {"CREATE TRIGGER t DURING INSERT ON x BEGIN END",
       "Expected BEFORE, AFTER, ERROR but instead found DURING"},
      {"CREATE TRIGGER t AFTER CHANGE ON x BEGIN END",
       "Expected ALL, INSERT, UPDATE, DELETE, LOAD UPDATE but instead found CHANGE"},
      {"CREATE TRIGGER t AFTER LOAD ON x BEGIN END", "Expected UPDATE but instead found ON"},
      {"CREATE TRIGGER t AFTER INSERT ON Sales.x BEGIN END",
       "Invalid expression . found, schema qualifier not allowed"},
      {"CREATE TEXT INDEX i ON t (a, b)", "Expected ) but instead found ,"},
      {"CREATE TEXT INDEX i ON t (a DESC)", "Expected ) but instead found DESC"},
      {"CREATE INDEX i t (a)", "Expected ON but instead found t"},
      {"CREATE INDEX i ON t a", "Expected ( but instead found a"},
      {"CREATE INDEX i ON t (a COLLATE 'x')", "Expected collation name but instead found 'x'"},
      {"CREATE INDEX (a) ON t", "Expected index name but instead found ("},
      {"CREATE VIEW v SELECT a FROM t", "Expected AS but instead found SELECT"},
      {"CREATE VIEW 'v' AS SELECT a FROM t", "Expected view name but instead found 'v'"},
      {"CREATE VIEW v AS SELECT a FROM t WITH OPTION", "Expected CHECK but instead found OPTION"},
      {"CREATE FUNCTION f (a INTEGER) BEGIN END", "Expected RETURNS but instead found BEGIN"},
      {"CREATE FUNCTION f (a INTEGER RETURNS INTEGER BEGIN END",
       "Expected ) but instead found RETURNS"},
      {"CREATE FUNCTION f (1 INTEGER) RETURNS INTEGER BEGIN END",
       "Expected parameter name but instead found 1"},
      {"CREATE FUNCTION 'f' () RETURNS INTEGER BEGIN END",
       "Expected function name but instead found 'f'"},
      {"CREATE PROCEDURE p EXTERNAL m", "Expected NAME but instead found m"},
      {"CREATE PROCEDURE 1 () BEGIN END", "Expected procedure name but instead found 1"},
      {"CREATE TRIGGER 1 AFTER INSERT ON x BEGIN END", "Expected trigger name but instead found 1"},
  });
}

TEST(ObjectDdlGrammar, OutputParametersNeedTheirFlag) {
  for (const auto& [flags, expected] : std::vector<std::pair<TBRNParseFlags, std::string>>{
           {0, "error 1:2 Invalid expression OUT found, output parameters not allowed"},
           {pcOutputParams, "2"}}) {
    StatementOwner owner("(OUT a INTEGER, b INTEGER)");
    TBRNExprParser parser;
    parser.BeginParse(owner);
    try {
      TreeHolder list(parser.ParseRoutineParameterList(flags));
      EXPECT_EQ(std::to_string(list->ArgumentCount()), expected);
    } catch (const EBRNException& error) {
      EXPECT_EQ(DescribeParseError(error), expected);
    }
  }
  // pcNoParamList reads nothing.
  StatementOwner owner("(a INTEGER)");
  TBRNExprParser parser;
  parser.BeginParse(owner);
  TreeHolder list(parser.ParseRoutineParameterList(pcNoParamList));
  EXPECT_EQ(list->ArgumentCount(), 0);
  EXPECT_TRUE(parser.IsToken('('));
}

// Routine bodies get the flags of their kind: RETURN ends a function body,
// RETRY belongs to error triggers and USE to jobs.
TEST(ObjectDdlGrammar, BodiesTakeTheFlagsOfTheirKind) {
  for (const char* text : {
           "CREATE FUNCTION f () RETURNS INTEGER BEGIN RETURN 1; END",
           "CREATE TRIGGER t ERROR UPDATE ON x BEGIN RETRY; END",
           "CREATE JOB j RUN AS u FROM 1 TO 2 ONCE BETWEEN 3 AND 4 BEGIN USE db; END",
       }) {
    try {
      parse(text);
    } catch (const EBRNException& error) {
      ADD_FAILURE() << text << ": " << DescribeParseError(error);
    }
  }
  checkErrors({
      {"CREATE PROCEDURE p BEGIN RETURN 1; END",
       "Invalid expression RETURN found, RETURN statement not allowed"},
      {"CREATE TRIGGER t AFTER UPDATE ON x BEGIN RETRY; END",
       "Invalid expression RETRY found, exception handling statements and functions not allowed"},
      {"CREATE PROCEDURE p BEGIN USE db; END",
       "Invalid expression USE found, database operations not allowed"},
  });
  // A view's query takes no dynamic parameters even where the statement
  // could.
  try {
    ParseStatementText("CREATE VIEW v AS SELECT a FROM t WHERE a = ?",
                       kStatementFlags | pcDynamicParams);
    ADD_FAILURE() << "a view with a parameter marker parsed";
  } catch (const EBRNException& error) {
    EXPECT_EQ(DescribeParseError(error),
              "error 1:44 Invalid expression ? found, dynamic parameter references not allowed");
  }
  // The statement's terminator is not the body's: it ends the statement.
  TreeHolder tree =
      ParseStatementText("CREATE PROCEDURE p BEGIN END;", kStatementFlags | pcTerminator);
  EXPECT_EQ(tree->Text, "PROCEDURE \"p\" BEGIN END");
}

// A scanner error right after a node is made (an unterminated comment)
// must not leak it; the sanitizer build reports any leak.
TEST(DdlGrammar, ScannerErrorsAfterANewNodeLeakNothing) {
  checkErrors({
      {"CREATE TABLE t (a INTEGER REFERENCES x (y) ON DELETE CASCADE /*", "Missing /"},
      {"CREATE TABLE t (a INTEGER) READONLY /*", "Missing /"},
      {"CREATE JOB j RUN AS u FROM 1 TO 2 MONTHLY ON Fri /*", "Missing /"},
      {"CREATE VIEW v AS SELECT a FROM t WITH /*", "Missing /"},
      {"GRANT ALL /*", "Missing /"},
  });
}

// Whole statements printed, for the shapes the slot tables do not show.
TEST(DdlGrammar, PrintedShapes) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"CREATE TABLE t (a INTEGER, b VARCHAR(20) NOT NULL, PRIMARY KEY (a)) MAX BLOB BUFFER SIZE "
       "64 "
       "MAX ROW BUFFER SIZE 32",
       "Statement:Create(TableName t, nil, nil, List(List:Add(ColumnName a(DataType:Integer, nil, "
       "nil, nil, nil, nil)), List:Add(ColumnName b(DataType:VarChar(20, nil), nil, nil, List(nil, "
       "nil), nil, nil)), List:Add(ConstraintName:PrimaryKey(List(ColumnName a), nil, nil, nil, "
       "nil, nil, nil))), nil, nil, nil, nil, nil, nil, nil, nil, 32, nil, 64, nil, nil) #9"},
      {"CREATE TABLE t (a INTEGER DEFAULT 1 + 2 NOT NULL REFERENCES x (y) ON DELETE CASCADE)",
       "Statement:Create(TableName t, nil, nil, List(List:Add(ColumnName a(DataType:Integer, nil, "
       "List:Default((1 + 2)), List(nil, nil), List(ConstraintName:ForeignKey(nil, TableName x, "
       "List(ColumnName y), nil, List:Cascade, nil)), nil))), nil, nil, nil, nil, nil, nil, nil, "
       "nil, nil, nil, nil, nil, nil) #9"},
      {"ALTER TABLE t ADD COLUMN c INTEGER NOT NULL AT 2, ALTER c SET 5",
       "Statement:Alter(TableName t, nil, nil, List(List:Add(ColumnName c(DataType:Integer, nil, "
       "nil, List(nil, nil), nil, nil, 2, nil)), List:Alter(ColumnName:SetColumn c(nil, nil, "
       "List:Default(5), nil, nil, nil, nil, nil))), nil, nil, nil, nil, nil, nil, nil, nil, nil, "
       "nil, nil, nil, nil) #9"},
      {"CREATE FUNCTION f (IN a INTEGER, OUT b INTEGER) RETURNS INTEGER BEGIN RETURN a; END",
       "Statement:Create(FunctionName f(List(RoutineParam:ParamIn a(DataType:Integer, nil), "
       "RoutineParam:ParamOut b(DataType:Integer, nil)), nil, List(RoutineParam:ResultParam "
       "Result(DataType:Integer)), nil, nil, Block:BeginBlock(BlockSection, BlockSection, "
       "RoutineStatement:Return(a), nil)), nil, nil, nil) #2"},
      {"CREATE JOB j RUN AS u FROM d1 TO d2 MONTHLY ON LAST Fri OF Jan, Jul BETWEEN t1 AND t2 "
       "BEGIN END",
       "Statement:Create(JobName j(List, nil, nil, nil, nil, Block:BeginBlock(BlockSection, "
       "BlockSection, nil, nil)), UserName u, d1, d2, List, nil, nil, nil, 5(5), List(Jan, nil, "
       "nil, nil, nil, nil, Jul, nil, nil, nil, nil, nil), t1, t2, nil, nil, nil, nil) #4"},
      {"CREATE STORE s AS REMOTE HOST h SERVICE x USER u PASSWORD p STORE s2",
       "Statement:Create(StoreName s, nil, nil, h, nil, x, UserName u, p, StoreName s2, nil, nil, "
       "nil, nil, nil, nil, nil) #5"},
  };
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(testing::ParseStatementAndPrint(text), expected) << text;
}

// A name with a double quote in it: the routine text doubles it, and the
// routine entry reads the text back into the same routine tree.
TEST(ObjectDdlGrammar, QuotedNamesSurviveTheRoutineText) {
  struct RoutineCase {
    std::string Statement;
    std::string Text;
    TBRNExprToken* (TBRNExprParser::*Entry)(TBRNParseFlags);
    TBRNParseFlags EntryFlags;
  };
  const std::vector<RoutineCase> cases = {
      {"CREATE PROCEDURE \"Say \"\"Hi\"\"\" (a INTEGER) BEGIN END",
       "PROCEDURE \"Say \"\"Hi\"\"\" (a INTEGER) BEGIN END", &TBRNExprParser::ParseProcedureRoutine,
       kStatementFlags | pcResultCursors},
      {"CREATE FUNCTION \"f\"\"\" () RETURNS INTEGER BEGIN RETURN 1; END",
       "FUNCTION \"f\"\"\" () RETURNS INTEGER BEGIN RETURN 1; END",
       &TBRNExprParser::ParseFunctionRoutine, kStatementFlags | pcReturn},
      {"CREATE TRIGGER \"t\"\"x\" AFTER INSERT ON x BEGIN END", "TRIGGER \"t\"\"x\"\r\nBEGIN END",
       &TBRNExprParser::ParseTriggerRoutine, kStatementFlags},
      {"CREATE JOB \"j\"\"\" RUN AS u FROM 1 TO 2 ONCE BETWEEN 3 AND 4 BEGIN END",
       "JOB \"j\"\"\"\r\nBEGIN END", &TBRNExprParser::ParseJobRoutine,
       kStatementFlags | pcDatabaseOperations},
  };
  for (const RoutineCase& c : cases) {
    SCOPED_TRACE(c.Statement);
    TreeHolder statement = parse(c.Statement);
    EXPECT_EQ(statement->Text, c.Text);
    StatementOwner owner(statement->Text);
    TBRNExprParser parser;
    parser.BeginParse(owner);
    TreeHolder routine((parser.*c.Entry)(c.EntryFlags));
    EXPECT_TRUE(parser.TokenAtEnd());
    EXPECT_EQ(routine->Name, statement->Argument(0)->Name);
    // A trigger's event is no part of its routine text: the trigger object
    // holds it and gives it to the compiled routine.
    routine->Operation = statement->Argument(0)->Operation;
    EXPECT_TRUE(ExprTreesEqual(routine.Get(), statement->Argument(0)))
        << PrintTree(routine.Get()) << "\n"
        << PrintTree(statement->Argument(0));
  }
}

// ---------------------------------------------------------------------------
// Configuration objects, jobs and privileges

TEST(ConfigDdlGrammar, Slots) {
  checkSlots({
      {"CREATE DATABASE d PATH 'x' ENCRYPTED CATALOG DESCRIPTION 'd' ATTRIBUTES 'a'",
       "",
       {0, 1, 2, 3, 4},
       {},
       5},
      {"CREATE DATABASE d IN MEMORY", "", {0}, {1, 2, 3, 4}, 5},
      {"ALTER DATABASE d PATH 'x' UNENCRYPTED CATALOG", "", {0, 1, 2}, {3, 4}, 5},
      {"CREATE USER u PASSWORD 'p'", "", {0, 1}, {2, 3}, 4},
      {"ALTER USER u PASSWORD 'p' DESCRIPTION 'd' ATTRIBUTES 'a'", "", {0, 1, 2, 3}, {}, 4},
      {"CREATE ROLE r DESCRIPTION 'd'", "", {0, 1}, {2}, 3},
      {"CREATE MODULE m PATH 'x'", "", {0, 1}, {2}, 3},
      {"ALTER MODULE m PATH 'x' DESCRIPTION 'd'", "", {0, 1, 2}, {}, 3},
      {"CREATE TEXT FILTER f TYPE 'html' MODULE m DESCRIPTION 'd'", "", {0, 1, 2, 3}, {}, 4},
      {"ALTER TEXT FILTER f DESCRIPTION 'd'", "", {0, 3}, {1, 2}, 4},
      {"CREATE WORD GENERATOR g MODULE m", "", {0, 1}, {2}, 3},
      {"ALTER WORD GENERATOR g DESCRIPTION 'd'", "", {0, 2}, {1}, 3},
      {"CREATE MIGRATOR m MODULE x", "", {0, 1}, {2}, 3},
      {"ALTER MIGRATOR m", "", {0}, {1, 2}, 3},
      {"CREATE STORE s AS LOCAL PATH 'x' DESCRIPTION 'd'",
       "",
       {0, 1, 14},
       {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15},
       16},
      {"CREATE STORE s AS REMOTE HOST h SERVICE x USER u PASSWORD p STORE s2",
       "",
       {0, 3, 5, 6, 7, 8},
       {1, 2, 4, 9, 10, 11, 12, 13, 14, 15},
       16},
      {"ALTER STORE s AS REMOTE ADDRESS '10.0.0.1' PORT 12010 USER u PASSWORD 'p' STORE s2 "
       "SIGNATURE 'sig' ENCRYPTED WITH PASSWORD 'e' COMPRESSION 6 TIMEOUT 30 PING 60 "
       "DESCRIPTION 'd' ATTRIBUTES 'a'",
       "",
       {0, 2, 4, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
       {1, 3, 5},
       16},
      // Jobs: the schedule fills only its own slots.
      {"CREATE JOB j RUN AS u FROM d1 TO d2 WEEKLY ON Mon, Fri BETWEEN t1 AND t2 BEGIN END",
       "",
       {0, 1, 2, 3, 4, 6, 10, 11},
       {5, 7, 8, 9, 12, 13, 14, 15},
       16},
      {"CREATE JOB j RUN AS u FROM d1 TO d2 WEEKLY ON Mon, Fri BETWEEN t1 AND t2 BEGIN END",
       "6",
       {0, 4},
       {1, 2, 3, 5, 6},
       7},
      {"CREATE JOB j RUN AS u FROM d1 TO d2 WEEKLY ON Mon, Fri BETWEEN t1 AND t2 BEGIN END",
       "0",
       {0, 5},
       {1, 2, 3, 4},
       6},
      {"ALTER JOB j RUN AS u FROM d1 TO d2 ONCE BETWEEN t1 AND t2 CATEGORY 'c' BEGIN END "
       "DESCRIPTION 'd' VERSION 1 ATTRIBUTES 'a'",
       "",
       {0, 1, 2, 3, 4, 10, 11, 12, 13, 14, 15},
       {5, 6, 7, 8, 9},
       16},
      // Typed literals and the layout that stored job definitions use.
      {"CREATE JOB \"Nightly\"\r\nRUN AS \"Admin\"\r\nFROM DATE '2024-01-01' TO DATE '2024-12-31'"
       "\r\nDAILY ON MON, TUE\r\nBETWEEN TIME '08:00:00.000' AND TIME '17:00:00.000'\r\n"
       "CATEGORY 'c'\r\nBEGIN\r\nEND\r\nDESCRIPTION 'd'\r\nVERSION 1.00",
       "",
       {0, 1, 2, 3, 4, 6, 10, 11, 12, 13, 14},
       {5, 7, 8, 9, 15},
       16},
      {"CREATE JOB j RUN AS u FROM 1 TO 2 MONTHLY ON LAST Fri OF Jan, Jul BETWEEN 3 AND 4 BEGIN "
       "END",
       "9",
       {0, 6},
       {1, 2, 3, 4, 5, 7, 8, 9, 10, 11},
       12},
  });
}

TEST(ConfigDdlGrammar, ScheduleKindsFillTheirSlots) {
  struct ScheduleCase {
    std::string Schedule;
    TBRNJobScheduleKind Kind;
    std::vector<int32_t> Set;
  };
  const std::vector<ScheduleCase> cases = {
      {"ONCE", jsOnce, {}},
      {"DAILY", jsDaily, {}},
      {"daily on sat, SUN", jsDaily, {6}},
      {"WEEKLY ON Wed", jsWeekly, {6}},
      {"MONTHLY ON DAY 15 OF Dec", jsMonthly, {7, 9}},
      {"MONTHLY ON Fri OF Jan", jsMonthly, {8, 9}},
      {"EVERY 3 DAYS", jsEveryXDays, {5}},
      {"EVERY 2 WEEKS ON Tue", jsEveryXWeeks, {5, 6}},
      {"HOURLY", jsHourly, {}},
      {"HOURLY ON Mon", jsHourly, {6}},
      {"EVERY 4 HOURS", jsEveryXHours, {5}},
      {"EVERY 4 HOURS ON Thu", jsEveryXHours, {5, 6}},
      {"EVERY 15 MINUTES", jsEveryXMinutes, {5}},
      {"EVERY 15 MINUTES ON Mon, Tue", jsEveryXMinutes, {5, 6}},
  };
  for (const ScheduleCase& c : cases) {
    SCOPED_TRACE(c.Schedule);
    TreeHolder tree =
        parse("CREATE JOB j RUN AS u FROM 1 TO 2 " + c.Schedule + " BETWEEN 3 AND 4 BEGIN END");
    EXPECT_EQ(nodeAt(tree.Get(), "4")->Variant, c.Kind);
    for (int32_t slot = 5; slot <= 9; ++slot) {
      const bool set = std::find(c.Set.begin(), c.Set.end(), slot) != c.Set.end();
      EXPECT_EQ(tree->Argument(slot) != nullptr, set) << "slot " << slot;
    }
  }

  TreeHolder days =
      parse("CREATE JOB j RUN AS u FROM 1 TO 2 WEEKLY ON sun, mon, TUE BETWEEN 3 AND 4 BEGIN END");
  EXPECT_EQ(nodeAt(days.Get(), "6.0")->Text, "Mon");
  EXPECT_EQ(nodeAt(days.Get(), "6.1")->Text, "Tue");
  EXPECT_EQ(nodeAt(days.Get(), "6.6")->Text, "Sun");
  EXPECT_EQ(nodeAt(days.Get(), "6.6")->Kind, tkConstant);

  TreeHolder last = parse(
      "CREATE JOB j RUN AS u FROM 1 TO 2 MONTHLY ON LAST Fri OF Jan, Jul BETWEEN 3 AND 4 BEGIN "
      "END");
  EXPECT_EQ(nodeAt(last.Get(), "8")->Text, "5");
  EXPECT_EQ(nodeAt(last.Get(), "8")->DataType, dtInteger);
  EXPECT_EQ(nodeAt(last.Get(), "8.0")->Text, "5");
  EXPECT_EQ(nodeAt(last.Get(), "8.0")->DataType, dtInteger);
  EXPECT_EQ(nodeAt(last.Get(), "9.0")->Text, "Jan");
  EXPECT_EQ(nodeAt(last.Get(), "9.6")->Text, "Jul");

  TreeHolder plain = parse(
      "CREATE JOB j RUN AS u FROM 1 TO 2 MONTHLY ON second sun OF dec BETWEEN 3 AND 4 BEGIN END");
  EXPECT_EQ(nodeAt(plain.Get(), "8")->Text, "2");
  EXPECT_EQ(nodeAt(plain.Get(), "8.0")->Text, "7");
  TreeHolder noOrdinal =
      parse("CREATE JOB j RUN AS u FROM 1 TO 2 MONTHLY ON Fri OF Jan BETWEEN 3 AND 4 BEGIN END");
  EXPECT_EQ(nodeAt(noOrdinal.Get(), "8")->Text, "");
  EXPECT_EQ(nodeAt(noOrdinal.Get(), "8.0")->Text, "5");
}

TEST(ConfigDdlGrammar, GrantAndRevoke) {
  TreeHolder roles = parse("GRANT Managers, Clerks TO Ann, Bob");
  EXPECT_EQ(roles->Operation, opGrantRoles);
  EXPECT_EQ(nodeAt(roles.Get(), "0")->ArgumentCount(), 2);
  EXPECT_EQ(nodeAt(roles.Get(), "0.1")->Kind, tkRoleName);
  EXPECT_EQ(nodeAt(roles.Get(), "1")->ArgumentCount(), 2);
  EXPECT_EQ(nodeAt(roles.Get(), "1.1")->Kind, tkUserName);
  EXPECT_EQ(nodeAt(roles.Get(), "1.1")->Name, "Bob");

  TreeHolder all = parse("GRANT ALL PRIVILEGES ON TABLE Orders TO Ann");
  EXPECT_EQ(all->Operation, opGrantPrivileges);
  ASSERT_EQ(nodeAt(all.Get(), "0")->ArgumentCount(), 1);
  EXPECT_EQ(nodeAt(all.Get(), "0.0")->Kind, tkPrivilege);
  EXPECT_EQ(nodeAt(all.Get(), "0.0")->Name, "ALL");
  EXPECT_EQ(nodeAt(all.Get(), "2.0")->Kind, tkGranteeName);

  EXPECT_EQ(parse("REVOKE Managers FROM Ann")->Operation, opRevokeRoles);
  TreeHolder revoke = parse("REVOKE select, Insert ON VIEW v FROM Ann, Clerks");
  EXPECT_EQ(revoke->Operation, opRevokePrivileges);
  EXPECT_EQ(nodeAt(revoke.Get(), "0.1")->Name, "Insert");
  EXPECT_EQ(nodeAt(revoke.Get(), "2")->ArgumentCount(), 2);

  // The object's name kind tells the object type.
  const std::vector<std::pair<std::string, TBRNExprTokenKind>> objects = {
      {"DATABASE d", tkDatabaseName},   {"STORE s", tkStoreName},
      {"TABLE t", tkTableName},         {"VIEW v", tkViewName},
      {"PROCEDURE p", tkProcedureName}, {"FUNCTION f", tkFunctionName}};
  for (const auto& [object, kind] : objects) {
    TreeHolder tree = parse("GRANT EXECUTE, MAINTAIN ON " + object + " TO a");
    EXPECT_EQ(nodeAt(tree.Get(), "1")->Kind, kind) << object;
  }
}

TEST(ConfigDdlGrammar, Errors) {
  checkErrors({
      {"CREATE DATABASE d", "Missing IN"},
      {"CREATE DATABASE d IN FILE", "Expected MEMORY but instead found FILE"},
      {"CREATE DATABASE d PATH 'x' ENCRYPTED", "Missing CATALOG"},
      {"CREATE USER u", "Missing PASSWORD"},
      {"CREATE USER 'u' PASSWORD 'p'", "Expected user name but instead found 'u'"},
      {"CREATE MODULE m 'x'", "Expected PATH but instead found 'x'"},
      {"CREATE TEXT FILTER f MODULE m", "Expected TYPE but instead found MODULE"},
      {"CREATE WORD GENERATOR g PATH 'x'", "Expected MODULE but instead found PATH"},
      // ALTER takes only the DESCRIPTION clause of these objects.
      {"ALTER TEXT FILTER f TYPE x", "Expected end of expression but instead found TYPE"},
      {"ALTER WORD GENERATOR g MODULE m", "Expected end of expression but instead found MODULE"},
      {"ALTER MIGRATOR m MODULE x", "Expected end of expression but instead found MODULE"},
      {"CREATE STORE s LOCAL PATH 'x'", "Expected AS but instead found LOCAL"},
      {"CREATE STORE s AS SHARED", "Expected LOCAL, REMOTE but instead found SHARED"},
      {"CREATE STORE s AS REMOTE PORT 1", "Expected ADDRESS, HOST but instead found PORT"},
      {"CREATE STORE s AS REMOTE HOST h USER u", "Expected PORT, SERVICE but instead found USER"},
      {"CREATE STORE s AS REMOTE HOST h PORT 1 PASSWORD p",
       "Expected USER but instead found PASSWORD"},
      {"CREATE STORE s AS REMOTE HOST h PORT 1 USER u PASSWORD p", "Missing STORE"},
      {"CREATE JOB j AS u FROM 1 TO 2 ONCE BETWEEN 3 AND 4 BEGIN END",
       "Expected RUN but instead found AS"},
      {"CREATE JOB j RUN AS u FROM 1 ONCE BETWEEN 3 AND 4 BEGIN END",
       "Expected TO but instead found ONCE"},
      {"CREATE JOB j RUN AS u FROM 1 TO 2 ONCE 3 AND 4 BEGIN END",
       "Expected BETWEEN but instead found 3"},
      {"CREATE JOB j RUN AS u FROM 1 TO 2 WEEKLY ON Mon, mon BETWEEN 3 AND 4 BEGIN END",
       "Invalid expression mon found, duplicate day specified"},
      {"CREATE JOB j RUN AS u FROM 1 TO 2 WEEKLY ON Monday BETWEEN 3 AND 4 BEGIN END",
       "Invalid expression Monday found, at least one day must be specified"},
      {"CREATE JOB j RUN AS u FROM 1 TO 2 WEEKLY BETWEEN 3 AND 4 BEGIN END",
       "Expected ON but instead found BETWEEN"},
      {"CREATE JOB j RUN AS u FROM 1 TO 2 DAILY ON BETWEEN 3 AND 4 BEGIN END",
       "Invalid expression BETWEEN found, at least one day must be specified"},
      {"CREATE JOB j RUN AS u FROM 1 TO 2 EVERY 15 SECONDS BETWEEN 3 AND 4 BEGIN END",
       "Expected DAYS, WEEKS but instead found SECONDS"},
      {"CREATE JOB j RUN AS u FROM 1 TO 2 YEARLY BETWEEN 3 AND 4 BEGIN END",
       "Expected ONCE, HOURLY, DAILY, WEEKLY, MONTHLY, EVERY but instead found YEARLY"},
      {"CREATE JOB j RUN AS u FROM 1 TO 2 MONTHLY ON FIRST Day1 OF Jan BETWEEN 3 AND 4 BEGIN END",
       "Invalid expression Day1 found, a day must be specified"},
      {"CREATE JOB j RUN AS u FROM 1 TO 2 MONTHLY ON Fri OF Jan, jan BETWEEN 3 AND 4 BEGIN END",
       "Invalid expression jan found, duplicate month specified"},
      {"CREATE JOB j RUN AS u FROM 1 TO 2 MONTHLY ON Fri OF Winter BETWEEN 3 AND 4 BEGIN END",
       "Invalid expression Winter found, at least one month must be specified"},
      {"CREATE JOB j RUN AS u FROM 1 TO 2 MONTHLY ON Fri Jan BETWEEN 3 AND 4 BEGIN END",
       "Expected OF but instead found Jan"},
      {"GRANT SELECT ON INDEX i TO a",
       "Expected DATABASE, STORE, TABLE, VIEW, PROCEDURE, FUNCTION but instead found INDEX"},
      {"GRANT ALL ON TABLE t TO a", "Expected PRIVILEGES but instead found ON"},
      {"GRANT SELECT, READ ON TABLE t TO a",
       "Expected SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, DROP, MAINTAIN, BACKUP, RESTORE, "
       "EXECUTE but instead found READ"},
      {"GRANT SELECT ON TABLE s.t TO a",
       "Invalid expression . found, schema qualifier not allowed"},
      {"GRANT SELECT ON TABLE t FROM a", "Expected TO but instead found FROM"},
      {"REVOKE Managers TO Ann", "Expected FROM but instead found TO"},
      {"GRANT Managers TO 'Ann'", "Expected user name but instead found 'Ann'"},
      {"GRANT SELECT ON TABLE t TO", "Missing user or role name"},
      // The object keywords.
      {"CREATE SEQUENCE s",
       "Expected DATABASE, USER, ROLE, MODULE, TEXT FILTER, WORD GENERATOR, JOB, TABLE, TEMPORARY, "
       "VIEW, INDEX, TEXT INDEX, TRIGGER, FUNCTION, PROCEDURE, STORE but instead found SEQUENCE"},
      {"ALTER TEMPORARY TABLE t ADD a INTEGER",
       "Expected DATABASE, USER, ROLE, MODULE, TEXT FILTER, WORD GENERATOR, JOB, TABLE, VIEW, "
       "INDEX, TRIGGER, FUNCTION, PROCEDURE, STORE but instead found TEMPORARY"},
      {"CREATE TEXT SEARCH i", "Expected INDEX, FILTER but instead found SEARCH"},
      {"ALTER TEXT", "Missing INDEX, FILTER"},
      {"CREATE WORD LIST w", "Expected GENERATOR but instead found LIST"},
      {"CREATE TEMPORARY VIEW v", "Expected TABLE but instead found VIEW"},
  });
}

// The statement node stands on the token after the verb and its object
// keywords.
TEST(ConfigDdlGrammar, StatementPosition) {
  for (const auto& [text, column] :
       std::vector<std::pair<std::string, int32_t>>{{"CREATE TABLE t (a INTEGER)", 14},
                                                    {"CREATE TEXT INDEX i ON t (a)", 19},
                                                    {"ALTER WORD GENERATOR g", 22},
                                                    {"GRANT r TO u", 7}}) {
    EXPECT_EQ(parse(text)->Column, column) << text;
  }
}

}  // namespace
}  // namespace brn

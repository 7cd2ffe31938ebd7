// Validation of SQL statements: INSERT, UPDATE and DELETE targets and values,
// the queries and routine bodies of CREATE and ALTER, and the constant
// options of definition and administrative statements.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sql/tree/query_layout.h"
#include "sql/validator/statement_fixture.h"

namespace brn::testing {
namespace {

TEST(StatementValidation, InsertUpdateDeleteErrors) {
  checkOutcomes({
      {"INSERT INTO U VALUES (1, 2)",
       "error 1:23 Invalid expression ROW(1, 2) found, the number of INSERT values does not "
       "match the number of columns"},
      {"INSERT INTO U (a, b) VALUES (1, 2)", "ok"},
      {"INSERT INTO U (a, b) VALUES (1, 2), (3)",
       "error 1:38 Invalid expression ROW(3) found, the number of INSERT values does not match "
       "the number of columns"},
      {"INSERT INTO U (a, b) VALUES (1, 'x')",
       "error 1:33 Expected NULL, SmallInt, Integer, BigInt, Float, Decimal, Interval Year, "
       "Interval Day, Interval Hour, Interval Minute, Interval Second, or Interval MSecond "
       "expression but instead found 'x'"},
      {"INSERT INTO U (a, nope) VALUES (1, 2)", "error 1:19 column nope does not exist"},
      {"INSERT INTO Nope VALUES (1)", "error 1:13 table Nope does not exist"},
      {"INSERT INTO U (a, b) SELECT a, b, c FROM U",
       "error 1:29 Invalid expression List:All(SelectItem AS a(a), SelectItem AS b(b), "
       "SelectItem AS c(c)) found, the number of INSERT values does not match the number of "
       "columns"},
      {"INSERT INTO U (a) SELECT vc FROM T",
       "error 1:26 Expected NULL, SmallInt, Integer, BigInt, Float, Decimal, Interval Year, "
       "Interval Day, Interval Hour, Interval Minute, Interval Second, or Interval MSecond "
       "expression but instead found vc"},
      {"INSERT INTO U SELECT * FROM U", "ok"},
      {"UPDATE U SET a = 'x'",
       "error 1:18 Expected NULL, SmallInt, Integer, BigInt, Float, Decimal, Interval Year, "
       "Interval Day, Interval Hour, Interval Minute, Interval Second, or Interval MSecond "
       "expression but instead found 'x'"},
      {"UPDATE U SET a = 1 WHERE b", "ok"},
      {"UPDATE U SET (a, b) = (1, 2)", "ok"},
      {"UPDATE U SET (a, 1) = (1, 2)",
       "error 1:18 Expected column name expression but instead found 1"},
      {"UPDATE U SET a = 1 WHERE 'x'",
       "error 1:26 Expected Boolean expression but instead found 'x'"},
      {"UPDATE U SET nope = 1", "error 1:14 column nope does not exist"},
      {"DELETE FROM U WHERE nope = 1", "error 1:21 column nope does not exist"},
      {"DELETE FROM U WHERE a = 'x'",
       "error 1:25 Expected Boolean, SmallInt, Integer, BigInt, Float, Decimal, Interval Year, "
       "Interval Day, Interval Hour, Interval Minute, Interval Second, or Interval MSecond "
       "expression but instead found 'x'"},
  });
}

TEST(StatementValidation, InsertColumnsParametersAndRelease) {
  // No column list: the owner fills it with every column of the table.
  StatementRun all("INSERT INTO U VALUES (1, 2, 3, ?)");
  ASSERT_EQ(all.Error, "");
  TBRNExprToken* target = NodeAt(all.Owner.Root, "0");
  EXPECT_EQ(NodeAt(target, "2")->ArgumentCount(), 4);
  // "?" in VALUES is an INOUT parameter typed by its column.
  TBRNExprToken* param = NodeAt(target, "0.0");
  ASSERT_NE(param, nullptr);
  EXPECT_EQ(param->Operation, opParamInOut);
  EXPECT_EQ(param->Name, "Parameter1");
  EXPECT_EQ(param->DataType, dtInteger);
  EXPECT_EQ(all.Validator.ParamDirection, opParamIn);
  EXPECT_EQ(all.Owner.OpenQualifiedCalls, 1);
  all.Release();
  EXPECT_EQ(all.Owner.CloseQualifiedCalls, 1);

  // In the WHERE of an UPDATE it is an IN parameter; NOT is pushed down and
  // the condition moves to the table's own list.
  StatementRun update("UPDATE U SET a = ? WHERE NOT (b = ?)");
  ASSERT_EQ(update.Error, "");
  target = NodeAt(update.Owner.Root, "0");
  EXPECT_EQ(NodeAt(target, "0.0")->Operation, opParamIn);
  EXPECT_EQ(NodeAt(target, "0.1")->Operation, opParamIn);
  EXPECT_EQ(NodeAt(target, "7")->ArgumentCount(), 0);
  EXPECT_EQ(PrintTree(NodeAt(target, "6.0.1"), {.Types = true}), "List((b <> ?):Boolean)");
  EXPECT_EQ(update.Validator.ParamDirection, opParamIn);

  // After an error the direction is restored as well.
  StatementRun failed("INSERT INTO U (a) VALUES ('x')");
  EXPECT_NE(failed.Error, "");
  EXPECT_EQ(failed.Validator.ParamDirection, opParamIn);
  EXPECT_EQ(failed.Owner.CloseQualifiedCalls, 1);
}

TEST(StatementValidation, DefinitionErrors) {
  checkOutcomes({
      {"CREATE TABLE X (A INTEGER NOT NULL ERROR CODE 9999 MESSAGE 'x')",
       "error 1:47 Invalid expression 9999 found, an invalid error code was specified, the error "
       "code must be greater than or equal to 10000"},
      {"CREATE TABLE X (A INTEGER NOT NULL ERROR CODE 10000 MESSAGE 'x')", "ok"},
      {"CREATE TABLE X (A INTEGER NOT NULL ERROR CODE 10000 MESSAGE 5)",
       "error 1:61 Expected Char, GUID, or VarChar expression but instead found 5"},
      {"CREATE TABLE X (A INTEGER, CONSTRAINT K PRIMARY KEY (A) ERROR CODE 12 MESSAGE 'm')",
       "error 1:68 Invalid expression 12 found, an invalid error code was specified, the error "
       "code must be greater than or equal to 10000"},
      // A constraint written with its column keeps any code: only NOT NULL
      // and table constraints are held to the user range.
      {"CREATE TABLE X (A INTEGER CHECK (A > 0) ERROR CODE 1234 MESSAGE 'm')", "ok"},
      {"CREATE TABLE X (A VARCHAR(5) GENERATED ALWAYS AS IDENTITY)",
       "error 1:19 Expected SmallInt, Integer, or BigInt expression but instead found "
       "DataType:VarChar(5, nil)"},
      {"CREATE TABLE X (A INTEGER GENERATED ALWAYS AS IDENTITY (START WITH 'a'))",
       "error 1:68 Expected SmallInt, Integer, or BigInt expression but instead found 'a'"},
      {"CREATE TABLE X (A INTEGER DESCRIPTION 5)",
       "error 1:39 Expected Char, GUID, or VarChar expression but instead found 5"},
      // Stored expressions are compiled by their object later.
      {"CREATE TABLE X (A INTEGER DEFAULT nope, CHECK (nope > 1))", "ok"},
      {"CREATE TABLE X (A INTEGER) VERSION 'x'",
       "error 1:36 Expected SmallInt, Integer, BigInt, Float, or Decimal expression but instead "
       "found 'x'"},
      {"CREATE TABLE X (A INTEGER) INDEX PAGE SIZE 1.5",
       "error 1:44 Expected SmallInt, Integer, or BigInt expression but instead found 1.5"},
      {"CREATE TABLE X AS SELECT a FROM U WITH DATA", "ok"},
      {"CREATE TABLE X AS SELECT nope FROM U WITH DATA", "error 1:26 column nope does not exist"},
      {"ALTER TABLE U ALTER COLUMN a DESCRIPTION 5",
       "error 1:42 Expected Char, GUID, or VarChar expression but instead found 5"},
      {"ALTER TABLE U ALTER COLUMN a RESTART WITH 'x'",
       "error 1:43 Expected SmallInt, Integer, or BigInt expression but instead found 'x'"},
      {"ALTER TABLE U ADD COLUMN e INTEGER AT 'x'",
       "error 1:39 Expected SmallInt, Integer, or BigInt expression but instead found 'x'"},
      {"CREATE VIEW V AS SELECT nope FROM U", "error 1:25 column nope does not exist"},
      {"CREATE VIEW V AS SELECT a FROM U VERSION 'x'",
       "error 1:42 Expected SmallInt, Integer, BigInt, Float, or Decimal expression but instead "
       "found 'x'"},
      {"CREATE PROCEDURE p () EXTERNAL NAME m DESCRIPTION 1",
       "error 1:51 Expected Char, GUID, or VarChar expression but instead found 1"},
      {"CREATE TRIGGER t AFTER INSERT ON U WHEN 'x' BEGIN END",
       "error 1:41 Expected Boolean, SmallInt, Integer, or BigInt expression but instead found "
       "'x'"},
      {"CREATE JOB j RUN AS u FROM 'x' TO DATE '2021-01-01' ONCE BETWEEN TIME '01:00' AND "
       "TIME '02:00' BEGIN END",
       "error 1:28 Expected Date expression but instead found 'x'"},
      {"CREATE JOB j RUN AS u FROM DATE '2020-01-01' TO DATE '2021-01-01' EVERY 'x' DAYS "
       "BETWEEN TIME '01:00' AND TIME '02:00' BEGIN END",
       "error 1:73 Expected SmallInt, Integer, or BigInt expression but instead found 'x'"},
      {"CREATE USER u PASSWORD 5",
       "error 1:24 Expected Char, GUID, or VarChar expression but "
       "instead found 5"},
      {"CREATE USER u PASSWORD p",
       "error 1:24 Expected constant value expression but instead found p"},
  });
}

TEST(StatementValidation, CreateTableAsChecksTheColumnCount) {
  // The grammar gives CREATE TABLE AS no column list; a tree that carries
  // one (built by a caller) must match the query's width.
  const std::string text = "CREATE TABLE X AS SELECT a, b FROM U WITH DATA";
  StatementOwner24 parsed;
  parsed.CompileText(text);
  TreeHolder tree(CopyExprTree(parsed.Root));
  TBRNExprToken* elements = NodeAt(tree.Get(), "3");
  ASSERT_NE(elements, nullptr);
  const auto addColumn = [&](const char* Name) {
    auto* element = new TBRNExprToken;
    element->Kind = tkList;
    element->Operation = TBRNExprOperation(1);
    auto* column = new TBRNExprToken;
    column->Kind = tkColumnName;
    column->Name = Name;
    element->AddArgument(column);
    elements->AddArgument(element);
  };
  addColumn("x");
  EXPECT_EQ(StatementRun(text, tree.Get()).Error,
            "error 1:26 Invalid expression a found, the number of query columns does not match "
            "the number of defined columns for the table");
  addColumn("y");
  EXPECT_EQ(StatementRun(text, tree.Get()).Error, "");
}

TEST(StatementValidation, ObjectOptionsAreConstantsOfTheirType) {
  const std::string text = "Expected Char, GUID, or VarChar expression but instead found ";
  checkOutcomes({
      {"CREATE DATABASE d PATH 5", "error 1:24 " + text + "5"},
      {"CREATE DATABASE d PATH 'x' ENCRYPTED CATALOG DESCRIPTION 'd' ATTRIBUTES 7",
       "error 1:73 " + text + "7"},
      {"CREATE INDEX i ON U (a) DESCRIPTION 1", "error 1:37 " + text + "1"},
      {"CREATE ROLE r DESCRIPTION 1", "error 1:27 " + text + "1"},
      {"CREATE STORE s AS LOCAL PATH 1", "error 1:30 " + text + "1"},
      {"CREATE MODULE m PATH 'x' DESCRIPTION 2", "error 1:38 " + text + "2"},
      {"ALTER TEXT FILTER f DESCRIPTION 3", "error 1:33 " + text + "3"},
      {"ALTER WORD GENERATOR g DESCRIPTION 3", "error 1:36 " + text + "3"},
      {"ALTER USER u PASSWORD 'p' DESCRIPTION 'd' ATTRIBUTES 4", "error 1:54 " + text + "4"},
      {"CREATE FUNCTION f RETURNS INTEGER EXTERNAL NAME m VERSION 2", "ok"},
      {"CREATE FUNCTION f RETURNS INTEGER EXTERNAL NAME m VERSION '2'",
       "error 1:59 Expected SmallInt, Integer, BigInt, Float, or Decimal expression but instead "
       "found '2'"},
      {"ALTER VIEW v AS SELECT * FROM U WITHOUT CHECK OPTION DESCRIPTION 'd' VERSION 2", "ok"},
      {"CREATE DATABASE d PATH 'x' ENCRYPTED CATALOG DESCRIPTION 'd' ATTRIBUTES 'a'", "ok"},
  });
}

TEST(StatementValidation, AdministrativeErrors) {
  checkOutcomes({
      {"EXPORT TABLE T TO F IN STORE S DELIMITER CHAR ''",
       "error 1:47 Invalid expression '' found, the delimiter character cannot be empty"},
      {"EXPORT TABLE T TO F IN STORE S QUOTE CHAR ''", "ok"},
      {"IMPORT TABLE T FROM F IN STORE S DECIMAL CHAR ''",
       "error 1:47 Invalid expression '' found, the decimal character cannot be empty"},
      {"EXPORT TABLE T TO F IN STORE S MAX ROWS -1", "ok"},
      {"EXPORT TABLE T TO F IN STORE S MAX ROWS 'x'",
       "error 1:41 Expected SmallInt, Integer, or BigInt expression but instead found 'x'"},
      {"EXPORT TABLE T TO F IN STORE S TIME FORMAT 'hh' AM LITERAL 1 PM LITERAL 'p'",
       "error 1:60 Expected Char, GUID, or VarChar expression but instead found 1"},
      {"EXPORT TABLE T TO F IN STORE S BOOLEAN TRUE LITERAL 'y' FALSE LITERAL 0",
       "error 1:71 Expected Char, GUID, or VarChar expression but instead found 0"},
      {"COMPARE DATABASE a TO b STATEMENT TERM CHAR ''",
       "error 1:45 Invalid expression '' found, the statement termination character cannot be "
       "empty"},
      {"MIGRATE DATABASE FROM m USING Path = 'c:\\x', Mode = 2 WITH DATA", "ok"},
      {"MIGRATE DATABASE FROM m USING Mode = m2 WITH DATA",
       "error 1:38 Expected constant value expression but instead found m2"},
      {"DISCONNECT SERVER SESSION 'x'",
       "error 1:27 Expected SmallInt, Integer, or BigInt expression but instead found 'x'"},
      {"REMOVE SERVER SESSION 12", "ok"},
      {"RESET SERVER SESSION STATISTICS 'x'",
       "error 1:33 Expected SmallInt, Integer, or BigInt expression but instead found 'x'"},
      {"RESET JOB j", "ok"},
      {"BACKUP DATABASE d AS b TO STORE s COMPRESSION 'x'",
       "error 1:47 Expected SmallInt, Integer, or BigInt expression but instead found 'x'"},
      {"SAVE UPDATES FOR DATABASE d AS u TO STORE s DESCRIPTION 1",
       "error 1:57 Expected Char, GUID, or VarChar expression but instead found 1"},
  });
}

}  // namespace
}  // namespace brn::testing

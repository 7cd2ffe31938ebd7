// DROP, RENAME, ENABLE and DISABLE with every object kind, the qualified
// table name, the privilege word and the name parsers. A statement prints as
// "Statement:<code>(arguments) #<object kind>".

#include <gtest/gtest.h>

#include <string>

#include "sql/parser/statement_support.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/object_kind.h"

namespace brn {
namespace {

using testing::DescribeParseError;
using testing::kStatementFlags;
using testing::ParseStatementAndPrint;
using testing::ParseStatementText;
using testing::PrintTree;
using testing::StatementOwner;
using testing::TreeHolder;

void checkVerbCases(std::initializer_list<std::pair<std::string, std::string>> cases) {
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(ParseStatementAndPrint(text), expected) << "text: " << text;
}

TEST(VerbGrammar, DropEveryObjectKind) {
  checkVerbCases({
      {"DROP DATABASE Sales", "Statement:Drop(DatabaseName Sales, nil) #1"},
      // Keywords ignore case; the name keeps its case.
      {"drop database Sales keep contents", "Statement:Drop(DatabaseName Sales, List) #1"},
      {"DROP USER Ann", "Statement:Drop(UserName Ann) #13"},
      {"DROP ROLE Clerks", "Statement:Drop(RoleName Clerks) #8"},
      {"DROP JOB Nightly", "Statement:Drop(JobName Nightly) #4"},
      {"DROP MODULE Tools", "Statement:Drop(ModuleName Tools) #16"},
      {"DROP TEXT FILTER Html", "Statement:Drop(TextFilterName Html) #10"},
      {"DROP WORD GENERATOR Words", "Statement:Drop(WordGeneratorName Words) #15"},
      {"DROP MIGRATOR Old", "Statement:Drop(MigratorName Old) #6"},
      {"DROP TABLE Orders", "Statement:Drop(TableName Orders) #9"},
      {"DROP VIEW Open", "Statement:Drop(ViewName Open) #14"},
      {"DROP INDEX ByName FROM Customers",
       "Statement:Drop(IndexName ByName, TableName Customers) #3"},
      {"DROP TRIGGER Audit FROM Orders",
       "Statement:Drop(TriggerName Audit, nil, TableName Orders) #12"},
      {"DROP FUNCTION Discount", "Statement:Drop(FunctionName Discount) #2"},
      {"DROP PROCEDURE Archive;", "Statement:Drop(ProcedureName Archive) #7"},
      {"DROP STORE Backups", "Statement:Drop(StoreName Backups, nil) #5"},
      {"DROP STORE Backups KEEP CONTENTS", "Statement:Drop(StoreName Backups, List) #5"},
      // Doubled double quotes inside a quoted name become one.
      {"DROP TABLE \"Order \"\"Lines\"\"\"", "Statement:Drop(TableName Order \"Lines\") #9"},
  });
}

TEST(VerbGrammar, RenameEveryObjectKind) {
  checkVerbCases({
      {"RENAME DATABASE a TO b", "Statement:Rename(DatabaseName a, DatabaseName b) #1"},
      {"RENAME USER a TO b", "Statement:Rename(UserName a, UserName b) #13"},
      {"RENAME ROLE a TO b", "Statement:Rename(RoleName a, RoleName b) #8"},
      {"RENAME JOB a TO b", "Statement:Rename(JobName a, JobName b) #4"},
      {"RENAME MODULE a TO b", "Statement:Rename(ModuleName a, ModuleName b) #16"},
      {"RENAME TEXT FILTER a TO b", "Statement:Rename(TextFilterName a, TextFilterName b) #10"},
      {"RENAME WORD GENERATOR a TO b",
       "Statement:Rename(WordGeneratorName a, WordGeneratorName b) #15"},
      {"RENAME MIGRATOR a TO b", "Statement:Rename(MigratorName a, MigratorName b) #6"},
      {"RENAME TABLE a TO b", "Statement:Rename(TableName a, TableName b) #9"},
      {"RENAME VIEW a TO b", "Statement:Rename(ViewName a, ViewName b) #14"},
      {"RENAME INDEX ByName ON Customers TO ByLastName",
       "Statement:Rename(IndexName ByName, TableName Customers, IndexName ByLastName) #3"},
      {"RENAME TRIGGER a ON t TO b",
       "Statement:Rename(TriggerName a, nil, TableName t, TriggerName b) #12"},
      {"RENAME FUNCTION a TO b", "Statement:Rename(FunctionName a, FunctionName b) #2"},
      {"RENAME PROCEDURE a TO b", "Statement:Rename(ProcedureName a, ProcedureName b) #7"},
      {"RENAME STORE a TO b", "Statement:Rename(StoreName a, StoreName b) #5"},
      {"RENAME FILE \"x.csv\" IN STORE s TO \"y.csv\"",
       "Statement:RenameFile(FileName x.csv, StoreName s, FileName y.csv)"},
  });
}

TEST(VerbGrammar, EnableAndDisable) {
  checkVerbCases({
      {"ENABLE TRIGGER Audit ON Orders",
       "Statement:Enable(TriggerName Audit, nil, TableName Orders) #12"},
      {"ENABLE TRIGGERS ON Orders", "Statement:Enable(nil, nil, TableName Orders) #12"},
      {"ENABLE JOB Nightly", "Statement:Enable(JobName Nightly) #4"},
      {"ENABLE JOBS", "Statement:Enable(nil) #4"},
      {"DISABLE TRIGGER Audit ON Orders",
       "Statement:Disable(TriggerName Audit, nil, TableName Orders) #12"},
      {"DISABLE TRIGGERS ON Orders", "Statement:Disable(nil, nil, TableName Orders) #12"},
      {"DISABLE JOB Nightly", "Statement:Disable(JobName Nightly) #4"},
      {"disable jobs", "Statement:Disable(nil) #4"},
  });
}

TEST(VerbGrammar, Errors) {
  constexpr const char* kDropList =
      "DATABASE, USER, ROLE, MODULE, TEXT FILTER, WORD GENERATOR, JOB, TABLE, VIEW, INDEX, "
      "TRIGGER, FUNCTION, PROCEDURE, STORE";
  const std::string drop = kDropList;
  checkVerbCases({
      // Qualifiers are refused even when the caller allows them.
      {"DROP TABLE Sales.Orders",
       "error 1:17 Invalid expression . found, schema qualifier not allowed"},
      {"DROP INDEX i FROM s.t",
       "error 1:20 Invalid expression . found, schema qualifier not allowed"},
      {"RENAME TABLE a TO s.b",
       "error 1:20 Invalid expression . found, schema qualifier not allowed"},
      {"ENABLE TRIGGERS ON s.t",
       "error 1:21 Invalid expression . found, schema qualifier not allowed"},
      {"DROP CURSOR c", "error 1:6 Expected " + drop + " but instead found CURSOR"},
      {"DROP", "error 1:4 Missing " + drop},
      {"RENAME SEQUENCE a TO b",
       "error 1:8 Expected " + drop + ", FILE but instead found SEQUENCE"},
      {"ENABLE ALL", "error 1:8 Expected TRIGGER, TRIGGERS, JOB, JOBS but instead found ALL"},
      {"DISABLE", "error 1:7 Missing TRIGGER, TRIGGERS, JOB, JOBS"},
      {"DROP TEXT INDEX i", "error 1:11 Expected FILTER but instead found INDEX"},
      {"DROP WORD g", "error 1:11 Expected GENERATOR but instead found g"},
      {"DROP DATABASE d KEEP", "error 1:20 Missing CONTENTS"},
      {"DROP DATABASE d KEEP DATA", "error 1:22 Expected CONTENTS but instead found DATA"},
      {"DROP INDEX i t", "error 1:14 Expected FROM but instead found t"},
      {"DROP TRIGGER tr ON t", "error 1:17 Expected FROM but instead found ON"},
      {"RENAME TABLE a b", "error 1:16 Expected TO but instead found b"},
      {"RENAME INDEX i TO j", "error 1:16 Expected ON but instead found TO"},
      {"RENAME FILE f TO g", "error 1:15 Expected IN but instead found TO"},
      {"ENABLE TRIGGERS t", "error 1:17 Expected ON but instead found t"},
      {"ENABLE TRIGGER a", "error 1:16 Missing ON"},
      {"DROP TABLE 1", "error 1:12 Expected table name but instead found 1"},
      {"DROP USER 'x'", "error 1:11 Expected user name but instead found 'x'"},
      {"DROP TABLE t CASCADE", "error 1:14 Expected end of expression but instead found CASCADE"},
      {"DROP TABLE t\n;\nx", "error 3:1 Expected end of expression but instead found x"},
  });
}

TEST(VerbGrammar, StatementNodeSitsAfterTheFixedKeywords) {
  TreeHolder drop = ParseStatementText("DROP  TABLE\n  Orders");
  EXPECT_EQ(drop->Kind, tkStatement);
  EXPECT_EQ(drop->Operation, opDrop);
  EXPECT_EQ(drop->Variant, okTable);
  EXPECT_EQ(drop->Line, 2);
  EXPECT_EQ(drop->Column, 3);
  EXPECT_EQ(drop->Argument(0)->Position, drop->Position);
}

TEST(VerbGrammar, QualifiedTableName) {
  struct Case {
    const char* Text;
    TBRNParseFlags Flags;
    const char* Expected;
  };
  const TBRNParseFlags both = pcSchemaQualifier | pcDatabaseQualifier;
  for (const Case& c : {
           Case{"t", 0, "TableName Def.t"},
           Case{"a.b", pcSchemaQualifier, "TableName a.b"},
           Case{"information.b", pcSchemaQualifier, "TableName Def.information.b"},
           Case{"a.Information.b", both, "TableName a.Information.b"},
           Case{"a.b.c", pcSchemaQualifier,
                "error 1:4 Invalid expression . found, database qualifier not allowed"},
           Case{"a.b", pcDatabaseQualifier,
                "error 1:2 Invalid expression . found, schema qualifier not allowed"},
           Case{"a.b.'x'", both, "error 1:5 Expected table name but instead found 'x'"},
           Case{"\"x.y\"", 0, "TableName Def.x.y"},
       }) {
    StatementOwner owner(c.Text);
    TBRNExprParser parser;
    std::string printed;
    try {
      parser.BeginParse(owner);
      TreeHolder name(parser.ParseTableName(c.Flags, "Def"));
      printed = PrintTree(name.Get());
    } catch (const EBRNException& error) {
      printed = DescribeParseError(error);
    }
    EXPECT_EQ(printed, c.Expected) << c.Text;
  }
}

// Runs one no-argument parse method over Text.
std::string parseWith(TBRNExprToken* (TBRNExprParser::*Method)(), const char* Text) {
  StatementOwner owner(Text);
  TBRNExprParser parser;
  try {
    parser.BeginParse(owner);
    TreeHolder node((parser.*Method)());
    return PrintTree(node.Get()) + (parser.TokenAtEnd() ? "" : " +rest");
  } catch (const EBRNException& error) {
    return DescribeParseError(error);
  }
}

TEST(VerbGrammar, NameParsersAndPrivileges) {
  using M = TBRNExprToken* (TBRNExprParser::*)();
  struct Case {
    M Method;
    const char* Printed;
    const char* Description;
  };
  for (const Case& c : {
           Case{&TBRNExprParser::ParseBackupName, "BackupName", "backup name"},
           Case{&TBRNExprParser::ParseDatabaseName, "DatabaseName", "database name"},
           Case{&TBRNExprParser::ParseUpdatesName, "UpdatesName", "updates name"},
           Case{&TBRNExprParser::ParseTextFilterName, "TextFilterName", "text filter name"},
           Case{&TBRNExprParser::ParseWordGeneratorName, "WordGeneratorName",
                "word generator name"},
           Case{&TBRNExprParser::ParseMigratorName, "MigratorName", "migrator name"},
           Case{&TBRNExprParser::ParseModuleName, "ModuleName", "module name"},
           Case{&TBRNExprParser::ParseJobName, "JobName", "job name"},
           Case{&TBRNExprParser::ParseStoreName, "StoreName", "store name"},
           Case{&TBRNExprParser::ParseFileName, "FileName", "file name"},
           Case{&TBRNExprParser::ParseUserName, "UserName", "user name"},
           Case{&TBRNExprParser::ParseRoleName, "RoleName", "role name"},
           Case{&TBRNExprParser::ParseGranteeName, "GranteeName", "user or role name"},
           Case{&TBRNExprParser::ParseColumnName, "ColumnName", "column name"},
           Case{&TBRNExprParser::ParseConstraintNameOnly, "ConstraintName", "constraint name"},
           Case{&TBRNExprParser::ParseViewName, "ViewName", "view name"},
           Case{&TBRNExprParser::ParseProcedureName, "ProcedureName", "procedure name"},
           Case{&TBRNExprParser::ParseFunctionName, "FunctionName", "function name"},
           Case{&TBRNExprParser::ParseIndexName, "IndexName", "index name"},
           Case{&TBRNExprParser::ParseTriggerName, "TriggerName", "trigger name"},
           Case{&TBRNExprParser::ParseCursorName, "CursorReference", "cursor name"},
           Case{&TBRNExprParser::ParseParameterName, "RoutineParam", "parameter name"},
       }) {
    EXPECT_EQ(parseWith(c.Method, "Plain"), std::string(c.Printed) + " Plain");
    EXPECT_EQ(parseWith(c.Method, "\"a \"\"b\"\"\""), std::string(c.Printed) + " a \"b\"");
    // One name only: the dot is left for the caller.
    EXPECT_EQ(parseWith(c.Method, "a.b"), std::string(c.Printed) + " a +rest");
    EXPECT_EQ(parseWith(c.Method, "12"),
              "error 1:1 Expected " + std::string(c.Description) + " but instead found 12");
    EXPECT_EQ(parseWith(c.Method, ""), "error 1:1 Missing " + std::string(c.Description));
  }

  EXPECT_EQ(parseWith(&TBRNExprParser::ParsePrivilege, "maintain"), "Privilege maintain");
  EXPECT_EQ(parseWith(&TBRNExprParser::ParsePrivilege, "EXECUTE"), "Privilege EXECUTE");
  EXPECT_EQ(parseWith(&TBRNExprParser::ParsePrivilege, "\"SELECT\""),
            "error 1:1 Expected SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, DROP, MAINTAIN, "
            "BACKUP, RESTORE, EXECUTE but instead found \"SELECT\"");
  EXPECT_EQ(parseWith(&TBRNExprParser::ParsePrivilege, "USAGE"),
            "error 1:1 Expected SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, DROP, MAINTAIN, "
            "BACKUP, RESTORE, EXECUTE but instead found USAGE");
}

}  // namespace
}  // namespace brn

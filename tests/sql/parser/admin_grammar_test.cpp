// The administrative statements: every form with its argument positions (nil
// where a clause is not written), the variants, and the messages of the
// keyword lists and of the ONLY clause.

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "sql/parser/statement_support.h"
#include "sql/tree/expr_token.h"

namespace brn {
namespace {

using testing::ParseStatementAndPrint;
using testing::ParseStatementText;
using testing::TreeHolder;

void checkAdminCases(std::initializer_list<std::pair<std::string, std::string>> cases) {
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(ParseStatementAndPrint(text), expected) << "text: " << text;
}

TEST(AdminGrammar, BackupAndRestore) {
  checkAdminCases({
      {"BACKUP DATABASE d AS b TO STORE s",
       "Statement:Backup(DatabaseName d, BackupName b, StoreName s, nil, nil, nil, nil, nil, "
       "nil)"},
      {"BACKUP DATABASE d AS b TO STORE s TABLES t1, t2 DESCRIPTION 'x' COMPRESSION 6 INCLUDE "
       "CATALOG EXCLUDE PUBLISHED UPDATES",
       "Statement:Backup(DatabaseName d, BackupName b, StoreName s, List(TableName d.t1, "
       "TableName d.t2), 'x', 6, TRUE, nil, TRUE)"},
      {"BACKUP DATABASE d AS b TO STORE s INCLUDE CATALOG ONLY EXCLUDE PUBLISHED UPDATES",
       "Statement:Backup(DatabaseName d, BackupName b, StoreName s, nil, nil, nil, TRUE, TRUE, "
       "TRUE)"},
      {"BACKUP DATABASE d AS b TO STORE s EXCLUDE PUBLISHED UPDATES",
       "Statement:Backup(DatabaseName d, BackupName b, StoreName s, nil, nil, nil, nil, nil, "
       "TRUE)"},
      {"BACKUP DATABASE d AS b TO STORE s TABLES t1, t2 INCLUDE CATALOG ONLY",
       "error 1:65 Invalid expression ONLY found, the ONLY clause can only be specified when the "
       "TABLES clause is not specified"},
      {"BACKUP DATABASE d AS b STORE s", "error 1:24 Expected TO but instead found STORE"},
      {"BACKUP DATABASE d AS b TO STORE s EXCLUDE UPDATES",
       "error 1:43 Expected PUBLISHED but instead found UPDATES"},
      {"RESTORE DATABASE d FROM b IN STORE s",
       "Statement:Restore(DatabaseName d, BackupName b, StoreName s, nil, nil, nil, nil)"},
      {"RESTORE DATABASE d FROM b IN STORE s INCLUDE CATALOG ONLY RESET PUBLISHED TABLES",
       "Statement:Restore(DatabaseName d, BackupName b, StoreName s, nil, TRUE, TRUE, TRUE)"},
      {"RESTORE DATABASE d FROM b IN STORE s TABLES t INCLUDE CATALOG RESET PUBLISHED TABLES",
       "Statement:Restore(DatabaseName d, BackupName b, StoreName s, List(TableName d.t), TRUE, "
       "nil, TRUE)"},
      {"RESTORE DATABASE d FROM b IN STORE s TABLES t INCLUDE CATALOG ONLY",
       "error 1:63 Invalid expression ONLY found, the ONLY clause can only be specified when the "
       "TABLES clause is not specified"},
      // RESET PUBLISHED TABLES is only read after INCLUDE CATALOG.
      {"RESTORE DATABASE d FROM b IN STORE s RESET PUBLISHED TABLES",
       "error 1:38 Expected end of expression but instead found RESET"},
      {"RESTORE DATABASE d FROM b STORE s", "error 1:27 Expected IN but instead found STORE"},
      {"BACKUP DATABASE d AS 1", "error 1:22 Expected backup name but instead found 1"},
  });
}

TEST(AdminGrammar, SwitchesAndTableNames) {
  // The BACKUP switches are TRUE constants without a data type; TABLES names
  // carry the statement's database and take no qualifiers.
  TreeHolder backup =
      ParseStatementText("BACKUP DATABASE Sales AS b TO STORE s TABLES Orders INCLUDE CATALOG");
  const TBRNExprToken* include = backup->Argument(6);
  ASSERT_NE(include, nullptr);
  EXPECT_EQ(include->Kind, tkConstant);
  EXPECT_EQ(include->DataType, dtNull);
  EXPECT_EQ(backup->Argument(3)->Argument(0)->DatabaseName, "Sales");
  EXPECT_EQ(ParseStatementAndPrint("BACKUP DATABASE d AS b TO STORE s TABLES x.t"),
            "error 1:43 Invalid expression . found, schema qualifier not allowed");
  // The node stands on the first token after the verb's fixed keywords.
  EXPECT_EQ(backup->Column, 17);
}

TEST(AdminGrammar, CompareAndMigrate) {
  checkAdminCases({
      {"COMPARE DATABASE a TO b", "Statement:Compare(DatabaseName a, DatabaseName b, nil)"},
      {"COMPARE DATABASE a TO b STATEMENT TERM CHAR '!'",
       "Statement:Compare(DatabaseName a, DatabaseName b, '!')"},
      {"COMPARE DATABASE a TO b STATEMENT CHAR '!'",
       "error 1:35 Expected TERM but instead found CHAR"},
      {"MIGRATE DATABASE FROM m", "Statement:Migrate(MigratorName m, List, nil)"},
      {"MIGRATE DATABASE FROM m USING Path = 'c:\\x', Mode = 2 WITH DATA",
       "Statement:Migrate(MigratorName m, List(List [RoutineParam Path, 'c:\\x'], List "
       "[RoutineParam Mode, 2]), List)"},
      {"MIGRATE DATABASE FROM m WITH NO DATA", "Statement:Migrate(MigratorName m, List, nil)"},
      {"MIGRATE DATABASE FROM m WITH NO", "error 1:31 Missing DATA"},
      {"MIGRATE DATABASE FROM m WITH", "error 1:28 Missing DATA"},
      {"MIGRATE DATABASE FROM m USING = 1",
       "error 1:31 Expected parameter name but instead found ="},
  });
}

TEST(AdminGrammar, TableMaintenance) {
  checkAdminCases({
      {"REPAIR TABLE t", "Statement:Repair(TableName t, nil, nil)"},
      {"REPAIR TABLE t STRUCTURE ONLY STATISTICS", "Statement:Repair(TableName t, List, List)"},
      {"REPAIR TABLE t STATISTICS", "Statement:Repair(TableName t, nil, List)"},
      {"REPAIR TABLE t STRUCTURE", "error 1:24 Missing ONLY"},
      {"VERIFY TABLE t", "Statement:Verify(TableName t, nil)"},
      {"VERIFY TABLE t STRUCTURE ONLY", "Statement:Verify(TableName t, List)"},
      {"OPTIMIZE TABLE t", "Statement:Optimize(TableName t, nil)"},
      {"OPTIMIZE TABLE t USING ByName", "Statement:Optimize(TableName t, IndexName ByName)"},
      {"EMPTY TABLE t", "Statement:Empty(TableName t, nil)"},
      {"EMPTY TABLE t IGNORE CONSTRAINTS", "Statement:Empty(TableName t, List)"},
      {"EMPTY t", "error 1:7 Expected TABLE but instead found t"},
      {"EMPTY TABLE s.t", "error 1:14 Invalid expression . found, schema qualifier not allowed"},
  });
}

TEST(AdminGrammar, ImportAndExport) {
  checkAdminCases({
      {"IMPORT TABLE t FROM f IN STORE s",
       "Statement:Import(TableName t, FileName f, StoreName s, nil, List, nil, nil, nil, nil, "
       "nil, nil, nil, nil)"},
      {"IMPORT TABLE Sales.t FROM \"t.csv\" IN STORE s (a, b) FORMAT DELIMITED ENCODING ANSI "
       "DELIMITER CHAR ';' QUOTE CHAR '\"' DATE FORMAT 'yyyy-mm-dd' TIME FORMAT 'hh:mm' AM "
       "LITERAL 'a' PM LITERAL 'p' DECIMAL CHAR ',' BOOLEAN TRUE LITERAL 'y' FALSE LITERAL 'n' "
       "USE HEADERS MAX ROWS 100",
       "Statement:Import(TableName Sales.t, FileName t.csv, StoreName s, List(ColumnName a, "
       "ColumnName b), List, ';', '\"', 'yyyy-mm-dd', 'hh:mm'('a', 'p'), ',', List('y', 'n'), "
       "List, 100)"},
      {"EXPORT TABLE t TO f IN STORE s FORMAT XML",
       "Statement:Export(TableName t, FileName f, StoreName s, nil, List, nil, nil, nil, nil, "
       "nil, nil, nil, nil) #1"},
      {"EXPORT TABLE t TO f IN STORE s TIME FORMAT 'hh' INCLUDE HEADERS MAX ROWS -1",
       "Statement:Export(TableName t, FileName f, StoreName s, nil, List, nil, nil, nil, "
       "'hh'(nil, nil), nil, nil, List, (- 1))"},
      {"IMPORT TABLE t FROM f IN STORE s FORMAT XML DELIMITER CHAR ';'",
       "error 1:45 Expected end of expression but instead found DELIMITER"},
      {"IMPORT TABLE t FROM f IN STORE s FORMAT CSV",
       "error 1:41 Expected DELIMITED, XML but instead found CSV"},
      {"IMPORT TABLE t FROM f IN STORE s ENCODING UTF8",
       "error 1:43 Expected AUTO, ANSI, UNICODE but instead found UTF8"},
      {"IMPORT TABLE t FROM f IN STORE s INCLUDE HEADERS",
       "error 1:34 Expected end of expression but instead found INCLUDE"},
      {"EXPORT TABLE t FROM f IN STORE s", "error 1:16 Expected TO but instead found FROM"},
      {"EXPORT TABLE t TO f IN STORE s MAX 5", "error 1:36 Expected ROWS but instead found 5"},
  });

  // The format and the encoding are variants.
  const struct {
    std::string Text;
    int32_t Format;
    int32_t Encoding;
  } variants[] = {
      {"EXPORT TABLE t TO f IN STORE s", 0, -1},
      {"EXPORT TABLE t TO f IN STORE s FORMAT XML", 1, -1},
      {"EXPORT TABLE t TO f IN STORE s FORMAT DELIMITED ENCODING AUTO", 0, -1},
      {"EXPORT TABLE t TO f IN STORE s ENCODING ANSI", 0, 0},
      {"IMPORT TABLE t FROM f IN STORE s FORMAT XML ENCODING UNICODE", 1, 1},
  };
  for (const auto& v : variants) {
    TreeHolder statement = ParseStatementText(v.Text);
    EXPECT_EQ(statement->Variant, v.Format) << v.Text;
    EXPECT_EQ(statement->Argument(4)->Variant, v.Encoding) << v.Text;
    EXPECT_EQ(statement->ArgumentCount(), 13) << v.Text;
  }
}

TEST(AdminGrammar, PublishingAndUpdates) {
  checkAdminCases({
      {"PUBLISH DATABASE d", "Statement:Publish(DatabaseName d, nil, nil)"},
      {"PUBLISH DATABASE d TABLES a, b BY ROW",
       "Statement:Publish(DatabaseName d, List(TableName d.a, TableName d.b), List)"},
      {"PUBLISH DATABASE d BY CELL", "error 1:23 Expected COLUMN, ROW but instead found CELL"},
      {"UNPUBLISH DATABASE d", "Statement:Unpublish(DatabaseName d, nil)"},
      {"UNPUBLISH DATABASE d TABLES a", "Statement:Unpublish(DatabaseName d, List(TableName d.a))"},
      {"SAVE UPDATES FOR DATABASE d AS u TO STORE s",
       "Statement:SaveUpdates(DatabaseName d, UpdatesName u, StoreName s, nil, nil, nil, nil)"},
      {"SAVE UPDATES FOR DATABASE d AS u TO STORE s TABLES a DESCRIPTION 'x' COMPRESSION 1 IF "
       "NOT EMPTY",
       "Statement:SaveUpdates(DatabaseName d, UpdatesName u, StoreName s, List(TableName d.a), "
       "'x', 1, List)"},
      {"SAVE UPDATES FOR DATABASE d AS u TO STORE s IF EMPTY",
       "error 1:48 Expected NOT but instead found EMPTY"},
      {"LOAD UPDATES FOR DATABASE d FROM u IN STORE s",
       "Statement:LoadUpdates(DatabaseName d, UpdatesName u, StoreName s, nil, nil)"},
      {"LOAD UPDATES FOR DATABASE d FROM u IN STORE s TABLES a IGNORE MISSING UPDATES",
       "Statement:LoadUpdates(DatabaseName d, UpdatesName u, StoreName s, List(TableName d.a), "
       "List)"},
      {"LOAD UPDATES DATABASE d FROM u IN STORE s",
       "error 1:14 Expected FOR but instead found DATABASE"},
  });
  for (const auto& [text, variant] :
       {std::pair<std::string, int32_t>{"PUBLISH DATABASE d BY COLUMN", 0},
        {"PUBLISH DATABASE d BY ROW", 1}}) {
    TreeHolder statement = ParseStatementText(text);
    EXPECT_EQ(statement->Argument(2)->Variant, variant) << text;
  }
}

TEST(AdminGrammar, FilesStoresSessionsAndJobs) {
  checkAdminCases({
      {"COPY FILE f IN STORE s TO g",
       "Statement:CopyFile(FileName f, StoreName s, FileName g, nil)"},
      {"COPY FILE f IN STORE s TO g IN STORE t",
       "Statement:CopyFile(FileName f, StoreName s, FileName g, StoreName t)"},
      {"COPY f IN STORE s TO g", "error 1:6 Expected FILE but instead found f"},
      {"SET BACKUPS STORE TO s", "Statement:SetBackupsStore(StoreName s)"},
      {"SET FILES STORE TO s", "Statement:SetFilesStore(StoreName s)"},
      {"SET UPDATES STORE TO s", "Statement:SetUpdatesStore(StoreName s)"},
      {"SET MIGRATOR TO m", "Statement:SetMigrator(MigratorName m, List)"},
      {"SET MIGRATOR TO m USING a = 1",
       "Statement:SetMigrator(MigratorName m, List(List [RoutineParam a, 1]))"},
      {"SET LOGS STORE TO s", "error 1:5 Expected BACKUPS, FILES, UPDATES but instead found LOGS"},
      {"SET FILES TO s", "error 1:11 Expected STORE but instead found TO"},
      {"DISCONNECT SERVER SESSION 12", "Statement:Disconnect(12)"},
      {"REMOVE SERVER SESSION 12", "Statement:Remove(12)"},
      {"REMOVE SESSION 12", "error 1:8 Expected SERVER but instead found SESSION"},
      {"RESET SERVER SESSION STATISTICS 12", "Statement:Reset(12) #17"},
      {"RESET JOB j", "Statement:Reset(JobName j) #4"},
      {"RESET SERVER SESSION 12", "error 1:22 Expected STATISTICS but instead found 12"},
      {"RESET USER u", "error 1:7 Expected SERVER SESSION STATISTICS, JOB but instead found USER"},
  });
}

// Each truncation of the long forms either parses or fails with error 700;
// the sanitizer build reports a node left behind on an error path.
TEST(AdminGrammar, EveryTruncationFailsCleanly) {
  for (std::string_view text : {
           "BACKUP DATABASE d AS b TO STORE s TABLES t1, t2 DESCRIPTION 'x' COMPRESSION 6 "
           "INCLUDE CATALOG EXCLUDE PUBLISHED UPDATES",
           "RESTORE DATABASE d FROM b IN STORE s INCLUDE CATALOG ONLY RESET PUBLISHED TABLES",
           "IMPORT TABLE t FROM f IN STORE s (a, b) FORMAT DELIMITED ENCODING ANSI DELIMITER "
           "CHAR ';' QUOTE CHAR '\"' DATE FORMAT 'd' TIME FORMAT 't' AM LITERAL 'a' PM LITERAL "
           "'p' DECIMAL CHAR ',' BOOLEAN TRUE LITERAL 'y' FALSE LITERAL 'n' USE HEADERS MAX ROWS "
           "-100",
           "MIGRATE DATABASE FROM m USING a = 1, b = 'x' WITH NO DATA",
           "SAVE UPDATES FOR DATABASE d AS u TO STORE s TABLES a DESCRIPTION 'x' COMPRESSION 1 "
           "IF NOT EMPTY",
           "LOAD UPDATES FOR DATABASE d FROM u IN STORE s TABLES a IGNORE MISSING UPDATES",
           "COPY FILE f IN STORE s TO g IN STORE t",
           "SET MIGRATOR TO m USING a = 1",
           "RESET SERVER SESSION STATISTICS 12",
       }) {
    for (size_t length = 0; length <= text.size(); ++length) {
      try {
        ParseStatementText(text.substr(0, length));
      } catch (const EBRNException& error) {
        EXPECT_EQ(error.ErrorCode, kSQLTextErrorCode) << text.substr(0, length);
      }
    }
  }
}

}  // namespace
}  // namespace brn

// The statements on whole databases and tables run through statement
// handles: the Information texts and the defaults they fill in, the
// statement result of VERIFY and REPAIR, comparison terminators, clause
// errors, rights, transactions, and a backup restored into a new database.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "execution/evaluator/evaluator_context.h"
#include "execution/evaluator/evaluator_test_support.h"
#include "execution/handlers/database_handlers.h"
#include "execution/import_export/table_transfer.h"
#include "execution/tables/database_workspace.h"
#include "metadata/catalog/schema_differences.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "storage/rows/row_file.h"
#include "storage/rows/row_file_navigator.h"

namespace brn::testing {
namespace {

struct OperationsTest : ::testing::Test, DatabaseWorkspace {
  OperationsTest() {
    CreateTable("T1", {{"ID", dtInteger}, {"Name", dtChar, 20}}, nullptr, "ID");
    CreateTable("T2", {{"ID", dtInteger}, {"Name", dtChar, 20}}, nullptr, "ID");
    Fill("T1", "1,one\r\n2,two\r\n3,three\r\n");
    Fill("T2", "101,x\r\n");
  }
  void Fill(const std::string& table, const std::string& rows,
            TBRNLocalDatabaseManager* database = nullptr) {
    WriteFile("fill.txt", rows);
    Exec("IMPORT TABLE " + table + " FROM \"fill.txt\" IN STORE Files", database);
  }
  TBRNBaseTable* Table(const std::string& name, TBRNLocalDatabaseManager* database = nullptr) {
    TBRNLocalDatabaseManager& db = database != nullptr ? *database : *Database;
    return static_cast<TBRNBaseTable*>(
        db.Catalog->DefaultSchema->BaseTables->FindByName(name, true));
  }
  // The events the log gained while call ran.
  std::vector<TBRNLogEvent> EventsOf(const std::function<void()>& call) {
    const size_t before = ReadLog(*Session).size();
    call();
    std::vector<TBRNLogEvent> events = ReadLog(*Session);
    return {events.begin() + std::ptrdiff_t(before), events.end()};
  }
};

TEST_F(OperationsTest, EachDatabaseCommandLogsWhatItDidWithItsDefaults) {
  struct Case {
    std::string Sql;
    int32_t Operation;
    std::string Text;
  };
  const std::vector<Case> cases = {
      {"BACKUP DATABASE D AS b1 TO STORE Files", 51,
       "Database: D Backup Name: b1 Destination: Files Tables: All Tables Description:  "
       "Compression: 6 Catalog Included: No Published Updates Excluded: No"},
      {"BACKUP DATABASE D AS b2 TO STORE Files TABLES T1, T2 DESCRIPTION 'Nightly' COMPRESSION 9 "
       "INCLUDE CATALOG EXCLUDE PUBLISHED UPDATES",
       51,
       "Database: D Backup Name: b2 Destination: Files Tables: T1, T2 Description: Nightly "
       "Compression: 9 Catalog Included: Yes Published Updates Excluded: Yes"},
      {"RESTORE DATABASE D FROM b2 IN STORE Files TABLES T2", 53,
       "Database: D Backup Name: b2 Destination: Files Tables: T2 Catalog Included: No "
       "Published Tables Reset: No"},
      {"PUBLISH DATABASE D TABLES T1 BY ROW", 55, "Database: D Tables: T1"},
      {"PUBLISH DATABASE D TABLES T2", 55, "Database: D Tables: T2"},
      {"SAVE UPDATES FOR DATABASE D AS u1 TO STORE Files", 57,
       "Database: D Updates Name: u1 Destination: Files Tables: All Tables Description:  "
       "Compression: 6"},
      {"SAVE UPDATES FOR DATABASE D AS u2 TO STORE Files TABLES T2 DESCRIPTION 'Mine' "
       "COMPRESSION 1",
       57,
       "Database: D Updates Name: u2 Destination: Files Tables: T2 Description: Mine "
       "Compression: 1"},
      {"UNPUBLISH DATABASE D TABLES T1, T2", 56, "Database: D Tables: T1, T2"},
  };
  Database->CloseDatabase(false);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Sql);
    std::vector<TBRNLogEvent> events;
    auto outcome = Outcome([&] { events = EventsOf([&] { Execute(*Session, c.Sql); }); });
    ASSERT_EQ(outcome.first, 0) << outcome.second;
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().Category, lcInformation);
    EXPECT_EQ(events.back().Function, c.Operation);
    EXPECT_EQ(events.back().ErrorCode, 0);
    EXPECT_EQ(events.back().Description, c.Text);
    if (c.Sql == "PUBLISH DATABASE D TABLES T2") {
      Database->OpenDatabase(kBRNLockShared);
      EXPECT_EQ(Table("T1")->PublishColumnMode, 1);
      EXPECT_EQ(Table("T2")->PublishColumnMode, 0);
      Database->CloseDatabase(false);
    }
  }
  EXPECT_FALSE(ReadFile("b1.BRNBkp").empty());
  EXPECT_FALSE(ReadFile("u2.BRNUpd").empty());
}

TEST_F(OperationsTest, BackupRestoredIntoANewDatabaseHoldsTheSameRows) {
  Database->CloseDatabase(false);
  Execute(*Session, "BACKUP DATABASE D AS full TO STORE Files INCLUDE CATALOG");
  TBRNLocalDatabaseManager* copy = AddOpenDatabase("E");
  copy->CloseDatabase(false);
  Execute(*Session, "RESTORE DATABASE E FROM full IN STORE Files INCLUDE CATALOG");
  copy->OpenDatabase(kBRNLockShared);
  Database->OpenDatabase(kBRNLockShared);
  for (const char* table : {"T1", "T2"}) {
    SCOPED_TRACE(table);
    EXPECT_EQ(Rows(table, copy), Rows(table));
  }
  EXPECT_EQ(Rows("T1", copy).size(), 3u);
}

TEST_F(OperationsTest, VerifyAndRepairLeaveTheirAnswerAsTheStatementResult) {
  EXPECT_FALSE(Exec("VERIFY TABLE T1"));
  // A key of row 2 goes missing from the primary key's index.
  {
    auto* manager = static_cast<TBRNTableManager*>(
        Database->TableManagers->OpenManager(Table("T1"), kBRNLockTypeShared));
    auto buffer = manager->NewRowBuffer();
    TBRNRowsetRowValues values(manager->GetColumns(), manager);
    values.SetRow(buffer.get());
    ASSERT_TRUE(manager->ReadRowByNumber(2, values));
    manager->DeleteKey(values, 2, 0);
    manager->FlushFiles(true);
    manager->Close(false, true);
  }
  EXPECT_TRUE(Exec("VERIFY TABLE T1"));
  EXPECT_TRUE(Exec("REPAIR TABLE T1 STATISTICS"));
  EXPECT_FALSE(Exec("VERIFY TABLE T1"));
  EXPECT_EQ(Rows("T1").size(), 3u);
}

TEST_F(OperationsTest, CompareTerminatesStatementsWithTheClauseCharacter) {
  // An index of its own makes T1's CREATE entry two statements.
  Database->CatalogManager->BeginUpdate();
  AddTableIndex(Table("T1"), "ByName", {"Name"}, kIndexOrdinary);
  Database->CatalogManager->CommitUpdate();
  TBRNLocalDatabaseManager* empty = AddOpenDatabase("E");
  empty->CloseDatabase(false);
  Database->CloseDatabase(false);
  struct Case {
    std::string Clause;
    std::string Separator;
  };
  for (const Case& c : {Case{"", "!\r\n\r\n"}, Case{" STATEMENT TERM CHAR ';;'", ";\r\n\r\n"}}) {
    SCOPED_TRACE(c.Clause);
    Execute(*Session, "COMPARE DATABASE E TO D" + c.Clause);
    empty->OpenDatabase(kBRNLockShared);
    TBRNSchemaDifference& difference = *empty->Catalog->DefaultSchema->SchemaDifference;
    ASSERT_GT(difference.Count(), 0);
    const std::string text = difference.GetItem(0)->GetAlterSQL();
    EXPECT_NE(text.find(c.Separator), std::string::npos) << text;
    empty->CloseDatabase(false);
  }
}

TEST_F(OperationsTest, FailuresAreLoggedOnceWithTheStatementsCode) {
  struct Case {
    std::string Sql;
    int32_t Operation;
  };
  const std::vector<Case> cases = {
      {"MIGRATE DATABASE FROM Nope USING Source = 'x' WITH DATA", 54},
      {"OPTIMIZE TABLE T1 USING Nope", 125},
      {"RESTORE DATABASE D FROM Nope IN STORE Files TABLES T1 INCLUDE CATALOG", 53},
      {"LOAD UPDATES FOR DATABASE D FROM Nope IN STORE Files IGNORE MISSING UPDATES", 59},
      {"VERIFY TABLE Nope", 119},
      {"EXPORT TABLE T1 TO \"x.txt\" IN STORE Files (Nope)", 127},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Sql);
    const size_t before = ReadLog(*Session).size();
    auto outcome = Outcome([&] { Exec(c.Sql); });
    EXPECT_NE(outcome.first, 0);
    std::vector<TBRNLogEvent> events = ReadLog(*Session);
    std::vector<TBRNLogEvent> errors = ErrorsAfter(*Session, before);
    ASSERT_EQ(errors.size(), 1u) << outcome.second;
    EXPECT_EQ(errors[0].Function, c.Operation);
    EXPECT_EQ(errors[0].ErrorCode, outcome.first);
    // No Information event follows a failed operation.
    EXPECT_EQ(events.back().Category, lcError);
  }
  EXPECT_EQ(Rows("T1").size(), 3u);
}

// The clause values are constants: an empty one is refused, naming its
// clause, before the statement runs; an empty QUOTE CHAR is allowed.
TEST_F(OperationsTest, EmptyClauseCharactersAreRefusedNamingTheClause) {
  struct Case {
    std::string Sql;
    std::string Detail;
  };
  const std::vector<Case> cases = {
      {"IMPORT TABLE T1 FROM \"fill.txt\" IN STORE Files DELIMITER CHAR ''",
       "the delimiter character cannot be empty"},
      {"EXPORT TABLE T1 TO \"out.txt\" IN STORE Files DECIMAL CHAR ''",
       "the decimal character cannot be empty"},
      {"COMPARE DATABASE D TO D STATEMENT TERM CHAR ''",
       "the statement termination character cannot be empty"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Sql);
    auto outcome = Outcome([&] { Exec(c.Sql); });
    EXPECT_EQ(outcome.first, 700);
    EXPECT_NE(outcome.second.find(c.Detail), std::string::npos) << outcome.second;
  }
  EXPECT_FALSE(Engine.Faults->FileExists(FilePath("out.txt")));
  Exec("EXPORT TABLE T1 TO \"out.txt\" IN STORE Files QUOTE CHAR ''");
  EXPECT_EQ(ReadFile("out.txt"), "1,one\r\n2,two\r\n3,three\r\n");
}

TEST_F(OperationsTest, EmptyTableIgnoringConstraintsNeedsAnAdministrator) {
  Execute(*Session, "CREATE USER Clerk PASSWORD 'c1'");
  Execute(*Session, "GRANT ALL PRIVILEGES ON DATABASE D TO Clerk");
  auto clerk = std::make_unique<TBRNLocalSessionManager>(&Engine, false, false);
  clerk->OpenSession("host", "Clerk", "");
  clerk->Login("Clerk", "c1");
  TBRNLocalDatabaseManager* clerkDatabase = DatabaseOf(*clerk, "D");
  clerkDatabase->OpenDatabase(kBRNLockShared);
  const size_t before = ReadLog(*clerk).size();
  auto outcome = Outcome([&] { Exec("EMPTY TABLE T1 IGNORE CONSTRAINTS", clerkDatabase); });
  EXPECT_EQ(outcome.first, 502) << outcome.second;
  std::vector<TBRNLogEvent> errors = ErrorsAfter(*clerk, before);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].Function, 129);
  clerkDatabase->CloseDatabase(false);
  EXPECT_EQ(Rows("T1").size(), 3u);
  Exec("EMPTY TABLE T1 IGNORE CONSTRAINTS");
  EXPECT_TRUE(Rows("T1").empty());
}

// The transaction statements belong to routines and scripts: they run here
// as the nodes the parser makes for them, on D's context.
TEST_F(OperationsTest, TransactionStatementsAndAnImportInsideOne) {
  auto& evaluator = dynamic_cast<TBRNLocalExprEvaluator&>(*Session->Evaluator);
  TBRNEvaluatorContext context;
  context.SetDatabaseManager(Database);
  auto run = [&](TBRNExprToken* statement) {
    Tree owned(statement);
    TBRNEvaluationScope scope(evaluator, context);
    evaluator.ExecuteStatement(statement);
  };
  auto start = [](std::vector<std::string> tables, TBRNExprToken* timeout) {
    TBRNExprToken* statement = node(tkRoutineStatement, opStart);
    TBRNExprToken* list = tables.empty() ? nullptr : node(tkList);
    for (const std::string& table : tables) list->AddArgument(textConstant(table));
    statement->AddArgument(list);
    statement->AddArgument(timeout);
    return statement;
  };
  auto commit = [](bool noFlush) {
    TBRNExprToken* statement = node(tkRoutineStatement, opCommit);
    statement->AddArgument(noFlush ? node(tkList) : nullptr);
    return statement;
  };

  run(start({"T1"}, integerConstant(100)));
  EXPECT_TRUE(Database->Database->IsInTransaction());
  Fill("T1", "4,four\r\n");
  // A failing import inside the transaction takes back its own rows only.
  WriteFile("bad.txt", "5,five\r\n6,six\r\nseven,7\r\n");
  auto outcome = Outcome([&] { Exec("IMPORT TABLE T1 FROM \"bad.txt\" IN STORE Files"); });
  EXPECT_EQ(outcome.first, kImportErrorCode) << outcome.second;
  EXPECT_EQ(Rows("T1").size(), 4u);
  int32_t flushes = Engine.Faults->FlushCount();
  run(commit(true));
  EXPECT_EQ(Engine.Faults->FlushCount(), flushes);
  EXPECT_FALSE(Database->Database->IsInTransaction());
  EXPECT_EQ(Rows("T1").size(), 4u);

  run(start({}, nullptr));
  Fill("T1", "8,eight\r\n");
  flushes = Engine.Faults->FlushCount();
  run(commit(false));
  EXPECT_GT(Engine.Faults->FlushCount(), flushes);

  run(start({}, nullptr));
  Fill("T2", "102,y\r\n");
  run(node(tkRoutineStatement, opRollback));
  EXPECT_EQ(Rows("T1").size(), 5u);
  EXPECT_EQ(Rows("T2").size(), 1u);
}

TEST_F(OperationsTest, ImportIntoATableOfAnotherDatabase) {
  TBRNLocalDatabaseManager* other = AddOpenDatabase("E");
  CreateTable("T9", {{"ID", dtInteger}}, other);
  WriteFile("nine.txt", "9\r\n");
  Exec("IMPORT TABLE E.T9 FROM \"nine.txt\" IN STORE Files");
  EXPECT_EQ(Rows("T9", other), (std::vector<std::vector<std::string>>{{"9"}}));
  // The statement's own database is current again afterwards.
  auto outcome = Outcome([&] { Exec("IMPORT TABLE T9 FROM \"nine.txt\" IN STORE Files"); });
  EXPECT_EQ(outcome.first, 401) << outcome.second;
}

}  // namespace
}  // namespace brn::testing

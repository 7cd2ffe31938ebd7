// MIGRATE FROM, IMPORT TABLE and EXPORT TABLE: the frames around the work
// of SQL execution, driven with a fake statement runner and cursor import
// and export, and the test migrator module of the metadata tests.
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/values/param_value.h"
#include "metadata/config/config.h"
#include "metadata/modules/migrators.h"
#include "metadata/modules/module.h"
#include "sessions/backup/backup_test_support.h"
#include "sessions/backup/data_transfer.h"
#include "storage/cursors/cursor_test_support.h"
#include "storage/tables/virtual_table_manager.h"

namespace brn::testing {
namespace {

using Ids = std::vector<int32_t>;

// The text between the first pair of double quotes.
std::string QuotedName(const std::string& sql) {
  const size_t open = sql.find('"');
  const size_t close = sql.find('"', open + 1);
  return sql.substr(open + 1, close - open - 1);
}

// What SQL execution would do, as far as these frames need it: CREATE
// TABLE makes a table (ID, Name) through the catalog statements, INSERT
// appends a row with the one-digit ID the statement ends with; imports
// read the file, exports write lines, both asking the progress after each
// step.
class FakeExecution : public TBRNDataExecution, public TBRNTableObjectFactory {
 public:
  explicit FakeExecution(BackupTest& test) : test_(test) {
    SetDataExecution(this);
    SetTableObjectFactory(this);
  }
  ~FakeExecution() override {
    SetDataExecution(nullptr);
    SetTableObjectFactory(nullptr);
  }

  void RunStatement(TBRNLocalDatabaseManager& database, const std::string& sql) override {
    Statements.push_back(sql);
    if (sql.rfind("CREATE TABLE", 0) == 0) {
      BackupTest::CreateTable(database, QuotedName(sql));
    } else if (sql.rfind("INSERT INTO", 0) == 0) {
      const std::string name = QuotedName(sql);
      auto* manager = static_cast<TBRNTableManager*>(
          database.TableManagers->GetManager(BackupTest::Table(database, name)));
      if (RowCacheCapacity > 0) manager->GetRowsetManager()->SetCacheCapacity(RowCacheCapacity);
      RowFileSizes.push_back(
          test_.Engine.Faults->GetFileSize(database.GetSchemaFolder("") + name + ".BRNTbl"));
      InsertRawRow(*manager, sql[sql.size() - 2] - '0', false);
    }
  }
  bool ImportTable(TBRNCursor&, TBRNStream& file, const TBRNTransferFormat& format) override {
    Progress progress(*test_.Session);
    Delimiter = format.DelimiterChar;
    Imported.assign(size_t(file.GetSize()), '\0');
    file.SetPosition(0);
    file.Read(Imported.data(), int32_t(Imported.size()));
    return test_.Session->UpdateProgress(100);
  }
  bool ExportTable(TBRNCursor&, TBRNStream& file, const TBRNTransferFormat&) override {
    Progress progress(*test_.Session);
    for (int32_t row = 1; row <= 3; ++row) {
      const std::string line = std::to_string(row) + ",name" + std::to_string(row) + "\r\n";
      file.Write(line.data(), int32_t(line.size()));
      if (FailExport) throw EBRNException(1000, "The export failed");
      if (!test_.Session->UpdateProgress(row * 33)) return false;
    }
    return true;
  }
  std::unique_ptr<TBRNCursor> CreateLocalCursor(TBRNVirtualTableManager&, const std::string&,
                                                bool readOnly, bool, bool) override {
    TestCursor shape;
    AddStandardColumns(shape);
    ReadOnlyCursors.push_back(readOnly);
    return std::make_unique<StubCursor>(shape, readOnly);
  }
  std::unique_ptr<TBRNSchemaObjectManager> CreateQueryResultTableManager(TBRNTableEnvironment&,
                                                                         TBRNBaseTable*) override {
    return nullptr;
  }

  // The cursor's own progress bracket.
  struct Progress {
    explicit Progress(TBRNLocalSessionManager& session) : Session(session) {
      Session.BeginProgress();
    }
    ~Progress() { Session.EndProgress(); }
    TBRNLocalSessionManager& Session;
  };

  std::vector<std::string> Statements;
  // The size of the row file on disk before each INSERT.
  std::vector<int64_t> RowFileSizes;
  int32_t RowCacheCapacity = 0;  // 0: as the table has it
  std::string Imported;
  char Delimiter = 0;
  bool FailExport = false;
  std::vector<bool> ReadOnlyCursors;

 private:
  BackupTest& test_;
};

int32_t CursorCount(Db& database) {
  int32_t count = 0;
  int32_t handle = 0;
  TBRNHandleObject* object = nullptr;
  while (database.Cursors.NextObject(handle, object)) ++count;
  return count;
}

struct DataTransferTest : BackupTest {
  void SetUp() override {
    BackupTest::SetUp();
    TBRNModule* module = Session->BeginCreateModule("Legacy");
    module->SetPath(BRN_TEST_MIGRATOR_MODULE);
    Session->EndCreateModule(module);
    TBRNMigrator* migrator = Session->BeginCreateMigrator("FromDemo");
    migrator->ModuleName = "Legacy";
    Session->EndCreateMigrator(migrator);
  }
  TBRNMigrator* Migrator() {
    return static_cast<TBRNMigrator*>(Session->Config->Migrators->FindByName("FromDemo", true));
  }
  bool Migrate(Db& database, bool withData, const std::string& source = "legacy.db") {
    return MigrateDatabase(database, "FromDemo",
                           {{"Source",
                             [source](TBRNParamValue& target) { target.SetAsString(source); }}},
                           withData);
  }
  TBRNTransferRequest Request(const std::string& table, const std::string& file) {
    TBRNTransferRequest request;
    request.TableName = table;
    request.FileName = file;
    request.StoreName = "Backups";
    request.Format.DelimiterChar = ';';
    return request;
  }

  FakeExecution Execution{*this};
};

// The objects in the module's order, the table followed by its rows; the
// index, listed by the module, is created once.
TEST_F(DataTransferTest, MigrationRunsTheModulesObjectsInOrder) {
  Db& database = MakeDatabase("D");
  Statuses.clear();
  ASSERT_TRUE(Migrate(database, true));
  EXPECT_EQ(Execution.Statements,
            (std::vector<std::string>{"CREATE TABLE \"Customers\"",
                                      "INSERT INTO \"Customers\" VALUES (1)",
                                      "INSERT INTO \"Customers\" VALUES (2)",
                                      "CREATE INDEX \"Customers, by name\""}));
  EXPECT_FALSE(Migrator()->IsOpen());
  EXPECT_EQ(Migrator()->Params->FindParam("Source")->GetAsString(), "legacy.db");
  ASSERT_GE(Statuses.size(), 2u);
  EXPECT_EQ(Statuses.front(), "Migrating the database D...");
  EXPECT_EQ(Statuses.back(), "The database D was migrated successfully");
  database.CloseDatabase(false);
  EXPECT_EQ(Rows(database, "Customers"), (Ids{1, 2}));

  // Without data the objects alone.
  Db& other = MakeDatabase("E");
  Execution.Statements.clear();
  ASSERT_TRUE(Migrate(other, false));
  EXPECT_EQ(Execution.Statements,
            (std::vector<std::string>{"CREATE TABLE \"Customers\"",
                                      "CREATE INDEX \"Customers, by name\""}));
  other.CloseDatabase(false);
  EXPECT_EQ(Rows(other, "Customers"), Ids{});
}

// The rows of a table reach the disk after every row-cache-full of rows,
// not only at the commit: the progress after a row sees the row file as
// the last flush left it.
TEST_F(DataTransferTest, MigratedRowsAreFlushedEveryRowCacheCapacityRows) {
  for (int32_t capacity : {2, 0}) {
    SCOPED_TRACE(capacity);
    Db& database = MakeDatabase(capacity == 2 ? "D" : "E");
    Execution.RowCacheCapacity = capacity;
    const std::string rowFile = database.GetSchemaFolder("") + "Customers.BRNTbl";
    // The first report of each percentage: 50 after row 1, 100 after row 2
    // (before the commit).
    std::map<int32_t, int64_t> sizeAt;
    Session->Events.OnProgress = [&](int32_t percent, bool& proceed) {
      proceed = true;
      sizeAt.emplace(percent, Engine.Faults->GetFileSize(rowFile));
    };
    ASSERT_TRUE(Migrate(database, true));
    Session->Events.OnProgress = nullptr;
    ASSERT_EQ(sizeAt.count(50), 1u);
    ASSERT_EQ(sizeAt.count(100), 1u);
    const int64_t sizes[] = {sizeAt[50], sizeAt[100]};
    if (capacity == 2) {
      EXPECT_GT(sizes[1], sizes[0]) << "the second row flushed both";
    } else {
      EXPECT_EQ(sizes[1], sizes[0]) << "nothing written before the commit";
    }
    database.CloseDatabase(false);
    EXPECT_EQ(Rows(database, "Customers"), (Ids{1, 2}));
  }
}

// A stop during a table's rows commits the rows so far and ends the whole
// migration.
TEST_F(DataTransferTest, AStopDuringTheRowsKeepsThemAndEndsTheMigration) {
  Db& database = MakeDatabase("D");
  Session->Events.OnProgress = [](int32_t percent, bool& proceed) { proceed = percent < 50; };
  Statuses.clear();
  EXPECT_FALSE(Migrate(database, true));
  Session->Events.OnProgress = nullptr;
  EXPECT_EQ(Execution.Statements,
            (std::vector<std::string>{"CREATE TABLE \"Customers\"",
                                      "INSERT INTO \"Customers\" VALUES (1)"}));
  EXPECT_FALSE(Migrator()->IsOpen());
  ASSERT_FALSE(Statuses.empty());
  EXPECT_EQ(Statuses.back(), "The migrate of the database D did not complete");
  database.CloseDatabase(false);
  EXPECT_EQ(Rows(database, "Customers"), (Ids{1}));
}

TEST_F(DataTransferTest, MigrationRefusals) {
  Db& database = MakeDatabase("D");
  auto [code, text] = Outcome([&] {
    MigrateDatabase(database, "FromDemo", {{"Nope", nullptr}}, true);
  });
  EXPECT_EQ(code, 401) << text;
  EXPECT_FALSE(Migrator()->IsOpen());
  EXPECT_TRUE(Execution.Statements.empty());

  EXPECT_EQ(Outcome([&] { Migrate(database, true); }).first, 0);
  // The table exists now: its CREATE fails and the failure passes on after
  // the failure text.
  Statuses.clear();
  EXPECT_NE(Outcome([&] { Migrate(database, true); }).first, 0);
  EXPECT_FALSE(Migrator()->IsOpen());
  EXPECT_EQ(Statuses.back(), "The migrate of the database D did not complete");

  database.CloseDatabase(false);
  EXPECT_EQ(Outcome([&] { Migrate(database, true); }).first, 402);
}

TEST_F(DataTransferTest, ImportReadsTheStoreFileThroughATableCursor) {
  Db& database = MakeDatabase("D");
  WriteStoreFile("rows.txt", "1;one\r\n2;two\r\n");
  Statuses.clear();
  ASSERT_TRUE(ImportTable(database, Request("T1", "rows.txt")));
  EXPECT_EQ(Execution.Imported, "1;one\r\n2;two\r\n");
  EXPECT_EQ(Execution.Delimiter, ';');
  EXPECT_EQ(Execution.ReadOnlyCursors, std::vector<bool>{false});
  ASSERT_GE(Statuses.size(), 2u);
  EXPECT_EQ(Statuses.front(), "Importing the table T1...");
  EXPECT_EQ(Statuses.back(), "The table T1 was imported successfully");
  EXPECT_EQ(CursorCount(database), 0) << "the cursor is freed";
}

// A read-only table is refused before a byte of the file is read.
TEST_F(DataTransferTest, ImportIntoAReadOnlyTableFailsBeforeTheFileIsRead) {
  Db& database = MakeDatabase("D");
  WriteStoreFile("rows.txt", "1;one\r\n");
  Table(database, "T1")->ReadOnly = true;
  Engine.Faults->Arm({TBRNFaultAction::FailRead, 1, true, EIO, 0, StoreFile("rows.txt")});
  auto [code, text] = Outcome([&] { ImportTable(database, Request("T1", "rows.txt")); });
  Engine.Faults->Disarm();
  EXPECT_EQ(code, 403);
  EXPECT_EQ(text,
            "The table T1 is read-only and this operation cannot be performed (IMPORT TABLE T1)");
  EXPECT_TRUE(Execution.Imported.empty());
  EXPECT_EQ(CursorCount(database), 0);
}

// A stopped or failed export leaves no file; a finished one stays.
TEST_F(DataTransferTest, ExportLeavesAFileOnlyWhenItCompletes) {
  Db& database = MakeDatabase("D");
  struct Case {
    std::string Name;
    bool Stop;
    bool Fail;
  };
  for (const Case& c : {Case{"stopped", true, false}, Case{"failed", false, true},
                        Case{"finished", false, false}}) {
    SCOPED_TRACE(c.Name);
    Execution.FailExport = c.Fail;
    Session->Events.OnProgress = [&c](int32_t percent, bool& proceed) {
      proceed = !(c.Stop && percent > 50);
    };
    Statuses.clear();
    auto [code, text] = Outcome([&] {
      EXPECT_EQ(ExportTable(database, Request("T1", "out.txt")), !c.Stop);
    });
    Session->Events.OnProgress = nullptr;
    EXPECT_EQ(code, c.Fail ? 1000 : 0) << text;
    const bool finished = !c.Stop && !c.Fail;
    EXPECT_EQ(StoreFileExists("out.txt"), finished);
    ASSERT_FALSE(Statuses.empty());
    EXPECT_EQ(Statuses.back(), finished ? "The table T1 was exported successfully"
                                        : "The export of the table T1 did not complete");
    EXPECT_EQ(CursorCount(database), 0);
  }
  EXPECT_EQ(FileBytes(*Engine.Faults, StoreFile("out.txt")), "1,name1\r\n2,name2\r\n3,name3\r\n");
  EXPECT_EQ(Execution.ReadOnlyCursors.back(), true);
}

}  // namespace
}  // namespace brn::testing

// REPAIR TABLE and VERIFY TABLE of a local database: their checks, status
// texts and log lines, a damaged index found and rebuilt, and a table whose
// last flush did not complete.
#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "metadata/catalog/indexes.h"
#include "metadata/config/privileges.h"
#include "metadata/config/users_roles.h"
#include "sessions/config/config_command_test_support.h"
#include "sessions/databases/database_test_support.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/tables/table_manager.h"
#include "storage/tables/table_manager_test_support.h"

namespace brn {
namespace {

using testing::ErrorCodeOf;
using testing::TestEngine;

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

struct VerifyTableTest : ::testing::Test {
  void SetUp() override {
    Session->Login("Administrator", "GlenHarbor");
    Session->Events.OnStatusMessage = [this](const std::string& text) { Texts.push_back(text); };
    Session->Events.OnLogMessage = [this](const std::string& text) { Logs.push_back(text); };
    TBRNDatabaseContainer* entry = testing::AddDatabase(*Session, "Shop", Env.Folder.Path + "shop");
    entry->ApplyDefaultGrants();
    Db = Session->GetDatabaseManager(entry);
    Db->OpenDatabase(kBRNLockShared);
    // Items (ID, Name) with three rows, then the index ByID over them.
    TBRNBaseTable* table = Db->CreateTable("Items");
    for (auto [name, type, length] :
         {std::tuple{"ID", dtInteger, 0}, std::tuple{"Name", dtChar, 20}}) {
      auto column = std::make_unique<TBRNColumn>(Db->Catalog.get());
      column->Name = name;
      column->SetDataType(type);
      if (length != 0) column->SetLength(length);
      table->Columns->AddObject(column.get());
      column.release();
    }
    Db->CommitCreateTable(table);
    Items = table;
    {
      TBRNTableManager& manager = Open();
      for (int32_t id : {1, 2, 3}) testing::InsertRawRow(manager, id, false);
      manager.Close(false, true);
    }
    TBRNBaseTable* found = nullptr;
    TBRNIndex* index = Db->CreateIndex("Items", found, "ByID");
    index->SetIndexType(kIndexOrdinary);
    std::unique_ptr<TBRNIndexColumn> entryColumn(
        static_cast<TBRNIndexColumn*>(index->Columns->NewItem()));
    entryColumn->SetColumn(static_cast<TBRNColumn*>(found->Columns->FindByName("ID", true)));
    index->Columns->AddObject(entryColumn.get());
    entryColumn.release();
    ASSERT_TRUE(Db->CommitCreateIndex(found, index));
    Items = found;
    Texts.clear();
    Logs.clear();
  }

  TBRNTableManager& Open() {
    return dynamic_cast<TBRNTableManager&>(
        *Db->TableManagers->OpenManager(Items, kBRNLockTypeShared));
  }
  std::string Path(const std::string& extension) {
    return Env.Folder.Path + "shop/Items" + extension;
  }
  std::string FileBytes() { return ReadBytes(Path(".BRNTbl")) + "|" + ReadBytes(Path(".BRNIdx")); }
  // Takes row n's key out of ByID, as damage would.
  void DropKey(int32_t n) {
    TBRNTableManager& manager = Open();
    auto buffer = manager.NewRowBuffer();
    TBRNRowsetRowValues values(manager.GetColumns(), &manager);
    values.SetRow(buffer.get());
    ASSERT_TRUE(manager.ReadRowByNumber(n, values));
    manager.DeleteKey(values, n, 0);
    manager.FlushFiles(true);
    manager.Close(false, true);
  }
  // The log lines between the opening and closing lines of the last run.
  std::vector<std::string> Findings() {
    EXPECT_GE(Logs.size(), 2u);
    if (Logs.size() < 2) return {};
    EXPECT_EQ(Logs.front().rfind("Verification of the table Items started at ", 0), 0u)
        << Logs.front();
    EXPECT_EQ(Logs.back().rfind("Verification of the table Items ended at ", 0), 0u) << Logs.back();
    return {Logs.begin() + 1, Logs.end() - 1};
  }

  TestEngine Env;
  std::unique_ptr<TBRNLocalSessionManager> Session = Env.OpenSession();
  TBRNLocalDatabaseManager* Db = nullptr;
  TBRNBaseTable* Items = nullptr;
  std::vector<std::string> Texts;
  std::vector<std::string> Logs;
};

TEST_F(VerifyTableTest, AMissingKeyIsReportedByVerifyRebuiltByRepairAndThenClean) {
  DropKey(2);
  const std::string damaged = FileBytes();

  EXPECT_TRUE(Db->VerifyTable("Items", false));
  EXPECT_EQ(Findings(), std::vector<std::string>{"Verification error for the index ByID in the "
                                                 "Items table (Missing key for the row 2) - Not "
                                                 "Fixed"});
  EXPECT_EQ(FileBytes(), damaged) << "VERIFY changed a file";
  ASSERT_GE(Texts.size(), 2u);
  EXPECT_EQ(Texts.front(), "Verifying the table Items...");
  EXPECT_EQ(Texts.back(), "The table Items was verified successfully");

  Texts.clear();
  Logs.clear();
  EXPECT_TRUE(Db->RepairTable("Items", false));
  EXPECT_EQ(Findings(), std::vector<std::string>{"Verification error for the index ByID in the "
                                                 "Items table (Missing key for the row 2) - "
                                                 "Fixed"});
  ASSERT_GE(Texts.size(), 2u);
  EXPECT_EQ(Texts.back(), "The table Items was verified successfully");
  EXPECT_FALSE(Items->GetSkipWriteCheck());

  Logs.clear();
  EXPECT_FALSE(Db->VerifyTable("Items", false));
  EXPECT_TRUE(Findings().empty()) << Joined(Logs);
}

// A table not opened since its creation has no files yet: VERIFY (which
// holds the Read lock its own open must not wait for) and REPAIR make them
// and find nothing.
TEST_F(VerifyTableTest, ATableNotOpenedSinceItsCreationVerifiesAndRepairsClean) {
  for (const char* name : {"Fresh", "Mended"}) {
    TBRNBaseTable* table = Db->CreateTable(name);
    auto column = std::make_unique<TBRNColumn>(Db->Catalog.get());
    column->Name = "ID";
    column->SetDataType(dtInteger);
    table->Columns->AddObject(column.get());
    column.release();
    Db->CommitCreateTable(table);
  }
  EXPECT_FALSE(Db->VerifyTable("Fresh", false));
  EXPECT_FALSE(Db->RepairTable("Mended", false));
  for (const char* name : {"Fresh", "Mended"})
    EXPECT_FALSE(ReadBytes(Env.Folder.Path + "shop/" + name + ".BRNTbl").empty()) << name;
}

TEST_F(VerifyTableTest, RefusedWithoutMaintainOrInsideATransactionBeforeAnything) {
  DropKey(2);
  const std::string before = FileBytes();
  TBRNUser* entry = Session->BeginCreateUser("Ann");
  entry->SetPassword("pw");
  Session->EndCreateUser(entry);
  std::unique_ptr<TBRNLocalSessionManager> ann = Env.OpenSession("Other");
  ann->Login("Ann", "pw");
  TBRNLocalDatabaseManager* annDb = ann->GetDatabaseManager(
      static_cast<TBRNDatabaseContainer*>(ann->Config->Databases->FindByName("Shop", true)));
  annDb->OpenDatabase(kBRNLockShared);
  std::vector<std::string> annTexts;
  ann->Events.OnStatusMessage = [&](const std::string& text) { annTexts.push_back(text); };

  struct Case {
    const char* Name;
    std::function<void()> Call;
    int32_t Code;
    const char* Statement;  // named at the end of the message
  };
  const std::vector<Case> cases{
      {"VERIFY without Maintain", [&] { annDb->VerifyTable("Items", false); }, 503,
       "(VERIFY TABLE Items)"},
      {"REPAIR without Maintain", [&] { annDb->RepairTable("Items", false); }, 503,
       "(REPAIR TABLE Items)"},
      {"VERIFY in a transaction",
       [&] {
         Db->Database->StateBits |= TBRNPrivilegedConfigObject::kInTransaction;
         Db->VerifyTable("Items", false);
       },
       404, "(VERIFY TABLE Items)"},
      {"REPAIR in a transaction",
       [&] {
         Db->Database->StateBits |= TBRNPrivilegedConfigObject::kInTransaction;
         Db->RepairTable("Items", true);
       },
       404, "(REPAIR TABLE Items)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Texts.clear();
    Logs.clear();
    annTexts.clear();
    try {
      c.Call();
      ADD_FAILURE() << "not refused";
    } catch (const EBRNException& error) {
      EXPECT_EQ(error.ErrorCode, c.Code);
      const std::string message = error.ErrorMessage;
      const std::string statement = c.Statement;
      EXPECT_TRUE(message.size() >= statement.size() &&
                  message.compare(message.size() - statement.size(), statement.size(), statement) ==
                      0)
          << message;
    }
    Db->Database->StateBits &= uint8_t(~TBRNPrivilegedConfigObject::kInTransaction);
    EXPECT_TRUE(Texts.empty() && annTexts.empty()) << "a stage was reported";
    EXPECT_TRUE(Logs.empty()) << Joined(Logs);
    EXPECT_EQ(FileBytes(), before);
  }
}

TEST_F(VerifyTableTest, RepairOpensATableLeftWithAnInterruptedFlush) {
  {
    // The flag of the rows file's header, as a flush cut short leaves it.
    std::fstream file(Path(".BRNTbl"), std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(53);
    file.put(char(1));
  }
  EXPECT_EQ(ErrorCodeOf([&] { Db->VerifyTable("Items", false); }), 100);
  Logs.clear();
  EXPECT_TRUE(Db->RepairTable("Items", false));
  std::vector<std::string> findings = Findings();
  ASSERT_FALSE(findings.empty());
  EXPECT_NE(findings[0].find("(Write interrupted) - Fixed"), std::string::npos) << Joined(findings);
  EXPECT_FALSE(Items->GetSkipWriteCheck());
  Logs.clear();
  EXPECT_FALSE(Db->VerifyTable("Items", false));
  EXPECT_TRUE(Findings().empty()) << Joined(Logs);
}

}  // namespace
}  // namespace brn

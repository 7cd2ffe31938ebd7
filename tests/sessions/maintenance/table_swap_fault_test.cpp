// OPTIMIZE, ALTER TABLE and RENAME TABLE when a write or a flush fails:
// each write (and each flush) of the statement fails in turn, from the row
// rewrite through the swap and the catalog commit to the checksum stamp.
// Every time the statement reports the failure, and the table then opens,
// in another session, with its old or its new definition and files, never
// a mix, with every row and a clean verification.
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/text/exception.h"
#include "foundation/text/string_list.h"
#include "sessions/ddl/view_routine_test_support.h"
#include "sessions/maintenance/maintenance_test_support.h"

namespace brn {
namespace {

using testing::FaultEngine;
using testing::StoredRow;

struct Shop {
  Shop(TBRNEngineManager& engine, bool create) {
    Session = std::make_unique<TBRNLocalSessionManager>(&engine, false, false);
    Session->OpenSession("host", "Tester", "");
    Session->Login("Administrator", "GlenHarbor");
    TBRNDatabaseContainer* entry = testing::AddDatabase(*Session, "Shop", "/config/shop");
    entry->ApplyDefaultGrants();
    Db = Session->GetDatabaseManager(entry);
    Db->OpenDatabase(kBRNLockShared);
    if (!create) return;
    TBRNBaseTable* table = Db->CreateTable("T");
    testing::DefineTable(*Db->Catalog, table, true);
    Db->CommitCreateTable(table);
    testing::InsertNames(*Db, table, {"n5", "n4", "n3", "n2", "n1", "n0"});
    testing::DeleteRows(*Db, table, {2, 4});
  }
  TBRNBaseTable* Table(const std::string& name = "T") {
    return static_cast<TBRNBaseTable*>(
        Db->Catalog->DefaultSchema->BaseTables->FindByName(name, false));
  }
  std::unique_ptr<TBRNLocalSessionManager> Session;
  TBRNLocalDatabaseManager* Db = nullptr;
};

void AddColumn(TBRNBaseTable* copy) {
  auto column = std::make_unique<TBRNColumn>(copy->Catalog);
  column->Name = "Extra";
  column->SetDataType(dtInteger);
  copy->Columns->AddObject(column.get());
  column.release()->AlterSourcePosition = -1;
}

struct FaultCase {
  const char* Name;
  std::function<void(TBRNLocalDatabaseManager&)> Run;
  int32_t NewColumns;
  bool Flushes;               // flushes fail in turn instead of writes
  std::string NewName = "T";  // the table's name once the statement succeeded
};

class SwapFaultTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(SwapFaultTest, EachFailedWriteLeavesTheOldOrTheNewTable) {
  const FaultCase& fault = GetParam();
  const std::vector<std::string> live = {"n0", "n1", "n3", "n5"};
  bool completed = false;
  for (int32_t n = 1; n < 1000 && !completed; ++n) {
    FaultEngine engine;
    Shop shop(engine, true);
    const int32_t injected = engine.Faults->InjectedCount();
    if (fault.Flushes) {
      engine.Faults->FailFlush(n);
    } else {
      engine.Faults->FailWrite(n);
    }
    bool failed = false;
    try {
      fault.Run(*shop.Db);
    } catch (const EBRNException&) {
      failed = true;
    }
    engine.Faults->Disarm();
    const bool hit = engine.Faults->InjectedCount() != injected;
    ASSERT_EQ(failed, hit) << "fault " << n;
    completed = !hit;

    Shop other(engine, false);
    // A failed statement leaves the old name.
    TBRNBaseTable* table = other.Table(failed ? "T" : fault.NewName);
    ASSERT_NE(table, nullptr) << "fault " << n;
    const int32_t columns = table->Columns->Count();
    ASSERT_TRUE(columns == 2 || columns == fault.NewColumns) << "fault " << n;
    std::vector<StoredRow> rows;
    ASSERT_NO_THROW(rows = testing::ReadRows(*other.Db, table)) << "fault " << n;
    std::vector<std::string> names;
    for (const StoredRow& row : rows) {
      if (!row.Deleted) names.push_back(row.Name);
    }
    std::sort(names.begin(), names.end());
    ASSERT_EQ(names, live) << "fault " << n;
    for (int32_t i = 0; i < table->Indexes->Count(); ++i) {
      ASSERT_EQ(testing::NamesByIndex(*other.Db, table, i).size(), live.size())
          << "index " << i << ", fault " << n;
    }
    EXPECT_FALSE(other.Db->VerifyTable(table->Name, false)) << "fault " << n;
    if (fault.NewName != "T") {
      // No file and no rename mark stays under the other name.
      const std::string otherName = failed ? fault.NewName : "T";
      TBRNStringsList left;
      other.Db->FileManager->ListFiles("/config/shop/" + otherName + ".*", true, left);
      other.Db->FileManager->ListFiles("/config/shop/*.Rename", true, left);
      EXPECT_EQ(left.GetItems(), std::vector<std::string>{}) << "fault " << n;
    }
    // The failing session sees the same table again.
    TBRNBaseTable* own = shop.Table(table->Name);
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own->Columns->Count(), columns) << "fault " << n;
  }
  EXPECT_TRUE(completed);
}

INSTANTIATE_TEST_SUITE_P(
    Statements, SwapFaultTest,
    ::testing::Values(
        FaultCase{"OptimizeWrites", [](TBRNLocalDatabaseManager& db) { db.OptimizeTable("T", ""); },
                  2, false},
        FaultCase{"AlterInPlaceWrites",
                  [](TBRNLocalDatabaseManager& db) { testing::Alter(db, AddColumn, 0x5); }, 3,
                  false},
        FaultCase{"AlterInPlaceFlushes",
                  [](TBRNLocalDatabaseManager& db) { testing::Alter(db, AddColumn, 0x5); }, 3,
                  true},
        FaultCase{"AlterFullWrites",
                  [](TBRNLocalDatabaseManager& db) { testing::Alter(db, AddColumn, 0x3); }, 3,
                  false},
        FaultCase{
            "AlterIndexPageSizeWrites",
            [](TBRNLocalDatabaseManager& db) {
              testing::Alter(
                  db, [](TBRNBaseTable* copy) { copy->SetIndexPageSize(copy->IndexPageSize * 2); },
                  0x19);
            },
            2, false},
        // No file is rebuilt, but the checksum moves: the stamp in the
        // files is undone when the catalog commit fails.
        FaultCase{"AlterRenameColumnWithoutSwap",
                  [](TBRNLocalDatabaseManager& db) {
                    testing::Alter(
                        db, [](TBRNBaseTable* copy) { copy->Columns->GetItem(1)->Name = "Label"; },
                        0x80);
                  },
                  2, false},
        FaultCase{"RenameWrites", [](TBRNLocalDatabaseManager& db) { db.RenameTable("T", "U"); }, 2,
                  false, "U"},
        FaultCase{"RenameFlushes", [](TBRNLocalDatabaseManager& db) { db.RenameTable("T", "U"); },
                  2, true, "U"}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace brn

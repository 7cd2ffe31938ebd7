// The view and routine managers: a view forwards row operations to the
// table under its views, a routine opens as the System user, and a
// temporary view in use is not dropped.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sessions/ddl/view_routine_test_support.h"
#include "storage/rows/row_file_navigator.h"

namespace brn::testing {
namespace {

struct ViewRoutineManagerTest : ViewRoutineTest {
  FakeExecution Execution;
  TBRNLocalDatabaseManager* Database = OpenDatabase("Shop");
  TBRNSchema& Schema = *Database->Catalog->DefaultSchema;
  TBRNBaseTable* T1 = static_cast<TBRNBaseTable*>(Schema.BaseTables->FindByName("T1", true));

  void SetUp() override { Execution.Database = Database; }

  TBRNView* View(const std::string& name) {
    return static_cast<TBRNView*>(Schema.Views->FindByName(name, true));
  }
  // T1's manager, open (its files made at this first open).
  TBRNTableManager* OpenTable() {
    auto* table = static_cast<TBRNTableManager*>(Database->TableManagers->GetManager(T1));
    table->SetCreatingFiles(true);
    Database->TableManagers->OpenManager(T1, kBRNLockTypeShared);
    table->SetCreatingFiles(false);
    return table;
  }
  TBRNView* AddTemporaryView(const std::string& name) {
    auto view = std::make_unique<TBRNView>(Database->Catalog.get());
    view->Name = name;
    view->SetTemporary(true);
    view->Definition->SetText("SELECT * FROM T1");
    Schema.TemporaryViews->AddObject(view.get());
    Execution.Sources[name] = {Database->TableManagers.get(), T1};
    return view.release();
  }
};

TEST_F(ViewRoutineManagerTest, AViewOverAViewForwardsRowOperationsToTheTable) {
  Execution.Sources["V1"] = {Database->TableManagers.get(), T1};
  Execution.Sources["V2"] = {Database->ViewManagers.get(), View("V1")};
  TBRNTableManager* table = OpenTable();

  auto* outer = static_cast<TBRNViewManager*>(
      Database->ViewManagers->OpenManager(View("V2"), kBRNLockTypeShared));
  ASSERT_EQ(outer->GetBaseTableManager(), table);
  EXPECT_EQ(outer->GetColumns(), table->GetColumns());
  EXPECT_EQ(outer->GetRowsetManager(), table->GetRowsetManager());

  auto buffer = outer->NewRowBuffer();
  TBRNRowsetRowValues values(outer->GetColumns(), table);
  values.SetRow(buffer.get());
  values.SetAllNull();
  values.GetItem(1)->SetAsString("Ann");
  int32_t row = 0, version = 0, counter = 0;
  outer->InsertRow(values, row, version, counter, false);
  EXPECT_EQ(table->GetRowCount(), 1);
  EXPECT_EQ(outer->GetRowCount(), 1);

  // Closing the outer view lets go of the inner one and of the table.
  outer->Close(false, true);
  EXPECT_EQ(outer->GetBaseTableManager(), nullptr);
  EXPECT_THROW(outer->GetRowCount(), std::logic_error);
  EXPECT_EQ(Database->ViewManagers->GetManager(View("V1"))->GetUserCount(), 0);
  EXPECT_EQ(table->GetUserCount(), 1) << "only the test's own open is left";
}

TEST_F(ViewRoutineManagerTest, OpeningARoutinePreparesItAsSystemAndRestoresTheUser) {
  auto* p1 = static_cast<TBRNProcedure*>(Schema.Procedures->FindByName("P1", true));
  const std::string system = Session->Config->SystemUser->Name;
  const std::string user = Database->GetCurrentUser()->Name;
  ASSERT_NE(user, system);
  for (bool fail : {false, true}) {
    SCOPED_TRACE(fail ? "failing body" : "good body");
    Execution.FailPrepare = fail;
    Execution.PreparedAs.clear();
    const int32_t unpreparedBefore = Execution.Unprepared;
    if (fail) {
      EXPECT_THROW(Database->RoutineManagers->OpenManager(p1, kBRNLockTypeShared), EBRNException);
      EXPECT_EQ(p1->ManagerHandle, 0) << "a failed open leaves no manager";
    } else {
      TBRNSchemaObjectManager* manager =
          Database->RoutineManagers->OpenManager(p1, kBRNLockTypeShared);
      EXPECT_TRUE(manager->GetOpen());
      manager->Close(false, true);
    }
    EXPECT_EQ(Execution.PreparedAs, std::vector<std::string>{system});
    EXPECT_EQ(Database->GetCurrentUser()->Name, user);
    EXPECT_EQ(Execution.Unprepared, unpreparedBefore + 1) << "the close releases the body";
  }
}

TEST_F(ViewRoutineManagerTest, ATemporaryViewInUseIsDroppedOnlyWhenUnusedOrAtClose) {
  OpenTable();
  TBRNView* used = AddTemporaryView("Used");
  TBRNView* unused = AddTemporaryView("Unused");
  // A cursor on a view holds one user of its manager.
  Database->ViewManagers->OpenManager(used, kBRNLockTypeShared);
  Database->ViewManagers->OpenManager(unused, kBRNLockTypeShared)->Close(false, true);

  EXPECT_FALSE(Database->DropTemporaryViewIfUnused(used));
  EXPECT_TRUE(Database->DropTemporaryViewIfUnused(unused));
  ASSERT_EQ(Schema.TemporaryViews->Count(), 1);
  EXPECT_EQ(Schema.TemporaryViews->GetItem(0), used);
  EXPECT_NE(used->ManagerHandle, 0);

  Database->CloseDatabase(true);
  EXPECT_EQ(Schema.TemporaryViews->Count(), 0);
}

}  // namespace
}  // namespace brn::testing

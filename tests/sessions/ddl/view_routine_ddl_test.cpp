// The catalog statements on views, procedures and functions: grants on a
// view, failed catalog writes, the referrers of a renamed view and the
// maximum number of routines.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "metadata/config/privileges.h"
#include "metadata/config/users_roles.h"
#include "sessions/ddl/view_routine_test_support.h"
#include "sessions/local/config_manager.h"

namespace brn::testing {
namespace {

// Every view, function and procedure of the Default schema with its text.
std::vector<std::string> ViewsAndRoutines(TBRNLocalDatabaseManager& database) {
  TBRNSchema& schema = *database.Catalog->DefaultSchema;
  std::vector<std::string> objects;
  for (int32_t i = 0; i < schema.Views->Count(); ++i)
    objects.push_back("view " + schema.Views->GetView(i)->Name + ": " +
                      schema.Views->GetView(i)->Definition->SQL);
  for (int32_t i = 0; i < schema.Functions->Count(); ++i)
    objects.push_back("function " + schema.Functions->GetFunction(i)->Name + ": " +
                      schema.Functions->GetFunction(i)->Definition->SQL);
  for (int32_t i = 0; i < schema.Procedures->Count(); ++i)
    objects.push_back("procedure " + schema.Procedures->GetProcedure(i)->Name + ": " +
                      schema.Procedures->GetProcedure(i)->Definition->SQL);
  return objects;
}

// A begin step, the filling of what it returned, then its commit step, or
// its rollback step when the commit raised (as the executor does).
template <typename Object>
void RunThreeStep(const std::function<Object*()>& begin, const std::function<void(Object*)>& fill,
                  const std::function<void(Object*)>& commit,
                  const std::function<void(Object*)>& rollback) {
  Object* object = begin();
  try {
    fill(object);
    commit(object);
  } catch (...) {
    rollback(object);
    throw;
  }
}

TEST_F(ViewRoutineTest, EachStatementLeavesTheCatalogAsBeforeWhenItsWriteFails) {
  using Db = TBRNLocalDatabaseManager;
  struct Case {
    std::string Name;
    std::string FailureText;  // the failure stage reported
    std::function<void(Db&)> Run;
  };
  auto text = [](const std::string& sql) {
    return [sql](auto* object) { object->Definition->SetText(sql); };
  };
  const std::vector<Case> cases = {
      {"CreateView", "The creation of the view V9 did not complete",
       [&](Db& d) {
         RunThreeStep<TBRNView>([&] { return d.CreateView("V9"); }, text("SELECT ID FROM T1"),
                                [&](TBRNView* v) { d.CommitCreateView(v); },
                                [&](TBRNView* v) { d.RollbackCreateView(v); });
       }},
      {"AlterView", "The alteration of the view V1 did not complete",
       [&](Db& d) {
         RunThreeStep<TBRNView>([&] { return d.AlterView("V1"); }, text("SELECT ID FROM T1"),
                                [&](TBRNView* v) { d.CommitAlterView(v); },
                                [&](TBRNView* v) { d.RollbackAlterView(v); });
       }},
      {"DropView", "The drop of the view V2 did not complete", [](Db& d) { d.DropView("V2"); }},
      {"RenameView", "The rename of the view V2 did not complete",
       [](Db& d) { d.RenameView("V2", "V8"); }},
      {"CreateFunction", "The creation of the function F9 did not complete",
       [&](Db& d) {
         RunThreeStep<TBRNFunction>([&] { return d.CreateFunction("F9"); },
                                    text("FUNCTION F9() RETURNS INTEGER BEGIN RETURN 9; END"),
                                    [&](TBRNFunction* f) { d.CommitCreateFunction(f); },
                                    [&](TBRNFunction* f) { d.RollbackCreateFunction(f); });
       }},
      {"AlterFunction", "The alteration of the function F1 did not complete",
       [&](Db& d) {
         RunThreeStep<TBRNFunction>([&] { return d.AlterFunction("F1"); },
                                    text("FUNCTION F1() RETURNS INTEGER BEGIN RETURN 2; END"),
                                    [&](TBRNFunction* f) { d.CommitAlterFunction(f); },
                                    [&](TBRNFunction* f) { d.RollbackAlterFunction(f); });
       }},
      {"DropFunction", "The drop of the function F1 did not complete",
       [](Db& d) { d.DropFunction("F1"); }},
      {"RenameFunction", "The rename of the function F1 did not complete",
       [](Db& d) { d.RenameFunction("F1", "F8"); }},
      {"CreateProcedure", "The creation of the procedure P9 did not complete",
       [&](Db& d) {
         RunThreeStep<TBRNProcedure>([&] { return d.CreateProcedure("P9"); },
                                     text("PROCEDURE P9() BEGIN END"),
                                     [&](TBRNProcedure* p) { d.CommitCreateProcedure(p); },
                                     [&](TBRNProcedure* p) { d.RollbackCreateProcedure(p); });
       }},
      {"AlterProcedure", "The alteration of the procedure P1 did not complete",
       [&](Db& d) {
         RunThreeStep<TBRNProcedure>([&] { return d.AlterProcedure("P1"); },
                                     text("PROCEDURE P1() BEGIN DECLARE X INTEGER; END"),
                                     [&](TBRNProcedure* p) { d.CommitAlterProcedure(p); },
                                     [&](TBRNProcedure* p) { d.RollbackAlterProcedure(p); });
       }},
      {"DropProcedure", "The drop of the procedure P1 did not complete",
       [](Db& d) { d.DropProcedure("P1"); }},
      {"RenameProcedure", "The rename of the procedure P1 did not complete",
       [](Db& d) { d.RenameProcedure("P1", "P8"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Db& database = *OpenDatabase(c.Name);
    const std::string catalogFile = database.GetCatalogFileName();
    const std::string fileBefore = FileBytes(*Engine.Faults, catalogFile);
    const std::vector<std::string> before = ViewsAndRoutines(database);
    ASSERT_FALSE(fileBefore.empty());

    // The first write of the catalog file fails; putting the previous
    // file back succeeds.
    Engine.Faults->Arm({TBRNFaultAction::FailWrite, 1, false, ENOSPC, 0, catalogFile});
    Statuses.clear();
    EXPECT_THROW(c.Run(database), EBRNException);
    Engine.Faults->Disarm();
    ASSERT_FALSE(Statuses.empty());
    EXPECT_EQ(Statuses.back(), c.FailureText);
    EXPECT_EQ(ViewsAndRoutines(database), before);
    EXPECT_EQ(FileBytes(*Engine.Faults, catalogFile), fileBefore);
    EXPECT_FALSE(database.CatalogManager->InUpdate);

    ASSERT_NO_THROW(c.Run(database));
    EXPECT_NE(ViewsAndRoutines(database), before);
    EXPECT_NE(FileBytes(*Engine.Faults, catalogFile), fileBefore);
    database.CloseDatabase(true);
  }
}

TEST_F(ViewRoutineTest, GrantAllThenRevokeAllOnAViewLeavesNoGrant) {
  TBRNLocalDatabaseManager& database = *OpenDatabase("Shop");
  Session->ConfigManager->BeginUpdate();
  auto user = std::make_unique<TBRNUser>(Session->Config.get());
  user->SetName("Bob");
  user->SetPassword("secret");
  user->SetLockNumber(Session->Config->NextUserLockNumber());
  Session->Config->Users->AddObject(user.get());
  TBRNUser* bob = user.release();
  Session->ConfigManager->CommitUpdate();
  auto* view =
      static_cast<TBRNView*>(database.Catalog->DefaultSchema->Views->FindByName("V1", true));
  auto grants = [&] {
    int32_t count = 0;
    for (int32_t kind = pkSelect; kind <= pkExecute; ++kind)
      if (view->FindGrant(bob, kind) >= 0) ++count;
    return count;
  };

  database.GrantPrivilege("Bob", "V1", 1, pkAll);
  EXPECT_GT(grants(), 1);
  EXPECT_GE(view->FindGrant(bob, pkSelect), 0);
  database.RevokePrivilege("Bob", "V1", 1, pkAll);
  EXPECT_EQ(grants(), 0);
}

TEST_F(ViewRoutineTest, RenamingAViewRewritesTheViewsThatNameIt) {
  TBRNLocalDatabaseManager& database = *OpenDatabase("Shop");
  database.RenameView("V1", "Base");
  TBRNViews& views = *database.Catalog->DefaultSchema->Views;
  EXPECT_NE(views.FindByName("Base", false), nullptr);
  auto* v2 = static_cast<TBRNView*>(views.FindByName("V2", true));
  EXPECT_NE(v2->Definition->SQL.find("Base"), std::string::npos) << v2->Definition->SQL;
  EXPECT_EQ(v2->Definition->SQL.find("V1"), std::string::npos) << v2->Definition->SQL;
}

TEST_F(ViewRoutineTest, CreatingARoutineBeyondTheRoutineMaximumRaises405) {
  TBRNLocalDatabaseManager& database = *OpenDatabase("Shop");
  TBRNCatalog& catalog = *database.Catalog;
  TBRNSchema& schema = *catalog.DefaultSchema;
  // F1 and P1 exist: 4094 more make the 4096 the routine list holds.
  database.CatalogManager->BeginUpdate();
  for (int32_t i = 0; i < 4094; ++i) {
    std::unique_ptr<TBRNRoutine> routine;
    if (i % 2 == 0) {
      routine = std::make_unique<TBRNFunction>(&catalog);
    } else {
      routine = std::make_unique<TBRNProcedure>(&catalog);
    }
    routine->Name = "R" + std::to_string(i);
    if (i % 2 == 0) {
      schema.Functions->AddObject(routine.get());
    } else {
      schema.Procedures->AddObject(routine.get());
    }
    routine.release();
  }
  database.CatalogManager->CommitUpdate();
  const std::vector<std::string> before = ViewsAndRoutines(database);
  for (bool function : {true, false}) {
    SCOPED_TRACE(function ? "function" : "procedure");
    try {
      if (function) {
        database.CreateFunction("Extra");
      } else {
        database.CreateProcedure("Extra");
      }
      ADD_FAILURE() << "no error";
    } catch (const EBRNException& e) {
      EXPECT_EQ(e.ErrorCode, 405);
      EXPECT_EQ(e.ErrorMessage, "The maximum number of routines has been reached (4096)");
    }
    EXPECT_FALSE(database.CatalogManager->InUpdate);
    EXPECT_EQ(ViewsAndRoutines(database), before);
  }

  // One routine fewer leaves room again.
  database.CatalogManager->BeginUpdate();
  std::unique_ptr<TBRNConfigObject> removed(schema.Procedures->RemoveObject(0));
  database.CatalogManager->CommitUpdate();
  TBRNFunction* extra = database.CreateFunction("Extra");
  EXPECT_EQ(extra->Name, "Extra");
  database.RollbackCreateFunction(extra);
}

}  // namespace
}  // namespace brn::testing

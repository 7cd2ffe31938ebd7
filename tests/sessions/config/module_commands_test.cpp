// The configuration commands on modules, text filters, word generators and
// migrators, and SET MIGRATOR.
#include <string>

#include <gtest/gtest.h>

#include "metadata/config/config.h"
#include "metadata/modules/migrators.h"
#include "metadata/modules/module.h"
#include "metadata/modules/text_filters.h"
#include "sessions/config/config_command_test_support.h"
#include "sessions/local/config_manager.h"

namespace brn::testing {
namespace {

struct ModuleCommandTest : ConfigCommandTest {
  void AddModule(const std::string& name) {
    TBRNModule* module = Session->BeginCreateModule(name);
    module->SetPath("lib" + name + ".so");
    Session->EndCreateModule(module);
  }
  void AddTextFilter(const std::string& name, const std::string& type,
                     const std::string& moduleName) {
    TBRNTextFilter* filter = Session->BeginCreateTextFilter(name);
    filter->SetFilterType(type);
    filter->ModuleName = moduleName;
    Session->EndCreateTextFilter(filter);
  }
  TBRNModule* Module(const std::string& name) {
    return static_cast<TBRNModule*>(Config().Modules->FindByName(name, false));
  }
};

TEST_F(ModuleCommandTest, ModulesTakeTheLowestFreeLockNumbers) {
  AddModule("First");
  AddModule("Second");
  EXPECT_EQ(Module("First")->LockNumber, 1);
  EXPECT_EQ(Module("Second")->LockNumber, 2);
  Session->DropModule("First");
  AddModule("Third");
  EXPECT_EQ(Module("Third")->LockNumber, 1);
}

TEST_F(ModuleCommandTest, AReferencedModuleCannotBeDroppedButFollowsARename) {
  AddModule("Filters");
  AddTextFilter("Pdf", "pdf", "Filters");
  EXPECT_EQ(ErrorCodeOf([&] { Session->DropModule("Filters"); }), 201);
  ASSERT_NE(Module("Filters"), nullptr);
  EXPECT_FALSE(Session->ConfigManager->InUpdate);

  Session->RenameModule("Filters", "Documents");
  auto* filter = static_cast<TBRNTextFilter*>(Config().TextFilters->FindByName("Pdf", true));
  EXPECT_EQ(filter->ModuleName, "Documents");

  Session->DropTextFilter("Pdf");
  Session->DropModule("Documents");
  EXPECT_EQ(Module("Documents"), nullptr);
}

TEST_F(ModuleCommandTest, RenameToATakenNameFails) {
  AddModule("Filters");
  AddTextFilter("Pdf", "pdf", "Filters");
  AddTextFilter("Doc", "doc", "Filters");
  EXPECT_EQ(ErrorCodeOf([&] { Session->RenameTextFilter("Pdf", "doc"); }), 400);
  EXPECT_NE(Config().TextFilters->FindByName("Pdf", false), nullptr);
  EXPECT_FALSE(Session->ConfigManager->InUpdate);
}

TEST_F(ModuleCommandTest, WordGeneratorsAndMigratorsCreateAlterDropAndRename) {
  AddModule("Words");
  TBRNWordGenerator* generator = Session->BeginCreateWordGenerator("Stems");
  generator->ModuleName = "Words";
  Session->EndCreateWordGenerator(generator);
  generator = Session->BeginAlterWordGenerator("Stems");
  generator->SetDescription("Word stems");
  Session->EndAlterWordGenerator(generator);
  Session->RenameWordGenerator("Stems", "Roots");
  generator = static_cast<TBRNWordGenerator*>(Config().WordGenerators->FindByName("Roots", true));
  EXPECT_EQ(generator->Description, "Word stems");
  // No still-referenced check: the drop is passed on.
  Session->DropWordGenerator("Roots");
  EXPECT_EQ(Config().WordGenerators->FindByName("Roots", false), nullptr);

  TBRNMigrator* migrator = Session->BeginCreateMigrator("Legacy");
  migrator->ModuleName = "Words";
  Session->EndCreateMigrator(migrator);
  migrator = Session->BeginAlterMigrator("Legacy");
  migrator->SetDescription("Changed, then cancelled");
  Session->CancelAlterMigrator(migrator);
  migrator = static_cast<TBRNMigrator*>(Config().Migrators->FindByName("Legacy", true));
  EXPECT_EQ(migrator->Description, "");
}

TEST_F(ModuleCommandTest, SetMigratorWithAnUnknownNameKeepsThePreviousOne) {
  AddModule("Mig");
  TBRNMigrator* migrator = Session->BeginCreateMigrator("Legacy");
  migrator->ModuleName = "Mig";
  Session->EndCreateMigrator(migrator);
  Session->SetMigrator("legacy");
  EXPECT_EQ(Session->Migrator, "Legacy");
  EXPECT_EQ(ErrorCodeOf([&] { Session->SetMigrator("Nobody"); }), 401);
  EXPECT_EQ(Session->Migrator, "Legacy");
  Session->SetMigrator("");
  EXPECT_EQ(Session->Migrator, "");
}

}  // namespace
}  // namespace brn::testing

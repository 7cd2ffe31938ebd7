#include "metadata/modules/module.h"

#include <dlfcn.h>

#include <memory>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "foundation/core/memory_stream.h"
#include "foundation/values/param_value.h"
#include "metadata/module_test_support.h"

namespace brn::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

std::string folderOf(const std::string& path) {
  return path.substr(0, path.find_last_of('/'));
}

std::string fileOf(const std::string& path) {
  return path.substr(path.find_last_of('/') + 1);
}

// An integer parameter of a routine call.
TBRNParamValue* addIntegerParam(TBRNParamValues& params, const std::string& name, int32_t direction,
                                int32_t value, bool null = false) {
  auto* param = static_cast<TBRNParamValue*>(params.CreateValue(params.GetCount()));
  param->SetName(name);
  param->SetDirection(direction);
  param->SetDataType(dtInteger);
  if (null) {
    param->SetNull(true);
  } else {
    param->SetAsInteger(value);
  }
  params.Add(param);
  return param;
}

TBRNParamValue* addTextParam(TBRNParamValues& params, const std::string& name,
                             const std::string& value) {
  auto* param = static_cast<TBRNParamValue*>(params.CreateValue(params.GetCount()));
  param->SetName(name);
  param->SetDirection(pmInput);
  param->SetDataType(dtChar);
  param->SetDataSubType(stDefault);
  param->SetDeclaredLengthOnly(64);
  param->SetAsString(value);
  params.Add(param);
  return param;
}

// ---------------------------------------------------------------------------
// Lock ranges, stored record and DDL text

TEST(ModuleObjectTest, LockRangesAreAdjacentRegionsFromTheModuleBase) {
  TestRoot root;
  TBRNModule module(&root);
  struct Case {
    int32_t lockNumber;
    int32_t offset;
  } cases[] = {
      {0, 50339842}, {1, 50339842 + 4096}, {2, 50339842 + 8192}, {1024, 50339842 + 1024 * 4096}};
  for (const Case& c : cases) {
    module.LockNumber = c.lockNumber;
    for (uint8_t type : {ltShared, ltExclusive}) {
      EXPECT_EQ(module.GetLockOffset(type), c.offset) << c.lockNumber;
      EXPECT_EQ(module.GetLockLength(type), 4096);
    }
    for (uint8_t type : {ltRead, ltWrite, ltTransaction}) {
      EXPECT_EQ(module.GetLockOffset(type), 0);
      EXPECT_EQ(module.GetLockLength(type), 0);
    }
  }
  // Consecutive numbers: one region ends where the next starts.
  module.LockNumber = 7;
  int32_t end7 = module.GetLockOffset(ltShared) + module.GetLockLength(ltShared);
  module.LockNumber = 8;
  EXPECT_EQ(module.GetLockOffset(ltShared), end7);
}

TEST(ModuleObjectTest, StoredRecordHoldsPathAndLockNumberFrom204) {
  TestRoot root;
  TBRNModule module(&root);
  module.Name = "Geo";
  module.Description = "Maps";
  module.Path = "geo.so";
  module.LockNumber = 3;
  module.Attributes = "ignored";  // modules store no attributes
  TBRNMemoryStream stream;
  module.SaveToStream(stream, false);
  RecordBuilder expected;
  expected.Int(0).Str("Geo").Str("Maps").Bool(false).Bool(false).Str("geo.so").Int(3);
  EXPECT_EQ(StreamBytes(stream), expected.Bytes());

  TBRNModule loaded(&root);
  stream.SetPosition(0);
  loaded.LoadFromStream(stream);
  EXPECT_EQ(loaded.Path, "geo.so");
  EXPECT_EQ(loaded.LockNumber, 3);
  EXPECT_EQ(loaded.LoadedName, "Geo");

  // Older files have no lock number: the record ends after the path, both
  // when written and when read, and the module takes the first region.
  root.Version = kFormatVersion203;
  TBRNMemoryStream old;
  module.SaveToStream(old, false);
  RecordBuilder oldRecord;
  oldRecord.Int(0).Str("Geo").Str("Maps").Bool(false).Bool(false).Str("geo.so");
  EXPECT_EQ(StreamBytes(old), oldRecord.Bytes());
  old.SetPosition(0);
  loaded.LoadFromStream(old);
  EXPECT_EQ(loaded.LockNumber, 0);
  EXPECT_EQ(old.GetRemaining(), 0);
}

TEST(ModuleObjectTest, DamagedRecordsRaiseTheMetadataError) {
  TestRoot root;
  TBRNModule module(&root);
  module.Name = "Geo";
  TBRNMemoryStream stream;
  // A lock number whose region would lie outside the lock file.
  for (int32_t lockNumber : {-1, 2147483647}) {
    RecordBuilder()
        .Int(0)
        .Str("Geo")
        .Str("")
        .Bool(false)
        .Bool(false)
        .Str("geo.so")
        .Int(lockNumber)
        .Into(stream);
    EXPECT_EQ(CaughtError([&] { module.LoadFromStream(stream); }).ErrorCode, 100) << lockNumber;
  }
  // A record that ends inside the path.
  RecordBuilder().Int(0).Str("Geo").Str("").Bool(false).Bool(false).Int(50).Into(stream);
  EXPECT_EQ(CaughtError([&] { module.LoadFromStream(stream); }).ErrorCode, 100);
}

TEST(ModuleObjectTest, DDLTextAndKind) {
  TestRoot root;
  TBRNModule module(&root);
  module.Name = "Geo \"2\"";
  module.Path = "C:\\mods\\it's.so";
  EXPECT_EQ(module.GetCreateSQL(false, false),
            "CREATE MODULE \"Geo \"\"2\"\"\"\r\nPATH 'C:\\mods\\it''s.so'");
  module.Description = "Maps and 'places' \r\n ";
  EXPECT_EQ(module.GetCreateSQL(false, false),
            "CREATE MODULE \"Geo \"\"2\"\"\"\r\nPATH 'C:\\mods\\it''s.so'\r\n"
            "DESCRIPTION 'Maps and ''places'''");
  EXPECT_EQ(module.GetDropSQL(false, false), "DROP MODULE \"Geo \"\"2\"\"\"");
  EXPECT_EQ(module.GetObjectTypeName(), "module");
  TBRNModules modules(&root);
  EXPECT_EQ(modules.GetMaxCount(), 1024);
  EXPECT_EQ(modules.GetObjectTypeName(), "module");
}

TEST(ModuleObjectTest, ModulesKeepIDZeroAndSettersMarkOnlyChanges) {
  ModuleRoot root;
  TBRNModule* module = root.AddModule("Geo", "geo.so", 1);
  EXPECT_EQ(module->ID, 0);
  root.Modified = false;
  module->SetPath("geo.so");
  module->SetLockNumber(1);
  EXPECT_FALSE(root.Modified);
  module->SetPath("Geo.so");
  EXPECT_TRUE(root.Modified);
  root.Modified = false;
  module->SetLockNumber(2);
  EXPECT_TRUE(root.Modified);
}

TEST(ModuleObjectTest, FullPathStartsRelativePathsInTheConfigurationFolder) {
  ModuleRoot root;
  TBRNModule* module = root.AddModule("Geo", "geo.so");
  root.Folder = "/data/config";
  EXPECT_EQ(module->GetFullPath(), "/data/config/geo.so");
  root.Folder = "/data/config/";
  EXPECT_EQ(module->GetFullPath(), "/data/config/geo.so");
  module->Path = "/opt/geo.so";
  EXPECT_EQ(module->GetFullPath(), "/opt/geo.so");
  // Without a folder a bare name still names a file, never a library that
  // the loader would search for.
  module->Path = "geo.so";
  root.Folder = "";
  EXPECT_EQ(module->GetFullPath(), "./geo.so");
}

// ---------------------------------------------------------------------------
// Loading, sharing and freeing

TEST(ModuleLoadTest, AcquireTwiceReleaseOnceKeepsTheLibraryLoaded) {
  ModuleRoot root;
  TBRNModule* module = root.AddModule("Routines", kRoutinesModule);
  ASSERT_FALSE(IsMapped(kRoutinesModule));
  module->Acquire(mtExternalRoutines);
  module->Acquire(mtExternalRoutines);
  EXPECT_EQ(module->GetReferenceCount(), 2);
  EXPECT_TRUE(IsMapped(kRoutinesModule));
  module->Release();
  EXPECT_TRUE(module->IsLoaded());
  EXPECT_TRUE(IsMapped(kRoutinesModule));
  module->Release();
  EXPECT_FALSE(module->IsLoaded());
  EXPECT_FALSE(IsMapped(kRoutinesModule));
  // The host events bracket the one time the library was loaded.
  EXPECT_THAT(root.Events, ElementsAre("load Routines", "unload Routines"));
  // A release too many changes nothing.
  module->Release();
  EXPECT_EQ(module->GetReferenceCount(), 0);
  EXPECT_EQ(root.Events.size(), 2u);
}

TEST(ModuleLoadTest, VersionTextsComeFromTheFileAndRelativePathsFromTheFolder) {
  ModuleRoot root;
  root.Folder = folderOf(kRoutinesModule);
  TBRNModule* module = root.AddModule("Routines", fileOf(kRoutinesModule));
  module->Acquire(0);
  EXPECT_TRUE(module->IsLoaded());
  EXPECT_EQ(module->FileVersion, "1.2.3.4");
  EXPECT_EQ(module->FileDescription, "Brindle test routines");
  module->Release();
  EXPECT_FALSE(IsMapped(kRoutinesModule));

  // A module without a version section has empty texts.
  TBRNModule* filter = root.AddModule("Filter", kTextFilterModule, 2);
  filter->FileVersion = "stale";
  filter->Acquire(0);
  EXPECT_EQ(filter->FileVersion, "");
  filter->Release();
}

TEST(ModuleLoadTest, AFailedLoadRaisesEveryTimeAndKeepsNoReference) {
  ModuleRoot root;
  root.Folder = folderOf(kRoutinesModule);
  TBRNModule* module = root.AddModule("Missing", "no_such_module.so");
  for (int attempt = 0; attempt < 2; ++attempt) {
    for (int32_t kind : {0, int32_t(mtExternalRoutines)}) {
      EBRNException error = CaughtError([&] { module->Acquire(kind); });
      EXPECT_EQ(error.ErrorCode, 202);
      EXPECT_THAT(error.ErrorMessage,
                  StartsWith("An error occurred with the module Missing (The module could not "
                             "be loaded (OS Error: "));
      // The loader's own text names the file.
      EXPECT_THAT(error.ErrorMessage, HasSubstr("no_such_module.so"));
      EXPECT_EQ(module->GetReferenceCount(), 0);
      EXPECT_FALSE(module->IsLoaded());
    }
  }
  // The host heard of each failure and was never told of an unload.
  EXPECT_THAT(root.Events,
              ElementsAre("load Missing", "failed Missing", "load Missing", "failed Missing",
                          "load Missing", "failed Missing", "load Missing", "failed Missing"));
  EXPECT_EQ(module->GetModuleType(), mtUnknown);
  EXPECT_EQ(module->GetCharacterSet(), mcUnknown);
}

TEST(ModuleLoadTest, KindsAndCharacterSetsOfTheTestModules) {
  ModuleRoot root;
  struct Case {
    const std::string* path;
    int32_t kind;
    const char* kindName;
    int32_t characterSet;
    const char* characterSetName;
  } cases[] = {
      {&kRoutinesModule, mtExternalRoutines, "External Routines", mcAnsi, "ANSI"},
      {&kTextFilterModule, mtTextFilter, "Text Filter", mcUnknown, ""},
      {&kWordGeneratorModule, mtWordGenerator, "Word Generator", mcAnsi, "ANSI"},
      {&kMigratorModule, mtMigrator, "Migrator", mcAnsi, "ANSI"},
      {&kUnicodeModule, mtExternalRoutines, "External Routines", mcUnicode, "Unicode"},
  };
  int32_t lockNumber = 1;
  for (const Case& c : cases) {
    TBRNModule* module = root.AddModule("M" + std::to_string(lockNumber), *c.path, lockNumber);
    ++lockNumber;
    EXPECT_EQ(module->GetModuleType(), c.kind) << *c.path;
    EXPECT_EQ(module->GetModuleTypeName(), c.kindName);
    EXPECT_EQ(module->GetCharacterSet(), c.characterSet) << *c.path;
    EXPECT_EQ(module->GetCharacterSetName(), c.characterSetName);
    EXPECT_NO_THROW(module->CheckModuleType(c.kind));
    // Asking loads and frees again.
    EXPECT_FALSE(module->IsLoaded());
    EXPECT_FALSE(IsMapped(*c.path));
  }
  TBRNModule* filter = root.Modules.GetModule(1);
  EBRNException error = CaughtError([&] { filter->CheckModuleType(mtMigrator); });
  EXPECT_EQ(error.ErrorMessage,
            "An error occurred with the module M2 (The module is not a Migrator module)");
}

TEST(ModuleLoadTest, WrongKindOrCharacterSetRaisesAndGivesTheReferenceBack) {
  ModuleRoot root;
  TBRNModule* filter = root.AddModule("Filters", kTextFilterModule, 1);
  EBRNException error = CaughtError([&] { filter->Acquire(mtExternalRoutines); });
  EXPECT_EQ(error.ErrorCode, 202);
  EXPECT_EQ(error.ErrorMessage,
            "An error occurred with the module Filters (The module is not a External Routines "
            "module)");
  EXPECT_EQ(filter->GetReferenceCount(), 0);
  EXPECT_FALSE(IsMapped(kTextFilterModule));

  // Without a character-set export a module is taken as it is.
  filter->Acquire(mtTextFilter);
  EXPECT_EQ(filter->GetReferenceCount(), 1);
  // While loaded a wrong kind is still refused, and the reference taken for
  // it is given back.
  EXPECT_EQ(CaughtError([&] { filter->Acquire(mtMigrator); }).ErrorCode, 202);
  EXPECT_EQ(filter->GetReferenceCount(), 1);
  filter->Release();

  TBRNModule* unicode = root.AddModule("Wide", kUnicodeModule, 2);
  error = CaughtError([&] { unicode->Acquire(mtExternalRoutines); });
  EXPECT_EQ(error.ErrorMessage,
            "An error occurred with the module Wide (The module is not compiled to use the ANSI "
            "character set)");
  EXPECT_EQ(unicode->GetReferenceCount(), 0);
  EXPECT_FALSE(unicode->IsLoaded());
  // Kind 0 only loads: no check.
  unicode->Acquire(0);
  EXPECT_TRUE(unicode->IsLoaded());
  unicode->Release();
}

TEST(ModuleLoadTest, AKindAcquiredAfterALoadOnlyAcquireBindsItsExports) {
  ModuleRoot root;
  TBRNModule* module = root.AddModule("Filters", kTextFilterModule);
  module->Acquire(0);
  module->Acquire(mtTextFilter);
  void* instance = module->OpenModule();
  module->CallTextFilter(instance, "HTML", "<b>bold</b> text");
  EXPECT_EQ(module->GetOutputText(), "bold text");
  module->CloseModule(instance);
  EXPECT_EQ(instance, nullptr);
  module->Release();
  module->Release();
  EXPECT_FALSE(IsMapped(kTextFilterModule));
}

TEST(ModuleLoadTest, DestroyingALoadedModuleFreesTheLibrary) {
  ModuleRoot root;
  {
    TBRNModule module(&root);
    module.Name = "Loose";
    module.Path = kRoutinesModule;
    module.Acquire(mtExternalRoutines);
    module.Acquire(mtExternalRoutines);
    EXPECT_TRUE(IsMapped(kRoutinesModule));
  }
  EXPECT_FALSE(IsMapped(kRoutinesModule));
  EXPECT_THAT(root.Events, ElementsAre("load Loose", "unload Loose"));
}

// ---------------------------------------------------------------------------
// Calls

class ModuleCallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module = root.AddModule("Routines", kRoutinesModule);
    module->Acquire(mtExternalRoutines);
    instance = module->OpenModule();
  }
  void TearDown() override {
    module->CloseModule(instance);
    module->Release();
  }
  ModuleRoot root;
  TBRNModule* module = nullptr;
  void* instance = nullptr;
};

TEST_F(ModuleCallTest, RoutineCallsMarshalParametersAndResults) {
  TBRNParamValues params;
  addIntegerParam(params, "A", pmInput, 2);
  addIntegerParam(params, "B", pmInput, 40);
  addIntegerParam(params, "Skipped", pmInput, 0, true);
  TBRNParamValue* sum = addIntegerParam(params, "Sum", pmInputOutput, 100);
  TBRNParamValue* result = addIntegerParam(params, "Result", pmResult, 0, true);
  module->CallRoutine(instance, "Add", params);
  // The input/output parameter is summed too.
  EXPECT_EQ(sum->GetAsInteger(), 142);
  EXPECT_FALSE(result->GetNull());
  EXPECT_EQ(result->GetAsInteger(), 142);
  EXPECT_EQ(params.FindParam("A")->GetAsInteger(), 2);

  // Without parameters the call still runs (and has no results).
  TBRNParamValues none;
  EXPECT_NO_THROW(module->CallRoutine(instance, "Add", none));
}

TEST_F(ModuleCallTest, AFalseAnswerRaisesTheModulesMessage) {
  TBRNParamValues params;
  EBRNException error = CaughtError([&] { module->CallRoutine(instance, "Fail", params); });
  EXPECT_EQ(error.ErrorCode, 202);
  EXPECT_EQ(error.ErrorMessage,
            "An error occurred with the module Routines (Execution Error: The routine failed on "
            "purpose)");
  EXPECT_THAT(error.ErrorMessage, EndsWith("(Execution Error: The routine failed on purpose)"));
  error = CaughtError([&] { module->CallRoutine(instance, "Nothing", params); });
  EXPECT_THAT(error.ErrorMessage, EndsWith("(Execution Error: Unknown routine Nothing)"));
  // The library stays usable.
  addIntegerParam(params, "A", pmInput, 1);
  addIntegerParam(params, "R", pmResult, 0, true);
  module->CallRoutine(instance, "Add", params);
  EXPECT_EQ(params.FindParam("R")->GetAsInteger(), 1);
}

TEST_F(ModuleCallTest, AMissingExportRaisesTheCallErrorNamingIt) {
  // A routines module has no text filter.
  EBRNException error = CaughtError([&] { module->CallTextFilter(instance, "HTML", "x"); });
  EXPECT_EQ(error.ErrorCode, 202);
  EXPECT_THAT(error.ErrorMessage,
              StartsWith("An error occurred with the module Routines (An error occurred with the "
                         "module call CallBRNTextFilter (OS Error: "));
  // Not bound for this kind, so the library was never asked for it.
  EXPECT_THAT(error.ErrorMessage, HasSubstr("Not bound"));
  // A call after the library was freed.
  TBRNModule other(&root);
  other.Name = "Idle";
  TBRNParamValues params;
  error = CaughtError([&] { other.CallRoutine(nullptr, "Add", params); });
  EXPECT_EQ(error.ErrorMessage,
            "An error occurred with the module Idle (An error occurred with the module call "
            "CallBRNRoutine (OS Error: The module is not loaded))");
}

TEST_F(ModuleCallTest, CallbacksReachTheHostOfTheModule) {
  TBRNParamValues params;
  addTextParam(params, "Text", "hello engine");
  module->CallRoutine(instance, "Callback", params);
  EXPECT_EQ(root.Events.back(), "callback Routines 5 hello engine");
}

// The host's exception becomes a false answer to the library and reaches
// the engine's caller once the library returns, whether the library failed
// because of the answer or went on as if nothing happened; the next call
// starts clean.
TEST_F(ModuleCallTest, TheHostsErrorInACallbackReachesTheCaller) {
  TBRNParamValues params;
  addTextParam(params, "Text", "hello engine");
  for (const char* routine : {"Callback", "CallbackIgnoringAnswer"}) {
    SCOPED_TRACE(routine);
    root.RefuseCallbacks = true;
    EBRNException error = CaughtError([&] { module->CallRoutine(instance, routine, params); });
    EXPECT_EQ(error.ErrorCode, 100);
    EXPECT_EQ(error.ErrorMessage, "refused");
    root.RefuseCallbacks = false;
    module->CallRoutine(instance, routine, params);
    EXPECT_EQ(root.Events.back(), "callback Routines 5 hello engine");
  }
}

TEST_F(ModuleCallTest, ACallbackForAModuleObjectThatIsGoneIsRefused) {
  // A second session's module object loads the same library: the library
  // now calls back with that object's handle.
  ModuleRoot otherRoot;
  auto other = std::make_unique<TBRNModule>(&otherRoot);
  other->Name = "Other";
  other->Path = kRoutinesModule;
  other->Acquire(mtExternalRoutines);
  TBRNParamValues params;
  addTextParam(params, "Text", "to the other");
  module->CallRoutine(instance, "Callback", params);
  EXPECT_EQ(otherRoot.Events.back(), "callback Other 5 to the other");
  // The other object goes while this one keeps the library loaded.
  other.reset();
  EXPECT_TRUE(IsMapped(kRoutinesModule));
  EBRNException error = CaughtError([&] { module->CallRoutine(instance, "Callback", params); });
  EXPECT_THAT(error.ErrorMessage, EndsWith("(Execution Error: The engine refused the log text)"));
}

TEST(ModuleThreadTest, SessionsLoadCallAndFreeTheSameLibraryAtOnce) {
  auto session = [] {
    ModuleRoot root;
    TBRNModule* module = root.AddModule("Routines", kRoutinesModule);
    for (int round = 0; round < 50; ++round) {
      module->Acquire(mtExternalRoutines);
      void* instance = module->OpenModule();
      TBRNParamValues params;
      addIntegerParam(params, "A", pmInput, round);
      addIntegerParam(params, "R", pmResult, 0, true);
      module->CallRoutine(instance, "Add", params);
      EXPECT_EQ(params.FindParam("R")->GetAsInteger(), round);
      module->CloseModule(instance);
      module->Release();
    }
  };
  std::thread first(session), second(session), third(session);
  first.join();
  second.join();
  third.join();
  EXPECT_FALSE(IsMapped(kRoutinesModule));
}

TEST(ModuleReferenceTest, RenameAndReferrersReachEveryBoundObject) {
  ModuleRoot root;
  TBRNModule* module = root.AddModule("Geo", "geo.so");
  TBRNTextFilter* filter = root.AddFilter("F", "HTML", "GEO");
  TBRNWordGenerator* generator = root.AddGenerator("G", "geo");
  TBRNMigrator* migrator = root.AddMigrator("M", "Geo");
  root.AddMigrator("Unrelated", "Other");
  EBRNException error = CaughtError([&] { module->CheckNotReferenced("dropped"); });
  EXPECT_EQ(error.ErrorCode, 201);
  EXPECT_THAT(error.ErrorMessage, StartsWith("The module Geo cannot be dropped because it is still "
                                             "referenced by the text filter F"));
  EXPECT_EQ(module->GetReferrers()->Count(), 3);

  root.Modified = false;
  module->NotifyRenamed("Atlas");
  EXPECT_EQ(filter->ModuleName, "Atlas");
  EXPECT_EQ(generator->ModuleName, "Atlas");
  EXPECT_EQ(migrator->ModuleName, "Atlas");
  EXPECT_EQ(root.Migrators.GetMigrator(1)->ModuleName, "Other");
  EXPECT_TRUE(root.Modified);
}

}  // namespace
}  // namespace brn::testing

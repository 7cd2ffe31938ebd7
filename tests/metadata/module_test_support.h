#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "foundation/text/exception.h"
#include "metadata/modules/migrators.h"
#include "metadata/modules/module.h"
#include "metadata/modules/module_host.h"
#include "metadata/modules/text_filters.h"
#include "metadata/object_test_support.h"

namespace brn::testing {

// The test modules, built next to the tests.
inline const std::string kRoutinesModule = BRN_TEST_ROUTINES_MODULE;
inline const std::string kTextFilterModule = BRN_TEST_TEXT_FILTER_MODULE;
inline const std::string kWordGeneratorModule = BRN_TEST_WORD_GENERATOR_MODULE;
inline const std::string kMigratorModule = BRN_TEST_MIGRATOR_MODULE;
inline const std::string kUnicodeModule = BRN_TEST_UNICODE_MODULE;

// Whether a file of that name is mapped into this process.
inline bool IsMapped(const std::string& path) {
  std::string name = path.substr(path.find_last_of('/') + 1);
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    if (line.size() >= name.size() &&
        line.compare(line.size() - name.size(), name.size(), name) == 0) {
      return true;
    }
  }
  return false;
}

// A configuration root with the four lists of module objects and a record
// of the loading events and callback requests.
class ModuleRoot : public TestRoot, public TBRNModuleHost {
 public:
  ModuleRoot() : Modules(this), TextFilters(this), WordGenerators(this), Migrators(this) {}

  // Declared first: the lists' members report to them while they are freed.
  std::vector<std::string> Events;  // "load M", "failed M", "unload M", "callback M 5 text"
  std::string Folder;
  bool RefuseCallbacks = false;
  TestTables* Databases = nullptr;  // stands for the database entries when set
  TBRNModules Modules;
  TBRNTextFilters TextFilters;
  TBRNWordGenerators WordGenerators;
  TBRNMigrators Migrators;

  std::string GetConfigFolder() const override { return Folder; }
  TBRNModules* GetModules() override { return &Modules; }
  TBRNTextFilters* GetTextFilters() override { return &TextFilters; }
  TBRNWordGenerators* GetWordGenerators() override { return &WordGenerators; }
  TBRNMigrators* GetMigrators() override { return &Migrators; }
  TBRNConfigObjects* GetDatabaseEntries() override { return Databases; }
  void BeforeModuleLoad(TBRNModule* module) override { Events.push_back("load " + module->Name); }
  void ModuleLoadFailed(TBRNModule* module, const EBRNException&) override {
    Events.push_back("failed " + module->Name);
  }
  void AfterModuleUnload(TBRNModule* module) override {
    Events.push_back("unload " + module->Name);
  }
  void ModuleCallback(TBRNModule* module, int32_t request, int32_t* size, char* buffer) override {
    if (RefuseCallbacks) throw EBRNException(100, "refused");
    Events.push_back("callback " + module->Name + " " + std::to_string(request) + " " +
                     std::string(buffer, size_t(*size)));
  }

  // A new module of the configuration.
  TBRNModule* AddModule(const std::string& name, const std::string& path, int32_t lockNumber = 1) {
    auto* module = static_cast<TBRNModule*>(Modules.NewItem());
    module->Name = name;
    module->Path = path;
    module->LockNumber = lockNumber;
    Modules.AddObject(module);
    return module;
  }
  template <typename List, typename Item>
  Item* AddBound(List& list, const std::string& name, const std::string& moduleName) {
    auto* item = static_cast<Item*>(list.NewItem());
    item->Name = name;
    item->ModuleName = moduleName;
    list.AddObject(item);
    return item;
  }
  TBRNTextFilter* AddFilter(const std::string& name, const std::string& type,
                            const std::string& moduleName) {
    auto* filter = static_cast<TBRNTextFilter*>(TextFilters.NewItem());
    filter->Name = name;
    filter->FilterType = type;
    filter->ModuleName = moduleName;
    try {
      TextFilters.AddObject(filter);
    } catch (...) {
      delete filter;
      throw;
    }
    return filter;
  }
  TBRNWordGenerator* AddGenerator(const std::string& name, const std::string& moduleName) {
    return AddBound<TBRNWordGenerators, TBRNWordGenerator>(WordGenerators, name, moduleName);
  }
  TBRNMigrator* AddMigrator(const std::string& name, const std::string& moduleName) {
    return AddBound<TBRNMigrators, TBRNMigrator>(Migrators, name, moduleName);
  }
};

}  // namespace brn::testing

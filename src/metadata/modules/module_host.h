#pragma once

#include <cstdint>
#include <string>

namespace brn {

class EBRNException;
class TBRNConfigObject;
class TBRNConfigObjects;
class TBRNModule;
class TBRNModules;
class TBRNTextFilters;
class TBRNWordGenerators;
class TBRNMigrators;

// What external modules and the objects bound to them need of the
// configuration root beyond TBRNConfigRoot: the folder that relative module
// paths start from, the lists that hold modules and their users, and the
// events around loading. The root implements it next to TBRNConfigRoot;
// objects find it with ModuleHostOf (a dynamic_cast of their Config). Without
// it, relative module paths start from the working folder, names of modules
// resolve to nothing and no event is called.
//
// Used by the thread that owns the root, except ModuleCallback (see there).
class TBRNModuleHost {
 public:
  virtual ~TBRNModuleHost() = default;

  // The configuration folder (with or without a trailing separator).
  virtual std::string GetConfigFolder() const = 0;
  // The lists; any may be nullptr while the root is being built or torn down.
  virtual TBRNModules* GetModules() = 0;
  virtual TBRNTextFilters* GetTextFilters() = 0;
  virtual TBRNWordGenerators* GetWordGenerators() = 0;
  virtual TBRNMigrators* GetMigrators() = 0;
  // The database entries, which refer to modules and word generators by name
  // (their routines and text indexes); nullptr while there are none.
  virtual TBRNConfigObjects* GetDatabaseEntries() { return nullptr; }

  // Right before the module's library is loaded (the session takes a shared
  // lock on the module's range); an exception stops the load.
  virtual void BeforeModuleLoad(TBRNModule* module) { (void)module; }
  // The library could not be loaded: error is the load error about to be
  // raised (the session drops the shared lock and reports it).
  virtual void ModuleLoadFailed(TBRNModule* module, const EBRNException& error) {
    (void)module;
    (void)error;
  }
  // Right after the module's library was freed (the session drops the lock).
  // Must not throw when called from a module's destructor; an exception from
  // Release passes to its caller.
  virtual void AfterModuleUnload(TBRNModule* module) { (void)module; }
  // A request of the module's library (1 configuration path, 2 temporary
  // tables path, 3 progress, 4 status text, 5 log text) with its size and
  // buffer, as the library passed them. An exception makes the callback
  // answer false to the library, and when the library's call returns, the
  // exception reaches the engine's caller of that call (the first one, when
  // several were raised during the call). Called on the thread that is
  // inside a call of the library, while the process-wide module section is held (so
  // module objects are neither created nor destroyed meanwhile).
  virtual void ModuleCallback(TBRNModule* module, int32_t request, int32_t* size, char* buffer) {
    (void)module;
    (void)request;
    (void)size;
    (void)buffer;
  }
};

// The module host of the object's root; nullptr when it has none.
TBRNModuleHost* ModuleHostOf(const TBRNConfigObject* object);

}  // namespace brn

#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "metadata/core/config_objects.h"
#include "metadata/core/lockable_config_object.h"
#include "metadata/core/object_link.h"

namespace brn {

class TBRNMemoryStream;
class TBRNParamValues;
class TBRNStringsList;

// The kind of an external module.
enum TBRNModuleType : int32_t {
  mtUnknown = 0,
  mtExternalRoutines = 100,
  mtTextFilter = 200,
  mtWordGenerator = 300,
  mtMigrator = 400,
};

// The character set a module was built for.
enum TBRNModuleCharacterSet : int32_t {
  mcAnsi = 0,
  mcUnicode = 1,
  mcUnknown = 255,
};

// "External Routines", "Text Filter", "Word Generator", "Migrator"; empty for
// any other value.
std::string ModuleTypeName(int32_t kind);
// "ANSI", "Unicode"; empty for any other value.
std::string ModuleCharacterSetName(int32_t characterSet);

// The most modules a configuration holds.
inline constexpr int32_t kMaxModuleCount = 1024;

// An external module: a shared library that the module loads on demand,
// whose exports it binds by name and whose calls it marshals. Users of the
// module pair every Acquire with one Release; the library stays loaded while
// the reference count is above 0, and the root's host events bracket the
// time it is loaded (the session holds a shared lock on the module's range
// meanwhile).
//
// Threads: a module object belongs to the session that owns its root and is
// used by that session's thread only. Several module objects (of several
// sessions) may load, call and free the same library at the same time: the
// loader counts loads per library, and the process-wide module section
// serializes loading, binding and freeing and guards the table through which
// the library's callbacks find their module object.
//
// Stored record: the lockable object's, then Path (int32 length and bytes)
// and, from format 2.04 on (or without a root), LockNumber (int32). Modules
// keep ID 0: they are referenced by name.
class TBRNModule : public TBRNLockableConfigObject {
 public:
  explicit TBRNModule(TBRNConfigRoot* config);
  // Frees the library when it is loaded (whatever the reference count).
  ~TBRNModule() override;

  int32_t LockNumber = 0;
  std::string Path;         // as written in CREATE MODULE
  std::string FileVersion;  // of the library's version section, read at every load
  std::string FileDescription;

  // Store and mark modified when changed (exact comparison).
  void SetPath(const std::string& path);
  void SetLockNumber(int32_t lockNumber);
  // Path when it is absolute; else the configuration folder and Path. A
  // relative path never goes to the loader's search list: without a
  // configuration folder it names a file in the working folder.
  std::string GetFullPath() const;

  // Loads the library when it is not loaded: the host's before-load event,
  // the version texts, the load and the six exports every module has. Then
  // takes one reference. true when this call loaded the library. A library
  // that cannot be loaded raises the load error (202) after the host's
  // load-failed event, and no reference is taken.
  bool LoadModule();
  // LoadModule, then for a kind other than 0: the kind and the character set
  // are checked, the engine callback is handed to the library (once per
  // load) and the kind's exports are bound (once per load and kind). Any
  // failure gives the reference back before it passes on.
  void Acquire(int32_t kind);
  // One reference less (never below 0); at 0 the library is freed and the
  // host's after-unload event is called.
  void Release();
  bool IsLoaded() const { return Library != nullptr; }
  int32_t GetReferenceCount() const { return ReferenceCount; }

  // The first kind the library says it implements (100, 200, 300, 400); 0
  // when it implements none or cannot be loaded. Loads and releases.
  int32_t GetModuleType();
  std::string GetModuleTypeName();
  // 0 ANSI, 1 Unicode, 255 when the library answers neither or cannot be
  // loaded. Loads and releases.
  int32_t GetCharacterSet();
  std::string GetCharacterSetName();
  // Raises "The module is not a %s module" unless GetModuleType is kind.
  void CheckModuleType(int32_t kind);
  // The library is loaded and offers the single ordered object list.
  bool HasObjectNames() const;

  // A new instance of the library (between Acquire and Release). A library
  // that answers false raises the execution error.
  void* OpenModule();
  // Frees the instance; instance is nullptr afterwards in any case.
  void CloseModule(void*& instance);

  // One export call each. A missing export raises the call error naming it;
  // an export that answers false raises the execution error with the
  // library's message.
  void CallRoutine(void* instance, const std::string& routineName, TBRNParamValues& params);
  // The filtered text is kept in GetOutputText.
  void CallTextFilter(void* instance, const std::string& filterType, const std::string& text);
  const std::string& GetOutputText() const { return OutputText; }
  // The next word from position (1-based, advanced by the library); an
  // empty word ends the text.
  void CallWordGenerator(void* instance, int32_t collation, const std::string& text,
                         int32_t& position, std::string& word, bool searchMode);
  // Replaces the list with the library's parameters (missing ones created).
  void GetParams(void* instance, TBRNParamValues& params);
  void SetParams(void* instance, const TBRNParamValues& params);
  void GetObjectNames(void* instance, TBRNStringsList& list);
  void GetCreateObjectStatement(void* instance, const std::string& name, const std::string& type,
                                std::string& text);
  void GetTableNames(void* instance, TBRNStringsList& list);
  void GetViewNames(void* instance, TBRNStringsList& list);
  void GetFunctionNames(void* instance, TBRNStringsList& list);
  void GetProcedureNames(void* instance, TBRNStringsList& list);
  void GetCreateTableStatement(void* instance, const std::string& name, std::string& text);
  void GetCreateViewStatement(void* instance, const std::string& name, std::string& text);
  void GetCreateFunctionStatement(void* instance, const std::string& name, std::string& text);
  void GetCreateProcedureStatement(void* instance, const std::string& name, std::string& text);
  void GetIndexNames(void* instance, const std::string& table, TBRNStringsList& list);
  void GetTriggerNames(void* instance, const std::string& table, TBRNStringsList& list);
  void GetCreateIndexStatement(void* instance, const std::string& table, const std::string& name,
                               std::string& text);
  void GetCreateTriggerStatement(void* instance, const std::string& table, const std::string& name,
                                 std::string& text);
  void GetRowsToInsert(void* instance, const std::string& table, int32_t& count);
  void GetInsertStatement(void* instance, const std::string& table, std::string& text);

  // 202 "An error occurred with the module %s (%s)".
  [[noreturn]] virtual void RaiseModuleError(const std::string& message) const;
  // "The module could not be loaded (OS Error: %s)".
  [[noreturn]] virtual void RaiseLoadError(const std::string& osError) const;
  // "An error occurred with the module call %s (OS Error: %s)".
  [[noreturn]] virtual void RaiseCallError(const std::string& exportName,
                                           const std::string& osError) const;
  // "Execution Error: %s".
  [[noreturn]] virtual void RaiseExecutionError(const std::string& message) const;

  // The module object with this serial while it exists, else nullptr. Call
  // on the thread that owns the module (objects of other sessions may be
  // freed at any time).
  static TBRNModule* FindBySerial(uint64_t serial);
  // Unique for the life of the process; never reused.
  uint64_t GetSerial() const { return Serial; }

  // Overrides.
  std::string GetObjectTypeName() const override;
  void CollectReferrers() override;
  void PropagateRename(const std::string& newName) override;
  void PropagateDrop() override;
  void AssignID() override;
  int64_t GetMemorySize() const override;
  void Assign(const TBRNConfigObject* source, bool copyState) override;
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  void LoadFromStream(TBRNMemoryStream& stream) override;
  std::string GetCreateSQL(bool option1, bool option2) override;
  std::string GetDropSQL(bool option1, bool option2) override;
  int32_t GetLockOffset(uint8_t lockType) const override;
  int32_t GetLockLength(uint8_t lockType) const override;

  // The exports, in binding order; the first six belong to every module.
  enum TExport : int32_t {
    exValidateModule,
    exValidateCharacterSet,
    exSetCallback,
    exOpenModule,
    exGetErrorMessage,
    exCloseModule,
    exCallRoutine,
    exGetOutputParams,
    exCallTextFilter,
    exGetOutputText,
    exCallWordGenerator,
    exGetParams,
    exSetParams,
    exGetObjectNames,
    exGetCreateObjectStatement,
    exGetTableNames,
    exGetCreateTableStatement,
    exGetIndexNames,
    exGetCreateIndexStatement,
    exGetTriggerNames,
    exGetCreateTriggerStatement,
    exGetViewNames,
    exGetCreateViewStatement,
    exGetFunctionNames,
    exGetCreateFunctionStatement,
    exGetProcedureNames,
    exGetCreateProcedureStatement,
    exGetRowsToInsert,
    exGetInsertStatement,
    exExportCount
  };
  static const char* ExportName(TExport which);

 private:
  void bindExport(TExport which);
  void bindKindExports(int32_t kind);
  void checkKindAndCharacterSet(int32_t kind);
  // Frees the library and clears every export; the host's event follows.
  void unload(bool fromDestructor);
  // The export's address; raises the call error when it is not bound.
  void* requireExport(TExport which) const;
  // After a false answer of an export: the library's message as the
  // execution error.
  [[noreturn]] void raiseModuleFailure(void* instance, TExport which);
  // Two-call buffer of an export that takes the instance, up to two names
  // and the buffer; the answer in result.
  void fetchBuffer(void* instance, TExport which, const char* name1, const char* name2,
                   std::string& result);
  void fetchNames(void* instance, TExport which, const char* name, TBRNStringsList& list);

  void* Library = nullptr;
  int32_t ReferenceCount = 0;
  std::array<void*, exExportCount> Exports{};
  // The loader's text for each export that could not be bound.
  std::array<std::string, exExportCount> BindErrors;
  bool CallbackSet = false;
  uint32_t KindsBound = 0;  // bit per kind (1 routines .. 8 migrator)
  std::unique_ptr<TBRNMemoryStream> CallStream;
  std::string OutputText;
  uint64_t Serial;
};

// The configuration's modules.
class TBRNModules : public TBRNCollection<TBRNModule, TBRNConfigObjects, kMaxModuleCount> {
 public:
  using TBRNCollection::TBRNCollection;

  TBRNModule* GetModule(int32_t index) const { return static_cast<TBRNModule*>(GetItem(index)); }
  std::string GetObjectTypeName() const override;
};

// The module side of a text filter, word generator or migrator: the cached
// module (found by name), the instance it opened and the module that instance
// belongs to. Used by the thread that owns the root.
class TBRNModuleBinding {
 public:
  TBRNModuleBinding() = default;
  TBRNModuleBinding(const TBRNModuleBinding&) = delete;
  TBRNModuleBinding& operator=(const TBRNModuleBinding&) = delete;
  // Closes an open instance (errors are swallowed: it runs in destructors).
  ~TBRNModuleBinding();

  // The cached module, else the root's module named moduleName; raises 401
  // "The module %s does not exist" when there is none.
  TBRNModule* GetModule(const TBRNConfigObject* owner, const std::string& moduleName);
  void CacheModule(TBRNModule* module, const TBRNConfigObject* owner);
  void ResetModule() { Link.Reset(); }

  // Acquires the module for kind and opens an instance, unless one is open;
  // answers the module that holds the instance. OpenModule failing releases
  // the module again.
  TBRNModule* Open(const TBRNConfigObject* owner, const std::string& moduleName, int32_t kind);
  // Closes the instance and releases the module; nothing when none is open.
  // When the module object was freed meanwhile (which freed its library),
  // only the binding is cleared.
  void Close();
  bool IsOpen() const { return Opened; }
  void* GetInstance() const { return Instance; }

 private:
  TBRNObjectLink Link;
  bool Opened = false;
  void* Instance = nullptr;
  uint64_t OpenedSerial = 0;  // the module that holds the instance
};

}  // namespace brn

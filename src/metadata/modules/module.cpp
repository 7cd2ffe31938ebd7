#include "metadata/modules/module.h"

#include <exception>
#include <map>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "foundation/core/memory_stream.h"
#include "foundation/files/path_helpers.h"
#include "foundation/files/version_info.h"
#include "foundation/runtime/sections.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "foundation/text/string_list.h"
#include "foundation/values/param_value.h"
#include "metadata/modules/migrators.h"
#include "metadata/modules/module_abi.h"
#include "metadata/modules/module_host.h"
#include "metadata/modules/text_filters.h"
#include "platform/dynamic_library.h"
#include "platform/os_file.h"

namespace brn {

namespace {

constexpr int32_t kModuleErrorCode = 202;

// Process-wide state shared by the module objects of every session: the
// section that serializes loading, binding and freeing of libraries, and the
// live module objects by serial, through which a library's callbacks find
// the object they belong to. Never freed, so that module objects destroyed
// during process exit still find it.
struct ModuleRegistry {
  TBRNCriticalSection Section;
  std::map<uint64_t, TBRNModule*> Live;
  uint64_t NextSerial = 0;
};

ModuleRegistry& registry() {
  static ModuleRegistry* instance = new ModuleRegistry;
  return *instance;
}

const char* const kExportNames[TBRNModule::exExportCount] = {
    "ValidateBRNModule",
    "ValidateBRNModuleCharacterSet",
    "SetBRNModuleCallbackFunction",
    "OpenBRNModule",
    "GetBRNModuleErrorMsg",
    "CloseBRNModule",
    "CallBRNRoutine",
    "GetBRNOutputParams",
    "CallBRNTextFilter",
    "GetBRNOutputText",
    "CallBRNWordGenerator",
    "GetBRNParams",
    "SetBRNParams",
    "GetBRNObjectNames",
    "GetBRNCreateObjectStatement",
    "GetBRNTableNames",
    "GetBRNCreateTableStatement",
    "GetBRNIndexNames",
    "GetBRNCreateIndexStatement",
    "GetBRNTriggerNames",
    "GetBRNCreateTriggerStatement",
    "GetBRNViewNames",
    "GetBRNCreateViewStatement",
    "GetBRNFunctionNames",
    "GetBRNCreateFunctionStatement",
    "GetBRNProcedureNames",
    "GetBRNCreateProcedureStatement",
    "GetBRNRowsToInsert",
    "GetBRNInsertStatement",
};

// The bit of a kind in KindsBound; 0 for kind 0 and unknown kinds.
uint32_t kindBit(int32_t kind) {
  switch (kind) {
    case mtExternalRoutines:
      return 1;
    case mtTextFilter:
      return 2;
    case mtWordGenerator:
      return 4;
    case mtMigrator:
      return 8;
    default:
      return 0;
  }
}

// The error the host raised while answering a request that a library made
// on this thread, kept until the library's call returns: an exception may
// not cross the library, which sees only a false answer.
thread_local std::exception_ptr pendingCallbackError;

// The engine's callback, given to every library. The module handle is the
// serial of the module object that handed it over: a library loaded by
// several sessions keeps only the last handle it was given, and that object
// may be gone, in which case the request is refused.
TBRNModuleBool BRN_MODULE_CALL engineCallback(void* moduleHandle, int32_t request, int32_t* size,
                                              char* buffer) {
  std::lock_guard guard(registry().Section);
  TBRNModule* module =
      TBRNModule::FindBySerial(uint64_t(reinterpret_cast<uintptr_t>(moduleHandle)));
  if (module == nullptr) return 0;
  try {
    if (TBRNModuleHost* host = ModuleHostOf(module))
      host->ModuleCallback(module, request, size, buffer);
    return 1;
  } catch (...) {
    // The first error is the cause; later ones follow from the false answers.
    if (!pendingCallbackError) pendingCallbackError = std::current_exception();
    return 0;
  }
}

// Runs one call into a library and returns its answer; an error the host
// raised while the library called back is raised here instead, whatever the
// library answered.
template <typename Call>
TBRNModuleBool callLibrary(Call call) {
  std::exception_ptr outer = std::exchange(pendingCallbackError, nullptr);
  TBRNModuleBool answer = call();
  std::exception_ptr raised = std::exchange(pendingCallbackError, outer);
  if (raised) std::rethrow_exception(raised);
  return answer;
}

// Lock numbers whose Shared and Exclusive range lies in the lock file. 0 is a
// module of a file older than 2.04 that was never given a number: its range
// is the first one.
bool isValidModuleLockNumber(int32_t lockNumber) {
  if (lockNumber == 0) return true;
  try {
    NumberedLockOffset(kModuleLockBase, lockNumber);
    return true;
  } catch (const std::out_of_range&) {
    return false;
  }
}

bool storesLockNumber(const TBRNConfigObject* object) {
  int64_t version = object->GetVersion();
  return version == 0 || version >= kFormatVersion204;
}

}  // namespace

std::string ModuleTypeName(int32_t kind) {
  switch (kind) {
    case mtExternalRoutines:
      return "External Routines";
    case mtTextFilter:
      return "Text Filter";
    case mtWordGenerator:
      return "Word Generator";
    case mtMigrator:
      return "Migrator";
    default:
      return "";
  }
}

std::string ModuleCharacterSetName(int32_t characterSet) {
  switch (characterSet) {
    case mcAnsi:
      return "ANSI";
    case mcUnicode:
      return "Unicode";
    default:
      return "";
  }
}

TBRNModuleHost* ModuleHostOf(const TBRNConfigObject* object) {
  return object != nullptr ? dynamic_cast<TBRNModuleHost*>(object->Config) : nullptr;
}

// ---------------------------------------------------------------------------
// TBRNModule

TBRNModule::TBRNModule(TBRNConfigRoot* config)
    : TBRNLockableConfigObject(config), CallStream(std::make_unique<TBRNMemoryStream>()) {
  std::lock_guard guard(registry().Section);
  Serial = ++registry().NextSerial;
  registry().Live[Serial] = this;
}

TBRNModule::~TBRNModule() {
  if (Library != nullptr) unload(true);
  std::lock_guard guard(registry().Section);
  registry().Live.erase(Serial);
}

TBRNModule* TBRNModule::FindBySerial(uint64_t serial) {
  std::lock_guard guard(registry().Section);
  auto found = registry().Live.find(serial);
  return found != registry().Live.end() ? found->second : nullptr;
}

const char* TBRNModule::ExportName(TExport which) {
  if (which < 0 || which >= exExportCount) throw std::out_of_range("No such module export");
  return kExportNames[which];
}

void TBRNModule::SetPath(const std::string& path) {
  if (path == Path) return;
  Path = path;
  SetModified(true);
}

void TBRNModule::SetLockNumber(int32_t lockNumber) {
  if (lockNumber == LockNumber) return;
  LockNumber = lockNumber;
  SetModified(true);
}

std::string TBRNModule::GetFullPath() const {
  if (!IsRelativePath(Path)) return Path;
  TBRNModuleHost* host = ModuleHostOf(this);
  std::string folder = host != nullptr ? host->GetConfigFolder() : std::string();
  // "./" keeps a bare file name away from the loader's library search.
  if (TrimBlanks(folder).empty()) return "./" + Path;
  return AddTrailingBackslash(folder) + Path;
}

bool TBRNModule::LoadModule() {
  if (Library != nullptr) {
    ++ReferenceCount;
    return false;
  }
  TBRNModuleHost* host = ModuleHostOf(this);
  if (host != nullptr) host->BeforeModuleLoad(this);
  std::string fullPath = GetFullPath();
  std::string nativePath = OSNativePath(fullPath);
  std::string loadError;
  {
    std::lock_guard guard(registry().Section);
    TBRNVersionInfo info(fullPath);
    FileVersion = info.FileVersion;
    FileDescription = info.FileDescription;
    Library = OSLoadLibrary(nativePath.c_str(), loadError);
    if (Library != nullptr) {
      CallbackSet = false;
      KindsBound = 0;
      for (int32_t which = exValidateModule; which <= exCloseModule; ++which) {
        bindExport(TExport(which));
      }
      ++ReferenceCount;
      return true;
    }
  }
  try {
    RaiseLoadError(loadError);
  } catch (const EBRNException& error) {
    if (host != nullptr) host->ModuleLoadFailed(this, error);
    throw;
  }
  throw std::logic_error("RaiseLoadError returned");
}

void TBRNModule::Acquire(int32_t kind) {
  LoadModule();
  try {
    if (kind == 0) return;
    checkKindAndCharacterSet(kind);
    bindKindExports(kind);
  } catch (...) {
    Release();
    throw;
  }
}

void TBRNModule::Release() {
  if (ReferenceCount > 0) --ReferenceCount;
  if (ReferenceCount == 0 && Library != nullptr) unload(false);
}

void TBRNModule::unload(bool fromDestructor) {
  {
    std::lock_guard guard(registry().Section);
    std::string ignored;
    // A failed close leaves nothing to retry: the handle is gone either way.
    OSFreeLibrary(Library, ignored);
    Library = nullptr;
    Exports.fill(nullptr);
    for (std::string& text : BindErrors) text.clear();
    CallbackSet = false;
    KindsBound = 0;
    ReferenceCount = 0;
  }
  TBRNModuleHost* host = ModuleHostOf(this);
  if (host == nullptr) return;
  if (!fromDestructor) {
    host->AfterModuleUnload(this);
    return;
  }
  try {
    host->AfterModuleUnload(this);
  } catch (...) {
    // A destructor cannot report it; the session's lock file is closed with
    // the session anyway.
  }
}

void TBRNModule::bindExport(TExport which) {
  std::string error;
  Exports[size_t(which)] = OSGetProcAddress(Library, kExportNames[which], error);
  BindErrors[size_t(which)] = Exports[size_t(which)] != nullptr ? std::string() : error;
}

void TBRNModule::bindKindExports(int32_t kind) {
  std::lock_guard guard(registry().Section);
  if (!CallbackSet) {
    auto setCallback = reinterpret_cast<TBRNSetModuleCallbackFunction>(Exports[exSetCallback]);
    void* handle = reinterpret_cast<void*>(uintptr_t(Serial));
    if (setCallback == nullptr ||
        callLibrary([&] { return setCallback(handle, &engineCallback); }) == 0) {
      RaiseCallError(kExportNames[exSetCallback], BindErrors[exSetCallback]);
    }
    CallbackSet = true;
  }
  uint32_t bit = kindBit(kind);
  if ((KindsBound & bit) != 0) return;
  TExport first = exExportCount, last = exExportCount;
  switch (kind) {
    case mtExternalRoutines:
      first = exCallRoutine, last = exGetOutputParams;
      break;
    case mtTextFilter:
      first = exCallTextFilter, last = exGetOutputText;
      break;
    case mtWordGenerator:
      first = last = exCallWordGenerator;
      break;
    case mtMigrator:
      first = exGetParams, last = exGetInsertStatement;
      break;
    default:
      return;
  }
  for (int32_t which = first; which <= last; ++which) bindExport(TExport(which));
  KindsBound |= bit;
}

void TBRNModule::checkKindAndCharacterSet(int32_t kind) {
  auto validate = reinterpret_cast<TBRNValidateModule>(Exports[exValidateModule]);
  if (validate == nullptr || callLibrary([&] { return validate(kind); }) == 0) {
    RaiseModuleError(FormatText("The module is not a %s module", {ModuleTypeName(kind)}));
  }
  auto validateSet =
      reinterpret_cast<TBRNValidateModuleCharacterSet>(Exports[exValidateCharacterSet]);
  if (validateSet != nullptr && callLibrary([&] { return validateSet(mcAnsi); }) == 0) {
    RaiseModuleError(FormatText("The module is not compiled to use the %s character set",
                                {ModuleCharacterSetName(mcAnsi)}));
  }
}

int32_t TBRNModule::GetModuleType() {
  try {
    LoadModule();
  } catch (const EBRNException&) {
    return mtUnknown;
  }
  int32_t result = mtUnknown;
  if (auto validate = reinterpret_cast<TBRNValidateModule>(Exports[exValidateModule])) {
    for (int32_t kind : {mtExternalRoutines, mtTextFilter, mtWordGenerator, mtMigrator}) {
      if (callLibrary([&] { return validate(kind); }) != 0) {
        result = kind;
        break;
      }
    }
  }
  Release();
  return result;
}

std::string TBRNModule::GetModuleTypeName() {
  return ModuleTypeName(GetModuleType());
}

int32_t TBRNModule::GetCharacterSet() {
  try {
    LoadModule();
  } catch (const EBRNException&) {
    return mcUnknown;
  }
  int32_t result = mcUnknown;
  if (auto validate =
          reinterpret_cast<TBRNValidateModuleCharacterSet>(Exports[exValidateCharacterSet])) {
    if (callLibrary([&] { return validate(mcAnsi); }) != 0) {
      result = mcAnsi;
    } else if (callLibrary([&] { return validate(mcUnicode); }) != 0) {
      result = mcUnicode;
    }
  }
  Release();
  return result;
}

std::string TBRNModule::GetCharacterSetName() {
  return ModuleCharacterSetName(GetCharacterSet());
}

void TBRNModule::CheckModuleType(int32_t kind) {
  if (GetModuleType() != kind) {
    RaiseModuleError(FormatText("The module is not a %s module", {ModuleTypeName(kind)}));
  }
}

bool TBRNModule::HasObjectNames() const {
  return Library != nullptr && Exports[exGetObjectNames] != nullptr;
}

void* TBRNModule::requireExport(TExport which) const {
  void* address = Exports[size_t(which)];
  if (address == nullptr) {
    std::string reason = BindErrors[size_t(which)];
    if (reason.empty()) reason = Library == nullptr ? "The module is not loaded" : "Not bound";
    RaiseCallError(kExportNames[which], reason);
  }
  return address;
}

void TBRNModule::raiseModuleFailure(void* instance, TExport which) {
  if (instance == nullptr) {
    // Without an instance the library has nowhere to keep its message; a
    // false answer still must not pass for success.
    RaiseExecutionError(FormatText("The call %s failed", {kExportNames[which]}));
  }
  auto getMessage = reinterpret_cast<TBRNModuleBufferCall>(Exports[exGetErrorMessage]);
  int32_t size = 0;
  if (getMessage == nullptr ||
      callLibrary([&] { return getMessage(instance, nullptr, &size); }) == 0) {
    RaiseCallError(kExportNames[exGetErrorMessage], BindErrors[exGetErrorMessage]);
  }
  std::string message;
  if (size > 0) {
    message.assign(size_t(size), '\0');
    int32_t written = size;
    if (callLibrary([&] { return getMessage(instance, message.data(), &written); }) == 0) {
      RaiseCallError(kExportNames[exGetErrorMessage], BindErrors[exGetErrorMessage]);
    }
    if (written >= 0 && written < size) message.resize(size_t(written));
  }
  RaiseExecutionError(message);
  throw std::logic_error("RaiseExecutionError returned");
}

void TBRNModule::fetchBuffer(void* instance, TExport which, const char* name1, const char* name2,
                             std::string& result) {
  void* address = requireExport(which);
  // The calls differ only in how many names come before the buffer.
  auto callExport = [&](char* buffer, int32_t* size) -> TBRNModuleBool {
    if (name2 != nullptr) {
      return reinterpret_cast<TBRNModuleTwoNamesBufferCall>(address)(instance, name1, name2, buffer,
                                                                     size);
    }
    if (name1 != nullptr) {
      return reinterpret_cast<TBRNModuleNameBufferCall>(address)(instance, name1, buffer, size);
    }
    return reinterpret_cast<TBRNModuleBufferCall>(address)(instance, buffer, size);
  };
  auto call = [&](char* buffer, int32_t* size) {
    return callLibrary([&] { return callExport(buffer, size); });
  };
  result.clear();
  int32_t size = 0;
  if (call(nullptr, &size) == 0) raiseModuleFailure(instance, which);
  if (size <= 0) return;
  result.assign(size_t(size), '\0');
  int32_t written = size;
  if (call(result.data(), &written) == 0) raiseModuleFailure(instance, which);
  // Never more than the buffer holds, whatever the library claims.
  if (written >= 0 && written < size) result.resize(size_t(written));
}

void TBRNModule::fetchNames(void* instance, TExport which, const char* name,
                            TBRNStringsList& list) {
  std::string text;
  fetchBuffer(instance, which, name, nullptr, text);
  list.SetCommaText(text);
}

void* TBRNModule::OpenModule() {
  auto open = reinterpret_cast<TBRNOpenModule>(requireExport(exOpenModule));
  void* instance = nullptr;
  if (callLibrary([&] { return open(&instance); }) == 0) raiseModuleFailure(instance, exOpenModule);
  return instance;
}

void TBRNModule::CloseModule(void*& instance) {
  void* closing = instance;
  instance = nullptr;
  auto close = reinterpret_cast<TBRNCloseModule>(requireExport(exCloseModule));
  // The instance is gone after the call whatever it answers, so there is no
  // message to ask it for.
  if (callLibrary([&] { return close(closing); }) == 0) RaiseExecutionError("The module instance could not be closed");
}

void TBRNModule::CallRoutine(void* instance, const std::string& routineName,
                             TBRNParamValues& params) {
  auto call = reinterpret_cast<TBRNCallRoutine>(requireExport(exCallRoutine));
  CallStream->Clear();
  if (params.GetCount() > 0) params.SaveToStream(*CallStream);
  int32_t size = int32_t(CallStream->GetSize());
  const void* buffer = size > 0 ? CallStream->GetMemory() : nullptr;
  if (callLibrary([&] { return call(instance, routineName.c_str(), buffer, size); }) == 0) {
    raiseModuleFailure(instance, exCallRoutine);
  }
  std::string results;
  fetchBuffer(instance, exGetOutputParams, nullptr, nullptr, results);
  CallStream->Clear();
  if (results.empty()) return;
  CallStream->Write(results.data(), int32_t(results.size()));
  CallStream->SetPosition(0);
  params.LoadOutputParams(*CallStream);
}

void TBRNModule::CallTextFilter(void* instance, const std::string& filterType,
                                const std::string& text) {
  auto call = reinterpret_cast<TBRNCallTextFilter>(requireExport(exCallTextFilter));
  if (callLibrary([&] {
        return call(instance, filterType.c_str(), text.c_str(), int32_t(text.size()));
      }) == 0) {
    raiseModuleFailure(instance, exCallTextFilter);
  }
  fetchBuffer(instance, exGetOutputText, nullptr, nullptr, OutputText);
}

void TBRNModule::CallWordGenerator(void* instance, int32_t collation, const std::string& text,
                                   int32_t& position, std::string& word, bool searchMode) {
  auto call = reinterpret_cast<TBRNCallWordGenerator>(requireExport(exCallWordGenerator));
  word.assign(size_t(kModuleWordBufferSize), '\0');
  int32_t wordLength = 0;
  if (callLibrary([&] {
        return call(instance, collation, text.c_str(), int32_t(text.size()), word.data(),
                    kModuleWordBufferSize, &wordLength, &position, searchMode ? 1 : 0);
      }) == 0) {
    word.clear();
    raiseModuleFailure(instance, exCallWordGenerator);
  }
  if (wordLength < 0) wordLength = 0;
  if (wordLength > kModuleWordBufferSize) wordLength = kModuleWordBufferSize;
  word.resize(size_t(wordLength));
}

void TBRNModule::GetParams(void* instance, TBRNParamValues& params) {
  params.ClearParams();
  std::string bytes;
  fetchBuffer(instance, exGetParams, nullptr, nullptr, bytes);
  CallStream->Clear();
  if (bytes.empty()) return;
  CallStream->Write(bytes.data(), int32_t(bytes.size()));
  CallStream->SetPosition(0);
  params.LoadFromStream(*CallStream);
}

void TBRNModule::SetParams(void* instance, const TBRNParamValues& params) {
  auto call = reinterpret_cast<TBRNSetParams>(requireExport(exSetParams));
  CallStream->Clear();
  if (params.GetCount() > 0) params.SaveToStream(*CallStream);
  int32_t size = int32_t(CallStream->GetSize());
  const void* buffer = size > 0 ? CallStream->GetMemory() : nullptr;
  if (callLibrary([&] { return call(instance, buffer, size); }) == 0)
    raiseModuleFailure(instance, exSetParams);
}

void TBRNModule::GetObjectNames(void* instance, TBRNStringsList& list) {
  fetchNames(instance, exGetObjectNames, nullptr, list);
}

void TBRNModule::GetCreateObjectStatement(void* instance, const std::string& name,
                                          const std::string& type, std::string& text) {
  fetchBuffer(instance, exGetCreateObjectStatement, name.c_str(), type.c_str(), text);
}

void TBRNModule::GetTableNames(void* instance, TBRNStringsList& list) {
  fetchNames(instance, exGetTableNames, nullptr, list);
}

void TBRNModule::GetViewNames(void* instance, TBRNStringsList& list) {
  fetchNames(instance, exGetViewNames, nullptr, list);
}

void TBRNModule::GetFunctionNames(void* instance, TBRNStringsList& list) {
  fetchNames(instance, exGetFunctionNames, nullptr, list);
}

void TBRNModule::GetProcedureNames(void* instance, TBRNStringsList& list) {
  fetchNames(instance, exGetProcedureNames, nullptr, list);
}

void TBRNModule::GetCreateTableStatement(void* instance, const std::string& name,
                                         std::string& text) {
  fetchBuffer(instance, exGetCreateTableStatement, name.c_str(), nullptr, text);
}

void TBRNModule::GetCreateViewStatement(void* instance, const std::string& name,
                                        std::string& text) {
  fetchBuffer(instance, exGetCreateViewStatement, name.c_str(), nullptr, text);
}

void TBRNModule::GetCreateFunctionStatement(void* instance, const std::string& name,
                                            std::string& text) {
  fetchBuffer(instance, exGetCreateFunctionStatement, name.c_str(), nullptr, text);
}

void TBRNModule::GetCreateProcedureStatement(void* instance, const std::string& name,
                                             std::string& text) {
  fetchBuffer(instance, exGetCreateProcedureStatement, name.c_str(), nullptr, text);
}

void TBRNModule::GetIndexNames(void* instance, const std::string& table, TBRNStringsList& list) {
  fetchNames(instance, exGetIndexNames, table.c_str(), list);
}

void TBRNModule::GetTriggerNames(void* instance, const std::string& table, TBRNStringsList& list) {
  fetchNames(instance, exGetTriggerNames, table.c_str(), list);
}

void TBRNModule::GetCreateIndexStatement(void* instance, const std::string& table,
                                         const std::string& name, std::string& text) {
  fetchBuffer(instance, exGetCreateIndexStatement, table.c_str(), name.c_str(), text);
}

void TBRNModule::GetCreateTriggerStatement(void* instance, const std::string& table,
                                           const std::string& name, std::string& text) {
  fetchBuffer(instance, exGetCreateTriggerStatement, table.c_str(), name.c_str(), text);
}

void TBRNModule::GetRowsToInsert(void* instance, const std::string& table, int32_t& count) {
  auto call = reinterpret_cast<TBRNGetRowsToInsert>(requireExport(exGetRowsToInsert));
  count = 0;
  if (callLibrary([&] { return call(instance, table.c_str(), &count); }) == 0)
    raiseModuleFailure(instance, exGetRowsToInsert);
}

void TBRNModule::GetInsertStatement(void* instance, const std::string& table, std::string& text) {
  fetchBuffer(instance, exGetInsertStatement, table.c_str(), nullptr, text);
}

void TBRNModule::RaiseModuleError(const std::string& message) const {
  throw EBRNException(kModuleErrorCode, FormatText("An error occurred with the %s %s (%s)",
                                                   {GetObjectTypeName(), GetName(), message}));
}

void TBRNModule::RaiseLoadError(const std::string& osError) const {
  RaiseModuleError(FormatText("The module could not be loaded (OS Error: %s)", {osError}));
  throw std::logic_error("RaiseModuleError returned");
}

void TBRNModule::RaiseCallError(const std::string& exportName, const std::string& osError) const {
  RaiseModuleError(FormatText("An error occurred with the module call %s (OS Error: %s)",
                              {exportName, osError}));
  throw std::logic_error("RaiseModuleError returned");
}

void TBRNModule::RaiseExecutionError(const std::string& message) const {
  RaiseModuleError(FormatText("Execution Error: %s", {message}));
  throw std::logic_error("RaiseModuleError returned");
}

std::string TBRNModule::GetObjectTypeName() const {
  return "module";
}

namespace {

// The configuration's lists whose members refer to modules by name.
template <typename Visit>
void visitModuleHolders(const TBRNConfigObject* module, Visit visit) {
  TBRNModuleHost* host = ModuleHostOf(module);
  if (host == nullptr) return;
  TBRNConfigObjects* holders[] = {
      host->GetDatabaseEntries(),
      host->GetTextFilters(),
      host->GetWordGenerators(),
      host->GetMigrators(),
  };
  for (TBRNConfigObjects* holder : holders) {
    if (holder != nullptr) visit(holder);
  }
}

}  // namespace

void TBRNModule::CollectReferrers() {
  visitModuleHolders(this,
                     [this](TBRNConfigObjects* holder) { holder->RegisterReferenceTo(this); });
}

void TBRNModule::PropagateRename(const std::string& newName) {
  visitModuleHolders(
      this, [&](TBRNConfigObjects* holder) { holder->ReplaceReferencedName(this, newName); });
}

void TBRNModule::PropagateDrop() {
  visitModuleHolders(this, [this](TBRNConfigObjects* holder) { holder->RemoveReferenceTo(this); });
}

void TBRNModule::AssignID() {
  // Modules keep ID 0: everything refers to them by name.
}

int64_t TBRNModule::GetMemorySize() const {
  return TBRNLockableConfigObject::GetMemorySize() + int64_t(sizeof(TBRNModule)) -
         int64_t(sizeof(TBRNLockableConfigObject)) + StringMemSize(Path);
}

void TBRNModule::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNLockableConfigObject::Assign(source, copyState);
  if (auto* module = dynamic_cast<const TBRNModule*>(source)) Path = module->Path;
}

void TBRNModule::SaveToStream(TBRNMemoryStream& stream, bool structureOnly) {
  TBRNLockableConfigObject::SaveToStream(stream, structureOnly);
  stream.WriteString(Path);
  // Written under the gate it is read under, so that every record written
  // can be read back.
  if (storesLockNumber(this)) stream.WriteInteger(LockNumber);
}

void TBRNModule::LoadFromStream(TBRNMemoryStream& stream) {
  TBRNLockableConfigObject::LoadFromStream(stream);
  Path = readStoredString(stream);
  int32_t lockNumber = 0;
  if (storesLockNumber(this)) {
    lockNumber = readStoredInteger(stream);
    // The lock manager turns the number into a range of the lock file: a
    // number whose range cannot exist there is damage.
    if (!isValidModuleLockNumber(lockNumber)) {
      RaiseMetadataError(FormatText("Invalid lock number %s", {IntegerToString(lockNumber)}));
    }
  }
  LockNumber = lockNumber;
}

std::string TBRNModule::GetCreateSQL(bool, bool) {
  std::string text =
      "CREATE MODULE " + QuoteString(Name, '"') + "\r\nPATH " + QuoteString(Path, '\'');
  std::string description = TrimTrailingBlanks(Description);
  if (!description.empty()) text += "\r\nDESCRIPTION " + QuoteString(description, '\'');
  return text;
}

std::string TBRNModule::GetDropSQL(bool, bool) {
  return "DROP MODULE " + QuoteString(Name, '"');
}

int32_t TBRNModule::GetLockOffset(uint8_t lockType) const {
  if (lockType != ltShared && lockType != ltExclusive) return 0;
  // Checked when read; a number set in memory outside the lock file is a
  // caller's fault, which NumberedLockOffset reports.
  return LockNumber == 0 ? kModuleLockBase : NumberedLockOffset(kModuleLockBase, LockNumber);
}

int32_t TBRNModule::GetLockLength(uint8_t lockType) const {
  return lockType == ltShared || lockType == ltExclusive ? kLockRangeLength : 0;
}

// ---------------------------------------------------------------------------
// TBRNModules

std::string TBRNModules::GetObjectTypeName() const {
  return "module";
}

// ---------------------------------------------------------------------------
// TBRNModuleBinding

TBRNModuleBinding::~TBRNModuleBinding() {
  try {
    Close();
  } catch (...) {
    // Destructors do not report; the instance is forgotten either way.
  }
}

TBRNModule* TBRNModuleBinding::GetModule(const TBRNConfigObject* owner,
                                         const std::string& moduleName) {
  if (auto* cached = Link.Get(owner->Config)) return static_cast<TBRNModule*>(cached);
  TBRNModuleHost* host = ModuleHostOf(owner);
  TBRNModules* modules = host != nullptr ? host->GetModules() : nullptr;
  if (modules == nullptr) {
    // No list to look in: the same error the list raises.
    TBRNModules none(owner->Config);
    none.RaiseNotFoundByName(moduleName);
  }
  auto* module = static_cast<TBRNModule*>(modules->FindByName(moduleName, true));
  Link.Set(module, owner->Config);
  return module;
}

void TBRNModuleBinding::CacheModule(TBRNModule* module, const TBRNConfigObject* owner) {
  Link.Set(module, owner->Config);
}

TBRNModule* TBRNModuleBinding::Open(const TBRNConfigObject* owner, const std::string& moduleName,
                                    int32_t kind) {
  if (Opened) {
    if (TBRNModule* module = TBRNModule::FindBySerial(OpenedSerial)) return module;
    // The module object was freed, and its library with it: the instance
    // is gone.
    Opened = false;
    Instance = nullptr;
  }
  TBRNModule* module = GetModule(owner, moduleName);
  module->Acquire(kind);
  try {
    Instance = module->OpenModule();
  } catch (...) {
    module->Release();
    throw;
  }
  Opened = true;
  OpenedSerial = module->GetSerial();
  return module;
}

void TBRNModuleBinding::Close() {
  if (!Opened) return;
  Opened = false;
  TBRNModule* module = TBRNModule::FindBySerial(OpenedSerial);
  OpenedSerial = 0;
  if (module == nullptr) {
    Instance = nullptr;
    return;
  }
  try {
    module->CloseModule(Instance);
  } catch (...) {
    module->Release();
    throw;
  }
  module->Release();
}

}  // namespace brn

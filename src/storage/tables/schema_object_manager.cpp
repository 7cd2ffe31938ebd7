#include "storage/tables/schema_object_manager.h"

#include <exception>
#include <stdexcept>

#include "foundation/locks/lockable.h"
#include "metadata/catalog/tables.h"
#include "storage/rows/execution_seam.h"
#include "storage/tables/table_environment.h"

namespace brn {

namespace {

// Sets a guard flag for the duration of a scope.
class FlagScope {
 public:
  explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
  ~FlagScope() { flag_ = false; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& flag_;
};

// Runs step, keeping its error in first unless an earlier step failed
// already (then the later error is dropped: the first one passes on).
template <typename Step>
void runStep(std::exception_ptr& first, Step step) {
  try {
    step();
  } catch (...) {
    if (!first) first = std::current_exception();
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// TBRNSchemaObjectManager

TBRNSchemaObjectManager::TBRNSchemaObjectManager(TBRNTableEnvironment& Environment,
                                                 TBRNPrivilegedSchemaObject* CatalogObject)
    : environment(Environment),
      catalogObject(CatalogObject),
      context(Environment.CreateEvaluationContext()) {
  if (CatalogObject == nullptr) throw std::invalid_argument("schema-object manager without object");
  if (!context) throw std::logic_error("the environment made no evaluation context");
}

TBRNSchemaObjectManager::~TBRNSchemaObjectManager() = default;

TBRNExpressionEvaluator& TBRNSchemaObjectManager::GetEvaluator() const {
  return environment.GetEvaluator();
}

bool TBRNSchemaObjectManager::holdsLock(uint8_t lockType) const {
  return (catalogObject->GetHeldLocks() & LockTypeBit(lockType)) != 0;
}

void TBRNSchemaObjectManager::ForceClose() {
  keepOpen = false;
  Close(true, true);
}

void TBRNSchemaObjectManager::prepareOrClose() {
  try {
    DoPrepare();
  } catch (...) {
    try {
      DoUnprepare();
    } catch (...) {  // the preparing error passes on
    }
    prepared = false;
    try {
      closeNow();
    } catch (...) {  // likewise
    }
    throw;
  }
  prepared = true;
}

void TBRNSchemaObjectManager::Open(bool WithReferences) {
  if (!opening) {
    FlagScope guard(opening);
    if (!open) {
      keepOpen = GetKeepOpen();
      try {
        DoOpen();
      } catch (...) {
        try {
          closeNow();
        } catch (...) {  // the opening error passes on
        }
        throw;
      }
      open = true;
      prepareOrClose();
    } else if (userCount == 0) {
      // An idle manager may have missed other sessions' changes; inside a
      // transaction the files are this session's own.
      if (!catalogObject->IsInTransaction()) {
        DoRefresh();
        keepOpen = keepOpen && !holdsLock(ltExclusive);
      }
      if (!prepared) prepareOrClose();
    }
    if (WithReferences) {
      DoOpenReferences();
      ++referenceCount;
    }
  }
  if (open) ++userCount;
}

void TBRNSchemaObjectManager::Close(bool Force, bool WithReferences) {
  if (closing || !open) return;
  FlagScope guard(closing);
  if (userCount > 0) --userCount;
  std::exception_ptr first;
  if (WithReferences && referenceCount > 0) {
    --referenceCount;
    runStep(first, [&] { DoCloseReferences(); });
  }
  if ((Force || userCount == 0) && prepared) {
    runStep(first, [&] { DoUnprepare(); });
    prepared = false;
  }
  if (Force || (userCount == 0 && !keepOpen)) runStep(first, [&] { closeNow(); });
  if (first) std::rethrow_exception(first);
}

void TBRNSchemaObjectManager::closeNow() {
  std::exception_ptr first;
  runStep(first, [&] { DoClose(); });
  runStep(first, [&] {
    if (holdsLock(ltExclusive))
      environment.UnlockObject(catalogObject, ltExclusive);
    else if (holdsLock(ltShared))
      environment.UnlockObject(catalogObject, ltShared);
  });
  userCount = 0;
  open = false;
  if (first) std::rethrow_exception(first);
}

void TBRNSchemaObjectManager::CheckPrivilege(int32_t Kind, const std::string& StatementName) {
  environment.CheckPrivilege(catalogObject, Kind, StatementName);
}

void TBRNSchemaObjectManager::LockObject(uint8_t LockType) {
  if (LockType == ltNone) return;
  // The Shared lock a kept-open idle manager still holds would make its own
  // Exclusive lock fail.
  if (LockType == ltExclusive && open && keepOpen && userCount == 0 && holdsLock(ltShared))
    environment.UnlockObject(catalogObject, ltShared);
  environment.LockObject(catalogObject, LockType);
}

void TBRNSchemaObjectManager::UnlockObject(uint8_t LockType) {
  if (LockType == ltNone) return;
  environment.UnlockObject(catalogObject, LockType);
}

// ---------------------------------------------------------------------------
// TBRNSchemaObjectManagers

TBRNSchemaObjectManagers::TBRNSchemaObjectManagers(TBRNTableEnvironment& Environment)
    : environment(Environment) {}

TBRNSchemaObjectManagers::~TBRNSchemaObjectManagers() {
  try {
    Clear();
  } catch (...) {  // see the declaration
  }
}

TBRNHandleObjects& TBRNSchemaObjectManagers::handles() {
  if (!managers) managers = std::make_unique<TBRNHandleObjects>(GetCapacity(), false);
  return *managers;
}

TBRNSchemaObjectManager* TBRNSchemaObjectManagers::findManager(
    const TBRNPrivilegedSchemaObject* CatalogObject) const {
  const int32_t handle = CatalogObject->ManagerHandle;
  if (!managers || handle == 0 || !managers->IsValidHandle(handle) ||
      !managers->IsHandleUsed(handle))
    return nullptr;
  auto* manager = static_cast<TBRNSchemaObjectManager*>(managers->FindObject(handle));
  return manager != nullptr && manager->GetCatalogObject() == CatalogObject ? manager : nullptr;
}

TBRNSchemaObjectManager* TBRNSchemaObjectManagers::GetManager(
    TBRNPrivilegedSchemaObject* CatalogObject) {
  if (CatalogObject == nullptr) throw std::invalid_argument("no catalog object");
  if (TBRNSchemaObjectManager* manager = findManager(CatalogObject)) return manager;
  std::unique_ptr<TBRNSchemaObjectManager> manager = CreateManager(CatalogObject);
  if (!manager) throw std::logic_error("CreateManager made no manager");
  handles().AddObject(manager.get(), false);
  CatalogObject->ManagerHandle = manager->Handle;
  return manager.release();
}

TBRNSchemaObjectManager* TBRNSchemaObjectManagers::OpenManager(
    TBRNPrivilegedSchemaObject* CatalogObject, uint8_t LockType) {
  TBRNSchemaObjectManager* manager = GetManager(CatalogObject);
  try {
    if (manager->GetOpening()) {
      manager->Open(true);
    } else {
      const bool locked = (CatalogObject->GetHeldLocks() & LockTypeBit(LockType)) == 0;
      manager->LockObject(LockType);
      try {
        manager->Open(true);
      } catch (...) {
        try {
          if (locked) manager->UnlockObject(LockType);
        } catch (...) {  // the opening error passes on
        }
        throw;
      }
    }
  } catch (...) {
    if (manager->GetUserCount() == 0) {
      try {
        ReleaseManager(CatalogObject);
      } catch (...) {  // likewise
      }
    }
    throw;
  }
  return manager;
}

void TBRNSchemaObjectManagers::ReleaseManager(TBRNPrivilegedSchemaObject* CatalogObject) {
  if (CatalogObject == nullptr) return;
  TBRNSchemaObjectManager* found = findManager(CatalogObject);
  CatalogObject->ManagerHandle = 0;
  if (found == nullptr) return;
  managers->RemoveObject(found, false);
  std::unique_ptr<TBRNSchemaObjectManager> manager(found);
  manager->ForceClose();
}

void TBRNSchemaObjectManagers::CloseIdleManagers() {
  std::exception_ptr first;
  int32_t handle = 0;
  TBRNSchemaObjectManager* manager = nullptr;
  while (NextManager(handle, manager)) {
    if (manager->GetUserCount() == 0) runStep(first, [&] { manager->Close(false, true); });
  }
  if (first) std::rethrow_exception(first);
}

void TBRNSchemaObjectManagers::CloseAllManagers() {
  std::exception_ptr first;
  int32_t handle = 0;
  TBRNSchemaObjectManager* manager = nullptr;
  while (NextManager(handle, manager)) {
    manager->SetKeepOpenFlag(false);
    runStep(first, [&] { manager->Close(false, true); });
  }
  if (first) std::rethrow_exception(first);
}

bool TBRNSchemaObjectManagers::NextManager(int32_t& Handle,
                                           TBRNSchemaObjectManager*& Manager) const {
  Manager = nullptr;
  if (!managers) return false;
  TBRNHandleObject* object = nullptr;
  if (!managers->NextObject(Handle, object)) return false;
  Manager = static_cast<TBRNSchemaObjectManager*>(object);
  return true;
}

void TBRNSchemaObjectManagers::Clear() {
  if (!managers) return;
  std::exception_ptr first;
  int32_t handle = 0;
  TBRNSchemaObjectManager* manager = nullptr;
  while (NextManager(handle, manager)) {
    TBRNPrivilegedSchemaObject* object = manager->GetCatalogObject();
    if (object->ManagerHandle == manager->Handle) object->ManagerHandle = 0;
    runStep(first, [&] { manager->ForceClose(); });
  }
  managers->Clear();
  if (first) std::rethrow_exception(first);
}

}  // namespace brn

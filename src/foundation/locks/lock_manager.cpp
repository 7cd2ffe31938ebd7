#include "foundation/locks/lock_manager.h"

#include <algorithm>

#include "foundation/files/file_manager.h"
#include "foundation/text/environment.h"
#include "foundation/text/exception.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"

namespace brn {

const char* LockTypeName(uint8_t lockType) {
  static const char* const names[] = {"none", "shared", "exclusive",
                                      "read", "write",  "transaction"};
  return lockType <= ltTransaction ? names[lockType] : "";
}

TBRNLockManager::TBRNLockManager(TBRNLockable* owner, TBRNFileManager* fileManager)
    : Owner(owner), FileManager(fileManager) {}

TBRNLockManager::~TBRNLockManager() {
  // The slot number lives in the descendant, which is gone by now; the held
  // list still names the slot byte, so closing the file releases everything.
  try {
    closeFile();
  } catch (...) {
  }
  Opened = false;
}

std::string TBRNLockManager::GetLockFileName() {
  return LockFileName;
}

void TBRNLockManager::SetLockFileName(const std::string& name) {
  if (!Opened) LockFileName = name;
}

int32_t TBRNLockManager::GetMaxSessionSlots() {
  return 4096;
}

bool TBRNLockManager::SkipsLocking() const {
  return Owner == nullptr || Owner->GetReadOnly() || Owner->GetTransient();
}

bool TBRNLockManager::SkipsObjectLocking(const TBRNLockable* object) const {
  return SkipsLocking() || object->GetTransient() || object->GetTemporary();
}

void TBRNLockManager::OpenLockFile() {
  if (Owner->GetTransient()) return;
  std::string name = GetLockFileName();
  // Another process closing its last session deletes the file: between our
  // check and our opening the file can vanish, or be held for the moment of
  // its deletion. Such failures pass as soon as the other process is
  // scheduled again, so they are retried for up to about a second (a loaded
  // machine can keep the deleter waiting that long) before they count.
  constexpr int32_t kOpenAttempts = 1000;
  for (int32_t attempt = 1;; ++attempt) {
    bool exists = FileManager->FileExists(name);
    try {
      LockFile = exists ? FileManager->OpenFile(name, false, false, true)
                        : FileManager->CreateFile(name, false, false, true);
      break;
    } catch (const EBRNException&) {
      if (attempt < kOpenAttempts) {
        SleepMilliseconds(1);
        continue;
      }
      if (exists) throw;
      // Nowhere to lock: the owner becomes read-only, which switches all
      // locking off.
      Owner->SetReadOnly(true);
      return;
    }
  }
  if (!Owner->GetReadOnly() && LockFile->IsFileReadOnly()) Owner->SetReadOnly(true);
}

void TBRNLockManager::CloseLockFile() {
  closeFile();
}

void TBRNLockManager::closeFile() {
  if (LockFile) {
    for (auto it = held_.rbegin(); it != held_.rend(); ++it) {
      LockFile->SetRangeLock(false, it->Offset, it->Length);
    }
  }
  held_.clear();
  LockFile.reset();
}

bool TBRNLockManager::lockRange(int64_t offset, int64_t length) {
  if (length <= 0 || offset < 0) return true;
  if (!LockFile) return true;
  if (!LockFile->SetRangeLock(true, offset, length)) return false;
  held_.push_back({offset, length});
  return true;
}

bool TBRNLockManager::unlockRange(int64_t offset, int64_t length) {
  if (length <= 0 || offset < 0) return true;
  if (!LockFile) return true;
  auto it = std::find_if(held_.begin(), held_.end(), [&](const HeldRange& r) {
    return r.Offset == offset && r.Length == length;
  });
  if (it == held_.end()) return false;
  if (!LockFile->SetRangeLock(false, offset, length)) return false;
  held_.erase(it);
  return true;
}

void TBRNLockManager::AllocateSessionSlot() {
  int32_t maxSlots = GetMaxSessionSlots();
  for (int32_t slot = 1; slot <= maxSlots; ++slot) {
    if (LockSlot(slot)) {
      SetSessionSlot(slot);
      return;
    }
  }
  throw EBRNException(kNoFreeSlotError,
                      FormatText("All %s session slots in the lock file %s are in use",
                                 {IntegerToString(maxSlots), GetLockFileName()}));
}

void TBRNLockManager::ReleaseSessionSlot() {
  UnlockSlot(GetSessionSlot());
}

bool TBRNLockManager::LockSlot(int32_t slot) {
  if (SkipsLocking()) return true;
  if (slot < 1) return false;
  return lockRange(int64_t(slot) - 1, 1);
}

bool TBRNLockManager::UnlockSlot(int32_t slot) {
  if (SkipsLocking()) return true;
  if (slot < 1) return false;
  return unlockRange(int64_t(slot) - 1, 1);
}

bool TBRNLockManager::lockWithRetries(TBRNLockable* object, uint8_t lockType, int64_t offset,
                                      int64_t length, int32_t timeoutMs) {
  int32_t retryCount = object->GetLockRetryCount(lockType);
  int32_t retryDelay = object->GetLockRetryDelay(lockType);
  int32_t retries = 0;
  int64_t slept = 0;
  for (;;) {
    if (lockRange(offset, length)) return true;
    ++retries;
    if (retries > retryCount) return false;
    if (timeoutMs != -1 && slept >= timeoutMs) return false;
    SleepMilliseconds(retryDelay);
    slept += retryDelay;
  }
}

bool TBRNLockManager::LockObjectShared(TBRNLockable* object, uint8_t lockType, int32_t timeoutMs) {
  if (SkipsObjectLocking(object)) return true;
  if (object->GetLockLength(lockType) <= 0) return true;
  int64_t offset = int64_t(object->GetLockOffset(lockType)) + GetSessionSlot() - 1;
  return lockWithRetries(object, lockType, offset, 1, timeoutMs);
}

bool TBRNLockManager::UnlockObjectShared(TBRNLockable* object, uint8_t lockType) {
  if (SkipsObjectLocking(object)) return true;
  if (object->GetLockLength(lockType) <= 0) return true;
  return unlockRange(int64_t(object->GetLockOffset(lockType)) + GetSessionSlot() - 1, 1);
}

bool TBRNLockManager::LockObjectExclusive(TBRNLockable* object, uint8_t lockType,
                                          int32_t timeoutMs) {
  if (SkipsObjectLocking(object)) return true;
  return lockWithRetries(object, lockType, object->GetLockOffset(lockType),
                         object->GetLockLength(lockType), timeoutMs);
}

bool TBRNLockManager::UnlockObjectExclusive(TBRNLockable* object, uint8_t lockType) {
  if (SkipsObjectLocking(object)) return true;
  return unlockRange(object->GetLockOffset(lockType), object->GetLockLength(lockType));
}

void TBRNLockManager::Open() {
  if (Opened) return;
  try {
    OpenLockFile();
    if (GetSessionSlot() != 0) {
      // A slot handed over by the session: it must be ours, never shared
      // with a session that already holds it.
      if (!LockSlot(GetSessionSlot())) {
        throw EBRNException(
            kNoFreeSlotError,
            FormatText("The session slot %s in the lock file %s is held by another session",
                       {IntegerToString(GetSessionSlot()), GetLockFileName()}));
      }
    } else {
      AllocateSessionSlot();
    }
  } catch (...) {
    CloseLockFile();
    throw;
  }
  Opened = true;
}

void TBRNLockManager::Close() {
  if (!Opened) return;
  ReleaseSessionSlot();
  CloseLockFile();
  Opened = false;
}

void TBRNLockManager::CloseAndDelete() {
  if (Owner->GetTransient()) return;
  try {
    Close();
    FileManager->DeleteFile(GetLockFileName());
  } catch (...) {
  }
}

bool TBRNLockManager::LockObject(TBRNLockable* object, uint8_t lockType, int32_t timeoutMs) {
  uint8_t held = object->GetHeldLocks();
  auto has = [held](uint8_t type) { return (held & LockTypeBit(type)) != 0; };
  switch (lockType) {
    case ltShared:
      if (has(ltShared)) return false;
      if (has(ltExclusive) || !LockObjectShared(object, lockType, timeoutMs)) {
        object->RaiseCannotLock(lockType);
      }
      break;
    case ltExclusive:
      if (has(ltExclusive) || has(ltShared) || !LockObjectExclusive(object, lockType, timeoutMs)) {
        object->RaiseCannotLock(lockType);
      }
      break;
    case ltRead:
      if (object->GetReadOnly() || has(ltExclusive) || has(ltRead) || has(ltWrite) ||
          has(ltTransaction)) {
        return false;
      }
      if (!LockObjectShared(object, lockType, timeoutMs)) object->RaiseCannotLock(lockType);
      break;
    case ltWrite:
      if (object->GetReadOnly() || has(ltExclusive) || object->GetTransactionLockCount() != 1 ||
          has(ltWrite)) {
        return false;
      }
      if (!LockObjectExclusive(object, lockType, timeoutMs)) object->RaiseCannotLock(lockType);
      break;
    case ltTransaction:
      if (object->GetReadOnly() || has(ltExclusive)) return false;
      object->IncTransactionLockCount();
      if (has(ltTransaction)) return false;
      if (!LockObjectExclusive(object, lockType, timeoutMs)) {
        object->DecTransactionLockCount();
        object->RaiseCannotLock(lockType);
      }
      break;
    default:
      return false;
  }
  object->MarkLocked(lockType);
  return true;
}

void TBRNLockManager::UnlockObject(TBRNLockable* object, uint8_t lockType) {
  uint8_t held = object->GetHeldLocks();
  auto has = [held](uint8_t type) { return (held & LockTypeBit(type)) != 0; };
  switch (lockType) {
    case ltShared:
      if (has(ltShared)) {
        if (!UnlockObjectShared(object, lockType)) object->RaiseCannotUnlock(lockType);
        object->MarkUnlocked(lockType);
      }
      break;
    case ltExclusive:
      if (has(ltExclusive)) {
        if (!UnlockObjectExclusive(object, lockType)) object->RaiseCannotUnlock(lockType);
        object->MarkUnlocked(lockType);
      }
      break;
    case ltRead:
      if (!object->GetReadOnly() && !has(ltExclusive) && has(ltRead)) {
        if (!UnlockObjectShared(object, lockType)) object->RaiseCannotUnlock(lockType);
        object->MarkUnlocked(lockType);
      }
      break;
    case ltWrite:
      if (!object->GetReadOnly() && !has(ltExclusive) && has(ltWrite)) {
        if (!UnlockObjectExclusive(object, lockType)) object->RaiseCannotUnlock(lockType);
        object->MarkUnlocked(lockType);
      }
      break;
    case ltTransaction:
      if (!object->GetReadOnly() && !has(ltExclusive)) {
        if (has(ltTransaction) && object->GetTransactionLockCount() == 1) {
          if (!UnlockObjectExclusive(object, lockType)) {
            object->DecTransactionLockCount();
            object->RaiseCannotUnlock(lockType);
          }
          object->MarkUnlocked(lockType);
        }
        object->DecTransactionLockCount();
      }
      break;
    default:
      break;
  }
}

}  // namespace brn

// An object lock in the configuration's lock file for the enclosing scope.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "foundation/locks/lock_manager.h"

namespace brn {

class TBRNConfigObject;
class TBRNLocalSessionManager;

// Takes lockType on object with the object's default retries (raising the
// object's lock error, 300, when it cannot be had) and releases it on
// destruction, also when the scope is left through an exception (an unlock
// error is dropped then: the error that left the scope is the one to
// report). Release lets it go early. Used by the session's thread only.
class TBRNConfigObjectLock {
 public:
  TBRNConfigObjectLock(TBRNLockManager& locks, TBRNLockable* object, uint8_t lockType)
      : locks_(locks), object_(object), lockType_(lockType) {
    locks_.LockObject(object_, lockType_, -1);
    held_ = true;
  }
  ~TBRNConfigObjectLock() {
    if (!held_) return;
    try {
      locks_.UnlockObject(object_, lockType_);
    } catch (...) {
    }
  }
  TBRNConfigObjectLock(const TBRNConfigObjectLock&) = delete;
  TBRNConfigObjectLock& operator=(const TBRNConfigObjectLock&) = delete;

  // Releases the lock now (its unlock error passes on).
  void Release() {
    if (!held_) return;
    held_ = false;
    locks_.UnlockObject(object_, lockType_);
  }

 private:
  TBRNLockManager& locks_;
  TBRNLockable* object_;
  uint8_t lockType_;
  bool held_ = false;
};

// The Begin of a three-call ALTER after the checks: begins the
// configuration update, finds the object (find), reports stage 0 of the
// alter status and runs prepare on it (system check, locks). When any of it
// raises, stage 1 is reported (when the object was found) and the update is
// cancelled before the error passes on. On success the update stays open
// for the End or Cancel of the operation.
TBRNConfigObject* BeginAlterConfigObject(
    TBRNLocalSessionManager& session, const std::function<TBRNConfigObject*()>& find,
    const std::function<void(TBRNConfigObject*)>& prepare);

}  // namespace brn

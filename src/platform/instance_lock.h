#pragma once

#include <string>

namespace brn {

// Lets one process at a time run under a name: an exclusive, non-blocking
// flock on a file of that name in InstanceLockFolder(). The lock belongs to
// the open file, so it lasts until the object is destroyed or the process
// ends (also by a crash); it is not inherited by programs the process
// starts. Used by one thread.
class TBRNInstanceLock {
 public:
  TBRNInstanceLock() = default;
  ~TBRNInstanceLock();
  TBRNInstanceLock(const TBRNInstanceLock&) = delete;
  TBRNInstanceLock& operator=(const TBRNInstanceLock&) = delete;

  // True when the lock was taken; false when another process holds it.
  // fileName is one path component (no "/"). The folder is created when
  // missing; a folder or file that cannot be made or opened throws
  // std::system_error. Precondition: not Held() (else std::logic_error).
  bool Acquire(const std::string& fileName);
  bool Held() const { return fd_ >= 0; }
  // Lets the next process take the lock; nothing when not held.
  void Release();

 private:
  int fd_ = -1;
};

// $XDG_RUNTIME_DIR/brindle when that variable names a folder, else
// /run/lock/brindle.
std::string InstanceLockFolder();

}  // namespace brn

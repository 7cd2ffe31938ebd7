#pragma once

namespace brn {

// What the engine file managers read of the process-wide engine manager,
// which is built above the foundation and implements this interface. Its
// methods are called by every thread that opens a file, also several at once.
class TBRNEngineServices {
 public:
  virtual ~TBRNEngineServices() = default;

  // The engine has exclusive access to its files and folders: files are
  // opened unshared and byte-range locks stay inside the process. Read at
  // every call, so a change takes effect for files opened afterwards.
  virtual bool GetExclusiveFileAccess() const = 0;
};

}  // namespace brn

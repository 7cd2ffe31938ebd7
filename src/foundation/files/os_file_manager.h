#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/files/file_manager.h"
#include "platform/os_file.h"

namespace brn {

class TBRNEngineServices;

// A file on disk: one system handle shared by all its streams, opened shared
// or exclusive. Reads and writes go through the file position that the
// handle would keep. Byte-range locks are also taken from the system unless
// the manager had exclusive access when the handle was opened. A flush makes
// the contents durable, and the folder entry too when the file was created
// since; a rename syncs the folders at once. Failures of size queries, size
// changes, flushes and closes raise the file error (600). Every operation
// runs under the file's critical section, so the streams of several threads
// may use one file at once.
class TBRNOSFile : public TBRNFile {
 public:
  explicit TBRNOSFile(TBRNFileManager* manager) : TBRNFile(manager) {}
  ~TBRNOSFile() override;

  TOSFileHandle Handle = InvalidOSFileHandle;  // none while the file is closed

  int64_t GetSize() override;
  void SetSize(int64_t size) override;
  int64_t GetCreated() override;
  int64_t GetModified() override;
  std::unique_ptr<TBRNFileStream> CreateNew() override;
  // The first opening opens the handle; a file that cannot be opened for
  // writing is opened read-only, and all its streams are read-only.
  std::unique_ptr<TBRNFileStream> Open(bool readOnly) override;
  void Close() override;
  void Rename(const std::string& newName) override;
  void Delete() override;
  void Flush() override;
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(uint8_t origin, int64_t offset) override;
  bool LockRange(int64_t offset, int64_t length) override;
  bool UnlockRange(int64_t offset, int64_t length) override;

  // Opens the handle (creating and truncating when create); false with the
  // system's error when it cannot. The caller holds the file's critical
  // section.
  bool OpenHandle(bool create);

 private:
  int64_t FileTime(bool created);

  int64_t FilePosition = 0;
  bool SystemLocks = false;  // byte-range locks go to the system as well
  // Created since the last flush: the next flush also syncs the folder, so
  // that a file made durable is found under its name after a crash.
  bool FolderSyncPending = false;
};

// The manager of files on disk. Names work on the disk: listing, existence,
// times and sizes ask the file system, not the table.
class TBRNOSFileManager : public TBRNFileManager {
 public:
  explicit TBRNOSFileManager(TBRNEnvironment* environment) : TBRNFileManager(environment) {}

  bool GetInMemory() override;
  bool GetMatchCase() override;
  TBRNFile* CreateFileObject() override;
  // The mask is matched by the file system's rules: '*', '?' and "*.*",
  // ignoring case. Directories are skipped; names come sorted.
  void ListFiles(const std::string& mask, bool withExtensions, TBRNStringsList& list) override;
  bool FileExists(const std::string& name) override;
  int64_t GetFileCreated(const std::string& name) override;
  int64_t GetFileModified(const std::string& name) override;
  int64_t GetFileSize(const std::string& name) override;
  bool DirectoryExists(const std::string& path) override;
  // Creates the directory and every missing directory above it; "/" and
  // drives exist already.
  bool ForceDirectory(const std::string& path) override;
  bool RemoveDirectory(const std::string& path) override;
};

// The OS manager of the engine: exclusive access follows the engine's
// setting, read at every call; table files may grow to 4 GB.
class TBRNEngineOSFileManager : public TBRNOSFileManager {
 public:
  TBRNEngineOSFileManager(TBRNEnvironment* environment, TBRNEngineServices* engineManager)
      : TBRNOSFileManager(environment), EngineManager(engineManager) {}

  TBRNEngineServices* EngineManager;

  bool GetExclusiveAccess() override;
  int64_t GetMaxRowsetFileSize() override;
  int64_t GetMaxTableFileSize() override;
};

// The engine's manager when large files are supported.
class TBRNEngineLargeOSFileManager : public TBRNEngineOSFileManager {
 public:
  using TBRNEngineOSFileManager::TBRNEngineOSFileManager;

  int64_t GetMaxRowsetFileSize() override;
  int64_t GetMaxTableFileSize() override;
};

bool CreateDirectoryPath(const std::string& path);
// The directory must be empty.
bool RemoveDirectoryPath(const std::string& path);

}  // namespace brn

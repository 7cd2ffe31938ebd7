#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sessions/manager_interfaces.h"

namespace brn {

class TBRNFileManager;
class TBRNFileStream;
class TBRNLocalSessionManager;
class TBRNStore;

// The copy chunk: copies move this many bytes at a time through one buffer.
inline constexpr int32_t kBRNStoreCopyChunkSize = 65536;

// A local store of a session: a folder (the store's path, relative paths
// taken from the configuration path) holding backup, update and other files.
//
// Open and close count: OpenStore takes the store's lock (Shared 1 or
// Exclusive 2) in the session's configuration lock file on every call and
// counts; the first open creates a missing folder. CloseStore counts down
// and closes for real at 0 or when forced: a transfer in progress is
// cancelled and the lock released.
//
// Transfers: at most one file is read or written at a time; beginning a new
// one, or closing the store, cancels the one in progress, and a cancelled
// write never stays under its name.
//
// File names given to the transfers, CopyFile, RenameFile and DeleteFile
// are bare names: a name holding a path separator ("\" or "/") or ".."
// raises 1306 "Invalid file name" before any file is touched, so no
// operation reaches outside the store's folder.
//
// Used by the thread of the owning session only.
class TBRNLocalStoreManager : public TBRNStoreManager {
 public:
  // None of the arguments is owned; each outlives the manager.
  TBRNLocalStoreManager(TBRNStore* store, TBRNFileManager* fileManager,
                        TBRNLocalSessionManager* session);
  // Cancels a transfer in progress (errors are dropped); the lock is the
  // session's to release (its lock file closes with it).
  ~TBRNLocalStoreManager() override;

  void OpenStore(uint8_t lockType) override;
  // A failure is logged as operation 39 and passes on; the lock is released
  // and the store marked closed also when an earlier step fails.
  void CloseStore(bool force) override;
  // Fills Files with the files of the folder matching mask: backup and
  // update files (by extension, ignoring case) with their header fields;
  // every other file, and any whose header is not valid, as a plain file.
  // A file that cannot be opened is left out.
  void ListFiles(const std::string& fileMask) override;
  int64_t BeginReadFile(const std::string& fileName) override;
  // Reads up to count bytes of the file into target at its position.
  uint32_t ReadFile(TBRNMemoryStream& target, uint32_t count) override;
  void CancelReadFile() override;
  void EndReadFile() override;
  // Creates (or empties) the file for exclusive use.
  void BeginWriteFile(const std::string& fileName) override;
  // Writes up to count bytes of source from its position; the bytes written.
  uint32_t WriteFile(TBRNMemoryStream& source, uint32_t count) override;
  void CancelWriteFile() override;
  void EndWriteFile() override;
  // Copies within the folder with the status stages and progress of a copy;
  // a user who stops the progress ends it without error. A cancelled or
  // failed copy leaves no target file.
  void CopyFile(const std::string& sourceName, const std::string& targetName) override;
  void RenameFile(const std::string& oldName, const std::string& newName) override;
  // Nothing when the file does not exist.
  void DeleteFile(const std::string& fileName) override;
  // The file being read or written (nullptr when none is).
  TBRNStream* GetTransferStream() override;

  // 402 / 403 / 401 as for databases, with the store's type name and name.
  [[noreturn]] virtual void RaiseNotOpenError(const std::string& operation);
  [[noreturn]] virtual void RaiseReadOnlyError(const std::string& operation);
  [[noreturn]] virtual void RaisePathNotFoundError(const std::string& path);
  // Creates the folder (and its parents); false when that fails.
  virtual bool CreateFolder();
  // Cancels a read or a write in progress.
  virtual void CancelTransfers();
  // Under an Exclusive lock on the store: unless keepFiles, deletes every
  // file of the folder and the folder (nothing when it does not exist).
  virtual void DropStore(bool keepFiles);
  // Under an Exclusive lock on the store: renames the store object; the
  // folder keeps its name.
  virtual void RenameStore(const std::string& newName);

  // The folder without a trailing separator.
  std::string GetStorePath() const;
  // The full name of a file of the store; raises "Invalid file name" for a
  // name that is not a bare file name.
  std::string GetStoreFileName(const std::string& fileName) const;

  TBRNLocalSessionManager* Session;
  TBRNStore* Store;
  TBRNFileManager* FileManager;
  int32_t OpenCount = 0;
  bool Closing = false;
  // The file being read or written, its name and which transfer it is.
  std::unique_ptr<TBRNFileStream> Stream;
  std::string StreamFileName;
  bool Reading = false;
  bool Writing = false;

 private:
  TBRNStoreFile* listFile(const std::string& name);
  // Closes the transfer stream and forgets the transfer.
  void closeStream();
  // Takes the Exclusive lock unless it is held; true when taken here.
  bool lockExclusive();
  void unlockExclusive(bool taken);
};

}  // namespace brn

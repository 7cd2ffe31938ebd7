#pragma once

#include <memory>
#include <string>

#include "sessions/local/local_session_manager.h"
#include "sessions/stores/local_store_manager.h"

namespace brn {

class TBRNRemoteSessionManager;

// A local session that also reaches stores held by another server: a store
// of the remote kind is opened through a remote session of its own, so the
// local engine's backups, restores and store file operations work on it as
// on a local folder.
//
// Threads: as the local session manager.
class TBRNMixedSessionManager : public TBRNLocalSessionManager {
 public:
  using TBRNLocalSessionManager::TBRNLocalSessionManager;

  // A remote store: a TBRNMixedStoreManager; any other: the local one.
  std::unique_ptr<TBRNStoreManager> CreateStoreManager(TBRNStore* store) override;
};

// The handle of a remote store: the open count and the store lock are the
// local handle's; the first open connects an embedded remote session, logs
// in with the store's user and opens the named store on that server (Shared);
// the last close undoes this. Every file operation is forwarded.
//
// A failed first open leaves the remote session closed and no remote store.
// The embedded session has no handlers: a lost connection is re-established
// without asking.
//
// Used by the thread of the owning session only.
class TBRNMixedStoreManager : public TBRNLocalStoreManager {
 public:
  // None of the arguments is owned; each outlives the manager.
  TBRNMixedStoreManager(TBRNStore* store, TBRNLocalSessionManager* session,
                        TBRNFileManager* fileManager);
  // Closes what is still open on the remote server (errors dropped).
  ~TBRNMixedStoreManager() override;

  void OpenStore(uint8_t lockType) override;
  void CloseStore(bool force) override;

  // Fills this store's Files with the remote list.
  void ListFiles(const std::string& fileMask) override;
  int64_t BeginReadFile(const std::string& fileName) override;
  uint32_t ReadFile(TBRNMemoryStream& target, uint32_t count) override;
  void CancelReadFile() override;
  void EndReadFile() override;
  void BeginWriteFile(const std::string& fileName) override;
  uint32_t WriteFile(TBRNMemoryStream& source, uint32_t count) override;
  void CancelWriteFile() override;
  void EndWriteFile() override;
  void CopyFile(const std::string& sourceName, const std::string& targetName) override;
  void RenameFile(const std::string& oldName, const std::string& newName) override;
  void DeleteFile(const std::string& fileName) override;
  // nullptr: the remote file is reached only forward, through the transfers.
  TBRNStream* GetTransferStream() override;

  TBRNRemoteSessionManager& GetRemoteSession() const { return *RemoteSession; }
  // nullptr while closed.
  TBRNStoreManager* GetRemoteStore() const { return RemoteStore; }

 private:
  void connectRemote();
  // Never raises.
  void disconnectRemote();
  TBRNStoreManager& remoteStore();

  std::unique_ptr<TBRNRemoteSessionManager> RemoteSession;
  TBRNStoreManager* RemoteStore = nullptr;  // freed by RemoteSession's CloseStore
};

}  // namespace brn

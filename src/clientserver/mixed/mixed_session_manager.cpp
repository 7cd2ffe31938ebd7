#include "clientserver/mixed/mixed_session_manager.h"

#include <algorithm>

#include "clientserver/remote/remote_session_manager.h"
#include "foundation/text/environment.h"
#include "foundation/text/number_text.h"
#include "metadata/config/stores.h"
#include "sessions/engine_manager.h"

namespace brn {

// ---- Session

std::unique_ptr<TBRNStoreManager> TBRNMixedSessionManager::CreateStoreManager(TBRNStore* store) {
  if (store->StoreType == kRemoteStore)
    return std::make_unique<TBRNMixedStoreManager>(store, this, FileManager);
  return TBRNLocalSessionManager::CreateStoreManager(store);
}

// ---- Store

TBRNMixedStoreManager::TBRNMixedStoreManager(TBRNStore* store, TBRNLocalSessionManager* session,
                                             TBRNFileManager* fileManager)
    : TBRNLocalStoreManager(store, fileManager, session),
      RemoteSession(std::make_unique<TBRNRemoteSessionManager>(session->Engine)) {}

TBRNMixedStoreManager::~TBRNMixedStoreManager() {
  disconnectRemote();
  RemoteSession.reset();
}

void TBRNMixedStoreManager::connectRemote() {
  TBRNRemoteSessionManager& remote = *RemoteSession;
  remote.KeepTablesOpen = Session->KeepTablesOpen;
  remote.RecordLockProtocol = Session->RecordLockProtocol;
  remote.RecordLockRetryCount = Session->RecordLockRetryCount;
  remote.RecordLockWaitTime = Session->RecordLockWaitTime;
  remote.RecordChangeDetection = Session->RecordChangeDetection;
  remote.ForceBufferFlush = Session->ForceBufferFlush;
  remote.SetProgressTimeInterval(Session->GetProgressTimeInterval());

  remote.SetRemoteCompression(Store->Compression);
  remote.SessionSettings->SetSignature(
      Store->Signature.empty() ? Session->SessionSettings->GetSignature() : Store->Signature);
  remote.SetRemoteEncryption(Store->Encrypted);
  remote.SessionSettings->SetEncryptionPassword(
      Store->Encrypted ? Store->EncryptionPassword
                       : Session->SessionSettings->GetEncryptionPassword());
  remote.RemoteHost = Store->Host;
  remote.RemoteAddress = Store->Address;
  remote.RemotePort = Store->Port;
  remote.RemoteService = Store->Service;
  remote.SetRemoteTimeout(Store->Timeout);
  remote.SetRemotePing(Store->Ping);
  // A store written before new stores carried their defaults may hold 0,
  // which no remote session accepts; 30 s is the least a store may ask.
  remote.SetRemotePingInterval(std::max(Store->PingInterval, kMinStorePingInterval));

  TBRNEnvironment& environment = *Session->Engine->Environment;
  const std::string identity =
      environment.GetComputerName() + ":" + IntegerToString(int32_t(environment.GetProcessId()));
  try {
    remote.OpenSession(identity, Session->SessionName, Session->SessionDescription);
    remote.Login(Store->UserName, Store->Password);
  } catch (...) {
    remote.CloseSession();
    throw;
  }
  try {
    RemoteStore = remote.OpenStore(Store->RemoteStore, ltShared, false);
  } catch (...) {
    RemoteStore = nullptr;
    remote.Logout();
    remote.CloseSession();
    throw;
  }
}

void TBRNMixedStoreManager::disconnectRemote() {
  if (!RemoteSession) return;
  try {
    if (RemoteStore != nullptr) RemoteSession->CloseStore(RemoteStore);
    RemoteStore = nullptr;
    if (RemoteSession->Opened) {
      RemoteSession->Logout();
      RemoteSession->CloseSession();
    }
  } catch (const std::exception&) {
    // These steps never raise; a failure here would only be a lost
    // connection, which leaves nothing open on this side.
  }
}

void TBRNMixedStoreManager::OpenStore(uint8_t lockType) {
  // The first open connects; the store lock and the count are the base's.
  if (Opened) {
    TBRNLocalStoreManager::OpenStore(lockType);
    return;
  }
  connectRemote();
  try {
    TBRNLocalStoreManager::OpenStore(lockType);
  } catch (...) {
    disconnectRemote();
    throw;
  }
}

void TBRNMixedStoreManager::CloseStore(bool force) {
  const bool wasOpen = Opened;
  try {
    TBRNLocalStoreManager::CloseStore(force);
  } catch (...) {
    if (wasOpen && !Opened) disconnectRemote();
    throw;
  }
  if (wasOpen && !Opened) disconnectRemote();
}

TBRNStoreManager& TBRNMixedStoreManager::remoteStore() {
  if (RemoteStore == nullptr) RaiseNotOpenError("access");
  return *RemoteStore;
}

void TBRNMixedStoreManager::ListFiles(const std::string& fileMask) {
  TBRNStoreManager& remote = remoteStore();
  remote.ListFiles(fileMask);
  Files.Assign(remote.Files);
}

int64_t TBRNMixedStoreManager::BeginReadFile(const std::string& fileName) {
  return remoteStore().BeginReadFile(fileName);
}

uint32_t TBRNMixedStoreManager::ReadFile(TBRNMemoryStream& target, uint32_t count) {
  return remoteStore().ReadFile(target, count);
}

void TBRNMixedStoreManager::CancelReadFile() {
  remoteStore().CancelReadFile();
}

void TBRNMixedStoreManager::EndReadFile() {
  remoteStore().EndReadFile();
}

void TBRNMixedStoreManager::BeginWriteFile(const std::string& fileName) {
  remoteStore().BeginWriteFile(fileName);
}

uint32_t TBRNMixedStoreManager::WriteFile(TBRNMemoryStream& source, uint32_t count) {
  return remoteStore().WriteFile(source, count);
}

void TBRNMixedStoreManager::CancelWriteFile() {
  remoteStore().CancelWriteFile();
}

void TBRNMixedStoreManager::EndWriteFile() {
  remoteStore().EndWriteFile();
}

void TBRNMixedStoreManager::CopyFile(const std::string& sourceName,
                                     const std::string& targetName) {
  remoteStore().CopyFile(sourceName, targetName);
}

void TBRNMixedStoreManager::RenameFile(const std::string& oldName, const std::string& newName) {
  remoteStore().RenameFile(oldName, newName);
}

void TBRNMixedStoreManager::DeleteFile(const std::string& fileName) {
  remoteStore().DeleteFile(fileName);
}

TBRNStream* TBRNMixedStoreManager::GetTransferStream() {
  return nullptr;
}

}  // namespace brn

#include "sessions/stores/local_store_manager.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <stdexcept>

#include "foundation/core/memory_stream.h"
#include "foundation/files/file_manager.h"
#include "foundation/files/path_helpers.h"
#include "foundation/locks/lockable.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "foundation/text/string_list.h"
#include "metadata/config/stores.h"
#include "sessions/local/config_lock_manager.h"
#include "sessions/local/local_session_manager.h"
#include "sessions/stores/store_file_headers.h"

namespace brn {

namespace {

constexpr int32_t kOperationCloseStore = 39;

int32_t percentOf(int64_t done, int64_t total) {
  if (total <= 0) return 100;
  return int32_t(std::llround(double(done) / double(total) * 100.0));
}

bool isBareFileName(const std::string& name) {
  return !name.empty() && name.find_first_of("\\/") == std::string::npos &&
         name.find("..") == std::string::npos;
}

}  // namespace

TBRNLocalStoreManager::TBRNLocalStoreManager(TBRNStore* store, TBRNFileManager* fileManager,
                                             TBRNLocalSessionManager* session)
    : Session(session), Store(store), FileManager(fileManager) {}

TBRNLocalStoreManager::~TBRNLocalStoreManager() {
  try {
    CancelTransfers();
  } catch (...) {
  }
}

// ---------------------------------------------------------------------------
// Names

std::string TBRNLocalStoreManager::GetStorePath() const {
  std::string path = Store->Path;
  if (IsRelativePath(path))
    path = AddTrailingBackslash(Session->SessionSettings->GetConfigPath()) + path;
  return RemoveTrailingBackslash(path);
}

std::string TBRNLocalStoreManager::GetStoreFileName(const std::string& fileName) const {
  if (!isBareFileName(fileName)) Session->RaiseInvalidStoreFileNameError(Store, fileName);
  return AddTrailingBackslash(GetStorePath()) + fileName;
}

// ---------------------------------------------------------------------------
// Open and close

void TBRNLocalStoreManager::OpenStore(uint8_t lockType) {
  const uint8_t held = Store->GetHeldLocks();
  const bool needed = lockType != ltNone && (held & LockTypeBit(ltExclusive)) == 0 &&
                      !(lockType == ltShared && (held & LockTypeBit(ltShared)) != 0);
  bool locked = false;
  if (needed) locked = Session->ConfigLockManager->LockObject(Store, lockType, -1);
  if (!Opened) {
    try {
      if (Store->StoreType == kLocalStore && !FileManager->DirectoryExists(GetStorePath()) &&
          !CreateFolder())
        RaisePathNotFoundError(GetStorePath());
      TBRNStoreManager::OpenStore(lockType);
    } catch (...) {
      if (locked) {
        try {
          Session->ConfigLockManager->UnlockObject(Store, lockType);
        } catch (...) {
        }
      }
      throw;
    }
  }
  ++OpenCount;
}

void TBRNLocalStoreManager::CloseStore(bool force) {
  if (Closing) return;
  Closing = true;
  struct TReset {
    bool& Flag;
    ~TReset() { Flag = false; }
  } reset{Closing};

  if (Opened && OpenCount > 0) --OpenCount;
  if (!force && OpenCount > 0) return;

  std::exception_ptr failure;
  try {
    CancelTransfers();
  } catch (...) {
    failure = std::current_exception();
  }
  const bool wasOpen = Opened;
  OpenCount = 0;
  TBRNStoreManager::CloseStore(force);
  if (wasOpen && Session->ConfigLockManager && Session->ConfigLockManager->Opened) {
    const uint8_t held = Store->GetHeldLocks();
    try {
      if ((held & LockTypeBit(ltExclusive)) != 0)
        Session->ConfigLockManager->UnlockObject(Store, ltExclusive);
      else if ((held & LockTypeBit(ltShared)) != 0)
        Session->ConfigLockManager->UnlockObject(Store, ltShared);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) {
    try {
      std::rethrow_exception(failure);
    } catch (const std::exception& error) {
      Session->LogOperationError(error, kOperationCloseStore);
      throw;
    }
  }
}

bool TBRNLocalStoreManager::CreateFolder() {
  return FileManager->ForceDirectory(GetStorePath());
}

// ---------------------------------------------------------------------------
// Listing

void TBRNLocalStoreManager::ListFiles(const std::string& fileMask) {
  Files.Clear();
  TBRNStringsList names;
  FileManager->ListFiles(AddTrailingBackslash(GetStorePath()) + fileMask, true, names);
  for (const std::string& name : names.GetItems()) {
    if (TBRNStoreFile* record = listFile(name)) Files.Add(record);
  }
}

TBRNStoreFile* TBRNLocalStoreManager::listFile(const std::string& name) {
  std::unique_ptr<TBRNFileStream> stream;
  try {
    stream = FileManager->OpenFile(AddTrailingBackslash(GetStorePath()) + name, false, true, false);
  } catch (const EBRNException&) {
    return nullptr;  // not listed: it could not be opened
  }
  auto record = std::make_unique<TBRNStoreFile>();
  const std::string extension = ExtractPathExtension(name);
  const TBRNLocalSessionEngineManagerSettings& settings = *Session->SessionSettings;
  bool parsed = false;
  try {
    if (TextEqualsIgnoreCase(extension, settings.GetBackupExtension()))
      parsed = ReadBackupFileHeader(*stream, settings.GetSignatureDigest(), *record);
    else if (TextEqualsIgnoreCase(extension, settings.GetUpdateExtension()))
      parsed = ReadUpdateFileHeader(*stream, settings.GetSignatureDigest(), *record);
  } catch (const EBRNException&) {
    parsed = false;  // a header that cannot be read makes a plain file
  }
  if (!parsed) {
    *record = TBRNStoreFile();
    record->Kind = int32_t(TBRNStoreFileKind::Plain);
    record->CreatedOn = stream->GetFileCreated();
  }
  record->Name = name;
  record->Size = stream->GetSize();
  record->Modified = stream->GetFileModified();
  return record.release();
}

// ---------------------------------------------------------------------------
// Transfers

void TBRNLocalStoreManager::closeStream() {
  Stream.reset();
  StreamFileName.clear();
  Reading = false;
  Writing = false;
}

void TBRNLocalStoreManager::CancelTransfers() {
  if (Reading) CancelReadFile();
  if (Writing) CancelWriteFile();
}

int64_t TBRNLocalStoreManager::BeginReadFile(const std::string& fileName) {
  CancelTransfers();
  std::string name = GetStoreFileName(fileName);
  Stream = FileManager->OpenFile(name, false, true, false);
  StreamFileName = name;
  Reading = true;
  return Stream->GetSize();
}

uint32_t TBRNLocalStoreManager::ReadFile(TBRNMemoryStream& target, uint32_t count) {
  if (!Reading) throw std::logic_error("No store file is being read");
  const int32_t want = int32_t(std::min<uint32_t>(count, uint32_t(kBRNStoreCopyChunkSize) * 256));
  const int64_t position = target.GetPosition();
  if (target.GetSize() < position + want) target.SetSize(position + want);
  const int32_t done = Stream->Read(target.GetMemory() + position, want);
  target.SetPosition(position + done);
  return uint32_t(done);
}

void TBRNLocalStoreManager::CancelReadFile() {
  closeStream();
}

void TBRNLocalStoreManager::EndReadFile() {
  closeStream();
}

void TBRNLocalStoreManager::BeginWriteFile(const std::string& fileName) {
  CancelTransfers();
  std::string name = GetStoreFileName(fileName);
  Stream = FileManager->CreateFile(name, true, false, false);
  StreamFileName = name;
  Writing = true;
}

uint32_t TBRNLocalStoreManager::WriteFile(TBRNMemoryStream& source, uint32_t count) {
  if (!Writing) throw std::logic_error("No store file is being written");
  const int64_t position = source.GetPosition();
  const int64_t available = std::max<int64_t>(0, source.GetSize() - position);
  const int32_t want = int32_t(
      std::min<int64_t>({int64_t(count), available, int64_t(std::numeric_limits<int32_t>::max())}));
  if (want == 0) return 0;
  const int32_t done = Stream->Write(source.GetMemory() + position, want);
  source.SetPosition(position + done);
  return uint32_t(done);
}

TBRNStream* TBRNLocalStoreManager::GetTransferStream() {
  return Stream.get();
}

void TBRNLocalStoreManager::CancelWriteFile() {
  const std::string name = StreamFileName;
  const bool writing = Writing;
  closeStream();
  if (writing && FileManager->FileExists(name)) FileManager->DeleteFile(name);
}

void TBRNLocalStoreManager::EndWriteFile() {
  if (Writing) {
    try {
      Stream->Flush();
    } catch (...) {
      CancelWriteFile();
      throw;
    }
  }
  closeStream();
}

// ---------------------------------------------------------------------------
// Files

void TBRNLocalStoreManager::CopyFile(const std::string& sourceName, const std::string& targetName) {
  const std::string source = GetStoreFileName(sourceName);
  const std::string target = GetStoreFileName(targetName);
  std::unique_ptr<TBRNFileStream> input = FileManager->OpenFile(source, false, true, false);
  std::unique_ptr<TBRNFileStream> output = FileManager->CreateFile(target, true, false, false);
  // A target that did not become a full copy is removed, whether the user
  // stopped the copy or it failed.
  auto removeTarget = [&] {
    output.reset();
    try {
      if (FileManager->FileExists(target)) FileManager->DeleteFile(target);
    } catch (...) {
    }
  };

  Session->ReportFileCopyStatus(osStarting, Store, sourceName);
  bool proceed = true;
  try {
    Session->BeginProgress();
    try {
      const int64_t total = input->GetSize();
      std::unique_ptr<uint8_t[]> buffer(new uint8_t[kBRNStoreCopyChunkSize]);
      int64_t done = 0;
      while (proceed && done < total) {
        const int32_t n = input->Read(buffer.get(), kBRNStoreCopyChunkSize);
        if (n <= 0) Session->RaiseStoreFileReadError(Store, sourceName);
        done += n;
        proceed = Session->UpdateProgress(percentOf(done, total));
        if (output->Write(buffer.get(), n) != n)
          Session->RaiseStoreFileWriteError(Store, targetName);
      }
      if (proceed) output->Flush();
    } catch (...) {
      Session->EndProgress();
      throw;
    }
    Session->EndProgress();
  } catch (...) {
    removeTarget();
    try {
      Session->ReportFileCopyStatus(osNotCompleted, Store, sourceName);
    } catch (...) {
    }
    throw;
  }
  if (proceed) {
    output.reset();
    Session->ReportFileCopyStatus(osCompleted, Store, sourceName);
  } else {
    removeTarget();
    Session->ReportFileCopyStatus(osNotCompleted, Store, sourceName);
  }
}

void TBRNLocalStoreManager::RenameFile(const std::string& oldName, const std::string& newName) {
  FileManager->RenameFile(GetStoreFileName(oldName), GetStoreFileName(newName));
}

void TBRNLocalStoreManager::DeleteFile(const std::string& fileName) {
  const std::string name = GetStoreFileName(fileName);
  if (FileManager->FileExists(name)) FileManager->DeleteFile(name);
}

// ---------------------------------------------------------------------------
// The store as a whole

bool TBRNLocalStoreManager::lockExclusive() {
  // An Exclusive lock held already (ALTER STORE) covers the work.
  if ((Store->GetHeldLocks() & LockTypeBit(ltExclusive)) != 0) return false;
  return Session->ConfigLockManager->LockObject(Store, ltExclusive, -1);
}

void TBRNLocalStoreManager::unlockExclusive(bool taken) {
  if (taken) Session->ConfigLockManager->UnlockObject(Store, ltExclusive);
}

void TBRNLocalStoreManager::DropStore(bool keepFiles) {
  const bool taken = lockExclusive();
  try {
    CancelTransfers();
    const std::string path = GetStorePath();
    if (Store->StoreType == kLocalStore && !keepFiles && FileManager->DirectoryExists(path)) {
      TBRNStringsList names;
      FileManager->ListFiles(AddTrailingBackslash(path) + "*", true, names);
      for (const std::string& name : names.GetItems())
        FileManager->DeleteFile(AddTrailingBackslash(path) + name);
      Files.Clear();
      FileManager->RemoveDirectory(path);
    }
  } catch (...) {
    try {
      unlockExclusive(taken);
    } catch (...) {
    }
    throw;
  }
  unlockExclusive(taken);
}

void TBRNLocalStoreManager::RenameStore(const std::string& newName) {
  const bool taken = lockExclusive();
  Store->Name = newName;
  unlockExclusive(taken);
}

// ---------------------------------------------------------------------------
// Errors

void TBRNLocalStoreManager::RaiseNotOpenError(const std::string& operation) {
  throw EBRNException(402,
                      FormatText("The %s %s must be open in order to perform this operation (%s)",
                                 {Store->GetObjectTypeName(), Store->Name, operation}));
}

void TBRNLocalStoreManager::RaiseReadOnlyError(const std::string& operation) {
  throw EBRNException(
      403, FormatText("The %s %s is read-only and this operation cannot be performed (%s)",
                      {Store->GetObjectTypeName(), Store->Name, operation}));
}

void TBRNLocalStoreManager::RaisePathNotFoundError(const std::string& path) {
  throw EBRNException(401, FormatText("The path specified for the %s %s does not exist (%s)",
                                      {Store->GetObjectTypeName(), Store->Name, path}));
}

}  // namespace brn

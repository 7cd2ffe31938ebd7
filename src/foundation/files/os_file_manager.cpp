#include "foundation/files/os_file_manager.h"

#include <algorithm>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "foundation/files/engine_services.h"
#include "foundation/files/path_helpers.h"
#include "foundation/text/string_list.h"
#include "foundation/types/date_time.h"

namespace brn {

namespace {

using FileGuard = std::lock_guard<TBRNCriticalSection>;

int64_t timestampOf(const TOSFileTime& time) {
  if (!time.Valid) return 0;
  TBRNTimestampParts parts;
  parts.Year = time.Year;
  parts.Month = time.Month;
  parts.Day = time.Day;
  parts.Hour = time.Hour;
  parts.Minute = time.Minute;
  parts.Second = time.Second;
  parts.MSecond = time.MSecond;
  int64_t timestamp = 0;
  return EncodeTimestamp(parts, timestamp, false) ? timestamp : 0;
}

bool pathInfo(const std::string& path, TOSFileInfo& info) {
  return OSGetFileInfo(OSNativePath(path).c_str(), info);
}

// "X:", what is left of a drive's root once its separator is removed.
bool isDrive(const std::string& path) {
  return path.size() == 2 && path[1] == ':' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

}  // namespace

// ---- TBRNOSFile

TBRNOSFile::~TBRNOSFile() {
  if (Handle != InvalidOSFileHandle) OSCloseFile(Handle);
}

bool TBRNOSFile::OpenHandle(bool create) {
  bool exclusiveAccess = Manager->GetExclusiveAccess();
  std::string native = OSNativePath(Name);
  Handle = OSOpenFile(native.c_str(), create, ReadOnly, Exclusive || exclusiveAccess);
  if (Handle == InvalidOSFileHandle) return false;
  FilePosition = 0;
  SystemLocks = !exclusiveAccess;
  return true;
}

std::unique_ptr<TBRNFileStream> TBRNOSFile::CreateNew() {
  FileGuard guard(CriticalSection);
  if (Handle == InvalidOSFileHandle) {
    ReadOnly = false;
    FileReadOnly = false;
    if (!OpenHandle(true)) RaiseCreateError(LastOSErrorText());
    // The new name reaches the disk with the first flush that asks for
    // durability; a temporary file never needs to survive a crash.
    FolderSyncPending = !Temporary;
  }
  return TBRNFile::CreateNew();
}

std::unique_ptr<TBRNFileStream> TBRNOSFile::Open(bool readOnly) {
  FileGuard guard(CriticalSection);
  if (OpenCount == 0 && Handle == InvalidOSFileHandle) {
    ReadOnly = false;
    FileReadOnly = false;
    TOSFileInfo info;
    if (!pathInfo(Name, info)) RaiseOpenError(LastOSErrorText());
    if (info.ReadOnly) {
      ReadOnly = true;
      FileReadOnly = true;
    }
    if (!OpenHandle(false)) {
      if (ReadOnly) RaiseOpenError(LastOSErrorText());
      ReadOnly = true;
      if (!OpenHandle(false)) RaiseOpenError(LastOSErrorText());
    }
  }
  return TBRNFile::Open(readOnly);
}

void TBRNOSFile::Close() {
  FileGuard guard(CriticalSection);
  TBRNFile::Close();
  if (OpenCount > 0 || Handle == InvalidOSFileHandle) return;
  TOSFileHandle handle = Handle;
  Handle = InvalidOSFileHandle;
  // The system drops a handle's range locks with it.
  if (SystemLocks) Locks.clear();
  if (!OSCloseFile(handle)) RaiseOSError();
}

void TBRNOSFile::Rename(const std::string& newName) {
  FileGuard guard(CriticalSection);
  std::string oldNative = OSNativePath(Name), newNative = OSNativePath(newName);
  if (!OSRenameFile(oldNative.c_str(), newNative.c_str())) {
    RaiseRenameError(newName, LastOSErrorText());
  }
  // Renames replace files that must survive a crash under their new name;
  // both folders are synced when they differ.
  bool synced = OSSyncDirectoryOf(newNative.c_str()) &&
                (ExtractPathDirectory(Name) == ExtractPathDirectory(newName) ||
                 OSSyncDirectoryOf(oldNative.c_str()));
  std::string osText = synced ? std::string() : LastOSErrorText();
  TBRNFile::Rename(newName);
  if (!synced) RaiseFlushError(osText);
}

void TBRNOSFile::Delete() {
  FileGuard guard(CriticalSection);
  std::string native = OSNativePath(Name);
  if (!OSDeleteFile(native.c_str())) RaiseDeleteError(LastOSErrorText());
}

void TBRNOSFile::Flush() {
  FileGuard guard(CriticalSection);
  if (!OSFlushFile(Handle)) RaiseFlushError(LastOSErrorText());
  if (FolderSyncPending) {
    if (!OSSyncDirectoryOf(OSNativePath(Name).c_str())) RaiseFlushError(LastOSErrorText());
    FolderSyncPending = false;
  }
}

int64_t TBRNOSFile::GetSize() {
  FileGuard guard(CriticalSection);
  if (Handle == InvalidOSFileHandle) {
    TOSFileInfo info;
    if (!pathInfo(Name, info)) RaiseOSError();
    return info.Size;
  }
  int64_t size = OSGetFileSize(Handle);
  if (size < 0) RaiseOSError();
  return size;
}

void TBRNOSFile::SetSize(int64_t size) {
  FileGuard guard(CriticalSection);
  if (!OSSetFileSize(Handle, size)) RaiseWriteError(LastOSErrorText());
  FilePosition = size;
}

int64_t TBRNOSFile::FileTime(bool created) {
  FileGuard guard(CriticalSection);
  TOSFileInfo info;
  bool known = Handle != InvalidOSFileHandle ? OSGetHandleInfo(Handle, info) : pathInfo(Name, info);
  if (!known) return 0;
  return timestampOf(created ? info.Created : info.Modified);
}

int64_t TBRNOSFile::GetCreated() {
  return FileTime(true);
}

int64_t TBRNOSFile::GetModified() {
  return FileTime(false);
}

int32_t TBRNOSFile::Read(void* buffer, int32_t count) {
  CheckTransferCount(count);
  FileGuard guard(CriticalSection);
  int64_t done = OSReadFileAt(Handle, buffer, count, FilePosition);
  if (done < 0) return -1;
  FilePosition += done;
  return int32_t(done);
}

int32_t TBRNOSFile::Write(const void* buffer, int32_t count) {
  CheckTransferCount(count);
  FileGuard guard(CriticalSection);
  int64_t done = OSWriteFileAt(Handle, buffer, count, FilePosition);
  if (done < 0) return -1;
  FilePosition += done;
  return int32_t(done);
}

int64_t TBRNOSFile::Seek(uint8_t origin, int64_t offset) {
  FileGuard guard(CriticalSection);
  int64_t size = origin == 2 ? GetSize() : 0;
  FilePosition = SeekTarget(origin, offset, FilePosition, size);
  return FilePosition;
}

bool TBRNOSFile::LockRange(int64_t offset, int64_t length) {
  FileGuard guard(CriticalSection);
  // The in-process list refuses overlaps, which the system would merge
  // into one lock of this handle.
  if (!TBRNFile::LockRange(offset, length)) return false;
  if (SystemLocks && !OSLockFileRange(Handle, offset, length)) {
    TBRNFile::UnlockRange(offset, length);
    return false;
  }
  return true;
}

bool TBRNOSFile::UnlockRange(int64_t offset, int64_t length) {
  FileGuard guard(CriticalSection);
  const TBRNFileLock* range = FindLock(offset);
  if (range == nullptr) return false;
  // Exactly the range locked here, so a neighbour of this handle stays
  // locked in the system too.
  if (SystemLocks && !OSUnlockFileRange(Handle, range->StartOffset, range->Length)) return false;
  return TBRNFile::UnlockRange(offset, length);
}

// ---- TBRNOSFileManager

bool TBRNOSFileManager::GetInMemory() {
  return false;
}

bool TBRNOSFileManager::GetMatchCase() {
  return true;
}

TBRNFile* TBRNOSFileManager::CreateFileObject() {
  return new TBRNOSFile(this);
}

void TBRNOSFileManager::ListFiles(const std::string& mask, bool withExtensions,
                                  TBRNStringsList& list) {
  std::vector<TOSDirectoryEntry> entries;
  if (!OSListDirectory(mask, entries)) return;
  std::sort(entries.begin(), entries.end(),
            [](const TOSDirectoryEntry& a, const TOSDirectoryEntry& b) { return a.Name < b.Name; });
  for (const TOSDirectoryEntry& entry : entries) {
    if (entry.IsDirectory) continue;
    list.Add(withExtensions ? entry.Name : RemoveFileExtension(entry.Name, ""));
  }
}

bool TBRNOSFileManager::FileExists(const std::string& name) {
  if (TBRNFileManager::FileExists(name)) return true;
  TOSFileInfo info;
  return pathInfo(name, info);
}

int64_t TBRNOSFileManager::GetFileCreated(const std::string& name) {
  TOSFileInfo info;
  return pathInfo(name, info) && !info.IsDirectory ? timestampOf(info.Created) : 0;
}

int64_t TBRNOSFileManager::GetFileModified(const std::string& name) {
  TOSFileInfo info;
  return pathInfo(name, info) && !info.IsDirectory ? timestampOf(info.Modified) : 0;
}

int64_t TBRNOSFileManager::GetFileSize(const std::string& name) {
  TOSFileInfo info;
  return pathInfo(name, info) && !info.IsDirectory ? info.Size : 0;
}

bool TBRNOSFileManager::DirectoryExists(const std::string& path) {
  TOSFileInfo info;
  return pathInfo(path, info) && info.IsDirectory;
}

bool TBRNOSFileManager::ForceDirectory(const std::string& path) {
  std::string directory = RemoveTrailingBackslash(path);
  // Empty is what is left of "/" (or of an empty path).
  if (directory.empty() || isDrive(directory) || DirectoryExists(directory)) return true;
  std::string parent = ExtractPathDirectory(directory);
  if (parent != directory && !ForceDirectory(parent)) return false;
  // Another process may have created it meanwhile.
  return CreateDirectoryPath(directory) || DirectoryExists(directory);
}

bool TBRNOSFileManager::RemoveDirectory(const std::string& path) {
  if (path.empty()) return true;
  return RemoveDirectoryPath(RemoveTrailingBackslash(path));
}

// ---- Engine managers

bool TBRNEngineOSFileManager::GetExclusiveAccess() {
  return EngineManager != nullptr && EngineManager->GetExclusiveFileAccess();
}

int64_t TBRNEngineOSFileManager::GetMaxRowsetFileSize() {
  return 4000000000;
}

int64_t TBRNEngineOSFileManager::GetMaxTableFileSize() {
  return 4000000000;
}

int64_t TBRNEngineLargeOSFileManager::GetMaxRowsetFileSize() {
  return 128000000000;
}

int64_t TBRNEngineLargeOSFileManager::GetMaxTableFileSize() {
  return 1000000000000;
}

bool CreateDirectoryPath(const std::string& path) {
  return OSCreateDirectory(OSNativePath(path).c_str());
}

bool RemoveDirectoryPath(const std::string& path) {
  return OSRemoveDirectory(OSNativePath(path).c_str());
}

}  // namespace brn

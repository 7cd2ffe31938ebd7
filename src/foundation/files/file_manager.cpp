#include "foundation/files/file_manager.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <mutex>
#include <stdexcept>

#include "foundation/core/numeric_helpers.h"
#include "foundation/files/path_helpers.h"
#include "foundation/text/environment.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "foundation/text/string_list.h"
#include "platform/os_file.h"

namespace brn {

namespace {

// The raisers are virtual; one that an override let return would break
// every caller that counts on them not returning.
[[noreturn]] void raiserReturned() {
  throw std::logic_error("A file error raiser returned");
}

constexpr int32_t kFileErrorCode = 600;
constexpr int32_t kInitialFileCapacity = 512;
constexpr int32_t kFileCapacityStep = 128;

using FileGuard = std::lock_guard<TBRNCriticalSection>;

// Names compare as the file system compares them: byte for byte, with both
// separators the same.
int compareNames(std::string_view a, std::string_view b) {
  size_t count = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < count; ++i) {
    auto ca = static_cast<unsigned char>(a[i] == '\\' ? '/' : a[i]);
    auto cb = static_cast<unsigned char>(b[i] == '\\' ? '/' : b[i]);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

// Binary search over count sorted entries; compareAt(i) orders entry i
// against the key. true with the entry's index, else false with the
// insertion point.
template <typename Compare>
bool searchSorted(size_t count, Compare compareAt, int32_t& index) {
  int32_t low = 0, high = int32_t(count) - 1;
  while (low <= high) {
    int32_t middle = low + (high - low) / 2;
    int comparison = compareAt(size_t(middle));
    if (comparison < 0) {
      low = middle + 1;
    } else if (comparison > 0) {
      high = middle - 1;
    } else {
      index = middle;
      return true;
    }
  }
  index = low;
  return false;
}

// Capacities grow in fixed steps, from a first allocation of initial.
template <typename T>
void reserveOneMore(std::vector<T>& items, int32_t initial, int32_t step) {
  if (items.size() < items.capacity()) return;
  int32_t capacity = int32_t(items.capacity());
  items.reserve(size_t(capacity == 0 ? initial : RoundUpToMultiple(capacity + 1, step)));
}

}  // namespace

// ---- TBRNFile

TBRNFile::TBRNFile(TBRNFileManager* manager) : Manager(manager) {}

TBRNFile::~TBRNFile() = default;

std::unique_ptr<TBRNFileStream> TBRNFile::NewStream(bool readOnly) {
  FileGuard guard(CriticalSection);
  std::unique_ptr<TBRNFileStream> stream = Manager->CreateFileStream(this);
  streams_.push_back(stream.get());
  ++OpenCount;
  stream->Exclusive = Exclusive;
  stream->ReadOnly = readOnly;
  return stream;
}

std::unique_ptr<TBRNFileStream> TBRNFile::CreateNew() {
  return NewStream(false);
}

std::unique_ptr<TBRNFileStream> TBRNFile::Open(bool readOnly) {
  FileGuard guard(CriticalSection);
  return NewStream(ReadOnly || FileReadOnly || readOnly);
}

void TBRNFile::Close() {
  FileGuard guard(CriticalSection);
  if (OpenCount > 0) --OpenCount;
}

void TBRNFile::Rename(const std::string& newName) {
  FileGuard guard(CriticalSection);
  Name = newName;
}

void TBRNFile::Delete() {}

void TBRNFile::Flush() {}

const TBRNFileLock* TBRNFile::FindLock(int64_t offset) const {
  auto found = Locks.find(offset);
  return found == Locks.end() ? nullptr : &found->second;
}

bool TBRNFile::LockRange(int64_t offset, int64_t length) {
  if (offset < 0 || length < 0 || (length > 0 && offset > INT64_MAX - (length - 1))) return false;
  FileGuard guard(CriticalSection);
  int64_t end = offset + length - 1;
  // The first lock starting at or after offset, and the one before it.
  auto next = Locks.lower_bound(offset);
  if (next != Locks.end() && next->second.StartOffset <= end) return false;
  if (next != Locks.begin() && std::prev(next)->second.EndOffset >= offset) return false;
  if (next != Locks.end() && next->first == offset) return false;
  Locks.emplace_hint(next, offset, TBRNFileLock{offset, end, length});
  return true;
}

bool TBRNFile::UnlockRange(int64_t offset, int64_t /*length*/) {
  FileGuard guard(CriticalSection);
  return Locks.erase(offset) > 0;
}

std::string TBRNFile::LastOSErrorText() {
  return OSErrorMessage(errno);
}

void TBRNFile::CheckTransferCount(int32_t count) {
  if (count < 0) throw std::out_of_range("File transfer with a negative count");
}

// After the count check: the transfer lies inside the array.
static void checkArrayRange(size_t arraySize, int32_t offset, int32_t count) {
  if (offset < 0 || size_t(offset) > arraySize || size_t(count) > arraySize - size_t(offset)) {
    throw std::out_of_range("File transfer outside the byte array");
  }
}

int64_t TBRNFile::SeekTarget(uint8_t origin, int64_t offset, int64_t position, int64_t size) {
  int64_t base;
  switch (origin) {
    case 0:
      return offset;
    case 1:
      base = position;
      break;
    case 2:
      base = size;
      break;
    default:
      throw std::invalid_argument("Seek with an unknown origin");
  }
  int64_t target;
  if (__builtin_add_overflow(base, offset, &target)) {
    throw std::out_of_range("Seek beyond the range of file positions");
  }
  return target;
}

int32_t TBRNFile::ReadIntoArray(TBRNBytes& bytes, int32_t offset, int32_t count) {
  CheckTransferCount(count);
  checkArrayRange(bytes.size(), offset, count);
  return Read(bytes.data() + offset, count);
}

int32_t TBRNFile::WriteFromArray(const TBRNBytes& bytes, int32_t offset, int32_t count) {
  CheckTransferCount(count);
  checkArrayRange(bytes.size(), offset, count);
  return Write(bytes.data() + offset, count);
}

void TBRNFile::RaiseOSError() {
  std::string osText = OSErrorMessage(errno);
  Manager->RaiseError(FormatText("Error on the file %s (OS Error: %s)", {Name, osText}));
  raiserReturned();
}

void TBRNFile::RaiseCreateError(const std::string& osText) {
  Manager->RaiseCreateError(Name, osText);
  raiserReturned();
}

void TBRNFile::RaiseOpenError(const std::string& osText) {
  Manager->RaiseOpenError(Name, osText);
  raiserReturned();
}

void TBRNFile::RaiseRenameError(const std::string& newName, const std::string& osText) {
  Manager->RaiseRenameError(Name, newName, osText);
  raiserReturned();
}

void TBRNFile::RaiseDeleteError(const std::string& osText) {
  Manager->RaiseDeleteError(Name, osText);
  raiserReturned();
}

void TBRNFile::RaiseReadError(const std::string& osText) {
  Manager->RaiseReadError(Name, osText);
  raiserReturned();
}

void TBRNFile::RaiseWriteError(const std::string& osText) {
  Manager->RaiseWriteError(Name, osText);
  raiserReturned();
}

void TBRNFile::RaiseFlushError(const std::string& osText) {
  Manager->RaiseFlushError(Name, osText);
  raiserReturned();
}

// ---- TBRNFileManager

TBRNFileManager::TBRNFileManager(TBRNEnvironment* environment) : Environment(environment) {}

TBRNFileManager::~TBRNFileManager() {
  FileGuard guard(CriticalSection);
  // Streams still open lose their file instead of keeping a pointer to freed
  // memory.
  for (const std::unique_ptr<TBRNFile>& file : Files) {
    FileGuard fileGuard(file->CriticalSection);
    for (TBRNFileStream* stream : file->streams_) stream->File = nullptr;
    file->streams_.clear();
  }
  Files.clear();
}

bool TBRNFileManager::GetExclusiveAccess() {
  return false;
}
bool TBRNFileManager::GetInMemory() {
  return true;
}
bool TBRNFileManager::GetMatchCase() {
  return true;
}
int64_t TBRNFileManager::GetMaxRowsetFileSize() {
  return 2000000000;
}
int64_t TBRNFileManager::GetMaxTableFileSize() {
  return 2000000000;
}

std::unique_ptr<TBRNFileStream> TBRNFileManager::CreateFileStream(TBRNFile* file) {
  return std::make_unique<TBRNFileStream>(file);
}

void TBRNFileManager::RaiseError(const std::string& text) {
  throw EBRNException(kFileErrorCode, FormatText("File manager error (%s)", {text}));
}

void TBRNFileManager::RaiseCreateError(const std::string& name, const std::string& osText) {
  RaiseError(FormatText("Cannot create file %s (OS Error: %s)", {name, osText}));
  raiserReturned();
}

void TBRNFileManager::RaiseOpenError(const std::string& name, const std::string& osText) {
  RaiseError(FormatText("Cannot open file %s (OS Error: %s)", {name, osText}));
  raiserReturned();
}

void TBRNFileManager::RaiseAccessDenied(const std::string& name) {
  RaiseError(FormatText("Access denied to the file %s", {name}));
  raiserReturned();
}

void TBRNFileManager::RaiseNotFound(const std::string& name) {
  RaiseError(FormatText("File %s not found", {name}));
  raiserReturned();
}

void TBRNFileManager::RaiseRenameError(const std::string& oldName, const std::string& newName,
                                       const std::string& osText) {
  RaiseError(
      FormatText("Cannot rename the file %s to %s (OS Error: %s)", {oldName, newName, osText}));
  raiserReturned();
}

void TBRNFileManager::RaiseDeleteError(const std::string& name, const std::string& osText) {
  RaiseError(FormatText("Cannot delete the file %s (OS Error: %s)", {name, osText}));
  raiserReturned();
}

void TBRNFileManager::RaiseReadError(const std::string& name, const std::string& osText) {
  RaiseError(FormatText("Cannot read from the file %s (OS Error: %s)", {name, osText}));
  raiserReturned();
}

void TBRNFileManager::RaiseWriteError(const std::string& name, const std::string& osText) {
  RaiseError(FormatText("Cannot write to the file %s (OS Error: %s)", {name, osText}));
  raiserReturned();
}

void TBRNFileManager::RaiseFlushError(const std::string& name, const std::string& osText) {
  RaiseError(FormatText("Cannot flush the file %s (OS Error: %s)", {name, osText}));
  raiserReturned();
}

void TBRNFileManager::ListFiles(const std::string& mask, bool withExtensions,
                                TBRNStringsList& list) {
  FileGuard guard(CriticalSection);
  bool matchCase = GetMatchCase();
  // Both separators name the same folder, as in the table's order.
  std::string slashedMask = OSNativePath(mask);
  for (const std::unique_ptr<TBRNFile>& file : Files) {
    if (!MatchWildcard(OSNativePath(file->Name), slashedMask, matchCase)) continue;
    std::string name = ExtractPathFileName(file->Name);
    list.Add(withExtensions ? name : RemoveFileExtension(name, ""));
  }
}

bool TBRNFileManager::FileExists(const std::string& name) {
  FileGuard guard(CriticalSection);
  int32_t index;
  return FindFile(name, index);
}

int64_t TBRNFileManager::GetFileCreated(const std::string& name) {
  FileGuard guard(CriticalSection);
  TBRNFile* file = RegisteredFile(name);
  return file ? file->GetCreated() : 0;
}

int64_t TBRNFileManager::GetFileModified(const std::string& name) {
  FileGuard guard(CriticalSection);
  TBRNFile* file = RegisteredFile(name);
  return file ? file->GetModified() : 0;
}

int64_t TBRNFileManager::GetFileSize(const std::string& name) {
  FileGuard guard(CriticalSection);
  TBRNFile* file = RegisteredFile(name);
  return file ? file->GetSize() : 0;
}

bool TBRNFileManager::DirectoryExists(const std::string&) {
  return true;
}
bool TBRNFileManager::ForceDirectory(const std::string&) {
  return true;
}
bool TBRNFileManager::RemoveDirectory(const std::string&) {
  return true;
}

bool TBRNFileManager::FindFile(std::string_view name, int32_t& index) const {
  auto compareAt = [&](size_t i) { return compareNames(Files[i]->Name, name); };
  return searchSorted(Files.size(), compareAt, index);
}

TBRNFile* TBRNFileManager::RegisteredFile(const std::string& name) {
  int32_t index;
  return FindFile(name, index) ? Files[size_t(index)].get() : nullptr;
}

void TBRNFileManager::InsertFile(std::unique_ptr<TBRNFile> file, int32_t index) {
  // The room was made before the file was created or opened, so the insert
  // cannot fail and lose the file.
  Files.insert(Files.begin() + index, std::move(file));
}

std::unique_ptr<TBRNFile> TBRNFileManager::RemoveFileAt(int32_t index) {
  std::unique_ptr<TBRNFile> file = std::move(Files[size_t(index)]);
  Files.erase(Files.begin() + index);
  return file;
}

std::unique_ptr<TBRNFileStream> TBRNFileManager::CreateFile(const std::string& name, bool exclusive,
                                                            bool temporary, bool hidden) {
  FileGuard guard(CriticalSection);
  int32_t index;
  if (FindFile(name, index)) {
    TBRNFile* file = Files[size_t(index)].get();
    if (file->OpenCount != 0) RaiseAccessDenied(name);
    file->Exclusive = exclusive;
    file->Temporary = temporary;
    file->Hidden = hidden;
    return file->CreateNew();
  }
  reserveOneMore(Files, kInitialFileCapacity, kFileCapacityStep);
  std::unique_ptr<TBRNFile> file(CreateFileObject());
  file->Name = name;
  file->Exclusive = exclusive;
  file->Temporary = temporary;
  file->Hidden = hidden;
  std::unique_ptr<TBRNFileStream> stream = file->CreateNew();
  InsertFile(std::move(file), index);
  return stream;
}

std::unique_ptr<TBRNFileStream> TBRNFileManager::OpenFile(const std::string& name, bool exclusive,
                                                          bool readOnly, bool hidden) {
  FileGuard guard(CriticalSection);
  int32_t index;
  if (FindFile(name, index)) {
    TBRNFile* file = Files[size_t(index)].get();
    if (file->OpenCount == 0) {
      file->Exclusive = exclusive;
      file->Hidden = hidden;
    } else if (file->Exclusive || exclusive) {
      RaiseAccessDenied(name);
    }
    return file->Open(readOnly);
  }
  if (GetInMemory()) RaiseNotFound(name);
  reserveOneMore(Files, kInitialFileCapacity, kFileCapacityStep);
  std::unique_ptr<TBRNFile> file(CreateFileObject());
  file->Name = name;
  file->Exclusive = exclusive;
  file->Hidden = hidden;
  std::unique_ptr<TBRNFileStream> stream = file->Open(readOnly);
  InsertFile(std::move(file), index);
  return stream;
}

void TBRNFileManager::RenameFile(const std::string& oldName, const std::string& newName) {
  FileGuard guard(CriticalSection);
  int32_t index;
  if (FindFile(newName, index)) RaiseAccessDenied(newName);
  if (FindFile(oldName, index)) {
    if (Files[size_t(index)]->OpenCount > 0) RaiseAccessDenied(oldName);
    // Out of the table while its name changes; back in at the place of the
    // name it ends up with, whether the rename succeeded or not.
    std::unique_ptr<TBRNFile> file = RemoveFileAt(index);
    try {
      file->Rename(newName);
    } catch (...) {
      FindFile(file->Name, index);
      InsertFile(std::move(file), index);
      throw;
    }
    FindFile(newName, index);
    InsertFile(std::move(file), index);
    return;
  }
  if (GetInMemory()) RaiseNotFound(oldName);
  std::unique_ptr<TBRNFile> file(CreateFileObject());
  file->Name = oldName;
  file->Rename(newName);
}

void TBRNFileManager::DeleteFile(const std::string& name) {
  FileGuard guard(CriticalSection);
  int32_t index;
  if (FindFile(name, index)) {
    TBRNFile* file = Files[size_t(index)].get();
    if (file->OpenCount > 0) RaiseAccessDenied(name);
    file->Delete();
    RemoveFileAt(index);
    return;
  }
  if (GetInMemory()) RaiseNotFound(name);
  std::unique_ptr<TBRNFile> file(CreateFileObject());
  file->Name = name;
  file->Delete();
}

void TBRNFileManager::ReleaseFile(TBRNFile* file) {
  FileGuard guard(CriticalSection);
  int32_t index;
  if (!FindFile(file->Name, index) || Files[size_t(index)].get() != file) return;
  if (file->OpenCount > 0) file->Close();
  if (file->OpenCount > 0) return;
  if (file->Temporary) {
    RemoveFileAt(index)->Delete();
  } else if (!GetInMemory() && !GetExclusiveAccess()) {
    RemoveFileAt(index);
  }
}

// ---- TBRNFileStream

TBRNFileStream::TBRNFileStream(TBRNFile* file) : File(file) {}

TBRNFileStream::~TBRNFileStream() {
  // A stream freed while pinned would otherwise take the manager's lock
  // while holding the file's, against the order everyone else uses.
  while (AcquireCount > 0) Release();
  if (File == nullptr) return;  // detached: its manager and file are gone
  {
    FileGuard guard(File->CriticalSection);
    auto& streams = File->streams_;
    streams.erase(std::remove(streams.begin(), streams.end(), this), streams.end());
  }
  try {
    File->Manager->ReleaseFile(File);
  } catch (...) {
    // A destructor cannot report a failing close or a temporary file that
    // would not go away; the file object is gone either way.
  }
}

TBRNFile& TBRNFileStream::OpenFile() const {
  if (File == nullptr) {
    throw std::logic_error("File stream used after its file manager was destroyed");
  }
  return *File;
}

void TBRNFileStream::SyncFilePosition() {
  if (AcquireCount == 0) File->Seek(0, Position);
}

int32_t TBRNFileStream::CheckRead(int32_t done) {
  if (done < 0) File->RaiseReadError(OSErrorMessage(errno));
  Position += done;
  return done;
}

int32_t TBRNFileStream::CheckWrite(int32_t done, int32_t count) {
  if (done < 0) File->RaiseWriteError(OSErrorMessage(errno));
  Position += done;
  if (done < count) {
    File->RaiseWriteError(FormatText("Only %s of %s bytes were written",
                                     {std::to_string(done), std::to_string(count)}));
  }
  return done;
}

void TBRNFileStream::SetPosition(int64_t position) {
  Seek(0, position);
}

int64_t TBRNFileStream::GetSize() const {
  return OpenFile().GetSize();
}

void TBRNFileStream::SetSize(int64_t size) {
  FileGuard guard(OpenFile().CriticalSection);
  File->SetSize(size);
  if (Position > size) Position = size;
}

int64_t TBRNFileStream::Seek(uint8_t origin, int64_t offset) {
  FileGuard guard(OpenFile().CriticalSection);
  // Relative seeks start from this stream's position, not from wherever
  // another stream left the shared file position.
  if (origin == 1) SyncFilePosition();
  Position = File->Seek(origin, offset);
  return Position;
}

// Each transfer reads errno right after the file's call, before anything
// else can change it.
int32_t TBRNFileStream::ReadIntoArray(TBRNBytes& bytes, int32_t offset, int32_t count) {
  FileGuard guard(OpenFile().CriticalSection);
  SyncFilePosition();
  return CheckRead(File->ReadIntoArray(bytes, offset, count));
}

int32_t TBRNFileStream::Read(void* buffer, int32_t count) {
  FileGuard guard(OpenFile().CriticalSection);
  SyncFilePosition();
  return CheckRead(File->Read(buffer, count));
}

int32_t TBRNFileStream::WriteFromArray(const TBRNBytes& bytes, int32_t offset, int32_t count) {
  FileGuard guard(OpenFile().CriticalSection);
  SyncFilePosition();
  return CheckWrite(File->WriteFromArray(bytes, offset, count), count);
}

int32_t TBRNFileStream::Write(const void* buffer, int32_t count) {
  FileGuard guard(OpenFile().CriticalSection);
  SyncFilePosition();
  return CheckWrite(File->Write(buffer, count), count);
}

std::string TBRNFileStream::GetFileName() const {
  return OpenFile().Name;
}

bool TBRNFileStream::IsFileReadOnly() const {
  return OpenFile().FileReadOnly;
}

int64_t TBRNFileStream::GetFileCreated() const {
  return OpenFile().GetCreated();
}

int64_t TBRNFileStream::GetFileModified() const {
  return OpenFile().GetModified();
}

bool TBRNFileStream::SetRangeLock(bool lock, int64_t offset, int64_t length) {
  TBRNFile& file = OpenFile();
  return lock ? file.LockRange(offset, length) : file.UnlockRange(offset, length);
}

void TBRNFileStream::Flush() {
  OpenFile().Flush();
}

void TBRNFileStream::Acquire() {
  OpenFile().Lock();
  ++AcquireCount;
}

void TBRNFileStream::Release() {
  if (AcquireCount <= 0) return;
  --AcquireCount;
  if (File != nullptr) File->Unlock();
}

}  // namespace brn

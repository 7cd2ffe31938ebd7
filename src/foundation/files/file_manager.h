#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/core/stream.h"
#include "foundation/runtime/sections.h"

namespace brn {

class TBRNEnvironment;
class TBRNFileManager;
class TBRNFileStream;
class TBRNStringsList;

// One in-process byte-range lock.
struct TBRNFileLock {
  int64_t StartOffset = 0;
  int64_t EndOffset = 0;  // last byte: StartOffset + Length - 1
  int64_t Length = 0;
};

// By StartOffset: a transaction may hold a lock byte for each of a million
// changed rows and release them front to back, so both ends stay cheap.
using TBRNFileLocks = std::map<int64_t, TBRNFileLock>;

// One file of a manager, shared by every stream that has it open. Its
// critical section serialises every operation on the file, its position,
// open count, lock list and list of streams. The manager's table owns the
// file; streams only view it.
class TBRNFile {
 public:
  explicit TBRNFile(TBRNFileManager* manager);
  virtual ~TBRNFile();
  TBRNFile(const TBRNFile&) = delete;
  TBRNFile& operator=(const TBRNFile&) = delete;

  TBRNFileManager* Manager;
  TBRNCriticalSection CriticalSection;
  bool Exclusive = false;     // the current opening excludes every other
  bool ReadOnly = false;      // the file is open read-only
  bool FileReadOnly = false;  // the file carries the read-only attribute
  bool Temporary = false;     // deleted when its last stream closes
  bool Hidden = false;        // created hidden
  std::string Name;           // full path name, the key of the manager's table
  int32_t OpenCount = 0;      // streams that have the file open
  TBRNFileLocks Locks;        // sorted by StartOffset, never overlapping

  int32_t LockCount() const { return int32_t(Locks.size()); }

  virtual int64_t GetSize() = 0;
  virtual void SetSize(int64_t size) = 0;
  // Creation and last-write time as a TIMESTAMP; 0 when not available.
  virtual int64_t GetCreated() = 0;
  virtual int64_t GetModified() = 0;

  // Creates or truncates the file and returns a new stream on it.
  virtual std::unique_ptr<TBRNFileStream> CreateNew();
  // Opens the existing file and returns a new stream on it.
  virtual std::unique_ptr<TBRNFileStream> Open(bool readOnly);
  // One stream less.
  virtual void Close();
  virtual void Rename(const std::string& newName);
  virtual void Delete();
  virtual void Flush();

  // Transfers at the file position, which they advance; the bytes moved, -1
  // on failure with the reason left in errno. A negative count or an array
  // range outside the array is a range error. The array forms check the range
  // and go through Read and Write. Callers go through TBRNFileStream, which
  // turns a failure or a short write into the file error.
  virtual int32_t ReadIntoArray(TBRNBytes& bytes, int32_t offset, int32_t count);
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  virtual int32_t WriteFromArray(const TBRNBytes& bytes, int32_t offset, int32_t count);
  virtual int32_t Write(const void* buffer, int32_t count) = 0;
  // Origin 0 from the start, 1 from the position, 2 from the end; the new
  // position.
  virtual int64_t Seek(uint8_t origin, int64_t offset) = 0;

  // Byte-range locks that never wait: a conflict is reported by the result.
  // A range overlapping one of the file's locks is refused, as is a negative
  // offset or length. Unlocking names the range by its first byte and
  // releases exactly the range locked there.
  virtual bool LockRange(int64_t offset, int64_t length);
  virtual bool UnlockRange(int64_t offset, int64_t length);

  void Lock() { CriticalSection.Enter(); }
  void Unlock() { CriticalSection.Leave(); }

  // The lock starting at offset, nullptr when there is none.
  const TBRNFileLock* FindLock(int64_t offset) const;

  // The file error (600) for a failing system call; the reason is the
  // system's text of the calling thread's last error.
  [[noreturn]] void RaiseOSError();
  [[noreturn]] void RaiseCreateError(const std::string& osText);
  [[noreturn]] void RaiseOpenError(const std::string& osText);
  [[noreturn]] void RaiseRenameError(const std::string& newName, const std::string& osText);
  [[noreturn]] void RaiseDeleteError(const std::string& osText);
  [[noreturn]] void RaiseReadError(const std::string& osText);
  [[noreturn]] void RaiseWriteError(const std::string& osText);
  [[noreturn]] void RaiseFlushError(const std::string& osText);

 protected:
  // The last OS error of the calling thread and its system text.
  static std::string LastOSErrorText();
  // The position a seek from origin reaches; a range error when it does not
  // fit 64 bits.
  static int64_t SeekTarget(uint8_t origin, int64_t offset, int64_t position, int64_t size);
  // A range error for a negative transfer count.
  static void CheckTransferCount(int32_t count);
  // A new stream on the file, registered so that the manager can detach it.
  std::unique_ptr<TBRNFileStream> NewStream(bool readOnly);

 private:
  friend class TBRNFileManager;
  friend class TBRNFileStream;

  // The streams viewing this file, under CriticalSection.
  std::vector<TBRNFileStream*> streams_;
};

// The table owns its files: a file is freed only by being removed from it.
using TBRNFiles = std::vector<std::unique_ptr<TBRNFile>>;

// The table of a process's open files and the operations on file names. The
// table is sorted by name, compared as the file system compares names
// (exactly, with '\' and '/' the same separator). Every failure, of the
// operations on names and of reads, writes, flushes and size changes through
// the streams, is an EBRNException 600. The manager's lock is always taken
// before a file's. All operations may be called from several threads at once.
// Streams should be destroyed before their manager; a stream that outlives it
// is detached: every use then throws std::logic_error and its destruction
// does nothing.
class TBRNFileManager {
 public:
  explicit TBRNFileManager(TBRNEnvironment* environment);
  virtual ~TBRNFileManager();
  TBRNFileManager(const TBRNFileManager&) = delete;
  TBRNFileManager& operator=(const TBRNFileManager&) = delete;

  TBRNEnvironment* Environment;
  TBRNFiles Files;
  TBRNCriticalSection CriticalSection;

  int32_t Count() const { return int32_t(Files.size()); }
  int32_t Capacity() const { return int32_t(Files.capacity()); }

  virtual bool GetExclusiveAccess();
  // true: files exist only in the table.
  virtual bool GetInMemory();
  // Case-sensitive mask matching in ListFiles.
  virtual bool GetMatchCase();
  // The largest sizes the table storage lets a row file and a table's other
  // files reach.
  virtual int64_t GetMaxRowsetFileSize();
  virtual int64_t GetMaxTableFileSize();
  virtual TBRNFile* CreateFileObject() = 0;
  virtual std::unique_ptr<TBRNFileStream> CreateFileStream(TBRNFile* file);
  [[noreturn]] virtual void RaiseError(const std::string& text);
  [[noreturn]] virtual void RaiseCreateError(const std::string& name, const std::string& osText);
  [[noreturn]] virtual void RaiseOpenError(const std::string& name, const std::string& osText);
  [[noreturn]] virtual void RaiseAccessDenied(const std::string& name);
  [[noreturn]] virtual void RaiseNotFound(const std::string& name);
  [[noreturn]] virtual void RaiseRenameError(const std::string& oldName, const std::string& newName,
                                             const std::string& osText);
  [[noreturn]] virtual void RaiseDeleteError(const std::string& name, const std::string& osText);
  // Reads that fail, writes that fail or store fewer bytes than asked, size
  // changes that fail and flushes that fail.
  [[noreturn]] virtual void RaiseReadError(const std::string& name, const std::string& osText);
  [[noreturn]] virtual void RaiseWriteError(const std::string& name, const std::string& osText);
  [[noreturn]] virtual void RaiseFlushError(const std::string& name, const std::string& osText);
  // Adds the file name (without directory, and without extension unless
  // withExtensions) of every file matching mask.
  virtual void ListFiles(const std::string& mask, bool withExtensions, TBRNStringsList& list);
  virtual bool FileExists(const std::string& name);
  virtual int64_t GetFileCreated(const std::string& name);
  virtual int64_t GetFileModified(const std::string& name);
  virtual int64_t GetFileSize(const std::string& name);
  virtual bool DirectoryExists(const std::string& path);
  virtual bool ForceDirectory(const std::string& path);
  virtual bool RemoveDirectory(const std::string& path);

  std::unique_ptr<TBRNFileStream> CreateFile(const std::string& name, bool exclusive,
                                             bool temporary, bool hidden);
  std::unique_ptr<TBRNFileStream> OpenFile(const std::string& name, bool exclusive, bool readOnly,
                                           bool hidden);
  void RenameFile(const std::string& oldName, const std::string& newName);
  void DeleteFile(const std::string& name);
  // Called by a stream's destructor.
  void ReleaseFile(TBRNFile* file);
  // Binary search: true with the file's position, else false with the
  // insertion point.
  bool FindFile(std::string_view name, int32_t& index) const;

 private:
  TBRNFile* RegisteredFile(const std::string& name);
  void InsertFile(std::unique_ptr<TBRNFile> file, int32_t index);
  // Takes the file at index out of the table; the caller now owns it.
  std::unique_ptr<TBRNFile> RemoveFileAt(int32_t index);
};

// One opening of a file, with its own position. The stream views its file
// and never frees it; it must be used by one thread at a time. Reads that
// fail, and writes, size changes and flushes that fail or fall short, raise
// the file error (600) with the system's reason; the stream position then
// counts the bytes that did move. A stream whose manager is gone throws
// std::logic_error on every use that needs the file.
class TBRNFileStream : public TBRNStream {
 public:
  explicit TBRNFileStream(TBRNFile* file);
  ~TBRNFileStream() override;

  TBRNFile* File;  // nullptr once detached from a destroyed manager
  bool Exclusive = false;
  bool ReadOnly = false;
  int64_t Position = 0;
  int32_t AcquireCount = 0;

  int64_t GetPosition() const override { return Position; }
  void SetPosition(int64_t position) override;
  int64_t GetSize() const override;
  // The position moves back to size when it was beyond.
  void SetSize(int64_t size) override;
  int64_t Seek(uint8_t origin, int64_t offset) override;
  int32_t ReadIntoArray(TBRNBytes& bytes, int32_t offset, int32_t count) override;
  int32_t Read(void* buffer, int32_t count) override;
  int32_t WriteFromArray(const TBRNBytes& bytes, int32_t offset, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;

  std::string GetFileName() const;
  // The file carries the read-only attribute; callers then treat their
  // object as read-only.
  bool IsFileReadOnly() const;
  int64_t GetFileCreated() const;
  int64_t GetFileModified() const;
  // Locks (lock true) or unlocks a byte range of the file; false on a
  // conflict. Locks belong to the file: any stream may release them.
  bool SetRangeLock(bool lock, int64_t offset, int64_t length);
  void Flush();
  // Pins the file to this stream: no other stream moves the file position
  // until Release, and reads and writes continue from the file's position
  // without seeking, so a run of consecutive pieces needs one positioning.
  void Acquire();
  void Release();

 private:
  // Puts the file position where this stream stands, unless pinned.
  void SyncFilePosition();
  // The file, or std::logic_error when the stream was detached.
  TBRNFile& OpenFile() const;
  // Counts a transfer and raises the file error for a failed or short one.
  int32_t CheckRead(int32_t done);
  int32_t CheckWrite(int32_t done, int32_t count);
};

}  // namespace brn

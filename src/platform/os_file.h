#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The engine's window on the operating system's files. Handles are file
// descriptors; every failing call returns its failure value and leaves the
// reason in errno, the calling thread's last OS error.
//
// Share modes are whole-file flock locks held for the life of a handle: a
// shared opening takes a shared lock, an exclusive opening an exclusive one,
// both without waiting, so an exclusive opening in one process makes every
// other opening fail with EBUSY, as a sharing violation does on the platform
// the engine was designed for. Byte-range locks are open-file-description
// locks, so they belong to an opening and never to the process.
//
// The calls taking a native path (const char*) allocate nothing and use only
// plain system calls, so a forked child may use them.

namespace brn {

using TOSFileHandle = int;
inline constexpr TOSFileHandle InvalidOSFileHandle = -1;

// A path as the engine writes it ('\' or '/' as separators) in the form the
// operating system takes ('/' only).
std::string OSNativePath(std::string_view path);

// Opens (Create false) or creates and truncates (Create true) a file; read-only
// openings cannot write. Exclusive refuses every other opening of the file for
// the life of the handle. The handle returned is always on the file that the
// path names once the share lock is held: an opening that a concurrent delete
// or replacement overtook is retried. InvalidOSFileHandle on failure.
TOSFileHandle OSOpenFile(const char* nativePath, bool create, bool readOnly, bool exclusive);
bool OSCloseFile(TOSFileHandle handle);

// Transfers at an absolute offset, resuming after interrupted or partial
// transfers; the bytes moved (fewer only at the end of the file for reads), or
// -1 on failure.
int64_t OSReadFileAt(TOSFileHandle handle, void* buffer, int64_t count, int64_t offset);
int64_t OSWriteFileAt(TOSFileHandle handle, const void* buffer, int64_t count, int64_t offset);

int64_t OSGetFileSize(TOSFileHandle handle);  // -1 on failure
bool OSSetFileSize(TOSFileHandle handle, int64_t size);
bool OSFlushFile(TOSFileHandle handle);

// Byte-range locks that never wait: a range that another opening holds (in
// this process or another) is refused at once with EAGAIN. Offset and Length
// must be non-negative with Offset + Length - 1 representable; Length 0 locks
// nothing and succeeds. Openings made read-only can take only shared range
// locks, which conflict with the ranges of writable openings but not with each
// other. Within one opening ranges must not overlap: the caller keeps its own
// list, as the system would merge them.
bool OSLockFileRange(TOSFileHandle handle, int64_t offset, int64_t length);
bool OSUnlockFileRange(TOSFileHandle handle, int64_t offset, int64_t length);

// Rename never replaces an existing target (EEXIST). Rename and delete refuse
// (EBUSY) a file that any opening holds, in this process or another, and they
// act only on the file that the name leads to while they hold it unused: a
// name replaced meanwhile is examined again, never taken from a holder.
bool OSRenameFile(const char* oldNativePath, const char* newNativePath);
bool OSDeleteFile(const char* nativePath);

// Makes the folder entries of the path's folder durable (fsync of the
// folder), so that a created or renamed file survives a crash under its name.
bool OSSyncDirectoryOf(const char* nativePath);

bool OSCreateDirectory(const char* nativePath);
bool OSRemoveDirectory(const char* nativePath);  // empty directories only

// A file time in local time, split into the fields of a timestamp.
struct TOSFileTime {
  int32_t Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0, MSecond = 0;
  bool Valid = false;  // false when the system does not record that time
};

struct TOSFileInfo {
  bool IsDirectory = false;
  bool ReadOnly = false;  // no write bit is set: the file's read-only attribute
  int64_t Size = 0;
  TOSFileTime Created;   // the birth time, where the file system keeps one
  TOSFileTime Modified;  // the last write
};

bool OSGetFileInfo(const char* nativePath, TOSFileInfo& info);
bool OSGetHandleInfo(TOSFileHandle handle, TOSFileInfo& info);

// File masks as the platform matches them: '*' any run of characters, '?' one
// character, a final ".*" also matches a name without a dot (so "*.*" matches
// every name); letters compare ignoring case.
bool OSMatchFileMask(std::string_view name, std::string_view mask);

// The names of the entries of a directory whose names match Mask (the text
// after the last separator of a mask path), without "." and "..".
struct TOSDirectoryEntry {
  std::string Name;
  bool IsDirectory = false;
};
bool OSListDirectory(std::string_view maskPath, std::vector<TOSDirectoryEntry>& entries);

}  // namespace brn

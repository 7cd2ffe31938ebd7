#include "platform/os_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace brn {

namespace {

// Takes the share-mode lock of a fresh opening; a conflict is a sharing
// violation (EBUSY), not a reason to wait.
bool takeShareLock(int fd, bool exclusive) {
  int result;
  do {
    result = flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result == 0) return true;
  if (errno == EWOULDBLOCK) errno = EBUSY;
  return false;
}

void closeKeepingError(int fd) {
  int saved = errno;
  close(fd);
  errno = saved;
}

// Opens whose file was replaced under them are retried this often before
// the opening gives up as a sharing violation.
constexpr int kMaxOpenAttempts = 1000;

// 1 when the name leads to the open file (same device and inode, and the
// file still has a link), 0 when it leads elsewhere or nowhere, -1 with
// errno when the name cannot be examined for another reason.
int namesOpenFile(const char* nativePath, int fd) {
  struct stat opened, named;
  if (fstat(fd, &opened) != 0) return -1;
  if (opened.st_nlink == 0) return 0;
  if (stat(nativePath, &named) != 0) return errno == ENOENT ? 0 : -1;
  return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino ? 1 : 0;
}

// Opens the file and takes an exclusive share lock, to learn that no other
// opening holds it. -1 with EBUSY when one does; -1 with the open's error when
// the file cannot be opened at all; -2 when it exists but cannot be probed
// (no read permission), in which case the caller goes on unprotected. The
// probe is always on the file the name leads to, so the name cannot be
// taken from under a holder while the probe lasts: another process would
// need this lock to delete or rename the file.
int probeUnused(const char* nativePath) {
  for (int attempt = 0;; ++attempt) {
    int fd = open(nativePath, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return errno == EACCES ? -2 : -1;
    if (!takeShareLock(fd, true)) {
      closeKeepingError(fd);
      return -1;
    }
    int identity = namesOpenFile(nativePath, fd);
    if (identity == 1) return fd;
    closeKeepingError(fd);
    if (identity < 0) return -1;
    if (attempt >= kMaxOpenAttempts) {
      errno = EBUSY;
      return -1;
    }
  }
}

bool validRange(int64_t offset, int64_t length) {
  if (offset < 0 || length < 0 || (length > 0 && offset > INT64_MAX - (length - 1))) {
    errno = EINVAL;
    return false;
  }
  return true;
}

bool setRangeLock(int fd, short type, int64_t offset, int64_t length) {
  struct flock range = {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = offset;
  range.l_len = length;
  range.l_pid = 0;
  int result;
  do {
    result = fcntl(fd, F_OFD_SETLK, &range);
  } while (result != 0 && errno == EINTR);
  if (result == 0) return true;
  if (errno == EACCES) errno = EAGAIN;
  return false;
}

TOSFileTime splitTime(const struct statx_timestamp& stamp) {
  TOSFileTime result;
  time_t seconds = static_cast<time_t>(stamp.tv_sec);
  struct tm local = {};
  if (localtime_r(&seconds, &local) == nullptr) return result;
  result.Year = local.tm_year + 1900;
  result.Month = local.tm_mon + 1;
  result.Day = local.tm_mday;
  result.Hour = local.tm_hour;
  result.Minute = local.tm_min;
  result.Second = local.tm_sec > 59 ? 59 : local.tm_sec;  // leap seconds
  result.MSecond = static_cast<int32_t>(stamp.tv_nsec / 1000000);
  result.Valid = true;
  return result;
}

bool infoFromStatx(int dirFd, const char* path, int flags, TOSFileInfo& info) {
  struct statx data = {};
  if (statx(dirFd, path, flags, STATX_BASIC_STATS | STATX_BTIME, &data) != 0) return false;
  info = TOSFileInfo();
  info.IsDirectory = S_ISDIR(data.stx_mode);
  info.ReadOnly = (data.stx_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
  info.Size = info.IsDirectory ? 0 : static_cast<int64_t>(data.stx_size);
  if (data.stx_mask & STATX_BTIME) info.Created = splitTime(data.stx_btime);
  if (data.stx_mask & STATX_MTIME) info.Modified = splitTime(data.stx_mtime);
  return true;
}

char foldCase(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// '*' and '?' matching with backtracking to the most recent '*'.
bool matchMask(std::string_view name, std::string_view mask) {
  size_t n = 0, m = 0;
  size_t starMask = std::string_view::npos, starName = 0;
  while (n < name.size()) {
    if (m < mask.size() && (mask[m] == '?' || foldCase(mask[m]) == foldCase(name[n]))) {
      ++n;
      ++m;
    } else if (m < mask.size() && mask[m] == '*') {
      starMask = m++;
      starName = n;
    } else if (starMask != std::string_view::npos) {
      m = starMask + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

}  // namespace

std::string OSNativePath(std::string_view path) {
  std::string result(path);
  for (char& c : result) {
    if (c == '\\') c = '/';
  }
  return result;
}

TOSFileHandle OSOpenFile(const char* nativePath, bool create, bool readOnly, bool exclusive) {
  int flags = (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC | O_NOCTTY;
  if (create) flags |= O_CREAT;
  for (int attempt = 0;; ++attempt) {
    int fd;
    do {
      fd = open(nativePath, flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return InvalidOSFileHandle;
    struct stat data;
    if (fstat(fd, &data) != 0) {
      closeKeepingError(fd);
      return InvalidOSFileHandle;
    }
    if (S_ISDIR(data.st_mode)) {
      close(fd);
      errno = EISDIR;
      return InvalidOSFileHandle;
    }
    // The share lock comes before truncation, so that creating over a file
    // that another process holds leaves its contents alone.
    if (!takeShareLock(fd, exclusive)) {
      closeKeepingError(fd);
      return InvalidOSFileHandle;
    }
    // Between open and the lock another process may have deleted the file
    // (a deleter holds the exclusive lock only while it unlinks) or put a new
    // one in its place: the lock would then guard a file nobody else can
    // reach. Only a handle on the file that the name still leads to counts.
    int identity = namesOpenFile(nativePath, fd);
    if (identity < 0) {
      closeKeepingError(fd);
      return InvalidOSFileHandle;
    }
    if (identity == 0) {
      close(fd);
      if (attempt < kMaxOpenAttempts) continue;
      errno = EBUSY;
      return InvalidOSFileHandle;
    }
    if (create && ftruncate(fd, 0) != 0) {
      closeKeepingError(fd);
      return InvalidOSFileHandle;
    }
    return fd;
  }
}

bool OSCloseFile(TOSFileHandle handle) {
  // The descriptor is gone even when close reports an error; never retry.
  return close(handle) == 0;
}

int64_t OSReadFileAt(TOSFileHandle handle, void* buffer, int64_t count, int64_t offset) {
  if (count < 0 || offset < 0) {
    errno = EINVAL;
    return -1;
  }
  auto* bytes = static_cast<char*>(buffer);
  int64_t done = 0;
  while (done < count) {
    ssize_t got = pread(handle, bytes + done, static_cast<size_t>(count - done), offset + done);
    if (got < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

int64_t OSWriteFileAt(TOSFileHandle handle, const void* buffer, int64_t count, int64_t offset) {
  if (count < 0 || offset < 0 || offset > INT64_MAX - count) {
    errno = EINVAL;
    return -1;
  }
  const auto* bytes = static_cast<const char*>(buffer);
  int64_t done = 0;
  while (done < count) {
    ssize_t put = pwrite(handle, bytes + done, static_cast<size_t>(count - done), offset + done);
    if (put < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (put == 0) {
      errno = EIO;
      return -1;
    }
    done += put;
  }
  return done;
}

int64_t OSGetFileSize(TOSFileHandle handle) {
  struct stat data;
  if (fstat(handle, &data) != 0) return -1;
  return static_cast<int64_t>(data.st_size);
}

bool OSSetFileSize(TOSFileHandle handle, int64_t size) {
  if (size < 0) {
    errno = EINVAL;
    return false;
  }
  int result;
  do {
    result = ftruncate(handle, size);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

bool OSFlushFile(TOSFileHandle handle) {
  return fdatasync(handle) == 0;
}

bool OSLockFileRange(TOSFileHandle handle, int64_t offset, int64_t length) {
  if (!validRange(offset, length)) return false;
  if (length == 0) return true;  // for fcntl a length of 0 would mean "to infinity"
  // A handle open for writing takes the exclusive lock; one open read-only
  // cannot (EBADF) and takes the shared lock instead. Trying first spares a
  // system call asking for the access mode on every lock, and table reads
  // lock at every step.
  if (setRangeLock(handle, F_WRLCK, offset, length)) return true;
  if (errno != EBADF) return false;
  return setRangeLock(handle, F_RDLCK, offset, length);
}

bool OSUnlockFileRange(TOSFileHandle handle, int64_t offset, int64_t length) {
  if (!validRange(offset, length)) return false;
  if (length == 0) return true;
  return setRangeLock(handle, F_UNLCK, offset, length);
}

bool OSRenameFile(const char* oldNativePath, const char* newNativePath) {
  int probe = probeUnused(oldNativePath);
  if (probe == -1) return false;
  int result = renameat2(AT_FDCWD, oldNativePath, AT_FDCWD, newNativePath, RENAME_NOREPLACE);
  if (result != 0 && errno == EINVAL) {
    // A file system without the no-replace flag: link refuses an existing
    // target just as well (files only).
    result = link(oldNativePath, newNativePath);
    if (result == 0 && unlink(oldNativePath) != 0) {
      int saved = errno;
      unlink(newNativePath);
      errno = saved;
      result = -1;
    }
  }
  if (probe >= 0) closeKeepingError(probe);
  return result == 0;
}

bool OSDeleteFile(const char* nativePath) {
  int probe = probeUnused(nativePath);
  if (probe == -1) return false;
  int result = unlink(nativePath);
  if (probe >= 0) closeKeepingError(probe);
  return result == 0;
}

bool OSSyncDirectoryOf(const char* nativePath) {
  // The folder part of the path, in a fixed buffer: nothing is allocated.
  char folder[PATH_MAX];
  const char* slash = strrchr(nativePath, '/');
  if (slash == nullptr) {
    folder[0] = '.';
    folder[1] = '\0';
  } else {
    size_t length = slash == nativePath ? 1 : size_t(slash - nativePath);
    if (length >= sizeof folder) {
      errno = ENAMETOOLONG;
      return false;
    }
    memcpy(folder, nativePath, length);
    folder[length] = '\0';
  }
  int fd;
  do {
    fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  int result = fsync(fd);
  // Some file systems cannot sync a folder at all; there is nothing more to
  // make durable on them.
  if (result != 0 && (errno == EINVAL || errno == EROFS)) result = 0;
  closeKeepingError(fd);
  return result == 0;
}

bool OSCreateDirectory(const char* nativePath) {
  return mkdir(nativePath, 0777) == 0;
}

bool OSRemoveDirectory(const char* nativePath) {
  return rmdir(nativePath) == 0;
}

bool OSGetFileInfo(const char* nativePath, TOSFileInfo& info) {
  return infoFromStatx(AT_FDCWD, nativePath, 0, info);
}

bool OSGetHandleInfo(TOSFileHandle handle, TOSFileInfo& info) {
  return infoFromStatx(handle, "", AT_EMPTY_PATH, info);
}

bool OSMatchFileMask(std::string_view name, std::string_view mask) {
  if (matchMask(name, mask)) return true;
  // "name.*" also finds "name", so "*.*" finds every file.
  if (mask.size() >= 2 && mask.substr(mask.size() - 2) == ".*" &&
      name.find('.') == std::string_view::npos) {
    return matchMask(name, mask.substr(0, mask.size() - 2));
  }
  return false;
}

bool OSListDirectory(std::string_view maskPath, std::vector<TOSDirectoryEntry>& entries) {
  std::string native = OSNativePath(maskPath);
  size_t slash = native.rfind('/');
  std::string directory, mask;
  if (slash == std::string::npos) {
    directory = ".";
    mask = native;
  } else {
    directory = slash == 0 ? "/" : native.substr(0, slash);
    mask = native.substr(slash + 1);
  }
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) return false;
  while (struct dirent* entry = readdir(dir)) {
    std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    if (!OSMatchFileMask(name, mask)) continue;
    bool isDirectory = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
      struct stat data;
      std::string full = directory + "/" + std::string(name);
      isDirectory = stat(full.c_str(), &data) == 0 && S_ISDIR(data.st_mode);
    }
    entries.push_back({std::string(name), isDirectory});
  }
  closedir(dir);
  return true;
}

}  // namespace brn

#pragma once

#include <cerrno>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/files/memory_file_manager.h"

namespace brn {

// What an armed fault does to the call it hits.
enum class TBRNFaultAction : uint8_t {
  FailWrite,    // the write stores nothing and fails with ErrorCode
  ShortWrite,   // the write stores and reports only its first KeptBytes bytes
  FailFlush,    // the flush fails with ErrorCode
  FailSetSize,  // the size change fails with ErrorCode, leaving the size as it was
  FailRead      // the read reads nothing and fails with ErrorCode
};

// One fault to inject. Calls are counted per fault from the moment it is
// armed, over the calls of its kind (writes for FailWrite and ShortWrite,
// reads for FailRead) on the files it applies to.
struct TBRNFileFault {
  TBRNFaultAction Action = TBRNFaultAction::FailWrite;
  int32_t Nth = 1;             // the first call hit, 1-based
  bool Persistent = false;     // also every later call (a full disk stays full)
  int32_t ErrorCode = ENOSPC;  // the system error the failing call reports
  int32_t KeptBytes = 0;       // ShortWrite: bytes stored, less than the count
  std::string FileName;        // the file's full name; empty: every file
};

// In-memory files that fail on command, for fault and crash tests: the files
// behave exactly as memory files until an armed fault hits a call. Failing
// writes and reads return -1 with errno set, short writes return the kept
// count (the file stream turns these into the file error), failing flushes
// and size changes raise the file error with the system's text of
// ErrorCode. Arming, disarming and the counters may be used from any thread
// while files are in use.
class TBRNFaultFileManager : public TBRNMemoryFileManager {
 public:
  explicit TBRNFaultFileManager(TBRNEnvironment* environment)
      : TBRNMemoryFileManager(environment) {}

  TBRNFile* CreateFileObject() override;

  void Arm(const TBRNFileFault& fault);
  // Shorthands for the common faults on every file.
  void FailWrite(int32_t nth, int32_t errorCode = ENOSPC, bool persistent = false);
  void ShortWrite(int32_t nth, int32_t keptBytes);
  void FailFlush(int32_t nth, int32_t errorCode = EIO, bool persistent = false);
  void FailRead(int32_t nth, int32_t errorCode = EIO);
  // Removes every armed fault; the counters keep running.
  void Disarm();

  // Calls seen on all files since the manager was made, and the calls that a
  // fault hit.
  int32_t WriteCount() const;
  int32_t FlushCount() const;
  int32_t ReadCount() const;
  int32_t InjectedCount() const;

 private:
  friend class TBRNFaultFile;
  enum class Call : uint8_t { Write, Flush, SetSize, Read };

  // Counts one call of a file and returns the fault that hits it, if any.
  bool NextCallFails(Call call, const std::string& fileName, TBRNFileFault& hit);

  struct Armed {
    TBRNFileFault Fault;
    int32_t Seen = 0;
    bool Spent = false;
  };

  mutable std::mutex mutex_;  // guards everything below; taken last, never held across calls
  std::vector<Armed> armed_;
  int32_t writes_ = 0, flushes_ = 0, reads_ = 0, injected_ = 0;
};

// A memory file that asks its manager before each read, write, flush and
// size change.
class TBRNFaultFile final : public TBRNMemoryFile {
 public:
  explicit TBRNFaultFile(TBRNFaultFileManager* manager)
      : TBRNMemoryFile(manager), faults_(manager) {}

  void SetSize(int64_t size) override;
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  void Flush() override;

 private:
  TBRNFaultFileManager* faults_;
};

}  // namespace brn

#pragma once

#include <atomic>
#include <cstdint>

#include "platform/threads.h"

namespace brn {

// A re-entrant lock: the thread that holds it may enter again and must leave
// as often as it entered. lock/unlock let std::lock_guard hold it for a scope.
// Any thread may enter; only the holder leaves.
class TBRNCriticalSection {
 public:
  TBRNCriticalSection() = default;
  TBRNCriticalSection(const TBRNCriticalSection&) = delete;
  TBRNCriticalSection& operator=(const TBRNCriticalSection&) = delete;

  void Enter() { Section.Enter(); }
  void Leave() { Section.Leave(); }

  void lock() { Enter(); }
  void unlock() { Leave(); }

 private:
  TPlatformCriticalSection Section;
};

// A reader/writer spin lock on one counter (0 free, n readers, -1 a writer).
// Waiting is by sleeping WaitMs between attempts; nothing queues, and neither
// side is favoured: readers keep entering while a writer waits. Every method
// may be called from several threads at once; EndRead and EndWrite only by a
// thread that holds the section for reading or writing.
class TBRNReadWriteSection {
 public:
  TBRNReadWriteSection() = default;
  TBRNReadWriteSection(const TBRNReadWriteSection&) = delete;
  TBRNReadWriteSection& operator=(const TBRNReadWriteSection&) = delete;

  bool BeginRead(int32_t WaitMs);
  bool EndRead();
  bool BeginWrite(int32_t WaitMs);
  bool EndWrite();

  std::atomic<int32_t> Counter{0};
};

}  // namespace brn

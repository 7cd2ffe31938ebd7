#include "foundation/runtime/interlocked.h"

#include <cstdint>

#include "foundation/text/environment.h"
#include "platform/threads.h"

namespace brn {

int32_t CompareExchangeInteger(std::atomic<int32_t>& Target, int32_t NewValue, int32_t Comparand) {
  return PlatformCompareExchange(Target, NewValue, Comparand);
}

bool TryBeginReadCounter(std::atomic<int32_t>& Counter, uint32_t Tries, int32_t WaitMs) {
  while (Tries > 0) {
    int32_t value = Counter.load(std::memory_order_acquire);
    if (value >= 0) {
      // A lost race means another reader came or went: try again at once.
      if (value < INT32_MAX && CompareExchangeInteger(Counter, value + 1, value) == value) {
        return true;
      }
      if (value < INT32_MAX) continue;
    }
    if (Tries > 1) SleepMilliseconds(WaitMs);
    --Tries;
  }
  return false;
}

bool EndReadCounter(std::atomic<int32_t>& Counter) {
  for (;;) {
    int32_t value = Counter.load(std::memory_order_acquire);
    if (value <= 0) return false;
    if (CompareExchangeInteger(Counter, value - 1, value) == value) return true;
    SleepMilliseconds(0);
  }
}

bool TryBeginWriteCounter(std::atomic<int32_t>& Counter, uint32_t Tries, int32_t WaitMs) {
  while (Tries > 0) {
    if (Counter.load(std::memory_order_acquire) == 0 &&
        CompareExchangeInteger(Counter, -1, 0) == 0) {
      return true;
    }
    if (Tries > 1) SleepMilliseconds(WaitMs);
    --Tries;
  }
  return false;
}

bool EndWriteCounter(std::atomic<int32_t>& Counter) {
  if (Counter.load(std::memory_order_acquire) != -1) return false;
  Counter.store(0, std::memory_order_release);
  return true;
}

int32_t IncrementCounter(int32_t& Counter, int32_t Step) {
  int64_t next = int64_t(Counter) + Step;
  Counter = Counter == INT32_MAX || next > INT32_MAX ? Step : int32_t(next);
  return Counter;
}

int32_t AtomicIncrementCounter(std::atomic<int32_t>& Counter, int32_t RestartValue) {
  for (;;) {
    int32_t value = Counter.load(std::memory_order_acquire);
    int32_t next = value == INT32_MAX ? RestartValue : value + 1;
    bool swapped = CompareExchangeInteger(Counter, next, value) == value;
    SleepMilliseconds(0);
    if (swapped) return next;
  }
}

}  // namespace brn

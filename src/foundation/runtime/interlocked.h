#pragma once

#include <atomic>
#include <cstdint>

namespace brn {

// Counters shared between threads, changed by compare-exchange. A reader /
// writer counter is 0 when free, n > 0 while n readers hold it and -1 while
// one writer holds it.

// Stores NewValue when Target equals Comparand, atomically; returns the
// previous value of Target.
int32_t CompareExchangeInteger(std::atomic<int32_t>& Target, int32_t NewValue, int32_t Comparand);

// Up to Tries attempts to add a reader; while a writer holds the counter it
// sleeps WaitMs between attempts (not after the last one).
bool TryBeginReadCounter(std::atomic<int32_t>& Counter, uint32_t Tries, int32_t WaitMs);
// Removes a reader; false when the counter held no reader.
bool EndReadCounter(std::atomic<int32_t>& Counter);
// Up to Tries attempts to take the counter from 0 to -1, sleeping WaitMs
// between attempts (not after the last one).
bool TryBeginWriteCounter(std::atomic<int32_t>& Counter, uint32_t Tries, int32_t WaitMs);
// Releases the writer; false when no writer held the counter.
bool EndWriteCounter(std::atomic<int32_t>& Counter);

// Not atomic: Counter + Step, restarting at Step where the sum would pass
// 2147483647 (identifiers and change counters stay positive). Returns the new
// value.
int32_t IncrementCounter(int32_t& Counter, int32_t Step);
// Atomic Counter + 1, a counter at 2147483647 becoming RestartValue; returns
// the new value.
int32_t AtomicIncrementCounter(std::atomic<int32_t>& Counter, int32_t RestartValue);

}  // namespace brn

#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace brn {

// The thread and synchronisation primitives of the operating system as the
// engine expects them: pthreads underneath. Functions return 0 on success or
// the errno code of the failure.

// Wait time meaning "no time-out".
inline constexpr uint32_t PlatformInfinite = 0xFFFFFFFFu;

using TPlatformThreadRoutine = int32_t (*)(void* argument);

// An OS thread; owned by whoever created it until PlatformCloseThread.
struct TPlatformThread;

// Creates an OS thread running routine(argument). A thread created suspended
// runs nothing until its first PlatformResumeThread. threadId is the kernel's
// id of the new thread.
int PlatformCreateThread(TPlatformThreadRoutine routine, void* argument, bool suspended,
                         TPlatformThread*& thread, uint32_t& threadId);
// Lets a suspended thread start; nothing for a running one.
int PlatformResumeThread(TPlatformThread* thread);
// Platform priority from -15 (idle) to 15 (time critical). Only priorities
// below normal take effect, through the thread's nice value; raising a
// thread above the process is not done, and failures are ignored.
int PlatformSetThreadPriority(TPlatformThread* thread, int32_t priority);
// Waits for the thread to end and gives its routine's result. Several waits
// (also from several threads) all get the result; a thread waiting for itself
// gets EDEADLK.
int PlatformWaitForThread(TPlatformThread* thread, int32_t& exitCode);
// Releases the handle; a thread still running goes on and cleans up itself.
void PlatformCloseThread(TPlatformThread* thread);

// A re-entrant lock: the thread holding it may enter again and leaves it as
// often as it entered.
class TPlatformCriticalSection {
 public:
  void Enter() { mutex.lock(); }
  bool TryEnter() { return mutex.try_lock(); }
  void Leave() { mutex.unlock(); }

 private:
  std::recursive_mutex mutex;
};

// An auto-reset event: a signal releases one waiter (or the next one to
// wait) and resets itself; signals do not accumulate.
struct TPlatformEvent;

int PlatformCreateEvent(TPlatformEvent*& event);
int PlatformSetEvent(TPlatformEvent* event);
// true when the event was signalled within ms milliseconds (PlatformInfinite:
// no time-out).
bool PlatformWaitForEvent(TPlatformEvent* event, uint32_t ms);
void PlatformCloseEvent(TPlatformEvent* event);

// Stores newValue in target when target equals comparand, as one atomic step;
// returns the value target held before.
inline int32_t PlatformCompareExchange(std::atomic<int32_t>& target, int32_t newValue,
                                       int32_t comparand) {
  target.compare_exchange_strong(comparand, newValue, std::memory_order_acq_rel,
                                 std::memory_order_acquire);
  return comparand;
}

}  // namespace brn

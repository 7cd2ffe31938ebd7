#include "foundation/thread_timer.h"

#include "foundation/event.h"
#include "foundation/numeric_helpers.h"
#include "platform/threads.h"

namespace brn {

TBRNTimerThread::TBRNTimerThread(TBRNThreadTimer* Timer, int32_t Interval)
    : Timer(Timer), Interval(Interval) {
  SetPriority(2);
  FreeOnTerminate = false;
  Event = new TBRNEvent;
  try {
    Resume();
  } catch (...) {
    DisposeAndNil(Event);
    throw;
  }
}

TBRNTimerThread::~TBRNTimerThread() {
  // The event must outlive the thread that waits on it.
  if (Created && !Finished && ThreadID != PlatformCurrentThreadId()) {
    Stop();
    int32_t exitCode = 0;
    PlatformWaitForThread(Handle, exitCode);
  }
  DisposeAndNil(Event);
}

void TBRNTimerThread::Execute() {
  while (!Terminated) {
    bool signalled = Event->WaitFor(Interval);
    if (Terminated) break;
    if (signalled) {
      Terminate();
    } else {
      Timer->DoTimer();
    }
  }
}

void TBRNTimerThread::Stop() {
  Terminate();
  while (Suspended) Resume();
  Event->Signal();
}

TBRNThreadTimer::TBRNThreadTimer() = default;

TBRNThreadTimer::~TBRNThreadTimer() {
  {
    std::lock_guard lock(Mutex);
    Enabled = false;
  }
  UpdateTimer();
  // Destroyed from its own callback: the thread that runs the callback is
  // stopped and frees itself once the callback returns.
  if (Stopped != nullptr) Stopped->FreeOnTerminate = true;
}

void TBRNThreadTimer::UpdateTimer() {
  uint32_t self = PlatformCurrentThreadId();
  TBRNTimerThread* ended[2] = {nullptr, nullptr};
  {
    std::lock_guard lock(Mutex);
    if (Thread != nullptr) {
      Thread->Stop();
      if (Thread->ThreadID == self) {
        if (Stopped != nullptr && Stopped != Thread) ended[0] = Stopped;
        Stopped = Thread;
      } else {
        ended[0] = Thread;
      }
      Thread = nullptr;
    }
    if (Stopped != nullptr && Stopped->ThreadID != self) {
      ended[1] = Stopped;
      Stopped = nullptr;
    }
  }
  // Waited for without the lock, so that a callback still running on them
  // can change the timer meanwhile.
  for (TBRNTimerThread*& thread : ended) {
    if (thread == nullptr) continue;
    thread->WaitFor();
    DisposeAndNil(thread);
  }
  std::lock_guard lock(Mutex);
  if (Thread == nullptr && Interval != 0 && Enabled && OnTimer) {
    Thread = new TBRNTimerThread(this, Interval);
  }
}

void TBRNThreadTimer::SetEnabled(bool Value) {
  {
    std::lock_guard lock(Mutex);
    if (Enabled == Value) return;
    Enabled = Value;
  }
  UpdateTimer();
}

void TBRNThreadTimer::SetInterval(int32_t Ms) {
  {
    std::lock_guard lock(Mutex);
    if (Interval == Ms) return;
    Interval = Ms;
  }
  UpdateTimer();
}

void TBRNThreadTimer::SetOnTimer(TTimerNotify Callback) {
  {
    std::lock_guard lock(Mutex);
    OnTimer = std::move(Callback);
  }
  UpdateTimer();
}

bool TBRNThreadTimer::GetEnabled() const {
  std::lock_guard lock(Mutex);
  return Enabled;
}

int32_t TBRNThreadTimer::GetInterval() const {
  std::lock_guard lock(Mutex);
  return Interval;
}

bool TBRNThreadTimer::HasThread() const {
  std::lock_guard lock(Mutex);
  return Thread != nullptr;
}

void TBRNThreadTimer::DoTimer() {
  TTimerNotify callback;
  {
    std::lock_guard lock(Mutex);
    callback = OnTimer;
  }
  if (callback) callback(this);
}

}  // namespace brn

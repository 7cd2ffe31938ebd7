#include "foundation/runtime/thread_timer.h"

#include "foundation/runtime/event.h"
#include "foundation/core/numeric_helpers.h"

namespace brn {

namespace {
// The timer thread running on this OS thread, if any.
thread_local TBRNTimerThread* currentTimerThread = nullptr;
}  // namespace

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
  if (Created && !Finished) Stop();
  TerminateAndWait();
  DisposeAndNil(Event);
}

void TBRNTimerThread::Execute() {
  currentTimerThread = this;
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
    BeingDestroyed = true;
  }
  UpdateTimer(true);
  // Destroyed from its own callback: all that is left is the thread running
  // that callback, which frees itself once the callback returns.
  for (TBRNTimerThread* thread : Stopped) thread->FreeOnTerminate = true;
}

void TBRNThreadTimer::UpdateTimer(bool Destroying) {
  TBRNTimerThread* self = currentTimerThread;
  std::vector<TBRNTimerThread*> ended;
  {
    std::lock_guard lock(Mutex);
    if (Thread != nullptr) {
      Thread->Stop();
      Stopped.push_back(Thread);
      Thread = nullptr;
    }
    // Only the calling thread itself and, from a timer thread, timer threads
    // still running stay behind; a finished thread no longer waits for anyone.
    std::erase_if(Stopped, [&](TBRNTimerThread* thread) {
      if (thread == self) return false;
      if (self != nullptr && !Destroying && !thread->Finished) return false;
      ended.push_back(thread);
      return true;
    });
  }
  // Waited for without the lock, so that a callback still running on them
  // can change the timer meanwhile.
  for (TBRNTimerThread*& thread : ended) {
    thread->WaitFor();
    DisposeAndNil(thread);
  }
  if (Destroying) return;
  std::lock_guard lock(Mutex);
  if (Thread == nullptr && !BeingDestroyed && Interval != 0 && Enabled && OnTimer) {
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

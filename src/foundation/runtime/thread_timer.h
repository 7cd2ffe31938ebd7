#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "foundation/runtime/thread.h"

namespace brn {

class TBRNEvent;
class TBRNThreadTimer;

// A periodic callback that runs on a thread of its own, created while the
// timer is enabled, has a non-zero Interval and an OnTimer callback.
//
// The timer may be changed or destroyed from its own callback. A timer thread
// never waits for itself, nor for another timer thread that is still running
// (two callbacks could otherwise wait for each other): such threads are told
// to stop and kept aside until they have ended. They are waited for by the
// next change made outside timer threads, by a timer thread once they have
// finished, or by the destructor; a timer destroyed from its callback leaves
// the thread running that callback to free itself.
//
// Every method may be called from several threads at once; the timer's
// mutex serialises them.
class TBRNThreadTimer {
 public:
  using TTimerNotify = std::function<void(TBRNThreadTimer* Sender)>;

  TBRNThreadTimer();
  virtual ~TBRNThreadTimer();
  TBRNThreadTimer(const TBRNThreadTimer&) = delete;
  TBRNThreadTimer& operator=(const TBRNThreadTimer&) = delete;

  void SetEnabled(bool Value);
  void SetInterval(int32_t Ms);
  void SetOnTimer(TTimerNotify Callback);
  bool GetEnabled() const;
  int32_t GetInterval() const;
  // Whether a timer thread is running for the timer now.
  bool HasThread() const;

  // Calls OnTimer; runs on the timer thread.
  void DoTimer();

 private:
  friend class TBRNTimerThread;
  void UpdateTimer() { UpdateTimer(false); }
  void UpdateTimer(bool Destroying);

  mutable std::mutex Mutex;
  int32_t Interval = 1000;
  class TBRNTimerThread* Thread = nullptr;
  TTimerNotify OnTimer;
  bool Enabled = false;
  bool BeingDestroyed = false;
  // Timer threads told to stop but not yet waited for.
  std::vector<class TBRNTimerThread*> Stopped;
};

// The thread of a TBRNThreadTimer: every Interval milliseconds without a
// signal of its event it calls the timer's DoTimer; a signal ends it. Only
// its timer creates, stops and frees it, under the timer's mutex; Execute
// alone runs on the thread.
class TBRNTimerThread : public TBRNThread {
 public:
  TBRNTimerThread(TBRNThreadTimer* Timer, int32_t Interval);
  ~TBRNTimerThread() override;

  void Stop();

  TBRNEvent* Event = nullptr;
  TBRNThreadTimer* Timer = nullptr;
  int32_t Interval = 0;

 protected:
  void Execute() override;
};

}  // namespace brn

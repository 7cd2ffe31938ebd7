#pragma once

#include <cstdint>
#include <functional>
#include <mutex>

#include "foundation/thread.h"

namespace brn {

class TBRNEvent;
class TBRNThreadTimer;

// A periodic callback that runs on a thread of its own, created while the
// timer is enabled, has a non-zero Interval and an OnTimer callback.
//
// The timer may be changed or destroyed from its own callback: the running
// timer thread is then told to stop but not waited for (a thread cannot wait
// for itself); it ends when the callback returns and is reclaimed by the
// timer's next change from another thread, or frees itself when the timer is
// destroyed from its callback.
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
  void UpdateTimer();

  mutable std::mutex Mutex;
  int32_t Interval = 1000;
  class TBRNTimerThread* Thread = nullptr;
  TTimerNotify OnTimer;
  bool Enabled = false;
  // A timer thread stopped from its own callback, not yet waited for.
  class TBRNTimerThread* Stopped = nullptr;
};

// The thread of a TBRNThreadTimer: every Interval milliseconds without a
// signal of its event it calls the timer's DoTimer; a signal ends it.
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

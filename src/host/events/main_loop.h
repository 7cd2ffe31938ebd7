#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace brn {

// The main thread's loop when the host runs without a window: it waits on a
// condition for queued calls, a wake-up or the quit request, runs the
// queued calls in order and then the idle handler. Any thread may post; Run
// is called by one thread, the main thread. A window toolkit's loop takes
// its place by overriding every operation.
class TBRNMainLoop {
 public:
  using TBRNIdleHandler = std::function<void()>;

  virtual ~TBRNMainLoop() = default;

  // Queues a call to run on the main thread. Safe from any thread.
  virtual void PostCall(std::function<void()> call);
  // Ends Run after the calls queued so far. Safe from any thread.
  virtual void PostQuit();
  // Ends the current wait so that the idle handler runs. Safe from any
  // thread.
  virtual void Wake();

  // Installs the handler run after every wait; returns the previous one.
  // Main thread only.
  virtual TBRNIdleHandler SetIdleHandler(TBRNIdleHandler handler);

  // Runs until PostQuit; returns at once when the quit was posted before.
  virtual void Run();
  virtual bool Terminated() const;

 private:
  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> calls_;
  bool woken_ = false;
  bool quit_ = false;
  TBRNIdleHandler idle_;
};

// Turns SIGINT and SIGTERM into PostQuit of a loop: the signal handlers
// write to a pipe that a thread of this object reads. One instance at a
// time; the old handlers are put back by the destructor.
class TBRNStopSignals {
 public:
  explicit TBRNStopSignals(TBRNMainLoop& loop);
  ~TBRNStopSignals();
  TBRNStopSignals(const TBRNStopSignals&) = delete;
  TBRNStopSignals& operator=(const TBRNStopSignals&) = delete;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace brn

#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace brn {

struct TPlatformThread;
class TBRNThread;

// A callback that receives the object that fires it.
using TBRNThreadNotify = std::function<void(TBRNThread* Sender)>;

// A worker thread: a subclass puts its work in Execute, which polls
// Terminated. No running thread is ever suspended.
//
// A C++ base constructor cannot start a thread that calls the subclass's
// Execute (the subclass is not built yet), so every thread object starts
// suspended: its OS thread is created by the Resume that brings SuspendCount
// to 0. A subclass that runs at once calls Resume at the end of its own
// constructor. For the same reason the base destructor is too late to wait
// for an Execute that uses the subclass's members: such a subclass calls
// TerminateAndWait in its own destructor.
//
// Terminate and WaitFor may be called from any thread, also several at once,
// and Suspended, Terminated and Finished may be read from any thread.
// Resume, SetPriority and destruction belong to the one thread that controls
// the object (the thread itself destroys an object with FreeOnTerminate).
class TBRNThread {
 public:
  TBRNThread();
  virtual ~TBRNThread();
  TBRNThread(const TBRNThread&) = delete;
  TBRNThread& operator=(const TBRNThread&) = delete;

  // Starts the thread when this was the last outstanding Resume.
  void Resume();
  // Index 0..6 into the priority table (idle .. time critical; 3 is normal).
  void SetPriority(uint8_t Index);
  // Asks Execute to end; subclasses also wake the thread.
  virtual void Terminate();
  // Waits without time-out for the thread to end; returns its exit code.
  int32_t WaitFor();
  // Raises "Thread error: <system text> (<code>)" for a non-zero OS error.
  static void CheckThreadError(int32_t Code);

  TPlatformThread* Handle = nullptr;
  uint32_t ThreadID = 0;
  uint8_t Priority = 3;
  bool CreateSuspended = true;
  std::atomic<bool> Suspended{true};
  bool Created = false;
  int32_t SuspendCount = 1;
  std::atomic<bool> Terminated{false};
  // Read by the thread when Execute has ended: set it before Resume, or from
  // the thread itself.
  bool FreeOnTerminate = false;
  std::atomic<bool> Finished{false};
  // Set by Execute; the exit code of the OS thread.
  int32_t ReturnValue = 0;
  // Fired on the thread when it ends.
  TBRNThreadNotify OnTerminate;

 protected:
  virtual void DoTerminate();
  virtual void Execute() = 0;
  // When the OS thread runs and has not finished: Terminate and WaitFor.
  // Nothing when called on the thread itself, which cannot wait for itself.
  void TerminateAndWait();

 private:
  void StartThread();
  void ApplyPriority();
  static int32_t ThreadProc(void* Thread);
};

}  // namespace brn

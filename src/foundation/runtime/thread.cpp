#include "foundation/runtime/thread.h"

#include <stdexcept>

#include "foundation/text/environment.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "platform/system_info.h"
#include "platform/threads.h"

namespace brn {

namespace {

// Platform priority of each index: idle, lowest, below normal, normal, above
// normal, highest, time critical.
constexpr int32_t PriorityTable[7] = {-15, -2, -1, 0, 1, 2, 15};

}  // namespace

TBRNThread::TBRNThread() = default;

TBRNThread::~TBRNThread() {
  TerminateAndWait();
  PlatformCloseThread(Handle);
  Handle = nullptr;
}

void TBRNThread::TerminateAndWait() {
  if (Handle == nullptr || !Created || Finished || ThreadID == SystemThreadId()) return;
  Terminate();
  int32_t exitCode = 0;
  PlatformWaitForThread(Handle, exitCode);
}

void TBRNThread::StartThread() {
  TPlatformThread* handle = nullptr;
  uint32_t threadId = 0;
  // The OS thread waits until this object knows it: a thread that frees
  // itself must not end before its creator is done here.
  CheckThreadError(PlatformCreateThread(&TBRNThread::ThreadProc, this, true, handle, threadId));
  Handle = handle;
  ThreadID = threadId;
  Created = true;
  ApplyPriority();
  CheckThreadError(PlatformResumeThread(Handle));
}

void TBRNThread::Resume() {
  if (SuspendCount <= 0) return;
  --SuspendCount;
  if (SuspendCount > 0) return;
  if (!Created) {
    // Cleared first: once started, a thread that frees itself may be gone.
    Suspended = false;
    try {
      StartThread();
    } catch (...) {
      Suspended = true;
      ++SuspendCount;
      throw;
    }
    return;
  }
  CheckThreadError(PlatformResumeThread(Handle));
  Suspended = false;
}

void TBRNThread::SetPriority(uint8_t Index) {
  if (Index > 6) throw std::invalid_argument("Thread priority out of range");
  Priority = Index;
  if (Handle != nullptr) ApplyPriority();
}

void TBRNThread::ApplyPriority() {
  CheckThreadError(PlatformSetThreadPriority(Handle, PriorityTable[Priority]));
}

void TBRNThread::Terminate() {
  Terminated = true;
}

int32_t TBRNThread::WaitFor() {
  int32_t exitCode = 0;
  CheckThreadError(PlatformWaitForThread(Handle, exitCode));
  return exitCode;
}

void TBRNThread::CheckThreadError(int32_t Code) {
  if (Code == 0) return;
  throw std::runtime_error(
      FormatText("Thread error: %s (%s)", {OSErrorMessage(Code), IntegerToString(Code)}));
}

void TBRNThread::DoTerminate() {
  if (OnTerminate) OnTerminate(this);
}

int32_t TBRNThread::ThreadProc(void* Thread) {
  auto* thread = static_cast<TBRNThread*>(Thread);
  try {
    if (!thread->Terminated) thread->Execute();
  } catch (...) {
    // An exception escaping Execute ends the thread silently.
  }
  bool freeThread = thread->FreeOnTerminate;
  int32_t result = thread->ReturnValue;
  try {
    thread->DoTerminate();
  } catch (...) {
  }
  // After this the owner may free the object at any moment.
  thread->Finished = true;
  if (freeThread) delete thread;
  return result;
}

}  // namespace brn

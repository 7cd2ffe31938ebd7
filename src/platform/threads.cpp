#include "platform/threads.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>

#include "platform/system_info.h"

namespace brn {

namespace {

// What the creator and the thread itself share; it lives as long as either
// still refers to it, so a handle closed early never pulls it from under a
// running thread.
struct ThreadState {
  TPlatformThreadRoutine routine = nullptr;
  void* argument = nullptr;
  pthread_t pthread{};

  std::mutex mutex;
  std::condition_variable changed;
  bool released = false;  // the thread may run its routine
  bool started = false;   // the thread has published its id
  uint32_t threadId = 0;
  int baseNice = 0;  // nice value of the process: "normal" priority
  int wantedNice = 0;
  int32_t exitCode = 0;

  // Joining happens once; later waits read the stored result.
  std::mutex joinMutex;
  bool joined = false;
  bool detached = false;
};

// Niceness added for each platform priority below normal.
int niceOffset(int32_t priority) {
  if (priority >= 0) return 0;
  if (priority == -1) return 5;
  if (priority == -2) return 10;
  return 19;
}

void applyNice(ThreadState& state) {
  int nice = state.wantedNice > 19 ? 19 : state.wantedNice;
  // A failure (no right to raise a thread back) leaves the thread as it is.
  (void)setpriority(PRIO_PROCESS, static_cast<id_t>(state.threadId), nice);
}

void* threadEntry(void* argument) {
  auto* holder = static_cast<std::shared_ptr<ThreadState>*>(argument);
  std::shared_ptr<ThreadState> state = std::move(*holder);
  delete holder;
  {
    std::unique_lock lock(state->mutex);
    state->threadId = SystemThreadId();
    state->started = true;
    state->changed.notify_all();
    state->changed.wait(lock, [&] { return state->released; });
  }
  int32_t code = state->routine(state->argument);
  std::lock_guard lock(state->mutex);
  state->exitCode = code;
  return nullptr;
}

}  // namespace

struct TPlatformThread {
  std::shared_ptr<ThreadState> state;
};

int PlatformCreateThread(TPlatformThreadRoutine routine, void* argument, bool suspended,
                         TPlatformThread*& thread, uint32_t& threadId) {
  thread = nullptr;
  threadId = 0;
  if (routine == nullptr) return EINVAL;
  auto state = std::make_shared<ThreadState>();
  state->routine = routine;
  state->argument = argument;
  state->released = !suspended;
  // Normal is the process's priority, that of its main thread; the creating
  // thread may itself run below normal (a timer thread starting a job).
  errno = 0;
  int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
  state->baseNice = errno == 0 ? nice : 0;
  state->wantedNice = state->baseNice;

  auto* holder = new std::shared_ptr<ThreadState>(state);
  int error = pthread_create(&state->pthread, nullptr, threadEntry, holder);
  if (error != 0) {
    delete holder;
    return error;
  }
  {
    std::unique_lock lock(state->mutex);
    state->changed.wait(lock, [&] { return state->started; });
    threadId = state->threadId;
  }
  thread = new TPlatformThread{std::move(state)};
  return 0;
}

int PlatformResumeThread(TPlatformThread* thread) {
  if (thread == nullptr) return EINVAL;
  ThreadState& state = *thread->state;
  std::lock_guard lock(state.mutex);
  state.released = true;
  state.changed.notify_all();
  return 0;
}

int PlatformSetThreadPriority(TPlatformThread* thread, int32_t priority) {
  if (thread == nullptr) return EINVAL;
  ThreadState& state = *thread->state;
  std::lock_guard lock(state.mutex);
  state.wantedNice = state.baseNice + niceOffset(priority);
  applyNice(state);
  return 0;
}

int PlatformWaitForThread(TPlatformThread* thread, int32_t& exitCode) {
  exitCode = 0;
  if (thread == nullptr) return EINVAL;
  ThreadState& state = *thread->state;
  {
    // The id is published by the thread itself before anything can run on it.
    std::lock_guard lock(state.mutex);
    if (state.threadId == SystemThreadId()) return EDEADLK;
  }
  std::lock_guard joinLock(state.joinMutex);
  if (!state.joined) {
    if (state.detached) return EINVAL;
    int error = pthread_join(state.pthread, nullptr);
    if (error != 0) return error;
    state.joined = true;
  }
  std::lock_guard lock(state.mutex);
  exitCode = state.exitCode;
  return 0;
}

void PlatformCloseThread(TPlatformThread* thread) {
  if (thread == nullptr) return;
  {
    ThreadState& state = *thread->state;
    std::lock_guard joinLock(state.joinMutex);
    if (!state.joined && !state.detached) {
      pthread_detach(state.pthread);
      state.detached = true;
    }
  }
  delete thread;
}

struct TPlatformEvent {
  std::mutex mutex;
  std::condition_variable signalled;
  bool set = false;
};

int PlatformCreateEvent(TPlatformEvent*& event) {
  event = new TPlatformEvent;
  return 0;
}

int PlatformSetEvent(TPlatformEvent* event) {
  if (event == nullptr) return EINVAL;
  std::lock_guard lock(event->mutex);
  event->set = true;
  event->signalled.notify_one();
  return 0;
}

bool PlatformWaitForEvent(TPlatformEvent* event, uint32_t ms) {
  if (event == nullptr) return false;
  std::unique_lock lock(event->mutex);
  if (ms == PlatformInfinite) {
    event->signalled.wait(lock, [&] { return event->set; });
  } else if (!event->signalled.wait_for(lock, std::chrono::milliseconds(ms),
                                        [&] { return event->set; })) {
    return false;
  }
  event->set = false;
  return true;
}

void PlatformCloseEvent(TPlatformEvent* event) {
  delete event;
}

}  // namespace brn

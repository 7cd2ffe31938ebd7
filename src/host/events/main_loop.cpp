#include "host/events/main_loop.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace brn {

void TBRNMainLoop::PostCall(std::function<void()> call) {
  {
    std::lock_guard guard(lock_);
    calls_.push_back(std::move(call));
  }
  changed_.notify_one();
}

void TBRNMainLoop::PostQuit() {
  {
    std::lock_guard guard(lock_);
    quit_ = true;
  }
  changed_.notify_one();
}

void TBRNMainLoop::Wake() {
  {
    std::lock_guard guard(lock_);
    woken_ = true;
  }
  changed_.notify_one();
}

TBRNMainLoop::TBRNIdleHandler TBRNMainLoop::SetIdleHandler(TBRNIdleHandler handler) {
  std::swap(idle_, handler);
  return handler;
}

bool TBRNMainLoop::Terminated() const {
  std::lock_guard guard(lock_);
  return quit_;
}

void TBRNMainLoop::Run() {
  for (;;) {
    std::deque<std::function<void()>> calls;
    {
      std::unique_lock guard(lock_);
      changed_.wait(guard, [&] { return quit_ || woken_ || !calls_.empty(); });
      calls.swap(calls_);
      woken_ = false;
      if (quit_ && calls.empty()) return;
    }
    for (auto& call : calls) call();
    if (idle_) idle_();
  }
}

namespace {

// Read by the signal handler: lock-free, so safe there.
std::atomic<int> stopPipeWrite{-1};

extern "C" void StopSignalHandler(int) {
  int saved = errno;
  char byte = 1;
  [[maybe_unused]] ssize_t written = ::write(stopPipeWrite, &byte, 1);
  errno = saved;
}

}  // namespace

struct TBRNStopSignals::State {
  int pipe[2] = {-1, -1};
  struct sigaction oldInt {};
  struct sigaction oldTerm {};
  std::thread reader;
};

TBRNStopSignals::TBRNStopSignals(TBRNMainLoop& loop) : state_(std::make_unique<State>()) {
  if (stopPipeWrite >= 0) throw std::logic_error("TBRNStopSignals: one instance at a time");
  if (::pipe2(state_->pipe, O_CLOEXEC) != 0)
    throw std::system_error(errno, std::generic_category(), "pipe");
  stopPipeWrite = state_->pipe[1];
  struct sigaction action {};
  action.sa_handler = StopSignalHandler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, &state_->oldInt);
  ::sigaction(SIGTERM, &action, &state_->oldTerm);
  int readEnd = state_->pipe[0];
  state_->reader = std::thread([readEnd, &loop] {
    char byte = 0;
    for (;;) {
      ssize_t got = ::read(readEnd, &byte, 1);
      if (got < 0 && errno == EINTR) continue;
      // 0 is the destructor closing the pipe; 2 asks to stop reading.
      if (got <= 0 || byte == 2) return;
      loop.PostQuit();
    }
  });
}

TBRNStopSignals::~TBRNStopSignals() {
  ::sigaction(SIGINT, &state_->oldInt, nullptr);
  ::sigaction(SIGTERM, &state_->oldTerm, nullptr);
  char byte = 2;
  while (::write(state_->pipe[1], &byte, 1) < 0 && errno == EINTR) {
  }
  state_->reader.join();
  stopPipeWrite = -1;
  ::close(state_->pipe[0]);
  ::close(state_->pipe[1]);
}

}  // namespace brn

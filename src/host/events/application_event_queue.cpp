#include "host/events/application_event_queue.h"

#include "host/events/main_loop.h"

namespace brn {

TBRNApplicationEventQueue::TBRNApplicationEventQueue(TBRNMainLoop* loop)
    : loop_(loop), mainThread_(std::this_thread::get_id()) {
  if (loop_ != nullptr) savedIdle_ = loop_->SetIdleHandler([this] { Idle(); });
}

TBRNApplicationEventQueue::~TBRNApplicationEventQueue() {
  if (loop_ != nullptr) loop_->SetIdleHandler(std::move(savedIdle_));
  try {
    ProcessEvents();
  } catch (...) {
    // A destructor cannot report the handler's failure; the events left
    // are freed with the queue.
  }
}

void TBRNApplicationEventQueue::Post(std::unique_ptr<TBRNApplicationEvent> event) {
  {
    std::lock_guard guard(lock_);
    events_.push_back(std::move(event));
  }
  if (std::this_thread::get_id() == mainThread_) {
    ProcessEvents();
  } else {
    signalled_.store(true, std::memory_order_release);
    if (loop_ != nullptr) loop_->Wake();
  }
}

void TBRNApplicationEventQueue::Idle() {
  if (signalled_.exchange(false, std::memory_order_acq_rel)) ProcessEvents();
}

void TBRNApplicationEventQueue::ProcessEvents() {
  std::lock_guard guard(lock_);
  if (busy_) return;
  busy_ = true;
  struct ClearBusy {
    bool& busy;
    ~ClearBusy() { busy = false; }
  } clearBusy{busy_};
  if (!Handler) return;
  int offered = 0;
  while (!events_.empty()) {
    bool handled = false;
    Handler(*events_.front(), handled);
    if (!handled && ++offered < 2) continue;
    if (!handled && OnDropped)
      OnDropped("An application event of type " + std::to_string(int(events_.front()->EventType)) +
                " was left unhandled twice and is dropped");
    events_.pop_front();
    offered = 0;
  }
}

}  // namespace brn

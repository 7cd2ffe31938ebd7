#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "clientserver/server/server_engine_manager.h"

namespace brn {

class TBRNMainLoop;

// One queued event: what happened and the object it concerns. The queue
// owns the event and frees it after it is handled.
class TBRNApplicationEvent {
 public:
  TBRNApplicationEvent(TBRNServerSessionEventType eventType, std::shared_ptr<void> data)
      : EventType(eventType), Data(std::move(data)) {}
  virtual ~TBRNApplicationEvent() = default;

  TBRNServerSessionEventType EventType;
  std::shared_ptr<void> Data;
};

// Carries events from any thread to the main thread, in the order posted.
//
// The thread that creates the queue is its main thread. Post may be called
// from any thread; a post from the main thread hands the queued events to
// the handler before it returns, a post from another thread wakes the main
// loop, whose idle handler the queue is while it exists. The handler runs on
// the main thread under the queue's lock, so a thread posting meanwhile
// waits: handling must be short and must not wait for a posting thread.
//
// A handler that leaves an event unhandled is offered it once more at once;
// when it is left unhandled again it is dropped and reported through
// OnDropped, so one event can never hold up the queue for good.
class TBRNApplicationEventQueue {
 public:
  using THandler = std::function<void(TBRNApplicationEvent& event, bool& handled)>;
  using TDroppedHandler = std::function<void(const std::string& text)>;

  // loop may be null: then only posts from the main thread and
  // ProcessEvents hand events over.
  explicit TBRNApplicationEventQueue(TBRNMainLoop* loop);
  // Puts the loop's previous idle handler back, then hands the events still
  // queued to the handler. Main thread only.
  ~TBRNApplicationEventQueue();
  TBRNApplicationEventQueue(const TBRNApplicationEventQueue&) = delete;
  TBRNApplicationEventQueue& operator=(const TBRNApplicationEventQueue&) = delete;

  // Set by the owner on the main thread before events are posted.
  THandler Handler;
  TDroppedHandler OnDropped;

  void Post(std::unique_ptr<TBRNApplicationEvent> event);
  // Hands the queued events to the handler; does nothing when called from
  // inside the handler (the running loop takes up new events). Main thread.
  void ProcessEvents();

 private:
  void Idle();

  std::recursive_mutex lock_;
  std::deque<std::unique_ptr<TBRNApplicationEvent>> events_;
  bool busy_ = false;
  std::atomic<bool> signalled_{false};
  TBRNMainLoop* loop_;
  std::function<void()> savedIdle_;
  std::thread::id mainThread_;
};

}  // namespace brn

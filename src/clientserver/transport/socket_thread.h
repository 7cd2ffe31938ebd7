#pragma once

#include <cstdint>
#include <memory>

#include "clientserver/transport/listening_socket.h"
#include "clientserver/transport/socket.h"
#include "foundation/runtime/event.h"
#include "foundation/runtime/thread.h"

namespace brn {

// A cached worker: serves one accepted connection at a time and, while it is
// cached, waits for the next one its listener hands it. Subclasses serve the
// protocol in ServeConnection, which returns when the connection is done (or
// the thread is terminated: the listener's Close shuts the connection down,
// so a blocked receive returns 0).
//
// Ownership: the worker owns its connection while it serves it. The listener
// owns the worker: a worker that ends by itself is joined and freed by the
// listener later (at the next connection or at Close), one that Close stops
// is freed by Close. So the creator never frees a worker that has run.
//
// Threads: Terminate may be called from any thread; GetCached and GetWaiting
// take the listener's ListLock; the rest belongs to the worker itself.
class TBRNServerClientThread : public TBRNThread {
 public:
  // Built suspended over a connection (required), which it attaches: it joins
  // its listener's Threads. The creator resumes it.
  explicit TBRNServerClientThread(std::unique_ptr<TBRNServerClientSocketWrapper> Connection);
  ~TBRNServerClientThread() override;

  // Asks the worker to end and wakes it when it waits for work.
  void Terminate() override;

  // The connection being served; nullptr when idle. For the worker itself.
  TBRNServerClientSocketWrapper* GetConnection() const { return connection_.get(); }
  TBRNServerSocketWrapper* GetListener() const { return listener_; }
  bool GetCached();
  // true while the worker has released its connection and waits for another.
  bool GetWaiting();

 protected:
  friend class TBRNServerSocketWrapper;

  void Execute() override;
  void DoTerminate() override;
  // Serves the current connection; empty here, so the connection ends at
  // once.
  virtual void ServeConnection();
  virtual void DoConnectionEvent(TBRNServerClientSocketWrapper* Connection, TBRNSocketEventKind Kind);
  virtual void DoConnectionError(TBRNServerClientSocketWrapper* Connection, TBRNSocketErrorKind Kind,
                                 int32_t& ErrorCode);

 private:
  // Takes the connection and wakes the worker unless it has not run yet. The
  // caller holds the listener's ListLock.
  void attachConnection(std::unique_ptr<TBRNServerClientSocketWrapper> connection);
  bool waitForWork();
  void releaseConnection() noexcept;

  TBRNServerSocketWrapper* listener_ = nullptr;
  // Guarded by the listener's ListLock (the pointer; the connection itself
  // belongs to the worker).
  std::unique_ptr<TBRNServerClientSocketWrapper> connection_;
  TBRNEvent wakeEvent_;
  // The rest guarded by the listener's ListLock.
  bool firstRun_ = true;
  bool cached_ = false;
  bool waiting_ = false;
  // Set by the listener's Close, which then frees the worker itself.
  bool stopping_ = false;
  // The OS id of the thread while Execute runs, else 0.
  uint32_t runningThreadId_ = 0;
};

}  // namespace brn

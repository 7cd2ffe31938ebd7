#include "clientserver/transport/socket_thread.h"

#include <mutex>
#include <stdexcept>

#include "platform/system_info.h"

namespace brn {

TBRNServerClientThread::TBRNServerClientThread(
    std::unique_ptr<TBRNServerClientSocketWrapper> Connection) {
  if (!Connection) throw std::invalid_argument("A worker needs a connection");
  listener_ = Connection->GetListener();
  std::lock_guard<TBRNCriticalSection> guard(listener_->ListLock);
  attachConnection(std::move(Connection));
}

TBRNServerClientThread::~TBRNServerClientThread() {
  TerminateAndWait();
}

void TBRNServerClientThread::attachConnection(
    std::unique_ptr<TBRNServerClientSocketWrapper> connection) {
  if (!connection) return;
  TBRNServerClientSocketWrapper* wrapper = connection.get();
  wrapper->OnSocketEvent = [this](TBRNSocketWrapper* sender, TBRNSocketWrapper*,
                                  TBRNSocketEventKind kind) {
    DoConnectionEvent(static_cast<TBRNServerClientSocketWrapper*>(sender), kind);
  };
  wrapper->OnSocketError = [this](TBRNSocketWrapper* sender, TBRNSocketErrorKind kind,
                                  int32_t& errorCode) {
    DoConnectionError(static_cast<TBRNServerClientSocketWrapper*>(sender), kind, errorCode);
  };
  connection_ = std::move(connection);
  waiting_ = false;
  listener_->addThread(this);
  if (!firstRun_) wakeEvent_.Signal();
}

void TBRNServerClientThread::Terminate() {
  TBRNThread::Terminate();
  wakeEvent_.Signal();
}

bool TBRNServerClientThread::GetCached() {
  std::lock_guard<TBRNCriticalSection> guard(listener_->ListLock);
  return cached_;
}

bool TBRNServerClientThread::GetWaiting() {
  std::lock_guard<TBRNCriticalSection> guard(listener_->ListLock);
  return waiting_;
}

bool TBRNServerClientThread::waitForWork() {
  for (;;) {
    {
      std::lock_guard<TBRNCriticalSection> guard(listener_->ListLock);
      if (Terminated) return false;
      if (firstRun_) {
        firstRun_ = false;
        return true;
      }
      if (connection_) return true;
    }
    wakeEvent_.WaitFor(-1);
  }
}

void TBRNServerClientThread::releaseConnection() noexcept {
  std::unique_ptr<TBRNServerClientSocketWrapper> connection;
  {
    std::lock_guard<TBRNCriticalSection> guard(listener_->ListLock);
    connection = std::move(connection_);
  }
  // Freed outside ListLock: its destructor closes the socket and then leaves
  // the listener's Connections.
  connection.reset();
}

void TBRNServerClientThread::Execute() {
  {
    std::lock_guard<TBRNCriticalSection> guard(listener_->ListLock);
    runningThreadId_ = SystemThreadId();
  }
  try {
    listener_->DoThreadStart(this);
    while (waitForWork()) {
      ServeConnection();
      releaseConnection();
      std::lock_guard<TBRNCriticalSection> guard(listener_->ListLock);
      if (Terminated || !cached_) break;
      waiting_ = true;
    }
  } catch (...) {
    std::lock_guard<TBRNCriticalSection> guard(listener_->ListLock);
    cached_ = false;
    waiting_ = false;
  }
  releaseConnection();
  try {
    listener_->DoThreadStop(this);
  } catch (...) {
    // A worker ends quietly.
  }
}

void TBRNServerClientThread::DoTerminate() {
  try {
    TBRNThread::DoTerminate();
  } catch (...) {
  }
  // Last touch of the listener: from here on the listener may join and free
  // this object.
  listener_->threadEnded(this);
}

void TBRNServerClientThread::ServeConnection() {}

void TBRNServerClientThread::DoConnectionEvent(TBRNServerClientSocketWrapper* Connection,
                                               TBRNSocketEventKind Kind) {
  if (Kind == TBRNSocketEventKind::Connected) {
    listener_->DoClientConnect(Connection);
  } else if (Kind == TBRNSocketEventKind::Disconnecting) {
    listener_->DoClientDisconnect(Connection);
  }
}

void TBRNServerClientThread::DoConnectionError(TBRNServerClientSocketWrapper* Connection,
                                               TBRNSocketErrorKind Kind, int32_t& ErrorCode) {
  listener_->DoClientError(Connection, Kind, ErrorCode);
}

}  // namespace brn

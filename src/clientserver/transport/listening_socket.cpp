#include "clientserver/transport/listening_socket.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <mutex>
#include <stdexcept>

#include "clientserver/transport/socket_thread.h"
#include "platform/system_info.h"

namespace brn {

namespace {

// The lists grow in steps of 64 entries.
template <typename T>
void pushInSteps(std::vector<T*>& list, T* item) {
  if (list.size() == list.capacity()) list.reserve(list.capacity() + 64);
  list.push_back(item);
}

// Adds fd to the epoll set with tag as its event data.
void watchDescriptor(int epollFd, int fd, uint32_t events, void* tag) {
  epoll_event event{};
  event.events = events;
  event.data.ptr = tag;
  if (::epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &event) != 0) RaiseSocketError(errno, "epoll_ctl");
}

template <typename T>
bool eraseItem(std::vector<T*>& list, T* item) {
  auto found = std::find(list.begin(), list.end(), item);
  if (found == list.end()) return false;
  list.erase(found);
  return true;
}

}  // namespace

// --- TBRNServerClientSocketWrapper ---

TBRNServerClientSocketWrapper::TBRNServerClientSocketWrapper(int32_t Handle,
                                                             TBRNServerSocketWrapper* Listener)
    : TBRNSocketWrapper(Handle),
      listener_(Listener),
      acceptTime_(std::chrono::steady_clock::now()) {
  if (Listener == nullptr) throw std::invalid_argument("A connection needs its listener");
  listener_->addConnection(this);
  // No handler is routed yet: the event reaches only subclasses.
  if (GetHandle() != -1) DoSocketEvent(this, TBRNSocketEventKind::Connected);
}

TBRNServerClientSocketWrapper::~TBRNServerClientSocketWrapper() {
  OnSocketEvent = nullptr;
  try {
    CloseSocket();
  } catch (...) {
    // Nothing to report to from a destructor.
  }
  listener_->removeConnection(this);
}

// --- TBRNServerSocketWrapper ---

TBRNServerSocketWrapper::TBRNServerSocketWrapper() : TBRNSocketWrapper(-1) {}

TBRNServerSocketWrapper::~TBRNServerSocketWrapper() {
  OnSocketEvent = nullptr;
  try {
    Close();
  } catch (...) {
    // Close has stopped every thread before it can fail on the OS close.
  }
  reapFinishedThreads();
}

void TBRNServerSocketWrapper::Listen(const std::string& Host, const std::string& Address,
                                     bool NoDelay, uint16_t Port, const std::string& Service) {
  if (GetOpen() || GetHandle() != -1) throw EBRNSocketException("Cannot listen on an open socket");
  int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd < 0) RaiseSocketError(errno, "eventfd");
  wakeFd_ = wakeFd;
  noDelay_ = NoDelay;
  try {
    TBRNSocketWrapper::Listen(Host, Address, NoDelay, Port, Service);
    if (GetOpen() && maxHoldMs_ > 0) {
      int epollFd = ::epoll_create1(EPOLL_CLOEXEC);
      if (epollFd < 0) RaiseSocketError(errno, "epoll_create1");
      epollFd_ = epollFd;
      watchDescriptor(epollFd_, GetHandle(), EPOLLIN, this);
      watchDescriptor(epollFd_, wakeFd_, EPOLLIN, &wakeFd_);
    }
    if (GetOpen()) {
      acceptThread_ = std::make_unique<TBRNServerAcceptThread>(this);
      acceptThread_->Resume();
    }
  } catch (...) {
    acceptThread_.reset();
    try {
      TBRNSocketWrapper::Close();
    } catch (...) {
    }
    ::close(wakeFd_);
    wakeFd_ = -1;
    if (epollFd_ != -1) ::close(epollFd_);
    epollFd_ = -1;
    throw;
  }
}

void TBRNServerSocketWrapper::SetConnectionHold(int32_t MaxHoldMs, TBRNConnectionReadyCheck Ready) {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  if (GetOpen() || acceptThread_) {
    throw std::logic_error("The hold of a listening socket cannot change while it listens");
  }
  maxHoldMs_ = std::max(0, MaxHoldMs);
  holdReady_ = std::move(Ready);
}

int32_t TBRNServerSocketWrapper::Accept() {
  if (GetClosing()) return -1;
  reapFinishedThreads();
  if (epollFd_ != -1) return acceptHolding();
  int32_t handle = AcceptOne(wakeFd_);
  if (handle == -1) return -1;
  AssignClientThread(wrapAccepted(handle));
  return handle;
}

std::unique_ptr<TBRNServerClientSocketWrapper> TBRNServerSocketWrapper::wrapAccepted(
    int32_t handle) {
  if (noDelay_) {
    // Set on the accepted socket itself rather than trusting inheritance.
    int one = 1;
    ::setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  }
  std::unique_ptr<TBRNServerClientSocketWrapper> connection = CreateClientWrapper(handle);
  DoSocketEvent(connection.get(), TBRNSocketEventKind::ConnectionAccepted);
  return connection;
}

int32_t TBRNServerSocketWrapper::acceptHolding() {
  using Clock = std::chrono::steady_clock;
  Clock::time_point now = Clock::now();
  while (!held_.empty() && held_.front().Deadline <= now) dropConnection(unhold(&held_.front()));
  int timeout = -1;
  if (!held_.empty()) {
    int64_t left =
        std::chrono::ceil<std::chrono::milliseconds>(held_.front().Deadline - now).count();
    timeout = int(std::min<int64_t>(left, INT_MAX));
  }
  epoll_event events[64];
  int count = ::epoll_wait(epollFd_, events, 64, timeout);
  // Interrupted or a hold ran out: the next call deals with it.
  if (count <= 0) return -1;
  bool connectionWaits = false;
  for (int index = 0; index < count; ++index) {
    void* tag = events[index].data.ptr;
    if (tag == &wakeFd_) return -1;  // Closing: Close drops what is held.
    if (tag == this) {
      connectionWaits = true;
      continue;
    }
    try {
      checkHeldConnection(static_cast<THeldConnection*>(tag), events[index].events);
    } catch (...) {
      // The connection went with its failure (a worker that could not be
      // started); the others of this batch are still to be seen to.
    }
  }
  if (!connectionWaits) return -1;
  int32_t handle = AcceptWaiting(wakeFd_);
  if (handle == -1) return -1;
  holdConnection(wrapAccepted(handle));
  return handle;
}

void TBRNServerSocketWrapper::holdConnection(
    std::unique_ptr<TBRNServerClientSocketWrapper> connection) {
  TBRNServerClientSocketWrapper* wrapper = connection.get();
  // No worker routes its events yet: the end of a connection dropped while
  // held still reaches the listener's owner.
  wrapper->OnSocketEvent = [this](TBRNSocketWrapper* sender, TBRNSocketWrapper*,
                                  TBRNSocketEventKind kind) {
    if (kind == TBRNSocketEventKind::Disconnecting) {
      DoClientDisconnect(static_cast<TBRNServerClientSocketWrapper*>(sender));
    }
  };
  std::chrono::steady_clock::time_point deadline =
      wrapper->GetAcceptTime() + std::chrono::milliseconds(maxHoldMs_);
  held_.push_back(THeldConnection{std::move(connection), deadline, {}});
  THeldConnection& held = held_.back();
  held.Self = std::prev(held_.end());
  heldCount_.fetch_add(1, std::memory_order_acq_rel);
  // Edge-triggered: the check runs again only when more bytes arrive (bytes
  // already there when it is added count as an arrival).
  try {
    watchDescriptor(epollFd_, wrapper->GetHandle(), EPOLLIN | EPOLLRDHUP | EPOLLET, &held);
  } catch (...) {
    // It cannot be watched: it is served the ordinary way.
    std::unique_ptr<TBRNServerClientSocketWrapper> unwatched = std::move(held.Connection);
    held_.erase(held.Self);
    heldCount_.fetch_sub(1, std::memory_order_acq_rel);
    AssignClientThread(std::move(unwatched));
  }
}

void TBRNServerSocketWrapper::checkHeldConnection(THeldConnection* held, uint32_t events) {
  bool ready = true;
  try {
    if (holdReady_) ready = holdReady_(*held->Connection);
  } catch (...) {
    // The worker finds out what is wrong with it.
  }
  if (ready) {
    AssignClientThread(unhold(held));
  } else if ((events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0) {
    // The client has gone before sending enough.
    dropConnection(unhold(held));
  }
}

std::unique_ptr<TBRNServerClientSocketWrapper> TBRNServerSocketWrapper::unhold(
    THeldConnection* held) {
  std::unique_ptr<TBRNServerClientSocketWrapper> connection = std::move(held->Connection);
  if (connection->GetHandle() != -1) {
    ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, connection->GetHandle(), nullptr);
  }
  held_.erase(held->Self);
  heldCount_.fetch_sub(1, std::memory_order_acq_rel);
  return connection;
}

void TBRNServerSocketWrapper::dropConnection(
    std::unique_ptr<TBRNServerClientSocketWrapper> connection) noexcept {
  try {
    connection->Close();
  } catch (...) {
    // It goes either way.
  }
  connection.reset();
}

void TBRNServerSocketWrapper::dropAllHeld() noexcept {
  while (!held_.empty()) dropConnection(unhold(&held_.front()));
}

std::unique_ptr<TBRNServerClientSocketWrapper> TBRNServerSocketWrapper::CreateClientWrapper(
    int32_t Handle) {
  std::unique_ptr<TBRNServerClientSocketWrapper> connection;
  try {
    if (OnCreateConnection) OnCreateConnection(this, Handle, connection);
    if (!connection) connection = std::make_unique<TBRNServerClientSocketWrapper>(Handle, this);
  } catch (...) {
    // A wrapper that took the handle closes it when freed; otherwise nobody
    // owns it yet.
    if (!connection) ::close(Handle);
    throw;
  }
  return connection;
}

void TBRNServerSocketWrapper::AssignClientThread(
    std::unique_ptr<TBRNServerClientSocketWrapper> Connection) {
  {
    std::lock_guard<TBRNCriticalSection> guard(ListLock);
    for (TBRNServerClientThread* thread : Threads) {
      if (thread->waiting_ && !thread->connection_ && !thread->stopping_) {
        thread->attachConnection(std::move(Connection));
        return;
      }
    }
  }
  TBRNServerClientThread* thread = nullptr;
  if (OnGetThread) OnGetThread(this, Connection, thread);
  if (thread == nullptr) thread = CreateClientThread(Connection);
  try {
    thread->Resume();
  } catch (...) {
    // The thread never ran: take it off the list and free it with its
    // connection.
    {
      std::lock_guard<TBRNCriticalSection> guard(ListLock);
      eraseItem(Threads, thread);
    }
    delete thread;
    throw;
  }
}

TBRNServerClientThread* TBRNServerSocketWrapper::CreateClientThread(
    std::unique_ptr<TBRNServerClientSocketWrapper>& Connection) {
  return new TBRNServerClientThread(std::move(Connection));
}

void TBRNServerSocketWrapper::Close() {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  checkNotOwnThread();
  closing_.store(true, std::memory_order_release);
  int32_t cacheSize = GetThreadCacheSize();
  struct Restore {
    TBRNServerSocketWrapper* self;
    int32_t cacheSize;
    ~Restore() {
      self->SetThreadCacheSize(cacheSize);
      self->closing_.store(false, std::memory_order_release);
    }
  } restore{this, cacheSize};
  SetThreadCacheSize(0);
  // The accept thread stops first: a connection it accepted while the workers
  // were being stopped would get a worker nobody stops.
  stopAcceptThread();
  dropAllHeld();
  for (;;) {
    TBRNServerClientThread* thread;
    {
      std::lock_guard<TBRNCriticalSection> listGuard(ListLock);
      if (Threads.empty()) break;
      thread = Threads.back();
      Threads.pop_back();
      thread->stopping_ = true;
      thread->Terminate();
      // Wakes a worker blocked on its connection; the worker frees it.
      if (thread->connection_) thread->connection_->Shutdown();
    }
    if (thread->Created) thread->WaitFor();
    delete thread;
  }
  reapFinishedThreads();
  try {
    TBRNSocketWrapper::Close();
  } catch (...) {
    ::close(wakeFd_);
    wakeFd_ = -1;
    if (epollFd_ != -1) ::close(epollFd_);
    epollFd_ = -1;
    throw;
  }
  if (wakeFd_ != -1) {
    ::close(wakeFd_);
    wakeFd_ = -1;
  }
  if (epollFd_ != -1) {
    ::close(epollFd_);
    epollFd_ = -1;
  }
}

void TBRNServerSocketWrapper::checkNotOwnThread() {
  uint32_t self = SystemThreadId();
  bool own = acceptThread_ && acceptThread_->Created && acceptThread_->ThreadID == self;
  {
    std::lock_guard<TBRNCriticalSection> listGuard(ListLock);
    for (TBRNServerClientThread* thread : Threads) own = own || thread->runningThreadId_ == self;
  }
  // Close waits for every thread of the listener; one of them would wait for
  // itself.
  if (own) throw std::logic_error("A listener cannot be closed from one of its own threads");
}

void TBRNServerSocketWrapper::stopAcceptThread() {
  if (!acceptThread_) return;
  acceptThread_->Terminate();
  uint64_t one = 1;
  ssize_t written = ::write(wakeFd_, &one, sizeof(one));
  (void)written;  // Only fails when the counter is already signalled.
  if (acceptThread_->Created) acceptThread_->WaitFor();
  acceptThread_.reset();
}

int32_t TBRNServerSocketWrapper::GetThreadCacheSize() {
  std::lock_guard<TBRNCriticalSection> guard(ListLock);
  return threadCacheSize_;
}

void TBRNServerSocketWrapper::SetThreadCacheSize(int32_t Size) {
  std::lock_guard<TBRNCriticalSection> guard(ListLock);
  if (Size == threadCacheSize_) return;
  size_t cached = size_t(std::max(0, std::min(threadCacheSize_, Size)));
  threadCacheSize_ = Size;
  for (size_t index = 0; index < Threads.size(); ++index) Threads[index]->cached_ = index < cached;
}

int32_t TBRNServerSocketWrapper::GetConnectionCount() {
  std::lock_guard<TBRNCriticalSection> guard(ListLock);
  return int32_t(Connections.size());
}

int32_t TBRNServerSocketWrapper::GetThreadCount() {
  std::lock_guard<TBRNCriticalSection> guard(ListLock);
  return int32_t(Threads.size());
}

std::vector<TBRNServerClientThread*> TBRNServerSocketWrapper::GetThreads() {
  std::lock_guard<TBRNCriticalSection> guard(ListLock);
  return Threads;
}

void TBRNServerSocketWrapper::addConnection(TBRNServerClientSocketWrapper* connection) {
  std::lock_guard<TBRNCriticalSection> guard(ListLock);
  if (std::find(Connections.begin(), Connections.end(), connection) == Connections.end()) {
    pushInSteps(Connections, connection);
  }
}

void TBRNServerSocketWrapper::removeConnection(TBRNServerClientSocketWrapper* connection) {
  std::lock_guard<TBRNCriticalSection> guard(ListLock);
  eraseItem(Connections, connection);
}

void TBRNServerSocketWrapper::addThread(TBRNServerClientThread* thread) {
  // The caller holds ListLock.
  if (std::find(Threads.begin(), Threads.end(), thread) != Threads.end()) return;
  pushInSteps(Threads, thread);
  thread->cached_ = int64_t(Threads.size()) <= int64_t(threadCacheSize_);
}

void TBRNServerSocketWrapper::threadEnded(TBRNServerClientThread* thread) {
  std::lock_guard<TBRNCriticalSection> guard(ListLock);
  eraseItem(Threads, thread);
  if (!thread->stopping_) pushInSteps(finished_, thread);
}

void TBRNServerSocketWrapper::reapFinishedThreads() {
  std::vector<TBRNServerClientThread*> finished;
  {
    std::lock_guard<TBRNCriticalSection> guard(ListLock);
    finished.swap(finished_);
  }
  for (TBRNServerClientThread* thread : finished) {
    try {
      thread->WaitFor();
    } catch (...) {
      // The thread has run its last code already; free it regardless.
    }
    delete thread;
  }
}

void TBRNServerSocketWrapper::DoThreadStop(TBRNServerClientThread* Thread) {
  if (OnThreadStop) OnThreadStop(this, Thread);
}

void TBRNServerSocketWrapper::DoThreadStart(TBRNServerClientThread* Thread) {
  if (OnThreadStart) OnThreadStart(this, Thread);
}

void TBRNServerSocketWrapper::DoClientConnect(TBRNServerClientSocketWrapper* Connection) {
  if (OnClientConnect) OnClientConnect(this, Connection);
}

void TBRNServerSocketWrapper::DoClientDisconnect(TBRNServerClientSocketWrapper* Connection) {
  if (OnClientDisconnect) OnClientDisconnect(this, Connection);
}

void TBRNServerSocketWrapper::DoClientError(TBRNServerClientSocketWrapper* Connection,
                                            TBRNSocketErrorKind Kind, int32_t& ErrorCode) {
  if (OnClientError) OnClientError(this, Connection, Kind, ErrorCode);
}

// --- TBRNServerAcceptThread ---

TBRNServerAcceptThread::TBRNServerAcceptThread(TBRNServerSocketWrapper* Listener)
    : listener_(Listener) {}

TBRNServerAcceptThread::~TBRNServerAcceptThread() {
  TerminateAndWait();
}

void TBRNServerAcceptThread::Execute() {
  while (!Terminated) {
    try {
      listener_->Accept();
    } catch (...) {
      // A connection that could not be set up or handed on is dropped (its
      // wrapper closed it); the listener goes on accepting.
    }
  }
}

}  // namespace brn

#include "clientserver/transport/socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "foundation/core/memory_stream.h"
#include "platform/system_info.h"

namespace brn {

namespace {

sockaddr_in toSockAddr(const TBRNSocketAddress& address) {
  sockaddr_in result{};
  result.sin_family = AF_INET;
  result.sin_port = address.Port;
  result.sin_addr.s_addr = address.Addr;
  return result;
}

// A blocking connect interrupted by a signal goes on in the background: wait
// for it to finish and read its outcome.
int finishInterruptedConnect(int fd) {
  pollfd entry{fd, POLLOUT, 0};
  int rc;
  do {
    rc = ::poll(&entry, 1, -1);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) return errno;
  int error = 0;
  socklen_t length = sizeof(error);
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
  return error;
}

}  // namespace

void RaiseSocketError(int32_t errorCode, const std::string& api) {
  throw EBRNSocketException("Socket error: " + SystemErrorText(errorCode) + " (" +
                            std::to_string(errorCode) + "), on API '" + api + "'");
}

TBRNSocketAddress ResolveSocketAddress(const std::string& Host, const std::string& Address,
                                       bool RaiseIfNone, uint16_t Port, const std::string& Service) {
  TBRNSocketAddress result;
  if (!Host.empty()) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* answer = nullptr;
    if (::getaddrinfo(Host.c_str(), nullptr, &hints, &answer) == 0) {
      for (addrinfo* entry = answer; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addrlen >= sizeof(sockaddr_in)) {
          sockaddr_in found{};
          std::memcpy(&found, entry->ai_addr, sizeof(found));
          result.Addr = found.sin_addr.s_addr;
          break;
        }
      }
      ::freeaddrinfo(answer);
    }
  } else if (!Address.empty()) {
    result.Addr = ::inet_addr(Address.c_str());
  } else if (RaiseIfNone) {
    throw EBRNSocketException("No socket address specified");
  }
  if (!Service.empty()) {
    servent entry{};
    servent* found = nullptr;
    char buffer[1024];
    if (::getservbyname_r(Service.c_str(), "tcp", &entry, buffer, sizeof(buffer), &found) == 0 &&
        found != nullptr) {
      // s_port is already in network byte order.
      result.Port = uint16_t(found->s_port);
    } else {
      result.Port = 0;
    }
  } else {
    result.Port = htons(Port);
  }
  return result;
}

TBRNSocketWrapper::TBRNSocketWrapper(int32_t Handle) : handle_(Handle), open_(Handle != -1) {}

TBRNSocketWrapper::~TBRNSocketWrapper() {
  OnSocketEvent = nullptr;
  try {
    CloseSocket();
  } catch (...) {
    // A destructor cannot report the failed close; the handle is gone anyway.
  }
}

void TBRNSocketWrapper::Connect(const std::string& Host, const std::string& Address, bool NoDelay,
                                uint16_t Port, const std::string& Service) {
  OpenSocket(Host, Address, NoDelay, Port, Service, false);
}

void TBRNSocketWrapper::Listen(const std::string& Host, const std::string& Address, bool NoDelay,
                               uint16_t Port, const std::string& Service) {
  OpenSocket(Host, Address, NoDelay, Port, Service, true);
}

void TBRNSocketWrapper::OpenSocket(const std::string& Host, const std::string& Address,
                                   bool NoDelay, uint16_t Port, const std::string& Service,
                                   bool Listening) {
  if (GetOpen() || GetHandle() != -1) {
    throw EBRNSocketException(Listening ? "Cannot listen on an open socket" : "Socket already open");
  }
  // A listener does not block in accept: it waits in poll beside its wake-up
  // descriptor, and a connection that vanishes before accept must not hang it.
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (Listening ? SOCK_NONBLOCK : 0), 0);
  if (fd < 0) throw EBRNSocketException("Cannot create new socket");
  {
    std::lock_guard<std::mutex> guard(handleMutex_);
    handle_.store(fd, std::memory_order_release);
  }
  try {
    TBRNSocketAddress address = ResolveSocketAddress(Host, Address, !Listening, Port, Service);
    {
      std::lock_guard<std::recursive_mutex> guard(Lock);
      address_ = address;
    }
    sockaddr_in target = toSockAddr(address);
    if (Listening) {
      int one = 1;
      ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
      if (::bind(fd, reinterpret_cast<const sockaddr*>(&target), sizeof(target)) != 0) {
        RaiseSocketError(errno, "bind");
      }
    }
    if (NoDelay) {
      int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    }
    if (Listening) {
      DoSocketEvent(this, TBRNSocketEventKind::Listening);
      // The queue as deep as the system allows: the five of old Winsock
      // stacks (their maximum) would turn a burst of clients into seconds of
      // SYN retries.
      if (::listen(fd, SOMAXCONN) != 0) RaiseSocketError(errno, "listen");
      open_.store(true, std::memory_order_release);
    } else {
      DoSocketEvent(this, TBRNSocketEventKind::Connecting);
      // Linux takes the any-address as this host; a host name that did not
      // resolve must fail here, not reach a local server.
      if (address.Addr == 0) RaiseSocketError(EADDRNOTAVAIL, "connect");
      if (::connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof(target)) != 0) {
        int error = errno;
        if (error == EINTR) error = finishInterruptedConnect(fd);
        if (error != 0) RaiseSocketError(error, "connect");
      }
      open_.store(true, std::memory_order_release);
      DoSocketEvent(this, TBRNSocketEventKind::Connected);
    }
  } catch (...) {
    try {
      CloseSocket();
    } catch (...) {
      // The first failure is the one to report.
    }
    throw;
  }
}

int32_t TBRNSocketWrapper::Accept() {
  return AcceptOne(-1);
}

int32_t TBRNSocketWrapper::AcceptOne(int32_t WakeFd) {
  int fd = GetHandle();
  if (fd == -1) return -1;
  pollfd entries[2] = {{fd, POLLIN, 0}, {WakeFd, POLLIN, 0}};
  nfds_t count = WakeFd >= 0 ? 2 : 1;
  int rc = ::poll(entries, count, -1);
  if (rc <= 0) return -1;
  if (count == 2 && entries[1].revents != 0) return -1;
  return AcceptWaiting(WakeFd);
}

int32_t TBRNSocketWrapper::AcceptWaiting(int32_t WakeFd) {
  int fd = GetHandle();
  if (fd == -1) return -1;
  int accepted = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
  if (accepted >= 0) return accepted;
  int error = errno;
  switch (error) {
    case EAGAIN:
    case EINTR:
    case ECONNABORTED:
    case EPROTO:
      break;
    default: {
      // Out of descriptors or memory: back off instead of spinning, but stay
      // responsive to the wake-up.
      pollfd wait{WakeFd, POLLIN, 0};
      ::poll(&wait, WakeFd >= 0 ? 1 : 0, 100);
      break;
    }
  }
  return -1;
}

void TBRNSocketWrapper::Close() {
  CloseSocket();
}

void TBRNSocketWrapper::CloseSocket() {
  if (GetHandle() == -1) return;
  std::unique_lock<std::recursive_mutex> guard(Lock, std::try_to_lock);
  if (!guard.owns_lock()) {
    // Another thread is in a receive, send or wait: wake it, then wait for it.
    Shutdown();
    guard.lock();
  }
  if (GetHandle() == -1) return;
  int closeError = 0;
  try {
    DoSocketEvent(this, TBRNSocketEventKind::Disconnecting);
  } catch (...) {
    closeHandle();
    throw;
  }
  closeError = closeHandle();
  if (closeError != 0) RaiseSocketError(closeError, "closesocket");
}

int TBRNSocketWrapper::closeHandle() {
  int fd;
  {
    std::lock_guard<std::mutex> guard(handleMutex_);
    fd = handle_.exchange(-1, std::memory_order_acq_rel);
  }
  open_.store(false, std::memory_order_release);
  address_ = TBRNSocketAddress();
  if (fd == -1) return 0;
  // The descriptor is gone even when close reports EINTR; never retry.
  if (::close(fd) != 0 && errno != EINTR) return errno;
  return 0;
}

void TBRNSocketWrapper::Shutdown() {
  std::lock_guard<std::mutex> guard(handleMutex_);
  int fd = handle_.load(std::memory_order_acquire);
  if (fd != -1) ::shutdown(fd, SHUT_RDWR);
}

int32_t TBRNSocketWrapper::SendBuffer(TBRNMemoryStream& Stream, int32_t Count) {
  return Transfer(Stream, Count, true);
}

int32_t TBRNSocketWrapper::ReceiveBuffer(TBRNMemoryStream& Stream, int32_t Count) {
  return Transfer(Stream, Count, false);
}

int32_t TBRNSocketWrapper::Transfer(TBRNMemoryStream& Stream, int32_t Count, bool Sending) {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  if (!GetOpen()) return 0;
  int64_t position = Stream.GetPosition();
  if (Count < 0 || position < 0 || position + Count > Stream.GetSize()) {
    throw std::out_of_range("Socket transfer outside the stream");
  }
  int fd = GetHandle();
  uint8_t* at = Stream.GetMemory() + position;
  ssize_t moved;
  do {
    moved = Sending ? ::send(fd, at, size_t(Count), MSG_NOSIGNAL) : ::recv(fd, at, size_t(Count), 0);
  } while (moved < 0 && errno == EINTR);
  if (moved < 0) {
    int32_t errorCode = errno;
    LastError.store(errorCode, std::memory_order_relaxed);
    TBRNSocketErrorKind kind =
        Sending ? TBRNSocketErrorKind::SendFailed : TBRNSocketErrorKind::ReceiveFailed;
    try {
      DoSocketError(kind, errorCode);
    } catch (...) {
      CloseSocket();
      throw;
    }
    CloseSocket();
    if (errorCode != 0) RaiseSocketError(errorCode, Sending ? "send" : "recv");
    return -1;
  }
  Stream.SetPosition(position + moved);
  return int32_t(moved);
}

bool TBRNSocketWrapper::WaitForReadable(int32_t Milliseconds) {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  if (!GetOpen()) return false;
  pollfd entry{GetHandle(), POLLIN, 0};
  if (Milliseconds < 0) {
    int rc;
    do {
      rc = ::poll(&entry, 1, -1);
    } while (rc < 0 && errno == EINTR);
    return rc > 0;
  }
  using Clock = std::chrono::steady_clock;
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(Milliseconds);
  int timeout = Milliseconds;
  for (;;) {
    int rc = ::poll(&entry, 1, timeout);
    if (rc >= 0) return rc > 0;
    if (errno != EINTR) return false;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    timeout = left.count() > 0 ? int(left.count()) : 0;
  }
}

int32_t TBRNSocketWrapper::PeekBuffer(void* Buffer, int32_t Count) {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  if (!GetOpen() || Count < 0) return -1;
  ssize_t got;
  do {
    got = ::recv(GetHandle(), Buffer, size_t(Count), MSG_PEEK | MSG_DONTWAIT);
  } while (got < 0 && errno == EINTR);
  return got < 0 ? -1 : int32_t(got);
}

int32_t TBRNSocketWrapper::GetQueuedCount() {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  if (!GetOpen()) return 0;
  int queued = 0;
  if (::ioctl(GetHandle(), FIONREAD, &queued) != 0) return 0;
  return queued;
}

std::string TBRNSocketWrapper::GetPeerAddress() {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  if (!GetOpen()) return std::string();
  sockaddr_in peer{};
  socklen_t length = sizeof(peer);
  if (::getpeername(GetHandle(), reinterpret_cast<sockaddr*>(&peer), &length) != 0) {
    RaiseSocketError(errno, "getpeername");
  }
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof(text));
  return text;
}

TBRNSocketAddress TBRNSocketWrapper::GetLocalAddress() {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  TBRNSocketAddress result;
  if (GetHandle() == -1) return result;
  sockaddr_in local{};
  socklen_t length = sizeof(local);
  if (::getsockname(GetHandle(), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    RaiseSocketError(errno, "getsockname");
  }
  result.Port = local.sin_port;
  result.Addr = local.sin_addr.s_addr;
  return result;
}

TBRNSocketAddress TBRNSocketWrapper::GetAddress() {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  return address_;
}

void TBRNSocketWrapper::DoSocketEvent(TBRNSocketWrapper* Argument, TBRNSocketEventKind Kind) {
  if (OnSocketEvent) OnSocketEvent(this, Argument, Kind);
}

void TBRNSocketWrapper::DoSocketError(TBRNSocketErrorKind Kind, int32_t& ErrorCode) {
  if (OnSocketError) OnSocketError(this, Kind, ErrorCode);
}

}  // namespace brn

#include "tools/fault_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace brn::test {

namespace {

constexpr int kPollMs = 50;
constexpr int32_t kChunk = 64 * 1024;

int slot(FaultDirection direction) { return direction == FaultDirection::ClientToServer ? 0 : 1; }

// Closes fd so that the peer sees a reset instead of an orderly end.
void resetSocket(int fd) {
  if (fd < 0) return;
  linger option{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &option, sizeof(option));
  ::close(fd);
}

sockaddr_in loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

}  // namespace

// One proxied connection: the accepted client socket and the socket to the
// target. Only its own thread touches the sockets and the generator.
struct FaultProxy::Pipe {
  int Client = -1;
  int Server = -1;
  std::mt19937 Random;
  std::thread Thread;
  std::atomic<bool> ResetRequested{false};
  std::atomic<bool> Done{false};
  // Bytes held back by a stall, per direction, and when the stall ends.
  std::vector<char> Pending[2];
  std::chrono::steady_clock::time_point StalledUntil[2];
};

FaultProxy::FaultProxy(uint16_t targetPort, uint32_t seed, std::chrono::milliseconds lifetime)
    : targetPort_(targetPort), seed_(seed), deadline_(std::chrono::steady_clock::now() + lifetime) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) throw std::runtime_error("fault proxy: no socket");
  int on = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  sockaddr_in address = loopback(0);
  socklen_t length = sizeof(address);
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(listener_, 64) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(listener_);
    throw std::runtime_error(std::string("fault proxy: cannot listen: ") + std::strerror(errno));
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { acceptLoop(); });
}

FaultProxy::~FaultProxy() { Stop(); }

void FaultProxy::SetChances(const FaultChances& chances) {
  std::lock_guard<std::mutex> guard(lock_);
  chances_ = chances;
}

void FaultProxy::Arm(FaultDirection direction, FaultKind kind, int64_t afterBytes,
                     int32_t keepBytes) {
  std::lock_guard<std::mutex> guard(lock_);
  armed_[slot(direction)] = ArmedFault{true, kind, std::max<int64_t>(afterBytes, 0),
                                        std::max(keepBytes, 0)};
}

bool FaultProxy::Armed(FaultDirection direction) const {
  std::lock_guard<std::mutex> guard(lock_);
  return armed_[slot(direction)].Set;
}

int64_t FaultProxy::Forwarded(FaultDirection direction) const {
  return forwarded_[slot(direction)].load();
}

int32_t FaultProxy::LiveConnections() const {
  std::lock_guard<std::mutex> guard(lock_);
  int32_t count = 0;
  for (const auto& pipe : pipes_)
    if (!pipe->Done.load()) ++count;
  return count;
}

void FaultProxy::ResetAll() {
  std::vector<Pipe*> live;
  {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto& pipe : pipes_)
      if (!pipe->Done.load()) {
        pipe->ResetRequested = true;
        live.push_back(pipe.get());
      }
  }
  // The pipes stay in the list until Stop or the acceptor reaps them after
  // they are done, so the pointers stay valid while they are not done; wait
  // (bounded) until each has reset its sockets.
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  for (;;) {
    bool all = true;
    {
      std::lock_guard<std::mutex> guard(lock_);
      for (auto& pipe : pipes_)
        if (std::find(live.begin(), live.end(), pipe.get()) != live.end() && !pipe->Done.load())
          all = false;
    }
    if (all || std::chrono::steady_clock::now() >= end) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void FaultProxy::Stop() {
  stopping_ = true;
  if (acceptor_.joinable()) acceptor_.join();
  std::vector<std::unique_ptr<Pipe>> pipes;
  {
    std::lock_guard<std::mutex> guard(lock_);
    pipes.swap(pipes_);
  }
  for (auto& pipe : pipes)
    if (pipe->Thread.joinable()) pipe->Thread.join();
  if (listener_ >= 0) {
    ::close(listener_);
    listener_ = -1;
  }
}

void FaultProxy::acceptLoop() {
  uint32_t number = 0;
  while (!stopping_ && std::chrono::steady_clock::now() < deadline_) {
    // Join the pipes that have ended, so that a long run keeps few threads.
    {
      std::lock_guard<std::mutex> guard(lock_);
      for (auto it = pipes_.begin(); it != pipes_.end();) {
        if ((*it)->Done.load()) {
          (*it)->Thread.join();
          it = pipes_.erase(it);
        } else {
          ++it;
        }
      }
    }
    pollfd entry{listener_, POLLIN, 0};
    if (::poll(&entry, 1, kPollMs) <= 0) continue;
    int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(targetPort_);
    if (server < 0 ||
        ::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
      resetSocket(server);
      resetSocket(client);
      continue;
    }
    int on = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    auto pipe = std::make_unique<Pipe>();
    pipe->Client = client;
    pipe->Server = server;
    pipe->Random.seed(seed_ + number++);
    Pipe* raw = pipe.get();
    ++connections_;
    std::lock_guard<std::mutex> guard(lock_);
    pipes_.push_back(std::move(pipe));
    raw->Thread = std::thread([this, raw] { serve(*raw); });
  }
}

FaultProxy::Decision FaultProxy::decide(Pipe& pipe, FaultDirection direction, int32_t count) {
  std::lock_guard<std::mutex> guard(lock_);
  ArmedFault& armed = armed_[slot(direction)];
  if (armed.Set) {
    // It fires in the chunk that carries the byte after AfterBytes.
    if (armed.AfterBytes >= count) {
      armed.AfterBytes -= count;
      return Decision{false, FaultKind::Reset, count};
    }
    Decision decision{true, armed.Kind, static_cast<int32_t>(armed.AfterBytes)};
    if (armed.Kind == FaultKind::Truncate)
      decision.Forward += std::min(armed.KeepBytes, count - decision.Forward);
    armed.Set = false;
    return decision;
  }
  double draw = std::uniform_real_distribution<double>(0, 1)(pipe.Random);
  auto cut = [&] { return std::uniform_int_distribution<int32_t>(0, count - 1)(pipe.Random); };
  if (draw < chances_.Reset) return Decision{true, FaultKind::Reset, 0};
  draw -= chances_.Reset;
  if (draw < chances_.Stall) return Decision{true, FaultKind::Stall, 0};
  draw -= chances_.Stall;
  if (draw < chances_.Truncate) return Decision{true, FaultKind::Truncate, cut()};
  return Decision{false, FaultKind::Reset, count};
}

void FaultProxy::serve(Pipe& pipe) {
  const int from[2] = {pipe.Client, pipe.Server};
  const int to[2] = {pipe.Server, pipe.Client};
  std::vector<char> buffer(kChunk);

  auto alive = [&] {
    return !stopping_ && !pipe.ResetRequested && std::chrono::steady_clock::now() < deadline_;
  };
  // Writes every byte to fd, waiting for room in slices; false when the
  // socket failed or the proxy stops.
  auto sendAll = [&](int fd, const char* data, size_t count, int direction) {
    while (count > 0) {
      ssize_t sent = ::send(fd, data, count, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (sent > 0) {
        data += sent;
        count -= static_cast<size_t>(sent);
        forwarded_[direction] += sent;
        continue;
      }
      if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
      if (!alive()) return false;
      pollfd entry{fd, POLLOUT, 0};
      ::poll(&entry, 1, kPollMs);
    }
    return true;
  };

  bool reset = false;
  bool open = true;
  while (open && alive()) {
    auto now = std::chrono::steady_clock::now();
    pollfd entries[2];
    for (int d = 0; d < 2; ++d) {
      bool stalled = now < pipe.StalledUntil[d];
      if (!stalled && !pipe.Pending[d].empty()) {
        if (!sendAll(to[d], pipe.Pending[d].data(), pipe.Pending[d].size(), d)) {
          open = false;
          break;
        }
        pipe.Pending[d].clear();
      }
      // A stalled direction is not read: its bytes wait in the socket.
      entries[d] = pollfd{stalled ? -1 : from[d], POLLIN, 0};
    }
    if (!open) break;
    if (::poll(entries, 2, kPollMs) <= 0) continue;
    for (int d = 0; d < 2 && open; ++d) {
      if (entries[d].revents == 0) continue;
      ssize_t count = ::recv(from[d], buffer.data(), buffer.size(), MSG_DONTWAIT);
      if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
      if (count <= 0) {
        // One side ended or failed: end the other side the same way.
        reset = count < 0;
        open = false;
        break;
      }
      auto direction = d == 0 ? FaultDirection::ClientToServer : FaultDirection::ServerToClient;
      Decision decision = decide(pipe, direction, static_cast<int32_t>(count));
      if (!sendAll(to[d], buffer.data(), static_cast<size_t>(decision.Forward), d)) {
        open = false;
        break;
      }
      if (!decision.Fault) continue;
      ++faults_;
      if (decision.Kind == FaultKind::Stall) {
        std::lock_guard<std::mutex> guard(lock_);
        pipe.StalledUntil[d] = std::chrono::steady_clock::now() + chances_.StallTime;
        pipe.Pending[d].assign(buffer.data() + decision.Forward, buffer.data() + count);
        continue;
      }
      reset = true;
      open = false;
    }
  }
  if (pipe.ResetRequested || stopping_) reset = true;
  if (reset) {
    resetSocket(pipe.Client);
    resetSocket(pipe.Server);
  } else {
    ::close(pipe.Client);
    ::close(pipe.Server);
  }
  pipe.Done = true;
}

}  // namespace brn::test

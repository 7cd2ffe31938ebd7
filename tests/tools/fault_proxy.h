#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace brn::test {

// The direction of the bytes a fault hits.
enum class FaultDirection { ClientToServer, ServerToClient };

// What a fault does to a connection:
//   Reset     both sides are closed at once with a TCP reset; the bytes in
//             hand are dropped.
//   Stall     the direction forwards nothing for the stall time, then goes
//             on; the connection survives.
//   Truncate  part of the bytes in hand is forwarded, then both sides are
//             reset (a message cut in the middle).
enum class FaultKind { Reset, Stall, Truncate };

// Random faults: each chunk of bytes read from either side gets at most one
// fault, drawn with these chances (0..1, their sum at most 1).
struct FaultChances {
  double Reset = 0;
  double Stall = 0;
  double Truncate = 0;
  // How long a stall lasts.
  std::chrono::milliseconds StallTime{200};
};

// A TCP proxy of 127.0.0.1 for tests: listens on an ephemeral port of the
// loopback address and forwards every connection it accepts to a target
// port of 127.0.0.1, byte for byte, injecting faults on the way. Faults are
// drawn from a generator seeded per connection (the proxy's seed plus the
// connection's number), so a failing run is repeated with the same seed;
// armed faults hit the next bytes of their direction, whatever connection
// carries them.
//
// Bounded: the proxy stops by itself at its lifetime's end (all its
// connections reset), and every wait inside polls at most 50 ms, so the
// destructor returns promptly.
//
// Threads: every method may be called from any thread; one thread accepts
// and one thread serves each connection.
class FaultProxy {
 public:
  // Starts listening; raises std::runtime_error when no socket can be made.
  FaultProxy(uint16_t targetPort, uint32_t seed,
             std::chrono::milliseconds lifetime = std::chrono::seconds(120));
  ~FaultProxy();
  FaultProxy(const FaultProxy&) = delete;
  FaultProxy& operator=(const FaultProxy&) = delete;

  // The port the clients connect to.
  uint16_t Port() const { return port_; }
  uint32_t Seed() const { return seed_; }

  // Random faults for every chunk from now on (all chances 0: none).
  void SetChances(const FaultChances& chances);
  // One fault on the next bytes that travel in direction, once: after
  // afterBytes more bytes of that direction have been forwarded. A Truncate
  // forwards keepBytes of the chunk it hits (fewer when the chunk is
  // shorter) before the reset.
  void Arm(FaultDirection direction, FaultKind kind, int64_t afterBytes = 0,
           int32_t keepBytes = 0);
  // Whether the armed fault of direction has not fired yet.
  bool Armed(FaultDirection direction) const;
  // Resets every live connection now (an idle drop).
  void ResetAll();
  // Stops accepting and resets every connection; joins every thread.
  void Stop();

  // Counters: connections accepted, faults that fired, bytes forwarded in
  // each direction.
  int32_t Connections() const { return connections_.load(); }
  int32_t Faults() const { return faults_.load(); }
  int64_t Forwarded(FaultDirection direction) const;
  // Connections that are still open on both sides.
  int32_t LiveConnections() const;

 private:
  struct Pipe;
  struct ArmedFault {
    bool Set = false;
    FaultKind Kind = FaultKind::Reset;
    int64_t AfterBytes = 0;
    int32_t KeepBytes = 0;
  };
  // What to do with a chunk of count bytes read in direction.
  struct Decision {
    bool Fault = false;
    FaultKind Kind = FaultKind::Reset;
    // Bytes to forward before the fault.
    int32_t Forward = 0;
  };

  void acceptLoop();
  void serve(Pipe& pipe);
  Decision decide(Pipe& pipe, FaultDirection direction, int32_t count);

  const uint16_t targetPort_;
  const uint32_t seed_;
  const std::chrono::steady_clock::time_point deadline_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int32_t> connections_{0};
  std::atomic<int32_t> faults_{0};
  std::atomic<int64_t> forwarded_[2] = {0, 0};

  mutable std::mutex lock_;  // guards everything below
  FaultChances chances_;
  ArmedFault armed_[2];
  std::vector<std::unique_ptr<Pipe>> pipes_;
  std::thread acceptor_;
};

}  // namespace brn::test

#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>


namespace brn {

class TBRNMemoryStream;

// Every failure of the socket layer: a plain exception carrying its message.
// The comms layer above turns it into the engine error of its side.
class EBRNSocketException : public std::runtime_error {
 public:
  explicit EBRNSocketException(const std::string& message) : std::runtime_error(message) {}
};

// Raises "Socket error: <system text> (<number>), on API '<api>'".
[[noreturn]] void RaiseSocketError(int32_t errorCode, const std::string& api);

enum class TBRNSocketEventKind : uint8_t {
  Connecting = 0,
  Connected = 1,
  Disconnecting = 2,
  Listening = 3,
  ConnectionAccepted = 4,
};

enum class TBRNSocketErrorKind : uint8_t {
  SendFailed = 1,
  ReceiveFailed = 2,
};

// An IPv4 socket address as the OS takes it: Port and Addr in network byte
// order, Addr 0 meaning any interface.
struct TBRNSocketAddress {
  uint16_t Family = 2;
  uint16_t Port = 0;
  uint32_t Addr = 0;
};

class TBRNSocketWrapper;

// Argument is the wrapper itself, or for ConnectionAccepted the new
// connection.
using TBRNSocketEvent =
    std::function<void(TBRNSocketWrapper* Sender, TBRNSocketWrapper* Argument, TBRNSocketEventKind Kind)>;
// A handler that sets ErrorCode to 0 suppresses the exception of the failed
// call.
using TBRNSocketError =
    std::function<void(TBRNSocketWrapper* Sender, TBRNSocketErrorKind Kind, int32_t& ErrorCode)>;

// A blocking IPv4 TCP socket. The callbacks are set before the socket is used
// from several threads and are called on the thread that causes the event.
//
// Threads: SendBuffer, ReceiveBuffer, WaitForReadable, GetPeerAddress and
// Close may be called from several threads at once; each holds the socket
// lock (re-entrant), so a Close waits for a transfer in progress. When another
// thread holds the lock, Close first shuts the connection down, which wakes a
// transfer or a WaitForReadable blocked there: they return at once (a receive
// with 0 bytes, a wait with true) and Close goes on. GetOpen,
// GetHandle and LastError may be read from any thread. Connect and Listen
// belong to the thread that owns the wrapper.
class TBRNSocketWrapper {
 public:
  // A wrapper over an existing OS socket (open) or over none (-1).
  explicit TBRNSocketWrapper(int32_t Handle = -1);
  // Clears OnSocketEvent and closes an open socket.
  virtual ~TBRNSocketWrapper();
  TBRNSocketWrapper(const TBRNSocketWrapper&) = delete;
  TBRNSocketWrapper& operator=(const TBRNSocketWrapper&) = delete;

  // Resolves the address (Host first, else the dotted Address; both empty
  // raise "No socket address specified"; a non-empty Service replaces Port)
  // and connects. NoDelay sets TCP_NODELAY. Raises "Socket already open" when
  // open; any failure leaves the wrapper closed.
  void Connect(const std::string& Host, const std::string& Address, bool NoDelay, uint16_t Port,
               const std::string& Service);
  // The same for a listening socket: both empty listen on every interface.
  // Raises "Cannot listen on an open socket" when open.
  virtual void Listen(const std::string& Host, const std::string& Address, bool NoDelay,
                      uint16_t Port, const std::string& Service);
  // The handle of one accepted connection (close-on-exec, blocking), or -1.
  virtual int32_t Accept();
  // Closes an open socket: event Disconnecting, then the OS close.
  virtual void Close();

  // Send (or receive up to) Count bytes of the stream's buffer at its
  // position with one OS call; the position advances by the bytes moved,
  // which are returned. 0 when the wrapper is closed; a receive also gives 0
  // when the peer has closed. The range Position .. Position + Count must lie
  // inside the stream's Size (std::out_of_range otherwise; size the stream
  // before receiving). On an OS failure: LastError is set, DoSocketError
  // (kind SendFailed or ReceiveFailed) may clear the error code, the socket is
  // closed, and the socket error with API "send" or "recv" is raised unless
  // the code was cleared, in which case the result is -1. A peer that has
  // gone never raises a signal.
  int32_t SendBuffer(TBRNMemoryStream& Stream, int32_t Count);
  int32_t ReceiveBuffer(TBRNMemoryStream& Stream, int32_t Count);
  // true when data (or the peer's close, or an error) can be read within
  // Milliseconds; a negative value waits without time-out. false when closed.
  bool WaitForReadable(int32_t Milliseconds);
  // Copies up to Count of the bytes waiting to be read into Buffer without
  // taking them, and never waits: the number copied; 0 when the peer has
  // closed and nothing is left to read; -1 when nothing has arrived yet, the
  // wrapper is closed or the socket failed.
  int32_t PeekBuffer(void* Buffer, int32_t Count);
  // The number of bytes that have arrived and wait to be read; 0 when closed.
  int32_t GetQueuedCount();
  // Dotted address of the peer; empty when closed.
  std::string GetPeerAddress();
  // The address the socket is bound to, read from the OS (the port a listener
  // on port 0 got); the zero address when closed.
  TBRNSocketAddress GetLocalAddress();
  // Wakes every call blocked on this socket in other threads (they see the
  // connection closed) without closing it; the next Close closes it.
  void Shutdown();

  bool GetOpen() const { return open_.load(std::memory_order_acquire); }
  int32_t GetHandle() const { return handle_.load(std::memory_order_acquire); }
  // The address resolved by the last Connect or Listen (port as given, so 0
  // for a listener on port 0); the zero address once closed.
  TBRNSocketAddress GetAddress();

  TBRNSocketEvent OnSocketEvent;
  TBRNSocketError OnSocketError;
  // The last OS error number a send or receive read.
  std::atomic<int32_t> LastError{0};

 protected:
  virtual void DoSocketEvent(TBRNSocketWrapper* Argument, TBRNSocketEventKind Kind);
  virtual void DoSocketError(TBRNSocketErrorKind Kind, int32_t& ErrorCode);
  // Opens the socket for Connect and Listen; the caller holds nothing.
  void OpenSocket(const std::string& Host, const std::string& Address, bool NoDelay,
                  uint16_t Port, const std::string& Service, bool Listening);
  // Closes the OS socket under the socket lock (the base Close).
  void CloseSocket();
  // Waits for a connection on the listening socket (and for WakeFd to become
  // readable, when >= 0) and accepts it: the new handle, or -1 when woken or
  // nothing could be accepted.
  int32_t AcceptOne(int32_t WakeFd);
  // Accepts a connection that is already waiting, without blocking: the new
  // handle, or -1 when none waits or the accept failed (after a short pause
  // on WakeFd when the system is out of descriptors or memory).
  int32_t AcceptWaiting(int32_t WakeFd);
  int32_t Transfer(TBRNMemoryStream& Stream, int32_t Count, bool Sending);

  // Held for every use of the OS socket; re-entrant.
  std::recursive_mutex Lock;

 private:
  // Forgets and closes the handle; the OS error of the close, or 0.
  int closeHandle();

  std::atomic<int32_t> handle_{-1};
  std::atomic<bool> open_{false};
  // Guarded by Lock.
  TBRNSocketAddress address_;
  // Guards the handle against reuse between a Shutdown and the OS close: a
  // leaf lock, never held while calling out.
  std::mutex handleMutex_;
};

// The wrapper of a client connection.
class TBRNClientSocketWrapper : public TBRNSocketWrapper {
 public:
  TBRNClientSocketWrapper() : TBRNSocketWrapper(-1) {}
};

// Resolves Host (first IPv4 address, 0 when it does not resolve), else the
// dotted Address, else raises "No socket address specified" when RaiseIfNone
// or gives 0 (any interface). A non-empty Service gives the "tcp" port of that
// service (0 when unknown) in place of Port. Thread-safe.
TBRNSocketAddress ResolveSocketAddress(const std::string& Host, const std::string& Address,
                                       bool RaiseIfNone, uint16_t Port, const std::string& Service);

}  // namespace brn

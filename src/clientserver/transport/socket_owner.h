#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "clientserver/transport/listening_socket.h"
#include "clientserver/transport/socket.h"

namespace brn {

class TBRNCustomSocket;

using TBRNSocketOwnerEvent = std::function<void(TBRNCustomSocket* Sender, TBRNSocketWrapper* Argument)>;
using TBRNSocketOwnerError =
    std::function<void(TBRNCustomSocket* Sender, TBRNSocketErrorKind Kind, int32_t& ErrorCode)>;

// A socket owner: the connection settings, an open flag that follows its
// wrapper's events, and the user callbacks. Both ends turn on TCP_NODELAY:
// without it the last piece of a message larger than a send buffer waits for
// the peer's delayed acknowledgement.
//
// Threads: settings, Open and Close belong to the thread that owns the
// socket; GetOpen may be read from any thread. The callbacks run on the
// thread of the wrapper's event (OnAccept on the accept thread).
class TBRNCustomSocket {
 public:
  TBRNCustomSocket() = default;
  virtual ~TBRNCustomSocket() = default;
  TBRNCustomSocket(const TBRNCustomSocket&) = delete;
  TBRNCustomSocket& operator=(const TBRNCustomSocket&) = delete;

  // Connect or listen (Open), or close (Close), when the state differs.
  void Open();
  void Close();
  bool GetOpen() const { return open_.load(std::memory_order_acquire); }

  // Each setter does nothing for the current value and raises "Cannot perform
  // this operation when the socket is open" for a new one while open.
  const std::string& GetAddress() const { return address_; }
  void SetAddress(const std::string& Value);
  const std::string& GetHost() const { return host_; }
  void SetHost(const std::string& Value);
  uint16_t GetPort() const { return port_; }
  void SetPort(uint16_t Value);
  const std::string& GetService() const { return service_; }
  void SetService(const std::string& Value);

  TBRNSocketOwnerEvent OnConnecting;
  TBRNSocketOwnerEvent OnConnect;
  TBRNSocketOwnerEvent OnDisconnect;
  TBRNSocketOwnerEvent OnListen;
  TBRNSocketOwnerEvent OnAccept;
  TBRNSocketOwnerError OnError;

 protected:
  virtual void SetActive(bool Value) = 0;
  virtual void DoSocketEvent(TBRNSocketWrapper* Argument, TBRNSocketEventKind Kind);
  virtual void DoSocketError(TBRNSocketErrorKind Kind, int32_t& ErrorCode);
  // Routes the wrapper's two callbacks to this owner.
  void RouteWrapper(TBRNSocketWrapper& Wrapper);

 private:
  void checkClosed() const;

  std::atomic<bool> open_{false};
  uint16_t port_ = 0;
  std::string address_;
  std::string host_;
  std::string service_;
};

// The client end: one connection.
class TBRNClientSocket : public TBRNCustomSocket {
 public:
  TBRNClientSocket();
  // Frees the wrapper, which closes an open connection.
  ~TBRNClientSocket() override;

  TBRNClientSocketWrapper& GetWrapper() { return *wrapper_; }

 protected:
  void SetActive(bool Value) override;

 private:
  std::unique_ptr<TBRNClientSocketWrapper> wrapper_;
};

// The server end: a listener with a worker cache of 10 threads.
class TBRNServerSocket : public TBRNCustomSocket {
 public:
  TBRNServerSocket();
  // Closes first, which ends every worker and connection.
  ~TBRNServerSocket() override;

  void SetThreadCacheSize(int32_t Size) { wrapper_->SetThreadCacheSize(Size); }
  // Set while closed: the accept thread calls it.
  void SetGetThreadCallback(TBRNGetThreadEvent Callback) { wrapper_->OnGetThread = std::move(Callback); }
  TBRNServerSocketWrapper& GetWrapper() { return *wrapper_; }

 protected:
  void SetActive(bool Value) override;

 private:
  std::unique_ptr<TBRNServerSocketWrapper> wrapper_;
};

}  // namespace brn

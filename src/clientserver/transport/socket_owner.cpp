#include "clientserver/transport/socket_owner.h"

namespace brn {

// --- TBRNCustomSocket ---

void TBRNCustomSocket::Open() {
  if (!GetOpen()) SetActive(true);
}

void TBRNCustomSocket::Close() {
  if (GetOpen()) SetActive(false);
}

void TBRNCustomSocket::checkClosed() const {
  if (GetOpen()) throw EBRNSocketException("Cannot perform this operation when the socket is open");
}

void TBRNCustomSocket::SetAddress(const std::string& Value) {
  if (Value == address_) return;
  checkClosed();
  address_ = Value;
}

void TBRNCustomSocket::SetHost(const std::string& Value) {
  if (Value == host_) return;
  checkClosed();
  host_ = Value;
}

void TBRNCustomSocket::SetPort(uint16_t Value) {
  if (Value == port_) return;
  checkClosed();
  port_ = Value;
}

void TBRNCustomSocket::SetService(const std::string& Value) {
  if (Value == service_) return;
  checkClosed();
  service_ = Value;
}

void TBRNCustomSocket::RouteWrapper(TBRNSocketWrapper& Wrapper) {
  Wrapper.OnSocketEvent = [this](TBRNSocketWrapper*, TBRNSocketWrapper* argument,
                                 TBRNSocketEventKind kind) { DoSocketEvent(argument, kind); };
  Wrapper.OnSocketError = [this](TBRNSocketWrapper*, TBRNSocketErrorKind kind, int32_t& errorCode) {
    DoSocketError(kind, errorCode);
  };
}

void TBRNCustomSocket::DoSocketEvent(TBRNSocketWrapper* Argument, TBRNSocketEventKind Kind) {
  switch (uint8_t(Kind) & 0x7F) {
    case uint8_t(TBRNSocketEventKind::Connecting):
      if (OnConnecting) OnConnecting(this, Argument);
      break;
    case uint8_t(TBRNSocketEventKind::Connected):
      open_.store(true, std::memory_order_release);
      if (OnConnect) OnConnect(this, Argument);
      break;
    case uint8_t(TBRNSocketEventKind::Disconnecting):
      open_.store(false, std::memory_order_release);
      if (OnDisconnect) OnDisconnect(this, Argument);
      break;
    case uint8_t(TBRNSocketEventKind::Listening):
      open_.store(true, std::memory_order_release);
      if (OnListen) OnListen(this, Argument);
      break;
    case uint8_t(TBRNSocketEventKind::ConnectionAccepted):
      if (OnAccept) OnAccept(this, Argument);
      break;
    default:
      break;
  }
}

void TBRNCustomSocket::DoSocketError(TBRNSocketErrorKind Kind, int32_t& ErrorCode) {
  if (OnError) OnError(this, Kind, ErrorCode);
}

// --- TBRNClientSocket ---

TBRNClientSocket::TBRNClientSocket() : wrapper_(std::make_unique<TBRNClientSocketWrapper>()) {
  RouteWrapper(*wrapper_);
}

TBRNClientSocket::~TBRNClientSocket() {
  // The owner's handlers must not run while it is being destroyed.
  wrapper_->OnSocketEvent = nullptr;
  wrapper_->OnSocketError = nullptr;
  wrapper_.reset();
}

void TBRNClientSocket::SetActive(bool Value) {
  if (wrapper_->GetOpen() == Value) return;
  if (Value) {
    wrapper_->Connect(GetHost(), GetAddress(), true, GetPort(), GetService());
  } else {
    wrapper_->Close();
  }
}

// --- TBRNServerSocket ---

TBRNServerSocket::TBRNServerSocket() : wrapper_(std::make_unique<TBRNServerSocketWrapper>()) {
  RouteWrapper(*wrapper_);
  wrapper_->SetThreadCacheSize(10);
}

TBRNServerSocket::~TBRNServerSocket() {
  try {
    SetActive(false);
  } catch (...) {
    // Every thread is stopped before the OS close can fail.
  }
  wrapper_->OnSocketEvent = nullptr;
  wrapper_->OnSocketError = nullptr;
  wrapper_.reset();
}

void TBRNServerSocket::SetActive(bool Value) {
  if (wrapper_->GetOpen() == Value) return;
  if (Value) {
    wrapper_->Listen(GetHost(), GetAddress(), true, GetPort(), GetService());
  } else {
    wrapper_->Close();
  }
}

}  // namespace brn

#include "platform/datasets/connection.h"

#include <algorithm>

namespace brn {

TCustomConnection::TCustomConnection(TComponent* owner) : TComponent(owner) {}

TCustomConnection::~TCustomConnection() = default;

void TCustomConnection::SetConnected(bool value) {
  if (IsLoading()) {
    streamedConnected_ = value;
    return;
  }
  if (value == GetConnected()) return;
  if (value) {
    if (BeforeConnect) BeforeConnect(this);
    DoConnect();
    sendConnectEvent(true);
    if (AfterConnect) AfterConnect(this);
  } else {
    if (BeforeDisconnect) BeforeDisconnect(this);
    sendConnectEvent(false);
    DoDisconnect();
    if (AfterDisconnect) AfterDisconnect(this);
  }
}

void TCustomConnection::Loaded() {
  TComponent::Loaded();
  if (streamedConnected_) SetConnected(true);
}

void TCustomConnection::RegisterClient(TComponent* client, TConnectChangeEvent event) {
  auto found = std::find_if(clients_.begin(), clients_.end(),
                            [client](const Client& c) { return c.client == client; });
  if (found == clients_.end()) clients_.push_back({client, std::move(event)});
}

void TCustomConnection::UnRegisterClient(TComponent* client) {
  std::erase_if(clients_, [client](const Client& c) { return c.client == client; });
}

void TCustomConnection::sendConnectEvent(bool connecting) {
  // A client may unregister from its own event, so walk a copy.
  std::vector<Client> clients = clients_;
  for (const Client& c : clients)
    if (c.event) c.event(this, connecting);
}

}  // namespace brn

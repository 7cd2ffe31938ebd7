#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/component.h"

namespace brn {

using TNotifyEvent = std::function<void(TComponent* sender)>;
// Told to a registered client when its connection opens (true) or closes.
using TConnectChangeEvent = std::function<void(TComponent* connection, bool connecting)>;

// The base of connection components: Connected opens and closes whatever the
// derived class connects to, bracketed by the Before and After events, and
// the components that use the connection register with it as clients.
//
// Contract for derived classes: DoConnect and DoDisconnect do the work and
// GetConnected reports it; SetConnected only calls them when the state
// changes. While the component is loading, Connected is only recorded and
// applied in Loaded.
//
// Threads: the application's thread only.
class TCustomConnection : public TComponent {
 public:
  explicit TCustomConnection(TComponent* owner);
  // Clients must have unregistered; the derived destructor disconnects.
  ~TCustomConnection() override;

  virtual bool GetConnected() const { return false; }
  void SetConnected(bool value);
  void Open() { SetConnected(true); }
  void Close() { SetConnected(false); }

  // The registered clients, in registration order.
  int32_t GetClientCount() const { return int32_t(clients_.size()); }
  TComponent* GetClient(int32_t index) const { return clients_.at(size_t(index)).client; }

  // Registers a client once (a second registration is ignored); the event,
  // when given, hears every later connect and disconnect.
  virtual void RegisterClient(TComponent* client, TConnectChangeEvent event = nullptr);
  virtual void UnRegisterClient(TComponent* client);

  TNotifyEvent BeforeConnect;
  TNotifyEvent AfterConnect;
  TNotifyEvent BeforeDisconnect;
  TNotifyEvent AfterDisconnect;

 protected:
  virtual void DoConnect() {}
  virtual void DoDisconnect() {}
  // Connects when Connected was recorded as true during loading.
  void Loaded() override;
  bool GetStreamedConnected() const { return streamedConnected_; }

 private:
  struct Client {
    TComponent* client;
    TConnectChangeEvent event;
  };
  void sendConnectEvent(bool connecting);

  std::vector<Client> clients_;
  bool streamedConnected_ = false;
};

}  // namespace brn

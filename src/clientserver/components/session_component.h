#pragma once

#include <string>

#include "platform/component.h"

namespace brn {

// The session component as far as the engine component needs it: a named
// member of the engine's session registry that the engine disconnects when
// it stops and frees when the last engine component goes. The sessions it
// opens come with the session managers of a later stage.
//
// Threads: the application's thread only.
class TBRNSession : public TComponent {
 public:
  // Registers with the process's engine instance; std::logic_error when no
  // engine component exists.
  explicit TBRNSession(TComponent* owner);
  // Disconnects, then leaves the registry.
  ~TBRNSession() override;

  const std::string& GetSessionName() const { return sessionName_; }
  // Nothing when unchanged (exactly). "Cannot perform this operation on an
  // open session" when connected; "Session name '<name>' already exists"
  // when another registered session has it (ignoring case).
  void SetSessionName(const std::string& value);
  std::string SessionDescription;

  bool GetConnected() const { return connected_; }
  virtual void SetConnected(bool value);

 private:
  std::string sessionName_;
  bool connected_ = false;
};

}  // namespace brn

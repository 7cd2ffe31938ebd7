#include "clientserver/components/session_component.h"

#include <stdexcept>

#include "clientserver/components/engine_component.h"
#include "foundation/text/string_helpers.h"

namespace brn {

namespace {

TBRNEngineInstance& requireInstance() {
  TBRNEngineInstance* instance = TBRNEngineInstance::Get();
  if (instance == nullptr) throw std::logic_error("A session component needs an engine component");
  return *instance;
}

}  // namespace

TBRNSession::TBRNSession(TComponent* owner) : TComponent(owner) {
  requireInstance().AddSession(this);
}

TBRNSession::~TBRNSession() {
  connected_ = false;
  if (TBRNEngineInstance* instance = TBRNEngineInstance::Get()) instance->RemoveSession(this);
}

void TBRNSession::SetSessionName(const std::string& value) {
  if (value == sessionName_) return;
  if (connected_) DatabaseError("Cannot perform this operation on an open session");
  if (!value.empty()) {
    TBRNSession* other = requireInstance().FindSession(value);
    if (other != nullptr && other != this)
      DatabaseError(FormatText("Session name '%s' already exists", {value}));
  }
  sessionName_ = value;
}

void TBRNSession::SetConnected(bool value) {
  connected_ = value;
}

}  // namespace brn

#include "execution/handles/handle_registration.h"

#include "foundation/runtime/handle_objects.h"
#include "sessions/session_manager.h"

namespace brn {

void TBRNHandleRegistration::Register(TBRNHandleObject& object) {
  table_.AddObject(&object, false);
  try {
    sessionHandle_ = index_.Add(&database_, object.Handle);
  } catch (...) {
    table_.RemoveObject(&object, false);
    throw;
  }
  object_ = &object;
}

void TBRNHandleRegistration::Unregister() noexcept {
  TBRNHandleObject* object = std::exchange(object_, nullptr);
  if (object == nullptr) return;
  try {
    if (sessionHandle_ != 0) {
      TBRNSessionHandleTarget target = index_.GetTarget(sessionHandle_);
      if (target.Database == &database_ && target.Handle == object->Handle)
        index_.Remove(sessionHandle_);
      sessionHandle_ = 0;
    }
    table_.RemoveObject(object, false);
  } catch (...) {
    // Both tables answer misuse only; nothing is left to undo here.
  }
}

}  // namespace brn

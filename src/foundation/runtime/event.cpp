#include "foundation/runtime/event.h"

#include "platform/threads.h"

namespace brn {

TBRNEvent::TBRNEvent() {
  PlatformCreateEvent(Handle);
}

TBRNEvent::~TBRNEvent() {
  PlatformCloseEvent(Handle);
  Handle = nullptr;
}

void TBRNEvent::Signal() {
  PlatformSetEvent(Handle);
}

bool TBRNEvent::WaitFor(int32_t Ms) {
  return PlatformWaitForEvent(Handle, static_cast<uint32_t>(Ms));
}

}  // namespace brn

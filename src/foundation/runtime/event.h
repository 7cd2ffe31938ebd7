#pragma once

#include <cstdint>

namespace brn {

struct TPlatformEvent;

// An auto-reset event: Signal releases one wait and the event resets itself.
// Signal and WaitFor may be called from several threads at once; the event
// must outlive every wait on it.
class TBRNEvent {
 public:
  TBRNEvent();
  virtual ~TBRNEvent();
  TBRNEvent(const TBRNEvent&) = delete;
  TBRNEvent& operator=(const TBRNEvent&) = delete;

  void Signal();
  // true when the event was signalled within Ms milliseconds; false on
  // time-out or failure. -1 waits without time-out.
  bool WaitFor(int32_t Ms);

  bool ManualReset = false;
  TPlatformEvent* Handle = nullptr;
};

}  // namespace brn

#include "foundation/runtime/sections.h"

#include "foundation/runtime/interlocked.h"

namespace brn {

namespace {
// As good as waiting for ever.
constexpr uint32_t UnlimitedTries = 4294967295u;
}  // namespace

bool TBRNReadWriteSection::BeginRead(int32_t WaitMs) {
  return TryBeginReadCounter(Counter, UnlimitedTries, WaitMs);
}

bool TBRNReadWriteSection::EndRead() {
  return EndReadCounter(Counter);
}

bool TBRNReadWriteSection::BeginWrite(int32_t WaitMs) {
  return TryBeginWriteCounter(Counter, UnlimitedTries, WaitMs);
}

bool TBRNReadWriteSection::EndWrite() {
  return EndWriteCounter(Counter);
}

}  // namespace brn

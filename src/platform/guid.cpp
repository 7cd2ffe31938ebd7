#include "platform/guid.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace brn {

TBRNGuid CreateGUID() {
  uint8_t bytes[16];
  size_t filled = 0;
  while (filled < sizeof(bytes)) {
    ssize_t got = getrandom(bytes + filled, sizeof(bytes) - filled, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), "CreateGUID");
    }
    filled += size_t(got);
  }
  TBRNGuid guid;
  guid.Data1 = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
               uint32_t(bytes[3]) << 24;
  guid.Data2 = uint16_t(bytes[4] | bytes[5] << 8);
  guid.Data3 = uint16_t(((bytes[6] | bytes[7] << 8) & 0x0FFF) | 0x4000);
  std::memcpy(guid.Data4, bytes + 8, 8);
  guid.Data4[0] = uint8_t((guid.Data4[0] & 0x3F) | 0x80);
  return guid;
}

}  // namespace brn

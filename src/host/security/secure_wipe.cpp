#include "host/security/secure_wipe.h"

namespace brn {

void WipeBuffer(void* data, size_t size) noexcept {
  volatile unsigned char* bytes = static_cast<volatile unsigned char*>(data);
  for (unsigned char pattern : {0x55, 0xAA, 0xFF, 0x00}) {
    for (size_t i = 0; i < size; ++i) bytes[i] = pattern;
  }
}

void WipeString(std::string& text) noexcept {
  // The whole allocation, not only the characters in use: a shorter value
  // assigned earlier leaves the old tail behind the terminator.
  text.resize(text.capacity());
  WipeBuffer(text.data(), text.size());
  text.clear();
}

}  // namespace brn

#pragma once

#include <cstdint>

namespace brn {

// A GUID in the field layout of its text form.
struct TBRNGuid {
  uint32_t Data1 = 0;
  uint16_t Data2 = 0;
  uint16_t Data3 = 0;
  uint8_t Data4[8] = {};
};

// A new random (version 4) GUID from the kernel's random source.
TBRNGuid CreateGUID();

}  // namespace brn

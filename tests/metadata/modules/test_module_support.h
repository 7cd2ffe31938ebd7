#pragma once

// Helpers shared by the small modules the metadata tests load. Each module
// is its own shared library; nothing here keeps state.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "metadata/modules/module_abi.h"

namespace brn::testmodule {

// What every test module keeps per instance: the last error message and the
// last answer of a two-call buffer.
struct Instance {
  std::string Error;
  std::string Output;
  std::string Params;  // a migrator's parameter stream
  int32_t RowsGiven = 0;
};

inline brn::TBRNModuleBool Fail(void* instance, const std::string& message) {
  if (instance != nullptr) static_cast<Instance*>(instance)->Error = message;
  return 0;
}

// The two-call buffer protocol: the size first, then exactly that many bytes.
inline brn::TBRNModuleBool FillBuffer(const std::string& text, char* buffer, int32_t* size) {
  if (size == nullptr) return 0;
  if (buffer == nullptr) {
    *size = int32_t(text.size());
    return 1;
  }
  std::memcpy(buffer, text.data(), std::min(size_t(std::max(*size, 0)), text.size()));
  return 1;
}

inline void PutInt(std::string& out, int32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(char(uint32_t(value) >> (8 * i)));
}

inline int32_t GetInt(const char*& p, const char* end) {
  if (end - p < 4) {
    p = end;
    return 0;
  }
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= uint32_t(uint8_t(p[i])) << (8 * i);
  p += 4;
  return int32_t(value);
}

}  // namespace brn::testmodule

// The exports every test module has in common (one definition per module).
#define BRN_TEST_MODULE_COMMON_EXPORTS                                                           \
  BRN_MODULE_EXPORT brn::TBRNModuleBool BRN_MODULE_CALL OpenBRNModule(void** instance) {         \
    *instance = new brn::testmodule::Instance;                                                   \
    return 1;                                                                                    \
  }                                                                                              \
  BRN_MODULE_EXPORT brn::TBRNModuleBool BRN_MODULE_CALL CloseBRNModule(void* instance) {         \
    delete static_cast<brn::testmodule::Instance*>(instance);                                    \
    return 1;                                                                                    \
  }                                                                                              \
  BRN_MODULE_EXPORT brn::TBRNModuleBool BRN_MODULE_CALL GetBRNModuleErrorMsg(                    \
      void* instance, char* buffer, int32_t* size) {                                             \
    return brn::testmodule::FillBuffer(static_cast<brn::testmodule::Instance*>(instance)->Error, \
                                       buffer, size);                                            \
  }

// A routines module. "Add" puts the sum of its integer input parameters into
// every output parameter; "Fail" answers false with a message; "Callback"
// sends the text of its first text parameter to the engine as a log text and
// fails when the engine refuses it; "CallbackIgnoringAnswer" sends it too
// but answers true whatever the engine answered.

#include <vector>

#include "test_module_support.h"

using brn::TBRNModuleBool;
using brn::testmodule::Fail;
using brn::testmodule::GetInt;
using brn::testmodule::Instance;

namespace {

void* callbackHandle = nullptr;
brn::TBRNModuleCallback engineCallback = nullptr;

// The version section the engine reads from the file: translation 0409/04E4,
// FileVersion "1.2.3.4", FileDescription "Brindle test routines".
__attribute__((section(".brn_version"), used)) const unsigned char kVersionSection[] = {
    0x42, 0x52, 0x4E, 0x56, 0x45, 0x52, 0x53, 0x31, 0x18, 0x00, 0x5C, 0x56, 0x61, 0x72, 0x46, 0x69,
    0x6C, 0x65, 0x49, 0x6E, 0x66, 0x6F, 0x5C, 0x54, 0x72, 0x61, 0x6E, 0x73, 0x6C, 0x61, 0x74, 0x69,
    0x6F, 0x6E, 0x04, 0x00, 0x00, 0x00, 0x09, 0x04, 0xE4, 0x04, 0x24, 0x00, 0x5C, 0x53, 0x74, 0x72,
    0x69, 0x6E, 0x67, 0x46, 0x69, 0x6C, 0x65, 0x49, 0x6E, 0x66, 0x6F, 0x5C, 0x30, 0x34, 0x30, 0x39,
    0x30, 0x34, 0x45, 0x34, 0x5C, 0x46, 0x69, 0x6C, 0x65, 0x56, 0x65, 0x72, 0x73, 0x69, 0x6F, 0x6E,
    0x07, 0x00, 0x00, 0x00, 0x31, 0x2E, 0x32, 0x2E, 0x33, 0x2E, 0x34, 0x28, 0x00, 0x5C, 0x53, 0x74,
    0x72, 0x69, 0x6E, 0x67, 0x46, 0x69, 0x6C, 0x65, 0x49, 0x6E, 0x66, 0x6F, 0x5C, 0x30, 0x34, 0x30,
    0x39, 0x30, 0x34, 0x45, 0x34, 0x5C, 0x46, 0x69, 0x6C, 0x65, 0x44, 0x65, 0x73, 0x63, 0x72, 0x69,
    0x70, 0x74, 0x69, 0x6F, 0x6E, 0x15, 0x00, 0x00, 0x00, 0x42, 0x72, 0x69, 0x6E, 0x64, 0x6C, 0x65,
    0x20, 0x74, 0x65, 0x73, 0x74, 0x20, 0x72, 0x6F, 0x75, 0x74, 0x69, 0x6E, 0x65, 0x73};

constexpr int32_t kInteger = 6;  // the engine's integer type code
constexpr int32_t kChar = 1;

struct Param {
  int32_t Direction = 0;
  int32_t Type = 0;
  bool Null = true;
  int32_t Integer = 0;
  std::string Text;
};

// Reads the parameter stream (integer and text values only).
bool readParams(const char* p, const char* end, std::vector<Param>& params) {
  int32_t count = GetInt(p, end);
  for (int32_t i = 0; i < count; ++i) {
    Param param;
    param.Direction = GetInt(p, end);
    int32_t nameLength = GetInt(p, end);
    if (nameLength < 0 || nameLength > end - p) return false;
    p += nameLength;
    param.Type = GetInt(p, end);
    for (int k = 0; k < 4; ++k) GetInt(p, end);  // subtype, length, scale, collation
    if (p >= end) return false;
    param.Null = *p++ != 0;
    if (!param.Null) {
      if (param.Type == kInteger) {
        param.Integer = GetInt(p, end);
      } else if (param.Type == kChar) {
        int32_t length = GetInt(p, end);
        if (length < 0 || length > end - p) return false;
        param.Text.assign(p, size_t(length));
        p += length;
      } else {
        return false;
      }
    }
    params.push_back(param);
  }
  return true;
}

}  // namespace

BRN_MODULE_EXPORT TBRNModuleBool BRN_MODULE_CALL ValidateBRNModule(int32_t kind) {
  return kind == brn::kModuleKindRoutines;
}

BRN_MODULE_EXPORT TBRNModuleBool BRN_MODULE_CALL ValidateBRNModuleCharacterSet(int32_t set) {
  return set == brn::kModuleCharacterSetAnsi;
}

BRN_MODULE_EXPORT TBRNModuleBool BRN_MODULE_CALL
SetBRNModuleCallbackFunction(void* moduleHandle, brn::TBRNModuleCallback callback) {
  callbackHandle = moduleHandle;
  engineCallback = callback;
  return 1;
}

BRN_TEST_MODULE_COMMON_EXPORTS

BRN_MODULE_EXPORT TBRNModuleBool BRN_MODULE_CALL CallBRNRoutine(void* instance,
                                                                const char* routineName,
                                                                const void* params,
                                                                int32_t paramsSize) {
  auto* self = static_cast<Instance*>(instance);
  std::string name = routineName;
  std::vector<Param> list;
  const char* begin = static_cast<const char*>(params);
  if (paramsSize > 0 && !readParams(begin, begin + paramsSize, list)) {
    return Fail(instance, "Bad parameter stream");
  }
  self->Output.clear();
  if (name == "Fail") return Fail(instance, "The routine failed on purpose");
  if (name == "Callback" || name == "CallbackIgnoringAnswer") {
    std::string text = list.empty() ? std::string() : list[0].Text;
    int32_t size = int32_t(text.size());
    if (engineCallback == nullptr ||
        engineCallback(callbackHandle, brn::kModuleRequestLogText, &size, text.data()) == 0) {
      if (name == "Callback") return Fail(instance, "The engine refused the log text");
    }
    return 1;
  }
  if (name != "Add") return Fail(instance, "Unknown routine " + name);
  int32_t sum = 0;
  for (const Param& param : list) {
    if ((param.Direction == 1 || param.Direction == 3) && !param.Null) sum += param.Integer;
  }
  for (const Param& param : list) {
    if (param.Direction < 2) continue;
    self->Output.push_back(0);  // not NULL
    brn::testmodule::PutInt(self->Output, sum);
  }
  return 1;
}

BRN_MODULE_EXPORT TBRNModuleBool BRN_MODULE_CALL GetBRNOutputParams(void* instance, char* buffer,
                                                                    int32_t* size) {
  return brn::testmodule::FillBuffer(static_cast<Instance*>(instance)->Output, buffer, size);
}

// A word-generator module: words are runs of letters and digits, given in
// lower case. Its instances hold no state, so they are one shared counter of
// open instances. Test hooks: TestFailNextOpen and TestFailNextClose make the
// next OpenBRNModule or CloseBRNModule answer false (a failed close still
// frees the instance); TestOpenInstances answers the counter.

#include <cctype>

#include "test_module_support.h"

using brn::TBRNModuleBool;

namespace {
bool failNextOpen = false;
bool failNextClose = false;
int32_t openInstances = 0;
}  // namespace

BRN_MODULE_EXPORT void TestFailNextOpen() {
  failNextOpen = true;
}

BRN_MODULE_EXPORT void TestFailNextClose() {
  failNextClose = true;
}

BRN_MODULE_EXPORT int32_t TestOpenInstances() {
  return openInstances;
}

BRN_MODULE_EXPORT TBRNModuleBool BRN_MODULE_CALL ValidateBRNModule(int32_t kind) {
  return kind == brn::kModuleKindWordGenerator;
}

BRN_MODULE_EXPORT TBRNModuleBool BRN_MODULE_CALL ValidateBRNModuleCharacterSet(int32_t set) {
  return set == brn::kModuleCharacterSetAnsi;
}

BRN_MODULE_EXPORT TBRNModuleBool BRN_MODULE_CALL
SetBRNModuleCallbackFunction(void*, brn::TBRNModuleCallback) {
  return 1;
}

BRN_MODULE_EXPORT TBRNModuleBool BRN_MODULE_CALL OpenBRNModule(void** instance) {
  if (failNextOpen) {
    failNextOpen = false;
    return 0;
  }
  ++openInstances;
  *instance = &openInstances;
  return 1;
}

BRN_MODULE_EXPORT TBRNModuleBool BRN_MODULE_CALL CloseBRNModule(void*) {
  --openInstances;
  if (failNextClose) {
    failNextClose = false;
    return 0;
  }
  return 1;
}

BRN_MODULE_EXPORT TBRNModuleBool BRN_MODULE_CALL GetBRNModuleErrorMsg(void*, char* buffer,
                                                                      int32_t* size) {
  return brn::testmodule::FillBuffer("The generator has no errors", buffer, size);
}

BRN_MODULE_EXPORT TBRNModuleBool BRN_MODULE_CALL
CallBRNWordGenerator(void*, int32_t, const char* text, int32_t textLength, char* wordBuffer,
                     int32_t wordBufferSize, int32_t* wordLength, int32_t* position, int32_t) {
  auto isWordChar = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; };
  int32_t i = *position - 1;
  while (i < textLength && !isWordChar(text[i])) ++i;
  int32_t length = 0;
  while (i < textLength && isWordChar(text[i])) {
    if (length < wordBufferSize) {
      wordBuffer[length++] = char(std::tolower(static_cast<unsigned char>(text[i])));
    }
    ++i;
  }
  *wordLength = length;
  *position = i + 1;
  return 1;
}

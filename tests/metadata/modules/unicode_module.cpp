// A routines module built for the Unicode character set only.

#include "test_module_support.h"

using brn::TBRNModuleBool;

BRN_MODULE_EXPORT TBRNModuleBool BRN_MODULE_CALL ValidateBRNModule(int32_t kind) {
  return kind == brn::kModuleKindRoutines;
}

BRN_MODULE_EXPORT TBRNModuleBool BRN_MODULE_CALL ValidateBRNModuleCharacterSet(int32_t set) {
  return set == brn::kModuleCharacterSetUnicode;
}

BRN_MODULE_EXPORT TBRNModuleBool BRN_MODULE_CALL
SetBRNModuleCallbackFunction(void*, brn::TBRNModuleCallback) {
  return 1;
}

BRN_TEST_MODULE_COMMON_EXPORTS

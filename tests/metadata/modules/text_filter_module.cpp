// A text-filter module without a character-set export. Filter type "HTML"
// drops the tags of a document; any other type is refused.

#include <cctype>

#include "test_module_support.h"

using brn::TBRNModuleBool;
using brn::testmodule::Fail;
using brn::testmodule::Instance;

BRN_MODULE_EXPORT TBRNModuleBool BRN_MODULE_CALL ValidateBRNModule(int32_t kind) {
  return kind == brn::kModuleKindTextFilter;
}

BRN_MODULE_EXPORT TBRNModuleBool BRN_MODULE_CALL
SetBRNModuleCallbackFunction(void*, brn::TBRNModuleCallback) {
  return 1;
}

BRN_TEST_MODULE_COMMON_EXPORTS

BRN_MODULE_EXPORT TBRNModuleBool BRN_MODULE_CALL CallBRNTextFilter(void* instance,
                                                                   const char* filterType,
                                                                   const char* text,
                                                                   int32_t textLength) {
  auto* self = static_cast<Instance*>(instance);
  std::string type = filterType;
  for (char& c : type) c = char(std::toupper(static_cast<unsigned char>(c)));
  if (type != "HTML") return Fail(instance, "Unknown filter type " + std::string(filterType));
  self->Output.clear();
  bool inTag = false;
  for (int32_t i = 0; i < textLength; ++i) {
    if (text[i] == '<') {
      inTag = true;
    } else if (text[i] == '>') {
      inTag = false;
    } else if (!inTag) {
      self->Output.push_back(text[i]);
    }
  }
  return 1;
}

BRN_MODULE_EXPORT TBRNModuleBool BRN_MODULE_CALL GetBRNOutputText(void* instance, char* buffer,
                                                                  int32_t* size) {
  return brn::testmodule::FillBuffer(static_cast<Instance*>(instance)->Output, buffer, size);
}

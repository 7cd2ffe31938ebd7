#pragma once

#include <memory>
#include <string>

#include "foundation/values/contained_value.h"
#include "foundation/text/exception.h"

namespace brn::testing {

// A contained value described the way the evaluator sets one up: type,
// subtype, length, scale, in that order. The value is NULL until data is set.
inline std::unique_ptr<TBRNContainedValue> MakeValue(TBRNDataTypeCode type,
                                                     TBRNDataSubType subType = stDefault,
                                                     int32_t length = 0, int32_t scale = 0) {
  auto value = std::make_unique<TBRNContainedValue>();
  value->SetDataType(type);
  value->SetDataSubType(subType);
  value->SetLength(length);
  value->SetScale(scale);
  return value;
}

// The same, holding the data of text (through SetAsString).
inline std::unique_ptr<TBRNContainedValue> MakeValue(TBRNDataTypeCode type, TBRNDataSubType subType,
                                                     int32_t length, int32_t scale,
                                                     const std::string& text) {
  auto value = MakeValue(type, subType, length, scale);
  value->SetAsString(text);
  return value;
}

// What an operation gave: its result text, or for error 1011 "E!" (a
// conversion error), "R!" (out of range) or "T!" (truncation).
template <typename F>
std::string Outcome(F&& operation) {
  try {
    return operation();
  } catch (const EBRNException& e) {
    if (e.ErrorCode != 1011) return "code " + std::to_string(e.ErrorCode);
    if (e.ErrorMessage.find("out of the range") != std::string::npos) return "R!";
    if (e.ErrorMessage.find("truncation") != std::string::npos) return "T!";
    return "E!";
  }
}

}  // namespace brn::testing

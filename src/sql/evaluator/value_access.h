#pragma once

// Short paths the evaluator's routines take for the most common operand
// and result types. Each does exactly what the converting getter or setter
// of TBRNValue does for that type, without its type switch.
#include "foundation/values/value.h"

namespace brn::evaluation {

// SetAsBoolean.
inline void SetBooleanResult(TBRNValue& Result, bool Value) {
  if (Result.GetDataType() == dtBoolean) {
    Result.SetNullFlag(false);
    Result.SetBooleanData(Value);
  } else {
    Result.SetAsBoolean(Value);
  }
}

// The truth of a value known not to be NULL.
inline bool TruthOfValue(const TBRNValue& Value) {
  return Value.GetDataType() == dtBoolean ? Value.GetBooleanData() : Value.GetAsBoolean();
}

// The truth of a value: FALSE for NULL.
inline bool Truth(const TBRNValue& Value) {
  return !Value.GetNull() && TruthOfValue(Value);
}

}  // namespace brn::evaluation

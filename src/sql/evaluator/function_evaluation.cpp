// The built-in function entries of the routine table, the steps the function
// routines share, and the conditional functions (CASE, IF, IFNULL,
// COALESCE, NULLIF).
#include <cmath>
#include <stdexcept>
#include <string>

#include "foundation/text/exception.h"
#include "foundation/values/value.h"
#include "sql/evaluator/expr_evaluator.h"
#include "sql/evaluator/function_routines.h"
#include "sql/evaluator/value_access.h"
#include "sql/tree/expr_token.h"

namespace brn {

template <void (*Routine)(TBRNExprEvaluator&, TBRNExprToken*)>
void TBRNExprEvaluator::RunFunction(TBRNExprToken* Node) {
  Routine(*this, Node);
}

void TBRNExprEvaluator::bindFunctionRoutines() {
  using namespace evaluation;
  auto& table = OperationRoutines;
#define BRN_BIND_FUNCTION(Op, Routine) table[(Op) + 12] = &TBRNExprEvaluator::RunFunction<&Routine>
  BRN_BIND_FUNCTION(opAbs, EvaluateAbs);
  BRN_BIND_FUNCTION(opAcos, EvaluateAcos);
  BRN_BIND_FUNCTION(opAsin, EvaluateAsin);
  BRN_BIND_FUNCTION(opAtan, EvaluateAtan);
  BRN_BIND_FUNCTION(opAtan2, EvaluateAtan2);
  BRN_BIND_FUNCTION(opAvg, EvaluateAvg);
  BRN_BIND_FUNCTION(opCase, EvaluateCase);
  BRN_BIND_FUNCTION(opCast, EvaluateCast);
  BRN_BIND_FUNCTION(opCeiling, EvaluateCeiling);
  BRN_BIND_FUNCTION(opCoalesce, EvaluateCoalesce);
  BRN_BIND_FUNCTION(opConcat, EvaluateConcat);
  BRN_BIND_FUNCTION(opCos, EvaluateCos);
  BRN_BIND_FUNCTION(opCot, EvaluateCot);
  BRN_BIND_FUNCTION(opCurrentDate, EvaluateCurrentDate);
  BRN_BIND_FUNCTION(opCurrentGuid, EvaluateCurrentGuid);
  BRN_BIND_FUNCTION(opCurrentTime, EvaluateCurrentTime);
  BRN_BIND_FUNCTION(opCurrentTimestamp, EvaluateCurrentTimestamp);
  BRN_BIND_FUNCTION(opDegrees, EvaluateDegrees);
  BRN_BIND_FUNCTION(opExp, EvaluateExp);
  for (TBRNExprOperation op :
       {opExtractDay, opExtractDayOfWeek, opExtractDayOfYear, opExtractHour, opExtractMinute,
        opExtractMonth, opExtractMSecond, opExtractSecond, opExtractWeek, opExtractYear})
    BRN_BIND_FUNCTION(op, EvaluateExtract);
  BRN_BIND_FUNCTION(opFloor, EvaluateFloor);
  BRN_BIND_FUNCTION(opIfNull, EvaluateIfNull);
  BRN_BIND_FUNCTION(opIf, EvaluateIf);
  BRN_BIND_FUNCTION(opLeft, EvaluateLeft);
  BRN_BIND_FUNCTION(opLength, EvaluateLength);
  BRN_BIND_FUNCTION(opLog, EvaluateLog);
  BRN_BIND_FUNCTION(opLog10, EvaluateLog10);
  BRN_BIND_FUNCTION(opLower, EvaluateLower);
  BRN_BIND_FUNCTION(opNullIf, EvaluateNullIf);
  BRN_BIND_FUNCTION(opOccurs, EvaluateOccurs);
  BRN_BIND_FUNCTION(opPi, EvaluatePi);
  BRN_BIND_FUNCTION(opPosition, EvaluatePosition);
  BRN_BIND_FUNCTION(opPower, EvaluatePower);
  BRN_BIND_FUNCTION(opQuotedStr, EvaluateQuotedStr);
  BRN_BIND_FUNCTION(opRadians, EvaluateRadians);
  BRN_BIND_FUNCTION(opRand, EvaluateRand);
  BRN_BIND_FUNCTION(opRepeat, EvaluateRepeat);
  BRN_BIND_FUNCTION(opReplace, EvaluateReplace);
  BRN_BIND_FUNCTION(opRight, EvaluateRight);
  BRN_BIND_FUNCTION(opRound, EvaluateRound);
  BRN_BIND_FUNCTION(opRunSum, EvaluateRunSum);
  BRN_BIND_FUNCTION(opSign, EvaluateSign);
  BRN_BIND_FUNCTION(opSin, EvaluateSin);
  BRN_BIND_FUNCTION(opSqrt, EvaluateSqrt);
  BRN_BIND_FUNCTION(opStdDev, EvaluateStdDev);
  BRN_BIND_FUNCTION(opSubstring, EvaluateSubstring);
  BRN_BIND_FUNCTION(opTan, EvaluateTan);
  BRN_BIND_FUNCTION(opTrimBoth, EvaluateTrimBoth);
  BRN_BIND_FUNCTION(opTrimLeading, EvaluateTrimLeading);
  BRN_BIND_FUNCTION(opTrimTrailing, EvaluateTrimTrailing);
  BRN_BIND_FUNCTION(opTruncate, EvaluateTruncate);
  BRN_BIND_FUNCTION(opUpper, EvaluateUpper);
#undef BRN_BIND_FUNCTION
}

namespace evaluation {

// ---- Shared steps ----------------------------------------------------------------

void CheckBuiltTextLength(int64_t Length) {
  if (Length <= MaxBuiltTextLength) return;
  RaiseConversionFailure("value", "text of " + std::to_string(Length) + " characters",
                         "The text is longer than the " + std::to_string(MaxBuiltTextLength) +
                             " characters a function may build");
}

TBRNExprToken* EvaluatedArgument(TBRNExprEvaluator& E, TBRNExprToken* Node, int32_t Index) {
  if (Index >= Node->ArgumentCount()) return nullptr;
  TBRNExprToken* argument = Node->Argument(Index);
  if (argument != nullptr) E.EvaluateToken(argument);
  return argument;
}

bool StopsOnNull(const TBRNExprEvaluator& E, TBRNExprToken* Node, const TBRNExprToken* Argument) {
  if (Argument != nullptr && !(E.StandardNullBehavior && Argument->Value->GetNull())) return false;
  Node->Value->SetNull(true);
  return true;
}

void SetFloatResult(TBRNExprToken* Node, double X) {
  if (std::isfinite(X))
    Node->Value->SetAsFloat(X);
  else
    Node->Value->SetNull(true);
}

void RaiseOutOfRange(const TBRNExprToken* Node, std::string_view Text) {
  Node->Value->RaiseOutOfRangeError(Text, false);
  throw std::logic_error("A value's range error returned");
}

// ---- Conditional functions ---------------------------------------------------------

namespace {

// The result taken from Source: NULL under StandardNullBehavior when Source
// is NULL, otherwise assigned (converted to the node's type).
void TakeResult(const TBRNExprEvaluator& E, TBRNExprToken* Node, TBRNExprToken* Source) {
  if (Source == nullptr || (E.StandardNullBehavior && Source->Value->GetNull())) {
    Node->Value->SetNull(true);
    return;
  }
  if (Source->Value->GetNull())
    Node->Value->SetNull(true);
  else
    Node->Value->Assign(*Source->Value);
}

}  // namespace

void EvaluateCase(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  TBRNExprToken* conditions = Node->ArgumentCount() > 0 ? Node->Argument(0) : nullptr;
  TBRNExprToken* results = Node->ArgumentCount() > 1 ? Node->Argument(1) : nullptr;
  if (conditions == nullptr || results == nullptr) {
    Node->Value->SetNull(true);
    return;
  }
  // A simple CASE evaluates its operand once; each WHEN value is then taken
  // when "operand = value" would be TRUE.
  TBRNExprToken* operand = EvaluatedArgument(E, Node, 2);
  const int32_t count = conditions->ArgumentCount();
  for (int32_t i = 0; i < count; ++i) {
    TBRNExprToken* condition = conditions->Argument(i);
    if (condition == nullptr) continue;
    if (condition->Operation != opDefault) {
      E.EvaluateToken(condition);
      if (operand == nullptr) {
        if (!Truth(*condition->Value)) continue;
      } else {
        const bool unknown =
            E.StandardNullBehavior && (operand->Value->GetNull() || condition->Value->GetNull());
        if (unknown || TBRNExprEvaluator::CompareEvaluated(operand, condition, 0) != 0) continue;
      }
    }
    TakeResult(E, Node, EvaluatedArgument(E, results, i));
    return;
  }
  Node->Value->SetNull(true);
}

void EvaluateIf(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  TBRNExprToken* condition = EvaluatedArgument(E, Node, 0);
  const bool taken = condition != nullptr && Truth(*condition->Value);
  TakeResult(E, Node, EvaluatedArgument(E, Node, taken ? 1 : 2));
}

void EvaluateIfNull(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  TBRNExprToken* tested = EvaluatedArgument(E, Node, 0);
  const bool isNull = tested == nullptr || tested->Value->GetNull();
  TakeResult(E, Node, EvaluatedArgument(E, Node, isNull ? 1 : 2));
}

void EvaluateCoalesce(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  Node->Value->SetNull(true);
  for (int32_t i = 0; i < Node->ArgumentCount(); ++i) {
    TBRNExprToken* argument = EvaluatedArgument(E, Node, i);
    if (argument == nullptr || argument->Value->GetNull()) continue;
    Node->Value->Assign(*argument->Value);
    return;
  }
}

void EvaluateNullIf(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  TBRNExprToken* first = EvaluatedArgument(E, Node, 0);
  TBRNExprToken* second = EvaluatedArgument(E, Node, 1);
  if (first == nullptr || first->Value->GetNull()) {
    Node->Value->SetNull(true);
    return;
  }
  if (second != nullptr && !second->Value->GetNull() &&
      TBRNExprEvaluator::CompareValues(*first->Value, *second->Value, Node->PartialLength,
                                       first->Collation) == 0) {
    Node->Value->SetNull(true);
    return;
  }
  Node->Value->Assign(*first->Value);
}

}  // namespace evaluation
}  // namespace brn

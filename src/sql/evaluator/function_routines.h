#pragma once

// The routines of the built-in functions and of CAST, as free functions over
// the evaluator (which is their target) and the function node. The routine
// table binds each through TBRNExprEvaluator::RunFunction.
//
// Every routine writes its node's value on every evaluation (a result, NULL,
// or an error), so no earlier row's result ever shows through. Math never
// stores infinity or NaN: a result outside the domain is NULL. Integer
// results that do not fit the node's type raise the conversion error 1011,
// as does a text result beyond MaxBuiltTextLength.
#include <cstdint>
#include <string_view>

namespace brn {

class TBRNExprEvaluator;
class TBRNExprToken;

namespace evaluation {

// The longest text a text-building function (CONCAT, REPEAT, REPLACE,
// QUOTEDSTR) may produce; beyond it the function raises 1011 before it
// builds anything. Aggregates that build text (LIST) use the same limit.
inline constexpr int64_t MaxBuiltTextLength = int64_t(64) * 1024 * 1024;

// Raises 1011 when a text of Length characters would exceed
// MaxBuiltTextLength.
void CheckBuiltTextLength(int64_t Length);

// Seeds the process-wide generator of RAND (tests make it repeatable).
// Thread-safe: any thread may seed or draw at any time.
void SeedRandomGenerator(uint64_t Seed);

using TBRNFunctionRoutine = void (*)(TBRNExprEvaluator&, TBRNExprToken*);

// Numeric functions and the aggregate finishing routines
// (numeric_functions.cpp).
void EvaluateAbs(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateAcos(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateAsin(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateAtan(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateAtan2(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateCeiling(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateFloor(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateCos(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateSin(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateTan(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateCot(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateDegrees(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateRadians(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateExp(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateLog(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateLog10(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluatePi(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluatePower(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateSign(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateSqrt(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateRand(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateRound(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateTruncate(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateAvg(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateRunSum(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateStdDev(TBRNExprEvaluator& E, TBRNExprToken* Node);

// Text functions (string_functions.cpp).
void EvaluateConcat(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateLeft(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateRight(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateSubstring(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateRepeat(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateReplace(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluatePosition(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateOccurs(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateLength(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateLower(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateUpper(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateQuotedStr(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateTrimBoth(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateTrimLeading(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateTrimTrailing(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateCurrentGuid(TBRNExprEvaluator& E, TBRNExprToken* Node);

// Date and time functions (date_functions.cpp). One routine serves every
// EXTRACT field: it reads the field from the node's operation.
void EvaluateCurrentDate(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateCurrentTime(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateCurrentTimestamp(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateExtract(TBRNExprEvaluator& E, TBRNExprToken* Node);

// Conditional functions (function_evaluation.cpp).
void EvaluateCase(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateIf(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateIfNull(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateCoalesce(TBRNExprEvaluator& E, TBRNExprToken* Node);
void EvaluateNullIf(TBRNExprEvaluator& E, TBRNExprToken* Node);

// CAST (cast_evaluation.cpp).
void EvaluateCast(TBRNExprEvaluator& E, TBRNExprToken* Node);

// Shared steps of the routines.

// The argument at Index, evaluated; nullptr when absent.
TBRNExprToken* EvaluatedArgument(TBRNExprEvaluator& E, TBRNExprToken* Node, int32_t Index);
// True (with the result set NULL) when under StandardNullBehavior the
// evaluated Argument is NULL; the routine then stops. A missing argument
// stops too.
bool StopsOnNull(const TBRNExprEvaluator& E, TBRNExprToken* Node, const TBRNExprToken* Argument);
// Writes X with SetAsFloat, or NULL when X is infinite or not a number.
void SetFloatResult(TBRNExprToken* Node, double X);
// Raises 1011 naming Text: the result does not fit the node's type.
[[noreturn]] void RaiseOutOfRange(const TBRNExprToken* Node, std::string_view Text);

}  // namespace evaluation
}  // namespace brn

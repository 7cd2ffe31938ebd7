// The numeric functions and the routines that finish AVG, RUNSUM and
// STDDEV from the running SUM, COUNT and SUMSQUARE of their group.
#include <cmath>
#include <cstdint>
#include <limits>
#include <mutex>
#include <numbers>
#include <random>
#include <stdexcept>

#include "foundation/core/numeric_helpers.h"
#include "foundation/types/data_types.h"
#include "foundation/types/literal_text.h"
#include "foundation/values/value.h"
#include "sql/evaluator/expr_evaluator.h"
#include "sql/evaluator/function_routines.h"
#include "sql/tree/expr_token.h"

namespace brn::evaluation {

namespace {

// A one-argument float function: NULL (under StandardNullBehavior) for a
// NULL argument, NULL for a result outside the domain (an exception of the
// computation, infinity or NaN).
template <typename F>
void FloatFunction(TBRNExprEvaluator& E, TBRNExprToken* Node, F&& Compute) {
  TBRNExprToken* argument = EvaluatedArgument(E, Node, 0);
  if (StopsOnNull(E, Node, argument)) return;
  const double x = argument->Value->GetAsFloat();
  double result;
  try {
    result = double(Compute(x));
  } catch (const std::exception&) {
    Node->Value->SetNull(true);
    return;
  }
  SetFloatResult(Node, result);
}

// The same with two arguments, both evaluated before the NULL test.
template <typename F>
void FloatFunction2(TBRNExprEvaluator& E, TBRNExprToken* Node, F&& Compute) {
  TBRNExprToken* first = EvaluatedArgument(E, Node, 0);
  TBRNExprToken* second = EvaluatedArgument(E, Node, 1);
  if (StopsOnNull(E, Node, first) || StopsOnNull(E, Node, second)) return;
  SetFloatResult(Node, double(Compute(first->Value->GetAsFloat(), second->Value->GetAsFloat())));
}

// Writes a 64-bit integer result; the setter raises 1011 when it does not
// fit the node's type.
void SetIntegerResult(TBRNExprToken* Node, int64_t Value) {
  Node->Value->SetAsBigInt(Value);
}

[[noreturn]] void RaiseIntegerOverflow(const TBRNExprToken* Node, __int128 Value) {
  const bool negative = Value < 0;
  unsigned __int128 magnitude =
      negative ? -static_cast<unsigned __int128>(Value) : static_cast<unsigned __int128>(Value);
  std::string digits;
  do {
    digits.insert(digits.begin(), char('0' + int(magnitude % 10)));
    magnitude /= 10;
  } while (magnitude != 0);
  RaiseOutOfRange(Node, (negative ? "-" : "") + digits);
}

int64_t Checked64(const TBRNExprToken* Node, __int128 Value) {
  if (Value > std::numeric_limits<int64_t>::max() || Value < std::numeric_limits<int64_t>::min())
    RaiseIntegerOverflow(Node, Value);
  return int64_t(Value);
}

// The number of places of ROUND and TRUNCATE: argument 1 (evaluated after
// the NULL test of argument 0), else 0.
int32_t PlaceCount(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  TBRNExprToken* places = EvaluatedArgument(E, Node, 1);
  return places == nullptr ? 0 : places->Value->GetAsInteger();
}

// Integer division rounded to the nearest integer, ties to even.
int64_t DivideNearest(const TBRNExprToken* Node, int64_t Dividend, int64_t Divisor) {
  __int128 quotient = __int128(Dividend) / Divisor;
  const __int128 remainder = __int128(Dividend) % Divisor;
  const __int128 twice = remainder < 0 ? -2 * remainder : 2 * remainder;
  const __int128 divisor = Divisor < 0 ? -__int128(Divisor) : __int128(Divisor);
  if (twice > divisor || (twice == divisor && (quotient & 1) != 0))
    quotient += (remainder < 0) == (Divisor < 0) ? 1 : -1;
  return Checked64(Node, quotient);
}

// The generator of RAND, one for the process.
struct RandomSource {
  std::mutex Lock;
  std::mt19937_64 Generator{std::random_device{}()};
};

RandomSource& Random() {
  static RandomSource source;
  return source;
}

// A float in [0, 1).
double NextRandomFloat() {
  RandomSource& source = Random();
  std::lock_guard<std::mutex> guard(source.Lock);
  return std::uniform_real_distribution<double>(0.0, 1.0)(source.Generator);
}

// An integer in [0, Limit); Limit > 0.
int64_t NextRandomInteger(int64_t Limit) {
  RandomSource& source = Random();
  std::lock_guard<std::mutex> guard(source.Lock);
  return std::uniform_int_distribution<int64_t>(0, Limit - 1)(source.Generator);
}

}  // namespace

void SeedRandomGenerator(uint64_t Seed) {
  RandomSource& source = Random();
  std::lock_guard<std::mutex> guard(source.Lock);
  source.Generator.seed(Seed);
}

void EvaluateAbs(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  TBRNExprToken* argument = EvaluatedArgument(E, Node, 0);
  if (StopsOnNull(E, Node, argument)) return;
  const TBRNValue& value = *argument->Value;
  switch (value.GetDataType()) {
    case dtSmallInt:
    case dtInteger:
    case dtBigInt: {
      const __int128 x = value.GetAsBigInt();
      SetIntegerResult(Node, Checked64(Node, x < 0 ? -x : x));
      return;
    }
    case dtFloat:
      SetFloatResult(Node, std::fabs(value.GetAsFloat()));
      return;
    case dtDecimal: {
      const __int128 x = value.GetAsDecimal();
      Node->Value->SetAsDecimal(Checked64(Node, x < 0 ? -x : x));
      return;
    }
    case dtYearMonthInterval: {
      int64_t months = value.GetAsYearMonthInterval();
      if (months < 0) months = -months;
      if (months > std::numeric_limits<int32_t>::max())
        RaiseOutOfRange(Node, std::to_string(months));
      Node->Value->SetAsYearMonthInterval(int32_t(months));
      return;
    }
    case dtDayTimeInterval: {
      const __int128 ms = value.GetAsDayTimeInterval();
      Node->Value->SetAsDayTimeInterval(Checked64(Node, ms < 0 ? -ms : ms));
      return;
    }
    default:
      Node->Value->SetNull(true);
      return;
  }
}

void EvaluateAcos(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  FloatFunction(E, Node, [](double x) { return FloatArcCos(x); });
}

void EvaluateAsin(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  FloatFunction(E, Node, [](double x) { return FloatArcSin(x); });
}

void EvaluateAtan(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  FloatFunction(E, Node, [](double x) { return std::atan(x); });
}

void EvaluateAtan2(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  FloatFunction2(E, Node, [](double y, double x) { return FloatArcTan2(y, x); });
}

void EvaluateCos(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  FloatFunction(E, Node, [](double x) { return std::cos(x); });
}

void EvaluateSin(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  FloatFunction(E, Node, [](double x) { return std::sin(x); });
}

void EvaluateTan(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  FloatFunction(E, Node, [](double x) { return FloatTangent(x); });
}

void EvaluateCot(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  FloatFunction(E, Node, [](double x) { return FloatCotangent(x); });
}

void EvaluateDegrees(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  FloatFunction(E, Node, [](double x) { return RadiansToDegrees(x); });
}

void EvaluateRadians(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  FloatFunction(E, Node, [](double x) { return DegreesToRadians(x); });
}

void EvaluateExp(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  FloatFunction(E, Node, [](double x) { return std::exp(x); });
}

void EvaluateLog(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  // Zero and negative numbers have no logarithm: NULL, not -infinity or NaN.
  FloatFunction(E, Node, [](double x) { return x > 0 ? std::log(x) : std::nan(""); });
}

void EvaluateLog10(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  FloatFunction(E, Node, [](double x) { return x > 0 ? FloatLog10(x) : std::nanl(""); });
}

void EvaluateSqrt(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  // A negative number has no square root: NULL.
  FloatFunction(E, Node, [](double x) { return x >= 0 ? std::sqrt(x) : std::nan(""); });
}

void EvaluatePower(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  FloatFunction2(E, Node, [](double x, double y) {
    try {
      return double(FloatPower(x, y));
    } catch (const std::exception&) {
      return std::nan("");
    }
  });
}

void EvaluatePi(TBRNExprEvaluator&, TBRNExprToken* Node) {
  Node->Value->SetAsFloat(std::numbers::pi);
}

void EvaluateSign(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  TBRNExprToken* argument = EvaluatedArgument(E, Node, 0);
  if (StopsOnNull(E, Node, argument)) return;
  const double x = argument->Value->GetAsFloat();
  Node->Value->SetAsInteger(x > 0 ? 1 : x == 0 ? 0 : -1);
}

namespace {

// CEILING and FLOOR: the whole number as a 32-bit integer; beyond that
// range the conversion error 1011.
template <int32_t (*Whole)(long double)>
void WholeNumber(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  TBRNExprToken* argument = EvaluatedArgument(E, Node, 0);
  if (StopsOnNull(E, Node, argument)) return;
  const double x = argument->Value->GetAsFloat();
  int32_t result;
  try {
    result = Whole(x);
  } catch (const std::out_of_range&) {
    RaiseOutOfRange(Node, FormatFloatLiteral(x));
  }
  Node->Value->SetAsBigInt(result);
}

}  // namespace

void EvaluateCeiling(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  WholeNumber<&FloatCeiling>(E, Node);
}

void EvaluateFloor(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  WholeNumber<&FloatFloor>(E, Node);
}

void EvaluateRand(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  TBRNExprToken* range = EvaluatedArgument(E, Node, 0);
  if (range == nullptr || range->Value->GetNull()) {
    Node->Value->SetAsFloat(NextRandomFloat());
    return;
  }
  const int64_t limit = range->Value->GetAsInteger();
  // An empty range [0, n) for n <= 0 has only its start to offer.
  Node->Value->SetAsFloat(limit > 0 ? double(NextRandomInteger(limit)) : 0.0);
}

namespace {

template <long double (*FloatRule)(long double, int32_t), int64_t (*DecimalRule)(int64_t, int32_t)>
void RoundOrTruncate(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  TBRNExprToken* argument = EvaluatedArgument(E, Node, 0);
  if (StopsOnNull(E, Node, argument)) return;
  const int32_t places = PlaceCount(E, Node);
  const TBRNValue& value = *argument->Value;
  switch (value.GetDataType()) {
    case dtSmallInt:
    case dtInteger:
    case dtBigInt:
      SetIntegerResult(Node, value.GetAsBigInt());
      return;
    case dtFloat:
      SetFloatResult(Node, double(FloatRule(value.GetAsFloat(), places)));
      return;
    case dtDecimal: {
      const int64_t scaled = value.GetAsDecimal();
      int64_t result;
      try {
        result = DecimalRule(scaled, places);
      } catch (const std::overflow_error&) {
        RaiseOutOfRange(Node, FormatDecimalLiteral(0, scaled));
      }
      Node->Value->SetAsDecimal(result);
      return;
    }
    default:
      Node->Value->SetNull(true);
      return;
  }
}

}  // namespace

void EvaluateRound(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  RoundOrTruncate<&RoundFloat, &RoundCurrency>(E, Node);
}

void EvaluateTruncate(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  RoundOrTruncate<&TruncateFloat, &TruncateCurrency>(E, Node);
}

void EvaluateAvg(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  TBRNExprToken* sum = EvaluatedArgument(E, Node, 1);
  if (StopsOnNull(E, Node, sum)) return;
  TBRNExprToken* count = EvaluatedArgument(E, Node, 2);
  const int64_t n = count == nullptr ? 0 : count->Value->GetAsInteger();
  const TBRNValue& total = *sum->Value;
  // No rows: the zero of the sum's type.
  switch (total.GetDataType()) {
    case dtSmallInt:
    case dtInteger:
    case dtBigInt:
      SetIntegerResult(Node, n == 0 ? 0 : Checked64(Node, __int128(total.GetAsBigInt()) / n));
      return;
    case dtFloat:
      SetFloatResult(Node, n == 0 ? 0.0 : total.GetAsFloat() / double(n));
      return;
    case dtDecimal:
      Node->Value->SetAsDecimal(n == 0 ? 0 : DivideNearest(Node, total.GetAsDecimal(), n));
      return;
    case dtYearMonthInterval:
      Node->Value->SetAsYearMonthInterval(
          n == 0 ? 0 : int32_t(Checked64(Node, __int128(total.GetAsYearMonthInterval()) / n)));
      return;
    case dtDayTimeInterval:
      Node->Value->SetAsDayTimeInterval(
          n == 0 ? 0 : Checked64(Node, __int128(total.GetAsDayTimeInterval()) / n));
      return;
    default:
      Node->Value->SetNull(true);
      return;
  }
}

void EvaluateRunSum(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  TBRNExprToken* addend = EvaluatedArgument(E, Node, 1);
  if (addend == nullptr || addend->Value->GetNull()) return;
  TBRNValue& held = *Node->Value;
  const TBRNValue& value = *addend->Value;
  switch (held.GetDataType()) {
    case dtSmallInt:
    case dtInteger:
    case dtBigInt:
      SetIntegerResult(Node, Checked64(Node, __int128(held.GetAsBigInt()) + value.GetAsBigInt()));
      return;
    case dtFloat:
      SetFloatResult(Node, held.GetAsFloat() + value.GetAsFloat());
      return;
    case dtDecimal:
      held.SetAsDecimal(Checked64(Node, __int128(held.GetAsDecimal()) + value.GetAsDecimal()));
      return;
    case dtYearMonthInterval: {
      const int64_t months =
          int64_t(held.GetAsYearMonthInterval()) + value.GetAsYearMonthInterval();
      if (months > std::numeric_limits<int32_t>::max() ||
          months < std::numeric_limits<int32_t>::min())
        RaiseOutOfRange(Node, std::to_string(months));
      held.SetAsYearMonthInterval(int32_t(months));
      return;
    }
    case dtDayTimeInterval:
      held.SetAsDayTimeInterval(
          Checked64(Node, __int128(held.GetAsDayTimeInterval()) + value.GetAsDayTimeInterval()));
      return;
    default:
      held.SetNull(true);
      return;
  }
}

void EvaluateStdDev(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  TBRNExprToken* sum = EvaluatedArgument(E, Node, 1);
  TBRNExprToken* squares = EvaluatedArgument(E, Node, 2);
  TBRNExprToken* count = EvaluatedArgument(E, Node, 3);
  if (StopsOnNull(E, Node, sum) || StopsOnNull(E, Node, squares)) return;
  const int64_t n = count == nullptr ? 0 : count->Value->GetAsInteger();
  if (n <= 1) {
    // One row (or none) has no spread.
    Node->Value->SetAsFloat(0.0);
    return;
  }
  double mean = 0;
  switch (sum->Value->GetDataType()) {
    case dtSmallInt:
    case dtInteger:
    case dtBigInt:
    case dtFloat:
    case dtDecimal: {
      const double s = sum->Value->GetAsFloat();
      mean = s * s / double(n);
      break;
    }
    default:
      break;
  }
  double variance = (squares->Value->GetAsFloat() - mean) / double(n - 1);
  // Rows of equal values can leave a tiny negative variance through
  // rounding; their deviation is 0.
  if (variance < 0) variance = 0;
  SetFloatResult(Node, std::sqrt(variance));
}

}  // namespace brn::evaluation

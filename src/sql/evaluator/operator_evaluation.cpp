// The operator routines: arithmetic, date and interval arithmetic,
// comparisons and the three-valued AND, OR and NOT.
//
// Each arithmetic routine picks its computation by the left operand's data
// type, then the right one's, and writes through the setter of the computed
// kind (the result value converts to the node's own type and range-checks).
// Integer sums, differences and products wrap around in 32 or 64 bits
// (through unsigned arithmetic, so no overflow is undefined); decimal work
// is exact in 128 bits with the final rounding to the nearest, ties to even.
#include <cmath>
#include <string>
#include <string_view>

#include "foundation/types/date_time.h"
#include "foundation/types/literal_text.h"
#include "foundation/values/value.h"
#include "sql/evaluator/expr_evaluator.h"
#include "sql/evaluator/value_access.h"
#include "sql/tree/expr_token.h"

namespace brn {

namespace {

using evaluation::SetBooleanResult;
using Int128 = __int128;

bool IsInteger(TBRNDataTypeCode Type) {
  return Type >= dtSmallInt && Type <= dtBigInt;
}
bool IsNumber(TBRNDataTypeCode Type) {
  return Type >= dtSmallInt && Type <= dtDecimal;
}
bool IsInterval(TBRNDataTypeCode Type) {
  return Type == dtYearMonthInterval || Type == dtDayTimeInterval;
}
bool IsDateOrTime(TBRNDataTypeCode Type) {
  return Type >= dtDate && Type <= dtTimestamp;
}
// SmallInt and Integer work in 32 bits, anything with a BigInt in 64.
bool Is32Bit(TBRNDataTypeCode Left, TBRNDataTypeCode Right) {
  return Left != dtBigInt && Right != dtBigInt;
}

int32_t Add32(int32_t A, int32_t B) {
  return int32_t(uint32_t(A) + uint32_t(B));
}
int32_t Subtract32(int32_t A, int32_t B) {
  return int32_t(uint32_t(A) - uint32_t(B));
}
int32_t Multiply32(int32_t A, int32_t B) {
  return int32_t(uint32_t(A) * uint32_t(B));
}
int64_t Add64(int64_t A, int64_t B) {
  return int64_t(uint64_t(A) + uint64_t(B));
}
int64_t Subtract64(int64_t A, int64_t B) {
  return int64_t(uint64_t(A) - uint64_t(B));
}
int64_t Multiply64(int64_t A, int64_t B) {
  return int64_t(uint64_t(A) * uint64_t(B));
}
// Integer op Integer into an Integer node, straight on the raw data. Only
// for standard NULLs, where the operands are known to be non-NULL; false
// when the types are not all Integer.
template <int32_t (*Op32)(int32_t, int32_t)>
bool SetIntegersFast(const TBRNValue& L, const TBRNValue& R, TBRNValue& Result) {
  if (L.GetDataType() != dtInteger || R.GetDataType() != dtInteger ||
      Result.GetDataType() != dtInteger)
    return false;
  Result.SetNullFlag(false);
  Result.SetInt32Data(Op32(L.GetInt32Data(), R.GetInt32Data()));
  return true;
}

// Two integer operands: 32-bit work for SmallInt and Integer, 64-bit with a
// BigInt.
template <int32_t (*Op32)(int32_t, int32_t), int64_t (*Op64)(int64_t, int64_t)>
void SetIntegers(const TBRNValue& L, const TBRNValue& R, TBRNValue& Result) {
  if (Is32Bit(L.GetDataType(), R.GetDataType()))
    Result.SetAsInteger(Op32(L.GetAsInteger(), R.GetAsInteger()));
  else
    Result.SetAsBigInt(Op64(L.GetAsBigInt(), R.GetAsBigInt()));
}

// Truncated remainder; the minimum integer MOD -1 (a machine fault) is 0.
int32_t Remainder32(int32_t A, int32_t B) {
  return B == -1 ? 0 : A % B;
}
int64_t Remainder64(int64_t A, int64_t B) {
  return B == -1 ? 0 : A % B;
}

// Numerator / Denominator rounded to the nearest integer, ties to even.
// Denominator is not 0; the operands stay far inside 128 bits.
Int128 DivideNearest(Int128 Numerator, Int128 Denominator) {
  if (Denominator < 0) {
    Numerator = -Numerator;
    Denominator = -Denominator;
  }
  Int128 quotient = Numerator / Denominator;
  Int128 remainder = Numerator % Denominator;
  Int128 twice = 2 * (remainder < 0 ? -remainder : remainder);
  if (twice > Denominator || (twice == Denominator && (quotient & 1) != 0))
    quotient += Numerator < 0 ? -1 : 1;
  return quotient;
}

// A decimal result (scaled by 10000). One that leaves the 64-bit range goes
// through the float setter, whose range check raises the value's error.
void SetDecimal(TBRNValue& Result, Int128 Scaled) {
  if (Scaled >= INT64_MIN && Scaled <= INT64_MAX)
    Result.SetAsDecimal(int64_t(Scaled));
  else
    Result.SetAsFloat(double(Scaled) / double(DecimalScaleFactor));
}

constexpr double Scale = double(DecimalScaleFactor);

// An integer operand in the unit of an interval's single-field qualifier
// (INTERVAL '2' HOUR + 1 adds one hour).
int32_t MonthsInUnitOf(const TBRNValue& Number, const TBRNValue& Interval) {
  return Number.GetAsQualifiedYearMonthInterval(Interval.GetSubType());
}
int64_t MillisecondsInUnitOf(const TBRNValue& Number, const TBRNValue& Interval) {
  return Number.GetAsQualifiedDayTimeInterval(Interval.GetSubType());
}

// Date or time plus an interval (either order of the operands). False when
// the pair has no rule.
bool AddIntervalToDateTime(const TBRNValue& Moment, const TBRNValue& Interval, TBRNValue& Result) {
  TBRNIntervalFields qualifier = Interval.GetSubType();
  TBRNDataTypeCode moment = Moment.GetDataType();
  if (Interval.GetDataType() == dtYearMonthInterval) {
    int32_t months = Interval.GetAsYearMonthInterval();
    if (moment == dtDate) {
      Result.SetAsDate(AddYearMonthIntervalToDate(Moment.GetAsDate(), months, qualifier));
      return true;
    }
    if (moment == dtTimestamp) {
      Result.SetAsTimestamp(
          AddYearMonthIntervalToTimestamp(months, qualifier, Moment.GetAsTimestamp()));
      return true;
    }
    return false;
  }
  int64_t ms = Interval.GetAsDayTimeInterval();
  switch (moment) {
    case dtDate:
      Result.SetAsTimestamp(
          AddDayTimeIntervalToTimestamp(qualifier, ms, DateToTimestamp(Moment.GetAsDate())));
      return true;
    case dtTime:
      Result.SetAsTime(AddDayTimeIntervalToTime(Moment.GetAsTime(), qualifier, ms));
      return true;
    case dtTimestamp:
      Result.SetAsTimestamp(AddDayTimeIntervalToTimestamp(qualifier, ms, Moment.GetAsTimestamp()));
      return true;
    default:
      return false;
  }
}

int32_t Ordered(int64_t A, int64_t B) {
  return A < B ? -1 : (A > B ? 1 : 0);
}
int32_t OrderedFloat(double A, double B) {
  return A < B ? -1 : (A > B ? 1 : 0);
}
int32_t OrderedWide(Int128 A, Int128 B) {
  return A < B ? -1 : (A > B ? 1 : 0);
}

// The characters of a text value without blanks at either end (fixed
// length text is blank padded). Copy receives them when the value keeps
// no characters in place.
std::string_view TrimmedText(const TBRNValue& Text, std::string& Copy) {
  int32_t length = 0;
  const char* chars = Text.GetStringBuffer(length);
  std::string_view text;
  if (chars != nullptr) {
    text = std::string_view(chars, size_t(length));
  } else {
    Copy = Text.GetAsString();
    text = Copy;
  }
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// A number against a text: numerically when the text is a number, else the
// number sorts first. Both values are non-NULL.
int32_t CompareNumberWithText(const TBRNValue& Number, const TBRNValue& Text) {
  std::string copy;
  std::string_view text = TrimmedText(Text, copy);
  TBRNDataTypeCode type = Number.GetDataType();
  int64_t integer = 0;
  if (ParseBigIntLiteral(text, integer)) {
    if (IsInteger(type)) return Ordered(Number.GetAsBigInt(), integer);
    if (type == dtDecimal)
      return OrderedWide(Number.GetAsDecimal(), Int128(integer) * DecimalScaleFactor);
    return OrderedFloat(Number.GetAsFloat(), double(integer));
  }
  double real = 0;
  if (ParseFloatLiteral(text, real)) return OrderedFloat(Number.GetAsFloat(), real);
  return -1;
}

// A Boolean against a text: as Booleans when the text is TRUE or FALSE,
// else the Boolean sorts first.
int32_t CompareBooleanWithText(const TBRNValue& Boolean, const TBRNValue& Text) {
  std::string copy;
  bool other = false;
  if (!ParseBooleanLiteral(TrimmedText(Text, copy), other)) return -1;
  return Ordered(Boolean.GetAsBoolean(), other);
}

int32_t CompareMixed(const TBRNValue& Left, const TBRNValue& Right, int32_t PartialLength,
                     int32_t Collation) {
  TBRNDataTypeCode left = Left.GetDataType();
  TBRNDataTypeCode right = Right.GetDataType();
  bool leftText = Left.IsTextType();
  bool rightText = Right.IsTextType();
  if (IsNumber(left) && rightText) return CompareNumberWithText(Left, Right);
  if (leftText && IsNumber(right)) return -CompareNumberWithText(Right, Left);
  if (left == dtBoolean && rightText) return CompareBooleanWithText(Left, Right);
  if (leftText && right == dtBoolean) return -CompareBooleanWithText(Right, Left);
  // The interval side reads the number in its own unit.
  if (IsNumber(left) && IsInterval(right))
    return -Right.Compare(Left, PartialLength, false, Collation);
  if (left == dtDate && right == dtTimestamp)
    return Ordered(DateToTimestamp(Left.GetAsDate()), Right.GetAsTimestamp());
  if (left == dtTimestamp && right == dtDate)
    return Ordered(Left.GetAsTimestamp(), DateToTimestamp(Right.GetAsDate()));
  return Left.Compare(Right, PartialLength, false, Collation);
}

// Member-wise, the first unequal pair deciding.
int32_t CompareRows(const TBRNExprToken* Left, const TBRNExprToken* Right, int32_t PartialLength) {
  int32_t count = std::min(Left->ArgumentCount(), Right->ArgumentCount());
  for (int32_t i = 0; i < count; ++i) {
    const TBRNExprToken* a = Left->Argument(i);
    const TBRNExprToken* b = Right->Argument(i);
    if (a == nullptr || b == nullptr || a->Value == nullptr || b->Value == nullptr) continue;
    int32_t c =
        TBRNExprEvaluator::CompareValues(*a->Value, *b->Value, PartialLength, a->Collation);
    if (c != 0) return c;
  }
  return Ordered(Left->ArgumentCount(), Right->ArgumentCount());
}

}  // namespace

int32_t TBRNExprEvaluator::CompareValues(const TBRNValue& Left, const TBRNValue& Right,
                                         int32_t PartialLength, int32_t Collation) {
  if (Left.GetDataType() == Right.GetDataType() || Left.GetNull() || Right.GetNull())
    return Left.Compare(Right, PartialLength, false, Collation);
  return CompareMixed(Left, Right, PartialLength, Collation);
}

bool TBRNExprEvaluator::EvaluateOperands(TBRNExprToken* Node) {
  TBRNExprToken* left = Node->Left();
  TBRNExprToken* right = Node->Right();
  if (left == nullptr || right == nullptr) {
    Node->Value->SetNull(true);
    return false;
  }
  EvaluateToken(left);
  EvaluateToken(right);
  // A node of the NULL type (NULL + 1 without standard NULLs, and pairs
  // such as YM / YM that have no result type) has nothing but NULL.
  if ((StandardNullBehavior && (left->Value->GetNull() || right->Value->GetNull())) ||
      Node->Value->GetDataType() == dtNull) {
    Node->Value->SetNull(true);
    return false;
  }
  return true;
}

void TBRNExprEvaluator::EvaluateAdd(TBRNExprToken* Node) {
  if (!EvaluateOperands(Node)) return;
  const TBRNValue& l = *Node->Left()->Value;
  const TBRNValue& r = *Node->Right()->Value;
  TBRNValue& result = *Node->Value;
  TBRNDataTypeCode lt = l.GetDataType();
  TBRNDataTypeCode rt = r.GetDataType();
  if (StandardNullBehavior && SetIntegersFast<Add32>(l, r, result)) return;
  switch (lt) {
    case dtChar:
    case dtBytes:
    case dtLob:
      if (l.IsTextType()) {
        result.SetAsString(l.GetAsString() + r.GetAsString());
      } else {
        TBRNBytes bytes = l.GetAsBytes();
        TBRNBytes more = r.GetAsBytes();
        bytes.insert(bytes.end(), more.begin(), more.end());
        result.SetAsBytes(bytes);
      }
      return;
    case dtSmallInt:
    case dtInteger:
    case dtBigInt:
      if (IsInteger(rt)) return SetIntegers<Add32, Add64>(l, r, result);
      if (rt == dtFloat) return result.SetAsFloat(double(l.GetAsBigInt()) + r.GetAsFloat());
      if (rt == dtDecimal)
        return SetDecimal(result, Int128(l.GetAsBigInt()) * DecimalScaleFactor + r.GetAsDecimal());
      // A number plus an interval: the number counts in the interval's unit.
      if (rt == dtYearMonthInterval)
        return result.SetAsYearMonthInterval(
            Add32(MonthsInUnitOf(l, r), r.GetAsYearMonthInterval()));
      if (rt == dtDayTimeInterval)
        return result.SetAsDayTimeInterval(
            Add64(MillisecondsInUnitOf(l, r), r.GetAsDayTimeInterval()));
      break;
    case dtFloat:
      if (IsInteger(rt) || rt == dtFloat) return result.SetAsFloat(l.GetAsFloat() + r.GetAsFloat());
      if (rt == dtDecimal)
        return result.SetAsFloat((l.GetAsFloat() * Scale + double(r.GetAsDecimal())) / Scale);
      break;
    case dtDecimal:
      if (IsInteger(rt))
        return SetDecimal(result,
                          Int128(l.GetAsDecimal()) + Int128(r.GetAsBigInt()) * DecimalScaleFactor);
      if (rt == dtFloat)
        return result.SetAsFloat((double(l.GetAsDecimal()) + r.GetAsFloat() * Scale) / Scale);
      if (rt == dtDecimal) return SetDecimal(result, Int128(l.GetAsDecimal()) + r.GetAsDecimal());
      break;
    case dtDate:
    case dtTime:
    case dtTimestamp:
      if (IsInterval(rt) && AddIntervalToDateTime(l, r, result)) return;
      break;
    case dtYearMonthInterval:
      if (IsDateOrTime(rt)) {
        if (AddIntervalToDateTime(r, l, result)) return;
        break;
      }
      if (IsNumber(rt))
        return result.SetAsYearMonthInterval(
            Add32(l.GetAsYearMonthInterval(), MonthsInUnitOf(r, l)));
      return result.SetAsYearMonthInterval(
          Add32(l.GetAsYearMonthInterval(), r.GetAsYearMonthInterval()));
    case dtDayTimeInterval:
      if (IsDateOrTime(rt)) {
        if (AddIntervalToDateTime(r, l, result)) return;
        break;
      }
      if (IsNumber(rt))
        return result.SetAsDayTimeInterval(
            Add64(l.GetAsDayTimeInterval(), MillisecondsInUnitOf(r, l)));
      return result.SetAsDayTimeInterval(Add64(l.GetAsDayTimeInterval(), r.GetAsDayTimeInterval()));
    default:
      break;
  }
  result.SetNull(true);
}

void TBRNExprEvaluator::EvaluateSubtract(TBRNExprToken* Node) {
  if (!EvaluateOperands(Node)) return;
  const TBRNValue& l = *Node->Left()->Value;
  const TBRNValue& r = *Node->Right()->Value;
  TBRNValue& result = *Node->Value;
  TBRNDataTypeCode lt = l.GetDataType();
  TBRNDataTypeCode rt = r.GetDataType();
  if (StandardNullBehavior && SetIntegersFast<Subtract32>(l, r, result)) return;
  TBRNIntervalFields resultQualifier = Node->SubType;
  switch (lt) {
    case dtSmallInt:
    case dtInteger:
    case dtBigInt:
      if (IsInteger(rt)) return SetIntegers<Subtract32, Subtract64>(l, r, result);
      if (rt == dtFloat) return result.SetAsFloat(double(l.GetAsBigInt()) - r.GetAsFloat());
      if (rt == dtDecimal)
        return SetDecimal(result, Int128(l.GetAsBigInt()) * DecimalScaleFactor - r.GetAsDecimal());
      break;
    case dtFloat:
      if (IsInteger(rt) || rt == dtFloat) return result.SetAsFloat(l.GetAsFloat() - r.GetAsFloat());
      if (rt == dtDecimal)
        return result.SetAsFloat((l.GetAsFloat() * Scale - double(r.GetAsDecimal())) / Scale);
      break;
    case dtDecimal:
      if (IsInteger(rt))
        return SetDecimal(result,
                          Int128(l.GetAsDecimal()) - Int128(r.GetAsBigInt()) * DecimalScaleFactor);
      if (rt == dtFloat)
        return result.SetAsFloat((double(l.GetAsDecimal()) - r.GetAsFloat() * Scale) / Scale);
      if (rt == dtDecimal) return SetDecimal(result, Int128(l.GetAsDecimal()) - r.GetAsDecimal());
      break;
    case dtDate:
      if (rt == dtDate)
        return result.SetAsDayTimeInterval(
            DateDifferenceDayTime(l.GetAsDate(), r.GetAsDate(), resultQualifier));
      if (rt == dtYearMonthInterval)
        return result.SetAsDate(SubtractYearMonthIntervalFromDate(
            l.GetAsDate(), r.GetAsYearMonthInterval(), r.GetSubType()));
      if (rt == dtDayTimeInterval)
        return result.SetAsTimestamp(SubtractDayTimeIntervalFromTimestamp(
            r.GetSubType(), r.GetAsDayTimeInterval(), DateToTimestamp(l.GetAsDate())));
      break;
    case dtTime:
      if (rt == dtTime)
        return result.SetAsDayTimeInterval(
            TimeDifference(l.GetAsTime(), r.GetAsTime(), resultQualifier));
      if (rt == dtDayTimeInterval)
        return result.SetAsTime(SubtractDayTimeIntervalFromTime(l.GetAsTime(), r.GetSubType(),
                                                                r.GetAsDayTimeInterval()));
      break;
    case dtTimestamp:
      // A Date subtrahend is its midnight.
      if (rt == dtTimestamp || rt == dtDate)
        return result.SetAsDayTimeInterval(
            TimestampDifference(resultQualifier, l.GetAsTimestamp(), r.GetAsTimestamp()));
      if (rt == dtYearMonthInterval)
        return result.SetAsTimestamp(SubtractYearMonthIntervalFromTimestamp(
            r.GetAsYearMonthInterval(), r.GetSubType(), l.GetAsTimestamp()));
      if (rt == dtDayTimeInterval)
        return result.SetAsTimestamp(SubtractDayTimeIntervalFromTimestamp(
            r.GetSubType(), r.GetAsDayTimeInterval(), l.GetAsTimestamp()));
      break;
    case dtYearMonthInterval:
      if (IsNumber(rt))
        return result.SetAsYearMonthInterval(
            Subtract32(l.GetAsYearMonthInterval(), MonthsInUnitOf(r, l)));
      if (rt == dtYearMonthInterval)
        return result.SetAsYearMonthInterval(
            Subtract32(l.GetAsYearMonthInterval(), r.GetAsYearMonthInterval()));
      break;
    case dtDayTimeInterval:
      if (IsNumber(rt))
        return result.SetAsDayTimeInterval(
            Subtract64(l.GetAsDayTimeInterval(), MillisecondsInUnitOf(r, l)));
      if (rt == dtDayTimeInterval)
        return result.SetAsDayTimeInterval(
            Subtract64(l.GetAsDayTimeInterval(), r.GetAsDayTimeInterval()));
      break;
    default:
      break;
  }
  result.SetNull(true);
}

void TBRNExprEvaluator::EvaluateMultiply(TBRNExprToken* Node) {
  if (!EvaluateOperands(Node)) return;
  const TBRNValue& l = *Node->Left()->Value;
  const TBRNValue& r = *Node->Right()->Value;
  TBRNValue& result = *Node->Value;
  TBRNDataTypeCode lt = l.GetDataType();
  TBRNDataTypeCode rt = r.GetDataType();
  if (StandardNullBehavior && SetIntegersFast<Multiply32>(l, r, result)) return;
  switch (lt) {
    case dtSmallInt:
    case dtInteger:
    case dtBigInt:
      if (IsInteger(rt)) return SetIntegers<Multiply32, Multiply64>(l, r, result);
      if (rt == dtFloat) return result.SetAsFloat(double(l.GetAsBigInt()) * r.GetAsFloat());
      if (rt == dtDecimal) return SetDecimal(result, Int128(l.GetAsBigInt()) * r.GetAsDecimal());
      // A number times an interval scales it as the other order does.
      if (rt == dtYearMonthInterval)
        return result.SetAsYearMonthInterval(
            MultiplyYearMonthInterval(r.GetAsYearMonthInterval(), r.GetSubType(), l.GetAsBigInt()));
      if (rt == dtDayTimeInterval)
        return result.SetAsDayTimeInterval(
            MultiplyDayTimeInterval(r.GetSubType(), r.GetAsDayTimeInterval(), l.GetAsBigInt()));
      break;
    case dtFloat:
      if (IsInteger(rt) || rt == dtFloat) return result.SetAsFloat(l.GetAsFloat() * r.GetAsFloat());
      if (rt == dtDecimal)
        return result.SetAsFloat(l.GetAsFloat() * double(r.GetAsDecimal()) / Scale);
      break;
    case dtDecimal:
      if (IsInteger(rt)) return SetDecimal(result, Int128(l.GetAsDecimal()) * r.GetAsBigInt());
      if (rt == dtFloat)
        return result.SetAsFloat(r.GetAsFloat() * double(l.GetAsDecimal()) / Scale);
      if (rt == dtDecimal)
        return SetDecimal(
            result, DivideNearest(Int128(l.GetAsDecimal()) * r.GetAsDecimal(), DecimalScaleFactor));
      break;
    case dtYearMonthInterval:
      if (IsInteger(rt))
        return result.SetAsYearMonthInterval(
            MultiplyYearMonthInterval(l.GetAsYearMonthInterval(), l.GetSubType(), r.GetAsBigInt()));
      break;
    case dtDayTimeInterval:
      if (IsInteger(rt))
        return result.SetAsDayTimeInterval(
            MultiplyDayTimeInterval(l.GetSubType(), l.GetAsDayTimeInterval(), r.GetAsBigInt()));
      break;
    default:
      break;
  }
  result.SetNull(true);
}

void TBRNExprEvaluator::EvaluateDivide(TBRNExprToken* Node) {
  if (!EvaluateOperands(Node)) return;
  const TBRNValue& l = *Node->Left()->Value;
  const TBRNValue& r = *Node->Right()->Value;
  TBRNValue& result = *Node->Value;
  TBRNDataTypeCode lt = l.GetDataType();
  TBRNDataTypeCode rt = r.GetDataType();
  // A zero divisor gives NULL under either NULL behaviour.
  bool zero;
  if (IsInteger(rt))
    zero = r.GetAsBigInt() == 0;
  else if (rt == dtFloat)
    zero = r.GetAsFloat() == 0;
  else if (rt == dtDecimal)
    zero = r.GetAsDecimal() == 0;
  else
    zero = false;
  if (zero) return result.SetNull(true);
  switch (lt) {
    case dtSmallInt:
    case dtInteger:
    case dtBigInt:
      if (IsInteger(rt) || rt == dtFloat)
        return result.SetAsFloat(double(l.GetAsBigInt()) / r.GetAsFloat());
      if (rt == dtDecimal)
        return SetDecimal(result,
                          DivideNearest(Int128(l.GetAsBigInt()) * 100000000, r.GetAsDecimal()));
      break;
    case dtFloat:
      if (IsInteger(rt) || rt == dtFloat) return result.SetAsFloat(l.GetAsFloat() / r.GetAsFloat());
      if (rt == dtDecimal)
        return result.SetAsFloat(l.GetAsFloat() / double(r.GetAsDecimal()) * Scale);
      break;
    case dtDecimal:
      if (IsInteger(rt))
        return SetDecimal(result, DivideNearest(l.GetAsDecimal(), r.GetAsBigInt()));
      if (rt == dtFloat)
        return result.SetAsFloat(double(l.GetAsDecimal()) / r.GetAsFloat() / Scale);
      if (rt == dtDecimal)
        return SetDecimal(
            result, DivideNearest(Int128(l.GetAsDecimal()) * DecimalScaleFactor, r.GetAsDecimal()));
      break;
    case dtYearMonthInterval:
      if (IsInteger(rt))
        return result.SetAsYearMonthInterval(
            DivideYearMonthInterval(l.GetAsYearMonthInterval(), l.GetSubType(), r.GetAsBigInt()));
      break;
    case dtDayTimeInterval:
      if (IsInteger(rt))
        return result.SetAsDayTimeInterval(
            DivideDayTimeInterval(l.GetSubType(), l.GetAsDayTimeInterval(), r.GetAsBigInt()));
      break;
    default:
      break;
  }
  result.SetNull(true);
}

void TBRNExprEvaluator::EvaluateMod(TBRNExprToken* Node) {
  if (!EvaluateOperands(Node)) return;
  const TBRNValue& l = *Node->Left()->Value;
  const TBRNValue& r = *Node->Right()->Value;
  TBRNValue& result = *Node->Value;
  TBRNDataTypeCode lt = l.GetDataType();
  TBRNDataTypeCode rt = r.GetDataType();
  if (IsInteger(lt) && IsInteger(rt)) {
    int64_t divisor = r.GetAsBigInt();
    if (divisor == 0) return result.SetNull(true);
    if (Is32Bit(lt, rt))
      return result.SetAsInteger(Remainder32(l.GetAsInteger(), int32_t(divisor)));
    return result.SetAsBigInt(Remainder64(l.GetAsBigInt(), divisor));
  }
  // An interval MOD an integer: the integer counts in the interval's unit
  // (INTERVAL '7' HOUR MOD 2 is one hour).
  if (lt == dtYearMonthInterval && IsInteger(rt)) {
    int32_t divisor = MonthsInUnitOf(r, l);
    if (divisor == 0) return result.SetNull(true);
    return result.SetAsYearMonthInterval(Remainder32(l.GetAsYearMonthInterval(), divisor));
  }
  if (lt == dtDayTimeInterval && IsInteger(rt)) {
    int64_t divisor = MillisecondsInUnitOf(r, l);
    if (divisor == 0) return result.SetNull(true);
    return result.SetAsDayTimeInterval(Remainder64(l.GetAsDayTimeInterval(), divisor));
  }
  result.SetNull(true);
}

void TBRNExprEvaluator::EvaluateNegate(TBRNExprToken* Node) {
  TBRNValue& result = *Node->Value;
  TBRNExprToken* operand = Node->Left();
  if (operand == nullptr) return result.SetNull(true);
  EvaluateToken(operand);
  const TBRNValue& l = *operand->Value;
  if ((StandardNullBehavior && l.GetNull()) || result.GetDataType() == dtNull)
    return result.SetNull(true);
  switch (l.GetDataType()) {
    case dtSmallInt:
      return result.SetAsSmallInt(int16_t(uint16_t(0) - uint16_t(l.GetAsSmallInt())));
    case dtInteger:
      return result.SetAsInteger(Subtract32(0, l.GetAsInteger()));
    case dtBigInt:
      return result.SetAsBigInt(Subtract64(0, l.GetAsBigInt()));
    case dtFloat:
      return result.SetAsFloat(-l.GetAsFloat());
    case dtDecimal:
      return result.SetAsDecimal(Subtract64(0, l.GetAsDecimal()));
    case dtYearMonthInterval:
      return result.SetAsYearMonthInterval(Subtract32(0, l.GetAsYearMonthInterval()));
    case dtDayTimeInterval:
      return result.SetAsDayTimeInterval(Subtract64(0, l.GetAsDayTimeInterval()));
    default:
      return result.SetNull(true);
  }
}

void TBRNExprEvaluator::EvaluateIntervalDifference(TBRNExprToken* Node) {
  if (!EvaluateOperands(Node)) return;
  const TBRNValue& l = *Node->Left()->Value;
  const TBRNValue& r = *Node->Right()->Value;
  TBRNValue& result = *Node->Value;
  TBRNDataTypeCode lt = l.GetDataType();
  TBRNDataTypeCode rt = r.GetDataType();
  TBRNIntervalFields qualifier = Node->SubType;
  bool yearMonth = result.GetDataType() == dtYearMonthInterval;
  if (!yearMonth && result.GetDataType() != dtDayTimeInterval) return result.SetNull(true);
  if (lt == dtTime && rt == dtTime)
    return result.SetAsDayTimeInterval(TimeDifference(l.GetAsTime(), r.GetAsTime(), qualifier));
  // A Timestamp against a Time: the difference of the times of day (only a
  // qualifier without a day field gets here).
  if (lt == dtTimestamp && rt == dtTime)
    return result.SetAsDayTimeInterval(
        TimeDifference(TimestampToTime(l.GetAsTimestamp()), r.GetAsTime(), qualifier));
  bool datePair = (lt == dtDate && rt == dtDate) || (lt == dtTimestamp && rt == dtDate);
  if (datePair || (lt == dtTimestamp && rt == dtTimestamp)) {
    if (yearMonth)
      return result.SetAsYearMonthInterval(
          DateDifferenceYearMonth(l.GetAsDate(), r.GetAsDate(), qualifier));
    if (datePair)
      return result.SetAsDayTimeInterval(
          DateDifferenceDayTime(l.GetAsDate(), r.GetAsDate(), qualifier));
    return result.SetAsDayTimeInterval(
        TimestampDifference(qualifier, l.GetAsTimestamp(), r.GetAsTimestamp()));
  }
  result.SetNull(true);
}

bool TBRNExprEvaluator::compareOperands(TBRNExprToken* Node, int32_t& Result) {
  if (!EvaluateOperands(Node)) return false;
  const TBRNExprToken* left = Node->Left();
  const TBRNExprToken* right = Node->Right();
  // Under standard NULLs both operands are present here. Two Integers or
  // two Floats, the usual operands of a condition, compare on their data as
  // the same-type comparison does, without its dispatch and NULL tests.
  if (StandardNullBehavior && left->Kind != tkRowValue) {
    const TBRNValue& l = *left->Value;
    const TBRNValue& r = *right->Value;
    const TBRNDataTypeCode type = l.GetDataType();
    if (type == r.GetDataType()) {
      if (type == dtInteger) {
        Result = Ordered(l.GetInt32Data(), r.GetInt32Data());
        return true;
      }
      if (type == dtFloat) {
        Result = OrderedFloat(l.GetFloatData(), r.GetFloatData());
        return true;
      }
    }
  }
  Result = CompareEvaluated(left, right, Node->PartialLength);
  return true;
}

int32_t TBRNExprEvaluator::CompareEvaluated(const TBRNExprToken* Left, const TBRNExprToken* Right,
                                            int32_t PartialLength) {
  if (Left->Kind == tkRowValue && Right->Kind == tkRowValue)
    return CompareRows(Left, Right, PartialLength);
  // The node's collation, not the value's: a column reference may read the
  // stored row value itself, whose collation is the column's even when a
  // COLLATE suffix asked for another.
  return CompareValues(*Left->Value, *Right->Value, PartialLength, Left->Collation);
}

void TBRNExprEvaluator::EvaluateEqual(TBRNExprToken* Node) {
  int32_t c;
  if (compareOperands(Node, c)) SetBooleanResult(*Node->Value, c == 0);
}

void TBRNExprEvaluator::EvaluateNotEqual(TBRNExprToken* Node) {
  int32_t c;
  if (compareOperands(Node, c)) SetBooleanResult(*Node->Value, c != 0);
}

void TBRNExprEvaluator::EvaluateGreater(TBRNExprToken* Node) {
  int32_t c;
  if (compareOperands(Node, c)) SetBooleanResult(*Node->Value, c > 0);
}

void TBRNExprEvaluator::EvaluateGreaterOrEqual(TBRNExprToken* Node) {
  int32_t c;
  if (compareOperands(Node, c)) SetBooleanResult(*Node->Value, c >= 0);
}

void TBRNExprEvaluator::EvaluateLess(TBRNExprToken* Node) {
  int32_t c;
  if (compareOperands(Node, c)) SetBooleanResult(*Node->Value, c < 0);
}

void TBRNExprEvaluator::EvaluateLessOrEqual(TBRNExprToken* Node) {
  int32_t c;
  if (compareOperands(Node, c)) SetBooleanResult(*Node->Value, c <= 0);
}

void TBRNExprEvaluator::EvaluateAnd(TBRNExprToken* Node) {
  TBRNValue& result = *Node->Value;
  TBRNExprToken* left = Node->Left();
  TBRNExprToken* right = Node->Right();
  if (left == nullptr || right == nullptr) return result.SetNull(true);
  EvaluateToken(left);
  const TBRNValue& l = *left->Value;
  if (l.GetNull()) {
    EvaluateToken(right);
    const TBRNValue& r = *right->Value;
    if (!StandardNullBehavior) return SetBooleanResult(result, evaluation::Truth(r));
    // NULL AND FALSE is FALSE; NULL AND TRUE or NULL is NULL.
    if (r.GetNull() || evaluation::TruthOfValue(r)) return result.SetNull(true);
    return SetBooleanResult(result, false);
  }
  if (!evaluation::TruthOfValue(l)) return SetBooleanResult(result, false);
  EvaluateToken(right);
  const TBRNValue& r = *right->Value;
  bool rightNull = r.GetNull();
  if (StandardNullBehavior && rightNull) return result.SetNull(true);
  SetBooleanResult(result, !rightNull && evaluation::TruthOfValue(r));
}

void TBRNExprEvaluator::EvaluateOr(TBRNExprToken* Node) {
  TBRNValue& result = *Node->Value;
  TBRNExprToken* left = Node->Left();
  TBRNExprToken* right = Node->Right();
  if (left == nullptr || right == nullptr) return result.SetNull(true);
  EvaluateToken(left);
  const TBRNValue& l = *left->Value;
  bool leftNull = l.GetNull();
  if (StandardNullBehavior && leftNull) {
    EvaluateToken(right);
    // NULL OR TRUE is TRUE; NULL OR FALSE or NULL is NULL.
    if (evaluation::Truth(*right->Value)) return SetBooleanResult(result, true);
    return result.SetNull(true);
  }
  if (!leftNull && evaluation::TruthOfValue(l)) return SetBooleanResult(result, true);
  EvaluateToken(right);
  const TBRNValue& r = *right->Value;
  bool rightNull = r.GetNull();
  if (StandardNullBehavior && rightNull) return result.SetNull(true);
  SetBooleanResult(result, !rightNull && evaluation::TruthOfValue(r));
}

void TBRNExprEvaluator::EvaluateNot(TBRNExprToken* Node) {
  TBRNValue& result = *Node->Value;
  TBRNExprToken* operand = Node->Left();
  if (operand == nullptr) return result.SetNull(true);
  EvaluateToken(operand);
  const TBRNValue& l = *operand->Value;
  if (StandardNullBehavior && l.GetNull()) return result.SetNull(true);
  SetBooleanResult(result, !evaluation::Truth(l));
}

}  // namespace brn

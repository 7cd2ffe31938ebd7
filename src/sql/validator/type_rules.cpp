// The type rules: which operand types each operator accepts, the type of its
// result, what may be assigned to what, and the named type-class checks.
//
// Every pair accepted here has an evaluation rule and a result type other
// than NULL (unless an operand is the NULL literal): pairs that would have no
// meaning (an interval multiplied, divided or taken modulo by an interval, a
// year-month interval or an interval with a day field added to a time of
// day) are refused here rather than evaluated to NULL.

#include "sql/validator/type_rules.h"

#include <algorithm>

#include "foundation/text/number_text.h"
#include "foundation/types/literal_text.h"
#include "sql/tree/expr_token.h"
#include "sql/validator/expr_validator.h"
#include "sql/validator/validation_helpers.h"

namespace brn {

TBRNTypeClass TypeClass(std::initializer_list<int32_t> Types,
                        std::initializer_list<int32_t> SubTypes) {
  TBRNTypeClass result;
  for (int32_t type : Types) result.Types.set(size_t(type));
  for (int32_t subType : SubTypes) result.SubTypes.set(size_t(subType));
  return result;
}

TBRNTypeClass YearMonthClass(std::initializer_list<int32_t> Qualifiers) {
  return TypeClass({dtYearMonthInterval}, Qualifiers);
}

TBRNTypeClass DayTimeClass(std::initializer_list<int32_t> Qualifiers) {
  return TypeClass({dtDayTimeInterval}, Qualifiers);
}

const TBRNQualifierName DayTimeQualifierNames[15] = {
    {128, "Interval Day"},
    {192, "Interval Day To Hour"},
    {224, "Interval Day To Minute"},
    {240, "Interval Day To Second"},
    {248, "Interval Day To MSecond"},
    {64, "Interval Hour"},
    {96, "Interval Hour To Minute"},
    {112, "Interval Hour To Second"},
    {120, "Interval Hour To MSecond"},
    {32, "Interval Minute"},
    {48, "Interval Minute To Second"},
    {56, "Interval Minute To MSecond"},
    {16, "Interval Second"},
    {24, "Interval Second To MSecond"},
    {8, "Interval MSecond"},
};

const TBRNQualifierName YearMonthQualifierNames[2] = {
    {4, "Interval Year"},
    {6, "Interval Year To Month"},
};

namespace type_classes {
const TBRNTypeClass Null = TypeClass({dtNull}, {});
const TBRNTypeClass Char = TypeClass({dtChar}, {stDefault, stFixed, stGuid});
const TBRNTypeClass Bytes = TypeClass({dtBytes}, {stDefault, stFixed, stGuid});
const TBRNTypeClass Clob = TypeClass({dtLob}, {stClob});
const TBRNTypeClass Blob = TypeClass({dtLob}, {stDefault});
const TBRNTypeClass Boolean = TypeClass({dtBoolean});
const TBRNTypeClass I = TypeClass({dtSmallInt, dtInteger, dtBigInt});
const TBRNTypeClass N = TypeClass({dtSmallInt, dtInteger, dtBigInt, dtFloat, dtDecimal});
const TBRNTypeClass Date = TypeClass({dtDate});
const TBRNTypeClass Time = TypeClass({dtTime});
const TBRNTypeClass Timestamp = TypeClass({dtTimestamp});
const TBRNTypeClass YM = YearMonthClass({2, 4, 6});
const TBRNTypeClass YM1 = YearMonthClass({2, 4});
const TBRNTypeClass DT =
    DayTimeClass({8, 16, 24, 32, 48, 56, 64, 96, 112, 120, 128, 192, 224, 240, 248});
const TBRNTypeClass DT1 = DayTimeClass({8, 16, 32, 64, 128});
const TBRNTypeClass DTt = DayTimeClass({8, 16, 24, 32, 48, 56, 64, 96, 112, 120});
}  // namespace type_classes

using namespace type_classes;

namespace {

bool isInteger(int32_t Type) {
  return Type >= dtSmallInt && Type <= dtBigInt;
}
bool isNumber(int32_t Type) {
  return Type >= dtSmallInt && Type <= dtDecimal;
}
bool isInterval(int32_t Type) {
  return Type == dtYearMonthInterval || Type == dtDayTimeInterval;
}
bool isSingleField(int32_t Qualifier) {
  return Qualifier != 0 && (Qualifier & (Qualifier - 1)) == 0;
}
using validation::isComparisonOperation;

// The class of one interval qualifier.
TBRNTypeClass sameQualifier(int32_t Type, int32_t Qualifier) {
  return TypeClass({Type}, {Qualifier});
}

// The rank of a number type when two are combined: SmallInt and Integer
// give Integer, then BigInt, Decimal, Float.
int rankOf(int32_t Type) {
  switch (Type) {
    case dtBigInt:
      return 1;
    case dtDecimal:
      return 2;
    case dtFloat:
      return 3;
    default:
      return 0;
  }
}

TBRNDataTypeCode widerNumber(int32_t A, int32_t B) {
  static constexpr TBRNDataTypeCode kByRank[] = {dtInteger, dtBigInt, dtDecimal, dtFloat};
  return kByRank[std::max(rankOf(A), rankOf(B))];
}

// The qualifier that covers both: every field from the leading one of the two
// down to the trailing one (DAY and MINUTE give DAY TO MINUTE).
int32_t coveringQualifier(int32_t A, int32_t B) {
  const int32_t fields = A | B;
  if (fields <= 0) return 0;
  int32_t leading = 1;
  while ((leading << 1) <= fields) leading <<= 1;
  const int32_t trailing = fields & -fields;
  return (leading * 2 - 1) & ~(trailing - 1);
}

// The right operand rule of one operator for one left operand: one class, or
// two (a LOB right operand is checked against LobClass, any other against
// Class).
struct RightRule {
  TBRNTypeClass Class;
  TBRNTypeClass LobClass;
  bool TwoStep = false;
};

RightRule oneStep(const TBRNTypeClass& Class) {
  return {Class, {}, false};
}
RightRule twoStep(const TBRNTypeClass& LobClass, const TBRNTypeClass& Class) {
  return {Class, LobClass, true};
}

}  // namespace

// ---- Operand rules -------------------------------------------------------------

void TBRNExprValidator::CheckOperandTypes(TBRNExprOperation Operation, TBRNDataTypeCode ResultType,
                                          TBRNExprToken* Left, TBRNExprToken* Right,
                                          int32_t ResultSubType) {
  // Without the standard NULL behaviour a NULL literal is checked as if it
  // had the other operand's type; it gets its own descriptor back afterwards,
  // also when a check raises.
  struct Borrowed {
    TBRNExprToken* Node = nullptr;
    TBRNDataTypeCode DataType = dtNull;
    int32_t SubType = 0, Size = 0, Scale = 0, Collation = 0;
    void Take(TBRNExprToken* N, const TBRNExprToken* From) {
      Node = N;
      DataType = N->DataType;
      SubType = N->SubType;
      Size = N->Size;
      Scale = N->Scale;
      Collation = N->Collation;
      N->AssignDataType(From);
    }
    ~Borrowed() {
      if (!Node) return;
      Node->DataType = DataType;
      Node->SubType = SubType;
      Node->Size = Size;
      Node->Scale = Scale;
      Node->Collation = Collation;
    }
  } leftBorrow, rightBorrow;
  if (!StandardNullBehavior) {
    if (Left->IsNullConstant()) leftBorrow.Take(Left, Right);
    if (Right->IsNullConstant()) rightBorrow.Take(Right, Left);
  }

  switch (Operation) {
    case opAdd:
    case opSubtract:
    case opMultiply:
    case opDivide:
    case opAnd:
    case opOr:
    case opMod:
      RejectRowValue(Left);
      RejectRowValue(Right);
      InferParamFromOperand(Left, Right);
      checkLeftClass(Operation, Left);
      checkRightClass(Operation, Left, Right);
      return;
    case opEqual:
    case opNotEqual:
    case opGreaterOrEqual:
    case opGreater:
    case opLessOrEqual:
    case opLess:
      if (CheckRowValueOperands(Operation, ResultType, Left, Right, ResultSubType)) return;
      InferParamFromOperand(Left, Right);
      checkLeftClass(Operation, Left);
      checkRightClass(Operation, Left, Right);
      return;
    case opIntervalDifference:
      if (ResultType == dtYearMonthInterval || ResultType == dtDayTimeInterval)
        checkIntervalDifference(ResultType, ResultSubType, Left, Right);
      return;
    default:
      return;
  }
}

void TBRNExprValidator::checkLeftClass(TBRNExprOperation Operation, TBRNExprToken* Left) {
  switch (Operation) {
    case opAdd:
      return CheckType(Left, Char | Bytes | Clob | Blob | N | Date | Time | Timestamp | YM | DT);
    case opSubtract:
      return CheckType(Left, N | Date | Time | Timestamp | YM | DT);
    case opMultiply:
    case opDivide:
      return CheckType(Left, N | YM1 | DT1);
    case opMod:
      return CheckType(Left, I | YM1 | DT1);
    case opAnd:
    case opOr:
      return CheckType(Left, Boolean);
    case opEqual:
    case opNotEqual:
      return CheckType(
          Left, Char | Bytes | Clob | Blob | Boolean | N | Date | Time | Timestamp | YM | DT);
    default:
      return CheckType(Left, Char | Bytes | Clob | Blob | N | Date | Time | Timestamp | YM | DT);
  }
}

void TBRNExprValidator::checkRightClass(TBRNExprOperation Operation, TBRNExprToken* Left,
                                        TBRNExprToken* Right) {
  const int32_t type = Left->DataType;
  const int32_t q = Left->SubType;
  const bool equality = Operation == opEqual || Operation == opNotEqual;
  const bool ordering = isComparisonOperation(Operation) && !equality;
  const bool comparison = equality || ordering;
  RightRule rule;
  if (Operation == opAnd || Operation == opOr) {
    rule = oneStep(Boolean);
  } else if (type == dtChar || (type == dtLob && q == stClob)) {
    rule = twoStep(Clob, Char);
  } else if (type == dtBytes) {
    rule = twoStep(Blob, Bytes);
  } else if (type == dtLob) {
    rule = equality ? oneStep(Bytes | Blob) : twoStep(Blob, Bytes);
  } else if (type == dtBoolean) {
    rule = oneStep(Boolean | I);
  } else if (isInteger(type)) {
    switch (Operation) {
      case opAdd:
      case opMultiply:
        rule = oneStep(N | YM1 | DT1);
        break;
      case opMod:
        rule = oneStep(I);
        break;
      case opSubtract:
      case opDivide:
        rule = oneStep(N);
        break;
      default:
        rule = oneStep(Boolean | N | YM1 | DT1);
        break;
    }
  } else if (type == dtFloat || type == dtDecimal) {
    rule = oneStep(N);
  } else if (type == dtDate) {
    if (Operation == opAdd)
      rule = oneStep(YM | DT);
    else if (Operation == opSubtract)
      rule = oneStep(Date | YM | DayTimeClass({ifDay}));
    else
      rule = oneStep(equality ? Date : Date | Timestamp);
  } else if (type == dtTime) {
    if (Operation == opAdd)
      rule = oneStep(DTt);
    else if (Operation == opSubtract)
      rule = oneStep(Time | DTt);
    else
      rule = oneStep(Time);
  } else if (type == dtTimestamp) {
    if (Operation == opAdd)
      rule = oneStep(YM | DT);
    else if (Operation == opSubtract)
      rule = oneStep(Date | Timestamp | YM | DT);
    else
      rule = oneStep(Date | Timestamp);
  } else if (type == dtYearMonthInterval) {
    // A year-month interval added to a time of day has no meaning (Time +
    // YM is refused too).
    const bool single = isSingleField(q);
    if (Operation == opAdd)
      rule = oneStep(single ? I | Date | Timestamp | YM : Date | Timestamp | YM);
    else if (Operation == opSubtract)
      rule = oneStep(single ? I | YM : YM);
    else if (comparison)
      rule = oneStep(single ? I | sameQualifier(type, q) : sameQualifier(type, q));
    else
      rule = oneStep(I);  // *, / and MOD by an interval have no meaning
  } else if (type == dtDayTimeInterval) {
    const bool single = isSingleField(q);
    // Only an interval without a day field can be added to a time of day.
    const TBRNTypeClass dates = HasDayField(q) ? Date | Timestamp : Date | Time | Timestamp;
    if (Operation == opAdd)
      rule = oneStep(single ? I | dates | DT : dates | DT);
    else if (Operation == opSubtract)
      rule = oneStep(single ? I | DT : DT);
    else if (comparison)
      rule = oneStep(single ? I | sameQualifier(type, q) : sameQualifier(type, q));
    else
      rule = oneStep(I);
  } else {
    return;  // the left class refused every other type already
  }
  if (rule.TwoStep && Right->DataType == dtLob)
    CheckType(Right, rule.LobClass);
  else
    CheckType(Right, rule.Class);
}

void TBRNExprValidator::checkIntervalDifference(TBRNDataTypeCode ResultType, int32_t ResultSubType,
                                                TBRNExprToken* Left, TBRNExprToken* Right) {
  if (ResultType == dtYearMonthInterval || HasDayField(ResultSubType)) {
    CheckType(Left, Date | Timestamp);
    CheckType(Right, Left->DataType == dtDate ? Date : Date | Timestamp);
    return;
  }
  CheckType(Left, Date | Time | Timestamp);
  switch (Left->DataType) {
    case dtDate:
      return CheckType(Right, Date);
    case dtTime:
      return CheckType(Right, Time);
    default:
      return CheckType(Right, Date | Time | Timestamp);
  }
}

bool TBRNExprValidator::CheckRowValueOperands(TBRNExprOperation Operation,
                                              TBRNDataTypeCode ResultType, TBRNExprToken* Left,
                                              TBRNExprToken* Right, int32_t ResultSubType) {
  const bool leftRow = IsRowValue(Left);
  const bool rightRow = IsRowValue(Right);
  if (leftRow && !rightRow) RaiseExpected(Right, "row value");
  if (rightRow && !leftRow) RaiseExpected(Left, "row value");
  if (!leftRow) return false;
  const int32_t degree = RowValueDegree(Left);
  TBRNExprToken* leftMembers = RowValueMembers(Left);
  TBRNExprToken* rightMembers = RowValueMembers(Right);
  if (degree != RowValueDegree(Right))
    RaiseInvalid(rightMembers, "invalid number of row value members specified");
  for (int32_t i = 0; i < degree; ++i)
    CheckOperandTypes(Operation, ResultType, leftMembers->Argument(i), rightMembers->Argument(i),
                      ResultSubType);
  return true;
}

void TBRNExprValidator::InferParamFromOperand(TBRNExprToken* A, TBRNExprToken* B) {
  const bool aParam = A->Kind == tkDynamicParamReference;
  const bool bParam = B->Kind == tkDynamicParamReference;
  if (aParam && bParam) {
    // Two markers typed from elsewhere (a list member and the tested value
    // of IN, both typed by another member) need nothing more.
    if (A->Link && B->Link && A->DataType != dtNull && B->DataType != dtNull) return;
    RaiseInvalid(A, "dynamic parameter type cannot be inferred");
  }
  TBRNExprToken* param = aParam ? A : bParam ? B : nullptr;
  if (!param || !param->Link) return;
  param->Link->AssignDataType(aParam ? B : A);
  CopyLinkType(param);
}

// ---- Result types --------------------------------------------------------------

TBRNDataTypeCode TBRNExprValidator::GetBinaryResultType(TBRNExprOperation Operation,
                                                        TBRNDataTypeCode L, int32_t LSub,
                                                        TBRNDataTypeCode R, int32_t RSub) {
  (void)LSub;
  switch (Operation) {
    case opAnd:
    case opOr:
    case opEqual:
    case opNotEqual:
    case opGreaterOrEqual:
    case opGreater:
    case opLessOrEqual:
    case opLess:
      return dtBoolean;
    case opDivide:
      if (isNumber(L) && isNumber(R)) {
        if (L == dtFloat || R == dtFloat) return dtFloat;
        if (L == dtDecimal || R == dtDecimal) return dtDecimal;
        return dtFloat;  // an integer divided by an integer
      }
      break;
    case opMod:
      if (isInteger(L) && isInteger(R))
        return L == dtBigInt || R == dtBigInt ? dtBigInt : dtInteger;
      break;
    case opAdd:
    case opSubtract:
    case opMultiply:
      if (isNumber(L) && isNumber(R)) return widerNumber(L, R);
      break;
    default:
      return dtNull;
  }
  // Intervals with integers: the interval's type.
  if ((Operation == opAdd || Operation == opMultiply) && isInteger(L) && isInterval(R)) return R;
  if (isInterval(L) && isInteger(R)) return L;
  if (Operation == opAdd) {
    if (L == dtChar && R == dtChar) return dtChar;
    if (L == dtBytes && R == dtBytes) return dtBytes;
    if ((L == dtLob || R == dtLob) && L >= dtChar && L <= dtLob && R >= dtChar && R <= dtLob)
      return dtLob;
    if (isInterval(L) && L == R) return L;
    switch (L) {
      case dtDate:
        if (R == dtYearMonthInterval) return dtDate;
        if (R == dtDayTimeInterval) return RSub == ifDay ? dtDate : dtTimestamp;
        break;
      case dtTime:
        if (R == dtDayTimeInterval && !HasDayField(RSub)) return dtTime;
        break;
      case dtTimestamp:
        if (isInterval(R)) return dtTimestamp;
        break;
      case dtYearMonthInterval:
        if (R == dtDate) return dtDate;
        if (R == dtTime || R == dtTimestamp) return dtTimestamp;
        break;
      case dtDayTimeInterval:
        if (R == dtDate) return LSub == ifDay ? dtDate : dtTimestamp;
        if (R == dtTime && !HasDayField(LSub)) return dtTime;
        if (R == dtTimestamp) return dtTimestamp;
        break;
      default:
        break;
    }
    return dtNull;
  }
  if (Operation == opSubtract) {
    if (isInterval(L) && L == R) return L;
    switch (L) {
      case dtDate:
        if (R == dtDate) return dtDayTimeInterval;
        if (R == dtYearMonthInterval) return dtDate;
        if (R == dtDayTimeInterval && RSub == ifDay) return dtDate;
        break;
      case dtTime:
        if (R == dtTime) return dtDayTimeInterval;
        if (R == dtDayTimeInterval && !HasDayField(RSub)) return dtTime;
        break;
      case dtTimestamp:
        if (R == dtDate || R == dtTimestamp) return dtDayTimeInterval;
        if (isInterval(R)) return dtTimestamp;
        break;
      default:
        break;
    }
  }
  return dtNull;
}

int32_t TBRNExprValidator::GetBinaryResultSubType(TBRNExprOperation Operation, TBRNDataTypeCode L,
                                                  int32_t LSub, TBRNDataTypeCode R, int32_t RSub) {
  const bool arithmetic = Operation == opAdd || Operation == opSubtract ||
                          Operation == opMultiply || Operation == opDivide || Operation == opMod;
  if (Operation == opAdd && (L == dtChar || L == dtBytes)) return R == dtLob ? RSub : LSub & RSub;
  if (Operation == opAdd && L == dtLob) return LSub;
  if ((Operation == opAdd || Operation == opMultiply) && isInteger(L))
    return isInterval(R) ? RSub : LSub;
  if (arithmetic && isInterval(L)) return isInterval(R) ? coveringQualifier(LSub, RSub) : LSub;
  if (Operation == opSubtract) {
    if (L == dtDate && R == dtDate) return ifDay;
    if (L == dtTime && R == dtTime) return ifHour | ifMinute | ifSecond | ifMSecond;
    if (L == dtTimestamp && (R == dtDate || R == dtTimestamp))
      return ifDay | ifHour | ifMinute | ifSecond | ifMSecond;
  }
  return 0;
}

int32_t TBRNExprValidator::GetBinaryResultCollation(TBRNExprOperation Operation,
                                                    TBRNDataTypeCode LeftType, int32_t LeftSubType,
                                                    int32_t LeftCollation) {
  if (Operation == opAdd && IsTextDataType(LeftType, LeftSubType)) return LeftCollation;
  return 0;
}

// ---- Unary operators -------------------------------------------------------------

void TBRNExprValidator::CheckUnaryOperand(TBRNExprOperation Operation, TBRNExprToken* Operand) {
  if (Operation == opNegate) CheckType(Operand, N | YM | DT);
  if (Operation == opNot) CheckType(Operand, Boolean);
}

TBRNDataTypeCode TBRNExprValidator::GetUnaryResultType(TBRNExprOperation Operation,
                                                       TBRNDataTypeCode OperandType) {
  if (Operation == opNot) return dtBoolean;
  if (Operation == opNegate) return OperandType;
  return dtNull;
}

int32_t TBRNExprValidator::GetUnaryResultSubType(TBRNExprOperation Operation,
                                                 int32_t OperandSubType) {
  return Operation == opNegate ? OperandSubType : 0;
}

// ---- Assignment ------------------------------------------------------------------

void TBRNExprValidator::CheckAssignable(TBRNExprToken* Source, TBRNExprToken* Target) {
  if (CheckRowValueAssignment(Source, Target)) return;
  InferParamFromTarget(Source, Target);
  CheckType(Source, GetAssignableTypes(Source, Target->DataType, Target->SubType));
}

TBRNTypeClass TBRNExprValidator::GetAssignableTypes(const TBRNExprToken* Source,
                                                    TBRNDataTypeCode TargetType,
                                                    int32_t TargetSubType) const {
  // A LOB source is checked against the LOB half of a character or byte
  // class, so that a BLOB never passes as character data or a CLOB as bytes.
  const bool lobSource = Source && Source->DataType == dtLob;
  switch (TargetType) {
    case dtChar:
      return Null | (lobSource ? Clob : Char);
    case dtBytes:
      return Null | (lobSource ? Blob : Bytes);
    case dtLob:
      if (TargetSubType == stClob) return Null | (lobSource ? Clob : Char);
      return Null | (lobSource ? Blob : Bytes);
    case dtBoolean:
      return Null | Boolean | I;
    case dtSmallInt:
    case dtInteger:
    case dtBigInt:
      return Null | N | YM1 | DT1;
    case dtFloat:
    case dtDecimal:
      return Null | N;
    case dtDate:
      return Null | Date;
    case dtTime:
      return Null | Time;
    case dtTimestamp:
      return Null | Date | Timestamp;
    case dtYearMonthInterval:
      if (TargetSubType == ifMonth || TargetSubType == ifYear)
        return Null | I | YearMonthClass({TargetSubType});
      return Null | YM;
    case dtDayTimeInterval:
      if (isSingleField(TargetSubType)) return Null | I | DayTimeClass({TargetSubType});
      switch (TargetSubType) {
        case 24:
          return Null | DayTimeClass({16, 24});
        case 48:
        case 56:
          return Null | DayTimeClass({32, 48, 56});
        case 96:
        case 112:
        case 120:
          return Null | DayTimeClass({64, 96, 112, 120});
        case 192:
        case 224:
        case 240:
        case 248:
          return Null | DayTimeClass({128, 192, 224, 240, 248});
        default:
          return {};
      }
    default:
      return {};
  }
}

bool TBRNExprValidator::CheckRowValueAssignment(TBRNExprToken* Source, TBRNExprToken* Target) {
  const bool sourceRow = IsRowValue(Source);
  const bool targetRow = IsRowValue(Target);
  if (targetRow && !sourceRow) RaiseExpected(Source, "row value");
  if (sourceRow && !targetRow) RaiseExpected(Source, "expression");
  if (!sourceRow) return false;
  const int32_t degree = RowValueDegree(Target);
  TBRNExprToken* sourceMembers = RowValueMembers(Source);
  TBRNExprToken* targetMembers = RowValueMembers(Target);
  if (degree != RowValueDegree(Source))
    RaiseInvalid(sourceMembers, "invalid number of row value members specified");
  for (int32_t i = 0; i < degree; ++i)
    CheckAssignable(sourceMembers->Argument(i), targetMembers->Argument(i));
  return true;
}

void TBRNExprValidator::InferParamFromTarget(TBRNExprToken* Source, TBRNExprToken* Target) {
  if (Source->Kind != tkDynamicParamReference || !Source->Link) return;
  Source->Link->AssignDataType(Target);
  CopyLinkType(Source);
}

// ---- Type-class checks -----------------------------------------------------------

void TBRNExprValidator::CheckCharacter(TBRNExprToken* Node) {
  CheckType(Node, Node->DataType == dtLob ? Clob : Char);
}
void TBRNExprValidator::CheckCharacterOrLob(TBRNExprToken* Node) {
  CheckType(Node, Char | Clob | Blob);
}
void TBRNExprValidator::CheckBooleanOrInteger(TBRNExprToken* Node) {
  CheckType(Node, Boolean | I);
}
void TBRNExprValidator::CheckNumeric(TBRNExprToken* Node) {
  CheckType(Node, N);
}
void TBRNExprValidator::CheckNumericOrInterval(TBRNExprToken* Node) {
  CheckType(Node, N | YM | DT);
}
void TBRNExprValidator::CheckNumericDateTimeOrInterval(TBRNExprToken* Node) {
  CheckType(Node, N | Date | Time | Timestamp | YM | DT);
}
void TBRNExprValidator::CheckInteger(TBRNExprToken* Node) {
  CheckType(Node, I);
}
void TBRNExprValidator::CheckDate(TBRNExprToken* Node) {
  CheckType(Node, Date);
}
void TBRNExprValidator::CheckTime(TBRNExprToken* Node) {
  CheckType(Node, Time);
}
void TBRNExprValidator::RejectLob(TBRNExprToken* Node) {
  if (Node && Node->DataType == dtLob) RaiseInvalid(Node, "BLOB expressions not allowed");
}

// ---- Data type nodes -------------------------------------------------------------

void TBRNExprValidator::ValidateDataTypeNode(TBRNExprToken* Node) {
  const auto argument = [Node](int32_t Index) {
    return Index < Node->ArgumentCount() ? Node->Argument(Index) : nullptr;
  };
  // A length or scale must be an integer literal within int32.
  const auto literalValue = [&](TBRNExprToken* Literal) {
    CheckInteger(Literal);
    if (Literal->Kind != tkConstant || !IsIntegerLiteral(Literal->Text, false))
      RaiseInvalid(Literal, "an invalid length was specified");
    return StringToInteger(Literal->Text);
  };
  const auto applyLength = [&] {
    TBRNExprToken* length = argument(0);
    if (!length) return;
    // Within what a Char or Bytes type may declare: a value of a fixed type
    // holds its whole declared length.
    const int32_t size = literalValue(length);
    if (size <= 0 || size > MaxDeclaredLength)
      RaiseInvalid(length, "an invalid length was specified");
    Node->SetSize(size);
  };
  const auto applyCollation = [&] {
    TBRNExprToken* collate = argument(1);
    if (!collate) return;
    // The grammar puts the collation name itself at argument 1 of a data
    // type; a COLLATE list holding it is accepted as well.
    TBRNExprToken* name = collate->Kind == tkCollationName ? collate
                          : collate->ArgumentCount() > 0   ? collate->Argument(0)
                                                           : nullptr;
    if (!name) return;
    ResolveObjectName(name, tkCollationName);
    Node->Collation = name->Collation;
  };
  switch (Node->DataType) {
    case dtChar:
      if (Node->SubType == stGuid) {
        Node->Size = GuidTextLength;
      } else {
        applyLength();
      }
      applyCollation();
      return;
    case dtBytes:
      if (Node->SubType == stGuid) {
        Node->Size = GuidByteLength;
        return;
      }
      applyLength();
      return;
    case dtLob:
      if (Node->SubType == stClob) applyCollation();
      return;
    case dtDecimal:
      if (TBRNExprToken* scale = argument(1)) {
        Node->SetScale(literalValue(scale));
      }
      return;
    case dtBoolean:
    case dtSmallInt:
    case dtInteger:
    case dtBigInt:
    case dtFloat:
    case dtDate:
    case dtTime:
    case dtTimestamp:
    case dtYearMonthInterval:
    case dtDayTimeInterval:
      return;
    default:
      RaiseInvalid(Node, "an invalid or unknown data type was specified");
  }
}

}  // namespace brn

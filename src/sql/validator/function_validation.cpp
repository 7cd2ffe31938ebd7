// The checks of built-in function calls and of calls of stored functions.
//
// Every check follows one pattern: validate the arguments and refuse row
// values and whole arrays among them (all arguments first), then, argument by
// argument, give a "?" the type of its position and test the argument's type
// class, and last set the node's result type. The argument positions are
// those the function grammar builds.

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>

#include "foundation/text/collation.h"
#include "foundation/text/number_text.h"
#include "sql/tree/compiled_expr.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/expr_tree_algorithms.h"
#include "sql/validator/expr_validator.h"
#include "sql/validator/validation_helpers.h"

namespace brn {

using namespace type_classes;

namespace {

using validation::argumentOrNil;

// An argument the grammar always writes.
TBRNExprToken* requiredArgument(const TBRNExprToken* Node, int32_t Index) {
  TBRNExprToken* argument = argumentOrNil(Node, Index);
  if (!argument) throw std::invalid_argument("function node without its required argument");
  return argument;
}

bool isDynamicParam(const TBRNExprToken* Node) {
  return Node && Node->Kind == tkDynamicParamReference;
}

// The count written as an integer literal, as a size: negative counts give
// nothing (0) and counts beyond int32 saturate, so that a declared size never
// turns negative or wraps to a small number.
std::optional<int32_t> constantCount(const TBRNExprToken* Node) {
  int64_t value = 0;
  if (!Node || Node->Kind != tkConstant || !TryTextToBigInt(Node->Text, false, value))
    return std::nullopt;
  return int32_t(std::clamp<int64_t>(value, 0, std::numeric_limits<int32_t>::max()));
}

int32_t multiplySizes(int32_t Count, int32_t Size) {
  if (Count <= 0 || Size <= 0) return 0;
  const int64_t product = int64_t(Count) * int64_t(Size);
  return int32_t(std::min<int64_t>(product, std::numeric_limits<int32_t>::max()));
}

bool isSingleField(int32_t Qualifier) {
  return Qualifier != 0 && (Qualifier & (Qualifier - 1)) == 0;
}

// Every type but NULL, with every subtype.
TBRNTypeClass anyType() {
  TBRNTypeClass result;
  for (int32_t type = dtChar; type <= dtDayTimeInterval; ++type) result.Types.set(size_t(type));
  result.SubTypes.set();
  return result;
}

}  // namespace

// ---- Shared steps ------------------------------------------------------------------

void TBRNExprValidator::validateFunctionArguments(TBRNExprToken* Node, int32_t First,
                                                  int32_t Count) {
  const int32_t end =
      Count < 0 ? Node->ArgumentCount() : std::min(Node->ArgumentCount(), First + Count);
  for (int32_t i = First; i < end; ++i) {
    // Validation may turn the argument node into a comparison in place; the
    // argument slot keeps the same node object.
    TBRNExprToken* argument = Node->Argument(i);
    if (!argument) continue;
    ValidateNode(argument);
    RejectRowValue(argument);
    RejectArrayReference(argument);
  }
}

void TBRNExprValidator::TypeDynamicParam(TBRNExprToken* Argument, TBRNDataTypeCode Type) {
  if (!isDynamicParam(Argument) || !Argument->Link) return;
  TBRNExprToken* param = Argument->Link;
  param->SetDataType(Type);
  if (Type == dtChar || Type == dtBytes) {
    param->SetSubType(stDefault);
    param->SetSize(0);
  }
  CopyLinkType(Argument);
}

void TBRNExprValidator::checkSingleCharacter(TBRNExprToken* Argument) {
  TypeDynamicParam(Argument, dtChar);
  if (!isDynamicParam(Argument)) CheckKind(Argument, {tkConstant});
  CheckCharacter(Argument);
  // A parameter marker has no text to look at.
  if (isDynamicParam(Argument) || Argument->Text.size() != 1)
    RaiseInvalid(Argument, "only a single character allowed");
}

void TBRNExprValidator::checkCharacterConstant(TBRNExprToken* Option) {
  if (!Option) return;
  CheckKind(Option, {tkConstant});
  CheckCharacter(Option);
}

// ---- Common result type --------------------------------------------------------------

void TBRNExprValidator::TypeAlternatives(TBRNExprToken* Node, int32_t Start) {
  const int32_t count = Node->ArgumentCount();
  if (Start >= count) throw std::invalid_argument("TypeAlternatives: no alternatives");
  TBRNExprToken* model = nullptr;
  for (int32_t i = Start; i < count && !model; ++i) {
    TBRNExprToken* argument = Node->Argument(i);
    if (argument && !argument->IsNullConstant() && !isDynamicParam(argument)) model = argument;
  }
  if (!model) {
    for (int32_t i = Start; i < count; ++i)
      if (isDynamicParam(Node->Argument(i)))
        RaiseInvalid(Node->Argument(i), "dynamic parameter type cannot be inferred");
    RaiseInvalid(Node->Argument(Start), "at least one of the result expressions must be non-NULL");
  }
  for (int32_t i = Start; i < count; ++i) {
    TBRNExprToken* argument = Node->Argument(i);
    if (isDynamicParam(argument) && argument->Link) {
      argument->Link->AssignDataType(model);
      CopyLinkType(argument);
    }
  }
  for (int32_t i = Start; i < count; ++i) {
    TBRNExprToken* argument = Node->Argument(i);
    if (argument && argument != model) CheckAssignable(argument, model);
  }
  Node->AssignDataType(model);
  for (int32_t i = Start; i < count; ++i) WidenAlternativeType(Node, Node->Argument(i));
}

void TBRNExprValidator::WidenAlternativeType(TBRNExprToken* Node, const TBRNExprToken* Argument) {
  if (!Argument) return;
  const TBRNDataTypeCode type = Argument->DataType;
  switch (Node->DataType) {
    case dtChar:
    case dtBytes: {
      const bool lob = type == dtLob && (Node->DataType == dtBytes || Argument->SubType == stClob);
      if (lob) {
        Node->AssignDataType(Argument);
        return;
      }
      if (type != Node->DataType) return;
      // A GUID type has one fixed length: longer or other texts make the
      // result a varying type.
      if (Node->SubType != stDefault && (Argument->SubType == stDefault ||
                                         (Node->SubType == stGuid && Argument->SubType != stGuid)))
        Node->SubType = stDefault;
      if (Argument->Size > Node->Size) Node->SetSize(Argument->Size);
      return;
    }
    case dtSmallInt:
      if (type == dtInteger || type == dtBigInt || type == dtFloat || type == dtDecimal)
        Node->AssignDataType(Argument);
      return;
    case dtInteger:
      if (type == dtBigInt || type == dtFloat || type == dtDecimal) Node->AssignDataType(Argument);
      return;
    case dtBigInt:
      if (type == dtFloat || type == dtDecimal) Node->AssignDataType(Argument);
      return;
    case dtDecimal:
      if (type == dtFloat)
        Node->SetDataType(dtFloat);
      else if (Argument->Scale > Node->Scale)
        Node->SetScale(Argument->Scale);
      return;
    default:
      return;
  }
}

// ---- Aggregate functions -------------------------------------------------------------

void TBRNExprValidator::ValidateAvgFunction(TBRNExprToken* Node) {
  validateFunctionArguments(Node, 0, 1);
  TBRNExprToken* value = requiredArgument(Node, 0);
  CheckNumericDateTimeOrInterval(value);
  Node->AssignDataType(value);
}

void TBRNExprValidator::ValidateCountFunction(TBRNExprToken* Node) {
  validateFunctionArguments(Node, 0, 1);
  Node->SetDataType(dtInteger);
}

void TBRNExprValidator::ValidateListFunction(TBRNExprToken* Node) {
  validateFunctionArguments(Node, 0, 2);
  TBRNExprToken* value = requiredArgument(Node, 0);
  CheckCharacter(value);
  if (TBRNExprToken* separator = argumentOrNil(Node, 1)) CheckCharacter(separator);
  Node->SetDataType(dtLob);
  Node->SetSubType(stClob);
  Node->Collation = value->Collation;
}

void TBRNExprValidator::ValidateMaxFunction(TBRNExprToken* Node) {
  validateFunctionArguments(Node, 0, 1);
  TBRNExprToken* value = requiredArgument(Node, 0);
  RejectLob(value);
  Node->AssignDataType(value);
}

void TBRNExprValidator::ValidateMinFunction(TBRNExprToken* Node) {
  ValidateMaxFunction(Node);
}

void TBRNExprValidator::validateSumLike(TBRNExprToken* Node) {
  validateFunctionArguments(Node, 0, 1);
  TBRNExprToken* value = requiredArgument(Node, 0);
  CheckNumericOrInterval(value);
  // Totals get room to grow: SmallInt sums are Integer, Integer sums BigInt.
  Node->AssignDataType(value);
  if (value->DataType == dtSmallInt)
    Node->SetDataType(dtInteger);
  else if (value->DataType == dtInteger)
    Node->SetDataType(dtBigInt);
}

void TBRNExprValidator::ValidateRunSumFunction(TBRNExprToken* Node) {
  validateSumLike(Node);
}

void TBRNExprValidator::ValidateSumFunction(TBRNExprToken* Node) {
  validateSumLike(Node);
}

void TBRNExprValidator::ValidateStdDevFunction(TBRNExprToken* Node) {
  validateFunctionArguments(Node, 0, 1);
  CheckNumeric(requiredArgument(Node, 0));
  Node->SetDataType(dtFloat);
}

void TBRNExprValidator::ValidateSumSquareFunction(TBRNExprToken* Node) {
  validateFunctionArguments(Node, 0, 1);
  Node->SetDataType(dtFloat);
}

// ---- Conditional functions -------------------------------------------------------------

void TBRNExprValidator::ValidateCaseConditions(TBRNExprToken* Node) {
  // A simple CASE (its operand is argument 2 of the CASE node, validated
  // already) holds WHEN values here: each is typed as the right side of
  // "operand = value", whose truth picks the branch.
  TBRNExprToken* operand = Node->Parent ? argumentOrNil(Node->Parent, 2) : nullptr;
  if (operand) {
    for (TBRNExprToken* value : Node->Arguments()) {
      if (!value || value->Operation == opDefault) continue;
      ValidateNode(value);
      RejectArrayReference(value);
    }
    typeComparedValues(operand, Node->Arguments());
    Node->SetDataType(dtBoolean);
    return;
  }
  validateFunctionArguments(Node);
  for (TBRNExprToken* condition : Node->Arguments()) {
    if (!condition) continue;
    TypeDynamicParam(condition, dtBoolean);
    CheckBooleanOrInteger(condition);
  }
  Node->SetDataType(dtBoolean);
}

void TBRNExprValidator::ValidateCaseResults(TBRNExprToken* Node) {
  validateFunctionArguments(Node);
  TypeAlternatives(Node, 0);
}

void TBRNExprValidator::ValidateCaseFunction(TBRNExprToken* Node) {
  TBRNExprToken* conditions = requiredArgument(Node, 0);
  TBRNExprToken* results = requiredArgument(Node, 1);
  if (conditions->ArgumentCount() != results->ArgumentCount())
    throw std::invalid_argument("CASE lists of different lengths");
  if (TBRNExprToken* operand = argumentOrNil(Node, 2)) {
    ValidateNode(operand);
    RejectArrayReference(operand);
  }
  validateFunctionArguments(Node, 0, 2);
  Node->AssignDataType(results);
  if (FilterMode) MakeTruthComparison(Node);
}

void TBRNExprValidator::ValidateIfFunction(TBRNExprToken* Node) {
  validateFunctionArguments(Node);
  TBRNExprToken* condition = requiredArgument(Node, 0);
  TypeDynamicParam(condition, dtBoolean);
  CheckBooleanOrInteger(condition);
  TypeAlternatives(Node, 1);
  if (FilterMode) MakeTruthComparison(Node);
}

void TBRNExprValidator::ValidateIfNullFunction(TBRNExprToken* Node) {
  validateFunctionArguments(Node);
  TypeAlternatives(Node, 1);
  if (FilterMode) MakeTruthComparison(Node);
}

void TBRNExprValidator::ValidateNullIfFunction(TBRNExprToken* Node) {
  for (int32_t i = 0; i < Node->ArgumentCount(); ++i) ValidateNode(Node->Argument(i));
  RejectRowValue(argumentOrNil(Node, 0));
  for (TBRNExprToken* argument : Node->Arguments()) RejectArrayReference(argument);
  TypeAlternatives(Node, 0);
}

void TBRNExprValidator::ValidateCoalesceFunction(TBRNExprToken* Node) {
  if (Node->ArgumentCount() < 2)
    RaiseInvalid(Node, "the COALESCE function must contain more than one argument");
  validateFunctionArguments(Node);
  TypeAlternatives(Node, 0);
  if (FilterMode) MakeTruthComparison(Node);
}

// ---- CAST ----------------------------------------------------------------------------

void TBRNExprValidator::ValidateCastFunction(TBRNExprToken* Node) {
  validateFunctionArguments(Node, 0, 1);
  TBRNExprToken* operand = requiredArgument(Node, 0);
  TBRNExprToken* target = requiredArgument(Node, 1);
  ValidateDataTypeNode(target);
  Node->AssignDataType(target);
  if (!operand->IsNullConstant() && !isDynamicParam(operand)) CheckCastOperand(operand, target);

  checkCharacterConstant(argumentOrNil(Node, 2));
  if (TBRNExprToken* timeFormat = argumentOrNil(Node, 3)) {
    checkCharacterConstant(timeFormat);
    checkCharacterConstant(argumentOrNil(timeFormat, 0));
    checkCharacterConstant(argumentOrNil(timeFormat, 1));
  }
  if (TBRNExprToken* decimalChar = argumentOrNil(Node, 4)) {
    checkCharacterConstant(decimalChar);
    if (decimalChar->Text.empty())
      RaiseInvalid(decimalChar, "the decimal character cannot be empty");
  }
  if (const TBRNExprToken* literals = argumentOrNil(Node, 5)) {
    checkCharacterConstant(argumentOrNil(literals, 0));
    checkCharacterConstant(argumentOrNil(literals, 1));
  }
}

void TBRNExprValidator::CheckCastOperand(TBRNExprToken* Operand, const TBRNExprToken* Target) {
  static const TBRNTypeClass kAny = anyType();
  CheckType(Operand, kAny);

  // Texts and bytes (not GUID texts) convert to everything below; the rest
  // by the target.
  constexpr int32_t kText = dtChar;
  constexpr int32_t kBytes = dtBytes;
  static const TBRNTypeClass kToNumber =
      TypeClass({kText, kBytes, dtBoolean, dtSmallInt, dtInteger, dtBigInt, dtFloat, dtDecimal},
                {stDefault, stFixed});
  static const TBRNTypeClass kToInteger =
      TypeClass({kText, kBytes, dtBoolean, dtSmallInt, dtInteger, dtBigInt, dtFloat, dtDecimal,
                 dtYearMonthInterval, dtDayTimeInterval},
                {stDefault, stFixed, 2, 4, 8, 16, 32, 64, 128});
  static const TBRNTypeClass kToDate =
      TypeClass({kText, kBytes, dtDate, dtTimestamp}, {stDefault, stFixed});
  static const TBRNTypeClass kToTime =
      TypeClass({kText, kBytes, dtTime, dtTimestamp}, {stDefault, stFixed});
  static const TBRNTypeClass kToTimestamp =
      TypeClass({kText, kBytes, dtDate, dtTime, dtTimestamp}, {stDefault, stFixed});
  static const TBRNTypeClass kToYearOrMonth =
      TypeClass({kText, kBytes, dtSmallInt, dtInteger, dtBigInt, dtYearMonthInterval},
                {stDefault, stFixed, 2, 4, 6});
  static const TBRNTypeClass kToYearToMonth =
      TypeClass({kText, kBytes, dtYearMonthInterval}, {stDefault, stFixed, 2, 4, 6});
  static const TBRNTypeClass kToDayTimeField =
      TypeClass({kText, kBytes, dtSmallInt, dtInteger, dtBigInt}, {stDefault, stFixed}) | DT;
  static const TBRNTypeClass kToDayTimeFields =
      TypeClass({kText, kBytes}, {stDefault, stFixed}) | DT;

  switch (Target->DataType) {
    case dtChar:
    case dtBytes:
    case dtLob:
      return;
    case dtBoolean:
    case dtFloat:
    case dtDecimal:
      return CheckType(Operand, kToNumber);
    case dtSmallInt:
    case dtInteger:
    case dtBigInt:
      return CheckType(Operand, kToInteger);
    case dtDate:
      return CheckType(Operand, kToDate);
    case dtTime:
      return CheckType(Operand, kToTime);
    case dtTimestamp:
      return CheckType(Operand, kToTimestamp);
    case dtYearMonthInterval:
      return CheckType(Operand, Target->SubType == ifYear || Target->SubType == ifMonth
                                    ? kToYearOrMonth
                                    : kToYearToMonth);
    case dtDayTimeInterval:
      return CheckType(Operand,
                       isSingleField(Target->SubType) ? kToDayTimeField : kToDayTimeFields);
    default:
      RaiseInvalid(const_cast<TBRNExprToken*>(Target),
                   "an invalid or unknown data type was specified");
  }
}

// ---- String functions ----------------------------------------------------------------

void TBRNExprValidator::ValidateConcatFunction(TBRNExprToken* Node) {
  validateFunctionArguments(Node);
  TBRNExprToken* left = requiredArgument(Node, 0);
  TBRNExprToken* right = requiredArgument(Node, 1);
  TypeDynamicParam(left, dtChar);
  CheckCharacter(left);
  TypeDynamicParam(right, dtChar);
  CheckCharacter(right);
  Node->SetDataType(
      GetBinaryResultType(opAdd, left->DataType, left->SubType, right->DataType, right->SubType));
  Node->SetSubType(GetBinaryResultSubType(opAdd, left->DataType, left->SubType, right->DataType,
                                          right->SubType));
  Node->Collation = GetBinaryResultCollation(opAdd, left->DataType, left->SubType, left->Collation);
  validation::setConcatenationSize(Node, left->Size, right->Size);
}

void TBRNExprValidator::validateStringPrefix(TBRNExprToken* Node, bool Repeat) {
  validateFunctionArguments(Node);
  TBRNExprToken* text = requiredArgument(Node, 0);
  TBRNExprToken* count = requiredArgument(Node, 1);
  TypeDynamicParam(text, dtChar);
  CheckCharacter(text);
  TypeDynamicParam(count, dtInteger);
  CheckInteger(count);
  Node->AssignDataType(text);
  Node->MakeVarying();
  if (const std::optional<int32_t> n = constantCount(count))
    Node->SetSize(Repeat ? multiplySizes(*n, text->Size) : *n);
}

void TBRNExprValidator::ValidateLeftFunction(TBRNExprToken* Node) {
  validateStringPrefix(Node, false);
}

void TBRNExprValidator::ValidateRightFunction(TBRNExprToken* Node) {
  validateStringPrefix(Node, false);
}

void TBRNExprValidator::ValidateRepeatFunction(TBRNExprToken* Node) {
  validateStringPrefix(Node, true);
}

void TBRNExprValidator::ValidateSubstringFunction(TBRNExprToken* Node) {
  validateFunctionArguments(Node);
  TBRNExprToken* text = requiredArgument(Node, 0);
  TBRNExprToken* start = requiredArgument(Node, 1);
  TBRNExprToken* length = argumentOrNil(Node, 2);
  TypeDynamicParam(text, dtChar);
  CheckCharacter(text);
  TypeDynamicParam(start, dtInteger);
  CheckInteger(start);
  if (length) {
    TypeDynamicParam(length, dtInteger);
    CheckInteger(length);
  }
  Node->AssignDataType(text);
  Node->MakeVarying();
  if (const std::optional<int32_t> n = constantCount(length)) Node->SetSize(*n);
}

void TBRNExprValidator::ValidateLengthFunction(TBRNExprToken* Node) {
  validateFunctionArguments(Node);
  TBRNExprToken* text = requiredArgument(Node, 0);
  TypeDynamicParam(text, dtChar);
  CheckCharacterOrLob(text);
  Node->SetDataType(dtInteger);
}

void TBRNExprValidator::ValidateLowerFunction(TBRNExprToken* Node) {
  validateFunctionArguments(Node);
  TBRNExprToken* text = requiredArgument(Node, 0);
  TypeDynamicParam(text, dtChar);
  CheckCharacter(text);
  Node->AssignDataType(text);
}

void TBRNExprValidator::ValidateUpperFunction(TBRNExprToken* Node) {
  ValidateLowerFunction(Node);
}

void TBRNExprValidator::ValidatePositionFunction(TBRNExprToken* Node) {
  validateFunctionArguments(Node);
  for (int32_t i = 0; i < 2; ++i) {
    TBRNExprToken* text = requiredArgument(Node, i);
    TypeDynamicParam(text, dtChar);
    CheckCharacter(text);
  }
  Node->SetDataType(dtInteger);
}

void TBRNExprValidator::ValidateOccursFunction(TBRNExprToken* Node) {
  ValidatePositionFunction(Node);
}

void TBRNExprValidator::ValidateReplaceFunction(TBRNExprToken* Node) {
  validateFunctionArguments(Node);
  for (int32_t i = 0; i < 3; ++i) {
    TBRNExprToken* text = requiredArgument(Node, i);
    TypeDynamicParam(text, dtChar);
    CheckCharacter(text);
  }
  // The result is the searched text with replacements.
  Node->AssignDataType(Node->Argument(2));
  Node->MakeVarying();
}

void TBRNExprValidator::ValidateQuotedStrFunction(TBRNExprToken* Node) {
  validateFunctionArguments(Node);
  TBRNExprToken* text = requiredArgument(Node, 0);
  TypeDynamicParam(text, dtChar);
  CheckCharacter(text);
  if (TBRNExprToken* quote = argumentOrNil(Node, 1)) checkSingleCharacter(quote);
  Node->AssignDataType(text);
  Node->MakeVarying();
}

void TBRNExprValidator::ValidateTrimFunction(TBRNExprToken* Node) {
  validateFunctionArguments(Node);
  checkSingleCharacter(requiredArgument(Node, 0));
  TBRNExprToken* text = requiredArgument(Node, 1);
  TypeDynamicParam(text, dtChar);
  CheckCharacter(text);
  Node->AssignDataType(text);
  Node->MakeVarying();
}

// ---- Numeric functions -------------------------------------------------------------------

void TBRNExprValidator::validateFloatFunction(TBRNExprToken* Node) {
  validateFunctionArguments(Node);
  for (TBRNExprToken* argument : Node->Arguments()) {
    if (!argument) continue;
    TypeDynamicParam(argument, dtFloat);
    CheckNumeric(argument);
  }
  Node->SetDataType(dtFloat);
}

void TBRNExprValidator::ValidateAbsFunction(TBRNExprToken* Node) {
  validateFunctionArguments(Node);
  TBRNExprToken* value = requiredArgument(Node, 0);
  TypeDynamicParam(value, dtFloat);
  CheckNumericOrInterval(value);
  Node->AssignDataType(value);
}

void TBRNExprValidator::ValidateAcosFunction(TBRNExprToken* Node) {
  validateFloatFunction(Node);
}
void TBRNExprValidator::ValidateAsinFunction(TBRNExprToken* Node) {
  validateFloatFunction(Node);
}
void TBRNExprValidator::ValidateAtanFunction(TBRNExprToken* Node) {
  validateFloatFunction(Node);
}
void TBRNExprValidator::ValidateAtan2Function(TBRNExprToken* Node) {
  validateFloatFunction(Node);
}
void TBRNExprValidator::ValidateCosFunction(TBRNExprToken* Node) {
  validateFloatFunction(Node);
}
void TBRNExprValidator::ValidateCotFunction(TBRNExprToken* Node) {
  validateFloatFunction(Node);
}
void TBRNExprValidator::ValidateDegreesFunction(TBRNExprToken* Node) {
  validateFloatFunction(Node);
}
void TBRNExprValidator::ValidateExpFunction(TBRNExprToken* Node) {
  validateFloatFunction(Node);
}
void TBRNExprValidator::ValidateLogFunction(TBRNExprToken* Node) {
  validateFloatFunction(Node);
}
void TBRNExprValidator::ValidateLog10Function(TBRNExprToken* Node) {
  validateFloatFunction(Node);
}
void TBRNExprValidator::ValidatePiFunction(TBRNExprToken* Node) {
  validateFloatFunction(Node);
}
void TBRNExprValidator::ValidatePowerFunction(TBRNExprToken* Node) {
  validateFloatFunction(Node);
}
void TBRNExprValidator::ValidateRadiansFunction(TBRNExprToken* Node) {
  validateFloatFunction(Node);
}
void TBRNExprValidator::ValidateSinFunction(TBRNExprToken* Node) {
  validateFloatFunction(Node);
}
void TBRNExprValidator::ValidateSqrtFunction(TBRNExprToken* Node) {
  validateFloatFunction(Node);
}
void TBRNExprValidator::ValidateTanFunction(TBRNExprToken* Node) {
  validateFloatFunction(Node);
}

void TBRNExprValidator::ValidateCeilingFunction(TBRNExprToken* Node) {
  validateFunctionArguments(Node);
  TBRNExprToken* value = requiredArgument(Node, 0);
  TypeDynamicParam(value, dtFloat);
  CheckNumeric(value);
  Node->SetDataType(dtInteger);
}

void TBRNExprValidator::ValidateFloorFunction(TBRNExprToken* Node) {
  ValidateCeilingFunction(Node);
}

void TBRNExprValidator::ValidateSignFunction(TBRNExprToken* Node) {
  ValidateCeilingFunction(Node);
}

void TBRNExprValidator::ValidateRandFunction(TBRNExprToken* Node) {
  if (Node->ArgumentCount() != 1) {
    Node->SetDataType(dtFloat);
    return;
  }
  validateFunctionArguments(Node);
  TBRNExprToken* range = requiredArgument(Node, 0);
  TypeDynamicParam(range, dtInteger);
  CheckInteger(range);
  Node->AssignDataType(range);
}

void TBRNExprValidator::validateRounding(TBRNExprToken* Node) {
  validateFunctionArguments(Node);
  TBRNExprToken* value = requiredArgument(Node, 0);
  TypeDynamicParam(value, dtFloat);
  CheckNumeric(value);
  if (TBRNExprToken* places = argumentOrNil(Node, 1)) {
    TypeDynamicParam(places, dtInteger);
    CheckInteger(places);
  }
  Node->AssignDataType(value);
}

void TBRNExprValidator::ValidateRoundFunction(TBRNExprToken* Node) {
  validateRounding(Node);
}

void TBRNExprValidator::ValidateTruncateFunction(TBRNExprToken* Node) {
  validateRounding(Node);
}

// ---- Date and time functions -----------------------------------------------------------

void TBRNExprValidator::validateExtract(TBRNExprToken* Node, const TBRNTypeClass& Class) {
  validateFunctionArguments(Node);
  TBRNExprToken* value = requiredArgument(Node, 0);
  TypeDynamicParam(value, dtTimestamp);
  CheckType(value, Class);
  Node->SetDataType(dtInteger);
}

void TBRNExprValidator::ValidateExtractYear(TBRNExprToken* Node) {
  static const TBRNTypeClass kClass = Date | Timestamp | YearMonthClass({ifYear, 6});
  validateExtract(Node, kClass);
}
void TBRNExprValidator::ValidateExtractMonth(TBRNExprToken* Node) {
  static const TBRNTypeClass kClass = Date | Timestamp | YearMonthClass({ifMonth, 6});
  validateExtract(Node, kClass);
}
void TBRNExprValidator::ValidateExtractWeek(TBRNExprToken* Node) {
  validateExtract(Node, Date | Timestamp);
}
void TBRNExprValidator::ValidateExtractDayOfWeek(TBRNExprToken* Node) {
  validateExtract(Node, Date | Timestamp);
}
void TBRNExprValidator::ValidateExtractDayOfYear(TBRNExprToken* Node) {
  validateExtract(Node, Date | Timestamp);
}
void TBRNExprValidator::ValidateExtractDay(TBRNExprToken* Node) {
  static const TBRNTypeClass kClass = Date | Timestamp | DayTimeClass({128, 192, 224, 240, 248});
  validateExtract(Node, kClass);
}
void TBRNExprValidator::ValidateExtractHour(TBRNExprToken* Node) {
  static const TBRNTypeClass kClass =
      Time | Timestamp | DayTimeClass({64, 96, 112, 120, 192, 224, 240, 248});
  validateExtract(Node, kClass);
}
void TBRNExprValidator::ValidateExtractMinute(TBRNExprToken* Node) {
  static const TBRNTypeClass kClass =
      Time | Timestamp | DayTimeClass({32, 48, 56, 96, 112, 120, 224, 240, 248});
  validateExtract(Node, kClass);
}
void TBRNExprValidator::ValidateExtractSecond(TBRNExprToken* Node) {
  static const TBRNTypeClass kClass =
      Time | Timestamp | DayTimeClass({16, 24, 48, 56, 112, 120, 240, 248});
  validateExtract(Node, kClass);
}
void TBRNExprValidator::ValidateExtractMSecond(TBRNExprToken* Node) {
  static const TBRNTypeClass kClass = Time | Timestamp | DayTimeClass({8, 24, 56, 120, 248});
  validateExtract(Node, kClass);
}

// ---- Session, cursor, statement and system functions -------------------------------------

void TBRNExprValidator::ValidateAbortedFunction(TBRNExprToken* Node) {
  Node->SetDataType(dtBoolean);
  if (FilterMode) MakeTruthComparison(Node);
}

void TBRNExprValidator::ValidateLoadingUpdatesFunction(TBRNExprToken* Node) {
  ValidateAbortedFunction(Node);
}

void TBRNExprValidator::ValidateInTransactionFunction(TBRNExprToken* Node) {
  validateFunctionArguments(Node);
  if (TBRNExprToken* database = argumentOrNil(Node, 0)) CheckCharacter(database);
  Node->SetDataType(dtBoolean);
}

void TBRNExprValidator::ValidateLastIdentityFunction(TBRNExprToken* Node) {
  validateFunctionArguments(Node);
  for (int32_t i = 0; i < 2; ++i) {
    TBRNExprToken* name = requiredArgument(Node, i);
    TypeDynamicParam(name, dtChar);
    CheckCharacter(name);
  }
  Node->SetDataType(dtInteger);
}

void TBRNExprValidator::ValidateExistsFunction(TBRNExprToken* Node) {
  validateFunctionArguments(Node);
  CheckKind(requiredArgument(Node, 0), {tkQuery});
  Node->SetDataType(dtBoolean);
  if (FilterMode) MakeTruthComparison(Node);
}

void TBRNExprValidator::ValidateCardinalityFunction(TBRNExprToken* Node) {
  TBRNExprToken* array = requiredArgument(Node, 0);
  ValidateNode(array);
  CheckKind(array, {tkArrayReference});
  Node->SetDataType(dtInteger);
}

void TBRNExprValidator::validateCursorFunction(TBRNExprToken* Node) {
  TBRNExprToken* cursor = requiredArgument(Node, 0);
  ValidateNode(cursor);
  CheckKind(cursor, {tkCursorReference});
}

void TBRNExprValidator::validateStatementFunction(TBRNExprToken* Node) {
  TBRNExprToken* statement = requiredArgument(Node, 0);
  ValidateNode(statement);
  CheckKind(statement, {tkStatementReference});
}

void TBRNExprValidator::ValidateBofFunction(TBRNExprToken* Node) {
  validateCursorFunction(Node);
  Node->SetDataType(dtBoolean);
}
void TBRNExprValidator::ValidateEofFunction(TBRNExprToken* Node) {
  validateCursorFunction(Node);
  Node->SetDataType(dtBoolean);
}
void TBRNExprValidator::ValidateSensitiveFunction(TBRNExprToken* Node) {
  validateCursorFunction(Node);
  Node->SetDataType(dtBoolean);
}
void TBRNExprValidator::ValidateRowCountFunction(TBRNExprToken* Node) {
  validateCursorFunction(Node);
  Node->SetDataType(dtInteger);
}
void TBRNExprValidator::ValidateColumnCountFunction(TBRNExprToken* Node) {
  validateCursorFunction(Node);
  Node->SetDataType(dtInteger);
}

void TBRNExprValidator::ValidateColumnNameFunction(TBRNExprToken* Node) {
  validateCursorFunction(Node);
  validateFunctionArguments(Node, 1, 1);
  CheckInteger(requiredArgument(Node, 1));
  Node->SetDataType(dtChar);
}

void TBRNExprValidator::ValidateRowsAffectedFunction(TBRNExprToken* Node) {
  validateStatementFunction(Node);
  Node->SetDataType(dtInteger);
}

void TBRNExprValidator::ValidateStmtResultFunction(TBRNExprToken* Node) {
  validateStatementFunction(Node);
  Node->SetDataType(dtBoolean);
}

// ---- Calls of stored functions --------------------------------------------------------------

void TBRNExprValidator::ValidateUserFunctionCall(TBRNExprToken* Node) {
  // A function calling itself is typed from its own definition: the catalog
  // does not hold it yet while it is being created. Only a FUNCTION root
  // counts (a procedure of the same name is another object).
  TBRNExprToken* routine = EnclosingRoutine(Node);
  const bool recursive =
      routine && routine->Kind == tkFunctionName && TextEqualsIgnoreCase(routine->Name, Node->Name);
  if (recursive) {
    if (const TBRNExprToken* result = argumentOrNil(argumentOrNil(routine, 2), 0))
      Node->AssignDataType(result);
    Node->Index = 0;
  } else {
    OpenQualifiedDatabase(Node);
    ResolveObjectName(Node, tkFunction);
  }
  validateFunctionArguments(Node);
  for (int32_t i = 0; i < Node->ArgumentCount(); ++i) {
    TBRNExprToken* argument = Node->Argument(i);
    if (!argument) continue;
    // Catalog parameter nodes belong to the catalog (valid while the compile
    // runs); the check does not free them.
    TBRNExprToken* param =
        recursive ? argumentOrNil(argumentOrNil(routine, 0), i) : GetFunctionParam(Node->Name, i);
    if (!param) RaiseInvalid(argument, "invalid number of parameters specified");
    if (isDynamicParam(argument) && argument->Link) {
      argument->Link->AssignDataType(param);
      CopyLinkType(argument);
    }
    CheckAssignable(argument, param);
  }
  if (FilterMode) MakeTruthComparison(Node);
}

}  // namespace brn

#pragma once

// Builds small typed expression trees by hand, as the validator would leave
// them (operation, data type, subtype, value text), so evaluator tests need
// neither the grammar nor the validator. Every function returns a new tree
// that the caller owns (TypedTree frees it).
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "foundation/types/data_types.h"
#include "sql/evaluator/expr_evaluator.h"
#include "sql/tree/expr_token.h"

namespace brn::testing {

// A constant of any type from its literal text.
inline TBRNExprToken* Constant(TBRNDataTypeCode Type, std::string_view Text,
                               TBRNDataSubType SubType = 0, int32_t Collation = 0) {
  auto* node = new TBRNExprToken();
  node->Kind = tkConstant;
  node->Text = std::string(Text);
  node->SetDataType(Type);
  if (SubType != 0) node->SetSubType(SubType);
  if (Type == dtChar || Type == dtBytes) node->SetSize(int32_t(Text.size()));
  if (Type == dtDecimal) node->SetScale(4);
  node->Collation = Collation;
  return node;
}

inline TBRNExprToken* Null() {
  return Constant(dtNull, "NULL");
}
inline TBRNExprToken* Int(int64_t Value) {
  return Constant(dtInteger, std::to_string(Value));
}
inline TBRNExprToken* Small(int64_t Value) {
  return Constant(dtSmallInt, std::to_string(Value));
}
inline TBRNExprToken* Big(int64_t Value) {
  return Constant(dtBigInt, std::to_string(Value));
}
inline TBRNExprToken* Flt(std::string_view Text) {
  return Constant(dtFloat, Text);
}
inline TBRNExprToken* Dec(std::string_view Text) {
  return Constant(dtDecimal, Text);
}
inline TBRNExprToken* Str(std::string_view Text, int32_t Collation = 0) {
  return Constant(dtChar, Text, 0, Collation);
}
inline TBRNExprToken* Bool(bool Value) {
  return Constant(dtBoolean, Value ? "TRUE" : "FALSE");
}
inline TBRNExprToken* Date(std::string_view Text) {
  return Constant(dtDate, Text);
}
inline TBRNExprToken* Time(std::string_view Text) {
  return Constant(dtTime, Text);
}
inline TBRNExprToken* Stamp(std::string_view Text) {
  return Constant(dtTimestamp, Text);
}
inline TBRNExprToken* YM(std::string_view Text, TBRNIntervalFields Qualifier) {
  return Constant(dtYearMonthInterval, Text, Qualifier);
}
inline TBRNExprToken* DT(std::string_view Text, TBRNIntervalFields Qualifier) {
  return Constant(dtDayTimeInterval, Text, Qualifier);
}
// A typed constant that is NULL (as a NULL column value of that type).
inline TBRNExprToken* NullOf(TBRNDataTypeCode Type, TBRNDataSubType SubType = 0) {
  TBRNExprToken* node = Constant(Type, "NULL", SubType);
  node->Kind = tkColumnReference;  // a value holder that keeps what is set
  return node;
}

// A binary operator of result type Type (and SubType).
inline TBRNExprToken* Op(TBRNExprOperation Operation, TBRNDataTypeCode Type, TBRNExprToken* Left,
                         TBRNExprToken* Right, TBRNDataSubType SubType = 0) {
  auto* node = new TBRNExprToken();
  node->Kind = tkOperator;
  node->Operation = Operation;
  node->SetDataType(Type);
  if (SubType != 0) node->SetSubType(SubType);
  if (Type == dtDecimal) node->SetScale(4);
  node->SetLeft(Left);
  node->SetRight(Right);
  return node;
}

// A comparison, AND or OR (Boolean).
inline TBRNExprToken* Cond(TBRNExprOperation Operation, TBRNExprToken* Left, TBRNExprToken* Right) {
  return Op(Operation, dtBoolean, Left, Right);
}

inline TBRNExprToken* Unary(TBRNExprOperation Operation, TBRNDataTypeCode Type,
                            TBRNExprToken* Operand, TBRNDataSubType SubType = 0) {
  auto* node = new TBRNExprToken();
  node->Kind = tkUnaryOperator;
  node->Operation = Operation;
  node->SetDataType(Type);
  if (SubType != 0) node->SetSubType(SubType);
  if (Type == dtDecimal) node->SetScale(4);
  node->SetLeft(Operand);
  return node;
}

inline TBRNExprToken* Not(TBRNExprToken* Operand) {
  return Unary(opNot, dtBoolean, Operand);
}

// A predicate (Boolean) over its arguments, the tested value first.
inline TBRNExprToken* Pred(TBRNExprOperation Operation,
                           std::initializer_list<TBRNExprToken*> Arguments) {
  auto* node = new TBRNExprToken();
  node->Kind = tkPredicate;
  node->Operation = Operation;
  node->SetDataType(dtBoolean);
  for (TBRNExprToken* argument : Arguments) node->AddArgument(argument);
  return node;
}

inline TBRNExprToken* Row(std::initializer_list<TBRNExprToken*> Members) {
  auto* node = new TBRNExprToken();
  node->Kind = tkRowValue;
  for (TBRNExprToken* member : Members) node->AddArgument(member);
  return node;
}

// Owns a built tree for the length of a test.
class TypedTree {
 public:
  explicit TypedTree(TBRNExprToken* Root) : FRoot(Root) {}
  ~TypedTree() { FreeExprTree(FRoot); }
  TypedTree(const TypedTree&) = delete;
  TypedTree& operator=(const TypedTree&) = delete;
  TBRNExprToken* Get() const { return FRoot; }
  TBRNExprToken* operator->() const { return FRoot; }

 private:
  TBRNExprToken* FRoot;
};

// The evaluated result of a tree: "NULL" or the value's text.
std::string ResultText(TBRNExprEvaluator& Evaluator, TBRNExprToken* Root);
// Builds, evaluates once with a fresh evaluator and frees: "NULL", the
// value's text, or "error <code>" when evaluation raises.
std::string EvaluateTree(TBRNExprToken* Root, bool StandardNullBehavior);

}  // namespace brn::testing

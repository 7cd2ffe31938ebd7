#include "execution/evaluator/holding_values.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "foundation/text/exception.h"
#include "sql/tree/expr_token.h"

namespace brn {

void TypeValueFromNode(TBRNValue& value, const TBRNExprToken& node) {
  value.SetDataType(node.DataType);
  value.SetDataSubType(node.SubType);
  value.SetLength(node.Size);
  value.SetScale(node.Scale);
  value.SetCollation(node.Collation);
}

int32_t ParamDirectionOf(const TBRNExprToken& node) {
  switch (node.Operation) {
    case opParamIn:
      return pmInput;
    case opParamInOut:
      return pmInputOutput;
    case opParamOut:
      return pmOutput;
    case opResultParam:
      return pmResult;
    default:
      return pmNotSet;
  }
}

namespace {

void setUpParam(TBRNParamValue& param, const TBRNExprToken& node) {
  TypeValueFromNode(param, node);
  param.SetName(node.Name);
  param.SetDirection(ParamDirectionOf(node));
}

}  // namespace

TBRNRoutineParamValue::TBRNRoutineParamValue(TBRNExprToken* node) : Node(node) {
  setUpParam(*this, *node);
}

TBRNDynamicParamValue::TBRNDynamicParamValue(TBRNExprToken* node) : Node(node) {
  setUpParam(*this, *node);
}

// ---- Variables

TBRNVariableValue::TBRNVariableValue(TBRNExprToken* node) : Node(node) {
  TypeValueFromNode(*this, *node);
}

void TBRNVariableValue::RaiseTruncationError(std::string_view text, bool includeText) const {
  RaiseConversionFailure("variable", Node->Name, TruncationDetail(text, includeText));
}

void TBRNVariableValue::RaiseOutOfRangeError(std::string_view text, bool includeText) const {
  RaiseConversionFailure("variable", Node->Name, OutOfRangeDetail(text, includeText));
}

void TBRNVariableValue::RaiseConversionError(std::string_view text, bool includeText) const {
  RaiseConversionFailure("variable", Node->Name, ConversionDetail(text, includeText));
}

// ---- ARRAY variables

TBRNValue* TBRNArrayValues::CreateValue(int32_t) {
  return new TBRNVariableValue(Node);
}

void TBRNArrayValues::SetDeclaredCount(int32_t count) {
  if (count < 0) throw std::invalid_argument("An array size cannot be negative");
  // Elements beyond the new count go (the storage may stay larger).
  while (Count > count) {
    TBRNValue*& slot = Items[size_t(Count - 1)];
    delete slot;
    slot = nullptr;
    --Count;
  }
  declaredCount_ = count;
}

TBRNValue* TBRNArrayValues::Existing(int32_t position) const {
  if (position < 1 || position > declaredCount_)
    throw std::out_of_range("The array position is outside the array");
  return position <= Count ? Items[size_t(position - 1)] : nullptr;
}

TBRNValue* TBRNArrayValues::Obtain(int32_t position) {
  if (TBRNValue* existing = Existing(position)) return existing;
  if (position > Count) {
    if (position > Capacity) SetCapacity(position);
    SetCount(position);
  }
  TBRNValue*& slot = Items[size_t(position - 1)];
  slot = CreateValue(position - 1);
  return slot;
}

TBRNArrayValuesValue::TBRNArrayValuesValue(TBRNExprToken* node, int32_t count)
    : Node(node), Elements(std::make_unique<TBRNArrayValues>(node)) {
  TypeValueFromNode(*this, *node);
  if (count < 0) RaiseIndexError(count);
  Elements->SetDeclaredCount(count);
}

void RaiseArrayIndexError(std::string_view name, int64_t index) {
  RaiseConversionFailure(
      "array", name,
      "The value " + std::to_string(index) + " is out of the range of permissible index values");
}

void TBRNArrayValuesValue::RaiseIndexError(int64_t index) const {
  RaiseArrayIndexError(Node->Name, index);
}

TBRNValue* TBRNArrayValuesValue::GetElement(int32_t index) {
  if (index < 1 || index > Elements->GetDeclaredCount()) RaiseIndexError(index);
  return Elements->Obtain(index);
}

int32_t TBRNArrayValuesValue::GetCardinality() const {
  for (int32_t position = Elements->GetCount(); position >= 1; --position)
    if (Elements->Existing(position) != nullptr) return position;
  return 0;
}

void TBRNArrayValuesValue::Assign(const TBRNValue& source) {
  if (const auto* other = dynamic_cast<const TBRNArrayValuesValue*>(&source)) {
    if (other == this) return;
    const TBRNArrayValues& from = *other->Elements;
    Elements->SetDeclaredCount(from.GetDeclaredCount());
    for (int32_t position = 1; position <= from.GetCount(); ++position)
      if (const TBRNValue* element = from.Existing(position))
        Elements->Obtain(position)->Assign(*element);
    return;
  }
  for (int32_t position = 1; position <= Elements->GetDeclaredCount(); ++position)
    Elements->Obtain(position)->Assign(source);
}

// ---- Row values

void TBRNRowValueValue::Clear() {
  for (TBRNExprToken* member : Node->Arguments())
    if (member != nullptr && member->Kind != tkConstant && member->Value != nullptr)
      member->Value->Clear();
}

void TBRNRowValueValue::Assign(const TBRNValue& source) {
  const auto* other = dynamic_cast<const TBRNRowValueValue*>(&source);
  if (other == nullptr || other == this) return;
  const int32_t count = std::min(Node->ArgumentCount(), other->Node->ArgumentCount());
  for (int32_t i = 0; i < count; ++i) {
    TBRNExprToken* member = Node->Argument(i);
    const TBRNExprToken* from = other->Node->Argument(i);
    if (member == nullptr || from == nullptr || member->Value == nullptr || from->Value == nullptr)
      continue;
    member->Value->Assign(*from->Value);
  }
}

int32_t TBRNRowValueValue::Compare(const TBRNValue& other, int32_t, bool ignoreCase,
                                   int32_t) const {
  const auto* row = dynamic_cast<const TBRNRowValueValue*>(&other);
  if (row == nullptr) return -1;
  const int32_t count = std::min(Node->ArgumentCount(), row->Node->ArgumentCount());
  for (int32_t i = 0; i < count; ++i) {
    const TBRNExprToken* member = Node->Argument(i);
    const TBRNExprToken* against = row->Node->Argument(i);
    if (member == nullptr || against == nullptr || member->Value == nullptr ||
        against->Value == nullptr)
      continue;
    const int32_t result =
        member->Value->Compare(*against->Value, Node->PartialLength, ignoreCase, Node->Collation);
    if (result != 0) return result;
  }
  return 0;
}

}  // namespace brn

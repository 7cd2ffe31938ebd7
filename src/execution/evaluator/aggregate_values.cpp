#include "execution/evaluator/aggregate_values.h"

#include <stdexcept>

#include "execution/evaluator/local_expr_evaluator.h"
#include "foundation/text/exception.h"
#include "sql/tree/expr_token.h"

namespace brn {

namespace {

constexpr size_t kCapacityStep = 256;

}  // namespace

bool TBRNAggregateValues::Find(const TBRNValue& value, int32_t& index) const {
  size_t low = 0;
  size_t high = items_.size();
  while (low < high) {
    const size_t middle = low + (high - low) / 2;
    const TBRNContainedValue& item = *items_[middle];
    const int32_t order = item.Compare(value, 0, false, item.GetCollation());
    if (order == 0) {
      index = int32_t(middle);
      return true;
    }
    if (order < 0)
      low = middle + 1;
    else
      high = middle;
  }
  index = int32_t(low);
  return false;
}

void TBRNAggregateValues::Insert(int32_t index, std::unique_ptr<TBRNContainedValue> item) {
  if (index < 0 || size_t(index) > items_.size())
    throw std::out_of_range("TBRNAggregateValues: index out of range");
  if (items_.size() == items_.capacity())
    items_.reserve((items_.size() + 1 + kCapacityStep - 1) / kCapacityStep * kCapacityStep);
  items_.insert(items_.begin() + index, std::move(item));
}

bool TBRNAggregateValues::Add(const TBRNValue& value, bool unique) {
  int32_t index = 0;
  const bool present = Find(value, index);
  if (present && unique) return false;
  auto item = std::make_unique<TBRNContainedValue>();
  item->SetDataType(value.GetDataType());
  item->SetDataSubType(value.GetSubType());
  item->SetLength(value.GetLength());
  item->SetScale(value.GetScale());
  item->SetCollation(value.GetCollation());
  item->Assign(value);
  Insert(index, std::move(item));
  return true;
}

void TBRNAggregateValues::Clear() {
  std::vector<std::unique_ptr<TBRNContainedValue>> items;
  items.swap(items_);
}

// ---- The aggregate reference

TBRNAggregateFunctionReferenceValue::TBRNAggregateFunctionReferenceValue(
    TBRNLocalExprEvaluator* evaluator, TBRNExprToken* node)
    : TBRNNodeReferenceValue(evaluator, node) {
  SetDataType(node->DataType);
  SetDataSubType(node->SubType);
  SetScale(node->Scale);
  SetCollation(node->Collation);
  Groups.Size = INT32_MAX;
}

TBRNValue* TBRNAggregateFunctionReferenceValue::GetReferencedValue() const {
  const TBRNExprToken* item = Node->Parent;
  while (item != nullptr && item->Kind != tkSelectItem) item = item->Parent;
  const TBRNEvaluatorContext* context = Evaluator->GetEvaluatorContext();
  if (context == nullptr || context->ResultRow == nullptr || item == nullptr || item->Index < 0 ||
      item->Index + 1 >= context->ResultRow->GetCount())
    RaiseConversionFailure("column", Node->Name, "The result row is not available");
  return context->ResultRow->GetItem(item->Index + 1);
}

TBRNAggregateValues& TBRNAggregateFunctionReferenceValue::GetGroupValues(int32_t groupRow) {
  TBRNBitmapObject* object = nullptr;
  if (Groups.GetBitObject(groupRow, object) && object != nullptr)
    return static_cast<TBRNAggregateValues&>(*object);
  auto values = std::make_unique<TBRNAggregateValues>();
  TBRNAggregateValues& result = *values;
  Groups.SetBitObject(groupRow, values.release(), true);
  return result;
}

bool TBRNAggregateFunctionReferenceValue::AddGroupValue(int32_t groupRow, const TBRNValue& value,
                                                        bool unique) {
  TBRNAggregateValues& values = GetGroupValues(groupRow);
  if (values.Count() > 0 && GetNull()) values.Clear();
  return values.Add(value, unique);
}

std::string TBRNAggregateFunctionReferenceValue::JoinGroupValues(int32_t groupRow,
                                                                 const std::string& separator) {
  TBRNAggregateValues& values = GetGroupValues(groupRow);
  std::string text;
  for (int32_t i = 0; i < values.Count(); ++i) {
    if (i > 0) text += separator;
    text += values.Item(i).GetAsString();
  }
  return text;
}

}  // namespace brn

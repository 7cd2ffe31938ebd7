#include "execution/evaluator/aggregate_values.h"

#include <cstdint>
#include <stdexcept>
#include <string>

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

// ---- The aggregate hooks of the local evaluator

namespace {

constexpr int32_t kDistinct = 1;
constexpr int32_t kOrdered = 2;

TBRNAggregateFunctionReferenceValue& aggregateOf(TBRNExprToken* node) {
  auto* reference = dynamic_cast<TBRNAggregateFunctionReferenceValue*>(node->GetOwnValue());
  if (reference == nullptr) throw std::logic_error("An aggregate node without its reference value");
  return *reference;
}

int32_t groupRowOf(const TBRNLocalExprEvaluator& evaluator) {
  const TBRNEvaluatorContext* context = evaluator.GetEvaluatorContext();
  return context != nullptr ? context->ResultGroupRow : 0;
}

// The aggregated argument, evaluated; nullptr when the row is skipped (a
// NULL argument, or a value a DISTINCT aggregate has seen in its group).
TBRNExprToken* aggregatedArgument(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNExprToken* argument = node->ArgumentCount() > 0 ? node->Argument(0) : nullptr;
  if (argument == nullptr) return nullptr;
  evaluator.Evaluate(argument);
  if (argument->Value->GetNull()) return nullptr;
  if (node->Variant == kDistinct &&
      !aggregateOf(node).AddGroupValue(groupRowOf(evaluator), *argument->Value, true))
    return nullptr;
  return argument;
}

bool isIntegerType(TBRNDataTypeCode type) {
  return type == dtSmallInt || type == dtInteger || type == dtBigInt;
}

[[noreturn]] void raiseSumOutOfRange(const TBRNValue& accumulator, __int128 sum) {
  const bool negative = sum < 0;
  unsigned __int128 magnitude =
      negative ? -static_cast<unsigned __int128>(sum) : static_cast<unsigned __int128>(sum);
  std::string digits;
  do {
    digits.insert(digits.begin(), char('0' + int(magnitude % 10)));
    magnitude /= 10;
  } while (magnitude != 0);
  accumulator.RaiseOutOfRangeError((negative ? "-" : "") + digits, false);
  throw std::logic_error("A value's range error returned");
}

// sum when it lies within [low, high]; otherwise the accumulator's range
// error (a sum never wraps).
int64_t checkedSum(const TBRNValue& accumulator, __int128 sum, int64_t low, int64_t high) {
  if (sum < low || sum > high) raiseSumOutOfRange(accumulator, sum);
  return int64_t(sum);
}

}  // namespace

void TBRNLocalExprEvaluator::AggregateCount(TBRNExprToken* node) {
  TBRNValue& accumulator = *node->Value;
  TBRNExprToken* argument = node->ArgumentCount() > 0 ? node->Argument(0) : nullptr;
  const bool everyRow =
      argument == nullptr || (argument->Kind == tkColumnReference && argument->Name == "*");
  if (!everyRow) {
    Evaluate(argument);
    if (argument->Value->GetNull()) {
      // A group of only NULLs counts 0, not NULL.
      if (accumulator.GetNull()) accumulator.SetAsInteger(0);
      return;
    }
    if (node->Variant == kDistinct &&
        !aggregateOf(node).AddGroupValue(groupRowOf(*this), *argument->Value, true))
      return;
  }
  const int64_t counted = accumulator.GetNull() ? 0 : accumulator.GetAsBigInt();
  accumulator.SetAsBigInt(checkedSum(accumulator, __int128(counted) + 1, INT32_MIN, INT32_MAX));
}

void TBRNLocalExprEvaluator::AggregateList(TBRNExprToken* node) {
  TBRNExprToken* argument = node->ArgumentCount() > 0 ? node->Argument(0) : nullptr;
  if (argument == nullptr) return;
  Evaluate(argument);
  if (argument->Value->GetNull()) return;
  std::string separator = ",";
  if (TBRNExprToken* given = node->ArgumentCount() > 1 ? node->Argument(1) : nullptr) {
    Evaluate(given);
    separator = given->Value->GetAsString();
  }
  TBRNValue& accumulator = *node->Value;
  TBRNAggregateFunctionReferenceValue& aggregate = aggregateOf(node);
  const int32_t groupRow = groupRowOf(*this);
  if ((node->Variant & kOrdered) != 0) {
    const bool distinct = (node->Variant & kDistinct) != 0;
    if (!aggregate.AddGroupValue(groupRow, *argument->Value, distinct)) return;
    accumulator.SetAsString(aggregate.JoinGroupValues(groupRow, separator));
    return;
  }
  if (node->Variant == kDistinct && !aggregate.AddGroupValue(groupRow, *argument->Value, true))
    return;
  const std::string text = argument->Value->GetAsString();
  accumulator.SetAsString(accumulator.GetNull() ? text
                                                : accumulator.GetAsString() + separator + text);
}

void TBRNLocalExprEvaluator::AggregateMax(TBRNExprToken* node) {
  TBRNExprToken* argument = aggregatedArgument(*this, node);
  if (argument == nullptr) return;
  TBRNValue& accumulator = *node->Value;
  // An equal value leaves the first one in place.
  if (accumulator.GetNull() ||
      argument->Value->CompareConverting(accumulator, 0, false, argument->Collation) > 0)
    accumulator.Assign(*argument->Value);
}

void TBRNLocalExprEvaluator::AggregateMin(TBRNExprToken* node) {
  TBRNExprToken* argument = aggregatedArgument(*this, node);
  if (argument == nullptr) return;
  TBRNValue& accumulator = *node->Value;
  if (accumulator.GetNull() ||
      argument->Value->CompareConverting(accumulator, 0, false, argument->Collation) < 0)
    accumulator.Assign(*argument->Value);
}

void TBRNLocalExprEvaluator::AggregateSum(TBRNExprToken* node) {
  TBRNExprToken* argument = aggregatedArgument(*this, node);
  if (argument == nullptr) return;
  TBRNValue& accumulator = *node->Value;
  const TBRNValue& value = *argument->Value;
  const bool empty = accumulator.GetNull();
  switch (accumulator.GetDataType()) {
    case dtSmallInt:
    case dtInteger: {
      // Narrow sums take any argument converted; they still never wrap.
      const int64_t low = accumulator.GetDataType() == dtSmallInt ? INT16_MIN : INT32_MIN;
      const int64_t high = accumulator.GetDataType() == dtSmallInt ? INT16_MAX : INT32_MAX;
      const __int128 sum = __int128(empty ? 0 : accumulator.GetAsBigInt()) + value.GetAsBigInt();
      accumulator.SetAsBigInt(checkedSum(accumulator, sum, low, high));
      return;
    }
    case dtBigInt: {
      if (!isIntegerType(value.GetDataType())) return;
      const __int128 sum = __int128(empty ? 0 : accumulator.GetAsBigInt()) + value.GetAsBigInt();
      accumulator.SetAsBigInt(checkedSum(accumulator, sum, INT64_MIN, INT64_MAX));
      return;
    }
    case dtFloat:
      accumulator.SetAsFloat((empty ? 0.0 : accumulator.GetAsFloat()) + value.GetAsFloat());
      return;
    case dtDecimal: {
      const __int128 sum =
          __int128(empty ? 0 : accumulator.GetAsDecimal()) + value.GetAsDecimal();
      accumulator.SetAsDecimal(checkedSum(accumulator, sum, INT64_MIN, INT64_MAX));
      return;
    }
    case dtYearMonthInterval: {
      const __int128 sum = __int128(empty ? 0 : accumulator.GetAsYearMonthInterval()) +
                           value.GetAsYearMonthInterval();
      accumulator.SetAsYearMonthInterval(
          int32_t(checkedSum(accumulator, sum, INT32_MIN, INT32_MAX)));
      return;
    }
    case dtDayTimeInterval: {
      const __int128 sum = __int128(empty ? 0 : accumulator.GetAsDayTimeInterval()) +
                           value.GetAsDayTimeInterval();
      accumulator.SetAsDayTimeInterval(checkedSum(accumulator, sum, INT64_MIN, INT64_MAX));
      return;
    }
    default:
      return;
  }
}

void TBRNLocalExprEvaluator::AggregateSumSquares(TBRNExprToken* node) {
  TBRNExprToken* argument = aggregatedArgument(*this, node);
  if (argument == nullptr) return;
  switch (argument->Value->GetDataType()) {
    case dtSmallInt:
    case dtInteger:
    case dtBigInt:
    case dtFloat:
    case dtDecimal:
      break;
    default:
      return;
  }
  TBRNValue& accumulator = *node->Value;
  const double x = argument->Value->GetAsFloat();
  accumulator.SetAsFloat((accumulator.GetNull() ? 0.0 : accumulator.GetAsFloat()) + x * x);
}

}  // namespace brn

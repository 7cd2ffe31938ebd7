#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "execution/evaluator/reference_values.h"
#include "foundation/core/sparse_bitmap.h"
#include "foundation/values/contained_value.h"

namespace brn {

// The values one aggregate saw in one result group, kept sorted by
// TBRNValue::Compare under each item's collation (DISTINCT aggregates and
// LIST). Owns its items. Used by the session's thread only.
class TBRNAggregateValues : public TBRNBitmapObject {
 public:
  // Binary search: true when an item equal to value exists (index is its
  // position); otherwise index is where value would be inserted (after the
  // last item that sorts before it).
  bool Find(const TBRNValue& value, int32_t& index) const;
  // Inserts item at index (0..Count), the following items moving up;
  // std::out_of_range outside.
  void Insert(int32_t index, std::unique_ptr<TBRNContainedValue> item);
  // Find; when value is absent, or unique is false, a copy typed like value
  // (type, subtype, length, scale, collation) goes in at the found position.
  // True when value was absent before; always true when unique is false.
  bool Add(const TBRNValue& value, bool unique);
  // Frees every item; the count is 0 afterwards in every case.
  void Clear();
  int32_t Count() const { return int32_t(items_.size()); }
  const TBRNContainedValue& Item(int32_t index) const { return *items_.at(size_t(index)); }
  // Capacity grows to the count rounded up to a multiple of 256.
  int32_t Capacity() const { return int32_t(items_.capacity()); }

 private:
  std::vector<std::unique_ptr<TBRNContainedValue>> items_;
};

// An aggregate function (AVG, COUNT, LIST, MAX, MIN, STDDEV, SUM, sum of
// squares): its running value is the context's result row at the column
// number of the select item that holds it + 1. Groups keeps, per result
// group row number, the values the aggregate saw there.
class TBRNAggregateFunctionReferenceValue : public TBRNNodeReferenceValue {
 public:
  TBRNAggregateFunctionReferenceValue(TBRNLocalExprEvaluator* evaluator, TBRNExprToken* node);
  TBRNValue* GetReferencedValue() const override;

  // The values of the group in result row groupRow (1-based), created and
  // attached on first use. The query that builds the result row knows that
  // number (the current row, or the next row number while the row is new).
  TBRNAggregateValues& GetGroupValues(int32_t groupRow);
  // Adds value to the group's set and answers whether it was new. When the
  // running value is still NULL while the set is not empty, a new group has
  // started in that row: the set is cleared first.
  bool AddGroupValue(int32_t groupRow, const TBRNValue& value, bool unique);
  // The group's values as text, in sorted order, joined by separator.
  std::string JoinGroupValues(int32_t groupRow, const std::string& separator);

  // Group row number -> TBRNAggregateValues (owned).
  TBRNSparseBitmap Groups{true, true, 0};
};

}  // namespace brn

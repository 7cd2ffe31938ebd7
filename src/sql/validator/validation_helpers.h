#pragma once
// Small helpers shared by the validator's source files (not part of the
// validator's interface).
#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "foundation/types/data_types.h"
#include "sql/tree/expr_operations.h"
#include "sql/tree/expr_token.h"

namespace brn::validation {

// The argument at Index, or nullptr when Node is nullptr or has no such
// argument.
inline TBRNExprToken* argumentOrNil(const TBRNExprToken* Node, int32_t Index) {
  return Node && Index >= 0 && Index < Node->ArgumentCount() ? Node->Argument(Index) : nullptr;
}

// The validator's files name it validation::isComparisonOperation.
using brn::isComparisonOperation;

// The select items of a select list that are not hidden, in order (none
// when SelectList is nullptr).
inline std::vector<TBRNExprToken*> visibleItems(const TBRNExprToken* SelectList) {
  std::vector<TBRNExprToken*> items;
  if (SelectList)
    for (TBRNExprToken* item : SelectList->Arguments())
      if (item && !item->Hidden) items.push_back(item);
  return items;
}

// The size of a concatenation: the sum of the two sizes, saturating at
// int32. A fixed result longer than a Char or Bytes type may declare becomes
// variable: its value holds the same characters (the operands' padding
// included), but no fixed buffer sized from statement text is made for it.
inline void setConcatenationSize(TBRNExprToken* Node, int32_t A, int32_t B) {
  const int64_t sum = int64_t(A) + int64_t(B);
  Node->SetSize(int32_t(std::min<int64_t>(sum, std::numeric_limits<int32_t>::max())));
  if (Node->Size > MaxDeclaredLength) Node->MakeVarying();
}

// Sets a field for the life of the scope and restores it when the scope
// ends, also when an error passes.
template <typename T>
class FieldRestorer {
 public:
  FieldRestorer(T& Field, T Value) : FField(Field), FSaved(Field) { Field = Value; }
  ~FieldRestorer() { FField = FSaved; }
  FieldRestorer(const FieldRestorer&) = delete;
  FieldRestorer& operator=(const FieldRestorer&) = delete;

 private:
  T& FField;
  T FSaved;
};

}  // namespace brn::validation

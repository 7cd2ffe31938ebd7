#pragma once
// Small helpers shared by the validator's source files (not part of the
// validator's interface).
#include <cstdint>
#include <vector>

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

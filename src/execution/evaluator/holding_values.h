#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "foundation/values/contained_value.h"
#include "foundation/values/param_value.h"
#include "foundation/values/value_list.h"

namespace brn {

class TBRNExprToken;

// The run-time values of declared names that keep their data themselves:
// parameters, variables, ARRAY variables and row values. Each keeps the node
// it was made for (not owned; the node owns the value). Used by the thread
// of the evaluator's session only.

// Types Value from Node: data type, subtype, length, scale, collation.
void TypeValueFromNode(TBRNValue& value, const TBRNExprToken& node);

// The parameter direction a parameter node's operation code gives: 169
// input, 170 input/output, 173 output, 177 result, anything else not set.
int32_t ParamDirectionOf(const TBRNExprToken& node);

// A parameter of a routine: typed, named and directed from its node; holds
// to its declared length.
class TBRNRoutineParamValue : public TBRNParamValue {
 public:
  explicit TBRNRoutineParamValue(TBRNExprToken* node);
  TBRNExprToken* const Node;
};

// A dynamic parameter of a statement ("?"), as a routine parameter.
class TBRNDynamicParamValue : public TBRNParamValue {
 public:
  explicit TBRNDynamicParamValue(TBRNExprToken* node);
  TBRNExprToken* const Node;
};

// A declared variable (also an element of an ARRAY variable): typed from its
// node, it holds to its declared length (trailing blanks beyond it are cut
// silently) and its conversion errors name it: 1011 "An error occurred with
// the variable <name> (<detail>)".
class TBRNVariableValue : public TBRNContainedValue {
 public:
  explicit TBRNVariableValue(TBRNExprToken* node);
  bool EnforcesDeclaredLength() const override { return true; }
  [[noreturn]] void RaiseTruncationError(std::string_view text, bool includeText) const override;
  [[noreturn]] void RaiseOutOfRangeError(std::string_view text, bool includeText) const override;
  [[noreturn]] void RaiseConversionError(std::string_view text, bool includeText) const override;
  TBRNExprToken* const Node;
};

// The elements of an ARRAY variable: an owning list of TBRNVariableValue
// typed from the ARRAY node. Positions 1..DeclaredCount exist; an element is
// created when first used, and the storage grows only as far as the highest
// position used, so a large declared size costs nothing until used.
class TBRNArrayValues : public TBRNValues {
 public:
  explicit TBRNArrayValues(TBRNExprToken* node) : Node(node) {}
  // A new element for the ARRAY node (the list owns it).
  TBRNValue* CreateValue(int32_t index) override;
  // The declared element count (never negative).
  int32_t GetDeclaredCount() const { return declaredCount_; }
  void SetDeclaredCount(int32_t count);
  // The element at 1-based position, nullptr when not used yet; position
  // must be within 1..DeclaredCount (std::out_of_range otherwise).
  TBRNValue* Existing(int32_t position) const;
  // The element at 1-based position, created on first use.
  TBRNValue* Obtain(int32_t position);

  TBRNExprToken* const Node;

 private:
  int32_t declaredCount_ = 0;
};

// 1011 "An error occurred with the array <name> (The value <index> is out of
// the range of permissible index values)".
[[noreturn]] void RaiseArrayIndexError(std::string_view name, int64_t index);

// An ARRAY variable. Its own data is unused: the elements carry the data.
// Assign from another ARRAY variable takes the other's count and the
// elements the other has (positions the other never used keep theirs);
// from any other value every element 1..count gets that value.
class TBRNArrayValuesValue : public TBRNContainedValue {
 public:
  // count: the value of the declaration's size expression; a negative one
  // raises the index error.
  TBRNArrayValuesValue(TBRNExprToken* node, int32_t count);
  bool EnforcesDeclaredLength() const override { return true; }
  void Assign(const TBRNValue& source) override;
  // The element at index, created on first use; an index outside
  // 1..count raises 1011 "An error occurred with the array <name> (The
  // value <index> is out of the range of permissible index values)".
  TBRNValue* GetElement(int32_t index);
  // The highest position whose element exists; 0 when none.
  int32_t GetCardinality() const;
  [[noreturn]] void RaiseIndexError(int64_t index) const;

  TBRNExprToken* const Node;
  const std::unique_ptr<TBRNArrayValues> Elements;
};

// A row value constructor (a, b, ...), whose members are its argument
// nodes. Not typed: the members carry the data.
class TBRNRowValueValue : public TBRNContainedValue {
 public:
  explicit TBRNRowValueValue(TBRNExprToken* node) : Node(node) {}
  // Clears every member that is not a constant.
  void Clear() override;
  // From another row value: member i := the other's member i. Any other
  // source changes nothing (row subqueries come with the query values).
  void Assign(const TBRNValue& source) override;
  // Against another row value: member by member, the first difference
  // decides (under the row node's partial length, the member's collation
  // and ignoreCase); 0 when all are equal. Against anything else -1.
  int32_t Compare(const TBRNValue& other, int32_t partialLength, bool ignoreCase,
                  int32_t collation) const override;
  TBRNExprToken* const Node;
};

}  // namespace brn

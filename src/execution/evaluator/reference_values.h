#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "execution/evaluator/holding_values.h"
#include "foundation/values/contained_value.h"

namespace brn {

class TBRNExprToken;
class TBRNLocalExprEvaluator;

// The run-time values that hold no data: every data access goes to the
// value GetReferencedValue finds, anew at each access, so a reference
// always sees the referenced value's current content. Each keeps its node
// and its evaluator (neither owned). A reference node's declaring node is
// its Link, set by the validator. Used by the session's thread only.
class TBRNNodeReferenceValue : public TBRNReferenceValue {
 public:
  TBRNNodeReferenceValue(TBRNLocalExprEvaluator* evaluator, TBRNExprToken* node)
      : Evaluator(evaluator), Node(node) {}
  TBRNLocalExprEvaluator* const Evaluator;
  TBRNExprToken* const Node;

 protected:
  // The declaring node's value; the 1011 conversion error naming the node
  // when the reference is unbound or the declaration has no value yet.
  TBRNValue* declaredValue() const;
};

// Reference to a routine parameter, a dynamic parameter, a variable, a
// cursor or a statement: the declaring node's value. Typed at creation
// from the declaring node's value (parameters) or the declaring node
// (variables, cursors, statements), with the collation of the node.
class TBRNRoutineParamReferenceValue : public TBRNNodeReferenceValue {
 public:
  TBRNRoutineParamReferenceValue(TBRNLocalExprEvaluator* evaluator, TBRNExprToken* node);
  TBRNValue* GetReferencedValue() const override { return declaredValue(); }
};

class TBRNDynamicParamReferenceValue : public TBRNNodeReferenceValue {
 public:
  TBRNDynamicParamReferenceValue(TBRNLocalExprEvaluator* evaluator, TBRNExprToken* node);
  TBRNValue* GetReferencedValue() const override { return declaredValue(); }
  // Retypes the reference from the declaring parameter's value (type,
  // subtype, scale), after the parameter's type was set.
  void RefreshType();
  // The direction of the declaring parameter.
  int32_t GetDirection() const;
};

class TBRNVariableReferenceValue : public TBRNNodeReferenceValue {
 public:
  TBRNVariableReferenceValue(TBRNLocalExprEvaluator* evaluator, TBRNExprToken* node);
  TBRNValue* GetReferencedValue() const override { return declaredValue(); }
};

class TBRNCursorReferenceValue : public TBRNNodeReferenceValue {
 public:
  TBRNCursorReferenceValue(TBRNLocalExprEvaluator* evaluator, TBRNExprToken* node);
  TBRNValue* GetReferencedValue() const override { return declaredValue(); }
};

class TBRNStatementReferenceValue : public TBRNNodeReferenceValue {
 public:
  TBRNStatementReferenceValue(TBRNLocalExprEvaluator* evaluator, TBRNExprToken* node);
  TBRNValue* GetReferencedValue() const override { return declaredValue(); }
};

// Reference to a whole ARRAY variable: its TBRNArrayValuesValue. Assigning
// through it assigns the array (an ARRAY source copies elements).
class TBRNArrayValuesReferenceValue : public TBRNNodeReferenceValue {
 public:
  TBRNArrayValuesReferenceValue(TBRNLocalExprEvaluator* evaluator, TBRNExprToken* node);
  TBRNValue* GetReferencedValue() const override { return GetArray(); }
  TBRNArrayValuesValue* GetArray() const;
  void Assign(const TBRNValue& source) override;
};

// Reference to one ARRAY element, name[index]: evaluates IndexNode at each
// access and answers that element of the declaring array (created on first
// use); an index outside 1..count raises the array's index error.
class TBRNArrayElementReferenceValue : public TBRNNodeReferenceValue {
 public:
  TBRNArrayElementReferenceValue(TBRNLocalExprEvaluator* evaluator, TBRNExprToken* node);
  TBRNValue* GetReferencedValue() const override;
  // The index expression (inside argument 0 of the node).
  TBRNExprToken* const IndexNode;
};

// A trigger's OLD or NEW row variable. No scalar: its columns are read
// through row-qualified column references. Row is the current row of that
// variable, nullptr when the event has none.
class TBRNRowVariableValue : public TBRNReferenceValue {
 public:
  explicit TBRNRowVariableValue(TBRNExprToken* node) : Node(node) {}
  // A row variable is never read as a scalar: std::logic_error.
  TBRNValue* GetReferencedValue() const override;
  TBRNExprToken* const Node;
  TBRNValues* Row = nullptr;
};

// A column reference. Plain (kind 13): column Index of the current context's
// current row of its row source (CurrentRows; source 0 when the node has
// none). Outer (kind 31): the same through its row source. Row-qualified
// (kind 41, OLD.x or NEW.x): column Index of the context's trigger row of
// its row variable (Link's Variant: 0 OLD, 1 NEW); when that row does not
// exist, RaiseRowNotAvailable. A plain or outer reference without a current
// row reads a value of its own, NULL unless written.
class TBRNColumnReferenceValue : public TBRNNodeReferenceValue {
 public:
  TBRNColumnReferenceValue(TBRNLocalExprEvaluator* evaluator, TBRNExprToken* node);
  TBRNValue* GetReferencedValue() const override;
  // 1011 "An error occurred with the row <name> (The row value cannot be
  // referenced in an <operation> operation)", the operation INSERT, UPDATE
  // or DELETE for the context's trigger operation 0, 1 or 2, else "All".
  [[noreturn]] void RaiseRowNotAvailable(std::string_view name) const;

 private:
  mutable std::unique_ptr<TBRNContainedValue> detached_;
};

// Reference to a select-list column: the context's result row at the
// select item's column number + 1 (value 0 of a result row precedes the
// select columns).
class TBRNSelectColumnReferenceValue : public TBRNNodeReferenceValue {
 public:
  TBRNSelectColumnReferenceValue(TBRNLocalExprEvaluator* evaluator, TBRNExprToken* node);
  TBRNValue* GetReferencedValue() const override;
};

}  // namespace brn

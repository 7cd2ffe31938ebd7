#pragma once

#include <memory>

#include "foundation/values/contained_value.h"
#include "sql/evaluator/expr_evaluator.h"

namespace brn {

class TBRNExprToken;
class TBRNRemoteExprEvaluator;

// Evaluates the column expressions of remote cursors on the client, so that
// a computed column costs no request. The trees are those the cursor's
// column list compiled with the remote session's parser and validator; they
// reference columns of one row only (row source 0), the evaluator's current
// row.
//
// Threads: owned by a remote session and used by that session's thread.
class TBRNRemoteExprEvaluator : public TBRNExprEvaluator {
 public:
  explicit TBRNRemoteExprEvaluator(bool standardNullBehavior);
  ~TBRNRemoteExprEvaluator() override;

  // The row whose values column references read; nullptr: none. Not owned;
  // it outlives every evaluation made while it is set.
  void SetCurrentRow(const TBRNValues* row);
  const TBRNValues* GetCurrentRow() const { return rows_[0]; }

  // Evaluates Root (prepared first) with Row as the current row, leaving
  // the result in Root->Value; the previous current row is put back, also
  // when the evaluation raises.
  void EvaluateWithRow(TBRNExprToken* root, const TBRNValues& row);

  // A column reference without a value gets a TBRNRemoteColumnReferenceValue;
  // every other node the base's value.
  void CreateTokenValue(TBRNExprToken* node) override;

 private:
  TBRNCurrentRows rows_{nullptr};
};

// The run-time value of a column reference: no data of its own, every access
// goes to the referenced column's value in the evaluator's current row, found
// anew at each access. Typed (type, subtype, scale, collation) from the node.
// Without a current row (or with a column number beyond it) it reads a NULL
// value of its own, so that an evaluation never reaches a missing value.
class TBRNRemoteColumnReferenceValue : public TBRNReferenceValue {
 public:
  // Neither is owned; both outlive the value (the value belongs to a node of
  // a tree that the evaluator's session's cursors hold).
  TBRNRemoteColumnReferenceValue(const TBRNRemoteExprEvaluator& evaluator,
                                 const TBRNExprToken& node);
  ~TBRNRemoteColumnReferenceValue() override;

  TBRNValue* GetReferencedValue() const override;

 private:
  const TBRNRemoteExprEvaluator& evaluator_;
  const TBRNExprToken& node_;
  mutable std::unique_ptr<TBRNContainedValue> detached_;
};

}  // namespace brn

#pragma once

#include "sql/evaluator/expr_evaluator.h"
#include "storage/rows/row_values.h"

namespace brn {

class TBRNConfigObject;
class TBRNExprToken;

// What table storage needs of the expression evaluator of SQL execution,
// which implements it: evaluation contexts that can be made current and
// put back, and the evaluation of a compiled catalog expression tree
// (computed, generated and default columns, constraints) in the current
// context.
//
// A context carries what storage sets before an evaluation: the current
// rows whose values the tree's column references read, one per row source
// (a catalog expression has one, its table's row, at 0; a query has one per
// table reference of its joins), and the table the row belongs to. The
// evaluator's own context class derives from it and adds its session state;
// making a context current points the evaluator's CurrentRows at its rows.
// A context belongs to one session and is used by its thread; the objects it
// points at are not owned.
class TBRNEvaluationContext {
 public:
  TBRNEvaluationContext() = default;
  virtual ~TBRNEvaluationContext() = default;
  TBRNEvaluationContext(const TBRNEvaluationContext&) = delete;
  TBRNEvaluationContext& operator=(const TBRNEvaluationContext&) = delete;

  // The current row of each row source (not owned; nullptr: none).
  TBRNCurrentRows CurrentRows;
  // The table (catalog object) of row source 0; nullptr when none.
  TBRNConfigObject* CurrentTable = nullptr;
};

// The evaluator, one per session, used by the session's thread only.
class TBRNExpressionEvaluator {
 public:
  virtual ~TBRNExpressionEvaluator() = default;

  // Makes Context current and answers the context that was current (nullptr
  // when none). Every evaluation by storage runs between SwapContext and
  // RestoreContext.
  virtual TBRNEvaluationContext* SwapContext(TBRNEvaluationContext* Context) = 0;
  // Puts Previous (an answer of SwapContext) back.
  virtual void RestoreContext(TBRNEvaluationContext* Previous) = 0;
  // Evaluates the compiled tree Root in the current context; the result is
  // Root->Value. Root is prepared (its column references resolved to row
  // sources) before its first evaluation. Errors of the evaluation pass on.
  virtual void EvaluateExpression(TBRNExprToken* Root) = 0;
};

// The bracket around an evaluation: swaps Context in on construction and
// restores the previous context on destruction (also when an evaluation
// raised).
class TBRNEvaluationScope {
 public:
  TBRNEvaluationScope(TBRNExpressionEvaluator& Evaluator, TBRNEvaluationContext& Context)
      : evaluator(Evaluator), previous(Evaluator.SwapContext(&Context)) {}
  ~TBRNEvaluationScope() { evaluator.RestoreContext(previous); }
  TBRNEvaluationScope(const TBRNEvaluationScope&) = delete;
  TBRNEvaluationScope& operator=(const TBRNEvaluationScope&) = delete;

 private:
  TBRNExpressionEvaluator& evaluator;
  TBRNEvaluationContext* previous;
};

// ComputeColumn of a row file: evaluates Root with Row as the current row of
// row source 0 of Context (set for the evaluation and put back afterwards),
// inside a SwapContext / RestoreContext bracket.
inline void EvaluateWithRow(TBRNExpressionEvaluator& Evaluator, TBRNEvaluationContext& Context,
                            TBRNExprToken* Root, TBRNRowValues& Row) {
  if (Context.CurrentRows.empty()) Context.CurrentRows.resize(1);
  const TBRNValues* previousRow = Context.CurrentRows[0];
  Context.CurrentRows[0] = &Row;
  try {
    TBRNEvaluationScope scope(Evaluator, Context);
    Evaluator.EvaluateExpression(Root);
  } catch (...) {
    Context.CurrentRows[0] = previousRow;
    throw;
  }
  Context.CurrentRows[0] = previousRow;
}

}  // namespace brn

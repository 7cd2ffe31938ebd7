#pragma once

namespace brn {

class TBRNConfigObject;
class TBRNExprToken;
class TBRNRowValues;

// What table storage needs of the expression evaluator of SQL execution,
// which implements it: evaluation contexts that can be made current and
// put back, and the evaluation of a compiled catalog expression tree
// (computed, generated and default columns, constraints) in the current
// context.
//
// A context carries what storage sets before an evaluation: the row whose
// values the tree's column references read (the current row) and the table
// it belongs to. The evaluator's own context class derives from it and adds
// its session state. A context belongs to one session and is used by its
// thread; the objects it points at are not owned.
class TBRNEvaluationContext {
 public:
  TBRNEvaluationContext() = default;
  virtual ~TBRNEvaluationContext() = default;
  TBRNEvaluationContext(const TBRNEvaluationContext&) = delete;
  TBRNEvaluationContext& operator=(const TBRNEvaluationContext&) = delete;

  // The row the column references of the tree read (not owned).
  TBRNRowValues* CurrentRowValues = nullptr;
  // The table (catalog object) the row belongs to; nullptr when none.
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
  // Root->Value. Errors of the evaluation pass on.
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
// Context (CurrentRowValues is set to Row for the evaluation and put back
// afterwards), inside a SwapContext / RestoreContext bracket.
inline void EvaluateWithRow(TBRNExpressionEvaluator& Evaluator, TBRNEvaluationContext& Context,
                            TBRNExprToken* Root, TBRNRowValues& Row) {
  TBRNRowValues* previousRow = Context.CurrentRowValues;
  Context.CurrentRowValues = &Row;
  try {
    TBRNEvaluationScope scope(Evaluator, Context);
    Evaluator.EvaluateExpression(Root);
  } catch (...) {
    Context.CurrentRowValues = previousRow;
    throw;
  }
  Context.CurrentRowValues = previousRow;
}

}  // namespace brn

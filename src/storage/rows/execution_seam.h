#pragma once

#include <array>
#include <cstdint>

#include "sql/evaluator/expr_evaluator.h"
#include "storage/rows/row_values.h"

namespace brn {

class EBRNException;
class TBRNConfigObject;
class TBRNExprToken;
class TBRNTableEnvironment;

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
// Around a trigger's WHEN condition and body the table manager also sets the
// trigger fields, and puts them back afterwards (triggers nest).
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
  // The environment (the open database) whose table managers evaluate in
  // this context, so that a routine body run from it (a trigger's) works on
  // that database; nullptr when the context belongs to no environment.
  TBRNTableEnvironment* Environment = nullptr;

  // The running trigger's event: 0 insert, 1 update, 2 delete, 3 load of a
  // published update (what the trigger's operation function answers); -1
  // outside triggers.
  int32_t TriggerOperation = -1;
  // The error an ERROR trigger handles; nullptr in other triggers. It lives
  // while the body runs.
  const EBRNException* TriggerError = nullptr;
  // The trigger's rows by the row variable's Variant: 0 OldRow, 1 NewRow.
  // A row-qualified column reference (tkRowColumnReference, whose Link is
  // its row variable) reads and writes its column (Index) of that row in
  // place, as a column reference reads CurrentRows. nullptr where the event
  // has no such row.
  std::array<TBRNRowValues*, 2> TriggerRows{};
  // The answers of the body (ABORT, RETRY in an ERROR trigger): cleared by
  // the table manager before the body runs, read after it.
  bool TriggerAbort = false;
  bool TriggerRetry = false;
  // What LOADINGUPDATES answers: the table's published updates are being
  // loaded.
  bool LoadingUpdates = false;
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
  // Runs a compiled routine body in the current context: Block is the root
  // of the body (a trigger body's root holds its row variables and its
  // BEGIN block). ABORT and RETRY leave their answers in the context's
  // TriggerAbort and TriggerRetry. Errors of the body pass on.
  virtual void ExecuteRoutine(TBRNExprToken* Block) = 0;
  // Saves Token's run-time value and gives it a fresh one; PopTokenValue
  // puts the saved value back. Calls pair up, last pushed first popped,
  // also when the work between them raises. The table manager saves a
  // trigger body's row variables so that the same trigger firing inside
  // itself leaves its caller's rows in place.
  virtual void PushTokenValue(TBRNExprToken* Token) = 0;
  virtual void PopTokenValue(TBRNExprToken* Token) = 0;
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

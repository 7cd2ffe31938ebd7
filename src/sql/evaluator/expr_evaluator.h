#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "foundation/values/value_list.h"
#include "sql/tree/expr_operations.h"
#include "sql/tree/expr_token.h"

namespace brn {

class TBRNExprToken;
class TBRNValue;

// The current rows of an evaluation, one per row source: entry i is the row
// whose values the column references of row source i read (the table of a
// catalog expression is row source 0; the table references of a query and
// its joins are numbered when the tree is prepared). An entry that is
// nullptr, or missing, means that the source has no current row. The rows
// are not owned.
using TBRNCurrentRows = std::vector<const TBRNValues*>;

// Computes the value of a validated syntax tree. Every node gets a run-time
// value of its own (TBRNExprToken::Value), created on its first evaluation
// and typed from the node's data type; evaluating a node writes its result
// into that value and the parent reads its children's values.
//
// Operators, predicates and built-in functions run through a table of
// routines indexed by routine slot (1..EvaluationSlotCount): operators by
// their code, predicates by code - 93, functions by code + 12. Everything
// that needs a session, a database, a cursor or a running statement is a
// virtual operation that this class leaves empty (or answers trivially);
// the execution layers override them.
//
// NULL: with StandardNullBehavior an operation with a NULL operand yields
// NULL (each routine states which operands it tests); without it NULL
// operands are read through the converting getters (empty text, zero,
// false) and NULL compares equal to NULL and below every other value.
//
// Every result is written on every evaluation: a node whose operation or
// operand types have no rule becomes NULL, so no value of an earlier row
// ever shows through.
//
// Column references: preparing a tree resolves each bound column reference
// (one with a column number in Index) to its row source, so that evaluating
// it reads its column's value in the current row in place: no value is
// copied into the tree, and no name is looked up, per row.
//
// Depth: left-associative chains (a + b + c + ...) may be arbitrarily deep.
// Beyond a fixed recursion depth the evaluator walks such a chain with an
// explicit list instead of recursing, so the stack use stays bounded by the
// nesting of parentheses and function calls, which the parser limits.
//
// Errors: an evaluation raises only the engine's errors (EBRNException, or
// the silent abort); a standard exception from below (no memory, a length
// beyond what a string holds) leaves it as the conversion error 1011.
//
// Threads: an evaluator and the trees it runs belong to one session and are
// used by one thread at a time; node values make a tree single-threaded.
class TBRNExprEvaluator {
 public:
  // A routine of the table: evaluates Node (the evaluator is the target).
  using TBRNOperationRoutine = void (TBRNExprEvaluator::*)(TBRNExprToken* Node);

  // Stores the flag and fills the routine table (operators, predicates,
  // then functions). Virtual operations in the table dispatch to the
  // object's own class, so a subclass's override is what runs.
  explicit TBRNExprEvaluator(bool StandardNullBehavior);
  virtual ~TBRNExprEvaluator();
  TBRNExprEvaluator(const TBRNExprEvaluator&) = delete;
  TBRNExprEvaluator& operator=(const TBRNExprEvaluator&) = delete;

  // SQL NULL propagation; fixed for the evaluator's life.
  const bool StandardNullBehavior;

  // The routine of a slot (1..EvaluationSlotCount); nullptr for an empty
  // entry or a slot outside the table.
  TBRNOperationRoutine GetOperationRoutine(int32_t Slot) const;

  // A new value for Node: a TBRNCastContainedValue for a CAST with a
  // declared length (Size > 0), otherwise a TBRNContainedValue; either way
  // too-long data is cut silently.
  virtual TBRNValue* NewValue(TBRNExprToken* Node);
  // Gives Node its value. Called only while Node has none: NewValue, the
  // node's data type, subtype, length, scale and collation, then the
  // constant's text for a constant (the NULL constant stays NULL) or the
  // cleared, NULL value for any other node.
  virtual void CreateTokenValue(TBRNExprToken* Node);
  // Evaluates every member; NULL exactly when, under StandardNullBehavior,
  // some member is NULL.
  virtual void EvaluateRowValue(TBRNExprToken* Node);
  // A subquery used as a value. Base: nothing.
  virtual void EvaluateQuery(TBRNExprToken* Node);
  // Opens or refreshes a table reference's cursor. Base: nothing.
  virtual void EvaluateTableReference(TBRNExprToken* Node);
  // A user-defined function call. Base: nothing.
  virtual void CallFunction(TBRNExprToken* Node);
  // Fold the current row into an aggregate's running value. Base: nothing.
  virtual void AggregateCount(TBRNExprToken* Node);
  virtual void AggregateList(TBRNExprToken* Node);
  virtual void AggregateMax(TBRNExprToken* Node);
  virtual void AggregateMin(TBRNExprToken* Node);
  virtual void AggregateSum(TBRNExprToken* Node);
  virtual void AggregateSumSquares(TBRNExprToken* Node);
  // IN against a subquery; writes TRUE, FALSE or NULL into PredicateNode's
  // value (which is NULL when the call starts). Base: nothing.
  virtual void EvaluateInQuery(TBRNExprToken* ValueNode, int32_t PartialLength,
                               TBRNExprToken* PredicateNode, TBRNExprToken* QueryNode);
  // EXISTS; writes into FunctionNode's value (NULL when the call starts).
  virtual void EvaluateExists(TBRNExprToken* QueryNode, TBRNExprToken* FunctionNode);
  // CONTAINS and CONTAINS ANY through text indexes; write into
  // PredicateNode's value (NULL when the call starts). Base: nothing.
  virtual void EvaluateContains(TBRNExprToken* ValueNode, TBRNExprToken* SearchNode,
                                TBRNExprToken* PredicateNode);
  virtual void EvaluateContainsAny(TBRNExprToken* ValueNode, TBRNExprToken* SearchNode,
                                   TBRNExprToken* PredicateNode);
  // ERRORCODE or ERRORMSG of the error being handled. Base: nothing.
  virtual void GetErrorInfo(TBRNExprToken* Node);
  // ABORTED. Base: FALSE.
  virtual void GetAborted(TBRNExprToken* Node);
  // BOF, EOF, COLUMNCOUNT, COLUMNNAME, ROWCOUNT, SENSITIVE. Base: nothing.
  virtual void GetCursorAttribute(TBRNExprToken* Node);
  // ROWSAFFECTED, STMTRESULT. Base: nothing.
  virtual void GetStatementAttribute(TBRNExprToken* Node);
  virtual void GetCardinality(TBRNExprToken* Node);
  virtual void GetCurrentComputer(TBRNExprToken* Node);
  virtual void GetCurrentDatabase(TBRNExprToken* Node);
  virtual void GetCurrentUser(TBRNExprToken* Node);
  virtual void GetCurrentVersion(TBRNExprToken* Node);
  virtual void GetInTransaction(TBRNExprToken* Node);
  virtual void GetLastIdentity(TBRNExprToken* Node);
  virtual void GetLoadingUpdates(TBRNExprToken* Node);
  virtual void GetOperation(TBRNExprToken* Node);
  // STMTRESULT. Base: GetStatementAttribute.
  virtual void GetStatementResult(TBRNExprToken* Node);
  // Binds the run-time objects of one node before a tree runs. Base:
  // nothing.
  virtual void PrepareNode(TBRNExprToken* Node);
  // PrepareNode on every node of the tree in post-order (left operand,
  // right operand, each non-null argument, then the node). The walk does not
  // recurse, so any depth is fine. Before its PrepareNode each node gets its
  // row source when it has none: a table reference the next free number, a
  // bound column reference (tkColumnReference or tkOuterColumnReference with
  // Index >= 0) the number of its table reference (Link, which is numbered
  // first when it has none yet), or 0 when it has no Link (the one table of
  // a catalog expression). Numbers count from 0 within one preparation.
  virtual void PrepareTree(TBRNExprToken* Node);
  // The same walk calling UnprepareNode, except that the query of a derived
  // table below Node is left out (the view query that runs it releases it).
  virtual void UnprepareTree(TBRNExprToken* Node);
  // Frees the node's own value and forgets its row source.
  virtual void UnprepareNode(TBRNExprToken* Node);
  // EvaluateToken when Node is not nullptr.
  virtual void Evaluate(TBRNExprToken* Node);

  // Gives Node its value when it has none (CreateTokenValue is called only
  // then), then computes it by its kind. A column reference with a row
  // source points Value at its column's value in the current row of that
  // source (without a current row it reads its own value, NULL unless set).
  // Inline for the leaves (constant, column, parameter, variable), which
  // need no computation.
  void EvaluateToken(TBRNExprToken* Node) {
    if (!IsComputedKind(Node->Kind)) {
      if (Node->RowSource >= 0) {
        const TBRNValues* row = currentRow(Node->RowSource);
        if (row == nullptr) {
          Node->Value = Node->GetOwnValue();
        } else if (uint32_t(Node->Index) < uint32_t(row->GetCount())) {
          Node->Value = row->GetItem(Node->Index);
          return;
        } else {
          return evaluateNode(Node);  // raises: the column is beyond the row
        }
      }
      if (Node->Value != nullptr) return;
    }
    evaluateNode(Node);
  }
  // The kinds EvaluateToken computes: operators, predicates, functions,
  // queries, row values and table references.
  static bool IsComputedKind(TBRNExprTokenKind Kind) {
    constexpr uint64_t computed = (uint64_t(1) << tkOperator) | (uint64_t(1) << tkUnaryOperator) |
                                  (uint64_t(1) << tkPredicate) | (uint64_t(1) << tkFunction) |
                                  (uint64_t(1) << tkQuery) | (uint64_t(1) << tkRowValue) |
                                  (uint64_t(1) << tkTableReference);
    return Kind < 64 && ((computed >> Kind) & 1) != 0;
  }
  // PrepareTree / UnprepareTree when Tree is not nullptr.
  void Prepare(TBRNExprToken* Tree);
  void Unprepare(TBRNExprToken* Tree);

  // The current rows column references read; nullptr when none. Whoever
  // makes an evaluation context current points it at that context's rows
  // (and puts the previous pointer back); not owned.
  const TBRNCurrentRows* CurrentRows = nullptr;

  // The ordering the comparisons and predicates use: -1, 0 or 1. Same
  // types and NULLs compare through TBRNValue::Compare; across types both
  // orders agree: a number against a text compares numerically when the
  // text is a number and sorts before it otherwise, a Boolean against a
  // text likewise, a number against an interval reads the number in the
  // interval's unit, and a Date against a Timestamp compares as timestamps.
  // Never "equal" merely because no rule applies.
  static int32_t CompareValues(const TBRNValue& Left, const TBRNValue& Right, int32_t PartialLength,
                               int32_t Collation);
  // CompareValues of two evaluated nodes (Left's collation), or of their
  // members, the first unequal pair deciding, when both are row values.
  static int32_t CompareEvaluated(const TBRNExprToken* Left, const TBRNExprToken* Right,
                                  int32_t PartialLength);

 protected:
  // Operator routines (operator_evaluation.cpp).
  void EvaluateAdd(TBRNExprToken* Node);
  void EvaluateSubtract(TBRNExprToken* Node);
  void EvaluateMultiply(TBRNExprToken* Node);
  void EvaluateDivide(TBRNExprToken* Node);
  void EvaluateMod(TBRNExprToken* Node);
  void EvaluateNegate(TBRNExprToken* Node);
  void EvaluateIntervalDifference(TBRNExprToken* Node);
  void EvaluateEqual(TBRNExprToken* Node);
  void EvaluateNotEqual(TBRNExprToken* Node);
  void EvaluateGreater(TBRNExprToken* Node);
  void EvaluateGreaterOrEqual(TBRNExprToken* Node);
  void EvaluateLess(TBRNExprToken* Node);
  void EvaluateLessOrEqual(TBRNExprToken* Node);
  void EvaluateAnd(TBRNExprToken* Node);
  void EvaluateOr(TBRNExprToken* Node);
  void EvaluateNot(TBRNExprToken* Node);

  // Predicate routines (predicate_evaluation.cpp).
  void EvaluateBetween(TBRNExprToken* Node);
  void EvaluateNotBetween(TBRNExprToken* Node);
  void EvaluateIn(TBRNExprToken* Node);
  void EvaluateNotIn(TBRNExprToken* Node);
  void EvaluateIsNull(TBRNExprToken* Node);
  void EvaluateIsNotNull(TBRNExprToken* Node);
  void EvaluateLike(TBRNExprToken* Node);
  void EvaluateNotLike(TBRNExprToken* Node);
  void EvaluateContainsPredicate(TBRNExprToken* Node);
  void EvaluateContainsAnyPredicate(TBRNExprToken* Node);
  void EvaluateNotContainPredicate(TBRNExprToken* Node);
  void EvaluateNotContainAnyPredicate(TBRNExprToken* Node);

  // Function entries of the frame that only forward to a virtual operation.
  void ForwardCursorAttribute(TBRNExprToken* Node);
  void ForwardStatementAttribute(TBRNExprToken* Node);
  void ForwardErrorInfo(TBRNExprToken* Node);
  void ForwardExists(TBRNExprToken* Node);
  void ForwardUserFunction(TBRNExprToken* Node);

  // Built-in function routines and CAST (function_evaluation.cpp and its
  // neighbours): each slot runs the free routine Routine on this evaluator.
  // Defined, and instantiated, only in function_evaluation.cpp.
  template <void (*Routine)(TBRNExprEvaluator&, TBRNExprToken*)>
  void RunFunction(TBRNExprToken* Node);

  // Evaluates Left, then Right. False (with the result set NULL) when
  // under StandardNullBehavior either is NULL, when an operand is missing
  // or when the node is of the NULL type; the caller then stops.
  bool EvaluateOperands(TBRNExprToken* Node);
  // Rewrites a Boolean result as its negation the way NOT does: NULL stays
  // NULL under StandardNullBehavior and reads FALSE (giving TRUE) without.
  void NegateResult(TBRNExprToken* Node);
  // The truth of a value: FALSE for NULL.
  static bool Truth(const TBRNValue& Value);

 private:
  void bindRoutines();
  // The current row of a row source, nullptr when it has none.
  const TBRNValues* currentRow(int32_t RowSource) const {
    if (CurrentRows == nullptr || size_t(RowSource) >= CurrentRows->size()) return nullptr;
    return (*CurrentRows)[size_t(RowSource)];
  }
  // The built-in function and CAST entries (function_evaluation.cpp).
  void bindFunctionRoutines();
  // EvaluateToken's work; the outermost call turns a standard exception
  // into the conversion error 1011.
  void evaluateNode(TBRNExprToken* Node);
  void computeNode(TBRNExprToken* Node);
  // The routine for Node by its kind and operation; nullptr when none.
  TBRNOperationRoutine routineFor(const TBRNExprToken* Node) const;
  // Runs the routine of a chain whose nodes each have the next one as their
  // first operand, bottom-up, without recursing along the chain.
  void evaluateChain(TBRNExprToken* Node);
  // EvaluateOperands, then CompareValues of the two (left's collation);
  // false when EvaluateOperands stopped.
  bool compareOperands(TBRNExprToken* Node, int32_t& Result);
  // IN over a member list or a subquery, result into Node's value.
  void evaluateInPredicate(TBRNExprToken* Node);
  void evaluateContains(TBRNExprToken* Node, bool Any);

  // Indexed by slot; entry 0 stays empty (the slot of a node with none).
  std::array<TBRNOperationRoutine, EvaluationSlotCount + 1> OperationRoutines{};
  // Recursion depth of EvaluateToken calls that ran a routine.
  int32_t FDepth = 0;
  // During a chain walk: the operand already evaluated, which the next
  // EvaluateToken call (the routine's first) skips.
  TBRNExprToken* FEvaluatedOperand = nullptr;
};

}  // namespace brn

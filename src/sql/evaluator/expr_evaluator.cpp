// The evaluator frame: run-time values, the routine table, dispatch by node
// kind, the tree walks and the virtual operations the base leaves empty.
#include "sql/evaluator/expr_evaluator.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "foundation/core/numeric_helpers.h"
#include "foundation/text/exception.h"
#include "foundation/values/contained_value.h"
#include "sql/evaluator/cast_contained_value.h"
#include "sql/evaluator/value_access.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/expr_tree_algorithms.h"

namespace brn {

namespace {

// Recursion depth from which chains are walked iteratively. Normal
// conditions stay far below it, so they never pay for the walk.
constexpr int32_t ChainDepth = 96;

// The routine slot of a node by its kind and operation; 0 (an empty entry)
// for a node that has none.
int32_t SlotOf(const TBRNExprToken* Node) {
  uint32_t op = Node->Operation;
  switch (Node->Kind) {
    case tkOperator:
    case tkUnaryOperator:
      return op - 1 < uint32_t(opIntervalDifference) ? int32_t(op) : 0;
    case tkPredicate:
      return op - opBetween <= uint32_t(opNotLike - opBetween) ? int32_t(op) - 93 : 0;
    case tkFunction:
      return op - opAborted <= uint32_t(opUpper - opAborted) ? int32_t(op) + 12 : 0;
    default:
      return 0;
  }
}

// Restores the recursion depth however a routine ends.
class DepthGuard {
 public:
  explicit DepthGuard(int32_t& Depth) : FDepth(Depth) { ++FDepth; }
  ~DepthGuard() { --FDepth; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;

 private:
  int32_t& FDepth;
};

// The operand a routine evaluates first (Left, or a predicate's tested
// value); nullptr for other kinds.
TBRNExprToken* FirstOperand(const TBRNExprToken* Node) {
  switch (Node->Kind) {
    case tkOperator:
    case tkUnaryOperator:
      return Node->Left();
    case tkPredicate:
      return Node->ArgumentCount() > 0 ? Node->Argument(0) : nullptr;
    default:
      return nullptr;
  }
}

}  // namespace

TBRNExprEvaluator::TBRNExprEvaluator(bool StandardNullBehavior)
    : StandardNullBehavior(StandardNullBehavior) {
  bindRoutines();
}

TBRNExprEvaluator::~TBRNExprEvaluator() = default;

void TBRNExprEvaluator::bindRoutines() {
  auto& table = OperationRoutines;
  // Operators: slot = code.
  table[opAdd] = &TBRNExprEvaluator::EvaluateAdd;
  table[opAnd] = &TBRNExprEvaluator::EvaluateAnd;
  table[opDivide] = &TBRNExprEvaluator::EvaluateDivide;
  table[opEqual] = &TBRNExprEvaluator::EvaluateEqual;
  table[opGreaterOrEqual] = &TBRNExprEvaluator::EvaluateGreaterOrEqual;
  table[opGreater] = &TBRNExprEvaluator::EvaluateGreater;
  table[opLessOrEqual] = &TBRNExprEvaluator::EvaluateLessOrEqual;
  table[opLess] = &TBRNExprEvaluator::EvaluateLess;
  table[opMod] = &TBRNExprEvaluator::EvaluateMod;
  table[opMultiply] = &TBRNExprEvaluator::EvaluateMultiply;
  table[opNotEqual] = &TBRNExprEvaluator::EvaluateNotEqual;
  table[opNegate] = &TBRNExprEvaluator::EvaluateNegate;
  table[opNot] = &TBRNExprEvaluator::EvaluateNot;
  table[opOr] = &TBRNExprEvaluator::EvaluateOr;
  table[opSubtract] = &TBRNExprEvaluator::EvaluateSubtract;
  table[opIntervalDifference] = &TBRNExprEvaluator::EvaluateIntervalDifference;

  // Predicates: slot = code - 93.
  auto predicate = [&table](TBRNExprOperation Op, TBRNOperationRoutine Routine) {
    table[Op - 93] = Routine;
  };
  predicate(opBetween, &TBRNExprEvaluator::EvaluateBetween);
  predicate(opContains, &TBRNExprEvaluator::EvaluateContainsPredicate);
  predicate(opContainsAny, &TBRNExprEvaluator::EvaluateContainsAnyPredicate);
  predicate(opIn, &TBRNExprEvaluator::EvaluateIn);
  predicate(opIsNotNull, &TBRNExprEvaluator::EvaluateIsNotNull);
  predicate(opIsNull, &TBRNExprEvaluator::EvaluateIsNull);
  predicate(opLike, &TBRNExprEvaluator::EvaluateLike);
  predicate(opNotBetween, &TBRNExprEvaluator::EvaluateNotBetween);
  predicate(opNotContain, &TBRNExprEvaluator::EvaluateNotContainPredicate);
  predicate(opNotContainAny, &TBRNExprEvaluator::EvaluateNotContainAnyPredicate);
  predicate(opNotIn, &TBRNExprEvaluator::EvaluateNotIn);
  predicate(opNotLike, &TBRNExprEvaluator::EvaluateNotLike);

  // Functions: slot = code + 12. The entries of the frame: the virtual
  // operations (a pointer to a virtual member dispatches on the object, so
  // a subclass's override runs) and the forwarders. The function routines
  // proper are bound next to them by the function evaluation.
  auto function = [&table](TBRNExprOperation Op, TBRNOperationRoutine Routine) {
    table[Op + 12] = Routine;
  };
  function(opAborted, &TBRNExprEvaluator::GetAborted);
  function(opCardinality, &TBRNExprEvaluator::GetCardinality);
  function(opCount, &TBRNExprEvaluator::AggregateCount);
  function(opCurrentComputer, &TBRNExprEvaluator::GetCurrentComputer);
  function(opCurrentDatabase, &TBRNExprEvaluator::GetCurrentDatabase);
  function(opCurrentUser, &TBRNExprEvaluator::GetCurrentUser);
  function(opCurrentVersion, &TBRNExprEvaluator::GetCurrentVersion);
  function(opInTransaction, &TBRNExprEvaluator::GetInTransaction);
  function(opLastIdentity, &TBRNExprEvaluator::GetLastIdentity);
  function(opList, &TBRNExprEvaluator::AggregateList);
  function(opLoadingUpdates, &TBRNExprEvaluator::GetLoadingUpdates);
  function(opMax, &TBRNExprEvaluator::AggregateMax);
  function(opMin, &TBRNExprEvaluator::AggregateMin);
  function(opOperation, &TBRNExprEvaluator::GetOperation);
  function(opStmtResult, &TBRNExprEvaluator::GetStatementResult);
  function(opSum, &TBRNExprEvaluator::AggregateSum);
  function(opSumSquare, &TBRNExprEvaluator::AggregateSumSquares);
  for (TBRNExprOperation op : {opBof, opEof, opColumnCount, opColumnName, opRowCount, opSensitive})
    function(op, &TBRNExprEvaluator::ForwardCursorAttribute);
  function(opRowsAffected, &TBRNExprEvaluator::ForwardStatementAttribute);
  function(opErrorCode, &TBRNExprEvaluator::ForwardErrorInfo);
  function(opErrorMsg, &TBRNExprEvaluator::ForwardErrorInfo);
  function(opExists, &TBRNExprEvaluator::ForwardExists);
  function(opUserFunction, &TBRNExprEvaluator::ForwardUserFunction);
  bindFunctionRoutines();
}

TBRNExprEvaluator::TBRNOperationRoutine TBRNExprEvaluator::GetOperationRoutine(int32_t Slot) const {
  if (Slot < 1 || Slot > EvaluationSlotCount) return nullptr;
  return OperationRoutines[Slot];
}

TBRNExprEvaluator::TBRNOperationRoutine TBRNExprEvaluator::routineFor(
    const TBRNExprToken* Node) const {
  return OperationRoutines[SlotOf(Node)];
}

TBRNValue* TBRNExprEvaluator::NewValue(TBRNExprToken* Node) {
  TBRNContainedValue* value;
  if (Node->Kind == tkFunction && Node->Operation == opCast && Node->Size > 0)
    value = new TBRNCastContainedValue();
  else
    value = new TBRNContainedValue();
  value->SetRaiseOnTruncation(false);
  return value;
}

void TBRNExprEvaluator::CreateTokenValue(TBRNExprToken* Node) {
  if (Node->GetOwnValue() != nullptr) return;
  Node->SetOwnValue(std::unique_ptr<TBRNValue>(NewValue(Node)));
  TBRNValue* value = Node->Value;
  value->SetDataType(Node->DataType);
  value->SetDataSubType(Node->SubType);
  value->SetLength(Node->Size);
  value->SetScale(Node->Scale);
  value->SetCollation(Node->Collation);
  if (Node->Kind == tkConstant) {
    if (Node->IsNullConstant())
      value->SetNull(true);
    else
      value->SetAsString(Node->Text);
  } else {
    value->Clear();
  }
}

void TBRNExprEvaluator::EvaluateRowValue(TBRNExprToken* Node) {
  bool sawNull = false;
  for (TBRNExprToken* member : Node->Arguments()) {
    if (member == nullptr) continue;
    EvaluateToken(member);
    if (StandardNullBehavior && member->Value->GetNull()) sawNull = true;
  }
  Node->Value->SetNullFlag(sawNull);
}

void TBRNExprEvaluator::evaluateNode(TBRNExprToken* Node) {
  if (FDepth > 0) return computeNode(Node);
  // The outermost evaluation: whatever fails below reaches the caller as
  // the engine's error, never as a standard exception (a buffer that cannot
  // be had, a length beyond what a string can hold).
  try {
    computeNode(Node);
  } catch (const EBRNException&) {
    throw;
  } catch (const EBRNAbortException&) {
    throw;
  } catch (const std::exception& error) {
    RaiseConversionFailure("value", "of the expression",
                           std::string("The evaluation failed: ") + error.what());
  }
}

void TBRNExprEvaluator::computeNode(TBRNExprToken* Node) {
  if (Node == FEvaluatedOperand) {
    // The chain walk evaluated this operand already.
    FEvaluatedOperand = nullptr;
    return;
  }
  if (Node->Value == nullptr) CreateTokenValue(Node);
  int32_t slot;
  switch (Node->Kind) {
    case tkOperator:
    case tkUnaryOperator:
    case tkPredicate:
    case tkFunction:
      slot = SlotOf(Node);
      break;
    case tkQuery:
      EvaluateQuery(Node);
      return;
    case tkRowValue:
      EvaluateRowValue(Node);
      return;
    case tkTableReference:
      EvaluateTableReference(Node);
      return;
    default:
      // Constants, column references, parameters, variables: the value
      // already holds the content. A column reference whose column lies
      // beyond its current row fails here.
      if (Node->RowSource >= 0)
        if (const TBRNValues* row = currentRow(Node->RowSource))
          Node->Value = row->GetItem(Node->Index);
      return;
  }
  TBRNOperationRoutine routine = OperationRoutines[slot];
  if (routine == nullptr) {
    Node->Value->SetNull(true);
    return;
  }
  if (FDepth >= ChainDepth) {
    evaluateChain(Node);
    return;
  }
  DepthGuard guard(FDepth);
  (this->*routine)(Node);
}

void TBRNExprEvaluator::evaluateChain(TBRNExprToken* Node) {
  // The chain: Node, its first operand, that one's first operand, ... as
  // long as each has a routine of its own that evaluates the first operand
  // before anything else (every operator and predicate routine does).
  std::vector<TBRNExprToken*> chain{Node};
  for (;;) {
    TBRNExprToken* first = FirstOperand(chain.back());
    if (first == nullptr || first == FEvaluatedOperand) break;
    if (first->Kind != tkOperator && first->Kind != tkUnaryOperator && first->Kind != tkPredicate)
      break;
    if (routineFor(first) == nullptr) break;
    chain.push_back(first);
  }
  // Bottom-up: the deepest node evaluates its own first operand; every
  // node above finds its first operand done and skips it.
  struct ResetOperand {
    TBRNExprToken*& Operand;
    ~ResetOperand() { Operand = nullptr; }
  };
  for (size_t i = chain.size(); i-- > 0;) {
    TBRNExprToken* node = chain[i];
    if (node->Value == nullptr) CreateTokenValue(node);
    ResetOperand reset{FEvaluatedOperand};
    if (i + 1 < chain.size()) FEvaluatedOperand = chain[i + 1];
    DepthGuard guard(FDepth);
    (this->*routineFor(node))(node);
  }
}

void TBRNExprEvaluator::Evaluate(TBRNExprToken* Node) {
  if (Node != nullptr) EvaluateToken(Node);
}

void TBRNExprEvaluator::Prepare(TBRNExprToken* Tree) {
  if (Tree != nullptr) PrepareTree(Tree);
}

void TBRNExprEvaluator::Unprepare(TBRNExprToken* Tree) {
  if (Tree != nullptr) UnprepareTree(Tree);
}

void TBRNExprEvaluator::PrepareTree(TBRNExprToken* Node) {
  if (Node == nullptr) return;
  int32_t next = 0;
  auto number = [&next](TBRNExprToken* Table) {
    if (Table->RowSource < 0)
      Table->RowSource = next++;
    else
      next = std::max(next, Table->RowSource + 1);
    return Table->RowSource;
  };
  ForEachNodePostOrder(Node, [&](TBRNExprToken* N) {
    if (N->Kind == tkTableReference) {
      number(N);
    } else if ((N->Kind == tkColumnReference || N->Kind == tkOuterColumnReference) &&
               N->Index >= 0) {
      N->RowSource = N->Link != nullptr ? number(N->Link) : 0;
    }
    PrepareNode(N);
  });
}

void TBRNExprEvaluator::UnprepareTree(TBRNExprToken* Node) {
  if (Node == nullptr) return;
  // The query of a derived table below Node is left alone: its run-time
  // state belongs to the view query that runs it, which releases it and may
  // outlive the tree around it.
  auto derivedQuery = [Node](const TBRNExprToken* N) {
    const TBRNExprToken* parent = N->Parent;
    return N != Node && N->Kind == tkQuery && parent != nullptr &&
           parent->Kind == tkTableReference && parent->Operation == opDerivedTable;
  };
  WalkExprTree(
      Node,
      [&](TBRNExprToken* N, int32_t) {
        return derivedQuery(N) ? TBRNWalkStep::Skip : TBRNWalkStep::Descend;
      },
      [&](TBRNExprToken* N) {
        if (!derivedQuery(N)) UnprepareNode(N);
      });
}

void TBRNExprEvaluator::UnprepareNode(TBRNExprToken* Node) {
  Node->FreeValue();
  Node->RowSource = -1;
}

void TBRNExprEvaluator::PrepareNode(TBRNExprToken*) {}
void TBRNExprEvaluator::EvaluateQuery(TBRNExprToken*) {}
void TBRNExprEvaluator::EvaluateTableReference(TBRNExprToken*) {}
void TBRNExprEvaluator::CallFunction(TBRNExprToken*) {}
void TBRNExprEvaluator::AggregateCount(TBRNExprToken*) {}
void TBRNExprEvaluator::AggregateList(TBRNExprToken*) {}
void TBRNExprEvaluator::AggregateMax(TBRNExprToken*) {}
void TBRNExprEvaluator::AggregateMin(TBRNExprToken*) {}
void TBRNExprEvaluator::AggregateSum(TBRNExprToken*) {}
void TBRNExprEvaluator::AggregateSumSquares(TBRNExprToken*) {}
void TBRNExprEvaluator::EvaluateInQuery(TBRNExprToken*, int32_t, TBRNExprToken*, TBRNExprToken*) {}
void TBRNExprEvaluator::EvaluateExists(TBRNExprToken*, TBRNExprToken*) {}
void TBRNExprEvaluator::EvaluateContains(TBRNExprToken*, TBRNExprToken*, TBRNExprToken*) {}
void TBRNExprEvaluator::EvaluateContainsAny(TBRNExprToken*, TBRNExprToken*, TBRNExprToken*) {}
void TBRNExprEvaluator::GetErrorInfo(TBRNExprToken*) {}
void TBRNExprEvaluator::GetCursorAttribute(TBRNExprToken*) {}
void TBRNExprEvaluator::GetStatementAttribute(TBRNExprToken*) {}
void TBRNExprEvaluator::GetCardinality(TBRNExprToken*) {}
void TBRNExprEvaluator::GetCurrentComputer(TBRNExprToken*) {}
void TBRNExprEvaluator::GetCurrentDatabase(TBRNExprToken*) {}
void TBRNExprEvaluator::GetCurrentUser(TBRNExprToken*) {}
void TBRNExprEvaluator::GetCurrentVersion(TBRNExprToken*) {}
void TBRNExprEvaluator::GetInTransaction(TBRNExprToken*) {}
void TBRNExprEvaluator::GetLastIdentity(TBRNExprToken*) {}
void TBRNExprEvaluator::GetLoadingUpdates(TBRNExprToken*) {}
void TBRNExprEvaluator::GetOperation(TBRNExprToken*) {}

void TBRNExprEvaluator::GetAborted(TBRNExprToken* Node) {
  Node->Value->SetAsBoolean(false);
}

void TBRNExprEvaluator::GetStatementResult(TBRNExprToken* Node) {
  GetStatementAttribute(Node);
}

// The forwarders start from NULL, so an override that writes nothing never
// leaves an earlier row's answer behind.

void TBRNExprEvaluator::ForwardCursorAttribute(TBRNExprToken* Node) {
  Node->Value->SetNull(true);
  GetCursorAttribute(Node);
}

void TBRNExprEvaluator::ForwardStatementAttribute(TBRNExprToken* Node) {
  Node->Value->SetNull(true);
  GetStatementAttribute(Node);
}

void TBRNExprEvaluator::ForwardErrorInfo(TBRNExprToken* Node) {
  Node->Value->SetNull(true);
  GetErrorInfo(Node);
}

void TBRNExprEvaluator::ForwardExists(TBRNExprToken* Node) {
  Node->Value->SetNull(true);
  TBRNExprToken* query = Node->ArgumentCount() > 0 ? Node->Argument(0) : nullptr;
  if (query == nullptr) return;
  EvaluateToken(query);
  EvaluateExists(query, Node);
}

void TBRNExprEvaluator::ForwardUserFunction(TBRNExprToken* Node) {
  Node->Value->SetNull(true);
  CallFunction(Node);
}

bool TBRNExprEvaluator::Truth(const TBRNValue& Value) {
  return evaluation::Truth(Value);
}

void TBRNExprEvaluator::NegateResult(TBRNExprToken* Node) {
  TBRNValue* result = Node->Value;
  if (result->GetNull()) {
    if (!StandardNullBehavior) result->SetAsBoolean(true);
    return;
  }
  result->SetAsBoolean(!result->GetAsBoolean());
}

}  // namespace brn

#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "sql/tree/expr_operations.h"
#include "sql/tree/expr_token.h"

namespace brn {

// Free functions over syntax trees shared by the validator, the compiled
// expression, the condition analysis and the query execution.
//
// The expression walk: unless a function says otherwise, a walk descends
// through tkOperator (Left, Right), tkUnaryOperator (Left) and the arguments of
// tkPredicate, tkFunction and tkRowValue, skipping nullptr arguments; every other
// kind is a leaf (a query is not entered). Walks are iterative, so trees of
// any depth are fine.
//
// Query layout used here: argument 6 of a tkQuery is its FROM list; a FROM
// entry's argument 1 is its own condition list and argument 2 its join list
// of tkJoin entries (JoinTable the joined table reference, arguments the ON
// conditions). Index of FROM and join entries holds their positions after
// NumberFromItems.
//
// All functions work on one tree, used by one thread at a time.

// ---- The whole-tree walk ---------------------------------------------------

// Where a node hangs in its holder: the Left or Right operand, or an argument
// position (0 and up); the root of a walk has no holder.
enum TBRNTreeSlot : int32_t { tsRoot = -3, tsLeft = -2, tsRight = -1 };

// What the Enter step of a walk answers for a node.
enum class TBRNWalkStep { Descend, Skip, Stop };

// The walk over every node of a tree: a node, then Left, Right and each
// non-nil argument in order, each subtree whole before the next. Without
// recursion, so any depth is fine.
//
// Enter (Node, Slot) runs before a node's children and answers Descend (walk
// them), Skip (leave them out) or Stop (end the whole walk at once: no further
// Enter or Leave). Leave (Node) runs after the children, also for a skipped
// node; the walk never touches a node after leaving it, so Leave may free it.
// Neither may change the operands or arguments of a node that is still open
// (entered and not yet left). Answers false when Enter stopped the walk.
// Node is TBRNExprToken or const TBRNExprToken.
template <typename Node, typename Enter, typename Leave>
bool WalkExprTree(Node* Root, Enter&& OnEnter, Leave&& OnLeave) {
  struct Frame {
    Node* Item;
    int32_t Next;  // the next slot to look at
  };
  std::vector<Frame> stack;
  // Enters Node; false when the walk stops.
  auto open = [&](Node* Item, int32_t Slot) {
    switch (OnEnter(Item, Slot)) {
      case TBRNWalkStep::Stop:
        return false;
      case TBRNWalkStep::Skip:
        OnLeave(Item);
        return true;
      case TBRNWalkStep::Descend:
        break;
    }
    stack.push_back({Item, tsLeft});
    return true;
  };
  if (Root == nullptr) return true;
  if (!open(Root, tsRoot)) return false;
  while (!stack.empty()) {
    Frame& frame = stack.back();
    Node* node = frame.Item;
    Node* child = nullptr;
    int32_t slot = 0;
    while (child == nullptr && frame.Next < node->ArgumentCount()) {
      slot = frame.Next++;
      child = slot == tsLeft    ? node->Left()
              : slot == tsRight ? node->Right()
                                : node->Arguments()[size_t(slot)];
    }
    if (child != nullptr) {
      if (!open(child, slot)) return false;  // may have moved frame
      continue;
    }
    stack.pop_back();
    OnLeave(node);
  }
  return true;
}

// Visit (Node) on every node of the tree, parents before their children.
template <typename Node, typename Visit>
void ForEachNode(Node* Root, Visit&& OnVisit) {
  WalkExprTree(
      Root,
      [&](Node* Item, int32_t) {
        OnVisit(Item);
        return TBRNWalkStep::Descend;
      },
      [](Node*) {});
}

// Visit (Node) on every node of the tree, children before their parent
// (Left, Right, the arguments, then the node); Visit may free the node.
template <typename Node, typename Visit>
void ForEachNodePostOrder(Node* Root, Visit&& OnVisit) {
  WalkExprTree(
      Root, [](Node*, int32_t) { return TBRNWalkStep::Descend; },
      [&](Node* Item) { OnVisit(Item); });
}

// ---- Comparisons and NOT -------------------------------------------------

// >= and <= exchange, > and < exchange; every other operation stays.
void ReverseComparison(TBRNExprToken* Node);
// Exchanges Left and Right.
void SwapOperands(TBRNExprToken* Node);
// ReverseComparison, then SwapOperands: a < b becomes b > a.
void MirrorComparison(TBRNExprToken* Node);
// The operation whose result is the negation: AND/OR, =/<>, >=/<, >/<=
// exchange; other operations stay.
void NegateComparison(TBRNExprToken* Node);
// BETWEEN/NOT BETWEEN, CONTAINS/DOES NOT CONTAIN, CONTAINS ANY/DOES NOT
// CONTAIN ANY, IN/NOT IN, IS NULL/IS NOT NULL and LIKE/NOT LIKE exchange.
void NegatePredicate(TBRNExprToken* Node);
// Whether NegateComparison or NegatePredicate can express the negation of
// Node: AND, OR, a comparison, or a predicate.
bool CanTakeNegation(const TBRNExprToken* Node);
// Pushes every NOT down into the condition Node (negated first when Negate)
// and returns the root that replaces Node; the caller stores it where Node
// was (it takes Node's Parent). AND and OR follow De Morgan, comparisons and
// predicates are inverted, and each NOT node whose operand took the negation
// is freed. An operand that cannot take the negation (a constant, a column, a
// parameter, a function, a CAST, a subquery, arithmetic) keeps a NOT node over
// it, so the meaning never changes: NOT TRUE stays NOT TRUE.
TBRNExprToken* PushDownNot(TBRNExprToken* Node, bool Negate);
// Exchanges A and B between their parents: the slot (Left, Right or argument)
// of A's parent that held A receives B and the other way round. Throws
// std::invalid_argument when one lies inside the other.
void SwapNodes(TBRNExprToken* A, TBRNExprToken* B);
// MirrorComparison on every comparison reachable through operators and NOT.
void MirrorConditions(TBRNExprToken* Node);
// Optimisation level of an AND of two conditions: A when both are equal,
// else 1 (partial).
int32_t CombineAndLevels(int32_t A, int32_t B);
// Optimisation level of an OR: A when both are equal; else 1 when A is 2 and
// the left condition is a text search (AIsTextSearch), or B is 2 and the right
// one is; else 0.
int32_t CombineOrLevels(int32_t A, bool AIsTextSearch, int32_t B, bool BIsTextSearch);
// A CONTAINS-family predicate (CONTAINS [ANY], DOES NOT CONTAIN [ANY]).
bool IsTextSearchPredicate(const TBRNExprToken* Node);

// ---- Expression questions (all walk as described above) ------------------

bool ContainsUserFunctionCall(const TBRNExprToken* Node);
bool ContainsColumnReference(const TBRNExprToken* Node);
// A column reference, or a row value whose members are all column references.
bool IsColumnOrColumnRow(const TBRNExprToken* Node);
// A column reference occurs whose enclosing query has a FROM list and whose
// Link is not the first FROM entry.
bool ReferencesOtherTable(const TBRNExprToken* Node);
// A tkOrderItem (a reference to a select item) occurs.
bool ContainsSelectColumnReference(const TBRNExprToken* Node);
// Whether the operation is an aggregate function (AVG, COUNT, LIST, MAX, MIN,
// RUNSUM, STDDEV, SUM, sum of squares) and whether the node is a call of one.
bool IsAggregateOperation(TBRNExprOperation Operation);
bool IsAggregateCall(const TBRNExprToken* Node);
// An aggregate function call occurs.
bool ContainsAggregate(const TBRNExprToken* Node);
bool ContainsQuery(const TBRNExprToken* Node);
// A correlated query occurs (queries are not entered).
bool ContainsCorrelatedQuery(const TBRNExprToken* Node);
// A dynamic parameter reference occurs whose Link is an IN or INOUT
// parameter. At a query the walk also enters its derived tables, the members
// of each FROM entry's condition and join lists (the ON conditions), the WHERE
// condition and the HAVING condition.
bool UsesInputParameters(const TBRNExprToken* Node);
// The expression relates columns of two different table references of its own
// query in anything but a plain comparison. Query is the enclosing query of
// Node when the caller knows it (nil: looked up).
bool CombinesTableColumns(const TBRNExprToken* Node, const TBRNExprToken* Query = nullptr);
// CombinesTableColumns of Node and of every node below it in the same walk,
// found in one pass over the tree.
std::unordered_map<const TBRNExprToken*, bool> CombinesTableColumnsOfEach(
    const TBRNExprToken* Node, const TBRNExprToken* Query = nullptr);

// Up to two distinct tables (table references), enough to tell whether two
// groups of columns relate two different tables without pairing every
// column of one with every column of the other.
struct TBRNTablePair {
  const TBRNExprToken* First = nullptr;
  const TBRNExprToken* Second = nullptr;

  void Add(const TBRNExprToken* Table) {
    if (!Table || Table == First || Table == Second) return;
    if (!First)
      First = Table;
    else if (!Second)
      Second = Table;
  }
  void Add(const TBRNTablePair& Other) {
    Add(Other.First);
    Add(Other.Second);
  }
  // A table of this pair and a different table of Other exist.
  bool Relates(const TBRNTablePair& Other) const {
    if (!First || !Other.First) return false;
    TBRNTablePair both = *this;
    both.Add(Other);
    return both.Second != nullptr;
  }
};

// ---- Query questions -------------------------------------------------------

bool QueryHasSeveralTables(const TBRNExprToken* Query);
// A WHERE list, or a FROM entry whose condition list is not empty.
bool QueryHasConditions(const TBRNExprToken* Query);
// The NOJOINOPTIMIZE / JOINOPTIMIZECOSTS marker among the arguments from 12 on.
bool QueryHasNoJoinOptimize(const TBRNExprToken* Query);
bool QueryHasJoinOptimizeCosts(const TBRNExprToken* Query);

// ---- Lookups (strict ancestors of Node; nullptr when none) ----------------

TBRNExprToken* EnclosingQuery(const TBRNExprToken* Node);
// The nearest enclosing query that is not the operand of a set operation.
TBRNExprToken* EnclosingBaseQuery(const TBRNExprToken* Node);
// From the enclosing query outward, the first that is not correlated, not a
// set operand and not the query of a derived table (the validator keeps the
// dynamic parameter definitions there).
TBRNExprToken* EnclosingTopQuery(const TBRNExprToken* Node);
// The routine root (function, procedure or script) around Node.
TBRNExprToken* EnclosingRoutine(const TBRNExprToken* Node);
TBRNExprToken* EnclosingBlock(const TBRNExprToken* Node);
// The operand that starts the source of Node through operators (smallest Line,
// then Column; on a tie the right one); Node itself for other kinds. Used to
// place error messages.
TBRNExprToken* LeftmostOperand(TBRNExprToken* Node);
// The first column reference in walk order whose source position lies after
// After (greater Line, or the same Line and a greater Column); with After nullptr
// the first one; nullptr when none. Feeding back the result enumerates them.
TBRNExprToken* NextColumnReference(TBRNExprToken* Node, const TBRNExprToken* After);

// ---- Join lists (Query is a tkQuery) ---------------------------------------

// The FROM entry whose join list holds an entry with operation Code and
// JoinTable Table; nullptr when none or without FROM list.
TBRNExprToken* FindJoinSource(const TBRNExprToken* Query, TBRNExprOperation Code,
                              const TBRNExprToken* Table);
// Index of each FROM entry becomes its position; WithJoins: also Index of each
// join entry its position in its join list.
void NumberFromItems(TBRNExprToken* Query, bool WithJoins);
// Whether the condition refers to a column of Table (through AND, OR, NOT,
// comparisons, predicates, functions and row values).
bool ReferencesTable(const TBRNExprToken* Condition, const TBRNExprToken* Table);
// Whether an ON condition of the join entry refers to Table.
bool JoinReferencesTable(const TBRNExprToken* Join, const TBRNExprToken* Table);
// Where Join goes in TableReference's join list: after the last entry whose
// JoinTable the join's condition references; otherwise, for an inner join,
// at the first LEFT or RIGHT entry; otherwise 0.
int32_t JoinInsertPosition(const TBRNExprToken* TableReference, const TBRNExprToken* Join);
// A join entry other than Join, in any FROM entry's join list, targets Table.
bool TableIsJoinedElsewhere(const TBRNExprToken* Query, const TBRNExprToken* Join,
                            const TBRNExprToken* Table);
bool IsInnerJoined(const TBRNExprToken* Query, const TBRNExprToken* Table);
// A join with Code targets Table, or one of the tables from which Table is
// reached through a chain of inner joins.
bool IsJoinedThroughInnerJoins(const TBRNExprToken* Query, TBRNExprOperation Code,
                               const TBRNExprToken* Table);
// Turns the join (with Code, else a cross join) that targets Table around so
// that Table becomes its source and drives it; a RIGHT join becomes a LEFT
// join and its ON comparisons are mirrored. The chain of joins above the
// source is reversed first. KeepPosition: the join keeps its Index in the new
// join list. Returns false when no join targets Table.
bool ReverseJoin(TBRNExprToken* Query, TBRNExprOperation Code, TBRNExprToken* Table,
                 bool KeepPosition);
// Insert: Item is taken out of the FROM list and put at Anchor's position
// (in front of Anchor); otherwise Item and Anchor exchange places. Then the
// FROM entries are numbered again.
void MoveFromItem(TBRNExprToken* Query, TBRNExprToken* Anchor, TBRNExprToken* Item, bool Insert);
// False when the join's condition references a FROM entry two or more places
// after TableReference other than the join's own JoinTable; true otherwise or
// without FROM list.
bool JoinConditionIsLocal(const TBRNExprToken* Query, const TBRNExprToken* TableReference,
                          const TBRNExprToken* Join);
bool JoinConditionsAreLocal(const TBRNExprToken* Query);

}  // namespace brn

#include "sql/tree/expr_tree_algorithms.h"

#include <algorithm>
#include <initializer_list>
#include <stdexcept>
#include <unordered_map>
#include <utility>
#include <vector>

#include "sql/tree/expr_token.h"
#include "sql/tree/query_layout.h"

namespace brn {

namespace {

TBRNExprToken* argumentOrNil(const TBRNExprToken* Node, int32_t Index) {
  return Node && Index < Node->ArgumentCount() ? Node->Argument(Index) : nullptr;
}

TBRNExprToken* fromList(const TBRNExprToken* Query) {
  return argumentOrNil(Query, qpFrom);
}

TBRNExprToken* joinList(const TBRNExprToken* Entry) {
  return argumentOrNil(Entry, trJoins);
}

int32_t positionIn(const TBRNExprToken* List, const TBRNExprToken* Node) {
  if (!List) return -1;
  const auto arguments = List->Arguments();
  const auto found = std::find(arguments.begin(), arguments.end(), Node);
  return found == arguments.end() ? -1 : int32_t(found - arguments.begin());
}

bool isComparison(TBRNExprOperation Operation) {
  return (Operation >= opEqual && Operation <= opLess) || Operation == opNotEqual;
}

bool isComparisonNode(const TBRNExprToken* Node) {
  return Node->Kind == tkOperator && isComparison(Node->Operation);
}

bool isAndOr(const TBRNExprToken* Node) {
  return Node->Kind == tkOperator && (Node->Operation == opAnd || Node->Operation == opOr);
}

bool isNot(const TBRNExprToken* Node) {
  return Node->Kind == tkUnaryOperator && Node->Operation == opNot;
}

// Pushes the children of Node that the expression walk visits, last first,
// so that popping yields them in walk order.
template <typename Stack>
void pushWalkChildren(const TBRNExprToken* Node, Stack& stack) {
  switch (Node->Kind) {
    case tkOperator:
      if (Node->Right()) stack.push_back(Node->Right());
      if (Node->Left()) stack.push_back(Node->Left());
      break;
    case tkUnaryOperator:
      if (Node->Left()) stack.push_back(Node->Left());
      break;
    case tkPredicate:
    case tkFunction:
    case tkRowValue: {
      const auto arguments = Node->Arguments();
      for (auto it = arguments.rbegin(); it != arguments.rend(); ++it)
        if (*it) stack.push_back(*it);
      break;
    }
    default:
      break;
  }
}

// Visits the nodes of the expression walk in pre-order, left to right, until
// Visit answers true; answers the node it stopped at (nullptr: none).
template <typename Visit>
TBRNExprToken* findInWalk(const TBRNExprToken* Root, Visit visit) {
  std::vector<TBRNExprToken*> stack;
  if (Root) stack.push_back(const_cast<TBRNExprToken*>(Root));
  while (!stack.empty()) {
    TBRNExprToken* node = stack.back();
    stack.pop_back();
    if (visit(node)) return node;
    pushWalkChildren(node, stack);
  }
  return nullptr;
}

bool containsKind(const TBRNExprToken* Node, TBRNExprTokenKind Kind) {
  return findInWalk(Node, [Kind](const TBRNExprToken* n) { return n->Kind == Kind; }) != nullptr;
}

bool referencesTableDirectly(const TBRNExprToken* Node, const TBRNExprToken* Table) {
  return findInWalk(Node, [Table](const TBRNExprToken* n) {
           return n->Kind == tkColumnReference && n->Link == Table;
         }) != nullptr;
}

// The slot of Parent that holds Child: -1 Left, -2 Right, else the argument.
int32_t slotOf(const TBRNExprToken* Parent, const TBRNExprToken* Child) {
  if (Parent->Left() == Child) return -1;
  if (Parent->Right() == Child) return -2;
  const int32_t index = positionIn(Parent, Child);
  if (index < 0) throw std::invalid_argument("SwapNodes: node not held by its parent");
  return index;
}

void setSlot(TBRNExprToken* Parent, int32_t Slot, TBRNExprToken* Child) {
  if (Slot == -1)
    Parent->SetLeft(Child);
  else if (Slot == -2)
    Parent->SetRight(Child);
  else
    Parent->SetArgument(Slot, Child);
}

bool isAncestor(const TBRNExprToken* Ancestor, const TBRNExprToken* Node) {
  for (const TBRNExprToken* p = Node->Parent; p; p = p->Parent)
    if (p == Ancestor) return true;
  return false;
}

// Frees a NOT node alone; its operand is detached first and survives.
void freeNotNode(TBRNExprToken* NotNode) {
  NotNode->SetLeft(nullptr);
  FreeExprTree(NotNode);
}

bool reverseJoin(TBRNExprToken* Query, TBRNExprOperation Code, TBRNExprToken* Table,
                 bool KeepPosition, int32_t DepthLeft) {
  if (DepthLeft <= 0) return false;  // a cycle of joins: nothing sensible to reverse
  TBRNExprToken* source = FindJoinSource(Query, Code, Table);
  if (!source) source = FindJoinSource(Query, opCrossJoin, Table);
  if (!source) return false;
  reverseJoin(Query, Code, source, false, DepthLeft - 1);

  TBRNExprToken* sourceJoins = joinList(source);
  const int32_t count = sourceJoins->ArgumentCount();
  TBRNExprToken* join = nullptr;
  for (int32_t i = 0; i < count; ++i) {
    TBRNExprToken* entry = sourceJoins->Argument(i);
    if (entry && entry->JoinTable == Table) {
      join = entry;
      sourceJoins->DeleteArgument(i);
      break;
    }
  }
  if (!join) return false;  // the inner reversal moved it: nothing left to turn
  join->Parent = nullptr;

  if (join->Operation == opRightJoin) join->Operation = opLeftJoin;
  join->JoinTable = source;
  for (TBRNExprToken* condition : join->Arguments())
    if (condition) MirrorConditions(condition);

  if (Table->ArgumentCount() <= trJoins) Table->SetArgumentCount(trJoins + 1);
  TBRNExprToken* tableJoins = Table->Argument(trJoins);
  if (!tableJoins) {
    tableJoins = new TBRNExprToken;
    tableJoins->Kind = tkList;
    Table->SetArgument(trJoins, tableJoins);
  }
  int32_t position = KeepPosition ? join->Index : JoinInsertPosition(Table, join);
  position = std::clamp(position, 0, tableJoins->ArgumentCount());
  tableJoins->InsertArgument(position, join);

  MoveFromItem(Query, source, Table, count > 1);
  if (count > 1) {
    std::vector<TBRNExprToken*> others;
    for (TBRNExprToken* entry : tableJoins->Arguments())
      if (entry && entry->JoinTable && entry->JoinTable != source)
        others.push_back(entry->JoinTable);
    for (TBRNExprToken* other : others) MoveFromItem(Query, source, other, true);
  }
  return true;
}

}  // namespace

// ---- Comparisons and NOT -------------------------------------------------

void ReverseComparison(TBRNExprToken* Node) {
  switch (Node->Operation) {
    case opGreaterOrEqual:
      Node->Operation = opLessOrEqual;
      break;
    case opLessOrEqual:
      Node->Operation = opGreaterOrEqual;
      break;
    case opGreater:
      Node->Operation = opLess;
      break;
    case opLess:
      Node->Operation = opGreater;
      break;
    default:
      break;
  }
}

void SwapOperands(TBRNExprToken* Node) {
  TBRNExprToken* left = Node->Left();
  Node->SetLeft(Node->Right());
  Node->SetRight(left);
}

void MirrorComparison(TBRNExprToken* Node) {
  ReverseComparison(Node);
  SwapOperands(Node);
}

void NegateComparison(TBRNExprToken* Node) {
  switch (Node->Operation) {
    case opAnd:
      Node->Operation = opOr;
      break;
    case opOr:
      Node->Operation = opAnd;
      break;
    case opEqual:
      Node->Operation = opNotEqual;
      break;
    case opNotEqual:
      Node->Operation = opEqual;
      break;
    case opGreaterOrEqual:
      Node->Operation = opLess;
      break;
    case opLess:
      Node->Operation = opGreaterOrEqual;
      break;
    case opGreater:
      Node->Operation = opLessOrEqual;
      break;
    case opLessOrEqual:
      Node->Operation = opGreater;
      break;
    default:
      break;
  }
}

void NegatePredicate(TBRNExprToken* Node) {
  static constexpr std::pair<TBRNExprOperation, TBRNExprOperation> kPairs[] = {
      {opBetween, opNotBetween}, {opContains, opNotContain}, {opContainsAny, opNotContainAny},
      {opIn, opNotIn},           {opIsNotNull, opIsNull},    {opLike, opNotLike},
  };
  for (const auto& [a, b] : kPairs) {
    if (Node->Operation == a) {
      Node->Operation = b;
      return;
    }
    if (Node->Operation == b) {
      Node->Operation = a;
      return;
    }
  }
}

bool CanTakeNegation(const TBRNExprToken* Node) {
  if (!Node) return false;
  if (Node->Kind == tkOperator) return isAndOr(Node) || isComparison(Node->Operation);
  return Node->Kind == tkPredicate && Node->Operation >= opBetween && Node->Operation <= opNotLike;
}

TBRNExprToken* PushDownNot(TBRNExprToken* Node, bool Negate) {
  if (!Node) return nullptr;
  TBRNExprToken* const parent = Node->Parent;
  TBRNExprToken* result = nullptr;

  // A work item: the node in Holder's Left (Slot -1) or Right (-2) slot, or
  // the root (no Holder), to be rewritten under Negate.
  struct Work {
    TBRNExprToken* Holder;
    int32_t Slot;
    TBRNExprToken* Node;
    bool Negate;
  };
  std::vector<Work> work{{nullptr, 0, Node, Negate}};
  while (!work.empty()) {
    auto [holder, slot, node, negate] = work.back();
    work.pop_back();

    // Peel NOT nodes as long as the negation can go further down.
    while (isNot(node) && node->Left()) {
      TBRNExprToken* operand = node->Left();
      if (!negate && !CanTakeNegation(operand) && !isNot(operand)) break;
      freeNotNode(node);
      node = operand;
      negate = !negate;
    }

    TBRNExprToken* out = node;
    if (isAndOr(node)) {
      if (negate) NegateComparison(node);
      if (node->Right()) work.push_back({node, -2, node->Right(), negate});
      if (node->Left()) work.push_back({node, -1, node->Left(), negate});
    } else if (CanTakeNegation(node)) {
      if (negate) {
        if (node->Kind == tkOperator)
          NegateComparison(node);
        else
          NegatePredicate(node);
      }
    } else if (negate) {
      // No operation expresses the negation: keep it as a NOT node.
      out = new TBRNExprToken;
      out->Kind = tkUnaryOperator;
      out->Operation = opNot;
      out->SetDataType(dtBoolean);
      out->CopyPosition(node);
      out->SetLeft(node);
    }

    if (!holder)
      result = out;
    else
      setSlot(holder, slot, out);
  }
  result->Parent = parent;
  return result;
}

void SwapNodes(TBRNExprToken* A, TBRNExprToken* B) {
  if (A == B) return;
  if (!A->Parent || !B->Parent) throw std::invalid_argument("SwapNodes: a node has no parent");
  if (isAncestor(A, B) || isAncestor(B, A))
    throw std::invalid_argument("SwapNodes: one node lies inside the other");
  TBRNExprToken* parentA = A->Parent;
  TBRNExprToken* parentB = B->Parent;
  const int32_t slotA = slotOf(parentA, A);
  const int32_t slotB = slotOf(parentB, B);
  setSlot(parentA, slotA, B);
  setSlot(parentB, slotB, A);
}

void MirrorConditions(TBRNExprToken* Node) {
  std::vector<TBRNExprToken*> stack;
  if (Node) stack.push_back(Node);
  while (!stack.empty()) {
    TBRNExprToken* node = stack.back();
    stack.pop_back();
    if (node->Kind == tkOperator) {
      if (isComparison(node->Operation)) MirrorComparison(node);
      if (node->Left()) stack.push_back(node->Left());
      if (node->Right()) stack.push_back(node->Right());
    } else if (node->Kind == tkUnaryOperator && node->Left()) {
      stack.push_back(node->Left());
    }
  }
}

int32_t CombineAndLevels(int32_t A, int32_t B) {
  return A == B ? A : 1;
}

int32_t CombineOrLevels(int32_t A, bool AIsTextSearch, int32_t B, bool BIsTextSearch) {
  if (A == B) return A;
  if ((A == 2 && AIsTextSearch) || (B == 2 && BIsTextSearch)) return 1;
  return 0;
}

bool IsTextSearchPredicate(const TBRNExprToken* Node) {
  if (!Node || Node->Kind != tkPredicate) return false;
  switch (Node->Operation) {
    case opContains:
    case opContainsAny:
    case opNotContain:
    case opNotContainAny:
      return true;
    default:
      return false;
  }
}

// ---- Expression questions -------------------------------------------------

bool ContainsUserFunctionCall(const TBRNExprToken* Node) {
  return findInWalk(Node, [](const TBRNExprToken* n) {
           return n->Kind == tkFunction && n->Operation == opUserFunction;
         }) != nullptr;
}

bool ContainsColumnReference(const TBRNExprToken* Node) {
  return containsKind(Node, tkColumnReference);
}

bool IsColumnOrColumnRow(const TBRNExprToken* Node) {
  if (!Node) return false;
  if (Node->Kind == tkColumnReference) return true;
  if (Node->Kind != tkRowValue) return false;
  for (const TBRNExprToken* member : Node->Arguments())
    if (!member || member->Kind != tkColumnReference) return false;
  return true;
}

bool ReferencesOtherTable(const TBRNExprToken* Node) {
  return findInWalk(Node, [](const TBRNExprToken* n) {
           if (n->Kind != tkColumnReference) return false;
           const TBRNExprToken* from = fromList(EnclosingQuery(n));
           return from && (from->ArgumentCount() == 0 || n->Link != from->Argument(0));
         }) != nullptr;
}

bool ContainsSelectColumnReference(const TBRNExprToken* Node) {
  return containsKind(Node, tkOrderItem);
}

bool IsAggregateOperation(TBRNExprOperation Operation) {
  switch (Operation) {
    case opAvg:
    case opCount:
    case opList:
    case opMax:
    case opMin:
    case opRunSum:
    case opStdDev:
    case opSum:
    case opSumSquare:
      return true;
    default:
      return false;
  }
}

bool IsAggregateCall(const TBRNExprToken* Node) {
  return Node != nullptr && Node->Kind == tkFunction && IsAggregateOperation(Node->Operation);
}

bool ContainsAggregate(const TBRNExprToken* Node) {
  return findInWalk(Node, [](const TBRNExprToken* n) { return IsAggregateCall(n); }) != nullptr;
}

bool ContainsQuery(const TBRNExprToken* Node) {
  return containsKind(Node, tkQuery);
}

bool ContainsCorrelatedQuery(const TBRNExprToken* Node) {
  return findInWalk(Node, [](const TBRNExprToken* n) {
           return n->Kind == tkQuery && n->Operation == opCorrelated;
         }) != nullptr;
}

bool UsesInputParameters(const TBRNExprToken* Node) {
  std::vector<const TBRNExprToken*> stack;
  if (Node) stack.push_back(Node);
  while (!stack.empty()) {
    const TBRNExprToken* node = stack.back();
    stack.pop_back();
    if (node->Kind == tkDynamicParamReference && node->Link &&
        (node->Link->Operation == opParamIn || node->Link->Operation == opParamInOut))
      return true;
    if (node->Kind != tkQuery) {
      pushWalkChildren(node, stack);
      continue;
    }
    if (const TBRNExprToken* having = argumentOrNil(node, qpHaving)) stack.push_back(having);
    if (const TBRNExprToken* where = argumentOrNil(node, qpWhere))
      for (const TBRNExprToken* condition : where->Arguments())
        if (condition) stack.push_back(condition);
    if (const TBRNExprToken* from = fromList(node)) {
      for (const TBRNExprToken* entry : from->Arguments()) {
        if (!entry) continue;
        if (entry->Operation == opDerivedTable)
          if (const TBRNExprToken* derived = argumentOrNil(entry, trDerivedQuery))
            stack.push_back(derived);
        if (const TBRNExprToken* conditions = argumentOrNil(entry, trConditions))
          for (const TBRNExprToken* condition : conditions->Arguments())
            if (condition) stack.push_back(condition);
        if (const TBRNExprToken* joins = joinList(entry))
          for (const TBRNExprToken* join : joins->Arguments())
            if (join)
              for (const TBRNExprToken* condition : join->Arguments())
                if (condition) stack.push_back(condition);
      }
    }
  }
  return false;
}

namespace {

// CombinesTableColumns, for Node alone (Each nil: stops at the first node
// that relates two tables) or for every node (into Each). Post-order over
// the expression walk: each node's tables come from its children's, so the
// pass is linear in the size of the tree.
bool combinesTableColumns(const TBRNExprToken* Node, const TBRNExprToken* Query,
                          std::unordered_map<const TBRNExprToken*, bool>* Each) {
  if (!Node) return false;
  const TBRNExprToken* query = Query ? Query : EnclosingQuery(Node);
  struct Facts {
    TBRNTablePair Tables;
    bool Combines = false;
  };
  std::unordered_map<const TBRNExprToken*, Facts> facts;
  std::vector<std::pair<const TBRNExprToken*, bool>> stack{{Node, false}};
  std::vector<const TBRNExprToken*> children;
  while (!stack.empty()) {
    auto [n, expanded] = stack.back();
    if (!expanded) {
      stack.back().second = true;
      children.clear();
      pushWalkChildren(n, children);
      for (const TBRNExprToken* child : children) stack.push_back({child, false});
      continue;
    }
    stack.pop_back();
    Facts own;
    const auto take = [&](const TBRNExprToken* Child) {
      if (!Child) return TBRNTablePair();
      const Facts& child = facts[Child];
      own.Combines = own.Combines || child.Combines;
      return child.Tables;
    };
    if (n->Kind == tkColumnReference && n->Link && EnclosingQuery(n->Link) == query)
      own.Tables.Add(n->Link);
    if (n->Kind == tkOperator) {
      const TBRNTablePair left = take(n->Left());
      const TBRNTablePair right = take(n->Right());
      if (!isComparison(n->Operation) && left.Relates(right)) own.Combines = true;
      own.Tables.Add(left);
      own.Tables.Add(right);
    } else if (n->Kind == tkUnaryOperator) {
      own.Tables.Add(take(n->Left()));
    } else if (n->Kind == tkPredicate || n->Kind == tkFunction || n->Kind == tkRowValue) {
      TBRNTablePair later;
      for (int32_t i = 1; i < n->ArgumentCount(); ++i) later.Add(take(n->Argument(i)));
      const TBRNTablePair first = n->ArgumentCount() > 0 ? take(n->Argument(0)) : TBRNTablePair();
      if (first.Relates(later)) own.Combines = true;
      own.Tables.Add(first);
      own.Tables.Add(later);
    }
    if (own.Combines && !Each) return true;
    if (Each) (*Each)[n] = own.Combines;
    facts[n] = own;
  }
  return Each && (*Each)[Node];
}

}  // namespace

bool CombinesTableColumns(const TBRNExprToken* Node, const TBRNExprToken* Query) {
  return combinesTableColumns(Node, Query, nullptr);
}

std::unordered_map<const TBRNExprToken*, bool> CombinesTableColumnsOfEach(
    const TBRNExprToken* Node, const TBRNExprToken* Query) {
  std::unordered_map<const TBRNExprToken*, bool> each;
  combinesTableColumns(Node, Query, &each);
  return each;
}

// ---- Query questions -------------------------------------------------------

bool QueryHasSeveralTables(const TBRNExprToken* Query) {
  const TBRNExprToken* from = fromList(Query);
  return from && from->ArgumentCount() > 1;
}

bool QueryHasConditions(const TBRNExprToken* Query) {
  if (argumentOrNil(Query, qpWhere)) return true;
  if (const TBRNExprToken* from = fromList(Query))
    for (const TBRNExprToken* entry : from->Arguments()) {
      const TBRNExprToken* conditions = argumentOrNil(entry, trConditions);
      if (conditions && conditions->ArgumentCount() > 0) return true;
    }
  return false;
}

static bool queryHasOption(const TBRNExprToken* Query, TBRNExprOperation Option) {
  if (!Query) return false;
  for (int32_t i = qpFixedCount; i < Query->ArgumentCount(); ++i) {
    const TBRNExprToken* argument = Query->Argument(i);
    if (argument && argument->Operation == Option) return true;
  }
  return false;
}

bool QueryHasNoJoinOptimize(const TBRNExprToken* Query) {
  return queryHasOption(Query, opNoJoinOptimize);
}

bool QueryHasJoinOptimizeCosts(const TBRNExprToken* Query) {
  return queryHasOption(Query, opJoinOptimizeCosts);
}

// ---- Lookups ---------------------------------------------------------------

static TBRNExprToken* enclosingOfKind(const TBRNExprToken* Node,
                                      std::initializer_list<TBRNExprTokenKind> Kinds) {
  for (TBRNExprToken* p = Node ? Node->Parent : nullptr; p; p = p->Parent)
    if (std::find(Kinds.begin(), Kinds.end(), p->Kind) != Kinds.end()) return p;
  return nullptr;
}

static bool isSetOperand(const TBRNExprToken* Query) {
  const TBRNExprToken* setOperation = argumentOrNil(Query, qpSetOperation);
  return setOperation && setOperation->Operation != opNone;
}

TBRNExprToken* EnclosingQuery(const TBRNExprToken* Node) {
  return enclosingOfKind(Node, {tkQuery});
}

TBRNExprToken* EnclosingBaseQuery(const TBRNExprToken* Node) {
  TBRNExprToken* query = EnclosingQuery(Node);
  while (query && isSetOperand(query)) query = EnclosingQuery(query);
  return query;
}

TBRNExprToken* EnclosingTopQuery(const TBRNExprToken* Node) {
  for (TBRNExprToken* query = EnclosingQuery(Node); query; query = EnclosingQuery(query)) {
    const TBRNExprToken* parent = query->Parent;
    if (query->Operation == opNone && !isSetOperand(query) &&
        (!parent || parent->Operation != opDerivedTable))
      return query;
  }
  return nullptr;
}

TBRNExprToken* EnclosingRoutine(const TBRNExprToken* Node) {
  return enclosingOfKind(Node, {tkFunctionName, tkProcedureName, tkScript});
}

TBRNExprToken* EnclosingBlock(const TBRNExprToken* Node) {
  return enclosingOfKind(Node, {tkBlock});
}

TBRNExprToken* LeftmostOperand(TBRNExprToken* Node) {
  // The nested minimum (ties to the right one) equals the minimum over all
  // operands in left-to-right order where a later operand wins a tie.
  TBRNExprToken* best = nullptr;
  std::vector<TBRNExprToken*> stack{Node};
  while (!stack.empty()) {
    TBRNExprToken* node = stack.back();
    stack.pop_back();
    const bool descend = (node->Kind == tkOperator && (node->Left() || node->Right())) ||
                         (node->Kind == tkUnaryOperator && node->Left());
    if (descend) {
      if (node->Right()) stack.push_back(node->Right());
      if (node->Left()) stack.push_back(node->Left());
      continue;
    }
    if (!best || node->Line < best->Line ||
        (node->Line == best->Line && node->Column <= best->Column))
      best = node;
  }
  return best;
}

TBRNExprToken* NextColumnReference(TBRNExprToken* Node, const TBRNExprToken* After) {
  return findInWalk(Node, [After](const TBRNExprToken* n) {
    if (n->Kind != tkColumnReference) return false;
    return !After || n->Line > After->Line || (n->Line == After->Line && n->Column > After->Column);
  });
}

// ---- Join lists --------------------------------------------------------------

TBRNExprToken* FindJoinSource(const TBRNExprToken* Query, TBRNExprOperation Code,
                              const TBRNExprToken* Table) {
  const TBRNExprToken* from = fromList(Query);
  if (!from) return nullptr;
  for (TBRNExprToken* entry : from->Arguments()) {
    const TBRNExprToken* joins = joinList(entry);
    if (!joins) continue;
    for (const TBRNExprToken* join : joins->Arguments())
      if (join && join->Operation == Code && join->JoinTable == Table) return entry;
  }
  return nullptr;
}

void NumberFromItems(TBRNExprToken* Query, bool WithJoins) {
  TBRNExprToken* from = fromList(Query);
  if (!from) return;
  for (int32_t i = 0; i < from->ArgumentCount(); ++i) {
    TBRNExprToken* entry = from->Argument(i);
    if (!entry) continue;
    entry->Index = i;
    if (!WithJoins) continue;
    if (TBRNExprToken* joins = joinList(entry))
      for (int32_t j = 0; j < joins->ArgumentCount(); ++j)
        if (TBRNExprToken* join = joins->Argument(j)) join->Index = j;
  }
}

bool ReferencesTable(const TBRNExprToken* Condition, const TBRNExprToken* Table) {
  std::vector<const TBRNExprToken*> stack;
  if (Condition) stack.push_back(Condition);
  while (!stack.empty()) {
    const TBRNExprToken* node = stack.back();
    stack.pop_back();
    if (isAndOr(node)) {
      if (node->Left()) stack.push_back(node->Left());
      if (node->Right()) stack.push_back(node->Right());
    } else if (isNot(node)) {
      if (node->Left()) stack.push_back(node->Left());
    } else if (isComparisonNode(node) || node->Kind == tkPredicate || node->Kind == tkFunction ||
               node->Kind == tkRowValue) {
      if (referencesTableDirectly(node, Table)) return true;
    }
  }
  return false;
}

bool JoinReferencesTable(const TBRNExprToken* Join, const TBRNExprToken* Table) {
  for (const TBRNExprToken* condition : Join->Arguments())
    if (condition && ReferencesTable(condition, Table)) return true;
  return false;
}

int32_t JoinInsertPosition(const TBRNExprToken* TableReference, const TBRNExprToken* Join) {
  const TBRNExprToken* joins = joinList(TableReference);
  if (!joins) return 0;
  for (int32_t i = joins->ArgumentCount() - 1; i >= 0; --i) {
    const TBRNExprToken* entry = joins->Argument(i);
    if (entry && entry->JoinTable && JoinReferencesTable(Join, entry->JoinTable)) return i + 1;
  }
  if (Join->Operation == opInnerJoin)
    for (int32_t i = 0; i < joins->ArgumentCount(); ++i) {
      const TBRNExprToken* entry = joins->Argument(i);
      if (entry && (entry->Operation == opLeftJoin || entry->Operation == opRightJoin)) return i;
    }
  return 0;
}

bool TableIsJoinedElsewhere(const TBRNExprToken* Query, const TBRNExprToken* Join,
                            const TBRNExprToken* Table) {
  const TBRNExprToken* from = fromList(Query);
  if (!from) return false;
  for (const TBRNExprToken* entry : from->Arguments()) {
    const TBRNExprToken* joins = joinList(entry);
    if (!joins) continue;
    for (const TBRNExprToken* join : joins->Arguments())
      if (join && join != Join && join->JoinTable == Table) return true;
  }
  return false;
}

bool IsInnerJoined(const TBRNExprToken* Query, const TBRNExprToken* Table) {
  return FindJoinSource(Query, opInnerJoin, Table) != nullptr;
}

bool IsJoinedThroughInnerJoins(const TBRNExprToken* Query, TBRNExprOperation Code,
                               const TBRNExprToken* Table) {
  const TBRNExprToken* from = fromList(Query);
  // A chain visits each FROM entry at most once; a longer one is a cycle.
  int32_t stepsLeft = from ? from->ArgumentCount() + 1 : 0;
  for (const TBRNExprToken* table = Table; table && stepsLeft-- > 0;
       table = FindJoinSource(Query, opInnerJoin, table))
    if (FindJoinSource(Query, Code, table)) return true;
  return false;
}

bool ReverseJoin(TBRNExprToken* Query, TBRNExprOperation Code, TBRNExprToken* Table,
                 bool KeepPosition) {
  const TBRNExprToken* from = fromList(Query);
  if (!from) return false;
  return reverseJoin(Query, Code, Table, KeepPosition, from->ArgumentCount() + 1);
}

void MoveFromItem(TBRNExprToken* Query, TBRNExprToken* Anchor, TBRNExprToken* Item, bool Insert) {
  TBRNExprToken* from = fromList(Query);
  const int32_t anchorPosition = positionIn(from, Anchor);
  const int32_t itemPosition = positionIn(from, Item);
  if (anchorPosition < 0 || itemPosition < 0 || Anchor == Item) return;
  if (Insert) {
    from->DeleteArgument(itemPosition);
    from->InsertArgument(positionIn(from, Anchor), Item);
  } else {
    from->SetArgument(anchorPosition, Item);
    from->SetArgument(itemPosition, Anchor);
  }
  NumberFromItems(Query, false);
}

bool JoinConditionIsLocal(const TBRNExprToken* Query, const TBRNExprToken* TableReference,
                          const TBRNExprToken* Join) {
  const TBRNExprToken* from = fromList(Query);
  if (!from) return true;
  int32_t position = positionIn(from, TableReference);
  if (position < 0) position = TableReference->Index;
  for (int32_t i = std::max(position + 2, 0); i < from->ArgumentCount(); ++i) {
    const TBRNExprToken* entry = from->Argument(i);
    if (entry && entry != Join->JoinTable && JoinReferencesTable(Join, entry)) return false;
  }
  return true;
}

bool JoinConditionsAreLocal(const TBRNExprToken* Query) {
  const TBRNExprToken* from = fromList(Query);
  if (!from) return true;
  for (const TBRNExprToken* entry : from->Arguments()) {
    const TBRNExprToken* joins = joinList(entry);
    if (!joins) continue;
    for (const TBRNExprToken* join : joins->Arguments())
      if (join && !JoinConditionIsLocal(Query, entry, join)) return false;
  }
  return true;
}

}  // namespace brn

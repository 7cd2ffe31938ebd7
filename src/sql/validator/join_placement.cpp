// Join order and condition placement.
//
// Query execution works from this shape: each join entry hangs in the join
// list of the FROM item its condition starts from, RIGHT joins are LEFT
// joins driven from the other table, no table is the target of two join
// entries, and every condition that concerns one table alone sits in that
// table's own condition list (it filters the table's rows before any join).
// Conditions relating two tables stay in WHERE or with their join entry. A
// condition on the inner side of a LEFT join never moves out of its ON
// clause, and a WHERE condition on that side never moves into the table: it
// must see the NULL rows the outer join adds.
//
// Condition trees can be deep through left-deep AND chains; the column walks
// here are iterative, the splitting of AND nodes follows the nesting the
// parser bounds.

#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

#include "sql/tree/expr_token.h"
#include "sql/tree/expr_tree_algorithms.h"
#include "sql/tree/query_layout.h"
#include "sql/validator/expr_validator.h"
#include "sql/validator/validation_helpers.h"

namespace brn {

namespace {

using validation::argumentOrNil;

bool isOperator(const TBRNExprToken* Node, TBRNExprOperation Operation) {
  return Node && Node->Kind == tkOperator && Node->Operation == Operation;
}

bool isComparison(const TBRNExprToken* Node) {
  return Node && Node->Kind == tkOperator && validation::isComparisonOperation(Node->Operation);
}

// The column references of an expression (queries are not entered).
std::vector<const TBRNExprToken*> columnsOf(const TBRNExprToken* Node) {
  std::vector<const TBRNExprToken*> columns;
  std::vector<const TBRNExprToken*> stack;
  if (Node) stack.push_back(Node);
  while (!stack.empty()) {
    const TBRNExprToken* node = stack.back();
    stack.pop_back();
    switch (node->Kind) {
      case tkColumnReference:
        columns.push_back(node);
        break;
      case tkOperator:
        if (node->Right()) stack.push_back(node->Right());
        if (node->Left()) stack.push_back(node->Left());
        break;
      case tkUnaryOperator:
        if (node->Left()) stack.push_back(node->Left());
        break;
      case tkPredicate:
      case tkFunction:
      case tkRowValue: {
        const auto arguments = node->Arguments();
        for (auto it = arguments.rbegin(); it != arguments.rend(); ++it)
          if (*it) stack.push_back(*it);
      } break;
      default:
        break;
    }
  }
  return columns;
}

// Whether Table is one of Query's FROM items.
bool isFromItemOf(const TBRNExprToken* Query, const TBRNExprToken* Table) {
  const TBRNExprToken* from = argumentOrNil(Query, qpFrom);
  if (!from || !Table) return false;
  for (const TBRNExprToken* item : from->Arguments())
    if (item == Table) return true;
  return false;
}

void appendTo(TBRNExprToken* Owner, int32_t Position, TBRNExprToken* Condition) {
  if (Owner->ArgumentCount() <= Position) Owner->SetArgumentCount(Position + 1);
  TBRNExprToken* list = Owner->Argument(Position);
  if (!list) {
    list = new TBRNExprToken;
    list->Kind = tkList;
    list->CopyPosition(Condition);
    Owner->SetArgument(Position, list);
  }
  list->AddArgument(Condition);
}

int32_t joinEntryCount(const TBRNExprToken* Query) {
  int32_t count = 0;
  if (const TBRNExprToken* from = argumentOrNil(Query, qpFrom))
    for (const TBRNExprToken* item : from->Arguments())
      if (const TBRNExprToken* joins = argumentOrNil(item, trJoins))
        count += joins->ArgumentCount();
  return count;
}

int32_t positionIn(const TBRNExprToken* List, const TBRNExprToken* Node) {
  if (List)
    for (int32_t i = 0; i < List->ArgumentCount(); ++i)
      if (List->Argument(i) == Node) return i;
  return -1;
}

// The AND node Condition after its operands were tried: both gone, it goes
// too (freed; true); one gone, it becomes the other one in place; none gone,
// it stays (false).
bool mergeSplit(TBRNExprToken* Condition, bool LeftMoved, bool RightMoved) {
  if (LeftMoved && RightMoved) {
    Condition->SetLeft(nullptr);
    Condition->SetRight(nullptr);
    FreeExprTree(Condition);
    return true;
  }
  if (!LeftMoved && !RightMoved) return false;
  TBRNExprToken* remaining = LeftMoved ? Condition->Right() : Condition->Left();
  TBRNExprToken* const source = Condition->Source;
  Condition->Assign(remaining, true);
  // The operand node is freed below: nothing may keep pointing at it.
  Condition->Source = source;
  FreeExprTree(remaining);
  return false;
}

// Facts of every node of the region of Condition that InRegion selects
// (AND or OR nodes reached from it through such nodes) and of the nodes
// right below the region: LeafFacts of those, Both of a region node's two
// operands for the region. One pass without recursion, so a chain of n
// links costs O(n) however deep it is.
template <typename Facts, typename InRegion, typename LeafFacts, typename Both>
std::unordered_map<const TBRNExprToken*, Facts> sumUpRegion(const TBRNExprToken* Condition,
                                                            InRegion inRegion, LeafFacts leafFacts,
                                                            Both both) {
  std::unordered_map<const TBRNExprToken*, Facts> facts;
  std::vector<std::pair<const TBRNExprToken*, bool>> stack{{Condition, false}};
  while (!stack.empty()) {
    auto [node, expanded] = stack.back();
    if (!node || !inRegion(node)) {
      stack.pop_back();
      facts[node] = leafFacts(node);
      continue;
    }
    if (!expanded) {
      stack.back().second = true;
      stack.push_back({node->Right(), false});
      stack.push_back({node->Left(), false});
      continue;
    }
    stack.pop_back();
    facts[node] = both(facts[node->Left()], facts[node->Right()]);
  }
  return facts;
}

bool isAndOr(const TBRNExprToken* Node) {
  return isOperator(Node, opAnd) || isOperator(Node, opOr);
}

}  // namespace

// ---- Join order ----------------------------------------------------------------

void TBRNExprValidator::NormalizeJoins(TBRNExprToken* Query) {
  TBRNExprToken* from = argumentOrNil(Query, qpFrom);
  if (!from) return;

  // 1. Each join entry goes to the table its condition starts from.
  for (int32_t i = from->ArgumentCount() - 1; i >= 0; --i) ReorderJoins(Query, from->Argument(i));

  // 2. RIGHT joins become LEFT joins; conditions may only look back.
  const auto fromItems = from->Arguments();
  const std::vector<TBRNExprToken*> items(fromItems.begin(), fromItems.end());
  for (TBRNExprToken* item : items) {
    const TBRNExprToken* joins = argumentOrNil(item, trJoins);
    if (!joins) continue;
    const auto joinEntries = joins->Arguments();
    const std::vector<TBRNExprToken*> entries(joinEntries.begin(), joinEntries.end());
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
      TBRNExprToken* join = *it;
      if (!join || join->Operation == opCrossJoin) continue;
      if (join->Operation == opRightJoin) ReverseJoin(Query, opRightJoin, join->JoinTable, false);
      if (!JoinConditionsAreLocal(Query))
        RaiseInvalid(argumentOrNil(join, 0) ? argumentOrNil(join, 0) : join,
                     "this expression refers to a table or column that is not in scope yet");
    }
  }

  // 3. A table joined twice: its inner joins are turned around. Each turn
  // moves a join entry; a set of joins that keeps turning without settling
  // is refused once every entry could have been turned, instead of looping.
  const int32_t turnLimit = joinEntryCount(Query) + 1;
  for (int32_t i = 0; i < from->ArgumentCount(); ++i) {
    TBRNExprToken* item = from->Argument(i);
    int32_t turns = 0;
    for (bool turned = true; turned;) {
      turned = false;
      const TBRNExprToken* joins = argumentOrNil(item, trJoins);
      if (!joins) break;
      for (TBRNExprToken* join : joins->Arguments()) {
        if (!join || !TableIsJoinedElsewhere(Query, join, join->JoinTable)) continue;
        TBRNExprToken* target = join->JoinTable;
        turned = ReverseJoin(Query, opInnerJoin, target, false);
        if (turned && ++turns > turnLimit)
          RaiseInvalid(target, "this table is the target of multiple join conditions");
        break;
      }
    }
  }
  for (const TBRNExprToken* item : from->Arguments())
    if (const TBRNExprToken* joins = argumentOrNil(item, trJoins))
      for (const TBRNExprToken* join : joins->Arguments())
        if (join && TableIsJoinedElsewhere(Query, join, join->JoinTable))
          RaiseInvalid(join->JoinTable, "this table is the target of multiple join conditions");

  // 4.
  NumberFromItems(Query, true);
}

void TBRNExprValidator::ReorderJoins(TBRNExprToken* Query, TBRNExprToken* FromItem) {
  TBRNExprToken* joins = argumentOrNil(FromItem, trJoins);
  if (!joins) return;
  // Entries may come back into this same list at another place: walk a copy.
  const auto joinEntries = joins->Arguments();
  const std::vector<TBRNExprToken*> entries(joinEntries.begin(), joinEntries.end());
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    TBRNExprToken* join = *it;
    if (!join || join->Operation == opCrossJoin) continue;
    TBRNExprToken* source = FindConditionSource(Query, join);
    if (!source) continue;
    const int32_t position = positionIn(joins, join);
    if (position < 0) continue;
    joins->DeleteArgument(position);
    if (source->ArgumentCount() <= trJoins) source->SetArgumentCount(trJoins + 1);
    TBRNExprToken* target = source->Argument(trJoins);
    if (!target) {
      target = new TBRNExprToken;
      target->Kind = tkList;
      source->SetArgument(trJoins, target);
    }
    target->InsertArgument(JoinInsertPosition(source, join), join);
  }
}

TBRNExprToken* TBRNExprValidator::FindConditionSource(const TBRNExprToken* Query,
                                                      const TBRNExprToken* Join) {
  const TBRNExprToken* from = argumentOrNil(Query, qpFrom);
  if (!from || !Join->JoinTable) return nullptr;
  for (int32_t i = from->ArgumentCount() - 1; i >= 0; --i) {
    TBRNExprToken* item = from->Argument(i);
    if (item && JoinReferencesTable(Join, item) && item->Index < Join->JoinTable->Index)
      return item;
  }
  return nullptr;
}

// ---- Condition placement ---------------------------------------------------------

bool TBRNExprValidator::ComparesTwoTables(const TBRNExprToken* Condition,
                                          const TBRNExprToken* Query) {
  const TBRNExprToken* query = Query ? Query : EnclosingQuery(Condition);
  std::vector<const TBRNExprToken*> stack{Condition};
  while (!stack.empty()) {
    const TBRNExprToken* node = stack.back();
    stack.pop_back();
    if (!node) continue;
    if (isOperator(node, opAnd) || isOperator(node, opOr)) {
      stack.push_back(node->Left());
      stack.push_back(node->Right());
    } else if (node->Kind == tkUnaryOperator && node->Operation == opNot) {
      stack.push_back(node->Left());
    } else if (isComparison(node)) {
      const auto tablesOf = [query](const TBRNExprToken* Side) {
        TBRNTablePair tables;
        for (const TBRNExprToken* column : columnsOf(Side))
          if (isFromItemOf(query, column->Link)) tables.Add(column->Link);
        return tables;
      };
      if (tablesOf(node->Left()).Relates(tablesOf(node->Right()))) return true;
    }
  }
  return false;
}

void TBRNExprValidator::DistributeWhereConditions(TBRNExprToken* Query) {
  TBRNExprToken* where = argumentOrNil(Query, qpWhere);
  if (!where || !argumentOrNil(Query, qpFrom)) return;
  for (int32_t i = 0; i < where->ArgumentCount();) {
    TBRNExprToken* condition = where->Argument(i);
    // A moved condition now belongs elsewhere (or was freed): only its slot
    // here is dropped.
    if (condition && MoveWhereCondition(Query, condition))
      where->DeleteArgument(i);
    else
      ++i;
  }
}

bool TBRNExprValidator::MoveWhereCondition(TBRNExprToken* Query, TBRNExprToken* Condition) {
  if (!isOperator(Condition, opAnd)) return moveWherePart(Query, Condition);
  // An AND goes to one table as a whole when it can, else its two sides go
  // on their own. The facts that decide are summed up for every AND node of
  // the chain from its parts in one pass (a long chain would otherwise be
  // examined again at each of its links), and the chain is walked with a
  // list instead of the stack.
  struct Facts {
    bool Columns = false;
    bool Correlated = false;
    bool TwoTables = false;
  };
  const auto facts = sumUpRegion<Facts>(
      Condition, [](const TBRNExprToken* Node) { return isOperator(Node, opAnd); },
      [Query](const TBRNExprToken* Node) {
        return Facts{ContainsColumnReference(Node), ContainsCorrelatedQuery(Node),
                     ComparesTwoTables(Node, Query)};
      },
      [](const Facts& Left, const Facts& Right) {
        return Facts{Left.Columns || Right.Columns, Left.Correlated || Right.Correlated,
                     Left.TwoTables || Right.TwoTables};
      });
  const std::unordered_map<const TBRNExprToken*, bool> combines =
      CombinesTableColumnsOfEach(Condition, Query);
  struct Step {
    TBRNExprToken* Node;
    int32_t Stage;  // 0 decide, 1 left side done, 2 right side done
    bool LeftMoved;
  };
  std::vector<Step> steps{{Condition, 0, false}};
  bool moved = false;  // the answer of the step last finished
  while (!steps.empty()) {
    Step& step = steps.back();
    TBRNExprToken* node = step.Node;
    if (!isOperator(node, opAnd)) {
      steps.pop_back();
      moved = moveWherePart(Query, node);
      continue;
    }
    if (step.Stage == 0) {
      const Facts& f = facts.at(node);
      const auto found = combines.find(node);
      const bool combined = found != combines.end() && found->second;
      if ((!f.Columns && !f.Correlated) || (!f.TwoTables && !f.Correlated && !combined)) {
        steps.pop_back();
        moved = AttachCondition(Query, node, nullptr);
        continue;
      }
      step.Stage = 1;
      steps.push_back({node->Left(), 0, false});
    } else if (step.Stage == 1) {
      step.Stage = 2;
      step.LeftMoved = moved;
      steps.push_back({node->Right(), 0, false});
    } else {
      const bool leftMoved = step.LeftMoved;
      steps.pop_back();
      moved = mergeSplit(node, leftMoved, moved);
    }
  }
  return moved;
}

bool TBRNExprValidator::moveWherePart(TBRNExprToken* Query, TBRNExprToken* Condition) {
  if (!ContainsColumnReference(Condition) && !ContainsCorrelatedQuery(Condition))
    return AttachCondition(Query, Condition, nullptr);
  if (isOperator(Condition, opOr)) {
    if (!ComparesTwoTables(Condition, Query) && !ContainsCorrelatedQuery(Condition) &&
        !CombinesTableColumns(Condition, Query))
      return AttachCondition(Query, Condition, nullptr);
    return false;
  }
  if (isComparison(Condition)) {
    if (!ContainsColumnReference(Condition->Left()) && ContainsColumnReference(Condition->Right()))
      MirrorComparison(Condition);
    if (ComparesTwoTables(Condition, Query)) return false;
  }
  if (isComparison(Condition) || Condition->Kind == tkPredicate || Condition->Kind == tkFunction ||
      Condition->Kind == tkRowValue) {
    if (!ContainsCorrelatedQuery(Condition) && !CombinesTableColumns(Condition, Query))
      return AttachCondition(Query, Condition, nullptr);
  }
  return false;
}

void TBRNExprValidator::DistributeJoinConditions(TBRNExprToken* Query) {
  TBRNExprToken* from = argumentOrNil(Query, qpFrom);
  if (!from) return;
  bool removed = false;
  for (TBRNExprToken* item : from->Arguments()) {
    TBRNExprToken* joins = argumentOrNil(item, trJoins);
    if (!joins) continue;
    for (int32_t j = 0; j < joins->ArgumentCount();) {
      TBRNExprToken* join = joins->Argument(j);
      if (!join || join->Operation == opCrossJoin) {
        ++j;
        continue;
      }
      for (int32_t k = 0; k < join->ArgumentCount();) {
        TBRNExprToken* condition = join->Argument(k);
        if (condition && MoveJoinCondition(Query, condition, join, false))
          join->DeleteArgument(k);
        else
          ++k;
      }
      bool empty = true;
      for (const TBRNExprToken* condition : join->Arguments())
        if (condition) empty = false;
      if (!empty) {
        ++j;
      } else if (joins->ArgumentCount() > 1) {
        joins->DeleteArgument(j);
        FreeExprTree(join);
        removed = true;
      } else {
        join->SetArgumentCount(0);
        join->Operation = opCrossJoin;
        ++j;
      }
    }
  }
  // Join entries keep numbering their positions.
  if (removed) NumberFromItems(Query, true);
}

bool TBRNExprValidator::MoveJoinCondition(TBRNExprToken* Query, TBRNExprToken* Condition,
                                          TBRNExprToken* Origin, bool InOr) {
  if (!isAndOr(Condition)) return moveJoinPart(Query, Condition, Origin, InOr);
  // An AND, or an OR that relates no two tables, goes to one table as a
  // whole when it can, else its sides go on their own (the parts of an OR
  // never move alone). As for the WHERE conditions, what decides is summed
  // up in one pass and the chain is walked with a list.
  const auto twoTables = sumUpRegion<bool>(
      Condition, isAndOr,
      [Query](const TBRNExprToken* Node) { return ComparesTwoTables(Node, Query); },
      [](bool Left, bool Right) { return Left || Right; });
  const std::unordered_map<const TBRNExprToken*, bool> combines =
      CombinesTableColumnsOfEach(Condition, Query);
  const auto combined = [&combines](const TBRNExprToken* Node) {
    const auto found = combines.find(Node);
    return found != combines.end() && found->second;
  };
  struct Step {
    TBRNExprToken* Node;
    bool InOr;
    int32_t Stage;  // 0 decide, 1 left side done, 2 right side done
    bool LeftMoved;
  };
  std::vector<Step> steps{{Condition, InOr, 0, false}};
  bool moved = false;  // the answer of the step last finished
  while (!steps.empty()) {
    Step& step = steps.back();
    TBRNExprToken* node = step.Node;
    if (!isAndOr(node)) {
      const bool inOr = step.InOr;
      steps.pop_back();
      moved = moveJoinPart(Query, node, Origin, inOr);
      continue;
    }
    const bool isOr = isOperator(node, opOr);
    if (step.Stage == 0) {
      if (isOr && combined(node)) {
        steps.pop_back();
        moved = false;
        continue;
      }
      if (!step.InOr && !combined(node) && !twoTables.at(node->Left()) &&
          !twoTables.at(node->Right())) {
        steps.pop_back();
        moved = AttachCondition(Query, node, Origin);
        continue;
      }
      step.Stage = 1;
      steps.push_back({node->Left(), step.InOr || isOr, 0, false});
    } else if (step.Stage == 1) {
      step.Stage = 2;
      step.LeftMoved = moved;
      steps.push_back({node->Right(), step.InOr || isOr, 0, false});
    } else {
      const bool leftMoved = step.LeftMoved;
      steps.pop_back();
      moved = mergeSplit(node, leftMoved, moved);
    }
  }
  return moved;
}

bool TBRNExprValidator::moveJoinPart(TBRNExprToken* Query, TBRNExprToken* Condition,
                                     TBRNExprToken* Origin, bool InOr) {
  if (isComparison(Condition)) {
    const bool left = ContainsColumnReference(Condition->Left());
    const bool right = ContainsColumnReference(Condition->Right());
    if (left == right) return false;
    if (right) MirrorComparison(Condition);
    if (InOr || CombinesTableColumns(Condition, Query)) return false;
    return AttachCondition(Query, Condition, Origin);
  }
  if (Condition->Kind == tkPredicate || Condition->Kind == tkRowValue) {
    if (InOr || CombinesTableColumns(Condition, Query)) return false;
    return AttachCondition(Query, Condition, Origin);
  }
  return false;
}

bool TBRNExprValidator::AttachCondition(TBRNExprToken* Query, TBRNExprToken* Condition,
                                        TBRNExprToken* Origin) {
  // The table of the condition's first column (in source order) that is one
  // of this query's tables; the first table when it has none.
  TBRNExprToken* table = nullptr;
  const TBRNExprToken* first = nullptr;
  for (const TBRNExprToken* column : columnsOf(Condition)) {
    if (!isFromItemOf(Query, column->Link)) continue;
    if (!first || column->Line < first->Line ||
        (column->Line == first->Line && column->Column < first->Column))
      first = column;
  }
  if (first)
    table = first->Link;
  else
    table = argumentOrNil(argumentOrNil(Query, qpFrom), 0);
  if (!table) return false;

  if (IsJoinedThroughInnerJoins(Query, opLeftJoin, table)) {
    // The outer side of a LEFT join: a WHERE condition must see the rows the
    // join adds, so it stays.
    if (!Origin) return false;
    if (Origin->Operation == opInnerJoin)
      appendTo(Query, qpWhere, Condition);
    else
      appendTo(table, trConditions, Condition);
    return true;
  }
  if (Origin && Origin->Operation != opInnerJoin) return false;
  appendTo(table, trConditions, Condition);
  return true;
}

}  // namespace brn

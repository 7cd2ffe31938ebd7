// Query validation: FROM items, select items, INTO, WHERE, GROUP BY, HAVING,
// set operations, ORDER BY and RANGE of one tkQuery, and the release pass.
//
// The query manager relies on the shape left here: every GROUP BY and ORDER
// BY expression and every aggregate call outside a select item of its own is
// a tkOrderItem whose Link is a select item (hidden items are appended where
// the select list has none), and subqueries are marked opSubquery or
// opCorrelated.

#include <string>
#include <utility>
#include <vector>

#include "foundation/text/collation.h"
#include "foundation/text/identifiers.h"
#include "foundation/text/string_helpers.h"
#include "sql/tree/compiled_expr.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/expr_tree_algorithms.h"
#include "sql/tree/query_layout.h"
#include "sql/validator/expr_validator.h"
#include "sql/validator/validation_helpers.h"

namespace brn {

namespace {

// GROUP BY and ORDER BY take at most this many items.
constexpr int32_t kMaxOrderItems = 256;
// A character or byte select expression without a size gets this one.
constexpr int32_t kDefaultSelectSize = 60;

using validation::argumentOrNil;

bool isSetOperand(const TBRNExprToken* Query) {
  const TBRNExprToken* setOperation = argumentOrNil(Query, qpSetOperation);
  return setOperation && setOperation->Operation != opNone;
}

const std::string& effectiveName(const TBRNExprToken* Item) {
  return Item->Alias.empty() ? Item->Name : Item->Alias;
}

bool isWildcard(const TBRNExprToken* Node) {
  return Node && Node->Kind == tkColumnReference && Node->Name == "*";
}

const char* aggregateName(TBRNExprOperation Operation) {
  switch (Operation) {
    case opAvg:
      return "AVG of";
    case opCount:
      return "COUNT of";
    case opList:
      return "LIST of";
    case opMax:
      return "MAX of";
    case opMin:
      return "MIN of";
    case opRunSum:
      return "RUNSUM of";
    case opStdDev:
      return "STDDEV of";
    case opSum:
      return "SUM of";
    default:
      return "SUM SQUARES of";
  }
}

using validation::FieldRestorer;
using validation::visibleItems;

}  // namespace

// ---- The query check -----------------------------------------------------------

void TBRNExprValidator::ValidateQuery(TBRNExprToken* Query) {
  // 1. Marking; the statement query holds the parameter list.
  TBRNExprToken* statement = EnclosingTopQuery(Query);
  if (!statement) statement = Query;
  if (Query->Operation == opNone && !isSetOperand(Query) && Query->Parent &&
      Query->Parent->Operation != opDerivedTable)
    Query->Operation = opSubquery;

  TBRNExprToken* params = argumentOrNil(statement, qpParameters);
  if (params && params->Index < 0) params->Index = 0;
  const int32_t fromParamsStart = params ? params->Index : 0;

  // 3. FROM: bind the items, validate the ON conditions, normalise joins.
  TBRNExprToken* from = argumentOrNil(Query, qpFrom);
  if (from) {
    if (from->ArgumentCount() == 0) RaiseExpected(from, "table name");
    for (int32_t i = 0; i < from->ArgumentCount(); ++i) {
      TBRNExprToken* item = from->Argument(i);
      item->Index = i;
      if (item->Operation == opDerivedTable)
        if (TBRNExprToken* derived = argumentOrNil(item, trDerivedQuery)) ValidateQuery(derived);
      OpenQualifiedDatabase(item);
      ResolveObjectName(item, tkTableReference);
      AddTableDependency(item);
    }
    {
      FieldRestorer<bool> filter(FilterMode, true);
      for (TBRNExprToken* item : from->Arguments()) {
        TBRNExprToken* joins = argumentOrNil(item, trJoins);
        if (!joins) continue;
        for (int32_t j = 0; j < joins->ArgumentCount(); ++j) {
          TBRNExprToken* join = joins->Argument(j);
          join->Index = j;
          if (join->Operation == opCrossJoin) continue;
          TBRNExprToken* condition = argumentOrNil(join, 0);
          if (!condition) continue;
          ValidateNode(condition);
          CheckType(condition, type_classes::Boolean);
          join->SetArgument(0, PushDownNot(condition, false));
        }
      }
    }
    for (TBRNExprToken* item : from->Arguments()) {
      CheckDuplicateCorrelationName(Query, item);
      if (!item->Alias.empty() && !IsValidIdentifier(item->Alias))
        RaiseInvalid(item, "invalid correlation name");
    }
    NormalizeJoins(Query);
  }

  // 4. The select list's parameters go in front of the FROM clause's ones.
  const int32_t fromParamsEnd = params ? params->Index : 0;
  if (params) params->Index = fromParamsStart;

  // 5. Select list.
  TBRNExprToken* list = argumentOrNil(Query, qpSelectList);
  if (list) {
    if (list->ArgumentCount() == 0) RaiseExpected(list, "column expression");
    int32_t position = 0;
    while (position < list->ArgumentCount()) {
      TBRNExprToken* item = list->Argument(position);
      item->Index = position;
      TBRNExprToken* expression = argumentOrNil(item, 0);
      ValidateNode(expression);
      if (!isWildcard(expression)) {
        if (expression && (expression->DataType == dtChar || expression->DataType == dtBytes)) {
          if (expression->Size == 0) {
            expression->SetSize(kDefaultSelectSize);
          } else if (expression->Size > MaxDeclaredLength) {
            const bool text = expression->DataType == dtChar;
            expression->SetDataType(dtLob);
            expression->SetSubType(text ? stClob : stDefault);
          }
        }
        ++position;
        continue;
      }
      if (!from) RaiseInvalid(expression, "FROM clause required for any column references");
      ExpandWildcard(Query, expression->Link, position, item);
    }
    for (int32_t i = 0; i < list->ArgumentCount(); ++i) {
      TBRNExprToken* item = list->Argument(i);
      item->Index = i;
      FinishSelectItem(Query, item);
    }
  }

  // 6., 7.
  bool hasAggregates = false;
  bool hasColumns = false;
  CheckColumnReferencesNeedClauses(Query, hasAggregates, hasColumns);
  if (list && list->ArgumentCount() == 1) Query->AssignDataType(list->Argument(0));

  // 8. INTO: output parameters typed by the select items.
  if (TBRNExprToken* into = argumentOrNil(Query, qpInto)) {
    if (!list || into->ArgumentCount() != list->ArgumentCount())
      RaiseInvalid(into,
                   "the number of SELECT column must match the number of INTO clause parameters");
    FieldRestorer<TBRNExprOperation> direction(ParamDirection, opParamOut);
    for (int32_t i = 0; i < into->ArgumentCount(); ++i) {
      TBRNExprToken* target = into->Argument(i);
      ValidateNode(target);
      CheckKind(target, {tkDynamicParamReference});
      if (target->Link) target->Link->AssignDataType(list->Argument(i));
      CopyLinkType(target);
    }
  }

  // 9. Later parameters follow those of the FROM clause.
  if (params) params->Index += fromParamsEnd - fromParamsStart;

  // 10., 11. WHERE, then condition placement.
  if (TBRNExprToken* where = argumentOrNil(Query, qpWhere)) {
    {
      FieldRestorer<bool> filter(FilterMode, true);
      for (int32_t i = 0; i < where->ArgumentCount(); ++i) {
        TBRNExprToken* condition = where->Argument(i);
        if (!condition) continue;
        ValidateNode(condition);
        CheckType(condition, type_classes::Boolean);
        where->SetArgument(i, PushDownNot(condition, false));
      }
    }
    DistributeWhereConditions(Query);
  }
  DistributeJoinConditions(Query);

  // 12. A set operand offers its items to the ORDER BY of the whole chain.
  if (isSetOperand(Query))
    if (const TBRNExprToken* orderBy = argumentOrNil(EnclosingBaseQuery(Query), qpOrderBy))
      for (TBRNExprToken* item : orderBy->Arguments())
        if (TBRNExprToken* expression = argumentOrNil(item, 0))
          BindToSelectItem(Query, expression, true, false, true);

  // 13. GROUP BY.
  TBRNExprToken* groupBy = argumentOrNil(Query, qpGroupBy);
  if (groupBy) {
    if (groupBy->ArgumentCount() > kMaxOrderItems)
      RaiseInvalid(argumentOrNil(groupBy->Argument(0), 0),
                   FormatText("the maximum number of GROUP BY columns (%s) exceeded",
                              {std::to_string(kMaxOrderItems)}));
    for (TBRNExprToken* item : groupBy->Arguments()) {
      ResolveCollations(item);
      TBRNExprToken* expression = argumentOrNil(item, 0);
      if (ContainsAggregate(expression))
        RaiseInvalid(expression, "aggregate functions not allowed in the GROUP BY clause");
      BindToSelectItem(Query, expression, false, false, true);
    }
  }

  // 14. HAVING.
  if (TBRNExprToken* having = argumentOrNil(Query, qpHaving)) {
    if (hasColumns && !hasAggregates && !groupBy)
      RaiseInvalid(having, "GROUP BY clause required for any column references");
    BindAggregates(Query, having, true, true);
    // A bare column or query standing as the condition left for a hidden
    // item: an order item took its place.
    having = argumentOrNil(Query, qpHaving);
    ValidateNode(having);
    CheckType(having, type_classes::Boolean);
  }

  // 15. The next operand of a set operation.
  if (TBRNExprToken* operand = argumentOrNil(Query, qpSetOperand)) {
    ValidateQuery(operand);
    const TBRNExprToken* operandList = argumentOrNil(operand, qpSelectList);
    const std::vector<TBRNExprToken*> left = visibleItems(list);
    const std::vector<TBRNExprToken*> right = visibleItems(operandList);
    if (left.size() != right.size())
      RaiseInvalid(right.empty() ? operand : right.front(), "column counts do not match");
    const TBRNExprOperation code = argumentOrNil(operand, qpSetOperation)->Operation;
    const bool distinctRows = code == opExcept || code == opIntersect || code == opUnion;
    for (size_t i = 0; i < left.size(); ++i) {
      CheckAssignable(right[i], left[i]);
      if (distinctRows) {
        RejectLob(left[i]);
        RejectLob(right[i]);
      }
      WidenAlternativeType(left[i], right[i]);
      if (list->Operation == opDistinct) RejectLob(left[i]);
    }
  }

  // 16. An IN subquery is ordered by all its columns.
  const TBRNExprToken* parent = Query->Parent;
  if (!argumentOrNil(Query, qpOrderBy) && Query->Operation != opNone && parent &&
      (parent->Operation == opIn || parent->Operation == opNotIn) &&
      !(hasAggregates && !hasColumns) && Query->ArgumentCount() > qpOrderBy) {
    auto* orderBy = new TBRNExprToken;
    orderBy->Kind = tkList;
    orderBy->CopyPosition(Query);
    Query->SetArgument(qpOrderBy, orderBy);
    for (TBRNExprToken* item : visibleItems(list)) {
      auto* orderItem = new TBRNExprToken;
      orderItem->Kind = tkOrderItem;
      orderItem->CopyPosition(item);
      orderBy->AddArgument(orderItem);
      auto* column = new TBRNExprToken;
      column->Kind = tkColumnReference;
      column->Name = item->Alias;
      column->CopyPosition(item);
      column->AddArgument(nullptr);
      column->AddArgument(nullptr);
      orderItem->AddArgument(column);
      orderItem->AddArgument(nullptr);
      orderItem->AddArgument(nullptr);
    }
  }

  // 17. ORDER BY.
  if (TBRNExprToken* orderBy = argumentOrNil(Query, qpOrderBy)) {
    if (hasAggregates && !hasColumns)
      RaiseInvalid(argumentOrNil(argumentOrNil(orderBy, 0), 0), "ORDER BY clause not allowed");
    if (orderBy->ArgumentCount() > kMaxOrderItems)
      RaiseInvalid(argumentOrNil(orderBy->Argument(0), 0),
                   FormatText("the maximum number of ORDER BY columns (%s) exceeded",
                              {std::to_string(kMaxOrderItems)}));
    for (TBRNExprToken* item : orderBy->Arguments()) {
      ResolveCollations(item);
      BindToSelectItem(Query, argumentOrNil(item, 0), false, false, true);
    }
  }

  // 18., 19. Hidden items may need a GROUP BY now; aggregates are bound.
  CheckColumnReferencesNeedClauses(Query, hasAggregates, hasColumns);
  if (list)
    for (int32_t i = 0; i < list->ArgumentCount(); ++i) {
      TBRNExprToken* expression = argumentOrNil(list->Argument(i), 0);
      BindAggregates(Query, expression, false, ContainsAggregate(expression));
    }

  // 20. RANGE first [TO last]: constants or parameters of an integer type.
  for (int32_t i = qpFixedCount; i < Query->ArgumentCount(); ++i) {
    TBRNExprToken* range = Query->Argument(i);
    if (!range || range->Operation != opRange) continue;
    for (int32_t bound = 0; bound < 2; ++bound) {
      TBRNExprToken* row = argumentOrNil(range, bound);
      if (!row) continue;
      ValidateNode(row);
      CheckKind(row, {tkConstant, tkDynamicParamReference});
      if (row->Kind == tkDynamicParamReference && row->Link) {
        row->Link->SetDataType(dtInteger);
        CopyLinkType(row);
      }
      CheckInteger(row);
    }
  }
}

void TBRNExprValidator::CheckColumnReferencesNeedClauses(TBRNExprToken* Query, bool& HasAggregates,
                                                         bool& HasColumns) {
  HasAggregates = false;
  HasColumns = false;
  TBRNExprToken* columnItem = nullptr;
  if (const TBRNExprToken* list = argumentOrNil(Query, qpSelectList))
    for (TBRNExprToken* item : list->Arguments()) {
      const TBRNExprToken* expression = argumentOrNil(item, 0);
      if (ContainsAggregate(expression)) {
        HasAggregates = true;
      } else if (ContainsColumnReference(expression)) {
        HasColumns = true;
        columnItem = item;
      }
    }
  if (!HasColumns) return;
  TBRNExprToken* column = NextColumnReference(argumentOrNil(columnItem, 0), nullptr);
  if (!column) column = columnItem;
  if (!argumentOrNil(Query, qpFrom))
    RaiseInvalid(column, "FROM clause required for any column references");
  if (HasAggregates && !argumentOrNil(Query, qpGroupBy))
    RaiseInvalid(column, "GROUP BY clause required for any column references");
}

void TBRNExprValidator::CheckDuplicateCorrelationName(TBRNExprToken* Query, TBRNExprToken* Item) {
  const TBRNExprToken* from = argumentOrNil(Query, qpFrom);
  if (!from) return;
  for (const TBRNExprToken* other : from->Arguments()) {
    if (other == Item) return;
    if (TextEqualsIgnoreCase(effectiveName(other), effectiveName(Item)))
      RaiseInvalid(Item, "duplicate table or table correlation name found");
  }
}

// ---- Select items ----------------------------------------------------------------

void TBRNExprValidator::NameSelectItem(TBRNExprToken* Item) {
  if (Item->Alias.empty()) {
    const TBRNExprToken* expression = argumentOrNil(Item, 0);
    if (IsAggregateCall(expression)) {
      const TBRNExprToken* first = argumentOrNil(expression, 0);
      std::string name = aggregateName(expression->Operation);
      if (!first || first->Kind != tkColumnReference)
        name += " Expression";
      else if (first->Name == "*")
        name += " ALL";
      else
        name += " " + first->Name;
      Item->Alias = std::move(name);
    } else if (expression && expression->Kind == tkColumnReference) {
      Item->Alias = expression->Name;
    } else {
      Item->Alias = "Expression";
    }
  }
  // Unique among the items: a name taken by an earlier item (or the row
  // identifier's name) gets the next free numeric suffix.
  if (const TBRNExprToken* list = Item->Parent; list && list->Kind == tkList) {
    const std::string base = Item->Alias;
    int32_t counter = 0;
    for (bool changed = true; changed;) {
      changed = false;
      for (const TBRNExprToken* other : list->Arguments()) {
        if (!other) continue;
        const bool taken = TextEqualsIgnoreCase(Item->Alias, "__RowID") ||
                           (other != Item && TextEqualsIgnoreCase(other->Alias, Item->Alias));
        if (taken) {
          Item->Alias = base + std::to_string(++counter);
          changed = true;
        } else if (other == Item) {
          break;
        }
      }
    }
  }
  if (!IsValidIdentifier(Item->Alias)) RaiseInvalid(Item, "invalid correlation name");
}

void TBRNExprValidator::FinishSelectItem(TBRNExprToken* Query, TBRNExprToken* Item) {
  NameSelectItem(Item);
  TBRNExprToken* expression = argumentOrNil(Item, 0);
  if (!expression) return;
  RejectNullSelectExpression(expression);
  const TBRNExprToken* list = argumentOrNil(Query, qpSelectList);
  if (list && list->Operation == opDistinct) RejectLob(expression);
  Item->AssignDataType(expression);
  Item->CopyPosition(expression);
}

TBRNExprToken* TBRNExprValidator::AddHiddenSelectItem(TBRNExprToken* Query,
                                                      TBRNExprToken* Expression) {
  TBRNExprToken* list = argumentOrNil(Query, qpSelectList);
  auto* item = new TBRNExprToken;
  item->Kind = tkSelectItem;
  item->Hidden = true;
  item->CopyPosition(Expression);
  list->AddArgument(item);
  item->Index = list->ArgumentCount() - 1;
  TBRNExprToken* copy = CopyExprTree(Expression);
  item->AddArgument(copy);
  ValidateNode(copy);
  FinishSelectItem(Query, item);
  return item;
}

void TBRNExprValidator::BindToSelectItem(TBRNExprToken* Query, TBRNExprToken* Expression,
                                         bool NoBind, bool KeepLob, bool ByAlias) {
  if (!Expression) return;
  TBRNExprToken* list = argumentOrNil(Query, qpSelectList);
  TBRNExprToken* match = nullptr;
  if (ByAlias && Expression->Kind == tkColumnReference && Expression->SchemaName.empty()) {
    for (TBRNExprToken* item : list->Arguments())
      if (item && TextEqualsIgnoreCase(item->Alias, Expression->Name)) {
        match = item;
        break;
      }
  }
  if (!match) {
    // Validated once before the comparisons: validating again would bind
    // its names and parameters a second time.
    if (ByAlias) ValidateNode(Expression);
    for (TBRNExprToken* item : list->Arguments())
      if (item && ExpressionsMatch(argumentOrNil(item, 0), Expression)) {
        match = item;
        break;
      }
  }
  if (match) {
    if (NoBind) return;
    // Its children are freed: what their validation opened is closed first.
    ReleaseNode(Expression);
    BindOrderItem(Expression, match, KeepLob);
    return;
  }
  // No item computes it. Expression is validated by now, so a hidden item
  // takes the expression itself and an order item takes its place: a copy
  // would be validated a second time (a "?" in it would become a second
  // parameter definition that no marker uses, a qualified database would be
  // opened twice).
  auto* item = new TBRNExprToken;
  item->Kind = tkSelectItem;
  item->Hidden = true;
  item->CopyPosition(Expression);
  list->AddArgument(item);
  item->Index = list->ArgumentCount() - 1;
  auto* orderItem = new TBRNExprToken;
  orderItem->CopyPosition(Expression);
  item->AddArgument(orderItem);
  SwapNodes(Expression, orderItem);
  FinishSelectItem(Query, item);
  BindOrderItem(orderItem, item, KeepLob);
}

void TBRNExprValidator::BindOrderItem(TBRNExprToken* Node, TBRNExprToken* SelectItem,
                                      bool KeepLob) {
  TBRNExprToken* left = Node->Left();
  TBRNExprToken* right = Node->Right();
  Node->SetLeft(nullptr);
  Node->SetRight(nullptr);
  FreeExprTree(left);
  FreeExprTree(right);
  for (int32_t i = 0; i < Node->ArgumentCount(); ++i) {
    TBRNExprToken* argument = Node->Argument(i);
    FreeExprTree(argument);
  }
  Node->SetArgumentCount(0);
  Node->Kind = tkOrderItem;
  Node->Operation = opNone;
  Node->Text.clear();
  Node->SchemaName.clear();
  Node->Link = SelectItem;
  Node->AssignDataType(SelectItem);
  if (!KeepLob) RejectLob(Node);
}

bool TBRNExprValidator::ExpressionsMatch(const TBRNExprToken* A, const TBRNExprToken* B) {
  // Pairs still to compare; operator chains have no depth limit.
  std::vector<std::pair<const TBRNExprToken*, const TBRNExprToken*>> pending{{A, B}};
  while (!pending.empty()) {
    const auto [a, b] = pending.back();
    pending.pop_back();
    if (!a || !b || a->Kind != b->Kind || a->Operation != b->Operation) return false;
    switch (a->Kind) {
      case tkArrayReference:
      case tkArrayElement:
      case tkRoutineParamReference:
      case tkOrderItem:
      case tkVariableReference:
      // Two markers are the same parameter only when they are one marker.
      case tkDynamicParamReference:
        if (a->Link != b->Link) return false;
        break;
      case tkOperator:
        pending.emplace_back(a->Left(), b->Left());
        pending.emplace_back(a->Right(), b->Right());
        break;
      case tkColumnReference:
      case tkRowColumnReference:
        if (a->Link != b->Link || !TextEqualsIgnoreCase(a->Name, b->Name)) return false;
        break;
      case tkConstant:
        // '1' and 1 share their text but not their value.
        if (a->DataType != b->DataType || a->Text != b->Text) return false;
        break;
      case tkPredicate:
      case tkFunction:
      case tkRowValue:
        if (a->Operation == opUserFunction && !TextEqualsIgnoreCase(a->Name, b->Name)) return false;
        // COUNT(DISTINCT x) is not COUNT(x).
        if (a->Kind == tkFunction && a->Variant != b->Variant) return false;
        if (a->ArgumentCount() != b->ArgumentCount()) return false;
        for (int32_t i = 0; i < a->ArgumentCount(); ++i)
          if (a->Argument(i)) pending.emplace_back(a->Argument(i), b->Argument(i));
        break;
      case tkUnaryOperator:
        pending.emplace_back(a->Left(), b->Left());
        break;
      case tkQuery:
        return false;
      default:
        break;
    }
  }
  return true;
}

void TBRNExprValidator::BindAggregates(TBRNExprToken* Query, TBRNExprToken* Expression,
                                       bool BindQueries, bool BindColumns) {
  if (!Expression) return;
  switch (Expression->Kind) {
    case tkOperator: {
      // Left to right without recursing down the left spine of a chain.
      std::vector<TBRNExprToken*> spine;
      TBRNExprToken* leaf = Expression;
      for (; leaf && leaf->Kind == tkOperator; leaf = leaf->Left()) spine.push_back(leaf);
      BindAggregates(Query, leaf, BindQueries, BindColumns);
      for (auto it = spine.rbegin(); it != spine.rend(); ++it)
        BindAggregates(Query, (*it)->Right(), BindQueries, BindColumns);
      return;
    }
    case tkUnaryOperator:
      BindAggregates(Query, Expression->Left(), BindQueries, BindColumns);
      return;
    case tkPredicate:
    case tkRowValue:
      for (int32_t i = 0; i < Expression->ArgumentCount(); ++i)
        BindAggregates(Query, Expression->Argument(i), BindQueries, BindColumns);
      return;
    case tkColumnReference:
      if (BindColumns) BindToSelectItem(Query, Expression, false, true, true);
      return;
    case tkQuery:
      if (BindQueries) BindToSelectItem(Query, Expression, false, true, BindColumns);
      return;
    case tkFunction:
      break;
    default:
      return;
  }
  if (!IsAggregateCall(Expression)) {
    for (int32_t i = 0; i < Expression->ArgumentCount(); ++i)
      BindAggregates(Query, Expression->Argument(i), BindQueries, BindColumns);
    return;
  }
  if (ContainsAggregate(argumentOrNil(Expression, 0)))
    RaiseInvalid(Expression, "nested aggregate functions not allowed");
  if (!Expression->Parent || Expression->Parent->Kind != tkSelectItem) {
    // HAVING (the only caller that binds queries) is bound before it is
    // validated, since its names may be select aliases: its aggregate calls
    // are validated on their own first, so that they can match an item.
    if (BindQueries) ValidateNode(Expression);
    BindToSelectItem(Query, Expression, false, true, false);
    return;
  }
  // Already computed from its parts (a query validated twice).
  if (Expression->ArgumentCount() > 1) return;
  // A select item's AVG, RUNSUM or STDDEV is computed from simpler
  // aggregates over the same argument, each a select item of its own.
  std::vector<TBRNExprOperation> parts;
  switch (Expression->Operation) {
    case opAvg:
      parts = {opSum, opCount};
      break;
    case opRunSum:
      parts = {opSum};
      break;
    case opStdDev:
      parts = {opSum, opSumSquare, opCount};
      break;
    default:
      return;
  }
  std::vector<TBRNExprToken*> copies;
  for (TBRNExprOperation part : parts) {
    TBRNExprToken* copy = CopyExprTree(Expression);
    copy->Operation = part;
    copies.push_back(copy);
  }
  for (TBRNExprToken* copy : copies) Expression->AddArgument(copy);
  for (TBRNExprToken* copy : copies) {
    ValidateNode(copy);
    BindToSelectItem(Query, copy, false, true, false);
  }
}

int32_t TBRNExprValidator::CountVisibleSelectItems(const TBRNExprToken* SelectList) {
  return int32_t(visibleItems(SelectList).size());
}

// ---- Release pass ----------------------------------------------------------------

void TBRNExprValidator::ReleaseQuery(TBRNExprToken* Query) {
  // The set operands form a chain of any length: walked in a loop.
  for (TBRNExprToken* query = Query; query; query = argumentOrNil(query, qpSetOperand)) {
    if (TBRNExprToken* list = argumentOrNil(query, qpSelectList))
      for (TBRNExprToken* item : list->Arguments()) ReleaseNode(argumentOrNil(item, 0));
    if (TBRNExprToken* from = argumentOrNil(query, qpFrom))
      for (TBRNExprToken* item : from->Arguments()) {
        if (!item) continue;
        // A derived table's own FROM items were opened by its own check.
        if (item->Operation == opDerivedTable)
          if (TBRNExprToken* derived = argumentOrNil(item, trDerivedQuery)) ReleaseQuery(derived);
        if (TBRNExprToken* conditions = argumentOrNil(item, trConditions))
          for (TBRNExprToken* condition : conditions->Arguments()) ReleaseNode(condition);
        // The ON conditions that stayed with their join entries.
        if (TBRNExprToken* joins = argumentOrNil(item, trJoins))
          for (TBRNExprToken* join : joins->Arguments())
            if (join)
              for (TBRNExprToken* condition : join->Arguments()) ReleaseNode(condition);
        CloseQualifiedDatabase(item);
      }
    if (TBRNExprToken* where = argumentOrNil(query, qpWhere))
      for (TBRNExprToken* condition : where->Arguments()) ReleaseNode(condition);
    ReleaseNode(argumentOrNil(query, qpHaving));
  }
}

}  // namespace brn

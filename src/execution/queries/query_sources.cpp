// The FROM sources of a statement: opening their cursors, the query
// filters of their conditions and joins, the order of the joins and the
// nested-loop walk over the joined rows.

#include <algorithm>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "execution/cursors/local_cursor.h"
#include "execution/evaluator/local_expr_evaluator.h"
#include "execution/filters/filter_expr.h"
#include "execution/queries/cursor_value.h"
#include "execution/queries/execution_manager.h"
#include "foundation/text/string_helpers.h"
#include "sessions/local/local_session_manager.h"
#include "sql/builder/sql_builder.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/expr_tree_algorithms.h"
#include "sql/tree/query_layout.h"
#include "storage/cursors/cursor.h"
#include "storage/rows/execution_seam.h"
#include "storage/tables/virtual_table_manager.h"

namespace brn {

namespace {

TBRNExprToken* argumentOrNil(const TBRNExprToken* Node, int32_t Index) {
  if (Node == nullptr || Index >= Node->ArgumentCount()) return nullptr;
  return Node->Argument(Index);
}

// The join entries of a FROM item, nullptr when it has none.
TBRNExprToken* joinList(const TBRNExprToken* Table) {
  return argumentOrNil(Table, trJoins);
}

// The join list of a FROM item, made when it has none (the item owns it).
TBRNExprToken* ensureJoinList(TBRNExprToken* Table) {
  if (Table->ArgumentCount() <= trJoins) Table->SetArgumentCount(trJoins + 1);
  TBRNExprToken* list = Table->Argument(trJoins);
  if (list == nullptr) {
    list = new TBRNExprToken;
    list->Kind = tkList;
    Table->SetArgument(trJoins, list);
  }
  return list;
}

std::vector<TBRNExprToken*> joinsOf(const TBRNExprToken* Table) {
  std::vector<TBRNExprToken*> joins;
  if (const TBRNExprToken* list = joinList(Table))
    for (TBRNExprToken* join : list->Arguments())
      if (join != nullptr && join->JoinTable != nullptr) joins.push_back(join);
  return joins;
}

std::vector<TBRNExprToken*> conditionsOf(const TBRNExprToken* Table) {
  std::vector<TBRNExprToken*> conditions;
  if (const TBRNExprToken* list = argumentOrNil(Table, trConditions))
    for (TBRNExprToken* condition : list->Arguments())
      if (condition != nullptr) conditions.push_back(condition);
  return conditions;
}

// The residual conditions: those evaluated on the generated rows.
std::vector<TBRNExprToken*> residualConditionsOf(const TBRNExprToken* Query) {
  std::vector<TBRNExprToken*> conditions;
  if (const TBRNExprToken* list = argumentOrNil(Query, qpWhere))
    for (TBRNExprToken* condition : list->Arguments())
      if (condition != nullptr) conditions.push_back(condition);
  return conditions;
}

TBRNExprToken* joinCondition(const TBRNExprToken* Join) {
  return argumentOrNil(Join, 0);
}

bool isCommaJoin(const TBRNExprToken* Join) {
  return Join->Operation == opCrossJoin || joinCondition(Join) == nullptr;
}

bool hasMarker(const TBRNExprToken* Query, TBRNExprOperation Marker) {
  for (int32_t i = qpFixedCount; i < Query->ArgumentCount(); ++i) {
    const TBRNExprToken* node = Query->Argument(i);
    if (node != nullptr && node->Operation == Marker) return true;
  }
  return false;
}

const char* joinKindText(const TBRNExprToken* Join) {
  switch (Join->Operation) {
    case opLeftJoin:
      return "left outer join";
    case opRightJoin:
      return "right outer join";
    default:
      return "inner join";
  }
}

// Every comparison of an ON condition turned around (a < b becomes b > a);
// subqueries keep theirs.
void mirrorComparisons(TBRNExprToken* Condition) {
  WalkExprTree(
      Condition,
      [](TBRNExprToken* Node, int32_t) {
        if (Node->Kind == tkQuery) return TBRNWalkStep::Skip;
        if (Node->Kind == tkOperator && isComparisonOperation(Node->Operation))
          MirrorComparison(Node);
        return TBRNWalkStep::Descend;
      },
      [](TBRNExprToken*) {});
}

// The FROM items Condition reads columns of (subqueries not entered).
std::vector<const TBRNExprToken*> tablesReadBy(const TBRNExprToken* Condition) {
  std::vector<const TBRNExprToken*> tables;
  WalkExprTree(
      Condition,
      [&tables](const TBRNExprToken* Node, int32_t) {
        if (Node->Kind == tkQuery) return TBRNWalkStep::Skip;
        if ((Node->Kind == tkColumnReference || Node->Kind == tkOuterColumnReference) &&
            Node->Link != nullptr && Node->Link->Kind == tkTableReference)
          tables.push_back(Node->Link);
        return TBRNWalkStep::Descend;
      },
      [](const TBRNExprToken*) {});
  return tables;
}

int32_t combineLevels(int32_t A, int32_t B) {
  return A == B ? A : 1;
}

}  // namespace

// ---------------------------------------------------------------------------
// Opening the sources

TBRNExprToken* TBRNExecutionManager::FromList(TBRNExprToken* QueryNode) {
  TBRNExprToken* from = argumentOrNil(QueryNode, qpFrom);
  if (from == nullptr || from->ArgumentCount() == 0) return nullptr;
  return from;
}

TBRNCursorValue& TBRNExecutionManager::SourceValue(TBRNExprToken* Table) {
  if (auto* value = dynamic_cast<TBRNCursorValue*>(Table->GetOwnValue())) return *value;
  auto value = std::make_unique<TBRNCursorValue>(&Evaluator, Table);
  TBRNCursorValue& result = *value;
  Table->SetOwnValue(std::move(value));
  return result;
}

TBRNCursorValue& TBRNExecutionManager::OpenSource(TBRNExprToken* Table) {
  if (Table->RowSource < 0) throw std::logic_error("a FROM item of an unprepared tree");
  TBRNCursorValue& value = SourceValue(Table);
  {
    TBRNEvaluationScope scope(Evaluator, *Context);
    value.OpenTableReference();
  }
  TBRNCurrentRows& rows = Context->CurrentRows;
  if (rows.size() <= size_t(Table->RowSource)) rows.resize(size_t(Table->RowSource) + 1);
  rows[size_t(Table->RowSource)] = value.GetRowValues();
  return value;
}

TBRNLocalCursor& TBRNExecutionManager::SourceCursor(TBRNExprToken* Table) {
  auto* cursor = dynamic_cast<TBRNLocalCursor*>(SourceValue(Table).GetCursor());
  if (cursor == nullptr) throw std::logic_error("a FROM item without a local cursor");
  return *cursor;
}

// ---------------------------------------------------------------------------
// Query filters of the sources

TBRNQueryFilter& TBRNExecutionManager::AddSourceFilter(TBRNExprToken* Owner, TBRNExprToken* Table,
                                                       TBRNExprToken* Condition,
                                                       bool EstimateCosts) {
  TBRNCursorValue& value = SourceValue(Table);
  TBRNLocalCursor& cursor = SourceCursor(Table);
  auto found = sourceFilters_.find(Owner);
  if (found != sourceFilters_.end()) {
    // Made again: the earlier filter goes first.
    TSourceFilter previous = found->second;
    sourceFilters_.erase(found);
    if (!previous.CursorToken.expired()) previous.Cursor->DropQueryFilter(previous.Handle);
  }
  TBRNQueryFilter* filter =
      cursor.AddQueryFilter(*Context, Condition, true, Table, EstimateCosts, true, false);
  sourceFilters_[Owner] = TSourceFilter{&cursor, value.GetCursorToken(), filter->Handle, filter};
  return *filter;
}

TBRNQueryFilter* TBRNExecutionManager::FindSourceFilter(const TBRNExprToken* Owner) const {
  auto found = sourceFilters_.find(Owner);
  if (found == sourceFilters_.end() || found->second.CursorToken.expired()) return nullptr;
  return found->second.Filter;
}

void TBRNExecutionManager::ActivateSourceFilter(const TBRNExprToken* Owner) {
  auto found = sourceFilters_.find(Owner);
  if (found == sourceFilters_.end() || found->second.CursorToken.expired()) return;
  found->second.Cursor->ActivateQueryFilter(found->second.Handle);
}

void TBRNExecutionManager::RekeySourceFilter(const TBRNExprToken* Owner) {
  auto found = sourceFilters_.find(Owner);
  if (found == sourceFilters_.end() || found->second.CursorToken.expired()) return;
  found->second.Cursor->RekeyQueryFilter(found->second.Handle);
}

void TBRNExecutionManager::DropSourceFilters() {
  std::unordered_map<const TBRNExprToken*, TSourceFilter> filters;
  filters.swap(sourceFilters_);
  std::exception_ptr first;
  for (auto& [owner, filter] : filters) {
    // A cursor that went with its value (the tree was unprepared or freed)
    // took its filters along.
    if (filter.CursorToken.expired()) continue;
    try {
      filter.Cursor->DropQueryFilter(filter.Handle);
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (first) std::rethrow_exception(first);
}

// ---------------------------------------------------------------------------
// Preparing the sources of a build

void TBRNExecutionManager::attachLooseSources(TBRNExprToken* QueryNode) {
  TBRNExprToken* from = FromList(QueryNode);
  if (from == nullptr) return;
  std::unordered_set<const TBRNExprToken*> reached;
  std::vector<const TBRNExprToken*> stack{from->Argument(0)};
  while (!stack.empty()) {
    const TBRNExprToken* table = stack.back();
    stack.pop_back();
    if (table == nullptr || !reached.insert(table).second) continue;
    for (const TBRNExprToken* join : joinsOf(table)) stack.push_back(join->JoinTable);
  }
  // A table whose join conditions all went to its own condition list is
  // walked as the comma form: once per combination of the tables before.
  for (TBRNExprToken* item : from->Arguments()) {
    if (item == nullptr || reached.count(item) != 0) continue;
    auto* cross = new TBRNExprToken;
    cross->Kind = tkJoin;
    cross->Operation = opCrossJoin;
    cross->JoinTable = item;
    ensureJoinList(from->Argument(0))->AddArgument(cross);
    reached.insert(item);
  }
}

void TBRNExecutionManager::PrepareSources(TBRNExprToken* QueryNode, bool WritePlan) {
  TBRNExprToken* from = FromList(QueryNode);
  if (from == nullptr) return;
  attachLooseSources(QueryNode);
  // The last build's filters go before its join order is undone.
  DropSourceFilters();
  restoreDeclaredJoins(from);
  const std::vector<TBRNExprToken*> items(from->Arguments().begin(), from->Arguments().end());

  // 1. Open every source.
  EncryptResult = false;
  for (TBRNExprToken* item : items) {
    TBRNCursorValue& value = OpenSource(item);
    if (auto* cursor = dynamic_cast<TBRNLocalCursor*>(value.GetCursor()))
      if (cursor->GetTableManager().GetEncrypted()) EncryptResult = true;
    if (WritePlan) WriteSourceTablePlan(item);
  }
  // 2.
  if (WritePlan) WriteResultPlan();
  // 3.
  DropSourceFilters();

  // 4. The table filters, inactive for now.
  const std::vector<TBRNExprToken*> residual = residualConditionsOf(QueryNode);
  bool hasConditions = !residual.empty();
  for (TBRNExprToken* item : items)
    if (!conditionsOf(item).empty()) hasConditions = true;
  const bool useCosts = hasMarker(QueryNode, opJoinOptimizeCosts);
  std::vector<std::pair<TBRNExprToken*, TBRNExprToken*>> tableFilters;  // (item, condition)
  if (hasConditions) {
    if (WritePlan) AddSectionTitle("Filtering");
    for (TBRNExprToken* item : items) {
      for (TBRNExprToken* condition : conditionsOf(item)) {
        TBRNQueryFilter& filter = AddSourceFilter(condition, item, condition, useCosts);
        tableFilters.emplace_back(item, condition);
        if (WritePlan) WriteFilterPlan(TablePlanTitle(item), filter);
      }
    }
    if (WritePlan)
      for (TBRNExprToken* condition : residual) WriteResidualConditionPlan(condition);
  }
  auto activateTableFilters = [&](int32_t MinLevel) {
    for (auto& [item, condition] : tableFilters) {
      TBRNQueryFilter* filter = FindSourceFilter(condition);
      if (filter != nullptr && !filter->Active && filter->Level >= MinLevel)
        ActivateSourceFilter(condition);
    }
  };

  // 6. A single source: its filters are all there is.
  if (items.size() == 1) {
    activateTableFilters(0);
    return;
  }

  // 5. Several sources: the index-resolved filters first, so that the row
  // counts the ordering compares already reflect them.
  activateTableFilters(1);
  if (WritePlan) {
    AddSectionTitle("Joins");
    writeJoinDescription(QueryNode);
  }
  if (!hasMarker(QueryNode, opNoJoinOptimize)) {
    if (WritePlan) {
      AddPlanLine("The optimizer attempted to re-order the joins to a more optimal order");
      AddPlanLine("");
    }
    const bool changed = OptimizeJoinOrder(QueryNode);
    if (WritePlan) {
      if (changed) {
        AddPlanLine(
            "The optimizer successfully re-ordered the joins into this more optimal order:");
        AddPlanLine("");
        writeJoinDescription(QueryNode);
        AddPlanLine("");
      } else {
        AddPlanLine("The joins were already in the most optimal order");
        AddPlanLine("");
      }
    }
  } else if (WritePlan) {
    AddPlanLine(
        "The NOJOINOPTIMIZE clause was used and the optimizer left the joins in their declared "
        "order");
    AddPlanLine("");
  }
  activateTableFilters(0);
  makeJoinFilters(QueryNode, WritePlan, useCosts);
}

void TBRNExecutionManager::writeJoinDescription(TBRNExprToken* QueryNode) {
  TBRNExprToken* from = FromList(QueryNode);
  if (from == nullptr) return;
  AddPlanLine(FormatText("The driver table was the %s table", {TablePlanTitle(from->Argument(0))}));
  for (TBRNExprToken* item : from->Arguments()) {
    for (TBRNExprToken* join : joinsOf(item)) {
      if (isCommaJoin(join)) continue;
      AddPlanLine("");
      AddPlanLine(
          FormatText("The %s table was joined to the %s table with the %s expression:",
                     {TablePlanTitle(item), TablePlanTitle(join->JoinTable), joinKindText(join)}));
      AddPlanLine("");
      TBRNExprBuilder builder;
      builder.MultiLine = true;
      builder.ParameterValues = true;
      builder.BuildSQL(joinCondition(join));
      AddPlanLine(builder.GetText());
    }
  }
  AddPlanLine("");
}

void TBRNExecutionManager::makeJoinFilters(TBRNExprToken* QueryNode, bool WritePlan,
                                           bool EstimateCosts) {
  TBRNExprToken* from = FromList(QueryNode);
  for (TBRNExprToken* item : from->Arguments()) {
    for (TBRNExprToken* join : joinsOf(item)) {
      if (isCommaJoin(join)) continue;
      TBRNQueryFilter& filter =
          AddSourceFilter(join, join->JoinTable, joinCondition(join), EstimateCosts);
      // Built again for every combination of rows of the tables before;
      // the tree stays prepared and unchanged until the filter goes with
      // this build's filters.
      filter.KeepEmptiedNodes();
      filter.KeepProgramsAcrossBuilds();
      if (!WritePlan) continue;
      AddPlanLine(FormatText("The following join condition was applied to the %s table:",
                             {TablePlanTitle(join->JoinTable)}));
      AddPlanLine("");
      AddPlanLine(FilterPlanText(filter));
      AddPlanLine("");
    }
  }
}

// ---------------------------------------------------------------------------
// Join order

namespace {

// The join structure of a FROM list, kept to be put back when a new order
// is refused.
struct TJoinSnapshot {
  std::vector<TBRNExprToken*> Items;
  std::vector<int32_t> Indexes;
  std::vector<std::vector<TBRNExprToken*>> Joins;
};

TJoinSnapshot takeSnapshot(TBRNExprToken* From) {
  TJoinSnapshot snapshot;
  for (TBRNExprToken* item : From->Arguments()) {
    snapshot.Items.push_back(item);
    snapshot.Indexes.push_back(item->Index);
    std::vector<TBRNExprToken*> joins;
    if (TBRNExprToken* list = joinList(item))
      joins.assign(list->Arguments().begin(), list->Arguments().end());
    snapshot.Joins.push_back(std::move(joins));
  }
  return snapshot;
}

void setArguments(TBRNExprToken* List, const std::vector<TBRNExprToken*>& Nodes) {
  List->SetArgumentCount(0);
  for (TBRNExprToken* node : Nodes) List->AddArgument(node);
}

void restoreSnapshot(TBRNExprToken* From, const TJoinSnapshot& Snapshot) {
  setArguments(From, Snapshot.Items);
  for (size_t i = 0; i < Snapshot.Items.size(); ++i) {
    TBRNExprToken* item = Snapshot.Items[i];
    item->Index = Snapshot.Indexes[i];
    if (TBRNExprToken* list = joinList(item)) setArguments(list, Snapshot.Joins[i]);
  }
}

// The join whose joined table is Table, and the FROM item it hangs from.
TBRNExprToken* parentJoin(TBRNExprToken* From, const TBRNExprToken* Table, TBRNExprToken** Holder) {
  for (TBRNExprToken* item : From->Arguments()) {
    for (TBRNExprToken* join : joinsOf(item)) {
      if (join->JoinTable == Table) {
        *Holder = item;
        return join;
      }
    }
  }
  return nullptr;
}

// The joins from the driver down to Table when every one of them is an
// INNER join (a table behind an outer or comma join never drives); empty
// otherwise. Ordered from the driver.
std::vector<TBRNExprToken*> innerChainTo(TBRNExprToken* From, TBRNExprToken* Table) {
  std::vector<TBRNExprToken*> chain;
  const TBRNExprToken* driver = From->Argument(0);
  TBRNExprToken* current = Table;
  for (size_t guard = 0; current != driver; ++guard) {
    if (guard > size_t(From->ArgumentCount())) return {};
    TBRNExprToken* holder = nullptr;
    TBRNExprToken* join = parentJoin(From, current, &holder);
    if (join == nullptr || join->Operation != opInnerJoin || joinCondition(join) == nullptr)
      return {};
    chain.push_back(join);
    current = holder;
  }
  std::reverse(chain.begin(), chain.end());
  return chain;
}

// Makes the last table of Chain the driver: each join of the chain now
// hangs from the table it joined and joins the table it hung from, with
// its comparisons turned around.
void reverseChain(TBRNExprToken* From, const std::vector<TBRNExprToken*>& Chain) {
  std::vector<TBRNExprToken*> holders;
  TBRNExprToken* previous = From->Argument(0);
  for (TBRNExprToken* join : Chain) {
    holders.push_back(previous);
    previous = join->JoinTable;
  }
  for (size_t i = Chain.size(); i-- > 0;) {
    TBRNExprToken* join = Chain[i];
    TBRNExprToken* holder = holders[i];
    TBRNExprToken* joined = join->JoinTable;
    TBRNExprToken* list = joinList(holder);
    for (int32_t k = 0; k < list->ArgumentCount(); ++k) {
      if (list->Argument(k) == join) {
        list->DeleteArgument(k);
        break;
      }
    }
    join->JoinTable = holder;
    if (join->Operation == opRightJoin) join->Operation = opLeftJoin;
    mirrorComparisons(joinCondition(join));
    ensureJoinList(joined)->AddArgument(join);
  }
}

// The FROM list in the order of the join tree from Driver, depth first
// (each table after the one it hangs from), numbered again.
void orderFromList(TBRNExprToken* From, TBRNExprToken* Driver) {
  std::vector<TBRNExprToken*> order;
  std::unordered_set<const TBRNExprToken*> seen;
  std::vector<TBRNExprToken*> stack{Driver};
  while (!stack.empty()) {
    TBRNExprToken* table = stack.back();
    stack.pop_back();
    if (!seen.insert(table).second) continue;
    order.push_back(table);
    const std::vector<TBRNExprToken*> joins = joinsOf(table);
    for (auto it = joins.rbegin(); it != joins.rend(); ++it) stack.push_back((*it)->JoinTable);
  }
  for (TBRNExprToken* item : From->Arguments())
    if (seen.count(item) == 0) order.push_back(item);
  setArguments(From, order);
  for (size_t i = 0; i < order.size(); ++i) order[i]->Index = int32_t(i);
}

// Whether an ON condition reads a FROM table placed two or more positions
// after the table its join hangs from, other than the joined table.
bool readsTableTooFarAhead(const TBRNExprToken* From) {
  for (int32_t p = 0; p < From->ArgumentCount(); ++p) {
    const TBRNExprToken* item = From->Argument(p);
    for (const TBRNExprToken* join : joinsOf(item)) {
      if (isCommaJoin(join)) continue;
      for (const TBRNExprToken* table : tablesReadBy(joinCondition(join))) {
        if (table == join->JoinTable) continue;
        for (int32_t q = p + 2; q < From->ArgumentCount(); ++q)
          if (From->Argument(q) == table) return true;
      }
    }
  }
  return false;
}

}  // namespace

void TBRNExecutionManager::restoreDeclaredJoins(TBRNExprToken* From) {
  TDeclaredJoins& declared = declaredJoins_;
  if (declared.From != From) {
    declared = TDeclaredJoins();
    const TJoinSnapshot snapshot = takeSnapshot(From);
    for (TBRNExprToken* item : From->Arguments())
      for (TBRNExprToken* join : joinsOf(item)) {
        declared.Joins.push_back(join);
        declared.JoinTables.push_back(join->JoinTable);
        declared.Operations.push_back(int32_t(join->Operation));
      }
    declared.Items = snapshot.Items;
    declared.Indexes = snapshot.Indexes;
    declared.JoinLists = snapshot.Joins;
    declared.From = From;
    return;
  }
  for (size_t i = 0; i < declared.Joins.size(); ++i) {
    TBRNExprToken* join = declared.Joins[i];
    if (join->JoinTable != declared.JoinTables[i]) mirrorComparisons(joinCondition(join));
    join->JoinTable = declared.JoinTables[i];
    join->Operation = TBRNExprOperation(declared.Operations[i]);
  }
  restoreSnapshot(From, TJoinSnapshot{declared.Items, declared.Indexes, declared.JoinLists});
}

void TBRNExecutionManager::estimateJoinCost(TBRNExprToken* Table, bool UseCosts, int32_t& Level,
                                            double& Cost) {
  Level = 2;
  Cost = 0;
  const bool hasRows = SourceCursor(Table).GetRowCount() > 0;
  for (TBRNExprToken* join : joinsOf(Table)) {
    if (isCommaJoin(join)) continue;
    TBRNExprToken* joined = join->JoinTable;
    TBRNLocalCursor& cursor = SourceCursor(joined);
    TBRNQueryFilter* filter =
        cursor.AddQueryFilter(*Context, joinCondition(join), true, joined, UseCosts, true, false);
    const int32_t filterLevel = filter->Level;
    const double estimate =
        filter->Expr && filter->Expr->Root ? double(filter->Expr->Root->RowCount) : 0.0;
    cursor.DropQueryFilter(filter->Handle);
    if (joinsOf(joined).empty()) {
      Level = combineLevels(Level, filterLevel);
      if (hasRows && UseCosts) Cost += estimate;
    } else {
      int32_t joinedLevel = 2;
      double joinedCost = 0;
      estimateJoinCost(joined, UseCosts, joinedLevel, joinedCost);
      Level = combineLevels(Level, joinedLevel);
      if (hasRows && UseCosts) Cost += joinedCost * estimate;
    }
  }
}

bool TBRNExecutionManager::OptimizeJoinOrder(TBRNExprToken* QueryNode) {
  TBRNExprToken* from = FromList(QueryNode);
  if (from == nullptr) return false;
  const bool useCosts = hasMarker(QueryNode, opJoinOptimizeCosts);
  bool changed = false;
  for (bool again = true; again;) {
    again = false;
    TBRNExprToken* driver = from->Argument(0);
    int32_t best = SourceCursor(driver).GetRowCount();
    const std::vector<TBRNExprToken*> items(from->Arguments().begin(), from->Arguments().end());
    for (size_t i = 1; i < items.size() && !again; ++i) {
      TBRNExprToken* candidate = items[i];
      const std::vector<TBRNExprToken*> chain = innerChainTo(from, candidate);
      if (chain.empty()) continue;
      const int32_t count = SourceCursor(candidate).GetRowCount();
      if (count >= best) continue;
      int32_t currentLevel = 2;
      double currentCost = 0;
      estimateJoinCost(driver, useCosts, currentLevel, currentCost);
      const TJoinSnapshot snapshot = takeSnapshot(from);
      std::vector<TBRNExprToken*> joinedTables;
      for (TBRNExprToken* join : chain) joinedTables.push_back(join->JoinTable);
      auto restore = [&] {
        for (size_t k = 0; k < chain.size(); ++k) {
          if (chain[k]->JoinTable != joinedTables[k]) mirrorComparisons(joinCondition(chain[k]));
          chain[k]->JoinTable = joinedTables[k];
        }
        restoreSnapshot(from, snapshot);
      };
      try {
        reverseChain(from, chain);
        orderFromList(from, candidate);
        int32_t newLevel = 2;
        double newCost = 0;
        estimateJoinCost(candidate, useCosts, newLevel, newCost);
        if (currentCost >= newCost && newLevel >= currentLevel && !readsTableTooFarAhead(from)) {
          changed = true;
          again = true;
          continue;
        }
      } catch (...) {
        restore();
        throw;
      }
      restore();
    }
  }
  return changed;
}

// ---------------------------------------------------------------------------
// The nested-loop walk

namespace {

// The join entries of a table, without a vector: the walk runs per row.
int32_t joinCount(const TBRNExprToken* Table) {
  const TBRNExprToken* list = joinList(Table);
  return list == nullptr ? 0 : list->ArgumentCount();
}

// nullptr for an empty slot.
TBRNExprToken* joinAt(const TBRNExprToken* Table, int32_t Index) {
  TBRNExprToken* join = joinList(Table)->Argument(Index);
  return join != nullptr && join->JoinTable != nullptr ? join : nullptr;
}

bool isDriver(const TBRNExprToken* Table) {
  const TBRNExprToken* from = Table->Parent;
  return from != nullptr && from->ArgumentCount() > 0 && from->Argument(0) == Table;
}

}  // namespace

bool TBRNExecutionManager::readableRow(TBRNExprToken* Table, bool First) {
  TBRNCursorValue& value = SourceValue(Table);
  TBRNCursor& cursor = *value.GetCursor();
  if (First)
    cursor.FirstRow();
  else
    cursor.NextRow();
  value.ReadCurrentRow();
  // A row another session deleted while the walk stood before it.
  while (value.GetRow()->RowStatus != 0 && !cursor.GetEof()) {
    cursor.NextRow();
    value.ReadCurrentRow();
  }
  if (cursor.GetEof()) return false;
  ++RowsVisited;
  return true;
}

bool TBRNExecutionManager::checkProgress() {
  TBRNLocalSessionManager* session = Evaluator.GetSession();
  if (session == nullptr) return true;
  return session->CheckProgress();
}

bool TBRNExecutionManager::joinTable(TBRNExprToken* Join, bool ReportProgress, bool& Continue) {
  // FirstJoinedRow starts the joined table from its first row: the filter
  // needs no position kept.
  if (!isCommaJoin(Join)) RekeySourceFilter(Join);
  const bool found = FirstJoinedRow(Join->JoinTable, ReportProgress, Continue);
  return found || Join->Operation == opLeftJoin;
}

bool TBRNExecutionManager::joinAll(TBRNExprToken* Table, bool ReportProgress, bool& Continue) {
  bool result = true;
  const int32_t count = joinCount(Table);
  for (int32_t i = 0; i < count && Continue; ++i) {
    TBRNExprToken* join = joinAt(Table, i);
    // Every joined table is positioned, also after one found nothing.
    if (join != nullptr && !joinTable(join, ReportProgress, Continue)) result = false;
  }
  return result;
}

bool TBRNExecutionManager::scanForJoinedRow(TBRNExprToken* Table, bool ReportProgress,
                                            bool& Continue) {
  TBRNCursor& cursor = *SourceValue(Table).GetCursor();
  while (Continue && !cursor.GetEof()) {
    if (joinAll(Table, ReportProgress, Continue)) return true;
    readableRow(Table, false);
    if (ReportProgress) Continue = checkProgress();
  }
  return false;
}

bool TBRNExecutionManager::FirstJoinedRow(TBRNExprToken* Table, bool ReportProgress,
                                          bool& Continue) {
  if (!readableRow(Table, true)) {
    if (!isDriver(Table)) {
      // The joined tables stand at their ends too: their columns read NULL.
      const int32_t count = joinCount(Table);
      for (int32_t i = 0; i < count; ++i)
        if (TBRNExprToken* join = joinAt(Table, i)) joinTable(join, ReportProgress, Continue);
    }
    return false;
  }
  if (joinCount(Table) == 0) return true;
  return scanForJoinedRow(Table, ReportProgress, Continue);
}

bool TBRNExecutionManager::NextJoinedRow(TBRNExprToken* Table, bool ReportProgress,
                                         bool& Continue) {
  const int32_t count = joinCount(Table);
  if (count == 0) return readableRow(Table, false);
  if (advanceJoin(Table, count - 1, ReportProgress, Continue)) return true;
  if (!readableRow(Table, false)) return false;
  if (ReportProgress) Continue = checkProgress();
  return scanForJoinedRow(Table, ReportProgress, Continue);
}

bool TBRNExecutionManager::advanceJoin(TBRNExprToken* Table, int32_t JoinIndex, bool ReportProgress,
                                       bool& Continue) {
  // The joins of a table turn like an odometer, the last one fastest.
  TBRNExprToken* join = nullptr;
  while (JoinIndex >= 0 && (join = joinAt(Table, JoinIndex)) == nullptr) --JoinIndex;
  if (JoinIndex < 0 || !Continue) return false;
  if (NextJoinedRow(join->JoinTable, ReportProgress, Continue)) return true;
  if (!advanceJoin(Table, JoinIndex - 1, ReportProgress, Continue)) return false;
  const bool found = FirstJoinedRow(join->JoinTable, ReportProgress, Continue);
  return found || join->Operation == opLeftJoin;
}

}  // namespace brn

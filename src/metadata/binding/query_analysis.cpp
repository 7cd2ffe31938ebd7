// The questions the query manager asks about a bound SELECT before it runs
// it, and the definitions of the tables that hold materialised results,
// views and derived tables.

#include "metadata/binding/query_analysis.h"

#include <algorithm>
#include <memory>
#include <string>

#include "foundation/text/collation.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/catalog/views.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/expr_tree_algorithms.h"
#include "sql/tree/query_layout.h"

namespace brn {

namespace {

// Through how many views a source lookup follows before it gives up: only a
// cycle of damaged definitions goes that deep.
constexpr int32_t kMaxViewDepth = 256;

const TBRNExprToken* argumentAt(const TBRNExprToken* node, int32_t position) {
  return node != nullptr && position >= 0 && position < node->ArgumentCount()
             ? node->Argument(position)
             : nullptr;
}

bool isSetOperation(TBRNExprOperation operation) {
  switch (operation) {
    case opExcept:
    case opExceptAll:
    case opIntersect:
    case opIntersectAll:
    case opUnion:
    case opUnionAll:
      return true;
    default:
      return false;
  }
}

// The set operations whose result holds distinct rows.
bool isDistinctSetOperation(TBRNExprOperation operation) {
  return operation == opExcept || operation == opIntersect || operation == opUnion;
}

TBRNExprOperation setOperationOf(const TBRNExprToken* query) {
  const TBRNExprToken* node = argumentAt(query, qpSetOperation);
  return node != nullptr ? node->Operation : opNone;
}

// The set operation of the query or of the one that follows it makes the
// rows distinct (EXCEPT, INTERSECT and UNION with or without ALL, UNION ALL
// excepted): the result needs an index over the select list.
bool needsDistinctIndex(const TBRNExprToken* query) {
  for (const TBRNExprToken* q : {query, argumentAt(query, qpSetOperand)}) {
    const TBRNExprOperation operation = setOperationOf(q);
    if (isSetOperation(operation) && operation != opUnionAll) return true;
  }
  return false;
}

// The expression of a select item, or of the select item that an order
// item refers to.
const TBRNExprToken* itemExpression(const TBRNExprToken* item) {
  if (item == nullptr) return nullptr;
  const TBRNExprToken* expression = argumentAt(item, 0);
  if (item->Kind == tkOrderItem && expression != nullptr && expression->Kind == tkOrderItem &&
      expression->Link != nullptr)
    expression = argumentAt(expression->Link, 0);
  return expression;
}

// The plain column reference a list item names, or nullptr.
const TBRNExprToken* plainColumn(const TBRNExprToken* item) {
  const TBRNExprToken* expression = itemExpression(item);
  return expression != nullptr && expression->Kind == tkColumnReference ? expression : nullptr;
}

// The position in the select list of a select item, or of the select item
// an order item refers to; -1 when none.
int32_t selectPosition(const TBRNExprToken* selectList, const TBRNExprToken* item) {
  if (item == nullptr || selectList == nullptr) return -1;
  const TBRNExprToken* target = item;
  if (item->Kind == tkOrderItem) {
    const TBRNExprToken* expression = argumentAt(item, 0);
    if (expression == nullptr || expression->Kind != tkOrderItem || expression->Link == nullptr)
      return -1;
    target = expression->Link;
  }
  for (int32_t i = 0; i < selectList->ArgumentCount(); ++i)
    if (selectList->Argument(i) == target) return i;
  return -1;
}

// The collation an order item's COLLATE clause names; false without one.
bool itemCollation(const TBRNExprToken* item, int32_t& collation) {
  if (item == nullptr || item->Kind != tkOrderItem) return false;
  const TBRNExprToken* collate = argumentAt(item, 1);
  const TBRNExprToken* name = argumentAt(collate, 0);
  if (collate == nullptr || collate->Operation != opCollate || name == nullptr) return false;
  collation = name->Collation;
  return true;
}

bool itemDescending(const TBRNExprToken* item) {
  if (item == nullptr || item->Kind != tkOrderItem) return false;
  const TBRNExprToken* direction = argumentAt(item, 2);
  return direction != nullptr && direction->Operation == opDescending;
}

bool conditionsHaveCorrelatedQuery(const TBRNExprToken* list) {
  if (list == nullptr) return false;
  for (const TBRNExprToken* condition : list->Arguments())
    if (condition != nullptr && ContainsCorrelatedQuery(condition)) return true;
  return false;
}

TBRNColumn* newColumn(TBRNVirtualTable* table, const std::string& name, TBRNDataTypeCode type,
                      TBRNDataSubType subType, int32_t length, int32_t scale, int32_t collation) {
  auto column = std::make_unique<TBRNColumn>(table->Catalog);
  column->Name = name;
  column->SetDataType(type);
  column->SetSubType(subType);
  if (length != 0) column->SetLength(length);
  column->SetScale(scale);
  column->SetCollation(collation);
  return column.release();
}

TBRNColumn* addColumn(TBRNVirtualTable* table, TBRNColumn* column) {
  std::unique_ptr<TBRNColumn> owned(column);
  table->Columns->AddObject(column);
  return owned.release();
}

// An Internal ordinary index added to table; the caller fills its columns
// and calls finishIndex.
TBRNIndex* newResultIndex(TBRNVirtualTable* table, const char* name) {
  std::unique_ptr<TBRNIndex> index(static_cast<TBRNIndex*>(table->Indexes->NewItem()));
  index->Name = name;
  index->Internal = true;
  index->SetIndexType(kIndexOrdinary);
  table->Indexes->AddObject(index.get());
  return index.release();
}

void addIndexColumn(TBRNIndex* index, TBRNColumn* column, const int32_t* collation,
                    bool descending) {
  std::unique_ptr<TBRNIndexColumn> entry(static_cast<TBRNIndexColumn*>(index->Columns->NewItem()));
  entry->SetColumn(column);
  if (collation != nullptr) entry->SetCollation(*collation);
  if (descending) entry->SetDescending(true);
  index->Columns->AddObject(entry.get());
  entry.release();
}

// An index without columns is dropped; one on a base table makes its page
// size fit.
void finishIndex(TBRNVirtualTable* table, TBRNIndex* index) {
  if (index->Columns->Count() == 0) {
    table->Indexes->RemoveObject(index->Index);
    delete index;
    return;
  }
  if (auto* base = dynamic_cast<TBRNBaseTable*>(table)) base->RaiseIndexPageSizeToFit(index);
}

// Index columns on the result columns of the first `limit` items of list
// (select items or order items), hidden select items skipped.
void addResultIndexColumns(TBRNIndex* index, TBRNColumns* columns, const TBRNExprToken* selectList,
                           const TBRNExprToken* list, int32_t limit) {
  if (list == nullptr) return;
  const int32_t count = std::min(limit, list->ArgumentCount());
  for (int32_t i = 0; i < count; ++i) {
    const TBRNExprToken* item = list->Argument(i);
    if (item == nullptr || item->Hidden) continue;
    const int32_t position = selectPosition(selectList, item);
    if (position < 0 || position + 1 >= columns->Count()) continue;
    int32_t collation = 0;
    const bool collated = itemCollation(item, collation);
    addIndexColumn(index, columns->GetItem(position + 1), collated ? &collation : nullptr,
                   itemDescending(item));
  }
}

// Whether the query reads only some rows or groups of its first FROM table:
// through a condition or grouping of its own, or a condition of an
// updateable view it reads through.
bool readsPartOfSource(TBRNCatalog& home, const TBRNExprToken* query) {
  TBRNCatalog* catalog = &home;
  if (argumentAt(query, qpGroupBy) != nullptr || argumentAt(query, qpHaving) != nullptr)
    return true;
  for (int32_t depth = 0; depth < kMaxViewDepth; ++depth) {
    if (QueryHasConditions(query)) return true;
    const TBRNExprToken* first = argumentAt(argumentAt(query, qpFrom), 0);
    if (first == nullptr) return false;
    catalog = catalog->CatalogForToken(first);
    auto* view = dynamic_cast<TBRNView*>(catalog->FindTableOrView(
        catalog->SchemaForToken(first, true), first->Name, nullptr, true, true));
    if (view == nullptr || !view->Updateable) return false;
    view->Compile();
    if (!view->Updateable) return false;
    query = view->Definition->Root;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Query questions

bool TBRNCatalog::HasNoFrom(const TBRNExprToken* query) {
  return argumentAt(query, qpFrom) == nullptr;
}

bool TBRNCatalog::HasInto(const TBRNExprToken* query) {
  return argumentAt(query, qpInto) != nullptr;
}

bool TBRNCatalog::HasGroupBy(const TBRNExprToken* query) {
  return argumentAt(query, qpGroupBy) != nullptr;
}

bool TBRNCatalog::HasOrderBy(const TBRNExprToken* query) {
  return argumentAt(query, qpOrderBy) != nullptr;
}

bool TBRNCatalog::HasRange(const TBRNExprToken* query) {
  if (query == nullptr) return false;
  for (int32_t i = qpFixedCount; i < query->ArgumentCount(); ++i) {
    const TBRNExprToken* option = query->Argument(i);
    if (option != nullptr && option->Operation == opRange) return true;
  }
  return false;
}

bool TBRNCatalog::HasFollowingSetOperation(const TBRNExprToken* query) {
  return argumentAt(query, qpSetOperand) != nullptr;
}

bool TBRNCatalog::IsSetOperationMember(const TBRNExprToken* query) {
  return isSetOperation(setOperationOf(query));
}

bool TBRNCatalog::NeedsDistinctResult(const TBRNExprToken* query) {
  const TBRNExprToken* list = argumentAt(query, qpSelectList);
  if (list != nullptr && list->Operation == opDistinct) return true;
  return isDistinctSetOperation(setOperationOf(query)) ||
         isDistinctSetOperation(setOperationOf(argumentAt(query, qpSetOperand)));
}

bool TBRNCatalog::SelectsOnlyAggregates(const TBRNExprToken* query) {
  const TBRNExprToken* list = argumentAt(query, qpSelectList);
  if (list == nullptr) return false;
  bool aggregates = false;
  for (const TBRNExprToken* item : list->Arguments()) {
    const TBRNExprToken* expression = argumentAt(item, 0);
    if (ContainsAggregate(expression)) {
      aggregates = true;
    } else if (ContainsColumnReference(expression)) {
      return false;
    }
  }
  return aggregates;
}

TBRNVirtualTable* TBRNCatalog::GetSingleSourceTable(const TBRNExprToken* query, bool followViews) {
  TBRNCatalog* catalog = this;
  for (int32_t depth = 0; depth < kMaxViewDepth; ++depth) {
    const TBRNExprToken* first = argumentAt(argumentAt(query, qpFrom), 0);
    if (first == nullptr) return nullptr;
    catalog = catalog->CatalogForToken(first);
    auto* table = dynamic_cast<TBRNVirtualTable*>(catalog->FindTableOrView(
        catalog->SchemaForToken(first, true), first->Name, nullptr, true, true));
    auto* view = dynamic_cast<TBRNView*>(table);
    if (!followViews || view == nullptr || !view->Updateable) return table;
    view->Compile();
    if (!view->Updateable) return table;
    query = view->Definition->Root;
  }
  return nullptr;
}

bool TBRNCatalog::indexMatchesList(const TBRNExprToken* query, TBRNColumns* columns,
                                   TBRNIndex* index, const TBRNExprToken* list) {
  (void)query;
  if (list == nullptr || columns == nullptr) return false;
  for (int32_t i = 0; i < list->ArgumentCount(); ++i) {
    const TBRNExprToken* item = list->Argument(i);
    const TBRNExprToken* column = plainColumn(item);
    if (column == nullptr || i >= index->Columns->Count()) return false;
    TBRNIndexColumn* key = index->Columns->GetItem(i);
    TBRNColumn* keyColumn = key->GetColumn();
    if (keyColumn == nullptr || !TextEqualsIgnoreCase(keyColumn->Name, column->Name)) return false;
    int32_t collation = 0;
    if (!itemCollation(item, collation)) {
      auto* tableColumn = static_cast<TBRNColumn*>(columns->FindByName(column->Name, false));
      if (tableColumn == nullptr) return false;
      collation = tableColumn->Collation;
    }
    if (key->Collation != collation) return false;
    if (key->Descending != itemDescending(item)) return false;
  }
  return true;
}

bool TBRNCatalog::CanBeSensitive(const TBRNExprToken* query, int32_t& indexPosition) {
  indexPosition = -1;
  TBRNVirtualTable* source = GetSingleSourceTable(query, true);
  if (source == nullptr) return false;
  const TBRNExprToken* from = argumentAt(query, qpFrom);
  if (IsSetOperationMember(query) || from->ArgumentCount() != 1 || HasGroupBy(query) ||
      HasFollowingSetOperation(query))
    return false;

  const TBRNExprToken* list = argumentAt(query, qpSelectList);
  // A subquery that feeds IN or NOT IN yields the values of one column.
  const TBRNExprToken* parent = query->Parent;
  if ((query->Operation == opCorrelated || query->Operation == opSubquery) && parent != nullptr &&
      (parent->Operation == opIn || parent->Operation == opNotIn) &&
      argumentAt(parent, 0) != query) {
    const TBRNExprToken* first = argumentAt(argumentAt(list, 0), 0);
    if (first == nullptr || first->Kind != tkColumnReference) return false;
  }

  TBRNIndexes* indexes = source->Indexes.get();
  TBRNColumns* columns = source->Columns.get();
  bool keyFound = false;
  if (list != nullptr && list->Operation == opDistinct) {
    for (int32_t i = 0; i < indexes->Count() && !keyFound; ++i) {
      TBRNIndex* index = indexes->GetItem(i);
      if (index->IndexType != kIndexPrimaryKey ||
          index->Columns->Count() != list->ArgumentCount() ||
          !indexMatchesList(query, columns, index, list))
        continue;
      indexPosition = i;
      keyFound = true;
    }
    if (!keyFound) return false;
  }

  if (list != nullptr) {
    for (const TBRNExprToken* item : list->Arguments()) {
      const TBRNExprToken* expression = argumentAt(item, 0);
      if (expression == nullptr) continue;
      if (ContainsAggregate(expression) || ReferencesOtherTable(expression)) {
        indexPosition = -1;
        return false;
      }
    }
  }
  // The validator moves WHERE conditions onto the FROM item they filter.
  if (conditionsHaveCorrelatedQuery(argumentAt(query, qpWhere)) ||
      conditionsHaveCorrelatedQuery(argumentAt(from->Argument(0), trConditions))) {
    indexPosition = -1;
    return false;
  }

  if (const TBRNExprToken* orderBy = argumentAt(query, qpOrderBy)) {
    for (int32_t i = 0; i < indexes->Count(); ++i) {
      TBRNIndex* index = indexes->GetItem(i);
      if (index->IsTextIndex() || !indexMatchesList(query, columns, index, orderBy)) continue;
      indexPosition = i;
      return true;
    }
    indexPosition = -1;
    return false;
  }
  if (!keyFound) indexPosition = std::max(indexes->IndexOfType(kIndexPrimaryKey), 0);
  return true;
}

bool TBRNCatalog::CanUseIndexForAggregate(const TBRNExprToken* query) {
  const TBRNExprToken* list = argumentAt(query, qpSelectList);
  const TBRNExprToken* from = argumentAt(query, qpFrom);
  if (list == nullptr || list->ArgumentCount() != 1 || from == nullptr ||
      from->ArgumentCount() != 1)
    return false;
  const TBRNExprToken* call = argumentAt(list->Argument(0), 0);
  if (call == nullptr || call->Kind != tkFunction) return false;
  const TBRNExprToken* argument = argumentAt(call, 0);
  if (argument == nullptr || argument->Kind != tkColumnReference) return false;
  // An index answers for all rows of its table.
  if (readsPartOfSource(*this, query)) return false;
  if (call->Operation == opCount) return argument->Name == "*";
  if (call->Operation != opMax && call->Operation != opMin) return false;
  TBRNVirtualTable* source = GetSingleSourceTable(query, true);
  return source != nullptr && source->Indexes->FindBestIndex(argument) >= 0;
}

// ---------------------------------------------------------------------------
// Result tables

namespace {

void assignSourcePositions(TBRNCatalog& home, TBRNView* view, int32_t& count, int32_t depth) {
  if (view == nullptr || !view->Updateable) return;
  if (depth == kMaxViewDepth) view->RaiseMetadataError("The view's source is circular");
  const TBRNExprToken* query = view->Definition->Root;
  const TBRNExprToken* first = argumentAt(argumentAt(query, qpFrom), 0);
  if (first == nullptr) return;
  TBRNCatalog* catalog = home.CatalogForToken(first);
  auto* source = dynamic_cast<TBRNVirtualTable*>(catalog->FindTableOrView(
      catalog->SchemaForToken(first, true), first->Name, nullptr, true, true));
  if (source == nullptr) return;
  auto* sourceView = dynamic_cast<TBRNView*>(source);
  if (sourceView != nullptr && sourceView->Updateable) {
    sourceView->Compile();
    assignSourcePositions(*catalog, sourceView, count, depth + 1);
  } else {
    count = source->Columns->Count();
  }
  const TBRNExprToken* list = argumentAt(query, qpSelectList);
  if (list == nullptr) return;
  for (int32_t i = 0; i < list->ArgumentCount(); ++i) {
    const TBRNExprToken* item = list->Argument(i);
    if (item == nullptr || item->Hidden || plainColumn(item) != nullptr) continue;
    if (i + 1 >= view->Columns->Count()) break;
    view->Columns->GetItem(i + 1)->SourcePosition = count;
    ++count;
  }
}

}  // namespace

void TBRNCatalog::AssignViewSourcePositions(TBRNView* view, int32_t& count) {
  assignSourcePositions(*this, view, count, 0);
}

void TBRNCatalog::addSourceKeyOrder(const TBRNExprToken* query, TBRNColumns* columns,
                                    TBRNIndex* index, const TBRNExprToken* selectList) {
  TBRNVirtualTable* source = GetSingleSourceTable(query, true);
  const TBRNExprToken* first = argumentAt(argumentAt(query, qpFrom), 0);
  TBRNIndex* key = nullptr;
  if (source != nullptr && source->Indexes->Count() > 0) {
    const int32_t position = source->Indexes->IndexOfType(kIndexPrimaryKey);
    key = source->Indexes->GetItem(position >= 0 ? position : 0);
  }
  if (key != nullptr && selectList != nullptr) {
    for (int32_t i = 0; i < selectList->ArgumentCount(); ++i) {
      const TBRNExprToken* item = selectList->Argument(i);
      const TBRNExprToken* column = argumentAt(item, 0);
      if (item == nullptr || item->Hidden || column == nullptr ||
          column->Kind != tkColumnReference || column->Link != first || i + 1 >= columns->Count())
        continue;
      for (int32_t k = 0; k < key->Columns->Count(); ++k) {
        TBRNIndexColumn* keyColumn = key->Columns->GetItem(k);
        TBRNColumn* named = keyColumn->GetColumn();
        if (named == nullptr || !TextEqualsIgnoreCase(named->Name, column->Name)) continue;
        addIndexColumn(index, columns->GetItem(i + 1), nullptr, keyColumn->Descending);
        break;
      }
    }
  }
  if (index->Columns->Count() == 0) addIndexColumn(index, columns->GetItem(0), nullptr, false);
}

void TBRNCatalog::DefineResultTable(const TBRNExprToken* query, TBRNVirtualTable* table,
                                    bool ensureKey, bool withOrigins) {
  table->AddRowIDColumn();
  TBRNColumns* columns = table->Columns.get();
  const TBRNExprToken* list = argumentAt(query, qpSelectList);
  const TBRNExprToken* firstFrom = argumentAt(argumentAt(query, qpFrom), 0);
  if (list != nullptr) {
    for (const TBRNExprToken* item : list->Arguments()) {
      if (item == nullptr) continue;
      TBRNColumn* column =
          addColumn(table, newColumn(table, item->Alias, item->DataType, item->SubType, item->Size,
                                     item->Scale, item->Collation));
      if (item->Hidden) column->Internal = true;
      const TBRNExprToken* expression = argumentAt(item, 0);
      if (!withOrigins || expression == nullptr || expression->Kind != tkColumnReference) continue;
      // A reference bound to no FROM item (which the validator does not
      // leave behind) stands for a column of its own name in the first one.
      const TBRNExprToken* reference =
          expression->Link != nullptr && expression->Link->Kind == tkTableReference
              ? expression->Link
              : firstFrom;
      if (reference == nullptr) continue;
      std::string origin;
      BuildQualifiedName(reference->DatabaseName, reference->SchemaName, reference->Name, origin,
                         "Default", expression->Name);
      column->Origin = origin;
      column->ComputeKeyMembership();
    }
  }

  const TBRNExprToken* groupBy = argumentAt(query, qpGroupBy);
  const TBRNExprToken* orderBy = argumentAt(query, qpOrderBy);
  auto addIndex = [&](const char* name, const TBRNExprToken* items, int32_t limit) {
    TBRNIndex* index = newResultIndex(table, name);
    addResultIndexColumns(index, columns, list, items, limit);
    finishIndex(table, index);
  };
  if (groupBy != nullptr) {
    addIndex(kGroupByIndexName, groupBy, kMaxGroupByIndexColumns);
    if (orderBy != nullptr) addIndex(kOrderByIndexName, orderBy, kMaxOrderByIndexColumns);
    if (needsDistinctIndex(query)) addIndex(kDistinctIndexName, list, kMaxDistinctIndexColumns);
  } else {
    if ((list != nullptr && list->Operation == opDistinct) || needsDistinctIndex(query))
      addIndex(kDistinctIndexName, list, kMaxDistinctIndexColumns);
    if (orderBy != nullptr) {
      addIndex(kOrderByIndexName, orderBy, kMaxOrderByIndexColumns);
    } else {
      TBRNIndex* index = newResultIndex(table, kOrderByIndexName);
      addSourceKeyOrder(query, columns, index, list);
      finishIndex(table, index);
    }
  }

  if (auto* base = dynamic_cast<TBRNBaseTable*>(table); base != nullptr && ensureKey)
    base->EnsurePrimaryKey();
  table->Validate();
}

void TBRNCatalog::DefineViewColumns(const TBRNExprToken* query, TBRNVirtualTable* table) {
  table->AddRowIDColumn();
  TBRNVirtualTable* source = GetSingleSourceTable(query, false);
  const TBRNExprToken* list = argumentAt(query, qpSelectList);
  if (list != nullptr) {
    for (const TBRNExprToken* item : list->Arguments()) {
      if (item == nullptr) continue;
      const TBRNExprToken* expression = plainColumn(item);
      if (expression == nullptr || source == nullptr) {
        TBRNColumn* column =
            addColumn(table, newColumn(table, item->Alias, item->DataType, item->SubType,
                                       item->Size, item->Scale, item->Collation));
        if (item->Hidden) column->Internal = true;
        continue;
      }
      auto* sourceColumn =
          static_cast<TBRNColumn*>(source->Columns->FindByName(expression->Name, true));
      if (sourceColumn->Internal) continue;
      TBRNColumn* column = addColumn(
          table, newColumn(table, item->Alias, sourceColumn->DataType, sourceColumn->SubType,
                           sourceColumn->Length, sourceColumn->Scale, sourceColumn->Collation));
      if (item->Hidden) column->Internal = true;
      if (source->Transient) {
        // A derived table's generated name lasts only as long as the tree
        // that made it: the column takes over where the derived table's
        // column comes from (nothing for a computed one).
        column->Origin = sourceColumn->Origin;
      } else {
        TBRNSchema* schema = source->GetSchema();
        column->Origin = schema == nullptr || schema == source->Catalog->DefaultSchema
                             ? source->Name + "." + sourceColumn->Name
                             : schema->Name + "." + source->Name + "." + sourceColumn->Name;
      }
      column->ComputeKeyMembership();
    }
  }
  table->Validate();
}

void TBRNCatalog::DefinePublishedUpdatesTable(TBRNVirtualTable* table) {
  table->AddRowIDColumn();
  if (auto* base = dynamic_cast<TBRNBaseTable*>(table)) base->AddPrimaryKey(false);
  struct Definition {
    const char* Name;
    TBRNDataTypeCode Type;
    TBRNDataSubType SubType;
    int32_t Length;
    bool CaseInsensitive;
  };
  static constexpr Definition kColumns[] = {
      {"TableName", dtChar, stDefault, 40, true},
      {"UpdateType", dtChar, stDefault, 15, true},
      {"UpdateTimeStamp", dtTimestamp, stDefault, 0, false},
      {"Manifest", dtLob, stClob, 0, true},
      {"KeyData", dtLob, stClob, 0, true},
      {"RowData", dtLob, stClob, 0, true},
  };
  for (const Definition& definition : kColumns) {
    TBRNColumn* column = newColumn(table, definition.Name, definition.Type, definition.SubType,
                                   definition.Length, 0, 0);
    if (definition.CaseInsensitive) column->SetCaseInsensitiveCollation(true);
    addColumn(table, column);
  }
  for (int32_t position = 1; position <= 3; ++position) {
    TBRNColumn* column = table->Columns->GetItem(position);
    std::unique_ptr<TBRNIndex> index(static_cast<TBRNIndex*>(table->Indexes->NewItem()));
    index->Name = column->Name;
    index->SetIndexType(kIndexOrdinary);
    table->Indexes->AddObject(index.get());
    TBRNIndex* added = index.release();
    addIndexColumn(added, column, nullptr, false);
    if (auto* base = dynamic_cast<TBRNBaseTable*>(table)) base->RaiseIndexPageSizeToFit(added);
  }
}

}  // namespace brn

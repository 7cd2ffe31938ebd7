// How a catalog turns the names of a syntax tree into its objects: schemas,
// tables and views (temporary ones first where a statement may have made
// them), columns, collations, functions and procedures, the derived tables
// of FROM subqueries and the expansion of "*".

#include <memory>
#include <string>
#include <vector>

#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/constraints.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/routines.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/catalog/views.h"
#include "metadata/config/config.h"
#include "metadata/config/users_roles.h"
#include "metadata/core/type_lists.h"
#include "sql/tree/compiled_expr.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/query_layout.h"

namespace brn {

namespace {

// Collation flag bits a collation name's suffixes set.
constexpr int32_t kCaseInsensitiveCollationBit = 20;
constexpr int32_t kAccentInsensitiveCollationBit = 21;
constexpr int32_t kKanaInsensitiveCollationBit = 22;
constexpr int32_t kWidthInsensitiveCollationBit = 23;

// The most views an origin chain or a column lookup follows; a longer chain
// can only be a cycle of damaged definitions.
constexpr int32_t kMaxViewDepth = 256;

bool isRowQualifier(const std::string& name) {
  return TextEqualsIgnoreCase(name, "OldRow") || TextEqualsIgnoreCase(name, "NewRow");
}

// The found object, unless a user is given who may not see it.
TBRNPrivilegedConfigObject* visibleOrNull(TBRNPrivilegedConfigObject* found, TBRNUser* user) {
  if (found == nullptr) return nullptr;
  return user == nullptr || found->IsVisibleTo(user) ? found : nullptr;
}

TBRNColumns* columnsOf(TBRNConfigObject* table) {
  auto* holder = dynamic_cast<TBRNColumnsHolder*>(table);
  return holder != nullptr ? holder->GetColumns() : nullptr;
}

TBRNColumns* requireColumns(TBRNConfigObject* table) {
  TBRNColumns* columns = columnsOf(table);
  if (columns == nullptr) table->RaiseMetadataError("The table has no columns");
  return columns;
}

// A new column reference bound to tableRef, with the two empty argument
// slots (COLLATE, direction) every column reference has.
TBRNExprToken* newColumnReference(const std::string& name, TBRNExprToken* tableRef,
                                  const TBRNExprToken* position) {
  auto* node = new TBRNExprToken;
  node->Kind = tkColumnReference;
  node->Name = name;
  node->Link = tableRef;
  if (position != nullptr) node->CopyPosition(position);
  node->AddArgument(nullptr);
  node->AddArgument(nullptr);
  return node;
}

// The alias followed by 1, 2, ...: the first name that no table, temporary
// table, view or derived table of the schema bears. They share one
// namespace, so a name taken by a table would fail the query.
std::string derivedTableName(const TBRNSchema* schema, const std::string& alias) {
  const TBRNConfigObjects* lists[] = {schema->BaseTables.get(), schema->TemporaryTables.get(),
                                      schema->Views.get(), schema->TemporaryViews.get()};
  // Ends within (members + 1) tries: each member takes at most one number.
  for (int32_t counter = 1;; ++counter) {
    std::string name = alias + std::to_string(counter);
    bool taken = false;
    for (const TBRNConfigObjects* list : lists)
      taken = taken || (list != nullptr && list->FindByName(name, false) != nullptr);
    if (!taken) return name;
  }
}

void copyColumnType(TBRNExprToken* node, const TBRNColumn* column) {
  node->DataType = column->DataType;
  node->SubType = column->SubType;
  node->Size = column->Length;
  node->Scale = column->Scale;
  node->Collation = column->Collation;
}

}  // namespace

// ---------------------------------------------------------------------------
// Catalogs, schemas, tables

TBRNCatalog* TBRNCatalog::CatalogForToken(const TBRNExprToken* node) {
  if (node == nullptr || node->DatabaseName.empty()) return this;
  TBRNConfig* config = GetConfiguration();
  if (config == nullptr || !config->Databases) return this;
  auto* database =
      static_cast<TBRNDatabaseContainer*>(config->Databases->FindByName(node->DatabaseName, true));
  if (database == GetDatabase()) return this;
  auto* catalog = dynamic_cast<TBRNCatalog*>(database->Catalog);
  if (catalog == nullptr) database->RaiseCatalogNotRead();
  return catalog;
}

TBRNSchema* TBRNCatalog::SchemaForToken(const TBRNExprToken* node, bool raiseIfMissing) {
  if (node == nullptr || node->SchemaName.empty()) return DefaultSchema;
  return static_cast<TBRNSchema*>(Schemas->FindByName(node->SchemaName, raiseIfMissing));
}

TBRNPrivilegedConfigObject* TBRNCatalog::FindTableOrView(TBRNSchema* schema,
                                                         const std::string& name, TBRNUser* user,
                                                         bool raiseIfMissing, bool temporaryFirst) {
  if (schema == nullptr) schema = DefaultSchema;
  if (temporaryFirst) {
    if (TBRNPrivilegedConfigObject* found =
            schema->TemporaryTables->FindByNameForUser(name, nullptr, false))
      return found;
    if (TBRNPrivilegedConfigObject* found =
            schema->TemporaryViews->FindByNameForUser(name, nullptr, false))
      return found;
  }
  return visibleOrNull(schema->AllTables->FindByNameForUser(name, user, raiseIfMissing), user);
}

TBRNPrivilegedConfigObject* TBRNCatalog::FindTable(TBRNSchema* schema, const std::string& name,
                                                   TBRNUser* user, bool raiseIfMissing,
                                                   bool temporaryFirst) {
  if (schema == nullptr) schema = DefaultSchema;
  if (temporaryFirst) {
    if (TBRNPrivilegedConfigObject* found =
            schema->TemporaryTables->FindByNameForUser(name, nullptr, false))
      return found;
  }
  return visibleOrNull(schema->BaseTables->FindByNameForUser(name, user, raiseIfMissing), user);
}

TBRNConfigObject* TBRNCatalog::FindTableForColumn(const TBRNExprToken* node, TBRNUser* user,
                                                  bool temporaryFirst,
                                                  const std::string& contextTable,
                                                  const std::string& contextSchema,
                                                  TBRNConfigObject* ownerTable) {
  const TBRNExprToken* reference = node->Link;
  if (node->Kind == tkColumnReference && reference != nullptr &&
      reference->Kind == tkTableReference) {
    TBRNCatalog* catalog = CatalogForToken(reference);
    return catalog->FindTableOrView(catalog->SchemaForToken(reference, true), reference->Name, user,
                                    true, true);
  }
  if (!node->SchemaName.empty() || ownerTable == nullptr) {
    TBRNSchema* schema = contextSchema.empty()
                             ? DefaultSchema
                             : static_cast<TBRNSchema*>(Schemas->FindByName(contextSchema, true));
    std::string tableName = node->SchemaName;
    if (tableName.empty() || isRowQualifier(tableName)) tableName = contextTable;
    return FindTableOrView(schema, tableName, user, true, temporaryFirst);
  }
  return ownerTable;
}

bool TBRNCatalog::TableHasColumn(const TBRNExprToken* tableNode, const TBRNExprToken* columnNode,
                                 TBRNUser* user) {
  if (tableNode == nullptr || columnNode == nullptr || columnNode->Kind != tkColumnReference)
    return false;
  TBRNSchema* schema = SchemaForToken(tableNode, false);
  if (schema == nullptr) return false;
  TBRNColumns* columns = columnsOf(FindTableOrView(schema, tableNode->Name, user, false, true));
  return columns != nullptr && columns->FindByName(columnNode->Name, false) != nullptr;
}

// ---------------------------------------------------------------------------
// Binding

namespace {

// The column of table that a column reference named name stands for: in an
// updateable view the base column behind the view column.
TBRNColumn* boundColumn(TBRNConfigObject* table, const std::string& name) {
  auto* view = dynamic_cast<TBRNView*>(table);
  if (view != nullptr && view->Updateable) view->Compile();
  auto* column = static_cast<TBRNColumn*>(requireColumns(table)->FindByName(name, true));
  if (view != nullptr && view->Updateable) return column->ResolveOrigin();
  return column;
}

}  // namespace

void TBRNCatalog::ResolveCatalogToken(TBRNExprToken* node, TBRNExprTokenKind kind, TBRNUser* user,
                                      TBRNConfigObject* ownerTable,
                                      const std::string& contextSchema,
                                      const std::string& contextTable) {
  switch (kind) {
    case tkCollationName: {
      std::string baseName;
      bool caseInsensitive = false;
      bool accentInsensitive = false;
      bool kanaInsensitive = false;
      bool widthInsensitive = false;
      ParseCollationName(node->Name, baseName, caseInsensitive, accentInsensitive, kanaInsensitive,
                         widthInsensitive);
      TBRNConfig* config = GetConfiguration();
      if (config == nullptr || !config->Collations)
        RaiseMetadataError("The configuration holds no collations");
      int32_t collation = config->Collations->FindByName(baseName, true)->ID;
      if (caseInsensitive) IncludeBit(collation, kCaseInsensitiveCollationBit);
      if (accentInsensitive) IncludeBit(collation, kAccentInsensitiveCollationBit);
      if (kanaInsensitive) IncludeBit(collation, kKanaInsensitiveCollationBit);
      if (widthInsensitive) IncludeBit(collation, kWidthInsensitiveCollationBit);
      node->Collation = collation;
      return;
    }
    case tkColumnReference: {
      TBRNConfigObject* table =
          FindTableForColumn(node, user, true, contextTable, contextSchema, ownerTable);
      TBRNColumn* column = boundColumn(table, node->Name);
      node->Index = column->SourcePosition != 0 ? column->SourcePosition : column->Index;
      copyColumnType(node, column);
      return;
    }
    case tkRowColumnReference: {
      const bool temporaryFirst = ownerTable == nullptr || ownerTable->Temporary;
      TBRNConfigObject* table =
          FindTableForColumn(node, user, temporaryFirst, contextTable, contextSchema, ownerTable);
      auto* column = static_cast<TBRNColumn*>(requireColumns(table)->FindByName(node->Name, true));
      node->Index = column->Index;
      copyColumnType(node, column);
      return;
    }
    case tkFunction: {
      TBRNSchema* schema = SchemaForToken(node, true);
      auto* function =
          static_cast<TBRNRoutine*>(schema->Functions->FindByNameForUser(node->Name, user, true));
      node->Index = function->Index;
      // A function whose result is not defined yet leaves the call's type
      // to the validator.
      const TBRNRoutineParam* result = function->Result.get();
      if (result != nullptr && result->DataType != dtNull) {
        node->DataType = TBRNDataTypeCode(result->DataType);
        node->SubType = TBRNDataSubType(result->SubType);
        node->Size = result->Length;
        node->Scale = result->Scale;
        node->Collation = result->Collation;
      }
      return;
    }
    case tkRoutineCall:
    case tkProcedureName: {
      TBRNSchema* schema = SchemaForToken(node, true);
      schema->Procedures->FindByNameForUser(node->Name, user, true);
      return;
    }
    case tkTableReference: {
      if (node->Operation == opDerivedTable) {
        if (node->ObjectID == 0) createDerivedTable(node, user);
        return;
      }
      TBRNCatalog* catalog = CatalogForToken(node);
      TBRNPrivilegedConfigObject* table = catalog->FindTableOrView(
          catalog->SchemaForToken(node, true), node->Name, user, true, true);
      node->ObjectID = table->ID;
      return;
    }
    default:
      return;
  }
}

void TBRNCatalog::createDerivedTable(TBRNExprToken* node, TBRNUser* user) {
  TBRNSchema* schema = SchemaForToken(node, true);
  TBRNTemporaryViews* views = schema->TemporaryViews.get();
  const std::string alias = node->Alias.empty() ? node->Name : node->Alias;
  std::unique_ptr<TBRNView> table(static_cast<TBRNView*>(views->NewItemOwnedBy(user)));
  table->SetTransient(true);
  table->Name = derivedTableName(schema, alias);
  table->LoadedName = alias;
  if (user != nullptr) table->GrantAll(user, user);
  // The derived table reads the subquery of the tree it appears in; it
  // never owns it.
  TBRNExprToken* query = node->ArgumentCount() > 0 ? node->Argument(0) : nullptr;
  if (query == nullptr) RaiseMetadataError("The derived table " + alias + " has no query");
  table->Definition->SetRoot(query);
  table->Compile();
  views->AddObject(table.get());
  TBRNView* added = table.release();
  node->ObjectID = added->ID;
  node->Name = added->Name;
  if (OnDerivedTableCreate) OnDerivedTableCreate(added);
}

void TBRNCatalog::ReleaseToken(TBRNExprToken* node, TBRNUser* user) {
  // A catalog that is being freed frees its derived tables with its schemas.
  if (closing_ || node == nullptr || node->Kind != tkTableReference ||
      node->Operation != opDerivedTable || node->ObjectID == 0 || !Schemas)
    return;
  TBRNSchema* schema = nullptr;
  TBRNPrivilegedConfigObject* table = nullptr;
  try {
    schema = SchemaForToken(node, false);
    if (schema == nullptr || !schema->TemporaryViews) return;
    table =
        visibleOrNull(schema->TemporaryViews->FindByNameForUser(node->Name, user, false), user);
  } catch (const EBRNException& e) {
    // A table that cannot be found any more is not this tree's to free.
    if (e.ErrorCode == kObjectNotFoundError) return;
    throw;
  }
  // Only the tree whose subquery the table reads releases it (a copy of
  // that tree does not).
  auto* view = dynamic_cast<TBRNView*>(table);
  if (view == nullptr || view->ID != node->ObjectID ||
      view->Definition->Root != (node->ArgumentCount() > 0 ? node->Argument(0) : nullptr))
    return;
  node->ObjectID = 0;
  releaseDerivedTable(schema, view);
}

void TBRNCatalog::ReleaseDerivedTable(int32_t schemaID, int32_t tableID) noexcept {
  if (closing_ || !Schemas) return;
  auto* schema = static_cast<TBRNSchema*>(Schemas->FindByID(schemaID, false));
  if (schema == nullptr || !schema->TemporaryViews) return;
  auto* table =
      static_cast<TBRNPrivilegedConfigObject*>(schema->TemporaryViews->FindByID(tableID, false));
  if (table != nullptr) releaseDerivedTable(schema, table);
}

void TBRNCatalog::releaseDerivedTable(TBRNSchema* schema,
                                      TBRNPrivilegedConfigObject* table) noexcept {
  // A handler that clears the reference has freed the table or keeps it.
  if (OnDerivedTableRelease) OnDerivedTableRelease(table);
  if (table == nullptr) return;
  std::unique_ptr<TBRNConfigObject> owned(schema->TemporaryViews->RemoveObject(table->Index));
}

bool TBRNCatalog::IsTextIndexed(const TBRNExprToken* node, TBRNUser* user,
                                TBRNConfigObject* ownerTable, const std::string& contextSchema,
                                const std::string& contextTable) {
  if (node == nullptr || node->Kind != tkColumnReference) return false;
  TBRNConfigObject* table =
      FindTableForColumn(node, user, true, contextTable, contextSchema, ownerTable);
  TBRNColumn* column = nullptr;
  if (auto* view = dynamic_cast<TBRNView*>(table)) {
    if (!view->Updateable) return false;
    column = boundColumn(view, node->Name);
    table = column->GetTable();
  } else {
    column = static_cast<TBRNColumn*>(requireColumns(table)->FindByName(node->Name, true));
  }
  auto* holder = dynamic_cast<TBRNTableHolder*>(table);
  if (holder == nullptr || holder->GetIndexes() == nullptr) return false;
  // The text index is looked up under the base column's name.
  TBRNExprToken probe;
  probe.Kind = tkColumnReference;
  probe.Name = column->Name;
  probe.Collation = node->Collation;
  return holder->GetIndexes()->FindTextIndex(&probe) >= 0;
}

// ---------------------------------------------------------------------------
// "*" and table column lists

namespace {

// The table or view a FROM item names, through the catalog of its database.
TBRNConfigObject* tableOfReference(TBRNCatalog& home, const TBRNExprToken* reference,
                                   TBRNUser* user) {
  TBRNCatalog* catalog = home.CatalogForToken(reference);
  return catalog->FindTableOrView(catalog->SchemaForToken(reference, true), reference->Name, user,
                                  true, true);
}

}  // namespace

void TBRNCatalog::ExpandWildcard(TBRNExprToken* query, int32_t& position, TBRNExprToken* tableRef,
                                 TBRNExprToken* starItem, TBRNCompiledExpr& expr, TBRNUser* user) {
  TBRNExprToken* list = query->Argument(qpSelectList);
  for (int32_t i = 0; i < list->ArgumentCount(); ++i) {
    if (list->Argument(i) != starItem) continue;
    list->DeleteArgument(i);
    if (i < position) --position;
    break;
  }
  struct FreeStar {
    TBRNExprToken*& Item;
    ~FreeStar() { FreeExprTree(Item); }
  } freeStar{starItem};
  const TBRNExprToken* star = starItem->ArgumentCount() > 0 ? starItem->Argument(0) : nullptr;

  std::vector<TBRNExprToken*> references;
  if (tableRef != nullptr) {
    references.push_back(tableRef);
  } else if (const TBRNExprToken* from = query->Argument(qpFrom)) {
    for (TBRNExprToken* item : from->Arguments())
      if (item != nullptr) references.push_back(item);
  }
  for (TBRNExprToken* reference : references) {
    TBRNColumns* columns = requireColumns(tableOfReference(*this, reference, user));
    const std::string& qualifier = reference->Alias.empty() ? reference->Name : reference->Alias;
    for (int32_t i = 0; i < columns->Count(); ++i) {
      const TBRNColumn* column = columns->GetItem(i);
      if (column->Internal) continue;
      auto* item = new TBRNExprToken;
      item->Assign(starItem, false);
      item->Parent = nullptr;
      item->SetArgumentCount(0);
      TBRNExprToken* columnNode = newColumnReference(column->Name, reference, star);
      columnNode->SchemaName = qualifier;
      item->AddArgument(columnNode);
      list->InsertArgument(position, item);
      item->Index = position;
      ++position;
      expr.ResolveToken(columnNode, tkColumnReference);
    }
  }
}

void TBRNCatalog::AddTableColumns(TBRNExprToken* tableRef, TBRNExprToken* list,
                                  TBRNCompiledExpr& expr, TBRNUser* user) {
  TBRNColumns* columns = requireColumns(tableOfReference(*this, tableRef, user));
  for (int32_t i = 0; i < columns->Count(); ++i) {
    const TBRNColumn* column = columns->GetItem(i);
    if (column->Internal) continue;
    TBRNExprToken* columnNode = newColumnReference(column->Name, tableRef, tableRef);
    list->AddArgument(columnNode);
    expr.ResolveToken(columnNode, tkColumnReference);
  }
}

// ---------------------------------------------------------------------------
// Origins of result and view columns

namespace {

// The table and column an origin text names; false without an origin.
TBRNColumn* originColumn(const TBRNColumn* column) {
  std::string database;
  std::string schemaName;
  std::string tableName;
  std::string columnName;
  // Parts from the right: column, table, schema, database.
  SplitQualifiedName(column->Origin, database, schemaName, columnName, tableName);
  TBRNCatalog* home = column->Catalog;
  if (home == nullptr) column->RaiseMetadataError("The column's origin has no catalog");
  TBRNExprToken names;
  names.DatabaseName = database;
  TBRNCatalog* catalog = home->CatalogForToken(&names);
  TBRNSchema* schema =
      schemaName.empty() ? catalog->DefaultSchema
                         : static_cast<TBRNSchema*>(catalog->Schemas->FindByName(schemaName, true));
  TBRNConfigObject* table = catalog->FindTableOrView(schema, tableName, nullptr, true, true);
  return static_cast<TBRNColumn*>(requireColumns(table)->FindByName(columnName, true));
}

// Whether the origin chain stops at table.
bool endsChain(TBRNConfigObject* table) {
  auto* view = dynamic_cast<TBRNView*>(table);
  return view == nullptr || !view->Updateable;
}

}  // namespace

TBRNColumn* TBRNColumn::ResolveOrigin() {
  TBRNColumn* column = this;
  for (int32_t depth = 0; !column->Origin.empty(); ++depth) {
    if (depth == kMaxViewDepth) RaiseMetadataError("The column's origin is circular");
    column = originColumn(column);
    if (endsChain(column->GetTable())) break;
  }
  return column;
}

void TBRNColumn::ComputeKeyMembership() {
  InUniqueKey = false;
  InPrimaryKey = false;
  if (Origin.empty()) return;
  TBRNColumn* base = ResolveOrigin();
  auto* table = dynamic_cast<TBRNBaseTable*>(base->GetTable());
  if (table == nullptr) return;
  for (int32_t i = 0; i < table->Constraints->Count(); ++i) {
    TBRNConstraint* constraint = table->Constraints->GetItem(i);
    if (constraint->ConstraintType != kConstraintPrimaryKey &&
        constraint->ConstraintType != kConstraintUnique)
      continue;
    if (!constraint->Columns) continue;
    bool holds = false;
    for (int32_t c = 0; c < constraint->Columns->Count() && !holds; ++c)
      holds = constraint->Columns->GetItem(c)->ColumnID == base->ID;
    if (!holds) continue;
    if (constraint->ConstraintType == kConstraintPrimaryKey) {
      InPrimaryKey = true;
    } else {
      InUniqueKey = true;
    }
    return;
  }
}

}  // namespace brn

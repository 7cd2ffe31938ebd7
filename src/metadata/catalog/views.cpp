#include "metadata/catalog/views.h"

#include <vector>

#include "foundation/core/memory_stream.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/routines.h"
#include "metadata/catalog/schemas.h"
#include "metadata/config/privileges.h"
#include "metadata/core/ddl_text.h"
#include "metadata/core/referrer_helpers.h"
#include "sql/parser/expr_parser.h"
#include "sql/tree/expr_operations.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/query_layout.h"

namespace brn {

namespace {

// Text without trailing characters 0-32.
std::string trimTrailingControls(const std::string& text) {
  size_t end = text.size();
  while (end > 0 && uint8_t(text[end - 1]) <= 32) --end;
  return text.substr(0, end);
}

bool isEmptyList(const TBRNExprToken* node) {
  return node == nullptr || node->ArgumentCount() == 0;
}

TBRNExprToken* argumentOrNull(const TBRNExprToken* node, int32_t position) {
  return node != nullptr && position < node->ArgumentCount() ? node->Argument(position) : nullptr;
}

// Whether a compiled query reads one stored table row by row: a single
// query (no set operation) without DISTINCT, grouping or HAVING whose FROM
// list is one named table without joins. For a view without a catalog (the
// catalog's query analysis decides for every other view).
bool isLiveQuery(const TBRNExprToken* query) {
  if (query == nullptr || query->Kind != tkQuery || query->ArgumentCount() < qpFixedCount)
    return false;
  if (!isEmptyList(query->Argument(qpSetOperation)) || query->Argument(qpSetOperand) != nullptr)
    return false;
  const TBRNExprToken* selectList = query->Argument(qpSelectList);
  if (selectList == nullptr || selectList->Operation == opDistinct) return false;
  if (!isEmptyList(query->Argument(qpGroupBy)) || query->Argument(qpHaving) != nullptr)
    return false;
  const TBRNExprToken* from = query->Argument(qpFrom);
  if (from == nullptr || from->ArgumentCount() != 1) return false;
  const TBRNExprToken* table = from->Argument(0);
  if (table == nullptr || table->Operation == opDerivedTable) return false;
  return isEmptyList(argumentOrNull(table, trJoins));
}

std::string itemName(const TBRNExprToken* item) {
  if (!item->Alias.empty()) return item->Alias;
  if (!item->Name.empty()) return item->Name;
  const TBRNExprToken* expr = argumentOrNull(item, 0);
  return expr != nullptr ? expr->Name : std::string();
}

std::vector<const TBRNExprToken*> visibleItems(const TBRNExprToken* query) {
  std::vector<const TBRNExprToken*> items;
  const TBRNExprToken* list = argumentOrNull(query, qpSelectList);
  if (list == nullptr) return items;
  for (const TBRNExprToken* item : list->Arguments()) {
    if (item != nullptr && !item->Hidden) items.push_back(item);
  }
  return items;
}

}  // namespace

// ---------------------------------------------------------------------------
// TBRNCatalogQuery

std::string TBRNCatalogQuery::GetKindName() const {
  return "query";
}

TBRNParseFlags TBRNCatalogQuery::GetParseFlags() const {
  return kCatalogQueryFlags;
}

TBRNExprToken* TBRNCatalogQuery::ParseWith(TBRNExprParser& parser, TBRNParseFlags flags) {
  return parser.ParseQuery(flags);
}

// ---------------------------------------------------------------------------
// TBRNViewDefinition

TBRNViewDefinition::TBRNViewDefinition(TBRNView* view) : TBRNCatalogQuery(view), View(view) {
  SetCatalog(view->Catalog);
}

TBRNViewDefinition::~TBRNViewDefinition() {
  // The base destructor no longer reaches OwnsRoot of this class.
  ClearRoot();
}

std::string TBRNViewDefinition::GetKindName() const {
  return View->Name + " view";
}

bool TBRNViewDefinition::OwnsRoot() const {
  return !View->Transient;
}

void TBRNViewDefinition::AddTableDependency(TBRNExprToken* Node) {
  if (View->Transient || Node == nullptr || Node->Operation == opDerivedTable) return;
  TBRNCatalog* catalog = CurrentCatalog != nullptr ? CurrentCatalog : View->Catalog;
  if (catalog == nullptr) return;
  TBRNSchema* schema = catalog->SchemaForToken(Node, true);
  View->ReferencedTables->AddObject(
      schema->AllTables->FindByNameForUser(Node->Name, nullptr, true));
}

void TBRNViewDefinition::AddFunctionDependency(TBRNExprToken* Node) {
  if (View->Transient || Node == nullptr || Node->Operation != opUserFunction) return;
  TBRNCatalog* catalog = View->Catalog;
  if (catalog == nullptr || catalog->DefaultSchema == nullptr) return;
  TBRNFunctions* functions = catalog->DefaultSchema->Functions.get();
  if (Node->Index < 0 || Node->Index >= functions->Count()) return;
  View->ReferencedFunctions->AddObject(functions->GetItem(Node->Index));
}

void TBRNViewDefinition::AfterUncompile() {
  View->ReferencedTables->Clear();
  View->ReferencedFunctions->Clear();
}

void TBRNViewDefinition::AfterCompile() {
  SortUniqueByID(View->ReferencedTables.get());
  SortUniqueByID(View->ReferencedFunctions.get());
  const TBRNExprToken* query = Root;
  TBRNCatalog* catalog = View->Catalog;
  int32_t indexPosition = -1;
  const bool sensitive =
      catalog != nullptr ? catalog->CanBeSensitive(query, indexPosition) : isLiveQuery(query);
  const std::vector<const TBRNExprToken*> items = visibleItems(query);

  // Whether the stored columns still describe the query: as many visible
  // columns as visible select items, and the select item at position p (a
  // hidden one only takes its place) alike to the column at p + 1, after the
  // row-ID column. Every item is looked at, so that a change of a late item
  // is seen too.
  TBRNColumns* columns = View->Columns.get();
  bool matches = View->Updateable == sensitive;
  if (matches) {
    int32_t visibleColumns = 0;
    for (int32_t i = 0; i < columns->Count(); ++i)
      if (!columns->GetItem(i)->Internal) ++visibleColumns;
    matches = visibleColumns == int32_t(items.size());
  }
  const TBRNExprToken* list = argumentOrNull(query, qpSelectList);
  for (int32_t p = 0; matches && list != nullptr && p < list->ArgumentCount(); ++p) {
    const TBRNExprToken* item = list->Argument(p);
    if (item == nullptr || item->Hidden) continue;
    if (p + 1 >= columns->Count()) {
      matches = false;
      break;
    }
    const TBRNColumn* column = columns->GetItem(p + 1);
    matches = TextEqualsIgnoreCase(column->Name, itemName(item)) &&
              column->DataType == item->DataType && column->SubType == item->SubType &&
              column->Length == item->Size && column->Scale == item->Scale &&
              column->Collation == item->Collation;
  }

  // Bringing the layout in step with the query is not a change, and neither
  // is numbering the computed items of an updateable view.
  struct KeepModified {
    TBRNCatalog* Catalog;
    bool Was;
    ~KeepModified() {
      if (Catalog != nullptr) Catalog->Modified = Was;
    }
  } keep{catalog, catalog != nullptr && catalog->Modified};

  if (!matches) {
    View->Indexes->Clear();
    columns->Clear();
    if (catalog == nullptr) {
      // Without a catalog: the select items' own descriptions.
      View->AddRowIDColumn();
      for (const TBRNExprToken* item : items) {
        auto column = std::make_unique<TBRNColumn>(catalog);
        column->Name = itemName(item);
        column->SetDataType(item->DataType);
        column->SetSubType(item->SubType);
        column->SetLength(item->Size);
        column->SetScale(item->Scale);
        column->SetCollation(item->Collation);
        columns->AddObject(column.get());
        column.release();
      }
    } else if (sensitive) {
      catalog->DefineViewColumns(query, View);
    } else {
      catalog->DefineResultTable(query, View, false, true);
    }
    View->SetUpdateable(sensitive);
  }
  if (catalog != nullptr && View->Updateable) {
    int32_t count = 0;
    catalog->AssignViewSourcePositions(View, count);
  }
}

// ---------------------------------------------------------------------------
// TBRNReferencedVirtualTables

std::string TBRNReferencedVirtualTables::GetObjectTypeName() const {
  return "table or view";
}

// ---------------------------------------------------------------------------
// TBRNView

TBRNView::TBRNView(TBRNCatalog* catalog) : TBRNView(catalog, nullptr) {}

TBRNView::TBRNView(TBRNCatalog* catalog, TBRNUser* owner)
    : TBRNVirtualTable(catalog, owner),
      Definition(std::make_unique<TBRNViewDefinition>(this)),
      ReferencedTables(std::make_unique<TBRNReferencedVirtualTables>(Config)),
      ReferencedFunctions(std::make_unique<TBRNSelectedConfigObjects>(Config)) {}

TBRNView::~TBRNView() {
  // The query lets go of its tree while the selections still exist.
  Definition.reset();
}

void TBRNView::SetWithCheck(bool value) {
  if (WithCheck == value) return;
  WithCheck = value;
  SetModified(true);
}

void TBRNView::SetUpdateable(bool value) {
  if (Updateable == value) return;
  Updateable = value;
  SetModified(true);
}

std::string TBRNView::GetObjectTypeName() const {
  return Transient ? "derived table" : "view";
}

void TBRNView::GrantAll(TBRNUser* grantor, TBRNAuthorization* grantee) {
  for (int32_t kind : {pkSelect, pkInsert, pkUpdate, pkDelete}) Grant(grantor, grantee, kind);
}

void TBRNView::GrantDefault(TBRNUser* grantor, TBRNAuthorization* grantee) {
  GrantAll(grantor, grantee);
}

void TBRNView::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNVirtualTable::Assign(source, copyState);
  const auto* that = dynamic_cast<const TBRNView*>(source);
  if (that == nullptr) return;
  // A compiled tree and the dependencies name objects of the source's
  // catalog: a view of another catalog takes the query text only and stays
  // uncompiled, so that it never points into a catalog it does not belong
  // to (which may be freed first).
  const bool withState = copyState && that->Catalog == Catalog;
  Definition->Assign(that->Definition.get(), withState);
  // A copied tree comes without a compile: its dependencies come along.
  ReferencedTables->Clear();
  ReferencedFunctions->Clear();
  if (withState && Definition->Compiled) {
    ReferencedTables->Assign(that->ReferencedTables.get(), true);
    ReferencedFunctions->Assign(that->ReferencedFunctions.get(), true);
  }
  WithCheck = that->WithCheck;
  Updateable = that->Updateable;
}

bool TBRNView::IsEqual(const TBRNConfigObject* other, bool compareIDs) const {
  const auto* that = dynamic_cast<const TBRNView*>(other);
  return that != nullptr && TBRNVirtualTable::IsEqual(other, compareIDs) &&
         WithCheck == that->WithCheck && Updateable == that->Updateable &&
         Definition->Equals(that->Definition.get());
}

void TBRNView::Compile() {
  if (Transient) {
    Definition->AfterCompile();
    return;
  }
  Definition->Compile();
  Definition->ReleaseReferences();
}

void TBRNView::Uncompile() {
  if (!Transient) Definition->Uncompile();
}

namespace {

bool isTableOrView(const TBRNConfigObject* object) {
  return dynamic_cast<const TBRNColumnsHolder*>(object) != nullptr;
}

bool isFunction(const TBRNConfigObject* object) {
  return dynamic_cast<const TBRNFunction*>(object) != nullptr;
}

// The origins that name the table or view target in this catalog take its
// new name: a compile keeps columns whose names and types still match the
// query, so an origin left alone would name a table that no longer exists.
void renameOrigins(TBRNColumns* columns, TBRNConfigObject* target, const std::string& newName) {
  auto* table = dynamic_cast<TBRNVirtualTable*>(target);
  TBRNSchema* targetSchema = table != nullptr ? table->GetSchema() : nullptr;
  if (targetSchema == nullptr) return;
  for (int32_t i = 0; i < columns->Count(); ++i) {
    TBRNColumn* column = columns->GetItem(i);
    if (column->Origin.empty()) continue;
    std::string database;
    std::string schema;
    std::string tableName;
    std::string columnName;
    SplitQualifiedName(column->Origin, database, schema, columnName, tableName);
    const bool sameSchema = schema.empty() ? targetSchema == table->Catalog->DefaultSchema
                                           : TextEqualsIgnoreCase(schema, targetSchema->Name);
    if (!database.empty() || !sameSchema || !TextEqualsIgnoreCase(tableName, target->GetName()))
      continue;
    std::string origin;
    BuildQualifiedName("", schema, newName, origin, "", columnName);
    column->SetOrigin(origin);
  }
}

}  // namespace

void TBRNView::RegisterReferenceTo(TBRNConfigObject* target) {
  TBRNVirtualTable::RegisterReferenceTo(target);
  if (target == nullptr || target == this || !(isTableOrView(target) || isFunction(target))) return;
  Compile();
  if (SelectionHolds(ReferencedTables.get(), target) ||
      SelectionHolds(ReferencedFunctions.get(), target))
    AddReferrerOnce(target, this);
}

void TBRNView::ReplaceReferencedID(TBRNConfigObject* target, int32_t newID) {
  TBRNVirtualTable::ReplaceReferencedID(target, newID);
  if (target == nullptr || target == this) return;
  if (isTableOrView(target)) {
    Compile();
    if (SelectionHolds(ReferencedTables.get(), target)) ReferencedTables->SortByID();
  } else if (isFunction(target)) {
    Compile();
    if (SelectionHolds(ReferencedFunctions.get(), target)) ReferencedFunctions->SortByID();
  }
}

void TBRNView::ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) {
  TBRNVirtualTable::ReplaceReferencedName(target, newName);
  if (target == nullptr || target == this) return;
  if (isTableOrView(target)) {
    Compile();
    if (SelectionHolds(ReferencedTables.get(), target)) {
      Definition->RenameInText(tkTableReference, target->GetName(), newName);
      renameOrigins(Columns.get(), target, newName);
    }
  } else if (isFunction(target)) {
    Compile();
    if (SelectionHolds(ReferencedFunctions.get(), target))
      Definition->RenameInText(tkFunction, target->GetName(), newName);
  }
}

int64_t TBRNView::GetMemorySize() const {
  return TBRNVirtualTable::GetMemorySize() + int64_t(sizeof(TBRNView) - sizeof(TBRNVirtualTable)) +
         Definition->MemorySize() + int64_t(AlterSQL.capacity()) +
         ReferencedTables->GetMemorySize() + ReferencedFunctions->GetMemorySize();
}

void TBRNView::SaveToStream(TBRNMemoryStream& stream, bool structureOnly) {
  TBRNPrivilegedSchemaObject::SaveToStream(stream, structureOnly);
  saveTableLists(stream, structureOnly);
  stream.WriteString(Definition->SQL);
  stream.WriteBoolean(WithCheck);
  stream.WriteBoolean(Updateable);
}

void TBRNView::LoadFromStream(TBRNMemoryStream& stream) {
  TBRNPrivilegedSchemaObject::LoadFromStream(stream);
  loadTableLists(stream);
  const std::string text = readStoredString(stream);
  WithCheck = readStoredBoolean(stream);
  Updateable = readStoredBoolean(stream);
  // Reading a record is not a change of the catalog.
  const bool wasModified = Catalog != nullptr && Catalog->Modified;
  Definition->SetText(text);
  if (Catalog != nullptr) Catalog->Modified = wasModified;
}

std::string TBRNView::BuildDefinition(bool includeClauses) const {
  std::string text = "VIEW " + QuotedName(Name) + " AS\r\n" + trimTrailingControls(Definition->SQL);
  if (!includeClauses) return text;
  if (WithCheck) text += "\r\nWITH CHECK OPTION";
  const std::string description = trimTrailingControls(Description);
  if (!description.empty()) text += "\r\nDESCRIPTION " + QuotedText(description);
  text += "\r\nVERSION " + VersionText(Version);
  const std::string attributes = trimTrailingControls(Attributes);
  if (!attributes.empty()) text += "\r\nATTRIBUTES " + QuotedText(attributes);
  return text;
}

std::string TBRNView::GetCreateSQL(bool, bool) {
  return "CREATE " + BuildDefinition(true);
}

std::string TBRNView::GetDropSQL(bool, bool) {
  return "DROP VIEW " + QuotedName(Name);
}

std::string TBRNView::GetAlterSQL() {
  return AlterSQL;
}

void TBRNView::ComputeDifference(int32_t kind, TBRNConfigObject* other, char) {
  AlterSQL.clear();
  if (CreateOrDropDifference(*this, kind, AlterSQL)) return;
  auto* that = dynamic_cast<TBRNView*>(other);
  if (kind != 1 || that == nullptr || IsEqual(that, false)) return;
  AlterSQL = "ALTER " + that->BuildDefinition(false);
  if (WithCheck != that->WithCheck)
    AlterSQL += that->WithCheck ? "\r\nWITH CHECK OPTION" : "\r\nWITHOUT CHECK OPTION";
  if (Description != that->Description)
    AlterSQL += "\r\nDESCRIPTION " + QuotedText(trimTrailingControls(that->Description));
  if (Version != that->Version) AlterSQL += "\r\nVERSION " + VersionText(that->Version);
  if (Attributes != that->Attributes)
    AlterSQL += "\r\nATTRIBUTES " + QuotedText(trimTrailingControls(that->Attributes));
}

// ---------------------------------------------------------------------------
// Collections

namespace {

TBRNSchema* schemaOf(const TBRNConfigObjects* list) {
  return dynamic_cast<TBRNSchema*>(list->Owner);
}

}  // namespace

TBRNViews::TBRNViews(TBRNCatalog* catalog) : TBRNCollection(catalog) {}

TBRNView* TBRNViews::GetView(int32_t index) const {
  return static_cast<TBRNView*>(GetItem(index));
}

TBRNConfigObject* TBRNViews::CreateItemOwnedBy(TBRNUser* owner) {
  return new TBRNView(Catalog, owner);
}

std::string TBRNViews::GetObjectTypeName() const {
  return "view";
}

std::string TBRNViews::GetSystemTableName() const {
  return "Views";
}

void TBRNViews::CheckDuplicate(TBRNConfigObject* object) {
  TBRNSchema* schema = schemaOf(this);
  if (schema == nullptr || this != schema->Views.get()) {
    TBRNPrivilegedCatalogObjects::CheckDuplicate(object);
    return;
  }
  schema->CheckTableName(object);
  schema->CheckTableRoom(object);
}

void TBRNViews::Changed() {
  TBRNPrivilegedCatalogObjects::Changed();
  TBRNSchema* schema = schemaOf(this);
  if (schema != nullptr && this == schema->Views.get()) schema->RebuildAllTables();
}

TBRNTemporaryViews::TBRNTemporaryViews(TBRNCatalog* catalog) : TBRNCollection(catalog) {}

TBRNView* TBRNTemporaryViews::GetView(int32_t index) const {
  return static_cast<TBRNView*>(GetItem(index));
}

TBRNConfigObject* TBRNTemporaryViews::CreateItemOwnedBy(TBRNUser* owner) {
  return new TBRNView(Catalog, owner);
}

std::string TBRNTemporaryViews::GetObjectTypeName() const {
  return "derived table";
}

void TBRNTemporaryViews::SetModified(bool) {}

void TBRNTemporaryViews::CheckDuplicate(TBRNConfigObject* object) {
  std::vector<const TBRNConfigObjects*> lists;
  if (TBRNSchema* schema = schemaOf(this)) {
    lists = {schema->BaseTables.get(), schema->TemporaryTables.get(), schema->Views.get()};
  }
  lists.push_back(this);
  for (const TBRNConfigObjects* list : lists) {
    if (list == nullptr) continue;
    for (int32_t i = 0; i < list->Count(); ++i) {
      const TBRNConfigObject* member = list->GetItem(i);
      if (member != nullptr && member != object && SameKey(object, member))
        throw EBRNException(400, FormatText("The %s %s already exists",
                                            {member->GetObjectTypeName(), member->GetName()}));
    }
  }
}

}  // namespace brn

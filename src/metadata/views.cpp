#include "metadata/views.h"

#include <vector>

#include "foundation/core/memory_stream.h"
#include "foundation/text/collation.h"
#include "foundation/text/string_helpers.h"
#include "metadata/columns.h"
#include "metadata/ddl_text.h"
#include "metadata/indexes.h"
#include "metadata/privileges.h"
#include "sql/parser/expr_parser.h"
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
// list is one named table without joins. Stand-in until the catalog's full
// query analysis decides it.
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

std::vector<const TBRNExprToken*> visibleItems(const TBRNExprToken* query, int32_t& steps) {
  std::vector<const TBRNExprToken*> items;
  steps = 0;
  const TBRNExprToken* list = argumentOrNull(query, qpSelectList);
  if (list == nullptr) return items;
  for (const TBRNExprToken* item : list->Arguments()) {
    if (item == nullptr) continue;
    ++steps;
    if (!item->Hidden) items.push_back(item);
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

void TBRNViewDefinition::AfterCompile() {
  const TBRNExprToken* query = Root;
  const bool sensitive = isLiveQuery(query);
  int32_t steps = 0;
  const std::vector<const TBRNExprToken*> items = visibleItems(query, steps);

  // Whether the stored columns still describe the query.
  TBRNColumns* columns = View->Columns.get();
  bool matches = View->Updateable == sensitive;
  if (matches) {
    int32_t visibleColumns = 0;
    for (int32_t i = 0; i < columns->Count(); ++i)
      if (!columns->GetItem(i)->Internal) ++visibleColumns;
    matches = visibleColumns == int32_t(items.size()) && columns->Count() == visibleColumns + 1;
  }
  for (size_t p = 0; matches && p < items.size(); ++p) {
    const TBRNExprToken* item = items[p];
    const TBRNColumn* column = columns->GetItem(int32_t(p) + 1);
    matches = TextEqualsIgnoreCase(column->Name, itemName(item)) &&
              column->DataType == item->DataType && column->SubType == item->SubType &&
              column->Length == item->Size && column->Scale == item->Scale &&
              column->Collation == item->Collation;
  }
  if (matches) return;

  // Bringing the layout in step with the query is not a change.
  TBRNCatalog* catalog = View->Catalog;
  const bool wasModified = catalog != nullptr && catalog->Modified;
  View->Indexes->Clear();
  columns->Clear();
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
  View->SetUpdateable(sensitive);
  if (catalog != nullptr) catalog->Modified = wasModified;
}

// ---------------------------------------------------------------------------
// TBRNView

TBRNView::TBRNView(TBRNCatalog* catalog) : TBRNView(catalog, nullptr) {}

TBRNView::TBRNView(TBRNCatalog* catalog, TBRNUser* owner)
    : TBRNVirtualTable(catalog, owner), Definition(std::make_unique<TBRNViewDefinition>(this)) {}

TBRNView::~TBRNView() = default;

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
  Definition->Assign(that->Definition.get(), copyState);
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

int64_t TBRNView::GetMemorySize() const {
  return TBRNVirtualTable::GetMemorySize() + int64_t(sizeof(TBRNView) - sizeof(TBRNVirtualTable)) +
         Definition->MemorySize() + int64_t(AlterSQL.capacity());
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

void TBRNView::ComputeDifference(int32_t kind, TBRNConfigObject* other, char) {
  AlterSQL.clear();
  if (kind == 0) {
    AlterSQL = GetCreateSQL(false, false);
    return;
  }
  if (kind == 2) {
    AlterSQL = GetDropSQL(false, false);
    return;
  }
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

}  // namespace brn

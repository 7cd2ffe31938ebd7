#include "metadata/catalog/column_reference.h"

#include "foundation/core/memory_stream.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog/columns.h"
#include "metadata/core/referrer_helpers.h"

namespace brn {

TBRNColumnReference::TBRNColumnReference(TBRNCatalog* catalog) : TBRNCatalogObject(catalog) {}

TBRNColumn* TBRNColumnReference::GetColumn() {
  if (auto* cached = column_.Get(Config)) return static_cast<TBRNColumn*>(cached);
  TBRNColumns* columns = lookupColumns();
  if (columns == nullptr) return nullptr;
  auto* column = static_cast<TBRNColumn*>(columns->FindByID(ColumnID, true));
  column_.Set(column, Config);
  return column;
}

void TBRNColumnReference::SetColumn(TBRNColumn* column) {
  column_.Set(column, Config);
  const int32_t id = column != nullptr ? column->ID : 0;
  if (ColumnID == id) return;
  ColumnID = id;
  SetModified(true);
}

std::string TBRNColumnReference::GetName() const {
  try {
    TBRNColumn* column = const_cast<TBRNColumnReference*>(this)->GetColumn();
    return column != nullptr ? column->Name : std::string();
  } catch (const EBRNException&) {
    return std::string();
  }
}

bool TBRNColumnReference::HasName() const {
  return false;
}

void TBRNColumnReference::ResetLinks() {
  column_.Reset();
  TBRNCatalogObject::ResetLinks();
}

bool TBRNColumnReference::isColumnWithID(const TBRNConfigObject* target) const {
  return dynamic_cast<const TBRNColumn*>(target) != nullptr && target->ID == ColumnID;
}

void TBRNColumnReference::takeColumnID(int32_t newID) {
  ColumnID = newID;
  column_.Reset();
  SetModified(true);
}

void TBRNColumnReference::RegisterReferenceTo(TBRNConfigObject* target) {
  TBRNConfigObject* holder = holderObject();
  if (holder == nullptr || !isColumnWithID(target) || target != GetColumn()) return;
  AddReferrerOnce(target, holder);
}

void TBRNColumnReference::ReplaceReferencedID(TBRNConfigObject* target, int32_t newID) {
  if (!isColumnWithID(target) || target != GetColumn()) return;
  takeColumnID(newID);
}

void TBRNColumnReference::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNCatalogObject::Assign(source, copyState);
  auto* other = dynamic_cast<const TBRNColumnReference*>(source);
  if (other != nullptr && isSameKind(*other)) ColumnID = other->ColumnID;
  column_.Reset();
}

bool TBRNColumnReference::IsEqual(const TBRNConfigObject* other, bool compareIDs) const {
  auto* reference = dynamic_cast<const TBRNColumnReference*>(other);
  if (reference == nullptr || !isSameKind(*reference)) return false;
  if (compareIDs) return ColumnID == reference->ColumnID;
  return TextEqualsIgnoreCase(GetName(), reference->GetName());
}

void TBRNColumnReference::SaveToStream(TBRNMemoryStream& stream, bool structureOnly) {
  TBRNCatalogObject::SaveToStream(stream, structureOnly);
  stream.WriteInteger(ColumnID);
}

void TBRNColumnReference::LoadFromStream(TBRNMemoryStream& stream) {
  TBRNCatalogObject::LoadFromStream(stream);
  ColumnID = readStoredInteger(stream);
  column_.Reset();
}

std::string TBRNColumnReference::GetCreateSQL(bool, bool) {
  return QuoteString(GetName(), '"');
}

bool TBRNColumnReferences::SameKey(const TBRNConfigObject*, const TBRNConfigObject*) const {
  return false;
}

std::string TBRNColumnReferences::GetSQLSeparator() const {
  return ",";
}

}  // namespace brn

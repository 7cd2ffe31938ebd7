#include "metadata/catalog/indexes.h"

#include <vector>

#include "foundation/core/memory_stream.h"
#include "foundation/core/numeric_helpers.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "foundation/text/word_list.h"
#include "foundation/types/index_words.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/constraints.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/table_holder.h"
#include "metadata/config/config.h"
#include "metadata/core/ddl_text.h"
#include "metadata/core/referrer_helpers.h"
#include "metadata/modules/text_filters.h"
#include "sql/tree/expr_token.h"

namespace brn {

namespace {

constexpr int32_t kCaseInsensitiveBit = 1 << 20;
// Page header and link bytes of a B-tree page besides its four keys.
constexpr int32_t kIndexPageOverhead = 51;
constexpr int32_t kIndexPageAlignment = 8;
// Bytes a text index key holds besides the word.
constexpr int32_t kTextKeyOverhead = 3;

bool isCollatedColumn(const TBRNColumn* column) {
  return column != nullptr && (IsTextDataType(column->DataType, column->SubType) ||
                               (column->DataType == dtLob && column->SubType == stClob));
}

bool isCharColumn(const TBRNColumn* column) {
  return column != nullptr && column->DataType == dtChar;
}

std::string collationNameOf(TBRNCatalog* catalog, int32_t collation) {
  if (catalog != nullptr) {
    if (TBRNConfig* config = catalog->GetConfiguration())
      return config->GetCollationName(collation);
  }
  return std::string();
}

}  // namespace

int32_t IndexPageSizeFor(int32_t keySize) {
  const int64_t raw = int64_t(keySize) * 4 + kIndexPageOverhead;
  const int64_t rounded =
      (raw + kIndexPageAlignment - 1) / kIndexPageAlignment * kIndexPageAlignment;
  return rounded > 2147483647 ? 2147483647 : int32_t(rounded);
}

// ---------------------------------------------------------------------------
// TBRNIndexColumn

TBRNIndexColumn::TBRNIndexColumn(TBRNCatalog* catalog) : TBRNColumnReference(catalog) {}

void TBRNIndexColumn::RaiseBlobInIndex() const {
  RaiseMetadataError("BLOB columns cannot be included in a non-text index");
}

void TBRNIndexColumn::RaiseNotTextColumn() const {
  RaiseMetadataError(
      "Columns that are not CHAR, VARCHAR, or CLOB columns cannot be included in a text index");
}

TBRNIndex* TBRNIndexColumn::GetIndex() const {
  return Owner != nullptr ? dynamic_cast<TBRNIndex*>(Owner->Owner) : nullptr;
}

TBRNColumns* TBRNIndexColumn::GetTableColumns() const {
  TBRNIndex* index = GetIndex();
  TBRNIndexes* indexes = index != nullptr ? index->GetIndexes() : nullptr;
  return indexes != nullptr ? indexes->GetColumns() : nullptr;
}

TBRNColumns* TBRNIndexColumn::lookupColumns() const {
  return GetTableColumns();
}

TBRNConfigObject* TBRNIndexColumn::holderObject() const {
  return GetIndex();
}

bool TBRNIndexColumn::isSameKind(const TBRNColumnReference& other) const {
  return dynamic_cast<const TBRNIndexColumn*>(&other) != nullptr;
}

void TBRNIndexColumn::SetColumn(TBRNColumn* column) {
  column_.Set(column, Config);
  if (column == nullptr || column->ID == ColumnID) return;
  ColumnID = column->ID;
  if (isCollatedColumn(column)) {
    Collation = column->Collation;
    TBRNIndex* index = GetIndex();
    if (index != nullptr && index->IsTextIndex()) Collation |= kCaseInsensitiveBit;
  } else {
    Collation = 0;
  }
  CollationFromColumn = true;
  SetModified(true);
}

void TBRNIndexColumn::SetCollation(int32_t collation) {
  if (!isCollatedColumn(GetColumn())) return;
  if (Collation == collation && !CollationFromColumn) return;
  Collation = collation;
  CollationFromColumn = false;
  SetModified(true);
}

void TBRNIndexColumn::SetDescending(bool on) {
  if (Descending == on) return;
  Descending = on;
  SetModified(true);
}

void TBRNIndexColumn::ColumnTypeChanged(TBRNColumn* column) {
  if (column == nullptr || column->ID != ColumnID || isCollatedColumn(column)) return;
  Collation = 0;
  CollationFromColumn = true;
  SetModified(true);
}

std::string TBRNIndexColumn::GetObjectTypeName() const {
  return "index column";
}

TBRNConfigObject* TBRNIndexColumn::GetRootObject() {
  TBRNIndex* index = GetIndex();
  return index != nullptr ? index->GetRootObject() : this;
}

void TBRNIndexColumn::RegisterReferenceTo(TBRNConfigObject* target) {
  TBRNIndex* index = GetIndex();
  if (index == nullptr || index->Internal) return;
  TBRNColumnReference::RegisterReferenceTo(target);
}

void TBRNIndexColumn::ReplaceReferencedID(TBRNConfigObject* target, int32_t newID) {
  if (isColumnWithID(target)) takeColumnID(newID);
}

void TBRNIndexColumn::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNColumnReference::Assign(source, copyState);
  if (auto* other = dynamic_cast<const TBRNIndexColumn*>(source)) {
    Collation = other->Collation;
    CollationFromColumn = other->CollationFromColumn;
    Descending = other->Descending;
  }
}

bool TBRNIndexColumn::IsEqual(const TBRNConfigObject* other, bool compareIDs) const {
  if (!TBRNColumnReference::IsEqual(other, compareIDs)) return false;
  auto* column = static_cast<const TBRNIndexColumn*>(other);
  return Collation == column->Collation && CollationFromColumn == column->CollationFromColumn &&
         Descending == column->Descending;
}

void TBRNIndexColumn::SaveToStream(TBRNMemoryStream& stream, bool structureOnly) {
  if (structureOnly) {
    // The structure form names the column instead of its ID.
    TBRNCatalogObject::SaveToStream(stream, true);
    stream.WriteString(GetName());
    stream.WriteInteger(Collation);
    return;
  }
  TBRNColumnReference::SaveToStream(stream, false);
  stream.WriteInteger(Collation);
  stream.WriteBoolean(CollationFromColumn);
  stream.WriteBoolean(Descending);
}

void TBRNIndexColumn::LoadFromStream(TBRNMemoryStream& stream) {
  TBRNColumnReference::LoadFromStream(stream);
  Collation = readStoredInteger(stream);
  CollationFromColumn = readStoredBoolean(stream);
  Descending = readStoredBoolean(stream);
}

void TBRNIndexColumn::Validate() {
  TBRNCatalogObject::Validate();
  TBRNColumn* column = GetColumn();
  if (column == nullptr) return;
  TBRNIndex* index = GetIndex();
  if (index != nullptr && index->IsTextIndex()) {
    if (!isCollatedColumn(column)) RaiseNotTextColumn();
  } else if (column->DataType == dtLob) {
    RaiseBlobInIndex();
  }
}

std::string TBRNIndexColumn::GetCreateSQL(bool, bool) {
  TBRNColumn* column = GetColumn();
  std::string text = QuoteString(column != nullptr ? column->Name : std::string(), '"');
  if (isCollatedColumn(column)) {
    std::string collation = collationNameOf(Catalog, Collation);
    if (!collation.empty()) text += " COLLATE " + QuoteString(collation, '"');
  }
  if (Descending) text += " DESC";
  return text;
}

// ---------------------------------------------------------------------------
// TBRNIndexColumns

TBRNIndexColumns::TBRNIndexColumns(TBRNCatalog* catalog) : TBRNCollection(catalog) {}

TBRNIndexColumn* TBRNIndexColumns::GetItem(int32_t index) const {
  return static_cast<TBRNIndexColumn*>(TBRNCatalogObjects::GetItem(index));
}

void TBRNIndexColumns::SetKeySize(int32_t size) {
  if (KeySize == size && PageSize != 0) return;
  KeySize = size;
  PageSize = IndexPageSizeFor(size);
}

void TBRNIndexColumns::ComputeKeySize() {
  auto* index = dynamic_cast<TBRNIndex*>(Owner);
  if (index != nullptr && index->IsTextIndex()) {
    SetKeySize(index->IndexedWordLength + kTextKeyOverhead);
    return;
  }
  TBRNColumns* columns = Count() > 0 ? GetItem(0)->GetTableColumns() : nullptr;
  if (Count() > 0 && columns == nullptr) return;
  // Columns that are not there (yet) add nothing: validation and loading
  // refuse them with their own errors.
  int64_t size = 0;
  for (int32_t i = 0; i < Count(); ++i) {
    auto* column = static_cast<TBRNColumn*>(columns->FindByID(GetItem(i)->ColumnID, false));
    if (column != nullptr) size += column->GetKeySize();
  }
  SetKeySize(size > 2147483647 ? 2147483647 : int32_t(size));
}

std::string TBRNIndexColumns::GetObjectTypeName() const {
  return "index column";
}

void TBRNIndexColumns::Changed() {
  TBRNColumnReferences::Changed();
  ComputeKeySize();
}

void TBRNIndexColumns::LoadFromStream(TBRNMemoryStream& stream) {
  TBRNColumnReferences::LoadFromStream(stream);
  // A stored column ID that the table does not hold is a damaged record.
  TBRNColumns* columns = Count() > 0 ? GetItem(0)->GetTableColumns() : nullptr;
  for (int32_t i = 0; columns != nullptr && i < Count(); ++i) {
    const int32_t id = GetItem(i)->ColumnID;
    if (columns->FindByID(id, false) == nullptr)
      GetItem(i)->RaiseMetadataError(
          FormatText("The stored column ID %s is invalid", {IntegerToString(id)}));
  }
  ComputeKeySize();
}

void TBRNIndexColumns::Validate() {
  TBRNColumnReferences::Validate();
  for (int32_t i = 0; i < Count(); ++i) GetItem(i)->Validate();
  ComputeKeySize();
}

void TBRNIndexColumns::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNColumnReferences::Assign(source, copyState);
  if (auto* other = dynamic_cast<const TBRNIndexColumns*>(source)) {
    KeySize = other->KeySize;
    PageSize = other->PageSize;
  }
}

// ---------------------------------------------------------------------------
// TBRNIndex

TBRNIndex::TBRNIndex(TBRNCatalog* catalog)
    : TBRNCatalogObject(catalog), Columns(std::make_unique<TBRNIndexColumns>(catalog)) {
  Columns->Owner = this;
}

TBRNIndex::~TBRNIndex() = default;

void TBRNIndex::RaiseWordLengthTooSmall() const {
  RaiseMetadataError(FormatText("The word size is below the minimum of %s",
                                {IntegerToString(kMinIndexedWordLength)}));
}

void TBRNIndex::RaiseWordLengthTooLarge() const {
  RaiseMetadataError(FormatText("The word size is above the maximum of %s",
                                {IntegerToString(kMaxIndexedWordLength)}));
}

void TBRNIndex::RaiseFilterColumnNotChar() const {
  RaiseMetadataError("The text filter type column must be a CHAR column");
}

TBRNIndexes* TBRNIndex::GetIndexes() const {
  return dynamic_cast<TBRNIndexes*>(Owner);
}

TBRNConfigObject* TBRNIndex::GetTable() const {
  TBRNIndexes* indexes = GetIndexes();
  return indexes != nullptr ? indexes->Owner : nullptr;
}

TBRNTableHolder* TBRNIndex::GetTableHolder() const {
  return TableHolderOf(GetTable());
}

void TBRNIndex::SetIndexType(int32_t value) {
  if (IndexType == value) return;
  IndexType = value;
  SetModified(true);
}

void TBRNIndex::SetOwnerConstraint(TBRNConfigObject* constraint) {
  ownerConstraint_.Set(constraint, Config);
  const int32_t id = constraint != nullptr ? constraint->ID : 0;
  if (OwnerConstraintID == id) return;
  OwnerConstraintID = id;
  SetModified(true);
}

void TBRNIndex::SetIndexedWordLength(int32_t value) {
  if (IndexedWordLength == value) return;
  IndexedWordLength = value;
  SetModified(true);
  Columns->ComputeKeySize();
}

void TBRNIndex::SetFilterTypeColumn(TBRNColumn* column) {
  filterTypeColumn_.Set(column, Config);
  const int32_t id = column != nullptr ? column->ID : 0;
  if (FilterTypeColumnID == id) return;
  FilterTypeColumnID = id;
  SetModified(true);
}

void TBRNIndex::SetWordGenerator(TBRNWordGenerator* generator) {
  wordGenerator_.Set(generator, Config);
  const int32_t id = generator != nullptr ? generator->ID : 0;
  const std::string name = generator != nullptr ? generator->Name : std::string();
  if (WordGeneratorID == id && WordGeneratorName == name) return;
  WordGeneratorID = id;
  WordGeneratorName = name;
  SetModified(true);
}

TBRNConfigObject* TBRNIndex::GetOwnerConstraint() {
  if (auto* cached = ownerConstraint_.Get(Config)) return cached;
  TBRNTableHolder* holder = GetTableHolder();
  if (holder == nullptr || !holder->IsBaseTable() || OwnerConstraintID == 0) return nullptr;
  TBRNConfigObjects* constraints = holder->GetConstraints();
  if (constraints == nullptr) return nullptr;
  TBRNConfigObject* found = constraints->FindByID(OwnerConstraintID, !holder->IsWorkingCopy());
  ownerConstraint_.Set(found, Config);
  return found;
}

TBRNColumn* TBRNIndex::GetFilterTypeColumn() {
  if (FilterTypeColumnID == 0) return nullptr;
  if (auto* cached = filterTypeColumn_.Get(Config)) return static_cast<TBRNColumn*>(cached);
  TBRNIndexes* indexes = GetIndexes();
  TBRNColumns* columns = indexes != nullptr ? indexes->GetColumns() : nullptr;
  if (columns == nullptr) return nullptr;
  auto* column = static_cast<TBRNColumn*>(columns->FindByID(FilterTypeColumnID, true));
  filterTypeColumn_.Set(column, Config);
  return column;
}

TBRNWordGenerator* TBRNIndex::GetWordGenerator() {
  if (auto* cached = wordGenerator_.Get(Config)) return static_cast<TBRNWordGenerator*>(cached);
  TBRNConfig* config = Catalog != nullptr ? Catalog->GetConfiguration() : nullptr;
  if (config == nullptr || config->WordGenerators == nullptr) return nullptr;
  const int64_t version = storedVersion();
  TBRNConfigObject* found = nullptr;
  if (version == 0 || version >= kFormatVersion203) {
    if (!WordGeneratorName.empty())
      found = config->WordGenerators->FindByName(WordGeneratorName, false);
  } else if (WordGeneratorID != 0) {
    found = config->WordGenerators->FindByID(WordGeneratorID, false);
  }
  if (found == nullptr)
    found = config->WordGenerators->FindByName(kDefaultWordGeneratorName, false);
  wordGenerator_.Set(found, Config);
  return static_cast<TBRNWordGenerator*>(found);
}

bool TBRNIndex::IsQueryResultIndex() const {
  return Internal &&
         (TextEqualsIgnoreCase(Name, "__OrderBy") || TextEqualsIgnoreCase(Name, "__Distinct") ||
          TextEqualsIgnoreCase(Name, "__GroupBy"));
}

std::string TBRNIndex::filterColumnName() {
  TBRNColumn* column = GetFilterTypeColumn();
  return column != nullptr ? column->Name : std::string();
}

std::string TBRNIndex::GetIndexDefinition(bool withDescriptions) {
  std::string text = IsTextIndex() ? "TEXT INDEX " : "INDEX ";
  text += QuoteString(Name, '"') + " ON " + QuoteString(GetParentName(), '"') + " (" +
          Columns->GetCreateSQL(false, false) + ")";
  if (!withDescriptions) return text;
  if (!Description.empty())
    text += "\r\nDESCRIPTION " + QuoteString(TrimTrailingBlanks(Description), '\'');
  if (IsTextIndex()) {
    text += "\r\nINDEXED WORD LENGTH " + IntegerToString(IndexedWordLength);
    if (FilterTypeColumnID != 0)
      text += "\r\nFILTER TYPE COLUMN " + QuoteString(filterColumnName(), '"');
    TBRNWordGenerator* generator = GetWordGenerator();
    const std::string generatorName =
        generator != nullptr
            ? generator->Name
            : (WordGeneratorName.empty() ? kDefaultWordGeneratorName : WordGeneratorName);
    text += "\r\nWORD GENERATOR " + QuoteString(generatorName, '"');
  }
  return text;
}

std::unique_ptr<TBRNWordList> TBRNIndex::BuildWordList(const std::string& text, bool searchMode) {
  const int32_t collation = Columns->Count() > 0 ? Columns->GetItem(0)->Collation : 0;
  auto words = std::make_unique<TBRNWordList>(collation);
  TBRNWordGenerator* generator = GetWordGenerator();
  const bool builtIn = generator == nullptr || generator->ModuleName.empty();
  const size_t maxLength = size_t(IndexedWordLength > 0 ? IndexedWordLength : 0);
  int32_t position = 1;
  std::string word;
  for (;;) {
    if (builtIn) {
      NextIndexWord(collation, text, position, word, searchMode);
    } else {
      generator->NextWord(collation, text, position, word, searchMode);
    }
    if (word.empty()) break;
    if (word.size() > maxLength) word.resize(maxLength);
    if (!word.empty()) words->Add(word);
  }
  return words;
}

std::string TBRNIndex::FilterText(const std::string& filterType, const std::string& text) {
  TBRNConfig* config = Catalog != nullptr ? Catalog->GetConfiguration() : nullptr;
  TBRNTextFilter* filter = config != nullptr && config->TextFilters != nullptr
                               ? config->TextFilters->FindFilterForType(filterType)
                               : nullptr;
  if (filter == nullptr) return text;
  std::string result;
  filter->Filter(filterType, text, result);
  return result;
}

void TBRNIndex::SetInternal(bool value) {
  if (Internal == value) return;
  Internal = value;
  SetModified(true);
}

void TBRNIndex::SetSystem(bool value) {
  TBRNCatalogObject::SetSystem(value);
  Columns->SetSystem(value);
}

void TBRNIndex::SetTransient(bool value) {
  TBRNCatalogObject::SetTransient(value);
  Columns->SetTransient(value);
}

void TBRNIndex::SetTemporary(bool value) {
  TBRNCatalogObject::SetTemporary(value);
  Columns->SetTemporary(value);
}

std::string TBRNIndex::GetObjectTypeName() const {
  return "index";
}

void TBRNIndex::ResetLinks() {
  ownerConstraint_.Reset();
  filterTypeColumn_.Reset();
  wordGenerator_.Reset();
  TBRNCatalogObject::ResetLinks();
}

void TBRNIndex::CollectReferrers() {
  if (Catalog == nullptr || Catalog->DefaultSchema == nullptr) return;
  Catalog->DefaultSchema->BaseTables->RegisterReferenceTo(this);
  Catalog->DefaultSchema->Views->RegisterReferenceTo(this);
}

TBRNConfigObject* TBRNIndex::GetRootObject() {
  TBRNConfigObject* table = GetTable();
  return table != nullptr ? table : this;
}

void TBRNIndex::RegisterReferenceTo(TBRNConfigObject* target) {
  if (IsConstraintIndex()) return;
  Columns->RegisterReferenceTo(target);
  if (!IsTextIndex() || target == nullptr) return;
  if (FilterTypeColumnID != 0 && dynamic_cast<TBRNColumn*>(target) != nullptr &&
      target->ID == FilterTypeColumnID && target == GetFilterTypeColumn())
    AddReferrerOnce(target, this);
  if (dynamic_cast<TBRNWordGenerator*>(target) != nullptr &&
      TextEqualsIgnoreCase(target->Name, WordGeneratorName))
    AddReferrerOnce(target, this);
}

void TBRNIndex::ReplaceReferencedID(TBRNConfigObject* target, int32_t newID) {
  if (IsConstraintIndex()) return;
  Columns->ReplaceReferencedID(target, newID);
  if (IsTextIndex() && FilterTypeColumnID != 0 && dynamic_cast<TBRNColumn*>(target) != nullptr &&
      target->ID == FilterTypeColumnID) {
    FilterTypeColumnID = newID;
    filterTypeColumn_.Reset();
    SetModified(true);
  }
}

void TBRNIndex::ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) {
  if (!IsTextIndex() || dynamic_cast<TBRNWordGenerator*>(target) == nullptr) return;
  if (!TextEqualsIgnoreCase(target->Name, WordGeneratorName)) return;
  WordGeneratorName = newName;
  SetModified(true);
}

void TBRNIndex::RemoveReferenceTo(TBRNConfigObject* target) {
  if (!IsTextIndex() || dynamic_cast<TBRNWordGenerator*>(target) == nullptr) return;
  if (!TextEqualsIgnoreCase(target->Name, WordGeneratorName)) return;
  WordGeneratorName.clear();
  WordGeneratorID = 0;
  wordGenerator_.Reset();
  SetModified(true);
}

void TBRNIndex::AddToSelection(TBRNSelectedConfigObjects* selection) {
  // Constraint-owned indexes are written by their constraint.
  if (OwnerConstraintID != 0) return;
  TBRNCatalogObject::AddToSelection(selection);
}

void TBRNIndex::ComputeDifference(int32_t kind, TBRNConfigObject* other, char) {
  AlterSQL.clear();
  if (CreateOrDropDifference(*this, kind, AlterSQL)) return;
  auto* index = dynamic_cast<TBRNIndex*>(other);
  if (index == nullptr || IsEqual(index, false)) return;
  AlterSQL = "ALTER " + index->GetIndexDefinition(false);
  if (Description != index->Description)
    AlterSQL += "\r\nDESCRIPTION " + QuoteString(TrimTrailingBlanks(index->Description), '\'');
  if (!index->IsTextIndex()) return;
  if (IndexedWordLength != index->IndexedWordLength)
    AlterSQL += "\r\nINDEXED WORD LENGTH " + IntegerToString(index->IndexedWordLength);
  if (!TextEqualsIgnoreCase(filterColumnName(), index->filterColumnName()))
    AlterSQL += "\r\nFILTER TYPE COLUMN " + QuoteString(index->filterColumnName(), '"');
  if (!TextEqualsIgnoreCase(WordGeneratorName, index->WordGeneratorName))
    AlterSQL += "\r\nWORD GENERATOR " + QuoteString(index->WordGeneratorName, '"');
}

int64_t TBRNIndex::GetMemorySize() const {
  return TBRNCatalogObject::GetMemorySize() +
         int64_t(sizeof(TBRNIndex) - sizeof(TBRNCatalogObject)) + Columns->GetMemorySize() +
         int64_t(WordGeneratorName.size() + AlterSQL.size());
}

int32_t TBRNIndex::GetObjectCount() const {
  return TBRNCatalogObject::GetObjectCount() + Columns->GetObjectCount();
}

void TBRNIndex::ResetAllLinks() {
  TBRNCatalogObject::ResetAllLinks();
  Columns->ResetAllLinks();
}

void TBRNIndex::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNCatalogObject::Assign(source, copyState);
  auto* other = dynamic_cast<const TBRNIndex*>(source);
  if (other == nullptr) return;
  IndexType = other->IndexType;
  IsPrimaryKey = other->IsPrimaryKey;
  Columns->Assign(other->Columns.get(), copyState);
  OwnerConstraintID = other->OwnerConstraintID;
  IndexedWordLength = other->IndexedWordLength;
  FilterTypeColumnID = other->FilterTypeColumnID;
  WordGeneratorID = other->WordGeneratorID;
  WordGeneratorName = other->WordGeneratorName;
  ResetLinks();
}

bool TBRNIndex::IsEqual(const TBRNConfigObject* other, bool compareIDs) const {
  auto* index = dynamic_cast<const TBRNIndex*>(other);
  if (index == nullptr || !TBRNCatalogObject::IsEqual(other, compareIDs)) return false;
  if (IndexType != index->IndexType || !Columns->IsEqual(index->Columns.get(), compareIDs))
    return false;
  if (compareIDs && OwnerConstraintID != index->OwnerConstraintID) return false;
  if (IndexedWordLength != index->IndexedWordLength) return false;
  if (compareIDs) {
    if (FilterTypeColumnID != index->FilterTypeColumnID) return false;
    if (WordGeneratorID != index->WordGeneratorID) return false;
  } else {
    auto* self = const_cast<TBRNIndex*>(this);
    auto* that = const_cast<TBRNIndex*>(index);
    if ((FilterTypeColumnID == 0) != (index->FilterTypeColumnID == 0)) return false;
    if (FilterTypeColumnID != 0 &&
        !TextEqualsIgnoreCase(self->filterColumnName(), that->filterColumnName()))
      return false;
  }
  return TextEqualsIgnoreCase(WordGeneratorName, index->WordGeneratorName);
}

int64_t TBRNIndex::storedVersion() const {
  if (auto* indexes = dynamic_cast<const TBRNCatalogObjects*>(Owner))
    return indexes->GetCollectionVersion();
  return GetVersion();
}

void TBRNIndex::SaveToStream(TBRNMemoryStream& stream, bool structureOnly) {
  TBRNCatalogObject::SaveToStream(stream, structureOnly);
  stream.WriteInteger(IndexType);
  Columns->SaveToStream(stream, structureOnly);
  if (structureOnly) {
    if (IsTextIndex()) stream.WriteInteger(IndexedWordLength);
    return;
  }
  if (IsConstraintIndex()) stream.WriteInteger(OwnerConstraintID);
  if (IsTextIndex()) {
    stream.WriteInteger(IndexedWordLength);
    stream.WriteInteger(FilterTypeColumnID);
    const int64_t version = storedVersion();
    if (version == 0 || version >= kFormatVersion203) {
      stream.WriteString(WordGeneratorName);
    } else {
      stream.WriteInteger(WordGeneratorID);
    }
  }
}

void TBRNIndex::LoadFromStream(TBRNMemoryStream& stream) {
  TBRNCatalogObject::LoadFromStream(stream);
  const int32_t type = readStoredInteger(stream);
  if (type < kIndexOrdinary || type > kIndexText)
    RaiseMetadataError(FormatText("The stored index type %s is invalid", {IntegerToString(type)}));
  IndexType = type;
  IsPrimaryKey = type == kIndexPrimaryKey;
  Columns->LoadFromStream(stream);
  OwnerConstraintID = IsConstraintIndex() ? readStoredInteger(stream) : 0;
  IndexedWordLength = kDefaultIndexedWordLength;
  FilterTypeColumnID = 0;
  WordGeneratorID = 0;
  WordGeneratorName.clear();
  if (IsTextIndex()) {
    IndexedWordLength = readStoredInteger(stream);
    FilterTypeColumnID = readStoredInteger(stream);
    const int64_t version = storedVersion();
    if (version == 0 || version >= kFormatVersion203) {
      WordGeneratorName = readStoredString(stream);
    } else {
      WordGeneratorID = readStoredInteger(stream);
    }
    Columns->ComputeKeySize();
  }
  ResetLinks();
}

void TBRNIndex::Validate() {
  TBRNCatalogObject::Validate();
  Columns->Validate();
  TBRNTableHolder* holder = GetTableHolder();
  if (holder != nullptr && holder->IsBaseTable() && holder->GetIndexPageSize() < Columns->PageSize)
    RaiseMetadataError(FormatText("The index page size is below the required of %s",
                                  {IntegerToString(Columns->PageSize)}));
  IsPrimaryKey = IndexType == kIndexPrimaryKey;
  if (!IsTextIndex()) return;
  if (IndexedWordLength < kMinIndexedWordLength) RaiseWordLengthTooSmall();
  if (IndexedWordLength > kMaxIndexedWordLength) RaiseWordLengthTooLarge();
  if (FilterTypeColumnID != 0 && !isCharColumn(GetFilterTypeColumn())) RaiseFilterColumnNotChar();
  const int64_t version = storedVersion();
  const bool byName = version == 0 || version >= kFormatVersion203;
  if (byName ? WordGeneratorName.empty() : WordGeneratorID == 0) {
    TBRNConfig* config = Catalog != nullptr ? Catalog->GetConfiguration() : nullptr;
    TBRNConfigObject* builtIn =
        config != nullptr && config->WordGenerators != nullptr
            ? config->WordGenerators->FindByName(kDefaultWordGeneratorName, false)
            : nullptr;
    if (builtIn != nullptr) {
      SetWordGenerator(static_cast<TBRNWordGenerator*>(builtIn));
    } else {
      WordGeneratorName = kDefaultWordGeneratorName;
      SetModified(true);
    }
  }
}

void TBRNIndex::CheckNotSystem() const {
  if (IsConstraintIndex() && OwnerConstraintID != 0) RaiseSystemObject();
  TBRNCatalogObject::CheckNotSystem();
}

std::string TBRNIndex::GetCreateSQL(bool, bool) {
  if (IsConstraintIndex()) return std::string();
  return "CREATE " + GetIndexDefinition(true);
}

std::string TBRNIndex::GetAlterSQL() {
  return AlterSQL;
}

std::string TBRNIndex::GetDropSQL(bool, bool) {
  return "DROP INDEX " + QuoteString(Name, '"') + " FROM " + QuoteString(GetParentName(), '"');
}

// ---------------------------------------------------------------------------
// TBRNIndexes

TBRNIndex* TBRNIndexes::GetItem(int32_t index) const {
  return static_cast<TBRNIndex*>(TBRNCatalogObjects::GetItem(index));
}

int32_t TBRNIndexes::IndexOfType(int32_t type) const {
  for (int32_t i = 0; i < Count(); ++i) {
    if (GetItem(i)->IndexType == type) return i;
  }
  return -1;
}

TBRNColumns* TBRNIndexes::GetColumns() const {
  auto* holder = dynamic_cast<TBRNColumnsHolder*>(Owner);
  return holder != nullptr ? holder->GetColumns() : nullptr;
}

namespace {

// The column references node stands for: its arguments for a row value,
// else node itself.
std::vector<const TBRNExprToken*> referencesOf(const TBRNExprToken* node) {
  std::vector<const TBRNExprToken*> references;
  if (node == nullptr) return references;
  if (node->Kind == tkRowValue) {
    for (const TBRNExprToken* argument : node->Arguments()) references.push_back(argument);
  } else {
    references.push_back(node);
  }
  return references;
}

bool isCharReference(const TBRNIndexColumn* column) {
  const TBRNColumn* tableColumn = const_cast<TBRNIndexColumn*>(column)->GetColumn();
  return tableColumn != nullptr && tableColumn->DataType == dtChar;
}

}  // namespace

int32_t TBRNIndexes::FindBestIndex(const TBRNExprToken* node) const {
  const std::vector<const TBRNExprToken*> references = referencesOf(node);
  if (references.empty()) return -1;
  int32_t best = -1;
  for (int32_t i = 0; i < Count(); ++i) {
    TBRNIndex* index = GetItem(i);
    TBRNIndexColumns* columns = index->Columns.get();
    if (index->IsTextIndex() || columns->Count() < int32_t(references.size())) continue;
    bool matches = true;
    for (size_t j = 0; j < references.size() && matches; ++j) {
      const TBRNExprToken* reference = references[j];
      TBRNIndexColumn* column = columns->GetItem(int32_t(j));
      matches = reference != nullptr && TextEqualsIgnoreCase(column->GetName(), reference->Name) &&
                (!isCharReference(column) || column->Collation == reference->Collation) &&
                column->Descending == columns->GetItem(0)->Descending;
    }
    if (matches && (best < 0 || columns->KeySize < GetItem(best)->Columns->KeySize)) best = i;
  }
  return best;
}

int32_t TBRNIndexes::FindTextIndex(const TBRNExprToken* node) const {
  const std::vector<const TBRNExprToken*> references = referencesOf(node);
  if (references.empty()) return -1;
  for (int32_t i = 0; i < Count(); ++i) {
    TBRNIndex* index = GetItem(i);
    TBRNIndexColumns* columns = index->Columns.get();
    if (!index->IsTextIndex() || columns->Count() < int32_t(references.size())) continue;
    bool matches = true;
    for (size_t j = 0; j < references.size() && matches; ++j) {
      const TBRNExprToken* reference = references[j];
      TBRNIndexColumn* column = columns->GetItem(int32_t(j));
      if (reference == nullptr || !TextEqualsIgnoreCase(column->GetName(), reference->Name)) {
        matches = false;
      } else if (column->Collation != reference->Collation) {
        matches = column->CollationFromColumn &&
                  (column->Collation & ~kCaseInsensitiveBit) == reference->Collation;
      }
    }
    if (matches) return i;
  }
  return -1;
}

std::string TBRNIndexes::GetObjectTypeName() const {
  return "index";
}

}  // namespace brn

#include "metadata/catalog/columns.h"

#include <limits>
#include <unordered_set>

#include "foundation/core/memory_stream.h"
#include "foundation/text/collation.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/schemas.h"
#include "metadata/config/config.h"
#include "metadata/core/referrer_helpers.h"

namespace brn {

namespace {

constexpr int32_t kCaseInsensitiveBit = 1 << 20;
constexpr int32_t kMaxCompression = 9;
constexpr int32_t kMaxScale = 4;
// The largest row-image size of a value that is not a LOB: a declared length
// plus the two-byte length prefix of variable data.
constexpr int32_t kMaxStoredSize = MaxDeclaredLength + 2;

bool isLob(TBRNDataTypeCode type) {
  return type == dtLob;
}

template <typename T>
void assignChanged(TBRNColumn& column, T& field, const T& value) {
  if (field == value) return;
  field = value;
  column.SetModified(true);
}

// An expression's text for DDL: trailing blanks and control characters cut.
std::string exprText(const TBRNCompiledExpr* expr) {
  return expr != nullptr ? TrimTrailingBlanks(expr->SQL) : std::string();
}

bool sameExpr(const TBRNCompiledExpr* a, const TBRNCompiledExpr* b) {
  if (a == nullptr || b == nullptr) return a == b;
  return a->Equals(b);
}

bool selectionHoldsID(const TBRNSelectedConfigObjects* list, int32_t id) {
  if (list == nullptr) return false;
  for (int32_t i = 0; i < list->Count(); ++i) {
    if (list->GetItem(i)->ID == id) return true;
  }
  return false;
}

}  // namespace

TBRNColumn* TBRNSelectedColumns::GetItem(int32_t index) const {
  return static_cast<TBRNColumn*>(TBRNSelectedConfigObjects::GetItem(index));
}

// ---------------------------------------------------------------------------
// TBRNColumn

TBRNColumn::TBRNColumn(TBRNCatalog* catalog) : TBRNCatalogObject(catalog) {}

TBRNColumn::~TBRNColumn() = default;

void TBRNColumn::RaiseInvalidDataType() const {
  RaiseMetadataError(FormatText("The data type %s is invalid", {DataTypeName(DataType, SubType)}));
}

void TBRNColumn::RaiseSizeTooSmall() const {
  RaiseMetadataError("The size is below the minimum of 1");
}

void TBRNColumn::RaiseSizeTooLarge() const {
  RaiseMetadataError(
      FormatText("The size is above the maximum of %s", {IntegerToString(MaxDeclaredLength)}));
}

void TBRNColumn::RaiseScaleTooSmall() const {
  RaiseMetadataError("The scale is below the minimum of 0");
}

void TBRNColumn::RaiseScaleTooLarge() const {
  RaiseMetadataError(
      FormatText("The scale is above the maximum of %s", {IntegerToString(kMaxScale)}));
}

void TBRNColumn::RaiseInvalidIdentityType() const {
  RaiseMetadataError(FormatText("The data type %s is invalid for an identity column",
                                {DataTypeName(DataType, SubType)}));
}

void TBRNColumn::RaiseIdentityWithDefault() const {
  RaiseMetadataError("Default expressions cannot be specified for identity columns");
}

void TBRNColumn::RaiseRestartNotIdentity() const {
  RaiseMetadataError("Only identity columns can have their sequence restarted");
}

void TBRNColumn::RaiseInvalidCompression() const {
  RaiseMetadataError(
      FormatText("The compression %s is invalid", {IntegerToString(BlobCompression)}));
}

void TBRNColumn::RaiseIdentityGenerated() const {
  RaiseMetadataError("Identity columns cannot be also generated columns");
}

void TBRNColumn::RaiseGeneratedWithDefault() const {
  RaiseMetadataError("Default expressions cannot be specified for generated columns");
}

TBRNColumns* TBRNColumn::GetColumns() const {
  return dynamic_cast<TBRNColumns*>(Owner);
}

TBRNConfigObject* TBRNColumn::GetTable() const {
  TBRNColumns* columns = GetColumns();
  return columns != nullptr ? columns->Owner : nullptr;
}

int64_t TBRNColumn::storedVersion() const {
  if (auto* columns = dynamic_cast<const TBRNCatalogObjects*>(Owner))
    return columns->GetCollectionVersion();
  return GetVersion();
}

// Setters ------------------------------------------------------------------

void TBRNColumn::SetDataType(TBRNDataTypeCode value) {
  TBRNDataTypeCode type = DataType;
  TBRNDataSubType subType = SubType;
  int32_t length = Length, size = Size, scale = Scale, collation = Collation;
  NormalizeDataType(value, type, subType, length, size, scale, collation);
  if (type == DataType && subType == SubType && length == Length && size == Size &&
      scale == Scale && collation == Collation)
    return;
  DataType = type;
  SubType = subType;
  Length = length;
  Size = size;
  Scale = scale;
  Collation = collation;
  SetModified(true);
}

void TBRNColumn::SetSubType(TBRNDataSubType value) {
  TBRNDataSubType subType = SubType;
  int32_t length = Length, size = Size, scale = Scale, collation = Collation;
  NormalizeDataSubType(DataType, value, subType, length, size, scale, collation);
  if (subType == SubType && length == Length && size == Size && scale == Scale &&
      collation == Collation)
    return;
  SubType = subType;
  Length = length;
  Size = size;
  Scale = scale;
  Collation = collation;
  SetModified(true);
}

void TBRNColumn::SetLength(int32_t value) {
  int32_t size = Size, length = Length;
  NormalizeDataLength(DataType, SubType, value, true, size, length);
  if (size == Size && length == Length) return;
  Size = size;
  Length = length;
  SetModified(true);
}

void TBRNColumn::SetScale(int32_t value) {
  int32_t scale = Scale;
  NormalizeScale(DataType, SubType, value, scale);
  assignChanged(*this, Scale, scale);
}

void TBRNColumn::SetCollation(int32_t value) {
  int32_t collation = Collation;
  NormalizeCollation(DataType, SubType, value, collation);
  assignChanged(*this, Collation, collation);
}

void TBRNColumn::SetCaseInsensitiveCollation(bool on) {
  SetCollation(on ? (Collation | kCaseInsensitiveBit) : (Collation & ~kCaseInsensitiveBit));
}

void TBRNColumn::SetNotNull(bool value) {
  assignChanged(*this, NotNull, value);
}

void TBRNColumn::SetNotNullErrorCode(int32_t value) {
  assignChanged(*this, NotNullErrorCode, value);
}

void TBRNColumn::SetNotNullErrorMessage(const std::string& value) {
  assignChanged(*this, NotNullErrorMessage, value);
}

void TBRNColumn::SetIdentity(bool value) {
  assignChanged(*this, Identity, value);
}

void TBRNColumn::SetIdentityByDefault(bool value) {
  assignChanged(*this, IdentityByDefault, value);
}

void TBRNColumn::SetIdentitySeed(int32_t value) {
  assignChanged(*this, IdentitySeed, value);
}

void TBRNColumn::SetIdentityIncrement(int32_t value) {
  assignChanged(*this, IdentityIncrement, value);
}

void TBRNColumn::SetBlobCompression(int32_t value) {
  assignChanged(*this, BlobCompression, value);
}

void TBRNColumn::SetOrigin(const std::string& value) {
  if (TextEqualsIgnoreCase(Origin, value)) return;
  Origin = value;
  SetModified(true);
}

void TBRNColumn::createGeneratedLists() {
  if (!UsedColumns) UsedColumns = std::make_unique<TBRNSelectedColumns>(Config);
  if (!UsedFunctions) UsedFunctions = std::make_unique<TBRNSelectedConfigObjects>(Config);
}

void TBRNColumn::freeGeneratedLists() {
  UsedColumns.reset();
  UsedFunctions.reset();
  CallsFunctions = false;
}

void TBRNColumn::createDefaultLists() {
  if (!DefaultUsedColumns) DefaultUsedColumns = std::make_unique<TBRNSelectedColumns>(Config);
  if (!DefaultUsedFunctions)
    DefaultUsedFunctions = std::make_unique<TBRNSelectedConfigObjects>(Config);
}

void TBRNColumn::freeDefaultLists() {
  DefaultUsedColumns.reset();
  DefaultUsedFunctions.reset();
}

void TBRNColumn::SetGenerated(bool on) {
  if (on == Generated) return;
  if (on) {
    SetComputed(false);
    createGeneratedLists();
    GeneratedExpr = std::make_unique<TBRNGeneratedColumnExpr>(this);
    Generated = true;
    SetReadOnly(true);
  } else {
    if (GeneratedExpr) GeneratedExpr->Uncompile();
    GeneratedExpr.reset();
    Generated = false;
    if (!Computed) freeGeneratedLists();
  }
  SetModified(true);
}

void TBRNColumn::SetComputed(bool on) {
  if (on == Computed) return;
  if (on) {
    SetGenerated(false);
    createGeneratedLists();
    ComputedExpr = std::make_unique<TBRNComputedColumnExpr>(this);
    Computed = true;
    SetReadOnly(true);
  } else {
    if (ComputedExpr) ComputedExpr->Uncompile();
    ComputedExpr.reset();
    Computed = false;
    if (!Generated) freeGeneratedLists();
  }
  SetModified(true);
}

void TBRNColumn::SetHasDefault(bool on) {
  if (on == HasDefault) return;
  if (on) {
    createDefaultLists();
    DefaultExpr = std::make_unique<TBRNDefaultColumnExpr>(this);
  } else {
    if (DefaultExpr) DefaultExpr->Uncompile();
    DefaultExpr.reset();
    freeDefaultLists();
  }
  HasDefault = on;
  SetModified(true);
}

void TBRNColumn::SetRestartIdentity(bool on) {
  if (on && !Identity) RaiseRestartNotIdentity();
  RestartIdentity = on;
}

// Queries ------------------------------------------------------------------

bool TBRNColumn::HasDependentColumns() const {
  return DependentColumns && DependentColumns->Count() > 0;
}

TBRNSelectedColumns* TBRNColumn::GetDependentColumns() {
  if (!DependentColumns) DependentColumns = std::make_unique<TBRNSelectedColumns>(Config);
  return DependentColumns.get();
}

int32_t TBRNColumn::GetRowSize() const {
  return isLob(DataType) ? kBlobReferenceSize : Size + 1;
}

// DDL ----------------------------------------------------------------------

std::string TBRNColumn::collationName() const {
  if (Catalog != nullptr) {
    if (TBRNConfig* config = Catalog->GetConfiguration())
      return config->GetCollationName(Collation);
  }
  return std::string();
}

std::string TBRNColumn::GetColumnDefinition(bool withDescription) const {
  std::string text = DataTypeDefinition(DataType, SubType, Length, Scale);
  if (IsTextDataType(DataType, SubType)) {
    std::string collation = collationName();
    if (!collation.empty()) text += " COLLATE " + QuoteString(collation, '"');
  }
  if (isLob(DataType) && BlobCompression != 0)
    text += " COMPRESSION " + IntegerToString(BlobCompression);
  if (Generated) {
    text += " GENERATED ALWAYS AS " + exprText(GeneratedExpr.get());
  } else if (Identity) {
    text += IdentityByDefault ? " GENERATED BY DEFAULT AS IDENTITY (START WITH "
                              : " GENERATED ALWAYS AS IDENTITY (START WITH ";
    text += IntegerToString(IdentitySeed) + ", INCREMENT BY " + IntegerToString(IdentityIncrement) +
            ")";
  } else if (Computed) {
    text += " COMPUTED ALWAYS AS " + exprText(ComputedExpr.get());
  } else if (HasDefault) {
    text += " DEFAULT " + exprText(DefaultExpr.get());
  }
  if (NotNull) {
    text += " NOT NULL";
    if (NotNullErrorCode != 0) {
      text += " ERROR CODE " + IntegerToString(NotNullErrorCode) + " MESSAGE " +
              QuoteString(TrimTrailingBlanks(NotNullErrorMessage), '\'');
    }
  }
  if (withDescription && !Description.empty())
    text += " DESCRIPTION " + QuoteString(TrimTrailingBlanks(Description), '\'');
  return text;
}

std::string TBRNColumn::GetCreateSQL(bool, bool) {
  return QuoteString(Name, '"') + " " + GetColumnDefinition(true);
}

std::string TBRNColumn::GetAlterSQL() {
  return AlterSQL;
}

std::string TBRNColumn::GetDropSQL(bool, bool) {
  return "DROP COLUMN " + QuoteString(Name, '"');
}

void TBRNColumn::ComputeDifference(int32_t kind, TBRNConfigObject* other, char) {
  AlterSQL.clear();
  if (kind == kDifferenceCreate) {
    AlterSQL = "ADD COLUMN " + GetCreateSQL(false, false);
  } else if (kind == kDifferenceAlter) {
    auto* column = dynamic_cast<TBRNColumn*>(other);
    if (column == nullptr || IsEqual(column, false)) return;
    AlterSQL =
        "ALTER COLUMN " + QuoteString(Name, '"') + " AS " + column->GetColumnDefinition(false);
    if (Description != column->Description)
      AlterSQL += " DESCRIPTION " + QuoteString(TrimTrailingBlanks(column->Description), '\'');
  } else if (kind == kDifferenceDrop) {
    AlterSQL = GetDropSQL(false, false);
  }
}

// Object overrides ---------------------------------------------------------

void TBRNColumn::SetInternal(bool value) {
  if (value == Internal) return;
  Internal = value;
  SetModified(true);
}

void TBRNColumn::SetReadOnly(bool value) {
  if (value == ReadOnly) return;
  ReadOnly = value;
  SetModified(true);
}

std::string TBRNColumn::GetObjectTypeName() const {
  return "column";
}

void TBRNColumn::CollectReferrers() {
  if (Catalog == nullptr || Catalog->DefaultSchema == nullptr) return;
  Catalog->DefaultSchema->BaseTables->RegisterReferenceTo(this);
  Catalog->DefaultSchema->Views->RegisterReferenceTo(this);
}

void TBRNColumn::PropagateRename(const std::string& newName) {
  if (Catalog == nullptr || Catalog->DefaultSchema == nullptr) {
    // A list without catalog: its own columns are the only referrers.
    if (TBRNColumns* columns = GetColumns()) columns->ReplaceReferencedName(this, newName);
    return;
  }
  Catalog->DefaultSchema->BaseTables->ReplaceReferencedName(this, newName);
  Catalog->DefaultSchema->Views->ReplaceReferencedName(this, newName);
}

void TBRNColumn::RegisterReferenceTo(TBRNConfigObject* target) {
  Compile();
  if (SelectionHolds(UsedColumns.get(), target) || SelectionHolds(UsedFunctions.get(), target) ||
      SelectionHolds(DefaultUsedColumns.get(), target) ||
      SelectionHolds(DefaultUsedFunctions.get(), target)) {
    TBRNSelectedConfigObjects* referrers = target->GetReferrers();
    if (!SelectionHolds(referrers, this)) referrers->AddObject(this);
  }
}

void TBRNColumn::ReplaceReferencedID(TBRNConfigObject* target, int32_t newID) {
  Compile();
  for (TBRNSelectedConfigObjects* list :
       {static_cast<TBRNSelectedConfigObjects*>(UsedColumns.get()), UsedFunctions.get(),
        static_cast<TBRNSelectedConfigObjects*>(DefaultUsedColumns.get()),
        DefaultUsedFunctions.get()}) {
    if (list != nullptr) list->ReplaceReferencedID(target, newID);
  }
}

void TBRNColumn::ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) {
  Compile();
  const std::string oldName = target->GetName();
  auto* targetColumn = dynamic_cast<TBRNColumn*>(target);
  // The column itself, or a column of the same list that an expression uses.
  auto renameIn = [&](TBRNCatalogExpr* expr, TBRNSelectedColumns* usedColumns,
                      TBRNSelectedConfigObjects* usedFunctions) {
    if (expr == nullptr) return;
    if (targetColumn != nullptr &&
        (targetColumn == this || SelectionHolds(usedColumns, targetColumn))) {
      expr->RenameInText(tkColumnReference, oldName, newName);
      SetModified(true);
    } else if (targetColumn == nullptr && SelectionHolds(usedFunctions, target)) {
      expr->RenameInText(tkFunction, oldName, newName);
      SetModified(true);
    }
  };
  if (Generated) renameIn(GeneratedExpr.get(), UsedColumns.get(), UsedFunctions.get());
  if (Computed) renameIn(ComputedExpr.get(), UsedColumns.get(), UsedFunctions.get());
  if (HasDefault) renameIn(DefaultExpr.get(), DefaultUsedColumns.get(), DefaultUsedFunctions.get());
}

int64_t TBRNColumn::GetMemorySize() const {
  int64_t size = TBRNCatalogObject::GetMemorySize() + sizeof(TBRNColumn) -
                 sizeof(TBRNCatalogObject) + StringMemSize(NotNullErrorMessage) +
                 StringMemSize(Origin) + StringMemSize(AlterSQL);
  for (const TBRNCompiledExpr* expr : {static_cast<const TBRNCompiledExpr*>(GeneratedExpr.get()),
                                       static_cast<const TBRNCompiledExpr*>(ComputedExpr.get()),
                                       static_cast<const TBRNCompiledExpr*>(DefaultExpr.get())}) {
    if (expr != nullptr) size += expr->MemorySize();
  }
  for (const TBRNConfigObject* list :
       {static_cast<const TBRNConfigObject*>(UsedColumns.get()),
        static_cast<const TBRNConfigObject*>(DependentColumns.get()),
        static_cast<const TBRNConfigObject*>(UsedFunctions.get()),
        static_cast<const TBRNConfigObject*>(DefaultUsedColumns.get()),
        static_cast<const TBRNConfigObject*>(DefaultUsedFunctions.get())}) {
    if (list != nullptr) size += list->GetMemorySize();
  }
  return size;
}

void TBRNColumn::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNCatalogObject::Assign(source, copyState);
  auto* other = dynamic_cast<const TBRNColumn*>(source);
  if (other == nullptr || other == this) return;
  DataType = other->DataType;
  SubType = other->SubType;
  Length = other->Length;
  Size = other->Size;
  Scale = other->Scale;
  Collation = other->Collation;
  NotNull = other->NotNull;
  NotNullErrorCode = other->NotNullErrorCode;
  NotNullErrorMessage = other->NotNullErrorMessage;
  SetGenerated(other->Generated);
  if (Generated) GeneratedExpr->Assign(other->GeneratedExpr.get(), copyState);
  Identity = other->Identity;
  IdentityByDefault = other->IdentityByDefault;
  IdentitySeed = other->IdentitySeed;
  IdentityIncrement = other->IdentityIncrement;
  SetComputed(other->Computed);
  if (Computed) ComputedExpr->Assign(other->ComputedExpr.get(), copyState);
  SetHasDefault(other->HasDefault);
  if (HasDefault) DefaultExpr->Assign(other->DefaultExpr.get(), copyState);
  ReadOnly = other->ReadOnly;
  BlobCompression = other->BlobCompression;
  Origin = other->Origin;
  InUniqueKey = other->InUniqueKey;
  InPrimaryKey = other->InPrimaryKey;
  SourcePosition = other->SourcePosition;
  AlterSourcePosition = other->AlterSourcePosition;
}

bool TBRNColumn::IsEqual(const TBRNConfigObject* other, bool compareIDs) const {
  if (!TBRNCatalogObject::IsEqual(other, compareIDs)) return false;
  auto* column = dynamic_cast<const TBRNColumn*>(other);
  if (column == nullptr) return false;
  return DataType == column->DataType && SubType == column->SubType && Length == column->Length &&
         Size == column->Size && Scale == column->Scale && Collation == column->Collation &&
         NotNull == column->NotNull && NotNullErrorCode == column->NotNullErrorCode &&
         NotNullErrorMessage == column->NotNullErrorMessage && Generated == column->Generated &&
         sameExpr(GeneratedExpr.get(), column->GeneratedExpr.get()) &&
         Identity == column->Identity && IdentityByDefault == column->IdentityByDefault &&
         IdentitySeed == column->IdentitySeed && IdentityIncrement == column->IdentityIncrement &&
         Computed == column->Computed && sameExpr(ComputedExpr.get(), column->ComputedExpr.get()) &&
         HasDefault == column->HasDefault &&
         sameExpr(DefaultExpr.get(), column->DefaultExpr.get()) &&
         BlobCompression == column->BlobCompression &&
         TextEqualsIgnoreCase(Origin, column->Origin) && InUniqueKey == column->InUniqueKey &&
         InPrimaryKey == column->InPrimaryKey;
}

void TBRNColumn::SaveToStream(TBRNMemoryStream& stream, bool structureOnly) {
  TBRNCatalogObject::SaveToStream(stream, structureOnly);
  stream.WriteInteger(DataType);
  stream.WriteInteger(SubType);
  stream.WriteInteger(Length);
  stream.WriteInteger(Size);
  stream.WriteInteger(Scale);
  if (structureOnly) {
    stream.WriteBoolean(Identity);
    stream.WriteBoolean(Computed);
    stream.WriteInteger(BlobCompression);
    return;
  }
  const int64_t version = storedVersion();
  const bool newest = version == 0;
  stream.WriteInteger(Collation);
  stream.WriteBoolean(NotNull);
  if (newest || version >= kFormatVersion204) {
    stream.WriteInteger(NotNullErrorCode);
    stream.WriteString(NotNullErrorMessage);
  }
  if (newest || version > kFormatVersion100) {
    stream.WriteBoolean(Generated);
    if (Generated) GeneratedExpr->WriteToStream(stream);
  }
  stream.WriteBoolean(Identity);
  stream.WriteBoolean(IdentityByDefault);
  stream.WriteInteger(IdentitySeed);
  stream.WriteInteger(IdentityIncrement);
  stream.WriteBoolean(Computed);
  if (Computed) ComputedExpr->WriteToStream(stream);
  stream.WriteBoolean(HasDefault);
  if (HasDefault) DefaultExpr->WriteToStream(stream);
  stream.WriteInteger(BlobCompression);
  stream.WriteString(Origin);
  if (newest || version >= kFormatVersion107) {
    stream.WriteBoolean(InUniqueKey);
    stream.WriteBoolean(InPrimaryKey);
  }
}

void TBRNColumn::LoadFromStream(TBRNMemoryStream& stream) {
  TBRNCatalogObject::LoadFromStream(stream);
  const int32_t type = readStoredInteger(stream);
  const int32_t subType = readStoredInteger(stream);
  const int32_t length = readStoredInteger(stream);
  const int32_t size = readStoredInteger(stream);
  const int32_t scale = readStoredInteger(stream);
  if (type < dtNull || type > dtDayTimeInterval)
    RaiseMetadataError(FormatText("The stored data type %s is invalid", {IntegerToString(type)}));
  if (length < 0)
    RaiseMetadataError(FormatText("The stored length %s is invalid", {IntegerToString(length)}));
  if (size < 0 || (type != dtLob && size > kMaxStoredSize))
    RaiseMetadataError(FormatText("The stored size %s is invalid", {IntegerToString(size)}));
  if (scale < 0 || scale > kMaxScale)
    RaiseMetadataError(FormatText("The stored scale %s is invalid", {IntegerToString(scale)}));
  DataType = TBRNDataTypeCode(type);
  SubType = subType;
  Length = length;
  Size = size;
  Scale = scale;
  Collation = readStoredInteger(stream);
  NotNull = readStoredBoolean(stream);

  const int64_t version = storedVersion();
  const bool newest = version == 0;
  NotNullErrorCode = 0;
  NotNullErrorMessage.clear();
  if (newest || version >= kFormatVersion204) {
    NotNullErrorCode = readStoredInteger(stream);
    NotNullErrorMessage = readStoredString(stream);
  }
  // Each expression is switched on or off as its flag says before its text
  // is read. The flags are set directly: loading changes nothing.
  auto readExpr = [&](bool on, auto& expr, auto makeExpr) {
    if (!on) {
      expr.reset();
      return;
    }
    if (!expr) expr = makeExpr();
    expr->SetText(readStoredString(stream));
  };
  bool generated = false;
  if (newest || version > kFormatVersion100) generated = readStoredBoolean(stream);
  Generated = generated;
  if (generated) createGeneratedLists();
  readExpr(generated, GeneratedExpr,
           [this] { return std::make_unique<TBRNGeneratedColumnExpr>(this); });
  Identity = readStoredBoolean(stream);
  IdentityByDefault = readStoredBoolean(stream);
  IdentitySeed = readStoredInteger(stream);
  IdentityIncrement = readStoredInteger(stream);
  Computed = readStoredBoolean(stream);
  if (Computed) createGeneratedLists();
  if (!Generated && !Computed) freeGeneratedLists();
  readExpr(Computed, ComputedExpr,
           [this] { return std::make_unique<TBRNComputedColumnExpr>(this); });
  HasDefault = readStoredBoolean(stream);
  if (HasDefault) {
    createDefaultLists();
  } else {
    freeDefaultLists();
  }
  readExpr(HasDefault, DefaultExpr,
           [this] { return std::make_unique<TBRNDefaultColumnExpr>(this); });
  BlobCompression = readStoredInteger(stream);
  Origin = readStoredString(stream);
  InUniqueKey = false;
  InPrimaryKey = false;
  if (newest || version >= kFormatVersion107) {
    InUniqueKey = readStoredBoolean(stream);
    InPrimaryKey = readStoredBoolean(stream);
  }
}

void TBRNColumn::Validate() {
  TBRNCatalogObject::Validate();
  if (DataType == dtNull) RaiseInvalidDataType();
  if (DataType == dtChar || DataType == dtBytes) {
    if (Length <= 0) RaiseSizeTooSmall();
    if (Length > MaxDeclaredLength) RaiseSizeTooLarge();
  } else if (DataType == dtDecimal) {
    if (Scale < 0) RaiseScaleTooSmall();
    if (Scale > kMaxScale) RaiseScaleTooLarge();
  }
  if (isLob(DataType)) {
    if (BlobCompression < 0 || BlobCompression > kMaxCompression) RaiseInvalidCompression();
  } else if (BlobCompression != 0) {
    RaiseInvalidCompression();
  }
  if (Identity) {
    if (DataType != dtInteger) RaiseInvalidIdentityType();
    if (HasDefault) RaiseIdentityWithDefault();
  }
  if (Generated) {
    if (Identity) RaiseIdentityGenerated();
    if (HasDefault) RaiseGeneratedWithDefault();
  }
}

void TBRNColumn::Compile() {
  if (Generated && GetTable() != nullptr) GeneratedExpr->Compile();
  if (Computed) ComputedExpr->Compile();
  if (HasDefault) DefaultExpr->Compile();
}

void TBRNColumn::Uncompile() {
  if (GeneratedExpr) GeneratedExpr->Uncompile();
  if (ComputedExpr) ComputedExpr->Uncompile();
  if (DefaultExpr) DefaultExpr->Uncompile();
}

void TBRNColumn::CheckNotSystem() const {
  TBRNCatalogObject::CheckNotSystem();
  if (TextEqualsIgnoreCase(Name, "__RowID")) RaiseSystemObject();
}

// ---------------------------------------------------------------------------
// TBRNColumns

TBRNColumns::TBRNColumns(TBRNCatalog* catalog) : TBRNCollection(catalog) {}

TBRNColumns::~TBRNColumns() = default;

TBRNColumn* TBRNColumns::GetItem(int32_t index) const {
  return static_cast<TBRNColumn*>(TBRNCatalogObjects::GetItem(index));
}

TBRNSelectedColumns* TBRNColumns::derivedList(std::unique_ptr<TBRNSelectedColumns>& list) {
  if (!list) list = std::make_unique<TBRNSelectedColumns>(Config);
  return list.get();
}

bool TBRNColumns::HasBlobColumns() const {
  return BlobColumns && BlobColumns->Count() > 0;
}

TBRNSelectedColumns* TBRNColumns::GetBlobColumns() {
  return derivedList(BlobColumns);
}

bool TBRNColumns::HasRequiredColumns() const {
  return RequiredColumns && RequiredColumns->Count() > 0;
}

TBRNSelectedColumns* TBRNColumns::GetRequiredColumns() {
  return derivedList(RequiredColumns);
}

bool TBRNColumns::HasGeneratedColumns() const {
  return GeneratedColumns && GeneratedColumns->Count() > 0;
}

TBRNSelectedColumns* TBRNColumns::GetGeneratedColumns() {
  return derivedList(GeneratedColumns);
}

bool TBRNColumns::HasIdentityColumns() const {
  return IdentityColumns && IdentityColumns->Count() > 0;
}

TBRNSelectedColumns* TBRNColumns::GetIdentityColumns() {
  return derivedList(IdentityColumns);
}

TBRNSelectedColumns* TBRNColumns::GetComputedColumns() {
  return derivedList(ComputedColumns);
}

bool TBRNColumns::HasDefaultColumns() const {
  return DefaultColumns && DefaultColumns->Count() > 0;
}

TBRNSelectedColumns* TBRNColumns::GetDefaultColumns() {
  return derivedList(DefaultColumns);
}

void TBRNColumns::RebuildColumnLists() {
  for (auto* list : {&BlobColumns, &RequiredColumns, &GeneratedColumns, &IdentityColumns,
                     &ComputedColumns, &DefaultColumns}) {
    if (*list) (*list)->Clear();
  }
  int64_t rowSize = kRowHeaderSize;
  for (int32_t i = 0; i < Count(); ++i) {
    TBRNColumn* column = GetItem(i);
    if (rowSize > std::numeric_limits<int32_t>::max())
      RaiseMetadataError("The row size is above the maximum");
    column->RowOffset = int32_t(rowSize);
    if (column->DataType == dtLob) GetBlobColumns()->AddObject(column);
    if (column->NotNull) GetRequiredColumns()->AddObject(column);
    if (column->Generated) GetGeneratedColumns()->AddObject(column);
    if (column->Identity) GetIdentityColumns()->AddObject(column);
    if (column->Computed) GetComputedColumns()->AddObject(column);
    if (column->HasDefault) GetDefaultColumns()->AddObject(column);
    if (!column->Computed) rowSize += column->GetRowSize();
  }
  if (rowSize > std::numeric_limits<int32_t>::max())
    RaiseMetadataError("The row size is above the maximum");
  RowSize = int32_t(rowSize);
}

void TBRNColumns::BuildDependentColumns() {
  for (int32_t i = 0; i < Count(); ++i) {
    TBRNColumn* column = GetItem(i);
    if (column->DependentColumns) column->DependentColumns->Clear();
    for (int32_t j = 0; j < Count(); ++j) {
      TBRNColumn* other = GetItem(j);
      if (other == column || !(other->Generated || other->Computed)) continue;
      if (selectionHoldsID(other->UsedColumns.get(), column->ID))
        column->GetDependentColumns()->AddObject(other);
    }
    if (column->HasDependentColumns()) {
      column->DependentColumns->SortByID();
      column->DependentColumns->RemoveDuplicateIDs();
    }
  }
}

std::string TBRNColumns::GetObjectTypeName() const {
  return "column";
}

std::string TBRNColumns::GetParentName() const {
  // The columns of a derived table answer the alias written in the query.
  if (Owner != nullptr && Owner->Transient && Owner->GetObjectTypeName() == "derived table")
    return Owner->LoadedName;
  return TBRNCatalogObjects::GetParentName();
}

int64_t TBRNColumns::GetMemorySize() const {
  int64_t size =
      TBRNCatalogObjects::GetMemorySize() + sizeof(TBRNColumns) - sizeof(TBRNCatalogObjects);
  for (auto* list : {&BlobColumns, &RequiredColumns, &GeneratedColumns, &IdentityColumns,
                     &ComputedColumns, &DefaultColumns}) {
    if (*list) size += (*list)->GetMemorySize();
  }
  return size;
}

void TBRNColumns::Changed() {
  TBRNCatalogObjects::Changed();
  std::unordered_set<const TBRNConfigObject*> members;
  for (int32_t i = 0; i < Count(); ++i) members.insert(GetItem(i));
  for (int32_t i = 0; i < Count(); ++i) {
    TBRNColumn* column = GetItem(i);
    for (TBRNSelectedColumns* list : {column->UsedColumns.get(), column->DependentColumns.get(),
                                      column->DefaultUsedColumns.get()}) {
      if (list == nullptr) continue;
      for (int32_t j = list->Count() - 1; j >= 0; --j) {
        if (members.count(list->TBRNConfigObjects::GetItem(j)) == 0) list->RemoveObject(j);
      }
    }
  }
}

void TBRNColumns::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNCatalogObjects::Assign(source, copyState);
  Changed();
  RebuildColumnLists();
}

void TBRNColumns::LoadFromStream(TBRNMemoryStream& stream) {
  TBRNCatalogObjects::LoadFromStream(stream);
  // Columns of a catalog carry IDs of the catalog's counter, once each.
  if (Catalog != nullptr) {
    std::unordered_set<int32_t> ids;
    for (int32_t i = 0; i < Count(); ++i) {
      const int32_t id = GetItem(i)->ID;
      if (id <= 0 || !ids.insert(id).second)
        GetItem(i)->RaiseMetadataError(
            FormatText("The object ID %s is invalid", {IntegerToString(id)}));
    }
  }
  RebuildColumnLists();
}

void TBRNColumns::Validate() {
  TBRNCatalogObjects::Validate();
  RebuildColumnLists();
}

void TBRNColumns::Compile() {
  TBRNCatalogObjects::Compile();
  BuildDependentColumns();
}

}  // namespace brn

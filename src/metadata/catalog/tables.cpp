#include "metadata/catalog/tables.h"

#include <algorithm>
#include <stdexcept>

#include "foundation/core/memory_stream.h"
#include "foundation/core/numeric_helpers.h"
#include "foundation/text/collation.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "foundation/types/date_time.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/constraints.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/table_differences.h"
#include "metadata/catalog/triggers.h"
#include "metadata/config/authorization_root.h"
#include "metadata/config/users_roles.h"
#include "metadata/core/ddl_text.h"

namespace brn {

namespace {

// A size rounded up to a multiple of 8; values that cannot be rounded
// (negative, or too close to the int32 limit) are kept as given so that
// Validate reports them.
int32_t roundedSize(int32_t value) {
  if (value < 0 || value > INT32_MAX - 7) return value;
  return RoundUpToMultiple(value, 8);
}

}  // namespace

// ---------------------------------------------------------------------------
// TBRNPrivilegedSchemaObject

void TBRNPrivilegedSchemaObject::SetVersion(int64_t value) {
  if (Version == value) return;
  Version = value;
  SetModified(true);
}

TBRNSchema* TBRNPrivilegedSchemaObject::GetSchema() const {
  if (Owner != nullptr) {
    if (auto* schema = dynamic_cast<TBRNSchema*>(Owner->Owner)) return schema;
  }
  return nullptr;
}

bool TBRNPrivilegedSchemaObject::VersionLeadsRecord(int64_t formatVersion) {
  return formatVersion == 0 || formatVersion >= kFormatVersion204;
}

bool TBRNPrivilegedSchemaObject::HasAttributes() const {
  return true;
}

void TBRNPrivilegedSchemaObject::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNPrivilegedCatalogObject::Assign(source, copyState);
  if (auto* other = dynamic_cast<const TBRNPrivilegedSchemaObject*>(source))
    Version = other->Version;
}

bool TBRNPrivilegedSchemaObject::IsEqual(const TBRNConfigObject* other, bool compareIDs) const {
  auto* that = dynamic_cast<const TBRNPrivilegedSchemaObject*>(other);
  return that != nullptr && TBRNPrivilegedCatalogObject::IsEqual(other, compareIDs) &&
         Version == that->Version;
}

void TBRNPrivilegedSchemaObject::SaveToStream(TBRNMemoryStream& stream, bool structureOnly) {
  TBRNPrivilegedCatalogObject::SaveToStream(stream, structureOnly);
  if (structureOnly || VersionLeadsRecord(GetVersion())) stream.WriteInt64(Version);
}

void TBRNPrivilegedSchemaObject::LoadFromStream(TBRNMemoryStream& stream) {
  TBRNPrivilegedCatalogObject::LoadFromStream(stream);
  if (VersionLeadsRecord(GetVersion())) Version = readStoredInt64(stream);
}

// ---------------------------------------------------------------------------
// TBRNVirtualTable

TBRNVirtualTable::TBRNVirtualTable(TBRNCatalog* catalog) : TBRNVirtualTable(catalog, nullptr) {}

TBRNVirtualTable::TBRNVirtualTable(TBRNCatalog* catalog, TBRNUser* owner)
    : TBRNPrivilegedSchemaObject(catalog, owner),
      Columns(std::make_unique<TBRNColumns>(catalog)),
      Indexes(std::make_unique<TBRNIndexes>(catalog)),
      Triggers(std::make_unique<TBRNTriggers>(catalog)) {
  Columns->Owner = this;
  Indexes->Owner = this;
  Triggers->Owner = this;
}

TBRNVirtualTable::~TBRNVirtualTable() {
  // Members reach their table's other lists while they go.
  Triggers.reset();
  Indexes.reset();
  Columns.reset();
}

void TBRNVirtualTable::SetLockNumber(int32_t value) {
  if (LockNumber == value) return;
  LockNumber = value;
  SetModified(true);
}

TBRNColumn* TBRNVirtualTable::AddRowIDColumn() {
  auto column = std::make_unique<TBRNColumn>(Catalog);
  column->Name = kRowIDColumnName;
  column->Internal = true;
  column->SetDataType(dtInteger);
  Columns->AddObject(column.get());
  return column.release();
}

int32_t TBRNVirtualTable::GetLockOffset(uint8_t lockType) const {
  if (LockNumber < 1) return 0;
  const int64_t slot = int64_t(LockNumber) - 1;
  int64_t offset = 0;
  switch (lockType) {
    case 1:
    case 2:
      offset = kTableSharedLockBase + slot * 4096;
      break;
    case 3:
    case 4:
      offset = kTableReadLockBase + slot * 4096;
      break;
    case 5:
      offset = kTableTransactionLockBase + slot;
      break;
    default:
      return 0;
  }
  if (offset > INT32_MAX) throw std::out_of_range("table lock number out of range");
  return int32_t(offset);
}

int32_t TBRNVirtualTable::GetLockLength(uint8_t lockType) const {
  if (lockType >= 1 && lockType <= 4) return 4096;
  return lockType == 5 ? 1 : 0;
}

bool TBRNVirtualTable::ValidatesName() const {
  return !WorkingCopy;
}

void TBRNVirtualTable::SetSystem(bool value) {
  TBRNPrivilegedSchemaObject::SetSystem(value);
  Columns->SetSystem(value);
  Indexes->SetSystem(value);
  Triggers->SetSystem(value);
  if (TBRNConstraints* constraints = ownConstraints()) constraints->SetSystem(value);
}

void TBRNVirtualTable::SetTransient(bool value) {
  TBRNPrivilegedSchemaObject::SetTransient(value);
  Columns->SetTransient(value);
  Indexes->SetTransient(value);
  Triggers->SetTransient(value);
  if (TBRNConstraints* constraints = ownConstraints()) constraints->SetTransient(value);
}

void TBRNVirtualTable::SetTemporary(bool value) {
  TBRNPrivilegedSchemaObject::SetTemporary(value);
  Columns->SetTemporary(value);
  Indexes->SetTemporary(value);
  Triggers->SetTemporary(value);
  if (TBRNConstraints* constraints = ownConstraints()) constraints->SetTemporary(value);
}

void TBRNVirtualTable::ResetAllLinks() {
  TBRNPrivilegedSchemaObject::ResetAllLinks();
  Columns->ResetAllLinks();
  Indexes->ResetAllLinks();
  Triggers->ResetAllLinks();
  if (TBRNConstraints* constraints = ownConstraints()) constraints->ResetAllLinks();
}

void TBRNVirtualTable::Validate() {
  TBRNPrivilegedSchemaObject::Validate();
  Columns->Validate();
  Indexes->Validate();
  Triggers->Validate();
}

void TBRNVirtualTable::Compile() {
  TBRNPrivilegedSchemaObject::Compile();
  Columns->Compile();
  Triggers->Compile();
  if (TBRNConstraints* constraints = ownConstraints()) constraints->Compile();
}

void TBRNVirtualTable::Uncompile() {
  TBRNPrivilegedSchemaObject::Uncompile();
  Columns->Uncompile();
  Triggers->Uncompile();
  if (TBRNConstraints* constraints = ownConstraints()) constraints->Uncompile();
}

bool TBRNVirtualTable::IsReferencedBy(TBRNConfigObject* x) {
  if (TBRNPrivilegedSchemaObject::IsReferencedBy(x) || Columns->IsReferencedBy(x) ||
      Triggers->IsReferencedBy(x))
    return true;
  TBRNConstraints* constraints = ownConstraints();
  return constraints != nullptr && constraints->IsReferencedBy(x);
}

void TBRNVirtualTable::CollectReferrers() {
  if (Catalog == nullptr || Catalog->DefaultSchema == nullptr) return;
  Catalog->DefaultSchema->BaseTables->RegisterReferenceTo(this);
  Catalog->DefaultSchema->Views->RegisterReferenceTo(this);
}

void TBRNVirtualTable::PropagateRename(const std::string& newName) {
  if (Catalog == nullptr || Catalog->DefaultSchema == nullptr) return;
  Catalog->DefaultSchema->BaseTables->ReplaceReferencedName(this, newName);
  Catalog->DefaultSchema->Views->ReplaceReferencedName(this, newName);
}

void TBRNVirtualTable::RegisterReferenceTo(TBRNConfigObject* target) {
  TBRNPrivilegedSchemaObject::RegisterReferenceTo(target);
  Columns->RegisterReferenceTo(target);
  Indexes->RegisterReferenceTo(target);
  Triggers->RegisterReferenceTo(target);
  if (TBRNConstraints* constraints = ownConstraints()) constraints->RegisterReferenceTo(target);
}

void TBRNVirtualTable::ReplaceReferencedID(TBRNConfigObject* target, int32_t newID) {
  Columns->ReplaceReferencedID(target, newID);
  Indexes->ReplaceReferencedID(target, newID);
  Triggers->ReplaceReferencedID(target, newID);
  if (TBRNConstraints* constraints = ownConstraints())
    constraints->ReplaceReferencedID(target, newID);
}

void TBRNVirtualTable::ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) {
  // The owner and the grants follow a renamed user or role.
  TBRNPrivilegedSchemaObject::ReplaceReferencedName(target, newName);
  Columns->ReplaceReferencedName(target, newName);
  Indexes->ReplaceReferencedName(target, newName);
  Triggers->ReplaceReferencedName(target, newName);
  if (TBRNConstraints* constraints = ownConstraints())
    constraints->ReplaceReferencedName(target, newName);
}

void TBRNVirtualTable::RemoveReferenceTo(TBRNConfigObject* target) {
  // The grants to a dropped user or role go with it, so that a later
  // authorization of the same name does not inherit them.
  TBRNPrivilegedSchemaObject::RemoveReferenceTo(target);
  Indexes->RemoveReferenceTo(target);
}

int64_t TBRNVirtualTable::GetMemorySize() const {
  return TBRNPrivilegedSchemaObject::GetMemorySize() +
         int64_t(sizeof(TBRNVirtualTable) - sizeof(TBRNPrivilegedSchemaObject)) +
         Columns->GetMemorySize() + Indexes->GetMemorySize() + Triggers->GetMemorySize();
}

int32_t TBRNVirtualTable::GetObjectCount() const {
  return TBRNPrivilegedSchemaObject::GetObjectCount() + Columns->GetObjectCount() +
         Indexes->GetObjectCount() + Triggers->GetObjectCount();
}

void TBRNVirtualTable::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNPrivilegedSchemaObject::Assign(source, copyState);
  auto* other = dynamic_cast<const TBRNVirtualTable*>(source);
  if (other == nullptr) return;
  Columns->Assign(other->Columns.get(), copyState);
  Indexes->Assign(other->Indexes.get(), copyState);
  Triggers->Assign(other->Triggers.get(), copyState);
}

bool TBRNVirtualTable::IsEqual(const TBRNConfigObject* other, bool compareIDs) const {
  auto* that = dynamic_cast<const TBRNVirtualTable*>(other);
  return that != nullptr && TBRNPrivilegedSchemaObject::IsEqual(other, compareIDs) &&
         Columns->IsEqual(that->Columns.get(), compareIDs) &&
         Indexes->IsEqual(that->Indexes.get(), compareIDs) &&
         Triggers->IsEqual(that->Triggers.get(), compareIDs);
}

void TBRNVirtualTable::saveTableLists(TBRNMemoryStream& stream, bool structureOnly) {
  const int64_t version = GetVersion();
  Columns->SaveToStream(stream, structureOnly);
  Indexes->SaveToStream(stream, structureOnly);
  if (version == 0 || version > kFormatVersion102) Triggers->SaveToStream(stream, structureOnly);
  stream.WriteInteger(LockNumber);
}

void TBRNVirtualTable::loadTableLists(TBRNMemoryStream& stream) {
  const int64_t version = GetVersion();
  Columns->LoadFromStream(stream);
  Indexes->LoadFromStream(stream);
  if (version == 0 || version > kFormatVersion102) Triggers->LoadFromStream(stream);
  const int32_t lockNumber = readStoredInteger(stream);
  // 0 is a table that never got a number; negative numbers would address
  // regions before the table ranges.
  if (lockNumber < 0) RaiseMetadataError("The stored lock number is invalid");
  LockNumber = lockNumber;
}

// ---------------------------------------------------------------------------
// TBRNBaseTable

TBRNBaseTable::TBRNBaseTable(TBRNCatalog* catalog) : TBRNBaseTable(catalog, nullptr) {}

TBRNBaseTable::TBRNBaseTable(TBRNCatalog* catalog, TBRNUser* owner)
    : TBRNVirtualTable(catalog, owner), Constraints(std::make_unique<TBRNConstraints>(catalog)) {
  Constraints->Owner = this;
  RowSize = RoundUpToMultiple(Columns->RowSize, 8);
}

TBRNBaseTable::~TBRNBaseTable() {
  // The selections point into the lists; constraints reach the indexes and
  // columns while they go.
  difference_.reset();
  objects_.reset();
  ReferencedTables.reset();
  Constraints.reset();
}

void TBRNBaseTable::RaiseNoCandidateKey(const std::string& targetColumns) const {
  RaiseMetadataError(
      FormatText("No candidate keys exist in the %s table for the foreign key columns [%s]",
                 {Name, targetColumns}));
}

void TBRNBaseTable::RaiseInvalidCompression() const {
  RaiseMetadataError(
      FormatText("The compression %s is invalid", {IntegerToString(PublishCompression)}));
}

void TBRNBaseTable::changeInt(int32_t& field, int32_t value) {
  if (field == value) return;
  field = value;
  SetModified(true);
}

void TBRNBaseTable::SetEncrypted(bool value) {
  if (Encrypted == value) return;
  Encrypted = value;
  SetModified(true);
}

void TBRNBaseTable::SetIndexPageSize(int32_t value) {
  changeInt(IndexPageSize, roundedSize(value));
}
void TBRNBaseTable::SetBlobBlockSize(int32_t value) {
  changeInt(BlobBlockSize, roundedSize(value));
}
void TBRNBaseTable::SetPublishBlockSize(int32_t value) {
  changeInt(PublishBlockSize, roundedSize(value));
}
void TBRNBaseTable::SetMaxRowBufferSize(int32_t value) {
  changeInt(MaxRowBufferSize, std::max(value, kMinRowBufferSize));
}
void TBRNBaseTable::SetMaxIndexBufferSize(int32_t value) {
  changeInt(MaxIndexBufferSize, std::max(value, kMinIndexBufferSize));
}
void TBRNBaseTable::SetMaxBlobBufferSize(int32_t value) {
  changeInt(MaxBlobBufferSize, std::max(value, kMinBlobBufferSize));
}
void TBRNBaseTable::SetMaxPublishBufferSize(int32_t value) {
  changeInt(MaxPublishBufferSize, std::max(value, kMinPublishBufferSize));
}
void TBRNBaseTable::SetPublishCompression(int32_t value) {
  changeInt(PublishCompression, value);
}
void TBRNBaseTable::SetPublishColumnMode(int32_t value) {
  changeInt(PublishColumnMode, value);
}

void TBRNBaseTable::SetPublished(bool value) {
  if (Published == value) return;
  Published = value;
  PublishedOn = value ? CurrentTimestamp(false) : 0;
  PublishID = value ? NewGUIDString() : std::string();
  SetModified(true);
}

void TBRNBaseTable::RenewPublishID() {
  if (!Published) return;
  PublishID = NewGUIDString();
  SetModified(true);
}

void TBRNBaseTable::UpdateStructureChecksum() {
  StructureChecksum = GetStructureChecksum();
  SetModified(true);
}

void TBRNBaseTable::SetStructureChecksum(uint32_t value) {
  StructureChecksum = value;
  SetModified(true);
}

TBRNConstraint* TBRNBaseTable::AddPrimaryKey(bool withoutIndex) {
  if (Columns->Count() == 0)
    throw std::logic_error("AddPrimaryKey: the table has no column to key on");
  TBRNColumn* keyColumn = Columns->GetItem(0);

  std::unique_ptr<TBRNConstraint> key(static_cast<TBRNConstraint*>(Constraints->NewItem()));
  key->Name = kInternalPrimaryKeyName;
  key->Internal = true;
  key->SetConstraintType(kConstraintPrimaryKey);
  std::unique_ptr<TBRNConstraintColumn> keyEntry(
      static_cast<TBRNConstraintColumn*>(key->Columns->NewItem()));
  keyEntry->SetColumn(keyColumn);
  key->Columns->AddObject(keyEntry.get());
  keyEntry.release();
  Constraints->AddObject(key.get());
  TBRNConstraint* constraint = key.release();
  if (withoutIndex) return constraint;

  std::unique_ptr<TBRNIndex> index(static_cast<TBRNIndex*>(Indexes->NewItem()));
  index->Name = kInternalPrimaryKeyName;
  index->Internal = true;
  index->SetIndexType(kIndexPrimaryKey);
  std::unique_ptr<TBRNIndexColumn> indexEntry(
      static_cast<TBRNIndexColumn*>(index->Columns->NewItem()));
  indexEntry->SetColumn(keyColumn);
  index->Columns->AddObject(indexEntry.get());
  indexEntry.release();
  Indexes->AddObject(index.get());
  TBRNIndex* added = index.release();
  added->SetOwnerConstraint(constraint);
  constraint->SetEnforcingIndex(added);
  return constraint;
}

void TBRNBaseTable::EnsurePrimaryKey() {
  for (int32_t i = 0; i < Constraints->Count(); ++i) {
    if (Constraints->GetItem(i)->ConstraintType == kConstraintPrimaryKey) return;
  }
  AddPrimaryKey(false);
}

bool TBRNBaseTable::RemoveInternalPrimaryKey(bool keepIndex) {
  for (int32_t i = 0; i < Constraints->Count(); ++i) {
    TBRNConstraint* constraint = Constraints->GetItem(i);
    if (!constraint->Internal || !TextEqualsIgnoreCase(constraint->Name, kInternalPrimaryKeyName))
      continue;
    if (!keepIndex && constraint->HasEnforcingIndex()) {
      TBRNIndex* index = constraint->GetEnforcingIndex();
      if (index != nullptr && index->Index >= 0 && index->Index < Indexes->Count() &&
          Indexes->GetItem(index->Index) == index)
        delete Indexes->RemoveObject(index->Index);
    }
    delete Constraints->RemoveObject(i);
    return true;
  }
  return false;
}

bool TBRNBaseTable::ReferencesTable(TBRNBaseTable* other) {
  if (other == nullptr || referencesWalk_) return false;
  referencesWalk_ = true;
  struct Guard {
    bool& Flag;
    ~Guard() { Flag = false; }
  } guard{referencesWalk_};
  for (int32_t i = 0; i < Constraints->Count(); ++i) {
    TBRNConstraint* constraint = Constraints->GetItem(i);
    if (constraint->ConstraintType != kConstraintForeignKey) continue;
    TBRNConfigObject* target = constraint->GetTargetTable();
    if (target == other || target == this) return true;
    auto* table = dynamic_cast<TBRNBaseTable*>(target);
    if (table != nullptr && table->ReferencesTable(other)) return true;
  }
  return false;
}

std::string TBRNBaseTable::GetObjectTypeName() const {
  return (Transient || Temporary) && !WorkingCopy ? "temporary table" : "table";
}

void TBRNBaseTable::CompleteDefinition() {
  AddRowIDColumn();
  AddPrimaryKey(false);
  ApplyDefaultGrants();
  TBRNAuthorizationRoot* root = AuthorizationRootOf(this);
  TBRNRole* publicRole = root != nullptr ? root->GetPublicRole() : nullptr;
  if (publicRole != nullptr && FindGrant(publicRole, pkSelect) < 0)
    Grant(SystemUserOf(this), publicRole, pkSelect);
  if (DefinitionCallback) DefinitionCallback(Catalog, this);
  Validate();
  TBRNVirtualTable::CompleteDefinition();
}

void TBRNBaseTable::GrantAll(TBRNUser* grantor, TBRNAuthorization* grantee) {
  for (int32_t kind : {pkSelect, pkInsert, pkUpdate, pkDelete, pkCreate, pkAlter, pkDrop})
    Grant(grantor, grantee, kind);
}

void TBRNBaseTable::GrantDefault(TBRNUser* grantor, TBRNAuthorization* grantee) {
  Grant(grantor, grantee, pkSelect);
  if (System) return;
  for (int32_t kind : {pkInsert, pkUpdate, pkDelete}) Grant(grantor, grantee, kind);
}

void TBRNBaseTable::ResetLinks() {
  BeingAltered = false;
  ReferencesChanged = false;
  AlterationFlags = 0;
  if (objects_) objects_->Clear();
  TBRNVirtualTable::ResetLinks();
}

void TBRNBaseTable::Validate() {
  TBRNVirtualTable::Validate();
  Constraints->Validate();
  if (!BeingAltered && !WorkingCopy && ID != 0) {
    // A self-reference (or a source entry) made before the table had an ID.
    Constraints->CompleteTableID(ID);
    for (int32_t i = 0; i < Constraints->Count(); ++i) {
      TBRNConstraint* foreignKey = Constraints->GetItem(i);
      if (foreignKey->ConstraintType != kConstraintForeignKey || foreignKey->TargetTableID == ID ||
          foreignKey->TargetTableID == 0)
        continue;
      auto* target = dynamic_cast<TBRNBaseTable*>(foreignKey->GetTargetTable());
      if (target == nullptr) continue;
      for (int32_t j = 0; j < target->Constraints->Count(); ++j) {
        TBRNConstraint* key = target->Constraints->GetItem(j);
        if (key->SourceConstraints == nullptr) continue;
        for (int32_t k = 0; k < key->SourceConstraints->Count(); ++k)
          key->SourceConstraints->GetItem(k)->SetSourceTableID(ID);
      }
    }
  }
  RowSize = RoundUpToMultiple(Columns->RowSize, 8);

  auto below = [this](const char* pattern, int32_t limit) {
    RaiseMetadataError(FormatText(pattern, {IntegerToString(limit)}));
  };
  if (IndexPageSize < kMinIndexPageSize)
    below("The index page size is below the minimum of %s", kMinIndexPageSize);
  if (IndexPageSize % 8 != 0) below("The index page size must be a multiple of %s", 8);
  if (BlobBlockSize < kMinBlockSize)
    below("The BLOB block size is below the minimum of %s", kMinBlockSize);
  if (BlobBlockSize % 8 != 0) below("The BLOB block size must be a multiple of %s", 8);
  if (PublishBlockSize < kMinBlockSize)
    below("The published updates log block size is below the minimum of %s", kMinBlockSize);
  if (PublishBlockSize % 8 != 0)
    below("The published updates log block size must be a multiple of %s", 8);
  if (MaxRowBufferSize < kMinRowBufferSize)
    below("The row buffer size is below the minimum of %s", kMinRowBufferSize);
  if (MaxIndexBufferSize < kMinIndexBufferSize)
    below("The index buffer size is below the minimum of %s", kMinIndexBufferSize);
  if (MaxBlobBufferSize < kMinBlobBufferSize)
    below("The BLOB buffer size is below the minimum of %s", kMinBlobBufferSize);
  if (MaxPublishBufferSize < kMinPublishBufferSize)
    below("The published updates log buffer size is below the minimum of %s",
          kMinPublishBufferSize);
  if (PublishCompression < 0 || PublishCompression > 9) RaiseInvalidCompression();
}

int64_t TBRNBaseTable::GetMemorySize() const {
  return TBRNVirtualTable::GetMemorySize() +
         int64_t(sizeof(TBRNBaseTable) - sizeof(TBRNVirtualTable)) + Constraints->GetMemorySize() +
         (ReferencedTables ? ReferencedTables->GetMemorySize() : 0) +
         int64_t(PublishID.size() + AlterSQL.size());
}

int32_t TBRNBaseTable::GetObjectCount() const {
  return TBRNVirtualTable::GetObjectCount() + Constraints->GetObjectCount();
}

void TBRNBaseTable::Assign(const TBRNConfigObject* source, bool copyState) {
  TBRNVirtualTable::Assign(source, copyState);
  auto* other = dynamic_cast<const TBRNBaseTable*>(source);
  if (other == nullptr) return;
  Encrypted = other->Encrypted;
  RowSize = other->RowSize;
  IndexPageSize = other->IndexPageSize;
  BlobBlockSize = other->BlobBlockSize;
  PublishBlockSize = other->PublishBlockSize;
  Constraints->Assign(other->Constraints.get(), copyState);
  MaxRowBufferSize = other->MaxRowBufferSize;
  MaxIndexBufferSize = other->MaxIndexBufferSize;
  MaxBlobBufferSize = other->MaxBlobBufferSize;
  MaxPublishBufferSize = other->MaxPublishBufferSize;
  PublishCompression = other->PublishCompression;
  Published = other->Published;
  PublishedOn = other->PublishedOn;
  PublishID = other->PublishID;
  PublishColumnMode = other->PublishColumnMode;
}

bool TBRNBaseTable::IsEqual(const TBRNConfigObject* other, bool compareIDs) const {
  auto* that = dynamic_cast<const TBRNBaseTable*>(other);
  return that != nullptr && TBRNVirtualTable::IsEqual(other, compareIDs) &&
         StructureChecksum == that->StructureChecksum && Encrypted == that->Encrypted &&
         RowSize == that->RowSize && IndexPageSize == that->IndexPageSize &&
         BlobBlockSize == that->BlobBlockSize && PublishBlockSize == that->PublishBlockSize &&
         Constraints->IsEqual(that->Constraints.get(), compareIDs) &&
         MaxRowBufferSize == that->MaxRowBufferSize &&
         MaxIndexBufferSize == that->MaxIndexBufferSize &&
         MaxBlobBufferSize == that->MaxBlobBufferSize;
}

void TBRNBaseTable::SaveToStream(TBRNMemoryStream& stream, bool structureOnly) {
  TBRNPrivilegedSchemaObject::SaveToStream(stream, structureOnly);
  if (structureOnly) {
    Columns->SaveToStream(stream, true);
    if (!WorkingCopy) {
      Indexes->SaveToStream(stream, true);
    } else {
      // A working copy keeps the indexes of the final table only: its
      // temporary constraint indexes without an owner are left out.
      for (int32_t i = 0; i < Indexes->Count(); ++i) {
        TBRNIndex* index = Indexes->GetItem(i);
        if (!index->IsConstraintIndex() || index->OwnerConstraintID != 0)
          index->SaveToStream(stream, true);
      }
    }
    stream.WriteBoolean(Encrypted);
    stream.WriteInteger(RowSize);
    stream.WriteInteger(IndexPageSize);
    stream.WriteInteger(BlobBlockSize);
    stream.WriteInteger(PublishBlockSize);
    stream.WriteInteger(PublishCompression);
    stream.WriteBoolean(Published);
    return;
  }
  const int64_t version = GetVersion();
  const bool newest = version == 0;
  saveTableLists(stream, false);
  stream.WriteInteger(int32_t(StructureChecksum));
  if (!VersionLeadsRecord(version)) stream.WriteInt64(Version);
  stream.WriteBoolean(Encrypted);
  stream.WriteInteger(RowSize);
  stream.WriteInteger(IndexPageSize);
  stream.WriteInteger(BlobBlockSize);
  if (newest || version >= kFormatVersion200) stream.WriteInteger(PublishBlockSize);
  Constraints->SaveToStream(stream, false);
  if (!newest && version <= kFormatVersion102) Triggers->SaveToStream(stream, false);
  if (newest || version > 10400) {
    stream.WriteInteger(MaxRowBufferSize);
    stream.WriteInteger(MaxIndexBufferSize);
    stream.WriteInteger(MaxBlobBufferSize);
  }
  if (newest || version >= kFormatVersion200) {
    stream.WriteInteger(MaxPublishBufferSize);
    stream.WriteInteger(PublishCompression);
    stream.WriteBoolean(Published);
    stream.WriteInt64(PublishedOn);
    stream.WriteString(PublishID);
  }
  if (newest || version >= kFormatVersion204) stream.WriteInteger(PublishColumnMode);
}

void TBRNBaseTable::LoadFromStream(TBRNMemoryStream& stream) {
  TBRNPrivilegedSchemaObject::LoadFromStream(stream);
  const int64_t version = GetVersion();
  const bool newest = version == 0;
  loadTableLists(stream);
  StructureChecksum = uint32_t(readStoredInteger(stream));
  if (!VersionLeadsRecord(version)) Version = readStoredInt64(stream);
  Encrypted = readStoredBoolean(stream);
  RowSize = readStoredInteger(stream);
  IndexPageSize = readStoredInteger(stream);
  BlobBlockSize = readStoredInteger(stream);
  if (newest || version >= kFormatVersion200) PublishBlockSize = readStoredInteger(stream);
  Constraints->LoadFromStream(stream);
  if (!newest && version <= kFormatVersion102) Triggers->LoadFromStream(stream);
  if (newest || version > 10400) {
    MaxRowBufferSize = readStoredInteger(stream);
    MaxIndexBufferSize = readStoredInteger(stream);
    MaxBlobBufferSize = readStoredInteger(stream);
  }
  if (newest || version >= kFormatVersion200) {
    MaxPublishBufferSize = readStoredInteger(stream);
    PublishCompression = readStoredInteger(stream);
    Published = readStoredBoolean(stream);
    PublishedOn = readStoredInt64(stream);
    PublishID = readStoredString(stream);
  }
  if (newest || version >= kFormatVersion204) PublishColumnMode = readStoredInteger(stream);
  if (RowSize < 0) RaiseMetadataError("The stored row size is invalid");
}

std::string TBRNBaseTable::GetCreateSQL(bool option1, bool option2) {
  std::string text = "CREATE TABLE " + QuotedName(Name) + "\r\n(\r\n";
  text += Columns->GetCreateSQL(true, false);
  const std::string constraints = Constraints->GetCreateSQL(option1, option2);
  if (!constraints.empty()) text += ",\r\n" + constraints;
  text += "\r\n)";
  const std::string description = TrimTrailingBlanks(Description);
  if (!description.empty()) text += "\r\nDESCRIPTION " + QuotedText(description);
  text += "\r\nVERSION " + VersionText(Version);
  text += ReadOnly ? "\r\nREADONLY" : "\r\nREADWRITE";
  text += Encrypted ? "\r\nENCRYPTED" : "\r\nUNENCRYPTED";
  const std::pair<const char*, int32_t> sizes[] = {
      {"INDEX PAGE SIZE ", IndexPageSize},
      {"BLOB BLOCK SIZE ", BlobBlockSize},
      {"PUBLISH BLOCK SIZE ", PublishBlockSize},
      {"PUBLISH COMPRESSION ", PublishCompression},
      {"MAX ROW BUFFER SIZE ", MaxRowBufferSize},
      {"MAX INDEX BUFFER SIZE ", MaxIndexBufferSize},
      {"MAX BLOB BUFFER SIZE ", MaxBlobBufferSize},
      {"MAX PUBLISH BUFFER SIZE ", MaxPublishBufferSize},
  };
  for (const auto& [clause, value] : sizes)
    text += "\r\n" + std::string(clause) + IntegerToString(value);
  const std::string attributes = TrimTrailingBlanks(Attributes);
  if (!attributes.empty()) text += "\r\nATTRIBUTES " + QuotedText(attributes);
  return text;
}

std::string TBRNBaseTable::GetPostCreateSQL() {
  if (!IsInReferenceCycle()) return "";
  return "ALTER TABLE " + QuotedName(Name) + "\r\n" + Constraints->GetCreateSQL(true, true);
}

std::string TBRNBaseTable::GetPreDropSQL() {
  if (!IsInReferenceCycle()) return "";
  return "ALTER TABLE " + QuotedName(Name) + "\r\n" + Constraints->GetDropSQL(true, true);
}

std::string TBRNBaseTable::GetDropSQL(bool, bool) {
  return "DROP TABLE " + QuotedName(Name);
}

std::string TBRNBaseTable::GetAlterSQL() {
  return AlterSQL;
}

// ---------------------------------------------------------------------------
// TBRNBaseTables

TBRNBaseTable* TBRNBaseTables::GetTable(int32_t index) const {
  return static_cast<TBRNBaseTable*>(GetItem(index));
}

TBRNConfigObject* TBRNBaseTables::CreateItemOwnedBy(TBRNUser* owner) {
  return new TBRNBaseTable(Catalog, owner);
}

std::string TBRNBaseTables::GetObjectTypeName() const {
  return "table";
}

}  // namespace brn

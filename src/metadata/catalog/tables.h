#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "metadata/catalog/catalog.h"
#include "metadata/catalog/catalog_object.h"
#include "metadata/catalog/table_holder.h"

namespace brn {

class TBRNBaseTableDifference;
class TBRNBaseTableObjects;
class TBRNColumns;
class TBRNConstraint;
class TBRNConstraintColumns;
class TBRNConstraints;
class TBRNIndex;
class TBRNReferencedTables;
class TBRNIndexes;
class TBRNSchema;
class TBRNTriggers;

// Defaults of a new base table.
inline constexpr int64_t kDefaultSchemaObjectVersion = 10000;  // 1.00
inline constexpr int32_t kDefaultIndexPageSize = 4096;
inline constexpr int32_t kDefaultBlobBlockSize = 512;
inline constexpr int32_t kDefaultPublishBlockSize = 512;
inline constexpr int32_t kDefaultMaxRowBufferSize = 32768;
inline constexpr int32_t kDefaultMaxIndexBufferSize = 65536;
inline constexpr int32_t kDefaultMaxBlobBufferSize = 32768;
inline constexpr int32_t kDefaultMaxPublishBufferSize = 32768;
// Lower limits that Validate enforces (and that the buffer setters clamp to).
inline constexpr int32_t kMinIndexPageSize = 1024;
inline constexpr int32_t kMinBlockSize = 64;
inline constexpr int32_t kMinRowBufferSize = 4096;
inline constexpr int32_t kMinIndexBufferSize = 8192;
inline constexpr int32_t kMinBlobBufferSize = 4096;
inline constexpr int32_t kMinPublishBufferSize = 4096;
// Lock regions of tables and views in the database lock file.
inline constexpr int32_t kTableSharedLockBase = 12289;
inline constexpr int32_t kTableReadLockBase = 16793601;
inline constexpr int32_t kTableTransactionLockBase = 16789505;
// Names of the internal row-ID column and primary key.
inline constexpr const char* kRowIDColumnName = "__RowID";
inline constexpr const char* kInternalPrimaryKeyName = "__PrimaryKey";

// What tables, views and routines share: the user's VERSION clause, an
// Attributes text, and the schema that holds them.
//
// Stored record: the privileged-object record, then Version (int64 scaled
// by 10000) when the format is 2.04 or later (older records carry it inside
// the table part); the structure-only record always has it here.
class TBRNPrivilegedSchemaObject : public TBRNPrivilegedCatalogObject {
 public:
  using TBRNPrivilegedCatalogObject::TBRNPrivilegedCatalogObject;

  int64_t Version = kDefaultSchemaObjectVersion;
  // Run-time only: the handle of the object's manager in its database's
  // manager list (0: none). Not stored, compared or assigned.
  int32_t ManagerHandle = 0;

  // Marks modified only when the value changes.
  void SetVersion(int64_t value);
  // The schema that owns the object's collection (nullptr when none).
  TBRNSchema* GetSchema() const;
  // Whether Version sits right after the privileged record at this format.
  static bool VersionLeadsRecord(int64_t formatVersion);

  bool HasAttributes() const override;
  void Assign(const TBRNConfigObject* source, bool copyState) override;
  bool IsEqual(const TBRNConfigObject* other, bool compareIDs) const override;
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  void LoadFromStream(TBRNMemoryStream& stream) override;
};

// A table or view: columns, indexes, triggers and the lock regions.
//
// Stored record (after the schema-object record): the columns, indexes and
// (from format 1.03) triggers records, then LockNumber.
class TBRNVirtualTable : public TBRNPrivilegedSchemaObject,
                         public TBRNTableHolder,
                         public TBRNLockNumbered {
 public:
  explicit TBRNVirtualTable(TBRNCatalog* catalog);
  TBRNVirtualTable(TBRNCatalog* catalog, TBRNUser* owner);
  ~TBRNVirtualTable() override;

  std::unique_ptr<TBRNColumns> Columns;
  std::unique_ptr<TBRNIndexes> Indexes;
  std::unique_ptr<TBRNTriggers> Triggers;
  int32_t LockNumber = 0;
  // Run-time only: the copy that ALTER TABLE builds among the temporary
  // tables, the copied table's Temporary flag, and the stored table while
  // its working copy exists.
  bool WorkingCopy = false;
  bool WasTemporary = false;
  bool BeingAltered = false;

  void SetLockNumber(int32_t value);
  // Appends the Internal INTEGER column "__RowID".
  TBRNColumn* AddRowIDColumn();

  // TBRNTableHolder / TBRNLockNumbered
  TBRNColumns* GetColumns() override { return Columns.get(); }
  TBRNIndexes* GetIndexes() override { return Indexes.get(); }
  TBRNTriggers* GetTriggers() override { return Triggers.get(); }
  TBRNConstraints* GetConstraints() override { return nullptr; }
  bool IsWorkingCopy() const override { return WorkingCopy; }
  int32_t GetLockNumber() const override { return LockNumber; }

  int32_t GetLockOffset(uint8_t lockType) const override;
  int32_t GetLockLength(uint8_t lockType) const override;
  bool ValidatesName() const override;
  void SetSystem(bool value) override;
  void SetTransient(bool value) override;
  void SetTemporary(bool value) override;
  void ResetAllLinks() override;
  void Validate() override;
  void Compile() override;
  void Uncompile() override;
  bool IsReferencedBy(TBRNConfigObject* x) override;
  void CollectReferrers() override;
  void PropagateRename(const std::string& newName) override;
  void RegisterReferenceTo(TBRNConfigObject* target) override;
  void ReplaceReferencedID(TBRNConfigObject* target, int32_t newID) override;
  void ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) override;
  void RemoveReferenceTo(TBRNConfigObject* target) override;
  int64_t GetMemorySize() const override;
  int32_t GetObjectCount() const override;
  void Assign(const TBRNConfigObject* source, bool copyState) override;
  bool IsEqual(const TBRNConfigObject* other, bool compareIDs) const override;

 protected:
  // Saves/loads the columns, indexes, triggers and LockNumber (items 2-5).
  void saveTableLists(TBRNMemoryStream& stream, bool structureOnly);
  void loadTableLists(TBRNMemoryStream& stream);
  // Constraints of base tables; nullptr for views.
  virtual TBRNConstraints* ownConstraints() const { return nullptr; }
};

// A stored (or temporary) table with its constraints, storage settings,
// publishing state and structure checksum.
//
// Stored record: see SaveToStream in tables.cpp; the structure-only record
// (the input of StructureChecksum) leaves out triggers, lock number,
// constraints, buffer sizes and the other publishing fields.
class TBRNBaseTable : public TBRNVirtualTable {
 public:
  explicit TBRNBaseTable(TBRNCatalog* catalog);
  TBRNBaseTable(TBRNCatalog* catalog, TBRNUser* owner);
  ~TBRNBaseTable() override;

  uint32_t StructureChecksum = 0;
  bool Encrypted = false;
  int32_t RowSize = 0;
  int32_t IndexPageSize = kDefaultIndexPageSize;
  int32_t BlobBlockSize = kDefaultBlobBlockSize;
  int32_t PublishBlockSize = kDefaultPublishBlockSize;
  std::unique_ptr<TBRNConstraints> Constraints;
  int32_t MaxRowBufferSize = kDefaultMaxRowBufferSize;
  int32_t MaxIndexBufferSize = kDefaultMaxIndexBufferSize;
  int32_t MaxBlobBufferSize = kDefaultMaxBlobBufferSize;
  int32_t MaxPublishBufferSize = kDefaultMaxPublishBufferSize;
  int32_t PublishCompression = 0;
  bool Published = false;
  int64_t PublishedOn = 0;
  std::string PublishID;
  int32_t PublishColumnMode = 0;
  // Run-time only: set while update files are loaded (ordering key of the
  // update sequence), and the text kept by the last difference.
  int64_t PendingUpdatePosition = 0;
  std::string AlterSQL;
  // Run-time links (table_differences.cpp): the tables linked through
  // foreign keys (created on first use), whether a key of this table is
  // referenced, whether its referencing foreign keys changed, and the
  // physical changes ALTER TABLE stores on its working copy.
  std::unique_ptr<TBRNReferencedTables> ReferencedTables;
  // Defines the columns of a table defined on demand (system information
  // tables); called by CompleteDefinition.
  std::function<void(TBRNCatalog*, TBRNBaseTable*)> DefinitionCallback;
  bool HasReferencingForeignKeys = false;
  bool ReferencesChanged = false;
  int32_t AlterationFlags = 0;

  // "No candidate keys exist in the %s table for the foreign key columns
  // [%s]" (code 100); targetColumns joined by "," without blanks.
  [[noreturn]] virtual void RaiseNoCandidateKey(const std::string& targetColumns) const;
  [[noreturn]] virtual void RaiseInvalidCompression() const;

  // Setters mark the catalog modified only when the value changes. Block
  // and page sizes are rounded up to a multiple of 8 (negative values are
  // stored as they are and fail Validate); buffer sizes are raised to
  // their minimum.
  void SetEncrypted(bool value);
  void SetIndexPageSize(int32_t value);
  void SetBlobBlockSize(int32_t value);
  void SetPublishBlockSize(int32_t value);
  void SetMaxRowBufferSize(int32_t value);
  void SetMaxIndexBufferSize(int32_t value);
  void SetMaxBlobBufferSize(int32_t value);
  void SetMaxPublishBufferSize(int32_t value);
  void SetPublishCompression(int32_t value);
  void SetPublishColumnMode(int32_t value);
  // True: PublishedOn := now, a new PublishID; false clears both.
  void SetPublished(bool value);
  void RenewPublishID();

  // CRC-32 of the structure-only record; both mark the catalog modified.
  void UpdateStructureChecksum();
  void SetStructureChecksum(uint32_t value);

  // The Internal primary key "__PrimaryKey" on column 0, with its index
  // unless withoutIndex.
  TBRNConstraint* AddPrimaryKey(bool withoutIndex);
  void EnsurePrimaryKey();
  bool RemoveInternalPrimaryKey(bool keepIndex);
  // Whether the table depends on other through foreign keys: a foreign key
  // targets other or this table itself, or its target table references
  // other. A walk that comes back to a table answers false there.
  bool ReferencesTable(TBRNBaseTable* other);

  // Differences and links (defined in table_differences.cpp).
  // The selection of the table's columns, constraints, indexes and
  // triggers, and the difference; both created on first use.
  TBRNBaseTableObjects* GetObjects();
  TBRNBaseTableDifference* GetDifference();
  // The table clauses (CR LF before each) that turn this table's settings
  // into newTable's.
  std::string BuildAlterClauses(TBRNBaseTable* newTable);
  // Called on the new definition with the stored table: the rebuild bits.
  int32_t GetPhysicalChanges(TBRNBaseTable* oldTable);
  // The first primary or unique key on exactly targetColumns (same column
  // IDs and data types, in order); RaiseNoCandidateKey when none.
  TBRNConstraint* FindCandidateKey(TBRNConstraintColumns* targetColumns);
  void RaiseIndexPageSizeToFit(TBRNIndex* index);
  // Copies column's collation to the index columns on it in key indexes.
  void SyncIndexCollations(TBRNColumn* column);
  bool HasReferencedTables() const;
  TBRNReferencedTables* GetReferencedTables();
  void RebuildReferencedTables();
  void ResetReferencedTables();
  // Before DROP TABLE: takes this table's foreign keys out of the source
  // lists of their target keys.
  void DetachForeignKeys();

  TBRNConstraints* GetConstraints() override { return Constraints.get(); }
  bool IsBaseTable() const override { return true; }
  int32_t GetIndexPageSize() const override { return IndexPageSize; }

  std::string GetObjectTypeName() const override;
  // A table defined on demand: the row-ID column and its primary key, the
  // default grants, Select for "Public", the callback's columns, Validate.
  void CompleteDefinition() override;
  void GrantAll(TBRNUser* grantor, TBRNAuthorization* grantee) override;
  void GrantDefault(TBRNUser* grantor, TBRNAuthorization* grantee) override;
  void ResetLinks() override;
  void Validate() override;
  int64_t GetMemorySize() const override;
  int32_t GetObjectCount() const override;
  void Assign(const TBRNConfigObject* source, bool copyState) override;
  bool IsEqual(const TBRNConfigObject* other, bool compareIDs) const override;
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  void LoadFromStream(TBRNMemoryStream& stream) override;
  std::string GetCreateSQL(bool option1, bool option2) override;
  std::string GetPostCreateSQL() override;
  std::string GetPreDropSQL() override;
  std::string GetDropSQL(bool option1, bool option2) override;
  std::string GetAlterSQL() override;
  void ComputeDifference(int32_t kind, TBRNConfigObject* other, char terminator) override;

 protected:
  TBRNConstraints* ownConstraints() const override { return Constraints.get(); }

 private:
  void changeInt(int32_t& field, int32_t value);

  bool referencesWalk_ = false;
  bool referencesRebuild_ = false;
  std::unique_ptr<TBRNBaseTableObjects> objects_;
  std::unique_ptr<TBRNBaseTableDifference> difference_;
};

// The base tables of a schema (owned).
class TBRNBaseTables : public TBRNCollection<TBRNBaseTable, TBRNPrivilegedCatalogObjects> {
 public:
  using TBRNCollection::TBRNCollection;
  TBRNBaseTable* GetTable(int32_t index) const;
  TBRNConfigObject* CreateItemOwnedBy(TBRNUser* owner) override;
  std::string GetObjectTypeName() const override;
  // The name must be free among the schema's tables, temporary tables and
  // views (defined in schemas.cpp, as it needs the schema).
  void CheckDuplicate(TBRNConfigObject* object) override;
  // The schema's list of all tables and views follows (schemas.cpp).
  void Changed() override;
};

}  // namespace brn

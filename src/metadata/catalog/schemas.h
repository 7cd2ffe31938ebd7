#pragma once

#include <array>
#include <memory>
#include <string>

#include "metadata/catalog/catalog_object.h"
#include "metadata/catalog/routines.h"
#include "metadata/catalog/schema_differences.h"
#include "metadata/catalog/tables.h"
#include "metadata/catalog/views.h"

namespace brn {

class TBRNReferencedTables;

// Every base table, then every view of a schema (not owned; rebuilt by the
// schema after each change of either list).
class TBRNVirtualTables : public TBRNReferenceList<TBRNPrivilegedCatalogObjects> {
 public:
  // The most tables and views a schema holds together, plus one: a schema
  // keeps at most kMaxSchemaTables - 1.
  static constexpr int32_t kMaxSchemaTables = 4096;

  explicit TBRNVirtualTables(TBRNCatalog* catalog);

  std::string GetObjectTypeName() const override;
  int32_t GetMaxCount() const override;
};

// The temporary tables of a schema and the working copies of tables being
// altered (owned, never stored, never mark the catalog modified).
class TBRNTemporaryTables : public TBRNCollection<TBRNBaseTable, TBRNPrivilegedCatalogObjects> {
 public:
  explicit TBRNTemporaryTables(TBRNCatalog* catalog);

  TBRNBaseTable* GetTable(int32_t index) const;
  TBRNConfigObject* CreateItemOwnedBy(TBRNUser* owner) override;
  std::string GetObjectTypeName() const override;
  void SetModified(bool value) override;
  // Across the schema's tables and views; a working copy bears its table's
  // name and is not checked.
  void CheckDuplicate(TBRNConfigObject* object) override;
};

// A schema of a catalog: its stored lists of base tables, views, procedures
// and functions, the temporary tables and derived tables, the lists of all
// tables and views and of all routines, the two working lists of
// multi-table operations, and the selection and difference of a schema
// comparison.
//
// Stored record: the privileged-object record, then the lists BaseTables,
// Views, Procedures and Functions in this order. Nothing else is stored.
//
// Names: base tables, temporary tables, views and derived tables share one
// namespace,
// procedures and functions another; a clash raises 400. A schema holds at
// most 4095 tables and views together; one more raises 405.
class TBRNSchema : public TBRNPrivilegedCatalogObject, public TBRNRoutineListHolder {
 public:
  explicit TBRNSchema(TBRNCatalog* catalog);
  TBRNSchema(TBRNCatalog* catalog, TBRNUser* owner);
  ~TBRNSchema() override;

  std::unique_ptr<TBRNVirtualTables> AllTables;
  std::unique_ptr<TBRNBaseTables> BaseTables;
  std::unique_ptr<TBRNTemporaryTables> TemporaryTables;
  std::unique_ptr<TBRNReferencedTables> OperationTables;
  std::unique_ptr<TBRNReferencedTables> TransactionTables;
  std::unique_ptr<TBRNViews> Views;
  std::unique_ptr<TBRNTemporaryViews> TemporaryViews;
  std::unique_ptr<TBRNRoutines> AllRoutines;
  std::unique_ptr<TBRNProcedures> Procedures;
  std::unique_ptr<TBRNFunctions> Functions;
  // Filled on demand (SortByDependencies), emptied by ResetLinks.
  std::unique_ptr<TBRNSchemaObjects> SchemaObjects;
  // The entries of the last comparison made on this schema.
  std::unique_ptr<TBRNSchemaDifference> SchemaDifference;

  // Refills AllTables with every base table, then every view; raises 405
  // when that reaches the maximum.
  void RebuildAllTables();
  // Raises 400 when a base table, temporary table, view or derived table
  // other than object bears object's name.
  void CheckTableName(TBRNConfigObject* object);
  // Raises 405 when adding object to the base tables or views would fill
  // AllTables. Checked before an addition, so a refused object stays the
  // caller's.
  void CheckTableRoom(const TBRNConfigObject* object) const;
  // Refills AllRoutines with every function, then every procedure.
  void RebuildAllRoutines();

  TBRNConfigObjects* GetProcedureList() override;
  TBRNConfigObjects* GetFunctionList() override;
  TBRNRoutines* GetAllRoutines() override;

  TBRNPrivilegedCatalogObject* CreateOwnedInCatalog(TBRNCatalog* catalog,
                                                    TBRNUser* owner) const override;
  TBRNPrivilegedCatalogObject* CreateInCatalog(TBRNCatalog* catalog) const override;

  std::string GetObjectTypeName() const override;
  void SetSystem(bool value) override;
  void SetTransient(bool value) override;
  void SetTemporary(bool value) override;
  void ResetLinks() override;
  void ResetAllLinks() override;
  void Assign(const TBRNConfigObject* source, bool copyState) override;
  bool IsEqual(const TBRNConfigObject* other, bool compareIDs) const override;
  void Validate() override;
  void Uncompile() override;
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  // A stored schema whose tables and views share a name is refused with the
  // metadata error (100).
  void LoadFromStream(TBRNMemoryStream& stream) override;
  int64_t GetMemorySize() const override;
  int32_t GetObjectCount() const override;
  void RegisterReferenceTo(TBRNConfigObject* target) override;
  void ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) override;

 private:
  void createLists();
  void checkStoredNames() const;
  std::array<TBRNPrivilegedCatalogObjects*, 4> storedLists() const;
  std::array<const TBRNConfigObjects*, 10> allLists() const;

  // Set while the schema is destroyed: the lists' change hooks then leave
  // the other lists alone.
  bool closing_ = false;
};

// The catalog's schema list.
class TBRNSchemas : public TBRNCollection<TBRNSchema, TBRNPrivilegedCatalogObjects> {
 public:
  explicit TBRNSchemas(TBRNCatalog* catalog);

  TBRNSchema* GetSchema(int32_t index) const;

  TBRNConfigObject* CreateItemOwnedBy(TBRNUser* owner) override;
  std::string GetObjectTypeName() const override;
  std::string GetSystemTableName() const override;
};

}  // namespace brn

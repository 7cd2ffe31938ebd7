#pragma once

#include <memory>
#include <string>

#include "metadata/catalog_object.h"

namespace brn {

// One stored member list of a schema (base tables, views, procedures or
// functions). The member classes come with their own lists; until then a
// list holds objects added in memory and reads only an empty stored list:
// a stored member is refused with the metadata error (a catalog this engine
// cannot read yet is never half-loaded).
class TBRNSchemaMembers : public TBRNPrivilegedCatalogObjects {
 public:
  TBRNSchemaMembers(TBRNCatalog* catalog, std::string kindWord, std::string tableName);

  std::string GetObjectTypeName() const override;
  std::string GetSystemTableName() const override;
  void LoadFromStream(TBRNMemoryStream& stream) override;

 private:
  std::string kindWord_;
  std::string tableName_;
};

// A schema of a catalog: its stored lists of base tables, views, procedures
// and functions.
//
// Stored record: the privileged-object record, then the lists BaseTables,
// Views, Procedures and Functions in this order.
class TBRNSchema : public TBRNPrivilegedCatalogObject {
 public:
  explicit TBRNSchema(TBRNCatalog* catalog);
  TBRNSchema(TBRNCatalog* catalog, TBRNUser* owner);
  ~TBRNSchema() override;

  std::unique_ptr<TBRNSchemaMembers> BaseTables;
  std::unique_ptr<TBRNSchemaMembers> Views;
  std::unique_ptr<TBRNSchemaMembers> Procedures;
  std::unique_ptr<TBRNSchemaMembers> Functions;

  TBRNPrivilegedCatalogObject* CreateOwnedInCatalog(TBRNCatalog* catalog,
                                                    TBRNUser* owner) const override;
  TBRNPrivilegedCatalogObject* CreateInCatalog(TBRNCatalog* catalog) const override;

  std::string GetObjectTypeName() const override;
  void SetSystem(bool value) override;
  void SetTransient(bool value) override;
  void SetTemporary(bool value) override;
  void ResetAllLinks() override;
  void Assign(const TBRNConfigObject* source, bool copyState) override;
  bool IsEqual(const TBRNConfigObject* other, bool compareIDs) const override;
  void Validate() override;
  void Uncompile() override;
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  void LoadFromStream(TBRNMemoryStream& stream) override;
  int64_t GetMemorySize() const override;
  int32_t GetObjectCount() const override;
  void RegisterReferenceTo(TBRNConfigObject* target) override;
  void ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) override;

 private:
  void createLists();
};

// The catalog's schema list.
class TBRNSchemas : public TBRNPrivilegedCatalogObjects {
 public:
  explicit TBRNSchemas(TBRNCatalog* catalog);

  TBRNSchema* GetSchema(int32_t index) const;

  TBRNConfigObject* CreateItem() override;
  TBRNConfigObject* CreateItemOwnedBy(TBRNUser* owner) override;
  std::string GetObjectTypeName() const override;
  std::string GetSystemTableName() const override;
};

}  // namespace brn

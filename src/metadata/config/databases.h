#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "metadata/config/privileges.h"

namespace brn {

class TBRNDatabaseContainer;

// Databases may number at most this many.
inline constexpr int32_t kMaxDatabaseCount = 4096;
// The ReservedNumber of a container made with an owner (stored and copied,
// read by nothing).
inline constexpr int32_t kDatabaseReservedNumber = 4096;

// What a database container needs of the catalog of its open database. The
// catalog root implements it; the database manager hangs the catalog on the
// container while the database is open. Used by the thread of the owning
// session.
class TBRNContainerCatalog {
 public:
  virtual ~TBRNContainerCatalog() = default;

  // The tables of the default schema that take part in the current
  // transaction: lock marks and transaction state of the container are passed
  // on to them.
  virtual void CollectTransactionTables(std::vector<TBRNPrivilegedConfigObject*>& tables) = 0;
  // The base tables, views, procedures and functions of the default schema,
  // whose members refer to users and roles (owners, grants).
  virtual void CollectAuthorizationHolders(std::vector<TBRNConfigObjects*>& holders) = 0;
  virtual int64_t GetCatalogMemorySize() const = 0;
  virtual int32_t GetCatalogObjectCount() const = 0;
};

// The hooks through which the configuration root lets its session open a
// database's catalog for a reference walk. The configuration root implements
// it next to TBRNConfigRoot; containers find it by a dynamic_cast of their
// Config (a root without it has no hooks, and no catalog gets opened).
// Each hook may raise; the containers say what happens then.
class TBRNCatalogHooks {
 public:
  virtual ~TBRNCatalogHooks() = default;

  // Around a walk that only reads the catalog (End runs also on failure).
  virtual void OnCatalogReadBegin(TBRNDatabaseContainer* database) = 0;
  virtual void OnCatalogReadEnd(TBRNDatabaseContainer* database) = 0;
  // Around a walk that changes the catalog.
  virtual void OnCatalogUpdateBegin(TBRNDatabaseContainer* database) = 0;
  virtual void OnCatalogUpdateCancel(TBRNDatabaseContainer* database) = 0;
  virtual void OnCatalogUpdateCommit(TBRNDatabaseContainer* database) = 0;
};

// The configuration's entry for one database: where its files lie (or that
// it lives in memory), whether its catalog file is encrypted, its default
// collation, its owner and grants. While the database is open, Catalog points
// at its catalog (not owned), and lock marks, transaction state and
// reference walks are passed on to the catalog's tables.
//
// Lock ranges, in the database's own lock file: Shared and Exclusive at 4096,
// Read and Write at 16793601 (16777216 bytes), Transaction at 16789505
// (4096 bytes).
//
// Stored record, after the privileged part: Path (string), InMemory (byte),
// EncryptedCatalog (byte, format above 1.06), ReservedNumber (int32),
// DefaultCollation (int32, format 2.04 on).
class TBRNDatabaseContainer : public TBRNPrivilegedConfigObject {
 public:
  // Owned by the System user; ReservedNumber 0 as in stored records of
  // containers that the record does not fill.
  explicit TBRNDatabaseContainer(TBRNConfigRoot* config);
  // Owned by owner; ReservedNumber 4096, DefaultCollation 0.
  TBRNDatabaseContainer(TBRNConfigRoot* config, TBRNUser* owner);
  static TBRNDatabaseContainer* CreateOwned(TBRNConfigRoot* config, TBRNUser* owner);

  std::string Path;  // empty for an in-memory database
  bool InMemory = false;
  bool EncryptedCatalog = false;
  int32_t DefaultCollation = 0;  // collation ID
  int32_t ReservedNumber = 0;
  TBRNContainerCatalog* Catalog = nullptr;  // the open database's catalog, not owned
  bool SessionPrivate = false;              // not stored; the two built-in databases

  // Assign and mark modified when the value differs (the path with case).
  void SetPath(const std::string& text);
  void SetInMemory(bool value);
  void SetEncryptedCatalog(bool value);
  void SetDefaultCollation(int32_t value);

  // 100 "The catalog was not read properly".
  [[noreturn]] virtual void RaiseCatalogNotRead() const;

  // Select, Create, Alter, Drop, Maintain, Backup, Restore; default Select.
  void GrantAll(TBRNUser* grantor, TBRNAuthorization* grantee) override;
  void GrantDefault(TBRNUser* grantor, TBRNAuthorization* grantee) override;

  std::string GetObjectTypeName() const override;
  // Empty: messages about databases never name a parent.
  std::string GetParentName() const override;
  std::string GetParentTypeName() const override;
  int32_t GetLockOffset(uint8_t lockType) const override;
  int32_t GetLockLength(uint8_t lockType) const override;

  // Write and Transaction marks, transaction lock counts and the
  // in-transaction state go to the container and then to every table of the
  // catalog's current transaction (ClearInTransaction: tables first).
  void MarkLocked(uint8_t lockType) override;
  void MarkUnlocked(uint8_t lockType) override;
  void IncTransactionLockCount() override;
  void DecTransactionLockCount() override;
  void SetInTransaction() override;
  void ClearInTransaction() override;

  void Assign(const TBRNConfigObject* source, bool copyState) override;
  bool IsEqual(const TBRNConfigObject* other, bool compareIDs) const override;
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  void LoadFromStream(TBRNMemoryStream& stream) override;

  // The owner and grants, then the catalog's tables, views and routines
  // between OnCatalogReadBegin and OnCatalogReadEnd; raises
  // RaiseCatalogNotRead when no catalog is hung on the container.
  void RegisterReferenceTo(TBRNConfigObject* target) override;
  // The owner and grants, then the catalog between OnCatalogUpdateBegin and
  // OnCatalogUpdateCommit. When the catalog part fails (no catalog, a hook or
  // a member raises), OnCatalogUpdateCancel runs and the call returns
  // normally: the catalog keeps its old names.
  void ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) override;
  void RemoveReferenceTo(TBRNConfigObject* target) override;

  int64_t GetMemorySize() const override;
  int32_t GetObjectCount() const override;
  std::string GetCreateSQL(bool option1, bool option2) override;
  std::string GetDropSQL(bool option1, bool option2) override;

 private:
  std::vector<TBRNPrivilegedConfigObject*> transactionTables() const;
  TBRNCatalogHooks* hooks() const;
  // The catalog part of ReplaceReferencedName / RemoveReferenceTo.
  template <typename Change>
  void updateCatalog(Change&& change);
};

// The databases of the configuration (at most 4096; system table
// "Databases").
class TBRNDatabaseContainers
    : public TBRNCollection<TBRNDatabaseContainer, TBRNPrivilegedConfigObjects, kMaxDatabaseCount> {
 public:
  explicit TBRNDatabaseContainers(TBRNConfigRoot* config);

  TBRNDatabaseContainer* GetDatabase(int32_t index) const;

  TBRNConfigObject* CreateItemOwnedBy(TBRNUser* owner) override;
  std::string GetObjectTypeName() const override;
  std::string GetParentName() const override;
  std::string GetParentTypeName() const override;
  std::string GetSystemTableName() const override;
};

}  // namespace brn

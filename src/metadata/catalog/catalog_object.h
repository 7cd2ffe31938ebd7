#pragma once

#include <cstdint>

#include "metadata/config/privileges.h"
#include "metadata/core/config_objects.h"

namespace brn {

class TBRNCatalog;
class TBRNUser;

// The four bases of every object of a database catalog. Each ties its object
// to the catalog that holds it: the object's Config is the catalog (as its
// TBRNConfigRoot), its format version and modified flag are the catalog's,
// and its ID comes from the catalog's counter. Catalog is nullptr for objects
// that belong to no catalog (the columns of a cursor or of a query result);
// they have no version, no modified flag and no IDs then.
//
// Used by the thread of the session that owns the catalog.
class TBRNCatalogObject : public TBRNConfigObject {
 public:
  explicit TBRNCatalogObject(TBRNCatalog* catalog);

  TBRNCatalog* Catalog;

  // A new object of the same class in catalog, owned by the caller.
  virtual TBRNCatalogObject* CreateInCatalog(TBRNCatalog* catalog) const;

  // The catalog's format version (0 without a catalog).
  int64_t GetVersion() const override;
  bool GetModified() const override;
  // Passed on to the catalog only for a member of a collection that is
  // neither System, Transient nor Temporary.
  void SetModified(bool value) override;
  // ID := the catalog's next ID while the ID is 0.
  void AssignID() override;
};

// A collection of catalog objects. FormatVersion stands in for the catalog's
// version when the collection belongs to no catalog (a cursor's column list
// received from a server carries the server's version there).
class TBRNCatalogObjects : public TBRNConfigObjects {
 public:
  explicit TBRNCatalogObjects(TBRNCatalog* catalog);

  TBRNCatalog* Catalog;
  int64_t FormatVersion = 0;

  // A new, empty collection of the same class in catalog (nullptr in the
  // base: a collection class that is copied overrides it).
  virtual TBRNCatalogObjects* CreateInCatalog(TBRNCatalog* catalog) const;
  // The version that gates the stored records of the members: the catalog's
  // with a catalog, else FormatVersion.
  int64_t GetCollectionVersion() const;

  int64_t GetVersion() const override;
  bool GetModified() const override;
  void SetModified(bool value) override;
};

// A privileged object (owner user, grants) of a catalog: schemas, tables,
// views and routines.
class TBRNPrivilegedCatalogObject : public TBRNPrivilegedConfigObject {
 public:
  // Owned by the System user.
  explicit TBRNPrivilegedCatalogObject(TBRNCatalog* catalog);
  // Owned by owner (the System user when nullptr).
  TBRNPrivilegedCatalogObject(TBRNCatalog* catalog, TBRNUser* owner);

  TBRNCatalog* Catalog;

  // New objects of the same class in catalog, owned by the caller.
  virtual TBRNPrivilegedCatalogObject* CreateOwnedInCatalog(TBRNCatalog* catalog,
                                                            TBRNUser* owner) const;
  virtual TBRNPrivilegedCatalogObject* CreateInCatalog(TBRNCatalog* catalog) const;

  int64_t GetVersion() const override;
  bool GetModified() const override;
  void SetModified(bool value) override;
  void AssignID() override;
};

// A collection of privileged catalog objects.
class TBRNPrivilegedCatalogObjects : public TBRNPrivilegedConfigObjects {
 public:
  explicit TBRNPrivilegedCatalogObjects(TBRNCatalog* catalog);

  TBRNCatalog* Catalog;

  // A new, empty collection of the same class (nullptr in the base).
  virtual TBRNPrivilegedCatalogObjects* CreateInCatalog(TBRNCatalog* catalog) const;

  int64_t GetVersion() const override;
  bool GetModified() const override;
  void SetModified(bool value) override;
};

// The root a catalog object points at through Config: the catalog itself, or
// nullptr without one.
TBRNConfigRoot* CatalogRootOf(TBRNCatalog* catalog);

}  // namespace brn

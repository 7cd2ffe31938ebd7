#pragma once

#include <cstdint>
#include <string>

#include "metadata/catalog/catalog_object.h"
#include "metadata/core/object_link.h"

namespace brn {

class TBRNColumn;
class TBRNColumns;

// A reference to one table column by ID, the common part of index key
// columns, constraint key columns and UPDATE OF columns. The column is
// looked up by ID in the list lookupColumns() answers and cached; the index,
// constraint or trigger that holds the reference (holderObject()) is what
// gets registered as the column's referrer.
//
// Stored record: the base record and ColumnID (subclasses append theirs).
class TBRNColumnReference : public TBRNCatalogObject {
 public:
  explicit TBRNColumnReference(TBRNCatalog* catalog);

  int32_t ColumnID = 0;

  // The column: cached, else looked up by ID (401 when the ID is missing;
  // nullptr when there is no column list to look in).
  virtual TBRNColumn* GetColumn();
  // Links column and takes its ID (0 for nullptr); marks the object
  // modified only when the ID changes.
  virtual void SetColumn(TBRNColumn* column);

  // The column's name; empty when the column cannot be resolved.
  std::string GetName() const override;
  bool HasName() const override;
  void ResetLinks() override;
  // Registers the holder as a referrer of target when target is the
  // referenced column.
  void RegisterReferenceTo(TBRNConfigObject* target) override;
  // Takes newID when target is the referenced column.
  void ReplaceReferencedID(TBRNConfigObject* target, int32_t newID) override;
  // Copies ColumnID from a reference of the same kind.
  void Assign(const TBRNConfigObject* source, bool copyState) override;
  // Only a reference of the same kind can be equal: compareIDs compares
  // ColumnID, otherwise the column names (case-insensitive).
  bool IsEqual(const TBRNConfigObject* other, bool compareIDs) const override;
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  void LoadFromStream(TBRNMemoryStream& stream) override;
  // The column's name in double quotes.
  std::string GetCreateSQL(bool option1, bool option2) override;

 protected:
  // The column list ColumnID is resolved in (nullptr when none).
  virtual TBRNColumns* lookupColumns() const = 0;
  // The index, constraint or trigger holding this reference (nullptr when
  // the reference is in no such object).
  virtual TBRNConfigObject* holderObject() const = 0;
  // Whether other belongs to the same class family as this reference.
  virtual bool isSameKind(const TBRNColumnReference& other) const = 0;

  // target is a column whose ID is ColumnID.
  bool isColumnWithID(const TBRNConfigObject* target) const;
  // Takes newID, drops the cached column and marks the object modified.
  void takeColumnID(int32_t newID);

  TBRNObjectLink column_;
};

// A list of column references (key columns, UPDATE OF columns). Entries
// have no key of their own, so the list checks no duplicate names; SQL
// texts separate them by commas.
class TBRNColumnReferences : public TBRNCatalogObjects {
 public:
  using TBRNCatalogObjects::TBRNCatalogObjects;

  bool SameKey(const TBRNConfigObject* a, const TBRNConfigObject* b) const override;
  std::string GetSQLSeparator() const override;
};

}  // namespace brn

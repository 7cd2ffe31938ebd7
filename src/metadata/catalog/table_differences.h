#pragma once

#include <cstdint>

#include "metadata/catalog/tables.h"
#include "metadata/core/object_selections.h"

namespace brn {

// Physical rebuilds that an alteration needs (GetPhysicalChanges).
inline constexpr int32_t kAlterEncryption = 0x3;
inline constexpr int32_t kAlterQueryResultIndex = 0x1009;
inline constexpr int32_t kAlterIndexPageSize = 0x19;
inline constexpr int32_t kAlterBlobBlockSize = 0x5;
inline constexpr int32_t kAlterPublishing = 0x21;

// The columns, constraints, indexes and triggers of a table (Internal ones
// left out), in that order: the input of a table's difference.
class TBRNBaseTableObjects : public TBRNSelectedConfigObjects {
 public:
  static std::unique_ptr<TBRNBaseTableObjects> CreateForTable(TBRNConfigRoot* config,
                                                              TBRNBaseTable* table);
  TBRNBaseTableObjects(TBRNConfigRoot* config, TBRNBaseTable* table);

  TBRNBaseTable* Table;

  void CollectObjects() override;
  // An empty column, constraint, index or trigger whose owner is the
  // table's list of that kind (it is not added); nullptr for other kinds.
  TBRNConfigObject* NewItemLike(TBRNConfigObject* object) override;
};

class TBRNBaseTableDifference : public TBRNConfigObjectsDifference {
 public:
  using TBRNConfigObjectsDifference::TBRNConfigObjectsDifference;
};

// A non-owning list of tables linked to a table through foreign keys, or of
// the tables a transaction, a backup or an update load works on. It never
// marks the catalog modified and does not react to membership changes.
class TBRNReferencedTables : public TBRNReferenceList<TBRNBaseTables> {
 public:
  explicit TBRNReferencedTables(TBRNCatalog* catalog);

  // Ascending LockNumber (the order in which tables are locked); ties keep
  // their order.
  void SortByLockNumber();
  // Ascending ID; ties keep their order.
  void SortByID();
  // After a sort: of neighbours with the same ID the later one leaves the
  // list (it is not freed).
  void RemoveDuplicates();
  // The order in which pending updates are applied: ascending
  // PendingUpdatePosition; on equal positions a table sorts after the
  // tables it references (ReferencesTable), then by ascending ID. The
  // dependency is turned into a level per table before sorting (a
  // reference that closes a cycle is ignored), so the comparison is a
  // strict weak ordering even when tables reference each other or
  // themselves.
  void SortByUpdateSequence();

  std::string GetObjectTypeName() const override;
  void SetModified(bool value) override;
  void Changed() override;
};

}  // namespace brn

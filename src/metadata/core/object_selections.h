#pragma once

#include <cstdint>
#include <string>

#include "metadata/core/config_objects.h"

namespace brn {

// A non-owning list that orders objects so that each follows the objects it
// depends on: creation scripts, referrer lists and database comparison.
//
// Also used as a reference list held by an object (its referrers, the
// objects a view uses): then RegisterReferenceTo reports the selection's
// owner as the referrer.
class TBRNSelectedConfigObjects : public TBRNReferenceList<TBRNConfigObjects> {
 public:
  explicit TBRNSelectedConfigObjects(TBRNConfigRoot* config);

  bool Sorted = false;  // the dependency order is built

  // Hook: fill the selection from the owner's collections with
  // AddToSelection. Nothing in the base.
  virtual void CollectObjects();
  // Hook: an empty object of object's kind, made by the owner's collection
  // and not added (nil in the base). The caller owns it.
  virtual TBRNConfigObject* NewItemLike(TBRNConfigObject* object);

  // Sorts by ascending ID / CreationOrder; ties are broken by ID, so the
  // order is always a strict weak ordering.
  void SortByID();
  void SortByCreationOrder();
  // After SortByID: removes every member whose ID equals its predecessor's.
  void RemoveDuplicateIDs();
  // Nothing when Sorted; else Clear, CollectObjects, SortByID,
  // AssignCreationOrder, SortByCreationOrder, Sorted := True.
  void SortByDependencies();
  // Numbers the members so that each comes after the members it depends on;
  // members of a dependency cycle get the next numbers in list order.
  void AssignCreationOrder();

  std::string GetObjectTypeName() const override;
  std::string GetSystemTableName() const override;
  void Clear() override;
  void RegisterReferenceTo(TBRNConfigObject* target) override;
  void ReplaceReferencedID(TBRNConfigObject* target, int32_t newID) override;
  void ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) override;
  void RemoveReferenceTo(TBRNConfigObject* target) override;
};

// The create, alter and drop entries that turn one selection into another:
// creates and alters in the new selection's dependency order, then drops in
// reverse dependency order of the old one. Each entry's text is read back
// with its GetAlterSQL.
class TBRNConfigObjectsDifference : public TBRNSelectedConfigObjects {
 public:
  explicit TBRNConfigObjectsDifference(TBRNConfigRoot* config);
  // Frees the clones.
  ~TBRNConfigObjectsDifference() override;

  // The objects made for create entries; the difference owns and frees them.
  TBRNSelectedConfigObjects* Clones;

  virtual void CompareSelections(TBRNSelectedConfigObjects* oldObjects,
                                 TBRNSelectedConfigObjects* newObjects, char terminator);

  std::string GetSystemTableName() const override;
  // Also frees the clones of an earlier run.
  void Clear() override;

 private:
  void freeClones();
};

}  // namespace brn

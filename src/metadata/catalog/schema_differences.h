#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "metadata/core/object_selections.h"

namespace brn {

class TBRNSchema;
class TBRNSchemaDifference;

// The stored objects of a schema (Internal ones left out): its base tables,
// views, functions and procedures, in that order before sorting. The input of
// a schema comparison; SortByDependencies puts every object after the
// objects it depends on.
class TBRNSchemaObjects : public TBRNSelectedConfigObjects {
 public:
  static std::unique_ptr<TBRNSchemaObjects> CreateForSchema(TBRNSchema* schema);
  explicit TBRNSchemaObjects(TBRNSchema* schema);
  // The differences that hold objects made by NewItemLike are cleared
  // first: those objects belong to this schema's catalog.
  ~TBRNSchemaObjects() override;

  TBRNSchema* Schema;  // never nullptr

  void CollectObjects() override;
  // An empty base table, view, procedure or function made by this schema's
  // list of that kind, owned by object's owner user, with the list as its
  // Owner but not added; nullptr for any other kind. The caller owns it.
  TBRNConfigObject* NewItemLike(TBRNConfigObject* object) override;

 private:
  friend class TBRNSchemaDifference;
  // The differences whose CREATE entries were made here (not owned).
  std::vector<TBRNSchemaDifference*> cloneHolders_;
};

// The script that turns one schema into another: CREATE and ALTER entries
// in the target's dependency order, then DROP entries in reverse dependency
// order of the current schema (CompareSelections). Owns the objects of its
// CREATE entries; as they are made in the target schema's lists, freeing
// that schema clears the difference first. Like the comparison itself (which
// sorts both selections), comparing, clearing and freeing need both
// catalogs held by the calling thread.
class TBRNSchemaDifference : public TBRNConfigObjectsDifference {
 public:
  using TBRNConfigObjectsDifference::TBRNConfigObjectsDifference;
  ~TBRNSchemaDifference() override;

  void CompareSelections(TBRNSelectedConfigObjects* oldObjects,
                         TBRNSelectedConfigObjects* newObjects, char terminator) override;
  void Clear() override;

 private:
  // Registers with the selection that made the CREATE entries, if any.
  void attachTo(TBRNSchemaObjects* source);
  void detach();

  TBRNSchemaObjects* cloneSource_ = nullptr;
};

}  // namespace brn

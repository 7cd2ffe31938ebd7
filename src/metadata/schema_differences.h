#pragma once

#include <cstdint>
#include <memory>

#include "metadata/object_selections.h"

namespace brn {

class TBRNSchema;

// The stored objects of a schema (Internal ones left out): its base tables,
// views, functions and procedures, in that order before sorting. The input of
// a schema comparison; SortByDependencies puts every object after the
// objects it depends on.
class TBRNSchemaObjects : public TBRNSelectedConfigObjects {
 public:
  static std::unique_ptr<TBRNSchemaObjects> CreateForSchema(TBRNSchema* schema);
  explicit TBRNSchemaObjects(TBRNSchema* schema);

  TBRNSchema* Schema;  // never nullptr

  void CollectObjects() override;
  // An empty base table, view, procedure or function made by this schema's
  // list of that kind, owned by object's owner user, with the list as its
  // Owner but not added; nullptr for any other kind. The caller owns it.
  TBRNConfigObject* NewItemLike(TBRNConfigObject* object) override;
};

// The script that turns one schema into another: CREATE and ALTER entries
// in the target's dependency order, then DROP entries in reverse dependency
// order of the current schema (CompareSelections). Owns the objects of its
// CREATE entries.
class TBRNSchemaDifference : public TBRNConfigObjectsDifference {
 public:
  using TBRNConfigObjectsDifference::TBRNConfigObjectsDifference;
};

}  // namespace brn

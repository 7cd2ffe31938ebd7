#pragma once

#include <cstdint>

#include "metadata/catalog/columns.h"

namespace brn {

class TBRNConfigObject;
class TBRNConstraints;
class TBRNIndexes;
class TBRNTriggers;

// What indexes, constraints and triggers need of the table or view that
// owns their list: its columns, whether it is a base table, its index page
// size and its other lists. The table and view classes implement it; until
// then, anything that owns a column list can stand in.
class TBRNTableHolder : public TBRNColumnsHolder {
 public:
  // Base tables check index page sizes and own constraints; views do not.
  virtual bool IsBaseTable() const = 0;
  // The page size of the table's index file (only asked of base tables).
  virtual int32_t GetIndexPageSize() const = 0;
  // The table's lists; nullptr where the holder has none.
  virtual TBRNIndexes* GetIndexes() = 0;
  virtual TBRNConstraints* GetConstraints() = 0;
  virtual TBRNTriggers* GetTriggers() = 0;
  // A working copy built by ALTER TABLE (its constraint links may dangle).
  virtual bool IsWorkingCopy() const { return false; }
};

// The holder behind object (nullptr when object is none).
inline TBRNTableHolder* TableHolderOf(TBRNConfigObject* object) {
  return dynamic_cast<TBRNTableHolder*>(object);
}

}  // namespace brn

#pragma once

// Key columns and a page host for index page tests and the index fuzz
// targets; free of gtest so that the fuzz targets can include it.

#include <cstdint>

#include "foundation/text/collation.h"
#include "storage/indexes/index_keys.h"
#include "storage/indexes/index_pages.h"

namespace brn::testing {

inline constexpr int32_t kCaseInsensitive = 1 << CaseInsensitiveBit;

inline TBRNIndexKeyColumn KeyColumn(TBRNDataTypeCode type, int32_t length = 0,
                                    bool descending = false, TBRNDataSubType subType = stDefault,
                                    int32_t collation = 0) {
  TBRNIndexKeyColumn column;
  column.DataType = type;
  column.Length = length;
  column.Descending = descending;
  column.SubType = subType;
  column.Collation = collation;
  return column;
}

inline TBRNIndexKeyColumn IntegerColumn(bool descending = false) {
  return KeyColumn(dtInteger, 0, descending);
}

inline TBRNIndexKeyColumn CharColumn(int32_t length, int32_t collation = 0, bool descending = false,
                                     bool fixed = false) {
  return KeyColumn(dtChar, length, descending, fixed ? stFixed : stDefault, collation);
}

// Counts what the pages report to the index header.
struct CountingHost : TBRNIndexPageHost {
  int64_t LeafKeys = 0;
  int64_t InternalKeys = 0;
  void ChangeLeafKeyCount(int32_t delta) override { LeafKeys += delta; }
  void ChangeInternalKeyCount(int32_t delta) override { InternalKeys += delta; }
};

}  // namespace brn::testing

#pragma once

#include <cstdint>
#include <vector>

#include "foundation/values/value.h"
#include "foundation/values/value_list.h"

namespace brn {

class TBRNColumn;
class TBRNContainedValue;
class TBRNCursorShape;
class TBRNIndex;

// The descriptor a value takes from a column: type, subtype, declared length,
// scale and collation.
struct TBRNColumnValueType {
  TBRNDataTypeCode DataType = dtNull;
  TBRNDataSubType SubType = 0;
  int32_t Length = 0;
  int32_t Scale = 0;
  int32_t Collation = 0;

  // Column's descriptor with Collation.
  static TBRNColumnValueType Of(const TBRNColumn& Column, int32_t Collation);
  // A new value of this type, NULL, owned by the caller.
  TBRNContainedValue* CreateValue() const;
};

// The key of a cursor row on the cursor's active index: references to the
// row's values of the index columns, in key order (the cursor row adds them).
// Collation and direction of key column i come from column i of the cursor's
// active index at the time of the call (0 and ascending beyond its columns or
// without an active index).
//
// Row ID: on an ordinary (0), foreign-key (2) or unique (3) index, and without
// an active index, the row's first value (the row identifier column) as int32
// (0 when the row values are not set or that value is NULL); on a primary-key
// (1) or text (4) index 0. SetRowID does nothing: the row ID belongs to the
// row. The cursor and the row values must outlive the key.
class TBRNCursorKeyValues : public TBRNValueReferences<TBRNKeyValues> {
 public:
  explicit TBRNCursorKeyValues(TBRNCursorShape* Cursor, const TBRNValues* RowValues = nullptr);

  TBRNCursorShape* GetCursor() const { return Cursor; }
  const TBRNValues* GetRowValues() const { return RowValues; }
  void SetRowValues(const TBRNValues* Values) { RowValues = Values; }

  int32_t GetColumnCollation(int32_t Index) const override;
  bool GetColumnDescending(int32_t Index) const override;
  int32_t GetRowID() const override;
  void SetRowID(int32_t ID) override;

 protected:
  TBRNCursorShape* Cursor;
  const TBRNValues* RowValues;
};

// The bookmark of a cursor row: the row's values of the bookmark columns.
class TBRNBookmarkValues : public TBRNCursorKeyValues {
 public:
  using TBRNCursorKeyValues::TBRNCursorKeyValues;
};

// A key held apart from any row: one owned TBRNContainedValue per column of the
// cursor's active index at creation (typed from the index column's table
// column: type, subtype, declared length and scale, with the index column's
// collation) and a stored row ID. A change of active index needs a new object.
// Collation and direction answer as TBRNCursorKeyValues (from the cursor's
// active index at the time of the call).
class TBRNContainedCursorKeyValues : public TBRNKeyValues {
 public:
  explicit TBRNContainedCursorKeyValues(TBRNCursorShape* Cursor);

  TBRNCursorShape* GetCursor() const { return Cursor; }
  // The number of key columns the key was built for.
  int32_t GetKeyColumnCount() const { return int32_t(Types.size()); }

  // A value typed for key column Index (a stream that refills a key cut
  // shorter by an earlier load).
  TBRNValue* CreateValue(int32_t Index) override;

  int32_t GetColumnCollation(int32_t Index) const override;
  bool GetColumnDescending(int32_t Index) const override;
  int32_t GetRowID() const override { return RowID; }
  void SetRowID(int32_t ID) override { RowID = ID; }

 protected:
  // The key never holds more values than the index had columns.
  int32_t GetMaxStreamCount() const override { return GetKeyColumnCount(); }

  TBRNCursorShape* Cursor;
  int32_t RowID = 0;
  std::vector<TBRNColumnValueType> Types;
};

// A bookmark held apart from any row (range bounds, bookmarks handed to the
// user of a cursor).
class TBRNContainedBookmarkValues : public TBRNContainedCursorKeyValues {
 public:
  using TBRNContainedCursorKeyValues::TBRNContainedCursorKeyValues;
};

// Whether a key on an index of IndexType carries the row identifier as its
// row ID: every kind but primary key (1) and text (4).
bool IndexKeyHasRowID(int32_t IndexType);

}  // namespace brn

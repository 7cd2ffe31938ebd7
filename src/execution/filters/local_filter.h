#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/core/sparse_bitmap.h"
#include "foundation/values/value.h"
#include "storage/cursors/navigator.h"
#include "storage/indexes/index_keys.h"
#include "storage/indexes/index_navigator.h"
#include "storage/rows/row_file_navigator.h"

namespace brn {

class TBRNEvaluatorContext;
class TBRNExprProgram;
class TBRNExprToken;
class TBRNIndexes;
class TBRNLocalExprEvaluator;
class TBRNLocalFilter;
class TBRNRowValues;
class TBRNSeqRangeFilter;
class TBRNTableManager;
class TBRNValues;

// Copies one key column value into a range bound of the same index: a NULL
// key stays NULL, whatever the source's type.
inline void CopyKeyColumnValue(TBRNValue& Target, const TBRNValue& Source) {
  if (Source.GetNull())
    Target.SetNull(true);
  else
    Target.AssignConverting(Source);
}

// What a filter needs of the cursor that owns it. The local cursor
// implements it; tests implement it over a bare table manager. The cursor
// outlives its filters and is used by one thread with them.
class TBRNFilterCursor {
 public:
  virtual ~TBRNFilterCursor() = default;

  // The open table manager of the cursor's table.
  virtual TBRNTableManager& GetFilterTable() = 0;
  // The session's evaluator and the context a filter copies its databases
  // and text-search table from.
  virtual TBRNLocalExprEvaluator& GetFilterEvaluator() = 0;
  virtual TBRNEvaluatorContext& GetFilterSourceContext() = 0;
  // The session's standard NULL behaviour.
  virtual bool GetStandardNulls() = 0;
  // Whether the row with RowValues lies in the key range of Filter on index
  // IndexNo (base: true).
  virtual bool RowInRange(TBRNLocalFilter& Filter, const TBRNRowValues& RowValues, int32_t IndexNo);
  // Fills Rows, RangeStart and RangeEnd of Filter with the rows between its
  // SeqStart and SeqEnd in the order of index IndexNo (base: nothing).
  virtual void FillSequenceRange(TBRNSeqRangeFilter& Filter, int32_t IndexNo);
  // Raises 1001 "A filter error occurred (%s)" with Detail.
  [[noreturn]] virtual void RaiseFilterError(const std::string& Detail);
};

class TBRNFilterRowsetNavigator;
class TBRNFilterIndexNavigator;

// Low and High become the lowest and highest key of Table's index IndexNo
// among the non-deleted rows of Rows (both untouched when there is none).
// Rows is only read; the rows are read through the table's row cache, and
// a restart of the cache computes the bounds again from the start.
void ComputeKeyBounds(TBRNTableManager& Table, const TBRNSparseBitmap& Rows, int32_t IndexNo,
                      TBRNKeyValues& Low, TBRNKeyValues& High);

// A filter of a local cursor: the set of the row numbers of the cursor's
// table that satisfy it. Rows.Size is the table's slot count when the set
// was last built; rows above it are never in the set. The table must be
// open while the filter builds or reads; index and row reads restart by
// themselves when another writer changed the files. Used by the cursor's
// thread only.
class TBRNLocalFilter : public TBRNFilter {
 public:
  explicit TBRNLocalFilter(TBRNFilterCursor& Cursor);
  ~TBRNLocalFilter() override;

  TBRNFilterCursor& GetCursor() const { return Cursor; }

  virtual void SetActive(bool Value);
  virtual void SetPosition(int32_t Index) { Position = Index; }
  virtual void SetRebuildFollowers(bool Flag) { RebuildFollowers = Flag; }
  // For a filter built again and again (a join filter, once per row of the
  // tables before it): its set keeps the nodes a build empties for the
  // next build instead of freeing and allocating them each time; they stay
  // bounded by the table's row count. Call while the set is empty.
  void KeepEmptiedNodes();
  virtual void Prepare(int32_t IndexNo);
  virtual void Unprepare();
  virtual void Optimize();
  virtual void MergeRange(TBRNLocalFilter* Filter);
  // Mode 2: Rows holds the candidates and only loses rows; any other Mode
  // builds Rows from nothing. IndexNo: the cursor's active index, -1 none.
  virtual void Build(int32_t Mode, int32_t IndexNo) = 0;
  virtual bool RowPasses(const TBRNRowValues& RowValues);
  virtual void UpdateRow(int32_t RowNo, const TBRNRowValues& RowValues);
  virtual void AddRow(int32_t RowNo, const TBRNRowValues& RowValues);
  virtual void RemoveRow(int32_t RowNo);

  // Created on first use and kept until the filter dies.
  TBRNFilterRowsetNavigator& GetScanNavigator();
  // The navigator of index IndexNo, created on first use (and again when
  // the table's index at that position was replaced); the index becomes the
  // index file's current one. An index the table does not have raises
  // std::logic_error.
  TBRNFilterIndexNavigator& GetKeyNavigator(int32_t IndexNo);

  int32_t Position = 0;
  bool RebuildFollowers = false;
  bool Active = false;
  std::unique_ptr<TBRNSparseBitmap> Rows;
  // 0 key range, 1 expression filter, 2 expression range, 3 sequence range.
  int32_t Kind = 0;
  // 0 row by row, 1 partly, 2 entirely from indexes.
  int32_t Level = 0;
  // The table's index count at creation, raised when indexes are added.
  int32_t KeyNavigatorCount = 0;

 protected:
  TBRNFilterCursor& Cursor;
  std::unique_ptr<TBRNFilterRowsetNavigator> ScanNavigator;
  std::vector<std::unique_ptr<TBRNFilterIndexNavigator>> KeyNavigators;
};

// Reads the filter's table row by row in physical order. Every row read is
// released again, also when evaluating it raises; a restart of the row
// cache starts the scan again (rows already removed stay removed).
class TBRNFilterRowsetNavigator : public TBRNRowsetNavigator {
 public:
  explicit TBRNFilterRowsetNavigator(TBRNLocalFilter& Filter);
  ~TBRNFilterRowsetNavigator() override;

  // Mode 2: removes from Rows each row that is deleted or for which
  // Condition is not True. Otherwise Rows becomes the non-deleted rows 1 to
  // the slot count for which Condition is True. The filter's Context must
  // be current in Evaluator (the caller swaps it in); each row read is its
  // current row at entry Slot. Program, when given, is Condition's
  // compiled program and tests each row in its place.
  void EvaluateRows(TBRNSparseBitmap& Rows, int32_t Mode, TBRNLocalExprEvaluator& Evaluator,
                    TBRNEvaluatorContext& Context, TBRNExprToken* Condition, int32_t Slot = 0,
                    TBRNExprProgram* Program = nullptr);
  // Mode 2: removes the deleted rows; otherwise Rows becomes every
  // non-deleted row 1 to the slot count (Rows.Size is set to it).
  void RemoveDeletedRows(TBRNSparseBitmap& Rows, int32_t Mode);
  // Removes from Rows the deleted rows and those whose column ColumnIndex
  // is NULL.
  void RemoveNullRows(TBRNSparseBitmap& Rows, int32_t ColumnIndex);

  TBRNLocalFilter& Filter;
  // Rows read by the scans of this navigator (plans and tests).
  int64_t RowsRead = 0;

 private:
  TBRNTableManager& table_;
};

// Walks one index of the filter's table. KeyValues is a search key of that
// index.
class TBRNFilterIndexNavigator : public TBRNIndexNavigator {
 public:
  TBRNFilterIndexNavigator(TBRNLocalFilter& Filter, int32_t IndexNo);
  ~TBRNFilterIndexNavigator() override;

  TBRNLocalFilter& Filter;
  std::unique_ptr<TBRNContainedIndexKeyValues> KeyValues;
  bool StandardNulls = false;

  // Adds the row of the current key to Rows when it does not exceed
  // Rows.Size.
  void AddCurrentRow(TBRNSparseBitmap& Rows);
};

// The ordered filters of one list of a cursor: ascending Kind, and within a
// kind of filters added with OrderFlag descending Level. Owns its filters.
class TBRNLocalFilters {
 public:
  explicit TBRNLocalFilters(TBRNFilterCursor& Cursor);
  ~TBRNLocalFilters();
  TBRNLocalFilters(const TBRNLocalFilters&) = delete;
  TBRNLocalFilters& operator=(const TBRNLocalFilters&) = delete;

  int32_t GetCount() const { return int32_t(Items.size()); }
  TBRNLocalFilter* GetItem(int32_t Index) const { return Items[size_t(Index)].get(); }
  int32_t GetNextHandle() const { return NextHandle; }
  // For tests of the handle wrap.
  void SetNextHandle(int32_t Value) { NextHandle = Value; }

  // Takes Filter over, gives it the next handle (1 after 2147483647) and
  // answers it.
  TBRNLocalFilter* Add(std::unique_ptr<TBRNLocalFilter> Filter, bool OrderFlag);
  // Raises 1001 "Filter not found" through the cursor when none has Handle.
  TBRNLocalFilter* FindFilter(int32_t Handle);
  void Remove(TBRNLocalFilter* Filter);
  void Clear();
  bool AnyActive() const;
  bool RowPassesAll(const TBRNRowValues& RowValues);
  void UpdateRowAll(int32_t RowNo, const TBRNRowValues& RowValues);
  void RemoveRowAll(int32_t RowNo);
  void BuildOne(TBRNLocalFilter* Filter, int32_t Size, int32_t IndexNo);
  void BuildFrom(int32_t StartIndex, int32_t Size, int32_t IndexNo);
  void Combine(TBRNSparseBitmap& Target, TBRNLocalFilter* RangeTarget, bool& First, bool& HasRange,
               bool& HasFilter);

 private:
  TBRNFilterCursor& Cursor;
  int32_t NextHandle = 0;
  std::vector<std::unique_ptr<TBRNLocalFilter>> Items;
};

}  // namespace brn

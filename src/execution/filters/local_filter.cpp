#include "execution/filters/local_filter.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "execution/evaluator/evaluator_context.h"
#include "execution/evaluator/local_expr_evaluator.h"
#include "foundation/runtime/interlocked.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog/indexes.h"
#include "sql/evaluator/expr_program.h"
#include "storage/cursors/cursor.h"
#include "storage/indexes/index_file.h"
#include "storage/rows/row_file.h"
#include "storage/tables/table_manager.h"

namespace brn {

// ---------------------------------------------------------------------------
// TBRNFilterCursor

bool TBRNFilterCursor::RowInRange(TBRNLocalFilter&, const TBRNRowValues&, int32_t) {
  return true;
}

void TBRNFilterCursor::FillSequenceRange(TBRNSeqRangeFilter&, int32_t) {}

void TBRNFilterCursor::RaiseFilterError(const std::string& Detail) {
  throw EBRNException(kFilterErrorCode, FormatText("A filter error occurred (%s)", {Detail}));
}

// ---------------------------------------------------------------------------
// TBRNLocalFilter

TBRNLocalFilter::TBRNLocalFilter(TBRNFilterCursor& Cursor)
    : Rows(std::make_unique<TBRNSparseBitmap>(true, true, 0)), Cursor(Cursor) {
  TBRNTableManager& table = Cursor.GetFilterTable();
  KeyNavigatorCount = table.GetIndexes() != nullptr ? table.GetIndexes()->Count() : 0;
  KeyNavigators.resize(size_t(KeyNavigatorCount));
}

TBRNLocalFilter::~TBRNLocalFilter() = default;

void TBRNLocalFilter::SetActive(bool Value) {
  if (Active == Value) return;
  Active = Value;
  if (!Active) Rows->ClearAll();
}

void TBRNLocalFilter::KeepEmptiedNodes() {
  if (Rows->CountSet() != 0)
    throw std::logic_error("KeepEmptiedNodes: the filter's set already holds rows");
  const int32_t size = Rows->Size;
  Rows = std::make_unique<TBRNSparseBitmap>(false, true, 0);
  Rows->Size = size;
}

void TBRNLocalFilter::Prepare(int32_t) {}
void TBRNLocalFilter::Unprepare() {}
void TBRNLocalFilter::Optimize() {}
void TBRNLocalFilter::MergeRange(TBRNLocalFilter*) {}

bool TBRNLocalFilter::RowPasses(const TBRNRowValues&) {
  return true;
}

void TBRNLocalFilter::UpdateRow(int32_t RowNo, const TBRNRowValues& RowValues) {
  if (Rows->Size < RowNo) Rows->Size = RowNo;
  if (RowPasses(RowValues))
    Rows->SetBit(RowNo);
  else
    Rows->ClearBit(RowNo, true);
}

void TBRNLocalFilter::AddRow(int32_t RowNo, const TBRNRowValues&) {
  if (Rows->Size < RowNo) Rows->Size = RowNo;
  Rows->SetBit(RowNo);
}

void TBRNLocalFilter::RemoveRow(int32_t RowNo) {
  if (Rows->Size < RowNo) Rows->Size = RowNo;
  Rows->ClearBit(RowNo, true);
}

TBRNFilterRowsetNavigator& TBRNLocalFilter::GetScanNavigator() {
  if (!ScanNavigator) ScanNavigator = std::make_unique<TBRNFilterRowsetNavigator>(*this);
  return *ScanNavigator;
}

TBRNFilterIndexNavigator& TBRNLocalFilter::GetKeyNavigator(int32_t IndexNo) {
  TBRNTableManager& table = Cursor.GetFilterTable();
  const int32_t count = table.GetIndexes() != nullptr ? table.GetIndexes()->Count() : 0;
  if (IndexNo < 0 || IndexNo >= count)
    throw std::logic_error("GetKeyNavigator: the table has no index " + std::to_string(IndexNo));
  // Indexes added since the filter was created get navigators too; a
  // navigator whose index was replaced (its layout is gone) is made anew.
  if (count > KeyNavigatorCount) {
    KeyNavigatorCount = count;
    KeyNavigators.resize(size_t(count));
  }
  auto& navigator = KeyNavigators[size_t(IndexNo)];
  if (navigator && &navigator->GetLayout() != table.GetIndexLayout(IndexNo)) navigator.reset();
  if (!navigator) navigator = std::make_unique<TBRNFilterIndexNavigator>(*this, IndexNo);
  navigator->SelectIndex();
  return *navigator;
}

// ---------------------------------------------------------------------------
// TBRNFilterRowsetNavigator

namespace {

// Reads rows through the row cache with read-ahead and releases each one.
// A restart of the cache calls the scan again from the beginning.
class RowReader {
 public:
  explicit RowReader(TBRNTableManager& table)
      : table_(table), file_(*table.GetRowsetManager()), values_(table.GetColumns(), &table) {
    values_.Evaluator = &table.GetEvaluator();
    values_.Context = &table.GetContext();
  }

  // Pins row n; nullptr with restart set when the file changed meanwhile.
  TBRNRowsetRow* Read(int32_t n, int32_t readAhead, bool& restart) {
    return file_.GetRowChecked(n, readAhead > 1, 1, readAhead, restart);
  }
  // The values stay bound to the released block until the next Bind (each
  // binding costs a pass over the values); nothing reads them in between.
  ~RowReader() { values_.SetRow(nullptr); }
  void Release(TBRNRowsetRow* row) { file_.ReleaseRow(row); }
  TBRNRowsetRowValues& Bind(TBRNRowsetRow* row) {
    values_.SetRow(row);
    return values_;
  }
  int32_t SlotCount() const { return file_.GetBlockCount(); }
  int32_t DefaultReadAhead() const { return std::max(1, file_.GetReadAheadCount()); }

 private:
  TBRNTableManager& table_;
  TBRNRowsetManager& file_;
  TBRNRowsetRowValues values_;
};

// Releases a pinned row when the scope ends.
struct RowPin {
  RowReader& Reader;
  TBRNRowsetRow* Row;
  ~RowPin() {
    if (Row != nullptr) Reader.Release(Row);
  }
};

// Visits the rows Rows holds (setOnly) or every slot 1..count; visit answers
// whether the row stays (Mode 2) or is added. A restart begins again.
template <typename Visit>
void scanRows(TBRNTableManager& table, TBRNSparseBitmap& rows, bool setOnly, Visit visit) {
  RowReader reader(table);
  for (int32_t attempt = 0;; ++attempt) {
    const int32_t count = reader.SlotCount();
    // Rows above the set's size (rows added since it was sized) stay out.
    const int32_t limit = std::min(count, rows.Size);
    bool restart = false;
    if (!setOnly) rows.ClearAll();
    int32_t n = 0;
    while (true) {
      int32_t readAhead = reader.DefaultReadAhead();
      if (setOnly) {
        if (!rows.FindNextSet(n) || n > limit) break;
        readAhead = std::min(readAhead, rows.CountNextRun(n, readAhead));
      } else {
        if (++n > limit) break;
        readAhead = std::min(readAhead, limit - n + 1);
      }
      TBRNRowsetRow* row = reader.Read(n, readAhead, restart);
      if (row == nullptr) {
        if (!restart) throw std::logic_error("row scan: row not found");
        break;
      }
      RowPin pin{reader, row};
      const bool deleted = row->Status == kRowDeleted;
      const bool keep = !deleted && visit(n, reader.Bind(row));
      if (setOnly) {
        if (!keep) rows.ClearBit(n, true);
      } else if (keep) {
        rows.SetBit(n);
      }
    }
    if (!restart) return;
    if (attempt > 1000) throw std::runtime_error("row scan: the table keeps changing");
  }
}

}  // namespace

TBRNFilterRowsetNavigator::TBRNFilterRowsetNavigator(TBRNLocalFilter& Filter)
    : TBRNRowsetNavigator(Filter.GetCursor().GetFilterTable().GetRowsetManager()),
      Filter(Filter),
      table_(Filter.GetCursor().GetFilterTable()) {}

TBRNFilterRowsetNavigator::~TBRNFilterRowsetNavigator() = default;

void TBRNFilterRowsetNavigator::EvaluateRows(TBRNSparseBitmap& Rows, int32_t Mode,
                                             TBRNLocalExprEvaluator& Evaluator,
                                             TBRNEvaluatorContext& Context,
                                             TBRNExprToken* Condition, int32_t Slot,
                                             TBRNExprProgram* Program) {
  const size_t slot = size_t(Slot);
  if (Context.CurrentRows.size() <= slot) Context.CurrentRows.resize(slot + 1);
  const TBRNValues* previous = Context.CurrentRows[slot];
  struct RestoreRow {
    TBRNEvaluatorContext& Context;
    size_t Slot;
    const TBRNValues* Previous;
    ~RestoreRow() { Context.CurrentRows[Slot] = Previous; }
  } restore{Context, slot, previous};
  scanRows(table_, Rows, Mode == 2, [&](int32_t, TBRNRowsetRowValues& values) {
    ++RowsRead;
    Context.CurrentRows[slot] = &values;
    if (Program != nullptr) return Program->Test(Evaluator);
    Evaluator.Evaluate(Condition);
    const TBRNValue* result = Condition->Value;
    return result != nullptr && !result->GetNull() && result->GetAsBoolean();
  });
}

void ComputeKeyBounds(TBRNTableManager& Table, const TBRNSparseBitmap& Rows, int32_t IndexNo,
                      TBRNKeyValues& Low, TBRNKeyValues& High) {
  TBRNIndexLayoutKeyValues* key = Table.GetIndexKey(IndexNo);
  const TBRNIndexKeyLayout& layout = key->GetLayout();
  const int32_t columns = layout.GetColumnCount();
  // key against bound in index order: negative below, positive above.
  auto compare = [&](const TBRNKeyValues& bound) {
    for (int32_t i = 0; i < columns; ++i) {
      const int32_t c =
          key->GetItem(i)->Compare(*bound.GetItem(i), 0, false, layout.GetColumn(i).Collation);
      const int32_t ordered = layout.GetColumn(i).Descending ? -c : c;
      if (ordered != 0) return ordered;
    }
    return 0;
  };
  // Rows is walked in place (no copy of the set): a row is only read, and
  // a deleted one is passed over.
  RowReader reader(Table);
  for (int32_t attempt = 0;; ++attempt) {
    const int32_t limit = std::min(reader.SlotCount(), Rows.Size);
    bool first = true;
    bool restart = false;
    int32_t n = 0;
    while (Rows.FindNextSet(n) && n <= limit) {
      const int32_t readAhead =
          std::min(reader.DefaultReadAhead(), Rows.CountNextRun(n, reader.DefaultReadAhead()));
      TBRNRowsetRow* row = reader.Read(n, readAhead, restart);
      if (row == nullptr) {
        if (!restart) throw std::logic_error("key bounds: row not found");
        break;
      }
      RowPin pin{reader, row};
      if (row->Status == kRowDeleted) continue;
      Table.BuildIndexKey(reader.Bind(row), IndexNo, false);
      const bool below = first || compare(Low) < 0;
      const bool above = first || compare(High) > 0;
      for (int32_t i = 0; i < columns; ++i) {
        if (below) CopyKeyColumnValue(*Low.GetItem(i), *key->GetItem(i));
        if (above) CopyKeyColumnValue(*High.GetItem(i), *key->GetItem(i));
      }
      first = false;
    }
    if (!restart) return;
    if (attempt > 1000) throw std::runtime_error("key bounds: the table keeps changing");
  }
}

void TBRNFilterRowsetNavigator::RemoveDeletedRows(TBRNSparseBitmap& Rows, int32_t Mode) {
  if (Mode != 2) Rows.Size = table_.GetRowsetManager()->GetBlockCount();
  scanRows(table_, Rows, Mode == 2, [](int32_t, TBRNRowsetRowValues&) { return true; });
}

void TBRNFilterRowsetNavigator::RemoveNullRows(TBRNSparseBitmap& Rows, int32_t ColumnIndex) {
  scanRows(table_, Rows, true, [this, ColumnIndex](int32_t, TBRNRowsetRowValues& values) {
    ++RowsRead;
    return ColumnIndex >= 0 && ColumnIndex < values.GetCount() &&
           !values.GetItem(ColumnIndex)->GetNull();
  });
}

// ---------------------------------------------------------------------------
// TBRNFilterIndexNavigator

TBRNFilterIndexNavigator::TBRNFilterIndexNavigator(TBRNLocalFilter& Filter, int32_t IndexNo)
    : TBRNIndexNavigator(Filter.GetCursor().GetFilterTable().GetIndexManager(), IndexNo),
      Filter(Filter),
      KeyValues(std::make_unique<TBRNContainedIndexKeyValues>(GetLayout())),
      StandardNulls(Filter.GetCursor().GetStandardNulls()) {}

TBRNFilterIndexNavigator::~TBRNFilterIndexNavigator() = default;

void TBRNFilterIndexNavigator::AddCurrentRow(TBRNSparseBitmap& Rows) {
  const int32_t row = GetRowNumber();
  if (row > 0 && row <= Rows.Size) Rows.SetBit(row);
}

// ---------------------------------------------------------------------------
// TBRNLocalFilters

TBRNLocalFilters::TBRNLocalFilters(TBRNFilterCursor& Cursor) : Cursor(Cursor) {}

TBRNLocalFilters::~TBRNLocalFilters() {
  Clear();
}

TBRNLocalFilter* TBRNLocalFilters::Add(std::unique_ptr<TBRNLocalFilter> Filter, bool OrderFlag) {
  if (!Filter) throw std::invalid_argument("TBRNLocalFilters::Add: no filter");
  Filter->Handle = IncrementCounter(NextHandle, 1);
  size_t at = Items.size();
  while (at > 0 && Items[at - 1]->Kind > Filter->Kind) --at;
  if (OrderFlag) {
    while (at > 0 && Items[at - 1]->Kind == Filter->Kind && Items[at - 1]->Level < Filter->Level)
      --at;
  }
  TBRNLocalFilter* result = Filter.get();
  Items.reserve((Items.size() + 8) / 8 * 8);
  Items.insert(Items.begin() + std::ptrdiff_t(at), std::move(Filter));
  return result;
}

TBRNLocalFilter* TBRNLocalFilters::FindFilter(int32_t Handle) {
  for (size_t i = 0; i < Items.size(); ++i) {
    TBRNLocalFilter* filter = Items[i].get();
    if (filter->Handle != Handle) continue;
    filter->SetRebuildFollowers(false);
    filter->SetPosition(int32_t(i));
    for (size_t j = i; j < Items.size(); ++j) {
      if (Items[j]->Active && Items[j]->Level < 2) {
        filter->SetRebuildFollowers(true);
        break;
      }
    }
    return filter;
  }
  Cursor.RaiseFilterError("Filter not found");
  throw std::logic_error("RaiseFilterError returned");
}

void TBRNLocalFilters::Remove(TBRNLocalFilter* Filter) {
  for (auto it = Items.begin(); it != Items.end(); ++it) {
    if (it->get() == Filter) {
      std::unique_ptr<TBRNLocalFilter> gone = std::move(*it);
      Items.erase(it);
      return;
    }
  }
}

void TBRNLocalFilters::Clear() {
  std::vector<std::unique_ptr<TBRNLocalFilter>> gone;
  gone.swap(Items);
}

bool TBRNLocalFilters::AnyActive() const {
  return std::any_of(Items.begin(), Items.end(), [](const auto& f) { return f->Active; });
}

bool TBRNLocalFilters::RowPassesAll(const TBRNRowValues& RowValues) {
  for (const auto& filter : Items)
    if (filter->Active && !filter->RowPasses(RowValues)) return false;
  return true;
}

void TBRNLocalFilters::UpdateRowAll(int32_t RowNo, const TBRNRowValues& RowValues) {
  for (const auto& filter : Items)
    if (filter->Active) filter->UpdateRow(RowNo, RowValues);
}

void TBRNLocalFilters::RemoveRowAll(int32_t RowNo) {
  for (const auto& filter : Items)
    if (filter->Active) filter->RemoveRow(RowNo);
}

void TBRNLocalFilters::BuildOne(TBRNLocalFilter* Filter, int32_t Size, int32_t IndexNo) {
  if (Size <= 0 || Filter == nullptr || !Filter->Active) return;
  Filter->Rows->Size = Size;
  int32_t mode = 0;
  if (Filter->Level != 2) {
    bool first = true;
    for (const auto& other : Items) {
      if (other.get() == Filter) break;
      if (!other->Active) continue;
      if (first) {
        Filter->Rows->Assign(*other->Rows);
        first = false;
      } else {
        Filter->Rows->AndBitmap(*other->Rows);
      }
    }
    Filter->Rows->Size = Size;
    if (!first) mode = 2;
  }
  Filter->Build(mode, IndexNo);
}

void TBRNLocalFilters::BuildFrom(int32_t StartIndex, int32_t Size, int32_t IndexNo) {
  for (int32_t i = std::max(0, StartIndex); i < GetCount(); ++i)
    BuildOne(GetItem(i), Size, IndexNo);
}

void TBRNLocalFilters::Combine(TBRNSparseBitmap& Target, TBRNLocalFilter* RangeTarget, bool& First,
                               bool& HasRange, bool& HasFilter) {
  for (const auto& filter : Items) {
    if (!filter->Active) continue;
    if (filter->Kind == 0) {
      if (RangeTarget != nullptr) RangeTarget->MergeRange(filter.get());
      HasRange = true;
    } else {
      HasFilter = true;
    }
    if (!First) {
      Target.Assign(*filter->Rows);
      First = true;
    } else {
      Target.AndBitmap(*filter->Rows);
    }
  }
}

}  // namespace brn

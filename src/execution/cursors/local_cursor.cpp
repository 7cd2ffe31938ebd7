#include "execution/cursors/local_cursor.h"

#include <chrono>
#include <exception>
#include <stdexcept>
#include <utility>

#include "execution/cursors/cursor_read_scope.h"
#include "execution/evaluator/evaluator_context.h"
#include "execution/evaluator/local_expr_evaluator.h"
#include "execution/filters/filter_expr.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog/tables.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/ddl/view_manager.h"
#include "storage/rows/execution_seam.h"
#include "storage/tables/table_environment.h"
#include "storage/tables/table_manager.h"

namespace brn {

namespace {

// The code a failure of the cursor's destruction is logged with.
constexpr TBRNOperationCode kOpFreeCursor = 184;

}  // namespace

// ---------------------------------------------------------------------------
// Construction and closing

TBRNLocalCursor::TBRNLocalCursor(TBRNVirtualTableManager& TableManager, bool Flag, bool ReadOnly,
                                 const std::string& Name)
    : TBRNCursor(Name, ReadOnly, Flag), tableManager_(TableManager) {
  GetTableColumns().Assign(tableManager_.GetColumns(), true);
  GetIndexes().Assign(tableManager_.GetIndexes(), true);
  rowNavigator_ =
      std::make_unique<TBRNCursorRowsetNavigator>(*this, tableManager_.GetRowsetManager());
  rowNavigator_->GetCurrentValues().Evaluator = &tableManager_.GetEvaluator();
  rowNavigator_->GetCurrentValues().Context = &tableManager_.GetContext();
  makeIndexNavigators();
  filterSet_ = std::make_unique<TBRNSparseBitmap>(false, false, 0);
  AddFilterLevel();
  lastChangeCount_ = tableManager_.GetChangeCount();
  environment_ = &tableManager_.GetEnvironment();
  environment_->AddDependent(*this);
}

void TBRNLocalCursor::EnvironmentClosing() noexcept {
  try {
    CloseCursor();
  } catch (const EBRNException& error) {
    logFailure(kOpFreeCursor, error);
  } catch (...) {
    // The database's close goes on.
  }
  environment_ = nullptr;
}

TBRNLocalCursor::~TBRNLocalCursor() {
  try {
    CloseCursor();
  } catch (const EBRNException& error) {
    logFailure(kOpFreeCursor, error);
  } catch (...) {
    // A destructor passes nothing on.
  }
}

void TBRNLocalCursor::CloseCursor() {
  if (closed_ || closing_) return;
  if (readScopes_ > 0) throw std::logic_error("a cursor closed inside its read scope");
  closing_ = true;
  // Closed, or failed to close, the cursor is nothing the database must
  // close any more.
  if (TBRNTableEnvironment* environment = std::exchange(environment_, nullptr))
    environment->RemoveDependent(*this);
  if (TBRNQueryCursorLink* link = std::exchange(QueryLink, nullptr)) link->CursorClosed(*this);
  // The cache goes first: it is a cursor of the session's private cache
  // session, independent of this cursor's table.
  std::exception_ptr cacheFailure;
  try {
    endCachedUpdates();
  } catch (...) {
    cacheFailure = std::current_exception();
  }
  struct TDone {
    TBRNLocalCursor& cursor;
    ~TDone() {
      cursor.closing_ = false;
      cursor.closed_ = true;
    }
  } done{*this};
  // A lock that cannot be released must not keep the cursor's table user
  // and filters alive: the failure passes on once the cursor is closed.
  std::exception_ptr unlockFailure;
  try {
    UnlockAllRows();
  } catch (...) {
    unlockFailure = std::current_exception();
  }
  levels_.clear();
  filterSet_.reset();
  indexNavigators_.clear();
  rowNavigator_.reset();
  std::vector<TBRNSchemaObjectManager*> views = std::move(referencedViews_);
  referencedViews_.clear();
  for (TBRNSchemaObjectManager* view : views) view->Close(false, true);
  tableManager_.Close(false, true);
  if (unlockFailure) std::rethrow_exception(unlockFailure);
  if (cacheFailure) std::rethrow_exception(cacheFailure);
}

void TBRNLocalCursor::AddFilterLevel() {
  auto level = std::make_unique<TFilterLevel>();
  level->QueryFilters = std::make_unique<TBRNLocalFilters>(*this);
  level->UserFilters = std::make_unique<TBRNLocalFilters>(*this);
  level->LevelIndex = GetActiveIndex();
  level->KeyRange = static_cast<TBRNRangeFilter*>(
      level->UserFilters->Add(std::make_unique<TBRNRangeFilter>(*this), true));
  level->CombinedRange = std::make_unique<TBRNRangeFilter>(*this);
  level->ExprRange = std::make_unique<TBRNExprRangeFilter>(*this);
  level->SequenceRange = std::make_unique<TBRNSeqRangeFilter>(*this);
  levels_.push_back(std::move(level));
}

void TBRNLocalCursor::AddReferencedView(TBRNSchemaObjectManager* ViewManager) {
  if (int32_t(referencedViews_.size()) >= kMaxReferencedViews) {
    std::string name;
    if (auto* object = ViewManager->GetCatalogObject()) name = object->Name;
    RaiseViewNestingError(name);
  }
  referencedViews_.push_back(ViewManager);
}

void TBRNLocalCursor::RaiseViewNestingError(const std::string& ViewName) {
  throw EBRNException(
      kViewErrorCode,
      FormatText("An error occurred with the view %s (%s)",
                 {ViewName, FormatText("Views cannot be nested more than %s levels deep",
                                       {std::to_string(kMaxReferencedViews)})}));
}

TBRNCursorIndexNavigator& TBRNLocalCursor::GetIndexNavigator(int32_t Index) const {
  if (Index < 0 || Index >= int32_t(indexNavigators_.size()))
    throw std::logic_error("no key navigator for index " + std::to_string(Index));
  auto& navigator = indexNavigators_[size_t(Index)];
  if (!navigator) {
    auto* self = const_cast<TBRNLocalCursor*>(this);
    navigator =
        std::make_unique<TBRNCursorIndexNavigator>(*self, Index, tableManager_.GetIndexManager());
  }
  return *navigator;
}

TBRNRangeFilter& TBRNLocalCursor::GetKeyRange() const {
  return *topLevel().KeyRange;
}

TBRNRangeFilter& TBRNLocalCursor::GetCombinedRange() const {
  return *topLevel().CombinedRange;
}

// ---------------------------------------------------------------------------
// The operation frame

void TBRNLocalCursor::logFailure(TBRNOperationCode Code, const EBRNException& Error) {
  try {
    tableManager_.GetEnvironment().LogFailedOperation(Code, Error);
  } catch (...) {
    // The failure being reported matters more than its log entry.
  }
}

void TBRNLocalCursor::makeIndexNavigators() {
  indexNavigators_.clear();
  indexSnapshot_.clear();
  TBRNIndexes* indexes = tableManager_.GetIndexes();
  for (int32_t i = 0; i < indexes->Count(); ++i) indexSnapshot_.push_back(indexes->GetItem(i));
  indexNavigators_.resize(indexSnapshot_.size());
}

bool TBRNLocalCursor::indexesChanged() const {
  TBRNIndexes* indexes = tableManager_.GetIndexes();
  if (indexes->Count() != int32_t(indexSnapshot_.size())) return true;
  for (int32_t i = 0; i < indexes->Count(); ++i) {
    if (indexes->GetItem(i) != indexSnapshot_[size_t(i)]) return true;
  }
  return false;
}

void TBRNLocalCursor::reloadIndexes() {
  const std::vector<TBRNIndex*> previous = indexSnapshot_;
  GetIndexes().Assign(tableManager_.GetIndexes(), true);
  makeIndexNavigators();
  // Where each previous index stands now (-1: dropped).
  std::vector<int32_t> moved(previous.size(), -1);
  for (size_t i = 0; i < previous.size(); ++i) {
    for (size_t j = 0; j < indexSnapshot_.size(); ++j) {
      if (indexSnapshot_[j] == previous[i]) moved[i] = int32_t(j);
    }
  }
  for (auto& level : levels_) {
    level->LevelIndex = level->LevelIndex < 0 ? -1 : moved[size_t(level->LevelIndex)];
    // Ranges were taken on the old list (and a filter reaches only the
    // indexes the table had when it was made): each level gets new, empty
    // ones, so its key and sequence ranges are cancelled.
    level->UserFilters->Remove(level->KeyRange);
    level->KeyRange = static_cast<TBRNRangeFilter*>(
        level->UserFilters->Add(std::make_unique<TBRNRangeFilter>(*this), true));
    level->CombinedRange = std::make_unique<TBRNRangeFilter>(*this);
    level->ExprRange = std::make_unique<TBRNExprRangeFilter>(*this);
    level->SequenceRangeSet = false;
    level->SequenceRange = std::make_unique<TBRNSeqRangeFilter>(*this);
  }
  indexesReloaded(moved);
  updateFilteredFlag();
}

void TBRNLocalCursor::indexesReloaded(const std::vector<int32_t>&) {}

bool TBRNLocalCursor::CheckTableChanged(bool Force) {
  if (fixedRowSet_) return false;
  // A changed index list (an index added or dropped) makes every filter
  // stale, whatever the change count says.
  if (indexesChanged()) {
    reloadIndexes();
    Force = true;
  }
  int64_t count = tableManager_.GetChangeCount();
  if (!Force && count == lastChangeCount_) return false;
  lastChangeCount_ = count;
  RebuildFilterSet();
  return true;
}

bool TBRNLocalCursor::IsStale() {
  if (tableManager_.GetChangeCount() != lastChangeCount_) return true;
  // A live query result also goes stale when the query must run again.
  return QueryLink != nullptr && QueryLink->IsSensitiveResult() &&
         QueryLink->CheckSensitiveSources();
}

void TBRNLocalCursor::RestorePosition() {
  untilSettled([&](bool& restart) {
    int32_t row = GetRowNumber();
    if (row < 1) {
      rowNavigator_->ClearCurrentRow();
      return;
    }
    rowNavigator_->GotoRowNumber(row, kDirectionNone, restart);
    if (restart) return;
    // The row may have been deleted or left the filter set meanwhile: the
    // cursor then moves on to the nearest row it shows, never staying on a
    // row it does not.
    bool stop = false;
    if (!rowNavigator_->AcceptRow(row, kDirectionForward, stop))
      rowNavigator_->SeekAcceptedRow(kDirectionForward, restart);
  });
}

void TBRNLocalCursor::PositionOnRow(int32_t Row, TBRNDirection Direction, bool& Restart) {
  Restart = false;
  if (Row <= 0) {
    rowNavigator_->ClearCurrentRow();
    return;
  }
  rowNavigator_->GotoRowNumber(Row, Direction, Restart);
  if (Restart) CheckTableChanged();
}

int32_t TBRNLocalCursor::GetOrderReadAhead(int32_t, TBRNDirection, int32_t Default) {
  return Default;
}

// ---------------------------------------------------------------------------
// Position and counts

bool TBRNLocalCursor::GetBof() {
  return rowNavigator_ == nullptr || rowNavigator_->GetBof();
}

bool TBRNLocalCursor::GetEof() {
  return rowNavigator_ == nullptr || rowNavigator_->GetEof();
}

int32_t TBRNLocalCursor::GetRowNumber() {
  return rowNavigator_ != nullptr ? rowNavigator_->GetRowNumber() : 0;
}

int32_t TBRNLocalCursor::GetRowCount() {
  return GetFiltered() ? filteredRowCount_ : tableManager_.GetRowCount();
}

int32_t TBRNLocalCursor::GetTotalRowCount() {
  return tableManager_.GetRowCount();
}

bool TBRNLocalCursor::RowInFilterSet(int32_t Row) const {
  if (!(fixedRowSet_ || filtered_)) return true;
  if (Row < 1 || Row > filterSet_->Size) return false;
  return filterSet_->IsBitSet(Row);
}

bool TBRNLocalCursor::RowPassesFilters(const TBRNRowValues& Values) {
  if (!GetFiltered()) return true;
  for (auto& level : levels_) {
    if (!level->QueryFilters->RowPassesAll(Values)) return false;
  }
  for (auto& level : levels_) {
    if (!level->UserFilters->RowPassesAll(Values)) return false;
  }
  return true;
}

void TBRNLocalCursor::ReadRow(TBRNCursorRow& Row) {
  if (GetRowNumber() != 0) {
    TBRNRowsetRow* current = rowNavigator_->GetCurrentRow();
    Row.RowNumber = current->BlockNumber;
    Row.RowStatus = current->Status;
    Row.RowVersion = current->Version;
    Row.UpdateCounter = current->UpdateCounter;
    Row.RowReserved = current->Reserved;
    Row.Values.Assign(rowNavigator_->GetCurrentValues());
  } else {
    Row.Clear();
    Row.RowNumber = 0;
    Row.RowStatus = 0;
    Row.RowVersion = 0;
    Row.UpdateCounter = 0;
    Row.RowReserved = 0;
  }
  if (QueryLink != nullptr && QueryLink->IsSensitiveResult()) QueryLink->LoadQueryRow(Row);
}

// ---------------------------------------------------------------------------
// Moves

bool TBRNLocalCursor::FirstRow() {
  runMove(kOpFirstRow, [&] {
    CheckTableChanged();
    untilSettled([&](bool& restart) { rowNavigator_->First(restart); });
  });
  return afterMove(kDirectionForward);
}

bool TBRNLocalCursor::LastRow() {
  runMove(kOpLastRow, [&] {
    CheckTableChanged();
    untilSettled([&](bool& restart) { rowNavigator_->Last(restart); });
  });
  return afterMove(kDirectionBackward);
}

void TBRNLocalCursor::StepNext() {
  runMove(kOpStepNext, [&] {
    if (CheckTableChanged()) RestorePosition();
    untilSettled([&](bool& restart) { rowNavigator_->Next(restart); });
  });
}

void TBRNLocalCursor::StepPrior() {
  runMove(kOpStepPrior, [&] {
    if (CheckTableChanged()) RestorePosition();
    untilSettled([&](bool& restart) { rowNavigator_->Prior(restart); });
  });
}

bool TBRNLocalCursor::NextRow() {
  StepNext();
  return afterMove(kDirectionForward);
}

bool TBRNLocalCursor::PriorRow() {
  StepPrior();
  return afterMove(kDirectionBackward);
}

bool TBRNLocalCursor::SetToRowNumber(int32_t RowNumber) {
  runOperation(kOpSetToRowNumber, [&] {
    untilSettled([&](bool& restart) {
      rowNavigator_->GotoRowNumber(RowNumber, kDirectionForward, restart);
    });
  });
  return afterMove(kDirectionNone);
}

bool TBRNLocalCursor::SetToSequenceNumber(int32_t Sequence) {
  runOperation(kOpSetToSequenceNumber, [&] {
    CheckTableChanged();
    // A row file has no sequence numbers of its own: the N-th visible row
    // is counted from the first (at least the first, at most the last).
    untilSettled([&](bool& restart) {
      rowNavigator_->First(restart);
      for (int32_t n = 2; n <= Sequence && !restart && !rowNavigator_->GetEof(); ++n) {
        rowNavigator_->Next(restart);
      }
    });
  });
  return afterMove(kDirectionNone);
}

bool TBRNLocalCursor::SetToRowValues(TBRNCursorRow& Row) {
  bool found = runOperation(kOpSetToRowValues, [&] {
    CheckTableChanged();
    bool matched = false;
    untilSettled([&](bool& restart) {
      matched = rowNavigator_->FindKey(Row.Values, 0, restart, false) == 0;
      if (restart) return;
      PositionOnRow(rowNavigator_->GetRowNumber(), kDirectionNone, restart);
    });
    return matched;
  });
  bool accepted = afterMove(kDirectionNone);
  return found && accepted;
}

bool TBRNLocalCursor::SetToBookmark(TBRNContainedBookmarkValues&) {
  return false;
}

bool TBRNLocalCursor::RefreshCursor() {
  bool refreshed = runOperation(kOpRefreshCursor, [&] {
    if (!tableManager_.HasChanged(true) && !IsStale()) return false;
    CheckTableChanged(true);
    RestorePosition();
    return true;
  });
  afterMove(kDirectionNone);
  return refreshed;
}

bool TBRNLocalCursor::RefilterCurrentRow() {
  return afterMove(kDirectionNone);
}

bool TBRNLocalCursor::SetRange(TBRNContainedCursorKeyValues&, TBRNContainedCursorKeyValues&) {
  return afterMove(kDirectionNone);
}

bool TBRNLocalCursor::CancelRange() {
  return afterMove(kDirectionNone);
}

bool TBRNLocalCursor::SetSequenceRange(int32_t, int32_t) {
  return afterMove(kDirectionNone);
}

bool TBRNLocalCursor::CancelSequenceRange() {
  return afterMove(kDirectionNone);
}

// ---------------------------------------------------------------------------
// BLOBs and computed columns

void TBRNLocalCursor::ReadBlob(int32_t RowVersion, int32_t BlockRef, TBRNMemoryStream& Stream,
                               bool Compressed) {
  runOperation(kOpReadBlob,
               [&] { tableManager_.ReadBlob(RowVersion, BlockRef, Stream, Compressed); });
}

void TBRNLocalCursor::WriteBlob(int32_t RowVersion, int32_t& BlockRef, TBRNMemoryStream& Stream,
                                int32_t Compression, int32_t& StoredLength) {
  runOperation(kOpWriteBlob, [&] {
    tableManager_.WriteBlob(RowVersion, BlockRef, Stream, Compression, StoredLength);
  });
}

void TBRNLocalCursor::ComputeColumn(TBRNExprToken* ExpressionRoot, TBRNRowValues& RowValues) {
  EvaluateWithRow(tableManager_.GetEvaluator(), tableManager_.GetContext(), ExpressionRoot,
                  RowValues);
}

// ---------------------------------------------------------------------------
// The filter set

void TBRNLocalCursor::sizeFilterSet() {
  filterSet_->Size = tableManager_.GetPhysicalRowCount();
  ++filterSetGeneration_;
}

void TBRNLocalCursor::updateFilteredFlag() {
  TFilterLevel& top = topLevel();
  filtered_ =
      top.QueryFilters->AnyActive() || top.UserFilters->AnyActive() || top.SequenceRange->Active;
}

void TBRNLocalCursor::SetFixedRowSet(bool Value) {
  if (Value && !filtered_) {
    // The rows live at this moment: a block deleted now and reused later by
    // another session's insert must not come into view. One Read bracket
    // spans the walk, so that no other writer's flush lands inside it.
    TBRNCursorReadScope scope(*this);
    sizeFilterSet();
    filterSet_->ClearAll();
    for (int32_t n = 1; n <= filterSet_->Size; ++n) {
      TBRNRowsetRow* row = tableManager_.GetRow(n, true);
      bool live = row->Status != kRowDeleted;
      tableManager_.ReleaseRow(row);
      if (live) filterSet_->SetBit(n);
    }
    scope.End();
    filteredRowCount_ = filterSet_->CountSet();
  }
  fixedRowSet_ = Value;
  ++filterSetGeneration_;
}

void TBRNLocalCursor::resetRangeFilters() {
  for (auto& level : levels_) {
    level->ExprRange->SetActive(false);
    level->SequenceRange->SetActive(false);
    level->CombinedRange->SetActive(false);
  }
}

void TBRNLocalCursor::combineList(TBRNLocalFilters& List, TFilterLevel& Level, bool& Started,
                                  bool& HasRange, bool& HasOther) {
  List.Combine(*filterSet_, Level.CombinedRange.get(), Started, HasRange, HasOther);
}

int32_t TBRNLocalCursor::BuildFilterSet() {
  ++filterSetGeneration_;
  resetRangeFilters();
  if (!GetFiltered()) return filteredRowCount_;
  // A fixed set without filters keeps the rows it was frozen with.
  if (!filtered_) return filteredRowCount_;
  filteredRowCount_ = filterSet_->Size;
  bool started = false;
  for (size_t i = 0; i < levels_.size(); ++i) {
    TFilterLevel& level = *levels_[i];
    bool hasRange = false;
    bool hasOther = false;
    bool wasStarted = started;
    combineList(*level.QueryFilters, level, started, hasRange, hasOther);
    if (!level.SequenceRangeSet)
      combineList(*level.UserFilters, level, started, hasRange, hasOther);
    auto sequenceStep = [&] {
      if (!level.SequenceRangeSet) return;
      level.SequenceRange->Rows->Size = filterSet_->Size;
      level.SequenceRange->Build(0, level.LevelIndex);
      level.SequenceRange->SetActive(true);
      level.CombinedRange->MergeRange(level.SequenceRange.get());
    };
    if (wasStarted || started) {
      if (hasOther && GetActiveIndex() >= 0 && filteredRowCount_ > 0 && filterSet_->Size > 0) {
        double share = double(filterSet_->CountSet()) / double(filterSet_->Size) * 100.0;
        if (int32_t(share) < 2) {
          level.ExprRange->Rows->Assign(*filterSet_);
          level.ExprRange->Build(0, level.LevelIndex);
          level.ExprRange->SetActive(true);
          level.CombinedRange->MergeRange(level.ExprRange.get());
        }
      }
      sequenceStep();
    } else {
      started = true;
      if (i == 0) filterSet_->SetAll();
      sequenceStep();
    }
    if (!hasRange && !level.ExprRange->Active && !level.SequenceRange->Active) continue;
    level.CombinedRange->SetActive(true);
    if (hasOther || i > 0) {
      filterSet_->AndBitmap(*level.CombinedRange->Rows);
    } else {
      filterSet_->Assign(*level.CombinedRange->Rows);
    }
    if (level.SequenceRange->Active) {
      bool ignoredRange = false;
      bool ignoredOther = false;
      bool stillStarted = true;
      level.UserFilters->Combine(*filterSet_, level.CombinedRange.get(), stillStarted, ignoredRange,
                                 ignoredOther);
    }
  }
  filteredRowCount_ = filterSet_->CountSet();
  return filteredRowCount_;
}

void TBRNLocalCursor::rebuildFilters() {
  sizeFilterSet();
  if (!GetFiltered()) return;
  for (auto& level : levels_) {
    level->QueryFilters->BuildFrom(0, filterSet_->Size, level->LevelIndex);
    level->UserFilters->BuildFrom(0, filterSet_->Size, level->LevelIndex);
  }
}

void TBRNLocalCursor::RebuildFilterSet() {
  if (!GetFiltered()) return;
  rebuildFilters();
  BuildFilterSet();
}

// ---------------------------------------------------------------------------
// User filters

TBRNFilterHandle TBRNLocalCursor::CreateFilter(const std::string& Text, bool CaseInsensitive,
                                               bool NoPartialCompare, bool EstimateCosts) {
  TBRNFilterHandle handle = runOperation(kOpCreateFilter, [&] {
    auto filter = std::make_unique<TBRNExprFilter>(*this, GetFilterSourceContext());
    filter->SetCondition(Text);
    filter->Expr->Estimates = EstimateCosts;
    filter->Expr->PrepareFilter(CaseInsensitive, NoPartialCompare);
    filter->Prepare(topLevel().LevelIndex);
    filter->Optimize();
    return topLevel().UserFilters->Add(std::move(filter), true)->Handle;
  });
  afterMove(kDirectionNone);
  return handle;
}

bool TBRNLocalCursor::DropFilter(TBRNFilterHandle Filter) {
  runOperation(kOpDropFilter, [&] {
    CheckTableChanged();
    TBRNLocalFilters& list = *topLevel().UserFilters;
    TBRNLocalFilter* filter = list.FindFilter(Filter);
    bool rebuildFollowers = filter->RebuildFollowers;
    int32_t position = filter->Position;
    list.Remove(filter);
    updateFilteredFlag();
    sizeFilterSet();
    if (rebuildFollowers) list.BuildFrom(position, filterSet_->Size, topLevel().LevelIndex);
    BuildFilterSet();
    RestorePosition();
  });
  return afterMove(kDirectionNone);
}

bool TBRNLocalCursor::ActivateFilter(TBRNFilterHandle Filter) {
  runOperation(kOpActivateFilter, [&] { activateUserFilter(Filter); });
  return afterMove(kDirectionNone);
}

void TBRNLocalCursor::activateUserFilter(TBRNFilterHandle Filter) {
  CheckTableChanged();
  TBRNLocalFilters& list = *topLevel().UserFilters;
  TBRNLocalFilter* filter = list.FindFilter(Filter);
  filter->SetActive(true);
  filtered_ = true;
  TBRNTableEnvironment& environment = tableManager_.GetEnvironment();
  auto started = std::chrono::steady_clock::now();
  environment.BeginProgress();
  try {
    sizeFilterSet();
    if (filter->RebuildFollowers) {
      list.BuildFrom(filter->Position, filterSet_->Size, topLevel().LevelIndex);
    } else {
      list.BuildOne(filter, filterSet_->Size, topLevel().LevelIndex);
    }
  } catch (...) {
    environment.EndProgress();
    throw;
  }
  environment.EndProgress();
  filterTime_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  BuildFilterSet();
  RestorePosition();
}

bool TBRNLocalCursor::DeactivateFilter(TBRNFilterHandle Filter) {
  runOperation(kOpDeactivateFilter, [&] { deactivateUserFilter(Filter); });
  return afterMove(kDirectionNone);
}

void TBRNLocalCursor::deactivateUserFilter(TBRNFilterHandle Filter) {
  CheckTableChanged();
  TBRNLocalFilters& list = *topLevel().UserFilters;
  TBRNLocalFilter* filter = list.FindFilter(Filter);
  if (filter->Active) {
    filter->SetActive(false);
    updateFilteredFlag();
    if (filter->RebuildFollowers)
      list.BuildFrom(filter->Position + 1, filterSet_->Size, topLevel().LevelIndex);
  }
  BuildFilterSet();
  RestorePosition();
}

// ---------------------------------------------------------------------------
// TBRNFilterCursor

TBRNTableManager& TBRNLocalCursor::GetFilterTable() {
  auto* table = dynamic_cast<TBRNTableManager*>(&tableManager_);
  // A cursor on a view (a materialised view result or a derived table)
  // filters the rows of the table its view manager forwards to.
  if (auto* view = dynamic_cast<TBRNViewManager*>(&tableManager_))
    table = view->GetBaseTableManager();
  if (table == nullptr) throw std::logic_error("filters need the manager of a base table");
  return *table;
}

TBRNLocalExprEvaluator& TBRNLocalCursor::GetFilterEvaluator() {
  auto* evaluator = dynamic_cast<TBRNLocalExprEvaluator*>(&tableManager_.GetEvaluator());
  if (evaluator == nullptr) throw std::logic_error("filters need the session's local evaluator");
  return *evaluator;
}

TBRNEvaluatorContext& TBRNLocalCursor::GetFilterSourceContext() {
  if (auto* context = dynamic_cast<TBRNEvaluatorContext*>(&tableManager_.GetContext()))
    return *context;
  // A manager whose context carries no session state: the filters take
  // their database from a context of the cursor's own, bound to the
  // manager's database.
  if (!filterContext_) {
    auto* database = dynamic_cast<TBRNLocalDatabaseManager*>(&tableManager_.GetEnvironment());
    if (database == nullptr) throw std::logic_error("filters need a local database");
    filterContext_ = std::make_unique<TBRNEvaluatorContext>();
    filterContext_->SetDatabaseManager(database);
  }
  return *filterContext_;
}

bool TBRNLocalCursor::GetStandardNulls() {
  // Key walks need only the NULL behaviour, which every expression
  // evaluator carries; the session's local evaluator is not required.
  auto* evaluator = dynamic_cast<TBRNExprEvaluator*>(&tableManager_.GetEvaluator());
  return evaluator != nullptr && evaluator->StandardNullBehavior;
}

void TBRNLocalCursor::RaiseFilterError(const std::string& Detail) {
  TBRNCursor::RaiseFilterError(Detail);
}

// ---------------------------------------------------------------------------
// Query filters

TBRNQueryFilter* TBRNLocalCursor::AddQueryFilter(TBRNEvaluatorContext& Context,
                                                 TBRNExprToken* Condition, bool OrderFlag,
                                                 const TBRNExprToken* Table, bool EstimateCosts,
                                                 bool NoPartialCompare, bool CaseInsensitive) {
  return runOperation(kOpCreateFilter, [&] {
    auto filter = std::make_unique<TBRNQueryFilter>(*this, Context);
    filter->OuterContext = &Context;
    if (Table != nullptr && Table->RowSource >= 0) filter->RowSlot = Table->RowSource;
    filter->Expr = filter->CreateFilterExpr();
    static_cast<TBRNQueryFilterExpr&>(*filter->Expr).OwnsTree = false;
    filter->Expr->SetRoot(Condition);
    filter->Expr->Estimates = EstimateCosts;
    if (Table != nullptr) filter->Expr->MarkOuterColumnReferences(Table);
    filter->Expr->PrepareFilter(CaseInsensitive, NoPartialCompare);
    filter->Prepare(topLevel().LevelIndex);
    filter->Optimize();
    return static_cast<TBRNQueryFilter*>(
        topLevel().QueryFilters->Add(std::move(filter), OrderFlag));
  });
}

bool TBRNLocalCursor::DropQueryFilter(TBRNFilterHandle Filter) {
  runOperation(kOpDropFilter, [&] {
    CheckTableChanged();
    TBRNLocalFilters& list = *topLevel().QueryFilters;
    TBRNLocalFilter* filter = list.FindFilter(Filter);
    const bool rebuildFollowers = filter->RebuildFollowers;
    const int32_t position = filter->Position;
    list.Remove(filter);
    updateFilteredFlag();
    sizeFilterSet();
    if (rebuildFollowers) list.BuildFrom(position, filterSet_->Size, topLevel().LevelIndex);
    BuildFilterSet();
    RestorePosition();
  });
  return afterMove(kDirectionNone);
}

void TBRNLocalCursor::buildActivatedFilter(TBRNFilterHandle Filter) {
  CheckTableChanged();
  TBRNLocalFilters& list = *topLevel().QueryFilters;
  TBRNLocalFilter* filter = list.FindFilter(Filter);
  filter->SetActive(true);
  filtered_ = true;
  sizeFilterSet();
  if (filter->RebuildFollowers)
    list.BuildFrom(filter->Position, filterSet_->Size, topLevel().LevelIndex);
  else
    list.BuildOne(filter, filterSet_->Size, topLevel().LevelIndex);
  BuildFilterSet();
}

bool TBRNLocalCursor::ActivateQueryFilter(TBRNFilterHandle Filter) {
  runOperation(kOpActivateFilter, [&] {
    buildActivatedFilter(Filter);
    RestorePosition();
  });
  return afterMove(kDirectionNone);
}

void TBRNLocalCursor::RekeyQueryFilter(TBRNFilterHandle Filter) {
  // One Read bracket around the catch-up and the build, as for a move.
  runMove(kOpActivateFilter, [&] {
    buildActivatedFilter(Filter);
    // The old row is of no interest: the caller starts from the first row.
    rowNavigator_->ClearCurrentRow();
  });
}

}  // namespace brn

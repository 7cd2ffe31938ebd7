#include "clientserver/remote/remote_cursor.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "clientserver/remote/remote_expr_evaluator.h"
#include "clientserver/remote/remote_managers.h"
#include "clientserver/remote/remote_session_manager.h"
#include "execution/cursors/cached_updates.h"
#include "execution/cursors/local_cursor.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog/catalog_expr.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/indexes.h"
#include "storage/cursors/cursor_columns.h"

namespace brn {

namespace {

// Server versions, scaled by 10000, from which a field travels.
constexpr int64_t kVersionInitializeRow = 10300;
constexpr int64_t kVersionCancelRow = 10400;
constexpr int64_t kVersionReadOnlyFlag = 10600;
constexpr int64_t kVersionRefreshChanged = 20100;
constexpr int64_t kVersionCursorColumns = 20300;
constexpr int64_t kVersionLockOptions = 20400;
constexpr int64_t kVersionInitializedFlags = 20500;
constexpr int64_t kVersionInitializedBlobs = 20700;

// Free Cursor: no cursor operation carries it, so it has no operation code.
constexpr int32_t kFreeCursorCode = 184;

constexpr const char* kBadBlock = "The row block from the server is invalid";
constexpr const char* kBadReply = "The reply from the server is invalid";

// A column list over the table columns of Columns, for comparing the current
// row with the values a locate searched for.
void fillKeyColumns(TBRNBookmarkColumns& target, TBRNMappedCursorColumns& columns) {
  for (int32_t k = 0; k < columns.Count(); ++k) {
    TBRNColumn* column = columns.GetColumn(k)->GetTableColumn();
    std::unique_ptr<TBRNConfigObject> item(target.NewItem());
    auto* keyColumn = static_cast<TBRNBookmarkColumn*>(item.get());
    keyColumn->SetColumn(column);
    if (column != nullptr) keyColumn->SetCollation(column->Collation);
    target.AddObject(item.get());
    item.release();
  }
}

}  // namespace

TBRNRemoteCursor::TBRNRemoteCursor(TBRNRemoteDatabaseManager& database, int32_t serverHandle,
                                   const std::string& name, bool readOnly, bool exclusive)
    : TBRNCursor(name, readOnly, exclusive), database_(database), serverHandle_(serverHandle) {}

TBRNRemoteCursor::~TBRNRemoteCursor() {
  if (cacheCursor_) {
    try {
      GetSession().GetCachedUpdatesManager().EndCachedUpdates(std::move(cacheCursor_));
    } catch (...) {
      // The cache table goes with the private session at the latest.
    }
  }
  // The row locks are the server cursor's; forgetting them here is enough.
  TBRNCursor::UnlockAllRows();
  // A cursor that never reached the database's table (its reply could not
  // be read) is freed with the session on the server; the caller's request
  // still holds the session then.
  if (Handle == 0) return;
  // The database's cursor table frees its cursors itself when it is cleared
  // (the entry is gone by then).
  if (database_.Cursors.FindObject(Handle) == this) database_.Cursors.RemoveObject(this, false);
  try {
    TBRNRemoteCall call(GetSession(), kFreeCursorCode);
    call.Request().WriteInteger(serverHandle_);
    call.Execute();
  } catch (...) {
    // The server frees the cursor with its session anyway.
  }
}

TBRNRemoteSessionManager& TBRNRemoteCursor::GetSession() const { return *database_.Session; }

// ---------------------------------------------------------------------------
// Descriptor, state and block

void TBRNRemoteCursor::ReadDescriptor(TBRNMemoryStream& reply, bool withCursorColumns) {
  TBRNColumns& columns = GetTableColumns();
  columns.LoadFromStream(reply);
  compileComputedColumns();
  if (withCursorColumns)
    GetCursorColumns().LoadFromStream(reply);
  else
    BuildColumns();
  GetIndexes().LoadFromStream(reply);
  // The descriptor ends with the state; the first move brings the first
  // block, so until then the cursor stands on no row.
  readState(reply);
  block_.Clear();
  rowNumber_ = 0;
  currentRow_->Clear();
}

void TBRNRemoteCursor::ReadStateAndBlock(TBRNMemoryStream& reply) {
  readState(reply);
  readBlock(reply);
}

void TBRNRemoteCursor::readState(TBRNMemoryStream& reply) {
  // Active index (4), filtered (1), filter time (8), ranged (1), two counts.
  if (reply.GetRemaining() < 22) RaiseCursorError(kBadReply);
  const int32_t index = reply.ReadInteger();
  if (index < -1 || index >= GetIndexes().Count()) RaiseCursorError(kBadReply);
  if (index != activeIndex_ || currentRow_ == nullptr) {
    if (index != activeIndex_) {
      TBRNCursor::SetActiveIndex(index);
      activeIndex_ = index;
    }
    // The key objects are typed for the active index: made anew with it.
    currentRow_ = CreateRow();
    bookmark_ = std::make_unique<TBRNContainedBookmarkValues>(this);
    rangeStart_ = std::make_unique<TBRNContainedCursorKeyValues>(this);
    rangeEnd_ = std::make_unique<TBRNContainedCursorKeyValues>(this);
  }
  filtered_ = reply.ReadBoolean();
  filterTime_ = reply.ReadDouble();
  ranged_ = reply.ReadBoolean();
  rowCount_ = reply.ReadInteger();
  totalRowCount_ = reply.ReadInteger();
}

void TBRNRemoteCursor::readBlock(TBRNMemoryStream& reply) {
  if (reply.GetRemaining() < 6) RaiseCursorError(kBadBlock);
  const bool bof = reply.ReadBoolean();
  const bool eof = reply.ReadBoolean();
  const int32_t size = reply.ReadInteger();
  const int32_t entry = entrySize();
  // The entries, then the offset of the current one.
  if (size < 0 || size % entry != 0 || reply.GetRemaining() - 4 < size)
    RaiseCursorError(kBadBlock);
  const int64_t entries = reply.GetPosition();
  reply.SetPosition(entries + size);
  const int32_t offset = reply.ReadInteger();
  if (size > 0 && (offset < 0 || offset % entry != 0 || offset >= size))
    RaiseCursorError(kBadBlock);
  reply.SetPosition(entries);
  block_.SetSize(size);
  block_.SetPosition(0);
  if (size > 0) reply.Read(block_.GetMemory(), size);
  reply.SetPosition(entries + size + 4);
  Bof = bof;
  Eof = eof;
  if (size == 0) {
    // No row to stand on (an empty cursor).
    rowNumber_ = 0;
    currentRow_->Clear();
    return;
  }
  block_.SetPosition(offset);
  rowNumber_ = block_.ReadInteger();
  decodeCurrent(*currentRow_);
}

void TBRNRemoteCursor::decodeCurrent(TBRNCursorRow& row) {
  const int64_t position = block_.GetPosition();
  if (block_.GetSize() == 0) {
    row.Clear();
    return;
  }
  row.LoadFromStream(block_);
  block_.SetPosition(position);
  row.BuildBookmark();
  bookmark_->Assign(row.Bookmark);
}

void TBRNRemoteCursor::writePosition(TBRNMemoryStream& out) const {
  bookmark_->SaveToStream(out);
  out.WriteBoolean(Bof);
  out.WriteBoolean(Eof);
}

void TBRNRemoteCursor::writeRowsPerBlock(TBRNMemoryStream& out) const {
  out.WriteInteger(RowsPerBlock < 1 ? 1 : RowsPerBlock);
}

void TBRNRemoteCursor::writePlainRow(TBRNMemoryStream& out, TBRNCursorRow& row) const {
  row.SaveToStreamWithBlobs(out, false, true);
}

void TBRNRemoteCursor::writeFlaggedRow(TBRNMemoryStream& out, TBRNCursorRow& row) const {
  row.SaveToStreamWithBlobs(out, true, true);
}

template <typename TWrite>
void TBRNRemoteCursor::moveRequest(int32_t code, bool withPosition, TWrite extra) {
  TBRNRemoteCall call(GetSession(), code);
  TBRNMemoryStream& out = call.Request();
  out.WriteInteger(serverHandle_);
  extra(out);
  if (withPosition) writePosition(out);
  writeRowsPerBlock(out);
  ReadStateAndBlock(call.Execute());
}

// ---------------------------------------------------------------------------
// Moves

void TBRNRemoteCursor::SetActiveIndex(int32_t Index) {
  moveRequest(kOpSetActiveIndex, true, [&](TBRNMemoryStream& out) { out.WriteInteger(Index); });
  ApplyRowFilter(kDirectionNone);
}

bool TBRNRemoteCursor::SetToRowNumber(int32_t RowNumber) {
  moveRequest(kOpSetToRowNumber, false,
              [&](TBRNMemoryStream& out) { out.WriteInteger(RowNumber); });
  return ApplyRowFilter(kDirectionNone);
}

bool TBRNRemoteCursor::SetToSequenceNumber(int32_t Sequence) {
  moveRequest(kOpSetToSequenceNumber, false,
              [&](TBRNMemoryStream& out) { out.WriteInteger(Sequence); });
  return ApplyRowFilter(kDirectionNone);
}

bool TBRNRemoteCursor::SetToRowValues(TBRNCursorRow& Row) {
  moveRequest(kOpSetToRowValues, false,
              [&](TBRNMemoryStream& out) { Row.Values.SaveRowImage(out, false); });
  return ApplyRowFilter(kDirectionNone);
}

bool TBRNRemoteCursor::SetToBookmark(TBRNContainedBookmarkValues& Bookmark) {
  bool found = false;
  {
    TBRNRemoteCall call(GetSession(), kOpSetToBookmark);
    TBRNMemoryStream& out = call.Request();
    out.WriteInteger(serverHandle_);
    Bookmark.SaveToStream(out);
    writeRowsPerBlock(out);
    TBRNMemoryStream& reply = call.Execute();
    ReadStateAndBlock(reply);
    if (reply.GetRemaining() < 1) RaiseCursorError(kBadReply);
    found = reply.ReadBoolean();
  }
  ApplyRowFilter(kDirectionNone);
  return found;
}

bool TBRNRemoteCursor::LocateRow(TBRNMappedCursorColumns& Columns, TBRNValues& KeyValues,
                                 int32_t PartialLength, bool CaseInsensitive) {
  bool found = false;
  {
    TBRNRemoteCall call(GetSession(), kOpLocateRow);
    TBRNMemoryStream& out = call.Request();
    out.WriteInteger(serverHandle_);
    Columns.SaveToStream(out, false);
    KeyValues.SaveToStream(out);
    out.WriteInteger(PartialLength);
    out.WriteBoolean(CaseInsensitive);
    writePosition(out);
    writeRowsPerBlock(out);
    TBRNMemoryStream& reply = call.Execute();
    ReadStateAndBlock(reply);
    if (reply.GetRemaining() < 1) RaiseCursorError(kBadReply);
    found = reply.ReadBoolean();
  }
  if (ApplyRowFilter(kDirectionNone)) return found;
  TBRNBookmarkColumns keyColumns(this);
  fillKeyColumns(keyColumns, Columns);
  return CurrentRowMatchesKey(keyColumns, KeyValues, PartialLength, CaseInsensitive);
}

bool TBRNRemoteCursor::FindRowByKey(TBRNContainedCursorKeyValues& KeyValues, bool Partial,
                                    bool CaseInsensitive) {
  bool found = false;
  {
    TBRNRemoteCall call(GetSession(), kOpFindRowByKey);
    TBRNMemoryStream& out = call.Request();
    out.WriteInteger(serverHandle_);
    KeyValues.SaveToStream(out);
    out.WriteBoolean(Partial);
    out.WriteBoolean(CaseInsensitive);
    writePosition(out);
    writeRowsPerBlock(out);
    TBRNMemoryStream& reply = call.Execute();
    ReadStateAndBlock(reply);
    if (reply.GetRemaining() < 1) RaiseCursorError(kBadReply);
    found = reply.ReadBoolean();
  }
  if (ApplyRowFilter(kDirectionNone)) return found;
  TBRNIndex* index = GetCursorActiveIndex();
  const int32_t partialLength = Partial ? GetPartialKeyLength(KeyValues) : 0;
  return index != nullptr &&
         CurrentRowMatchesKey(*index->Columns, KeyValues, partialLength, CaseInsensitive);
}

bool TBRNRemoteCursor::FirstRow() {
  moveRequest(kOpFirstRow, false, [](TBRNMemoryStream&) {});
  return ApplyRowFilter(kDirectionForward);
}

bool TBRNRemoteCursor::LastRow() {
  moveRequest(kOpLastRow, false, [](TBRNMemoryStream&) {});
  return ApplyRowFilter(kDirectionBackward);
}

void TBRNRemoteCursor::StepNext() {
  Bof = false;
  Eof = false;
  const int32_t rowSize = GetTableColumns().RowSize;
  if (block_.GetSize() > 0 && block_.GetPosition() + rowSize < block_.GetSize()) {
    block_.SetPosition(block_.GetPosition() + rowSize);
    rowNumber_ = block_.ReadInteger();
    decodeCurrent(*currentRow_);
    return;
  }
  moveRequest(kOpStepNext, true, [](TBRNMemoryStream&) {});
}

void TBRNRemoteCursor::StepPrior() {
  Bof = false;
  Eof = false;
  const int32_t rowSize = GetTableColumns().RowSize;
  if (block_.GetSize() > 0 && block_.GetPosition() - (rowSize + 8) >= 0) {
    block_.SetPosition(block_.GetPosition() - (rowSize + 8));
    rowNumber_ = block_.ReadInteger();
    decodeCurrent(*currentRow_);
    return;
  }
  moveRequest(kOpStepPrior, true, [](TBRNMemoryStream&) {});
}

bool TBRNRemoteCursor::NextRow() {
  StepNext();
  return ApplyRowFilter(kDirectionForward);
}

bool TBRNRemoteCursor::PriorRow() {
  StepPrior();
  return ApplyRowFilter(kDirectionBackward);
}

bool TBRNRemoteCursor::RefreshCursor() {
  bool changed = false;
  {
    TBRNRemoteCall call(GetSession(), kOpRefreshCursor);
    TBRNMemoryStream& out = call.Request();
    out.WriteInteger(serverHandle_);
    writePosition(out);
    writeRowsPerBlock(out);
    TBRNMemoryStream& reply = call.Execute();
    if (call.ServerVersion() >= kVersionRefreshChanged) {
      if (reply.GetRemaining() < 1) RaiseCursorError(kBadReply);
      changed = reply.ReadBoolean();
    }
    ReadStateAndBlock(reply);
  }
  ApplyRowFilter(kDirectionNone);
  return changed;
}

bool TBRNRemoteCursor::RefilterCurrentRow() { return ApplyRowFilter(kDirectionNone); }

// ---------------------------------------------------------------------------
// Reading rows and BLOBs

void TBRNRemoteCursor::ReadRow(TBRNCursorRow& Row) { decodeCurrent(Row); }

void TBRNRemoteCursor::GetCurrentRow(TBRNCursorRow& Row, bool ForUpdate) {
  if (ForUpdate) {
    // The server takes the row it locks by the identity sent: that of the
    // row the cursor stands on, whatever Row held before (a fresh row has
    // none).
    moveRequest(kOpGetCurrentRow, true,
                [&](TBRNMemoryStream& out) { writePlainRow(out, *currentRow_); });
  }
  ReadRow(Row);
  if (ForUpdate)
    UpdateBofEof();
  else
    ApplyRowFilter(kDirectionNone);
}

void TBRNRemoteCursor::ReadBlob(int32_t RowVersion, int32_t BlockRef, TBRNMemoryStream& Stream,
                                bool Compressed) {
  TBRNRemoteCall call(GetSession(), kOpReadBlob);
  TBRNMemoryStream& out = call.Request();
  out.WriteInteger(serverHandle_);
  out.WriteInteger(RowVersion);
  out.WriteInteger(BlockRef);
  out.WriteBoolean(Compressed);
  TBRNMemoryStream& reply = call.Execute();
  if (reply.GetRemaining() < 4) RaiseCursorError(kBadReply);
  const int32_t length = reply.ReadInteger();
  if (length < 0 || length > reply.GetRemaining()) RaiseCursorError(kBadReply);
  Stream.SetSize(length);
  Stream.SetPosition(0);
  if (length > 0) reply.Read(Stream.GetMemory(), length);
}

void TBRNRemoteCursor::WriteBlob(int32_t, int32_t&, TBRNMemoryStream&, int32_t, int32_t&) {}

void TBRNRemoteCursor::ComputeColumn(TBRNExprToken* ExpressionRoot, TBRNRowValues& RowValues) {
  GetSession().GetExprEvaluator().EvaluateWithRow(ExpressionRoot, RowValues);
}

void TBRNRemoteCursor::compileComputedColumns() {
  TBRNColumns& columns = GetTableColumns();
  TBRNRemoteSessionManager& session = GetSession();
  // A list without catalog compiles its expressions with these tools, its
  // column references resolved by name within the list itself.
  columns.Parser = &session.GetExprParser();
  columns.Validator = &session.GetExprValidator();
  columns.Builder = &session.GetExprBuilder();
  bool any = false;
  for (int32_t i = 0; i < columns.Count(); ++i) {
    TBRNColumn* column = columns.GetItem(i);
    if (!column->Computed || !column->ComputedExpr) continue;
    column->ComputedExpr->Compile();
    any = true;
  }
  // A change of a column a computed value reads forgets that value.
  if (any) columns.BuildDependentColumns();
}

// ---------------------------------------------------------------------------
// Ranges and filters

bool TBRNRemoteCursor::SetRange(TBRNContainedCursorKeyValues& StartValues,
                                TBRNContainedCursorKeyValues& EndValues) {
  moveRequest(kOpSetRange, true, [&](TBRNMemoryStream& out) {
    StartValues.SaveToStream(out);
    EndValues.SaveToStream(out);
  });
  rangeStart_->Assign(StartValues);
  rangeEnd_->Assign(EndValues);
  return ApplyRowFilter(kDirectionNone);
}

bool TBRNRemoteCursor::CancelRange() {
  moveRequest(kOpCancelRange, true, [](TBRNMemoryStream&) {});
  rangeStart_->SetAllNull();
  rangeEnd_->SetAllNull();
  return ApplyRowFilter(kDirectionNone);
}

bool TBRNRemoteCursor::SetSequenceRange(int32_t Start, int32_t End) {
  moveRequest(kOpSetSequenceRange, true, [&](TBRNMemoryStream& out) {
    out.WriteInteger(Start);
    out.WriteInteger(End);
  });
  return ApplyRowFilter(kDirectionNone);
}

bool TBRNRemoteCursor::CancelSequenceRange() {
  moveRequest(kOpCancelSequenceRange, true, [](TBRNMemoryStream&) {});
  return ApplyRowFilter(kDirectionNone);
}

TBRNRemoteFilter& TBRNRemoteCursor::findFilter(TBRNFilterHandle handle) const {
  auto* filter = dynamic_cast<TBRNRemoteFilter*>(filters_.FindObject(handle));
  if (filter == nullptr) RaiseFilterError("Filter not found");
  return *filter;
}

TBRNFilterHandle TBRNRemoteCursor::CreateFilter(const std::string& Text, bool CaseInsensitive,
                                                bool NoPartialCompare, bool EstimateCosts) {
  int32_t serverFilter = 0;
  {
    TBRNRemoteCall call(GetSession(), kOpCreateFilter);
    TBRNMemoryStream& out = call.Request();
    out.WriteInteger(serverHandle_);
    out.WriteString(Text);
    out.WriteBoolean(CaseInsensitive);
    out.WriteBoolean(EstimateCosts);
    out.WriteBoolean(NoPartialCompare);
    TBRNMemoryStream& reply = call.Execute();
    if (reply.GetRemaining() < 4) RaiseCursorError(kBadReply);
    serverFilter = reply.ReadInteger();
  }
  auto filter = std::make_unique<TBRNRemoteFilter>(serverFilter);
  filters_.AddObject(filter.get(), false);
  return filter.release()->Handle;
}

bool TBRNRemoteCursor::DropFilter(TBRNFilterHandle Filter) {
  TBRNRemoteFilter& filter = findFilter(Filter);
  moveRequest(kOpDropFilter, true,
              [&](TBRNMemoryStream& out) { out.WriteInteger(filter.ServerHandle); });
  filters_.RemoveObject(&filter, false);
  delete &filter;
  return ApplyRowFilter(kDirectionNone);
}

bool TBRNRemoteCursor::ActivateFilter(TBRNFilterHandle Filter) {
  TBRNRemoteFilter& filter = findFilter(Filter);
  moveRequest(kOpActivateFilter, true,
              [&](TBRNMemoryStream& out) { out.WriteInteger(filter.ServerHandle); });
  return ApplyRowFilter(kDirectionNone);
}

bool TBRNRemoteCursor::DeactivateFilter(TBRNFilterHandle Filter) {
  TBRNRemoteFilter& filter = findFilter(Filter);
  moveRequest(kOpDeactivateFilter, true,
              [&](TBRNMemoryStream& out) { out.WriteInteger(filter.ServerHandle); });
  return ApplyRowFilter(kDirectionNone);
}

// ---------------------------------------------------------------------------
// Row locks and editing

void TBRNRemoteCursor::LockRow(TBRNCursorRow& Row, int32_t Option1, int32_t Option2) {
  {
    TBRNRemoteCall call(GetSession(), kOpLockRow);
    TBRNMemoryStream& out = call.Request();
    out.WriteInteger(serverHandle_);
    writePlainRow(out, Row);
    if (call.ServerVersion() >= kVersionLockOptions) {
      out.WriteInteger(Option1);
      out.WriteInteger(Option2);
    }
    call.Execute();
  }
  TBRNCursor::LockRow(Row, Option1, Option2);
}

void TBRNRemoteCursor::UnlockRow(TBRNCursorRow& Row) {
  {
    TBRNRemoteCall call(GetSession(), kOpUnlockRow);
    TBRNMemoryStream& out = call.Request();
    out.WriteInteger(serverHandle_);
    writePlainRow(out, Row);
    call.Execute();
  }
  TBRNCursor::UnlockRow(Row);
}

void TBRNRemoteCursor::UnlockAllRows() {
  {
    TBRNRemoteCall call(GetSession(), kOpUnlockAllRows);
    call.Request().WriteInteger(serverHandle_);
    call.Execute();
  }
  TBRNCursor::UnlockAllRows();
}

void TBRNRemoteCursor::InitializeRow(TBRNCursorRow& Row) {
  TBRNCursor::InitializeRow(Row);
  const int64_t version = GetSession().GetServerVersion();
  if (version < kVersionInitializeRow) return;
  TBRNRemoteCall call(GetSession(), kOpInitializeRow);
  call.Request().WriteInteger(serverHandle_);
  TBRNMemoryStream& reply = call.Execute();
  if (version < kVersionInitializedFlags)
    Row.LoadFromStream(reply);
  else
    Row.LoadFromStreamWithBlobs(reply, true, version >= kVersionInitializedBlobs);
}

bool TBRNRemoteCursor::InsertRow(TBRNCursorRow& Row) {
  moveRequest(kOpInsertRow, false, [&](TBRNMemoryStream& out) { writeFlaggedRow(out, Row); });
  ReadRow(Row);
  ApplyRowFilter(kDirectionNone);
  return true;
}

bool TBRNRemoteCursor::UpdateRow(TBRNCursorRow& Row) {
  moveRequest(kOpUpdateRow, true, [&](TBRNMemoryStream& out) { writeFlaggedRow(out, Row); });
  ReadRow(Row);
  ApplyRowFilter(kDirectionNone);
  return true;
}

bool TBRNRemoteCursor::DeleteRow(TBRNCursorRow& Row) {
  moveRequest(kOpDeleteRow, true, [&](TBRNMemoryStream& out) { writePlainRow(out, Row); });
  ReadRow(Row);
  ApplyRowFilter(kDirectionNone);
  return true;
}

void TBRNRemoteCursor::CancelRow(TBRNCursorRow& Row) {
  if (GetSession().GetServerVersion() < kVersionCancelRow) {
    // Servers before Cancel Row only know how to give the lock back.
    UnlockRow(Row);
    return;
  }
  TBRNRemoteCall call(GetSession(), kOpCancelRow);
  TBRNMemoryStream& out = call.Request();
  out.WriteInteger(serverHandle_);
  writePlainRow(out, Row);
  call.Execute();
}

void TBRNRemoteCursor::FlushCursor() {
  TBRNRemoteCall call(GetSession(), kOpFlushCursor);
  call.Request().WriteInteger(serverHandle_);
  call.Execute();
}

void TBRNRemoteCursor::EmptyCursor(bool SkipScan) {
  moveRequest(kOpEmptyCursor, false, [&](TBRNMemoryStream& out) { out.WriteBoolean(SkipScan); });
  ApplyRowFilter(kDirectionNone);
}

// ---------------------------------------------------------------------------
// Streams and cached updates

void TBRNRemoteCursor::LoadFromStream(TBRNMemoryStream& Stream) {
  const int64_t position = Stream.GetPosition();
  const int64_t length = Stream.GetSize() > position ? Stream.GetSize() - position : 0;
  moveRequest(kOpLoadCursorFromStream, true, [&](TBRNMemoryStream& out) {
    out.WriteInteger(int32_t(length));
    if (length > 0) out.Write(Stream.GetMemory() + position, int32_t(length));
  });
  Stream.SetPosition(position + length);
  ApplyRowFilter(kDirectionNone);
}

void TBRNRemoteCursor::SaveToStream(TBRNMemoryStream& Stream) {
  {
    TBRNRemoteCall call(GetSession(), kOpSaveCursorToStream);
    TBRNMemoryStream& out = call.Request();
    out.WriteInteger(serverHandle_);
    writePosition(out);
    writeRowsPerBlock(out);
    TBRNMemoryStream& reply = call.Execute();
    if (reply.GetRemaining() < 4) RaiseCursorError(kBadReply);
    const int32_t length = reply.ReadInteger();
    if (length < 0 || length > reply.GetRemaining()) RaiseCursorError(kBadReply);
    const int64_t data = reply.GetPosition();
    // The state and block behind the stream are checked before Target
    // takes anything.
    reply.SetPosition(data + length);
    ReadStateAndBlock(reply);
    if (length > 0) Stream.Write(reply.GetMemory() + data, length);
  }
  ApplyRowFilter(kDirectionNone);
}

TBRNCursor* TBRNRemoteCursor::StartCachedUpdates() {
  TBRNCachedUpdatesManager& manager = GetSession().GetCachedUpdatesManager();
  if (!cacheCursor_)
    cacheCursor_ = manager.BeginCachedUpdates(*this, GetTableColumns(), GetIndexes());
  manager.CopyRowsToCache(*this, *cacheCursor_);
  return cacheCursor_.get();
}

void TBRNRemoteCursor::ApplyCachedUpdates(bool IgnoreMissing) {
  if (!cacheCursor_) throw std::logic_error("ApplyCachedUpdates without a cache");
  TBRNCachedUpdatesManager& manager = GetSession().GetCachedUpdatesManager();
  TBRNMemoryStream updates;
  manager.SaveCachedUpdates(*cacheCursor_, updates, false);
  const int64_t length = updates.GetSize();
  if (length > INT32_MAX) RaiseCursorError("The cached updates are too large to be sent");
  moveRequest(kOpApplyCachedUpdates, true, [&](TBRNMemoryStream& out) {
    out.WriteBoolean(IgnoreMissing);
    out.WriteInteger(int32_t(length));
    if (length > 0) out.Write(updates.GetMemory(), int32_t(length));
  });
  // Only now that the server has every edit: a failed apply keeps them.
  manager.ClearCachedUpdates(*cacheCursor_);
  ApplyRowFilter(kDirectionNone);
}

void TBRNRemoteCursor::CancelCachedUpdates() {
  if (!cacheCursor_) throw std::logic_error("CancelCachedUpdates without a cache");
  GetSession().GetCachedUpdatesManager().ClearCachedUpdates(*cacheCursor_);
  // The next move asks the server, from the row last read.
  block_.Clear();
}

// ---------------------------------------------------------------------------
// Descriptors of replies

namespace {

// Registers the new cursor with its database, reads its lists, state and
// block; a failure frees it again.
TBRNCursor* readCursor(std::unique_ptr<TBRNRemoteCursor> cursor, TBRNMemoryStream& reply,
                       bool withCursorColumns) {
  cursor->ReadDescriptor(reply, withCursorColumns);
  cursor->GetDatabase().Cursors.AddObject(cursor.get(), false);
  return cursor.release();
}

[[noreturn]] void raiseBadDescriptor() {
  throw EBRNException(kCursorErrorCode,
                      FormatText("An error occurred with the cursor %s (%s)", {"", kBadReply}));
}

}  // namespace

TBRNCursor* ReadOpenTableCursor(TBRNRemoteDatabaseManager& database, TBRNMemoryStream& reply,
                                const std::string& tableName, bool exclusive) {
  const int64_t version = database.Session->GetServerVersion();
  if (reply.GetRemaining() < 4) raiseBadDescriptor();
  const int32_t handle = reply.ReadInteger();
  bool readOnly = false;
  if (version >= kVersionReadOnlyFlag) readOnly = reply.ReadBoolean();
  auto cursor = std::make_unique<TBRNRemoteCursor>(database, handle, tableName, readOnly, exclusive);
  return readCursor(std::move(cursor), reply, version >= kVersionCursorColumns);
}

TBRNCursor* ReadResultCursor(TBRNRemoteDatabaseManager& database, TBRNMemoryStream& reply) {
  if (reply.GetRemaining() < 4) raiseBadDescriptor();
  const int32_t handle = reply.ReadInteger();
  if (handle == 0) return nullptr;
  std::string name;
  reply.ReadString(name);
  const bool readOnly = reply.ReadBoolean();
  const bool secondFlag = reply.ReadBoolean();
  auto cursor = std::make_unique<TBRNRemoteCursor>(database, handle, name, readOnly, secondFlag);
  return readCursor(std::move(cursor), reply, true);
}

}  // namespace brn

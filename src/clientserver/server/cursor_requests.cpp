#include "clientserver/server/cursor_requests.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "clientserver/server/connection_thread.h"
#include "clientserver/server/database_requests.h"
#include "clientserver/server/request_dispatch.h"
#include "clientserver/server/request_state.h"
#include "clientserver/server/row_blocks.h"
#include "clientserver/server/server_session.h"
#include "clientserver/transport/comms_manager.h"
#include "clientserver/transport/comms_request.h"
#include "clientserver/transport/wire_message.h"
#include "execution/cursors/local_cursor.h"
#include "sessions/manager_interfaces.h"
#include "storage/cursors/cursor.h"

namespace brn {

namespace {

// What a positioning request carries: the client's current row as a
// bookmark of the active index, and its BOF and EOF.
struct ClientPosition {
  std::unique_ptr<TBRNContainedBookmarkValues> Bookmark;
  bool Bof = false;
  bool Eof = false;
};

// The handle read and the cursor it leads to, with what the server
// remembers of it.
struct ClientCursor {
  int32_t Handle = 0;
  TBRNCursor* Cursor = nullptr;
  TBRNServerCursorState* State = nullptr;
};

TBRNServerRequestState& requestState(TBRNServerSessionManager& session) {
  return session.RequestState;
}

// Whether the handle still leads to the cursor it was given to. The index
// answers what its database's table holds under the handle now; a cursor
// freed without the server (a statement's new execution frees its last
// result) has left that table.
bool handleLeadsTo(TBRNServerSessionManager& session, int32_t handle,
                   const TBRNServerCursorState& state) {
  TBRNHandleObject* found = session.Cursors.Find(handle);
  return found != nullptr && found == state.Cursor;
}

void forgetCursor(TBRNServerSessionManager& session, int32_t handle) {
  session.Cursors.Remove(handle);
  requestState(session).Cursors.erase(handle);
}

ClientCursor readCursor(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  auto& cursors = requestState(session).Cursors;
  auto entry = cursors.find(request.PeekInt32());
  if (entry == cursors.end()) throw EBRNInvalidRequest();
  if (!handleLeadsTo(session, entry->first, entry->second)) {
    forgetCursor(session, entry->first);
    throw EBRNInvalidRequest();
  }
  auto target = request.ReadIndexedHandle<TBRNCursor>(session.Cursors);
  return ClientCursor{target.Handle, &target.Object, &entry->second};
}

ClientPosition readPosition(TBRNServerRequest& request, TBRNCursor& cursor) {
  ClientPosition position;
  position.Bookmark = std::make_unique<TBRNContainedBookmarkValues>(&cursor);
  position.Bookmark->LoadFromStream(request.Input());
  position.Bof = request.ReadBoolean();
  position.Eof = request.ReadBoolean();
  return position;
}

int32_t readRowsPerBlock(TBRNServerRequest& request) {
  return ClampRowsPerBlock(request.ReadInt32());
}

// Places the cursor on the client's row (once after each block).
void syncPosition(TBRNCursor& cursor, ClientPosition& position) {
  if (auto* local = dynamic_cast<TBRNLocalCursor*>(&cursor)) {
    local->SyncToBookmark(*position.Bookmark, position.Bof, position.Eof);
  }
}

// The forms of a row the client sends: with modified flags (Insert and
// Update Row) or without (the others); a 2.07 client sends the latter in
// the plain form.
enum class RowForm { WithFlags, WithoutFlags };

std::unique_ptr<TBRNCursorRow> readRow(TBRNServerRequest& request, TBRNCursor& cursor,
                                       RowForm form) {
  std::unique_ptr<TBRNCursorRow> row = cursor.CreateRow();
  const int64_t version = request.GetClientVersion();
  if (form == RowForm::WithoutFlags && version >= kBRNClientVersion207 &&
      version < kBRNClientVersion208) {
    row->LoadFromStream(request.Input());
  } else {
    row->LoadFromStreamWithBlobs(request.Input(), form == RowForm::WithFlags, true);
  }
  return row;
}

// An edit names its row by the number the client holds; only a row the
// client was shown may be edited, so rows outside the cursor's filter or
// view stay untouched whatever number arrives.
void checkShownRow(const ClientCursor& target, const TBRNCursorRow& row) {
  if (target.State->ShownRows.count(row.RowNumber) != 0) return;
  if (auto* local = dynamic_cast<TBRNLocalCursor*>(target.Cursor)) {
    local->GetTableManager().RaiseRowNotVisible();
  }
  target.Cursor->RaiseCursorError("The row is not in the cursor");
}

// The reply stream, begun when it is not yet.
TBRNCommsMemoryStream& replyStream(TBRNServerRequest& request) {
  if (!request.GetReplyBegun()) return request.BeginReply();
  return request.GetComms().GetTransport().RequestStream(request.GetComms());
}

// Cursor state and row block of a B reply (after any result fields).
void replyBlock(TBRNServerRequest& request, const ClientCursor& target, int32_t rowsPerBlock,
                bool backward = false, TBRNCursorRow* forUpdate = nullptr) {
  TBRNCommsMemoryStream& reply = replyStream(request);
  WriteCursorState(reply, *target.Cursor);
  TBRNRowBlockRequest block;
  block.RowsPerBlock = rowsPerBlock;
  block.Backward = backward;
  block.ForUpdateRow = forUpdate;
  WriteRowBlock(reply, *target.Cursor, *target.State, block);
}

}  // namespace

// --- registration and descriptors

int32_t RegisterClientCursor(TBRNServerSessionManager& session, TBRNDatabaseManager& database,
                             TBRNCursor& cursor) {
  auto& cursors = requestState(session).Cursors;
  DropStaleClientCursors(session);
  int32_t handle = 0;
  try {
    // A cursor that got the address and table handle of one given before
    // (freed meanwhile) takes over that session handle.
    for (const auto& [given, state] : cursors) {
      TBRNSessionHandleTarget target = session.Cursors.GetTarget(given);
      if (target.Database == &database && target.Handle == cursor.Handle) handle = given;
    }
    if (handle == 0) handle = session.Cursors.Add(&database, cursor.Handle);
  } catch (...) {
    database.Cursors.RemoveObject(&cursor, false);
    delete &cursor;
    throw;
  }
  TBRNServerCursorState& state = cursors[handle];
  state = TBRNServerCursorState{};
  state.Cursor = &cursor;
  return handle;
}

void DropStaleClientCursors(TBRNServerSessionManager& session) {
  auto& cursors = requestState(session).Cursors;
  for (auto entry = cursors.begin(); entry != cursors.end();) {
    if (handleLeadsTo(session, entry->first, entry->second)) {
      ++entry;
      continue;
    }
    session.Cursors.Remove(entry->first);
    entry = cursors.erase(entry);
  }
}

namespace {

// A list written in the form of the client's version; the cursor's own
// list keeps its version afterwards.
void writeList(TBRNMemoryStream& out, TBRNCatalogObjects& list, int64_t version) {
  const int64_t kept = list.FormatVersion;
  list.FormatVersion = version;
  try {
    list.SaveToStream(out, false);
  } catch (...) {
    list.FormatVersion = kept;
    throw;
  }
  list.FormatVersion = kept;
}

void writeMetadata(TBRNMemoryStream& out, TBRNCursor& cursor, int64_t version, bool cursorColumns) {
  writeList(out, cursor.GetTableColumns(), version);
  if (cursorColumns) writeList(out, cursor.GetCursorColumns(), version);
  writeList(out, cursor.GetIndexes(), version);
  WriteCursorState(out, cursor);
}

}  // namespace

void WriteOpenTableDescriptor(TBRNMemoryStream& out, int32_t handle, TBRNCursor& cursor,
                              int64_t clientVersion) {
  out.WriteInteger(handle);
  if (clientVersion >= kBRNClientVersion106) out.WriteBoolean(cursor.ReadOnly);
  writeMetadata(out, cursor, clientVersion, clientVersion >= kBRNClientVersion203);
}

void WriteResultDescriptor(TBRNMemoryStream& out, int32_t handle, TBRNCursor& cursor,
                           int64_t clientVersion) {
  out.WriteInteger(handle);
  out.WriteString(cursor.Name);
  out.WriteBoolean(cursor.ReadOnly);
  out.WriteBoolean(cursor.Exclusive);
  writeMetadata(out, cursor, clientVersion, true);
}

// --- handlers

namespace {

// Moves with P and R: read the handle, the operation's own fields (done by
// the caller's lambda after the handle), P and R, sync, then operate.
template <typename Operation>
void serveMove(TBRNServerRequest& request, TBRNServerSessionManager& session, bool positioned,
               bool backward, Operation operation) {
  ClientCursor target = readCursor(request, session);
  auto act = operation(request, *target.Cursor);
  ClientPosition position;
  if (positioned) position = readPosition(request, *target.Cursor);
  const int32_t rows = readRowsPerBlock(request);
  if (positioned) syncPosition(*target.Cursor, position);
  act();
  replyBlock(request, target, rows, backward);
}

// An operation without fields of its own.
template <typename Call>
auto plain(Call call) {
  return [call](TBRNServerRequest&, TBRNCursor& cursor) {
    return [call, &cursor] { call(cursor); };
  };
}

void ServeRefreshCursor(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  ClientCursor target = readCursor(request, session);
  ClientPosition position = readPosition(request, *target.Cursor);
  const int32_t rows = readRowsPerBlock(request);
  syncPosition(*target.Cursor, position);
  const bool result = target.Cursor->RefreshCursor();
  TBRNCommsMemoryStream& out = request.BeginReply();
  if (request.GetClientVersion() >= kBRNClientVersion201) out.WriteBoolean(result);
  replyBlock(request, target, rows);
}

void ServeFlushCursor(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  readCursor(request, session).Cursor->FlushCursor();
}

void ServeEmptyCursor(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  ClientCursor target = readCursor(request, session);
  const bool flag = request.ReadBoolean();
  const int32_t rows = readRowsPerBlock(request);
  target.Cursor->EmptyCursor(flag);
  replyBlock(request, target, rows);
}

void ServeFreeCursor(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  ClientCursor target = readCursor(request, session);
  TBRNSessionHandleTarget where = session.Cursors.GetTarget(target.Handle);
  forgetCursor(session, target.Handle);
  where.Database->Cursors.RemoveObject(target.Cursor, false);
  delete target.Cursor;
}

void ServeReadBlob(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  ClientCursor target = readCursor(request, session);
  const int32_t rowVersion = request.ReadInt32();
  const int32_t blockRef = request.ReadInt32();
  const bool compressed = request.ReadBoolean();
  if (target.State->BlobRefs.count({rowVersion, blockRef}) == 0) throw EBRNInvalidRequest();
  TBRNMemoryStream data;
  target.Cursor->ReadBlob(rowVersion, blockRef, data, compressed);
  const int32_t length = int32_t(data.GetSize());
  TBRNCommsMemoryStream& out = request.BeginReply();
  out.WriteInteger(length);
  if (length > 0) out.Write(data.GetMemory(), length);
}

void ServeSetActiveIndex(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  serveMove(request, session, true, false, [](TBRNServerRequest& r, TBRNCursor& cursor) {
    const int32_t index = r.ReadInt32();
    return [index, &cursor] { cursor.SetActiveIndex(index); };
  });
}

void ServeFirstRow(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  serveMove(request, session, false, false, plain([](TBRNCursor& c) { c.FirstRow(); }));
}

void ServeLastRow(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  serveMove(request, session, false, true, plain([](TBRNCursor& c) { c.LastRow(); }));
}

void ServeNextRow(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  serveMove(request, session, true, false, plain([](TBRNCursor& c) { c.NextRow(); }));
}

void ServePriorRow(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  serveMove(request, session, true, true, plain([](TBRNCursor& c) { c.PriorRow(); }));
}

void ServeSetToSequenceNumber(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  serveMove(request, session, false, false, [](TBRNServerRequest& r, TBRNCursor& cursor) {
    const int32_t sequence = r.ReadInt32();
    return [sequence, &cursor] { cursor.SetToSequenceNumber(sequence); };
  });
}

void ServeSetToRowNumber(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  serveMove(request, session, false, false, [](TBRNServerRequest& r, TBRNCursor& cursor) {
    const int32_t row = r.ReadInt32();
    return [row, &cursor] { cursor.SetToRowNumber(row); };
  });
}

void ServeSetToRowValues(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  serveMove(request, session, false, false, [](TBRNServerRequest& r, TBRNCursor& cursor) {
    std::shared_ptr<TBRNCursorRow> row(cursor.CreateRow().release());
    row->Values.LoadRowImage(r.Input(), false);
    return [row, &cursor] { cursor.SetToRowValues(*row); };
  });
}

// The moves that answer a Boolean after the block.
template <typename Operation>
void serveSearch(TBRNServerRequest& request, TBRNServerSessionManager& session, bool positioned,
                 Operation operation) {
  ClientCursor target = readCursor(request, session);
  auto act = operation(request, *target.Cursor);
  ClientPosition position;
  if (positioned) position = readPosition(request, *target.Cursor);
  const int32_t rows = readRowsPerBlock(request);
  if (positioned) syncPosition(*target.Cursor, position);
  const bool result = act();
  replyBlock(request, target, rows);
  replyStream(request).WriteBoolean(result);
}

void ServeSetToBookmark(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  serveSearch(request, session, false, [](TBRNServerRequest& r, TBRNCursor& cursor) {
    auto bookmark = std::make_shared<TBRNContainedBookmarkValues>(&cursor);
    bookmark->LoadFromStream(r.Input());
    return [bookmark, &cursor] { return cursor.SetToBookmark(*bookmark); };
  });
}

void ServeLocateRow(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  serveSearch(request, session, true, [](TBRNServerRequest& r, TBRNCursor& cursor) {
    auto columns = std::make_shared<TBRNMappedCursorColumns>(&cursor);
    columns->LoadFromStream(r.Input());
    auto values = std::make_shared<TBRNContainedCursorColumnValues>(*columns);
    values->LoadFromStream(r.Input());
    const int32_t partialLength = r.ReadInt32();
    const bool caseInsensitive = r.ReadBoolean();
    return [columns, values, partialLength, caseInsensitive, &cursor] {
      return cursor.LocateRow(*columns, *values, partialLength, caseInsensitive);
    };
  });
}

void ServeFindRowByKey(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  serveSearch(request, session, true, [](TBRNServerRequest& r, TBRNCursor& cursor) {
    auto key = std::make_shared<TBRNContainedCursorKeyValues>(&cursor);
    key->LoadFromStream(r.Input());
    const bool first = r.ReadBoolean();
    const bool second = r.ReadBoolean();
    return [key, first, second, &cursor] { return cursor.FindRowByKey(*key, first, second); };
  });
}

void ServeSetRange(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  serveMove(request, session, true, false, [](TBRNServerRequest& r, TBRNCursor& cursor) {
    auto start = std::make_shared<TBRNContainedCursorKeyValues>(&cursor);
    start->LoadFromStream(r.Input());
    auto end = std::make_shared<TBRNContainedCursorKeyValues>(&cursor);
    end->LoadFromStream(r.Input());
    return [start, end, &cursor] { cursor.SetRange(*start, *end); };
  });
}

void ServeCancelRange(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  serveMove(request, session, true, false, plain([](TBRNCursor& c) { c.CancelRange(); }));
}

void ServeCreateFilter(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  ClientCursor target = readCursor(request, session);
  const std::string text = request.ReadString();
  const bool caseInsensitive = request.ReadBoolean();
  const bool estimateCosts = request.ReadBoolean();
  const bool noPartialCompare = request.ReadBoolean();
  const TBRNFilterHandle filter =
      target.Cursor->CreateFilter(text, caseInsensitive, noPartialCompare, estimateCosts);
  request.BeginReply().WriteInteger(filter);
}

template <bool (TBRNCursor::*Method)(TBRNFilterHandle)>
void serveFilter(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  serveMove(request, session, true, false, [](TBRNServerRequest& r, TBRNCursor& cursor) {
    const TBRNFilterHandle filter = r.ReadInt32();
    return [filter, &cursor] { (cursor.*Method)(filter); };
  });
}

void ServeSetSequenceRange(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  serveMove(request, session, true, false, [](TBRNServerRequest& r, TBRNCursor& cursor) {
    const int32_t start = r.ReadInt32();
    const int32_t end = r.ReadInt32();
    return [start, end, &cursor] { cursor.SetSequenceRange(start, end); };
  });
}

void ServeCancelSequenceRange(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  serveMove(request, session, true, false,
            plain([](TBRNCursor& c) { c.CancelSequenceRange(); }));
}

void ServeLockRow(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  ClientCursor target = readCursor(request, session);
  std::unique_ptr<TBRNCursorRow> row = readRow(request, *target.Cursor, RowForm::WithoutFlags);
  int32_t option1 = -1;
  int32_t option2 = -1;
  if (request.GetClientVersion() >= kBRNClientVersion204) {
    option1 = request.ReadInt32();
    option2 = request.ReadInt32();
  }
  checkShownRow(target, *row);
  target.Cursor->LockRow(*row, option1, option2);
}

void ServeUnlockRow(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  ClientCursor target = readCursor(request, session);
  std::unique_ptr<TBRNCursorRow> row = readRow(request, *target.Cursor, RowForm::WithoutFlags);
  target.Cursor->UnlockRow(*row);
}

void ServeUnlockAllRows(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  readCursor(request, session).Cursor->UnlockAllRows();
}

void ServeInitializeRow(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  ClientCursor target = readCursor(request, session);
  std::unique_ptr<TBRNCursorRow> row = target.Cursor->CreateRow();
  target.Cursor->InitializeRow(*row);
  TBRNCommsMemoryStream& out = request.BeginReply();
  const int64_t version = request.GetClientVersion();
  if (version < kBRNClientVersion205) {
    row->SaveToStream(out);
  } else {
    row->SaveToStreamWithBlobs(out, true, version >= kBRNClientVersion207);
  }
}

void ServeGetCurrentRow(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  ClientCursor target = readCursor(request, session);
  std::unique_ptr<TBRNCursorRow> row = readRow(request, *target.Cursor, RowForm::WithoutFlags);
  ClientPosition position = readPosition(request, *target.Cursor);
  const int32_t rows = readRowsPerBlock(request);
  checkShownRow(target, *row);
  syncPosition(*target.Cursor, position);
  replyBlock(request, target, rows, false, row.get());
}

void ServeInsertRow(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  ClientCursor target = readCursor(request, session);
  std::unique_ptr<TBRNCursorRow> row = readRow(request, *target.Cursor, RowForm::WithFlags);
  const int32_t rows = readRowsPerBlock(request);
  target.Cursor->InsertRow(*row);
  replyBlock(request, target, rows);
}

void ServeUpdateRow(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  ClientCursor target = readCursor(request, session);
  std::unique_ptr<TBRNCursorRow> row = readRow(request, *target.Cursor, RowForm::WithFlags);
  ClientPosition position = readPosition(request, *target.Cursor);
  const int32_t rows = readRowsPerBlock(request);
  checkShownRow(target, *row);
  syncPosition(*target.Cursor, position);
  target.Cursor->UpdateRow(*row);
  replyBlock(request, target, rows);
}

void ServeDeleteRow(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  ClientCursor target = readCursor(request, session);
  std::unique_ptr<TBRNCursorRow> row = readRow(request, *target.Cursor, RowForm::WithoutFlags);
  ClientPosition position = readPosition(request, *target.Cursor);
  const int32_t rows = readRowsPerBlock(request);
  checkShownRow(target, *row);
  syncPosition(*target.Cursor, position);
  target.Cursor->DeleteRow(*row);
  replyBlock(request, target, rows);
}

void ServeCancelRow(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  ClientCursor target = readCursor(request, session);
  std::unique_ptr<TBRNCursorRow> row = readRow(request, *target.Cursor, RowForm::WithoutFlags);
  target.Cursor->CancelRow(*row);
}

// Reads the embedded stream's length and checks that it and the P and R
// behind it are all there, before the stream is applied: a short request
// changes nothing. Leaves the input at the stream's first byte and answers
// the position behind it.
int64_t checkEmbeddedStream(TBRNServerRequest& request, TBRNCursor& cursor, int32_t length,
                            ClientPosition& position, int32_t& rows) {
  if (length < 0) throw EBRNInvalidRequest();
  request.Require(length);
  TBRNCommsMemoryStream& in = request.Input();
  const int64_t start = in.GetPosition();
  in.SetPosition(start + length);
  position = readPosition(request, cursor);
  rows = readRowsPerBlock(request);
  const int64_t after = in.GetPosition();
  in.SetPosition(start);
  return after;
}

void ServeLoadFromStream(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  ClientCursor target = readCursor(request, session);
  const int32_t length = request.ReadInt32();
  ClientPosition position;
  int32_t rows = 1;
  const int64_t after = checkEmbeddedStream(request, *target.Cursor, length, position, rows);
  TBRNCommsMemoryStream& in = request.Input();
  auto* local = dynamic_cast<TBRNLocalCursor*>(target.Cursor);
  if (local != nullptr && length > 0) {
    local->LoadFromStream(in, length);
  } else {
    // An empty stream is loaded from an empty stream (a length of 0 would
    // read a local cursor's source to its end, the P and R behind it).
    TBRNMemoryStream stream;
    if (length > 0) stream.Write(in.GetMemory() + in.GetPosition(), length);
    stream.SetPosition(0);
    target.Cursor->LoadFromStream(stream);
  }
  in.SetPosition(after);
  syncPosition(*target.Cursor, position);
  replyBlock(request, target, rows);
}

void ServeSaveToStream(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  ClientCursor target = readCursor(request, session);
  ClientPosition position = readPosition(request, *target.Cursor);
  const int32_t rows = readRowsPerBlock(request);
  syncPosition(*target.Cursor, position);
  TBRNCommsMemoryStream& out = request.BeginReply();
  if (auto* local = dynamic_cast<TBRNLocalCursor*>(target.Cursor)) {
    local->SaveToStream(out, true);
  } else {
    TBRNMemoryStream stream;
    target.Cursor->SaveToStream(stream);
    out.WriteInteger(int32_t(stream.GetSize()));
    out.Write(stream.GetMemory(), int32_t(stream.GetSize()));
  }
  replyBlock(request, target, rows);
}

// The client's cached updates (their leading int32 is their length) are
// checked against the bytes that arrived before anything is applied; the
// apply itself is all or nothing.
void ServeApplyCachedUpdates(TBRNServerRequest& request, TBRNServerSessionManager& session) {
  ClientCursor target = readCursor(request, session);
  const bool ignoreMissing = request.ReadBoolean();
  const int32_t length = request.ReadInt32();
  ClientPosition position;
  int32_t rows = 1;
  const int64_t after = checkEmbeddedStream(request, *target.Cursor, length, position, rows);
  // Every cursor the server hands out is a local one.
  auto* local = dynamic_cast<TBRNLocalCursor*>(target.Cursor);
  if (local == nullptr) throw EBRNInvalidRequest();
  TBRNCommsMemoryStream& in = request.Input();
  local->ApplyUpdatesStream(in, length, ignoreMissing);
  in.SetPosition(after);
  syncPosition(*target.Cursor, position);
  replyBlock(request, target, rows);
}

// Codes that name cursor operations no request carries.
void ServeNoSuchRequest(TBRNServerRequest&, TBRNServerSessionManager&) {
  throw EBRNInvalidRequest();
}

}  // namespace

void AddCursorRequestHandlers(TBRNServerRequestTable& table) {
  table.Add(kOpRefreshCursor, &ServeRefreshCursor);
  table.Add(kOpFlushCursor, &ServeFlushCursor);
  table.Add(kOpEmptyCursor, &ServeEmptyCursor);
  table.Add(kBRNFreeCursorCode, &ServeFreeCursor);
  table.Add(kOpReadBlob, &ServeReadBlob);
  table.Add(kOpSetActiveIndex, &ServeSetActiveIndex);
  table.Add(kOpFirstRow, &ServeFirstRow);
  table.Add(kOpLastRow, &ServeLastRow);
  table.Add(kOpStepNext, &ServeNextRow);
  table.Add(kOpStepPrior, &ServePriorRow);
  table.Add(kOpSetToSequenceNumber, &ServeSetToSequenceNumber);
  table.Add(kOpSetToRowNumber, &ServeSetToRowNumber);
  table.Add(kOpSetToRowValues, &ServeSetToRowValues);
  table.Add(kOpSetToBookmark, &ServeSetToBookmark);
  table.Add(kOpLocateRow, &ServeLocateRow);
  table.Add(kOpFindRowByKey, &ServeFindRowByKey);
  table.Add(kOpSetRange, &ServeSetRange);
  table.Add(kOpCancelRange, &ServeCancelRange);
  table.Add(kOpCreateFilter, &ServeCreateFilter);
  table.Add(kOpDropFilter, &serveFilter<&TBRNCursor::DropFilter>);
  table.Add(kOpActivateFilter, &serveFilter<&TBRNCursor::ActivateFilter>);
  table.Add(kOpDeactivateFilter, &serveFilter<&TBRNCursor::DeactivateFilter>);
  table.Add(kOpSetSequenceRange, &ServeSetSequenceRange);
  table.Add(kOpCancelSequenceRange, &ServeCancelSequenceRange);
  table.Add(kOpLockRow, &ServeLockRow);
  table.Add(kOpUnlockRow, &ServeUnlockRow);
  table.Add(kOpUnlockAllRows, &ServeUnlockAllRows);
  table.Add(kOpInitializeRow, &ServeInitializeRow);
  table.Add(kOpGetCurrentRow, &ServeGetCurrentRow);
  table.Add(kOpInsertRow, &ServeInsertRow);
  table.Add(kOpUpdateRow, &ServeUpdateRow);
  table.Add(kOpDeleteRow, &ServeDeleteRow);
  table.Add(kOpCancelRow, &ServeCancelRow);
  table.Add(kOpLoadCursorFromStream, &ServeLoadFromStream);
  table.Add(kOpSaveCursorToStream, &ServeSaveToStream);
  table.Add(kOpApplyCachedUpdates, &ServeApplyCachedUpdates);
  for (int32_t code : {182, int32_t(kOpWriteBlob), int32_t(kOpStartCachedUpdates),
                       int32_t(kOpCancelCachedUpdates)}) {
    table.Add(code, &ServeNoSuchRequest);
  }
}

}  // namespace brn

#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <set>
#include <utility>
#include <vector>

namespace brn {

class TBRNCursor;

// What the server remembers of one cursor it handed to its client: which
// rows the client was shown and which BLOB references those rows hold. The
// client names rows and BLOBs by numbers it got from the server; only those
// numbers are served, so a forged number reaches no row or BLOB the cursor
// does not show.
struct TBRNServerCursorState {
  // The cursor given this handle; compared, never dereferenced, to see
  // whether the handle still leads to the same cursor.
  const TBRNCursor* Cursor = nullptr;
  // Row numbers of the last row block and of the server row.
  std::set<int32_t> ShownRows;
  // (row version, first BLOB block) of every BLOB value of those rows.
  std::set<std::pair<int32_t, int32_t>> BlobRefs;
};

// The state the request handlers keep in a server session between
// requests; it outlives reconnects with the session. Plain data: it owns no
// engine object, so it may be destroyed in any order with them. Used under
// the session lock.
struct TBRNServerRequestState {
  // By session-wide cursor handle.
  std::map<int32_t, TBRNServerCursorState> Cursors;

  // The last request served and its packed reply, kept so that a client
  // that lost the reply gets it again instead of running the request twice.
  // Digest empty: nothing kept. ReplyTooLarge: the reply was above the cap
  // and is not kept; the repeated request is refused instead.
  std::vector<uint8_t> LastRequestDigest;
  std::vector<uint8_t> LastReply;
  int32_t LastReplyCode = 0;
  bool LastReplyTooLarge = false;

  // A debugged script of the session has started and not ended yet; it
  // runs (not paused). Written by the script's thread through the
  // debugger callbacks, read by whoever holds the session.
  std::atomic<bool> ScriptActive{false};
  std::atomic<bool> ScriptRunning{false};

  void ForgetLastRequest() {
    LastRequestDigest.clear();
    LastReply.clear();
    LastReplyCode = 0;
    LastReplyTooLarge = false;
  }
};

}  // namespace brn

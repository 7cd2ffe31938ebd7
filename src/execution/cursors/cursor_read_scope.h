#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

namespace brn {

class TBRNLocalCursor;
class TBRNTableManager;

// Holds the table's Read lock across many operations of one local cursor,
// so that the Read bracket each row step takes nests inside this one and
// costs no lock call. Between the operations of the scope no other
// session's or process's flush of the table lands: the cursor sees one
// state of the table throughout.
//
// Other processes' writers of the table wait while a scope is open, so a
// caller opens one only around a bounded walk it runs to the end itself
// (building a result), never while a client holds a live cursor.
//
// Contract:
// - The cursor is open and outlives the scope; the scope ends (End or the
//   destructor) before the cursor is closed: closing it inside an open
//   scope is a std::logic_error.
// - Used by the cursor's thread only; scopes over one cursor nest.
// - The constructor raises the table's lock error when the Read lock
//   cannot be had, holding nothing then.
// - End gives the lock back and reports a failure to release it; the
//   destructor of a scope that was not ended (the walk failed) releases it
//   too but drops such a failure, the walk's failure being the one that
//   counts. A failure inside an operation of the scope leaves the lock held
//   until the scope ends.
// - A cursor over a table without files of its own (a view's) holds no
//   lock: the scope does nothing.
// - A Deferred scope (one cursor move) groups the reads without taking the
//   lock: the first read inside that goes to the files takes it, and the
//   scope holds it from there to its end (see
//   TBRNTableFileHost::BeginDeferredRead). A move that finds every block in
//   the cache so makes no lock call, and a writer is never kept waiting by
//   a cursor between two moves.
class TBRNCursorReadScope {
 public:
  explicit TBRNCursorReadScope(TBRNLocalCursor& Cursor, bool Deferred = false);
  ~TBRNCursorReadScope();
  TBRNCursorReadScope(const TBRNCursorReadScope&) = delete;
  TBRNCursorReadScope& operator=(const TBRNCursorReadScope&) = delete;

  // Ends the scope; idempotent.
  void End();

 private:
  TBRNLocalCursor& cursor_;
  TBRNTableManager* table_ = nullptr;
  bool open_ = false;
};

// The Read brackets of the source cursors of one walk (a result build, a
// join, an INSERT ... SELECT source), held in batches: the rows of a batch
// cost no lock call, and between two batches the brackets are given back
// for kGapTime so that other processes' writers of the sources get in
// (they poll for the lock every few milliseconds: a release followed at
// once by a retake would almost never let one in). The clock is read every
// kClockRows rows, and a batch ends at the first reading past kBatchTime;
// the gaps so cost a few percent of a long walk.
//
// On retaking, each table's change counters are read again: a writer's
// flush between two batches empties the table's caches, and the cursors'
// next moves rebuild their filter sets and find their rows again.
//
// Contract:
// - Add the cursors before the walk; each stays open until End or the
//   destructor (the same rules as TBRNCursorReadScope).
// - Tick once per row visited. Pause before anything that may wait on a
//   client or call out (a progress callback): the brackets are given back
//   and the next Tick takes them again.
// - End gives the brackets back and reports a failure to release; the
//   destructor drops such a failure (the walk's own failure counts).
// - Used by the thread of the cursors' session only.
class TBRNCursorReadBatch {
 public:
  static constexpr int32_t kClockRows = 32;
  static constexpr std::chrono::microseconds kBatchTime{1000};
  static constexpr std::chrono::microseconds kGapTime{20};

  TBRNCursorReadBatch() = default;
  ~TBRNCursorReadBatch();
  TBRNCursorReadBatch(const TBRNCursorReadBatch&) = delete;
  TBRNCursorReadBatch& operator=(const TBRNCursorReadBatch&) = delete;

  // Takes the cursor's bracket now (a cursor already added is skipped).
  void Add(TBRNLocalCursor& Cursor);
  void Tick();
  void Pause();
  void End();
  // Batches begun so far (the first included): for tests.
  int64_t GetBatchCount() const { return batches_; }

 private:
  void take();
  void release();

  std::vector<TBRNLocalCursor*> cursors_;
  std::vector<std::unique_ptr<TBRNCursorReadScope>> scopes_;
  bool held_ = false;
  int32_t rows_ = 0;
  int64_t batches_ = 0;
  std::chrono::steady_clock::time_point started_{};
};

}  // namespace brn

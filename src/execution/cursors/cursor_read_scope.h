#pragma once

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
class TBRNCursorReadScope {
 public:
  explicit TBRNCursorReadScope(TBRNLocalCursor& Cursor);
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

}  // namespace brn

#pragma once

namespace brn {

class TBRNCursor;
class TBRNCursorRow;

// What a local cursor asks of the query whose result it shows (the query
// manager implements it). The cursor and the query point at each other: the
// query sets the cursor's link when it opens the cursor, the cursor calls
// CursorClosed once when it closes, and the query clears the link when it
// goes first. Used by the session's thread only.
class TBRNQueryCursorLink {
 public:
  virtual ~TBRNQueryCursorLink() = default;

  // The cursor is a live view of the query's single source table.
  virtual bool IsSensitiveResult() const = 0;
  // Sensitive results only: whether the query had to run again because a
  // source table changed (the caller then treats the cursor as stale).
  virtual bool CheckSensitiveSources() = 0;
  // Sensitive results only: Row was read from the source table; the query's
  // select expressions that are not plain columns are computed into it.
  virtual void LoadQueryRow(TBRNCursorRow& Row) = 0;
  // The cursor closes; the query forgets it. Never raises.
  virtual void CursorClosed(TBRNCursor& Cursor) noexcept = 0;
};

}  // namespace brn

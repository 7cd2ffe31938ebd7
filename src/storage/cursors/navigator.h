#pragma once

#include <cstdint>

#include "foundation/runtime/handle_objects.h"

namespace brn {

class TBRNValues;

// Direction of a walk over rows or keys. 0 means "in place" where a caller has
// no direction of travel; SeekAcceptedRow treats it as forward.
using TBRNDirection = int32_t;
inline constexpr TBRNDirection kDirectionNone = 0;
inline constexpr TBRNDirection kDirectionForward = 1;
inline constexpr TBRNDirection kDirectionBackward = 2;

// The moving part of a cursor: something that stands on one row of an ordered
// sequence (the blocks of a row file, the keys of an index) and can step over
// it. Descendants implement the moves; the base searches for the nearest row
// that AcceptRow accepts.
//
// Every move takes Restart: a descendant sets it when the underlying file's
// cached state changed while it read (another writer); the caller then drops
// what it holds and repeats the whole operation. Every walk stops as soon as
// Restart is set. A navigator is used by one thread at a time.
class TBRNNavigator {
 public:
  TBRNNavigator() = default;
  TBRNNavigator(const TBRNNavigator&) = delete;
  TBRNNavigator& operator=(const TBRNNavigator&) = delete;
  virtual ~TBRNNavigator() = default;

  bool GetBof() const { return Bof; }
  bool GetEof() const { return Eof; }
  void SetBof(bool Flag) { Bof = Flag; }
  void SetEof(bool Flag) { Eof = Flag; }
  // True while SeekAcceptedRow runs.
  bool GetSeeking() const { return Seeking; }

  virtual int32_t GetRowCount() = 0;
  // Leaves the navigator on no row.
  virtual void ClearCurrentRow() = 0;
  // Whether Row is one this navigator visits. Stop set ends the walk in
  // Direction at once (the search turns round). Base: every row, no stop.
  virtual bool AcceptRow(int32_t Row, TBRNDirection Direction, bool& Stop);
  // The current row's number; 0 when there is none.
  virtual int32_t GetRowNumber() = 0;
  // How many rows after Row a read in Direction may fetch at once; Default is
  // the reader's own choice. Base: 1.
  virtual int32_t GetReadAheadCount(int32_t Row, TBRNDirection Direction, int32_t Default);
  // Positions on the first row whose values match Values (PartialLength
  // applies to the last value; CaseInsensitive compares texts without case).
  // Answers the comparison of the row or key it stands on with Values: 0 when
  // it matched.
  virtual int32_t FindKey(const TBRNValues& Values, int32_t PartialLength, bool& Restart,
                          bool CaseInsensitive) = 0;
  virtual bool GotoRowNumber(int32_t Row) = 0;
  virtual bool GotoSequenceNumber(int32_t Sequence) = 0;
  // Base First and Last do nothing and answer true.
  virtual bool First(bool& Restart);
  // Answers false at EOF (or when restarted).
  virtual bool Next(bool& Restart) = 0;
  // Answers false at BOF (or when restarted).
  virtual bool Prior(bool& Restart) = 0;
  virtual bool Last(bool& Restart);
  // Moves to the nearest row AcceptRow accepts, first in Direction (0 or 1
  // forward, 2 backward) and then in the other. Found on the way back, the flag
  // of the edge the first walk ran into stays set (Eof for a forward search,
  // Bof for a backward one). Nothing accepted, or no rows: no current row, Bof
  // and Eof both true. Clears Restart, then stops at once when a move sets it.
  // Called while it runs (from AcceptRow, or from a move that seeks by
  // itself) it does nothing at all and leaves Restart as it is.
  virtual void SeekAcceptedRow(TBRNDirection Direction, bool& Restart);

 protected:
  bool Bof = false;
  bool Eof = false;

 private:
  bool Seeking = false;
};

// Base of the cursor filters (local and remote); a cursor hands them out as
// handles. A filter is used by the thread of its cursor.
class TBRNFilter : public TBRNHandleObject {
 public:
  TBRNFilter() = default;
};

}  // namespace brn

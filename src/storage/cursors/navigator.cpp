#include "storage/cursors/navigator.h"

namespace brn {

bool TBRNNavigator::AcceptRow(int32_t /*Row*/, TBRNDirection /*Direction*/, bool& Stop) {
  Stop = false;
  return true;
}

int32_t TBRNNavigator::GetReadAheadCount(int32_t /*Row*/, TBRNDirection /*Direction*/,
                                         int32_t /*Default*/) {
  return 1;
}

bool TBRNNavigator::First(bool& Restart) {
  Restart = false;
  return true;
}

bool TBRNNavigator::Last(bool& Restart) {
  Restart = false;
  return true;
}

namespace {

// Clears the busy flag however the search ends (AcceptRow and the moves may
// raise).
class SeekGuard {
 public:
  explicit SeekGuard(bool& flag) : flag_(flag) { flag_ = true; }
  ~SeekGuard() { flag_ = false; }
  SeekGuard(const SeekGuard&) = delete;
  SeekGuard& operator=(const SeekGuard&) = delete;

 private:
  bool& flag_;
};

}  // namespace

void TBRNNavigator::SeekAcceptedRow(TBRNDirection Direction, bool& Restart) {
  // A call from inside the search (AcceptRow, or a move that seeks by itself)
  // does nothing at all, Restart included: the outer search owns the walk.
  if (Seeking) return;
  Restart = false;
  SeekGuard guard(Seeking);

  if (GetRowCount() > 0) {
    bool stop = false;
    if (Direction > kDirectionForward) {
      // Backward first; Eof is restored when a row is found on this walk.
      const bool oldEof = Eof;
      while (!Bof) {
        if (AcceptRow(GetRowNumber(), kDirectionBackward, stop)) {
          Eof = oldEof;
          return;
        }
        if (stop) break;
        Prior(Restart);
        if (Restart) return;
      }
      // Turned round: a row found forward keeps the Bof edge it ran into.
      stop = false;
      while (!Eof) {
        if (AcceptRow(GetRowNumber(), kDirectionForward, stop)) {
          Bof = true;
          Eof = oldEof;
          return;
        }
        if (stop) break;
        Next(Restart);
        if (Restart) return;
      }
    } else {
      const bool oldBof = Bof;
      while (!Eof) {
        if (AcceptRow(GetRowNumber(), kDirectionForward, stop)) {
          Bof = oldBof;
          return;
        }
        if (stop) break;
        Next(Restart);
        if (Restart) return;
      }
      stop = false;
      while (!Bof) {
        if (AcceptRow(GetRowNumber(), kDirectionBackward, stop)) {
          Bof = oldBof;
          Eof = true;
          return;
        }
        if (stop) break;
        Prior(Restart);
        if (Restart) return;
      }
    }
  }
  ClearCurrentRow();
  Bof = true;
  Eof = true;
}

}  // namespace brn

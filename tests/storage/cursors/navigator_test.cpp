#include "storage/cursors/navigator.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/values/value_list.h"

namespace brn {
namespace {

// Rows 1..N in order, moved over like the row file moves over its blocks:
// Next on the last row sets Eof and stays there, Prior on the first sets Bof.
// Which rows are accepted, where a walk stops and where a move restarts is set
// per case.
class ListNavigator : public TBRNNavigator {
 public:
  explicit ListNavigator(int32_t rowCount) : rowCount_(rowCount) {}

  std::set<int32_t> Accepted;
  // (row, direction) pairs at which AcceptRow sets Stop.
  std::set<std::pair<int32_t, TBRNDirection>> Stops;
  // Rows whose Next (forward) or Prior (backward) sets Restart.
  std::set<std::pair<int32_t, TBRNDirection>> Restarts;
  // Runs inside AcceptRow (before it answers).
  std::function<void()> OnAccept;
  bool UseBaseAcceptRow = false;
  int32_t Current = 0;  // 0: no current row
  int32_t ClearCalls = 0;
  std::vector<std::pair<int32_t, TBRNDirection>> Visits;

  void StandOn(int32_t row, bool bof, bool eof) {
    Current = row;
    Bof = bof;
    Eof = eof;
  }

  int32_t GetRowCount() override { return rowCount_; }
  void ClearCurrentRow() override {
    Current = 0;
    ++ClearCalls;
  }
  bool AcceptRow(int32_t Row, TBRNDirection Direction, bool& Stop) override {
    Visits.emplace_back(Row, Direction);
    if (OnAccept) OnAccept();
    if (UseBaseAcceptRow) return TBRNNavigator::AcceptRow(Row, Direction, Stop);
    Stop = Stops.count({Row, Direction}) > 0;
    return !Stop && Accepted.count(Row) > 0;
  }
  int32_t GetRowNumber() override { return Current; }
  int32_t FindKey(const TBRNValues&, int32_t, bool& Restart, bool) override {
    Restart = false;
    return 1;
  }
  bool GotoRowNumber(int32_t) override { return false; }
  bool GotoSequenceNumber(int32_t) override { return false; }
  // As the row file moves: past the last row sets Eof and stays; otherwise one
  // row on, both flags clear, then the search for an accepted row (which does
  // nothing while a search runs).
  bool Next(bool& Restart) override {
    Restart = Restarts.count({Current, kDirectionForward}) > 0;
    if (Restart) return false;
    if (Current >= rowCount_) {
      Eof = true;
      return false;
    }
    ++Current;
    Bof = false;
    Eof = false;
    SeekAcceptedRow(kDirectionForward, Restart);
    return !Restart && !Eof;
  }
  bool Prior(bool& Restart) override {
    Restart = Restarts.count({Current, kDirectionBackward}) > 0;
    if (Restart) return false;
    if (Current <= 1) {
      Bof = true;
      return false;
    }
    --Current;
    Bof = false;
    Eof = false;
    SeekAcceptedRow(kDirectionBackward, Restart);
    return !Restart && !Bof;
  }

 private:
  int32_t rowCount_;
};

struct SeekCase {
  std::string name;
  int32_t rows;
  int32_t start;
  bool bof, eof;
  TBRNDirection direction;
  std::set<int32_t> accepted;
  std::set<std::pair<int32_t, TBRNDirection>> stops;
  int32_t expectRow;  // 0: no current row
  bool expectBof, expectEof;
};

TEST(NavigatorSeek, FindsNearestAcceptedRowAndSetsEdgeFlags) {
  const TBRNDirection F = kDirectionForward, B = kDirectionBackward;
  const std::vector<SeekCase> cases = {
      {"empty table", 0, 0, false, false, F, {}, {}, 0, true, true},
      {"empty table backward", 0, 0, false, false, B, {1}, {}, 0, true, true},
      {"current row accepted in place", 5, 3, false, false, F, {3}, {}, 3, false, false},
      {"forward to a later row keeps Bof", 5, 1, true, false, F, {4}, {}, 4, true, false},
      {"direction 0 searches forward",
       5,
       2,
       false,
       false,
       kDirectionNone,
       {1, 4},
       {},
       4,
       false,
       false},
      {"forward from the last row turns round, Eof set",
       5,
       5,
       false,
       false,
       F,
       {2},
       {},
       2,
       false,
       true},
      {"forward from the middle turns round past the end",
       5,
       3,
       false,
       false,
       F,
       {1},
       {},
       1,
       false,
       true},
      {"backward to an earlier row keeps Eof", 5, 5, false, true, B, {2}, {}, 2, false, true},
      {"backward from the first row turns round, Bof set",
       5,
       1,
       true,
       false,
       B,
       {4},
       {},
       4,
       true,
       false},
      {"nothing accepted forward", 5, 2, false, false, F, {}, {}, 0, true, true},
      {"nothing accepted backward", 5, 4, false, false, B, {}, {}, 0, true, true},
      // Stop ends the walk at once: row 5 is acceptable but never reached.
      {"stop forward, found backward", 5, 2, false, false, F, {1, 5}, {{3, F}}, 1, false, true},
      {"stop backward, found forward", 5, 4, false, false, B, {1, 5}, {{3, B}}, 5, true, false},
      {"stop in both directions", 5, 3, false, false, F, {1, 5}, {{3, F}, {3, B}}, 0, true, true},
      {"stop on the way back ends the search", 5, 4, false, false, F, {1}, {{2, B}}, 0, true, true},
  };
  for (const SeekCase& c : cases) {
    SCOPED_TRACE(c.name);
    ListNavigator nav(c.rows);
    nav.Accepted = c.accepted;
    nav.Stops = c.stops;
    nav.StandOn(c.start, c.bof, c.eof);
    bool restart = true;
    nav.SeekAcceptedRow(c.direction, restart);
    EXPECT_FALSE(restart);
    EXPECT_EQ(nav.GetRowNumber(), c.expectRow);
    EXPECT_EQ(nav.GetBof(), c.expectBof);
    EXPECT_EQ(nav.GetEof(), c.expectEof);
    EXPECT_EQ(nav.ClearCalls, c.expectRow == 0 ? 1 : 0);
    EXPECT_FALSE(nav.GetSeeking());
  }
}

TEST(NavigatorSeek, StopIsAskedOnceAndTheOtherWalkStartsWhereItStopped) {
  ListNavigator nav(5);
  nav.Accepted = {1, 5};
  nav.Stops = {{3, kDirectionForward}};
  nav.StandOn(2, false, false);
  bool restart = false;
  nav.SeekAcceptedRow(kDirectionForward, restart);
  const std::vector<std::pair<int32_t, TBRNDirection>> expected = {
      {2, kDirectionForward},  {3, kDirectionForward},  {3, kDirectionBackward},
      {2, kDirectionBackward}, {1, kDirectionBackward},
  };
  EXPECT_EQ(nav.Visits, expected);
}

TEST(NavigatorSeek, RestartEndsTheWalkWithoutClearingTheRow) {
  struct RestartCase {
    std::string name;
    TBRNDirection direction;
    int32_t start;
    std::pair<int32_t, TBRNDirection> restartAt;
    int32_t expectRow;
  };
  const std::vector<RestartCase> cases = {
      {"restart on the forward walk", kDirectionForward, 1, {3, kDirectionForward}, 3},
      {"restart on the way back of a forward search",
       kDirectionForward,
       4,
       {3, kDirectionBackward},
       3},
      {"restart on the backward walk", kDirectionBackward, 5, {4, kDirectionBackward}, 4},
      {"restart on the way back of a backward search",
       kDirectionBackward,
       2,
       {3, kDirectionForward},
       3},
  };
  for (const RestartCase& c : cases) {
    SCOPED_TRACE(c.name);
    ListNavigator nav(5);  // accepts nothing: only the restart ends the search
    nav.Restarts = {c.restartAt};
    nav.StandOn(c.start, false, false);
    bool restart = false;
    nav.SeekAcceptedRow(c.direction, restart);
    EXPECT_TRUE(restart);
    EXPECT_EQ(nav.GetRowNumber(), c.expectRow);
    EXPECT_EQ(nav.ClearCalls, 0);
    EXPECT_FALSE(nav.GetBof() && nav.GetEof());
    // The next search runs normally.
    nav.Restarts.clear();
    nav.Accepted = {2};
    nav.SeekAcceptedRow(kDirectionForward, restart);
    EXPECT_FALSE(restart);
    EXPECT_EQ(nav.GetRowNumber(), 2);
  }
}

TEST(NavigatorSeek, DoesNotReenterItselfAndRecoversFromAFailingAcceptRow) {
  ListNavigator nav(5);
  nav.Accepted = {4};
  nav.StandOn(1, true, false);
  int32_t nested = 0;
  bool nestedRestart = true;  // a search that does nothing leaves it alone
  nav.OnAccept = [&] {
    EXPECT_TRUE(nav.GetSeeking());
    const int32_t before = nav.GetRowNumber();
    const size_t visits = nav.Visits.size();
    // An accept routine that moves the navigator must not start a second search.
    nav.SeekAcceptedRow(kDirectionBackward, nestedRestart);
    EXPECT_EQ(nav.GetRowNumber(), before);
    EXPECT_EQ(nav.Visits.size(), visits);
    ++nested;
  };
  bool restart = false;
  nav.SeekAcceptedRow(kDirectionForward, restart);
  EXPECT_EQ(nav.GetRowNumber(), 4);
  EXPECT_EQ(nested, 4);
  EXPECT_TRUE(nestedRestart);
  EXPECT_FALSE(nav.GetSeeking());

  // A failure inside AcceptRow leaves the navigator able to search again.
  nav.OnAccept = [] { throw std::runtime_error("filter failed"); };
  EXPECT_THROW(nav.SeekAcceptedRow(kDirectionForward, restart), std::runtime_error);
  EXPECT_FALSE(nav.GetSeeking());
  nav.OnAccept = nullptr;
  nav.Accepted = {2};
  nav.StandOn(3, false, false);
  nav.SeekAcceptedRow(kDirectionBackward, restart);
  EXPECT_EQ(nav.GetRowNumber(), 2);
}

TEST(NavigatorBase, DefaultsAcceptEveryRowInPlace) {
  ListNavigator nav(3);
  nav.UseBaseAcceptRow = true;
  nav.StandOn(2, false, false);
  bool restart = true;
  nav.SeekAcceptedRow(kDirectionBackward, restart);
  EXPECT_EQ(nav.GetRowNumber(), 2);
  EXPECT_EQ(nav.Visits.size(), 1u);
  EXPECT_FALSE(nav.GetBof() || nav.GetEof());

  TBRNNavigator& base = nav;
  bool stop = true;
  EXPECT_TRUE(base.TBRNNavigator::AcceptRow(1, kDirectionForward, stop));
  EXPECT_FALSE(stop);
  EXPECT_EQ(base.TBRNNavigator::GetReadAheadCount(1, kDirectionForward, 64), 1);
  restart = true;
  EXPECT_TRUE(base.TBRNNavigator::First(restart));
  EXPECT_FALSE(restart);
  restart = true;
  EXPECT_TRUE(base.TBRNNavigator::Last(restart));
  EXPECT_FALSE(restart);
}

}  // namespace
}  // namespace brn

#include "storage/indexes/index_navigator.h"

#include <algorithm>
#include <climits>
#include <stdexcept>
#include <string>

#include "foundation/core/sparse_bitmap.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "storage/files/table_file_guards.h"
#include "storage/files/table_file_set.h"
#include "storage/indexes/index_file.h"
#include "storage/indexes/index_pages.h"

namespace brn {

namespace {

// No tree of int32 page numbers is this deep; a descent that gets there
// follows a cycle of child links.
constexpr int32_t kMaxDepth = 64;
// Restarts of one operation before it gives up: each restart re-reads the
// header, so only a writer changing the file without pause gets here.
constexpr int32_t kMaxRestarts = 1000;

// Releases the navigator's path when a scope ends, also by an exception.
class PathRelease {
 public:
  explicit PathRelease(TBRNIndexNavigator* navigator, void (TBRNIndexNavigator::*release)())
      : navigator_(navigator), release_(release) {}
  ~PathRelease() { (navigator_->*release_)(); }
  PathRelease(const PathRelease&) = delete;
  PathRelease& operator=(const PathRelease&) = delete;

 private:
  TBRNIndexNavigator* navigator_;
  void (TBRNIndexNavigator::*release_)();
};

// Search values as key values: the values themselves when they are key
// values, else a view of them bound to the index's layout.
class KeyView {
 public:
  KeyView(const TBRNIndexKeyLayout& layout, const TBRNValues& values) : view_(layout) {
    keys_ = dynamic_cast<const TBRNKeyValues*>(&values);
    if (keys_ == nullptr) {
      int32_t count = std::min(values.GetCount(), layout.GetColumnCount());
      for (int32_t i = 0; i < count; ++i) view_.Add(values.GetItem(i));
      keys_ = &view_;
    }
  }
  const TBRNKeyValues& Get() const { return *keys_; }

 private:
  TBRNIndexKeyValues view_;
  const TBRNKeyValues* keys_ = nullptr;
};

}  // namespace

TBRNIndexNavigator::TBRNIndexNavigator(TBRNIndexManager* IndexFile, int32_t IndexNumber)
    : IndexFile(IndexFile),
      IndexNumber(IndexNumber),
      Layout(IndexFile->GetIndexHost()->GetIndexLayout(IndexNumber)),
      CurrentKey(*Layout),
      ScratchKey(*Layout) {
  SelectIndex();
  CurrentPage = IndexFile->NewPageBuffer();
}

TBRNIndexNavigator::~TBRNIndexNavigator() {
  releasePath();
}

void TBRNIndexNavigator::SelectIndex() {
  IndexFile->SelectIndex(IndexNumber);
}

// ---- Path ----

TBRNIndexLevel& TBRNIndexNavigator::levelAt(int32_t depth) {
  while (int32_t(Levels.size()) <= depth)
    Levels.push_back(std::make_unique<TBRNIndexLevel>(*Layout));
  return *Levels[size_t(depth)];
}

void TBRNIndexNavigator::releasePath() {
  for (auto& level : Levels) {
    level->Key.SetPage(nullptr);
    if (level->Page != nullptr) {
      TBRNIndexPage* page = level->Page;
      level->Page = nullptr;
      IndexFile->ReleasePage(page);
    }
  }
  ScratchKey.SetPage(nullptr);
  Depth = 0;
}

void TBRNIndexNavigator::checkLeaf(TBRNIndexPage* page, int32_t number) const {
  if (page->PageType != kIndexPageLeaf || page->EntryCount == 0) {
    IndexFile->RaiseCorrupt(
        FormatText("Invalid %s %s pointer (%s)",
                   {IndexFile->GetBlockKindName(), "leaf", std::to_string(number)}));
  }
}

void TBRNIndexNavigator::checkNeighbour(TBRNIndexPage* page, bool forward) {
  // The neighbour must link back and continue the key order strictly: a
  // damaged chain then fails here instead of walking in a circle.
  TBRNIndexKey edge(*Layout);
  edge.SetPage(CurrentPage.get());
  if (forward) {
    edge.Last();
  } else {
    edge.First();
  }
  int32_t cmp = ScratchKey.Compare(edge, 0, false);
  if (cmp == 0)
    cmp = ScratchKey.GetRowID() < edge.GetRowID()
              ? -1
              : (ScratchKey.GetRowID() > edge.GetRowID() ? 1 : 0);
  int32_t back = forward ? page->PriorLink : page->NextLink;
  if (back != CurrentPage->BlockNumber || (forward ? cmp <= 0 : cmp >= 0)) {
    IndexFile->RaiseCorrupt(
        FormatText(forward ? "Invalid next %s %s pointer (%s)" : "Invalid prior %s %s pointer (%s)",
                   {IndexFile->GetBlockKindName(), std::to_string(CurrentPage->BlockNumber),
                    std::to_string(page->BlockNumber)}));
  }
}

bool TBRNIndexNavigator::descend(Seek mode, const TBRNIndexSearchKey* search, bool& restart,
                                 int32_t& cmp) {
  releasePath();
  restart = false;
  cmp = 0;
  int32_t number = IndexFile->GetRootPage();
  for (int32_t depth = 0;; ++depth) {
    if (depth >= kMaxDepth) {
      IndexFile->RaiseCorrupt(FormatText(
          "Invalid recursive %s %s key page pointer (%s)",
          {IndexFile->GetBlockKindName(),
           std::to_string(Levels[size_t(depth - 1)]->Page->BlockNumber), std::to_string(number)}));
    }
    TBRNIndexLevel& level = levelAt(depth);
    TBRNIndexPage* page = IndexFile->GetPageChecked(number, restart);
    if (page == nullptr) {
      releasePath();
      return false;
    }
    level.Page = page;
    Depth = depth + 1;
    // The root is of type 0 or 3, every page below it of type 1 or 2.
    bool root = page->IsRoot();
    if (root != (depth == 0) || page->EntryCount == 0) {
      IndexFile->RaiseCorrupt(FormatText(
          "Invalid %s %s key page pointer (%s)",
          {IndexFile->GetBlockKindName(),
           depth > 0 ? std::to_string(Levels[size_t(depth - 1)]->Page->BlockNumber) : "root",
           std::to_string(number)}));
    }
    level.Key.SetPage(page);
    switch (mode) {
      case Seek::First:
        level.Key.First();
        cmp = 1;
        break;
      case Seek::Last:
        level.Key.Last();
        cmp = -1;
        break;
      case Seek::Lower:
      case Seek::LowerInPage:
        cmp = page->Search(*search, false, false, level.Key);
        break;
      case Seek::Exact:
        cmp = page->Search(*search, false, true, level.Key);
        break;
      case Seek::Upper:
        cmp = page->Search(*search, true, false, level.Key);
        break;
      case Seek::WithRowID:
        cmp = page->SearchWithRowID(*search, level.Key);
        break;
    }
    if (page->IsLeaf()) break;
    number = level.Key.GetRowPointer();
  }
  if ((mode == Seek::Lower || mode == Seek::Exact) && cmp < 0) {
    // Every key of the leaf is below the values: the first key not below
    // them starts the next leaf.
    TBRNIndexLevel& leaf = *Levels[size_t(Depth - 1)];
    int32_t next = leaf.Page->NextLink;
    if (next != 0) {
      TBRNIndexPage* page = IndexFile->GetPageChecked(next, restart);
      if (page == nullptr) {
        releasePath();
        return false;
      }
      TBRNIndexPage* old = leaf.Page;
      leaf.Page = page;
      leaf.Key.SetPage(nullptr);
      IndexFile->ReleasePage(old);
      checkLeaf(page, next);
      leaf.Key.SetPage(page);
      cmp = page->Search(*search, false, mode == Seek::Exact, leaf.Key);
    }
  }
  return true;
}

void TBRNIndexNavigator::descendForUpdate(const TBRNIndexSearchKey& search) {
  bool restart = false;
  int32_t cmp = 0;
  for (int32_t attempt = 0; attempt < kMaxRestarts; ++attempt) {
    if (descend(Seek::WithRowID, &search, restart, cmp)) return;
    SelectIndex();
    if (IndexFile->GetRootPage() == 0) return;
  }
  IndexFile->RaiseCorrupt("Error reading " + IndexFile->GetBlockKindName() + " from disk");
}

TBRNIndexPage* TBRNIndexNavigator::readPageForUpdate(int32_t n) {
  bool restart = false;
  TBRNIndexPage* page = IndexFile->GetPageChecked(n, restart);
  if (page == nullptr) {
    IndexFile->RaiseCorrupt("The " + IndexFile->GetBlockKindName() +
                            " file was changed by another writer during an update");
  }
  return page;
}

// ---- The current key ----

bool TBRNIndexNavigator::hasCurrent() const {
  return CurrentPage->EntryCount > 0 && CurrentKey.GetPage() == CurrentPage.get() &&
         CurrentKey.IsPositioned();
}

void TBRNIndexNavigator::copyLeaf() {
  TBRNIndexLevel& leaf = *Levels[size_t(Depth - 1)];
  CurrentKey.SetPage(nullptr);
  CurrentPage->AssignPage(*leaf.Page);
  CurrentPage->Host = nullptr;
  CurrentKey.SetPage(CurrentPage.get());
  if (CurrentPage->EntryCount > 0) CurrentKey.SetItem(leaf.Key.GetItemNumber());
  CopyChanges = IndexFile->GetTreeChangeCount();
}

void TBRNIndexNavigator::ClearCurrentRow() {
  CurrentKey.SetPage(nullptr);
  CurrentPage->Reset();
}

int32_t TBRNIndexNavigator::GetRowCount() {
  SelectIndex();
  return IndexFile->GetKeyCount();
}

int32_t TBRNIndexNavigator::GetRowNumber() {
  return hasCurrent() ? CurrentKey.GetRowPointer() : 0;
}

bool TBRNIndexNavigator::afterWindow(const TBRNKeyValues& key) {
  return (GetRanged() && CompareWithRange(key) > 0) ||
         (GetSearchKeyActive() && CompareWithSearchKey(key) > 0);
}

bool TBRNIndexNavigator::beforeWindow(const TBRNKeyValues& key) {
  return (GetRanged() && CompareWithRange(key) < 0) ||
         (GetSearchKeyActive() && CompareWithSearchKey(key) < 0);
}

bool TBRNIndexNavigator::AcceptRow(int32_t, TBRNDirection Direction, bool& Stop) {
  Stop = false;
  if (!hasCurrent()) return false;
  bool forward = Direction != kDirectionBackward;
  // Moving forward a key before the window is skipped and one after it ends
  // the walk; moving backward the other way round.
  auto passes = [&](int32_t c) {
    if (c == 0) return true;
    if ((c > 0) == forward) Stop = true;
    return false;
  };
  if (GetRanged() && !passes(CompareWithRange(CurrentKey))) return false;
  if (GetSearchKeyActive() && !passes(CompareWithSearchKey(CurrentKey))) return false;
  return true;
}

int32_t TBRNIndexNavigator::GetReadAheadCount(int32_t, TBRNDirection Direction, int32_t Default) {
  if (!hasCurrent() || Direction == kDirectionNone) return 1;
  return std::max(1, CurrentPage->CountConsecutiveRows(CurrentKey, Direction, Default));
}

bool TBRNIndexNavigator::GotoRowNumber(int32_t) {
  return false;
}

// ---- Moves ----

bool TBRNIndexNavigator::selectEmpty() {
  SelectIndex();
  if (IndexFile->GetRootPage() != 0) return false;
  ClearCurrentRow();
  Bof = true;
  Eof = true;
  return true;
}

bool TBRNIndexNavigator::moveToEnd(bool last, bool& restart) {
  restart = false;
  if (selectEmpty()) return false;
  {
    PathRelease release(this, &TBRNIndexNavigator::releasePath);
    const TBRNKeyValues* bound = nullptr;
    if (GetRanged()) bound = last ? GetRangeEndValues() : GetRangeStartValues();
    int32_t cmp = 0;
    bool done = false;
    if (bound != nullptr) {
      TBRNIndexSearchKey search;
      search.Prepare(*Layout, *bound, 0, false);
      done = descend(last ? Seek::Upper : Seek::Lower, &search, restart, cmp);
    } else {
      done = descend(last ? Seek::Last : Seek::First, nullptr, restart, cmp);
    }
    if (!done) return false;
    copyLeaf();
  }
  Bof = !last;
  Eof = last;
  SeekAcceptedRow(last ? kDirectionBackward : kDirectionForward, restart);
  return !restart && !(last ? Bof : Eof);
}

bool TBRNIndexNavigator::First(bool& Restart) {
  TableDeferredReadBracket operation(IndexFile->GetHost());
  return moveToEnd(false, Restart);
}

bool TBRNIndexNavigator::Last(bool& Restart) {
  TableDeferredReadBracket operation(IndexFile->GetHost());
  return moveToEnd(true, Restart);
}

bool TBRNIndexNavigator::Next(bool& Restart) {
  return step(true, Restart);
}

bool TBRNIndexNavigator::Prior(bool& Restart) {
  return step(false, Restart);
}

bool TBRNIndexNavigator::refindCurrent(bool& restart, int32_t& cmp) {
  PathRelease release(this, &TBRNIndexNavigator::releasePath);
  // The search reads the current key in the copy, which stays as it is
  // until copyLeaf replaces it.
  TBRNIndexSearchKey search;
  search.Prepare(*Layout, CurrentKey, 0, false);
  if (!descend(Seek::WithRowID, &search, restart, cmp)) return false;
  copyLeaf();
  return true;
}

bool TBRNIndexNavigator::step(bool forward, bool& Restart) {
  Restart = false;
  if (selectEmpty()) return false;
  // The edge the move runs into (EOF forward, BOF backward); the other one
  // is left behind.
  bool& edge = forward ? Eof : Bof;
  (forward ? Bof : Eof) = false;
  if (!hasCurrent()) {
    edge = true;
    return false;
  }
  const TBRNDirection ahead = forward ? kDirectionForward : kDirectionBackward;
  const TBRNDirection back = forward ? kDirectionBackward : kDirectionForward;
  auto beyondWindow = [&](const TBRNKeyValues& key) {
    return forward ? afterWindow(key) : beforeWindow(key);
  };
  if (forward ? CurrentKey.Next() : CurrentKey.Prior()) {
    if (beyondWindow(CurrentKey)) {
      if (forward) {
        CurrentKey.Prior();
      } else {
        CurrentKey.Next();
      }
      edge = true;
      SeekAcceptedRow(back, Restart);
      return false;
    }
  } else if (IndexFile->GetTreeChangeCount() != CopyChanges) {
    // The copy predates a change of the tree: its links may name leaves
    // that were split, merged or freed since. Find the key again; the step
    // is then made from the fresh copy, unless the search already stands
    // beyond the key (it was deleted).
    int32_t cmp = 0;
    {
      // A step inside the copied leaf reads nothing; one that reads pages
      // groups them in one deferred Read bracket.
      TableDeferredReadBracket operation(IndexFile->GetHost());
      if (!refindCurrent(Restart, cmp)) return false;
    }
    if (forward ? cmp <= 0 : cmp >= 0) return step(forward, Restart);
    if (beyondWindow(CurrentKey)) {
      edge = true;
      SeekAcceptedRow(back, Restart);
      return false;
    }
  } else {
    int32_t link = forward ? CurrentPage->NextLink : CurrentPage->PriorLink;
    if (link == 0) {
      edge = true;
    } else {
      bool beyond = false;
      {
        TableDeferredReadBracket operation(IndexFile->GetHost());
        PathRelease release(this, &TBRNIndexNavigator::releasePath);
        TBRNIndexPage* page = IndexFile->GetPageChecked(link, Restart);
        if (page == nullptr) return false;
        levelAt(0).Page = page;
        Depth = 1;
        checkLeaf(page, link);
        ScratchKey.SetPage(page);
        if (!forward) ScratchKey.Last();
        checkNeighbour(page, forward);
        beyond = beyondWindow(ScratchKey);
        ScratchKey.SetPage(nullptr);
        if (!beyond) {
          levelAt(0).Key.SetPage(page);
          if (!forward) levelAt(0).Key.Last();
          copyLeaf();
        }
      }
      if (beyond) {
        edge = true;
        SeekAcceptedRow(back, Restart);
        return false;
      }
    }
  }
  if (!edge) skipUnacceptedInLeaf(forward);
  SeekAcceptedRow(ahead, Restart);
  return !Restart && !edge;
}

bool TBRNIndexNavigator::LeafHasRowAhead(bool Forward, const TBRNSparseBitmap& Rows,
                                         int32_t Count) {
  if (!hasCurrent()) return false;
  int32_t moved = 0;
  bool found = false;
  while (moved < Count && (Forward ? CurrentKey.Next() : CurrentKey.Prior())) {
    ++moved;
    const int32_t row = CurrentKey.GetRowPointer();
    if (row >= 1 && row <= Rows.Size && Rows.IsBitSet(row)) {
      found = true;
      break;
    }
  }
  // Within one page a step back undoes a step forward exactly.
  for (; moved > 0; --moved) {
    if (Forward) {
      CurrentKey.Prior();
    } else {
      CurrentKey.Next();
    }
  }
  return found;
}

void TBRNIndexNavigator::skipUnacceptedInLeaf(bool forward) {
  // A key whose row is not in the set is refused whatever else AcceptRow
  // weighs; without a window no key ends the walk either, so passing over
  // such keys here changes nothing but the number of calls.
  const TBRNSparseBitmap* rows = GetAcceptedRows();
  if (rows == nullptr || GetRanged() || GetSearchKeyActive()) return;
  const int32_t size = rows->Size;
  int32_t passed = 0;
  for (;;) {
    const int32_t row = CurrentKey.GetRowPointer();
    if (row >= 1 && row <= size && rows->IsBitSet(row)) break;
    if (!(forward ? CurrentKey.Next() : CurrentKey.Prior())) break;
    ++passed;
  }
  if (passed > 0) NotePassedKeys(passed);
}

int32_t TBRNIndexNavigator::FindKey(const TBRNValues& Values, int32_t PartialLength, bool& Restart,
                                    bool CaseInsensitive) {
  TableDeferredReadBracket operation(IndexFile->GetHost());
  Restart = false;
  if (selectEmpty()) return 1;
  KeyView keys(*Layout, Values);
  int32_t placement = GetRanged() ? CompareWithRange(keys.Get()) : 0;
  if (placement < 0) {
    First(Restart);
  } else if (placement > 0) {
    Last(Restart);
  } else {
    {
      PathRelease release(this, &TBRNIndexNavigator::releasePath);
      TBRNIndexSearchKey search;
      search.Prepare(*Layout, keys.Get(), PartialLength, CaseInsensitive);
      bool exact = Layout->IsUnique() && PartialLength == 0 &&
                   keys.Get().GetCount() >= Layout->GetColumnCount();
      int32_t cmp = 0;
      if (!descend(exact ? Seek::Exact : Seek::Lower, &search, Restart, cmp)) return 1;
      copyLeaf();
    }
    Bof = false;
    Eof = false;
    SeekAcceptedRow(kDirectionNone, Restart);
  }
  if (Restart || !hasCurrent()) return 1;
  return CurrentKey.Compare(keys.Get(), PartialLength, CaseInsensitive);
}

int32_t TBRNIndexNavigator::GotoKey(const TBRNKeyValues& Values, bool& Restart) {
  TableDeferredReadBracket operation(IndexFile->GetHost());
  Restart = false;
  if (selectEmpty()) return 1;
  {
    PathRelease release(this, &TBRNIndexNavigator::releasePath);
    TBRNIndexSearchKey search;
    search.Prepare(*Layout, Values, 0, false);
    int32_t cmp = 0;
    if (!descend(Seek::WithRowID, &search, Restart, cmp)) return 1;
    copyLeaf();
  }
  Bof = false;
  Eof = false;
  if (!hasCurrent()) return 1;
  int32_t cmp = CurrentKey.Compare(Values, 0, false);
  if (cmp == 0 && !Layout->IsUnique()) {
    int32_t own = CurrentKey.GetRowID();
    int32_t other = Values.GetRowID();
    cmp = own < other ? -1 : (own > other ? 1 : 0);
  }
  return cmp;
}

bool TBRNIndexNavigator::HasKey(const TBRNKeyValues& Values, int32_t RowNumber) {
  TableDeferredReadBracket operation(IndexFile->GetHost());
  SelectIndex();
  if (IndexFile->GetRootPage() == 0) return false;
  PathRelease release(this, &TBRNIndexNavigator::releasePath);
  TBRNIndexSearchKey search;
  search.Prepare(*Layout, Values, 0, false);
  bool restart = false;
  int32_t cmp = 0;
  for (int32_t attempt = 0;; ++attempt) {
    if (descend(Seek::WithRowID, &search, restart, cmp)) break;
    if (attempt >= kMaxRestarts) {
      IndexFile->RaiseCorrupt("Error reading " + IndexFile->GetBlockKindName() + " from disk");
    }
    SelectIndex();
    if (IndexFile->GetRootPage() == 0) return false;
  }
  const TBRNIndexLevel& leaf = *Levels[size_t(Depth - 1)];
  return cmp == 0 && leaf.Key.IsPositioned() && leaf.Key.GetRowPointer() == RowNumber;
}

bool TBRNIndexNavigator::GotoSequenceNumber(int32_t Sequence) {
  TableDeferredReadBracket operation(IndexFile->GetHost());
  for (int32_t attempt = 0; attempt < kMaxRestarts; ++attempt) {
    bool restart = false;
    int32_t count = GetRowCount();
    if (count <= 0) {
      ClearCurrentRow();
      Bof = true;
      Eof = true;
      return false;
    }
    if (Sequence > count) {
      Last(restart);
    } else if (Sequence > count / 2) {
      Last(restart);
      for (int32_t i = 0; i < count - Sequence && !restart; ++i) {
        if (!Prior(restart)) break;
      }
      // Last stands on the last key with Eof set; that key is the one asked
      // for when Sequence is the count, and a caller reads Eof as "no key".
      if (!restart && hasCurrent()) Eof = false;
    } else {
      First(restart);
      for (int32_t i = 1; i < Sequence && !restart; ++i) {
        if (!Next(restart)) break;
      }
    }
    if (!restart) return hasCurrent();
  }
  IndexFile->RaiseCorrupt("Error reading " + IndexFile->GetBlockKindName() + " from disk");
  return false;
}

int32_t TBRNIndexNavigator::countKeys(const TBRNValues& values, int32_t partialLength,
                                      bool caseInsensitive, bool upTo, bool& restart) {
  TableDeferredReadBracket operation(IndexFile->GetHost());
  restart = false;
  SelectIndex();
  if (IndexFile->GetRootPage() == 0) return 0;
  PathRelease release(this, &TBRNIndexNavigator::releasePath);
  KeyView keys(*Layout, values);
  TBRNIndexSearchKey search;
  search.Prepare(*Layout, keys.Get(), partialLength, caseInsensitive);
  // No step into the next leaf: the position within each page is what is
  // counted.
  int32_t cmp = 0;
  if (!descend(upTo ? Seek::Upper : Seek::LowerInPage, &search, restart, cmp)) return 0;
  int64_t count = 0;
  for (int32_t depth = 0; depth < Depth; ++depth) {
    const TBRNIndexLevel& level = *Levels[size_t(depth)];
    bool leaf = level.Page->IsLeaf();
    int64_t ordinal = level.Key.GetItemNumber();
    // On a leaf whose keys all lie below the values, the count takes in
    // the key the search stopped on.
    if (leaf && cmp < 0) ++ordinal;
    // Each item before the position above stands for a page of about the
    // average fill; its first key is counted in that page, not again here.
    int64_t average = leaf ? IndexFile->GetAverageLeafKeys() : IndexFile->GetAverageInternalKeys();
    count = std::min<int64_t>(count * std::max<int64_t>(average, 1) + ordinal, INT32_MAX);
  }
  return int32_t(std::min<int64_t>(count, INT32_MAX));
}

int32_t TBRNIndexNavigator::CountKeysBelow(const TBRNValues& Values, int32_t PartialLength,
                                           bool CaseInsensitive, bool& Restart) {
  return countKeys(Values, PartialLength, CaseInsensitive, false, Restart);
}

int32_t TBRNIndexNavigator::CountKeysUpTo(const TBRNValues& Values, int32_t PartialLength,
                                          bool CaseInsensitive, bool& Restart) {
  return countKeys(Values, PartialLength, CaseInsensitive, true, Restart);
}

void TBRNIndexNavigator::Resynchronize(bool CheckBof, bool CheckEof, bool& Restart) {
  TableDeferredReadBracket operation(IndexFile->GetHost());
  Restart = false;
  if (GetRowCount() == 0 || !hasCurrent() || (GetRanged() && CompareWithRange(CurrentKey) != 0)) {
    Bof = true;
    Eof = true;
    return;
  }
  if (CheckBof && !Bof) {
    if (!probeEdge(false, Restart)) return;
  } else if (!CheckBof) {
    Bof = false;
  }
  if (Bof) return;
  if (CheckEof && !Eof) {
    if (!probeEdge(true, Restart)) return;
  } else if (!CheckEof) {
    Eof = false;
  }
}

bool TBRNIndexNavigator::probeEdge(bool forward, bool& restart) {
  bool& edge = forward ? Eof : Bof;
  bool& other = forward ? Bof : Eof;
  bool kept = other;
  if (forward) {
    Next(restart);
  } else {
    Prior(restart);
  }
  if (restart) return false;
  if (!edge) {
    if (forward) {
      Prior(restart);
    } else {
      Next(restart);
    }
    if (restart) return false;
  }
  other = kept;
  return true;
}

// ---- Upkeep ----

bool TBRNIndexNavigator::sameKey(const TBRNIndexKey& a, const TBRNIndexKey& b) const {
  return a.Compare(b, 0, false) == 0 && a.GetRowID() == b.GetRowID();
}

void TBRNIndexNavigator::InsertKey(const TBRNKeyValues& Key, int32_t RowNumber) {
  TableReadBracket bracket(IndexFile->GetHost());
  TBRNTableOperation operation(IndexFile);
  insertKey(Key, RowNumber);
  operation.Commit();
}

void TBRNIndexNavigator::insertKey(const TBRNKeyValues& Key, int32_t RowNumber) {
  SelectIndex();
  IndexFile->NoteTreeChange();
  releasePath();
  PathRelease release(this, &TBRNIndexNavigator::releasePath);
  if (IndexFile->GetRootPage() == 0) {
    TBRNIndexPage* page = IndexFile->AllocatePage(kIndexPageRootLeaf);
    TBRNIndexLevel& level = levelAt(0);
    level.Page = page;
    Depth = 1;
    // The page becomes the root only with its key: a key that cannot be
    // stored leaves the index empty rather than rooted in an empty page.
    try {
      page->InsertKey(Key, RowNumber, level.Key);
    } catch (...) {
      IndexFile->FreePage(page);
      throw;
    }
    IndexFile->SetRootPage(page->BlockNumber);
    return;
  }
  TBRNIndexSearchKey search;
  search.Prepare(*Layout, Key, 0, false);
  descendForUpdate(search);
  if (Depth == 0) {
    // Emptied by another writer while we restarted: the key makes the root.
    insertKey(Key, RowNumber);
    return;
  }
  TBRNIndexLevel& leaf = *Levels[size_t(Depth - 1)];
  if (!leaf.Page->InsertKey(Key, search, RowNumber, leaf.Key)) return;
  splitPath(Depth - 1);
}

void TBRNIndexNavigator::splitRoot(TBRNIndexPage* root, TBRNIndexPage* newPage) {
  if (root->PageType == kIndexPageRootLeaf) {
    root->SetPageType(kIndexPageLeaf);
  } else {
    root->SetPageType(kIndexPageInternal);
    IndexFile->IncInternalPageCount();
    IndexFile->IncInternalKeyCount(root->ItemTotal + newPage->ItemTotal);
  }
  TBRNIndexPage* top = IndexFile->AllocatePage(kIndexPageRootInternal);
  IndexFile->SetRootPage(top->BlockNumber);
  try {
    TBRNIndexKey position(*Layout);
    ScratchKey.SetPage(root);
    top->InsertKey(ScratchKey, root->BlockNumber, position);
    ScratchKey.SetPage(newPage);
    top->InsertKey(ScratchKey, newPage->BlockNumber, position);
    ScratchKey.SetPage(nullptr);
  } catch (...) {
    ScratchKey.SetPage(nullptr);
    IndexFile->ReleasePage(top);
    throw;
  }
  IndexFile->ReleasePage(top);
}

void TBRNIndexNavigator::splitPath(int32_t level) {
  for (; level >= 0; --level) {
    TBRNIndexLevel& here = *Levels[size_t(level)];
    TBRNIndexPage* page = here.Page;
    if (!page->IsOverfull()) break;
    bool leaf = page->IsLeaf();
    TBRNIndexPage* newPage = IndexFile->AllocatePage(leaf ? kIndexPageLeaf : kIndexPageInternal);
    try {
      if (leaf) {
        newPage->SetPriorLink(page->BlockNumber);
        newPage->SetNextLink(page->NextLink);
        if (page->NextLink != 0) {
          TBRNIndexPage* following = readPageForUpdate(page->NextLink);
          following->SetPriorLink(newPage->BlockNumber);
          IndexFile->ReleasePage(following);
        }
        page->SetNextLink(newPage->BlockNumber);
      }
      here.Key.SetPage(nullptr);
      page->SplitInto(*newPage);
      if (page->IsRoot()) {
        splitRoot(page, newPage);
        IndexFile->ReleasePage(newPage);
        return;
      }
      TBRNIndexLevel& parent = *Levels[size_t(level - 1)];
      // The parent's item for the full page carries its first key: when an
      // insert at the front changed that key, the item is filed again.
      ScratchKey.SetPage(page);
      if (!sameKey(ScratchKey, parent.Key)) {
        parent.Page->DeleteAt(parent.Key);
        parent.Page->InsertKey(ScratchKey, page->BlockNumber, parent.Key);
      }
      ScratchKey.SetPage(newPage);
      TBRNIndexKey position(*Layout);
      parent.Page->InsertKey(ScratchKey, newPage->BlockNumber, position);
      ScratchKey.SetPage(nullptr);
    } catch (...) {
      ScratchKey.SetPage(nullptr);
      IndexFile->ReleasePage(newPage);
      throw;
    }
    IndexFile->ReleasePage(newPage);
  }
  if (level >= 0) refreshFirstKeys(level);
}

void TBRNIndexNavigator::refreshFirstKeys(int32_t level) {
  for (; level > 0; --level) {
    TBRNIndexPage* page = Levels[size_t(level)]->Page;
    TBRNIndexLevel& parent = *Levels[size_t(level - 1)];
    if (page == nullptr || page->EntryCount == 0) break;
    ScratchKey.SetPage(page);
    bool same = sameKey(ScratchKey, parent.Key);
    if (!same) {
      parent.Page->DeleteAt(parent.Key);
      parent.Page->InsertKey(ScratchKey, page->BlockNumber, parent.Key);
    }
    ScratchKey.SetPage(nullptr);
    if (same) break;
    // In a non-unique index the new key may need an entry of its own where
    // the old one shared an entry: the parent can grow past its page.
    if (parent.Page->IsOverfull()) {
      splitPath(level - 1);
      return;
    }
  }
}

void TBRNIndexNavigator::DeleteKey(const TBRNKeyValues& KeyValues) {
  TableReadBracket bracket(IndexFile->GetHost());
  TBRNTableOperation operation(IndexFile);
  deleteKey(KeyValues);
  operation.Commit();
}

void TBRNIndexNavigator::deleteKey(const TBRNKeyValues& KeyValues) {
  SelectIndex();
  IndexFile->NoteTreeChange();
  releasePath();
  PathRelease release(this, &TBRNIndexNavigator::releasePath);
  if (IndexFile->GetRootPage() == 0) {
    if (Layout->IsTextIndex()) return;
    IndexFile->RaiseCorrupt(
        FormatText("The index %s is missing a required key", {Layout->GetIndexName()}));
  }
  TBRNIndexSearchKey search;
  search.Prepare(*Layout, KeyValues, 0, false);
  descendForUpdate(search);
  if (Depth == 0) {
    if (Layout->IsTextIndex()) return;
    IndexFile->RaiseCorrupt(
        FormatText("The index %s is missing a required key", {Layout->GetIndexName()}));
  }
  int32_t level = Depth - 1;
  TBRNIndexLevel& leaf = *Levels[size_t(level)];
  if (!leaf.Page->LocateForDelete(KeyValues, leaf.Key)) return;
  leaf.Page->DeleteAt(leaf.Key);

  // Pages left underfull are freed when empty, merged into their prior leaf
  // when both fit in one page, and a root with one child hands the root to
  // it.
  for (;;) {
    TBRNIndexLevel& here = *Levels[size_t(level)];
    TBRNIndexPage* page = here.Page;
    if (!page->IsUnderfull()) break;
    if (page->PageType == kIndexPageRootLeaf) {
      if (page->ItemTotal == 0) {
        here.Key.SetPage(nullptr);
        here.Page = nullptr;
        IndexFile->FreePage(page);
        IndexFile->ReleasePage(page);
        IndexFile->SetRootPage(0);
      }
      return;
    }
    if (page->PageType == kIndexPageRootInternal) {
      if (page->ItemTotal == 0) {
        here.Key.SetPage(nullptr);
        here.Page = nullptr;
        IndexFile->FreePage(page);
        IndexFile->ReleasePage(page);
        IndexFile->SetRootPage(0);
      } else if (page->ItemTotal == 1) {
        here.Key.SetPage(page);
        int32_t childNumber = here.Key.GetRowPointer();
        TBRNIndexPage* child = readPageForUpdate(childNumber);
        if (child->IsRoot()) {
          IndexFile->ReleasePage(child);
          IndexFile->RaiseCorrupt(
              FormatText("Invalid recursive %s %s key page pointer (%s)",
                         {IndexFile->GetBlockKindName(), std::to_string(page->BlockNumber),
                          std::to_string(childNumber)}));
        }
        if (child->IsLeaf()) {
          child->SetPageType(kIndexPageRootLeaf);
        } else {
          IndexFile->DecInternalPageCount();
          IndexFile->DecInternalKeyCount(child->ItemTotal);
          child->SetPageType(kIndexPageRootInternal);
        }
        child->SetNextLink(0);
        child->SetPriorLink(0);
        IndexFile->SetRootPage(childNumber);
        IndexFile->ReleasePage(child);
        here.Key.SetPage(nullptr);
        here.Page = nullptr;
        IndexFile->FreePage(page);
        IndexFile->ReleasePage(page);
      }
      return;
    }
    if (level == 0) break;  // not reached through a sound tree
    TBRNIndexLevel& parent = *Levels[size_t(level - 1)];
    bool leafPage = page->IsLeaf();
    if (page->ItemTotal == 0 || (leafPage && page->PriorLink != 0)) {
      // The prior leaf is held in the work level below the path, so that
      // the path's release gives it back also when an exception passes.
      TBRNIndexLevel& work = levelAt(Depth);
      TBRNIndexPage* prior = nullptr;
      if (leafPage && page->PriorLink != 0) {
        prior = readPageForUpdate(page->PriorLink);
        work.Page = prior;
        // The prior leaf must link back: a damaged chain is not merged into.
        if (prior == page || !prior->IsLeaf() || prior->NextLink != page->BlockNumber) {
          IndexFile->RaiseCorrupt(
              FormatText("Invalid prior %s %s pointer (%s)",
                         {IndexFile->GetBlockKindName(), std::to_string(page->BlockNumber),
                          std::to_string(page->PriorLink)}));
        }
      }
      if (page->ItemTotal > 0) {
        // Merge into the prior leaf when both fit in one page.
        if (page->CanTake(*prior)) {
          bool join = false;
          if (!Layout->IsUnique()) {
            TBRNIndexKey priorLast(*Layout);
            priorLast.SetPage(prior);
            priorLast.Last();
            ScratchKey.SetPage(page);
            join = ScratchKey.Compare(priorLast, 0, false) == 0;
            if (join) {
              priorLast.SetDuplicateCount(priorLast.GetDuplicateCount() +
                                          ScratchKey.GetDuplicateCount());
            }
            ScratchKey.SetPage(nullptr);
          }
          here.Key.SetPage(nullptr);
          page->MergeInto(*prior, join);
        } else {
          break;
        }
      }
      // Unlink the empty page from the leaf chain.
      if (leafPage) {
        if (prior != nullptr) {
          prior->SetNextLink(page->NextLink);
        }
        if (page->NextLink != 0) {
          TBRNIndexPage* following = readPageForUpdate(page->NextLink);
          following->SetPriorLink(page->PriorLink);
          IndexFile->ReleasePage(following);
        }
      }
      if (prior != nullptr) {
        work.Page = nullptr;
        IndexFile->ReleasePage(prior);
      }
      here.Key.SetPage(nullptr);
      here.Page = nullptr;
      IndexFile->FreePage(page);
      IndexFile->ReleasePage(page);
      parent.Page->DeleteAt(parent.Key);
      --level;
      continue;
    }
    break;
  }
  refreshFirstKeys(level);
}

}  // namespace brn

#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "storage/cursors/navigator.h"
#include "storage/indexes/index_keys.h"

namespace brn {

class TBRNIndexManager;
class TBRNIndexPage;
class TBRNSparseBitmap;

// One level of a root-to-leaf path: the page pinned at that level (nullptr
// when none) and a key positioned in it.
struct TBRNIndexLevel {
  explicit TBRNIndexLevel(const TBRNIndexKeyLayout& layout) : Key(layout) {}
  TBRNIndexPage* Page = nullptr;
  TBRNIndexKey Key;
};

using TBRNIndexLevels = std::vector<std::unique_ptr<TBRNIndexLevel>>;

// Walks one index of a table in key order and keeps its B-tree in shape:
// seeks keys, moves first, last, next and prior, estimates key positions and
// counts, and inserts and deletes keys with page splits, merges and root
// changes.
//
// Every public operation makes its index the file's current index, builds a
// path from the root, and releases the path before it returns, also when an
// exception passes: no cache page stays pinned between calls. Between calls
// only a private copy of the current leaf and the current key's position in
// it survive. A move whose page read finds that another writer changed the
// index file releases the path and sets Restart; the caller then
// repositions. Page numbers and types read from the file are checked before
// they are followed: damage raises 601, never a loop or a read outside the
// file.
//
// Ranges and search windows are supplied by derived navigators through the
// six virtual range operations; this class has neither. One navigator is
// used by one thread.
class TBRNIndexNavigator : public TBRNNavigator {
 public:
  // The layout of IndexNumber is the index host's; it must outlive the
  // navigator.
  TBRNIndexNavigator(TBRNIndexManager* IndexFile, int32_t IndexNumber);
  ~TBRNIndexNavigator() override;

  TBRNIndexManager* GetIndexFile() const { return IndexFile; }
  int32_t GetIndexNumber() const { return IndexNumber; }
  const TBRNIndexKeyLayout& GetLayout() const { return *Layout; }
  // The key the navigator stands on (not positioned when there is none).
  const TBRNIndexKey& GetCurrentKey() const { return CurrentKey; }

  // TBRNNavigator.
  int32_t GetRowCount() override;
  void ClearCurrentRow() override;
  bool AcceptRow(int32_t Row, TBRNDirection Direction, bool& Stop) override;
  int32_t GetRowNumber() override;
  int32_t GetReadAheadCount(int32_t Row, TBRNDirection Direction, int32_t Default) override;
  // Stands on the first key not below Values (Values before the range:
  // First; after it: Last) and answers its comparison with Values (1 when
  // there is none).
  int32_t FindKey(const TBRNValues& Values, int32_t PartialLength, bool& Restart,
                  bool CaseInsensitive) override;
  // Row numbers have no place in key order: answers false, nothing moves.
  bool GotoRowNumber(int32_t Row) override;
  // Stands on the Sequence-th key (1-based) from the nearer end; a restart
  // repeats the whole move.
  bool GotoSequenceNumber(int32_t Sequence) override;
  bool First(bool& Restart) override;
  bool Next(bool& Restart) override;
  bool Prior(bool& Restart) override;
  bool Last(bool& Restart) override;

  // Ranges and search windows (none in this class). CompareWithRange
  // answers -1 for a key before the range start, 1 after its end, else 0;
  // CompareWithSearchKey likewise for the search window.
  virtual bool GetRanged() { return false; }
  virtual const TBRNKeyValues* GetRangeStartValues() { return nullptr; }
  virtual const TBRNKeyValues* GetRangeEndValues() { return nullptr; }
  virtual int32_t CompareWithRange(const TBRNKeyValues&) { return 0; }
  virtual bool GetSearchKeyActive() { return false; }
  virtual int32_t CompareWithSearchKey(const TBRNKeyValues&) { return 0; }
  // A set holding the row of every key that AcceptRow may accept (nullptr:
  // none). While no range or search window is active, Next and Prior pass
  // over the keys of the copied leaf whose rows it lacks without weighing
  // each one, and tell NotePassedKeys how many. The set lives at least
  // until the move ends.
  virtual const TBRNSparseBitmap* GetAcceptedRows() { return nullptr; }
  virtual void NotePassedKeys(int32_t) {}

  // Whether one of the Count keys next to the current one in the copied
  // leaf (after it when Forward, else before it) has a row that Rows holds.
  // Reads nothing and leaves the position as it was.
  bool LeafHasRowAhead(bool Forward, const TBRNSparseBitmap& Rows, int32_t Count);
  // Stands on the exact (key, row ID) of Values, or on where it would be;
  // answers the comparison (row ID included) of the key found with Values.
  int32_t GotoKey(const TBRNKeyValues& Values, bool& Restart);
  // Whether the exact (key, row ID) of Values with RowNumber is present.
  bool HasKey(const TBRNKeyValues& Values, int32_t RowNumber);
  // Estimated number of keys before the first key matching Values, and up
  // to the last one (exact for a tree of one page).
  int32_t CountKeysBelow(const TBRNValues& Values, int32_t PartialLength, bool CaseInsensitive,
                         bool& Restart);
  int32_t CountKeysUpTo(const TBRNValues& Values, int32_t PartialLength, bool CaseInsensitive,
                        bool& Restart);
  // Index upkeep; Key carries the row ID for item indexes. InsertKey raises
  // 601 for a duplicate (a text index ignores the same word of one row);
  // DeleteKey raises 601 for a missing key, except in a text index. Each is
  // one operation of the index file's table (see TBRNTableFileSet): a
  // failure, a split's included, leaves every page and count as before.
  void InsertKey(const TBRNKeyValues& Key, int32_t RowNumber);
  void DeleteKey(const TBRNKeyValues& KeyValues);
  void SelectIndex();
  // Re-establishes BOF and EOF around the current key after the index
  // changed.
  void Resynchronize(bool CheckBof, bool CheckEof, bool& Restart);

 protected:
  enum class Seek : uint8_t { First, Last, Lower, LowerInPage, Exact, Upper, WithRowID };

  TBRNIndexLevel& levelAt(int32_t depth);
  void releasePath();
  // Builds the path from the root to a leaf by mode; false (path released)
  // on a restart. Lower and Exact continue into the next leaf when every
  // key of the leaf is below the values. cmp: the leaf's search result.
  bool descend(Seek mode, const TBRNIndexSearchKey* search, bool& restart, int32_t& cmp);
  // The same for index upkeep: a restart before anything changed is
  // repeated.
  void descendForUpdate(const TBRNIndexSearchKey& search);
  // A page read in the middle of a change: a restart there means another
  // writer ignored the table's locks.
  TBRNIndexPage* readPageForUpdate(int32_t n);
  void checkLeaf(TBRNIndexPage* page, int32_t number) const;
  // page is the leaf after (forward) or before the current copy, with
  // ScratchKey on its item next to the copy.
  void checkNeighbour(TBRNIndexPage* page, bool forward);
  void copyLeaf();
  bool hasCurrent() const;
  bool afterWindow(const TBRNKeyValues& key);
  bool beforeWindow(const TBRNKeyValues& key);
  // Selects the index; when it is empty, clears the current key, sets BOF
  // and EOF and answers true.
  bool selectEmpty();
  bool moveToEnd(bool last, bool& restart);
  // Resynchronize: steps toward one edge (forward: EOF) and, unless it was
  // reached, back again; the other edge's flag keeps its value. false on a
  // restart.
  bool probeEdge(bool forward, bool& restart);
  // Next (forward) or Prior.
  bool step(bool forward, bool& restart);
  // Within the copied leaf, from the current key on towards forward, the
  // first key whose row GetAcceptedRows holds, else the leaf's edge key;
  // nothing while a range or search window is active.
  void skipUnacceptedInLeaf(bool forward);
  // Descends to the current key's (key, row ID) and copies that leaf; cmp:
  // the leaf search's answer. false (path released) on a restart.
  bool refindCurrent(bool& restart, int32_t& cmp);
  bool sameKey(const TBRNIndexKey& a, const TBRNIndexKey& b) const;
  // The bodies of InsertKey and DeleteKey inside their operation.
  void insertKey(const TBRNKeyValues& Key, int32_t RowNumber);
  void deleteKey(const TBRNKeyValues& KeyValues);
  void splitPath(int32_t level);
  void splitRoot(TBRNIndexPage* root, TBRNIndexPage* newPage);
  void refreshFirstKeys(int32_t level);
  int32_t countKeys(const TBRNValues& values, int32_t partialLength, bool caseInsensitive,
                    bool upTo, bool& restart);

  TBRNIndexManager* IndexFile;
  int32_t IndexNumber;
  const TBRNIndexKeyLayout* Layout;
  std::unique_ptr<TBRNIndexPage> CurrentPage;
  TBRNIndexKey CurrentKey;
  TBRNIndexKey ScratchKey;
  // The file's tree change count when the current leaf was copied.
  uint64_t CopyChanges = 0;
  int32_t Depth = 0;
  TBRNIndexLevels Levels;
};

}  // namespace brn

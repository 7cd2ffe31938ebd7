#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "storage/files/buffer_cache.h"
#include "storage/indexes/index_keys.h"

namespace brn {

class TBRNTableFileManager;

// Page types (byte 4 of every index page).
inline constexpr uint8_t kIndexPageRootInternal = 0;
inline constexpr uint8_t kIndexPageInternal = 1;
inline constexpr uint8_t kIndexPageLeaf = 2;
inline constexpr uint8_t kIndexPageRootLeaf = 3;
// Header sizes: leaf pages (types 2, 3) carry a prior link.
inline constexpr int32_t kIndexLeafHeaderSize = 11;
inline constexpr int32_t kIndexInternalHeaderSize = 7;

// What a page needs of the index file it lives in: the key counts of the
// index's header record. The index file manager implements it; a page
// without host (detached copies, tests) counts nothing.
class TBRNIndexPageHost {
 public:
  virtual ~TBRNIndexPageHost() = default;
  // Items added (delta > 0) or removed in leaf pages (types 2, 3) and in
  // internal pages of type 1 of the current index.
  virtual void ChangeLeafKeyCount(int32_t delta) = 0;
  virtual void ChangeInternalKeyCount(int32_t delta) = 0;
};

// One page of an index B-tree: a block of the index file.
//
// Layout, little-endian: int32 next link (next leaf; free-list link of a
// free page), byte page type, int32 prior link (types 2 and 3 only), uint16
// entry count, the entries in key order (unique: key + int32 pointer;
// otherwise key + uint16 item count), then, outside a unique index, the
// items (int32 row ID, int32 pointer) of entry 0, entry 1, ..., each entry's
// sorted by row ID. A pointer is a row number in a leaf and a child page in
// an internal page.
//
// The header fields live in the block stream as well as in the fields below:
// every setter of this class writes both (the next link, as for every block,
// is written by WriteHeader when the page is flushed).
// Page contents read from the file are untrusted: BindLayout checks the page
// type, the entry count and every item count against the page size and
// raises 601 (through the owner's RaiseCorrupt) instead of reading outside.
//
// The block stream grows beyond the page size only inside InsertKey, until
// the SplitInto that follows shrinks it back.
class TBRNIndexPage : public TBRNTableFileBuffer {
 public:
  TBRNIndexPage(TBRNTableFileManager* owner, TBRNIndexPageHost* host);

  TBRNIndexPageHost* Host;
  // The key layout of the index the page belongs to (nullptr until bound).
  const TBRNIndexKeyLayout* Layout = nullptr;
  uint8_t PageType = kIndexPageRootLeaf;
  int32_t HeaderSize = kIndexLeafHeaderSize;
  int32_t EntrySize = 0;
  int32_t ItemSize = 0;
  int32_t PriorLink = 0;
  int32_t EntryCount = 0;
  // Sum of the entries' item counts; the entry count in a unique index.
  int32_t ItemTotal = 0;
  // Offset of the end of the used bytes.
  int32_t UsedEnd = kIndexLeafHeaderSize;

  int32_t GetHeaderSize() const override { return HeaderSize; }
  // Before a flush: an overfull page (an insert not followed by its split)
  // throws std::logic_error rather than write past its block.
  void WriteHeader() override;
  // Parses next link, type, prior link and entry count as they stand; never
  // raises (the checks are BindLayout's).
  void ReadHeader() override;
  // Type 3, prior 0, no entries (written into the stream when it holds a
  // page).
  void Reset() override;
  // Copies the block (as the base Assign; of a bound page only the used
  // bytes, the rest keeps what it held) and the page fields.
  virtual void AssignPage(const TBRNIndexPage& source);
  virtual bool IsSamePage(const TBRNIndexPage& other) const;

  // Makes the page a page of layout's index and checks its header and item
  // counts against the page size: 601 when they do not fit. Cheap when the
  // page is already bound to layout and its bytes were not re-read since.
  // The layout must outlive the page's binding.
  void BindLayout(const TBRNIndexKeyLayout* layout);
  bool IsBound() const { return bound_; }

  // The block size (the stream may be longer inside an insert).
  int32_t GetPageSize() const { return pageSize_; }
  bool IsLeaf() const { return PageType >= kIndexPageLeaf; }
  bool IsRoot() const {
    return PageType == kIndexPageRootInternal || PageType == kIndexPageRootLeaf;
  }
  bool IsUnique() const { return ItemSize == 0; }

  // Changes the type (and the header size: entries and items move with it).
  void SetPageType(uint8_t type);
  void SetPriorLink(int32_t link);
  // Writes the count into the header; the caller keeps the bytes right.
  void SetEntryCount(int32_t count);
  // Rebuilds the first-item table, the item total and UsedEnd from the
  // stored item counts (checked: 601 when they overrun the page).
  void RebuildItemTable();
  // The entry holding the page's item n and its index within the entry.
  void FindItem(int32_t n, int32_t& entry, int32_t& duplicate) const;

  // Offsets and item bookkeeping (entry 0 <= i < EntryCount).
  int32_t GetEntryOffset(int32_t i) const { return HeaderSize + i * EntrySize; }
  int32_t GetItemsOffset() const { return HeaderSize + EntryCount * EntrySize; }
  int32_t GetFirstItem(int32_t i) const { return ItemSize == 0 ? i : firstItems_[size_t(i)]; }
  int32_t GetItemCount(int32_t i) const {
    return ItemSize == 0 ? 1 : firstItems_[size_t(i) + 1] - firstItems_[size_t(i)];
  }

  // Searches. Each raises 601 "The index page is empty" on a page without
  // entries, positions key (bound to this page) and answers the comparison
  // of the stored key at the final position with values: -1 below, 0 equal,
  // 1 above. On a leaf the key stands on the first item not below the values
  // (or, for the upper bounds, above them); when every item is below, on the
  // last item with -1 (the caller continues in the next leaf). On an
  // internal page the key stands on the item whose child's subtree holds the
  // first matching key: the last item below, or the item found when a full
  // unique key or a (key, row ID) matches exactly.
  int32_t FindLowerBound(const TBRNKeyValues& values, int32_t partialLength, bool caseInsensitive,
                         TBRNIndexKey& key) const;
  int32_t FindUpperBound(const TBRNKeyValues& values, int32_t partialLength, bool caseInsensitive,
                         TBRNIndexKey& key) const;
  // Full key of a unique index: the binary search stops on equality.
  int32_t FindExact(const TBRNKeyValues& values, TBRNIndexKey& key) const;
  int32_t FindUpperExact(const TBRNKeyValues& values, TBRNIndexKey& key) const;
  int32_t FindFirstNotBelow(const TBRNKeyValues& values, TBRNIndexKey& key) const;
  // The last item not above the values (on a leaf: 1 with the key on the
  // first item when every item is above).
  int32_t FindLastNotAbove(const TBRNKeyValues& values, int32_t partialLength, bool caseInsensitive,
                           TBRNIndexKey& key) const;
  // Exact key with values.GetRowID(): the item with that row ID (0 when
  // found), or the insertion point of (key, row ID).
  int32_t FindKeyWithRowID(const TBRNKeyValues& values, TBRNIndexKey& key) const;
  // The same search on a prepared key (the navigator prepares once per
  // descent).
  int32_t Search(const TBRNIndexSearchKey& search, bool upper, bool stopOnEqual,
                 TBRNIndexKey& key) const;
  int32_t SearchWithRowID(const TBRNIndexSearchKey& search, TBRNIndexKey& key) const;

  // The run of items from the key's own going forward (direction 1) or
  // backward (2) whose row pointers follow each other (+1, or -1 backward),
  // at most max and not past the page; 0 when the key stands nowhere.
  int32_t CountConsecutiveRows(const TBRNIndexKey& key, int32_t direction, int32_t max) const;

  // Inserts (values, values.GetRowID()) with pointer and leaves position on
  // the new item. 601 "The index %s contains duplicate keys" for an equal
  // key of a unique index or an equal item with the same pointer; a text
  // index ignores the latter (position on the existing item, nothing
  // counted). Counts the key in the host and marks the page modified. The
  // page may be overfull afterwards: split it at once. Returns whether an
  // item was added.
  bool InsertKey(const TBRNKeyValues& values, int32_t pointer, TBRNIndexKey& position);
  // The same with values already prepared as search (a full key: partial
  // length 0, case-sensitive), as the descent to the leaf prepared it.
  bool InsertKey(const TBRNKeyValues& values, const TBRNIndexSearchKey& search, int32_t pointer,
                 TBRNIndexKey& position);
  // Positions key on the item (values, values.GetRowID()) for a delete:
  // true when found; false for a missing key of a text index; 601 "The
  // index %s is missing a required key" for any other index.
  bool LocateForDelete(const TBRNKeyValues& values, TBRNIndexKey& key) const;
  // Removes the item at position (and its entry when it was the entry's
  // only item); the key then stands on the item that followed, or nowhere
  // when the page is empty. Counts and marks modified.
  void DeleteAt(TBRNIndexKey& position);
  // Moves the upper half to newPage (bound to the same layout, empty): a
  // unique page keeps count - count div 2 entries; a non-unique page splits
  // at an item so that both halves fit, an entry split in the middle being
  // kept in both. Both pages are modified.
  void SplitInto(TBRNIndexPage& newPage);
  // Appends this page's entries and items after target's (skipFirstEntry:
  // the first entry continues target's last one, whose item count the
  // caller has raised already; its items are appended all the same). This
  // page is left empty; both are modified. A target that cannot take the
  // entries and items is a caller's error (std::logic_error).
  void MergeInto(TBRNIndexPage& target, bool skipFirstEntry);

  // Fill tests.
  int32_t GetUsedBytes() const { return UsedEnd; }
  // 0 before the page is bound.
  int32_t GetMaxItems() const {
    return EntrySize > 0 ? (pageSize_ - HeaderSize) / (EntrySize + ItemSize) : 0;
  }
  bool IsUnderfull() const { return ItemTotal < GetMaxItems() / 2; }
  bool IsOverfull() const { return UsedEnd > pageSize_; }
  bool CanTake(const TBRNIndexPage& other) const { return pageSize_ - UsedEnd >= other.UsedEnd; }

  // 601 through the owner (the table's corrupt message), or a plain 601
  // with the message for a page without owner.
  [[noreturn]] void RaiseCorrupt(const std::string& message) const;
  [[noreturn]] void RaiseEmpty() const;
  [[noreturn]] void RaiseDuplicateKeys() const;
  [[noreturn]] void RaiseMissingKey() const;

 private:
  void writeType();
  void writeCount();
  void countKeys(int32_t delta);
  // Grows the stream to hold size bytes (inside an insert).
  void ensureSize(int32_t size);
  // Shrinks the stream back to the page size when the used bytes fit.
  void trimSize();
  void openGap(int32_t offset, int32_t count);
  void closeGap(int32_t offset, int32_t count);
  void checkLayout() const;
  std::string blockKindName() const;
  int32_t searchEntries(const TBRNIndexSearchKey& search, bool upper, bool stopOnEqual,
                        int32_t& cmp) const;
  int32_t compareEntry(const TBRNIndexSearchKey& search, int32_t entry) const;
  // Search on values prepared into the thread's scratch search key.
  int32_t searchValues(const TBRNKeyValues& values, int32_t partialLength, bool caseInsensitive,
                       bool upper, bool stopOnEqual, TBRNIndexKey& key) const;
  void positionAfterSearch(int32_t entry, int32_t cmp, bool stepBackOnEqual, TBRNIndexKey& key,
                           int32_t& result) const;

  std::vector<int32_t> firstItems_;
  int32_t pageSize_ = 0;
  bool bound_ = false;
};

}  // namespace brn

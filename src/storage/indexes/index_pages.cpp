#include "storage/indexes/index_pages.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <typeinfo>

#include "foundation/core/byte_order.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "storage/files/table_file.h"

namespace brn {

namespace {

constexpr int32_t kCorruptCode = 601;
constexpr int32_t kItemBytes = 8;

bool isLeafType(uint8_t type) {
  return type == kIndexPageLeaf || type == kIndexPageRootLeaf;
}

int32_t headerSizeOf(uint8_t type) {
  return isLeafType(type) ? kIndexLeafHeaderSize : kIndexInternalHeaderSize;
}

}  // namespace

TBRNIndexPage::TBRNIndexPage(TBRNTableFileManager* owner, TBRNIndexPageHost* host)
    : TBRNTableFileBuffer(owner), Host(host) {
  firstItems_.push_back(0);
}

// ---- Header ----

void TBRNIndexPage::writeType() {
  if (GetSize() < HeaderSize) return;
  Data()[4] = PageType;
  if (IsLeaf()) StoreLittleEndian<int32_t>(Data() + 5, PriorLink);
}

void TBRNIndexPage::writeCount() {
  if (GetSize() < HeaderSize) return;
  StoreLittleEndian<uint16_t>(Data() + HeaderSize - 2, uint16_t(EntryCount));
}

void TBRNIndexPage::WriteHeader() {
  // The whole stream goes to the file: one block, never into the next one.
  if (pageSize_ > 0 && GetSize() > pageSize_) {
    if (UsedEnd > pageSize_) throw std::logic_error("index page written while overfull");
    trimSize();
  }
  TBRNTableFileBuffer::WriteHeader();
  writeType();
  writeCount();
}

void TBRNIndexPage::ReadHeader() {
  bound_ = false;
  if (GetSize() < kIndexLeafHeaderSize) {
    NextLink = 0;
    PageType = kIndexPageRootLeaf;
    HeaderSize = kIndexLeafHeaderSize;
    PriorLink = 0;
    EntryCount = 0;
    return;
  }
  const uint8_t* data = Data();
  NextLink = LoadLittleEndian<int32_t>(data);
  PageType = data[4];
  HeaderSize = headerSizeOf(PageType);
  PriorLink = IsLeaf() ? LoadLittleEndian<int32_t>(data + 5) : 0;
  EntryCount = LoadLittleEndian<uint16_t>(data + HeaderSize - 2);
}

void TBRNIndexPage::Reset() {
  TBRNTableFileBuffer::Reset();
  PageType = kIndexPageRootLeaf;
  HeaderSize = kIndexLeafHeaderSize;
  PriorLink = 0;
  EntryCount = 0;
  ItemTotal = 0;
  UsedEnd = HeaderSize;
  firstItems_.assign(1, 0);
  bound_ = false;
  if (GetSize() >= HeaderSize) {
    std::memset(Data(), 0, size_t(HeaderSize));
    writeType();
  }
}

void TBRNIndexPage::AssignPage(const TBRNIndexPage& source) {
  // Only the used bytes of a bound page: nothing reads a page past its used
  // end, and the navigator copies a leaf per search, so the copy costs the
  // page's fill rather than its size.
  if (!source.bound_) {
    Assign(source);
  } else {
    Modified = source.Modified;
    BlockNumber = source.BlockNumber;
    NextLink = source.NextLink;
    int32_t size = source.GetSize();
    BlockStream.SetSize(size);
    std::memcpy(Data(), source.Data(), size_t(std::min(source.UsedEnd, size)));
  }
  HeaderRead = true;
  Layout = source.Layout;
  PageType = source.PageType;
  HeaderSize = source.HeaderSize;
  EntrySize = source.EntrySize;
  ItemSize = source.ItemSize;
  PriorLink = source.PriorLink;
  EntryCount = source.EntryCount;
  ItemTotal = source.ItemTotal;
  UsedEnd = source.UsedEnd;
  firstItems_ = source.firstItems_;
  pageSize_ = source.pageSize_;
  bound_ = source.bound_;
}

bool TBRNIndexPage::IsSamePage(const TBRNIndexPage& other) const {
  if (!IsSameBlock(other) || PageType != other.PageType || PriorLink != other.PriorLink ||
      EntryCount != other.EntryCount || ItemTotal != other.ItemTotal || UsedEnd != other.UsedEnd)
    return false;
  return UsedEnd <= GetSize() && UsedEnd <= other.GetSize() &&
         std::memcmp(Data() + HeaderSize, other.Data() + HeaderSize,
                     size_t(UsedEnd - HeaderSize)) == 0;
}

std::string TBRNIndexPage::blockKindName() const {
  return Owner != nullptr ? Owner->GetBlockKindName() : std::string("index page");
}

void TBRNIndexPage::RaiseCorrupt(const std::string& message) const {
  if (Owner != nullptr) Owner->RaiseCorrupt(message);
  throw EBRNException(kCorruptCode, message);
}

void TBRNIndexPage::RaiseEmpty() const {
  RaiseCorrupt(FormatText("The %s is empty", {blockKindName()}));
}

void TBRNIndexPage::RaiseDuplicateKeys() const {
  RaiseCorrupt(FormatText("The index %s contains duplicate keys",
                          {Layout != nullptr ? Layout->GetIndexName() : std::string()}));
}

void TBRNIndexPage::RaiseMissingKey() const {
  RaiseCorrupt(FormatText("The index %s is missing a required key",
                          {Layout != nullptr ? Layout->GetIndexName() : std::string()}));
}

void TBRNIndexPage::checkLayout() const {
  if (!bound_ || Layout == nullptr) throw std::logic_error("index page used before BindLayout");
}

void TBRNIndexPage::BindLayout(const TBRNIndexKeyLayout* layout) {
  if (layout == nullptr) throw std::invalid_argument("index page bound to no layout");
  if (bound_ && Layout == layout) return;
  bound_ = false;
  EnsureHeaderRead();
  Layout = layout;
  EntrySize = layout->GetEntrySize();
  ItemSize = layout->GetItemSize();
  pageSize_ = Owner != nullptr ? Owner->GetBlockSize() : GetSize();
  if (GetSize() < pageSize_) BlockStream.SetSize(pageSize_);
  std::string page = std::to_string(BlockNumber);
  if (PageType > kIndexPageRootLeaf) {
    RaiseCorrupt(
        FormatText("Invalid %s %s type (%s)", {blockKindName(), page, std::to_string(PageType)}));
  }
  HeaderSize = headerSizeOf(PageType);
  if (pageSize_ < HeaderSize + EntrySize + ItemSize) {
    RaiseCorrupt(FormatText("Invalid %s size (%s)", {blockKindName(), std::to_string(pageSize_)}));
  }
  if (int64_t(HeaderSize) + int64_t(EntryCount) * EntrySize > pageSize_) {
    RaiseCorrupt(FormatText("Invalid %s %s entry count (%s)",
                            {blockKindName(), page, std::to_string(EntryCount)}));
  }
  // Room for the transient entry and item of an insert, so that the insert
  // itself never moves the buffer.
  int32_t capacity = pageSize_ + EntrySize + ItemSize;
  if (BlockStream.GetCapacity() < capacity) BlockStream.SetCapacity(capacity);
  bound_ = true;
  try {
    RebuildItemTable();
  } catch (...) {
    bound_ = false;
    throw;
  }
}

void TBRNIndexPage::SetPageType(uint8_t type) {
  if (type > kIndexPageRootLeaf) throw std::invalid_argument("index page type");
  int32_t newHeader = headerSizeOf(type);
  if (newHeader != HeaderSize) {
    // Entries and items follow the header wherever it ends.
    int32_t moved = UsedEnd - HeaderSize;
    ensureSize(newHeader + moved);
    std::memmove(Data() + newHeader, Data() + HeaderSize, size_t(moved));
    if (newHeader < HeaderSize) {
      std::memset(Data() + newHeader + moved, 0, size_t(HeaderSize - newHeader));
    }
    UsedEnd = newHeader + moved;
    HeaderSize = newHeader;
    trimSize();
  }
  PageType = type;
  if (!IsLeaf()) PriorLink = 0;
  writeType();
  writeCount();
  MarkModified();
}

void TBRNIndexPage::SetPriorLink(int32_t link) {
  PriorLink = link;
  writeType();
  MarkModified();
}

void TBRNIndexPage::SetEntryCount(int32_t count) {
  if (count < 0 || count > 65535) throw std::out_of_range("index page entry count");
  EntryCount = count;
  writeCount();
}

void TBRNIndexPage::RebuildItemTable() {
  int32_t itemsOffset = GetItemsOffset();
  int32_t room = std::max(pageSize_, GetSize());
  if (ItemSize == 0) {
    ItemTotal = EntryCount;
    UsedEnd = itemsOffset;
    return;
  }
  // Rounded up in steps of 64 so that inserts rarely reallocate.
  size_t wanted = size_t(EntryCount) + 1;
  if (firstItems_.capacity() < wanted) firstItems_.reserve((wanted + 63) / 64 * 64);
  firstItems_.resize(wanted);
  int64_t limit = (int64_t(room) - itemsOffset) / kItemBytes;
  int32_t total = 0;
  const uint8_t* data = Data();
  int32_t keyWidth = Layout->GetKeyWidth();
  for (int32_t i = 0; i < EntryCount; ++i) {
    firstItems_[size_t(i)] = total;
    int32_t count = LoadLittleEndian<uint16_t>(data + GetEntryOffset(i) + keyWidth);
    if (count == 0 || total + int64_t(count) > limit) {
      RaiseCorrupt(
          FormatText("Invalid %s %s item count (%s)",
                     {blockKindName(), std::to_string(BlockNumber), std::to_string(count)}));
    }
    total += count;
  }
  firstItems_[size_t(EntryCount)] = total;
  ItemTotal = total;
  UsedEnd = itemsOffset + total * kItemBytes;
}

void TBRNIndexPage::FindItem(int32_t n, int32_t& entry, int32_t& duplicate) const {
  if (n < 0 || n >= ItemTotal) throw std::out_of_range("index page: item out of range");
  if (ItemSize == 0) {
    entry = n;
    duplicate = 0;
    return;
  }
  auto begin = firstItems_.begin();
  auto it = std::upper_bound(begin, begin + EntryCount + 1, n);
  entry = int32_t(it - begin) - 1;
  duplicate = n - firstItems_[size_t(entry)];
}

// ---- Byte moves ----

void TBRNIndexPage::ensureSize(int32_t size) {
  if (size > GetSize()) BlockStream.SetSize(size);
}

void TBRNIndexPage::trimSize() {
  if (GetSize() > pageSize_ && UsedEnd <= pageSize_) BlockStream.SetSize(pageSize_);
}

void TBRNIndexPage::openGap(int32_t offset, int32_t count) {
  ensureSize(UsedEnd + count);
  uint8_t* data = Data();
  std::memmove(data + offset + count, data + offset, size_t(UsedEnd - offset));
  std::memset(data + offset, 0, size_t(count));
  UsedEnd += count;
}

void TBRNIndexPage::closeGap(int32_t offset, int32_t count) {
  uint8_t* data = Data();
  std::memmove(data + offset, data + offset + count, size_t(UsedEnd - offset - count));
  std::memset(data + UsedEnd - count, 0, size_t(count));
  UsedEnd -= count;
}

void TBRNIndexPage::countKeys(int32_t delta) {
  if (Host == nullptr) return;
  if (IsLeaf()) {
    Host->ChangeLeafKeyCount(delta);
  } else if (PageType == kIndexPageInternal) {
    Host->ChangeInternalKeyCount(delta);
  }
}

// ---- Searches ----

int32_t TBRNIndexPage::compareEntry(const TBRNIndexSearchKey& search, int32_t entry) const {
  return search.CompareStored(Data() + GetEntryOffset(entry));
}

// The first entry not below the search key (upper: the first above it); the
// comparison of that entry in cmp (-1 when there is none).
int32_t TBRNIndexPage::searchEntries(const TBRNIndexSearchKey& search, bool upper, bool stopOnEqual,
                                     int32_t& cmp) const {
  int32_t count = EntryCount;
  cmp = -1;
  if (search.NeedsLinearScan()) {
    for (int32_t i = 0; i < count; ++i) {
      int32_t c = compareEntry(search, i);
      if (upper ? c > 0 : c >= 0) {
        cmp = c;
        return i;
      }
    }
    return count;
  }
  const uint8_t* data = Data();
  int32_t low = 0;
  int32_t high = count;
  while (low < high) {
    int32_t middle = (low + high) / 2;
    int32_t c = search.CompareStored(data + HeaderSize + middle * EntrySize);
    if (c == 0 && stopOnEqual) {
      cmp = 0;
      return middle;
    }
    if (upper ? c <= 0 : c < 0) {
      low = middle + 1;
    } else {
      high = middle;
      cmp = c;
    }
  }
  if (low >= count) cmp = -1;
  return low;
}

void TBRNIndexPage::positionAfterSearch(int32_t entry, int32_t cmp, bool stayOnEqual,
                                        TBRNIndexKey& key, int32_t& result) const {
  key.page_ = const_cast<TBRNIndexPage*>(this);
  if (entry >= EntryCount) {
    key.Last();
    result = -1;
    return;
  }
  key.SetEntry(entry);
  result = cmp;
  if (IsLeaf() || (cmp == 0 && stayOnEqual)) return;
  // An internal item names the first key of its child: a match may begin in
  // the child of the item before.
  if (key.Prior()) result = -1;
}

int32_t TBRNIndexPage::Search(const TBRNIndexSearchKey& search, bool upper, bool stopOnEqual,
                              TBRNIndexKey& key) const {
  checkLayout();
  if (EntryCount == 0) RaiseEmpty();
  int32_t cmp = 0;
  int32_t entry = searchEntries(search, upper, stopOnEqual && !upper, cmp);
  int32_t result = 0;
  // Only a full key of a unique index names its child exactly.
  positionAfterSearch(entry, cmp, stopOnEqual && IsUnique(), key, result);
  return result;
}

int32_t TBRNIndexPage::SearchWithRowID(const TBRNIndexSearchKey& search, TBRNIndexKey& key) const {
  checkLayout();
  if (EntryCount == 0) RaiseEmpty();
  int32_t cmp = 0;
  int32_t entry = searchEntries(search, false, true, cmp);
  int32_t result = 0;
  if (IsUnique() || entry >= EntryCount || cmp != 0) {
    positionAfterSearch(entry, cmp, true, key, result);
    return result;
  }
  key.page_ = const_cast<TBRNIndexPage*>(this);
  key.SetEntry(entry);
  if (key.FindDuplicate(search.GetRowID(), true)) return 0;
  int32_t count = GetItemCount(entry);
  if (IsLeaf()) {
    if (key.duplicate_ < count) return 1;
    if (entry + 1 < EntryCount) {
      key.SetEntry(entry + 1);
      return 1;
    }
    key.SetDuplicate(count - 1);
    return -1;
  }
  // Internal: the last item below (key, row ID) names the child to follow.
  if (key.duplicate_ > 0) {
    key.SetDuplicate(key.duplicate_ - 1);
    return -1;
  }
  key.SetDuplicate(0);
  return key.Prior() ? -1 : 1;
}

namespace {

// One prepared key per thread for the searches that take values: a page is
// used by one thread at a time, and a search is never re-entered.
TBRNIndexSearchKey& scratchSearch() {
  thread_local TBRNIndexSearchKey search;
  return search;
}

}  // namespace

int32_t TBRNIndexPage::searchValues(const TBRNKeyValues& values, int32_t partialLength,
                                    bool caseInsensitive, bool upper, bool stopOnEqual,
                                    TBRNIndexKey& key) const {
  checkLayout();
  TBRNIndexSearchKey& search = scratchSearch();
  search.Prepare(*Layout, values, partialLength, caseInsensitive);
  return Search(search, upper, stopOnEqual, key);
}

int32_t TBRNIndexPage::FindLowerBound(const TBRNKeyValues& values, int32_t partialLength,
                                      bool caseInsensitive, TBRNIndexKey& key) const {
  return searchValues(values, partialLength, caseInsensitive, false, false, key);
}

int32_t TBRNIndexPage::FindUpperBound(const TBRNKeyValues& values, int32_t partialLength,
                                      bool caseInsensitive, TBRNIndexKey& key) const {
  return searchValues(values, partialLength, caseInsensitive, true, false, key);
}

int32_t TBRNIndexPage::FindExact(const TBRNKeyValues& values, TBRNIndexKey& key) const {
  return searchValues(values, 0, false, false, true, key);
}

int32_t TBRNIndexPage::FindUpperExact(const TBRNKeyValues& values, TBRNIndexKey& key) const {
  return searchValues(values, 0, false, true, false, key);
}

int32_t TBRNIndexPage::FindFirstNotBelow(const TBRNKeyValues& values, TBRNIndexKey& key) const {
  return FindLowerBound(values, 0, false, key);
}

int32_t TBRNIndexPage::FindLastNotAbove(const TBRNKeyValues& values, int32_t partialLength,
                                        bool caseInsensitive, TBRNIndexKey& key) const {
  checkLayout();
  if (EntryCount == 0) RaiseEmpty();
  TBRNIndexSearchKey& search = scratchSearch();
  search.Prepare(*Layout, values, partialLength, caseInsensitive);
  int32_t cmp = 0;
  int32_t entry = searchEntries(search, true, false, cmp);
  key.page_ = const_cast<TBRNIndexPage*>(this);
  if (entry == 0) {
    key.SetEntry(0);
    return 1;
  }
  key.SetEntry(entry - 1);
  key.SetDuplicate(GetItemCount(entry - 1) - 1);
  return compareEntry(search, entry - 1);
}

int32_t TBRNIndexPage::FindKeyWithRowID(const TBRNKeyValues& values, TBRNIndexKey& key) const {
  checkLayout();
  TBRNIndexSearchKey& search = scratchSearch();
  search.Prepare(*Layout, values, 0, false);
  return SearchWithRowID(search, key);
}

int32_t TBRNIndexPage::CountConsecutiveRows(const TBRNIndexKey& key, int32_t direction,
                                            int32_t max) const {
  if (key.GetPage() != this || !key.IsPositioned() || max <= 0) return 0;
  int32_t step = direction == 2 ? -1 : 1;
  const uint8_t* data = Data();
  int32_t keyWidth = Layout->GetKeyWidth();
  int32_t itemsOffset = GetItemsOffset();
  auto pointerOf = [&](int32_t n) {
    return IsUnique() ? LoadLittleEndian<int32_t>(data + GetEntryOffset(n) + keyWidth)
                      : LoadLittleEndian<int32_t>(data + itemsOffset + n * kItemBytes + 4);
  };
  int32_t n = key.GetItemNumber();
  int32_t previous = pointerOf(n);
  int32_t count = 1;
  for (n += step; count < max && n >= 0 && n < ItemTotal; n += step) {
    int32_t row = pointerOf(n);
    if (int64_t(row) != int64_t(previous) + step) break;
    previous = row;
    ++count;
  }
  return count;
}

// ---- Changes ----

bool TBRNIndexPage::InsertKey(const TBRNKeyValues& values, int32_t pointer,
                              TBRNIndexKey& position) {
  checkLayout();
  TBRNIndexSearchKey& search = scratchSearch();
  search.Prepare(*Layout, values, 0, false);
  return InsertKey(values, search, pointer, position);
}

bool TBRNIndexPage::InsertKey(const TBRNKeyValues& values, const TBRNIndexSearchKey& search,
                              int32_t pointer, TBRNIndexKey& position) {
  checkLayout();
  const int32_t keyWidth = Layout->GetKeyWidth();
  const int32_t rowID = values.GetRowID();
  // The key bytes first: values may be a key on another page of this file,
  // and nothing of this page moves before they are taken.
  uint8_t small[256];
  std::vector<uint8_t> large;
  uint8_t* keyBytes = small;
  if (keyWidth > int32_t(sizeof(small))) {
    large.resize(size_t(keyWidth));
    keyBytes = large.data();
  }
  const auto* sourceKey =
      typeid(values) == typeid(TBRNIndexKey) ? static_cast<const TBRNIndexKey*>(&values) : nullptr;
  if (sourceKey != nullptr && &sourceKey->GetLayout() == Layout && sourceKey->IsPositioned()) {
    std::memcpy(keyBytes, sourceKey->GetKeyBytes(), size_t(keyWidth));
  } else {
    Layout->EncodeKey(values, keyBytes);
  }

  int32_t entry = 0;
  int32_t cmp = 1;
  position.page_ = this;
  if (EntryCount > 0) entry = searchEntries(search, false, true, cmp);
  uint8_t* data = nullptr;
  if (IsUnique()) {
    if (entry < EntryCount && cmp == 0) RaiseDuplicateKeys();
    if (EntryCount >= 65535) RaiseCorrupt(FormatText("Invalid %s entry count", {blockKindName()}));
    int32_t offset = GetEntryOffset(entry);
    openGap(offset, EntrySize);
    data = Data();
    std::memcpy(data + offset, keyBytes, size_t(keyWidth));
    StoreLittleEndian<int32_t>(data + offset + keyWidth, pointer);
    SetEntryCount(EntryCount + 1);
    ItemTotal = EntryCount;
    position.entry_ = entry;
    position.duplicate_ = 0;
  } else if (entry < EntryCount && cmp == 0) {
    position.entry_ = entry;
    position.duplicate_ = 0;
    position.UpdateOffsets();
    int32_t count = GetItemCount(entry);
    bool sameRow = position.FindDuplicate(rowID, true);
    if (sameRow) {
      bool samePointer = position.GetRowPointer() == pointer;
      if (samePointer && Layout->IsTextIndex()) return false;
      RaiseDuplicateKeys();
    }
    if (count >= 65535) RaiseCorrupt(FormatText("Invalid %s item count", {blockKindName()}));
    int32_t item = firstItems_[size_t(entry)] + position.duplicate_;
    int32_t offset = GetItemsOffset() + item * kItemBytes;
    openGap(offset, kItemBytes);
    data = Data();
    StoreLittleEndian<int32_t>(data + offset, rowID);
    StoreLittleEndian<int32_t>(data + offset + 4, pointer);
    StoreLittleEndian<uint16_t>(data + GetEntryOffset(entry) + keyWidth, uint16_t(count + 1));
    for (size_t i = size_t(entry) + 1; i <= size_t(EntryCount); ++i) ++firstItems_[i];
    ++ItemTotal;
  } else {
    if (EntryCount >= 65535) RaiseCorrupt(FormatText("Invalid %s entry count", {blockKindName()}));
    int32_t firstItem = entry < EntryCount ? firstItems_[size_t(entry)] : ItemTotal;
    int32_t offset = GetEntryOffset(entry);
    openGap(offset, EntrySize);
    SetEntryCount(EntryCount + 1);
    int32_t itemOffset = GetItemsOffset() + firstItem * kItemBytes;
    openGap(itemOffset, kItemBytes);
    data = Data();
    std::memcpy(data + offset, keyBytes, size_t(keyWidth));
    StoreLittleEndian<uint16_t>(data + offset + keyWidth, 1);
    StoreLittleEndian<int32_t>(data + itemOffset, rowID);
    StoreLittleEndian<int32_t>(data + itemOffset + 4, pointer);
    firstItems_.insert(firstItems_.begin() + entry, firstItem);
    for (size_t i = size_t(entry) + 1; i <= size_t(EntryCount); ++i) ++firstItems_[i];
    ++ItemTotal;
    position.entry_ = entry;
    position.duplicate_ = 0;
  }
  position.UpdateOffsets();
  countKeys(1);
  MarkModified();
  return true;
}

bool TBRNIndexPage::LocateForDelete(const TBRNKeyValues& values, TBRNIndexKey& key) const {
  checkLayout();
  if (EntryCount > 0 && FindKeyWithRowID(values, key) == 0) return true;
  if (Layout->IsTextIndex()) return false;
  RaiseMissingKey();
}

void TBRNIndexPage::DeleteAt(TBRNIndexKey& position) {
  checkLayout();
  if (position.page_ != this || !position.IsPositioned())
    throw std::logic_error("index page: delete at a key that stands elsewhere");
  int32_t entry = position.entry_;
  if (IsUnique()) {
    closeGap(GetEntryOffset(entry), EntrySize);
    SetEntryCount(EntryCount - 1);
    ItemTotal = EntryCount;
  } else {
    int32_t count = GetItemCount(entry);
    int32_t item = firstItems_[size_t(entry)] + position.duplicate_;
    closeGap(GetItemsOffset() + item * kItemBytes, kItemBytes);
    if (count == 1) {
      closeGap(GetEntryOffset(entry), EntrySize);
      SetEntryCount(EntryCount - 1);
      firstItems_.erase(firstItems_.begin() + entry);
      for (size_t i = size_t(entry); i <= size_t(EntryCount); ++i) --firstItems_[i];
    } else {
      StoreLittleEndian<uint16_t>(Data() + GetEntryOffset(entry) + Layout->GetKeyWidth(),
                                  uint16_t(count - 1));
      for (size_t i = size_t(entry) + 1; i <= size_t(EntryCount); ++i) --firstItems_[i];
      if (position.duplicate_ >= count - 1) {
        ++position.entry_;
        position.duplicate_ = 0;
      }
    }
    --ItemTotal;
  }
  trimSize();
  position.UpdateOffsets();
  countKeys(-1);
  MarkModified();
}

void TBRNIndexPage::SplitInto(TBRNIndexPage& newPage) {
  checkLayout();
  newPage.checkLayout();
  if (newPage.Layout != Layout || newPage.EntryCount != 0)
    throw std::logic_error("index page split into a page that is not empty or of another index");
  if (EntryCount < 1 || ItemTotal < 2)
    throw std::logic_error("index page split with fewer than two items");
  const int32_t keyWidth = Layout->GetKeyWidth();
  int32_t total = ItemTotal;
  int32_t kept = total - total / 2;
  int32_t entry = 0;
  int32_t duplicate = 0;
  int32_t movedEntries = 0;
  int32_t keptEntries = 0;
  if (IsUnique()) {
    entry = kept;
    movedEntries = EntryCount - kept;
    keptEntries = kept;
  } else {
    // Move the split item until both halves fit; each step goes one way, so
    // at most total steps are needed.
    int32_t direction = 0;
    for (int32_t steps = 0;; ++steps) {
      FindItem(kept, entry, duplicate);
      movedEntries = EntryCount - entry;
      keptEntries = duplicate > 0 ? entry + 1 : entry;
      int64_t newUsed = int64_t(newPage.HeaderSize) + int64_t(movedEntries) * EntrySize +
                        int64_t(total - kept) * kItemBytes;
      int64_t oldUsed =
          int64_t(HeaderSize) + int64_t(keptEntries) * EntrySize + int64_t(kept) * kItemBytes;
      int32_t want = newUsed > pageSize_ ? 1 : (oldUsed > pageSize_ ? -1 : 0);
      if (want == 0) break;
      if ((direction != 0 && want != direction) || steps > total || kept + want < 1 ||
          kept + want >= total) {
        RaiseCorrupt(
            FormatText("Invalid %s %s split", {blockKindName(), std::to_string(BlockNumber)}));
      }
      direction = want;
      kept += want;
    }
  }
  uint8_t* data = Data();
  uint8_t* target = newPage.Data();
  int32_t itemsOffset = GetItemsOffset();
  // The new page: the entries from the split entry on, then their items.
  std::memcpy(target + newPage.HeaderSize, data + GetEntryOffset(entry),
              size_t(movedEntries) * size_t(EntrySize));
  newPage.SetEntryCount(movedEntries);
  if (!IsUnique()) {
    std::memcpy(target + newPage.GetItemsOffset(), data + itemsOffset + kept * kItemBytes,
                size_t(total - kept) * kItemBytes);
    if (duplicate > 0) {
      int32_t count = GetItemCount(entry);
      StoreLittleEndian<uint16_t>(target + newPage.HeaderSize + keyWidth,
                                  uint16_t(count - duplicate));
      StoreLittleEndian<uint16_t>(data + GetEntryOffset(entry) + keyWidth, uint16_t(duplicate));
    }
    // The kept items move down behind the kept entries.
    std::memmove(data + HeaderSize + keptEntries * EntrySize, data + itemsOffset,
                 size_t(kept) * kItemBytes);
  }
  int32_t oldEnd = UsedEnd;
  SetEntryCount(keptEntries);
  UsedEnd = HeaderSize + keptEntries * EntrySize + (IsUnique() ? 0 : kept * kItemBytes);
  if (oldEnd > UsedEnd) std::memset(data + UsedEnd, 0, size_t(oldEnd - UsedEnd));
  trimSize();
  RebuildItemTable();
  newPage.RebuildItemTable();
  MarkModified();
  newPage.MarkModified();
}

void TBRNIndexPage::MergeInto(TBRNIndexPage& target, bool skipFirstEntry) {
  checkLayout();
  target.checkLayout();
  if (target.Layout != Layout || &target == this)
    throw std::logic_error("index page merged into a page of another index");
  int32_t firstEntry = skipFirstEntry && !IsUnique() && EntryCount > 0 ? 1 : 0;
  int32_t movedEntries = EntryCount - firstEntry;
  int32_t itemBytes = IsUnique() ? 0 : ItemTotal * kItemBytes;
  if (int64_t(target.UsedEnd) + int64_t(movedEntries) * EntrySize + itemBytes > target.pageSize_)
    throw std::logic_error("index page merged into a page that cannot take it");
  const uint8_t* data = Data();
  int32_t entriesEnd = target.GetItemsOffset();
  target.openGap(entriesEnd, movedEntries * EntrySize);
  std::memcpy(target.Data() + entriesEnd, data + GetEntryOffset(firstEntry),
              size_t(movedEntries) * size_t(EntrySize));
  target.SetEntryCount(target.EntryCount + movedEntries);
  if (itemBytes > 0) {
    int32_t itemsEnd = target.UsedEnd;
    target.ensureSize(itemsEnd + itemBytes);
    std::memcpy(target.Data() + itemsEnd, data + GetItemsOffset(), size_t(itemBytes));
    target.UsedEnd += itemBytes;
  }
  target.RebuildItemTable();
  std::memset(Data() + HeaderSize, 0, size_t(UsedEnd - HeaderSize));
  SetEntryCount(0);
  RebuildItemTable();
  target.MarkModified();
  MarkModified();
}

}  // namespace brn

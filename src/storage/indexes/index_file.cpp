#include "storage/indexes/index_file.h"

#include <algorithm>
#include <climits>
#include <stdexcept>
#include <string>

#include "foundation/core/sparse_bitmap.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "storage/files/table_file_guards.h"
#include "storage/indexes/index_keys.h"

namespace brn {

namespace {

// Counts read from the file may stand anywhere: they wrap instead of
// overflowing (verification then reports them).
int32_t wrapAdd(int32_t a, int32_t b) {
  return int32_t(uint32_t(a) + uint32_t(b));
}

int32_t roundUp8(int32_t n) {
  return (n + 7) / 8 * 8;
}

// Keeps a page pinned for a scope.
class PagePin {
 public:
  PagePin(TBRNIndexManager* file, TBRNIndexPage* page) : file_(file), page_(page) {}
  ~PagePin() {
    if (page_ != nullptr) file_->ReleasePage(page_);
  }
  PagePin(const PagePin&) = delete;
  PagePin& operator=(const PagePin&) = delete;

 private:
  TBRNIndexManager* file_;
  TBRNIndexPage* page_;
};

// The pointers of the page's items, in order: child pages of an internal
// page, row numbers of a leaf.
std::vector<int32_t> childPages(TBRNIndexPage* page) {
  std::vector<int32_t> pointers;
  pointers.reserve(size_t(page->ItemTotal));
  TBRNIndexKey key(*page->Layout);
  key.SetPage(page);
  if (!key.IsPositioned()) return pointers;
  do {
    pointers.push_back(key.GetRowPointer());
  } while (key.Next());
  return pointers;
}

// The key values of the item key stands on, joined with ",".
std::string keyText(const TBRNIndexKey& key) {
  std::string text;
  for (int32_t i = 0; i < key.GetCount(); ++i) {
    if (i > 0) text += ",";
    text += key.GetItem(i)->GetAsString();
  }
  return text;
}

// Trees deeper than this cannot come from a file of int32 page numbers; a
// walk that gets there follows a cycle the visited set did not catch.
constexpr int32_t kMaxTreeDepth = 64;

}  // namespace

TBRNIndexManager::TBRNIndexManager(TBRNTableFileHost* host, TBRNIndexFileHost* indexHost,
                                   TBRNFileManager* files)
    : TBRNTableFileManager(host, files), indexHost_(indexHost) {
  if (indexHost == nullptr) throw std::invalid_argument("index file without index host");
}

TBRNIndexManager::~TBRNIndexManager() = default;

std::string TBRNIndexManager::GetFileExtension() const {
  return GetHost()->GetFileExtension(TBRNTableFileKind::Indexes);
}

int32_t TBRNIndexManager::GetHeaderAreaSize() const {
  return indexHost_->IsSystemTable() ? kSystemHeaderAreaSize : kHeaderAreaSize;
}

int32_t TBRNIndexManager::tableIndexCount() const {
  return indexHost_->GetIndexCount();
}

int32_t TBRNIndexManager::GetHeaderRecordSize() const {
  // While an index is being dropped the table still lists it; the record
  // written then keeps its room (zeroed) so that the size read back under
  // either definition lies inside what was written.
  int32_t count = std::max(tableIndexCount(), int32_t(headers_.size()));
  return roundUp8(kCommonHeaderSize + count * kIndexRecordSize);
}

int32_t TBRNIndexManager::GetCacheCapacity() const {
  int32_t pageSize = std::max(1, GetBlockSize());
  return std::max(kMinCachePages, indexHost_->GetMaxIndexBufferSize() / pageSize);
}

int32_t TBRNIndexManager::GetBlockSize() const {
  return indexHost_->GetIndexPageSize();
}

int32_t TBRNIndexManager::GetBufferSize() const {
  return indexHost_->GetIndexPageSize();
}

// ---- Header ----

void TBRNIndexManager::sizeHeaders() {
  headers_.resize(size_t(tableIndexCount()));
  if (current_ >= int32_t(headers_.size())) current_ = 0;
}

void TBRNIndexManager::InitHeader() {
  TBRNTableFileManager::InitHeader();
  headers_.assign(size_t(tableIndexCount()), TBRNIndexHeader{});
  current_ = 0;
}

void TBRNIndexManager::ReadHeaderFields(TBRNMemoryStream& stream) {
  TBRNTableFileManager::ReadHeaderFields(stream);
  // Roots and pages may be other ones now (another writer, discarded
  // changes).
  NoteTreeChange();
  sizeHeaders();
  stream.SetPosition(kCommonHeaderSize);
  for (TBRNIndexHeader& record : headers_) {
    record.RootPage = stream.ReadInteger();
    record.InternalPageCount = stream.ReadInteger();
    record.InternalKeyCount = stream.ReadInteger();
    record.LeafPageCount = stream.ReadInteger();
    record.KeyCount = stream.ReadInteger();
  }
}

void TBRNIndexManager::WriteHeaderFields(TBRNMemoryStream& stream, bool incrementCounter) {
  TBRNTableFileManager::WriteHeaderFields(stream, incrementCounter);
  stream.SetPosition(kCommonHeaderSize);
  for (const TBRNIndexHeader& record : headers_) {
    stream.WriteInteger(record.RootPage);
    stream.WriteInteger(record.InternalPageCount);
    stream.WriteInteger(record.InternalKeyCount);
    stream.WriteInteger(record.LeafPageCount);
    stream.WriteInteger(record.KeyCount);
  }
}

// ---- Current index and counters ----

void TBRNIndexManager::SelectIndex(int32_t i) {
  if (i < 0 || i >= int32_t(headers_.size())) {
    if (int32_t(headers_.size()) != tableIndexCount()) sizeHeaders();
    if (i < 0 || i >= int32_t(headers_.size())) {
      throw std::out_of_range("index number outside the table's indexes");
    }
  }
  current_ = i;
}

const TBRNIndexKeyLayout* TBRNIndexManager::GetCurrentLayout() const {
  if (current_ < 0 || current_ >= tableIndexCount()) return nullptr;
  return indexHost_->GetIndexLayout(current_);
}

TBRNIndex* TBRNIndexManager::GetCurrentIndex() const {
  const TBRNIndexKeyLayout* layout = GetCurrentLayout();
  return layout != nullptr ? layout->GetIndex() : nullptr;
}

std::string TBRNIndexManager::indexName(int32_t i) {
  const TBRNIndexKeyLayout* layout =
      i >= 0 && i < tableIndexCount() ? indexHost_->GetIndexLayout(i) : nullptr;
  return layout != nullptr ? layout->GetIndexName() : std::to_string(i + 1);
}

TBRNIndexHeader& TBRNIndexManager::header() {
  if (current_ < 0 || current_ >= int32_t(headers_.size())) {
    throw std::out_of_range("no current index");
  }
  return headers_[size_t(current_)];
}

const TBRNIndexHeader& TBRNIndexManager::header() const {
  if (current_ < 0 || current_ >= int32_t(headers_.size())) {
    throw std::out_of_range("no current index");
  }
  return headers_[size_t(current_)];
}

void TBRNIndexManager::SetRootPage(int32_t page) {
  if (header().RootPage != page) {
    header().RootPage = page;
    SetHeaderModified();
  }
}

void TBRNIndexManager::SetInternalKeyCount(int32_t count) {
  header().InternalKeyCount = count;
  SetHeaderModified();
}

void TBRNIndexManager::IncInternalPageCount(int32_t by) {
  header().InternalPageCount = wrapAdd(header().InternalPageCount, by);
  SetHeaderModified();
}

void TBRNIndexManager::DecInternalPageCount(int32_t by) {
  header().InternalPageCount = wrapAdd(header().InternalPageCount, -by);
  SetHeaderModified();
}

void TBRNIndexManager::IncInternalKeyCount(int32_t by) {
  header().InternalKeyCount = wrapAdd(header().InternalKeyCount, by);
  SetHeaderModified();
}

void TBRNIndexManager::DecInternalKeyCount(int32_t by) {
  header().InternalKeyCount = wrapAdd(header().InternalKeyCount, -by);
  SetHeaderModified();
}

void TBRNIndexManager::IncLeafPageCount(int32_t by) {
  header().LeafPageCount = wrapAdd(header().LeafPageCount, by);
  SetHeaderModified();
}

void TBRNIndexManager::DecLeafPageCount(int32_t by) {
  header().LeafPageCount = wrapAdd(header().LeafPageCount, -by);
  SetHeaderModified();
}

void TBRNIndexManager::IncKeyCount(int32_t by) {
  header().KeyCount = wrapAdd(header().KeyCount, by);
  SetHeaderModified();
}

void TBRNIndexManager::DecKeyCount(int32_t by) {
  header().KeyCount = wrapAdd(header().KeyCount, -by);
  SetHeaderModified();
}

int32_t TBRNIndexManager::GetAverageInternalKeys() const {
  const TBRNIndexHeader& record = header();
  return record.InternalPageCount > 0 ? record.InternalKeyCount / record.InternalPageCount : 0;
}

int32_t TBRNIndexManager::GetAverageLeafKeys() const {
  const TBRNIndexHeader& record = header();
  return record.LeafPageCount > 0 ? record.KeyCount / record.LeafPageCount : 0;
}

int64_t TBRNIndexManager::EstimateReadBytes(int32_t n) const {
  int64_t average = GetAverageLeafKeys();
  int64_t pages = 1;
  if (average > 0 && n > average) pages = (int64_t(n) + average - 1) / average;
  return pages * GetBlockSize();
}

// ---- Pages ----

TBRNTableFileBuffer* TBRNIndexManager::CreateBuffer() {
  return new TBRNIndexPage(this, this);
}

TBRNIndexPage* TBRNIndexManager::bind(TBRNTableFileBuffer* buffer) {
  auto* page = static_cast<TBRNIndexPage*>(buffer);
  const TBRNIndexKeyLayout* layout = GetCurrentLayout();
  if (layout == nullptr) {
    ReleaseBuffer(buffer);
    throw std::logic_error("index page without a current index");
  }
  try {
    page->BindLayout(layout);
  } catch (...) {
    ReleaseBuffer(buffer);
    throw;
  }
  return page;
}

std::unique_ptr<TBRNIndexPage> TBRNIndexManager::NewPageBuffer() {
  auto page = std::make_unique<TBRNIndexPage>(this, nullptr);
  page->BlockStream.SetSize(GetBufferSize());
  page->Reset();
  if (const TBRNIndexKeyLayout* layout = GetCurrentLayout()) page->BindLayout(layout);
  return page;
}

TBRNIndexPage* TBRNIndexManager::GetPageChecked(int32_t n, bool& restart) {
  restart = false;
  if (n < 1 || n >= NextBlock) {
    RaiseCorrupt(FormatText("Invalid %s pointer (%s)", {GetBlockKindName(), std::to_string(n)}));
  }
  TBRNTableFileBuffer* buffer = GetBuffer(n, false, 0, 0, restart);
  if (buffer == nullptr) return nullptr;
  return bind(buffer);
}

TBRNIndexPage* TBRNIndexManager::GetPage(int32_t n) {
  bool restart = false;
  TBRNIndexPage* page = GetPageChecked(n, restart);
  if (page == nullptr) {
    // The cache was emptied under us: read once more from the new state.
    page = GetPageChecked(n, restart);
    if (page == nullptr) RaiseCorrupt("Error reading " + GetBlockKindName() + " from disk");
  }
  return page;
}

TBRNIndexPage* TBRNIndexManager::AllocatePage(uint8_t type) {
  bool restart = false;
  TBRNTableFileBuffer* buffer = AllocateBlockBuffer(restart);
  if (buffer == nullptr) {
    buffer = AllocateBlockBuffer(restart);
    if (buffer == nullptr) RaiseCorrupt("Error reading " + GetBlockKindName() + " from disk");
  }
  TBRNIndexPage* page = bind(buffer);
  page->SetPageType(type);
  page->MarkModified();
  if (type == kIndexPageInternal) {
    IncInternalPageCount();
  } else if (type == kIndexPageLeaf || type == kIndexPageRootLeaf) {
    IncLeafPageCount();
  }
  return page;
}

void TBRNIndexManager::FreePage(TBRNIndexPage* page) {
  uint8_t type = page->PageType;
  if (type == kIndexPageInternal) {
    DecInternalPageCount();
  } else if (type == kIndexPageLeaf || type == kIndexPageRootLeaf) {
    DecLeafPageCount();
  }
  FreeBlockBuffer(page);
}

void TBRNIndexManager::ReleasePage(TBRNIndexPage* page) {
  ReleaseBuffer(page);
}

// ---- Index maintenance ----

void TBRNIndexManager::AddIndex(int32_t i) {
  NoteTreeChange();
  sizeHeaders();
  SelectIndex(i);
  headers_[size_t(i)] = TBRNIndexHeader{};
  SetHeaderModified();
  Flush(true);
}

// The progress of releasing an index's pages: every page of the file is
// counted once while the other trees are walked and once while the free
// list is rebuilt. A cancel is taken only while the trees are walked, before
// anything has changed.
struct TBRNIndexManager::PageSweep {
  int64_t Done = 0;
  int64_t Total = 1;
  int32_t Reported = -1;
  bool Cancellable = false;
  bool Cancelled = false;

  // One page more; false when the user cancelled a cancellable walk.
  bool Step(TBRNTableFileHost* host) {
    ++Done;
    int32_t percent = int32_t(std::min<int64_t>(Done * 100 / Total, 100));
    if (percent == Reported) return true;
    Reported = percent;
    if (!host->UpdateProgress(percent) && Cancellable) Cancelled = true;
    return !Cancelled;
  }
};

TBRNTableFileBuffer* TBRNIndexManager::pinBlock(int32_t n) {
  bool restart = false;
  TBRNTableFileBuffer* buffer = GetBuffer(n, false, 0, 0, restart);
  // Changes by others were taken in before the sweep began (RefreshIfShared)
  // and its write bracket keeps new ones out.
  if (buffer == nullptr) RaiseCorrupt("Error reading " + GetBlockKindName() + " from disk");
  static_cast<TBRNIndexPage*>(buffer)->EnsureHeaderRead();
  return buffer;
}

bool TBRNIndexManager::markTreePages(TBRNSparseBitmap& used, int32_t pageNumber, int32_t depth,
                                     PageSweep& sweep) {
  if (pageNumber < 1 || pageNumber >= NextBlock || used.IsBitSet(pageNumber)) return true;
  // The tree could not be walked to its end: better to fail than to hand
  // out pages it may still hold.
  if (depth > kMaxTreeDepth) {
    RaiseCorrupt(
        FormatText("Invalid recursive %s %s key page pointer (%s)",
                   {GetBlockKindName(), std::to_string(pageNumber), std::to_string(pageNumber)}));
  }
  used.SetBit(pageNumber);
  auto* page = static_cast<TBRNIndexPage*>(pinBlock(pageNumber));
  std::vector<int32_t> children;
  if (page->IsLeaf()) {
    ReleasePage(page);
  } else {
    bind(page);
    PagePin pin(this, page);
    children = childPages(page);
  }
  if (!sweep.Step(GetHost())) return false;
  for (int32_t child : children) {
    if (!markTreePages(used, child, depth + 1, sweep)) return false;
  }
  return true;
}

// Neither index i's tree nor the free list is read: after a cut-short flush
// either may name a page that is also in use elsewhere (verification reports
// it), and freeing such a page again would loop the list. The pages that the
// other trees reach are the only ones in use; every other page goes onto a
// free list built from nothing, in ascending order. Pages someone else holds
// pinned stay off the list until the indexes are rebuilt.
bool TBRNIndexManager::releaseIndexPages(int32_t i, bool cancellable) {
  TableWriteBracket bracket(GetHost());
  TableProgressBracket progress(GetHost());
  RefreshIfShared();
  PageSweep sweep;
  sweep.Total = std::max<int64_t>(2 * int64_t(GetBlockCount()), 1);
  sweep.Cancellable = cancellable;
  TBRNSparseBitmap used(true, true, 0);
  used.Size = INT32_MAX;
  for (int32_t j = 0; j < int32_t(headers_.size()); ++j) {
    if (j == i || j >= tableIndexCount()) continue;
    SelectIndex(j);
    if (!markTreePages(used, GetRootPage(), 0, sweep)) {
      SelectIndex(i);
      return false;
    }
  }
  SelectIndex(i);
  sweep.Cancellable = false;

  headers_[size_t(i)] = TBRNIndexHeader{};
  SetHeaderModified();
  SetFreeListHead(0);
  for (int32_t n = GetBlockCount(); n >= 1; --n) {
    sweep.Step(GetHost());
    if (used.IsBitSet(n)) continue;
    TBRNTableFileBuffer* buffer = pinBlock(n);
    if (buffer->PinCount == 1) FreeBlockBuffer(buffer);
    ReleaseBuffer(buffer);
  }
  return true;
}

void TBRNIndexManager::EmptyIndex(int32_t i) {
  NoteTreeChange();
  sizeHeaders();
  SelectIndex(i);
  if (GetRootPage() != 0) releaseIndexPages(i, false);
  headers_[size_t(i)] = TBRNIndexHeader{};
  SetHeaderModified();
  Flush(true);
}

void TBRNIndexManager::FitHeadersToIndexes() {
  NoteTreeChange();
  sizeHeaders();
}

bool TBRNIndexManager::DropIndex(int32_t i) {
  NoteTreeChange();
  SelectIndex(i);
  // A cancel comes before anything changed: the earlier changes not yet
  // flushed stay.
  if (GetRootPage() != 0 && !releaseIndexPages(i, true)) return false;
  headers_.erase(headers_.begin() + i);
  SetHeaderModified();
  Flush(true);
  current_ = 0;
  return true;
}

// ---- Verification ----

bool TBRNIndexManager::VerifyHeader(bool& errorsFound, bool repair) {
  if (!TBRNTableFileManager::VerifyHeader(errorsFound, repair)) return false;
  std::string kind = GetBlockKindName();
  for (int32_t i = 0; i < int32_t(headers_.size()); ++i) {
    TBRNIndexHeader& record = headers_[size_t(i)];
    if (record.RootPage < 0 || record.RootPage >= NextBlock) {
      LogVerifyError(
          FormatText("Invalid root %s pointer (%s)", {kind, std::to_string(record.RootPage)}),
          "index", indexName(i), repair);
      errorsFound = true;
      if (repair) {
        record.RootPage = 0;
        SetHeaderModified();
      }
    }
  }
  return true;
}

// The state of one tree's verification.
struct TBRNIndexManager::TreeWalk {
  TBRNSparseBitmap* Visited = nullptr;
  TreeCounts Counts;
  bool Bad = false;
  bool Repair = false;
  bool Cancelled = false;
  int32_t PagesSeen = 0;
  int64_t PagesInHeader = 0;
  int32_t RowLimit = 0;
  std::string Name;
};

void TBRNIndexManager::verifyIndexTree(TreeWalk& walk, int32_t pageNumber,
                                       const TBRNIndexKey* parentKey, int32_t depth) {
  std::string kind = GetBlockKindName();
  std::string pageText = std::to_string(pageNumber);
  auto finding = [&](const std::string& message) {
    LogVerifyError(message, "index", walk.Name, walk.Repair);
    walk.Bad = true;
  };
  walk.Visited->SetBit(pageNumber);
  TBRNIndexPage* page = GetPage(pageNumber);
  PagePin pin(this, page);
  if (page->NextLink < 0 || page->NextLink >= NextBlock) {
    finding(FormatText("Invalid next %s %s pointer (%s)",
                       {kind, pageText, std::to_string(page->NextLink)}));
  }
  if (page->IsLeaf() && (page->PriorLink < 0 || page->PriorLink >= NextBlock)) {
    finding(FormatText("Invalid prior %s %s pointer (%s)",
                       {kind, pageText, std::to_string(page->PriorLink)}));
  }
  if (page->EntryCount == 0) {
    finding(FormatText("Invalid %s %s key count (%s)", {kind, pageText, "0"}));
    return;
  }
  TBRNIndexKey key(*page->Layout);
  key.SetPage(page);
  if (parentKey != nullptr &&
      (key.Compare(*parentKey, 0, false) != 0 || key.GetRowID() != parentKey->GetRowID())) {
    finding(FormatText("Invalid %s %s key value (%s)", {kind, pageText, keyText(key)}));
  }
  if (page->IsLeaf()) {
    do {
      int32_t row = key.GetRowPointer();
      if (row < 1 || row > walk.RowLimit) {
        finding(FormatText("Invalid %s %s key row pointer (%s)",
                           {kind, pageText, std::to_string(row)}));
        break;
      }
    } while (key.Next());
    walk.Counts.LeafPages += 1;
    walk.Counts.LeafKeys += page->ItemTotal;
    return;
  }
  if (page->PageType == kIndexPageInternal) {
    walk.Counts.InternalPages += 1;
    walk.Counts.InternalKeys += page->ItemTotal;
  }
  // A tree this deep holds more pages than a file can: the walk is in a
  // cycle that the visited pages did not reveal.
  if (depth > kMaxTreeDepth) {
    finding(
        FormatText("Invalid recursive %s %s key page pointer (%s)", {kind, pageText, pageText}));
    return;
  }
  do {
    int32_t child = key.GetRowPointer();
    if (child < 1 || child >= NextBlock) {
      finding(FormatText("Invalid %s %s key page pointer (%s)",
                         {kind, pageText, std::to_string(child)}));
      break;
    }
    if (walk.Visited->IsBitSet(child)) {
      finding(FormatText("Invalid recursive %s %s key page pointer (%s)",
                         {kind, pageText, std::to_string(child)}));
      continue;
    }
    verifyIndexTree(walk, child, &key, depth + 1);
    if (walk.Cancelled) return;
    ++walk.PagesSeen;
    int64_t percent =
        walk.PagesInHeader > 0 ? int64_t(walk.PagesSeen) * 100 / walk.PagesInHeader : 100;
    if (!GetHost()->UpdateProgress(int32_t(std::min<int64_t>(percent, 100)))) {
      walk.Cancelled = true;
      return;
    }
  } while (key.Next());
}

bool TBRNIndexManager::VerifyContents(bool& errorsFound, bool repair) {
  TableProgressBracket progress(GetHost());
  int32_t count = std::min(int32_t(headers_.size()), tableIndexCount());
  for (int32_t i = 0; i < count; ++i) indexHost_->SetRebuildNeeded(i, false);
  std::string kind = GetBlockKindName();

  TBRNSparseBitmap visited(true, true, 0);
  visited.Size = 2147483647;
  bool freeListBroken = false;
  int32_t holder = 0;  // the free page whose link is bad (0: the header's head)
  for (int32_t n = FreeListHead; n != 0;) {
    int32_t next = 0;
    if (n < 0 || n >= NextBlock) {
      LogVerifyError(FormatText("Invalid next free %s pointer (%s)", {kind, std::to_string(n)}), "",
                     "", repair);
      freeListBroken = true;
      break;
    }
    if (visited.IsBitSet(n)) {
      LogVerifyError(FormatText("Recursive next %s pointer (%s)", {kind, std::to_string(n)}), "",
                     "", repair);
      freeListBroken = true;
      break;
    }
    visited.SetBit(n);
    bool restart = false;
    TBRNTableFileBuffer* buffer = GetBuffer(n, false, 0, 0, restart);
    if (buffer == nullptr) return false;
    next = buffer->NextLink;
    ReleaseBuffer(buffer);
    holder = n;
    n = next;
  }
  if (freeListBroken) {
    errorsFound = true;
    if (repair) {
      if (holder == 0) {
        SetFreeListHead(0);
      } else {
        bool restart = false;
        TBRNTableFileBuffer* buffer = GetBuffer(holder, false, 0, 0, restart);
        if (buffer == nullptr) return false;
        buffer->SetNextLink(0);
        ReleaseBuffer(buffer);
      }
      // The pages lost from the list come back when the indexes are
      // rebuilt, which recreates the file.
      for (int32_t i = 0; i < count; ++i) indexHost_->SetRebuildNeeded(i, true);
      return true;
    }
  }

  int32_t rowLimit = indexHost_->GetRowFileLastBlock();
  for (int32_t i = 0; i < count; ++i) {
    SelectIndex(i);
    TreeWalk walk;
    walk.Visited = &visited;
    walk.Repair = repair;
    walk.RowLimit = rowLimit;
    walk.Name = indexName(i);
    GetHost()->ReportVerifyStatus(
        FormatText("Verifying %s %s (structure-only)", {"index", walk.Name}));
    TBRNIndexHeader& stored = headers_[size_t(i)];
    walk.PagesInHeader = int64_t(stored.InternalPageCount) + stored.LeafPageCount;
    int32_t root = stored.RootPage;
    auto finding = [&](const std::string& message) {
      LogVerifyError(message, "index", walk.Name, repair);
      walk.Bad = true;
    };
    if (root != 0) {
      if (root < 0 || root >= NextBlock) {
        finding(FormatText("Invalid root %s pointer (%s)", {kind, std::to_string(root)}));
      } else if (visited.IsBitSet(root)) {
        finding(FormatText("Invalid recursive root %s pointer (%s)", {kind, std::to_string(root)}));
      } else {
        try {
          verifyIndexTree(walk, root, nullptr, 0);
        } catch (const EBRNException& error) {
          finding(FormatText("Error accessing %s (%s)", {kind, error.ErrorMessage}));
        }
      }
    }
    if (walk.Cancelled) return false;
    if (walk.Bad) {
      errorsFound = true;
      indexHost_->SetRebuildNeeded(i, true);
    } else {
      auto compare = [&](const char* pattern, int32_t& field, int32_t counted) {
        if (field == counted) return;
        LogVerifyError(FormatText(pattern, {kind, std::to_string(field)}), "index", walk.Name,
                       repair);
        errorsFound = true;
        if (repair) {
          field = counted;
          SetHeaderModified();
        }
      };
      compare("Invalid internal %s count (%s)", stored.InternalPageCount,
              walk.Counts.InternalPages);
      compare("Invalid internal %s key count (%s)", stored.InternalKeyCount,
              walk.Counts.InternalKeys);
      compare("Invalid external %s count (%s)", stored.LeafPageCount, walk.Counts.LeafPages);
      compare("Invalid external %s key count (%s)", stored.KeyCount, walk.Counts.LeafKeys);
    }
    if (!GetHost()->UpdateProgress(100)) return false;
  }
  return true;
}

}  // namespace brn

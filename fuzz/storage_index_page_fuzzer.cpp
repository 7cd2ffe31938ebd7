// An index page read from a file: hostile page bytes bound to a key layout,
// then walked, searched, inserted into (split when full), deleted from and
// merged, as the index navigator does with the pages it reads.
//
// Input: a shape byte (layout, page size), 64 bytes of search and insert
// keys, then the page. With BRN_FUZZ_SEEDS=<folder> in the environment the
// target first writes its seeds into that folder.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "foundation/core/bitmap.h"
#include "foundation/text/collation.h"
#include "metadata/catalog/indexes.h"
#include "storage/indexes/index_keys.h"
#include "storage/indexes/index_page_test_support.h"
#include "storage/indexes/index_pages.h"
#include "storage_fuzz_support.h"

using namespace brn;
using namespace brn::fuzz;

using brn::testing::CountingHost;
using brn::testing::kCaseInsensitive;
using brn::testing::KeyColumn;

namespace {

// One layout of each entry format and key kind.
struct Layouts {
  std::vector<std::unique_ptr<TBRNIndexKeyLayout>> All;
  Layouts() {
    All.push_back(std::make_unique<TBRNIndexKeyLayout>(
        "PK", kIndexPrimaryKey, std::vector<TBRNIndexKeyColumn>{KeyColumn(dtInteger)}));
    All.push_back(std::make_unique<TBRNIndexKeyLayout>(
        "BY_NAME", kIndexOrdinary,
        std::vector<TBRNIndexKeyColumn>{KeyColumn(dtChar, 6, true, stDefault, kCaseInsensitive),
                                        KeyColumn(dtInteger)}));
    All.push_back(std::make_unique<TBRNIndexKeyLayout>(
        "WORDS", kIndexText, std::vector<TBRNIndexKeyColumn>{KeyColumn(dtChar, 8)}));
    All.push_back(std::make_unique<TBRNIndexKeyLayout>(
        "BY_CODE", kIndexUnique,
        std::vector<TBRNIndexKeyColumn>{KeyColumn(dtChar, 3, false, stFixed),
                                        KeyColumn(dtBigInt, 0, true), KeyColumn(dtDecimal),
                                        KeyColumn(dtFloat)}));
  }
};

// Key values of layout from the input: a number per column (a text column
// takes its decimal digits) and a row ID.
void FillKey(TBRNContainedIndexKeyValues& values, Input& in) {
  for (int32_t i = 0; i < values.GetCount(); ++i) {
    uint32_t word = in.Word32();
    TBRNValue* value = values.GetItem(i);
    if ((word & 0xFF) == 0) {
      value->SetNull(true);
    } else if (value->GetDataType() == dtChar) {
      Try([&] { value->SetAsString(std::to_string(word % 100000)); });
    } else {
      Try([&] { value->SetAsInteger(int32_t(word) >> 8); });
    }
  }
  values.SetRowID(int32_t(in.Word32() % 64));
}

std::unique_ptr<TBRNIndexPage> FreshPage(const TBRNIndexKeyLayout& layout, int32_t pageSize,
                                         TBRNIndexPageHost* host, uint8_t type) {
  auto page = std::make_unique<TBRNIndexPage>(nullptr, host);
  page->BlockStream.SetSize(pageSize);
  page->Reset();
  page->BindLayout(&layout);
  page->SetPageType(type);
  return page;
}

void Walk(TBRNIndexPage& page, const TBRNIndexKeyLayout& layout) {
  TBRNIndexKey key(layout);
  key.SetPage(&page);
  int32_t steps = 0;
  for (bool more = key.First(); more && steps <= page.ItemTotal; more = key.Next(), ++steps) {
    ReadEveryValue(key);
    (void)key.GetRowPointer();
    (void)key.GetRowID();
    (void)key.GetDuplicateCount();
    (void)key.GetItemNumber();
  }
  if (steps > page.ItemTotal) Fail("a forward walk visits more items than the page holds");
  steps = 0;
  for (bool more = key.Last(); more && steps <= page.ItemTotal; more = key.Prior(), ++steps) {
    (void)key.GetKeyBytes();
  }
  if (steps > page.ItemTotal) Fail("a backward walk visits more items than the page holds");
  for (int32_t n = 0; n < page.ItemTotal; n += 1 + n / 2) {
    int32_t entry = 0, duplicate = 0;
    page.FindItem(n, entry, duplicate);
    key.SetItem(n);
    TBRNBitmap bitmap;
    bitmap.SetSize(64);
    key.AddRowsToBitmap(bitmap);
    key.AddPriorRowsToBitmap(bitmap);
    (void)key.FindDuplicate(n, (n & 1) != 0);
  }
}

// Per layout a leaf with a few keys (duplicates included) and an internal
// page; keys bytes chosen so that some searches hit.
void WriteSeeds(const std::string& folder) {
  Layouts layouts;
  CountingHost host;
  for (size_t l = 0; l < layouts.All.size(); ++l) {
    const TBRNIndexKeyLayout& layout = *layouts.All[l];
    for (uint8_t type : {kIndexPageRootLeaf, kIndexPageInternal}) {
      if (type == kIndexPageInternal && !layout.IsUnique() && layout.GetIndexType() == kIndexText)
        continue;
      uint8_t shape = uint8_t(l | (1 << 2));  // 256-byte pages
      std::string keyBytes;
      for (int i = 0; i < 16; ++i) {
        uint32_t word = uint32_t(i % 4 + 1) << 8 | 1;
        for (int b = 0; b < 4; ++b) keyBytes += char(word >> (8 * b));
      }
      Input keys(reinterpret_cast<const uint8_t*>(keyBytes.data()), keyBytes.size());
      auto page = FreshPage(layout, 256, &host, type);
      TBRNContainedIndexKeyValues values(layout);
      TBRNIndexKey position(layout);
      for (int32_t i = 0; i < 5; ++i) {
        FillKey(values, keys);
        values.SetRowID(i + 1);
        Try([&] { page->InsertKey(values, i + 2, position); });
      }
      std::string seed(1, char(shape));
      seed += keyBytes;
      seed.append(reinterpret_cast<const char*>(page->Data()), 256);
      std::ofstream(folder + "/" + layout.GetIndexName() +
                        (type == kIndexPageInternal ? "_internal" : "_leaf"),
                    std::ios::binary)
          << seed;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (const char* folder = std::getenv("BRN_FUZZ_SEEDS")) WriteSeeds(folder);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Layouts layouts;
  Input in(data, size);
  uint8_t shape = in.Byte();
  const TBRNIndexKeyLayout& layout = *layouts.All[shape % layouts.All.size()];
  static constexpr int32_t kPageSizes[] = {128, 256, 512, 1024};
  int32_t pageSize = kPageSizes[(shape >> 2) % 4];
  // Search and insert keys come from the 64 bytes after the shape; the page
  // from the rest (zeros beyond the input).
  std::string_view all = in.Rest();
  Input keys(reinterpret_cast<const uint8_t*>(all.data()), std::min<size_t>(all.size(), 64));
  std::string_view pageBytes = all.size() > 64 ? all.substr(64) : std::string_view();

  CountingHost host;
  auto page = std::make_unique<TBRNIndexPage>(nullptr, &host);
  page->BlockStream.SetSize(pageSize);
  if (!pageBytes.empty()) {
    std::memcpy(page->Data(), pageBytes.data(),
                std::min<size_t>(pageBytes.size(), size_t(pageSize)));
  }
  page->BlockNumber = 5;
  page->HeaderRead = false;
  if (!Try([&] { page->BindLayout(&layout); })) {
    if (page->IsBound()) Fail("a refused page is bound");
    return 0;
  }
  if (page->GetUsedBytes() > pageSize) Fail("a bound page uses more bytes than it has");
  Walk(*page, layout);

  TBRNContainedIndexKeyValues values(layout);
  TBRNIndexKey position(layout);
  for (int round = 0; round < 2; ++round) {
    FillKey(values, keys);
    bool ci = (round & 1) != 0;
    Try([&] { (void)page->FindLowerBound(values, 0, ci, position); });
    Try([&] { (void)page->FindUpperBound(values, 2, ci, position); });
    Try([&] { (void)page->FindExact(values, position); });
    Try([&] { (void)page->FindUpperExact(values, position); });
    Try([&] { (void)page->FindFirstNotBelow(values, position); });
    Try([&] { (void)page->FindLastNotAbove(values, 1, ci, position); });
    Try([&] { (void)page->FindKeyWithRowID(values, position); });
    Try([&] {
      TBRNIndexSearchKey search;
      search.Prepare(layout, values, 0, ci);
      (void)page->Search(search, ci, !ci, position);
      (void)page->SearchWithRowID(search, position);
    });
    if (position.IsPositioned()) {
      (void)page->CountConsecutiveRows(position, 1, 8);
      (void)page->CountConsecutiveRows(position, 2, 8);
    }
  }

  // Copies as the navigator keeps its current leaf.
  auto copy = std::make_unique<TBRNIndexPage>(nullptr, &host);
  copy->AssignPage(*page);
  if (!copy->IsSamePage(*page)) Fail("a page differs from its copy");

  // Inserts, split when the page overflows, then deletes of what was found.
  for (int round = 0; round < 3; ++round) {
    FillKey(values, keys);
    Try([&] {
      page->InsertKey(values, int32_t(keys.Word32() % 100), position);
      if (page->IsOverfull()) {
        auto right = FreshPage(layout, pageSize, &host,
                               page->IsLeaf() ? kIndexPageLeaf : kIndexPageInternal);
        page->SplitInto(*right);
        if (page->IsOverfull() || right->IsOverfull()) Fail("a split left a page overfull");
        Walk(*right, layout);
      }
    });
    if (page->IsOverfull()) Fail("a refused insert left the page overfull");
  }
  Walk(*page, layout);
  for (int round = 0; round < 2; ++round) {
    FillKey(values, keys);
    Try([&] {
      if (page->LocateForDelete(values, position)) page->DeleteAt(position);
    });
  }
  Try([&] {
    TBRNIndexKey first(layout);
    first.SetPage(page.get());
    if (first.First()) page->DeleteAt(first);
  });
  Walk(*page, layout);

  // Merged into an empty page of the same kind (the navigator's underflow).
  Try([&] {
    auto target = FreshPage(layout, pageSize, &host, page->PageType);
    if (target->CanTake(*page)) {
      page->MergeInto(*target, (shape & 0x40) != 0 && !page->IsLeaf());
      Walk(*target, layout);
    }
  });
  return 0;
}

// Index pages: page arithmetic, key order, items sorted by row ID, inserts
// with their duplicate checks, deletes, splits and merges, the page searches
// and the checks of page bytes read from a file.
#include <gtest/gtest.h>
#include <cmath>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "foundation/core/bitmap.h"
#include "foundation/core/byte_order.h"
#include "foundation/core/memory_stream.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "metadata/catalog/indexes.h"
#include "storage/indexes/index_keys.h"
#include "storage/indexes/index_page_test_support.h"
#include "storage/indexes/index_pages.h"

namespace brn {
namespace {

using testing::CharColumn;
using testing::CountingHost;
using testing::IntegerColumn;
using testing::kCaseInsensitive;

// A page without a file: pageSize bytes, bound to layout, of the given type.
std::unique_ptr<TBRNIndexPage> NewPage(const TBRNIndexKeyLayout& layout, int32_t pageSize,
                                       uint8_t type = kIndexPageRootLeaf,
                                       TBRNIndexPageHost* host = nullptr) {
  auto page = std::make_unique<TBRNIndexPage>(nullptr, host);
  page->BlockStream.SetSize(pageSize);
  page->Reset();
  page->BindLayout(&layout);
  page->SetPageType(type);
  return page;
}

// Key values of layout set from integers (one per column) and a row ID.
struct IntKey {
  explicit IntKey(const TBRNIndexKeyLayout& layout) : Values(layout) {}
  TBRNContainedIndexKeyValues Values;
  TBRNContainedIndexKeyValues& operator()(std::vector<int32_t> ints, int32_t rowID = 0) {
    for (size_t i = 0; i < ints.size(); ++i) Values.GetItem(int32_t(i))->SetAsInteger(ints[i]);
    Values.SetRowID(rowID);
    return Values;
  }
};

struct Item {
  std::string Key;
  int32_t RowID;
  int32_t Pointer;
  bool operator==(const Item&) const = default;
};

// Every item of the page in walk order, the key as text of its columns.
std::vector<Item> Walk(TBRNIndexPage& page) {
  std::vector<Item> items;
  TBRNIndexKey key(*page.Layout);
  key.SetPage(&page);
  if (!key.IsPositioned()) return items;
  do {
    std::string text;
    for (int32_t i = 0; i < key.GetCount(); ++i) {
      if (i > 0) text += ",";
      text += key.GetItem(i)->GetNull() ? "NULL" : key.GetItem(i)->GetAsString();
    }
    items.push_back({text, key.GetRowID(), key.GetRowPointer()});
  } while (key.Next());
  return items;
}

// The page as another session would read it from the file: a fresh buffer
// with the same bytes, bound from scratch.
std::vector<Item> Reread(const TBRNIndexPage& page) {
  auto copy = std::make_unique<TBRNIndexPage>(nullptr, nullptr);
  copy->BlockStream.SetSize(page.GetPageSize());
  std::memcpy(copy->Data(), page.Data(), size_t(page.GetPageSize()));
  copy->HeaderRead = false;
  copy->BindLayout(page.Layout);
  EXPECT_EQ(copy->ItemTotal, page.ItemTotal);
  EXPECT_EQ(copy->GetUsedBytes(), page.GetUsedBytes());
  return Walk(*copy);
}

void ExpectCorrupt(const std::function<void()>& action, const std::string& text) {
  try {
    action();
    ADD_FAILURE() << "no error; expected: " << text;
  } catch (const EBRNException& e) {
    EXPECT_EQ(e.ErrorCode, 601);
    EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
  }
}

TEST(IndexPages, UniqueLeafOfWidthTenHolds291AndSplits146To146) {
  TBRNIndexKeyLayout layout("PK", kIndexPrimaryKey, {IntegerColumn(), IntegerColumn()});
  ASSERT_EQ(layout.GetKeyWidth(), 10);
  ASSERT_EQ(layout.GetEntrySize(), 14);
  CountingHost host;
  auto page = NewPage(layout, 4096, kIndexPageLeaf, &host);
  EXPECT_EQ(page->GetMaxItems(), 291);
  IntKey key(layout);
  TBRNIndexKey position(layout);
  // Descending inserts: each lands at entry 0, moving all others.
  for (int32_t i = 292; i >= 1; --i) {
    EXPECT_FALSE(page->IsOverfull()) << i;
    page->InsertKey(key({i / 10, i}), 1000 + i, position);
    EXPECT_EQ(position.GetEntry(), 0);
    EXPECT_EQ(position.GetRowPointer(), 1000 + i);
  }
  EXPECT_TRUE(page->IsOverfull());
  EXPECT_EQ(host.LeafKeys, 292);
  // Never flushed past its block.
  TBRNMemoryStream file;
  EXPECT_THROW(page->FlushToStream(file), std::logic_error);
  EXPECT_EQ(file.GetSize(), 0);

  auto right = NewPage(layout, 4096, kIndexPageLeaf);
  page->SplitInto(*right);
  EXPECT_EQ(page->EntryCount, 146);
  EXPECT_EQ(right->EntryCount, 146);
  EXPECT_EQ(page->GetPageSize(), page->GetSize());
  EXPECT_FALSE(page->IsOverfull());
  EXPECT_FALSE(right->IsOverfull());
  page->FlushToStream(file);
  EXPECT_EQ(file.GetSize(), 4096);
  std::vector<Item> left = Reread(*page);
  std::vector<Item> moved = Reread(*right);
  ASSERT_EQ(left.size(), 146u);
  ASSERT_EQ(moved.size(), 146u);
  EXPECT_EQ(left.front(), (Item{"0,1", 0, 1001}));
  EXPECT_EQ(left.back(), (Item{"14,146", 0, 1146}));
  EXPECT_EQ(moved.front(), (Item{"14,147", 0, 1147}));
  EXPECT_EQ(moved.back(), (Item{"29,292", 0, 1292}));
  // An odd count keeps the larger half.
  auto small = NewPage(layout, 11 + 4 * 14, kIndexPageLeaf);
  for (int32_t i = 1; i <= 5; ++i) small->InsertKey(key({0, i}), i, position);
  auto smallRight = NewPage(layout, 11 + 4 * 14, kIndexPageLeaf);
  small->SplitInto(*smallRight);
  EXPECT_EQ(small->EntryCount, 3);
  EXPECT_EQ(smallRight->EntryCount, 2);
  EXPECT_EQ(Reread(*smallRight).front(), (Item{"0,4", 0, 4}));

  // Half of the most a page holds is the underfull mark.
  EXPECT_FALSE(page->IsUnderfull());
  position.SetPage(page.get());
  page->DeleteAt(position);
  EXPECT_FALSE(page->IsUnderfull());
  page->DeleteAt(position);
  EXPECT_TRUE(page->IsUnderfull());
  EXPECT_EQ(host.LeafKeys, 290);
}

TEST(IndexPages, LayoutFollowsTheIndexDefinition) {
  TBRNIndexKeyLayout unique("PK", kIndexPrimaryKey, {IntegerColumn(), IntegerColumn()});
  TBRNIndexKeyLayout ordinary("I", kIndexOrdinary, {CharColumn(20), IntegerColumn()});
  TBRNIndexKeyLayout fixed("F", kIndexUnique, {CharColumn(10, 0, false, true)});
  TBRNIndexKeyLayout words("W", kIndexText, {CharColumn(30)});
  struct Case {
    const TBRNIndexKeyLayout* Layout;
    int32_t Width, Entry, Item;
    bool Unique;
    int32_t SecondOffset;
  } cases[] = {
      {&unique, 10, 14, 0, true, 5},
      {&ordinary, 28, 30, 8, false, 23},  // VARCHAR(20): flag, uint16, 20
      {&fixed, 11, 13, 8, false, -1},     // a unique key constraint keeps row IDs
      {&words, 33, 35, 8, false, -1},     // word length 30 + 3
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Layout->GetIndexName());
    EXPECT_EQ(c.Layout->GetKeyWidth(), c.Width);
    EXPECT_EQ(c.Layout->GetEntrySize(), c.Entry);
    EXPECT_EQ(c.Layout->GetItemSize(), c.Item);
    EXPECT_EQ(c.Layout->IsUnique(), c.Unique);
    if (c.SecondOffset >= 0) {
      EXPECT_EQ(c.Layout->GetColumn(1).Offset, c.SecondOffset);
    }
  }
  // A non-unique leaf of width 10 holds (4096 - 11) div (12 + 8) items.
  TBRNIndexKeyLayout nonUnique("N", kIndexOrdinary, {IntegerColumn(), IntegerColumn()});
  EXPECT_EQ(NewPage(nonUnique, 4096, kIndexPageLeaf)->GetMaxItems(), 204);
  EXPECT_EQ(NewPage(nonUnique, 4096, kIndexPageInternal)->GetMaxItems(), 204);
  EXPECT_EQ(NewPage(unique, 4096, kIndexPageInternal)->GetMaxItems(), 292);
}

struct OrderCase {
  const char* Name;
  TBRNIndexKeyColumn Column;
  std::vector<const char*> Inserted;
  std::vector<const char*> Expected;
};

TEST(IndexPages, KeysFollowCollationAndDirection) {
  const OrderCase cases[] = {
      {"binary", CharColumn(10), {"b", "B", "a", "ab", "A"}, {"A", "B", "a", "ab", "b"}},
      {"binary descending", CharColumn(10, 0, true), {"b", "B", "a"}, {"b", "a", "B"}},
      {"case-insensitive",
       CharColumn(10, kCaseInsensitive),
       {"b", "C", "a", "Ab"},
       {"a", "Ab", "b", "C"}},
      {"case-insensitive descending",
       CharColumn(10, kCaseInsensitive, true),
       {"b", "C", "a", "Ab"},
       {"C", "b", "Ab", "a"}},
      {"fixed, trailing blanks ignored",
       CharColumn(4, 0, false, true),
       {"bb", "a", "b"},
       {"a   ", "b   ", "bb  "}},
  };
  for (const OrderCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TBRNIndexKeyLayout layout("PK", kIndexPrimaryKey, {c.Column});
    auto page = NewPage(layout, 512);
    TBRNContainedIndexKeyValues values(layout);
    TBRNIndexKey position(layout);
    int32_t row = 0;
    for (const char* text : c.Inserted) {
      values.GetItem(0)->SetAsString(text);
      page->InsertKey(values, ++row, position);
    }
    std::vector<std::string> keys;
    for (const Item& item : Reread(*page)) keys.push_back(item.Key);
    EXPECT_EQ(keys, std::vector<std::string>(c.Expected.begin(), c.Expected.end()));
  }

  // Descending integers, and NULL first in ascending order.
  TBRNIndexKeyLayout layout("I", kIndexOrdinary, {IntegerColumn(true), IntegerColumn()});
  auto page = NewPage(layout, 1024);
  TBRNContainedIndexKeyValues values(layout);
  TBRNIndexKey position(layout);
  int32_t rows[][2] = {{5, 1}, {7, 2}, {5, 0}, {6, 9}};
  for (auto& r : rows) {
    values.GetItem(0)->SetAsInteger(r[0]);
    if (r[1] == 0) {
      values.GetItem(1)->SetNull(true);
    } else {
      values.GetItem(1)->SetAsInteger(r[1]);
    }
    values.SetRowID(r[0] * 10 + r[1]);
    page->InsertKey(values, 1, position);
  }
  std::vector<std::string> keys;
  for (const Item& item : Reread(*page)) keys.push_back(item.Key);
  EXPECT_EQ(keys, (std::vector<std::string>{"7,2", "6,9", "5,NULL", "5,1"}));
}

TEST(IndexPages, CaseInsensitiveUniqueKeysCollide) {
  TBRNIndexKeyLayout layout("Names", kIndexPrimaryKey, {CharColumn(10, kCaseInsensitive)});
  auto page = NewPage(layout, 512);
  TBRNContainedIndexKeyValues values(layout);
  TBRNIndexKey position(layout);
  values.GetItem(0)->SetAsString("Smith");
  page->InsertKey(values, 1, position);
  values.GetItem(0)->SetAsString("SMITH");
  ExpectCorrupt([&] { page->InsertKey(values, 2, position); },
                "The index Names contains duplicate keys");
  // A case-insensitive search finds a binary key of other case.
  TBRNIndexKeyLayout binary("B", kIndexPrimaryKey, {CharColumn(10)});
  auto other = NewPage(binary, 512);
  TBRNContainedIndexKeyValues word(binary);
  word.GetItem(0)->SetAsString("Smith");
  other->InsertKey(word, 1, position);
  word.GetItem(0)->SetAsString("SMITH");
  EXPECT_EQ(other->FindLowerBound(word, 0, false, position), 1);
  EXPECT_EQ(other->FindLowerBound(word, 0, true, position), 0);
}

// Random inserts and deletes of (key, row ID) against a sorted model: the
// page stays in (key, row ID) order, its tables agree with a fresh read, and
// every item is found by its (key, row ID).
TEST(IndexPages, NonUniqueItemsStaySortedByKeyAndRowID) {
  TBRNIndexKeyLayout layout("ByGroup", kIndexOrdinary, {IntegerColumn()});
  CountingHost host;
  auto page = NewPage(layout, 16384, kIndexPageRootLeaf, &host);
  IntKey key(layout);
  TBRNIndexKey position(layout);
  std::mt19937 random(25);
  std::set<std::pair<int32_t, int32_t>> model;  // (key, row ID); pointer = row ID + 1000
  while (model.size() < 600) {
    int32_t k = int32_t(random() % 12);
    int32_t rowID = int32_t(random() % 100000) + 1;
    if (!model.insert({k, rowID}).second) continue;
    ASSERT_TRUE(page->InsertKey(key({k}, rowID), rowID + 1000, position));
    ASSERT_EQ(position.GetRowID(), rowID);
    ASSERT_EQ(position.GetItem(0)->GetAsInteger(), k);
  }
  auto expectModel = [&] {
    std::vector<Item> expected;
    for (auto& [k, rowID] : model) expected.push_back({std::to_string(k), rowID, rowID + 1000});
    EXPECT_EQ(Walk(*page), expected);
    EXPECT_EQ(Reread(*page), expected);
    EXPECT_EQ(page->ItemTotal, int32_t(model.size()));
    EXPECT_EQ(host.LeafKeys, int32_t(model.size()));
  };
  expectModel();
  EXPECT_EQ(page->EntryCount, 12);

  // The same (key, row) again is damage.
  auto [k0, r0] = *model.begin();
  ExpectCorrupt([&] { page->InsertKey(key({k0}, r0), r0 + 1000, position); },
                "The index ByGroup contains duplicate keys");

  std::vector<std::pair<int32_t, int32_t>> order(model.begin(), model.end());
  std::shuffle(order.begin(), order.end(), random);
  for (size_t i = 0; i < order.size(); ++i) {
    auto [k, rowID] = order[i];
    ASSERT_TRUE(page->LocateForDelete(key({k}, rowID), position));
    ASSERT_EQ(position.GetRowID(), rowID);
    page->DeleteAt(position);
    model.erase({k, rowID});
    if (i % 97 == 0) expectModel();
  }
  expectModel();
  EXPECT_EQ(page->EntryCount, 0);
  EXPECT_EQ(page->GetUsedBytes(), kIndexLeafHeaderSize);
}

TEST(IndexPages, DuplicateAndMissingKeysByIndexKind) {
  struct Case {
    int32_t Type;
    bool SameRowIgnored;
    bool MissingIgnored;
  } cases[] = {
      {kIndexOrdinary, false, false},
      {kIndexForeignKey, false, false},
      {kIndexUnique, false, false},
      {kIndexText, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Type);
    TBRNIndexKeyLayout layout("Idx", c.Type, {CharColumn(8)});
    CountingHost host;
    auto page = NewPage(layout, 512, kIndexPageRootLeaf, &host);
    TBRNContainedIndexKeyValues values(layout);
    TBRNIndexKey position(layout);
    values.GetItem(0)->SetAsString("word");
    values.SetRowID(7);
    EXPECT_TRUE(page->InsertKey(values, 70, position));
    if (c.SameRowIgnored) {
      EXPECT_FALSE(page->InsertKey(values, 70, position));
      EXPECT_EQ(page->ItemTotal, 1);
      EXPECT_EQ(host.LeafKeys, 1);
    } else {
      ExpectCorrupt([&] { page->InsertKey(values, 70, position); },
                    "The index Idx contains duplicate keys");
    }
    // Missing: another row of the same key, and a key not there at all.
    values.SetRowID(8);
    for (const char* text : {"word", "other"}) {
      values.GetItem(0)->SetAsString(text);
      if (c.MissingIgnored) {
        EXPECT_FALSE(page->LocateForDelete(values, position));
      } else {
        ExpectCorrupt([&] { page->LocateForDelete(values, position); },
                      "The index Idx is missing a required key");
      }
    }
    values.GetItem(0)->SetAsString("word");
    values.SetRowID(7);
    ASSERT_TRUE(page->LocateForDelete(values, position));
    page->DeleteAt(position);
    // An empty page has nothing to delete either.
    if (c.MissingIgnored) {
      EXPECT_FALSE(page->LocateForDelete(values, position));
    } else {
      ExpectCorrupt([&] { page->LocateForDelete(values, position); }, "missing a required key");
    }
  }
  // A unique index: an equal key is a duplicate whatever the row.
  TBRNIndexKeyLayout unique("PK", kIndexPrimaryKey, {IntegerColumn()});
  auto page = NewPage(unique, 512);
  IntKey key(unique);
  TBRNIndexKey position(unique);
  page->InsertKey(key({4}), 1, position);
  ExpectCorrupt([&] { page->InsertKey(key({4}), 2, position); },
                "The index PK contains duplicate keys");
  ExpectCorrupt([&] { page->LocateForDelete(key({5}), position); },
                "The index PK is missing a required key");
}

// Page bytes come from a file: counts that do not fit the page are refused
// with 601 before anything is read from them.
TEST(IndexPages, DamagedPageBytesAreRefused) {
  TBRNIndexKeyLayout unique("PK", kIndexPrimaryKey, {IntegerColumn(), IntegerColumn()});
  TBRNIndexKeyLayout items("I", kIndexOrdinary, {IntegerColumn(), IntegerColumn()});
  struct Case {
    const char* Name;
    const TBRNIndexKeyLayout* Layout;
    std::function<void(uint8_t*)> Damage;
    const char* Message;
  } cases[] = {
      {"page type", &unique, [](uint8_t* d) { d[4] = 9; }, "Invalid index page 5 type (9)"},
      {"entry count beyond the page", &unique,
       [](uint8_t* d) { StoreLittleEndian<uint16_t>(d + 9, 292); },
       "Invalid index page 5 entry count (292)"},
      {"entry count of an internal page", &unique,
       [](uint8_t* d) {
         d[4] = kIndexPageInternal;
         StoreLittleEndian<uint16_t>(d + 5, 65535);
       },
       "Invalid index page 5 entry count (65535)"},
      {"item count 0", &items, [](uint8_t* d) { StoreLittleEndian<uint16_t>(d + 11 + 12 + 10, 0); },
       "Invalid index page 5 item count (0)"},
      {"items beyond the page", &items,
       [](uint8_t* d) { StoreLittleEndian<uint16_t>(d + 11 + 12 + 10, 60000); },
       "Invalid index page 5 item count (60000)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    // A valid page of three entries, then the damage.
    auto page = NewPage(*c.Layout, 4096, kIndexPageLeaf);
    IntKey key(*c.Layout);
    TBRNIndexKey position(*c.Layout);
    for (int32_t i = 1; i <= 3; ++i) page->InsertKey(key({i, i}, i), i, position);
    auto read = std::make_unique<TBRNIndexPage>(nullptr, nullptr);
    read->BlockStream.SetSize(4096);
    std::memcpy(read->Data(), page->Data(), 4096);
    read->BlockNumber = 5;
    c.Damage(read->Data());
    read->HeaderRead = false;
    ExpectCorrupt([&] { read->BindLayout(c.Layout); }, c.Message);
    EXPECT_FALSE(read->IsBound());
    // Still refused when asked again; never used unchecked.
    ExpectCorrupt([&] { read->BindLayout(c.Layout); }, c.Message);
    EXPECT_THROW(read->FindFirstNotBelow(key({1, 1}), position), std::logic_error);
    // A key on it stands nowhere and reads nothing from its bytes.
    TBRNIndexKey onDamaged(*c.Layout);
    onDamaged.SetPage(read.get());
    EXPECT_FALSE(onDamaged.IsPositioned());
    EXPECT_FALSE(onDamaged.Last());
    EXPECT_EQ(onDamaged.GetRowPointer(), 0);
    EXPECT_TRUE(onDamaged.GetItem(0)->GetNull());
  }
  // Searching a page without entries is reported, not answered.
  auto empty = NewPage(unique, 4096);
  IntKey key(unique);
  TBRNIndexKey position(unique);
  ExpectCorrupt(
      [&] {
        empty->FindLowerBound(key({1, 1}), 0, false, position);
      },
      "The index page is empty");
}

TEST(IndexPages, LeafSearchesPositionOnTheFirstMatch) {
  TBRNIndexKeyLayout layout("I", kIndexOrdinary, {CharColumn(10)});
  auto page = NewPage(layout, 1024, kIndexPageLeaf);
  TBRNContainedIndexKeyValues values(layout);
  TBRNIndexKey position(layout);
  // "apple" rows 1, 2; "apricot" row 3; "banana" row 4.
  const std::tuple<const char*, int32_t> rows[] = {
      {"banana", 4}, {"apple", 2}, {"apricot", 3}, {"apple", 1}};
  for (auto [text, row] : rows) {
    values.GetItem(0)->SetAsString(text);
    values.SetRowID(row);
    page->InsertKey(values, row * 10, position);
  }
  struct Case {
    const char* Search;
    int32_t Partial;
    int32_t Which;  // 0 lower, 1 upper, 2 last not above
    int32_t Result;
    int32_t Row;  // pointer / 10 at the position
  } cases[] = {
      {"apple", 0, 0, 0, 1},      {"apple", 0, 1, 1, 3},    {"apple", 0, 2, 0, 2},
      {"ap", 2, 0, 0, 1},         {"ap", 2, 1, 1, 4},       {"ap", 2, 2, 0, 3},
      {"aardvark", 0, 0, 1, 1},   {"aardvark", 0, 2, 1, 1}, {"blueberry", 0, 0, -1, 4},
      {"blueberry", 0, 1, -1, 4}, {"avocado", 0, 0, 1, 4},  {"avocado", 0, 2, -1, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Search) + " " + std::to_string(c.Which));
    values.GetItem(0)->SetAsString(c.Search);
    int32_t result = c.Which == 0   ? page->FindLowerBound(values, c.Partial, false, position)
                     : c.Which == 1 ? page->FindUpperBound(values, c.Partial, false, position)
                                    : page->FindLastNotAbove(values, c.Partial, false, position);
    EXPECT_EQ(result, c.Result);
    EXPECT_EQ(position.GetRowPointer() / 10, c.Row);
  }
  // (key, row ID): found, between items, after the entry's items, past the
  // page's end.
  struct RowCase {
    const char* Search;
    int32_t RowID, Result, Row;
  } rowCases[] = {{"apple", 2, 0, 2}, {"apple", 0, 1, 1}, {"apple", 5, 1, 3}, {"banana", 9, -1, 4}};
  for (const RowCase& c : rowCases) {
    values.GetItem(0)->SetAsString(c.Search);
    values.SetRowID(c.RowID);
    EXPECT_EQ(page->FindKeyWithRowID(values, position), c.Result) << c.Search << c.RowID;
    EXPECT_EQ(position.GetRowPointer() / 10, c.Row);
  }
}

// An internal item names the first key of its child: a search follows the
// child whose subtree holds the first match.
TEST(IndexPages, InternalSearchesNameTheChildToFollow) {
  TBRNIndexKeyLayout unique("PK", kIndexPrimaryKey, {IntegerColumn()});
  auto page = NewPage(unique, 512, kIndexPageInternal);
  IntKey key(unique);
  TBRNIndexKey position(unique);
  for (int32_t k : {10, 20, 30}) page->InsertKey(key({k}), 100 + k, position);
  struct Case {
    int32_t Search;
    bool Exact;
    int32_t Child;
  } cases[] = {{5, false, 110},  {10, true, 110},  {25, false, 120}, {20, true, 120},
               {20, false, 110}, {35, false, 130}, {30, true, 130}};
  for (const Case& c : cases) {
    int32_t result = c.Exact ? page->FindExact(key({c.Search}), position)
                             : page->FindLowerBound(key({c.Search}), 0, false, position);
    (void)result;
    EXPECT_EQ(position.GetRowPointer(), c.Child) << c.Search << c.Exact;
  }

  // Non-unique: items (row ID, child) below an entry; key 7 spans children.
  TBRNIndexKeyLayout items("I", kIndexOrdinary, {IntegerColumn()});
  auto inner = NewPage(items, 512, kIndexPageInternal);
  IntKey ikey(items);
  TBRNIndexKey ipos(items);
  // Children start at (5, 1), (7, 10), (7, 50), (9, 3).
  const int32_t starts[][3] = {{5, 1, 201}, {7, 10, 202}, {7, 50, 203}, {9, 3, 204}};
  for (auto& s : starts) inner->InsertKey(ikey({s[0]}, s[1]), s[2], ipos);
  EXPECT_EQ(inner->EntryCount, 3);
  struct RowCase {
    int32_t Key, RowID, Child;
  } rowCases[] = {{7, 5, 201}, {7, 10, 202}, {7, 30, 202}, {7, 60, 203},
                  {9, 1, 203}, {9, 3, 204},  {4, 0, 201}};
  for (const RowCase& c : rowCases) {
    inner->FindKeyWithRowID(ikey({c.Key}, c.RowID), ipos);
    EXPECT_EQ(ipos.GetRowPointer(), c.Child) << c.Key << "/" << c.RowID;
  }
  // The first key 7 may lie in the child before the one that starts with it.
  inner->FindLowerBound(ikey({7}), 0, false, ipos);
  EXPECT_EQ(ipos.GetRowPointer(), 201);
}

// One key with many rows: the split falls inside its item list and the entry
// stands in both pages; merging back gives the page a fresh build would.
TEST(IndexPages, NonUniqueSplitInsideAnEntryAndMergeBack) {
  TBRNIndexKeyLayout layout("ByGroup", kIndexOrdinary, {IntegerColumn(), IntegerColumn()});
  auto build = [&](int32_t lastRow) {
    auto page = NewPage(layout, 1024, kIndexPageLeaf);
    IntKey key(layout);
    TBRNIndexKey position(layout);
    for (int32_t r = 1; r <= 3; ++r) page->InsertKey(key({1, 1}, r), r, position);
    for (int32_t r = 1; r <= lastRow; ++r) page->InsertKey(key({2, 2}, r), 100 + r, position);
    return page;
  };
  // 11 + 2 x 12 + 124 x 8 = 1027 bytes: one more than the page holds.
  auto page = build(121);
  ASSERT_TRUE(page->IsOverfull());
  std::vector<Item> before = Walk(*page);

  auto right = NewPage(layout, 1024, kIndexPageLeaf);
  page->SplitInto(*right);
  EXPECT_EQ(page->ItemTotal, 62);
  EXPECT_EQ(right->ItemTotal, 62);
  EXPECT_EQ(page->EntryCount, 2);
  EXPECT_EQ(right->EntryCount, 1);
  EXPECT_FALSE(page->IsOverfull());
  EXPECT_FALSE(right->IsOverfull());
  std::vector<Item> left = Reread(*page);
  std::vector<Item> moved = Reread(*right);
  EXPECT_EQ(left.back(), (Item{"2,2", 59, 159}));
  EXPECT_EQ(moved.front(), (Item{"2,2", 60, 160}));
  left.insert(left.end(), moved.begin(), moved.end());
  EXPECT_EQ(left, before);

  // Rows 112..121 go; the rest fits in one page again. The right page's
  // first entry continues the left's last: its count is added there first.
  TBRNIndexKey position(layout);
  position.SetPage(right.get());
  position.Last();
  for (int32_t i = 0; i < 10; ++i) {
    right->DeleteAt(position);
    position.Last();
  }
  ASSERT_TRUE(page->CanTake(*right));
  TBRNIndexKey last(layout);
  last.SetPage(page.get());
  last.Last();
  last.SetDuplicateCount(last.GetDuplicateCount() + right->GetItemCount(0));
  right->MergeInto(*page, true);
  EXPECT_EQ(right->EntryCount, 0);
  EXPECT_EQ(right->ItemTotal, 0);
  auto fresh = build(111);
  EXPECT_EQ(Reread(*page), Walk(*fresh));
  EXPECT_EQ(std::vector<uint8_t>(page->Data(), page->Data() + page->GetPageSize()),
            std::vector<uint8_t>(fresh->Data(), fresh->Data() + fresh->GetPageSize()));
}

TEST(IndexPages, SplitFindsAPointWhereBothHalvesFit) {
  // Few wide entries with one item each, then one entry with many items:
  // the middle item would leave the left page overfull.
  TBRNIndexKeyLayout layout("W", kIndexOrdinary, {CharColumn(60)});
  auto page = NewPage(layout, 512, kIndexPageLeaf);
  TBRNContainedIndexKeyValues values(layout);
  TBRNIndexKey position(layout);
  for (int32_t i = 0; i < 6; ++i) {
    values.GetItem(0)->SetAsString(std::string(50, char('a' + i)));
    values.SetRowID(i + 1);
    page->InsertKey(values, i + 1, position);
  }
  values.GetItem(0)->SetAsString("z");
  for (int32_t r = 1; r <= 20; ++r) {
    values.SetRowID(r);
    page->InsertKey(values, 100 + r, position);
  }
  ASSERT_TRUE(page->IsOverfull());
  std::vector<Item> before = Walk(*page);
  auto right = NewPage(layout, 512, kIndexPageLeaf);
  page->SplitInto(*right);
  EXPECT_FALSE(page->IsOverfull());
  EXPECT_FALSE(right->IsOverfull());
  std::vector<Item> all = Reread(*page);
  std::vector<Item> moved = Reread(*right);
  all.insert(all.end(), moved.begin(), moved.end());
  EXPECT_EQ(all, before);
}

TEST(IndexPages, HeaderCountsFollowThePageType) {
  TBRNIndexKeyLayout layout("I", kIndexOrdinary, {IntegerColumn()});
  struct Case {
    uint8_t Type;
    int32_t Leaf, Internal;
  } cases[] = {{kIndexPageRootInternal, 0, 0},
               {kIndexPageInternal, 0, 2},
               {kIndexPageLeaf, 2, 0},
               {kIndexPageRootLeaf, 2, 0}};
  for (const Case& c : cases) {
    CountingHost host;
    auto page = NewPage(layout, 512, c.Type, &host);
    EXPECT_EQ(page->GetHeaderSize(), c.Type >= kIndexPageLeaf ? 11 : 7);
    IntKey key(layout);
    TBRNIndexKey position(layout);
    for (int32_t r = 1; r <= 3; ++r) page->InsertKey(key({r}, r), r, position);
    page->DeleteAt(position);
    EXPECT_EQ(host.LeafKeys, c.Leaf) << int(c.Type);
    EXPECT_EQ(host.InternalKeys, c.Internal) << int(c.Type);
    EXPECT_TRUE(page->Modified);
    // The header fields are in the bytes as written.
    EXPECT_EQ(page->Data()[4], c.Type);
    EXPECT_EQ(LoadLittleEndian<uint16_t>(page->Data() + page->GetHeaderSize() - 2), 2);
  }
}

TEST(IndexPages, ChangingTheTypeMovesEntriesBehindTheHeader) {
  TBRNIndexKeyLayout layout("I", kIndexOrdinary, {IntegerColumn()});
  auto page = NewPage(layout, 512, kIndexPageLeaf);
  IntKey key(layout);
  TBRNIndexKey position(layout);
  for (int32_t r = 1; r <= 4; ++r) page->InsertKey(key({r % 2}, r), 10 * r, position);
  page->SetPriorLink(77);
  std::vector<Item> items = Walk(*page);
  int32_t used = page->GetUsedBytes();
  for (uint8_t type : {kIndexPageInternal, kIndexPageRootInternal, kIndexPageRootLeaf}) {
    page->SetPageType(type);
    int32_t header = type >= kIndexPageLeaf ? 11 : 7;
    EXPECT_EQ(page->GetUsedBytes(), used - 11 + header) << int(type);
    EXPECT_EQ(Reread(*page), items) << int(type);
  }
  // The prior link of a leaf does not survive a spell as an internal page.
  EXPECT_EQ(page->PriorLink, 0);
  EXPECT_EQ(LoadLittleEndian<int32_t>(page->Data() + 5), 0);
}

TEST(IndexPages, RunsOfConsecutiveRowsAndBitmaps) {
  TBRNIndexKeyLayout layout("I", kIndexOrdinary, {IntegerColumn()});
  auto page = NewPage(layout, 1024, kIndexPageLeaf);
  IntKey key(layout);
  TBRNIndexKey position(layout);
  // Key order gives the rows 5, 6, 7, 9, 10 and, in one entry, 20, 21, 22.
  const int32_t rows[][3] = {{1, 1, 5},  {2, 2, 6},  {3, 3, 7},  {4, 4, 9},
                             {5, 5, 10}, {6, 6, 20}, {6, 7, 21}, {6, 8, 22}};
  for (auto& r : rows) page->InsertKey(key({r[0]}, r[1]), r[2], position);
  position.SetPage(page.get());
  EXPECT_EQ(page->CountConsecutiveRows(position, 1, 100), 3);
  EXPECT_EQ(page->CountConsecutiveRows(position, 1, 2), 2);
  EXPECT_EQ(page->CountConsecutiveRows(position, 2, 100), 1);
  position.SetItem(2);
  EXPECT_EQ(page->CountConsecutiveRows(position, 2, 100), 3);
  position.SetItem(6);
  EXPECT_EQ(page->CountConsecutiveRows(position, 1, 100), 2);
  EXPECT_EQ(page->CountConsecutiveRows(position, 2, 100), 2);

  // The entry's remaining items and those before the position; rows beyond
  // the bitmap are skipped.
  TBRNBitmap after;
  after.SetSize(21);
  TBRNBitmap prior;
  prior.SetSize(100);
  position.AddRowsToBitmap(after);
  position.AddPriorRowsToBitmap(prior);
  EXPECT_EQ(after.CountSet(), 1);
  EXPECT_TRUE(after.IsBitSet(21));
  EXPECT_EQ(prior.CountSet(), 1);
  EXPECT_TRUE(prior.IsBitSet(20));
}

TEST(IndexPages, FindDuplicateSearchesTheEntrysRowIDs) {
  TBRNIndexKeyLayout layout("I", kIndexOrdinary, {IntegerColumn()});
  auto page = NewPage(layout, 512, kIndexPageLeaf);
  IntKey key(layout);
  TBRNIndexKey position(layout);
  page->InsertKey(key({1}, 1), 1, position);
  for (int32_t rowID : {30, 10, 20}) page->InsertKey(key({2}, rowID), rowID, position);
  struct Case {
    int32_t RowID;
    bool ForInsert, Found;
    int32_t Duplicate;
  } cases[] = {{20, false, true, 1},  {20, true, true, 1},  {15, true, false, 1},
               {15, false, false, 0}, {5, false, false, 0}, {5, true, false, 0},
               {35, true, false, 3},  {35, false, false, 2}};
  for (const Case& c : cases) {
    position.SetEntry(1);
    EXPECT_EQ(position.FindDuplicate(c.RowID, c.ForInsert), c.Found) << c.RowID << c.ForInsert;
    EXPECT_EQ(position.GetDuplicate(), c.Duplicate) << c.RowID << c.ForInsert;
  }
}

TEST(IndexPages, KeyValuesReadAndWriteThePageInPlace) {
  TBRNIndexKeyLayout layout("I", kIndexOrdinary,
                            {CharColumn(6), CharColumn(4, 0, false, true), IntegerColumn()});
  auto page = NewPage(layout, 512, kIndexPageLeaf);
  TBRNContainedIndexKeyValues values(layout);
  values.GetItem(0)->SetAsString("abc");
  values.GetItem(1)->SetAsString("xy");
  values.GetItem(2)->SetNull(true);
  values.SetRowID(3);
  TBRNIndexKey position(layout);
  page->InsertKey(values, 30, position);
  const uint8_t* entry = page->Data() + page->GetEntryOffset(0);
  // flag, uint16 3, "abc" + 3 zero bytes | flag, "xy  " | flag 0, 4 zero bytes | count 1
  const uint8_t expected[] = {1,   3,   0,   'a', 'b', 'c', 0, 0, 0, 1, 'x',
                              'y', ' ', ' ', 0,   0,   0,   0, 0, 1, 0};
  EXPECT_EQ(std::vector<uint8_t>(entry, entry + sizeof(expected)),
            std::vector<uint8_t>(expected, expected + sizeof(expected)));
  EXPECT_EQ(position.GetItem(1)->GetAsString(), "xy  ");
  EXPECT_TRUE(position.GetItem(2)->GetNull());
  // Writing through a key value changes the stored key; too long text is cut.
  position.GetItem(0)->SetAsString("abcdefgh");
  position.GetItem(2)->SetAsInteger(-5);
  EXPECT_EQ(position.GetItem(0)->GetAsString(), "abcdef");
  EXPECT_EQ(LoadLittleEndian<int32_t>(entry + 15), -5);
  // A damaged length never reads past the column.
  StoreLittleEndian<uint16_t>(page->Data() + page->GetEntryOffset(0) + 1, 60000);
  EXPECT_EQ(position.GetItem(0)->GetAsString(), "abcdef");
  // A key standing nowhere reads NULL and refuses writes.
  TBRNIndexKey nowhere(layout);
  EXPECT_TRUE(nowhere.GetItem(0)->GetNull());
  EXPECT_THROW(nowhere.GetItem(0)->SetAsString("x"), std::logic_error);
}

TEST(IndexPages, StoredFloatsBeyondTheIntegerRangeReadSaturated) {
  TBRNIndexKeyColumn number;
  number.DataType = dtFloat;
  TBRNIndexKeyLayout layout("I", kIndexOrdinary, {number});
  auto page = NewPage(layout, 512, kIndexPageLeaf);
  TBRNContainedIndexKeyValues values(layout);
  values.GetItem(0)->SetAsFloat(1.0);
  values.SetRowID(1);
  TBRNIndexKey position(layout);
  page->InsertKey(values, 10, position);
  uint8_t* stored = page->Data() + page->GetEntryOffset(0) + 1;
  // The bytes come from the file: a huge value, its negative and NaN must not
  // make the integer reading undefined.
  const struct {
    double Stored;
    int64_t Expected;
  } cases[] = {{1e300, INT64_MAX}, {-1e300, INT64_MIN}, {std::nan(""), 0}, {-42.9, -42}};
  for (const auto& c : cases) {
    StoreLittleEndian<double>(stored, c.Stored);
    EXPECT_EQ(position.GetItem(0)->GetInt64Data(), c.Expected) << c.Stored;
  }
}

}  // namespace
}  // namespace brn

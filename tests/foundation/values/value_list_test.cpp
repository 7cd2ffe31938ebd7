#include "foundation/values/value_list.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/core/memory_stream.h"
#include "foundation/test_support.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/values/contained_value.h"

namespace brn {
namespace {

using testing::CaughtError;
using testing::StreamBytes;

constexpr int32_t kEnglishCaseInsensitive = 1033 | (1 << CaseInsensitiveBit);

// A cell of a test tuple: text, an integer or NULL (an Integer NULL).
struct Cell {
  enum Kind { kText, kInt, kNull } kind;
  std::string text;
  int32_t number = 0;
};
Cell T(std::string text) {
  return {Cell::kText, std::move(text), 0};
}
Cell I(int32_t number) {
  return {Cell::kInt, "", number};
}
Cell N() {
  return {Cell::kNull, "", 0};
}

TBRNContainedValue* NewValue(const Cell& cell, int32_t collation = 0) {
  auto* value = new TBRNContainedValue();
  if (cell.kind == Cell::kText) {
    value->SetDataType(dtChar);
    value->SetCollation(collation);
    value->SetAsString(cell.text);
  } else {
    value->SetDataType(dtInteger);
    if (cell.kind == Cell::kInt) value->SetAsInteger(cell.number);
  }
  return value;
}

// An owning list holding the cells.
std::unique_ptr<TBRNValues> MakeList(const std::vector<Cell>& cells, int32_t collation = 0) {
  auto list = std::make_unique<TBRNValues>();
  for (const Cell& cell : cells) list->Add(NewValue(cell, collation));
  return list;
}

// An owning list that creates values of fixed types when it loads.
class TypedValues : public TBRNValues {
 public:
  explicit TypedValues(std::vector<TBRNDataTypeCode> types) : Types(std::move(types)) {}
  TBRNValue* CreateValue(int32_t Index) override {
    ++Created;
    auto* value = new TBRNContainedValue();
    value->SetDataType(Types.at(size_t(Index)));
    return value;
  }
  std::vector<TBRNDataTypeCode> Types;
  int32_t Created = 0;
};

// An owning list that creates an Integer value for every slot it loads and
// expects at most maxCount values (the base list's bound when negative).
class CountedValues : public TBRNValues {
 public:
  explicit CountedValues(int32_t maxCount) : MaxCount(maxCount) {}
  TBRNValue* CreateValue(int32_t) override {
    ++Created;
    auto* value = new TBRNContainedValue();
    value->SetDataType(dtInteger);
    return value;
  }
  int32_t GetMaxStreamCount() const override {
    return MaxCount < 0 ? TBRNValues::GetMaxStreamCount() : MaxCount;
  }
  int32_t MaxCount;
  int32_t Created = 0;
};

// A key over values owned by the test, with per-column properties.
class TestKey : public TBRNValueReferences<TBRNKeyValues> {
 public:
  TestKey(const std::vector<Cell>& cells, std::vector<bool> descending = {},
          std::vector<int32_t> collations = {})
      : Descending(std::move(descending)), Collations(std::move(collations)) {
    for (const Cell& cell : cells) {
      Owned.emplace_back(NewValue(cell));
      Add(Owned.back().get());
    }
  }
  int32_t GetColumnCollation(int32_t Index) const override {
    return size_t(Index) < Collations.size() ? Collations[size_t(Index)] : 0;
  }
  bool GetColumnDescending(int32_t Index) const override {
    return size_t(Index) < Descending.size() && Descending[size_t(Index)];
  }
  int32_t GetRowID() const override { return RowID; }
  void SetRowID(int32_t ID) override { RowID = ID; }

  std::vector<std::unique_ptr<TBRNValue>> Owned;
  std::vector<bool> Descending;
  std::vector<int32_t> Collations;
  int32_t RowID = 0;
};

TEST(ValueList, CapacityGrowsInStepsOfEightAndDeletingKeepsIt) {
  TBRNValues list;  // owning: the values are freed with the list
  std::vector<TBRNValue*> added;
  for (int32_t i = 0; i < 9; ++i) {
    added.push_back(NewValue(I(i)));
    list.Add(added.back());
    EXPECT_EQ(list.GetCapacity(), i < 8 ? 8 : 16) << "after value " << i + 1;
  }
  TBRNValue* first = list.GetItem(0);
  TBRNValue* fifth = list.GetItem(4);
  list.Delete(0);
  list.Delete(3);  // the former fifth value
  EXPECT_EQ(list.GetCount(), 7);
  EXPECT_EQ(list.GetItem(0)->GetAsInteger(), 1);
  EXPECT_EQ(list.GetItem(3)->GetAsInteger(), 5);
  list.Insert(2, fifth);
  list.Insert(0, first);
  std::vector<int32_t> order;
  for (int32_t i = 0; i < list.GetCount(); ++i) order.push_back(list.GetItem(i)->GetAsInteger());
  EXPECT_EQ(order, (std::vector<int32_t>{0, 1, 2, 4, 3, 5, 6, 7, 8}));

  while (list.GetCount() > 0) {
    TBRNValue* removed = list.GetItem(0);
    list.Delete(0);
    delete removed;  // Delete never frees
  }
  list.Delete(0);  // nothing on an empty list
  EXPECT_EQ(list.GetCapacity(), 16);
}

TEST(ValueList, ShrinkingAnOwningListFreesTheSurplusValues) {
  auto list = MakeList({I(1), I(2), I(3), I(4), I(5), I(6), I(7), I(8), I(9), I(10)});
  list->SetCapacity(3);  // LeakSanitizer shows the two freed values
  EXPECT_EQ(list->GetCapacity(), 8);
  EXPECT_EQ(list->GetCount(), 8);
  EXPECT_EQ(list->GetItem(7)->GetAsInteger(), 8);
}

TEST(ValueList, MisuseOfIndexesThrows) {
  auto list = MakeList({I(1)});
  EXPECT_THROW(list->GetItem(1), std::out_of_range);
  EXPECT_THROW(list->GetItem(-1), std::out_of_range);
  EXPECT_THROW(list->Insert(2, nullptr), std::out_of_range);
  EXPECT_THROW(list->Delete(1), std::out_of_range);
  EXPECT_THROW(list->SetCount(9), std::out_of_range);
  EXPECT_EQ(list->GetCount(), 1);
}

TEST(ValueList, SetAllNullAndClear) {
  auto list = MakeList({T("a"), I(1)});
  list->SetAllNull();
  EXPECT_TRUE(list->GetItem(0)->GetNull());
  EXPECT_TRUE(list->GetItem(1)->GetNull());
  EXPECT_EQ(list->GetItem(1)->GetAsInteger(), 0);  // cleared when it became NULL

  TBRNValue* a = list->GetItem(0);
  TBRNValue* b = list->GetItem(1);
  list->Clear();
  EXPECT_EQ(list->GetCount(), 0);
  EXPECT_EQ(list->GetCapacity(), 8);
  delete a;  // Clear never frees
  delete b;
}

struct CompareCase {
  const char* name;
  std::vector<Cell> left;
  std::vector<Cell> right;
  int32_t partialLength;
  bool ignoreCase;
  int32_t expected;
};

TEST(ValueList, CompareItemByItem) {
  const CompareCase cases[] = {
      {"a shorter list equals its extension", {T("a"), I(1)}, {T("a"), I(1), T("x")}, 0, false, 0},
      {"extension equals the shorter list", {T("a"), I(1), T("x")}, {T("a"), I(1)}, 0, false, 0},
      {"first difference decides", {T("a"), I(2)}, {T("a"), I(1), T("x")}, 0, false, 1},
      {"text before number", {T("a"), I(9)}, {T("b"), I(1)}, 0, false, -1},
      {"trailing blanks do not matter", {T("abc  ")}, {T("abc")}, 0, false, 0},
      {"NULL first", {N()}, {I(-5)}, 0, false, -1},
      {"NULL equals NULL", {N(), I(1)}, {N(), I(1)}, 0, false, 0},
      {"partial length on the last text", {T("abc")}, {T("abx")}, 2, false, 0},
      {"partial length only on the other's last", {T("abc"), I(1)}, {T("abx"), I(1)}, 2, false, -1},
      {"partial length when this list is longer", {T("abc"), I(1)}, {T("abx")}, 2, false, 0},
      {"case counts", {T("ABC")}, {T("abc")}, 0, false, -1},
      {"ignore case", {T("ABC")}, {T("abc")}, 0, true, 0},
      {"two empty lists", {}, {}, 0, false, 0},
  };
  for (const CompareCase& c : cases) {
    auto left = MakeList(c.left);
    auto right = MakeList(c.right);
    EXPECT_EQ(left->Compare(*right, c.partialLength, c.ignoreCase), c.expected) << c.name;
  }
}

TEST(ValueList, TextItemsCompareUnderTheirOwnCollation) {
  auto caseless = MakeList({T("ABC")}, kEnglishCaseInsensitive);
  auto binary = MakeList({T("abc")});
  EXPECT_EQ(caseless->Compare(*binary, 0, false), 0);
  EXPECT_NE(binary->Compare(*caseless, 0, false), 0);
}

struct KeyCase {
  const char* name;
  std::vector<Cell> left;
  std::vector<Cell> right;
  std::vector<bool> descending;
  int32_t partialLength;
  int32_t expected;
};

TEST(KeyValues, CompareWithColumnDirectionsAndEmptyKeys) {
  const KeyCase cases[] = {
      {"ascending", {T("a")}, {T("b")}, {false}, 0, -1},
      {"descending column puts b first", {T("a")}, {T("b")}, {true}, 0, 1},
      {"descending second column", {T("a"), I(1)}, {T("a"), I(2)}, {false, true}, 0, 1},
      {"partial search key", {T("abc")}, {T("abx")}, {false}, 2, 0},
      {"partial text not last in the search key",
       {T("abc"), I(1)},
       {T("abx"), I(1)},
       {false},
       2,
       -1},
      {"shorter key equals its extension", {T("a")}, {T("a"), I(3)}, {}, 0, 0},
      // A comparator must be consistent: empty keys are equal to each other
      // and smaller than every other key from both sides.
      {"two empty keys", {}, {}, {}, 0, 0},
      {"empty key first", {}, {T("a")}, {}, 0, -1},
      {"any key after the empty one", {T("a")}, {}, {}, 0, 1},
      {"a descending key after the empty one", {N()}, {}, {true}, 0, 1},
  };
  for (const KeyCase& c : cases) {
    TestKey left(c.left, c.descending);
    TestKey right(c.right, c.descending);
    EXPECT_EQ(left.Compare(right, c.partialLength, false), c.expected) << c.name;
  }
}

TEST(KeyValues, TextColumnsCompareUnderTheColumnCollation) {
  // The values themselves carry the binary collation.
  TestKey left({T("ABC")}, {}, {kEnglishCaseInsensitive});
  TestKey right({T("abc")}, {}, {kEnglishCaseInsensitive});
  EXPECT_EQ(left.Compare(right, 0, false), 0);
  left.Collations = {BinaryCollation};
  EXPECT_EQ(left.Compare(right, 0, false), -1);
}

TEST(ValueList, StreamFormAndLoadingIntoAnEmptyOwningList) {
  auto source = MakeList({T("abc"), I(7), N()});
  TBRNMemoryStream stream;
  source->SaveToStream(stream);
  const std::vector<uint8_t> expected = {3, 0, 0, 0,                    // count
                                         0, 3, 0, 0, 0, 'a', 'b', 'c',  // 'abc'
                                         0, 7, 0, 0, 0,                 // 7
                                         1};                            // NULL
  EXPECT_EQ(StreamBytes(stream), expected);

  TypedValues target({dtChar, dtInteger, dtInteger});
  stream.SetPosition(0);
  target.LoadFromStream(stream);
  EXPECT_EQ(target.Created, 3);
  ASSERT_EQ(target.GetCount(), 3);
  EXPECT_EQ(target.GetCapacity(), 8);
  EXPECT_EQ(target.GetItem(0)->GetAsString(), "abc");
  EXPECT_EQ(target.GetItem(1)->GetAsInteger(), 7);
  EXPECT_TRUE(target.GetItem(2)->GetNull());
  EXPECT_EQ(target.Compare(*source, 0, false), 0);
  EXPECT_EQ(stream.GetRemaining(), 0);

  // Loading again reuses the values.
  stream.SetPosition(0);
  target.LoadFromStream(stream);
  EXPECT_EQ(target.Created, 3);
}

TEST(ValueList, LoadingFewerValuesFreesTheSurplusOfAnOwningList) {
  auto source = MakeList({I(1), I(2)});
  TBRNMemoryStream stream;
  source->SaveToStream(stream);
  auto target = MakeList({I(0), I(0), I(0), I(0), I(0)});
  stream.SetPosition(0);
  target->LoadFromStream(stream);  // LeakSanitizer shows the three surplus values
  EXPECT_EQ(target->GetCount(), 2);
  EXPECT_EQ(target->GetItem(1)->GetAsInteger(), 2);
  target->Add(NewValue(I(3)));
  EXPECT_EQ(target->GetItem(2)->GetAsInteger(), 3);
}

TEST(ValueList, HostileCountsRaiseTheConversionError) {
  const int32_t counts[] = {-1, INT32_MIN, 5, INT32_MAX};
  for (int32_t count : counts) {
    TBRNMemoryStream stream;
    stream.WriteInteger(count);
    stream.WriteBoolean(true);  // room for a single NULL value only
    stream.WriteBoolean(true);
    stream.SetPosition(0);
    auto list = MakeList({I(4)});
    EXPECT_EQ(CaughtError([&] { list->LoadFromStream(stream); }).ErrorCode, 1011) << count;
    EXPECT_EQ(list->GetCount(), 1) << count;
    EXPECT_EQ(list->GetItem(0)->GetAsInteger(), 4) << count;
  }
}

// Every count below is one the stream's bytes could hold (one NULL flag per
// value); a list reads no more values than it expects, or than the stated
// maximum, and creates none of them when it refuses.
TEST(ValueList, CountsBeyondWhatTheListExpectsAreRefused) {
  struct Case {
    const char* name;
    int32_t count;
    int32_t maxCount;  // negative: the list knows no count of its own
    bool refused;
  };
  const Case cases[] = {
      {"the stated maximum", MaxStreamValueCount, -1, false},
      {"one above the stated maximum", MaxStreamValueCount + 1, -1, true},
      {"four million NULL flags", 4000000, -1, true},
      {"the list's own count", 3, 3, false},
      {"one above the list's own count", 4, 3, true},
      {"a list that claims more than the maximum", MaxStreamValueCount + 1, INT32_MAX, true},
  };
  for (const Case& c : cases) {
    TBRNMemoryStream stream;
    stream.WriteInteger(c.count);
    std::vector<uint8_t> nullFlags(size_t(c.count), 1);
    stream.Write(nullFlags.data(), c.count);
    stream.SetPosition(0);
    CountedValues list(c.maxCount);
    if (c.refused) {
      EXPECT_EQ(CaughtError([&] { list.LoadFromStream(stream); }).ErrorCode, 1011) << c.name;
      EXPECT_EQ(list.Created, 0) << c.name;
      EXPECT_EQ(list.GetCount(), 0) << c.name;
      EXPECT_EQ(list.GetCapacity(), 0) << c.name;
    } else {
      list.LoadFromStream(stream);
      EXPECT_EQ(list.Created, c.count) << c.name;
      EXPECT_EQ(list.GetCount(), c.count) << c.name;
      EXPECT_EQ(stream.GetRemaining(), 0) << c.name;
    }
  }
}

TEST(KeyValues, StreamCarriesTheRowIDAfterTheValues) {
  TestKey source({T("k"), I(2)});
  source.SetRowID(513);
  TBRNMemoryStream stream;
  source.SaveToStream(stream);
  const std::vector<uint8_t> expected = {2, 0, 0, 0, 0, 1, 0, 0, 0, 'k', 0, 2, 0, 0, 0, 1, 2, 0, 0};
  EXPECT_EQ(StreamBytes(stream), expected);

  TestKey target({T(""), I(0)});
  stream.SetPosition(0);
  target.LoadFromStream(stream);
  EXPECT_EQ(target.GetRowID(), 513);
  EXPECT_EQ(target.Compare(source, 0, false), 0);
}

TEST(KeyValues, EmptySlotsOfANonOwningListAreSkippedWhenLoading) {
  TestKey source({I(1), I(2)});
  TBRNMemoryStream stream;
  source.SaveToStream(stream);
  TestKey target({});
  stream.SetPosition(0);
  target.LoadFromStream(stream);
  EXPECT_EQ(target.GetCount(), 2);
  EXPECT_EQ(target.GetItem(0), nullptr);
  EXPECT_EQ(target.GetItem(1), nullptr);
  // An empty slot travels as NULL.
  TBRNMemoryStream saved;
  target.SaveToStream(saved);
  EXPECT_EQ(StreamBytes(saved).size(), 4u + 2u + 4u);
}

TEST(ValueList, AssignCopiesDataOrReferences) {
  auto source = MakeList({T("x"), I(5), I(6)});

  // Owning: data into the existing items, as far as both lists reach.
  auto owning = MakeList({T(""), I(0)});
  owning->Assign(*source);
  EXPECT_EQ(owning->GetCount(), 2);
  EXPECT_EQ(owning->GetItem(0)->GetAsString(), "x");
  EXPECT_EQ(owning->GetItem(1)->GetAsInteger(), 5);
  EXPECT_NE(owning->GetItem(0), source->GetItem(0));

  // Non-owning: Source's references, and the row ID of a key source.
  TestKey key({I(1), I(2), I(3), I(4), I(5), I(6), I(7), I(8), I(9)});
  TestKey keySource({I(42)});
  keySource.SetRowID(17);
  key.Assign(keySource);
  EXPECT_EQ(key.GetCount(), 1);
  EXPECT_EQ(key.GetCapacity(), 8);
  EXPECT_EQ(key.GetItem(0), keySource.GetItem(0));
  EXPECT_EQ(key.GetRowID(), 17);
  key.Assign(*source);  // a plain list has no row ID to give
  EXPECT_EQ(key.GetCount(), 3);
  EXPECT_EQ(key.GetRowID(), 17);
}

}  // namespace
}  // namespace brn

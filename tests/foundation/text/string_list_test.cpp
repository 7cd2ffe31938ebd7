#include "foundation/text/string_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/core/memory_stream.h"

namespace brn {
namespace {

TEST(StringsListTest, CommaText) {
  struct Case {
    std::string text;
    std::vector<std::string> items;
  };
  const Case cases[] = {
      {"a,\"b,c\",d", {"a", "b,c", "d"}},
      {"", {}},
      {"a,b,", {"a", "b"}},
      {"a,,b", {"a", "", "b"}},
      {",", {""}},
      {" a , b", {" a ", " b"}},
      {"\"x\"\"y\"", {"x\"y"}},
      {"\"\"\"\"\"\"", {"\""}},  // four quotes inside a quoted item give one
      {"a\"\"b", {"a\"b"}},
      {"\"ab\"cd,e", {"ab", "cd", "e"}},
      {"\"open, end", {"open, end"}},
      {"\"\",x", {"", "x"}},
  };
  TBRNStringsList list;
  for (const Case& c : cases) {
    list.Add("old");
    list.SetCommaText(c.text);
    EXPECT_EQ(list.GetItems(), c.items) << c.text;
  }
}

TEST(StringsListTest, QuotedItemsReadBackFromCommaText) {
  const std::vector<std::string> items = {"plain", "with space", "a,b", "say \"hi\"",
                                          "",      "tab\there",  "x=1"};
  TBRNStringsList list;
  std::string text;
  for (const std::string& item : items) {
    if (!text.empty()) text += ',';
    text += list.QuoteItem(item);
  }
  EXPECT_EQ(list.QuoteItem("plain"), "plain");
  EXPECT_EQ(list.QuoteItem("say \"hi\""), "\"say \"\"hi\"\"\"");
  list.SetCommaText(text);
  // The empty item is written as nothing between two commas.
  EXPECT_EQ(list.GetItems(), items);
}

TEST(StringsListTest, NamesValuesAndLookup) {
  TBRNStringsList list;
  for (const char* item : {"x=1=2", "novalue", "=v", "Name=Value"}) list.Add(item);
  const char* names[] = {"x", "", "", "Name"};
  const char* values[] = {"1=2", "", "v", "Value"};
  for (int32_t i = 0; i < list.GetCount(); ++i) {
    EXPECT_EQ(list.GetName(i), names[i]) << i;
    EXPECT_EQ(list.GetValue(i), values[i]) << i;
  }
  EXPECT_EQ(list.IndexOf("NOVALUE"), 1);
  EXPECT_EQ(list.IndexOf("novalue  "), 1);
  EXPECT_EQ(list.IndexOf("x"), -1);
  EXPECT_EQ(list.GetText(), "x=1=2\r\nnovalue\r\n=v\r\nName=Value");
  EXPECT_THROW(list.GetName(4), std::out_of_range);
}

TEST(StringsListTest, CapacityGrowsInSixteensAndIsKeptByClear) {
  TBRNStringsList list;
  for (int i = 0; i < 17; ++i) list.Add("x");
  EXPECT_EQ(list.GetCapacity(), 32);
  list.Clear();
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_EQ(list.GetCapacity(), 32);
  const std::vector<std::string> lines = {"a", "b"};
  list.AssignStrings(lines);
  EXPECT_EQ(list.GetItems(), lines);
}

TEST(StringsListTest, StreamForm) {
  TBRNStringsList list;
  for (const char* item : {"ab", "", "c\r\nd"}) list.Add(item);
  TBRNMemoryStream stream;
  list.SaveToStream(stream);
  const uint8_t expected[] = {3, 0, 0, 0, 2, 0, 0, 0,   'a',  'b',  0,
                              0, 0, 0, 4, 0, 0, 0, 'c', '\r', '\n', 'd'};
  ASSERT_EQ(stream.GetSize(), int64_t(sizeof(expected)));
  EXPECT_EQ(std::vector<uint8_t>(stream.GetMemory(), stream.GetMemory() + sizeof(expected)),
            std::vector<uint8_t>(expected, expected + sizeof(expected)));

  TBRNStringsList loaded;
  loaded.Add("stale");
  stream.SetPosition(0);
  loaded.LoadFromStream(stream);
  EXPECT_EQ(loaded.GetItems(), list.GetItems());
  EXPECT_EQ(stream.GetPosition(), stream.GetSize());
}

TEST(StringsListTest, HostileStreamCountsNeitherCrashNorReserveMemory) {
  struct Case {
    int32_t count;
    size_t expectedItems;
  };
  const Case cases[] = {{INT32_MAX, 1}, {-5, 0}, {0, 0}};
  for (const Case& c : cases) {
    TBRNMemoryStream stream;
    stream.WriteInteger(c.count);
    stream.WriteString("only");
    stream.SetPosition(0);
    TBRNStringsList list;
    list.LoadFromStream(stream);
    EXPECT_EQ(list.GetItems().size(), c.expectedItems) << c.count;
    EXPECT_LE(list.GetCapacity(), 16) << c.count;
  }
}

}  // namespace
}  // namespace brn

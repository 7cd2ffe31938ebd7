#include "foundation/text/word_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "foundation/text/collation.h"

namespace brn {
namespace {

constexpr int32_t AnsiCI = 1 << 20;

std::vector<std::string> texts(const TBRNWordList& list) {
  std::vector<std::string> result;
  for (const TBRNWord& word : list.GetWords()) result.push_back(word.GetText());
  return result;
}

TEST(WordTest, WildcardFlags) {
  struct Case {
    const char* text;
    bool inner;
    bool trailing;
  };
  const Case cases[] = {{"ab*", false, true}, {"a*b*", true, true}, {"*", false, true},
                        {"a*b", true, false}, {"ab", false, false}, {"", false, false},
                        {"**", true, true}};
  TBRNWord word("x*y*");
  for (const Case& c : cases) {
    word.SetText(c.text);
    EXPECT_EQ(word.GetHasInnerWildcard(), c.inner) << c.text;
    EXPECT_EQ(word.GetHasTrailingWildcard(), c.trailing) << c.text;
  }
}

TEST(WordListTest, CollationDecidesWhatIsADuplicate) {
  TBRNWordList binary(BinaryCollation);
  binary.Add("apple");
  binary.Add("Apple");
  binary.Add("apple   ");
  EXPECT_EQ(texts(binary), (std::vector<std::string>{"Apple", "apple"}));

  TBRNWordList caseless(AnsiCI);
  caseless.Add("Apple");
  caseless.Add("apple");
  EXPECT_EQ(texts(caseless), std::vector<std::string>{"Apple"});
  EXPECT_TRUE(caseless.Contains("APPLE", 0));
}

TEST(WordListTest, FindReportsTheInsertionPoint) {
  TBRNWordList list(BinaryCollation);
  int32_t index = -1;
  EXPECT_EQ(list.Find("m", 0, index), 1);
  EXPECT_EQ(index, 0);

  for (const char* w : {"d", "b", "f"}) list.Add(w);
  struct Case {
    const char* word;
    int32_t result;
    int32_t index;
  };
  // The result is the last comparison made, not the side of the word.
  const Case cases[] = {{"a", 1, 0},  {"b", 0, 0}, {"c", -1, 1},
                        {"e", 1, 2}, {"f", 0, 2}, {"z", -1, 3}};
  for (const Case& c : cases) {
    index = -1;
    EXPECT_EQ(list.Find(c.word, 0, index), c.result) << c.word;
    EXPECT_EQ(index, c.index) << c.word;
  }
}

TEST(WordListTest, PartialLengthFindsPrefixes) {
  TBRNWordList list(BinaryCollation);
  for (const char* w : {"apple", "banana", "cherry"}) list.Add(w);
  EXPECT_TRUE(list.Contains("ban", 3));
  EXPECT_FALSE(list.Contains("ban", 0));
  EXPECT_FALSE(list.Contains("bax", 3));
}

TEST(WordListTest, StaysSortedAndUniqueUnderAnyInsertionOrder) {
  std::vector<std::string> words;
  for (int i = 0; i < 300; ++i) words.push_back("w" + std::to_string(i % 200));
  std::shuffle(words.begin(), words.end(), std::mt19937(7));
  TBRNWordList list(BinaryCollation);
  for (const std::string& w : words) list.Add(w);
  ASSERT_EQ(list.GetCount(), 200);
  EXPECT_EQ(list.GetCapacity(), 256);
  for (int32_t i = 1; i < list.GetCount(); ++i)
    EXPECT_LT(
        CompareCollated(BinaryCollation, list.GetWord(i - 1).GetText(), list.GetWord(i).GetText()),
        0);
}

TEST(WordListTest, DifferenceAndWildcards) {
  TBRNWordList mine(AnsiCI);
  for (const char* w : {"alpha", "beta*", "gamma", "de*lta"}) mine.Add(w);
  TBRNWordList other(AnsiCI);
  for (const char* w : {"GAMMA", "alpha", "omega"}) other.Add(w);

  auto rest = mine.Difference(other);
  EXPECT_EQ(rest->GetCollation(), AnsiCI);
  EXPECT_EQ(texts(*rest), (std::vector<std::string>{"beta*", "de*lta"}));
  EXPECT_TRUE(rest->HasInnerWildcard());
  EXPECT_TRUE(rest->HasTrailingWildcard());
  EXPECT_FALSE(other.HasInnerWildcard());
  EXPECT_FALSE(other.HasTrailingWildcard());

  mine.Clear();
  EXPECT_EQ(mine.GetCount(), 0);
  EXPECT_EQ(mine.GetCapacity(), 0);
}

}  // namespace
}  // namespace brn

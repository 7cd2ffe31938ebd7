#include "foundation/types/index_words.h"

#include <gtest/gtest.h>

#include <vector>

#include "foundation/text/collation.h"

namespace brn {
namespace {

constexpr int32_t CaseInsensitiveBinary = 1 << CaseInsensitiveBit;
constexpr int32_t EnglishUS = 1033;

std::vector<std::string> AllWords(int32_t collation, std::string_view text, bool searchMode) {
  std::vector<std::string> words;
  int32_t position = 1;
  for (;;) {
    std::string word = "stale";
    NextIndexWord(collation, text, position, word, searchMode);
    if (word.empty()) break;
    words.push_back(word);
  }
  EXPECT_EQ(position, int32_t(text.size()) + 1);
  return words;
}

using Words = std::vector<std::string>;

TEST(IndexWords, Splitting) {
  struct Case {
    int32_t collation;
    bool searchMode;
    const char* text;
    Words words;
  };
  const Case cases[] = {
      {CaseInsensitiveBinary,
       false,
       "The quick, brown fox12 jumps",
       {"quick", "brown", "fox", "jumps"}},
      {BinaryCollation,
       false,
       "The quick, brown fox12 jumps",
       {"The", "quick", "brown", "fox", "jumps"}},
      {BinaryCollation, true, "qu* fo", {"qu*"}},  // wildcard words skip the checks
      {BinaryCollation, false, "qu* fo", {}},
      {BinaryCollation, true, "fo*od", {"fo*od"}},
      {BinaryCollation, false, "fo*od", {}},  // "*" separates outside search mode
      {BinaryCollation, false, "abc123def a1b2c 12345", {"abcdef", "abc"}},
      {BinaryCollation, false, "\xC6r\xF8 na\xEFve\xD7test", {"\xC6r\xF8", "na\xEFve", "test"}},
      {BinaryCollation, false, "", {}},
      {BinaryCollation, false, " ,;-- ", {}},
      {CaseInsensitiveBinary, false, "ABOUT yours hereby HERS", {"HERS"}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(AllWords(c.collation, c.text, c.searchMode), c.words) << c.text;
}

TEST(IndexWords, PositionMovesPastTheEndingSeparator) {
  int32_t position = 1;
  std::string word;
  NextIndexWord(BinaryCollation, "ab the, quick", position, word, false);
  EXPECT_EQ(word, "the");
  EXPECT_EQ(position, 8);  // after the comma
  NextIndexWord(BinaryCollation, "ab the, quick", position, word, false);
  EXPECT_EQ(word, "quick");
  EXPECT_EQ(position, 14);
  NextIndexWord(BinaryCollation, "ab the, quick", position, word, false);
  EXPECT_EQ(word, "");
  position = 4;  // starting inside the text
  NextIndexWord(BinaryCollation, "xx brown", position, word, false);
  EXPECT_EQ(word, "brown");
}

TEST(IndexWords, StopWordTable) {
  EXPECT_EQ(StopWords[0], "ABOUT");
  EXPECT_EQ(StopWords[45], "HERS");
  EXPECT_EQ(StopWords[46], "HEREBY");
  EXPECT_EQ(StopWords[StopWordCount - 1], "YOURS");
  // Apart from HERS the table is in ascending byte order, so the binary
  // search finds every other entry.
  for (int32_t i = 0; i < StopWordCount; ++i) {
    if (i > 0 && i != 45 && i != 46) {
      EXPECT_LT(StopWords[i - 1], StopWords[i]) << i;
    }
    EXPECT_EQ(IsStopWord(BinaryCollation, StopWords[i]), StopWords[i] != "HERS") << StopWords[i];
  }
}

TEST(IsStopWord, CollationDecidesCase) {
  struct Case {
    int32_t collation;
    const char* word;
    bool stop;
  };
  const Case cases[] = {
      {BinaryCollation, "HEREBY", true},
      {BinaryCollation, "YOURS", true},
      {BinaryCollation, "HERS", false},
      {BinaryCollation, "the", false},
      {BinaryCollation, "THE", true},
      {CaseInsensitiveBinary, "the", true},
      {CaseInsensitiveBinary, "Hereby", true},
      {CaseInsensitiveBinary, "hers", false},
      {BinaryCollation, "THEE", false},
      {BinaryCollation, "", false},
      {BinaryCollation, "ZZZ", false},
      {BinaryCollation, "AAA", false},
      {EnglishUS, "THE", true},
      {EnglishUS, "the", false},
      {EnglishUS | CaseInsensitiveBinary, "the", true},
      {EnglishUS, "HERS", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsStopWord(c.collation, c.word), c.stop) << c.word;
}

}  // namespace
}  // namespace brn

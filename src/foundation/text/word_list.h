#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace brn {

// A word of a text index or CONTAINS search; "*" is its wildcard.
class TBRNWord {
 public:
  TBRNWord() = default;
  explicit TBRNWord(std::string_view text) { SetText(text); }

  // Stores the text and works out both wildcard flags.
  void SetText(std::string_view text);
  const std::string& GetText() const { return Text; }
  // "*" somewhere before the last character.
  bool GetHasInnerWildcard() const { return HasInnerWildcard; }
  // "*" as the last character.
  bool GetHasTrailingWildcard() const { return HasTrailingWildcard; }

 private:
  std::string Text;
  bool HasInnerWildcard = false;
  bool HasTrailingWildcard = false;
};

// The sorted, duplicate-free word list of text indexes: words ascend under
// the list's collation and no two compare equal. The capacity grows in steps
// of 64 words.
class TBRNWordList {
 public:
  explicit TBRNWordList(int32_t collation);

  int32_t GetCollation() const { return Collation; }
  int32_t GetCount() const { return int32_t(Words.size()); }
  int32_t GetCapacity() const { return Capacity; }
  const TBRNWord& GetWord(int32_t index) const { return Words.at(size_t(index)); }
  const std::vector<TBRNWord>& GetWords() const { return Words; }

  // Binary search. Returns the last comparison (0 = found; -1 when the word
  // belongs after the last compared entry, 1 before it) and in index the
  // position found or the insertion point. partialLength > 0 compares only
  // that many leading characters.
  int32_t Find(std::string_view word, int32_t partialLength, int32_t& index) const;
  // Inserts the word at its sorted place unless an equal one is present.
  void Add(std::string_view word);
  bool Contains(std::string_view word, int32_t partialLength) const;
  // The words of this list that are not in other, under this list's
  // collation.
  std::unique_ptr<TBRNWordList> Difference(const TBRNWordList& other) const;
  bool HasInnerWildcard() const;
  bool HasTrailingWildcard() const;

  void Clear();
  void SetCapacity(int32_t count);
  // Inserts at index without checking the order; the caller keeps it sorted.
  void InsertWord(int32_t index, std::string_view word);

 private:
  int32_t Collation;
  int32_t Capacity = 0;
  std::vector<TBRNWord> Words;
};

}  // namespace brn

#include "foundation/text/word_list.h"

#include <algorithm>
#include <stdexcept>

#include "foundation/text/collation.h"
#include "foundation/core/numeric_helpers.h"

namespace brn {

void TBRNWord::SetText(std::string_view text) {
  Text = text;
  HasInnerWildcard = false;
  HasTrailingWildcard = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '*') continue;
    if (i + 1 == text.size())
      HasTrailingWildcard = true;
    else
      HasInnerWildcard = true;
  }
}

TBRNWordList::TBRNWordList(int32_t collation) : Collation(collation) {}

int32_t TBRNWordList::Find(std::string_view word, int32_t partialLength, int32_t& index) const {
  if (Words.empty()) {
    index = 0;
    return 1;
  }
  int32_t low = 0;
  int32_t high = GetCount() - 1;
  int32_t mid = 0;
  int32_t result = 0;
  while (low <= high) {
    mid = low + (high - low) / 2;
    result = CompareCollated(Collation, Words[size_t(mid)].GetText(), word, false, partialLength);
    if (result < 0)
      low = mid + 1;
    else if (result > 0)
      high = mid - 1;
    else
      break;
  }
  index = result < 0 ? mid + 1 : mid;
  return result;
}

void TBRNWordList::Add(std::string_view word) {
  int32_t index = 0;
  if (Find(word, 0, index) != 0) InsertWord(index, word);
}

bool TBRNWordList::Contains(std::string_view word, int32_t partialLength) const {
  int32_t index = 0;
  return Find(word, partialLength, index) == 0;
}

std::unique_ptr<TBRNWordList> TBRNWordList::Difference(const TBRNWordList& other) const {
  auto result = std::make_unique<TBRNWordList>(Collation);
  // A subsequence of a sorted list is sorted: append in order.
  for (const TBRNWord& word : Words)
    if (!other.Contains(word.GetText(), 0)) result->InsertWord(result->GetCount(), word.GetText());
  return result;
}

bool TBRNWordList::HasInnerWildcard() const {
  return std::any_of(Words.begin(), Words.end(),
                     [](const TBRNWord& w) { return w.GetHasInnerWildcard(); });
}

bool TBRNWordList::HasTrailingWildcard() const {
  return std::any_of(Words.begin(), Words.end(),
                     [](const TBRNWord& w) { return w.GetHasTrailingWildcard(); });
}

void TBRNWordList::Clear() {
  Words.clear();
  Words.shrink_to_fit();
  Capacity = 0;
}

void TBRNWordList::SetCapacity(int32_t count) {
  if (count < 0) throw std::invalid_argument("TBRNWordList: negative capacity");
  int32_t capacity = RoundUpToMultiple(count, 64);
  if (capacity <= Capacity) return;
  Words.reserve(size_t(capacity));
  Capacity = capacity;
}

void TBRNWordList::InsertWord(int32_t index, std::string_view word) {
  if (index < 0 || index > GetCount()) throw std::out_of_range("TBRNWordList: insert position");
  if (GetCount() == Capacity) SetCapacity(GetCount() + 1);
  Words.insert(Words.begin() + index, TBRNWord(word));
}

}  // namespace brn

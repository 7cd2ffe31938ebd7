#include "foundation/core/bitmap.h"

#include <algorithm>
#include <bit>
#include <string>

#include "foundation/core/numeric_helpers.h"

namespace brn {

namespace {

// The low `bits` bits of a word (bits in 1..31).
inline uint32_t LowMask(int32_t bits) {
  return (1u << bits) - 1u;
}

}  // namespace

void TBRNBitmap::ThrowOutOfRange(int32_t N) const {
  throw std::out_of_range("TBRNBitmap: bit " + std::to_string(N) + " outside 1.." +
                          std::to_string(Size));
}

void TBRNBitmap::ClearTail() {
  if (TailBits != 0) Words[WordCount - 1] &= LowMask(TailBits);
}

void TBRNBitmap::SetSize(int32_t Bits) {
  if (Bits == Size) return;
  if (Bits < 0) throw std::invalid_argument("TBRNBitmap.SetSize: negative size");
  int32_t words = static_cast<int32_t>((int64_t{Bits} + 31) / 32);
  SetWordCount(words);
  Size = Bits;
  TailBits = Bits % 32;
  RoundedSize = int64_t{words} * 32;
  ClearTail();
}

void TBRNBitmap::SetWordCount(int32_t Count) {
  if (Count < 0) throw std::invalid_argument("TBRNBitmap.SetWordCount: negative count");
  int32_t old = WordCount;
  SetWordCapacity(Count);
  // Words dropped earlier may still hold bits while the capacity stayed.
  if (Count > old) std::fill(Words + old, Words + Count, 0u);
  WordCount = Count;
}

void TBRNBitmap::SetWordCapacity(int32_t Count) {
  int32_t capacity = RoundUpToMultiple(Count, 8);
  if (capacity == WordCapacity) return;
  int32_t kept = MinInteger(capacity, WordCapacity);
  uint32_t* words = capacity <= InlineWordCount ? InlineWords : new uint32_t[capacity];
  if (words != Words) std::copy_n(Words, kept, words);
  std::fill(words + kept, words + capacity, 0u);
  if (Words != InlineWords) delete[] Words;
  Words = words;
  WordCapacity = capacity;
  if (WordCount > capacity) WordCount = capacity;
}

void TBRNBitmap::TakeFrom(TBRNBitmap& Other) noexcept {
  if (Other.Words == Other.InlineWords) {
    std::copy_n(Other.InlineWords, InlineWordCount, InlineWords);
    Words = InlineWords;
  } else {
    Words = Other.Words;
  }
  WordCount = Other.WordCount;
  WordCapacity = Other.WordCapacity;
  Size = Other.Size;
  RoundedSize = Other.RoundedSize;
  TailBits = Other.TailBits;
  Other.Words = Other.InlineWords;
  Other.WordCount = Other.WordCapacity = Other.Size = Other.TailBits = 0;
  Other.RoundedSize = 0;
}

int32_t TBRNBitmap::CountSet() const {
  int32_t count = 0;
  const uint32_t* words = Words;
  int32_t wordCount = WordCount;
  for (int32_t i = 0; i < wordCount; ++i) count += std::popcount(words[i]);
  return count;
}

bool TBRNBitmap::FindNextSet(int32_t& N) const {
  int32_t from = N < 0 ? 0 : N;  // 0-based index of the first candidate
  if (from >= Size) return false;
  const uint32_t* words = Words;
  int32_t w = from >> 5;
  uint32_t word = words[w] & (~0u << (from & 31));
  while (word == 0) {
    if (++w >= WordCount) return false;
    word = words[w];
  }
  N = w * 32 + std::countr_zero(word) + 1;
  return true;
}

bool TBRNBitmap::FindNextClear(int32_t& N) const {
  int32_t from = N < 0 ? 0 : N;
  if (from >= Size) return false;
  const uint32_t* words = Words;
  int32_t w = from >> 5;
  uint32_t word = ~words[w] & (~0u << (from & 31));
  while (word == 0) {
    if (++w >= WordCount) return false;
    word = ~words[w];
  }
  int64_t index = int64_t{w} * 32 + std::countr_zero(word);
  if (index >= Size) return false;  // only the clear tail beyond Size was left
  N = static_cast<int32_t>(index + 1);
  return true;
}

bool TBRNBitmap::FindPriorSet(int32_t& N) const {
  int64_t end = std::min<int64_t>(int64_t{N} - 1, Size);  // candidates are 0..end-1
  if (end <= 0) return false;
  const uint32_t* words = Words;
  int32_t last = static_cast<int32_t>(end - 1);
  int32_t w = last >> 5;
  uint32_t word = words[w] & ((2u << (last & 31)) - 1u);
  while (word == 0) {
    if (w == 0) return false;
    word = words[--w];
  }
  N = w * 32 + (31 - std::countl_zero(word)) + 1;
  return true;
}

bool TBRNBitmap::CountSetRun(int32_t& N, int32_t& Count, int32_t Limit) const {
  int64_t pos = N < 0 ? 0 : N;  // 0-based index of the next bit
  int64_t end = int64_t{WordCount} * 32;
  bool counted = false;
  const uint32_t* words = Words;
  while (Count < Limit && pos < end) {
    int32_t shift = static_cast<int32_t>(pos & 31);
    int32_t ones = std::countr_one(words[pos >> 5] >> shift);
    if (ones == 0) break;
    int32_t take = MinInteger(ones, Limit - Count);
    Count += take;
    pos += take;
    N = static_cast<int32_t>(pos);
    counted = true;
    if (ones < 32 - shift) break;  // a clear bit ends the run in this word
  }
  return counted;
}

void TBRNBitmap::AndBitmap(const TBRNBitmap& Other) {
  int32_t wordCount = WordCount;
  int32_t common = MinInteger(wordCount, Other.WordCount);
  uint32_t* words = Words;
  const uint32_t* other = Other.Words;
  for (int32_t i = 0; i < common; ++i) words[i] &= other[i];
  std::fill(words + common, words + wordCount, 0u);
}

void TBRNBitmap::OrBitmap(const TBRNBitmap& Other) {
  int32_t common = MinInteger(WordCount, Other.WordCount);
  uint32_t* words = Words;
  const uint32_t* other = Other.Words;
  for (int32_t i = 0; i < common; ++i) words[i] |= other[i];
  ClearTail();
}

void TBRNBitmap::Invert() {
  uint32_t* words = Words;
  int32_t wordCount = WordCount;
  for (int32_t i = 0; i < wordCount; ++i) words[i] = ~words[i];
  ClearTail();
}

void TBRNBitmap::ClearAll() {
  std::fill(Words, Words + WordCount, 0u);
}

void TBRNBitmap::SetAll() {
  std::fill(Words, Words + WordCount, ~0u);
  ClearTail();
}

void TBRNBitmap::Assign(const TBRNBitmap& Other) {
  if (&Other == this) return;
  SetSize(Other.Size);
  std::copy_n(Other.Words, WordCount, Words);
}

}  // namespace brn

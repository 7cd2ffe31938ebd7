#pragma once

#include <cstdint>
#include <stdexcept>

namespace brn {

// A dense set of 1-based bit numbers 1..Size over an array of 32-bit words:
// bit b is bit (b - 1) mod 32 of word (b - 1) div 32. Bits beyond Size in the
// last word are always clear; every search, count and set operation relies on
// that. Backs the handle tables and each node of the sparse bitmap.
//
// Up to eight words (256 bits: every node of the sparse bitmap, a character
// set) live inside the object itself, so such a bitmap costs no allocation and
// no extra pointer hop.
class TBRNBitmap {
 public:
  TBRNBitmap() = default;
  TBRNBitmap(const TBRNBitmap& Other) { Assign(Other); }
  TBRNBitmap(TBRNBitmap&& Other) noexcept { TakeFrom(Other); }
  TBRNBitmap& operator=(const TBRNBitmap& Other) {
    Assign(Other);
    return *this;
  }
  TBRNBitmap& operator=(TBRNBitmap&& Other) noexcept {
    if (&Other != this) {
      ReleaseWords();
      TakeFrom(Other);
    }
    return *this;
  }
  ~TBRNBitmap() { ReleaseWords(); }

  static constexpr int32_t InlineWordCount = 8;

  uint32_t* Words = InlineWords;  // WordCapacity words, inline up to eight
  int32_t WordCount = 0;          // words in use = ceil(Size / 32)
  int32_t WordCapacity = 0;       // words allocated, a multiple of 8
  int32_t Size = 0;               // number of valid bits
  int64_t RoundedSize = 0;        // Size rounded up to a multiple of 32 (2^31 fits)
  int32_t TailBits = 0;           // Size mod 32, 0 when the last word is full

  // Nothing when unchanged; new words read as clear, bits beyond the new size
  // are cleared.
  void SetSize(int32_t Bits);
  void SetWordCount(int32_t Count);
  // Capacity is Count rounded up to 8 words; a new capacity reallocates, also
  // downwards, and added words are zero.
  void SetWordCapacity(int32_t Count);

  // N must lie in 1..Size (std::out_of_range otherwise).
  bool IsBitSet(int32_t N) const {
    uint32_t index = CheckedIndex(N);
    return (Words[index >> 5] >> (index & 31)) & 1u;
  }
  void SetBit(int32_t N) {
    uint32_t index = CheckedIndex(N);
    Words[index >> 5] |= 1u << (index & 31);
  }
  void ClearBit(int32_t N) {
    uint32_t index = CheckedIndex(N);
    Words[index >> 5] &= ~(1u << (index & 31));
  }

  int32_t CountSet() const;
  // The first set bit after N (N = 0 searches from the start); false when
  // there is none up to Size, N unchanged then.
  bool FindNextSet(int32_t& N) const;
  // The first clear bit after N that is at most Size.
  bool FindNextClear(int32_t& N) const;
  // The last set bit before N (N up to Size + 1); false when N <= 1 or none.
  bool FindPriorSet(int32_t& N) const;
  // Walks the run of consecutive set bits after N: N becomes the last bit
  // counted and Count grows by the run's length, never beyond Limit. true when
  // at least one bit was counted.
  bool CountSetRun(int32_t& N, int32_t& Count, int32_t Limit) const;

  // Combine with Other over bits 1..Size; Other's bits beyond its own size
  // count as clear, so both sizes need not agree.
  void AndBitmap(const TBRNBitmap& Other);
  void OrBitmap(const TBRNBitmap& Other);
  void Invert();
  void ClearAll();
  void SetAll();
  void Assign(const TBRNBitmap& Other);

 private:
  uint32_t InlineWords[InlineWordCount] = {};

  void ReleaseWords() noexcept {
    if (Words != InlineWords) delete[] Words;
    Words = InlineWords;
  }
  void TakeFrom(TBRNBitmap& Other) noexcept;
  uint32_t CheckedIndex(int32_t N) const {
    uint32_t index = static_cast<uint32_t>(N) - 1u;
    if (index >= static_cast<uint32_t>(Size)) ThrowOutOfRange(N);
    return index;
  }
  [[noreturn]] void ThrowOutOfRange(int32_t N) const;
  void ClearTail();
};

}  // namespace brn

#pragma once

#include <cstddef>
#include <cstdint>

namespace brn {

// A set of single-byte (Windows-1252) characters. The set lives inline in
// four words so that the scanners can test membership without touching the
// heap, and so that the global classes below are built at compile time and
// are ready before any other static initialiser runs.
class TBRNCharSet {
 public:
  constexpr TBRNCharSet() = default;

  constexpr void Include(unsigned char c) { Bits[c >> 6] |= uint64_t(1) << (c & 63); }
  // Inclusive range; nothing when last < first.
  constexpr void IncludeRange(unsigned char first, unsigned char last) {
    for (int c = first; c <= last; ++c) Include(static_cast<unsigned char>(c));
  }
  constexpr bool Contains(unsigned char c) const { return (Bits[c >> 6] >> (c & 63)) & 1; }

 private:
  uint64_t Bits[4] = {0, 0, 0, 0};
};

namespace char_classes_detail {

struct CharRange {
  unsigned char First;
  unsigned char Last;
};

template <size_t N>
constexpr TBRNCharSet withRanges(TBRNCharSet set, const CharRange (&ranges)[N]) {
  for (const CharRange& range : ranges) set.IncludeRange(range.First, range.Last);
  return set;
}

template <size_t N>
constexpr TBRNCharSet fromRanges(const CharRange (&ranges)[N]) {
  return withRanges(TBRNCharSet(), ranges);
}

}  // namespace char_classes_detail

// The engine's global character classes.
inline constexpr TBRNCharSet DateFormatChars = char_classes_detail::fromRanges(
    {{'D', 'D'}, {'M', 'M'}, {'Y', 'Y'}, {'d', 'd'}, {'m', 'm'}, {'y', 'y'}});
inline constexpr TBRNCharSet TimeFormatChars = char_classes_detail::fromRanges({{'H', 'H'},
                                                                                {'M', 'N'},
                                                                                {'S', 'S'},
                                                                                {'Z', 'Z'},
                                                                                {'h', 'h'},
                                                                                {'m', 'n'},
                                                                                {'s', 's'},
                                                                                {'z', 'z'}});
inline constexpr TBRNCharSet AmPmFormatChars = char_classes_detail::fromRanges(
    {{'A', 'A'}, {'M', 'M'}, {'P', 'P'}, {'a', 'a'}, {'m', 'm'}, {'p', 'p'}});
inline constexpr TBRNCharSet BlankChars = char_classes_detail::fromRanges({{0, 32}});
// A..Z, a..z and the Windows-1252 letters beyond them.
inline constexpr TBRNCharSet LetterChars = char_classes_detail::fromRanges({{'A', 'Z'},
                                                                            {'a', 'z'},
                                                                            {131, 131},
                                                                            {138, 138},
                                                                            {140, 140},
                                                                            {142, 142},
                                                                            {154, 154},
                                                                            {156, 156},
                                                                            {158, 159},
                                                                            {192, 214},
                                                                            {216, 246},
                                                                            {248, 255}});
inline constexpr TBRNCharSet IdentifierStartChars =
    char_classes_detail::withRanges(LetterChars, {{'_', '_'}});
inline constexpr TBRNCharSet IdentifierChars = char_classes_detail::withRanges(
    IdentifierStartChars, {{' ', ' '}, {'(', ')'}, {'-', '.'}, {'0', '9'}});
inline constexpr TBRNCharSet LowerCaseChars =
    char_classes_detail::fromRanges({{'a', 'z'}, {224, 246}, {248, 254}});
inline constexpr TBRNCharSet UpperCaseChars =
    char_classes_detail::fromRanges({{'A', 'Z'}, {192, 214}, {216, 222}});
inline constexpr TBRNCharSet AsciiAlphaNumChars =
    char_classes_detail::fromRanges({{'0', '9'}, {'A', 'Z'}, {'a', 'z'}});
inline constexpr TBRNCharSet DigitChars = char_classes_detail::fromRanges({{'0', '9'}});
// Every byte that is neither a letter nor a digit.
inline constexpr TBRNCharSet WordSeparatorChars = char_classes_detail::fromRanges({{0, 47},
                                                                                   {58, 64},
                                                                                   {91, 96},
                                                                                   {123, 130},
                                                                                   {132, 137},
                                                                                   {139, 139},
                                                                                   {141, 141},
                                                                                   {143, 153},
                                                                                   {155, 155},
                                                                                   {157, 157},
                                                                                   {160, 191},
                                                                                   {215, 215},
                                                                                   {247, 247}});
inline constexpr TBRNCharSet LineBreakChars = char_classes_detail::fromRanges({{10, 10}, {13, 13}});
inline constexpr TBRNCharSet ExponentChars =
    char_classes_detail::fromRanges({{'E', 'E'}, {'e', 'e'}});
inline constexpr TBRNCharSet SignChars = char_classes_detail::fromRanges({{'+', '+'}, {'-', '-'}});
inline constexpr TBRNCharSet FormatSpecifierChars =
    char_classes_detail::fromRanges({{'S', 'S'}, {'s', 's'}});
inline constexpr TBRNCharSet CommaTextDelimiters =
    char_classes_detail::withRanges(BlankChars, {{',', ','}});

}  // namespace brn

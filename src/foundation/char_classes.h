#pragma once

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

// The letters outside A-Z and a-z that the engine treats as letters.
constexpr void includeExtendedLetters(TBRNCharSet& set) {
  constexpr unsigned char singles[] = {131, 138, 140, 142, 154, 156};
  for (unsigned char c : singles) set.Include(c);
  set.IncludeRange(158, 159);
  set.IncludeRange(192, 214);
  set.IncludeRange(216, 246);
  set.IncludeRange(248, 255);
}

constexpr TBRNCharSet fromText(const char* members) {
  TBRNCharSet set;
  for (const char* p = members; *p; ++p) set.Include(static_cast<unsigned char>(*p));
  return set;
}

constexpr TBRNCharSet makeBlankChars() {
  TBRNCharSet set;
  set.IncludeRange(0, 32);
  return set;
}

constexpr TBRNCharSet makeIdentifierStartChars() {
  TBRNCharSet set;
  set.Include('_');
  set.IncludeRange('A', 'Z');
  set.IncludeRange('a', 'z');
  includeExtendedLetters(set);
  return set;
}

constexpr TBRNCharSet makeIdentifierChars() {
  TBRNCharSet set = makeIdentifierStartChars();
  constexpr char punctuation[] = {' ', '-', '.', '(', ')'};
  for (char c : punctuation) set.Include(static_cast<unsigned char>(c));
  set.IncludeRange('0', '9');
  return set;
}

constexpr TBRNCharSet makeLowerCaseChars() {
  TBRNCharSet set;
  set.IncludeRange('a', 'z');
  set.IncludeRange(224, 246);
  set.IncludeRange(248, 254);
  return set;
}

constexpr TBRNCharSet makeUpperCaseChars() {
  TBRNCharSet set;
  set.IncludeRange('A', 'Z');
  set.IncludeRange(192, 214);
  set.IncludeRange(216, 222);
  return set;
}

constexpr TBRNCharSet makeAsciiAlphaNumChars() {
  TBRNCharSet set;
  set.IncludeRange('A', 'Z');
  set.IncludeRange('a', 'z');
  set.IncludeRange('0', '9');
  return set;
}

constexpr TBRNCharSet makeDigitChars() {
  TBRNCharSet set;
  set.IncludeRange('0', '9');
  return set;
}

constexpr TBRNCharSet makeLetterChars() {
  TBRNCharSet set;
  set.IncludeRange('A', 'Z');
  set.IncludeRange('a', 'z');
  includeExtendedLetters(set);
  return set;
}

// Every byte that is neither a letter nor a digit.
constexpr TBRNCharSet makeWordSeparatorChars() {
  TBRNCharSet set;
  set.IncludeRange(0, 47);
  set.IncludeRange(58, 64);
  set.IncludeRange(91, 96);
  set.IncludeRange(123, 130);
  set.IncludeRange(132, 137);
  constexpr unsigned char singles[] = {139, 141, 155, 157, 215, 247};
  for (unsigned char c : singles) set.Include(c);
  set.IncludeRange(143, 153);
  set.IncludeRange(160, 191);
  return set;
}

constexpr TBRNCharSet makeCommaTextDelimiters() {
  TBRNCharSet set = makeBlankChars();
  set.Include(',');
  return set;
}

}  // namespace char_classes_detail

// The engine's global character classes.
inline constexpr TBRNCharSet DateFormatChars = char_classes_detail::fromText("dDmMyY");
inline constexpr TBRNCharSet TimeFormatChars = char_classes_detail::fromText("hHmMsSzZnN");
inline constexpr TBRNCharSet AmPmFormatChars = char_classes_detail::fromText("aAmMpP");
inline constexpr TBRNCharSet BlankChars = char_classes_detail::makeBlankChars();
inline constexpr TBRNCharSet IdentifierChars = char_classes_detail::makeIdentifierChars();
inline constexpr TBRNCharSet IdentifierStartChars = char_classes_detail::makeIdentifierStartChars();
inline constexpr TBRNCharSet LowerCaseChars = char_classes_detail::makeLowerCaseChars();
inline constexpr TBRNCharSet UpperCaseChars = char_classes_detail::makeUpperCaseChars();
inline constexpr TBRNCharSet AsciiAlphaNumChars = char_classes_detail::makeAsciiAlphaNumChars();
inline constexpr TBRNCharSet DigitChars = char_classes_detail::makeDigitChars();
inline constexpr TBRNCharSet LetterChars = char_classes_detail::makeLetterChars();
inline constexpr TBRNCharSet WordSeparatorChars = char_classes_detail::makeWordSeparatorChars();
inline constexpr TBRNCharSet LineBreakChars = char_classes_detail::fromText("\n\r");
inline constexpr TBRNCharSet ExponentChars = char_classes_detail::fromText("Ee");
inline constexpr TBRNCharSet SignChars = char_classes_detail::fromText("+-");
inline constexpr TBRNCharSet FormatSpecifierChars = char_classes_detail::fromText("sS");
inline constexpr TBRNCharSet CommaTextDelimiters = char_classes_detail::makeCommaTextDelimiters();

}  // namespace brn

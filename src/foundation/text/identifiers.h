#pragma once

#include <string>
#include <string_view>

#include "foundation/text/char_classes.h"

namespace brn {

// A valid name starts with a letter or "_" and goes on with letters, digits,
// "_", blanks, "-", ".", "(" or ")". The empty name is not valid.
bool IsValidIdentifier(std::string_view name);
// The name made valid: an invalid first character becomes "_", then every
// other invalid character becomes "_". An empty name stays empty.
std::string MakeIdentifier(std::string_view name);

// One-character tests of the scanners.
inline bool IsIdentStartChar(char c) {
  return IdentifierStartChars.Contains(static_cast<unsigned char>(c));
}
inline bool IsDigitChar(char c) {
  return DigitChars.Contains(static_cast<unsigned char>(c));
}
inline bool IsAlphaNumChar(char c) {
  return IsIdentStartChar(c) || IsDigitChar(c);
}
inline bool IsBlankChar(char c) {
  return BlankChars.Contains(static_cast<unsigned char>(c));
}
inline bool IsLineBreakChar(char c) {
  return LineBreakChars.Contains(static_cast<unsigned char>(c));
}
inline bool IsSignChar(char c) {
  return SignChars.Contains(static_cast<unsigned char>(c));
}
inline bool IsExponentChar(char c) {
  return ExponentChars.Contains(static_cast<unsigned char>(c));
}

}  // namespace brn

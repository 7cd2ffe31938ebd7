#include "foundation/text/collation.h"

#include <array>
#include <stdexcept>

#include "foundation/text/string_helpers.h"
#include "platform/locale_compare.h"

namespace brn {

namespace {

constexpr std::array<unsigned char, 256> makeUpperTable() {
  std::array<unsigned char, 256> table{};
  for (int c = 0; c < 256; ++c) {
    int mapped = c;
    if ((c >= 'a' && c <= 'z') || (c >= 224 && c <= 246) || (c >= 248 && c <= 254)) mapped = c - 32;
    if (c == 154) mapped = 138;
    if (c == 156) mapped = 140;
    if (c == 158) mapped = 142;
    if (c == 255) mapped = 159;
    table[c] = static_cast<unsigned char>(mapped);
  }
  return table;
}

constexpr std::array<unsigned char, 256> makeLowerTable() {
  std::array<unsigned char, 256> table{};
  for (int c = 0; c < 256; ++c) {
    int mapped = c;
    if ((c >= 'A' && c <= 'Z') || (c >= 192 && c <= 214) || (c >= 216 && c <= 222)) mapped = c + 32;
    if (c == 138) mapped = 154;
    if (c == 140) mapped = 156;
    if (c == 142) mapped = 158;
    if (c == 159) mapped = 255;
    table[c] = static_cast<unsigned char>(mapped);
  }
  return table;
}

constexpr std::array<unsigned char, 256> upperTable = makeUpperTable();
constexpr std::array<unsigned char, 256> lowerTable = makeLowerTable();

std::string mapBinary(std::string_view s, const std::array<unsigned char, 256>& table) {
  std::string result(s);
  for (char& c : result) c = char(table[static_cast<unsigned char>(c)]);
  return result;
}

constexpr const char* collationSuffixes[] = {"_CI", "_AI", "_KI", "_WI"};

// Removes every occurrence of an upper-case suffix from text, ignoring case;
// false when there is none.
bool removeSuffix(std::string& text, std::string_view suffix) {
  std::string upper = UpperCaseBinary(text);
  size_t found = upper.find(suffix);
  if (found == std::string::npos) return false;
  std::string result;
  size_t from = 0;
  while (found != std::string::npos) {
    result.append(text, from, found - from);
    from = found + suffix.size();
    found = upper.find(suffix, from);
  }
  result.append(text, from, std::string::npos);
  text = std::move(result);
  return true;
}

std::string mapCollated(int32_t collation, std::string_view s, bool upper) {
  int32_t lcid = collation;
  ClearCollationFlags(lcid);
  if (lcid != 0) {
    std::string result(s.size(), '\0');
    uint32_t flags = upper ? MapUpperCase : (MapLowerCase | MapLinguisticCasing);
    if (LocaleMapString(uint32_t(lcid), flags, s.data(), int32_t(s.size()), result.data()))
      return result;
  }
  // The binary rules also stand in for a locale the platform cannot map.
  return upper ? UpperCaseBinary(s) : LowerCaseBinary(s);
}

int32_t checkedLength(size_t length) {
  if (length > size_t(INT32_MAX)) throw std::length_error("Text too long to compare");
  return int32_t(length);
}

// The locale comparison's flags for the collation flag bits 20-23 (the
// index), beside the string sort that every collated comparison uses.
constexpr std::array<uint32_t, 16> makeLocaleFlags() {
  std::array<uint32_t, 16> table{};
  for (uint32_t bits = 0; bits < 16; ++bits) {
    uint32_t flags = SortStringSort;
    if (bits & 1) flags |= NormIgnoreCase;
    if (bits & 2) flags |= NormIgnoreNonSpace;
    if (bits & 4) flags |= NormIgnoreKanaType;
    if (bits & 8) flags |= NormIgnoreWidth;
    table[bits] = flags;
  }
  return table;
}

constexpr std::array<uint32_t, 16> localeFlags = makeLocaleFlags();

// Both public forms share this body, so that neither pays a second call on
// the way to the locale layer.
[[gnu::always_inline]] inline int32_t compareCollated(int32_t collation, const char* text1,
                                                      int32_t length1, const char* text2,
                                                      int32_t length2, bool ignoreCase,
                                                      int32_t partialLength) {
  if (length1 < 0 || length2 < 0) throw std::invalid_argument("Negative text length");
  const uint32_t bits = uint32_t(collation);
  if (bits & (1u << CaseInsensitiveBit)) ignoreCase = true;
  const uint32_t lcid = bits & ~uint32_t(CollationFlagMask);
  if (lcid != 0) {
    const uint32_t flags =
        localeFlags[(bits >> CaseInsensitiveBit) & 0xF] | (ignoreCase ? NormIgnoreCase : 0);
    int32_t count1, count2;
    if (partialLength > 0) {
      count1 = length1 < partialLength ? length1 : partialLength;
      count2 = length2 < partialLength ? length2 : partialLength;
    } else {
      count1 = TrimmedCount(text1, length1);
      count2 = TrimmedCount(text2, length2);
    }
    int32_t result = LocaleCompareString(lcid, flags, text1, count1, text2, count2);
    if (result != 0) return result - CompareEqual;
    // A locale the platform cannot compare falls back to the byte order, so
    // that callers always see -1, 0 or 1; the texts are cut already.
    return CompareBuffersBinary(text1, count1, text2, count2, ignoreCase, partialLength);
  }
  return CompareBuffersBinary(text1, length1, text2, length2, ignoreCase, partialLength);
}

}  // namespace

int32_t MakeLocaleId(int32_t languageId, int32_t sortId) {
  return int32_t((uint32_t(sortId) << 16) | (uint32_t(languageId) & 0xFFFF));
}

int32_t MakeLanguageId(int32_t primary, int32_t sub) {
  return int32_t((uint32_t(sub) << 10) | (uint32_t(primary) & 0xFF));
}

int32_t PrimaryLanguageId(int32_t languageId) {
  return languageId & 0x3FF;
}

int32_t SubLanguageId(int32_t languageId) {
  return int32_t((uint32_t(languageId) >> 10) & 0x3F);
}

bool IsBitSet(int32_t value, int32_t bit) {
  if (bit < 0 || bit > 31) throw std::out_of_range("IsBitSet: bit out of range");
  return (uint32_t(value) >> bit) & 1u;
}

void IncludeBit(int32_t& value, int32_t bit) {
  if (bit < 0 || bit > 31) throw std::out_of_range("IncludeBit: bit out of range");
  value = int32_t(uint32_t(value) | (1u << bit));
}

void ExcludeBit(int32_t& value, int32_t bit) {
  if (bit < 0 || bit > 31) throw std::out_of_range("ExcludeBit: bit out of range");
  value = int32_t(uint32_t(value) & ~(1u << bit));
}

void ClearCollationFlags(int32_t& id) {
  id = int32_t(uint32_t(id) & ~uint32_t(CollationFlagMask));
}

void ParseCollationName(std::string_view name, std::string& baseName, bool& caseInsensitive,
                        bool& accentInsensitive, bool& kanaInsensitive, bool& widthInsensitive) {
  baseName.assign(name);
  bool* flags[] = {&caseInsensitive, &accentInsensitive, &kanaInsensitive, &widthInsensitive};
  for (size_t i = 0; i < std::size(collationSuffixes); ++i)
    *flags[i] = removeSuffix(baseName, collationSuffixes[i]);
}

int32_t CompareBuffersBinary(const char* text1, int32_t length1, const char* text2, int32_t length2,
                             bool ignoreCase, int32_t partialLength) {
  if (length1 < 0 || length2 < 0) throw std::invalid_argument("Negative text length");
  int32_t n;
  if (partialLength <= 0) {
    length1 = TrimmedCount(text1, length1);
    length2 = TrimmedCount(text2, length2);
    n = length1 < length2 ? length1 : length2;
  } else {
    n = length1 < length2 ? length1 : length2;
    if (partialLength < n) n = partialLength;
  }
  const auto* bytes1 = reinterpret_cast<const unsigned char*>(text1);
  const auto* bytes2 = reinterpret_cast<const unsigned char*>(text2);
  for (int32_t i = 0; i < n; ++i) {
    unsigned char c1 = bytes1[i];
    unsigned char c2 = bytes2[i];
    if (ignoreCase) {
      c1 = upperTable[c1];
      c2 = upperTable[c2];
    }
    if (c1 != c2) return c1 > c2 ? 1 : -1;
  }
  if (partialLength > 0 && n >= partialLength) return 0;
  if (length1 == length2) return 0;
  return length1 > length2 ? 1 : -1;
}

int32_t CompareStringsBinary(std::string_view text1, std::string_view text2, int32_t partialLength,
                             bool ignoreCase) {
  return CompareBuffersBinary(text1.data(), checkedLength(text1.size()), text2.data(),
                              checkedLength(text2.size()), ignoreCase, partialLength);
}

int32_t CompareCollatedChars(int32_t collation, const char* text1, int32_t length1,
                             const char* text2, int32_t length2, bool ignoreCase,
                             int32_t partialLength) {
  return compareCollated(collation, text1, length1, text2, length2, ignoreCase, partialLength);
}

int32_t CompareCollated(int32_t collation, std::string_view text1, std::string_view text2,
                        bool ignoreCase, int32_t partialLength) {
  return compareCollated(collation, text1.data(), checkedLength(text1.size()), text2.data(),
                         checkedLength(text2.size()), ignoreCase, partialLength);
}

bool TextEqualsIgnoreCase(std::string_view a, std::string_view b) {
  return CompareStringsBinary(a, b, 0, true) == 0;
}

bool TextEqualsExact(std::string_view a, std::string_view b) {
  return CompareStringsBinary(a, b, 0, false) == 0;
}

int32_t CompareTextIgnoreCase(std::string_view a, std::string_view b) {
  return CompareStringsBinary(a, b, 0, true);
}

int32_t CompareTextExact(std::string_view a, std::string_view b) {
  return CompareStringsBinary(a, b, 0, false);
}

char UpperChar(char c) {
  return char(upperTable[static_cast<unsigned char>(c)]);
}

char LowerChar(char c) {
  return char(lowerTable[static_cast<unsigned char>(c)]);
}

std::string UpperCaseBinary(std::string_view s) {
  return mapBinary(s, upperTable);
}

std::string LowerCaseBinary(std::string_view s) {
  return mapBinary(s, lowerTable);
}

std::string UpperCaseCollated(int32_t collation, std::string_view s) {
  return mapCollated(collation, s, true);
}

std::string LowerCaseCollated(int32_t collation, std::string_view s) {
  return mapCollated(collation, s, false);
}

std::string UpperCaseText(std::string_view s) {
  return UpperCaseCollated(BinaryCollation, s);
}

}  // namespace brn

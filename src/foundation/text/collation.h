#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brn {

// A collation ID: bits 0-15 the Windows language ID (0 = the binary
// collation "ANSI"), bits 16-19 the sort ID (1 = German phone book), together
// the locale ID (LCID); above them the flag bits below.
constexpr int32_t CaseInsensitiveBit = 20;    // name suffix "_CI"
constexpr int32_t AccentInsensitiveBit = 21;  // name suffix "_AI"
constexpr int32_t KanaInsensitiveBit = 22;    // name suffix "_KI"
constexpr int32_t WidthInsensitiveBit = 23;   // name suffix "_WI"

constexpr int32_t BinaryCollation = 0;
constexpr int32_t CollationFlagMask = 0x00F00000;

// Locale IDs and bits.
int32_t MakeLocaleId(int32_t languageId, int32_t sortId);
int32_t MakeLanguageId(int32_t primary, int32_t sub);
int32_t PrimaryLanguageId(int32_t languageId);
int32_t SubLanguageId(int32_t languageId);
bool IsBitSet(int32_t value, int32_t bit);
void IncludeBit(int32_t& value, int32_t bit);
void ExcludeBit(int32_t& value, int32_t bit);
void ClearCollationFlags(int32_t& id);

// Splits a collation name such as "DEP_CI_AI" into its base name and flags;
// suffixes are found anywhere and in any case.
void ParseCollationName(std::string_view name, std::string& baseName, bool& caseInsensitive,
                        bool& accentInsensitive, bool& kanaInsensitive, bool& widthInsensitive);

// Comparison under a collation: -1, 0 or 1. Without a partial length trailing
// blanks never matter; with one, only the first partialLength characters
// count. A collation the locale layer cannot compare is compared as binary.
int32_t CompareCollatedChars(int32_t collation, const char* text1, int32_t length1,
                             const char* text2, int32_t length2, bool ignoreCase,
                             int32_t partialLength);
int32_t CompareCollated(int32_t collation, std::string_view text1, std::string_view text2,
                        bool ignoreCase = false, int32_t partialLength = 0);

// Byte comparison with the Windows-1252 case rules.
int32_t CompareBuffersBinary(const char* text1, int32_t length1, const char* text2, int32_t length2,
                             bool ignoreCase, int32_t partialLength);
int32_t CompareStringsBinary(std::string_view text1, std::string_view text2, int32_t partialLength,
                             bool ignoreCase);

// The binary collation without partial length; TextEqualsIgnoreCase is how
// the engine compares names.
bool TextEqualsIgnoreCase(std::string_view a, std::string_view b);
bool TextEqualsExact(std::string_view a, std::string_view b);
int32_t CompareTextIgnoreCase(std::string_view a, std::string_view b);
int32_t CompareTextExact(std::string_view a, std::string_view b);

// Case mapping. The binary rules follow the Windows-1252 letters; a collated
// mapping keeps the length of the text.
char UpperChar(char c);
char LowerChar(char c);
std::string UpperCaseBinary(std::string_view s);
std::string LowerCaseBinary(std::string_view s);
std::string UpperCaseCollated(int32_t collation, std::string_view s);
std::string LowerCaseCollated(int32_t collation, std::string_view s);
std::string UpperCaseText(std::string_view s);

// LIKE: text and pattern end at their first character 0; escapeChar 0 turns
// escaping off. Case and accent rules of the collation apply.
bool MatchLikePattern(int32_t collation, std::string_view text, std::string_view pattern,
                      char manyWildcard, char oneWildcard, char escapeChar);

// For index ranges of LIKE: whether the only wildcards are a trailing run of
// manyWildcard, and the literal prefix of such a pattern (its length returned;
// 0 and the pattern unchanged when it does not end with manyWildcard).
bool HasOnlyTrailingWildcard(std::string_view pattern, char manyWildcard, char escapeChar);
int32_t StripTrailingWildcard(std::string& pattern, char manyWildcard, char escapeChar);

}  // namespace brn

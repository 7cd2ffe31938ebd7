#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace brn {

class TBRNCharSet;
class TBRNStringBuilder;

// All texts are 8-bit (Windows-1252); positions are 1-based, 0 means absent.

// Searching and measuring.
int32_t TextPos(std::string_view sub, std::string_view text);
int32_t LastPos(std::string_view sub, std::string_view text);
// Non-overlapping occurrences; 0 for an empty sub.
int32_t CountOccurrences(std::string_view sub, std::string_view text);
int32_t TextLength(std::string_view s);
int64_t StringMemSize(std::string_view s);
// Length without trailing blanks (character 32 only). Inline: the collated
// comparison cuts both of its texts with it.
inline int32_t TrimmedCount(const char* buffer, int32_t count) {
  while (count > 0 && buffer[count - 1] == ' ') --count;
  return count;
}
int32_t TrimmedLength(std::string_view s);
std::string ChooseText(bool condition, std::string_view a, std::string_view b);

// The engine's message formatter: each "%s" (or "%S") takes the next argument
// in turn; inserted text is not scanned again. A "%" before any other
// character stays as it is. Placeholders beyond the arguments stay unchanged.
std::string FormatText(std::string_view pattern, std::initializer_list<std::string_view> args);
std::string FormatText(std::string_view pattern, std::span<const std::string> args);

// Quoting.
std::string QuoteString(std::string_view s, char quote);
std::string DoubleChar(char c, std::string_view s);
// Each pair of adjacent c becomes one (a run of n gives (n + 1) / 2).
std::string UndoubleChar(char c, std::string_view s);
// The entities of export files carry no terminating semicolon: "&lt", "&gt",
// "&amp", "&apos", "&quot".
std::string EscapeXML(std::string_view s);
std::string UnescapeXML(std::string_view s);
std::string CapitalizeWords(std::string_view s);
// Appends separator first unless the builder is empty, then s (even empty).
void AppendWithSeparator(std::string_view s, TBRNStringBuilder& builder,
                         std::string_view separator);
std::string ReplaceAllText(std::string_view text, std::string_view oldText,
                           std::string_view newText, bool ignoreCase);
// The oldText.size() characters at the 1-based position replaced by newText.
std::string ReplaceAt(std::string_view text, std::string_view oldText, int32_t position,
                      std::string_view newText);

// Padding and trimming.
std::string PadOrCut(std::string_view s, int32_t width, char padChar);
std::string PadWithZeros(std::string_view s, int32_t width);
std::string PadDecimals(std::string_view s, int32_t count, char separator);
std::string RightChars(std::string_view s, int32_t count);
std::string TrimLeadingChar(std::string_view s, char c);
std::string TrimTrailingChar(std::string_view s, char c);
std::string TrimChar(std::string_view s, char c);
// Blanks here are the characters 0-32.
std::string TrimTrailingBlanks(std::string_view s);
std::string TrimBlanks(std::string_view s);
// TrimBlanks without copying: the part of s between its blanks.
std::string_view TrimBlanksView(std::string_view s);
// Every trailing repetition of the (non-empty) suffix removed.
std::string TrimTrailingText(std::string_view s, std::string_view suffix);
std::string StripLeadingZeros(std::string_view s);
std::string RepeatString(std::string_view s, int32_t count);
// head = the text before the first separator, s = the text after it; without
// a separator head = s and s becomes empty.
void SplitFirst(std::string& s, std::string_view separator, std::string& head);
// Breaks lines longer than width at their last break character, which the
// line break replaces; CR and LF restart the column count. A line without
// break characters is broken only with forceBreak.
void WrapLines(std::string_view text, std::string_view lineBreak, const TBRNCharSet& breakChars,
               std::string& result, bool forceBreak, int32_t width);
std::string JoinLines(std::span<const std::string> strings);

// Qualified names. The schema is written when a database is given (the
// default schema standing in for an empty one), otherwise only when it
// differs from the default schema; the object and the column are always
// written, so an empty column leaves a trailing ".".
void BuildQualifiedName(std::string_view database, std::string_view schema,
                        std::string_view objectName, std::string& result,
                        std::string_view defaultSchema, std::string_view column);
// Up to four dot-separated parts, assigned from the right: objectName,
// qualifier, schema, database. Quotes are not taken into account.
void SplitQualifiedName(std::string_view name, std::string& database, std::string& schema,
                        std::string& objectName, std::string& qualifier);

// "*" matches any run of characters; every other pattern character matches
// one text character. Runs in time proportional to text size times pattern
// size at most.
bool MatchWildcard(std::string_view text, std::string_view pattern, bool caseSensitive);

// Utilities.
// A new random GUID in the 38-character form with braces.
std::string NewGUIDString();
bool HasUnicodeBOM(std::span<const uint8_t> bytes);
bool LooksLikeUnicode(std::span<const uint8_t> bytes);

}  // namespace brn

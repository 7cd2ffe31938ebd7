#include "foundation/text/string_helpers.h"

#include <string>

#include "foundation/text/char_classes.h"
#include "foundation/text/collation.h"
#include "foundation/text/string_builder.h"

// The string helpers that follow the binary collation's case rules; kept
// apart so that the plain helpers (and every message built with FormatText)
// do not pull in the collation layer.

namespace brn {

namespace {

bool sameChar(char a, char b, bool ignoreCase) {
  return a == b || (ignoreCase && UpperChar(a) == UpperChar(b));
}

bool matchesAt(std::string_view text, size_t at, std::string_view sub, bool ignoreCase) {
  if (text.size() - at < sub.size()) return false;
  for (size_t i = 0; i < sub.size(); ++i)
    if (!sameChar(text[at + i], sub[i], ignoreCase)) return false;
  return true;
}

}  // namespace

std::string CapitalizeWords(std::string_view s) {
  std::string result(s);
  bool wordStart = true;
  for (char& c : result) {
    if (WordSeparatorChars.Contains(c)) {
      wordStart = true;
    } else {
      if (wordStart) c = UpperChar(c);
      wordStart = false;
    }
  }
  return result;
}

std::string ReplaceAllText(std::string_view text, std::string_view oldText,
                           std::string_view newText, bool ignoreCase) {
  if (oldText.empty()) return std::string(text);
  std::string result;
  result.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    if (matchesAt(text, i, oldText, ignoreCase)) {
      result += newText;
      i += oldText.size();
    } else {
      result += text[i++];
    }
  }
  return result;
}

void BuildQualifiedName(std::string_view database, std::string_view schema,
                        std::string_view objectName, std::string& result,
                        std::string_view defaultSchema, std::string_view column) {
  TBRNStringBuilder builder;
  if (!database.empty()) {
    AppendWithSeparator(database, builder, ".");
    AppendWithSeparator(schema.empty() ? defaultSchema : schema, builder, ".");
  } else if (!schema.empty() && !TextEqualsIgnoreCase(schema, defaultSchema)) {
    AppendWithSeparator(schema, builder, ".");
  }
  AppendWithSeparator(objectName, builder, ".");
  // The column is always written, also when empty: the trailing "." keeps
  // the object in the qualifier's place when the name is split again.
  AppendWithSeparator(column, builder, ".");
  result = builder.GetText();
}

bool MatchWildcard(std::string_view text, std::string_view pattern, bool caseSensitive) {
  // Greedy matching with one restart point at the latest "*": each failure
  // lets that "*" absorb one more character, so the work is bounded by
  // text size times pattern size.
  constexpr size_t none = std::string_view::npos;
  size_t t = 0, p = 0, starP = none, starT = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      if (p + 1 == pattern.size()) return true;
      starP = p++;
      starT = t;
    } else if (p < pattern.size() && sameChar(pattern[p], text[t], !caseSensitive)) {
      ++p;
      ++t;
    } else if (starP != none) {
      p = starP + 1;
      t = ++starT;
    } else {
      return false;
    }
  }
  // Trailing "*" match the empty rest.
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace brn

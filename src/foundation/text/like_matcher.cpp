#include "foundation/text/collation.h"

namespace brn {

namespace {

std::string_view untilZero(std::string_view text) {
  size_t end = text.find('\0');
  return end == std::string_view::npos ? text : text.substr(0, end);
}

bool onlyManyWildcardsFrom(std::string_view pattern, size_t from, char manyWildcard) {
  for (size_t i = from; i < pattern.size(); ++i)
    if (pattern[i] != manyWildcard) return false;
  return true;
}

}  // namespace

// A greedy matcher with one restart point: when a later piece fails, the most
// recent many-wildcard absorbs one more character and matching resumes after
// it. Every restart begins further into the text, so the work is bounded by
// text length times pattern length.
bool MatchLikePattern(int32_t collation, std::string_view text, std::string_view pattern,
                      char manyWildcard, char oneWildcard, char escapeChar) {
  text = untilZero(text);
  pattern = untilZero(pattern);
  const size_t textEnd = text.size();
  const size_t patternEnd = pattern.size();
  auto equalPieces = [&](size_t s, char const* piece, size_t length) {
    return CompareCollatedChars(collation, text.data() + s, int32_t(length), piece, int32_t(length),
                                false, 0) == 0;
  };

  bool match = false;
  bool hasRestart = true;
  size_t restartText = 0;
  size_t restartPattern = 0;
  while (!match && hasRestart) {
    size_t s = restartText;
    size_t p = restartPattern;
    hasRestart = false;
    bool decided = false;
    while (p < patternEnd && !decided) {
      const char c = pattern[p];
      const bool last = p + 1 == patternEnd;
      if (last && c == manyWildcard) {
        match = true;
        decided = true;
      } else if (s < textEnd && last && c == oneWildcard) {
        ++s;
        match = s == textEnd;
        decided = true;
      } else if (s >= textEnd) {
        // An exhausted text still matches a rest of many-wildcards.
        match = onlyManyWildcardsFrom(pattern, p, manyWildcard);
        decided = true;
      } else if (escapeChar != '\0' && c == escapeChar) {
        // A trailing escape character stands for itself.
        const char* literal = last ? &pattern[p] : &pattern[p + 1];
        if (equalPieces(s, literal, 1)) {
          s += 1;
          p += last ? 1 : 2;
        } else {
          match = false;
          decided = true;
        }
      } else if (c == manyWildcard) {
        restartText = s + 1;
        restartPattern = p;
        hasRestart = true;
        ++p;
      } else if (c == oneWildcard) {
        ++s;
        ++p;
      } else {
        size_t run = 1;
        while (p + run < patternEnd) {
          char next = pattern[p + run];
          if (next == manyWildcard || next == oneWildcard ||
              (escapeChar != '\0' && next == escapeChar))
            break;
          ++run;
        }
        size_t n = textEnd - s < run ? textEnd - s : run;
        if (equalPieces(s, pattern.data() + p, n)) {
          s += n;
          p += n;
        } else {
          match = false;
          decided = true;
        }
      }
    }
    // The pattern ran out: a match exactly when the text did too.
    if (!decided) match = s == textEnd;
  }
  return match;
}

bool HasOnlyTrailingWildcard(std::string_view pattern, char manyWildcard, char escapeChar) {
  if (pattern.empty() || pattern.back() != manyWildcard) return false;
  for (size_t i = pattern.size() - 1; i-- > 0;) {
    char c = pattern[i];
    if (escapeChar != '\0' && c == escapeChar) return false;
    if (c == manyWildcard) continue;
    return pattern.substr(0, i + 1).find(manyWildcard) == std::string_view::npos;
  }
  return true;
}

int32_t StripTrailingWildcard(std::string& pattern, char manyWildcard, char escapeChar) {
  if (pattern.empty() || pattern.back() != manyWildcard) return 0;
  auto isEscape = [escapeChar](char c) { return escapeChar != '\0' && c == escapeChar; };
  // The trailing run: unescaped wildcards go, an escaped one stays literal
  // and ends the run.
  size_t restEnd = pattern.size();
  std::string kept;
  while (restEnd > 0 && pattern[restEnd - 1] == manyWildcard) {
    if (restEnd >= 2 && isEscape(pattern[restEnd - 2])) {
      kept.push_back(manyWildcard);
      restEnd -= 2;
      break;
    }
    --restEnd;
  }
  // The rest loses its escape characters.
  std::string rest = pattern.substr(0, restEnd);
  for (size_t j = rest.size(); j > 0;) {
    size_t current = j - 1;
    if (current > 0 && isEscape(rest[current - 1])) {
      rest.erase(current - 1, 1);
      j = current - 1;
    } else {
      j = current;
    }
  }
  pattern = rest + kept;
  return int32_t(pattern.size());
}

}  // namespace brn

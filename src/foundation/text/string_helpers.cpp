#include "foundation/text/string_helpers.h"

#include <cstdio>
#include <stdexcept>

#include "foundation/text/char_classes.h"
#include "foundation/text/string_builder.h"
#include "platform/guid.h"

namespace brn {

namespace {

int32_t toPosition(size_t index) {
  return index == std::string_view::npos ? 0 : int32_t(index + 1);
}

template <typename Args>
std::string formatWith(std::string_view pattern, const Args& args) {
  size_t total = pattern.size();
  for (const auto& arg : args) total += std::string_view(arg).size();
  std::string result;
  result.reserve(total);
  auto arg = args.begin();
  size_t done = 0;  // pattern characters already copied
  for (size_t at = pattern.find('%'); at != std::string_view::npos && arg != args.end();
       at = pattern.find('%', at + 1)) {
    if (at + 1 >= pattern.size() || !FormatSpecifierChars.Contains(pattern[at + 1])) continue;
    result.append(pattern.substr(done, at - done));
    result.append(std::string_view(*arg));
    ++arg;
    done = at + 2;
    at = done - 1;  // the search goes on after the placeholder
  }
  result.append(pattern.substr(done));
  return result;
}

}  // namespace

int32_t TextPos(std::string_view sub, std::string_view text) {
  if (sub.empty()) return 0;
  return toPosition(text.find(sub));
}

int32_t LastPos(std::string_view sub, std::string_view text) {
  if (sub.empty()) return 0;
  return toPosition(text.rfind(sub));
}

int32_t CountOccurrences(std::string_view sub, std::string_view text) {
  if (sub.empty()) return 0;
  int32_t count = 0;
  for (size_t at = text.find(sub); at != std::string_view::npos;
       at = text.find(sub, at + sub.size()))
    ++count;
  return count;
}

int32_t TextLength(std::string_view s) {
  return int32_t(s.size());
}

int64_t StringMemSize(std::string_view s) {
  return int64_t(s.size());
}

int32_t TrimmedLength(std::string_view s) {
  return TrimmedCount(s.data(), int32_t(s.size()));
}

std::string ChooseText(bool condition, std::string_view a, std::string_view b) {
  return std::string(condition ? a : b);
}

std::string FormatText(std::string_view pattern, std::initializer_list<std::string_view> args) {
  return formatWith(pattern, args);
}

std::string FormatText(std::string_view pattern, std::span<const std::string> args) {
  return formatWith(pattern, args);
}

std::string QuoteString(std::string_view s, char quote) {
  std::string result(1, quote);
  result += DoubleChar(quote, s);
  result += quote;
  return result;
}

std::string DoubleChar(char c, std::string_view s) {
  std::string result;
  result.reserve(s.size() + 8);
  for (char x : s) {
    result += x;
    if (x == c) result += x;
  }
  return result;
}

std::string UndoubleChar(char c, std::string_view s) {
  std::string result;
  result.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    if (s[i] != c) {
      result += s[i++];
      continue;
    }
    size_t run = 0;
    while (i < s.size() && s[i] == c) ++run, ++i;
    result.append((run + 1) / 2, c);
  }
  return result;
}

namespace {

struct XmlEntity {
  char Char;
  std::string_view Text;
};

constexpr XmlEntity xmlEntities[] = {
    {'"', "&quot"}, {'&', "&amp"}, {'\'', "&apos"}, {'<', "&lt"}, {'>', "&gt"}};

}  // namespace

std::string EscapeXML(std::string_view s) {
  std::string result;
  result.reserve(s.size() + 16);
  for (char c : s) {
    std::string_view entity;
    for (const XmlEntity& e : xmlEntities)
      if (e.Char == c) entity = e.Text;
    if (entity.empty())
      result += c;
    else
      result += entity;
  }
  return result;
}

std::string UnescapeXML(std::string_view s) {
  std::string result;
  result.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    bool replaced = false;
    if (s[i] == '&') {
      for (const XmlEntity& e : xmlEntities) {
        if (s.substr(i, e.Text.size()) == e.Text) {
          result += e.Char;
          i += e.Text.size();
          replaced = true;
          break;
        }
      }
    }
    if (!replaced) result += s[i++];
  }
  return result;
}

void AppendWithSeparator(std::string_view s, TBRNStringBuilder& builder,
                         std::string_view separator) {
  if (!builder.IsEmpty()) builder.Append(separator);
  builder.Append(s);
}

std::string ReplaceAt(std::string_view text, std::string_view oldText, int32_t position,
                      std::string_view newText) {
  if (position < 1 || size_t(position) - 1 > text.size())
    throw std::out_of_range("ReplaceAt: position outside the text");
  size_t at = size_t(position) - 1;
  std::string result(text.substr(0, at));
  result += newText;
  if (oldText.size() < text.size() - at) result += text.substr(at + oldText.size());
  return result;
}

std::string PadOrCut(std::string_view s, int32_t width, char padChar) {
  if (width < 0) width = 0;
  if (s.size() >= size_t(width)) return std::string(s.substr(0, size_t(width)));
  std::string result(size_t(width) - s.size(), padChar);
  result += s;
  return result;
}

std::string PadWithZeros(std::string_view s, int32_t width) {
  if (width < 0 || s.size() >= size_t(width)) return std::string(s);
  return PadOrCut(s, width, '0');
}

std::string PadDecimals(std::string_view s, int32_t count, char separator) {
  std::string result(s);
  size_t at = s.rfind(separator);
  size_t digits = 0;
  if (at == std::string_view::npos)
    result += separator;
  else
    digits = s.size() - at - 1;
  if (count > 0 && digits < size_t(count)) result.append(size_t(count) - digits, '0');
  return result;
}

std::string RightChars(std::string_view s, int32_t count) {
  if (count <= 0) return {};
  if (size_t(count) >= s.size()) return std::string(s);
  return std::string(s.substr(s.size() - size_t(count)));
}

std::string TrimLeadingChar(std::string_view s, char c) {
  size_t first = s.find_first_not_of(c);
  return first == std::string_view::npos ? std::string() : std::string(s.substr(first));
}

std::string TrimTrailingChar(std::string_view s, char c) {
  size_t last = s.find_last_not_of(c);
  return last == std::string_view::npos ? std::string() : std::string(s.substr(0, last + 1));
}

std::string TrimChar(std::string_view s, char c) {
  return TrimLeadingChar(TrimTrailingChar(s, c), c);
}

std::string TrimTrailingBlanks(std::string_view s) {
  while (!s.empty() && BlankChars.Contains(s.back())) s.remove_suffix(1);
  return std::string(s);
}

std::string TrimBlanks(std::string_view s) {
  return std::string(TrimBlanksView(s));
}

std::string_view TrimBlanksView(std::string_view s) {
  while (!s.empty() && BlankChars.Contains(s.front())) s.remove_prefix(1);
  while (!s.empty() && BlankChars.Contains(s.back())) s.remove_suffix(1);
  return s;
}

std::string TrimTrailingText(std::string_view s, std::string_view suffix) {
  if (suffix.empty()) return std::string(s);
  while (s.ends_with(suffix)) s.remove_suffix(suffix.size());
  return std::string(s);
}

std::string StripLeadingZeros(std::string_view s) {
  size_t first = 0;
  while (first + 1 < s.size() && s[first] == '0') ++first;
  return std::string(s.substr(first));
}

std::string RepeatString(std::string_view s, int32_t count) {
  std::string result;
  if (count <= 0) return result;
  result.reserve(s.size() * size_t(count));
  for (int32_t i = 0; i < count; ++i) result += s;
  return result;
}

void SplitFirst(std::string& s, std::string_view separator, std::string& head) {
  size_t at = separator.empty() ? std::string::npos : s.find(separator);
  if (at == std::string::npos) {
    head = std::move(s);
    s.clear();
    return;
  }
  head = s.substr(0, at);
  s.erase(0, at + separator.size());
}

void WrapLines(std::string_view text, std::string_view lineBreak, const TBRNCharSet& breakChars,
               std::string& result, bool forceBreak, int32_t width) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  constexpr size_t noBreak = std::string::npos;
  size_t breakAt = noBreak;  // output index of the line's last break character
  int64_t column = 0;
  for (char c : text) {
    if (c == '\r' || c == '\n') {
      out += c;
      column = 0;
      breakAt = noBreak;
      continue;
    }
    bool isBreak = breakChars.Contains(c);
    if (column >= width && (breakAt != noBreak || isBreak || forceBreak)) {
      size_t insertAt;
      if (breakAt != noBreak) {
        // The last break character of the line gives way to the line break.
        out += c;
        out.erase(breakAt, 1);
        insertAt = breakAt;
      } else if (forceBreak) {
        out += c;
        insertAt = out.size();
      } else {
        // The character at the width is itself the break character.
        insertAt = out.size();
      }
      out.insert(insertAt, lineBreak);
      column = int64_t(out.size() - insertAt - lineBreak.size());
      breakAt = noBreak;
      continue;
    }
    if (isBreak) breakAt = out.size();
    out += c;
    ++column;
  }
  result = std::move(out);
}

std::string JoinLines(std::span<const std::string> strings) {
  std::string result;
  for (size_t i = 0; i < strings.size(); ++i) {
    if (i > 0) result += "\r\n";
    result += strings[i];
  }
  return result;
}

void SplitQualifiedName(std::string_view name, std::string& database, std::string& schema,
                        std::string& objectName, std::string& qualifier) {
  std::string_view parts[4];
  size_t count = 0;
  // At most three cuts: a fifth part stays joined to the fourth.
  while (count < 3) {
    size_t dot = name.find('.');
    if (dot == std::string_view::npos) break;
    parts[count++] = name.substr(0, dot);
    name.remove_prefix(dot + 1);
  }
  parts[count++] = name;
  std::string* targets[4] = {&objectName, &qualifier, &schema, &database};
  for (size_t i = 0; i < 4; ++i) targets[i]->assign(i < count ? parts[count - 1 - i] : "");
}

std::string NewGUIDString() {
  TBRNGuid guid = CreateGUID();
  char text[40];
  std::snprintf(text, sizeof(text), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                unsigned(guid.Data1), unsigned(guid.Data2), unsigned(guid.Data3),
                unsigned(guid.Data4[0]), unsigned(guid.Data4[1]), unsigned(guid.Data4[2]),
                unsigned(guid.Data4[3]), unsigned(guid.Data4[4]), unsigned(guid.Data4[5]),
                unsigned(guid.Data4[6]), unsigned(guid.Data4[7]));
  return text;
}

bool HasUnicodeBOM(std::span<const uint8_t> bytes) {
  return bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
}

bool LooksLikeUnicode(std::span<const uint8_t> bytes) {
  return bytes.size() >= 2 && (bytes[0] == 0 || bytes[1] == 0);
}

}  // namespace brn

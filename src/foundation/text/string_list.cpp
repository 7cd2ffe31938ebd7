#include "foundation/text/string_list.h"

#include <stdexcept>

#include "foundation/text/char_classes.h"
#include "foundation/text/collation.h"
#include "foundation/core/memory_stream.h"
#include "foundation/core/numeric_helpers.h"
#include "foundation/text/string_helpers.h"

namespace brn {

void TBRNStringsList::SetCapacity(int32_t count) {
  if (count < 0) throw std::invalid_argument("TBRNStringsList: negative capacity");
  int32_t capacity = RoundUpToMultiple(count, GetGrowDelta());
  if (capacity <= Capacity) return;
  Items.reserve(size_t(capacity));
  Capacity = capacity;
}

void TBRNStringsList::Add(std::string_view s) {
  if (GetCount() == Capacity) SetCapacity(GetCount() + 1);
  Items.emplace_back(s);
  Changed();
}

void TBRNStringsList::ClearItems() {
  Items.clear();
}

void TBRNStringsList::Clear() {
  ClearItems();
  Changed();
}

int32_t TBRNStringsList::IndexOf(std::string_view s) const {
  for (size_t i = 0; i < Items.size(); ++i)
    if (SameItem(Items[i], s)) return int32_t(i);
  return -1;
}

std::string TBRNStringsList::GetText() const {
  return JoinLines(Items);
}

void TBRNStringsList::SetCommaText(std::string_view text) {
  ClearItems();
  size_t at = 0;
  std::string item;
  while (at < text.size()) {
    item.clear();
    if (text[at] == '"') {
      ++at;
      while (at < text.size()) {
        if (text[at] != '"') {
          item += text[at++];
        } else if (at + 1 < text.size() && text[at + 1] == '"') {
          item += '"';
          at += 2;
        } else {
          ++at;
          break;
        }
      }
      if (at < text.size() && text[at] == ',') ++at;
    } else {
      size_t comma = text.find(',', at);
      size_t end = comma == std::string_view::npos ? text.size() : comma;
      item.assign(text.substr(at, end - at));
      at = comma == std::string_view::npos ? text.size() : comma + 1;
    }
    // Modules write quotes doubled inside and outside quoted items alike.
    Add(UndoubleChar('"', item));
  }
}

void TBRNStringsList::AssignStrings(std::span<const std::string> list) {
  Clear();
  SetCapacity(int32_t(list.size()));
  for (const std::string& line : list) Add(line);
  Changed();
}

void TBRNStringsList::SaveToStream(TBRNMemoryStream& stream) const {
  stream.WriteInteger(GetCount());
  for (const std::string& item : Items) stream.WriteString(item);
}

void TBRNStringsList::LoadFromStream(TBRNMemoryStream& stream) {
  Clear();
  int32_t count = stream.ReadInteger();
  // Every item takes at least its 4-byte length: a larger count cannot be
  // genuine and must not size the list.
  count = MinInteger(count, stream.GetRemaining() / 4);
  if (count <= 0) return;
  SetCapacity(count);
  std::string item;
  for (int32_t i = 0; i < count && stream.GetRemaining() >= 4; ++i) {
    stream.ReadString(item);
    Add(item);
  }
}

bool TBRNStringsList::SameItem(std::string_view item, std::string_view value) const {
  return TextEqualsIgnoreCase(item, value);
}

std::string TBRNStringsList::QuoteItem(std::string_view item) const {
  for (char c : item)
    if (c == '"' || CommaTextDelimiters.Contains(c)) return QuoteString(item, '"');
  return std::string(item);
}

std::string TBRNStringsList::ExtractName(std::string_view item) const {
  size_t equals = item.find('=');
  return equals == std::string_view::npos ? std::string() : std::string(item.substr(0, equals));
}

std::string TBRNStringsList::ExtractValue(std::string_view item) const {
  size_t equals = item.find('=');
  return equals == std::string_view::npos ? std::string() : std::string(item.substr(equals + 1));
}

}  // namespace brn

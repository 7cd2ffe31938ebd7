#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brn {

class TBRNMemoryStream;

// A simple list of strings with comma text, name=value access and a stream
// form: the object-name lists of external modules and lists on the wire.
// The capacity grows in steps of GetGrowDelta().
class TBRNStringsList {
 public:
  TBRNStringsList() = default;
  virtual ~TBRNStringsList() = default;

  int32_t GetCount() const { return int32_t(Items.size()); }
  int32_t GetCapacity() const { return Capacity; }
  const std::string& GetItem(int32_t index) const { return Items.at(size_t(index)); }
  const std::vector<std::string>& GetItems() const { return Items; }

  void SetCapacity(int32_t count);
  void Add(std::string_view s);
  // Empties the list and keeps the capacity; Clear also signals Changed.
  void ClearItems();
  void Clear();
  // The first index whose item is the same as s (SameItem), -1 when none.
  int32_t IndexOf(std::string_view s) const;
  std::string GetName(int32_t index) const { return ExtractName(GetItem(index)); }
  std::string GetValue(int32_t index) const { return ExtractValue(GetItem(index)); }
  // The items joined with CR LF, no line break after the last.
  std::string GetText() const;
  // Replaces the items with those of a comma text: items separated by
  // commas, an item in double quotes may hold commas and doubled quotes.
  void SetCommaText(std::string_view text);
  void AssignStrings(std::span<const std::string> list);

  // int32 count, then each item as an int32 length and its characters.
  void SaveToStream(TBRNMemoryStream& stream) const;
  // Reads the form of SaveToStream; a count beyond what the remaining bytes
  // can hold is cut to it, a negative one reads nothing.
  void LoadFromStream(TBRNMemoryStream& stream);

  virtual int32_t GetGrowDelta() const { return 16; }
  // Names are the same ignoring case and trailing blanks.
  virtual bool SameItem(std::string_view item, std::string_view value) const;
  // The item as written into comma text: quoted, with its quotes doubled,
  // when it holds a double quote, a character 0-32 or a comma.
  virtual std::string QuoteItem(std::string_view item) const;
  // The parts before and after the first "="; both empty without one.
  virtual std::string ExtractName(std::string_view item) const;
  virtual std::string ExtractValue(std::string_view item) const;
  // Called after Add, Clear and AssignStrings.
  virtual void Changed() {}

 private:
  std::vector<std::string> Items;
  int32_t Capacity = 0;
};

}  // namespace brn

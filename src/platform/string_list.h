#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace brn {

// An ordered list of strings that tells its owner after every change.
// Not guarded: the owner serialises its use.
class TStringList {
 public:
  std::function<void()> OnChange;

  int32_t Count() const { return int32_t(items_.size()); }
  const std::string& Get(int32_t index) const { return items_.at(size_t(index)); }
  const std::vector<std::string>& Items() const { return items_; }
  void Add(const std::string& text);
  void Clear();
  // Replaces the content with items (one change).
  void Assign(const std::vector<std::string>& items);
  void Assign(const TStringList& other) { Assign(other.items_); }
  bool Equals(const TStringList& other) const { return items_ == other.items_; }

 private:
  void changed();

  std::vector<std::string> items_;
};

}  // namespace brn

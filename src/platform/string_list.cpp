#include "platform/string_list.h"

namespace brn {

void TStringList::Add(const std::string& text) {
  items_.push_back(text);
  changed();
}

void TStringList::Clear() {
  if (items_.empty()) return;
  items_.clear();
  changed();
}

void TStringList::Assign(const std::vector<std::string>& items) {
  items_ = items;
  changed();
}

void TStringList::changed() {
  if (OnChange) OnChange();
}

}  // namespace brn

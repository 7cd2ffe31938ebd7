#include "foundation/string_helpers.h"

#include <vector>

namespace brn {

namespace {

template <typename Args>
std::string formatWith(std::string_view pattern, const Args& args) {
  std::string result;
  result.reserve(pattern.size() + 16 * args.size());
  auto arg = args.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    char c = pattern[i];
    if (c == '%' && i + 1 < pattern.size() && (pattern[i + 1] == 's' || pattern[i + 1] == 'S') &&
        arg != args.end()) {
      result.append(std::string_view(*arg));
      ++arg;
      ++i;
    } else {
      result.push_back(c);
    }
  }
  return result;
}

}  // namespace

std::string FormatText(std::string_view pattern, std::initializer_list<std::string_view> args) {
  return formatWith(pattern, args);
}

std::string FormatText(std::string_view pattern, std::span<const std::string> args) {
  return formatWith(pattern, args);
}

}  // namespace brn

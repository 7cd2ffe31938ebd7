#pragma once

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace brn {

// The engine's message formatter: each "%s" (or "%S") takes the next argument
// in turn; inserted text is not scanned again. A "%" before any other
// character stays as it is. Placeholders beyond the arguments stay unchanged.
std::string FormatText(std::string_view pattern, std::initializer_list<std::string_view> args);
std::string FormatText(std::string_view pattern, std::span<const std::string> args);

}  // namespace brn

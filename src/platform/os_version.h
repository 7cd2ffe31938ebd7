#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The version resource of a module file. Modules carry it in an ELF section
// of their own, read straight from the file without loading the module:
//
//   "BRNVERS1", then entries up to the end of the section, each
//   uint16 key length, key, uint32 value length, value (little-endian).
//
// Keys are query paths: "\VarFileInfo\Translation" holds 32-bit translations
// (language ID in the low word, code page in the high word);
// "\StringFileInfo\<block>\<name>" holds texts. A module gets the section
// with objcopy --add-section .brn_version=<file built by
// OSBuildVersionResource>.

namespace brn {

inline constexpr const char* OSVersionSectionName = ".brn_version";

// The section's bytes; false when the file cannot be read, is no ELF file or
// has no such section (or one that is not well formed).
bool OSReadVersionResource(const char* nativePath, std::vector<uint8_t>& resource);

// The value stored under key (compared ignoring case); false when there is
// none.
bool OSQueryVersionValue(const std::vector<uint8_t>& resource, std::string_view key,
                         std::string_view& value);

// The bytes of a version section holding the given key/value pairs.
std::vector<uint8_t> OSBuildVersionResource(
    const std::vector<std::pair<std::string, std::string>>& entries);

}  // namespace brn

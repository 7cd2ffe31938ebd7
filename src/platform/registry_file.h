#pragma once

#include <string>
#include <string_view>

namespace brn {

// The machine's registry as the host program uses it: a settings file of its
// own in which each registry key is a section named like the key (without
// its leading backslash) and each value a line of it. The file holds
// secrets, so it is written with mode 0600 and its folder, when made here,
// with mode 0700.
//
// Every read opens the file afresh; a missing file, key or value reads as an
// empty string. Not thread-safe: one thread uses an instance at a time.
class TBRNRegistryFile {
 public:
  // BRN_REGISTRY_FILE when it is set; else /etc/brindle/registry.ini for a
  // system service and ~/.config/brindle/registry.ini otherwise.
  static std::string DefaultFileName(bool systemService);

  explicit TBRNRegistryFile(std::string fileName) : fileName_(std::move(fileName)) {}

  const std::string& FileName() const { return fileName_; }

  // A file that exists but cannot be read throws std::system_error.
  std::string ReadString(std::string_view key, std::string_view name) const;
  // Makes the folder when it is missing; a failure throws std::system_error.
  void WriteString(std::string_view key, std::string_view name, std::string_view value);

  // The section that stands for key.
  static std::string SectionName(std::string_view key);

 private:
  std::string fileName_;
};

}  // namespace brn

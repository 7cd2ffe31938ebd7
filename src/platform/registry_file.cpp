#include "platform/registry_file.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/ini_file.h"

namespace brn {

std::string TBRNRegistryFile::DefaultFileName(bool systemService) {
  const char* overridden = std::getenv("BRN_REGISTRY_FILE");
  if (overridden != nullptr && *overridden != '\0') return overridden;
  if (systemService) return "/etc/brindle/registry.ini";
  std::string home;
  if (const char* value = std::getenv("HOME"); value != nullptr && *value != '\0') {
    home = value;
  } else if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr) {
    home = entry->pw_dir;
  }
  return home + "/.config/brindle/registry.ini";
}

std::string TBRNRegistryFile::SectionName(std::string_view key) {
  while (!key.empty() && key.front() == '\\') key.remove_prefix(1);
  return std::string(key);
}

std::string TBRNRegistryFile::ReadString(std::string_view key, std::string_view name) const {
  TBRNIniFile file(fileName_);
  return file.ReadString(SectionName(key), name, "");
}

void TBRNRegistryFile::WriteString(std::string_view key, std::string_view name,
                                   std::string_view value) {
  const std::filesystem::path folder = std::filesystem::path(fileName_).parent_path();
  if (!folder.empty() && !std::filesystem::exists(folder)) {
    if (folder.has_parent_path()) std::filesystem::create_directories(folder.parent_path());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
      throw std::system_error(errno, std::generic_category(),
                              "Cannot create the folder " + folder.string());
    }
  }
  TBRNIniFile file(fileName_);
  file.WriteString(SectionName(key), name, value);
  file.UpdateFile(0600);
}

}  // namespace brn

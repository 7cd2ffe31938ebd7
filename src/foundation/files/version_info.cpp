#include "foundation/files/version_info.h"

#include <cstdint>
#include <vector>

#include "foundation/core/byte_order.h"
#include "foundation/text/number_text.h"
#include "platform/os_file.h"
#include "platform/os_version.h"

namespace brn {

TBRNVersionInfo::TBRNVersionInfo(const std::string& fileName) : FileName(fileName) {
  std::vector<uint8_t> resource;
  if (!OSReadVersionResource(OSNativePath(fileName).c_str(), resource)) return;
  std::string_view value;
  if (!OSQueryVersionValue(resource, "\\VarFileInfo\\Translation", value) || value.size() < 4) {
    return;
  }
  // The first translation: language ID in the low word, code page in the
  // high word; the block is named language first ("040904E4").
  std::string digits = IntegerToHex(LoadLittleEndian<int32_t>(value.data()));
  std::string block = "\\StringFileInfo\\" + digits.substr(4, 4) + digits.substr(0, 4) + "\\";
  struct Entry {
    const char* key;
    std::string* field;
  };
  const Entry entries[] = {
      {"FileDescription", &FileDescription},   {"FileVersion", &FileVersion},
      {"OriginalFileName", &OriginalFileName}, {"CompanyName", &CompanyName},
      {"ProductName", &ProductName},           {"ProductVersion", &ProductVersion},
      {"InternalName", &InternalName},         {"LegalCopyright", &LegalNotice},
  };
  for (const Entry& entry : entries) {
    if (!OSQueryVersionValue(resource, block + entry.key, value)) continue;
    // The text ends at its first zero byte, as a zero-terminated text does.
    *entry.field = std::string(value.substr(0, value.find('\0')));
  }
}

}  // namespace brn

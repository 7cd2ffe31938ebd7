#include "platform/os_version.h"

#include <cstring>
#include <stdexcept>

#include "platform/os_file.h"

namespace brn {

namespace {

constexpr char kMagic[8] = {'B', 'R', 'N', 'V', 'E', 'R', 'S', '1'};
constexpr uint64_t kMaxSectionSize = 1 << 20;
constexpr uint32_t kNoBitsSection = 8;

// Reads the unsigned integer of size bytes at offset of data; false when it
// lies outside.
bool readUnsigned(const std::vector<uint8_t>& data, uint64_t offset, int size, bool bigEndian,
                  uint64_t& value) {
  if (offset > data.size() || uint64_t(size) > data.size() - offset) return false;
  value = 0;
  for (int i = 0; i < size; ++i) {
    int shift = 8 * (bigEndian ? size - 1 - i : i);
    value |= uint64_t(data[size_t(offset) + size_t(i)]) << shift;
  }
  return true;
}

bool readAt(TOSFileHandle handle, uint64_t offset, uint64_t count, std::vector<uint8_t>& data) {
  data.assign(size_t(count), 0);
  return OSReadFileAt(handle, data.data(), int64_t(count), int64_t(offset)) == int64_t(count);
}

struct ElfLayout {
  bool is64 = false;
  bool bigEndian = false;
  uint64_t sectionTable = 0, entrySize = 0, sectionCount = 0, namesIndex = 0;
};

bool readLayout(TOSFileHandle handle, ElfLayout& layout) {
  std::vector<uint8_t> header;
  // 64 bytes cover both headers; a file with sections is longer anyway.
  if (!readAt(handle, 0, 64, header)) return false;
  if (header[0] != 0x7F || header[1] != 'E' || header[2] != 'L' || header[3] != 'F') return false;
  if ((header[4] != 1 && header[4] != 2) || (header[5] != 1 && header[5] != 2)) return false;
  layout.is64 = header[4] == 2;
  layout.bigEndian = header[5] == 2;
  bool ok = layout.is64
                ? readUnsigned(header, 0x28, 8, layout.bigEndian, layout.sectionTable) &&
                      readUnsigned(header, 0x3A, 2, layout.bigEndian, layout.entrySize) &&
                      readUnsigned(header, 0x3C, 2, layout.bigEndian, layout.sectionCount) &&
                      readUnsigned(header, 0x3E, 2, layout.bigEndian, layout.namesIndex)
                : readUnsigned(header, 0x20, 4, layout.bigEndian, layout.sectionTable) &&
                      readUnsigned(header, 0x2E, 2, layout.bigEndian, layout.entrySize) &&
                      readUnsigned(header, 0x30, 2, layout.bigEndian, layout.sectionCount) &&
                      readUnsigned(header, 0x32, 2, layout.bigEndian, layout.namesIndex);
  uint64_t minimumEntry = layout.is64 ? 64 : 40;
  return ok && layout.sectionCount > 0 && layout.entrySize >= minimumEntry &&
         layout.namesIndex < layout.sectionCount;
}

struct Section {
  uint64_t name = 0, type = 0, offset = 0, size = 0;
};

bool readSection(const std::vector<uint8_t>& table, const ElfLayout& layout, uint64_t index,
                 Section& section) {
  uint64_t base = index * layout.entrySize;
  bool big = layout.bigEndian;
  if (layout.is64) {
    return readUnsigned(table, base, 4, big, section.name) &&
           readUnsigned(table, base + 4, 4, big, section.type) &&
           readUnsigned(table, base + 0x18, 8, big, section.offset) &&
           readUnsigned(table, base + 0x20, 8, big, section.size);
  }
  return readUnsigned(table, base, 4, big, section.name) &&
         readUnsigned(table, base + 4, 4, big, section.type) &&
         readUnsigned(table, base + 0x10, 4, big, section.offset) &&
         readUnsigned(table, base + 0x14, 4, big, section.size);
}

bool readSectionData(TOSFileHandle handle, int64_t fileSize, const Section& section,
                     std::vector<uint8_t>& data) {
  if (section.type == kNoBitsSection || section.size > kMaxSectionSize) return false;
  if (section.offset > uint64_t(fileSize) || section.size > uint64_t(fileSize) - section.offset) {
    return false;
  }
  return readAt(handle, section.offset, section.size, data);
}

bool findSection(TOSFileHandle handle, std::vector<uint8_t>& resource) {
  int64_t fileSize = OSGetFileSize(handle);
  ElfLayout layout;
  if (fileSize < 0 || !readLayout(handle, layout)) return false;
  uint64_t tableSize = layout.sectionCount * layout.entrySize;  // both below 65536
  if (layout.sectionTable > uint64_t(fileSize) ||
      tableSize > uint64_t(fileSize) - layout.sectionTable) {
    return false;
  }
  std::vector<uint8_t> table, names;
  Section namesSection;
  if (!readAt(handle, layout.sectionTable, tableSize, table) ||
      !readSection(table, layout, layout.namesIndex, namesSection) ||
      !readSectionData(handle, fileSize, namesSection, names)) {
    return false;
  }
  size_t wantedLength = std::strlen(OSVersionSectionName) + 1;
  for (uint64_t i = 0; i < layout.sectionCount; ++i) {
    Section section;
    if (!readSection(table, layout, i, section)) return false;
    if (section.name > names.size() || names.size() - section.name < wantedLength) continue;
    if (std::memcmp(names.data() + section.name, OSVersionSectionName, wantedLength) != 0) continue;
    return readSectionData(handle, fileSize, section, resource);
  }
  return false;
}

// Walks the entries; false when the resource is not well formed.
template <typename Visit>
bool walkEntries(const std::vector<uint8_t>& resource, Visit visit) {
  if (resource.size() < sizeof(kMagic) ||
      std::memcmp(resource.data(), kMagic, sizeof(kMagic)) != 0) {
    return false;
  }
  uint64_t offset = sizeof(kMagic);
  while (offset < resource.size()) {
    uint64_t keyLength, valueLength;
    if (!readUnsigned(resource, offset, 2, false, keyLength)) return false;
    offset += 2;
    if (keyLength > resource.size() - offset) return false;
    std::string_view key(reinterpret_cast<const char*>(resource.data()) + offset, keyLength);
    offset += keyLength;
    if (!readUnsigned(resource, offset, 4, false, valueLength)) return false;
    offset += 4;
    if (valueLength > resource.size() - offset) return false;
    std::string_view value(reinterpret_cast<const char*>(resource.data()) + offset, valueLength);
    offset += valueLength;
    if (visit(key, value)) return true;
  }
  return true;
}

bool sameKey(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char ca = a[i] >= 'a' && a[i] <= 'z' ? char(a[i] - 32) : a[i];
    char cb = b[i] >= 'a' && b[i] <= 'z' ? char(b[i] - 32) : b[i];
    if (ca != cb) return false;
  }
  return true;
}

}  // namespace

bool OSReadVersionResource(const char* nativePath, std::vector<uint8_t>& resource) {
  resource.clear();
  TOSFileHandle handle = OSOpenFile(nativePath, false, true, false);
  if (handle == InvalidOSFileHandle) return false;
  bool found =
      findSection(handle, resource) && walkEntries(resource, [](auto, auto) { return false; });
  OSCloseFile(handle);
  if (!found) resource.clear();
  return found;
}

bool OSQueryVersionValue(const std::vector<uint8_t>& resource, std::string_view key,
                         std::string_view& value) {
  bool found = false;
  walkEntries(resource, [&](std::string_view entryKey, std::string_view entryValue) {
    if (!sameKey(entryKey, key)) return false;
    value = entryValue;
    found = true;
    return true;
  });
  return found;
}

std::vector<uint8_t> OSBuildVersionResource(
    const std::vector<std::pair<std::string, std::string>>& entries) {
  std::vector<uint8_t> resource(kMagic, kMagic + sizeof(kMagic));
  auto append = [&resource](uint64_t value, int size) {
    for (int i = 0; i < size; ++i) resource.push_back(uint8_t(value >> (8 * i)));
  };
  for (const auto& [key, value] : entries) {
    if (key.size() > 0xFFFF || value.size() > 0xFFFFFFFFu) {
      throw std::length_error("Version entry too long");
    }
    append(key.size(), 2);
    resource.insert(resource.end(), key.begin(), key.end());
    append(value.size(), 4);
    resource.insert(resource.end(), value.begin(), value.end());
  }
  return resource;
}

}  // namespace brn

#include "platform/ini_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <system_error>

namespace brn {

namespace {

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

[[noreturn]] void ThrowFileError(const std::string& what, const std::string& fileName) {
  throw std::system_error(errno, std::generic_category(), what + " " + fileName);
}

}  // namespace

TBRNIniFile::TBRNIniFile(std::string fileName) : fileName_(std::move(fileName)) {
  if (::access(fileName_.c_str(), F_OK) != 0 && errno == ENOENT) return;
  std::ifstream in(fileName_, std::ios::binary);
  if (!in) ThrowFileError("Cannot read", fileName_);
  std::string line;
  Section* current = nullptr;
  while (std::getline(in, line)) {
    std::string_view text = Trim(line);
    if (text.empty() || text.front() == ';') continue;
    if (text.front() == '[' && text.back() == ']') {
      current = &SectionFor(Trim(text.substr(1, text.size() - 2)));
      continue;
    }
    size_t eq = text.find('=');
    if (current == nullptr || eq == std::string_view::npos) continue;
    std::string_view key = Trim(text.substr(0, eq));
    std::string_view value = Trim(text.substr(eq + 1));
    bool known = false;
    for (const Entry& entry : current->Entries) known = known || SameText(entry.Key, key);
    // The first of two equal keys counts, as when the file is searched.
    if (!known) current->Entries.push_back({std::string(key), std::string(value)});
  }
  if (in.bad()) ThrowFileError("Cannot read", fileName_);
}

const TBRNIniFile::Section* TBRNIniFile::FindSection(std::string_view name) const {
  for (const Section& section : sections_)
    if (SameText(section.Name, name)) return &section;
  return nullptr;
}

TBRNIniFile::Section& TBRNIniFile::SectionFor(std::string_view name) {
  for (Section& section : sections_)
    if (SameText(section.Name, name)) return section;
  sections_.push_back({std::string(name), {}});
  return sections_.back();
}

const TBRNIniFile::Entry* TBRNIniFile::FindEntry(std::string_view section,
                                                 std::string_view key) const {
  const Section* found = FindSection(section);
  if (found == nullptr) return nullptr;
  for (const Entry& entry : found->Entries)
    if (SameText(entry.Key, key)) return &entry;
  return nullptr;
}

bool TBRNIniFile::SectionExists(std::string_view section) const {
  return FindSection(section) != nullptr;
}

bool TBRNIniFile::ValueExists(std::string_view section, std::string_view key) const {
  return FindEntry(section, key) != nullptr;
}

std::string TBRNIniFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue) const {
  const Entry* entry = FindEntry(section, key);
  return std::string(entry != nullptr ? std::string_view(entry->Value) : defaultValue);
}

int64_t TBRNIniFile::ReadInteger(std::string_view section, std::string_view key,
                                 int64_t defaultValue) const {
  const Entry* entry = FindEntry(section, key);
  if (entry == nullptr) return defaultValue;
  std::string_view text = entry->Value;
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return defaultValue;
  return value;
}

bool TBRNIniFile::ReadBool(std::string_view section, std::string_view key,
                           bool defaultValue) const {
  return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

std::string TBRNIniFile::ReadText(std::string_view section, std::string_view key,
                                  std::string_view defaultValue) const {
  const Entry* entry = FindEntry(section, key);
  return entry != nullptr ? DecodeLineBreaks(entry->Value) : std::string(defaultValue);
}

void TBRNIniFile::WriteString(std::string_view section, std::string_view key,
                              std::string_view value) {
  Section& target = SectionFor(section);
  for (Entry& entry : target.Entries) {
    if (SameText(entry.Key, key)) {
      entry.Value = value;
      return;
    }
  }
  target.Entries.push_back({std::string(key), std::string(value)});
}

void TBRNIniFile::WriteInteger(std::string_view section, std::string_view key, int64_t value) {
  WriteString(section, key, std::to_string(value));
}

void TBRNIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void TBRNIniFile::WriteText(std::string_view section, std::string_view key,
                            std::string_view value) {
  WriteString(section, key, EncodeLineBreaks(value));
}

void TBRNIniFile::DeleteKey(std::string_view section, std::string_view key) {
  for (Section& target : sections_) {
    if (!SameText(target.Name, section)) continue;
    std::erase_if(target.Entries, [&](const Entry& entry) { return SameText(entry.Key, key); });
  }
}

std::vector<std::string> TBRNIniFile::ReadSection(std::string_view section) const {
  std::vector<std::string> keys;
  if (const Section* found = FindSection(section))
    for (const Entry& entry : found->Entries) keys.push_back(entry.Key);
  return keys;
}

void TBRNIniFile::UpdateFile(unsigned mode) const {
  std::string text;
  for (const Section& section : sections_) {
    text += "[" + section.Name + "]\n";
    for (const Entry& entry : section.Entries) text += entry.Key + "=" + entry.Value + "\n";
    text += "\n";
  }
  std::string temporary = fileName_ + ".new";
  // A temporary file left over from a failed save would keep its old mode:
  // the file is always made afresh.
  ::unlink(temporary.c_str());
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                  static_cast<mode_t>(mode));
  if (fd < 0) ThrowFileError("Cannot write", fileName_);
  size_t done = 0;
  while (done < text.size()) {
    ssize_t written = ::write(fd, text.data() + done, text.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      int saved = errno;
      ::close(fd);
      ::unlink(temporary.c_str());
      errno = saved;
      ThrowFileError("Cannot write", fileName_);
    }
    done += static_cast<size_t>(written);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    int saved = errno;
    ::unlink(temporary.c_str());
    errno = saved;
    ThrowFileError("Cannot write", fileName_);
  }
  if (::rename(temporary.c_str(), fileName_.c_str()) != 0) {
    int saved = errno;
    ::unlink(temporary.c_str());
    errno = saved;
    ThrowFileError("Cannot write", fileName_);
  }
}

std::string TBRNIniFile::EncodeLineBreaks(std::string_view value) {
  std::string result;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n') {
      result += LineBreakToken;
      ++i;
    } else if (value[i] == '\n' || value[i] == '\r') {
      // A lone CR or LF would split the line in the file.
      result += LineBreakToken;
    } else {
      result += value[i];
    }
  }
  return result;
}

std::string TBRNIniFile::DecodeLineBreaks(std::string_view value) {
  std::string result;
  size_t start = 0;
  for (size_t at = value.find(LineBreakToken); at != std::string_view::npos;
       at = value.find(LineBreakToken, start)) {
    result.append(value.substr(start, at - start));
    result += "\r\n";
    start = at + LineBreakToken.size();
  }
  result.append(value.substr(start));
  return result;
}

}  // namespace brn

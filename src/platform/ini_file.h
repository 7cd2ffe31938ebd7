#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brn {

// A settings file in INI form, held whole in memory: the constructor reads
// it, the write methods change only the memory, UpdateFile saves it back as
// a whole. Section and key names are compared without regard to case (ASCII
// letters); sections and keys keep the order in which they were first
// written, so a file written from scratch lists its keys in write order.
//
// Line breaks inside a value are stored as the token "<#CR#><#LF#>" by
// WriteText and turned back into CR LF by ReadText. Booleans are stored as
// "1" and "0" and read back as numbers (non-zero is true); a value that is
// not a whole decimal number reads as the default.
//
// Not thread-safe: one thread uses an instance at a time.
class TBRNIniFile {
 public:
  static constexpr std::string_view LineBreakToken = "<#CR#><#LF#>";

  // Reads the file; a missing file is an empty one. A file that exists but
  // cannot be read throws std::system_error.
  explicit TBRNIniFile(std::string fileName);

  const std::string& FileName() const { return fileName_; }

  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view key) const;

  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;
  int64_t ReadInteger(std::string_view section, std::string_view key, int64_t defaultValue) const;
  bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;
  // ReadString with the token turned into CR LF.
  std::string ReadText(std::string_view section, std::string_view key,
                       std::string_view defaultValue) const;

  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int64_t value);
  void WriteBool(std::string_view section, std::string_view key, bool value);
  // WriteString with CR LF (and a lone LF) turned into the token.
  void WriteText(std::string_view section, std::string_view key, std::string_view value);

  void DeleteKey(std::string_view section, std::string_view key);
  // The key names of a section in file order; empty when it is missing.
  std::vector<std::string> ReadSection(std::string_view section) const;

  // Saves the whole file: written beside it under another name, then renamed
  // over it, so a failed save leaves the old file whole. A failure throws
  // std::system_error. The file gets mode (before the umask); a file that
  // holds secrets passes 0600, so that it is never readable by others, not
  // even for a moment.
  void UpdateFile(unsigned mode = 0644) const;

  static std::string EncodeLineBreaks(std::string_view value);
  static std::string DecodeLineBreaks(std::string_view value);

 private:
  struct Entry {
    std::string Key;
    std::string Value;
  };
  struct Section {
    std::string Name;
    std::vector<Entry> Entries;
  };

  const Section* FindSection(std::string_view name) const;
  Section& SectionFor(std::string_view name);
  const Entry* FindEntry(std::string_view section, std::string_view key) const;

  std::string fileName_;
  std::vector<Section> sections_;
};

}  // namespace brn

#pragma once

#include <string>

namespace brn {

// The texts of a module file's version resource, read once by the
// constructor. Every text is empty when the file has no version resource (or
// cannot be read) or the entry is missing; FileName is always set.
class TBRNVersionInfo {
 public:
  explicit TBRNVersionInfo(const std::string& fileName);
  virtual ~TBRNVersionInfo() = default;

  std::string FileName;
  std::string FileDescription;
  std::string FileVersion;
  std::string OriginalFileName;
  std::string CompanyName;
  std::string ProductName;
  std::string ProductVersion;
  std::string InternalName;
  std::string LegalNotice;
};

}  // namespace brn

// The header of an update file: what SAVE UPDATES writes at the start of
// the file and LOAD UPDATES reads back (little-endian; a string is an int32
// byte length followed by the characters):
//   int32 header length, then the header: 16 bytes of the engine
//   signature's digest, description, database name, database path, int64
//   timestamp of the save, user name, int32 compression level of the
//   records, int32 table count, and per table its name, int64 section
//   offset (from the start of the file) and int64 section length.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brn {

class TBRNDigest;
class TBRNMemoryStream;

// The most tables an update file may list.
inline constexpr int32_t kBRNMaxUpdateFileTables = 4096;

struct TBRNUpdateFileSection {
  std::string TableName;
  int64_t Offset = 0;
  int64_t Length = 0;
};

struct TBRNUpdateFileHeader {
  std::string Description;
  std::string DatabaseName;
  std::string DatabasePath;
  int64_t Timestamp = 0;
  std::string UserName;
  int32_t Compression = 0;
  std::vector<TBRNUpdateFileSection> Sections;

  // The header with its length at target's position; the same fields give
  // the same number of bytes whatever the offsets and lengths hold.
  void WriteTo(TBRNMemoryStream& target, const TBRNDigest& signature) const;
};

enum class TBRNUpdateHeaderResult : uint8_t {
  Valid,
  // Too short, a length or count beyond the bytes that remain, a
  // compression level outside 0 to 9, or a section outside the file.
  Unreadable,
  // The first 16 bytes are not the signature's digest.
  BadSignature
};

// Reads the header from the start of file (untrusted bytes: every length
// and count is checked against the header's bytes, and each section
// against the file's size and the end of the header) and leaves file's
// position after the header. The signature is checked before any other
// field is read. header is unspecified unless the answer is Valid.
TBRNUpdateHeaderResult ParseUpdateFileHeader(TBRNMemoryStream& file, const TBRNDigest& signature,
                                             TBRNUpdateFileHeader& header);

}  // namespace brn

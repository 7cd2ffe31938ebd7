#include "sessions/publishing/update_file_header.h"

#include <algorithm>
#include <cstring>

#include "foundation/core/digest.h"
#include "foundation/core/memory_stream.h"

namespace brn {

namespace {

constexpr int32_t kSignatureLength = 16;

// Reads fields from a memory stream, never past limit (the header's end).
class TFieldReader {
 public:
  TFieldReader(TBRNMemoryStream& stream, int64_t limit) : stream_(stream), limit_(limit) {}

  int64_t Remaining() const { return limit_ - stream_.GetPosition(); }
  bool Bytes(void* buffer, int32_t count) {
    if (count < 0 || int64_t(count) > Remaining()) return false;
    return count == 0 || stream_.Read(buffer, count) == count;
  }
  bool Int32(int32_t& value) { return Bytes(&value, sizeof value); }
  bool Int64(int64_t& value) { return Bytes(&value, sizeof value); }
  bool String(std::string& value) {
    int32_t length = 0;
    if (!Int32(length) || length < 0 || int64_t(length) > Remaining()) return false;
    value.resize(size_t(length));
    return Bytes(value.data(), length);
  }

 private:
  TBRNMemoryStream& stream_;
  int64_t limit_;
};

}  // namespace

void TBRNUpdateFileHeader::WriteTo(TBRNMemoryStream& target, const TBRNDigest& signature) const {
  const int64_t lengthAt = target.GetPosition();
  target.WriteInteger(0);
  uint8_t digest[kSignatureLength] = {};
  std::memcpy(digest, signature.Digest.data(),
              std::min<size_t>(signature.Digest.size(), size_t(kSignatureLength)));
  target.Write(digest, kSignatureLength);
  target.WriteString(Description);
  target.WriteString(DatabaseName);
  target.WriteString(DatabasePath);
  target.WriteInt64(Timestamp);
  target.WriteString(UserName);
  target.WriteInteger(Compression);
  target.WriteInteger(int32_t(Sections.size()));
  for (const TBRNUpdateFileSection& section : Sections) {
    target.WriteString(section.TableName);
    target.WriteInt64(section.Offset);
    target.WriteInt64(section.Length);
  }
  const int64_t end = target.GetPosition();
  target.SetPosition(lengthAt);
  target.WriteInteger(int32_t(end - lengthAt - 4));
  target.SetPosition(end);
}

TBRNUpdateHeaderResult ParseUpdateFileHeader(TBRNMemoryStream& file, const TBRNDigest& signature,
                                             TBRNUpdateFileHeader& header) {
  const int64_t fileSize = file.GetSize();
  file.SetPosition(0);
  int32_t length = 0;
  if (fileSize < 4 || file.Read(&length, sizeof length) != int32_t(sizeof length)) {
    return TBRNUpdateHeaderResult::Unreadable;
  }
  if (length < kSignatureLength || int64_t(length) > fileSize - 4) {
    return TBRNUpdateHeaderResult::Unreadable;
  }
  const int64_t headerEnd = 4 + int64_t(length);
  TFieldReader reader(file, headerEnd);
  uint8_t digest[kSignatureLength];
  if (!reader.Bytes(digest, kSignatureLength)) return TBRNUpdateHeaderResult::Unreadable;
  if (signature.Digest.size() != size_t(kSignatureLength) ||
      std::memcmp(digest, signature.Digest.data(), kSignatureLength) != 0) {
    return TBRNUpdateHeaderResult::BadSignature;
  }
  int32_t count = 0;
  if (!reader.String(header.Description) || !reader.String(header.DatabaseName) ||
      !reader.String(header.DatabasePath) || !reader.Int64(header.Timestamp) ||
      !reader.String(header.UserName) || !reader.Int32(header.Compression) ||
      header.Compression < 0 || header.Compression > 9 || !reader.Int32(count) || count < 0 ||
      count > kBRNMaxUpdateFileTables) {
    return TBRNUpdateHeaderResult::Unreadable;
  }
  header.Sections.clear();
  for (int32_t i = 0; i < count; ++i) {
    TBRNUpdateFileSection section;
    if (!reader.String(section.TableName) || !reader.Int64(section.Offset) ||
        !reader.Int64(section.Length)) {
      return TBRNUpdateHeaderResult::Unreadable;
    }
    // A section lies after the header and inside the file.
    if (section.Length < 0 || section.Offset < headerEnd || section.Offset > fileSize ||
        section.Length > fileSize - section.Offset) {
      return TBRNUpdateHeaderResult::Unreadable;
    }
    header.Sections.push_back(std::move(section));
  }
  file.SetPosition(headerEnd);
  return TBRNUpdateHeaderResult::Valid;
}

}  // namespace brn

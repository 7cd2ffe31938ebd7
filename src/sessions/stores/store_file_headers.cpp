#include "sessions/stores/store_file_headers.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "foundation/core/digest.h"
#include "sessions/manager_interfaces.h"

namespace brn {

namespace {

constexpr int32_t kSignatureLength = 16;
constexpr int32_t kCatalogVersionLength = 8;

// Reads the fields of one header from a stream, never past the header's
// end: every read is checked against the header bytes that remain (which
// were checked against the stream's size), so a field's claimed length can
// never exceed what the file holds. Reads that come short make the header
// invalid.
class THeaderReader {
 public:
  explicit THeaderReader(TBRNStream& stream) : stream_(stream) {}

  // The int32 header length at the start of the stream.
  bool Begin() {
    stream_.SetPosition(0);
    int32_t length = 0;
    if (!raw(&length, sizeof length)) return false;
    const int64_t available = stream_.GetSize() - int64_t(sizeof length);
    if (length < 0 || int64_t(length) > available) return false;
    remaining_ = length;
    return true;
  }

  bool Bytes(void* buffer, int32_t count) {
    if (count < 0 || int64_t(count) > remaining_) return false;
    remaining_ -= count;
    return raw(buffer, count);
  }
  bool Int32(int32_t& value) { return Bytes(&value, sizeof value); }
  bool UInt32(uint32_t& value) { return Bytes(&value, sizeof value); }
  bool Int64(int64_t& value) { return Bytes(&value, sizeof value); }
  bool Byte(uint8_t& value) { return Bytes(&value, sizeof value); }
  bool String(std::string& value) {
    int32_t length = 0;
    if (!Int32(length) || length < 0 || int64_t(length) > remaining_) return false;
    value.resize(size_t(length));
    return Bytes(value.data(), length);
  }
  bool Skip(int32_t count) {
    if (count < 0 || int64_t(count) > remaining_) return false;
    remaining_ -= count;
    stream_.Seek(1, count);
    return true;
  }
  bool Signature(const TBRNDigest& signature) {
    uint8_t digest[kSignatureLength];
    if (!Bytes(digest, kSignatureLength)) return false;
    return signature.Digest.size() == size_t(kSignatureLength) &&
           std::memcmp(digest, signature.Digest.data(), kSignatureLength) == 0;
  }

 private:
  // The stream's values are little-endian, as is every host the engine
  // builds for.
  bool raw(void* buffer, int32_t count) {
    return count == 0 || stream_.Read(buffer, count) == count;
  }

  TBRNStream& stream_;
  int64_t remaining_ = 0;
};

// Signature, description, database name and path, time, user name and
// compression: the fields both headers begin with.
bool readCommonFields(THeaderReader& reader, const TBRNDigest& signature, TBRNStoreFile& record) {
  return reader.Signature(signature) && reader.String(record.Description) &&
         reader.String(record.DatabaseName) && reader.String(record.DatabasePath) &&
         reader.Int64(record.CreatedOn) && reader.String(record.CreatedBy) &&
         reader.Int32(record.CompressionLevel);
}

// The table count and the directory; checksum: the backup's entries carry a
// structure checksum before the offset.
bool readTables(THeaderReader& reader, bool checksum, TBRNStoreFile& record) {
  int32_t count = 0;
  if (!reader.Int32(count) || count < 0 || count > kBRNMaxStoreFileTables) return false;
  record.Tables.clear();
  for (int32_t i = 0; i < count; ++i) {
    std::string name;
    uint32_t structureChecksum = 0;
    int64_t offset = 0;
    int64_t size = 0;
    if (!reader.String(name) || (checksum && !reader.UInt32(structureChecksum)) ||
        !reader.Int64(offset) || !reader.Int64(size))
      return false;
    record.Tables.push_back(name + "\t" + std::to_string(size));
  }
  return true;
}

}  // namespace

bool ReadBackupFileHeader(TBRNStream& stream, const TBRNDigest& signature, TBRNStoreFile& record) {
  THeaderReader reader(stream);
  if (!reader.Begin() || !readCommonFields(reader, signature, record)) return false;
  uint8_t includesCatalog = 0;
  int32_t catalogLength = 0;
  if (!reader.Byte(includesCatalog) || !reader.Int32(catalogLength) || catalogLength < 0)
    return false;
  record.IncludesCatalog = includesCatalog != 0;
  record.CatalogVersion = 0;
  if (record.IncludesCatalog) {
    if (catalogLength < kCatalogVersionLength || !reader.Int64(record.CatalogVersion) ||
        !reader.Skip(catalogLength - kCatalogVersionLength))
      return false;
  } else if (!reader.Skip(catalogLength)) {
    return false;
  }
  if (!readTables(reader, true, record)) return false;
  record.Kind = int32_t(TBRNStoreFileKind::Backup);
  return true;
}

bool ReadUpdateFileHeader(TBRNStream& stream, const TBRNDigest& signature, TBRNStoreFile& record) {
  THeaderReader reader(stream);
  if (!reader.Begin() || !readCommonFields(reader, signature, record) ||
      !readTables(reader, false, record))
    return false;
  record.Kind = int32_t(TBRNStoreFileKind::Update);
  return true;
}

}  // namespace brn

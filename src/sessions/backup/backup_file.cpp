#include "sessions/backup/backup_file.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace brn {

namespace {

constexpr int32_t kSignatureLength = 16;

// Reads the fields of a header held in memory; every read is checked
// against the header bytes that remain.
class THeaderFields {
 public:
  explicit THeaderFields(const std::string& bytes) : bytes_(bytes) {}

  bool Bytes(void* target, int64_t count) {
    if (count < 0 || count > remaining()) return false;
    if (count > 0) std::memcpy(target, bytes_.data() + at_, size_t(count));
    at_ += size_t(count);
    return true;
  }
  bool Int32(int32_t& value) { return Bytes(&value, sizeof value); }
  bool UInt32(uint32_t& value) { return Bytes(&value, sizeof value); }
  bool Int64(int64_t& value) { return Bytes(&value, sizeof value); }
  bool Byte(uint8_t& value) { return Bytes(&value, sizeof value); }
  bool String(std::string& value) {
    int32_t length = 0;
    if (!Int32(length) || length < 0 || length > remaining()) return false;
    value.assign(bytes_, at_, size_t(length));
    at_ += size_t(length);
    return true;
  }
  int64_t remaining() const { return int64_t(bytes_.size() - at_); }

 private:
  const std::string& bytes_;
  size_t at_ = 0;
};

void writeString(TBRNMemoryStream& stream, const std::string& text) {
  stream.WriteInteger(int32_t(text.size()));
  if (!text.empty()) stream.Write(text.data(), int32_t(text.size()));
}

}  // namespace

void TBRNBackupHeader::Write(TBRNMemoryStream& stream) const {
  if (Signature.Digest.size() != size_t(kSignatureLength))
    throw std::logic_error("a backup header needs the 16-byte signature digest");
  stream.Write(Signature.Digest.data(), kSignatureLength);
  writeString(stream, Description);
  writeString(stream, DatabaseName);
  writeString(stream, DatabasePath);
  stream.WriteInt64(BackupTime);
  writeString(stream, UserName);
  stream.WriteInteger(Compression);
  stream.WriteByte(IncludesCatalog ? 1 : 0);
  const std::string& catalog = IncludesCatalog ? Catalog : std::string();
  stream.WriteInteger(CatalogLengthWritten ? int32_t(catalog.size()) : 0);
  if (!catalog.empty()) stream.Write(catalog.data(), int32_t(catalog.size()));
  stream.WriteInteger(int32_t(Tables.size()));
  for (const TBRNBackupTableEntry& entry : Tables) {
    writeString(stream, entry.Name);
    stream.WriteCardinal(entry.StructureChecksum);
    stream.WriteInt64(entry.Offset);
    stream.WriteInt64(entry.Size);
  }
}

TBRNBackupHeaderStatus ReadBackupHeader(TBRNStream& stream, const TBRNDigest& signature,
                                        TBRNBackupHeader& header) {
  const int64_t fileSize = stream.GetSize();
  stream.SetPosition(0);
  int32_t length = 0;
  if (stream.Read(&length, sizeof length) != int32_t(sizeof length)) {
    return TBRNBackupHeaderStatus::Unreadable;
  }
  const int64_t headerEnd = int64_t(sizeof length) + int64_t(length);
  if (length < kSignatureLength || headerEnd > fileSize) return TBRNBackupHeaderStatus::Unreadable;
  // Bounded by the file's own size, checked above.
  std::string bytes(size_t(length), '\0');
  if (stream.Read(bytes.data(), length) != length) return TBRNBackupHeaderStatus::Unreadable;

  THeaderFields fields(bytes);
  header.Signature.Digest.assign(size_t(kSignatureLength), 0);
  fields.Bytes(header.Signature.Digest.data(), kSignatureLength);
  if (signature.Digest.size() != size_t(kSignatureLength) ||
      std::memcmp(header.Signature.Digest.data(), signature.Digest.data(), kSignatureLength) != 0) {
    return TBRNBackupHeaderStatus::InvalidSignature;
  }
  uint8_t includesCatalog = 0;
  int32_t catalogLength = 0;
  if (!fields.String(header.Description) || !fields.String(header.DatabaseName) ||
      !fields.String(header.DatabasePath) || !fields.Int64(header.BackupTime) ||
      !fields.String(header.UserName) || !fields.Int32(header.Compression) ||
      !fields.Byte(includesCatalog) || !fields.Int32(catalogLength)) {
    return TBRNBackupHeaderStatus::Unreadable;
  }
  if (header.Compression < 0 || header.Compression > 9 || includesCatalog > 1 ||
      catalogLength < 0 || catalogLength > fields.remaining() ||
      (includesCatalog == 0 && catalogLength != 0)) {
    return TBRNBackupHeaderStatus::Unreadable;
  }
  header.IncludesCatalog = includesCatalog != 0;
  header.Catalog.assign(size_t(catalogLength), '\0');
  fields.Bytes(header.Catalog.data(), catalogLength);

  int32_t count = 0;
  if (!fields.Int32(count) || count < 0 || count > kBRNMaxBackupTables) {
    return TBRNBackupHeaderStatus::Unreadable;
  }
  header.Tables.clear();
  int64_t previous = headerEnd;
  for (int32_t i = 0; i < count; ++i) {
    TBRNBackupTableEntry entry;
    if (!fields.String(entry.Name) || !fields.UInt32(entry.StructureChecksum) ||
        !fields.Int64(entry.Offset) || !fields.Int64(entry.Size)) {
      return TBRNBackupHeaderStatus::Unreadable;
    }
    // The writer copies the tables in directory order, each after the
    // header and after the table before it.
    if (entry.Offset < previous || entry.Offset > fileSize || entry.Size < 0) {
      return TBRNBackupHeaderStatus::Unreadable;
    }
    previous = entry.Offset;
    header.Tables.push_back(std::move(entry));
  }
  if (fields.remaining() != 0) return TBRNBackupHeaderStatus::Unreadable;
  for (size_t i = 0; i < header.Tables.size(); ++i) {
    TBRNBackupTableEntry& entry = header.Tables[i];
    entry.End = i + 1 < header.Tables.size() ? header.Tables[i + 1].Offset : fileSize;
    // Raw chunks hold every byte of the files (plus their lengths); packed
    // ones at most the deflate limit.
    const int64_t stored = entry.End - entry.Offset;
    const int64_t factor = header.Compression > 0 ? kBRNMaxBackupExpansion : 1;
    if (stored > std::numeric_limits<int64_t>::max() / factor || entry.Size > stored * factor) {
      return TBRNBackupHeaderStatus::Unreadable;
    }
  }
  return TBRNBackupHeaderStatus::Valid;
}

// ---------------------------------------------------------------------------
// TBRNStreamWindow

TBRNStreamWindow::TBRNStreamWindow(TBRNStream& base, int64_t start, int64_t end)
    : base_(base), start_(start), end_(end) {
  if (start < 0 || end < start) throw std::invalid_argument("a stream window needs start <= end");
}

void TBRNStreamWindow::SetPosition(int64_t position) {
  position_ = std::clamp<int64_t>(position, 0, end_ - start_);
}

void TBRNStreamWindow::SetSize(int64_t) {
  throw std::logic_error("a stream window is read-only");
}

int64_t TBRNStreamWindow::Seek(uint8_t origin, int64_t offset) {
  int64_t from = origin == 0 ? 0 : origin == 1 ? position_ : end_ - start_;
  SetPosition(from + offset);
  return position_;
}

int32_t TBRNStreamWindow::Read(void* buffer, int32_t count) {
  if (count <= 0) return 0;
  const int64_t available = end_ - start_ - position_;
  const int32_t want = int32_t(std::min<int64_t>(count, std::max<int64_t>(available, 0)));
  if (want == 0) return 0;
  base_.SetPosition(start_ + position_);
  const int32_t done = base_.Read(buffer, want);
  if (done > 0) position_ += done;
  return std::max(done, 0);
}

int32_t TBRNStreamWindow::ReadIntoArray(TBRNBytes& bytes, int32_t offset, int32_t count) {
  if (offset < 0 || count < 0 || size_t(offset) + size_t(count) > bytes.size())
    throw std::out_of_range("ReadIntoArray beyond the array");
  return Read(bytes.data() + offset, count);
}

int32_t TBRNStreamWindow::WriteFromArray(const TBRNBytes&, int32_t, int32_t) {
  throw std::logic_error("a stream window is read-only");
}

int32_t TBRNStreamWindow::Write(const void*, int32_t) {
  throw std::logic_error("a stream window is read-only");
}

}  // namespace brn

// The backup file of BACKUP DATABASE and RESTORE DATABASE: an int32 header
// length, the header (signature digest, description, database name and
// path, backup time, user, compression, the catalog, the table directory),
// then the table data at the offsets the directory gives.
//
// Every number read from a backup is untrusted: the reader checks each
// length, count, offset and size against the bytes the file holds before
// it is used, so a damaged file never leads to an allocation of a claimed
// size or to a read outside the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/core/digest.h"
#include "foundation/core/memory_stream.h"
#include "foundation/core/stream.h"

namespace brn {

// The most tables a backup's directory may list.
inline constexpr int32_t kBRNMaxBackupTables = 4096;
// Deflate never packs more than this many bytes into one stored byte; a
// compressed table whose files claim more than this factor times its stored
// bytes is damaged.
inline constexpr int64_t kBRNMaxBackupExpansion = 1040;

// One table of the directory.
struct TBRNBackupTableEntry {
  std::string Name;
  uint32_t StructureChecksum = 0;
  // From the start of the file.
  int64_t Offset = 0;
  // The sum of the sizes of the table's files when they were copied.
  int64_t Size = 0;
  // Run-time only (reader): where the table's data ends, the next table's
  // offset or the end of the file.
  int64_t End = 0;
};

struct TBRNBackupHeader {
  TBRNDigest Signature;
  std::string Description;
  std::string DatabaseName;
  std::string DatabasePath;
  int64_t BackupTime = 0;
  std::string UserName;
  int32_t Compression = 0;
  bool IncludesCatalog = false;
  // The catalog's stored form; written only when IncludesCatalog.
  std::string Catalog;
  // Written as 0 while the data is still being copied (the first header).
  bool CatalogLengthWritten = true;
  std::vector<TBRNBackupTableEntry> Tables;

  // The header bytes, without the leading length.
  void Write(TBRNMemoryStream& stream) const;
};

enum class TBRNBackupHeaderStatus : uint8_t {
  Valid,
  // Too short, or a field that does not fit the header or the file.
  Unreadable,
  InvalidSignature,
};

// Reads the header from the start of stream and checks it: every string
// and the catalog inside the header, at most kBRNMaxBackupTables tables,
// each offset between the end of the header and the end of the file and
// not before the previous table's, and each size possible for the bytes
// the table occupies. On Valid, each entry's End is set; otherwise header
// holds what was read so far.
TBRNBackupHeaderStatus ReadBackupHeader(TBRNStream& stream, const TBRNDigest& signature,
                                        TBRNBackupHeader& header);

// A read-only view of the bytes [start, end) of another stream: positions
// are relative to start, reads stop at end. The table data of one table is
// read through it, so that damage can never read into another table's data
// or past the file. The base stream outlives the window, and nobody else
// moves the base stream's position while the window is read.
class TBRNStreamWindow : public TBRNStream {
 public:
  // Preconditions: 0 <= start <= end <= base.GetSize().
  TBRNStreamWindow(TBRNStream& base, int64_t start, int64_t end);

  int64_t GetPosition() const override { return position_; }
  void SetPosition(int64_t position) override;
  int64_t GetSize() const override { return end_ - start_; }
  // std::logic_error: the window is read-only.
  void SetSize(int64_t size) override;
  int64_t Seek(uint8_t origin, int64_t offset) override;
  int32_t ReadIntoArray(TBRNBytes& bytes, int32_t offset, int32_t count) override;
  int32_t Read(void* buffer, int32_t count) override;
  int32_t WriteFromArray(const TBRNBytes& bytes, int32_t offset, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;

 private:
  TBRNStream& base_;
  int64_t start_;
  int64_t end_;
  int64_t position_ = 0;
};

}  // namespace brn

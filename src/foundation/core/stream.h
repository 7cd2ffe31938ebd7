#pragma once

#include <cstddef>
#include <cstdint>

#include "foundation/core/bytes.h"

namespace brn {

// The engine's abstract byte stream with 64-bit positions. The memory stream
// and the file stream derive from it; the CRC, integer and copy helpers here
// work through the abstract readers and writers.
class TBRNStream {
 public:
  TBRNStream() = default;
  TBRNStream(const TBRNStream&) = delete;
  TBRNStream& operator=(const TBRNStream&) = delete;
  virtual ~TBRNStream() = default;

  virtual int64_t GetPosition() const = 0;
  virtual void SetPosition(int64_t position) = 0;
  virtual int64_t GetSize() const = 0;
  virtual void SetSize(int64_t size) = 0;

  // The CRC-32 register (see UpdateCRC32Register) over the first count bytes
  // (0 = the whole stream), read from offset 0; stops early at the end of the
  // stream. The position is restored afterwards, also on error.
  virtual uint32_t CalculateCRC32(int32_t count);

  // Origin 0 = from the beginning, 1 = from the position, 2 = from the end.
  virtual int64_t Seek(uint8_t origin, int64_t offset) = 0;

  // Reads up to count bytes into bytes[offset...]; returns the bytes read.
  virtual int32_t ReadIntoArray(TBRNBytes& bytes, int32_t offset, int32_t count) = 0;
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  // Four little-endian bytes; value is 0 when fewer than 4 came. Returns the
  // bytes read.
  virtual int32_t ReadLongInt(int32_t& value);
  virtual int32_t ReadLongWord(uint32_t& value);

  virtual int32_t WriteFromArray(const TBRNBytes& bytes, int32_t offset, int32_t count) = 0;
  virtual int32_t Write(const void* buffer, int32_t count) = 0;
  virtual int32_t WriteLongInt(int32_t value);
  virtual int32_t WriteLongWord(uint32_t value);

  // Copies count bytes (0 = the whole source, read from its start) from
  // source in chunks of at most 64 KiB; returns the bytes written.
  virtual int64_t CopyFrom(TBRNStream& source, int64_t count);
};

// The register of the standard CRC-32 (reflected polynomial 0xEDB88320),
// advanced over count bytes. The engine starts it at 0xFFFFFFFF and stores it
// without the final complement: zlib's crc32(c, ...) equals
// ~UpdateCRC32Register(~c, ...).
uint32_t UpdateCRC32Register(uint32_t crc, const uint8_t* data, size_t count);

inline constexpr uint32_t kCRC32Start = 0xFFFFFFFF;

}  // namespace brn

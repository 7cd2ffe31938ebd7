#include "foundation/stream.h"

#include <algorithm>
#include <array>

#include "foundation/byte_order.h"

namespace brn {

namespace {

constexpr size_t kChunkSize = 65536;

// Slicing-by-8 tables: row 0 is the classic byte table, row k advances a byte
// that sits k positions further ahead.
constexpr std::array<std::array<uint32_t, 256>, 8> MakeCRC32Tables() {
  std::array<std::array<uint32_t, 256>, 8> tables{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t crc = i;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    tables[0][i] = crc;
  }
  for (size_t k = 1; k < 8; ++k) {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t previous = tables[k - 1][i];
      tables[k][i] = (previous >> 8) ^ tables[0][previous & 0xFF];
    }
  }
  return tables;
}

constexpr auto kCRC32Tables = MakeCRC32Tables();

}  // namespace

uint32_t UpdateCRC32Register(uint32_t crc, const uint8_t* data, size_t count) {
  const auto& t = kCRC32Tables;
  while (count >= 8) {
    uint32_t low = LoadLittleEndian<uint32_t>(data) ^ crc;
    uint32_t high = LoadLittleEndian<uint32_t>(data + 4);
    crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
          t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^ t[1][(high >> 16) & 0xFF] ^
          t[0][high >> 24];
    data += 8;
    count -= 8;
  }
  while (count-- != 0) crc = t[0][(crc ^ *data++) & 0xFF] ^ (crc >> 8);
  return crc;
}

uint32_t TBRNStream::CalculateCRC32(int32_t count) {
  int64_t saved = GetPosition();
  int64_t wanted = count > 0 ? count : count == 0 ? GetSize() : 0;
  uint32_t crc = kCRC32Start;
  try {
    SetPosition(0);
    TBRNBytes chunk(size_t(std::min<int64_t>(std::max<int64_t>(wanted, 0), kChunkSize)));
    while (wanted > 0) {
      int32_t got = ReadIntoArray(chunk, 0, int32_t(std::min<int64_t>(wanted, kChunkSize)));
      if (got <= 0) break;
      crc = UpdateCRC32Register(crc, chunk.data(), size_t(got));
      wanted -= got;
    }
  } catch (...) {
    SetPosition(saved);
    throw;
  }
  SetPosition(saved);
  return crc;
}

int32_t TBRNStream::ReadLongInt(int32_t& value) {
  uint32_t raw = 0;
  int32_t got = ReadLongWord(raw);
  value = int32_t(raw);
  return got;
}

int32_t TBRNStream::ReadLongWord(uint32_t& value) {
  TBRNBytes bytes(4);
  int32_t got = ReadIntoArray(bytes, 0, 4);
  value = got == 4 ? LoadLittleEndian<uint32_t>(bytes.data()) : 0;
  return got;
}

int32_t TBRNStream::WriteLongInt(int32_t value) {
  return WriteLongWord(uint32_t(value));
}

int32_t TBRNStream::WriteLongWord(uint32_t value) {
  TBRNBytes bytes(4);
  StoreLittleEndian(bytes.data(), value);
  return WriteFromArray(bytes, 0, 4);
}

int64_t TBRNStream::CopyFrom(TBRNStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.GetSize();
  }
  if (count <= 0) return 0;
  TBRNBytes chunk(size_t(std::min<int64_t>(count, kChunkSize)));
  int64_t copied = 0;
  while (copied < count) {
    int32_t want = int32_t(std::min<int64_t>(int64_t(chunk.size()), count - copied));
    int32_t got = source.ReadIntoArray(chunk, 0, want);
    if (got <= 0) break;
    int32_t written = WriteFromArray(chunk, 0, got);
    copied += written;
    if (written < got) break;
  }
  return copied;
}

}  // namespace brn

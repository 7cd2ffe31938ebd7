#include "foundation/core/stream.h"

#include <algorithm>
#include <array>

#include "foundation/core/byte_order.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define BRN_CRC32_CLMUL 1
#endif

namespace brn {

namespace {

constexpr size_t kChunkSize = 65536;

// Slicing-by-16 tables: row 0 is the classic byte table, row k advances a
// byte that sits k positions further ahead.
constexpr std::array<std::array<uint32_t, 256>, 16> MakeCRC32Tables() {
  std::array<std::array<uint32_t, 256>, 16> tables{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t crc = i;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    tables[0][i] = crc;
  }
  for (size_t k = 1; k < 16; ++k) {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t previous = tables[k - 1][i];
      tables[k][i] = (previous >> 8) ^ tables[0][previous & 0xFF];
    }
  }
  return tables;
}

constexpr auto kCRC32Tables = MakeCRC32Tables();

uint32_t UpdateCRC32Table(uint32_t crc, const uint8_t* data, size_t count) {
  const auto& t = kCRC32Tables;
  while (count >= 16) {
    uint32_t w0 = LoadLittleEndian<uint32_t>(data) ^ crc;
    uint32_t w1 = LoadLittleEndian<uint32_t>(data + 4);
    uint32_t w2 = LoadLittleEndian<uint32_t>(data + 8);
    uint32_t w3 = LoadLittleEndian<uint32_t>(data + 12);
    crc = t[15][w0 & 0xFF] ^ t[14][(w0 >> 8) & 0xFF] ^ t[13][(w0 >> 16) & 0xFF] ^ t[12][w0 >> 24] ^
          t[11][w1 & 0xFF] ^ t[10][(w1 >> 8) & 0xFF] ^ t[9][(w1 >> 16) & 0xFF] ^ t[8][w1 >> 24] ^
          t[7][w2 & 0xFF] ^ t[6][(w2 >> 8) & 0xFF] ^ t[5][(w2 >> 16) & 0xFF] ^ t[4][w2 >> 24] ^
          t[3][w3 & 0xFF] ^ t[2][(w3 >> 8) & 0xFF] ^ t[1][(w3 >> 16) & 0xFF] ^ t[0][w3 >> 24];
    data += 16;
    count -= 16;
  }
  while (count-- != 0) crc = t[0][(crc ^ *data++) & 0xFF] ^ (crc >> 8);
  return crc;
}

#ifdef BRN_CRC32_CLMUL

#define BRN_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

BRN_CLMUL_TARGET inline __m128i Load128(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// lane x k (both halves, carry-less) xor next.
BRN_CLMUL_TARGET inline __m128i Fold128(__m128i lane, __m128i next, __m128i k) {
  __m128i low = _mm_clmulepi64_si128(lane, k, 0x00);
  __m128i high = _mm_clmulepi64_si128(lane, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(high, low), next);
}

// Carry-less multiplication folds 64 bytes at a time into four 128-bit
// lanes, then to one lane and by Barrett reduction to the 32-bit register.
// The constants are powers of x modulo the reflected polynomial. count >= 64
// and a multiple of 16.
BRN_CLMUL_TARGET uint32_t UpdateCRC32Clmul(uint32_t crc, const uint8_t* data, size_t count) {
  const __m128i k1k2 = _mm_set_epi64x(0x01C6E41596, 0x0154442BD4);
  const __m128i k3k4 = _mm_set_epi64x(0x00CCAA009E, 0x01751997D0);
  const __m128i k5 = _mm_set_epi64x(0, 0x0163CD6124);
  const __m128i polyMu = _mm_set_epi64x(0x01F7011641, 0x01DB710641);
  const __m128i lowMask = _mm_setr_epi32(-1, 0, -1, 0);

  __m128i x1 = _mm_xor_si128(Load128(data), _mm_cvtsi32_si128(int32_t(crc)));
  __m128i x2 = Load128(data + 16);
  __m128i x3 = Load128(data + 32);
  __m128i x4 = Load128(data + 48);
  data += 64;
  count -= 64;
  for (; count >= 64; data += 64, count -= 64) {
    x1 = Fold128(x1, Load128(data), k1k2);
    x2 = Fold128(x2, Load128(data + 16), k1k2);
    x3 = Fold128(x3, Load128(data + 32), k1k2);
    x4 = Fold128(x4, Load128(data + 48), k1k2);
  }
  x1 = Fold128(x1, x2, k3k4);
  x1 = Fold128(x1, x3, k3k4);
  x1 = Fold128(x1, x4, k3k4);
  for (; count >= 16; data += 16, count -= 16) x1 = Fold128(x1, Load128(data), k3k4);

  // 128 bits to 64.
  __m128i x = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k3k4, 0x10));
  x = _mm_xor_si128(_mm_srli_si128(x, 4),
                    _mm_clmulepi64_si128(_mm_and_si128(x, lowMask), k5, 0x00));
  // Barrett reduction to 32 bits.
  __m128i quotient = _mm_clmulepi64_si128(_mm_and_si128(x, lowMask), polyMu, 0x10);
  __m128i product = _mm_clmulepi64_si128(_mm_and_si128(quotient, lowMask), polyMu, 0x00);
  return uint32_t(_mm_extract_epi32(_mm_xor_si128(x, product), 1));
}

bool DetectClmul() {
  __builtin_cpu_init();  // may run before the runtime's own initialisation
  return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}

const bool kHasClmul = DetectClmul();

#endif

}  // namespace

uint32_t UpdateCRC32Register(uint32_t crc, const uint8_t* data, size_t count) {
#ifdef BRN_CRC32_CLMUL
  if (count >= 64 && kHasClmul) {
    size_t folded = count & ~size_t(15);
    crc = UpdateCRC32Clmul(crc, data, folded);
    data += folded;
    count -= folded;
  }
#endif
  return UpdateCRC32Table(crc, data, count);
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

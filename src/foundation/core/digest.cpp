#include "foundation/core/digest.h"

#include <bit>
#include <cstring>
#include <stdexcept>

#include "foundation/core/byte_order.h"
#include "foundation/core/stream.h"

namespace brn {

namespace {

// The per-step additive constants: floor(abs(sin(i + 1)) * 2^32).
constexpr uint32_t kSine[64] = {
    0xD76AA478, 0xE8C7B756, 0x242070DB, 0xC1BDCEEE, 0xF57C0FAF, 0x4787C62A, 0xA8304613, 0xFD469501,
    0x698098D8, 0x8B44F7AF, 0xFFFF5BB1, 0x895CD7BE, 0x6B901122, 0xFD987193, 0xA679438E, 0x49B40821,
    0xF61E2562, 0xC040B340, 0x265E5A51, 0xE9B6C7AA, 0xD62F105D, 0x02441453, 0xD8A1E681, 0xE7D3FBC8,
    0x21E1CDE6, 0xC33707D6, 0xF4D50D87, 0x455A14ED, 0xA9E3E905, 0xFCEFA3F8, 0x676F02D9, 0x8D2A4C8A,
    0xFFFA3942, 0x8771F681, 0x6D9D6122, 0xFDE5380C, 0xA4BEEA44, 0x4BDECFA9, 0xF6BB4B60, 0xBEBFBC70,
    0x289B7EC6, 0xEAA127FA, 0xD4EF3085, 0x04881D05, 0xD9D4D039, 0xE6DB99E5, 0x1FA27CF8, 0xC4AC5665,
    0xF4292244, 0x432AFF97, 0xAB9423A7, 0xFC93A039, 0x655B59C3, 0x8F0CCC92, 0xFFEFF47D, 0x85845DD1,
    0x6FA87E4F, 0xFE2CE6E0, 0xA3014314, 0x4E0811A1, 0xF7537E82, 0xBD3AF235, 0x2AD7D2BB, 0xEB86D391,
};

}  // namespace

TBRNDigest::TBRNDigest() {
  Initialize();
}

void TBRNDigest::Initialize() {
  State[0] = 0x67452301;
  State[1] = 0xEFCDAB89;
  State[2] = 0x98BADCFE;
  State[3] = 0x10325476;
  BitCount[0] = BitCount[1] = 0;
  std::memset(Buffer, 0, sizeof(Buffer));
  Digest.assign(16, 0);
  std::memset(PaddingBlock, 0, sizeof(PaddingBlock));
  PaddingBlock[0] = 0x80;
}

void TBRNDigest::DigestString(const std::string& s) {
  Initialize();
  Update(s.data(), s.size());
  Finalize();
}

void TBRNDigest::Update(const TBRNBytes& data, int32_t count) {
  if (count < 0 || size_t(count) > data.size()) {
    throw std::out_of_range("Digest update beyond the byte array");
  }
  Update(data.data(), size_t(count));
}

void TBRNDigest::Update(const void* data, size_t count) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  size_t filled = (BitCount[0] >> 3) & 63;
  uint64_t bits = (uint64_t(BitCount[1]) << 32 | BitCount[0]) + (uint64_t(count) << 3);
  BitCount[0] = uint32_t(bits);
  BitCount[1] = uint32_t(bits >> 32);

  if (filled != 0) {
    size_t take = 64 - filled;
    if (count < take) {
      std::memcpy(Buffer + filled, bytes, count);
      return;
    }
    std::memcpy(Buffer + filled, bytes, take);
    Transform(Buffer);
    bytes += take;
    count -= take;
  }
  for (; count >= 64; count -= 64, bytes += 64) Transform(bytes);
  if (count != 0) std::memcpy(Buffer, bytes, count);
}

void TBRNDigest::Finalize() {
  uint8_t lengthBytes[8];
  StoreLittleEndian(lengthBytes, BitCount[0]);
  StoreLittleEndian(lengthBytes + 4, BitCount[1]);
  size_t filled = (BitCount[0] >> 3) & 63;
  size_t padding = filled < 56 ? 56 - filled : 120 - filled;
  Update(PaddingBlock, padding);
  Update(lengthBytes, 8);
  Digest.resize(16);
  for (int i = 0; i < 4; ++i) StoreLittleEndian(Digest.data() + 4 * i, State[i]);
  std::memset(State, 0, sizeof(State));
  BitCount[0] = BitCount[1] = 0;
  std::memset(Buffer, 0, sizeof(Buffer));
}

void TBRNDigest::Transform(const uint8_t* block) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = LoadLittleEndian<uint32_t>(block + 4 * i);
  uint32_t a = State[0], b = State[1], c = State[2], d = State[3];

  // Four rounds of sixteen steps; each step mixes one word of the block.
  auto step = [](uint32_t& w, uint32_t mixed, uint32_t word, uint32_t constant, int shift,
                 uint32_t next) { w = next + std::rotl(w + mixed + word + constant, shift); };
  constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
  for (int i = 0; i < 64; ++i) {
    uint32_t mixed;
    int word;
    int round = i >> 4;
    switch (round) {
      case 0:
        mixed = (b & c) | (~b & d);
        word = i;
        break;
      case 1:
        mixed = (d & b) | (~d & c);
        word = (5 * i + 1) & 15;
        break;
      case 2:
        mixed = b ^ c ^ d;
        word = (3 * i + 5) & 15;
        break;
      default:
        mixed = c ^ (b | ~d);
        word = (7 * i) & 15;
        break;
    }
    step(a, mixed, x[word], kSine[i], kShift[round][i & 3], b);
    uint32_t rotated = d;
    d = c;
    c = b;
    b = a;
    a = rotated;
  }
  State[0] += a;
  State[1] += b;
  State[2] += c;
  State[3] += d;
}

bool TBRNDigest::Equals(const TBRNDigest& other) const {
  // A digest is always 16 bytes; compare defensively over what both hold.
  return Digest.size() == other.Digest.size() &&
         std::memcmp(Digest.data(), other.Digest.data(), Digest.size()) == 0;
}

int32_t TBRNDigest::SaveToStream(TBRNStream& stream) const {
  return stream.WriteFromArray(Digest, 0, int32_t(Digest.size()));
}

int32_t TBRNDigest::LoadFromStream(TBRNStream& stream) {
  Digest.resize(16);
  return stream.ReadIntoArray(Digest, 0, 16);
}

}  // namespace brn

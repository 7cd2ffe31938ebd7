#include "host/security/aes.h"

#include <cstring>

#include "host/security/secure_wipe.h"

namespace brn {

namespace {

constexpr uint8_t multiply(uint8_t a, uint8_t b) {
  unsigned product = 0;
  unsigned value = a;
  for (; b != 0; b >>= 1) {
    if (b & 1) product ^= value;
    value <<= 1;
    if (value & 0x100) value ^= 0x11B;  // x^8 + x^4 + x^3 + x + 1
  }
  return static_cast<uint8_t>(product);
}

// The S-box from its definition: the multiplicative inverse in GF(2^8)
// (0 for 0), then the affine map with the constant 0x63.
struct TBoxes {
  uint8_t Forward[256];
  uint8_t Inverse[256];
};

constexpr TBoxes makeBoxes() {
  TBoxes boxes{};
  for (int x = 0; x < 256; ++x) {
    // x^254 is the inverse of x (and 0 for 0).
    uint8_t inverse = 1;
    uint8_t power = static_cast<uint8_t>(x);
    for (unsigned exponent = 254; exponent != 0; exponent >>= 1) {
      if (exponent & 1) inverse = multiply(inverse, power);
      power = multiply(power, power);
    }
    unsigned s = inverse;
    unsigned result = inverse;
    for (int i = 0; i < 4; ++i) {
      s = ((s << 1) | (s >> 7)) & 0xFF;
      result ^= s;
    }
    result ^= 0x63;
    boxes.Forward[x] = static_cast<uint8_t>(result);
    boxes.Inverse[result] = static_cast<uint8_t>(x);
  }
  return boxes;
}

constexpr TBoxes kBoxes = makeBoxes();

// The state is column-major as in the definition: byte r + 4c is row r of
// column c.
void addRoundKey(uint8_t* state, const uint8_t* key) {
  for (int i = 0; i < 16; ++i) state[i] ^= key[i];
}

void shiftRows(uint8_t* state, bool inverse) {
  uint8_t copy[16];
  std::memcpy(copy, state, 16);
  for (int r = 1; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      const int from = inverse ? (c - r + 4) % 4 : (c + r) % 4;
      state[r + 4 * c] = copy[r + 4 * from];
    }
  }
}

void mixColumns(uint8_t* state, bool inverse) {
  const uint8_t row[4] = {
      static_cast<uint8_t>(inverse ? 0x0E : 0x02), static_cast<uint8_t>(inverse ? 0x0B : 0x03),
      static_cast<uint8_t>(inverse ? 0x0D : 0x01), static_cast<uint8_t>(inverse ? 0x09 : 0x01)};
  for (int c = 0; c < 4; ++c) {
    uint8_t* column = state + 4 * c;
    uint8_t result[4];
    for (int r = 0; r < 4; ++r) {
      uint8_t value = 0;
      for (int k = 0; k < 4; ++k) value ^= multiply(row[(k - r + 4) % 4], column[k]);
      result[r] = value;
    }
    std::memcpy(column, result, 4);
  }
}

}  // namespace

TBRNAes256::TBRNAes256(const uint8_t* key) {
  constexpr int words = KeySize / 4;  // Nk = 8
  std::memcpy(roundKeys_.data(), key, KeySize);
  uint8_t roundConstant = 1;
  for (size_t i = words; i < roundKeys_.size() / 4; ++i) {
    uint8_t temp[4];
    std::memcpy(temp, roundKeys_.data() + 4 * (i - 1), 4);
    if (i % words == 0) {
      const uint8_t first = temp[0];
      temp[0] = static_cast<uint8_t>(kBoxes.Forward[temp[1]] ^ roundConstant);
      temp[1] = kBoxes.Forward[temp[2]];
      temp[2] = kBoxes.Forward[temp[3]];
      temp[3] = kBoxes.Forward[first];
      roundConstant = multiply(roundConstant, 2);
    } else if (i % words == 4) {
      for (uint8_t& byte : temp) byte = kBoxes.Forward[byte];
    }
    for (int k = 0; k < 4; ++k) roundKeys_[4 * i + k] = roundKeys_[4 * (i - words) + k] ^ temp[k];
    WipeBuffer(temp, sizeof(temp));
  }
}

TBRNAes256::~TBRNAes256() {
  WipeBuffer(roundKeys_.data(), roundKeys_.size());
}

void TBRNAes256::EncryptBlock(const uint8_t* in, uint8_t* out) const {
  uint8_t state[16];
  std::memcpy(state, in, 16);
  addRoundKey(state, roundKeys_.data());
  for (int round = 1; round <= rounds_; ++round) {
    for (uint8_t& byte : state) byte = kBoxes.Forward[byte];
    shiftRows(state, false);
    if (round != rounds_) mixColumns(state, false);
    addRoundKey(state, roundKeys_.data() + 16 * round);
  }
  std::memcpy(out, state, 16);
  WipeBuffer(state, sizeof(state));
}

void TBRNAes256::DecryptBlock(const uint8_t* in, uint8_t* out) const {
  uint8_t state[16];
  std::memcpy(state, in, 16);
  addRoundKey(state, roundKeys_.data() + 16 * rounds_);
  for (int round = rounds_ - 1; round >= 0; --round) {
    shiftRows(state, true);
    for (uint8_t& byte : state) byte = kBoxes.Inverse[byte];
    addRoundKey(state, roundKeys_.data() + 16 * round);
    if (round != 0) mixColumns(state, true);
  }
  std::memcpy(out, state, 16);
  WipeBuffer(state, sizeof(state));
}

}  // namespace brn

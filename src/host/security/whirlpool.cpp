#include "host/security/whirlpool.h"

#include <cstring>
#include <stdexcept>

#include "host/security/secure_wipe.h"

namespace brn {

namespace {

// The original S-box of the 2000 design (pseudo-randomly generated, not the
// mini-box S-box of the later versions).
constexpr uint8_t kSBox[256] = {
    0x68, 0xd0, 0xeb, 0x2b, 0x48, 0x9d, 0x6a, 0xe4, 0xe3, 0xa3, 0x56, 0x81, 0x7d, 0xf1, 0x85, 0x9e,
    0x2c, 0x8e, 0x78, 0xca, 0x17, 0xa9, 0x61, 0xd5, 0x5d, 0x0b, 0x8c, 0x3c, 0x77, 0x51, 0x22, 0x42,
    0x3f, 0x54, 0x41, 0x80, 0xcc, 0x86, 0xb3, 0x18, 0x2e, 0x57, 0x06, 0x62, 0xf4, 0x36, 0xd1, 0x6b,
    0x1b, 0x65, 0x75, 0x10, 0xda, 0x49, 0x26, 0xf9, 0xcb, 0x66, 0xe7, 0xba, 0xae, 0x50, 0x52, 0xab,
    0x05, 0xf0, 0x0d, 0x73, 0x3b, 0x04, 0x20, 0xfe, 0xdd, 0xf5, 0xb4, 0x5f, 0x0a, 0xb5, 0xc0, 0xa0,
    0x71, 0xa5, 0x2d, 0x60, 0x72, 0x93, 0x39, 0x08, 0x83, 0x21, 0x5c, 0x87, 0xb1, 0xe0, 0x00, 0xc3,
    0x12, 0x91, 0x8a, 0x02, 0x1c, 0xe6, 0x45, 0xc2, 0xc4, 0xfd, 0xbf, 0x44, 0xa1, 0x4c, 0x33, 0xc5,
    0x84, 0x23, 0x7c, 0xb0, 0x25, 0x15, 0x35, 0x69, 0xff, 0x94, 0x4d, 0x70, 0xa2, 0xaf, 0xcd, 0xd6,
    0x6c, 0xb7, 0xf8, 0x09, 0xf3, 0x67, 0xa4, 0xea, 0xec, 0xb6, 0xd4, 0xd2, 0x14, 0x1e, 0xe1, 0x24,
    0x38, 0xc6, 0xdb, 0x4b, 0x7a, 0x3a, 0xde, 0x5e, 0xdf, 0x95, 0xfc, 0xaa, 0xd7, 0xce, 0x07, 0x0f,
    0x3d, 0x58, 0x9a, 0x98, 0x9c, 0xf2, 0xa7, 0x11, 0x7e, 0x8b, 0x43, 0x03, 0xe2, 0xdc, 0xe5, 0xb2,
    0x4e, 0xc7, 0x6d, 0xe9, 0x27, 0x40, 0xd8, 0x37, 0x92, 0x8f, 0x01, 0x1d, 0x53, 0x3e, 0x59, 0xc1,
    0x4f, 0x32, 0x16, 0xfa, 0x74, 0xfb, 0x63, 0x9f, 0x34, 0x1a, 0x2a, 0x5a, 0x8d, 0xc9, 0xcf, 0xf6,
    0x90, 0x28, 0x88, 0x9b, 0x31, 0x0e, 0xbd, 0x4a, 0xe8, 0x96, 0xa6, 0x0c, 0xc8, 0x79, 0xbc, 0xbe,
    0xef, 0x6e, 0x46, 0x97, 0x5b, 0xed, 0x19, 0xd9, 0xac, 0x99, 0xa8, 0x29, 0x64, 0x1f, 0xad, 0x55,
    0x13, 0xbb, 0xf7, 0x6f, 0xb9, 0x47, 0x2f, 0xee, 0xb8, 0x7b, 0x89, 0x30, 0xd3, 0x7f, 0x76, 0x82,
};

// The first row of the circulant diffusion matrix.
constexpr uint8_t kMatrixRow[8] = {1, 1, 3, 1, 5, 8, 9, 5};
constexpr int kRounds = 10;

constexpr uint8_t multiply(uint8_t a, uint8_t b) {
  unsigned product = 0;
  unsigned value = a;
  for (; b != 0; b >>= 1) {
    if (b & 1) product ^= value;
    value <<= 1;
    if (value & 0x100) value ^= 0x11D;  // x^8 + x^4 + x^3 + x^2 + 1
  }
  return static_cast<uint8_t>(product);
}

// Rows of the state are 64-bit words, column 0 in the most significant
// byte. Table[t][x] is the contribution of the byte x in column t (before
// the S-box) to a row of the result: the S-box, then the row of the matrix
// that multiplies column t, so that one round is eight lookups per row.
struct TRoundTables {
  uint64_t Table[8][256];
  uint64_t Constants[kRounds];
};

constexpr TRoundTables makeTables() {
  TRoundTables tables{};
  for (int t = 0; t < 8; ++t) {
    for (int x = 0; x < 256; ++x) {
      uint64_t word = 0;
      for (int j = 0; j < 8; ++j) {
        word = (word << 8) | multiply(kSBox[x], kMatrixRow[(j - t + 8) % 8]);
      }
      tables.Table[t][x] = word;
    }
  }
  for (int r = 0; r < kRounds; ++r) {
    uint64_t word = 0;
    for (int j = 0; j < 8; ++j) word = (word << 8) | kSBox[8 * r + j];
    tables.Constants[r] = word;
  }
  return tables;
}

constexpr TRoundTables kTables = makeTables();

// One round: S-box, the cyclic shift of column t down by t rows, the matrix
// and the round key.
void round(const uint64_t* in, const uint64_t* key, uint64_t* out) {
  for (int i = 0; i < 8; ++i) {
    uint64_t row = key[i];
    for (int t = 0; t < 8; ++t) {
      const uint64_t source = in[(i - t + 8) % 8];
      row ^= kTables.Table[t][(source >> (56 - 8 * t)) & 0xFF];
    }
    out[i] = row;
  }
}

}  // namespace

TBRNWhirlpool0::~TBRNWhirlpool0() {
  WipeBuffer(hash_.data(), sizeof(hash_));
  WipeBuffer(buffer_.data(), sizeof(buffer_));
}

void TBRNWhirlpool0::processBlock(const uint8_t* block) {
  uint64_t message[8];
  uint64_t key[8];
  uint64_t state[8];
  uint64_t next[8];
  for (int i = 0; i < 8; ++i) {
    uint64_t row = 0;
    for (int j = 0; j < 8; ++j) row = (row << 8) | block[8 * i + j];
    message[i] = row;
    key[i] = hash_[i];
    state[i] = row ^ key[i];
  }
  for (int r = 0; r < kRounds; ++r) {
    uint64_t constant[8] = {kTables.Constants[r], 0, 0, 0, 0, 0, 0, 0};
    round(key, constant, next);
    std::memcpy(key, next, sizeof(key));
    round(state, key, next);
    std::memcpy(state, next, sizeof(state));
  }
  for (int i = 0; i < 8; ++i) hash_[i] ^= state[i] ^ message[i];
  WipeBuffer(message, sizeof(message));
  WipeBuffer(key, sizeof(key));
  WipeBuffer(state, sizeof(state));
  WipeBuffer(next, sizeof(next));
}

void TBRNWhirlpool0::Update(const void* data, size_t size) {
  if (finished_) throw std::logic_error("Whirlpool-0 updated after Final");
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  length_ += size;
  while (size > 0) {
    const size_t take = std::min(size, buffer_.size() - buffered_);
    std::memcpy(buffer_.data() + buffered_, bytes, take);
    buffered_ += take;
    bytes += take;
    size -= take;
    if (buffered_ == buffer_.size()) {
      processBlock(buffer_.data());
      buffered_ = 0;
    }
  }
}

void TBRNWhirlpool0::Final(uint8_t* digest) {
  if (finished_) throw std::logic_error("Whirlpool-0 finished twice");
  finished_ = true;
  buffer_[buffered_++] = 0x80;
  // The bit count takes the last 32 bytes of a block.
  if (buffered_ > 32) {
    std::memset(buffer_.data() + buffered_, 0, buffer_.size() - buffered_);
    processBlock(buffer_.data());
    buffered_ = 0;
  }
  std::memset(buffer_.data() + buffered_, 0, buffer_.size() - buffered_);
  const uint64_t bits = length_ * 8;
  const uint64_t high = length_ >> 61;
  for (int i = 0; i < 8; ++i) {
    buffer_[63 - i] = static_cast<uint8_t>(bits >> (8 * i));
    buffer_[55 - i] = static_cast<uint8_t>(high >> (8 * i));
  }
  processBlock(buffer_.data());
  for (int i = 0; i < 8; ++i) {
    for (int j = 0; j < 8; ++j) digest[8 * i + j] = static_cast<uint8_t>(hash_[i] >> (56 - 8 * j));
  }
}

TBRNWhirlpool0::TDigest TBRNWhirlpool0::Final() {
  TDigest digest;
  Final(digest.data());
  return digest;
}

TBRNWhirlpool0::TDigest TBRNWhirlpool0::Hash(std::string_view data) {
  TBRNWhirlpool0 hash;
  hash.Update(data);
  return hash.Final();
}

}  // namespace brn

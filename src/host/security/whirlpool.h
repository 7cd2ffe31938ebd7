#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace brn {

// The first (2000) version of the Whirlpool hash, Whirlpool-0: a 512-bit
// digest from ten rounds of a 64-byte block cipher over GF(2^8) modulo
// x^8 + x^4 + x^3 + x^2 + 1 with the original S-box and the circulant
// diffusion matrix with the row 1, 1, 3, 1, 5, 8, 9, 5, chained in the
// Miyaguchi-Preneel mode; the message is padded with a 0x80 byte, zeros and
// its length in bits as a 256-bit big-endian number. It is not the later
// final Whirlpool, whose S-box and matrix differ, and it exists only to
// derive the key of the stored administrator password.
//
// One object hashes one message: Update any number of times, then Final.
// The state is overwritten when the object goes. Not thread-safe.
class TBRNWhirlpool0 {
 public:
  static constexpr size_t DigestSize = 64;
  using TDigest = std::array<uint8_t, DigestSize>;

  TBRNWhirlpool0() = default;
  ~TBRNWhirlpool0();
  TBRNWhirlpool0(const TBRNWhirlpool0&) = delete;
  TBRNWhirlpool0& operator=(const TBRNWhirlpool0&) = delete;

  void Update(const void* data, size_t size);
  void Update(std::string_view data) { Update(data.data(), data.size()); }
  // Pads, hashes the last block and writes the digest; the object may not be
  // updated afterwards (std::logic_error).
  void Final(uint8_t* digest);
  TDigest Final();

  static TDigest Hash(std::string_view data);

 private:
  void processBlock(const uint8_t* block);

  std::array<uint64_t, 8> hash_{};
  std::array<uint8_t, 64> buffer_{};
  size_t buffered_ = 0;
  // The message length in bytes; the padding's 256-bit count needs no more
  // than the 64 bits a process can hash.
  uint64_t length_ = 0;
  bool finished_ = false;
};

}  // namespace brn

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace brn {

// AES with a 256-bit key (Rijndael with a 16-byte block and 14 rounds), one
// block at a time; the chaining modes belong to the caller. The expanded
// key is overwritten when the object goes. An object may be used by one
// thread at a time.
class TBRNAes256 {
 public:
  static constexpr size_t KeySize = 32;
  static constexpr size_t BlockSize = 16;

  explicit TBRNAes256(const uint8_t* key);
  ~TBRNAes256();
  TBRNAes256(const TBRNAes256&) = delete;
  TBRNAes256& operator=(const TBRNAes256&) = delete;

  // in and out may be the same buffer.
  void EncryptBlock(const uint8_t* in, uint8_t* out) const;
  void DecryptBlock(const uint8_t* in, uint8_t* out) const;

 private:
  static constexpr int rounds_ = 14;
  // Round keys as bytes, 16 per round, in encryption order.
  std::array<uint8_t, BlockSize*(rounds_ + 1)> roundKeys_{};
};

}  // namespace brn

#pragma once

#include <cstdint>

namespace brn {

// The Blowfish block cipher with a CBC chain. A block's halves are the
// big-endian words of bytes 0-3 and 4-7, as in the published test vectors.
class TBRNBlowfish {
 public:
  // Keys the cipher (keyLength 1..72 bytes; the key schedule cycles through
  // it) and sets IV and the chain block to the 8 bytes at ivBytes, or to
  // zeros when ivBytes is null.
  void Initialize(const uint8_t* key, int32_t keyLength, const uint8_t* ivBytes = nullptr);

  // In place, on the 8 bytes at buffer + offset.
  void EncryptBlock(uint8_t* buffer, int32_t offset) const;
  void DecryptBlock(uint8_t* buffer, int32_t offset) const;
  void EncryptCBC(uint8_t* buffer, int32_t offset);
  void DecryptCBC(uint8_t* buffer, int32_t offset);
  void ResetChain();

 private:
  // The round function F of one half.
  uint32_t Round(uint32_t x) const;
  // The sixteen rounds over the two halves; decryption runs them with the
  // P-array reversed.
  template <bool Decrypting>
  void CipherWords(uint32_t& left, uint32_t& right) const;
  // The rounds over the 8 bytes at block, in place.
  template <bool Decrypting>
  void CipherBlock(uint8_t* block) const;

  uint8_t IV[8] = {};
  uint8_t ChainBlock[8] = {};
  uint32_t PArray[18] = {};
  uint32_t SBoxes[4][256] = {};
};

}  // namespace brn

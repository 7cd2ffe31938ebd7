#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "foundation/core/bytes.h"

namespace brn {

class TBRNStream;

// MD5 digests (RFC 1321). The engine keeps and compares digests of its
// signature and of its encryption password instead of the texts.
class TBRNDigest {
 public:
  // Create: runs Initialize.
  TBRNDigest();
  virtual ~TBRNDigest() = default;

  // Digest of the 8-bit characters of s, left in Digest.
  void DigestString(const std::string& s);

  void Initialize();
  // Adds the first count bytes of data (count <= its length).
  void Update(const TBRNBytes& data, int32_t count);
  void Update(const void* data, size_t count);
  // Pads, stores the 16 bytes in Digest and wipes the working state.
  void Finalize();
  // One 64-byte block into State.
  void Transform(const uint8_t* block);

  void Assign(const TBRNDigest& other) { Digest = other.Digest; }
  bool Equals(const TBRNDigest& other) const;

  // The 16 digest bytes without prefix; return the bytes written or read. A
  // short read leaves the rest of Digest as it was.
  int32_t SaveToStream(TBRNStream& stream) const;
  int32_t LoadFromStream(TBRNStream& stream);

  // The result of the last computation: 16 bytes, zero after Initialize.
  TBRNBytes Digest;

 private:
  uint32_t State[4] = {};
  uint32_t BitCount[2] = {};  // message length in bits, low word first
  uint8_t Buffer[64] = {};
  uint8_t PaddingBlock[64] = {};
};

}  // namespace brn

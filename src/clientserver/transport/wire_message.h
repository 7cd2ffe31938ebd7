#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "foundation/core/digest.h"
#include "foundation/core/memory_stream.h"

namespace brn {

class TBRNCommsManager;

// The frame of every message between a remote client and the server: a
// 32-byte header that is never compressed or encrypted, then the payload.
//   0-15  MD5 digest of the sender's signature
//   16-19 padded size: the bytes on the wire, header included, a multiple of 8
//   20-23 real size: header plus (compressed) payload, before padding
//   24-27 compression code: the level used, or used + 10 x requested when
//         they differ
//   28-31 code: the request or callback code; in a reply the result code
// All integers are little-endian int32.
inline constexpr int32_t kBRNCommsHeaderSize = 32;
// Message buffers grow in steps of this size and shrink back to it.
inline constexpr int32_t kBRNCommsBlockSize = 8192;
// A transfer moves at most this many bytes per socket call.
inline constexpr int32_t kBRNCommsPieceSize = 65536;
// Padded sizes from here on are refused whatever the receiver's cap.
inline constexpr int32_t kBRNCommsSizeLimit = 0x7FFFFFE0;
// The default cap of a received message (padded size, and header plus the
// inflated payload).
inline constexpr int32_t kBRNCommsDefaultMaxMessageSize = 256 * 1024 * 1024;

// Request codes whose messages are encrypted even on a plain transport (they
// carry a password): Login to Session, the login prompt callback and its
// answer.
inline constexpr int32_t kBRNCommsLoginCode = 3;
inline constexpr int32_t kBRNCommsLoginPromptCode = 9000;
inline constexpr int32_t kBRNCommsLoginAnswerCode = 9998;

inline constexpr const char* kBRNInvalidSignatureMessage =
    "The stream signature received is invalid";
inline constexpr const char* kBRNInvalidSizeMessage = "The stream size received is invalid";
inline constexpr const char* kBRNSignatureNotReceivedMessage =
    "The stream signature was not received";

// Failures of a message frame (a bad or missing header). Not an engine error:
// the owner of the transport decides what a broken connection means.
class EBRNCommsException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// True when a padded size, real size and compression code may be accepted by
// a receiver whose cap is maxMessageSize: 32 <= real <= padded, padded a
// multiple of 8 with fewer than 8 bytes of padding, padded within the cap and
// below kBRNCommsSizeLimit, and the code 0-99 (a level 0-9, or used level +
// 10 x requested level).
bool IsValidCommsHeader(int32_t paddedSize, int32_t realSize, int32_t compressionCode,
                        int32_t maxMessageSize);

// The buffer of one message, owned by a TBRNCommsRequest. Its cipher is keyed
// with the digest of the transport's encryption password (zero IV); its
// digest is that of the transport's signature. The four header values are
// kept in the public fields below; WriteHeader stores them in bytes 0-31 and
// ReadHeader loads and checks them.
// Used by one thread at a time (the transport's).
class TBRNCommsMemoryStream : public TBRNMemoryStream {
 public:
  // The transport must outlive the stream. The stream starts reset.
  explicit TBRNCommsMemoryStream(TBRNCommsManager& transport);

  TBRNCommsManager& GetTransport() const { return *transport_; }

  // Size 32 (the header, zeroed), position 32, both sizes 32, compression
  // code and code 0, and the capacity shrunk back to 8192 bytes.
  void Reset();
  // Bytes after the header: size - 32 (negative only before a reset).
  int32_t GetPayloadSize() const { return Size - kBRNCommsHeaderSize; }

  // Sets the real size to the size, pads the stream with zeros to the next
  // multiple of 8 and writes the header at position 0. The position is left
  // after the header.
  virtual void WriteHeader();
  // Checks the 32 header bytes at the start of the stream (precondition:
  // size >= 32) and, when they pass, loads the header fields and sets the
  // size to the padded size; nothing is allocated for a refused header.
  // Raises EBRNCommsException "The stream signature received is invalid"
  // for a digest of neither the configured nor the default signature, and
  // "The stream size received is invalid" when IsValidCommsHeader refuses
  // the sizes or the code under the transport's MaxMessageSize.
  virtual void ReadHeader();

  TBRNDigest Digest;
  int32_t PaddedSize = kBRNCommsHeaderSize;
  int32_t RealSize = kBRNCommsHeaderSize;
  int32_t CompressionCode = 0;
  int32_t Code = 0;

 private:
  TBRNCommsManager* transport_;
};

}  // namespace brn

#include "clientserver/transport/wire_message.h"

#include <algorithm>

#include "clientserver/transport/comms_manager.h"
#include "sessions/engine_settings.h"

namespace brn {

bool IsValidCommsHeader(int32_t paddedSize, int32_t realSize, int32_t compressionCode,
                        int32_t maxMessageSize) {
  if (realSize < kBRNCommsHeaderSize || realSize > paddedSize) return false;
  if (paddedSize % 8 != 0 || paddedSize - realSize >= 8) return false;
  if (paddedSize >= kBRNCommsSizeLimit || paddedSize > maxMessageSize) return false;
  return compressionCode >= 0 && compressionCode <= 99;
}

TBRNCommsMemoryStream::TBRNCommsMemoryStream(TBRNCommsManager& transport) : transport_(&transport) {
  BlockSize = kBRNCommsBlockSize;
  const TBRNEngineManagerSettings& settings = transport.GetSettings();
  Digest.Assign(settings.GetSignatureDigest());
  SetEncryptionKey(settings.GetEncryptionDigest());
  Reset();
}

void TBRNCommsMemoryStream::Reset() {
  // Shrinking is allowed for this call only, so that one large message does
  // not pin its memory in a pooled request. The buffer shrinks before the
  // size drops, so only what stays is zeroed.
  ShrinkOnResize = true;
  SetCapacity(kBRNCommsBlockSize);
  ShrinkOnResize = false;
  SetSize(kBRNCommsHeaderSize);
  std::fill(Memory, Memory + kBRNCommsHeaderSize, uint8_t(0));
  Position = kBRNCommsHeaderSize;
  PaddedSize = kBRNCommsHeaderSize;
  RealSize = kBRNCommsHeaderSize;
  CompressionCode = 0;
  Code = 0;
}

void TBRNCommsMemoryStream::WriteHeader() {
  RealSize = Size;
  int64_t padded = (int64_t(RealSize) + 7) / 8 * 8;
  if (padded >= kBRNCommsSizeLimit) throw std::length_error("A message may not exceed 2 GiB");
  PaddedSize = int32_t(padded);
  SetSize(PaddedSize);
  Position = 0;
  Digest.SaveToStream(*this);
  WriteInteger(PaddedSize);
  WriteInteger(RealSize);
  WriteInteger(CompressionCode);
  WriteInteger(Code);
}

void TBRNCommsMemoryStream::ReadHeader() {
  if (Size < kBRNCommsHeaderSize) throw std::logic_error("ReadHeader needs the 32 header bytes");
  TBRNDigest received;
  Position = 0;
  received.LoadFromStream(*this);
  if (!transport_->GetSettings().IsValidSignature(received)) {
    throw EBRNCommsException(kBRNInvalidSignatureMessage);
  }
  int32_t paddedSize = ReadInteger();
  int32_t realSize = ReadInteger();
  int32_t compressionCode = ReadInteger();
  int32_t code = ReadInteger();
  if (!IsValidCommsHeader(paddedSize, realSize, compressionCode, transport_->MaxMessageSize)) {
    throw EBRNCommsException(kBRNInvalidSizeMessage);
  }
  PaddedSize = paddedSize;
  RealSize = realSize;
  CompressionCode = compressionCode;
  Code = code;
  SetSize(PaddedSize);
}

}  // namespace brn

#include "foundation/core/memory_stream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <typeinfo>

#include "foundation/core/blowfish.h"
#include "foundation/core/digest.h"
#include "foundation/core/numeric_helpers.h"

namespace brn {

namespace {

constexpr int64_t kMaxStreamSize = std::numeric_limits<int32_t>::max();

[[noreturn]] void RaiseTooLarge() {
  throw std::length_error("Memory stream cannot hold 2 GiB or more");
}

}  // namespace

TBRNMemoryStream::TBRNMemoryStream() = default;

TBRNMemoryStream::~TBRNMemoryStream() {
  if (OwnsMemory) std::free(Memory);
}

void TBRNMemoryStream::SetBlockSize(int32_t blockSize) {
  if (blockSize <= 0) throw std::invalid_argument("Memory stream block size must be positive");
  BlockSize = blockSize;
}

void TBRNMemoryStream::CheckOwnsMemory() const {
  if (!OwnsMemory) {
    throw std::logic_error("Cannot reallocate memory stream when stream does not own memory");
  }
}

void TBRNMemoryStream::SetCapacity(int32_t bytes) {
  if (bytes < 0) throw std::invalid_argument("Memory stream capacity cannot be negative");
  int32_t newCapacity = RoundUpToMultiple(bytes, BlockSize);
  if (newCapacity == 0) {
    if (Memory != nullptr) {
      CheckOwnsMemory();
      std::free(Memory);
      Memory = nullptr;
    }
    Capacity = 0;
    Size = 0;
    return;
  }
  if (newCapacity == Capacity || (newCapacity < Capacity && !ShrinkOnResize)) return;
  CheckOwnsMemory();
  auto* grown = static_cast<uint8_t*>(std::realloc(Memory, size_t(newCapacity)));
  if (grown == nullptr) throw std::bad_alloc();
  Memory = grown;
  if (newCapacity > Capacity) {
    std::memset(Memory + Capacity, 0, size_t(newCapacity - Capacity));
  } else if (Size > bytes) {
    std::memset(Memory + bytes, 0, size_t(std::min(Size, newCapacity) - bytes));
    Size = bytes;
  }
  Capacity = newCapacity;
}

void TBRNMemoryStream::AttachMemory(void* memory, int32_t size) {
  if (size < 0 || (memory == nullptr && size > 0)) {
    throw std::invalid_argument("Invalid memory for a memory stream");
  }
  if (OwnsMemory) std::free(Memory);
  Memory = static_cast<uint8_t*>(memory);
  OwnsMemory = false;
  Size = Capacity = size;
  Position = 0;
}

void TBRNMemoryStream::SetPosition(int64_t position) {
  Position = int32_t(std::clamp<int64_t>(position, 0, Size));
}

void TBRNMemoryStream::SetSize(int64_t size) {
  if (size == Size) return;
  if (size < 0) throw std::invalid_argument("Memory stream size cannot be negative");
  if (size > kMaxStreamSize) RaiseTooLarge();
  CheckOwnsMemory();
  SetCapacity(int32_t(size));
  // Keeps the bytes beyond Size zero (SetCapacity has cut Size already when
  // it reallocated downwards).
  if (size < Size) std::memset(Memory + size, 0, size_t(Size - size));
  Size = int32_t(size);
  if (Position > Size) Position = Size;
}

int64_t TBRNMemoryStream::Seek(uint8_t origin, int64_t offset) {
  int64_t base;
  switch (origin) {
    case 0:
      base = 0;
      break;
    case 1:
      base = Position;
      break;
    case 2:
      base = Size;
      break;
    default:
      throw std::invalid_argument("Invalid seek origin");
  }
  // |base| < 2^31, so this range keeps the sum inside int64.
  if (offset > kMaxStreamSize * 2 || offset < -kMaxStreamSize * 2) RaiseTooLarge();
  int64_t target = base + offset;
  if (target > kMaxStreamSize) RaiseTooLarge();
  if (target < std::numeric_limits<int32_t>::min()) {
    throw std::out_of_range("Memory stream position out of range");
  }
  Position = int32_t(target);
  return Position;
}

uint32_t TBRNMemoryStream::CalculateCRC32(int32_t count) {
  int32_t bytes = count == 0 ? Size : std::clamp(count, 0, Size);
  return UpdateCRC32Register(kCRC32Start, Memory, size_t(bytes));
}

void TBRNMemoryStream::CheckRange(int64_t position, int64_t count) const {
  if (position < 0 || count < 0 || position + count > Size) {
    throw std::out_of_range("Memory stream range out of bounds");
  }
}

int32_t TBRNMemoryStream::ResolveCount(int32_t count) const {
  if (count == 0) return Available();
  CheckRange(Position, count);
  return count;
}

int32_t TBRNMemoryStream::Read(void* buffer, int32_t count) {
  int32_t n = std::min(count, Available());
  if (n <= 0) return 0;
  std::memcpy(buffer, Memory + Position, size_t(n));
  Position += n;
  return n;
}

int32_t TBRNMemoryStream::ReadIntoArray(TBRNBytes& bytes, int32_t offset, int32_t count) {
  if (count <= 0) return 0;
  if (offset < 0 || int64_t(offset) + count > int64_t(bytes.size())) {
    throw std::out_of_range("Read beyond the byte array");
  }
  return Read(bytes.data() + offset, count);
}

void TBRNMemoryStream::PrepareWrite(int32_t count) {
  if (Position < 0) throw std::out_of_range("Cannot write before the start of a memory stream");
  if (count < 0) throw std::invalid_argument("Negative write count");
  int64_t end = int64_t(Position) + count;
  if (end > kMaxStreamSize) RaiseTooLarge();
  WriteEnd = int32_t(end);
  if (Size < WriteEnd) {
    SetSize(WriteEnd);
    if (Size < WriteEnd) throw std::logic_error("Memory stream did not grow for a write");
  }
}

uint8_t* TBRNMemoryStream::GrowForWrite(int32_t count) {
  PlainGrowth = typeid(*this) == typeid(TBRNMemoryStream);
  PrepareWrite(count);
  uint8_t* target = Memory + Position;
  Position += count;
  return target;
}

int32_t TBRNMemoryStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  std::memcpy(ReserveWrite(count), buffer, size_t(count));
  return count;
}

int32_t TBRNMemoryStream::WriteFromArray(const TBRNBytes& bytes, int32_t offset, int32_t count) {
  if (count <= 0) return 0;
  if (offset < 0 || int64_t(offset) + count > int64_t(bytes.size())) {
    throw std::out_of_range("Write beyond the byte array");
  }
  std::memcpy(ReserveWrite(count), bytes.data() + offset, size_t(count));
  return count;
}

void TBRNMemoryStream::FillZeros(int32_t count) {
  count = ResolveCount(count);
  if (count == 0) return;
  std::memset(Memory + Position, 0, size_t(count));
  Position += count;
}

void TBRNMemoryStream::PeekInto(TBRNMemoryStream& target, int32_t count) {
  count = ResolveCount(count);
  target.CheckRange(target.Position, count);
  if (count == 0) return;
  std::memmove(target.Memory + target.Position, Memory + Position, size_t(count));
}

void TBRNMemoryStream::OpenGap(int32_t count, int32_t endPos) {
  if (count <= 0) return;
  CheckRange(Position, int64_t(endPos) - Position);
  CheckRange(int64_t(Position) + count, int64_t(endPos) - Position);
  std::memmove(Memory + Position + count, Memory + Position, size_t(endPos - Position));
}

void TBRNMemoryStream::CloseGap(int32_t count, int32_t endPos) {
  if (count <= 0) return;
  CheckRange(Position, int64_t(endPos) - Position);
  if (int64_t(Position) + count > endPos) throw std::out_of_range("Gap larger than its range");
  std::memmove(Memory + Position, Memory + Position + count, size_t(endPos - Position - count));
  std::memset(Memory + endPos - count, 0, size_t(count));
}

int32_t TBRNMemoryStream::WriteToStream(TBRNStream& target, int32_t count) {
  count = ResolveCount(count);
  if (count == 0) return 0;
  int32_t written = std::clamp(target.Write(Memory + Position, count), 0, count);
  Position += written;
  return written;
}

int32_t TBRNMemoryStream::SaveToStream(TBRNStream& target, int32_t count) {
  if (count == 0) count = Size;
  CheckRange(0, count);
  if (count == 0) return 0;
  return target.Write(Memory, count);
}

int32_t TBRNMemoryStream::ReadFromStream(TBRNStream& source, int64_t count) {
  if (count == 0) {
    count = std::min<int64_t>(source.GetSize() - source.GetPosition(), Available());
    if (count <= 0) return 0;
  }
  CheckRange(Position, count);
  int32_t got = std::clamp(source.Read(Memory + Position, int32_t(count)), 0, int32_t(count));
  Position += got;
  return got;
}

int32_t TBRNMemoryStream::LoadFromStream(TBRNStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.GetSize();
    if (count == 0) return 0;
  }
  if (count < 0) throw std::invalid_argument("Negative load count");
  if (count > kMaxStreamSize) RaiseTooLarge();
  if (Size < count) {
    SetSize(count);
    if (Size < count) throw std::logic_error("Memory stream did not grow for a load");
  }
  return std::clamp(source.Read(Memory, int32_t(count)), 0, int32_t(count));
}

void TBRNMemoryStream::SetEncryptionKey(const TBRNDigest& digest) {
  if (digest.Digest.size() != 16) throw std::invalid_argument("An encryption key is 16 bytes");
  if (!Cipher) Cipher = std::make_unique<TBRNBlowfish>();
  Cipher->Initialize(digest.Digest.data(), 16, nullptr);
}

void TBRNMemoryStream::Encrypt(int32_t count) {
  CipherUnits(count, &TBRNBlowfish::EncryptCBC);
}

void TBRNMemoryStream::Decrypt(int32_t count) {
  CipherUnits(count, &TBRNBlowfish::DecryptCBC);
}

void TBRNMemoryStream::CipherUnits(int32_t count, void (TBRNBlowfish::*step)(uint8_t*, int32_t)) {
  count = ResolveCount(count);
  if (!Cipher) throw std::logic_error("Memory stream has no encryption key");
  // Each call is its own chain: equal regions encrypted by separate calls
  // give equal ciphertext.
  for (int32_t unit = count / 8; unit > 0; --unit, Position += 8)
    ((*Cipher).*step)(Memory, Position);
  Cipher->ResetChain();
}

void TBRNMemoryStream::WritePrefixed(const uint8_t* data, int32_t length, bool shortLength) {
  if (shortLength && length > 0xFFFF) {
    throw std::length_error("A short length prefix holds at most 65535 bytes");
  }
  int32_t prefixWidth = shortLength ? 2 : 4;
  if (int64_t(length) + prefixWidth > kMaxStreamSize) RaiseTooLarge();
  uint8_t* target = ReserveWrite(length + prefixWidth);
  if (shortLength) {
    StoreLittleEndian(target, uint16_t(length));
  } else {
    StoreLittleEndian(target, length);
  }
  if (length > 0) std::memcpy(target + prefixWidth, data, size_t(length));
}

void TBRNMemoryStream::ReadPrefixed(int32_t& start, int32_t& length, bool shortLength) {
  int32_t prefix = shortLength ? int32_t(ReadWord()) : ReadInteger();
  length = std::clamp(prefix, 0, Available());
  start = Position;
  Position += length;
}

namespace {

int32_t PrefixedLength(size_t available, int32_t length) {
  if (available > size_t(kMaxStreamSize)) RaiseTooLarge();
  if (length < 0 || size_t(length) > available) {
    throw std::invalid_argument("Length beyond the value written");
  }
  return length == 0 ? int32_t(available) : length;
}

}  // namespace

void TBRNMemoryStream::WriteString(const std::string& s, int32_t length, bool shortLength) {
  WritePrefixed(reinterpret_cast<const uint8_t*>(s.data()), PrefixedLength(s.size(), length),
                shortLength);
}

void TBRNMemoryStream::WriteBytes(const TBRNBytes& bytes, int32_t length, bool shortLength) {
  WritePrefixed(bytes.data(), PrefixedLength(bytes.size(), length), shortLength);
}

void TBRNMemoryStream::ReadString(std::string& s, bool shortLength) {
  int32_t start, length;
  ReadPrefixed(start, length, shortLength);
  if (length == 0) return s.clear();
  s.assign(reinterpret_cast<const char*>(Memory) + start, size_t(length));
}

void TBRNMemoryStream::ReadBytes(TBRNBytes& bytes, bool shortLength) {
  int32_t start, length;
  ReadPrefixed(start, length, shortLength);
  if (length == 0) return bytes.clear();
  bytes.assign(Memory + start, Memory + start + length);
}

void TBRNMemoryStream::WriteFixedString(const std::string& s, int32_t width) {
  if (width <= 0) return;
  uint8_t* target = ReserveWrite(width);
  size_t copied = std::min(size_t(width), s.size());
  std::memcpy(target, s.data(), copied);
  std::memset(target + copied, ' ', size_t(width) - copied);
}

void TBRNMemoryStream::WriteFixedBytes(const TBRNBytes& bytes, int32_t width) {
  if (width <= 0) return;
  uint8_t* target = ReserveWrite(width);
  size_t copied = std::min(size_t(width), bytes.size());
  if (copied > 0) std::memcpy(target, bytes.data(), copied);
  std::memset(target + copied, 0, size_t(width) - copied);
}

void TBRNMemoryStream::ReadFixedString(std::string& s, int32_t length) {
  int32_t n = std::clamp(length, 0, Available());
  if (n == 0) return s.clear();
  s.assign(reinterpret_cast<const char*>(Memory) + Position, size_t(n));
  Position += n;
}

void TBRNMemoryStream::ReadFixedBytes(TBRNBytes& bytes, int32_t length) {
  int32_t n = std::clamp(length, 0, Available());
  if (n == 0) return bytes.clear();
  bytes.assign(Memory + Position, Memory + Position + n);
  Position += n;
}

}  // namespace brn

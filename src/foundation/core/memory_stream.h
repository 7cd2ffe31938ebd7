#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/core/byte_order.h"
#include "foundation/core/bytes.h"
#include "foundation/core/stream.h"

namespace brn {

class TBRNBlowfish;
class TBRNDigest;

// The growable in-memory stream and the one serialisation format of the
// engine: every record, message and file image is a sequence of the
// little-endian encodings written and read here.
//
// Sizes and positions are 32-bit. Growth is exact: each growing write
// reallocates to the next multiple of BlockSize, so owners that append many
// small values raise BlockSize first or size the buffer with SetCapacity.
// The bytes between Size and Capacity are always zero: new ones are zeroed
// when allocated, and a shrink that keeps the buffer zeroes what it cuts off.
// So every byte that joins the stream without being written (SetSize, the gap
// a write beyond the end leaves) reads as zero, and cut-off data never comes
// back. Writers may therefore extend Size inside the capacity directly.
//
// Guards against misuse (standard exceptions, never an access outside the
// buffer):
// - Seek may leave the position before the start or beyond the end. Readers
//   there get nothing (the zero value, no bytes); a write beyond the end grows
//   the stream; a write before the start throws std::out_of_range.
// - Sizes and positions that do not fit in 31 bits (2 GiB and above) throw
//   std::length_error instead of wrapping.
// - A short length prefix holds at most 65535; a longer string or byte array
//   written with ShortLength throws std::length_error.
// - Ranges handed to the raw transfer operations must lie inside the buffer
//   and the byte array, else std::out_of_range.
class TBRNMemoryStream : public TBRNStream {
 public:
  // Create: owns its memory, BlockSize 8, nothing allocated.
  TBRNMemoryStream();
  ~TBRNMemoryStream() override;

  // Buffer management.
  uint8_t* GetMemory() const { return Memory; }
  bool GetOwnsMemory() const { return OwnsMemory; }
  int32_t GetBlockSize() const { return BlockSize; }
  // Allocation granularity for later growth (> 0); the current capacity is
  // left as it is.
  void SetBlockSize(int32_t blockSize);
  int32_t GetCapacity() const { return Capacity; }
  void SetCapacity(int32_t bytes);
  bool GetShrinkOnResize() const { return ShrinkOnResize; }
  void SetShrinkOnResize(bool value) { ShrinkOnResize = value; }
  // Reads and overwrites a buffer the stream does not own (OwnsMemory false):
  // Size and Capacity become size, Position 0. Growing it throws. The owned
  // buffer, if any, is freed first.
  void AttachMemory(void* memory, int32_t size);
  // Throws std::logic_error "Cannot reallocate memory stream when stream does
  // not own memory" when OwnsMemory is false.
  void CheckOwnsMemory() const;
  void Clear() { SetSize(0); }

  int64_t GetPosition() const override { return Position; }
  // Clamped to 0..Size.
  void SetPosition(int64_t position) override;
  int64_t GetSize() const override { return Size; }
  void SetSize(int64_t size) override;
  // Sets the position without clamping to 0..Size and returns it.
  int64_t Seek(uint8_t origin, int64_t offset) override;
  // Bytes from the position to the end; 0 when the position lies beyond the
  // end or before the start.
  int32_t GetRemaining() const { return Available(); }

  uint32_t CalculateCRC32(int32_t count) override;

  // Raw transfer.
  int32_t ReadIntoArray(TBRNBytes& bytes, int32_t offset, int32_t count) override;
  int32_t Read(void* buffer, int32_t count) override;
  int32_t WriteFromArray(const TBRNBytes& bytes, int32_t offset, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  // Makes room for count bytes at the position: WriteEnd = Position + count,
  // the stream grows (through SetSize) when it is shorter.
  void PrepareWrite(int32_t count);
  // Zeroes count bytes (0 = all remaining) at the position and advances; the
  // size is unchanged.
  void FillZeros(int32_t count);
  // Copies count bytes (0 = remaining) from the position into target's buffer
  // at target's position; neither stream moves or grows.
  void PeekInto(TBRNMemoryStream& target, int32_t count);
  // Moves the bytes from the position up to endPos up by count; the count
  // bytes at the position keep their contents. endPos + count <= Size.
  void OpenGap(int32_t count, int32_t endPos);
  // Moves the bytes from position + count up to endPos down to the position
  // and zeroes the last count bytes before endPos.
  void CloseGap(int32_t count, int32_t endPos);
  // Writes count bytes (0 = remaining) from the position to target and
  // advances by the bytes written, which are returned.
  int32_t WriteToStream(TBRNStream& target, int32_t count);
  // Writes the first count bytes (0 = Size) to target; the position stays.
  int32_t SaveToStream(TBRNStream& target, int32_t count);
  // Reads count bytes (0 = as many as both streams allow) from source into
  // the buffer at the position and advances; the stream does not grow.
  int32_t ReadFromStream(TBRNStream& source, int64_t count);
  // Fills the buffer from offset 0 with count bytes (0 = the whole source,
  // read from its start) of source, growing Size to count when smaller; the
  // position stays. Returns the bytes read.
  int32_t LoadFromStream(TBRNStream& source, int64_t count);

  // Encryption in place with the stream's Blowfish cipher in CBC mode. The
  // key is the 16-byte digest of the encryption password with a zero IV.
  // Encrypt and Decrypt treat count bytes (0 = remaining) from the position:
  // each whole 8-byte unit is processed and passed; a tail shorter than 8
  // bytes stays plain and the position stops in front of it. Every call starts
  // a new chain. Without a key they throw std::logic_error.
  void SetEncryptionKey(const TBRNDigest& digest);
  void Encrypt(int32_t count);
  void Decrypt(int32_t count);

  // Typed writers and readers. A reader with fewer bytes remaining than its
  // width returns the zero value and leaves the position unchanged.
  void WriteByte(uint8_t value) { WriteValue(value); }
  uint8_t ReadByte() { return ReadValue<uint8_t>(); }
  void WriteBoolean(bool value) { WriteValue(uint8_t(value ? 1 : 0)); }
  bool ReadBoolean() { return ReadValue<uint8_t>() != 0; }
  void WriteSmallInt(int16_t value) { WriteValue(value); }
  int16_t ReadSmallInt() { return ReadValue<int16_t>(); }
  void WriteWord(uint16_t value) { WriteValue(value); }
  uint16_t ReadWord() { return ReadValue<uint16_t>(); }
  virtual void WriteInteger(int32_t value) { WriteValue(value); }
  virtual int32_t ReadInteger() { return ReadValue<int32_t>(); }
  virtual void WriteCardinal(uint32_t value) { WriteValue(value); }
  virtual uint32_t ReadCardinal() { return ReadValue<uint32_t>(); }
  void WriteInt64(int64_t value) { WriteValue(value); }
  int64_t ReadInt64() { return ReadValue<int64_t>(); }
  void WriteDouble(double value) { WriteValue(value); }
  double ReadDouble() { return ReadValue<double>(); }
  // A decimal: the value times 10000 as a signed 64-bit integer.
  void WriteCurrency(int64_t value) { WriteValue(value); }
  int64_t ReadCurrency() { return ReadValue<int64_t>(); }

  // Length prefix (uint16 with shortLength, else int32), then the bytes.
  // length 0 means the whole string, otherwise the first length characters.
  void WriteString(const std::string& s, int32_t length = 0, bool shortLength = false);
  // Takes min(prefix, remaining) characters; a cut-off or negative prefix
  // gives less or nothing.
  void ReadString(std::string& s, bool shortLength = false);
  void WriteBytes(const TBRNBytes& bytes, int32_t length = 0, bool shortLength = false);
  void ReadBytes(TBRNBytes& bytes, bool shortLength = false);
  // Exactly width characters, cut or padded with blanks; no prefix.
  void WriteFixedString(const std::string& s, int32_t width);
  // Takes min(length, remaining) characters, trailing blanks included.
  void ReadFixedString(std::string& s, int32_t length);
  // Exactly width bytes, cut or padded with zero bytes; no prefix.
  void WriteFixedBytes(const TBRNBytes& bytes, int32_t width);
  void ReadFixedBytes(TBRNBytes& bytes, int32_t length);

 protected:
  // Bytes readable at the position (0 beyond the end or before the start).
  int32_t Available() const { return uint32_t(Position) <= uint32_t(Size) ? Size - Position : 0; }
  // Room for count more bytes at the position; returns where they go and
  // advances the position past them. Each field is read once, before the
  // caller's store through the returned pointer (which may alias them), and
  // the zero-extended position indexes the buffer.
  uint8_t* ReserveWrite(int32_t count) {
    uint32_t at = uint32_t(Position);
    uint64_t end = uint64_t(at) + uint32_t(count);
    if (end > uint32_t(Size)) {
      if (end > uint32_t(Capacity) || !PlainGrowth) return GrowForWrite(count);
      Size = int32_t(end);
    }
    Position = int32_t(end);
    return Memory + at;
  }
  // As ReserveWrite, but the value is stored before the position, so that
  // the next writer finds the position still in a register.
  template <typename T>
  void WriteValue(T value) {
    uint32_t at = uint32_t(Position);
    uint64_t end = uint64_t(at) + sizeof(T);
    if (end > uint32_t(Size)) {
      if (end > uint32_t(Capacity) || !PlainGrowth) {
        return StoreLittleEndian(GrowForWrite(int32_t(sizeof(T))), value);
      }
      Size = int32_t(end);
    }
    StoreLittleEndian(Memory + at, value);
    Position = int32_t(end);
  }
  template <typename T>
  T ReadValue() {
    uint32_t at = uint32_t(Position);
    uint64_t end = uint64_t(at) + sizeof(T);
    if (end > uint32_t(Size)) return T{};
    T value = LoadLittleEndian<T>(Memory + at);
    Position = int32_t(end);
    return value;
  }
  // The slow path of ReserveWrite: checks the position, grows the stream
  // through PrepareWrite, then reserves as ReserveWrite does.
  uint8_t* GrowForWrite(int32_t count);
  // Throws std::out_of_range unless [position, position + count) lies inside
  // 0..Size.
  void CheckRange(int64_t position, int64_t count) const;
  // The bytes that Count 0 or an explicit count stands for at the position.
  int32_t ResolveCount(int32_t count) const;
  void WritePrefixed(const uint8_t* data, int32_t length, bool shortLength);
  void ReadPrefixed(int32_t& start, int32_t& length, bool shortLength);
  // Encrypt and Decrypt: step over each whole 8-byte unit, one chain a call.
  void CipherUnits(int32_t count, void (TBRNBlowfish::*step)(uint8_t*, int32_t));

  uint8_t* Memory = nullptr;
  bool OwnsMemory = true;
  int32_t BlockSize = 8;
  int32_t Size = 0;
  int32_t Position = 0;
  int32_t WriteEnd = 0;
  int32_t Capacity = 0;
  bool ShrinkOnResize = false;
  // true when SetSize is this class's own, so that the writers may extend
  // Size inside the capacity without calling it; a subclass that overrides
  // SetSize sees every growth.
  bool PlainGrowth = false;
  // Created when the stream is keyed; a cipher holds 4 KiB of keyed tables,
  // which most streams never need.
  std::unique_ptr<TBRNBlowfish> Cipher;
};

}  // namespace brn

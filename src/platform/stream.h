#pragma once

#include <cstdint>

namespace brn {

// Where a seek counts from. The underlying type is fixed so that any 16-bit
// origin a caller passes is a value of the type; a stream decides what it
// does with origins outside these three.
enum TSeekOrigin : uint16_t { soBeginning = 0, soCurrent = 1, soEnd = 2 };

// The application-side byte stream the record-set framework hands out (the
// BLOB streams of fields). Derived streams implement the 64-bit forms; the
// 32-bit forms are kept for callers that work in 32-bit sizes and origins
// and may be overridden where a stream treats them differently.
//
// Threads: one thread per stream.
class TStream {
 public:
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  virtual ~TStream() = default;

  // Bytes read or written; fewer than count at the end or on failure.
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  virtual int32_t Write(const void* buffer, int32_t count) = 0;

  virtual void SetSize(int64_t newSize) = 0;
  virtual void SetSize(int32_t newSize) { SetSize(int64_t(newSize)); }
  // Answers the new position.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  virtual int32_t Seek(int32_t offset, uint16_t origin) {
    return int32_t(Seek(int64_t(offset), TSeekOrigin(origin)));
  }

  int64_t GetPosition() { return Seek(int64_t(0), soCurrent); }
  void SetPosition(int64_t position) { Seek(position, soBeginning); }
  // The position is kept.
  int64_t GetSize() {
    const int64_t position = GetPosition();
    const int64_t size = Seek(int64_t(0), soEnd);
    Seek(position, soBeginning);
    return size;
  }
};

}  // namespace brn

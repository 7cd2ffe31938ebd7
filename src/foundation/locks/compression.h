#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace brn {

class TBRNMemoryStream;

// Compresses and decompresses memory-stream contents as standard zlib streams
// (window 2^15, memory level 8). One deflate and one inflate state live as
// long as the manager, so each session keeps its own manager and reuses it.
// Not thread-safe.
class TBRNCompressionManager {
 public:
  using TBRNProgressEvent = std::function<void(int32_t, int32_t)>;

  // Output of a decompression never exceeds this unless the caller says so.
  static constexpr int32_t kDefaultMaxDecompressedSize = 0x7FFFFFFF;

  TBRNCompressionManager();
  virtual ~TBRNCompressionManager();
  TBRNCompressionManager(const TBRNCompressionManager&) = delete;
  TBRNCompressionManager& operator=(const TBRNCompressionManager&) = delete;

  int32_t GetCompressionLevel() const { return Level; }
  // 0..9; anything else raises 1200 "Invalid compression level".
  void SetCompressionLevel(int32_t level);

  // Compresses every byte from source's position to its end as one complete
  // zlib stream written at target's position (target grows). Source ends at
  // its end, target after the compressed data.
  void CompressStream(TBRNMemoryStream& source, TBRNMemoryStream& target);
  // Decompresses one zlib stream from source's position into target at its
  // position. Input that ends before the stream is complete, and output that
  // would exceed maxSize bytes, raise 1201; target keeps what was decoded.
  // A negative maxSize is misuse (std::invalid_argument).
  void DecompressStream(TBRNMemoryStream& source, TBRNMemoryStream& target,
                        int32_t maxSize = kDefaultMaxDecompressedSize);

  [[noreturn]] virtual void RaiseCompressError(const std::string& message);
  [[noreturn]] virtual void RaiseDecompressError(const std::string& message);
  virtual void DoProgress(int32_t a, int32_t b);

  TBRNProgressEvent OnProgress;

 private:
  struct ZStates;
  int32_t Level = 6;
  std::unique_ptr<ZStates> States;
};

}  // namespace brn

#include "foundation/locks/compression.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "foundation/text/exception.h"
#include "foundation/core/memory_stream.h"
#include "foundation/text/string_helpers.h"

namespace brn {

namespace {

constexpr int kWindowBits = 15;
constexpr int kMemLevel = 8;

// zlib's own reason, capitalised as the engine shows it.
std::string zlibReason(const z_stream& z, int rc) {
  std::string text = z.msg ? z.msg : zError(rc);
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = char(text[0] - 'a' + 'A');
  return text;
}

}  // namespace

struct TBRNCompressionManager::ZStates {
  z_stream Deflate{};
  z_stream Inflate{};
  bool DeflateReady = false;
  bool InflateReady = false;
  int DeflateLevel = -1;

  ~ZStates() {
    if (DeflateReady) deflateEnd(&Deflate);
    if (InflateReady) inflateEnd(&Inflate);
  }
};

TBRNCompressionManager::TBRNCompressionManager() : States(std::make_unique<ZStates>()) {}

TBRNCompressionManager::~TBRNCompressionManager() = default;

void TBRNCompressionManager::SetCompressionLevel(int32_t level) {
  if (level < 0 || level > 9) RaiseCompressError("Invalid compression level");
  Level = level;
}

void TBRNCompressionManager::CompressStream(TBRNMemoryStream& source, TBRNMemoryStream& target) {
  z_stream& z = States->Deflate;
  if (States->DeflateReady && States->DeflateLevel != Level) {
    deflateEnd(&z);
    States->DeflateReady = false;
  }
  if (!States->DeflateReady) {
    z = z_stream{};
    int rc = deflateInit2(&z, Level, Z_DEFLATED, kWindowBits, kMemLevel, Z_DEFAULT_STRATEGY);
    if (rc != Z_OK) RaiseCompressError(zlibReason(z, rc));
    States->DeflateReady = true;
    States->DeflateLevel = Level;
  } else {
    deflateReset(&z);
  }

  int32_t inputLength = source.GetRemaining();
  const uint8_t* input = source.GetMemory() ? source.GetMemory() + source.GetPosition() : nullptr;

  // One call over the whole buffer into room for the worst case.
  uLong bound = deflateBound(&z, uLong(inputLength));
  int64_t start = target.GetPosition();
  int64_t oldSize = target.GetSize();
  if (start < 0 || start + int64_t(bound) > INT32_MAX) {
    RaiseCompressError("The compressed data is too large");
  }
  if (start + int64_t(bound) > oldSize) target.SetSize(start + int64_t(bound));

  z.next_in = const_cast<Bytef*>(input);
  z.avail_in = uInt(inputLength);
  z.next_out = target.GetMemory() + start;
  z.avail_out = uInt(bound);
  int rc = deflate(&z, Z_FINISH);
  int64_t produced = int64_t(z.total_out);
  target.SetSize(std::max(oldSize, start + produced));
  target.SetPosition(start + produced);
  if (rc != Z_STREAM_END) {
    std::string reason = zlibReason(z, rc);
    deflateReset(&z);
    RaiseCompressError(reason);
  }
  source.SetPosition(source.GetSize());
}

void TBRNCompressionManager::DecompressStream(TBRNMemoryStream& source, TBRNMemoryStream& target,
                                              int32_t maxSize) {
  z_stream& z = States->Inflate;
  if (!States->InflateReady) {
    z = z_stream{};
    int rc = inflateInit2(&z, kWindowBits);
    if (rc != Z_OK) RaiseDecompressError(zlibReason(z, rc));
    States->InflateReady = true;
  } else {
    inflateReset(&z);
  }

  int32_t inputLength = source.GetRemaining();
  int64_t inputStart = source.GetPosition();
  z.next_in = source.GetMemory() ? source.GetMemory() + inputStart : nullptr;
  z.avail_in = uInt(inputLength);

  if (maxSize < 0) throw std::invalid_argument("DecompressStream: negative size limit");
  int64_t start = target.GetPosition();
  int64_t oldSize = target.GetSize();
  if (start < 0) RaiseDecompressError("Invalid target position");
  int64_t limit = std::min<int64_t>(int64_t(maxSize), int64_t(INT32_MAX) - start);
  int64_t produced = 0;
  // Room grows geometrically from a guess of 4x the input; the stream
  // itself allocates exactly what it is asked for.
  int64_t room = std::min<int64_t>(limit, std::max<int64_t>(int64_t(inputLength) * 4, 4096));

  // Keeps target consistent with what was decoded, also on error.
  auto settle = [&]() {
    target.SetSize(std::max(oldSize, start + produced));
    target.SetPosition(start + produced);
    source.SetPosition(inputStart + (int64_t(inputLength) - int64_t(z.avail_in)));
  };

  for (;;) {
    if (start + room > target.GetSize()) target.SetSize(start + room);
    // inflate refuses a null output pointer even when it has no room to
    // write, as with an empty target and a limit of 0.
    uint8_t noRoom = 0;
    z.next_out = target.GetMemory() ? target.GetMemory() + start + produced : &noRoom;
    z.avail_out = uInt(room - produced);
    int rc = inflate(&z, Z_NO_FLUSH);
    produced = room - int64_t(z.avail_out);
    if (rc == Z_STREAM_END) break;
    if (rc == Z_NEED_DICT) {
      settle();
      RaiseDecompressError("Missing dictionary");
    }
    if (rc != Z_OK && rc != Z_BUF_ERROR) {
      std::string reason = zlibReason(z, rc);
      settle();
      RaiseDecompressError(reason);
    }
    if (z.avail_out == 0) {
      if (room >= limit) {
        settle();
        RaiseDecompressError("The uncompressed data exceeds the size limit");
      }
      room = std::min<int64_t>(limit, room * 2);
      continue;
    }
    // Output room remains but inflate cannot go on: the input ended early.
    settle();
    RaiseDecompressError("Incomplete compressed data");
  }
  settle();
}

void TBRNCompressionManager::RaiseCompressError(const std::string& message) {
  throw EBRNException(1200, FormatText("An error occurred while compressing data (%s)", {message}));
}

void TBRNCompressionManager::RaiseDecompressError(const std::string& message) {
  throw EBRNException(1201,
                      FormatText("An error occurred while uncompressing data (%s)", {message}));
}

void TBRNCompressionManager::DoProgress(int32_t a, int32_t b) {
  if (OnProgress) OnProgress(a, b);
}

}  // namespace brn

#include "foundation/locks/compression.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <climits>
#include <random>
#include <stdexcept>
#include <string>

#include "foundation/text/exception.h"
#include "foundation/core/memory_stream.h"
#include "foundation/test_support.h"

namespace brn {
namespace {

using testing::CaughtError;
using testing::StreamHex;

void fill(TBRNMemoryStream& s, const std::string& text) {
  s.Clear();
  s.Write(text.data(), int32_t(text.size()));
  s.SetPosition(0);
}

std::string contents(const TBRNMemoryStream& s, int64_t from = 0) {
  return std::string(reinterpret_cast<const char*>(s.GetMemory()) + from,
                     size_t(s.GetSize() - from));
}

// Row-like data: repeating structure with varying numbers and names.
std::string rowLikeData(size_t size) {
  std::mt19937 random(7);
  std::string data;
  while (data.size() < size) {
    data += "ROW";
    data += std::to_string(random() % 100000);
    data += "|Customer ";
    data += char('A' + random() % 26);
    data += "|2024-0" + std::to_string(1 + random() % 9) + "-1" + std::to_string(random() % 10);
    data += '\0';
  }
  data.resize(size);
  return data;
}

TEST(CompressionTest, DefaultLevelGivesExactlyZlibsBytes) {
  TBRNCompressionManager manager;
  TBRNMemoryStream source, target;
  fill(source, "hello world");
  manager.CompressStream(source, target);
  EXPECT_EQ(StreamHex(target), "789CCB48CDC9C95728CF2FCA4901001A0B045D");
  EXPECT_EQ(source.GetPosition(), source.GetSize());
  EXPECT_EQ(target.GetPosition(), target.GetSize());
}

TEST(CompressionTest, RoundTripAtEveryLevelAndAtStreamPositions) {
  TBRNCompressionManager manager;
  std::string data = rowLikeData(100000);
  for (int level = 0; level <= 9; ++level) {
    manager.SetCompressionLevel(level);
    TBRNMemoryStream source, packed, unpacked;
    fill(source, "HEAD" + data);
    source.SetPosition(4);  // only what follows the header is compressed
    packed.WriteInteger(42);
    manager.CompressStream(source, packed);

    // Any zlib inflater accepts the output.
    std::string compressed = contents(packed, 4);
    std::string viaZlib(data.size(), '\0');
    uLongf length = uLongf(viaZlib.size());
    ASSERT_EQ(
        uncompress(reinterpret_cast<Bytef*>(viaZlib.data()), &length,
                   reinterpret_cast<const Bytef*>(compressed.data()), uLong(compressed.size())),
        Z_OK);
    EXPECT_EQ(viaZlib, data);

    packed.SetPosition(4);
    unpacked.WriteByte(9);
    manager.DecompressStream(packed, unpacked);
    EXPECT_EQ(contents(unpacked, 1), data) << "level " << level;
    EXPECT_EQ(unpacked.GetPosition(), unpacked.GetSize());
    EXPECT_EQ(packed.GetPosition(), packed.GetSize());
  }
}

TEST(CompressionTest, InvalidLevelsRaise1200) {
  TBRNCompressionManager manager;
  for (int level : {-1, 10, 100}) {
    EBRNException e = CaughtError([&] { manager.SetCompressionLevel(level); });
    EXPECT_EQ(e.ErrorCode, 1200);
    EXPECT_EQ(e.ErrorMessage,
              "An error occurred while compressing data (Invalid compression level)");
  }
  manager.SetCompressionLevel(0);
  EXPECT_EQ(manager.GetCompressionLevel(), 0);
}

TEST(CompressionTest, DamagedInputRaises1201WithZlibsReason) {
  TBRNCompressionManager manager;
  TBRNMemoryStream source, packed;
  fill(source, rowLikeData(5000));
  manager.CompressStream(source, packed);
  std::string good = contents(packed);

  struct Case {
    const char* what;
    std::string bytes;
    const char* reason;
  };
  // Method 9 with a header check that holds, so the method is what fails.
  std::string badMethod = good;
  badMethod[0] = char(0x79);
  badMethod[1] = char(31 - (0x79 * 256) % 31);
  std::string badHeader = good;
  badHeader[1] = char(badHeader[1] ^ 1);
  std::string badAdler = good;
  badAdler.back() = char(badAdler.back() ^ 0xFF);
  std::string truncated = good.substr(0, good.size() / 2);
  std::string noTrailer = good.substr(0, good.size() - 2);
  Case cases[] = {
      {"method", badMethod, "Unknown compression method"},
      {"header", badHeader, "Incorrect header check"},
      {"adler", badAdler, "Incorrect data check"},
      {"truncated", truncated, "Incomplete compressed data"},
      {"cut trailer", noTrailer, "Incomplete compressed data"},
      {"empty", "", "Incomplete compressed data"},
      {"window of 2^16", std::string("\x88\x1c", 2) + good.substr(2), "Invalid window size"},
      {"preset dictionary", std::string("\x78\x20\x00\x00\x00\x01", 6), "Missing dictionary"},
      {"reserved block type", std::string("\x78\x9c\x07", 3), "Invalid block type"},
  };
  for (const auto& c : cases) {
    TBRNMemoryStream input, output;
    fill(input, c.bytes);
    EBRNException e = CaughtError([&] { manager.DecompressStream(input, output); });
    EXPECT_EQ(e.ErrorCode, 1201) << c.what;
    EXPECT_EQ(e.ErrorMessage,
              std::string("An error occurred while uncompressing data (") + c.reason + ")")
        << c.what;
  }

  // What was decoded before the input ended stays in the target, after what
  // the target held already.
  {
    TBRNMemoryStream input, output;
    fill(input, good.substr(0, good.size() - 1));
    output.WriteInteger(77);
    EXPECT_EQ(CaughtError([&] { manager.DecompressStream(input, output); }).ErrorCode, 1201);
    EXPECT_EQ(output.GetSize(), 4 + 5000);
    output.SetPosition(0);
    EXPECT_EQ(output.ReadInteger(), 77);
    EXPECT_EQ(contents(output, 4), contents(source));
  }

  // The manager stays usable after errors.
  TBRNMemoryStream input, output;
  fill(input, good);
  manager.DecompressStream(input, output);
  EXPECT_EQ(output.GetSize(), 5000);
}

TEST(CompressionTest, SizeLimitStopsAHostileExpansion) {
  TBRNCompressionManager manager;
  TBRNMemoryStream source, packed;
  fill(source, std::string(10 << 20, 'x'));  // 10 MB of one byte packs into ~10 KB
  manager.CompressStream(source, packed);
  EXPECT_LT(packed.GetSize(), 20000);

  packed.SetPosition(0);
  TBRNMemoryStream output;
  EBRNException e = CaughtError([&] { manager.DecompressStream(packed, output, 1 << 20); });
  EXPECT_EQ(e.ErrorCode, 1201);
  EXPECT_EQ(e.ErrorMessage,
            "An error occurred while uncompressing data (The uncompressed data exceeds the size "
            "limit)");
  EXPECT_LE(output.GetSize(), 1 << 20);

  // Exactly at the limit is fine.
  packed.SetPosition(0);
  TBRNMemoryStream exact;
  manager.DecompressStream(packed, exact, 10 << 20);
  EXPECT_EQ(exact.GetSize(), 10 << 20);
}

TEST(CompressionTest, SizeLimitsAtTheEdges) {
  TBRNCompressionManager manager;
  TBRNMemoryStream nothing, packedNothing;
  manager.CompressStream(nothing, packedNothing);
  TBRNMemoryStream data, packedData;
  fill(data, "abc");
  manager.CompressStream(data, packedData);

  // A stream of no bytes fits a limit of 0, into an empty target or behind
  // what the target holds.
  for (bool emptyTarget : {true, false}) {
    TBRNMemoryStream output;
    if (!emptyTarget) output.WriteByte(5);
    packedNothing.SetPosition(0);
    manager.DecompressStream(packedNothing, output, 0);
    EXPECT_EQ(output.GetSize(), emptyTarget ? 0 : 1);
    EXPECT_EQ(packedNothing.GetPosition(), packedNothing.GetSize());
  }

  TBRNMemoryStream output;
  packedData.SetPosition(0);
  EXPECT_EQ(CaughtError([&] { manager.DecompressStream(packedData, output, 2); }).ErrorCode, 1201);
  EXPECT_LE(output.GetSize(), 2);

  // A negative limit is a caller's mistake, not room to write into.
  for (int32_t limit : {-1, INT32_MIN}) {
    TBRNMemoryStream target;
    packedData.SetPosition(0);
    EXPECT_THROW(manager.DecompressStream(packedData, target, limit), std::invalid_argument);
    EXPECT_EQ(target.GetSize(), 0);
  }
}

TEST(CompressionTest, OneStreamIsReadAndWhatFollowsItStays) {
  TBRNCompressionManager manager;
  TBRNMemoryStream first, second, packed;
  fill(first, "first part");
  fill(second, "second part");
  manager.CompressStream(first, packed);
  int64_t firstEnd = packed.GetPosition();
  manager.CompressStream(second, packed);

  packed.SetPosition(0);
  TBRNMemoryStream a, b;
  manager.DecompressStream(packed, a);
  EXPECT_EQ(packed.GetPosition(), firstEnd);
  manager.DecompressStream(packed, b);
  EXPECT_EQ(contents(a), "first part");
  EXPECT_EQ(contents(b), "second part");
  EXPECT_EQ(packed.GetPosition(), packed.GetSize());
}

TEST(CompressionTest, ProgressCallbackOnlyThroughDoProgress) {
  TBRNCompressionManager manager;
  int calls = 0;
  manager.OnProgress = [&](int32_t a, int32_t b) {
    ++calls;
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 2);
  };
  TBRNMemoryStream source, target;
  fill(source, "abc");
  manager.CompressStream(source, target);
  EXPECT_EQ(calls, 0);
  manager.DoProgress(1, 2);
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace brn

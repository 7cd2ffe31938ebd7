#include "foundation/core/memory_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <string>

#include "foundation/core/blowfish.h"
#include "foundation/core/digest.h"
#include "foundation/text/number_text.h"

namespace brn {
namespace {

std::string Hex(const uint8_t* data, int64_t size) {
  std::string text;
  for (int64_t i = 0; i < size; ++i) text += (i == 0 ? "" : " ") + ByteToHex(data[i]);
  return text;
}

std::string Content(const TBRNMemoryStream& stream) {
  return Hex(stream.GetMemory(), stream.GetSize());
}

void Fill(TBRNMemoryStream& stream, const std::string& text) {
  stream.Clear();
  stream.Write(text.data(), int32_t(text.size()));
  stream.SetPosition(0);
}

// Bit-at-a-time CRC-32 register, the reference for the table-driven one.
uint32_t ReferenceCRC(const uint8_t* data, size_t count) {
  uint32_t crc = 0xFFFFFFFF;
  for (size_t i = 0; i < count; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return crc;
}

TEST(MemoryStreamTest, EncodingsByteForByte) {
  struct Case {
    const char* name;
    std::function<void(TBRNMemoryStream&)> write;
    const char* bytes;
  };
  const Case cases[] = {
      {"byte", [](auto& s) { s.WriteByte(0xAB); }, "AB"},
      {"true", [](auto& s) { s.WriteBoolean(true); }, "01"},
      {"false", [](auto& s) { s.WriteBoolean(false); }, "00"},
      {"smallint", [](auto& s) { s.WriteSmallInt(-2); }, "FE FF"},
      {"word", [](auto& s) { s.WriteWord(0x1234); }, "34 12"},
      {"integer", [](auto& s) { s.WriteInteger(-2); }, "FE FF FF FF"},
      {"integer2", [](auto& s) { s.WriteInteger(0x12345678); }, "78 56 34 12"},
      {"cardinal", [](auto& s) { s.WriteCardinal(0xFFFFFFFE); }, "FE FF FF FF"},
      {"bigint", [](auto& s) { s.WriteInt64(0x0102030405060708); }, "08 07 06 05 04 03 02 01"},
      {"double", [](auto& s) { s.WriteDouble(1.0); }, "00 00 00 00 00 00 F0 3F"},
      {"double-", [](auto& s) { s.WriteDouble(-2.5); }, "00 00 00 00 00 00 04 C0"},
      {"currency 2.14", [](auto& s) { s.WriteCurrency(21400); }, "98 53 00 00 00 00 00 00"},
      {"short string", [](auto& s) { s.WriteString("abc", 0, true); }, "03 00 61 62 63"},
      {"long string", [](auto& s) { s.WriteString("abc", 0, false); }, "03 00 00 00 61 62 63"},
      {"string prefix", [](auto& s) { s.WriteString("abcdef", 2, true); }, "02 00 61 62"},
      {"empty string", [](auto& s) { s.WriteString("", 0, false); }, "00 00 00 00"},
      {"bytes",
       [](auto& s) {
         s.WriteBytes({1, 0xFF}, 0, true);
       },
       "02 00 01 FF"},
      {"fixed cut", [](auto& s) { s.WriteFixedString("abcdef", 4); }, "61 62 63 64"},
      {"fixed padded", [](auto& s) { s.WriteFixedString("ab", 4); }, "61 62 20 20"},
      {"fixed zero width", [](auto& s) { s.WriteFixedString("ab", 0); }, ""},
      {"fixed bytes",
       [](auto& s) {
         s.WriteFixedBytes({1, 2}, 4);
       },
       "01 02 00 00"},
      {"long word", [](auto& s) { s.WriteLongWord(0xA1B2C3D4); }, "D4 C3 B2 A1"},
  };
  for (const Case& c : cases) {
    TBRNMemoryStream stream;
    c.write(stream);
    EXPECT_EQ(Content(stream), c.bytes) << c.name;
    EXPECT_EQ(stream.GetPosition(), stream.GetSize()) << c.name;
  }
}

TEST(MemoryStreamTest, TypedValuesRoundTrip) {
  TBRNMemoryStream stream;
  stream.WriteByte(255);
  stream.WriteBoolean(true);
  stream.WriteSmallInt(std::numeric_limits<int16_t>::min());
  stream.WriteWord(65535);
  stream.WriteInteger(std::numeric_limits<int32_t>::min());
  stream.WriteCardinal(4000000000u);
  stream.WriteInt64(std::numeric_limits<int64_t>::min());
  stream.WriteDouble(-1.0e-300);
  stream.WriteCurrency(-92233720368547758);
  stream.WriteString("h\xE9llo", 0, false);
  stream.WriteBytes({0, 1, 2}, 0, true);
  stream.WriteFixedString("ab", 3);
  stream.WriteFixedBytes({7}, 2);
  stream.WriteString(std::string(65535, 'x'), 0, true);

  stream.SetPosition(0);
  EXPECT_EQ(stream.ReadByte(), 255);
  EXPECT_TRUE(stream.ReadBoolean());
  EXPECT_EQ(stream.ReadSmallInt(), std::numeric_limits<int16_t>::min());
  EXPECT_EQ(stream.ReadWord(), 65535);
  EXPECT_EQ(stream.ReadInteger(), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(stream.ReadCardinal(), 4000000000u);
  EXPECT_EQ(stream.ReadInt64(), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(stream.ReadDouble(), -1.0e-300);
  EXPECT_EQ(stream.ReadCurrency(), -92233720368547758);
  std::string s;
  stream.ReadString(s, false);
  EXPECT_EQ(s, "h\xE9llo");
  TBRNBytes bytes;
  stream.ReadBytes(bytes, true);
  EXPECT_EQ(bytes, (TBRNBytes{0, 1, 2}));
  stream.ReadFixedString(s, 3);
  EXPECT_EQ(s, "ab ");  // trailing blanks stay
  stream.ReadFixedBytes(bytes, 2);
  EXPECT_EQ(bytes, (TBRNBytes{7, 0}));
  stream.ReadString(s, true);
  EXPECT_EQ(s.size(), 65535u);
  EXPECT_EQ(stream.GetRemaining(), 0);
}

// A reader with fewer bytes left than its width gives the zero value and
// leaves the position; a following narrower read still sees those bytes.
TEST(MemoryStreamTest, FixedReadersAtTheEnd) {
  struct Case {
    const char* name;
    int32_t width;
    std::function<bool(TBRNMemoryStream&)> readsZero;
  };
  const Case cases[] = {
      {"byte", 1, [](auto& s) { return s.ReadByte() == 0; }},
      {"boolean", 1, [](auto& s) { return !s.ReadBoolean(); }},
      {"smallint", 2, [](auto& s) { return s.ReadSmallInt() == 0; }},
      {"word", 2, [](auto& s) { return s.ReadWord() == 0; }},
      {"integer", 4, [](auto& s) { return s.ReadInteger() == 0; }},
      {"cardinal", 4, [](auto& s) { return s.ReadCardinal() == 0; }},
      {"bigint", 8, [](auto& s) { return s.ReadInt64() == 0; }},
      {"double", 8, [](auto& s) { return s.ReadDouble() == 0.0; }},
      {"currency", 8, [](auto& s) { return s.ReadCurrency() == 0; }},
  };
  for (const Case& c : cases) {
    TBRNMemoryStream stream;
    Fill(stream, std::string(size_t(c.width), '\xFF'));
    stream.SetPosition(1);
    EXPECT_TRUE(c.readsZero(stream)) << c.name;
    EXPECT_EQ(stream.GetPosition(), 1) << c.name;
    if (c.width > 1) {
      EXPECT_EQ(stream.ReadByte(), 0xFF) << c.name;
    }
  }

  TBRNMemoryStream stream;
  Fill(stream, "\x01\x02\x03");
  EXPECT_EQ(stream.ReadInteger(), 0);
  EXPECT_EQ(stream.GetPosition(), 0);
  EXPECT_EQ(stream.ReadByte(), 1);

  Fill(stream, std::string("\xFF", 1));
  EXPECT_TRUE(stream.ReadBoolean());  // any non-zero byte
}

TEST(MemoryStreamTest, LengthPrefixedReadersTakeWhatRemains) {
  TBRNMemoryStream stream;
  std::string s = "keep";
  // Prefix 10, only 4 bytes follow.
  Fill(stream, std::string("\x0A\x00\x00\x00wxyz", 8));
  stream.ReadString(s, false);
  EXPECT_EQ(s, "wxyz");
  EXPECT_EQ(stream.GetPosition(), stream.GetSize());

  // A negative long prefix gives an empty string and consumes only the prefix.
  Fill(stream, std::string("\xFF\xFF\xFF\xFFwxyz", 8));
  stream.ReadString(s, false);
  EXPECT_EQ(s, "");
  EXPECT_EQ(stream.GetPosition(), 4);

  // A cut-off prefix reads as 0.
  Fill(stream, std::string("\x05", 1));
  TBRNBytes bytes{1};
  stream.ReadBytes(bytes, true);
  EXPECT_TRUE(bytes.empty());
  EXPECT_EQ(stream.GetPosition(), 0);

  Fill(stream, "abc");
  stream.ReadFixedString(s, 10);
  EXPECT_EQ(s, "abc");
  stream.ReadFixedString(s, 2);
  EXPECT_EQ(s, "");
}

TEST(MemoryStreamTest, PositionAndSeek) {
  TBRNMemoryStream stream;
  Fill(stream, "abcdef");
  stream.SetPosition(-5);
  EXPECT_EQ(stream.GetPosition(), 0);
  stream.SetPosition(16);
  EXPECT_EQ(stream.GetPosition(), 6);
  EXPECT_EQ(stream.Seek(1, -2), 4);
  EXPECT_EQ(stream.ReadByte(), 'e');

  // Beyond the end: reads give nothing, the next write grows the stream and
  // the newly allocated bytes in between are zero.
  EXPECT_EQ(stream.Seek(2, 10), 16);
  EXPECT_EQ(stream.ReadByte(), 0);
  uint8_t buffer[4];
  EXPECT_EQ(stream.Read(buffer, 4), 0);
  EXPECT_EQ(stream.GetRemaining(), 0);
  EXPECT_EQ(stream.GetPosition(), 16);
  stream.WriteByte(0x7A);
  EXPECT_EQ(Content(stream), "61 62 63 64 65 66 00 00 00 00 00 00 00 00 00 00 7A");
  EXPECT_THROW(stream.Seek(3, 0), std::invalid_argument);
}

// Seek may land before the start: nothing may be read or written there.
TEST(MemoryStreamTest, NegativePositionNeitherReadsNorWrites) {
  TBRNMemoryStream stream;
  Fill(stream, "abcdefgh");
  EXPECT_EQ(stream.Seek(0, -4), -4);
  EXPECT_EQ(stream.GetRemaining(), 0);
  EXPECT_EQ(stream.ReadByte(), 0);
  EXPECT_EQ(stream.ReadInteger(), 0);
  EXPECT_EQ(stream.ReadInt64(), 0);
  uint8_t buffer[8] = {};
  EXPECT_EQ(stream.Read(buffer, 8), 0);
  std::string s = "x";
  stream.ReadFixedString(s, 4);
  EXPECT_EQ(s, "");
  EXPECT_EQ(stream.GetPosition(), -4);

  const std::function<void(TBRNMemoryStream&)> writes[] = {
      [](auto& st) { st.WriteByte(1); },
      [](auto& st) { st.WriteInteger(1); },
      [](auto& st) { st.WriteInt64(1); },
      [](auto& st) { st.Write("abcd", 4); },
      [](auto& st) { st.WriteString("abc", 0, true); },
      [](auto& st) { st.WriteFixedString("abc", 8); },
      [](auto& st) {
        st.WriteFromArray({1, 2}, 0, 2);
      },
  };
  for (const auto& write : writes) {
    EXPECT_THROW(write(stream), std::out_of_range);
    EXPECT_EQ(stream.GetPosition(), -4);
  }
  EXPECT_EQ(Content(stream), "61 62 63 64 65 66 67 68");
  EXPECT_THROW(stream.Encrypt(8), std::out_of_range);
}

TEST(MemoryStreamTest, ShortPrefixAbove65535Raises) {
  TBRNMemoryStream stream;
  stream.WriteByte(9);
  EXPECT_THROW(stream.WriteString(std::string(65536, 'x'), 0, true), std::length_error);
  EXPECT_THROW(stream.WriteBytes(TBRNBytes(70000), 0, true), std::length_error);
  EXPECT_EQ(stream.GetSize(), 1);  // nothing written, no wrapped prefix
  stream.WriteString(std::string(65536, 'x'), 0, false);
  EXPECT_EQ(stream.GetSize(), 1 + 4 + 65536);
  EXPECT_THROW(stream.WriteString("abc", 4, false), std::invalid_argument);
}

TEST(MemoryStreamTest, SizesOf2GiBRaise) {
  TBRNMemoryStream stream;
  constexpr int64_t k2GiB = int64_t(1) << 31;
  EXPECT_THROW(stream.SetSize(k2GiB), std::length_error);
  EXPECT_THROW(stream.SetCapacity(std::numeric_limits<int32_t>::max()), std::length_error);
  EXPECT_THROW(stream.Seek(0, k2GiB), std::length_error);
  EXPECT_THROW(stream.Seek(1, std::numeric_limits<int64_t>::max()), std::length_error);
  EXPECT_THROW(stream.Seek(1, std::numeric_limits<int64_t>::min()), std::length_error);
  EXPECT_EQ(stream.Seek(0, k2GiB - 4), k2GiB - 4);
  EXPECT_THROW(stream.WriteInt64(1), std::length_error);
  EXPECT_THROW(stream.WriteString("abc", 0, false), std::length_error);
  EXPECT_EQ(stream.GetSize(), 0);
  EXPECT_EQ(stream.GetCapacity(), 0);
  stream.SetPosition(0);
  TBRNMemoryStream source;
  EXPECT_THROW(stream.LoadFromStream(source, k2GiB), std::length_error);
}

TEST(MemoryStreamTest, GrowthIsExactPerBlock) {
  TBRNMemoryStream stream;
  EXPECT_EQ(stream.GetBlockSize(), 8);
  EXPECT_EQ(stream.GetMemory(), nullptr);
  stream.WriteByte(1);
  EXPECT_EQ(stream.GetCapacity(), 8);
  stream.Write("12345678", 8);
  EXPECT_EQ(stream.GetCapacity(), 16);
  stream.SetSize(3);
  EXPECT_EQ(stream.GetCapacity(), 16);
  stream.SetShrinkOnResize(true);
  stream.SetSize(2);
  EXPECT_EQ(stream.GetCapacity(), 8);
  EXPECT_EQ(stream.GetSize(), 2);
  stream.SetSize(0);
  EXPECT_EQ(stream.GetCapacity(), 0);
  EXPECT_EQ(stream.GetMemory(), nullptr);

  stream.SetBlockSize(8192);
  stream.WriteInteger(5);
  EXPECT_EQ(stream.GetCapacity(), 8192);
  stream.SetSize(100);  // grows with zero bytes
  EXPECT_EQ(stream.GetMemory()[99], 0);
  EXPECT_THROW(stream.SetBlockSize(0), std::invalid_argument);
}

// A stream cut back keeps its buffer; whatever grows it again, every byte
// that joins the stream and is not written reads as zero, never as the
// secret that was there before the cut.
TEST(MemoryStreamTest, BytesThatJoinTheStreamAreZero) {
  struct Case {
    const char* name;
    std::function<void(TBRNMemoryStream&)> grow;
    const char* bytes;
  };
  const Case cases[] = {
      {"SetSize", [](auto& s) { s.SetSize(12); }, "70 61 73 73 00 00 00 00 00 00 00 00"},
      {"PrepareWrite",
       [](auto& s) {
         s.SetPosition(4);
         s.PrepareWrite(4);
       },
       "70 61 73 73 00 00 00 00"},
      {"byte past the end",
       [](auto& s) {
         s.Seek(0, 9);
         s.WriteByte(0x7A);
       },
       "70 61 73 73 00 00 00 00 00 7A"},
      {"integer past the end",
       [](auto& s) {
         s.Seek(2, 2);
         s.WriteInteger(0x11223344);
       },
       "70 61 73 73 00 00 44 33 22 11"},
      {"raw write past the end",
       [](auto& s) {
         s.Seek(0, 7);
         s.Write("AB", 2);
       },
       "70 61 73 73 00 00 00 41 42"},
      {"string past the end",
       [](auto& s) {
         s.Seek(0, 5);
         s.WriteString("x", 0, true);
       },
       "70 61 73 73 00 01 00 78"},
      {"fixed string past the end",
       [](auto& s) {
         s.Seek(0, 6);
         s.WriteFixedString("a", 2);
       },
       "70 61 73 73 00 00 61 20"},
      {"write across the capacity",
       [](auto& s) {
         s.Seek(0, 14);
         s.WriteInteger(-1);
       },
       "70 61 73 73 00 00 00 00 00 00 00 00 00 00 FF FF FF FF"},
      {"short load",
       [](auto& s) {
         TBRNMemoryStream source;
         source.Write("XY", 2);
         source.SetPosition(0);
         s.LoadFromStream(source, 8);
       },
       "58 59 73 73 00 00 00 00"},
      {"shrunk buffer",
       [](auto& s) {
         s.SetShrinkOnResize(true);
         s.SetSize(3);  // reallocated to 8 bytes, "pass" and "word" kept
         s.SetSize(8);
       },
       "70 61 73 00 00 00 00 00"},
  };
  for (const Case& c : cases) {
    TBRNMemoryStream stream;
    const std::string secret = "password=hunter2";
    stream.Write(secret.data(), int32_t(secret.size()));
    stream.SetSize(4);
    ASSERT_EQ(stream.GetCapacity(), 16) << c.name;  // the secret is still in the buffer
    c.grow(stream);
    EXPECT_EQ(Content(stream), c.bytes) << c.name;
  }

  // The cut-off secret does not linger in the buffer either.
  TBRNMemoryStream cut;
  cut.Write("hunter2!", 8);
  cut.SetSize(1);
  EXPECT_EQ(Hex(cut.GetMemory(), cut.GetCapacity()), "68 00 00 00 00 00 00 00");

  // A subclass that sees every growth gets the same zeros.
  struct CountingStream : TBRNMemoryStream {
    int calls = 0;
    void SetSize(int64_t size) override {
      ++calls;
      TBRNMemoryStream::SetSize(size);
    }
  } subclass;
  subclass.Write("abcdefgh", 8);
  subclass.SetSize(2);
  subclass.Seek(0, 5);
  subclass.WriteByte(1);
  EXPECT_EQ(Content(subclass), "61 62 00 00 00 01");
}

// A typed write inside the size, across the end within the capacity, across
// the capacity, and after a gap beyond the end.
TEST(MemoryStreamTest, TypedWritesAroundTheEnd) {
  struct Case {
    int64_t position;
    const char* bytes;
    int32_t capacity;
  } cases[] = {
      {1, "61 44 33 22 11 66", 8},
      {2, "61 62 44 33 22 11", 8},
      {4, "61 62 63 64 44 33 22 11", 8},
      {5, "61 62 63 64 65 44 33 22 11", 16},
      {6, "61 62 63 64 65 66 44 33 22 11", 16},
      {7, "61 62 63 64 65 66 00 44 33 22 11", 16},
  };
  for (const Case& c : cases) {
    TBRNMemoryStream stream;
    Fill(stream, "abcdef");
    stream.Seek(0, c.position);
    stream.WriteInteger(0x11223344);
    EXPECT_EQ(Content(stream), c.bytes) << c.position;
    EXPECT_EQ(stream.GetPosition(), c.position + 4) << c.position;
    EXPECT_EQ(stream.GetCapacity(), c.capacity) << c.position;
    EXPECT_EQ(stream.ReadByte(), stream.GetRemaining() > 0 ? 'f' : 0) << c.position;
  }
}

// Writers extend the size inside the capacity directly, but a subclass that
// overrides SetSize must still see every growth.
TEST(MemoryStreamTest, SubclassSetSizeSeesEveryGrowth) {
  struct CountingStream : TBRNMemoryStream {
    int calls = 0;
    void SetSize(int64_t size) override {
      ++calls;
      TBRNMemoryStream::SetSize(size);
    }
  };
  CountingStream stream;
  stream.WriteByte(1);
  stream.WriteSmallInt(2);
  stream.WriteString("ab", 0, true);
  stream.SetPosition(1);
  stream.WriteByte(3);  // inside the size: no growth
  EXPECT_EQ(stream.calls, 3);
  EXPECT_EQ(stream.GetCapacity(), 8);
  EXPECT_EQ(Content(stream), "01 03 00 02 00 61 62");
}

TEST(MemoryStreamTest, ForeignMemoryCanBeOverwrittenButNotGrown) {
  uint8_t buffer[6] = {1, 2, 3, 4, 5, 6};
  TBRNMemoryStream stream;
  stream.WriteByte(1);  // the owned buffer is freed when memory is attached
  stream.AttachMemory(buffer, 6);
  EXPECT_FALSE(stream.GetOwnsMemory());
  EXPECT_EQ(stream.ReadSmallInt(), 0x0201);
  stream.WriteInteger(-1);
  EXPECT_EQ(buffer[5], 0xFF);
  stream.SetPosition(4);
  try {
    stream.WriteInteger(1);
    FAIL() << "grew foreign memory";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "Cannot reallocate memory stream when stream does not own memory");
  }
  EXPECT_THROW(stream.SetSize(2), std::logic_error);
  EXPECT_EQ(stream.GetSize(), 6);
}

TEST(MemoryStreamTest, CRC32Register) {
  TBRNMemoryStream stream;
  EXPECT_EQ(stream.CalculateCRC32(0), 0xFFFFFFFFu);
  Fill(stream, "abc");
  stream.SetPosition(2);
  EXPECT_EQ(stream.CalculateCRC32(0), 0xCADBBE3Du);
  EXPECT_EQ(stream.CalculateCRC32(100), 0xCADBBE3Du);  // capped at the size
  EXPECT_EQ(stream.GetPosition(), 2);
  EXPECT_EQ(stream.CalculateCRC32(2), ReferenceCRC(stream.GetMemory(), 2));

  // The fast register against the bitwise one, over lengths and alignments
  // around its 16- and 64-byte steps; the stream base class agrees and keeps
  // the position.
  std::string data;
  for (int i = 0; i < 150000; ++i) data += char((i * 131 + i / 7) & 0xFF);
  for (size_t length : {1u, 7u, 8u, 9u, 15u, 17u, 63u, 64u, 65u, 80u, 127u, 128u, 1000u}) {
    for (size_t start : {0u, 1u, 3u}) {
      const auto* bytes = reinterpret_cast<const uint8_t*>(data.data()) + start;
      EXPECT_EQ(UpdateCRC32Register(kCRC32Start, bytes, length), ReferenceCRC(bytes, length))
          << length << " at " << start;
    }
  }
  Fill(stream, data);
  stream.SetPosition(77);
  uint32_t expected = ReferenceCRC(stream.GetMemory(), data.size());
  EXPECT_EQ(stream.CalculateCRC32(0), expected);
  EXPECT_EQ(stream.TBRNStream::CalculateCRC32(0), expected);
  EXPECT_EQ(stream.TBRNStream::CalculateCRC32(70000), ReferenceCRC(stream.GetMemory(), 70000));
  EXPECT_EQ(stream.GetPosition(), 77);
}

TEST(MemoryStreamTest, EncryptLeavesTheTailPlain) {
  TBRNDigest key;
  key.DigestString("secret");
  const std::string plain = "0123456789abcdefWXYZ";  // 20 bytes: two units and a tail of 4
  TBRNMemoryStream stream;
  EXPECT_THROW(stream.Encrypt(0), std::logic_error);  // no key yet
  stream.SetEncryptionKey(key);
  Fill(stream, plain + plain);

  stream.Encrypt(20);
  EXPECT_EQ(stream.GetPosition(), 16);
  EXPECT_EQ(std::memcmp(stream.GetMemory() + 16, "WXYZ", 4), 0);
  stream.SetPosition(20);
  stream.Encrypt(20);  // a second call starts a new chain
  EXPECT_EQ(std::memcmp(stream.GetMemory(), stream.GetMemory() + 20, 20), 0);

  // CBC from a zero IV keyed with the 16 digest bytes.
  TBRNBlowfish cipher;
  cipher.Initialize(key.Digest.data(), 16);
  std::string expected = plain;
  auto* bytes = reinterpret_cast<uint8_t*>(expected.data());
  cipher.EncryptCBC(bytes, 0);
  cipher.EncryptCBC(bytes, 8);
  EXPECT_EQ(std::memcmp(stream.GetMemory(), expected.data(), 20), 0);

  std::string result;
  // Each region decrypts with a call of its own.
  stream.SetPosition(0);
  stream.Decrypt(20);
  EXPECT_EQ(stream.GetPosition(), 16);
  stream.SetPosition(20);
  stream.Decrypt(0);
  EXPECT_EQ(stream.GetPosition(), 36);
  stream.SetPosition(0);
  stream.ReadFixedString(result, 40);
  EXPECT_EQ(result, plain + plain);
  stream.SetPosition(4);
  EXPECT_THROW(stream.Encrypt(40), std::out_of_range);
}

TEST(MemoryStreamTest, GapsAndZeroFill) {
  TBRNMemoryStream stream;
  Fill(stream, "ABCDEFGH");
  stream.SetPosition(2);
  stream.OpenGap(2, 6);  // CDEF moves up by 2
  EXPECT_EQ(Content(stream), "41 42 43 44 43 44 45 46");
  stream.CloseGap(2, 8);  // and back, the freed end zeroed
  EXPECT_EQ(Content(stream), "41 42 43 44 45 46 00 00");
  EXPECT_THROW(stream.OpenGap(3, 6), std::out_of_range);
  EXPECT_THROW(stream.CloseGap(7, 8), std::out_of_range);

  stream.SetPosition(1);
  stream.FillZeros(2);
  EXPECT_EQ(stream.GetPosition(), 3);
  stream.FillZeros(0);
  EXPECT_EQ(Content(stream), "41 00 00 00 00 00 00 00");
  EXPECT_EQ(stream.GetPosition(), 8);
  EXPECT_EQ(stream.GetSize(), 8);
  stream.SetPosition(6);
  EXPECT_THROW(stream.FillZeros(3), std::out_of_range);
}

TEST(MemoryStreamTest, TransfersBetweenStreams) {
  TBRNMemoryStream source, target;
  Fill(source, "abcdefgh");
  target.SetSize(8);
  source.SetPosition(2);
  target.SetPosition(1);
  source.PeekInto(target, 3);
  EXPECT_EQ(Content(target), "00 63 64 65 00 00 00 00");
  EXPECT_EQ(source.GetPosition(), 2);
  EXPECT_EQ(target.GetPosition(), 1);
  EXPECT_THROW(source.PeekInto(target, 7), std::out_of_range);  // the source has 6 left
  target.SetPosition(4);
  EXPECT_THROW(source.PeekInto(target, 5), std::out_of_range);  // the target has room for 4
  target.Clear();

  EXPECT_EQ(source.WriteToStream(target, 0), 6);
  EXPECT_EQ(source.GetPosition(), 8);
  EXPECT_EQ(source.SaveToStream(target, 2), 2);
  EXPECT_EQ(source.GetPosition(), 8);
  std::string text;
  target.SetPosition(0);
  target.ReadFixedString(text, 100);
  EXPECT_EQ(text, "cdefghab");

  // ReadFromStream fills the room that is there and never grows.
  TBRNMemoryStream room;
  room.SetSize(4);
  target.SetPosition(5);
  EXPECT_EQ(room.ReadFromStream(target, 0), 3);
  EXPECT_EQ(Content(room), "68 61 62 00");
  EXPECT_THROW(room.ReadFromStream(target, 2), std::out_of_range);

  // LoadFromStream takes the whole source from its start and keeps the
  // position; it grows but never shrinks.
  TBRNMemoryStream loaded;
  Fill(loaded, "0123456789XY");
  loaded.SetPosition(3);
  EXPECT_EQ(loaded.LoadFromStream(target, 0), 8);
  EXPECT_EQ(loaded.GetSize(), 12);
  EXPECT_EQ(loaded.GetPosition(), 3);
  loaded.SetPosition(0);
  loaded.ReadFixedString(text, 100);
  EXPECT_EQ(text, "cdefghab89XY");

  // CopyFrom in chunks, across the 64 KiB scratch buffer.
  TBRNMemoryStream big, copy;
  big.SetBlockSize(65536);
  for (int i = 0; i < 50000; ++i) big.WriteInteger(i);
  EXPECT_EQ(copy.CopyFrom(big, 0), 200000);
  EXPECT_EQ(copy.CalculateCRC32(0), big.CalculateCRC32(0));
  big.SetPosition(199998);
  EXPECT_EQ(copy.CopyFrom(big, 10), 2);  // stops where the source ends
}

TEST(MemoryStreamTest, RawTransferBounds) {
  TBRNMemoryStream stream;
  Fill(stream, "abcd");
  TBRNBytes bytes(4);
  EXPECT_THROW(stream.ReadIntoArray(bytes, 2, 3), std::out_of_range);
  EXPECT_EQ(stream.ReadIntoArray(bytes, 1, 3), 3);
  EXPECT_EQ(bytes, (TBRNBytes{0, 'a', 'b', 'c'}));
  EXPECT_THROW(stream.WriteFromArray(bytes, 3, 2), std::out_of_range);
  EXPECT_EQ(stream.Write("xyz", -3), 0);
  EXPECT_EQ(stream.GetPosition(), 3);

  int32_t value = 5;
  EXPECT_EQ(stream.ReadLongInt(value), 1);  // one byte left
  EXPECT_EQ(value, 0);
  stream.SetPosition(0);
  EXPECT_EQ(stream.ReadLongInt(value), 4);
  EXPECT_EQ(value, 0x64636261);
}

}  // namespace
}  // namespace brn

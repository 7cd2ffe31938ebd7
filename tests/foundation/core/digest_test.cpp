#include "foundation/core/digest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "foundation/core/memory_stream.h"

namespace brn {
namespace {

std::string Hex(const TBRNBytes& bytes) {
  std::string text;
  char pair[3];
  for (uint8_t b : bytes) {
    std::snprintf(pair, sizeof(pair), "%02x", b);
    text += pair;
  }
  return text;
}

TEST(DigestTest, Rfc1321TestSuite) {
  struct Case {
    std::string text;
    const char* digest;
  };
  const Case cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  TBRNDigest digest;
  for (const Case& c : cases) {
    digest.DigestString(c.text);
    EXPECT_EQ(Hex(digest.Digest), c.digest) << '"' << c.text << '"';
  }
}

// Feeding in pieces that straddle the 64-byte blocks and the 56-byte padding
// boundary must give the same digest as one call.
TEST(DigestTest, UpdateInPiecesMatchesWhole) {
  for (size_t length : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 200u}) {
    std::string text;
    for (size_t i = 0; i < length; ++i) text += char('a' + i % 26);
    TBRNDigest whole;
    whole.DigestString(text);
    TBRNDigest pieces;
    pieces.Initialize();
    TBRNBytes bytes(text.begin(), text.end());
    size_t at = 0;
    for (size_t step = 1; at < length; ++step) {
      size_t n = std::min(step * 7, length - at);
      TBRNBytes part(bytes.begin() + at, bytes.begin() + at + n);
      pieces.Update(part, int32_t(n));
      at += n;
    }
    pieces.Finalize();
    EXPECT_TRUE(pieces.Equals(whole)) << length;
  }
}

TEST(DigestTest, EqualsAssignAndHighCharacters) {
  TBRNDigest a, b;
  a.DigestString("Brindle\xE9");
  b.DigestString("Brindle\xE9");
  EXPECT_TRUE(a.Equals(b));
  b.Digest[15] ^= 1;
  EXPECT_FALSE(a.Equals(b));
  b.Assign(a);
  EXPECT_TRUE(a.Equals(b));
  b.DigestString("Brindle\xE8");
  EXPECT_FALSE(a.Equals(b));
}

TEST(DigestTest, SaveAndLoadThroughStream) {
  TBRNDigest saved;
  saved.DigestString("abc");
  TBRNMemoryStream stream;
  EXPECT_EQ(saved.SaveToStream(stream), 16);
  EXPECT_EQ(stream.GetSize(), 16);

  stream.SetPosition(0);
  TBRNDigest loaded;
  EXPECT_EQ(loaded.LoadFromStream(stream), 16);
  EXPECT_TRUE(loaded.Equals(saved));

  // Fewer than 16 bytes left: what is there is read, the rest stays.
  stream.SetPosition(10);
  TBRNDigest partial;
  partial.DigestString("x");
  TBRNBytes before = partial.Digest;
  EXPECT_EQ(partial.LoadFromStream(stream), 6);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(partial.Digest[i], i < 6 ? saved.Digest[10 + i] : before[i]) << i;
  }
}

}  // namespace
}  // namespace brn

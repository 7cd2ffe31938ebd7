#include "foundation/core/blowfish.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brn {
namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

// Published single-block vectors (key, plaintext, ciphertext).
TEST(BlowfishTest, PublishedEcbVectors) {
  struct Case {
    const char* key;
    const char* plain;
    const char* cipher;
  };
  const Case cases[] = {
      {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
      {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
      {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
      {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
      {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
      {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> key = FromHex(c.key);
    std::vector<uint8_t> block = FromHex(c.plain);
    TBRNBlowfish cipher;
    cipher.Initialize(key.data(), int32_t(key.size()));
    cipher.EncryptBlock(block.data(), 0);
    EXPECT_EQ(block, FromHex(c.cipher)) << c.key;
    cipher.DecryptBlock(block.data(), 0);
    EXPECT_EQ(block, FromHex(c.plain)) << c.key;
  }
}

// The published CBC vector: a 16-byte key, an IV and the text
// "7654321 Now is the time for " with its terminator, zero-padded to 32 bytes.
TEST(BlowfishTest, PublishedCbcVector) {
  std::vector<uint8_t> key = FromHex("0123456789ABCDEFF0E1D2C3B4A59687");
  std::vector<uint8_t> iv = FromHex("FEDCBA9876543210");
  std::vector<uint8_t> plain =
      FromHex("37363534333231204E6F77206973207468652074696D6520666F722000000000");
  std::vector<uint8_t> expected =
      FromHex("6B77B4D63006DEE605B156E27403979358DEB9E7154616D959F1652BD5FF92CC");

  TBRNBlowfish cipher;
  cipher.Initialize(key.data(), int32_t(key.size()), iv.data());
  std::vector<uint8_t> data = plain;
  for (int32_t offset = 0; offset < 32; offset += 8) cipher.EncryptCBC(data.data(), offset);
  EXPECT_EQ(data, expected);

  cipher.ResetChain();
  for (int32_t offset = 0; offset < 32; offset += 8) cipher.DecryptCBC(data.data(), offset);
  EXPECT_EQ(data, plain);
}

TEST(BlowfishTest, ResetChainRestartsFromIV) {
  std::vector<uint8_t> key = FromHex("00112233445566778899AABBCCDDEEFF");
  TBRNBlowfish cipher;
  cipher.Initialize(key.data(), int32_t(key.size()));
  std::vector<uint8_t> first(8, 0x41), second(8, 0x41), third(8, 0x41);
  cipher.EncryptCBC(first.data(), 0);
  cipher.EncryptCBC(second.data(), 0);
  EXPECT_NE(first, second);  // chained on the first ciphertext
  cipher.ResetChain();
  cipher.EncryptCBC(third.data(), 0);
  EXPECT_EQ(first, third);
}

TEST(BlowfishTest, EmptyKeyIsRefused) {
  TBRNBlowfish cipher;
  uint8_t key = 0;
  EXPECT_THROW(cipher.Initialize(&key, 0), std::invalid_argument);
}

}  // namespace
}  // namespace brn

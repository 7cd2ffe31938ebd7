#include <cstdint>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/host_test_support.h"
#include "host/security/aes.h"
#include "host/security/stored_password.h"
#include "host/security/whirlpool.h"
#include "platform/registry_file.h"

namespace brn {
namespace {

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

std::string ToHex(const uint8_t* data, size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < size; ++i) {
    hex += digits[data[i] >> 4];
    hex += digits[data[i] & 15];
  }
  return hex;
}

std::string InvalidMessage(const std::string& text) {
  return "Text \"" + text + "\" can not be decrypt because text is invalid (checksum incorrect)";
}

void ExpectInvalid(const std::string& text, const std::string& passphrase) {
  try {
    DecryptText(text, passphrase);
    ADD_FAILURE() << "no error for " << text;
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(std::string(error.what()), InvalidMessage(text));
  }
}

const std::string kSalt = FromHex("a0a1a2a3a4a5a6a7a8a9aaabacadaeaf");

// Vectors made with this machine's `openssl enc -aes-256-ecb -nopad`.
TEST(Aes256Test, MatchesOpensslVectors) {
  struct Case {
    const char* key;
    const char* plain;
    const char* cipher;
  };
  const Case cases[] = {
      {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
       "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
      {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
       "6bc1bee22e409f96e93d7e117393172a", "e0a8f50ec76a04d5a96a175aa870ef63"},
      {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
       "00112233445566778899aabbccddeeff", "d83414223d20a0c928b136c884d07ea2"},
      {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
       "6bc1bee22e409f96e93d7e117393172a", "f3eed1bdb5d2a03c064b5a7e3db181f8"},
      {"ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff",
       "00112233445566778899aabbccddeeff", "d9b8841702b50e9b5ed50a1494dff0e2"},
      {"ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff",
       "6bc1bee22e409f96e93d7e117393172a", "024e9a6ee6e4ad2533017abc56eb4cb7"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key + std::string(" ") + c.plain);
    const std::string key = FromHex(c.key);
    const std::string plain = FromHex(c.plain);
    TBRNAes256 aes(reinterpret_cast<const uint8_t*>(key.data()));
    uint8_t block[16];
    aes.EncryptBlock(reinterpret_cast<const uint8_t*>(plain.data()), block);
    EXPECT_EQ(ToHex(block, 16), c.cipher);
    aes.DecryptBlock(block, block);
    EXPECT_EQ(ToHex(block, 16), c.plain);
  }
}

// The expanded key does not outlive the cipher: the storage holds zeros
// (the last of the four passes) once the object is gone.
TEST(Aes256Test, ExpandedKeyIsOverwrittenWhenTheCipherGoes) {
  alignas(TBRNAes256) unsigned char storage[sizeof(TBRNAes256)];
  const std::string key(32, '\x5a');
  auto* aes = new (storage) TBRNAes256(reinterpret_cast<const uint8_t*>(key.data()));
  uint8_t block[16] = {};
  aes->EncryptBlock(block, block);
  aes->~TBRNAes256();
  for (unsigned char byte : storage) ASSERT_EQ(byte, 0);
}

std::string Digest(const std::string& text) {
  const TBRNWhirlpool0::TDigest digest = TBRNWhirlpool0::Hash(text);
  return ToHex(digest.data(), digest.size());
}

TEST(Whirlpool0Test, DigestsAreFixedAndDistinct) {
  // Regression values: a change of the S-box, the matrix, the rounds or the
  // padding changes them.
  EXPECT_EQ(Digest(""),
            "b3e1ab6eaf640a34f784593f2074416accd3b8e62c620175fca0997b1ba23473"
            "39aa0d79e754c308209ea36811dfa40c1c32f1a2b9004725d987d3635165d3c8");
  EXPECT_EQ(Digest("abc"),
            "54ee18b0bbd4dd38a211699f2829793156e5842df502a2a25995c6c541f28cc0"
            "50ff57d4af772dee7cedcc4c34c3b8ec06446c6657f2f36c2c06464399879b86");
  EXPECT_EQ(Digest("abc").size(), 2 * TBRNWhirlpool0::DigestSize);
  EXPECT_NE(Digest("abc"), Digest("abd"));
  EXPECT_NE(Digest(std::string(1, '\0')), Digest(""));
}

// Lengths around the padding's boundaries (31, 32 and 33 bytes in the last
// block; whole blocks) and any split of the updates give the digest of one
// update.
TEST(Whirlpool0Test, SplitUpdatesMatchOneUpdate) {
  for (size_t length : {31u, 32u, 33u, 63u, 64u, 65u, 130u}) {
    std::string message;
    for (size_t i = 0; i < length; ++i) message += static_cast<char>('a' + i % 26);
    for (size_t split : {size_t(1), size_t(7), length / 2}) {
      SCOPED_TRACE(std::to_string(length) + "/" + std::to_string(split));
      TBRNWhirlpool0 hash;
      for (size_t at = 0; at < length; at += split) {
        hash.Update(std::string_view(message).substr(at, split));
      }
      const TBRNWhirlpool0::TDigest digest = hash.Final();
      EXPECT_EQ(ToHex(digest.data(), digest.size()), Digest(message));
    }
  }
  TBRNWhirlpool0 finished;
  finished.Final();
  EXPECT_THROW(finished.Update("x"), std::logic_error);
}

TEST(StoredPasswordTest, Base64SkipsForeignCharactersAndStopsAtPadding) {
  struct Case {
    const char* text;
    std::string bytes;
  };
  const Case cases[] = {
      {"TWFu", "Man"},
      {"TW\r\nF u\t", "Man"},
      {"TWE=", "Ma"},
      {"TQ==", "M"},
      {"TWE", "Ma"},
      {"TQ", "M"},
      // A single leftover character gives nothing.
      {"TWFuT", "Man"},
      // Nothing after the first "=" counts.
      {"TQ==TWFu", "M"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(DecodeBase64(c.text), c.bytes);
  }
  for (const std::string bytes : {"", "M", "Ma", "Man", "\xff\x00\x80"}) {
    EXPECT_EQ(DecodeBase64(EncodeBase64(bytes)), bytes);
  }
}

// Texts made outside this code: Whirlpool-0 key derivation by the
// definition and AES from `openssl enc -aes-256-ecb`, chained by hand.
TEST(StoredPasswordTest, DecryptsIndependentlyMadeTexts) {
  EXPECT_EQ(DecryptText("oKGio6SlpqeoqaqrrK2ur2/+vvovm3JhyGNgHuxAXvY=", "7?KdWs?7"), "");
  EXPECT_EQ(DecryptText("oKGio6SlpqeoqaqrrK2uryV8xBJHQQ9kptLKSwjs+n3jszrDCfkkE8upRxo4JdjXRg==",
                        "7?KdWs?7"),
            "Brindle's secret!");
  // Line breaks and blanks inside the base64 are not there.
  EXPECT_EQ(
      DecryptText("oKGio6SlpqeoqaqrrK2uryV8xBJHQQ9kptLK\r\nSwjs+n3jszrDCfkk\n E8upRxo4JdjXRg==",
                  "7?KdWs?7"),
      "Brindle's secret!");
  ExpectInvalid("oKGio6SlpqeoqaqrrK2ur2/+vvovm3JhyGNgHuxAXvY=", "7?KdWs?8");
}

// Cipher texts of 0 bytes (check value only), 15 (CFB-8 only), 16 (one
// chained block), 17 (a block and one CFB-8 byte) and longer.
TEST(StoredPasswordTest, RoundTripsEveryCipherTextLength) {
  for (size_t length : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 40u}) {
    SCOPED_TRACE(length);
    std::string plain;
    for (size_t i = 0; i < length; ++i) plain += static_cast<char>(0x21 + (i * 7) % 90);
    const std::string text = EncryptText(plain, "passphrase", kSalt);
    EXPECT_EQ(DecodeBase64(text).size(), 32 + length);
    EXPECT_EQ(DecryptText(text, "passphrase"), plain);
  }
}

TEST(StoredPasswordTest, AnyChangedByteFailsTheCheck) {
  for (size_t length : {0u, 15u, 16u, 17u}) {
    const std::string plain(length, 'p');
    const std::string bytes = DecodeBase64(EncryptText(plain, "7?KdWs?7", kSalt));
    std::vector<size_t> positions = {0, 15, bytes.size() - 16, bytes.size() - 1};
    // The first and last cipher byte. Of 17 bytes the first is left out:
    // the byte-wise step shifts it out of the chaining register before the
    // check value is made, so the stored format cannot see it change.
    if (length > 0 && length <= 16) positions.push_back(16);
    if (length > 0) positions.push_back(16 + length - 1);
    for (size_t position : positions) {
      SCOPED_TRACE(std::to_string(length) + " at " + std::to_string(position));
      std::string changed = bytes;
      changed[position] = static_cast<char>(changed[position] ^ 0x01);
      ExpectInvalid(EncodeBase64(changed), "7?KdWs?7");
    }
  }
  // Fewer than 32 decoded bytes: 31, and none at all.
  ExpectInvalid(EncodeBase64(std::string(31, 'x')), "7?KdWs?7");
  ExpectInvalid("!!!", "7?KdWs?7");
}

class StoredPasswordFileTest : public brn::testing::HostSandbox {};

TEST_F(StoredPasswordFileTest, PasswordsAreStoredAndReadBack) {
  RequireSandbox(temp.Path);
  TBRNRegistryFile registry(TBRNRegistryFile::DefaultFileName(false));
  EXPECT_FALSE(IsAdministratorPasswordStored(registry));
  EXPECT_EQ(ReadAdministratorPassword(registry), "7?KdWs?7");

  const std::string password = StoreNewAdministratorPassword(registry);
  EXPECT_EQ(password.size(), 16u);
  for (char c : password) EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << password;
  EXPECT_TRUE(IsAdministratorPasswordStored(registry));
  EXPECT_EQ(ReadAdministratorPassword(registry), password);
  EXPECT_NE(StoreNewAdministratorPassword(registry), password);

  registry.WriteString(kBRNPasswordRegistryKey, "Password", "dGVzdA==");
  try {
    ReadAdministratorPassword(registry);
    ADD_FAILURE() << "a damaged value was read";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(std::string(error.what()), InvalidMessage("dGVzdA=="));
  }
}

}  // namespace
}  // namespace brn

#include "host/security/stored_password.h"

#include <sys/random.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <stdexcept>
#include <system_error>

#include "host/security/aes.h"
#include "host/security/secure_wipe.h"
#include "host/security/whirlpool.h"
#include "platform/registry_file.h"

namespace brn {

namespace {

constexpr size_t kSaltSize = 16;
constexpr size_t kCheckSize = 16;
constexpr size_t kBlock = TBRNAes256::BlockSize;
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// A byte buffer that is wiped when it goes.
class TWipedBytes {
 public:
  explicit TWipedBytes(size_t size) : bytes_(size, '\0') {}
  ~TWipedBytes() { WipeString(bytes_); }
  TWipedBytes(const TWipedBytes&) = delete;
  TWipedBytes& operator=(const TWipedBytes&) = delete;
  uint8_t* Data() { return reinterpret_cast<uint8_t*>(bytes_.data()); }
  size_t Size() const { return bytes_.size(); }

 private:
  std::string bytes_;
};

void appendBigEndian(TBRNWhirlpool0& hash, uint32_t value) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                            static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  hash.Update(bytes, sizeof(bytes));
}

// Key byte i is the XOR of the 64 digest bytes of: i, the key bytes so far,
// the derivation index 1, the salt's length and bytes, the passphrase's
// length and bytes (numbers as 4 bytes big-endian).
void deriveKey(std::string_view passphrase, const uint8_t* salt, uint8_t* key) {
  for (uint32_t i = 0; i < TBRNAes256::KeySize; ++i) {
    TBRNWhirlpool0 hash;
    appendBigEndian(hash, i);
    hash.Update(key, i);
    appendBigEndian(hash, 1);
    appendBigEndian(hash, kSaltSize);
    hash.Update(salt, kSaltSize);
    appendBigEndian(hash, static_cast<uint32_t>(passphrase.size()));
    hash.Update(passphrase);
    TBRNWhirlpool0::TDigest digest = hash.Final();
    uint8_t folded = 0;
    for (uint8_t byte : digest) folded ^= byte;
    key[i] = folded;
    WipeBuffer(digest.data(), digest.size());
  }
}

[[noreturn]] void raiseInvalid(std::string_view text) {
  throw std::runtime_error("Text \"" + std::string(text) +
                           "\" can not be decrypt because text is invalid (checksum incorrect)");
}

// The cipher of key, the chaining register (from the encrypted 0xFF
// block) and the whole-block CBC / byte-wise CFB-8 steps shared by both
// directions.
class TChain {
 public:
  explicit TChain(const uint8_t* key) : aes_(key) {
    register_.fill(0xFF);
    aes_.EncryptBlock(register_.data(), register_.data());
  }
  ~TChain() {
    WipeBuffer(register_.data(), register_.size());
    WipeBuffer(scratch_.data(), scratch_.size());
  }

  // Whole blocks in CBC, then the 1 to 15 remaining bytes in CFB-8.
  void Run(const uint8_t* in, uint8_t* out, size_t size, bool encrypt) {
    size_t done = 0;
    for (; size - done >= kBlock; done += kBlock) {
      if (encrypt) {
        for (size_t k = 0; k < kBlock; ++k) scratch_[k] = in[done + k] ^ register_[k];
        aes_.EncryptBlock(scratch_.data(), out + done);
        std::copy(out + done, out + done + kBlock, register_.begin());
      } else {
        aes_.DecryptBlock(in + done, scratch_.data());
        for (size_t k = 0; k < kBlock; ++k) scratch_[k] ^= register_[k];
        std::copy(in + done, in + done + kBlock, register_.begin());
        std::copy(scratch_.begin(), scratch_.end(), out + done);
      }
    }
    for (; done < size; ++done) {
      aes_.EncryptBlock(register_.data(), scratch_.data());
      const uint8_t cipherByte = encrypt ? static_cast<uint8_t>(in[done] ^ scratch_[0]) : in[done];
      out[done] = static_cast<uint8_t>(in[done] ^ scratch_[0]);
      std::copy(register_.begin() + 1, register_.end(), register_.begin());
      register_[kBlock - 1] = cipherByte;
    }
  }

  // The check value: the encryption of the final register.
  void Check(uint8_t* out) const { aes_.EncryptBlock(register_.data(), out); }

 private:
  TBRNAes256 aes_;
  std::array<uint8_t, kBlock> register_{};
  std::array<uint8_t, kBlock> scratch_{};
};

}  // namespace

std::string DecodeBase64(std::string_view text) {
  std::string bytes;
  uint32_t group = 0;
  int count = 0;
  for (char c : text) {
    if (c == '=') break;
    const int value = base64Value(c);
    if (value < 0) continue;
    group = (group << 6) | static_cast<uint32_t>(value);
    if (++count == 4) {
      bytes += static_cast<char>(group >> 16);
      bytes += static_cast<char>(group >> 8);
      bytes += static_cast<char>(group);
      group = 0;
      count = 0;
    }
  }
  if (count == 2) {
    bytes += static_cast<char>(group >> 4);
  } else if (count == 3) {
    bytes += static_cast<char>(group >> 10);
    bytes += static_cast<char>(group >> 2);
  }
  group = 0;
  return bytes;
}

std::string EncodeBase64(std::string_view bytes) {
  std::string text;
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t group = (static_cast<uint8_t>(bytes[i]) << 16) |
                           (static_cast<uint8_t>(bytes[i + 1]) << 8) |
                           static_cast<uint8_t>(bytes[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6) text += kAlphabet[(group >> shift) & 63];
  }
  const size_t rest = bytes.size() - i;
  if (rest > 0) {
    uint32_t group = static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])) << 16;
    if (rest == 2) group |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 1])) << 8;
    text += kAlphabet[(group >> 18) & 63];
    text += kAlphabet[(group >> 12) & 63];
    text += rest == 2 ? kAlphabet[(group >> 6) & 63] : '=';
    text += '=';
  }
  return text;
}

std::string DecryptText(std::string_view text, std::string_view passphrase) {
  std::string decoded = DecodeBase64(text);
  struct TWipe {
    std::string& Text;
    ~TWipe() { WipeString(Text); }
  } wipeDecoded{decoded};
  if (decoded.size() < kSaltSize + kCheckSize) raiseInvalid(text);
  const size_t n = decoded.size() - kSaltSize - kCheckSize;
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(decoded.data());

  TWipedBytes salt(kSaltSize);
  std::copy(bytes, bytes + kSaltSize, salt.Data());
  TWipedBytes cipherText(n);
  std::copy(bytes + kSaltSize, bytes + kSaltSize + n, cipherText.Data());
  TWipedBytes check(kCheckSize);
  std::copy(bytes + kSaltSize + n, bytes + decoded.size(), check.Data());

  TWipedBytes key(TBRNAes256::KeySize);
  deriveKey(passphrase, salt.Data(), key.Data());
  TChain chain(key.Data());
  TWipedBytes plain(n);
  chain.Run(cipherText.Data(), plain.Data(), n, false);
  TWipedBytes computed(kCheckSize);
  chain.Check(computed.Data());
  uint8_t difference = 0;
  for (size_t k = 0; k < kCheckSize; ++k) difference |= computed.Data()[k] ^ check.Data()[k];
  if (difference != 0) raiseInvalid(text);
  return std::string(reinterpret_cast<const char*>(plain.Data()), n);
}

std::string EncryptText(std::string_view plaintext, std::string_view passphrase,
                        std::string_view salt) {
  if (salt.size() != kSaltSize) throw std::invalid_argument("EncryptText needs a 16-byte salt");
  const size_t n = plaintext.size();
  TWipedBytes stored(kSaltSize + n + kCheckSize);
  std::copy(salt.begin(), salt.end(), stored.Data());
  TWipedBytes key(TBRNAes256::KeySize);
  deriveKey(passphrase, stored.Data(), key.Data());
  TChain chain(key.Data());
  TWipedBytes plain(n);
  std::copy(plaintext.begin(), plaintext.end(), plain.Data());
  chain.Run(plain.Data(), stored.Data() + kSaltSize, n, true);
  chain.Check(stored.Data() + kSaltSize + n);
  return EncodeBase64(
      std::string_view(reinterpret_cast<const char*>(stored.Data()), stored.Size()));
}

bool IsAdministratorPasswordStored(const TBRNRegistryFile& registry) {
  return !registry.ReadString(kBRNPasswordRegistryKey, kBRNPasswordRegistryValue).empty();
}

std::string ReadAdministratorPassword(const TBRNRegistryFile& registry) {
  const std::string stored =
      registry.ReadString(kBRNPasswordRegistryKey, kBRNPasswordRegistryValue);
  if (stored.empty()) return std::string(kBRNHostDefaultPassword);
  return DecryptText(stored, kBRNHostDefaultPassword);
}

namespace {

void fillRandom(uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t got = ::getrandom(data + done, size - done, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), "Cannot read the random source");
    }
    done += static_cast<size_t>(got);
  }
}

}  // namespace

std::string StoreNewAdministratorPassword(TBRNRegistryFile& registry) {
  // Letters and digits only: the password is also typed by hand.
  constexpr std::string_view characters =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string password;
  password.reserve(16);
  while (password.size() < 16) {
    uint8_t byte = 0;
    fillRandom(&byte, 1);
    // 248 = 4 * 62: the bytes above it would favour the first characters.
    if (byte < 248) password += characters[byte % characters.size()];
  }
  TWipedBytes salt(kSaltSize);
  fillRandom(salt.Data(), salt.Size());
  const std::string stored =
      EncryptText(password, kBRNHostDefaultPassword,
                  std::string_view(reinterpret_cast<const char*>(salt.Data()), salt.Size()));
  registry.WriteString(kBRNPasswordRegistryKey, kBRNPasswordRegistryValue, stored);
  return password;
}

}  // namespace brn

#pragma once

#include <string>
#include <string_view>

namespace brn {

class TBRNRegistryFile;

// The administrator password when none is stored, the first fallback login
// and the passphrase of the stored password.
inline constexpr std::string_view kBRNHostDefaultPassword = "7?KdWs?7";
// The password a new configuration gives its built-in "Administrator".
inline constexpr std::string_view kBRNBuiltInDefaultPassword = "GlenHarbor";

// Where the stored administrator password lives in the registry.
inline constexpr std::string_view kBRNPasswordRegistryKey = "\\SOFTWARE\\VORN\\VornDbServer";
inline constexpr std::string_view kBRNPasswordRegistryValue = "Password";

// Base64 (RFC 4648 alphabet) decoding that skips every character outside
// the alphabet (blanks, line breaks), stops at the first "=", and turns a
// final group of two or three characters into one or two bytes; a single
// leftover character gives none.
std::string DecodeBase64(std::string_view text);
std::string EncodeBase64(std::string_view bytes);

// The plaintext of a stored text: base64 of salt (16 bytes) | cipher text |
// check value (16 bytes). The key is derived from passphrase and salt with
// Whirlpool-0; the cipher text is AES-256 in CBC for its whole blocks and
// CFB-8 for the rest, from the encryption of sixteen 0xFF bytes; the check
// value is the encryption of the final chaining register. A wrong check
// value (wrong passphrase, damaged text, fewer than 32 decoded bytes) raises
// std::runtime_error "Text "<text>" can not be decrypt because text is
// invalid (checksum incorrect)". Key, salt and buffers are overwritten
// before they are released.
std::string DecryptText(std::string_view text, std::string_view passphrase);
// The stored form of plaintext with the given 16-byte salt: what
// DecryptText reads back.
std::string EncryptText(std::string_view plaintext, std::string_view passphrase,
                        std::string_view salt);

// The decrypted stored password, or the host default password when the
// registry holds none (a missing key, value or an empty value). Raises the
// decryption error.
std::string ReadAdministratorPassword(const TBRNRegistryFile& registry);
// Whether the registry holds a stored password.
bool IsAdministratorPasswordStored(const TBRNRegistryFile& registry);

// A new administrator password: 16 letters and digits from the system's
// random source, stored in the registry in the stored form (with a random
// salt). Returns the password. Raises std::system_error when the random
// source or the file fails.
std::string StoreNewAdministratorPassword(TBRNRegistryFile& registry);

}  // namespace brn

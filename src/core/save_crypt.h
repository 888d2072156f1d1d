// save_crypt: the sealed form of the settings file. A seal is the plain text
// encrypted and authenticated with XChaCha20-Poly1305 under a key derived at
// run time from constants built into the program:
//
//   offset 0  "KRVL"   offset 4  version 1   offset 5  24-byte nonce
//   offset 29 16-byte tag   offset 45  ciphertext, as long as the plain text
//
// Any change to a seal (or a seal made under other constants) fails to open.
// All functions are thread-safe and never throw.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Bytes in front of the ciphertext: magic, version, nonce, tag.
inline constexpr size_t kSealHeaderSize = 45;

// At least kSealHeaderSize bytes starting with the magic (version not examined).
bool looksSealed(const std::string& bytes);

// The complete sealed file contents for plain (kSealHeaderSize + plain.size()
// bytes, a fresh nonce each call); empty only when the crypto library could
// not be initialised.
std::string saveEncrypt(const std::string& plain);

// Results of saveDecrypt.
inline constexpr int kUnsealOk = 0;
inline constexpr int kUnsealEmpty = 1;   // empty input
inline constexpr int kUnsealBroken = 2;  // short, wrong magic or version, failed authentication

// Opens a seal. *plain (when given) is emptied first and receives the text
// only on success.
int saveDecrypt(const std::string& sealed, std::string* plain);

}  // namespace platform

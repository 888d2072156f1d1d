#include "core/save_crypt.h"

#include <sodium.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace platform {

namespace {

constexpr char kMagic[4] = {'K', 'R', 'V', 'L'};
constexpr unsigned char kVersion = 1;
constexpr size_t kVersionOffset = 4;
constexpr size_t kNonceOffset = 5;
constexpr size_t kTagOffset = 29;
constexpr size_t kNonceSize = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
constexpr size_t kTagSize = crypto_aead_xchacha20poly1305_ietf_ABYTES;
constexpr size_t kKeySize = crypto_aead_xchacha20poly1305_ietf_KEYBYTES;
static_assert(kNonceOffset + kNonceSize == kTagOffset);
static_assert(kTagOffset + kTagSize == kSealHeaderSize);
static_assert(kKeySize == 32);

// Key material. Changing either constant makes every existing settings file
// unreadable (it is then treated as tampered with and set aside).
constexpr unsigned char kSeed[32] = {
    0x5b, 0xe1, 0x07, 0x9c, 0x33, 0xd8, 0x4a, 0xf2, 0x81, 0x16, 0xbd, 0x6e, 0x29, 0xc4, 0x70, 0x0d,
    0xa7, 0x3f, 0x92, 0x58, 0xee, 0x14, 0xcb, 0x61, 0x0a, 0xb5, 0x47, 0xd3, 0x8f, 0x26, 0x79, 0xe0};
constexpr char kLabel[] = "korvelle-set-v01";
static_assert(sizeof kLabel - 1 == 16);

// libsodium needs one initialisation per process; a function-local static
// makes the first call thread-safe.
bool sodiumReady() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

// The key is the unkeyed 32-byte BLAKE2b digest of seed followed by label.
void deriveKey(unsigned char* key) {
  unsigned char material[sizeof kSeed + 16];
  std::memcpy(material, kSeed, sizeof kSeed);
  std::memcpy(material + sizeof kSeed, kLabel, 16);
  crypto_generichash(key, kKeySize, material, sizeof material, nullptr, 0);
  sodium_memzero(material, sizeof material);
}

// Six 32-bit draws, little-endian; the first eight bytes are additionally
// mixed with the monotonic clock so that two seals made with a weak random
// source still get different nonces.
void makeNonce(unsigned char* out) {
  std::random_device rd("default");
  for (size_t i = 0; i < kNonceSize / 4; ++i) {
    uint32_t draw = rd();
    for (size_t b = 0; b < 4; ++b) out[i * 4 + b] = static_cast<unsigned char>(draw >> (8 * b));
  }
  auto ticks = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  for (size_t i = 0; i < 8; ++i) out[i] ^= static_cast<unsigned char>(ticks >> (8 * i));
}

unsigned char* bytes(std::string& s) { return reinterpret_cast<unsigned char*>(s.data()); }
const unsigned char* bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

}  // namespace

bool looksSealed(const std::string& bytes) {
  return bytes.size() >= kSealHeaderSize && std::memcmp(bytes.data(), kMagic, sizeof kMagic) == 0;
}

std::string saveEncrypt(const std::string& plain) {
  if (!sodiumReady()) return {};
  unsigned char key[kKeySize];
  deriveKey(key);

  std::string sealed(kSealHeaderSize + plain.size(), '\0');
  std::memcpy(sealed.data(), kMagic, sizeof kMagic);
  sealed[kVersionOffset] = static_cast<char>(kVersion);
  unsigned char* out = bytes(sealed);
  makeNonce(out + kNonceOffset);
  crypto_aead_xchacha20poly1305_ietf_encrypt_detached(
      out + kSealHeaderSize, out + kTagOffset, nullptr, bytes(plain), plain.size(), nullptr, 0,
      nullptr, out + kNonceOffset, key);
  sodium_memzero(key, sizeof key);
  return sealed;
}

int saveDecrypt(const std::string& sealed, std::string* plain) {
  if (plain) plain->clear();
  if (sealed.empty()) return kUnsealEmpty;
  if (!looksSealed(sealed) || static_cast<unsigned char>(sealed[kVersionOffset]) != kVersion) {
    return kUnsealBroken;
  }
  if (!sodiumReady()) return kUnsealBroken;

  unsigned char key[kKeySize];
  deriveKey(key);
  const unsigned char* in = bytes(sealed);
  size_t length = sealed.size() - kSealHeaderSize;
  std::vector<unsigned char> buffer(length + 1);  // never zero-sized, so data() is real
  int rc = crypto_aead_xchacha20poly1305_ietf_decrypt_detached(
      buffer.data(), nullptr, in + kSealHeaderSize, length, in + kTagOffset, nullptr, 0,
      in + kNonceOffset, key);
  sodium_memzero(key, sizeof key);
  if (rc == 0 && plain) plain->assign(reinterpret_cast<const char*>(buffer.data()), length);
  sodium_memzero(buffer.data(), buffer.size());
  return rc == 0 ? kUnsealOk : kUnsealBroken;
}

}  // namespace platform

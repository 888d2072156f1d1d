// Arbitrary bytes as a settings file: opening must fail cleanly (or, for a
// real seal, succeed) without reading outside the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/save_crypt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  std::string plain = "stale";
  int rc = platform::saveDecrypt(bytes, &plain);
  if (rc != platform::kUnsealOk && !plain.empty()) std::abort();
  if (rc == platform::kUnsealOk && plain.size() + platform::kSealHeaderSize != size) std::abort();
  if (size == 0 && rc != platform::kUnsealEmpty) std::abort();
  return 0;
}

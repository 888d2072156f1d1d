// Dropped-file texts come from other programs: any bytes must decode without
// faults, and the result must obey the decoder's promises.
// fuzz-sources: src/app/drop_uri.cpp
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/drop_uri.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string path = ui::decodeDroppedFile(text);
  // Decoding only ever shrinks the text, never invents a NUL byte and leaves
  // no trailing line break.
  if (path.size() > text.size()) std::abort();
  if (text.find('\0') == std::string::npos && path.find('\0') != std::string::npos) std::abort();
  if (!path.empty() && (path.back() == '\n' || path.back() == '\r')) std::abort();
  return 0;
}

// The file-type box check that tells HEIF photos from videos reads the first
// bytes of any file the user opens.
#include <cstddef>
#include <cstdint>

#include "media/heif_brand.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  media::isHeifStillBytes(data, size);
  return 0;
}

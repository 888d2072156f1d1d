// Arbitrary bytes as a whole image file: locating the EXIF block (JPEG
// segments, WebP chunks, TIFF) and adding the signature (PNG chunk chain,
// WebP headers) must stay inside the buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "media/exif.h"
#include "seed_corpus.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  av_log_set_level(AV_LOG_QUIET);
  fuzzseed::seedCorpus(*argc, *argv, fuzzseed::encodedImages());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  media::readExifFromFileBytes(data, size);
  std::vector<uint8_t> file(data, data + size);
  if (media::addSignature(file, "Korvelle 1.0", "Edited", "2024:01:02 03:04:05")) {
    // A signed JPEG carries the signature in its first segment, where the reader looks.
    const bool jpeg = data[0] == 0xFF && data[1] == 0xD8;
    if (jpeg && media::readExifFromFileBytes(file.data(), file.size()).software != "Korvelle 1.0") {
      std::abort();
    }
  } else if (file != std::vector<uint8_t>(data, data + size)) {
    std::abort();  // a refused file is left as it was
  }
  return 0;
}

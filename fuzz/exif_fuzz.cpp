// Arbitrary bytes as an EXIF block: parsing must stay inside the buffer and
// give plausible fields.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "media/exif.h"
#include "seed_corpus.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  std::vector<fuzzseed::Seed> seeds;
  seeds.emplace_back("signature", media::buildExif("Korvelle 1.0", "An edited photo", "2024:01:02 03:04:05"));
  seeds.emplace_back("inline", media::buildExif("abc", "", ""));
  // Motorola order with an EXIF sub-IFD holding a rational.
  seeds.emplace_back("mm-subifd",
                     std::vector<uint8_t>{'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 0x87, 0x69, 0, 4, 0, 0, 0, 1,
                                          0, 0, 0, 26, 0, 0, 0, 0, 0, 1, 0x82, 0x9A, 0, 5, 0, 0, 0, 1,
                                          0, 0, 0, 44, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 250});
  fuzzseed::seedCorpus(*argc, *argv, seeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  media::ExifData e = media::parseExifBlock(data, size);
  if (!e.valid && (!e.make.empty() || e.orientation != 1 || e.iso != 0)) std::abort();
  // A text can never be longer than the block it came from.
  if (e.make.size() > 2 * size || e.description.size() > 2 * size) std::abort();
  return 0;
}

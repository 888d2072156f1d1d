// Arbitrary bytes as a HEIF-family file whose container properties say how
// to turn the picture: the box walk must stay inside the buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "../tests/support/iso_boxes.h"
#include "media/heif_props.h"
#include "seed_corpus.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  using namespace iso_boxes;
  std::vector<fuzzseed::Seed> seeds;
  seeds.emplace_back("turned", heifFile({ispe(64, 32), irot(1), imir(0)}, ipma({{1, {1, 2, 3}}})));
  seeds.emplace_back("wide", heifFile({irot(3), imir(1)}, ipma({{2, {1}}, {1, {2, 1}}}, 1, 1)));
  fuzzseed::seedCorpus(*argc, *argv, seeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<media::TransformOp> ops = media::primaryItemTransformsBytes(data, size);
  // At most a handful of operations, each a real one.
  if (ops.size() > 8) std::abort();
  for (media::TransformOp op : ops) {
    if (static_cast<int>(op) < 0 || static_cast<int>(op) > 4) std::abort();
  }
  return 0;
}

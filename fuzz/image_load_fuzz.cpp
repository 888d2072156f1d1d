// Arbitrary bytes as an image file, through the whole loader (FFmpeg
// demuxers and decoders, libheif, LibRaw, EXIF, conversion): a clean result
// or a clean refusal. The first byte picks the file name's extension, which
// decides the RAW route and FFmpeg's guess by name.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "media/image_io.h"
#include "seed_corpus.h"

namespace {

std::string g_base;

void removeFiles() {
  for (const char* ext : {".jpg", ".png", ".webp", ".heic", ".dng", ".bin"}) {
    std::remove((g_base + ext).c_str());
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  av_log_set_level(AV_LOG_QUIET);
  g_base = "/tmp/korvelle-fuzz-load-" + std::to_string(::getpid());
  std::atexit(removeFiles);
  std::vector<fuzzseed::Seed> seeds;
  for (auto& s : fuzzseed::encodedImages()) {
    // Prefix byte 0: ".jpg" (FFmpeg probes by content first).
    s.second.insert(s.second.begin(), 0);
    seeds.push_back(std::move(s));
  }
  fuzzseed::seedCorpus(*argc, *argv, seeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const char* const kExt[] = {".jpg", ".png", ".webp", ".heic", ".dng", ".bin"};
  const std::string path = g_base + kExt[data[0] % 6];
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(data + 1, 1, size - 1, f);
  std::fclose(f);

  media::Image img;
  media::ImageInfo info;
  std::string err;
  if (media::loadImage(path, &img, &info, &err)) {
    // RAW photos are developed at full size; everything else is limited.
    const bool limited = info.format == "RAW" ||
                         (img.width <= media::kMaxLoadEdge && img.height <= media::kMaxLoadEdge);
    if (!img.valid() || !limited || info.width != img.width || info.height != img.height || !err.empty()) {
      std::abort();
    }
  } else if (err.empty()) {
    std::abort();
  }
  media::probeImage(path, &info, &err);
  return 0;
}

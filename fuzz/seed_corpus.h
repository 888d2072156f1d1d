// seed_corpus: seeds for the image fuzzers are made by the program's own
// encoders when the fuzzer starts (no binary files in the repository), and
// written into the first corpus directory named on the command line while
// that directory is still empty.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "media/exif.h"
#include "media/image.h"
#include "media/image_io.h"

namespace fuzzseed {

using Seed = std::pair<std::string, std::vector<uint8_t>>;

inline std::vector<uint8_t> readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Tiny encoded files: JPEG, PNG with alpha, lossy and lossless WebP, each
// also with the edit signature.
inline std::vector<Seed> encodedImages() {
  std::vector<Seed> seeds;
  media::Image img = media::Image::create(12, 9, true);
  for (size_t i = 0; i + 3 < size_t(img.width) * img.height * 4; i += 4) {
    img.pixels[i] = uint8_t(i * 7);
    img.pixels[i + 1] = uint8_t(i * 3);
    img.pixels[i + 2] = uint8_t(255 - i);
    img.pixels[i + 3] = uint8_t(i % 3 == 0 ? 255 : 90);
  }
  media::Image opaque = img;
  opaque.hasAlpha = false;
  const std::string tmp = "/tmp/korvelle-fuzz-seed-" + std::to_string(::getpid());
  struct Kind {
    const char* name;
    media::OutFormat format;
    const media::Image* image;
  };
  for (Kind k : {Kind{"jpeg", media::OutFormat::Jpeg, &opaque}, Kind{"png", media::OutFormat::Png, &img},
                 Kind{"webp-lossy", media::OutFormat::WebP, &img},
                 Kind{"webp-opaque", media::OutFormat::WebP, &opaque}}) {
    media::OutOptions o;
    o.format = k.format;
    o.quality = 60;
    if (!media::saveImage(tmp, *k.image, o, {}, nullptr)) continue;
    std::vector<uint8_t> bytes = readAll(tmp);
    seeds.emplace_back(k.name, bytes);
    if (media::addSignature(bytes, "Korvelle", "seed", "2024:01:02 03:04:05")) {
      seeds.emplace_back(std::string(k.name) + "-signed", bytes);
    }
  }
  ::unlink(tmp.c_str());
  return seeds;
}

// Writes the seeds into the first directory argument if it holds no files.
inline void seedCorpus(int argc, char** argv, const std::vector<Seed>& seeds) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    struct stat st {};
    if (arg.empty() || arg[0] == '-' || ::stat(arg.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
    DIR* d = ::opendir(arg.c_str());
    if (d == nullptr) return;
    bool empty = true;
    while (dirent* e = ::readdir(d)) {
      if (e->d_name[0] != '.') empty = false;
    }
    ::closedir(d);
    if (!empty) return;
    for (const Seed& s : seeds) {
      std::ofstream out(arg + "/seed-" + s.first, std::ios::binary);
      out.write(reinterpret_cast<const char*>(s.second.data()), std::streamsize(s.second.size()));
    }
    return;
  }
}

}  // namespace fuzzseed

// editor_fixtures: what the document, editor and screen tests share — a private
// cache folder, solid-colour pictures written at test time, small video clips.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "editor/document.h"
#include "media/image.h"
#include "media/image_io.h"
#include "support/media_clips.h"
#include "support/temp_xdg.h"
#include "support/test_support.h"

namespace editor_fixtures {

// A private cache folder for the whole test program; the working directory goes first.
inline testing_support::TempXdg* useTempCache() {
  return testing_support::useTempXdg({}, [] { doc::Document::cleanWorkDir(); });
}

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
};

inline media::Image solid(int w, int h, Rgb c) {
  media::Image img = media::Image::create(w, h, false);
  for (int y = 0; y < h; ++y) {
    uint8_t* p = img.row(y);
    for (int x = 0; x < w; ++x, p += 4) {
      p[0] = c.r;
      p[1] = c.g;
      p[2] = c.b;
      p[3] = 255;
    }
  }
  return img;
}

// Writes a w × h picture of one colour; the path, or empty on failure.
inline std::string writeSolid(const std::string& path, int w, int h, Rgb c,
                              media::OutFormat format = media::OutFormat::Png) {
  media::OutOptions o;
  o.format = format;
  o.quality = 95;
  return media::saveImage(path, solid(w, h, c), o, media::Meta{}, nullptr) ? path : std::string();
}

// The picture's centre pixel is c, within tol per channel (JPEG drifts).
inline bool centreIs(const media::Image& img, Rgb c, int tol = 0) {
  if (!img.valid()) return false;
  const uint8_t* p = img.row(img.height / 2) + static_cast<size_t>(img.width / 2) * 4;
  return std::abs(p[0] - c.r) <= tol && std::abs(p[1] - c.g) <= tol && std::abs(p[2] - c.b) <= tol;
}

// A short H.264 clip of the test pattern, w × h, made once per build tree.
inline std::string testClip(int w, int h, double seconds) {
  const std::string size = std::to_string(w) + "x" + std::to_string(h);
  return media_clips::clip("doc-" + size + ".mp4", "-f lavfi -i testsrc=size=" + size +
                                                          ":rate=10:duration=" + std::to_string(seconds) +
                                                          " -c:v libx264 -pix_fmt yuv420p");
}

}  // namespace editor_fixtures

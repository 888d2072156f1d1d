// video_fixtures: small clips made with the ffmpeg command line at test time,
// and a reader for the frame-number pattern some of them carry.
#pragma once

#include <string>

#include "media/image.h"
#include "support/test_support.h"

namespace video_fixtures {

// Runs the ffmpeg command line quietly; true when it succeeded.
inline bool ffmpeg(const std::string& args) {
  return testing_support::runShell("ffmpeg -hide_banner -loglevel error -nostdin -y " + args)
             .exitCode == 0;
}

// A lavfi video source whose frame N shows N in binary: the picture is cut
// into eight columns, column k white when bit k of N is set, else black.
// Survives lossy coding and scaling, so a test can tell which frame came back.
inline std::string indexSource(int width, int height, int fps, double seconds) {
  return "-f lavfi -i \"color=black:size=" + std::to_string(width) + "x" + std::to_string(height) +
         ":rate=" + std::to_string(fps) + ":duration=" + std::to_string(seconds) +
         ",format=yuv420p,geq=lum='if(bitand(N\\,pow(2\\,floor(X*8/W)))\\,235\\,16)':cb=128:cr=128\"";
}

inline std::string toneSource(double seconds, int frequency = 440) {
  return "-f lavfi -i \"sine=frequency=" + std::to_string(frequency) +
         ":sample_rate=48000:duration=" + std::to_string(seconds) + "\"";
}

// Clip of the index pattern: 320 × 240, 25 fps, a key frame every 12 frames
// (so most times need decoding forward from a key frame). audio: "aac" (a
// tone), "opus" or "" (no sound).
inline bool makeIndexClip(const std::string& out, double seconds, const std::string& audio,
                          const std::string& videoCodec = "libx264 -g 12 -pix_fmt yuv420p") {
  std::string args = indexSource(320, 240, 25, seconds);
  if (!audio.empty()) args += " " + toneSource(seconds);
  args += " -c:v " + videoCodec;
  if (audio == "aac") args += " -c:a aac";
  if (audio == "opus") args += " -c:a libopus";
  return ffmpeg(args + " -shortest '" + out + "'");
}

// The frame number shown by an index-pattern picture. vertical: the columns
// run top to bottom (the picture was turned clockwise). -1 when a column is
// neither clearly black nor white.
inline int frameIndex(const media::Image& img, bool vertical = false) {
  if (!img.valid()) return -1;
  int n = 0;
  for (int bit = 0; bit < 8; ++bit) {
    const int along = vertical ? img.height : img.width;
    const int pos = static_cast<int>((bit + 0.5) * along / 8);
    const int x = vertical ? img.width / 2 : pos;
    const int y = vertical ? pos : img.height / 2;
    const uint8_t* px = img.row(y) + static_cast<size_t>(x) * 4;
    const int luma = (px[0] + px[1] + px[2]) / 3;
    if (luma > 170) {
      n |= 1 << bit;
    } else if (luma > 70) {
      return -1;
    }
  }
  return n;
}

}  // namespace video_fixtures

// video_fixtures: small clips made with the ffmpeg command line at test time,
// and a reader for the frame-number pattern some of them carry.
//
// ctest runs every test case in its own process, so clips are made once per
// build tree (keyed by their ffmpeg arguments) and shared by the processes.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "media/image.h"
#include "support/test_support.h"

namespace video_fixtures {

// Runs the ffmpeg command line quietly; true when it succeeded.
inline bool ffmpeg(const std::string& args) {
  return testing_support::runShell("ffmpeg -hide_banner -loglevel error -nostdin -y " + args)
             .exitCode == 0;
}

// The file `ffmpeg <args> <file>` makes, where the name's extension picks the
// container; made on first use. Empty when ffmpeg failed.
inline std::string clip(const std::string& name, const std::string& args) {
  const std::string dir = std::string(KORVELLE_BINARY_DIR) + "/test-media";
  mkdir(dir.c_str(), 0755);
  uint64_t hash = 1469598103934665603ull;  // FNV-1a: stable across runs
  for (unsigned char c : args) hash = (hash ^ c) * 1099511628211ull;
  char key[24];
  std::snprintf(key, sizeof key, "%016llx", static_cast<unsigned long long>(hash));
  const std::string path = dir + "/" + key + "-" + name;
  if (access(path.c_str(), R_OK) == 0) return path;
  // Made under a private name and renamed, so a parallel process never sees half a file.
  const std::string tmp = dir + "/tmp" + std::to_string(getpid()) + "-" + name;
  if (!ffmpeg(args + " '" + tmp + "'") || std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::remove(tmp.c_str());
    return "";
  }
  return path;
}

// A lavfi video source whose frame N shows N in binary: the picture is cut
// into eight columns, column k white when bit k of N is set, else black.
// Survives lossy coding and scaling, so a test can tell which frame came back.
inline std::string indexSource(int width, int height, int fps, double seconds) {
  return "-f lavfi -i \"color=black:size=" + std::to_string(width) + "x" + std::to_string(height) +
         ":rate=" + std::to_string(fps) + ":duration=" + std::to_string(seconds) +
         ",format=yuv420p,geq=lum='if(bitand(N\\,pow(2\\,floor(X*8/W)))\\,235\\,16)':cb=128:cr=128\"";
}

// A 440 Hz tone at 48 kHz.
inline std::string toneSource(double seconds) {
  return "-f lavfi -i \"sine=frequency=440:sample_rate=48000:duration=" + std::to_string(seconds) +
         "\"";
}

constexpr const char* kH264 = "libx264 -g 12 -pix_fmt yuv420p";
constexpr const char* kVp9 = "libvpx-vp9 -deadline realtime -cpu-used 8 -g 12";

// Clip of the index pattern: 320 × 240, 25 fps, a key frame every 12 frames
// (so most times need decoding forward from one). audio: "aac" or "opus"
// (a tone), or "" for none.
inline std::string indexClip(const std::string& name, double seconds, const std::string& audio,
                             const std::string& videoCodec = kH264) {
  std::string args = indexSource(320, 240, 25, seconds);
  if (!audio.empty()) args += " " + toneSource(seconds);
  args += " -c:v " + videoCodec;
  if (audio == "aac") args += " -c:a aac";
  if (audio == "opus") args += " -c:a libopus";
  return clip(name, args + " -shortest");
}

// A copy of a clip with a "rotate" tag, which the muxer stores as a display
// matrix of minus that angle (270 gives -90 degrees: a phone held upright).
inline std::string rotatedCopy(const std::string& name, const std::string& src, int tag) {
  return clip(name, "-i '" + src + "' -c copy -metadata:s:v:0 rotate=" + std::to_string(tag));
}

// One second of sound without a picture.
inline std::string soundOnly() { return clip("sound_only.m4a", "-f lavfi -i \"sine=duration=1\" -c:a aac"); }

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

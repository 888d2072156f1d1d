// media_clips: clips made with the ffmpeg tool once per build tree (keyed by their arguments), and
// readers that look at a file through ffprobe and ffmpeg's filters, apart from the program's decoding.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "media/image.h"
#include "support/test_support.h"

namespace media_clips {

using testing_support::runShell;

// The path in single quotes for the shell.
inline std::string q(const std::string& path) {
  std::string out = "'";
  for (char c : path) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs the ffmpeg command line quietly; true when it succeeded.
inline bool ffmpeg(const std::string& args) {
  return runShell("ffmpeg -hide_banner -loglevel error -nostdin -y " + args).exitCode == 0;
}

// The file `ffmpeg <args> <file>` makes (the name's extension picks the container); "" when ffmpeg failed.
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
  if (!ffmpeg(args + " " + q(tmp)) || std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::remove(tmp.c_str());
    return "";
  }
  return path;
}

// A lavfi source whose frame N shows N in binary (column k of eight white for bit k), robust to coding.
inline std::string indexSource(int width, int height, int fps, double seconds) {
  return "-f lavfi -i \"color=black:size=" + std::to_string(width) + "x" + std::to_string(height) +
         ":rate=" + std::to_string(fps) + ":duration=" + std::to_string(seconds) +
         ",format=yuv420p,geq=lum='if(bitand(N\\,pow(2\\,floor(X*8/W)))\\,235\\,16)':cb=128:cr=128\"";
}

// A 440 Hz tone at 48 kHz.
inline std::string toneSource(double seconds) {
  return "-f lavfi -i \"sine=frequency=440:sample_rate=48000:duration=" + std::to_string(seconds) + "\"";
}

constexpr const char* kH264 = "libx264 -g 12 -pix_fmt yuv420p";
constexpr const char* kVp9 = "libvpx-vp9 -deadline realtime -cpu-used 8 -g 12";

// The index pattern, 320 × 240 at 25 fps, a key frame every 12; audio "aac", "opus" (a tone) or "".
inline std::string indexClip(const std::string& name, double seconds, const std::string& audio,
                             const std::string& videoCodec = kH264) {
  std::string args = indexSource(320, 240, 25, seconds);
  if (!audio.empty()) {
    args += ' ';  // appended apart: GCC 12 warns wrongly (-Wrestrict) about " " + std::string here
    args += toneSource(seconds);
  }
  args += " -c:v " + videoCodec;
  if (audio == "aac") args += " -c:a aac";
  if (audio == "opus") args += " -c:a libopus";
  return clip(name, args + " -shortest");
}

// A copy with a "rotate" tag, stored as a display matrix of minus that angle (270: a phone held upright).
inline std::string rotatedCopy(const std::string& name, const std::string& src, int tag) {
  return clip(name, "-i '" + src + "' -c copy -metadata:s:v:0 rotate=" + std::to_string(tag));
}

// One second of sound without a picture.
inline std::string soundOnly() { return clip("sound_only.m4a", "-f lavfi -i \"sine=duration=1\" -c:a aac"); }

// The frame number an index picture shows (vertical: turned clockwise); -1 when a column is unclear.
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

// The first picture of an image or video file as RGBA bytes, decoded by the ffmpeg tool; "" on failure.
inline std::string ffmpegRgba(const std::string& path) {
  const auto r = runShell("ffmpeg -v error -i " + q(path) + " -frames:v 1 -f rawvideo -pix_fmt rgba -");
  return r.exitCode == 0 ? r.out : std::string();
}

// Mean absolute difference over R, G and B of two RGBA buffers of n pixels.
inline double meanRgbDiff(const uint8_t* a, const uint8_t* b, size_t n) {
  double sum = 0;
  for (size_t i = 0; i < n * 4; ++i) {
    if (i % 4 != 3) sum += std::abs(int(a[i]) - int(b[i]));
  }
  return n ? sum / (double(n) * 3) : 0;
}

// The same for two images; huge when their sizes differ.
inline double meanRgbDiff(const media::Image& a, const media::Image& b) {
  if (a.width != b.width || a.height != b.height) return 1e9;
  return meanRgbDiff(a.pixels.data(), b.pixels.data(), size_t(a.width) * a.height);
}

// A moving test picture with a 440 Hz tone (rate 0: none), H.264 and AAC in MP4.
inline std::string testClip(double seconds, int w = 320, int h = 240, int fps = 25,
                            int rate = 48000, int channels = 2) {
  std::ostringstream a;
  a << "-f lavfi -i testsrc2=size=" << w << "x" << h << ":rate=" << fps << ":duration=" << seconds;
  if (rate > 0) {
    a << " -f lavfi -i sine=frequency=440:sample_rate=" << rate << ":duration=" << seconds
      << " -ac " << channels << " -c:a aac -b:a 96k";
  }
  a << " -c:v libx264 -preset ultrafast -g 12 -pix_fmt yuv420p -shortest";
  return clip("test.mp4", a.str());
}

// A black clip with a white frame and a 50 ms 1 kHz beep at k + 0.48 s of every second, in step. ground:
// dark grey (luma 64) and a 220 Hz hum (-37 dB, below soundOnsets) under them, so fades show.
inline std::string syncClip(double seconds, int fps = 25, int rate = 48000, int width = 320,
                            int height = 240, bool ground = false) {
  std::ostringstream a;
  a << "-f lavfi -i \"color=" << (ground ? "0x404040" : "black") << ":size=" << width << "x" << height
    << ":rate=" << fps << ":duration=" << seconds
    << ",drawbox=color=white:t=fill:enable='between(mod(t\\,1)\\,0.48-0.5/" << fps
    << "\\,0.48+0.499/" << fps
    << ")'\" -f lavfi -i "
       "\"aevalsrc='if(between(mod(t\\,1)\\,0.48\\,0.53)\\,0.5*sin(2*PI*1000*t)\\,0)"
    << (ground ? "+0.02*sin(2*PI*220*t)" : "") << "'"
    << ":s=" << rate << ":d=" << seconds << "\""
    << " -c:v libx264 -preset ultrafast -g 12 -pix_fmt yuv420p -c:a aac -b:a 96k -shortest";
  return clip("sync.mp4", a.str());
}

// ---- Reading an export back -------------------------------------------------

struct ProbeResult {
  std::string format;  // the demuxer's names, e.g. "matroska,webm"
  std::string videoCodec;
  std::string audioCodec;
  int width = 0;
  int height = 0;
  int sampleRate = 0;
  int channels = 0;
  std::map<std::string, std::string> tags;  // container tags, keys lower-cased
};

inline ProbeResult probe(const std::string& path) {
  ProbeResult r;
  const auto run = runShell(
      "ffprobe -v error -show_entries "
      "format=format_name:format_tags:stream=codec_type,codec_name,width,height,sample_rate,channels -of compact " +
      q(path));
  std::stringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) {
    std::map<std::string, std::string> f;  // "section|key=value|…"
    std::stringstream items(line);
    for (std::string item; std::getline(items, item, '|');) {
      const size_t eq = item.find('=');
      if (eq != std::string::npos) f[item.substr(0, eq)] = item.substr(eq + 1);
    }
    if (f["codec_type"] == "video" && r.videoCodec.empty()) {
      r.videoCodec = f["codec_name"];
      r.width = std::atoi(f["width"].c_str());
      r.height = std::atoi(f["height"].c_str());
    } else if (f["codec_type"] == "audio" && r.audioCodec.empty()) {
      r.audioCodec = f["codec_name"];
      r.sampleRate = std::atoi(f["sample_rate"].c_str());
      r.channels = std::atoi(f["channels"].c_str());
    } else if (line.rfind("format", 0) == 0) {
      r.format = f["format_name"];
      for (const auto& [key, value] : f) {
        if (key.rfind("tag:", 0) != 0) continue;
        std::string k = key.substr(4);
        for (char& c : k) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        r.tags[k] = value;
      }
    }
  }
  return r;
}

// Every video frame's time and mean luma (0 … 255).
struct FrameLuma {
  double t;
  double luma;
};

// filter (e.g. "crop=iw/4:ih/4") is applied before measuring.
inline std::vector<FrameLuma> frameLuma(const std::string& path, const std::string& filter = "") {
  const auto run = runShell("ffprobe -v error -f lavfi -i \"movie=" + path + (filter.empty() ? "" : "," + filter) +
                            ",signalstats\" -show_entries frame=pts_time:frame_tags="
                            "lavfi.signalstats.YAVG -of csv=p=0");
  std::vector<FrameLuma> frames;
  std::stringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) {
    double t = 0;
    double y = 0;
    if (std::sscanf(line.c_str(), "%lf,%lf", &t, &y) == 2) frames.push_back({t, y});
  }
  return frames;
}

// The luma of the frame nearest to t seconds; -1 without frames.
inline double lumaNear(const std::vector<FrameLuma>& frames, double t) {
  const auto it = std::min_element(frames.begin(), frames.end(), [&](const FrameLuma& a, const FrameLuma& b) {
    return std::fabs(a.t - t) < std::fabs(b.t - t);
  });
  return it == frames.end() ? -1 : it->luma;
}

// Length of the picture: the last frame's time plus one frame.
inline double videoSeconds(const std::string& path, double fps = 25) {
  const auto frames = frameLuma(path);
  return frames.empty() ? 0 : frames.back().t + 1.0 / fps;
}

// Times of the frames brighter than mid grey (after filter, as for frameLuma).
inline std::vector<double> flashTimes(const std::string& path, const std::string& filter = "") {
  std::vector<double> out;
  for (const FrameLuma& f : frameLuma(path, filter)) {
    if (f.luma > 100) out.push_back(f.t);
  }
  return out;
}

// Times where sound starts after at least 0.2 s of silence.
inline std::vector<double> soundOnsets(const std::string& path) {
  const auto run = runShell("ffmpeg -hide_banner -nostdin -i " + q(path) +
                            " -vn -af silencedetect=noise=-30dB:duration=0.2 -f null - 2>&1");
  std::vector<double> out;
  std::stringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) {
    const size_t at = line.find("silence_end: ");
    if (at != std::string::npos) out.push_back(std::atof(line.c_str() + at + 13));
  }
  return out;
}

// Mean level in dB of the sound between from and to seconds (-91: digital silence; NaN: no sound).
inline double meanVolumeDb(const std::string& path, double from, double to) {
  std::ostringstream cmd;
  cmd << "ffmpeg -hide_banner -nostdin -i " << q(path) << " -vn -af atrim=start=" << from
      << ":end=" << to << ",volumedetect -f null - 2>&1";
  const auto run = runShell(cmd.str());
  const size_t at = run.out.find("mean_volume: ");
  return at == std::string::npos ? NAN : std::atof(run.out.c_str() + at + 13);
}

// Length of the sound in seconds: the end of its last packet.
inline double audioSeconds(const std::string& path) {
  const auto run = runShell(
      "ffprobe -v error -select_streams a:0 -show_entries "
      "packet=pts_time,duration_time -of csv=p=0 " +
      q(path));
  double end = 0;
  std::stringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) {
    double t = 0;
    double d = 0;
    if (std::sscanf(line.c_str(), "%lf,%lf", &t, &d) == 2) end = std::max(end, t + d);
  }
  return end;
}

// Average PSNR (dB) of a's pictures against b's in order, via lossless copies (H.264 pairs wrongly).
inline double psnr(const std::string& a, const std::string& b) {
  const std::string refA = a + ".a.mkv";
  const std::string refB = a + ".b.mkv";
  const bool ok = ffmpeg("-i " + q(a) + " -an -c:v ffv1 " + q(refA)) &&
                  ffmpeg("-i " + q(b) + " -an -c:v ffv1 " + q(refB));
  const auto run = runShell("ffmpeg -hide_banner -nostdin -i " + q(refA) + " -i " + q(refB) +
                            " -lavfi \"[0:v]setpts=N/25/TB[a];[1:v]setpts=N/25/TB[b];"
                            "[a][b]psnr\" -f null - 2>&1");
  std::remove(refA.c_str());
  std::remove(refB.c_str());
  if (!ok) return 0;
  const size_t at = run.out.find("average:");
  return at == std::string::npos ? 0 : std::atof(run.out.c_str() + at + 8);
}

}  // namespace media_clips

// Smart cut against today's working copy (exportVideo, intermediate) and a
// full x264 ultrafast render on the command line, each making the same cut
// of a 60 s 1080p30 H.264 clip (one key frame a second, as phones write
// them): keep 12.345–47.890 s, and remove that range.
//
//   build-bench/bench_smart_cut --benchmark_counters_tabular=true
//
// Each iteration runs all three, in the same order, so load on the shared
// machine hits them alike; the counters are wall seconds and the ratios
// against the smart cut. Measure when `uptime` shows little load.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "media/smart_cut.h"
#include "media/video.h"
#include "media/video_export.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kFromMs = 12345;
constexpr double kToMs = 47890;
constexpr double kLengthMs = 60000;

double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

bool run(const std::string& cmd) { return std::system(cmd.c_str()) == 0; }

struct Workspace {
  std::string dir;
  std::string src;  // 60 s, 1920 × 1080, 30 fps, H.264 (GOP 30) + AAC
  bool ok = false;

  Workspace() {
    char tmpl[] = "/tmp/korvelle-bench-XXXXXX";
    if (!mkdtemp(tmpl)) return;
    dir = tmpl;
    src = dir + "/src1080.mp4";
    ok = run("ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i testsrc2=size=1920x1080:rate=30:duration=60"
             " -f lavfi -i sine=frequency=440:sample_rate=48000:duration=60 -c:v libx264 -preset veryfast -crf 20"
             " -g 30 -pix_fmt yuv420p -c:a aac -b:a 128k -shortest '" + src + "'");
  }
  ~Workspace() {
    if (!dir.empty()) std::filesystem::remove_all(dir);
  }
  std::string file(const std::string& name) const { return dir + "/" + name; }
};

Workspace& workspace() {
  static Workspace w;
  return w;
}

std::vector<media::Segment> cut(bool keep) {
  if (keep) return {{"", kFromMs, kToMs}};
  return {{"", 0, kFromMs}, {"", kToMs, kLengthMs}};
}

// The command line's full render of the same cut at x264's fastest setting.
std::string commandLine(const std::string& src, const std::string& out, bool keep) {
  char range[96];
  std::snprintf(range, sizeof range, "between(t,%.3f,%.3f)", kFromMs / 1000, kToMs / 1000);
  const std::string test = keep ? range : std::string("not(") + range + ")";
  return "ffmpeg -hide_banner -loglevel error -nostdin -y -i '" + src + "' -vf \"select='" + test +
         "',setpts=N/FRAME_RATE/TB\" -af \"aselect='" + test +
         "',asetpts=N/SR/TB\" -c:v libx264 -preset ultrafast -crf 18 -c:a aac '" + out + "'";
}

void BM_SmartCut(benchmark::State& state) {
  Workspace& w = workspace();
  if (!w.ok) return state.SkipWithError("no source clip");
  const bool keep = state.range(0) == 1;
  double smart = 0;
  double working = 0;
  double x264 = 0;
  for (auto _ : state) {
    media::SmartCutRequest req;
    req.segments = cut(keep);
    media::SmartCutStats stats;
    std::string err;
    auto t0 = Clock::now();
    if (!media::smartCut(w.src, w.file("smart.mp4"), req, nullptr, {}, &stats, &err)) {
      return state.SkipWithError(("smart cut refused: " + err).c_str());
    }
    smart += seconds(t0);
    state.counters["copied"] = static_cast<double>(stats.copiedFrames);
    state.counters["encoded"] = static_cast<double>(stats.encodedFrames);

    media::ExportOptions o;
    o.segments = cut(keep);
    o.intermediate = true;
    o.encoder = media::workingCopyEncoder().name;
    const std::string copy = w.file(std::string("copy") + media::extensionForEncoder(media::workingCopyEncoder()));
    t0 = Clock::now();
    if (!media::exportVideo(w.src, copy, o, nullptr, {}, &err)) return state.SkipWithError(err.c_str());
    working += seconds(t0);

    t0 = Clock::now();
    if (!run(commandLine(w.src, w.file("cli.mp4"), keep))) return state.SkipWithError("ffmpeg failed");
    x264 += seconds(t0);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["smart_s"] = smart / n;
  state.counters["workcopy_s"] = working / n;
  state.counters["x264uf_s"] = x264 / n;
  state.counters["workcopy_x"] = working / smart;
  state.counters["x264uf_x"] = x264 / smart;
}
// Arg 1: keep the range; 0: remove it.
BENCHMARK(BM_SmartCut)->Arg(1)->Arg(0)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

// Video read side: still grabbing against the ffmpeg command line doing the
// same job, and preview playback of a 1080p30 clip (decode CPU and the share
// of frames delivered on time); the same for a high-dynamic-range (HLG)
// version of the clip, whose pictures are tone-mapped, against the standard
// one, and the export of both.
//
//   bench_video [--benchmark_filter=...]
//
// The 1080p test clip (20 s, H.264 with a key frame every 2 s, AAC) and its
// HLG version (10-bit HEVC, BT.2020) are made once with the ffmpeg command
// line and kept next to the executable.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "media/player.h"
#include "media/video.h"
#include "media/video_export.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

std::string exeDir() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string path(buf, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/'));
}

// Runs argv to completion with its output discarded; true on exit status 0.
bool run(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

constexpr double kClipSeconds = 20;
constexpr int kGrabs = 20;

// Makes bench-media/<name> with ffmpeg args once; exits when ffmpeg fails.
std::string madeOnce(const std::string& name, const std::vector<std::string>& args) {
  const std::string dir = exeDir() + "/bench-media";
  mkdir(dir.c_str(), 0755);
  const std::string out = dir + "/" + name;
  struct stat st{};
  if (stat(out.c_str(), &st) == 0) return out;
  std::fprintf(stderr, "making %s ...\n", out.c_str());
  const std::string tmp = dir + "/making-" + name;
  std::vector<std::string> argv = {"ffmpeg", "-hide_banner", "-nostdin", "-y"};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.push_back(tmp);
  if (!run(argv) || std::rename(tmp.c_str(), out.c_str()) != 0) {
    std::fprintf(stderr, "ffmpeg failed to make %s\n", name.c_str());
    std::exit(1);
  }
  return out;
}

const std::string& clip1080() {
  // Moving test pattern with grain: a bit rate (about 15 Mbit/s) like a phone's.
  static const std::string path = madeOnce(
      "phone1080p30.mp4", {"-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=30:duration=20,noise=alls=10:allf=t",
                           "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=20", "-c:v",
                           "libx264", "-preset", "veryfast", "-g", "60", "-b:v", "15M", "-pix_fmt", "yuv420p",
                           "-c:a", "aac", "-shortest"});
  return path;
}

// The same clip as a phone records it in HDR: HLG, BT.2020, 10-bit HEVC.
const std::string& clipHlg1080() {
  static const std::string path = madeOnce(
      "phone1080p30-hlg.mp4",
      {"-i", clip1080(), "-vf",
       "zscale=tin=bt709:min=bt709:pin=bt709:rin=tv:t=arib-std-b67:m=bt2020nc:p=bt2020:r=tv:npl=203,"
       "format=yuv420p10le",
       "-c:v", "libx265", "-preset", "ultrafast", "-b:v", "15M", "-x265-params", "log-level=error:keyint=60",
       "-color_primaries", "bt2020", "-color_trc", "arib-std-b67", "-colorspace", "bt2020nc", "-c:a", "copy"});
  return path;
}

const std::string& clipFor(int64_t hdr) { return hdr ? clipHlg1080() : clip1080(); }

// The same pseudo-random times for both sides.
const std::vector<double>& grabTimesMs() {
  static const std::vector<double> times = [] {
    std::mt19937 rng(20240611);
    std::uniform_real_distribution<double> pick(0, (kClipSeconds - 0.5) * 1000);
    std::vector<double> t(kGrabs);
    for (double& v : t) v = pick(rng);
    return t;
  }();
  return times;
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

bool grabWithCommandLine(const std::string& path, double ms, int edge) {
  char seek[32];
  std::snprintf(seek, sizeof seek, "%.3f", ms / 1000);
  return run({"ffmpeg", "-nostdin", "-v", "error", "-ss", seek, "-i", path, "-frames:v", "1",
              "-vf", "scale=" + std::to_string(edge) + ":-2", "-f", "rawvideo", "-pix_fmt", "rgba",
              "-y", "/dev/null"});
}

// One still at each of the 20 times, ours and the command line's taken in
// turn so that both meet the same load. The reported time is ours; the
// counters give both medians and their ratio.
void BM_GrabFrameVsCommandLine(benchmark::State& state) {
  const int edge = static_cast<int>(state.range(0));
  const std::string& path = clip1080();
  std::vector<double> ours;
  std::vector<double> cli;
  size_t next = 0;
  for (auto _ : state) {
    const double t = grabTimesMs()[next++ % kGrabs];
    media::Image img;
    auto start = Clock::now();
    if (!media::grabFrame(path, t, edge, &img, nullptr)) state.SkipWithError("grab failed");
    ours.push_back(msSince(start));
    benchmark::DoNotOptimize(img.pixels.data());
    start = Clock::now();
    if (!grabWithCommandLine(path, t, edge)) state.SkipWithError("ffmpeg failed");
    cli.push_back(msSince(start));
    state.SetIterationTime(ours.back() / 1000);
  }
  state.counters["ours_median_ms"] = median(ours);
  state.counters["cli_median_ms"] = median(cli);
  state.counters["ratio"] = median(ours) / median(cli);
}

BENCHMARK(BM_GrabFrameVsCommandLine)
    ->Arg(384)
    ->Arg(960)
    ->Iterations(kGrabs)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

double cpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// Plays 10 s at a 1280-pixel preview with the UI polling at 60 Hz, as the
// editor's frame loop does. A frame is on time when it is handed out less
// than one frame interval after its time stamp; frames never handed out count
// as late.
// Argument 1 plays the HLG clip, 0 the standard one.
void BM_Playback1080p(benchmark::State& state) {
  constexpr double kPlayMs = 10000;
  constexpr double kFrameMs = 1000.0 / 30;
  constexpr auto kRefresh = std::chrono::microseconds(16667);
  const std::string& path = clipFor(state.range(0));
  for (auto _ : state) {
    media::Player player;
    if (!player.open(path, 1280, nullptr)) {
      state.SkipWithError("open failed");
      return;
    }
    media::Image img;
    while (!player.takeFrame(&img)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // Let the queue fill, as it does while the user looks at the first frame.
    while (player.queuedFrames() < 6) std::this_thread::sleep_for(std::chrono::milliseconds(1));

    int delivered = 0;
    int onTime = 0;
    double worstLateMs = 0;
    const double cpu0 = cpuSeconds();
    const auto start = Clock::now();
    player.play();
    auto tick = Clock::now();
    while (player.isPlaying && player.positionMs() < kPlayMs) {
      tick += kRefresh;
      std::this_thread::sleep_until(tick);
      const double pos = player.positionMs();
      double pts = 0;
      if (player.takeFrame(&img, &pts) && pts < kPlayMs) {
        ++delivered;
        const double late = pos - pts;
        worstLateMs = std::max(worstLateMs, late);
        if (late < kFrameMs) ++onTime;
      }
    }
    const double wallS = msSince(start) / 1000;
    const double cpuS = cpuSeconds() - cpu0;

    // Closing while the decoder waits for queue space, and while it decodes.
    player.pause();
    player.seek(5000);
    while (player.queuedFrames() < 6) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    auto c0 = Clock::now();
    player.close();
    const double closeFullMs = msSince(c0);
    player.open(path, 1280, nullptr);
    player.play();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    c0 = Clock::now();
    player.close();
    const double closePlayingMs = msSince(c0);

    const double expected = kPlayMs / kFrameMs;
    state.counters["on_time_pct"] = 100.0 * onTime / expected;
    state.counters["delivered"] = delivered;
    state.counters["expected"] = expected;
    state.counters["worst_late_ms"] = worstLateMs;
    state.counters["cpu_pct_of_core"] = 100.0 * cpuS / wallS;
    state.counters["close_full_ms"] = closeFullMs;
    state.counters["close_playing_ms"] = closePlayingMs;
  }
}

BENCHMARK(BM_Playback1080p)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

// Stills from the HLG clip against the same stills from the standard clip,
// taken in turn: the cost of tone mapping a grabbed frame.
void BM_GrabFrameHlgVsStandard(benchmark::State& state) {
  const int edge = static_cast<int>(state.range(0));
  std::vector<double> hlg;
  std::vector<double> sdr;
  size_t next = 0;
  for (auto _ : state) {
    const double t = grabTimesMs()[next++ % kGrabs];
    media::Image img;
    auto start = Clock::now();
    if (!media::grabFrame(clipHlg1080(), t, edge, &img, nullptr)) state.SkipWithError("grab failed");
    hlg.push_back(msSince(start));
    start = Clock::now();
    if (!media::grabFrame(clip1080(), t, edge, &img, nullptr)) state.SkipWithError("grab failed");
    sdr.push_back(msSince(start));
    state.SetIterationTime(hlg.back() / 1000);
  }
  state.counters["hlg_median_ms"] = median(hlg);
  state.counters["sdr_median_ms"] = median(sdr);
  state.counters["ratio"] = median(hlg) / median(sdr);
}

BENCHMARK(BM_GrabFrameHlgVsStandard)
    ->Arg(384)
    ->Arg(960)
    ->Iterations(kGrabs)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// A working-copy export of 5 s of the HLG clip against the same of the
// standard clip, in turn.
void BM_ExportHlgVsStandard(benchmark::State& state) {
  std::vector<double> hlg;
  std::vector<double> sdr;
  const std::string out = exeDir() + "/bench-media/export-out.webm";
  for (auto _ : state) {
    for (const std::string* path : {&clipHlg1080(), &clip1080()}) {
      media::ExportOptions opts;
      opts.segments = {media::Segment{*path, 0, 5000}};
      opts.intermediate = true;
      std::atomic<bool> cancel{false};
      const auto start = Clock::now();
      if (!media::exportVideo(*path, out, opts, &cancel, nullptr)) state.SkipWithError("export failed");
      (path == &clip1080() ? sdr : hlg).push_back(msSince(start));
    }
    state.SetIterationTime(hlg.back() / 1000);
  }
  std::remove(out.c_str());
  state.counters["hlg_median_ms"] = median(hlg);
  state.counters["sdr_median_ms"] = median(sdr);
  state.counters["ratio"] = median(hlg) / median(sdr);
}

BENCHMARK(BM_ExportHlgVsStandard)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  // A sound device that needs no sound card and consumes at real speed.
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  clip1080();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

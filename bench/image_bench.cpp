// Image operations on a 6000 × 4000 RGBA photo in memory, side by side with
// libvips doing the same work in the same process, each result forced into
// memory. Prints a table of both times and their ratio, then the peak memory
// each operation needs beyond its input (one child process per operation).
//
//   build-bench/bench_image [--skip-memory] [google-benchmark flags]
#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "media/image.h"
#include "media/parallel.h"

#ifdef KORVELLE_HAVE_VIPS
#include <vips/vips.h>
#endif

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;
constexpr double kAngle = 12.5;
const media::Adjust kColour{10, 15, 20, 10, 0, 0};
const media::Adjust kDetail{0, 0, 0, 0, 50, 50};
constexpr int kCropX = 1000, kCropY = 500, kCropW = 4000, kCropH = 3000;

// Smooth light falloff, a few soft shapes and fine texture: gradients like a
// sky, edges like a scene, grain like a sensor.
media::Image photo() {
  media::Image img = media::Image::create(kWidth, kHeight, false);
  media::parallelFor(kHeight, 64, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      uint8_t* p = img.row(y);
      for (int x = 0; x < kWidth; ++x, p += 4) {
        const double u = static_cast<double>(x) / kWidth, v = static_cast<double>(y) / kHeight;
        const double shade = 0.55 + 0.45 * std::cos(3.0 * (u - 0.4)) * std::cos(2.0 * (v - 0.3));
        const double disc = (u - 0.6) * (u - 0.6) + (v - 0.45) * (v - 0.45) < 0.04 ? 0.35 : 0.0;
        const uint32_t hash = static_cast<uint32_t>(x) * 2654435761u ^ static_cast<uint32_t>(y) * 40503u;
        const double grain = static_cast<double>((hash >> 24) & 15) - 7.5;
        const double texture = 12 * std::sin(x * 0.05) * std::sin(y * 0.07);
        p[0] = static_cast<uint8_t>(std::clamp(255 * shade * (0.9 + disc) + texture + grain, 0.0, 255.0));
        p[1] = static_cast<uint8_t>(std::clamp(230 * shade * (0.8 + v * 0.2) + grain, 0.0, 255.0));
        p[2] = static_cast<uint8_t>(std::clamp(200 * (1 - v) * shade + 40 * disc + texture + grain, 0.0, 255.0));
        p[3] = 255;
      }
    }
  });
  return img;
}

// Fit geometry of resizeTo(1080 × 1350, Contain, Blur) for the vips pipeline.
struct ContainGeometry {
  int w = 1080, h = 1350;
  double contain = 0, cover = 0;
  int fw = 0, fh = 0, cw = 0, ch = 0, sw = 0, sh = 0;
  ContainGeometry() {
    contain = std::min(static_cast<double>(w) / kWidth, static_cast<double>(h) / kHeight);
    cover = std::max(static_cast<double>(w) / kWidth, static_cast<double>(h) / kHeight);
    fw = static_cast<int>(std::lround(kWidth * contain));
    fh = static_cast<int>(std::lround(kHeight * contain));
    cw = static_cast<int>(std::lround(kWidth * cover));
    ch = static_cast<int>(std::lround(kHeight * cover));
    const int k = std::min(w, h) / 24;
    sw = std::max(1, k * w / std::max(w, h));
    sh = std::max(1, k * h / std::max(w, h));
  }
};

// --- Our operations ------------------------------------------------------------------

struct Op {
  const char* name;
  std::function<size_t(media::Image&)> ours;  // returns output bytes; reads its input unless inPlace
#ifdef KORVELLE_HAVE_VIPS
  std::function<size_t(VipsImage*)> vips;
#endif
  bool inPlace;  // ours works on a copy made outside the timing
};

size_t bytesOf(const media::Image& img) { return img.pixels.size(); }

#ifdef KORVELLE_HAVE_VIPS
// Forces a lazy vips pipeline into a memory image and returns its size.
size_t realise(VipsImage* out) {
  if (!out) {
    std::fprintf(stderr, "vips: %s\n", vips_error_buffer());
    std::abort();
  }
  VipsImage* mem = vips_image_copy_memory(out);
  g_object_unref(out);
  if (!mem) {
    std::fprintf(stderr, "vips: %s\n", vips_error_buffer());
    std::abort();
  }
  const size_t bytes = VIPS_IMAGE_SIZEOF_IMAGE(mem);
  g_object_unref(mem);
  return bytes;
}

// Runs one vips operation writing to *out and realises its result.
template <class Call>
size_t realiseCall(Call call) {
  VipsImage* out = nullptr;
  return realise(call(&out) == 0 ? out : nullptr);
}
#endif

std::vector<Op> operations() {
  std::vector<Op> ops;
  ops.push_back({"resizeLongEdge 1920",
                 [](media::Image& src) { return bytesOf(media::resizeLongEdge(src, 1920)); },
#ifdef KORVELLE_HAVE_VIPS
                 [](VipsImage* in) {
                   return realiseCall([&](VipsImage** out) { return vips_resize(in, out, 1920.0 / kWidth, nullptr); });
                 },
#endif
                 false});
  ops.push_back({"resizeTo 1080x1350 contain blur",
                 [](media::Image& src) {
                   return bytesOf(media::resizeTo(src, 1080, 1350, media::FitMode::Contain, media::PadMode::Blur));
                 },
#ifdef KORVELLE_HAVE_VIPS
                 [](VipsImage* in) {
                   // The same pipeline: fitted picture, cover crop shrunk to a
                   // long side of k pixels and enlarged (bicubic), picture
                   // inserted. The tiny image is made real first, as one would:
                   // left lazy, every tile of the enlargement recomputes it.
                   const ContainGeometry g;
                   VipsImage *fitted, *cover, *coverCrop, *small, *big, *out;
                   vips_resize(in, &fitted, g.contain, nullptr);
                   vips_resize(in, &cover, g.cover, nullptr);
                   vips_crop(cover, &coverCrop, (vips_image_get_width(cover) - g.w) / 2,
                             (vips_image_get_height(cover) - g.h) / 2, g.w, g.h, nullptr);
                   vips_resize(coverCrop, &small, static_cast<double>(g.sw) / g.w, "vscale",
                               static_cast<double>(g.sh) / g.h, nullptr);
                   VipsImage* smallMem = vips_image_copy_memory(small);
                   vips_resize(smallMem, &big, static_cast<double>(g.w) / g.sw, "vscale",
                               static_cast<double>(g.h) / g.sh, "kernel", VIPS_KERNEL_CUBIC, nullptr);
                   vips_insert(big, fitted, &out, (g.w - vips_image_get_width(fitted)) / 2,
                               (g.h - vips_image_get_height(fitted)) / 2, nullptr);
                   for (VipsImage* i : {fitted, cover, coverCrop, small, smallMem, big}) g_object_unref(i);
                   return realise(out);
                 },
#endif
                 false});
  ops.push_back({"rotate 12.5",
                 [](media::Image& src) { return bytesOf(media::rotate(src, kAngle)); },
#ifdef KORVELLE_HAVE_VIPS
                 [](VipsImage* in) {
                   // Bilinear rotation, cropped to the same inner rectangle.
                   const media::Size inner = media::insideCrop(kWidth, kHeight, kAngle);
                   VipsInterpolate* bilinear = vips_interpolate_new("bilinear");
                   VipsImage *turned, *out;
                   vips_rotate(in, &turned, kAngle, "interpolate", bilinear, nullptr);
                   vips_crop(turned, &out, (vips_image_get_width(turned) - inner.width) / 2,
                             (vips_image_get_height(turned) - inner.height) / 2, inner.width, inner.height, nullptr);
                   g_object_unref(turned);
                   g_object_unref(bilinear);
                   return realise(out);
                 },
#endif
                 false});
  ops.push_back({"transform RotateCW",
                 [](media::Image& src) { return bytesOf(media::transform(src, media::TransformOp::RotateCW)); },
#ifdef KORVELLE_HAVE_VIPS
                 [](VipsImage* in) {
                   return realiseCall([&](VipsImage** out) { return vips_rot(in, out, VIPS_ANGLE_D90, nullptr); });
                 },
#endif
                 false});
  ops.push_back({"applyAdjust colour",
                 [](media::Image& src) {
                   media::applyAdjust(src, kColour);
                   return size_t{0};
                 },
#ifdef KORVELLE_HAVE_VIPS
                 [](VipsImage* in) {
                   // Saturation matrix, then contrast, brightness and warmth as one
                   // linear step per band, back to 8 bits.
                   const double s = 1 + kColour.saturation / 100, t = 1 - s;
                   const double k = 1 + (kColour.contrast / 100) * 0.8;
                   const double off = 255 * ((1 - k) * 0.5 + (kColour.brightness / 100) * 0.25);
                   const double w = (kColour.warmth / 100) * 0.15;
                   VipsImage* matrix = vips_image_new_matrixv(
                       4, 4, s + 0.2126 * t, 0.7152 * t, 0.0722 * t, 0.0, 0.2126 * t, s + 0.7152 * t, 0.0722 * t, 0.0,
                       0.2126 * t, 0.7152 * t, s + 0.0722 * t, 0.0, 0.0, 0.0, 0.0, 1.0);
                   double a[4] = {(1 + w) * k, k, (1 - w) * k, 1};
                   double b[4] = {(1 + w) * off, off, (1 - w) * off, 0};
                   VipsImage *mixed, *lin, *out;
                   vips_recomb(in, &mixed, matrix, nullptr);
                   vips_linear(mixed, &lin, a, b, 4, nullptr);
                   vips_cast_uchar(lin, &out, nullptr);
                   g_object_unref(matrix);
                   g_object_unref(mixed);
                   g_object_unref(lin);
                   return realise(out);
                 },
#endif
                 true});
  ops.push_back({"applyAdjust clarity+sharpness",
                 [](media::Image& src) {
                   media::applyAdjust(src, kDetail);
                   return size_t{0};
                 },
#ifdef KORVELLE_HAVE_VIPS
                 [](VipsImage* in) {
                   return realiseCall([&](VipsImage** out) { return vips_sharpen(in, out, nullptr); });
                 },
#endif
                 true});
  ops.push_back({"cropTo 4000x3000",
                 [](media::Image& src) { return bytesOf(media::cropTo(src, kCropX, kCropY, kCropW, kCropH)); },
#ifdef KORVELLE_HAVE_VIPS
                 [](VipsImage* in) {
                   return realiseCall([&](VipsImage** out) { return vips_crop(in, out, kCropX, kCropY, kCropW, kCropH, nullptr); });
                 },
#endif
                 false});
  return ops;
}

// --- Timing ----------------------------------------------------------------------------

media::Image& input() {
  static media::Image img = photo();
  return img;
}

#ifdef KORVELLE_HAVE_VIPS
// The same pixels, borrowed by vips (no copy).
VipsImage* vipsInput() {
  static VipsImage* image = [] {
    const media::Image& src = input();
    VipsImage* raw = vips_image_new_from_memory(src.pixels.data(), static_cast<size_t>(kWidth) * kHeight * 4, kWidth,
                                                kHeight, 4, VIPS_FORMAT_UCHAR);
    VipsImage* srgb = nullptr;
    vips_copy(raw, &srgb, "interpretation", VIPS_INTERPRETATION_sRGB, nullptr);
    g_object_unref(raw);
    return srgb;
  }();
  return image;
}
#endif

// CPU time of the whole process (every thread), so work done on worker
// threads counts; Google Benchmark's own CPU column only sees this thread.
double processCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

void reportCpu(benchmark::State& state, double cpuMs) {
  state.counters["cpu_ms"] = benchmark::Counter(cpuMs / static_cast<double>(state.iterations()));
}

void runOurs(benchmark::State& state, const Op& op) {
  media::Image& src = input();
  media::Image scratch;
  double cpuMs = 0;
  for (auto _ : state) {
    if (op.inPlace) {
      state.PauseTiming();
      scratch = src;
      state.ResumeTiming();
    }
    const double before = processCpuMs();
    benchmark::DoNotOptimize(op.ours(op.inPlace ? scratch : src));
    cpuMs += processCpuMs() - before;
  }
  reportCpu(state, cpuMs);
}

#ifdef KORVELLE_HAVE_VIPS
void runVips(benchmark::State& state, const Op& op) {
  VipsImage* in = vipsInput();
  double cpuMs = 0;
  for (auto _ : state) {
    const double before = processCpuMs();
    benchmark::DoNotOptimize(op.vips(in));
    cpuMs += processCpuMs() - before;
  }
  reportCpu(state, cpuMs);
}
#endif

// Console output as usual, plus the side-by-side table at the end.
// Console output as usual, plus the side-by-side table at the end. Each
// figure is the fastest repetition, the one least disturbed by other load.
class TableReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
      Best& best = best_[run.run_name.function_name];
      const double wall = run.GetAdjustedRealTime();
      if (best.wall == 0 || wall < best.wall) best.wall = wall;
      auto cpu = run.counters.find("cpu_ms");
      if (cpu != run.counters.end() && (best.cpu == 0 || cpu->second.value < best.cpu)) best.cpu = cpu->second.value;
    }
  }

  void printTable(const std::vector<Op>& ops) const {
    std::printf("\n%-32s %9s %9s %6s   %9s %9s %6s\n", "operation (fastest run)", "ours ms", "vips ms", "ratio",
                "ours cpu", "vips cpu", "ratio");
    for (const Op& op : ops) {
      const Best ours = find(std::string(op.name) + "/ours");
      const Best vips = find(std::string(op.name) + "/vips");
      std::printf("%-32s %9.1f %9.1f %6.2f   %9.1f %9.1f %6.2f\n", op.name, ours.wall, vips.wall,
                  vips.wall > 0 ? ours.wall / vips.wall : 0.0, ours.cpu, vips.cpu,
                  vips.cpu > 0 ? ours.cpu / vips.cpu : 0.0);
    }
    std::printf("(wall: real time; cpu: process CPU time over all threads, in ms per call)\n");
  }

 private:
  struct Best {
    double wall = 0;
    double cpu = 0;
  };
  Best find(const std::string& name) const {
    auto it = best_.find(name);
    return it == best_.end() ? Best{} : it->second;
  }
  std::map<std::string, Best> best_;
};

// --- Peak memory -----------------------------------------------------------------------

long statusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const size_t len = std::strlen(field);
  while (std::getline(status, line)) {
    if (line.compare(0, len, field) == 0) return std::stol(line.substr(len + 1));
  }
  return -1;
}

// Resets the resident high-water mark to the current resident size.
bool resetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  return static_cast<bool>(clear.flush());
}

struct MemoryResult {
  long extraKb = -1;
  long outputKb = 0;
};

// Runs one operation in a child process that holds only the input, and
// reports how far the resident size rose above that while it ran.
template <class Run>
MemoryResult measureInChild(Run run) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    MemoryResult r;
    const size_t out = run(/*prepareOnly=*/true);  // builds the input, untimed
    (void)out;
    const long base = statusKb("VmRSS:");
    if (resetPeak()) {
      r.outputKb = static_cast<long>(run(false) / 1024);
      r.extraKb = statusKb("VmHWM:") - base;
    }
    if (write(fds[1], &r, sizeof r) != static_cast<ssize_t>(sizeof r)) _exit(1);
    _exit(0);
  }
  close(fds[1]);
  MemoryResult r;
  if (read(fds[0], &r, sizeof r) != static_cast<ssize_t>(sizeof r)) r = {};
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return r;
}

void printMemory(const std::vector<Op>& ops) {
  const double inputMb = static_cast<double>(kWidth) * kHeight * 4 / (1 << 20);
  const double planeMb = static_cast<double>(kWidth) * kHeight / (1 << 20);
  std::printf("\nPeak resident memory beyond the %.0f MB input (budget: output + one %.0f MB plane)\n", inputMb,
              planeMb);
  std::printf("%-34s %10s %10s %10s %10s\n", "operation", "output MB", "ours MB", "vips MB", "budget MB");
  for (const Op& op : ops) {
    media::Image held;
    const MemoryResult ours = measureInChild([&](bool prepare) -> size_t {
      if (prepare) {
        held = photo();
        return 0;
      }
      return op.ours(held);
    });
    double vipsMb = -1;
#ifdef KORVELLE_HAVE_VIPS
    VipsImage* in = nullptr;
    const MemoryResult theirs = measureInChild([&](bool prepare) -> size_t {
      if (prepare) {
        held = photo();
        if (VIPS_INIT("bench_image") != 0) std::abort();
        vips_cache_set_max(0);
        VipsImage* raw = vips_image_new_from_memory(held.pixels.data(), static_cast<size_t>(kWidth) * kHeight * 4,
                                                    kWidth, kHeight, 4, VIPS_FORMAT_UCHAR);
        vips_copy(raw, &in, "interpretation", VIPS_INTERPRETATION_sRGB, nullptr);
        g_object_unref(raw);
        return 0;
      }
      return op.vips(in);
    });
    vipsMb = theirs.extraKb / 1024.0;
#endif
    const double outMb = ours.outputKb / 1024.0;
    std::printf("%-34s %10.1f %10.1f %10.1f %10.1f\n", op.name, outMb, ours.extraKb / 1024.0, vipsMb, outMb + planeMb);
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool memory = true;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--skip-memory") == 0) {
      memory = false;
    } else {
      args.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(args.size());
  const std::vector<Op> ops = operations();
  // Before any thread exists in this process: the children are forked from it.
  if (memory) printMemory(ops);

#ifdef KORVELLE_HAVE_VIPS
  if (VIPS_INIT(argv[0]) != 0) return 1;
  // Repeated calls must compute, not return a cached result.
  vips_cache_set_max(0);
#endif
  for (const Op& op : ops) {
    benchmark::RegisterBenchmark((std::string(op.name) + "/ours").c_str(), [&op](benchmark::State& s) { runOurs(s, op); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MinWarmUpTime(0.5)
        ->MinTime(1.0);
#ifdef KORVELLE_HAVE_VIPS
    benchmark::RegisterBenchmark((std::string(op.name) + "/vips").c_str(), [&op](benchmark::State& s) { runVips(s, op); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MinWarmUpTime(0.5)
        ->MinTime(1.0);
#endif
  }
  benchmark::Initialize(&count, args.data());
  TableReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printTable(ops);
  benchmark::Shutdown();
  return 0;
}

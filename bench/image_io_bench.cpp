// Image loading and saving beside libvips in the same run: a 24-megapixel
// camera-like JPEG (6000 × 4000, 4:2:0, quality 90, about 9 MB like a camera
// file, generated once) and the 12-megapixel iPhone HEIC fixture. Each
// benchmark reports its peak resident memory above the level before it
// ("peak_MB") and the processor time of all its threads per iteration
// ("cpu_ms"; libvips works on several threads, and on a busy machine this is
// steadier than the wall time). Compare the rows pairwise: Korvelle/X against
// Vips/X.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "media/image.h"
#include "media/image_io.h"

#ifdef KORVELLE_HAVE_VIPS
#include <vips/vips.h>
#endif

namespace {

std::string fixturesDir() {
  if (const char* env = std::getenv("KORVELLE_FIXTURES_DIR")) return env;
  return KORVELLE_FIXTURES_DIR;
}

std::string tempPath(const std::string& name) {
  return "/tmp/korvelle-bench-" + std::to_string(::getpid()) + "-" + name;
}

// Resident memory figures of this process in kB ("VmRSS", "VmHWM").
long statusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(key) + ":";
  while (std::getline(in, line)) {
    if (line.rfind(prefix, 0) == 0) return std::atol(line.c_str() + prefix.size());
  }
  return 0;
}

double processCpuMs() {
  rusage ru {};
  getrusage(RUSAGE_SELF, &ru);
  auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
  return ms(ru.ru_utime) + ms(ru.ru_stime);
}

// Peak memory and processor time of one benchmark: the high-water mark is
// reset before it runs.
class Usage {
 public:
  Usage() {
    std::ofstream("/proc/self/clear_refs") << "5";
    base_ = statusKb("VmRSS");
    cpu_ = processCpuMs();
  }
  void report(benchmark::State& state) const {
    state.counters["peak_MB"] = double(statusKb("VmHWM") - base_) / 1024.0;
    state.counters["cpu_ms"] = (processCpuMs() - cpu_) / std::max<double>(1, double(state.iterations()));
  }

 private:
  long base_ = 0;
  double cpu_ = 0;
};

// A photo-like picture: smooth light, edges and a little sensor noise.
media::Image syntheticPhoto(int w, int h) {
  media::Image img = media::Image::create(w, h, false);
  uint32_t noise = 1;
  for (int y = 0; y < h; ++y) {
    uint8_t* p = img.row(y);
    for (int x = 0; x < w; ++x, p += 4) {
      noise = noise * 1664525u + 1013904223u;
      const int n = int(noise >> 27) - 16;
      const double fx = double(x) / w, fy = double(y) / h;
      const double light = 0.5 + 0.4 * std::sin(fx * 9.0 + fy * 4.0) * std::cos(fy * 7.0);
      const bool stripe = ((x / 37 + y / 53) % 5) == 0;
      p[0] = uint8_t(std::clamp(int(255 * light * (0.6 + 0.4 * fx)) + n + (stripe ? 40 : 0), 0, 255));
      p[1] = uint8_t(std::clamp(int(255 * light * 0.8) + n, 0, 255));
      p[2] = uint8_t(std::clamp(int(255 * (1.0 - light) * (0.5 + 0.5 * fy)) + n, 0, 255));
      p[3] = 255;
    }
  }
  return img;
}

// The 24-megapixel JPEG, written once per run (4:2:0 like a camera's, through
// libvips when present, else through the program's own encoder).
const std::string& bigJpeg() {
  static const std::string path = [] {
    const std::string p = tempPath("24mp.jpg");
    media::Image img = syntheticPhoto(6000, 4000);
#ifdef KORVELLE_HAVE_VIPS
    std::string rgb;
    rgb.reserve(size_t(img.width) * img.height * 3);
    for (size_t i = 0; i < size_t(img.width) * img.height; ++i) {
      rgb.append(reinterpret_cast<const char*>(img.pixels.data() + i * 4), 3);
    }
    VipsImage* v = vips_image_new_from_memory(rgb.data(), rgb.size(), img.width, img.height, 3,
                                              VIPS_FORMAT_UCHAR);
    if (v == nullptr || vips_jpegsave(v, p.c_str(), "Q", 90, "subsample_mode", VIPS_FOREIGN_SUBSAMPLE_ON,
                                      nullptr) != 0) {
      std::fprintf(stderr, "vips_jpegsave failed\n");
      std::exit(1);
    }
    g_object_unref(v);
#else
    media::OutOptions o;
    o.format = media::OutFormat::Jpeg;
    if (!media::saveImage(p, img, o, {}, nullptr)) std::exit(1);
#endif
    std::atexit([] { std::remove(tempPath("24mp.jpg").c_str()); });
    std::ifstream in(p, std::ios::binary | std::ios::ate);
    std::fprintf(stderr, "24-megapixel JPEG: %.1f MB\n", double(in.tellg()) / 1e6);
    return p;
  }();
  return path;
}

std::string heic() { return fixturesDir() + "/iphone11pro.heic"; }

void korvelleLoad(benchmark::State& state, const std::string& path) {
  Usage usage;
  for (auto _ : state) {
    media::Image img;
    std::string err;
    if (!media::loadImage(path, &img, nullptr, &err)) {
      state.SkipWithError(("loadImage: " + err).c_str());
      return;
    }
    benchmark::DoNotOptimize(img.pixels.data());
  }
  usage.report(state);
}

void korvelleSaveJpeg(benchmark::State& state, const std::string& source) {
  media::Image img;
  if (!media::loadImage(source, &img, nullptr, nullptr)) {
    state.SkipWithError("source did not load");
    return;
  }
  media::OutOptions o;
  o.format = media::OutFormat::Jpeg;
  o.quality = 90;
  const std::string out = tempPath("out.jpg");
  Usage usage;
  for (auto _ : state) {
    std::string err;
    if (!media::saveImage(out, img, o, {"Korvelle", "benchmark"}, &err)) {
      state.SkipWithError(("saveImage: " + err).c_str());
      return;
    }
  }
  usage.report(state);
  std::remove(out.c_str());
}

void BM_Korvelle_LoadJpeg24MP(benchmark::State& state) { korvelleLoad(state, bigJpeg()); }
void BM_Korvelle_SaveJpeg24MP(benchmark::State& state) { korvelleSaveJpeg(state, bigJpeg()); }
void BM_Korvelle_LoadHeic12MP(benchmark::State& state) { korvelleLoad(state, heic()); }
void BM_Korvelle_SaveJpegFromHeic12MP(benchmark::State& state) { korvelleSaveJpeg(state, heic()); }

BENCHMARK(BM_Korvelle_LoadJpeg24MP)->Unit(benchmark::kMillisecond)->UseRealTime();
#ifdef KORVELLE_HAVE_VIPS
void BM_Vips_LoadJpeg24MP(benchmark::State& state);
BENCHMARK(BM_Vips_LoadJpeg24MP)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif
BENCHMARK(BM_Korvelle_SaveJpeg24MP)->Unit(benchmark::kMillisecond)->UseRealTime();
#ifdef KORVELLE_HAVE_VIPS
void BM_Vips_SaveJpeg24MP(benchmark::State& state);
BENCHMARK(BM_Vips_SaveJpeg24MP)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif
BENCHMARK(BM_Korvelle_LoadHeic12MP)->Unit(benchmark::kMillisecond)->UseRealTime();
#ifdef KORVELLE_HAVE_VIPS
void BM_Vips_LoadHeic12MP(benchmark::State& state);
BENCHMARK(BM_Vips_LoadHeic12MP)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif
BENCHMARK(BM_Korvelle_SaveJpegFromHeic12MP)->Unit(benchmark::kMillisecond)->UseRealTime();
#ifdef KORVELLE_HAVE_VIPS
void BM_Vips_SaveJpegFromHeic12MP(benchmark::State& state);
BENCHMARK(BM_Vips_SaveJpegFromHeic12MP)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

#ifdef KORVELLE_HAVE_VIPS
struct VipsUnref {
  void operator()(VipsImage* v) const { g_object_unref(v); }
};
using VipsPtr = std::unique_ptr<VipsImage, VipsUnref>;

// Decodes the whole file into memory, as the program's loader does.
void vipsLoad(benchmark::State& state, const std::string& path) {
  Usage usage;
  for (auto _ : state) {
    VipsPtr v(vips_image_new_from_file(path.c_str(), "access", VIPS_ACCESS_SEQUENTIAL, nullptr));
    size_t size = 0;
    void* mem = v ? vips_image_write_to_memory(v.get(), &size) : nullptr;
    if (mem == nullptr) {
      state.SkipWithError(vips_error_buffer());
      return;
    }
    benchmark::DoNotOptimize(mem);
    g_free(mem);
  }
  usage.report(state);
}

// Saves a decoded image held in memory with the same JPEG settings as the
// program: quality 90, no chroma subsampling, optimised Huffman tables.
void vipsSaveJpeg(benchmark::State& state, const std::string& source) {
  VipsPtr file(vips_image_new_from_file(source.c_str(), "access", VIPS_ACCESS_SEQUENTIAL, nullptr));
  size_t size = 0;
  void* mem = file ? vips_image_write_to_memory(file.get(), &size) : nullptr;
  if (mem == nullptr) {
    state.SkipWithError(vips_error_buffer());
    return;
  }
  VipsPtr img(vips_image_new_from_memory(mem, size, file->Xsize, file->Ysize, file->Bands, VIPS_FORMAT_UCHAR));
  const std::string out = tempPath("vips.jpg");
  Usage usage;
  for (auto _ : state) {
    if (vips_jpegsave(img.get(), out.c_str(), "Q", 90, "subsample_mode", VIPS_FOREIGN_SUBSAMPLE_OFF,
                      "optimize_coding", TRUE, nullptr) != 0) {
      state.SkipWithError(vips_error_buffer());
      break;
    }
  }
  usage.report(state);
  img.reset();
  g_free(mem);
  std::remove(out.c_str());
}

void BM_Vips_LoadJpeg24MP(benchmark::State& state) { vipsLoad(state, bigJpeg()); }
void BM_Vips_SaveJpeg24MP(benchmark::State& state) { vipsSaveJpeg(state, bigJpeg()); }
void BM_Vips_LoadHeic12MP(benchmark::State& state) { vipsLoad(state, heic()); }
void BM_Vips_SaveJpegFromHeic12MP(benchmark::State& state) { vipsSaveJpeg(state, heic()); }
#endif

}  // namespace

int main(int argc, char** argv) {
#ifdef KORVELLE_HAVE_VIPS
  if (VIPS_INIT(argv[0]) != 0) return 1;
  // Every iteration must really decode and encode, not hit the operation cache.
  vips_cache_set_max(0);
#endif
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  bigJpeg();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

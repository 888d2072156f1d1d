// The editor with a 1080p video: the filmstrip's two ways of collecting 24
// thumbnails (one grabFrame per thumbnail against one reader walking forward),
// the time from a new strip to 24 thumbnails, and the UI thread's time per
// editor frame at 1920 × 1080 while the clip plays and the filmstrip collects
// (a 10 s clip and a one-hour file made by stream copy), with and without a
// software renderer under the interface layer; and the same while a user
// export of the clip to MP4 or WebM runs behind the busy overlay.
//
//   build-bench/bench_editor --benchmark_counters_tabular=true
//
// The media are made once with ffmpeg in /tmp/korvelle-bench-media.
#include <SDL.h>
#include <benchmark/benchmark.h>
#include <cairo.h>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/renderer.h"
#include "editor/document.h"
#include "editor/editor.h"
#include "core/settings.h"
#include "editor/filmstrip.h"
#include "media/video.h"
#include "platform/sysinfo.h"
#include "screens/export.h"
#include "screens/router.h"
#include "ui/draw.h"
#include "ui/gpu.h"
#include "ui/overlay.h"

namespace {

constexpr int kThumbs = 24;

const std::string kDir = "/tmp/korvelle-bench-media";

bool run(const std::string& cmd) { return std::system(cmd.c_str()) == 0; }

bool exists(const std::string& p) { return std::ifstream(p).good(); }

// 10 s of 1080p30 with sound, a key frame every second as phones write them.
const std::string& clip1080() {
  static const std::string path = [] {
    const std::string p = kDir + "/clip1080.mp4";
    run("mkdir -p " + kDir);
    if (!exists(p)) {
      run("ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i testsrc2=size=1920x1080:rate=30:duration=10 "
          "-f lavfi -i sine=frequency=300:duration=10 -c:v libx264 -preset veryfast -g 30 -pix_fmt yuv420p "
          "-c:a aac -shortest " + p);
    }
    return p;
  }();
  return path;
}

// One hour: the clip 360 times, joined by stream copy.
const std::string& hour1080() {
  static const std::string path = [] {
    const std::string p = kDir + "/hour1080.mp4";
    if (!exists(p)) {
      const std::string list = kDir + "/list.txt";
      std::ofstream f(list);
      for (int i = 0; i < 360; ++i) f << "file '" << clip1080() << "'\n";
      f.close();
      run("ffmpeg -hide_banner -loglevel error -nostdin -y -f concat -safe 0 -i " + list + " -c copy " + p);
    }
    return p;
  }();
  return path;
}

// CPU seconds of the whole process (every thread), so that a loaded machine
// shows in the wall time but not here.
double processCpu() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU milliseconds of the calling thread: the UI thread's own work, however
// busy the machine is.
double threadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

// Milliseconds the calling thread has waited for a core (ready to run, not
// running), from the scheduler's own account: the part of a slow frame that
// is the machine's doing, not the frame's.
double threadWaitMs() {
  std::FILE* f = std::fopen("/proc/thread-self/schedstat", "r");
  if (!f) return 0;
  unsigned long long run = 0, wait = 0;
  const int n = std::fscanf(f, "%llu %llu", &run, &wait);
  std::fclose(f);
  return n == 2 ? wait / 1e6 : 0;
}

double nowMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The interface's context for a w × h window.
ui::Ctx windowCtx(int w, int h) {
  ui::Ctx ctx;
  ctx.w = w;
  ctx.h = h;
  ctx.uiScale = ui::interfaceScale(w, h);
  return ctx;
}

// One interface frame at the present time, with the pointer outside the
// window, drawn into surface after clearing it (through the overlay, which
// clears only its drawn tiles, when it owns the surface).
void drawInterface(ui::Ctx& ctx, cairo_surface_t* surface, ui::Overlay* overlay = nullptr) {
  ctx.now = nowMs() / 1000;
  ctx.in = ui::Input{};
  ctx.in.mx = -1e6;
  ctx.in.my = -1e6;
  ctx.clickTaken = false;
  if (overlay) overlay->clear();
  cairo_t* cr = cairo_create(surface);
  if (!overlay) {
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    cairo_paint(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
  }
  ctx.cr = cr;
  ui::App::instance().update(ctx);
  ctx.cr = nullptr;
  cairo_destroy(cr);
  cairo_surface_flush(surface);
}

int decodeSize() { return ui::filmstripTuning(platform::memoryTier()).decodeSize; }

void BM_FilmstripGrabEach(benchmark::State& state) {
  const std::string& path = clip1080();
  media::VideoInfo info;
  media::readVideoInfo(path, &info);
  const double cpu0 = processCpu();
  for (auto _ : state) {
    for (int i = 0; i < kThumbs; ++i) {
      media::Image img;
      media::grabFrame(path, (i + 0.5) * info.durationMs / kThumbs, decodeSize(), &img);
      benchmark::DoNotOptimize(img.pixels.data());
    }
  }
  state.counters["process_cpu_s"] = (processCpu() - cpu0) / state.iterations();
}
BENCHMARK(BM_FilmstripGrabEach)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_FilmstripOneReader(benchmark::State& state) {
  const std::string& path = clip1080();
  const double cpu0 = processCpu();
  for (auto _ : state) {
    media::FrameReader reader;
    reader.open(path);
    for (int i = 0; i < kThumbs; ++i) {
      media::Image img;
      reader.frameAt((i + 0.5) * reader.info().durationMs / kThumbs, decodeSize(), &img);
      benchmark::DoNotOptimize(img.pixels.data());
    }
    state.counters["seeks"] = reader.seeks();
  }
  state.counters["process_cpu_s"] = (processCpu() - cpu0) / state.iterations();
}
BENCHMARK(BM_FilmstripOneReader)->Unit(benchmark::kMillisecond)->Iterations(3);

// The same reader, taking any frame of each thumbnail's stretch (a key frame there alone).
void BM_FilmstripOneReaderNear(benchmark::State& state) {
  const std::string& path = clip1080();
  const double cpu0 = processCpu();
  for (auto _ : state) {
    media::FrameReader reader;
    reader.open(path);
    const double span = reader.info().durationMs / kThumbs;
    for (int i = 0; i < kThumbs; ++i) {
      media::Image img;
      reader.frameNear((i + 0.5) * span, span / 2, decodeSize(), &img);
      benchmark::DoNotOptimize(img.pixels.data());
    }
    state.counters["seeks"] = reader.seeks();
  }
  state.counters["process_cpu_s"] = (processCpu() - cpu0) / state.iterations();
}
BENCHMARK(BM_FilmstripOneReaderNear)->Unit(benchmark::kMillisecond)->Iterations(3);

// The one reader without the deblocking filter, as the filmstrip decodes.
void BM_FilmstripOneReaderFast(benchmark::State& state) {
  const std::string& path = clip1080();
  const double cpu0 = processCpu();
  for (auto _ : state) {
    media::FrameReader reader;
    reader.open(path);
    reader.preferSpeed();
    for (int i = 0; i < kThumbs; ++i) {
      media::Image img;
      reader.frameAt((i + 0.5) * reader.info().durationMs / kThumbs, decodeSize(), &img);
      benchmark::DoNotOptimize(img.pixels.data());
    }
  }
  state.counters["process_cpu_s"] = (processCpu() - cpu0) / state.iterations();
}
BENCHMARK(BM_FilmstripOneReaderFast)->Unit(benchmark::kMillisecond)->Iterations(3);

// From the first draw of a new strip to 24 thumbnails on it.
void BM_FilmstripFull24(benchmark::State& state) {
  static const bool fonts = ui::registerBundledFonts();
  (void)fonts;
  const std::string& path = clip1080();
  media::VideoInfo info;
  media::readVideoInfo(path, &info);
  const double width = kThumbs * ui::filmstripTuning(platform::memoryTier()).slotWidth;
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(width), 60);
  cairo_t* cr = cairo_create(surface);
  ui::Ctx ctx;
  ctx.cr = cr;
  ctx.w = width;
  ctx.h = 60;
  int version = 100;
  const double cpu0 = processCpu();
  for (auto _ : state) {
    ui::resetFilmstrip();
    ++version;  // a new strip every time
    const double start = nowMs();
    for (;;) {
      ctx.now = nowMs() / 1000;
      ui::drawFilmstrip(ctx, ui::Rect{0, 0, width, 50}, path, version, 0, info.durationMs);
      const ui::FilmstripStatus st = ui::filmstripStatus();
      if (st.ready >= st.count) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    state.SetIterationTime((nowMs() - start) / 1000);
    state.counters["thumbs"] = ui::filmstripStatus().count;
  }
  state.counters["process_cpu_s"] = (processCpu() - cpu0) / state.iterations();
  ui::resetFilmstrip();
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
}
BENCHMARK(BM_FilmstripFull24)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();

// UI-thread time of editor frames at 1920 × 1080 while the video plays and
// the filmstrip collects. range(0): 0 the 10 s clip, 1 the hour; range(1): 1
// with SDL's software renderer below the interface (textures uploaded and
// drawn), 2 the whole frame as the program draws it in a window on screen with
// the renderer the program picks (the interface uploaded, composed and
// presented; needs a display, e.g. Xvfb, and is skipped without one).
void BM_EditorFramePlaying(benchmark::State& state) {
  static const bool fonts = ui::registerBundledFonts();
  (void)fonts;
  const std::string& path = state.range(0) ? hour1080() : clip1080();
  const int w = 1920, h = 1080;
  SDL_Surface* target = nullptr;
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  ui::Overlay overlay;
  if (state.range(1) == 1) {
    target = SDL_CreateRGBSurfaceWithFormat(0, w, h, 32, SDL_PIXELFORMAT_ARGB8888);
    renderer = SDL_CreateSoftwareRenderer(target);
    overlay.ensure(w, h);
  } else if (state.range(1) == 2) {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0 ||
        !(window = SDL_CreateWindow("bench", 0, 0, w, h, SDL_WINDOW_SHOWN))) {
      state.SkipWithError("no display");
      return;
    }
    renderer = ui::createRenderer(window);
    target = ui::softwareTarget(window, renderer);
    overlay.ensure(w, h);
    SDL_RendererInfo info{};
    SDL_GetRendererInfo(renderer, &info);
    state.SetLabel(info.name ? info.name : "?");
  }
  if (renderer) ui::gpuInit(renderer);
  cairo_surface_t* surface =
      overlay.surface() ? cairo_surface_reference(overlay.surface()) : cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  ui::Ctx ctx = windowCtx(w, h);
  auto frame = [&] {
    ui::gpuBeginFrame();
    if (renderer) SDL_RenderClear(renderer);
    drawInterface(ctx, surface, overlay.surface() ? &overlay : nullptr);
    if (overlay.surface()) {
      overlay.compose(renderer, target);
      SDL_RenderPresent(renderer);
    }
  };

  ui::closeDocument();
  doc::Document::instance().openVideo(path);
  ui::EditorState& s = ui::editorState();
  s.playheadMs = doc::Document::instance().videoInfo.durationMs / 3;
  const double deadline = nowMs() + 20000;
  while (!(s.playerReady && s.frame.valid()) && nowMs() < deadline) {
    frame();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ui::resetFilmstrip();  // collects anew while the frames are measured
  s.player.play();
  std::vector<double> times;
  for (auto _ : state) {
    times.clear();
    int collecting = 0;
    std::vector<double> cpu;
    std::vector<double> wait;
    const double process0 = processCpu();
    for (int i = 0; i < 300; ++i) {
      // The scheduler's account is read from a file: outside the timed span.
      const double w0 = threadWaitMs();
      const double t0 = nowMs();
      const double c0 = threadCpuMs();
      frame();
      cpu.push_back(threadCpuMs() - c0);
      const double t1 = nowMs();
      wait.push_back(threadWaitMs() - w0);
      times.push_back(t1 - t0);
      if (ui::filmstripStatus().running) ++collecting;
      // Paced at 60 frames per second, as the main loop presents them.
      const double rest = 1000.0 / 60 - (t1 - t0);
      if (rest > 0) std::this_thread::sleep_for(std::chrono::microseconds(static_cast<int>(rest * 1000)));
    }
    std::sort(times.begin(), times.end());
    state.counters["median_ms"] = times[times.size() / 2];
    state.counters["p99_ms"] = times[times.size() * 99 / 100];
    state.counters["max_ms"] = times.back();
    std::sort(cpu.begin(), cpu.end());
    state.counters["cpu_median_ms"] = cpu[cpu.size() / 2];
    state.counters["cpu_p99_ms"] = cpu[cpu.size() * 99 / 100];
    std::sort(wait.begin(), wait.end());
    state.counters["wait_p99_ms"] = wait[wait.size() * 99 / 100];
    state.counters["collecting_frames"] = collecting;
    // Every thread's CPU per frame (decoders and a software rasteriser's
    // workers included), which the UI thread's figures leave out.
    state.counters["process_cpu_ms"] = (processCpu() - process0) * 1000 / 300;
  }
  s.player.pause();
  ui::closeDocument();
  if (renderer) {
    ui::gpuShutdown();
    overlay.reset();
    SDL_DestroyRenderer(renderer);
  }
  if (target) SDL_FreeSurface(target);
  if (window) SDL_DestroyWindow(window);
  cairo_surface_destroy(surface);
}
BENCHMARK(BM_EditorFramePlaying)
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({0, 2})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({1, 2})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// UI-thread time of editor frames at 1920 × 1080 while the user export of
// the 10 s clip runs (range(0): 0 MP4 with libx264, 1 WebM with VP9), frames
// paced at 60 per second until the export is done.
void BM_EditorFrameExporting(benchmark::State& state) {
  static const bool fonts = ui::registerBundledFonts();
  (void)fonts;
  const std::string& path = clip1080();
  const bool webm = state.range(0) != 0;
  const int w = 1920, h = 1080;
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  ui::Ctx ctx = windowCtx(w, h);
  auto frame = [&] { drawInterface(ctx, surface); };
  settings::mutableData().videoEncoder = webm ? "libvpx-vp9" : "libx264";
  ui::closeDocument();
  doc::Document::instance().openVideo(path);
  ui::EditorState& s = ui::editorState();
  const double deadline = nowMs() + 20000;
  while (!(s.playerReady && s.frame.valid()) && nowMs() < deadline) {
    frame();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const std::string out = kDir + (webm ? "/export.webm" : "/export.mp4");
  for (auto _ : state) {
    std::vector<double> times;
    std::vector<double> cpu;
    const double start = nowMs();
    ui::startVideoExport(out, {}, 0, 0);
    while (ui::exportRunning()) {
      const double t0 = nowMs();
      const double c0 = threadCpuMs();
      frame();
      cpu.push_back(threadCpuMs() - c0);
      const double t1 = nowMs();
      times.push_back(t1 - t0);
      const double rest = 1000.0 / 60 - (t1 - t0);
      if (rest > 0) std::this_thread::sleep_for(std::chrono::microseconds(static_cast<int>(rest * 1000)));
    }
    state.counters["export_s"] = (nowMs() - start) / 1000;
    std::sort(times.begin(), times.end());
    state.counters["frames"] = static_cast<double>(times.size());
    state.counters["median_ms"] = times[times.size() / 2];
    state.counters["p99_ms"] = times[times.size() * 99 / 100];
    state.counters["max_ms"] = times.back();
    std::sort(cpu.begin(), cpu.end());
    state.counters["cpu_median_ms"] = cpu[cpu.size() / 2];
    state.counters["cpu_max_ms"] = cpu.back();
  }
  ui::closeDocument();
  std::remove(out.c_str());
  cairo_surface_destroy(surface);
}
BENCHMARK(BM_EditorFrameExporting)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);

// Composing the editor's interface picture (a 1080p clip open, paused) over
// the frame on SDL's software renderer, CPU time per frame: range(0) 0 blends
// the whole picture in one texture copy, 1 goes tile by tile through a
// texture (as on a graphics card), 2 tile by tile straight into the
// renderer's surface, as the program does without a graphics card.
void BM_OverlayCompose(benchmark::State& state) {
  static const bool fonts = ui::registerBundledFonts();
  (void)fonts;
  const int w = 1920, h = 1080;
  SDL_Surface* target = SDL_CreateRGBSurfaceWithFormat(0, w, h, 32, SDL_PIXELFORMAT_ARGB8888);
  SDL_Renderer* renderer = SDL_CreateSoftwareRenderer(target);
  ui::gpuInit(renderer);
  ui::Overlay overlay;
  overlay.ensure(w, h);
  ui::TexturePtr whole(SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, w, h));
  SDL_SetTextureBlendMode(whole.get(), SDL_BLENDMODE_BLEND);
  ui::Ctx ctx = windowCtx(w, h);
  auto draw = [&] {
    ui::gpuBeginFrame();
    drawInterface(ctx, overlay.surface(), &overlay);
  };
  ui::closeDocument();
  doc::Document::instance().openVideo(clip1080());
  ui::EditorState& s = ui::editorState();
  const double deadline = nowMs() + 20000;
  while (!(s.playerReady && s.frame.valid()) && nowMs() < deadline) {
    draw();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  draw();
  const int how = static_cast<int>(state.range(0));
  for (auto _ : state) {
    if (how > 0) {
      overlay.compose(renderer, how == 2 ? target : nullptr);
    } else {
      cairo_surface_t* pic = overlay.surface();
      SDL_UpdateTexture(whole.get(), nullptr, cairo_image_surface_get_data(pic), cairo_image_surface_get_stride(pic));
      SDL_RenderCopy(renderer, whole.get(), nullptr, nullptr);
    }
    SDL_RenderFlush(renderer);
  }
  ui::closeDocument();
  ui::gpuShutdown();
  whole.reset();
  overlay.reset();
  SDL_DestroyRenderer(renderer);
  SDL_FreeSurface(target);
}
BENCHMARK(BM_OverlayCompose)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

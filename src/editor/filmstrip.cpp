#include "editor/filmstrip.h"

#include <cairo.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "media/video.h"
#include "platform/log.h"
#include "platform/sysinfo.h"
#include "ui/draw.h"
#include "ui/frames.h"
#include "ui/gpu.h"

namespace ui {

namespace {

// Peak values per thumbnail slot.
constexpr int kPeaksPerThumb = 12;
// Above this much time per slot the sound is sampled (kPeakProbeMs per value)
// instead of decoded whole: an hour-long window would otherwise read the
// whole file before the curve shows.
constexpr double kSampleSoundAboveMs = 20000.0;
constexpr double kPeakProbeMs = 250.0;
// Slots longer than this (a phone's group of pictures is one or two
// seconds) show a key frame of their stretch instead of their exact middle.
constexpr double kKeyFrameSlotMs = 2000.0;
// The window must rest this long before it is collected anew.
constexpr double kSettleSeconds = 0.25;

struct SurfaceDestroyer {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDestroyer>;

using Thumb = std::shared_ptr<const media::Image>;

struct Strip {
  std::string path;
  int version = -1;
  double fromMs = 0;  // window being collected
  double toMs = 0;
  double candFromMs = 0;  // latest requested window
  double candToMs = 0;
  double changedAt = 0;
  bool collected = false;  // a collection was started for this path, version and count

  std::mutex mutex;  // guards images, ready, peaks, generation
  int count = 8;
  std::vector<Thumb> images;
  std::vector<bool> ready;
  std::vector<float> peaks;
  uint64_t generation = 0;  // bumped with every thumbnail published

  std::atomic<bool> cancel{false};
  std::atomic<bool> running{false};
  std::thread thread;
  int collections = 0;

  // Composed strip, rebuilt when the generation or the size changes.
  SurfacePtr surface;
  uint64_t surfaceGeneration = ~0ull;
  std::vector<bool> painted;  // slots already on the surface
  int surfaceW = 0;
  int surfaceH = 0;

  ~Strip() {
    cancel = true;
    if (thread.joinable()) thread.join();
  }
};

Strip& strip() {
  static Strip s;
  return s;
}

// Sound peaks of [fromMs, toMs) in count × kPeaksPerThumb values: decoded in
// count pieces (a cancel is noticed between them), or sampled through one
// demuxer when the window is long.
std::vector<float> collectPeaks(Strip& s, const std::string& path, double fromMs, double toMs, int count) {
  const int buckets = count * kPeaksPerThumb;
  const double span = std::max(toMs - fromMs, 1.0);
  std::vector<float> all;
  if (span / count > kSampleSoundAboveMs) {
    if (!media::audioPeaksSampled(path, fromMs, toMs, buckets, kPeakProbeMs, &all, &s.cancel)) return {};
    return all;
  }
  all.assign(static_cast<size_t>(buckets), 0.0f);
  bool any = false;
  for (int i = 0; i < count && !s.cancel; ++i) {
    std::vector<float> part;
    const double a = fromMs + i * span / count;
    if (media::audioPeaks(path, a, a + span / count, kPeaksPerThumb, &part)) any = true;
    if (part.empty()) return {};  // no sound
    std::copy(part.begin(), part.end(), all.begin() + i * kPeaksPerThumb);
  }
  if (!any) return {};
  return all;
}

// Collector body (own thread): the thumbnails first, so the strip fills
// before the slower sound pass, then the peaks.
void collect(Strip& s, std::string path, double fromMs, double toMs, int count, int decodeSize) {
  platform::lowerThreadPriority();  // thumbnails wait; the frames being played do not
  const double span = std::max(toMs - fromMs, 1.0);
  media::FrameReader reader;
  std::string err;
  if (reader.open(path, &err)) {
    reader.preferSpeed();  // thumbnails are small: the deblocking filter would not show
    for (int i = 0; i < count && !s.cancel; ++i) {
      const double t = fromMs + (i + 0.5) * span / count;
      media::Image img;
      // Slots longer than a group of pictures take any key frame of their
      // own stretch, decoded alone; shorter ones walk forward (cheaper there,
      // since the frames between are decoded anyway).
      const bool ok = span / count > kKeyFrameSlotMs
                          ? reader.frameNear(t, 0.5 * span / count, decodeSize, &img, &err)
                          : reader.frameAt(t, decodeSize, &img, &err);
      if (!ok || !img.valid()) continue;
      {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.cancel) break;
        s.images[static_cast<size_t>(i)] = std::make_shared<const media::Image>(std::move(img));
        s.ready[static_cast<size_t>(i)] = true;
        ++s.generation;
      }
      requestFrame();
    }
    if (!s.cancel) {
      int ready = 0;
      {
        std::lock_guard<std::mutex> lock(s.mutex);
        ready = static_cast<int>(std::count(s.ready.begin(), s.ready.end(), true));
      }
      diag::write("ui", "Filmstreifen fertig: " + std::to_string(ready) + " von " + std::to_string(count) +
                            " Bildern, " + std::to_string(reader.seeks()) + " Spruenge");
    }
  } else {
    diag::write("ui", "Filmstreifen: Datei nicht lesbar (" + err + ")");
  }
  if (!s.cancel) {
    std::vector<float> peaks = collectPeaks(s, path, fromMs, toMs, count);
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.cancel) {
      s.peaks = std::move(peaks);
      ++s.generation;
    }
  }
  s.running.store(false);
  requestFrame();
}

// Stops the collector and waits for it.
void stopCollector(Strip& s) {
  s.cancel = true;
  if (s.thread.joinable()) s.thread.join();
  s.cancel = false;
  s.running = false;
}

// Stops the collector and empties the strip's pictures and peaks.
void clearStrip(Strip& s) {
  stopCollector(s);
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.images.assign(static_cast<size_t>(s.count), nullptr);
    s.ready.assign(static_cast<size_t>(s.count), false);
    s.peaks.clear();
    ++s.generation;
  }
  s.surface.reset();
}

void startCollection(Strip& s, const std::string& path, double fromMs, double toMs) {
  clearStrip(s);  // the old window's pictures go
  s.fromMs = fromMs;
  s.toMs = toMs;
  s.collected = true;
  ++s.collections;
  s.running = true;
  const int decodeSize = filmstripTuning(platform::memoryTier()).decodeSize;
  char line[96];
  std::snprintf(line, sizeof line, " (%.0f–%.0f ms)", fromMs, toMs);
  diag::write("ui", "Filmstreifen: " + std::to_string(s.count) + " Bilder aus " + path + line);
  s.thread = std::thread(collect, std::ref(s), path, fromMs, toMs, s.count, decodeSize);
}

// An opaque RGBA thumbnail as a cairo surface (premultiplied BGRA words).
SurfacePtr thumbSurface(const media::Image& img) {
  SurfacePtr surf(cairo_image_surface_create(CAIRO_FORMAT_RGB24, img.width, img.height));
  if (cairo_surface_status(surf.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  unsigned char* data = cairo_image_surface_get_data(surf.get());
  const int stride = cairo_image_surface_get_stride(surf.get());
  for (int y = 0; y < img.height; ++y) {
    const uint8_t* src = img.row(y);
    auto* dst = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
    for (int x = 0; x < img.width; ++x) {
      dst[x] = 0xFF000000u | uint32_t{src[4 * x]} << 16 | uint32_t{src[4 * x + 1]} << 8 | src[4 * x + 2];
    }
  }
  cairo_surface_mark_dirty(surf.get());
  return surf;
}

// A dw × dh strip surface of the background colour.
SurfacePtr emptyStrip(int dw, int dh) {
  SurfacePtr out(cairo_image_surface_create(CAIRO_FORMAT_RGB24, dw, dh));
  if (cairo_surface_status(out.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  cairo_t* cr = cairo_create(out.get());
  setColor(cr, 0x0B0E11, 1.0);
  cairo_paint(cr);
  cairo_destroy(cr);
  return out;
}

// Paints thumbnail i of n into its slot of the strip surface, covering the
// slot and cropped about the centre, with a thin seam before it.
void paintSlot(cairo_surface_t* strip, const media::Image& img, int i, int n) {
  const int dw = cairo_image_surface_get_width(strip);
  const int dh = cairo_image_surface_get_height(strip);
  SurfacePtr t = thumbSurface(img);
  if (!t) return;
  const double x0 = std::floor(static_cast<double>(i) * dw / n);
  const double x1 = std::floor(static_cast<double>(i + 1) * dw / n);
  const double f = std::max((x1 - x0) / img.width, static_cast<double>(dh) / img.height);
  cairo_t* cr = cairo_create(strip);
  cairo_rectangle(cr, x0, 0, x1 - x0, dh);
  cairo_clip(cr);
  cairo_save(cr);
  cairo_translate(cr, (x0 + x1) / 2 - img.width * f / 2, dh / 2.0 - img.height * f / 2);
  cairo_scale(cr, f, f);
  cairo_set_source_surface(cr, t.get(), 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
  cairo_paint(cr);
  cairo_restore(cr);
  if (i > 0) {
    setColor(cr, 0x0B0E11, 0.8);
    cairo_rectangle(cr, x0, 0, 1, dh);
    cairo_fill(cr);
  }
  cairo_destroy(cr);
}

}  // namespace

FilmstripTuning filmstripTuning(int tier) {
  switch (tier) {
    case 1: return {150, 14, 144};
    case 2: return {110, 24, 192};
    case 3: return {90, 36, 288};
    default: return {70, 48, 384};
  }
}

int filmstripCountFor(double widthPx, double uiScale, int tier) {
  const FilmstripTuning t = filmstripTuning(tier);
  const double slot = t.slotWidth * (uiScale > 0 ? uiScale : 1.0);
  const long n = std::lround(widthPx / slot);
  return static_cast<int>(std::clamp<long>(n, 8, t.maxThumbs));
}

void drawFilmstrip(Ctx& ctx, const Rect& r, const std::string& path, int version, double fromMs, double toMs) {
  if (r.w < 8 || r.h < 4 || !(fromMs < toMs)) return;
  Strip& s = strip();
  const int count = filmstripCountFor(r.w, ctx.uiScale, platform::memoryTier());
  if (path != s.path || version != s.version || count != s.count) {
    s.count = count;
    resetFilmstrip();
    s.path = path;
    s.version = version;
    s.candFromMs = fromMs;
    s.candToMs = toMs;
    s.changedAt = ctx.now;
  }

  // Window tracking: a move of more than 1 % restarts the settling time; the
  // collected window is stale beyond 2 %.
  const double len = toMs - fromMs;
  if (std::fabs(fromMs - s.candFromMs) > 0.01 * len || std::fabs(toMs - s.candToMs) > 0.01 * len) {
    s.candFromMs = fromMs;
    s.candToMs = toMs;
    s.changedAt = ctx.now;
  }
  const bool stale = std::fabs(s.fromMs - fromMs) > 0.02 * len || std::fabs(s.toMs - toMs) > 0.02 * len;
  const bool settled = ctx.now - s.changedAt > kSettleSeconds;
  if (!s.collected || (stale && settled)) {
    if (!s.running) {
      startCollection(s, path, fromMs, toMs);
    } else {
      s.cancel = true;  // ends after its current frame; the next frame starts anew
      requestFrameWithin(0.02);
    }
  } else if (stale) {
    requestFrameWithin(kSettleSeconds - (ctx.now - s.changedAt) + 0.01);
  }

  // Compose when something new arrived or the size changed.
  const double g = gpuScale();
  const int dw = std::max(8, static_cast<int>(std::lround(r.w * g)));
  const int dh = std::max(4, static_cast<int>(std::lround(r.h * g)));
  uint64_t gen;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    gen = s.generation;
  }
  // Only thumbnails that arrived since the last frame are painted; a new
  // size or a reset starts from an empty surface.
  if (!s.surface || dw != s.surfaceW || dh != s.surfaceH) {
    s.surface = emptyStrip(dw, dh);
    s.surfaceW = dw;
    s.surfaceH = dh;
    s.painted.clear();
    s.surfaceGeneration = ~0ull;
  }
  if (s.surface && gen != s.surfaceGeneration) {
    std::vector<std::pair<int, Thumb>> fresh;
    {
      std::lock_guard<std::mutex> lock(s.mutex);
      s.painted.resize(s.images.size(), false);
      for (size_t i = 0; i < s.images.size(); ++i) {
        if (s.ready[i] && !s.painted[i] && s.images[i]) fresh.emplace_back(static_cast<int>(i), s.images[i]);
      }
      gen = s.generation;
    }
    for (const auto& [i, img] : fresh) {
      paintSlot(s.surface.get(), *img, i, s.count);
      s.painted[static_cast<size_t>(i)] = true;
    }
    cairo_surface_mark_dirty(s.surface.get());
    s.surfaceGeneration = gen;
  }
  if (!s.surface) return;
  cairo_t* cr = ctx.cr;
  cairo_save(cr);
  roundedRectPath(cr, r, 3 * ctx.uiScale);
  cairo_clip(cr);
  cairo_translate(cr, r.x, r.y);
  cairo_scale(cr, r.w / dw, r.h / dh);
  cairo_set_source_surface(cr, s.surface.get(), 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
  cairo_paint(cr);
  cairo_restore(cr);
}

bool drawAudioPeaks(Ctx& ctx, const Rect& r) {
  if (r.w < 4 || r.h < 4) return false;
  Strip& s = strip();
  std::vector<float> peaks;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    peaks = s.peaks;
  }
  if (peaks.empty()) return false;
  cairo_t* cr = ctx.cr;
  fillRoundedRect(cr, r, 2 * ctx.uiScale, 0x0B0E11, 0.85);
  const double n = static_cast<double>(peaks.size());
  const double slot = std::max(1.0, r.w / n);
  const double barW = std::max(1.0, slot - 0.5);
  setColor(cr, 0xB6C2CC, 0.9);
  for (size_t i = 0; i < peaks.size(); ++i) {
    const double x = r.x + static_cast<double>(i) * r.w / n;
    const double h = std::max(1.0, std::sqrt(std::clamp(static_cast<double>(peaks[i]), 0.0, 1.0)) * r.h);
    cairo_rectangle(cr, x, r.y + r.h - h, barW, h);
  }
  cairo_fill(cr);
  return true;
}

void resetFilmstrip() {
  Strip& s = strip();
  clearStrip(s);
  s.surfaceGeneration = ~0ull;
  s.painted.clear();
  s.path.clear();
  s.version = -1;
  s.fromMs = s.toMs = 0;
  s.candFromMs = s.candToMs = 0;
  s.changedAt = 0;
  s.collected = false;
}

FilmstripStatus filmstripStatus() {
  Strip& s = strip();
  FilmstripStatus st;
  std::lock_guard<std::mutex> lock(s.mutex);
  st.count = s.count;
  st.ready = static_cast<int>(std::count(s.ready.begin(), s.ready.end(), true));
  st.collections = s.collections;
  st.running = s.running;
  st.fromMs = s.fromMs;
  st.toMs = s.toMs;
  st.peaks = s.peaks.size();
  return st;
}

}  // namespace ui

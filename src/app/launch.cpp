#include "app/launch.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/product.h"

namespace ui {

namespace {

constexpr int kMinWidth = 860;
constexpr int kMinHeight = 560;
// Room left for panels and docks: the height of the bounds minus this.
constexpr int kVerticalReserve = 80;
// Room left beside the window.
constexpr int kHorizontalReserve = 20;
constexpr double kAspect = 16.0 / 9.0;

bool is(const char* arg, const char* option) { return std::strcmp(arg, option) == 0; }

}  // namespace

void parseFirstPass(int argc, const char* const* argv, LaunchOptions* out) {
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (out->info == InfoRequest::None) {
      if (is(a, "--version")) out->info = InfoRequest::Version;
      else if (is(a, "--help")) out->info = InfoRequest::Help;
      else if (is(a, "--encoders")) out->info = InfoRequest::Encoders;
    }
    if (is(a, "--size")) {
      ++i;
    } else if (a[0] != '-') {
      out->file = a;
    }
  }
}

void parseSecondPass(int argc, const char* const* argv, LaunchOptions* out) {
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (is(a, "--fullscreen")) {
      out->fullscreen = true;
    } else if (is(a, "--windowed")) {
      out->windowed = true;
    } else if (is(a, "--size")) {
      if (i + 1 < argc) {
        int w = 0;
        int h = 0;
        // A partial parse keeps what it read: "800" gives 800 × 0.
        std::sscanf(argv[i + 1], "%dx%d", &w, &h);
        out->sizeW = w;
        out->sizeH = h;
      }
      ++i;
    }
  }
}

std::string usageText() {
  char buf[512];
  std::snprintf(buf, sizeof buf,
                "%s %s\n"
                "  <datei>       Bild oder Video gleich oeffnen\n"
                "  --version     Version ausgeben\n"
                "  --encoders    zeigen, welche Encoder diese Maschine hergibt\n"
                "  --fullscreen  im Vollbild starten\n"
                "  --windowed    im Fenster starten\n"
                "  --size BxH    mit dieser Fenstergroesse starten\n",
                product::kName, product::kVersion);
  return buf;
}

std::string versionText() {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%s %s (Build %d)\n", product::kName, product::kVersion, product::kBuild);
  return buf;
}

WindowSize defaultWindowSize(int boundsW, int boundsH) {
  if (boundsW <= 0 || boundsH <= 0) return {1280, 720};
  const double W = boundsW;
  const double H = boundsH - kVerticalReserve;
  double w = 0.403 * W;
  double h = w / kAspect;
  if (h > H) {
    h = H;
    w = H * kAspect;
  }
  if (w > 0.92 * W) {
    w = 0.92 * W;
    h = w / kAspect;
  }
  return {static_cast<int>(std::max(std::min(w, W - kHorizontalReserve), static_cast<double>(kMinWidth))),
          static_cast<int>(std::max(std::min(h, H), static_cast<double>(kMinHeight)))};
}

WindowSize requestedWindowSize(const LaunchOptions& opts, int savedW, int savedH, int boundsW, int boundsH) {
  if (opts.sizeW != 0) {
    if (opts.sizeW > 0 && opts.sizeH > 0) return {opts.sizeW, opts.sizeH};
    return defaultWindowSize(boundsW, boundsH);
  }
  WindowSize size = savedW > 0 && savedH > 0 ? WindowSize{savedW, savedH} : defaultWindowSize(boundsW, boundsH);
  if (boundsW > 0 && boundsH > 0) {
    size.w = std::max(std::min(size.w, boundsW - kHorizontalReserve), kMinWidth);
    size.h = std::max(std::min(size.h, boundsH - kVerticalReserve), kMinHeight);
  }
  return size;
}

}  // namespace ui

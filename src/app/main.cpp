// main: the life of the process. Informational options answer without a
// window; otherwise the log, crash handler, settings and language start, one
// window with one renderer opens, and the frame loop runs until the window is
// closed or the process is asked to terminate; shutdown.h ends the run.
//
// Frames are drawn only when something changed (input, a window event, a
// request through ui/frames.h) and never faster than about 60 per second; an
// unchanged window costs no drawing at all.
#include <SDL.h>
#include <cairo.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "app/drop_uri.h"
#include "app/launch.h"
#include "app/parent_window.h"
#include "app/renderer.h"
#include "app/shutdown.h"
#include "core/i18n.h"
#include "core/settings.h"
#include "editor/document.h"
#include "media/video.h"
#include "platform/crash.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/product.h"
#include "screens/flows.h"
#include "screens/router.h"
#include "ui/cairo_guard.h"
#include "ui/dialog.h"
#include "ui/draw.h"
#include "ui/frames.h"
#include "ui/gpu.h"
#include "ui/overlay.h"
#include "ui/sdl_guard.h"

namespace {

// --- Termination --------------------------------------------------------------

volatile std::sig_atomic_t g_terminate = 0;

// First SIGTERM/SIGINT: leave the loop and shut down in order. A second one
// while that is still going on ends the process at once.
void onTerminationSignal(int sig) {
  if (g_terminate) std::_Exit(128 + sig);
  g_terminate = 1;
}

double nowSeconds() {
  static const auto start = std::chrono::steady_clock::now();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// --- Pacing -------------------------------------------------------------------

// Slightly above 60 Hz, so a 60 Hz vertical sync alone sets the pace where
// there is one, and the loop never presents faster where there is none.
constexpr double kMinFrameInterval = 1.0 / 62.0;
// The longest single wait for events; bounds how late a termination signal
// is noticed (the handler cannot wake the loop itself).
constexpr double kMaxIdleWait = 0.1;
// Frames drawn after the last input, so that answers a screen collects on the
// next frame (dialog results, screen switches) appear without further input.
constexpr int kFramesAfterInput = 1;
// The window manager settles the restored geometry before sampling starts.
constexpr double kGeometrySettle = 0.4;

Uint32 g_wakeEventType = 0;

void wakeLoop() {
  SDL_Event ev{};
  ev.type = g_wakeEventType;
  SDL_PushEvent(&ev);
}

using ui::RendererPtr;
using ui::WindowPtr;

// --- Informational run ------------------------------------------------------------

// One line per encoder that opens on this machine, graphics card first.
void printEncoders() {
  for (const media::EncoderInfo& e : media::availableEncoders()) {
    std::printf("%-14s %-24s %s\n", e.name.c_str(), e.device.c_str(), e.hardware ? "Grafikkarte" : "Software");
  }
}

// --- Window and renderer ------------------------------------------------------------

struct DisplayBounds {
  int w = 0;
  int h = 0;
};

DisplayBounds displayBounds() {
  SDL_Rect r{};
  if (SDL_GetDisplayUsableBounds(0, &r) != 0 || r.w <= 0) {
    r = SDL_Rect{};
    SDL_GetDisplayBounds(0, &r);
  }
  return {r.w, r.h};
}

void logVideo(const std::string& text) {
  diag::write("video", text);
  std::printf("[video] %s\n", text.c_str());
}

void logVideoSetup(SDL_Renderer* renderer) {
  SDL_RendererInfo info{};
  bool haveInfo = SDL_GetRendererInfo(renderer, &info) == 0;
  const char* driver = SDL_GetCurrentVideoDriver();
  std::string line = std::string("Treiber: ") + (driver ? driver : "?") +
                     ", Renderer: " + (haveInfo && info.name ? info.name : "?") +
                     (haveInfo && (info.flags & SDL_RENDERER_ACCELERATED) ? " (beschleunigt)" : " (Software)");
  logVideo(line);

  std::string choice = "zur Wahl: ";
  for (int i = 0; i < SDL_GetNumRenderDrivers(); ++i) {
    SDL_RendererInfo d{};
    if (SDL_GetRenderDriverInfo(i, &d) == 0 && d.name) choice += std::string(d.name) + " ";
  }
  logVideo(choice);

  for (const media::EncoderInfo& e : media::availableEncoders()) {
    const char* where = e.hardware ? "Grafikkarte" : "Software";
    diag::write("video", "Encoder: " + e.name + "  " + e.device + "  " + where);
    std::printf("[video] Encoder: %-14s %-24s %s\n", e.name.c_str(), e.device.c_str(), where);
  }
  std::fflush(stdout);
}

void openFileArgument(const std::string& path) {
  std::string message;
  if (!ui::openCommandLineFile(path, &message)) std::fprintf(stderr, "[open] %s: %s\n", path.c_str(), message.c_str());
}

void announceCrashReport() {
  std::string report = platform::takeLastCrashReport();
  if (report.empty()) return;
  ui::showDialog(i18n::tr("errors.crashTitle"), i18n::tr("errors.crashBody", {{"path", report}}),
                 {{i18n::tr("errors.closeConfirm"), 1}});
}

// --- Events ---------------------------------------------------------------------

// State carried from frame to frame by the event handling.
struct LoopState {
  bool held = false;   // left button down
  bool quit = false;   // a quit or window-close event arrived
};

struct FrameEvents {
  bool pressSeen = false;
  int pressX = 0;
  int pressY = 0;
  bool any = false;  // anything that can change the picture arrived
};

void toggleFullscreen(SDL_Window* window) {
  bool on = (SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN) == 0;
  SDL_SetWindowFullscreen(window, on ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
  settings::mutableData().fullscreen = on;
}

void handleEvent(const SDL_Event& ev, SDL_Window* window, ui::Input& in, LoopState& loop, FrameEvents& frame) {
  if (ev.type == g_wakeEventType) {
    ui::frameWakeReceived();
    return;
  }
  frame.any = true;
  switch (ev.type) {
    case SDL_QUIT:
      loop.quit = true;
      break;
    case SDL_WINDOWEVENT:
      if (ev.window.event == SDL_WINDOWEVENT_CLOSE) loop.quit = true;
      break;
    case SDL_KEYDOWN:
      in.keys.push_back(ev.key.keysym.sym);
      // The modifiers as they were at the key, not at drawing: a quick
      // Ctrl+Z may have let go of Ctrl before the frame is drawn.
      in.ctrl = in.ctrl || (ev.key.keysym.mod & KMOD_CTRL) != 0;
      in.shift = in.shift || (ev.key.keysym.mod & KMOD_SHIFT) != 0;
      if (ev.key.keysym.sym == SDLK_F9) {
        if (const char* list = std::getenv("KORVELLE_DROP")) {
          for (std::string& p : paths::splitPathList(list)) in.dropped.push_back(std::move(p));
          char line[96];
          std::snprintf(line, sizeof line, "F9: %lu Datei(en) als hereingezogen behandelt",
                        static_cast<unsigned long>(in.dropped.size()));
          diag::write("ui", line);
        }
      } else if (ev.key.keysym.sym == SDLK_F11) {
        toggleFullscreen(window);
      }
      break;
    case SDL_TEXTINPUT:
      in.text += ev.text.text;
      break;
    case SDL_MOUSEMOTION:
      in.dx += ev.motion.xrel;
      in.dy += ev.motion.yrel;
      break;
    case SDL_MOUSEBUTTONDOWN:
      if (ev.button.button == SDL_BUTTON_LEFT) {
        loop.held = true;
        in.pressed = true;
        in.doubleClick = ev.button.clicks > 1;
        frame.pressSeen = true;
        frame.pressX = ev.button.x;
        frame.pressY = ev.button.y;
      } else if (ev.button.button == SDL_BUTTON_RIGHT) {
        in.rightClick = true;
      }
      break;
    case SDL_MOUSEBUTTONUP:
      if (ev.button.button == SDL_BUTTON_LEFT) {
        in.released = true;
        loop.held = false;
      }
      break;
    case SDL_MOUSEWHEEL:
      in.wheel += ev.wheel.y;
      break;
    case SDL_DROPFILE:
      if (ev.drop.file) {
        const std::string text = ev.drop.file;
        SDL_free(ev.drop.file);
        std::string path = ui::decodeDroppedFile(text);
        if (path.empty()) {
          diag::write("ui", "hereingezogen, aber keine lokale Datei: " + text);
          break;
        }
        diag::write("ui", "hereingezogen: " + path);
        in.dropped.push_back(std::move(path));
      }
      break;
    default:
      break;
  }
}

// --- Window geometry ----------------------------------------------------------------

struct Geometry {
  bool firstFrame = false;      // restore the position after the first frame
  bool positionValid = false;   // the saved position may be applied
  double sampleFrom = 0;        // sample into the settings from this time on
};

void sampleGeometry(SDL_Window* window) {
  settings::Data& s = settings::mutableData();
  Uint32 flags = SDL_GetWindowFlags(window);
  s.fullscreen = (flags & (SDL_WINDOW_FULLSCREEN | SDL_WINDOW_FULLSCREEN_DESKTOP)) != 0;
  s.maximized = (flags & SDL_WINDOW_MAXIMIZED) != 0;
  if (!s.fullscreen && !s.maximized) {
    SDL_GetWindowSize(window, &s.windowW, &s.windowH);
    SDL_GetWindowPosition(window, &s.windowX, &s.windowY);
  }
}

// --- The frame loop -------------------------------------------------------------------

class FrameLoop {
 public:
  FrameLoop(SDL_Window* window, SDL_Renderer* renderer, Geometry geometry)
      : window_(window), renderer_(renderer), geometry_(geometry) {}

  void run() {
    ctx_.uiScale = 1.0;
    prevFrame_ = nowSeconds();
    int framesOwed = 1;  // the first frame is always drawn
    for (;;) {
      if (g_terminate) break;
      ui::Input in;
      FrameEvents events;
      if (framesOwed == 0 && ui::secondsUntilRequestedFrame() > 0) {
        if (!waitForEvent(in, events)) continue;
      }
      keepPace();
      SDL_Event ev;
      while (SDL_PollEvent(&ev)) handleEvent(ev, window_, in, loop_, events);
      if (events.any) framesOwed = kFramesAfterInput + 1;
      if (framesOwed == 0 && ui::secondsUntilRequestedFrame() > 0) continue;  // only a wake-up arrived
      framesOwed = std::max(framesOwed - 1, 0);
      ui::beginRequestedFrame();
      drawFrame(std::move(in), events);
      if (loop_.quit) break;
    }
  }

  void release() { overlay_.reset(); }

 private:
  // Sleeps until an event arrives or a requested frame is due. False when
  // nothing needs a frame yet.
  bool waitForEvent(ui::Input& in, FrameEvents& events) {
    double wait = std::min(kMaxIdleWait, ui::secondsUntilRequestedFrame());
    int ms = std::max(1, static_cast<int>(std::ceil(wait * 1000.0)));
    SDL_Event ev;
    if (SDL_WaitEventTimeout(&ev, ms) == 1) handleEvent(ev, window_, in, loop_, events);
    return events.any || ui::secondsUntilRequestedFrame() <= 0;
  }

  // Never presents faster than kMinFrameInterval; events arriving meanwhile
  // wait in the queue for this frame.
  void keepPace() {
    double since = nowSeconds() - lastPresent_;
    if (since < kMinFrameInterval) SDL_Delay(static_cast<Uint32>(std::ceil((kMinFrameInterval - since) * 1000.0)));
  }

  // (Re)creates the interface picture for the renderer's output size.
  bool ensureTarget(int outW, int outH, double scale) {
    if (!overlay_.ensure(outW, outH)) return false;
    ui::gpuSetScale(scale);
    return true;
  }

  void drawFrame(ui::Input in, const FrameEvents& events) {
    in.held = loop_.held;
    if (events.pressSeen) {
      in.mx = events.pressX;
      in.my = events.pressY;
    } else {
      int x = 0;
      int y = 0;
      SDL_GetMouseState(&x, &y);
      in.mx = x;
      in.my = y;
    }
    SDL_Keymod mods = SDL_GetModState();
    in.ctrl = in.ctrl || (mods & KMOD_CTRL) != 0;
    in.shift = in.shift || (mods & KMOD_SHIFT) != 0;

    int outW = 0;
    int outH = 0;
    int winW = 0;
    int winH = 0;
    SDL_GetRendererOutputSize(renderer_, &outW, &outH);
    SDL_GetWindowSize(window_, &winW, &winH);
    double scale = outW > 0 && winW > 0 ? static_cast<double>(outW) / winW : 1.0;
    if (!ensureTarget(outW, outH, scale)) return;  // minimised or out of memory: nothing to draw into

    double now = nowSeconds();
    ctx_.now = now;
    ctx_.dt = std::min(now - prevFrame_, 0.1);
    ctx_.w = outW / scale;
    ctx_.h = outH / scale;
    ctx_.uiScale = ui::interfaceScale(ctx_.w, ctx_.h);
    ctx_.in = std::move(in);
    ctx_.clickTaken = false;

    ui::gpuBeginFrame();
    SDL_SetRenderDrawColor(renderer_, 0x14, 0x18, 0x1C, 0xFF);
    SDL_RenderClear(renderer_);

    overlay_.clear();
    cairo_t* cr = cairo_create(overlay_.surface());
    cairo_scale(cr, scale, scale);
    ctx_.cr = cr;
    ui::App::instance().update(ctx_);
    ui::writeUiDump();
    ctx_.cr = nullptr;
    cairo_destroy(cr);

    overlay_.compose(renderer_, ui::softwareTarget(window_, renderer_));
    SDL_RenderPresent(renderer_);
    lastPresent_ = nowSeconds();

    if (geometry_.firstFrame) {
      if (geometry_.positionValid) {
        const settings::Data& s = settings::get();
        SDL_SetWindowPosition(window_, s.windowX, s.windowY);
      }
      geometry_.sampleFrom = now + kGeometrySettle;
      ui::requestFrameWithin(kGeometrySettle);  // so the first sample is taken even when idle
    }
    if (now >= geometry_.sampleFrom) sampleGeometry(window_);
    geometry_.firstFrame = false;
    prevFrame_ = now;
  }

  SDL_Window* window_;
  SDL_Renderer* renderer_;
  Geometry geometry_;
  LoopState loop_;
  ui::Ctx ctx_;
  ui::Overlay overlay_;
  double prevFrame_ = 0;
  double lastPresent_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
  ui::LaunchOptions opts;
  ui::parseFirstPass(argc, argv, &opts);
  switch (opts.info) {
    case ui::InfoRequest::Version:
      std::fputs(ui::versionText().c_str(), stdout);
      return 0;
    case ui::InfoRequest::Help:
      std::fputs(ui::usageText().c_str(), stdout);
      return 0;
    case ui::InfoRequest::Encoders:
      printEncoders();
      return 0;
    case ui::InfoRequest::None:
      break;
  }

  diag::init();
  platform::installCrashHandler();
  settings::load();
  i18n::setLanguage(settings::get().language);
  ui::parseSecondPass(argc, argv, &opts);
  // Probing the encoders waits on drivers for about half a second; it runs
  // while the window and renderer are created and is joined before the
  // encoders are logged (or when main returns early).
  std::jthread encoderProbe([] { media::availableEncoders(); });

  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    std::fprintf(stderr, "SDL_Init: %s\n", SDL_GetError());
    return 1;
  }
  // After SDL_Init, so these replace SDL's own handlers.
  std::signal(SIGTERM, onTerminationSignal);
  std::signal(SIGINT, onTerminationSignal);

  settings::Data& saved = settings::mutableData();
  DisplayBounds bounds = displayBounds();
  ui::WindowSize size = ui::requestedWindowSize(opts, saved.windowW, saved.windowH, bounds.w, bounds.h);
  WindowPtr window(SDL_CreateWindow(product::kName, SDL_WINDOWPOS_CENTERED_DISPLAY(0),
                                    SDL_WINDOWPOS_CENTERED_DISPLAY(0), size.w, size.h,
                                    SDL_WINDOW_SHOWN | SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI));
  if (!window) {
    std::fprintf(stderr, "SDL_CreateWindow: %s\n", SDL_GetError());
    SDL_Quit();
    return 1;
  }
  SDL_EventState(SDL_DROPFILE, SDL_ENABLE);
  SDL_SetWindowMinimumSize(window.get(), 860, 560);
  bool hadSavedSize = saved.windowW > 0 && saved.windowH > 0;
  diag::write("ui", "Fenster " + std::to_string(size.w) + "x" + std::to_string(size.h) +
                        (hadSavedSize ? " (gemerkt)" : " (aus dem Schirm gerechnet)"));

  Geometry geometry;
  if (opts.sizeW == 0 && !saved.fullscreen) {
    geometry.positionValid = saved.windowX != -1 && saved.windowX >= -9999 && saved.windowY >= -9999;
    if (saved.maximized) SDL_MaximizeWindow(window.get());
    geometry.firstFrame = true;
    geometry.sampleFrom = 1e300;  // armed after the first frame
  }
  if ((saved.fullscreen || opts.fullscreen) && !opts.windowed) {
    SDL_SetWindowFullscreen(window.get(), SDL_WINDOW_FULLSCREEN_DESKTOP);
  }

  RendererPtr renderer(ui::createRenderer(window.get()));
  if (!renderer) {
    std::fprintf(stderr, "SDL_CreateRenderer: %s\n", SDL_GetError());
    window.reset();
    SDL_Quit();
    return 1;
  }
  encoderProbe.join();
  logVideoSetup(renderer.get());
  ui::publishParentWindow(window.get());

  ui::gpuInit(renderer.get());
  if (!ui::registerBundledFonts()) std::fputs("[fonts] mitgelieferte Schriften nicht angemeldet\n", stderr);
  if (!opts.file.empty()) openFileArgument(opts.file);
  announceCrashReport();

  g_wakeEventType = SDL_RegisterEvents(1);
  if (g_wakeEventType != static_cast<Uint32>(-1)) ui::setFrameWaker(wakeLoop);

  FrameLoop loop(window.get(), renderer.get(), geometry);
  loop.run();
  // Workers that finish while they are being stopped no longer wake a loop
  // that has ended.
  ui::setFrameWaker(nullptr);
  ui::shutDown([&] {
    loop.release();
    renderer.reset();
    window.reset();
  });
  return 0;
}

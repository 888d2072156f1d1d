// korvelle_screens: renders screen states offscreen with the real screens and
// real media into PNGs — every registered state (screen_states.h) at 1280 × 800
// and 1920 × 1080, in English, German, Arabic and Japanese (and the languages a
// state asks for besides; a picture with glyphs drawn without a font is
// marked in the output). Pictures and video frames go through the texture
// layer on a software renderer, the interface is composed over them as the
// program does.
//
//   korvelle_screens FOLDER [--only NAME] [--photo FILE] [--clip FILE] [--clip2 FILE]
//
// --only takes one state's name, or a beginning ending in * ("sheet-*").
//
// Without media files a photo and two 1080p clips are made with ffmpeg in a
// temporary folder. Writes FOLDER/<state>-<lang>-<w>x<h>.png; exits 1 when a
// state could not be reached (its picture is written anyway).
#include <SDL.h>
#include <cairo.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "core/i18n.h"
#include "editor/document.h"
#include "editor/editor.h"
#include "editor/filmstrip.h"
#include "editor/stillcache.h"
#include "screen_states.h"
#include "screens/router.h"
#include "ui/dialog.h"
#include "ui/draw.h"
#include "ui/gpu.h"
#include "ui/overlay.h"

namespace screens_tool {

namespace {

double seconds() {
  using clock = std::chrono::steady_clock;
  static const clock::time_point start = clock::now();
  return std::chrono::duration<double>(clock::now() - start).count();
}

bool run(const std::string& cmd) { return std::system(cmd.c_str()) == 0; }

// Media made with ffmpeg when none were given.
bool makeMedia(const std::string& dir, Media* m) {
  const std::string ff = "ffmpeg -hide_banner -loglevel error -nostdin -y ";
  if (m->photo.empty()) {
    m->photo = dir + "/photo.jpg";
    if (!run(ff + "-f lavfi -i testsrc2=size=3000x2000 -frames:v 1 '" + m->photo + "'")) return false;
  }
  if (m->clip.empty()) {
    m->clip = dir + "/clip.mp4";
    if (!run(ff + "-f lavfi -i testsrc2=size=1920x1080:rate=30:duration=10 -f lavfi -i "
                  "\"sine=frequency=300:beep_factor=4:duration=10\" -c:v libx264 -preset veryfast -pix_fmt yuv420p "
                  "-c:a aac -shortest '" + m->clip + "'")) {
      return false;
    }
  }
  if (m->clip2.empty()) m->clip2 = m->clip;
  m->tall = dir + "/tall.mp4";
  if (!run(ff + "-f lavfi -i testsrc2=size=720x1280:rate=30:duration=2 -c:v libx264 -preset veryfast "
                "-pix_fmt yuv420p '" + m->tall + "'")) {
    return false;
  }
  return true;
}

// One window size: a software renderer on a surface, the cairo layer over it.
class Window : public Shot {
 public:
  Window(int w, int h, const Media& media) : media_(media), w_(w), h_(h) {
    surface_ = SDL_CreateRGBSurfaceWithFormat(0, w, h, 32, SDL_PIXELFORMAT_ARGB8888);
    renderer_ = surface_ ? SDL_CreateSoftwareRenderer(surface_) : nullptr;
    overlay_.ensure(w, h);
    if (renderer_) ui::gpuInit(renderer_);
    ui::gpuSetScale(1.0);
    ctx_.w = w;
    ctx_.h = h;
  }
  ~Window() override {
    ui::gpuShutdown();
    overlay_.reset();
    if (renderer_) SDL_DestroyRenderer(renderer_);
    if (surface_) SDL_FreeSurface(surface_);
  }
  bool ok() const { return renderer_ != nullptr && overlay_.surface() != nullptr; }

  const Media& media() const override { return media_; }
  double width() const override { return w_; }
  double height() const override { return h_; }

  void frame(ui::Input in = {}) override {
    const double now = seconds();
    ctx_.dt = std::min(0.1, now - ctx_.now);
    ctx_.now = now;
    ctx_.uiScale = ui::interfaceScale(w_, h_);
    if (in.keys.empty() && !in.pressed && !in.released && !in.held && in.mx == 0 && in.my == 0) {
      in.mx = -1e6;  // the pointer rests outside: no hover, no tooltip
      in.my = -1e6;
    }
    ctx_.in = std::move(in);
    ctx_.clickTaken = false;
    ui::gpuBeginFrame();
    SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
    SDL_RenderClear(renderer_);
    overlay_.clear();
    cairo_t* cr = cairo_create(overlay_.surface());
    ctx_.cr = cr;
    ui::App::instance().update(ctx_);
    ctx_.cr = nullptr;
    cairo_destroy(cr);
    overlay_.compose(renderer_, surface_);
  }

  bool framesUntil(const std::function<bool()>& cond, double limit = 60) override {
    const double end = seconds() + limit;
    while (seconds() < end) {
      frame();
      if (cond()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    return false;
  }

  // Closes a dialog a state left open, as the user does: the dialog holds no
  // other way out. Its contents give way to one button, which is clicked.
  void closeDialog() {
    if (!ui::dialogOpen()) return;
    ui::showDialog("", "", {{"x", 0}});
    const double s = ui::interfaceScale(w_, h_);
    const ui::Rect b = ui::dialogLayout(w_, h_, s, 0, 0, 1).buttons.at(0);
    ui::Input click;
    click.mx = b.x + b.w / 2;
    click.my = b.y + b.h / 2;
    click.pressed = true;
    click.held = true;
    frame(click);
    click.pressed = false;
    click.held = false;
    click.released = true;
    frame(click);
    ui::takeDialogResult();
  }

  // The last frame, the interface composed over the textures, as PNG.
  bool write(const std::string& path) {
    SDL_LockSurface(surface_);
    cairo_surface_t* out = cairo_image_surface_create_for_data(static_cast<unsigned char*>(surface_->pixels),
                                                               CAIRO_FORMAT_RGB24, w_, h_, surface_->pitch);
    const bool ok = cairo_surface_write_to_png(out, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(out);
    SDL_UnlockSurface(surface_);
    return ok;
  }

 private:
  Media media_;
  int w_;
  int h_;
  SDL_Surface* surface_ = nullptr;
  SDL_Renderer* renderer_ = nullptr;
  ui::Overlay overlay_;
  ui::Ctx ctx_;
};

// Whether --only's NAME (empty: all; a trailing * : a beginning) takes name.
bool matches(const std::string& only, const std::string& name) {
  if (only.empty()) return true;
  if (only.back() == '*') return name.compare(0, only.size() - 1, only, 0, only.size() - 1) == 0;
  return name == only;
}

// Back to nothing open, no dialog, no sheet.
void reset() {
  ui::closeDocument();
  ui::busy() = ui::BusyState{};
  ui::App::instance().screen = ui::App::Main;
  ui::EditorState& e = ui::editorState();
  e.appendAsk = false;  // a question a state left open
  e.pendingDrop.clear();
  e.skippedFiles.clear();
  e.cropRect = {};
  ui::takeDialogResult();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '-') {
    std::fprintf(stderr, "korvelle_screens FOLDER [--only NAME] [--photo FILE] [--clip FILE] [--clip2 FILE]\n");
    return 2;
  }
  const std::string folder = argv[1];
  std::string only;
  Media media;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string opt = argv[i];
    if (opt == "--only") only = argv[i + 1];
    if (opt == "--photo") media.photo = argv[i + 1];
    if (opt == "--clip") media.clip = argv[i + 1];
    if (opt == "--clip2") media.clip2 = argv[i + 1];
  }
  // Private folders: the working copies and the log stay out of the user's.
  char tmpl[] = "/tmp/korvelle_screens.XXXXXX";
  const char* tmp = mkdtemp(tmpl);
  if (!tmp) return 2;
  const std::string tmpDir = tmp;
  setenv("XDG_CACHE_HOME", (tmpDir + "/cache").c_str(), 1);
  setenv("XDG_DATA_HOME", (tmpDir + "/data").c_str(), 1);
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    std::fprintf(stderr, "%s: %s\n", folder.c_str(), ec.message().c_str());
    return 2;
  }
  if (!makeMedia(tmpDir, &media)) {
    std::fprintf(stderr, "ffmpeg could not make the media\n");
    return 2;
  }
  ui::registerBundledFonts();

  Registry registry;
  registerEditorStates(registry);
  registerOverlayStates(registry);
  registerStartStates(registry);
  registerSheetStates(registry);

  const int sizes[][2] = {{1280, 800}, {1920, 1080}};
  const std::vector<std::string> languages = {"en", "de", "ar", "ja"};
  int failed = 0;
  for (const auto& size : sizes) {
    Window window(size[0], size[1], media);
    if (!window.ok()) {
      std::fprintf(stderr, "no software renderer: %s\n", SDL_GetError());
      return 2;
    }
    for (const State& state : registry.states()) {
      if (!matches(only, state.name)) continue;
      auto prepare = [&](const std::string& lang) {
        reset();
        window.closeDialog();
        i18n::setLanguage(lang);
        if (!state.prepare(window)) {
          std::fprintf(stderr, "%s-%s at %dx%d: not reached\n", state.name.c_str(), lang.c_str(), size[0], size[1]);
          ++failed;
        }
      };
      if (!state.eachLanguage) prepare("en");
      std::vector<std::string> langs = languages;
      langs.insert(langs.end(), state.moreLanguages.begin(), state.moreLanguages.end());
      for (const std::string& lang : langs) {
        if (state.eachLanguage) prepare(lang);
        i18n::setLanguage(lang);
        window.frame();
        const size_t before = ui::unknownGlyphsDrawn();
        window.frame();
        const bool glyphsMissing = ui::unknownGlyphsDrawn() != before;
        const std::string path = folder + "/" + state.name + "-" + lang + "-" + std::to_string(size[0]) + "x" +
                                 std::to_string(size[1]) + ".png";
        if (!window.write(path)) {
          std::fprintf(stderr, "%s: not written\n", path.c_str());
          ++failed;
        } else {
          std::printf("%s%s\n", path.c_str(), glyphsMissing ? "  (glyphs without a font)" : "");
        }
      }
    }
    reset();
  }
  reset();
  ui::resetFilmstrip();
  ui::resetStills();
  doc::Document::cleanWorkDir();
  std::filesystem::remove_all(tmpDir, ec);
  return failed ? 1 : 0;
}

}  // namespace screens_tool

int main(int argc, char** argv) { return screens_tool::main(argc, argv); }

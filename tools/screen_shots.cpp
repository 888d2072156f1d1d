// screen_shots: draws the secondary screens (settings, language, about,
// licences) offscreen in several interface languages, one PNG each, to look
// them over — right-to-left scripts, long words, scripts with marks. A
// developer tool; the program never runs it. The settings it shows are the
// defaults; nothing is saved.
//
//   korvelle_screen_shots <out dir> [--lang en,de,ar,…] [--size 1280x2400] [--scale 2]
#include <cairo.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "core/i18n.h"
#include "screens/overlays.h"
#include "screens/router.h"
#include "ui/draw.h"
#include "ui/frame.h"

namespace {

struct Screen {
  int value;
  const char* name;
};
constexpr Screen kScreens[] = {
    {ui::App::Settings, "settings"},
    {ui::App::Language, "language"},
    {ui::App::About, "about"},
    {ui::App::Licenses, "licenses"},
};

std::vector<std::string> split(const std::string& list) {
  std::vector<std::string> out;
  std::stringstream in(list);
  for (std::string item; std::getline(in, item, ',');) {
    if (!item.empty()) out.push_back(item);
  }
  return out;
}

// One frame of the router with the pointer outside the window; returns the
// glyphs drawn without a font.
size_t drawFrame(cairo_surface_t* surface, double w, double h, double scale) {
  cairo_t* cr = cairo_create(surface);
  cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
  cairo_paint(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
  cairo_scale(cr, scale, scale);
  ui::Ctx ctx;
  ctx.cr = cr;
  ctx.w = w;
  ctx.h = h;
  ctx.now = 10;
  ctx.uiScale = ui::interfaceScale(w, h);
  ctx.in.mx = -1e9;
  ctx.in.my = -1e9;
  const size_t before = ui::unknownGlyphsDrawn();
  ui::App::instance().update(ctx);
  cairo_destroy(cr);
  return ui::unknownGlyphsDrawn() - before;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '-') {
    std::fprintf(stderr, "usage: %s <out dir> [--lang en,de,ar] [--size WxH] [--scale S]\n", argv[0]);
    return 2;
  }
  std::string outDir = argv[1];
  std::vector<std::string> langs = split("en,de,ar,he,ja,hi,th");
  int w = 1280;
  int h = 2400;
  double scale = 1;
  for (int i = 2; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--lang") == 0) langs = split(argv[i + 1]);
    if (std::strcmp(argv[i], "--size") == 0) std::sscanf(argv[i + 1], "%dx%d", &w, &h);
    if (std::strcmp(argv[i], "--scale") == 0) scale = std::atof(argv[i + 1]);
  }
  if (w < 64 || h < 64 || scale <= 0) {
    std::fprintf(stderr, "bad size or scale\n");
    return 2;
  }
  if (!ui::registerBundledFonts()) std::fprintf(stderr, "some shipped fonts are missing\n");

  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(w * scale),
                                                        static_cast<int>(h * scale));
  int failures = 0;
  for (const std::string& lang : langs) {
    i18n::setLanguage(lang);
    for (const Screen& s : kScreens) {
      ui::App::instance().screen = s.value;
      const size_t missing = drawFrame(surface, w, h, scale);
      std::string path = outDir + "/" + s.name + "_" + lang + ".png";
      if (cairo_surface_write_to_png(surface, path.c_str()) != CAIRO_STATUS_SUCCESS) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        ++failures;
        continue;
      }
      std::printf("%s%s\n", path.c_str(), missing ? "  (glyphs missing!)" : "");
    }
  }
  cairo_surface_destroy(surface);
  return failures ? 1 : 0;
}

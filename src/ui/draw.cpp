#include "ui/draw.h"

#include <fontconfig/fontconfig.h>
#include <glib.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include "platform/paths.h"

namespace ui {

namespace {

constexpr double kPi = 3.14159265358979323846;

struct FontFile {
  const char* path;
  bool required;
};

constexpr FontFile kFonts[] = {
    {"assets/fonts/DejaVuSans.ttf", true},   {"assets/fonts/DejaVuSans-Bold.ttf", true},
    {"assets/fonts/KorvelleCJK.ttf", true},  {"assets/fonts/KorvelleDeva.ttf", true},
    {"assets/fonts/KorvelleBeng.ttf", true}, {"assets/fonts/KorvelleThai.ttf", true},
    {"assets/fonts/KorvelleArab.ttf", true},
};

// Everything that decides how a text is shaped. The colour and alpha are not
// part of it: they are applied when the layout is shown.
struct LayoutKey {
  std::string text;
  std::string family;
  double size = 0;  // after shrinking
  bool bold = false;
  bool italic = false;
  double letterSpacing = 0;
  bool uppercase = false;
  double wrapWidth = 0;
  int align = 0;  // only matters when wrapping

  bool operator==(const LayoutKey&) const = default;
};

struct LayoutKeyHash {
  size_t operator()(const LayoutKey& k) const {
    size_t h = std::hash<std::string>{}(k.text);
    auto mixIn = [&h](size_t v) { h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2); };
    mixIn(std::hash<std::string>{}(k.family));
    mixIn(std::hash<double>{}(k.size));
    mixIn(std::hash<double>{}(k.letterSpacing));
    mixIn(std::hash<double>{}(k.wrapWidth));
    mixIn(static_cast<size_t>(k.bold) | static_cast<size_t>(k.italic) << 1 |
          static_cast<size_t>(k.uppercase) << 2 | static_cast<size_t>(k.align) << 3);
    return h;
  }
};

struct GObjectUnref {
  void operator()(void* p) const { g_object_unref(p); }
};
using LayoutPtr = std::unique_ptr<PangoLayout, GObjectUnref>;
using ContextPtr = std::unique_ptr<PangoContext, GObjectUnref>;

struct FontDescFree {
  void operator()(PangoFontDescription* d) const { pango_font_description_free(d); }
};

struct CachedLayout {
  LayoutPtr layout;
  uint64_t lastUse = 0;
};

// Shaping is the expensive part of text, and an interface redraws the same
// labels every frame, so finished layouts are kept per text and style.
// Layouts depend on the cairo transformation they were shaped for, so each
// distinct scale gets its own pango context (in practice: the frame and the
// occasional texture painted at another scale).
struct ContextCache {
  double xx = 1, yx = 0, xy = 0, yy = 1;  // the cairo matrix without translation
  ContextPtr context;
  std::unordered_map<LayoutKey, CachedLayout, LayoutKeyHash> layouts;
};

// Enough for several screens' worth of labels; beyond it the least recently
// used half goes, so eviction (a sort) stays rare.
constexpr size_t kMaxLayoutsPerContext = 1024;
// Distinct transformations kept before the oldest context is dropped.
constexpr size_t kMaxContexts = 4;

struct TextCache {
  std::vector<std::unique_ptr<ContextCache>> contexts;  // most recently used first
  cairo_t* lastCr = nullptr;
  uint64_t useCounter = 0;
  // The font description of the last miss, reused while the font stays the same.
  std::unique_ptr<PangoFontDescription, FontDescFree> desc;
  std::string descFamily;
  double descSize = -1;
  bool descBold = false;
  bool descItalic = false;
};

TextCache& cache() {
  static TextCache c;
  return c;
}

ContextCache& contextFor(cairo_t* cr) {
  TextCache& c = cache();
  cairo_matrix_t m;
  cairo_get_matrix(cr, &m);
  auto it = std::find_if(c.contexts.begin(), c.contexts.end(), [&m](const auto& cc) {
    return cc->xx == m.xx && cc->yx == m.yx && cc->xy == m.xy && cc->yy == m.yy;
  });
  if (it == c.contexts.end()) {
    auto cc = std::make_unique<ContextCache>();
    cc->xx = m.xx;
    cc->yx = m.yx;
    cc->xy = m.xy;
    cc->yy = m.yy;
    cc->context.reset(pango_cairo_create_context(cr));
    c.contexts.insert(c.contexts.begin(), std::move(cc));
    if (c.contexts.size() > kMaxContexts) c.contexts.pop_back();
    c.lastCr = cr;
    return *c.contexts.front();
  }
  if (it != c.contexts.begin()) std::rotate(c.contexts.begin(), it, it + 1);
  ContextCache& cc = *c.contexts.front();
  if (c.lastCr != cr) {
    // A new cairo context (usually the next frame's): pick up its font
    // options; a change invalidates the context's layouts by itself.
    pango_cairo_update_context(cr, cc.context.get());
    c.lastCr = cr;
  }
  return cc;
}

const PangoFontDescription* fontFor(const LayoutKey& key) {
  TextCache& c = cache();
  if (!c.desc || c.descFamily != key.family || c.descSize != key.size || c.descBold != key.bold ||
      c.descItalic != key.italic) {
    c.desc.reset(pango_font_description_new());
    pango_font_description_set_family(c.desc.get(), key.family.c_str());
    pango_font_description_set_absolute_size(c.desc.get(), key.size * PANGO_SCALE);
    pango_font_description_set_weight(c.desc.get(), key.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_style(c.desc.get(), key.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    c.descFamily = key.family;
    c.descSize = key.size;
    c.descBold = key.bold;
    c.descItalic = key.italic;
  }
  return c.desc.get();
}

void evictOldest(ContextCache& cc) {
  std::vector<std::pair<uint64_t, const LayoutKey*>> ages;
  ages.reserve(cc.layouts.size());
  for (const auto& [key, entry] : cc.layouts) ages.emplace_back(entry.lastUse, &key);
  auto half = ages.begin() + static_cast<std::ptrdiff_t>(ages.size() / 2);
  std::nth_element(ages.begin(), half, ages.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<LayoutKey> drop;
  for (auto it = ages.begin(); it != half; ++it) drop.push_back(*it->second);
  for (const auto& key : drop) cc.layouts.erase(key);
}

PangoLayout* buildLayout(PangoContext* context, const LayoutKey& key) {
  PangoLayout* layout = pango_layout_new(context);
  pango_layout_set_font_description(layout, fontFor(key));
  if (key.letterSpacing != 0) {
    PangoAttrList* attrs = pango_attr_list_new();
    pango_attr_list_insert(attrs, pango_attr_letter_spacing_new(static_cast<int>(key.letterSpacing * PANGO_SCALE)));
    pango_layout_set_attributes(layout, attrs);
    pango_attr_list_unref(attrs);
  }
  if (key.uppercase) {
    gchar* upper = g_utf8_strup(key.text.c_str(), static_cast<gssize>(key.text.size()));
    pango_layout_set_text(layout, upper, -1);
    g_free(upper);
  } else {
    pango_layout_set_text(layout, key.text.c_str(), static_cast<int>(key.text.size()));
  }
  if (key.wrapWidth > 0) {
    pango_layout_set_width(layout, static_cast<int>(key.wrapWidth * PANGO_SCALE));
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    pango_layout_set_alignment(layout, key.align == 1   ? PANGO_ALIGN_CENTER
                                       : key.align == 2 ? PANGO_ALIGN_RIGHT
                                                        : PANGO_ALIGN_LEFT);
  }
  return layout;
}

PangoLayout* layoutFor(cairo_t* cr, const std::string& text, const TextStyle& style, double scale) {
  TextCache& c = cache();
  ContextCache& cc = contextFor(cr);
  LayoutKey key{text,           style.family ? style.family : "sans",
                style.size * scale, style.bold, style.italic, style.letterSpacing,
                style.uppercase, style.wrapWidth > 0 ? style.wrapWidth : 0,
                style.wrapWidth > 0 ? style.align : 0};
  auto it = cc.layouts.find(key);
  if (it == cc.layouts.end()) {
    if (cc.layouts.size() >= kMaxLayoutsPerContext) evictOldest(cc);
    LayoutPtr layout(buildLayout(cc.context.get(), key));
    it = cc.layouts.emplace(std::move(key), CachedLayout{std::move(layout), 0}).first;
  }
  it->second.lastUse = ++c.useCounter;
  return it->second.layout.get();
}

// A laid-out text and the box it occupies relative to the layout's origin.
struct Laid {
  PangoLayout* layout = nullptr;
  double x = 0;  // logical rectangle's offset from the layout origin
  double y = 0;
  double w = 0;
  double h = 0;
};

Laid lay(cairo_t* cr, const std::string& text, const TextStyle& style) {
  Laid out;
  if (text.empty() || !cr) return out;
  double scale = 1.0;
  PangoRectangle logical;
  if (style.fitWidth > 0) {
    PangoLayout* probe = layoutFor(cr, text, style, 1.0);
    pango_layout_get_pixel_extents(probe, nullptr, &logical);
    scale = fitScale(logical.width, style.fitWidth, style.minScale);
    if (scale == 1.0) {
      out.layout = probe;
      out.x = logical.x;
      out.y = logical.y;
      out.w = logical.width;
      out.h = logical.height;
      return out;
    }
  }
  out.layout = layoutFor(cr, text, style, scale);
  pango_layout_get_pixel_extents(out.layout, nullptr, &logical);
  out.x = logical.x;
  out.y = logical.y;
  out.w = logical.width;
  out.h = logical.height;
  return out;
}

// Glyphs drawn as the missing-glyph box since start (pango caches the count
// per layout, so asking costs nothing after the first draw).
size_t g_unknownGlyphs = 0;

void show(cairo_t* cr, const Laid& laid, double originX, double originY, const TextStyle& style) {
  g_unknownGlyphs += static_cast<size_t>(std::max(0, pango_layout_get_unknown_glyphs_count(laid.layout)));
  setColor(cr, style.color, style.alpha);
  cairo_move_to(cr, originX, originY);
  pango_cairo_show_layout(cr, laid.layout);
}

}  // namespace

void setColor(cairo_t* cr, uint32_t color, double alpha) {
  cairo_set_source_rgba(cr, ((color >> 16) & 0xFF) / 255.0, ((color >> 8) & 0xFF) / 255.0,
                        (color & 0xFF) / 255.0, alpha);
}

void fillRect(cairo_t* cr, const Rect& r, uint32_t color, double alpha) {
  setColor(cr, color, alpha);
  cairo_rectangle(cr, r.x, r.y, r.w, r.h);
  cairo_fill(cr);
}

void roundedRectPath(cairo_t* cr, const Rect& r, double radius) {
  double rad = std::min(radius, 0.5 * std::min(r.w, r.h));
  cairo_new_sub_path(cr);
  cairo_arc(cr, r.x + r.w - rad, r.y + rad, rad, -kPi / 2, 0);
  cairo_arc(cr, r.x + r.w - rad, r.y + r.h - rad, rad, 0, kPi / 2);
  cairo_arc(cr, r.x + rad, r.y + r.h - rad, rad, kPi / 2, kPi);
  cairo_arc(cr, r.x + rad, r.y + rad, rad, kPi, 3 * kPi / 2);
  cairo_close_path(cr);
}

void fillRoundedRect(cairo_t* cr, const Rect& r, double radius, uint32_t color, double alpha) {
  roundedRectPath(cr, r, radius);
  setColor(cr, color, alpha);
  cairo_fill(cr);
}

void strokeRoundedRect(cairo_t* cr, const Rect& r, double radius, double lineWidth, uint32_t color,
                       double alpha) {
  roundedRectPath(cr, r, radius);
  setColor(cr, color, alpha);
  cairo_set_line_width(cr, lineWidth);
  cairo_stroke(cr);
}

void fillCircle(cairo_t* cr, double cx, double cy, double r, uint32_t color, double alpha) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, cx, cy, r, 0, 2 * kPi);
  setColor(cr, color, alpha);
  cairo_fill(cr);
}

void strokeCircle(cairo_t* cr, double cx, double cy, double r, double lineWidth, uint32_t color,
                  double alpha) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, cx, cy, r, 0, 2 * kPi);
  setColor(cr, color, alpha);
  cairo_set_line_width(cr, lineWidth);
  cairo_stroke(cr);
}

void drawLine(cairo_t* cr, double x0, double y0, double x1, double y1, double width,
              uint32_t color, double alpha) {
  setColor(cr, color, alpha);
  cairo_set_line_width(cr, width);
  cairo_move_to(cr, x0, y0);
  cairo_line_to(cr, x1, y1);
  cairo_stroke(cr);
}

bool registerBundledFonts() {
  FcConfig* config = FcConfigGetCurrent();
  if (!config) return false;
  bool ok = true;
  for (const FontFile& font : kFonts) {
    std::string path = paths::asset(font.path);
    if (!FcConfigAppFontAddFile(config, reinterpret_cast<const FcChar8*>(path.c_str()))) {
      std::fprintf(stderr, "[fonts] %s: %s\n", font.required ? "FEHLT" : "noch nicht erzeugt", path.c_str());
      if (font.required) ok = false;
    }
  }
  return ok;
}

double fitScale(double pw, double fitWidth, double minScale) {
  if (fitWidth > 0 && pw > fitWidth && pw >= 1) return std::max(fitWidth / pw, minScale);
  return 1.0;
}

void drawText(cairo_t* cr, double x, double y, const std::string& text, const TextStyle& style) {
  Laid laid = lay(cr, text, style);
  if (!laid.layout) return;
  double left = x;
  if (style.wrapWidth <= 0) {
    if (style.align == 1) left = x - laid.w / 2;
    if (style.align == 2) left = x - laid.w;
    left -= laid.x;
  }
  show(cr, laid, left, y - laid.y, style);
}

void drawTextTop(cairo_t* cr, double cx, double y, const std::string& text, const TextStyle& style) {
  Laid laid = lay(cr, text, style);
  if (!laid.layout) return;
  double left = style.wrapWidth > 0 ? cx : cx - laid.w / 2 - laid.x;
  show(cr, laid, left, y - laid.y, style);
}

void drawTextIn(cairo_t* cr, const Rect& r, const std::string& text, const TextStyle& style) {
  Laid laid = lay(cr, text, style);
  if (!laid.layout) return;
  show(cr, laid, r.x + (r.w - laid.w) / 2 - laid.x, r.y + (r.h - laid.h) / 2 - laid.y, style);
}

void measureText(cairo_t* cr, const std::string& text, const TextStyle& style, double* w, double* h) {
  Laid laid = lay(cr, text, style);
  if (w) *w = laid.w;
  if (h) *h = laid.h;
}

size_t unknownGlyphsDrawn() { return g_unknownGlyphs; }

size_t cachedTextLayouts() {
  size_t n = 0;
  for (const auto& cc : cache().contexts) n += cc->layouts.size();
  return n;
}

}  // namespace ui

#include "support/screen_harness.h"

#include <cmath>
#include <sstream>

#include "ui/draw.h"

namespace testing_support {

namespace {

constexpr double kFrameStep = 1.0 / 60.0;

}  // namespace

std::vector<DumpEntry> parseDump(const std::string& text) {
  std::vector<DumpEntry> out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    DumpEntry e;
    if (fields >> e.id >> e.rect.x >> e.rect.y >> e.rect.w >> e.rect.h) out.push_back(e);
  }
  return out;
}

std::optional<ui::Rect> findWidget(const std::vector<DumpEntry>& dump, const std::string& id) {
  for (const DumpEntry& e : dump) {
    if (e.id == id) return e.rect;
  }
  return std::nullopt;
}

ScreenHarness::ScreenHarness(int w, int h, double scale)
    : dumpPath_(dir_.file("ui_dump.txt")), scale_(scale) {
  [[maybe_unused]] static const bool fontsRegistered = ui::registerBundledFonts();
  ui::setUiDumpPath(dumpPath_);
  surface_ = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(std::lround(w * scale)),
                                        static_cast<int>(std::lround(h * scale)));
  ctx_.w = w;
  ctx_.h = h;
  ctx_.uiScale = ui::interfaceScale(w, h);
}

ScreenHarness::~ScreenHarness() {
  ui::setUiDumpPath("");
  cairo_surface_destroy(surface_);
}

void ScreenHarness::frame(const std::function<void(ui::Ctx&)>& draw, ui::Input in) {
  now_ += kFrameStep;
  if (in.pressed) held_ = true;
  if (in.released) held_ = false;
  in.held = held_;
  ctx_.now = now_;
  ctx_.dt = std::min(now_ - prev_, 0.1);
  prev_ = now_;
  ctx_.w = cairo_image_surface_get_width(surface_) / scale_;
  ctx_.h = cairo_image_surface_get_height(surface_) / scale_;
  ctx_.uiScale = ui::interfaceScale(ctx_.w, ctx_.h);
  ctx_.in = std::move(in);
  ctx_.clickTaken = false;

  cairo_t* cr = cairo_create(surface_);
  cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
  cairo_paint(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
  cairo_scale(cr, scale_, scale_);
  ctx_.cr = cr;
  draw(ctx_);
  ui::writeUiDump();
  ctx_.cr = nullptr;
  cairo_destroy(cr);
  cairo_surface_flush(surface_);
}

void ScreenHarness::appFrame(ui::Input in) {
  frame([](ui::Ctx& c) { ui::App::instance().update(c); }, std::move(in));
}

bool ScreenHarness::clickWidget(const std::string& id) {
  std::optional<ui::Rect> r = widget(id);
  if (!r) return false;
  appFrame(click(r->x + r->w / 2, r->y + r->h / 2));
  return true;
}

std::string ScreenHarness::dumpText() const { return readFile(dumpPath_); }

std::vector<DumpEntry> ScreenHarness::dump() const { return parseDump(dumpText()); }

std::optional<ui::Rect> ScreenHarness::widget(const std::string& id) const { return findWidget(dump(), id); }

uint32_t ScreenHarness::pixel(double x, double y) const {
  int px = static_cast<int>(std::floor(x * scale_));
  int py = static_cast<int>(std::floor(y * scale_));
  if (px < 0 || py < 0 || px >= cairo_image_surface_get_width(surface_) ||
      py >= cairo_image_surface_get_height(surface_)) {
    return 0;
  }
  const unsigned char* data = cairo_image_surface_get_data(surface_);
  int stride = cairo_image_surface_get_stride(surface_);
  uint32_t v = *reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(py) * stride + px * 4);
  uint32_t a = v >> 24;
  if (a == 0) return 0;
  auto unpremultiply = [a](uint32_t c) { return std::min<uint32_t>(255, (c * 255 + a / 2) / a); };
  return a << 24 | unpremultiply((v >> 16) & 0xFF) << 16 | unpremultiply((v >> 8) & 0xFF) << 8 |
         unpremultiply(v & 0xFF);
}

}  // namespace testing_support

// The interface picture composed over the frame tile by tile, on SDL's software renderer.
#include <SDL.h>
#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/free_with.h"
#include "support/test_support.h"
#include "ui/overlay.h"

namespace {

using ui::TileKind;
constexpr TileKind C = TileKind::Clear, O = TileKind::Opaque, M = TileKind::Mixed;

struct TileCase {
  const char* what;
  uint32_t fill;                 // every pixel
  int x, y;                      // then this one pixel
  uint32_t pixel;
  std::vector<TileKind> kinds;   // 3 × 2 tiles of a 130 × 70 picture
};

TEST(Overlay, TilesSortByAlphaAndTheEdgeTilesCountOnlyTheirOwnPixels) {
  const TileCase cases[] = {{"all clear", 0, 0, 0, 0, {C, C, C, C, C, C}},
                            {"all opaque", 0xFF203040, 5, 5, 0xFF000000, {O, O, O, O, O, O}},
                            {"one faint pixel", 0, 100, 65, 0x01010101, {C, C, C, C, M, C}},
                            {"one hole in the last edge tile", 0xFF102030, 129, 69, 0, {O, O, O, O, O, M}},
                            {"one opaque pixel", 0, 64, 0, 0xFFFFFFFF, {C, M, C, C, C, C}}};
  const int w = 130, h = 70, stridePx = 136;  // rows padded as cairo may pad them
  for (const TileCase& c : cases) {
    std::vector<uint32_t> px(static_cast<size_t>(stridePx) * h, 0x12345678);  // padding is never read as pixels
    for (int y = 0; y < h; ++y) std::fill_n(px.begin() + y * stridePx, w, c.fill);
    px[static_cast<size_t>(c.y) * stridePx + c.x] = c.pixel;
    std::vector<TileKind> kinds;
    ui::classifyTiles(reinterpret_cast<const uint8_t*>(px.data()), stridePx * 4, w, h, &kinds);
    EXPECT_EQ(kinds, c.kinds) << c.what;
  }
}

using SurfaceGuard = std::unique_ptr<SDL_Surface, platform::FreeWith<SDL_FreeSurface>>;
using CairoSurface = std::unique_ptr<cairo_surface_t, platform::FreeWith<cairo_surface_destroy>>;

// A w × h target whose pixels form a gradient, as a video frame below would.
SurfaceGuard background(int w, int h) {
  SurfaceGuard s(SDL_CreateRGBSurfaceWithFormat(0, w, h, 32, SDL_PIXELFORMAT_ARGB8888));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      static_cast<uint32_t*>(s->pixels)[y * s->pitch / 4 + x] = 0xFF000000u | (x * 255 / w) << 16 | (y * 255 / h) << 8 | 0x80;
    }
  }
  return s;
}

// An opaque bar, a half-transparent disc and an opaque box across tile borders.
void paintInterface(cairo_surface_t* s) {
  cairo_t* cr = cairo_create(s);
  cairo_set_source_rgb(cr, 0.1, 0.2, 0.3);
  cairo_rectangle(cr, 0, 0, 200, 70);
  cairo_fill(cr);
  cairo_set_source_rgba(cr, 0.9, 0.5, 0.1, 0.5);
  cairo_arc(cr, 100, 110, 25, 0, 6.3);
  cairo_fill(cr);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_rectangle(cr, 50, 120, 30, 20);
  cairo_fill(cr);
  cairo_destroy(cr);
  cairo_surface_flush(s);
}

// Channels of two pictures apart by more than one step (a blend may round by one).
int differingChannels(const SDL_Surface* a, const SDL_Surface* b) {
  int differing = 0;
  for (int y = 0; y < a->h; ++y) {
    for (int x = 0; x < a->w; ++x) {
      const uint32_t p = static_cast<const uint32_t*>(a->pixels)[y * a->pitch / 4 + x];
      const uint32_t q = static_cast<const uint32_t*>(b->pixels)[y * b->pitch / 4 + x];
      for (int shift = 0; shift < 24; shift += 8) {
        differing += std::abs(static_cast<int>((p >> shift) & 0xFF) - static_cast<int>((q >> shift) & 0xFF)) > 1;
      }
    }
  }
  return differing;
}

// A red bar queued on the renderer, then the interface composed over it.
void composeFrame(SDL_Renderer* r, SDL_Surface* target, int w, int h) {
  const SDL_Rect bar{20, 100, 150, 30};
  SDL_SetRenderDrawColor(r, 255, 0, 0, 255);
  SDL_RenderFillRect(r, &bar);
  ui::Overlay overlay;
  ASSERT_TRUE(overlay.ensure(w, h));
  paintInterface(overlay.surface());
  overlay.compose(r, target);
  SDL_RenderFlush(r);
}

TEST(Overlay, ComposesAsCairoDrawsTheWholePictureOverTheFrame) {
  const int w = 200, h = 150;
  // What cairo makes of the interface painted over the frame: premultiplied,
  // so a half-covered white pixel over black is mid grey, not dark grey.
  SurfaceGuard expected = background(w, h);
  const SDL_Rect bar{20, 100, 150, 30};
  SDL_FillRect(expected.get(), &bar, 0xFFFF0000u);
  {
    CairoSurface frame(cairo_image_surface_create_for_data(static_cast<unsigned char*>(expected->pixels),
                                                           CAIRO_FORMAT_RGB24, w, h, expected->pitch));
    CairoSurface picture(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
    paintInterface(picture.get());
    cairo_t* cr = cairo_create(frame.get());
    cairo_set_source_surface(cr, picture.get(), 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
  }
  SurfaceGuard direct = background(w, h);
  {
    ui::RendererPtr r(SDL_CreateSoftwareRenderer(direct.get()));
    composeFrame(r.get(), direct.get(), w, h);
  }
  EXPECT_EQ(differingChannels(direct.get(), expected.get()), 0);

  // The same in an XRGB window, as on an X11 screen (SDL's dummy driver here).
  testing_support::ScopedEnv driver("SDL_VIDEODRIVER", "dummy");
  ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
  std::unique_ptr<SDL_Window, platform::FreeWith<SDL_DestroyWindow>> window(
      SDL_CreateWindow("overlay", 0, 0, w, h, SDL_WINDOW_HIDDEN));
  ASSERT_TRUE(window);
  {
    ui::RendererPtr r(SDL_CreateRenderer(window.get(), -1, SDL_RENDERER_SOFTWARE));
    ASSERT_TRUE(r);
    SDL_Surface* screen = SDL_GetWindowSurface(window.get());
    ASSERT_EQ(screen->format->format, SDL_PIXELFORMAT_RGB888);
    SDL_BlitSurface(background(w, h).get(), nullptr, screen, nullptr);
    composeFrame(r.get(), screen, w, h);
    EXPECT_EQ(differingChannels(screen, expected.get()), 0);
  }
  window.reset();
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

// Through a texture (a renderer with a graphics card), the tiles give what
// one blend of the whole picture with the same blend mode gives.
TEST(Overlay, TilesThroughATextureBlendAsTheWholePictureDoes) {
  const int w = 200, h = 150;
  SurfaceGuard tiled = background(w, h);
  {
    ui::RendererPtr r(SDL_CreateSoftwareRenderer(tiled.get()));
    composeFrame(r.get(), nullptr, w, h);
  }
  SurfaceGuard whole = background(w, h);
  {
    ui::RendererPtr r(SDL_CreateSoftwareRenderer(whole.get()));
    const SDL_Rect bar{20, 100, 150, 30};
    SDL_SetRenderDrawColor(r.get(), 255, 0, 0, 255);
    SDL_RenderFillRect(r.get(), &bar);
    CairoSurface picture(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
    paintInterface(picture.get());
    ui::TexturePtr t(SDL_CreateTexture(r.get(), SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, w, h));
    SDL_UpdateTexture(t.get(), nullptr, cairo_image_surface_get_data(picture.get()), cairo_image_surface_get_stride(picture.get()));
    SDL_SetTextureBlendMode(t.get(), SDL_BLENDMODE_BLEND);  // this renderer lacks the premultiplied mode
    SDL_RenderCopy(r.get(), t.get(), nullptr, nullptr);
    SDL_RenderFlush(r.get());
  }
  EXPECT_EQ(differingChannels(tiled.get(), whole.get()), 0);
}

TEST(Overlay, AClearLeavesNothingOfTheLastFrame) {
  const int w = 200, h = 150;
  SurfaceGuard target = background(w, h);
  ui::RendererPtr r(SDL_CreateSoftwareRenderer(target.get()));
  ui::Overlay overlay;
  ASSERT_TRUE(overlay.ensure(w, h));
  // Before any compose the whole picture is cleared; after one, the drawn tiles.
  for (bool composed : {false, true, true}) {
    paintInterface(overlay.surface());
    if (composed) overlay.compose(r.get());
    overlay.clear();
    const auto* px = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(overlay.surface()));
    const int stride = cairo_image_surface_get_stride(overlay.surface()) / 4;
    int drawn = 0;
    for (int y = 0; y < h; ++y) {
      drawn += std::count_if(px + y * stride, px + y * stride + w, [](uint32_t p) { return p != 0; });
    }
    EXPECT_EQ(drawn, 0) << composed;
  }
}

}  // namespace

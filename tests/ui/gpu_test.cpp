// The texture layer on SDL's software renderer, drawing into an offscreen
// surface (no window, no display).
#include <SDL.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "platform/free_with.h"
#include "ui/gpu.h"
#include "ui/sdl_guard.h"

namespace {

// A software renderer over a w × h ARGB8888 surface, adopted by the texture layer.
struct SoftwareTarget {
  SoftwareTarget(int w, int h)
      : surface(SDL_CreateRGBSurface(0, w, h, 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000)),
        renderer(surface ? SDL_CreateSoftwareRenderer(surface.get()) : nullptr) {
    EXPECT_TRUE(renderer) << SDL_GetError();
    ui::gpuSetScale(1);
    ui::gpuInit(renderer.get());
  }
  ~SoftwareTarget() {
    ui::gpuShutdown();
    ui::gpuSetScale(1);
  }
  void clear(uint8_t r, uint8_t g, uint8_t b) {
    SDL_SetRenderDrawBlendMode(renderer.get(), SDL_BLENDMODE_NONE);
    SDL_SetRenderDrawColor(renderer.get(), r, g, b, 255);
    SDL_RenderClear(renderer.get());
  }
  // 0xAARRGGBB at physical pixel (x, y), after flushing the renderer.
  uint32_t pixel(int x, int y) {
    SDL_RenderFlush(renderer.get());
    return static_cast<const uint32_t*>(surface->pixels)[static_cast<size_t>(y) * surface->pitch / 4 + x];
  }
  std::unique_ptr<SDL_Surface, platform::FreeWith<SDL_FreeSurface>> surface;
  ui::RendererPtr renderer;  // destroyed before the surface it draws on
};

// Channels of p each within 2 of the expected value (the blitters round).
::testing::AssertionResult near(uint32_t p, double r, double g, double b) {
  const double want[3] = {r, g, b};
  for (int i = 0; i < 3; ++i) {
    if (std::fabs(static_cast<double>((p >> (16 - 8 * i)) & 0xFF) - want[i]) > 2) {
      return ::testing::AssertionFailure() << std::hex << "pixel " << p << std::dec << ", expected about (" << r
                                           << ", " << g << ", " << b << ")";
    }
  }
  return ::testing::AssertionSuccess();
}

std::string key(int i) { return "t" + std::to_string(i); }

}  // namespace

TEST(Gpu, ScaleAndAlphaConversions) {
  ui::gpuSetScale(2.5);
  EXPECT_DOUBLE_EQ(ui::gpuScale(), 2.5);
  for (double bad : {0.0, -3.0, std::nan("")}) {
    ui::gpuSetScale(bad);
    EXPECT_DOUBLE_EQ(ui::gpuScale(), 1.0) << bad;
  }
  const std::pair<double, int> alphas[] = {{0.5, 128}, {1.2, 255}, {-0.1, 0}, {1.0 / 255, 1}, {std::nan(""), 0}};
  for (const auto& [alpha, byte] : alphas) EXPECT_EQ(ui::gpuAlphaByte(alpha), byte) << alpha;
}

TEST(Gpu, NothingHappensWithoutRenderer) {
  ui::gpuShutdown();
  const uint32_t px = 0xFFFFFFFF;
  EXPECT_EQ(ui::gpuTextureRgba("k", 1, 1, &px, false), nullptr);
  ui::gpuFillRect(0, 0, 10, 10, 0xFFFFFF, 1);
  ui::gpuBlit(nullptr, 0, 0, 10, 10, 1);
  ui::gpuBlitRotated(nullptr, 0, 0, 10, 10, 45, 1);
}

TEST(Gpu, DrawingRoundsToPhysicalPixelsAndSkipsEmptyRects) {
  SoftwareTarget t(16, 16);
  t.clear(0, 0, 0);
  ui::gpuFillRect(2, 2, 0, 5, 0xFFFFFF, 1);
  ui::gpuFillRect(2, 2, 5, -1, 0xFFFFFF, 1);
  ui::gpuFillRect(2, 2, 0.3, 5, 0xFFFFFF, 1);  // rounds to no pixel at all
  const uint32_t white = 0xFFFFFFFF;
  SDL_Texture* tex = ui::gpuTextureRgba("white", 1, 1, &white, true);
  ASSERT_NE(tex, nullptr);
  ui::gpuBlit(tex, 4, 4, 5, 0.4, 1);
  ui::gpuBlitRotated(tex, 8, 8, 0.2, 6, 30, 1);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) ASSERT_EQ(t.pixel(x, y) & 0xFFFFFF, 0u) << x << "," << y;
  }

  ui::gpuSetScale(2);
  ui::gpuFillRect(1, 1, 2, 1.5, 0xFF8000, 1);  // physical (2, 2) to (6, 5)
  EXPECT_TRUE(near(t.pixel(2, 2), 255, 128, 0));
  EXPECT_TRUE(near(t.pixel(5, 4), 255, 128, 0));
  EXPECT_TRUE(near(t.pixel(6, 4), 0, 0, 0));
  EXPECT_TRUE(near(t.pixel(5, 5), 0, 0, 0));
  ui::gpuFillRect(4, 4, 2, 2, 0xFFFFFF, 0.5);
  EXPECT_TRUE(near(t.pixel(9, 9), 128, 128, 128));
}

TEST(Gpu, APictureWithinAPixelOfItsRectangleIsDrawnAtItsOwnSize) {
  SoftwareTarget t(40, 4);
  t.clear(0, 0, 0);
  const uint32_t px[] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF};
  SDL_Texture* tex = ui::gpuTextureRgba("row", 4, 1, px, false, true);
  ASSERT_NE(tex, nullptr);
  ui::gpuBlitPicture(tex, 10, 1, 5, 1, 1);  // one pixel wider: copied as it is, from x = 10
  for (int i = 0; i < 4; ++i) EXPECT_EQ(t.pixel(10 + i, 1) & 0xFFFFFF, px[i] & 0xFFFFFF) << i;
  EXPECT_EQ(t.pixel(14, 1) & 0xFFFFFF, 0u);
  ui::gpuBlitPicture(tex, 20, 1, 8, 1, 1);  // twice as wide: stretched over all of it
  EXPECT_NE(t.pixel(27, 1) & 0xFFFFFF, 0u);
  EXPECT_NE(t.pixel(21, 1) & 0xFFFFFF, px[1] & 0xFFFFFF);
  // What either way covers, on whole pixels, for drawing that must meet its edges.
  struct Asked {
    double x, w, coveredX, coveredW;
  };
  for (const Asked& a : {Asked{10.3, 4.6, 10, 4}, Asked{20.4, 7.7, 20, 8}}) {
    double x = a.x, y = 1.2, w = a.w, h = 0.9;
    ui::gpuPictureRect(tex, &x, &y, &w, &h);
    EXPECT_EQ(std::vector<double>({x, y, w, h}), std::vector<double>({a.coveredX, 1, a.coveredW, 1})) << a.x;
  }
}

// The scale quality asked for holds for the one texture only.
TEST(Gpu, CachedKeyKeepsItsPixelsAndIsReplacedAtAnotherSize) {
  SoftwareTarget t(8, 8);
  const std::vector<uint32_t> red(4, 0xFFFF0000), blue(9, 0xFF0000FF);

  SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "best");
  SDL_Texture* first = ui::gpuTextureRgba("photo", 2, 2, red.data(), false);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(ui::gpuCached("photo", 2, 2), first);
  SDL_ScaleMode mode = SDL_ScaleModeBest;
  ASSERT_EQ(SDL_GetTextureScaleMode(first, &mode), 0);
  EXPECT_EQ(mode, SDL_ScaleModeLinear);

  // Same key and size: the cached texture, not re-uploaded.
  EXPECT_EQ(ui::gpuTextureRgba("photo", 2, 2, std::vector<uint32_t>(4, 0xFF00FF00).data(), false), first);
  t.clear(0, 0, 0);
  ui::gpuBlit(first, 0, 0, 2, 2, 1);
  EXPECT_TRUE(near(t.pixel(1, 1), 255, 0, 0));

  // A new size replaces the texture under the same key.
  SDL_Texture* second = ui::gpuTextureRgba("photo", 3, 3, blue.data(), true);
  ASSERT_NE(second, nullptr);
  ASSERT_EQ(SDL_GetTextureScaleMode(second, &mode), 0);
  EXPECT_EQ(mode, SDL_ScaleModeNearest);
  EXPECT_STREQ(SDL_GetHint(SDL_HINT_RENDER_SCALE_QUALITY), "best");
  EXPECT_EQ(ui::gpuCachedCount(), 1u);
  EXPECT_EQ(ui::gpuCached("photo", 2, 2), nullptr);
  EXPECT_EQ(ui::gpuCached("photo", 3, 3), second);

  ui::gpuDrop("photo");
  EXPECT_EQ(ui::gpuCachedCount(), 0u);

  const uint32_t px = 0xFFFFFFFF;
  EXPECT_EQ(ui::gpuTextureRgba("bad", 0, 1, &px, false), nullptr);
  EXPECT_EQ(ui::gpuTextureRgba("bad", 1, 0, &px, false), nullptr);
  EXPECT_EQ(ui::gpuTextureRgba("bad", 1, 1, nullptr, false), nullptr);
  EXPECT_EQ(ui::gpuCachedCount(), 0u);
}

TEST(Gpu, MoreThan900TexturesEvictTheLeastRecentlyUsedThird) {
  SoftwareTarget t(4, 4);
  const uint32_t px = 0xFF808080;
  for (int i = 0; i <= 900; ++i) {
    ui::gpuBeginFrame();
    ASSERT_NE(ui::gpuTextureRgba(key(i), 1, 1, &px, false), nullptr);
  }
  // The ten oldest are used again and become the most recent.
  ui::gpuBeginFrame();
  for (int i = 0; i < 10; ++i) ASSERT_NE(ui::gpuCached(key(i), 1, 1), nullptr);

  ui::gpuBeginFrame();
  ASSERT_NE(ui::gpuTextureRgba("new", 1, 1, &px, false), nullptr);
  EXPECT_EQ(ui::gpuCachedCount(), 901u - 300u + 1u);
  for (int i = 0; i <= 900; ++i) EXPECT_EQ(ui::gpuCached(key(i), 1, 1) != nullptr, i < 10 || i >= 310) << i;

  ui::gpuShutdown();
  EXPECT_EQ(ui::gpuCachedCount(), 0u);
}

TEST(Gpu, PremultipliedTexturesComposeCorrectly) {
  SoftwareTarget t(32, 8);
  // Straight (255, 0, 128) at alpha 128, stored premultiplied.
  const std::vector<uint32_t> half(16, 0x80800040);
  const std::vector<uint32_t> opaque(16, 0xFFC86400);
  SDL_Texture* halfTex = ui::gpuTextureRgba("half", 4, 4, half.data(), false);
  SDL_Texture* opaqueTex = ui::gpuTextureRgba("opaque", 4, 4, opaque.data(), false);
  ASSERT_NE(halfTex, nullptr);
  ASSERT_NE(opaqueTex, nullptr);

  t.clear(0x20, 0x40, 0x60);
  ui::gpuBlit(halfTex, 0, 0, 8, 8, 1);
  ui::gpuBlit(halfTex, 8, 0, 8, 8, 0.5);
  ui::gpuBlit(opaqueTex, 16, 0, 8, 8, 0.5);
  ui::gpuBlit(opaqueTex, 24, 0, 8, 8, 0);

  // result = source + destination · (1 − source alpha), source faded first.
  const double keep = 1 - 128.0 / 255;
  EXPECT_TRUE(near(t.pixel(3, 3), 128 + 0x20 * keep, 0x40 * keep, 64 + 0x60 * keep));
  const double faded = 64.0 / 255;  // alpha 128 faded to half
  EXPECT_TRUE(near(t.pixel(11, 3), 64 + 0x20 * (1 - faded), 0x40 * (1 - faded), 32 + 0x60 * (1 - faded)));
  EXPECT_TRUE(near(t.pixel(19, 3), 0.5 * 200 + 0.5 * 0x20, 0.5 * 100 + 0.5 * 0x40, 0.5 * 0x60));
  EXPECT_TRUE(near(t.pixel(27, 3), 0x20, 0x40, 0x60));
}

TEST(Gpu, RotatedBlitTurnsClockwiseAboutTheCentre) {
  SoftwareTarget t(100, 100);
  // Left half red, right half blue.
  std::vector<uint32_t> px(8 * 4);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 8; ++x) px[static_cast<size_t>(y * 8 + x)] = x < 4 ? 0xFFFF0000 : 0xFF0000FF;
  }
  SDL_Texture* tex = ui::gpuTextureRgba("halves", 8, 4, px.data(), true);
  ASSERT_NE(tex, nullptr);
  t.clear(0, 0, 0);
  ui::gpuBlitRotated(tex, 50, 50, 40, 20, 90, 1);
  EXPECT_TRUE(near(t.pixel(50, 35), 255, 0, 0));  // the left half turned to the top
  EXPECT_TRUE(near(t.pixel(50, 65), 0, 0, 255));
  EXPECT_TRUE(near(t.pixel(33, 50), 0, 0, 0));    // 20 wide once turned
  EXPECT_TRUE(near(t.pixel(67, 50), 0, 0, 0));
}

// A video frame a frame: rewritten in place; opaque ones draw alike copied or blended.
TEST(Gpu, AFrameIsRewrittenInPlaceAndDrawsAsAnOpaqueTexture) {
  SoftwareTarget t(8, 8);
  // RGBA bytes; the alpha of a video frame is ignored.
  const std::vector<uint8_t> red{255, 0, 0, 9, 255, 0, 0, 9, 255, 0, 0, 9, 255, 0, 0, 9};
  const std::vector<uint8_t> green{0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0};
  SDL_Texture* first = ui::gpuReplaceFrame("video", 2, 2, red.data());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(ui::gpuReplaceFrame("video", 2, 2, green.data()), first);
  t.clear(0, 0, 255);
  ui::gpuBlit(first, 0, 0, 4, 4, 1);
  EXPECT_TRUE(near(t.pixel(1, 1), 0, 255, 0));
  ui::gpuBlit(first, 0, 0, 4, 4, 0.5);  // half of green over green
  EXPECT_TRUE(near(t.pixel(1, 1), 0, 255, 0));
  ui::gpuBlitRotated(first, 6, 6, 2, 2, 45, 1);  // the corners outside blend away
  EXPECT_TRUE(near(t.pixel(7, 4), 0, 0, 255));

  // A cached picture under the key, or another size, gives way to a new texture.
  const std::vector<uint32_t> words(4, 0xFFFF0000);
  ui::gpuDrop("video");
  ASSERT_NE(ui::gpuTextureRgba("video", 2, 2, words.data(), false, true), nullptr);
  SDL_Texture* redFrame = ui::gpuReplaceFrame("video", 2, 2, red.data());
  ASSERT_NE(redFrame, nullptr);
  ui::gpuBlit(redFrame, 0, 0, 4, 4, 1);
  EXPECT_TRUE(near(t.pixel(1, 1), 255, 0, 0));
  EXPECT_EQ(ui::gpuReplaceFrame("video", 0, 2, red.data()), nullptr);
  EXPECT_EQ(ui::gpuCached("video", 2, 2), nullptr);
}

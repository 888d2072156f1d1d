#include "ui/gpu.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "ui/sdl_guard.h"

namespace ui {

namespace {

// Beyond this many textures the least recently used third goes; a third at
// once keeps the sort rare while a scrolled filmstrip fills the cache.
constexpr size_t kMaxCachedTextures = 900;

struct Entry {
  TexturePtr texture;
  int w = 0;
  int h = 0;
  uint64_t lastUsed = 0;
};

struct State {
  SDL_Renderer* renderer = nullptr;
  double scale = 1.0;
  uint64_t frame = 0;
  std::map<std::string, Entry> textures;
  SDL_BlendMode blendMode = SDL_BLENDMODE_BLEND;
  uint32_t opaqueFormat = SDL_PIXELFORMAT_ARGB8888;
};

State& st() {
  static State state;
  return state;
}

SDL_BlendMode premultipliedMode() {
  return SDL_ComposeCustomBlendMode(SDL_BLENDFACTOR_ONE, SDL_BLENDFACTOR_ONE_MINUS_SRC_ALPHA,
                                    SDL_BLENDOPERATION_ADD, SDL_BLENDFACTOR_ONE,
                                    SDL_BLENDFACTOR_ONE_MINUS_SRC_ALPHA, SDL_BLENDOPERATION_ADD);
}

SDL_Rect physical(double x, double y, double w, double h) {
  const double s = st().scale;
  return SDL_Rect{static_cast<int>(std::lround(x * s)), static_cast<int>(std::lround(y * s)),
                  static_cast<int>(std::lround(w * s)), static_cast<int>(std::lround(h * s))};
}

void evictLeastRecentlyUsed() {
  State& s = st();
  std::vector<std::pair<uint64_t, std::string>> ages;
  ages.reserve(s.textures.size());
  for (const auto& [key, entry] : s.textures) ages.emplace_back(entry.lastUsed, key);
  const size_t n = ages.size();
  if (n < 3) return;
  std::sort(ages.begin(), ages.end());
  for (size_t i = 0; i < n / 3; ++i) s.textures.erase(ages[i].second);
}

// Creates an ARGB8888 texture (opaque ones: gpuOpaqueFormat) with the
// scale-quality hint set for this texture only; the hint is read when a
// texture is created, so the previous value is put back right after.
SDL_Texture* createTexture(int w, int h, bool nearest, bool opaque, int access = SDL_TEXTUREACCESS_STATIC) {
  const char* old = SDL_GetHint(SDL_HINT_RENDER_SCALE_QUALITY);
  const std::string previous = old ? old : "linear";  // copied: setting the hint frees the old text
  SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, nearest ? "0" : "1");
  const uint32_t format = opaque ? st().opaqueFormat : uint32_t{SDL_PIXELFORMAT_ARGB8888};
  SDL_Texture* t = SDL_CreateTexture(st().renderer, format, access, w, h);
  SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, previous.c_str());
  return t;
}

// un-premultiplied channel = kUnpremultiply[alpha][channel], rounded: a
// table lookup instead of three divisions per pixel (64 KiB, built once).
struct UnpremultiplyTable {
  uint8_t v[256][256];
  UnpremultiplyTable() {
    for (uint32_t a = 0; a < 256; ++a) {
      for (uint32_t c = 0; c < 256; ++c) {
        v[a][c] = a == 0 ? 0 : static_cast<uint8_t>(std::min<uint32_t>(255, (c * 255 + a / 2) / a));
      }
    }
  }
};

const UnpremultiplyTable& unpremultiplyTable() {
  static const UnpremultiplyTable table;
  return table;
}

// Uploads premultiplied pixels un-premultiplied, for renderers that can only
// blend straight alpha. Converts in bands of rows through a small buffer (a
// full-size copy would cost a fresh allocation per upload); opaque bands go
// up as they are.
bool uploadStraightAlpha(SDL_Texture* texture, int w, int h, const uint32_t* pixels) {
  constexpr int kBandRows = 32;  // 240 KiB of buffer at 1920 wide
  const UnpremultiplyTable& t = unpremultiplyTable();
  std::vector<uint32_t> band;
  for (int y = 0; y < h; y += kBandRows) {
    const int rows = std::min(kBandRows, h - y);
    const size_t n = static_cast<size_t>(rows) * static_cast<size_t>(w);
    const uint32_t* src = pixels + static_cast<size_t>(y) * static_cast<size_t>(w);
    const uint32_t* data = src;
    if (std::any_of(src, src + n, [](uint32_t p) { return p < 0xFF000000u; })) {
      band.resize(n);
      for (size_t i = 0; i < n; ++i) {
        const uint32_t p = src[i];
        const uint32_t a = p >> 24;
        const uint8_t* un = t.v[a];
        band[i] = a == 0xFF ? p
                            : a << 24 | uint32_t{un[(p >> 16) & 0xFF]} << 16 | uint32_t{un[(p >> 8) & 0xFF]} << 8 |
                                  un[p & 0xFF];
      }
      data = band.data();
    }
    const SDL_Rect rect{0, y, w, rows};
    if (SDL_UpdateTexture(texture, &rect, data, w * 4) != 0) return false;
  }
  return true;
}

// Marks an opaque texture (its user data points here): drawn unfaded it
// needs no blending, which a software renderer otherwise does per pixel.
const char kOpaqueMark = 0;

// Puts pixels into a texture of the same size: opaque pixels go up as they
// are (straight and premultiplied agree), others as the texture's blend mode
// wants.
bool upload(SDL_Texture* texture, int w, int h, const uint32_t* pixels, bool opaque) {
  SDL_BlendMode mode = SDL_BLENDMODE_BLEND;
  SDL_GetTextureBlendMode(texture, &mode);
  const bool straight = !opaque && mode == SDL_BLENDMODE_BLEND;
  return straight ? uploadStraightAlpha(texture, w, h, pixels)
                  : SDL_UpdateTexture(texture, nullptr, pixels, w * 4) == 0;
}

// Fading a premultiplied texture scales its colour with its alpha; a texture
// blended with straight alpha is faded by the alpha modulation alone. An
// opaque texture drawn unfaded and upright is copied without blending (turned,
// its corners outside the picture must still blend away).
void setFade(SDL_Texture* texture, double alpha, bool upright) {
  const Uint8 a = gpuAlphaByte(alpha);
  if (SDL_GetTextureUserData(texture) == &kOpaqueMark) {
    const bool copy = a == 255 && upright;
    if (SDL_SetTextureBlendMode(texture, copy ? SDL_BLENDMODE_NONE : st().blendMode) != 0) {
      SDL_SetTextureBlendMode(texture, SDL_BLENDMODE_BLEND);
    }
  }
  SDL_BlendMode mode = SDL_BLENDMODE_BLEND;
  SDL_GetTextureBlendMode(texture, &mode);
  const Uint8 c = mode == SDL_BLENDMODE_BLEND ? 255 : a;
  SDL_SetTextureAlphaMod(texture, a);
  SDL_SetTextureColorMod(texture, c, c, c);
}

// The cache's blend mode, and the opaque mark where it applies.
void adopt(SDL_Texture* texture, bool opaque) {
  if (SDL_SetTextureBlendMode(texture, st().blendMode) != 0) SDL_SetTextureBlendMode(texture, SDL_BLENDMODE_BLEND);
  if (opaque) SDL_SetTextureUserData(texture, const_cast<char*>(&kOpaqueMark));
}

// Opaque ARGB words of n RGBA pixels; the loop vectorises.
void opaqueWords(const uint8_t* p, uint32_t* out, int n) {
  for (int k = 0; k < n; ++k, p += 4) out[k] = 0xFF000000u | uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
}

}  // namespace

void gpuInit(SDL_Renderer* renderer) {
  gpuShutdown();
  State& s = st();
  s.renderer = renderer;
  s.blendMode = premultipliedMode();
  s.opaqueFormat = gpuOpaqueFormat(renderer);
  if (!renderer) return;
  TexturePtr probe(SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STATIC, 1, 1));
  if (probe && SDL_SetTextureBlendMode(probe.get(), s.blendMode) != 0) {
    std::fputs("[gpu] kein vormultipliziertes Mischen — nehme das normale\n", stderr);
    s.blendMode = SDL_BLENDMODE_BLEND;
  }
}

uint32_t gpuOpaqueFormat(SDL_Renderer* renderer) {
  SDL_RendererInfo info{};
  SDL_Window* window = renderer ? SDL_RenderGetWindow(renderer) : nullptr;
  // XRGB words hold the same bytes as opaque ARGB ones.
  if (window && SDL_GetRendererInfo(renderer, &info) == 0 && (info.flags & SDL_RENDERER_SOFTWARE) &&
      SDL_GetWindowPixelFormat(window) == SDL_PIXELFORMAT_RGB888) {
    return SDL_PIXELFORMAT_RGB888;
  }
  return SDL_PIXELFORMAT_ARGB8888;
}

void gpuShutdown() {
  State& s = st();
  s.textures.clear();
  s.renderer = nullptr;
}

void gpuBeginFrame() { ++st().frame; }

void gpuSetScale(double s) { st().scale = s > 0 ? s : 1.0; }

double gpuScale() { return st().scale; }

SDL_Texture* gpuCached(const std::string& key, int w, int h) {
  State& s = st();
  auto it = s.textures.find(key);
  if (it == s.textures.end() || it->second.w != w || it->second.h != h) return nullptr;
  it->second.lastUsed = s.frame;
  return it->second.texture.get();
}

void gpuDrop(const std::string& key) { st().textures.erase(key); }

SDL_Texture* gpuTextureRgba(const std::string& key, int w, int h, const uint32_t* pixels, bool nearest,
                            bool opaque) {
  State& s = st();
  if (!s.renderer || w < 1 || h < 1 || !pixels) return nullptr;
  auto it = s.textures.find(key);
  if (it != s.textures.end()) {
    if (it->second.w == w && it->second.h == h) {
      it->second.lastUsed = s.frame;
      return it->second.texture.get();
    }
    s.textures.erase(it);
  }
  if (s.textures.size() > kMaxCachedTextures) evictLeastRecentlyUsed();

  TexturePtr texture(createTexture(w, h, nearest, opaque));
  if (!texture) return nullptr;
  adopt(texture.get(), opaque);
  if (!upload(texture.get(), w, h, pixels, opaque)) return nullptr;

  SDL_Texture* raw = texture.get();
  s.textures[key] = Entry{std::move(texture), w, h, s.frame};
  return raw;
}

SDL_Texture* gpuReplaceFrame(const std::string& key, int w, int h, const uint8_t* rgba) {
  State& s = st();
  if (!s.renderer || w < 1 || h < 1 || !rgba) {
    gpuDrop(key);
    return nullptr;
  }
  auto it = s.textures.find(key);
  int access = -1;
  if (it != s.textures.end() && it->second.w == w && it->second.h == h) {
    SDL_QueryTexture(it->second.texture.get(), nullptr, &access, nullptr, nullptr);
  }
  if (access != SDL_TEXTUREACCESS_STREAMING) {
    gpuDrop(key);
    if (s.textures.size() > kMaxCachedTextures) evictLeastRecentlyUsed();
    TexturePtr texture(createTexture(w, h, false, true, SDL_TEXTUREACCESS_STREAMING));
    if (!texture) return nullptr;
    adopt(texture.get(), true);
    it = s.textures.emplace(key, Entry{std::move(texture), w, h, s.frame}).first;
  }
  it->second.lastUsed = s.frame;
  SDL_Texture* t = it->second.texture.get();
  void* pixels = nullptr;
  int pitch = 0;
  if (SDL_LockTexture(t, nullptr, &pixels, &pitch) != 0) {
    s.textures.erase(it);
    return nullptr;
  }
  for (int y = 0; y < h; ++y) {
    opaqueWords(rgba + static_cast<size_t>(y) * w * 4,
                reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(pixels) + static_cast<size_t>(y) * pitch), w);
  }
  SDL_UnlockTexture(t);
  return t;
}

void gpuFillRect(double x, double y, double w, double h, uint32_t color, double alpha) {
  SDL_Renderer* r = st().renderer;
  if (!r || !(w > 0) || !(h > 0)) return;
  const SDL_Rect rect = physical(x, y, w, h);
  if (rect.w <= 0 || rect.h <= 0) return;  // some renderers widen empty rectangles to one pixel
  // An opaque fill replaces: a software renderer then fills rows instead of
  // blending each pixel.
  const Uint8 a = gpuAlphaByte(alpha);
  SDL_SetRenderDrawBlendMode(r, a == 255 ? SDL_BLENDMODE_NONE : SDL_BLENDMODE_BLEND);
  SDL_SetRenderDrawColor(r, (color >> 16) & 0xFF, (color >> 8) & 0xFF, color & 0xFF, a);
  SDL_RenderFillRect(r, &rect);
}

void gpuBlit(SDL_Texture* texture, double x, double y, double w, double h, double alpha) {
  SDL_Renderer* r = st().renderer;
  if (!r || !texture) return;
  const SDL_Rect dst = physical(x, y, w, h);
  if (dst.w <= 0 || dst.h <= 0) return;
  setFade(texture, alpha, true);
  SDL_RenderCopy(r, texture, nullptr, &dst);
}

void gpuPictureRect(SDL_Texture* texture, double* x, double* y, double* w, double* h) {
  const SDL_Rect dst = physical(*x, *y, *w, *h);
  const double s = st().scale;
  int tw = 0, th = 0;
  if (texture && dst.w > 0 && dst.h > 0 && SDL_QueryTexture(texture, nullptr, nullptr, &tw, &th) == 0 &&
      std::abs(dst.w - tw) <= 1 && std::abs(dst.h - th) <= 1) {
    *x = (dst.x + (dst.w - tw) / 2) / s;
    *y = (dst.y + (dst.h - th) / 2) / s;
    *w = tw / s;
    *h = th / s;
    return;
  }
  *x = dst.x / s;
  *y = dst.y / s;
  *w = dst.w / s;
  *h = dst.h / s;
}

void gpuBlitPicture(SDL_Texture* texture, double x, double y, double w, double h, double alpha) {
  gpuPictureRect(texture, &x, &y, &w, &h);
  gpuBlit(texture, x, y, w, h, alpha);
}

void gpuBlitRotated(SDL_Texture* texture, double cx, double cy, double w, double h, double degrees,
                    double alpha) {
  SDL_Renderer* r = st().renderer;
  if (!r || !texture) return;
  const SDL_Rect dst = physical(cx - w / 2, cy - h / 2, w, h);
  if (dst.w <= 0 || dst.h <= 0) return;
  setFade(texture, alpha, false);
  SDL_RenderCopyEx(r, texture, nullptr, &dst, degrees, nullptr, SDL_FLIP_NONE);
}

uint8_t gpuAlphaByte(double alpha) {
  if (!(alpha > 0)) return 0;  // NaN too
  if (alpha > 1) return 255;
  return static_cast<uint8_t>(static_cast<int>(alpha * 255 + 0.5));
}

size_t gpuCachedCount() { return st().textures.size(); }

bool gpuPremultipliedBlend() { return st().renderer && st().blendMode != SDL_BLENDMODE_BLEND; }

}  // namespace ui

#include "ui/overlay.h"

#include <algorithm>


namespace ui {

namespace {

constexpr int kTile = kOverlayTile;

// ANDs and ORs n pixels into the running values (alpha is the top byte).
inline void fold(const uint32_t* p, int n, uint32_t* all, uint32_t* any) {
  uint32_t a = *all;
  uint32_t o = *any;
  if (n == kTile) {
    for (int x = 0; x < kTile; ++x) {  // a fixed count, so the loop vectorises
      a &= p[x];
      o |= p[x];
    }
  } else {
    for (int x = 0; x < n; ++x) {
      a &= p[x];
      o |= p[x];
    }
  }
  *all = a;
  *any = o;
}

SDL_BlendMode premultipliedBlend() {
  return SDL_ComposeCustomBlendMode(SDL_BLENDFACTOR_ONE, SDL_BLENDFACTOR_ONE_MINUS_SRC_ALPHA,
                                    SDL_BLENDOPERATION_ADD, SDL_BLENDFACTOR_ONE,
                                    SDL_BLENDFACTOR_ONE_MINUS_SRC_ALPHA, SDL_BLENDOPERATION_ADD);
}

// Whether cairo can draw into target's pixels as RGB24 (X11 screens are
// XRGB8888) over at least w × h of them.
bool drawableByCairo(const SDL_Surface* target, int w, int h) {
  const SDL_PixelFormat* f = target->format;
  return target->w >= w && target->h >= h && f->BytesPerPixel == 4 && f->Rmask == 0xFF0000u &&
         f->Gmask == 0xFF00u && f->Bmask == 0xFFu && target->pitch % 4 == 0;
}

// Calls f(kind, x, y, w, h) for each run of same-kind, non-clear tiles in a row of tiles.
template <typename F>
void forEachRun(const std::vector<TileKind>& kinds, int w, int h, F f) {
  const int cols = (w + kTile - 1) / kTile;
  const int rows = (h + kTile - 1) / kTile;
  for (int ty = 0; ty < rows; ++ty) {
    const TileKind* band = kinds.data() + static_cast<size_t>(ty) * cols;
    const int y0 = ty * kTile;
    const int bh = std::min(kTile, h - y0);
    for (int tx = 0; tx < cols;) {
      const TileKind kind = band[tx];
      int end = tx + 1;
      while (end < cols && band[end] == kind) ++end;
      if (kind != TileKind::Clear) f(kind, tx * kTile, y0, std::min(w, end * kTile) - tx * kTile, bh);
      tx = end;
    }
  }
}

TileKind kindOf(uint32_t all, uint32_t any) {
  if ((all >> 24) == 0xFF) return TileKind::Opaque;
  if ((any >> 24) == 0) return TileKind::Clear;
  return TileKind::Mixed;
}

}  // namespace

void classifyTiles(const uint8_t* pixels, int stride, int w, int h, std::vector<TileKind>* kinds) {
  const int cols = (std::max(w, 0) + kTile - 1) / kTile;
  const int rows = (std::max(h, 0) + kTile - 1) / kTile;
  kinds->assign(static_cast<size_t>(cols) * rows, TileKind::Mixed);
  std::vector<uint32_t> all(cols);
  std::vector<uint32_t> any(cols);
  for (int ty = 0; ty < rows; ++ty) {
    std::fill(all.begin(), all.end(), 0xFFFFFFFFu);
    std::fill(any.begin(), any.end(), 0u);
    const int y1 = std::min(h, (ty + 1) * kTile);
    for (int y = ty * kTile; y < y1; ++y) {
      const auto* row = reinterpret_cast<const uint32_t*>(pixels + static_cast<size_t>(y) * stride);
      for (int tx = 0; tx < cols; ++tx) {
        const int x0 = tx * kTile;
        fold(row + x0, std::min(kTile, w - x0), &all[tx], &any[tx]);
      }
    }
    for (int tx = 0; tx < cols; ++tx) (*kinds)[static_cast<size_t>(ty) * cols + tx] = kindOf(all[tx], any[tx]);
  }
}

bool Overlay::ensure(int w, int h) {
  if (w == w_ && h == h_ && surface_) return true;
  reset();
  if (w <= 0 || h <= 0) return false;
  surface_.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
  if (cairo_surface_status(surface_.get()) != CAIRO_STATUS_SUCCESS) {
    reset();
    return false;
  }
  w_ = w;
  h_ = h;
  return true;
}

void Overlay::reset() {
  texture_.reset();
  surface_.reset();
  kinds_.clear();
  w_ = 0;
  h_ = 0;
}

void Overlay::clear() {
  if (!surface_) return;
  cairo_surface_flush(surface_.get());
  uint8_t* px = cairo_image_surface_get_data(surface_.get());
  const int stride = cairo_image_surface_get_stride(surface_.get());
  const int cols = (w_ + kTile - 1) / kTile;
  const int rows = (h_ + kTile - 1) / kTile;
  if (!composed_ || kinds_.size() != static_cast<size_t>(cols) * rows) {
    std::fill(px, px + static_cast<size_t>(stride) * h_, uint8_t{0});
  } else {
    // Tiles the last compose found clear are still clear: nothing drew since.
    forEachRun(kinds_, w_, h_, [&](TileKind, int x, int y, int w, int h) {
      for (int row = y; row < y + h; ++row) {
        std::fill_n(px + static_cast<size_t>(row) * stride + static_cast<size_t>(x) * 4, static_cast<size_t>(w) * 4,
                    uint8_t{0});
      }
    });
  }
  cairo_surface_mark_dirty(surface_.get());
  composed_ = false;
}

void Overlay::compose(SDL_Renderer* renderer, SDL_Surface* target) {
  if (!surface_) return;
  cairo_surface_flush(surface_.get());
  classifyTiles(cairo_image_surface_get_data(surface_.get()), cairo_image_surface_get_stride(surface_.get()), w_, h_,
                &kinds_);
  composed_ = true;
  if (target && drawableByCairo(target, w_, h_)) {
    SDL_RenderFlush(renderer);  // what the renderer queued lies below the interface
    composeOnto(target);
  } else {
    composeAsTexture(renderer);
  }
}

// Opaque runs are copied and the rest drawn over by cairo itself, so the
// result is cairo's own premultiplied blend, exact to the last bit.
void Overlay::composeOnto(SDL_Surface* target) {
  if (SDL_MUSTLOCK(target) && SDL_LockSurface(target) != 0) return;
  SurfacePtr frame(cairo_image_surface_create_for_data(static_cast<unsigned char*>(target->pixels),
                                                       CAIRO_FORMAT_RGB24, w_, h_, target->pitch));
  CairoPtr cr(cairo_create(frame.get()));
  cairo_set_source_surface(cr.get(), surface_.get(), 0, 0);
  for (TileKind pass : {TileKind::Opaque, TileKind::Mixed}) {
    forEachRun(kinds_, w_, h_, [&](TileKind kind, int x, int y, int w, int h) {
      if (kind == pass) cairo_rectangle(cr.get(), x, y, w, h);
    });
    cairo_set_operator(cr.get(), pass == TileKind::Opaque ? CAIRO_OPERATOR_SOURCE : CAIRO_OPERATOR_OVER);
    cairo_fill(cr.get());
  }
  cr.reset();
  frame.reset();
  if (SDL_MUSTLOCK(target)) SDL_UnlockSurface(target);
}

// Runs of one kind go up in one copy each: opaque ones replace, mixed ones blend.
void Overlay::composeAsTexture(SDL_Renderer* renderer) {
  if (!texture_) {
    texture_.reset(SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, w_, h_));
    if (!texture_) return;
    // cairo's pixels are premultiplied; SDL's plain blend would darken every
    // half-covered pixel once more. Renderers without the custom mode get it.
    blend_ = SDL_SetTextureBlendMode(texture_.get(), premultipliedBlend()) == 0 ? premultipliedBlend()
                                                                              : SDL_BLENDMODE_BLEND;
  }
  const uint8_t* px = cairo_image_surface_get_data(surface_.get());
  const int stride = cairo_image_surface_get_stride(surface_.get());
  forEachRun(kinds_, w_, h_, [&](TileKind kind, int x, int y, int w, int h) {
    const SDL_Rect r{x, y, w, h};
    SDL_UpdateTexture(texture_.get(), &r, px + static_cast<size_t>(y) * stride + x * 4, stride);
    SDL_SetTextureBlendMode(texture_.get(), kind == TileKind::Opaque ? SDL_BLENDMODE_NONE : blend_);
    SDL_RenderCopy(renderer, texture_.get(), &r, &r);
  });
}

}  // namespace ui

#include "ui/overlay.h"

#include <algorithm>

#include "ui/gpu.h"

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

bool Overlay::ensure(SDL_Renderer* renderer, int w, int h) {
  if (w == w_ && h == h_ && surface_ && texture_) return true;
  reset();
  if (w <= 0 || h <= 0) return false;
  surface_.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
  texture_.reset(SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, w, h));
  const uint32_t opaqueFormat = gpuOpaqueFormat(renderer);
  if (opaqueFormat != SDL_PIXELFORMAT_ARGB8888) {
    opaqueTexture_.reset(SDL_CreateTexture(renderer, opaqueFormat, SDL_TEXTUREACCESS_STREAMING, w, h));
    if (opaqueTexture_) SDL_SetTextureBlendMode(opaqueTexture_.get(), SDL_BLENDMODE_NONE);
  }
  if (cairo_surface_status(surface_.get()) != CAIRO_STATUS_SUCCESS || !texture_) {
    reset();
    return false;
  }
  w_ = w;
  h_ = h;
  return true;
}

void Overlay::reset() {
  opaqueTexture_.reset();
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
    for (int ty = 0; ty < rows; ++ty) {
      const TileKind* band = kinds_.data() + static_cast<size_t>(ty) * cols;
      const int y1 = std::min(h_, (ty + 1) * kTile);
      for (int tx = 0; tx < cols;) {
        if (band[tx] == TileKind::Clear) {
          ++tx;
          continue;
        }
        int end = tx + 1;
        while (end < cols && band[end] != TileKind::Clear) ++end;
        const int x0 = tx * kTile;
        const size_t bytes = static_cast<size_t>(std::min(w_, end * kTile) - x0) * 4;
        for (int y = ty * kTile; y < y1; ++y) {
          std::fill_n(px + static_cast<size_t>(y) * stride + x0 * 4, bytes, uint8_t{0});
        }
        tx = end;
      }
    }
  }
  cairo_surface_mark_dirty(surface_.get());
  composed_ = false;
}

void Overlay::compose(SDL_Renderer* renderer) {
  if (!surface_ || !texture_) return;
  cairo_surface_flush(surface_.get());
  const uint8_t* px = cairo_image_surface_get_data(surface_.get());
  const int stride = cairo_image_surface_get_stride(surface_.get());
  classifyTiles(px, stride, w_, h_, &kinds_);
  composed_ = true;
  const int cols = (w_ + kTile - 1) / kTile;
  const int rows = (h_ + kTile - 1) / kTile;
  for (int ty = 0; ty < rows; ++ty) {
    const TileKind* band = kinds_.data() + static_cast<size_t>(ty) * cols;
    const int y0 = ty * kTile;
    const int bh = std::min(kTile, h_ - y0);
    // Runs of one kind go in one copy: opaque ones replace, mixed ones blend.
    for (int tx = 0; tx < cols;) {
      const TileKind kind = band[tx];
      int end = tx + 1;
      while (end < cols && band[end] == kind) ++end;
      if (kind != TileKind::Clear) {
        const SDL_Rect r{tx * kTile, y0, std::min(w_, end * kTile) - tx * kTile, bh};
        SDL_Texture* t = kind == TileKind::Opaque && opaqueTexture_ ? opaqueTexture_.get() : texture_.get();
        SDL_UpdateTexture(t, &r, px + static_cast<size_t>(y0) * stride + r.x * 4, stride);
        if (t == texture_.get()) {
          SDL_SetTextureBlendMode(t, kind == TileKind::Opaque ? SDL_BLENDMODE_NONE : SDL_BLENDMODE_BLEND);
        }
        SDL_RenderCopy(renderer, t, &r, &r);
      }
      tx = end;
    }
  }
}

}  // namespace ui

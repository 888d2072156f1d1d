// overlay: the cairo-drawn interface laid over what the renderer drew below it.
//
// Each frame the interface is drawn into one window-sized ARGB32 picture,
// which is then composed over the video and textures. Without a graphics card
// composing is the frame's largest cost, so the picture is looked at in tiles:
// tiles wholly see-through are left out, wholly opaque ones are copied without
// blending, only the rest are blended. The result is the same as blending the
// whole picture. Main thread only (the renderer's thread).
#pragma once

#include <cstdint>
#include <vector>

#include "ui/cairo_guard.h"
#include "ui/sdl_guard.h"

namespace ui {

// What a tile of the picture holds.
enum class TileKind : uint8_t { Clear, Opaque, Mixed };

// Sorts each kTileSize × kTileSize tile of a premultiplied ARGB32 picture
// (row-major, tiles across first; edge tiles are smaller). kinds is resized.
inline constexpr int kOverlayTile = 64;  // about 500 tiles at 1080p: sorting costs well under a blend
void classifyTiles(const uint8_t* pixels, int stride, int w, int h, std::vector<TileKind>* kinds);

class Overlay {
 public:
  // (Re)creates the picture and its texture for an output of w × h pixels;
  // false (and nothing held) when w or h is not positive or either fails.
  bool ensure(SDL_Renderer* renderer, int w, int h);
  // Frees both (before the renderer is destroyed).
  void reset();
  // The picture to draw the interface into; null before ensure succeeds.
  cairo_surface_t* surface() const { return surface_.get(); }
  // Makes the picture see-through for a new frame. After a compose only the
  // tiles it found drawn on are cleared; otherwise the whole picture.
  void clear();
  // Uploads the picture's non-clear tiles and draws them over the frame.
  void compose(SDL_Renderer* renderer);

 private:
  SurfacePtr surface_;
  TexturePtr texture_;        // mixed tiles (and opaque ones without the next)
  TexturePtr opaqueTexture_;  // opaque tiles, in the window's format (see gpuOpaqueFormat)
  int w_ = 0;
  int h_ = 0;
  std::vector<TileKind> kinds_;
  bool composed_ = false;  // kinds_ describe the picture as it is
};

}  // namespace ui

// overlay: the cairo-drawn interface laid over what the renderer drew below it.
//
// Each frame the interface is drawn into one window-sized ARGB32 picture,
// which is then composed over the video and textures. Without a graphics card
// composing is the frame's largest cost, so the picture is looked at in tiles:
// tiles wholly see-through are left out, wholly opaque ones are copied without
// blending, only the rest are blended. The result is the same as drawing the
// whole picture over the frame with cairo (premultiplied alpha). Main thread
// only (the renderer's thread).
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
  // (Re)creates the picture for an output of w × h pixels; false (and
  // nothing held) when w or h is not positive or memory runs out.
  bool ensure(int w, int h);
  // Frees the picture and the texture, if any (before the renderer is destroyed).
  void reset();
  // The picture to draw the interface into; null before ensure succeeds.
  cairo_surface_t* surface() const { return surface_.get(); }
  // Makes the picture see-through for a new frame. After a compose only the
  // tiles it found drawn on are cleared; otherwise the whole picture.
  void clear();
  // Draws the picture's non-clear tiles over the frame. target is the
  // surface SDL's software renderer draws into (a window's own surface, or
  // the one it was made on): the renderer is flushed and the tiles are drawn
  // straight into its pixels, sparing an upload and SDL's blending.
  // Without one they go up as a texture the renderer blends, made on first use.
  void compose(SDL_Renderer* renderer, SDL_Surface* target = nullptr);

 private:
  void composeOnto(SDL_Surface* target);
  void composeAsTexture(SDL_Renderer* renderer);

  SurfacePtr surface_;
  TexturePtr texture_;  // only without a target
  SDL_BlendMode blend_ = SDL_BLENDMODE_BLEND;  // the premultiplied mode where the renderer has it
  int w_ = 0;
  int h_ = 0;
  std::vector<TileKind> kinds_;
  bool composed_ = false;  // kinds_ describe the picture as it is
};

}  // namespace ui

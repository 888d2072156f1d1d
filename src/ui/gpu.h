// gpu: the texture layer drawn on the renderer below the interface.
//
// Large pictures (the image being edited, video frames, filmstrip stills) are
// uploaded once as SDL textures under a caller-chosen key and drawn by the
// renderer; the cairo-drawn interface is composed over them at the end of the
// frame. Textures hold premultiplied ARGB8888 pixels. The cache keeps at most
// about 900 of them and drops the least recently used third beyond that.
//
// Coordinates of the drawing operations are logical pixels; angles are
// degrees clockwise. Every operation does nothing before gpuInit and after
// gpuShutdown. Main thread only: SDL textures belong to the renderer's thread,
// so workers hand their pixels to the main thread, which uploads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct SDL_Renderer;
struct SDL_Texture;

namespace ui {

// --- Life cycle --------------------------------------------------------------
// Drops everything, adopts the renderer (after it is created) and picks the
// premultiplied blend mode, or the normal one where the renderer lacks it.
void gpuInit(SDL_Renderer* renderer);
// Destroys every cached texture and forgets the renderer (before the renderer
// is destroyed).
void gpuShutdown();
// Once per frame, before the screens draw: textures touched from now on count
// as used in the new frame.
void gpuBeginFrame();
// The pixel format opaque textures are made in: the window's own XRGB8888
// when SDL's software renderer draws into it (copies then need no conversion
// per pixel), ARGB8888 otherwise. Uploads take ARGB words either way.
uint32_t gpuOpaqueFormat(SDL_Renderer* renderer);
// Physical pixels per logical pixel; 0 or less stores 1.
void gpuSetScale(double s);
double gpuScale();

// --- Texture cache -------------------------------------------------------------
// The texture cached under key when it has exactly w × h pixels (marking it
// used in this frame); null otherwise. Never uploads anything.
SDL_Texture* gpuCached(const std::string& key, int w, int h);
// Destroys and forgets the key's texture, if any.
void gpuDrop(const std::string& key);
// The texture for key at w × h, uploading pixels (premultiplied ARGB8888
// words, w·h of them, rows without padding) only when the key is not cached
// at that size; a cached texture of another size is replaced. Pixels that
// change need a new key or gpuDrop. nearest picks nearest-neighbour sampling
// for this texture instead of linear; opaque promises every alpha is 255, so
// unfaded draws skip blending. Null when w or h is below 1, pixels is null or
// SDL cannot create the texture; nothing is cached then.
SDL_Texture* gpuTextureRgba(const std::string& key, int w, int h, const uint32_t* pixels, bool nearest,
                            bool opaque = false);
// A video frame: RGBA bytes (w·h·4, rows without padding, alpha ignored)
// converted straight into the key's streaming texture, which is made when
// missing or of another size and rewritten in place after: no allocation and
// no copy in between. Null (and the key dropped) when w or h is below 1, rgba
// is null or SDL cannot make or lock the texture.
SDL_Texture* gpuReplaceFrame(const std::string& key, int w, int h, const uint8_t* rgba);

// --- Drawing on the renderer (logical pixels) -----------------------------------
// Filled rectangle of 0xRRGGBB at alpha; nothing when w or h is not positive.
void gpuFillRect(double x, double y, double w, double h, uint32_t color, double alpha);
// The whole texture stretched into the rectangle, faded by alpha.
void gpuBlit(SDL_Texture* texture, double x, double y, double w, double h, double alpha);
// As gpuBlit, but a texture within a physical pixel of the rectangle's size is
// drawn at its own size, centred: a plain copy where a renderer without a
// graphics card would resample every pixel. For a picture on its own, where
// no neighbour shows the pixel row left over.
void gpuBlitPicture(SDL_Texture* texture, double x, double y, double w, double h, double alpha);
// The rectangle gpuBlitPicture covers when asked for (x, y, w, h), written
// back: whole physical pixels, so what is drawn over the picture (a crop
// frame, its dimming, a fade) can meet its edges exactly.
void gpuPictureRect(SDL_Texture* texture, double* x, double* y, double* w, double* h);
// w × h centred on (cx, cy), rotated clockwise by degrees about its centre.
void gpuBlitRotated(SDL_Texture* texture, double cx, double cy, double w, double h, double degrees,
                    double alpha);

// --- Inspection (tests, diagnostics) ------------------------------------------
// An alpha in [0, 1] as a byte: below 0 gives 0, above 1 gives 255, else
// (int)(alpha·255 + 0.5).
uint8_t gpuAlphaByte(double alpha);
// Number of cached textures.
size_t gpuCachedCount();
// Whether textures are blended with the premultiplied mode (false: the
// renderer lacks it, and textures are uploaded with straight alpha instead).
bool gpuPremultipliedBlend();

}  // namespace ui

// image: the RGBA picture every still in the program is held in, and the pure
// operations the edit sheets use (scale, crop, fit, flip/turn, free rotation,
// colour and detail adjustments).
//
// All functions are thread-safe (no shared state) and never throw; an invalid
// input (or one whose buffer is shorter than its rows) yields an empty image,
// as does running out of memory. Results are exact and deterministic whatever
// the number of threads used inside: large images are processed in row bands
// on the shared worker pool (media/parallel.h), and the calls block until done.
// Overloads taking Image&& give the same result but may reuse the source's
// buffer instead of copying it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace media {

// 8-bit RGBA, rows top to bottom, stride width * 4, no row padding. The buffer
// holds 128 zero bytes past the last row for the scaler's wide loads/stores.
struct Image {
  int32_t width = 0;
  int32_t height = 0;
  bool hasAlpha = false;
  std::vector<uint8_t> pixels;

  // Zero-filled (transparent black) image with the tail margin.
  static Image create(int width, int height, bool hasAlpha);

  bool valid() const { return width > 0 && height > 0 && !pixels.empty(); }
  uint8_t* row(int y) { return pixels.data() + static_cast<size_t>(y) * width * 4; }
  const uint8_t* row(int y) const { return pixels.data() + static_cast<size_t>(y) * width * 4; }
};

// A copy of img, its buffer faulted in on all threads first (large pictures
// cost mostly the kernel's clearing of fresh pages); empty for an image
// without its rows or when memory runs out.
Image copyOf(const Image& img);

// Bytes past the last row that every buffer carries.
inline constexpr int kImageTailMargin = 128;

enum class FitMode : int { Cover = 0, Contain = 1, Stretch = 2 };
enum class PadMode : int { Black = 0, White = 1, Blur = 2 };
enum class TransformOp : int { FlipH = 0, FlipV = 1, RotateCW = 2, Rotate180 = 3, RotateCCW = 4 };

// Slider values in -100 … +100; 0 means no change.
struct Adjust {
  double brightness = 0;
  double contrast = 0;
  double saturation = 0;
  double warmth = 0;
  double clarity = 0;
  double sharpness = 0;
};

struct Size {
  int width = 0;
  int height = 0;
};

// --- Scaling and fitting ---------------------------------------------------
// Resample to exactly w × h (Lanczos when shrinking, bicubic otherwise).
Image scaleExact(const Image& src, int w, int h);
// Shrink so the longer side equals longEdge; never enlarges (copy instead).
Image resizeLongEdge(const Image& src, int longEdge);
Image resizeLongEdge(Image&& src, int longEdge);
// A quick reduction for previews: whole blocks of pixels averaged down to
// about twice longEdge, then resizeLongEdge. Never enlarges.
Image previewLongEdge(const Image& src, int longEdge);
// Averages factor × factor blocks (partial blocks at the right and bottom
// edges over what they hold); a copy for factor ≤ 1.
Image shrinkByBlocks(const Image& src, int factor);
// Copy a rectangle; origins outside the image are clamped.
Image cropTo(const Image& src, int x, int y, int w, int h);
Image cropTo(Image&& src, int x, int y, int w, int h);
// Bring to exactly w × h by cover, contain (with a border) or stretch.
Image resizeTo(const Image& src, int w, int h, FitMode fit, PadMode pad);

// --- Geometry --------------------------------------------------------------
// Lossless flip or quarter turn (flips and half turns work in place on an rvalue).
Image transform(const Image& src, TransformOp op);
Image transform(Image&& src, TransformOp op);
// Free rotation, clockwise for positive angles, cropped to the inner rectangle;
// a non-finite angle yields an empty image.
Image rotate(const Image& src, double degrees);
Image rotate(Image&& src, double degrees);
// Largest axis-aligned rectangle inside a w × h image rotated by degrees;
// (0, 0) when w or h is below 1 or the angle is not finite.
Size insideCrop(int w, int h, double degrees);

// --- Colour and detail -----------------------------------------------------
// Brightness, contrast, saturation, warmth, then clarity and sharpness; in place.
// A slider value that is not a finite number counts as 0.
void applyAdjust(Image& img, const Adjust& a);
// applyAdjust's result as a new image, src untouched: one pass over the picture
// for colour, clarity and sharpness together, cheaper than copying first.
Image adjusted(const Image& src, const Adjust& a);
// Luminance unsharp mask with a box blur of the given radius; in place. Needs
// one working plane of width × height bytes. (applyAdjust and adjusted need
// a new image for the result instead, and no plane.)
void unsharpLuma(Image& img, int radius, double amount);

}  // namespace media

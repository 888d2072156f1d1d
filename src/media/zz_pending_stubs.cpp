// TEMPORARY, never committed: stand-ins until image-ops and platform-core land.
#include <cstdio>
#include "media/image.h"
#include "platform/log.h"
namespace media {
Image Image::create(int w, int h, bool a) {
  Image i; if (w < 1 || h < 1) return i;
  i.width = w; i.height = h; i.hasAlpha = a;
  i.pixels.assign(size_t(w) * h * 4 + kImageTailMargin, 0); return i;
}
Image transform(const Image& s, TransformOp op) {
  bool swap = op == TransformOp::RotateCW || op == TransformOp::RotateCCW;
  Image d = Image::create(swap ? s.height : s.width, swap ? s.width : s.height, s.hasAlpha);
  for (int y = 0; y < d.height; ++y) for (int x = 0; x < d.width; ++x) {
    int sx = x, sy = y;
    switch (op) {
      case TransformOp::FlipH: sx = s.width - 1 - x; break;
      case TransformOp::FlipV: sy = s.height - 1 - y; break;
      case TransformOp::RotateCW: sx = y; sy = s.height - 1 - x; break;
      case TransformOp::Rotate180: sx = s.width - 1 - x; sy = s.height - 1 - y; break;
      case TransformOp::RotateCCW: sx = s.width - 1 - y; sy = x; break;
    }
    for (int c = 0; c < 4; ++c) d.row(y)[x * 4 + c] = s.row(sy)[sx * 4 + c];
  }
  return d;
}
}

#include "ui/theme.h"

#include <algorithm>
#include <cmath>

namespace theme {

namespace {

double channel(uint32_t c, int shift) { return static_cast<double>((c >> shift) & 0xFF) / 255.0; }

uint32_t pack(double v, int shift) {
  long byte = std::lround(std::clamp(v, 0.0, 1.0) * 255.0);
  return static_cast<uint32_t>(byte) << shift;
}

}  // namespace

uint32_t mix(uint32_t a, uint32_t b, double t) {
  if (!(t >= 0.0)) t = 0.0;  // also catches NaN
  t = std::min(t, 1.0);
  uint32_t out = 0;
  for (int shift : {16, 8, 0}) {
    double ca = channel(a, shift);
    double cb = channel(b, shift);
    out |= pack(ca + (cb - ca) * t, shift);
  }
  return out;
}

uint32_t lighten(uint32_t c, double t) { return mix(c, 0xFFFFFF, t); }

uint32_t darken(uint32_t c, double t) { return mix(c, 0x000000, t); }

double luminance(uint32_t c) {
  return 0.2126 * channel(c, 16) + 0.7152 * channel(c, 8) + 0.0722 * channel(c, 0);
}

}  // namespace theme

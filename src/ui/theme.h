// theme: arithmetic on 0xRRGGBB colours (mixing, lightening, darkening,
// luminance). Pure functions; the palette itself is written as literals where
// it is used.
#pragma once

#include <cstdint>

namespace theme {

// Channel-wise a + (b − a)·t with t clamped to [0, 1]; rounded to nearest.
uint32_t mix(uint32_t a, uint32_t b, double t);
// mix(c, white, t).
uint32_t lighten(uint32_t c, double t);
// mix(c, black, t).
uint32_t darken(uint32_t c, double t);
// 0.2126·R + 0.7152·G + 0.0722·B on channels / 255, no gamma; 0 … 1.
double luminance(uint32_t c);

}  // namespace theme

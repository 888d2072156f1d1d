// draw: everything the interface paints with cairo — filled and outlined
// rectangles, rounded rectangles, circles, lines — and text laid out with
// pango, plus the registration of the fonts shipped with the program.
//
// Coordinates are logical pixels on the frame's cairo context; callers pass
// sizes already multiplied by the interface scale. Colours are 0xRRGGBB with
// a separate alpha in [0, 1]. Main thread only: the text layouts are cached
// in one process-wide cache that is not shared with workers.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <string>

#include "ui/frame.h"

namespace ui {

// How a piece of text looks and where it is allowed to go.
struct TextStyle {
  const char* family = "sans";
  double size = 14;          // logical pixels (pango absolute size)
  bool bold = false;         // weight 700 instead of 400
  bool italic = false;
  uint32_t color = 0xEDF1F4;
  double alpha = 1.0;
  int align = 0;             // 0 left, 1 centre, 2 right
  double fitWidth = 0;       // > 0: shrink text wider than this …
  double minScale = 0.6;     // … but never below this factor
  double letterSpacing = 0;  // extra logical pixels between letters
  bool uppercase = false;    // Unicode-aware upper case
  double wrapWidth = 0;      // > 0: wrap at this width
};

// --- Shapes (each sets the source colour; none saves or restores state) ----
void setColor(cairo_t* cr, uint32_t color, double alpha);
void fillRect(cairo_t* cr, const Rect& r, uint32_t color, double alpha);
// Adds a closed rounded-rectangle sub-path; radius limited to half the smaller side.
void roundedRectPath(cairo_t* cr, const Rect& r, double radius);
void fillRoundedRect(cairo_t* cr, const Rect& r, double radius, uint32_t color, double alpha);
void strokeRoundedRect(cairo_t* cr, const Rect& r, double radius, double lineWidth, uint32_t color,
                       double alpha);
void fillCircle(cairo_t* cr, double cx, double cy, double r, uint32_t color, double alpha);
void strokeCircle(cairo_t* cr, double cx, double cy, double r, double lineWidth, uint32_t color,
                  double alpha);
void drawLine(cairo_t* cr, double x0, double y0, double x1, double y1, double width,
              uint32_t color, double alpha);

// --- Fonts ------------------------------------------------------------------
// Adds the seven shipped font files to fontconfig's current configuration.
// False when a required file could not be added (each failure is printed to
// stderr; the rest are still tried). Call once, before the first text.
bool registerBundledFonts();

// --- Text (UTF-8; an empty text draws nothing and measures 0 × 0) -----------
// Top at y. Unwrapped: x is the left edge, centre or right edge by align;
// wrapped: x is the wrap box's left edge.
void drawText(cairo_t* cr, double x, double y, const std::string& text, const TextStyle& style);
// Top at y. Unwrapped: centred on cx; wrapped: cx is the wrap box's left edge.
void drawTextTop(cairo_t* cr, double cx, double y, const std::string& text,
                 const TextStyle& style);
// The text's box centred in r.
void drawTextIn(cairo_t* cr, const Rect& r, const std::string& text, const TextStyle& style);
// Size of what the calls above would draw (after shrinking and wrapping).
void measureText(cairo_t* cr, const std::string& text, const TextStyle& style, double* w,
                 double* h);

// The shrink factor for text pw logical pixels wide: max(fitWidth / pw,
// minScale) when fitWidth > 0, pw > fitWidth and pw ≥ 1; otherwise 1.
double fitScale(double pw, double fitWidth, double minScale);

// Glyphs drawn so far that no font had (shown as the missing-glyph box); a
// running total, so callers compare two readings.
size_t unknownGlyphsDrawn();
// Number of pango layouts currently cached (for tests and benchmarks).
size_t cachedTextLayouts();

}  // namespace ui

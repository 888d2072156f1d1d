// icons: the interface's 24 vector glyphs, drawn with cairo strokes and fills
// so they stay sharp at every scale. Main thread only (draws on the frame; the
// rasterised glyphs are kept in a cache of its own).
#pragma once

#include <cairo.h>

#include <cstdint>

namespace ui {

// The glyphs; the comments name where the interface uses them.
enum class Icon : int {
  Close = 0,       // cross: sheet and screen close buttons
  UndoArc = 1,     // curved arrow turning back to the left
  RedoArc = 2,     // its mirror image
  Save = 3,        // arrow down onto a base line ("editor.save")
  Info = 4,        // ringed "i" (about)
  More = 5,        // three stacked dots
  Play = 6,        // triangle pointing right ("editor.play")
  Pause = 7,       // two upright bars ("editor.pause")
  Cut = 8,         // scissors ("editor.cut")
  MarkIn = 9,      // opening bracket ("editor.in")
  MarkOut = 10,    // closing bracket ("editor.out")
  Size = 11,       // diagonal double arrow ("editor.size")
  Format = 12,     // two outlined frames ("editor.format")
  Crop = 13,       // two opposite corner marks ("editor.crop")
  Adjust = 14,     // half-filled circle ("editor.adjust", "effects.title")
  Transform = 15,  // open circle ending in an arrow head ("editor.transform")
  Export = 16,     // arrow up out of a base line ("editor.export")
  Image = 17,      // picture with sun and mountains (start screen)
  Video = 18,      // camera body with its lens triangle (start screen)
  Settings = 19,   // gear (start screen)
  Check = 20,      // check mark: the selected choice
  Chevron = 21,    // chevron pointing right: rows that open a screen
  Plus = 22,       // closed dropdown, zoom in, "editor.append"
  Minus = 23,      // open dropdown, zoom out
};

// Number of glyphs; values from kIconCount on draw nothing.
inline constexpr int kIconCount = 24;

// Draws the glyph centred on (cx, cy) inside a square of side size, in color
// at alpha, with lines max(0.11·size, 1) wide. Strokes included, nothing
// leaves the square. Saves and restores the cairo state. Upright at an even
// scale and at most 128 device pixels wide, the glyph is painted from a
// picture rasterised on its first use (at most 256 kept).
void drawIcon(cairo_t* cr, Icon icon, double cx, double cy, double size, uint32_t color, double alpha);
// As drawIcon, always stroked anew.
void drawIconStrokes(cairo_t* cr, Icon icon, double cx, double cy, double size, uint32_t color, double alpha);

}  // namespace ui

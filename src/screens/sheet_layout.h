// sheet_layout: small drawing and text helpers the image, size and save
// sheets share — a label vertically centred in a row, the "w × h" size text,
// a right-aligned row of buttons. Main thread only.
#pragma once

#include <string>

#include "ui/frame.h"

namespace ui::sheet {

// "%d × %d".
std::string sizeLabel(int width, int height);
// text at the left of r (or its right with align 2), vertically centred; secondary is the dimmer colour.
void rowText(Ctx& ctx, const Rect& r, const std::string& text, bool secondary = false, int align = 0);
// Wrapped text in r's width from its top; returns the height it took.
double wrappedText(Ctx& ctx, const Rect& r, const std::string& text);
// Height of text wrapped to width at the sheets' hint size.
double hintHeight(Ctx& ctx, const std::string& text, double width);
// The i-th of n equal slots right-aligned in row (gap between them), each at most maxW wide.
Rect slotFromRight(const Rect& row, int i, int n, double maxW, double gap);

}  // namespace ui::sheet

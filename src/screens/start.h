// start: the start screen, shown while no document is open — the
// application mark, the two buttons that open a video or an image, the drop
// note, the format cards and the corner buttons to the settings and about
// screens. Drawn anew from the frame context each frame, no state of its
// own. Main thread only.
#pragma once

#include <string>
#include <vector>

#include "ui/frame.h"

namespace ui {

// Draws the start screen over the whole window, reacts to the frame's input
// (none while the dialog is up) and collects a finished file dialog.
void updateStartScreen(Ctx& ctx);

// --- Layout pieces (pure) ---------------------------------------------------------
// Chips of the given widths in a format card at scale s, in rows from the
// card's top left; the list stops at the first chip whose bottom would pass
// bottomLimit, so it ends with the last full row.
std::vector<Rect> chipLayout(const Rect& card, const std::vector<double>& widths, double bottomLimit, double s);
// The image card's RAW line: "RAW: " or, without a RAW decoder, "RAW (—): ",
// then the RAW extensions joined by " · ".
std::string rawFormatsLine(bool decodes);

}  // namespace ui

// save_image: writing the current image to a file the user chose — the
// output options from the settings, the signature every saved file carries,
// and the export sheet's image groups. Main thread only.
#pragma once

#include <string>

#include "media/image_io.h"
#include "ui/frame.h"

namespace ui {

// Output format and quality from the settings, with the source's format word.
media::OutOptions imageOutOptions();
// The metadata every saved file carries (software and comment).
media::Meta signature();
// Writes the current image to target (the save dialog's answer) and reports
// the result in a dialog.
void saveImageAnswer(const std::string& target);
// Draws the export sheet's image groups (output format, quality) into the
// column at x, y of width w; returns the height used.
double imageExportGroups(Ctx& ctx, double x, double y, double w);

}  // namespace ui

// save_image: writing the current image to a file the user chose — the
// output options from the settings, the signature every saved file carries,
// the save-as step for an image, the save dialog's answer, and the export
// sheet's image groups. Main thread only; saving blocks for the encode and
// the write.
#pragma once

#include <string>

#include "media/image_io.h"
#include "ui/frame.h"

namespace ui {

// --- Options ------------------------------------------------------------------------
// Output format and quality from the settings, with the source's format word
// ("png" for a PNG source, "webp" for WebP, else "jpeg").
media::OutOptions imageOutOptions();
// The metadata every saved file carries (software and comment).
media::Meta signature();
// The file name save-as proposes: the title up to its last '.', "_v", the
// version number counted from 1, the extension (beach.jpg, index 2, ".jpg"
// gives "beach_v3.jpg").
std::string suggestedSaveName(const std::string& title, int versionIndex, const std::string& extension);

// --- Saving -----------------------------------------------------------------------------
// The image half of save-as: proposes a name and starts the save dialog
// (purpose SaveImage), or takes its answer from KORVELLE_SAVE_TO. Nothing
// while another file dialog runs.
void saveImageAs(Ctx& ctx);
// Writes the current image to target (the save dialog's answer; the output
// format's extension is appended when missing) and reports the result in a
// dialog. An unedited image whose output format is its own is copied byte
// for byte. True when the file was written.
bool saveImageAnswer(const std::string& target);

// --- Export sheet -----------------------------------------------------------------------
// Draws the export sheet's image groups (output format chips, quality slider
// or the PNG hint) into the column at x, y of width w; returns the height used.
double imageExportGroups(Ctx& ctx, double x, double y, double w);

}  // namespace ui

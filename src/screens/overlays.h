// overlays: the secondary screens drawn over the base screen — settings,
// language, about and licences. Each draws the whole window, reacts to the
// frame's input and closes itself by setting the router's screen
// (screens/router.h): settings → main, language → settings, about → main,
// licences → about. Choices are saved in the frame they are made. Main
// thread only. The pieces they share are in screens/overlay_parts.h.
#pragma once

#include <string>

#include "ui/frame.h"

namespace ui {

// --- Screens (one frame each) -------------------------------------------------
void updateSettingsScreen(Ctx& ctx);
void updateLanguageScreen(Ctx& ctx);
void updateAboutScreen(Ctx& ctx);
void updateLicensesScreen(Ctx& ctx);

// --- Names the about screen shows ---------------------------------------------
// Chip label of a decoder name: "JPEG", "WebP", "HEIF" for heic and heif …,
// otherwise the name in upper case.
std::string formatChipLabel(const std::string& decoder);
// "H.264 (VAAPI)", "VP9 (libvpx)" …; an unknown encoder keeps its name.
std::string encoderDisplayName(const std::string& encoder);

}  // namespace ui

// settings_screen: the choices of the settings screen (ui::updateSettingsScreen
// in screens/overlays.h) as data, so the rules that decide what is offered and
// what is highlighted can be checked without drawing. Pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ui {

// Segment labels and values of the image quality and the fade length.
inline constexpr int32_t kQualityValues[] = {75, 85, 92, 100};
inline constexpr int32_t kFadeValues[] = {300, 500, 1000, 2000};

// The segment showing quality, −1 when the value is none of kQualityValues
// (a hand-edited settings file).
int qualitySegment(int32_t quality);
// The segment showing a fade length; any value that is not one of
// kFadeValues shows the default's segment (500 ms).
int fadeSegment(int32_t fadeMs);
// The output formats offered (settings::kFormat* values, in display order)
// for the encoders this build has: WebP only when "webp" can be written.
std::vector<int32_t> offeredOutputFormats(const std::vector<std::string>& encoders);

}  // namespace ui

// social_formats: the built-in table of social platforms and the picture
// sizes each expects for a kind of post, offered by the format sheet and
// named on the About screen. The table is fixed; nothing here fails.
//
// platforms() is thread-safe (built once on first use, never changed); the
// label lookups translate through i18n and are for the main thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace formats {

// One size of a platform. The catalogue key of its label is "formats." + key.
struct Preset {
  const char* key;    // stable identifier
  const char* label;  // built-in label, shown when the catalogue has no text
  int width;          // target size in pixels
  int height;
};

struct Platform {
  const char* id;    // stable lower-case identifier
  const char* name;  // display name, shown as is (never translated)
  std::vector<Preset> presets;  // in display order
};

// --- The table -------------------------------------------------------------------
// All 17 platforms with their 31 presets, in display order.
const std::vector<Platform>& platforms();

// --- Labels ----------------------------------------------------------------------
// The preset's label in the interface language, or its built-in label when the
// catalogue has no text for "formats." + key.
std::string presetLabel(const Preset& preset);
// The same with another translator (a key it does not know comes back as itself).
std::string presetLabel(const Preset& preset, const std::function<std::string(const std::string&)>& translate);

// --- Choosing --------------------------------------------------------------------------
// index clamped to [0, count − 1] (0 when count is 0): the stored choice as shown.
int clampIndex(int index, int count);

}  // namespace formats

// trademarks: the platform names the about screen acknowledges as others'
// trademarks — the distinct display names of the format presets, in table
// order. Pure; thread-safe.
#pragma once

#include <string>
#include <vector>

namespace ui {

// The distinct platform names, in the order of the presets table.
std::vector<std::string> trademarkBrands();
// The same joined with " · ", as the about screen's text takes them.
std::string trademarkBrandLine();

}  // namespace ui

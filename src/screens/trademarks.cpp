#include "screens/trademarks.h"

#include <algorithm>

#include "editor/social_formats.h"

namespace ui {

std::vector<std::string> trademarkBrands() {
  std::vector<std::string> out;
  for (const formats::Platform& p : formats::platforms()) {
    if (std::find(out.begin(), out.end(), p.name) == out.end()) out.emplace_back(p.name);
  }
  return out;
}

std::string trademarkBrandLine() {
  std::string line;
  for (const std::string& name : trademarkBrands()) {
    if (!line.empty()) line += " \u00b7 ";
    line += name;
  }
  return line;
}

}  // namespace ui

#include "screens/trademarks.h"

#include <algorithm>

namespace ui {

namespace {

// The platforms of the format presets, by display name.
// TODO(formats): read formats::platforms() here once the presets table is in
// the editor layer, so the two lists cannot drift apart.
constexpr const char* kPlatformNames[] = {
    "Instagram", "X (Twitter)",     "Facebook",  "YouTube",          "TikTok",
    "LinkedIn",  "Pinterest",       "Telegram",  "WhatsApp",         "Snapchat",
    "Threads",   "WeChat / 微信",   "Weibo / 微博", "Xiaohongshu / 小红书", "LINE",
    "KakaoTalk", "VK / ВКонтакте",
};

}  // namespace

std::vector<std::string> trademarkBrands() {
  std::vector<std::string> out;
  for (const char* name : kPlatformNames) {
    if (std::find(out.begin(), out.end(), name) == out.end()) out.emplace_back(name);
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

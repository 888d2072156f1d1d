#include "editor/social_formats.h"

#include <algorithm>

#include "core/i18n.h"

namespace formats {

const std::vector<Platform>& platforms() {
  static const std::vector<Platform> table = {
      {"instagram", "Instagram",
       {{"ig_square", "Feed Quadrat (1:1)", 1080, 1080},
        {"ig_portrait", "Feed Hochformat (4:5)", 1080, 1350},
        {"ig_landscape", "Feed Querformat (1.91:1)", 1080, 566},
        {"ig_story", "Story / Reel (9:16)", 1080, 1920}}},
      {"x", "X (Twitter)",
       {{"x_post", "Beitragsbild (16:9)", 1600, 900}, {"x_header", "Header (3:1)", 1500, 500}}},
      {"facebook", "Facebook",
       {{"fb_post", "Beitrag (1.91:1)", 1200, 630},
        {"fb_story", "Story (9:16)", 1080, 1920},
        {"fb_cover", "Titelbild", 820, 312}}},
      {"youtube", "YouTube",
       {{"yt_thumb", "Thumbnail (16:9)", 1280, 720}, {"yt_channel", "Kanalbild (16:9)", 2560, 1440}}},
      {"tiktok", "TikTok", {{"tt_video", "Video / Story (9:16)", 1080, 1920}}},
      {"linkedin", "LinkedIn",
       {{"li_post", "Beitrag (1.91:1)", 1200, 627}, {"li_cover", "Titelbild (4:1)", 1584, 396}}},
      {"pinterest", "Pinterest", {{"pin", "Pin (2:3)", 1000, 1500}}},
      {"telegram", "Telegram",
       {{"tg_post", "Beitragsbild (1:1)", 1280, 1280}, {"tg_story", "Story (9:16)", 1080, 1920}}},
      {"whatsapp", "WhatsApp",
       {{"wa_status", "Status (9:16)", 1080, 1920}, {"wa_profile", "Profilbild (1:1)", 640, 640}}},
      {"snapchat", "Snapchat", {{"snap_story", "Snap / Story (9:16)", 1080, 1920}}},
      {"threads", "Threads",
       {{"th_post", "Beitrag (4:5)", 1080, 1350}, {"th_square", "Beitrag Quadrat (1:1)", 1080, 1080}}},
      {"wechat", "WeChat / 微信",
       {{"wx_moments", "Moments (1:1)", 1080, 1080}, {"wx_story", "Story (9:16)", 1080, 1920}}},
      {"weibo", "Weibo / 微博", {{"wb_post", "Beitragsbild (4:3)", 1200, 900}}},
      {"xiaohongshu", "Xiaohongshu / 小红书", {{"xhs_post", "Beitrag (3:4)", 1080, 1440}}},
      {"line", "LINE",
       {{"line_post", "Beitrag (1:1)", 1080, 1080}, {"line_story", "Story (9:16)", 1080, 1920}}},
      {"kakao", "KakaoTalk", {{"kakao_story", "Story (9:16)", 1080, 1920}}},
      {"vk", "VK / ВКонтакте",
       {{"vk_post", "Beitragsbild (4:3)", 1200, 900}, {"vk_story", "Story (9:16)", 1080, 1920}}},
  };
  return table;
}

std::string presetLabel(const Preset& preset, const std::function<std::string(const std::string&)>& translate) {
  const std::string key = std::string("formats.") + preset.key;
  std::string text = translate(key);
  // A catalogue without the key hands the key back.
  return text == key ? std::string(preset.label) : text;
}

std::string presetLabel(const Preset& preset) {
  return presetLabel(preset, [](const std::string& key) { return i18n::tr(key); });
}

int clampIndex(int index, int count) { return count <= 0 ? 0 : std::clamp(index, 0, count - 1); }

}  // namespace formats

// The platform table and the preset labels.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "core/i18n.h"
#include "editor/social_formats.h"

namespace {

// Unique ids and keys, and sizes for every preset.
TEST(SocialFormats, TheTable) {
  const auto& all = formats::platforms();
  std::set<std::string> ids, keys;
  size_t presets = 0;
  for (const formats::Platform& p : all) {
    EXPECT_FALSE(p.presets.empty()) << p.id;
    ids.insert(p.id);
    presets += p.presets.size();
    for (const formats::Preset& preset : p.presets) {
      keys.insert(preset.key);
      EXPECT_TRUE(preset.width > 0 && preset.height > 0) << preset.key;
    }
  }
  EXPECT_EQ(ids.size(), all.size());
  EXPECT_EQ(keys.size(), presets);
  // Stored indexes are clamped by the format sheet; an empty list gives 0.
  EXPECT_EQ(formats::clampIndex(3, 0), 0);
}

TEST(SocialFormats, LabelsComeFromTheCatalogueWithTheBuiltInFallback) {
  const formats::Preset& cover = formats::platforms()[2].presets[2];
  i18n::setLanguage("en");
  EXPECT_EQ(formats::presetLabel(cover), "Cover photo");
  // A catalogue without the key answers with the key itself.
  const auto lacking = [](const std::string& key) { return key; };
  EXPECT_EQ(formats::presetLabel(cover, lacking), "Titelbild");
  const auto other = [](const std::string& key) { return key == "formats.fb_cover" ? "Couverture" : key; };
  EXPECT_EQ(formats::presetLabel(cover, other), "Couverture");
  // Every preset has an English text.
  for (const formats::Platform& p : formats::platforms()) {
    for (const formats::Preset& preset : p.presets) {
      EXPECT_NE(i18n::tr(std::string("formats.") + preset.key), std::string("formats.") + preset.key) << preset.key;
    }
  }
}

}  // namespace

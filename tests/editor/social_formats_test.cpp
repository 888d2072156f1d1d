// The platform table and the preset labels.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "core/i18n.h"
#include "editor/social_formats.h"

namespace {

// Unique ids and keys, and two sizes that do not follow their ratio.
TEST(SocialFormats, TheTable) {
  const auto& all = formats::platforms();
  ASSERT_EQ(all.size(), 17u);
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
  EXPECT_EQ(presets, 31u);
  EXPECT_EQ(ids.size(), 17u);
  EXPECT_EQ(keys.size(), 31u);
  const struct {
    size_t platform, preset;
    const char* key;
    int w, h;
  } wants[] = {{0, 2, "ig_landscape", 1080, 566}, {2, 2, "fb_cover", 820, 312}};
  for (const auto& w : wants) {
    const formats::Preset& p = all[w.platform].presets[w.preset];
    EXPECT_STREQ(p.key, w.key);
    EXPECT_EQ(p.width, w.w) << w.key;
    EXPECT_EQ(p.height, w.h) << w.key;
  }
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

TEST(SocialFormats, ClampIndex) {
  const struct {
    int index, count, want;
  } cases[] = {{99, 17, 16}, {-3, 17, 0}, {0, 17, 0}, {16, 17, 16}, {5, 1, 0}, {3, 0, 0}};
  for (const auto& c : cases) EXPECT_EQ(formats::clampIndex(c.index, c.count), c.want) << c.index << "/" << c.count;
}

}  // namespace

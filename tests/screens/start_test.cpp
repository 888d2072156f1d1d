// The start screen: what shows at which window size, the format cards, the buttons.
#include "screens/start.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media/video.h"
#include "screens/flows.h"
#include "screens/screen_fixtures.h"

using namespace screen_fixtures;
using testing_support::ScopedEnv;

namespace {

using StartScreen = ScreenTest;

// The chips of one card as the dump lists them.
std::vector<ui::Rect> chips(const ScreenHarness& h, const std::string& card) {
  std::vector<ui::Rect> out;
  for (const auto& e : h.dump())
    if (e.id.rfind("start.chip." + card + ".", 0) == 0) out.push_back(e.rect);
  return out;
}

bool inside(const ui::Rect& inner, const ui::Rect& outer) {
  return inner.x >= outer.x - 1 && inner.y >= outer.y - 1 && inner.x + inner.w <= outer.x + outer.w + 1 &&
         inner.y + inner.h <= outer.y + outer.h + 1;
}

// Up to 842 high at scale 1 (and full HD at 1.5) the band below the buttons is too low for the cards.
TEST_F(StartScreen, UpTo842HighAtScaleOneNoCardsButButtonsAndDropNoteStay) {
  for (auto [width, height] : {std::pair{1280, 560}, {1280, 842}, {1920, 1080}}) {
    ScreenHarness h(width, height);
    h.appFrame();
    SCOPED_TRACE(height);
    for (const char* id : {"start.video", "start.image", "start.dropNote"}) EXPECT_TRUE(h.hasWidget(id)) << id;
    for (const char* id : {"start.formats.video", "start.formats.image"}) EXPECT_FALSE(h.hasWidget(id)) << id;
  }
  ScreenHarness tall(1280, 843);
  tall.appFrame();
  EXPECT_TRUE(tall.hasWidget("start.formats.video"));
  EXPECT_TRUE(tall.hasWidget("start.formats.image"));
}

TEST_F(StartScreen, LayoutFollowsTheWindow) {
  // The dump rounds to whole pixels.
  ScreenHarness h(1600, 1400);
  h.appFrame();
  ASSERT_DOUBLE_EQ(h.ctx().uiScale, 1.25);
  auto video = h.widget("start.video"), image = h.widget("start.image");
  auto about = h.widget("start.about"), settings = h.widget("start.settings");
  auto card = h.widget("start.formats.video");
  ASSERT_TRUE(video && image && about && settings && card);
  // The buttons centred one under the other, the video card below them left of the centre.
  EXPECT_NEAR(video->x + video->w / 2, 800, 1);
  EXPECT_GE(image->y, video->y + video->h);
  EXPECT_LE(settings->x + settings->w, about->x);
  EXPECT_GE(card->y, image->y + image->h);
  EXPECT_LE(card->x + card->w, 800);
  // Everything fits at this size: every extension has its chip inside the card.
  std::vector<ui::Rect> v = chips(h, "video");
  EXPECT_EQ(v.size(), media::videoExtensions().size());
  for (const ui::Rect& c : v) EXPECT_TRUE(inside(c, *card));
  EXPECT_TRUE(h.hasWidget("start.chip.image.PNG"));
}

TEST_F(StartScreen, RawLineMarksAMissingDecoder) {
  EXPECT_EQ(ui::rawFormatsLine(true).rfind("RAW: DNG · CR2 · ", 0), 0u) << ui::rawFormatsLine(true);
  EXPECT_EQ(ui::rawFormatsLine(false).rfind("RAW (—): DNG · CR2 · ", 0), 0u) << ui::rawFormatsLine(false);
  EXPECT_EQ(ui::rawFormatsLine(false).substr(ui::rawFormatsLine(false).size() - 3), "CRW");
}

TEST_F(StartScreen, ShortCardsShowOnlyTheRowsThatFit) {
  // Cards 96.8 high: the image card keeps room for its RAW line, one row of chips fits.
  ScreenHarness h(1280, 860);
  h.appFrame();
  auto card = h.widget("start.formats.image");
  ASSERT_TRUE(card);
  std::vector<ui::Rect> img = chips(h, "image");
  ASSERT_FALSE(img.empty());
  EXPECT_LT(img.size(), media::capabilities().decode.size());
  for (const ui::Rect& c : img) {
    EXPECT_DOUBLE_EQ(c.y, img[0].y);
    EXPECT_LE(c.y + c.h, card->y + card->h - 36);
  }
}

TEST_F(StartScreen, CornerButtonsOpenAboutAndSettingsButNotUnderADialog) {
  ScreenHarness h(1280, 720);
  h.appFrame();
  auto about = h.widget("start.about");
  ASSERT_TRUE(about);
  ui::showDialog("Title", "Body", {{"OK", 1}});
  h.appFrame(ScreenHarness::click(about->x + about->w / 2, about->y + about->h / 2));
  EXPECT_EQ(ui::App::instance().screen, ui::App::Main);
  EXPECT_TRUE(ui::dialogOpen());
  closeDialog(&h);

  h.appFrame();
  ASSERT_TRUE(h.clickWidget("start.about"));
  EXPECT_EQ(ui::App::instance().screen, ui::App::About);
  ui::App::instance().screen = ui::App::Main;
  h.appFrame();
  ASSERT_TRUE(h.clickWidget("start.settings"));
  EXPECT_EQ(ui::App::instance().screen, ui::App::Settings);
}

TEST_F(StartScreen, ImageButtonOpensWhatTheDialogAnswers) {
  TempDir dir;
  std::string pic = editor_fixtures::writeSolid(dir.file("p.png"), 40, 30, {1, 2, 3});
  ScopedEnv openTo("KORVELLE_OPEN_TO", pic.c_str());
  ScreenHarness h(1280, 720);
  h.appFrame();
  ASSERT_TRUE(h.clickWidget("start.image"));
  framesUntil(h, [] { return ui::editorState().dialogPurpose == ui::DialogPurpose::None; });
  EXPECT_EQ(document().sourcePath, pic);
  EXPECT_TRUE(h.hasWidget("screen.editor"));
}

// Where the dump says the primary button is, its blue is drawn, in both directions and three sizes.
TEST_F(StartScreen, ThePrimaryButtonIsDrawnWhereTheDumpSaysInFourLanguages) {
  for (const char* lang : {"en", "de", "ar", "ja"}) {
    i18n::setLanguage(lang);
    for (auto [w, h] : {std::pair{1280, 800}, {1920, 1080}, {1280, 1000}}) {
      ScreenHarness harness(w, h);
      harness.appFrame();
      harness.appFrame();
      auto video = harness.widget("start.video");
      ASSERT_TRUE(video);
      EXPECT_EQ(harness.pixel(video->x + 8, video->y + video->h / 2) & 0xFFFFFF, 0x2C6392u) << lang;
    }
  }
}

}  // namespace

// The start screen: what shows at which window size, the format cards and
// their chips, the RAW line, the buttons and the corner buttons, in four
// languages.
#include "screens/start.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media/video.h"
#include "screens/flows.h"
#include "screens/portal_session.h"
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

TEST_F(StartScreen, UpTo842HighAtScaleOneNoCardsButButtonsAndDropNoteStay) {
  for (int height : {560, 720, 842}) {
    ScreenHarness h(1280, height);
    h.appFrame();
    SCOPED_TRACE(height);
    if (height == 842) { ASSERT_DOUBLE_EQ(h.ctx().uiScale, 1.0); }
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
  // The buttons centred in the lower half, one under the other; the corner
  // buttons side by side at the top right; the video card below them, left of
  // the centre and inside the window.
  EXPECT_NEAR(video->x + video->w / 2, 800, 1);
  EXPECT_NEAR(image->x + image->w / 2, 800, 1);
  EXPECT_GT(video->y, 700);
  EXPECT_GE(image->y, video->y + video->h);
  EXPECT_LT(about->y, 40);
  EXPECT_GT(about->x, 1500);
  EXPECT_LE(settings->x + settings->w, about->x);
  EXPECT_GE(card->y, image->y + image->h);
  EXPECT_LE(card->x + card->w, 800);
  EXPECT_LE(card->y + card->h, 1400);
  // Everything fits at this size: every extension has its chip inside the card.
  std::vector<ui::Rect> v = chips(h, "video");
  EXPECT_EQ(v.size(), media::videoExtensions().size());
  for (const ui::Rect& c : v) EXPECT_TRUE(inside(c, *card));
  EXPECT_TRUE(h.hasWidget("start.chip.video.MP4"));
  EXPECT_TRUE(h.hasWidget("start.chip.image.PNG"));

  // Full HD at scale 1.5 leaves the band below the buttons too low for the cards.
  ScreenHarness hd(1920, 1080);
  hd.appFrame();
  EXPECT_FALSE(hd.hasWidget("start.formats.video"));
  EXPECT_TRUE(hd.hasWidget("start.dropNote"));
}

TEST_F(StartScreen, RawLineMarksAMissingDecoder) {
  EXPECT_EQ(ui::rawFormatsLine(true).rfind("RAW: DNG · CR2 · ", 0), 0u) << ui::rawFormatsLine(true);
  EXPECT_EQ(ui::rawFormatsLine(false).rfind("RAW (—): DNG · CR2 · ", 0), 0u) << ui::rawFormatsLine(false);
  EXPECT_EQ(ui::rawFormatsLine(false).substr(ui::rawFormatsLine(false).size() - 3), "CRW");
}

TEST_F(StartScreen, ChipsStopAtTheLastFullRow) {
  // 40-wide chips in a 160 × 100 card: three per row, two rows above the limit.
  const ui::Rect card{100, 200, 160, 100};
  std::vector<ui::Rect> laid = ui::chipLayout(card, std::vector<double>(20, 40), card.y + card.h - 6, 1.0);
  ASSERT_EQ(laid.size(), 6u);
  for (size_t i = 0; i < laid.size(); ++i) {
    EXPECT_DOUBLE_EQ(laid[i].y, laid[i / 3 * 3].y) << i;  // three to a row
    EXPECT_TRUE(inside(laid[i], card)) << i;
    EXPECT_LE(laid[i].y + laid[i].h, card.y + card.h - 6);
  }
  EXPECT_GT(laid[1].x, laid[0].x + laid[0].w);
  EXPECT_GT(laid[3].y, laid[0].y + laid[0].h);
  // A chip wider than the row still gets a row of its own; nothing at all when no row fits.
  EXPECT_EQ(ui::chipLayout(card, {500, 20}, 400, 1.0).size(), 2u);
  EXPECT_TRUE(ui::chipLayout(card, {20}, card.y + 40, 1.0).empty());
  // Scaled: every length grows with s.
  std::vector<ui::Rect> one = ui::chipLayout({100, 200, 400, 300}, {60, 60}, 1000, 1.0);
  std::vector<ui::Rect> two = ui::chipLayout({100, 200, 400, 300}, {60, 60}, 1000, 2.0);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_DOUBLE_EQ(two[0].x - 100, 2 * (one[0].x - 100));
  EXPECT_DOUBLE_EQ(two[0].y - 200, 2 * (one[0].y - 200));
  EXPECT_DOUBLE_EQ(two[0].h, 2 * one[0].h);
  EXPECT_DOUBLE_EQ(two[1].x - two[0].x - two[0].w, 2 * (one[1].x - one[0].x - one[0].w));  // the gap
}

TEST_F(StartScreen, ShortCardsShowOnlyTheRowsThatFit) {
  // Cards 96.8 high: the image card keeps room for its RAW line, so one row of
  // its two is left; no chip is cut or drawn past the card.
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

TEST_F(StartScreen, VideoButtonWhileADialogRunsDoesNothing) {
  TempDir dir;
  std::string pic = editor_fixtures::writeSolid(dir.file("p.png"), 40, 30, {1, 2, 3});
  flow_fixtures::PortalSession portal;
  const std::string trigger = dir.file("answer-now");
  std::string why;
  if (!portal.start(R"([{"code": 0, "uris": ["file://)" + pic + R"("], "trigger": ")" + trigger + R"("}])", &why)) {
    GTEST_SKIP() << why;
  }
  ScopedEnv portalOn("KORVELLE_NO_PORTAL", nullptr);
  ScreenHarness h(1280, 720);
  h.appFrame();
  ASSERT_TRUE(h.clickWidget("start.image"));
  ASSERT_TRUE(testing_support::waitUntil([&] { return portal.record().find("end") != std::string::npos; }))
      << portal.record();
  h.appFrame();
  ASSERT_EQ(ui::editorState().dialogPurpose, ui::DialogPurpose::OpenImage);

  ASSERT_TRUE(h.clickWidget("start.video"));
  EXPECT_EQ(ui::editorState().dialogPurpose, ui::DialogPurpose::OpenImage);

  testing_support::writeFile(trigger, "");
  framesUntil(h, [] { return ui::editorState().dialogPurpose == ui::DialogPurpose::None; });
  EXPECT_EQ(document().sourcePath, pic);
  const std::string record = portal.record();
  EXPECT_EQ(record.find("call OpenFile"), record.rfind("call OpenFile")) << record;  // one call only
  EXPECT_NE(record.find("title Choose image"), std::string::npos) << record;
}

// Where the dump says the primary button is, its blue is drawn, in scripts
// of both directions and at three window sizes (the third with the cards).
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

// Hit testing, the one-click rule and the interface dump.
#include <gtest/gtest.h>

#include <string>

#include "support/screen_harness.h"
#include "support/test_support.h"
#include "ui/frame.h"

using testing_support::ScreenHarness;

TEST(Input, RectanglesContainTheirLeftAndTopEdgesOnly) {
  ui::Rect r{10, 20, 30, 40};
  EXPECT_TRUE(r.contains(10, 20));
  EXPECT_TRUE(r.contains(39.999, 59.999));
  EXPECT_FALSE(r.contains(40, 30));  // right edge
  EXPECT_FALSE(r.contains(20, 60));  // bottom edge
  EXPECT_FALSE((ui::Rect{10, 10, 0, 10}.contains(10, 12)));

  ui::Input in;
  in.keys = {13, 27, 13};
  EXPECT_TRUE(in.hasKey(27));
  EXPECT_FALSE(in.hasKey(9));
}

TEST(Input, OnlyTheFirstWidgetTakesAReleaseOverIt) {
  ui::Ctx ctx;
  ui::Rect a{0, 0, 100, 40};
  ui::Rect b{50, 0, 100, 40};  // overlaps a

  ctx.in = ScreenHarness::release(100, 10);  // exactly on a's right edge: only b
  EXPECT_FALSE(ctx.takeClick(a));
  EXPECT_TRUE(ctx.takeClick(b));
  EXPECT_TRUE(ctx.clickTaken);

  ctx.clickTaken = false;
  ctx.in = ScreenHarness::press(60, 10);  // a press alone is no click
  EXPECT_FALSE(ctx.takeClick(a));
  EXPECT_TRUE(ctx.hover(a));

  ctx.in = ScreenHarness::release(60, 40);  // on the bottom edge
  EXPECT_FALSE(ctx.takeClick(a));
  EXPECT_FALSE(ctx.clickTaken);
}

TEST(Input, DumpHoldsTheLastFrameThatRegisteredAnything) {
  ScreenHarness h(400, 200);
  h.frame([](ui::Ctx& c) {
    c.hit("start.pickImage", {10.4, 20.6, 100, 44});
    c.hit(nullptr, {0, 0, 1, 1});  // anonymous widgets are not listed
    c.hit("start.pickVideo", {-3, 0, 99.5, 0});
  });
  auto lines = h.dump();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].id, "start.pickImage");
  EXPECT_EQ(lines[0].rect.x, 10);
  EXPECT_EQ(lines[0].rect.y, 21);
  EXPECT_EQ(lines[1].id, "start.pickVideo");
  EXPECT_EQ(lines[1].rect.w, 100);  // printed rounded to whole pixels

  h.frame([](ui::Ctx&) {});  // registers nothing: the file stays
  EXPECT_EQ(h.dump().size(), 2u);
  // An over-long identifier is cut so the line fits 255 bytes.
  std::string longId(400, 'x');
  h.frame([&](ui::Ctx& c) { c.hit(longId.c_str(), {1, 2, 3, 4}); });
  EXPECT_EQ(h.dumpText(), std::string(255, 'x'));
}

TEST(Input, DumpTurnedOffWritesNothing) {
  testing_support::TempDir dir;
  std::string path = dir.file("dump.txt");
  ui::setUiDumpPath("");
  ui::Ctx ctx;
  ctx.hit("a", {0, 0, 1, 1});
  ui::writeUiDump();
  ui::setUiDumpPath(path);
  ui::writeUiDump();  // nothing registered since: no file
  EXPECT_TRUE(testing_support::readFile(path).empty());
  ctx.hit("b", {0, 0, 1, 1});
  ui::writeUiDump();
  EXPECT_EQ(testing_support::readFile(path), "b 0 0 1 1\n");
  ui::setUiDumpPath("");
}

TEST(Input, InterfaceScaleFollowsTheSmallerRatioWithinLimits) {
  EXPECT_DOUBLE_EQ(ui::interfaceScale(1280, 720), 1.0);
  EXPECT_DOUBLE_EQ(ui::interfaceScale(2560, 720), 1.0);  // the height limits
  EXPECT_DOUBLE_EQ(ui::interfaceScale(860, 560), 0.72);
  EXPECT_DOUBLE_EQ(ui::interfaceScale(7680, 4320), 2.0);
}

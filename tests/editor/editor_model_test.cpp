// The editor's pure functions: time text, marker range, fade curve, effect
// spans, and times, clip boundaries and effects mapped onto a re-rendered video.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "editor/editor.h"

namespace {

using media::Fade;
using media::Segment;

Segment seg(double in, double out) { return Segment{"", in, out}; }
using Bounds = std::vector<double>;

TEST(EditorModel, FormatTimeMs) {
  const struct {
    double ms;
    const char* text;
  } cases[] = {{-5, "0:00.00"},         {61234, "1:01.23"},    {999.9, "0:00.99"},
               {3599999, "59:59.99"},   {7322500, "2:02:02"},  {360000000, "100:00:00"},
               {std::numeric_limits<double>::quiet_NaN(), "0:00.00"}};
  for (const auto& c : cases) EXPECT_EQ(ui::formatTimeMs(c.ms), c.text) << c.ms;
  EXPECT_FALSE(ui::formatTimeMs(std::numeric_limits<double>::infinity()).empty());
}

TEST(EditorModel, CutRange) {
  // Duration 9000; -1 is an unset marker.
  const struct {
    double in, out;
    bool ok;
    double from, to;
  } cases[] = {{-1, -1, false, 0, 0},     {-1, 5000, true, 0, 5000},  // OUT alone: from the start
               {2500, -1, true, 2500, 9000},                          // IN alone: to the end
               {100, 105, false, 0, 0},   {100, 110, true, 100, 110}, // 10 ms is the shortest range
               {6000, 4000, false, 0, 0}, {8995, -1, false, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.in) + " … " + std::to_string(c.out));
    ui::EditorState s;
    s.markInMs = c.in;
    s.markOutMs = c.out;
    double from = -7, to = -7;
    ASSERT_EQ(ui::cutRange(s, 9000, &from, &to), c.ok);
    EXPECT_EQ(std::pair(from, to), c.ok ? std::pair(c.from, c.to) : std::pair(-7.0, -7.0));
    EXPECT_EQ(ui::cutRange(s, 9000, nullptr, &to), c.ok);
    EXPECT_EQ(ui::cutRange(s, 9000, &from, nullptr), c.ok);
  }
}

TEST(EditorModel, FadeFactor) {
  const Fade out{Fade::Out, 2000, 1000};
  const Fade in{Fade::In, 1000, 1000};
  const Fade out1500{Fade::Out, 1500, 1000};
  const struct {
    std::vector<Fade> effects;
    double t, want;
  } cases[] = {{{}, 123, 1.0},
               {{out}, 2000, 0.0},  // a fade out ends black
               {{out}, 1500, 0.5},
               {{out}, 1000, 1.0},
               {{out}, 2000.5, 1.0},  // past its span
               {{in}, 1000, 1.0},     // a fade in ends bright
               {{in}, 250, 0.25},
               {{out1500, in}, 900, 0.6},  // overlapping: the darker one wins
               {{in, out1500}, 400, 0.4},
               // Zero and negative lengths and cross fades do not dim the picture.
               {{Fade{Fade::Out, 500, 0}}, 500, 1.0},
               {{Fade{Fade::Out, 500, -100}}, 550, 1.0},
               {{Fade{Fade::Cross, 500, 400}}, 500, 1.0}};
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(ui::fadeFactorAt(c.effects, c.t), c.want) << c.t;
}

TEST(EditorModel, EffectSpansAndCover) {
  const struct {
    Fade fade;
    double from, to;
  } spans[] = {{{Fade::Out, 2000, 1000}, 1000, 2000},  // fades end at their anchor
               {{Fade::In, 1000, 1000}, 0, 1000},
               {{Fade::Cross, 5000, 300}, 4700, 5300}};  // a cross fade is centred on it
  for (const auto& s : spans) {
    SCOPED_TRACE(s.fade.kind);
    double from = 0, to = 0;
    ui::effectSpan(s.fade, &from, &to);
    EXPECT_EQ(std::pair(from, to), std::pair(s.from, s.to));
    from = to = -1;  // null pointers are skipped
    ui::effectSpan(s.fade, nullptr, &to);
    ui::effectSpan(s.fade, &from, nullptr);
    EXPECT_EQ(std::pair(from, to), std::pair(s.from, s.to));
    // Both ends included.
    EXPECT_TRUE(ui::effectCovers(s.fade, s.from) && ui::effectCovers(s.fade, s.to));
    EXPECT_FALSE(ui::effectCovers(s.fade, s.from - 0.01) || ui::effectCovers(s.fade, s.to + 0.01));
  }
}

TEST(EditorModel, TimeAfter) {
  const std::vector<Segment> plan = {seg(0, 5000), seg(3000, 3000), seg(8000, 12000)};
  const struct {
    double t, want;
  } cases[] = {{0, 0}, {4000, 4000}, {6000, -1}, {8000, 5000}, {12000, 9000}, {12001, -1}};
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(ui::timeAfter(plan, c.t), c.want) << c.t;
  // A time on a shared end belongs to the earlier segment.
  EXPECT_DOUBLE_EQ(ui::timeAfter({seg(5000, 9000), seg(0, 5000)}, 5000), 0);
  EXPECT_DOUBLE_EQ(ui::timeAfter({seg(0, 5000), seg(5000, 9000)}, 5000), 5000);
}

TEST(EditorModel, BoundsAfter) {
  const std::vector<Segment> removeMiddle = {seg(0, 5000), seg(8000, 12000)};
  const struct {
    std::vector<Segment> plan;
    Bounds bounds, want;
  } cases[] = {
      {removeMiddle, {}, {5000}},
      {removeMiddle, {9000}, {5000, 6000}},
      {removeMiddle, {6000, 7000}, {5000}},                    // in the removed part: dropped
      {removeMiddle, {8000.5, 4999.2, 11999.5, 0.5}, {5000}},  // within 1 ms of an edge: the seam stands for it
      {removeMiddle, {8001.5}, {5000}},                        // closer than 2 ms: the first one stays
      {removeMiddle, {4998.5}, {4998.5}},
      {{seg(0, 10000)}, {3000, 3001.5}, {3000}},
      {{seg(0, 10000)}, {3000, 3002}, {3000, 3002}},
      {{seg(2000, 9000)}, {7000, 1000, 3000}, {1000, 5000}},   // unsorted, shifted, inner ones only
      {{seg(700, 700), seg(1000, 3000), seg(50, 10)}, {2000}, {1000}},  // empty pieces skipped, also first
      {{seg(6000, 9000), seg(0, 3000)}, {7000, 1000}, {1000, 3000, 4000}},  // reordered pieces
      {{}, {1000}, {}},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(ui::boundsAfter(cases[i].plan, cases[i].bounds), cases[i].want) << "case " << i;
  }
}

TEST(EditorModel, EffectsAfter) {
  const auto asTuples = [](const std::vector<Fade>& fades) {
    std::vector<std::tuple<int, double, double>> out;
    for (const Fade& f : fades) out.emplace_back(f.kind, f.atMs, f.lengthMs);
    return out;
  };
  const std::vector<Segment> removeMiddle = {seg(0, 5000), seg(8000, 12000)};
  const std::vector<Fade> effects = {{Fade::In, 1000, 1000}, {Fade::Cross, 6000, 300},
                                     {Fade::Out, 12000, 800}, {Fade::Cross, 5000, 200}};
  const struct {
    std::vector<Segment> plan;
    std::vector<Fade> effects, want;
  } cases[] = {
      // The cross fade at 6000 lay in the removed part.
      {removeMiddle, effects, {{Fade::In, 1000, 1000}, {Fade::Out, 9000, 800}, {Fade::Cross, 5000, 200}}},
      // Reordered pieces: each effect moves with its piece and keeps its place in the list.
      {{seg(6000, 9000), seg(0, 3000)}, {{Fade::In, 1000, 500}, {Fade::Out, 7000, 800}},
       {{Fade::In, 4000, 500}, {Fade::Out, 1000, 800}}},
      {{seg(0, 500)}, effects, {}},
      {{}, effects, {}},
      {removeMiddle, {}, {}},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(asTuples(ui::effectsAfter(cases[i].plan, cases[i].effects)), asTuples(cases[i].want)) << "case " << i;
  }
}

}  // namespace

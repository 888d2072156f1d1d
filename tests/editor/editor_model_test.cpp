// The editor's pure functions: time text, marker range, fade curve, effect
// spans, and the mapping of times, clip boundaries and effects onto the
// timeline of a re-rendered video.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "editor/editor.h"

namespace {

using media::Fade;
using media::Segment;

Segment seg(double in, double out, const std::string& path = "") { return Segment{path, in, out}; }
Fade fade(int kind, double at, double length) { return Fade{kind, at, length}; }

TEST(EditorModel, FormatTimeMs) {
  EXPECT_EQ(ui::formatTimeMs(-5), "0:00.00");
  EXPECT_EQ(ui::formatTimeMs(0), "0:00.00");
  EXPECT_EQ(ui::formatTimeMs(61234), "1:01.23");
  EXPECT_EQ(ui::formatTimeMs(999.9), "0:00.99");
  EXPECT_EQ(ui::formatTimeMs(3599999), "59:59.99");
  EXPECT_EQ(ui::formatTimeMs(3600000), "1:00:00");
  EXPECT_EQ(ui::formatTimeMs(7322500), "2:02:02");
  EXPECT_EQ(ui::formatTimeMs(360000000), "100:00:00");
  EXPECT_EQ(ui::formatTimeMs(std::numeric_limits<double>::quiet_NaN()), "0:00.00");
  EXPECT_FALSE(ui::formatTimeMs(std::numeric_limits<double>::infinity()).empty());
}

TEST(EditorModel, CutRange) {
  ui::EditorState s;
  double from = -7;
  double to = -7;
  EXPECT_FALSE(ui::cutRange(s, 9000, &from, &to));  // neither marker
  EXPECT_EQ(from, -7);

  s.markOutMs = 5000;  // OUT alone: from the start
  ASSERT_TRUE(ui::cutRange(s, 9000, &from, &to));
  EXPECT_EQ(from, 0);
  EXPECT_EQ(to, 5000);

  s.markInMs = 2500;
  s.markOutMs = -1;  // IN alone: to the end
  ASSERT_TRUE(ui::cutRange(s, 9000, &from, nullptr));
  EXPECT_EQ(from, 2500);
  ASSERT_TRUE(ui::cutRange(s, 9000, nullptr, &to));
  EXPECT_EQ(to, 9000);

  s.markInMs = 100;
  s.markOutMs = 105;  // under 10 ms
  EXPECT_FALSE(ui::cutRange(s, 9000, &from, &to));
  s.markOutMs = 110;  // exactly 10 ms is a range
  EXPECT_TRUE(ui::cutRange(s, 9000, &from, &to));
  s.markInMs = 6000;
  s.markOutMs = 4000;  // OUT before IN
  EXPECT_FALSE(ui::cutRange(s, 9000, &from, &to));
  s.markInMs = 8995;
  s.markOutMs = -1;  // IN within 10 ms of the end
  EXPECT_FALSE(ui::cutRange(s, 9000, &from, &to));
}

TEST(EditorModel, FadeFactorAndSpans) {
  const Fade out = fade(Fade::Out, 2000, 1000);
  const Fade in = fade(Fade::In, 1000, 1000);
  EXPECT_DOUBLE_EQ(ui::fadeFactorAt({}, 123), 1.0);
  EXPECT_DOUBLE_EQ(ui::fadeFactorAt({out}, 2000), 0.0);  // a fade out ends black
  EXPECT_DOUBLE_EQ(ui::fadeFactorAt({out}, 1500), 0.5);
  EXPECT_DOUBLE_EQ(ui::fadeFactorAt({out}, 1000), 1.0);
  EXPECT_DOUBLE_EQ(ui::fadeFactorAt({out}, 2000.5), 1.0);  // past its span
  EXPECT_DOUBLE_EQ(ui::fadeFactorAt({in}, 1000), 1.0);     // a fade in ends bright
  EXPECT_DOUBLE_EQ(ui::fadeFactorAt({in}, 0), 0.0);
  EXPECT_DOUBLE_EQ(ui::fadeFactorAt({in}, 250), 0.25);
  // Overlapping fades: the darker one wins.
  EXPECT_DOUBLE_EQ(ui::fadeFactorAt({fade(Fade::Out, 1500, 1000), in}, 900), 0.6);
  EXPECT_DOUBLE_EQ(ui::fadeFactorAt({in, fade(Fade::Out, 1500, 1000)}, 900), 0.6);
  EXPECT_DOUBLE_EQ(ui::fadeFactorAt({in, fade(Fade::Out, 1500, 1000)}, 400), 0.4);
  // Zero and negative lengths and cross fades do not dim the picture.
  EXPECT_DOUBLE_EQ(ui::fadeFactorAt({fade(Fade::Out, 500, 0)}, 500), 1.0);
  EXPECT_DOUBLE_EQ(ui::fadeFactorAt({fade(Fade::Out, 500, -100)}, 550), 1.0);
  EXPECT_DOUBLE_EQ(ui::fadeFactorAt({fade(Fade::Cross, 500, 400)}, 500), 1.0);

  double from = 0;
  double to = 0;
  ui::effectSpan(out, &from, &to);
  EXPECT_EQ(from, 1000);
  EXPECT_EQ(to, 2000);
  ui::effectSpan(fade(Fade::Cross, 5000, 300), &from, &to);
  EXPECT_EQ(from, 4700);
  EXPECT_EQ(to, 5300);
  ui::effectSpan(in, nullptr, &to);
  EXPECT_EQ(to, 1000);
  ui::effectSpan(in, &from, nullptr);
  EXPECT_EQ(from, 0);

  EXPECT_TRUE(ui::effectCovers(out, 1000));
  EXPECT_TRUE(ui::effectCovers(out, 2000));
  EXPECT_FALSE(ui::effectCovers(out, 2000.01));
  EXPECT_FALSE(ui::effectCovers(out, 999.99));
  EXPECT_TRUE(ui::effectCovers(fade(Fade::Cross, 5000, 300), 5300));
  EXPECT_FALSE(ui::effectCovers(fade(Fade::Cross, 5000, 300), 5300.5));
}

TEST(EditorModel, TimeAfter) {
  const std::vector<Segment> plan = {seg(0, 5000), seg(3000, 3000), seg(8000, 12000)};
  EXPECT_DOUBLE_EQ(ui::timeAfter(plan, 0), 0);
  EXPECT_DOUBLE_EQ(ui::timeAfter(plan, 4000), 4000);
  EXPECT_DOUBLE_EQ(ui::timeAfter(plan, 6000), -1);
  EXPECT_DOUBLE_EQ(ui::timeAfter(plan, 8000), 5000);
  EXPECT_DOUBLE_EQ(ui::timeAfter(plan, 12000), 9000);
  EXPECT_DOUBLE_EQ(ui::timeAfter(plan, 12001), -1);
  EXPECT_DOUBLE_EQ(ui::timeAfter({}, 10), -1);
  // A time on a shared end belongs to the earlier segment.
  EXPECT_DOUBLE_EQ(ui::timeAfter({seg(5000, 9000), seg(0, 5000)}, 5000), 0);
  EXPECT_DOUBLE_EQ(ui::timeAfter({seg(0, 5000), seg(5000, 9000)}, 5000), 5000);
}

TEST(EditorModel, BoundsAfter) {
  const std::vector<Segment> removeMiddle = {seg(0, 5000), seg(8000, 12000)};
  EXPECT_EQ(ui::boundsAfter(removeMiddle, {}), (std::vector<double>{5000}));
  EXPECT_EQ(ui::boundsAfter(removeMiddle, {9000}), (std::vector<double>{5000, 6000}));
  // Old boundaries in the removed part are dropped.
  EXPECT_EQ(ui::boundsAfter(removeMiddle, {6000, 7000}), (std::vector<double>{5000}));
  // Within 1 ms of a piece's edge: the seam stands for it.
  EXPECT_EQ(ui::boundsAfter(removeMiddle, {8000.5, 4999.2, 11999.5, 0.5}), (std::vector<double>{5000}));
  EXPECT_EQ(ui::boundsAfter(removeMiddle, {1.5}), (std::vector<double>{1.5, 5000}));
  // Closer than 2 ms: the first one stays.
  EXPECT_EQ(ui::boundsAfter({seg(0, 10000)}, {3000, 3001.5}), (std::vector<double>{3000}));
  EXPECT_EQ(ui::boundsAfter({seg(0, 10000)}, {3000, 3002}), (std::vector<double>{3000, 3002}));
  EXPECT_EQ(ui::boundsAfter(removeMiddle, {8001.5}), (std::vector<double>{5000}));
  EXPECT_EQ(ui::boundsAfter(removeMiddle, {4998.5}), (std::vector<double>{4998.5}));
  // Unsorted input, a single piece: only its inner boundaries, shifted.
  EXPECT_EQ(ui::boundsAfter({seg(2000, 9000)}, {7000, 1000, 3000}), (std::vector<double>{1000, 5000}));
  // Empty pieces are skipped, also before the first kept one.
  EXPECT_EQ(ui::boundsAfter({seg(700, 700), seg(1000, 3000), seg(50, 10)}, {2000}),
            (std::vector<double>{1000}));
  EXPECT_TRUE(ui::boundsAfter({}, {1000}).empty());
}

TEST(EditorModel, EffectsAfter) {
  const std::vector<Segment> removeMiddle = {seg(0, 5000), seg(8000, 12000)};
  const std::vector<Fade> effects = {fade(Fade::In, 1000, 1000), fade(Fade::Cross, 6000, 300),
                                     fade(Fade::Out, 12000, 800), fade(Fade::Cross, 5000, 200)};
  const std::vector<Fade> after = ui::effectsAfter(removeMiddle, effects);
  ASSERT_EQ(after.size(), 3u);  // the cross fade at 6000 lay in the removed part
  EXPECT_EQ(after[0].kind, Fade::In);
  EXPECT_DOUBLE_EQ(after[0].atMs, 1000);
  EXPECT_EQ(after[1].kind, Fade::Out);
  EXPECT_DOUBLE_EQ(after[1].atMs, 9000);
  EXPECT_DOUBLE_EQ(after[1].lengthMs, 800);
  EXPECT_EQ(after[2].kind, Fade::Cross);
  EXPECT_DOUBLE_EQ(after[2].atMs, 5000);
  EXPECT_DOUBLE_EQ(after[2].lengthMs, 200);

  EXPECT_TRUE(ui::effectsAfter({seg(0, 500)}, effects).empty());
  EXPECT_TRUE(ui::effectsAfter({}, effects).empty());
  EXPECT_TRUE(ui::effectsAfter(removeMiddle, {}).empty());
}

// --- Random plans ------------------------------------------------------------------------

// A kept piece of the old timeline and where it starts on the new one.
struct Piece {
  double in;
  double out;
  double start;
};

std::vector<Piece> layout(const std::vector<Segment>& plan) {
  std::vector<Piece> pieces;
  double start = 0;
  for (const Segment& s : plan) {
    if (s.outMs <= s.inMs) continue;
    pieces.push_back({s.inMs, s.outMs, start});
    start += s.outMs - s.inMs;
  }
  return pieces;
}

// The first piece holding old time t, or -1.
int pieceOf(const std::vector<Piece>& pieces, double t) {
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (t >= pieces[i].in && t <= pieces[i].out) return static_cast<int>(i);
  }
  return -1;
}

enum class PlanKind { Keep, Remove, Reorder, Pieces };


// Plans as the cut sheet, the clip reordering and arbitrary edits make them
// on a timeline of length total.
std::vector<Segment> makePlan(PlanKind kind, std::mt19937& rng, double total) {
  std::uniform_real_distribution<double> at(0, total);
  std::vector<Segment> plan;
  switch (kind) {
    case PlanKind::Keep: {
      double a = at(rng);
      double b = at(rng);
      plan.push_back(seg(std::min(a, b), std::max(a, b)));
      break;
    }
    case PlanKind::Remove: {
      double a = at(rng);
      double b = at(rng);
      if (a > b) std::swap(a, b);
      if (rng() % 4 == 0) a = 0.5;  // a range starting within the first millisecond
      if (a > 1.0) plan.push_back(seg(0, a));
      if (b < total - 1.0) plan.push_back(seg(b, total));
      break;
    }
    case PlanKind::Reorder: {
      std::vector<double> cuts = {0, total};
      const int n = 1 + static_cast<int>(rng() % 5);
      for (int i = 0; i < n; ++i) cuts.push_back(at(rng));
      std::sort(cuts.begin(), cuts.end());
      for (size_t i = 0; i + 1 < cuts.size(); ++i) plan.push_back(seg(cuts[i], cuts[i + 1]));
      std::shuffle(plan.begin(), plan.end(), rng);
      break;
    }
    case PlanKind::Pieces: {
      const int n = static_cast<int>(rng() % 6);
      for (int i = 0; i < n; ++i) {
        const double a = at(rng);
        // Now and then an empty or reversed piece, which every mapping skips.
        const double length = rng() % 5 == 0 ? -at(rng) / 10 : at(rng) / 3;
        plan.push_back(seg(a, a + length));
      }
      break;
    }
  }
  return plan;
}

// Checks one random plan of the given kind against the segments' own layout.
void checkRandomPlan(PlanKind kind, unsigned seed) {
  std::mt19937 rng(seed);
  const double total = 2000 + static_cast<double>(rng() % 60000);
  std::uniform_real_distribution<double> at(0, total);

  std::vector<double> bounds;
  for (int i = 0, n = static_cast<int>(rng() % 8); i < n; ++i) bounds.push_back(at(rng));
  std::sort(bounds.begin(), bounds.end());
  std::vector<Fade> effects;
  for (int i = 0, n = static_cast<int>(rng() % 8); i < n; ++i) {
    effects.push_back(fade(static_cast<int>(rng() % 3), at(rng), 50 + at(rng) / 20));
  }
  const std::vector<Segment> plan = makePlan(kind, rng, total);
  const std::vector<Piece> pieces = layout(plan);
  const double newTotal = pieces.empty() ? 0 : pieces.back().start + (pieces.back().out - pieces.back().in);
  SCOPED_TRACE("seed " + std::to_string(seed) + ", " + std::to_string(pieces.size()) + " pieces");

  // Times: a time inside a piece comes out at the same offset into it.
  for (int i = 0; i < 20; ++i) {
    const double t = at(rng);
    const int k = pieceOf(pieces, t);
    const double mapped = ui::timeAfter(plan, t);
    if (k < 0) {
      EXPECT_EQ(mapped, -1.0) << t;
    } else {
      EXPECT_NEAR(mapped, pieces[k].start + (t - pieces[k].in), 1e-6) << t;
    }
  }

  // Boundaries: the seams between pieces and the old boundaries well inside
  // a piece are the candidates; the result is ascending, at least 2 ms apart,
  // made only of candidates, and within 2 ms of (at or before) every one.
  std::vector<double> candidates;
  for (size_t k = 0; k < pieces.size(); ++k) {
    if (k > 0) candidates.push_back(pieces[k].start);
    for (double b : bounds) {
      if (b > pieces[k].in + 1 && b < pieces[k].out - 1) candidates.push_back(pieces[k].start + b - pieces[k].in);
    }
  }
  const std::vector<double> mapped = ui::boundsAfter(plan, bounds);
  for (size_t i = 0; i < mapped.size(); ++i) {
    EXPECT_GT(mapped[i], 0.0);
    EXPECT_LT(mapped[i], newTotal);
    if (i > 0) {
      EXPECT_GE(mapped[i] - mapped[i - 1], 2.0);
    }
    EXPECT_TRUE(std::any_of(candidates.begin(), candidates.end(),
                            [&](double c) { return std::fabs(c - mapped[i]) < 1e-6; }))
        << mapped[i];
  }
  for (double c : candidates) {
    EXPECT_TRUE(std::any_of(mapped.begin(), mapped.end(), [&](double m) { return m <= c + 1e-6 && c - m < 2.0; }))
        << c;
  }

  // Effects: the survivors in their order, each at its offset into the first
  // piece holding its anchor, kind and length unchanged.
  const std::vector<Fade> moved = ui::effectsAfter(plan, effects);
  size_t next = 0;
  for (const Fade& f : effects) {
    const int k = pieceOf(pieces, f.atMs);
    if (k < 0) continue;
    if (next >= moved.size()) {
      ADD_FAILURE() << "effect at " << f.atMs << " was dropped";
      return;
    }
    EXPECT_EQ(moved[next].kind, f.kind);
    EXPECT_EQ(moved[next].lengthMs, f.lengthMs);
    EXPECT_NEAR(moved[next].atMs, pieces[k].start + (f.atMs - pieces[k].in), 1e-6);
    EXPECT_GE(moved[next].atMs, 0.0);
    EXPECT_LE(moved[next].atMs, newTotal + 1e-6);
    ++next;
  }
  EXPECT_EQ(next, moved.size());
}

class RandomPlans : public ::testing::TestWithParam<PlanKind> {};

TEST_P(RandomPlans, BoundariesAndEffectsLandWhereTheSegmentsPutThem) {
  constexpr unsigned kPlansPerKind = 60;
  for (unsigned i = 1; i <= kPlansPerKind; ++i) checkRandomPlan(GetParam(), i * 7919u);
}

std::string planName(const ::testing::TestParamInfo<PlanKind>& info) {
  static const char* const kNames[] = {"Keep", "Remove", "Reorder", "Pieces"};
  return kNames[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Plans, RandomPlans,
                         ::testing::Values(PlanKind::Keep, PlanKind::Remove, PlanKind::Reorder, PlanKind::Pieces),
                         planName);

}  // namespace

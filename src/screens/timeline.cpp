#include "screens/timeline.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "core/i18n.h"
#include "core/settings.h"
#include "editor/document.h"
#include "editor/filmstrip.h"
#include "platform/log.h"
#include "screens/editor_parts.h"
#include "screens/flows.h"
#include "ui/draw.h"
#include "ui/frames.h"

namespace ui {

namespace {

// Pointer movement (px) that turns a press into a drag.
constexpr double kDragThreshold = 3.0;
// Snap radius (px).
constexpr double kSnapPx = 7.0;
// Minimum screen spacing of grid lines (px).
constexpr double kGridMinPx = 40.0;
// Marker handles are grabbed within this radius (px).
constexpr double kHandleRadius = 7.0;
// An effect's edge is grabbed within this distance (px).
constexpr double kEdgeGrab = 6.0;
// Markers keep at least this much time between them.
constexpr double kMinRangeMs = 10.0;
// Shortest effect a resize leaves.
constexpr double kMinEffectMs = 20.0;

const char* kKindLog[] = {"Einblenden", "Ausblenden", "Ueberblenden"};
const uint32_t kKindColor[] = {0x4CAF7D, 0xD98E4A, 0xA07CD8};

// Rows of the area, in design pixels from its top.
struct Rows {
  Rect zoomOut, zoomIn, strip, peaks, effects, range, ruler, scroll;
};

Rows rowsFor(const Rect& a, double s) {
  const double x = 76 * s;
  const double w = a.w - 92 * s;
  Rows r;
  r.zoomOut = Rect{16 * s, a.y + 22 * s, 26 * s, 26 * s};
  r.zoomIn = Rect{46 * s, a.y + 22 * s, 26 * s, 26 * s};
  r.strip = Rect{x, a.y + 10 * s, w, 50 * s};
  r.peaks = Rect{x, a.y + 62 * s, w, 16 * s};
  r.effects = Rect{x, a.y + 81 * s, w, 12 * s};
  r.range = Rect{x, a.y + 95 * s, w, 12 * s};
  r.ruler = Rect{x, a.y + 109 * s, w, 11 * s};
  r.scroll = Rect{x, a.y + 121 * s, w, 4 * s};
  return r;
}

// Gesture bookkeeping that lives only while a press lasts.
double g_lastMx = 0;
double g_effectMoved = 0;
double g_clipMoved = 0;
double g_scrollMoved = 0;

double frameDx(const Ctx& ctx) {
  const double dx = ctx.in.mx - g_lastMx;
  return dx;
}

// Start and end of each clip on the timeline: the boundaries when they match
// the clip list, else the clip lengths laid end to end.
std::vector<std::pair<double, double>> clipSpans(const EditorState& s, double duration) {
  std::vector<std::pair<double, double>> out;
  const size_t n = s.clips.size();
  if (n < 2) return out;
  if (s.clipBounds.size() + 1 == n) {
    double a = 0;
    for (size_t i = 0; i < n; ++i) {
      const double b = i + 1 < n ? s.clipBounds[i] : duration;
      out.emplace_back(a, b);
      a = b;
    }
    return out;
  }
  double a = 0;
  for (const media::Segment& seg : s.clips) {
    const double b = a + std::max(0.0, seg.lengthMs());
    out.emplace_back(a, b);
    a = b;
  }
  return out;
}

std::string zoomText(double zoom) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%f", zoom);
  return std::string(buf).substr(0, 4);
}

void logZoom(double zoom) { diag::action("Zeitleiste: Zoom " + zoomText(zoom)); }

// --- Drawing pieces ----------------------------------------------------------------

void drawRuler(Ctx& ctx, const Rect& r, const TimelineView& v, double step, double duration) {
  cairo_t* cr = ctx.cr;
  const double stepPx = step * v.pxPerMs();
  int every = 1;
  for (int k : {1, 2, 5, 10, 20, 50, 100}) {
    every = k;
    if (k * stepPx >= 72 * ctx.uiScale) break;
  }
  TextStyle st;
  st.size = 9 * ctx.uiScale;
  st.color = 0x8E9AA5;
  const double end = std::min(v.startMs + v.lengthMs, duration);
  long long i0 = static_cast<long long>(std::ceil(v.startMs / step));
  for (long long i = i0; i * step <= end + 0.001 && i - i0 < 2000; ++i) {
    const double x = v.pxAt(static_cast<double>(i) * step);
    const bool labelled = i % every == 0;
    drawLine(cr, x, r.y, x, r.y + (labelled ? 4 : 2) * ctx.uiScale, 1, 0x5A6672, 1.0);
    if (labelled && x + 2 < r.x + r.w - 24 * ctx.uiScale) {
      drawText(cr, x + 2 * ctx.uiScale, r.y + 1 * ctx.uiScale, formatTimeMs(static_cast<double>(i) * step), st);
    }
  }
}

void drawPlayheadAndMarkers(Ctx& ctx, const Rows& rows, const TimelineView& v, const EditorState& s) {
  cairo_t* cr = ctx.cr;
  const double top = rows.strip.y;
  const double bottom = rows.range.y + rows.range.h;
  auto inView = [&](double ms) { return ms >= v.startMs && ms <= v.startMs + v.lengthMs; };
  for (double m : {s.markInMs, s.markOutMs}) {
    if (m >= 0 && inView(m)) drawLine(cr, v.pxAt(m), top, v.pxAt(m), rows.peaks.y + rows.peaks.h, 1.5, 0x5E9FD4, 0.9);
  }
  if (inView(s.playheadMs)) {
    const double x = v.pxAt(s.playheadMs);
    ctx.hit("timeline.playhead", Rect{x - 4 * ctx.uiScale, top - 4 * ctx.uiScale, 8 * ctx.uiScale, bottom - top + 4 * ctx.uiScale});
    drawLine(cr, x, top - 3 * ctx.uiScale, x, bottom, 2 * ctx.uiScale, 0xF2C94C, 1.0);
    fillCircle(cr, x, top - 3 * ctx.uiScale, 4 * ctx.uiScale, 0xF2C94C, 1.0);
  }
}

// --- Gestures --------------------------------------------------------------------------

void wheel(Ctx& ctx, const Rect& area, EditorState& s, const TimelineView& v, double duration) {
  if (ctx.in.wheel == 0 || !ctx.hover(area)) return;
  if (ctx.in.shift) {
    s.scrollMs = clampScroll(s, duration, s.scrollMs - ctx.in.wheel * 0.15 * v.lengthMs);
  } else if (zoomTimeline(s, duration, ctx.in.wheel > 0 ? 1.25 : 0.8, std::clamp(v.msAt(ctx.in.mx), 0.0, duration))) {
    logZoom(s.zoom);
  }
  ctx.in.wheel = 0;
}

void zoomButtons(Ctx& ctx, const Rows& rows, EditorState& s, const TimelineView& v, double duration) {
  const double centre = v.startMs + v.lengthMs / 2;
  if (barButton(ctx, rows.zoomOut, Icon::Minus, s.zoom > 1.0, "timeline.zoomOut", "timeline.zoomOut",
                16 * ctx.uiScale) &&
      zoomTimeline(s, duration, 1 / 1.5, centre)) {
    logZoom(s.zoom);
  }
  if (barButton(ctx, rows.zoomIn, Icon::Plus, s.zoom < maxTimelineZoom(duration), "timeline.zoomIn",
                "timeline.zoomIn", 16 * ctx.uiScale) &&
      zoomTimeline(s, duration, 1.5, centre)) {
    logZoom(s.zoom);
  }
}

void scrollBar(Ctx& ctx, const Rows& rows, EditorState& s, double duration) {
  const Rect& r = rows.scroll;
  if (s.zoom <= 1.001 && !s.scrollDragging) return;
  const Rect grab{r.x, r.y - 3 * ctx.uiScale, r.w, r.h + 6 * ctx.uiScale};
  ctx.hit("timeline.scroll", grab);
  const double thumbW = std::max(12 * ctx.uiScale, r.w / s.zoom);
  const double thumbX = r.x + (duration > 0 ? s.scrollMs / duration * r.w : 0);
  fillRoundedRect(ctx.cr, r, r.h / 2, 0x2F3944, 1.0);
  fillRoundedRect(ctx.cr, Rect{thumbX, r.y, thumbW, r.h}, r.h / 2, s.scrollDragging ? 0xEDF1F4 : 0x8E9AA5, 1.0);
  if (ctx.in.pressed && grab.contains(ctx.in.mx, ctx.in.my)) {
    s.scrollDragging = true;
    g_scrollMoved = 0;
    g_lastMx = ctx.in.mx;
    if (ctx.in.mx < thumbX || ctx.in.mx > thumbX + thumbW) {  // a press beside the thumb centres it there
      s.scrollMs = clampScroll(s, duration, (ctx.in.mx - r.x) / r.w * duration - duration / s.zoom / 2);
    }
  } else if (s.scrollDragging && ctx.in.held) {
    s.scrollMs = clampScroll(s, duration, s.scrollMs + frameDx(ctx) * duration / r.w);
  }
  if (s.scrollDragging && (ctx.in.released || !ctx.in.held)) {
    s.scrollDragging = false;
    ctx.takeClick(grab);
    diag::action("Zeitleiste geschoben auf " + formatTimeMs(s.scrollMs));
  }
}

void rangeStrip(Ctx& ctx, const Rows& rows, EditorState& s, const TimelineView& v, double duration, double fps) {
  const Rect& r = rows.range;
  ctx.hit("timeline.range", r);
  fillRoundedRect(ctx.cr, r, 3 * ctx.uiScale, 0x222A33, 1.0);
  double from = 0, to = 0;
  const bool range = cutRange(s, duration, &from, &to);
  const double hr = kHandleRadius * ctx.uiScale;
  const double cy = r.y + r.h / 2;
  if (range) {
    const double x0 = std::max(r.x, v.pxAt(from));
    const double x1 = std::min(r.x + r.w, v.pxAt(to));
    if (x1 > x0) fillRect(ctx.cr, Rect{x0, r.y + 2 * ctx.uiScale, x1 - x0, r.h - 4 * ctx.uiScale}, 0x5E9FD4, 0.45);
    for (int k = 0; k < 2; ++k) {
      const double x = v.pxAt(k == 0 ? from : to);
      if (x < r.x - hr || x > r.x + r.w + hr) continue;
      ctx.hit(k == 0 ? "timeline.in" : "timeline.out", Rect{x - hr, cy - hr, 2 * hr, 2 * hr});
      fillCircle(ctx.cr, x, cy, 5 * ctx.uiScale, 0x5E9FD4, 1.0);
      strokeCircle(ctx.cr, x, cy, 5 * ctx.uiScale, 1, 0xEDF1F4, 0.9);
    }
  }

  const double px = v.pxPerMs();
  const double t = v.msAt(ctx.in.mx);
  if (ctx.in.pressed && r.contains(ctx.in.mx, ctx.in.my) && !ctx.clickTaken) {
    s.rangePressMs = t;
    s.rangeDragMoved = 0;
    s.rangeDragging = false;
    s.gestureActive = true;
    if (range && std::fabs(ctx.in.mx - v.pxAt(from)) <= hr) {
      s.rangeDragMode = 1;
    } else if (range && std::fabs(ctx.in.mx - v.pxAt(to)) <= hr) {
      s.rangeDragMode = 2;
    } else if (range && t >= from && t <= to) {
      s.rangeDragMode = 0;
    } else {
      s.rangeDragMode = 3;  // outside the range: only a click (seek) can come of it
    }
    s.rangeGrabOffset = t - from;
    s.rangeLength = to - from;
    g_lastMx = ctx.in.mx;
  }
  if (s.rangeDragMode < 0) return;
  s.rangeDragMoved += std::fabs(frameDx(ctx));
  if (s.rangeDragMoved > kDragThreshold && s.rangeDragMode != 3) s.rangeDragging = true;
  if (s.rangeDragging && ctx.in.held) {
    SnapOptions opt;
    opt.playhead = true;
    if (s.rangeDragMode == 1) {
      opt.skipIn = true;
      const double out = s.markOutMs >= 0 ? s.markOutMs : duration;
      s.markInMs = std::clamp(snapTimelineTime(s, duration, fps, px, t, opt), 0.0, out - kMinRangeMs);
    } else if (s.rangeDragMode == 2) {
      opt.skipOut = true;
      const double in = s.markInMs >= 0 ? s.markInMs : 0;
      s.markOutMs = std::clamp(snapTimelineTime(s, duration, fps, px, t, opt), in + kMinRangeMs, duration);
    } else if (s.rangeDragMode == 0) {
      opt.skipIn = opt.skipOut = true;
      const double start = std::clamp(snapTimelineTime(s, duration, fps, px, t - s.rangeGrabOffset, opt), 0.0,
                                      std::max(0.0, duration - s.rangeLength));
      s.markInMs = start;
      s.markOutMs = start + s.rangeLength;
    }
  }
  if (ctx.in.released || !ctx.in.held) {
    const int mode = s.rangeDragMode;
    s.rangeDragMode = -1;
    s.gestureActive = false;
    ctx.takeClick(r);
    if (!s.rangeDragging) {
      seekPlayhead(std::clamp(snapTimelineTime(s, duration, fps, px, s.rangePressMs), 0.0, duration));
      diag::action("Sprung auf " + formatTimeMs(s.playheadMs));
      return;
    }
    s.rangeDragging = false;
    const std::string span = formatTimeMs(s.markInMs) + " – " + formatTimeMs(s.markOutMs);
    if (mode == 1) diag::action("IN gezogen: " + span);
    if (mode == 2) diag::action("OUT gezogen: " + span);
    if (mode == 0) diag::action("Bereich verschoben: " + span);
  }
}

void effectsTrack(Ctx& ctx, const Rows& rows, EditorState& s, const TimelineView& v, double duration, double fps) {
  const Rect& r = rows.effects;
  ctx.hit("timeline.effects", r);
  fillRoundedRect(ctx.cr, r, 3 * ctx.uiScale, 0x222A33, 1.0);
  const double px = v.pxPerMs();
  std::vector<Rect> rects(s.effects.size());
  for (size_t i = 0; i < s.effects.size(); ++i) {
    double a = 0, b = 0;
    effectSpan(s.effects[i], &a, &b);
    double x0 = v.pxAt(a), x1 = v.pxAt(b);
    if (x1 - x0 < 6 * ctx.uiScale) {
      const double c = (x0 + x1) / 2;
      x0 = c - 3 * ctx.uiScale;
      x1 = c + 3 * ctx.uiScale;
    }
    rects[i] = Rect{x0, r.y, x1 - x0, r.h};
    char id[32];
    std::snprintf(id, sizeof id, "effect.%zu", i);
    ctx.hit(id, rects[i]);
    const int kind = std::clamp(s.effects[i].kind, 0, 2);
    cairo_save(ctx.cr);
    cairo_rectangle(ctx.cr, r.x, r.y, r.w, r.h);
    cairo_clip(ctx.cr);
    const bool dragged = s.draggedEffect == static_cast<int>(i);
    fillRoundedRect(ctx.cr, rects[i], 3 * ctx.uiScale, kKindColor[kind], dragged ? 1.0 : 0.8);
    // The ramp shows the direction of the fade; a cross fade peaks at its anchor.
    cairo_t* cr = ctx.cr;
    setColor(cr, 0xFFFFFF, 0.35);
    const Rect& q = rects[i];
    if (kind == 0) {
      cairo_move_to(cr, q.x, q.y + q.h);
      cairo_line_to(cr, q.x + q.w, q.y);
      cairo_line_to(cr, q.x + q.w, q.y + q.h);
    } else if (kind == 1) {
      cairo_move_to(cr, q.x, q.y);
      cairo_line_to(cr, q.x + q.w, q.y + q.h);
      cairo_line_to(cr, q.x, q.y + q.h);
    } else {
      cairo_move_to(cr, q.x, q.y + q.h);
      cairo_line_to(cr, q.x + q.w / 2, q.y);
      cairo_line_to(cr, q.x + q.w, q.y + q.h);
    }
    cairo_close_path(cr);
    cairo_fill(cr);
    cairo_restore(ctx.cr);
  }

  const double t = v.msAt(ctx.in.mx);
  if (s.armedKind >= 0 && ctx.hover(r)) {
    const double x = v.pxAt(snapTimelineTime(s, duration, fps, px, t, SnapOptions{true}));
    drawLine(ctx.cr, x, r.y, x, r.y + r.h, 2 * ctx.uiScale, kKindColor[std::clamp(s.armedKind, 0, 2)], 1.0);
  }

  if (ctx.in.pressed && r.contains(ctx.in.mx, ctx.in.my) && !ctx.clickTaken) {
    if (s.armedKind >= 0 && s.armedKind <= 2) {
      media::Fade f;
      f.kind = s.armedKind;
      f.atMs = std::clamp(snapTimelineTime(s, duration, fps, px, t, SnapOptions{true}), 0.0, duration);
      f.lengthMs = settings::get().videoFadeMs;
      s.effects.push_back(f);
      s.armedKind = -1;
      ctx.takeClick(r);
      diag::action(std::string("Effekt gesetzt: ") + kKindLog[f.kind] + " bei " + formatTimeMs(f.atMs));
      return;
    }
    for (size_t k = rects.size(); k-- > 0;) {
      if (!rects[k].contains(ctx.in.mx, ctx.in.my)) continue;
      const media::Fade& f = s.effects[k];
      double a = 0, b = 0;
      effectSpan(f, &a, &b);
      s.draggedEffect = static_cast<int>(k);
      g_effectMoved = 0;
      s.gestureStartMs = t;
      if (std::fabs(ctx.in.mx - rects[k].x) <= kEdgeGrab * ctx.uiScale && rects[k].w > 3 * kEdgeGrab * ctx.uiScale) {
        s.effectDragPart = 1;
        s.effectGrabOffsetMs = t - a;
      } else if (std::fabs(ctx.in.mx - (rects[k].x + rects[k].w)) <= kEdgeGrab * ctx.uiScale &&
                 rects[k].w > 3 * kEdgeGrab * ctx.uiScale) {
        s.effectDragPart = 2;
        s.effectGrabOffsetMs = t - b;
      } else {
        s.effectDragPart = 0;
        s.effectGrabOffsetMs = t - f.atMs;
      }
      g_lastMx = ctx.in.mx;
      break;
    }
    if (s.draggedEffect < 0) return;
  }

  if (s.draggedEffect < 0 || s.draggedEffect >= static_cast<int>(s.effects.size())) {
    s.draggedEffect = -1;
    return;
  }
  media::Fade& f = s.effects[static_cast<size_t>(s.draggedEffect)];
  g_effectMoved += std::fabs(frameDx(ctx));
  const bool moving = g_effectMoved > kDragThreshold;
  if (moving && ctx.in.held) {
    SnapOptions opt;
    opt.playhead = true;
    opt.skipEffect = s.draggedEffect;
    const double at = snapTimelineTime(s, duration, fps, px, t - s.effectGrabOffsetMs, opt);
    double a = 0, b = 0;
    effectSpan(f, &a, &b);
    if (s.effectDragPart == 0) {
      f.atMs = std::clamp(at, 0.0, duration);
    } else if (f.kind == media::Fade::Cross) {
      f.lengthMs = std::max(kMinEffectMs, std::fabs(at - f.atMs));
    } else if (s.effectDragPart == 1) {
      f.lengthMs = std::max(kMinEffectMs, f.atMs - std::max(0.0, at));
    } else {
      // The end of a fade is its anchor: it moves, the start stays.
      const double end = std::clamp(at, a + kMinEffectMs, duration);
      f.atMs = end;
      f.lengthMs = end - a;
    }
  }
  if (ctx.in.released || !ctx.in.held) {
    const int index = s.draggedEffect;
    const int part = s.effectDragPart;
    s.draggedEffect = -1;
    s.effectDragPart = -1;
    ctx.takeClick(r);
    if (!moving) {
      seekPlayhead(std::clamp(snapTimelineTime(s, duration, fps, px, s.gestureStartMs), 0.0, duration));
      diag::action("Sprung auf " + formatTimeMs(s.playheadMs));
    } else if (part == 0) {
      diag::action("Effekt " + std::to_string(index + 1) + " verschoben auf " + formatTimeMs(f.atMs));
    } else {
      diag::action("Effekt " + std::to_string(index + 1) + " in der Laenge geaendert: " + msText(f.lengthMs));
    }
  }
}

// Clips of an assembled work on the ruler row: select with a click, reorder by dragging.
bool clipRow(Ctx& ctx, const Rows& rows, EditorState& s, const TimelineView& v, double duration) {
  const std::vector<std::pair<double, double>> spans = clipSpans(s, duration);
  if (spans.empty()) return false;
  const Rect& r = rows.ruler;
  std::vector<Rect> rects;
  for (size_t i = 0; i < spans.size(); ++i) {
    const double x0 = std::max(r.x, v.pxAt(spans[i].first));
    const double x1 = std::min(r.x + r.w, v.pxAt(spans[i].second));
    rects.push_back(Rect{x0, r.y, std::max(0.0, x1 - x0), r.h});
    char id[32];
    std::snprintf(id, sizeof id, "clip.%zu", i);
    if (rects[i].w > 0) ctx.hit(id, rects[i]);
    const bool selected = s.selectedClip == static_cast<int>(i);
    const uint32_t c = selected ? 0x2C6392 : (i % 2 ? 0x39434E : 0x2F3944);
    fillRoundedRect(ctx.cr, Rect{rects[i].x + 1, r.y, std::max(0.0, rects[i].w - 2), r.h}, 2 * ctx.uiScale, c,
                    s.draggedClip == static_cast<int>(i) ? 0.5 : 1.0);
  }
  // The place a dragged clip would go: the count of other clips whose middle lies left of the pointer.
  const double t = v.msAt(ctx.in.mx);
  auto targetFor = [&](int dragged) {
    int target = 0;
    for (size_t j = 0; j < spans.size(); ++j) {
      if (static_cast<int>(j) != dragged && (spans[j].first + spans[j].second) / 2 < t) ++target;
    }
    return target;
  };

  if (ctx.in.pressed && !ctx.clickTaken) {
    for (size_t i = 0; i < rects.size(); ++i) {
      if (!rects[i].contains(ctx.in.mx, ctx.in.my)) continue;
      s.draggedClip = static_cast<int>(i);
      s.clipDropTarget = static_cast<int>(i);
      s.gestureActive = true;
      g_clipMoved = 0;
      g_lastMx = ctx.in.mx;
      break;
    }
  }
  if (s.draggedClip < 0) return true;
  g_clipMoved += std::fabs(frameDx(ctx));
  const bool moving = g_clipMoved > kDragThreshold;
  if (moving) {
    s.clipDropTarget = targetFor(s.draggedClip);
    // The drop mark: where the clip would start.
    std::vector<std::pair<double, double>> rest;
    for (size_t j = 0; j < spans.size(); ++j) {
      if (static_cast<int>(j) != s.draggedClip) rest.push_back(spans[j]);
    }
    const double at = s.clipDropTarget < static_cast<int>(rest.size()) ? rest[static_cast<size_t>(s.clipDropTarget)].first
                                                                        : duration;
    const double x = v.pxAt(at);
    drawLine(ctx.cr, x, r.y - 2 * ctx.uiScale, x, r.y + r.h + 2 * ctx.uiScale, 2 * ctx.uiScale, 0xF2C94C, 1.0);
  }
  if (ctx.in.released || !ctx.in.held) {
    const int from = s.draggedClip;
    const int to = moving ? s.clipDropTarget : from;
    s.draggedClip = -1;
    s.clipDropTarget = -1;
    s.gestureActive = false;
    ctx.takeClick(r);
    if (!moving) {
      if (s.selectedClip == from) {
        s.selectedClip = -1;
        diag::action("Clip-Auswahl aufgehoben");
      } else {
        s.selectedClip = from;
        diag::action("Clip " + std::to_string(from + 1) + " ausgewaehlt");
      }
    } else if (to != from && from < static_cast<int>(s.clips.size())) {
      std::vector<media::Segment> order = s.clips;
      const media::Segment moved = order[static_cast<size_t>(from)];
      order.erase(order.begin() + from);
      order.insert(order.begin() + std::clamp(to, 0, static_cast<int>(order.size())), moved);
      diag::action("Clip " + std::to_string(from + 1) + " → Platz " + std::to_string(to + 1));
      s.selectedClip = -1;
      reorderClips(order);
    }
  }
  return true;
}

void body(Ctx& ctx, const Rect& r, EditorState& s, const TimelineView& v, double duration, double fps) {
  ctx.hit("timeline", r);
  if (ctx.in.pressed && r.contains(ctx.in.mx, ctx.in.my) && !ctx.clickTaken) {
    diag::action("Zeitleiste angefasst");
    s.timelinePressed = true;
    s.timelineMoved = 0;
    s.timelinePanning = false;
    g_lastMx = ctx.in.mx;
  }
  if (!s.timelinePressed) return;
  const double dx = frameDx(ctx);
  s.timelineMoved += std::fabs(dx);
  if (s.zoom > 1.001 && s.timelineMoved > kDragThreshold && ctx.in.held) {
    s.timelinePanning = true;
    s.scrollMs = clampScroll(s, duration, s.scrollMs - dx / v.pxPerMs());
  }
  if (ctx.in.released || !ctx.in.held) {
    s.timelinePressed = false;
    ctx.takeClick(r);
    if (!s.timelinePanning) {
      const double t = snapTimelineTime(s, duration, fps, v.pxPerMs(), v.msAt(ctx.in.mx));
      seekPlayhead(std::clamp(t, 0.0, duration));
      diag::action("Sprung auf " + formatTimeMs(s.playheadMs));
    }
    s.timelinePanning = false;
  }
}

}  // namespace

TimelineView timelineView(const EditorState& s, double durationMs, double x, double w) {
  TimelineView v;
  v.x = x;
  v.w = std::max(1.0, w);
  v.lengthMs = std::max(1e-3, durationMs / std::max(1.0, s.zoom));
  v.startMs = s.scrollMs;
  return v;
}

double maxTimelineZoom(double durationMs) { return durationMs > 1000.0 ? 4.0 * durationMs / 1000.0 : 4.0; }

double clampScroll(const EditorState& s, double durationMs, double scrollMs) {
  const double hi = std::max(0.0, durationMs - durationMs / std::max(1.0, s.zoom));
  return std::clamp(scrollMs, 0.0, hi);
}

bool zoomTimeline(EditorState& s, double durationMs, double factor, double anchorMs) {
  if (durationMs <= 0) return false;
  const double old = s.zoom;
  const double zoom = std::clamp(old * factor, 1.0, maxTimelineZoom(durationMs));
  if (zoom == old) return false;
  const double oldLength = durationMs / old;
  const double newLength = durationMs / zoom;
  const double oldStart = s.scrollMs;
  const double fraction = oldLength > 1.0 ? (anchorMs - oldStart) / oldLength : anchorMs - oldStart;
  s.zoom = zoom;
  s.scrollMs = clampScroll(s, durationMs, anchorMs - newLength * fraction);
  return true;
}

double timelineGridStep(double pxPerMs, double fps) {
  std::vector<double> steps{10.0};
  const double frame = fps > 0 ? 1000.0 / fps : 0;
  if (frame > 0) {
    for (double k : {1.0, 2.0, 5.0, 10.0}) {
      if (k * frame < 100.0) steps.push_back(k * frame);
    }
  }
  for (double st : {20.0, 50.0, 100.0, 250.0, 500.0, 1000.0, 2000.0, 5000.0, 10000.0, 15000.0, 30000.0, 60000.0,
                    120000.0, 300000.0, 600000.0}) {
    if (st > frame) steps.push_back(st);
  }
  std::sort(steps.begin(), steps.end());
  for (double st : steps) {
    if (st * pxPerMs >= kGridMinPx) return st;
  }
  return steps.back();
}

double snapTimelineTime(const EditorState& s, double durationMs, double fps, double pxPerMs, double t,
                        const SnapOptions& opt) {
  if (pxPerMs <= 0) return t;
  const double radius = kSnapPx / pxPerMs;
  double best = t;
  double bestDist = radius;
  bool found = false;
  auto consider = [&](double c) {
    if (c < 0 || c > durationMs) return;
    const double d = std::fabs(c - t);
    if (d <= bestDist && (!found || d < bestDist)) {
      best = c;
      bestDist = d;
      found = true;
    }
  };
  consider(0);
  consider(durationMs);
  for (double b : s.clipBounds) consider(b);
  if (s.markInMs >= 0 && !opt.skipIn) consider(s.markInMs);
  if (s.markOutMs >= 0 && !opt.skipOut) consider(s.markOutMs);
  if (opt.playhead) consider(s.playheadMs);
  for (size_t i = 0; i < s.effects.size(); ++i) {
    if (static_cast<int>(i) == opt.skipEffect) continue;
    double a = 0, b = 0;
    effectSpan(s.effects[i], &a, &b);
    consider(a);
    consider(b);
  }
  const double step = timelineGridStep(pxPerMs, fps);
  const double g = std::round(t / step) * step;
  if (g >= 0 && g <= durationMs) {
    const double d = std::fabs(g - t);
    if (d <= radius && (!found || d < bestDist)) return g;
  }
  return found ? best : t;
}

void updateTimeline(Ctx& ctx, const Rect& area) {
  EditorState& s = editorState();
  doc::Document& d = doc::Document::instance();
  const double sc = ctx.uiScale;
  const double duration = videoDurationMs();
  const double fps = videoFps();
  const Rows rows = rowsFor(area, sc);

  fillRect(ctx.cr, area, 0x14181C, 1.0);
  drawLine(ctx.cr, area.x, area.y + 0.5, area.x + area.w, area.y + 0.5, 1, 0x39434E, 1.0);
  if (s.zoom < 1.0 || !std::isfinite(s.zoom)) s.zoom = 1.0;
  s.scrollMs = clampScroll(s, duration, s.scrollMs);
  TimelineView v = timelineView(s, duration, rows.strip.x, rows.strip.w);

  wheel(ctx, area, s, v, duration);
  zoomButtons(ctx, rows, s, v, duration);
  v = timelineView(s, duration, rows.strip.x, rows.strip.w);

  // Time of the playhead and the length, under the zoom buttons.
  TextStyle st;
  st.size = 10 * sc;
  st.color = 0xEDF1F4;
  st.fitWidth = 58 * sc;
  drawText(ctx.cr, 16 * sc, area.y + 56 * sc, formatTimeMs(s.playheadMs), st);
  st.color = 0x8E9AA5;
  drawText(ctx.cr, 16 * sc, area.y + 70 * sc, formatTimeMs(duration), st);

  if (duration > 0) {
    drawFilmstrip(ctx, rows.strip, d.currentPath(), d.current, v.startMs, v.startMs + v.lengthMs);
  }
  strokeRoundedRect(ctx.cr, rows.strip, 3 * sc, 1, 0x39434E, 1.0);
  if (!drawAudioPeaks(ctx, rows.peaks)) fillRoundedRect(ctx.cr, rows.peaks, 2 * sc, 0x0B0E11, 0.85);

  // Clip boundaries across the picture and sound rows.
  for (double b : s.clipBounds) {
    if (b < v.startMs || b > v.startMs + v.lengthMs) continue;
    const double x = v.pxAt(b);
    drawLine(ctx.cr, x, rows.strip.y, x, rows.peaks.y + rows.peaks.h, 2 * sc, 0xEDF1F4, 0.85);
  }

  // Gestures in the order their rows are checked; each takes its own press.
  effectsTrack(ctx, rows, s, v, duration, fps);
  rangeStrip(ctx, rows, s, v, duration, fps);
  const bool clipsShown = clipRow(ctx, rows, s, v, duration);
  drawRuler(ctx, rows.ruler, v, timelineGridStep(v.pxPerMs(), fps), duration);  // over the clips
  scrollBar(ctx, rows, s, duration);
  const Rect bodyRect{rows.strip.x, rows.strip.y, rows.strip.w,
                      (clipsShown ? rows.peaks.y + rows.peaks.h : rows.ruler.y + rows.ruler.h) - rows.strip.y};
  body(ctx, bodyRect, s, v, duration, fps);
  drawPlayheadAndMarkers(ctx, rows, v, s);
  g_lastMx = ctx.in.mx;
}

}  // namespace ui

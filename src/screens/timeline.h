// timeline: the video timeline below the stage — zoom and scrolling, grid,
// snapping, filmstrip and sound rows, clip boundaries and reordering, the
// marker range strip, the effects track, seeking. The pure time arithmetic is
// public for the tests. Main thread only.
#pragma once

#include "editor/editor.h"
#include "ui/frame.h"

namespace ui {

// --- Time and pixels --------------------------------------------------------------
// The visible window [startMs, startMs + lengthMs) laid over x … x + w.
struct TimelineView {
  double x = 0;
  double w = 1;
  double startMs = 0;
  double lengthMs = 1;

  double pxPerMs() const { return w / lengthMs; }
  double pxAt(double ms) const { return x + (ms - startMs) * pxPerMs(); }
  double msAt(double px) const { return startMs + (px - x) / pxPerMs(); }
};
// The view of the state's window (scrollMs, duration / zoom) over x … x + w.
TimelineView timelineView(const EditorState& s, double durationMs, double x, double w);

// --- Zoom -----------------------------------------------------------------------------
// 4 × the duration in seconds above one second, else 4: the narrowest window
// is a quarter second.
double maxTimelineZoom(double durationMs);
// Zooms by factor about anchorMs, keeping the anchor where it is on screen;
// zoom limited to [1, max], scrollMs to [0, duration − window]. False (and
// nothing logged) when the zoom did not change.
bool zoomTimeline(EditorState& s, double durationMs, double factor, double anchorMs);
// scrollMs limited to [0, duration − duration / zoom].
double clampScroll(const EditorState& s, double durationMs, double scrollMs);

// --- Grid and snapping --------------------------------------------------------------------
// The first candidate step at least 40 px apart on screen, else the largest.
double timelineGridStep(double pxPerMs, double fps);
// What a snap may land on besides the fixed candidates.
struct SnapOptions {
  bool playhead = false;  // the playhead is a candidate
  bool skipIn = false;    // the IN marker is not (it is being dragged)
  bool skipOut = false;
  int skipEffect = -1;    // nor the edges of this effect
};
// t snapped within 7 px to 0, the duration, clip boundaries, markers, effect
// edges, the playhead when asked, or (only when strictly nearer) the grid.
double snapTimelineTime(const EditorState& s, double durationMs, double fps, double pxPerMs, double t,
                        const SnapOptions& opt = {});

// --- Drawing -------------------------------------------------------------------------------
// Design height of the timeline area.
inline constexpr double kTimelineHeight = 126;
// Draws the timeline into area (full window width, kTimelineHeight × scale
// high) and handles its input.
void updateTimeline(Ctx& ctx, const Rect& area);

}  // namespace ui

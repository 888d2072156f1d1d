#include "editor/editor.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "editor/document.h"
#include "editor/filmstrip.h"
#include "editor/stillcache.h"

namespace ui {

namespace {

// Two effects closer than this in anchor and length count as the same, so
// rounding in a drag that ends where it began records no step.
constexpr double kEffectTolerance = 0.5;
// A marked range shorter than this cannot be cut.
constexpr double kMinRange = 10.0;
// Old boundaries this close to a kept piece's edge fall onto its seam.
constexpr double kEdgeMargin = 1.0;
// Mapped boundaries closer than this are one boundary.
constexpr double kMinBoundGap = 2.0;
// Longer than any video; keeps the seconds inside long long.
constexpr double kMaxFormattedMs = 1e15;

bool sameEffects(const std::vector<media::Fade>& a, const std::vector<media::Fade>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].kind != b[i].kind || std::fabs(a[i].atMs - b[i].atMs) > kEffectTolerance ||
        std::fabs(a[i].lengthMs - b[i].lengthMs) > kEffectTolerance) {
      return false;
    }
  }
  return true;
}

void takeSnapshot(EditorState& s) {
  s.syncedVersion = doc::Document::instance().current;
  s.syncedEffects = s.effects;
  s.syncedBounds = s.clipBounds;
  s.syncedClips = s.clips;
}

// After an undo or redo: the history is in step with the work again, and no
// half-finished effect placement or drag survives.
void afterHistoryMove(EditorState& s) {
  takeSnapshot(s);
  s.armedKind = -1;
  s.draggedEffect = -1;
}

}  // namespace

// --- The record -------------------------------------------------------------------

EditorState& editorState() {
  static EditorState state;
  return state;
}

// --- Effects ------------------------------------------------------------------------

double fadeFactorAt(const std::vector<media::Fade>& effects, double t) {
  double factor = 1.0;
  for (const media::Fade& f : effects) {
    if (f.kind != media::Fade::In && f.kind != media::Fade::Out) continue;
    if (!(f.lengthMs > 0)) continue;
    const double start = f.atMs - f.lengthMs;
    if (t < start || t > f.atMs) continue;
    const double p = std::clamp((t - start) / f.lengthMs, 0.0, 1.0);
    factor = std::min(factor, f.kind == media::Fade::In ? p : 1.0 - p);
  }
  return factor;
}

void effectSpan(const media::Fade& fade, double* from, double* to) {
  if (from) *from = fade.atMs - fade.lengthMs;
  if (to) *to = fade.kind == media::Fade::Cross ? fade.atMs + fade.lengthMs : fade.atMs;
}

bool effectCovers(const media::Fade& fade, double t) {
  double from = 0;
  double to = 0;
  effectSpan(fade, &from, &to);
  return t >= from && t <= to;
}

// --- Markers and time text ------------------------------------------------------------------

bool cutRange(const EditorState& state, double duration, double* from, double* to) {
  double start = state.markInMs;
  if (start < 0) {
    if (state.markOutMs < 0) return false;
    start = 0;
  }
  const double end = state.markOutMs < 0 ? duration : state.markOutMs;
  if (!(end - start >= kMinRange)) return false;
  if (from) *from = start;
  if (to) *to = end;
  return true;
}

std::string formatTimeMs(double ms) {
  if (!(ms >= 0)) return "0:00.00";  // negative or not a number
  ms = std::min(ms, kMaxFormattedMs);
  const long long s = static_cast<long long>(ms / 1000.0);
  char text[32];
  if (s < 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld.%02d", s / 60 % 60, s % 60,
                  static_cast<int>(std::fmod(ms, 1000.0) / 10.0));
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  }
  return text;
}

// --- Mapping onto the next timeline -----------------------------------------------------------

double timeAfter(const std::vector<media::Segment>& segments, double t) {
  double acc = 0;
  for (const media::Segment& seg : segments) {
    if (seg.empty()) continue;
    if (t >= seg.inMs && t <= seg.outMs) return t - seg.inMs + acc;
    acc += seg.lengthMs();
  }
  return -1.0;
}

std::vector<double> boundsAfter(const std::vector<media::Segment>& segments,
                                const std::vector<double>& bounds) {
  std::vector<double> out;
  double acc = 0;
  bool first = true;
  for (const media::Segment& seg : segments) {
    if (seg.empty()) continue;
    // A seam lies between two kept pieces; empty entries before the first
    // piece do not make its start a boundary.
    if (!first) out.push_back(acc);
    first = false;
    for (double b : bounds) {
      if (b > seg.inMs + kEdgeMargin && b < seg.outMs - kEdgeMargin) out.push_back(b - seg.inMs + acc);
    }
    acc += seg.lengthMs();
  }
  std::sort(out.begin(), out.end());
  std::vector<double> kept;
  kept.reserve(out.size());
  for (double b : out) {
    if (kept.empty() || std::fabs(b - kept.back()) >= kMinBoundGap) kept.push_back(b);
  }
  return kept;
}

std::vector<media::Fade> effectsAfter(const std::vector<media::Segment>& segments,
                                      const std::vector<media::Fade>& effects) {
  std::vector<media::Fade> out;
  for (const media::Fade& f : effects) {
    const double at = timeAfter(segments, f.atMs);
    if (at < 0) continue;
    media::Fade moved = f;
    moved.atMs = at;
    out.push_back(moved);
  }
  return out;
}

// --- Undo ---------------------------------------------------------------------------------------

bool canUndoStep() { return editorState().undoPos > 0; }

bool canRedoStep() {
  const EditorState& s = editorState();
  return s.undoPos < s.undoSteps.size();
}

bool undoStep() {
  EditorState& s = editorState();
  if (s.undoPos == 0) return false;
  const EditorState::UndoStep& step = s.undoSteps[s.undoPos - 1];
  // A version that cannot be loaded leaves document and history where they
  // are; stepping the history alone would set every later document move one
  // version off.
  if (step.docStep && !doc::Document::instance().undo()) return false;
  s.effects = step.effectsBefore;
  s.clipBounds = step.boundsBefore;
  s.clips = step.clipsBefore;
  --s.undoPos;
  afterHistoryMove(s);
  return true;
}

bool redoStep() {
  EditorState& s = editorState();
  if (s.undoPos >= s.undoSteps.size()) return false;
  const EditorState::UndoStep& step = s.undoSteps[s.undoPos];
  if (step.docStep && !doc::Document::instance().redo()) return false;
  s.effects = step.effectsAfter;
  s.clipBounds = step.boundsAfter;
  s.clips = step.clipsAfter;
  ++s.undoPos;
  afterHistoryMove(s);
  return true;
}

void syncUndo() {
  EditorState& s = editorState();
  const doc::Document& d = doc::Document::instance();
  if (d.kind == media::MediaKind::Unknown || s.draggedEffect >= 0 || s.gestureActive) return;
  const int v = d.current;
  if (v == s.syncedVersion && sameEffects(s.effects, s.syncedEffects)) return;
  // The first look at a freshly opened work is its starting point, not a
  // change; a document that went back by itself (another work was opened)
  // is taken as it is.
  if (s.syncedVersion < 0 || s.syncedVersion > v) {
    takeSnapshot(s);
    return;
  }
  EditorState::UndoStep step;
  step.docStep = s.syncedVersion != v;
  step.effectsBefore = std::move(s.syncedEffects);
  step.boundsBefore = std::move(s.syncedBounds);
  step.clipsBefore = std::move(s.syncedClips);
  step.effectsAfter = s.effects;
  step.boundsAfter = s.clipBounds;
  step.clipsAfter = s.clips;
  s.undoSteps.resize(s.undoPos);
  s.undoSteps.push_back(std::move(step));
  s.undoPos = s.undoSteps.size();
  takeSnapshot(s);
}

// --- Closing -------------------------------------------------------------------------------------

void closeDocument() {
  EditorState& s = editorState();
  s.player.close();
  s.preroll.close();
  s.playerReady = false;
  s.prerollReady = false;
  s.prerollAtMs = -1;
  s.prerollHasFrame = false;
  s.prerollFrame = media::Image{};
  s.frame = media::Image{};
  s.playerVersion = -1;
  s.sheet = Sheet::None;

  s.clipBounds.clear();
  s.clips.clear();
  s.effects.clear();
  s.pendingEffects.clear();
  s.pendingBounds.clear();
  s.pendingClips.clear();
  s.armedKind = -1;
  s.draggedEffect = -1;
  s.effectDragPart = -1;
  s.draggedClip = -1;
  s.clipDropTarget = -1;
  s.selectedClip = -1;

  s.undoSteps.clear();
  s.undoPos = 0;
  s.syncedVersion = -1;
  s.syncedEffects.clear();
  s.syncedBounds.clear();
  s.syncedClips.clear();

  s.markInMs = -1;
  s.markOutMs = -1;
  s.lastFrameMs = -1;
  s.playheadMs = 0;
  s.zoom = 1.0;
  s.scrollMs = 0;
  s.timelinePressed = false;
  s.rangeDragMode = -1;
  s.rangeDragging = false;
  s.scrollDragging = false;
  s.timelinePanning = false;

  // Sheet values belong to the work they were set up for.
  s.rotateAngle = 0;
  s.adjustAmounts = media::Adjust{};
  s.preview = media::Image{};
  s.previewDirty = false;
  s.cropRect = EditorState::CropRect{};
  s.cropHandle = -1;
  s.cropVersion = -1;

  resetFilmstrip();
  resetStills();
  doc::Document::instance().close();
}

}  // namespace ui

// The editor screen's frame: layout, top bar, tool bar, keys and the answers
// to the questions the editor owns. The stage and the timeline are modules of
// their own (stage.cpp, timeline.cpp).
#include "screens/editor_screen.h"

#include <SDL_keycode.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "core/i18n.h"
#include "editor/document.h"
#include "editor/editor.h"
#include "platform/log.h"
#include "screens/editor_parts.h"
#include "screens/export.h"
#include "screens/flows.h"
#include "screens/image_edit.h"
#include "screens/sheets.h"
#include "screens/timeline.h"
#include "ui/dialog.h"
#include "ui/draw.h"
#include "ui/frames.h"
#include "ui/widgets.h"

namespace ui {

namespace {

// Design sizes of the frame's parts.
constexpr double kTopBar = 56;
constexpr double kToolBar = 80;
constexpr double kToolSlot = 86;
constexpr double kBarButton = 38;
constexpr double kBarMargin = 16;
constexpr double kBarGap = 4;

// The close question is open (the drop and append questions have their own
// fields in the editor state).
bool g_closeAsked = false;

struct Tool {
  Icon icon;
  const char* label;
  Sheet sheet;
  bool enabled;
  const char* action;  // null: the tool toggles its sheet
};

std::vector<Tool> toolsFor(const doc::Document& d, const EditorState& s) {
  if (d.kind == media::MediaKind::Image) {
    return {
        {Icon::Format, "editor.format", Sheet::Format, true, nullptr},
        {Icon::Crop, "editor.crop", Sheet::Crop, true, nullptr},
        {Icon::Adjust, "editor.adjust", Sheet::Adjust, true, nullptr},
        {Icon::Transform, "editor.transform", Sheet::Rotate, true, nullptr},
        {Icon::Size, "editor.size", Sheet::Resize, true, nullptr},
        {Icon::Save, "editor.save", Sheet::Export, true, nullptr},
    };
  }
  const bool playing = s.playerReady && s.player.isPlaying;
  return {
      {Icon::MarkIn, "editor.in", Sheet::None, true, "in"},
      {Icon::MarkOut, "editor.out", Sheet::None, true, "out"},
      {playing ? Icon::Pause : Icon::Play, playing ? "editor.pause" : "editor.play", Sheet::None, s.playerReady,
       "play"},
      {Icon::Cut, "editor.cut", Sheet::Cut, cutRange(s, videoDurationMs()), nullptr},
      {Icon::Plus, "editor.append", Sheet::None, true, "append"},
      {Icon::Adjust, "effects.title", Sheet::Effects, true, nullptr},
      {Icon::Size, "editor.size", Sheet::Resize, true, nullptr},
      // The format sheet fits a clip to a platform's shape as it fits a photo.
      {Icon::Format, "editor.format", Sheet::Format, true, nullptr},
      {Icon::Export, "editor.export", Sheet::Export, true, nullptr},
  };
}

// Opens (or closes, when open) a tool's sheet with fresh working values.
void toggleSheet(Sheet sheet) {
  EditorState& s = editorState();
  doc::Document& d = doc::Document::instance();
  if (s.sheet == sheet) {
    s.sheet = Sheet::None;
    return;
  }
  s.sheet = sheet;
  switch (sheet) {
    case Sheet::Resize:
      s.longEdge = d.kind == media::MediaKind::Image ? std::max(d.image.width, d.image.height) : 0;
      break;
    case Sheet::Rotate: s.rotateAngle = 0; break;
    case Sheet::Adjust:
      s.adjustAmounts = media::Adjust{};
      s.previewDirty = true;
      break;
    case Sheet::Crop:
      if (s.cropRect.width <= 0 || s.cropVersion != d.current) {
        s.cropRect = EditorState::CropRect{0, 0, d.image.width, d.image.height};
        s.cropVersion = d.current;
      }
      break;
    default: break;
  }
}

void closeNow() {
  g_closeAsked = false;
  closeDocument();
  resetStageFailures();
}

void askClose() {
  diag::action("Schliessen");
  if (doc::Document::instance().current < 1) {
    closeNow();
    return;
  }
  g_closeAsked = true;
  showDialog(i18n::tr("errors.closeTitle"), i18n::tr("errors.closeBody"),
             {DialogButton{i18n::tr("errors.closeCancel"), 0}, DialogButton{i18n::tr("errors.closeConfirm"), 2}});
}

// A step whose picture must be read first is taken by pumpImageEdit later.
void undo() { startHistoryStep(true); }

void redo() { startHistoryStep(false); }

// --- Top bar ----------------------------------------------------------------------

// Returns true when the document was closed.
bool topBar(Ctx& ctx) {
  const double s = ctx.uiScale;
  const Rect bar{0, 0, ctx.w, kTopBar * s};
  fillRect(ctx.cr, bar, 0x1C2229, 1.0);
  fillRect(ctx.cr, Rect{0, bar.h - 1, ctx.w, 1}, 0x39434E, 1.0);
  const double b = kBarButton * s;
  const double y = (bar.h - b) / 2;
  const double icon = 20 * s;
  EditorState& st = editorState();

  auto right = [&](int i) { return Rect{ctx.w - kBarMargin * s - b - i * (b + kBarGap * s), y, b, b}; };
  if (barButton(ctx, Rect{kBarMargin * s, y, b, b}, Icon::Close, true, "bar.close", "menu.close", icon)) {
    askClose();
    if (doc::Document::instance().kind == media::MediaKind::Unknown) return true;
  }
  if (barButton(ctx, right(0), Icon::More, true, "bar.more", "menu.open", icon)) {
    diag::action("Menue (mehr)");
    st.sheet = st.sheet == Sheet::More ? Sheet::None : Sheet::More;
  }
  if (barButton(ctx, right(1), Icon::Info, true, "bar.info", "info.title", icon)) {
    diag::action("Info");
    st.sheet = st.sheet == Sheet::Info ? Sheet::None : Sheet::Info;
  }
  if (barButton(ctx, right(2), Icon::Save, true, "bar.save", "menu.saveAs", icon)) {
    diag::action("Speichern unter");
    st.sheet = st.sheet == Sheet::Export ? Sheet::None : Sheet::Export;
  }
  if (barButton(ctx, right(3), Icon::RedoArc, canRedoStep(), "bar.redo", "menu.redo", icon)) {
    diag::action("Wiederholen");
    redo();
  }
  if (barButton(ctx, right(4), Icon::UndoArc, canUndoStep(), "bar.undo", "menu.undo", icon)) {
    diag::action("Rueckgaengig");
    undo();
  }

  const double left = kBarMargin * s + b + 12 * s;
  const double rightEdge = right(4).x - 12 * s;
  if (rightEdge > left) {
    TextStyle ts;
    ts.family = "sans";
    ts.size = 16 * s;
    ts.color = 0xEDF1F4;
    ts.fitWidth = rightEdge - left;
    ts.minScale = 0.5;
    const std::string title = doc::Document::instance().title();
    double tw = 0, th = 0;
    measureText(ctx.cr, title, ts, &tw, &th);
    // Too long even when shrunk: cut at the end (by characters, not bytes).
    std::string shown = title;
    while (tw > rightEdge - left && shown.size() > 1) {
      size_t cut = shown.size() - 1;
      while (cut > 0 && (static_cast<unsigned char>(shown[cut]) & 0xC0) == 0x80) --cut;
      shown = shown.substr(0, cut);
      measureText(ctx.cr, shown + "…", ts, &tw, &th);
      if (tw <= rightEdge - left) {
        shown += "…";
        break;
      }
    }
    drawText(ctx.cr, left, (bar.h - th) / 2, shown, ts);
  }
  return false;
}

// --- Tool bar -----------------------------------------------------------------------

void toolBar(Ctx& ctx) {
  const double s = ctx.uiScale;
  EditorState& st = editorState();
  const doc::Document& d = doc::Document::instance();
  const Rect bar{0, ctx.h - kToolBar * s, ctx.w, kToolBar * s};
  ctx.hit("toolbar", bar);
  fillRect(ctx.cr, bar, 0x1C2229, 1.0);
  fillRect(ctx.cr, Rect{0, bar.y, ctx.w, 1}, 0x39434E, 1.0);

  const std::vector<Tool> tools = toolsFor(d, st);
  const double slot = kToolSlot * s;
  const double total = slot * static_cast<double>(tools.size());
  double x0 = (ctx.w - total) / 2;
  if (total > ctx.w) {
    // Wider than the window: the row scrolls sideways (wheel or drag).
    const double maxScroll = total - ctx.w;
    if (ctx.hover(bar)) {
      if (ctx.in.wheel != 0) {
        st.toolScroll -= ctx.in.wheel * 40 * s;
        ctx.in.wheel = 0;
      }
      if (ctx.in.held && !ctx.in.pressed) st.toolScroll -= ctx.in.dx;
    }
    st.toolScroll = std::clamp(st.toolScroll, 0.0, maxScroll);
    x0 = -st.toolScroll;
  } else {
    st.toolScroll = 0;
  }

  cairo_save(ctx.cr);
  cairo_rectangle(ctx.cr, bar.x, bar.y, bar.w, bar.h);
  cairo_clip(ctx.cr);
  for (size_t i = 0; i < tools.size(); ++i) {
    const Tool& t = tools[i];
    const Rect r{x0 + slot * static_cast<double>(i), bar.y, slot, bar.h};
    const std::string id = std::string("tool.") + t.label;
    ctx.hit(id.c_str(), r);
    const bool active = t.sheet != Sheet::None && t.sheet == st.sheet;
    const Rect bg{r.x + 4 * s, r.y + 6 * s, r.w - 8 * s, r.h - 12 * s};
    if (active) {
      fillRoundedRect(ctx.cr, bg, 8 * s, 0x2C6392, 0.55);
    } else if (t.enabled && ctx.hover(r)) {
      fillRoundedRect(ctx.cr, bg, 8 * s, 0x2F3944, 0.8);
    }
    const uint32_t colour = t.enabled ? 0xEDF1F4 : 0x8E9AA5;
    const double alpha = t.enabled ? 1.0 : 0.38;
    drawIcon(ctx.cr, t.icon, r.x + r.w / 2, r.y + 28 * s, 22 * s, colour, alpha);
    TextStyle ts;
    ts.size = 12 * s;
    ts.color = colour;
    ts.alpha = alpha;
    ts.align = 1;
    ts.fitWidth = r.w - 8 * s;
    drawText(ctx.cr, r.x + r.w / 2, r.y + 46 * s, i18n::tr(t.label), ts);
    if (!t.enabled || !ctx.takeClick(r)) continue;
    if (!t.action) {
      diag::action(std::string("Werkzeug: ") + t.label);
      toggleSheet(t.sheet);
      continue;
    }
    const std::string action = t.action;
    if (action == "in") setMarkerAtPlayhead(true);
    if (action == "out") setMarkerAtPlayhead(false);
    if (action == "play") {
      diag::action(st.player.isPlaying ? "Pause" : "Abspielen");
      togglePlay();
    }
    if (action == "append") startAppendVideo();
  }
  cairo_restore(ctx.cr);
}

// --- Keys -------------------------------------------------------------------------------

void keys(Ctx& ctx) {
  if (dialogOpen() || ctx.in.keys.empty()) return;
  EditorState& s = editorState();
  const doc::Document& d = doc::Document::instance();
  const bool video = d.kind == media::MediaKind::Video && s.playerReady;
  const double duration = videoDurationMs();
  for (int key : ctx.in.keys) {
    if (ctx.in.ctrl) {
      if (key == SDLK_z && !ctx.in.shift) {
        diag::action("Taste: Strg+Z");
        undo();
      } else if ((key == SDLK_z && ctx.in.shift) || key == SDLK_y) {
        diag::action(key == SDLK_y ? "Taste: Strg+Y" : "Taste: Strg+Umschalt+Z");
        redo();
      }
      continue;
    }
    if (key == SDLK_ESCAPE && s.sheet != Sheet::None) {
      diag::action("Taste: Escape");
      s.sheet = Sheet::None;
      continue;
    }
    if (!video) continue;
    const double step = ctx.in.shift ? 1000.0 : 5000.0;
    const double frame = 1000.0 / videoFps();
    switch (key) {
      case SDLK_SPACE:
        diag::action("Taste: Leertaste");
        togglePlay();
        break;
      case SDLK_LEFT:
        seekPlayhead(std::max(0.0, s.playheadMs - step));
        diag::action("Taste: zurueck auf " + formatTimeMs(s.playheadMs));
        break;
      case SDLK_RIGHT:
        seekPlayhead(std::min(duration, s.playheadMs + step));
        diag::action("Taste: vor auf " + formatTimeMs(s.playheadMs));
        break;
      case SDLK_HOME:
        seekPlayhead(0);
        diag::action("Taste: Anfang");
        break;
      case SDLK_END:
        seekPlayhead(duration);
        diag::action("Taste: Ende");
        break;
      case SDLK_i: setMarkerAtPlayhead(true); break;
      case SDLK_o: setMarkerAtPlayhead(false); break;
      case SDLK_COMMA:
      case SDLK_PERIOD:
        if (s.player.isPlaying) break;
        seekPlayhead(s.playheadMs + (key == SDLK_COMMA ? -frame : frame));
        diag::action(std::string(key == SDLK_COMMA ? "Taste: Bild zurueck auf " : "Taste: Bild vor auf ") +
                     formatTimeMs(s.playheadMs));
        break;
      default: break;
    }
  }
}

// --- Answers -----------------------------------------------------------------------------

void dialogAnswers() {
  EditorState& s = editorState();
  if (s.appendAsk) {
    const int r = takeDialogResult();
    if (r < 0) return;
    s.appendAsk = false;
    if (r == 0 || r == 1) {
      const int w = r == 0 ? s.appendSizes.currentWidth : s.appendSizes.otherWidth;
      const int h = r == 0 ? s.appendSizes.currentHeight : s.appendSizes.otherHeight;
      diag::action(r == 0 ? "an das aktuelle anpassen" : "Originalformate behalten");
      s.pendingBounds = s.appendBounds;
      s.appendSkipped = s.appendSkippedAsk;
      applyVideoToWork(s.appendClips, w, h, i18n::tr("editor.append"), i18n::tr("busy.appending"));
    } else {
      diag::action("Anhaengen abgebrochen");
      s.pendingBounds.clear();
      s.pendingClips.clear();
    }
    s.appendClips.clear();
    s.appendBounds.clear();
    return;
  }
  if (!s.pendingDrop.empty()) {
    const int r = takeDialogResult();
    if (r < 0) return;
    std::vector<std::string> files = std::move(s.pendingDrop);
    s.pendingDrop.clear();
    if (r == 1) {
      diag::action("Hereingezogen uebernommen: " + std::to_string(files.size()) + " Datei(en)");
      resetStageFailures();
      openDroppedFiles(files);
    }
    return;
  }
  if (g_closeAsked) {
    const int r = takeDialogResult();
    if (r < 0) return;
    g_closeAsked = false;
    if (r == 1) {
      diag::action("Schliessen bestaetigt");
      closeNow();
    }
  }
}

}  // namespace

bool barButton(Ctx& ctx, const Rect& r, Icon icon, bool enabled, const char* id, const char* tooltipKey,
               double iconSize) {
  ctx.hit(id, r);
  tooltip(ctx, r, i18n::tr(tooltipKey));
  if (!enabled) {
    drawIcon(ctx.cr, icon, r.x + r.w / 2, r.y + r.h / 2, iconSize, 0x8E9AA5, 0.38);
    return false;
  }
  if (ctx.hover(r)) fillRoundedRect(ctx.cr, r, 6 * ctx.uiScale, 0x2F3944, 0.8);
  drawIcon(ctx.cr, icon, r.x + r.w / 2, r.y + r.h / 2, iconSize, 0xEDF1F4, 1.0);
  return ctx.takeClick(r);
}

void updateEditorScreen(Ctx& ctx) {
  doc::Document& d = doc::Document::instance();
  if (d.kind == media::MediaKind::Unknown) return;
  // Before syncUndo: a history step whose picture arrived moves the document
  // through the history, not as a new step.
  pumpImageEdit();
  syncUndo();
  const double s = ctx.uiScale;
  const Rect whole{0, 0, ctx.w, ctx.h};
  ctx.hit("screen.editor", whole);
  // No fill here: the stage's pictures lie on the renderer below this layer,
  // and every other part paints its own background.

  const bool video = d.kind == media::MediaKind::Video;
  const double toolTop = ctx.h - kToolBar * s;
  const double timelineTop = video ? toolTop - kTimelineHeight * s : toolTop;
  // A video's sheet stands on the timeline, so the effects can be placed
  // while their sheet is open.
  const double sheetH = updateSheets(ctx, timelineTop);
  const double stageBottom = sheetH > 0 ? timelineTop - sheetH - 6 * s : timelineTop;
  const Rect stage{0, kTopBar * s, ctx.w, std::max(0.0, stageBottom - kTopBar * s)};
  updateStage(ctx, stage);

  if (topBar(ctx)) return;  // closed
  toolBar(ctx);
  if (video) updateTimeline(ctx, Rect{0, timelineTop, ctx.w, kTimelineHeight * s});
  keys(ctx);
  pumpDialog(ctx);
  pumpExport(ctx);
  drawTooltip(ctx);
  dialogAnswers();
}

}  // namespace ui

// The editor's stage: the current image or video frame fitted into the area
// above the sheet and timeline, the rotate and adjust previews, fades and the
// cross-fade blend, and the players that feed it.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "core/i18n.h"
#include "editor/document.h"
#include "editor/editor.h"
#include "editor/stillcache.h"
#include "platform/log.h"
#include "screens/editor_parts.h"
#include "screens/sheets.h"
#include "ui/dialog.h"
#include "ui/draw.h"
#include "ui/frames.h"
#include "ui/gpu.h"

namespace ui {

namespace {

// The picture takes this share of the stage, leaving a margin around it.
constexpr double kFitShare = 0.96;
// The pre-roll is opened this long before a cross fade begins.
constexpr double kPrerollLeadMs = 1500.0;
// How far the pre-roll may drift from its target before it is re-seeked.
constexpr double kPrerollDriftPlayingMs = 200.0;
constexpr double kPrerollDriftPausedMs = 60.0;
// How long frames are requested after a seek while waiting for its picture.
constexpr double kAwaitFrameSeconds = 2.0;

// Open attempts that failed, so they are not retried (and reported) every
// frame: the document version the player failed for, the anchor the pre-roll
// failed for.
int g_playerFailedVersion = -1;
std::string g_playerFailedPath;
double g_prerollFailedAt = -1;
int g_prerollFailedVersion = -1;
// Frames are requested until this UI time, while a seek's picture is due.
double g_awaitFrameUntil = 0;
bool g_awaitArmed = false;

// Premultiplied ARGB words of an RGBA image, uploaded under key unless
// cached. replace rewrites the key's texture in place (a video frame).
SDL_Texture* stageTexture(const media::Image& img, const std::string& key, bool replace = false) {
  if (!img.valid()) return nullptr;
  if (replace && !img.hasAlpha) return gpuReplaceFrame(key, img.width, img.height, img.pixels.data());
  if (replace) {
    gpuDrop(key);
  } else if (SDL_Texture* t = gpuCached(key, img.width, img.height)) {
    return t;
  }
  static std::vector<uint32_t> buffer;  // reused between uploads
  buffer.resize(static_cast<size_t>(img.width) * img.height);
  const size_t n = buffer.size();
  const uint8_t* p = img.pixels.data();
  uint32_t* out = buffer.data();
  if (!img.hasAlpha) {
    // Opaque: premultiplying changes nothing, only the byte order; this loop vectorises.
    for (size_t k = 0; k < n; ++k, p += 4) {
      out[k] = 0xFF000000u | uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
    }
  } else {
    for (size_t k = 0; k < n; ++k, p += 4) {
      const uint32_t a = p[3];
      out[k] = a << 24 | (p[0] * a / 255) << 16 | (p[1] * a / 255) << 8 | (p[2] * a / 255);
    }
  }
  return gpuTextureRgba(key, img.width, img.height, buffer.data(), false, !img.hasAlpha);
}

// img (w × h) fitted into the stage, centred.
Rect fitPicture(const Rect& stage, double w, double h) {
  if (w < 1 || h < 1) return Rect{stage.x + stage.w / 2, stage.y + stage.h / 2, 0, 0};
  const double f = kFitShare * std::min(stage.w / w, stage.h / h);
  return Rect{stage.x + (stage.w - w * f) / 2, stage.y + (stage.h - h * f) / 2, w * f, h * f};
}

// Where the texture lands when fitted into the stage: on whole pixels, as
// the renderer draws it.
Rect landedPicture(SDL_Texture* t, const Rect& stage, double w, double h) {
  Rect r = fitPicture(stage, w, h);
  gpuPictureRect(t, &r.x, &r.y, &r.w, &r.h);
  return r;
}

void blit(SDL_Texture* t, const Rect& r, double alpha) {
  if (t) gpuBlitPicture(t, r.x, r.y, r.w, r.h, alpha);
}

// The rotate preview: the picture turned by the pending angle, the largest
// upright rectangle inside it outlined and the rest dimmed.
void drawRotatePreview(Ctx& ctx, SDL_Texture* tex, const Rect& stage, const Rect& pic, const media::Image& img,
                       double angle) {
  if (tex) gpuBlitRotated(tex, pic.x + pic.w / 2, pic.y + pic.h / 2, pic.w, pic.h, angle, 1.0);
  const media::Size in = media::insideCrop(img.width, img.height, angle);
  if (in.width < 1 || in.height < 1) return;
  const double f = pic.w / img.width;
  const Rect inner{pic.x + (pic.w - in.width * f) / 2, pic.y + (pic.h - in.height * f) / 2, in.width * f,
                   in.height * f};
  cairo_t* cr = ctx.cr;
  fillRect(cr, Rect{stage.x, stage.y, stage.w, inner.y - stage.y}, 0x0B0E11, 0.55);
  fillRect(cr, Rect{stage.x, inner.y + inner.h, stage.w, stage.y + stage.h - inner.y - inner.h}, 0x0B0E11, 0.55);
  fillRect(cr, Rect{stage.x, inner.y, inner.x - stage.x, inner.h}, 0x0B0E11, 0.55);
  fillRect(cr, Rect{inner.x + inner.w, inner.y, stage.x + stage.w - inner.x - inner.w, inner.h}, 0x0B0E11, 0.55);
  cairo_save(cr);
  cairo_rectangle(cr, inner.x, inner.y, inner.w, inner.h);
  setColor(cr, 0x5E9FD4, 1.0);
  cairo_set_line_width(cr, 2 * ctx.uiScale);
  cairo_stroke(cr);
  cairo_restore(cr);
}

void updateImageStage(Ctx& ctx, const Rect& stage) {
  EditorState& s = editorState();
  doc::Document& d = doc::Document::instance();
  const bool preview = s.sheet == Sheet::Adjust && s.preview.valid();
  const media::Image& img = preview ? s.preview : d.image;
  // The key names the version's file too: after an undo and a new edit the
  // same index holds other pixels, and another work may reuse index 0.
  const std::string key =
      preview ? std::string("stage:preview") : "stage:img:" + std::to_string(d.current) + ":" + d.currentPath();
  SDL_Texture* tex = stageTexture(img, key);
  const Rect pic = landedPicture(tex, stage, img.width, img.height);
  ctx.hit("editor.picture", pic);
  if (s.sheet == Sheet::Rotate && std::fabs(s.rotateAngle) > 0.01) {
    drawRotatePreview(ctx, tex, stage, pic, img, s.rotateAngle);
  } else {
    blit(tex, pic, 1.0);
  }
  if (s.sheet == Sheet::Crop) drawCropOverlay(ctx, pic);
}

// The long edge, in physical pixels, of a w × h picture fitted into the
// stage. The players convert frames to it, so a frame is drawn unscaled: a
// scaled copy of every frame is the most expensive step of a frame on a
// machine that draws in software.
int pictureEdgeFor(const Rect& stage, double w, double h) {
  const Rect pic = fitPicture(stage, w, h);
  return static_cast<int>(std::lround(std::max(pic.w, pic.h) * gpuScale()));
}

int pictureEdgeFor(const Rect& stage) {
  const doc::Document& d = doc::Document::instance();
  return pictureEdgeFor(stage, d.videoInfo.width, d.videoInfo.height);
}

// Keeps the main player open on the current version; reports a failed open once.
void keepPlayerOpen(Ctx& ctx, const Rect& stage) {
  EditorState& s = editorState();
  doc::Document& d = doc::Document::instance();
  if (s.playerReady && s.playerVersion == d.current) return;
  if (!s.playerReady && g_playerFailedVersion == d.current && g_playerFailedPath == d.currentPath()) return;
  std::string err;
  {
    diag::Timed timed("Abspieler oeffnen", 50);
    s.playerReady = s.player.open(d.currentPath(), pictureEdgeFor(stage), &err);
  }
  s.frame = media::Image{};
  s.lastFrameMs = -1;
  s.playerVersion = d.current;
  gpuDrop("stage:video");
  if (s.playerReady) {
    g_playerFailedVersion = -1;
    s.player.setVolume(1.0);
    s.player.seek(s.playheadMs);
    g_awaitFrameUntil = ctx.now + kAwaitFrameSeconds;
    g_awaitArmed = true;
  } else {
    g_playerFailedVersion = d.current;
    g_playerFailedPath = d.currentPath();
    diag::write("player", "oeffnen scheiterte: " + err);
    showDialog(i18n::tr("errors.title"), i18n::tr("errors.videoLoad"),
               {DialogButton{i18n::tr("errors.closeConfirm"), 1}});
  }
}

void closePreroll() {
  EditorState& s = editorState();
  if (s.preroll.isOpen) s.preroll.close();
  s.prerollReady = false;
  s.prerollAtMs = -1;
  s.prerollHasFrame = false;
  s.prerollFrame = media::Image{};
}

// The first cross fade whose pre-roll lead or first half holds the playhead.
const media::Fade* crossAhead(const EditorState& s) {
  for (const media::Fade& f : s.effects) {
    if (f.kind == media::Fade::Cross && f.lengthMs > 0 && f.atMs - f.lengthMs - kPrerollLeadMs <= s.playheadMs &&
        s.playheadMs <= f.atMs) {
      return &f;
    }
  }
  return nullptr;
}

// Keeps the pre-roll player on the clip after the coming cross fade.
void keepPreroll(Ctx& ctx, const Rect& stage, double duration) {
  EditorState& s = editorState();
  doc::Document& d = doc::Document::instance();
  const media::Fade* f = crossAhead(s);
  if (!f) {
    if (s.prerollReady || s.prerollAtMs >= 0) closePreroll();
    return;
  }
  const double target = std::min(s.playheadMs + f->lengthMs, duration);
  if (!s.prerollReady || std::fabs(s.prerollAtMs - f->atMs) > 1.0) {
    if (g_prerollFailedVersion == d.current && std::fabs(g_prerollFailedAt - f->atMs) <= 1.0) return;
    std::string err;
    s.prerollReady = s.preroll.open(d.currentPath(), pictureEdgeFor(stage), &err);
    s.prerollHasFrame = false;
    if (s.prerollReady) {
      s.prerollAtMs = f->atMs;
      s.preroll.setVolume(0.0);
      s.preroll.seek(target);
      diag::write("player", "Vorlauf geoeffnet fuer Blende bei " + formatTimeMs(f->atMs));
    } else {
      diag::write("player", "Vorlauf scheiterte: " + err);
      s.prerollAtMs = -1;
      g_prerollFailedAt = f->atMs;
      g_prerollFailedVersion = d.current;
      return;
    }
  }
  const bool playing = s.player.isPlaying;
  if (playing && !s.preroll.isPlaying) s.preroll.play();
  if (!playing && s.preroll.isPlaying) s.preroll.pause();
  const double drift = std::fabs(s.preroll.positionMs() - target);
  if (drift > (playing ? kPrerollDriftPlayingMs : kPrerollDriftPausedMs)) s.preroll.seek(target);
  media::Image img;
  bool got = false;
  while (s.preroll.takeFrame(&img)) got = true;  // the newest one counts
  if (got && img.valid()) {
    s.prerollFrame = std::move(img);
    s.prerollHasFrame = true;
    gpuDrop("stage:crosslive");
  }
  (void)ctx;
}

// Cross fades whose first half holds the playhead: the next clip blended in.
void drawCrossBlend(const Rect& pic, double duration) {
  EditorState& s = editorState();
  doc::Document& d = doc::Document::instance();
  for (const media::Fade& f : s.effects) {
    if (f.kind != media::Fade::Cross || f.lengthMs <= 0) continue;
    if (s.playheadMs < f.atMs - f.lengthMs || s.playheadMs > f.atMs) continue;
    const double a = std::clamp((s.playheadMs - (f.atMs - f.lengthMs)) / f.lengthMs, 0.0, 1.0);
    if (s.prerollHasFrame && std::fabs(s.prerollAtMs - f.atMs) <= 1.0) {
      blit(stageTexture(s.prerollFrame, "stage:crosslive"), pic, a);
      continue;
    }
    const double at = std::min(f.atMs + 60.0, duration);
    if (const media::Image* still = stillAt(d.currentPath(), d.current, at)) {
      char key[64];
      std::snprintf(key, sizeof key, "stage:cross:%d:%d:", d.current, static_cast<int>(at));
      blit(stageTexture(*still, key + d.currentPath()), pic, a);
    }
  }
}

void updateVideoStage(Ctx& ctx, const Rect& stage) {
  EditorState& s = editorState();
  doc::Document& d = doc::Document::instance();
  const double duration = videoDurationMs();
  keepPlayerOpen(ctx, stage);
  bool freshFrame = false;
  if (s.playerReady) {
    media::Image img;
    double pts = 0;
    bool got = false;
    while (s.player.takeFrame(&img, &pts)) got = true;
    if (got && img.valid()) {
      s.frame = std::move(img);
      s.lastFrameMs = pts;
      freshFrame = true;
      g_awaitArmed = false;
    }
    if (s.player.isPlaying) {
      s.playheadMs = s.player.positionMs();
      requestFrame();
    } else if (g_awaitArmed && ctx.now < g_awaitFrameUntil) {
      requestFrameWithin(1.0 / 60.0);
    }
  }
  const double w = s.frame.valid() ? s.frame.width : d.videoInfo.width;
  const double h = s.frame.valid() ? s.frame.height : d.videoInfo.height;
  // A new frame rewrites the one texture in place: no allocation per frame.
  SDL_Texture* tex = stageTexture(s.frame, "stage:video", freshFrame);
  const Rect pic = landedPicture(tex, stage, w, h);
  ctx.hit("editor.picture", pic);
  // After the window changes size, the frames to come follow the picture.
  // The video's own size decides: the frames' rounded sizes would move the
  // edge by a pixel each time, and each move sets up the player's scaler and
  // the stage's texture anew.
  const bool sized = d.videoInfo.width > 0 && d.videoInfo.height > 0;
  const int edge = sized ? pictureEdgeFor(stage) : pictureEdgeFor(stage, w, h);
  if (s.playerReady) s.player.setMaxEdge(edge);
  if (s.prerollReady) s.preroll.setMaxEdge(edge);
  blit(tex, pic, 1.0);

  if (s.playerReady) keepPreroll(ctx, stage, duration);
  drawCrossBlend(pic, duration);

  const double f = fadeFactorAt(s.effects, s.playheadMs);
  if (f < 0.999) fillRect(ctx.cr, pic, 0x000000, 1.0 - f);
  if (s.playerReady) s.player.setVolume(f);

  if (s.playerReady) {
    TextStyle st;
    st.size = 16 * ctx.uiScale;
    st.color = 0x8E9AA5;
    st.alpha = 0.6;
    drawText(ctx.cr, stage.x + 16 * ctx.uiScale, stage.y + 12 * ctx.uiScale, i18n::tr("editor.preview"), st);
  }
}

}  // namespace

double videoDurationMs() {
  const doc::Document& d = doc::Document::instance();
  if (d.videoInfo.durationMs > 0) return d.videoInfo.durationMs;
  const EditorState& s = editorState();
  return s.playerReady ? s.player.durationMs : 0;
}

double videoFps() {
  const double fps = doc::Document::instance().videoInfo.fps;
  return fps > 0 && std::isfinite(fps) ? fps : 30.0;
}

void seekPlayhead(double ms) {
  EditorState& s = editorState();
  s.playheadMs = std::clamp(ms, 0.0, std::max(0.0, videoDurationMs()));
  if (s.playerReady) s.player.seek(s.playheadMs);
  g_awaitArmed = true;
  g_awaitFrameUntil = 1e18;  // set properly by the next stage frame
  requestFrame();
}

void togglePlay() {
  EditorState& s = editorState();
  if (!s.playerReady) return;
  if (s.player.isPlaying) {
    s.player.pause();
  } else {
    // At the end a new start begins from the beginning.
    if (s.playheadMs >= videoDurationMs() - 1.0) seekPlayhead(0);
    s.player.play();
  }
  requestFrame();
}

void setMarkerAtPlayhead(bool in) {
  EditorState& s = editorState();
  if (in) {
    s.markInMs = s.playheadMs;
    diag::action("IN = " + formatTimeMs(s.markInMs));
  } else {
    s.markOutMs = s.playheadMs;
    diag::action("OUT = " + formatTimeMs(s.markOutMs));
  }
}

void updateStage(Ctx& ctx, const Rect& r) {
  ctx.hit("editor.stage", r);
  // On the renderer, below the pictures: the interface layer stays clear here.
  gpuFillRect(r.x, r.y, r.w, r.h, 0x0B0E11, 1.0);
  if (g_awaitArmed && g_awaitFrameUntil > ctx.now + kAwaitFrameSeconds) g_awaitFrameUntil = ctx.now + kAwaitFrameSeconds;
  cairo_save(ctx.cr);
  cairo_rectangle(ctx.cr, r.x, r.y, r.w, r.h);
  cairo_clip(ctx.cr);
  if (doc::Document::instance().kind == media::MediaKind::Video) {
    updateVideoStage(ctx, r);
  } else {
    updateImageStage(ctx, r);
  }
  cairo_restore(ctx.cr);
}

void resetStageFailures() {
  g_playerFailedVersion = -1;
  g_playerFailedPath.clear();
  g_prerollFailedAt = -1;
  g_prerollFailedVersion = -1;
  g_awaitArmed = false;
}

std::string msText(double ms) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.0f ms", ms);
  return buf;
}

}  // namespace ui

// The editor's states: a photo, a video with its filled timeline, and an
// assembled video with a cross fade under way and a marked range.
#include <chrono>
#include <thread>

#include "editor/document.h"
#include "editor/editor.h"
#include "editor/filmstrip.h"
#include "editor/stillcache.h"
#include "screen_states.h"

namespace screens_tool {

namespace {

bool filmstripFull() {
  const ui::FilmstripStatus st = ui::filmstripStatus();
  return !st.running && st.ready == st.count && st.count > 0;
}

}  // namespace

bool openVideo(const std::string& path) {
  doc::Document& d = doc::Document::instance();
  if (!d.openVideo(path)) return false;
  ui::editorState().clips = {{path, 0, d.videoInfo.durationMs}};
  return true;
}

bool settleVideo(Shot& s) {
  return s.framesUntil([] {
    const ui::EditorState& st = ui::editorState();
    return st.playerReady && st.frame.valid() && filmstripFull();
  });
}

void registerEditorStates(Registry& r) {
  r.add("editor-image", [](Shot& s) {
    if (!doc::Document::instance().openImage(s.media().photo)) return false;
    s.frame();
    return true;
  });

  r.add("editor-video", [](Shot& s) {
    if (!openVideo(s.media().clip)) return false;
    ui::editorState().playheadMs = 3200;
    return settleVideo(s);
  });

  r.add("editor-video-cross-range", [](Shot& s) {
    // Two clips joined at 5 s, a cross fade on the seam, a fade in at the
    // start, and a marked range; the playhead stands in the cross fade.
    doc::Document& d = doc::Document::instance();
    if (!openVideo(s.media().clip)) return false;
    ui::EditorState& st = ui::editorState();
    const double len = d.videoInfo.durationMs;
    st.clips = {{s.media().clip, 0, 5000}, {s.media().clip2, 0, len - 5000}};
    st.clipBounds = {5000};
    st.effects = {{media::Fade::In, 600, 600}, {media::Fade::Cross, 5000, 800}};
    st.markInMs = 6500;
    st.markOutMs = 8200;
    st.playheadMs = 4650;
    st.zoom = 1.6;
    st.scrollMs = 1500;
    st.selectedClip = 1;
    const bool ok = settleVideo(s);
    // The cross fade's picture: the live pre-roll or the still.
    return s.framesUntil([&] {
             return st.prerollHasFrame || ui::stillAt(d.currentPath(), d.current, 5060) != nullptr;
           }) &&
           ok;
  });
}

}  // namespace screens_tool

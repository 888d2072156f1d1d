// Each edit sheet open on the editor — the image groups over a photo (the
// crop sheet with a frame drawn in from the edges), the video groups over a
// clip — and the busy overlay of a video export under way.
#include <string>

#include "core/i18n.h"
#include "editor/document.h"
#include "editor/editor.h"
#include "screen_states.h"
#include "ui/dialog.h"

namespace screens_tool {

namespace {

struct SheetState {
  const char* name;
  ui::Sheet sheet;
};

}  // namespace

void registerSheetStates(Registry& r) {
  const SheetState imageSheets[] = {
      {"sheet-image-rotate", ui::Sheet::Rotate}, {"sheet-image-crop", ui::Sheet::Crop},
      {"sheet-image-adjust", ui::Sheet::Adjust}, {"sheet-image-resize", ui::Sheet::Resize},
      {"sheet-image-format", ui::Sheet::Format}, {"sheet-image-export", ui::Sheet::Export},
  };
  for (const SheetState& st : imageSheets) {
    r.add(st.name, [sheet = st.sheet](Shot& s) {
      doc::Document& d = doc::Document::instance();
      if (!d.openImage(s.media().photo)) return false;
      ui::EditorState& e = ui::editorState();
      e.sheet = sheet;
      if (sheet == ui::Sheet::Crop) {
        // A frame a tenth in from each edge, so the handles and the shade show.
        const int w = d.image.width;
        const int h = d.image.height;
        e.cropRect = {w / 10, h / 10, w - w / 5, h - h / 5};
        e.cropVersion = d.current;
      }
      s.frame();
      return e.sheet == sheet;
    });
  }

  const SheetState videoSheets[] = {
      {"sheet-video-cut", ui::Sheet::Cut},       {"sheet-video-effects", ui::Sheet::Effects},
      {"sheet-video-info", ui::Sheet::Info},     {"sheet-video-more", ui::Sheet::More},
      {"sheet-video-resize", ui::Sheet::Resize}, {"sheet-video-format", ui::Sheet::Format},
      {"sheet-video-export", ui::Sheet::Export},
  };
  for (const SheetState& st : videoSheets) {
    r.add(st.name, [sheet = st.sheet](Shot& s) {
      if (!openVideo(s.media().clip)) return false;
      ui::EditorState& e = ui::editorState();
      e.playheadMs = 3200;
      e.sheet = sheet;
      return settleVideo(s) && e.sheet == sheet;
    });
  }

  // The overlay as the export job fills it: its label, then per frame the
  // progress, the remaining time and the encoder.
  r.addTranslated("busy-video-export", [](Shot& s) {
    if (!openVideo(s.media().clip)) return false;
    ui::editorState().playheadMs = 3200;
    const bool settled = settleVideo(s);
    ui::BusyState& b = ui::busy();
    b = ui::BusyState{};
    b.active = true;
    b.label = i18n::tr("save.saving");
    b.cancellable = true;
    b.progress = 42;
    b.remaining = 73;
    b.detail = "libx264 · " + i18n::tr("info.cpu");
    s.frame();
    return settled;
  });
}

}  // namespace screens_tool

// editor_screen: the editor, shown while a document is open — top bar, stage,
// the open edit sheet, for a video the timeline, and the tool bar — with its
// keys and the answers to the questions it owns (closing an edited work,
// closing it for dropped files, the picture shape of appended clips). Main
// thread only; the players and the filmstrip and stills workers run their
// own threads and are only called through their thread-safe operations.
//
// Hit ids in the interface dump:
//   screen.editor            the whole window
//   editor.stage             the stage rectangle; editor.picture the picture in it
//   bar.close bar.undo bar.redo bar.save bar.info bar.more   top bar buttons
//   tool.<label key>         each tool slot: tool.editor.cut, tool.editor.transform,
//                            tool.effects.title, tool.editor.play / tool.editor.pause …
//   timeline                 the body (filmstrip and sound rows): press to seek or pan
//   timeline.zoomIn, timeline.zoomOut, timeline.scroll, timeline.range,
//   timeline.effects         the effects track; effect.<index> each effect on it
//   timeline.playhead, timeline.in, timeline.out   playhead line and marker handles
//   clip.<index>             each clip of an assembled work (ruler row)
//
// Keys (no dialog open; there is no text field in the editor):
//   Ctrl+Z undo; Ctrl+Shift+Z, Ctrl+Y redo; Escape closes the open sheet.
//   Videos with a ready player: Space play/pause; Left/Right 5 s (Shift: 1 s);
//   Home/End start/end; I/O set IN/OUT at the playhead; comma/period one
//   frame back/forward while paused.
#pragma once

#include "ui/frame.h"

namespace ui {

// Draws the editor over the whole window and reacts to the frame's input.
// Returns at once when no document is open.
void updateEditorScreen(Ctx& ctx);

}  // namespace ui

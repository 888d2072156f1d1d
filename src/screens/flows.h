// flows: bringing files into the editor — the open and append file dialogs
// and the pump that collects their answers, files named on the command line
// or dropped on the window, appending videos to the open work and putting
// its clips in a new order. Main thread only; the dialogs themselves run on
// the file-dialog worker (platform/filedialog_portal.h).
#pragma once

#include <string>
#include <vector>

#include "media/segment.h"
#include "ui/frame.h"

namespace ui {

// --- File dialogs ----------------------------------------------------------------
// Opens the file dialog for a video (true) or an image; nothing while one runs.
void startOpenMedia(bool video);
// Opens the file dialog for videos to append to the open video.
void startAppendVideo();
// Collects a finished file dialog and acts on its answer. Once per frame.
void pumpDialog(Ctx& ctx);

// --- Files from outside ------------------------------------------------------------
// Acts on the files dropped in this frame (ctx.in.dropped). Once per frame.
void handleDroppedFiles(Ctx& ctx);
// Opens the first of paths that opens; the rest are appended when it is a video.
void openDroppedFiles(const std::vector<std::string>& paths);

// --- Composing the work --------------------------------------------------------------
// Appends files to the open video; skipped counts files the caller already
// left out. False when nothing could be appended.
bool appendVideoFiles(const std::vector<std::string>& files, int skipped);
// Recomposes the work with its clips in the given order.
void reorderClips(const std::vector<media::Segment>& order);

}  // namespace ui

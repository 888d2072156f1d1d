// flows: bringing files into the editor — the open and append file dialogs
// and the pump that collects their answers, files named on the command line
// or dropped on the window, appending videos to the open work and putting
// its clips in a new order. Main thread only; the dialogs themselves run on
// the file-dialog worker (platform/filedialog_portal.h).
//
// Every failure ends in one modal message (ui/dialog.h) with a close button,
// except a cancelled dialog, which ends silently. Paths that are not regular
// readable files (folders, pipes, devices, unreadable or dangling names) never
// reach the decoders, so nothing here can block on a file that never ends.
// Opening a file blocks the frame while it is probed and loaded.
#pragma once

#include <string>
#include <vector>

#include "media/segment.h"
#include "media/video.h"
#include "ui/frame.h"

namespace ui {

// --- File dialogs ----------------------------------------------------------------
// Opens the file dialog for a video (true) or an image; nothing while one runs.
// KORVELLE_OPEN_TO answers it at once: successive calls take successive
// entries of its path list, then keep the last.
void startOpenMedia(bool video);
// Opens the file dialog for videos to append to the open video; nothing while
// a dialog or a drag runs or when no video is open. KORVELLE_APPEND_TO answers it.
void startAppendVideo();
// Collects a finished file dialog and acts on its answer: opens (purposes 1
// and 2), appends (5), or hands a save target with its extension to the save
// (3) and export (4) flows. Once per frame.
void pumpDialog(Ctx& ctx);

// --- Files from outside ------------------------------------------------------------
// Acts on the files dropped in this frame (ctx.in.dropped, folders removed
// from it). Ignored while something runs. Once per frame.
void handleDroppedFiles(Ctx& ctx);
// Closes the work and opens the first of paths that opens; the rest are
// appended when it is a video. Reports failures and skipped files.
void openDroppedFiles(const std::vector<std::string>& paths);
// Opens a file named on the command line the way a drop opens it, without a
// dialog: false with the user's text for it in *message when it did not open.
bool openCommandLineFile(const std::string& path, std::string* message);

// --- Composing the work --------------------------------------------------------------
// Appends files to the open video; skipped counts files the caller already
// left out. Starts the composing job or asks about differing formats. False
// when nothing could be appended.
bool appendVideoFiles(const std::vector<std::string>& files, int skipped);
// Recomposes the work with its clips in the given order; nothing with fewer
// than two clips or while a drag or a dialog runs.
void reorderClips(const std::vector<media::Segment>& order);

// --- Texts (pure apart from reading the file's access) -------------------------------
// The user text for a file that failed to open with the media layer's error
// word: no access, a RAW or other format by its upper-case extension, or the
// generic image or video text.
std::string openErrorText(const std::string& path, media::MediaKind kind, const std::string& code);
// Whether path is a regular file this process can open for reading. Never blocks.
bool readableFile(const std::string& path);
// The save target with ext appended unless it already ends with it (case-sensitive).
std::string withExtension(const std::string& target, const std::string& ext);

}  // namespace ui

// export: the export sheet, save-as, and the one background export job that
// renders a user's export or a working copy of a video edit ("schnitt"
// files) and commits the result as a new document version. Main thread only;
// the job runs media::exportVideo on its own worker thread.
#pragma once

#include <string>
#include <vector>

#include "media/segment.h"
#include "ui/frame.h"

namespace ui {

// --- Saving ------------------------------------------------------------------------
// The save-as steps the export sheet's start button carries out: suggests a
// name and opens the save dialog (or takes KORVELLE_SAVE_TO).
void doSaveAs(Ctx& ctx);
// Starts the export job writing segments at width × height to outPath.
void startVideoExport(const std::string& outPath, const std::vector<media::Segment>& segments, int width,
                      int height);

// --- The job -----------------------------------------------------------------------------
// Polls the job once per frame: progress into the busy overlay, cancel, the
// result committed or reported.
void pumpExport(Ctx& ctx);
// Renders a video edit into a working copy that becomes a new version when
// done. False when the job could not start.
bool applyVideoToWork(const std::vector<media::Segment>& segments, int width, int height, const std::string& label,
                      const std::string& busyText);
// Stops a running job and waits for its thread (program end).
void stopExportJob();

}  // namespace ui

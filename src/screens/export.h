// export: the export sheet, save-as, and the one background export job that
// renders a user's export or a working copy of a video edit ("schnitt"
// files) and commits the result as a new document version. Main thread only;
// the job runs media::exportVideo on its own worker thread, which touches
// nothing but the job's own fields (under its lock) and its atomics.
#pragma once

#include <string>
#include <vector>

#include "media/segment.h"
#include "media/video.h"
#include "ui/frame.h"

namespace doc {
class Document;
}

namespace ui {

// --- The sheet ---------------------------------------------------------------------
// The export sheet's summary line: the size of an image; for a video the
// planned output size, the codec (" (GPU)" on the graphics card) and, with a
// fixed bit rate, the estimated file size with 128 kbit/s of sound.
std::string exportSummary(const doc::Document& d);

// --- Saving ------------------------------------------------------------------------
// The save-as steps the export sheet's start button carries out: suggests a
// name and opens the save dialog (or takes KORVELLE_SAVE_TO as its answer).
void doSaveAs(Ctx& ctx);
// The name save-as suggests: the title up to its last '.', "_v", the current
// version index plus one, then extension (with its dot).
std::string suggestedName(const std::string& title, int versionIndex, const std::string& extension);
// The output size the last video save-as planned (the settings' resolution
// applied to the current video); 0 × 0 before any.
void plannedSaveSize(int* width, int* height);
// Starts the export job writing segments at width × height to outPath: a
// working copy (no effects, fast encoder) while a video edit is pending
// (EditorState::pendingApply), else the user's export with the effects.
// Joins a finished previous job first.
void startVideoExport(const std::string& outPath, const std::vector<media::Segment>& segments, int width,
                      int height);
// The segments cut at every cross fade's anchor that lies more than 1 ms
// inside one (anchors are on the timeline the segments make), so each cross
// fade sits on a seam the export can overlap.
std::vector<media::Segment> splitAtCrossFades(const std::vector<media::Segment>& segments,
                                              const std::vector<media::Fade>& effects);

// --- The job -----------------------------------------------------------------------------
// Polls the job once per frame: progress, remaining time and encoder into the
// busy overlay, its cancel button, the result committed or reported.
void pumpExport(Ctx& ctx);
// Renders a video edit into a working copy that becomes a new version when
// done; boundaries and effects follow it. False when refused (a job or a file
// dialog runs, no encoder, nothing left: the last two with a dialog).
bool applyVideoToWork(const std::vector<media::Segment>& segments, int width, int height, const std::string& label,
                      const std::string& busyText);
// A job was started and its result not yet collected.
bool exportRunning();
// Stops a running job and waits for its thread (program end).
void stopExportJob();

// --- Tests -------------------------------------------------------------------------------
// The encoder list the sheet and save-as offer instead of the probed one
// (null: the probed one again).
void setExportEncodersForTesting(const std::vector<media::EncoderInfo>* encoders);

}  // namespace ui

// editor: everything the editor knows about the open work beyond the
// document itself — the two players, the clip list, the fade effects, clip
// boundaries, markers and playhead, the timeline view, the sheets' working
// values and the editor's undo history that follows the document's versions.
// Also the pure functions that carry clips, boundaries and effects from one
// timeline to the next after a video was re-rendered, the fade curve, the time
// formatter.
//
// All times are milliseconds on the timeline of the current work file, as
// doubles; -1 means "not set". UI thread only, no locking (the players run
// their own threads). The pure functions are thread-safe.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "media/image.h"
#include "media/player.h"
#include "media/segment.h"

namespace ui {

// Which edit sheet is open. The numbers are those the log and stored states use.
enum class Sheet : int {
  None = 0, Effects = 1, Cut = 2, Resize = 3, Format = 4, Crop = 5,
  Adjust = 6, Rotate = 7, Info = 8, More = 9, Export = 10,
};

// What the running file dialog is for. The numbers are those the log uses.
enum class DialogPurpose : int {
  None = 0, OpenVideo = 1, OpenImage = 2, SaveImage = 3, ExportVideo = 4, AppendVideos = 5,
};

// The process-wide editor record; reached through ui::editorState().
struct EditorState {
  // One editor undo step: the work before and after one change.
  struct UndoStep {
    bool docStep = false;  // the document's version moved with this step
    std::vector<media::Fade> effectsBefore;
    std::vector<media::Fade> effectsAfter;
    std::vector<double> boundsBefore;
    std::vector<double> boundsAfter;
    std::vector<media::Segment> clipsBefore;
    std::vector<media::Segment> clipsAfter;
  };

  // A crop rectangle in image pixels; width 0 means not set yet.
  struct CropRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
  };

  // A file an open or append flow left out, with the reason it gave.
  struct SkippedFile {
    std::string path;
    std::string reason;
  };

  // The two picture sizes the append format question chooses between.
  struct AppendSizes {
    int currentWidth = 0;   // the work's size ("fit to the current one")
    int currentHeight = 0;
    int otherWidth = 0;     // the largest size among the clips ("keep the originals")
    int otherHeight = 0;
  };

  // --- Open sheet and stage ------------------------------------------------------
  Sheet sheet = Sheet::None;
  double toolScroll = 0;  // horizontal offset of a tool bar wider than the window

  // --- Main playback ------------------------------------------------------------------
  media::Player player;      // plays the current work video on the stage
  bool playerReady = false;  // the last open of player succeeded
  media::Image frame;        // the last frame taken from player

  // --- Pre-roll playback for cross fades --------------------------------------------------
  media::Player preroll;      // opened on the clip after a cross-fade boundary
  bool prerollReady = false;
  double prerollAtMs = -1;    // the cross fade's anchor preroll was opened for
  media::Image prerollFrame;
  bool prerollHasFrame = false;
  double lastFrameMs = -1;    // timeline time of the last frame shown; -1 after a reopen
  int playerVersion = -1;     // the document version player was opened for

  // --- Timeline ---------------------------------------------------------------------------
  double playheadMs = 0;
  double markInMs = -1;           // IN marker; negative: not set
  double markOutMs = -1;          // OUT marker; negative: not set
  bool timelinePressed = false;   // a press on the timeline body is in progress
  int rangeDragMode = -1;         // marker range strip: -1 none, 0 move, 1 IN, 2 OUT
  double rangeDragMoved = 0;      // pointer movement summed since the press, pixels
  double rangeGrabOffset = 0;     // pointer time minus IN at the press
  double rangeLength = 0;         // OUT minus IN at the press
  double rangePressMs = 0;        // pointer time at the press: where a click puts the playhead
  bool rangeDragging = false;     // the press has moved past the drag threshold
  std::vector<media::Segment> clips;  // the clips of an assembled work, in order
  std::vector<media::Fade> effects;
  int armedKind = -1;             // effect kind waiting to be placed (0, 1, 2); -1 none
  int draggedEffect = -1;         // index into effects being dragged; -1 none
  double effectGrabOffsetMs = 0;  // pointer time minus the grabbed anchor or edge at the press
  int effectDragPart = -1;        // what the drag moves: 0 anchor, 1 start edge, 2 end edge
  std::vector<double> clipBounds; // where one clip ends and the next begins, ascending

  // --- Undo -----------------------------------------------------------------------------
  std::vector<UndoStep> undoSteps;
  size_t undoPos = 0;             // steps applied; those from undoPos on can be redone
  int syncedVersion = -1;         // the document version at the last synchronisation
  std::vector<media::Fade> syncedEffects;
  std::vector<double> syncedBounds;
  std::vector<media::Segment> syncedClips;

  // --- View and results waiting for the next work file -------------------------------------
  std::vector<media::Fade> pendingEffects;  // effects mapped onto a video being rendered
  double zoom = 1.0;               // timeline zoom factor
  double scrollMs = 0;             // left edge of the visible timeline window
  bool scrollDragging = false;     // the timeline's scroll bar is being dragged
  bool timelinePanning = false;    // the timeline press has turned into a pan
  double timelineMoved = 0;        // pointer movement summed during the press, pixels
  int draggedClip = -1;            // clip being dragged
  int clipDropTarget = -1;         // the place the dragged clip would go
  int selectedClip = -1;
  std::vector<double> pendingBounds;          // boundaries mapped onto a video being rendered
  std::vector<media::Segment> pendingClips;   // the clip list once a composing job finishes

  // --- Sheet and flow working state -------------------------------------------------------
  int longEdge = 0;                // resize sheet, images: chosen long edge
  int targetHeight = 0;            // resize sheet, videos: chosen height (0 keeps the size)
  int platformIndex = 0;           // format sheet
  int presetIndex = 0;
  bool platformListOpen = false;   // the format sheet's platform dropdown is open
  bool presetListOpen = false;     // its format dropdown is open
  double rotateAngle = 0;          // rotate sheet: pending angle in degrees
  media::Adjust adjustAmounts;     // adjust sheet: the six amounts, -100 … 100
  media::Image preview;            // adjust preview shown on the stage
  bool previewDirty = false;       // the preview needs recomputing
  CropRect cropRect;
  int cropHandle = -1;             // -1 none, 0 whole frame, 1 TL, 2 TR, 3 BL, 4 BR
  int cropVersion = -1;            // the document version cropRect was set up for
  std::vector<SkippedFile> skippedFiles;  // left out by the last open or append
  double gestureStartX = 0;        // pointer x at the press of the running gesture
  double gestureStartMs = 0;       // timeline time under the pointer at that press
  bool gestureMoved = false;       // the gesture has passed the 3 px drag threshold
  bool gestureActive = false;      // a drag is running: syncUndo records nothing
  DialogPurpose dialogPurpose = DialogPurpose::None;
  std::string pendingLabel;        // version label of the work file being rendered
  bool pendingApply = false;       // a rendered work file waits to be committed
  std::string pendingPath;         // that file
  int cutCounter = 0;              // numbers the work files ("schnitt_%03d")
  std::string pendingBusyText;     // the busy overlay's text while it renders
  std::vector<std::string> pendingDrop;  // dropped files waiting for the close question
  int appendSkipped = 0;           // files left out of the last append
  std::vector<media::Segment> appendClips;  // plan waiting for the format question
  std::vector<double> appendBounds;
  int appendSkippedAsk = 0;
  AppendSizes appendSizes;
  bool appendAsk = false;          // the format question is open
};

// --- The record ------------------------------------------------------------------
// The single editor state, created on first use (thread-safe).
EditorState& editorState();

// --- Effects ----------------------------------------------------------------------
// Brightness factor 0 … 1 at t: the smallest of the fade ins and outs covering
// t (1 when none does). Cross fades are blended by the stage, not faded.
double fadeFactorAt(const std::vector<media::Fade>& effects, double t);
// The span an effect covers: fades end at their anchor, a cross fade is
// centred on it. Null pointers are skipped.
void effectSpan(const media::Fade& fade, double* from = nullptr, double* to = nullptr);
// t lies in the effect's span, both ends included.
bool effectCovers(const media::Fade& fade, double t);

// --- Markers and time text ---------------------------------------------------------------
// The range between the markers: IN alone runs to duration, OUT alone from 0.
// False when neither is set or the range is shorter than 10 ms.
bool cutRange(const EditorState& state, double duration, double* from = nullptr, double* to = nullptr);
// "m:ss.hh" below an hour, "h:mm:ss" from then on; 0:00.00 for negative times.
std::string formatTimeMs(double ms);

// --- Mapping onto the next timeline ---------------------------------------------------------
// The segments describe the new timeline as pieces of the old one, in order;
// empty segments are skipped.
// Where old time t lands on the new timeline; -1 when its piece was dropped.
// A time on a shared end belongs to the earlier segment.
double timeAfter(const std::vector<media::Segment>& segments, double t);
// Clip boundaries on the new timeline: every seam between segments plus the
// old boundaries more than 1 ms inside a kept piece; ascending, no two closer
// than 2 ms.
std::vector<double> boundsAfter(const std::vector<media::Segment>& segments,
                                const std::vector<double>& bounds);
// Effects whose anchor survives, moved onto the new timeline, in their order.
std::vector<media::Fade> effectsAfter(const std::vector<media::Segment>& segments,
                                      const std::vector<media::Fade>& effects);

// --- Undo ------------------------------------------------------------------------------
bool canUndoStep();
bool canRedoStep();
// One step back / forward, moving the document too when the step came with a
// new version. False (and nothing changes) when there is no step or the
// document cannot load that version.
bool undoStep();
bool redoStep();
// Records one undo step when the effects or the document's version changed
// since the last call; nothing while a drag runs. Called once per editor frame.
void syncUndo();

// --- Closing ------------------------------------------------------------------------------
// Closes the players and the document and returns the work's editor state
// (playback, timeline, effects, clips, undo history, view, sheet values) to
// its initial values; the file-dialog and job fields of the flows are kept.
// Stops the filmstrip and stills workers (blocks until they have ended).
void closeDocument();

}  // namespace ui

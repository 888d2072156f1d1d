// smart_cut: cuts kept ranges out of one H.264 or HEVC file exact to the
// frame without rendering it again. The whole groups of pictures inside the
// kept ranges are copied as they are; only the partial group at each edge is
// decoded and encoded again (libx264 / libx265, matched to the source's
// profile, size, pixel format, time base, colour tags and reordering depth);
// the sound is encoded again. Parameter sets travel in-band before every
// key frame (sample entries avc3 / hev1), as the copied and the new pieces
// carry different ones.
//
// Only a closed-GOP source the cut can reproduce exactly is taken; anything
// else is refused with a fallback word, and the caller renders in full
// (media::exportVideo) instead.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "media/segment.h"
#include "media/video_export.h"

namespace media {

// --- Fallback words ------------------------------------------------------------
namespace smartcut {
inline constexpr char kUnreadable[] = "UNREADABLE";          // the file does not open or has no picture
inline constexpr char kContainer[] = "CONTAINER";            // input not MP4/MOV/MKV, output not MP4/MOV
inline constexpr char kCodec[] = "CODEC";                    // picture neither H.264 nor HEVC
inline constexpr char kNoEncoder[] = "NO_ENCODER";           // libx264 / libx265 missing or unfit
inline constexpr char kOpenGop[] = "OPEN_GOP";               // key frames that are not IDR, leading pictures
inline constexpr char kReorder[] = "REORDER_DEPTH";          // deeper frame reordering than the encoder matches
inline constexpr char kTimestamps[] = "TIMESTAMPS";          // missing, repeated or trimmed time stamps
inline constexpr char kResized[] = "RESIZED";                // another picture size asked for
inline constexpr char kFades[] = "FADES";                    // effects on the timeline
inline constexpr char kHdr[] = "HDR";                        // HLG or PQ picture, standard range asked for
inline constexpr char kOtherFile[] = "OTHER_FILE";           // a segment from another file
inline constexpr char kEmpty[] = "EMPTY";                    // the segments keep no frame
inline constexpr char kCheckFailed[] = "CHECK_FAILED";       // the result did not read back as planned
}  // namespace smartcut

struct SmartCutRequest {
  // Kept ranges in order; an empty path means the source itself. Times count
  // from the picture's first time stamp, as for exportVideo.
  std::vector<Segment> segments;
  // Output size asked for; < 1 keeps the source's (the only one accepted).
  int32_t width = 0;
  int32_t height = 0;
  bool fades = false;  // effects asked for: refused
  // The result must be standard range (a user's export is tone-mapped to
  // BT.709): HLG and PQ sources are refused. Working copies keep their range.
  bool standardRange = false;
  // Container tags as in ExportOptions; empty leaves the tag out.
  std::string software;
  std::string comment;
};

// What a cut did (or would do); frame counts over all segments.
struct SmartCutStats {
  int64_t frames = 0;         // pictures in the result
  int64_t copiedFrames = 0;   // taken over packet by packet
  int64_t encodedFrames = 0;  // decoded and encoded again
  double durationMs = 0;      // length of the picture track
};

// The plan for one source; opaque outside smart_cut.cpp.
struct SmartCutPlan;
struct SmartCutPlanDeleter {
  void operator()(SmartCutPlan* p) const;
};
using SmartCutPlanPtr = std::unique_ptr<SmartCutPlan, SmartCutPlanDeleter>;

// --- Planning --------------------------------------------------------------------
// Reads srcPath's packet index (no decoding) and plans the cut into outPath;
// nullptr with the fallback word in *reason when the source or the request
// is outside what a smart cut reproduces exactly. Blocks for one pass over
// the file's packets. Thread-safe.
SmartCutPlanPtr planSmartCut(const std::string& srcPath, const std::string& outPath,
                             const SmartCutRequest& req, std::string* reason);
// The frame counts and length the plan promises.
SmartCutStats planStats(const SmartCutPlan& plan);

// --- Cutting ------------------------------------------------------------------------
// Performs the plan: writes outPath under a temporary name, reads it back
// (it opens; frame count and length as planned) and renames it into place.
// Blocks; the sound and the edges are encoded on up to three threads at
// once, all joined before the output is written.
// cancel (may be null) is polled before every packet, progress (may
// be empty) is called on the calling thread every 0.5 % and once with 100 %.
// Failure words: "CANCELLED", "WRITE_FAILED", "ENCODER_FAILED",
// "DECODE_FAILED", kCheckFailed; outPath is then untouched.
bool runSmartCut(const SmartCutPlan& plan, std::atomic<bool>* cancel,
                 const std::function<void(const ExportProgress&)>& progress, std::string* err);

// Plan and run in one, logging what it did or why it did not ("export"
// lines). False with a fallback word or a failure word in *err; the caller
// then renders in full unless the word is "CANCELLED".
bool smartCut(const std::string& srcPath, const std::string& outPath, const SmartCutRequest& req,
              std::atomic<bool>* cancel, const std::function<void(const ExportProgress&)>& progress,
              SmartCutStats* stats, std::string* err);

}  // namespace media

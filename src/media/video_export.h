// video_export: renders a new video file from pieces of one or more source
// videos, joined in order, brought to one output size, with fade-in,
// fade-out and cross-fade effects, encoded with the best encoder this machine
// has (H.264 on the graphics card in MP4, otherwise VP9 in WebM) and AAC or
// Opus sound. Every video edit of the program and the user's export go
// through it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "media/image.h"
#include "media/segment.h"
#include "media/video.h"

namespace media {

struct ExportOptions {
  // Pieces to join in order. An empty path means the main source; an empty
  // list means the whole main source.
  std::vector<Segment> segments;
  // Output size; < 1 takes the main source's display size. Rounded down to
  // even.
  int32_t width = 0;
  int32_t height = 0;
  // How each source is brought to the output size.
  FitMode fitMode = FitMode::Contain;
  // Video bit rate in bit/s; < 1 means width × height × 4.
  int64_t bitRate = 0;
  // Preferred encoder name; empty (or not available) takes the first one.
  std::string encoder;
  // Texts for the "software" and the "comment"/"description" tags; empty
  // leaves the tag out.
  std::string software;
  std::string comment;
  // Fade effects on the output timeline.
  std::vector<Fade> fades;
  // A working copy the user never sees (every edit renders one): the
  // software encoder runs at a fast real-time setting instead of its best
  // quality one.
  bool intermediate = false;
};

struct ExportProgress {
  double percent = 0;      // 0 … 100
  double etaSeconds = -1;  // estimated remaining time; -1 while unknown (below 3 %)
  EncoderInfo encoder;     // the encoder in use
};

// Renders outPath from srcPath (the main source) as opts describes. outPath
// must end in the chosen encoder's container extension (".mp4" or ".webm",
// any case). The file is written beside outPath under a temporary name and
// renamed onto it once complete, so outPath may name one of the sources and
// a failed or cancelled export leaves whatever stood there untouched.
//
// Blocks for the whole export: run it on a worker thread. cancel (may be
// null) is polled before every packet; progress (may be empty) is called on
// the calling thread every 0.5 % and once more with 100 % at the end.
// Sources that cannot be read (other than the main one) are skipped with a
// line on standard error. Failure words: "EMPTY_SELECTION", "BAD_SIZE",
// "NO_ENCODER", "CONTAINER_MISMATCH", "UNSUPPORTED_FORMAT", "NO_VIDEO_TRACK",
// "FILTER_FAILED", "ENCODER_FAILED", "WRITE_FAILED", "CANCELLED", or the
// word readVideoInfo gives for the main source; cleared on success.
// Thread-safe: calls share nothing but the read-only encoder list.
bool exportVideo(const std::string& srcPath, const std::string& outPath, const ExportOptions& opts,
                 std::atomic<bool>* cancel,
                 const std::function<void(const ExportProgress&)>& progress,
                 std::string* err = nullptr);

}  // namespace media

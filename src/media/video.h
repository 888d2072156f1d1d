// video: the video engine's read side. Tells images from videos, reads a
// video's properties, grabs one frame as an Image (stills and previews), maps
// a target resolution to an output size, finds the encoders this machine can
// use, and reduces a file's sound to peak levels for the timeline.
//
// Everything here is thread-safe: the probes share no state, and the encoder
// and extension lists are built once under thread-safe static initialisation.
// Functions taking a path block while they read the file. Failures come back
// as false plus an upper-case error word ("UNSUPPORTED_FORMAT",
// "NO_VIDEO_TRACK", "DECODE_FAILED"); the word is cleared on success.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/image.h"

namespace media {

enum class MediaKind : int { Unknown = 0, Image = 1, Video = 2 };

struct VideoInfo {
  int32_t width = 0;     // display size: the coded size, swapped for 90/270
  int32_t height = 0;
  int32_t rotation = 0;  // clockwise display rotation, 0 … 359
  double durationMs = 0;
  double fps = 0;        // average frame rate, 0 when unknown
  int64_t bitRate = 0;   // container bit rate in bit/s, 0 when unknown
  bool hasAudio = false;
  std::string videoCodec;  // display names such as "H.264", "VP9"
  std::string audioCodec;  // empty without sound
  std::string container;   // the demuxer's short name
  std::string dynamicRange;  // "HLG" or "PQ" for high dynamic range, else empty
  int bitDepth = 0;          // bits per picture sample, 0 when unknown
};

// One video encoder that opened on this machine.
struct EncoderInfo {
  std::string name;       // FFmpeg encoder name, e.g. "h264_vaapi"
  std::string device;     // render node it opened on; empty when none
  bool hardware = false;  // runs on the graphics card
  std::string codec;      // "h264" or "vp9"
  std::string container;  // "mp4" or "webm"
};

// --- Classifying and probing -------------------------------------------------
// Image, Video or Unknown (unreadable, no picture). HEIF photos are Images.
MediaKind classify(const std::string& path);
// Display size, rotation, duration, rate and codecs of a video; false with a
// null out.
bool readVideoInfo(const std::string& path, VideoInfo* out, std::string* err = nullptr);

// --- Frames ------------------------------------------------------------------
// The first frame at or after timeMs (the last frame for times past the end),
// upright, its long edge at most maxEdge before turning (maxEdge < 1: full
// size). Costs at most one group of pictures of decoding.
bool grabFrame(const std::string& path, double timeMs, int maxEdge, Image* out,
               std::string* err = nullptr);

// Reads several frames of one file with one demuxer and decoder, for a series
// of times in ascending order (a filmstrip): between two times it decodes
// forward, and seeks only when a key frame lies between them or the time goes
// back. Each answer is what grabFrame gives for the same time. One thread at a
// time per reader; readers share nothing.
class FrameReader {
 public:
  FrameReader();
  ~FrameReader();
  FrameReader(const FrameReader&) = delete;
  FrameReader& operator=(const FrameReader&) = delete;
  // Opens the file and its video decoder; blocks while the header is read.
  bool open(const std::string& path, std::string* err = nullptr);
  // The first frame at or after timeMs as grabFrame describes; false before open.
  bool frameAt(double timeMs, int maxEdge, Image* out, std::string* err = nullptr);
  // A frame within toleranceMs of timeMs, as cheaply as it comes: a key frame
  // in that reach is decoded alone; otherwise as frameAt. For thumbnails,
  // which stand for a stretch of time rather than one instant.
  bool frameNear(double timeMs, double toleranceMs, int maxEdge, Image* out, std::string* err = nullptr);
  // Trades picture quality for speed from now on (no deblocking filter):
  // fine for thumbnails a few hundred pixels wide. Call after open.
  void preferSpeed();
  // The opened file's properties.
  const VideoInfo& info() const;
  // Seeks done so far (for measurements).
  int seeks() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// --- Sizes and names ---------------------------------------------------------
// Output size whose short side is target; never enlarges, results even.
void resolutionToSize(int target, int srcW, int srcH, int* outW, int* outH);
// Video file extensions for the open dialogs, lower case without the dot.
const std::vector<std::string>& videoExtensions();

// --- Encoders ----------------------------------------------------------------
// The usable encoders, graphics card first; probed once per process by
// opening real encoders (the first caller blocks for the probe).
const std::vector<EncoderInfo>& availableEncoders();
// The encoder an export will use: the preferred one when available, else the
// first; an empty EncoderInfo when there is none.
EncoderInfo plannedEncoder(const std::string& preferred);
// The encoder working copies are rendered with: software H.264 where it
// exists (fast at near-transparent quality), else VP9, else the first one;
// an empty EncoderInfo when there is none.
EncoderInfo workingCopyEncoder();
// ".webm" for the WebM container, ".mp4" otherwise.
const char* extensionForEncoder(const EncoderInfo& encoder);

// --- Audio peaks ---------------------------------------------------------------
// Peak levels 0 … 1 of the first audio stream between fromMs and toMs, one
// per bucket. out becomes buckets zeros first (emptied when the file has no
// sound); true when at least one sample landed in a bucket.
bool audioPeaks(const std::string& path, double fromMs, double toMs, int buckets,
                std::vector<float>* out);
// The same for long stretches, sampled: each bucket's level is the peak of
// its first probeMs only, read with one demuxer that seeks bucket by bucket.
// cancel (may be null) is polled between buckets; false when cancelled.
bool audioPeaksSampled(const std::string& path, double fromMs, double toMs, int buckets, double probeMs,
                       std::vector<float>* out, const std::atomic<bool>* cancel = nullptr);

}  // namespace media

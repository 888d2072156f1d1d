// video_export_internal: the pieces of the export pipeline that live in their
// own files (filter-graph texts, cross-fade blending, the sound splicer and
// packer) and the encoder drain they share. Internal to src/media; the
// public interface is video_export.h.
//
// Nothing here holds shared state; each object belongs to one export call.
#pragma once

#include <cstdint>  // before FFmpeg's headers, which need its constant macros

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
}

#include <memory>
#include <string>
#include <vector>

#include "media/av_util.h"
#include "media/image.h"
#include "media/video_export.h"

namespace media::exporter {

// --- Scope guards ------------------------------------------------------------
struct GraphFreer {
  void operator()(AVFilterGraph* g) const { avfilter_graph_free(&g); }
};
struct InOutFreer {
  void operator()(AVFilterInOut* io) const { avfilter_inout_free(&io); }
};
// An output context together with its file.
struct OutputCloser {
  void operator()(AVFormatContext* oc) const;
};
// An option dictionary handed to FFmpeg by address.
struct DictGuard {
  AVDictionary* dict = nullptr;
  DictGuard() = default;
  ~DictGuard() { av_dict_free(&dict); }
  DictGuard(const DictGuard&) = delete;
  DictGuard& operator=(const DictGuard&) = delete;
};
using GraphPtr = std::unique_ptr<AVFilterGraph, GraphFreer>;
using InOutPtr = std::unique_ptr<AVFilterInOut, InOutFreer>;
using OutputPtr = std::unique_ptr<AVFormatContext, OutputCloser>;

// --- The export ----------------------------------------------------------------
// exportVideo choosing from the given encoder list instead of the probed one
// (tests reach the MP4 path with a software H.264 encoder through it).
bool exportWith(const std::vector<EncoderInfo>& encoders, const std::string& srcPath,
                const std::string& outPath, const ExportOptions& opts, std::atomic<bool>* cancel,
                const std::function<void(const ExportProgress&)>& progress, std::string* err);

// --- Encoding ----------------------------------------------------------------
// Writes every packet the encoder has ready (after sending the end-of-stream
// marker when flush is set), its time stamps moved from the codec's to the
// stream's time base. False on an encoder or write error.
bool drainEncoder(AVCodecContext* enc, AVFormatContext* oc, AVStream* st, bool flush);

// --- Filter graphs -----------------------------------------------------------
// The part of one fade that falls into a segment, on the source's own time
// line in seconds. The whole fade's start and length give the curve, so a
// fade split across two segments continues where it left off; [fromS, toS]
// is the window the segment shows of it.
struct FadePiece {
  bool in = true;  // fade in, else fade out
  double startS = 0;
  double lengthS = 0;
  double fromS = 0;
  double toS = 0;
};

// How the video chain ends for the encoder in use.
enum class ChainEnd {
  Software,        // "format=<encoder pixel format>"
  HardwareNv12,    // NV12 in memory, uploaded later (cross fades need the pixels)
  HardwareUpload,  // NV12 uploaded to the graphics card inside the graph
};

// The filter chain between "in" and "out" for one segment: turn upright,
// fit to the output size, tone-map a high-dynamic-range source whose peak is
// toneMapPeak (0: standard range, nothing added), fade, convert for the encoder. The fade filters
// take no negative start, so a fade that began before the source's zero is
// given with its times moved by shiftTicks of the stream's time base
// (0: none), and the time stamps are moved there and back around them.
std::string videoChain(int rotation, FitMode fit, int width, int height,
                       const std::vector<FadePiece>& fades, int64_t shiftTicks, ChainEnd end,
                       const char* encoderPixelFormat, double toneMapPeak = 0);
// The chain between "abuffer" and "abuffersink": fades (shifted the same
// way), then resampling to the encoder's rate and layout as float planar.
std::string audioChain(const std::vector<FadePiece>& fades, int64_t shiftTicks, int sampleRate,
                       const std::string& channelLayout);
// The pieces moved so that none starts before 0 on a time base of tb, and the
// move in ticks of tb.
std::vector<FadePiece> shiftPieces(const std::vector<FadePiece>& pieces, AVRational tb,
                                   int64_t* shiftTicks);

// A configured graph with one source and one sink.
struct Graph {
  GraphPtr graph;
  AVFilterContext* src = nullptr;
  AVFilterContext* sink = nullptr;
  explicit operator bool() const { return graph != nullptr; }
};

// Video graph "buffer" (the frame's size, format and aspect, the stream's
// time base) -> chain -> "buffersink". device (may be null) is given to every
// hwupload filter; scalerOptions (may be null) become the graph's. Empty on
// failure.
Graph buildVideoGraph(const AVFrame* first, AVRational timeBase, const std::string& chain,
                      AVBufferRef* device, const char* scalerOptions);
// Audio graph "abuffer" (the frame's rate, format and layout) -> chain ->
// "abuffersink". Empty on failure.
Graph buildAudioGraph(const AVFrame* first, AVRational timeBase, const std::string& chain);
// NV12 frames of the output size at 1/90000 -> "hwupload" on the device.
Graph buildUploadGraph(int width, int height, AVBufferRef* device);

// --- Cross fades -------------------------------------------------------------
// Both frames are 8-bit software frames of one format and size.
bool canBlend(const AVFrame* a, const AVFrame* b);
// head = (head × w + tail × (256 − w)) >> 8 on every byte of every plane;
// w in 0 … 256. The frames must pass canBlend.
void blendFrames(AVFrame* head, const AVFrame* tail, int w);
// The same on one row of n bytes.
void blendRow(uint8_t* head, const uint8_t* tail, int n, int w);

// The last frames of a segment, kept to be blended into the first frames of
// the next one.
class TailFrames {
 public:
  // Keeps a copy of the frame at time t (ms from the tail's start).
  bool store(const AVFrame* frame, double t);
  // The stored frame nearest to t; nullptr when none is stored. Queries in
  // rising time order cost one step each.
  const AVFrame* nearest(double t);
  void clear();
  bool empty() const { return frames_.empty(); }

 private:
  struct Stored {
    av::FramePtr frame;
    double t;
  };
  std::vector<Stored> frames_;
  size_t cursor_ = 0;
};

// --- Sound ---------------------------------------------------------------------
// Cuts float planar sample streams into encoder frames of the encoder's frame
// size (1024 when it has none) and its sample format, pts counting samples.
class AudioPacker {
 public:
  AudioPacker(AVCodecContext* enc, AVFormatContext* oc, AVStream* st);
  // True when the encoder's sample format is one the packer writes.
  static bool supports(AVSampleFormat format);
  // Appends count samples per channel (planes: one per encoder channel) and
  // encodes every full frame. False on an encoder or write error.
  bool push(const float* const* planes, int64_t count);
  bool pushSilence(int64_t count);
  // Encodes what is left as a last, shorter frame.
  bool flush();

 private:
  bool encodeFrame(int count);
  bool encodeFull();

  AVCodecContext* enc_;
  AVFormatContext* oc_;
  AVStream* st_;
  int channels_;
  int frameSize_;
  std::vector<std::vector<float>> pending_;  // per channel
  size_t start_ = 0;                         // first unsent sample in pending_
  int64_t pts_ = 0;
};

// Places each segment's sound on the output time line: gaps become silence,
// the head of a segment is mixed with the stored tail of the one before it
// (new × a + tail × (1 − a), a rising from 0 to 1), and the tail before a
// cross fade is kept back for that mix.
class AudioSplicer {
 public:
  AudioSplicer(AudioPacker* packer, int channels, int sampleRate);
  // A segment of length samples; its first head samples overlap the kept
  // tail, its last tail samples are kept for the next segment. Without a head
  // the kept tail is dropped.
  void beginSegment(int64_t length, int64_t head, int64_t tail);
  // count samples that start at sample index `at` from the segment's start.
  // Small gaps and overlaps against what came before are ignored, larger ones
  // are filled with silence or skipped.
  bool add(const float* const* planes, int count, int64_t at);
  // Fills the rest of the segment with silence; true on success.
  bool endSegment();
  // Samples of the current segment placed so far.
  int64_t position() const { return pos_; }

 private:
  bool place(const float* const* planes, int64_t count);

  AudioPacker* packer_;
  int channels_;
  int64_t tolerance_;
  int64_t pos_ = 0;
  int64_t length_ = 0;
  int64_t head_ = 0;
  int64_t tail_ = 0;
  std::vector<std::vector<float>> prevTail_;
  std::vector<std::vector<float>> nextTail_;
  std::vector<std::vector<float>> scratch_;
};

}  // namespace media::exporter

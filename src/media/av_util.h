// av_util: scope guards for FFmpeg objects and the small demuxing and decoding
// helpers the video modules share (probing, playback, export). Internal to
// src/media; callers outside the folder use video.h and player.h.
//
// All helpers are thread-safe (no shared state). Opening a file blocks for as
// long as reading its header and stream info takes.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <string>
#include <vector>

namespace media::av {

// --- Scope guards ----------------------------------------------------------
struct FormatCloser {
  void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
struct CodecFreer {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFreer {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFreer {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct BufferUnref {
  void operator()(AVBufferRef* b) const { av_buffer_unref(&b); }
};
struct SwsFreer {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct SwrFreer {
  void operator()(SwrContext* s) const { swr_free(&s); }
};

using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using BufferPtr = std::unique_ptr<AVBufferRef, BufferUnref>;
using SwsPtr = std::unique_ptr<SwsContext, SwsFreer>;
using SwrPtr = std::unique_ptr<SwrContext, SwrFreer>;

inline FramePtr makeFrame() { return FramePtr(av_frame_alloc()); }
inline PacketPtr makePacket() { return PacketPtr(av_packet_alloc()); }

// --- Demuxing --------------------------------------------------------------
// Opens a file and reads its stream info; nullptr when either fails. The
// interrupt callback, when given, lets a blocked read be abandoned.
FormatPtr openInput(const std::string& path, const AVIOInterruptCB* interrupt = nullptr);
// Index of the first stream of that type, -1 when none. Cover art attached to
// audio files (attached pictures) is not a video stream.
int firstStream(const AVFormatContext* fmt, AVMediaType type);
// Clockwise display rotation in degrees, 0 … 359, from the stream's display
// matrix; 0 without one.
int displayRotation(const AVStream* st);

// --- Decoding --------------------------------------------------------------
// Decoder for a stream, set up from its parameters with an automatic thread
// count and the given threading kinds (FF_THREAD_*), opened; nullptr on failure.
CodecPtr openDecoder(const AVStream* st, int threadType);

// Lets the decoder skip frames nothing refers to while the packet shows a
// time before untilMs: such frames would be decoded only to be dropped.
void skipUnneededFrames(AVCodecContext* dec, const AVPacket* pkt, AVRational timeBase,
                        double untilMs);

// --- Pixels ----------------------------------------------------------------
// Tells the scaler the frame's colour matrix (BT.601, BT.709, BT.2020) and
// range, so HD and full-range phone video convert to the right RGB. Untagged
// pictures of 1280 × 720 and more are taken as BT.709, smaller ones as BT.601.
void setSourceColour(SwsContext* sws, const AVFrame* frame);
// Runs sws on frame into out, w × h pixels of 4 bytes with rows w·4 apart.
// This libswscale's vectorised YUV-to-RGB pass, taken when the size stays,
// writes rows in blocks of 16 pixels: for other widths it leaves the last
// pixels of a row unwritten or runs past its end (past the buffer on the last
// row). Such conversions go into scratch with rows padded to 16 and are
// copied. False when sws_scale fails.
bool scaleInto(SwsContext* sws, const AVFrame* frame, int w, int h, uint8_t* out, std::vector<uint8_t>* scratch);

// --- Large pictures ----------------------------------------------------------
// A get_buffer2 callback for decoding one large picture. Each plane is a fresh
// anonymous mapping (zeroed by the kernel, as FFmpeg's own pool zeroes its
// buffers, so a damaged file never shows stale memory) with transparent huge
// pages asked for, so that it is faulted in a few hundred times fewer steps.
// Small pictures, palettes and hardware formats take the default path.
int getLargeFrameBuffer(AVCodecContext* c, AVFrame* frame, int flags);
// Allocates the planes of frame (format, width and height set) the same way,
// with 64-byte aligned rows. False when memory runs out.
bool allocateLargeFrame(AVFrame* frame);

// --- Time ------------------------------------------------------------------
// A timestamp in milliseconds; fallbackMs for AV_NOPTS_VALUE.
double tsToMs(int64_t ts, AVRational timeBase, double fallbackMs);
// The frame's presentation time: its pts, else the decoder's best estimate.
int64_t framePts(const AVFrame* frame);

}  // namespace media::av

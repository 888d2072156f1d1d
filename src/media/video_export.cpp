#include "media/video_export.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/channel_layout.h>
#include <libavutil/hwcontext.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "media/av_util.h"
#include "media/errors.h"
#include "media/ffmpeg_compat.h"
#include "media/hdr.h"
#include "media/video_export_internal.h"
#include "platform/fs.h"
#include "platform/log.h"

namespace media {

namespace exporter {

void OutputCloser::operator()(AVFormatContext* oc) const {
  if (oc->oformat && !(oc->oformat->flags & AVFMT_NOFILE)) avio_closep(&oc->pb);
  avformat_free_context(oc);
}

bool drainEncoder(AVCodecContext* enc, AVFormatContext* oc, AVStream* st, bool flush) {
  if (flush && avcodec_send_frame(enc, nullptr) < 0) return false;
  av::PacketPtr pkt = av::makePacket();
  if (!pkt) return false;
  for (;;) {
    const int r = avcodec_receive_packet(enc, pkt.get());
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
    if (r < 0) return false;
    pkt->stream_index = st->index;
    // Pictures carry their nominal length: MP4 gives the last one the length
    // of its packet, and one of zero would drop it from the file's duration.
    if (pkt->duration <= 0 && enc->codec_type == AVMEDIA_TYPE_VIDEO && enc->framerate.num > 0) {
      pkt->duration = av_rescale_q(1, av_inv_q(enc->framerate), enc->time_base);
    }
    av_packet_rescale_ts(pkt.get(), enc->time_base, st->time_base);
    // The muxer takes the packet's data over, also when it fails.
    if (av_interleaved_write_frame(oc, pkt.get()) < 0) return false;
  }
}

}  // namespace exporter

namespace {

using namespace exporter;
using Clock = std::chrono::steady_clock;

constexpr int kClock90k = 90000;
// A seam overlapping by no more than this is a plain cut.
constexpr double kMinOverlapMs = 0.5;
// Shorter fade pieces are invisible and not worth a filter.
constexpr double kMinFadePieceMs = 10.0;
// Frames stamped up to this much before a segment's IN still belong to it
// (time stamps rounded by the container).
constexpr double kInSlackMs = 1.0;
// Progress callbacks come in steps of this many percent.
constexpr double kProgressStep = 0.5;
// Below this the remaining-time estimate is mostly start-up noise.
constexpr double kEtaFromPercent = 3.0;
// Frames in flight on the graphics card while hardware encoding.
constexpr int kHwPoolSize = 20;

// Best-quality VP9 for files the user keeps.
constexpr const char* kVp9Deadline = "good";
constexpr int kVp9CpuUsed = 2;
// Working copies: real-time mode at cpu-used 6, measured over 4x faster than
// the above at the same bit rate for under 0.5 dB less PSNR (cpu-used 8 was
// faster still but lost 1.75 dB; bench/vp9_working_copy_settings.sh), at a
// constant quality instead of a bit rate: every edit re-encodes the last
// copy, and only near-transparent copies keep four generations within 0.6 dB
// of a single encode (bench/video_export_bench.cpp, BM_GenerationLoss).
constexpr const char* kVp9IntermediateDeadline = "realtime";
constexpr int kVp9IntermediateCpuUsed = 6;
constexpr int kVp9IntermediateCrf = 4;

// Software H.264 for files the user keeps, at the export's bit rate: the
// fastest preset whose PSNR at the same bit rate is at least that of VP9's
// best-quality setting (1080p, 4 s: VP9 45.30 dB; veryfast 45.41 dB and 7.5x
// as fast; superfast 44.85 dB; bench/x264_settings.sh).
constexpr const char* kX264Preset = "veryfast";
// Working copies with H.264, at a constant near-transparent quality. Three
// whole-clip generations and a user export of the last against the direct
// export (1080p, bench/x264_settings.sh): VP9 real-time (the fallback below)
// lost 0.37 dB; ultrafast at crf 14 was 3.4x as fast as VP9 but lost 1.46 dB,
// superfast crf 14 0.98 dB; ultrafast at crf 8 lost 0.57 dB at 4x the speed,
// the closest to the VP9 copies of the settings at least twice as fast.
// Through this export (cut, append, resize to 720p, then the user's export;
// bench/working_copy_loss.sh) it lost 0.28 dB against the direct export
// (VP9 copies 0.20 dB), its three edits taking 52 s where VP9's took 661 s.
constexpr const char* kX264IntermediatePreset = "ultrafast";
constexpr const char* kX264IntermediateCrf = "8";
// Opus is the only sound WebM takes that the export writes; working copies
// get a high rate so that generations lose little.
constexpr int64_t kOpusIntermediateRate = 256000;

// ============================================================================
// Preparation
// ============================================================================

struct PlannedSegment {
  std::string path;
  double inMs = 0;
  double outMs = 0;
  double lengthMs = 0;
  double headMs = 0;      // overlap with the segment before (cross fade)
  double tailMs = 0;      // overlap with the segment after
  double outStartMs = 0;  // where the segment starts on the output time line
  // Where it starts on the editor's time line: the running sum of the
  // lengths before it, overlaps not subtracted. Effects are anchored there.
  double timelineStartMs = 0;
};

struct Plan {
  VideoInfo main;
  std::map<std::string, VideoInfo> infos;
  std::vector<PlannedSegment> segments;  // non-empty, readable
  double outputMs = 1;
  bool hasCrossfades = false;
  bool anyAudio = false;
  size_t files = 0;  // distinct source files
  int width = 0;
  int height = 0;
  double fps = 30;
  EncoderInfo encoder;
};

bool fail(std::string* err, const char* word) {
  if (err) *err = word;
  return false;
}

// Lower-case extension with its dot, from the last '.' of the file name;
// empty when there is none.
std::string lowerExtension(const std::string& path) {
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = path.substr(dot);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext;
}

// Reads every segment's file once; unreadable files other than the main
// source drop out with a line on standard error.
std::vector<Segment> readableSegments(const std::string& srcPath, const ExportOptions& opts,
                                      Plan* plan) {
  std::vector<Segment> list = opts.segments;
  for (Segment& s : list) {
    if (s.path.empty()) s.path = srcPath;
  }
  if (list.empty()) list.push_back(Segment{srcPath, 0, plan->main.durationMs});
  plan->infos[srcPath] = plan->main;
  std::set<std::string> unreadable;
  for (const Segment& s : list) {
    if (plan->infos.count(s.path) || unreadable.count(s.path)) continue;
    VideoInfo info;
    std::string word;
    if (readVideoInfo(s.path, &info, &word)) {
      plan->infos[s.path] = info;
      continue;
    }
    std::fprintf(stderr, "[export] uebersprungen: %s (%s)\n", s.path.c_str(),
                 word.empty() ? "nicht lesbar" : word.c_str());
    unreadable.insert(s.path);
  }
  std::erase_if(list, [&](const Segment& s) { return unreadable.count(s.path) > 0; });
  return list;
}

// Overlaps of the seams from the cross fades: each cross fade goes to the
// seam nearest its anchor and overlaps by at most half the shorter neighbour.
void placeCrossfades(const std::vector<Fade>& fades, Plan* plan) {
  std::vector<PlannedSegment>& segs = plan->segments;
  const size_t n = segs.size();
  std::vector<double> seamAt(n, 0);
  for (size_t i = 1; i < n; ++i) seamAt[i] = seamAt[i - 1] + segs[i - 1].lengthMs;
  std::vector<double> overlap(n, 0);
  for (const Fade& f : fades) {
    if (f.kind != Fade::Cross || n < 2) continue;
    size_t best = 1;
    for (size_t i = 2; i < n; ++i) {
      if (std::fabs(seamAt[i] - f.atMs) < std::fabs(seamAt[best] - f.atMs)) best = i;
    }
    const double limit = 0.5 * std::min(segs[best - 1].lengthMs, segs[best].lengthMs);
    overlap[best] = std::max(overlap[best], std::max(0.0, std::min(f.lengthMs, limit)));
  }
  double sum = 0;
  for (double o : overlap) sum += o;
  plan->hasCrossfades = sum > kMinOverlapMs;
  double total = 0;
  for (size_t i = 0; i < n; ++i) {
    total += segs[i].lengthMs;
    const double o = overlap[i] > kMinOverlapMs ? overlap[i] : 0.0;
    segs[i].headMs = o;
    if (i > 0) {
      segs[i - 1].tailMs = o;
      segs[i].outStartMs = segs[i - 1].outStartMs + segs[i - 1].lengthMs - o;
      segs[i].timelineStartMs = seamAt[i];
    }
  }
  plan->outputMs = std::max(1.0, total - sum);
}

bool makePlan(const std::vector<EncoderInfo>& encoders, const std::string& srcPath,
              const std::string& outPath, const ExportOptions& opts, Plan* plan, std::string* err) {
  if (!readVideoInfo(srcPath, &plan->main, err)) return false;
  const std::vector<Segment> list = readableSegments(srcPath, opts, plan);
  if (list.empty()) return fail(err, err::kUnsupportedFormat);
  double total = 0;
  for (const Segment& s : list) total += std::max(0.0, s.lengthMs());
  if (!(total > 0)) return fail(err, err::kEmptySelection);

  std::set<std::string> files;
  for (const Segment& s : list) {
    if (s.empty()) continue;
    PlannedSegment p;
    p.path = s.path;
    p.inMs = s.inMs;
    p.outMs = s.outMs;
    p.lengthMs = s.lengthMs();
    plan->segments.push_back(p);
    if (files.insert(s.path).second && plan->infos[s.path].hasAudio) plan->anyAudio = true;
  }
  plan->files = files.size();
  placeCrossfades(opts.fades, plan);

  plan->width = (opts.width >= 1 ? opts.width : plan->main.width) & ~1;
  plan->height = (opts.height >= 1 ? opts.height : plan->main.height) & ~1;
  if (plan->width < 2 || plan->height < 2) return fail(err, err::kBadSize);
  plan->fps = plan->main.fps > 0 ? plan->main.fps : 30.0;

  if (encoders.empty()) return fail(err, err::kNoEncoder);
  plan->encoder = encoders.front();
  for (const EncoderInfo& e : encoders) {
    if (e.name == opts.encoder) plan->encoder = e;
  }
  const char* expected = plan->encoder.container == "webm" ? ".webm" : ".mp4";
  if (lowerExtension(outPath) != expected) return fail(err, err::kContainerMismatch);
  return true;
}

// The fade effects that reach into a segment, as pieces on its source's own
// time stamps (the segment's times count from originMs there). Effects are
// placed on the editor's time line, where a segment starts at the sum of the
// lengths before it: a cross fade shortens the output but moves no effect
// against the pictures it was placed on.
std::vector<FadePiece> fadePieces(const std::vector<Fade>& fades, const PlannedSegment& s,
                                  double originMs) {
  std::vector<FadePiece> pieces;
  const double segStart = s.timelineStartMs;
  const double segEnd = segStart + s.lengthMs;
  const auto toSourceS = [&](double timelineMs) {
    return (originMs + s.inMs + timelineMs - segStart) / 1000.0;
  };
  for (const Fade& f : fades) {
    if ((f.kind != Fade::In && f.kind != Fade::Out) || !(f.lengthMs > 0)) continue;
    const double from = std::max(f.atMs - f.lengthMs, segStart);
    const double to = std::min(f.atMs, segEnd);
    if (to - from < kMinFadePieceMs) continue;
    FadePiece p;
    p.in = f.kind == Fade::In;
    p.startS = toSourceS(f.atMs - f.lengthMs);
    p.lengthS = f.lengthMs / 1000.0;
    p.fromS = toSourceS(from);
    p.toS = toSourceS(to);
    pieces.push_back(p);
  }
  return pieces;
}

void logSegment(size_t index, const PlannedSegment& s, const std::vector<FadePiece>& pieces,
                bool crossfades) {
  char line[256];
  std::snprintf(
      line, sizeof line, "Abschnitt %d: Quelle %.2f-%.2f s (Ausgabe ab %.2f s), %d Blende(n)%s",
      static_cast<int>(index) + 1, s.inMs / 1000.0, s.outMs / 1000.0, s.outStartMs / 1000.0,
      static_cast<int>(pieces.size()), crossfades ? ", Ueberblendung" : "");
  diag::write("export", line);
  for (const FadePiece& p : pieces) {
    std::snprintf(line, sizeof line, "    %s ab %.2f s, %.2f s lang", p.in ? "auf" : "ab", p.fromS,
                  p.toS - p.fromS);
    diag::write("export", line);
  }
}

// ============================================================================
// The output file's temporary name
// ============================================================================

// The file the export writes under a temporary name beside the target; removed
// unless it was committed onto the target.
using TempOutput = platform::fs::PendingReplace;

// ============================================================================
// The export
// ============================================================================

int interruptCallback(void* flag) {
  return static_cast<std::atomic<bool>*>(flag)->load(std::memory_order_relaxed) ? 1 : 0;
}

bool isNv12Encoder(const std::string& name) {
  return name == "h264_nvenc" || name == "h264_qsv" || name == "h264_amf" || name == "h264_mf";
}

class Exporter {
 public:
  Exporter(const Plan& plan, const ExportOptions& opts, std::atomic<bool>* cancel,
           const std::function<void(const ExportProgress&)>& progress)
      : plan_(plan), opts_(opts), cancel_(cancel), progress_(progress) {}

  // The whole export; false with the failure word in *word.
  bool run(const std::string& outPath, std::string* word);

 private:
  struct Source {
    std::string path;
    av::FormatPtr fmt;
    int vi = -1;
    int ai = -1;
    av::CodecPtr vdec;
    av::CodecPtr adec;  // null when the file is silent or its sound undecodable
    int rotation = 0;
    double toneMapPeak = 0;  // high dynamic range: its peak over reference white; 0 standard
    // The time stamp of the first picture, where the file's time line starts.
    // WebM files with Opus sound start their pictures a few milliseconds in;
    // counting from there keeps edit after edit from adding that delay again.
    double originMs = 0;
  };

  bool fail(const char* word) {
    if (word_.empty()) word_ = word;
    return false;
  }
  // The word for a failed drainEncoder: the file or the encoder.
  bool failEncoding() {
    return fail(out_ && out_->pb && out_->pb->error < 0 ? err::kWriteFailed : err::kEncoderFailed);
  }
  bool cancelled() const { return cancel_ && cancel_->load(std::memory_order_relaxed); }
  bool hardwareUpload() const { return plan_.encoder.name == "h264_vaapi"; }
  // A source time stamp on the source's time line (from its first picture).
  double sourceMs(int64_t ts, AVRational tb, double fallbackMs) const {
    return ts == AV_NOPTS_VALUE ? fallbackMs : av::tsToMs(ts, tb, 0) - src_.originMs;
  }

  // Setting up.
  bool openSource(const std::string& path);
  bool openOutput(const std::string& outPath);
  bool openVideoEncoder();
  void configureVp9(AVCodecContext* c) const;
  void configureX264(AVCodecContext* c) const;
  bool losslessSound() const { return opts_.intermediate && plan_.encoder.container != "webm"; }
  bool openHardwareFrames(AVCodecContext* c);
  bool openAudioEncoder();
  bool writeHeader();

  // One segment.
  bool runSegment(size_t index);
  void prepareChains(const PlannedSegment& s);
  bool readSegment();
  bool flushSegment();
  bool decodeVideo(const AVPacket* pkt);
  bool decodeAudio(const AVPacket* pkt);
  bool onVideoFrame(AVFrame* f);
  bool pullVideo();
  bool onFilteredVideo(AVFrame* f);
  bool encodeVideo(AVFrame* f);
  bool sendVideo(const AVFrame* f);
  bool onAudioFrame(AVFrame* f);
  bool pullAudio();
  bool onFilteredAudio(const AVFrame* f);

  bool finish();
  void report(double outMs);

  const Plan& plan_;
  const ExportOptions& opts_;
  std::atomic<bool>* cancel_;
  const std::function<void(const ExportProgress&)>& progress_;
  std::string word_;

  // Output. The temporary file outlives the context that writes it.
  TempOutput temp_;
  OutputPtr out_;
  av::BufferPtr hwDevice_;
  av::BufferPtr hwFrames_;
  av::CodecPtr venc_;
  av::CodecPtr aenc_;
  AVStream* vst_ = nullptr;
  AVStream* ast_ = nullptr;
  Graph upload_;
  std::unique_ptr<AudioPacker> packer_;
  std::unique_ptr<AudioSplicer> splicer_;
  int sampleRate_ = 0;
  int channels_ = 0;
  std::string channelLayout_;

  // The open source and the segment being rendered.
  Source src_;
  const PlannedSegment* seg_ = nullptr;
  std::string videoChainText_;
  std::string audioChainText_;
  Graph vgraph_;
  Graph agraph_;
  bool videoDone_ = false;
  bool audioDone_ = false;
  double audioNextMs_ = 0;
  int64_t offset90k_ = 0;
  int64_t lastPts_ = INT64_MIN;
  TailFrames incoming_;  // the previous segment's tail, blended into this head
  TailFrames outgoing_;  // this segment's tail, kept for the next head
  av::PacketPtr pkt_ = av::makePacket();
  av::FramePtr frame_ = av::makeFrame();
  av::FramePtr filtered_ = av::makeFrame();
  av::FramePtr uploaded_ = av::makeFrame();

  // Progress.
  Clock::time_point started_;
  double lastPercent_ = 0;
};

// ---------------------------------------------------------------------------
// Setting up
// ---------------------------------------------------------------------------

bool Exporter::openSource(const std::string& path) {
  src_ = Source{};
  Source s;
  s.path = path;
  const AVIOInterruptCB interrupt{interruptCallback, cancel_};
  s.fmt = av::openInput(path, cancel_ ? &interrupt : nullptr);
  if (!s.fmt) return fail(cancelled() ? err::kCancelled : err::kUnsupportedFormat);
  s.vi = av::firstStream(s.fmt.get(), AVMEDIA_TYPE_VIDEO);
  if (s.vi < 0) return fail(err::kNoVideoTrack);
  const AVStream* vs = s.fmt->streams[s.vi];
  s.vdec = av::openDecoder(vs, FF_THREAD_FRAME | FF_THREAD_SLICE);
  if (!s.vdec) return fail(err::kUnsupportedFormat);
  s.ai = av::firstStream(s.fmt.get(), AVMEDIA_TYPE_AUDIO);
  if (s.ai >= 0) s.adec = av::openDecoder(s.fmt->streams[s.ai], FF_THREAD_FRAME | FF_THREAD_SLICE);
  s.rotation = av::displayRotation(vs);
  if (dynamicRangeOf(vs->codecpar->color_trc) != DynamicRange::Standard) s.toneMapPeak = streamPeak(vs);
  if (vs->start_time != AV_NOPTS_VALUE) {
    s.originMs = av::tsToMs(vs->start_time, vs->time_base, 0);
  } else if (s.fmt->start_time != AV_NOPTS_VALUE) {
    s.originMs = static_cast<double>(s.fmt->start_time) / 1000.0;
  }
  // The demuxer need not hand over what nobody decodes.
  for (unsigned i = 0; i < s.fmt->nb_streams; ++i) {
    if (static_cast<int>(i) != s.vi && static_cast<int>(i) != s.ai) {
      s.fmt->streams[i]->discard = AVDISCARD_ALL;
    }
  }
  src_ = std::move(s);
  return true;
}

bool Exporter::openOutput(const std::string& outPath) {
  if (!temp_.create(outPath)) return fail(err::kWriteFailed);
  // The container comes from the real name; the bytes go to the temporary.
  const AVOutputFormat* format = av_guess_format(nullptr, outPath.c_str(), nullptr);
  AVFormatContext* raw = nullptr;
  if (!format || avformat_alloc_output_context2(&raw, format, nullptr, temp_.path().c_str()) < 0 ||
      !raw) {
    return fail(err::kWriteFailed);
  }
  out_.reset(raw);
  return true;
}

void Exporter::configureVp9(AVCodecContext* c) const {
  const bool fast = opts_.intermediate;
  av_opt_set(c->priv_data, "deadline", fast ? kVp9IntermediateDeadline : kVp9Deadline, 0);
  av_opt_set_int(c->priv_data, "cpu-used", fast ? kVp9IntermediateCpuUsed : kVp9CpuUsed, 0);
  av_opt_set_int(c->priv_data, "row-mt", 1, 0);
  if (fast) {
    // No bit rate: libvpx then holds the quality constant.
    av_opt_set_int(c->priv_data, "crf", kVp9IntermediateCrf, 0);
    c->bit_rate = 0;
  }
  c->thread_count = 0;
  compat::setNominalFrameTicks(c,
                               std::max(1, static_cast<int>(std::lround(kClock90k / plan_.fps))));
}

void Exporter::configureX264(AVCodecContext* c) const {
  const bool fast = opts_.intermediate;
  av_opt_set(c->priv_data, "preset", fast ? kX264IntermediatePreset : kX264Preset, 0);
  if (fast) {
    av_opt_set(c->priv_data, "crf", kX264IntermediateCrf, 0);
    c->bit_rate = 0;
  }
  c->thread_count = 0;
}

bool Exporter::openHardwareFrames(AVCodecContext* c) {
  AVBufferRef* device = nullptr;
  const char* node = plan_.encoder.device.empty() ? nullptr : plan_.encoder.device.c_str();
  if (av_hwdevice_ctx_create(&device, AV_HWDEVICE_TYPE_VAAPI, node, nullptr, 0) < 0) {
    return fail(err::kNoEncoder);
  }
  hwDevice_.reset(device);
  hwFrames_.reset(av_hwframe_ctx_alloc(device));
  if (!hwFrames_) return fail(err::kEncoderFailed);
  auto* frames = reinterpret_cast<AVHWFramesContext*>(hwFrames_->data);
  frames->format = AV_PIX_FMT_VAAPI;
  frames->sw_format = AV_PIX_FMT_NV12;
  frames->width = plan_.width;
  frames->height = plan_.height;
  frames->initial_pool_size = kHwPoolSize;
  if (av_hwframe_ctx_init(hwFrames_.get()) < 0) return fail(err::kEncoderFailed);
  c->hw_frames_ctx = av_buffer_ref(hwFrames_.get());
  if (!c->hw_frames_ctx) return fail(err::kEncoderFailed);
  c->pix_fmt = AV_PIX_FMT_VAAPI;
  return true;
}

bool Exporter::openVideoEncoder() {
  const EncoderInfo& e = plan_.encoder;
  const AVCodec* codec = avcodec_find_encoder_by_name(e.name.c_str());
  if (!codec) return fail(err::kNoEncoder);
  venc_.reset(avcodec_alloc_context3(codec));
  if (!venc_) return fail(err::kEncoderFailed);
  AVCodecContext* c = venc_.get();
  c->width = plan_.width;
  c->height = plan_.height;
  c->sample_aspect_ratio = AVRational{1, 1};
  c->time_base = AVRational{1, kClock90k};
  c->framerate = av_d2q(plan_.fps, 1000);
  c->gop_size = static_cast<int>(std::lround(2.0 * plan_.fps));  // a key frame every 2 s
  c->bit_rate =
      opts_.bitRate >= 1 ? opts_.bitRate : static_cast<int64_t>(plan_.width) * plan_.height * 4;
  if (out_->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  // Every output is standard-range BT.709 (high-dynamic-range sources are
  // tone-mapped on the way); said in the bitstream and the container, so no
  // player has to guess.
  c->color_primaries = AVCOL_PRI_BT709;
  c->color_trc = AVCOL_TRC_BT709;
  c->colorspace = AVCOL_SPC_BT709;
  c->color_range = AVCOL_RANGE_MPEG;
  if (e.codec == "vp9") configureVp9(c);
  if (e.name == "libx264") configureX264(c);
  if (hardwareUpload()) {
    if (!openHardwareFrames(c)) return false;
  } else {
    c->pix_fmt = isNv12Encoder(e.name) ? AV_PIX_FMT_NV12 : AV_PIX_FMT_YUV420P;
  }
  if (avcodec_open2(c, codec, nullptr) < 0) return fail(err::kEncoderFailed);
  vst_ = avformat_new_stream(out_.get(), nullptr);
  if (!vst_) return fail(err::kWriteFailed);
  vst_->time_base = c->time_base;
  if (avcodec_parameters_from_context(vst_->codecpar, c) < 0) return fail(err::kWriteFailed);
  return true;
}

// The encoder's preferred sample format: float planar when it takes it,
// else the first one the packer writes, else its first.
AVSampleFormat pickSampleFormat(const AVCodec* codec) {
  const AVSampleFormat* list = compat::sampleFormats(codec);
  if (!list || list[0] == AV_SAMPLE_FMT_NONE) return AV_SAMPLE_FMT_FLTP;
  for (const AVSampleFormat* f = list; *f != AV_SAMPLE_FMT_NONE; ++f) {
    if (*f == AV_SAMPLE_FMT_FLTP) return *f;
  }
  for (const AVSampleFormat* f = list; *f != AV_SAMPLE_FMT_NONE; ++f) {
    if (AudioPacker::supports(*f)) return *f;
  }
  return list[0];
}

bool rateSupported(const AVCodec* codec, int rate) {
  const int* list = compat::sampleRates(codec);
  if (!list) return true;
  for (; *list; ++list) {
    if (*list == rate) return true;
  }
  return false;
}

bool Exporter::openAudioEncoder() {
  if (!plan_.anyAudio) return true;
  const bool webm = plan_.encoder.container == "webm";
  // A working copy in MP4 keeps its sound losslessly (ALAC), so edit after
  // edit loses nothing; WebM takes no lossless sound.
  const bool lossless = losslessSound();
  const AVCodec* codec = avcodec_find_encoder(webm ? AV_CODEC_ID_OPUS
                                              : lossless ? AV_CODEC_ID_ALAC
                                                         : AV_CODEC_ID_AAC);
  if (!codec) return true;  // a video without sound
  int rate = 48000;
  int channels = 2;
  if (plan_.files == 1 && src_.adec) {
    channels = std::clamp(src_.adec->ch_layout.nb_channels, 1, 2);
    if (!webm && src_.adec->sample_rate > 0) rate = src_.adec->sample_rate;
  }
  if (!rateSupported(codec, rate)) rate = 48000;
  av::CodecPtr c(avcodec_alloc_context3(codec));
  if (!c) return true;
  c->sample_rate = rate;
  av_channel_layout_default(&c->ch_layout, channels);
  c->sample_fmt = pickSampleFormat(codec);
  c->time_base = AVRational{1, rate};
  c->bit_rate = webm ? (opts_.intermediate ? kOpusIntermediateRate : 96000) : lossless ? 0 : 128000;
  if (out_->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (!AudioPacker::supports(c->sample_fmt) || avcodec_open2(c.get(), codec, nullptr) < 0) {
    return true;
  }
  ast_ = avformat_new_stream(out_.get(), nullptr);
  if (!ast_) return fail(err::kWriteFailed);
  ast_->time_base = c->time_base;
  if (avcodec_parameters_from_context(ast_->codecpar, c.get()) < 0) return fail(err::kWriteFailed);
  char layout[64] = {};
  av_channel_layout_describe(&c->ch_layout, layout, sizeof layout);
  channelLayout_ = layout;
  sampleRate_ = rate;
  channels_ = channels;
  aenc_ = std::move(c);
  packer_ = std::make_unique<AudioPacker>(aenc_.get(), out_.get(), ast_);
  splicer_ = std::make_unique<AudioSplicer>(packer_.get(), channels_, sampleRate_);
  return true;
}

bool Exporter::writeHeader() {
  if (!opts_.software.empty()) av_dict_set(&out_->metadata, "software", opts_.software.c_str(), 0);
  if (!opts_.comment.empty()) {
    av_dict_set(&out_->metadata, "comment", opts_.comment.c_str(), 0);
    av_dict_set(&out_->metadata, "description", opts_.comment.c_str(), 0);
  }
  if (!(out_->oformat->flags & AVFMT_NOFILE) &&
      avio_open(&out_->pb, temp_.path().c_str(), AVIO_FLAG_WRITE) < 0) {
    return fail(err::kWriteFailed);
  }
  DictGuard options;
  // Free-form tags need the metadata box; the index goes to the front so
  // players can start before the whole file is read.
  if (std::strcmp(out_->oformat->name, "mp4") == 0) {
    av_dict_set(&options.dict, "movflags", "+use_metadata_tags+faststart", 0);
  }
  if (avformat_write_header(out_.get(), &options.dict) < 0) return fail(err::kWriteFailed);
  if (hardwareUpload() && plan_.hasCrossfades) {
    upload_ = buildUploadGraph(plan_.width, plan_.height, hwDevice_.get());
    if (!upload_) return fail(err::kFilterFailed);
  }
  return true;
}

// ---------------------------------------------------------------------------
// Segments
// ---------------------------------------------------------------------------

void Exporter::prepareChains(const PlannedSegment& s) {
  const std::vector<FadePiece> pieces = fadePieces(opts_.fades, s, src_.originMs);
  logSegment(static_cast<size_t>(seg_ - plan_.segments.data()), s, pieces, plan_.hasCrossfades);

  ChainEnd end = ChainEnd::Software;
  if (hardwareUpload()) {
    end = plan_.hasCrossfades ? ChainEnd::HardwareNv12 : ChainEnd::HardwareUpload;
  }
  const char* pixelFormat = av_get_pix_fmt_name(venc_->pix_fmt);
  int64_t shift = 0;
  const std::vector<FadePiece> videoPieces =
      shiftPieces(pieces, src_.fmt->streams[src_.vi]->time_base, &shift);
  videoChainText_ = videoChain(src_.rotation, opts_.fitMode, plan_.width, plan_.height, videoPieces,
                               shift, end, pixelFormat ? pixelFormat : "yuv420p", src_.toneMapPeak);
  if (aenc_ && src_.adec) {
    const std::vector<FadePiece> audioPieces =
        shiftPieces(pieces, src_.fmt->streams[src_.ai]->time_base, &shift);
    audioChainText_ = audioChain(audioPieces, shift, sampleRate_, channelLayout_);
  }
}

bool Exporter::runSegment(size_t index) {
  const PlannedSegment& s = plan_.segments[index];
  seg_ = &s;
  if (cancelled()) return fail(err::kCancelled);
  // Without a cross fade into this segment nothing of the last one is mixed.
  if (s.headMs > 0) {
    incoming_ = std::move(outgoing_);
  } else {
    incoming_.clear();
  }
  outgoing_.clear();
  if (s.path != src_.path && !openSource(s.path)) return false;
  prepareChains(s);
  vgraph_ = Graph{};
  agraph_ = Graph{};

  av_seek_frame(src_.fmt.get(), -1, static_cast<int64_t>((s.inMs + src_.originMs) * 1000.0),
                AVSEEK_FLAG_BACKWARD);
  avcodec_flush_buffers(src_.vdec.get());
  if (src_.adec) avcodec_flush_buffers(src_.adec.get());
  offset90k_ = std::llround(s.outStartMs * kClock90k / 1000.0);
  videoDone_ = false;
  audioDone_ = !(aenc_ && src_.adec);
  audioNextMs_ = s.inMs;

  if (splicer_) {
    // Sample positions from the output time line, so rounding never adds up.
    const auto at = [&](double ms) { return std::llround(ms * sampleRate_ / 1000.0); };
    const auto endOf = [&](const PlannedSegment& p) { return at(p.outStartMs + p.lengthMs); };
    const int64_t start = at(s.outStartMs);
    const int64_t end = endOf(s);
    const bool first = index == 0;
    const bool last = index + 1 == plan_.segments.size();
    const int64_t head = !first && s.headMs > 0 ? endOf(plan_.segments[index - 1]) - start : 0;
    const int64_t tail = !last && s.tailMs > 0 ? end - at(plan_.segments[index + 1].outStartMs) : 0;
    splicer_->beginSegment(end - start, head, tail);
  }
  if (!readSegment() || !flushSegment()) return false;
  if (splicer_ && !splicer_->endSegment()) return failEncoding();
  incoming_.clear();
  return true;
}

bool Exporter::readSegment() {
  while (!(videoDone_ && audioDone_)) {
    if (cancelled()) return fail(err::kCancelled);
    if (av_read_frame(src_.fmt.get(), pkt_.get()) < 0) {
      // End of file, or a damaged rest: what was read stands.
      if (cancelled()) return fail(err::kCancelled);
      break;
    }
    bool ok = true;
    if (pkt_->stream_index == src_.vi && !videoDone_) {
      ok = decodeVideo(pkt_.get());
    } else if (pkt_->stream_index == src_.ai && !audioDone_) {
      ok = decodeAudio(pkt_.get());
    }
    av_packet_unref(pkt_.get());
    if (!ok) return false;
  }
  return true;
}

bool Exporter::flushSegment() {
  if (!decodeVideo(nullptr)) return false;
  if (aenc_ && src_.adec && !decodeAudio(nullptr)) return false;
  if (vgraph_) {
    if (av_buffersrc_add_frame_flags(vgraph_.src, nullptr, 0) < 0 || !pullVideo()) {
      return fail(err::kFilterFailed);
    }
  }
  if (agraph_) {
    if (av_buffersrc_add_frame_flags(agraph_.src, nullptr, 0) < 0 || !pullAudio()) {
      return fail(err::kFilterFailed);
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// Pictures
// ---------------------------------------------------------------------------

bool Exporter::decodeVideo(const AVPacket* pkt) {
  // A damaged packet is skipped; the decoder picks up at the next one.
  avcodec_send_packet(src_.vdec.get(), pkt);
  while (avcodec_receive_frame(src_.vdec.get(), frame_.get()) == 0) {
    const bool ok = onVideoFrame(frame_.get());
    av_frame_unref(frame_.get());
    if (!ok) return false;
  }
  return true;
}

bool Exporter::onVideoFrame(AVFrame* f) {
  const int64_t pts = av::framePts(f);
  if (pts == AV_NOPTS_VALUE || videoDone_) return true;
  const AVRational tb = src_.fmt->streams[src_.vi]->time_base;
  const double ms = sourceMs(pts, tb, 0);
  if (ms >= seg_->outMs) {
    videoDone_ = true;
    return true;
  }
  if (ms < seg_->inMs - kInSlackMs) return true;
  f->pts = pts;
  if (!vgraph_) {
    vgraph_ = buildVideoGraph(f, tb, videoChainText_, hardwareUpload() ? hwDevice_.get() : nullptr,
                              hardwareUpload() ? "flags=lanczos" : nullptr);
    if (!vgraph_) return fail(err::kFilterFailed);
  }
  if (av_buffersrc_add_frame_flags(vgraph_.src, f, 0) < 0) return fail(err::kFilterFailed);
  return pullVideo();
}

bool Exporter::pullVideo() {
  for (;;) {
    const int r = av_buffersink_get_frame(vgraph_.sink, filtered_.get());
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
    if (r < 0) return fail(err::kFilterFailed);
    const bool ok = onFilteredVideo(filtered_.get());
    av_frame_unref(filtered_.get());
    if (!ok) return false;
  }
}

bool Exporter::onFilteredVideo(AVFrame* f) {
  const PlannedSegment& s = *seg_;
  const AVRational tb = av_buffersink_get_time_base(vgraph_.sink);
  const double t = std::max(0.0, sourceMs(f->pts, tb, s.inMs) - s.inMs);
  const double tailStart = s.lengthMs - s.tailMs;
  if (s.tailMs > 0 && t >= tailStart) {
    // Encoded later, blended under the next segment's head.
    return outgoing_.store(f, t - tailStart) || fail(err::kFilterFailed);
  }
  if (s.headMs > 0 && t < s.headMs) {
    const AVFrame* old = incoming_.nearest(t);
    if (old && canBlend(f, old)) {
      if (av_frame_make_writable(f) < 0) return fail(err::kFilterFailed);
      const double a = std::clamp(t / s.headMs, 0.0, 1.0);
      blendFrames(f, old, static_cast<int>(std::lround(a * 256.0)));
    }
  } else if (!incoming_.empty()) {
    incoming_.clear();
  }
  // Time stamps must rise strictly even where rounding makes two meet.
  int64_t pts = static_cast<int64_t>(t / 1000.0 * kClock90k) + offset90k_;
  if (pts <= lastPts_) pts = lastPts_ + 1;
  lastPts_ = pts;
  f->pts = pts;
  f->pict_type = AV_PICTURE_TYPE_NONE;
  if (!encodeVideo(f)) return false;
  report(s.outStartMs + t);
  return true;
}

bool Exporter::encodeVideo(AVFrame* f) {
  if (!upload_) return sendVideo(f);
  if (av_buffersrc_add_frame_flags(upload_.src, f, AV_BUFFERSRC_FLAG_KEEP_REF) < 0) {
    return fail(err::kFilterFailed);
  }
  for (;;) {
    const int r = av_buffersink_get_frame(upload_.sink, uploaded_.get());
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
    if (r < 0) return fail(err::kFilterFailed);
    const bool ok = sendVideo(uploaded_.get());
    av_frame_unref(uploaded_.get());
    if (!ok) return false;
  }
}

bool Exporter::sendVideo(const AVFrame* f) {
  if (avcodec_send_frame(venc_.get(), f) < 0) return fail(err::kEncoderFailed);
  return drainEncoder(venc_.get(), out_.get(), vst_, false) || failEncoding();
}

// ---------------------------------------------------------------------------
// Sound
// ---------------------------------------------------------------------------

bool Exporter::decodeAudio(const AVPacket* pkt) {
  avcodec_send_packet(src_.adec.get(), pkt);
  while (avcodec_receive_frame(src_.adec.get(), frame_.get()) == 0) {
    const bool ok = onAudioFrame(frame_.get());
    av_frame_unref(frame_.get());
    if (!ok) return false;
  }
  return true;
}

bool Exporter::onAudioFrame(AVFrame* f) {
  if (audioDone_ || f->nb_samples <= 0 || f->sample_rate <= 0) return true;
  const AVRational tb = src_.fmt->streams[src_.ai]->time_base;
  int64_t pts = av::framePts(f);
  // A frame without a time stamp follows the one before it.
  if (pts == AV_NOPTS_VALUE) {
    pts = std::llround((audioNextMs_ + src_.originMs) / 1000.0 / av_q2d(tb));
  }
  const double startMs = sourceMs(pts, tb, audioNextMs_);
  const double endMs = startMs + f->nb_samples * 1000.0 / f->sample_rate;
  audioNextMs_ = endMs;
  if (startMs >= seg_->outMs) {
    audioDone_ = true;
    return true;
  }
  if (endMs >= seg_->outMs) audioDone_ = true;
  if (endMs <= seg_->inMs) return true;
  f->pts = pts;
  if (!agraph_) {
    agraph_ = buildAudioGraph(f, tb, audioChainText_);
    if (!agraph_) return fail(err::kFilterFailed);
  }
  if (av_buffersrc_add_frame_flags(agraph_.src, f, 0) < 0) return fail(err::kFilterFailed);
  return pullAudio();
}

bool Exporter::pullAudio() {
  for (;;) {
    const int r = av_buffersink_get_frame(agraph_.sink, filtered_.get());
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
    if (r < 0) return fail(err::kFilterFailed);
    const bool ok = onFilteredAudio(filtered_.get());
    av_frame_unref(filtered_.get());
    if (!ok) return false;
  }
}

bool Exporter::onFilteredAudio(const AVFrame* f) {
  if (f->nb_samples <= 0 || f->ch_layout.nb_channels != channels_) return true;
  const AVRational tb = av_buffersink_get_time_base(agraph_.sink);
  const double ms = sourceMs(f->pts, tb, seg_->inMs) - seg_->inMs;
  const int64_t at = std::llround(ms * sampleRate_ / 1000.0);
  const float* planes[2] = {
      reinterpret_cast<const float*>(f->extended_data[0]),
      reinterpret_cast<const float*>(f->extended_data[channels_ > 1 ? 1 : 0])};
  return splicer_->add(planes, f->nb_samples, at) || failEncoding();
}

// ---------------------------------------------------------------------------
// Finishing
// ---------------------------------------------------------------------------

void Exporter::report(double outMs) {
  const double percent = std::min(100.0, outMs / plan_.outputMs * 100.0);
  if (percent < lastPercent_ + kProgressStep) return;
  lastPercent_ = percent;
  if (!progress_) return;
  ExportProgress p;
  p.percent = percent;
  p.encoder = plan_.encoder;
  if (percent >= kEtaFromPercent) {
    const double elapsed = std::chrono::duration<double>(Clock::now() - started_).count();
    p.etaSeconds = elapsed / (percent / 100.0) - elapsed;
  }
  progress_(p);
}

bool Exporter::finish() {
  if (packer_ && !packer_->flush()) return failEncoding();
  if (!drainEncoder(venc_.get(), out_.get(), vst_, true)) return failEncoding();
  if (aenc_ && !drainEncoder(aenc_.get(), out_.get(), ast_, true)) return failEncoding();
  if (av_write_trailer(out_.get()) < 0) return fail(err::kWriteFailed);
  if (out_->pb && (out_->pb->error < 0 || avio_closep(&out_->pb) < 0)) return fail(err::kWriteFailed);
  if (!temp_.commit()) return fail(err::kWriteFailed);
  if (progress_) {
    ExportProgress p;
    p.percent = 100;
    p.etaSeconds = 0;
    p.encoder = plan_.encoder;
    progress_(p);
  }
  return true;
}

bool Exporter::run(const std::string& outPath, std::string* word) {
  const bool ok = [&] {
    if (!pkt_ || !frame_ || !filtered_ || !uploaded_) return fail(err::kEncoderFailed);
    if (!openSource(plan_.segments.front().path) || !openOutput(outPath) || !openVideoEncoder() ||
        !openAudioEncoder() || !writeHeader()) {
      return false;
    }
    started_ = Clock::now();
    for (size_t i = 0; i < plan_.segments.size(); ++i) {
      if (!runSegment(i)) return false;
    }
    return finish();
  }();
  if (!ok && word) *word = word_.empty() ? err::kEncoderFailed : word_;
  return ok;
}

}  // namespace

namespace exporter {

bool exportWith(const std::vector<EncoderInfo>& encoders, const std::string& srcPath,
                const std::string& outPath, const ExportOptions& opts, std::atomic<bool>* cancel,
                const std::function<void(const ExportProgress&)>& progress, std::string* err) {
  Plan plan;
  if (!makePlan(encoders, srcPath, outPath, opts, &plan, err)) return false;
  char line[256];
  std::snprintf(line, sizeof line, "Export: %zu Abschnitt(e), %dx%d, %s%s -> %s",
                plan.segments.size(), plan.width, plan.height, plan.encoder.name.c_str(),
                opts.intermediate ? " (Arbeitskopie)" : "", outPath.c_str());
  diag::write("export", line);
  Exporter exporter(plan, opts, cancel, progress);
  std::string word;
  if (!exporter.run(outPath, &word)) {
    diag::write("export", "Export abgebrochen: " + word);
    return fail(err, word.c_str());
  }
  if (err) err->clear();
  return true;
}

}  // namespace exporter

bool exportVideo(const std::string& srcPath, const std::string& outPath, const ExportOptions& opts,
                 std::atomic<bool>* cancel,
                 const std::function<void(const ExportProgress&)>& progress, std::string* err) {
  return exporter::exportWith(availableEncoders(), srcPath, outPath, opts, cancel, progress, err);
}

}  // namespace media

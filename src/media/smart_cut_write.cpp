// Performing a smart cut: copied groups through the Annex B filter, edge
// groups decoded and encoded again, the sound joined in, the result read
// back before it replaces the target.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>
#include <unordered_map>

extern "C" {
#include <libavcodec/bsf.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include "media/errors.h"
#include "media/ffmpeg_compat.h"
#include "media/smart_cut.h"
#include "media/smart_cut_internal.h"
#include "media/video_export_internal.h"
#include "platform/fs.h"

namespace media {

namespace {

// Edge encoders: quality far above what a cut's viewer can tell from the
// copied groups around it (the edges are at most one group each).
constexpr char kEdgePreset[] = "veryfast";
constexpr char kEdgeCrf[] = "10";
// A key frame interval no edge piece reaches: each piece is one group.
constexpr int kEdgeGop = 100000;
// Farther than this many packets ahead the reader seeks instead of reading on.
constexpr int kSeekGap = 64;
// Progress steps in percent, and the share below which no remaining time is guessed.
constexpr double kProgressStep = 0.5;
constexpr double kEtaFromPercent = 3.0;
// Read-back times may differ by the rounding of one time base into another.
constexpr double kCheckSlackMs = 1.0;

struct BsfFreer {
  void operator()(AVBSFContext* b) const { av_bsf_free(&b); }
};
using BsfPtr = std::unique_ptr<AVBSFContext, BsfFreer>;
using Clock = std::chrono::steady_clock;

const char* h264ProfileName(int profile) {
  switch (profile) {
    case FF_PROFILE_H264_BASELINE:
    case FF_PROFILE_H264_CONSTRAINED_BASELINE: return "baseline";
    case FF_PROFILE_H264_MAIN: return "main";
    case FF_PROFILE_H264_HIGH_10: return "high10";
    case FF_PROFILE_H264_HIGH_422: return "high422";
    case FF_PROFILE_H264_HIGH_444_PREDICTIVE: return "high444";
    default: return "high";
  }
}

class Cutter {
 public:
  Cutter(const SmartCutPlan& plan, std::atomic<bool>* cancel,
         const std::function<void(const ExportProgress&)>& progress)
      : plan_(plan), cancel_(cancel), progress_(progress) {}

  bool run(std::string* word);

 private:
  bool fail(const char* w) {
    word_ = w;
    return false;
  }
  bool cancelled() const { return cancel_ && cancel_->load(std::memory_order_relaxed); }
  bool openInput();
  bool openOutput();
  bool readPacket(int index, AVPacket* pkt);
  bool copyPiece(const SmartCutPlan::Piece& p);
  bool encodePiece(const SmartCutPlan::Piece& p);
  bool encodeEdges();
  bool writeEdge(size_t piece);
  av::CodecPtr openEncoder() const;
  bool drainEncoder(AVCodecContext* enc, bool flush);
  bool writeVideo(AVPacket* pkt);
  bool writeSoundUntil(double seconds);
  void report(bool last);
  bool verify(const std::string& path) const;

  const SmartCutPlan& plan_;
  std::atomic<bool>* cancel_;
  const std::function<void(const ExportProgress&)>& progress_;
  std::string word_ = err::kWriteFailed;

  av::FormatPtr in_;
  int vi_ = -1;
  int nextIndex_ = -1;  // index of the packet the next read returns; -1 unknown
  std::unordered_map<int64_t, int> indexOfPos_;
  BsfPtr bsf_;
  av::CodecPtr dec_;
  av::FramePtr frame_ = av::makeFrame();

  platform::fs::PendingReplace temp_;
  exporter::OutputPtr out_;
  AVStream* vs_ = nullptr;
  AVStream* as_ = nullptr;
  smartcut::Sound sound_;
  size_t soundNext_ = 0;

  // Encoded edge packets per piece, made before the output opens; while set,
  // the encoder's packets go to sink_ instead of the file.
  std::vector<std::vector<av::PacketPtr>> edges_;
  std::vector<av::PacketPtr>* sink_ = nullptr;

  size_t written_ = 0;  // video packets written
  double lastPercent_ = -1;
  Clock::time_point started_ = Clock::now();
};

bool Cutter::openInput() {
  in_ = av::openInput(plan_.src);
  vi_ = in_ ? av::firstStream(in_.get(), AVMEDIA_TYPE_VIDEO) : -1;
  if (vi_ < 0) return fail(err::kDecodeFailed);
  for (size_t i = 0; i < plan_.packetPos.size(); ++i) indexOfPos_[plan_.packetPos[i]] = static_cast<int>(i);
  const AVStream* st = in_->streams[vi_];
  const AVBitStreamFilter* f =
      av_bsf_get_by_name(plan_.codec == AV_CODEC_ID_H264 ? "h264_mp4toannexb" : "hevc_mp4toannexb");
  AVBSFContext* raw = nullptr;
  if (!f || av_bsf_alloc(f, &raw) < 0) return fail(err::kDecodeFailed);
  bsf_.reset(raw);
  avcodec_parameters_copy(bsf_->par_in, st->codecpar);
  bsf_->time_base_in = st->time_base;
  if (av_bsf_init(bsf_.get()) < 0) return fail(err::kDecodeFailed);
  dec_ = av::openDecoder(st, FF_THREAD_FRAME);
  return dec_ ? true : fail(err::kDecodeFailed);
}

bool Cutter::openOutput() {
  if (!temp_.create(plan_.out)) return fail(err::kWriteFailed);
  const AVOutputFormat* format = av_guess_format(nullptr, plan_.out.c_str(), nullptr);
  AVFormatContext* raw = nullptr;
  if (!format || avformat_alloc_output_context2(&raw, format, nullptr, temp_.path().c_str()) < 0 || !raw) {
    return fail(err::kWriteFailed);
  }
  out_.reset(raw);
  const AVStream* src = in_->streams[vi_];
  vs_ = avformat_new_stream(out_.get(), nullptr);
  if (!vs_ || avcodec_parameters_copy(vs_->codecpar, bsf_->par_out) < 0) return fail(err::kWriteFailed);
  // Parameter sets in-band before every key frame: the edges carry the
  // encoder's own, the copied groups the source's.
  vs_->codecpar->codec_tag = plan_.codec == AV_CODEC_ID_H264 ? MKTAG('a', 'v', 'c', '3') : MKTAG('h', 'e', 'v', '1');
  vs_->codecpar->video_delay = plan_.reorder;
  vs_->time_base = plan_.timeBase;
  vs_->avg_frame_rate = src->avg_frame_rate;
  vs_->sample_aspect_ratio = src->sample_aspect_ratio;
  compat::copyDisplayMatrix(src, vs_);
  if (sound_.enc) {
    as_ = avformat_new_stream(out_.get(), nullptr);
    if (!as_ || avcodec_parameters_from_context(as_->codecpar, sound_.enc.get()) < 0) return fail(err::kWriteFailed);
    as_->time_base = sound_.enc->time_base;
  }
  const SmartCutRequest& r = plan_.req;
  if (!r.software.empty()) av_dict_set(&out_->metadata, "software", r.software.c_str(), 0);
  if (!r.comment.empty()) {
    av_dict_set(&out_->metadata, "comment", r.comment.c_str(), 0);
    av_dict_set(&out_->metadata, "description", r.comment.c_str(), 0);
  }
  if (avio_open(&out_->pb, temp_.path().c_str(), AVIO_FLAG_WRITE) < 0) return fail(err::kWriteFailed);
  return avformat_write_header(out_.get(), nullptr) >= 0 || fail(err::kWriteFailed);
}

// Reads the source's packet number index (decode order) into pkt, seeking
// when it is not close ahead.
bool Cutter::readPacket(int index, AVPacket* pkt) {
  if (nextIndex_ < 0 || nextIndex_ > index || index - nextIndex_ > kSeekGap) {
    const int64_t ts = std::min(plan_.packetPts[index], plan_.packetDts[index]);
    if (av_seek_frame(in_.get(), vi_, ts, AVSEEK_FLAG_BACKWARD) < 0) return fail(err::kDecodeFailed);
    nextIndex_ = -1;
  }
  for (;;) {
    if (cancelled()) return fail(err::kCancelled);
    av_packet_unref(pkt);
    if (av_read_frame(in_.get(), pkt) < 0) return fail(err::kDecodeFailed);
    if (pkt->stream_index != vi_) continue;
    const auto it = indexOfPos_.find(pkt->pos);
    if (it == indexOfPos_.end()) return fail(err::kDecodeFailed);
    nextIndex_ = it->second + 1;
    if (it->second == index) return true;
    if (it->second > index) return fail(err::kDecodeFailed);
  }
}

bool Cutter::copyPiece(const SmartCutPlan::Piece& p) {
  av::PacketPtr pkt = av::makePacket();
  for (int i = p.firstPacket; i < p.firstPacket + p.packetCount; ++i) {
    if (!readPacket(i, pkt.get())) return false;
    if (av_bsf_send_packet(bsf_.get(), pkt.get()) < 0) return fail(err::kDecodeFailed);
    while (av_bsf_receive_packet(bsf_.get(), pkt.get()) == 0) {
      pkt->pts = plan_.packetPts[i] + p.offset;
      if (!writeVideo(pkt.get())) return false;
      av_packet_unref(pkt.get());
    }
  }
  return true;
}

av::CodecPtr Cutter::openEncoder() const {
  const bool h264 = plan_.codec == AV_CODEC_ID_H264;
  const AVCodec* codec = avcodec_find_encoder_by_name(h264 ? "libx264" : "libx265");
  if (!codec) return nullptr;
  av::CodecPtr enc(avcodec_alloc_context3(codec));
  if (!enc) return nullptr;
  const AVStream* st = in_->streams[vi_];
  const AVCodecParameters* par = st->codecpar;
  AVCodecContext* c = enc.get();
  c->width = par->width;
  c->height = par->height;
  c->pix_fmt = static_cast<AVPixelFormat>(par->format);
  c->time_base = plan_.timeBase;
  c->framerate = st->avg_frame_rate;
  c->sample_aspect_ratio = par->sample_aspect_ratio;
  c->color_range = par->color_range;
  c->color_primaries = par->color_primaries;
  c->color_trc = par->color_trc;
  c->colorspace = par->color_space;
  c->chroma_sample_location = par->chroma_location;
  c->gop_size = kEdgeGop;
  c->keyint_min = kEdgeGop;
  c->max_b_frames = plan_.reorder > 0 ? 3 : 0;
  c->thread_count = 0;
  if (par->level > 0) c->level = par->level;
  av_opt_set(c->priv_data, "preset", kEdgePreset, 0);
  av_opt_set(c->priv_data, "crf", kEdgeCrf, 0);
  const bool pyramid = plan_.reorder >= 2;
  if (h264) {
    av_opt_set(c->priv_data, "profile", h264ProfileName(par->profile), 0);
    av_opt_set(c->priv_data, "b-pyramid", pyramid ? "normal" : "none", 0);
    av_opt_set(c->priv_data, "x264-params", "scenecut=0:open-gop=0", 0);
  } else {
    const char* depth10 = av_get_pix_fmt_name(c->pix_fmt);
    const bool ten = depth10 && std::string(depth10).find("10") != std::string::npos;
    av_opt_set(c->priv_data, "profile", ten ? "main10" : "main", 0);
    char params[160];
    std::snprintf(params, sizeof params,
                  "bframes=%d:b-pyramid=%d:scenecut=0:open-gop=0:repeat-headers=1:log-level=error",
                  c->max_b_frames, pyramid ? 1 : 0);
    av_opt_set(c->priv_data, "x265-params", params, 0);
  }
  if (avcodec_open2(c, codec, nullptr) < 0) return nullptr;
  return enc;
}

bool Cutter::drainEncoder(AVCodecContext* enc, bool flush) {
  if (flush && avcodec_send_frame(enc, nullptr) < 0) return fail(err::kEncoderFailed);
  av::PacketPtr pkt = av::makePacket();
  for (;;) {
    const int r = avcodec_receive_packet(enc, pkt.get());
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
    if (r < 0) return fail(err::kEncoderFailed);
    if (sink_) {
      sink_->emplace_back(av::makePacket());
      av_packet_move_ref(sink_->back().get(), pkt.get());
      if (cancelled()) return fail(err::kCancelled);
      continue;
    }
    if (!writeVideo(pkt.get())) return false;
    av_packet_unref(pkt.get());
  }
}

bool Cutter::encodeEdges() {
  edges_.resize(plan_.pieces.size());
  for (size_t i = 0; i < plan_.pieces.size(); ++i) {
    if (plan_.pieces[i].copy) continue;
    sink_ = &edges_[i];
    const bool ok = encodePiece(plan_.pieces[i]);
    sink_ = nullptr;
    if (!ok) return false;
  }
  return true;
}

bool Cutter::writeEdge(size_t piece) {
  for (av::PacketPtr& pkt : edges_[piece]) {
    if (!writeVideo(pkt.get())) return false;
  }
  edges_[piece].clear();
  return true;
}

bool Cutter::encodePiece(const SmartCutPlan::Piece& p) {
  av::CodecPtr enc = openEncoder();
  if (!enc) return fail(err::kEncoderFailed);
  av::PacketPtr pkt = av::makePacket();
  size_t sent = 0;
  auto take = [&]() {
    for (;;) {
      const int r = avcodec_receive_frame(dec_.get(), frame_.get());
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
      if (r < 0) return fail(err::kDecodeFailed);
      const int64_t pts = av::framePts(frame_.get());
      if (std::binary_search(p.keep.begin(), p.keep.end(), pts)) {
        frame_->pts = pts + p.offset;
        frame_->pict_type = sent == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        ++sent;
        if (avcodec_send_frame(enc.get(), frame_.get()) < 0) return fail(err::kEncoderFailed);
        if (!drainEncoder(enc.get(), false)) return false;
      }
      av_frame_unref(frame_.get());
    }
  };
  for (int i = p.firstPacket; i < p.firstPacket + p.packetCount; ++i) {
    if (!readPacket(i, pkt.get())) return false;
    if (avcodec_send_packet(dec_.get(), pkt.get()) < 0) return fail(err::kDecodeFailed);
    if (!take()) return false;
  }
  if (avcodec_send_packet(dec_.get(), nullptr) < 0 || !take()) return fail(err::kDecodeFailed);
  avcodec_flush_buffers(dec_.get());
  if (sent != p.keep.size()) return fail(err::kDecodeFailed);
  return drainEncoder(enc.get(), true);
}

bool Cutter::writeSoundUntil(double seconds) {
  if (!as_) return true;
  while (soundNext_ < sound_.packets.size()) {
    AVPacket* a = sound_.packets[soundNext_].get();
    if (av_q2d(sound_.enc->time_base) * static_cast<double>(a->pts) > seconds) break;
    a->stream_index = as_->index;
    av_packet_rescale_ts(a, sound_.enc->time_base, as_->time_base);
    if (av_interleaved_write_frame(out_.get(), a) < 0) return fail(err::kWriteFailed);
    ++soundNext_;
  }
  return true;
}

// Every output packet's decode time is set from the planned frame times:
// the n-th packet decodes at the (n - reorder)-th presentation time, which
// rises strictly and never passes a packet's own time across the joins.
bool Cutter::writeVideo(AVPacket* pkt) {
  const std::vector<int64_t>& times = plan_.outPts;
  const auto it = std::lower_bound(times.begin(), times.end(), pkt->pts);
  if (it == times.end() || *it != pkt->pts || written_ >= times.size()) return fail(err::kEncoderFailed);
  const int64_t n = static_cast<int64_t>(written_);
  const int64_t step = times.size() > 1 ? times[1] - times[0] : plan_.outDur[0];
  pkt->dts = n >= plan_.reorder ? times[n - plan_.reorder] : times[0] - (plan_.reorder - n) * step;
  pkt->duration = plan_.outDur[it - times.begin()];
  pkt->stream_index = vs_->index;
  pkt->pos = -1;
  if (!writeSoundUntil(av_q2d(plan_.timeBase) * static_cast<double>(pkt->dts))) return false;
  av_packet_rescale_ts(pkt, plan_.timeBase, vs_->time_base);
  if (av_interleaved_write_frame(out_.get(), pkt) < 0) return fail(err::kWriteFailed);
  ++written_;
  report(false);
  return !cancelled() || fail(err::kCancelled);
}

void Cutter::report(bool last) {
  if (!progress_) return;
  const double percent = last ? 100.0 : 100.0 * static_cast<double>(written_) / static_cast<double>(plan_.outPts.size());
  if (!last && percent < lastPercent_ + kProgressStep) return;
  lastPercent_ = percent;
  ExportProgress p;
  p.percent = std::min(percent, 100.0);
  const double elapsed = std::chrono::duration<double>(Clock::now() - started_).count();
  p.etaSeconds = percent >= kEtaFromPercent && !last ? elapsed * (100.0 - percent) / percent : last ? 0 : -1;
  p.encoder.name = plan_.codec == AV_CODEC_ID_H264 ? "libx264" : "libx265";
  progress_(p);
}

// The written file opens, holds the planned number of pictures, shows the
// first and the last where the plan says and lasts as long.
bool Cutter::verify(const std::string& path) const {
  av::FormatPtr f = av::openInput(path);
  const int vi = f ? av::firstStream(f.get(), AVMEDIA_TYPE_VIDEO) : -1;
  if (vi < 0) return false;
  if ((av::firstStream(f.get(), AVMEDIA_TYPE_AUDIO) >= 0) != (sound_.enc != nullptr)) return false;
  const AVStream* st = f->streams[vi];
  av::PacketPtr pkt = av::makePacket();
  int64_t count = 0;
  int64_t lo = INT64_MAX;
  int64_t hi = INT64_MIN;
  while (av_read_frame(f.get(), pkt.get()) >= 0) {
    if (pkt->stream_index == vi && pkt->pts != AV_NOPTS_VALUE) {
      ++count;
      lo = std::min(lo, pkt->pts);
      hi = std::max(hi, pkt->pts);
    }
    av_packet_unref(pkt.get());
  }
  if (count != plan_.stats.frames) return false;
  const double spanMs = av::tsToMs(hi - lo, st->time_base, 0);
  const double plannedSpanMs = av::tsToMs(plan_.outPts.back() - plan_.outPts.front(), plan_.timeBase, 0);
  if (std::abs(spanMs - plannedSpanMs) > kCheckSlackMs) return false;
  return st->duration <= 0 ||
         std::abs(av::tsToMs(st->duration, st->time_base, 0) - plan_.stats.durationMs) <= kCheckSlackMs;
}

bool Cutter::run(std::string* word) {
  bool ok = openInput();
  // The sound is encoded on a thread of its own while the edges are: each
  // keeps a core busy, and the output needs both before its header.
  std::string soundWord;
  bool soundOk = true;
  std::thread soundThread;
  if (ok) {
    soundThread = std::thread([this, &soundOk, &soundWord] {
      soundOk = smartcut::encodeSound(plan_, cancel_, &sound_, &soundWord);
    });
  }
  ok = ok && encodeEdges();
  if (soundThread.joinable()) soundThread.join();
  if (ok && !soundOk) {
    word_ = soundWord;
    ok = false;
  }
  ok = ok && openOutput();
  for (size_t i = 0; ok && i < plan_.pieces.size(); ++i) {
    ok = plan_.pieces[i].copy ? copyPiece(plan_.pieces[i]) : writeEdge(i);
  }
  ok = ok && written_ == plan_.outPts.size() && writeSoundUntil(1e300);
  if (ok && av_write_trailer(out_.get()) < 0) ok = fail(err::kWriteFailed);
  out_.reset();
  if (ok && !verify(temp_.path())) ok = fail(smartcut::kCheckFailed);
  if (ok && !temp_.commit()) ok = fail(err::kWriteFailed);
  if (!ok) {
    *word = word_;
    return false;
  }
  report(true);
  return true;
}

}  // namespace

bool runSmartCut(const SmartCutPlan& plan, std::atomic<bool>* cancel,
                 const std::function<void(const ExportProgress&)>& progress, std::string* err) {
  std::string word;
  Cutter cutter(plan, cancel, progress);
  const bool ok = cutter.run(&word);
  if (err) *err = ok ? std::string() : word;
  return ok;
}

}  // namespace media

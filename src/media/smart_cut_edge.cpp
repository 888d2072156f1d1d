// The edges of a smart cut: the group around each cut point decoded and the
// kept frames of it encoded again, matched to the source. Each edge has a
// reader, decoder and encoder of its own, so edges can run side by side.
#include <algorithm>
#include <cstdio>
#include <mutex>

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include "media/errors.h"
#include "media/smart_cut_internal.h"

namespace media::smartcut {

namespace {

// Farther than this many packets ahead the reader seeks instead of reading on.
constexpr int kSeekGap = 64;
// Edge encoders: quality far above what a cut's viewer can tell from the
// copied groups around it (the edges are at most one group each). At this
// rate factor x264's fastest preset loses nothing measurable against the
// slower ones (over 50 dB on camera footage) at a third of their time, for
// about 1.7 times the bytes on the edges; x265's costs 2 dB more there, so
// it stays one step above.
constexpr char kEdgeCrf[] = "10";
constexpr char kEdgePresetH264[] = "ultrafast";
constexpr char kEdgePresetHevc[] = "superfast";
// A key frame interval no edge piece reaches: each piece is one group.
constexpr int kEdgeGop = 100000;

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

// An encoder for the source's stream st, as the plan's edges need it.
av::CodecPtr openEncoder(const SmartCutPlan& plan, const AVStream* st) {
  const bool h264 = plan.codec == AV_CODEC_ID_H264;
  const AVCodec* codec = avcodec_find_encoder_by_name(h264 ? "libx264" : "libx265");
  if (!codec) return nullptr;
  av::CodecPtr enc(avcodec_alloc_context3(codec));
  if (!enc) return nullptr;
  const AVCodecParameters* par = st->codecpar;
  AVCodecContext* c = enc.get();
  c->width = par->width;
  c->height = par->height;
  c->pix_fmt = static_cast<AVPixelFormat>(par->format);
  c->time_base = plan.timeBase;
  c->framerate = st->avg_frame_rate;
  c->sample_aspect_ratio = par->sample_aspect_ratio;
  c->color_range = par->color_range;
  c->color_primaries = par->color_primaries;
  c->color_trc = par->color_trc;
  c->colorspace = par->color_space;
  c->chroma_sample_location = par->chroma_location;
  c->gop_size = kEdgeGop;
  c->keyint_min = kEdgeGop;
  c->max_b_frames = plan.reorder > 0 ? 3 : 0;
  c->thread_count = 0;
  if (par->level > 0) c->level = par->level;
  av_opt_set(c->priv_data, "preset", h264 ? kEdgePresetH264 : kEdgePresetHevc, 0);
  av_opt_set(c->priv_data, "crf", kEdgeCrf, 0);
  const bool pyramid = plan.reorder >= 2;
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
  // libx265 sizes its thread pool through libnuma, whose CPU-mask cache is
  // filled without a lock: edges encoded side by side open one at a time.
  static std::mutex openLock;
  std::lock_guard<std::mutex> hold(openLock);
  if (avcodec_open2(c, codec, nullptr) < 0) return nullptr;
  return enc;
}

class EdgeEncoder {
 public:
  EdgeEncoder(const SmartCutPlan& plan, const SmartCutPlan::Piece& piece, std::atomic<bool>* cancel)
      : plan_(plan), piece_(piece), cancel_(cancel), reader_(plan) {}

  bool run(std::vector<av::PacketPtr>* out, std::string* word);

 private:
  bool fail(const char* w) {
    word_ = w;
    return false;
  }
  bool takeFrames();
  bool drain(bool flush);

  const SmartCutPlan& plan_;
  const SmartCutPlan::Piece& piece_;
  std::atomic<bool>* cancel_;
  const char* word_ = err::kDecodeFailed;
  PacketReader reader_;
  av::CodecPtr dec_;
  av::CodecPtr enc_;
  av::FramePtr frame_ = av::makeFrame();
  av::PacketPtr pkt_ = av::makePacket();
  size_t sent_ = 0;  // frames handed to the encoder
  std::vector<av::PacketPtr>* out_ = nullptr;
};

// Hands the decoded frames that are kept to the encoder.
bool EdgeEncoder::takeFrames() {
  for (;;) {
    const int r = avcodec_receive_frame(dec_.get(), frame_.get());
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
    if (r < 0) return fail(err::kDecodeFailed);
    const int64_t pts = av::framePts(frame_.get());
    if (std::binary_search(piece_.keep.begin(), piece_.keep.end(), pts)) {
      frame_->pts = pts + piece_.offset;
      frame_->pict_type = sent_ == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
      ++sent_;
      if (avcodec_send_frame(enc_.get(), frame_.get()) < 0) return fail(err::kEncoderFailed);
      if (!drain(false)) return false;
    }
    av_frame_unref(frame_.get());
  }
}

bool EdgeEncoder::drain(bool flush) {
  if (flush && avcodec_send_frame(enc_.get(), nullptr) < 0) return fail(err::kEncoderFailed);
  for (;;) {
    av::PacketPtr pkt = av::makePacket();
    const int r = avcodec_receive_packet(enc_.get(), pkt.get());
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
    if (r < 0) return fail(err::kEncoderFailed);
    out_->push_back(std::move(pkt));
    if (cancel_ && cancel_->load(std::memory_order_relaxed)) return fail(err::kCancelled);
  }
}

bool EdgeEncoder::run(std::vector<av::PacketPtr>* out, std::string* word) {
  out_ = out;
  bool ok = reader_.open(&word_);
  if (ok) {
    dec_ = av::openDecoder(reader_.stream(), FF_THREAD_FRAME);
    enc_ = openEncoder(plan_, reader_.stream());
    ok = dec_ ? (enc_ != nullptr || fail(err::kEncoderFailed)) : fail(err::kDecodeFailed);
  }
  const SmartCutPlan::Piece& p = piece_;
  for (int i = p.firstPacket; ok && i < p.firstPacket + p.packetCount && sent_ < p.keep.size(); ++i) {
    ok = reader_.read(i, pkt_.get(), cancel_, &word_);
    if (!ok) break;
    // A frame outside the kept ones that nothing refers to is not decoded.
    const bool outside = pkt_->pts < p.keep.front() || pkt_->pts > p.keep.back();
    dec_->skip_frame = outside ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
    ok = (avcodec_send_packet(dec_.get(), pkt_.get()) >= 0 || fail(err::kDecodeFailed)) && takeFrames();
  }
  ok = ok && (avcodec_send_packet(dec_.get(), nullptr) >= 0 || fail(err::kDecodeFailed)) && takeFrames();
  ok = ok && (sent_ == p.keep.size() || fail(err::kDecodeFailed)) && drain(true);
  if (!ok) *word = word_;
  return ok;
}

}  // namespace

bool PacketReader::open(const char** word) {
  in_ = av::openInput(plan_.src);
  vi_ = in_ ? av::firstStream(in_.get(), AVMEDIA_TYPE_VIDEO) : -1;
  if (vi_ >= 0) return true;
  *word = err::kDecodeFailed;
  return false;
}

bool PacketReader::read(int index, AVPacket* pkt, std::atomic<bool>* cancel, const char** word) {
  auto fail = [word](const char* w) {
    *word = w;
    return false;
  };
  if (next_ < 0 || next_ > index || index - next_ > kSeekGap) {
    const int64_t ts = std::min(plan_.packetPts[index], plan_.packetDts[index]);
    if (av_seek_frame(in_.get(), vi_, ts, AVSEEK_FLAG_BACKWARD) < 0) return fail(err::kDecodeFailed);
    next_ = -1;
  }
  for (;;) {
    if (cancel && cancel->load(std::memory_order_relaxed)) return fail(err::kCancelled);
    av_packet_unref(pkt);
    if (av_read_frame(in_.get(), pkt) < 0) return fail(err::kDecodeFailed);
    if (pkt->stream_index != vi_) continue;
    const auto it = plan_.indexOfPos.find(pkt->pos);
    if (it == plan_.indexOfPos.end()) return fail(err::kDecodeFailed);
    next_ = it->second + 1;
    if (it->second == index) return true;
    if (it->second > index) return fail(err::kDecodeFailed);
  }
}

bool encodeEdge(const SmartCutPlan& plan, const SmartCutPlan::Piece& piece, std::atomic<bool>* cancel,
                std::vector<av::PacketPtr>* out, std::string* err) {
  EdgeEncoder edge(plan, piece, cancel);
  return edge.run(out, err);
}

}  // namespace media::smartcut

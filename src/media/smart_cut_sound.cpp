// The sound of a smart cut: decoded span by span, cut to the sample where
// the span's pictures start, joined without gaps and encoded again (copied
// sound drifts across a join: its frames do not end where the pictures do).
#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
}

#include "media/errors.h"
#include "media/ffmpeg_compat.h"
#include "media/smart_cut_internal.h"

namespace media::smartcut {

namespace {

// AAC bit rate per channel when the source does not tell its own.
constexpr int64_t kBitRatePerChannel = 96000;
// How far before a span's start the reader seeks (a key frame of sound).
constexpr double kSeekLeadS = 1.0;

struct FifoFreer {
  void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};
using FifoPtr = std::unique_ptr<AVAudioFifo, FifoFreer>;

class SoundCutter {
 public:
  SoundCutter(const SmartCutPlan& plan, std::atomic<bool>* cancel, Sound* out)
      : plan_(plan), cancel_(cancel), out_(out) {}

  bool run(std::string* word);

 private:
  bool fail(const char* w) {
    word_ = w;
    return false;
  }
  bool open();
  bool span(const SmartCutPlan::Span& s, int64_t samples);
  bool take(const AVFrame* f, int64_t* want, int64_t* left);
  bool silence(int64_t n);
  bool encode(bool flush);

  const SmartCutPlan& plan_;
  std::atomic<bool>* cancel_;
  Sound* out_;
  const char* word_ = err::kDecodeFailed;

  av::FormatPtr in_;
  int ai_ = -1;
  av::CodecPtr dec_;
  av::SwrPtr swr_;
  FifoPtr fifo_;
  av::FramePtr frame_ = av::makeFrame();
  av::FramePtr conv_ = av::makeFrame();
  int64_t encoded_ = 0;  // samples handed to the encoder
};

bool SoundCutter::open() {
  in_ = av::openInput(plan_.src);
  ai_ = in_ ? av::firstStream(in_.get(), AVMEDIA_TYPE_AUDIO) : -1;
  if (ai_ < 0) return true;  // silent: nothing to carry
  const AVStream* st = in_->streams[ai_];
  dec_ = av::openDecoder(st, 0);
  if (!dec_) return fail(err::kDecodeFailed);
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
  if (!codec) return fail(err::kEncoderFailed);
  av::CodecPtr enc(avcodec_alloc_context3(codec));
  AVCodecContext* c = enc.get();
  c->sample_rate = dec_->sample_rate;
  c->sample_fmt = AV_SAMPLE_FMT_FLTP;
  const int channels = dec_->ch_layout.nb_channels;
  // The source's layout when the encoder takes it, else one it takes with
  // as many channels (AAC knows 5.1 with back, not side, speakers).
  const AVChannelLayout* list = compat::channelLayouts(codec);
  const AVChannelLayout* pick = nullptr;
  for (const AVChannelLayout* l = list; l && l->nb_channels; ++l) {
    if (!av_channel_layout_compare(l, &dec_->ch_layout)) pick = l;
  }
  for (const AVChannelLayout* l = list; !pick && l && l->nb_channels; ++l) {
    if (l->nb_channels == channels) pick = l;
  }
  if (pick) {
    av_channel_layout_copy(&c->ch_layout, pick);
  } else {
    av_channel_layout_default(&c->ch_layout, channels);
  }
  const int64_t srcRate = st->codecpar->bit_rate;
  c->bit_rate = srcRate > 0 ? std::max<int64_t>(srcRate, 32000 * channels) : kBitRatePerChannel * channels;
  c->time_base = AVRational{1, c->sample_rate};
  c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (avcodec_open2(c, codec, nullptr) < 0) return fail(err::kEncoderFailed);
  SwrContext* raw = nullptr;
  AVChannelLayout inLayout{};
  av_channel_layout_copy(&inLayout, &dec_->ch_layout);
  if (inLayout.order == AV_CHANNEL_ORDER_UNSPEC) av_channel_layout_default(&inLayout, channels);
  const int r = swr_alloc_set_opts2(&raw, &c->ch_layout, c->sample_fmt, c->sample_rate, &inLayout,
                                    dec_->sample_fmt, dec_->sample_rate, 0, nullptr);
  av_channel_layout_uninit(&inLayout);
  swr_.reset(raw);
  if (r < 0 || swr_init(swr_.get()) < 0) return fail(err::kDecodeFailed);
  fifo_.reset(av_audio_fifo_alloc(c->sample_fmt, c->ch_layout.nb_channels, c->frame_size * 4));
  if (!fifo_) return fail(err::kEncoderFailed);
  out_->enc = std::move(enc);
  return true;
}

// Hands whole encoder frames from the queue to the encoder (the rest too
// when flush is set) and keeps what comes out.
bool SoundCutter::encode(bool flush) {
  AVCodecContext* c = out_->enc.get();
  const int size = c->frame_size > 0 ? c->frame_size : 1024;
  while (av_audio_fifo_size(fifo_.get()) >= size || (flush && av_audio_fifo_size(fifo_.get()) > 0)) {
    av::FramePtr f = av::makeFrame();
    f->nb_samples = std::min(size, av_audio_fifo_size(fifo_.get()));
    f->format = c->sample_fmt;
    f->sample_rate = c->sample_rate;
    av_channel_layout_copy(&f->ch_layout, &c->ch_layout);
    if (av_frame_get_buffer(f.get(), 0) < 0) return fail(err::kEncoderFailed);
    av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(f->data), f->nb_samples);
    f->pts = encoded_;
    encoded_ += f->nb_samples;
    if (avcodec_send_frame(c, f.get()) < 0) return fail(err::kEncoderFailed);
    for (;;) {
      av::PacketPtr pkt = av::makePacket();
      const int r = avcodec_receive_packet(c, pkt.get());
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
      if (r < 0) return fail(err::kEncoderFailed);
      out_->packets.push_back(std::move(pkt));
    }
  }
  if (!flush) return true;
  if (avcodec_send_frame(c, nullptr) < 0) return fail(err::kEncoderFailed);
  for (;;) {
    av::PacketPtr pkt = av::makePacket();
    const int r = avcodec_receive_packet(c, pkt.get());
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
    if (r < 0) return fail(err::kEncoderFailed);
    out_->packets.push_back(std::move(pkt));
  }
}

bool SoundCutter::silence(int64_t n) {
  const int channels = out_->enc->ch_layout.nb_channels;
  std::vector<float> zeros(static_cast<size_t>(std::max<int64_t>(n, 1)), 0.0f);
  std::vector<void*> planes(static_cast<size_t>(channels), zeros.data());
  if (n > 0 && av_audio_fifo_write(fifo_.get(), planes.data(), static_cast<int>(n)) < n) {
    return fail(err::kEncoderFailed);
  }
  return encode(false);
}

// Queues the part of a decoded frame from sample *want on (absolute sample
// number at the output rate), at most *left samples.
bool SoundCutter::take(const AVFrame* f, int64_t* want, int64_t* left) {
  const AVRational tb = in_->streams[ai_]->time_base;
  const int64_t pts = av::framePts(f);
  if (pts == AV_NOPTS_VALUE) return true;
  av_frame_unref(conv_.get());
  conv_->format = out_->enc->sample_fmt;
  conv_->sample_rate = out_->enc->sample_rate;
  av_channel_layout_copy(&conv_->ch_layout, &out_->enc->ch_layout);
  if (swr_convert_frame(swr_.get(), conv_.get(), f) < 0) return fail(err::kDecodeFailed);
  const int64_t first = av_rescale_q(pts, tb, AVRational{1, out_->enc->sample_rate});
  const int64_t n = conv_->nb_samples;
  if (first + n <= *want) return true;
  if (first > *want) {
    const int64_t gap = std::min(first - *want, *left);
    if (!silence(gap)) return false;
    *want += gap;
    *left -= gap;
  }
  const int64_t from = *want - first;
  const int64_t count = std::min(n - from, *left);
  if (count <= 0) return true;
  const int bytes = av_get_bytes_per_sample(out_->enc->sample_fmt);
  std::vector<void*> planes;
  for (int ch = 0; ch < out_->enc->ch_layout.nb_channels; ++ch) {
    planes.push_back(conv_->extended_data[ch] + from * bytes);
  }
  if (av_audio_fifo_write(fifo_.get(), planes.data(), static_cast<int>(count)) < count) {
    return fail(err::kEncoderFailed);
  }
  *want += count;
  *left -= count;
  return encode(false);
}

bool SoundCutter::span(const SmartCutPlan::Span& s, int64_t samples) {
  const int rate = out_->enc->sample_rate;
  const AVStream* st = in_->streams[ai_];
  const double startS = av_q2d(plan_.timeBase) * static_cast<double>(s.srcStart);
  int64_t want = static_cast<int64_t>(std::llround(startS * rate));
  int64_t left = samples;
  const int64_t seekTs = static_cast<int64_t>((startS - kSeekLeadS) / av_q2d(st->time_base));
  av_seek_frame(in_.get(), ai_, seekTs, AVSEEK_FLAG_BACKWARD);
  avcodec_flush_buffers(dec_.get());
  av::PacketPtr pkt = av::makePacket();
  bool eof = false;
  while (left > 0 && !eof) {
    if (cancel_ && cancel_->load(std::memory_order_relaxed)) return fail(err::kCancelled);
    if (av_read_frame(in_.get(), pkt.get()) < 0) {
      eof = true;
      avcodec_send_packet(dec_.get(), nullptr);
    } else if (pkt->stream_index != ai_) {
      av_packet_unref(pkt.get());
      continue;
    } else {
      avcodec_send_packet(dec_.get(), pkt.get());
      av_packet_unref(pkt.get());
    }
    while (left > 0 && avcodec_receive_frame(dec_.get(), frame_.get()) == 0) {
      const bool ok = take(frame_.get(), &want, &left);
      av_frame_unref(frame_.get());
      if (!ok) return false;
    }
  }
  return left <= 0 || silence(left);  // sound shorter than the pictures: filled with silence
}

bool SoundCutter::run(std::string* word) {
  bool ok = open();
  if (ok && out_->enc) {
    const int rate = out_->enc->sample_rate;
    const double tb = av_q2d(plan_.timeBase);
    for (const SmartCutPlan::Span& s : plan_.spans) {
      // Rounded on the joined time line, so the lengths add up without drift.
      const int64_t from = std::llround(static_cast<double>(s.outStart) * tb * rate);
      const int64_t to = std::llround(static_cast<double>(s.outEnd) * tb * rate);
      ok = span(s, to - from);
      if (!ok) break;
    }
    ok = ok && encode(true);
  }
  if (!ok) *word = word_;
  return ok;
}

}  // namespace

bool encodeSound(const SmartCutPlan& plan, std::atomic<bool>* cancel, Sound* out, std::string* err) {
  if (!plan.sound) return true;
  SoundCutter cutter(plan, cancel, out);
  return cutter.run(err);
}

}  // namespace media::smartcut

// The export's sound path after the filter graph: placing each segment's
// samples on the output time line (with cross-fade mixing and silence) and
// packing them into encoder frames.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "media/video_export_internal.h"

namespace media::exporter {

namespace {

// Compact the pending buffers once this many samples have been sent, so
// they neither grow without end nor move their data for every frame.
constexpr size_t kCompactAfter = 1 << 15;

float clampSample(float v) {
  if (!(v >= -1.0f)) return v != v ? 0.0f : -1.0f;  // NaN counts as silence
  return v > 1.0f ? 1.0f : v;
}

// Scaled by 32768, the factor the decoders and the resampler divide by, so
// that 16-bit sound read back from a working copy is written again bit for
// bit (scaling by 32767 took a little off every generation).
int16_t toS16(float v) {
  const float scaled = std::nearbyint(clampSample(v) * 32768.0f);
  return static_cast<int16_t>(std::min(scaled, 32767.0f));
}

}  // namespace

// ============================================================================
// AudioPacker
// ============================================================================

AudioPacker::AudioPacker(AVCodecContext* enc, AVFormatContext* oc, AVStream* st)
    : enc_(enc),
      oc_(oc),
      st_(st),
      channels_(std::max(1, enc->ch_layout.nb_channels)),
      frameSize_(enc->frame_size > 0 ? enc->frame_size : 1024),
      pending_(static_cast<size_t>(channels_)) {}

bool AudioPacker::supports(AVSampleFormat format) {
  return format == AV_SAMPLE_FMT_FLTP || format == AV_SAMPLE_FMT_FLT ||
         format == AV_SAMPLE_FMT_S16 || format == AV_SAMPLE_FMT_S16P;
}

bool AudioPacker::push(const float* const* planes, int64_t count) {
  if (count <= 0) return true;
  for (int c = 0; c < channels_; ++c) {
    pending_[c].insert(pending_[c].end(), planes[c], planes[c] + count);
  }
  return encodeFull();
}

bool AudioPacker::pushSilence(int64_t count) {
  if (count <= 0) return true;
  for (auto& channel : pending_) channel.resize(channel.size() + static_cast<size_t>(count), 0.0f);
  return encodeFull();
}

bool AudioPacker::flush() {
  const size_t left = pending_[0].size() - start_;
  if (left > 0 && !encodeFrame(static_cast<int>(left))) return false;
  for (auto& channel : pending_) channel.clear();
  start_ = 0;
  return true;
}

bool AudioPacker::encodeFull() {
  while (pending_[0].size() - start_ >= static_cast<size_t>(frameSize_)) {
    if (!encodeFrame(frameSize_)) return false;
  }
  if (start_ >= kCompactAfter) {
    for (auto& channel : pending_) {
      channel.erase(channel.begin(), channel.begin() + static_cast<std::ptrdiff_t>(start_));
    }
    start_ = 0;
  }
  return true;
}

bool AudioPacker::encodeFrame(int count) {
  av::FramePtr frame = av::makeFrame();
  if (!frame) return false;
  frame->nb_samples = count;
  frame->format = enc_->sample_fmt;
  frame->sample_rate = enc_->sample_rate;
  if (av_channel_layout_copy(&frame->ch_layout, &enc_->ch_layout) < 0 ||
      av_frame_get_buffer(frame.get(), 0) < 0) {
    return false;
  }
  const int ch = channels_;
  switch (enc_->sample_fmt) {
    case AV_SAMPLE_FMT_FLTP:
      for (int c = 0; c < ch; ++c) {
        const float* src = pending_[c].data() + start_;
        auto* dst = reinterpret_cast<float*>(frame->data[c]);
        for (int i = 0; i < count; ++i) dst[i] = clampSample(src[i]);
      }
      break;
    case AV_SAMPLE_FMT_FLT: {
      auto* dst = reinterpret_cast<float*>(frame->data[0]);
      for (int c = 0; c < ch; ++c) {
        const float* src = pending_[c].data() + start_;
        for (int i = 0; i < count; ++i) dst[i * ch + c] = clampSample(src[i]);
      }
      break;
    }
    case AV_SAMPLE_FMT_S16P:
      for (int c = 0; c < ch; ++c) {
        const float* src = pending_[c].data() + start_;
        auto* dst = reinterpret_cast<int16_t*>(frame->data[c]);
        for (int i = 0; i < count; ++i) dst[i] = toS16(src[i]);
      }
      break;
    case AV_SAMPLE_FMT_S16: {
      auto* dst = reinterpret_cast<int16_t*>(frame->data[0]);
      for (int c = 0; c < ch; ++c) {
        const float* src = pending_[c].data() + start_;
        for (int i = 0; i < count; ++i) dst[i * ch + c] = toS16(src[i]);
      }
      break;
    }
    default: return false;
  }
  frame->pts = pts_;
  pts_ += count;
  start_ += static_cast<size_t>(count);
  if (avcodec_send_frame(enc_, frame.get()) < 0) return false;
  return drainEncoder(enc_, oc_, st_, false);
}

// ============================================================================
// AudioSplicer
// ============================================================================

AudioSplicer::AudioSplicer(AudioPacker* packer, int channels, int sampleRate)
    : packer_(packer),
      channels_(std::max(1, channels)),
      // Time stamps of decoded and resampled sound jitter by a sample or
      // two; only a real gap or overlap (over 1 ms) is worth a correction.
      tolerance_(std::max(1, sampleRate / 1000)),
      scratch_(static_cast<size_t>(channels_)) {}

void AudioSplicer::beginSegment(int64_t length, int64_t head, int64_t tail) {
  pos_ = 0;
  length_ = std::max<int64_t>(0, length);
  head_ = std::clamp<int64_t>(head, 0, length_);
  tail_ = std::clamp<int64_t>(tail, 0, length_);
  if (head_ == 0) {
    prevTail_.clear();
  } else {
    // The kept tail may be a sample shorter than the head after rounding, or
    // missing altogether; what is missing mixes as silence.
    prevTail_.resize(static_cast<size_t>(channels_));
    for (auto& channel : prevTail_) channel.resize(static_cast<size_t>(head_), 0.0f);
  }
  nextTail_.assign(static_cast<size_t>(channels_),
                   std::vector<float>(static_cast<size_t>(tail_), 0.0f));
}

bool AudioSplicer::add(const float* const* planes, int count, int64_t at) {
  if (count <= 0) return true;
  if (at > pos_ + tolerance_ && !place(nullptr, at - pos_)) return false;
  int64_t skip = 0;
  if (at < pos_ - tolerance_) skip = pos_ - at;
  if (skip >= count) return true;
  if (skip == 0) return place(planes, count);
  const float* shifted[AV_NUM_DATA_POINTERS] = {};
  for (int c = 0; c < channels_ && c < AV_NUM_DATA_POINTERS; ++c) shifted[c] = planes[c] + skip;
  return place(shifted, count - skip);
}

bool AudioSplicer::endSegment() {
  const bool ok = pos_ >= length_ || place(nullptr, length_ - pos_);
  prevTail_ = std::move(nextTail_);
  nextTail_.clear();
  return ok;
}

bool AudioSplicer::place(const float* const* planes, int64_t count) {
  count = std::min(count, length_ - pos_);
  int64_t offset = 0;
  const int64_t tailStart = length_ - tail_;
  while (count > 0) {
    const int64_t k = pos_;
    const bool mixing = k < head_;
    const bool toTail = k >= tailStart;
    int64_t end = length_;
    if (mixing) end = std::min(end, head_);
    if (!toTail) end = std::min(end, tailStart);
    const int64_t n = std::min(count, end - k);

    if (!mixing && !toTail) {
      // The common case: straight through to the encoder.
      if (!planes) {
        if (!packer_->pushSilence(n)) return false;
      } else {
        const float* run[AV_NUM_DATA_POINTERS] = {};
        for (int c = 0; c < channels_ && c < AV_NUM_DATA_POINTERS; ++c) run[c] = planes[c] + offset;
        if (!packer_->push(run, n)) return false;
      }
    } else {
      const float* out[AV_NUM_DATA_POINTERS] = {};
      for (int c = 0; c < channels_ && c < AV_NUM_DATA_POINTERS; ++c) {
        std::vector<float>& buf = scratch_[c];
        buf.resize(static_cast<size_t>(n));
        const float* src = planes ? planes[c] + offset : nullptr;
        for (int64_t j = 0; j < n; ++j) {
          float v = src ? src[j] : 0.0f;
          if (mixing) {
            const float a = static_cast<float>(static_cast<double>(k + j) / head_);
            v = v * a + prevTail_[c][static_cast<size_t>(k + j)] * (1.0f - a);
          }
          buf[static_cast<size_t>(j)] = v;
        }
        if (toTail) {
          std::copy(buf.begin(), buf.end(), nextTail_[c].begin() + (k - tailStart));
        }
        out[c] = buf.data();
      }
      if (!toTail && !packer_->push(out, n)) return false;
    }
    pos_ += n;
    offset += n;
    count -= n;
  }
  return true;
}

}  // namespace media::exporter

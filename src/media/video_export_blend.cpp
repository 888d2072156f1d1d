// Cross-fade blending of two decoded pictures and the store of tail frames
// waiting to be blended.
#include "media/video_export_internal.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include <cmath>
#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace media::exporter {

// ============================================================================
// Blending
// ============================================================================

bool canBlend(const AVFrame* a, const AVFrame* b) {
  if (!a || !b || a->format != b->format || a->width != b->width || a->height != b->height) {
    return false;
  }
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(a->format));
  if (!desc ||
      (desc->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_PAL))) {
    return false;
  }
  for (int c = 0; c < desc->nb_components; ++c) {
    if (desc->comp[c].depth != 8) return false;
  }
  return desc->nb_components > 0;
}

void blendRow(uint8_t* head, const uint8_t* tail, int n, int w) {
  int i = 0;
#if defined(__SSE2__)
  // Sixteen bytes per step in 16-bit lanes: 255 × 256 still fits.
  const __m128i zero = _mm_setzero_si128();
  const __m128i wNew = _mm_set1_epi16(static_cast<short>(w));
  const __m128i wOld = _mm_set1_epi16(static_cast<short>(256 - w));
  for (; i + 16 <= n; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(head + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(tail + i));
    const __m128i lo =
        _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(a, zero), wNew),
                                     _mm_mullo_epi16(_mm_unpacklo_epi8(b, zero), wOld)),
                       8);
    const __m128i hi =
        _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(a, zero), wNew),
                                     _mm_mullo_epi16(_mm_unpackhi_epi8(b, zero), wOld)),
                       8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(head + i), _mm_packus_epi16(lo, hi));
  }
#endif
  const unsigned wn = static_cast<unsigned>(w);
  const unsigned wo = 256u - wn;
  for (; i < n; ++i) head[i] = static_cast<uint8_t>((head[i] * wn + tail[i] * wo) >> 8);
}

void blendFrames(AVFrame* head, const AVFrame* tail, int w) {
  const auto format = static_cast<AVPixelFormat>(head->format);
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
  const int planes = av_pix_fmt_count_planes(format);
  for (int p = 0; p < planes; ++p) {
    const bool chroma = p == 1 || p == 2;
    const int rows = chroma ? AV_CEIL_RSHIFT(head->height, desc->log2_chroma_h) : head->height;
    const int bytes = av_image_get_linesize(format, head->width, p);
    if (bytes <= 0) continue;
    // Run whole 16-byte steps over the row padding when both rows have it.
    const int padded = (bytes + 15) & ~15;
    const int n = head->linesize[p] >= padded && tail->linesize[p] >= padded ? padded : bytes;
    for (int y = 0; y < rows; ++y) {
      blendRow(head->data[p] + static_cast<ptrdiff_t>(y) * head->linesize[p],
               tail->data[p] + static_cast<ptrdiff_t>(y) * tail->linesize[p], n, w);
    }
  }
}

// ============================================================================
// TailFrames
// ============================================================================

bool TailFrames::store(const AVFrame* frame, double t) {
  av::FramePtr copy(av_frame_clone(frame));
  if (!copy) return false;
  frames_.push_back(Stored{std::move(copy), t});
  return true;
}

const AVFrame* TailFrames::nearest(double t) {
  if (frames_.empty()) return nullptr;
  if (cursor_ >= frames_.size()) cursor_ = frames_.size() - 1;
  // Head frames arrive in rising time order, so the answer only moves
  // forward; walking both ways keeps any order correct.
  while (cursor_ + 1 < frames_.size() &&
         std::fabs(frames_[cursor_ + 1].t - t) <= std::fabs(frames_[cursor_].t - t)) {
    ++cursor_;
  }
  while (cursor_ > 0 && std::fabs(frames_[cursor_ - 1].t - t) < std::fabs(frames_[cursor_].t - t)) {
    --cursor_;
  }
  return frames_[cursor_].frame.get();
}

void TailFrames::clear() {
  frames_.clear();
  cursor_ = 0;
}

}  // namespace media::exporter

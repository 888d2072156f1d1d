// image_internal: small helpers shared by the image operations' source files
// (and checked directly by their tests); not part of the module's interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "media/image.h"

namespace media::detail {

// --- Buffers ---------------------------------------------------------------
// Resizes buf to `bytes` zero bytes. Large buffers ask for transparent huge
// pages before their first touch, which makes faulting them in many times
// cheaper. False (buf left empty) when memory runs out; never throws.
bool allocateZeroed(std::vector<uint8_t>& buf, size_t bytes) noexcept;
// Makes buf empty with room for `bytes` bytes (same page advice), to
// be filled by appending; false when memory runs out.
bool reserveBuffer(std::vector<uint8_t>& buf, size_t bytes) noexcept;

// Bytes of pixel rows, without the tail margin.
inline size_t pixelBytes(int width, int height) {
  return static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
}

// A valid image whose buffer really holds its rows: what every operation
// needs before it reads a pixel.
inline bool usable(const Image& img) {
  return img.valid() && img.pixels.size() >= pixelBytes(img.width, img.height);
}

// A copy of a usable image, written once into reserved space (empty when
// memory runs out).
Image duplicate(const Image& src);

// --- Pixels ----------------------------------------------------------------
inline uint32_t load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

// clamp(lround(v), 0, 255) without a library call or a branch, so loops
// around it vectorise. Exact: after clamping, v − trunc(v) is computed
// without rounding, and lround rounds halves away from zero. NaN gives 0.
inline uint8_t roundToByte(double v) {
  v = v > 0.0 ? v : 0.0;
  v = v < 255.0 ? v : 255.0;
  const int t = static_cast<int>(v);
  return static_cast<uint8_t>(t + (v - t >= 0.5 ? 1 : 0));
}

#if defined(__x86_64__) || defined(__i386__)
#define KORVELLE_HAVE_AVX2_PATHS 1
// True when the processor runs the AVX2 variants below (checked once).
bool haveAvx2();

// One pixel's four channels as doubles (AVX2 only).
__attribute__((target("avx2"))) inline __m256d pixelLanes(const uint8_t* p) {
  return _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(static_cast<int>(load32(p)))));
}

// roundToByte on four lanes, packed into one pixel's bytes: max and min pick
// the constant exactly where its comparisons do, then truncate and add one
// from a half upwards (AVX2 only; the target has no fused multiply-add, so
// callers' arithmetic rounds like the scalar code's).
__attribute__((target("avx2"))) inline uint32_t roundToBytes(__m256d v) {
  v = _mm256_min_pd(_mm256_max_pd(v, _mm256_setzero_pd()), _mm256_set1_pd(255.0));
  const __m256d t = _mm256_round_pd(v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
  const __m256d up =
      _mm256_and_pd(_mm256_cmp_pd(_mm256_sub_pd(v, t), _mm256_set1_pd(0.5), _CMP_GE_OQ), _mm256_set1_pd(1.0));
  const __m128i ints = _mm256_cvttpd_epi32(_mm256_add_pd(t, up));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(_mm_packus_epi32(ints, ints), _mm_setzero_si128())));
}
#endif

// floor(s / n) for 0 ≤ s ≤ 255·n by one float multiply instead of a
// division. (s + 0.5) / n lies at least 0.5/n away from an integer, and the
// float result is off by less than 256·2^-23 ≈ 3.1e-5, so truncation is exact
// while n ≤ kMaxDivisor (twice that margin would still hold).
struct BoxDivider {
  static constexpr int kMaxDivisor = 8191;
  float inverse;
  explicit BoxDivider(int n) : inverse(1.0f / static_cast<float>(n)) {}
  uint32_t operator()(uint32_t s) const {
    return static_cast<uint32_t>((static_cast<float>(s) + 0.5f) * inverse);
  }
};

// --- Kernels -------------------------------------------------------------------
// One row of luma, lround(0.2126·R + 0.7152·G + 0.0722·B) evaluated in doubles,
// computed exactly without them: with N = 2126·R + 7152·G + 722·B the value
// lies within 2e-13 of N / 10000, so it rounds like (N + 5000) / 10000 unless
// N / 10000 ends in exactly .5; those ties (about 1 in 5000 colours) are
// redone in doubles. The division is a float multiply that stays exact:
// (x + 0.5) / 10000 is at least 5e-5 from an integer, the float error below
// 256·2^-23 ≈ 3.1e-5. Integer and float lanes let the loop vectorise.
void lumaRow(const uint8_t* rgba, uint8_t* out, int width);

}  // namespace media::detail

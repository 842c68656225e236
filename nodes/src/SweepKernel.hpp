#pragma once

#include <cmath>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

// The per-sample arithmetic of the swept delay lines (chorus, flanger,
// vibrato) in the form the block loops run it: the same operations, in the
// same order and precision, as the delay line's fmodf-reduced position and
// interpolated read, with the library calls and divisions replaced by exact
// shortcuts.
namespace quorvel::extensions::audioeffects::swept {

// Frames per pass: a block is run in chunks of at most this many frames,
// first stepping the oscillators for the whole chunk, then walking each
// delay line through it.
constexpr unsigned int kChunkFrames = 256;

// fmodf(x, length) for length > 0. A read position lies, before reduction,
// in [0, 2 x length) for any sensible sweep: there the remainder is x itself
// or x - length, which is exact (x and length are within a factor of two of
// each other). Anything else takes the library call.
inline float foldIntoLine(float x, float length) noexcept {
  if (x >= 0.0f) {
    if (x < length) return x;
    if (x < 2.0f * length) return x - length;
  }
  return std::fmod(x, length);
}

// The linearly interpolated sample at `position` of a ring of `size` samples
// (index 0 at `samples`), for a position in (-size, size) as foldIntoLine
// yields: floor(position) by truncation, which is exact in that range and at
// most one too high; indices fold by one compare each. The weight of the
// lower sample is formed in double, that of the upper in float, and the sum
// is rounded to float once.
inline float interpolateLine(const float* samples, int size, float position) noexcept {
  const float truncated = static_cast<float>(static_cast<int>(position));
  const float base = truncated > position ? truncated - 1.0f : std::copysign(truncated, position);
  const float fraction = position - base;
  int i = static_cast<int>(base);
  if (i < 0) i += size;
  int j = i + 1;
  if (j == size) j = 0;
  const float current = samples[i];
  const float next = samples[j];
  return static_cast<float>((1.0 - static_cast<double>(fraction)) * static_cast<double>(current) +
                            static_cast<double>(fraction * next));
}

// The reduced read position `fixedDelay` + `d` samples behind write index
// `write` of a line of `length` samples.
inline float sweptReadPosition(int write, float d, float fixedDelay, float length) noexcept {
  return foldIntoLine(((static_cast<float>(write) - d) - fixedDelay) + length, length);
}

// Whether a chunk of `count` frames may be run as two passes, all delay-line
// writes apart from all interpolated reads, with the same result as
// interleaving them frame by frame: true when every swept delay of the chunk
// lies in [0, length - fixedDelay - count - 4], so that no read reaches a
// position the chunk writes before that read's own frame (reads lie at
// least fixedDelay behind and never wrap round to the front of the line).
inline bool sweepStaysBehind(const float* d, unsigned int count, float fixedDelay,
                             float length) noexcept {
  const float limit = length - fixedDelay - static_cast<float>(count) - 4.0f;
  bool inside = true;
  for (unsigned int f = 0; f < count; ++f) inside &= (d[f] >= 0.0f) & (d[f] <= limit);
  return inside;
}

// y[f] = interpolateLine(samples, size, sweptReadPosition(write + f, d[f],
// fixedDelay, size)) for f in [0, count), write + f folded into the line:
// the interpolated reads of a chunk, four frames at a time where SSE2 is
// available. Every lane runs the scalar operations in the scalar order and
// precision (the double-precision part two lanes at a time); a group whose
// unreduced position leaves [0, 2 x length) takes the scalar path.
inline void interpolateSweep(const float* samples, int size, int write, const float* d,
                             float fixedDelay, float* y, unsigned int count) noexcept {
  const float length = static_cast<float>(size);
  unsigned int f = 0;
#if defined(__SSE2__) || defined(_M_X64)
  const __m128 vLength = _mm_set1_ps(length);
  const __m128 vTwoLengths = _mm_set1_ps(2.0f * length);
  const __m128 vFixed = _mm_set1_ps(fixedDelay);
  const __m128 vOne = _mm_set1_ps(1.0f);
  const __m128i vSize = _mm_set1_epi32(size);
  const __m128i vStep = _mm_setr_epi32(0, 1, 2, 3);
  const __m128d dOne = _mm_set1_pd(1.0);
  while (f + 4 <= count) {
    // The write positions of the four frames, folded into the line.
    __m128i w = _mm_add_epi32(_mm_set1_epi32(write), vStep);
    w = _mm_sub_epi32(w, _mm_andnot_si128(_mm_cmplt_epi32(w, vSize), vSize));
    const __m128 x = _mm_add_ps(
        _mm_sub_ps(_mm_sub_ps(_mm_cvtepi32_ps(w), _mm_loadu_ps(d + f)), vFixed), vLength);
    const __m128 inRange =
        _mm_and_ps(_mm_cmpge_ps(x, _mm_setzero_ps()), _mm_cmplt_ps(x, vTwoLengths));
    if (_mm_movemask_ps(inRange) != 0xF) {
      for (unsigned int k = 0; k < 4; ++k, ++f) {
        const int wk = write + 1 < size ? write + 1 : 0;
        y[f] = interpolateLine(samples, size, sweptReadPosition(write, d[f], fixedDelay, length));
        write = wk;
      }
      continue;
    }
    const __m128 p = _mm_sub_ps(x, _mm_and_ps(_mm_cmpge_ps(x, vLength), vLength));
    const __m128i truncated = _mm_cvttps_epi32(p);
    const __m128 truncatedF = _mm_cvtepi32_ps(truncated);
    // p >= 0 here, so truncation is the floor unless it rounded up (never,
    // but kept exact): the mask is all ones where one must be taken off.
    const __m128 high = _mm_cmpgt_ps(truncatedF, p);
    const __m128 base = _mm_sub_ps(truncatedF, _mm_and_ps(high, vOne));
    const __m128i i = _mm_add_epi32(truncated, _mm_castps_si128(high));
    const __m128 fraction = _mm_sub_ps(p, base);
    __m128i j = _mm_add_epi32(i, _mm_set1_epi32(1));
    j = _mm_andnot_si128(_mm_cmpeq_epi32(j, vSize), j);
    alignas(16) int iv[4];
    alignas(16) int jv[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(iv), i);
    _mm_store_si128(reinterpret_cast<__m128i*>(jv), j);
    const __m128 current =
        _mm_setr_ps(samples[iv[0]], samples[iv[1]], samples[iv[2]], samples[iv[3]]);
    const __m128 next = _mm_setr_ps(samples[jv[0]], samples[jv[1]], samples[jv[2]], samples[jv[3]]);
    const __m128 nextPart = _mm_mul_ps(fraction, next);
    const __m128d low =
        _mm_add_pd(_mm_mul_pd(_mm_sub_pd(dOne, _mm_cvtps_pd(fraction)), _mm_cvtps_pd(current)),
                   _mm_cvtps_pd(nextPart));
    const __m128d highHalf =
        _mm_add_pd(_mm_mul_pd(_mm_sub_pd(dOne, _mm_cvtps_pd(_mm_movehl_ps(fraction, fraction))),
                              _mm_cvtps_pd(_mm_movehl_ps(current, current))),
                   _mm_cvtps_pd(_mm_movehl_ps(nextPart, nextPart)));
    _mm_storeu_ps(y + f, _mm_movelh_ps(_mm_cvtpd_ps(low), _mm_cvtpd_ps(highHalf)));
    f += 4;
    write += 4;
    if (write >= size) write -= size;
  }
#endif
  for (; f < count; ++f) {
    y[f] = interpolateLine(samples, size, sweptReadPosition(write, d[f], fixedDelay, length));
    if (++write == size) write = 0;
  }
}

}  // namespace quorvel::extensions::audioeffects::swept

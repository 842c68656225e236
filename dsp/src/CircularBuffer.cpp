#include "quorvel/audio/CircularBuffer.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "InterpolatedRead.hpp"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace quorvel::audio {

namespace {

int checkedSize(int size) {
  if (size < 1 || size > CircularBuffer::kMaxSize) {
    throw std::invalid_argument("CircularBuffer size must lie in [1, " +
                                std::to_string(CircularBuffer::kMaxSize) + "], got " +
                                std::to_string(size));
  }
  return size;
}

}  // namespace

CircularBuffer::CircularBuffer(int size)
    : size(checkedSize(size)),
      buffer(static_cast<std::size_t>(size), 0.0f),
      readPointer(0),
      writePointer(0) {}

float CircularBuffer::interpolate(float position) const noexcept {
  return detail::interpolateAt(buffer.data(), size, position);
}

void CircularBuffer::interpolate(const float* positions, float* out,
                                 std::size_t count) const noexcept {
  const float* const samples = buffer.data();
  std::size_t k = 0;
#if defined(__SSE2__) || defined(_M_X64)
  // Four reads at a time where all four positions lie in [0, size), with no
  // negative zero among them: there floor is truncation and only the upper
  // neighbour can wrap. Each lane runs the scalar operations in the scalar
  // order and precision (the double part two lanes at a time); any other
  // group takes the scalar read.
  const __m128 vLength = _mm_set1_ps(static_cast<float>(size));
  const __m128i vSize = _mm_set1_epi32(size);
  const __m128i vOne = _mm_set1_epi32(1);
  const __m128d dOne = _mm_set1_pd(1.0);
  for (; k + 4 <= count; k += 4) {
    const __m128 p = _mm_loadu_ps(positions + k);
    const __m128 inRange = _mm_and_ps(_mm_cmpge_ps(p, _mm_setzero_ps()), _mm_cmplt_ps(p, vLength));
    const __m128i i = _mm_cvttps_epi32(p);
    // The float compare alone would let a position round up to a size that
    // is not a float: the index is checked exactly as well.
    const __m128i below = _mm_cmplt_epi32(i, vSize);
    if (_mm_movemask_ps(_mm_and_ps(inRange, _mm_castsi128_ps(below))) != 0xF ||
        _mm_movemask_ps(p) != 0) {
      for (std::size_t lane = k; lane < k + 4; ++lane) {
        out[lane] = detail::interpolateAt(samples, size, positions[lane]);
      }
      continue;
    }
    const __m128 fraction = _mm_sub_ps(p, _mm_cvtepi32_ps(i));
    __m128i j = _mm_add_epi32(i, vOne);
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
    const __m128d high =
        _mm_add_pd(_mm_mul_pd(_mm_sub_pd(dOne, _mm_cvtps_pd(_mm_movehl_ps(fraction, fraction))),
                              _mm_cvtps_pd(_mm_movehl_ps(current, current))),
                   _mm_cvtps_pd(_mm_movehl_ps(nextPart, nextPart)));
    _mm_storeu_ps(out + k, _mm_movelh_ps(_mm_cvtpd_ps(low), _mm_cvtpd_ps(high)));
  }
#endif
  for (; k < count; ++k) out[k] = detail::interpolateAt(samples, size, positions[k]);
}

void CircularBuffer::reset() noexcept {
  std::fill(buffer.begin(), buffer.end(), 0.0f);
  readPointer = 0;
  writePointer = 0;
}

int CircularBuffer::getFillLevel() const noexcept {
  return writePointer >= readPointer ? writePointer - readPointer
                                     : writePointer + size - readPointer;
}

}  // namespace quorvel::audio

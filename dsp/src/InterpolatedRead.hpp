#pragma once

#include <cmath>

// The ring's interpolated read, written once. Private to the DSP core: its
// sources are compiled with contraction off, so a multiply and an add stay
// two roundings wherever the read is inlined.
namespace quorvel::audio::detail {

// floor(position) for a finite position, without a library call: below 2^23
// in magnitude the truncation to int is exact and at most one too high; from
// 2^23 on every float is integral. The sign of a zero is kept.
inline float floorOf(float position) noexcept {
  if (!(std::fabs(position) < 8388608.0f)) return position;
  const float truncated = static_cast<float>(static_cast<int>(position));
  return truncated > position ? truncated - 1.0f : std::copysign(truncated, position);
}

// (position + size) rem size, folded fully, for any int position.
inline int wrapIndex(int position, int size) noexcept {
  if (position >= 0 && position < size) return position;
  if (position < 0 && position >= -size) return position + size;
  const int folded = position % size;
  return folded < 0 ? folded + size : folded;
}

// The linear blend of `current` and `next` at fraction `t`: the weight of
// `current` formed in double, that of `next` in float, the sum rounded to
// float once.
inline float blend(float current, float next, float t) noexcept {
  return static_cast<float>((1.0 - static_cast<double>(t)) * static_cast<double>(current) +
                            static_cast<double>(t * next));
}

// The sample of a ring of `size` samples (index 0 at `samples`) at
// fractional position `position`, interpolated between floor(position) and
// the next index, both folded into the ring. A non-finite position reads
// index 0.
inline float interpolateAt(const float* samples, int size, float position) noexcept {
  // Within one ring of 0, the case of every swept read: floor by truncation
  // (exact there, and at most one too high) and one fold of each index.
  const float limit = static_cast<float>(size);
  if (position > -limit && position < limit) {
    const int t = static_cast<int>(position);
    const float truncated = static_cast<float>(t);
    const bool high = truncated > position;
    const float base = high ? truncated - 1.0f : std::copysign(truncated, position);
    int i = high ? t - 1 : t;
    if (i < 0) i += size;
    // A size that is not a float can let the bound round up: check exactly.
    if (static_cast<unsigned int>(i) < static_cast<unsigned int>(size)) {
      const int after = i + 1 == size ? 0 : i + 1;
      return blend(samples[i], samples[after], position - base);
    }
  }
  if (!std::isfinite(position)) position = 0.0f;
  const float base = floorOf(position);
  // In single precision: for a negative position just below 0 this is exactly 1.
  const float fraction = position - base;
  // Integral floats beyond 2^30 are folded in double (exactly) before the
  // conversion, so that neither the cast nor i + 1 can overflow.
  constexpr float kDirectLimit = 1073741824.0f;
  const int i = (base >= -kDirectLimit && base <= kDirectLimit)
                    ? static_cast<int>(base)
                    : static_cast<int>(std::fmod(static_cast<double>(base), size));
  const int at = wrapIndex(i, size);
  const int after = at + 1 == size ? 0 : at + 1;
  return blend(samples[at], samples[after], fraction);
}

}  // namespace quorvel::audio::detail

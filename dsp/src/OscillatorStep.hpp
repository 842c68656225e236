#pragma once

#include <cmath>

#include "quorvel/audio/LFO.hpp"

// The oscillator's step, written once: LFO::process calls it, and LFO::fill
// repeats its operations for a chunk at a time.
namespace quorvel::audio {

namespace detail {

// One cycle in radians, as a double: the angle is formed in double and
// rounded to float once, before the single-precision sine.
constexpr double kTwoPi = 6.283185307179586;

// A phase beyond this many cycles can only come from a non-finite or absurd
// frequency: far below the point where the angle would overflow a float.
constexpr float kPhaseLimit = 18446744073709551616.0f;  // 2^64

}  // namespace detail

// LFO::fill and fillPair for the core's tests and benchmarks, which cannot be
// friends of the oscillator.
struct LFOAccess {
  static void fill(LFO& lfo, int rate, float* out, unsigned int count) noexcept {
    lfo.fill(rate, out, count);
  }
  static void fillPair(LFO& first, LFO& second, int rate, float* firstOut, float* secondOut,
                       unsigned int count) noexcept {
    LFO::fillPair(first, second, rate, firstOut, secondOut, count);
  }
};

inline float LFO::step(int rate) noexcept {
  if (rate != sampleRate) {
    sampleRate = rate;
    inverseSampleRate = rate > 0 ? static_cast<float>(1.0 / rate) : 0.0f;
  }
  const float currentOffset = offset.load();
  const float currentAmplitude = amplitude.load();
  const float angle = static_cast<float>(static_cast<double>(phaseOffset.load()) +
                                         static_cast<double>(phase) * detail::kTwoPi);
  const float value = std::sin(angle) * currentAmplitude + currentOffset;
  float next = frequency.load() * inverseSampleRate + phase;
  if (next >= 1.0f) next -= 1.0f;
  // A non-finite step would leave the phase NaN or infinite for good; start
  // again at 0 so the oscillator recovers once a sane frequency is set.
  if (!(std::fabs(next) <= detail::kPhaseLimit)) next = 0.0f;
  phase = next;
  return value;
}

}  // namespace quorvel::audio

#pragma once

#include <cmath>

#include "quorvel/audio/LFO.hpp"
#include "vector/Sine.hpp"

// The oscillator's step, written once: LFO::process calls it, LFO::fill
// repeats its operations for a chunk at a time, and vector/Phase.cpp takes
// its step and its angle on several lanes at once.
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

namespace detail {

// The oscillator's angle in radians at `phase` cycles: formed in double,
// rounded to float once.
inline float angleOf(double phaseOffset, float phase) noexcept {
  return static_cast<float>(phaseOffset + static_cast<double>(phase) * kTwoPi);
}

// The phase one step of `increment` cycles on from `phase`, wrapped into
// [0, 1). kChecked: a non-finite or runaway phase would stay so for good, so
// it starts again at 0 and the oscillator recovers once a sane frequency is
// set; a caller that has bounded the phase may leave the check out.
template <bool kChecked = true>
inline float nextPhase(float increment, float phase) noexcept {
  float next = increment + phase;
  if (next >= 1.0f) next -= 1.0f;
  if (kChecked && !(std::fabs(next) <= kPhaseLimit)) next = 0.0f;
  return next;
}

}  // namespace detail

inline void LFO::useRate(int rate) noexcept {
  if (rate == sampleRate) return;
  sampleRate = rate;
  inverseSampleRate = rate > 0 ? static_cast<float>(1.0 / rate) : 0.0f;
}

inline float LFO::step(int rate) noexcept {
  useRate(rate);
  const float currentOffset = offset.load();
  const float currentAmplitude = amplitude.load();
  const float angle = detail::angleOf(phaseOffset.load(), phase);
  // Not the C library's sinf: the same bits on every platform.
  const float sine = detail::referenceSine(angle);
  const float value = sine * currentAmplitude + currentOffset;
  phase = detail::nextPhase(frequency.load() * inverseSampleRate, phase);
  return value;
}

}  // namespace quorvel::audio

#include "quorvel/audio/LFO.hpp"

#include <cmath>

#include "OscillatorStep.hpp"
#include "vector/Sine.hpp"

namespace quorvel::audio {

namespace {

// A chunk of at most kUncheckedSteps steps from a phase and an increment of
// at most kUncheckedBound cycles keeps the phase below 2^16 x 2^41 = 2^57
// cycles in magnitude, rounding included (each step adds at most the
// increment and a relative 2^-24; the wrap only shrinks it).
constexpr unsigned int kUncheckedSteps = 1u << 16;
constexpr float kUncheckedBound = 1099511627776.0f;  // 2^40

}  // namespace

// Settles, outside the audio thread, whether the block sine may take the
// vector kernel.
LFO::LFO() noexcept { detail::vectorSineInUse(); }

float LFO::process(int rate) noexcept { return step(rate); }

void LFO::fill(int rate, float* out, unsigned int count) noexcept {
  if (rate != sampleRate) {
    sampleRate = rate;
    inverseSampleRate = rate > 0 ? static_cast<float>(1.0 / rate) : 0.0f;
  }
  // The parameters are read once for the chunk, where step() reads them for
  // every value: the same values for any change made between two chunks.
  const double shift = static_cast<double>(phaseOffset.load());
  const float increment = frequency.load() * inverseSampleRate;
  const float currentAmplitude = amplitude.load();
  const float currentOffset = offset.load();
  // The phase recurrence is serial: the angles first, as step() forms them.
  float p = phase;
  const auto angle = [shift](float cycles) {
    return static_cast<float>(shift + static_cast<double>(cycles) * detail::kTwoPi);
  };
  if (count <= kUncheckedSteps && std::fabs(increment) <= kUncheckedBound &&
      std::fabs(p) <= kUncheckedBound) {
    // The phase cannot leave [-2^57, 2^57] within the chunk, far inside the
    // limit: step()'s reset never fires, and the recurrence runs without it.
    for (unsigned int i = 0; i < count; ++i) {
      out[i] = angle(p);
      float next = increment + p;
      if (next >= 1.0f) next -= 1.0f;
      p = next;
    }
  } else {
    for (unsigned int i = 0; i < count; ++i) {
      out[i] = angle(p);
      float next = increment + p;
      if (next >= 1.0f) next -= 1.0f;
      if (!(std::fabs(next) <= detail::kPhaseLimit)) next = 0.0f;
      p = next;
    }
  }
  phase = p;
  detail::sineBlock(out, out, count);
  for (unsigned int i = 0; i < count; ++i) out[i] = out[i] * currentAmplitude + currentOffset;
}

}  // namespace quorvel::audio

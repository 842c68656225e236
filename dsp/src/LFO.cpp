#include "quorvel/audio/LFO.hpp"

#include <cmath>

#include "OscillatorStep.hpp"
#include "vector/Sine.hpp"

namespace quorvel::audio {

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
  for (unsigned int i = 0; i < count; ++i) {
    out[i] = static_cast<float>(shift + static_cast<double>(p) * detail::kTwoPi);
    float next = increment + p;
    if (next >= 1.0f) next -= 1.0f;
    if (!(std::fabs(next) <= detail::kPhaseLimit)) next = 0.0f;
    p = next;
  }
  phase = p;
  detail::sineBlock(out, out, count);
  for (unsigned int i = 0; i < count; ++i) out[i] = out[i] * currentAmplitude + currentOffset;
}

}  // namespace quorvel::audio

#include "Dither.hpp"

#include <algorithm>
#include <cmath>

namespace quorvelfx {

PcmQuantiser::PcmQuantiser(int bits, const Quantisation& quantisation)
    : bits_(bits), dither_(quantisation.dither && bits < 32), random_(quantisation.seed) {}

// splitmix64, so a seed gives the same file on every platform.
double PcmQuantiser::ditherOffset(std::uint64_t& state) noexcept {
  auto uniform = [&state] {
    state += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) * 0x1.0p-53;
  };
  const double first = uniform();
  return first + uniform() - 1.0;
}

// Quantised here rather than in libsndfile, whose float conversion truncates
// towards minus infinity (a DC offset of half a step) and cannot dither. The
// integers are left-justified, so libsndfile only shifts them down to the width.
std::uint64_t PcmQuantiser::quantise(const float* samples, int* integers,
                                     std::size_t count) noexcept {
  const double steps = std::ldexp(1.0, bits_ - 1);
  const std::int64_t shift = std::int64_t{1} << (32 - bits_);
  // The generator and the count stay in registers: stores to the integers
  // would otherwise force them to memory on every sample.
  std::uint64_t random = random_;
  std::uint64_t clipped = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const float sample = samples[i];
    if (std::fabs(sample) > 1.0f) ++clipped;
    // A NaN has no step to round to (and must not reach the integer
    // conversion): it is written as silence. Infinities clip like any overload.
    double scaled = std::isnan(sample) ? 0.0 : static_cast<double>(sample) * steps;
    if (dither_) scaled += ditherOffset(random);
    // Clamped to whole steps first, then rounded down by truncation: the same
    // step as floor() then clamp, without a call to floor() per sample.
    const double bounded = std::clamp(scaled + 0.5, -steps, steps - 1.0);
    std::int64_t step = static_cast<std::int64_t>(bounded);
    if (static_cast<double>(step) > bounded) --step;
    integers[i] = static_cast<int>(step * shift);
  }
  random_ = random;
  return clipped;
}

}  // namespace quorvelfx

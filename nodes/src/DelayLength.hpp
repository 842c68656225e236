#pragma once

#include <cmath>

namespace quorvel::extensions::audioeffects {

// Samples in every delay line of the two delay nodes, whatever the sample
// rate: one second at 48 kHz.
inline constexpr unsigned int kDelayLineLength = 48000;

// The delay of `delayMs` milliseconds at `sampleRate` Hz in whole samples:
// (sampleRate / 1000) x delayMs in double, truncated toward zero. The result
// is held to [1, kDelayLineLength]: a longer delay would read outside the line,
// and a delay of less than one sample has no position behind the write head.
inline unsigned int delayInSamples(unsigned int sampleRate, unsigned int delayMs) noexcept {
  const double samples =
      std::trunc(static_cast<double>(sampleRate) / 1000.0 * static_cast<double>(delayMs));
  if (samples < 1.0) return 1;
  if (samples > static_cast<double>(kDelayLineLength)) return kDelayLineLength;
  return static_cast<unsigned int>(samples);
}

}  // namespace quorvel::extensions::audioeffects

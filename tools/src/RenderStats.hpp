#pragma once

#include <cmath>
#include <cstdint>

namespace quorvelfx {

// What a render measured: output length and level, and the time spent in the nodes.
struct RenderStats {
  std::uint64_t frames = 0;        // output frames written
  std::uint64_t samples = 0;       // output samples (frames x channels)
  double sumOfSquares = 0.0;       // over all output samples
  float peak = 0.0f;               // largest absolute output sample
  double processingSeconds = 0.0;  // wall-clock time inside the nodes' process()

  // Root-mean-square output level, linear.
  double rms() const { return samples ? std::sqrt(sumOfSquares / samples) : 0.0; }
  // Audio seconds processed per wall-clock second, at `sampleRate` Hz.
  double speed(unsigned int sampleRate) const {
    const double audio = static_cast<double>(frames) / sampleRate;
    return processingSeconds > 0.0 ? audio / processingSeconds : 0.0;
  }
  // A linear level in dBFS; -inf for silence.
  static double decibels(double level) { return 20.0 * std::log10(level); }
};

}  // namespace quorvelfx

#pragma once

#include <cmath>
#include <cstring>
#include <limits>

// Pieces every effect processor uses.
namespace quorvel::audio::detail {

// A sample as the effects output it: a subnormal becomes a zero of its sign.
// Flushed explicitly rather than by a floating-point mode, so the bits are
// the same on every platform (WebAssembly has no such mode) and a decaying
// tail reaches silence instead of lingering in slow subnormal arithmetic.
inline float outputSample(float sample) noexcept {
  return std::fabs(sample) < std::numeric_limits<float>::min() ? std::copysign(0.0f, sample)
                                                               : sample;
}

// A sample as a delay line stores it: silence in place of a NaN or an
// infinity, so one bad sample cannot poison a feedback loop, and subnormals
// flushed as in outputSample().
inline float lineSample(float sample) noexcept {
  return std::isfinite(sample) ? outputSample(sample) : 0.0f;
}

// The swept part of a delay in samples for oscillator value `v`: the sweep
// width in seconds scaled by the oscillator, then by the sample rate. A
// non-finite result (non-finite or overflowing width) would make the read
// position meaningless, so that sample keeps only the fixed part of the delay.
// kernels::sweptDelays forms the delays of a chunk the same way on lanes.
inline float sweptDelay(float v, float sweepWidth, float sampleRate) noexcept {
  const float d = (v * sweepWidth) * sampleRate;
  return std::isfinite(d) ? d : 0.0f;
}

// Copies channels [first, channels) of a block from in to out, skipping
// channels processed in place.
inline void copyThrough(const float* const* in, float* const* out, unsigned int first,
                        unsigned int channels, unsigned int frames) noexcept {
  for (unsigned int c = first; c < channels; ++c) {
    if (in[c] != out[c] && frames > 0) std::memcpy(out[c], in[c], frames * sizeof(float));
  }
}

// Recirculations of a loop with gain `loopGain` until an echo first heard at
// `firstGain` has fallen below `level`: the number of echoes at or above it
// (0 when even the first is below), infinity when the loop never decays.
inline double audibleEchoes(double firstGain, double loopGain, double level) noexcept {
  firstGain = std::fabs(firstGain);
  loopGain = std::fabs(loopGain);
  if (!std::isfinite(firstGain) || !std::isfinite(loopGain) || !(level > 0.0)) {
    return std::numeric_limits<double>::infinity();
  }
  if (firstGain < level) return 0.0;
  if (loopGain == 0.0) return 1.0;
  if (loopGain >= 1.0) return std::numeric_limits<double>::infinity();
  return 1.0 + std::floor(std::log(level / firstGain) / std::log(loopGain));
}

}  // namespace quorvel::audio::detail

#pragma once

#include <cmath>
#include <cstring>
#include <limits>

// Pieces every effect processor uses.
namespace quorvel::audio::detail {

// What a delay line stores for `sample`: the sample itself when finite,
// otherwise silence. A NaN or infinity stored in a feedback line would
// circulate for ever and silence the effect; stored as 0 it leaves no trace
// once finite input resumes. Finite samples pass through bit for bit.
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

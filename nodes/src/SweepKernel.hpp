#pragma once

#include <cmath>

// The per-sample arithmetic of the swept delay lines (chorus, flanger,
// vibrato) in the form the block loops run it: the same operations, in the
// same order and precision, as the delay line's fmodf-reduced position and
// interpolated read, with the library calls and divisions replaced by exact
// shortcuts.
namespace quorvel::extensions::audioeffects::swept {

// Frames per pass: a block is run in chunks of at most this many frames,
// first stepping the oscillators for the whole chunk, then walking each
// delay line through it.
constexpr unsigned int kChunkFrames = 256;

// fmodf(x, length) for length > 0. A read position lies, before reduction,
// in [0, 2 x length) for any sensible sweep: there the remainder is x itself
// or x - length, which is exact (x and length are within a factor of two of
// each other). Anything else takes the library call.
inline float foldIntoLine(float x, float length) noexcept {
  if (x >= 0.0f) {
    if (x < length) return x;
    if (x < 2.0f * length) return x - length;
  }
  return std::fmod(x, length);
}

// The linearly interpolated sample at `position` of a ring of `size` samples
// (index 0 at `samples`), for a position in (-size, size) as foldIntoLine
// yields: floor(position) by truncation, which is exact in that range and at
// most one too high; indices fold by one compare each. The weight of the
// lower sample is formed in double, that of the upper in float, and the sum
// is rounded to float once.
inline float interpolateLine(const float* samples, int size, float position) noexcept {
  const float truncated = static_cast<float>(static_cast<int>(position));
  const float base = truncated > position ? truncated - 1.0f : std::copysign(truncated, position);
  const float fraction = position - base;
  int i = static_cast<int>(base);
  if (i < 0) i += size;
  int j = i + 1;
  if (j == size) j = 0;
  const float current = samples[i];
  const float next = samples[j];
  return static_cast<float>((1.0 - static_cast<double>(fraction)) * static_cast<double>(current) +
                            static_cast<double>(fraction * next));
}

// The reduced read position `fixedDelay` + `d` samples behind write index
// `write` of a line of `length` samples.
inline float sweptReadPosition(int write, float d, float fixedDelay, float length) noexcept {
  return foldIntoLine(((static_cast<float>(write) - d) - fixedDelay) + length, length);
}

}  // namespace quorvel::extensions::audioeffects::swept

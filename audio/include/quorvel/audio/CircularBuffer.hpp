#pragma once

#include <cmath>
#include <vector>

#include "quorvel/audioeffects/Export.hpp"

namespace quorvel::audio {

// A fixed-size ring of float samples with one read and one write position:
// the delay line of the effect nodes. Positions fold into the ring by integer
// remainder, so the size need not be a power of two.
class QUORVEL_AUDIOEFFECTS_API CircularBuffer {
 public:
  // Largest ring: its byte count must fit a signed 32-bit integer.
  static constexpr int kMaxSize = 536870911;

  // A ring of `size` zero samples, both positions at 0. `size` must lie in
  // [1, kMaxSize]; std::invalid_argument otherwise.
  explicit CircularBuffer(int size);

  // Number of samples in the ring.
  int getSize() const noexcept { return size; }
  // Index of the read position, in [0, size).
  int getReadPointer() const noexcept { return readPointer; }
  // Index of the write position, in [0, size).
  int getWritePointer() const noexcept { return writePointer; }

  // Puts the read position at `position`, folded into the ring.
  void setReadPointer(int position) noexcept { readPointer = wrap(position); }
  // Puts the write position at `position`, folded into the ring.
  void setWritePointer(int position) noexcept { writePointer = wrap(position); }
  // Moves the read position by `steps` samples, wrapping around.
  void stepReadPointer(int steps) noexcept { readPointer = advance(readPointer, steps); }
  // Moves the write position by `steps` samples, wrapping around.
  void stepWritePointer(int steps) noexcept { writePointer = advance(writePointer, steps); }

  // The sample at the read position.
  float readSample() const noexcept { return buffer[readPointer]; }
  // The sample at absolute position `index`, folded into the ring.
  float readSample(int index) const noexcept { return buffer[wrap(index)]; }
  // Stores `sample` at the write position; the position does not move.
  void writeSample(float sample) noexcept { buffer[writePointer] = sample; }

  // The ring's getSize() samples, index 0 first, for loops that walk the ring
  // themselves (and keep its positions with setReadPointer/setWritePointer).
  float* data() noexcept { return buffer.data(); }
  // The ring's getSize() samples, index 0 first.
  const float* data() const noexcept { return buffer.data(); }

  // The sample at fractional absolute position `position`, linearly
  // interpolated between its two neighbours with wrap-around. A non-finite
  // position reads the sample at index 0.
  float interpolate(float position) const noexcept;

  // Zeroes every sample and puts both positions at 0.
  void reset() noexcept;
  // Distance from the read to the write position, in [0, size).
  int getFillLevel() const noexcept;

 private:
  // Folds any position into [0, size). For positions in [-size, INT_MAX - size]
  // this equals (position + size) rem size; beyond, it keeps folding instead
  // of overflowing. Positions at most one ring away, the common case, fold
  // by one compare and add or subtract instead of a division.
  int wrap(int position) const noexcept {
    if (position >= 0) {
      if (position < size) return position;
      if (position - size < size) return position - size;
    } else if (position >= -size) {
      return position + size;
    }
    const int folded = position % size;
    return folded < 0 ? folded + size : folded;
  }
  // Folds position + steps for a position already in the ring, without
  // signed overflow: both terms are below size, so their sum is below 2^30.
  int advance(int position, int steps) const noexcept {
    const int next = position + wrap(steps);
    return next >= size ? next - size : next;
  }
  // floor(position) for a finite position, without a library call: below
  // 2^23 in magnitude the truncation to int is exact and at most one too
  // high; from 2^23 on every float is integral. The sign of a zero is kept.
  static float floorOf(float position) noexcept {
    if (!(std::fabs(position) < 8388608.0f)) return position;
    const float truncated = static_cast<float>(static_cast<int>(position));
    return truncated > position ? truncated - 1.0f : std::copysign(truncated, position);
  }

  int size;
  std::vector<float> buffer;
  int readPointer;
  int writePointer;
};

inline float CircularBuffer::interpolate(float position) const noexcept {
  if (!std::isfinite(position)) position = 0.0f;
  const float base = floorOf(position);
  // In single precision: for a negative position just below 0 this is exactly 1.
  const float fraction = position - base;
  // Integral floats beyond 2^30 are folded in double (exactly) before the
  // conversion, so that neither the cast nor i + 1 can overflow.
  constexpr float kDirectLimit = 1073741824.0f;
  const int i = (base >= -kDirectLimit && base <= kDirectLimit)
                    ? static_cast<int>(base)
                    : static_cast<int>(std::fmod(static_cast<double>(base), size));
  const float current = readSample(i);
  const float next = readSample(i + 1);
  // The weight of `current` is formed in double, that of `next` in float;
  // the sum is rounded to float once.
  return static_cast<float>((1.0 - static_cast<double>(fraction)) * static_cast<double>(current) +
                            static_cast<double>(fraction * next));
}

}  // namespace quorvel::audio

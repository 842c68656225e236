#pragma once

#include <cstddef>
#include <vector>

#include "quorvel/audio/Export.hpp"

namespace quorvel::audio {

// A fixed-size ring of float samples with one read and one write position:
// the delay line of the effects. Positions fold into the ring by integer
// remainder, so the size need not be a power of two.
class QUORVEL_DSP_API CircularBuffer {
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
  float readSample() const noexcept { return buffer[static_cast<std::size_t>(readPointer)]; }
  // The sample at absolute position `index`, folded into the ring.
  float readSample(int index) const noexcept {
    return buffer[static_cast<std::size_t>(wrap(index))];
  }
  // Stores `sample` at the write position; the position does not move.
  void writeSample(float sample) noexcept {
    buffer[static_cast<std::size_t>(writePointer)] = sample;
  }

  // The sample at fractional absolute position `position`, linearly
  // interpolated between its two neighbours with wrap-around:
  // (1 - t) x current in double, t x next in float, summed in double and
  // rounded once, t = position - floor(position) in float. A non-finite
  // position reads index 0. Compiled in the library, so the bits do not
  // depend on the flags the caller is built with.
  float interpolate(float position) const noexcept;
  // out[k] = interpolate(positions[k]) for k in [0, count), bit for bit; the
  // block form the effects' sweeps run on, several positions at a time.
  void interpolate(const float* positions, float* out, std::size_t count) const noexcept;

  // Zeroes every sample and puts both positions at 0.
  void reset() noexcept;
  // Distance from the read to the write position, in [0, size).
  int getFillLevel() const noexcept;

  // The ring's getSize() samples, index 0 first, for loops that walk the ring
  // themselves (and keep its positions with setReadPointer/setWritePointer).
  float* data() noexcept { return buffer.data(); }
  // The ring's getSize() samples, index 0 first.
  const float* data() const noexcept { return buffer.data(); }

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

  int size;
  std::vector<float> buffer;
  int readPointer;
  int writePointer;
};

}  // namespace quorvel::audio

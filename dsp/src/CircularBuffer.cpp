#include "quorvel/audio/CircularBuffer.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "InterpolatedRead.hpp"
#include "vector/Interpolate.hpp"

namespace quorvel::audio {

namespace {

int checkedSize(int size) {
  if (size < 1 || size > CircularBuffer::kMaxSize) {
    throw std::invalid_argument("CircularBuffer size must lie in [1, " +
                                std::to_string(CircularBuffer::kMaxSize) + "], got " +
                                std::to_string(size));
  }
  return size;
}

}  // namespace

CircularBuffer::CircularBuffer(int size)
    : size(checkedSize(size)),
      buffer(static_cast<std::size_t>(size), 0.0f),
      readPointer(0),
      writePointer(0) {}

float CircularBuffer::interpolate(float position) const noexcept {
  return detail::interpolateAt(buffer.data(), size, position);
}

void CircularBuffer::interpolate(const float* positions, float* out,
                                 std::size_t count) const noexcept {
  kernels::interpolateLine(buffer.data(), size, positions, out, count);
}

void CircularBuffer::reset() noexcept {
  std::fill(buffer.begin(), buffer.end(), 0.0f);
  readPointer = 0;
  writePointer = 0;
}

int CircularBuffer::getFillLevel() const noexcept {
  return writePointer >= readPointer ? writePointer - readPointer
                                     : writePointer + size - readPointer;
}

}  // namespace quorvel::audio

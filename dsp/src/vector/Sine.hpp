#pragma once

#include <cstddef>

// The oscillators' sine, a block at a time: the same bits as std::sin(float),
// computed several lanes at once.
namespace quorvel::audio::detail {

// out[i] = std::sin(angles[i]) for i < count, bit for bit, for any float
// angle in radians; `out` may be `angles` itself.
void sineBlock(const float* angles, float* out, std::size_t count) noexcept;

// True when sineBlock runs the vector kernel; false when that kernel did not
// reproduce the C library's sinf on its check points at first use (another
// C library or another algorithm), and every value takes std::sin instead.
bool vectorSineInUse() noexcept;

}  // namespace quorvel::audio::detail

#pragma once

#include <cstddef>

// The oscillators' sine, a block at a time: the same bits as std::sin(float),
// computed several lanes at once.
namespace quorvel::audio::detail {

// out[i] = std::sin(angles[i]) for i < count, bit for bit, for any float
// angle in radians; `out` may be `angles` itself.
void sineBlock(const float* angles, float* out, std::size_t count) noexcept;

// True when sineBlock runs the vector kernel. With glibc, false when the
// kernel did not reproduce its sinf on the check points at first use, and
// every value takes std::sin instead. With any other C library always true:
// that library's sinf is not glibc's, so the kernel is the reference there.
bool vectorSineInUse() noexcept;

}  // namespace quorvel::audio::detail

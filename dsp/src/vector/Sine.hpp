#pragma once

#include <cstddef>

#include "ScalarSine.hpp"

// The oscillators' sine, a block at a time: the same bits as
// referenceSine(float), computed several lanes at once.
namespace quorvel::audio::detail {

// out[i] = referenceSine(angles[i]) for i < count, bit for bit, for any
// float angle in radians; `out` may be `angles` itself.
void sineBlock(const float* angles, float* out, std::size_t count) noexcept;

// True when sineBlock runs the vector kernel. With glibc, false when the
// kernel did not reproduce the library's sinf on the check points of its
// domain at first use, and every value takes referenceSine instead. With any
// other C library always true: its sinf is not glibc's, nothing to check.
bool vectorSineInUse() noexcept;

// The vector kernel covers angles in [0, this); the rest, lane by lane,
// take referenceSine.
constexpr float kVectorSineEnd = 32.0f;

}  // namespace quorvel::audio::detail

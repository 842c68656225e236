#pragma once

#include <cstddef>

// The delay line's interpolated read for a block of positions, on the best
// instruction set the CPU has (vector/Interpolate.cpp).
namespace quorvel::audio::kernels {

// out[k] = detail::interpolateAt(samples, size, positions[k]) for k in
// [0, count), bit for bit; `out` may be `positions` but must not overlap `samples`.
void interpolateLine(const float* samples, int size, const float* positions, float* out,
                     std::size_t count) noexcept;

}  // namespace quorvel::audio::kernels

#pragma once

// The swept delays of a chunk and one swept delay line through it, on the
// best instruction set the CPU has (vector/SweepLoops.cpp).
namespace quorvel::audio::kernels {

// What a line does with each frame: kSweepWriteFirst stores the input before
// the read (otherwise after it); kSweepFeedback adds feedback x delayed to
// what a read-first line stores; kSweepDry outputs input + mix x delayed
// (otherwise the delayed sample).
constexpr unsigned int kSweepWriteFirst = 1;
constexpr unsigned int kSweepFeedback = 2;
constexpr unsigned int kSweepDry = 4;

// The design's constants for the line.
struct SweptLineGains {
  // Fixed part of the delay, in samples.
  float fixedDelay;
  // Share of the delayed sample in the output.
  float mix;
  // Share of the delayed sample stored back into the line.
  float feedback;
};

// The largest swept delay in samples that sweptLine() takes for a chunk of
// `count` frames on a ring of `size` samples: no read reaches round to the
// chunk's own writes from ahead, and every unreduced position lies in
// [0, 2 x size), where one conditional subtraction reduces it.
inline float sweptLineLimit(int size, float fixedDelay, unsigned int count) noexcept {
  return static_cast<float>(size) - fixedDelay - static_cast<float>(count) - 4.0f;
}

// Replaces each of the `count` oscillator values in `row` by its swept delay
// in samples, (v x width) x rate in float, 0 where that is not finite, and
// returns whether every delay lies in [0, limit] (see sweptLineLimit).
bool sweptDelays(float* row, unsigned int count, float width, float rate, float limit) noexcept;

// Runs `count` frames of a ring of `size` samples from write index `write`
// (advanced past the chunk), frame f reading at swept delay sweeps[f] plus
// the fixed delay behind its write index, exactly as the frame-by-frame loop
// does. Every sweeps[f] must lie in [0, sweptLineLimit(size, fixedDelay,
// count)]. `out` may be `in`.
void sweptLine(float* samples, int size, int& write, const float* sweeps,
               const SweptLineGains& gains, const float* in, float* out, unsigned int count,
               unsigned int mode) noexcept;

}  // namespace quorvel::audio::kernels

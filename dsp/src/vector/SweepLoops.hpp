#pragma once

// One swept delay line through a chunk of frames, on the best instruction
// set the CPU has (vector/SweepLoops.cpp).
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

// Runs `count` frames of a ring of `size` samples from write index `write`
// (advanced past the chunk), frame f reading at swept delay sweeps[f] plus
// the fixed delay behind its write index, exactly as the frame-by-frame loop
// does, and returns true. Runs nothing and returns false unless every
// sweeps[f] lies in [0, size - fixedDelay - count - 4], where no read
// reaches round to the chunk's own writes from ahead. `out` may be `in`.
bool sweptLine(float* samples, int size, int& write, const float* sweeps,
               const SweptLineGains& gains, const float* in, float* out, unsigned int count,
               unsigned int mode) noexcept;

}  // namespace quorvel::audio::kernels

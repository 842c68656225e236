#pragma once

// The echo loops of Delay and PingPongDelay, on the best instruction set the
// CPU has (vector/EchoLoop.cpp).
namespace quorvel::audio::kernels {

// One block's gains, linear.
struct EchoGains {
  float dry;
  float wet;
  float feedback;
};

// One channel of Delay through `frames` frames of a ring of `size` samples,
// read and write indices in [0, size) advancing together: per frame
// y = line[read]; line[write] = lineSample(y x feedback + x);
// out = dry x x + wet x y. `out` may be `in`.
void echoLine(float* samples, int size, int& read, int& write, const float* in, float* out,
              unsigned int frames, const EchoGains& gains) noexcept;

// The two cross-fed lines of PingPongDelay through `frames` frames from
// `index` (below `length`, the ring length) on; returns the index after
// them. Per frame the left channel first: out = wet x own + dry x in, then
// own = lineSample(feedback x other + in), so the right line takes the left
// sample of the same frame. A null `inRight` runs the left channel alone
// (the right line is left as it is). Outputs may be their inputs.
unsigned int crossFedLines(float* left, float* right, unsigned int index, unsigned int length,
                           const float* inLeft, const float* inRight, float* outLeft,
                           float* outRight, unsigned int frames, const EchoGains& gains) noexcept;

}  // namespace quorvel::audio::kernels

#pragma once

#include <vector>

namespace quorvelfx {

// The built-in stereo test signal of `quorvel-fx demo`, six seconds: four
// plucked notes panned left and right, four clicks (both channels, left only,
// right only, both), an exponential sine sweep from 40 Hz to 16 kHz, and
// 0.8 s of silence.
namespace DemoSignal {

// Interleaved stereo samples at `sampleRate` Hz (at least 33 kHz), peak below 0.9.
std::vector<float> synthesize(unsigned int sampleRate);
// A single full-scale click at frame 0 of the left channel, then
// `frames` - 1 frames of silence; interleaved stereo.
std::vector<float> impulse(unsigned int frames);
// Length of synthesize()'s signal in seconds.
double durationSeconds();

}  // namespace DemoSignal

}  // namespace quorvelfx

#pragma once

// Blocks, signals and counters shared by the node benchmarks.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>

#include "quorvel/AudioBuffer.hpp"
#include "quorvel/AudioBus.hpp"
#include "quorvel/QVAnyMap.hpp"
#include "quorvel/nodes/ChorusNode.hpp"
#include "quorvel/nodes/DelayNode.hpp"
#include "quorvel/nodes/FlangerNode.hpp"
#include "quorvel/nodes/PingPongDelayNode.hpp"
#include "quorvel/nodes/VibratoNode.hpp"

namespace bench {

using quorvel::AudioBuffer;
using quorvel::AudioBus;
using namespace quorvel::extensions::audioeffects;

inline constexpr unsigned int kRate = 48000;
inline constexpr unsigned int kChannels = 2;

// Fills `buffer` with full-scale white noise (a fixed sequence).
inline void fillNoise(AudioBuffer<float>& buffer, std::uint32_t seed = 1u) {
  std::uint32_t state = seed;
  for (unsigned int c = 0; c < buffer.getNumberOfChannels(); ++c) {
    float* samples = buffer.getChannel(c);
    for (unsigned int f = 0; f < buffer.getNumberOfFrames(); ++f) {
      state = state * 1664525u + 1013904223u;
      samples[f] = static_cast<float>(state >> 8) / 8388608.0f - 1.0f;
    }
  }
}

// Each node type as the factory builds it: two channels, defaults.
template <typename Node>
std::unique_ptr<Node> makeNode() {
  if constexpr (std::is_same_v<Node, PingPongDelayNode>) {
    return std::make_unique<Node>(quorvel::QVAnyMap{});
  } else {
    return std::make_unique<Node>(kChannels);
  }
}

// Reports ns per sample (per channel) and speed as a multiple of real time,
// for `frames` stereo frames at 48 kHz per iteration.
inline void setCounters(benchmark::State& state, double frames) {
  state.counters["ns_per_sample"] =
      benchmark::Counter(frames * kChannels * 1e-9, benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
  state.counters["x_realtime"] =
      benchmark::Counter(frames / kRate, benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace bench

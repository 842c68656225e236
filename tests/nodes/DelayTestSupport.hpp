#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "quorvel/AudioBuffer.hpp"
#include "quorvel/AudioBus.hpp"

// Helpers shared by the delay and ping-pong delay tests: signals held as one
// vector per channel, rendered through a node in blocks of a chosen size.
namespace delaytest {

using Signal = std::vector<std::vector<float>>;

inline Signal silence(unsigned int channels, unsigned int frames) {
  return Signal(channels, std::vector<float>(frames, 0.0f));
}

// `value` at frame 0 of `channel`, zero everywhere else.
inline Signal impulse(unsigned int channels, unsigned int frames, unsigned int channel,
                      float value = 1.0f) {
  Signal s = silence(channels, frames);
  s[channel][0] = value;
  return s;
}

inline Signal constant(unsigned int channels, unsigned int frames, float value) {
  return Signal(channels, std::vector<float>(frames, value));
}

// Reproducible noise in [-1, 1).
inline Signal noise(unsigned int channels, unsigned int frames, std::uint32_t seed) {
  Signal s = silence(channels, frames);
  for (auto& channel : s) {
    for (float& sample : channel) {
      seed = seed * 1664525u + 1013904223u;
      sample = static_cast<float>(seed >> 8) / 8388608.0f - 1.0f;
    }
  }
  return s;
}

inline std::uint32_t bits(float value) {
  std::uint32_t b;
  std::memcpy(&b, &value, sizeof b);
  return b;
}

// True when both signals have the same shape and identical bit patterns.
inline bool sameBits(const Signal& a, const Signal& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t c = 0; c < a.size(); ++c) {
    if (a[c].size() != b[c].size()) return false;
    for (std::size_t f = 0; f < a[c].size(); ++f) {
      if (bits(a[c][f]) != bits(b[c][f])) return false;
    }
  }
  return true;
}

// Runs `input` through `node` at `sampleRate` in blocks of at most `blockSize`
// frames (one block when the signal has no frames) and returns the output.
template <typename Node>
Signal render(Node& node, const Signal& input, unsigned int sampleRate,
              unsigned int blockSize = 512) {
  const auto channels = static_cast<unsigned int>(input.size());
  const auto frames = channels == 0 ? 0u : static_cast<unsigned int>(input[0].size());
  Signal output = silence(channels, frames);
  unsigned int start = 0;
  do {
    const unsigned int n = frames - start < blockSize ? frames - start : blockSize;
    // Storage for at least one frame, so that an empty block still has real
    // channel arrays: the host's copyFrom hands them to memmove even when
    // there is nothing to copy.
    quorvel::AudioBuffer<float> in(channels, n == 0 ? 1 : n, sampleRate);
    quorvel::AudioBuffer<float> out(channels, n == 0 ? 1 : n, sampleRate);
    in.setNumberOfFrames(n);
    out.setNumberOfFrames(n);
    for (unsigned int c = 0; c < channels; ++c) {
      for (unsigned int f = 0; f < n; ++f) in.setSample(c, f, input[c][start + f]);
    }
    quorvel::AudioBus inBus(in);
    quorvel::AudioBus outBus(out);
    node.process(inBus, outBus);
    for (unsigned int c = 0; c < channels; ++c) {
      for (unsigned int f = 0; f < n; ++f) output[c][start + f] = out.getSample(c, f);
    }
    start += n;
  } while (start < frames);
  return output;
}

// The frames of `channel` that are not exactly zero, apart from `expected`.
inline std::vector<unsigned int> unexpectedNonZero(const std::vector<float>& channel,
                                                   const std::vector<unsigned int>& expected) {
  std::vector<unsigned int> stray;
  std::size_t next = 0;
  for (unsigned int f = 0; f < channel.size(); ++f) {
    if (next < expected.size() && expected[next] == f) {
      ++next;
      continue;
    }
    if (channel[f] != 0.0f) stray.push_back(f);
  }
  return stray;
}

}  // namespace delaytest

#pragma once

// Signals, block runners and behaviour checks shared by the tests of the
// swept-delay nodes (chorus, flanger, vibrato). Every check builds its nodes
// directly with the node's (unsigned int channels) constructor.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "quorvel/AudioBuffer.hpp"
#include "quorvel/AudioBus.hpp"
#include "quorvel/AudioBusFormat.hpp"
#include "quorvel/NodeTypeInfo.hpp"
#include "quorvel/audio/CircularBuffer.hpp"
#include "quorvel/audio/LFO.hpp"

namespace modtest {

// One vector of samples per channel, all of the same length.
using Signal = std::vector<std::vector<float>>;

inline Signal silence(unsigned int channels, unsigned int frames) {
  return Signal(channels, std::vector<float>(frames, 0.0f));
}

// Deterministic noise in [-1, 1), different on every channel.
inline Signal noise(unsigned int channels, unsigned int frames) {
  Signal s = silence(channels, frames);
  std::uint32_t state = 12345u;
  for (auto& channel : s) {
    for (float& x : channel) {
      state = state * 1664525u + 1013904223u;
      x = static_cast<float>(state >> 8) / 8388608.0f - 1.0f;
    }
  }
  return s;
}

// Frames [begin, end) of every channel.
inline Signal slice(const Signal& s, unsigned int begin, unsigned int end) {
  Signal out;
  for (const auto& channel : s) out.emplace_back(channel.begin() + begin, channel.begin() + end);
  return out;
}

// Frames at which `x` is not zero.
inline std::vector<unsigned int> nonZeroFrames(const std::vector<float>& x) {
  std::vector<unsigned int> frames;
  for (unsigned int i = 0; i < x.size(); ++i) {
    if (x[i] != 0.0f) frames.push_back(i);
  }
  return frames;
}

// Bit patterns, so that equality is exact (it tells -0 from 0, and NaN from anything).
inline std::vector<std::uint32_t> bits(const std::vector<float>& x) {
  std::vector<std::uint32_t> out(x.size());
  if (!x.empty()) std::memcpy(out.data(), x.data(), x.size() * sizeof(float));
  return out;
}

inline void expectSameBits(const Signal& actual, const Signal& expected, const std::string& what) {
  ASSERT_EQ(actual.size(), expected.size()) << what;
  for (std::size_t c = 0; c < actual.size(); ++c) {
    EXPECT_EQ(bits(actual[c]), bits(expected[c])) << what << ", channel " << c;
  }
}

// Runs `node` over `in` at `sampleRate` Hz in blocks of `blockSize` frames.
template <class Node>
Signal render(Node& node, const Signal& in, unsigned int sampleRate,
              unsigned int blockSize = 4096) {
  const auto channels = static_cast<unsigned int>(in.size());
  const auto frames = channels == 0 ? 0u : static_cast<unsigned int>(in[0].size());
  Signal out = silence(channels, frames);
  for (unsigned int start = 0; start < frames; start += blockSize) {
    const unsigned int n = std::min(blockSize, frames - start);
    quorvel::AudioBuffer<float> inBuffer(channels, n, sampleRate);
    quorvel::AudioBuffer<float> outBuffer(channels, n, sampleRate);
    for (unsigned int c = 0; c < channels; ++c) {
      std::copy_n(in[c].begin() + start, n, inBuffer.getChannel(c));
    }
    quorvel::AudioBus inBus(inBuffer);
    quorvel::AudioBus outBus(outBuffer);
    EXPECT_TRUE(node.process(inBus, outBus));
    for (unsigned int c = 0; c < channels; ++c) {
      std::copy_n(outBuffer.getChannel(c), n, out[c].begin() + start);
    }
  }
  return out;
}

// Processes one silent block of any shape, including no channels or no frames.
template <class Node>
void processSilence(Node& node, unsigned int channels, unsigned int frames,
                    unsigned int sampleRate) {
  quorvel::AudioBuffer<float> in(channels, frames, sampleRate);
  quorvel::AudioBuffer<float> out(channels, frames, sampleRate);
  quorvel::AudioBus inBus(in);
  quorvel::AudioBus outBus(out);
  EXPECT_TRUE(node.process(inBus, outBus));
}

template <class Node>
void expectDescriptor(const std::string& subtype, const std::string& description) {
  const quorvel::NodeTypeInfo info = Node::getNodeTypeInfo();
  EXPECT_EQ(info.getFQTypeName(), "AudioEffects." + subtype);
  EXPECT_EQ(info.displayName, subtype);
  EXPECT_EQ(info.description, description);
  EXPECT_EQ(info.categories, (std::vector<std::string>{"Audio Processing", "Effects"}));
  EXPECT_EQ(
      info.configuration.size() + info.properties.size() + info.actions.size() + info.events.size(),
      0u);
}

template <class Node>
void expectAtMostStereoFormats() {
  Node node(2);
  for (unsigned int channels : {0u, 1u, 2u}) {
    quorvel::AudioBusFormat in(48000, channels, 256), out(48000, channels, 256);
    EXPECT_TRUE(node.setBusFormat(in, out)) << channels;
  }
  quorvel::AudioBusFormat three(48000, 3, 256), threeOut(48000, 3, 256);
  EXPECT_FALSE(node.setBusFormat(three, threeOut));
  quorvel::AudioBusFormat in(48000, 2, 256), otherRate(44100, 2, 256);
  EXPECT_FALSE(node.setBusFormat(in, otherRate));
}

// The same signal in blocks of any size gives the same output, bit for bit.
template <class Node>
void expectBlockSizeIndependence(unsigned int sampleRate) {
  const Signal in = noise(2, 6000);
  Node reference(2);
  const Signal expected = render(reference, in, sampleRate, 6000);
  for (unsigned int blockSize : {1u, 7u, 64u, 256u, 4096u}) {
    Node node(2);
    expectSameBits(render(node, in, sampleRate, blockSize), expected,
                   "block size " + std::to_string(blockSize));
  }
}

// Disabled blocks pass the input through and freeze all state: the blocks
// after re-enabling sound as if the disabled stretch had never happened.
template <class Node>
void expectDisabledBlocksFreezeState() {
  const Signal in = noise(2, 3000);
  const Signal before = slice(in, 0, 1000), during = slice(in, 1000, 1500),
               after = slice(in, 1500, 3000);
  Node paused(2), uninterrupted(2);
  render(paused, before, 48000);
  render(uninterrupted, before, 48000);
  paused.setIsEnabled(false);
  EXPECT_FALSE(paused.getIsEnabled());
  expectSameBits(render(paused, during, 48000), during, "disabled block");
  paused.setIsEnabled(true);
  expectSameBits(render(paused, after, 48000), render(uninterrupted, after, 48000),
                 "after re-enabling");
}

// A block of the given shape, processed first, leaves no trace on what follows.
template <class Node>
void expectBlockLeavesNoTrace(unsigned int channels, unsigned int frames) {
  const Signal in = noise(2, 3000);
  Node probed(2), fresh(2);
  processSilence(probed, channels, frames, 48000);
  expectSameBits(render(probed, in, 48000), render(fresh, in, 48000),
                 std::to_string(channels) + "x" + std::to_string(frames) + " block");
}

// A change of sample rate or channel count, even in a block without frames,
// clears the delay lines: nothing from before it reaches the output.
template <class Node>
void expectFormatChangeClearsLines() {
  const Signal in = noise(2, 500);
  {
    Node control(2);
    render(control, in, 48000);
    EXPECT_FALSE(nonZeroFrames(render(control, silence(2, 3000), 48000)[0]).empty());
  }
  for (unsigned int newRate : {44100u, 96000u}) {
    Node node(2);
    render(node, in, 48000);
    EXPECT_TRUE(nonZeroFrames(render(node, silence(2, 3000), newRate)[0]).empty()) << newRate;
  }
  Node zeroFrames(2);
  render(zeroFrames, in, 48000);
  processSilence(zeroFrames, 2, 0, 44100);
  EXPECT_TRUE(nonZeroFrames(render(zeroFrames, silence(2, 3000), 44100)[0]).empty());
  Node toMono(2);
  render(toMono, in, 48000);
  EXPECT_TRUE(nonZeroFrames(render(toMono, silence(1, 3000), 48000)[0]).empty());
}

// A sweep width whose swept delay is not finite (NaN, infinite, or a product
// that overflows) leaves only the fixed delay, exactly as a width of 0 does;
// so does an infinite width on a block whose sample rate is 0.
template <class Node>
void expectNonFiniteSweepKeepsFixedDelay() {
  const Signal in = noise(2, 3000);
  constexpr float inf = std::numeric_limits<float>::infinity();
  for (float width : {std::numeric_limits<float>::quiet_NaN(), inf, -inf, 3.0e38f}) {
    Node node(2), fixed(2);
    node.setSweepWidth(width);
    fixed.setSweepWidth(0.0f);
    expectSameBits(render(node, in, 48000), render(fixed, in, 48000), std::to_string(width));
    expectSameBits(render(node, in, 0), render(fixed, in, 0), std::to_string(width) + " at 0 Hz");
  }
}

// A node built for fewer channels than the block runs the channels it has and
// passes the others through; an output smaller than the input is written
// only within its own frames and channels.
template <class Node>
void expectBlockShapeMismatchStaysInBounds() {
  const Signal in = noise(2, 64);
  Node mono(1), monoReference(1), none(0);
  const Signal out = render(mono, in, 48000);
  EXPECT_EQ(bits(out[0]), bits(render(monoReference, Signal{in[0]}, 48000)[0]));
  EXPECT_EQ(bits(out[1]), bits(in[1]));
  expectSameBits(render(none, in, 48000), in, "node without channels");

  Node stereo(2), stereoReference(2);
  quorvel::AudioBuffer<float> inBuffer(2, 64, 48000);
  for (unsigned int c = 0; c < 2; ++c) std::copy_n(in[c].begin(), 64, inBuffer.getChannel(c));
  std::vector<float> storage(64, 7.0f);  // room beyond the 32 frames the output declares
  float* channels[] = {storage.data()};
  quorvel::AudioBuffer<float> outBuffer(channels, 1, 32, 48000);
  quorvel::AudioBus inBus(inBuffer), outBus(outBuffer);
  EXPECT_TRUE(stereo.process(inBus, outBus));
  const std::vector<float> written(storage.begin(), storage.begin() + 32);
  EXPECT_EQ(bits(written), bits(render(stereoReference, slice(in, 0, 32), 48000)[0]));
  EXPECT_EQ(std::vector<float>(storage.begin() + 32, storage.end()), std::vector<float>(32, 7.0f));
}

// A mono node at `sampleRate` with the sweep frozen at its centre and a sweep
// width of 1 s, fed an impulse at frame 0; for the rates the tests pick, the
// total delay is exactly one line length, where the order of the line's write
// and read decides whether the impulse comes back at once or a line later.
template <class Node>
std::vector<float> lineLengthImpulseResponse(unsigned int sampleRate) {
  Node node(1);
  node.setFrequency(0.0f);
  node.setSweepWidth(1.0f);
  Signal in = silence(1, 48001);
  in[0][0] = 1.0f;
  return render(node, in, sampleRate)[0];
}

// How a swept-delay node treats each sample, for the model below.
struct SweptVoice {
  float fixedDelay;       // samples of delay beyond the swept part
  bool writeFirst;        // the input is stored before the line is read
  bool sharedOscillator;  // one oscillator, stepped once per frame, for all channels
  float dryGain;          // gain of the input in the output (0 or 1)
  float mix;              // gain of the delayed signal in the output
  float feedback;         // gain of the delayed signal stored back with the input
};

// A sweeping stereo node matches, bit for bit, a plain model of its per-sample
// arithmetic built from the primitives: d = (v * width) * rate and
// p = fmod(((w - d) - fixed) + length, length), each step in float in this order.
template <class Node>
void expectSweptArithmetic(const SweptVoice& voice, float frequency, float width) {
  constexpr unsigned int kRate = 44100;
  const Signal in = noise(2, 4000);
  Node node(2);
  node.setFrequency(frequency);
  node.setSweepWidth(width);
  const Signal out = render(node, in, kRate, 300);

  std::vector<std::unique_ptr<quorvel::audio::LFO>> lfos;
  std::vector<quorvel::audio::CircularBuffer> lines;
  for (unsigned int c = 0; c < 2; ++c) {
    lfos.push_back(std::make_unique<quorvel::audio::LFO>());
    lfos[c]->setFrequency(frequency);
    lfos[c]->setAmplitude(0.5f);
    lfos[c]->setOffset(0.5f);
    if (!voice.sharedOscillator)
      lfos[c]->setPhaseOffset(static_cast<float>(c * 1.5707963267948966));
    lines.emplace_back(48000);
  }
  for (unsigned int f = 0; f < 4000; ++f) {
    float v = voice.sharedOscillator ? lfos[0]->process(kRate) : 0.0f;
    for (unsigned int c = 0; c < 2; ++c) {
      if (!voice.sharedOscillator) v = lfos[c]->process(kRate);
      const float d = (v * width) * static_cast<float>(kRate);
      const float x = in[c][f];
      quorvel::audio::CircularBuffer& line = lines[c];
      if (voice.writeFirst) line.writeSample(x);
      const float p = std::fmod(
          ((static_cast<float>(line.getWritePointer()) - d) - voice.fixedDelay) + 48000.0f,
          48000.0f);
      const float y = line.interpolate(p);
      if (!voice.writeFirst) line.writeSample(x + voice.feedback * y);
      line.stepWritePointer(1);
      ASSERT_EQ(out[c][f], voice.dryGain * x + voice.mix * y) << "channel " << c << " frame " << f;
    }
  }
}

// One thread keeps changing the parameters while another processes blocks.
template <class Node>
void expectConcurrentControlIsSafe() {
  Node node(2);
  std::atomic<bool> done{false};
  std::atomic<unsigned int> changes{0};
  std::thread control([&] {
    const float widths[] = {0.0f, 0.002f, 0.02f, std::numeric_limits<float>::infinity()};
    const float frequencies[] = {0.0f, 0.5f, 3.0f, 12.0f};
    for (unsigned int i = 0; !done.load(); ++i) {
      node.setSweepWidth(widths[i % 4]);
      node.setFrequency(frequencies[(i / 3) % 4]);
      node.setIsEnabled(i % 5 != 0);
      EXPECT_TRUE(std::isfinite(node.getFrequency()));
      (void)node.getSweepWidth();
      (void)node.getIsEnabled();
      changes.fetch_add(1);
    }
  });
  const Signal in = noise(2, 256);
  bool allFinite = true;
  for (int block = 0; block < 300 || changes.load() < 100; ++block) {
    for (const auto& channel : render(node, in, 48000, 256)) {
      allFinite = allFinite && std::all_of(channel.begin(), channel.end(),
                                           [](float x) { return std::isfinite(x); });
    }
  }
  done.store(true);
  control.join();
  EXPECT_TRUE(allFinite);
}

}  // namespace modtest

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "DelayTestSupport.hpp"
#include "quorvel/SchemaVocabulary.hpp"
#include "quorvel/nodes/DelayNode.hpp"

using namespace delaytest;
using quorvel::AudioBuffer;
using quorvel::AudioBus;
using quorvel::AudioBusFormat;
using quorvel::extensions::audioeffects::DelayNode;

namespace {

// Only the delayed signal, without feedback: the output is the input shifted
// by the delay in samples.
void makePureDelay(DelayNode& node, unsigned int delayMs) {
  node.setDryMix(0.0f);
  node.setWetMix(1.0f);
  node.setFeedbackLevel(0.0f);
  node.setDelayMs(delayMs);
}

// The delay in samples that a pure delay applies to an impulse.
unsigned int measuredDelay(DelayNode& node, unsigned int sampleRate, unsigned int frames) {
  const Signal out = render(node, impulse(1, frames, 0), sampleRate, 4096);
  for (unsigned int f = 0; f < frames; ++f) {
    if (out[0][f] != 0.0f) return f;
  }
  return 0;
}

}  // namespace

TEST(DelayNodeTest, DescriptorDefaultsAndFormats) {
  const quorvel::NodeTypeInfo info = DelayNode::getNodeTypeInfo();
  EXPECT_EQ(info.getFQTypeName(), "AudioEffects.Delay");
  EXPECT_EQ(info.displayName, "Delay");
  EXPECT_EQ(info.description, "Applies a delay effect to the input audio signal.");
  EXPECT_EQ(info.categories, (std::vector<std::string>{"Audio Processing", "Effects"}));
  EXPECT_TRUE(info.configuration.empty() && info.properties.empty() && info.actions.empty() &&
              info.events.empty());

  DelayNode node(2);
  EXPECT_TRUE(node.getPropertyNames().empty());
  EXPECT_TRUE(node.getIsEnabled());
  EXPECT_EQ(bits(node.getDryMix()), bits(0.7f));
  EXPECT_EQ(bits(node.getWetMix()), bits(0.3f));
  EXPECT_EQ(node.getDelayMs(), 200u);
  EXPECT_EQ(bits(node.getFeedbackLevel()), bits(0.2f));
  node.setFeedbackLevel(1.5f);
  EXPECT_EQ(node.getFeedbackLevel(), 1.5f);

  AudioBusFormat mono(48000, 1, 256), stereo(48000, 2, 256), three(48000, 3, 256);
  AudioBusFormat stereoOther(44100, 2, 256);
  EXPECT_TRUE(node.setBusFormat(mono, mono));
  EXPECT_TRUE(node.setBusFormat(stereo, stereo));
  EXPECT_FALSE(node.setBusFormat(three, three));
  EXPECT_FALSE(node.setBusFormat(stereo, stereoOther));
}

TEST(DelayNodeTest, ImpulseResponseOnEitherChannel) {
  for (unsigned int channel = 0; channel < 2; ++channel) {
    DelayNode node(2);
    const Signal out = render(node, impulse(2, 40000, channel), 48000);
    const std::vector<float>& own = out[channel];
    EXPECT_EQ(bits(own[0]), bits(0.7f));
    EXPECT_EQ(bits(own[9600]), bits(0.3f));
    EXPECT_EQ(bits(own[19200]), bits(0.3f * 0.2f));
    EXPECT_EQ(bits(own[28800]), bits(0.3f * (0.2f * 0.2f)));
    EXPECT_EQ(bits(own[38400]), bits(0.3f * (0.2f * 0.2f * 0.2f)));
    EXPECT_FLOAT_EQ(own[28800], 0.012f);
    EXPECT_TRUE(unexpectedNonZero(own, {0, 9600, 19200, 28800, 38400}).empty());
    EXPECT_TRUE(unexpectedNonZero(out[1 - channel], {}).empty());
  }
}

TEST(DelayNodeTest, ConstantInputSettlesAtSteadyState) {
  DelayNode node(2);
  const Signal out = render(node, constant(2, 120000, 1.0f), 48000, 4096);
  // Line: 1 / (1 - 0.2) = 1.25; output: 0.7 + 0.3 x 1.25.
  EXPECT_NEAR(out[0].back(), 1.075f, 1e-6f);
  EXPECT_NEAR(out[1].back(), 1.075f, 1e-6f);
}

TEST(DelayNodeTest, DelayInSamplesFollowsRateAndTime) {
  struct Case {
    unsigned int sampleRate, delayMs, samples;
  };
  // 1000 ms at 48 kHz is the full line; above it the delay is held there, and
  // below one sample it is one sample.
  const Case cases[] = {{44100, 200, 8820},   {48000, 1, 48},       {48000, 1000, 48000},
                        {48000, 2000, 48000}, {96000, 1000, 48000}, {999, 1, 1},
                        {500, 1, 1}};
  for (const Case& c : cases) {
    DelayNode node(1);
    makePureDelay(node, c.delayMs);
    EXPECT_EQ(measuredDelay(node, c.sampleRate, 50000), c.samples)
        << c.sampleRate << " Hz, " << c.delayMs << " ms";
  }
}

TEST(DelayNodeTest, MatchesRecurrenceBitForBitWhateverTheBlockSize) {
  const float dry = 0.55f, wet = 0.45f, fb = 0.6f;
  const unsigned int frames = 30000, d = 9600;
  const Signal in = noise(2, frames, 7);
  // b[n] = x[n] + fb b[n - D]; out[n] = dry x[n] + wet b[n - D].
  Signal expected = silence(2, frames), line = silence(2, frames);
  for (unsigned int c = 0; c < 2; ++c) {
    for (unsigned int n = 0; n < frames; ++n) {
      const float y = n >= d ? line[c][n - d] : 0.0f;
      line[c][n] = y * fb + in[c][n];
      expected[c][n] = dry * in[c][n] + wet * y;
    }
  }
  for (unsigned int blockSize : {1u, 7u, 64u, 256u, 4096u}) {
    DelayNode node(2);
    node.setDryMix(dry);
    node.setWetMix(wet);
    node.setFeedbackLevel(fb);
    EXPECT_TRUE(sameBits(render(node, in, 48000, blockSize), expected)) << blockSize;
  }
}

TEST(DelayNodeTest, BypassCopiesInputAndFreezesState) {
  const Signal in = noise(2, 3000, 3);
  DelayNode disabled(2), zeroDelay(2);
  disabled.setIsEnabled(false);
  zeroDelay.setDelayMs(0);
  EXPECT_TRUE(sameBits(render(disabled, in, 48000), in));
  EXPECT_TRUE(sameBits(render(zeroDelay, in, 48000), in));

  // An impulse, then a bypassed stretch: the echo comes 9600 running frames
  // later, as if the bypassed frames had never been there, and nothing of the
  // bypassed signal is stored.
  DelayNode node(1);
  makePureDelay(node, 200);
  render(node, impulse(1, 100, 0), 48000);
  node.setIsEnabled(false);
  render(node, noise(1, 5000, 5), 44100);
  node.setIsEnabled(true);
  const Signal out = render(node, silence(1, 20000), 48000);
  EXPECT_EQ(out[0][9500], 1.0f);
  EXPECT_TRUE(unexpectedNonZero(out[0], {9500}).empty());
}

TEST(DelayNodeTest, DelayChangeMovesReadPointersWithoutClearing) {
  DelayNode node(2);
  render(node, impulse(2, 1000, 0), 48000);
  node.setDelayMs(100);
  const Signal out = render(node, silence(2, 10000), 48000);
  // The impulse, 1000 frames old, comes out when it is 4800 frames old.
  EXPECT_EQ(bits(out[0][3800]), bits(0.3f));
  EXPECT_EQ(bits(out[0][8600]), bits(0.3f * 0.2f));
  EXPECT_TRUE(unexpectedNonZero(out[0], {3800, 8600}).empty());
}

TEST(DelayNodeTest, SampleRateChangeClearsLines) {
  DelayNode node(2);
  render(node, impulse(2, 1000, 0), 48000);
  EXPECT_TRUE(unexpectedNonZero(render(node, silence(2, 60000), 44100)[0], {}).empty());

  // Recorded even by a block without frames: the next block at that rate
  // finds the lines already cleared.
  DelayNode other(2);
  render(other, impulse(2, 1000, 0), 48000);
  render(other, silence(2, 0), 44100);
  EXPECT_TRUE(unexpectedNonZero(render(other, silence(2, 60000), 44100)[0], {}).empty());
}

TEST(DelayNodeTest, ChannelCountChangeKeepsTheSetDelay) {
  DelayNode node(2);
  makePureDelay(node, 200);
  render(node, noise(2, 500, 9), 48000);
  // The change to mono clears the lines and places the read pointers again.
  const Signal out = render(node, impulse(1, 20000, 0), 48000);
  EXPECT_EQ(out[0][9600], 1.0f);
  EXPECT_TRUE(unexpectedNonZero(out[0], {9600}).empty());
}

TEST(DelayNodeTest, ChannelsWithoutLinesKeepTheCopiedInput) {
  const Signal in = noise(3, 20000, 11);
  DelayNode stereo(2), wide(2), none(0);
  const Signal reference = render(stereo, Signal(in.begin(), in.begin() + 2), 48000);
  const Signal out = render(wide, in, 48000);
  EXPECT_TRUE(sameBits(Signal(out.begin(), out.begin() + 2), reference));
  EXPECT_TRUE(sameBits({out[2]}, {in[2]}));
  EXPECT_TRUE(sameBits(render(none, in, 48000), in));
}

TEST(DelayNodeTest, SmallerOutputIsNeverWrittenOutside) {
  const float sentinel = 1234.5f;
  AudioBuffer<float> in(2, 64, 48000);
  for (unsigned int f = 0; f < 64; ++f) in.setSample(0, f, 1.0f), in.setSample(1, f, 1.0f);
  std::vector<float> storage(64, sentinel);
  float* channels[] = {storage.data()};
  AudioBuffer<float> out(channels, 1, 32, 48000);
  AudioBus inBus(in), outBus(out);
  DelayNode node(2);
  EXPECT_TRUE(node.process(inBus, outBus));
  for (unsigned int f = 0; f < 32; ++f) EXPECT_EQ(storage[f], 0.7f) << f;
  for (unsigned int f = 32; f < 64; ++f) EXPECT_EQ(storage[f], sentinel) << f;
}

TEST(DelayNodeTest, ParametersMayChangeWhileProcessing) {
  DelayNode node(2);
  std::atomic<bool> done{false};
  std::atomic<unsigned int> changes{0};
  std::thread control([&] {
    const unsigned int delays[] = {0, 1, 200, 1000, 5000, 3};
    for (unsigned int i = 0; !done.load(); ++i) {
      node.setIsEnabled(i % 7 != 0);
      node.setDelayMs(delays[i % 6]);
      node.setDryMix(static_cast<float>(i % 10) / 10.0f);
      node.setWetMix(static_cast<float>(i % 5) / 5.0f);
      node.setFeedbackLevel(static_cast<float>(i % 9) / 10.0f);
      changes.fetch_add(1);
      std::this_thread::yield();
    }
  });
  AudioBuffer<float> in(2, 128, 48000), out(2, 128, 48000);
  AudioBus inBus(in), outBus(out);
  bool finite = true;
  for (unsigned int block = 0; block < 3000 || changes.load() < 300; ++block) {
    in.setSampleRate(block / 500 % 2 ? 44100 : 48000);
    for (unsigned int f = 0; f < 128; ++f) in.setSample(block % 2, f, (f % 3) - 1.0f);
    node.process(inBus, outBus);
    for (unsigned int f = 0; f < 128; ++f) {
      finite = finite && std::isfinite(out.getSample(0, f)) && std::isfinite(out.getSample(1, f));
    }
  }
  done.store(true);
  control.join();
  EXPECT_TRUE(finite);
}

#include <gtest/gtest.h>

#include "ModulatedTestSupport.hpp"
#include "quorvel/nodes/FlangerNode.hpp"

namespace {

using quorvel::extensions::audioeffects::FlangerNode;
using namespace modtest;

constexpr float kMix = 0.8f;
constexpr float kFeedback = 0.6f;

// The delay line's interpolated read at fraction `t` between `current` and
// `next`: the first weight in double, the second product in float.
float blend(float t, float current, float next) {
  return static_cast<float>((1.0 - t) * current + static_cast<double>(t * next));
}

TEST(FlangerNode, DescriptorDefaultsAndFormats) {
  expectDescriptor<FlangerNode>("Flanger", "Applies a flanger effect to the input audio signal.");
  expectAtMostStereoFormats<FlangerNode>();
  FlangerNode node(2);
  EXPECT_TRUE(node.getIsEnabled());
  EXPECT_EQ(node.getSweepWidth(), 0.005f);
  EXPECT_EQ(node.getFrequency(), 0.4f);
  node.setFrequency(-2.0f);
  EXPECT_EQ(node.getFrequency(), -2.0f);

  FlangerNode empty(0);
  EXPECT_EQ(empty.getFrequency(), 0.0f);
  empty.setFrequency(5.0f);
  EXPECT_EQ(empty.getFrequency(), 0.0f);
}

// Stopped sweep at 48 kHz: delays of 122 and 242 samples, and every echo is
// fed back once more, 0.6 times weaker.
TEST(FlangerNode, StoppedSweepGivesAnExactEchoSeries) {
  FlangerNode node(2);
  node.setFrequency(0.0f);
  Signal in = silence(2, 4000);
  in[0][0] = in[1][0] = 1.0f;
  const Signal out = render(node, in, 48000);
  for (unsigned int c = 0; c < 2; ++c) {
    const unsigned int delay = c == 0 ? 122 : 242;
    std::vector<unsigned int> echoes{0};
    for (unsigned int f = delay; f < 4000; f += delay) echoes.push_back(f);
    EXPECT_EQ(nonZeroFrames(out[c]), echoes) << c;
    EXPECT_EQ(out[c][0], 1.0f);
    float stored = 1.0f;  // what the line holds at the previous echo
    for (unsigned int k = 1; k < echoes.size(); ++k) {
      ASSERT_EQ(out[c][echoes[k]], kMix * stored) << c << " " << k;
      stored = kFeedback * stored;
    }
  }
}

// At 44100 Hz channel 0's delay is 112.25 samples: each pass through the line
// spreads the echo over one more frame.
TEST(FlangerNode, FractionalDelayAt44100SpreadsEachEcho) {
  FlangerNode node(1);
  node.setFrequency(0.0f);
  Signal in = silence(1, 300);
  in[0][0] = 1.0f;
  const std::vector<float> out = render(node, in, 44100)[0];
  EXPECT_EQ(nonZeroFrames(out), (std::vector<unsigned int>{0, 112, 113, 224, 225, 226}));
  const float y112 = blend(0.75f, 0.0f, 1.0f), y113 = blend(0.75f, 1.0f, 0.0f);
  EXPECT_EQ(out[112], kMix * 0.75f);
  EXPECT_EQ(out[113], kMix * 0.25f);
  const float b112 = kFeedback * y112, b113 = kFeedback * y113;
  EXPECT_EQ(out[224], kMix * blend(0.75f, 0.0f, b112));
  EXPECT_EQ(out[225], kMix * blend(0.75f, b112, b113));
  EXPECT_EQ(out[226], kMix * blend(0.75f, b113, 0.0f));
  EXPECT_NEAR(out[224], 0.27f, 1e-6f);
  EXPECT_NEAR(out[225], 0.18f, 1e-6f);
  EXPECT_NEAR(out[226], 0.03f, 1e-6f);
}

// A constant 1 settles with the line at 1 / (1 - 0.6) = 2.5 and the output at
// 1 + 0.8 * 2.5, at any rate.
TEST(FlangerNode, ConstantInputSettlesAtThree) {
  for (unsigned int rate : {48000u, 44100u}) {
    FlangerNode node(2);
    node.setFrequency(0.0f);
    Signal ones = silence(2, 20000);
    for (auto& channel : ones) std::fill(channel.begin(), channel.end(), 1.0f);
    const Signal out = render(node, ones, rate);
    for (unsigned int c = 0; c < 2; ++c) EXPECT_EQ(out[c].back(), 3.0f) << rate << " " << c;
  }
}

// With no sweep the delay is exactly 2 samples: y[n] = x[n] + 0.8 b[n - 2]
// with b[n] = x[n] + 0.6 b[n - 2] stored in the line. A new node's first two
// frames are the input, whatever the sweep.
TEST(FlangerNode, ZeroSweepIsATwoSampleCombWithFeedback) {
  const Signal in = noise(2, 3000);
  FlangerNode node(2);
  node.setSweepWidth(0.0f);
  const Signal out = render(node, in, 48000, 100);
  for (unsigned int c = 0; c < 2; ++c) {
    std::vector<float> line(in[c].size(), 0.0f);
    for (unsigned int f = 0; f < line.size(); ++f) {
      const float y = f >= 2 ? line[f - 2] : 0.0f;
      line[f] = in[c][f] + kFeedback * y;
      ASSERT_EQ(out[c][f], in[c][f] + kMix * y) << c << " " << f;
    }
  }
  FlangerNode sweeping(2);
  const Signal start = render(sweeping, slice(in, 0, 2), 44100);
  expectSameBits(start, slice(in, 0, 2), "first two frames");
}

// The line is read before the input is stored: a total delay of exactly one
// line length (2 + 0.5 * 95996 samples) brings the impulse back a line later.
TEST(FlangerNode, ReadsBeforeWriting) {
  const std::vector<float> out = lineLengthImpulseResponse<FlangerNode>(95996);
  EXPECT_EQ(nonZeroFrames(out), (std::vector<unsigned int>{0, 48000}));
  EXPECT_EQ(out[0], 1.0f);
  EXPECT_EQ(out[48000], kMix);
}

TEST(FlangerNode, SweptReadIsExactToTheBit) {
  expectSweptArithmetic<FlangerNode>({2.0f, false, false, 1.0f, kMix, kFeedback}, 3.0f, 0.005f);
}

TEST(FlangerNode, StateFollowsTheBlocksItProcesses) {
  expectBlockSizeIndependence<FlangerNode>(48000);
  expectBlockSizeIndependence<FlangerNode>(44100);
  expectDisabledBlocksFreezeState<FlangerNode>();
  expectBlockLeavesNoTrace<FlangerNode>(0, 300);
  expectBlockLeavesNoTrace<FlangerNode>(2, 0);
  expectFormatChangeClearsLines<FlangerNode>();
}

TEST(FlangerNode, OutOfRangeInputsStaySafe) {
  expectNonFiniteSweepKeepsFixedDelay<FlangerNode>();
  expectBlockShapeMismatchStaysInBounds<FlangerNode>();
}

TEST(FlangerNode, ParametersMayChangeDuringProcessing) {
  expectConcurrentControlIsSafe<FlangerNode>();
}

}  // namespace

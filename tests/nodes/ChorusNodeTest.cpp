#include <gtest/gtest.h>

#include "ModulatedTestSupport.hpp"
#include "quorvel/nodes/ChorusNode.hpp"

namespace {

using quorvel::extensions::audioeffects::ChorusNode;
using namespace modtest;

constexpr float kMix = 0.8f;

TEST(ChorusNode, DescriptorDefaultsAndFormats) {
  expectDescriptor<ChorusNode>("Chorus", "Applies a chorus effect to the input audio signal.");
  expectAtMostStereoFormats<ChorusNode>();
  ChorusNode node(2);
  EXPECT_TRUE(node.getIsEnabled());
  EXPECT_EQ(node.getSweepWidth(), 0.025f);
  EXPECT_EQ(node.getFrequency(), 0.2f);
  node.setSweepWidth(-3.5f);
  EXPECT_EQ(node.getSweepWidth(), -3.5f);

  ChorusNode empty(0);
  EXPECT_EQ(empty.getFrequency(), 0.0f);
  empty.setFrequency(5.0f);
  EXPECT_EQ(empty.getFrequency(), 0.0f);
}

// With the sweep stopped the delay is fixed: 1002 samples plus the swept part
// at the oscillator's resting value (0.5 on channel 0, 1.0 on channel 1,
// which starts a quarter cycle ahead). setFrequency must reach both channels,
// or channel 1 would drift off its integral delay.
TEST(ChorusNode, StoppedSweepGivesExactFixedDelays) {
  ChorusNode node(2);
  node.setFrequency(0.0f);
  Signal in = silence(2, 3000);
  in[0][0] = in[1][0] = 1.0f;
  const Signal out = render(node, in, 48000);
  EXPECT_EQ(nonZeroFrames(out[0]), (std::vector<unsigned int>{0, 1602}));
  EXPECT_EQ(nonZeroFrames(out[1]), (std::vector<unsigned int>{0, 2202}));
  EXPECT_EQ(out[0][0], 1.0f);
  EXPECT_EQ(out[0][1602], kMix);
  EXPECT_EQ(out[1][2202], kMix);

  ChorusNode steady(2);
  steady.setFrequency(0.0f);
  Signal ones = silence(2, 2000);
  std::fill(ones[0].begin(), ones[0].end(), 1.0f);
  const Signal level = render(steady, ones, 48000);
  for (unsigned int f = 0; f < 2000; ++f) {
    ASSERT_EQ(level[0][f], f < 1602 ? 1.0f : 1.0f + kMix * 1.0f) << f;
  }
  EXPECT_TRUE(nonZeroFrames(level[1]).empty());
}

// At 44100 Hz the swept parts are 551.25 and 1102.5 samples: the echo is split
// between two neighbouring frames by the interpolated read.
TEST(ChorusNode, FractionalDelayAt44100SplitsTheEcho) {
  ChorusNode node(2);
  node.setFrequency(0.0f);
  Signal in = silence(2, 3000);
  in[0][0] = in[1][0] = 1.0f;
  const Signal out = render(node, in, 44100);
  EXPECT_EQ(nonZeroFrames(out[0]), (std::vector<unsigned int>{0, 1553, 1554}));
  EXPECT_EQ(out[0][1553], kMix * 0.75f);
  EXPECT_EQ(out[0][1554], kMix * 0.25f);
  EXPECT_EQ(nonZeroFrames(out[1]), (std::vector<unsigned int>{0, 2104, 2105}));
  EXPECT_EQ(out[1][2104], kMix * 0.5f);
  EXPECT_EQ(out[1][2105], kMix * 0.5f);
}

// The delay is never shorter than 1002 samples, so a new node's first 1002
// frames are the dry input exactly, whatever the sweep; with no sweep at all
// every output is x[n] + mix * x[n - 1002].
TEST(ChorusNode, FixedPartOf1002Samples) {
  const Signal in = noise(2, 5000);
  for (unsigned int rate : {48000u, 44100u}) {
    for (float width : {0.025f, 0.0f}) {
      ChorusNode node(2);
      node.setSweepWidth(width);
      const Signal out = render(node, in, rate, 512);
      for (unsigned int c = 0; c < 2; ++c) {
        EXPECT_EQ(bits(slice(out, 0, 1002)[c]), bits(slice(in, 0, 1002)[c])) << rate;
        if (width != 0.0f) continue;
        for (unsigned int f = 1002; f < 5000; ++f) {
          ASSERT_EQ(out[c][f], in[c][f] + kMix * in[c][f - 1002]) << rate << " " << f;
        }
      }
    }
  }
}

// The line is read before the input is stored: a total delay of exactly one
// line length (1002 + 0.5 * 93996 samples) brings the impulse back a line later.
TEST(ChorusNode, ReadsBeforeWriting) {
  const std::vector<float> out = lineLengthImpulseResponse<ChorusNode>(93996);
  EXPECT_EQ(nonZeroFrames(out), (std::vector<unsigned int>{0, 48000}));
  EXPECT_EQ(out[0], 1.0f);
  EXPECT_EQ(out[48000], kMix);
}

TEST(ChorusNode, SweptReadIsExactToTheBit) {
  expectSweptArithmetic<ChorusNode>({1002.0f, false, false, 1.0f, kMix, 0.0f}, 3.0f, 0.025f);
}

TEST(ChorusNode, StateFollowsTheBlocksItProcesses) {
  expectBlockSizeIndependence<ChorusNode>(48000);
  expectBlockSizeIndependence<ChorusNode>(44100);
  expectDisabledBlocksFreezeState<ChorusNode>();
  expectBlockLeavesNoTrace<ChorusNode>(0, 300);
  expectBlockLeavesNoTrace<ChorusNode>(2, 0);
  expectFormatChangeClearsLines<ChorusNode>();
}

TEST(ChorusNode, OutOfRangeInputsStaySafe) {
  expectNonFiniteSweepKeepsFixedDelay<ChorusNode>();
  expectBlockShapeMismatchStaysInBounds<ChorusNode>();
}

TEST(ChorusNode, ParametersMayChangeDuringProcessing) {
  expectConcurrentControlIsSafe<ChorusNode>();
}

}  // namespace

#include <gtest/gtest.h>

#include "ModulatedTestSupport.hpp"
#include "quorvel/nodes/VibratoNode.hpp"

namespace {

using quorvel::extensions::audioeffects::VibratoNode;
using namespace modtest;

TEST(VibratoNode, DescriptorDefaultsAndFormats) {
  expectDescriptor<VibratoNode>("Vibrato", "Applies a vibrato effect to the input audio signal.");
  expectAtMostStereoFormats<VibratoNode>();
  VibratoNode node(2);
  EXPECT_TRUE(node.getIsEnabled());
  EXPECT_EQ(node.getSweepWidth(), 0.01f);
  EXPECT_EQ(node.getFrequency(), 4.0f);

  // The shared oscillator exists whatever the channel count.
  VibratoNode empty(0);
  empty.setFrequency(7.5f);
  EXPECT_EQ(empty.getFrequency(), 7.5f);
}

// With the sweep stopped at its centre (0.5) the node is a pure delay of
// 1 + 0.5 * 0.01 * rate samples on every channel, with no dry signal.
TEST(VibratoNode, StoppedSweepIsAPureDelay) {
  VibratoNode node(2);
  node.setFrequency(0.0f);
  Signal in = silence(2, 1000);
  in[0][0] = in[1][0] = 1.0f;
  const Signal out = render(node, in, 48000);
  for (unsigned int c = 0; c < 2; ++c) {
    EXPECT_EQ(nonZeroFrames(out[c]), (std::vector<unsigned int>{241})) << c;
    EXPECT_EQ(out[c][241], 1.0f);
  }

  // 221.5 samples at 44100 Hz: the impulse is split evenly over two frames.
  VibratoNode node44(2);
  node44.setFrequency(0.0f);
  const Signal out44 = render(node44, in, 44100);
  for (unsigned int c = 0; c < 2; ++c) {
    EXPECT_EQ(nonZeroFrames(out44[c]), (std::vector<unsigned int>{221, 222})) << c;
    EXPECT_EQ(out44[c][221], 0.5f);
    EXPECT_EQ(out44[c][222], 0.5f);
  }
}

// The sample is written before the read, so with no sweep the output is the
// previous input sample exactly; a new node starts with 0 whatever the sweep.
TEST(VibratoNode, ZeroSweepIsAOneSampleDelay) {
  const Signal in = noise(2, 2000);
  VibratoNode node(2);
  node.setSweepWidth(0.0f);
  const Signal out = render(node, in, 48000, 100);
  for (unsigned int c = 0; c < 2; ++c) {
    EXPECT_EQ(out[c][0], 0.0f);
    for (unsigned int f = 1; f < 2000; ++f) ASSERT_EQ(out[c][f], in[c][f - 1]) << c << " " << f;
  }
  VibratoNode sweeping(2);
  const Signal first = render(sweeping, slice(in, 0, 1), 44100);
  EXPECT_EQ(first[0][0], 0.0f);
  EXPECT_EQ(first[1][0], 0.0f);
}

// A block without channels still moves the oscillator one step per frame,
// exactly as processed frames do; a fresh node at the same point sounds different.
TEST(VibratoNode, ZeroChannelBlockAdvancesTheOscillator) {
  const Signal in = noise(2, 2000);
  VibratoNode idle(2), played(2), fresh(2);
  processSilence(idle, 0, 3000, 48000);
  render(played, noise(2, 3000), 48000);
  processSilence(played, 0, 0, 48000);  // clears its lines, as idle's were cleared
  const Signal afterIdle = render(idle, in, 48000);
  expectSameBits(afterIdle, render(played, in, 48000), "after 3000 frames");
  EXPECT_NE(bits(afterIdle[0]), bits(render(fresh, in, 48000)[0]));
}

// The input is stored before the line is read: a total delay of exactly one
// line length (1 + 0.5 * 95998 samples) reads the sample just stored.
TEST(VibratoNode, WritesBeforeReading) {
  const std::vector<float> out = lineLengthImpulseResponse<VibratoNode>(95998);
  EXPECT_EQ(nonZeroFrames(out), (std::vector<unsigned int>{0}));
  EXPECT_EQ(out[0], 1.0f);
}

TEST(VibratoNode, SweptReadIsExactToTheBit) {
  expectSweptArithmetic<VibratoNode>({1.0f, true, true, 0.0f, 1.0f, 0.0f}, 7.0f, 0.01f);
}

TEST(VibratoNode, StateFollowsTheBlocksItProcesses) {
  expectBlockSizeIndependence<VibratoNode>(48000);
  expectBlockSizeIndependence<VibratoNode>(44100);
  expectDisabledBlocksFreezeState<VibratoNode>();
  expectBlockLeavesNoTrace<VibratoNode>(2, 0);
  expectFormatChangeClearsLines<VibratoNode>();
}

TEST(VibratoNode, OutOfRangeInputsStaySafe) {
  expectNonFiniteSweepKeepsFixedDelay<VibratoNode>();
  expectBlockShapeMismatchStaysInBounds<VibratoNode>();
}

TEST(VibratoNode, ParametersMayChangeDuringProcessing) {
  expectConcurrentControlIsSafe<VibratoNode>();
}

}  // namespace

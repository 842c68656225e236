// A NaN or infinite input sample must not stay in any node's delay lines:
// once finite input resumes, the output is finite again within one line length.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <quorvel/AudioEffects.hpp>

namespace {

using quorvel::AudioBuffer;
using quorvel::AudioBus;

constexpr unsigned int kRate = 48000;
constexpr unsigned int kBlock = 512;
constexpr unsigned int kLine = 48000;

// Index of the last frame with a non-finite output sample, or -1.
long lastNonFiniteFrame(quorvel::SingleBusAudioProcessorNode& node, float poison) {
  AudioBuffer<float> in(2, kBlock, kRate), out(2, kBlock, kRate);
  AudioBus inBus(in), outBus(out);
  long last = -1;
  const unsigned int blocks = (3 * kLine) / kBlock;
  for (unsigned int b = 0; b < blocks; ++b) {
    for (unsigned int f = 0; f < kBlock; ++f) {
      const unsigned long frame = static_cast<unsigned long>(b) * kBlock + f;
      // A loud tone with a run of poisoned samples in the first block.
      const float tone = 0.9f * std::sin(0.05f * static_cast<float>(frame));
      for (unsigned int c = 0; c < 2; ++c)
        in.setSample(c, f, frame >= 3 && frame < 40 ? poison : tone);
    }
    node.process(inBus, outBus);
    for (unsigned int f = 0; f < kBlock; ++f) {
      for (unsigned int c = 0; c < 2; ++c) {
        if (!std::isfinite(out.getSample(c, f))) last = static_cast<long>(b) * kBlock + f;
      }
    }
  }
  return last;
}

TEST(NonFiniteInput, OnlyThePoisonedFramesThemselvesComeOutNonFinite) {
  // Delay lines store silence in place of a non-finite value, so no echo,
  // feedback or swept read can bring one back: output is finite from the
  // first finite input frame on, well within one line length.
  quorvel::extensions::audioeffects::AudioEffectsNodeFactory factory;
  const float poisons[] = {std::numeric_limits<float>::quiet_NaN(),
                           std::numeric_limits<float>::infinity(),
                           -std::numeric_limits<float>::infinity()};
  for (const quorvel::NodeTypeInfo& type : factory.getNodeTypes()) {
    for (float poison : poisons) {
      std::unique_ptr<quorvel::Node> node(factory.createNode(type.getFQTypeName(), {}));
      auto& audioNode = dynamic_cast<quorvel::SingleBusAudioProcessorNode&>(*node);
      EXPECT_LT(lastNonFiniteFrame(audioNode, poison), 40) << type.getFQTypeName() << " " << poison;
    }
  }
}

}  // namespace

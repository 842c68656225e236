// A host-validator style run: every node type at every common sample rate and
// at awkward block sizes, its parameters changed at random (inside their
// documented ranges) between blocks. The output must never hold NaN, an
// infinity or a subnormal value (a subnormal costs a hundred times a normal
// multiply on many CPUs and silently eats a real-time budget). Every channel
// lives in its own allocation so that the AddressSanitizer run catches a node
// touching one sample past a channel.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <quorvel/AudioEffects.hpp>
#include <random>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUORVEL_STRESS_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QUORVEL_STRESS_SANITIZED 1
#endif
#endif

namespace {

using namespace quorvel::extensions::audioeffects;
using quorvel::AudioBuffer;
using quorvel::AudioBus;
using quorvel::QVAny;

const unsigned int kSampleRates[] = {8000, 44100, 48000, 96000, 192000};
const unsigned int kBlockSizes[] = {1, 32, 1000, 4096};
// Frames per case: past four full turns of a 48000-sample line, so every read
// and write head wraps; fewer under the (much slower) sanitizers, still past one.
#ifdef QUORVEL_STRESS_SANITIZED
constexpr unsigned int kFramesPerCase = 50000;
#else
constexpr unsigned int kFramesPerCase = 200000;
#endif

// Channel storage in separate heap blocks of exactly one block's length.
struct Block {
  Block(unsigned int channels, unsigned int frames, unsigned int rate) : storage(channels) {
    for (auto& channel : storage) channel = std::make_unique<float[]>(frames);
    for (auto& channel : storage) pointers.push_back(channel.get());
    buffer = std::make_unique<AudioBuffer<float>>(pointers.data(), channels, frames, rate);
  }
  std::vector<std::unique_ptr<float[]>> storage;
  std::vector<float*> pointers;
  std::unique_ptr<AudioBuffer<float>> buffer;
};

// Randomises one parameter of `node` inside its documented range.
void changeParameter(quorvel::Node& node, std::mt19937& rng) {
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  const auto pick = [&](int count) {
    return static_cast<int>(rng() % static_cast<unsigned>(count));
  };
  const unsigned int delayMs = 1 + rng() % 1000;
  if (auto* n = dynamic_cast<DelayNode*>(&node)) {
    switch (pick(5)) {
      case 0: n->setDryMix(unit(rng)); break;
      case 1: n->setWetMix(unit(rng)); break;
      case 2: n->setFeedbackLevel(0.99f * unit(rng)); break;
      case 3: n->setDelayMs(delayMs); break;
      default: n->setIsEnabled(rng() % 8 != 0); break;
    }
  } else if (auto* p = dynamic_cast<PingPongDelayNode*>(&node)) {
    // Half of the changes arrive the way a host sends them.
    const bool host = rng() % 2 == 0;
    switch (pick(5)) {
      case 0:
        host ? static_cast<void>(p->setValue("dryMix", QVAny(unit(rng)))) : p->setDryMix(unit(rng));
        break;
      case 1:
        host ? static_cast<void>(p->setValue("wetMix", QVAny(unit(rng)))) : p->setWetMix(unit(rng));
        break;
      case 2:
        host ? static_cast<void>(p->setValue("feedbackLevel", QVAny(0.99f * unit(rng))))
             : p->setFeedbackLevel(0.99f * unit(rng));
        break;
      case 3:
        host ? static_cast<void>(p->setValue("delayMs", QVAny(delayMs))) : p->setDelayMs(delayMs);
        break;
      default: p->setIsEnabled(rng() % 8 != 0); break;
    }
  } else {
    const auto swept = [&](auto& effect) {
      switch (pick(3)) {
        case 0: effect.setSweepWidth(0.025f * unit(rng)); break;
        case 1: effect.setFrequency(20.0f * unit(rng)); break;
        default: effect.setIsEnabled(rng() % 8 != 0); break;
      }
    };
    if (auto* v = dynamic_cast<VibratoNode*>(&node)) swept(*v);
    if (auto* f = dynamic_cast<FlangerNode*>(&node)) swept(*f);
    if (auto* c = dynamic_cast<ChorusNode*>(&node)) swept(*c);
  }
}

// Input: bursts of noise and tones separated by silences, so that tails
// decay towards zero between them; never a subnormal itself.
void fillInput(AudioBuffer<float>& in, unsigned long startFrame, std::mt19937& rng) {
  std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
  for (unsigned int f = 0; f < in.getNumberOfFrames(); ++f) {
    const unsigned long frame = startFrame + f;
    const unsigned long section = (frame / 7919) % 4;
    for (unsigned int c = 0; c < in.getNumberOfChannels(); ++c) {
      float x = 0.0f;
      if (section == 0) x = noise(rng);
      if (section == 1)
        x = 0.8f * std::sin(0.031f * static_cast<float>(frame % 100000) + static_cast<float>(c));
      in.setSample(c, f, x);
    }
  }
}

struct Findings {
  long nonFinite = 0;
  long subnormal = 0;
  std::string first;
};

void runCase(const std::string& type, unsigned int rate, unsigned int blockSize,
             Findings& findings) {
  AudioEffectsNodeFactory factory;
  std::unique_ptr<quorvel::Node> node(factory.createNode(type, {}));
  auto& audio = dynamic_cast<quorvel::SingleBusAudioProcessorNode&>(*node);
  quorvel::AudioBusFormat inFormat(rate, 2, blockSize), outFormat(rate, 2, blockSize);
  ASSERT_TRUE(audio.setBusFormat(inFormat, outFormat)) << type << " " << rate << " " << blockSize;

  Block in(2, blockSize, rate), out(2, blockSize, rate);
  AudioBus inBus(*in.buffer), outBus(*out.buffer);
  std::mt19937 rng(rate * 31u + blockSize);
  for (unsigned long frame = 0; frame < kFramesPerCase; frame += blockSize) {
    if (rng() % 4 == 0) changeParameter(*node, rng);
    fillInput(*in.buffer, frame, rng);
    audio.process(inBus, outBus);
    for (unsigned int c = 0; c < 2; ++c) {
      for (unsigned int f = 0; f < blockSize; ++f) {
        const float y = out.buffer->getSample(c, f);
        const int kind = std::fpclassify(y);
        if (kind == FP_NORMAL || kind == FP_ZERO) continue;
        if (kind == FP_SUBNORMAL)
          ++findings.subnormal;
        else
          ++findings.nonFinite;
        if (findings.first.empty())
          findings.first = type + " at " + std::to_string(rate) + " Hz, blocks of " +
                           std::to_string(blockSize) + ", frame " + std::to_string(frame + f) +
                           ": " + std::to_string(y);
      }
    }
  }
}

Findings runEveryCase(const std::string& type) {
  Findings findings;
  for (unsigned int rate : kSampleRates)
    for (unsigned int blockSize : kBlockSizes) runCase(type, rate, blockSize, findings);
  return findings;
}

class Stress : public ::testing::TestWithParam<std::string> {};

TEST_P(Stress, EveryRateAndBlockSizeWithRandomParametersStaysFiniteAndNormal) {
  const Findings findings = runEveryCase(GetParam());
  EXPECT_EQ(findings.nonFinite, 0) << "first: " << findings.first;
  EXPECT_EQ(findings.subnormal, 0) << "first: " << findings.first;
}

std::vector<std::string> nodeTypes() {
  AudioEffectsNodeFactory factory;
  std::vector<std::string> names;
  for (const quorvel::NodeTypeInfo& info : factory.getNodeTypes())
    names.push_back(info.getFQTypeName());
  return names;
}

INSTANTIATE_TEST_SUITE_P(EveryNodeType, Stress, ::testing::ValuesIn(nodeTypes()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           return info.param.substr(info.param.find('.') + 1);
                         });

}  // namespace

#include "ReferenceChain.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <quorvel/AudioEffects.hpp>
#include <quorvel/nodes/ChorusNode.hpp>
#include <quorvel/nodes/DelayNode.hpp>
#include <quorvel/nodes/FlangerNode.hpp>
#include <quorvel/nodes/VibratoNode.hpp>

namespace {

namespace fx = quorvel::extensions::audioeffects;
using quorvel::QVAny;

std::shared_ptr<quorvel::NodeFactory> factory() {
  auto& manager = quorvel::ExtensionManager::getInstance();
  if (!manager.getExtension("AudioEffects")) fx::AudioEffectsExtension::load();
  static std::shared_ptr<quorvel::NodeFactory> shared =
      manager.getExtension("AudioEffects")->getNodeFactory();
  return shared;
}

template <typename Swept>
void setSwept(Swept& node, const std::string& name, const QVAny& value) {
  if (name == "enabled") node.setIsEnabled(QVAny::convert<bool>(value));
  if (name == "sweepWidth") node.setSweepWidth(QVAny::convert<float>(value));
  if (name == "frequency") node.setFrequency(QVAny::convert<float>(value));
}

void configure(quorvel::Node& node, const ReferenceEffect& effect) {
  for (const auto& [name, value] : effect.settings) {
    if (effect.subtype == "PingPongDelay") {
      ASSERT_TRUE(node.setValue(name, value).isSuccess()) << name;
    } else if (auto* delay = dynamic_cast<fx::DelayNode*>(&node)) {
      if (name == "enabled") delay->setIsEnabled(QVAny::convert<bool>(value));
      if (name == "delayMs") delay->setDelayMs(QVAny::convert<unsigned int>(value));
      if (name == "dryMix") delay->setDryMix(QVAny::convert<float>(value));
      if (name == "wetMix") delay->setWetMix(QVAny::convert<float>(value));
      if (name == "feedbackLevel") delay->setFeedbackLevel(QVAny::convert<float>(value));
    } else if (auto* chorus = dynamic_cast<fx::ChorusNode*>(&node)) {
      setSwept(*chorus, name, value);
    } else if (auto* flanger = dynamic_cast<fx::FlangerNode*>(&node)) {
      setSwept(*flanger, name, value);
    } else if (auto* vibrato = dynamic_cast<fx::VibratoNode*>(&node)) {
      setSwept(*vibrato, name, value);
    } else {
      FAIL() << "no setter for " << effect.subtype << "." << name;
    }
  }
}

}  // namespace

std::vector<float> ReferenceChain::process(const Sound& sound,
                                           const std::vector<ReferenceEffect>& effects,
                                           std::size_t tailFrames) {
  const unsigned int channels = sound.channels;
  const auto frames = static_cast<unsigned int>(sound.frames() + tailFrames);
  auto current = std::make_unique<quorvel::AudioBuffer<float>>(channels, frames, sound.sampleRate);
  for (unsigned int f = 0; f < sound.frames(); ++f) {
    for (unsigned int c = 0; c < channels; ++c) {
      current->setSample(c, f, sound.samples[f * channels + c]);
    }
  }
  for (const ReferenceEffect& effect : effects) {
    std::unique_ptr<quorvel::Node> node(
        factory()->createNode("AudioEffects." + effect.subtype, quorvel::QVAnyMap{}));
    EXPECT_NE(node, nullptr) << effect.subtype;
    if (!node) return {};
    configure(*node, effect);
    auto* processor = dynamic_cast<quorvel::SingleBusAudioProcessorNode*>(node.get());
    auto next = std::make_unique<quorvel::AudioBuffer<float>>(channels, frames, sound.sampleRate);
    quorvel::AudioBusFormat in(sound.sampleRate, channels, frames);
    quorvel::AudioBusFormat out(sound.sampleRate, channels, frames);
    EXPECT_TRUE(processor->setBusFormat(in, out)) << effect.subtype;
    quorvel::AudioBus inBus(*current);
    quorvel::AudioBus outBus(*next);
    EXPECT_TRUE(processor->process(inBus, outBus)) << effect.subtype;
    current = std::move(next);
  }
  std::vector<float> interleaved(static_cast<std::size_t>(frames) * channels);
  for (unsigned int f = 0; f < frames; ++f) {
    for (unsigned int c = 0; c < channels; ++c) {
      interleaved[f * channels + c] = current->getSample(c, f);
    }
  }
  return interleaved;
}

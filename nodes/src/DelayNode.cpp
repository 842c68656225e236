#include "quorvel/nodes/DelayNode.hpp"

#include "NodeSupport.hpp"
#include "quorvel/audio/Delay.hpp"

namespace quorvel::extensions::audioeffects {

struct DelayNode::Internals : nodes::EffectBlock<audio::Delay> {
  explicit Internals(unsigned int numChannels) : EffectBlock(numChannels) {}
};

DelayNode::DelayNode(unsigned int numChannels)
    : SingleBusAudioProcessorNode(1, 1), internals(std::make_unique<Internals>(numChannels)) {}

DelayNode::~DelayNode() = default;

NodeTypeInfo DelayNode::getNodeTypeInfo() {
  return nodes::effectTypeInfo(audio::Delay::typeInfo());
}

bool DelayNode::getIsEnabled() const noexcept { return internals->effect.getIsEnabled(); }
float DelayNode::getDryMix() const noexcept { return internals->effect.getDryMix(); }
float DelayNode::getWetMix() const noexcept { return internals->effect.getWetMix(); }
unsigned int DelayNode::getDelayMs() const noexcept { return internals->effect.getDelayMs(); }
float DelayNode::getFeedbackLevel() const noexcept { return internals->effect.getFeedbackLevel(); }

void DelayNode::setIsEnabled(bool isEnabled) noexcept { internals->effect.setIsEnabled(isEnabled); }
void DelayNode::setDryMix(float dryMix) noexcept { internals->effect.setDryMix(dryMix); }
void DelayNode::setWetMix(float wetMix) noexcept { internals->effect.setWetMix(wetMix); }
void DelayNode::setDelayMs(unsigned int delayMs) noexcept { internals->effect.setDelayMs(delayMs); }
void DelayNode::setFeedbackLevel(float feedbackLevel) noexcept {
  internals->effect.setFeedbackLevel(feedbackLevel);
}

audio::EffectControls& DelayNode::controls() noexcept { return internals->effect; }

bool DelayNode::setBusFormat(AudioBusFormat& inputFormat, AudioBusFormat& outputFormat) {
  if (!AudioBusFormat::matchBusFormats(inputFormat, outputFormat)) return false;
  return inputFormat.numberOfChannels <= internals->effect.getNumChannels();
}

bool DelayNode::process(AudioBus& inputBus, AudioBus& outputBus) noexcept {
  outputBus.copyFrom(inputBus);
  internals->run(inputBus, outputBus);
  return true;
}

}  // namespace quorvel::extensions::audioeffects

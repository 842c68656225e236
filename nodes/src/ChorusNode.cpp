#include "quorvel/nodes/ChorusNode.hpp"

#include "NodeSupport.hpp"
#include "quorvel/audio/Chorus.hpp"

namespace quorvel::extensions::audioeffects {

struct ChorusNode::Internals : nodes::EffectBlock<audio::Chorus> {
  explicit Internals(unsigned int numChannels) : EffectBlock(numChannels) {}
};

ChorusNode::ChorusNode(unsigned int numChannels)
    : SingleBusAudioProcessorNode(1, 1), internals(std::make_unique<Internals>(numChannels)) {}

ChorusNode::~ChorusNode() = default;

NodeTypeInfo ChorusNode::getNodeTypeInfo() {
  return nodes::effectTypeInfo(audio::Chorus::typeInfo());
}

bool ChorusNode::getIsEnabled() const noexcept { return internals->effect.getIsEnabled(); }
float ChorusNode::getSweepWidth() const noexcept { return internals->effect.getSweepWidth(); }
float ChorusNode::getFrequency() const noexcept { return internals->effect.getFrequency(); }

void ChorusNode::setIsEnabled(bool isEnabled) noexcept {
  internals->effect.setIsEnabled(isEnabled);
}
void ChorusNode::setSweepWidth(float sweepWidth) noexcept {
  internals->effect.setSweepWidth(sweepWidth);
}
void ChorusNode::setFrequency(float frequency) noexcept {
  internals->effect.setFrequency(frequency);
}

audio::EffectControls& ChorusNode::controls() noexcept { return internals->effect; }

// Matching formats with at most two channels: the swept effects are built
// for mono and stereo buses.
bool ChorusNode::setBusFormat(AudioBusFormat& inputFormat, AudioBusFormat& outputFormat) {
  if (!AudioBusFormat::matchBusFormats(inputFormat, outputFormat)) return false;
  return inputFormat.numberOfChannels <= 2;
}

bool ChorusNode::process(AudioBus& inputBus, AudioBus& outputBus) noexcept {
  outputBus.copyFrom(inputBus);
  internals->run(inputBus, outputBus);
  return true;
}

}  // namespace quorvel::extensions::audioeffects

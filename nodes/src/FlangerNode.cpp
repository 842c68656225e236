#include "quorvel/nodes/FlangerNode.hpp"

#include "NodeSupport.hpp"
#include "quorvel/audio/Flanger.hpp"

namespace quorvel::extensions::audioeffects {

struct FlangerNode::Internals : nodes::EffectBlock<audio::Flanger> {
  explicit Internals(unsigned int numChannels) : EffectBlock(numChannels) {}
};

FlangerNode::FlangerNode(unsigned int numChannels)
    : SingleBusAudioProcessorNode(1, 1), internals(std::make_unique<Internals>(numChannels)) {}

FlangerNode::~FlangerNode() = default;

NodeTypeInfo FlangerNode::getNodeTypeInfo() {
  return nodes::effectTypeInfo(audio::Flanger::typeInfo());
}

bool FlangerNode::getIsEnabled() const noexcept { return internals->effect.getIsEnabled(); }
float FlangerNode::getSweepWidth() const noexcept { return internals->effect.getSweepWidth(); }
float FlangerNode::getFrequency() const noexcept { return internals->effect.getFrequency(); }

void FlangerNode::setIsEnabled(bool isEnabled) noexcept {
  internals->effect.setIsEnabled(isEnabled);
}
void FlangerNode::setSweepWidth(float sweepWidth) noexcept {
  internals->effect.setSweepWidth(sweepWidth);
}
void FlangerNode::setFrequency(float frequency) noexcept {
  internals->effect.setFrequency(frequency);
}

audio::EffectControls& FlangerNode::controls() noexcept { return internals->effect; }

// Matching formats with at most two channels: the swept effects are built
// for mono and stereo buses.
bool FlangerNode::setBusFormat(AudioBusFormat& inputFormat, AudioBusFormat& outputFormat) {
  if (!AudioBusFormat::matchBusFormats(inputFormat, outputFormat)) return false;
  return inputFormat.numberOfChannels <= 2;
}

bool FlangerNode::process(AudioBus& inputBus, AudioBus& outputBus) noexcept {
  outputBus.copyFrom(inputBus);
  internals->run(inputBus, outputBus);
  return true;
}

}  // namespace quorvel::extensions::audioeffects

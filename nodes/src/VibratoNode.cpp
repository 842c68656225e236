#include "quorvel/nodes/VibratoNode.hpp"

#include "NodeSupport.hpp"
#include "quorvel/audio/Vibrato.hpp"

namespace quorvel::extensions::audioeffects {

struct VibratoNode::Internals : nodes::EffectBlock<audio::Vibrato> {
  explicit Internals(unsigned int numChannels) : EffectBlock(numChannels) {}
};

VibratoNode::VibratoNode(unsigned int numChannels)
    : SingleBusAudioProcessorNode(1, 1), internals(std::make_unique<Internals>(numChannels)) {}

VibratoNode::~VibratoNode() = default;

NodeTypeInfo VibratoNode::getNodeTypeInfo() {
  return nodes::effectTypeInfo(audio::Vibrato::typeInfo());
}

bool VibratoNode::getIsEnabled() const noexcept { return internals->effect.getIsEnabled(); }
float VibratoNode::getSweepWidth() const noexcept { return internals->effect.getSweepWidth(); }
float VibratoNode::getFrequency() const noexcept { return internals->effect.getFrequency(); }

void VibratoNode::setIsEnabled(bool isEnabled) noexcept {
  internals->effect.setIsEnabled(isEnabled);
}
void VibratoNode::setSweepWidth(float sweepWidth) noexcept {
  internals->effect.setSweepWidth(sweepWidth);
}
void VibratoNode::setFrequency(float frequency) noexcept {
  internals->effect.setFrequency(frequency);
}

audio::EffectControls& VibratoNode::controls() noexcept { return internals->effect; }

// Matching formats with at most two channels: the swept effects are built
// for mono and stereo buses.
bool VibratoNode::setBusFormat(AudioBusFormat& inputFormat, AudioBusFormat& outputFormat) {
  if (!AudioBusFormat::matchBusFormats(inputFormat, outputFormat)) return false;
  return inputFormat.numberOfChannels <= 2;
}

bool VibratoNode::process(AudioBus& inputBus, AudioBus& outputBus) noexcept {
  outputBus.copyFrom(inputBus);
  internals->run(inputBus, outputBus);
  return true;
}

}  // namespace quorvel::extensions::audioeffects

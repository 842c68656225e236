#include "quorvel/nodes/SweptDelayNode.hpp"

#include "NodeSupport.hpp"

namespace quorvel::extensions::audioeffects {

// Inherited, not declared, constructors: the explicit instantiations below
// would otherwise export this private record's constructor.
template <typename SweptEffect>
struct SweptDelayNode<SweptEffect>::Internals : nodes::EffectBlock<SweptEffect> {
  using nodes::EffectBlock<SweptEffect>::EffectBlock;
};

template <typename SweptEffect>
SweptDelayNode<SweptEffect>::SweptDelayNode(unsigned int numChannels)
    : SingleBusAudioProcessorNode(1, 1), internals(std::make_unique<Internals>(numChannels)) {}

template <typename SweptEffect>
SweptDelayNode<SweptEffect>::~SweptDelayNode() = default;

template <typename SweptEffect>
NodeTypeInfo SweptDelayNode<SweptEffect>::getNodeTypeInfo() {
  return nodes::effectTypeInfo(SweptEffect::typeInfo());
}

template <typename SweptEffect>
bool SweptDelayNode<SweptEffect>::getIsEnabled() const noexcept {
  return internals->effect.getIsEnabled();
}
template <typename SweptEffect>
float SweptDelayNode<SweptEffect>::getSweepWidth() const noexcept {
  return internals->effect.getSweepWidth();
}
template <typename SweptEffect>
float SweptDelayNode<SweptEffect>::getFrequency() const noexcept {
  return internals->effect.getFrequency();
}

template <typename SweptEffect>
void SweptDelayNode<SweptEffect>::setIsEnabled(bool isEnabled) noexcept {
  internals->effect.setIsEnabled(isEnabled);
}
template <typename SweptEffect>
void SweptDelayNode<SweptEffect>::setSweepWidth(float sweepWidth) noexcept {
  internals->effect.setSweepWidth(sweepWidth);
}
template <typename SweptEffect>
void SweptDelayNode<SweptEffect>::setFrequency(float frequency) noexcept {
  internals->effect.setFrequency(frequency);
}

template <typename SweptEffect>
audio::EffectControls& SweptDelayNode<SweptEffect>::controls() noexcept {
  return internals->effect;
}

// Matching formats with at most two channels: the swept effects are built
// for mono and stereo buses.
template <typename SweptEffect>
bool SweptDelayNode<SweptEffect>::setBusFormat(AudioBusFormat& inputFormat,
                                               AudioBusFormat& outputFormat) {
  if (!AudioBusFormat::matchBusFormats(inputFormat, outputFormat)) return false;
  return inputFormat.numberOfChannels <= 2;
}

template <typename SweptEffect>
bool SweptDelayNode<SweptEffect>::process(AudioBus& inputBus, AudioBus& outputBus) noexcept {
  outputBus.copyFrom(inputBus);
  internals->run(inputBus, outputBus);
  return true;
}

template class SweptDelayNode<audio::Chorus>;
template class SweptDelayNode<audio::Flanger>;
template class SweptDelayNode<audio::Vibrato>;

}  // namespace quorvel::extensions::audioeffects

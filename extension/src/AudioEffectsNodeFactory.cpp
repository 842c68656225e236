#include "quorvel/audioeffects/AudioEffectsNodeFactory.hpp"

namespace quorvel::extensions::audioeffects {

AudioEffectsNodeFactory::AudioEffectsNodeFactory() {}

AudioEffectsNodeFactory::~AudioEffectsNodeFactory() = default;

std::string AudioEffectsNodeFactory::getNodeTypePrefix() { return "AudioEffects"; }

}  // namespace quorvel::extensions::audioeffects

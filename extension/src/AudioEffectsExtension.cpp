#include "quorvel/audioeffects/AudioEffectsExtension.hpp"

#include "quorvel/ExtensionManager.hpp"
#include "quorvel/audioeffects/AudioEffectsNodeFactory.hpp"
#include "quorvel/nodes/EffectControls.hpp"

namespace quorvel::extensions::audioeffects {

void AudioEffectsExtension::load() {
  ExtensionManager& manager = ExtensionManager::getInstance();
  std::shared_ptr<AudioEffectsExtension> extension = std::make_shared<AudioEffectsExtension>();
  manager.registerExtension(std::move(extension));
  // The registry's reference alone keeps the extension alive.
  extension.reset();
}

AudioEffectsExtension::AudioEffectsExtension() : Extension("extension") {}

AudioEffectsExtension::~AudioEffectsExtension() = default;

std::string AudioEffectsExtension::getName() { return kNodeTypeNamespace; }

std::string AudioEffectsExtension::getDescription() {
  return "Basic audio effects such as delay, chorus, flanger, and vibrato.";
}

std::shared_ptr<NodeFactory> AudioEffectsExtension::getNodeFactory() {
  return std::make_shared<AudioEffectsNodeFactory>();
}

}  // namespace quorvel::extensions::audioeffects

#include "quorvel/audioeffects/AudioEffectsNodeFactory.hpp"

#include <stdexcept>
#include <string>

#include "quorvel/audio/Effect.hpp"
#include "quorvel/nodes/EffectControls.hpp"
#include "quorvel/nodes/EffectNodeTypes.hpp"

namespace quorvel::extensions::audioeffects {

AudioEffectsNodeFactory::AudioEffectsNodeFactory() {
  // The registration order is part of the contract: hosts list the types in
  // it, and it is the order of the effect registry.
  for (const audio::EffectInfo* effect : audio::effectTypes()) {
    const EffectNodeType* node = effectNodeType(*effect);
    // An effect without a node is a build of mismatched layers; leaving the
    // type out would hide it from every host.
    if (!node) throw std::logic_error("no node runs effect type " + std::string(effect->name));
    registerNode(node->typeInfo(), node->create);
  }
}

AudioEffectsNodeFactory::~AudioEffectsNodeFactory() = default;

std::string AudioEffectsNodeFactory::getNodeTypePrefix() { return kNodeTypeNamespace; }

}  // namespace quorvel::extensions::audioeffects

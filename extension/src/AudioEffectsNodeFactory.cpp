#include "quorvel/audioeffects/AudioEffectsNodeFactory.hpp"

#include "quorvel/nodes/ChorusNode.hpp"
#include "quorvel/nodes/DelayNode.hpp"
#include "quorvel/nodes/EffectControls.hpp"
#include "quorvel/nodes/FlangerNode.hpp"
#include "quorvel/nodes/PingPongDelayNode.hpp"
#include "quorvel/nodes/VibratoNode.hpp"

namespace quorvel::extensions::audioeffects {

namespace {

// Every node built by the factory has state for a stereo bus; the
// configuration map carries nothing these node types read.
constexpr unsigned int kFactoryChannels = 2;

template <typename EffectNode>
NodeFactory::Creator stereoCreator() {
  return [](const QVAnyMap&) -> Node* { return new EffectNode(kFactoryChannels); };
}

}  // namespace

AudioEffectsNodeFactory::AudioEffectsNodeFactory() {
  // The registration order is part of the contract: hosts list the types in it.
  registerNode(DelayNode::getNodeTypeInfo(), stereoCreator<DelayNode>());
  registerNode(PingPongDelayNode::getNodeTypeInfo(), [](const QVAnyMap& configuration) -> Node* {
    return new PingPongDelayNode(configuration);
  });
  registerNode(VibratoNode::getNodeTypeInfo(), stereoCreator<VibratoNode>());
  registerNode(FlangerNode::getNodeTypeInfo(), stereoCreator<FlangerNode>());
  registerNode(ChorusNode::getNodeTypeInfo(), stereoCreator<ChorusNode>());
}

AudioEffectsNodeFactory::~AudioEffectsNodeFactory() = default;

std::string AudioEffectsNodeFactory::getNodeTypePrefix() { return kNodeTypeNamespace; }

}  // namespace quorvel::extensions::audioeffects

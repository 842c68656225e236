#include "quorvel/nodes/EffectNodeTypes.hpp"

#include "quorvel/audio/Delay.hpp"
#include "quorvel/audio/PingPongDelay.hpp"
#include "quorvel/nodes/ChorusNode.hpp"
#include "quorvel/nodes/DelayNode.hpp"
#include "quorvel/nodes/FlangerNode.hpp"
#include "quorvel/nodes/PingPongDelayNode.hpp"
#include "quorvel/nodes/VibratoNode.hpp"

namespace quorvel::extensions::audioeffects {

namespace {

// Hosts connect stereo buses; the map carries nothing these node types read.
constexpr unsigned int kStereo = 2;

template <typename EffectNode>
Node* stereoNode(const QVAnyMap& /*configuration*/) {
  return new EffectNode(kStereo);
}

Node* pingPongNode(const QVAnyMap& configuration) { return new PingPongDelayNode(configuration); }

struct Row {
  const audio::EffectInfo& (*effect)() noexcept;
  EffectNodeType node;
};

// One row per node class; the registry, not this table, gives the order.
const Row kRows[] = {
    {&audio::Delay::typeInfo, {&DelayNode::getNodeTypeInfo, &stereoNode<DelayNode>}},
    {&audio::PingPongDelay::typeInfo, {&PingPongDelayNode::getNodeTypeInfo, &pingPongNode}},
    {&audio::Vibrato::typeInfo, {&VibratoNode::getNodeTypeInfo, &stereoNode<VibratoNode>}},
    {&audio::Flanger::typeInfo, {&FlangerNode::getNodeTypeInfo, &stereoNode<FlangerNode>}},
    {&audio::Chorus::typeInfo, {&ChorusNode::getNodeTypeInfo, &stereoNode<ChorusNode>}},
};

}  // namespace

const EffectNodeType* effectNodeType(const audio::EffectInfo& effect) noexcept {
  for (const Row& row : kRows) {
    if (row.effect().name == effect.name) return &row.node;
  }
  return nullptr;
}

}  // namespace quorvel::extensions::audioeffects

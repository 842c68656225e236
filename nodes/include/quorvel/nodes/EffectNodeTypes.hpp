#pragma once

#include "quorvel/Node.hpp"
#include "quorvel/NodeTypeInfo.hpp"
#include "quorvel/QVAnyMap.hpp"
#include "quorvel/audio/Effect.hpp"
#include "quorvel/nodes/Export.hpp"

namespace quorvel::extensions::audioeffects {

// How a host builds the nodes of one effect type.
struct EffectNodeType {
  // The node type's descriptor.
  NodeTypeInfo (*typeInfo)();
  // A new node, owned by the caller, with state for a stereo bus. Only the
  // ping-pong delay's constructor takes `configuration`; the others ignore it.
  Node* (*create)(const QVAnyMap& configuration);
};

// The node type that runs `effect` (an entry of audio::effectTypes(), matched
// by name), or nullptr when no node of this library runs it.
QUORVEL_NODES_API const EffectNodeType* effectNodeType(const audio::EffectInfo& effect) noexcept;

}  // namespace quorvel::extensions::audioeffects

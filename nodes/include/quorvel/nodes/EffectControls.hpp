#pragma once

#include "quorvel/Node.hpp"
#include "quorvel/audio/Effect.hpp"
#include "quorvel/nodes/Export.hpp"

namespace quorvel::extensions::audioeffects {

// The type namespace of every node type of this library: the `type` of its
// descriptors and the prefix of its fully qualified type names.
inline constexpr const char* kNodeTypeNamespace = "AudioEffects";

// The control side of the effect behind `node` when it is one of this
// library's effect nodes: its parameter table, readable and settable from any
// thread, and its facts (latency, tail, limits at a rate); nullptr for any
// other node.
QUORVEL_NODES_API audio::EffectControls* effectControls(Node& node) noexcept;

}  // namespace quorvel::extensions::audioeffects

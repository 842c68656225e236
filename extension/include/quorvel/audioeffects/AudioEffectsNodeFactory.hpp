#pragma once

#include <string>

#include "quorvel/NodeFactory.hpp"
#include "quorvel/audioeffects/Export.hpp"

namespace quorvel::extensions::audioeffects {

// The factory of the effect node types. Constructing it registers every type,
// in a fixed order, with its descriptor and creator.
class QUORVEL_AUDIOEFFECTS_API AudioEffectsNodeFactory : public NodeFactory {
 public:
  AudioEffectsNodeFactory();
  ~AudioEffectsNodeFactory() override;

  // "AudioEffects": the type namespace of every registered node type.
  std::string getNodeTypePrefix() override;
};

}  // namespace quorvel::extensions::audioeffects

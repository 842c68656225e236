#pragma once

#include <memory>
#include <string>

#include "quorvel/Extension.hpp"
#include "quorvel/NodeFactory.hpp"
#include "quorvel/audioeffects/Export.hpp"

namespace quorvel::extensions::audioeffects {

// The library's extension: named "AudioEffects", it produces factories for
// the five effect node types.
class QUORVEL_AUDIOEFFECTS_API AudioEffectsExtension : public Extension {
 public:
  // Creates one extension and registers it with the host's ExtensionManager,
  // which then owns it. Each call registers another extension.
  static void load();

  AudioEffectsExtension();
  ~AudioEffectsExtension() override;

  // "AudioEffects".
  std::string getName() override;
  // One sentence naming the effects the extension offers.
  std::string getDescription() override;
  // A new factory with all effect node types registered; never cached.
  std::shared_ptr<NodeFactory> getNodeFactory() override;
};

}  // namespace quorvel::extensions::audioeffects

#pragma once

#include <string>
#include <vector>

#include "EffectType.hpp"

namespace quorvelfx {

// Every effect node type the loaded extensions register, in registration order.
class EffectCatalog {
 public:
  // Loads the AudioEffects extension into the host's ExtensionManager and
  // collects the node types of every registered extension's factory.
  static EffectCatalog load();

  // All known types.
  const std::vector<EffectType>& types() const noexcept { return types_; }
  // The type called `name` (short or fully qualified, any case); throws
  // CliError(kExitUsage) listing the known names when there is none.
  const EffectType& find(const std::string& name) const;
  // The short names, comma-separated, for messages.
  std::string names() const;

 private:
  std::vector<EffectType> types_;
};

}  // namespace quorvelfx

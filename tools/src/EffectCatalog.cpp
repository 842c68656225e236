#include "EffectCatalog.hpp"

#include <quorvel/AudioEffects.hpp>

#include "CliError.hpp"

namespace quorvelfx {

EffectCatalog EffectCatalog::load() {
  quorvel::ExtensionManager& manager = quorvel::ExtensionManager::getInstance();
  if (!manager.getExtension("AudioEffects")) {
    quorvel::extensions::audioeffects::AudioEffectsExtension::load();
  }
  EffectCatalog catalog;
  for (const auto& extension : manager.getExtensions()) {
    std::shared_ptr<quorvel::NodeFactory> factory = extension->getNodeFactory();
    if (!factory) continue;
    for (const quorvel::NodeTypeInfo& info : factory->getNodeTypes()) {
      catalog.types_.emplace_back(factory, info);
    }
  }
  return catalog;
}

const EffectType& EffectCatalog::find(const std::string& name) const {
  for (const EffectType& type : types_) {
    if (type.matches(name)) return type;
  }
  throw CliError(kExitUsage, "unknown effect '" + name + "' (known: " + names() + ")");
}

std::string EffectCatalog::names() const {
  std::string text;
  for (const EffectType& type : types_) {
    if (!text.empty()) text += ", ";
    text += type.shortName();
  }
  return text.empty() ? "none registered" : text;
}

}  // namespace quorvelfx

#include "quorvel/ExtensionManager.hpp"

namespace quorvel {

ExtensionManager::ExtensionManager() = default;
ExtensionManager::~ExtensionManager() = default;

ExtensionManager& ExtensionManager::getInstance() {
  static ExtensionManager instance;
  return instance;
}

void ExtensionManager::registerExtension(std::shared_ptr<Extension> extension) {
  if (!extension) return;
  std::lock_guard<std::mutex> lock(mutex_);
  extensions_.push_back(std::move(extension));
}

std::vector<std::shared_ptr<Extension>> ExtensionManager::getExtensions() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return extensions_;
}

std::shared_ptr<Extension> ExtensionManager::getExtension(const std::string& name) const {
  // Ask each extension for its name outside the lock: getName is the
  // extension's own code and must not run while the registry is held.
  for (const std::shared_ptr<Extension>& extension : getExtensions()) {
    if (extension->getName() == name) return extension;
  }
  return nullptr;
}

}  // namespace quorvel

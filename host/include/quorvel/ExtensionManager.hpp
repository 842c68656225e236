#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "quorvel/Extension.hpp"
#include "quorvel/SDKExport.hpp"

namespace quorvel {

// The process-wide registry of loaded extensions; it keeps every registered
// extension alive for the life of the process.
class QUORVEL_SDK_API ExtensionManager {
 public:
  // The one registry of the process.
  static ExtensionManager& getInstance();
  ExtensionManager(const ExtensionManager&) = delete;
  ExtensionManager& operator=(const ExtensionManager&) = delete;

  // Adds `extension` at the end of the registry; a null pointer is ignored.
  void registerExtension(std::shared_ptr<Extension> extension);
  // All registered extensions, in registration order.
  std::vector<std::shared_ptr<Extension>> getExtensions() const;
  // The first registered extension whose getName() is `name`, or nullptr.
  std::shared_ptr<Extension> getExtension(const std::string& name) const;

 private:
  ExtensionManager();
  ~ExtensionManager();

  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<Extension>> extensions_;
};

}  // namespace quorvel

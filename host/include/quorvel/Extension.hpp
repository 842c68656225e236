#pragma once

#include <memory>
#include <string>

#include "quorvel/QVAnyMap.hpp"
#include "quorvel/QuorvelObject.hpp"
#include "quorvel/Result.hpp"
#include "quorvel/SDKExport.hpp"

namespace quorvel {

class NodeFactory;

// A unit of functionality an extension library adds to the host: it has a
// name and a description and produces the node factory for its node types.
class QUORVEL_SDK_API Extension : public QuorvelObject {
 public:
  // An extension whose object name is `objectName`.
  explicit Extension(const std::string& objectName) : QuorvelObject(objectName) {}
  ~Extension() override;

  // Prepares the extension with a configuration map; this base accepts any map.
  virtual Result<void> initialize(const QVAnyMap& configuration) {
    static_cast<void>(configuration);
    return Result<void>::success();
  }
  // Releases what initialize prepared; this base has nothing to release.
  virtual Result<void> deinitialize() { return Result<void>::success(); }

  // The name the host registry knows the extension by.
  virtual std::string getName() = 0;
  // One sentence that tells users what the extension offers.
  virtual std::string getDescription() = 0;
  // A factory for the extension's node types, owned by the caller.
  virtual std::shared_ptr<NodeFactory> getNodeFactory() = 0;
};

}  // namespace quorvel

#pragma once

#include <functional>
#include <string>
#include <vector>

#include "quorvel/NodeTypeInfo.hpp"
#include "quorvel/QVAnyMap.hpp"
#include "quorvel/SDKExport.hpp"

namespace quorvel {

class Node;

// Creates nodes by fully qualified type name from the descriptors and creator
// functions registered with it.
class QUORVEL_SDK_API NodeFactory {
 public:
  using Creator = std::function<Node*(const QVAnyMap&)>;

  NodeFactory();
  virtual ~NodeFactory();
  NodeFactory(const NodeFactory&) = delete;
  NodeFactory& operator=(const NodeFactory&) = delete;

  // The type namespace of the factory's node types.
  virtual std::string getNodeTypePrefix() = 0;
  // Copies of the registered descriptors, in registration order.
  virtual std::vector<NodeTypeInfo> getNodeTypes();
  // A new node of the type whose fully qualified name is `typeName`, built by
  // its creator from `configuration`; the caller owns it. nullptr for an
  // unknown type name.
  virtual Node* createNode(const std::string& typeName, const QVAnyMap& configuration);

 protected:
  // Registers a node type with copies of its descriptor and creator. A second
  // registration of the same fully qualified name replaces the first in place.
  void registerNode(const NodeTypeInfo& info, Creator creator);

 private:
  struct Registration {
    NodeTypeInfo info;
    std::string fqTypeName;
    Creator creator;
  };
  std::vector<Registration> registrations_;
};

}  // namespace quorvel

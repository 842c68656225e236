#include "quorvel/NodeFactory.hpp"

#include "quorvel/Node.hpp"

namespace quorvel {

NodeFactory::NodeFactory() = default;
NodeFactory::~NodeFactory() = default;

void NodeFactory::registerNode(const NodeTypeInfo& info, Creator creator) {
  Registration registration{info, info.getFQTypeName(), std::move(creator)};
  for (Registration& existing : registrations_) {
    if (existing.fqTypeName == registration.fqTypeName) {
      existing = std::move(registration);
      return;
    }
  }
  registrations_.push_back(std::move(registration));
}

std::vector<NodeTypeInfo> NodeFactory::getNodeTypes() {
  std::vector<NodeTypeInfo> types;
  types.reserve(registrations_.size());
  for (const Registration& registration : registrations_) types.push_back(registration.info);
  return types;
}

Node* NodeFactory::createNode(const std::string& typeName, const QVAnyMap& configuration) {
  for (const Registration& registration : registrations_) {
    if (registration.fqTypeName == typeName) {
      return registration.creator ? registration.creator(configuration) : nullptr;
    }
  }
  return nullptr;
}

}  // namespace quorvel

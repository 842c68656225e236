#include "quorvel/QuorvelObject.hpp"

#include <exception>

namespace quorvel {

QuorvelObject::QuorvelObject(const std::string& objectName) : objectName_(objectName) {}

QuorvelObject::~QuorvelObject() = default;

const QuorvelObject::Property* QuorvelObject::findProperty(const std::string& name) const {
  for (const Property& property : properties_) {
    if (property.name == name) return &property;
  }
  return nullptr;
}

void QuorvelObject::registerProperty(const std::string& name, const QVAnyMap& descriptor,
                                     const QVAny& getter, const QVAny& setter) {
  Property property{name, descriptor, QVAny::convert<QVAny::Getter>(getter),
                    QVAny::convert<QVAny::Setter>(setter)};
  for (Property& existing : properties_) {
    if (existing.name == name) {
      existing = std::move(property);
      return;
    }
  }
  properties_.push_back(std::move(property));
}

Result<void> QuorvelObject::setValue(const std::string& name, const QVAny& value) {
  const Property* property = findProperty(name);
  if (!property) return Result<void>::failure("unknown property '" + name + "'");
  try {
    Result<void> result = property->setter(value);
    if (!result.isSuccess()) {
      return Result<void>::failure("property '" + name + "': " + result.error());
    }
    return result;
  } catch (const std::exception& error) {
    return Result<void>::failure("property '" + name + "': " + error.what());
  }
}

Result<QVAny> QuorvelObject::getValue(const std::string& name) {
  const Property* property = findProperty(name);
  if (!property) return Result<QVAny>::failure("unknown property '" + name + "'");
  try {
    return property->getter();
  } catch (const std::exception& error) {
    return Result<QVAny>::failure("property '" + name + "': " + error.what());
  }
}

Result<QVAny> QuorvelObject::callAction(const std::string& name, const QVAnyMap&) {
  return Result<QVAny>::failure("unknown action '" + name + "'");
}

std::vector<std::string> QuorvelObject::getPropertyNames() const {
  std::vector<std::string> names;
  names.reserve(properties_.size());
  for (const Property& property : properties_) names.push_back(property.name);
  return names;
}

bool QuorvelObject::hasProperty(const std::string& name) const {
  return findProperty(name) != nullptr;
}

QVAnyMap QuorvelObject::getPropertyDescriptor(const std::string& name) const {
  const Property* property = findProperty(name);
  return property ? property->descriptor : QVAnyMap();
}

}  // namespace quorvel

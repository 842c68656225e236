#pragma once

#include <string>
#include <vector>

#include "quorvel/QVAny.hpp"
#include "quorvel/QVAnyMap.hpp"
#include "quorvel/Result.hpp"
#include "quorvel/SDKExport.hpp"

namespace quorvel {

// Root of the host's object model: a named object whose registered properties
// the host reaches by name through setValue and getValue.
class QUORVEL_SDK_API QuorvelObject {
 public:
  // An object with the given name and no properties.
  explicit QuorvelObject(const std::string& objectName);
  virtual ~QuorvelObject();
  QuorvelObject(const QuorvelObject&) = delete;
  QuorvelObject& operator=(const QuorvelObject&) = delete;

  // Passes `value` to the setter of property `name`. Fails, naming the
  // property, when it is unknown or the value cannot be converted.
  virtual Result<void> setValue(const std::string& name, const QVAny& value);
  // The value the getter of property `name` yields; fails for an unknown name.
  virtual Result<QVAny> getValue(const std::string& name);
  // Runs action `name`; this base has no actions and always fails.
  virtual Result<QVAny> callAction(const std::string& name, const QVAnyMap& arguments);

  // The name given at construction.
  const std::string& getObjectName() const noexcept { return objectName_; }
  // Names of the registered properties, in registration order.
  std::vector<std::string> getPropertyNames() const;
  // True when property `name` is registered.
  bool hasProperty(const std::string& name) const;
  // The descriptor map registered for `name`; an empty map for an unknown name.
  QVAnyMap getPropertyDescriptor(const std::string& name) const;

 protected:
  // Registers property `name` with copies of its descriptor, getter and
  // setter. `getter` must hold a QVAny::Getter and `setter` a QVAny::Setter
  // (std::invalid_argument otherwise). Registering a name again replaces it.
  void registerProperty(const std::string& name, const QVAnyMap& descriptor, const QVAny& getter,
                        const QVAny& setter);

 private:
  struct Property {
    std::string name;
    QVAnyMap descriptor;
    QVAny::Getter getter;
    QVAny::Setter setter;
  };
  const Property* findProperty(const std::string& name) const;

  std::string objectName_;
  std::vector<Property> properties_;
};

}  // namespace quorvel

#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "quorvel/QVAny.hpp"
#include "quorvel/QVAnyMap.hpp"
#include "quorvel/SchemaVocabulary.hpp"

namespace quorvel {

// The descriptor of a node type: its identity, what users read about it, and
// the schemas of its configuration, properties, actions and events. A plain
// value; its operations are inline so that every user compiles its own copy.
struct NodeTypeInfo {
  std::string type;                 // type namespace, e.g. "AudioEffects"
  std::string subtype;              // name within the namespace, e.g. "Chorus"
  std::string displayName;          // human-readable name
  std::string description;          // one sentence shown to users
  std::vector<std::string> categories;  // NODE_CATEGORY_* values
  QVAnyMap configuration;           // configuration schema
  QVAnyMap properties;              // property name -> QVAny holding its descriptor map
  QVAnyMap actions;                 // action schema
  QVAnyMap events;                  // event schema

  // The fully qualified type name: type, ".", subtype.
  std::string getFQTypeName() const {
    std::string name = type;
    name += '.';
    name += subtype;
    return name;
  }

  // The descriptor map of property `key`; throws std::runtime_error when the
  // property schema has no such key.
  QVAnyMap getProperty(const std::string& key) const {
    if (properties.hasKey(key)) return QVAny::convert<QVAnyMap>(properties.at(key));
    throw std::runtime_error("[NodeTypeInfo] Property key '" + key + "' not found for node type '" +
                             getFQTypeName() + "'.");
  }

  // Field-by-field equality.
  bool operator==(const NodeTypeInfo& other) const {
    return type == other.type && subtype == other.subtype && displayName == other.displayName &&
           description == other.description && categories == other.categories &&
           configuration == other.configuration && properties == other.properties &&
           actions == other.actions && events == other.events;
  }
  bool operator!=(const NodeTypeInfo& other) const { return !(*this == other); }
};

}  // namespace quorvel

#pragma once

#include <nlohmann/json.hpp>
#include <quorvel/QVAny.hpp>
#include <quorvel/QVAnyMap.hpp>

#include "EffectType.hpp"

namespace quorvelfx {

// Machine-readable views of effect types for `list --json` and `describe --json`.
// Keys keep the descriptors' insertion order.
class DescriptorJson {
 public:
  using Json = nlohmann::ordered_json;

  // A host value as JSON: null, boolean, number, string or object; functions become null.
  static Json fromValue(const quorvel::QVAny& value);
  // A descriptor map as a JSON object.
  static Json fromMap(const quorvel::QVAnyMap& map);
  // Name, type, subtype, displayName, description and categories of `type`.
  static Json summary(const EffectType& type);
  // summary() plus the settable parameters with defaults and ranges and the
  // descriptor's configuration, properties, actions and events schemas.
  static Json detail(const EffectType& type);
};

}  // namespace quorvelfx

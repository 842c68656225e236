#pragma once

#include <quorvel/Node.hpp>
#include <quorvel/QVAny.hpp>
#include <string>
#include <vector>

#include "EffectParameter.hpp"

namespace quorvelfx {

// The parameters that the effect node classes take through typed setters
// (DelayNode, ChorusNode, FlangerNode, VibratoNode), reached by dynamic_cast.
class TypedParameters {
 public:
  // The typed parameters of `node`'s class; empty when it is none of the above.
  static std::vector<EffectParameter> describe(quorvel::Node& node);
  // Calls the setter of `name` with `value` (of the kind describe() gives).
  static void set(quorvel::Node& node, const std::string& name, const quorvel::QVAny& value);
  // The getter's current value of `name`; an empty QVAny for an unknown name.
  static quorvel::QVAny get(quorvel::Node& node, const std::string& name);
};

}  // namespace quorvelfx

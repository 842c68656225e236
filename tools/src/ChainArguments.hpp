#pragma once

#include <string>
#include <vector>

#include "EffectRequest.hpp"

namespace quorvelfx {

// Splits the words after INPUT OUTPUT into effects: a word without '=' starts
// a new effect, a name=value word sets a parameter of the effect before it.
class ChainArguments {
 public:
  // The effects in order; throws CliError(kExitUsage) for an empty chain, a
  // setting before any effect, an empty name or value, or a setting given twice.
  static std::vector<EffectRequest> parse(const std::vector<std::string>& words);
};

}  // namespace quorvelfx

#pragma once

#include <string>
#include <utility>
#include <vector>

namespace quorvelfx {

// One effect of a chain as the user typed it: a type name and its
// name=value settings, both still text.
struct EffectRequest {
  std::string typeName;
  std::vector<std::pair<std::string, std::string>> settings;
};

}  // namespace quorvelfx

#pragma once

#include <string>

namespace quorvelfx {

// `quorvel-fx list` and `quorvel-fx describe`: the registered effect types
// as a table or, with --json, as JSON on stdout.
class CatalogCommands {
 public:
  // Prints every type: name, display name, categories, description.
  static int list(bool json);
  // Prints one type's descriptor and parameter schema; throws CliError for an unknown type.
  static int describe(const std::string& typeName, bool json);
};

}  // namespace quorvelfx

#pragma once

// The conformance corpus as C++ test data: every front end's tests read the
// same cases and hold their front end to the same outcomes.
#include <cmath>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace conformance {

using Json = nlohmann::json;

// The cases of one corpus file (values.json, chains.json, inputs.json).
inline std::vector<Json> cases(const std::string& file) {
  std::ifstream in(std::string(QUORVEL_CONFORMANCE_DIR) + "/" + file);
  if (!in) throw std::runtime_error("cannot read the conformance corpus file " + file);
  return Json::parse(in).at("cases").get<std::vector<Json>>();
}

// True when `frontEnd` (library, tool, python, plugins) is one the case applies to.
inline bool appliesTo(const Json& entry, const std::string& frontEnd) {
  if (!entry.contains("only")) return true;
  for (const Json& name : entry.at("only")) {
    if (name == frontEnd) return true;
  }
  return false;
}

// A value case's value as written in a chain file: a JSON string or number.
inline std::string chainValue(const Json& value) { return value.dump(); }

// A value as typed on a command line: the text, or the literal of a number or boolean.
inline std::string typedValue(const Json& value) {
  return value.is_string() ? value.get<std::string>() : value.dump();
}

// Whether `stored` is what `expected` says, compared as the parameter type
// `type` ("boolean", "int" or "float") stores it.
inline bool sameStored(const Json& expected, double stored, bool isFloat) {
  const double want = expected.get<double>();
  if (isFloat) return static_cast<float>(want) == static_cast<float>(stored);
  return want == stored;
}

// One line naming a case in failure messages.
inline std::string describe(const Json& entry) { return entry.dump(); }

}  // namespace conformance

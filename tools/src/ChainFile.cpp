#include "ChainFile.hpp"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "CommandLine.hpp"

namespace quorvelfx {
namespace {

// Ordered so that parameters keep the order they are written in, as on the command line.
using Json = nlohmann::ordered_json;

// "origin: location: message", or "origin: message" at the top.
[[noreturn]] void fail(const std::string& origin, const std::string& location,
                       const std::string& message) {
  throw CliError(kExitUsage, origin + ": " + (location.empty() ? "" : location + ": ") + message);
}

// Where the parser is, for naming a key written twice in one object: JSON
// allows that and the parser keeps the last, which would hide a mistake.
class DuplicateKeys {
 public:
  explicit DuplicateKeys(std::string origin) : origin_(std::move(origin)) {}

  bool operator()(int, Json::parse_event_t event, Json& parsed) {
    using Event = Json::parse_event_t;
    switch (event) {
      case Event::object_start: frames_.push_back(Frame{false, 0, "", {}}); break;
      case Event::array_start: frames_.push_back(Frame{true, 0, "", {}}); break;
      case Event::key: {
        Frame& frame = frames_.back();
        frame.key = parsed.get<std::string>();
        if (!frame.keys.insert(frame.key).second) {
          fail(origin_, location(), "given twice");
        }
        break;
      }
      case Event::object_end:
      case Event::array_end:
        frames_.pop_back();
        elementDone();
        break;
      case Event::value: elementDone(); break;
    }
    return true;
  }

 private:
  struct Frame {
    bool array;
    std::size_t index;  // elements of an array read so far
    std::string key;    // the member of an object being read
    std::set<std::string> keys;
  };

  void elementDone() {
    if (!frames_.empty() && frames_.back().array) ++frames_.back().index;
  }

  // The location of the member being read, as errors name it: effects[1].parameters.delayMs.
  std::string location() const {
    std::string text;
    for (const Frame& frame : frames_) {
      if (frame.array) {
        text += "[" + std::to_string(frame.index) + "]";
      } else {
        text += (text.empty() ? "" : ".") + frame.key;
      }
    }
    return text;
  }

  std::string origin_;
  std::vector<Frame> frames_;
};

// A parameter value as it would be typed: numbers in their shortest
// round-trip form, a whole number written as 350.0 as 350 so that integer
// parameters take it too.
std::string valueText(const Json& value) {
  if (value.is_boolean()) return value.get<bool>() ? "true" : "false";
  if (value.is_number_float()) {
    const double number = value.get<double>();
    if (std::trunc(number) == number && std::fabs(number) < 1e15) {
      char text[32];
      std::snprintf(text, sizeof text, "%.0f", number);
      return text;
    }
  }
  if (value.is_number()) return value.dump();
  return value.get<std::string>();
}

EffectRequest effectFrom(const Json& entry, const std::string& origin, const std::string& where) {
  if (!entry.is_object()) {
    fail(origin, where, "an effect is an object with \"name\" and \"parameters\"");
  }
  for (const auto& [key, value] : entry.items()) {
    static_cast<void>(value);
    if (key != "name" && key != "parameters") {
      fail(origin, where, "unknown key '" + key + "' (an effect has \"name\" and \"parameters\")");
    }
  }
  const auto name = entry.find("name");
  if (name == entry.end()) fail(origin, where, "the effect has no \"name\"");
  if (!name->is_string() || name->get<std::string>().empty()) {
    fail(origin, where + ".name", "must be an effect name, e.g. \"Delay\"");
  }
  EffectRequest request{name->get<std::string>(), {}};
  const auto parameters = entry.find("parameters");
  if (parameters == entry.end()) return request;
  if (!parameters->is_object()) {
    fail(origin, where + ".parameters", "must be an object of parameter names and values");
  }
  for (const auto& [key, value] : parameters->items()) {
    const std::string at = where + ".parameters." + key;
    if (key.empty()) fail(origin, where + ".parameters", "a parameter has no name");
    if (!value.is_number() && !value.is_boolean() && !value.is_string()) {
      fail(origin, at, "must be a number, a boolean or a string such as \"350ms\"");
    }
    const std::string text = valueText(value);
    if (text.empty()) fail(origin, at, "has no value");
    request.settings.emplace_back(key, text);
  }
  return request;
}

}  // namespace

std::vector<EffectRequest> ChainFile::parse(const std::string& jsonText,
                                            const std::string& origin) {
  Json document;
  try {
    document = Json::parse(jsonText, DuplicateKeys(origin));
  } catch (const Json::parse_error& bad) {
    // The library's text starts with its own "[json.exception...]" tag.
    const std::string message = bad.what();
    const std::size_t tag = message.find("] ");
    fail(origin, "", tag == std::string::npos ? message : message.substr(tag + 2));
  }
  const Json* effects = &document;
  std::string where;
  if (document.is_object()) {
    for (const auto& [key, value] : document.items()) {
      static_cast<void>(value);
      if (key != "effects") fail(origin, "", "unknown key '" + key + "' (expected \"effects\")");
    }
    if (!document.contains("effects")) fail(origin, "", "no \"effects\"");
    effects = &document["effects"];
    where = "effects";
  }
  if (!effects->is_array()) {
    fail(origin, where,
         "expected an array of effects, e.g. {\"effects\": [{\"name\": \"Delay\"}]}");
  }
  if (effects->empty()) fail(origin, where, "no effect given");
  std::vector<EffectRequest> requests;
  for (std::size_t i = 0; i < effects->size(); ++i) {
    requests.push_back(effectFrom((*effects)[i], origin, where + "[" + std::to_string(i) + "]"));
  }
  return requests;
}

std::vector<EffectRequest> ChainFile::read(const std::string& path) {
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) {
    throw CliError(kExitIo, path + ": is a folder, not a chain file");
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) throw CliError(kExitIo, path + ": cannot open: " + std::strerror(errno));
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) throw CliError(kExitIo, path + ": cannot read: " + std::strerror(errno));
  return parse(text.str(), path);
}

std::string ChainFile::write(const std::vector<EffectRequest>& effects) {
  Json list = Json::array();
  for (const EffectRequest& effect : effects) {
    Json parameters = Json::object();
    for (const auto& [name, text] : effect.settings) {
      // A number or boolean only when it reads back as the very same text.
      const Json literal = Json::parse(text, nullptr, false);
      const bool bare = (literal.is_number() || literal.is_boolean()) && valueText(literal) == text;
      parameters[name] = bare ? literal : Json(text);
    }
    Json entry = Json::object();
    entry["name"] = effect.typeName;
    entry["parameters"] = parameters;
    list.push_back(entry);
  }
  Json document = Json::object();
  document["effects"] = list;
  return document.dump(2);
}

}  // namespace quorvelfx

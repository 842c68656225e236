#include "quorvel/rules/Chain.hpp"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <set>

#include "Decimal.hpp"

namespace quorvel::rules {

using audio::EffectInfo;
using audio::Parameter;
using audio::ParameterType;

namespace {

// Ordered so that parameters keep the order they are written in, as on a command line.
using Json = nlohmann::ordered_json;

// Deeper than any chain file is, shallow enough for any stack.
constexpr std::size_t kMaximumDepth = 32;

// The prefix "AudioEffects." the host's fully qualified type names carry.
constexpr std::string_view kTypeNamespace = "AudioEffects.";

// True when `name` starts with the namespace, in any letter case.
bool hasNamespace(std::string_view name) noexcept {
  if (name.size() <= kTypeNamespace.size()) return false;
  for (std::size_t i = 0; i < kTypeNamespace.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(name[i])) !=
        std::tolower(static_cast<unsigned char>(kTypeNamespace[i]))) {
      return false;
    }
  }
  return true;
}

std::string prefixed(const std::string& origin, const std::string& message) {
  return origin.empty() ? message : origin + ": " + message;
}

// "origin: location: message", or "origin: message" at the top.
[[noreturn]] void fail(std::string_view origin, const std::string& location,
                       const std::string& message) {
  std::string text(origin);
  if (!text.empty()) text += ": ";
  if (!location.empty()) text += location + ": ";
  throw RuleError(text + message);
}

// Follows the parser through the document to name the place of a mistake
// it sees as it reads: a key written twice in one object (JSON allows that
// and the parser keeps the last, which would hide a mistake) and nesting
// deeper than a chain has.
class Tracker {
 public:
  explicit Tracker(std::string_view origin) : origin_(origin) {}

  bool operator()(int depth, Json::parse_event_t event, Json& parsed) {
    using Event = Json::parse_event_t;
    switch (event) {
      case Event::object_start:
      case Event::array_start:
        if (static_cast<std::size_t>(depth) >= kMaximumDepth) {
          fail(origin_, location(), "nested too deeply for a chain");
        }
        frames_.push_back(Frame{event == Event::array_start, 0, "", {}});
        break;
      case Event::key: {
        Frame& frame = frames_.back();
        frame.key = parsed.get<std::string>();
        if (!frame.keys.insert(frame.key).second) fail(origin_, location(), "given twice");
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

  // effects[1].parameters.delayMs
  std::string location() const {
    std::string text;
    for (const Frame& frame : frames_) {
      if (frame.array) {
        text += "[" + std::to_string(frame.index) + "]";
      } else {
        text += (text.empty() ? "" : ".") + shortened(frame.key);
      }
    }
    return text;
  }

  std::string_view origin_;
  std::vector<Frame> frames_;
};

// A JSON value as the value grammar reads it: numbers in their shortest
// round-trip form, so that the double is the one the file holds.
std::string valueText(const Json& value) {
  if (value.is_boolean()) return value.get<bool>() ? "true" : "false";
  if (value.is_number_unsigned()) return std::to_string(value.get<std::uint64_t>());
  if (value.is_number_integer()) return std::to_string(value.get<std::int64_t>());
  if (value.is_number_float()) return formatNumber(value.get<double>());
  return value.get<std::string>();
}

EffectRequest effectFrom(const Json& entry, std::string_view origin, const std::string& where) {
  if (!entry.is_object()) {
    fail(origin, where, "an effect is an object with \"name\" and \"parameters\"");
  }
  for (const auto& member : entry.items()) {
    if (member.key() != "name" && member.key() != "parameters") {
      fail(origin, where,
           "unknown key '" + shortened(member.key()) +
               "' (an effect has \"name\" and \"parameters\")");
    }
  }
  const auto name = entry.find("name");
  if (name == entry.end()) fail(origin, where, "the effect has no \"name\"");
  if (!name->is_string() || name->get<std::string>().empty()) {
    fail(origin, where + ".name", "must be an effect name, e.g. \"Delay\"");
  }
  EffectRequest request{name->get<std::string>(), {}, prefixed(std::string(origin), where)};
  const auto parameters = entry.find("parameters");
  if (parameters == entry.end() || parameters->is_null()) return request;
  if (!parameters->is_object()) {
    fail(origin, where + ".parameters", "must be an object of parameter names and values");
  }
  for (const auto& member : parameters->items()) {
    const std::string at = where + ".parameters." + shortened(member.key());
    const Json& value = member.value();
    if (member.key().empty()) fail(origin, where + ".parameters", "a parameter has no name");
    if (!value.is_number() && !value.is_boolean() && !value.is_string()) {
      fail(origin, at, "must be a number, a boolean or a string such as \"350ms\"");
    }
    request.settings.push_back(Setting{member.key(), valueText(value)});
  }
  return request;
}

// A stored value as JSON: a switch as a boolean, a whole number as an
// integer, a float as the shortest decimal that reads back to it.
Json storedJson(const Parameter& parameter, double stored) {
  switch (parameter.type) {
    case ParameterType::Boolean: return stored != 0.0;
    case ParameterType::Integer: return static_cast<std::uint64_t>(stored);
    case ParameterType::Float: break;
  }
  return detail::readDecimal(detail::shortestFloat(static_cast<float>(stored)));
}

}  // namespace

const EffectInfo& findType(std::string_view name) {
  std::string_view bare = name;
  if (hasNamespace(bare)) bare.remove_prefix(kTypeNamespace.size());
  if (const EffectInfo* info = audio::findEffectType(bare)) return *info;
  throw RuleError("unknown effect '" + shortened(name) + "' (known: " + typeNames() + ")");
}

std::string typeNames() {
  std::string text;
  for (const EffectInfo* info : audio::effectTypes()) {
    if (!text.empty()) text += ", ";
    text += info->name;
  }
  return text;
}

EffectSettings resolve(const EffectRequest& request) {
  EffectSettings settings;
  try {
    settings.type = &findType(request.type);
  } catch (const RuleError& unknown) {
    throw RuleError(prefixed(request.origin, unknown.what()));
  }
  const std::string type(settings.type->name);
  const audio::ParameterTable table = settings.type->parameters();
  for (const Setting& setting : request.settings) {
    const Parameter* parameter = findParameter(table, setting.name);
    if (parameter == nullptr) {
      throw RuleError(prefixed(request.origin, type + ": unknown parameter '" +
                                                   shortened(setting.name) +
                                                   "' (known: " + parameterKeys(table) + ")"));
    }
    for (const auto& [done, value] : settings.values) {
      static_cast<void>(value);
      if (done == parameter) {
        throw RuleError(prefixed(request.origin,
                                 type + ": " + std::string(parameter->key) + " is given twice"));
      }
    }
    const auto* text = std::get_if<std::string>(&setting.value);
    const std::string shown =
        text ? shortened(*text) : formatNumber(std::get<double>(setting.value));
    try {
      const double stored = text ? parseValue(*parameter, *text)
                                 : checkValue(*parameter, std::get<double>(setting.value));
      settings.values.emplace_back(parameter, stored);
    } catch (const RuleError& bad) {
      throw RuleError(prefixed(request.origin, type + ": " + std::string(parameter->key) + "=" +
                                                   shown + ": " + bad.what()));
    }
  }
  return settings;
}

std::vector<EffectSettings> resolve(const std::vector<EffectRequest>& requests) {
  std::vector<EffectSettings> chain;
  chain.reserve(requests.size());
  for (const EffectRequest& request : requests) chain.push_back(resolve(request));
  return chain;
}

std::vector<EffectRequest> readChain(std::string_view json, std::string_view origin) {
  Json document;
  try {
    document = Json::parse(json.begin(), json.end(), Tracker(origin));
  } catch (const Json::exception& bad) {
    // The library's text starts with its own "[json.exception...]" tag and
    // ends with the token it last read, which can be the rest of the file.
    std::string message = bad.what();
    const std::size_t tag = message.find("] ");
    if (tag != std::string::npos) message.erase(0, tag + 2);
    // The token is quoted and may be followed by "; expected ...".
    const std::string_view lastRead = "last read: '";
    const std::size_t token = message.find(lastRead);
    if (token != std::string::npos) {
      const std::size_t from = token + lastRead.size();
      std::size_t to = message.rfind("'; expected ");
      if (to == std::string::npos || to < from)
        to = message.back() == '\'' ? message.size() - 1 : from;
      message = message.substr(0, from) +
                shortened(std::string_view(message).substr(from, to - from)) + message.substr(to);
    }
    fail(origin, "", message);
  }
  const Json* effects = &document;
  std::string where;
  if (document.is_object()) {
    for (const auto& member : document.items()) {
      if (member.key() != "effects") {
        fail(origin, "", "unknown key '" + shortened(member.key()) + "' (expected \"effects\")");
      }
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

std::string writeChain(const std::vector<EffectSettings>& chain) {
  Json list = Json::array();
  for (const EffectSettings& effect : chain) {
    Json parameters = Json::object();
    for (const auto& [parameter, stored] : effect.values) {
      parameters[std::string(parameter->key)] = storedJson(*parameter, stored);
    }
    Json entry = Json::object();
    entry["name"] = std::string(effect.type->name);
    entry["parameters"] = parameters;
    list.push_back(entry);
  }
  Json document = Json::object();
  document["effects"] = list;
  return document.dump(2);
}

EffectSettings describe(const audio::EffectControls& effect) {
  EffectSettings settings;
  settings.type = &findType(effect.info().name);
  for (const Parameter& parameter : effect.parameters()) {
    settings.values.emplace_back(&parameter, *effect.get(parameter.key));
  }
  return settings;
}

void apply(const EffectSettings& settings, audio::EffectControls& effect) noexcept {
  for (const auto& [parameter, stored] : settings.values) effect.set(parameter->key, stored);
}

}  // namespace quorvel::rules

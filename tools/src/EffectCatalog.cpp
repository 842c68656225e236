#include "EffectCatalog.hpp"

#include <cctype>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <quorvel/AudioEffects.hpp>
#include <quorvel/QVAnyMap.hpp>
#include <quorvel/nodes/EffectControls.hpp>
#include <utility>

#include "CommandLine.hpp"
#include "Commands.hpp"
#include "TerminalOutput.hpp"

namespace quorvelfx {
namespace {

namespace fx = quorvel::extensions::audioeffects;
using quorvel::QVAny;
using quorvel::audio::ParameterType;
using Json = nlohmann::ordered_json;

// A table bound as an unsigned whole number; the effects store integers unsigned.
unsigned int wholeBound(double bound) {
  if (!(bound > 0.0)) return 0;
  return bound >= 4294967295.0 ? 4294967295u : static_cast<unsigned int>(bound);
}

// `value` in the QVAny kind the host property of a parameter of `type` holds.
QVAny hostValue(ParameterType type, double value) {
  switch (type) {
    case ParameterType::Boolean: return QVAny(value != 0.0);
    case ParameterType::Integer: return QVAny(wholeBound(value));
    case ParameterType::Float: break;
  }
  return QVAny(static_cast<float>(value));
}

// The parameters of the effect behind `probe`, copied so that they outlive it.
std::vector<EffectParameter> readTable(quorvel::Node& probe) {
  std::vector<EffectParameter> parameters;
  const quorvel::audio::EffectControls* controls = fx::effectControls(probe);
  if (controls == nullptr) return parameters;
  for (const quorvel::audio::Parameter& entry : controls->parameters()) {
    const std::string key(entry.key);
    std::vector<std::pair<unsigned int, double>> maxima;
    if (entry.maximumAt != nullptr) {
      for (unsigned int rate : EffectParameter::kCommonRates) {
        if (const std::optional<double> limit = controls->maximumAt(key, rate)) {
          maxima.emplace_back(rate, *limit);
        }
      }
    }
    parameters.push_back(
        EffectParameter{key, std::string(entry.description), std::string(entry.unit), entry.type,
                        entry.minimum, entry.maximum, entry.defaultValue,
                        entry.maximumAt != nullptr, probe.hasProperty(key), std::move(maxima)});
  }
  return parameters;
}

// How many powers of ten a suffix is away from a parameter's own unit, e.g.
// "s" on a millisecond parameter is 3; nothing when the suffix is not one
// the unit takes.
std::optional<int> suffixShift(const std::string& unit, const std::string& suffix) {
  const std::string word = ValueParser::lowercase(suffix);
  if (unit == "ms" || unit == "s") {
    const int own = unit == "ms" ? -3 : 0;
    if (word == "s") return 0 - own;
    if (word == "ms") return -3 - own;
    if (word == "us") return -6 - own;
  } else if (unit == "Hz") {
    if (word == "hz") return 0;
    if (word == "khz") return 3;
  }
  return std::nullopt;
}

// What a value of `unit` may look like, for the message about one that is not.
std::string unitHint(const std::string& unit) {
  if (unit == "ms") return "not a time; give milliseconds, e.g. 350, 350ms or 0.35s";
  if (unit == "s") return "not a time; give seconds, e.g. 0.025, 25ms or 0.025s";
  if (unit == "Hz") return "not a frequency; give hertz, e.g. 5, 5Hz or 0.005kHz";
  if (unit.empty()) return "takes a plain number, without a unit";
  return "takes a plain number, in " + unit;
}

// `number` times ten to the `shift`, as decimal text: the exponent moves
// instead of the value being multiplied, so 25ms reads as exactly the
// number 0.025 does and 0.35s as exactly 350.
std::string shifted(const std::string& number, int shift) {
  ValueParser::parseDouble(number, -DBL_MAX, DBL_MAX);  // throws unless a plain decimal
  const std::size_t e = number.find_first_of("eE");
  long long exponent = shift;
  if (e != std::string::npos) {
    errno = 0;
    const long long written = std::strtoll(number.c_str() + e + 1, nullptr, 10);
    if (errno == ERANGE || written > INT_MAX || written < INT_MIN) {
      throw std::invalid_argument("out of range");
    }
    exponent += written;
  }
  return number.substr(0, e) + "e" + std::to_string(exponent);
}

// The value of `text`, a decimal with no suffix in the parameter's own unit,
// range-checked as the effect stores it; a range error names the unit so
// that one given with a suffix still reads right.
double plainValue(const EffectParameter& parameter, const std::string& text, bool suffixed) {
  try {
    if (parameter.type == ParameterType::Float) {
      return ValueParser::parseFloat(text, static_cast<float>(parameter.minimum),
                                     static_cast<float>(parameter.maximum));
    }
    const unsigned int minimum = wholeBound(parameter.minimum);
    const unsigned int maximum = wholeBound(parameter.maximum);
    if (!suffixed) return ValueParser::parseUnsigned(text, minimum, maximum);
    // 0.35s is a whole number of milliseconds although it is not written as one.
    const double value = ValueParser::parseDouble(text, -DBL_MAX, DBL_MAX) + 0.0;
    if (value != std::floor(value)) {
      throw std::invalid_argument("not a whole number of " + parameter.unit);
    }
    char whole[400];
    std::snprintf(whole, sizeof whole, "%.0f", value);
    return ValueParser::parseUnsigned(whole, minimum, maximum);
  } catch (const std::invalid_argument& bad) {
    const std::string message = bad.what();
    if (parameter.unit.empty() || message.rfind("out of range [", 0) != 0) throw;
    throw std::invalid_argument(message + " " + parameter.unit);
  }
}

}  // namespace

const char* EffectParameter::typeName() const noexcept {
  switch (type) {
    case ParameterType::Boolean: return "boolean";
    case ParameterType::Integer: return "int";
    case ParameterType::Float: break;
  }
  return "float";
}

// A trailing run of letters is a unit suffix: an exponent's 'e' is always
// followed by digits, so "2e-3s" splits as "2e-3" and "s".
double EffectParameter::parse(const std::string& text) const {
  if (type == ParameterType::Boolean) return ValueParser::parseBool(text) ? 1.0 : 0.0;
  std::size_t split = text.size();
  while (split > 0 && std::isalpha(static_cast<unsigned char>(text[split - 1]))) --split;
  if (split == text.size()) return plainValue(*this, text, false);
  const std::string number = text.substr(0, split);
  const std::optional<int> shift = suffixShift(unit, text.substr(split));
  if (!shift) {
    if (!unit.empty()) throw std::invalid_argument(unitHint(unit));
    ValueParser::parseDouble(number, -DBL_MAX, DBL_MAX);  // "not a number" when it is none
    throw std::invalid_argument(unitHint(unit));
  }
  std::string scaled;
  try {
    scaled = shifted(number, *shift);
  } catch (const std::invalid_argument& bad) {
    if (std::string(bad.what()) == "not a number") throw std::invalid_argument(unitHint(unit));
    throw;
  }
  return plainValue(*this, scaled, true);
}

std::string EffectParameter::format(double value) const {
  if (type == ParameterType::Boolean) return value != 0.0 ? "true" : "false";
  char text[32];
  if (type == ParameterType::Integer) {
    std::snprintf(text, sizeof text, "%.0f", value);
  } else {
    std::snprintf(text, sizeof text, "%g", static_cast<double>(static_cast<float>(value)));
  }
  return text;
}

EffectType::EffectType(std::shared_ptr<quorvel::NodeFactory> factory, quorvel::NodeTypeInfo info)
    : factory_(std::move(factory)), info_(std::move(info)) {
  std::unique_ptr<quorvel::Node> probe = create();
  parameters_ = readTable(*probe);
}

bool EffectType::matches(const std::string& name) const {
  const std::string wanted = ValueParser::lowercase(name);
  return wanted == ValueParser::lowercase(info_.subtype) ||
         wanted == ValueParser::lowercase(fqName());
}

const EffectParameter* EffectType::findParameter(const std::string& name) const {
  const std::string wanted = ValueParser::lowercase(name);
  for (const EffectParameter& parameter : parameters_) {
    if (ValueParser::lowercase(parameter.key) == wanted) return &parameter;
  }
  return nullptr;
}

std::unique_ptr<quorvel::Node> EffectType::create() const {
  std::unique_ptr<quorvel::Node> node(factory_->createNode(fqName(), quorvel::QVAnyMap{}));
  if (!node) throw CliError(kExitProcessing, fqName() + ": the node factory created no node");
  return node;
}

// A host property goes through the host API, as any host would set it; the
// rest only exists on the effect's control side.
void EffectType::set(quorvel::Node& node, const EffectParameter& parameter, double value) const {
  const std::string what =
      shortName() + ": " + parameter.key + "=" + parameter.format(value) + ": ";
  if (parameter.hostProperty) {
    const quorvel::Result<void> result =
        node.setValue(parameter.key, hostValue(parameter.type, value));
    if (!result.isSuccess()) throw CliError(kExitUsage, what + result.error());
    return;
  }
  quorvel::audio::EffectControls* controls = fx::effectControls(node);
  if (controls == nullptr || !controls->set(parameter.key, value)) {
    throw CliError(kExitUsage, what + "the node has no such parameter");
  }
}

EffectCatalog EffectCatalog::load() {
  quorvel::ExtensionManager& manager = quorvel::ExtensionManager::getInstance();
  if (!manager.getExtension("AudioEffects")) fx::AudioEffectsExtension::load();
  EffectCatalog catalog;
  for (const auto& extension : manager.getExtensions()) {
    std::shared_ptr<quorvel::NodeFactory> factory = extension->getNodeFactory();
    if (!factory) continue;
    for (const quorvel::NodeTypeInfo& info : factory->getNodeTypes()) {
      catalog.types_.emplace_back(factory, info);
    }
  }
  return catalog;
}

const EffectType& EffectCatalog::find(const std::string& name) const {
  for (const EffectType& type : types_) {
    if (type.matches(name)) return type;
  }
  throw CliError(kExitUsage, "unknown effect '" + name + "' (known: " + names() + ")");
}

std::string EffectCatalog::names() const {
  std::string text;
  for (const EffectType& type : types_) {
    if (!text.empty()) text += ", ";
    text += type.shortName();
  }
  return text.empty() ? "none registered" : text;
}

// `list` and `describe`: JSON views whose keys keep the descriptors'
// insertion order, and text built from the same views.
namespace {

// The shortest decimal that reads back as the same float, so 0.7f prints as
// 0.7 rather than 0.699999988079071.
double shortestDecimal(float value) {
  char text[32];
  for (int digits = 6; digits <= 9; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
    if (std::strtof(text, nullptr) == value) break;
  }
  return std::strtod(text, nullptr);
}

Json number(const EffectParameter& parameter, double value) {
  switch (parameter.type) {
    case ParameterType::Boolean: return value != 0.0;
    case ParameterType::Integer: return static_cast<std::uint64_t>(wholeBound(value));
    case ParameterType::Float: break;
  }
  return shortestDecimal(static_cast<float>(value));
}

// A host value as JSON: null, boolean, number, string or object; functions become null.
Json fromValue(const QVAny& value);

Json fromMap(const quorvel::QVAnyMap& map) {
  Json object = Json::object();
  for (const auto& [key, value] : map) object[key] = fromValue(value);
  return object;
}

Json fromValue(const QVAny& value) {
  using Type = QVAny::Type;
  switch (value.type()) {
    case Type::Bool: return QVAny::convert<bool>(value);
    case Type::Int: return QVAny::convert<int>(value);
    case Type::UInt: return QVAny::convert<unsigned int>(value);
    case Type::Float: return shortestDecimal(QVAny::convert<float>(value));
    case Type::String: return QVAny::convert<std::string>(value);
    case Type::Map: return fromMap(QVAny::convert<quorvel::QVAnyMap>(value));
    default: return nullptr;
  }
}

// Name, type, subtype, displayName, description and categories.
Json summary(const EffectType& type) {
  const quorvel::NodeTypeInfo& info = type.info();
  Json object = Json::object();
  object["name"] = type.fqName();
  object["type"] = info.type;
  object["subtype"] = info.subtype;
  object["displayName"] = info.displayName;
  object["description"] = info.description;
  object["categories"] = info.categories;
  return object;
}

// summary() plus the settable parameters with defaults and ranges and the
// descriptor's configuration, properties, actions and events schemas.
Json detail(const EffectType& type) {
  Json object = summary(type);
  Json parameters = Json::array();
  for (const EffectParameter& parameter : type.parameters()) {
    Json entry = Json::object();
    entry["name"] = parameter.key;
    entry["type"] = parameter.typeName();
    entry["description"] = parameter.description;
    if (!parameter.unit.empty()) entry["unit"] = parameter.unit;
    entry["default"] = number(parameter, parameter.defaultValue);
    if (parameter.type != ParameterType::Boolean) {
      entry["min"] = number(parameter, parameter.minimum);
      entry["max"] = number(parameter, parameter.maximum);
    }
    if (!parameter.maximaAtRates.empty()) {
      // Keyed by rate in Hz, as text: JSON object keys are strings.
      Json maxima = Json::object();
      for (const auto& [rate, limit] : parameter.maximaAtRates) {
        maxima[std::to_string(rate)] = number(parameter, limit);
      }
      entry["maxAtRate"] = maxima;
    }
    entry["setThrough"] = parameter.hostProperty ? "property" : "setter";
    parameters.push_back(entry);
  }
  object["parameters"] = parameters;
  const quorvel::NodeTypeInfo& info = type.info();
  object["configuration"] = fromMap(info.configuration);
  object["properties"] = fromMap(info.properties);
  object["actions"] = fromMap(info.actions);
  object["events"] = fromMap(info.events);
  return object;
}

// Each time and frequency parameter's default written with unit suffixes,
// e.g. "sweepWidth=25ms, sweepWidth=0.025s, frequency=0.2Hz"; empty when
// the type has none.
std::string suffixExamples(const EffectType& type) {
  std::string text;
  const auto add = [&text](const std::string& key, const std::string& value) {
    text += (text.empty() ? "" : ", ") + key + "=" + value;
  };
  for (const EffectParameter& parameter : type.parameters()) {
    const std::string own = parameter.format(parameter.defaultValue);
    const bool seconds = parameter.unit == "s";
    if (seconds || parameter.unit == "ms") {
      const double other = std::strtod(shifted(own, seconds ? 3 : -3).c_str(), nullptr);
      char written[32];
      std::snprintf(written, sizeof written, "%g", other);
      add(parameter.key, seconds ? std::string(written) + "ms" : own + "ms");
      add(parameter.key, seconds ? own + "s" : std::string(written) + "s");
    } else if (parameter.unit == "Hz") {
      add(parameter.key, own + "Hz");
    }
  }
  return text;
}

std::string joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : ", ") + word;
  return text;
}

}  // namespace

int runList(bool json) {
  const EffectCatalog catalog = EffectCatalog::load();
  if (json) {
    Json types = Json::array();
    for (const EffectType& type : catalog.types()) types.push_back(summary(type));
    std::cout << types.dump(2) << std::endl;
    return kExitSuccess;
  }
  TextTable table({"NAME", "DISPLAY NAME", "CATEGORIES", "DESCRIPTION"});
  for (const EffectType& type : catalog.types()) {
    table.add({type.fqName(), type.info().displayName, joined(type.info().categories),
               type.info().description});
  }
  table.print(std::cout);
  return kExitSuccess;
}

int runDescribe(const std::string& typeName, bool json) {
  const EffectCatalog catalog = EffectCatalog::load();
  const EffectType& type = catalog.find(typeName);
  const Json view = detail(type);
  if (json) {
    std::cout << view.dump(2) << std::endl;
    return kExitSuccess;
  }
  std::cout << type.fqName() << " (" << type.info().displayName << ")\n"
            << "  " << type.info().description << "\n"
            << "  categories: " << joined(type.info().categories) << "\n\n";
  if (type.parameters().empty()) {
    std::cout << "  no parameters\n";
    return kExitSuccess;
  }
  TextTable table({"PARAMETER", "TYPE", "DEFAULT", "RANGE", "UNIT", "SET THROUGH", "DESCRIPTION"});
  for (const Json& parameter : view["parameters"]) {
    const bool numeric = parameter.contains("min");
    table.add({parameter["name"].get<std::string>(), parameter["type"].get<std::string>(),
               parameter["default"].dump(),
               numeric ? parameter["min"].dump() + " .. " + parameter["max"].dump() : "",
               parameter.value("unit", ""), parameter["setThrough"].get<std::string>(),
               parameter["description"].get<std::string>()});
  }
  table.print(std::cout, 2);
  for (const Json& parameter : view["parameters"]) {
    if (!parameter.contains("maxAtRate")) continue;
    std::cout << "\n  " << parameter["name"].get<std::string>()
              << " is bounded by the delay line; largest value by sample rate:\n";
    TextTable limits({"RATE", "MAX"});
    const std::string unit = parameter.value("unit", "");
    for (const auto& [rate, limit] : parameter["maxAtRate"].items()) {
      limits.add({rate + " Hz", limit.dump() + (unit.empty() ? "" : " " + unit)});
    }
    limits.print(std::cout, 4);
  }
  const std::string suffixes = suffixExamples(type);
  if (!suffixes.empty()) {
    std::cout << "\n  units: a bare number is in the unit shown, or give one: " << suffixes << "\n";
  }
  std::cout << "\nexample: quorvel-fx apply in.wav out.wav " << type.shortName();
  Json defaults = Json::object();
  for (const EffectParameter& parameter : type.parameters()) {
    std::cout << ' ' << parameter.key << '=' << parameter.format(parameter.defaultValue);
    defaults[parameter.key] = number(parameter, parameter.defaultValue);
  }
  Json effect = Json::object();
  effect["name"] = type.shortName();
  effect["parameters"] = defaults;
  Json chain = Json::object();
  chain["effects"] = Json::array({effect});
  std::cout << "\nas a chain file (apply --chain FILE): " << chain.dump() << std::endl;
  return kExitSuccess;
}

}  // namespace quorvelfx

// `quorvel-fx list` and `describe`: JSON views of the catalog whose keys
// keep the descriptors' insertion order, and text built from the same views.
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <nlohmann/json.hpp>
#include <quorvel/QVAnyMap.hpp>
#include <quorvel/rules/Values.hpp>
#include <string>
#include <vector>

#include "CommandLine.hpp"
#include "Commands.hpp"
#include "EffectCatalog.hpp"
#include "TerminalOutput.hpp"

namespace quorvelfx {
namespace {

using quorvel::QVAny;
using quorvel::audio::ParameterType;
using Json = nlohmann::ordered_json;

// The shortest decimal that reads back as the same float, so 0.7f prints as
// 0.7 rather than 0.699999988079071. Scientific, because the fixed form of a
// large float lists its exact digits (33565272) rather than the shortest
// ones (3.356527e7).
double shortestDecimal(float value) {
  char text[32];
  const char* end =
      std::to_chars(text, text + sizeof text, value, std::chars_format::scientific).ptr;
  double decimal = 0.0;
  std::from_chars(text, end, decimal);
  return decimal;
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
// the type has none. Only spellings that read back to the default are shown.
std::string suffixExamples(const EffectType& type) {
  std::string text;
  for (const EffectParameter& parameter : type.parameters()) {
    const quorvel::audio::Parameter entry = parameter.entry();
    const std::string own = parameter.format(parameter.defaultValue);
    const double number = std::strtod(own.c_str(), nullptr);
    std::vector<std::string> spellings;
    if (parameter.unit == "ms") {
      spellings = {own + "ms", quorvel::rules::formatNumber(number / 1000.0) + "s"};
    } else if (parameter.unit == "s") {
      spellings = {quorvel::rules::formatNumber(number * 1000.0) + "ms", own + "s"};
    } else if (parameter.unit == "Hz") {
      spellings = {own + "Hz"};
    }
    for (const std::string& spelling : spellings) {
      try {
        if (quorvel::rules::parseValue(entry, spelling) !=
            quorvel::audio::storedValue(parameter.type, parameter.defaultValue)) {
          continue;
        }
      } catch (const quorvel::rules::RuleError&) {
        continue;
      }
      text += (text.empty() ? "" : ", ") + parameter.key + "=" + spelling;
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
    std::cout << "\n  units: a bare number is in the unit shown, or give one: " << suffixes << "\n"
              << "  (values: see \"Setting values\" in the README or 'man quorvel-fx')\n";
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

#include "DescriptorJson.hpp"

#include <cstdio>
#include <cstdlib>

namespace quorvelfx {
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

DescriptorJson::Json number(const EffectParameter& parameter, double value) {
  if (parameter.kind() == EffectParameter::Kind::Float) {
    return shortestDecimal(static_cast<float>(value));
  }
  if (parameter.kind() == EffectParameter::Kind::UInt) return static_cast<std::uint64_t>(value);
  return static_cast<std::int64_t>(value);
}

}  // namespace

DescriptorJson::Json DescriptorJson::fromValue(const quorvel::QVAny& value) {
  using Type = quorvel::QVAny::Type;
  switch (value.type()) {
    case Type::Bool: return quorvel::QVAny::convert<bool>(value);
    case Type::Int: return quorvel::QVAny::convert<int>(value);
    case Type::UInt: return quorvel::QVAny::convert<unsigned int>(value);
    case Type::Float: return shortestDecimal(quorvel::QVAny::convert<float>(value));
    case Type::String: return quorvel::QVAny::convert<std::string>(value);
    case Type::Map: return fromMap(quorvel::QVAny::convert<quorvel::QVAnyMap>(value));
    default: return nullptr;
  }
}

DescriptorJson::Json DescriptorJson::fromMap(const quorvel::QVAnyMap& map) {
  Json object = Json::object();
  for (const auto& [key, value] : map) object[key] = fromValue(value);
  return object;
}

DescriptorJson::Json DescriptorJson::summary(const EffectType& type) {
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

DescriptorJson::Json DescriptorJson::detail(const EffectType& type) {
  Json object = summary(type);
  Json parameters = Json::array();
  for (std::size_t i = 0; i < type.parameters().size(); ++i) {
    const EffectParameter& parameter = type.parameters()[i];
    Json entry = Json::object();
    entry["name"] = parameter.name();
    entry["type"] = parameter.kindName();
    entry["description"] = parameter.description();
    if (!parameter.unit().empty()) entry["unit"] = parameter.unit();
    entry["default"] = fromValue(type.defaults()[i]);
    if (parameter.kind() != EffectParameter::Kind::Bool) {
      entry["min"] = number(parameter, parameter.min());
      entry["max"] = number(parameter, parameter.max());
    }
    entry["setThrough"] = parameter.hostProperty() ? "property" : "setter";
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

}  // namespace quorvelfx

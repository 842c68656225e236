#include "EffectParameter.hpp"

#include <cstdio>
#include <stdexcept>
#include <utility>

#include "ValueParser.hpp"

namespace quorvelfx {

EffectParameter::EffectParameter(std::string name, Kind kind, std::string description,
                                 std::string unit, double min, double max, bool hostProperty)
    : name_(std::move(name)),
      kind_(kind),
      description_(std::move(description)),
      unit_(std::move(unit)),
      min_(min),
      max_(max),
      hostProperty_(hostProperty) {}

std::string EffectParameter::kindName() const {
  switch (kind_) {
    case Kind::Bool: return "boolean";
    case Kind::Int:
    case Kind::UInt: return "int";
    case Kind::Float: return "float";
  }
  return "float";
}

quorvel::QVAny EffectParameter::parse(const std::string& text) const {
  switch (kind_) {
    case Kind::Bool: return quorvel::QVAny(ValueParser::parseBool(text));
    case Kind::Int:
      return quorvel::QVAny(
          ValueParser::parseInt(text, static_cast<int>(min_), static_cast<int>(max_)));
    case Kind::UInt:
      return quorvel::QVAny(ValueParser::parseUnsigned(text, static_cast<unsigned int>(min_),
                                                       static_cast<unsigned int>(max_)));
    case Kind::Float:
      return quorvel::QVAny(
          ValueParser::parseFloat(text, static_cast<float>(min_), static_cast<float>(max_)));
  }
  throw std::invalid_argument("unsupported parameter kind");
}

std::string EffectParameter::format(const quorvel::QVAny& value) {
  using Type = quorvel::QVAny::Type;
  switch (value.type()) {
    case Type::Bool: return quorvel::QVAny::convert<bool>(value) ? "true" : "false";
    case Type::Int: return std::to_string(quorvel::QVAny::convert<int>(value));
    case Type::UInt: return std::to_string(quorvel::QVAny::convert<unsigned int>(value));
    case Type::Float: {
      char text[32];
      std::snprintf(text, sizeof text, "%g", quorvel::QVAny::convert<float>(value));
      return text;
    }
    case Type::String: return quorvel::QVAny::convert<std::string>(value);
    default: return quorvel::QVAny::typeName(value.type());
  }
}

}  // namespace quorvelfx

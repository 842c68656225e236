#include "EffectType.hpp"

#include <limits>
#include <quorvel/QVAnyMap.hpp>
#include <utility>

#include "CliError.hpp"
#include "TypedParameters.hpp"
#include "ValueParser.hpp"

namespace quorvelfx {
namespace {

using quorvel::QVAny;
using quorvel::QVAnyMap;

bool isNumber(const QVAny& value) {
  const QVAny::Type type = value.type();
  return type == QVAny::Type::Int || type == QVAny::Type::UInt || type == QVAny::Type::Float;
}

double numberOr(const QVAnyMap& descriptor, const std::string& key, double fallback) {
  if (!descriptor.hasKey(key) || !isNumber(descriptor.at(key))) return fallback;
  return static_cast<double>(QVAny::convert<float>(descriptor.at(key)));
}

std::string textOr(const QVAnyMap& descriptor, const std::string& key) {
  if (!descriptor.hasKey(key) || descriptor.at(key).type() != QVAny::Type::String) return "";
  return QVAny::convert<std::string>(descriptor.at(key));
}

bool readOnly(const QVAnyMap& descriptor) {
  if (!descriptor.hasKey("readOnly")) return false;
  try {
    return QVAny::convert<bool>(descriptor.at("readOnly"));
  } catch (const std::invalid_argument&) {
    return false;
  }
}

// The parameter a property descriptor describes; false for kinds a command
// line cannot set (strings, objects) and for read-only properties.
bool parameterFromDescriptor(const std::string& name, const QVAnyMap& descriptor,
                             std::vector<EffectParameter>& out) {
  if (readOnly(descriptor)) return false;
  const std::string type = textOr(descriptor, "type");
  const std::string description = textOr(descriptor, "description");
  const std::string unit = textOr(descriptor, "unit");
  using Kind = EffectParameter::Kind;
  if (type == "boolean") {
    out.emplace_back(name, Kind::Bool, description, unit, 0.0, 1.0, true);
    return true;
  }
  if (type == "int") {
    const bool unsignedDefault =
        descriptor.hasKey("default") && descriptor.at("default").type() == QVAny::Type::UInt;
    const double min = numberOr(descriptor, "min", unsignedDefault ? 0.0 : -2147483648.0);
    const bool isUnsigned = unsignedDefault || min >= 0.0;
    const double max = numberOr(descriptor, "max", isUnsigned ? 4294967295.0 : 2147483647.0);
    out.emplace_back(name, isUnsigned ? Kind::UInt : Kind::Int, description, unit, min, max, true);
    return true;
  }
  if (type == "float") {
    const double limit = std::numeric_limits<float>::max();
    out.emplace_back(name, Kind::Float, description, unit, numberOr(descriptor, "min", -limit),
                     numberOr(descriptor, "max", limit), true);
    return true;
  }
  return false;
}

}  // namespace

EffectType::EffectType(std::shared_ptr<quorvel::NodeFactory> factory, quorvel::NodeTypeInfo info)
    : factory_(std::move(factory)), info_(std::move(info)) {
  std::unique_ptr<quorvel::Node> probe = create();
  learnHostProperties(*probe);
  if (parameters_.empty()) parameters_ = TypedParameters::describe(*probe);
  for (const EffectParameter& parameter : parameters_) defaults_.push_back(get(*probe, parameter));
}

void EffectType::learnHostProperties(quorvel::Node& probe) {
  if (!info_.properties.empty()) {
    for (const std::string& name : info_.properties.keys()) {
      parameterFromDescriptor(name, info_.getProperty(name), parameters_);
    }
    return;
  }
  for (const std::string& name : probe.getPropertyNames()) {
    parameterFromDescriptor(name, probe.getPropertyDescriptor(name), parameters_);
  }
}

bool EffectType::matches(const std::string& name) const {
  const std::string wanted = ValueParser::lowercase(name);
  return wanted == ValueParser::lowercase(info_.subtype) ||
         wanted == ValueParser::lowercase(fqName());
}

const EffectParameter* EffectType::findParameter(const std::string& name) const {
  const std::string wanted = ValueParser::lowercase(name);
  for (const EffectParameter& parameter : parameters_) {
    if (ValueParser::lowercase(parameter.name()) == wanted) return &parameter;
  }
  return nullptr;
}

std::unique_ptr<quorvel::Node> EffectType::create() const {
  std::unique_ptr<quorvel::Node> node(factory_->createNode(fqName(), QVAnyMap{}));
  if (!node) throw CliError(kExitProcessing, fqName() + ": the node factory created no node");
  return node;
}

void EffectType::set(quorvel::Node& node, const EffectParameter& parameter,
                     const QVAny& value) const {
  const std::string what =
      shortName() + ": " + parameter.name() + "=" + EffectParameter::format(value) + ": ";
  if (parameter.hostProperty()) {
    const quorvel::Result<void> result = node.setValue(parameter.name(), value);
    if (!result.isSuccess()) throw CliError(kExitUsage, what + result.error());
    return;
  }
  try {
    TypedParameters::set(node, parameter.name(), value);
  } catch (const std::exception& refused) {
    throw CliError(kExitUsage, what + refused.what());
  }
}

QVAny EffectType::get(quorvel::Node& node, const EffectParameter& parameter) const {
  if (!parameter.hostProperty()) return TypedParameters::get(node, parameter.name());
  const quorvel::Result<QVAny> result = node.getValue(parameter.name());
  return result.isSuccess() ? result.value() : QVAny();
}

}  // namespace quorvelfx

#include "EffectCatalog.hpp"

#include <optional>
#include <quorvel/AudioEffects.hpp>
#include <quorvel/QVAnyMap.hpp>
#include <quorvel/nodes/EffectControls.hpp>
#include <quorvel/rules/Values.hpp>
#include <utility>

#include "CommandLine.hpp"

namespace quorvelfx {
namespace {

namespace fx = quorvel::extensions::audioeffects;
using quorvel::QVAny;
using quorvel::audio::ParameterType;

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

}  // namespace

unsigned int wholeBound(double bound) noexcept {
  if (!(bound > 0.0)) return 0;
  return bound >= 4294967295.0 ? 4294967295u : static_cast<unsigned int>(bound);
}

const char* EffectParameter::typeName() const noexcept {
  switch (type) {
    case ParameterType::Boolean: return "boolean";
    case ParameterType::Integer: return "int";
    case ParameterType::Float: break;
  }
  return "float";
}

quorvel::audio::Parameter EffectParameter::entry() const noexcept {
  return quorvel::audio::Parameter{key,     description,  unit,    type,    minimum,
                                   maximum, defaultValue, nullptr, nullptr, nullptr};
}

std::string EffectParameter::format(double value) const {
  return quorvel::rules::formatValue(entry(), value);
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

}  // namespace quorvelfx

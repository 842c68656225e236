#pragma once

#include <memory>
#include <quorvel/Node.hpp>
#include <quorvel/NodeFactory.hpp>
#include <quorvel/NodeTypeInfo.hpp>
#include <quorvel/audio/Parameter.hpp>
#include <string>
#include <utility>
#include <vector>

namespace quorvelfx {

// One settable parameter of an effect type, copied from the parameter table
// the effect library publishes, and the way this host reaches it on a node.
struct EffectParameter {
  std::string key;  // e.g. "delayMs"
  std::string description;
  std::string unit;  // "ms", "s", "Hz" or empty
  quorvel::audio::ParameterType type;
  double minimum;
  double maximum;
  double defaultValue;
  // The delay line bounds the value at some sample rates.
  bool rateBound;
  // The node publishes it as a host property (Node::setValue); otherwise it
  // is set through the node's effect controls.
  bool hostProperty;
  // For a rate-bound parameter, the largest value that fits at each of
  // kCommonRates (Hz, value) as the effect states it; empty otherwise.
  std::vector<std::pair<unsigned int, double>> maximaAtRates;

  // The sample rates `describe` shows the limits of a rate-bound parameter at.
  static constexpr unsigned int kCommonRates[] = {44100, 48000, 88200, 96000, 192000};

  // The schema type name: "boolean", "int" or "float".
  const char* typeName() const noexcept;
  // `value` as the rules write it: "200", "0.7", "true".
  std::string format(double value) const;
  // The parameter as the rules layer describes one, without its rate bound;
  // views this parameter's strings, so it must not outlive it.
  quorvel::audio::Parameter entry() const noexcept;
};

// A table bound as the unsigned whole number an integer parameter stores:
// 0 for anything not above 0, at most 4294967295.
unsigned int wholeBound(double bound) noexcept;

// A node type a factory registers, with the parameters its effect publishes.
class EffectType {
 public:
  // Describes `info`, creating one probe node through `factory` to read its
  // parameter table; a node that is none of the effect library's has none.
  EffectType(std::shared_ptr<quorvel::NodeFactory> factory, quorvel::NodeTypeInfo info);

  const quorvel::NodeTypeInfo& info() const noexcept { return info_; }
  // The fully qualified name, type namespace and subtype: what the factory creates.
  std::string fqName() const { return info_.getFQTypeName(); }
  // The subtype: the name users type and messages show.
  const std::string& shortName() const noexcept { return info_.subtype; }
  // True when `name` is this type's short or fully qualified name, ignoring case.
  bool matches(const std::string& name) const;

  // The settable parameters, in table order.
  const std::vector<EffectParameter>& parameters() const noexcept { return parameters_; }
  // A parameter by name, ignoring case; nullptr when there is none.
  const EffectParameter* findParameter(const std::string& name) const;

  // A new node of this type, created by the factory with an empty configuration;
  // throws CliError(kExitProcessing) if the factory returns none.
  std::unique_ptr<quorvel::Node> create() const;
  // Sets `parameter` on `node`, a node of this type, to `value` (as parse()
  // gives it); throws CliError(kExitUsage) when the node refuses it.
  void set(quorvel::Node& node, const EffectParameter& parameter, double value) const;

 private:
  std::shared_ptr<quorvel::NodeFactory> factory_;
  quorvel::NodeTypeInfo info_;
  std::vector<EffectParameter> parameters_;
};

// Every effect node type the loaded extensions register, in registration order.
class EffectCatalog {
 public:
  // Loads the AudioEffects extension into the host's ExtensionManager and
  // collects the node types of every registered extension's factory.
  static EffectCatalog load();

  // All known types.
  const std::vector<EffectType>& types() const noexcept { return types_; }
  // The type called `name` (short or fully qualified, any case); throws
  // CliError(kExitUsage) listing the known names when there is none.
  const EffectType& find(const std::string& name) const;
  // The short names, comma-separated, for messages.
  std::string names() const;

 private:
  std::vector<EffectType> types_;
};

}  // namespace quorvelfx

#pragma once

#include <memory>
#include <quorvel/Node.hpp>
#include <quorvel/NodeFactory.hpp>
#include <quorvel/NodeTypeInfo.hpp>
#include <string>
#include <vector>

#include "EffectParameter.hpp"

namespace quorvelfx {

// A node type a factory registers, with the parameters the tool can set on
// it: its host properties (from the descriptor, or from a probe instance)
// or, for classes without any, their typed setters.
class EffectType {
 public:
  // Describes `info`, creating one probe node through `factory` to learn
  // its parameters and their defaults.
  EffectType(std::shared_ptr<quorvel::NodeFactory> factory, quorvel::NodeTypeInfo info);

  const quorvel::NodeTypeInfo& info() const noexcept { return info_; }
  // "AudioEffects.Chorus".
  std::string fqName() const { return info_.getFQTypeName(); }
  // "Chorus".
  const std::string& shortName() const noexcept { return info_.subtype; }
  // True when `name` is this type's short or fully qualified name, ignoring case.
  bool matches(const std::string& name) const;

  // The settable parameters, in the node's order.
  const std::vector<EffectParameter>& parameters() const noexcept { return parameters_; }
  // A parameter by name, ignoring case; nullptr when there is none.
  const EffectParameter* findParameter(const std::string& name) const;
  // The value each parameter has on a freshly created node, by parameters() index.
  const std::vector<quorvel::QVAny>& defaults() const noexcept { return defaults_; }

  // A new node of this type, created by the factory with an empty configuration;
  // throws CliError(kExitProcessing) if the factory returns none.
  std::unique_ptr<quorvel::Node> create() const;
  // Sets `parameter` on `node`; throws CliError(kExitUsage) when the node refuses it.
  void set(quorvel::Node& node, const EffectParameter& parameter,
           const quorvel::QVAny& value) const;
  // The current value of `parameter` on `node`.
  quorvel::QVAny get(quorvel::Node& node, const EffectParameter& parameter) const;

 private:
  void learnHostProperties(quorvel::Node& probe);

  std::shared_ptr<quorvel::NodeFactory> factory_;
  quorvel::NodeTypeInfo info_;
  std::vector<EffectParameter> parameters_;
  std::vector<quorvel::QVAny> defaults_;
};

}  // namespace quorvelfx

#pragma once

#include <quorvel/QVAny.hpp>
#include <string>

namespace quorvelfx {

// One settable parameter of an effect type: its name, value kind and range,
// and whether the node takes it as a host property (Node::setValue) or
// through a typed setter of its class.
class EffectParameter {
 public:
  enum class Kind { Bool, Int, UInt, Float };

  // A parameter; `min` and `max` bound numeric kinds and are ignored for Bool.
  EffectParameter(std::string name, Kind kind, std::string description, std::string unit,
                  double min, double max, bool hostProperty);

  // The node's own name for the parameter, e.g. "delayMs".
  const std::string& name() const noexcept { return name_; }
  Kind kind() const noexcept { return kind_; }
  // The schema type name: "boolean", "int" or "float".
  std::string kindName() const;
  const std::string& description() const noexcept { return description_; }
  // Unit of the value ("ms", "s", "Hz"), empty when it has none.
  const std::string& unit() const noexcept { return unit_; }
  // Smallest accepted value (numeric kinds).
  double min() const noexcept { return min_; }
  // Largest accepted value (numeric kinds).
  double max() const noexcept { return max_; }
  // True when set through Node::setValue; false for a typed setter.
  bool hostProperty() const noexcept { return hostProperty_; }

  // The strictly parsed and range-checked value of `text`, held in the QVAny
  // kind the node expects; throws std::invalid_argument saying what is wrong.
  quorvel::QVAny parse(const std::string& text) const;
  // `value` as short text, e.g. "200", "0.7", "true".
  static std::string format(const quorvel::QVAny& value);

 private:
  std::string name_;
  Kind kind_;
  std::string description_;
  std::string unit_;
  double min_;
  double max_;
  bool hostProperty_;
};

}  // namespace quorvelfx

#pragma once

#include <cstddef>
#include <string_view>

#include "quorvel/audio/Export.hpp"

namespace quorvel::audio {

class Effect;

// The kind of value a parameter holds.
enum class ParameterType {
  Boolean,  // off (0) or on (1)
  Integer,  // a whole number, stored unsigned
  Float,    // a 32-bit float
};

// One parameter of an effect: the facts every client shows and checks
// (command line, plugin ports, Python keywords, host property schemas), and
// the effect's own getter and setter. Values travel as double, which holds
// every bool, unsigned int and float exactly.
struct Parameter {
  // Name in code, on the command line and in property maps, e.g. "delayMs".
  std::string_view key;
  // One sentence for users.
  std::string_view description;
  // "ms", "s", "Hz", or empty for a plain gain or a switch.
  std::string_view unit;
  ParameterType type;
  // Range users may choose from; the effect itself stores any value.
  double minimum;
  double maximum;
  // Value of a new effect.
  double defaultValue;
  // The largest value that fits the effect's delay line at a sample rate (Hz),
  // or nullptr when the range does not depend on the rate.
  double (*maximumAt)(unsigned int sampleRate) noexcept;
  // The current value on `effect`, which must be of the table's own type.
  double (*get)(const Effect& effect) noexcept;
  // Stores `value` (converted to the parameter's type) on `effect`, which
  // must be of the table's own type. Thread-safe: parameters are atomics.
  void (*set)(Effect& effect, double value) noexcept;
};

// A read-only view of one effect's parameter table, in table order.
class QUORVEL_DSP_API ParameterTable {
 public:
  constexpr ParameterTable(const Parameter* first, std::size_t count) noexcept
      : first_(first), count_(count) {}

  const Parameter* begin() const noexcept { return first_; }
  const Parameter* end() const noexcept { return first_ + count_; }
  std::size_t size() const noexcept { return count_; }
  const Parameter& operator[](std::size_t index) const noexcept { return first_[index]; }
  // The parameter named `key`, or nullptr.
  const Parameter* find(std::string_view key) const noexcept;

 private:
  const Parameter* first_;
  std::size_t count_;
};

// `value` converted to what a parameter of `type` stores, then back to
// double: 0 or 1, a whole number in [0, 2^32 - 1] (NaN gives 0), or the
// nearest float.
QUORVEL_DSP_API double storedValue(ParameterType type, double value) noexcept;

}  // namespace quorvel::audio

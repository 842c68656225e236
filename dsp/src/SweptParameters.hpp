#pragma once

#include <array>

#include "quorvel/audio/Parameter.hpp"
#include "quorvel/audio/SweptDelay.hpp"

// The parameter table the three swept effects share in shape: on/off, sweep
// width and sweep frequency, each effect with its own texts and defaults.
namespace quorvel::audio::detail {

inline SweptDelay& swept(Effect& effect) noexcept { return static_cast<SweptDelay&>(effect); }
inline const SweptDelay& swept(const Effect& effect) noexcept {
  return static_cast<const SweptDelay&>(effect);
}

// `widthLimit` gives the longest sweep width at a rate for the effect's fixed delay.
constexpr std::array<Parameter, 3> sweptParameters(std::string_view enabledText, double width,
                                                   double frequency,
                                                   double (*widthLimit)(unsigned int) noexcept) {
  return {{
      {"enabled", enabledText, "", ParameterType::Boolean, 0, 1, 1, nullptr,
       [](const Effect& e) noexcept { return static_cast<double>(swept(e).getIsEnabled()); },
       [](Effect& e, double v) noexcept { swept(e).setIsEnabled(v != 0.0); }},
      {"sweepWidth", "The largest swept delay in seconds.", "s", ParameterType::Float, 0, 0.5,
       width, widthLimit,
       [](const Effect& e) noexcept { return static_cast<double>(swept(e).getSweepWidth()); },
       [](Effect& e, double v) noexcept { swept(e).setSweepWidth(static_cast<float>(v)); }},
      {"frequency", "The sweep frequency of the oscillator in hertz.", "Hz", ParameterType::Float,
       0, 20, frequency, nullptr,
       [](const Effect& e) noexcept { return static_cast<double>(swept(e).getFrequency()); },
       [](Effect& e, double v) noexcept { swept(e).setFrequency(static_cast<float>(v)); }},
  }};
}

}  // namespace quorvel::audio::detail

#pragma once

#include <array>
#include <string_view>

#include "quorvel/audio/Delay.hpp"
#include "quorvel/audio/Parameter.hpp"

// The parameter table the two echo effects share in shape: on/off, delay
// time, dry and wet gains, feedback. `Echo` is the effect class; its typed
// accessors have the same names in both.
namespace quorvel::audio::detail {

template <typename Echo>
constexpr std::array<Parameter, 5> echoParameters(std::string_view enabledText,
                                                  double shortestDelayMs) {
  using E = Effect;
  return {{
      {"enabled", enabledText, "", ParameterType::Boolean, 0, 1, 1, nullptr,
       [](const E& e) noexcept {
         return static_cast<double>(static_cast<const Echo&>(e).getIsEnabled());
       },
       [](E& e, double v) noexcept { static_cast<Echo&>(e).setIsEnabled(v != 0.0); }},
      {"delayMs", "The delay time in milliseconds.", "ms", ParameterType::Integer, shortestDelayMs,
       1000, 200, &Delay::maxDelayMs,
       [](const E& e) noexcept {
         return static_cast<double>(static_cast<const Echo&>(e).getDelayMs());
       },
       [](E& e, double v) noexcept {
         static_cast<Echo&>(e).setDelayMs(
             static_cast<unsigned int>(storedValue(ParameterType::Integer, v)));
       }},
      {"dryMix", "Level of the dry signal. 0 means no dry signal, 1 means maximum dry signal.", "",
       ParameterType::Float, 0, 1, 0.7, nullptr,
       [](const E& e) noexcept {
         return static_cast<double>(static_cast<const Echo&>(e).getDryMix());
       },
       [](E& e, double v) noexcept { static_cast<Echo&>(e).setDryMix(static_cast<float>(v)); }},
      {"wetMix", "Level of the wet signal. 0 means no wet signal, 1 means maximum wet signal.", "",
       ParameterType::Float, 0, 1, 0.3, nullptr,
       [](const E& e) noexcept {
         return static_cast<double>(static_cast<const Echo&>(e).getWetMix());
       },
       [](E& e, double v) noexcept { static_cast<Echo&>(e).setWetMix(static_cast<float>(v)); }},
      {"feedbackLevel",
       "The feedback level of the delay. 0 means no feedback, 1 means maximum feedback.", "",
       ParameterType::Float, 0, 0.99, 0.2, nullptr,
       [](const E& e) noexcept {
         return static_cast<double>(static_cast<const Echo&>(e).getFeedbackLevel());
       },
       [](E& e, double v) noexcept {
         static_cast<Echo&>(e).setFeedbackLevel(static_cast<float>(v));
       }},
  }};
}

}  // namespace quorvel::audio::detail

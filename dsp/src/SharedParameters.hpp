#pragma once

#include <string_view>

// Descriptions the two echo effects share.
namespace quorvel::audio::shared {

inline constexpr std::string_view kDelayTimeText = "The delay time in milliseconds.";
inline constexpr std::string_view kDryMixText =
    "Level of the dry signal. 0 means no dry signal, 1 means maximum dry signal.";
inline constexpr std::string_view kWetMixText =
    "Level of the wet signal. 0 means no wet signal, 1 means maximum wet signal.";
inline constexpr std::string_view kFeedbackText =
    "The feedback level of the delay. 0 means no feedback, 1 means maximum feedback.";

}  // namespace quorvel::audio::shared

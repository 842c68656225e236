#include "quorvel/rules/Inputs.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>

namespace quorvel::rules {

namespace {

std::string layout(std::uint64_t channels) {
  if (channels == 1) return "1 (mono)";
  if (channels == 2) return "2 (stereo)";
  return std::to_string(channels);
}

std::string wanted(const audio::EffectInfo& type) {
  const unsigned int least = type.minimumChannels;
  const unsigned int most = type.maximumChannels;
  if (least == most)
    return std::to_string(least) + (least == 2 ? " channels (stereo)" : " channels");
  if (least == 1 && most == 2) return "1 or 2 channels (mono or stereo)";
  return std::to_string(least) + " to " + std::to_string(most) + " channels";
}

}  // namespace

unsigned int checkedRate(double rate) {
  if (!(rate >= kMinimumRate && rate <= kMaximumRate && std::trunc(rate) == rate)) {
    throw RuleError("sample rate " + formatNumber(rate) + " Hz: takes a whole number of Hz from " +
                    std::to_string(kMinimumRate) + " to " + std::to_string(kMaximumRate));
  }
  return static_cast<unsigned int>(rate);
}

void checkChannels(const audio::EffectInfo& type, std::uint64_t channels) {
  if (channels >= type.minimumChannels && channels <= type.maximumChannels) return;
  std::string message = std::string(type.name) + ": takes " + wanted(type);
  if (channels == 0) throw RuleError(message + "; the input has none");
  message += "; the input has " + layout(channels);
  if (channels < type.minimumChannels && type.minimumChannels == 2) {
    message += ": make a stereo copy first (the same signal in both channels)";
  } else if (channels > type.maximumChannels) {
    message += ": split it into parts of at most " + std::to_string(type.maximumChannels) +
               " channels first";
  }
  throw RuleError(message);
}

std::string limitText(const audio::Parameter& parameter, double limit) {
  char text[64];
  if (parameter.unit == "s") {
    std::snprintf(text, sizeof text, "%.3f", std::floor(limit * 1000.0) / 1000.0);
  } else if (parameter.unit == "ms" || parameter.type == audio::ParameterType::Integer) {
    std::snprintf(text, sizeof text, "%.0f", std::floor(limit));
  } else {
    std::snprintf(text, sizeof text, "%g", limit);
  }
  std::string shown(text);
  // The C library writes the locale's decimal point; users type a dot.
  for (char& c : shown) {
    if (c == ',') c = '.';
  }
  return parameter.unit.empty() ? shown : shown + " " + std::string(parameter.unit);
}

void checkFits(const audio::EffectControls& effect, unsigned int rate) {
  if (effect.isBypassed()) return;
  for (const audio::Parameter& parameter : effect.parameters()) {
    if (parameter.maximumAt == nullptr) continue;
    const std::optional<double> value = effect.get(parameter.key);
    const std::optional<double> limit = effect.maximumAt(parameter.key, rate);
    if (!value || !limit || *value <= *limit) continue;
    throw RuleError(std::string(effect.info().name) + ": " + std::string(parameter.key) + "=" +
                    formatValue(parameter, *value) + " does not fit the delay line at " +
                    std::to_string(rate) + " Hz (at most " + limitText(parameter, *limit) + ")");
  }
}

std::uint64_t tailFrames(const std::vector<const audio::EffectControls*>& chain,
                         unsigned int rate) {
  const double longest = kMaximumTailSeconds * rate;
  double total = 0.0;
  for (const audio::EffectControls* effect : chain) {
    // What the latency holds back comes out only after the input ends.
    total += effect->latencySamples(rate) + effect->tailSamples(rate, kTailLevel);
  }
  // An effect that never decays says so with infinity.
  if (!(total < longest)) total = longest;
  return static_cast<std::uint64_t>(std::ceil(std::max(total, 0.0)));
}

}  // namespace quorvel::rules

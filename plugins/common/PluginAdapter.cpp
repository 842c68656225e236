#include "PluginAdapter.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <quorvel/rules/Inputs.hpp>
#include <string>

namespace quorvel::plugins {

namespace {

Variant makeVariant(const audio::EffectInfo& info, const PublishedNames& names) {
  const std::unique_ptr<audio::Effect> effect = audio::makeEffect(info.name, names.channels);
  Variant v{&info,
            effect->parameters(),
            names.channels,
            std::string(names.slug),
            std::string(names.uri),
            std::string(names.label),
            names.ladspaId,
            "Quorvel " + std::string(info.displayName) + (names.channels == 1 ? " (mono)" : ""),
            false};
  // An effect that delays its signal does so at its defaults already.
  v.reportsLatency = effect->latencySamples(48000) > 0.0;
  return v;
}

std::vector<Variant> allVariants() {
  std::vector<Variant> out;
  for (const PublishedNames& names : publishedNames()) {
    // A row whose effect has left the registry keeps its names retired.
    if (const audio::EffectInfo* info = audio::findEffectType(names.effect)) {
      out.push_back(makeVariant(*info, names));
    }
  }
  return out;
}

}  // namespace

const std::vector<PublishedNames>& publishedNames() {
  // Written out rather than counted off the registry, so that a new effect
  // takes new IDs at the end instead of renumbering the mono plugins.
  static const std::vector<PublishedNames> rows{
      {"Delay", 2, "delay", "https://quorvel.example/plugins/delay", "quorvel_delay", 4711300},
      {"PingPongDelay", 2, "ping-pong-delay", "https://quorvel.example/plugins/ping-pong-delay",
       "quorvel_ping_pong_delay", 4711301},
      {"Vibrato", 2, "vibrato", "https://quorvel.example/plugins/vibrato", "quorvel_vibrato",
       4711302},
      {"Flanger", 2, "flanger", "https://quorvel.example/plugins/flanger", "quorvel_flanger",
       4711303},
      {"Chorus", 2, "chorus", "https://quorvel.example/plugins/chorus", "quorvel_chorus", 4711304},
      // The ping-pong delay is stereo by nature: no mono plugin.
      {"Delay", 1, "delay-mono", "https://quorvel.example/plugins/delay-mono", "quorvel_delay_mono",
       4711305},
      {"Vibrato", 1, "vibrato-mono", "https://quorvel.example/plugins/vibrato-mono",
       "quorvel_vibrato_mono", 4711306},
      {"Flanger", 1, "flanger-mono", "https://quorvel.example/plugins/flanger-mono",
       "quorvel_flanger_mono", 4711307},
      {"Chorus", 1, "chorus-mono", "https://quorvel.example/plugins/chorus-mono",
       "quorvel_chorus_mono", 4711308},
  };
  return rows;
}

const std::vector<Variant>& variants() {
  static const std::vector<Variant> all = allVariants();
  return all;
}

double controlValue(const audio::Parameter& parameter, float raw, double upper) noexcept {
  // The default too is held to the rate's limit below.
  double value = std::isnan(raw) ? parameter.defaultValue : raw;
  if (parameter.type == audio::ParameterType::Boolean) return value > 0.0 ? 1.0 : 0.0;
  if (parameter.type == audio::ParameterType::Integer) value = std::round(value);
  value = std::clamp(value, parameter.minimum, upper);
  double stored = audio::storedValue(parameter.type, value);
  // A float may round above a rate's limit; the limit must hold.
  if (stored > upper) {
    stored = std::nextafter(static_cast<float>(upper), -std::numeric_limits<float>::infinity());
  }
  return stored;
}

std::unique_ptr<Instance> Instance::create(const Variant& variant, double sampleRate) {
  unsigned int rate = 0;
  try {
    rate = rules::checkedRate(sampleRate);
  } catch (const rules::RuleError&) {
    return nullptr;
  }
  return std::unique_ptr<Instance>(new Instance(variant, rate));
}

Instance::Instance(const Variant& variant, unsigned int sampleRate)
    : variant_(variant),
      rate_(sampleRate),
      effect_(audio::makeEffect(variant.info->name, variant.channels)),
      inputs_(variant.channels, nullptr),
      outputs_(variant.channels, nullptr),
      controls_(variant.parameters.size(), nullptr),
      applied_(variant.parameters.size(), std::numeric_limits<double>::quiet_NaN()),
      upper_(variant.parameters.size()) {
  for (std::size_t i = 0; i < variant.parameters.size(); ++i) {
    const audio::Parameter& p = variant.parameters[i];
    upper_[i] = effect_->maximumAt(p.key, rate_).value_or(p.maximum);
  }
  effect_->prepare(rate_, variant.channels);
}

void Instance::connect(std::uint32_t port, void* data) noexcept {
  const unsigned int channels = variant_.channels;
  if (port < channels) {
    inputs_[port] = static_cast<const float*>(data);
  } else if (port < 2 * channels) {
    outputs_[port - channels] = static_cast<float*>(data);
  } else if (port < variant_.latencyPort()) {
    controls_[port - 2 * channels] = static_cast<const float*>(data);
  } else if (variant_.reportsLatency && port == variant_.latencyPort()) {
    latency_ = static_cast<float*>(data);
  }
}

void Instance::activate() noexcept { effect_->reset(); }

void Instance::pushControls() noexcept {
  for (std::size_t i = 0; i < controls_.size(); ++i) {
    const audio::Parameter& p = variant_.parameters[i];
    // An unconnected control keeps the default.
    const float raw = controls_[i] ? *controls_[i] : std::numeric_limits<float>::quiet_NaN();
    const double value = controlValue(p, raw, upper_[i]);
    if (value != applied_[i]) {
      p.set(*effect_, value);
      applied_[i] = value;
    }
  }
}

void Instance::run(std::uint32_t frames) noexcept {
  pushControls();
  if (latency_) *latency_ = static_cast<float>(effect_->latencySamples(rate_));
  if (frames == 0) return;
  for (unsigned int c = 0; c < variant_.channels; ++c) {
    if (!inputs_[c] || !outputs_[c]) return;
  }
  effect_->process(inputs_.data(), outputs_.data(), variant_.channels, frames);
}

}  // namespace quorvel::plugins

#include "PluginAdapter.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>

namespace quorvel::plugins {

namespace {

// "PingPongDelay" -> "ping-pong-delay".
std::string kebab(std::string_view name) {
  std::string out;
  for (const char c : name) {
    if (std::isupper(static_cast<unsigned char>(c)) && !out.empty()) out += '-';
    out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

Variant makeVariant(const audio::EffectInfo& info, unsigned int channels, unsigned long id) {
  Variant v{
      &info, audio::makeEffect(info.name, channels)->parameters(), channels, {}, {}, {}, id, {},
      false};
  const std::string base = kebab(info.name);
  v.slug = channels == 1 ? base + "-mono" : base;
  v.uri = std::string(kUriBase) + v.slug;
  v.label = "quorvel_" + v.slug;
  std::replace(v.label.begin(), v.label.end(), '-', '_');
  v.name = "Quorvel " + std::string(info.displayName) + (channels == 1 ? " (mono)" : "");
  // An effect that delays its signal does so at its defaults already.
  v.reportsLatency = audio::makeEffect(info.name, channels)->latencySamples(48000) > 0.0;
  return v;
}

std::vector<Variant> allVariants() {
  std::vector<Variant> out;
  unsigned long id = kLadspaFirstId;
  for (const audio::EffectInfo* info : audio::effectTypes())
    out.push_back(makeVariant(*info, 2, id++));
  for (const audio::EffectInfo* info : audio::effectTypes()) {
    // The ping-pong delay keeps two channels whatever it is asked for: no mono form.
    if (audio::makeEffect(info->name, 1)->getNumChannels() == 1) {
      out.push_back(makeVariant(*info, 1, id++));
    }
  }
  return out;
}

}  // namespace

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
  if (!(sampleRate >= kMinimumRate && sampleRate <= kMaximumRate)) return nullptr;
  return std::unique_ptr<Instance>(
      new Instance(variant, static_cast<unsigned int>(std::lround(sampleRate))));
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
    upper_[i] = p.maximumAt ? std::min(p.maximum, p.maximumAt(rate_)) : p.maximum;
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

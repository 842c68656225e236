#include "quorvel/audio/Effect.hpp"

#include <cctype>
#include <cmath>

#include "quorvel/audio/Chorus.hpp"
#include "quorvel/audio/Delay.hpp"
#include "quorvel/audio/Flanger.hpp"
#include "quorvel/audio/PingPongDelay.hpp"
#include "quorvel/audio/Vibrato.hpp"

namespace quorvel::audio {

namespace {

bool sameName(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

const Parameter* ParameterTable::find(std::string_view key) const noexcept {
  for (const Parameter& parameter : *this) {
    if (parameter.key == key) return &parameter;
  }
  return nullptr;
}

double storedValue(ParameterType type, double value) noexcept {
  switch (type) {
    case ParameterType::Boolean: return value != 0.0 ? 1.0 : 0.0;
    case ParameterType::Integer:
      if (!(value > 0.0)) return 0.0;
      return value >= 4294967295.0 ? 4294967295.0 : std::trunc(value);
    case ParameterType::Float: return static_cast<double>(static_cast<float>(value));
  }
  return value;
}

EffectControls::~EffectControls() = default;

std::optional<double> EffectControls::get(std::string_view key) const noexcept {
  const Parameter* parameter = parameters().find(key);
  if (parameter == nullptr) return std::nullopt;
  return parameter->get(static_cast<const Effect&>(*this));
}

bool EffectControls::set(std::string_view key, double value) noexcept {
  const Parameter* parameter = parameters().find(key);
  if (parameter == nullptr) return false;
  parameter->set(static_cast<Effect&>(*this), value);
  return true;
}

double EffectControls::latencySamples(unsigned int) const noexcept { return 0.0; }

std::optional<double> EffectControls::maximumAt(std::string_view key,
                                                unsigned int sampleRate) const noexcept {
  const Parameter* parameter = parameters().find(key);
  if (parameter == nullptr) return std::nullopt;
  if (parameter->maximumAt == nullptr) return parameter->maximum;
  return std::fmin(parameter->maximum, parameter->maximumAt(sampleRate));
}

std::vector<const EffectInfo*> effectTypes() {
  return {&Delay::typeInfo(), &PingPongDelay::typeInfo(), &Vibrato::typeInfo(),
          &Flanger::typeInfo(), &Chorus::typeInfo()};
}

const EffectInfo* findEffectType(std::string_view name) noexcept {
  for (const EffectInfo* info : {&Delay::typeInfo(), &PingPongDelay::typeInfo(),
                                 &Vibrato::typeInfo(), &Flanger::typeInfo(), &Chorus::typeInfo()}) {
    if (sameName(name, info->name)) return info;
  }
  return nullptr;
}

std::unique_ptr<Effect> makeEffect(std::string_view name, unsigned int channels) {
  if (sameName(name, Delay::typeInfo().name)) return std::make_unique<Delay>(channels);
  if (sameName(name, PingPongDelay::typeInfo().name)) return std::make_unique<PingPongDelay>();
  if (sameName(name, Vibrato::typeInfo().name)) return std::make_unique<Vibrato>(channels);
  if (sameName(name, Flanger::typeInfo().name)) return std::make_unique<Flanger>(channels);
  if (sameName(name, Chorus::typeInfo().name)) return std::make_unique<Chorus>(channels);
  return nullptr;
}

}  // namespace quorvel::audio

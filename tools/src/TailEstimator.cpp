#include "TailEstimator.hpp"

#include <algorithm>
#include <cmath>
#include <optional>

namespace quorvelfx {
namespace {

// The chorus reads around a fixed delay of this many samples.
constexpr double kChorusBaseDelaySamples = 1002.0;
// The flanger's fixed feedback gain.
constexpr double kFlangerFeedback = 0.6;
// -60 dB as a gain.
constexpr double kDecayGain = 0.001;

std::optional<double> numeric(const EffectType& type, quorvel::Node& node,
                              const std::string& name) {
  const EffectParameter* parameter = type.findParameter(name);
  if (parameter == nullptr) return std::nullopt;
  const quorvel::QVAny value = type.get(node, *parameter);
  try {
    return static_cast<double>(quorvel::QVAny::convert<float>(value));
  } catch (const std::invalid_argument&) {
    return std::nullopt;
  }
}

// A recirculating delay of `delay` seconds with loop gain `feedback` has
// decayed by 60 dB after ceil(log(0.001) / log(feedback)) round trips.
double echoTail(double delay, double feedback) {
  if (feedback <= 0.0) return delay;
  if (feedback >= 1.0) return TailEstimator::kMaximumSeconds;
  const double trips = std::ceil(std::log(kDecayGain) / std::log(feedback));
  return delay * trips + delay;
}

}  // namespace

double TailEstimator::effectSeconds(const EffectType& type, quorvel::Node& node,
                                    unsigned int sampleRate) {
  const EffectParameter* enabled = type.findParameter("enabled");
  if (enabled != nullptr) {
    const quorvel::QVAny value = type.get(node, *enabled);
    if (value.type() == quorvel::QVAny::Type::Bool && !quorvel::QVAny::convert<bool>(value)) {
      return 0.0;
    }
  }
  const std::optional<double> delayMs = numeric(type, node, "delayMs");
  if (delayMs) return echoTail(*delayMs / 1000.0, numeric(type, node, "feedbackLevel").value_or(0));
  const double sweep = numeric(type, node, "sweepWidth").value_or(0.0);
  const std::string& name = type.shortName();
  if (name == "Flanger") return echoTail(sweep, kFlangerFeedback);
  if (name == "Chorus") return kChorusBaseDelaySamples / sampleRate + sweep;
  return sweep;
}

double TailEstimator::chainSeconds(const EffectChain& chain, unsigned int sampleRate) {
  double total = 0.0;
  for (std::size_t i = 0; i < chain.size(); ++i) {
    total += effectSeconds(chain.type(i), chain.node(i), sampleRate);
  }
  return std::clamp(total, 0.0, kMaximumSeconds);
}

}  // namespace quorvelfx

#include "TypedParameters.hpp"

#include <quorvel/nodes/ChorusNode.hpp>
#include <quorvel/nodes/DelayNode.hpp>
#include <quorvel/nodes/FlangerNode.hpp>
#include <quorvel/nodes/VibratoNode.hpp>
#include <stdexcept>

namespace quorvelfx {
namespace {

namespace fx = quorvel::extensions::audioeffects;
using quorvel::QVAny;
using Kind = EffectParameter::Kind;

// The nodes' setters take any value; these ranges are what the tool accepts,
// matching the ping-pong delay's published schema for the delay parameters.
// The delay lines hold one second at 48 kHz, which bounds delayMs and the
// sweep width (checked again against the file's sample rate before processing).
std::vector<EffectParameter> delayParameters() {
  return {
      EffectParameter("enabled", Kind::Bool, "Enable or disable the delay effect.", "", 0, 1,
                      false),
      EffectParameter("delayMs", Kind::UInt,
                      "The delay time in milliseconds; 0 bypasses the effect.", "ms", 0, 1000,
                      false),
      EffectParameter("dryMix", Kind::Float, "Level of the dry signal (linear gain).", "", 0, 1,
                      false),
      EffectParameter("wetMix", Kind::Float, "Level of the delayed signal (linear gain).", "", 0, 1,
                      false),
      EffectParameter("feedbackLevel", Kind::Float,
                      "Share of the delayed signal fed back into the delay line.", "", 0, 0.99,
                      false),
  };
}

std::vector<EffectParameter> sweptParameters(const std::string& effect) {
  return {
      EffectParameter("enabled", Kind::Bool, "Enable or disable the " + effect + " effect.", "", 0,
                      1, false),
      EffectParameter("sweepWidth", Kind::Float, "Largest swept delay in seconds.", "s", 0, 0.5,
                      false),
      EffectParameter("frequency", Kind::Float, "Sweep frequency of the oscillator.", "Hz", 0, 20,
                      false),
  };
}

void setDelay(fx::DelayNode& node, const std::string& name, const QVAny& value) {
  if (name == "enabled") return node.setIsEnabled(QVAny::convert<bool>(value));
  if (name == "delayMs") return node.setDelayMs(QVAny::convert<unsigned int>(value));
  if (name == "dryMix") return node.setDryMix(QVAny::convert<float>(value));
  if (name == "wetMix") return node.setWetMix(QVAny::convert<float>(value));
  if (name == "feedbackLevel") return node.setFeedbackLevel(QVAny::convert<float>(value));
  throw std::invalid_argument("no such parameter");
}

QVAny getDelay(const fx::DelayNode& node, const std::string& name) {
  if (name == "enabled") return QVAny(node.getIsEnabled());
  if (name == "delayMs") return QVAny(node.getDelayMs());
  if (name == "dryMix") return QVAny(node.getDryMix());
  if (name == "wetMix") return QVAny(node.getWetMix());
  if (name == "feedbackLevel") return QVAny(node.getFeedbackLevel());
  return QVAny();
}

// Chorus, flanger and vibrato share the same three parameters.
template <typename SweptNode>
void setSwept(SweptNode& node, const std::string& name, const QVAny& value) {
  if (name == "enabled") return node.setIsEnabled(QVAny::convert<bool>(value));
  if (name == "sweepWidth") return node.setSweepWidth(QVAny::convert<float>(value));
  if (name == "frequency") return node.setFrequency(QVAny::convert<float>(value));
  throw std::invalid_argument("no such parameter");
}

template <typename SweptNode>
QVAny getSwept(const SweptNode& node, const std::string& name) {
  if (name == "enabled") return QVAny(node.getIsEnabled());
  if (name == "sweepWidth") return QVAny(node.getSweepWidth());
  if (name == "frequency") return QVAny(node.getFrequency());
  return QVAny();
}

}  // namespace

std::vector<EffectParameter> TypedParameters::describe(quorvel::Node& node) {
  if (dynamic_cast<fx::DelayNode*>(&node)) return delayParameters();
  if (dynamic_cast<fx::ChorusNode*>(&node)) return sweptParameters("chorus");
  if (dynamic_cast<fx::FlangerNode*>(&node)) return sweptParameters("flanger");
  if (dynamic_cast<fx::VibratoNode*>(&node)) return sweptParameters("vibrato");
  return {};
}

void TypedParameters::set(quorvel::Node& node, const std::string& name, const QVAny& value) {
  if (auto* delay = dynamic_cast<fx::DelayNode*>(&node)) return setDelay(*delay, name, value);
  if (auto* chorus = dynamic_cast<fx::ChorusNode*>(&node)) return setSwept(*chorus, name, value);
  if (auto* flanger = dynamic_cast<fx::FlangerNode*>(&node)) {
    return setSwept(*flanger, name, value);
  }
  if (auto* vibrato = dynamic_cast<fx::VibratoNode*>(&node)) {
    return setSwept(*vibrato, name, value);
  }
  throw std::invalid_argument("the node has no typed parameters");
}

QVAny TypedParameters::get(quorvel::Node& node, const std::string& name) {
  if (auto* delay = dynamic_cast<fx::DelayNode*>(&node)) return getDelay(*delay, name);
  if (auto* chorus = dynamic_cast<fx::ChorusNode*>(&node)) return getSwept(*chorus, name);
  if (auto* flanger = dynamic_cast<fx::FlangerNode*>(&node)) return getSwept(*flanger, name);
  if (auto* vibrato = dynamic_cast<fx::VibratoNode*>(&node)) return getSwept(*vibrato, name);
  return QVAny();
}

}  // namespace quorvelfx

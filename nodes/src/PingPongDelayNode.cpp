#include "quorvel/nodes/PingPongDelayNode.hpp"

#include <string>

#include "NodeSupport.hpp"
#include "quorvel/QVAny.hpp"
#include "quorvel/Result.hpp"
#include "quorvel/audio/PingPongDelay.hpp"

namespace quorvel::extensions::audioeffects {

namespace {

using audio::ParameterType;

// The property schema of one parameter, in the host's vocabulary: a switch
// lists description, type, readOnly and default; a number description,
// type, default, min, max and readOnly. Integers are published as int.
QVAnyMap propertySchema(const audio::Parameter& parameter) {
  const QVAny description(std::string(parameter.description));
  switch (parameter.type) {
    case ParameterType::Boolean:
      return QVAnyMap{{PROPERTY_FIELD_DESCRIPTION, description},
                      {PROPERTY_FIELD_TYPE, QVAny(PROPERTY_TYPE_BOOLEAN)},
                      {PROPERTY_FIELD_READ_ONLY, QVAny(false)},
                      {PROPERTY_FIELD_DEFAULT_VALUE, QVAny(parameter.defaultValue != 0.0)}};
    case ParameterType::Integer:
      return QVAnyMap{
          {PROPERTY_FIELD_DESCRIPTION, description},
          {PROPERTY_FIELD_TYPE, QVAny(PROPERTY_TYPE_INT)},
          {PROPERTY_FIELD_DEFAULT_VALUE, QVAny(static_cast<int>(parameter.defaultValue))},
          {PROPERTY_FIELD_MIN_VALUE, QVAny(static_cast<int>(parameter.minimum))},
          {PROPERTY_FIELD_MAX_VALUE, QVAny(static_cast<int>(parameter.maximum))},
          {PROPERTY_FIELD_READ_ONLY, QVAny(false)}};
    case ParameterType::Float: break;
  }
  return QVAnyMap{{PROPERTY_FIELD_DESCRIPTION, description},
                  {PROPERTY_FIELD_TYPE, QVAny(PROPERTY_TYPE_FLOAT)},
                  {PROPERTY_FIELD_DEFAULT_VALUE, QVAny(static_cast<float>(parameter.defaultValue))},
                  {PROPERTY_FIELD_MIN_VALUE, QVAny(static_cast<float>(parameter.minimum))},
                  {PROPERTY_FIELD_MAX_VALUE, QVAny(static_cast<float>(parameter.maximum))},
                  {PROPERTY_FIELD_READ_ONLY, QVAny(false)}};
}

// The property's value as the host sees it: bool, unsigned int or float.
QVAny propertyValue(ParameterType type, double value) {
  switch (type) {
    case ParameterType::Boolean: return QVAny(value != 0.0);
    case ParameterType::Integer: return QVAny(static_cast<unsigned int>(value));
    case ParameterType::Float: break;
  }
  return QVAny(static_cast<float>(value));
}

// A property value converted the way the host converts it for that type; a
// failed conversion throws before anything is stored.
double parameterValue(ParameterType type, const QVAny& value) {
  switch (type) {
    case ParameterType::Boolean: return QVAny::convert<bool>(value) ? 1.0 : 0.0;
    case ParameterType::Integer: return QVAny::convert<unsigned int>(value);
    case ParameterType::Float: break;
  }
  return QVAny::convert<float>(value);
}

}  // namespace

struct PingPongDelayNode::Internals : nodes::EffectBlock<audio::PingPongDelay> {};

PingPongDelayNode::PingPongDelayNode(const QVAnyMap& /*configuration*/)
    : SingleBusAudioProcessorNode(1, 1), internals(std::make_unique<Internals>()) {
  // Every parameter of the effect's table is a host property. Each schema is
  // read back from this node type's own descriptor, so the host sees exactly
  // what the type publishes.
  audio::Effect& effect = internals->effect;
  for (const audio::Parameter& parameter : audio::PingPongDelay::parameterTable()) {
    const std::string name(parameter.key);
    const audio::Parameter* entry = &parameter;
    QVAny getter(QVAny::Getter([entry, &effect] {
      return Result<QVAny>::success(propertyValue(entry->type, entry->get(effect)));
    }));
    QVAny setter(QVAny::Setter([entry, &effect](const QVAny& value) {
      entry->set(effect, parameterValue(entry->type, value));
      return Result<void>::success();
    }));
    const QVAnyMap descriptor = getNodeTypeInfo().getProperty(name);
    registerProperty(name, descriptor, getter, setter);
  }
}

PingPongDelayNode::~PingPongDelayNode() = default;

NodeTypeInfo PingPongDelayNode::getNodeTypeInfo() {
  NodeTypeInfo info = nodes::effectTypeInfo(audio::PingPongDelay::typeInfo());
  for (const audio::Parameter& parameter : audio::PingPongDelay::parameterTable()) {
    info.properties.set(std::string(parameter.key), QVAny(propertySchema(parameter)));
  }
  return info;
}

bool PingPongDelayNode::getIsEnabled() const noexcept { return internals->effect.getIsEnabled(); }
unsigned int PingPongDelayNode::getDelayMs() const noexcept {
  return internals->effect.getDelayMs();
}
float PingPongDelayNode::getDryMix() const noexcept { return internals->effect.getDryMix(); }
float PingPongDelayNode::getWetMix() const noexcept { return internals->effect.getWetMix(); }
float PingPongDelayNode::getFeedbackLevel() const noexcept {
  return internals->effect.getFeedbackLevel();
}

void PingPongDelayNode::setIsEnabled(bool isEnabled) noexcept {
  internals->effect.setIsEnabled(isEnabled);
}
void PingPongDelayNode::setDelayMs(unsigned int delayMs) noexcept {
  internals->effect.setDelayMs(delayMs);
}
void PingPongDelayNode::setDryMix(float dryMix) noexcept { internals->effect.setDryMix(dryMix); }
void PingPongDelayNode::setWetMix(float wetMix) noexcept { internals->effect.setWetMix(wetMix); }
void PingPongDelayNode::setFeedbackLevel(float feedbackLevel) noexcept {
  internals->effect.setFeedbackLevel(feedbackLevel);
}

audio::EffectControls& PingPongDelayNode::controls() noexcept { return internals->effect; }

// Matching formats of exactly two channels: the lines are left and right.
bool PingPongDelayNode::setBusFormat(AudioBusFormat& inputFormat, AudioBusFormat& outputFormat) {
  if (!AudioBusFormat::matchBusFormats(inputFormat, outputFormat)) return false;
  return inputFormat.numberOfChannels == 2;
}

bool PingPongDelayNode::process(AudioBus& inputBus, AudioBus& outputBus) noexcept {
  outputBus.copyFrom(inputBus);
  internals->run(inputBus, outputBus);
  return true;
}

}  // namespace quorvel::extensions::audioeffects

#include "quorvel/audioeffects/PingPongDelayNode.hpp"

#include <atomic>
#include <memory>
#include <string>

#include "BlockShape.hpp"
#include "DelayLength.hpp"
#include "DenormalScope.hpp"
#include "LineSample.hpp"
#include "quorvel/AudioBuffer.hpp"
#include "quorvel/QVAny.hpp"
#include "quorvel/Result.hpp"
#include "quorvel/SchemaVocabulary.hpp"

namespace quorvel::extensions::audioeffects {

namespace {

// Channel 0 runs on the left line, channel 1 on the right line.
constexpr unsigned int kLineCount = 2;

QVAnyMap floatProperty(const char* description, float defaultValue, float maxValue) {
  return QVAnyMap{{PROPERTY_FIELD_DESCRIPTION, QVAny(description)},
                  {PROPERTY_FIELD_TYPE, QVAny(PROPERTY_TYPE_FLOAT)},
                  {PROPERTY_FIELD_DEFAULT_VALUE, QVAny(defaultValue)},
                  {PROPERTY_FIELD_MIN_VALUE, QVAny(0.0f)},
                  {PROPERTY_FIELD_MAX_VALUE, QVAny(maxValue)},
                  {PROPERTY_FIELD_READ_ONLY, QVAny(false)}};
}

// The two cross-fed lines with the block's gains. Each call runs one
// channel of one frame at the shared index; the left channel goes first in
// every frame, so the right channel's cross read finds the left sample
// stored in this same frame, which is what sends a left impulse to both
// sides at once. Each own line is read before it is overwritten.
struct PingPongLines {
  void left(const float& in, float& out, unsigned int index) const noexcept {
    const float x = in;
    const float v = wetMix * leftLine[index] + dryMix * x;
    leftLine[index] = lineSample(feedbackLevel * rightLine[index] + x);
    out = v;
  }
  void right(const float& in, float& out, unsigned int index) const noexcept {
    const float x = in;
    const float v = wetMix * rightLine[index] + dryMix * x;
    rightLine[index] = lineSample(feedbackLevel * leftLine[index] + x);
    out = v;
  }

  float* leftLine;
  float* rightLine;
  float dryMix;
  float wetMix;
  float feedbackLevel;
};

}  // namespace

struct PingPongDelayNode::Internals {
  Internals()
      : leftBuffer(std::make_unique<float[]>(kDelayLineLength)),
        rightBuffer(std::make_unique<float[]>(kDelayLineLength)) {}
  // The left line goes first, then the right one, then the record.
  ~Internals() {
    leftBuffer.reset();
    rightBuffer.reset();
  }

  unsigned int lastDelayMs = 0;
  unsigned int delaySamples = 0;
  unsigned int lastSampleRate = 0;
  std::unique_ptr<float[]> leftBuffer;
  std::unique_ptr<float[]> rightBuffer;
  unsigned int readIndex = 0;
  unsigned int writeIndex = 0;
  std::atomic<bool> isEnabled{true};
  std::atomic<unsigned int> delayMs{200};
  std::atomic<float> dryMix{0.7f};
  std::atomic<float> wetMix{0.3f};
  std::atomic<float> feedbackLevel{0.2f};
};

PingPongDelayNode::PingPongDelayNode(const QVAnyMap& /*configuration*/)
    : SingleBusAudioProcessorNode(1, 1), internals(std::make_unique<Internals>()) {
  // Each property's schema is read back from this node type's own descriptor,
  // so the host sees exactly what the type publishes.
  const auto publish = [this](const std::string& name, QVAny::Getter getter, QVAny::Setter setter) {
    QVAny wrappedGetter(std::move(getter));
    QVAny wrappedSetter(std::move(setter));
    const QVAnyMap descriptor = getNodeTypeInfo().getProperty(name);
    registerProperty(name, descriptor, wrappedGetter, wrappedSetter);
  };
  publish(
      "enabled", [this] { return Result<QVAny>::success(QVAny(getIsEnabled())); },
      [this](const QVAny& value) {
        setIsEnabled(QVAny::convert<bool>(value));
        return Result<void>::success();
      });
  publish(
      "delayMs", [this] { return Result<QVAny>::success(QVAny(getDelayMs())); },
      [this](const QVAny& value) {
        setDelayMs(QVAny::convert<unsigned int>(value));
        return Result<void>::success();
      });
  publish(
      "dryMix", [this] { return Result<QVAny>::success(QVAny(getDryMix())); },
      [this](const QVAny& value) {
        setDryMix(QVAny::convert<float>(value));
        return Result<void>::success();
      });
  publish(
      "wetMix", [this] { return Result<QVAny>::success(QVAny(getWetMix())); },
      [this](const QVAny& value) {
        setWetMix(QVAny::convert<float>(value));
        return Result<void>::success();
      });
  publish(
      "feedbackLevel", [this] { return Result<QVAny>::success(QVAny(getFeedbackLevel())); },
      [this](const QVAny& value) {
        setFeedbackLevel(QVAny::convert<float>(value));
        return Result<void>::success();
      });
}

PingPongDelayNode::~PingPongDelayNode() = default;

NodeTypeInfo PingPongDelayNode::getNodeTypeInfo() {
  NodeTypeInfo info;
  info.type = "AudioEffects";
  info.subtype = "PingPongDelay";
  info.displayName = "Ping Pong Delay";
  info.description = "Applies a ping pong delay effect to the input audio signal.";
  info.categories = {NODE_CATEGORY_AUDIO_PROCESSING, NODE_CATEGORY_EFFECTS};
  const QVAnyMap enabled{
      {PROPERTY_FIELD_DESCRIPTION, QVAny("Enable or disable the ping-pong delay effect.")},
      {PROPERTY_FIELD_TYPE, QVAny(PROPERTY_TYPE_BOOLEAN)},
      {PROPERTY_FIELD_READ_ONLY, QVAny(false)},
      {PROPERTY_FIELD_DEFAULT_VALUE, QVAny(true)}};
  const QVAnyMap delayMs{{PROPERTY_FIELD_DESCRIPTION, QVAny("The delay time in milliseconds.")},
                         {PROPERTY_FIELD_TYPE, QVAny(PROPERTY_TYPE_INT)},
                         {PROPERTY_FIELD_DEFAULT_VALUE, QVAny(200)},
                         {PROPERTY_FIELD_MIN_VALUE, QVAny(1)},
                         {PROPERTY_FIELD_MAX_VALUE, QVAny(1000)},
                         {PROPERTY_FIELD_READ_ONLY, QVAny(false)}};
  info.properties = QVAnyMap{
      {"enabled", QVAny(enabled)},
      {"delayMs", QVAny(delayMs)},
      {"dryMix", QVAny(floatProperty("Level of the dry signal. 0 means no dry signal, 1 means "
                                     "maximum dry signal.",
                                     0.7f, 1.0f))},
      {"wetMix", QVAny(floatProperty("Level of the wet signal. 0 means no wet signal, 1 means "
                                     "maximum wet signal.",
                                     0.3f, 1.0f))},
      {"feedbackLevel", QVAny(floatProperty("The feedback level of the delay. 0 means no "
                                            "feedback, 1 means maximum feedback.",
                                            0.2f, 0.99f))}};
  return info;
}

bool PingPongDelayNode::getIsEnabled() const noexcept { return internals->isEnabled.load(); }
unsigned int PingPongDelayNode::getDelayMs() const noexcept { return internals->delayMs.load(); }
float PingPongDelayNode::getDryMix() const noexcept { return internals->dryMix.load(); }
float PingPongDelayNode::getWetMix() const noexcept { return internals->wetMix.load(); }
float PingPongDelayNode::getFeedbackLevel() const noexcept {
  return internals->feedbackLevel.load();
}

void PingPongDelayNode::setIsEnabled(bool isEnabled) noexcept {
  internals->isEnabled.exchange(isEnabled);
}
void PingPongDelayNode::setDelayMs(unsigned int delayMs) noexcept {
  internals->delayMs.exchange(delayMs);
}
void PingPongDelayNode::setDryMix(float dryMix) noexcept { internals->dryMix.exchange(dryMix); }
void PingPongDelayNode::setWetMix(float wetMix) noexcept { internals->wetMix.exchange(wetMix); }
void PingPongDelayNode::setFeedbackLevel(float feedbackLevel) noexcept {
  internals->feedbackLevel.exchange(feedbackLevel);
}

bool PingPongDelayNode::setBusFormat(AudioBusFormat& inputFormat, AudioBusFormat& outputFormat) {
  if (!AudioBusFormat::matchBusFormats(inputFormat, outputFormat)) return false;
  return inputFormat.numberOfChannels == kLineCount;
}

bool PingPongDelayNode::process(AudioBus& inputBus, AudioBus& outputBus) noexcept {
  outputBus.copyFrom(inputBus);
  const AudioBuffer<float>& input = inputBus.getBuffer();
  AudioBuffer<float>& output = outputBus.getBuffer();
  Internals& s = *internals;

  const bool isEnabled = s.isEnabled.load();
  const unsigned int delayMs = s.delayMs.load();
  if (!isEnabled || delayMs == 0) return true;
  // Decaying tails must not fall into slow subnormal arithmetic.
  const DenormalScope flushDenormals;

  const unsigned int sampleRate = input.getSampleRate();
  // A new rate or delay time changes only the ring length: the lines keep
  // their contents and the indices their values, so the tail carries on.
  if (sampleRate != s.lastSampleRate || delayMs != s.lastDelayMs) {
    s.lastSampleRate = sampleRate;
    s.delaySamples = delayInSamples(sampleRate, delayMs);
    s.lastDelayMs = delayMs;
  }

  const float dryMix = s.dryMix.load();
  const float wetMix = s.wetMix.load();
  const float feedbackLevel = s.feedbackLevel.load();

  const BlockShape shape = processableShape(input, output, kLineCount);
  if (shape.frames == 0) return true;

  // Both indices start at 0 and advance by the same rule, so they are always
  // equal: one index serves both and is stored back into both.
  PingPongLines lines{s.leftBuffer.get(), s.rightBuffer.get(), dryMix, wetMix, feedbackLevel};
  const float* const inLeft = shape.channels > 0 ? input.getChannel(0) : nullptr;
  const float* const inRight = shape.channels > 1 ? input.getChannel(1) : nullptr;
  float* const outLeft = shape.channels > 0 ? output.getChannel(0) : nullptr;
  float* const outRight = shape.channels > 1 ? output.getChannel(1) : nullptr;
  const unsigned int length = s.delaySamples;
  unsigned int index = s.readIndex;
  // After a ring is shortened the old, larger index serves the first frame
  // of the block and is then folded by the new length (at most
  // kDelayLineLength, so it always stays inside the lines); from then on it
  // lies below the length and folds by a compare.
  if (shape.channels > 0) lines.left(inLeft[0], outLeft[0], index);
  if (shape.channels > 1) lines.right(inRight[0], outRight[0], index);
  index = (index + 1) % length;
  if (shape.channels == 2) {
    for (unsigned int f = 1; f < shape.frames; ++f) {
      lines.left(inLeft[f], outLeft[f], index);
      lines.right(inRight[f], outRight[f], index);
      if (++index == length) index = 0;
    }
  } else if (shape.channels == 1) {
    for (unsigned int f = 1; f < shape.frames; ++f) {
      lines.left(inLeft[f], outLeft[f], index);
      if (++index == length) index = 0;
    }
  } else {
    for (unsigned int f = 1; f < shape.frames; ++f) {
      if (++index == length) index = 0;
    }
  }
  s.readIndex = index;
  s.writeIndex = index;
  return true;
}

}  // namespace quorvel::extensions::audioeffects

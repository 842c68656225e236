#include "quorvel/audioeffects/DelayNode.hpp"

#include <atomic>
#include <utility>
#include <vector>

#include "BlockShape.hpp"
#include "DelayLength.hpp"
#include "DenormalScope.hpp"
#include "LineSample.hpp"
#include "quorvel/AudioBuffer.hpp"
#include "quorvel/SchemaVocabulary.hpp"
#include "quorvel/audio/CircularBuffer.hpp"

namespace quorvel::extensions::audioeffects {

namespace {

// One channel's delay line and spans while a block runs, held in locals so
// that the positions stay in registers.
struct EchoLane {
  explicit EchoLane(audio::CircularBuffer& line, const float* in, float* out) noexcept
      : samples(line.data()),
        read(line.getReadPointer()),
        write(line.getWritePointer()),
        in(in),
        out(out) {}

  // One sample of frame f: read before write, so the delayed sample is the
  // one stored D frames ago.
  void step(unsigned int f, float dryMix, float wetMix, float feedbackLevel) noexcept {
    const float x = in[f];
    const float y = samples[read];
    samples[write] = lineSample(y * feedbackLevel + x);
    if (++write == kSize) write = 0;
    if (++read == kSize) read = 0;
    out[f] = dryMix * x + wetMix * y;
  }

  void storeInto(audio::CircularBuffer& line) const noexcept {
    line.setReadPointer(read);
    line.setWritePointer(write);
  }

  // Every line of the node has this length: a constant frees a register.
  static constexpr int kSize = static_cast<int>(kDelayLineLength);
  float* samples;
  int read;
  int write;
  const float* in;
  float* out;
};

}  // namespace

struct DelayNode::Internals {
  explicit Internals(unsigned int numChannels) : numChannels(numChannels) {
    buffers.reserve(numChannels);
    for (unsigned int i = 0; i < numChannels; ++i) {
      audio::CircularBuffer line(static_cast<int>(kDelayLineLength));
      buffers.push_back(std::move(line));
    }
  }

  unsigned int numChannels;
  std::atomic<bool> isEnabled{true};
  std::atomic<float> dryMix{0.7f};
  std::atomic<float> wetMix{0.3f};
  std::atomic<unsigned int> delayMs{200};
  std::atomic<float> feedbackLevel{0.2f};
  unsigned int lastDelayMs = 0;
  unsigned int lastSampleRate = 0;
  unsigned int lastChannels = 0;
  std::vector<audio::CircularBuffer> buffers;
};

DelayNode::DelayNode(unsigned int numChannels)
    : SingleBusAudioProcessorNode(1, 1), internals(std::make_unique<Internals>(numChannels)) {}

DelayNode::~DelayNode() = default;

NodeTypeInfo DelayNode::getNodeTypeInfo() {
  NodeTypeInfo info;
  info.type = "AudioEffects";
  info.subtype = "Delay";
  info.displayName = "Delay";
  info.description = "Applies a delay effect to the input audio signal.";
  info.categories = {NODE_CATEGORY_AUDIO_PROCESSING, NODE_CATEGORY_EFFECTS};
  return info;
}

bool DelayNode::getIsEnabled() const noexcept { return internals->isEnabled.load(); }
float DelayNode::getDryMix() const noexcept { return internals->dryMix.load(); }
float DelayNode::getWetMix() const noexcept { return internals->wetMix.load(); }
unsigned int DelayNode::getDelayMs() const noexcept { return internals->delayMs.load(); }
float DelayNode::getFeedbackLevel() const noexcept { return internals->feedbackLevel.load(); }

void DelayNode::setIsEnabled(bool isEnabled) noexcept { internals->isEnabled.exchange(isEnabled); }
void DelayNode::setDryMix(float dryMix) noexcept { internals->dryMix.exchange(dryMix); }
void DelayNode::setWetMix(float wetMix) noexcept { internals->wetMix.exchange(wetMix); }
void DelayNode::setDelayMs(unsigned int delayMs) noexcept { internals->delayMs.exchange(delayMs); }
void DelayNode::setFeedbackLevel(float feedbackLevel) noexcept {
  internals->feedbackLevel.exchange(feedbackLevel);
}

bool DelayNode::setBusFormat(AudioBusFormat& inputFormat, AudioBusFormat& outputFormat) {
  if (!AudioBusFormat::matchBusFormats(inputFormat, outputFormat)) return false;
  return inputFormat.numberOfChannels <= internals->numChannels;
}

bool DelayNode::process(AudioBus& inputBus, AudioBus& outputBus) noexcept {
  outputBus.copyFrom(inputBus);
  const AudioBuffer<float>& input = inputBus.getBuffer();
  AudioBuffer<float>& output = outputBus.getBuffer();
  Internals& s = *internals;

  const unsigned int sampleRate = input.getSampleRate();
  const unsigned int channels = input.getNumberOfChannels();
  const unsigned int delayMs = s.delayMs.load();
  if (delayMs == 0 || !s.isEnabled.load()) return true;
  // Decaying tails must not fall into slow subnormal arithmetic.
  const DenormalScope flushDenormals;

  // A new rate or channel layout makes the stored echoes meaningless: clear
  // them. A reset also rewinds the read heads onto the write heads, so the
  // delay has to be placed again even when the rate and delay time are unchanged.
  const unsigned int previousRate = s.lastSampleRate;
  bool placeReadPointers = sampleRate != previousRate || delayMs != s.lastDelayMs;
  if (channels != s.lastChannels || sampleRate != s.lastSampleRate) {
    for (audio::CircularBuffer& line : s.buffers) line.reset();
    s.lastSampleRate = sampleRate;
    s.lastChannels = channels;
    placeReadPointers = true;
  }
  if (placeReadPointers) {
    // Only the read heads move: the echo tail already in the lines comes out
    // at the new distance. A distance of a full line folds onto the write
    // head, which reads the sample written one line length earlier.
    const int delay = static_cast<int>(delayInSamples(sampleRate, delayMs));
    for (audio::CircularBuffer& line : s.buffers) {
      line.setReadPointer(line.getWritePointer() - delay);
    }
    s.lastDelayMs = delayMs;
  }

  const BlockShape shape = processableShape(input, output, s.numChannels);
  if (shape.frames == 0 || shape.channels == 0) return true;

  // Mono and stereo, the formats the node accepts, run on lanes; the gains
  // are read for every sample, so a change reaches the very next one.
  if (shape.channels <= 2) {
    EchoLane first(s.buffers[0], input.getChannel(0), output.getChannel(0));
    if (shape.channels == 1) {
      for (unsigned int f = 0; f < shape.frames; ++f) {
        first.step(f, s.dryMix.load(), s.wetMix.load(), s.feedbackLevel.load());
      }
    } else {
      EchoLane second(s.buffers[1], input.getChannel(1), output.getChannel(1));
      for (unsigned int f = 0; f < shape.frames; ++f) {
        first.step(f, s.dryMix.load(), s.wetMix.load(), s.feedbackLevel.load());
        second.step(f, s.dryMix.load(), s.wetMix.load(), s.feedbackLevel.load());
      }
      second.storeInto(s.buffers[1]);
    }
    first.storeInto(s.buffers[0]);
    return true;
  }
  for (unsigned int f = 0; f < shape.frames; ++f) {
    for (unsigned int c = 0; c < shape.channels; ++c) {
      audio::CircularBuffer& line = s.buffers[c];
      const float dryMix = s.dryMix.load();
      const float wetMix = s.wetMix.load();
      const float feedbackLevel = s.feedbackLevel.load();
      const float x = input.getSample(c, f);
      // Read before write: the delayed sample is the one stored D frames ago.
      const float y = line.readSample();
      line.writeSample(lineSample(y * feedbackLevel + x));
      line.stepWritePointer(1);
      line.stepReadPointer(1);
      output.setSample(c, f, dryMix * x + wetMix * y);
    }
  }
  return true;
}

}  // namespace quorvel::extensions::audioeffects

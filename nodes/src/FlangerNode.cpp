#include "quorvel/audioeffects/FlangerNode.hpp"

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

#include "BlockShape.hpp"
#include "DenormalScope.hpp"
#include "LineSample.hpp"
#include "SweepKernel.hpp"
#include "SweptDelay.hpp"
#include "quorvel/AudioBuffer.hpp"
#include "quorvel/audio/CircularBuffer.hpp"
#include "quorvel/audio/LFO.hpp"

namespace quorvel::extensions::audioeffects {

namespace {

// The fixed part of the flanger delay, in samples: the sweep starts just
// behind the input, where the comb notches are widest apart.
constexpr float kFixedDelay = 2.0f;

}  // namespace

struct FlangerNode::Internals {
  explicit Internals(unsigned int numChannels)
      : numChannels(numChannels), sweeps(swept::kChunkFrames * numChannels) {
    buffers.reserve(numChannels);
    lfos.reserve(numChannels);
    for (unsigned int i = 0; i < numChannels; ++i) {
      swept::appendQuadratureChannel(buffers, lfos, i, 0.4f);
    }
  }

  unsigned int numChannels;
  std::vector<std::unique_ptr<audio::LFO>> lfos;
  std::vector<audio::CircularBuffer> buffers;
  unsigned int lastSampleRate = 0;
  unsigned int lastChannels = 0;
  std::atomic<bool> isEnabled{true};
  std::atomic<float> sweepWidth{0.005f};
  // Gain of the delayed copy in the output; fixed for the node's life.
  float mix = 0.8f;
  // Gain of the delayed copy fed back into the line; below 1, so every
  // recirculation decays. Fixed for the node's life.
  float feedback = 0.6f;
  // Swept delays of one chunk, kChunkFrames per channel, channel 0 first.
  std::vector<float> sweeps;
};

FlangerNode::FlangerNode(unsigned int numChannels)
    : SingleBusAudioProcessorNode(1, 1), internals(std::make_unique<Internals>(numChannels)) {}

FlangerNode::~FlangerNode() = default;

NodeTypeInfo FlangerNode::getNodeTypeInfo() {
  return swept::effectTypeInfo("Flanger", "Applies a flanger effect to the input audio signal.");
}

bool FlangerNode::getIsEnabled() const noexcept { return internals->isEnabled.load(); }
float FlangerNode::getSweepWidth() const noexcept { return internals->sweepWidth.load(); }
float FlangerNode::getFrequency() const noexcept {
  return internals->lfos.empty() ? 0.0f : internals->lfos.front()->getFrequency();
}

void FlangerNode::setIsEnabled(bool isEnabled) noexcept { internals->isEnabled.store(isEnabled); }
void FlangerNode::setSweepWidth(float sweepWidth) noexcept {
  internals->sweepWidth.store(sweepWidth);
}
void FlangerNode::setFrequency(float frequency) noexcept {
  for (const std::unique_ptr<audio::LFO>& lfo : internals->lfos) lfo->setFrequency(frequency);
}

bool FlangerNode::setBusFormat(AudioBusFormat& inputFormat, AudioBusFormat& outputFormat) {
  return swept::acceptsFormats(inputFormat, outputFormat);
}

bool FlangerNode::process(AudioBus& inputBus, AudioBus& outputBus) noexcept {
  outputBus.copyFrom(inputBus);
  Internals& s = *internals;
  if (!s.isEnabled.load()) return true;
  // Decaying tails must not fall into slow subnormal arithmetic.
  const DenormalScope flushDenormals;

  const AudioBuffer<float>& input = inputBus.getBuffer();
  AudioBuffer<float>& output = outputBus.getBuffer();
  const unsigned int sampleRate = input.getSampleRate();
  swept::clearOnFormatChange(s.buffers, s.lastSampleRate, s.lastChannels, sampleRate,
                             input.getNumberOfChannels());

  const BlockShape shape = processableShape(input, output, s.numChannels);
  if (shape.frames == 0 || shape.channels == 0) return true;

  const int lfoRate = static_cast<int>(sampleRate);
  const float rate = static_cast<float>(sampleRate);
  const float mix = s.mix;
  const float feedback = s.feedback;
  for (unsigned int start = 0; start < shape.frames; start += swept::kChunkFrames) {
    const unsigned int count = std::min(swept::kChunkFrames, shape.frames - start);
    // Oscillators first, then the delay lines.
    swept::sweepChunk(s.lfos, s.sweepWidth, shape.channels, count, lfoRate, rate, s.sweeps.data());
    // Then each delay line through the chunk: read before writing, so the
    // shortest delay is kFixedDelay samples even when the sweep is at 0.
    for (unsigned int c = 0; c < shape.channels; ++c) {
      audio::CircularBuffer& line = s.buffers[c];
      float* const samples = line.data();
      const int size = line.getSize();
      const float length = static_cast<float>(size);
      const float* const d = s.sweeps.data() + c * swept::kChunkFrames;
      const float* const in = input.getChannel(c) + start;
      float* const out = output.getChannel(c) + start;
      int w = line.getWritePointer();
      for (unsigned int f = 0; f < count; ++f) {
        const float x = in[f];
        const float y = swept::interpolateLine(
            samples, size, swept::sweptReadPosition(w, d[f], kFixedDelay, length));
        samples[w] = lineSample(x + feedback * y);
        if (++w == size) w = 0;
        out[f] = x + mix * y;
      }
      line.setWritePointer(w);
    }
  }
  return true;
}

}  // namespace quorvel::extensions::audioeffects

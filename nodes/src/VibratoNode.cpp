#include "quorvel/audioeffects/VibratoNode.hpp"

#include <algorithm>
#include <array>
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

// The fixed part of the vibrato delay, in samples: since each sample is
// written before the read, this keeps the read off the sample just written,
// so the shallowest point of the sweep is the previous input sample.
constexpr float kFixedDelay = 1.0f;

}  // namespace

struct VibratoNode::Internals {
  explicit Internals(unsigned int numChannels) : numChannels(numChannels) {
    buffers.reserve(numChannels);
    for (unsigned int i = 0; i < numChannels; ++i) {
      buffers.push_back(audio::CircularBuffer(swept::kLineLength));
    }
    lfo.setFrequency(4.0f);
    lfo.setAmplitude(0.5f);
    lfo.setOffset(0.5f);
  }

  unsigned int numChannels;
  // One oscillator for all channels keeps their pitch bends in step.
  audio::LFO lfo;
  std::vector<audio::CircularBuffer> buffers;
  unsigned int lastSampleRate = 0;
  unsigned int lastChannels = 0;
  std::atomic<bool> isEnabled{true};
  std::atomic<float> sweepWidth{0.01f};
};

VibratoNode::VibratoNode(unsigned int numChannels)
    : SingleBusAudioProcessorNode(1, 1), internals(std::make_unique<Internals>(numChannels)) {}

VibratoNode::~VibratoNode() = default;

NodeTypeInfo VibratoNode::getNodeTypeInfo() {
  return swept::effectTypeInfo("Vibrato", "Applies a vibrato effect to the input audio signal.");
}

bool VibratoNode::getIsEnabled() const noexcept { return internals->isEnabled.load(); }
float VibratoNode::getSweepWidth() const noexcept { return internals->sweepWidth.load(); }
float VibratoNode::getFrequency() const noexcept { return internals->lfo.getFrequency(); }

void VibratoNode::setIsEnabled(bool isEnabled) noexcept { internals->isEnabled.store(isEnabled); }
void VibratoNode::setSweepWidth(float sweepWidth) noexcept {
  internals->sweepWidth.store(sweepWidth);
}
void VibratoNode::setFrequency(float frequency) noexcept { internals->lfo.setFrequency(frequency); }

bool VibratoNode::setBusFormat(AudioBusFormat& inputFormat, AudioBusFormat& outputFormat) {
  return swept::acceptsFormats(inputFormat, outputFormat);
}

bool VibratoNode::process(AudioBus& inputBus, AudioBus& outputBus) noexcept {
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

  // A block without channels still runs the frame loop: the oscillator keeps
  // time with the stream, so the sweep does not jump when channels return.
  const BlockShape shape = processableShape(input, output, s.numChannels);
  if (shape.frames == 0) return true;

  const int lfoRate = static_cast<int>(sampleRate);
  const float rate = static_cast<float>(sampleRate);
  std::array<float, swept::kChunkFrames> d;
  for (unsigned int start = 0; start < shape.frames; start += swept::kChunkFrames) {
    const unsigned int count = std::min(swept::kChunkFrames, shape.frames - start);
    // The oscillator first, once per frame for all channels; sweepWidth is
    // read once per frame.
    for (unsigned int f = 0; f < count; ++f) {
      d[f] = swept::sweptDelay(s.lfo.process(lfoRate), s.sweepWidth.load(), rate);
    }
    for (unsigned int c = 0; c < shape.channels; ++c) {
      audio::CircularBuffer& line = s.buffers[c];
      float* const samples = line.data();
      const int size = line.getSize();
      const float length = static_cast<float>(size);
      const float* const in = input.getChannel(c) + start;
      float* const out = output.getChannel(c) + start;
      int w = line.getWritePointer();
      // Write before reading: at the shallowest point of the sweep the
      // output is the previous input sample exactly.
      if (swept::sweepStaysBehind(d.data(), count, kFixedDelay, length)) {
        // No read of the chunk reaches what the chunk writes after that
        // read's own frame: all writes first, then all reads.
        const int first = w;
        for (unsigned int f = 0; f < count; ++f) {
          samples[w] = lineSample(in[f]);
          if (++w == size) w = 0;
        }
        swept::interpolateSweep(samples, size, first, d.data(), kFixedDelay, out, count);
      } else {
        for (unsigned int f = 0; f < count; ++f) {
          samples[w] = lineSample(in[f]);
          const float y = swept::interpolateLine(
              samples, size, swept::sweptReadPosition(w, d[f], kFixedDelay, length));
          if (++w == size) w = 0;
          out[f] = y;
        }
      }
      line.setWritePointer(w);
    }
  }
  return true;
}

}  // namespace quorvel::extensions::audioeffects

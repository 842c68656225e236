#pragma once

#include <atomic>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "SweepKernel.hpp"
#include "quorvel/AudioBusFormat.hpp"
#include "quorvel/NodeTypeInfo.hpp"
#include "quorvel/SchemaVocabulary.hpp"
#include "quorvel/audio/CircularBuffer.hpp"
#include "quorvel/audio/LFO.hpp"

// Pieces shared by the effects that read their delay lines at an
// oscillator-swept, fractional position (chorus, flanger, vibrato). Each node
// keeps its own per-sample loop; these helpers hold the parts whose
// arithmetic is identical across the three.
namespace quorvel::extensions::audioeffects::swept {

// Length of every swept delay line in samples: one second at 48 kHz, at any
// sample rate; never resized.
constexpr int kLineLength = 48000;

// A quarter cycle in radians: neighbouring channels' oscillators start this
// far apart so that a stereo pair sweeps in quadrature.
constexpr double kQuarterCycle = 1.5707963267948966;

// The descriptor of a swept-delay effect type: display name equal to the
// subtype, filed under audio processing and effects, no schemas.
inline NodeTypeInfo effectTypeInfo(const std::string& subtype, const std::string& description) {
  NodeTypeInfo info;
  info.type = "AudioEffects";
  info.subtype = subtype;
  info.displayName = subtype;
  info.description = description;
  info.categories = {NODE_CATEGORY_AUDIO_PROCESSING, NODE_CATEGORY_EFFECTS};
  return info;
}

// The bus-format rule of the swept effects: formats the host accepts as a
// pair, with at most two input channels.
inline bool acceptsFormats(const AudioBusFormat& input, const AudioBusFormat& output) noexcept {
  if (!AudioBusFormat::matchBusFormats(input, output)) return false;
  return input.numberOfChannels <= 2;
}

// Appends channel `index`'s zeroed delay line and its oscillator, set to
// sweep between 0 and 1 at `frequency` Hz, `index` quarter cycles ahead of
// channel 0.
inline void appendQuadratureChannel(std::vector<audio::CircularBuffer>& lines,
                                    std::vector<std::unique_ptr<audio::LFO>>& lfos,
                                    unsigned int index, float frequency) {
  lines.push_back(audio::CircularBuffer(kLineLength));
  lfos.push_back(std::make_unique<audio::LFO>());
  audio::LFO& lfo = *lfos.back();
  lfo.setFrequency(frequency);
  lfo.setAmplitude(0.5f);
  lfo.setOffset(0.5f);
  lfo.setPhaseOffset(static_cast<float>(index * kQuarterCycle));
}

// On a change of sample rate or channel count, clears every delay line (old
// audio would otherwise be replayed at the wrong rate or on the wrong
// channel) and remembers the new format. Oscillators keep their phases.
inline void clearOnFormatChange(std::vector<audio::CircularBuffer>& lines,
                                unsigned int& lastSampleRate, unsigned int& lastChannels,
                                unsigned int sampleRate, unsigned int channels) noexcept {
  if (sampleRate == lastSampleRate && channels == lastChannels) return;
  for (audio::CircularBuffer& line : lines) line.reset();
  lastSampleRate = sampleRate;
  lastChannels = channels;
}

// The swept part of the delay in samples for oscillator value `sweep`: the
// sweep width in seconds scaled by the oscillator, then by the sample rate.
// A non-finite result (non-finite or overflowing width) would make the read
// position meaningless, so that sample keeps only the fixed part of the delay.
inline float sweptDelay(float sweep, float sweepWidth, float sampleRate) noexcept {
  const float d = (sweep * sweepWidth) * sampleRate;
  return std::isfinite(d) ? d : 0.0f;
}

// Steps every channel's oscillator through the `count` frames of a chunk,
// frame by frame and channel by channel as they run in real time, and stores
// channel c's swept delay of frame f at sweeps[c * kChunkFrames + f]. The
// sweep width is read for every value, so a change reaches the next sample.
inline void sweepChunk(std::vector<std::unique_ptr<audio::LFO>>& lfos,
                       const std::atomic<float>& sweepWidth, unsigned int channels,
                       unsigned int count, int lfoRate, float rate, float* sweeps) noexcept {
  for (unsigned int f = 0; f < count; ++f) {
    for (unsigned int c = 0; c < channels; ++c) {
      const float v = lfos[c]->process(lfoRate);
      sweeps[c * kChunkFrames + f] = sweptDelay(v, sweepWidth.load(), rate);
    }
  }
}

// The fractional read position `fixedDelay` + `d` samples behind `line`'s
// write position, reduced into (-length, length); the line's interpolated
// read wraps what remains.
inline float readPosition(const audio::CircularBuffer& line, float d, float fixedDelay) noexcept {
  const float length = static_cast<float>(line.getSize());
  const float write = static_cast<float>(line.getWritePointer());
  return std::fmod(((write - d) - fixedDelay) + length, length);
}

}  // namespace quorvel::extensions::audioeffects::swept

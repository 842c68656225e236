#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "quorvel/audio/CircularBuffer.hpp"
#include "quorvel/audio/Effect.hpp"
#include "quorvel/audio/Export.hpp"
#include "quorvel/audio/LFO.hpp"

namespace quorvel::audio {

// An effect that reads each channel's delay line at a fixed delay plus an
// oscillator-swept, fractional extra delay: the chorus, the flanger and the
// vibrato are this one processor with different designs. The swept part is
// (v x sweepWidth) x sampleRate samples for an oscillator value v in [0, 1].
class QUORVEL_DSP_API SweptDelay : public Effect {
 public:
  // What tells the swept effects apart.
  struct Design {
    const EffectInfo* info;
    ParameterTable (*parameters)() noexcept;
    // Fixed part of the delay, in samples at every rate.
    float fixedDelay;
    // The input is written before the line is read (vibrato), so the
    // shallowest point of the sweep is the previous input sample; otherwise
    // the read comes first.
    bool writeBeforeRead;
    // One oscillator for all channels, its sweep width read once per frame
    // (vibrato); otherwise one oscillator per channel, each a quarter cycle
    // ahead of the one before, the width read for every sample.
    bool sharedOscillator;
    // The output adds the delayed signal to the input (chorus, flanger);
    // otherwise it is the delayed signal alone.
    bool dryInOutput;
    // Gain of the delayed signal in the output, when the input is in it.
    float mix;
    // The line stores the input plus this share of the delayed signal
    // (flanger); otherwise the input alone.
    bool feedsBack;
    float feedback;
    // Initial oscillator frequency in Hz and sweep width in seconds.
    float frequency;
    float sweepWidth;
  };

  // The longest sweep width in seconds whose reads stay behind the write
  // position of a line at `sampleRate` Hz, for a fixed delay of `fixedDelay`.
  static double maxSweepWidth(float fixedDelay, unsigned int sampleRate) noexcept;

  // True while the effect runs; false bypasses it.
  bool getIsEnabled() const noexcept { return isEnabled.load(); }
  // Largest swept delay in seconds.
  float getSweepWidth() const noexcept { return sweepWidth.load(); }
  // Sweep frequency in Hz of the first oscillator; 0 without any.
  float getFrequency() const noexcept;

  // Turns the effect on or bypasses it, from the next block on.
  void setIsEnabled(bool value) noexcept { isEnabled.store(value); }
  // Any float; read once per run of at most 256 frames, so it reaches the next block.
  void setSweepWidth(float seconds) noexcept { sweepWidth.store(seconds); }
  // Every oscillator's frequency in Hz, any float, channel 0 first; phases are kept.
  void setFrequency(float hz) noexcept;

  const Design& design() const noexcept { return *shape; }

  const EffectInfo& info() const noexcept override { return *shape->info; }
  ParameterTable parameters() const noexcept override { return shape->parameters(); }
  bool isBypassed() const noexcept override { return !getIsEnabled(); }
  double latencySamples(unsigned int sampleRate) const noexcept override;
  double tailSamples(unsigned int sampleRate, double level) const noexcept override;

  unsigned int getNumChannels() const noexcept override { return numChannels; }
  // A new sample rate or channel count clears every line; oscillators keep their phases.
  void prepare(unsigned int sampleRate, unsigned int channels) noexcept override;
  void reset() noexcept override;
  void process(const float* const* in, float* const* out, unsigned int channels,
               unsigned int frames) noexcept override;

 protected:
  // A swept delay of design `design` (which must outlive it) with state for
  // `channels` channels.
  SweptDelay(const Design& design, unsigned int channels);

 private:
  void sweep(unsigned int channels, unsigned int count) noexcept;
  template <bool kWriteFirst, bool kFeedback, bool kDry>
  void runLine(unsigned int channel, const float* in, float* out, unsigned int count) noexcept;

  const Design* shape;
  unsigned int numChannels;
  std::vector<std::unique_ptr<LFO>> lfos;
  std::vector<CircularBuffer> buffers;
  unsigned int sampleRate = 0;
  unsigned int blockChannels = 0;
  unsigned int lastSampleRate = 0;
  unsigned int lastChannels = 0;
  std::atomic<bool> isEnabled{true};
  std::atomic<float> sweepWidth;
  // Per chunk: the swept delays of each oscillator (one row per channel, or
  // one row in all).
  std::vector<float> sweeps;
  // Per row of `sweeps`: whether every delay of the chunk lies where the line
  // kernel takes it.
  std::vector<unsigned char> rowsWithin;
};

}  // namespace quorvel::audio
